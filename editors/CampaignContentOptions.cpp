#include "editors/CampaignContentOptions.h"

#include <array>
#include <string>
#include <string_view>

#include "app/CampaignRecord.h"
#include "app/CampaignTypeNames.h"
#include "app/CouponFontText.h"
#include "app/FileCampaignEditor.h"
#include "editors/CouponCampaignEditor.h"
#include "editors/MessageCampaignEditor.h"

namespace kavri {
namespace {

std::string Quoted(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

std::string Lowered(std::string_view text) {
    std::string lowered(text);
    for (char& c : lowered) {
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return lowered;
}

Result ApplyCoupon(CouponCampaignEditor& editor, const CampaignOptions& options) {
    CampaignRecord& values = editor.Values();
    if (options.Place) {
        const std::string place = Lowered(*options.Place);
        if (place == "top") {
            editor.SetPlacement(CouponPlacement::Top);
        } else if (place == "middle") {
            editor.SetPlacement(CouponPlacement::Middle);
        } else if (place == "bottom") {
            editor.SetPlacement(CouponPlacement::Bottom);
        } else {
            return Result::Failure("--place: " + Quoted(*options.Place) +
                                   " is not top, middle or bottom");
        }
    }
    if (options.Align) {
        const std::string align = Lowered(*options.Align);
        if (align == "left") {
            editor.SetAlignment(CouponAlignment::Left);
        } else if (align == "center" || align == "centre") {
            editor.SetAlignment(CouponAlignment::Center);
        } else if (align == "right") {
            editor.SetAlignment(CouponAlignment::Right);
        } else {
            return Result::Failure("--align: " + Quoted(*options.Align) +
                                   " is not left, center or right");
        }
    }
    if (options.Font) {
        if (Result font = ApplyFontText(*options.Font, values); !font) {
            return font;
        }
    }
    if (options.Image) {
        if (Result image = editor.ChooseImage(*options.Image); !image) {
            return Result::Failure("--image: " + image.Message);
        }
    }
    if (options.Promotion) {
        values.MessageName = *options.Promotion;
    }
    if (options.Message) {
        values.MessageText = *options.Message;
    }
    if (options.Coupon) {
        values.Coupon = *options.Coupon;
        values.CouponEnabled = true;
    }
    if (options.GenerateCoupon) {
        editor.GenerateCoupon();
        values.CouponEnabled = true;
    }
    if (options.CouponEnabled) {
        values.CouponEnabled = *options.CouponEnabled;
    }
    return Result::Success();
}

}  // namespace

Result CheckContentOptions(int type, const CampaignOptions& options) {
    struct Belonging {
        bool Given;
        std::string_view Option;
        std::array<bool, 3> Types;  // file, message, coupon
    };
    const std::array<Belonging, 12> belongings{{
        {options.SourceFile.has_value(), "--file", {true, false, false}},
        {options.FileName.has_value(), "--file-name", {true, false, false}},
        {options.Company.has_value(), "--company", {false, true, false}},
        {options.Url.has_value(), "--url", {false, true, false}},
        {options.Phone.has_value(), "--phone", {false, true, false}},
        {options.Message.has_value(), "--message", {false, true, true}},
        {options.Promotion.has_value(), "--promotion", {false, false, true}},
        {options.Image.has_value(), "--image", {false, false, true}},
        {options.Coupon.has_value() || options.GenerateCoupon || options.CouponEnabled.has_value(),
         "--coupon, --generate-coupon and --no-coupon",
         {false, false, true}},
        {options.Place.has_value(), "--place", {false, false, true}},
        {options.Align.has_value(), "--align", {false, false, true}},
        {options.Font.has_value(), "--font", {false, false, true}},
    }};
    const bool known = IsKnownCampaignType(type);
    for (const Belonging& belonging : belongings) {
        if (belonging.Given && (!known || !belonging.Types[static_cast<std::size_t>(type)])) {
            return Result::Failure(std::string(belonging.Option) + " does not apply to a " +
                                   CampaignTypeName(type) + " campaign");
        }
    }
    return Result::Success();
}

Result ApplyContentOptions(int type, CampaignEditor& editor, const CampaignOptions& options) {
    switch (type) {
        case kCampaignFileBased: {
            auto& file = static_cast<FileCampaignEditor&>(editor);
            if (options.SourceFile) {
                file.ChooseSourceFile(*options.SourceFile);
            }
            if (options.FileName) {
                file.Values().FileName = *options.FileName;
            }
            return Result::Success();
        }
        case kCampaignMessageBased:
            // On a card that did not read, the fields left out are unknown:
            // the editor refuses rather than write a card of the given ones.
            return static_cast<MessageCampaignEditor&>(editor).ChangeFields(
                {options.Company, options.Url, options.Phone, options.Message});
        case kCampaignCouponBased:
            return ApplyCoupon(static_cast<CouponCampaignEditor&>(editor), options);
        default:
            return Result::Failure("campaigns of " + CampaignTypeName(type) +
                                   " cannot be changed here");
    }
}

}  // namespace kavri
