#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/DateTimeClock.h"
#include "app/DeviceTypeFilter.h"
#include "cli/CampaignCommands.h"
#include "cli/Commands.h"
#include "cli/OperatorTexts.h"

namespace kavri::cli {
namespace {

// What the campaign subcommands parse into; shared with the action, which runs
// after parsing.
struct CampaignArguments {
    std::string Name;
    std::string SourceFile;
    std::string FileName;
    std::string Scheduling;
    std::string From;
    std::string Until;
    std::string Days;
    std::string DailyFrom;
    std::string DailyUntil;
    std::string DeviceTypes;
    bool Enabled = false;
    bool Disabled = false;
    bool Titles = false;
    std::string Type;
    std::string Company;
    std::string Url;
    std::string Phone;
    std::string Message;
    std::string Promotion;
    std::string Image;
    std::string Coupon;
    bool GenerateCoupon = false;
    bool NoCoupon = false;
    bool CouponPerDevice = false;
    bool NoCouponPerDevice = false;
    std::string Place;
    std::string Align;
    std::string Font;

    // The options of one subcommand, each present only when it was given.
    struct Given {
        CLI::Option* SourceFile = nullptr;
        CLI::Option* FileName = nullptr;
        CLI::Option* Scheduling = nullptr;
        CLI::Option* From = nullptr;
        CLI::Option* Until = nullptr;
        CLI::Option* Days = nullptr;
        CLI::Option* DailyFrom = nullptr;
        CLI::Option* DailyUntil = nullptr;
        CLI::Option* DeviceTypes = nullptr;
        CLI::Option* Enabled = nullptr;
        CLI::Option* Disabled = nullptr;
        CLI::Option* Type = nullptr;
        CLI::Option* Company = nullptr;
        CLI::Option* Url = nullptr;
        CLI::Option* Phone = nullptr;
        CLI::Option* Message = nullptr;
        CLI::Option* Promotion = nullptr;
        CLI::Option* Image = nullptr;
        CLI::Option* Coupon = nullptr;
        CLI::Option* GenerateCoupon = nullptr;
        CLI::Option* NoCoupon = nullptr;
        CLI::Option* CouponPerDevice = nullptr;
        CLI::Option* NoCouponPerDevice = nullptr;
        CLI::Option* Place = nullptr;
        CLI::Option* Align = nullptr;
        CLI::Option* Font = nullptr;
    };

    CampaignOptions Options(const Given& given) const {
        auto take = [](CLI::Option* option, const std::string& value) {
            return option != nullptr && option->count() > 0 ? std::optional<std::string>(value)
                                                            : std::nullopt;
        };
        CampaignOptions options;
        options.SourceFile = take(given.SourceFile, SourceFile);
        options.FileName = take(given.FileName, FileName);
        options.Scheduling = take(given.Scheduling, Scheduling);
        options.From = take(given.From, From);
        options.Until = take(given.Until, Until);
        options.Days = take(given.Days, Days);
        options.DailyFrom = take(given.DailyFrom, DailyFrom);
        options.DailyUntil = take(given.DailyUntil, DailyUntil);
        options.DeviceTypes = take(given.DeviceTypes, DeviceTypes);
        if (given.Enabled != nullptr && given.Enabled->count() > 0) {
            options.Enabled = true;
        }
        if (given.Disabled != nullptr && given.Disabled->count() > 0) {
            options.Enabled = false;
        }
        options.Type = take(given.Type, Type);
        options.Company = take(given.Company, Company);
        options.Url = take(given.Url, Url);
        options.Phone = take(given.Phone, Phone);
        options.Message = take(given.Message, Message);
        options.Promotion = take(given.Promotion, Promotion);
        options.Image = take(given.Image, Image);
        options.Coupon = take(given.Coupon, Coupon);
        options.GenerateCoupon = GenerateCoupon;
        if (given.NoCoupon != nullptr && given.NoCoupon->count() > 0) {
            options.CouponEnabled = false;
        }
        options.Place = take(given.Place, Place);
        options.Align = take(given.Align, Align);
        options.Font = take(given.Font, Font);
        return options;
    }
    // --coupon-per-device on, --no-coupon-per-device off, neither: as it is.
    static std::optional<bool> PerDevice(const Given& given) {
        if (given.CouponPerDevice->count() > 0) {
            return true;
        }
        if (given.NoCouponPerDevice->count() > 0) {
            return false;
        }
        return std::nullopt;
    }
};

void AddNameArgument(CLI::App* command, CampaignArguments& arguments) {
    command->add_option("NAME", arguments.Name, "the campaign's display name")->required();
}

// The options shared by add and edit.
CampaignArguments::Given AddCampaignOptions(CLI::App* command, CampaignArguments& arguments) {
    CampaignArguments::Given given;
    given.SourceFile =
        command->add_option("--file", arguments.SourceFile,
                            "file: the file to push; it is copied into the campaign folder");
    given.FileName =
        command->add_option("--file-name", arguments.FileName,
                            "file: the name devices receive it under (default: its own name)");
    given.Scheduling =
        command
            ->add_option("--scheduling", arguments.Scheduling,
                         "continuous, time-based or day-of-week (default: from the options "
                         "given, else continuous)")
            ->check(CLI::IsMember({"continuous", "time-based", "day-of-week"}));
    given.From = command->add_option(
        "--from", arguments.From,
        "time-based: start, \"YYYY-MM-DD HH:MM:SS\" or regional; a date alone is 00:00:00");
    given.Until = command->add_option("--until", arguments.Until,
                                      "time-based: end (included), \"YYYY-MM-DD HH:MM:SS\" or "
                                      "regional; a date alone is 00:00:00");
    given.Days = command->add_option("--days", arguments.Days,
                                     "day-of-week: the days, e.g. mon,tue,wed,thu,fri");
    given.DailyFrom = command->add_option("--daily-from", arguments.DailyFrom,
                                          "day-of-week: daily start, HH:MM:SS");
    given.DailyUntil = command->add_option("--daily-until", arguments.DailyUntil,
                                           "day-of-week: daily end, HH:MM:SS");
    // The names are checked by the editor, which also serves the windows.
    given.DeviceTypes =
        command->add_option("--device-types", arguments.DeviceTypes,
                            "the device types the campaign is for, e.g. phone,computer (of " +
                                DeviceTypeFilter::ValidNames() + "); empty: every type");
    given.Company =
        command->add_option("--company", arguments.Company, "message: the card's company");
    given.Url = command->add_option("--url", arguments.Url, "message: the card's URL");
    given.Phone = command->add_option("--phone", arguments.Phone, "message: the card's phone");
    given.Message = command->add_option(
        "--message", arguments.Message,
        "message: the card's message; coupon: the promotion message over the picture");
    given.Promotion =
        command->add_option("--promotion", arguments.Promotion,
                            "coupon: the promotion name, also the picture's name (NAME.jpg)");
    given.Image = command->add_option("--image", arguments.Image,
                                      "coupon: the picture behind the text, JPEG or BMP");
    given.Coupon =
        command->add_option("--coupon", arguments.Coupon, "coupon: the coupon code (turns it on)");
    given.GenerateCoupon = command->add_flag("--generate-coupon", arguments.GenerateCoupon,
                                             "coupon: a new random six-character code (on)");
    given.NoCoupon = command->add_flag("--no-coupon", arguments.NoCoupon,
                                       "coupon: no code on the picture or in the records");
    given.Coupon->excludes(given.GenerateCoupon);
    given.NoCoupon->excludes(given.Coupon);
    given.NoCoupon->excludes(given.GenerateCoupon);
    given.CouponPerDevice = command->add_flag(
        "--coupon-per-device", arguments.CouponPerDevice,
        "coupon: every accepting phone gets its own unique code on its own picture");
    given.NoCouponPerDevice =
        command->add_flag("--no-coupon-per-device", arguments.NoCouponPerDevice,
                          "coupon: every phone gets the campaign's one code");
    given.CouponPerDevice->excludes(given.NoCouponPerDevice);
    given.Place = command->add_option("--place", arguments.Place,
                                      "coupon: the text at the top, middle or bottom");
    given.Align = command->add_option("--align", arguments.Align,
                                      "coupon: the text lines left, center or right");
    given.Font = command->add_option(
        "--font", arguments.Font,
        "coupon: FACE,SIZE,COLOR,STYLE, e.g. \"DejaVu Sans,12,#C00000,bold\"; empty parts keep");
    return given;
}

}  // namespace

CommandAction RegisterCampaignCommands(CLI::App& app, const GlobalOptions& global) {
    auto* campaign = app.add_subcommand("campaign", "manage the campaigns of the data folder");
    campaign->require_subcommand(1);
    auto arguments = std::make_shared<CampaignArguments>();

    auto* add = campaign->add_subcommand("add", "create a campaign");
    AddNameArgument(add, *arguments);
    CampaignArguments::Given addGiven = AddCampaignOptions(add, *arguments);
    addGiven.Type = add->add_option("--type", arguments->Type,
                                    "file (default), message (a business card) or coupon (a "
                                    "picture with a code)");
    addGiven.Disabled =
        add->add_flag("--disabled", arguments->Disabled, "create it disabled (default: enabled)");

    auto* edit = campaign->add_subcommand("edit", "change a campaign; its name and type stay");
    AddNameArgument(edit, *arguments);
    CampaignArguments::Given editGiven = AddCampaignOptions(edit, *arguments);
    editGiven.Enabled = edit->add_flag("--enabled", arguments->Enabled, "enable it");
    editGiven.Disabled = edit->add_flag("--disabled", arguments->Disabled, "disable it");
    editGiven.Enabled->excludes(editGiven.Disabled);

    auto* list = campaign->add_subcommand(
        "list", "list the campaigns, one per line: NAME, TYPE, STATE, SCHEDULING");
    list->add_flag("--titles", arguments->Titles, "print a line of column titles first");
    auto* show =
        campaign->add_subcommand("show", "print a campaign's record, one KEY VALUE a line");
    AddNameArgument(show, *arguments);
    auto* enable = campaign->add_subcommand("enable", "let a campaign take part in sending");
    AddNameArgument(enable, *arguments);
    auto* disable = campaign->add_subcommand("disable", "keep a campaign out of sending");
    AddNameArgument(disable, *arguments);
    auto* remove = campaign->add_subcommand("remove", "delete a campaign and its folder");
    AddNameArgument(remove, *arguments);

    const GlobalOptions* options = &global;
    return [=]() -> int {
        if (!campaign->parsed()) {
            return -1;
        }
        const SystemDateTimeClock clock;
        const OperatorTexts texts = CommandTexts(options->dataFolder, options->languageFile);
        CampaignCommands commands(options->dataFolder, clock, DateFormat::FromLocale(),
                                  texts.Lookup(), stdout, stderr);
        const std::string& name = arguments->Name;
        if (add->parsed()) {
            return commands.Add(name, arguments->Options(addGiven),
                                CampaignArguments::PerDevice(addGiven));
        }
        if (edit->parsed()) {
            return commands.Edit(name, arguments->Options(editGiven),
                                 CampaignArguments::PerDevice(editGiven));
        }
        if (list->parsed()) {
            return commands.List(arguments->Titles ? texts.Titles(kCampaignListTitles)
                                                   : std::vector<std::string>());
        }
        if (show->parsed()) {
            return commands.Show(name);
        }
        if (enable->parsed()) {
            return commands.SetEnabled(name, true);
        }
        if (disable->parsed()) {
            return commands.SetEnabled(name, false);
        }
        if (remove->parsed()) {
            return commands.Remove(name);
        }
        return 2;
    };
}

}  // namespace kavri::cli
