// The request routine against loopback servers that record every request byte for byte.
#include <gtest/gtest.h>

#include <algorithm>

#include "http/transfer.h"
#include "http/web_request.h"
#include "support/loopback_ports.h"
#include "support/loopback_server.h"
#include "support/tls_server.h"

using namespace pandrel;

namespace {

const std::string kDefaultAgentLine =
    "User-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";

std::string AsString(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

std::string Ok(const std::string& body, const std::vector<std::string>& headers = {}) {
    return LoopbackServer::Response("200 OK", headers, body);
}

std::string HostLine(const LoopbackServer& server) {
    return "Host: 127.0.0.1:" + std::to_string(server.Port());
}

class WebRequestTest : public ::testing::Test {
protected:
    void SetUp() override { ClearProxyEnvironment(); }
    void TearDown() override {
        SetTimeoutsForTesting(0, 0);
        SetExtraCaFileForTesting("");
    }
};

TEST_F(WebRequestTest, FetchTextSendsTheDefaultHeaderBlockExactly) {
    LoopbackServer server(Answer(Ok("page text")));
    const std::string url = server.Url("/list?share=AbC&pwd=1234");
    EXPECT_EQ(FetchText(url), "page text");
    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(HeadOf(requests[0]), "GET /list?share=AbC&pwd=1234 HTTP/1.1\n" + HostLine(server) +
                                       "\n" + kDefaultAgentLine + "\nAccept: */*\nReferer: " + url +
                                       "\nAccept-Language: zh-cn\n");
    EXPECT_EQ(requests[0].body, "");
}

TEST_F(WebRequestTest, VerbsAndBodies) {
    struct MethodCase {
        std::optional<int> method;
        std::optional<std::string> postText;
        std::optional<Bytes> postBytes;
        std::string verb;
        std::string body;
    };
    const Bytes withZero = {'b', 0, 'y'};
    const MethodCase cases[] = {
        {std::nullopt, "ignored", std::nullopt, "GET", ""},
        {9, "ignored", std::nullopt, "GET", ""},
        {-1, std::nullopt, std::nullopt, "GET", ""},
        {1, "a=1&b=2", std::nullopt, "POST", "a=1&b=2"},
        {1, std::nullopt, std::nullopt, "POST", ""},
        {2, "x=1", std::nullopt, "HEAD", "x=1"},
        {2, std::nullopt, std::nullopt, "HEAD", ""},
        {3, "text", withZero, "PUT", std::string("b\0y", 3)},
        {3, "text", Bytes{}, "PUT", "text"},
        {4, "o", std::nullopt, "OPTIONS", "o"},
        {5, std::nullopt, std::nullopt, "DELETE", ""},
        {6, "t", std::nullopt, "TRACE", "t"},
        // Large enough that libcurl would otherwise ask for "100-continue" first.
        {1, std::string(2 << 20, 'p'), std::nullopt, "POST", std::string(2 << 20, 'p')},
    };
    for (const MethodCase& c : cases) {
        const bool head = c.verb == "HEAD";
        LoopbackServer server(
            Answer(head ? "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n" : Ok("reply")));
        Text headers;
        WebRequestOptions options;
        options.method = c.method;
        options.postText = c.postText;
        options.postBytes = c.postBytes;
        options.returnedHeaders = &headers;
        Bytes body = WebRequest(server.Url("/m"), options);
        auto requests = server.Requests();
        ASSERT_EQ(requests.size(), 1u) << c.verb;
        EXPECT_EQ(requests[0].requestLine, c.verb + " /m HTTP/1.1");
        EXPECT_TRUE(requests[0].body == c.body) << c.verb << " body of " << requests[0].body.size();
        // A HEAD answer announces a length but carries no body: the headers still arrive.
        EXPECT_EQ(headers.substr(0, 15), "HTTP/1.1 200 OK") << c.verb;
        EXPECT_EQ(AsString(body), head ? "" : "reply") << c.verb;
        const bool formType =
            std::count(requests[0].headerLines.begin(), requests[0].headerLines.end(),
                       "Content-Type: application/x-www-form-urlencoded") == 1;
        EXPECT_EQ(formType, c.verb == "POST") << c.verb;
        for (const std::string& line : requests[0].headerLines) {
            EXPECT_NE(line.rfind("Expect", 0), 0u) << c.verb;
        }
    }
}

TEST_F(WebRequestTest, HeaderBlockVariants) {
    struct HeaderCase {
        const char* name;
        WebRequestOptions options;
        std::vector<std::string> expectedAfterHost; // with "{url}" standing for the URL
    };
    const HeaderCase cases[] = {
        {"agent from extra headers",
         {.extraHeaders = "user-agent: Agent X/1.0\r\nx-custom:1"},
         {"User-Agent: Agent X/1.0", "X-Custom:1", "Accept: */*", "Referer: {url}",
          "Accept-Language: zh-cn"}},
        {"no completion, empty block", {.completeHeaders = false}, {kDefaultAgentLine}},
        {"no completion, no normalising",
         {.extraHeaders = "x-lower: v\r\nEmpty:",
          .completeHeaders = false,
          .normalizeHeaderNames = false},
         {kDefaultAgentLine, "x-lower: v", "Empty:"}},
        {"line break inside a line",
         {.extraHeaders = "x-a: 1\nX-B: 2\r\nx-c: 3\r"},
         {kDefaultAgentLine, "X-A: 1 X-B: 2", "X-C: 3 ", "Accept: */*", "Referer: {url}",
          "Accept-Language: zh-cn"}},
        {"caller's own accept and referer kept",
         {.extraHeaders = "Referer: http://elsewhere/\r\nAccept: text/html"},
         {kDefaultAgentLine, "Referer: http://elsewhere/", "Accept: text/html",
          "Accept-Language: zh-cn"}},
    };
    for (const HeaderCase& c : cases) {
        LoopbackServer server(Answer(Ok("")));
        const std::string url = server.Url("/h");
        WebRequest(url, c.options);
        auto requests = server.Requests();
        ASSERT_EQ(requests.size(), 1u) << c.name;
        std::vector<std::string> expected = {HostLine(server)};
        for (std::string line : c.expectedAfterHost) {
            if (auto at = line.find("{url}"); at != std::string::npos) {
                line.replace(at, 5, url);
            }
            expected.push_back(line);
        }
        EXPECT_EQ(requests[0].headerLines, expected) << c.name;
    }
}

TEST_F(WebRequestTest, CookieLineForms) {
    struct CookieCase {
        std::string cookies;
        std::vector<std::string> cookieLines;
    };
    const CookieCase cases[] = {
        {"a=1", {"Cookie: a=1"}},
        {"Cookie: a=1", {"Cookie: a=1"}},
        {"a=1; b=2", {"Cookie: a=1; b=2"}},
        {"", {}},
    };
    for (const CookieCase& c : cases) {
        LoopbackServer server(Answer(Ok("")));
        Text cookies = c.cookies;
        WebRequest(server.Url("/c"), {.cookies = &cookies});
        auto requests = server.Requests();
        ASSERT_EQ(requests.size(), 1u);
        std::vector<std::string> seen;
        for (const std::string& line : requests[0].headerLines) {
            if (line.rfind("Cookie", 0) == 0) {
                seen.push_back(line);
            }
        }
        EXPECT_EQ(seen, c.cookieLines) << c.cookies;
        EXPECT_EQ(requests[0].headerLines.back(),
                  c.cookieLines.empty() ? "Accept-Language: zh-cn" : c.cookieLines.back());
    }
}

TEST_F(WebRequestTest, SetCookiesCollectedAndMergedAcrossTwoRequests) {
    int turn = 0;
    LoopbackServer server([&turn](const RecordedRequest&) -> std::optional<std::string> {
        if (turn++ == 0) {
            return Ok("", {"Set-Cookie: a=1; path=/", "set-cookie: lower=1",
                           "Set-Cookie: b=2; HttpOnly"});
        }
        return Ok("", {"Set-Cookie: a=deleted; expires=Thu, 01 Jan 1970 00:00:00 GMT"});
    });
    Text cookies = "old=0; b=1";
    Text returned;
    Text headers;
    WebRequest(server.Url("/1"),
               {.cookies = &cookies, .returnedCookies = &returned, .returnedHeaders = &headers});
    EXPECT_EQ(returned, "a=1; b=2");
    EXPECT_EQ(cookies, "a=1; b=2; old=0");
    EXPECT_EQ(headers.substr(0, 17), "HTTP/1.1 200 OK\r\n");
    EXPECT_NE(headers.find("\r\nset-cookie: lower=1\r\n"), std::string::npos);

    WebRequest(server.Url("/2"), {.cookies = &cookies, .returnedCookies = &returned});
    EXPECT_EQ(returned, "a=deleted");
    EXPECT_EQ(cookies, "b=2; old=0");
    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].headerLines.back(), "Cookie: a=1; b=2; old=0");

    // With the merge switched off the caller's text stays as it was.
    Text kept = "k=1";
    WebRequest(server.Url("/3"), {.cookies = &kept, .mergeCookies = false});
    EXPECT_EQ(kept, "k=1");
}

TEST_F(WebRequestTest, RedirectsFollowedUnlessSwitchedOff) {
    LoopbackServer server([](const RecordedRequest& request) -> std::optional<std::string> {
        if (request.requestLine.rfind("GET /from ", 0) == 0) {
            return LoopbackServer::Response("302 Found", {"Location: /to", "Set-Cookie: r=1"},
                                            "moved");
        }
        return Ok("final", {"Set-Cookie: f=2"});
    });
    struct RedirectCase {
        bool noRedirect;
        std::string body;
        std::string status;
        std::string cookies;
    };
    const RedirectCase cases[] = {{false, "final", "HTTP/1.1 200 OK", "f=2"},
                                  {true, "moved", "HTTP/1.1 302 Found", "r=1"}};
    std::size_t before = 0;
    for (const RedirectCase& c : cases) {
        Text headers;
        Text returned;
        Text cookies;
        Bytes body = WebRequest(server.Url("/from"), {.cookies = &cookies,
                                                      .returnedCookies = &returned,
                                                      .returnedHeaders = &headers,
                                                      .noRedirect = c.noRedirect});
        EXPECT_EQ(AsString(body), c.body);
        EXPECT_EQ(headers.substr(0, c.status.size()), c.status);
        EXPECT_EQ(returned, c.cookies);
        std::size_t after = server.Requests().size();
        EXPECT_EQ(after - before, c.noRedirect ? 1u : 2u);
        before = after;
    }
}

// "/r/<code>" answers that redirect to "/to"; "/to" answers 200 (without a body to a HEAD).
TEST_F(WebRequestTest, RedirectsChangeTheVerbAsHttpSays) {
    LoopbackServer server([](const RecordedRequest& request) -> std::optional<std::string> {
        const std::size_t at = request.requestLine.find(" /r/");
        if (at != std::string::npos) {
            return LoopbackServer::Response(request.requestLine.substr(at + 4, 3) + " Moved",
                                            {"Location: /to"}, "moved");
        }
        if (request.requestLine.rfind("HEAD ", 0) == 0) {
            return "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n";
        }
        return Ok("final");
    });
    const int codes[] = {301, 302, 303, 307, 308};
    // What reaches "/to" after each code, in the order above: the verb, and "+" when the body
    // "payload" comes along.
    const struct {
        int method;
        std::string verb;
        std::string after[5];
    } verbs[] = {
        {0, "GET", {"GET", "GET", "GET", "GET", "GET"}},
        {1, "POST", {"GET", "GET", "GET", "POST+", "POST+"}},
        {2, "HEAD", {"HEAD+", "HEAD+", "HEAD", "HEAD+", "HEAD+"}},
        {3, "PUT", {"PUT+", "PUT+", "GET", "PUT+", "PUT+"}},
        {4, "OPTIONS", {"OPTIONS+", "OPTIONS+", "GET", "OPTIONS+", "OPTIONS+"}},
        {5, "DELETE", {"DELETE+", "DELETE+", "GET", "DELETE+", "DELETE+"}},
        {6, "TRACE", {"TRACE+", "TRACE+", "GET", "TRACE+", "TRACE+"}},
        {7, "CONNECT", {"CONNECT+", "CONNECT+", "GET", "CONNECT+", "CONNECT+"}},
    };
    for (const auto& row : verbs) {
        for (std::size_t i = 0; i < std::size(codes); ++i) {
            const std::string pair = row.verb + " " + std::to_string(codes[i]);
            const std::string& expected = row.after[i];
            const bool withBody = expected.back() == '+';
            const std::string verb = withBody ? expected.substr(0, expected.size() - 1) : expected;
            const std::size_t before = server.Requests().size();
            Text headers;
            Bytes body = WebRequest(
                server.Url("/r/" + std::to_string(codes[i])),
                {.method = row.method, .postText = "payload", .returnedHeaders = &headers});
            const auto requests = server.Requests();
            if (requests.size() != before + 2) {
                ADD_FAILURE() << pair << ": " << requests.size() - before << " requests";
                continue;
            }
            const RecordedRequest& first = requests[before];
            const RecordedRequest& second = requests[before + 1];
            EXPECT_EQ(first.requestLine, row.verb + " /r/" + std::to_string(codes[i]) + " HTTP/1.1")
                << pair;
            EXPECT_EQ(first.body, row.method == 0 ? "" : "payload") << pair;
            EXPECT_EQ(second.requestLine, verb + " /to HTTP/1.1") << pair;
            EXPECT_EQ(second.body, withBody ? "payload" : "") << pair;
            EXPECT_EQ(headers.substr(0, 15), "HTTP/1.1 200 OK") << pair;
            EXPECT_EQ(AsString(body), verb == "HEAD" ? "" : "final") << pair;
        }
    }
}

TEST_F(WebRequestTest, RedirectChainsKeepTheLimitAndCredentialsStayWithTheOrigin) {
    LoopbackServer other(Answer(Ok("other")));
    // "/n/<k>" sends to "/n/<k-1>" down to "/n/0", which answers; "/away" sends to the other
    // server's origin and "/here" back to this one.
    LoopbackServer server([&other](const RecordedRequest& request) -> std::optional<std::string> {
        const std::string& line = request.requestLine;
        if (line.rfind("GET /n/", 0) == 0) {
            const int left = std::stoi(line.substr(7));
            if (left > 0) {
                return LoopbackServer::Response("302 Found",
                                                {"Location: /n/" + std::to_string(left - 1)}, "");
            }
        } else if (line.rfind("GET /away ", 0) == 0) {
            return LoopbackServer::Response("307 Moved", {"Location: " + other.Url("/b")}, "");
        } else if (line.rfind("GET /here ", 0) == 0) {
            return LoopbackServer::Response("301 Moved", {"Location: /n/0"}, "");
        }
        return Ok("end");
    });
    const struct {
        const char* name;
        std::string path;
        std::string body; // empty: the request fails
        std::size_t requests;
    } chains[] = {
        {"ten redirects", "/n/10", "end", 11},
        {"eleven redirects", "/n/11", "", 11},
    };
    for (const auto& c : chains) {
        const std::size_t before = server.Requests().size();
        Text headers = "untouched";
        EXPECT_EQ(AsString(WebRequest(server.Url(c.path), {.returnedHeaders = &headers})), c.body)
            << c.name;
        EXPECT_EQ(headers.empty(), c.body.empty()) << c.name;
        EXPECT_EQ(server.Requests().size() - before, c.requests) << c.name;
    }

    const auto credentials = [](const RecordedRequest& request) {
        std::vector<std::string> lines;
        for (const std::string& line : request.headerLines) {
            if (line.rfind("Cookie:", 0) == 0 || line.rfind("Authorization:", 0) == 0) {
                lines.push_back(line);
            }
        }
        return lines;
    };
    const std::vector<std::string> sent = {"Authorization: Basic dTpw", "Cookie: c=1"};
    for (const std::string path : {"/away", "/here"}) {
        Text cookies = "c=1";
        WebRequest(server.Url(path),
                   {.cookies = &cookies, .extraHeaders = "Authorization: Basic dTpw"});
    }
    const auto here = server.Requests();
    const auto away = other.Requests();
    ASSERT_EQ(away.size(), 1u);
    EXPECT_TRUE(credentials(away[0]).empty()) << HeadOf(away[0]);
    ASSERT_GE(here.size(), 3u);
    EXPECT_EQ(credentials(here[here.size() - 3]), sent) << "the caller's own request to /away";
    EXPECT_EQ(credentials(here.back()), sent) << "a redirect within the caller's origin";
}

TEST_F(WebRequestTest, ProxyArgumentAndEnvironment) {
    LoopbackServer target(Answer(Ok("direct")));
    LoopbackServer proxy(Answer(Ok("via proxy")));
    const std::string proxyAddress = "127.0.0.1:" + std::to_string(proxy.Port());
    // The environment names the proxy too: only the argument may send the request there.
    setenv("http_proxy", ("http://" + proxyAddress).c_str(), 1);
    EXPECT_EQ(AsString(WebRequest(target.Url("/t"), {.proxy = proxyAddress})), "via proxy");
    EXPECT_EQ(AsString(WebRequest(target.Url("/t"), {.proxy = ""})), "direct");
    EXPECT_EQ(FetchText(target.Url("/t")), "direct");
    ClearProxyEnvironment();
    EXPECT_EQ(target.Requests().size(), 2u);

    // The proxy sees the host as the wire carries it: an IPv6 address in brackets, an
    // international name in its ASCII form.
    const struct {
        std::string url;
        std::string requestLine;
        std::string hostLine;
    } hosts[] = {
        {target.Url("/t"), "GET " + target.Url("/t") + " HTTP/1.1", HostLine(target)},
        {"http://[::1]:9/v6", "GET http://[::1]:9/v6 HTTP/1.1", "Host: [::1]:9"},
        {"http://Bücher.example/idn", "GET http://xn--bcher-kva.example/idn HTTP/1.1",
         "Host: xn--bcher-kva.example"},
    };
    for (const auto& h : hosts) {
        WebRequest(h.url, {.proxy = proxyAddress});
        auto viaProxy = proxy.Requests();
        ASSERT_FALSE(viaProxy.empty()) << h.url;
        EXPECT_EQ(viaProxy.back().requestLine, h.requestLine);
        EXPECT_EQ(viaProxy.back().headerLines.at(0), h.hostLine);
    }
    EXPECT_EQ(proxy.Requests().size(), 1u + std::size(hosts));
}

TEST_F(WebRequestTest, ResponseBodies) {
    const std::string zeroBody("ab\0cd", 5);
    struct BodyCase {
        const char* name;
        std::string response;
        std::string body;
        std::string text;
    };
    const BodyCase cases[] = {
        {"zero byte", Ok(zeroBody), zeroBody, "ab"},
        {"no body", LoopbackServer::Response("204 No Content", {}, ""), "", ""},
        {"chunked",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n7\r\n, world\r\n0\r\n"
         "\r\n",
         "hello, world", "hello, world"},
        {"until close", "HTTP/1.0 200 OK\r\n\r\nno length", "no length", "no length"},
        {"error page", LoopbackServer::Response("404 Not Found", {}, "missing"), "missing",
         "missing"},
    };
    for (const BodyCase& c : cases) {
        LoopbackServer server(Answer(c.response));
        Text headers;
        EXPECT_EQ(AsString(WebRequest(server.Url("/b"), {.returnedHeaders = &headers})), c.body)
            << c.name;
        EXPECT_FALSE(headers.empty()) << c.name;
        EXPECT_EQ(FetchText(server.Url("/b")), c.text) << c.name;
    }
}

TEST_F(WebRequestTest, LongHeaderBlockKeptWhole) {
    std::vector<std::string> filler;
    for (int i = 0; i < 80; ++i) {
        filler.push_back("X-Filler-" + std::to_string(i) + ": " + std::string(100, 'f'));
    }
    filler.push_back("Set-Cookie: last=1; path=/");
    LoopbackServer server(Answer(Ok("body", filler)));
    Text headers;
    Text returned;
    Text cookies;
    WebRequest(server.Url("/"),
               {.cookies = &cookies, .returnedCookies = &returned, .returnedHeaders = &headers});
    EXPECT_GT(headers.size(), 8000u);
    EXPECT_EQ(headers.substr(headers.size() - 17), "Content-Length: 4");
    EXPECT_NE(headers.find("\r\nSet-Cookie: last=1; path=/\r\n"), std::string::npos);
    EXPECT_EQ(returned, "last=1");
    EXPECT_EQ(cookies, "last=1");
}

TEST_F(WebRequestTest, UrlBytesEncodedOnTheWire) {
    LoopbackServer server(Answer(Ok("ok")));
    const std::string url = server.Url("/s?id=a b\xe4\xb8\xad\r\nX-Injected: 1");
    EXPECT_EQ(FetchText(url), "ok");
    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].requestLine, "GET /s?id=a%20b%E4%B8%AD%0D%0AX-Injected:%201 HTTP/1.1");
    for (const std::string& line : requests[0].headerLines) {
        EXPECT_NE(line.rfind("X-Injected", 0), 0u);
    }
    EXPECT_NE(HeadOf(requests[0])
                  .find("\nReferer: " + server.Url("/s?id=a%20b%E4%B8%AD%0D%0AX-Injected:%201\n")),
              std::string::npos);
}

TEST_F(WebRequestTest, FailuresGiveEmptyResults) {
    // Three seconds without a byte: the silent service ends quickly, yet a loaded machine
    // sending 64 MiB through the sanitizers never pauses that long.
    SetTimeoutsForTesting(2, 3);
    LoopbackServer silent([](const RecordedRequest&) { return std::optional<std::string>(); });
    // A body without a length that keeps coming past the limit until the server closes.
    LoopbackServer tooBig([](const RecordedRequest&) -> std::optional<std::string> {
        return "HTTP/1.0 200 OK\r\n\r\n" + std::string(kMaxBodyBytes + 4096, 'x');
    });
    LoopbackServer closed(Answer(""));
    const UnansweredLoopbackPort unanswered;
    // Bodies one byte over a caller's cap of 1000: the final response's, announced, and a
    // redirect's, arriving without a length.
    LoopbackServer capped([](const RecordedRequest& request) -> std::optional<std::string> {
        if (request.requestLine.rfind("GET /moved ", 0) == 0) {
            return "HTTP/1.0 302 Found\r\nLocation: /\r\n\r\n" + std::string(1001, 'r');
        }
        return LoopbackServer::Response("200 OK", {}, std::string(1001, 'b'));
    });
    struct FailureCase {
        const char* name;
        std::string url;
        std::optional<std::size_t> cap = std::nullopt;
        bool tooLarge = false;
        bool timedOut = false;
        // The deadline, this far from the request's start; none when not given.
        std::optional<std::chrono::milliseconds> timeLeft = std::nullopt;
    };
    using std::chrono_literals::operator""ms;
    const FailureCase cases[] = {
        {"silent service past the deadline", silent.Url("/"), std::nullopt, false, true, 300ms},
        {"silent service", silent.Url("/"), std::nullopt, false, true},
        {"deadline passed before sending", silent.Url("/"), std::nullopt, false, true, -1000ms},
        {"body over the limit", tooBig.Url("/"), std::nullopt, true},
        {"body over the caller's cap", capped.Url("/"), 1000, true},
        {"redirect body over the caller's cap", capped.Url("/moved"), 1000, true},
        {"cap above the limit is the limit", tooBig.Url("/"), kMaxBodyBytes * 2, true},
        {"closed without an answer", closed.Url("/")},
        {"connect that never completes", unanswered.Url()},
        // The deadline comes before the connect time-out would.
        {"connect cut off by the deadline", unanswered.Url(), std::nullopt, false, true, 500ms},
        {"no host", "http:///x"},
        {"host with user info", "http://user@127.0.0.1:1/"},
        {"IPv6 address not closed", "http://[::1/x"},
        {"not an IPv6 address", "http://[::g]:1/"},
        {"user info after an IPv6 address", "http://[::1]@127.0.0.1:1/"},
        // A full-width solidus becomes "/" in the name's ASCII form.
        {"name that is no name in ASCII", "http://127.0.0.1\xef\xbc\x8fx:1/"},
    };
    for (const FailureCase& c : cases) {
        Text headers = "untouched";
        Text returned = "untouched";
        Text cookies = "a=1; a=2";
        bool tooLarge = !c.tooLarge;
        bool timedOut = !c.timedOut;
        const Deadline deadline =
            c.timeLeft ? Deadline(std::chrono::steady_clock::now() + *c.timeLeft) : std::nullopt;
        Bytes body = WebRequest(c.url, {.cookies = &cookies,
                                        .returnedCookies = &returned,
                                        .returnedHeaders = &headers,
                                        .deadline = deadline,
                                        .maxBodyBytes = c.cap,
                                        .bodyTooLarge = &tooLarge,
                                        .timedOut = &timedOut});
        EXPECT_TRUE(body.empty()) << c.name;
        EXPECT_EQ(tooLarge, c.tooLarge) << c.name;
        EXPECT_EQ(timedOut, c.timedOut) << c.name;
        EXPECT_TRUE(headers.empty() || headers == "untouched") << c.name;
        EXPECT_TRUE(returned.empty() || returned == "untouched") << c.name;
    }
}

TEST_F(WebRequestTest, CertificatesChecked) {
    TlsTestServer server;
    ASSERT_TRUE(server.Ready());
    Text headers;
    EXPECT_TRUE(WebRequest(server.Url("/"), {.returnedHeaders = &headers}).empty());
    EXPECT_EQ(headers, "");
    SetExtraCaFileForTesting(server.CaFile());
    EXPECT_FALSE(WebRequest(server.Url("/"), {.returnedHeaders = &headers}).empty());
    EXPECT_EQ(headers.substr(0, 12), "HTTP/1.0 200");
}

} // namespace
