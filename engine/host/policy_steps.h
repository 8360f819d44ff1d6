#pragma once

#include "connection_policy.h"

#include <chrono>
#include <cstdint>

namespace dlengine {

// Feeds a task's connection policy (connection_policy.h) what it decides on: the task's total
// rate over steps of half a second, and the server's refusals. A step measures the count the
// task runs: it begins once nearly every connection delivers (new ones need a round trip, or a
// few with connection set-up), or after two seconds however many do.
class PolicySteps {
public:
    using Clock = std::chrono::steady_clock;

    // A new run: the policy starts again (`pinned` connections, or the search).
    void Restart(int pinned);
    // The bytes counted so far no longer measure the count (the download starts over).
    void Interrupt();
    const ConnectionPolicy& Policy() const { return m_policy; }
    // The server refused a request while `othersOpen` of the task's requests were open.
    void Refused(int othersOpen);
    // One look at a running download: `active` connections, `delivering` of them with data,
    // `received` bytes in this run, `bytesLeft` of the file. True when the count grew.
    bool Look(Clock::time_point now, int active, int delivering, int64_t received,
              int64_t bytesLeft);

private:
    ConnectionPolicy m_policy;
    Clock::time_point m_settleStart{}; // waiting for the connections to deliver, since
    Clock::time_point m_stepStart{};   // of the current step
    int64_t m_stepBytes = 0;           // received at the step's start
};

} // namespace dlengine
