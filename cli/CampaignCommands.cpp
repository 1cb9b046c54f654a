#include "cli/CampaignCommands.h"

#include <array>
#include <stdexcept>
#include <tuple>
#include <utility>

#include <sys/stat.h>

#include "app/CampaignEditor.h"
#include "app/CampaignRecord.h"
#include "app/CampaignStore.h"
#include "app/CampaignTable.h"
#include "app/DataFolder.h"
#include "app/DateTimeClock.h"
#include "app/IniFile.h"
#include "cli/CampaignContent.h"
#include "cli/Escape.h"
#include "cli/GuiSession.h"
#include "cli/OperatorTexts.h"

namespace kavri::cli {
namespace {

// The names of --scheduling, indexed by the stored "Scheduling" value.
constexpr std::array<std::string_view, 3> kSchedulingNames{"continuous", "time-based",
                                                           "day-of-week"};

char FoldAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsFolded(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i])) {
            return false;
        }
    }
    return true;
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

std::string Quoted(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

// Seconds may be left out ("09:30", "2026-06-01 09:30"): the form a person
// types most, and one that no pattern of ours reads on its own.
template <typename Parse>
bool ParseWithOptionalSeconds(std::string_view text, TDateTime& out, Parse parse) {
    return parse(text, out) || parse(std::string(TrimBlanks(text)) + ":00", out);
}

// a before b to the millisecond. Compared by fields, because before
// 30 December 1899 the day fraction runs the other way.
bool EarlierThan(TDateTime a, TDateTime b) {
    const auto pa = a.Parts();
    const auto pb = b.Parts();
    if (!pa || !pb) {
        return false;
    }
    auto key = [](const DateTimeParts& p) {
        return std::tie(p.Year, p.Month, p.Day, p.Hour, p.Minute, p.Second, p.Millisecond);
    };
    return key(*pa) < key(*pb);
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// Parses the scheduling options into values. The mode comes from --scheduling,
// else from which kind of window options were given, else stays as it is.
class ScheduleReader {
public:
    ScheduleReader(const DateFormat& format, TDateTime now) : m_format(format), m_now(now) {}

    bool Apply(const CampaignOptions& o, bool editing, CampaignRecord& values, std::string& error) {
        const bool windowGiven = o.From || o.Until;
        const bool dailyGiven = o.Days || o.DailyFrom || o.DailyUntil;
        if (o.Scheduling) {
            int mode = -1;
            for (std::size_t i = 0; i < kSchedulingNames.size(); ++i) {
                if (EqualsFolded(*o.Scheduling, kSchedulingNames[i])) {
                    mode = static_cast<int>(i);
                }
            }
            if (mode < 0) {
                error = "--scheduling: " + Quoted(*o.Scheduling) +
                        " is not a mode (continuous, time-based, day-of-week)";
                return false;
            }
            values.Scheduling = mode;
        } else if (windowGiven && dailyGiven) {
            error =
                "both time-window (--from, --until) and day-of-week (--days, --daily-from, "
                "--daily-until) options are given; choose the mode with --scheduling";
            return false;
        } else if (windowGiven) {
            values.Scheduling = kSchedulingTimeBased;
        } else if (dailyGiven) {
            values.Scheduling = kSchedulingDayOfWeek;
        }

        // A value given wrong is named before a value left out, so a bad
        // --days alone is told what is wrong with it.
        if (!ReadDateTime("--from", o.From, values.StartDateTime, error) ||
            !ReadDateTime("--until", o.Until, values.EndDateTime, error) ||
            !ReadTime("--daily-from", o.DailyFrom, values.StartTime, error) ||
            !ReadTime("--daily-until", o.DailyUntil, values.EndTime, error)) {
            return false;
        }
        if (o.Days && !ReadDays(*o.Days, values.Days, error)) {
            return false;
        }

        if (!editing && values.Scheduling == kSchedulingTimeBased && (!o.From || !o.Until)) {
            error = "a time-based campaign needs --from and --until";
            return false;
        }
        if (!editing && values.Scheduling == kSchedulingDayOfWeek &&
            (!o.Days || !o.DailyFrom || !o.DailyUntil)) {
            error = "a day-of-week campaign needs --days, --daily-from and --daily-until";
            return false;
        }

        // A window that ends before it starts is never open; the mode's own
        // window is checked even when its values come from the record.
        const DateFormat isoFormat = DateFormat::Iso();
        if ((values.Scheduling == kSchedulingTimeBased || (o.From && o.Until)) &&
            EarlierThan(values.EndDateTime, values.StartDateTime)) {
            error = "the time window would end before it starts: from " +
                    FullDateTime(isoFormat, values.StartDateTime) + " until " +
                    FullDateTime(isoFormat, values.EndDateTime);
            return false;
        }
        if ((values.Scheduling == kSchedulingDayOfWeek || (o.DailyFrom && o.DailyUntil)) &&
            values.EndTime.TimePart() < values.StartTime.TimePart()) {
            error = "the daily window would end before it starts: from " +
                    isoFormat.FormatTime(values.StartTime) + " until " +
                    isoFormat.FormatTime(values.EndTime) +
                    " (a daily window does not run over midnight)";
            return false;
        }
        if (values.Scheduling == kSchedulingDayOfWeek && values.Days == std::array<bool, 7>{}) {
            error = "a day-of-week campaign needs at least one day (--days)";
            return false;
        }
        return true;
    }

    // "YYYY-MM-DD HH:MM:SS" always with the time, unlike the stored form.
    static std::string FullDateTime(const DateFormat& iso, TDateTime value) {
        const std::string date = iso.FormatDate(value);
        return date.empty() ? date : date + " " + iso.FormatTime(value);
    }

private:
    bool ReadDateTime(std::string_view option, const std::optional<std::string>& text,
                      TDateTime& value, std::string& error) const {
        if (!text) {
            return true;
        }
        const bool parsed = ParseWithOptionalSeconds(
            *text, value,
            [this](std::string_view t, TDateTime& out) { return m_format.ParseDateTime(t, out); });
        if (!parsed) {
            error = std::string(option) + ": " + Quoted(*text) + " is not a date and time (" +
                    Examples(FullDateTime(DateFormat::Iso(), m_now),
                             m_format.FormatDate(m_now) + " " + m_format.FormatTime(m_now)) +
                    ")";
        }
        return parsed;
    }

    bool ReadTime(std::string_view option, const std::optional<std::string>& text, TDateTime& value,
                  std::string& error) const {
        if (!text) {
            return true;
        }
        const bool parsed = ParseWithOptionalSeconds(
            *text, value,
            [this](std::string_view t, TDateTime& out) { return m_format.ParseTime(t, out); });
        if (!parsed) {
            error = std::string(option) + ": " + Quoted(*text) + " is not a time of day (" +
                    Examples(DateFormat::Iso().FormatTime(m_now), m_format.FormatTime(m_now)) + ")";
        }
        return parsed;
    }

    static std::string Examples(const std::string& iso, const std::string& regional) {
        return "like " + iso + (regional == iso ? std::string() : " or " + regional);
    }

    // "mon,tue,sat": the listed days are set, all others cleared.
    static bool ReadDays(std::string_view text, std::array<bool, 7>& days, std::string& error) {
        std::array<bool, 7> chosen{};
        if (!TrimBlanks(text).empty()) {
            std::size_t start = 0;
            while (true) {
                const std::size_t comma = text.find(',', start);
                const std::string_view item = TrimBlanks(
                    text.substr(start, comma == std::string_view::npos ? std::string_view::npos
                                                                       : comma - start));
                bool known = false;
                for (std::size_t day = 0; day < CampaignRecord::kDayKeys.size(); ++day) {
                    if (EqualsFolded(item, CampaignRecord::kDayKeys[day])) {
                        chosen[day] = true;
                        known = true;
                    }
                }
                if (!known) {
                    error = "--days: " + Quoted(item) +
                            " is not a day (mon, tue, wed, thu, fri, sat, sun)";
                    return false;
                }
                if (comma == std::string_view::npos) {
                    break;
                }
                start = comma + 1;
            }
        }
        days = chosen;
        return true;
    }

    const DateFormat& m_format;
    TDateTime m_now;
};

std::string_view StateText(CampaignState state) {
    switch (state) {
        case csEnabled:
            return "enabled";
        case csDisabled:
            return "disabled";
        case csActive:
            return "active";
    }
    return "disabled";
}

}  // namespace

CampaignCommands::CampaignCommands(std::string dataFolder, const DateTimeClock& clock,
                                   DateFormat format, TextLookup texts, std::FILE* out,
                                   std::FILE* err)
    : m_dataFolder(std::move(dataFolder)),
      m_clock(clock),
      m_format(std::move(format)),
      m_texts(std::move(texts)),
      m_out(out),
      m_err(err) {}

int CampaignCommands::Fail(std::string_view message) const {
    // Names and paths in a message are the operator's text: escaped, they stay
    // on one line and cannot drive the terminal.
    std::fprintf(m_err, "kavrictl: %s\n", EscapeField(message).c_str());
    return 1;
}

std::unique_ptr<CampaignStore> CampaignCommands::OpenStore(bool forWriting) const {
    try {
        return std::make_unique<CampaignStore>(
            forWriting ? DataFolder::Open(m_dataFolder) : DataFolder::OpenExisting(m_dataFolder),
            m_format);
    } catch (const std::runtime_error& e) {
        Fail(e.what());
        return nullptr;
    }
}

std::string CampaignCommands::LoadName(const CampaignRecord& stored, std::string_view name) {
    // The editor saves under the name it loaded: the record's own display
    // name, so typing it in another letter case does not rename it.
    const bool storedNameFits = !stored.Name.empty() &&
                                DataFolder::SameCampaignName(stored.Name, name) &&
                                DataFolder::NameRefusal(stored.Name).empty();
    return storedNameFits ? stored.Name : std::string(name);
}

std::string CampaignCommands::FindRefusal(const CampaignStore& store, std::string_view name) const {
    if (std::string why = DataFolder::NameRefusal(name); !why.empty()) {
        return LookUpText(m_texts, "CampaignNameInvalid") + ": " + why;
    }
    if (!store.Campaigns().Contains(DataFolder::CampaignFolderName(name))) {
        return LookUpText(m_texts, "CampaignNotFound") + ": " + std::string(name);
    }
    return {};
}

int CampaignCommands::Save(CampaignStore& store, std::string_view name,
                           const CampaignOptions& options, bool editing) {
    int type = kCampaignFileBased;
    std::string loadName(name);
    if (editing) {
        if (std::string refusal = FindRefusal(store, name); !refusal.empty()) {
            return Fail(refusal);
        }
        const CampaignRecord stored = store.ReadRecord(name);
        type = stored.Type;
        loadName = LoadName(stored, name);
    } else if (options.Type) {
        type = CampaignTypeOf(*options.Type);
        if (type < 0) {
            return Fail("--type: " + Quoted(*options.Type) + " is not file, message or coupon");
        }
    }
    if (type != kCampaignFileBased && type != kCampaignMessageBased &&
        type != kCampaignCouponBased) {
        return Fail("campaign " + std::string(name) + " has the type " + std::to_string(type) +
                    ", which this program cannot edit");
    }
    if (type == kCampaignFileBased && !editing && !options.SourceFile) {
        return Fail("a file-based campaign needs --file PATH");
    }
    if (std::string refusal = ForeignOptionRefusal(type, options); !refusal.empty()) {
        return Fail(refusal);
    }
    // Declared before the editor, so the editor goes first.
    std::optional<GuiSession> gui;
    if (type == kCampaignCouponBased) {
        gui.emplace();
    }
    const std::unique_ptr<CampaignEditor> editor = MakeEditor(type, store, m_clock, m_texts);
    if (editing) {
        const EditorResult loaded = editor->Load(loadName);
        if (!loaded.Ok) {
            return Fail(loaded.Message);
        }
    } else {
        editor->Values().Name = std::string(name);
    }
    std::string error = ApplyContentOptions(type, *editor, options);
    if (!error.empty()) {
        return Fail(error);
    }
    ScheduleReader schedule(m_format, m_clock.Now());
    if (!schedule.Apply(options, editing, editor->Values(), error)) {
        return Fail(error);
    }
    if (options.Enabled) {
        editor->Values().Enabled = *options.Enabled;
    }
    const EditorResult saved = editor->Save();
    if (!saved.Ok) {
        return Fail(saved.Message);
    }
    return 0;
}

int CampaignCommands::Add(std::string_view name, const CampaignOptions& options) {
    const std::unique_ptr<CampaignStore> store = OpenStore();
    return store ? Save(*store, name, options, false) : 1;
}

int CampaignCommands::Edit(std::string_view name, const CampaignOptions& options) {
    const std::unique_ptr<CampaignStore> store = OpenStore();
    return store ? Save(*store, name, options, true) : 1;
}

int CampaignCommands::List(const std::vector<std::string>& titles) {
    const std::unique_ptr<CampaignStore> store = OpenStore(false);
    if (!store) {
        return 1;
    }
    if (!store->Campaigns().LoadError().empty()) {
        return Fail(store->Campaigns().LoadError());
    }
    for (const std::string& skipped : store->Campaigns().SkippedLines()) {
        std::fprintf(m_err, "kavrictl: warning: the campaign list line \"%s\" is skipped\n",
                     EscapeField(skipped).c_str());
    }
    CampaignTable table(*store, m_clock, m_texts);
    table.RefreshCampaigns();
    if (!titles.empty()) {
        std::fputs(TitleLine(titles).c_str(), m_out);
    }
    for (const CampaignRow& row : table.Rows()) {
        std::fprintf(m_out, "%s\t%s\t%s\t%s\n", EscapeField(row.Name).c_str(),
                     EscapeField(row.TypeText).c_str(), std::string(StateText(row.State)).c_str(),
                     EscapeField(row.SchedulingText).c_str());
    }
    return 0;
}

int CampaignCommands::Show(std::string_view name) {
    const std::unique_ptr<CampaignStore> store = OpenStore(false);
    if (!store) {
        return 1;
    }
    if (std::string refusal = FindRefusal(*store, name); !refusal.empty()) {
        return Fail(refusal);
    }
    const CampaignRecord record = store->ReadRecord(name);
    const DateFormat iso = DateFormat::Iso();
    const auto flag = [](bool value) { return std::string(value ? "1" : "0"); };
    std::vector<std::pair<std::string, std::string>> lines{
        {"Name", record.Name},
        {"Type", std::to_string(record.Type)},
        {"Scheduling", std::to_string(record.Scheduling)},
        {"StartDateTime", ScheduleReader::FullDateTime(iso, record.StartDateTime)},
        {"EndDateTime", ScheduleReader::FullDateTime(iso, record.EndDateTime)},
        {"StartTime", iso.FormatTime(record.StartTime.TimePart())},
        {"EndTime", iso.FormatTime(record.EndTime.TimePart())},
    };
    // Monday first, as the record is written.
    for (std::size_t i = 1; i <= 7; ++i) {
        const std::size_t day = i % 7;
        lines.emplace_back(std::string(CampaignRecord::kDayKeys[day]), flag(record.Days[day]));
    }
    lines.emplace_back("Enabled", flag(record.Enabled));
    std::string cardError;
    for (auto& [key, value] :
         ContentLines(record, *store, m_clock, m_texts, LoadName(record, name), cardError)) {
        lines.emplace_back(key, std::move(value));
    }
    for (const auto& [key, value] : lines) {
        std::fprintf(m_out, "%s\t%s\n", key.c_str(), EscapeField(value).c_str());
    }
    return cardError.empty() ? 0 : Fail(cardError);
}

int CampaignCommands::SetEnabled(std::string_view name, bool enabled) {
    const std::unique_ptr<CampaignStore> store = OpenStore();
    if (!store) {
        return 1;
    }
    if (std::string refusal = FindRefusal(*store, name); !refusal.empty()) {
        return Fail(refusal);
    }
    // Only "Enabled" is written, so every campaign type can be switched and
    // nothing else of the record moves. A listed campaign without a record is
    // not given one holding that key alone.
    const std::unique_ptr<IniFile> record = store->OpenRecord(name);
    if (!Exists(record->FileName())) {
        return Fail("campaign " + std::string(name) + " has no record (" + record->FileName() +
                    ")");
    }
    if (!CampaignRecord::Write(*record, {{"Enabled", enabled ? "1" : "0"}})) {
        return Fail(record->LastError());
    }
    return 0;
}

int CampaignCommands::Remove(std::string_view name) {
    const std::unique_ptr<CampaignStore> store = OpenStore();
    if (!store) {
        return 1;
    }
    if (std::string refusal = FindRefusal(*store, name); !refusal.empty()) {
        return Fail(refusal);
    }
    std::string error;
    if (!store->DeleteCampaign(name, error)) {
        return Fail(error);
    }
    return 0;
}

}  // namespace kavri::cli
