#pragma once

#include "platform/Clock.h"
#include "sim/Scenario.h"

#include <cstdint>
#include <memory>
#include <string>

namespace kavri::sim {

// The stand-in Bluetooth daemon on a private bus (PrivateBus): it owns the
// name "org.bluez" and exports, from the scenario, the adapter
// /org/bluez/hci0 (org.bluez.Adapter1) while the bluez radio is plugged in and
// a /org/bluez/hci0/dev_XX_XX_XX_XX_XX_XX object (org.bluez.Device1) for each
// device a discovery has found, with the object manager at "/" and the
// standard properties interface, their signals and the daemon's error names.
//
// Thread: one of its own, to which every D-Bus object is confined. It wakes at
// least every 5 ms of real time to follow the clock (scenario time is the
// clock's time since construction), so a test moves the neighbourhood by
// advancing a ManualClock. The constructor returns once the name is owned and
// throws std::runtime_error when the bus cannot be reached or the name is
// taken. The test hooks may be called from any thread except the stand-in's
// own; each returns after it took effect there. The scenario and the clock
// must outlive the stand-in; the destructor releases the name and joins.
class SimBlueZ {
public:
    SimBlueZ(const Scenario& scenario, const Clock& clock, const std::string& busAddress);
    ~SimBlueZ();
    SimBlueZ(const SimBlueZ&) = delete;
    SimBlueZ& operator=(const SimBlueZ&) = delete;

    // The operator's switch: off ends every discovery and hides the RSSI.
    void SetPowered(bool powered);
    // The radio's kill switch: blocked is off with PowerState "off-blocked",
    // and powering on fails until unblocked (which leaves the adapter off).
    void SetBlocked(bool blocked);

    bool Discovering() const;
    // StartDiscovery calls that succeeded, of every client.
    std::uint64_t DiscoveryStarts() const;
    std::string Alias() const;

    class Daemon;  // the state of the stand-in thread

private:
    std::unique_ptr<Daemon> m_daemon;
};

}  // namespace kavri::sim
