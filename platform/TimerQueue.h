#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <utility>

#include "platform/Clock.h"

namespace kavri {

// The timers of one event loop, ordered by deadline and, for equal deadlines,
// by the order in which they were started. The loop asks for the next deadline
// to know how long it may sleep and calls RunDue when it wakes.
//
// Lives on the loop thread and has no lock. Callbacks may start and stop
// timers, their own included; a timer stopped by an earlier callback of the
// same pass does not fire. An exception from a callback leaves the queue
// consistent and propagates to the caller of RunDue; the timers not yet fired
// in that pass stay due.
class TimerQueue {
public:
    using Task = std::function<void()>;
    using TimerId = std::uint64_t;

    // Repeating timers run at most once per millisecond, so a zero interval
    // cannot keep a loop busy without end.
    static constexpr Clock::Duration kMinRepeatInterval{1};

    // Ids start at 1 and are never reused; 0 is never a timer.
    TimerId Start(Clock::TimePoint now, Clock::Duration interval, bool repeat, Task task);
    // Returns false when no such timer runs (never started, fired once, stopped).
    bool Stop(TimerId id);
    void Clear();

    bool Empty() const { return m_timers.empty(); }
    std::size_t Size() const { return m_timers.size(); }
    std::optional<Clock::TimePoint> NextDeadline() const;

    // Fires every timer due at now, each at most once, in deadline order.
    // Timers started by the callbacks wait for the next call even when they are
    // due at once. A repeating timer that missed several of its periods (the
    // clock jumped, the loop was busy) fires once and keeps its phase: its next
    // deadline is the first multiple of its interval after now. Returns how
    // many callbacks ran.
    std::size_t RunDue(Clock::TimePoint now);

private:
    struct Timer {
        Clock::TimePoint deadline;
        Clock::Duration interval;
        bool repeat = false;
        // Shared so that a callback that stops its own timer keeps running.
        std::shared_ptr<Task> task;
    };
    using Key = std::pair<Clock::TimePoint, TimerId>;

    std::map<TimerId, Timer> m_timers;
    std::set<Key> m_order;
    TimerId m_nextId = 1;
};

}  // namespace kavri
