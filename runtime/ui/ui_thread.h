#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <cstdio>
#include <cstdlib>
#include <source_location>
#include <type_traits>
#include <utility>

namespace pandrel {

// True on the UI thread (the application object's), and before the application object
// exists: everything then runs on the one thread there is.
inline bool OnUiThread() {
    QCoreApplication* app = QCoreApplication::instance();
    return app == nullptr || QThread::currentThread() == app->thread();
}

// The threading contract of a function that touches widgets or the window's state directly:
// in a debug build, a call from another thread names the function and ends the process.
// Functions that any thread may call hop with RunOnUiThread instead.
inline void AssertUiThread(std::source_location where = std::source_location::current()) {
#ifndef NDEBUG
    if (!OnUiThread()) {
        std::fprintf(stderr, "%s:%u: %s must run on the UI thread\n", where.file_name(),
                     static_cast<unsigned>(where.line()), where.function_name());
        std::abort();
    }
#else
    (void)where;
#endif
}

// Runs `function` on the UI thread and gives its result. Called on the UI thread (or before
// the application object exists) it runs directly; called from another thread it is queued
// to the UI thread and the caller blocks until it has run, so a worker's control call never
// interleaves with a handler's. The result travels back by value: nothing of the caller's is
// written from the other thread.
template <typename Function> auto RunOnUiThread(Function function) {
    using Result = std::invoke_result_t<Function>;
    if (OnUiThread()) {
        return function();
    }
    QCoreApplication* app = QCoreApplication::instance();
    if constexpr (std::is_void_v<Result>) {
        QMetaObject::invokeMethod(app, std::move(function), Qt::BlockingQueuedConnection);
    } else {
        Result result{};
        QMetaObject::invokeMethod(app, std::move(function), Qt::BlockingQueuedConnection, &result);
        return result;
    }
}

} // namespace pandrel
