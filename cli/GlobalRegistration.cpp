#include <CLI/CLI.hpp>

#include <string>

#include "cli/Commands.h"

namespace kavri::cli {

void AddGlobalOptions(CLI::App& app, GlobalOptions& global) {
    // An empty --data (a script's unset variable) is a usage error, never the
    // per-user data folder: a "records --clear" there would hit the real data.
    // Checked once parsing is done, since "--data=" gives an empty value that
    // the option's own validators never see.
    CLI::Option* data =
        app.add_option("--data", global.dataFolder,
                       "data folder (default: $KAVRI_DATA_DIR, else ~/.local/share/kavri)");
    app.parse_complete_callback([data, &global] {
        if (data->count() > 0 && global.dataFolder.empty()) {
            throw CLI::ValidationError("--data", "the data folder must not be empty");
        }
    });
    app.add_option("--language-file", global.languageFile,
                   "language file of the texts (default: kavri.lang beside the program, else "
                   "the installed one)");
}

}  // namespace kavri::cli
