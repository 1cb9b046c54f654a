// kavrictl: the headless operator tool. Every command prints one record per
// line on standard output; errors are one line on standard error and a
// non-zero exit status.

#include <CLI/CLI.hpp>

#include <cstdio>
#include <optional>
#include <string>

#include "cli/InquiryCommand.h"
#include "cli/StackSession.h"

namespace {

constexpr const char* kVersion = "0.1.0";

// "--simulate" alone means the built-in demo neighbourhood.
std::optional<std::string> ScenarioFrom(const CLI::Option* option, const std::string& value) {
    if (option->count() == 0)
        return std::nullopt;
    return value.empty() ? kavri::cli::DemoScenarioPath() : value;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"kavrictl: the headless operator tool of Kavri Tandrel"};
    app.require_subcommand(1);

    auto* version = app.add_subcommand("version", "print the program version");

    auto* inquiry = app.add_subcommand(
        "inquiry", "search for Bluetooth devices in range and list them, one per line");
    std::string inquiryScenario;
    auto* inquirySimulate =
        inquiry
            ->add_option("--simulate", inquiryScenario,
                         "use the virtual neighbourhood of this scenario file (the demo when "
                         "no file is given)")
            ->expected(0, 1);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e);
    }

    if (version->parsed()) {
        std::printf("kavrictl %s\n", kVersion);
        return 0;
    }
    if (inquiry->parsed()) {
        return kavri::cli::RunInquiry(ScenarioFrom(inquirySimulate, inquiryScenario), stdout,
                                      stderr);
    }
    return 2;
}
