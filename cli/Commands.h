#pragma once

#include <functional>
#include <optional>
#include <string>

namespace CLI {
class App;
}

namespace kavri::cli {

// What every command may use: options given before the command name.
struct GlobalOptions {
    std::string dataFolder;  // --data DIR; empty: the per-user data folder
    // --language-file PATH; empty: kavri.lang beside the program, else the
    // installed one
    std::string languageFile;
};

// Adds --data and --language-file to app, filling global. An empty --data is
// refused while parsing (a usage error), never taken for the per-user folder.
void AddGlobalOptions(CLI::App& app, GlobalOptions& global);

// Each command adds its subcommand (with its options) to the application and
// returns the action to run when that subcommand was chosen; the action
// returns the exit status. One file per command family.
using CommandAction = std::function<int()>;
using CommandRegistration = std::function<CommandAction(CLI::App& app, const GlobalOptions&)>;

// "--simulate" alone means the built-in demo neighbourhood; absent leaves the
// choice to KAVRI_SIMULATION (host::ChooseScenario).
std::optional<std::string> ScenarioOption(bool given, const std::string& value);

CommandAction RegisterInquiryCommand(CLI::App& app, const GlobalOptions& global);
CommandAction RegisterPushCommand(CLI::App& app, const GlobalOptions& global);

}  // namespace kavri::cli
