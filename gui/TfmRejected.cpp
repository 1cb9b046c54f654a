#include "gui/TfmRejected.h"

#include "app/DeviceRecords.h"
#include "gui/TfmMain.h"

namespace kavri::gui {

namespace {
using Field = DeviceRecordModel::Field;
}  // namespace

TfmRejected::TfmRejected(TfmMain& main)
    : RecordListDialog(main, "Rejected_Title", "Kavri Tandrel - Rejected Devices",
                       {{Field::Campaign, "Campaign_Name", "Campaign name", 100},
                        {Field::Name, "Device_Name", "Device name", 100},
                        {Field::Type, "Device_Type", "Device type", 100},
                        {Field::Address, "Device_Address", "Device address", 100},
                        {Field::DateTime, "DateTime", "Date/time", 100}}) {
    Fill();
}

Result TfmRejected::Read(std::vector<DeviceRecordRow>& rows) const {
    return DeviceRecords(m_main.Session().Store()).List(DeviceRecordKind::Rejected, rows);
}

Result TfmRejected::Erase(const DeviceRecordRow& row) {
    return DeviceRecords(m_main.Session().Store())
        .Remove(DeviceRecordKind::Rejected, row.Campaign, row.Address);
}

Result TfmRejected::EraseAll() {
    return DeviceRecords(m_main.Session().Store()).Clear(DeviceRecordKind::Rejected);
}

}  // namespace kavri::gui
