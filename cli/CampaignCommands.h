#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/CampaignOptions.h"
#include "app/DateFormat.h"
#include "app/TextLookup.h"
#include "cli/Commands.h"

namespace kavri {
class CampaignStore;
class DateTimeClock;
}  // namespace kavri

namespace kavri::cli {

// The campaign commands of kavrictl on one data folder: add and edit file,
// message and coupon campaigns through their editors (the editors' checks,
// messages and all-or-nothing saving), list, show, enable, disable and remove
// campaigns. An option that belongs to another type of campaign is refused.
//
// The rules they apply live below: the typed schedule in
// app/CampaignScheduleInput.h, the content options in
// editors/CampaignContentOptions.h, add and edit in
// editors/CampaignOptionEditing.h, enable and disable in app/CampaignEnabling.h.
//
// Every command returns the exit status: 0 done, 1 refused or failed with one
// line "kavrictl: MESSAGE" on err (control characters escaped), nothing on disk
// changed by a refusal. Output on out is one record per line; fields are
// tab-separated and escaped with EscapeField.
//
// Lives on the thread that runs the command; the clock must outlive it. Throws
// only std::bad_alloc.
class CampaignCommands {
public:
    // dataFolder empty: the per-user data folder. texts gives the list's and the
    // messages' texts; format is how records store date-times and times.
    CampaignCommands(std::string dataFolder, const DateTimeClock& clock, DateFormat format,
                     TextLookup texts, std::FILE* out, std::FILE* err);

    // campaign add NAME [--type TYPE] [...]: a new campaign of the type
    // (default file; a file campaign needs --file PATH).
    int Add(std::string_view name, const CampaignOptions& options,
            std::optional<bool> couponPerDevice = std::nullopt);
    // campaign edit NAME [...]: changes a campaign of any type; the name and
    // the type stay.
    int Edit(std::string_view name, const CampaignOptions& options,
             std::optional<bool> couponPerDevice = std::nullopt);
    // campaign list: NAME <TAB> TYPE <TAB> STATE <TAB> SCHEDULING, one line per
    // campaign in list order, with the main window's texts. STATE is "enabled"
    // or "disabled" ("active" marks the campaign a running sender is sending,
    // which a separate process does not know).
    // titles, when not empty, is printed first as one line of column titles.
    int List(const std::vector<std::string>& titles = {});
    // campaign show NAME: KEY <TAB> VALUE for Name, Type, Scheduling,
    // StartDateTime, EndDateTime, StartTime, EndTime, Mon ... Sun, Enabled,
    // DeviceTypes (empty: every type), FileName, as read from the record; date-times "YYYY-MM-DD
    // HH:MM:SS", times "HH:MM:SS", flags 1 or 0. Then a message campaign's Company, URL, Phone and
    // Message as read back from its card, or a coupon campaign's MessageName, MessageText, Coupon,
    // CouponEnabled, Top, Middle, Bottom, Left, Center, Right, FontName, FontSize, FontColor and
    // FontStyle. A card that cannot be read fails after the lines, with its fields empty.
    int Show(std::string_view name);
    // campaign enable / disable NAME: writes "Enabled" alone, for any type.
    int SetEnabled(std::string_view name, bool enabled);
    // campaign remove NAME: the list entry, then the folder with its files.
    int Remove(std::string_view name);

private:
    int Fail(std::string_view message) const;
    // The store, or nothing after reporting why the data folder cannot be used.
    // Without forWriting a missing data folder is reported, not created.
    std::unique_ptr<CampaignStore> OpenStore(bool forWriting = true) const;
    int Save(CampaignStore& store, std::string_view name, const CampaignOptions& options,
             bool editing, std::optional<bool> couponPerDevice);

    std::string m_dataFolder;
    const DateTimeClock& m_clock;
    DateFormat m_format;
    TextLookup m_texts;
    std::FILE* m_out;
    std::FILE* m_err;
};

// Registers `campaign` and its subcommands on app.
CommandAction RegisterCampaignCommands(CLI::App& app, const GlobalOptions& global);

}  // namespace kavri::cli
