#pragma once

#include "platform/Clock.h"
#include "platform/PollEventLoop.h"
#include "stack/wclMessages.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

namespace kavri::test {

// The real-time cap on waiting for another thread. Only a safety net: a
// working watcher answers within milliseconds, and nothing waits for the cap
// unless the code is broken.
inline constexpr std::chrono::milliseconds kRealTimeCap{5000};

// A manager window on a poll loop driven by a manual clock, recording the
// numbers of the messages posted to it.
class MessageRecorder {
public:
    explicit MessageRecorder(PollEventLoop& loop)
        : m_loop(loop), m_window(loop, [this](const Message& m) { m_numbers.push_back(m.Msg); }) {}

    MessageWindowHandle Handle() const { return m_window.Handle(); }

    // Handles what has arrived, then tells how often msg came.
    std::size_t Count(std::uint32_t msg) {
        while (m_loop.ProcessEvents(Clock::Duration::zero())) {
        }
        return static_cast<std::size_t>(std::count(m_numbers.begin(), m_numbers.end(), msg));
    }
    const std::vector<std::uint32_t>& Numbers() {
        Count(0);
        return m_numbers;
    }

    // Runs the loop until msg has arrived `times` times in all, within the cap.
    bool WaitFor(std::uint32_t msg, std::size_t times = 1) {
        const auto end = std::chrono::steady_clock::now() + kRealTimeCap;
        while (Count(msg) < times) {
            if (std::chrono::steady_clock::now() >= end)
                return false;
            m_loop.ProcessEvents(std::chrono::milliseconds(5));
        }
        return true;
    }

private:
    PollEventLoop& m_loop;
    std::vector<std::uint32_t> m_numbers;
    MessageWindow m_window;
};

// Waits, within the cap, until done() holds: for another thread's progress.
inline bool WaitUntil(const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + kRealTimeCap;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// The threads of this process, as the kernel counts them.
// The threads of this process. A sanitizer runtime starts a background thread
// of its own when the first thread is created, so one thread is started and
// joined first: the count then moves only with the threads the code starts.
inline std::size_t ThreadCount() {
    static const bool warmedUp = [] {
        std::thread([] {}).join();
        return true;
    }();
    (void)warmedUp;
    const std::filesystem::directory_iterator tasks("/proc/self/task");
    return static_cast<std::size_t>(std::distance(begin(tasks), end(tasks)));
}

}  // namespace kavri::test
