#include "download/task_list.h"

#include "download/download_worker.h"
#include "runtime/convert.h"
#include "runtime/text.h"
#include "runtime/ui/controls.h"
#include "runtime/ui/list_view.h"

namespace pandrel {
namespace {

constexpr const char* kFileList = "文件列表框";

// The quoted value of the row's download anchor, without its quotes; empty when the anchor
// is missing or the value shorter than its two quotes.
Text LinkOfRow(const Text& row) {
    const Text quoted = TextBetween(row, "href=", ">点我下载");
    if (quoted.size() < 2) {
        return {};
    }
    return quoted.substr(1, quoted.size() - 2);
}

} // namespace

void DownloadSelectedFile(ProgramState& state) {
    const int selected = GetIntegerProperty(kFileList, Property::SelectedRow);
    if (selected == -1) {
        return;
    }
    CurrentFile file;
    file.CurrentFileNumber = ToInt(GetCellText(kFileList, selected, 0));
    file.CurrentFileName = GetCellText(kFileList, selected, 1);
    file.CurrentFileSize = GetCellText(kFileList, selected, 2);
    const Array<Text> pieces = SplitText(state.RecordText, "</tr>");
    if (file.CurrentFileNumber < 1 || file.CurrentFileNumber > pieces.Count()) {
        return;
    }
    file.CurrentFileUrl = LinkOfRow(pieces[file.CurrentFileNumber]);
    state.SetCurrentFile(file);
    AddTaskRow(file);
    StartDownloadWorker(state);
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
