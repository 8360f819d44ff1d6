#include "http/cookie_text.h"

#include <algorithm>

#include "runtime/text.h"

namespace pandrel {

namespace {

// Removes the last n bytes; a shorter text becomes empty.
void DropTail(Text& text, std::size_t n) {
    text.resize(text.size() > n ? text.size() - n : 0);
}

// Trimmed, and a final ";" gets the space that makes it a separator, so "a=1;" splits as a=1.
Text PrepareForSplit(const Text& cookies) {
    Text out = TrimBoth(cookies);
    if (!out.empty() && out.back() == ';') {
        out += " ";
    }
    return out;
}

bool IsDeleted(const Text& item) {
    return RightText(item, 8) == "=deleted";
}

} // namespace

Text CookieName(const Text& item) {
    int equals = FindText(item, "=");
    return TrimBoth(equals == -1 ? item : LeftText(item, equals - 1));
}

Text CollectSetCookies(const Text& rawHeaders) {
    Text result;
    for (const Text& line : SplitText(rawHeaders, "\r\n")) {
        int separator = FindText(line, ": ");
        Text name = separator > 1 ? LeftText(line, separator - 1) : Text();
        if (name != "Set-Cookie") {
            continue;
        }
        Text value;
        if (FindText(line, ";") == -1) {
            value = TrimBoth(
                ReplaceSubtext(line, "Set-Cookie:", "", std::nullopt, std::nullopt, false));
        } else {
            value = TrimBoth(TextBetween(line, "Set-Cookie:", ";"));
        }
        result += value + "; ";
    }
    DropTail(result, 2);
    return result;
}

Text MergeCookies(const Text& oldCookies, const Text& newCookies) {
    Array<Text> oldItems = SplitText(PrepareForSplit(oldCookies), "; ");
    Array<Text> merged = SplitText(PrepareForSplit(newCookies), "; ");
    for (const Text& item : oldItems) {
        const Text name = CookieName(item);
        bool named = std::any_of(merged.begin(), merged.end(),
                                 [&](const Text& kept) { return CookieName(kept) == name; });
        if (!named) {
            merged.Append(item);
        }
    }
    Text result;
    for (const Text& item : merged) {
        if (!IsDeleted(item)) {
            result += item + "; ";
        }
    }
    DropTail(result, 2);
    return JoinUnique(result, "; ");
}

Text JoinUnique(const Text& text, const Text& separator) {
    Array<Text> kept;
    Text result;
    for (const Text& piece : SplitText(text, separator)) {
        if (std::find(kept.begin(), kept.end(), piece) == kept.end()) {
            kept.Append(piece);
            result += piece + separator;
        }
    }
    DropTail(result, separator.size());
    return result;
}

} // namespace pandrel
