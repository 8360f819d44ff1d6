#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "runtime/value_types.h"

namespace pandrel {

// One compiled pattern, the text it last ran over and the matches that run produced.
//
// Patterns and texts are UTF-8; the pattern works on characters, so one Chinese character is
// one character. "\W" matches every character that is not A-Z, a-z, 0-9 or "_" (every Chinese
// character among them), "\s" is space, tab, CR, LF, VT and FF, and "." never matches a line
// feed. Invalid UTF-8 in a text is never an error: no match can cross it.
//
// No operation reports an error: a bad pattern, a missing match or a missing submatch gives
// false, an empty text or 0. Numbers of matches and submatches are 1-based. Copies share the
// compiled pattern, which is immutable; an instance is used on one thread at a time.
class RegexObject {
public:
    RegexObject();
    ~RegexObject();
    RegexObject(const RegexObject& other);
    RegexObject& operator=(const RegexObject& other);

    // Compiles `pattern` and collects its matches in `text`: all non-overlapping ones when
    // `global`, else the first. Letters compare without regard to case unless
    // `caseSensitive`; with `multiLine`, "^" and "$" also match at line breaks. With
    // `quoteMarker`, every "#引号" in the pattern stands for a double quote. True when the
    // pattern compiled and the text could be searched, even if nothing matched.
    bool Execute(const Text& pattern, const Text& text, bool caseSensitive = false,
                 bool multiLine = true, bool global = true, bool quoteMarker = false);

    // Does nothing; it keeps its place among the object's operations.
    void Reserved() const {}

    // The pattern of the last Execute (after the quote marker), empty before the first one.
    Text GetPattern() const;

    // The last text with the matches (all of them when the last Execute was global) replaced
    // by `replacement`, in which "$1" or "${1}" stands for a submatch and "$$" for "$". Empty
    // when there is no compiled pattern or the replacement is malformed.
    Text ReplaceText(const Text& replacement) const;

    int MatchCount() const;
    Text MatchText(int matchNumber) const;
    Text SubMatch(int matchNumber, int subNumber) const;
    // The number of submatches of the first match; 0 when nothing matched.
    int SubMatchCount() const;

private:
    // Byte offsets into m_lastText: the whole match first, then one pair per group;
    // an unset group has npos in both.
    struct Match {
        std::vector<std::size_t> offsets;
    };
    struct Compiled;
    enum class CollectResult { Done, InvalidText, Failed };

    static std::shared_ptr<const Compiled> Compile(const Text& pattern, uint32_t options,
                                                   bool invalidText);
    CollectResult CollectMatches();
    Text Slice(std::size_t start, std::size_t end) const;

    std::shared_ptr<const Compiled> m_code;
    Text m_pattern;
    Text m_lastText;
    bool m_global = true;
    bool m_hasPattern = false;
    std::vector<Match> m_matches;
};

} // namespace pandrel
