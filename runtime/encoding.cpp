#include "runtime/encoding.h"

namespace pandrel {

namespace {

struct Decoded {
    char32_t codePoint;
    std::size_t length; // bytes consumed, at least 1
    bool valid;
};

// Decodes the sequence at `at`. An invalid sequence consumes its longest well-formed prefix
// (at least one byte), so each one becomes exactly one replacement.
Decoded DecodeAt(const unsigned char* data, std::size_t size, std::size_t at) {
    unsigned char lead = data[at];
    if (lead < 0x80) {
        return {lead, 1, true};
    }
    std::size_t length = 0;
    char32_t codePoint = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        codePoint = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        codePoint = lead & 0x0F;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        codePoint = lead & 0x07;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return {0, 1, false};
    }
    std::size_t used = 1;
    for (; used < length; ++used) {
        if (at + used >= size) {
            return {0, used, false};
        }
        unsigned char next = data[at + used];
        unsigned char lo = used == 1 ? low : 0x80;
        unsigned char hi = used == 1 ? high : 0xBF;
        if (next < lo || next > hi) {
            return {0, used, false};
        }
        codePoint = (codePoint << 6) | (next & 0x3F);
    }
    return {codePoint, length, true};
}

void AppendUtf8(Text& out, char32_t cp) {
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

Text CleanUtf8(const unsigned char* data, std::size_t size) {
    Text out;
    out.reserve(size);
    for (std::size_t at = 0; at < size && data[at] != 0;) {
        Decoded d = DecodeAt(data, size, at);
        if (d.valid) {
            out.append(reinterpret_cast<const char*>(data) + at, d.length);
        } else {
            out += '?';
        }
        at += d.length;
    }
    return out;
}

constexpr char32_t kReplacement = 0xFFFD;

} // namespace

Text Utf8ToText(const Bytes& bytes) {
    return CleanUtf8(bytes.data(), bytes.size());
}

Text Utf8ToText(const Text& bytes) {
    return CleanUtf8(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

Bytes TextToUtf8(const Text& text) {
    return Bytes(text.begin(), text.end());
}

std::u16string Utf8ToUtf16(const Text& text) {
    std::u16string out;
    out.reserve(text.size());
    const auto* data = reinterpret_cast<const unsigned char*>(text.data());
    for (std::size_t at = 0; at < text.size();) {
        Decoded d = DecodeAt(data, text.size(), at);
        char32_t cp = d.valid ? d.codePoint : kReplacement;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
        at += d.length;
    }
    return out;
}

Text Utf16ToUtf8(const std::u16string& units) {
    Text out;
    out.reserve(units.size());
    for (std::size_t i = 0; i < units.size() && units[i] != 0; ++i) {
        char32_t unit = units[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (units[i + 1] - 0xDC00));
            ++i;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            AppendUtf8(out, kReplacement);
        } else {
            AppendUtf8(out, unit);
        }
    }
    return out;
}

} // namespace pandrel
