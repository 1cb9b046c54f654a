#pragma once

#include <optional>
#include <string>

namespace kavri {

// The values of a campaign as an operator types them (`kavrictl campaign add`
// and `campaign edit`), before they are read into a campaign record. Each maps
// onto one part of the record; an option left out keeps the new editor's
// default (add) or the stored value (edit).
//   SourceFile  --file PATH          the file copied into the campaign folder
//   FileName    --file-name NAME     "FileName" (default: the source's name)
//   Scheduling  --scheduling MODE    "Scheduling": continuous, time-based, day-of-week
//   From/Until  --from, --until      "StartDateTime", "EndDateTime"
//   Days        --days mon,tue,...   "Mon" ... "Sun" (the listed days set, the others clear)
//   DailyFrom/DailyUntil --daily-from, --daily-until   "StartTime", "EndTime"
//   Enabled     --enabled, --disabled                  "Enabled"
//   DeviceTypes --device-types phone,computer          "DeviceTypes" (empty: every type)
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
// left|center|right, Font "FACE,SIZE,COLOR,STYLE" (see CouponFontText.h).
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
    std::optional<std::string> DeviceTypes;
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

}  // namespace kavri
