#include "platform/TimerQueue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>

namespace kavri {
namespace {

using namespace std::chrono_literals;

Clock::TimePoint At(long ms) {
    return Clock::TimePoint(Clock::Duration(ms));
}

TEST(TimerQueue, IdsAreNeverReusedAndStopKnowsWhatRuns) {
    // Two timers, one fired and gone, one stopped, then a third started.
    // Ids count up from 1; Stop reports false for timers that no longer run.
    TimerQueue queue;
    const auto a = queue.Start(At(0), 10ms, false, [] {});
    const auto b = queue.Start(At(0), 20ms, false, [] {});
    EXPECT_EQ(a, 1u);
    EXPECT_EQ(b, 2u);
    EXPECT_EQ(queue.RunDue(At(10)), 1u);
    EXPECT_FALSE(queue.Stop(a)) << "a one-shot timer is gone once fired";
    EXPECT_TRUE(queue.Stop(b));
    EXPECT_FALSE(queue.Stop(b));
    EXPECT_FALSE(queue.Stop(0));
    EXPECT_EQ(queue.Start(At(0), 1ms, false, [] {}), 3u);
}

TEST(TimerQueue, NextDeadlineFollowsTheEarliestTimer) {
    // Timers started, fired and stopped.
    // NextDeadline is always the earliest remaining deadline, empty when none.
    TimerQueue queue;
    EXPECT_FALSE(queue.NextDeadline());
    const auto late = queue.Start(At(0), 300ms, false, [] {});
    queue.Start(At(0), 100ms, true, [] {});
    EXPECT_EQ(queue.NextDeadline(), At(100));
    queue.RunDue(At(100));
    EXPECT_EQ(queue.NextDeadline(), At(200));
    queue.Clear();
    EXPECT_TRUE(queue.Empty());
    EXPECT_FALSE(queue.NextDeadline());
    EXPECT_FALSE(queue.Stop(late));
}

TEST(TimerQueue, IntervalsBelowTheMinimumAreRaised) {
    // A negative one-shot interval and a zero repeating interval.
    // The one-shot is due at once; the repeating timer re-arms 1 ms ahead, so
    // one pass fires it once.
    TimerQueue queue;
    int oneShot = 0;
    int repeating = 0;
    queue.Start(At(5), -20ms, false, [&] { ++oneShot; });
    queue.Start(At(5), 0ms, true, [&] { ++repeating; });
    EXPECT_EQ(queue.NextDeadline(), At(5));
    EXPECT_EQ(queue.RunDue(At(5)), 1u);
    EXPECT_EQ(oneShot, 1);
    EXPECT_EQ(repeating, 0);
    EXPECT_EQ(queue.RunDue(At(6)), 1u);
    EXPECT_EQ(repeating, 1);
    EXPECT_EQ(queue.NextDeadline(), At(7));
}

TEST(TimerQueue, TimersStartedDuringAPassWaitForTheNext) {
    // A callback starts a zero-interval timer that is due at once.
    // It does not fire in the same pass, so a pass always ends.
    TimerQueue queue;
    int inner = 0;
    queue.Start(At(0), 1ms, false, [&] { queue.Start(At(1), 0ms, false, [&] { ++inner; }); });
    EXPECT_EQ(queue.RunDue(At(1)), 1u);
    EXPECT_EQ(inner, 0);
    EXPECT_EQ(queue.RunDue(At(1)), 1u);
    EXPECT_EQ(inner, 1);
}

TEST(TimerQueue, ThrowingCallbackLeavesTheQueueConsistent) {
    // Three due timers; the first, repeating, throws.
    // The exception reaches the caller; the thrower stays armed for its next
    // period and the other two fire on the next pass, in order.
    TimerQueue queue;
    std::string order;
    queue.Start(At(0), 10ms, true, [&] {
        order += 'T';
        throw std::runtime_error("timer failed");
    });
    queue.Start(At(0), 10ms, false, [&] { order += 'A'; });
    queue.Start(At(0), 10ms, false, [&] { order += 'B'; });
    EXPECT_THROW(queue.RunDue(At(10)), std::runtime_error);
    EXPECT_EQ(order, "T");
    EXPECT_EQ(queue.RunDue(At(10)), 2u);
    EXPECT_EQ(order, "TAB");
    EXPECT_EQ(queue.NextDeadline(), At(20));
}

TEST(ManualClock, MovesOnlyForwardAndOnlyWhenAdvanced) {
    // Advances by positive, zero and negative amounts.
    // Only the positive ones move the clock.
    ManualClock clock;
    EXPECT_TRUE(clock.IsManual());
    EXPECT_EQ(clock.Now(), At(0));
    clock.Advance(250ms);
    clock.Advance(0ms);
    clock.Advance(-100ms);
    EXPECT_EQ(clock.Now(), At(250));
}

}  // namespace
}  // namespace kavri
