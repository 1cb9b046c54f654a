#pragma once

#include <string_view>

#include "app/Result.h"
#include "app/TextLookup.h"

namespace kavri {

class CampaignStore;

// Switches a listed campaign of any type on or off by writing "Enabled" alone
// into its record, so nothing else of the record moves. Refused as
// FindListedCampaign refuses, and for a listed campaign without a record
// (which is not given one holding that key alone); a failed write says why.
//
// The thread that owns the store. Throws only std::bad_alloc.
Result SetCampaignEnabled(CampaignStore& store, std::string_view name, bool enabled,
                          const TextLookup& texts);

}  // namespace kavri
