#pragma once

#include <string>
#include <string_view>

namespace kavri {

// The names an operator types for the campaign types: "file" (0), "message"
// (1), "coupon" (2), in any letter case.
//
// Free functions; any thread. Throw only std::bad_alloc.

// The stored type of a type name, or -1 when it names none.
int CampaignTypeOf(std::string_view name);
// The name of a stored type ("type N" for one this program lacks).
std::string CampaignTypeName(int type);
// True for the types this program has editors for.
bool IsKnownCampaignType(int type);

}  // namespace kavri
