#include "save_schedule.h"

namespace dlengine {

bool SaveSchedule::WriteBackDue(int64_t written) {
    m_unflushed += written;
    if (m_unflushed < kWriteBackEvery) {
        return false;
    }
    m_unflushed = 0;
    return true;
}

void SaveSchedule::Posted(Clock::time_point now) {
    m_lastSave = now;
    m_dirty = false;
    ++m_inFlight;
}

} // namespace dlengine
