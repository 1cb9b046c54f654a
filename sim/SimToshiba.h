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

// The stand-in for the Toshiba stack's library "TosBtAPI.dll", over the
// scenario's radio and devices. It fills the stack's lists and records as the
// binding reads them (stack/wclToshibaApi.h): discoveries list the devices in
// range, service searches analyse each device's services (class, name,
// description, and an RFCOMM channel among the protocols when the service
// has one), and a virtual COM port, once created and connected, is a
// pseudo-terminal (VirtualComPort) bridged to the device's Object Push
// server. A connection that cannot be made (device away or busy, no Object
// Push server on the channel) is refused: 0x800200, then 0x8002FF.
//
// Everything the stack reports by message comes from a poster thread of its
// own, in the order the calls asked for it: completions of discovery (1049),
// SDP connect (1044) and search (1046), COM port events (1054 to the windows
// that asked for COM events, 1055 to the connecting window), the link lost
// (1056, 0x800440) when a device ends it, and the radio's state (1040, long
// parameter 1 ready, 0 not) whenever it changes, checked every 10 ms of real
// time against scenario time.
//
// One stand-in is current at a time; constructing it makes it current,
// destroying it joins its poster, closes its ports and leaves every entry
// point failing. The entry points may be called from any thread; lists it
// hands out are freed with BtMemFree (or BtFreePBTANALYZEDATTRLIST2).
class SimToshiba {
public:
    struct Sources {
        std::function<std::int64_t()> scenarioTimeMs;
        std::function<std::optional<std::string>(const DeviceSpec& device)> objectPushServer;
    };

    // The scenario must outlive the stand-in. Throws std::logic_error when
    // another Toshiba stand-in is current.
    SimToshiba(const Scenario& scenario, Sources sources);
    ~SimToshiba();
    SimToshiba(const SimToshiba&) = delete;
    SimToshiba& operator=(const SimToshiba&) = delete;

    static EntryPointTable EntryPoints();

    // Observations.
    std::size_t CreatedPortCount() const;
    std::size_t OpenConnectionCount() const;
    std::string RadioName() const;
    // Memory the stand-in handed out and that was not freed yet.
    std::size_t OutstandingAllocations() const;

    struct Core;

private:
    std::shared_ptr<Core> m_core;
};

}  // namespace kavri::sim
