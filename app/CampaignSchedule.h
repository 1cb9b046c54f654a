#pragma once

#include "app/CampaignRecord.h"
#include "app/DateTime.h"

namespace kavri {

// Whether a campaign's schedule lets it be sent at the moment now (local date
// and time), by its "Scheduling":
//   0 continuous: always;
//   1 time based: StartDateTime <= now <= EndDateTime, both ends included;
//   2 day of week: today's day key is set and StartTime <= now's time of day
//     <= EndTime, both ends included; a window whose start lies after its end
//     never matches (there is no wrap over midnight);
//   anything else: never.
// "Enabled" is not looked at: eligibility is the campaign list's business.
//
// An end is stored to the second, so it includes its whole second: a window
// ending at 04:09:01 is still open at 04:09:01.999.
//
// Instants are compared to the millisecond, so a value read back from its text
// and the same moment from the clock compare equal despite the rounding of the
// day-fraction encoding, and dates before 30 December 1899 (whose fraction
// runs the other way) still order correctly. A moment without a calendar date
// (NaN, beyond the year 9999) is never inside a window.
//
// Pure; any thread; throws nothing.
bool IsScheduledAt(const CampaignRecord& record, TDateTime now) noexcept;

}  // namespace kavri
