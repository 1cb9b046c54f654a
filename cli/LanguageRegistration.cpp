#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>
#include <string>

#include "cli/Commands.h"
#include "cli/LanguageCommands.h"

namespace kavri::cli {

CommandAction RegisterLanguageCommands(CLI::App& app, const GlobalOptions& global) {
    auto* language = app.add_subcommand("language", "list the languages or choose one");
    language->require_subcommand(1);

    struct Arguments {
        std::string File;
        std::string Name;
    };
    auto arguments = std::make_shared<Arguments>();
    language->add_option("--file", arguments->File,
                         "language file (default: kavri.lang beside the program, else the "
                         "installed one)");

    auto* list = language->add_subcommand(
        "list", "print the languages, one per line; the current one ends in <TAB>*");
    auto* set = language->add_subcommand("set", "make NAME the current language");
    set->add_option("NAME", arguments->Name, "a language of the language file")->required();

    const GlobalOptions* options = &global;
    // `language --file` wins over the global --language-file.
    auto LanguageFileOf = [options](const Arguments& given) {
        return given.File.empty() ? options->languageFile : given.File;
    };
    return [=]() -> int {
        if (!language->parsed()) {
            return -1;
        }
        if (list->parsed()) {
            return ListLanguagesCommand(options->dataFolder, LanguageFileOf(*arguments), stdout,
                                        stderr);
        }
        if (set->parsed()) {
            return SetLanguageCommand(options->dataFolder, LanguageFileOf(*arguments),
                                      arguments->Name, stdout, stderr);
        }
        return 2;
    };
}

}  // namespace kavri::cli
