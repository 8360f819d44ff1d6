#include "runtime/ui/control_registry.h"

#include <QPointer>
#include <QtGlobal>

#include "runtime/ui/qt_text.h"
#include "runtime/ui/ui_thread.h"

namespace pandrel {
namespace {

// The one window the control services serve. Process-wide because the services are plain
// procedures called from every layer and thread; touched on the UI thread only.
struct Registration {
    QPointer<QWidget> window;
    WindowControls controls;
};

Registration& Registered() {
    static Registration registration;
    return registration;
}

} // namespace

void RegisterMainWindow(QWidget* window, WindowControls controls) {
    AssertUiThread();
    Registered() = {window, std::move(controls)};
}

const WindowControls& RegisteredControls() {
    AssertUiThread();
    return Registered().controls;
}

QObject* FindControl(const Text& name) {
    AssertUiThread();
    QWidget* window = Registered().window.data();
    if (window == nullptr) {
        return nullptr;
    }
    const QString wanted = ToQString(name);
    if (window->objectName() == wanted) {
        return window;
    }
    QObject* found = window->findChild<QObject*>(wanted);
    if (found == nullptr) {
        qWarning("no control named %s in the main window", name.c_str());
    }
    return found;
}

} // namespace pandrel
