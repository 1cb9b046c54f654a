#include "editors/CampaignEditorFactory.h"

#include <utility>

#include "app/CampaignRecord.h"
#include "app/FileCampaignEditor.h"
#include "editors/CouponCampaignEditor.h"
#include "editors/MessageCampaignEditor.h"

namespace kavri {

std::unique_ptr<CampaignEditor> MakeEditor(int type, CampaignStore& store,
                                           const DateTimeClock& clock, TextLookup texts) {
    switch (type) {
        case kCampaignFileBased:
            return std::make_unique<FileCampaignEditor>(store, clock, std::move(texts));
        case kCampaignMessageBased:
            return std::make_unique<MessageCampaignEditor>(store, clock, std::move(texts));
        case kCampaignCouponBased:
            return std::make_unique<CouponCampaignEditor>(store, clock, std::move(texts));
        default:
            return nullptr;  // not a type of this program
    }
}

}  // namespace kavri
