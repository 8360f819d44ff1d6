#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <utility>

namespace dlengine {

// The bytes a download received in its current run, and its speed over about the last two
// seconds, from samples taken at most five times a second.
class SpeedMeter {
public:
    using Clock = std::chrono::steady_clock;

    void Restart();
    void Count(int64_t bytes) { m_received += bytes; }
    int64_t Received() const { return m_received; }
    void Sample(Clock::time_point now);
    // Bytes a second between the oldest and the newest sample; 0 before there are two.
    int BytesPerSecond() const;

private:
    int64_t m_received = 0;
    std::deque<std::pair<Clock::time_point, int64_t>> m_samples;
};

} // namespace dlengine
