#pragma once

#include <QString>

#include "runtime/value_types.h"

namespace pandrel {

inline QString ToQString(const Text& text) {
    return QString::fromStdString(text);
}

// A Text never holds a zero byte: whatever follows one in the widget's text is dropped.
inline Text FromQString(const QString& text) {
    Text bytes = text.toStdString();
    std::size_t zero = bytes.find('\0');
    if (zero != Text::npos) {
        bytes.resize(zero);
    }
    return bytes;
}

} // namespace pandrel
