#pragma once

#include <QLineEdit>
#include <QString>

#include "app/application.h"
#include "runtime/value_types.h"

class QAction;

namespace pandrel {

// Finds one of the window's controls by its name.
template <typename T> T* Control(Application& program, const char* name) {
    return program.Window()->findChild<T*>(QString::fromUtf8(name));
}

// Replaces the box's text as a paste would: one committed input-method string, which carries
// Chinese text that synthetic key presses cannot.
void Paste(QLineEdit* input, const Text& text);

// The menu item of that caption in any of the window's popup menus, or nullptr.
QAction* MenuAction(Application& program, const char* item);

} // namespace pandrel
