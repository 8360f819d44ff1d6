#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace dlengine {

// Reads a UTF-16LE text field of `units` 16-bit units: up to the first NUL unit, or the whole
// field when it holds none. Unpaired surrogates become U+FFFD. `field` need not be aligned.
std::string Utf16FieldToUtf8(const void* field, size_t units);

// True when the field holds a NUL unit: its text was not cut at the field's size.
bool FieldHoldsWholeText(const void* field, size_t units);

// Writes UTF-8 text into a UTF-16LE field of `units` units: zero-filled first, the text cut at
// the field's size, a NUL unit after it when it fits. Invalid UTF-8 bytes become U+FFFD.
void Utf8ToUtf16Field(const std::string& text, void* field, size_t units);

} // namespace dlengine
