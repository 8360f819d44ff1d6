#pragma once

#include <QWidget>

#include <optional>

#include "runtime/value_types.h"

namespace pandrel {

// Message box results of ShowTimedMessage, before it subtracts 1.
inline constexpr int kMessageTimedOut = 32000;

// A modal message box that closes itself after timeoutMs (default 5000). `style` picks the
// buttons (low 4 bits: 0 OK, 1 OK/Cancel, 2 Abort/Retry/Ignore, 3 Yes/No/Cancel, 4 Yes/No,
// 5 Retry/Cancel) and the icon (0x10 critical, 0x20 question, 0x30 warning, 0x40
// information). The text shows as plain text. The caption defaults to "友情提醒", the owner to
// the program's first window.
// Gives the button's value less 1 (OK 0, Cancel 1, Abort 2, Retry 3, Ignore 4, Yes 5, No 6),
// or kMessageTimedOut - 1 when the time ran out. UI thread only.
int ShowTimedMessage(const Text& text, int style = 0, std::optional<Text> caption = {},
                     QWidget* owner = nullptr, std::optional<int> timeoutMs = {});

} // namespace pandrel
