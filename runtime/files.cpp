#include "runtime/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace pandrel {

namespace {

// Closes a descriptor on every path out of a function.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return m_fd; }
    void Reset(int fd) {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        m_fd = fd;
    }
    // Closes now and reports whether the close succeeded (a failed close can lose writes).
    bool Close() {
        int fd = m_fd;
        m_fd = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int m_fd;
};

bool WriteAll(int fd, const Bytes& buffer) {
    std::size_t done = 0;
    while (done < buffer.size()) {
        ssize_t n = ::write(fd, buffer.data() + done, buffer.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Only "*" and "?" are wildcards; other pattern characters of fnmatch match themselves.
Text EscapeForFnmatch(const Text& pattern) {
    Text out;
    for (char c : pattern) {
        if (c == '[' || c == ']' || c == '\\') {
            out += '\\';
        }
        out += c;
    }
    return out;
}

bool MatchesInDirectory(const Text& directory, const Text& pattern) {
    DIR* dir = ::opendir(directory.empty() ? "/" : directory.c_str());
    if (dir == nullptr) {
        return false;
    }
    Text escaped = EscapeForFnmatch(pattern);
    bool found = false;
    while (dirent* entry = ::readdir(dir)) {
        Text name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        if (::fnmatch(escaped.c_str(), name.c_str(), 0) == 0) {
            found = true;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

Text DirectoryOf(const Text& path) {
    std::size_t slash = path.rfind('/');
    return slash == Text::npos ? Text(".") : slash == 0 ? Text("/") : path.substr(0, slash);
}

Text LastComponentOf(const Text& path) {
    std::size_t slash = path.rfind('/');
    return slash == Text::npos ? path : path.substr(slash + 1);
}

} // namespace

Text RunDirectory() {
    char buffer[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof(buffer));
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof(buffer)) {
        return {};
    }
    Text exe(buffer, static_cast<std::size_t>(n));
    std::size_t slash = exe.rfind('/');
    if (slash == Text::npos) {
        return {};
    }
    return exe.substr(0, slash);
}

Text GetEnv(const Text& name) {
    const char* value = std::getenv(name.c_str());
    return value == nullptr ? Text() : Text(value);
}

bool FileExists(const Text& path) {
    if (path.empty()) {
        return false;
    }
    std::size_t slash = path.rfind('/');
    Text last = slash == Text::npos ? path : path.substr(slash + 1);
    if (last.find_first_of("*?") == Text::npos) {
        struct stat info {};
        return ::stat(path.c_str(), &info) == 0 || ::lstat(path.c_str(), &info) == 0;
    }
    return MatchesInDirectory(slash == Text::npos ? Text(".") : path.substr(0, slash), last);
}

Bytes ReadFile(const Text& path) {
    if (path.empty()) {
        return {};
    }
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0) {
        return {};
    }
    Bytes out;
    struct stat info {};
    if (::fstat(fd.Get(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
        out.reserve(static_cast<std::size_t>(info.st_size));
    }
    unsigned char chunk[65536];
    for (;;) {
        ssize_t n = ::read(fd.Get(), chunk, sizeof(chunk));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break; // end of file, or a short read that keeps what arrived
        }
        out.insert(out.end(), chunk, chunk + n);
    }
    return out;
}

std::optional<Bytes> ReadFileUpTo(const Text& path, std::size_t maxBytes) {
    if (path.empty()) {
        return Bytes();
    }
    // Without O_NONBLOCK, opening a pipe would wait for a writer.
    FileDescriptor fd(
        ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW));
    struct stat info {};
    if (fd.Get() < 0 || ::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return Bytes();
    }
    if (static_cast<std::size_t>(info.st_size) > maxBytes) {
        return std::nullopt;
    }
    Bytes out(static_cast<std::size_t>(info.st_size) + 1);
    std::size_t filled = 0;
    // The file may have grown since fstat: read until its end or one byte past the limit.
    for (;;) {
        if (filled == out.size()) {
            if (filled > maxBytes) {
                return std::nullopt;
            }
            out.resize(std::min(maxBytes + 1, out.size() * 2 + 1));
        }
        const ssize_t n = ::read(fd.Get(), out.data() + filled, out.size() - filled);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break; // end of file, or a short read that keeps what arrived
        }
        filled += static_cast<std::size_t>(n);
    }
    if (filled > maxBytes) {
        return std::nullopt;
    }
    out.resize(filled);
    return out;
}

bool WriteFile(const Text& path, std::initializer_list<Bytes> buffers) {
    if (path.empty()) {
        return false;
    }
    FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (fd.Get() < 0) {
        return false;
    }
    for (const Bytes& buffer : buffers) {
        if (!WriteAll(fd.Get(), buffer)) {
            return false;
        }
    }
    return fd.Close();
}

bool WriteFile(const Text& path, const Bytes& buffer) {
    return WriteFile(path, {buffer});
}

bool WriteFileAtomically(const Text& path, const Bytes& buffer) {
    if (path.empty() || path.back() == '/') {
        return false;
    }
    // Everything happens in the folder's descriptor, under names that are never followed.
    const FileDescriptor dir(::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const Text name = LastComponentOf(path);
    struct stat old {};
    const bool replacing = ::fstatat(dir.Get(), name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
    if (dir.Get() < 0 || (replacing && !S_ISREG(old.st_mode))) {
        return false;
    }
    // A file of its own (O_EXCL): nothing planted under the temporary name is reused. Created
    // 0666, the umask takes off what it takes off any new file.
    static std::atomic<unsigned> counter{0};
    Text temp;
    FileDescriptor fd(-1);
    for (int attempt = 0; attempt < 100 && fd.Get() < 0; ++attempt) {
        temp = name + "." + std::to_string(::getpid()) + "-" + std::to_string(counter++);
        fd.Reset(::openat(dir.Get(), temp.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (fd.Get() < 0 && errno != EEXIST) {
            return false;
        }
    }
    bool ok = fd.Get() >= 0 && (!replacing || ::fchmod(fd.Get(), old.st_mode & 07777) == 0) &&
              WriteAll(fd.Get(), buffer) && ::fsync(fd.Get()) == 0 && fd.Close() &&
              ::renameat(dir.Get(), temp.c_str(), dir.Get(), name.c_str()) == 0;
    if (!ok) {
        ::unlinkat(dir.Get(), temp.c_str(), 0);
        return false;
    }
    // The rename itself becomes durable with the folder.
    ::fsync(dir.Get());
    return true;
}

bool DeleteFile(const Text& path) {
    return !path.empty() && ::unlink(path.c_str()) == 0;
}

bool IsDirectory(const Text& path) {
    struct stat info {};
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool EnsureDirectory(const Text& path) {
    if (path.empty()) {
        return false;
    }
    if (IsDirectory(path)) {
        return true;
    }
    // Create each missing level from the top; a level that exists must be a directory.
    for (std::size_t at = path.find('/', 1);; at = path.find('/', at + 1)) {
        Text level = path.substr(0, at);
        if (!level.empty() && level.back() != '/' && !IsDirectory(level)) {
            if (::mkdir(level.c_str(), 0777) != 0 && !(errno == EEXIST && IsDirectory(level))) {
                return false;
            }
        }
        if (at == Text::npos) {
            break;
        }
    }
    return IsDirectory(path);
}

} // namespace pandrel
