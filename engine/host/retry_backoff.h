#pragma once

#include <chrono>

namespace dlengine {

// A task's failed requests in a row (without a new byte between them) and when the next
// request may go out: each failure doubles the wait, from `baseMs` up to `capMs`.
class RetryBackoff {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr int kMaxFailures = 10;

    RetryBackoff(long baseMs, long capMs) : m_baseMs(baseMs), m_capMs(capMs) {}

    // A new run: no failure counted, requests may go out now.
    void Restart(Clock::time_point now);
    // A new byte arrived: the failures so far are forgiven (the wait they set stays).
    void Progressed() { m_failures = 0; }
    // Counts the failure of a request launched at `launched`, and sets the wait. Requests that
    // were already out when a failure was counted fail of the same cause (a server outage ends
    // every connection at once): they count as that one failure. False once kMaxFailures are
    // counted in a row: the task gives up.
    bool Count(Clock::time_point launched, Clock::time_point now);
    // The next request may go out at `when` (no failure counted).
    void RetryAt(Clock::time_point when) { m_next = when; }
    // The next request waits until at least `when`.
    void WaitUntil(Clock::time_point when) { m_next = std::max(m_next, when); }

    int Failures() const { return m_failures; }
    bool Due(Clock::time_point now) const { return now >= m_next; }

private:
    long m_baseMs;
    long m_capMs;
    int m_failures = 0;
    Clock::time_point m_next{};
    Clock::time_point m_lastFailure{}; // when m_failures last grew
};

} // namespace dlengine
