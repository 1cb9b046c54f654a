#include "app/CampaignRecord.h"

#include "app/IniFile.h"

namespace kavri {

namespace {

// Mon ... Sun, the order in which the editors write the day keys, as indexes
// of kDayKeys.
constexpr std::array<std::size_t, 7> kWrittenDayOrder{1, 2, 3, 4, 5, 6, 0};

std::string Flag(bool value) {
    return value ? "1" : "0";
}

}  // namespace

CampaignRecord CampaignRecord::Read(const IniFile& file) {
    CampaignRecord r;
    const std::string_view s = kSection;
    r.Name = file.ReadString(s, "Name", "");
    r.Type = file.ReadInteger(s, "Type", -1);
    r.Scheduling = file.ReadInteger(s, "Scheduling", -1);
    r.StartDateTime = file.ReadDateTime(s, "StartDateTime", TDateTime());
    r.EndDateTime = file.ReadDateTime(s, "EndDateTime", TDateTime());
    r.StartTime = file.ReadTime(s, "StartTime", TDateTime());
    r.EndTime = file.ReadTime(s, "EndTime", TDateTime());
    for (std::size_t day = 0; day < kDayKeys.size(); ++day) {
        r.Days[day] = file.ReadBool(s, kDayKeys[day], false);
    }
    r.Enabled = file.ReadBool(s, "Enabled", false);
    r.DeviceTypes = file.ReadString(s, "DeviceTypes", "");
    r.FileName = file.ReadString(s, "FileName", "");
    r.MessageName = file.ReadString(s, "MessageName", "");
    r.MessageText = file.ReadString(s, "MessageText", "");
    r.Coupon = file.ReadString(s, "Coupon", "");
    r.CouponEnabled = file.ReadBool(s, "CouponEnabled", false);
    r.CouponPerDevice = file.ReadBool(s, "CouponPerDevice", false);
    r.Top = file.ReadBool(s, "Top", false);
    r.Middle = file.ReadBool(s, "Middle", false);
    r.Bottom = file.ReadBool(s, "Bottom", false);
    r.Left = file.ReadBool(s, "Left", false);
    r.Center = file.ReadBool(s, "Center", false);
    r.Right = file.ReadBool(s, "Right", false);
    r.FontName = file.ReadString(s, "FontName", "");
    r.FontSize = file.ReadInteger(s, "FontSize", 0);
    r.FontColor = file.ReadInteger(s, "FontColor", 0);
    // The style is an 8-bit set; wider stored values keep their low byte.
    r.FontStyle = static_cast<std::uint8_t>(file.ReadInteger(s, "FontStyle", 0));
    return r;
}

CampaignRecord::Entries CampaignRecord::CommonEntries(const IniFile& file) const {
    const DateFormat& format = file.Format();
    Entries entries{
        {"Name", Name},
        {"Type", std::to_string(Type)},
        {"Scheduling", std::to_string(Scheduling)},
        {"StartDateTime", format.FormatDateTime(StartDateTime)},
        {"EndDateTime", format.FormatDateTime(EndDateTime)},
        {"StartTime", format.FormatTime(StartTime.TimePart())},
        {"EndTime", format.FormatTime(EndTime.TimePart())},
    };
    for (std::size_t day : kWrittenDayOrder) {
        entries.emplace_back(std::string(kDayKeys[day]), Flag(Days[day]));
    }
    entries.emplace_back("Enabled", Flag(Enabled));
    if (!DeviceTypes.empty() || file.ValueExists(kSection, "DeviceTypes")) {
        entries.emplace_back("DeviceTypes", DeviceTypes);
    }
    return entries;
}

CampaignRecord::Entries CampaignRecord::CouponEntries() const {
    Entries entries{
        {"FileName", FileName},
        {"MessageName", MessageName},
        {"MessageText", MessageText},
        {"Coupon", Coupon},
        {"CouponEnabled", Flag(CouponEnabled)},
        {"Top", Flag(Top)},
        {"Middle", Flag(Middle)},
        {"Bottom", Flag(Bottom)},
        {"Left", Flag(Left)},
        {"Center", Flag(Center)},
        {"Right", Flag(Right)},
        {"FontName", FontName},
        {"FontSize", std::to_string(FontSize)},
        {"FontColor", std::to_string(FontColor)},
        {"FontStyle", std::to_string(FontStyle)},
    };
    if (CouponPerDevice) {
        entries.emplace_back("CouponPerDevice", Flag(CouponPerDevice));
    }
    return entries;
}

bool CampaignRecord::HandsOutDeviceCodes() const {
    return Type == kCampaignCouponBased && CouponEnabled && CouponPerDevice;
}

Result CampaignRecord::Write(IniFile& file, const Entries& entries) {
    std::vector<std::pair<std::string_view, std::string_view>> views;
    views.reserve(entries.size());
    for (const auto& [key, value] : entries) {
        views.emplace_back(key, value);
    }
    return file.WriteValues(kSection, views);
}

}  // namespace kavri
