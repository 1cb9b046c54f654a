#include "gui/CampaignRecordsDialog.h"

#include "gui/TfmMain.h"

namespace kavri::gui {

namespace {
using Field = DeviceRecordModel::Field;
}  // namespace

CampaignRecordsDialog::CampaignRecordsDialog(TfmMain& main, DeviceRecordKind kind,
                                             const char* titleKey, const char* builtInTitle)
    : RecordListDialog(main, titleKey, builtInTitle,
                       {{Field::Campaign, "Campaign_Name", "Campaign name", 100},
                        {Field::Name, "Device_Name", "Device name", 100},
                        {Field::Type, "Device_Type", "Device type", 100},
                        {Field::Address, "Device_Address", "Device address", 100},
                        {Field::DateTime, "DateTime", "Date/time", 100}}),
      m_kind(kind) {
    Fill();
}

Result CampaignRecordsDialog::Read(std::vector<DeviceRecordRow>& rows) const {
    return DeviceRecords(m_main.Session().Store()).List(m_kind, rows);
}

Result CampaignRecordsDialog::Erase(const DeviceRecordRow& row) {
    return DeviceRecords(m_main.Session().Store()).Remove(m_kind, row.Campaign, row.Address);
}

Result CampaignRecordsDialog::EraseAll() {
    return DeviceRecords(m_main.Session().Store()).Clear(m_kind);
}

}  // namespace kavri::gui
