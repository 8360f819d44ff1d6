#include "speed_meter.h"

#include <algorithm>
#include <cstdint>

namespace dlengine {
namespace {

constexpr auto kSpeedWindow = std::chrono::seconds(2);
constexpr auto kSampleInterval = std::chrono::milliseconds(200);

} // namespace

void SpeedMeter::Restart() {
    m_received = 0;
    m_samples.clear();
}

void SpeedMeter::Sample(Clock::time_point now) {
    if (!m_samples.empty() && now - m_samples.back().first < kSampleInterval) {
        return;
    }
    m_samples.emplace_back(now, m_received);
    while (m_samples.size() > 2 && now - m_samples[1].first >= kSpeedWindow) {
        m_samples.pop_front();
    }
}

int SpeedMeter::BytesPerSecond() const {
    if (m_samples.size() < 2) {
        return 0;
    }
    const auto& [t0, b0] = m_samples.front();
    const auto& [t1, b1] = m_samples.back();
    const double seconds = std::chrono::duration<double>(t1 - t0).count();
    if (seconds <= 0) {
        return 0;
    }
    return static_cast<int>(std::min<double>((b1 - b0) / seconds, INT32_MAX));
}

} // namespace dlengine
