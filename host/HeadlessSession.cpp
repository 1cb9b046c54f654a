#include "host/HeadlessSession.h"

#include <algorithm>
#include <utility>

namespace kavri::host {

HeadlessSession::HeadlessSession(std::string inboxRoot)
    : m_stack(m_loop, m_clock, std::move(inboxRoot)) {}

bool HeadlessSession::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline)
            return false;
        const auto left = std::chrono::duration_cast<Clock::Duration>(deadline - now);
        // Short slices, so done() is asked again soon after each event.
        m_loop.ProcessEvents(std::min(left, Clock::Duration(100)));
    }
    return true;
}

}  // namespace kavri::host
