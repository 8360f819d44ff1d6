#include "task_files.h"

#include "dlengine_files.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dlengine {
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

void TaskFiles::Close() {
    for (int* fd : {&m_progress, &m_data, &m_folder}) {
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    }
}

} // namespace dlengine
