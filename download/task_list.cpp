#include "download/task_list.h"

#include "download/download_worker.h"
#include "runtime/convert.h"
#include "runtime/ui/controls.h"
#include "runtime/ui/list_view.h"
#include "runtime/ui/ui_thread.h"
#include "share/listing.h"

namespace pandrel {

namespace {

enum class WalkFrom { FirstRow, AddedRow };

// The path of "下载该文件" for one row of 文件列表框: current file, task row, worker.
void DownloadFileRow(ProgramState& state, DownloadManager* downloads, int fileRow, WalkFrom from) {
    CurrentFile file;
    file.CurrentFileNumber = ToInt(GetCellText(kFileList, fileRow, kFileNumberColumn));
    file.CurrentFileName = GetCellText(kFileList, fileRow, kFileNameColumn);
    file.CurrentFileSize = GetCellText(kFileList, fileRow, kFileSizeColumn);
    const std::optional<FileEntry> entry = ListingRow(state.RecordText, file.CurrentFileNumber);
    if (!entry) {
        return;
    }
    file.CurrentFileUrl = entry->link;
    state.SetCurrentFile(file);
    const int taskRow = AddTaskRow(file);
    StartDownloadWorkerFrom(state, downloads, from == WalkFrom::AddedRow ? taskRow : 0);
}

} // namespace

void DownloadSelectedFile(ProgramState& state, DownloadManager* downloads) {
    AssertUiThread();
    const int selected = GetIntegerProperty(kFileList, Property::SelectedRow);
    if (selected == -1) {
        return;
    }
    DownloadFileRow(state, downloads, selected, WalkFrom::FirstRow);
}

void DownloadCheckedFiles(ProgramState& state, DownloadManager* downloads) {
    AssertUiThread();
    for (const int row : CheckedRows(kFileList)) {
        DownloadFileRow(state, downloads, row, WalkFrom::AddedRow);
    }
}

void ToggleAllFileChecks(ProgramState&) {
    AssertUiThread();
    ToggleAllChecks(kFileList);
}

int AddTaskRow(const CurrentFile& file) {
    const int row = InsertRow(kTaskList);
    SetCellText(kTaskList, row, kNameColumn, file.CurrentFileName);
    SetCellText(kTaskList, row, kSizeColumn, file.CurrentFileSize);
    SetCellText(kTaskList, row, kProgressColumn, "0.00 %");
    SetCellText(kTaskList, row, kSpeedColumn, "0 KB/S");
    SetCellText(kTaskList, row, kAmountColumn, "0.00/0.00 MB");
    return row;
}

} // namespace pandrel
