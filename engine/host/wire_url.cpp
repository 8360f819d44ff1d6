#include "wire_url.h"

#include <curl/curl.h>
#include <memory>
#include <strings.h>

namespace dlengine {
namespace {

struct UrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct TextDeleter {
    void operator()(char* text) const { curl_free(text); }
};

std::string PercentEncoded(const std::string& part) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(part.size());
    for (const char c : part) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F) {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

// The scheme's length including "://", for http and https only; 0 otherwise.
size_t SchemeLength(const std::string& url) {
    for (const char* scheme : {"http://", "https://"}) {
        const size_t n = std::char_traits<char>::length(scheme);
        if (url.size() > n && strncasecmp(url.c_str(), scheme, n) == 0) {
            return n;
        }
    }
    return 0;
}

} // namespace

std::string ToWireUrl(const std::string& url) {
    const size_t scheme = SchemeLength(url);
    if (scheme == 0) {
        return {};
    }
    const std::string whole = url.substr(0, url.find('#'));
    const size_t pathAt = whole.find_first_of("/?", scheme);
    const std::string authority = whole.substr(0, pathAt);
    if (authority.size() == scheme || authority.find_first_of(" \t\r\n") != std::string::npos) {
        return {}; // no host, or one holding white space, encoded or not
    }
    const std::string wire =
        authority + (pathAt == std::string::npos ? "" : PercentEncoded(whole.substr(pathAt)));
    std::unique_ptr<CURLU, UrlDeleter> parsed(curl_url());
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, wire.c_str(), 0) != CURLUE_OK) {
        return {};
    }
    char* host = nullptr;
    if (curl_url_get(parsed.get(), CURLUPART_HOST, &host, 0) != CURLUE_OK || host == nullptr) {
        return {};
    }
    const std::unique_ptr<char, TextDeleter> owned(host);
    return *host == '\0' ? std::string() : wire;
}

} // namespace dlengine
