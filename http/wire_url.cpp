#include "http/wire_url.h"

#include <arpa/inet.h>
#include <curl/curl.h>

#include <algorithm>

#include "http/transfer.h"
#include "http/url_parts.h"
#include "runtime/convert.h"
#include "runtime/text.h"

namespace pandrel {
namespace {

// Only a plain host may reach the URL we hand to libcurl: anything that could be read as user
// info, a port, a path or a query would send the request somewhere else than the host the
// routine computed. A plain name is made of ASCII letters, digits, ".", "-" and "_".
bool IsPlainName(const Text& host) {
    if (host.empty()) {
        return false;
    }
    for (char c : host) {
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     c == '.' || c == '-' || c == '_';
        if (!plain) {
            return false;
        }
    }
    return true;
}

bool IsBracketedIpv6(const Text& host) {
    if (host.size() < 3 || host.front() != '[' || host.back() != ']') {
        return false;
    }
    in6_addr address{};
    return inet_pton(AF_INET6, host.substr(1, host.size() - 2).c_str(), &address) == 1;
}

// The host as the wire carries it: an international name in its ASCII (punycode) form, as
// libcurl converts it; every other host unchanged. Empty when the name cannot be converted.
Text AsciiHost(const Text& host) {
    const bool ascii = std::all_of(host.begin(), host.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii) {
        return host;
    }
    detail::Utf8LocaleScope utf8;
    const detail::UrlHandle url = detail::ParsedUrl("http://" + host + "/");
    return url == nullptr ? Text() : detail::UrlPart(url.get(), CURLUPART_HOST, CURLU_PUNYCODE);
}

} // namespace

Text RequestWireUrl(const Text& url) {
    Text host = HostOf(url, false);
    if (IsBracketedIpv6(host)) {
        const Text rest = HostOf(url, true).substr(host.size());
        if (!rest.empty() && rest.front() != ':') {
            return {};
        }
    } else {
        host = AsciiHost(host);
        if (!IsPlainName(host)) {
            return {};
        }
    }
    const bool isHttps = ToLower(LeftText(url, 8)) == "https://";
    const int port = PortOf(url);
    return (isHttps ? "https://" : "http://") + host +
           (port != 0 ? ":" + ToText(static_cast<std::int32_t>(port)) : Text()) +
           EncodeUrlForWire(PathOf(url));
}

Text PageWireUrl(const Text& url) {
    const std::size_t scheme = url.find("://");
    const std::size_t hostEnd =
        scheme == Text::npos ? Text::npos : url.find_first_of("/?", scheme + 3);
    const std::size_t split = hostEnd == Text::npos ? url.size() : hostEnd;
    const Text head = url.substr(0, split);
    for (char c : head) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F) {
            return EncodeUrlForWire(url);
        }
    }
    return head + EncodeUrlForWire(url.substr(split));
}

} // namespace pandrel
