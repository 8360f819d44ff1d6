#include "runtime/ui/process_window.h"

#include <QApplication>
#include <QElapsedTimer>

#include <unistd.h>

#include "runtime/ui/qt_text.h"
#include "runtime/ui/shell.h"
#include "runtime/ui/ui_thread.h"

namespace pandrel {
namespace {

bool IsTransient(const QWidget* widget) {
    const Qt::WindowType type = widget->windowType();
    return type == Qt::Popup || type == Qt::ToolTip;
}

} // namespace

QWidget* FindProcessWindow(std::int64_t processId, const Text& title, const Text& className,
                           std::optional<int> timeLimitMs, bool visibleOnly) {
    AssertUiThread();
    if (processId != getpid() || qApp == nullptr) {
        return nullptr;
    }
    const qint64 limit =
        timeLimitMs && *timeLimitMs != -1 ? qint64{*timeLimitMs} : qint64{31536000};
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < limit) {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (IsTransient(window) || (visibleOnly && !window->isVisible())) {
                continue;
            }
            if (title.empty() && className.empty()) {
                return window;
            }
            const bool titleMatches =
                title.empty() || window->windowTitle().contains(ToQString(title));
            const bool classMatches =
                className.empty() || QString::fromLatin1(window->metaObject()->className())
                                         .contains(ToQString(className));
            return titleMatches && classMatches ? window : nullptr;
        }
        ProcessEvents();
    }
    return nullptr;
}

} // namespace pandrel
