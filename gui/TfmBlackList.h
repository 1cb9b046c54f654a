#pragma once

#include "gui/RecordListDialog.h"

namespace kavri::gui {

// The black list ("bl.dat"): one row per black-listed device, in file order.
// Modal, created per command and destroyed on close; main thread.
class TfmBlackList : public RecordListDialog {
    Q_OBJECT

public:
    explicit TfmBlackList(TfmMain& main);

protected:
    Result Read(std::vector<DeviceRecordRow>& rows) const override;
    Result Erase(const DeviceRecordRow& row) override;
    Result EraseAll() override;
};

}  // namespace kavri::gui
