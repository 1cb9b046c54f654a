#pragma once

#include <array>
#include <string_view>

namespace kavri {

// The language keys of the column titles of the record listings, in column
// order, shared by the windows' lists and kavrictl's title lines.
inline constexpr std::array<std::string_view, 4> kCampaignListTitles = {
    "Campaign_Name", "Main_Campaign_Type", "Enabled", "Scheduling"};
inline constexpr std::array<std::string_view, 3> kBlackListTitles = {"Device_Address",
                                                                     "Device_Name", "Device_Type"};
inline constexpr std::array<std::string_view, 5> kRejectedTitles = {
    "Campaign_Name", "Device_Address", "Device_Name", "Device_Type", "DateTime"};
inline constexpr std::array<std::string_view, 6> kAcceptedTitles = {
    "Campaign_Name", "Device_Address", "Device_Name",
    "Device_Type",   "DateTime",       "CheckCoupon_Coupon"};
inline constexpr std::array<std::string_view, 4> kStatisticsTitles = {
    "Campaign_Name", "Statistics_Accepted", "Statistics_Rejected", "Statistics_Total"};
inline constexpr std::array<std::string_view, 4> kCouponCheckTitles = {
    "Campaign_Name", "Device_Address", "Device_Name", "DateTime"};

}  // namespace kavri
