#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/DateTime.h"
#include "app/Result.h"

namespace kavri {

class IniFile;

// Campaign types ("Type") and scheduling modes ("Scheduling") as stored.
inline constexpr int kCampaignFileBased = 0;
inline constexpr int kCampaignMessageBased = 1;
inline constexpr int kCampaignCouponBased = 2;
inline constexpr int kSchedulingContinuous = 0;
inline constexpr int kSchedulingTimeBased = 1;
inline constexpr int kSchedulingDayOfWeek = 2;

// One campaign's record: the file "settings.dat" in its campaign folder,
// section "SETTINGS". The defaults are what a missing key (or a missing file,
// or text that does not convert) reads as; a missing name reads empty here and
// the campaign list shows it as "UNDEFINED" itself.
//
// A plain value; any thread; Read throws only std::bad_alloc.
struct CampaignRecord {
    static constexpr std::string_view kFileName = "settings.dat";
    static constexpr std::string_view kSection = "SETTINGS";
    // Day keys, Sunday first, so Days[date.DayOfWeek() - 1] is that day's.
    static constexpr std::array<std::string_view, 7> kDayKeys{"Sun", "Mon", "Tue", "Wed",
                                                              "Thu", "Fri", "Sat"};

    std::string Name;
    int Type = -1;
    int Scheduling = -1;
    TDateTime StartDateTime;
    TDateTime EndDateTime;
    TDateTime StartTime;
    TDateTime EndTime;
    std::array<bool, 7> Days{};
    bool Enabled = false;
    // The device types the campaign is for, as stored (DeviceTypeFilter);
    // empty for every type.
    std::string DeviceTypes;
    std::string FileName;
    // Coupon campaigns only.
    std::string MessageName;
    std::string MessageText;
    std::string Coupon;
    bool CouponEnabled = false;
    // "CouponPerDevice": every accepting device gets a code of its own, drawn
    // just before its push, instead of the campaign's one Coupon.
    bool CouponPerDevice = false;
    bool Top = false;
    bool Middle = false;
    bool Bottom = false;
    bool Left = false;
    bool Center = false;
    bool Right = false;
    std::string FontName;
    std::int32_t FontSize = 0;
    std::int32_t FontColor = 0;
    std::uint8_t FontStyle = 0;

    // Every key of the section, with the defaults above for what is missing.
    static CampaignRecord Read(const IniFile& file);

    using Entries = std::vector<std::pair<std::string, std::string>>;
    // The keys every editor writes, in the order a new record receives them:
    // Name, Type, Scheduling, StartDateTime, EndDateTime, StartTime, EndTime,
    // Mon ... Sun, Enabled, then DeviceTypes when it is not empty or file
    // holds it already (so clearing it is saved, and a record of every type
    // stays as it was always written). Date-times and times in the file's stored form,
    // ISO 8601 (a date-time at midnight as the date alone); seconds' fractions
    // are dropped.
    Entries CommonEntries(const IniFile& file) const;
    // What the coupon editor writes after the common keys: FileName, MessageName,
    // MessageText, Coupon, CouponEnabled, Top, Middle, Bottom, Left, Center,
    // Right, FontName, FontSize, FontColor, FontStyle, then CouponPerDevice
    // only when it is on, so a record that never had it is written as it
    // always was (an editor switching it off names it "0" itself).
    Entries CouponEntries() const;
    // Whether the sender hands each accepting device its own code: a coupon
    // campaign with its coupon and CouponPerDevice both on.
    bool HandsOutDeviceCodes() const;

    // Writes entries into file's section in one replacement of the file, so a
    // record is saved whole or not at all. Existing keys keep their places and
    // keys not named stay as they are. A failed write says why.
    static Result Write(IniFile& file, const Entries& entries);
};

}  // namespace kavri
