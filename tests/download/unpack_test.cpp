#include "download/unpack.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "support/sandbox.h"
#include "zip_builder.h"

namespace {

using pandrel::UnpackArchive;

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Spit(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

std::set<std::string> Listing(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
        names.insert(std::filesystem::relative(entry.path(), dir).string());
    }
    return names;
}

class UnpackTest : public SandboxTest {
protected:
    std::string Archive(const std::vector<ZipMember>& members) {
        const std::string path = PathOf("archive.zip");
        EXPECT_TRUE(WriteZip(path, members));
        return path;
    }
};

TEST_F(UnpackTest, BadArgumentsAndNonArchives) {
    const std::string archive = Archive({{"a.txt", "alpha"}});
    Spit(PathOf("plain.txt"), "this is not a zip archive");
    Spit(PathOf("empty.zip"), "");
    Spit(PathOf("blocker"), "a file where a folder should be");
    struct Case {
        std::string archive;
        std::string target;
        int expected;
    } cases[] = {
        {"", PathOf("out"), -1},
        {archive, "", -1},
        {PathOf("missing.zip"), PathOf("out"), -1},
        {PathOf("plain.txt"), PathOf("out"), 0},
        {PathOf("empty.zip"), PathOf("out"), 0},
        {archive, PathOf("blocker/out"), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.archive + " -> " + c.target);
        EXPECT_EQ(UnpackArchive(c.archive, c.target), c.expected);
    }
    EXPECT_FALSE(std::filesystem::exists(PathOf("out")));
}

TEST_F(UnpackTest, WritesMembersWithTimesModesAndFolders) {
    const std::vector<ZipMember> members = {
        {"readme.txt", "hello\n"},
        {"dlhost", std::string(200000, 'x') + "end", 0755},
        {"packed-under-077", "a builder's private umask", 0700},
        {"locked.dat", "made writable", 0444},
        {"foreign.dat", "no unix bits", 0, false},
        {"sub/deep/c.txt", "nested"},
        {"emptydir/", ""},
    };
    const std::string target = PathOf("run/DownLoad");
    std::vector<int> progress;
    // The user's umask decides the modes, not the archive's bits (the builder's umask).
    const mode_t umask = ::umask(027);
    ASSERT_EQ(UnpackArchive(Archive(members), target, [&](int p) { progress.push_back(p); }), 1);
    ::umask(umask);

    for (const ZipMember& m : members) {
        const std::string path = target + "/" + m.name;
        SCOPED_TRACE(m.name);
        struct stat info {};
        ASSERT_EQ(::stat(path.c_str(), &info), 0);
        if (m.name.back() == '/') {
            EXPECT_TRUE(S_ISDIR(info.st_mode));
            continue;
        }
        EXPECT_EQ(Slurp(path), m.content);
        EXPECT_EQ(info.st_mtime, MemberEpoch(m));
        const bool executable = m.unixAttributes && (m.mode & 0111) != 0;
        const unsigned expectedMode = (executable ? 0750u : 0640u) | S_IRUSR | S_IWUSR;
        EXPECT_EQ(info.st_mode & 0777, expectedMode);
    }
    // Nothing but the members: no temporary names left behind.
    EXPECT_EQ(Listing(target), (std::set<std::string>{"readme.txt", "dlhost", "packed-under-077",
                                                      "locked.dat", "foreign.dat", "sub",
                                                      "sub/deep", "sub/deep/c.txt", "emptydir"}));
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), 100);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
}

TEST_F(UnpackTest, ReplacesFilesWithNewOnesAndLeavesOthersAlone) {
    const std::string target = PathOf("out");
    std::filesystem::create_directories(target);
    Spit(target + "/a.txt", "an older and much longer content");
    Spit(target + "/keep.txt", "not a member");
    // A second link to the old file must keep the old bytes: the member is a new file.
    ASSERT_EQ(::link((target + "/a.txt").c_str(), PathOf("old-link").c_str()), 0);

    ASSERT_EQ(UnpackArchive(Archive({{"a.txt", "new"}}), target), 1);
    EXPECT_EQ(Slurp(target + "/a.txt"), "new");
    EXPECT_EQ(Slurp(PathOf("old-link")), "an older and much longer content");
    EXPECT_EQ(Slurp(target + "/keep.txt"), "not a member");
}

TEST_F(UnpackTest, FirstUnwritableMemberStopsTheUnpack) {
    const std::string target = PathOf("out");
    std::filesystem::create_directories(target + "/dir-in-the-way");
    Spit(target + "/second.txt", "read-only original");
    ::chmod((target + "/second.txt").c_str(), 0444);
    const std::string archive =
        Archive({{"first.txt", "one"}, {"second.txt", "two"}, {"third.txt", "three"}});
    EXPECT_EQ(UnpackArchive(archive, target), 0);
    EXPECT_EQ(Slurp(target + "/first.txt"), "one");
    EXPECT_EQ(Slurp(target + "/second.txt"), "read-only original");
    EXPECT_FALSE(std::filesystem::exists(target + "/third.txt"));

    // A directory where a file member goes cannot be replaced either.
    EXPECT_EQ(UnpackArchive(Archive({{"dir-in-the-way", "x"}, {"after.txt", "y"}}), target), 0);
    EXPECT_TRUE(std::filesystem::is_directory(target + "/dir-in-the-way"));
    EXPECT_FALSE(std::filesystem::exists(target + "/after.txt"));
}

TEST_F(UnpackTest, NeverWritesOutsideTheTarget) {
    const std::string target = PathOf("box/target");
    const std::string outside = PathOf("box/outside");
    std::filesystem::create_directories(target);
    std::filesystem::create_directories(outside);
    Spit(outside + "/victim.txt", "untouched");
    std::filesystem::create_directory_symlink(outside, target + "/link");
    std::filesystem::create_symlink(outside + "/victim.txt", target + "/leaf.txt");

    const std::string escapes[] = {
        "../escaped.txt",
        "sub/../../escaped.txt",
        outside + "/escaped.txt",
        "link/escaped.txt",
        "..",
        "./../escaped.txt",
    };
    for (const std::string& name : escapes) {
        SCOPED_TRACE(name);
        EXPECT_EQ(UnpackArchive(Archive({{"before.txt", "b"}, {name, "evil"}, {"after.txt", "a"}}),
                                target),
                  0);
        EXPECT_EQ(Slurp(target + "/before.txt"), "b");
        EXPECT_FALSE(std::filesystem::exists(target + "/after.txt"));
        EXPECT_FALSE(std::filesystem::exists(PathOf("box/escaped.txt")));
        EXPECT_FALSE(std::filesystem::exists(outside + "/escaped.txt"));
    }
    // A symbolic link under a member's name is replaced, not written through.
    EXPECT_EQ(UnpackArchive(Archive({{"leaf.txt", "member"}}), target), 1);
    EXPECT_EQ(Slurp(outside + "/victim.txt"), "untouched");
    EXPECT_FALSE(std::filesystem::is_symlink(target + "/leaf.txt"));
    EXPECT_EQ(Slurp(target + "/leaf.txt"), "member");
}

TEST_F(UnpackTest, CorruptMemberIsNotLeftBehind) {
    const std::string content(5000, 'q');
    const std::string archive = Archive({{"good.txt", "fine"}, {"bad.txt", content}});
    std::string bytes = Slurp(archive);
    // The second member's deflated data starts after its 30-byte local header and name.
    const std::size_t second = bytes.find("PK\x03\x04", 4);
    ASSERT_NE(second, std::string::npos);
    bytes[second + 30 + 7 + 2] ^= 0x55;
    Spit(archive, bytes);

    const std::string target = PathOf("out");
    EXPECT_EQ(UnpackArchive(archive, target), 0);
    EXPECT_EQ(Listing(target), std::set<std::string>{"good.txt"});
}

} // namespace
