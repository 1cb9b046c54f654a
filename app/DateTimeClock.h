#pragma once

#include <atomic>
#include <chrono>

#include "app/DateTime.h"

namespace kavri {

// Where "now" comes from for everything that compares against the calendar
// (schedules, refusal expiry, record stamps). Callers receive a clock; there is
// no global one, so a test decides what day it is. Now() is callable from any
// thread and throws nothing.
class DateTimeClock {
public:
    virtual ~DateTimeClock() = default;
    // The current local date and time.
    virtual TDateTime Now() const = 0;
};

// The machine's wall clock in its local time zone.
class SystemDateTimeClock final : public DateTimeClock {
public:
    TDateTime Now() const override;
};

// A clock that shows what it was last set to; for tests. Thread-safe.
class ManualDateTimeClock final : public DateTimeClock {
public:
    explicit ManualDateTimeClock(TDateTime start = TDateTime()) : m_now(start.Value()) {}

    TDateTime Now() const override { return TDateTime(m_now.load()); }
    void Set(TDateTime now) { m_now.store(now.Value()); }
    // Moves the clock on (or back, for a negative amount) as a fraction of a day.
    void Advance(std::chrono::milliseconds by);

private:
    std::atomic<double> m_now;
};

}  // namespace kavri
