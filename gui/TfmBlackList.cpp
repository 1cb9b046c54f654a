#include "gui/TfmBlackList.h"

#include "app/DeviceRecords.h"
#include "gui/TfmMain.h"

namespace kavri::gui {

namespace {
using Field = DeviceRecordModel::Field;
}  // namespace

TfmBlackList::TfmBlackList(TfmMain& main)
    : RecordListDialog(main, "BlackList_Title", "Kavri Tandrel - Black List",
                       {{Field::Name, "Device_Name", "Device name", 150},
                        {Field::Type, "Device_Type", "Device type", 150},
                        {Field::Address, "Device_Address", "Device address", 150}}) {
    Fill();
}

Result TfmBlackList::Read(std::vector<DeviceRecordRow>& rows) const {
    return DeviceRecords(m_main.Session().Store()).BlackList(rows);
}

Result TfmBlackList::Erase(const DeviceRecordRow& row) {
    return DeviceRecords(m_main.Session().Store()).RemoveFromBlackList(row.Address);
}

Result TfmBlackList::EraseAll() {
    return DeviceRecords(m_main.Session().Store()).ClearBlackList();
}

}  // namespace kavri::gui
