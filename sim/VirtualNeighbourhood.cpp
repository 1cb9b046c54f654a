#include "sim/VirtualNeighbourhood.h"

#include "platform/Text.h"
#include "sim/SimBlueSoleil.h"
#include "sim/SimBlueZStack.h"
#include "sim/SimToshiba.h"
#include "sim/SimWidcomm.h"
#include "sim/SimWin32Libraries.h"
#include "sim/SimWinsockSockets.h"

#include <atomic>
#include <stdexcept>

namespace kavri::sim {
namespace {

// Set and cleared only together with the current SimWin32State.
std::atomic<VirtualNeighbourhood*> g_currentNeighbourhood{nullptr};

}  // namespace

VirtualNeighbourhood::VirtualNeighbourhood(Scenario scenario, const Clock& clock)
    : VirtualNeighbourhood(std::move(scenario), clock, Options{}) {}

VirtualNeighbourhood::VirtualNeighbourhood(Scenario scenario, const Clock& clock, Options options)
    : VirtualNeighbourhood(std::move(scenario), clock, options, nullptr, {}) {}

VirtualNeighbourhood::VirtualNeighbourhood(Scenario scenario, const Clock& clock, Options options,
                                           EventLoop& loop, ObjectPushLookup objectPushServer)
    : VirtualNeighbourhood(std::move(scenario), clock, options, &loop, objectPushServer) {}

VirtualNeighbourhood::VirtualNeighbourhood(Scenario scenario, const Clock& clock,
                                           const Options& options, EventLoop* loop,
                                           const ObjectPushLookup& objectPushServer)
    : m_state(std::make_shared<SimWin32State>(std::move(scenario), clock)) {
    if (!InstallSimWin32State(m_state))
        throw std::logic_error("another virtual neighbourhood is current");
    g_currentNeighbourhood.store(this);
    try {
        RegisterLibraries(options, clock, loop, objectPushServer);
        RegisterWidcomm(options, clock, objectPushServer);
    } catch (...) {
        // A neighbourhood that failed to build must not stay current.
        m_registrations.clear();
        m_widcomm.reset();
        m_sockets.reset();
        m_blueSoleil.reset();
        m_toshiba.reset();
        m_bluez.reset();
        g_currentNeighbourhood.store(nullptr);
        UninstallSimWin32State(m_state);
        throw;
    }
}

void VirtualNeighbourhood::RegisterLibraries(const Options& options, const Clock& clock,
                                             EventLoop* loop,
                                             const ObjectPushLookup& objectPushServer) {
    const Scenario& model = m_state->GetScenario();
    if (model.IsInstalled(StackKind::Microsoft)) {
        m_registrations.push_back(InProcessLibraries::Register(
            options.bluetoothApiAsBthpropsOnly ? "bthprops.cpl" : "irprops.cpl",
            SimBluetoothApiEntryPoints()));
    }
    // The platform's own libraries are there whatever stack is installed.
    EntryPointTable winsock = SimWinsockEntryPoints();
    if (loop != nullptr) {
        const std::shared_ptr<SimWin32State> state = m_state;
        m_socketDirectory = std::make_unique<ScenarioSocketDirectory>(
            model, ScenarioSocketDirectory::Sources{
                       [state] { return state->ScenarioTimeMs(); },
                       [state] { return state->IrDADevicePresent(); },
                       objectPushServer,
                       {},
                   });
        m_sockets = std::make_unique<SimWinsockSockets>(*loop, *m_socketDirectory);
        // The stream sockets take over socket and closesocket, which open
        // IrDA sockets the same way.
        for (auto& [name, entry] : SimWinsockSocketEntryPoints()) {
            winsock[name] = entry;
        }
    }
    m_registrations.push_back(InProcessLibraries::Register("ws2_32.dll", std::move(winsock)));
    m_registrations.push_back(
        InProcessLibraries::Register("setupapi.dll", SimSetupApiEntryPoints()));
    m_registrations.push_back(InProcessLibraries::Register("advapi32.dll", SimAdvapiEntryPoints()));
    m_registrations.push_back(
        InProcessLibraries::Register("kernel32.dll", SimKernel32EntryPoints()));
    if (model.IsInstalled(StackKind::RAPI)) {
        m_registrations.push_back(InProcessLibraries::Register("rapi.dll", SimRapiEntryPoints()));
        m_registrations.push_back(
            InProcessLibraries::Register("Ceutil.dll", SimCeutilEntryPoints()));
    }
    RegisterOtherStacks(clock, objectPushServer);
}

// The stand-ins of the stacks that hand back virtual COM ports (they connect
// through pseudo-terminals of their own and need no event loop), and BlueZ's,
// whose sockets the binding watches on its own loop.
void VirtualNeighbourhood::RegisterOtherStacks(const Clock& clock,
                                               const ObjectPushLookup& objectPushServer) {
    const Scenario& model = m_state->GetScenario();
    const std::shared_ptr<SimWin32State> state = m_state;
    const auto now = [state] { return state->ScenarioTimeMs(); };
    m_bluez = std::make_unique<SimBlueZStack>(model, clock,
                                              SimBlueZStack::Sources{now, objectPushServer});
    m_registrations.push_back(InProcessLibraries::Register("bluez", SimBlueZStack::EntryPoints()));
    if (model.IsInstalled(StackKind::BlueSoleil)) {
        m_blueSoleil =
            std::make_unique<SimBlueSoleil>(model, SimBlueSoleil::Sources{now, objectPushServer});
        m_registrations.push_back(
            InProcessLibraries::Register("btfunc.dll", SimBlueSoleil::EntryPoints()));
    }
    if (model.IsInstalled(StackKind::Toshiba)) {
        m_toshiba = std::make_unique<SimToshiba>(model, SimToshiba::Sources{now, objectPushServer});
        m_registrations.push_back(
            InProcessLibraries::Register("TosBtAPI.dll", SimToshiba::EntryPoints()));
    }
}

// The Widcomm stack's own library only needs to be there; the adapter's
// entry points reach the stand-in.
void VirtualNeighbourhood::RegisterWidcomm(const Options& options, const Clock& clock,
                                           const ObjectPushLookup& objectPushServer) {
    if (!m_state->GetScenario().IsInstalled(StackKind::Widcomm))
        return;
    const std::shared_ptr<SimWin32State> state = m_state;
    m_widcomm = std::make_unique<SimWidcomm>(
        state->GetScenario(), clock, [state] { return state->ScenarioTimeMs(); }, objectPushServer);
    m_registrations.push_back(InProcessLibraries::Register("wbtapi.dll", {}));
    if (options.widcommOlderAdapter) {
        m_registrations.push_back(InProcessLibraries::Register("btwapi.dll", {}));
        m_registrations.push_back(
            InProcessLibraries::Register("wcl2btw.dll", SimWidcommEntryPoints()));
    } else {
        m_registrations.push_back(
            InProcessLibraries::Register("wcl2btwnr.dll", SimWidcommEntryPoints()));
    }
}

SimWidcomm* VirtualNeighbourhood::Widcomm() const {
    return m_widcomm.get();
}

SimBlueZStack& VirtualNeighbourhood::BlueZ() const {
    return *m_bluez;
}

VirtualNeighbourhood::~VirtualNeighbourhood() {
    m_registrations.clear();
    m_widcomm.reset();
    m_sockets.reset();
    m_blueSoleil.reset();
    m_toshiba.reset();
    m_bluez.reset();
    g_currentNeighbourhood.store(nullptr);
    UninstallSimWin32State(m_state);
}

VirtualNeighbourhood* VirtualNeighbourhood::Current() {
    return g_currentNeighbourhood.load();
}

const Scenario& VirtualNeighbourhood::GetScenario() const {
    return m_state->GetScenario();
}

std::int64_t VirtualNeighbourhood::ScenarioTimeMs() const {
    return m_state->ScenarioTimeMs();
}

void VirtualNeighbourhood::SetComputerName(const std::string& name) {
    m_state->SetComputerName(Utf8ToUtf16(name));
}

std::string VirtualNeighbourhood::ComputerName() const {
    return Utf16ToUtf8(m_state->ComputerName());
}

void VirtualNeighbourhood::SetOsVersion(std::uint32_t major, std::uint32_t minor,
                                        std::uint32_t platform) {
    m_state->SetOsVersion(major, minor, platform);
}

void VirtualNeighbourhood::SetAddressTextSuffix(const std::string& suffix) {
    m_state->SetAddressTextSuffix(Utf8ToUtf16(suffix));
}

void VirtualNeighbourhood::SetIrDADevicePresent(bool present) {
    m_state->SetIrDADevicePresent(present);
}

void VirtualNeighbourhood::SetRapiDeviceConnected(bool connected) {
    if (m_state->SetRapiDeviceConnected(connected))
        SignalRapiSessions();
}

std::optional<VirtualNeighbourhood::RegistryValue> VirtualNeighbourhood::LocalNameValue() const {
    const auto value = m_state->ReadRegistryValue(
        u"SYSTEM\\CurrentControlSet\\Enum\\" + m_state->RadioInstanceId() + u"\\Device Parameters",
        u"Local Name");
    if (!value)
        return std::nullopt;
    return RegistryValue{value->type, value->data};
}

std::optional<std::uint32_t> VirtualNeighbourhood::LastDeviceIoControlCode() const {
    return m_state->LastDeviceIoControlCode();
}

std::string VirtualNeighbourhood::RadioName() const {
    return Utf16ToUtf8(m_state->RadioName());
}

std::string VirtualNeighbourhood::RadioInstanceId() const {
    return Utf16ToUtf8(m_state->RadioInstanceId());
}

std::size_t VirtualNeighbourhood::OpenHandleCount() const {
    return m_state->OpenHandleCount();
}

std::uint64_t VirtualNeighbourhood::RadioFindCount() const {
    return m_state->RadioFindCount();
}

}  // namespace kavri::sim
