#pragma once

#include <chrono>
#include <cstdint>

namespace dlengine {

// When a running download's data goes to disk and its progress record is brought up to date:
// one save at a time, a save interval after the last one while there are new bytes, and every
// 32 MiB a write-back, so that the final flush before the file takes its name has little left
// to do and the page cache does not fill with a whole large download.
class SaveSchedule {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr int64_t kWriteBackEvery = 32 << 20;

    explicit SaveSchedule(Clock::duration interval) : m_interval(interval) {}

    // Bytes were written that a record would claim.
    void MarkDirty() { m_dirty = true; }
    // Bytes were written: true once another kWriteBackEvery of them wait for the disk.
    bool WriteBackDue(int64_t written);
    bool SaveDue(Clock::time_point now) const {
        return m_dirty && now - m_lastSave >= m_interval && m_inFlight == 0;
    }
    // A save was handed to the disk flusher at `now`, and one came back.
    void Posted(Clock::time_point now);
    void Returned() { --m_inFlight; }
    bool InFlight() const { return m_inFlight > 0; }

private:
    Clock::duration m_interval;
    bool m_dirty = false;
    Clock::time_point m_lastSave{};
    int m_inFlight = 0;
    int64_t m_unflushed = 0; // bytes written since the disk was last asked to write back
};

} // namespace dlengine
