#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>

#include "cli/Commands.h"
#include "cli/InquiryCommand.h"
#include "cli/StackSession.h"

namespace kavri::cli {

std::optional<std::string> ScenarioOption(bool given, const std::string& value) {
    if (!given)
        return std::nullopt;
    return value.empty() ? DemoScenarioPath() : value;
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
    return [command, simulate, scenario]() -> int {
        if (!command->parsed())
            return -1;
        return RunInquiry(ScenarioOption(simulate->count() > 0, *scenario), stdout, stderr);
    };
}

}  // namespace kavri::cli
