#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "platform/EventLoop.h"
#include "platform/TimerQueue.h"

class QEventLoop;
class QObject;
class QSocketNotifier;
class QTimer;

namespace kavri {

// The EventLoop of the GUI, run on Qt's event loop, so that library events and
// the windows share the main thread. Needs a QCoreApplication (or a subclass)
// before it is constructed; the constructor throws std::logic_error otherwise.
//
// The loop thread is the thread that constructed the loop (the thread its Qt
// objects belong to: the main thread, or a QThread); it must also destroy the
// loop. Post and Quit may be
// called from any thread: tasks wait in this loop's own FIFO queue, and one
// queued Qt call drains it, so Shutdown can destroy what is still queued.
// Timers keep their own deadlines against the Clock and are driven by one
// single-shot QTimer; with a ManualClock they fire when ProcessEvents runs
// after the test advanced the clock (or at once when already due).
//
// Fd watches use QSocketNotifier: Qt reports a hang-up or an error as
// readable (or writable), so kError is not delivered on its own here; a watch
// that asks only for kError is never called.
//
// Exceptions must not cross Qt's event dispatch, so a throwing task or callback
// is caught; the exception is rethrown from the innermost Run or ProcessEvents
// of this loop (Run leaves its Qt loop for it). If another one is thrown
// before that, the first is kept and the later ones are written to stderr.
class QtEventLoop final : public EventLoop {
public:
    QtEventLoop();
    explicit QtEventLoop(const Clock& clock);
    ~QtEventLoop() override;

    QtEventLoop(const QtEventLoop&) = delete;
    QtEventLoop& operator=(const QtEventLoop&) = delete;

    bool Post(Task task) override;
    TimerId StartTimer(Clock::Duration interval, bool repeat, Task task) override;
    void StopTimer(TimerId id) override;
    WatchId WatchFd(int fd, unsigned events, FdCallback callback) override;
    void UnwatchFd(WatchId id) override;
    // Runs a QEventLoop until Quit (called before or during Run) or Shutdown.
    void Run() override;
    void Quit() override;
    bool ProcessEvents(Clock::Duration maxWait) override;
    void Shutdown() override;
    bool IsStopping() const override;
    bool IsLoopThread() const override;
    const Clock& GetClock() const override { return m_clock; }

private:
    struct Watch {
        std::shared_ptr<FdCallback> callback;
        QSocketNotifier* read = nullptr;
        QSocketNotifier* write = nullptr;
    };

    QtEventLoop(std::unique_ptr<SteadyClock> ownClock, const Clock* clock);

    void RequestDrainLocked();
    void Drain();
    void RunDueTimers();
    void ArmTimer();
    void OnFdActivated(WatchId id, unsigned events);
    void CheckQuit();
    void Fail(std::exception_ptr error);
    void RethrowPending();
    void DisposeNotifier(QSocketNotifier* notifier);

    std::unique_ptr<SteadyClock> m_ownClock;
    const Clock& m_clock;
    const std::thread::id m_loopThread;
    std::unique_ptr<QObject> m_context;  // owns m_timer and the notifiers
    QTimer* m_timer = nullptr;

    mutable std::mutex m_mutex;
    std::deque<Task> m_tasks;     // guarded by m_mutex
    bool m_drainPending = false;  // guarded by m_mutex
    std::atomic<bool> m_stopping{false};
    std::atomic<bool> m_quitRequested{false};

    // Loop thread only from here on.
    TimerQueue m_timers;
    std::map<WatchId, Watch> m_watches;
    WatchId m_nextWatchId = 1;
    std::vector<QEventLoop*> m_activeLoops;
    std::exception_ptr m_pendingError;
    std::uint64_t m_handled = 0;
};

}  // namespace kavri
