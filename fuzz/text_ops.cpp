// Feeds arbitrary bytes through the text operations and checks what must hold for any input:
// positions in range and pointing at a real match, results never longer than they can be,
// splits that join back to their input, conversions that agree with each other.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "runtime/convert.h"
#include "runtime/encoding.h"
#include "runtime/text.h"
#include "fuzz/support/fuzz_check.h"

using namespace pandrel;

namespace {

// Input layout: 4 parameter bytes, then text, part and replacement separated by 0x01 bytes.
struct Input {
    int start = 1;
    int count = 0;
    bool ignoreCase = false;
    bool countGiven = false;
    Text text;
    Text part;
    Text replacement;
};

Input Parse(const std::uint8_t* data, std::size_t size) {
    Input in;
    if (size >= 4) {
        in.start = static_cast<std::int8_t>(data[0]);
        in.count = static_cast<std::int8_t>(data[1]);
        in.ignoreCase = (data[2] & 1) != 0;
        in.countGiven = (data[2] & 2) != 0;
        data += 4;
        size -= 4;
    }
    Text* fields[] = {&in.text, &in.part, &in.replacement};
    std::size_t field = 0;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0x01 && field < 2) {
            ++field;
        } else if (data[i] != 0) { // a text holds no zero byte
            fields[field]->push_back(static_cast<char>(data[i]));
        }
    }
    return in;
}

bool IsSubstring(const Text& outer, const Text& inner) {
    return outer.find(inner) != Text::npos;
}

void CheckFind(const Input& in) {
    const Text& text = in.text;
    const Text& part = in.part;
    int found = FindText(text, part, in.start, in.ignoreCase);
    if (found != -1) {
        // An empty part is found at 1 whatever the start, as long as the region holds a byte.
        FUZZ_CHECK(part.empty() ? found == 1 : (found >= 1 && found >= in.start));
        FUZZ_CHECK(static_cast<std::size_t>(found - 1) + part.size() <= text.size());
        if (!in.ignoreCase) {
            FUZZ_CHECK(text.compare(static_cast<std::size_t>(found - 1), part.size(), part) == 0);
        }
    }
    int reverse = FindTextReverse(text, part, in.start, in.ignoreCase);
    if (reverse != -1) {
        std::size_t region = in.start <= 1 ? 0 : static_cast<std::size_t>(in.start - 1);
        region = std::min(region, text.size());
        FUZZ_CHECK(reverse >= 1);
        FUZZ_CHECK(static_cast<std::size_t>(reverse - 1) + part.size() <= region);
    }
    int whole = FindTextReverse(text, part, std::nullopt, false);
    int first = FindText(text, part, std::nullopt, false);
    FUZZ_CHECK((whole == -1) == (first == -1));
    FUZZ_CHECK(whole == -1 || part.empty() || whole >= first);
    int occurrences = CountOccurrences(text, part);
    FUZZ_CHECK(occurrences >= 0);
    FUZZ_CHECK(static_cast<std::size_t>(occurrences) * part.size() <= text.size());
    FUZZ_CHECK(occurrences == 0 || part.empty() || FindText(text, part, 1, true) != -1);
}

void CheckReplaceAndSplit(const Input& in) {
    std::optional<int> count = in.countGiven ? std::optional<int>(in.count) : std::nullopt;
    FUZZ_CHECK(ReplaceSubtext(in.text, in.part, in.part, in.start, count, true) == in.text);
    Text removed = ReplaceSubtext(in.text, in.part, {}, in.start, count, !in.ignoreCase);
    FUZZ_CHECK(removed.size() <= in.text.size());
    Text replaced = ReplaceSubtext(in.text, in.part, in.replacement, in.start, count, false);
    if (!in.part.empty() && in.replacement.size() <= in.part.size()) {
        FUZZ_CHECK(replaced.size() <= in.text.size());
    }

    Array<Text> pieces = SplitText(in.text, in.part);
    if (!in.text.empty() && !in.part.empty()) {
        Text joined;
        for (int i = 1; i <= pieces.Count(); ++i) {
            joined += (i > 1 ? in.part : Text()) + pieces[i];
        }
        FUZZ_CHECK(joined == in.text || joined + in.part == in.text);
    }
    if (in.countGiven && in.count > 0) {
        FUZZ_CHECK(SplitText(in.text, in.part, in.count).Count() <= in.count);
    }
}

void CheckCutting(const Input& in) {
    const Text& text = in.text;
    Text mid = MidText(text, in.start, in.count);
    FUZZ_CHECK(mid.size() <= text.size() && IsSubstring(text, mid));
    FUZZ_CHECK(in.count <= 0 || mid.size() <= static_cast<std::size_t>(in.count));
    FUZZ_CHECK(LeftText(text, in.count).size() <= text.size());
    FUZZ_CHECK(RightText(text, in.start).size() <= text.size());
    Text trimmed = TrimBoth(text);
    FUZZ_CHECK(IsSubstring(text, trimmed));
    FUZZ_CHECK(trimmed.empty() || (trimmed.front() != ' ' && trimmed.back() != ' '));
    FUZZ_CHECK(TrimBoth(trimmed) == trimmed);
    Text between = TextBetween(text, in.part, in.replacement);
    FUZZ_CHECK(between.size() <= text.size() && IsSubstring(text, between));
    FUZZ_CHECK(ToUpper(text).size() == text.size() && ToLower(ToUpper(text)) == ToLower(text));
    CodeOfChar(text, in.start);
}

void CheckNumbers(const Input& in, const std::uint8_t* data, std::size_t size) {
    std::int64_t wide = ToInt64(in.text);
    std::int32_t narrow = ToInt(in.text);
    std::int64_t clamped =
        std::min<std::int64_t>(std::max<std::int64_t>(wide, INT32_MIN), INT32_MAX);
    FUZZ_CHECK(narrow == clamped);
    ToFloat(in.text);

    double value = 0;
    if (size >= 12) {
        std::memcpy(&value, data + 4, sizeof(value));
    } else {
        value = std::strtod(in.text.c_str(), nullptr);
    }
    int decimals = in.count % 24;
    Text plain = FormatNumber(value, decimals, false);
    Text grouped = FormatNumber(value, decimals, true);
    FUZZ_CHECK(!plain.empty());
    Text ungrouped = grouped;
    std::erase(ungrouped, ',');
    FUZZ_CHECK(ungrouped == plain);
    std::size_t point = plain.find('.');
    if (decimals > 0 && std::isfinite(value) && plain.find('e') == Text::npos) {
        FUZZ_CHECK(point != Text::npos &&
                   plain.size() - point - 1 >= static_cast<std::size_t>(decimals));
    }
    FUZZ_CHECK(!ToText(value).empty() && ToText(value).size() <= 24);
    FUZZ_CHECK(ToInt(value) == ToInt(std::trunc(value)) || std::isnan(value));
}

void CheckEncoding(const Input& in) {
    Text clean = Utf8ToText(in.text);
    FUZZ_CHECK(clean.size() <= in.text.size());
    FUZZ_CHECK(Utf8ToText(clean) == clean);
    for (std::size_t at = 0; at < clean.size();) {
        int length = CharacterLengthAt(clean, at);
        FUZZ_CHECK(length > 1 || static_cast<unsigned char>(clean[at]) < 0x80);
        at += static_cast<std::size_t>(length);
    }
    std::u16string units = Utf8ToUtf16(clean);
    FUZZ_CHECK(units.size() <= clean.size());
    FUZZ_CHECK(Utf16ToUtf8(units) == clean);
    Utf16ToUtf8(Utf8ToUtf16(in.text));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in = Parse(data, size);
    CheckFind(in);
    CheckReplaceAndSplit(in);
    CheckCutting(in);
    CheckNumbers(in, data, size);
    CheckEncoding(in);
    return 0;
}
