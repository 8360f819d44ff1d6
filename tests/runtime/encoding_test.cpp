#include "runtime/encoding.h"

#include <gtest/gtest.h>

namespace pandrel {
namespace {

TEST(Utf8ToTextTest, StopsAtZeroAndReplacesEachInvalidSequence) {
    const std::pair<Text, Text> cases[] = {
        {"abc", "abc"},
        {"下载", "下载"},
        {"a\xFF"
         "b",
         "a?b"},
        {"\xE4\xB8"
         "a",
         "?a"},                  // one cut-short sequence, one mark
        {"\xC0\x80", "??"},      // overlong: two stray bytes
        {"\xED\xA0\x80", "???"}, // surrogate
        {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
        {"x\xF0\x9F\x98", "x?"},
    };
    for (const auto& [in, want] : cases) {
        EXPECT_EQ(Utf8ToText(in), want) << testing::PrintToString(in);
    }
    EXPECT_EQ(Utf8ToText(Bytes{'a', 'b', 0, 'c'}), "ab");
    EXPECT_EQ(Utf8ToText(Bytes{}), "");
    EXPECT_EQ(TextToUtf8("中"), (Bytes{0xE4, 0xB8, 0xAD}));
}

TEST(Utf16, RoundTripsAndReplacesBrokenUnits) {
    const Text text = "a下载\xF0\x9F\x98\x80z";
    std::u16string units = Utf8ToUtf16(text);
    EXPECT_EQ(units, (std::u16string{u'a', 0x4E0B, 0x8F7D, 0xD83D, 0xDE00, u'z'}));
    EXPECT_EQ(Utf16ToUtf8(units), text);
    EXPECT_EQ(Utf8ToUtf16("a\xFF"), (std::u16string{u'a', 0xFFFD}));
    EXPECT_EQ(Utf16ToUtf8(std::u16string{0xD83D, u'a'}), "\xEF\xBF\xBD"
                                                         "a");
    EXPECT_EQ(Utf16ToUtf8(std::u16string{0xDE00}), "\xEF\xBF\xBD");
    EXPECT_EQ(Utf16ToUtf8(std::u16string{u'a', 0, u'b'}), "a");
}

} // namespace
} // namespace pandrel
