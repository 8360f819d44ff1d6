#include "app/record_file.h"

#include "runtime/encoding.h"
#include "runtime/files.h"
#include "runtime/text.h"
#include "runtime/ui/controls.h"
#include "share/file_list.h"

namespace pandrel {

Text RecordFilePath(const ProgramState& state) {
    return state.RunDir + "/test.txt";
}

void SaveRecord(ProgramState& state) {
    WriteFileAtomically(RecordFilePath(state), TextToUtf8(state.RecordText));
}

void LoadRecord(ProgramState& state) {
    state.RecordText = Utf8ToText(ReadFile(RecordFilePath(state)));
    state.RecordRowCount = CountOccurrences(state.RecordText, "<tr>");
}

void RestoreRecord(ProgramState& state) {
    LoadRecord(state);
    FillFileList(state);
    SetProperty("状态", Property::Caption, "已读取上次记录");
}

} // namespace pandrel
