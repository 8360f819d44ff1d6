#pragma once

#include "runtime/value_types.h"

namespace pandrel {

inline constexpr const char* kPageFetchUserAgent =
    "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";

// A plain page fetch: GET over HTTP/1.0 with "Accept: */*", the fragment dropped, redirects
// followed, through the proxy the usual environment variables name (http_proxy, https_proxy,
// all_proxy, no_proxy). Only http and https URLs; anything else, an empty URL or any failure
// gives an empty buffer. One handle is kept for the life of the process so its connection can
// be reused; calls from several threads take turns on it.
Bytes FetchPageBytes(const Text& url);

} // namespace pandrel
