#pragma once

#include <QObject>
#include <QWidget>

#include <vector>

#include "runtime/ui/controls.h"
#include "runtime/value_types.h"

namespace pandrel {

// What the control services learn about a window when it registers. They know no control by
// name themselves: the window says which properties its handlers use and where the work log
// goes.
struct WindowControls {
    // The control properties the program reads or writes, and no others (see controls.h).
    std::vector<PropertyUse> properties;
    // The list AppendLog writes to; empty: the work log goes nowhere.
    Text workLog;
};

// The control services find controls by the names the window gives them (objectName): the
// window itself by its own name, its children by theirs. The main window registers itself
// once it is built; a test that builds a window of its own registers that one instead. Only
// the UI thread calls these.
void RegisterMainWindow(QWidget* window, WindowControls controls);
const WindowControls& RegisteredControls();

// The object of that name in the registered window (the window itself for the window's own
// name), or nullptr when there is no window or no such object; a miss is reported on stderr
// once per lookup because it means a misspelt name in the program.
QObject* FindControl(const Text& name);

template <typename T> T* FindControlAs(const Text& name) {
    return qobject_cast<T*>(FindControl(name));
}

} // namespace pandrel
