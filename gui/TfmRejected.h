#pragma once

#include "gui/CampaignRecordsDialog.h"

namespace kavri::gui {

// The devices that refused a campaign's push ("rejected.dat").
class TfmRejected final : public CampaignRecordsDialog {
public:
    explicit TfmRejected(TfmMain& main)
        : CampaignRecordsDialog(main, DeviceRecordKind::Rejected, "Rejected_Title",
                                "Kavri Tandrel - Rejected Devices") {}
};

}  // namespace kavri::gui
