#include "http/redirects.h"

#include <curl/curl.h>

#include "http/header_text.h"
#include "http/transfer.h"
#include "runtime/convert.h"
#include "runtime/text.h"

namespace pandrel::detail {
namespace {

constexpr int kPost = 1;
constexpr int kHead = 2;

Text LocationOf(const Text& headers) {
    for (const Text& line : SplitText(headers, "\r\n")) {
        if (HeaderLineNames(line, "Location")) {
            return TrimBoth(line.substr(9));
        }
    }
    return {};
}

} // namespace

int StatusCodeOf(const Text& headers) {
    // "HTTP/1.1 303 See Other": the three digits after the first space.
    const std::size_t space = headers.find(' ');
    if (space == Text::npos || headers.compare(0, 5, "HTTP/") != 0) {
        return 0;
    }
    return ToInt(headers.substr(space + 1, 3));
}

ChainRequest RequestAfterRedirect(int status, ChainRequest request) {
    const bool toRetrieval =
        status == 303 || ((status == 301 || status == 302) && request.method == kPost);
    if (toRetrieval) {
        request.method = request.method == kHead ? kHead : 0;
        request.body.clear();
    }
    return request;
}

std::optional<Text> RedirectTarget(const Text& from, const Text& responseHeaders) {
    const int status = StatusCodeOf(responseHeaders);
    const Text location = LocationOf(responseHeaders);
    if (status < 300 || status > 399 || location.empty()) {
        return std::nullopt;
    }
    UrlHandle url = ParsedUrl(from);
    if (url == nullptr ||
        curl_url_set(url.get(), CURLUPART_URL, location.c_str(),
                     CURLU_URLENCODE | CURLU_ALLOW_SPACE | CURLU_PATH_AS_IS) != CURLUE_OK) {
        return Text();
    }
    const Text scheme = ToLower(UrlPart(url.get(), CURLUPART_SCHEME));
    if (scheme != "http" && scheme != "https") {
        return Text();
    }
    return UrlPart(url.get(), CURLUPART_URL);
}

bool SameOrigin(const Text& a, const Text& b) {
    UrlHandle first = ParsedUrl(a);
    UrlHandle second = ParsedUrl(b);
    if (first == nullptr || second == nullptr) {
        return false;
    }
    for (CURLUPart part : {CURLUPART_SCHEME, CURLUPART_HOST, CURLUPART_PORT}) {
        const unsigned int flags = part == CURLUPART_PORT ? CURLU_DEFAULT_PORT : 0;
        if (ToLower(UrlPart(first.get(), part, flags)) !=
            ToLower(UrlPart(second.get(), part, flags))) {
            return false;
        }
    }
    return true;
}

Text WithoutCredentials(const Text& block) {
    Text kept;
    bool first = true;
    for (const Text& line : SplitText(block, "\r\n")) {
        if (HeaderLineNames(line, "Cookie") || HeaderLineNames(line, "Authorization")) {
            continue;
        }
        kept += (first ? "" : "\r\n") + line;
        first = false;
    }
    return kept;
}

} // namespace pandrel::detail
