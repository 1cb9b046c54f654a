#pragma once

#include "app/DeviceRecords.h"
#include "gui/RecordListDialog.h"

namespace kavri::gui {

// The devices that accepted, or refused, a campaign's push: campaign by
// campaign in list order, each campaign's record file in file order, with
// Remove and Clear over the same file. TfmAccepted and TfmRejected are its
// two kinds.
// Modal, created per command and destroyed on close; main thread.
class CampaignRecordsDialog : public RecordListDialog {
    Q_OBJECT

public:
    CampaignRecordsDialog(TfmMain& main, DeviceRecordKind kind, const char* titleKey,
                          const char* builtInTitle);

protected:
    Result Read(std::vector<DeviceRecordRow>& rows) const override;
    Result Erase(const DeviceRecordRow& row) override;
    Result EraseAll() override;

private:
    const DeviceRecordKind m_kind;
};

}  // namespace kavri::gui
