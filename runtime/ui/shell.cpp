#include "runtime/ui/shell.h"

#include <QCoreApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QMenu>
#include <QThread>
#include <QUrl>

#include "runtime/ui/control_registry.h"
#include "runtime/ui/qt_text.h"
#include "runtime/ui/ui_thread.h"

namespace pandrel {

void PopupMenu(const Text& menu, std::optional<int> x, std::optional<int> y) {
    RunOnUiThread([menu, x, y] {
        auto* popup = FindControlAs<QMenu>(menu);
        if (popup == nullptr) {
            return;
        }
        const QPoint at = x && y ? QPoint(*x, *y) : QCursor::pos() + QPoint(3, 3);
        popup->exec(at);
    });
}

void OpenWebAddress(const Text& address) {
    RunOnUiThread(
        [address] { QDesktopServices::openUrl(QUrl(ToQString(address), QUrl::TolerantMode)); });
}

void ProcessEvents() {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || QThread::currentThread() != app->thread()) {
        return;
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

} // namespace pandrel
