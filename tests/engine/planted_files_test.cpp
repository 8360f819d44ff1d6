// What anyone who can write the download folder may have put there before a download of
// "out.bin": links, hard links, FIFOs and folders under every working name, and the working
// files of a hostile share's download. Nothing is written through them, and nothing finishes
// the download but the server's own bytes.

#include "engine_fixture.h"
#include "first_version_record.h"
#include "progress_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::string kPrecious = "a file of someone else's\n";
const std::string kHonestEtag = "\"honest\"";

enum class Plant {
    Link,       // a symbolic link to a file outside the folder
    HardLink,   // a second name of a file outside the folder
    Fifo,       //
    Folder,     //
    Record,     // "out.bin.td" beside a record "out.bin.td.cfg" of it (see the case's fields)
    SwapMidway, // once bytes arrive, another file is renamed over the working file
};

enum class Outcome {
    Fresh,       // finishes with the server's bytes, fetched from byte 0
    Resumed,     // finishes with the server's bytes; no request starts at byte 0
    FailsOnDisk, // fail_code 3, no final file
};

struct PlantCase {
    const char* label;
    std::string suffix; // the planted name is "out.bin" + suffix
    Plant plant;
    Outcome outcome;
    // Plant::Record only: the record's version, whether it names this task's link, the ETag it
    // kept, whether the data file holds other bytes than the server's, and whether the record
    // claims every byte (else the second half is missing).
    int version = 2;
    bool sameLink = false;
    std::string etag = "";
    bool hostileBytes = true;
    bool complete = true;
};

void PrintTo(const PlantCase& c, std::ostream* out) {
    *out << c.label;
}

void WriteWhole(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

void PlantRecord(const PlantCase& c, const std::string& folder, const std::string& url,
                 const std::string& body) {
    dlengine::Progress p;
    p.total = static_cast<int64_t>(body.size());
    p.etag = c.etag;
    p.url = c.sameLink ? url : "http://127.0.0.1:9/hostile/out.bin.td";
    p.name = "out.bin";
    std::string data = c.hostileBytes ? MakeBody(body.size(), 99) : body;
    if (!c.complete) {
        p.missing = {{p.total / 2, p.total}};
        std::fill(data.begin() + p.total / 2, data.end(), '\0');
    }
    WriteWhole(folder + "/out.bin.td", data);
    WriteWhole(folder + "/out.bin.td.cfg",
               c.version == 1 ? FirstVersionRecord(p) : dlengine::EncodeProgress(p));
}

class PlantedFiles : public EngineTest, public ::testing::WithParamInterface<PlantCase> {};

TEST_P(PlantedFiles, NothingIsWrittenThroughAndOnlyTheServersBytesFinish) {
    const PlantCase& c = GetParam();
    const std::string folder = PathOf("dl");
    const std::string victim = PathOf("victim");
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    WriteWhole(victim, kPrecious);
    ServedFile file;
    file.etag = kHonestEtag;
    file.body = MakeBody(c.plant == Plant::SwapMidway ? 4 << 20 : 512 << 10, 81);
    // Slow enough to act while it runs.
    file.bytesPerSecond = c.plant == Plant::SwapMidway ? 256 * 1024 : 0;
    m_server->Serve("/f.bin", file);
    const std::string url = m_server->Url("/f.bin");
    const std::string planted = folder + "/out.bin" + c.suffix;
    switch (c.plant) {
    case Plant::Link:
        ASSERT_EQ(symlink(victim.c_str(), planted.c_str()), 0);
        break;
    case Plant::HardLink:
        ASSERT_EQ(link(victim.c_str(), planted.c_str()), 0);
        break;
    case Plant::Fifo:
        ASSERT_EQ(mkfifo(planted.c_str(), 0644), 0);
        break;
    case Plant::Folder:
        ASSERT_EQ(mkdir(planted.c_str(), 0755), 0);
        break;
    case Plant::Record:
        PlantRecord(c, folder, url, file.body);
        break;
    case Plant::SwapMidway:
        break;
    }
    TaskOptions options;
    options.folder = folder + "/";
    const int32_t h = Create(url, "out.bin", options);
    DL_StartTask(h);
    const std::string swapped = MakeBody(file.body.size(), 98);
    if (c.plant == Plant::SwapMidway) {
        ASSERT_TRUE(WaitStatus(
            h, [](const TaskStatusInfo& s) { return s.nTotalDownload > 256 * 1024; },
            std::chrono::seconds(20)));
        WriteWhole(folder + "/swap", swapped);
        ASSERT_EQ(std::rename((folder + "/swap").c_str(), (folder + "/out.bin.td").c_str()), 0);
    }
    TaskStatusInfo s{};
    const bool finished = WaitFinished(h, &s);
    EXPECT_EQ(ReadFile(victim), kPrecious) << c.label << ": written through";
    const auto log = m_server->Requests();
    struct stat st {};
    const bool finalExists = lstat((folder + "/out.bin").c_str(), &st) == 0;
    if (c.outcome == Outcome::FailsOnDisk) {
        EXPECT_FALSE(finished) << c.label;
        EXPECT_EQ(s.fail_code, DL_FAIL_DISK) << c.label;
        EXPECT_FALSE(finalExists) << c.label;
        if (c.plant == Plant::SwapMidway) {
            // The file put in its place keeps its bytes and its name, and no record is left
            // to finish it from.
            EXPECT_EQ(ReadFile(folder + "/out.bin.td"), swapped);
            EXPECT_EQ(FolderEntries(folder), std::set<std::string>{"out.bin.td"});
        } else {
            EXPECT_TRUE(log.empty()) << c.label;
        }
    } else {
        ASSERT_TRUE(finished) << c.label << " fail " << s.fail_code;
        EXPECT_TRUE(S_ISREG(st.st_mode)) << c.label;
        EXPECT_EQ(Sha256Hex(ReadFile(folder + "/out.bin")), Sha256Hex(file.body)) << c.label;
        EXPECT_EQ(FolderEntries(folder), std::set<std::string>{"out.bin"}) << c.label;
        ASSERT_FALSE(log.empty()) << c.label << ": finished from the record alone";
        bool fromTheStart = false;
        for (const RecordedRequest& r : log) {
            fromTheStart = fromTheStart || r.RangeStart() <= 0;
        }
        EXPECT_EQ(fromTheStart, c.outcome == Outcome::Fresh) << c.label;
    }
    DL_DeleteTask(h);
}

INSTANTIATE_TEST_SUITE_P(
    Plants, PlantedFiles,
    ::testing::Values(
        PlantCase{"link as the data file", ".td", Plant::Link, Outcome::FailsOnDisk},
        PlantCase{"link as the record", ".td.cfg", Plant::Link, Outcome::Fresh},
        PlantCase{"link as the record's temporary", ".td.cfg.tmp", Plant::Link, Outcome::Fresh},
        PlantCase{"link as the final name", "", Plant::Link, Outcome::Fresh},
        PlantCase{"hard link as the data file", ".td", Plant::HardLink, Outcome::FailsOnDisk},
        PlantCase{"hard link as the record", ".td.cfg", Plant::HardLink, Outcome::Fresh},
        PlantCase{"FIFO as the data file", ".td", Plant::Fifo, Outcome::FailsOnDisk},
        PlantCase{"FIFO as the record's temporary", ".td.cfg.tmp", Plant::Fifo, Outcome::Fresh},
        PlantCase{"folder as the data file", ".td", Plant::Folder, Outcome::FailsOnDisk},
        // A hostile share's working files, whose record claims every byte of the same size.
        PlantCase{"hostile pair of another link", "", Plant::Record, Outcome::Fresh},
        PlantCase{"hostile pair of another link, its own ETag", "", Plant::Record, Outcome::Fresh,
                  2, false, "\"hostile\""},
        PlantCase{"hostile pair of the first record version", "", Plant::Record, Outcome::Fresh, 1},
        PlantCase{"pair of this link, an older ETag", "", Plant::Record, Outcome::Fresh, 2, true,
                  "\"old\""},
        // Records that may serve: the server must still confirm them with an answer.
        PlantCase{"complete record of this link", "", Plant::Record, Outcome::Resumed, 2, true,
                  kHonestEtag, false},
        PlantCase{"record of a fresh link to the same version", "", Plant::Record, Outcome::Resumed,
                  2, false, kHonestEtag, false, false},
        PlantCase{"first-version record with the server's ETag", "", Plant::Record,
                  Outcome::Resumed, 1, false, kHonestEtag, false, false},
        PlantCase{"working file swapped mid-download", "", Plant::SwapMidway,
                  Outcome::FailsOnDisk}),
    [](const ::testing::TestParamInfo<PlantCase>& info) {
        std::string name = info.param.label;
        for (char& ch : name) {
            ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
        }
        return name;
    });

} // namespace
