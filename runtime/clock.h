#pragma once

#include <cstdint>

#include "runtime/value_types.h"

namespace pandrel {

DateTime Now();
// Parts of a date-time, clamped to the years 100 to 9999 first.
int HourOf(DateTime value);
int MinuteOf(DateTime value);
int SecondOf(DateTime value);
// Calendar parts, for ToText of a date-time.
int YearOf(DateTime value);
int MonthOf(DateTime value);
int DayOf(DateTime value);

// A local calendar time as a date-time (no clamping); for tests and ToText.
DateTime MakeDateTime(int year, int month, int day, int hour, int minute, int second);

// Milliseconds since the system started, wrapping as a signed 32-bit value.
std::int32_t TickCount();

// Suspends the calling thread; negative counts as 0.
void Delay(int milliseconds);

} // namespace pandrel
