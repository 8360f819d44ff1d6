#pragma once

#include "runtime/value_types.h"

namespace pandrel {

// The system clipboard as text. Reading gives the empty text when it holds no text; writing
// gives false when there is no clipboard (no application object). Any thread may call them.
Text GetClipboardText();
bool SetClipboardText(const Text& text);

} // namespace pandrel
