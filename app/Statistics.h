#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/DateTime.h"
#include "app/Result.h"

namespace kavri {

class CampaignStore;

// The counts of the statistics view: for a range of days, how many devices
// accepted and how many refused each campaign, and how many of those that
// accepted have redeemed their coupon. Each device file holds one record per
// device, so the counts are of devices, by the date of their latest record.
// Reading only; nothing is written.
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

// The language keys of the two columns that follow the four of
// kStatisticsTitles: the redeemed count and the redemption rate.
inline constexpr std::array<std::string_view, 2> kRedemptionTitles = {"Statistics_Redeemed",
                                                                      "Statistics_RedemptionRate"};

// One row of the view.
struct CampaignStatistics {
    std::string Name;  // the record's display name ("Name"), empty when missing
    std::int64_t Accepted = 0;
    std::int64_t Rejected = 0;
    std::int64_t Total = 0;
    // Of the Accepted devices, those whose record holds a "Redeemed" entry.
    std::int64_t Redeemed = 0;
};

// Redeemed out of Accepted as a percentage with one decimal and a point
// ("25.0", "100.0"), rounded half up; empty when nothing was accepted, as a
// rate of nothing is no number. The same text whatever the locale.
std::string RedemptionRateText(const CampaignStatistics& row);

// One row per entry of the campaign list, in list order, disabled campaigns
// included. A record counts when From <= DateTime <= Until ("DateTime" missing
// or unreadable reads as 0, that is 30 December 1899). A redemption counts by
// the date its device accepted, not the date it was redeemed, so that it is
// one of the accepted devices counted beside it and the rate never passes
// 100 %: a coupon handed out in the range and redeemed after it counts, one
// handed out before the range and redeemed within it does not. The rows go to rows;
// refused with the path and the reason when the campaign list or a
// device file cannot be read.
Result CountDecisions(const CampaignStore& store, const StatisticsRange& range,
                      std::vector<CampaignStatistics>& rows);

}  // namespace kavri
