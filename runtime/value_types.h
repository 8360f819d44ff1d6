#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pandrel {

// A text is a byte string of UTF-8. It never holds a zero byte; lengths and positions count
// bytes and positions handed to or returned from text operations are 1-based.
using Text = std::string;

// A byte buffer: any bytes, zeros included.
using Bytes = std::vector<std::uint8_t>;

// A point in time as days since 1899-12-30 00:00 local time, the fraction being the time of
// day. Its own type so that ToText can tell it from a plain double.
struct DateTime {
    double days = 0;
};

} // namespace pandrel
