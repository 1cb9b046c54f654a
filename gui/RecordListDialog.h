#pragma once

#include <QDialog>
#include <QString>

#include <functional>
#include <string>
#include <vector>

#include "app/DeviceRecords.h"
#include "app/Result.h"
#include "gui/DeviceRecordModel.h"

class QAction;
class QPushButton;
class QTableView;

namespace kavri::gui {

class TfmMain;

// What the black-list, accepted and rejected dialogs share: a modal dialog
// with a read-only report list over a DeviceRecordModel and the buttons
// Remove, Clear, Export CSV and Close (the default and cancel button); Remove
// and Clear are also the list's context menu. The list is filled once, when
// the dialog opens (the sender may change the files meanwhile); Remove and
// Clear write through the app layer and then change the list.
//
// Main thread; the main window must outlive the dialog. Failures go to the
// main window's ShowError and leave the list as it was.
class RecordListDialog : public QDialog {
    Q_OBJECT

public:
    QTableView* lvDevices = nullptr;
    QPushButton* btnRemove = nullptr;
    QPushButton* btnClear = nullptr;
    QPushButton* btnExport = nullptr;
    QPushButton* btnClose = nullptr;

    DeviceRecordModel& Model() { return *m_model; }
    // Removes the selected row's record, then the row.
    void RemoveSelected();
    // Erases every record of the list, then empties it.
    void ClearAll();
    // Writes the rows, as listed, as CSV to path.
    Result ExportCsv(const QString& path) const;

    // Asks where to save the CSV; empty for no. A file dialog by default.
    std::function<QString()> AskCsvPath;

protected:
    struct Column {
        DeviceRecordModel::Field Field;
        const char* Key;
        const char* BuiltIn;
        int Width;
    };
    RecordListDialog(TfmMain& main, const char* titleKey, const char* builtInTitle,
                     const std::vector<Column>& columns);

    // Reads the rows; called by Fill.
    virtual Result Read(std::vector<DeviceRecordRow>& rows) const = 0;
    virtual Result Erase(const DeviceRecordRow& row) = 0;
    virtual Result EraseAll() = 0;
    // Reads the rows into the list; a subclass calls it at the end of its
    // constructor.
    void Fill();

    TfmMain& m_main;

private:
    void UpdateButtons();
    void ExportClicked();

    DeviceRecordModel* m_model = nullptr;
    std::vector<int> m_widths;
    QAction* m_removeAction = nullptr;
    QAction* m_clearAction = nullptr;
};

}  // namespace kavri::gui
