#include "download/task_list.h"

#include "download/download_worker.h"
#include "runtime/convert.h"
#include "runtime/ui/controls.h"
#include "runtime/ui/list_view.h"
#include "runtime/ui/ui_thread.h"
#include "share/listing.h"

namespace pandrel {

void DownloadSelectedFile(ProgramState& state, DownloadManager* downloads) {
    AssertUiThread();
    const int selected = GetIntegerProperty(kFileList, Property::SelectedRow);
    if (selected == -1) {
        return;
    }
    CurrentFile file;
    file.CurrentFileNumber = ToInt(GetCellText(kFileList, selected, kFileNumberColumn));
    file.CurrentFileName = GetCellText(kFileList, selected, kFileNameColumn);
    file.CurrentFileSize = GetCellText(kFileList, selected, kFileSizeColumn);
    const std::optional<FileEntry> entry = ListingRow(state.RecordText, file.CurrentFileNumber);
    if (!entry) {
        return;
    }
    file.CurrentFileUrl = entry->link;
    state.SetCurrentFile(file);
    AddTaskRow(file);
    StartDownloadWorker(state, downloads);
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

bool IsSafeFileName(const Text& name) {
    return !name.empty() && name.size() <= 255 && name != "." && name != ".." &&
           name.find('/') == Text::npos && name.find('\0') == Text::npos;
}

} // namespace pandrel
