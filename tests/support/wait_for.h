#pragma once

#include <chrono>
#include <functional>

// Polls `predicate` until it holds or `timeout` passes; true when it held. Between polls it
// runs `pump` when given (a Qt test passes QCoreApplication::processEvents).
bool WaitFor(const std::function<bool()>& predicate,
             std::chrono::milliseconds timeout = std::chrono::seconds(10),
             const std::function<void()>& pump = {});

// Lets `span` pass, running `pump` meanwhile. Only for a test that proves that nothing happens
// (or that needs time itself to pass): there no condition can mark the moment to stop.
void LetTimePass(std::chrono::milliseconds span, const std::function<void()>& pump = {});
