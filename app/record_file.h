#pragma once

#include "runtime/program_state.h"

namespace pandrel {

// The record file RunDir + "/test.txt" holds RecordText as UTF-8, nothing else: no header,
// no byte-order mark; an empty listing is an empty file. It is reached through its folder's
// descriptor, never through a link, and only as a regular file.
Text RecordFilePath(const ProgramState& state);

// Writes RecordText whole: a new temporary file beside the record is written, flushed and
// renamed over it, so a crash leaves the old record or the new one. A new record is created
// 0666 less the umask; a replaced one keeps its mode. A link, FIFO or folder under the
// record's name is refused, never written through or replaced. A failure is not reported.
void SaveRecord(ProgramState& state);

// Reads the record into RecordText and counts its rows ("<tr>", any letter case) into
// RecordRowCount. A missing or unreadable file, anything but a regular file under its name (a
// link is not followed, a FIFO not waited on) and one past the listing's limits
// (share/listing.h) give an empty listing; the file stays as it is. Touches no control.
void LoadRecord(ProgramState& state);

// The start-up restore: LoadRecord, FillFileList, then 状态 reads "已读取上次记录" whatever
// was found.
void RestoreRecord(ProgramState& state);

} // namespace pandrel
