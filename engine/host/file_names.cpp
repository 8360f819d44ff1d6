#include "file_names.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace dlengine {
namespace {

constexpr size_t kMaxName = 255;

} // namespace

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) {
        return name;
    }
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::string NumberedName(const std::string& name, int n) {
    const std::string number = "(" + std::to_string(n) + ")";
    const auto dot = name.rfind('.');
    const bool hasExtension = dot != std::string::npos && dot != 0;
    std::string stem = hasExtension ? name.substr(0, dot) : name;
    const std::string extension = hasExtension ? name.substr(dot) : std::string();
    const size_t room = kMaxName - std::min(kMaxName, number.size() + extension.size());
    if (stem.size() > room) {
        size_t keep = room;
        while (keep > 0 && (static_cast<unsigned char>(stem[keep]) & 0xC0) == 0x80) {
            --keep;
        }
        if (keep == 0) {
            return {};
        }
        stem.resize(keep);
    }
    return stem + number + extension;
}

std::string MoveIntoPlace(int dirFd, const std::string& from, const std::string& name,
                          bool replace) {
    if (replace) {
        return renameat(dirFd, from.c_str(), dirFd, name.c_str()) == 0 ? name : std::string();
    }
    for (int n = 0; n < 10000; ++n) {
        const std::string candidate = n == 0 ? name : NumberedName(name, n);
        if (candidate.empty()) {
            errno = ENAMETOOLONG;
            return {};
        }
        if (renameat2(dirFd, from.c_str(), dirFd, candidate.c_str(), RENAME_NOREPLACE) == 0) {
            return candidate;
        }
        if (errno == EINVAL || errno == ENOSYS) {
            // No atomic no-replace on this file system: a hard link fails when the name is
            // taken, which gives the same guarantee.
            if (linkat(dirFd, from.c_str(), dirFd, candidate.c_str(), 0) == 0) {
                unlinkat(dirFd, from.c_str(), 0);
                return candidate;
            }
        }
        if (errno != EEXIST) {
            return {};
        }
    }
    errno = EEXIST;
    return {};
}

} // namespace dlengine
