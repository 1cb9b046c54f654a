#include "platform/PollEventLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <thread>

#include "platform/EventLoopBehaviour.h"
#include "platform/EventLoopTestSupport.h"

namespace kavri::test {
namespace {

struct PollLoopFactory {
    static std::unique_ptr<EventLoop> Make(const Clock& clock) {
        return std::make_unique<PollEventLoop>(clock);
    }
};

}  // namespace

INSTANTIATE_TYPED_TEST_SUITE_P(Poll, EventLoopBehaviour, PollLoopFactory);

namespace {

TEST(PollEventLoop, LoopThreadOnlyCallsThrowElsewhere) {
    // Run, ProcessEvents, StartTimer and WatchFd called from a foreign thread.
    // Each throws std::logic_error instead of touching the loop's state.
    ManualClock clock;
    PollEventLoop loop(clock);
    int thrown = 0;
    std::thread other([&] {
        try {
            loop.ProcessEvents(0ms);
        } catch (const std::logic_error&) {
            ++thrown;
        }
        try {
            loop.Run();
        } catch (const std::logic_error&) {
            ++thrown;
        }
        try {
            loop.StartTimer(1ms, false, [] {});
        } catch (const std::logic_error&) {
            ++thrown;
        }
        try {
            loop.WatchFd(0, EventLoop::kReadable, [](unsigned) {});
        } catch (const std::logic_error&) {
            ++thrown;
        }
    });
    other.join();
    EXPECT_EQ(thrown, 4);
    EXPECT_EQ(loop.TimerCount(), 0u);
    EXPECT_EQ(loop.WatchCount(), 0u);
}

TEST(PollEventLoop, ShutdownReleasesTimersAndWatchesAndRefusesNewOnes) {
    // A loop with a timer, a watch and a queued task is shut down.
    // Everything is released; new timers and watches are refused with id 0.
    ManualClock clock;
    PollEventLoop loop(clock);
    Pipe pipe;
    loop.StartTimer(10ms, true, [] {});
    loop.WatchFd(pipe.ReadEnd(), EventLoop::kReadable, [](unsigned) {});
    loop.Post([] {});
    loop.Shutdown();
    EXPECT_EQ(loop.PendingTaskCount(), 0u);
    EXPECT_EQ(loop.TimerCount(), 0u);
    EXPECT_EQ(loop.WatchCount(), 0u);
    EXPECT_EQ(loop.StartTimer(1ms, false, [] {}), 0u);
    EXPECT_EQ(loop.WatchFd(pipe.ReadEnd(), EventLoop::kReadable, [](unsigned) {}), 0u);
}

TEST(PollEventLoop, DestroyingTaskMayPostWhileBeingDropped) {
    // A queued task whose destructor posts to the same loop, dropped at Shutdown.
    // Its post is refused without deadlock (the task dies outside the lock).
    ManualClock clock;
    PollEventLoop loop(clock);
    bool accepted = true;
    struct PostsOnDestruction {
        PollEventLoop* loop;
        bool* accepted;
        ~PostsOnDestruction() {
            *accepted = loop->Post([] {});
        }
    };
    auto guard = std::make_shared<PostsOnDestruction>(PostsOnDestruction{&loop, &accepted});
    loop.Post([guard] {});
    guard.reset();
    loop.Shutdown();
    EXPECT_FALSE(accepted);
}

TEST(PollEventLoop, RealClockTimerWakesABlockedLoop) {
    // A 5 ms timer on the real clock and Run with nothing else to do.
    // poll() sleeps only until the deadline: the timer fires and quits Run.
    PollEventLoop loop;
    const auto start = std::chrono::steady_clock::now();
    bool fired = false;
    loop.StartTimer(5ms, false, [&] {
        fired = true;
        loop.Quit();
    });
    loop.Run();
    EXPECT_TRUE(fired);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 5ms);
}

TEST(PollEventLoop, ManualClockNeverSleepsForATimer) {
    // A one-hour timer on the manual clock, and ProcessEvents allowed 20 ms.
    // The timer is ignored for waiting: the call returns after its 20 ms at
    // most, having done nothing, and the timer fires when the hour is advanced.
    ManualClock clock;
    PollEventLoop loop(clock);
    int fired = 0;
    loop.StartTimer(std::chrono::hours(1), false, [&] { ++fired; });
    EXPECT_FALSE(loop.ProcessEvents(20ms));
    EXPECT_EQ(fired, 0);
    AdvanceAndProcess(clock, loop, std::chrono::hours(1));
    EXPECT_EQ(fired, 1);
}

// A clock that says it is real (so the loop treats its readings as cut to
// whole ticks) but reads what the test sets.
class SetRealClock final : public Clock {
public:
    TimePoint Now() const override { return TimePoint(Duration(m_now.load())); }
    bool IsManual() const override { return false; }
    void Set(Duration now) { m_now.store(now.count()); }

private:
    std::atomic<Duration::rep> m_now{0};
};

TEST(PollEventLoop, RealClockTimerNeverFiresBeforeItsWholeInterval) {
    // A 5 ms timer started when the real clock reads 100 ms, which may truly
    // be 100.999 ms. Expected: at a reading of 105 ms (possibly 105.0 ms, not
    // yet 5 ms later) it waits; at 106 ms it fires.
    SetRealClock clock;
    clock.Set(100ms);
    PollEventLoop loop(clock);
    int fired = 0;
    loop.StartTimer(5ms, false, [&] { ++fired; });
    clock.Set(105ms);
    loop.ProcessEvents(0ms);
    EXPECT_EQ(fired, 0);
    clock.Set(106ms);
    loop.ProcessEvents(0ms);
    EXPECT_EQ(fired, 1);
}

}  // namespace
}  // namespace kavri::test
