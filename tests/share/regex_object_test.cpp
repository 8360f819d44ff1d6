#include "share/regex_object.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pandrel {
namespace {

const Text kExtraction = "pan.example.com/s/(.*?[~\\s])\\W.*?([a-z0-9]{4})";

struct ExtractionCase {
    const char* name;
    Text input;
    Text id;   // submatch 1 of match 1
    Text code; // submatch 2 of match 1
};

TEST(RegexObjectTest, ExtractionPatternPullsIdentifierAndCode) {
    const std::vector<ExtractionCase> cases = {
        {"one space", "链接：https://pan.example.com/s/1AbCdEf 提取码：a1b2", "1AbCdEf ", "a1b2"},
        {"two spaces keep the first", "链接：https://pan.example.com/s/1AbCdEf  提取码：a1b2",
         "1AbCdEf ", "a1b2"},
        {"CRLF keeps the carriage return",
         "链接：https://pan.example.com/s/1AbCdEf\r\n提取码：a1b2", "1AbCdEf\r", "a1b2"},
        {"tilde separator", "https://pan.example.com/s/1AbCdEf~ 提取码：a1b2", "1AbCdEf~", "a1b2"},
        {"capital code", "https://pan.example.com/s/1AbCdEf 提取码：X9YZ", "1AbCdEf ", "X9YZ"},
        {"Chinese character breaks the first run",
         "https://pan.example.com/s/1AbCdEf 提取码：ab中cd3e", "1AbCdEf ", "cd3e"},
        {"dot in the domain matches any character", "https://panXexample.com/s/Q1w2 码 zz99",
         "Q1w2 ", "zz99"},
        {"no domain", "链接：https://other.example.org/s/1AbCdEf 提取码：a1b2", "", ""},
        {"code only after a line feed", "https://pan.example.com/s/1AbCdEf 提取码\nab12", "", ""},
        {"invalid UTF-8 around the link",
         "\xff\xfe https://pan.example.com/s/1AbCdEf 码 a1b2\x80\xc3", "1AbCdEf ", "a1b2"},
    };
    for (const ExtractionCase& c : cases) {
        SCOPED_TRACE(c.name);
        RegexObject regex;
        EXPECT_TRUE(regex.Execute(kExtraction, c.input));
        EXPECT_EQ(regex.SubMatch(1, 1), c.id);
        EXPECT_EQ(regex.SubMatch(1, 2), c.code);
        EXPECT_EQ(regex.SubMatchCount(), c.id.empty() ? 0 : 2);
    }
}

TEST(RegexObjectTest, GlobalCollectsEveryShareAndSingleOnlyTheFirst) {
    const Text text = "https://pan.example.com/s/aaa1 提取码：1111\n"
                      "https://pan.example.com/s/bbb2 提取码：2222\n"
                      "https://pan.example.com/s/ccc3 提取码：3333";
    struct Case {
        bool global;
        std::vector<Text> codes;
    };
    for (const Case& c : {Case{true, {"1111", "2222", "3333"}}, Case{false, {"1111"}}}) {
        SCOPED_TRACE(c.global ? "global" : "first only");
        RegexObject regex;
        ASSERT_TRUE(regex.Execute(kExtraction, text, false, true, c.global));
        ASSERT_EQ(regex.MatchCount(), static_cast<int>(c.codes.size()));
        for (int i = 1; i <= regex.MatchCount(); ++i) {
            EXPECT_EQ(regex.SubMatch(i, 2), c.codes[static_cast<std::size_t>(i - 1)]);
        }
        EXPECT_EQ(regex.MatchText(1), "pan.example.com/s/aaa1 提取码：1111");
        EXPECT_EQ(regex.MatchText(regex.MatchCount() + 1), "");
    }
}

TEST(RegexObjectTest, MissingMatchesAndBadPatternsGiveEmptyResults) {
    struct Case {
        const char* name;
        Text pattern;
        Text text;
        bool executes;
        int match;
        int sub;
    };
    const std::vector<Case> cases = {
        {"nothing found", "(a)(b)", "xyz", true, 1, 1},
        {"third group of two", "(a)(b)", "ab", true, 1, 3},
        {"group zero", "(a)(b)", "ab", true, 1, 0},
        {"second match of one", "(a)(b)", "ab", true, 2, 1},
        {"group that did not take part", "(a)|(b)", "b", true, 1, 1},
        {"unbalanced parenthesis", "(ab", "ab", false, 1, 1},
        {"bad class", "[z-a]", "ab", false, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RegexObject regex;
        EXPECT_EQ(regex.Execute(c.pattern, c.text), c.executes);
        EXPECT_EQ(regex.SubMatch(c.match, c.sub), "");
        if (!c.executes) {
            EXPECT_EQ(regex.MatchCount(), 0);
            EXPECT_EQ(regex.SubMatchCount(), 0);
            EXPECT_EQ(regex.MatchText(1), "");
            EXPECT_EQ(regex.ReplaceText("x"), "");
        }
    }
}

TEST(RegexObjectTest, CharacterClassesAndOptions) {
    struct Case {
        const char* name;
        Text pattern;
        Text text;
        bool caseSensitive;
        Text match; // first match, empty for none
    };
    const std::vector<Case> cases = {
        {"dot stops at a line feed", "a.*", "abc\ndef", false, "abc"},
        {"dot takes a carriage return", "a.b", "a\rb", false, "a\rb"},
        {"dot cannot cross a line feed", "a.b", "a\nb", false, ""},
        {"lower-case classes match capitals", "[a-z][a-z][a-z][a-z]", "12ABCD", false, "ABCD"},
        {"case kept when asked", "[a-z]{4}", "ABCDefgh", true, "efgh"},
        {"non-word takes a Chinese character", "\\W", "ab中", false, "中"},
        {"word class stays ASCII", "\\w+", "中abc_9中", false, "abc_9"},
        {"vertical tab and form feed are blanks", "\\s\\s", "a\v\fb", false, "\v\f"},
        {"lazy quantifier takes the shortest", "x(.*?)y", "x12y34y", false, "x12y"},
        {"dollar at a line end in multi-line mode", "b$", "ab\ncd", false, "b"},
        {"earliest start wins", "b+|abc", "abcbbb", false, "abc"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RegexObject regex;
        ASSERT_TRUE(regex.Execute(c.pattern, c.text, c.caseSensitive));
        EXPECT_EQ(regex.MatchText(1), c.match);
        EXPECT_EQ(regex.MatchCount() > 0, !c.match.empty());
    }
}

TEST(RegexObjectTest, EmptyMatchesStepOverWholeCharacters) {
    RegexObject regex;
    ASSERT_TRUE(regex.Execute("x*", "中x文"));
    ASSERT_EQ(regex.MatchCount(), 4); // before 中, "x", before 文, at the end
    EXPECT_EQ(regex.MatchText(2), "x");
    EXPECT_EQ(regex.ReplaceText("-"), "-中--文-");
}

TEST(RegexObjectTest, ReplaceQuoteMarkerPatternAndCopies) {
    RegexObject regex;
    EXPECT_EQ(regex.GetPattern(), "");
    ASSERT_TRUE(regex.Execute("href=#引号(.*?)#引号", "<a href=\"u1\"><a href=\"u2\">", false, true,
                              true, true));
    EXPECT_EQ(regex.GetPattern(), "href=\"(.*?)\"");
    EXPECT_EQ(regex.SubMatch(2, 1), "u2");
    EXPECT_EQ(regex.ReplaceText("[$1]"), "<a [u1]><a [u2]>");
    EXPECT_EQ(regex.ReplaceText("$$${1}$9"), "<a $u1><a $u2>");

    RegexObject copy(regex);
    ASSERT_TRUE(regex.Execute("(b)", "abc", false, true, false));
    EXPECT_EQ(regex.ReplaceText("<$1>"), "a<b>c");
    EXPECT_EQ(copy.SubMatch(1, 1), "u1");
    EXPECT_EQ(copy.ReplaceText("$1"), "<a u1><a u2>");

    RegexObject unquoted;
    ASSERT_TRUE(unquoted.Execute("#引号", "#引号"));
    EXPECT_EQ(unquoted.MatchCount(), 1);
}

} // namespace
} // namespace pandrel
