// The record file: what is written, how it is replaced, and how it is read back and counted.

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "app/record_file.h"
#include "runtime/files.h"
#include "support/sandbox.h"

using namespace pandrel;

namespace {

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

class RecordFileTest : public SandboxTest {
protected:
    void SetUp() override {
        SandboxTest::SetUp();
        m_state.RunDir = Dir();
    }
    ProgramState m_state;
};

} // namespace

TEST_F(RecordFileTest, SaveWritesTheTextWholeAndReplacesTheOldFile) {
    const Text listing = "<tr><td>文件.txt</td><td>1 KB</td></tr>\r\n<tr><td>b</td></tr>";
    for (const Text& text : {listing, Text()}) {
        std::ofstream(PathOf("test.txt")) << "an older and much longer record " << Text(500, 'z');
        // A second name for the old file: writing in place would change what it shows too.
        std::filesystem::remove(PathOf("old.txt"));
        ASSERT_EQ(link(PathOf("test.txt").c_str(), PathOf("old.txt").c_str()), 0);

        m_state.RecordText = text;
        SaveRecord(m_state);
        EXPECT_EQ(Contents(PathOf("test.txt")), text);
        EXPECT_TRUE(Contents(PathOf("old.txt")).starts_with("an older"))
            << "the record was rewritten in place instead of replaced";
        int files = 0;
        for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(Dir())) {
            ++files;
        }
        EXPECT_EQ(files, 2) << "a temporary file was left behind";
    }
}

TEST_F(RecordFileTest, SaveIntoAMissingFolderLeavesNothing) {
    m_state.RunDir = Dir() + "/missing";
    m_state.RecordText = "<tr>x</tr>";
    SaveRecord(m_state);
    EXPECT_FALSE(FileExists(Dir() + "/missing"));
}

TEST_F(RecordFileTest, LoadCountsRowStartsInAnyLetterCase) {
    std::string rowsPastTheLimit;
    for (int i = 0; i <= 100000; ++i) {
        rowsPastTheLimit += "<tr></tr>";
    }
    const struct {
        const char* label;
        std::string bytes; // empty with `absent`: no file at all
        bool absent;
        const char* text;
        int rows;
    } cases[] = {
        {"no file", "", true, "", 0},
        {"empty file", "", false, "", 0},
        {"two rows", "<tr>a</tr>\n<tr>b</tr>", false, "<tr>a</tr>\n<tr>b</tr>", 2},
        {"upper case", "<TR>a</TR><Tr>b</tR>", false, "<TR>a</TR><Tr>b</tR>", 2},
        {"adjacent tags", "<tr><tr>", false, "<tr><tr>", 2},
        {"invalid byte", std::string("<tr>\xff</tr>"), false, "<tr>?</tr>", 1},
        {"stops at a zero byte", std::string("<tr>a\0<tr>b", 11), false, "<tr>a", 1},
        // Past the listing's limits the record reads as none, and stays as it is.
        {"100,001 rows", rowsPastTheLimit, false, "", 0},
        {"16 MiB and a byte", std::string(16 * 1024 * 1024 + 1, 'x'), false, "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        std::filesystem::remove(PathOf("test.txt"));
        if (!c.absent) {
            std::ofstream(PathOf("test.txt"), std::ios::binary) << c.bytes;
        }
        m_state.RecordText = "stale";
        m_state.RecordRowCount = 7;
        LoadRecord(m_state);
        EXPECT_EQ(m_state.RecordText, c.text);
        EXPECT_EQ(m_state.RecordRowCount, c.rows);
        EXPECT_EQ(c.absent ? std::string() : Contents(PathOf("test.txt")), c.bytes);
    }

    // A record that is no regular file is never waited on: a pipe without a writer would
    // block a plain read for ever.
    std::filesystem::remove(PathOf("test.txt"));
    ASSERT_EQ(mkfifo(PathOf("test.txt").c_str(), 0600), 0);
    m_state.RecordText = "stale";
    LoadRecord(m_state);
    EXPECT_EQ(m_state.RecordText, "");
}

TEST_F(RecordFileTest, ANewRecordTakesTheUmaskAndAReplacedOneKeepsItsMode) {
    const mode_t saved = ::umask(027);
    m_state.RecordText = "<tr>a</tr>";
    SaveRecord(m_state);
    struct stat info {};
    ASSERT_EQ(::stat(PathOf("test.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    ASSERT_EQ(::chmod(PathOf("test.txt").c_str(), 0604), 0);
    SaveRecord(m_state);
    ASSERT_EQ(::stat(PathOf("test.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0604u);
    ::umask(saved);
}

// Whoever can write the program's folder may put a link, a FIFO or a folder where the record
// goes: none is read through, written through or waited on, and none is replaced.
TEST_F(RecordFileTest, PlantedNamesAreNeitherFollowedNorWaitedOn) {
    const std::string victim = PathOf("victim");
    std::ofstream(victim) << "<tr>not the record</tr>";
    const std::string record = PathOf("test.txt");
    const struct {
        const char* label;
        std::function<int()> plant;
        mode_t type;
    } cases[] = {
        {"link", [&] { return ::symlink(victim.c_str(), record.c_str()); }, S_IFLNK},
        {"FIFO", [&] { return ::mkfifo(record.c_str(), 0644); }, S_IFIFO},
        {"folder", [&] { return ::mkdir(record.c_str(), 0755); }, S_IFDIR},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        std::filesystem::remove_all(record);
        ASSERT_EQ(c.plant(), 0);
        m_state.RecordText = "stale";
        LoadRecord(m_state);
        EXPECT_EQ(m_state.RecordText, "");
        EXPECT_EQ(m_state.RecordRowCount, 0);
        m_state.RecordText = "<tr>new</tr>";
        SaveRecord(m_state);
        EXPECT_EQ(Contents(victim), "<tr>not the record</tr>");
        struct stat info {};
        ASSERT_EQ(::lstat(record.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & S_IFMT, c.type);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Dir()),
                                std::filesystem::directory_iterator()),
                  2)
            << "a temporary file was left behind";
    }
}
