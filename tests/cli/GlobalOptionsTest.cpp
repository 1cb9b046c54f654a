#include "cli/Commands.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

// CLI11's inlined string handling trips g++'s null-dereference analysis, as in
// the registration files.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnull-dereference"
#include <CLI/CLI.hpp>

namespace kavri::cli {
namespace {

// Parses args after the program name with the global options and one
// subcommand; the parse error's exit code, or 0.
int Parse(std::vector<std::string> args, GlobalOptions& global) {
    CLI::App app;
    AddGlobalOptions(app, global);
    app.add_subcommand("version");
    args.insert(args.begin(), "kavrictl");
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::ParseError& e) {
        return e.get_exit_code();
    }
    return 0;
}

TEST(GlobalOptionsTest, AnEmptyDataFolderIsAUsageErrorNotThePerUserFolder) {
    // Situation: --data with an empty value (an unset variable in a script);
    // then a real folder; then no --data at all.
    // Expected: the empty ones fail to parse; the others parse, the last with
    // an empty folder meaning the per-user one.
    GlobalOptions global;
    EXPECT_NE(Parse({"--data", "", "version"}, global), 0);
    global = {};
    EXPECT_EQ(Parse({"--data", "/srv/kavri", "version"}, global), 0);
    EXPECT_EQ(global.dataFolder, "/srv/kavri");
    global = {};
    EXPECT_EQ(Parse({"version"}, global), 0);
    EXPECT_EQ(global.dataFolder, "");
}

}  // namespace
}  // namespace kavri::cli

#pragma GCC diagnostic pop
