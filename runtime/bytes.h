#pragma once

#include <optional>
#include <type_traits>
#include <variant>

#include "runtime/array.h"
#include "runtime/value_types.h"

namespace pandrel {

int BufferLength(const Bytes& buffer);

// A value's bytes, little-endian: a text without terminator, numbers at their natural width.
Bytes ToBytes(const Text& value);
Bytes ToBytes(const char* value);
Bytes ToBytes(std::uint8_t value);
Bytes ToBytes(std::int16_t value);
Bytes ToBytes(std::int32_t value);
Bytes ToBytes(std::uint32_t value);
Bytes ToBytes(std::int64_t value);
Bytes ToBytes(float value);
Bytes ToBytes(double value);
Bytes ToBytes(bool value);
Bytes ToBytes(DateTime value);

// An array of numbers: every member's bytes in order.
template <typename T>
requires std::is_arithmetic_v<T> Bytes ToBytes(const Array<T>& values) {
    Bytes out;
    for (const T& value : values) {
        Bytes one = ToBytes(value);
        out.insert(out.end(), one.begin(), one.end());
    }
    return out;
}

Bytes LeftBytes(const Bytes& buffer, int n);
Bytes MidBytes(const Bytes& buffer, int start, int n);
Bytes ZeroBytes(int n);
Bytes RepeatBytes(int count, const Bytes& buffer);

// Field-kind codes of ReadFromBytes.
enum class FieldKind : int {
    Byte = 1,
    Short = 2,
    Integer = 3,
    Integer64 = 4,
    Float = 5,
    Double = 6,
    Truth = 7,
    Date = 8,
    Address = 9,
    String = 10,
};

// What ReadFromBytes gives, by field kind; an address reads as its 32-bit value.
using FieldValue = std::variant<std::uint8_t, std::int16_t, std::int32_t, std::int64_t, float,
                                double, bool, DateTime, std::uint32_t, Text>;

// Reads one value of the given kind (code 1 to 10; anything else is a fatal runtime error).
// Starts at the 1-based `position` when given (below 1: nothing available), pads a value that
// runs past the end with zeros and never reads beyond the buffer. When `position` is given it
// moves past the value read, or becomes -1 when that is at or past the end.
FieldValue ReadFromBytes(const Bytes& buffer, int code, int* position = nullptr);

// Copies n bytes from memory the program itself allocated (record blocks only).
Bytes BytesFromAddress(const void* address, int n);

// Copies a value's bytes to memory the program itself allocated; a text gains its terminating
// zero. When n is given with 0 <= n <= that length, only the first n bytes are copied.
void WriteToAddress(const Bytes& value, void* address, std::optional<int> n = std::nullopt);
void WriteToAddress(const Text& value, void* address, std::optional<int> n = std::nullopt);

} // namespace pandrel
