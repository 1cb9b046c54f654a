#include "platform/StopEvent.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace kavri {
namespace {

// Waits within a real-time cap for another thread's progress; the cap is a
// safety net that working code never reaches.
template <typename Done>
bool Eventually(Done done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::yield();
    }
    return true;
}

TEST(StopEvent, SetResetAndImmediateWaits) {
    // An event on the real clock, waited on with no time to spare.
    // Expected: the wait reports the state at once; Reset clears it.
    SteadyClock clock;
    StopEvent event(clock);
    EXPECT_FALSE(event.WaitFor(Clock::Duration(0)));
    event.Set();
    EXPECT_TRUE(event.IsSet());
    EXPECT_TRUE(event.WaitFor(Clock::Duration(0)));
    EXPECT_TRUE(event.WaitFor(Clock::Duration(0))) << "manual reset: stays set";
    event.Reset();
    EXPECT_FALSE(event.IsSet());
}

TEST(StopEvent, SetWakesAWaiterLongBeforeItsDeadline) {
    // A thread waits an hour on the real clock; the event is set.
    // Expected: the wait ends with true.
    SteadyClock clock;
    StopEvent event(clock);
    std::atomic<int> result{-1};
    std::thread waiter([&] { result = event.WaitFor(std::chrono::hours(1)) ? 1 : 0; });
    event.Set();
    waiter.join();
    EXPECT_EQ(result, 1);
}

TEST(StopEvent, ManualClockTimeOutEndsWhenTheClockPassesTheDeadline) {
    // A thread waits 1000 ms of a manual clock that another thread advances.
    // Expected: still waiting after 999 ms; false once the clock reaches 1000 ms.
    ManualClock clock;
    StopEvent event(clock);
    std::atomic<int> result{-1};
    // The deadline is fixed before the waiter starts, so the advances below
    // count from it whenever the thread gets going.
    const Clock::TimePoint deadline = clock.Now() + Clock::Duration(1000);
    std::thread waiter([&] { result = event.WaitUntil(deadline) ? 1 : 0; });
    clock.Advance(Clock::Duration(999));
    EXPECT_EQ(result, -1) << "999 ms are not enough";
    clock.Advance(Clock::Duration(1));
    waiter.join();
    EXPECT_EQ(result, 0);
}

TEST(StopEvent, WaitForAnyTellsWhichEventWasSet) {
    // Two events; the second is set from another thread while the first waits.
    // Expected: index 1; a wait whose deadline has passed gives nothing.
    ManualClock clock;
    StopEvent first(clock);
    StopEvent second(clock);
    const std::array<StopEvent*, 2> events{&first, &second};
    std::thread setter([&] { second.Set(); });
    EXPECT_EQ(StopEvent::WaitForAny(events, std::nullopt, clock), std::optional<std::size_t>(1));
    setter.join();
    second.Reset();
    EXPECT_EQ(StopEvent::WaitForAny(events, clock.Now(), clock), std::nullopt);
    first.Set();
    second.Set();
    EXPECT_EQ(StopEvent::WaitForAny(events, std::nullopt, clock), std::optional<std::size_t>(0))
        << "the lowest set event wins";
}

class PollingWatcherTest : public ::testing::Test {
protected:
    std::vector<bool> Reports() {
        std::lock_guard lock(m_mutex);
        return m_reports;
    }
    void Record(bool present) {
        std::lock_guard lock(m_mutex);
        m_reports.push_back(present);
    }

    ManualClock m_clock;
    std::atomic<bool> m_present{false};
    std::mutex m_mutex;
    std::vector<bool> m_reports;
};

TEST_F(PollingWatcherTest, ReportsOnlyChangesAtEachBoundary) {
    // A presence that turns true at the second test, then false after a long jump.
    // Expected: one report per change, none for an unchanged test; the jump costs one test.
    PollingWatcher watcher(
        m_clock, Clock::Duration(1000), false, [this] { return m_present.load(); },
        [this](bool present) { Record(present); });
    m_clock.Advance(Clock::Duration(1000));
    ASSERT_TRUE(Eventually([&] { return watcher.CycleCount() == 1; }));
    EXPECT_TRUE(Reports().empty());

    m_present = true;
    m_clock.Advance(Clock::Duration(1000));
    ASSERT_TRUE(Eventually([&] { return watcher.CycleCount() == 2; }));
    ASSERT_TRUE(Eventually([&] { return Reports().size() == 1; }));

    m_present = false;
    m_clock.Advance(Clock::Duration(10000));
    ASSERT_TRUE(Eventually([&] { return watcher.CycleCount() == 3; }));
    ASSERT_TRUE(Eventually([&] { return Reports().size() == 2; }));
    EXPECT_EQ(Reports(), (std::vector<bool>{true, false}));
    watcher.Stop();
    EXPECT_EQ(watcher.CycleCount(), 3u);
}

TEST_F(PollingWatcherTest, FailedTestOrReportIsTriedAgainAtTheNextBoundary) {
    // The first test throws; the first report throws too.
    // Expected: the thread survives both, and the change is reported once it goes through.
    std::atomic<int> tests{0};
    std::atomic<int> reports{0};
    PollingWatcher watcher(
        m_clock, Clock::Duration(1000), false,
        [&] {
            if (++tests == 1)
                throw std::runtime_error("stack busy");
            return true;
        },
        [&](bool present) {
            if (++reports == 1)
                throw std::runtime_error("window gone");
            Record(present);
        });
    for (std::uint64_t cycle = 1; cycle <= 3; ++cycle) {
        m_clock.Advance(Clock::Duration(1000));
        ASSERT_TRUE(Eventually([&] { return watcher.CycleCount() == cycle; }));
    }
    EXPECT_EQ(Reports(), std::vector<bool>{true});
    EXPECT_EQ(reports, 2);
}

TEST_F(PollingWatcherTest, StopEndsTheThreadWithoutTheClockMoving) {
    // A watcher on a clock that never moves.
    // Expected: Stop returns; no test was made.
    PollingWatcher watcher(
        m_clock, Clock::Duration(1000), false, [] { return true; },
        [this](bool present) { Record(present); });
    watcher.Stop();
    watcher.Stop();
    EXPECT_EQ(watcher.CycleCount(), 0u);
    EXPECT_TRUE(Reports().empty());
}

}  // namespace
}  // namespace kavri
