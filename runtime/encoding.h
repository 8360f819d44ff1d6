#pragma once

#include <string>

#include "runtime/value_types.h"

namespace pandrel {

// Bytes read as UTF-8 up to the first zero byte, each invalid sequence replaced by "?".
Text Utf8ToText(const Bytes& bytes);
Text Utf8ToText(const Text& bytes);

// The text's bytes unchanged: text already is UTF-8.
Bytes TextToUtf8(const Text& text);

// UTF-8 to UTF-16 code units (surrogate pairs outside the BMP); invalid bytes become U+FFFD.
std::u16string Utf8ToUtf16(const Text& text);
// UTF-16 code units back to UTF-8, up to the first zero unit; lone surrogates become U+FFFD.
Text Utf16ToUtf8(const std::u16string& units);

} // namespace pandrel
