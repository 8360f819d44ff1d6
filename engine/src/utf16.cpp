#include "utf16.h"

#include "dlengine_files.h"

#include <cstring>

namespace dlengine {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

uint16_t UnitAt(const uint8_t* bytes, size_t index) {
    return static_cast<uint16_t>(bytes[2 * index] | (bytes[2 * index + 1] << 8));
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

} // namespace

std::string Utf16FieldToUtf8(const void* field, size_t units) {
    const auto* bytes = static_cast<const uint8_t*>(field);
    std::string out;
    for (size_t i = 0; i < units; ++i) {
        const uint16_t unit = UnitAt(bytes, i);
        if (unit == 0) {
            break;
        }
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units) {
            const uint16_t low = UnitAt(bytes, i + 1);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        AppendUtf8(out, (unit >= 0xD800 && unit <= 0xDFFF) ? kReplacement : unit);
    }
    return out;
}

void Utf8ToUtf16Field(const std::string& text, void* field, size_t units) {
    auto* bytes = static_cast<uint8_t*>(field);
    std::memset(bytes, 0, units * 2);
    size_t written = 0;
    auto put = [&](uint16_t unit) {
        if (written < units) {
            bytes[2 * written] = static_cast<uint8_t>(unit & 0xFF);
            bytes[2 * written + 1] = static_cast<uint8_t>(unit >> 8);
            ++written;
        }
    };
    for (size_t i = 0; i < text.size() && written < units;) {
        // A broken sequence gives U+FFFD for its first byte only.
        const long point = NextCodePoint(text, i);
        const char32_t cp = point < 0 ? kReplacement : static_cast<char32_t>(point);
        if (cp >= 0x10000) {
            put(static_cast<uint16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            put(static_cast<uint16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            put(static_cast<uint16_t>(cp));
        }
    }
}

bool FieldHoldsWholeText(const void* field, size_t units) {
    const auto* bytes = static_cast<const uint8_t*>(field);
    for (size_t i = 0; i < units; ++i) {
        if (UnitAt(bytes, i) == 0) {
            return true;
        }
    }
    return false;
}

} // namespace dlengine
