#pragma once

#include "gui/RecordListDialog.h"

namespace kavri::gui {

// The devices that refused a campaign, campaign by campaign in list order,
// each campaign's "rejected.dat" in file order.
// Modal, created per command and destroyed on close; main thread.
class TfmRejected : public RecordListDialog {
    Q_OBJECT

public:
    explicit TfmRejected(TfmMain& main);

protected:
    Result Read(std::vector<DeviceRecordRow>& rows) const override;
    Result Erase(const DeviceRecordRow& row) override;
    Result EraseAll() override;
};

}  // namespace kavri::gui
