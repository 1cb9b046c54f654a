#include <CLI/CLI.hpp>

#include <memory>
#include <string>

#include "cli/Commands.h"
#include "cli/RunCommand.h"
#include "cli/StackSession.h"

namespace kavri::cli {

CommandAction RegisterRunCommand(CLI::App& app, const GlobalOptions& global) {
    auto* command = app.add_subcommand(
        "run",
        "start the sender as the main window's Start command does and print one line per "
        "event until stopped (SIGINT or SIGTERM)");
    auto scenario = std::make_shared<std::string>();
    auto inbox = std::make_shared<std::string>(DefaultInboxRoot());
    auto cycles = std::make_shared<unsigned>(0);
    auto* simulate = command
                         ->add_option("--simulate", *scenario,
                                      "use the virtual neighbourhood of this scenario file (the "
                                      "demo when no file is given)")
                         ->expected(0, 1);
    command->add_option("--inbox", *inbox, "where virtual devices keep what they receive");
    command
        ->add_option("--cycles", *cycles,
                     "stop after N discovery cycles, each ending when every device found has "
                     "been tried (0: until stopped)")
        ->check(CLI::NonNegativeNumber);
    return [command, simulate, scenario, inbox, cycles, &global]() -> int {
        if (!command->parsed())
            return -1;
        RunOptions options;
        options.DataFolder = global.dataFolder;
        options.Scenario = ScenarioOption(simulate->count() > 0, *scenario);
        options.InboxRoot = *inbox;
        options.Cycles = *cycles;
        return RunSender(options, stdout, stderr);
    };
}

}  // namespace kavri::cli
