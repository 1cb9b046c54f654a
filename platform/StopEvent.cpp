#include "platform/StopEvent.h"

#include <algorithm>

namespace kavri {
namespace {

// How often a wait against a manual clock looks at the clock again.
constexpr std::chrono::milliseconds kManualClockSlice{1};

}  // namespace

StopEvent::StopEvent(const Clock& clock) : m_clock(clock) {}

void StopEvent::Set() {
    std::lock_guard lock(m_mutex);
    m_set = true;
    m_changed.notify_all();
    // Lock order: the event, then a waiter. WaitForAny never holds its waiter's
    // lock while it takes an event's.
    for (Waiter* waiter : m_waiters) {
        std::lock_guard waiterLock(waiter->mutex);
        waiter->signalled = true;
        waiter->wake.notify_all();
    }
}

void StopEvent::Reset() {
    std::lock_guard lock(m_mutex);
    m_set = false;
}

bool StopEvent::IsSet() const {
    std::lock_guard lock(m_mutex);
    return m_set;
}

bool StopEvent::WaitFor(Clock::Duration timeout) {
    return WaitUntil(m_clock.Now() + timeout);
}

bool StopEvent::WaitUntil(Clock::TimePoint deadline) {
    std::unique_lock lock(m_mutex);
    for (;;) {
        if (m_set)
            return true;
        const Clock::TimePoint now = m_clock.Now();
        if (now >= deadline)
            return false;
        const auto slice = m_clock.IsManual() ? kManualClockSlice : deadline - now;
        m_changed.wait_for(lock, slice);
    }
}

void StopEvent::AddWaiter(Waiter* waiter) {
    std::lock_guard lock(m_mutex);
    m_waiters.push_back(waiter);
}

void StopEvent::RemoveWaiter(Waiter* waiter) {
    std::lock_guard lock(m_mutex);
    m_waiters.erase(std::remove(m_waiters.begin(), m_waiters.end(), waiter), m_waiters.end());
}

std::optional<std::size_t> StopEvent::WaitForAny(std::span<StopEvent* const> events,
                                                 std::optional<Clock::TimePoint> deadline,
                                                 const Clock& clock) {
    Waiter waiter;
    for (StopEvent* event : events)
        event->AddWaiter(&waiter);
    std::optional<std::size_t> result;
    for (;;) {
        for (std::size_t i = 0; i < events.size() && !result; ++i) {
            if (events[i]->IsSet())
                result = i;
        }
        if (result)
            break;
        const Clock::TimePoint now = clock.Now();
        if (deadline && now >= *deadline)
            break;
        std::unique_lock lock(waiter.mutex);
        // A Set between the look above and this lock has already raised the
        // flag, so the wait below cannot miss it.
        if (!waiter.signalled) {
            if (clock.IsManual() && deadline)
                waiter.wake.wait_for(lock, kManualClockSlice);
            else if (deadline)
                waiter.wake.wait_for(lock, *deadline - now);
            else
                waiter.wake.wait(lock, [&waiter] { return waiter.signalled; });
        }
        waiter.signalled = false;
    }
    for (StopEvent* event : events)
        event->RemoveWaiter(&waiter);
    return result;
}

PollingWatcher::PollingWatcher(const Clock& clock, Clock::Duration interval, bool lastKnown,
                               PresenceTest test, ChangeReport report)
    : m_clock(clock),
      m_interval(std::max(interval, Clock::Duration(1))),
      m_start(clock.Now()),
      m_lastKnown(lastKnown),
      m_test(std::move(test)),
      m_report(std::move(report)),
      m_stop(clock) {
    m_thread = std::thread([this] { Run(); });
}

PollingWatcher::~PollingWatcher() {
    Stop();
}

void PollingWatcher::Stop() {
    m_stop.Set();
    if (m_thread.joinable())
        m_thread.join();
}

void PollingWatcher::Run() {
    Clock::TimePoint next = m_start + m_interval;
    while (!m_stop.WaitUntil(next)) {
        // The next boundary is fixed before this test runs: a test that moves
        // the clock once it has seen this cycle's report must not push the
        // next cycle further out. After a jump of the clock, the skipped
        // boundaries cost one test, not one each.
        const auto elapsed = m_clock.Now() - m_start;
        next = m_start + (elapsed / m_interval + 1) * m_interval;
        try {
            const bool present = m_test();
            if (present != m_lastKnown) {
                // Remembered only once reported, so a report that failed is
                // made again at the next boundary.
                m_report(present);
                m_lastKnown = present;
            }
        } catch (...) {
            // Nothing may unwind out of a watcher thread; a failed test is
            // tried again at the next boundary.
        }
        m_cycles.fetch_add(1, std::memory_order_acq_rel);
    }
}

}  // namespace kavri
