#pragma once

#include <atomic>
#include <chrono>

namespace kavri {

// Monotonic time source of an event loop. Timers are measured against it, so a
// test that hands a ManualClock to the loop decides when a timer is due.
class Clock {
public:
    using Duration = std::chrono::milliseconds;
    using TimePoint = std::chrono::time_point<std::chrono::steady_clock, Duration>;

    virtual ~Clock() = default;
    virtual TimePoint Now() const = 0;
    // True when time only moves when the owner says so; a loop then never
    // blocks waiting for a timer.
    virtual bool IsManual() const = 0;
};

// The real monotonic clock.
class SteadyClock final : public Clock {
public:
    TimePoint Now() const override;
    bool IsManual() const override { return false; }
};

// A clock that moves only when Advance is called; for tests. Thread-safe.
class ManualClock final : public Clock {
public:
    TimePoint Now() const override;
    bool IsManual() const override { return true; }
    void Advance(Duration by);

private:
    std::atomic<Duration::rep> m_now{0};
};

}  // namespace kavri
