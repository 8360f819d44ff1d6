#include "app/record_file.h"

#include "runtime/control_names.h"
#include "runtime/encoding.h"
#include "runtime/files.h"
#include "runtime/program_files.h"
#include "runtime/ui/controls.h"
#include "runtime/ui/ui_thread.h"
#include "share/file_list.h"
#include "share/listing.h"

namespace pandrel {

Text RecordFilePath(const ProgramState& state) {
    return RecordFilePathOf(state.RunDir);
}

void SaveRecord(ProgramState& state) {
    WriteFileAtomically(RecordFilePath(state), TextToUtf8(state.RecordText));
}

void LoadRecord(ProgramState& state) {
    // A record past the listing's limits is read as no record, and is left as it is on disk.
    const std::optional<Bytes> bytes = ReadFileUpTo(RecordFilePath(state), kMaxListingBytes);
    const Listing listing = bytes ? ListingOfRecord(Utf8ToText(*bytes)) : Listing{};
    state.RecordText = listing.text;
    state.RecordRowCount = listing.rowCount;
}

void RestoreRecord(ProgramState& state) {
    AssertUiThread();
    LoadRecord(state);
    FillFileList(state);
    SetProperty(kStatusLine, Property::Caption, "已读取上次记录");
}

} // namespace pandrel
