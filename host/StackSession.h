#pragma once

#include <memory>
#include <optional>
#include <string>

#include "app/Result.h"

namespace kavri {
class Clock;
class EventLoop;
class TwclAPIManager;
namespace sim {
struct Scenario;
class VirtualNeighbourhood;
class VirtualObjectPushDevices;
}  // namespace sim
}  // namespace kavri

namespace kavri::host {

// Where virtual devices keep what they receive unless told otherwise: a
// folder "kavri-virtual-inbox" in the system's temporary folder.
std::string DefaultInboxRoot();

// The Bluetooth side of a running program, on the event loop and clock it is
// given (a poll loop on the steady clock for kavrictl, the Qt adapter for the
// windows, a manual clock in tests): the stack manager with every stack
// loaded and, under simulation, the virtual neighbourhood with an Object Push
// server for each virtual device that offers one, its inbox under inboxRoot.
//
// Lives on the loop thread; the loop and clock must outlive it. Open once;
// a failure (a scenario that cannot be read or parsed, a server that cannot
// listen) comes back as the Result, with nothing left running. Destruction
// unloads the stacks before the neighbourhood and its servers go, so no
// binding is left holding a stand-in library.
class StackSession {
public:
    StackSession(EventLoop& loop, const Clock& clock, std::string inboxRoot = DefaultInboxRoot());
    ~StackSession();
    StackSession(const StackSession&) = delete;
    StackSession& operator=(const StackSession&) = delete;

    // The real stacks without a scenario path; the neighbourhood of the file
    // with one.
    Result Open(const std::optional<std::string>& scenarioPath);
    // The neighbourhood of a scenario already read.
    Result OpenScenario(sim::Scenario scenario);

    EventLoop& Loop() { return m_loop; }
    const Clock& GetClock() const { return m_clock; }
    bool Simulated() const { return m_neighbourhood != nullptr; }
    // What the operator can do when no radio is ready: the advice of the
    // Linux stack (its daemon not running, no adapter, the adapter switched
    // off or blocked), or an empty text. Loop thread.
    std::string NoRadioAdvice() const;
    // The virtual devices' Object Push servers, or nullptr without a scenario.
    const sim::VirtualObjectPushDevices* Devices() const { return m_devices.get(); }

private:
    Result LoadStacks();
    void Close();

    EventLoop& m_loop;
    const Clock& m_clock;
    const std::string m_inboxRoot;
    std::unique_ptr<sim::VirtualNeighbourhood> m_neighbourhood;
    std::unique_ptr<sim::VirtualObjectPushDevices> m_devices;
    std::unique_ptr<TwclAPIManager> m_manager;
};

}  // namespace kavri::host
