#include "sim/SimBlueZStack.h"

#include "sim/PrivateBus.h"
#include "sim/SimBlueZ.h"
#include "sim/SimWinsockSockets.h"
#include "sim/SimulationFiles.h"
#include "sim/TcpEndpoint.h"
#include "sim/VirtualSdpServers.h"
#include "stack/wclBlueZPlatform.h"

#include <cerrno>
#include <mutex>
#include <stdexcept>

namespace kavri::sim {

struct SimBlueZStack::State {
    std::string busAddress;
    std::unique_ptr<VirtualSdpServers> sdp;
    std::unique_ptr<ScenarioSocketDirectory> directory;
};

namespace {

std::mutex g_mutex;
std::shared_ptr<SimBlueZStack::State> g_current;  // guarded by g_mutex

std::shared_ptr<SimBlueZStack::State> Current() {
    std::lock_guard lock(g_mutex);
    return g_current;
}

const char* BusAddressEntry() {
    // The state stays alive while the stack does, and the caller copies the
    // text at once.
    const std::shared_ptr<SimBlueZStack::State> state = Current();
    return state != nullptr ? state->busAddress.c_str() : "";
}

int ConnectEntry(int protocol, std::uint64_t address, std::uint16_t port, int* error) {
    int failure = 0;
    int fd = -1;
    const std::shared_ptr<SimBlueZStack::State> state = Current();
    if (state == nullptr || state->sdp == nullptr) {
        failure = ENETDOWN;
    } else if (protocol == bluez::kProtocolL2CAP) {
        // Only the SDP server listens on L2CAP; it answers while the device
        // can be reached at all.
        const DeviceSpec* device = state->directory->Reachable(address);
        if (device == nullptr) {
            failure = EHOSTDOWN;
        } else if (port != bluez::kSdpPsm) {
            failure = ECONNREFUSED;
        } else if (const auto endpoint = state->sdp->Endpoint(device->address)) {
            fd = ConnectWithoutWaiting(*endpoint, failure);
        } else {
            failure = EHOSTDOWN;
        }
    } else if (protocol == bluez::kProtocolRFCOMM) {
        const SimSocketRoute route = state->directory->ResolveRfcomm(address, port, GUID{});
        if (route.error == winsock::kWsaETimedOut) {
            failure = EHOSTDOWN;
        } else if (route.error != 0) {
            failure = ECONNREFUSED;
        } else {
            fd = ConnectWithoutWaiting(route.endpoint, failure);
        }
    } else {
        failure = EPROTONOSUPPORT;
    }
    if (error != nullptr)
        *error = fd < 0 ? failure : 0;
    return fd;
}

}  // namespace

SimBlueZStack::SimBlueZStack(const Scenario& scenario, const Clock& clock, Sources sources)
    : m_state(std::make_shared<State>()) {
    if (Current() != nullptr)
        throw std::logic_error("another stand-in BlueZ stack is current");
    if (scenario.IsInstalled(StackKind::BlueZ)) {
        m_bus = PrivateBus::Start(BusConfigPath());
        m_state->busAddress = m_bus->Address();
        m_state->sdp = std::make_unique<VirtualSdpServers>(scenario);
        ScenarioSocketDirectory::Sources route;
        route.scenarioTimeMs = std::move(sources.scenarioTimeMs);
        route.objectPushServer = std::move(sources.objectPushServer);
        route.stack = StackKind::BlueZ;
        m_state->directory = std::make_unique<ScenarioSocketDirectory>(scenario, std::move(route));
        m_daemon = std::make_unique<SimBlueZ>(scenario, clock, m_state->busAddress);
    }
    std::lock_guard lock(g_mutex);
    if (g_current != nullptr)
        throw std::logic_error("another stand-in BlueZ stack is current");
    g_current = m_state;
}

SimBlueZStack::~SimBlueZStack() {
    {
        std::lock_guard lock(g_mutex);
        g_current.reset();
    }
    m_daemon.reset();
    m_bus.reset();
}

SimBlueZ* SimBlueZStack::Daemon() const {
    return m_daemon.get();
}

VirtualSdpServers* SimBlueZStack::SdpServers() const {
    return m_state->sdp.get();
}

std::string SimBlueZStack::BusAddress() const {
    return m_state->busAddress;
}

EntryPointTable SimBlueZStack::EntryPoints() {
    return {
        {"BusAddress", reinterpret_cast<void*>(&BusAddressEntry)},
        {"Connect", reinterpret_cast<void*>(&ConnectEntry)},
    };
}

std::string BusConfigPath() {
    return SimulationFilePath("bluez-bus.conf");
}

}  // namespace kavri::sim
