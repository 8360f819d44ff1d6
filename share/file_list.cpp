#include "share/file_list.h"

#include "runtime/control_names.h"
#include "runtime/convert.h"
#include "runtime/ui/clipboard.h"
#include "runtime/ui/controls.h"
#include "runtime/ui/list_view.h"
#include "runtime/ui/timed_message.h"
#include "runtime/ui/ui_thread.h"
#include "share/listing.h"

namespace pandrel {

void FillFileList(ProgramState& state) {
    AssertUiThread();
    const Array<FileEntry> entries = ListingRows(state.RecordText, state.RecordRowCount);
    std::vector<std::vector<Text>> rows;
    rows.reserve(static_cast<std::size_t>(entries.Count()));
    for (int i = 1; i <= entries.Count(); ++i) {
        const FileEntry& entry = entries[i];
        std::vector<Text>& cells = rows.emplace_back(4);
        cells[kFileNumberColumn] = ToText(std::int32_t{i});
        cells[kFileNameColumn] = entry.name;
        cells[kFileSizeColumn] = entry.size;
        cells[kFileLinkColumn] = entry.link;
    }
    AppendRows(kFileList, rows);
}

void CopySelectedLink(ProgramState& state) {
    AssertUiThread();
    const int selected = GetIntegerProperty(kFileList, Property::SelectedRow);
    if (selected == -1) {
        return;
    }
    const std::int32_t number = ToInt(GetCellText(kFileList, selected, kFileNumberColumn));
    const std::optional<FileEntry> entry = ListingRow(state.RecordText, number);
    if (!entry) {
        return;
    }
    CurrentFile file;
    file.CurrentFileNumber = number;
    file.CurrentFileName = GetCellText(kFileList, selected, kFileNameColumn);
    file.CurrentFileSize = GetCellText(kFileList, selected, kFileSizeColumn);
    file.CurrentFileUrl = entry->link;
    SetClipboardText(file.CurrentFileUrl);
    state.SetCurrentFile(file);
    ShowTimedMessage("已复制");
    SetProperty(kStatusLine, Property::Caption, "已复制!");
}

} // namespace pandrel
