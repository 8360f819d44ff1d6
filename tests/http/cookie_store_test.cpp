// The process-wide cookie store. A binary of its own, so no other test's cookies are in it.
#include <gtest/gtest.h>

#include "http/page_fetch.h"
#include "http/web_request.h"
#include "support/loopback_ports.h"
#include "support/loopback_server.h"

using namespace pandrel;

namespace {

std::vector<std::string> CookieLines(const RecordedRequest& request) {
    std::vector<std::string> lines;
    for (const std::string& line : request.headerLines) {
        if (line.rfind("Cookie:", 0) == 0) {
            lines.push_back(line);
        }
    }
    return lines;
}

TEST(CookieStore, UsedOnlyWhenNoCookiesAreSupplied) {
    ClearProxyEnvironment();
    LoopbackServer server([](const RecordedRequest& request) -> std::optional<std::string> {
        const std::string& line = request.requestLine;
        if (line.rfind("GET /set ", 0) == 0) {
            return LoopbackServer::Response("200 OK", {"Set-Cookie: s=1; Path=/"}, "");
        }
        if (line.rfind("GET /set2 ", 0) == 0) {
            return LoopbackServer::Response("200 OK", {"Set-Cookie: s2=3; Path=/"}, "");
        }
        if (line.rfind("GET /own ", 0) == 0) {
            return LoopbackServer::Response("200 OK", {"Set-Cookie: t=2; Path=/"}, "");
        }
        return LoopbackServer::Response("200 OK", {}, "");
    });
    Text own = "x=9";
    Text empty;
    struct Step {
        const char* path;
        Text* cookies;
        std::vector<std::string> cookieLines;
    };
    const Step steps[] = {
        {"/set", nullptr, {}},
        {"/read", nullptr, {"Cookie: s=1"}},
        // Supplied cookies, even an empty text, keep the store out of the request both ways.
        {"/own", &own, {"Cookie: x=9"}},
        {"/read", &empty, {}},
        {"/read", nullptr, {"Cookie: s=1"}},
    };
    for (const Step& step : steps) {
        std::size_t before = server.Requests().size();
        WebRequest(server.Url(step.path), {.cookies = step.cookies});
        auto requests = server.Requests();
        ASSERT_EQ(requests.size(), before + 1);
        EXPECT_EQ(CookieLines(requests.back()), step.cookieLines) << step.path;
    }
    EXPECT_EQ(own, "t=2; x=9");

    // The page fetch takes part in the same store, on every call of its kept handle.
    for (int call = 0; call < 2; ++call) {
        FetchPageBytes(server.Url("/read"));
        EXPECT_EQ(CookieLines(server.Requests().back()), std::vector<std::string>{"Cookie: s=1"});
    }
    FetchPageBytes(server.Url("/set2"));
    FetchPageBytes(server.Url("/read"));
    EXPECT_EQ(CookieLines(server.Requests().back()), std::vector<std::string>{"Cookie: s2=3; s=1"});
}

} // namespace
