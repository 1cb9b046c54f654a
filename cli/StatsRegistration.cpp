#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/DateTimeClock.h"
#include "app/Statistics.h"
#include "cli/Commands.h"
#include "cli/OperatorTexts.h"
#include "cli/StatsCommands.h"

namespace kavri::cli {
CommandAction RegisterStatsCommands(CLI::App& app, const GlobalOptions& global) {
    struct Arguments {
        std::string From;
        std::string To;
        bool Csv = false;
        bool Titles = false;
        std::string Code;
        std::string Campaign;
        std::string Address;
        std::string Program;
    };
    auto arguments = std::make_shared<Arguments>();

    auto* stats = app.add_subcommand(
        "stats",
        "count, per campaign, the devices that accepted, refused and redeemed in a range of days");
    stats->add_option("--from", arguments->From, "first day, YYYY-MM-DD or regional")->required();
    stats->add_option("--to", arguments->To, "last day (included), YYYY-MM-DD or regional")
        ->required();
    stats->add_flag("--csv", arguments->Csv, "write RFC 4180 CSV with a header line");
    stats->add_flag("--titles", arguments->Titles, "print a line of column titles first");

    auto* coupon = app.add_subcommand("coupon", "check and close coupon codes");
    coupon->require_subcommand(1);
    auto* check = coupon->add_subcommand(
        "check",
        "list the devices given CODE: CAMPAIGN, ADDRESS, NAME, DATE-TIME (a used code: on stderr)");
    check->add_option("CODE", arguments->Code, "the code, exactly as printed")->required();
    check->add_flag("--titles", arguments->Titles, "print a line of column titles first");
    auto* close =
        coupon->add_subcommand("close", "redeem a device's coupon so it is not found again");
    close->add_option("CAMPAIGN", arguments->Campaign, "the campaign's name")->required();
    close->add_option("ADDRESS", arguments->Address, "the device address, as check prints it")
        ->required();

    auto* autostart = app.add_subcommand("autostart", "start the program at log-on, or not");
    autostart->require_subcommand(1);
    auto* on = autostart->add_subcommand("on", "start at log-on");
    on->add_option("--exec", arguments->Program,
                   "absolute path of the program to start (default: this program)");
    auto* off = autostart->add_subcommand("off", "do not start at log-on");
    auto* show = autostart->add_subcommand("show", "print on or off and the log-on entry's path");

    const GlobalOptions* options = &global;
    return [=]() -> int {
        const auto environment = DataFolder::SystemEnvironment;
        if (stats->parsed()) {
            const OperatorTexts texts = CommandTexts(options->dataFolder, options->languageFile);
            // A spreadsheet always gets its header line.
            const bool titled = arguments->Titles || arguments->Csv;
            return ShowStatistics(
                options->dataFolder, arguments->From, arguments->To, arguments->Csv,
                titled ? StatisticsTitles(texts) : std::vector<std::string>(), stdout, stderr);
        }
        if (check->parsed()) {
            const OperatorTexts texts = CommandTexts(options->dataFolder, options->languageFile);
            return CheckCoupon(
                options->dataFolder, arguments->Code,
                arguments->Titles ? texts.Titles(kCouponCheckTitles) : std::vector<std::string>(),
                stdout, stderr);
        }
        if (close->parsed()) {
            const SystemDateTimeClock clock;
            return CloseCouponOf(options->dataFolder, arguments->Campaign, arguments->Address,
                                 clock.Now(), stdout, stderr);
        }
        if (on->parsed()) {
            const std::string program =
                arguments->Program.empty() ? OwnProgramPath() : arguments->Program;
            return SetAutoStart(environment, true, program, stdout, stderr);
        }
        if (off->parsed()) {
            return SetAutoStart(environment, false, "", stdout, stderr);
        }
        if (show->parsed()) {
            return ShowAutoStart(environment, stdout, stderr);
        }
        return coupon->parsed() || autostart->parsed() ? 2 : -1;
    };
}

}  // namespace kavri::cli
