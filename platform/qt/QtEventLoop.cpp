#include "platform/qt/QtEventLoop.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <iostream>
#include <stdexcept>
#include <string>
#include <utility>

namespace kavri {

namespace {

void RequireLoopThread(const EventLoop& loop, const char* what) {
    if (!loop.IsLoopThread()) {
        throw std::logic_error(std::string("QtEventLoop::") + what + " called off the loop thread");
    }
}

int ToQtMilliseconds(Clock::Duration duration) {
    if (duration <= Clock::Duration::zero()) {
        return 0;
    }
    return static_cast<int>(std::min<Clock::Duration::rep>(duration.count(), INT_MAX));
}

}  // namespace

QtEventLoop::QtEventLoop() : QtEventLoop(std::make_unique<SteadyClock>(), nullptr) {}

QtEventLoop::QtEventLoop(const Clock& clock) : QtEventLoop(nullptr, &clock) {}

QtEventLoop::QtEventLoop(std::unique_ptr<SteadyClock> ownClock, const Clock* clock)
    : m_ownClock(std::move(ownClock)),
      m_clock(clock != nullptr ? *clock : *m_ownClock),
      m_loopThread(std::this_thread::get_id()) {
    if (QCoreApplication::instance() == nullptr) {
        throw std::logic_error("QtEventLoop needs a QCoreApplication");
    }
    m_context = std::make_unique<QObject>();
    m_timer = new QTimer(m_context.get());
    m_timer->setSingleShot(true);
    m_timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(m_timer, &QTimer::timeout, m_context.get(), [this] {
        RunDueTimers();
        ArmTimer();
    });
}

QtEventLoop::~QtEventLoop() {
    Shutdown();
    // Deleting the context also discards its queued calls (drains, quits,
    // notifier disposals) that Qt has not delivered yet.
    m_context.reset();
}

bool QtEventLoop::Post(Task task) {
    {
        std::lock_guard lock(m_mutex);
        if (!m_stopping.load(std::memory_order_relaxed)) {
            m_tasks.push_back(std::move(task));
            RequestDrainLocked();
            return true;
        }
    }
    // Refused: destroyed here, outside the lock (a waiter may be tied to it).
    task = nullptr;
    return false;
}

void QtEventLoop::RequestDrainLocked() {
    // One queued call at a time drains the queue; posting it under our lock
    // keeps it from racing with Shutdown and the destructor.
    if (!m_drainPending) {
        m_drainPending = true;
        QMetaObject::invokeMethod(
            m_context.get(), [this] { Drain(); }, Qt::QueuedConnection);
    }
}

void QtEventLoop::Drain() {
    std::size_t count = 0;
    {
        std::lock_guard lock(m_mutex);
        m_drainPending = false;
        count = m_tasks.size();
    }
    // Only what was queued when the drain began; later posts have requested
    // their own drain, so Qt's other events get their turn in between.
    try {
        for (std::size_t i = 0; i < count; ++i) {
            Task task;
            {
                std::lock_guard lock(m_mutex);
                if (m_tasks.empty()) {
                    break;
                }
                task = std::move(m_tasks.front());
                m_tasks.pop_front();
            }
            ++m_handled;
            if (task) {
                task();
            }
        }
    } catch (...) {
        Fail(std::current_exception());
        std::lock_guard lock(m_mutex);
        if (!m_tasks.empty() && !m_stopping.load()) {
            RequestDrainLocked();
        }
    }
}

EventLoop::TimerId QtEventLoop::StartTimer(Clock::Duration interval, bool repeat, Task task) {
    RequireLoopThread(*this, "StartTimer");
    if (m_stopping.load()) {
        return 0;
    }
    const TimerId id = m_timers.Start(m_clock.TimerStart(), interval, repeat, std::move(task));
    ArmTimer();
    return id;
}

void QtEventLoop::StopTimer(TimerId id) {
    if (m_timers.Stop(id)) {
        ArmTimer();
    }
}

void QtEventLoop::RunDueTimers() {
    try {
        m_handled += m_timers.RunDue(m_clock.Now());
    } catch (...) {
        ++m_handled;
        Fail(std::current_exception());
    }
}

void QtEventLoop::ArmTimer() {
    const auto deadline = m_timers.NextDeadline();
    if (m_stopping.load() || !deadline) {
        m_timer->stop();
        return;
    }
    const Clock::TimePoint now = m_clock.Now();
    if (*deadline <= now) {
        m_timer->start(0);
    } else if (!m_clock.IsManual()) {
        m_timer->start(ToQtMilliseconds(*deadline - now));
    } else {
        // A manual clock moves only when the test says so; ProcessEvents
        // looks at the timers after every advance.
        m_timer->stop();
    }
}

EventLoop::WatchId QtEventLoop::WatchFd(int fd, unsigned events, FdCallback callback) {
    RequireLoopThread(*this, "WatchFd");
    if (m_stopping.load() || fd < 0) {
        return 0;
    }
    const WatchId id = m_nextWatchId++;
    Watch watch;
    watch.callback = std::make_shared<FdCallback>(std::move(callback));
    if ((events & kReadable) != 0) {
        watch.read = new QSocketNotifier(fd, QSocketNotifier::Read, m_context.get());
        QObject::connect(watch.read, &QSocketNotifier::activated, m_context.get(),
                         [this, id] { OnFdActivated(id, kReadable); });
    }
    if ((events & kWritable) != 0) {
        watch.write = new QSocketNotifier(fd, QSocketNotifier::Write, m_context.get());
        QObject::connect(watch.write, &QSocketNotifier::activated, m_context.get(),
                         [this, id] { OnFdActivated(id, kWritable); });
    }
    m_watches.emplace(id, std::move(watch));
    return id;
}

void QtEventLoop::UnwatchFd(WatchId id) {
    const auto it = m_watches.find(id);
    if (it == m_watches.end()) {
        return;
    }
    DisposeNotifier(it->second.read);
    DisposeNotifier(it->second.write);
    m_watches.erase(it);
}

void QtEventLoop::DisposeNotifier(QSocketNotifier* notifier) {
    if (notifier == nullptr) {
        return;
    }
    // The notifier may be the one whose signal is being delivered right now:
    // silence it at once and delete it from a later queued call.
    notifier->setEnabled(false);
    QObject::disconnect(notifier, nullptr, nullptr, nullptr);
    QMetaObject::invokeMethod(
        m_context.get(), [notifier] { delete notifier; }, Qt::QueuedConnection);
}

void QtEventLoop::OnFdActivated(WatchId id, unsigned events) {
    const auto it = m_watches.find(id);
    if (it == m_watches.end()) {
        return;
    }
    const std::shared_ptr<FdCallback> callback = it->second.callback;
    ++m_handled;
    try {
        (*callback)(events);
    } catch (...) {
        Fail(std::current_exception());
    }
}

void QtEventLoop::Run() {
    RequireLoopThread(*this, "Run");
    while (!m_stopping.load()) {
        if (m_quitRequested.exchange(false)) {
            return;
        }
        QEventLoop loop;
        m_activeLoops.push_back(&loop);
        loop.exec();
        m_activeLoops.pop_back();
        // Left for an error, a Quit or Shutdown; a nested ProcessEvents that
        // already delivered the error may have left it spuriously, and then the
        // loop simply runs again.
        RethrowPending();
    }
}

void QtEventLoop::Quit() {
    m_quitRequested.store(true);
    QMetaObject::invokeMethod(
        m_context.get(), [this] { CheckQuit(); }, Qt::QueuedConnection);
}

void QtEventLoop::CheckQuit() {
    // Run consumes the request; when no Run is active it stays for the next one.
    if (!m_activeLoops.empty() && m_quitRequested.load()) {
        m_activeLoops.back()->quit();
    }
}

void QtEventLoop::Fail(std::exception_ptr error) {
    if (!m_pendingError) {
        m_pendingError = std::move(error);
    } else {
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            std::cerr << "QtEventLoop: further exception while one is pending: " << e.what()
                      << '\n';
        } catch (...) {
            std::cerr << "QtEventLoop: further unknown exception while one is pending\n";
        }
    }
    if (!m_activeLoops.empty()) {
        m_activeLoops.back()->quit();
    }
}

void QtEventLoop::RethrowPending() {
    if (m_pendingError) {
        std::rethrow_exception(std::exchange(m_pendingError, nullptr));
    }
}

bool QtEventLoop::ProcessEvents(Clock::Duration maxWait) {
    RequireLoopThread(*this, "ProcessEvents");
    if (m_stopping.load()) {
        return false;
    }
    const std::uint64_t before = m_handled;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    const auto deadline = m_timers.NextDeadline();
    const bool timerDue = deadline && *deadline <= m_clock.Now();
    if (m_handled == before && !timerDue && maxWait > Clock::Duration::zero() &&
        !m_stopping.load()) {
        // Nothing of ours was ready: block until some event arrives (a post,
        // a notifier, our timer) or maxWait passes, then handle it.
        QTimer waker;
        waker.setSingleShot(true);
        waker.setTimerType(Qt::PreciseTimer);
        if (maxWait.count() < INT_MAX) {
            waker.start(ToQtMilliseconds(maxWait));
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    if (!m_stopping.load()) {
        // The QTimer cannot see a manual clock move, and may lag the real one
        // by a rounding; due timers run here either way.
        RunDueTimers();
        ArmTimer();
    }
    RethrowPending();
    return m_handled != before;
}

void QtEventLoop::Shutdown() {
    std::deque<Task> doomed;
    {
        std::lock_guard lock(m_mutex);
        m_stopping.store(true);
        doomed.swap(m_tasks);
    }
    doomed.clear();
    m_timers.Clear();
    if (m_timer != nullptr) {
        m_timer->stop();
    }
    std::map<WatchId, Watch> watches;
    watches.swap(m_watches);
    for (auto& [id, watch] : watches) {
        DisposeNotifier(watch.read);
        DisposeNotifier(watch.write);
    }
    for (QEventLoop* loop : m_activeLoops) {
        loop->quit();
    }
}

bool QtEventLoop::IsStopping() const {
    return m_stopping.load();
}

bool QtEventLoop::IsLoopThread() const {
    return std::this_thread::get_id() == m_loopThread;
}

}  // namespace kavri
