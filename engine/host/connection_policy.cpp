#include "connection_policy.h"

#include <algorithm>

namespace dlengine {

ConnectionPolicy StartPolicy(int pinned) {
    ConnectionPolicy policy;
    if (pinned >= 1 && pinned <= kMaxConnections) {
        policy.count = pinned;
        policy.searching = false;
    }
    return policy;
}

ConnectionPolicy NextPolicy(ConnectionPolicy policy, const PolicyEvent& event) {
    if (event.kind == PolicyEvent::Kind::Refused) {
        policy.serverLimited = true;
        policy.searching = false;
        policy.count = std::clamp(event.othersOpen, 1, policy.count);
        return policy;
    }
    // A step is evidence only when the task ran its whole count: with fewer pieces than
    // connections, or a smaller share of the host's connections, it says nothing about more.
    if (!policy.searching || event.running < policy.count ||
        event.secondsLeft < kWorthGrowingSeconds) {
        return policy;
    }
    if (policy.previousRate > 0 && event.rate < kMinGain * policy.previousRate) {
        if (++policy.shortSteps < 2) {
            return policy; // once may be noise: measure again at this count
        }
        policy.count = policy.previousCount; // the last connections added brought nothing
        policy.searching = false;
        return policy;
    }
    policy.shortSteps = 0;
    if (policy.count >= kMaxConnections) {
        policy.searching = false;
        return policy;
    }
    policy.previousCount = policy.count;
    policy.previousRate = event.rate;
    policy.count = std::min(kMaxConnections, policy.count * 2);
    return policy;
}

std::vector<int> ShareConnections(const std::vector<int>& wants, int ceiling) {
    std::vector<int> shares(wants.size(), 0);
    std::vector<size_t> open; // tasks that still want more
    for (size_t i = 0; i < wants.size(); ++i) {
        if (wants[i] > 0) {
            open.push_back(i);
        }
    }
    int left = std::max(ceiling, 0);
    while (!open.empty() && left > 0) {
        const int even = left / static_cast<int>(open.size());
        if (even == 0) {
            // Fewer connections than tasks: one each to the first ones.
            for (size_t k = 0; k < open.size() && left > 0; ++k, --left) {
                ++shares[open[k]];
            }
            break;
        }
        std::vector<size_t> still;
        for (size_t i : open) {
            const int give = std::min(even, wants[i] - shares[i]);
            shares[i] += give;
            left -= give;
            if (shares[i] < wants[i]) {
                still.push_back(i);
            }
        }
        if (still.size() == open.size()) {
            // Everyone took the even share and wants more: the rest goes one by one.
            for (size_t k = 0; k < still.size() && left > 0; ++k, --left) {
                ++shares[still[k]];
            }
            break;
        }
        open = std::move(still);
    }
    return shares;
}

std::vector<int> HostLimits(const std::vector<int>& wants, const std::vector<int>& inUse,
                            int ceiling) {
    std::vector<int> limits = ShareConnections(wants, ceiling);
    int free = ceiling;
    std::vector<int> below(limits.size(), 0); // what each task lacks to its share
    for (size_t i = 0; i < limits.size(); ++i) {
        free -= inUse[i];
        below[i] = std::max(limits[i] - inUse[i], 0);
    }
    const std::vector<int> extra = ShareConnections(below, free);
    for (size_t i = 0; i < limits.size(); ++i) {
        if (below[i] > 0) {
            limits[i] = inUse[i] + extra[i];
        }
    }
    return limits;
}

} // namespace dlengine
