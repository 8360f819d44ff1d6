#include "task_files.h"

#include "dlengine_files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace dlengine {
namespace {

constexpr int64_t kLeastMargin = int64_t{64} << 20;
constexpr int64_t kMarginPercent = 1;

} // namespace

int OpenLockedAt(int dirFd, const std::string& name, int extraFlags, mode_t mode) {
    // Non-blocking, so that a FIFO planted under the name cannot hold the host up; a regular
    // file ignores the flag.
    const int fd =
        openat(dirFd, name.c_str(),
               O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | extraFlags, mode);
    if (fd < 0) {
        return -1;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1) {
        const bool linked = S_ISREG(st.st_mode) && st.st_nlink > 1;
        close(fd);
        errno = linked ? EMLINK : EISDIR;
        return -1;
    }
    // An open-file lock, unlike a process lock, also stops a second task of this process.
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (fcntl(fd, F_OFD_SETLK, &lock) != 0) {
        close(fd);
        errno = EBUSY;
        return -1;
    }
    return fd;
}

bool IsSameFileAt(int dirFd, const std::string& name, int fd) {
    struct stat named {};
    struct stat open {};
    return fstatat(dirFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           fstat(fd, &open) == 0 && S_ISREG(named.st_mode) && named.st_dev == open.st_dev &&
           named.st_ino == open.st_ino;
}

bool HasRoomFor(int fd, int64_t size, int64_t held) {
    struct statvfs vfs {};
    if (fstatvfs(fd, &vfs) != 0) {
        return true; // no figures to go by: the writes themselves will tell
    }
    const auto bytes =
        [unit = std::max<int64_t>(static_cast<int64_t>(vfs.f_frsize), 1)](fsblkcnt_t count) {
            const auto n = static_cast<int64_t>(std::min<fsblkcnt_t>(count, INT64_MAX));
            return n > INT64_MAX / unit ? INT64_MAX : n * unit;
        };
    const int64_t margin = std::max(kLeastMargin, bytes(vfs.f_blocks) / 100 * kMarginPercent);
    held = std::max<int64_t>(held, 0);
    const int64_t free = std::min(bytes(vfs.f_bavail), INT64_MAX - held) + held;
    // Compared by subtraction: a claimed size near INT64_MAX must not overflow.
    return size >= 0 && size <= free - margin;
}

bool TaskFiles::Open(const std::string& folder, const std::string& stem) {
    Close();
    m_stem = stem;
    m_folder = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_folder < 0) {
        return false;
    }
    m_data = OpenLockedAt(m_folder, stem + kDataSuffix, O_CREAT);
    if (m_data < 0) {
        const int error = errno;
        Close();
        errno = error;
        return false;
    }
    return true;
}

bool TaskFiles::LoadProgress(Progress* progress) {
    if (m_progress < 0) {
        m_progress = OpenLockedAt(m_folder, m_stem + kProgressSuffix, 0);
        if (m_progress < 0) {
            return false;
        }
    }
    std::string bytes;
    char buffer[8192];
    off_t offset = 0;
    while (bytes.size() < (1 << 21)) {
        const ssize_t got = pread(m_progress, buffer, sizeof buffer, offset);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        bytes.append(buffer, static_cast<size_t>(got));
        offset += got;
    }
    return DecodeProgress(bytes, progress);
}

int WriteProgressRecord(int dirFd, const std::string& stem, const Progress& progress) {
    const std::string temp = stem + kProgressTempSuffix;
    // A leftover of a crash, or anything planted under the name, goes (a link itself, never
    // what it points to); the record is then written to a file of its own making.
    unlinkat(dirFd, temp.c_str(), 0);
    const int fd = OpenLockedAt(dirFd, temp, O_CREAT | O_EXCL, 0600);
    if (fd < 0) {
        return -1;
    }
    const std::string bytes = EncodeProgress(progress);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (done != bytes.size() || fdatasync(fd) != 0 || !IsSameFileAt(dirFd, temp, fd) ||
        renameat(dirFd, temp.c_str(), dirFd, (stem + kProgressSuffix).c_str()) != 0) {
        close(fd);
        unlinkat(dirFd, temp.c_str(), 0);
        return -1;
    }
    return fd;
}

void TaskFiles::AdoptProgress(int fd) {
    if (m_progress >= 0) {
        close(m_progress);
    }
    m_progress = fd;
}

void TaskFiles::RemoveProgress() {
    if (m_folder >= 0) {
        unlinkat(m_folder, (m_stem + kProgressSuffix).c_str(), 0);
    }
    if (m_progress >= 0) {
        close(m_progress);
        m_progress = -1;
    }
}

void TaskFiles::RemoveDataAndClose() {
    const std::string name = m_stem + kDataSuffix;
    if (m_data >= 0 && IsSameFileAt(m_folder, name, m_data)) {
        unlinkat(m_folder, name.c_str(), 0);
    }
    Close();
}

void TaskFiles::Close() {
    for (int* fd : {&m_progress, &m_data, &m_folder}) {
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    }
}

} // namespace dlengine
