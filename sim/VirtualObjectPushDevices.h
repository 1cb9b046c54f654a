#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/EventLoop.h"
#include "sim/Scenario.h"

namespace kavri::sim {

class ObexPushServer;

// The Object Push servers of every virtual device of a scenario that has one
// of its own: one server per device on a loopback port, each keeping what it
// receives in its own inbox folder (inbox root + the address's twelve hex
// digits). Devices without an Object Push service or with an external
// endpoint get no server. Lives on the loop thread; the scenario and the loop
// must outlive it.
class VirtualObjectPushDevices {
public:
    VirtualObjectPushDevices(EventLoop& loop, const Scenario& scenario,
                             const std::filesystem::path& inboxRoot);
    ~VirtualObjectPushDevices();
    VirtualObjectPushDevices(const VirtualObjectPushDevices&) = delete;
    VirtualObjectPushDevices& operator=(const VirtualObjectPushDevices&) = delete;

    // "127.0.0.1:PORT" of the device's server, if it has one.
    std::optional<std::string> Endpoint(const DeviceSpec& device) const;
    // The inbox folder of a device address (whether or not it has a server).
    std::filesystem::path InboxOf(const std::string& address) const;
    const ObexPushServer* ServerOf(const std::string& address) const;

private:
    std::filesystem::path m_inboxRoot;
    std::map<std::string, std::unique_ptr<ObexPushServer>> m_servers;  // by address
};

}  // namespace kavri::sim
