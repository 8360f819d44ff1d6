#pragma once

#include "runtime/program_state.h"

namespace pandrel {

// 选择框1 clicked: the watch timer 时钟1 ticks every second while the box is checked and is
// stopped at once when it is unchecked.
void ToggleClipboardWatch(ProgramState& state);

// A tick of 时钟1: clipboard text holding both "链接" and "提取码" and differing from 编辑框1
// is copied into 编辑框1. The parse itself is left to the user. Each test reads the clipboard
// afresh, so text copied between the tests is what the next test sees.
void WatchClipboard(ProgramState& state);

} // namespace pandrel
