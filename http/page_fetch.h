#pragma once

#include <cstddef>

#include "http/deadline.h"
#include "runtime/value_types.h"

namespace pandrel {

inline constexpr const char* kPageFetchUserAgent =
    "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";

// A plain page fetch: GET over HTTP/1.0 with "Accept: */*", the fragment dropped, redirects
// followed, through the proxy the usual environment variables name (http_proxy, https_proxy,
// all_proxy, no_proxy). Only http and https URLs; anything else, an empty URL or any failure
// gives an empty buffer, as does a fetch still running at the deadline. One handle is kept for
// the life of the process so its connection can be reused; calls from several threads take
// turns on it (the wait for a turn counts against the deadline).
Bytes FetchPageBytes(const Text& url, const Deadline& deadline = std::nullopt);

// Why a page fetch brought no page.
enum class FetchFailure {
    None,         // a whole response came; its status may still be an error
    NoConnection, // the host's name did not resolve, or its port refused, did not answer in
                  // time or failed the TLS handshake
    TimedOut,     // connected, but the answer stalled or the deadline passed
    TooLarge,     // the page was longer than the cap
    Broken,       // anything else: the connection broke off, a malformed answer, a redirect
                  // that could not be followed, a URL that is not http or https
};

// What a page fetch with a size cap brought: the page, or an empty buffer and why.
struct FetchedPage {
    Bytes body;
    // The final response's status code (of the last redirect followed); 0 when none came.
    long status = 0;
    FetchFailure failure = FetchFailure::None;
};

// FetchPageBytes with the page capped at maxBytes (at most kMaxBodyBytes): a longer page,
// announced or arriving, is abandoned and gives an empty body and TooLarge. The body of an
// error status (404, 503) is a page like any other.
FetchedPage FetchPage(const Text& url, const Deadline& deadline, std::size_t maxBytes);

} // namespace pandrel
