#include "app/CampaignTypeNames.h"

#include "platform/Text.h"

#include <array>

namespace kavri {
namespace {

constexpr std::array<std::string_view, 3> kTypeNames{"file", "message", "coupon"};

}  // namespace

int CampaignTypeOf(std::string_view name) {
    std::string lowered(name);
    for (char& c : lowered) {
        c = LowerAscii(c);
    }
    for (std::size_t i = 0; i < kTypeNames.size(); ++i) {
        if (lowered == kTypeNames[i]) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

std::string CampaignTypeName(int type) {
    return IsKnownCampaignType(type) ? std::string(kTypeNames[static_cast<std::size_t>(type)])
                                     : "type " + std::to_string(type);
}

bool IsKnownCampaignType(int type) {
    return type >= 0 && static_cast<std::size_t>(type) < kTypeNames.size();
}

}  // namespace kavri
