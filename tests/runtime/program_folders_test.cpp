#include "runtime/program_folders.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/sandbox.h"

namespace pandrel {
namespace {

TEST(UserDirsTest, DownloadFolderAsTheUserDirsToolReadsIt) {
    const struct {
        const char* text;
        const char* expected;
    } cases[] = {
        {"XDG_DOWNLOAD_DIR=\"$HOME/下载\"\n", "/home/u/下载"},
        {"# comment\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n  XDG_DOWNLOAD_DIR=\"$HOME/Dl/\"\n",
         "/home/u/Dl"},
        {"XDG_DOWNLOAD_DIR=\"/srv/files\"", "/srv/files"},
        {"XDG_DOWNLOAD_DIR=\"$HOME\"\n", "/home/u"},
        {"XDG_DOWNLOAD_DIR=\"$HOME/with \\\"quote\\\"\"\n", "/home/u/with \"quote\""},
        // A later line wins, as when the file is sourced by a shell.
        {"XDG_DOWNLOAD_DIR=\"$HOME/a\"\nXDG_DOWNLOAD_DIR=\"$HOME/b\"\n", "/home/u/b"},
        // Forms the format does not allow are not taken.
        {"XDG_DOWNLOAD_DIR=$HOME/unquoted\n", ""},
        {"XDG_DOWNLOAD_DIR=\"relative/path\"\n", ""},
        {"XDG_DOWNLOAD_DIR=\"$HOMEOTHER/x\"\n", ""},
        {"XDG_DOWNLOAD_DIR=\"$HOME/unclosed\n", ""},
        {"#XDG_DOWNLOAD_DIR=\"$HOME/commented\"\n", ""},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(DownloadFolderInUserDirs(c.text, "/home/u/"), c.expected);
    }
}

class ProgramFoldersTest : public SandboxTest {};

TEST_F(ProgramFoldersTest, BesideAWritableProgramElseInTheUsersFolders) {
    const Text home = PathOf("home");
    std::filesystem::create_directories(home + "/.config");
    std::ofstream(home + "/.config/user-dirs.dirs") << "XDG_DOWNLOAD_DIR=\"$HOME/下载\"\n";
    const Text unwritable = PathOf("no-such-folder");
    const struct {
        const char* label;
        Text programDir;
        UserEnvironment user;
        ProgramFolders expected;
    } cases[] = {
        {"portable", Dir(), {home, "", ""}, {Dir(), Dir(), Dir() + "/下载目录/"}},
        {"installed",
         unwritable,
         {home, "", ""},
         {unwritable, home + "/.local/share/pandrel", home + "/下载/Pandrel/"}},
        {"own data and config homes",
         unwritable,
         {home, "/data/", "/nowhere"},
         {unwritable, "/data/pandrel", home + "/Downloads/Pandrel/"}},
        {"relative XDG paths are ignored",
         unwritable,
         {home, "data", ".config"},
         {unwritable, home + "/.local/share/pandrel", home + "/下载/Pandrel/"}},
        // Without a home there is nowhere else to go: the copy stays beside itself.
        {"no home", unwritable, {"", "", ""}, {unwritable, unwritable, unwritable + "/下载目录/"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const ProgramFolders folders = ProgramFoldersFor(c.programDir, c.user);
        EXPECT_EQ(folders.programDir, c.expected.programDir);
        EXPECT_EQ(folders.runDir, c.expected.runDir);
        EXPECT_EQ(folders.workDir, c.expected.workDir);
    }
}

} // namespace
} // namespace pandrel
