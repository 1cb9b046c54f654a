#pragma once

#include "platform/DynamicLibrary.h"
#include "sim/Scenario.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kavri::sim {

// The stand-in for the BlueSoleil stack's library "btfunc.dll", over the
// scenario's radio and devices: it fills the stack's records byte for byte as
// the binding reads them (stack/wclBlueSoleilApi.h), answers inquiries with
// the devices in range, browses and searches their services (a service with
// an RFCOMM channel counts as a serial-port-profile service), and connects
// one by giving it a virtual COM port (VirtualComPort) bridged to the
// device's Object Push server. A device out of range, or one whose service
// cannot be reached, fails the connect with the stack's statuses: 11 (timed
// out), 10 (no such service), 6 (busy), 2 (refused).
//
// When a device ends a link, the stand-in reports status 4 for its handle to
// the registered connection callback from a notifier thread of its own (the
// bridge that saw the hang-up is joined by the disconnect, which may come
// from the callback's own consequences, so it must not be the one calling).
//
// One stand-in is current at a time (its entry points are plain functions);
// constructing it makes it current, destroying it closes its ports, joins
// its notifier and leaves every entry point failing. Close the links that use
// it first: the notifier may be waiting for a window on the thread that
// destroys the stand-in. The entry points may be called from any thread.
class SimBlueSoleil {
public:
    struct Sources {
        std::function<std::int64_t()> scenarioTimeMs;
        // The endpoint of a device's built-in Object Push server, if it runs.
        std::function<std::optional<std::string>(const DeviceSpec& device)> objectPushServer;
    };

    // The scenario must outlive the stand-in. Throws std::logic_error when
    // another BlueSoleil stand-in is current.
    SimBlueSoleil(const Scenario& scenario, Sources sources);
    ~SimBlueSoleil();
    SimBlueSoleil(const SimBlueSoleil&) = delete;
    SimBlueSoleil& operator=(const SimBlueSoleil&) = delete;

    static EntryPointTable EntryPoints();

    // Observations.
    std::size_t OpenConnectionCount() const;
    std::string RadioName() const;
    bool CallbackRegistered() const;
    // Ends every open link from the device's side, as a device walking away does.
    void DropConnections();

    struct Core;

private:
    std::shared_ptr<Core> m_core;
};

}  // namespace kavri::sim
