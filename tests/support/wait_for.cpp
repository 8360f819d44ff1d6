#include "support/wait_for.h"

#include <thread>

bool WaitFor(const std::function<bool()>& predicate, std::chrono::milliseconds timeout,
             const std::function<void()>& pump) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        if (predicate()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        if (pump) {
            pump();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void LetTimePass(std::chrono::milliseconds span, const std::function<void()>& pump) {
    WaitFor([] { return false; }, span, pump);
}
