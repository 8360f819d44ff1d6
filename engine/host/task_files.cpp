#include "task_files.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dlengine {

int OpenLocked(const std::string& path, bool create, bool truncate) {
    int flags = O_RDWR | O_CLOEXEC;
    if (create) {
        flags |= O_CREAT;
    }
    if (truncate) {
        flags |= O_TRUNC;
    }
    // O_TRUNC is used only on the progress file's own temporary name, which nobody else opens.
    const int fd = open(path.c_str(), flags, 0644);
    if (fd < 0) {
        return -1;
    }
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (fcntl(fd, F_SETLK, &lock) != 0) {
        close(fd);
        errno = EBUSY;
        return -1;
    }
    return fd;
}

bool TaskFiles::OpenData(const std::string& dataPath, const std::string& progressPath) {
    Close();
    m_dataPath = dataPath;
    m_progressPath = progressPath;
    m_data = OpenLocked(dataPath, true);
    return m_data >= 0;
}

bool TaskFiles::LoadProgress(Progress* progress) {
    if (m_progress < 0) {
        m_progress = OpenLocked(m_progressPath, false);
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

bool TaskFiles::SaveProgress(const Progress& progress) {
    const std::string temp = m_progressPath + ".tmp";
    const int fd = OpenLocked(temp, true, true);
    if (fd < 0) {
        return false;
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
            close(fd);
            unlink(temp.c_str());
            return false;
        }
        done += static_cast<size_t>(n);
    }
    if (std::rename(temp.c_str(), m_progressPath.c_str()) != 0) {
        close(fd);
        unlink(temp.c_str());
        return false;
    }
    if (m_progress >= 0) {
        close(m_progress);
    }
    m_progress = fd;
    return true;
}

void TaskFiles::RemoveProgress() {
    if (!m_progressPath.empty()) {
        unlink(m_progressPath.c_str());
    }
    if (m_progress >= 0) {
        close(m_progress);
        m_progress = -1;
    }
}

bool TaskFiles::SyncData() {
    return m_data >= 0 && fdatasync(m_data) == 0;
}

void TaskFiles::Close() {
    if (m_progress >= 0) {
        close(m_progress);
        m_progress = -1;
    }
    if (m_data >= 0) {
        close(m_data);
        m_data = -1;
    }
}

} // namespace dlengine
