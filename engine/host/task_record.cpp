// A task's working files: opening and locking them, reserving the disk, and keeping the
// progress record, which the disk flusher writes once the bytes it claims are on disk.

#include "task.h"

#include "dlengine_files.h"
#include "file_names.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dlengine {

// Opens and locks the working files. False when the task cannot go on now: it failed, or a
// flush of an earlier run still holds the data file and the next tick tries again.
bool Task::OpenFiles() {
    m_waitingForFiles = false;
    if (m_files.Open(m_target.folder, m_target.stem)) {
        return true;
    }
    const int error = errno;
    if (error == EBUSY) {
        struct stat st {};
        const std::string path = JoinPath(m_target.folder, m_target.stem + kDataSuffix);
        if (lstat(path.c_str(), &st) == 0 && m_flusher.Holds(st.st_dev, st.st_ino)) {
            m_waitingForFiles = true;
            return false;
        }
        Fail(DL_FAIL_IN_USE); // another task writes this file: never touch its bytes
        return false;
    }
    Fail(error == ENAMETOOLONG ? DL_FAIL_FILENAME : DL_FAIL_DISK);
    return false;
}

// With the files open: resumes from the progress record when it fits the data file and may
// be used, else starts from byte 0. A resumed record is only a plan: no byte is fetched or
// kept until the server's first answer has confirmed its size and version.
void Task::BeginWithFiles() {
    Progress progress;
    struct stat st {};
    const bool resume = (m_target.resume || m_startedBefore) && m_files.LoadProgress(&progress) &&
                        fstat(m_files.DataFd(), &st) == 0 && st.st_size == progress.total &&
                        IsUsableRecord(progress);
    m_startedBefore = true;
    if (!resume) {
        StartOver();
        return;
    }
    m_mode = Mode::Ranged;
    m_recordForeign = progress.url != m_target.url;
    m_version.total = progress.total;
    m_version.etag = progress.etag;
    m_version.lastModified = progress.lastModified;
    m_segments.clear();
    for (const ByteRange& r : progress.missing) {
        m_segments.push_back(Segment{r.begin, r.end, 0});
    }
    if (m_segments.empty()) {
        // A record never finishes a download alone: the last byte is asked for again, and
        // only an answer that confirms the size and the version completes the file.
        m_segments.push_back(Segment{m_version.total - 1, m_version.total, 0});
    }
}

// A record of this very download (its link and name) serves once the server confirms its
// size; a record of another link, or of the first version (which kept no link), serves only
// with a validator the server's answer must then name. Share links are signed and expire, so
// a fresh link to the same file must still resume.
bool Task::IsUsableRecord(const Progress& progress) const {
    if (!progress.name.empty() && progress.name != m_target.name) {
        return false;
    }
    const bool sameLink = !progress.url.empty() && progress.url == m_target.url;
    return sameLink ||
           FileVersion{progress.total, progress.etag, progress.lastModified}.CanBeNamed();
}

// Reserves the whole file on disk, but only a size the disk can hold with its margin kept: a
// server's claim alone must never fill the disk. Nothing is written yet, so a refused or
// failed reservation leaves the file empty, without a reserved block.
bool Task::Preallocate(int64_t total) {
    const int fd = m_files.DataFd();
    struct stat st {};
    const int64_t held = fstat(fd, &st) == 0 ? static_cast<int64_t>(st.st_blocks) * 512 : 0;
    if (!HasRoomFor(fd, total, held)) {
        return false;
    }
    m_creatingFile = true;
    // Drop old contents first so that a longer leftover file does not keep its tail.
    bool ok =
        ftruncate(fd, 0) == 0 && posix_fallocate(fd, 0, total) == 0 && ftruncate(fd, total) == 0;
    if (!ok) {
        [[maybe_unused]] const int dropped = ftruncate(fd, 0);
    }
    m_creatingFile = false;
    return ok;
}

// Every few MiB written, the flusher is asked to put them on disk (and to record them) while
// the download goes on; when it is still busy with the last request, the kernel is at least
// asked to start writing them out.
void Task::StartWriteBack(size_t written) {
    if (!m_saves.WriteBackDue(static_cast<int64_t>(written))) {
        return;
    }
    if (!m_saves.InFlight()) {
        RequestFlush(false);
    } else {
        sync_file_range(m_files.DataFd(), 0, 0, SYNC_FILE_RANGE_WRITE);
    }
}

// Hands the flusher copies of the file descriptors: the data is flushed off this thread, then
// the progress record is written (or, completing, the file takes its name).
void Task::RequestFlush(bool completing) {
    FlushJob job;
    job.handle = m_handle;
    job.dataFd = fcntl(m_files.DataFd(), F_DUPFD_CLOEXEC, 0);
    job.folderFd = fcntl(m_files.FolderFd(), F_DUPFD_CLOEXEC, 0);
    if (job.dataFd < 0 || job.folderFd < 0) {
        for (int fd : {job.dataFd, job.folderFd}) {
            if (fd >= 0) {
                close(fd);
            }
        }
        if (completing) {
            Fail(DL_FAIL_DISK);
        }
        return;
    }
    job.stem = m_target.stem;
    job.guard = m_guard;
    {
        std::lock_guard lock(m_guard->mutex);
        job.epoch = m_guard->epoch;
    }
    if (completing) {
        job.finalName = m_target.name;
        job.replace = m_target.replace;
    } else if (m_mode == Mode::Ranged && m_version.total > 0 && m_verified) {
        // Until the server has confirmed a loaded record, the record on disk stays as it was:
        // no byte was kept meanwhile, and it must not be bound to this link unconfirmed.
        job.record = CurrentProgress();
    }
    m_saves.Posted(Clock::now());
    m_flusher.Post(std::move(job));
}

void Task::OnFlushed(FlushResult& result) {
    m_loop.Assert();
    m_saves.Returned();
    if (result.recordFd >= 0) {
        if (m_files.IsOpen()) {
            m_files.AdoptProgress(result.recordFd);
        } else {
            close(result.recordFd);
        }
        result.recordFd = -1;
    }
    if (result.completing && m_completing) {
        m_completing = false;
        if (!result.ok && result.error == ESTALE) {
            // Another file was put under the working name: the bytes written are out of
            // reach, and the record would describe a file that is no longer there.
            std::lock_guard lock(m_guard->mutex);
            ++m_guard->epoch;
            m_files.RemoveProgress();
            m_files.Close();
        }
        if (!result.ok) {
            Fail(DL_FAIL_DISK);
            return;
        }
        m_files.Close();
        m_finalName = result.finalName;
        m_state = State::Finished;
    } else if (!result.ok && m_state == State::Running && !m_completing) {
        Fail(DL_FAIL_DISK); // the disk refused bytes already counted as written
    }
}

Progress Task::CurrentProgress() const {
    Progress p;
    p.total = m_version.total;
    p.etag = m_version.etag;
    p.lastModified = m_version.lastModified;
    p.url = m_target.url;
    p.referer = m_target.referer;
    p.cookies = m_target.cookies;
    p.name = m_target.name;
    for (const Segment& s : m_segments) {
        if (s.pos < s.end) {
            p.missing.push_back(ByteRange{s.pos, s.end});
        }
    }
    return p;
}

} // namespace dlengine
