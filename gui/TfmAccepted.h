#pragma once

#include "gui/RecordListDialog.h"

namespace kavri::gui {

// The devices that accepted a campaign's push, campaign by campaign in list
// order, each campaign's "accepted.dat" in file order.
// Modal, created per command and destroyed on close; main thread.
class TfmAccepted : public RecordListDialog {
    Q_OBJECT

public:
    explicit TfmAccepted(TfmMain& main);

protected:
    Result Read(std::vector<DeviceRecordRow>& rows) const override;
    Result Erase(const DeviceRecordRow& row) override;
    Result EraseAll() override;
};

}  // namespace kavri::gui
