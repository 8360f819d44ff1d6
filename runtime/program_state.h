#pragma once

#include <cstdint>
#include <mutex>
#include <optional>

#include "runtime/deployment.h"
#include "runtime/value_types.h"

namespace pandrel {

// The file the user last chose in the file list. Download workers read it whole from their
// own threads, so it is only ever handed out as a copy.
struct CurrentFile {
    std::int32_t CurrentFileNumber = 0;
    Text CurrentFileName;
    Text CurrentFileSize;
    Text CurrentFileUrl;
};

// The program-wide values. main owns one for the whole run and hands it to every handler;
// a test makes a fresh one. Everything but the current file belongs to the UI thread.
struct ProgramState {
    // The listing of the last parse or record load, as the page carried it and the record file
    // holds it, and the number of rows it claims. Its rows are read through share/listing.h.
    Text RecordText;
    std::int32_t RecordRowCount = 0;

    // The share link of the last parse and the text it came from.
    Text ShareId;
    Text ShareCode;
    Text ShareInputText;
    Text ParseRequestUrl;

    // The folder of the program's own files: the executable's folder, or the user's data
    // folder when the program may not write there; a temporary folder in tests. No trailing
    // slash.
    Text RunDir;
    // The executable's folder when it is not RunDir, else empty.
    Text ProgramDir;
    // Where start-up makes WorkDir when it is not RunDir + "/下载目录/", else empty.
    Text PlannedWorkDir;
    // WorkDir once start-up got that far, else empty.
    Text WorkDir;
    // RunDir + "/DownLoad/" once the engine's files are being released, else empty.
    Text EngineDir;

    Deployment deployment;

    // The clipboard text the clipboard watch saw at its last tick; none until its first tick
    // after the watch was switched on.
    std::optional<Text> WatchedClipboardText;

    CurrentFile Snapshot() const {
        std::lock_guard lock(m_currentFileMutex);
        return m_currentFile;
    }
    void SetCurrentFile(CurrentFile file) {
        std::lock_guard lock(m_currentFileMutex);
        m_currentFile = std::move(file);
    }
    void SetCurrentFileUrl(Text url) {
        std::lock_guard lock(m_currentFileMutex);
        m_currentFile.CurrentFileUrl = std::move(url);
    }

private:
    mutable std::mutex m_currentFileMutex;
    CurrentFile m_currentFile;
};

} // namespace pandrel
