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

    // The instant a timer started now counts its interval from. A real clock's
    // readings are cut to whole ticks, up to one tick behind the true time, so
    // counting from the next tick keeps a timer from firing before its whole
    // interval has passed. A manual clock is exact.
    TimePoint TimerStart() const { return IsManual() ? Now() : Now() + Duration(1); }
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
