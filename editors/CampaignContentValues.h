#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/Result.h"
#include "app/TextLookup.h"

namespace kavri {

class CampaignStore;
class DateTimeClock;
struct CampaignRecord;

// A campaign's content beyond the record's common keys, as key and value:
// FileName, then the card's Company, URL, Phone and Message read back from
// "card.vcf" (message) or the coupon's keys in record order (coupon). name is
// the campaign's display name as stored. The lines are filled also when the
// card cannot be read (its fields empty); the result then says why.
//
// The store's thread. Throws only std::bad_alloc.
Result ReadContentValues(const CampaignRecord& record, CampaignStore& store,
                         const DateTimeClock& clock, const TextLookup& texts, std::string_view name,
                         std::vector<std::pair<std::string, std::string>>& lines);

}  // namespace kavri
