#include "policy_steps.h"

#include <limits>

namespace dlengine {
namespace {

// Long enough for a server that sends in bursts (nginx's limit_rate sends about a second's
// worth at a time per connection) to average out over the connections, short enough that a
// download reaches its count within its first seconds.
constexpr auto kPolicyStep = std::chrono::milliseconds(500);
constexpr auto kSettleLimit = std::chrono::seconds(2);

} // namespace

void PolicySteps::Restart(int pinned) {
    m_policy = StartPolicy(pinned);
    Interrupt();
}

void PolicySteps::Interrupt() {
    m_stepStart = {};
    m_settleStart = {};
}

void PolicySteps::Refused(int othersOpen) {
    PolicyEvent refused;
    refused.kind = PolicyEvent::Kind::Refused;
    refused.othersOpen = othersOpen;
    m_policy = NextPolicy(m_policy, refused);
}

bool PolicySteps::Look(Clock::time_point now, int active, int delivering, int64_t received,
                       int64_t bytesLeft) {
    if (m_stepStart == Clock::time_point{}) {
        if (m_settleStart == Clock::time_point{}) {
            m_settleStart = now;
        }
        if (delivering < active - active / 8 && now - m_settleStart < kSettleLimit) {
            return false;
        }
        m_stepStart = now;
        m_stepBytes = received;
        return false;
    }
    const std::chrono::duration<double> span = now - m_stepStart;
    if (span < kPolicyStep) {
        return false;
    }
    PolicyEvent step;
    step.rate = static_cast<double>(received - m_stepBytes) / span.count();
    step.running = active;
    step.secondsLeft = step.rate > 0 ? static_cast<double>(bytesLeft) / step.rate
                                     : std::numeric_limits<double>::infinity();
    const int before = m_policy.count;
    m_policy = NextPolicy(m_policy, step);
    Interrupt();
    return m_policy.count > before;
}

} // namespace dlengine
