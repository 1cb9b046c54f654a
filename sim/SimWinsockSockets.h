#pragma once

#include "platform/DynamicLibrary.h"
#include "platform/EventLoop.h"
#include "sim/Scenario.h"
#include "stack/wclBluetoothAddress.h"
#include "stack/wclUUIDs.h"
#include "stack/wclWinsockApi.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace kavri::sim {

// The stand-in for Winsock's stream sockets of the Bluetooth (32) and IrDA
// (26) families: each such socket is a TCP socket to a loopback (or any TCP)
// endpoint that stands behind the remote address, such as a virtual device's
// OBEX Object Push server.

// Where a connect lands: a TCP endpoint "host:port" ("127.0.0.1:6500",
// "[::1]:650"), or a Winsock error that the connect fails with (reported
// through FD_CONNECT on an asynchronous socket, as the system does).
struct SimSocketRoute {
    int error = 0;
    std::string endpoint;

    static SimSocketRoute Fail(int wsaError) { return SimSocketRoute{wsaError, {}}; }
    static SimSocketRoute To(std::string hostPort) {
        return SimSocketRoute{0, std::move(hostPort)};
    }
};

// What stands behind the remote addresses. Called on the thread that calls
// connect (the loop thread for the connections); must not block.
class SimSocketDirectory {
public:
    virtual ~SimSocketDirectory() = default;
    // Whether socket() opens sockets of this address family.
    virtual bool SupportsFamily(int family) const = 0;
    // An RFCOMM connect. Channel 0 means: the channel of serviceClass among
    // the device's services, as the system's stack finds it by service
    // discovery.
    virtual SimSocketRoute ResolveRfcomm(std::uint64_t address, std::uint32_t channel,
                                         const GUID& serviceClass) = 0;
    virtual SimSocketRoute ResolveIrDA(const IrDADeviceId& deviceId,
                                       const std::string& service) = 0;
};

// The directory of a scenario:
//  - family 32 while the Microsoft stack is installed, 26 while IrDA is;
//  - a device that is unknown or out of range at the scenario time: 10060
//    (timed out, as a page that nobody answers);
//  - channel 0 and no service of the class: 10049 (address not available);
//  - a busy device: 10061 (refused);
//  - the channel of the device's Object Push service (0x1105): its external
//    endpoint if it names one, else what objectPushServer answers for the
//    device; nothing there, or any other channel: 10061 (nobody listens);
//  - IrDA: no device in reach: 10060; else what irdaService answers for the
//    service name, or 10061.
// Thread-safe as long as the functions given are.
class ScenarioSocketDirectory final : public SimSocketDirectory {
public:
    struct Sources {
        // Milliseconds of scenario time now.
        std::function<std::int64_t()> scenarioTimeMs;
        // Whether an IrDA device is in reach; absent: the scenario's value.
        std::function<bool()> irdaDevicePresent;
        // The endpoint of a device's built-in Object Push server, if it runs.
        std::function<std::optional<std::string>(const DeviceSpec& device)> objectPushServer;
        // The endpoint of an IrDA service of the device in reach, if any.
        std::function<std::optional<std::string>(const std::string& service)> irdaService;
        // The stack whose radio connects: a device it does not see is out of
        // reach.
        StackKind stack = StackKind::Microsoft;
    };

    // The scenario must outlive the directory.
    ScenarioSocketDirectory(const Scenario& scenario, Sources sources);

    bool SupportsFamily(int family) const override;
    SimSocketRoute ResolveRfcomm(std::uint64_t address, std::uint32_t channel,
                                 const GUID& serviceClass) override;
    SimSocketRoute ResolveIrDA(const IrDADeviceId& deviceId, const std::string& service) override;
    // The device with that address when it is known, in range at the scenario
    // time and seen by the stack's radio; else null (a page nobody answers).
    const DeviceSpec* Reachable(std::uint64_t address) const;

private:
    const Scenario& m_scenario;
    Sources m_sources;
    std::map<std::uint64_t, const DeviceSpec*> m_devices;
};

// What the last connect asked for, as the caller passed it; for tests.
struct SimConnectRecord {
    int family = 0;
    std::uint64_t address = 0;  // Bluetooth
    GUID serviceClass{};        // Bluetooth
    std::uint32_t port = 0;     // Bluetooth channel
    IrDADeviceId irdaDeviceId{};
    std::string irdaService;
    // (level, option name) -> value, as set with setsockopt before connect.
    std::map<std::pair<int, int>, std::uint32_t> options;
};

// The stand-in sockets, and the entry points of "ws2_32.dll" that reach them:
// socket, closesocket, setsockopt, connect, send, recv, WSAAsyncSelect,
// WSAStringToAddressW and WSAGetLastError.
//
// While an instance lives it is the process's current socket layer (a second
// one throws std::logic_error); the entry points find it through one
// process-wide pointer and keep it alive for the length of a call; without
// one they fail with 10050 (network down).
//
// Events: WSAAsyncSelect watches the TCP socket on the given event loop and
// posts (never sends) the asked message to the window with the socket as the
// first parameter and WSAMAKESELECTREPLY(event, error) as the second:
// FD_CONNECT once with the connect's result, FD_READ when data waits (again
// only after the next recv, as the system re-enables it), FD_CLOSE once when
// the peer has closed (after the data before it has been read) or reset the
// link. A socket becomes non-blocking with WSAAsyncSelect.
// Deliberate difference: send waits (up to the socket's send time-out, if
// set) for room in the TCP buffer instead of failing with 10035, as the
// system's RFCOMM sockets take whole packets into their own buffers.
//
// Threads: the entry points may be called from any thread; the watches live
// on the loop's thread (calls from elsewhere post their watch changes there).
// Construct and destroy it on the loop's thread, before the loop goes; the
// destructor closes every socket still open.
class SimWinsockSockets {
public:
    // The directory must outlive the sockets.
    SimWinsockSockets(EventLoop& loop, SimSocketDirectory& directory);
    ~SimWinsockSockets();
    SimWinsockSockets(const SimWinsockSockets&) = delete;
    SimWinsockSockets& operator=(const SimWinsockSockets&) = delete;

    // Observations.
    std::size_t OpenSocketCount() const;
    std::optional<SimConnectRecord> LastConnect() const;

    struct Core;  // shared with the entry points and the watches

private:
    std::shared_ptr<Core> m_core;
};

// The entry points above, by name, for registration as (part of) "ws2_32.dll".
EntryPointTable SimWinsockSocketEntryPoints();

}  // namespace kavri::sim
