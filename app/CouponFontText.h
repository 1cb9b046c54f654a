#pragma once

#include <cstdint>
#include <string_view>

#include "app/Result.h"

namespace kavri {

struct CampaignRecord;

// The coupon text font as an operator types it: "FACE,SIZE,COLOR,STYLE"; a
// part left empty keeps what the campaign has ("Arial,12" changes face and
// size only). SIZE is whole points from 1 to 500. COLOR is "#RRGGBB", or a
// whole number as stored ("-2147483640", the system's window-text colour, is
// the default). STYLE is "regular" or bold, italic, underline and strikeout
// joined by "+" ("bold+italic"), or the stored number 0 to 15.
//
// Free functions; any thread. Throw only std::bad_alloc.

// "#RRGGBB" as the stored 0x00BBGGRR, or the stored number itself; false
// (stored untouched) for anything else.
bool ParseFontColor(std::string_view text, std::int32_t& stored);
// "bold+italic", "regular" (any letter case), or the stored bits 0 to 15;
// false (style untouched) for anything else.
bool ParseFontStyle(std::string_view text, std::uint8_t& style);
// Reads the whole font text into the record's FontName, FontSize, FontColor
// and FontStyle; on a refusal (naming the part and the form) none of them
// changes.
Result ApplyFontText(std::string_view text, CampaignRecord& values);

}  // namespace kavri
