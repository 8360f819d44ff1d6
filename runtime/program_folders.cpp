#include "runtime/program_folders.h"

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <sstream>

#include "runtime/files.h"
#include "runtime/program_files.h"

namespace pandrel {

namespace {

// The base-directory rules ignore a relative path in an XDG_* variable.
Text AbsoluteOr(const Text& path, const Text& fallback) {
    return !path.empty() && path.front() == '/' ? path : fallback;
}

Text WithoutTrailingSlashes(Text path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

// The program may write its own folder; as for the user who runs it, so a folder of another
// owner or on a read-only mount counts as not writable.
bool MayWrite(const Text& folder) {
    return !folder.empty() && ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

// The quoted value of a "NAME=\"...\"" line, with the backslash escapes of a shell string undone;
// empty when the line has another form.
Text QuotedValue(const Text& rest) {
    if (rest.size() < 2 || rest.front() != '"') {
        return {};
    }
    Text value;
    for (std::size_t i = 1; i < rest.size(); ++i) {
        const char c = rest[i];
        if (c == '"') {
            return value;
        }
        if (c == '\\' && i + 1 < rest.size()) {
            value += rest[++i];
        } else {
            value += c;
        }
    }
    return {}; // no closing quote
}

} // namespace

UserEnvironment UserEnvironmentOfThisProcess() {
    UserEnvironment user;
    user.home = GetEnv("HOME");
    if (user.home.empty()) {
        if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir) {
            user.home = entry->pw_dir;
        }
    }
    user.dataHome = GetEnv("XDG_DATA_HOME");
    user.configHome = GetEnv("XDG_CONFIG_HOME");
    return user;
}

Text UserDataFolder(const UserEnvironment& user) {
    const Text home = WithoutTrailingSlashes(user.home);
    return WithoutTrailingSlashes(AbsoluteOr(user.dataHome, home + "/.local/share")) + "/pandrel";
}

Text DownloadFolderInUserDirs(const Text& userDirsText, const Text& home) {
    static const Text kKey = "XDG_DOWNLOAD_DIR=";
    Text found;
    std::istringstream lines(userDirsText);
    for (Text line; std::getline(lines, line);) {
        const std::size_t start = line.find_first_not_of(" \t");
        if (start == Text::npos || line.compare(start, kKey.size(), kKey) != 0) {
            continue;
        }
        Text value = QuotedValue(line.substr(start + kKey.size()));
        // Only "$HOME/..." and absolute paths are allowed; a later line wins, as in a shell.
        if (value == "$HOME" || value.rfind("$HOME/", 0) == 0) {
            found = WithoutTrailingSlashes(home) + value.substr(5);
        } else if (!value.empty() && value.front() == '/') {
            found = value;
        }
    }
    return WithoutTrailingSlashes(found);
}

Text UserDownloadFolder(const UserEnvironment& user) {
    const Text home = WithoutTrailingSlashes(user.home);
    const Text config = WithoutTrailingSlashes(AbsoluteOr(user.configHome, home + "/.config"));
    const Bytes userDirs = ReadFile(config + "/user-dirs.dirs");
    const Text configured = DownloadFolderInUserDirs(Text(userDirs.begin(), userDirs.end()), home);
    return configured.empty() ? home + "/Downloads" : configured;
}

ProgramFolders ProgramFoldersFor(const Text& programDir, const UserEnvironment& user) {
    if (MayWrite(programDir) || user.home.empty()) {
        return {programDir, programDir, WorkDirectoryOf(programDir)};
    }
    return {programDir, UserDataFolder(user), UserWorkDirectoryOf(UserDownloadFolder(user))};
}

} // namespace pandrel
