#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "app/Result.h"
#include "host/StackSession.h"
#include "platform/Clock.h"
#include "platform/PollEventLoop.h"

namespace kavri::host {

// A program without a window: the main thread's poll loop on the steady clock
// and a stack session on it. Lives on the thread that constructs it, which
// becomes the loop thread. Open reports what StackSession::Open reports.
class HeadlessSession {
public:
    explicit HeadlessSession(std::string inboxRoot = DefaultInboxRoot());
    HeadlessSession(const HeadlessSession&) = delete;
    HeadlessSession& operator=(const HeadlessSession&) = delete;

    Result Open(const std::optional<std::string>& scenarioPath) {
        return m_stack.Open(scenarioPath);
    }

    PollEventLoop& Loop() { return m_loop; }
    const Clock& GetClock() const { return m_clock; }
    const StackSession& Stack() const { return m_stack; }

    // Handles events until done() holds; false when the wait ran out first.
    bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);

private:
    SteadyClock m_clock;
    PollEventLoop m_loop{m_clock};
    // Declared last: it goes before the loop its servers and stacks use.
    StackSession m_stack;
};

}  // namespace kavri::host
