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
// found again (the device still counts as having accepted).
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

    DeviceRecordModel& Model() { return *m_model; }
    void Check();
    void CloseSelectedCoupon();

private:
    void UpdateButtons();

    TfmMain& m_main;
    DeviceRecordModel* m_model = nullptr;
};

}  // namespace kavri::gui
