#include "stack/wclMessages.h"

#include <algorithm>
#include <condition_variable>
#include <iostream>
#include <stdexcept>

namespace kavri {

namespace detail {

// One send from another thread, shared by the sender and the task that
// carries it to the loop thread.
class SendState {
public:
    enum class Stage { Waiting, Running, Handled, Dropped };

    // On the loop thread, just before the handler: false when the send was
    // already given up (its window went).
    bool BeginRun() {
        std::lock_guard lock(m_mutex);
        if (m_stage != Stage::Waiting) {
            return false;
        }
        m_stage = Stage::Running;
        return true;
    }

    // After the handler (or after finding the window gone).
    void Finish(Stage stage) {
        std::lock_guard lock(m_mutex);
        if (m_stage == Stage::Running) {
            m_stage = stage;
            m_done.notify_all();
        }
    }

    // The window is going: a send whose handler has not started is dropped. A
    // running one is left alone: its sender must not free its data while the
    // handler still reads it.
    void Cancel() {
        std::lock_guard lock(m_mutex);
        if (m_stage == Stage::Waiting) {
            m_stage = Stage::Dropped;
            m_done.notify_all();
        }
    }

    // The task carrying the send is destroyed: run or not, the sender is
    // released now. This is what frees a sender when the loop shuts down.
    void Release() {
        std::lock_guard lock(m_mutex);
        if (m_stage == Stage::Waiting) {
            m_stage = Stage::Dropped;
        } else if (m_stage == Stage::Running) {
            m_stage = Stage::Handled;
        }
        m_done.notify_all();
    }

    Stage Wait() {
        std::unique_lock lock(m_mutex);
        m_done.wait(lock,
                    [this] { return m_stage == Stage::Handled || m_stage == Stage::Dropped; });
        return m_stage;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_done;
    Stage m_stage = Stage::Waiting;
};

// Releases its send when destroyed, however the carrying task ends.
struct SendTicket {
    explicit SendTicket(std::shared_ptr<SendState> s) : state(std::move(s)) {}
    ~SendTicket() { state->Release(); }
    SendTicket(const SendTicket&) = delete;
    SendTicket& operator=(const SendTicket&) = delete;

    std::shared_ptr<SendState> state;
};

struct PumpWatch {
    std::uint32_t msg = 0;
    bool arrived = false;
};

// What a window shares with its handles and its queued messages.
struct WindowCore {
    std::mutex mutex;
    // Null once the window is gone. Written only on the loop thread, under
    // mutex; other threads read it under mutex.
    EventLoop* loop = nullptr;
    std::vector<std::shared_ptr<SendState>> sends;  // guarded by mutex

    // Loop thread only. Shared so that a handler that destroys its own window
    // finishes running.
    std::shared_ptr<const MessageWindow::Handler> handler;
    std::vector<PumpWatch*> pumps;
};

}  // namespace detail

namespace {

using detail::SendState;
using detail::WindowCore;

// On the loop thread. Returns whether the handler ran.
bool Dispatch(WindowCore& core, const Message& message) {
    if (core.loop == nullptr) {
        return false;  // the window went while the message was queued
    }
    for (detail::PumpWatch* watch : core.pumps) {
        if (watch->msg == message.Msg) {
            watch->arrived = true;
        }
    }
    const std::shared_ptr<const MessageWindow::Handler> handler = core.handler;
    try {
        (*handler)(message);
    } catch (...) {
        HandleApplicationException(std::current_exception());
    }
    return true;
}

void ForgetSend(WindowCore& core, const std::shared_ptr<SendState>& state) {
    std::lock_guard lock(core.mutex);
    std::erase(core.sends, state);
}

std::mutex& ApplicationHandlerMutex() {
    static std::mutex mutex;
    return mutex;
}

std::function<void(std::exception_ptr)>& ApplicationHandlerSlot() {
    static std::function<void(std::exception_ptr)> handler;
    return handler;
}

void PrintException(std::exception_ptr error) noexcept {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        std::cerr << e.what() << std::endl;
    } catch (...) {
        std::cerr << "Unknown exception" << std::endl;
    }
}

}  // namespace

bool MessageWindowHandle::IsAlive() const {
    if (!m_core) {
        return false;
    }
    std::lock_guard lock(m_core->mutex);
    return m_core->loop != nullptr;
}

EventLoop* MessageWindowHandle::LoopOnThisThread() const {
    if (!m_core) {
        return nullptr;
    }
    std::lock_guard lock(m_core->mutex);
    return m_core->loop != nullptr && m_core->loop->IsLoopThread() ? m_core->loop : nullptr;
}

MessageWindow::MessageWindow(EventLoop& loop, Handler handler)
    : m_loop(loop), m_core(std::make_shared<WindowCore>()) {
    if (!loop.IsLoopThread()) {
        throw std::logic_error("MessageWindow created off its loop's thread");
    }
    if (!handler) {
        throw std::logic_error("MessageWindow needs a handler");
    }
    m_core->handler = std::make_shared<const Handler>(std::move(handler));
    std::lock_guard lock(m_core->mutex);
    m_core->loop = &loop;
}

MessageWindow::~MessageWindow() {
    std::vector<std::shared_ptr<SendState>> sends;
    {
        std::lock_guard lock(m_core->mutex);
        m_core->loop = nullptr;
        sends.swap(m_core->sends);
    }
    for (const auto& send : sends) {
        send->Cancel();
    }
    // The handler dies here on the loop thread, unless it is running right
    // now (it destroys its own window): then when it returns.
    m_core->handler.reset();
}

bool PostMessage(const MessageWindowHandle& window, std::uint32_t msg, std::uintptr_t wParam,
                 std::intptr_t lParam) {
    const std::shared_ptr<WindowCore> core = window.m_core;
    if (!core) {
        return false;
    }
    // Posting under the window's lock orders the posts of all threads, and
    // keeps the loop alive for the call: the window, destroyed before its
    // loop, takes this lock on its way out.
    std::lock_guard lock(core->mutex);
    if (core->loop == nullptr) {
        return false;
    }
    return core->loop->Post(
        [core, message = Message{msg, wParam, lParam}] { Dispatch(*core, message); });
}

bool SendMessage(const MessageWindowHandle& window, std::uint32_t msg, std::uintptr_t wParam,
                 std::intptr_t lParam) {
    const std::shared_ptr<WindowCore> core = window.m_core;
    if (!core) {
        return false;
    }
    const Message message{msg, wParam, lParam};
    auto state = std::make_shared<SendState>();
    {
        std::unique_lock lock(core->mutex);
        EventLoop* loop = core->loop;
        if (loop == nullptr || loop->IsStopping()) {
            return false;
        }
        if (loop->IsLoopThread()) {
            lock.unlock();
            return Dispatch(*core, message);
        }
        core->sends.push_back(state);
        // The ticket lives only in the task: whether the task runs, is refused
        // here, or is destroyed unrun at shut-down, its end releases us.
        const bool queued = loop->Post([core, message,
                                        ticket = std::make_shared<detail::SendTicket>(state)] {
            if (ticket->state->BeginRun()) {
                const bool ran = Dispatch(*core, message);
                ticket->state->Finish(ran ? SendState::Stage::Handled : SendState::Stage::Dropped);
            }
        });
        if (!queued) {
            std::erase(core->sends, state);
            return false;
        }
    }
    const SendState::Stage stage = state->Wait();
    ForgetSend(*core, state);
    return stage == SendState::Stage::Handled;
}

bool PumpMessagesUntil(const MessageWindowHandle& window, std::uint32_t msg,
                       Clock::Duration timeout) {
    constexpr Clock::Duration kManualClockCheck{10};
    const std::shared_ptr<WindowCore> core = window.m_core;
    if (!core) {
        return false;
    }
    EventLoop* loop = nullptr;
    {
        std::lock_guard lock(core->mutex);
        loop = core->loop;
    }
    if (loop == nullptr || !loop->IsLoopThread()) {
        return false;
    }
    const Clock& clock = loop->GetClock();
    const Clock::TimePoint deadline = clock.Now() + std::max(timeout, Clock::Duration::zero());

    detail::PumpWatch watch{msg, false};
    core->pumps.push_back(&watch);
    struct Unregister {
        WindowCore& core;
        detail::PumpWatch* watch;
        ~Unregister() { std::erase(core.pumps, watch); }
    } unregister{*core, &watch};

    while (!watch.arrived) {
        // The loop outlives the window, so it may be used while the window is.
        if (core->loop == nullptr || loop->IsStopping()) {
            return false;
        }
        const Clock::TimePoint now = clock.Now();
        if (now >= deadline) {
            return false;
        }
        Clock::Duration wait = deadline - now;
        if (clock.IsManual()) {
            wait = std::min(wait, kManualClockCheck);
        }
        loop->ProcessEvents(wait);
    }
    return true;
}

void SetApplicationExceptionHandler(std::function<void(std::exception_ptr)> handler) {
    {
        std::lock_guard lock(ApplicationHandlerMutex());
        ApplicationHandlerSlot().swap(handler);
    }
    // The previous handler is destroyed here, outside the lock.
}

void HandleApplicationException(std::exception_ptr error) noexcept {
    if (!error) {
        return;
    }
    std::function<void(std::exception_ptr)> handler;
    try {
        std::lock_guard lock(ApplicationHandlerMutex());
        handler = ApplicationHandlerSlot();
    } catch (...) {
        handler = nullptr;  // no memory to copy it: fall back to printing
    }
    if (!handler) {
        PrintException(error);
        return;
    }
    try {
        handler(error);
    } catch (...) {
        std::cerr << "The application's exception handler failed on: ";
        PrintException(error);
    }
}

bool NotificationList::Add(const MessageWindowHandle& window) {
    if (window.IsNull()) {
        return false;
    }
    std::lock_guard lock(m_mutex);
    if (std::find(m_windows.begin(), m_windows.end(), window) != m_windows.end()) {
        return false;
    }
    // Windows that went without being removed would otherwise pile up.
    std::erase_if(m_windows, [](const MessageWindowHandle& h) { return !h.IsAlive(); });
    m_windows.push_back(window);
    return true;
}

bool NotificationList::Remove(const MessageWindowHandle& window) {
    std::lock_guard lock(m_mutex);
    return std::erase(m_windows, window) > 0;
}

std::vector<MessageWindowHandle> NotificationList::Snapshot() const {
    std::lock_guard lock(m_mutex);
    return m_windows;
}

std::size_t NotificationList::Size() const {
    std::lock_guard lock(m_mutex);
    return m_windows.size();
}

std::size_t NotificationList::BroadcastPost(std::uint32_t msg, std::uintptr_t wParam,
                                            std::intptr_t lParam) const {
    std::size_t delivered = 0;
    for (const MessageWindowHandle& window : Snapshot()) {
        delivered += PostMessage(window, msg, wParam, lParam) ? 1 : 0;
    }
    return delivered;
}

std::size_t NotificationList::BroadcastSend(std::uint32_t msg, std::uintptr_t wParam,
                                            std::intptr_t lParam) const {
    std::size_t delivered = 0;
    for (const MessageWindowHandle& window : Snapshot()) {
        delivered += SendMessage(window, msg, wParam, lParam) ? 1 : 0;
    }
    return delivered;
}

NotificationList& ProcessNotificationList() {
    static NotificationList list;
    return list;
}

}  // namespace kavri
