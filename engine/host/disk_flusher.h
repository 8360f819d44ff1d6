#pragma once

#include "owning_thread.h"
#include "progress_file.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <sys/types.h>
#include <thread>
#include <utility>
#include <vector>

namespace dlengine {

// Orders a task's progress-record writes against its own starting over: a record of the old
// version must never land after the task has dropped it. The host loop raises `epoch` (under
// `mutex`) whenever it drops the record; a job writes its record only while the epoch it was
// made in still holds.
struct RecordGuard {
    std::mutex mutex;
    uint64_t epoch = 0;
};

// What to do with a task's files once every byte written so far is on disk.
struct FlushJob {
    int32_t handle = 0;
    // Copies of the task's descriptors, owned by the job: they keep the files (and the write
    // lock on the data file) alive while the job runs, whatever the task does meanwhile.
    int dataFd = -1;
    int folderFd = -1;
    std::string stem;
    std::shared_ptr<RecordGuard> guard;
    uint64_t epoch = 0;
    // Written after the data has reached the disk, so the record never claims a byte that a
    // power cut could still take away.
    std::optional<Progress> record;
    // Completing: the data file takes this name in its folder, and the record goes.
    std::optional<std::string> finalName;
    bool replace = true;
};

struct FlushResult {
    int32_t handle = 0;
    bool ok = true;    // the data reached the disk (and the file took its name)
    int error = 0;     // errno when not
    int recordFd = -1; // the locked descriptor of the record written; the receiver owns it
    bool completing = false;
    std::string finalName; // the name the file took
};

// One thread that flushes the downloads' data to disk, writes their progress records and
// gives finished files their names, so that the host's event loop never waits for the disk.
// Jobs run in the order they were posted. Post, TakeResults and Holds are called from the host
// loop; the results wait until taken, and WakeFd becomes readable when there are any.
class DiskFlusher {
public:
    DiskFlusher();
    // Runs every job still queued, then ends the thread.
    ~DiskFlusher();
    DiskFlusher(const DiskFlusher&) = delete;
    DiskFlusher& operator=(const DiskFlusher&) = delete;

    void Post(FlushJob job);
    std::vector<FlushResult> TakeResults();
    int WakeFd() const { return m_wake; }
    // True while a queued or running job keeps the file (device, inode) open.
    bool Holds(dev_t device, ino_t inode) const;

private:
    void Run();
    static FlushResult Execute(FlushJob& job);

    OwningThread m_loop; // the host loop, which made it
    int m_wake = -1;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<FlushJob> m_jobs;
    std::vector<FlushResult> m_results;
    std::multiset<std::pair<dev_t, ino_t>> m_held;
    bool m_ending = false;
    std::thread m_thread;
};

} // namespace dlengine
