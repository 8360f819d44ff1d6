#pragma once

#include <QWidget>

#include <cstdint>
#include <optional>

#include "runtime/value_types.h"

namespace pandrel {

// Walks the program's own top-level windows (menus and tooltips aside) until one qualifies or
// timeLimitMs passes (a year when not given or -1), handling pending events between windows.
// The first window examined decides: with no title and no class wanted it is the answer;
// otherwise it is the answer when its title contains `title` and its class name contains
// `className` (each tested only when given), else the result is nullptr. A process id other
// than this program's has no windows here and gives nullptr at once.
QWidget* FindProcessWindow(std::int64_t processId, const Text& title = {},
                           const Text& className = {}, std::optional<int> timeLimitMs = {},
                           bool visibleOnly = false);

} // namespace pandrel
