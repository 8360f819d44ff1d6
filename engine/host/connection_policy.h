#pragma once

#include <vector>

namespace dlengine {

// How many connections one download runs, decided from what the task sees: its total rate, one
// step after another, and the server's refusals. Pure values, no clock: the task measures and
// calls in.
//
// A download starts with kStartConnections and doubles them after each step (half a second of
// receiving) whose total rate grew by at least kMinGain over the step before, up to
// kMaxConnections. Two steps in a row without that gain (one may be a server's burst or
// pause) give the last added connections back and end the search. A server that refuses a request
// (503, 429, a refused or at once reset connection) while the task's other requests run has shown
// its limit: the count drops to the requests it was serving then, the search ends, and from then on
// no request is opened ahead of the one it follows (that would be one more than the server allows).
// A pinned count is never searched, but a refusal lowers it too: more requests could only be
// refused.
constexpr int kStartConnections = 16;
// The host runs at most this many connections over all its tasks, shared fairly between them
// (HostLimits), so that many downloads at once do not flood one server.
constexpr int kHostConnections = 64;
constexpr int kMaxConnections = 64;
constexpr double kMinGain = 1.10;
// Growing pays only when the rest of the download still takes this long at the current rate:
// a new connection needs a round trip and a piece of its own before it brings anything.
constexpr double kWorthGrowingSeconds = 1.0;

struct ConnectionPolicy {
    int count = kStartConnections; // connections the task runs now
    bool searching = true;         // false from the start for a count the user set
    bool serverLimited = false;    // the server refused a request while others ran
    int previousCount = 0;         // the count before the last growth
    double previousRate = 0;       // bytes per second measured at previousCount
    int shortSteps = 0;            // steps in a row since the last growth without the gain
};

// What the task observed since the policy last decided.
struct PolicyEvent {
    enum class Kind { Step, Refused };
    Kind kind = Kind::Step;
    double rate = 0;        // Step: bytes per second received over the step
    int running = 0;        // Step: connections that delivered data in the step
    double secondsLeft = 0; // Step: the rest of the file at `rate`
    int othersOpen = 0;     // Refused: the task's other requests still open (answered or not)
};

// The policy at the start of a download: `pinned` connections when 1 to kMaxConnections, else
// the adaptive search.
ConnectionPolicy StartPolicy(int pinned);

// The policy after one event.
ConnectionPolicy NextPolicy(ConnectionPolicy policy, const PolicyEvent& event);

// Shares `ceiling` connections between tasks that want `wants` each (max-min fair): no task
// gets more than it wants, and what one leaves is shared evenly by the others. Leftover single
// connections go to the first tasks in order.
std::vector<int> ShareConnections(const std::vector<int>& wants, int ceiling);

// What each task may have open now, given what it wants and has open (`inUse`): its fair share of
// `ceiling`, but never more than the ceiling leaves free. A task that runs more than its share
// (its share shrank when another task started) opens nothing until its requests, each a few
// seconds long, have ended; meanwhile the free connections go fairly to the tasks under their
// shares, so that the sum of what all tasks run stays within the ceiling.
std::vector<int> HostLimits(const std::vector<int>& wants, const std::vector<int>& inUse,
                            int ceiling);

} // namespace dlengine
