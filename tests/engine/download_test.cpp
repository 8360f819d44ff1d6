// Downloads through the six C functions, against a loopback server the tests script.

#include "dlengine_files.h"
#include "engine_fixture.h"
#include "progress_file.h"
#include "utf16.h"
#include "work_plan.h"

#include "support/wait_for.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <set>
#include <sys/wait.h>
#include <thread>

namespace {

constexpr size_t kMiB = 1 << 20;

std::string StatusName(const TaskStatusInfo& s) {
    return dlengine::Utf16FieldToUtf8(s.szFilename, 260);
}

struct ServeCase {
    const char* label;
    size_t size;
    bool ranges;
    bool sendLength;
    bool redirect;
    int dropTimes;         // responses cut short after 100 KiB
    int stallTimes;        // responses that go silent after 64 KiB
    bool manyConnections;  // the server must see more than one range request
    int firstRate = 0;     // the first response trickles at this many bytes a second
    bool dripHead = false; // the first response trickles its head for a minute
};

class DownloadCases : public EngineTest, public ::testing::WithParamInterface<ServeCase> {};

TEST_P(DownloadCases, FileArrivesWholeAndTheWorkFilesAreGone) {
    const ServeCase& c = GetParam();
    ServedFile file;
    file.body = MakeBody(c.size, static_cast<unsigned>(c.size));
    file.ranges = c.ranges;
    file.sendLength = c.sendLength;
    file.dropAfter = 100 * 1024;
    file.dropTimes = c.dropTimes;
    file.stallAfter = 64 * 1024;
    file.stallTimes = c.stallTimes;
    // Unpaced, a loopback file can arrive whole on the first request before it is split.
    file.bytesPerSecond = c.manyConnections ? 8 * 1024 * 1024 : 0;
    file.slowFrom = c.firstRate > 0 ? 0 : -1;
    file.slowTimes = 1;
    file.slowBytesPerSecond = c.firstRate;
    file.dripHeadTimes = c.dripHead ? 1 : 0;
    m_server->Serve("/f.bin", file);
    std::string url = m_server->Url("/f.bin");
    if (c.redirect) {
        ServedFile hop;
        hop.redirectTo = m_server->Url("/f.bin");
        m_server->Serve("/hop", hop);
        url = m_server->Url("/hop");
    }
    const int32_t h = Create(url, "f.bin");
    ASSERT_GT(h, 0);
    EXPECT_EQ(Query(h).stat, DL_STAT_STOPPED);
    DL_StartTask(h);
    TaskStatusInfo s{};
    ASSERT_TRUE(WaitFinished(h, &s)) << c.label << " stat " << s.stat << " fail " << s.fail_code;
    EXPECT_EQ(s.nTotalSize, static_cast<int64_t>(c.size));
    EXPECT_EQ(s.nTotalDownload, static_cast<int64_t>(c.size));
    EXPECT_FLOAT_EQ(s.fPercent, 1.0f);
    EXPECT_EQ(StatusName(s), "f.bin");
    EXPECT_EQ(Sha256Hex(ReadFile(PathOf("f.bin"))), Sha256Hex(file.body)) << c.label;
    EXPECT_EQ(FolderEntries(Dir()), std::set<std::string>{"f.bin"}) << c.label;
    if (c.manyConnections) {
        std::set<long long> starts;
        for (const RecordedRequest& r : m_server->Requests()) {
            starts.insert(r.RangeStart());
            EXPECT_EQ(r.Header("User-Agent"), "dlengine/1.0");
        }
        EXPECT_GT(starts.size(), 2u) << c.label;
    }
    DL_DeleteTask(h);
}

INSTANTIATE_TEST_SUITE_P(
    Servers, DownloadCases,
    ::testing::Values(
        ServeCase{"ranged", 6 * kMiB + 123, true, true, false, 0, 0, true},
        ServeCase{"no ranges", 2 * kMiB + 7, false, true, false, 0, 0, false},
        ServeCase{"no ranges no length", 1 * kMiB + 3, false, false, false, 0, 0, false},
        ServeCase{"redirected", 5 * kMiB, true, true, true, 0, 0, true},
        ServeCase{"small", 1000, true, true, false, 0, 0, false},
        ServeCase{"empty", 0, true, true, false, 0, 0, false},
        ServeCase{"ranged drops", 4 * kMiB, true, true, false, 3, 0, false},
        ServeCase{"unranged drops", 1 * kMiB, false, true, false, 2, 0, false},
        ServeCase{"stall", 2 * kMiB, true, true, false, 0, 1, false},
        // A connection under 1 KiB/s, or whose head does not come, is dropped
        // and tried again like any drop.
        ServeCase{"200 bytes a second", 64 * 1024 + 5, false, true, false, 0, 0, false, 200},
        ServeCase{"trickled head", 1 * kMiB, true, true, false, 0, 0, false, 0, true}),
    [](const ::testing::TestParamInfo<ServeCase>& info) {
        std::string name = info.param.label;
        for (char& ch : name) {
            ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
        }
        return name;
    });

struct RefusalCase {
    const char* label;
    std::string name;
    std::string url; // "" uses the server's /f.bin
    int status;      // the server's answer for /f.bin (0: the file itself)
    int failCode;
    std::string folder = "";     // "" saves into the test's folder
    long long claimedTotal = -1; // the size the server claims (loopback_server.h)
    bool ranges = true;
    // Every range is answered from the first byte, and the first answer comes late: another
    // first request's answer decides.
    bool fromStart = false;
};

class RefusalCases : public EngineTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(RefusalCases, FailWithTheirCodeAndLeaveNoFinalFile) {
    const RefusalCase& c = GetParam();
    ServedFile file;
    file.body = MakeBody(300 * 1024, 7);
    file.status = c.status;
    file.claimedTotal = c.claimedTotal;
    file.ranges = c.ranges;
    file.rangesFromStart = c.fromStart;
    file.dripHeadTimes = c.fromStart ? 1 : 0;
    m_server->Serve("/f.bin", file);
    TaskOptions options;
    options.folder = c.folder;
    const int32_t h = Create(c.url.empty() ? m_server->Url("/f.bin") : c.url, c.name, options);
    DL_StartTask(h);
    TaskStatusInfo s{};
    EXPECT_FALSE(WaitFinished(h, &s)) << c.label;
    EXPECT_EQ(s.stat, DL_STAT_FAILED) << c.label;
    EXPECT_EQ(s.fail_code, c.failCode) << c.label;
    // Nothing was written, so nothing is left: no empty working file, no reserved blocks.
    EXPECT_TRUE(FolderEntries(Dir()).empty()) << c.label;
    if (c.failCode == DL_FAIL_FILENAME || c.failCode == DL_FAIL_URL) {
        EXPECT_TRUE(m_server->Requests().empty()) << c.label;
    }
    DL_DeleteTask(h);
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, RefusalCases,
    ::testing::Values(
        RefusalCase{"not found", "f.bin", "", 404, DL_FAIL_HTTP},
        RefusalCase{"forbidden", "f.bin", "", 403, DL_FAIL_HTTP},
        RefusalCase{"gone", "f.bin", "", 410, DL_FAIL_HTTP},
        RefusalCase{"always busy", "f.bin", "", 503, DL_FAIL_NETWORK},
        RefusalCase{"empty name", "", "", 0, DL_FAIL_FILENAME},
        RefusalCase{"dot", ".", "", 0, DL_FAIL_FILENAME},
        RefusalCase{"dot dot", "..", "", 0, DL_FAIL_FILENAME},
        RefusalCase{"slash", "../escape.bin", "", 0, DL_FAIL_FILENAME},
        RefusalCase{"absolute", "/tmp/x.bin", "", 0, DL_FAIL_FILENAME},
        RefusalCase{"too long", std::string(256, 'n'), "", 0, DL_FAIL_FILENAME},
        RefusalCase{"a working name", "setup.bin.td", "", 0, DL_FAIL_FILENAME},
        RefusalCase{"a record's name", "setup.bin.TD.Cfg", "", 0, DL_FAIL_FILENAME},
        RefusalCase{"a bidi override",
                    "gpj.\xE2\x80\xAE"
                    "exe.txt",
                    "", 0, DL_FAIL_FILENAME},
        RefusalCase{"an escape sequence", "a\x1B[2Jb.txt", "", 0, DL_FAIL_FILENAME},
        // A claimed size the disk cannot hold fails at once and reserves nothing.
        RefusalCase{"claims 1 TiB", "f.bin", "", 0, DL_FAIL_DISK, "", 1LL << 40},
        RefusalCase{"claims 1 TiB whole", "f.bin", "", 0, DL_FAIL_DISK, "", 1LL << 40, false},
        RefusalCase{"claims 1 TiB from the first byte", "f.bin", "", 0, DL_FAIL_DISK, "", 1LL << 40,
                    true, true},
        RefusalCase{"ftp", "f.bin", "ftp://127.0.0.1/f.bin", 0, DL_FAIL_URL},
        RefusalCase{"no url", "f.bin", "nonsense", 0, DL_FAIL_URL},
        RefusalCase{"space in the host", "f.bin", "http://127.0.0.1 x/f.bin", 0, DL_FAIL_URL},
        RefusalCase{"no host", "f.bin", "http:///f.bin", 0, DL_FAIL_URL},
        // A folder that fills its whole field was cut: saving there would put
        // the file in some other folder.
        RefusalCase{"cut folder", "f.bin", "", 0, DL_FAIL_FILENAME, "/" + std::string(259, 'd')},
        RefusalCase{"relative folder", "f.bin", "", 0, DL_FAIL_FILENAME, "rel/"}),
    [](const ::testing::TestParamInfo<RefusalCase>& info) {
        std::string name = info.param.label;
        for (char& ch : name) {
            ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
        }
        return name;
    });

struct LinkCase {
    const char* label;
    std::string link;      // after "http://HOST:PORT"; HOST is given below
    std::string wirePath;  // the path the server must see
    std::string host = ""; // "" is the server's own address
    bool ipv6 = false;
};

class LinkCases : public EngineTest, public ::testing::WithParamInterface<LinkCase> {};

// Links as services write them: bytes a URL cannot carry are encoded on the way out, never
// refused; hosts may be IPv6 literals or internationalised names.
TEST_P(LinkCases, DownloadThroughTheLinkAsWritten) {
    const LinkCase& c = GetParam();
    if (c.ipv6) {
        m_server = std::make_unique<LoopbackServer>(LoopbackServer::Family::kIPv6);
    }
    ServedFile file;
    file.body = MakeBody(300 * 1024, 5);
    m_server->Serve(c.wirePath, file);
    std::string base = m_server->Url("");
    const std::string port = std::to_string(m_server->Port());
    if (!c.host.empty()) {
        base = "http://" + c.host + ":" + port;
    }
    const int32_t h = Create(base + c.link, "f.bin");
    DL_StartTask(h);
    TaskStatusInfo s{};
    ASSERT_TRUE(WaitFinished(h, &s)) << c.label << " fail " << s.fail_code;
    EXPECT_EQ(ReadFile(PathOf("f.bin")), file.body) << c.label;
    const auto log = m_server->Requests();
    ASSERT_FALSE(log.empty());
    if (!c.host.empty()) {
        EXPECT_EQ(log.front().Header("Host"), "xn--bcher-kva.localhost:" + port) << c.label;
    }
    DL_DeleteTask(h);
}

INSTANTIATE_TEST_SUITE_P(
    Links, LinkCases,
    ::testing::Values(
        LinkCase{"raw space", "/a b.bin", "/a%20b.bin"},
        LinkCase{"raw UTF-8 and a quote", "/\xE6\x96\x87 \"1\".bin?q=\xC3\xA9",
                 "/%E6%96%87%20\"1\".bin?q=%C3%A9"},
        LinkCase{"fragment stays home", "/f.bin#part", "/f.bin"},
        LinkCase{"IPv6 literal", "/f.bin", "/f.bin", "", true},
        // libcurl converts the name (IDN); "*.localhost" reaches the loopback address.
        LinkCase{"internationalised host", "/f.bin", "/f.bin",
                 "b\xC3\xBC"
                 "cher.localhost"}),
    [](const ::testing::TestParamInfo<LinkCase>& info) {
        std::string name = info.param.label;
        for (char& ch : name) {
            ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
        }
        return name;
    });

TEST_F(EngineTest, UnknownHandlesReadAsNoTask) {
    TaskStatusInfo s{};
    s.stat = 99;
    EXPECT_EQ(DL_QueryTaskInfoEx(987654, &s), 0);
    EXPECT_EQ(s.stat, DL_STAT_NONE);
    EXPECT_EQ(DL_StartTask(987654), 0);
    const int32_t a = Create(m_server->Url("/x"), "x");
    const int32_t b = Create(m_server->Url("/x"), "x");
    EXPECT_GT(a, 0);
    EXPECT_GT(b, a);
    EXPECT_EQ(DL_DeleteTask(a), 1);
    EXPECT_EQ(Query(a).stat, DL_STAT_NONE);
    EXPECT_EQ(DL_DeleteTask(a), 0);
    EXPECT_EQ(Create(m_server->Url("/x"), "x"), b + 1); // handles are never reused
    DL_DeleteTask(b);
    DL_DeleteTask(b + 1);
}

TEST_F(EngineTest, AnExistingFileGetsANumberedNameUnlessReplacing) {
    ServedFile file;
    file.body = MakeBody(200 * 1024, 3);
    m_server->Serve("/f.bin", file);
    std::ofstream(PathOf("f.bin")) << "mine";
    TaskOptions keep;
    keep.replace = false;
    const int32_t h1 = Create(m_server->Url("/f.bin"), "f.bin", keep);
    DL_StartTask(h1);
    TaskStatusInfo s{};
    ASSERT_TRUE(WaitFinished(h1, &s));
    EXPECT_EQ(StatusName(s), "f(1).bin");
    EXPECT_EQ(ReadFile(PathOf("f.bin")), "mine");
    EXPECT_EQ(ReadFile(PathOf("f(1).bin")), file.body);

    const int32_t h2 = Create(m_server->Url("/f.bin"), "f.bin");
    DL_StartTask(h2);
    ASSERT_TRUE(WaitFinished(h2, &s));
    EXPECT_EQ(StatusName(s), "f.bin");
    EXPECT_EQ(ReadFile(PathOf("f.bin")), file.body);
    DL_DeleteTask(h1);
    DL_DeleteTask(h2);
}

TEST_F(EngineTest, RefererAndCookiesGoOutOnlyWhenGiven) {
    ServedFile file;
    file.body = MakeBody(3 * kMiB, 4);
    m_server->Serve("/f.bin", file);
    TaskOptions with;
    with.referer = "http://127.0.0.1/list";
    with.cookies = "sid=abc; tok=1";
    const int32_t h1 = Create(m_server->Url("/f.bin"), "a.bin", with);
    DL_StartTask(h1);
    ASSERT_TRUE(WaitFinished(h1));
    const size_t first = m_server->Requests().size();
    const int32_t h2 = Create(m_server->Url("/f.bin"), "b.bin");
    DL_StartTask(h2);
    ASSERT_TRUE(WaitFinished(h2));
    const auto log = m_server->Requests();
    ASSERT_GE(first, 1u);
    for (size_t i = 0; i < log.size(); ++i) {
        EXPECT_EQ(log[i].Header("Referer"), i < first ? with.referer : "") << i;
        EXPECT_EQ(log[i].Header("Cookie"), i < first ? with.cookies : "") << i;
    }
    EXPECT_EQ(ReadFile(PathOf("b.bin")), file.body);
    DL_DeleteTask(h1);
    DL_DeleteTask(h2);
}

TEST_F(EngineTest, SeveralThreadsDriveTasksAtOnce) {
    constexpr int kThreads = 4;
    std::vector<ServedFile> files(kThreads);
    for (int i = 0; i < kThreads; ++i) {
        files[i].body = MakeBody(kMiB + static_cast<size_t>(i) * 4099, 100 + i);
        m_server->Serve("/f" + std::to_string(i), files[i]);
    }
    std::vector<int> finished(kThreads, 0);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            const int32_t h =
                Create(m_server->Url("/f" + std::to_string(i)), "f" + std::to_string(i) + ".bin");
            DL_StartTask(h);
            finished[i] = WaitFinished(h) ? 1 : 0;
            DL_StopTask(h);
            DL_DeleteTask(h);
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    for (int i = 0; i < kThreads; ++i) {
        EXPECT_EQ(finished[i], 1) << i;
        EXPECT_EQ(ReadFile(PathOf("f" + std::to_string(i) + ".bin")), files[i].body) << i;
    }
}

// A slow file, so that a test can act while the download is under way.
ServedFile SlowFile(size_t size, unsigned seed) {
    ServedFile file;
    file.body = MakeBody(size, seed);
    file.etag = "\"v1\"";
    file.bytesPerSecond = 512 * 1024;
    return file;
}

bool HasSomeBytes(const TaskStatusInfo& s) {
    return s.stat == DL_STAT_DOWNLOADING && s.nTotalDownload > 256 * 1024;
}

// Bytes the progress record of `name` counts as done; -1 without an intact record.
int64_t RecordedBytes(const std::string& dir, const std::string& name) {
    dlengine::Progress p;
    const std::string path = dir + "/" + dlengine::WorkingStem(name) + ".td.cfg";
    return dlengine::DecodeProgress(ReadFile(path), &p) ? p.total - p.MissingBytes() : -1;
}

// Waits for the record written at the stop, then checks that every byte outside its missing
// ranges is already the file's: the record is written only after the data it claims.
void ExpectRecordClaimsOnlyWrittenBytes(const std::string& dir, const std::string& name,
                                        const std::string& body) {
    ASSERT_TRUE(WaitFor([&] { return RecordedBytes(dir, name) > 0; })) << name;
    const std::string stem = dlengine::WorkingStem(name);
    dlengine::Progress p;
    ASSERT_TRUE(dlengine::DecodeProgress(ReadFile(dir + "/" + stem + ".td.cfg"), &p)) << name;
    const std::string data = ReadFile(dir + "/" + stem + ".td");
    ASSERT_EQ(p.total, static_cast<int64_t>(body.size()));
    ASSERT_EQ(data.size(), body.size());
    int64_t at = 0;
    p.missing.push_back({p.total, p.total});
    for (const dlengine::ByteRange& r : p.missing) {
        EXPECT_EQ(data.compare(at, r.begin - at, body, at, r.begin - at), 0)
            << "claimed bytes " << at << "-" << r.begin << " differ";
        at = r.end;
    }
}

TEST_F(EngineTest, StopThenStartContinuesWhereItWas) {
    const ServedFile file = SlowFile(3 * kMiB, 11);
    m_server->Serve("/f.bin", file);
    const int32_t h = Create(m_server->Url("/f.bin"), "f.bin");
    DL_StartTask(h);
    ASSERT_TRUE(WaitStatus(h, HasSomeBytes, std::chrono::seconds(20)));
    EXPECT_TRUE(IsFileLocked(PathOf("f.bin.td")));
    EXPECT_TRUE(IsFileLocked(PathOf("f.bin.td.cfg")));
    DL_StopTask(h);
    const TaskStatusInfo stopped = Query(h);
    EXPECT_EQ(stopped.stat, DL_STAT_STOPPED);
    EXPECT_GT(stopped.nTotalDownload, 0);
    // A stopped task keeps its files: no other task may write them meanwhile.
    EXPECT_TRUE(IsFileLocked(PathOf("f.bin.td")));
    ExpectRecordClaimsOnlyWrittenBytes(Dir(), "f.bin", file.body);
    const size_t before = m_server->Requests().size();

    DL_StartTask(h);
    TaskStatusInfo s{};
    ASSERT_TRUE(WaitFinished(h, &s)) << s.fail_code;
    EXPECT_EQ(ReadFile(PathOf("f.bin")), file.body);
    const auto log = m_server->Requests();
    ASSERT_GT(log.size(), before);
    for (size_t i = before; i < log.size(); ++i) {
        EXPECT_GT(log[i].RangeStart(), 0) << "request " << i << " started over";
        EXPECT_EQ(log[i].Header("If-Range"), file.etag) << "request " << i;
    }
    DL_DeleteTask(h);
}

TEST_F(EngineTest, DeleteReleasesTheLocksAndKeepsTheFiles) {
    m_server->Serve("/f.bin", SlowFile(3 * kMiB, 12));
    const int32_t h = Create(m_server->Url("/f.bin"), "f.bin");
    DL_StartTask(h);
    ASSERT_TRUE(WaitStatus(h, HasSomeBytes, std::chrono::seconds(20)));
    EXPECT_TRUE(IsFileLocked(PathOf("f.bin.td")));
    DL_StopTask(h);
    DL_DeleteTask(h);
    EXPECT_EQ(Query(h).stat, DL_STAT_NONE);
    EXPECT_TRUE(FileExists(PathOf("f.bin.td")));
    // The last flush still holds them for a moment.
    EXPECT_TRUE(WaitFor([&] {
        return !IsFileLocked(PathOf("f.bin.td")) && !IsFileLocked(PathOf("f.bin.td.cfg"));
    }));
}

struct ChangeCase {
    const char* label;
    bool honourIfRange; // else the server answers the range of the new version: 206, new ETag
    bool twice;         // the file keeps changing: responses alternate between two versions
};

class FileChanges : public EngineTest, public ::testing::WithParamInterface<ChangeCase> {};

// The file changes on the server mid-download, same size, new ETag: every byte of the old
// version goes and the download starts over, once; a second change fails the task.
TEST_P(FileChanges, AFinishedFileIsOneVersionWhole) {
    const ChangeCase& c = GetParam();
    ServedFile file = SlowFile(3 * kMiB, 51);
    file.bytesPerSecond = 1024 * 1024;
    file.laterBody = MakeBody(file.body.size(), 52);
    file.laterEtag = "\"v2\"";
    // The first response's first chunk: every request that follows it meets the new version.
    file.changeAfter = 16 * 1024;
    file.honourIfRange = c.honourIfRange;
    file.flipFlop = c.twice;
    m_server->Serve("/f.bin", file);
    const int32_t h = Create(m_server->Url("/f.bin"), "f.bin");
    DL_StartTask(h);
    TaskStatusInfo s{};
    const bool finished = WaitFinished(h, &s);
    // A response under way keeps its version, so on a loaded machine every connection may have
    // started before the switch: the old version whole is then a right result too. What must
    // never finish is a mix.
    const std::string got = finished ? Sha256Hex(ReadFile(PathOf("f.bin"))) : "";
    const bool oneVersion = got == Sha256Hex(file.laterBody) || got == Sha256Hex(file.body);
    if (c.twice && !finished) {
        EXPECT_EQ(s.fail_code, DL_FAIL_HTTP) << c.label;
        EXPECT_FALSE(FileExists(PathOf("f.bin"))) << c.label;
    } else {
        ASSERT_TRUE(finished) << c.label << " fail " << s.fail_code;
        EXPECT_TRUE(oneVersion) << c.label << ": the finished file mixes two versions";
        EXPECT_EQ(FolderEntries(Dir()), std::set<std::string>{"f.bin"});
    }
    // Every request but a version's first ones (sent together before any answer, each at its
    // fixed place) asks for its range of the version kept.
    for (const RecordedRequest& r : m_server->Requests()) {
        const bool firstPlace = r.RangeStart() % dlengine::kFirstSpan == 0 &&
                                r.RangeStart() < dlengine::kFirstRequests * dlengine::kFirstSpan;
        if (!firstPlace) {
            EXPECT_FALSE(r.Header("If-Range").empty()) << c.label << " at " << r.RangeStart();
        }
    }
    DL_DeleteTask(h);
}

INSTANTIATE_TEST_SUITE_P(Changes, FileChanges,
                         ::testing::Values(ChangeCase{"whole file for a stale range", true, false},
                                           ChangeCase{"new ETag on a range", false, false},
                                           ChangeCase{"changed twice", true, true}),
                         [](const ::testing::TestParamInfo<ChangeCase>& info) {
                             std::string name = info.param.label;
                             for (char& ch : name) {
                                 ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
                             }
                             return name;
                         });

class SameFileTwice : public EngineTest, public ::testing::WithParamInterface<bool> {};

// A second task of a file that a live task writes never touches that task's bytes: it fails
// at once with fail_code 7, the first finishes over the right file, and the second, started
// again once the first is done, downloads the file afresh.
TEST_P(SameFileTwice, TheSecondTaskFailsAndTheFirstFinishesWhole) {
    ServedFile file = SlowFile(2 * kMiB, 61);
    file.ranges = GetParam();
    m_server->Serve("/f.bin", file);
    const int32_t first = Create(m_server->Url("/f.bin"), "f.bin");
    DL_StartTask(first);
    ASSERT_TRUE(WaitStatus(first, HasSomeBytes, std::chrono::seconds(20)));
    const int32_t second = Create(m_server->Url("/f.bin"), "f.bin");
    DL_StartTask(second);
    TaskStatusInfo s{};
    ASSERT_TRUE(WaitStatus(
        second, [](const TaskStatusInfo& x) { return x.stat == DL_STAT_FAILED; },
        std::chrono::seconds(5), &s));
    EXPECT_EQ(s.fail_code, DL_FAIL_IN_USE);
    // A third one, deleted while the first runs, releases nothing of the first's.
    const int32_t third = Create(m_server->Url("/f.bin"), "f.bin");
    DL_StartTask(third);
    DL_StopTask(third);
    DL_DeleteTask(third);
    EXPECT_TRUE(IsFileLocked(PathOf("f.bin.td")));
    ASSERT_TRUE(WaitFinished(first, &s)) << s.fail_code;
    EXPECT_EQ(ReadFile(PathOf("f.bin")), file.body);
    EXPECT_EQ(Query(second).stat, DL_STAT_FAILED);

    DL_StartTask(second);
    ASSERT_TRUE(WaitFinished(second, &s)) << s.fail_code;
    EXPECT_EQ(ReadFile(PathOf("f.bin")), file.body);
    EXPECT_EQ(FolderEntries(Dir()), std::set<std::string>{"f.bin"});
    DL_DeleteTask(first);
    DL_DeleteTask(second);
}

INSTANTIATE_TEST_SUITE_P(Servers, SameFileTwice, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "ranges" : "no_ranges");
                         });

class LongNames : public EngineTest, public ::testing::WithParamInterface<size_t> {};

// Every name up to 255 bytes downloads, keeps a progress record, and resumes after a stop;
// the working files take a short name derived from a long one.
TEST_P(LongNames, DownloadStopAndResume) {
    std::string name;
    while (name.size() + 3 <= GetParam() - 4) {
        name += "\xE6\x96\x87"; // 文
    }
    name += std::string(GetParam() - 4 - name.size(), 'x') + ".bin";
    ASSERT_EQ(name.size(), GetParam());
    const ServedFile file = SlowFile(3 * kMiB, 71);
    m_server->Serve("/f.bin", file);
    const int32_t h = Create(m_server->Url("/f.bin"), name);
    DL_StartTask(h);
    ASSERT_TRUE(WaitStatus(h, HasSomeBytes, std::chrono::seconds(20)));
    DL_StopTask(h);
    const std::string stem = dlengine::WorkingStem(name);
    ExpectRecordClaimsOnlyWrittenBytes(Dir(), name, file.body);
    DL_DeleteTask(h);
    ASSERT_TRUE(WaitFor([&] { return !IsFileLocked(PathOf(stem + ".td")); }));

    const size_t before = m_server->Requests().size();
    const int32_t again = Create(m_server->Url("/f.bin"), name);
    DL_StartTask(again);
    TaskStatusInfo s{};
    ASSERT_TRUE(WaitFinished(again, &s)) << s.fail_code;
    EXPECT_EQ(StatusName(s), name);
    EXPECT_EQ(ReadFile(PathOf(name)), file.body);
    EXPECT_EQ(FolderEntries(Dir()), std::set<std::string>{name});
    const auto log = m_server->Requests();
    ASSERT_GT(log.size(), before);
    EXPECT_GT(log[before].RangeStart(), 0) << "the new task started over";
    DL_DeleteTask(again);
}

INSTANTIATE_TEST_SUITE_P(Bytes, LongNames, ::testing::Values(244, 245, 252, 253, 255));

TEST_F(EngineTest, ResumeAfterTheFileChangedStartsOver) {
    m_server->Serve("/f.bin", SlowFile(3 * kMiB, 13));
    const int32_t h = Create(m_server->Url("/f.bin"), "f.bin");
    DL_StartTask(h);
    ASSERT_TRUE(WaitStatus(h, HasSomeBytes, std::chrono::seconds(20)));
    DL_StopTask(h);
    ServedFile changed = SlowFile(2 * kMiB + 5, 14);
    changed.etag = "\"v2\"";
    changed.bytesPerSecond = 0;
    m_server->Serve("/f.bin", changed);
    DL_StartTask(h);
    TaskStatusInfo s{};
    ASSERT_TRUE(WaitFinished(h, &s)) << s.fail_code;
    EXPECT_EQ(s.nTotalSize, static_cast<int64_t>(changed.body.size()));
    EXPECT_EQ(Sha256Hex(ReadFile(PathOf("f.bin"))), Sha256Hex(changed.body));
    DL_DeleteTask(h);
}

struct LostHostCase {
    const char* label;
    int signal;
};

class LostHosts : public EngineTest, public ::testing::WithParamInterface<LostHostCase> {};

// What the process's descriptors point at ("pipe:[123]", a path, ...).
std::set<std::string> DescriptorTargets(int pid) {
    std::set<std::string> targets;
    const std::string dir = "/proc/" + std::to_string(pid) + "/fd";
    for (const std::string& fd : FolderEntries(dir)) {
        char target[4096];
        const ssize_t n = readlink((dir + "/" + fd).c_str(), target, sizeof target);
        if (n > 0) {
            targets.emplace(target, static_cast<size_t>(n));
        }
    }
    return targets;
}

// A host that dies, or stops answering (SIGSTOP), is replaced and the task completes; every
// call still answers within 2 s meanwhile, and the old host is ended and reaped. The new host
// holds nothing of the program's but its command socket, even what the program left
// inheritable.
TEST_P(LostHosts, TheHostIsReplacedAndNoCallWaitsLong) {
    ServedFile file = SlowFile(4 * kMiB, 15);
    file.bytesPerSecond = 1024 * 1024;
    m_server->Serve("/f.bin", file);
    const int32_t h = Create(m_server->Url("/f.bin"), "f.bin");
    DL_StartTask(h);
    ASSERT_TRUE(WaitStatus(h, HasSomeBytes, std::chrono::seconds(20)));
    ASSERT_TRUE(WaitFor([&] { return RecordedBytes(Dir(), "f.bin") > 0; }))
        << "no progress record on disk";
    const int pid = FindHostPid();
    ASSERT_GT(pid, 0);
    int inheritable[2];
    ASSERT_EQ(pipe(inheritable), 0);
    char pipeName[64] = {};
    const std::string own = "/proc/self/fd/" + std::to_string(inheritable[0]);
    ASSERT_GT(readlink(own.c_str(), pipeName, sizeof pipeName - 1), 0);
    ASSERT_EQ(kill(pid, GetParam().signal), 0);
    std::chrono::duration<double> longest{0};
    const auto timed = [&longest](const std::function<void()>& call) {
        const auto start = std::chrono::steady_clock::now();
        call();
        longest = std::max<std::chrono::duration<double>>(longest,
                                                          std::chrono::steady_clock::now() - start);
    };
    int32_t other = 0;
    TaskStatusInfo s{};
    timed([&] { s = Query(h); });
    timed([&] { other = Create(m_server->Url("/f.bin"), "other.bin"); });
    timed([&] { DL_StopTask(h); });
    timed([&] { DL_StartTask(h); });
    timed([&] { DL_DeleteTask(other); });
    for (int i = 0; i < 6; ++i) {
        timed([&] { s = Query(h); });
    }
    EXPECT_LT(longest.count(), 2.0) << GetParam().label;
    EXPECT_TRUE(WaitFor([pid] { return kill(pid, 0) != 0; })) << GetParam().label;
    ASSERT_TRUE(WaitFinished(h, &s)) << s.stat << " " << s.fail_code;
    EXPECT_NE(FindHostPid(), pid);
    EXPECT_EQ(DescriptorTargets(FindHostPid()).count(pipeName), 0u) << pipeName;
    close(inheritable[0]);
    close(inheritable[1]);
    EXPECT_EQ(Sha256Hex(ReadFile(PathOf("f.bin"))), Sha256Hex(file.body));
    DL_DeleteTask(h);
}

INSTANTIATE_TEST_SUITE_P(Signals, LostHosts,
                         ::testing::Values(LostHostCase{"killed", SIGKILL},
                                           LostHostCase{"stopped", SIGSTOP}),
                         [](const ::testing::TestParamInfo<LostHostCase>& info) {
                             return std::string(info.param.label);
                         });

// A host lost again and again while it is making progress is always replaced: the limit on
// restarts is for hosts that die before doing any work.
TEST_F(EngineTest, HostKilledManyTimesWhileWorkingStillFinishes) {
    ServedFile file = SlowFile(24 * kMiB, 17);
    file.bytesPerSecond = 256 * 1024;
    m_server->Serve("/f.bin", file);
    const int32_t h = Create(m_server->Url("/f.bin"), "f.bin");
    DL_StartTask(h);
    int kills = 0;
    int64_t before = 0;
    for (int round = 0; round < 8; ++round) {
        // New bytes first, then a progress record on disk that holds them, then the kill.
        TaskStatusInfo moved{};
        ASSERT_TRUE(WaitStatus(
            h,
            [before](const TaskStatusInfo& s) {
                return s.stat == DL_STAT_FINISHED || s.nTotalDownload > before + 64 * 1024;
            },
            std::chrono::seconds(20), &moved))
            << "round " << round;
        ASSERT_TRUE(WaitFor([&] {
            const int32_t stat = Query(h).stat;
            return RecordedBytes(Dir(), "f.bin") >= moved.nTotalDownload ||
                   stat == DL_STAT_FINISHED || stat == DL_STAT_FAILED;
        })) << "round "
            << round;
        const TaskStatusInfo now = Query(h);
        ASSERT_NE(now.stat, DL_STAT_FAILED) << now.fail_code << " after " << kills << " kills";
        if (now.stat == DL_STAT_FINISHED) {
            break;
        }
        before = now.nTotalDownload;
        const int pid = FindHostPid();
        ASSERT_GT(pid, 0);
        ASSERT_EQ(kill(pid, SIGKILL), 0);
        ++kills;
        // The next query finds the host gone and starts a new one.
        ASSERT_TRUE(WaitStatus(
            h, [pid](const TaskStatusInfo&) { return FindHostPid() > 0 && FindHostPid() != pid; },
            std::chrono::seconds(20)))
            << "no new host after kill " << kills << ", stat " << Query(h).stat;
    }
    EXPECT_GE(kills, 6);
    TaskStatusInfo s{};
    ASSERT_TRUE(WaitFinished(h, &s)) << s.stat << " " << s.fail_code;
    EXPECT_EQ(Sha256Hex(ReadFile(PathOf("f.bin"))), Sha256Hex(file.body));
    DL_DeleteTask(h);
}

#ifdef DLGET_PATH
TEST_F(EngineTest, AnotherProcessResumesAStoppedTask) {
    const ServedFile file = SlowFile(3 * kMiB, 16);
    m_server->Serve("/f.bin", file);
    const int32_t h = Create(m_server->Url("/f.bin"), "f.bin");
    DL_StartTask(h);
    ASSERT_TRUE(WaitStatus(h, HasSomeBytes, std::chrono::seconds(20)));
    DL_StopTask(h);
    DL_DeleteTask(h);
    const size_t before = m_server->Requests().size();

    const std::string command = std::string(DLGET_PATH) + " -q -o f.bin -d '" + Dir() + "' '" +
                                m_server->Url("/f.bin") + "' > /dev/null";
    const int rc = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(rc));
    EXPECT_EQ(WEXITSTATUS(rc), 0);
    EXPECT_EQ(Sha256Hex(ReadFile(PathOf("f.bin"))), Sha256Hex(file.body));
    const auto log = m_server->Requests();
    ASSERT_GT(log.size(), before);
    EXPECT_GT(log[before].RangeStart(), 0) << "the new process started over";
}
#endif

} // namespace
