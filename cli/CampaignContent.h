#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/TextLookup.h"

namespace kavri {
class CampaignEditor;
struct CampaignRecord;
class CampaignStore;
class DateTimeClock;
}  // namespace kavri

namespace kavri::cli {

struct CampaignOptions;

// The content side of `kavrictl campaign add|edit|show`: which editor a
// campaign type takes, the options that belong to each type, and what `show`
// prints beyond the record's common keys.
//
// Types on the command line: "file" (0), "message" (1), "coupon" (2).
//
// --font FACE,SIZE,COLOR,STYLE sets the coupon text font; a part left empty
// keeps what the campaign has ("Arial,12" changes face and size only). SIZE is
// whole points from 1 to 500. COLOR is "#RRGGBB", or a whole number as stored
// ("-2147483640", the system's window-text colour, is the default). STYLE is
// "regular" or bold, italic, underline and strikeout joined by "+"
// ("bold+italic"), or the stored number 0 to 15.
//
// Free functions; the thread that runs the command. Throw only std::bad_alloc.

// The stored type of a --type value, or -1 when it names none.
int CampaignTypeOf(std::string_view name);
// The --type value of a stored type ("type N" for one this program lacks).
std::string CampaignTypeName(int type);

// A new editor of type (file, message or coupon) for the store. A coupon editor
// draws: a GuiSession must live around its use.
std::unique_ptr<CampaignEditor> MakeEditor(int type, CampaignStore& store,
                                           const DateTimeClock& clock, TextLookup texts);

// Empty when every option given belongs to type (file, message or coupon);
// else the refusal, naming the first option that does not.
std::string ForeignOptionRefusal(int type, const CampaignOptions& options);

// Puts the type's own options into editor (which is of type): the source
// file and file name, the card's fields, or the coupon's. Empty on success,
// else why an option cannot be used (an image that does not load, an
// unknown placement, a font that does not read, card fields that are not all
// four given for a card that cannot be read); the editor is then unusable.
std::string ApplyContentOptions(int type, CampaignEditor& editor, const CampaignOptions& options);

// What `campaign show` prints after the common keys, as key and value:
// FileName, then the card's Company, URL, Phone and Message read back from
// "card.vcf" (message) or the coupon's keys in record order (coupon). name is
// the campaign's display name as stored. error tells why a card could not be
// read; its fields are then empty.
std::vector<std::pair<std::string, std::string>> ContentLines(
    const CampaignRecord& record, CampaignStore& store, const DateTimeClock& clock,
    const TextLookup& texts, std::string_view name, std::string& error);

}  // namespace kavri::cli
