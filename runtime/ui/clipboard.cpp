#include "runtime/ui/clipboard.h"

#include <QClipboard>
#include <QGuiApplication>

#include "runtime/ui/qt_text.h"
#include "runtime/ui/ui_thread.h"

namespace pandrel {

Text GetClipboardText() {
    return RunOnUiThread([] {
        if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) {
            return Text();
        }
        return FromQString(QGuiApplication::clipboard()->text());
    });
}

bool SetClipboardText(const Text& text) {
    return RunOnUiThread([text] {
        if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) {
            return false;
        }
        QGuiApplication::clipboard()->setText(ToQString(text));
        return true;
    });
}

} // namespace pandrel
