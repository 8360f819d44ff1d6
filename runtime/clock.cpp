#include "runtime/clock.h"

#include <chrono>
#include <cmath>
#include <ctime>
#include <thread>

namespace pandrel {

namespace {

// Day numbers of 0100-01-01 and 9999-12-31 counted from 1899-12-30.
constexpr double kFirstDay = -657434.0;
constexpr double kLastDay = 2958465.0;
constexpr long long kSecondsPerDay = 86400;

// Days from 1970-01-01 to a proleptic Gregorian date, and back (Howard Hinnant's algorithms).
long long DaysFromCivil(long long year, unsigned month, unsigned day) {
    year -= month <= 2 ? 1 : 0;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const auto yoe = static_cast<unsigned>(year - era * 400);
    const unsigned doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

struct Civil {
    int year;
    int month;
    int day;
};

Civil CivilFromDays(long long z) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned day = doy - (153 * mp + 2) / 5 + 1;
    const unsigned month = mp < 10 ? mp + 3 : mp - 9;
    const long long year = static_cast<long long>(yoe) + era * 400 + (month <= 2 ? 1 : 0);
    return {static_cast<int>(year), static_cast<int>(month), static_cast<int>(day)};
}

constexpr long long kEpochOffset = 25569; // 1899-12-30 to 1970-01-01

struct Parts {
    Civil date;
    int hour;
    int minute;
    int second;
};

// The whole day counts toward the date, the fraction's magnitude is the time of day (so
// -1.25 is 1899-12-29 06:00). Values are clamped to the years 100 to 9999 and NaN reads as
// day 0, so no part is ever taken from an out-of-range value.
Parts Split(DateTime value) {
    double days = std::isnan(value.days) ? 0.0 : value.days;
    days = std::fmin(std::fmax(days, kFirstDay), kLastDay + 86399.0 / 86400.0);
    double whole = std::trunc(days);
    // Rounded to the millisecond first so that 10:00:07 stored as 0.41674...9 stays 07, then
    // cut to the second so that 23:59:59.7 stays on its day.
    long long millis = std::llround(std::fabs(days - whole) * kSecondsPerDay * 1000.0);
    auto day = static_cast<long long>(whole);
    if (millis >= kSecondsPerDay * 1000) {
        millis -= kSecondsPerDay * 1000;
        day += 1;
    }
    long long seconds = millis / 1000;
    if (day > static_cast<long long>(kLastDay)) {
        day = static_cast<long long>(kLastDay);
        seconds = kSecondsPerDay - 1;
    }
    Parts parts{};
    parts.date = CivilFromDays(day - kEpochOffset);
    parts.hour = static_cast<int>(seconds / 3600);
    parts.minute = static_cast<int>(seconds / 60 % 60);
    parts.second = static_cast<int>(seconds % 60);
    return parts;
}

} // namespace

DateTime MakeDateTime(int year, int month, int day, int hour, int minute, int second) {
    long long days = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) +
                     kEpochOffset;
    double fraction = static_cast<double>(hour * 3600 + minute * 60 + second) / kSecondsPerDay;
    // Before 1899-12-30 the time of day still counts away from zero.
    double value =
        days < 0 ? static_cast<double>(days) - fraction : static_cast<double>(days) + fraction;
    return DateTime{value};
}

DateTime Now() {
    auto now = std::chrono::system_clock::now();
    std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) %
                  std::chrono::seconds(1);
    DateTime value = MakeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                  local.tm_hour, local.tm_min, local.tm_sec);
    value.days += static_cast<double>(millis.count()) / (kSecondsPerDay * 1000.0);
    return value;
}

int HourOf(DateTime value) {
    return Split(value).hour;
}
int MinuteOf(DateTime value) {
    return Split(value).minute;
}
int SecondOf(DateTime value) {
    return Split(value).second;
}
int YearOf(DateTime value) {
    return Split(value).date.year;
}
int MonthOf(DateTime value) {
    return Split(value).date.month;
}
int DayOf(DateTime value) {
    return Split(value).date.day;
}

std::int32_t TickCount() {
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    auto millis = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                  static_cast<std::uint64_t>(now.tv_nsec / 1000000);
    // Wraps like a 32-bit millisecond counter: negative after about 24.8 days.
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(millis));
}

void Delay(int milliseconds) {
    if (milliseconds > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
}

} // namespace pandrel
