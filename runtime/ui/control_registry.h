#pragma once

#include <QObject>
#include <QWidget>

#include "runtime/value_types.h"

namespace pandrel {

// The name by which the main window itself is addressed.
inline constexpr const char* kMainWindowName = "主窗口";

// The control services find controls by the names the window template gives them. The main
// window registers itself once it is built; a test that builds a fresh window registers that
// one instead. Only the UI thread calls these.
void RegisterMainWindow(QWidget* window);
QWidget* RegisteredMainWindow();

// The object of that name in the registered window (the window itself for kMainWindowName),
// or nullptr when there is no window or no such object; a miss is reported on stderr once
// per lookup because it means a misspelt name in the program.
QObject* FindControl(const Text& name);

template <typename T> T* FindControlAs(const Text& name) {
    return qobject_cast<T*>(FindControl(name));
}

} // namespace pandrel
