#include "runtime/ui/desktop_notice.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>
#include <QWidget>

#include "runtime/ui/control_registry.h"
#include "runtime/ui/qt_text.h"
#include "runtime/ui/ui_thread.h"

namespace pandrel {
namespace {

void SendNotify(const Text& summary, const Text& body) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return;
    }
    const QString service = QStringLiteral("org.freedesktop.Notifications");
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/Notifications"),
                                       service, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("pandrel"));
    // Notify(app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout)
    call << QStringLiteral("Pandrel") << 0u << QStringLiteral("pandrel") << ToQString(summary)
         << ToQString(body) << QStringList() << hints << -1;
    // Sent without waiting for the reply: a missing or hung service never holds anyone up.
    call.setAutoStartService(true);
    bus.send(call);
}

} // namespace

void NotifyUnlessActive(const Text& window, const Text& summary, const Text& body) {
    auto notify = [window, summary, body] {
        const QWidget* shown = FindControlAs<QWidget>(window);
        if (shown == nullptr || !shown->isActiveWindow()) {
            SendNotify(summary, body);
        }
    };
    // Posted, not waited for: a worker that announces its task's end goes on at once (and
    // lets go of its row) while the window is still busy.
    if (OnUiThread()) {
        notify();
    } else if (QCoreApplication* app = QCoreApplication::instance()) {
        QMetaObject::invokeMethod(app, std::move(notify), Qt::QueuedConnection);
    }
}

} // namespace pandrel
