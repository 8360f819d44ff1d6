#include "runtime/ui/control_registry.h"

#include <QPointer>
#include <QtGlobal>

#include "runtime/ui/qt_text.h"

namespace pandrel {
namespace {

QPointer<QWidget>& Window() {
    static QPointer<QWidget> window;
    return window;
}

} // namespace

void RegisterMainWindow(QWidget* window) {
    Window() = window;
}

QWidget* RegisteredMainWindow() {
    return Window().data();
}

QObject* FindControl(const Text& name) {
    QWidget* window = Window().data();
    if (window == nullptr) {
        return nullptr;
    }
    const QString wanted = ToQString(name);
    if (window->objectName() == wanted || name == kMainWindowName) {
        return window;
    }
    QObject* found = window->findChild<QObject*>(wanted);
    if (found == nullptr) {
        qWarning("no control named %s in the main window", name.c_str());
    }
    return found;
}

} // namespace pandrel
