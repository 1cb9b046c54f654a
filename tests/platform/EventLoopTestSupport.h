#pragma once

#include <chrono>

#include "platform/Clock.h"
#include "platform/EventLoop.h"

namespace kavri::test {

// Handles everything that is ready without waiting, pass after pass, until a
// pass finds nothing. Bounded so that a task that re-posts itself for ever
// fails the test instead of hanging it. Returns the passes that did work.
inline int RunUntilIdle(EventLoop& loop, int maxPasses = 10000) {
    int passes = 0;
    while (passes < maxPasses && loop.ProcessEvents(Clock::Duration::zero())) {
        ++passes;
    }
    return passes;
}

// Moves the manual clock and runs what became due.
inline int AdvanceAndProcess(ManualClock& clock, EventLoop& loop, Clock::Duration by) {
    clock.Advance(by);
    return RunUntilIdle(loop);
}

// Processes events until done() holds, for work that arrives from other
// threads or the kernel. The real-time limit is only a safety net against a
// hang; nothing waits for it when the code works.
template <typename Done>
bool ProcessUntil(EventLoop& loop, Done done,
                  std::chrono::milliseconds limit = std::chrono::milliseconds(10000)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        loop.ProcessEvents(std::chrono::milliseconds(50));
    }
    return true;
}

}  // namespace kavri::test
