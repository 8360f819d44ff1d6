#include "runtime/numbers.h"

#include <cmath>

#include "runtime/fatal.h"

namespace pandrel {

std::int32_t BitOr(std::initializer_list<std::int32_t> values) {
    std::int32_t result = 0;
    for (std::int32_t value : values) {
        result |= value;
    }
    return result;
}

double Remainder(std::initializer_list<double> values) {
    if (values.size() == 0) {
        return 0;
    }
    auto it = values.begin();
    double result = *it;
    for (++it; it != values.end(); ++it) {
        if (*it == 0) {
            FatalRuntimeError("不能求余数于零");
        }
        result = std::fmod(result, *it);
    }
    return result;
}

} // namespace pandrel
