#include "runtime/ui/fatal_presenter.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>

#include "runtime/fatal.h"
#include "runtime/ui/qt_text.h"
#include "runtime/ui/ui_thread.h"

namespace pandrel {
namespace {

bool HasWindowSystem() {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
        return false;
    }
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

void PresentFatalError(const Text& text) {
    if (!HasWindowSystem()) {
        std::fputs(text.c_str(), stderr);
        std::fputc('\n', stderr);
        std::fflush(stderr);
        return;
    }
    RunOnUiThread([text] {
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Pandrel"), ToQString(text),
                        QMessageBox::Ok);
        // The text may name files and functions from outside: never markup.
        box.setTextFormat(Qt::PlainText);
        box.exec();
    });
}

} // namespace

void InstallFatalErrorPresenter() {
    SetFatalErrorPresenter(&PresentFatalError);
}

} // namespace pandrel
