#include "app/CampaignTypeNames.h"

#include <array>

namespace kavri {
namespace {

constexpr std::array<std::string_view, 3> kTypeNames{"file", "message", "coupon"};

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

int CampaignTypeOf(std::string_view name) {
    std::string lowered(name);
    for (char& c : lowered) {
        c = Lower(c);
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
