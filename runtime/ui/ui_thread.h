#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <type_traits>
#include <utility>

namespace pandrel {

// Runs `function` on the UI thread and gives its result. Called on the UI thread (or before
// the application object exists) it runs directly; called from another thread it is queued
// to the UI thread and the caller blocks until it has run, so a worker's control call never
// interleaves with a handler's. The result travels back by value: nothing of the caller's is
// written from the other thread.
template <typename Function> auto RunOnUiThread(Function function) {
    using Result = std::invoke_result_t<Function>;
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || QThread::currentThread() == app->thread()) {
        return function();
    }
    if constexpr (std::is_void_v<Result>) {
        QMetaObject::invokeMethod(app, std::move(function), Qt::BlockingQueuedConnection);
    } else {
        Result result{};
        QMetaObject::invokeMethod(app, std::move(function), Qt::BlockingQueuedConnection, &result);
        return result;
    }
}

} // namespace pandrel
