#include "file_names.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace dlengine {

bool IsSafeFileName(const std::string& name) {
    return !name.empty() && name.size() <= 255 && name != "." && name != ".." &&
           name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) {
        return name;
    }
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::string NumberedName(const std::string& name, int n) {
    const std::string suffix = "(" + std::to_string(n) + ")";
    const auto dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) {
        return name + suffix;
    }
    return name.substr(0, dot) + suffix + name.substr(dot);
}

std::string MoveIntoPlace(const std::string& from, const std::string& folder,
                          const std::string& name, bool replace) {
    if (replace) {
        return std::rename(from.c_str(), JoinPath(folder, name).c_str()) == 0 ? name
                                                                              : std::string();
    }
    for (int n = 0; n < 10000; ++n) {
        const std::string candidate = n == 0 ? name : NumberedName(name, n);
        if (candidate.size() > 255) {
            errno = ENAMETOOLONG;
            return {};
        }
        const std::string target = JoinPath(folder, candidate);
        if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
            return candidate;
        }
        if (errno == EINVAL || errno == ENOSYS) {
            // No atomic no-replace on this file system: a hard link fails when the name is
            // taken, which gives the same guarantee.
            if (link(from.c_str(), target.c_str()) == 0) {
                unlink(from.c_str());
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
