#pragma once

#include <optional>

#include "runtime/value_types.h"

namespace pandrel::detail {

// The request routine follows redirects itself, one request per address, so that the verb and
// the body change the way HTTP says (libcurl would keep a custom verb such as PUT across a 303).

// The verb (by index, as in WebRequestOptions::method) and the body of one request of a chain.
struct ChainRequest {
    int method = 0;
    Bytes body;
};

// The status code of a response header block ("HTTP/1.1 303 See Other" gives 303); 0 when the
// block starts with no status line.
int StatusCodeOf(const Text& headers);

// The request that follows a redirect answered with `status`:
//   303 asks for a GET without a body; a HEAD stays a HEAD, without a body too;
//   301 and 302 turn a POST into a GET without a body and keep any other verb with its body;
//   307, 308 and every other status keep the verb and the body.
ChainRequest RequestAfterRedirect(int status, ChainRequest request);

// Where a response sends the request next: nothing when it is no redirect (not a 3xx, or a 3xx
// without a Location); an empty text when it is one that cannot be followed (a Location that
// does not resolve to an http or https address); otherwise the absolute address, the Location
// resolved against `from` with the bytes an address cannot carry percent-encoded.
std::optional<Text> RedirectTarget(const Text& from, const Text& responseHeaders);

// True when both addresses have the same scheme, host and port (default ports filled in).
bool SameOrigin(const Text& a, const Text& b);

// The header block without its Cookie and Authorization lines: what may go to another origin
// than the one the caller addressed.
Text WithoutCredentials(const Text& block);

} // namespace pandrel::detail
