#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "cli/Commands.h"

namespace kavri::cli {

// kavrictl settings show [KEY]: one line KEY <TAB> VALUE per application
// setting, in the order ConnectTimeout, IdleTimeout, MaxConnections,
// RejectedTimeout, Language, LocalRadioName, ResponseTimeout (only KEY's line
// when given; keys match without regard to case and print in their own
// spelling). VALUE is what the sender would read, defaults included, escaped
// with EscapeField; an empty LocalRadioName means the computer's network name.
//
// Returns the exit status: 0, or 1 with one line "kavrictl: MESSAGE" on err for
// an unknown key or a data folder that cannot be opened. dataFolder empty: the
// per-user data folder. Throws only std::bad_alloc.
int ShowSettings(const std::string& dataFolder, const std::optional<std::string>& key,
                 std::FILE* out, std::FILE* err);

// kavrictl settings set KEY VALUE: writes one setting within the settings
// dialog's bounds (ConnectTimeout 5-60, IdleTimeout 1-300, MaxConnections 1-50,
// RejectedTimeout 0-168, ResponseTimeout 10-600, whole decimal numbers;
// Language non-empty and LocalRadioName one line of UTF-8 text of at most 248
// bytes). A refused value prints why on err,
// returns 1 and leaves the settings file as it was. Prints nothing on success.
int SetSetting(const std::string& dataFolder, std::string_view key, std::string_view value,
               std::FILE* out, std::FILE* err);

// Registers `settings show` and `settings set` on app.
CommandAction RegisterSettingsCommands(CLI::App& app, const GlobalOptions& global);

}  // namespace kavri::cli
