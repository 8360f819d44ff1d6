#include "runtime/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/sandbox.h"

namespace pandrel {
namespace {

class FilesTest : public SandboxTest {};

TEST_F(FilesTest, WriteTruncatesAndReadGivesWholeFile) {
    const Text path = PathOf("下载目录.txt");
    ASSERT_TRUE(WriteFile(path, {Bytes{'a', 'b', 'c', 'd'}, Bytes{}, Bytes{0, 'e'}}));
    EXPECT_EQ(ReadFile(path), (Bytes{'a', 'b', 'c', 'd', 0, 'e'}));
    ASSERT_TRUE(WriteFile(path, Bytes{'x'}));
    EXPECT_EQ(ReadFile(path), Bytes{'x'});
    ASSERT_TRUE(WriteFile(path, Bytes{}));
    EXPECT_EQ(ReadFile(path), Bytes{});

    Bytes large(300000);
    for (std::size_t i = 0; i < large.size(); ++i) {
        large[i] = static_cast<std::uint8_t>(i * 7);
    }
    ASSERT_TRUE(WriteFile(path, large));
    EXPECT_EQ(ReadFile(path), large);
}

TEST_F(FilesTest, FailuresGiveFalseOrEmpty) {
    EXPECT_FALSE(WriteFile("", Bytes{'a'}));
    EXPECT_FALSE(WriteFile(PathOf("missing/dir/file"), Bytes{'a'}));
    EXPECT_FALSE(WriteFile(Dir(), Bytes{'a'}));
    EXPECT_EQ(ReadFile(PathOf("missing")), Bytes{});
    EXPECT_EQ(ReadFile(Dir()), Bytes{});
    EXPECT_EQ(ReadFile(""), Bytes{});
    EXPECT_FALSE(DeleteFile(PathOf("missing")));
    EXPECT_FALSE(DeleteFile(Dir()));
    EXPECT_FALSE(WriteFileAtomically("", Bytes{'a'}));
    EXPECT_FALSE(WriteFileAtomically(PathOf("missing/file"), Bytes{'a'}));
}

TEST_F(FilesTest, ExistsWithWildcardsInTheLastComponent) {
    ASSERT_TRUE(WriteFile(PathOf("a.td"), Bytes{'1'}));
    ASSERT_TRUE(EnsureDirectory(PathOf("sub")));
    ASSERT_TRUE(WriteFile(PathOf("[x].txt"), Bytes{'1'}));
    const std::pair<Text, bool> cases[] = {
        {"a.td", true},    {"sub", true},  {"b.td", false},  {"*.td", true},
        {"a.t?", true},    {"a.?", false}, {"*.cfg", false}, {"*", true},
        {"[x].txt", true}, {"[x]*", true}, {"x.txt", false}, {"s*/a.td", false},
    };
    for (const auto& [name, want] : cases) {
        EXPECT_EQ(FileExists(PathOf(name)), want) << name;
    }
    EXPECT_FALSE(FileExists(""));
    EXPECT_TRUE(DeleteFile(PathOf("a.td")));
    EXPECT_FALSE(FileExists(PathOf("*.td")));
}

TEST_F(FilesTest, EnsureDirectoryCreatesEveryLevel) {
    const Text deep = PathOf("下载目录/a/b/");
    EXPECT_TRUE(EnsureDirectory(deep));
    EXPECT_TRUE(IsDirectory(PathOf("下载目录/a/b")));
    EXPECT_TRUE(EnsureDirectory(deep));
    ASSERT_TRUE(WriteFile(PathOf("plain"), Bytes{'1'}));
    EXPECT_FALSE(EnsureDirectory(PathOf("plain")));
    EXPECT_FALSE(EnsureDirectory(PathOf("plain/below")));
    EXPECT_FALSE(IsDirectory(PathOf("plain")));
    EXPECT_FALSE(EnsureDirectory(""));
}

TEST_F(FilesTest, AtomicWriteReplacesWholeAndLeavesNoTemporary) {
    const Text path = PathOf("test.txt");
    ASSERT_TRUE(WriteFile(path, Bytes{'o', 'l', 'd'}));
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    ASSERT_TRUE(WriteFileAtomically(path, Bytes{'n', 'e', 'w', 0}));
    EXPECT_EQ(ReadFile(path), (Bytes{'n', 'e', 'w', 0}));
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    EXPECT_FALSE(FileExists(PathOf("test.txt.*")));
}

TEST(Environment, RunDirectoryAndGetEnv) {
    Text dir = RunDirectory();
    ASSERT_FALSE(dir.empty());
    EXPECT_NE(dir.back(), '/');
    EXPECT_TRUE(IsDirectory(dir));
    char self[4096];
    ssize_t n = ::readlink("/proc/self/exe", self, sizeof(self) - 1);
    ASSERT_GT(n, 0);
    EXPECT_EQ(Text(self, static_cast<std::size_t>(n)).rfind(dir + "/", 0), 0u);

    ::setenv("PANDREL_RUNTIME_TEST", "值", 1);
    EXPECT_EQ(GetEnv("PANDREL_RUNTIME_TEST"), "值");
    ::unsetenv("PANDREL_RUNTIME_TEST");
    EXPECT_EQ(GetEnv("PANDREL_RUNTIME_TEST"), "");
}

} // namespace
} // namespace pandrel
