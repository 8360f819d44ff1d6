#include "retry_backoff.h"

#include <algorithm>

namespace dlengine {

void RetryBackoff::Restart(Clock::time_point now) {
    m_failures = 0;
    m_next = now;
    m_lastFailure = {};
}

bool RetryBackoff::Count(Clock::time_point launched, Clock::time_point now) {
    if (launched < m_lastFailure) {
        return true;
    }
    m_lastFailure = now;
    if (++m_failures >= kMaxFailures) {
        return false;
    }
    long delay = m_baseMs;
    for (int i = 1; i < m_failures && delay < m_capMs; ++i) {
        delay *= 2;
    }
    m_next = now + std::chrono::milliseconds(std::min(delay, m_capMs));
    return true;
}

} // namespace dlengine
