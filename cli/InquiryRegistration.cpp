#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>

#include "cli/Commands.h"
#include "cli/InquiryCommand.h"
#include "host/Simulation.h"

namespace kavri::cli {

std::optional<std::string> ScenarioOption(bool given, const std::string& value) {
    // Without the option, KAVRI_SIMULATION decides, as for every program.
    return host::ChooseScenario(given ? std::optional<std::string>(value) : std::nullopt);
}

CommandAction RegisterInquiryCommand(CLI::App& app, const GlobalOptions&) {
    auto* command = app.add_subcommand(
        "inquiry", "search for Bluetooth devices in range and list them, one per line");
    auto scenario = std::make_shared<std::string>();
    auto* simulate = command
                         ->add_option("--simulate", *scenario,
                                      "use the virtual neighbourhood of this scenario file (the "
                                      "demo when no file is given)")
                         ->expected(0, 1);
    auto stack = std::make_shared<std::string>();
    auto* stackOption = command->add_option(
        "--stack", *stack,
        "list the devices of this Bluetooth stack's radio: microsoft, bluesoleil, toshiba, "
        "widcomm or bluez (default: the first radio)");
    return [command, simulate, scenario, stack, stackOption]() -> int {
        if (!command->parsed())
            return -1;
        return RunInquiry(
            ScenarioOption(simulate->count() > 0, *scenario), stdout, stderr,
            stackOption->count() > 0 ? std::optional<std::string>(*stack) : std::nullopt);
    };
}

}  // namespace kavri::cli
