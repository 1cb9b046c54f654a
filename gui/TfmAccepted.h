#pragma once

#include "gui/CampaignRecordsDialog.h"

namespace kavri::gui {

// The devices that accepted a campaign's push ("accepted.dat").
class TfmAccepted final : public CampaignRecordsDialog {
public:
    explicit TfmAccepted(TfmMain& main)
        : CampaignRecordsDialog(main, DeviceRecordKind::Accepted, "Accepted_Title",
                                "Kavri Tandrel - Accepted Devices") {}
};

}  // namespace kavri::gui
