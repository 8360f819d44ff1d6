#pragma once

#include "progress_file.h"

#include <cstdint>
#include <string>
#include <sys/types.h>

namespace dlengine {

// The save folder of one task, its ".td" data file and its ".td.cfg" progress record. Every
// file is reached through the folder's descriptor, never through a symbolic link, and only a
// regular file with no other name (no hard link planted to another file) is ever opened, so
// whatever the engine writes lies inside that folder. Each file is held under an open-file
// write lock while open: it excludes every other writer, another task of this process as much
// as another process, and it stays with the open file (a copy of the descriptor keeps it
// alive) until the last descriptor of it is closed.
class TaskFiles {
public:
    TaskFiles() = default;
    ~TaskFiles() { Close(); }
    TaskFiles(const TaskFiles&) = delete;
    TaskFiles& operator=(const TaskFiles&) = delete;

    // Opens `folder` (absolute) and stem + ".td" in it, created when missing, and locks it;
    // false with errno set: EBUSY when another writer holds it, ELOOP or EISDIR when the name
    // is taken by a link or anything but a plain regular file.
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
    // Deletes the data file, when its name still holds the file this task opened; then closes
    // everything.
    void RemoveDataAndClose();
    void Close();

private:
    std::string m_stem;
    int m_folder = -1;
    int m_data = -1;
    int m_progress = -1;
};

// Opens `name` in the folder `dirFd` read-write (with `extraFlags`, e.g. O_CREAT, and `mode`
// for a new file, less the umask), never through a symbolic link, and locks it without
// waiting; -1 with errno set: EBUSY when another writer holds it, ELOOP for a link, EISDIR for
// anything but a regular file, EMLINK for a file with another name besides this one.
int OpenLockedAt(int dirFd, const std::string& name, int extraFlags, mode_t mode = 0666);

// True when `name` in the folder `dirFd` is, right now, the very file open at `fd` (and not a
// link to it, nor a file put in its place since).
bool IsSameFileAt(int dirFd, const std::string& name, int fd);

// True when the file system of `fd` has room for `size` more bytes, besides the `held` bytes
// the file is about to give back, and still keeps its margin free: 1 % of its size, and never
// less than 64 MiB.
bool HasRoomFor(int fd, int64_t size, int64_t held);

// Writes the record of `stem` in the folder `dirFd` whole to a new temporary file (its own
// inode, readable by its owner only: the record keeps the download's cookies), flushes it, and
// renames it over the old record: a crash leaves the old record or the new one, never half of
// either. Gives the locked descriptor of the new record, or -1.
int WriteProgressRecord(int dirFd, const std::string& stem, const Progress& progress);

} // namespace dlengine
