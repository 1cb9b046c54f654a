#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/DynamicLibrary.h"

namespace kavri::bluez {

// What the BlueZ binding reaches Linux's Bluetooth stack through: the D-Bus
// system bus, where the daemon serves org.bluez, and the kernel's Bluetooth
// sockets (L2CAP for service discovery, RFCOMM for links).
//
// An in-process library named "bluez" stands in for both; the virtual
// neighbourhood registers one, so that a simulation never reaches the
// machine's own radio. Its entry points:
//   "BusAddress"  const char* ()
//       the address of the bus that serves org.bluez; empty when the stack is
//       not installed;
//   "Connect"     int (int protocol, std::uint64_t address, std::uint16_t port, int* error)
//       a non-blocking stream socket to the device whose connect is under way
//       or done (writable once it ends, SO_ERROR telling how), or -1 with
//       *error set to an errno value.
//
// A value, copied freely; any thread.
inline constexpr int kProtocolL2CAP = 0;   // port: the PSM
inline constexpr int kProtocolRFCOMM = 3;  // port: the channel
inline constexpr std::uint16_t kSdpPsm = 1;

class Platform {
public:
    // The stand-in when one is registered, else the system.
    static Platform Load();

    // False when a stand-in says the stack is not installed.
    bool Installed() const { return m_installed; }
    // Empty: the system bus.
    const std::string& BusAddress() const { return m_busAddress; }
    bool IsStandIn() const { return m_library != nullptr; }

    // Opens a socket and starts connecting it. Returns the descriptor, or -1
    // with error set (an errno value).
    int Connect(int protocol, std::uint64_t address, std::uint16_t port, int& error) const;

private:
    using ConnectFunction = int (*)(int, std::uint64_t, std::uint16_t, int*);

    bool m_installed = true;
    std::string m_busAddress;
    std::shared_ptr<const DynamicLibrary> m_library;  // the stand-in, kept loaded
    ConnectFunction m_connect = nullptr;
};

}  // namespace kavri::bluez
