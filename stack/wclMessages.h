#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/Clock.h"
#include "platform/EventLoop.h"

namespace kavri {

// Message windows: how other threads reach the main thread. A component owns a
// MessageWindow bound to the main thread's EventLoop; threads, stack callbacks
// and the stacks get its handle and post or send numbered messages to it; the
// handler runs on the loop thread, so component state needs no lock.
//
// Guarantees:
//  - Posted messages to one window are handled in posting order, one at a
//    time, unless a handler itself runs a nested loop (a modal dialog, a pump):
//    then later messages are handled inside it, still in order.
//  - A send from another thread returns once the handler has returned; a send
//    on the loop thread calls the handler at once.
//  - A post or send to a window that is gone is dropped and returns false at
//    once. A send waiting when its window is destroyed, or its loop shuts down,
//    returns false; a send never deadlocks against a loop that is stopping.
//  - An exception thrown by a handler is caught and given to the
//    application's exception handler; it never unwinds into the loop.

// The library's own messages are numbered from here upward.
inline constexpr std::uint32_t kWmUser = 1024;

// A numbered message with two parameters: small integers, handles, or pointers
// to data the sender keeps alive until the message is handled (for a send,
// until it returns; the handler copies what it keeps).
struct Message {
    std::uint32_t Msg = 0;
    std::uintptr_t WParam = 0;
    std::intptr_t LParam = 0;
};

namespace detail {
struct WindowCore;
}

// A cheap, copyable reference to a message window that any thread may hold,
// also after the window is gone (then every post and send to it fails). A
// default-constructed handle refers to no window. Handles compare equal when
// they refer to the same window.
class MessageWindowHandle {
public:
    MessageWindowHandle() = default;

    bool IsNull() const { return m_core == nullptr; }
    // True while the window exists; from another thread only a hint, since the
    // window may go at any moment.
    bool IsAlive() const;
    // The loop the window lives on, when called on that loop's thread while the
    // window exists (so it cannot go during the call); nullptr otherwise. Lets a
    // stack that is handed only its manager's window watch file descriptors on
    // the same loop.
    EventLoop* LoopOnThisThread() const;

    friend bool operator==(const MessageWindowHandle&, const MessageWindowHandle&) = default;

private:
    friend class MessageWindow;
    friend bool PostMessage(const MessageWindowHandle&, std::uint32_t, std::uintptr_t,
                            std::intptr_t);
    friend bool SendMessage(const MessageWindowHandle&, std::uint32_t, std::uintptr_t,
                            std::intptr_t);
    friend bool PumpMessagesUntil(const MessageWindowHandle&, std::uint32_t, Clock::Duration);

    explicit MessageWindowHandle(std::shared_ptr<detail::WindowCore> core)
        : m_core(std::move(core)) {}

    std::shared_ptr<detail::WindowCore> m_core;
};

// A hidden window bound to one event loop and one handler. Created and
// destroyed on the loop's thread (the constructor throws std::logic_error
// elsewhere, or when the handler is empty), and destroyed before its loop.
// Destroying it drops the messages still queued for it and releases every
// send waiting for it; a handler may destroy its own window.
class MessageWindow {
public:
    using Handler = std::function<void(const Message&)>;

    MessageWindow(EventLoop& loop, Handler handler);
    ~MessageWindow();

    MessageWindow(const MessageWindow&) = delete;
    MessageWindow& operator=(const MessageWindow&) = delete;

    MessageWindowHandle Handle() const { return MessageWindowHandle(m_core); }
    EventLoop& Loop() const { return m_loop; }

private:
    EventLoop& m_loop;
    std::shared_ptr<detail::WindowCore> m_core;
};

// Queues the message for the window's thread and returns at once. False when
// the window is gone or its loop is shutting down (the message is dropped).
// Any thread.
bool PostMessage(const MessageWindowHandle& window, std::uint32_t msg, std::uintptr_t wParam = 0,
                 std::intptr_t lParam = 0);

// Has the window's handler handle the message and returns true once it has
// run. On the window's loop thread the handler is called directly; from any
// other thread the call waits for the loop to run it. False, at once, when the
// window is gone or its loop is stopping; false also when the window is
// destroyed or the loop shut down while the call waits. A send from another
// thread waits for as long as the loop thread is busy elsewhere: a loop thread
// that joins a sending thread must destroy the window first.
bool SendMessage(const MessageWindowHandle& window, std::uint32_t msg, std::uintptr_t wParam = 0,
                 std::intptr_t lParam = 0);

// On the window's loop thread: handles events until a message numbered msg has
// been handled by that window (true), or until timeout passes on the loop's
// clock, the window is destroyed or the loop stops (false). Only messages
// handled during the call count. From any other thread it returns false at
// once. With a manual clock the loop looks at the clock at least every 10 ms
// of real time, so a clock advanced by another thread ends the wait.
bool PumpMessagesUntil(const MessageWindowHandle& window, std::uint32_t msg,
                       Clock::Duration timeout);

// The application's one handler for exceptions thrown by message handlers
// (the GUI shows a message box, the headless sender prints). An empty function
// restores the default, which writes the exception's message to stderr.
// Thread-safe; the handler is called on the thread where the exception was
// caught, outside the lock, so it may replace itself.
void SetApplicationExceptionHandler(std::function<void(std::exception_ptr)> handler);
// Gives an exception to the application's handler. Never throws: if the
// handler throws, that is written to stderr.
void HandleApplicationException(std::exception_ptr error) noexcept;

// A list of windows that want to hear of changes, with its own lock. The
// broadcasts copy the list under the lock and deliver outside it, so a handler
// may Add or Remove (itself or others) while a broadcast runs; a window removed
// during a broadcast may still get that broadcast. Dead windows are skipped and
// pruned by the next Add. Thread-safe.
class NotificationList {
public:
    // Adds the window once; returns false for a second Add of the same window
    // or a null handle.
    bool Add(const MessageWindowHandle& window);
    // Returns false when the window was not in the list.
    bool Remove(const MessageWindowHandle& window);
    std::vector<MessageWindowHandle> Snapshot() const;
    std::size_t Size() const;

    // Each returns how many windows accepted the message (sends: handled it).
    std::size_t BroadcastPost(std::uint32_t msg, std::uintptr_t wParam = 0,
                              std::intptr_t lParam = 0) const;
    std::size_t BroadcastSend(std::uint32_t msg, std::uintptr_t wParam = 0,
                              std::intptr_t lParam = 0) const;

private:
    mutable std::mutex m_mutex;
    std::vector<MessageWindowHandle> m_windows;
};

// The process-wide list of notification windows that the stack manager
// broadcasts its changes to. Lives as long as the process.
NotificationList& ProcessNotificationList();

}  // namespace kavri
