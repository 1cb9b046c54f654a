#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

namespace kavri::gui {

class DeviceRecordModel;
class TfmMain;

// The coupon check: the operator types the code a customer shows, Check lists
// every device of every campaign that was given it (letter case counts), and
// Close coupon takes the code off the selected device's record so it is not
// found again (the device still counts as having accepted) and records it as
// redeemed. A code that no device holds open shows, under the field, "already
// used" with the date of its latest redemption, or "unknown code" when it was
// never redeemed either.
//
// Modal, created per command and destroyed on close; main thread. The main
// window must outlive it; failures go to its ShowError.
class TfmCheckCoupon : public QDialog {
    Q_OBJECT

public:
    explicit TfmCheckCoupon(TfmMain& main);

    QLineEdit* edCoupon = nullptr;
    QPushButton* btnCheck = nullptr;
    QPushButton* btnCloseCoupon = nullptr;
    QPushButton* btnClose = nullptr;
    QTableView* lvDevices = nullptr;
    // What the last check found when it listed nothing; empty otherwise.
    QLabel* lbResult = nullptr;

    DeviceRecordModel& Model() { return *m_model; }
    void Check();
    void CloseSelectedCoupon();

private:
    void UpdateButtons();

    TfmMain& m_main;
    DeviceRecordModel* m_model = nullptr;
};

}  // namespace kavri::gui
