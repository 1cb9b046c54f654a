#pragma once

#include "platform/Clock.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <vector>

namespace kavri {

// A manual-reset event that a worker thread waits on with a time limit
// measured on a Clock: stop events of the stack watchers, and the events a
// stack hands out to say "something happened".
//
// With a real clock a wait blocks on a condition variable. With a manual clock
// the wait wakes every millisecond of real time to look at the clock, and ends
// once the clock has passed the deadline or the event is set; so a test moves
// a watcher's time by advancing its ManualClock and nothing sleeps for the
// length of the time-out. Any thread; nothing throws except std::system_error
// from the standard primitives. The event does not own the clock.
class StopEvent {
public:
    explicit StopEvent(const Clock& clock);
    StopEvent(const StopEvent&) = delete;
    StopEvent& operator=(const StopEvent&) = delete;

    void Set();
    void Reset();
    bool IsSet() const;

    // True when the event is (or becomes) set before the time-out passes.
    bool WaitFor(Clock::Duration timeout);
    bool WaitUntil(Clock::TimePoint deadline);

    // Waits until one of the events is set or, when a deadline is given, until
    // the clock passes it. Returns the index of a set event (the lowest when
    // several are), or nullopt on time-out.
    static std::optional<std::size_t> WaitForAny(std::span<StopEvent* const> events,
                                                 std::optional<Clock::TimePoint> deadline,
                                                 const Clock& clock);

    const Clock& GetClock() const { return m_clock; }

private:
    // A thread inside WaitForAny; Set wakes it through this.
    struct Waiter {
        std::mutex mutex;
        std::condition_variable wake;
        bool signalled = false;
    };

    void AddWaiter(Waiter* waiter);
    void RemoveWaiter(Waiter* waiter);

    const Clock& m_clock;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_set = false;              // guarded by m_mutex
    std::vector<Waiter*> m_waiters;  // guarded by m_mutex
};

// A thread that tests a presence every interval and reports each change: the
// polling watchers of the stack loaders. The cadence is anchored at the moment
// the watcher starts (tests at start + interval, start + 2 * interval, ...;
// after a jump of a manual clock, the next test comes at the first boundary
// that has passed, and the ones skipped are not made up). The report runs on
// the watcher thread and must only post. An exception from the test or the
// report is swallowed there (it never crosses the thread) and counts as "no
// change". The owner stops and joins it: Stop, or the destructor.
class PollingWatcher {
public:
    using PresenceTest = std::function<bool()>;
    using ChangeReport = std::function<void(bool present)>;

    PollingWatcher(const Clock& clock, Clock::Duration interval, bool lastKnown, PresenceTest test,
                   ChangeReport report);
    ~PollingWatcher();
    PollingWatcher(const PollingWatcher&) = delete;
    PollingWatcher& operator=(const PollingWatcher&) = delete;

    // Sets the stop event and waits for the thread to end. Idempotent; call it
    // from the owner's thread, never from the report.
    void Stop();

    // How many presence tests have completed; lets a test wait for a cycle.
    std::uint64_t CycleCount() const { return m_cycles.load(std::memory_order_acquire); }

private:
    void Run();

    const Clock& m_clock;
    const Clock::Duration m_interval;
    const Clock::TimePoint m_start;
    bool m_lastKnown;  // watcher thread only
    PresenceTest m_test;
    ChangeReport m_report;
    StopEvent m_stop;
    std::atomic<std::uint64_t> m_cycles{0};
    std::thread m_thread;
};

}  // namespace kavri
