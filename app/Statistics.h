#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/DateTime.h"
#include "app/Result.h"

namespace kavri {

class CampaignStore;

// The counts of the statistics view: for a range of days, how many devices
// accepted and how many refused each campaign. Each device file holds one
// record per device, so the counts are of devices, by the date of their latest
// record. Reading only; nothing is written.
//
// Free functions and a plain value type: main thread (the store's thread).
// Throws only std::bad_alloc. A missing device file counts 0; one that exists
// but cannot be read fails the count, so no row shows a made-up 0.

// The instants a range of whole days covers: From is 00:00:00 of the first day,
// Until 23:59:59 of the last, both included.
struct StatisticsRange {
    TDateTime From;
    TDateTime Until;
};

// From fromDay's date at 00:00:00 to toDay's date at 23:59:59; a toDay before
// fromDay is moved forward to fromDay, as the view keeps its two dates ordered.
// The time parts of both are ignored.
StatisticsRange DayRange(TDateTime fromDay, TDateTime toDay);

// One row of the view.
struct CampaignStatistics {
    std::string Name;  // the record's display name ("Name"), empty when missing
    std::int64_t Accepted = 0;
    std::int64_t Rejected = 0;
    std::int64_t Total = 0;
};

// One row per entry of the campaign list, in list order, disabled campaigns
// included. A record counts when From <= DateTime <= Until ("DateTime" missing
// or unreadable reads as 0, that is 30 December 1899). The rows go to rows;
// refused with the path and the reason when the campaign list or a
// device file cannot be read.
Result CountDecisions(const CampaignStore& store, const StatisticsRange& range,
                      std::vector<CampaignStatistics>& rows);

}  // namespace kavri
