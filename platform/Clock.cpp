#include "platform/Clock.h"

namespace kavri {

Clock::TimePoint SteadyClock::Now() const {
    return std::chrono::time_point_cast<Duration>(std::chrono::steady_clock::now());
}

Clock::TimePoint ManualClock::Now() const {
    return TimePoint(Duration(m_now.load(std::memory_order_acquire)));
}

void ManualClock::Advance(Duration by) {
    // Time never runs backwards, whatever a caller passes.
    if (by.count() > 0) {
        m_now.fetch_add(by.count(), std::memory_order_acq_rel);
    }
}

}  // namespace kavri
