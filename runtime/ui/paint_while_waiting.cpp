#include "runtime/ui/paint_while_waiting.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>

#include <thread>

#include "runtime/ui/ui_thread.h"

namespace pandrel {

void RunWhileWindowPaints(const std::function<void()>& work) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) {
        work();
        return;
    }
    AssertUiThread();
    QEventLoop loop;
    std::thread worker([&work, &loop] {
        work();
        // Queued: the loop's own thread ends it, also when the work ended before it started.
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    // The loop also ends when the application quits meanwhile; then the rest of the work is
    // waited for without serving events.
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    worker.join();
}

} // namespace pandrel
