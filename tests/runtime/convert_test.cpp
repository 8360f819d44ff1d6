#include "runtime/clock.h"
#include "runtime/convert.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

namespace pandrel {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(ToTextNumbers, GeneralFormatWithThreeDigitExponent) {
    const std::pair<double, Text> doubles[] = {
        {3.0, "3"},
        {0.1, "0.1"},
        {0.5, "0.5"},
        {-1.5, "-1.5"},
        {1048576, "1048576"},
        {2.5e-5, "2.5e-005"},
        {1e13, "1e+013"},
        {1234567890123.0, "1234567890123"},
        {1.0 / 3, "0.3333333333333"},
        {1e300, "1e+300"},
        {-1.25e-100, "-1.25e-100"},
        {kNaN, "nan"},
        {-kNaN, "nan"},
        {kInf, "inf"},
        {-kInf, "-inf"},
    };
    for (const auto& [value, want] : doubles) {
        EXPECT_EQ(ToText(value), want) << value;
    }
    EXPECT_EQ(ToText(0.1f), "0.1");
    EXPECT_EQ(ToText(1e10f), "1e+010");
    EXPECT_EQ(ToText(123456789.0f), "1.23457e+008");
    EXPECT_EQ(ToText(std::numeric_limits<float>::infinity()), "inf");
}

TEST(ToTextOtherKinds, IntegersTruthBuffers) {
    EXPECT_EQ(ToText(std::uint8_t{200}), "200");
    EXPECT_EQ(ToText(std::int16_t{-32768}), "-32768");
    EXPECT_EQ(ToText(std::int32_t{INT_MIN}), "-2147483648");
    EXPECT_EQ(ToText(std::int64_t{-9007199254740993}), "-9007199254740993");
    EXPECT_EQ(ToText(true), "真");
    EXPECT_EQ(ToText(false), "假");
    EXPECT_EQ(ToText(Bytes{'a', 'b', 0, 'c', 'd'}), "ab");
    EXPECT_EQ(ToText(Bytes{'a', 'b'}), "ab");
    EXPECT_EQ(ToText(Bytes{}), "");
}

TEST(ToTextDateTime, DropsZeroTailAndClamps) {
    const std::pair<DateTime, Text> cases[] = {
        {MakeDateTime(2024, 3, 5, 0, 0, 0), "2024年3月5日"},
        {MakeDateTime(2024, 3, 5, 7, 0, 0), "2024年3月5日7时"},
        {MakeDateTime(2024, 3, 5, 7, 8, 0), "2024年3月5日7时8分"},
        {MakeDateTime(2024, 3, 5, 0, 0, 9), "2024年3月5日0时0分9秒"},
        {MakeDateTime(2000, 2, 29, 23, 59, 59), "2000年2月29日23时59分59秒"},
        {MakeDateTime(1800, 6, 1, 6, 30, 0), "1800年6月1日6时30分"},
        {DateTime{0}, "1899年12月30日"},
        {DateTime{2.5}, "1900年1月1日12时"},
        {DateTime{-1.25}, "1899年12月29日6时"},
        {DateTime{1e300}, "9999年12月31日23时59分59秒"},
        {DateTime{-1e300}, "100年1月1日"},
        {DateTime{kInf}, "9999年12月31日23时59分59秒"},
        {DateTime{kNaN}, "1899年12月30日"},
    };
    for (const auto& [value, want] : cases) {
        EXPECT_EQ(ToText(value), want) << value.days;
    }
}

TEST(ToIntConversion, TextsParseLikeTheCLibraryAndSaturate) {
    const std::pair<Text, std::int32_t> cases[] = {
        {"\xEF\xBC\x91\xEF\xBC\x92"
         "3abc",
         123}, // full-width 1 and 2
        {"abc", 0},
        {"", 0},
        {"-", 0},
        {"  -42x", -42},
        {"\t+7", 7},
        {"\xE3\x80\x80"
         "12",
         12},                             // full-width blank
        {"\xEF\xBC\x8D\xEF\xBC\x95", -5}, // full-width minus and 5
        {"1 2", 1},
        {"2147483647", INT_MAX},
        {"2147483648", INT_MAX},
        {"-2147483648", INT_MIN},
        {"-99999999999999999999", INT_MIN},
    };
    for (const auto& [text, want] : cases) {
        EXPECT_EQ(ToInt(text), want) << testing::PrintToString(text);
    }
    EXPECT_EQ(ToInt("7x"), 7); // a literal must not pick the truth-value overload
    EXPECT_EQ(ToInt64("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(ToInt64("9223372036854775808"), INT64_MAX);
    EXPECT_EQ(ToInt64("-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(ToInt64("\xEF\xBC\x94\xEF\xBC\x90\xEF\xBC\x90\xEF\xBC\x90\xEF\xBC\x90\xEF\xBC"
                      "\x90\xEF\xBC\x90\xEF\xBC\x90\xEF\xBC\x90\xEF\xBC\x90"),
              4000000000LL);
}

TEST(ToIntConversion, RealsTruncateTowardZeroAndSaturate) {
    const std::pair<double, std::int32_t> cases[] = {
        {-2.9, -2},       {2.9, 2},
        {-0.5, 0},        {2147483647.9, INT_MAX},
        {1e20, INT_MAX},  {-2147483648.9, INT_MIN},
        {-1e20, INT_MIN}, {kInf, INT_MAX},
        {-kInf, INT_MIN}, {kNaN, 0},
    };
    for (const auto& [value, want] : cases) {
        EXPECT_EQ(ToInt(value), want) << value;
    }
    EXPECT_EQ(ToInt64(1e19), INT64_MAX);
    EXPECT_EQ(ToInt64(-9.3e18), INT64_MIN);
    EXPECT_EQ(ToInt64(-4e9), -4000000000LL);
    EXPECT_EQ(ToInt(true), 1);
    EXPECT_EQ(ToInt64(false), 0);
}

TEST(ToFloatConversion, FullWidthAndRange) {
    EXPECT_FLOAT_EQ(ToFloat("\xEF\xBC\x91\xEF\xBC\x8E\xEF\xBC\x95"), 1.5f);
    EXPECT_FLOAT_EQ(ToFloat(" 2.5e3x"), 2500.0f);
    EXPECT_FLOAT_EQ(ToFloat("abc"), 0.0f);
    EXPECT_TRUE(std::isinf(ToFloat(1e300)));
    EXPECT_LT(ToFloat(-1e300), 0.0f);
    EXPECT_EQ(FullWidthToHalfWidth("\xEF\xBC\xA1\xEF\xBD\x9A\xEF\xBD\x9E\xEF\xBD\x9F\xEF\xBC\x80"),
              "Az~\xEF\xBD\x9F\xEF\xBC\x80"); // U+FF5F and U+FF00 lie outside the range
}

struct FormatCase {
    double value;
    std::optional<int> decimals;
    bool thousands;
    Text want;
};

TEST(FormatNumberTest, RoundsHalfAwayPadsAndGroups) {
    const FormatCase cases[] = {
        {0, 2, false, "0.00"},
        {12.5, 2, false, "12.50"},
        {33.333, 2, false, "33.33"},
        {99.995, 2, false, "100.00"},
        {1234.567, 2, false, "1234.57"},
        {0.004, 2, false, "0.00"},
        {1.005, 2, false, "1.01"},
        {-1.005, 2, false, "-1.01"},
        {0.125 * 100, 2, false, "12.50"},
        {-0.004, 2, false, "0.00"},
        {0.5, 0, false, "1"},
        {2.5, 0, false, "3"},
        {-2.5, 0, false, "-3"},
        {0.1, 3, false, "0.100"},
        {1250, -2, false, "1300"},
        {1249, -2, false, "1200"},
        {5, -400, false, "0"},
        // Decimals are clamped to the places a double can show, -309 to 324.
        {1.25, 400, false, "1.25" + Text(322, '0')},
        {1.25, 324, false, "1.25" + Text(322, '0')},
        {1.25, INT_MAX, false, "1.25" + Text(322, '0')},
        {-1.25, INT_MIN, false, "0"},
        {1e308, INT_MIN, true, "0"},
        {1e308, -308, false, "1e+308"},
        {4e307, -308, false, "0"},
        {1234, 0, true, "1,234"},
        {1234567.891, 2, true, "1,234,567.89"},
        {-1234567, {}, true, "-1,234,567"},
        {123, {}, true, "123"},
        {123456, {}, true, "123,456"},
        {1.23456, {}, false, "1.23456"},
        {1e13, 2, true, "1e+013"},
        {kNaN, 2, true, "nan"},
        {kInf, 2, false, "inf"},
        {-kInf, {}, true, "-inf"},
    };
    for (const FormatCase& c : cases) {
        EXPECT_EQ(FormatNumber(c.value, c.decimals, c.thousands), c.want)
            << c.value << " decimals " << c.decimals.value_or(-999);
    }
}

TEST(FormatTextTest, CLibraryFormatting) {
    EXPECT_EQ(FormatText("%02d", 7), "07");
    EXPECT_EQ(FormatText("%s-%d-%.2f", Text("a"), 3, 1.5), "a-3-1.50");
    EXPECT_EQ(FormatText("{ %02d:%02d:%02d } ", 9, 5, 0), "{ 09:05:00 } ");
    EXPECT_EQ(FormatText(""), "");
}

} // namespace
} // namespace pandrel
