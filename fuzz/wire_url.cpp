// The engine's link check over arbitrary bytes, as a listing's download link would give it. A
// link it accepts goes on the wire as it returns it: that text must carry no byte a request
// line cannot, must keep the link's scheme, and must pass the check again unchanged.
#include <cstdint>
#include <string>
#include <strings.h>

#include "fuzz/support/fuzz_check.h"
#include "wire_url.h"

using namespace dlengine;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string link(reinterpret_cast<const char*>(data), size);
    const std::string wire = ToWireUrl(link);
    if (wire.empty()) {
        return 0;
    }
    const std::string::size_type pathAt = wire.find_first_of("/?", wire.find("://") + 3);
    for (std::string::size_type i = pathAt; i < wire.size(); ++i) {
        const auto byte = static_cast<unsigned char>(wire[i]);
        FUZZ_CHECK(byte > 0x20 && byte < 0x7F);
    }
    FUZZ_CHECK(wire.find('#') == std::string::npos);
    FUZZ_CHECK(strncasecmp(wire.c_str(), "http://", 7) == 0 ||
               strncasecmp(wire.c_str(), "https://", 8) == 0);
    FUZZ_CHECK(ToWireUrl(wire) == wire);
    return 0;
}
