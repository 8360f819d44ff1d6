#pragma once

#include <optional>

#include "runtime/value_types.h"

namespace pandrel {

// Shows one of the window's menus, found by name, as a popup owned by the main window, its
// top-left corner 3 pixels right of and below the pointer, or at (x, y) in screen pixels when
// both are given. Returns when the menu has closed; the chosen item's handler runs after that,
// on the UI thread. A menu near a screen edge is moved so it is wholly shown.
void PopupMenu(const Text& menu, std::optional<int> x = std::nullopt,
               std::optional<int> y = std::nullopt);

// Asks the desktop to open the address (the user's browser for web addresses). Nothing is
// reported, also when it cannot be opened.
void OpenWebAddress(const Text& address);

// Handles the UI thread's pending events, then returns; handlers of other events may run
// inside. Only the UI thread calls it (elsewhere it does nothing).
void ProcessEvents();

} // namespace pandrel
