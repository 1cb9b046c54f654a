#pragma once

// The behaviour every EventLoop implementation owes its users, written once
// and instantiated per implementation with a factory type:
//
//   struct MyFactory {
//       static std::unique_ptr<kavri::EventLoop> Make(const kavri::Clock& clock);
//   };
//   INSTANTIATE_TYPED_TEST_SUITE_P(My, EventLoopBehaviour, MyFactory);

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "platform/Clock.h"
#include "platform/EventLoop.h"
#include "platform/EventLoopTestSupport.h"

namespace kavri::test {

using namespace std::chrono_literals;

template <typename Factory>
class EventLoopBehaviour : public ::testing::Test {
protected:
    ManualClock m_clock;
    std::unique_ptr<EventLoop> m_loop = Factory::Make(m_clock);
};

// A task that counts its runs and its destruction; the copies a std::function
// may make share one probe, so only the last owner's end counts.
inline EventLoop::Task TrackedTask(std::shared_ptr<std::atomic<int>> destroyed,
                                   std::shared_ptr<std::atomic<int>> ran) {
    struct Probe {
        std::shared_ptr<std::atomic<int>> destroyed;
        ~Probe() { ++*destroyed; }
    };
    auto probe = std::make_shared<Probe>();
    probe->destroyed = std::move(destroyed);
    return [probe, ran] { ++*ran; };
}

class Pipe {
public:
    Pipe() {
        if (::pipe2(m_fds, O_CLOEXEC | O_NONBLOCK) != 0) {
            throw std::runtime_error("pipe2 failed");
        }
    }
    ~Pipe() {
        CloseRead();
        CloseWrite();
    }
    int ReadEnd() const { return m_fds[0]; }
    int WriteEnd() const { return m_fds[1]; }
    void WriteByte() const { ASSERT_EQ(::write(m_fds[1], "x", 1), 1); }
    long ReadAll() const {
        char buffer[64];
        long total = 0;
        for (;;) {
            const auto got = ::read(m_fds[0], buffer, sizeof buffer);
            if (got <= 0) {
                return total;
            }
            total += got;
        }
    }
    void CloseRead() { Close(m_fds[0]); }
    void CloseWrite() { Close(m_fds[1]); }

private:
    static void Close(int& fd) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }
    int m_fds[2] = {-1, -1};
};

TYPED_TEST_SUITE_P(EventLoopBehaviour);

TYPED_TEST_P(EventLoopBehaviour, PostedTasksRunInPostingOrder) {
    // Tasks posted, one of which posts more while running.
    // All run once, in posting order; the one posted from inside comes last.
    EventLoop& loop = *this->m_loop;
    std::vector<int> order;
    for (int i = 1; i <= 5; ++i) {
        ASSERT_TRUE(loop.Post([&order, &loop, i] {
            order.push_back(i);
            if (i == 2) {
                loop.Post([&order] { order.push_back(6); });
            }
        }));
    }
    EXPECT_TRUE(order.empty()) << "posting must not run anything";
    RunUntilIdle(loop);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4, 5, 6}));
    EXPECT_FALSE(loop.ProcessEvents(0ms)) << "nothing left once idle";
}

TYPED_TEST_P(EventLoopBehaviour, PostsFromManyThreadsAllArriveInEachThreadsOrder) {
    // Four threads post 2000 tasks each while the loop runs.
    // Every task runs once, each thread's tasks in that thread's order.
    EventLoop& loop = *this->m_loop;
    constexpr int kThreads = 4;
    constexpr int kPerThread = 2000;
    std::vector<std::vector<int>> seen(kThreads);
    int total = 0;
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t) {
        posters.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) {
                loop.Post([&, t, i] {
                    seen[t].push_back(i);
                    if (++total == kThreads * kPerThread) {
                        loop.Quit();
                    }
                });
            }
        });
    }
    loop.Run();
    for (auto& poster : posters) {
        poster.join();
    }
    ASSERT_EQ(total, kThreads * kPerThread);
    for (int t = 0; t < kThreads; ++t) {
        ASSERT_EQ(seen[t].size(), static_cast<std::size_t>(kPerThread));
        for (int i = 0; i < kPerThread; ++i) {
            ASSERT_EQ(seen[t][i], i) << "thread " << t;
        }
    }
}

TYPED_TEST_P(EventLoopBehaviour, OneShotTimerFiresOnceWhenDue) {
    // A 100 ms one-shot timer on the manual clock.
    // Nothing at 99 ms; one firing at 100 ms; never again.
    EventLoop& loop = *this->m_loop;
    int fired = 0;
    loop.StartTimer(100ms, false, [&] { ++fired; });
    AdvanceAndProcess(this->m_clock, loop, 99ms);
    EXPECT_EQ(fired, 0);
    AdvanceAndProcess(this->m_clock, loop, 1ms);
    EXPECT_EQ(fired, 1);
    AdvanceAndProcess(this->m_clock, loop, 1000ms);
    EXPECT_EQ(fired, 1);
}

TYPED_TEST_P(EventLoopBehaviour, RepeatingTimerFiresOncePerIntervalAndKeepsItsPhase) {
    // A 100 ms repeating timer, advanced interval by interval, then by a jump.
    // One firing per interval; a jump over several intervals fires once and the
    // next firing stays on the 100 ms grid.
    EventLoop& loop = *this->m_loop;
    int fired = 0;
    const auto id = loop.StartTimer(100ms, true, [&] { ++fired; });
    for (int i = 1; i <= 5; ++i) {
        AdvanceAndProcess(this->m_clock, loop, 50ms);
        EXPECT_EQ(fired, i - 1);
        AdvanceAndProcess(this->m_clock, loop, 50ms);
        EXPECT_EQ(fired, i);
    }
    AdvanceAndProcess(this->m_clock, loop, 350ms);  // 500 -> 850
    EXPECT_EQ(fired, 6);
    AdvanceAndProcess(this->m_clock, loop, 49ms);
    EXPECT_EQ(fired, 6);
    AdvanceAndProcess(this->m_clock, loop, 1ms);  // 900
    EXPECT_EQ(fired, 7);
    loop.StopTimer(id);
    AdvanceAndProcess(this->m_clock, loop, 1000ms);
    EXPECT_EQ(fired, 7);
}

TYPED_TEST_P(EventLoopBehaviour, DueTimersFireByDeadlineThenByStartOrder) {
    // Timers with equal and different deadlines all due in one advance.
    // Earlier deadline first; equal deadlines in the order they were started.
    EventLoop& loop = *this->m_loop;
    std::string order;
    loop.StartTimer(50ms, false, [&] { order += 'A'; });
    loop.StartTimer(50ms, false, [&] { order += 'B'; });
    loop.StartTimer(30ms, false, [&] { order += 'C'; });
    loop.StartTimer(50ms, false, [&] { order += 'D'; });
    AdvanceAndProcess(this->m_clock, loop, 50ms);
    EXPECT_EQ(order, "CABD");
}

TYPED_TEST_P(EventLoopBehaviour, TimerCallbacksMayStopTimersIncludingThemselves) {
    // A callback stops another timer due in the same pass; a repeating timer
    // stops itself on its third firing.
    // The stopped timer never fires; the self-stopped one fires exactly three times.
    EventLoop& loop = *this->m_loop;
    EventLoop::TimerId victim = 0;
    int victimFired = 0;
    loop.StartTimer(10ms, false, [&] { loop.StopTimer(victim); });
    victim = loop.StartTimer(10ms, false, [&] { ++victimFired; });
    int selfFired = 0;
    EventLoop::TimerId self = 0;
    self = loop.StartTimer(10ms, true, [&] {
        if (++selfFired == 3) {
            loop.StopTimer(self);
        }
    });
    for (int i = 0; i < 6; ++i) {
        AdvanceAndProcess(this->m_clock, loop, 10ms);
    }
    EXPECT_EQ(victimFired, 0);
    EXPECT_EQ(selfFired, 3);
}

TYPED_TEST_P(EventLoopBehaviour, TimerStartedInsideCallbackWaitsForItsInterval) {
    // A callback starts a 20 ms timer and posts a task.
    // The task runs at once; the new timer fires 20 ms after its start, not before.
    EventLoop& loop = *this->m_loop;
    int inner = 0;
    int posted = 0;
    loop.StartTimer(10ms, false, [&] {
        loop.StartTimer(20ms, false, [&] { ++inner; });
        loop.Post([&] { ++posted; });
    });
    AdvanceAndProcess(this->m_clock, loop, 10ms);
    EXPECT_EQ(posted, 1);
    EXPECT_EQ(inner, 0);
    AdvanceAndProcess(this->m_clock, loop, 19ms);
    EXPECT_EQ(inner, 0);
    AdvanceAndProcess(this->m_clock, loop, 1ms);
    EXPECT_EQ(inner, 1);
}

TYPED_TEST_P(EventLoopBehaviour, DueTimerFiresInsideRun) {
    // A zero-interval timer that quits the loop, with a manual clock.
    // Run fires it without anyone advancing the clock, and returns.
    EventLoop& loop = *this->m_loop;
    int fired = 0;
    loop.StartTimer(0ms, false, [&] {
        ++fired;
        loop.Quit();
    });
    loop.Run();
    EXPECT_EQ(fired, 1);
}

TYPED_TEST_P(EventLoopBehaviour, FdWatchReportsReadablePipeUntilUnwatched) {
    // A watched pipe: empty, then with a byte, then unwatched with a byte.
    // The callback runs only while data waits and the watch exists.
    EventLoop& loop = *this->m_loop;
    Pipe pipe;
    int calls = 0;
    unsigned lastEvents = 0;
    const auto id = loop.WatchFd(pipe.ReadEnd(), EventLoop::kReadable, [&](unsigned events) {
        ++calls;
        lastEvents = events;
        pipe.ReadAll();
    });
    ASSERT_NE(id, 0u);
    RunUntilIdle(loop);
    EXPECT_EQ(calls, 0);
    pipe.WriteByte();
    ASSERT_TRUE(ProcessUntil(loop, [&] { return calls > 0; }));
    EXPECT_EQ(calls, 1);
    EXPECT_NE(lastEvents & EventLoop::kReadable, 0u);
    loop.UnwatchFd(id);
    pipe.WriteByte();
    RunUntilIdle(loop);
    loop.ProcessEvents(20ms);
    EXPECT_EQ(calls, 1);
}

TYPED_TEST_P(EventLoopBehaviour, FdWatchSeesHangUpAndMayUnwatchItself) {
    // The write end of a watched pipe is closed; the callback unwatches itself.
    // The callback learns of it (readable or error) and reading gives end of file.
    EventLoop& loop = *this->m_loop;
    Pipe pipe;
    int calls = 0;
    long readAtEnd = -1;
    EventLoop::WatchId id = 0;
    id = loop.WatchFd(pipe.ReadEnd(), EventLoop::kReadable, [&](unsigned events) {
        ++calls;
        EXPECT_NE(events & (EventLoop::kReadable | EventLoop::kError), 0u);
        char c = 0;
        readAtEnd = ::read(pipe.ReadEnd(), &c, 1);
        loop.UnwatchFd(id);
    });
    pipe.CloseWrite();
    ASSERT_TRUE(ProcessUntil(loop, [&] { return calls > 0; }));
    RunUntilIdle(loop);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(readAtEnd, 0);
}

TYPED_TEST_P(EventLoopBehaviour, WritableFdIsReported) {
    // An empty pipe's write end, watched for writing.
    // The callback reports it writable.
    EventLoop& loop = *this->m_loop;
    Pipe pipe;
    unsigned seen = 0;
    EventLoop::WatchId id = 0;
    id = loop.WatchFd(pipe.WriteEnd(), EventLoop::kWritable, [&](unsigned events) {
        seen |= events;
        loop.UnwatchFd(id);
    });
    ASSERT_TRUE(ProcessUntil(loop, [&] { return seen != 0; }));
    EXPECT_NE(seen & EventLoop::kWritable, 0u);
}

TYPED_TEST_P(EventLoopBehaviour, QuitFromAnotherThreadEndsRun) {
    // Run is blocked with nothing to do; another thread calls Quit.
    // Run returns; a later Run returns only after its own Quit.
    EventLoop& loop = *this->m_loop;
    std::mutex mutex;
    std::condition_variable cv;
    bool running = false;
    loop.Post([&] {
        std::lock_guard lock(mutex);
        running = true;
        cv.notify_all();
    });
    std::thread quitter([&] {
        std::unique_lock lock(mutex);
        cv.wait(lock, [&] { return running; });
        lock.unlock();
        loop.Quit();
    });
    loop.Run();
    quitter.join();
    EXPECT_TRUE(running);

    // A Quit that arrives before Run starts is not lost.
    std::thread early([&] { loop.Quit(); });
    early.join();
    loop.Run();
    EXPECT_FALSE(loop.IsStopping()) << "Quit is not Shutdown";
}

TYPED_TEST_P(EventLoopBehaviour, ShutdownDestroysQueuedTasksUnrunAndRefusesPosts) {
    // Three tasks queued, then Shutdown, then another post from another thread.
    // None runs; all are destroyed; the later post is refused and its task destroyed.
    EventLoop& loop = *this->m_loop;
    auto destroyed = std::make_shared<std::atomic<int>>(0);
    auto ran = std::make_shared<std::atomic<int>>(0);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(loop.Post(TrackedTask(destroyed, ran)));
    }
    int timerFired = 0;
    loop.StartTimer(0ms, false, [&] { ++timerFired; });
    EXPECT_EQ(destroyed->load(), 0);
    loop.Shutdown();
    EXPECT_TRUE(loop.IsStopping());
    EXPECT_EQ(destroyed->load(), 3);
    bool accepted = true;
    std::thread late([&] { accepted = loop.Post(TrackedTask(destroyed, ran)); });
    late.join();
    EXPECT_FALSE(accepted);
    EXPECT_EQ(destroyed->load(), 4);
    EXPECT_FALSE(loop.ProcessEvents(0ms));
    loop.Run();  // returns at once on a loop that was shut down
    EXPECT_EQ(ran->load(), 0);
    EXPECT_EQ(timerFired, 0);
}

TYPED_TEST_P(EventLoopBehaviour, ShutdownFromInsideATaskDropsTheRest) {
    // The first of three queued tasks shuts the loop down.
    // The other two never run and are destroyed.
    EventLoop& loop = *this->m_loop;
    auto destroyed = std::make_shared<std::atomic<int>>(0);
    auto ran = std::make_shared<std::atomic<int>>(0);
    loop.Post([&loop] { loop.Shutdown(); });
    loop.Post(TrackedTask(destroyed, ran));
    loop.Post(TrackedTask(destroyed, ran));
    RunUntilIdle(loop);
    EXPECT_EQ(ran->load(), 0);
    EXPECT_EQ(destroyed->load(), 2);
}

TYPED_TEST_P(EventLoopBehaviour, IsLoopThreadOnlyOnTheConstructingThread) {
    // Asked on the test thread, which built the loop, and on another thread.
    // True on the first only.
    EventLoop& loop = *this->m_loop;
    EXPECT_TRUE(loop.IsLoopThread());
    bool elsewhere = true;
    std::thread other([&] { elsewhere = loop.IsLoopThread(); });
    other.join();
    EXPECT_FALSE(elsewhere);
}

TYPED_TEST_P(EventLoopBehaviour, ThrowingTaskReachesTheCallerAndTheLoopGoesOn) {
    // A task throws; a task posted after it and a due timer exist too.
    // ProcessEvents passes the exception on; the rest still runs afterwards.
    EventLoop& loop = *this->m_loop;
    int later = 0;
    loop.Post([] { throw std::runtime_error("task failed"); });
    loop.Post([&] { ++later; });
    EXPECT_THROW(
        {
            for (int i = 0; i < 10; ++i) {
                loop.ProcessEvents(0ms);
            }
        },
        std::runtime_error);
    RunUntilIdle(loop);
    EXPECT_EQ(later, 1);
    int fired = 0;
    loop.StartTimer(5ms, false, [&] { ++fired; });
    AdvanceAndProcess(this->m_clock, loop, 5ms);
    EXPECT_EQ(fired, 1);
}

REGISTER_TYPED_TEST_SUITE_P(
    EventLoopBehaviour, PostedTasksRunInPostingOrder,
    PostsFromManyThreadsAllArriveInEachThreadsOrder, OneShotTimerFiresOnceWhenDue,
    RepeatingTimerFiresOncePerIntervalAndKeepsItsPhase, DueTimersFireByDeadlineThenByStartOrder,
    TimerCallbacksMayStopTimersIncludingThemselves, TimerStartedInsideCallbackWaitsForItsInterval,
    DueTimerFiresInsideRun, FdWatchReportsReadablePipeUntilUnwatched,
    FdWatchSeesHangUpAndMayUnwatchItself, WritableFdIsReported, QuitFromAnotherThreadEndsRun,
    ShutdownDestroysQueuedTasksUnrunAndRefusesPosts, ShutdownFromInsideATaskDropsTheRest,
    IsLoopThreadOnlyOnTheConstructingThread, ThrowingTaskReachesTheCallerAndTheLoopGoesOn);

}  // namespace kavri::test
