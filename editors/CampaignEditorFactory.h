#pragma once

#include <memory>

#include "app/TextLookup.h"

namespace kavri {

class CampaignEditor;
class CampaignStore;
class DateTimeClock;

// The editor a campaign type takes: a new FileCampaignEditor,
// MessageCampaignEditor or CouponCampaignEditor for the store, or null for a
// type this program has no editor for. A coupon editor draws, so a Qt GUI
// application must live around its use.
//
// The thread that owns the store; store and clock must outlive the editor.
// Throws only std::bad_alloc.
std::unique_ptr<CampaignEditor> MakeEditor(int type, CampaignStore& store,
                                           const DateTimeClock& clock, TextLookup texts);

}  // namespace kavri
