#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

#include "platform/Clock.h"

namespace kavri {

// The main thread's event loop. Everything that decides runs on the loop
// thread; other threads only Post. Two implementations: PollEventLoop (headless
// programs and tests) and QtEventLoop (the GUI), both driven by a Clock so that
// tests move time by hand.
//
// Thread rules: the loop thread is the thread that constructed the loop. Post,
// Quit, IsLoopThread and IsStopping may be called from any thread; everything
// else only on the loop thread (Run, ProcessEvents, StartTimer and WatchFd
// throw std::logic_error elsewhere).
//
// Tasks and callbacks should not throw (message windows catch their handlers'
// exceptions); one that does makes Run or ProcessEvents rethrow it, and what
// was not handled yet is still handled afterwards.
class EventLoop {
public:
    using Task = std::function<void()>;
    using TimerId = std::uint64_t;
    using WatchId = std::uint64_t;

    enum FdEvent : unsigned { kReadable = 1u, kWritable = 2u, kError = 4u };
    using FdCallback = std::function<void(unsigned events)>;

    virtual ~EventLoop() = default;

    // Queues a task to run on the loop thread, after every task posted before it.
    // Returns false, and destroys the task at once without running it, when the
    // loop is shutting down; tasks still queued at shut-down are destroyed
    // unrun too, so a waiter can tie its release to a task's destruction.
    virtual bool Post(Task task) = 0;

    // Timers fire on the loop thread once their interval has passed on the
    // loop's clock. A repeating timer keeps firing until stopped.
    virtual TimerId StartTimer(Clock::Duration interval, bool repeat, Task task) = 0;
    virtual void StopTimer(TimerId id) = 0;

    // Calls back on the loop thread when fd becomes readable or writable (as
    // asked in events) or fails.
    virtual WatchId WatchFd(int fd, unsigned events, FdCallback callback) = 0;
    virtual void UnwatchFd(WatchId id) = 0;

    // Runs until Quit or Shutdown.
    virtual void Run() = 0;
    // Makes Run return; callable from any thread. A Quit made while no Run is
    // active makes the next Run return at once; nested Runs end innermost first.
    virtual void Quit() = 0;
    // Handles what is ready (posted tasks, due timers, ready fds), waiting at
    // most maxWait for something to arrive (never waiting on a manual clock for
    // timers). Returns true if anything was handled. May be called from inside a
    // task, as modal loops and message pumps do.
    virtual bool ProcessEvents(Clock::Duration maxWait) = 0;

    // Stops accepting posts and destroys every queued task unrun. After this
    // the loop cannot be used again. Called by the destructor at the latest.
    virtual void Shutdown() = 0;
    virtual bool IsStopping() const = 0;

    virtual bool IsLoopThread() const = 0;
    virtual const Clock& GetClock() const = 0;
};

}  // namespace kavri
