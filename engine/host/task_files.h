#pragma once

#include "progress_file.h"

#include <string>

namespace dlengine {

// The save folder of one task, its ".td" data file and its ".td.cfg" progress record. Every
// file is reached through the folder's descriptor, never through a symbolic link, so whatever
// the engine writes lies inside that folder. Each file is held under an open-file write lock
// while open: it excludes every other writer, another task of this process as much as another
// process, and it stays with the open file (a copy of the descriptor keeps it alive) until the
// last descriptor of it is closed.
class TaskFiles {
public:
    TaskFiles() = default;
    ~TaskFiles() { Close(); }
    TaskFiles(const TaskFiles&) = delete;
    TaskFiles& operator=(const TaskFiles&) = delete;

    // Opens `folder` (absolute) and stem + ".td" in it, created when missing, and locks it;
    // false with errno set: EBUSY when another writer holds it.
    bool Open(const std::string& folder, const std::string& stem);
    bool IsOpen() const { return m_data >= 0; }
    int DataFd() const { return m_data; }
    int FolderFd() const { return m_folder; }
    const std::string& Stem() const { return m_stem; }

    // Reads and locks the progress record; false when it is missing, locked or not intact.
    bool LoadProgress(Progress* progress);
    // Takes over the locked descriptor of a record just written (WriteProgressRecord); the
    // one held before is closed.
    void AdoptProgress(int fd);
    // Deletes the progress record.
    void RemoveProgress();
    void Close();

private:
    std::string m_stem;
    int m_folder = -1;
    int m_data = -1;
    int m_progress = -1;
};

// Opens `name` in the folder `dirFd` read-write (with `extraFlags`, e.g. O_CREAT), never
// through a symbolic link, and locks it without waiting; -1 with errno set (EBUSY when
// another writer holds it).
int OpenLockedAt(int dirFd, const std::string& name, int extraFlags);

// Writes the record of `stem` in the folder `dirFd` whole to a temporary name, flushes it,
// and renames it over the old record: a crash leaves the old record or the new one, never half
// of either. Gives the locked descriptor of the new record, or -1.
int WriteProgressRecord(int dirFd, const std::string& stem, const Progress& progress);

} // namespace dlengine
