#include "platform/PollEventLoop.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace kavri {

namespace {

void RequireLoopThread(const EventLoop& loop, const char* what) {
    if (!loop.IsLoopThread()) {
        throw std::logic_error(std::string("PollEventLoop::") + what +
                               " called off the loop thread");
    }
}

}  // namespace

PollEventLoop::PollEventLoop() : PollEventLoop(std::make_unique<SteadyClock>(), nullptr) {}

PollEventLoop::PollEventLoop(const Clock& clock) : PollEventLoop(nullptr, &clock) {}

PollEventLoop::PollEventLoop(std::unique_ptr<SteadyClock> ownClock, const Clock* clock)
    : m_ownClock(std::move(ownClock)),
      m_clock(clock != nullptr ? *clock : *m_ownClock),
      m_loopThread(std::this_thread::get_id()) {
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_wakeFd < 0) {
        throw std::system_error(errno, std::generic_category(), "eventfd");
    }
}

PollEventLoop::~PollEventLoop() {
    Shutdown();
    ::close(m_wakeFd);
}

bool PollEventLoop::Post(Task task) {
    {
        std::lock_guard lock(m_mutex);
        if (!m_stopping.load(std::memory_order_relaxed)) {
            // Only the first task of an empty queue wakes the loop; the loop
            // looks at the queue before it sleeps, so none is missed. Waking
            // under the lock keeps the eventfd open until the last poster that
            // got in has written to it, even if Shutdown and the destructor follow.
            // A post from the loop thread itself needs no wake: that thread
            // is not asleep, and looks at the queue before it sleeps.
            const bool wasEmpty = m_tasks.empty();
            m_tasks.push_back(std::move(task));
            if (wasEmpty && !IsLoopThread()) {
                Wake();
            }
            return true;
        }
    }
    // Refused: the task dies here, outside the lock, so that its destructor may
    // post (and be refused) or release a waiter without deadlock.
    task = nullptr;
    return false;
}

EventLoop::TimerId PollEventLoop::StartTimer(Clock::Duration interval, bool repeat, Task task) {
    RequireLoopThread(*this, "StartTimer");
    if (m_stopping.load()) {
        return 0;
    }
    return m_timers.Start(m_clock.TimerStart(), interval, repeat, std::move(task));
}

void PollEventLoop::StopTimer(TimerId id) {
    m_timers.Stop(id);
}

EventLoop::WatchId PollEventLoop::WatchFd(int fd, unsigned events, FdCallback callback) {
    RequireLoopThread(*this, "WatchFd");
    if (m_stopping.load() || fd < 0) {
        return 0;
    }
    const WatchId id = m_nextWatchId++;
    m_watches.emplace(id, Watch{fd, events, std::make_shared<FdCallback>(std::move(callback))});
    return id;
}

void PollEventLoop::UnwatchFd(WatchId id) {
    // A callback being run holds its own reference, so a watch may remove itself.
    m_watches.erase(id);
}

void PollEventLoop::Run() {
    RequireLoopThread(*this, "Run");
    while (!m_stopping.load()) {
        if (m_quitRequested.exchange(false)) {
            return;
        }
        ProcessEvents(Clock::Duration::max());
    }
}

void PollEventLoop::Quit() {
    m_quitRequested.store(true);
    Wake();
}

void PollEventLoop::Wake() {
    const std::uint64_t one = 1;
    // EAGAIN means the counter is saturated: the loop is awake anyway.
    [[maybe_unused]] const auto written = ::write(m_wakeFd, &one, sizeof one);
}

void PollEventLoop::DrainWakeFd() {
    std::uint64_t count = 0;
    [[maybe_unused]] const auto got = ::read(m_wakeFd, &count, sizeof count);
}

int PollEventLoop::PollTimeout(Clock::Duration maxWait) const {
    {
        std::lock_guard lock(m_mutex);
        if (!m_tasks.empty()) {
            return 0;
        }
    }
    if (m_quitRequested.load()) {
        return 0;
    }
    Clock::Duration wait = maxWait;
    if (const auto deadline = m_timers.NextDeadline()) {
        const Clock::TimePoint now = m_clock.Now();
        if (*deadline <= now) {
            return 0;
        }
        // A manual clock moves only when the test says so: waiting for it
        // would wait for ever.
        if (!m_clock.IsManual()) {
            wait = std::min(wait, *deadline - now);
        }
    }
    if (wait <= Clock::Duration::zero()) {
        return 0;
    }
    if (wait.count() > INT_MAX) {
        return -1;
    }
    return static_cast<int>(wait.count());
}

bool PollEventLoop::RunPostedTasks() {
    // Only the tasks queued when the pass begins: a task that posts again must
    // not starve the timers and the fds.
    std::size_t count = 0;
    {
        std::lock_guard lock(m_mutex);
        count = m_tasks.size();
    }
    bool ran = false;
    for (std::size_t i = 0; i < count; ++i) {
        Task task;
        {
            std::lock_guard lock(m_mutex);
            if (m_tasks.empty()) {
                break;  // Shutdown from inside a task emptied the queue
            }
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
        }
        ran = true;
        if (task) {
            task();
        }
    }
    return ran;
}

bool PollEventLoop::ProcessEvents(Clock::Duration maxWait) {
    RequireLoopThread(*this, "ProcessEvents");
    if (m_stopping.load()) {
        return false;
    }

    std::vector<pollfd> fds;
    std::vector<WatchId> ids;
    fds.reserve(m_watches.size() + 1);
    ids.reserve(m_watches.size());
    fds.push_back(pollfd{m_wakeFd, POLLIN, 0});
    for (const auto& [id, watch] : m_watches) {
        short wanted = 0;
        if ((watch.events & kReadable) != 0) {
            wanted |= POLLIN;
        }
        if ((watch.events & kWritable) != 0) {
            wanted |= POLLOUT;
        }
        fds.push_back(pollfd{watch.fd, wanted, 0});
        ids.push_back(id);
    }

    const int ready = ::poll(fds.data(), fds.size(), PollTimeout(maxWait));
    if (ready < 0 && errno != EINTR) {
        throw std::system_error(errno, std::generic_category(), "poll");
    }
    if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
        DrainWakeFd();
    }

    bool handled = RunPostedTasks();
    bool fdCallbacksRan = false;
    if (!m_stopping.load()) {
        handled = m_timers.RunDue(m_clock.Now()) > 0 || handled;
    }
    for (std::size_t i = 1; ready > 0 && i < fds.size() && !m_stopping.load(); ++i) {
        const short revents = fds[i].revents;
        if (revents == 0) {
            continue;
        }
        // An earlier callback of this pass may have removed the watch.
        const auto it = m_watches.find(ids[i - 1]);
        if (it == m_watches.end()) {
            continue;
        }
        const unsigned asked = it->second.events;
        unsigned events = 0;
        if ((revents & POLLIN) != 0) {
            events |= kReadable;
        }
        if ((revents & POLLOUT) != 0) {
            events |= kWritable;
        }
        if ((revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            events |= kError;
            if ((revents & POLLHUP) != 0 && (asked & kReadable) != 0) {
                events |= kReadable;
            }
        }
        const std::shared_ptr<FdCallback> callback = it->second.callback;
        handled = true;
        fdCallbacksRan = true;
        (*callback)(events);
    }
    // What the fd callbacks posted (a socket's notification, say) runs in this
    // pass: the next pass would only poll without waiting before running it.
    if (fdCallbacksRan && !m_stopping.load()) {
        RunPostedTasks();
    }
    return handled;
}

void PollEventLoop::Shutdown() {
    std::deque<Task> doomed;
    {
        std::lock_guard lock(m_mutex);
        m_stopping.store(true);
        doomed.swap(m_tasks);
    }
    // Destroyed unrun and outside the lock: a send waiting on one of these
    // tasks is released by its destruction.
    doomed.clear();
    m_timers.Clear();
    std::map<WatchId, Watch> watches;
    watches.swap(m_watches);
}

bool PollEventLoop::IsStopping() const {
    return m_stopping.load();
}

bool PollEventLoop::IsLoopThread() const {
    return std::this_thread::get_id() == m_loopThread;
}

std::size_t PollEventLoop::PendingTaskCount() const {
    std::lock_guard lock(m_mutex);
    return m_tasks.size();
}

}  // namespace kavri
