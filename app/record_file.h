#pragma once

#include "runtime/program_state.h"

namespace pandrel {

// The record file RunDir + "/test.txt" holds RecordText as UTF-8, nothing else: no header,
// no byte-order mark; an empty listing is an empty file.
Text RecordFilePath(const ProgramState& state);

// Writes RecordText whole: a temporary file beside the record is written, flushed and renamed
// over it, so a crash leaves the old record or the new one. A failure is not reported.
void SaveRecord(ProgramState& state);

// Reads the record into RecordText and counts its rows ("<tr>", any letter case) into
// RecordRowCount. A missing or unreadable file, one that is not a regular file and one past
// the listing's limits (share/listing.h) give an empty listing; the file stays as it is.
// Touches no control.
void LoadRecord(ProgramState& state);

// The start-up restore: LoadRecord, FillFileList, then 状态 reads "已读取上次记录" whatever
// was found.
void RestoreRecord(ProgramState& state);

} // namespace pandrel
