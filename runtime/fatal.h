#pragma once

#include <optional>

#include "runtime/value_types.h"

namespace pandrel {

// Shows the fatal runtime error and ends the process with exit status 255. The text is
// "运行时出错!\r\n", then "\r\n错误代码：<code>\r\n" when there is a code, then
// "\r\n错误信息：<message>\r\n", then a line naming where it happened. Only the first
// fatal error of the process is shown; another thread raising one meanwhile waits for the end.
// The last three arguments name the caller (std::source_location is not available to every
// compiler the project builds with).
[[noreturn]] void FatalRuntimeError(const Text& message, std::optional<int> code = std::nullopt,
                                    const char* file = __builtin_FILE(),
                                    int line = __builtin_LINE(),
                                    const char* function = __builtin_FUNCTION());

// The whole text of the error box, for FatalRuntimeError and its tests.
Text FatalErrorText(const Text& message, std::optional<int> code, const Text& location);

// Whoever can show a modal box (the window side) installs a presenter; without one the text
// goes to stderr. The presenter runs on the thread that raised the error and must return only
// when the user has closed the box. Passing nullptr removes it.
using FatalErrorPresenter = void (*)(const Text& text);
void SetFatalErrorPresenter(FatalErrorPresenter presenter);

// A choice among `count` alternatives by a 1-based index: fatal when outside 1..count.
void CheckChoiceIndex(int index, int count);

} // namespace pandrel
