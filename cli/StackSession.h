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
class VirtualObjectPushDevices;
}  // namespace sim
}  // namespace kavri

namespace kavri::cli {

// Where virtual devices keep what they receive unless told otherwise: a
// folder "kavri-virtual-inbox" in the system's temporary folder.
std::string DefaultInboxRoot();

// Everything a kavrictl command needs to talk Bluetooth: the main thread's
// event loop on the real clock, the virtual neighbourhood when a scenario is
// given (with an Object Push server for each virtual device that has one, its
// inbox under inboxRoot), and the stack manager with every stack loaded.
// Destruction unloads the stacks before the neighbourhood goes. Throws
// ScenarioError for a bad scenario file.
class StackSession {
public:
    explicit StackSession(const std::optional<std::string>& scenarioPath,
                          const std::string& inboxRoot = DefaultInboxRoot());
    ~StackSession();
    StackSession(const StackSession&) = delete;
    StackSession& operator=(const StackSession&) = delete;

    PollEventLoop& Loop() { return m_loop; }
    const Clock& GetClock() const { return m_clock; }

    // The virtual devices' Object Push servers, or nullptr without a scenario.
    const sim::VirtualObjectPushDevices* Devices() const { return m_devices.get(); }

    // Handles events until done() holds; false when the wait ran out first.
    bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);

private:
    SteadyClock m_clock;
    PollEventLoop m_loop{m_clock};
    std::unique_ptr<sim::VirtualNeighbourhood> m_neighbourhood;
    std::unique_ptr<sim::VirtualObjectPushDevices> m_devices;
    std::unique_ptr<TwclAPIManager> m_manager;
};

// Where the built-in demo scenario lives: beside the installed program, else
// in the source tree this program was built from.
std::string DemoScenarioPath();

}  // namespace kavri::cli
