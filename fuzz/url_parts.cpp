// URL splitting over arbitrary text: the host is lower case and never holds a "/", the port is
// the default one when the URL names none, the path starts with "/", and the wire form carries no
// byte a request line cannot.
#include <cstdint>

#include "fuzz/support/fuzz_check.h"
#include "http/url_parts.h"

using namespace pandrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Text url(reinterpret_cast<const char*>(data), size);
    for (const bool keepPort : {false, true}) {
        const Text host = HostOf(url, keepPort);
        FUZZ_CHECK(host.size() <= url.size());
        for (const char c : host) {
            FUZZ_CHECK(!(c >= 'A' && c <= 'Z'));
        }
    }
    // The port is the number the URL spells, whatever it is; the request routine refuses an
    // address that cannot be reached, so only the default ports are checked here.
    const int port = PortOf(url);
    if (HostOf(url, true).find(':') == Text::npos) {
        FUZZ_CHECK(port == 80 || port == 443);
    }
    const Text path = PathOf(url);
    FUZZ_CHECK(!path.empty() && path.front() == '/');
    FUZZ_CHECK(path == "/" || path.size() <= url.size());
    const Text wire = EncodeUrlForWire(url);
    for (const char c : wire) {
        const auto byte = static_cast<unsigned char>(c);
        FUZZ_CHECK(byte > 0x20 && byte < 0x7F);
    }
    return 0;
}
