#include "sim/VirtualObjectPushDevices.h"

#include "sim/ObexPushServer.h"

#include <cctype>

namespace kavri::sim {

VirtualObjectPushDevices::VirtualObjectPushDevices(EventLoop& loop, const Scenario& scenario,
                                                   const std::filesystem::path& inboxRoot)
    : m_inboxRoot(inboxRoot) {
    for (const DeviceSpec& device : scenario.devices) {
        if (device.behaviour == PushBehaviour::NoObjectPush || device.externalEndpoint)
            continue;
        if (m_servers.count(device.address) != 0)
            continue;  // first of a repeated address
        m_servers.emplace(device.address,
                          std::make_unique<ObexPushServer>(loop, device, InboxOf(device.address)));
    }
}

VirtualObjectPushDevices::~VirtualObjectPushDevices() = default;

std::optional<std::string> VirtualObjectPushDevices::Endpoint(const DeviceSpec& device) const {
    const ObexPushServer* server = ServerOf(device.address);
    if (server == nullptr || server->Port() == 0)
        return std::nullopt;
    return "127.0.0.1:" + std::to_string(server->Port());
}

std::filesystem::path VirtualObjectPushDevices::InboxOf(const std::string& address) const {
    // Only the hex digits: the folder name needs no punctuation.
    std::string name;
    for (char c : address) {
        if (std::isxdigit(static_cast<unsigned char>(c))) {
            name += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
    }
    return m_inboxRoot / name;
}

const ObexPushServer* VirtualObjectPushDevices::ServerOf(const std::string& address) const {
    const auto it = m_servers.find(address);
    return it == m_servers.end() ? nullptr : it->second.get();
}

}  // namespace kavri::sim
