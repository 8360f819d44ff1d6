#pragma once

#include <optional>

#include "http/deadline.h"
#include "runtime/value_types.h"

namespace pandrel {

inline constexpr const char* kDefaultUserAgent =
    "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";

// The optional arguments of WebRequest. Each one can be left out, which is not the same as
// giving it empty or false: a supplied cookies text, even an empty one, keeps the request out
// of the process-wide cookie store and enables the merge of the returned cookies.
struct WebRequestOptions {
    // Verb by index: 0 GET, 1 POST, 2 HEAD, 3 PUT, 4 OPTIONS, 5 DELETE, 6 TRACE, 7 CONNECT;
    // any other value counts as 0.
    std::optional<int> method = std::nullopt;
    // Body for every method but GET, sent as its bytes; postBytes wins when not empty.
    std::optional<Text> postText = std::nullopt;
    // In and out: the cookie text to send; after the call the returned cookies merged in.
    Text* cookies = nullptr;
    // Out: the cookies the final response set, "name=value" items joined by "; ".
    Text* returnedCookies = nullptr;
    // Extra request header lines joined by "\r\n".
    std::optional<Text> extraHeaders = std::nullopt;
    // Out: the final response's header block, status line first, lines joined by "\r\n".
    Text* returnedHeaders = nullptr;
    std::optional<bool> noRedirect = std::nullopt;
    std::optional<Bytes> postBytes = std::nullopt;
    // "host:port" of an HTTP proxy; empty or left out: a direct connection, whatever the
    // environment's proxy settings say.
    std::optional<Text> proxy = std::nullopt;
    // The three switches below count as true when left out.
    std::optional<bool> mergeCookies = std::nullopt;
    std::optional<bool> completeHeaders = std::nullopt;
    std::optional<bool> normalizeHeaderNames = std::nullopt;
    // The whole exchange, redirects included, ends by then; left out: no deadline.
    Deadline deadline = std::nullopt;
    // The longest body taken, in bytes; left out or larger: kMaxBodyBytes. A longer body, of
    // the final response or of a redirect, is a failure like any other.
    std::optional<std::size_t> maxBodyBytes = std::nullopt;
    // Out: set when the request failed because a body was longer than that.
    bool* bodyTooLarge = nullptr;
    // Out: set when the request was abandoned for time: the deadline passed before it was
    // sent or ended it, or the answer stalled once the request was sent. A connect that did
    // not complete within the connect time-out is not a time-out here. libcurl keeps time by
    // a clock of its own, so only this says for sure that the deadline cut a request off.
    bool* timedOut = nullptr;
};

// The request header block: with completeHeaders the standard lines the block lacks
// ("Accept", "Referer", "Accept-Language", and "Content-Type" for POST), then, when cookies is
// given and not empty, its cookie line. Searches ignore case except the one for "Cookie:".
Text CompleteRequestHeaders(const Text& headers, int method, const Text& url, bool completeHeaders,
                            const Text* cookies);

// Sends one request on a connection of its own and returns the final response's body, error
// pages included. Every failure (no connection, untrusted certificate, time-out, the deadline,
// a body over the size limit) gives an empty body, an empty header block and no returned
// cookies. Blocks
// the calling thread; safe to call from several threads at once.
Bytes WebRequest(const Text& url, const WebRequestOptions& options = {});

// WebRequest with every option left out (but the deadline); the body up to its first zero
// byte.
Text FetchText(const Text& url, const Deadline& deadline = std::nullopt);

} // namespace pandrel
