#include "app/CampaignScheduleInput.h"

#include <array>
#include <optional>
#include <string_view>
#include <tuple>

#include "app/CampaignRecord.h"
#include "platform/Text.h"

namespace kavri {
namespace {

// The names of the modes, indexed by the stored "Scheduling" value.
constexpr std::array<std::string_view, 3> kSchedulingNames{"continuous", "time-based",
                                                           "day-of-week"};

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

std::string Examples(const std::string& iso, const std::string& regional) {
    return "like " + iso + (regional == iso ? std::string() : " or " + regional);
}

Result ReadDateTime(std::string_view option, const std::optional<std::string>& text,
                    const DateFormat& format, TDateTime now, TDateTime& value) {
    if (!text) {
        return Result::Success();
    }
    const bool parsed = ParseWithOptionalSeconds(
        *text, value,
        [&format](std::string_view t, TDateTime& out) { return format.ParseDateTime(t, out); });
    if (!parsed) {
        return Result::Failure(
            std::string(option) + ": " + Quoted(*text) + " is not a date and time (" +
            Examples(IsoDateTimeText(now), format.FormatDate(now) + " " + format.FormatTime(now)) +
            ")");
    }
    return Result::Success();
}

Result ReadTime(std::string_view option, const std::optional<std::string>& text,
                const DateFormat& format, TDateTime now, TDateTime& value) {
    if (!text) {
        return Result::Success();
    }
    const bool parsed = ParseWithOptionalSeconds(
        *text, value,
        [&format](std::string_view t, TDateTime& out) { return format.ParseTime(t, out); });
    if (!parsed) {
        return Result::Failure(
            std::string(option) + ": " + Quoted(*text) + " is not a time of day (" +
            Examples(DateFormat::Iso().FormatTime(now), format.FormatTime(now)) + ")");
    }
    return Result::Success();
}

// "mon,tue,sat": the listed days are set, all others cleared.
Result ReadDays(std::string_view text, std::array<bool, 7>& days) {
    std::array<bool, 7> chosen{};
    if (!TrimBlanks(text).empty()) {
        std::size_t start = 0;
        while (true) {
            const std::size_t comma = text.find(',', start);
            const std::string_view item = TrimBlanks(text.substr(
                start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
            bool known = false;
            for (std::size_t day = 0; day < CampaignRecord::kDayKeys.size(); ++day) {
                if (EqualsFoldedAscii(item, CampaignRecord::kDayKeys[day])) {
                    chosen[day] = true;
                    known = true;
                }
            }
            if (!known) {
                return Result::Failure("--days: " + Quoted(item) +
                                       " is not a day (mon, tue, wed, thu, fri, sat, sun)");
            }
            if (comma == std::string_view::npos) {
                break;
            }
            start = comma + 1;
        }
    }
    days = chosen;
    return Result::Success();
}

}  // namespace

Result ReadScheduleOptions(const CampaignOptions& o, bool editing, const DateFormat& format,
                           TDateTime now, CampaignRecord& values) {
    const bool windowGiven = o.From || o.Until;
    const bool dailyGiven = o.Days || o.DailyFrom || o.DailyUntil;
    if (o.Scheduling) {
        int mode = -1;
        for (std::size_t i = 0; i < kSchedulingNames.size(); ++i) {
            if (EqualsFoldedAscii(*o.Scheduling, kSchedulingNames[i])) {
                mode = static_cast<int>(i);
            }
        }
        if (mode < 0) {
            return Result::Failure("--scheduling: " + Quoted(*o.Scheduling) +
                                   " is not a mode (continuous, time-based, day-of-week)");
        }
        values.Scheduling = mode;
    } else if (windowGiven && dailyGiven) {
        return Result::Failure(
            "both time-window (--from, --until) and day-of-week (--days, --daily-from, "
            "--daily-until) options are given; choose the mode with --scheduling");
    } else if (windowGiven) {
        values.Scheduling = kSchedulingTimeBased;
    } else if (dailyGiven) {
        values.Scheduling = kSchedulingDayOfWeek;
    }

    // A value given wrong is named before a value left out, so a bad
    // --days alone is told what is wrong with it.
    if (Result read = ReadDateTime("--from", o.From, format, now, values.StartDateTime); !read) {
        return read;
    }
    if (Result read = ReadDateTime("--until", o.Until, format, now, values.EndDateTime); !read) {
        return read;
    }
    if (Result read = ReadTime("--daily-from", o.DailyFrom, format, now, values.StartTime); !read) {
        return read;
    }
    if (Result read = ReadTime("--daily-until", o.DailyUntil, format, now, values.EndTime); !read) {
        return read;
    }
    if (o.Days) {
        if (Result read = ReadDays(*o.Days, values.Days); !read) {
            return read;
        }
    }

    // Taken as typed: the editor's OK checks the names, for the windows too.
    if (o.DeviceTypes) {
        values.DeviceTypes = *o.DeviceTypes;
    }

    if (!editing && values.Scheduling == kSchedulingTimeBased && (!o.From || !o.Until)) {
        return Result::Failure("a time-based campaign needs --from and --until");
    }
    if (!editing && values.Scheduling == kSchedulingDayOfWeek &&
        (!o.Days || !o.DailyFrom || !o.DailyUntil)) {
        return Result::Failure(
            "a day-of-week campaign needs --days, --daily-from and --daily-until");
    }
    return CheckScheduleWindows(values, o.From && o.Until, o.DailyFrom && o.DailyUntil);
}

Result CheckScheduleWindows(const CampaignRecord& values, bool timeWindowGiven,
                            bool dailyWindowGiven) {
    // A window that ends before it starts is never open; the mode's own
    // window is checked even when its values come from the record.
    const DateFormat isoFormat = DateFormat::Iso();
    if ((values.Scheduling == kSchedulingTimeBased || timeWindowGiven) &&
        EarlierThan(values.EndDateTime, values.StartDateTime)) {
        return Result::Failure("the time window would end before it starts: from " +
                               IsoDateTimeText(values.StartDateTime) + " until " +
                               IsoDateTimeText(values.EndDateTime));
    }
    if ((values.Scheduling == kSchedulingDayOfWeek || dailyWindowGiven) &&
        values.EndTime.TimePart() < values.StartTime.TimePart()) {
        return Result::Failure("the daily window would end before it starts: from " +
                               isoFormat.FormatTime(values.StartTime) + " until " +
                               isoFormat.FormatTime(values.EndTime) +
                               " (a daily window does not run over midnight)");
    }
    if (values.Scheduling == kSchedulingDayOfWeek && values.Days == std::array<bool, 7>{}) {
        return Result::Failure("a day-of-week campaign needs at least one day (--days)");
    }
    return Result::Success();
}

std::string IsoDateTimeText(TDateTime value) {
    const DateFormat iso = DateFormat::Iso();
    const std::string date = iso.FormatDate(value);
    return date.empty() ? date : date + " " + iso.FormatTime(value);
}

}  // namespace kavri
