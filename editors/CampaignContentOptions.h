#pragma once

#include "app/CampaignOptions.h"
#include "app/Result.h"

namespace kavri {

class CampaignEditor;

// The content side of a campaign as typed (CampaignOptions): which options
// belong to which campaign type, and putting them into the type's editor.
//
// Free functions; the editor's thread. Throw only std::bad_alloc.

// Refused, naming the first option given that does not belong to type (file,
// message or coupon; a type this program lacks takes none of them).
Result CheckContentOptions(int type, const CampaignOptions& options);

// Puts the type's own options into editor (which is of type): the source
// file and file name, the card's fields, or the coupon's placement,
// alignment, font, image, texts and code. Refused with why an option cannot be
// used (an image that does not load, an unknown placement, a font that does
// not read, card fields that are not all four given for a card that cannot be
// read); the editor is then unusable.
Result ApplyContentOptions(int type, CampaignEditor& editor, const CampaignOptions& options);

}  // namespace kavri
