#pragma once

#include <cstdint>
#include <initializer_list>

namespace pandrel {

std::int32_t BitOr(std::initializer_list<std::int32_t> values);

// The floating remainder of the first by the second, then of that by the third, and so on.
// A divisor of 0 is a fatal runtime error.
double Remainder(std::initializer_list<double> values);

} // namespace pandrel
