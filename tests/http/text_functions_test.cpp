// The header, cookie and URL texts of the HTTP client: pure functions, checked against tables.
#include <gtest/gtest.h>

#include "http/cookie_text.h"
#include "http/header_text.h"
#include "http/url_parts.h"
#include "http/web_request.h"

using namespace pandrel;

namespace {

struct Case {
    const char* input;
    const char* expected;
};

TEST(HeaderText, NormalizeHeaderNames) {
    const Case cases[] = {
        {"content-type: text/html\r\nx-my-header:1\r\ngarbage",
         "Content-Type: text/html\r\nX-My-Header:1"},
        {"accept-LANGUAGE: x", "Accept-LANGUAGE: x"},
        {"referer:x", "Referer:x"},
        {"", ""},
        {"no colon at all", ""},
        // A trailing "-" comes back with the line's tail; nothing of the line is lost.
        {"x-:1", "X-:1"},
        {"a--b: v", "A--B: v"},
        {"-lead: v", "-Lead: v"},
        // Only the first colon ends the name; the value keeps its own colons and case.
        {"host: a:8080", "Host: a:8080"},
        {": empty name", ": empty name"},
        {"1abc: v", "1abc: v"},
        {"a: 1\r\n\r\nb: 2", "A: 1\r\nB: 2"},
        {"a: 1\r\n", "A: 1"},
        {"\xe4\xb8\xad-x: v", "\xe4\xb8\xad-X: v"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(NormalizeHeaderNames(c.input), c.expected) << c.input;
    }
}

TEST(HeaderText, CapitalizeWord) {
    const Case cases[] = {{"word", "Word"},
                          {"Word", "Word"},
                          {"", ""},
                          {"9x", "9x"},
                          {"\xc3\xa9t\xc3\xa9", "\xc3\xa9t\xc3\xa9"},
                          {"aBC", "ABC"}};
    for (const Case& c : cases) {
        EXPECT_EQ(CapitalizeWord(c.input), c.expected) << c.input;
    }
}

TEST(HeaderText, UserAgentFrom) {
    const Case cases[] = {
        {"User-Agent: X", "X"},
        {"Accept: */*\r\nUser-Agent:   Agent 1.0   \r\nReferer: r", "Agent 1.0"},
        // The exact-case search fails; everything after the block's first colon is taken.
        {"USER-AGENT: foo", "foo"},
        {"USER-AGENT: foo\r\nAccept: */*", "foo\r\nAccept: */*"},
        {"Accept: a\r\nuser-agent: b", "a\r\nuser-agent: b"},
        // An empty exact-case value falls back the same way.
        {"User-Agent:\r\nX: y", "\r\nX: y"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(UserAgentFrom(c.input), c.expected) << c.input;
    }
}

TEST(CookieText, CollectSetCookies) {
    const Case cases[] = {
        {"HTTP/1.1 200 OK\r\nSet-Cookie: a=1; path=/\r\nSet-Cookie: b=2", "a=1; b=2"},
        {"set-cookie: a=1\r\nSET-COOKIE: b=2", ""},
        {"HTTP/1.1 200 OK\r\nContent-Type: text/html", ""},
        {"", ""},
        {"Set-Cookie: a=1\r\nSet-Cookie: a=1", "a=1; a=1"},
        // Without attributes the whole line minus every "Set-Cookie:" (any case) is the value.
        {"Set-Cookie:  x=set-cookie:y  ", "x=y"},
        // No ": " or one at the very start: no name, not a cookie line.
        {"Set-Cookie:a=1", ""},
        {": Set-Cookie: a=1", ""},
        {"Set-Cookie: s=\xe4\xb8\xad; HttpOnly", "s=\xe4\xb8\xad"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CollectSetCookies(c.input), c.expected) << c.input;
    }
}

TEST(CookieText, MergeCookies) {
    struct MergeCase {
        const char* oldCookies;
        const char* newCookies;
        const char* expected;
    };
    const MergeCase cases[] = {
        {"a=1; b=2", "b=3", "b=3; a=1"},
        {"a=1", "a=deleted", ""},
        {"", "", ""},
        {"a=1;", "", "a=1"},
        {"a=1; a=2", "", "a=1"},
        {"  a=1 ;  ", " b=2; ", "b=2; a=1 "},
        {"x=1; b=deleted", "c=3; c=3", "c=3; x=1"},
        // ";" without a space does not separate: one item named a.
        {"a=1;b=2", "b=3", "b=3; a=1;b=2"},
        {"flag; a=1", "flag", "flag; a=1"},
        // Names compare exactly: a differently-cased name is another cookie.
        {"A=1", "a=2", "a=2; A=1"},
    };
    for (const MergeCase& c : cases) {
        EXPECT_EQ(MergeCookies(c.oldCookies, c.newCookies), c.expected)
            << c.oldCookies << " + " << c.newCookies;
    }
}

TEST(CookieText, CookieNameAndJoinUnique) {
    const Case names[] = {{" a =1", "a"}, {"flag", "flag"}, {"=v", ""}, {"a=b=c", "a"}};
    for (const Case& c : names) {
        EXPECT_EQ(CookieName(c.input), c.expected) << c.input;
    }
    const Case joins[] = {
        {"a; b; a; c; b", "a; b; c"}, {"", ""}, {"a", "a"}, {"a; ; ; b", "a; ; b"}};
    for (const Case& c : joins) {
        EXPECT_EQ(JoinUnique(c.input, "; "), c.expected) << c.input;
    }
    EXPECT_EQ(JoinUnique("x--y--x", "--"), "x--y");
}

TEST(UrlParts, SplitsHostPortAndPath) {
    struct UrlCase {
        const char* url;
        const char* host;
        const char* hostWithPort;
        int port;
        const char* path;
    };
    const UrlCase cases[] = {
        {"http://example", "example", "example", 80, "/"},
        {"http://example/", "example", "example", 80, "/"},
        {"http://example:8080/a?b=1", "example", "example:8080", 8080, "/a?b=1"},
        {"https://example/x", "example", "example", 443, "/x"},
        {"example/x", "example", "example", 80, "/x"},
        {"HTTP://Example.COM/Some/Path?Q=V", "example.com", "example.com", 80, "/Some/Path?Q=V"},
        {"HTTPS://host:8443", "host", "host:8443", 8443, "/"},
        {"https://host:/p", "host", "host:", 0, "/p"},
        {"http://host:abc/p", "host", "host:abc", 0, "/p"},
        {"https://a/s?share=x y\r", "a", "a", 443, "/s?share=x y\r"},
        // A query without a path belongs to the host text.
        {"http://host?x=1", "host?x=1", "host?x=1", 80, "/"},
        // "http://" anywhere makes the text after it the host.
        {"example/x?u=http://other/y", "other", "other", 80, "/y"},
        {"", "", "", 80, "/"},
        {"ftp://host/file", "ftp", "ftp:", 0, "//host/file"},
        // An IPv6 address keeps its brackets; its port follows the "]".
        {"http://[::1]:8580/a", "[::1]", "[::1]:8580", 8580, "/a"},
        {"https://[2001:DB8::1]/x", "[2001:db8::1]", "[2001:db8::1]", 443, "/x"},
        {"http://[::1]", "[::1]", "[::1]", 80, "/"},
        // An international name: only ASCII letters change case.
        {"http://Bücher.example:81/p", "bücher.example", "bücher.example:81", 81, "/p"},
    };
    for (const UrlCase& c : cases) {
        EXPECT_EQ(HostOf(c.url, false), c.host) << c.url;
        EXPECT_EQ(HostOf(c.url, true), c.hostWithPort) << c.url;
        EXPECT_EQ(PortOf(c.url), c.port) << c.url;
        EXPECT_EQ(PathOf(c.url), c.path) << c.url;
    }
}

TEST(UrlParts, EncodesOnlyWhatTheWireCannotCarry) {
    const Case cases[] = {
        {"/s?id=abc&pwd=1234", "/s?id=abc&pwd=1234"},
        {"/a b", "/a%20b"},
        {"/x\r\nHost: evil", "/x%0D%0AHost:%20evil"},
        {"/\x01\x7f", "/%01%7F"},
        {"/\xe4\xb8\xad", "/%E4%B8%AD"},
        {"/%41~!$'()*+,;=:@", "/%41~!$'()*+,;=:@"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EncodeUrlForWire(c.input), c.expected) << c.input;
    }
}

TEST(RequestHeaders, CompletionAndCookieLine) {
    const Text url = "http://h/p";
    const Text cookieText = "a=1";
    const Text cookieLine = "Cookie: a=1";
    const Text empty;
    struct HeaderCase {
        const char* headers;
        int method;
        bool complete;
        const Text* cookies;
        const char* expected;
    };
    const HeaderCase cases[] = {
        {"", 0, true, nullptr, "Accept: */*\r\nReferer: http://h/p\r\nAccept-Language: zh-cn"},
        {"", 1, true, nullptr,
         "Accept: */*\r\nReferer: http://h/p\r\nAccept-Language: zh-cn\r\n"
         "Content-Type: application/x-www-form-urlencoded"},
        {"X: 1", 0, true, nullptr,
         "X: 1\r\nAccept: */*\r\nReferer: http://h/p\r\nAccept-Language: zh-cn"},
        {"accept: text/html\r\nREFERER: r\r\naccept-language: en", 1, true, nullptr,
         "accept: text/html\r\nREFERER: r\r\naccept-language: en\r\n"
         "Content-Type: application/x-www-form-urlencoded"},
        {"", 0, false, nullptr, ""},
        {"X: 1", 3, false, nullptr, "X: 1"},
        {"", 0, false, &cookieText, "\r\nCookie: a=1"},
        {"X: 1", 0, false, &cookieLine, "X: 1\r\nCookie: a=1"},
        {"X: 1", 0, false, &empty, "X: 1"},
        {"", 2, true, &cookieText,
         "Accept: */*\r\nReferer: http://h/p\r\nAccept-Language: zh-cn\r\nCookie: a=1"},
    };
    for (const HeaderCase& c : cases) {
        EXPECT_EQ(CompleteRequestHeaders(c.headers, c.method, url, c.complete, c.cookies),
                  c.expected)
            << c.headers << " method " << c.method;
    }
    // The "Cookie:" search is case-sensitive.
    const Text lowerLine = "cookie: a=1";
    EXPECT_EQ(CompleteRequestHeaders("", 0, url, false, &lowerLine), "\r\nCookie: cookie: a=1");
}

} // namespace
