#pragma once

#include "progress_file.h"

#include <string>

namespace dlengine {

// The ".td" data file and the ".td.cfg" progress file of one task. Each is held under a
// whole-file write lock while open, so another process probing them sees them in use. A lock
// belongs to the process and goes with the first close of any descriptor of that file, so
// each file is opened exactly once here.
class TaskFiles {
public:
    TaskFiles() = default;
    ~TaskFiles() { Close(); }
    TaskFiles(const TaskFiles&) = delete;
    TaskFiles& operator=(const TaskFiles&) = delete;

    // Opens the data file (created when missing) and locks it; false with errno set
    // (EBUSY when another process holds it).
    bool OpenData(const std::string& dataPath, const std::string& progressPath);
    int DataFd() const { return m_data; }

    // Reads and locks the progress file; false when it is missing, locked or not intact.
    bool LoadProgress(Progress* progress);
    // Writes the whole record to a temporary name, locks it and renames it over the old one:
    // a crash leaves the old record or the new one, never half of either.
    bool SaveProgress(const Progress& progress);
    // Deletes the progress file.
    void RemoveProgress();
    // Flushes the data to disk.
    bool SyncData();
    void Close();

private:
    std::string m_dataPath;
    std::string m_progressPath;
    int m_data = -1;
    int m_progress = -1;
};

// Opens `path` read-write (creating it with `create`) and takes a whole-file write lock
// without waiting; -1 with errno set (EBUSY when locked elsewhere).
int OpenLocked(const std::string& path, bool create, bool truncate = false);

} // namespace dlengine
