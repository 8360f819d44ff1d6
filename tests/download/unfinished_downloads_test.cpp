#include "download/unfinished_downloads.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "dlengine_files.h"
#include "progress_file.h"
#include "support/sandbox.h"

namespace pandrel {
namespace {

class UnfinishedDownloadsTest : public SandboxTest {
protected:
    // A record as the engine writes it for `name`, with 1000 of its 4000 bytes still missing.
    static std::string RecordOf(const std::string& name, const std::string& url = "http://h/f") {
        dlengine::Progress progress;
        progress.total = 4000;
        progress.missing = {{1000, 1500}, {3500, 4000}};
        progress.url = url;
        progress.referer = "http://h/";
        progress.cookies = "a=1";
        progress.name = name;
        return dlengine::EncodeProgress(progress);
    }
    void Write(const std::string& file, const std::string& bytes) {
        std::ofstream(PathOf(file), std::ios::binary) << bytes;
    }
    std::vector<std::string> FoundNames() {
        std::vector<std::string> names;
        for (const UnfinishedDownload& d : FindUnfinishedDownloads(Dir() + "/")) {
            names.push_back(d.name);
        }
        return names;
    }
};

TEST_F(UnfinishedDownloadsTest, OnlyRecordsTheEngineWroteForTheirOwnName) {
    const std::string longName =
        std::string(120, 'x') + "中文名字很长的文件" + std::string(100, 'y');
    const std::string longStem = dlengine::WorkingStem(longName);
    ASSERT_NE(longStem, longName);
    const struct {
        const char* label;
        std::function<void()> arrange;
        std::vector<std::string> found;
    } cases[] = {
        {"a record beside its data file",
         [&] { Write("a.bin.td.cfg", RecordOf("a.bin")), Write("a.bin.td", "x"); },
         {"a.bin"}},
        {"a long name under its derived working name",
         [&] { Write(longStem + ".td.cfg", RecordOf(longName)), Write(longStem + ".td", ""); },
         {longName}},
        {"no data file", [&] { Write("a.bin.td.cfg", RecordOf("a.bin")); }, {}},
        {"a record naming another file (a planted record)",
         [&] { Write("a.bin.td.cfg", RecordOf("setup.bin")), Write("a.bin.td", "x"); },
         {}},
        {"an older record without its link",
         [&] { Write("a.bin.td.cfg", RecordOf("a.bin", "")), Write("a.bin.td", "x"); },
         {}},
        {"a damaged record",
         [&] {
             std::string bytes = RecordOf("a.bin");
             bytes[bytes.size() / 2] ^= 1;
             Write("a.bin.td.cfg", bytes), Write("a.bin.td", "x");
         },
         {}},
        {"a name that is a path",
         [&] { Write("a.bin.td.cfg", RecordOf("../a.bin")), Write("a.bin.td", "x"); },
         {}},
        {"a record that is a link",
         [&] {
             Write("real", RecordOf("a.bin"));
             ASSERT_EQ(::symlink(PathOf("real").c_str(), PathOf("a.bin.td.cfg").c_str()), 0);
             Write("a.bin.td", "x");
         },
         {}},
        {"a data file that is a folder",
         [&] {
             Write("a.bin.td.cfg", RecordOf("a.bin"));
             std::filesystem::create_directory(PathOf("a.bin.td"));
         },
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        std::filesystem::remove_all(Dir());
        std::filesystem::create_directories(Dir());
        c.arrange();
        EXPECT_EQ(FoundNames(), c.found);
    }
    // What a found download carries on to its new task.
    std::filesystem::remove_all(Dir());
    std::filesystem::create_directories(Dir());
    Write("b.bin.td.cfg", RecordOf("b.bin")), Write("b.bin.td", "");
    Write("a.bin.td.cfg", RecordOf("a.bin")), Write("a.bin.td", "");
    const auto found = FindUnfinishedDownloads(Dir() + "/");
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].name, "a.bin") << "in name order";
    EXPECT_EQ(found[1].url, "http://h/f");
    EXPECT_EQ(found[1].referer, "http://h/");
    EXPECT_EQ(found[1].cookies, "a=1");
    EXPECT_EQ(found[1].total, 4000);
    EXPECT_EQ(found[1].received, 3000);
}

} // namespace
} // namespace pandrel
