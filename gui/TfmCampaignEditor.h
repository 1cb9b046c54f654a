#pragma once

#include <QDialog>
#include <QString>

#include <array>
#include <memory>
#include <string_view>

#include "app/Result.h"

class QCheckBox;
class QComboBox;
class QDateEdit;
class QGridLayout;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;
class QTimeEdit;

namespace kavri {
class CampaignEditor;
}

namespace kavri::gui {

class TfmMain;

// The frame the three campaign editor windows share: the logo, the campaign
// name, the Enabled box, the scheduling mode with its three pages (continuous,
// a time-based window, days of the week with a daily window), and OK and
// Cancel. The values and every rule live in the app layer's CampaignEditor,
// which the window feeds: a new window shows its creation defaults, Edit loads
// a stored campaign as stored, an operator's change of a picker runs the
// end-after-start rules, and OK asks the editor to check and save. A refusal
// is shown to the operator through the main window's ShowError and the window
// stays open with everything as entered; Cancel and the close box write
// nothing.
//
// A type's window adds its rows to DetailsGrid() and supplies ShowOwn and
// CollectOwn, which move its own values between the controls and the editor.
//
// Modal, created per command and destroyed on close; main thread. The main
// window must outlive it.
class TfmCampaignEditor : public QDialog {
    Q_OBJECT

public:
    ~TfmCampaignEditor() override;

    // Edit mode for the campaign whose display name is name: loads its values
    // and fixes the name. A refusal (no such campaign) leaves the window in
    // new-campaign mode; the caller does not show it then.
    Result Edit(std::string_view name);

    QLineEdit* edCampaignName = nullptr;
    QCheckBox* cbEnabled = nullptr;
    QComboBox* cbScheduling = nullptr;
    QStackedWidget* pcScheduling = nullptr;
    QLabel* laPermanent = nullptr;
    QDateEdit* dtpStartDate = nullptr;
    QTimeEdit* dtpStartTime = nullptr;
    QDateEdit* dtpEndDate = nullptr;
    QTimeEdit* dtpEndTime = nullptr;
    QCheckBox* cbMon = nullptr;
    QCheckBox* cbTue = nullptr;
    QCheckBox* cbWed = nullptr;
    QCheckBox* cbThu = nullptr;
    QCheckBox* cbFri = nullptr;
    QCheckBox* cbSat = nullptr;
    QCheckBox* cbSun = nullptr;
    QTimeEdit* dtpStart = nullptr;
    QTimeEdit* dtpEnd = nullptr;
    QPushButton* btOK = nullptr;
    QPushButton* btCancel = nullptr;
    // The device types the campaign is for, in DeviceTypeFilter's order;
    // none ticked is every type.
    std::array<QCheckBox*, 9> cbDeviceTypes{};

    // OK: the editor checks and saves; a refusal is shown and the window
    // stays open. Any other result closes without writing.
    void done(int result) override;

protected:
    // designHeight is the client height of the type's design; titleKey and
    // builtInTitle its caption.
    TfmCampaignEditor(TfmMain& main, std::unique_ptr<CampaignEditor> editor, int designHeight,
                      std::string_view titleKey, const char* builtInTitle);

    TfmMain& Main() { return m_main; }
    CampaignEditor& Editor() { return *m_editor; }
    // The campaign details section's grid below the name row: column 0 the
    // labels, column 1 the fields (spanning further columns as needed).
    QGridLayout* DetailsGrid() { return m_details; }
    // The next free row of DetailsGrid().
    int NextDetailsRow() const;
    // After the type added its controls: sizes the window to the design size,
    // or larger where the texts need it.
    void FitToTexts();
    // Shows a refusal or failure to the operator.
    void Report(const Result& result);
    QString Text(std::string_view key, const char* builtIn) const;

    // Moves the type's own values from the editor into the controls (after a
    // load) and back (before a save).
    virtual void ShowOwn() = 0;
    virtual void CollectOwn() = 0;

private:
    void CreateControls();
    void CreateLayout();
    void ApplyTexts();
    void ShowValues();
    void CollectValues();
    void ShowEnds();
    void DailyTimesChanged();
    void WindowDatesChanged();
    void WindowTimesChanged();

    TfmMain& m_main;
    std::unique_ptr<CampaignEditor> m_editor;
    const int m_designHeight;
    // The day boxes, Sunday first, as the record keeps them.
    std::array<QCheckBox*, 7> m_days{};
    QGridLayout* m_details = nullptr;
    QLabel* m_logo = nullptr;
    QGroupBox* m_detailsBox = nullptr;
    QLabel* m_nameLabel = nullptr;
    QLabel* m_deviceTypesLabel = nullptr;
    QLabel* m_deviceTypesHint = nullptr;
    QGroupBox* m_schedulingBox = nullptr;
    QLabel* m_startDateTimeLabel = nullptr;
    QLabel* m_endDateTimeLabel = nullptr;
    QLabel* m_startTimeLabel = nullptr;
    QLabel* m_endTimeLabel = nullptr;
};

}  // namespace kavri::gui
