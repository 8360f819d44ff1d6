// Pieces of the host that guard the disk and the version kept: file-name checks, final names,
// progress records, the validators an answer must match, the retry budget, and the one thread
// the host's objects run on.

#include "disk_flusher.h"
#include "dlengine_files.h"
#include "file_names.h"
#include "file_version.h"
#include "first_version_record.h"
#include "progress_file.h"
#include "retry_backoff.h"
#include "task.h"

#include "support/sandbox.h"

#include <gtest/gtest.h>

#include <cstring>

#include <fcntl.h>
#include <fstream>
#include <functional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

TEST(FileNames, OnlyPlainNamesAreSafe) {
    const struct {
        std::string name;
        bool safe;
    } cases[] = {
        {"a.txt", true},
        {"\xE4\xB8\x8B\xE8\xBD\xBD.zip", true},
        {"..a", true},
        {".hidden", true},
        {"-rf", true},
        {"--help.txt", true},
        {std::string(255, 'n'), true},
        {"a.tdx", true},
        {"td", true},
        {"a.td.bin", true},
        {"a\xE2\x80\xAF"
         "b", // U+202F, a space, not a direction
         true},
        {std::string(200, 'n') + "~0123456789abcdeg", true},
        {std::string(100, 'n') + "~0123456789abcdef", true},
        {"", false},
        {".", false},
        {"..", false},
        {"a/b", false},
        {"/etc/passwd", false},
        {"../x", false},
        {std::string("a\0b", 3), false},
        {std::string(256, 'n'), false},
        // The engine's working names, in any letter case: a listing naming one would take the
        // place of another download's working files.
        {"setup.bin.td", false},
        {"setup.bin.td.cfg", false},
        {"setup.bin.td.cfg.tmp", false},
        {"SETUP.BIN.TD", false},
        {"x.Td.Cfg", false},
        {"x.tD.cFg.TmP", false},
        {".td", false},
        {std::string(200, 'n') + "~0123456789abcdef", false},
        {std::string(197, 'n') + "~0123456789ABCDEF", false},
        // Control characters: escape sequences, line breaks, DEL, C1 controls.
        {"a\x1B[31mred.txt", false},
        {"line\nbreak.txt", false},
        {"tab\t.txt", false},
        {"del\x7F.txt", false},
        {"c1\xC2\x85.txt", false},
        {"c1\xC2\x9B"
         "31m.txt",
         false},
        // Bidirectional controls: "gpj.<RLO>exe.txt" shows as an image name.
        {"gpj.\xE2\x80\xAE"
         "exe.txt",
         false},
        {"\xE2\x80\xAA"
         "a",
         false},
        {"a\xE2\x81\xA6"
         "b",
         false},
        {"a\xE2\x81\xA9", false},
        // Not UTF-8 at all.
        {"bad\xFF.bin", false},
        {"\xC0\xAF", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(dlengine::IsSafeFileName(c.name), c.safe) << "'" << c.name << "'";
    }
}

TEST(FileNames, NumberGoesBeforeTheLastExtension) {
    const std::string chinese85 = [] {
        std::string s;
        for (int i = 0; i < 85; ++i) {
            s += "\xE6\x96\x87"; // 文
        }
        return s;
    }();
    const struct {
        std::string name;
        int n;
        std::string expected;
    } cases[] = {
        {"a.txt", 1, "a(1).txt"},
        {"a.tar.gz", 2, "a.tar(2).gz"},
        {"noext", 3, "noext(3)"},
        {".hidden", 1, ".hidden(1)"},
        {"dot.", 1, "dot(1)."},
        // A name at the limit loses whole characters before the number, never the extension.
        {std::string(251, 'n') + ".bin", 1, std::string(248, 'n') + "(1).bin"},
        {chinese85, 12, chinese85.substr(0, 249) + "(12)"},
        {"." + std::string(254, 'e'), 1, "." + std::string(251, 'e') + "(1)"},
        {"a." + std::string(253, 'e'), 1, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(dlengine::NumberedName(c.name, c.n), c.expected);
    }
}

TEST(FileNames, JoinDoesNotDoubleTheSlash) {
    EXPECT_EQ(dlengine::JoinPath("/d/", "a"), "/d/a");
    EXPECT_EQ(dlengine::JoinPath("/d", "a"), "/d/a");
}

TEST(FileNames, WorkingFilesOfEveryLegalNameFitInAName) {
    for (const size_t size : {1u, 100u, 244u, 245u, 252u, 253u, 255u}) {
        for (const char* unit : {"a", "\xE6\x96\x87", "\xF0\x9F\x98\x80"}) {
            std::string name;
            while (name.size() + std::strlen(unit) <= size) {
                name += unit;
            }
            const std::string stem = dlengine::WorkingStem(name);
            EXPECT_LE(stem.size() + std::strlen(dlengine::kProgressTempSuffix), 255u) << size;
            // Short names keep their own name; the stem is the same for the same name only.
            EXPECT_EQ(stem == name, name.size() <= 244) << size;
            EXPECT_EQ(dlengine::WorkingStem(name), stem);
            EXPECT_NE(dlengine::WorkingStem(name + "x"), stem);
            // The shortened stem keeps whole characters of the name.
            const std::string kept = stem.substr(0, stem.find('~'));
            EXPECT_EQ(name.compare(0, kept.size(), kept), 0);
            EXPECT_TRUE(kept.size() % std::strlen(unit) == 0) << size << unit;
        }
    }
}

class MoveIntoPlaceTest : public SandboxTest {
protected:
    void SetUp() override {
        SandboxTest::SetUp();
        m_dir = open(Dir().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    void TearDown() override {
        close(m_dir);
        SandboxTest::TearDown();
    }
    int m_dir = -1;
    void Write(const std::string& name, const std::string& text) {
        std::ofstream(PathOf(name), std::ios::binary) << text;
    }
    std::string Read(const std::string& name) {
        std::ifstream in(PathOf(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
};

TEST_F(MoveIntoPlaceTest, TakesTheFirstFreeNumberedName) {
    Write("a.bin", "old");
    Write("a(1).bin", "older");
    Write("a.bin.td", "new");
    EXPECT_EQ(dlengine::MoveIntoPlace(m_dir, "a.bin.td", "a.bin", false), "a(2).bin");
    EXPECT_EQ(Read("a.bin"), "old");
    EXPECT_EQ(Read("a(1).bin"), "older");
    EXPECT_EQ(Read("a(2).bin"), "new");
}

TEST_F(MoveIntoPlaceTest, ReplacesWhenAsked) {
    Write("a.bin", "old");
    Write("a.bin.td", "new");
    EXPECT_EQ(dlengine::MoveIntoPlace(m_dir, "a.bin.td", "a.bin", true), "a.bin");
    EXPECT_EQ(Read("a.bin"), "new");
    struct stat st {};
    EXPECT_NE(stat(PathOf("a.bin.td").c_str(), &st), 0);
}

dlengine::Progress SampleProgress() {
    dlengine::Progress p;
    p.total = 10 << 20;
    p.etag = "\"abc\"";
    p.lastModified = "Wed, 21 Oct 2015 07:28:00 GMT";
    p.missing = {{100, 2000}, {5000, 9000}, {(10 << 20) - 7, 10 << 20}};
    p.url = "http://127.0.0.1:8580/d/S/f.bin?sig=%E6%96%87";
    p.referer = "http://127.0.0.1:8580/list";
    p.cookies = "sid=abc; tok=" + std::string(9000, 'c');
    p.name = "\xE6\x96\x87.bin";
    return p;
}

TEST(ProgressRecord, RoundTrips) {
    const dlengine::Progress p = SampleProgress();
    dlengine::Progress back;
    ASSERT_TRUE(dlengine::DecodeProgress(dlengine::EncodeProgress(p), &back));
    EXPECT_EQ(back.version, dlengine::Progress::kCurrentVersion);
    EXPECT_EQ(back.total, p.total);
    EXPECT_EQ(back.etag, p.etag);
    EXPECT_EQ(back.lastModified, p.lastModified);
    EXPECT_EQ(back.url, p.url);
    EXPECT_EQ(back.referer, p.referer);
    EXPECT_EQ(back.cookies, p.cookies);
    EXPECT_EQ(back.name, p.name);
    ASSERT_EQ(back.missing.size(), p.missing.size());
    for (size_t i = 0; i < p.missing.size(); ++i) {
        EXPECT_EQ(back.missing[i].begin, p.missing[i].begin);
        EXPECT_EQ(back.missing[i].end, p.missing[i].end);
    }
    EXPECT_EQ(back.MissingBytes(), 1900 + 4000 + 7);
}

TEST(ProgressRecord, RecordsOfTheFirstVersionAreStillRead) {
    dlengine::Progress p = SampleProgress();
    dlengine::Progress back;
    ASSERT_TRUE(dlengine::DecodeProgress(FirstVersionRecord(p), &back));
    EXPECT_EQ(back.version, dlengine::Progress::kFirstVersion);
    EXPECT_EQ(back.total, p.total);
    EXPECT_EQ(back.etag, p.etag);
    EXPECT_EQ(back.missing.size(), p.missing.size());
    EXPECT_TRUE(back.url.empty() && back.referer.empty() && back.cookies.empty() &&
                back.name.empty());
}

TEST(ProgressRecord, AnyDamagedByteOrShortenedRecordIsRefused) {
    for (const std::string& good :
         {dlengine::EncodeProgress(SampleProgress()), FirstVersionRecord(SampleProgress())}) {
        dlengine::Progress out;
        for (size_t i = 0; i < good.size(); ++i) {
            std::string bad = good;
            bad[i] = static_cast<char>(bad[i] ^ 0x01);
            EXPECT_FALSE(dlengine::DecodeProgress(bad, &out)) << "flipped byte " << i;
            EXPECT_FALSE(dlengine::DecodeProgress(good.substr(0, i), &out)) << "cut at " << i;
        }
        EXPECT_FALSE(dlengine::DecodeProgress(good + "x", &out));
    }
}

TEST(ProgressRecord, RangesOutsideTheFileOrOverlappingAreRefused) {
    const std::vector<std::vector<dlengine::ByteRange>> bad = {
        {{0, (10 << 20) + 1}}, {{100, 100}},           {{500, 400}},
        {{0, 100}, {50, 200}}, {{300, 400}, {0, 100}}, {{-5, 10}},
    };
    for (const auto& ranges : bad) {
        dlengine::Progress p = SampleProgress();
        p.missing = ranges;
        dlengine::Progress out;
        EXPECT_FALSE(dlengine::DecodeProgress(dlengine::EncodeProgress(p), &out))
            << ranges.front().begin << "-" << ranges.front().end;
    }
}

// An answer may add bytes only to the version kept: a strong ETag must match when both name
// one, a weak one never confirms a foreign record, and a missing validator confirms nothing.
TEST(FileVersion, AnswersAreMatchedByTheirValidators) {
    struct Case {
        const char* kept[2]; // etag, last-modified
        const char* answer[2];
        bool allows;
        bool namedBy;
    };
    const Case cases[] = {
        {{"\"a\"", ""}, {"\"a\"", ""}, true, true},
        {{"\"a\"", ""}, {"\"b\"", ""}, false, false},
        {{"\"a\"", ""}, {"", ""}, true, false},
        {{"W/\"a\"", "Mon"}, {"W/\"a\"", "Mon"}, true, true},
        {{"W/\"a\"", "Mon"}, {"W/\"a\"", "Tue"}, false, false},
        {{"W/\"a\"", ""}, {"W/\"a\"", ""}, true, false},
        {{"", "Mon"}, {"", ""}, true, false},
        {{"", ""}, {"\"x\"", "Mon"}, true, false},
    };
    for (const Case& c : cases) {
        dlengine::FileVersion v{100, c.kept[0], c.kept[1]};
        EXPECT_EQ(v.Allows(c.answer[0], c.answer[1]), c.allows) << c.kept[0] << c.kept[1];
        EXPECT_EQ(v.NamedBy(c.answer[0], c.answer[1]), c.namedBy) << c.kept[0] << c.kept[1];
        // Only a version an answer could name serves a record of another link.
        EXPECT_EQ(v.CanBeNamed(), v.NamedBy(v.etag, v.lastModified)) << c.kept[0] << c.kept[1];
    }
    EXPECT_EQ((dlengine::FileVersion{1, "W/\"a\"", "Mon"}).IfRangeValidator(), "Mon");
    EXPECT_EQ((dlengine::FileVersion{1, "\"a\"", "Mon"}).IfRangeValidator(), "\"a\"");
}

// Waits double up to the cap; requests already out when a failure was counted fail of the same
// cause and do not count again; the tenth failure in a row gives up.
TEST(RetryBackoff, DoublesToTheCapAndCountsOneOutageOnce) {
    using namespace std::chrono_literals;
    dlengine::RetryBackoff retries(100, 400);
    auto now = dlengine::RetryBackoff::Clock::now();
    retries.Restart(now);
    const auto launched = now;
    const std::chrono::milliseconds waits[] = {100ms, 200ms, 400ms, 400ms};
    for (const auto wait : waits) {
        now += 1s;
        ASSERT_TRUE(retries.Count(now, now));
        EXPECT_FALSE(retries.Due(now + wait - 1ms));
        EXPECT_TRUE(retries.Due(now + wait));
    }
    EXPECT_TRUE(retries.Count(launched, now + 1s)); // out before the last failure
    EXPECT_EQ(retries.Failures(), 4);
    for (int i = 4; i < dlengine::RetryBackoff::kMaxFailures - 1; ++i) {
        now += 1s;
        ASSERT_TRUE(retries.Count(now, now));
    }
    now += 1s;
    EXPECT_FALSE(retries.Count(now, now));
}

// The host's objects belong to the thread that made them: a call from another thread ends
// the process in a debug build, naming the function.
TEST(HostThread, ACallFromAnotherThreadIsCaught) {
#ifdef NDEBUG
    GTEST_SKIP() << "the thread checks are debug-only";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::pair<const char*, std::function<void()>> calls[] = {
        {"TakeResults",
         [] {
             dlengine::DiskFlusher flusher;
             std::thread([&] { flusher.TakeResults(); }).join();
         }},
        {"Fill",
         [] {
             dlengine::DiskFlusher flusher;
             const TaskCreateParams params{};
             const TaskStatusInfo restore{};
             dlengine::Task task(1, params, restore, nullptr, flusher, dlengine::HostSettings{});
             TaskStatusInfo info{};
             std::thread([&] { task.Fill(&info); }).join();
         }},
    };
    for (const auto& [name, call] : calls) {
        EXPECT_DEATH(call(), std::string(name) + ".*must run on the thread of the host's loop");
    }
}

} // namespace
