#include "download/unpack.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unzip.h>

#include <atomic>
#include <cerrno>
#include <ctime>
#include <filesystem>
#include <optional>
#include <vector>

namespace pandrel {

namespace {

// Owns one file descriptor.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    ~Descriptor() { Reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    Descriptor(Descriptor&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    Descriptor& operator=(Descriptor&& other) noexcept {
        if (this != &other) {
            Reset();
            m_fd = other.m_fd;
            other.m_fd = -1;
        }
        return *this;
    }
    int Get() const { return m_fd; }
    bool Valid() const { return m_fd >= 0; }
    // Closes now and reports whether the close succeeded (a late write error shows here).
    bool Close() {
        const int fd = m_fd;
        m_fd = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    void Reset() {
        if (m_fd >= 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    int m_fd;
};

// Owns an open archive.
class Archive {
public:
    explicit Archive(const Text& path) : m_file(unzOpen64(path.c_str())) {}
    ~Archive() {
        if (m_file != nullptr) {
            unzClose(m_file);
        }
    }
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;
    unzFile Get() const { return m_file; }

private:
    unzFile m_file;
};

constexpr unsigned char kLocalHeaderSignature[] = {0x50, 0x4B, 0x03, 0x04};

bool StartsWithLocalHeader(const Text& path) {
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    unsigned char head[4] = {};
    return fd.Valid() && ::read(fd.Get(), head, sizeof head) == sizeof head &&
           std::equal(std::begin(head), std::end(head), std::begin(kLocalHeaderSignature));
}

// The member name's path components, or nothing when the name could lead outside the target.
// Empty and "." components are dropped; a trailing "/" marks a directory member.
std::optional<std::vector<Text>> SafeComponents(const Text& name) {
    if (name.empty() || name.front() == '/') {
        return std::nullopt;
    }
    std::vector<Text> parts;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find('/', start);
        if (end == Text::npos) {
            end = name.size();
        }
        Text part = name.substr(start, end - start);
        if (part == "..") {
            return std::nullopt;
        }
        if (!part.empty() && part != ".") {
            parts.push_back(std::move(part));
        }
        start = end + 1;
    }
    return parts;
}

// Opens (creating when missing) the directory `name` inside `parent`, never following a
// symbolic link, so that a link planted in the target cannot redirect a member elsewhere.
Descriptor OpenSubdirectory(int parent, const Text& name) {
    if (::mkdirat(parent, name.c_str(), 0755) != 0 && errno != EEXIST) {
        return Descriptor();
    }
    return Descriptor(
        ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

// Walks `count` leading components down from the target, creating what is missing.
Descriptor OpenDirectoryPath(int target, const std::vector<Text>& parts, std::size_t count) {
    Descriptor current(::fcntl(target, F_DUPFD_CLOEXEC, 0));
    for (std::size_t i = 0; i < count && current.Valid(); ++i) {
        current = OpenSubdirectory(current.Get(), parts[i]);
    }
    return current;
}

// The mode a member is created with: 0777 for a program (any execute bit in the archive),
// else 0666, less the umask, as for any file the user's programs make. The archive's own bits
// are the builder's umask, not the user's.
mode_t MemberCreationMode(const unz_file_info64& info) {
    constexpr unsigned long kMadeByUnix = 3;
    const bool executable =
        (info.version >> 8) == kMadeByUnix && ((info.external_fa >> 16) & 0111) != 0;
    return executable ? 0777 : 0666;
}

// A released file stays writable and readable by its owner whatever the umask, so that the next
// start can replace it.
bool KeepOwnerAccess(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        return false;
    }
    const mode_t owner = S_IRUSR | S_IWUSR;
    return (info.st_mode & owner) == owner || ::fchmod(fd, (info.st_mode & 07777) | owner) == 0;
}

timespec MemberTime(const unz_file_info64& info) {
    std::tm parts{};
    parts.tm_year = static_cast<int>(info.tmu_date.tm_year) - 1900;
    parts.tm_mon = static_cast<int>(info.tmu_date.tm_mon);
    parts.tm_mday = static_cast<int>(info.tmu_date.tm_mday);
    parts.tm_hour = static_cast<int>(info.tmu_date.tm_hour);
    parts.tm_min = static_cast<int>(info.tmu_date.tm_min);
    parts.tm_sec = static_cast<int>(info.tmu_date.tm_sec);
    parts.tm_isdst = -1;
    return timespec{std::mktime(&parts), 0};
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// Inflates the current member into `fd`; false on a read error or a checksum mismatch.
bool CopyCurrentMember(unzFile archive, int fd) {
    if (unzOpenCurrentFile(archive) != UNZ_OK) {
        return false;
    }
    std::vector<char> chunk(64 * 1024);
    bool good = true;
    for (;;) {
        const int got =
            unzReadCurrentFile(archive, chunk.data(), static_cast<unsigned>(chunk.size()));
        if (got == 0) {
            break;
        }
        if (got < 0 || !WriteAll(fd, chunk.data(), static_cast<std::size_t>(got))) {
            good = false;
            break;
        }
    }
    // Closing reports a CRC mismatch once the whole member has been read.
    return unzCloseCurrentFile(archive) == UNZ_OK && good;
}

Text TemporaryName(const Text& leaf) {
    static std::atomic<unsigned> counter{0};
    return "." + leaf + ".unpack-" + std::to_string(::getpid()) + "-" +
           std::to_string(counter.fetch_add(1));
}

// A file member: written whole under a temporary name, then renamed over the old file.
bool WriteFileMember(unzFile archive, const unz_file_info64& info, int directory,
                     const Text& leaf) {
    struct stat existing {};
    if (::fstatat(directory, leaf.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
        const bool readOnly = S_ISREG(existing.st_mode) && (existing.st_mode & S_IWUSR) == 0;
        if (S_ISDIR(existing.st_mode) || readOnly) {
            return false;
        }
    }
    const Text temporary = TemporaryName(leaf);
    Descriptor fd(::openat(directory, temporary.c_str(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                           MemberCreationMode(info)));
    if (!fd.Valid()) {
        return false;
    }
    const timespec stamp = MemberTime(info);
    const timespec times[2] = {stamp, stamp};
    bool good = CopyCurrentMember(archive, fd.Get()) && KeepOwnerAccess(fd.Get()) &&
                ::futimens(fd.Get(), times) == 0;
    good = fd.Close() && good;
    good = good && ::renameat(directory, temporary.c_str(), directory, leaf.c_str()) == 0;
    if (!good) {
        ::unlinkat(directory, temporary.c_str(), 0);
    }
    return good;
}

bool WriteMember(unzFile archive, int target) {
    unz_file_info64 info{};
    if (unzGetCurrentFileInfo64(archive, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) {
        return false;
    }
    Text name(info.size_filename, '\0');
    if (unzGetCurrentFileInfo64(archive, &info, name.data(), static_cast<uLong>(name.size()),
                                nullptr, 0, nullptr, 0) != UNZ_OK) {
        return false;
    }
    const std::optional<std::vector<Text>> parts = SafeComponents(name);
    if (!parts.has_value() || name.find('\0') != Text::npos) {
        return false;
    }
    if (name.back() == '/') {
        return OpenDirectoryPath(target, *parts, parts->size()).Valid();
    }
    if (parts->empty()) {
        return false;
    }
    const Descriptor directory = OpenDirectoryPath(target, *parts, parts->size() - 1);
    return directory.Valid() && WriteFileMember(archive, info, directory.Get(), parts->back());
}

} // namespace

int UnpackArchive(const Text& archivePath, const Text& targetDir, const UnpackProgress& progress) {
    struct stat archiveStat {};
    if (archivePath.empty() || targetDir.empty() ||
        ::stat(archivePath.c_str(), &archiveStat) != 0) {
        return -1;
    }
    if (!StartsWithLocalHeader(archivePath)) {
        return 0;
    }
    std::error_code error;
    std::filesystem::create_directories(targetDir, error);
    const Descriptor target(::open(targetDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!target.Valid()) {
        return 0;
    }
    const Archive archive(archivePath);
    unz_global_info64 global{};
    if (archive.Get() == nullptr || unzGetGlobalInfo64(archive.Get(), &global) != UNZ_OK) {
        return 0;
    }
    int status = unzGoToFirstFile(archive.Get());
    for (ZPOS64_T done = 0; status == UNZ_OK; status = unzGoToNextFile(archive.Get())) {
        if (!WriteMember(archive.Get(), target.Get())) {
            return 0;
        }
        ++done;
        if (progress) {
            progress(static_cast<int>(done * 100 / std::max<ZPOS64_T>(global.number_entry, 1)));
        }
    }
    return status == UNZ_END_OF_LIST_OF_FILE ? 1 : 0;
}

} // namespace pandrel
