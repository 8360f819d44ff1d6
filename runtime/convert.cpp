#include "runtime/convert.h"

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <locale.h>

#include "runtime/clock.h"

namespace pandrel {

namespace detail {

namespace {
locale_t ClassicLocale() {
    static const locale_t classic = newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(0));
    return classic;
}
} // namespace

ClassicNumericLocale::ClassicNumericLocale() : m_previous(nullptr) {
    if (locale_t classic = ClassicLocale()) {
        m_previous = uselocale(classic);
    }
}

ClassicNumericLocale::~ClassicNumericLocale() {
    if (m_previous != nullptr) {
        uselocale(static_cast<locale_t>(m_previous));
    }
}

} // namespace detail

namespace {

// Non-finite values print the same on every platform and in every format.
const char* NonFiniteText(double value) {
    if (std::isnan(value)) {
        return "nan";
    }
    return value < 0 ? "-inf" : "inf";
}

// "%.<digits>g" with the exponent widened to three digits: "2.5e-05" becomes "2.5e-005".
Text FormatGeneral(double value, int digits) {
    if (!std::isfinite(value)) {
        return NonFiniteText(value);
    }
    Text out = FormatText("%.*g", digits, value);
    std::size_t e = out.find('e');
    if (e != Text::npos && e + 2 <= out.size()) {
        std::size_t exponentDigits = out.size() - (e + 2);
        if (exponentDigits < 3) {
            out.insert(e + 2, 3 - exponentDigits, '0');
        }
    }
    return out;
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The C library's decimal parse (leading white space, optional sign, digits up to the first
// non-digit), saturating at the range instead of overflowing.
template <typename Int> Int ParseDecimal(const Text& value) {
    Text text = FullWidthToHalfWidth(value);
    std::size_t at = 0;
    while (at < text.size() && IsSpace(text[at])) {
        ++at;
    }
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    // Accumulate toward the sign's side so the most negative value needs no special case.
    Int result = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        Int digit = static_cast<Int>(text[at] - '0');
        if (negative) {
            if (result < (std::numeric_limits<Int>::min() + digit) / 10) {
                return std::numeric_limits<Int>::min();
            }
            result = static_cast<Int>(result * 10 - digit);
        } else {
            if (result > (std::numeric_limits<Int>::max() - digit) / 10) {
                return std::numeric_limits<Int>::max();
            }
            result = static_cast<Int>(result * 10 + digit);
        }
    }
    return result;
}

// Truncation toward zero, saturating at the type's range; NaN gives 0.
template <typename Int> Int TruncateReal(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    // Both bounds are powers of two, so they are exact doubles.
    constexpr double upper = -static_cast<double>(std::numeric_limits<Int>::min());
    constexpr double lower = static_cast<double>(std::numeric_limits<Int>::min());
    if (value >= upper) {
        return std::numeric_limits<Int>::max();
    }
    if (value <= lower) {
        return std::numeric_limits<Int>::min();
    }
    return static_cast<Int>(value);
}

constexpr int kMostDecimals = 324;
constexpr int kFewestDecimals = -309;

// Rounds half away from zero to `decimals` places; the 1e-12 nudge lets products such as
// 1.005 * 100, which land just below the half in binary, round up as written.
double RoundHalfAway(double value, int decimals) {
    double magnitude = std::fabs(value);
    if (magnitude == 0) {
        return 0;
    }
    double scale = std::pow(10.0, std::abs(decimals));
    if (std::isinf(scale)) {
        // Finer than any double holds: nothing to round. Coarser than any double: zero.
        return decimals > 0 ? value : 0.0;
    }
    double v = decimals >= 0 ? magnitude * scale : magnitude / scale;
    if (!(v < 4503599627370496.0)) { // 2^52: no fraction left to round
        return value;
    }
    double whole = 0;
    double fraction = std::modf(v + 1e-12, &whole);
    if (fraction >= 0.5) {
        whole += 1;
    }
    double rounded = decimals >= 0 ? whole / scale : whole * scale;
    if (rounded == 0) {
        return 0.0; // never "-0.00"
    }
    return value < 0 ? -rounded : rounded;
}

// Inserts "," before every group of three digits of the integer part.
Text GroupThousands(const Text& text) {
    std::size_t digitsBegin = (!text.empty() && text[0] == '-') ? 1 : 0;
    if (digitsBegin == text.size()) {
        return text;
    }
    for (std::size_t i = digitsBegin; i < text.size(); ++i) {
        if (!(text[i] == '.' || (text[i] >= '0' && text[i] <= '9'))) {
            return text;
        }
    }
    std::size_t point = text.find('.');
    std::size_t digitsEnd = point == Text::npos ? text.size() : point;
    Text out = text.substr(0, digitsBegin);
    for (std::size_t i = digitsBegin; i < digitsEnd; ++i) {
        if (i > digitsBegin && (digitsEnd - i) % 3 == 0) {
            out += ',';
        }
        out += text[i];
    }
    out.append(text, digitsEnd, Text::npos);
    return out;
}

} // namespace

Text ToText(std::uint8_t value) {
    return std::to_string(value);
}
Text ToText(std::int16_t value) {
    return std::to_string(value);
}
Text ToText(std::int32_t value) {
    return std::to_string(value);
}
Text ToText(std::int64_t value) {
    return std::to_string(value);
}
Text ToText(float value) {
    return FormatGeneral(static_cast<double>(value), 6);
}
Text ToText(double value) {
    return FormatGeneral(value, 13);
}
Text ToText(bool value) {
    return value ? "真" : "假";
}

Text ToText(DateTime value) {
    Text out = FormatText("%d年%d月%d日", YearOf(value), MonthOf(value), DayOf(value));
    int hour = HourOf(value);
    int minute = MinuteOf(value);
    int second = SecondOf(value);
    if (second != 0) {
        out += FormatText("%d时%d分%d秒", hour, minute, second);
    } else if (minute != 0) {
        out += FormatText("%d时%d分", hour, minute);
    } else if (hour != 0) {
        out += FormatText("%d时", hour);
    }
    return out;
}

Text ToText(const Text& value) {
    return value;
}
Text ToText(const char* value) {
    return value == nullptr ? Text() : Text(value);
}

Text ToText(const Bytes& value) {
    const auto zero = std::find(value.begin(), value.end(), std::uint8_t{0});
    return Text(value.begin(), zero);
}

Text FullWidthToHalfWidth(const Text& text) {
    Text out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        auto b0 = static_cast<unsigned char>(text[i]);
        if (i + 2 < text.size() && (b0 == 0xE3 || b0 == 0xEF)) {
            auto b1 = static_cast<unsigned char>(text[i + 1]);
            auto b2 = static_cast<unsigned char>(text[i + 2]);
            if (b0 == 0xE3 && b1 == 0x80 && b2 == 0x80) { // U+3000
                out += ' ';
                i += 3;
                continue;
            }
            // U+FF01..U+FF3F are EF BC 81..BF; U+FF40..U+FF5E are EF BD 80..9E.
            if (b0 == 0xEF && b1 == 0xBC && b2 >= 0x81 && b2 <= 0xBF) {
                out += static_cast<char>(0x21 + (b2 - 0x81));
                i += 3;
                continue;
            }
            if (b0 == 0xEF && b1 == 0xBD && b2 >= 0x80 && b2 <= 0x9E) {
                out += static_cast<char>(0x60 + (b2 - 0x80));
                i += 3;
                continue;
            }
        }
        out += text[i];
        ++i;
    }
    return out;
}

std::int32_t ToInt(const Text& value) {
    return ParseDecimal<std::int32_t>(value);
}
std::int32_t ToInt(const char* value) {
    return value == nullptr ? 0 : ToInt(Text(value));
}
std::int64_t ToInt64(const char* value) {
    return value == nullptr ? 0 : ToInt64(Text(value));
}
float ToFloat(const char* value) {
    return value == nullptr ? 0.0f : ToFloat(Text(value));
}
std::int32_t ToInt(double value) {
    return TruncateReal<std::int32_t>(value);
}
std::int32_t ToInt(bool value) {
    return value ? 1 : 0;
}
std::int64_t ToInt64(const Text& value) {
    return ParseDecimal<std::int64_t>(value);
}
std::int64_t ToInt64(double value) {
    return TruncateReal<std::int64_t>(value);
}
std::int64_t ToInt64(bool value) {
    return value ? 1 : 0;
}

float ToFloat(const Text& value) {
    Text text = FullWidthToHalfWidth(value);
    detail::ClassicNumericLocale classic;
    return ToFloat(std::strtod(text.c_str(), nullptr));
}

float ToFloat(double value) {
    // A finite double beyond float's range becomes an infinity instead of undefined behaviour.
    if (value > static_cast<double>(FLT_MAX)) {
        return std::numeric_limits<float>::infinity();
    }
    if (value < -static_cast<double>(FLT_MAX)) {
        return -std::numeric_limits<float>::infinity();
    }
    return static_cast<float>(value);
}

Text FormatNumber(double value, std::optional<int> decimals, bool thousands) {
    if (!std::isfinite(value)) {
        return NonFiniteText(value);
    }
    if (decimals) {
        // Beyond these a double has no digit to show: its finest step is about 4.9e-324 and
        // every double rounds to 0 at 10^309. Clamping keeps the padding within that and the
        // negation of the rounding defined for every int.
        decimals = std::clamp(*decimals, kFewestDecimals, kMostDecimals);
    }
    double rounded = decimals ? RoundHalfAway(value, *decimals) : value;
    Text out = ToText(rounded);
    // Exponent forms take neither padding nor grouping: "1e+013.00" would be no number.
    bool plain = out.find('e') == Text::npos;
    if (decimals && *decimals > 0 && plain) {
        std::size_t point = out.find('.');
        if (point == Text::npos) {
            out += '.';
            point = out.size() - 1;
        }
        std::size_t have = out.size() - point - 1;
        if (have < static_cast<std::size_t>(*decimals)) {
            out.append(static_cast<std::size_t>(*decimals) - have, '0');
        }
    }
    if (thousands && plain) {
        out = GroupThousands(out);
    }
    return out;
}

} // namespace pandrel
