#pragma once

#include "platform/Clock.h"
#include "platform/DynamicLibrary.h"
#include "sim/Scenario.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kavri::sim {

class PrivateBus;
class SimBlueZ;
class VirtualSdpServers;

// Linux's Bluetooth stack as the virtual neighbourhood stands it in: the
// in-process library "bluez" that the BlueZ binding loads first, with its
// "BusAddress" and "Connect" entry points (see the binding's platform).
//
// With the stack installed in the scenario, it starts a private message bus,
// the stand-in daemon on it (SimBlueZ), and the devices' SDP servers
// (VirtualSdpServers); a connect then reaches them over loopback TCP:
//  - L2CAP on the SDP PSM (1): the device's SDP server; any other PSM:
//    ECONNREFUSED;
//  - RFCOMM: the device's Object Push server, decided as for the other
//    stacks' sockets (ScenarioSocketDirectory): out of range or unknown,
//    EHOSTDOWN; busy, another channel or nothing there, ECONNREFUSED.
// Without it, "BusAddress" answers an empty text, so the binding sees no
// stack and a simulation never reaches the machine's own radio.
//
// While an instance lives it is the process's current one (a second throws
// std::logic_error); the entry points keep it alive for the length of a call.
// The pointer BusAddress returns stays valid while the instance lives.
// Construct and destroy on one thread, which outlives the bus (the bus's
// daemon ends with that thread); the observations may be used from any
// thread. The scenario and the clock must outlive it. Throws
// std::runtime_error when the bus or the daemon cannot be started.
class SimBlueZStack {
public:
    struct Sources {
        // Milliseconds of scenario time now.
        std::function<std::int64_t()> scenarioTimeMs;
        // The endpoint of a device's built-in Object Push server, if it runs.
        std::function<std::optional<std::string>(const DeviceSpec& device)> objectPushServer;
    };

    SimBlueZStack(const Scenario& scenario, const Clock& clock, Sources sources);
    ~SimBlueZStack();
    SimBlueZStack(const SimBlueZStack&) = delete;
    SimBlueZStack& operator=(const SimBlueZStack&) = delete;

    // The stand-in daemon and the SDP servers while the stack is installed,
    // else null.
    SimBlueZ* Daemon() const;
    VirtualSdpServers* SdpServers() const;
    // The private bus's address, or empty.
    std::string BusAddress() const;

    // The entry points of "bluez".
    static EntryPointTable EntryPoints();

    struct State;

private:
    std::unique_ptr<PrivateBus> m_bus;
    std::unique_ptr<SimBlueZ> m_daemon;
    std::shared_ptr<State> m_state;
};

// The message bus configuration the private bus is started with: beside the
// installed program (../share/kavri/bluez-bus.conf), else in the source tree.
std::string BusConfigPath();

}  // namespace kavri::sim
