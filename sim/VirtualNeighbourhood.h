#pragma once

#include "platform/Clock.h"
#include "platform/DynamicLibrary.h"
#include "platform/EventLoop.h"
#include "sim/Scenario.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kavri::sim {

class SimWin32State;
class ScenarioSocketDirectory;
class SimWinsockSockets;
class SimWidcomm;
class SimBlueSoleil;
class SimToshiba;
class SimBlueZStack;

// The virtual neighbourhood: one scenario brought to life on a clock. While it
// lives it is the process's current neighbourhood and its stand-in libraries
// are registered under the names the stack bindings load (for the installed
// stacks: the Microsoft stack's "irprops.cpl" or "bthprops.cpl", and
// "ws2_32.dll", "setupapi.dll", "advapi32.dll", "kernel32.dll", which every
// system has; "rapi.dll" and "Ceutil.dll" for RAPI; IrDA through Winsock's
// address family 26 and SetupAPI's infrared class; "wbtapi.dll" and the
// adapter "wcl2btwnr.dll" for Widcomm, see SimWidcomm; "bluez" always, see
// SimBlueZStack). Scenario time is the
// clock's time since construction.
//
// Exactly one neighbourhood is current at a time: the libraries' entry points
// are plain functions and find the model through one process-wide pointer,
// set here and cleared by the destructor. Constructing a second one while one
// lives throws std::logic_error. An entry-point call in flight keeps the model
// alive, so destroying the neighbourhood while a watcher thread is inside a
// call is safe; afterwards every entry point fails with its error code.
// Unload the bindings first anyway: a library loaded before stays loaded.
//
// Given an event loop, "ws2_32.dll" also carries the stream sockets of the
// Bluetooth and IrDA families (SimWinsockSockets): a connect to a device's
// Object Push channel reaches the TCP endpoint that stands behind it, and the
// scenario decides who answers (ScenarioSocketDirectory). The neighbourhood
// is then constructed and destroyed on that loop's thread.
//
// Construct and destroy it on one thread; the setters and observations may be
// used from any thread. The clock must outlive it.
class VirtualNeighbourhood {
public:
    struct Options {
        // Register the Bluetooth API only as "bthprops.cpl".
        bool bluetoothApiAsBthpropsOnly = false;
        // Install Widcomm as an older stack: "btwapi.dll" and the adapter
        // "wcl2btw.dll" instead of "wcl2btwnr.dll".
        bool widcommOlderAdapter = false;
    };

    // The endpoint ("host:port") of a device's built-in Object Push server, if
    // one runs for it; devices with an external endpoint use that instead.
    using ObjectPushLookup = std::function<std::optional<std::string>(const DeviceSpec& device)>;

    struct RegistryValue {
        std::uint32_t type = 0;
        std::vector<std::uint8_t> data;
    };

    VirtualNeighbourhood(Scenario scenario, const Clock& clock);
    VirtualNeighbourhood(Scenario scenario, const Clock& clock, Options options);
    // With the stream sockets, whose events the loop carries.
    VirtualNeighbourhood(Scenario scenario, const Clock& clock, Options options, EventLoop& loop,
                         ObjectPushLookup objectPushServer = {});
    ~VirtualNeighbourhood();
    VirtualNeighbourhood(const VirtualNeighbourhood&) = delete;
    VirtualNeighbourhood& operator=(const VirtualNeighbourhood&) = delete;

    // The neighbourhood that is current now, or nullptr. Only the thread that
    // owns it may rely on the pointer staying valid.
    static VirtualNeighbourhood* Current();

    const Scenario& GetScenario() const;
    std::int64_t ScenarioTimeMs() const;

    // The computer's name (UTF-8); the radio's name when it has no other.
    void SetComputerName(const std::string& name);
    std::string ComputerName() const;
    // What GetVersionExA reports; 6.1 on the NT platform (2) unless set.
    void SetOsVersion(std::uint32_t major, std::uint32_t minor, std::uint32_t platform = 2);
    // Text that WSAAddressToStringW appends after the ")" of every address.
    void SetAddressTextSuffix(const std::string& suffix);
    // Moves the IrDA device and the Windows CE device in and out of reach.
    void SetIrDADevicePresent(bool present);
    void SetRapiDeviceConnected(bool connected);

    // The radio's "Local Name" registry value, if it has one.
    std::optional<RegistryValue> LocalNameValue() const;
    // The control code of the last DeviceIoControl made on a radio handle.
    std::optional<std::uint32_t> LastDeviceIoControlCode() const;
    // The name the radio reports now (UTF-8).
    std::string RadioName() const;
    // The radio's device instance identifier (UTF-8).
    std::string RadioInstanceId() const;
    // Handles of every kind that callers have opened and not yet closed.
    std::size_t OpenHandleCount() const;
    // How many times BluetoothFindFirstRadio has been called.
    std::uint64_t RadioFindCount() const;
    // The Widcomm adapter's stand-in while Widcomm is installed, else null.
    SimWidcomm* Widcomm() const;
    // The BlueZ stand-in: always there, so that the BlueZ binding never
    // reaches the machine's own radio during a simulation.
    SimBlueZStack& BlueZ() const;

private:
    VirtualNeighbourhood(Scenario scenario, const Clock& clock, const Options& options,
                         EventLoop* loop, const ObjectPushLookup& objectPushServer);
    void RegisterLibraries(const Options& options, const Clock& clock, EventLoop* loop,
                           const ObjectPushLookup& objectPushServer);
    void RegisterWidcomm(const Options& options, const Clock& clock,
                         const ObjectPushLookup& objectPushServer);
    void RegisterOtherStacks(const Clock& clock, const ObjectPushLookup& objectPushServer);

    std::shared_ptr<SimWin32State> m_state;
    std::unique_ptr<ScenarioSocketDirectory> m_socketDirectory;
    std::unique_ptr<SimWinsockSockets> m_sockets;
    std::unique_ptr<SimWidcomm> m_widcomm;
    // The stand-in stacks other than Microsoft's, while installed.
    std::unique_ptr<SimBlueSoleil> m_blueSoleil;
    std::unique_ptr<SimToshiba> m_toshiba;
    std::unique_ptr<SimBlueZStack> m_bluez;
    std::vector<std::unique_ptr<InProcessLibraries::Registration>> m_registrations;
};

}  // namespace kavri::sim
