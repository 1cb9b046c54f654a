#pragma once

#include <string>
#include <string_view>

#include "app/Result.h"
#include "app/TextLookup.h"

namespace kavri {

class CampaignStore;
struct CampaignRecord;

// Finding a campaign an operator names, for every command that acts on an
// existing one.
//
// Free functions; the thread that owns the store. Throw only std::bad_alloc.

// Success when name can be a folder name and is a listed campaign; else
// refused with "CampaignNameInvalid" (and why) or "CampaignNotFound" (and the
// name), in texts.
Result FindListedCampaign(const CampaignStore& store, std::string_view name,
                          const TextLookup& texts);

// The name an editor loads the campaign under: its record's display name when
// that is name in another letter case (and a valid name), else name, so that
// typing a name in another letter case does not rename the campaign.
std::string EditorLoadName(const CampaignRecord& stored, std::string_view name);

}  // namespace kavri
