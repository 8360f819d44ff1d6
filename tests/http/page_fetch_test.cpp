// The plain page fetch against loopback servers that record every request byte for byte.
#include <gtest/gtest.h>

#include "http/page_fetch.h"
#include "http/transfer.h"
#include "support/loopback_ports.h"
#include "support/loopback_server.h"
#include "support/tls_server.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/socket.h>

using namespace pandrel;

namespace {

std::string AsString(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// The process's network connections that a program it starts would inherit.
int InheritableConnections() {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        const int fd = std::atoi(entry.path().filename().c_str());
        int domain = 0;
        socklen_t length = sizeof domain;
        const bool network = getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &length) == 0 &&
                             (domain == AF_INET || domain == AF_INET6);
        const int flags = fcntl(fd, F_GETFD);
        count += network && flags >= 0 && (flags & FD_CLOEXEC) == 0 ? 1 : 0;
    }
    return count;
}

class PageFetchTest : public ::testing::Test {
protected:
    void SetUp() override { ClearProxyEnvironment(); }
    void TearDown() override {
        ClearProxyEnvironment();
        SetTimeoutsForTesting(0, 0);
        SetExtraCaFileForTesting("");
    }
};

TEST_F(PageFetchTest, SendsAPlainHttp10Get) {
    LoopbackServer server(Answer(LoopbackServer::Response("200 OK", {}, "<tbody>x</tbody>")));
    EXPECT_EQ(AsString(FetchPageBytes(server.Url("/page?share=a b&pwd=1#frag ment"))),
              "<tbody>x</tbody>");
    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(HeadOf(requests[0]), "GET /page?share=a%20b&pwd=1 HTTP/1.0\n"
                                   "Host: 127.0.0.1:" +
                                       std::to_string(server.Port()) +
                                       "\n"
                                       "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows "
                                       "NT 5.0)\n"
                                       "Accept: */*\n");
    // The fetcher keeps its connection for the next page; a program started meanwhile must
    // not inherit it.
    EXPECT_EQ(InheritableConnections(), 0);
}

TEST_F(PageFetchTest, RefusesWhatItCannotFetch) {
    LoopbackServer server(Answer(LoopbackServer::Response("200 OK", {}, "body")));
    const std::string hostAndPath = "127.0.0.1:" + std::to_string(server.Port()) + "/x";
    const std::string urls[] = {
        "",
        "#only-a-fragment",
        hostAndPath,
        "ftp://" + hostAndPath,
        "file:///etc/hostname",
        "gopher://" + hostAndPath,
    };
    for (const std::string& url : urls) {
        EXPECT_TRUE(FetchPageBytes(url).empty()) << url;
    }
    EXPECT_TRUE(server.Requests().empty());
    // The scheme is compared without regard to case.
    EXPECT_EQ(AsString(FetchPageBytes("HTTP://" + hostAndPath)), "body");
}

TEST_F(PageFetchTest, FollowsRedirectsAndTheEnvironmentProxy) {
    LoopbackServer server([](const RecordedRequest& request) -> std::optional<std::string> {
        if (request.requestLine.rfind("GET /old ", 0) == 0) {
            return LoopbackServer::Response("301 Moved", {"Location: /new"}, "");
        }
        return LoopbackServer::Response("200 OK", {}, "new page");
    });
    EXPECT_EQ(AsString(FetchPageBytes(server.Url("/old"))), "new page");
    EXPECT_EQ(server.Requests().size(), 2u);

    LoopbackServer proxy(Answer(LoopbackServer::Response("200 OK", {}, "from proxy")));
    setenv("http_proxy", ("http://127.0.0.1:" + std::to_string(proxy.Port())).c_str(), 1);
    EXPECT_EQ(AsString(FetchPageBytes(server.Url("/p"))), "from proxy");
    // An international name goes on in its ASCII form, the path encoded.
    EXPECT_EQ(AsString(FetchPageBytes("http://Bücher.example/p q")), "from proxy");
    auto viaProxy = proxy.Requests();
    ASSERT_EQ(viaProxy.size(), 2u);
    EXPECT_EQ(viaProxy[0].requestLine, "GET " + server.Url("/p") + " HTTP/1.0");
    EXPECT_EQ(viaProxy[1].requestLine, "GET http://xn--bcher-kva.example/p%20q HTTP/1.0");
}

// Every failure gives an empty buffer and says why; an error status is an answer.
TEST_F(PageFetchTest, FailuresGiveEmptyBuffersAndTheirCause) {
    SetTimeoutsForTesting(2, 1);
    LoopbackServer silent([](const RecordedRequest&) { return std::optional<std::string>(); });
    LoopbackServer truncated(Answer("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nshort"));
    LoopbackServer maintenance(Answer(LoopbackServer::Response("503 Busy", {}, "维护中")));
    const UnansweredLoopbackPort unanswered;
    using std::chrono_literals::operator""ms;
    const struct {
        const char* label;
        std::string url;
        // The deadline, this far from the fetch's start; none when not given.
        std::optional<std::chrono::milliseconds> timeLeft;
        FetchFailure failure;
        long status;
        std::string body;
    } cases[] = {
        {"closed port", "http://127.0.0.1:" + std::to_string(ClosedLoopbackPort()) + "/",
         std::nullopt, FetchFailure::NoConnection, 0, ""},
        {"connect never completes", unanswered.Url(), std::nullopt, FetchFailure::NoConnection, 0,
         ""},
        // The deadline comes before the connect time-out would.
        {"connect cut off by the deadline", unanswered.Url(), 500ms, FetchFailure::TimedOut, 0, ""},
        {"no answer", silent.Url("/"), std::nullopt, FetchFailure::TimedOut, 0, ""},
        {"deadline passed", silent.Url("/"), -1000ms, FetchFailure::TimedOut, 0, ""},
        {"cut short", truncated.Url("/"), std::nullopt, FetchFailure::Broken, 200, ""},
        {"not http", "ftp://127.0.0.1/", std::nullopt, FetchFailure::Broken, 0, ""},
        {"error status", maintenance.Url("/"), std::nullopt, FetchFailure::None, 503, "维护中"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const auto deadline = [&c] {
            return c.timeLeft ? Deadline(std::chrono::steady_clock::now() + *c.timeLeft)
                              : std::nullopt;
        };
        const FetchedPage page = FetchPage(c.url, deadline(), kMaxBodyBytes);
        EXPECT_EQ(page.failure, c.failure);
        EXPECT_EQ(page.status, c.status);
        EXPECT_EQ(AsString(page.body), c.body);
        EXPECT_EQ(AsString(FetchPageBytes(c.url, deadline())), c.body);
    }
}

TEST_F(PageFetchTest, CapRefusesLongerPagesAndSaysSo) {
    constexpr std::size_t kCap = 1000;
    LoopbackServer server([](const RecordedRequest& request) -> std::optional<std::string> {
        const auto asked = [&](const char* path) {
            return request.requestLine.rfind(std::string("GET ") + path + " ", 0) == 0;
        };
        if (asked("/exact")) {
            return LoopbackServer::Response("200 OK", {}, std::string(kCap, 'a'));
        }
        if (asked("/stream")) { // no length: the excess shows only as it arrives
            return "HTTP/1.0 200 OK\r\n\r\n" + std::string(kCap + 1, 'c');
        }
        return LoopbackServer::Response("200 OK", {}, std::string(kCap + 1, 'b'));
    });
    const struct {
        const char* path;
        std::size_t size;
        FetchFailure failure;
    } cases[] = {{"/exact", kCap, FetchFailure::None},
                 {"/announced", 0, FetchFailure::TooLarge},
                 {"/stream", 0, FetchFailure::TooLarge}};
    for (const auto& c : cases) {
        const FetchedPage page = FetchPage(server.Url(c.path), std::nullopt, kCap);
        EXPECT_EQ(page.body.size(), c.size) << c.path;
        EXPECT_EQ(page.failure, c.failure) << c.path;
    }
    EXPECT_EQ(FetchPageBytes(server.Url("/announced")).size(), kCap + 1) << "uncapped";
    LoopbackServer silent([](const RecordedRequest&) { return std::optional<std::string>(); });
    SetTimeoutsForTesting(2, 1);
    EXPECT_EQ(FetchPage(silent.Url("/"), std::nullopt, kCap).failure, FetchFailure::TimedOut);
}

TEST_F(PageFetchTest, CertificatesChecked) {
    TlsTestServer server;
    ASSERT_TRUE(server.Ready());
    EXPECT_EQ(FetchPage(server.Url("/"), std::nullopt, kMaxBodyBytes).failure,
              FetchFailure::NoConnection);
    SetExtraCaFileForTesting(server.CaFile());
    EXPECT_FALSE(FetchPageBytes(server.Url("/")).empty());
}

} // namespace
