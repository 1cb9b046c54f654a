#pragma once

#include "platform/Clock.h"
#include "platform/DynamicLibrary.h"
#include "sim/Scenario.h"
#include "stack/wclUUIDs.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kavri::sim {

// The stand-in for the Widcomm stack's adapter library: the twenty entry
// points of "wcl2btwnr.dll" (and "wcl2btw.dll"), over the scenario's radio and
// the devices that the Widcomm radio sees (DeviceSpec::IsVisibleOn). Records
// are filled byte for byte in the adapter's layouts: six-byte addresses in
// text order, 248-byte UTF-8 name fields (a longer name fills the field
// without a terminator), the class of device most significant byte first,
// the 11704-byte service buffer of 117-byte records.
//
// Threads of its own: after WD_Load a watcher tests every second on the clock
// whether the radio is there and posts 1032 (ready) and 1033 (gone) to the
// window given; each opened RFCOMM client has a thread that connects to the
// TCP endpoint standing behind the device's Object Push channel (the socket
// directory of the scenario decides, as for the Microsoft stack's sockets),
// posts 1060 with 0 or a Winsock error, sends each received chunk with 1061
// and posts 1062 when the peer ends the link. Closing a client shuts its
// socket; the thread ends by itself and is joined by Destroy or, if it is
// still handing over a chunk then, by the destructor.
//
// While an instance lives it is the process's current adapter (a second one
// throws std::logic_error); the entry points find it through one
// process-wide pointer and keep it alive for the length of a call. Without
// one they fail. Construct and destroy it on one thread, after the bindings
// have closed their links and unloaded.
class SimWidcomm {
public:
    using ObjectPushLookup = std::function<std::optional<std::string>(const DeviceSpec& device)>;

    // The scenario and the clock must outlive the stand-in.
    SimWidcomm(const Scenario& scenario, const Clock& clock,
               std::function<std::int64_t()> scenarioTimeMs, ObjectPushLookup objectPushServer);
    ~SimWidcomm();
    SimWidcomm(const SimWidcomm&) = delete;
    SimWidcomm& operator=(const SimWidcomm&) = delete;

    // What the last WD_OpenRfCommClient asked for, as the caller passed it.
    struct OpenRecord {
        std::string address;
        std::uint8_t channel = 0;
        GUID serviceClass{};
        std::uint32_t authentication = 0;
        std::uint32_t encryption = 0;
        std::string serviceName;
    };

    // Observations for tests; any thread.
    std::optional<OpenRecord> LastOpen() const;
    std::size_t ClientCount() const;  // created and not yet destroyed
    std::string RadioName() const;    // what WD_SetLocalDeviceName wrote
    bool WatcherRunning() const;

    struct Core;  // shared with the entry points and the client threads

private:
    std::shared_ptr<Core> m_core;
};

// The adapter's entry points by name, for registration as "wcl2btwnr.dll" or
// "wcl2btw.dll". "wbtapi.dll" and "btwapi.dll", the stack's own libraries,
// only need to exist: register them with an empty table.
EntryPointTable SimWidcommEntryPoints();

}  // namespace kavri::sim
