#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/Clock.h"
#include "platform/PollEventLoop.h"

namespace kavri {
class TwclAPIManager;
namespace sim {
class VirtualNeighbourhood;
}
}  // namespace kavri

namespace kavri::cli {

// Everything a kavrictl command needs to talk Bluetooth: the main thread's
// event loop on the real clock, the virtual neighbourhood when a scenario is
// given, and the stack manager with every stack loaded. Destruction unloads
// the stacks before the neighbourhood goes. Throws ScenarioError for a bad
// scenario file.
class StackSession {
public:
    explicit StackSession(const std::optional<std::string>& scenarioPath);
    ~StackSession();
    StackSession(const StackSession&) = delete;
    StackSession& operator=(const StackSession&) = delete;

    PollEventLoop& Loop() { return m_loop; }
    const Clock& GetClock() const { return m_clock; }

    // Handles events until done() holds; false when the wait ran out first.
    bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);

private:
    SteadyClock m_clock;
    PollEventLoop m_loop{m_clock};
    std::unique_ptr<sim::VirtualNeighbourhood> m_neighbourhood;
    std::unique_ptr<TwclAPIManager> m_manager;
};

// Where the built-in demo scenario lives: beside the installed program, else
// in the source tree this program was built from.
std::string DemoScenarioPath();

}  // namespace kavri::cli
