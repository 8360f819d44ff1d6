#pragma once

#include <chrono>
#include <functional>

// Polls `predicate` until it holds or `timeout` passes; true when it held. Between polls it
// runs `pump` when given (a Qt test passes QCoreApplication::processEvents).
bool WaitFor(const std::function<bool()>& predicate,
             std::chrono::milliseconds timeout = std::chrono::seconds(10),
             const std::function<void()>& pump = {});
