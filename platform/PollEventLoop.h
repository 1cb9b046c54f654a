#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/Clock.h"
#include "platform/EventLoop.h"
#include "platform/TimerQueue.h"

namespace kavri {

// The event loop of headless programs and of tests, built on poll(2) with an
// eventfd that other threads use to wake it.
//
// The loop thread is the thread that constructed the loop; IsLoopThread answers
// for it even before Run, so components created beside the loop may check their
// thread at once. Run, ProcessEvents, timers, fd watches and Shutdown belong to
// that thread; Post, Quit, IsLoopThread and IsStopping may be called from any.
//
// One pass of ProcessEvents runs, in this order: the tasks that were queued
// when the pass began (FIFO), the timers due on the clock, the callbacks of
// ready fds. With a ManualClock the loop never sleeps waiting for a timer; a
// test advances the clock and calls ProcessEvents(0ms).
//
// An exception thrown by a task or callback propagates out of ProcessEvents or
// Run; what was not yet handled stays queued for the next pass. The message
// windows catch their handlers' exceptions, so only a faulty direct task gets
// this far. The constructor throws std::system_error when no eventfd can be
// made. The loop does not own the clock it is given.
class PollEventLoop final : public EventLoop {
public:
    PollEventLoop();
    explicit PollEventLoop(const Clock& clock);
    ~PollEventLoop() override;

    PollEventLoop(const PollEventLoop&) = delete;
    PollEventLoop& operator=(const PollEventLoop&) = delete;

    bool Post(Task task) override;
    TimerId StartTimer(Clock::Duration interval, bool repeat, Task task) override;
    void StopTimer(TimerId id) override;
    // POLLHUP is reported as kError, together with kReadable when reading was
    // asked for, so that a reader meets the end of the stream by reading. A
    // callback that gets kError should unwatch its fd, or it is called again.
    WatchId WatchFd(int fd, unsigned events, FdCallback callback) override;
    void UnwatchFd(WatchId id) override;
    // Returns when Quit was called (before or during Run) or the loop shut
    // down. A Quit made while Run is not running makes the next Run return at
    // once.
    void Run() override;
    void Quit() override;
    bool ProcessEvents(Clock::Duration maxWait) override;
    void Shutdown() override;
    bool IsStopping() const override;
    bool IsLoopThread() const override;
    const Clock& GetClock() const override { return m_clock; }

    std::size_t PendingTaskCount() const;
    std::size_t TimerCount() const { return m_timers.Size(); }
    std::size_t WatchCount() const { return m_watches.size(); }

private:
    struct Watch {
        int fd = -1;
        unsigned events = 0;
        std::shared_ptr<FdCallback> callback;
    };

    PollEventLoop(std::unique_ptr<SteadyClock> ownClock, const Clock* clock);

    void Wake();
    void DrainWakeFd();
    int PollTimeout(Clock::Duration maxWait) const;
    bool RunPostedTasks();

    std::unique_ptr<SteadyClock> m_ownClock;
    const Clock& m_clock;
    const std::thread::id m_loopThread;
    int m_wakeFd = -1;

    mutable std::mutex m_mutex;
    std::deque<Task> m_tasks;  // guarded by m_mutex
    std::atomic<bool> m_stopping{false};
    std::atomic<bool> m_quitRequested{false};

    TimerQueue m_timers;
    std::map<WatchId, Watch> m_watches;
    WatchId m_nextWatchId = 1;
};

}  // namespace kavri
