#include <arpa/inet.h>
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "share_sim_process.h"
#include "support/sandbox.h"
#include "support/wait_for.h"

namespace {

namespace fs = std::filesystem;

const std::string kId = "Zx9AbCdEfGhIjKlMnOpQrSt";

struct Reply {
    CURLcode code = CURLE_OK;
    long status = 0;
    std::string head;
    std::string body;
    double seconds = 0;

    std::string HeaderValue(const std::string& name) const {
        const std::size_t at = head.find("\r\n" + name + ": ");
        if (at == std::string::npos) {
            return {};
        }
        const std::size_t start = at + name.size() + 4;
        return head.substr(start, head.find("\r\n", start) - start);
    }
};

struct FetchOptions {
    std::vector<std::string> headers;
    bool head = false;
    bool pathAsIs = false;
    long timeoutMs = 30000;
    // Set to the body bytes received so far while the fetch runs, for another thread to watch.
    std::atomic<curl_off_t>* received = nullptr;
};

int CountReceived(void* received, curl_off_t, curl_off_t now, curl_off_t, curl_off_t) {
    static_cast<std::atomic<curl_off_t>*>(received)->store(now);
    return 0;
}

std::size_t Collect(char* data, std::size_t size, std::size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

Reply Fetch(const std::string& url, const FetchOptions& options = {}) {
    Reply reply;
    CURL* curl = curl_easy_init();
    curl_slist* list = nullptr;
    for (const std::string& header : options.headers) {
        list = curl_slist_append(list, header.c_str());
    }
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.body);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, Collect);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &reply.head);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, options.timeoutMs);
    curl_easy_setopt(curl, CURLOPT_NOBODY, options.head ? 1L : 0L);
    curl_easy_setopt(curl, CURLOPT_PATH_AS_IS, options.pathAsIs ? 1L : 0L);
    if (options.received != nullptr) {
        curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, CountReceived);
        curl_easy_setopt(curl, CURLOPT_XFERINFODATA, options.received);
    }
    const auto start = std::chrono::steady_clock::now();
    reply.code = curl_easy_perform(curl);
    reply.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
    curl_slist_free_all(list);
    curl_easy_cleanup(curl);
    return reply;
}

std::string TableBody(const std::string& page) {
    const std::size_t open = page.find("<tbody>");
    const std::size_t close = page.find("</tbody>", open);
    if (open == std::string::npos || close == std::string::npos) {
        return "(no tbody)";
    }
    return page.substr(open + 7, close - open - 7);
}

// Bytes that differ at every offset a range test might pick.
std::string Pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    }
    return bytes;
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

class ShareSimTest : public SandboxTest {
protected:
    void SetUp() override {
        SandboxTest::SetUp();
        m_root = PathOf("root");
        const fs::path share = fs::path(m_root) / kId;
        WriteFile(share / ".code", "ab12\n");
        WriteFile(share / "说明.txt", Pattern(512));
        WriteFile(share / "数据-🎵.bin", Pattern(1536 * 1024));
        WriteFile(share / "a&b <c>.txt", Pattern(12595));
        WriteFile(share / "f.bin", Pattern(1000));
        WriteFile(share / "big.bin", Pattern(1024 * 1024));
        WriteFile(PathOf("secret.txt"), "top secret");
        fs::create_symlink(PathOf("secret.txt"), share / "link.txt");
    }

    void Start(const std::vector<std::string>& args = {}) {
        ASSERT_TRUE(m_sim.Start(m_root, args)) << m_sim.Error();
    }

    std::string FileUrl(const std::string& encodedName) const {
        return m_sim.BaseUrl() + "/d/" + kId + "/" + encodedName;
    }

    std::string m_root;
    ShareSimProcess m_sim;
};

TEST_F(ShareSimTest, ListingRowsAreExactAndInNameOrder) {
    Start();
    const Reply reply = Fetch(m_sim.BaseUrl() + "/?share=" + kId + "&pwd=ab12");
    ASSERT_EQ(reply.code, CURLE_OK);
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.HeaderValue("Content-Type"), "text/html; charset=utf-8");
    const std::string link = "<td><a target=\"_blank\" href=\"" + FileUrl("");
    const std::string expected = "\n<tr><td>a&b <c>.txt</td><td>12.3 KB</td>" + link +
                                 "a%26b%20%3Cc%3E.txt\">点我下载</a></td></tr>\n"
                                 "<tr><td>big.bin</td><td>1.00 MB</td>" +
                                 link +
                                 "big.bin\">点我下载</a></td></tr>\n"
                                 "<tr><td>f.bin</td><td>1000 B</td>" +
                                 link +
                                 "f.bin\">点我下载</a></td></tr>\n"
                                 "<tr><td>数据-🎵.bin</td><td>1.50 MB</td>" +
                                 link +
                                 "%E6%95%B0%E6%8D%AE-%F0%9F%8E%B5.bin\">点我下载</a></td></tr>\n"
                                 "<tr><td>说明.txt</td><td>512 B</td>" +
                                 link + "%E8%AF%B4%E6%98%8E.txt\">点我下载</a></td></tr>\n";
    EXPECT_EQ(TableBody(reply.body), expected);

    // Every listed link downloads the file it names.
    const Reply file = Fetch(FileUrl("%E6%95%B0%E6%8D%AE-%F0%9F%8E%B5.bin"));
    EXPECT_EQ(file.status, 200);
    EXPECT_EQ(file.body, Pattern(1536 * 1024));
}

TEST_F(ShareSimTest, ShareQueriesToleranceAndRefusals) {
    Start();
    struct Case {
        std::string query;
        bool listed;
    };
    const std::vector<Case> cases = {
        {"share=" + kId + "&pwd=ab12", true},
        {"share=" + kId + "%20&pwd=ab12", true},
        {"share=" + kId + "%0D&pwd=ab12", true},
        {"share=" + kId + "~&pwd=ab12", true},
        {"share=" + kId + "%20%0D%0A~&pwd=ab12", true},
        {"share=" + kId + "&pwd=AB12", true},
        {"share=" + kId + "&pwd=ab13", false},
        {"share=" + kId + "&pwd=ab1", false},
        {"share=" + kId, false},
        {"share=" + kId + "x&pwd=ab12", false},
        {"share=&pwd=", false},
        {"share=..&pwd=ab12", false},
        {"share=%2E%2E%2Froot%2F" + kId + "&pwd=ab12", false},
        {"share=%zz&pwd=ab12", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query);
        const Reply reply = Fetch(m_sim.BaseUrl() + "/?" + c.query);
        ASSERT_EQ(reply.code, CURLE_OK);
        EXPECT_EQ(reply.body.find("<tbody>") != std::string::npos, c.listed);
        EXPECT_EQ(reply.body.find("<tr><td>f.bin</td>") != std::string::npos, c.listed);
    }
    const Reply home = Fetch(m_sim.BaseUrl() + "/");
    EXPECT_EQ(home.status, 200);
    EXPECT_EQ(home.body.find("<tbody>"), std::string::npos);
}

TEST_F(ShareSimTest, ByteRanges) {
    Start();
    const std::string file = Pattern(1000);
    struct Case {
        std::vector<std::string> headers;
        long status;
        std::string contentRange;
        std::string body;
    };
    const std::vector<Case> cases = {
        {{}, 200, "", file},
        {{"Range: bytes=10-19"}, 206, "bytes 10-19/1000", file.substr(10, 10)},
        {{"Range: bytes=990-"}, 206, "bytes 990-999/1000", file.substr(990)},
        {{"Range: bytes=-5"}, 206, "bytes 995-999/1000", file.substr(995)},
        {{"Range: bytes=995-5000"}, 206, "bytes 995-999/1000", file.substr(995)},
        {{"Range: bytes=999-999"}, 206, "bytes 999-999/1000", file.substr(999)},
        {{"Range: bytes=1000-"}, 416, "bytes */1000", ""},
        {{"Range: bytes=-0"}, 416, "bytes */1000", ""},
        {{"Range: bytes=0-1,5-6"}, 200, "", file},
        {{"Range: bytes=9-2"}, 200, "", file},
        {{"Range: lines=1-2"}, 200, "", file},
        {{"Range: bytes=10-19", "If-Range: \"stale\""}, 200, "", file},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.headers.empty() ? "no range" : c.headers.front());
        const Reply reply = Fetch(FileUrl("f.bin"), {c.headers});
        ASSERT_EQ(reply.code, CURLE_OK);
        EXPECT_EQ(reply.status, c.status);
        EXPECT_EQ(reply.HeaderValue("Content-Range"), c.contentRange);
        EXPECT_EQ(reply.body, c.body);
        EXPECT_EQ(reply.HeaderValue("Content-Length"), std::to_string(c.body.size()));
        EXPECT_FALSE(reply.HeaderValue("ETag").empty());
        EXPECT_FALSE(reply.HeaderValue("Last-Modified").empty());
    }

    // A resume that names the current version keeps its range; HEAD sends no body.
    const Reply whole = Fetch(FileUrl("f.bin"), {.headers = {}, .head = true});
    EXPECT_EQ(whole.status, 200);
    EXPECT_EQ(whole.HeaderValue("Content-Length"), "1000");
    EXPECT_TRUE(whole.body.empty());
    const Reply resumed =
        Fetch(FileUrl("f.bin"),
              {.headers = {"Range: bytes=500-", "If-Range: " + whole.HeaderValue("ETag")}});
    EXPECT_EQ(resumed.status, 206);
    EXPECT_EQ(resumed.body, file.substr(500));
}

TEST_F(ShareSimTest, NoRangesSendsTheWholeFileToEveryRequest) {
    Start({"--no-ranges"});
    const std::string file = Pattern(1000);
    for (const char* range : {"Range: bytes=10-19", "Range: bytes=1000-"}) {
        const Reply reply = Fetch(FileUrl("f.bin"), {{range}});
        EXPECT_EQ(reply.status, 200) << range;
        EXPECT_EQ(reply.body, file) << range;
        EXPECT_EQ(reply.HeaderValue("Accept-Ranges"), "") << range;
    }
}

TEST_F(ShareSimTest, PathsOutsideTheShareAreRefused) {
    Start();
    const std::vector<std::string> paths = {
        "/d/../secret.txt",
        "/d/" + kId + "/../../secret.txt",
        "/d/" + kId + "/..%2F..%2Fsecret.txt",
        "/d/%2E%2E/secret.txt",
        "/d/" + kId + "/.code",
        "/d/" + kId + "/link.txt",
        "/d/" + kId,
        "/d/" + kId + "/%zz",
        "/d/" + kId + "/missing.bin",
        "/../secret.txt",
    };
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        const Reply reply = Fetch(m_sim.BaseUrl() + path, {.headers = {}, .pathAsIs = true});
        ASSERT_EQ(reply.code, CURLE_OK);
        EXPECT_TRUE(reply.status == 403 || reply.status == 404) << reply.status;
        EXPECT_EQ(reply.body.find("secret"), std::string::npos);
        EXPECT_EQ(reply.body.find("ab12"), std::string::npos);
    }
    const Reply listing = Fetch(m_sim.BaseUrl() + "/?share=" + kId + "&pwd=ab12");
    EXPECT_EQ(listing.body.find("link.txt"), std::string::npos);
    EXPECT_EQ(listing.body.find(".code"), std::string::npos);
}

TEST_F(ShareSimTest, OddRequestsGetAnAnswerAndTheServiceCarriesOn) {
    Start();
    const std::vector<std::string> requests = {
        "\r\n\r\n",
        "GET\r\n\r\n",
        "GET /d/x HTTP/9.9\r\n\r\n",
        "GET / HTTP/1.1\r\nNo colon here\r\n\r\n",
        "GET /" + std::string(40000, 'a') + " HTTP/1.1\r\n\r\n",
        "POST / HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc",
    };
    for (const std::string& request : requests) {
        SCOPED_TRACE(request.substr(0, 40));
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(m_sim.Port()));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        timeval timeout{10, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        char answer[64] = {};
        const ssize_t got = recv(fd, answer, sizeof answer - 1, 0);
        close(fd);
        EXPECT_GT(got, 0);
        EXPECT_EQ(std::string(answer).rfind("HTTP/1.1 4", 0), 0u) << answer;
    }
    EXPECT_EQ(Fetch(FileUrl("f.bin")).body, Pattern(1000));
}

TEST_F(ShareSimTest, DropAfterClosesTheConnectionInTheRange) {
    Start({"--drop-after", "64K-128K"});
    for (int i = 0; i < 3; ++i) {
        const Reply reply = Fetch(FileUrl("big.bin"));
        EXPECT_EQ(reply.code, CURLE_PARTIAL_FILE);
        EXPECT_GE(reply.body.size(), 64u * 1024);
        EXPECT_LE(reply.body.size(), 128u * 1024);
        EXPECT_EQ(reply.body, Pattern(1024 * 1024).substr(0, reply.body.size()));
    }
    EXPECT_EQ(Fetch(FileUrl("f.bin")).body, Pattern(1000)); // shorter than the drop point
}

TEST_F(ShareSimTest, Fail5xxAnswersDownloadsOnly) {
    Start({"--fail-5xx", "1"});
    EXPECT_EQ(Fetch(FileUrl("f.bin")).status, 503);
    EXPECT_NE(Fetch(m_sim.BaseUrl() + "/?share=" + kId + "&pwd=ab12").body.find("<tbody>"),
              std::string::npos);
}

class ShareSimRateTest : public ShareSimTest,
                         public ::testing::WithParamInterface<std::vector<std::string>> {};

// 1 MiB at 512 KiB/s takes at least a second, and so does any answer held back by a second;
// no upper bound on a shared machine.
TEST_P(ShareSimRateTest, ADownloadRunsNoFasterThanItsRate) {
    Start(GetParam());
    const Reply reply = Fetch(FileUrl("big.bin"));
    EXPECT_EQ(reply.body, Pattern(1024 * 1024));
    EXPECT_GE(reply.seconds, 1.0);
}

INSTANTIATE_TEST_SUITE_P(Limits, ShareSimRateTest,
                         ::testing::Values(std::vector<std::string>{"--rate", "512K"},
                                           std::vector<std::string>{"--rate", "4M", "--slow-one-in",
                                                                    "1", "--slow-factor", "8"},
                                           std::vector<std::string>{"--latency", "1000"}));

// A client's downloads past --max-conns are refused while the others run, and only then.
TEST_F(ShareSimTest, MaxConnsRefusesAClientsDownloadsPastTheLimit) {
    Start({"--max-conns", "1", "--rate", "512K"});
    Reply first;
    std::atomic<curl_off_t> received{0};
    std::thread running(
        [&] { first = Fetch(FileUrl("big.bin"), {.headers = {}, .received = &received}); });
    // Its bytes flow: it holds the client's one place (for 2 s at 512 KiB/s).
    EXPECT_TRUE(WaitFor([&] { return received > 0; }));
    EXPECT_EQ(Fetch(FileUrl("f.bin")).status, 503);
    EXPECT_NE(Fetch(m_sim.BaseUrl() + "/?share=" + kId + "&pwd=ab12").body.find("<tbody>"),
              std::string::npos); // pages are not downloads
    running.join();
    EXPECT_EQ(first.body, Pattern(1024 * 1024));
    EXPECT_EQ(Fetch(FileUrl("f.bin")).body, Pattern(1000));
}

TEST_F(ShareSimTest, StallKeepsTheFirstDownloadSilentAndTermStillEndsTheService) {
    Start({"--stall-after", "100000", "--log", PathOf("log.txt")});
    const Reply stalled = Fetch(FileUrl("big.bin"), {.headers = {}, .timeoutMs = 1500});
    EXPECT_EQ(stalled.code, CURLE_OPERATION_TIMEDOUT);
    EXPECT_EQ(stalled.body.size(), 100000u);
    const Reply next = Fetch(FileUrl("big.bin"), {.headers = {"Range: bytes=0-9"}});
    EXPECT_EQ(next.body, Pattern(10));
    EXPECT_EQ(m_sim.Stop(), 0);

    std::ifstream in(PathOf("log.txt"));
    const std::string log{std::istreambuf_iterator<char>(in), {}};
    const std::string path = "/d/" + kId + "/big.bin";
    // The stalled request is logged when its client leaves, so the order may vary.
    const std::string stalledLine = "GET\t" + path + "\t-\t100000\t200\n";
    const std::string rangeLine = "GET\t" + path + "\tbytes=0-9\t10\t206\n";
    EXPECT_TRUE(log == stalledLine + rangeLine || log == rangeLine + stalledLine) << log;
}

TEST_F(ShareSimTest, StallEveryHoldsEachDownload) {
    Start({"--stall-after", "5000", "--stall-every"});
    for (int i = 0; i < 2; ++i) {
        const Reply reply = Fetch(FileUrl("big.bin"), {.headers = {}, .timeoutMs = 1000});
        EXPECT_EQ(reply.code, CURLE_OPERATION_TIMEDOUT);
        EXPECT_EQ(reply.body, Pattern(5000));
    }
}

TEST_F(ShareSimTest, PageFileReplacesEveryListing) {
    const std::string page = "<tbody><tr><td>\xff\xfe odd</td></tr></tbody>";
    WriteFile(PathOf("page.html"), page);
    Start({"--page", PathOf("page.html")});
    EXPECT_EQ(Fetch(m_sim.BaseUrl() + "/?share=nothing&pwd=zzzz").body, page);
}

TEST(ShareSimCommandLine, BadFlagsAreRefusedAndHelpNamesEveryFlag) {
    ScopedTempDir root;
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--rate", "fast"},
                                               {"--fail-5xx", "2"},
                                               {"--drop-after", "8M-1M"},
                                               {"--slow-one-in", "3"},
                                               {"--listing-status", "600"},
                                               {"--max-conns", "0"},
                                               {"--latency", "soon"},
                                               {"--bogus", "1"}}) {
        ShareSimProcess sim;
        EXPECT_FALSE(sim.Start(root.Path(), args)) << args.front();
    }
    std::string help;
    FILE* pipe = popen((ShareSimProcess::Program() + " --help").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char chunk[4096];
    for (std::size_t got; (got = fread(chunk, 1, sizeof chunk, pipe)) > 0;) {
        help.append(chunk, got);
    }
    EXPECT_EQ(pclose(pipe), 0);
    for (const char* flag :
         {"--root", "--host", "--port", "--rate", "--slow-one-in", "--slow-factor", "--drop-after",
          "--fail-5xx", "--stall-after", "--stall-every", "--no-ranges", "--latency", "--max-conns",
          "--page", "--listing-status", "--listing-stall", "--log", "--seed"}) {
        EXPECT_NE(help.find(flag), std::string::npos) << flag;
    }
}

} // namespace
