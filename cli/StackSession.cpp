#include "cli/StackSession.h"

#include <filesystem>
#include <system_error>

#include "sim/ScenarioParser.h"
#include "sim/VirtualNeighbourhood.h"
#include "sim/VirtualObjectPushDevices.h"
#include "stack/wclAPI.h"
#include "stack/wclLoaders.h"

namespace kavri::cli {

StackSession::StackSession(const std::optional<std::string>& scenarioPath,
                           const std::string& inboxRoot) {
    // The neighbourhood registers its libraries before the stacks load, so
    // the bindings find them exactly as they would find a real stack. A
    // connect asks the lookup for a device's server only later, by which time
    // the servers run.
    if (scenarioPath) {
        m_neighbourhood = std::make_unique<sim::VirtualNeighbourhood>(
            sim::LoadScenarioFile(*scenarioPath), m_clock, sim::VirtualNeighbourhood::Options{},
            m_loop, [this](const sim::DeviceSpec& device) -> std::optional<std::string> {
                return m_devices ? m_devices->Endpoint(device) : std::nullopt;
            });
        m_devices = std::make_unique<sim::VirtualObjectPushDevices>(
            m_loop, m_neighbourhood->GetScenario(), inboxRoot);
    }
    m_manager = std::make_unique<TwclAPIManager>(m_loop, CreateDefaultLoaders(m_clock));
    m_manager->Load();
}

StackSession::~StackSession() {
    m_manager.reset();
    m_neighbourhood.reset();
    m_devices.reset();
}

bool StackSession::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline)
            return false;
        const auto left = std::chrono::duration_cast<Clock::Duration>(deadline - now);
        m_loop.ProcessEvents(std::min(left, Clock::Duration(100)));
    }
    return true;
}

std::string DefaultInboxRoot() {
    return (std::filesystem::temp_directory_path() / "kavri-virtual-inbox").string();
}

std::string DemoScenarioPath() {
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        const auto installed = self.parent_path() / "../share/kavri/demo.scenario";
        if (std::filesystem::exists(installed, error))
            return installed.lexically_normal();
    }
    return std::string(KAVRI_SOURCE_DIR) + "/sim/demo.scenario";
}

}  // namespace kavri::cli
