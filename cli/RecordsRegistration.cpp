#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "app/DateFormat.h"
#include "app/DeviceRecords.h"
#include "app/SendingDecisions.h"
#include "cli/Commands.h"
#include "cli/OperatorTexts.h"
#include "cli/RecordsCommands.h"

namespace kavri::cli {
namespace {

// What the blacklist and records subcommands parse into; shared with the
// action, which runs after parsing.
struct RecordsArguments {
    std::string Address;
    std::string Name;
    std::string Type;
    std::vector<std::string> Remove;  // CAMPAIGN ADDRESS
    bool Clear = false;
    bool Titles = false;
};

}  // namespace

CommandAction RegisterRecordsCommands(CLI::App& app, const GlobalOptions& global) {
    auto arguments = std::make_shared<RecordsArguments>();

    auto* blacklist = app.add_subcommand("blacklist", "the devices that are never served");
    blacklist->require_subcommand(1);
    auto* blAdd = blacklist->add_subcommand("add", "black-list a device");
    blAdd->add_option("ADDRESS", arguments->Address, "device address, e.g. (00:17:E5:3A:91:02)")
        ->required();
    blAdd->add_option("NAME", arguments->Name, "device name (default: <unknown>)");
    blAdd->add_option("--type", arguments->Type,
                      "device type as the lists show it, e.g. \"Smartphone\" (default: <unknown>)");
    auto* blRemove = blacklist->add_subcommand("remove", "take a device off the black list");
    blRemove->add_option("ADDRESS", arguments->Address, "device address")->required();
    auto* blList = blacklist->add_subcommand(
        "list", "list the black list, one device per line: ADDRESS, NAME, TYPE");
    blList->add_flag("--titles", arguments->Titles, "print a line of column titles first");
    auto* blClear = blacklist->add_subcommand("clear", "empty the black list");

    auto* records =
        app.add_subcommand("records", "the devices that accepted or refused each campaign");
    records->require_subcommand(1);
    std::vector<CLI::App*> kinds;
    for (const char* kind : {"accepted", "rejected"}) {
        auto* command = records->add_subcommand(
            kind, std::string("list the ") + kind +
                      " devices of every campaign, one per line: CAMPAIGN, ADDRESS, NAME, "
                      "TYPE, DATETIME" +
                      (kind == std::string("accepted") ? ", COUPON" : ""));
        auto* remove = command
                           ->add_option("--remove", arguments->Remove,
                                        "erase the record of ADDRESS in campaign CAMPAIGN")
                           ->expected(2)
                           ->type_name("CAMPAIGN ADDRESS");
        auto* clear =
            command->add_flag("--clear", arguments->Clear, "erase these records of every campaign");
        remove->excludes(clear);
        auto* titles =
            command->add_flag("--titles", arguments->Titles, "print a line of column titles first");
        titles->excludes(remove);
        titles->excludes(clear);
        kinds.push_back(command);
    }
    auto* accepted = kinds[0];

    const GlobalOptions* options = &global;
    return [=]() -> int {
        if (!blacklist->parsed() && !records->parsed()) {
            return -1;
        }
        RecordsCommands commands(options->dataFolder, DateFormat::FromLocale(),
                                 DateFormat::FromLocale(), stdout, stderr);
        if (blAdd->parsed()) {
            return commands.BlackListAdd(
                arguments->Address,
                blAdd->count("NAME") > 0 ? arguments->Name : std::string(kUnknownDeviceText),
                blAdd->count("--type") > 0 ? arguments->Type : std::string(kUnknownDeviceText));
        }
        if (blRemove->parsed()) {
            return commands.BlackListRemove(arguments->Address);
        }
        const OperatorTexts texts = CommandTexts(options->dataFolder, options->languageFile);
        auto titlesOf = [&](std::span<const std::string_view> keys) {
            return arguments->Titles ? texts.Titles(keys) : std::vector<std::string>();
        };
        if (blList->parsed()) {
            return commands.BlackListList(titlesOf(kBlackListTitles));
        }
        if (blClear->parsed()) {
            return commands.BlackListClear();
        }
        const DeviceRecordKind kind =
            accepted->parsed() ? DeviceRecordKind::Accepted : DeviceRecordKind::Rejected;
        if (arguments->Remove.size() == 2) {
            return commands.Remove(kind, arguments->Remove[0], arguments->Remove[1]);
        }
        if (arguments->Clear) {
            return commands.Clear(kind);
        }
        return commands.List(kind,
                             titlesOf(kind == DeviceRecordKind::Accepted
                                          ? std::span<const std::string_view>(kAcceptedTitles)
                                          : std::span<const std::string_view>(kRejectedTitles)));
    };
}

}  // namespace kavri::cli
