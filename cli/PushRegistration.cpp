#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>

#include "cli/Commands.h"
#include "cli/PushCommand.h"
#include "host/StackSession.h"

namespace kavri::cli {

CommandAction RegisterPushCommand(CLI::App& app, const GlobalOptions&) {
    auto* command = app.add_subcommand(
        "push", "send files to a device's Object Push service, one result line per file");
    auto request = std::make_shared<PushRequest>();
    auto scenario = std::make_shared<std::string>();
    request->inboxRoot = host::DefaultInboxRoot();
    command->add_option("address", request->address, "device address, (XX:XX:XX:XX:XX:XX)")
        ->required();
    command->add_option("files", request->files, "files to push, in order")->required();
    auto* simulate = command
                         ->add_option("--simulate", *scenario,
                                      "use the virtual neighbourhood of this scenario file (the "
                                      "demo when no file is given)")
                         ->expected(0, 1);
    command->add_option("--inbox", request->inboxRoot,
                        "where virtual devices keep what they receive");
    command->add_flag("!--no-progress", request->progress, "print no progress on standard error");
    return [command, simulate, scenario, request]() -> int {
        if (!command->parsed())
            return -1;
        request->scenarioPath = ScenarioOption(simulate->count() > 0, *scenario);
        return RunPush(*request, stdout, stderr);
    };
}

}  // namespace kavri::cli
