#include "disk_flusher.h"

#include "dlengine_files.h"
#include "file_names.h"
#include "task_files.h"

#include <cerrno>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dlengine {
namespace {

std::pair<dev_t, ino_t> FileId(int fd) {
    struct stat st {};
    fstat(fd, &st);
    return {st.st_dev, st.st_ino};
}

} // namespace

DiskFlusher::DiskFlusher() : m_wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    m_thread = std::thread([this] { Run(); });
}

DiskFlusher::~DiskFlusher() {
    {
        std::lock_guard lock(m_mutex);
        m_ending = true;
    }
    m_changed.notify_all();
    m_thread.join();
    for (FlushResult& r : m_results) {
        if (r.recordFd >= 0) {
            close(r.recordFd);
        }
    }
    if (m_wake >= 0) {
        close(m_wake);
    }
}

void DiskFlusher::Post(FlushJob job) {
    m_loop.Assert();
    {
        std::lock_guard lock(m_mutex);
        m_held.insert(FileId(job.dataFd));
        m_jobs.push_back(std::move(job));
    }
    m_changed.notify_all();
}

std::vector<FlushResult> DiskFlusher::TakeResults() {
    m_loop.Assert();
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t drained = read(m_wake, &count, sizeof count);
    std::lock_guard lock(m_mutex);
    return std::exchange(m_results, {});
}

bool DiskFlusher::Holds(dev_t device, ino_t inode) const {
    m_loop.Assert();
    std::lock_guard lock(m_mutex);
    return m_held.count({device, inode}) > 0;
}

void DiskFlusher::Run() {
    std::unique_lock lock(m_mutex);
    while (true) {
        m_changed.wait(lock, [this] { return m_ending || !m_jobs.empty(); });
        if (m_jobs.empty()) {
            return; // ending, with nothing left to do
        }
        FlushJob job = std::move(m_jobs.front());
        m_jobs.pop_front();
        lock.unlock();
        const auto id = FileId(job.dataFd);
        FlushResult result = Execute(job);
        close(job.dataFd);
        close(job.folderFd);
        lock.lock();
        m_held.erase(m_held.find(id));
        m_results.push_back(std::move(result));
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t signalled = write(m_wake, &one, sizeof one);
    }
}

FlushResult DiskFlusher::Execute(FlushJob& job) {
    FlushResult result;
    result.handle = job.handle;
    result.completing = job.finalName.has_value();
    if (fdatasync(job.dataFd) != 0) {
        result.ok = false;
        result.error = errno;
        return result;
    }
    if (job.record) {
        std::lock_guard lock(job.guard->mutex);
        if (job.guard->epoch == job.epoch) {
            result.recordFd = WriteProgressRecord(job.folderFd, job.stem, *job.record);
        }
    }
    if (!job.finalName) {
        return result;
    }
    // The final name is taken in the folder the task was given, by its descriptor: the file
    // cannot end up anywhere else, whatever that folder's path names by now. Only the file the
    // task wrote takes it: should the working name hold another file by now (put there by
    // anyone who can write the folder), nothing is renamed.
    const std::string working = job.stem + kDataSuffix;
    if (!IsSameFileAt(job.folderFd, working, job.dataFd)) {
        result.ok = false;
        result.error = ESTALE;
        return result;
    }
    result.finalName = MoveIntoPlace(job.folderFd, working, *job.finalName, job.replace);
    if (result.finalName.empty()) {
        result.ok = false;
        result.error = errno;
        return result;
    }
    {
        std::lock_guard lock(job.guard->mutex);
        ++job.guard->epoch;
        unlinkat(job.folderFd, (job.stem + kProgressSuffix).c_str(), 0);
    }
    // The new name itself must survive a power cut.
    fsync(job.folderFd);
    return result;
}

} // namespace dlengine
