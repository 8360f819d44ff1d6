#include "runtime/clock.h"

#include <gtest/gtest.h>

#include <ctime>

namespace pandrel {
namespace {

TEST(ClockParts, HourMinuteSecondSurviveRounding) {
    // Every second of a day must come back as itself despite binary fractions.
    for (int second = 0; second < 86400; second += 7) {
        DateTime value = MakeDateTime(2023, 11, 15, second / 3600, second / 60 % 60, second % 60);
        ASSERT_EQ(HourOf(value) * 3600 + MinuteOf(value) * 60 + SecondOf(value), second);
        ASSERT_EQ(DayOf(value), 15);
    }
    DateTime justBeforeMidnight = MakeDateTime(2023, 11, 15, 23, 59, 59);
    justBeforeMidnight.days += 0.7 / 86400;
    EXPECT_EQ(DayOf(justBeforeMidnight), 15);
    EXPECT_EQ(SecondOf(justBeforeMidnight), 59);
}

TEST(ClockNow, MatchesTheLocalCalendar) {
    std::time_t before = std::time(nullptr);
    DateTime now = Now();
    std::tm local{};
    localtime_r(&before, &local);
    if (local.tm_hour == 23 && local.tm_min == 59) {
        GTEST_SKIP() << "too close to midnight to compare dates";
    }
    EXPECT_EQ(YearOf(now), local.tm_year + 1900);
    EXPECT_EQ(MonthOf(now), local.tm_mon + 1);
    EXPECT_EQ(DayOf(now), local.tm_mday);
    EXPECT_EQ(HourOf(now), local.tm_hour);
}

TEST(ClockTicks, DelayAdvancesTheTickCount) {
    std::uint32_t start = static_cast<std::uint32_t>(TickCount());
    Delay(30);
    Delay(-5);
    std::uint32_t elapsed = static_cast<std::uint32_t>(TickCount()) - start;
    EXPECT_GE(elapsed, 30u);
}

} // namespace
} // namespace pandrel
