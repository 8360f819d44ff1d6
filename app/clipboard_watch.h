#pragma once

#include "runtime/program_state.h"

namespace pandrel {

// 选择框1 clicked: the watch timer 时钟1 ticks every second while the box is checked and is
// stopped at once when it is unchecked. Either way the watch forgets what it last saw.
void ToggleClipboardWatch(ProgramState& state);

// A tick of 时钟1: clipboard text that changed since the last tick (any text, at the first
// tick after the watch was switched on), holds both "链接" and "提取码" and differs from
// 编辑框1 is copied into 编辑框1. So an edit the user makes to the box stays until new text is
// copied. The parse itself is left to the user. Each test reads the clipboard afresh, so text
// copied between the tests is what the next test sees.
void WatchClipboard(ProgramState& state);

} // namespace pandrel
