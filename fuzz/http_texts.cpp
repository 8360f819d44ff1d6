// Header and cookie texts as a hostile server could send them: the header block goes through
// NormalizeHeaderNames and CollectSetCookies, and the collected cookies are merged with an old
// cookie text cut from the same input.
#include <cstdint>
#include <string>

#include "fuzz/support/fuzz_check.h"
#include "http/cookie_text.h"
#include "http/header_text.h"
#include "runtime/text.h"

using namespace pandrel;

namespace {

bool HasDeletedItem(const Text& cookies) {
    for (const Text& item : SplitText(cookies, "; ")) {
        if (item.size() >= 8 && item.compare(item.size() - 8, 8, "=deleted") == 0) {
            return true;
        }
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Text input(reinterpret_cast<const char*>(data), size);
    const std::size_t cut = input.find('\x01');
    const Text headers = input.substr(0, cut);
    const Text oldCookies = cut == Text::npos ? Text() : input.substr(cut + 1);

    const Text normalized = NormalizeHeaderNames(headers);
    // Only names change case and lines without a colon go: nothing can grow.
    FUZZ_CHECK(normalized.size() <= headers.size());
    FUZZ_CHECK(NormalizeHeaderNames(normalized) == normalized);

    const Text collected = CollectSetCookies(headers);
    const Text merged = MergeCookies(oldCookies, collected);
    // Every item comes from one of the two texts; the join adds one "; " between them.
    FUZZ_CHECK(merged.size() <= oldCookies.size() + collected.size() + 2);
    FUZZ_CHECK(!HasDeletedItem(merged));
    UserAgentFrom(headers);
    return 0;
}
