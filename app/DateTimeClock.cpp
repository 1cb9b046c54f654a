#include "app/DateTimeClock.h"

namespace kavri {

TDateTime SystemDateTimeClock::Now() const {
    const auto now = std::chrono::system_clock::now();
    // localtime_r fails only for instants far outside the calendar; the wall
    // clock of a running machine is never one of them.
    return TDateTime::FromTimePoint(now).value_or(TDateTime());
}

void ManualDateTimeClock::Advance(std::chrono::milliseconds by) {
    const double days = static_cast<double>(by.count()) / 86'400'000.0;
    double current = m_now.load();
    while (!m_now.compare_exchange_weak(current, current + days)) {
    }
}

}  // namespace kavri
