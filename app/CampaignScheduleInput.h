#pragma once

#include <string>

#include "app/CampaignOptions.h"
#include "app/DateFormat.h"
#include "app/DateTime.h"
#include "app/Result.h"

namespace kavri {

struct CampaignRecord;

// The scheduling of a campaign as typed (CampaignOptions), read into the
// record's values, and the rules a schedule must meet to be stored.
//
// The mode comes from Scheduling ("continuous", "time-based", "day-of-week"),
// else from which kind of window values were given (From/Until: time-based;
// Days/DailyFrom/DailyUntil: day-of-week), else stays as it is; giving both
// kinds needs Scheduling. A new time-based campaign needs From and Until, a
// new day-of-week one Days, DailyFrom and DailyUntil. DeviceTypes, which
// travels with the schedule to the editor, is copied as typed; the editor's OK
// checks it.
//
// Free functions; any thread. Throw only std::bad_alloc.

// Reads the scheduling options into values (the editor's, so values the
// options leave out keep what values holds), then checks the result with
// CheckScheduleWindows. format is the regional form accepted beside ISO 8601;
// now gives the examples in messages. A value given wrong is named before one
// left out. On failure values may be partly changed.
Result ReadScheduleOptions(const CampaignOptions& options, bool editing, const DateFormat& format,
                           TDateTime now, CampaignRecord& values);

// The rules of a storable schedule: the window of the chosen mode, and any
// window whose two ends were both given (timeWindowGiven, dailyWindowGiven),
// must not end before it starts (a daily window does not run over midnight),
// and a day-of-week campaign needs at least one day. Such a campaign could
// never be sent, so it is refused rather than stored (the windows' pickers
// move an end instead; typed values cannot be corrected in place).
Result CheckScheduleWindows(const CampaignRecord& values, bool timeWindowGiven,
                            bool dailyWindowGiven);

// "YYYY-MM-DD HH:MM:SS" always with the time, unlike the stored form; empty
// for a value without a calendar date.
std::string IsoDateTimeText(TDateTime value);

}  // namespace kavri
