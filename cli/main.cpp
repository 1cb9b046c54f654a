// kavrictl: the headless operator tool. Every command prints one record per
// line on standard output; errors are one line on standard error and a
// non-zero exit status.

#include <CLI/CLI.hpp>

#include <cstdio>
#include <vector>

#include "cli/CampaignCommands.h"
#include "cli/Commands.h"
#include "cli/LanguageCommands.h"
#include "cli/RecordsCommands.h"
#include "cli/RunCommand.h"
#include "cli/SettingsCommands.h"
#include "cli/StatsCommands.h"

int main(int argc, char** argv) {
    using namespace kavri::cli;

    CLI::App app{"kavrictl: the headless operator tool of Kavri Tandrel"};
    app.require_subcommand(1);
    GlobalOptions global;
    AddGlobalOptions(app, global);

    auto* version = app.add_subcommand("version", "print the program version");

    // One line per command family; an action returns -1 when its command was
    // not the one chosen.
    // clang-format off
    const std::vector<CommandAction> actions = {
        RegisterInquiryCommand(app, global),
        RegisterPushCommand(app, global),
        RegisterCampaignCommands(app, global),
        RegisterSettingsCommands(app, global),
        RegisterStatsCommands(app, global),
        RegisterRecordsCommands(app, global),
        RegisterLanguageCommands(app, global),
        RegisterRunCommand(app, global),
    };
    // clang-format on

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // Help and version requests exit 0; every usage error exits 2,
        // whatever CLI11's own code for it.
        app.exit(e);
        return e.get_exit_code() == 0 ? 0 : 2;
    }

    if (version->parsed()) {
        std::printf("kavrictl 0.1.0\n");
        return 0;
    }
    for (const auto& action : actions) {
        const int status = action();
        if (status >= 0)
            return status;
    }
    return 2;
}
