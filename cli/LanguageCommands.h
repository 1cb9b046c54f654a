#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "cli/Commands.h"

namespace kavri::cli {

// kavrictl language list: one language (a section name of the language file)
// per line, in file order. The current one (the "Language" setting) carries a
// tab and "*" after its name, so `cut -f1` gives the bare names and a script
// finds the current one with `grep '\*$'`. Names are escaped with EscapeField.
// A language file without languages, or none at all, is an error: exit 1 with
// one line "kavrictl: MESSAGE" on err.
//
// languageFile empty: the file LanguageFile::Locate finds. dataFolder empty:
// the per-user data folder. Throws only std::bad_alloc.
int ListLanguagesCommand(const std::string& dataFolder, const std::string& languageFile,
                         std::FILE* out, std::FILE* err);

// kavrictl language set NAME: NAME must name a section of the language file
// (letter case aside); the section's own spelling is written to the
// "Language" setting. Anything else prints why on err, returns 1 and leaves
// the settings as they were. Prints nothing on success.
int SetLanguageCommand(const std::string& dataFolder, const std::string& languageFile,
                       std::string_view name, std::FILE* out, std::FILE* err);

// Registers `language list` and `language set` on app.
CommandAction RegisterLanguageCommands(CLI::App& app, const GlobalOptions& global);

}  // namespace kavri::cli
