#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/DateFormat.h"
#include "app/TextLookup.h"
#include "cli/Commands.h"

namespace kavri {
class CampaignStore;
class DateTimeClock;
struct CampaignRecord;
}  // namespace kavri

namespace kavri::cli {

// The values of `kavrictl campaign add` and `campaign edit`, as typed. Each
// maps onto one part of the campaign record; an option left out keeps the new
// editor's default (add) or the stored value (edit).
//   SourceFile  --file PATH          the file copied into the campaign folder
//   FileName    --file-name NAME     "FileName" (default: the source's name)
//   Scheduling  --scheduling MODE    "Scheduling": continuous, time-based, day-of-week
//   From/Until  --from, --until      "StartDateTime", "EndDateTime"
//   Days        --days mon,tue,...   "Mon" ... "Sun" (the listed days set, the others clear)
//   DailyFrom/DailyUntil --daily-from, --daily-until   "StartTime", "EndTime"
//   Enabled     --enabled, --disabled                  "Enabled"
// Date-times are "YYYY-MM-DD HH:MM:SS" (the date alone is midnight) or the
// regional short date and long time; times "HH:MM:SS" or the regional long
// time; in both the seconds may be left out.
//
// Message campaigns (--type message): Company, Url, Phone and Message fill the
// business card ("card.vcf"). Coupon campaigns (--type coupon): Promotion is
// the promotion name (the picture is "<Promotion>.jpg"), Message the promotion
// message, Image the picture behind the text (JPEG or BMP), Coupon a code that
// also switches the coupon on, GenerateCoupon a new random code (on as well),
// CouponEnabled false for --no-coupon, Place top|middle|bottom, Align
// left|center|right, Font "FACE,SIZE,COLOR,STYLE" (see CampaignContent.h).
struct CampaignOptions {
    std::optional<std::string> Type;
    std::optional<std::string> SourceFile;
    std::optional<std::string> FileName;
    std::optional<std::string> Scheduling;
    std::optional<std::string> From;
    std::optional<std::string> Until;
    std::optional<std::string> Days;
    std::optional<std::string> DailyFrom;
    std::optional<std::string> DailyUntil;
    std::optional<bool> Enabled;
    std::optional<std::string> Company;
    std::optional<std::string> Url;
    std::optional<std::string> Phone;
    std::optional<std::string> Message;
    std::optional<std::string> Promotion;
    std::optional<std::string> Image;
    std::optional<std::string> Coupon;
    bool GenerateCoupon = false;
    std::optional<bool> CouponEnabled;
    std::optional<std::string> Place;
    std::optional<std::string> Align;
    std::optional<std::string> Font;
};

// The campaign commands of kavrictl on one data folder: add and edit file,
// message and coupon campaigns through their editors (the editors' checks,
// messages and all-or-nothing saving), list, show, enable, disable and remove
// campaigns. An option that belongs to another type of campaign is refused.
//
// Scheduling: without --scheduling, the time-window options select time-based
// and the day options day-of-week; giving both kinds needs --scheduling. A new
// time-based campaign needs --from and --until, a new day-of-week one --days,
// --daily-from and --daily-until. The window of the chosen mode (and any window
// whose two ends are both given) must not end before it starts, and a
// day-of-week campaign needs at least one day: such a campaign could never be
// sent, so it is refused rather than stored (the windows' pickers move an end
// instead; a command line cannot be corrected in place).
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
    int Add(std::string_view name, const CampaignOptions& options);
    // campaign edit NAME [...]: changes a campaign of any type; the name and
    // the type stay.
    int Edit(std::string_view name, const CampaignOptions& options);
    // campaign list: NAME <TAB> TYPE <TAB> STATE <TAB> SCHEDULING, one line per
    // campaign in list order, with the main window's texts. STATE is "enabled"
    // or "disabled" ("active" marks the campaign a running sender is sending,
    // which a separate process does not know).
    // titles, when not empty, is printed first as one line of column titles.
    int List(const std::vector<std::string>& titles = {});
    // campaign show NAME: KEY <TAB> VALUE for Name, Type, Scheduling,
    // StartDateTime, EndDateTime, StartTime, EndTime, Mon ... Sun, Enabled,
    // FileName, as read from the record; date-times "YYYY-MM-DD HH:MM:SS",
    // times "HH:MM:SS", flags 1 or 0. Then a message campaign's Company, URL,
    // Phone and Message as read back from its card, or a coupon campaign's
    // MessageName, MessageText, Coupon, CouponEnabled, Top, Middle, Bottom,
    // Left, Center, Right, FontName, FontSize, FontColor and FontStyle. A card
    // that cannot be read fails after the lines, with its fields empty.
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
    // Empty when name is a listed campaign; else the message.
    std::string FindRefusal(const CampaignStore& store, std::string_view name) const;
    int Save(CampaignStore& store, std::string_view name, const CampaignOptions& options,
             bool editing);
    // The name an editor loads the campaign under: its record's display name
    // when that is name in another letter case, else name.
    static std::string LoadName(const CampaignRecord& stored, std::string_view name);

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
