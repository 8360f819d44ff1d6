#pragma once

#include <optional>

#include "runtime/array.h"
#include "runtime/value_types.h"

namespace pandrel {

// Measuring and cutting. Cuts by count may split a multi-byte character; that is intended.
int TextLength(const Text& text);
Text LeftText(const Text& text, int n);
Text RightText(const Text& text, int n);
Text MidText(const Text& text, int start, int n);
Text CharFromCode(std::uint8_t code);
int CodeOfChar(const Text& text, std::optional<int> position = std::nullopt);
Text Spaces(int n);

// Searching and transforming. Scans step over a whole UTF-8 sequence at a time, so a match
// never starts inside a character. A failed search gives -1.
int FindText(const Text& text, const Text& part, std::optional<int> start = std::nullopt,
             bool ignoreCase = false);
int FindTextReverse(const Text& text, const Text& part, std::optional<int> start = std::nullopt,
                    bool ignoreCase = false);
Text ToUpper(const Text& text);
Text ToLower(const Text& text);
Text TrimBoth(const Text& text);
Text ReplaceSubtext(const Text& text, const Text& part, const Text& replacement = {},
                    std::optional<int> start = std::nullopt,
                    std::optional<int> count = std::nullopt, bool caseSensitive = false);
Array<Text> SplitText(const Text& text, const Text& separator = ",",
                      std::optional<int> maxCount = std::nullopt);

// The text between the first `left` and the next `right` after it; empty when either is
// missing. Case-sensitive.
Text TextBetween(const Text& text, const Text& left, const Text& right);

// Non-overlapping occurrences of `part`, ASCII letters compared without regard to case;
// 0 when either text is empty.
int CountOccurrences(const Text& text, const Text& part);

// Length in bytes of the character that starts at `text[index]` (0-based): a whole UTF-8
// sequence, or 1 for a stray or invalid byte. Exposed for the scanners built on top.
int CharacterLengthAt(const Text& text, std::size_t index);

} // namespace pandrel
