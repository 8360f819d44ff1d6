#include "runtime/bytes.h"

#include <algorithm>
#include <cstring>

#include "runtime/fatal.h"

namespace pandrel {

namespace {

// The value's bytes as they lie in memory; the platform is little-endian.
template <typename T> Bytes RawBytes(const T& value) {
    Bytes out(sizeof(T));
    std::memcpy(out.data(), &value, sizeof(T));
    return out;
}

// Reads sizeof(T) bytes from 0-based `at`, taking what is there and zero for the rest.
template <typename T> T ReadPadded(const Bytes& buffer, std::size_t at) {
    unsigned char raw[sizeof(T)] = {};
    if (at < buffer.size()) {
        std::memcpy(raw, buffer.data() + at, std::min(sizeof(T), buffer.size() - at));
    }
    T value;
    std::memcpy(&value, raw, sizeof(T));
    return value;
}

std::size_t FieldSize(FieldKind kind) {
    switch (kind) {
    case FieldKind::Byte:
        return 1;
    case FieldKind::Short:
        return 2;
    case FieldKind::Integer:
    case FieldKind::Float:
    case FieldKind::Truth:
    case FieldKind::Address:
        return 4;
    case FieldKind::Integer64:
    case FieldKind::Double:
    case FieldKind::Date:
        return 8;
    case FieldKind::String:
        break;
    }
    return 0;
}

FieldValue ReadFixed(const Bytes& buffer, FieldKind kind, std::size_t at) {
    switch (kind) {
    case FieldKind::Byte:
        return ReadPadded<std::uint8_t>(buffer, at);
    case FieldKind::Short:
        return ReadPadded<std::int16_t>(buffer, at);
    case FieldKind::Integer:
        return ReadPadded<std::int32_t>(buffer, at);
    case FieldKind::Integer64:
        return ReadPadded<std::int64_t>(buffer, at);
    case FieldKind::Float:
        return ReadPadded<float>(buffer, at);
    case FieldKind::Double:
        return ReadPadded<double>(buffer, at);
    case FieldKind::Truth:
        return ReadPadded<std::int32_t>(buffer, at) != 0;
    case FieldKind::Date:
        return DateTime{ReadPadded<double>(buffer, at)};
    case FieldKind::Address:
        return ReadPadded<std::uint32_t>(buffer, at);
    case FieldKind::String:
        break;
    }
    return Text();
}

} // namespace

int BufferLength(const Bytes& buffer) {
    return static_cast<int>(buffer.size());
}

Bytes ToBytes(const Text& value) {
    return Bytes(value.begin(), value.end());
}
Bytes ToBytes(const char* value) {
    return value == nullptr ? Bytes() : ToBytes(Text(value));
}
Bytes ToBytes(std::uint8_t value) {
    return RawBytes(value);
}
Bytes ToBytes(std::int16_t value) {
    return RawBytes(value);
}
Bytes ToBytes(std::int32_t value) {
    return RawBytes(value);
}
Bytes ToBytes(std::uint32_t value) {
    return RawBytes(value);
}
Bytes ToBytes(std::int64_t value) {
    return RawBytes(value);
}
Bytes ToBytes(float value) {
    return RawBytes(value);
}
Bytes ToBytes(double value) {
    return RawBytes(value);
}
Bytes ToBytes(bool value) {
    return RawBytes(static_cast<std::int32_t>(value ? 1 : 0));
}
Bytes ToBytes(DateTime value) {
    return RawBytes(value.days);
}

Bytes LeftBytes(const Bytes& buffer, int n) {
    if (n <= 0) {
        return {};
    }
    return Bytes(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(std::min(
                                                      static_cast<std::size_t>(n), buffer.size())));
}

Bytes MidBytes(const Bytes& buffer, int start, int n) {
    std::size_t from = start < 1 ? 0 : static_cast<std::size_t>(start - 1);
    if (from >= buffer.size() || n <= 0) {
        return {};
    }
    std::size_t count = std::min(static_cast<std::size_t>(n), buffer.size() - from);
    auto begin = buffer.begin() + static_cast<std::ptrdiff_t>(from);
    return Bytes(begin, begin + static_cast<std::ptrdiff_t>(count));
}

Bytes ZeroBytes(int n) {
    if (n <= 0) {
        return {};
    }
    return Bytes(static_cast<std::size_t>(n), 0);
}

Bytes RepeatBytes(int count, const Bytes& buffer) {
    Bytes out;
    if (count <= 0 || buffer.empty()) {
        return out;
    }
    out.reserve(buffer.size() * static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        out.insert(out.end(), buffer.begin(), buffer.end());
    }
    return out;
}

FieldValue ReadFromBytes(const Bytes& buffer, int code, int* position) {
    if (code < 1 || code > 10) {
        FatalRuntimeError("“欲取出数据的类型”参数值无效");
    }
    auto kind = static_cast<FieldKind>(code);
    // A position below 1 leaves nothing to read: start past the end.
    std::size_t at = 0;
    if (position != nullptr) {
        at = *position < 1 ? buffer.size() : static_cast<std::size_t>(*position - 1);
    }
    FieldValue value;
    std::size_t next = 0;
    if (kind == FieldKind::String) {
        Text text;
        std::size_t end = at;
        while (end < buffer.size() && buffer[end] != 0) {
            ++end;
        }
        if (at < end) {
            text.assign(reinterpret_cast<const char*>(buffer.data()) + at, end - at);
        }
        value = std::move(text);
        next = end + 1; // past the zero byte
    } else {
        value = ReadFixed(buffer, kind, at);
        next = at + FieldSize(kind);
    }
    if (position != nullptr) {
        // 0-based `next` at or past the size means nothing is left to read.
        *position = next >= buffer.size() ? -1 : static_cast<int>(next + 1);
    }
    return value;
}

Bytes BytesFromAddress(const void* address, int n) {
    if (address == nullptr || n <= 0) {
        return {};
    }
    const auto* bytes = static_cast<const std::uint8_t*>(address);
    return Bytes(bytes, bytes + n);
}

void WriteToAddress(const Bytes& value, void* address, std::optional<int> n) {
    if (address == nullptr) {
        return;
    }
    std::size_t count = value.size();
    if (n && *n >= 0 && static_cast<std::size_t>(*n) <= count) {
        count = static_cast<std::size_t>(*n);
    }
    if (count > 0) {
        std::memcpy(address, value.data(), count);
    }
}

void WriteToAddress(const Text& value, void* address, std::optional<int> n) {
    Bytes bytes = ToBytes(value);
    bytes.push_back(0);
    WriteToAddress(bytes, address, n);
}

} // namespace pandrel
