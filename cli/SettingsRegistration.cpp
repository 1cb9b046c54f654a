#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "app/DataFolder.h"
#include "cli/Commands.h"
#include "cli/SettingsCommands.h"
#include "cli/StatsCommands.h"

namespace kavri::cli {

CommandAction RegisterSettingsCommands(CLI::App& app, const GlobalOptions& global) {
    auto* settings = app.add_subcommand("settings", "show or change the application settings");
    settings->require_subcommand(1);

    struct Arguments {
        std::string Key;
        std::string Value;
        std::string Program;
    };
    auto arguments = std::make_shared<Arguments>();

    auto* show =
        settings->add_subcommand("show", "print the settings, one KEY<TAB>VALUE line each");
    auto* showKey = show->add_option("KEY", arguments->Key, "print only this setting");
    auto* set = settings->add_subcommand("set", "change one setting");
    set->add_option("KEY", arguments->Key,
                    "ConnectTimeout, IdleTimeout, MaxConnections, RejectedTimeout, Language, "
                    "LocalRadioName or ResponseTimeout")
        ->required();
    set->add_option("VALUE", arguments->Value, "the new value")->required();
    // The settings window's "run at start-up" box; the same as `kavrictl
    // autostart on|off`.
    auto* autostart = settings->add_subcommand("autostart", "start the program at log-on, or not");
    autostart->require_subcommand(1);
    auto* on = autostart->add_subcommand("on", "start at log-on");
    on->add_option("--exec", arguments->Program,
                   "absolute path of the program to start (default: this program)");
    auto* off = autostart->add_subcommand("off", "do not start at log-on");

    const GlobalOptions* options = &global;
    return [=]() -> int {
        if (!settings->parsed()) {
            return -1;
        }
        if (show->parsed()) {
            const std::optional<std::string> key =
                showKey->count() > 0 ? std::optional<std::string>(arguments->Key) : std::nullopt;
            return ShowSettings(options->dataFolder, key, stdout, stderr);
        }
        if (on->parsed()) {
            const std::string program =
                arguments->Program.empty() ? OwnProgramPath() : arguments->Program;
            return SetAutoStart(DataFolder::SystemEnvironment, true, program, stdout, stderr);
        }
        if (off->parsed()) {
            return SetAutoStart(DataFolder::SystemEnvironment, false, "", stdout, stderr);
        }
        if (set->parsed()) {
            return SetSetting(options->dataFolder, arguments->Key, arguments->Value, stdout,
                              stderr);
        }
        return 2;
    };
}

}  // namespace kavri::cli
