#include "host/Simulation.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace kavri::host {

std::optional<std::string> ChooseScenario(const std::optional<std::string>& option,
                                          const char* variable) {
    if (option) {
        return option->empty() ? DemoScenarioPath() : *option;
    }
    // An empty variable (a script's "KAVRI_SIMULATION=") is off, never the demo.
    if (variable == nullptr || *variable == '\0') {
        return std::nullopt;
    }
    if (std::string_view(variable) == kDemoScenarioName) {
        return DemoScenarioPath();
    }
    return std::string(variable);
}

std::optional<std::string> ChooseScenario(const std::optional<std::string>& option) {
    return ChooseScenario(option, std::getenv(std::string(kSimulationVariable).c_str()));
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

}  // namespace kavri::host
