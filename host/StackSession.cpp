#include "host/StackSession.h"

#include <exception>
#include <filesystem>
#include <utility>

#include "platform/Clock.h"
#include "platform/EventLoop.h"
#include "sim/ScenarioParser.h"
#include "sim/VirtualNeighbourhood.h"
#include "sim/VirtualObjectPushDevices.h"
#include "stack/wclAPI.h"
#include "stack/wclBlueZ.h"
#include "stack/wclLoaders.h"

namespace kavri::host {

std::string DefaultInboxRoot() {
    return (std::filesystem::temp_directory_path() / "kavri-virtual-inbox").string();
}

StackSession::StackSession(EventLoop& loop, const Clock& clock, std::string inboxRoot)
    : m_loop(loop), m_clock(clock), m_inboxRoot(std::move(inboxRoot)) {}

StackSession::~StackSession() {
    Close();
}

void StackSession::Close() {
    // The stacks first: a loaded binding may still reach the stand-in
    // libraries, and a link may still reach a virtual device's server.
    m_manager.reset();
    m_neighbourhood.reset();
    m_devices.reset();
}

Result StackSession::Open(const std::optional<std::string>& scenarioPath) {
    if (!scenarioPath) {
        return LoadStacks();
    }
    try {
        return OpenScenario(sim::LoadScenarioFile(*scenarioPath));
    } catch (const std::exception& e) {
        return Result::Failure(e.what());
    }
}

Result StackSession::OpenScenario(sim::Scenario scenario) {
    try {
        // The neighbourhood registers its libraries before the stacks load, so
        // the bindings find them exactly as they would find a real stack. A
        // connect asks the lookup for a device's server only later, by which
        // time the servers run.
        m_neighbourhood = std::make_unique<sim::VirtualNeighbourhood>(
            std::move(scenario), m_clock, sim::VirtualNeighbourhood::Options{}, m_loop,
            [this](const sim::DeviceSpec& device) -> std::optional<std::string> {
                return m_devices ? m_devices->Endpoint(device) : std::nullopt;
            });
        m_devices = std::make_unique<sim::VirtualObjectPushDevices>(
            m_loop, m_neighbourhood->GetScenario(), m_inboxRoot);
    } catch (const std::exception& e) {
        Close();
        return Result::Failure(e.what());
    }
    return LoadStacks();
}

Result StackSession::LoadStacks() {
    try {
        m_manager = std::make_unique<TwclAPIManager>(m_loop, CreateDefaultLoaders(m_clock));
        m_manager->Load();
    } catch (const std::exception& e) {
        Close();
        return Result::Failure(e.what());
    }
    return Result::Success();
}

std::string StackSession::NoRadioAdvice() const {
    if (m_manager == nullptr) {
        return {};
    }
    const auto* bluez =
        dynamic_cast<const TwclBlueZLoader*>(m_manager->Binding(TwclBluetoothAPI::baBlueZ));
    return bluez != nullptr ? BlueZFaultAdvice(bluez->Fault()) : std::string();
}

}  // namespace kavri::host
