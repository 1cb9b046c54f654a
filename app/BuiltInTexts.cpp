#include "app/BuiltInTexts.h"

#include <array>
#include <utility>

namespace kavri {

std::string BuiltInText(std::string_view key) {
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 17> kTexts{{
        {"Continuous", "Continuous"},
        {"Time_Based", "Time based"},
        {"Day_Of_Weeek_Based", "Day of week based"},
        {"FileBased", "File based"},
        {"MessageBased", "Message based"},
        {"CouponBased", "Coupon based"},
        {"CampaignNameRequired", "Campaign name is required."},
        {"CampaignExists", "A campaign with this name already exists."},
        {"FileNameRequired", "File name is required."},
        {"SelectFile", "Select file for campaign"},
        {"StrMessageNameRequired", "Promotion name is required."},
        {"DeleteCampaign", "Delete the selected campaign?"},
        // Messages for refusals this program adds; the reason follows the text.
        {"CampaignNameInvalid", "This campaign name cannot be used"},
        {"FileNameInvalid", "This file name cannot be used"},
        {"SourceFileUnreadable", "The selected file cannot be read"},
        {"CampaignNotFound", "There is no such campaign"},
        {"CampaignSaveFailed", "The campaign could not be saved"},
    }};
    for (const auto& [k, text] : kTexts) {
        if (k == key) {
            return std::string(text);
        }
    }
    return std::string(kUndefinedText);
}

std::string TextOrBuiltIn(const TextLookup& lookup, std::string_view key) {
    if (lookup) {
        std::string text = lookup(key);
        if (text != kUndefinedText) {
            return text;
        }
    }
    return BuiltInText(key);
}

}  // namespace kavri
