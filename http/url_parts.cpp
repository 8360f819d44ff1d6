#include "http/url_parts.h"

#include "runtime/convert.h"
#include "runtime/text.h"

namespace pandrel {

Text HostOf(const Text& url, bool keepPort) {
    Text u = ToLower(url);
    if (RightText(u, 1) != "/") {
        u += "/";
    }
    if (LeftText(u, 8) == "https://") {
        u = TextBetween(u, "https://", "/");
    } else {
        if (FindText(u, "http://") == -1) {
            u = "http://" + u;
        }
        u = TextBetween(u, "http://", "/");
    }
    if (!keepPort) {
        // A bracketed IPv6 address holds colons of its own; its port follows the "]".
        const int close = LeftText(u, 1) == "[" ? FindText(u, "]") : -1;
        const int colon = close != -1 ? close + 1 : FindText(u, ":");
        if (colon != -1) {
            u = LeftText(u, colon - 1);
        }
    }
    return u;
}

int PortOf(const Text& url) {
    Text host = HostOf(url, true);
    if (LeftText(host, 1) == "[") {
        host = MidText(host, TextLength(HostOf(url, false)) + 1, TextLength(host));
    }
    int colon = FindTextReverse(host, ":");
    if (colon == -1) {
        return ToLower(LeftText(url, 5)) == "https" ? 443 : 80;
    }
    return ToInt(RightText(host, TextLength(host) - colon));
}

Text PathOf(const Text& url) {
    int hostAt = FindText(url, HostOf(url, false), 1, true);
    int slash = FindText(url, "/", hostAt, true);
    if (slash == -1) {
        return "/";
    }
    return RightText(url, TextLength(url) - slash + 1);
}

Text EncodeUrlForWire(const Text& url) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    Text out;
    out.reserve(url.size());
    for (char c : url) {
        auto byte = static_cast<unsigned char>(c);
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

} // namespace pandrel
