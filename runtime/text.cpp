#include "runtime/text.h"

#include <algorithm>
#include <cstring>

namespace pandrel {

namespace {

bool IsContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

unsigned char AsciiLower(unsigned char byte) {
    return (byte >= 'A' && byte <= 'Z') ? static_cast<unsigned char>(byte + ('a' - 'A')) : byte;
}

// Compares `part` with the bytes of `text` at 0-based `at`; the caller has checked that enough
// bytes remain. Without regard to case only ASCII letters fold; every other byte is exact.
bool MatchesAt(const Text& text, std::size_t at, const Text& part, bool ignoreCase) {
    if (!ignoreCase) {
        return std::memcmp(text.data() + at, part.data(), part.size()) == 0;
    }
    for (std::size_t i = 0; i < part.size(); ++i) {
        if (AsciiLower(static_cast<unsigned char>(text[at + i])) !=
            AsciiLower(static_cast<unsigned char>(part[i]))) {
            return false;
        }
    }
    return true;
}

// Start index (0-based) of a 1-based start position; omitted or below 1 counts as 1.
std::size_t StartIndex(std::optional<int> start) {
    return (start && *start > 1) ? static_cast<std::size_t>(*start - 1) : 0;
}

// The first match at or after 0-based `from` (a character's start) inside the first `end`
// bytes, stepping a whole character at a time; npos when none.
std::size_t ScanForward(const Text& text, std::size_t from, std::size_t end, const Text& part,
                        bool ignoreCase) {
    const auto first = static_cast<unsigned char>(part.empty() ? 0x80 : part[0]);
    if (first < 0x80) {
        // An ASCII byte never lies inside a character (the bytes after a lead byte are 0x80
        // and up), so each place that byte occurs is a place the stepping scan reaches: the
        // places are looked for directly, which is much faster on long texts.
        const unsigned char lower = ignoreCase ? AsciiLower(first) : first;
        const unsigned char upper = ignoreCase && lower >= 'a' && lower <= 'z'
                                        ? static_cast<unsigned char>(lower - ('a' - 'A'))
                                        : lower;
        for (std::size_t at = from; at < end && end - at >= part.size(); ++at) {
            if (lower == upper) {
                const void* found =
                    std::memchr(text.data() + at, lower, end - part.size() + 1 - at);
                if (found == nullptr) {
                    return Text::npos;
                }
                at = static_cast<std::size_t>(static_cast<const char*>(found) - text.data());
            } else {
                const auto byte = static_cast<unsigned char>(text[at]);
                if (byte != lower && byte != upper) {
                    continue;
                }
            }
            if (MatchesAt(text, at, part, ignoreCase)) {
                return at;
            }
        }
        return Text::npos;
    }
    for (std::size_t at = from; at < end && end - at >= part.size();
         at += static_cast<std::size_t>(CharacterLengthAt(text, at))) {
        if (MatchesAt(text, at, part, ignoreCase)) {
            return at;
        }
    }
    return Text::npos;
}

Text MapAscii(const Text& text, unsigned char first, unsigned char last, int shift) {
    Text out = text;
    for (char& c : out) {
        auto byte = static_cast<unsigned char>(c);
        if (byte >= first && byte <= last) {
            c = static_cast<char>(byte + shift);
        }
    }
    return out;
}

constexpr char kFullWidthBlank[] = "\xE3\x80\x80";
constexpr std::size_t kFullWidthBlankLength = 3;

} // namespace

int CharacterLengthAt(const Text& text, std::size_t index) {
    if (index >= text.size()) {
        return 1;
    }
    auto lead = static_cast<unsigned char>(text[index]);
    int length = 0;
    unsigned char low = 0x80;  // allowed range of the second byte, which rules out
    unsigned char high = 0xBF; // overlong forms, surrogates and code points past U+10FFFF
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 1;
    }
    if (text.size() - index < static_cast<std::size_t>(length)) {
        return 1;
    }
    auto second = static_cast<unsigned char>(text[index + 1]);
    if (second < low || second > high) {
        return 1;
    }
    for (int i = 2; i < length; ++i) {
        if (!IsContinuation(
                static_cast<unsigned char>(text[index + static_cast<std::size_t>(i)]))) {
            return 1;
        }
    }
    return length;
}

int TextLength(const Text& text) {
    return static_cast<int>(text.size());
}

Text LeftText(const Text& text, int n) {
    if (n <= 0) {
        return {};
    }
    return text.substr(0, std::min(static_cast<std::size_t>(n), text.size()));
}

Text RightText(const Text& text, int n) {
    if (n <= 0) {
        return {};
    }
    std::size_t count = std::min(static_cast<std::size_t>(n), text.size());
    return text.substr(text.size() - count);
}

Text MidText(const Text& text, int start, int n) {
    if (start < 1 || n <= 0 || static_cast<std::size_t>(start) > text.size()) {
        return {};
    }
    return text.substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(n));
}

Text CharFromCode(std::uint8_t code) {
    if (code == 0) {
        return {};
    }
    return Text(1, static_cast<char>(code));
}

int CodeOfChar(const Text& text, std::optional<int> position) {
    int at = position.value_or(1);
    if (at < 1 || static_cast<std::size_t>(at) > text.size()) {
        return 0;
    }
    return static_cast<signed char>(text[static_cast<std::size_t>(at - 1)]);
}

Text Spaces(int n) {
    if (n < 1) {
        return {};
    }
    return Text(static_cast<std::size_t>(n), ' ');
}

int FindText(const Text& text, const Text& part, std::optional<int> start, bool ignoreCase) {
    std::size_t from = StartIndex(start);
    if (from >= text.size()) {
        return -1;
    }
    if (part.empty()) {
        return 1;
    }
    std::size_t at = ScanForward(text, from, text.size(), part, ignoreCase);
    return at == Text::npos ? -1 : static_cast<int>(at + 1);
}

int FindTextReverse(const Text& text, const Text& part, std::optional<int> start, bool ignoreCase) {
    std::size_t end = text.size();
    if (start) {
        end = *start <= 1 ? 0 : std::min(static_cast<std::size_t>(*start - 1), text.size());
    }
    if (end == 0) {
        return -1;
    }
    if (part.empty()) {
        return 1;
    }
    int last = -1;
    for (std::size_t at = ScanForward(text, 0, end, part, ignoreCase); at != Text::npos;
         at = ScanForward(text, at + static_cast<std::size_t>(CharacterLengthAt(text, at)), end,
                          part, ignoreCase)) {
        last = static_cast<int>(at + 1);
    }
    return last;
}

Text ToUpper(const Text& text) {
    return MapAscii(text, 'a', 'z', 'A' - 'a');
}

Text ToLower(const Text& text) {
    return MapAscii(text, 'A', 'Z', 'a' - 'A');
}

Text TrimBoth(const Text& text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end) {
        if (text[begin] == ' ') {
            ++begin;
        } else if (end - begin >= kFullWidthBlankLength &&
                   text.compare(begin, kFullWidthBlankLength, kFullWidthBlank) == 0) {
            begin += kFullWidthBlankLength;
        } else {
            break;
        }
    }
    // A trailing E3 80 80 is always one whole character: 0x80 never leads one.
    while (end > begin) {
        if (text[end - 1] == ' ') {
            --end;
        } else if (end - begin >= kFullWidthBlankLength &&
                   text.compare(end - kFullWidthBlankLength, kFullWidthBlankLength,
                                kFullWidthBlank) == 0) {
            end -= kFullWidthBlankLength;
        } else {
            break;
        }
    }
    return text.substr(begin, end - begin);
}

Text ReplaceSubtext(const Text& text, const Text& part, const Text& replacement,
                    std::optional<int> start, std::optional<int> count, bool caseSensitive) {
    std::size_t from = StartIndex(start);
    if (text.empty() || part.empty() || from >= text.size() || (count && *count == 0)) {
        return text;
    }
    Text out = text.substr(0, from);
    int replaced = 0;
    std::size_t at = from;
    while (text.size() - at >= part.size()) {
        if (MatchesAt(text, at, part, !caseSensitive)) {
            out += replacement;
            at += part.size();
            ++replaced;
            if (count && replaced == *count) {
                break;
            }
        } else {
            std::size_t length = static_cast<std::size_t>(CharacterLengthAt(text, at));
            out.append(text, at, length);
            at += length;
        }
    }
    out.append(text, at, Text::npos);
    return out;
}

Array<Text> SplitText(const Text& text, const Text& separator, std::optional<int> maxCount) {
    Array<Text> pieces;
    if (text.empty() || (maxCount && *maxCount == 0)) {
        return pieces;
    }
    if (separator.empty()) {
        pieces.Append(text);
        return pieces;
    }
    std::size_t cut = 0;
    for (std::size_t at = ScanForward(text, 0, text.size(), separator, false); at != Text::npos;
         at = ScanForward(text, cut, text.size(), separator, false)) {
        pieces.Append(text.substr(cut, at - cut));
        cut = at + separator.size();
        if (maxCount && pieces.Count() == *maxCount) {
            return pieces;
        }
    }
    if (cut < text.size()) {
        pieces.Append(text.substr(cut));
    }
    return pieces;
}

Text TextBetween(const Text& text, const Text& left, const Text& right) {
    int leftAt = FindText(text, left);
    if (leftAt < 0) {
        return {};
    }
    int from = leftAt + TextLength(left);
    if (right.empty() || static_cast<std::size_t>(from) > text.size()) {
        return {};
    }
    int rightAt = FindText(text, right, from);
    if (rightAt < 0) {
        return {};
    }
    return text.substr(static_cast<std::size_t>(from - 1),
                       static_cast<std::size_t>(rightAt - from));
}

int CountOccurrences(const Text& text, const Text& part) {
    if (text.empty() || part.empty()) {
        return 0;
    }
    int found = 0;
    std::size_t at = ScanForward(text, 0, text.size(), part, true);
    while (at != Text::npos) {
        ++found;
        at = ScanForward(text, at + part.size(), text.size(), part, true);
    }
    return found;
}

} // namespace pandrel
