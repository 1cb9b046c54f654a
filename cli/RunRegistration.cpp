#include <CLI/CLI.hpp>

#include <charconv>
#include <memory>
#include <string>
#include <system_error>

#include "cli/Commands.h"
#include "cli/RunCommand.h"
#include "host/StackSession.h"

namespace kavri::cli {

CommandAction RegisterRunCommand(CLI::App& app, const GlobalOptions& global) {
    auto* command = app.add_subcommand(
        "run",
        "start the sender as the main window's Start command does and print one line per "
        "event until stopped (SIGINT or SIGTERM)");
    auto scenario = std::make_shared<std::string>();
    auto inbox = std::make_shared<std::string>(host::DefaultInboxRoot());
    auto cycles = std::make_shared<unsigned>(0);
    auto* simulate = command
                         ->add_option("--simulate", *scenario,
                                      "use the virtual neighbourhood of this scenario file (the "
                                      "demo when no file is given)")
                         ->expected(0, 1);
    command->add_option("--inbox", *inbox, "where virtual devices keep what they receive");
    // A check of our own: CLI11's range checks name the limits of a double,
    // which is 309 digits long.
    const CLI::Validator cycleCount(
        [](std::string& text) -> std::string {
            unsigned value = 0;
            const char* const end = text.data() + text.size();
            const auto [stop, error] = std::from_chars(text.data(), end, value);
            if (error != std::errc() || stop != end) {
                return "\"" + text +
                       "\" is not a number of cycles: give a whole number, 0 to run until "
                       "stopped";
            }
            return {};
        },
        "N");
    command
        ->add_option("--cycles", *cycles,
                     "stop after N discovery cycles, each ending when every device found has "
                     "been tried (0: until stopped)")
        ->check(cycleCount);
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
