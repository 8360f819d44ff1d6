// The extraction pattern through the regular-expression object over arbitrary pasted text
// (invalid UTF-8 included): a found link has both parts, the code is four letters or digits,
// and both parts are pieces of the input.
#include <cstdint>

#include "fuzz/support/fuzz_check.h"
#include "share/regex_object.h"
#include "share/share_link.h"

using namespace pandrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Text input(reinterpret_cast<const char*>(data), size);
    const ShareLink link = ExtractShareLink(input, "pan.example.com");
    FUZZ_CHECK(link.id.empty() == link.code.empty() || link.code.empty());
    if (!link.id.empty()) {
        FUZZ_CHECK(link.code.size() == 4);
        FUZZ_CHECK(input.find(link.id) != Text::npos);
        FUZZ_CHECK(input.find(link.code) != Text::npos);
    }

    // The same object over the input's matches: every match lies inside the text.
    RegexObject regex;
    if (regex.Execute(ExtractionPattern("pan.example.com"), input)) {
        const int matches = regex.MatchCount();
        FUZZ_CHECK(matches >= 0);
        for (int i = 1; i <= matches && i <= 8; ++i) {
            FUZZ_CHECK(input.find(regex.MatchText(i)) != Text::npos);
        }
        const Text replaced = regex.ReplaceText("[$1|$2]");
        (void)replaced;
    }
    return 0;
}
