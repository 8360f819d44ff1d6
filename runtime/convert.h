#pragma once

#include <cstdio>
#include <optional>
#include <type_traits>

#include "runtime/value_types.h"

namespace pandrel {

// Number formats: integers in decimal; float as "%.6g"; double as "%.13g" with a three-digit
// exponent ("2.5e-005"); NaN and infinities as "nan", "inf", "-inf"; truth values as "真"/"假";
// a buffer up to its first zero byte.
Text ToText(std::uint8_t value);
Text ToText(std::int16_t value);
Text ToText(std::int32_t value);
Text ToText(std::int64_t value);
Text ToText(float value);
Text ToText(double value);
Text ToText(bool value);
Text ToText(DateTime value);
Text ToText(const Text& value);
Text ToText(const char* value);
Text ToText(const Bytes& value);

// Texts: full-width forms (U+FF01..U+FF5E, U+3000) become ASCII first, then the C library's
// decimal parse. Reals truncate toward zero (saturating at the type's range).
// The const char* overloads keep a literal from converting to bool.
std::int32_t ToInt(const Text& value);
std::int32_t ToInt(const char* value);
std::int32_t ToInt(double value);
std::int32_t ToInt(bool value);
std::int64_t ToInt64(const Text& value);
std::int64_t ToInt64(const char* value);
std::int64_t ToInt64(double value);
std::int64_t ToInt64(bool value);
float ToFloat(const Text& value);
float ToFloat(const char* value);
float ToFloat(double value);

// Rounds half away from zero to `decimals` when given (negative decimals round to tens,
// hundreds...; decimals are clamped to -309..324, the places a double can show), prints with
// "%.13g", pads to exactly `decimals` digits after the point and, when `thousands` is set,
// groups the integer part with ",". A result that rounds to zero never carries a "-"; an
// exponent form ("1e+013") is neither padded nor grouped.
Text FormatNumber(double value, std::optional<int> decimals = std::nullopt, bool thousands = false);

// Full-width characters mapped to their ASCII forms; everything else kept.
Text FullWidthToHalfWidth(const Text& text);

namespace detail {
// Makes the C library's number formatting and parsing use "." as the decimal point on the
// calling thread for its lifetime, whatever locale the window toolkit installed.
class ClassicNumericLocale {
public:
    ClassicNumericLocale();
    ~ClassicNumericLocale();
    ClassicNumericLocale(const ClassicNumericLocale&) = delete;
    ClassicNumericLocale& operator=(const ClassicNumericLocale&) = delete;

private:
    void* m_previous;
};

inline const char* FormatArgument(const Text& value) {
    return value.c_str();
}
inline const char* FormatArgument(const char* value) {
    return value;
}
template <typename T>
requires std::is_arithmetic_v<T> T FormatArgument(T value) {
    return value;
}
} // namespace detail

// The C library's formatted print: FormatText("%02d", 7) is "07".
template <typename... Args> Text FormatText(const Text& format, const Args&... args) {
    detail::ClassicNumericLocale classic;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
    int size = std::snprintf(nullptr, 0, format.c_str(), detail::FormatArgument(args)...);
    if (size <= 0) {
        return {};
    }
    Text out(static_cast<std::size_t>(size) + 1, '\0');
    std::snprintf(out.data(), out.size(), format.c_str(), detail::FormatArgument(args)...);
#pragma GCC diagnostic pop
    out.resize(static_cast<std::size_t>(size));
    return out;
}

} // namespace pandrel
