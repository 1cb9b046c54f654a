#include "host/Simulation.h"

#include "sim/SimulationFiles.h"

#include <cstdlib>

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

std::optional<std::string> SimulateOption(const std::vector<std::string>& arguments) {
    static constexpr std::string_view kOption = "--simulate";
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view argument = arguments[i];
        if (argument == kOption) {
            const bool valueFollows = i + 1 < arguments.size() && !arguments[i + 1].empty() &&
                                      arguments[i + 1].front() != '-';
            return valueFollows ? arguments[i + 1] : std::string();
        }
        if (argument.starts_with(kOption) && argument[kOption.size()] == '=') {
            return std::string(argument.substr(kOption.size() + 1));
        }
    }
    return std::nullopt;
}

std::optional<std::string> ChooseScenario(const std::optional<std::string>& option) {
    return ChooseScenario(option, std::getenv(std::string(kSimulationVariable).c_str()));
}

std::string DemoScenarioPath() {
    return sim::SimulationFilePath("demo.scenario");
}

}  // namespace kavri::host
