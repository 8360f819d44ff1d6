#include "runtime/text.h"

#include <gtest/gtest.h>

#include <vector>

namespace pandrel {
namespace {

// Two 3-byte characters: U+554A (E5 95 8A) and U+9A8A (E9 AA 8A). "\x8A\xE9" only exists
// across their boundary.
const Text kTwoChars = "\xE5\x95\x8A\xE9\xAA\x8A";
const Text kBlank = "\xE3\x80\x80"; // U+3000

TEST(TextCut, CountsBytesAndClampsAtBothEnds) {
    struct Case {
        Text got;
        Text want;
    };
    const Case cases[] = {
        {LeftText("abc", 5), "abc"},
        {LeftText("abc", 0), ""},
        {LeftText("abc", -1), ""},
        {LeftText("abc", 2), "ab"},
        {RightText("abc", 0), ""},
        {RightText("abc", 2), "bc"},
        {RightText("abc", 9), "abc"},
        {MidText("abcdef", 3, 10), "cdef"},
        {MidText("abc", 4, 1), ""},
        {MidText("abc", 3, 1), "c"},
        {MidText("abc", 0, 2), ""},
        {MidText("abc", 1, 0), ""},
        {MidText("abc", 2, -5), ""},
        {Spaces(3), "   "},
        {Spaces(0), ""},
        {CharFromCode(0), ""},
        {"x" + CharFromCode(0), "x"},
        {CharFromCode('A'), "A"},
        {LeftText(kTwoChars, 2), "\xE5\x95"}, // a count cut may split a character
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(cases[i].got, cases[i].want) << "case " << i;
    }
    EXPECT_EQ(CodeOfChar("A"), 65);
    EXPECT_EQ(CodeOfChar("ab", 2), 98);
    EXPECT_EQ(CodeOfChar("ab", 3), 0);
    EXPECT_EQ(CodeOfChar("ab", 0), 0);
    EXPECT_EQ(CodeOfChar("\xE5"), -27);
}

struct FindCase {
    Text text;
    Text part;
    std::optional<int> start;
    bool ignoreCase;
    int forward;
    int reverse;
};

TEST(TextFind, ForwardAndReverseWithStartAndCase) {
    const FindCase cases[] = {
        {"abcabc", "c", {}, false, 3, 6},
        {"abcabc", "c", 4, false, 6, 3},
        {"abcabc", "c", 7, false, -1, 6},
        {"abcabc", "c", 0, false, 3, -1},
        {"abcabc", "abc", 3, false, 4, -1}, // reverse: "ab" cannot hold "abc"
        {"abcabc", "abc", 4, false, 4, 1},  // reverse: "abc" wholly before 4
        {"abc", "", {}, false, 1, 1},
        {"", "", {}, false, -1, -1},
        {"abc", "", 4, false, -1, 1},
        {"abc", "", 1, false, 1, -1},
        {"a:b:c", ":", {}, false, 2, 4},
        {"a:b:c", ":", 4, false, 4, 2},
        {"ab", "abc", {}, false, -1, -1},
        {"Set-Cookie: a", "set-cookie:", {}, true, 1, 1},
        {"Set-Cookie: a", "set-cookie:", {}, false, -1, -1},
        {"aAa", "A", {}, false, 2, 2},
        {kTwoChars, "\x8A\xE9", {}, false, -1, -1}, // straddles two characters
        {kTwoChars, "\xE9\xAA\x8A", {}, false, 4, 4},
        {kTwoChars + "x", "x", 2, false, 7, -1},
        // A stray continuation byte is one unit, so the scan goes on after it.
        {"\x80x\x80", "\x80", 2, false, 3, 1},
        // Case folding touches ASCII letters only.
        {"\xC3\x84", "\xC3\xA4", {}, true, -1, -1},
    };
    for (const FindCase& c : cases) {
        EXPECT_EQ(FindText(c.text, c.part, c.start, c.ignoreCase), c.forward)
            << "'" << c.text << "' '" << c.part << "' start " << c.start.value_or(-99);
        EXPECT_EQ(FindTextReverse(c.text, c.part, c.start, c.ignoreCase), c.reverse)
            << "'" << c.text << "' '" << c.part << "' start " << c.start.value_or(-99);
    }
}

TEST(TextCharacters, WholeUtf8SequencesOrSingleBytes) {
    const std::pair<Text, int> cases[] = {
        {"a", 1},
        {"\xC3\xA4", 2},
        {"\xE4\xB8\xAD", 3},
        {"\xF0\x9F\x98\x80", 4},
        {"\xC0\x80", 1},         // overlong
        {"\xED\xA0\x80", 1},     // surrogate
        {"\xF4\x90\x80\x80", 1}, // past U+10FFFF
        {"\xE4\xB8", 1},         // cut short at the end
        {"\xE4"
         "a"
         "\xAD",
         1}, // continuation missing
        {"\x80", 1},
    };
    for (const auto& [text, length] : cases) {
        EXPECT_EQ(CharacterLengthAt(text, 0), length) << testing::PrintToString(text);
    }
}

TEST(TextTransform, CaseAndTrim) {
    EXPECT_EQ(ToUpper("abZ1\xC3\xA4"), "ABZ1\xC3\xA4");
    EXPECT_EQ(ToLower("ABz1\xC3\x84"), "abz1\xC3\x84");
    const std::pair<Text, Text> trims[] = {
        {"  a b  ", "a b"},
        {kBlank + " a" + kBlank + kBlank, "a"},
        {" a\r\n", "a\r\n"},
        {"\ta ", "\ta"},
        {"   ", ""},
        {kBlank, ""},
        {"\xE3\x80", "\xE3\x80"}, // a cut-off blank is not a blank
        {"", ""},
    };
    for (const auto& [in, out] : trims) {
        EXPECT_EQ(TrimBoth(in), out) << testing::PrintToString(in);
    }
}

TEST(TextReplace, StartCountCaseAndNoRescan) {
    struct Case {
        Text got;
        Text want;
    };
    const Case cases[] = {
        {ReplaceSubtext("ab/ab/", "ab", {}, {}, {}, true), "//"},
        {ReplaceSubtext("ab/ab/", "ab", {}, {}, 1, true), "/ab/"},
        {ReplaceSubtext("ab/ab/", "ab", "x", 2, {}, true), "ab/x/"},
        {ReplaceSubtext("ab/ab/", "ab", "x", 7, {}, true), "ab/ab/"},
        {ReplaceSubtext("ab/ab/", "ab", "x", {}, 0, true), "ab/ab/"},
        {ReplaceSubtext("AB/ab/", "ab", "x", {}, {}, true), "AB/x/"},
        {ReplaceSubtext("AB/ab/", "ab", "x", {}, {}, false), "x/x/"},
        {ReplaceSubtext("aaa", "a", "aa", {}, {}, true), "aaaaaa"},
        {ReplaceSubtext("", "a", "b", {}, {}, true), ""},
        {ReplaceSubtext("abc", "", "b", {}, {}, true), "abc"},
        {ReplaceSubtext(kTwoChars, "\x8A\xE9", "!", {}, {}, true), kTwoChars},
        {ReplaceSubtext(kTwoChars + "\xE4", "\xE9\xAA\x8A", "x", {}, {}, true),
         "\xE5\x95\x8Ax\xE4"}, // a trailing stray byte is kept
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(cases[i].got, cases[i].want) << "case " << i;
    }
}

TEST(TextSplit, EmptyPiecesAndMaxCount) {
    struct Case {
        Text text;
        Text separator;
        std::optional<int> maxCount;
        std::vector<Text> want;
    };
    const Case cases[] = {
        {"a,,b", ",", {}, {"a", "", "b"}},
        {",a", ",", {}, {"", "a"}},
        {"a,", ",", {}, {"a"}},
        {",", ",", {}, {""}},
        {"a,b,c", ",", 2, {"a", "b"}},
        {"a,b,c", ",", 0, {}},
        {"a,b,c", ",", 5, {"a", "b", "c"}},
        {"", ",", {}, {}},
        {"abc", "", {}, {"abc"}},
        {"abc", ",", {}, {"abc"}},
        {"a</tr>b</tr>", "</tr>", {}, {"a", "b"}},
        {kTwoChars, "\x8A\xE9", {}, {kTwoChars}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SplitText(c.text, c.separator, c.maxCount).Members(), c.want)
            << "'" << c.text << "' by '" << c.separator << "'";
    }
    EXPECT_EQ(SplitText("x,y").Members(), (std::vector<Text>{"x", "y"}));
}

TEST(TextHelpers, BetweenAndCount) {
    EXPECT_EQ(TextBetween("<a>1</a><a>2</a>", "<a>", "</a>"), "1");
    EXPECT_EQ(TextBetween("x</a><a>1", "<a>", "</a>"), "");
    EXPECT_EQ(TextBetween("<a>1", "<a>", "</a>"), "");
    EXPECT_EQ(TextBetween("<A>1</a>", "<a>", "</a>"), "");
    EXPECT_EQ(TextBetween("<a></a>", "<a>", "</a>"), "");
    EXPECT_EQ(TextBetween("ab", "ab", "b"), "");
    EXPECT_EQ(TextBetween("aXa", "a", "a"), "X");
    EXPECT_EQ(CountOccurrences("<tr>1<TR>2<Tr>", "<tr>"), 3);
    EXPECT_EQ(CountOccurrences("aaaa", "aa"), 2);
    EXPECT_EQ(CountOccurrences("", "a"), 0);
    EXPECT_EQ(CountOccurrences("a", ""), 0);
    EXPECT_EQ(CountOccurrences(kTwoChars, "\x8A\xE9"), 0);
}

} // namespace
} // namespace pandrel
