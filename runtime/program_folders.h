#pragma once

#include "runtime/value_types.h"

namespace pandrel {

// The user's folders as the environment gives them, read once at start. Empty when unset.
struct UserEnvironment {
    Text home;       // HOME, else the password database's home folder
    Text dataHome;   // XDG_DATA_HOME
    Text configHome; // XDG_CONFIG_HOME
};

UserEnvironment UserEnvironmentOfThisProcess();

// Where this copy of the program keeps its files. Beside the program when it may write there
// (a portable copy, the build tree); otherwise, as in a system-wide install, the run files go
// to the user's data folder and the downloads to the user's download folder.
struct ProgramFolders {
    Text programDir; // the executable's folder, without a trailing slash
    Text runDir;     // RunDir: record file, "test", pandrel.ini, DownLoad/, gzip library
    Text workDir;    // WorkDir, with its trailing slash
};

// `programDir` without a trailing slash.
ProgramFolders ProgramFoldersFor(const Text& programDir, const UserEnvironment& user);

// $XDG_DATA_HOME/pandrel, or ~/.local/share/pandrel; no trailing slash.
Text UserDataFolder(const UserEnvironment& user);

// The download folder as `xdg-user-dir DOWNLOAD` finds it: XDG_DOWNLOAD_DIR in
// $XDG_CONFIG_HOME/user-dirs.dirs (default ~/.config), else ~/Downloads. No trailing slash.
Text UserDownloadFolder(const UserEnvironment& user);

// The value of XDG_DOWNLOAD_DIR in the text of a user-dirs.dirs file, with "$HOME" replaced
// by `home`; empty when the file does not set it in a form the format allows.
Text DownloadFolderInUserDirs(const Text& userDirsText, const Text& home);

} // namespace pandrel
