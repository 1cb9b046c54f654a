#include "gui/TfmAccepted.h"

#include "app/DeviceRecords.h"
#include "gui/TfmMain.h"

namespace kavri::gui {

namespace {
using Field = DeviceRecordModel::Field;
}  // namespace

TfmAccepted::TfmAccepted(TfmMain& main)
    : RecordListDialog(main, "Accepted_Title", "Kavri Tandrel - Accepted Devices",
                       {{Field::Campaign, "Campaign_Name", "Campaign name", 100},
                        {Field::Name, "Device_Name", "Device name", 100},
                        {Field::Type, "Device_Type", "Device type", 100},
                        {Field::Address, "Device_Address", "Device address", 100},
                        {Field::DateTime, "DateTime", "Date/time", 100}}) {
    Fill();
}

Result TfmAccepted::Read(std::vector<DeviceRecordRow>& rows) const {
    return DeviceRecords(m_main.Session().Store()).List(DeviceRecordKind::Accepted, rows);
}

Result TfmAccepted::Erase(const DeviceRecordRow& row) {
    return DeviceRecords(m_main.Session().Store())
        .Remove(DeviceRecordKind::Accepted, row.Campaign, row.Address);
}

Result TfmAccepted::EraseAll() {
    return DeviceRecords(m_main.Session().Store()).Clear(DeviceRecordKind::Accepted);
}

}  // namespace kavri::gui
