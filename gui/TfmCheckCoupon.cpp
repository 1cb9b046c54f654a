#include "gui/TfmCheckCoupon.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

#include <vector>

#include "app/CouponCheck.h"
#include "app/DateFormat.h"
#include "app/DateTimeClock.h"
#include "gui/DeviceRecordModel.h"
#include "gui/ReportView.h"
#include "gui/TfmMain.h"

namespace kavri::gui {

namespace {

constexpr int kClientWidth = 568;
constexpr int kClientHeight = 328;
constexpr int kColumnWidth = 100;

using Field = DeviceRecordModel::Field;

}  // namespace

TfmCheckCoupon::TfmCheckCoupon(TfmMain& main) : QDialog(&main), m_main(main) {
    setModal(true);
    setWindowTitle(main.Text("CheckCoupon_Title", "Kavri Tandrel - Check Coupon"));
    auto* label = new QLabel(main.Text("CheckCoupon_Coupon", "Coupon"), this);
    edCoupon = new QLineEdit(this);
    label->setBuddy(edCoupon);
    btnCheck = new QPushButton(main.Text("CheckCoupon_Check", "Check"), this);
    btnCloseCoupon = new QPushButton(main.Text("CheckCoupon_CloseCoupon", "Close coupon"), this);
    btnClose = new QPushButton(main.Text("Close", "Close"), this);
    // Enter in the field runs Check; Escape closes.
    btnCheck->setDefault(true);
    btnCloseCoupon->setAutoDefault(false);
    btnClose->setAutoDefault(false);

    m_model = new DeviceRecordModel(
        {Field::Campaign, Field::Name, Field::Type, Field::Address, Field::DateTime}, this);
    m_model->SetTitles(
        {main.Text("Campaign_Name", "Campaign name"), main.Text("Device_Name", "Device name"),
         main.Text("Device_Type", "Device type"), main.Text("Device_Address", "Device address"),
         main.Text("DateTime", "Date time")});
    lvDevices = ReportView(this);
    lvDevices->setModel(m_model);
    lvDevices->setContextMenuPolicy(Qt::NoContextMenu);
    FitColumns(lvDevices, std::vector<int>(5, kColumnWidth));

    auto* top = new QHBoxLayout;
    top->addWidget(label);
    top->addWidget(edCoupon, 1);
    top->addWidget(btnCheck);
    top->addWidget(btnCloseCoupon);
    lbResult = new QLabel(this);
    lbResult->setWordWrap(true);
    lbResult->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(btnClose);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(lbResult);
    layout->addWidget(lvDevices, 1);
    layout->addLayout(bottom);
    resize(std::max(kClientWidth, WidthForColumns(lvDevices)), kClientHeight);

    connect(btnCheck, &QPushButton::clicked, this, &TfmCheckCoupon::Check);
    connect(btnCloseCoupon, &QPushButton::clicked, this, &TfmCheckCoupon::CloseSelectedCoupon);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);
    connect(lvDevices->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TfmCheckCoupon::UpdateButtons);
    connect(m_model, &QAbstractItemModel::modelReset, this, &TfmCheckCoupon::UpdateButtons);
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, &TfmCheckCoupon::UpdateButtons);
    UpdateButtons();
}

void TfmCheckCoupon::Check() {
    const std::string code = edCoupon->text().toStdString();
    CouponLookup lookup;
    const Result found = LookUpCoupon(m_main.Session().Store(), code, lookup);
    const DateFormat display = DateFormat::FromLocale();
    std::vector<DeviceRecordRow> rows;
    rows.reserve(lookup.Open.size());
    for (const CouponMatch& match : lookup.Open) {
        rows.push_back({match.Campaign,
                        match.Address,
                        match.DeviceName,
                        match.DeviceType,
                        display.FormatDateTime(match.DateTime),
                        {}});
    }
    m_model->SetRows(std::move(rows));
    lbResult->clear();
    if (found && lookup.Open.empty() && !lookup.Redeemed.empty()) {
        // A code shared by many devices may have been redeemed many times;
        // the latest redemption is the one the cashier asks about.
        const CouponMatch& latest = *std::max_element(
            lookup.Redeemed.begin(), lookup.Redeemed.end(),
            [](const CouponMatch& a, const CouponMatch& b) { return a.Redeemed < b.Redeemed; });
        lbResult->setText(
            m_main.Text("CheckCoupon_AlreadyUsed", "Already used: redeemed on %1 (%2, %3)")
                .arg(QString::fromStdString(display.FormatDateTime(latest.Redeemed)),
                     QString::fromStdString(latest.Campaign),
                     QString::fromStdString(latest.Address)));
    } else if (found && lookup.Open.empty() && !code.empty()) {
        lbResult->setText(m_main.Text("CheckCoupon_UnknownCode", "Unknown code"));
    }
    FitColumns(lvDevices, std::vector<int>(5, kColumnWidth));
    resize(std::max(width(), WidthForColumns(lvDevices)), height());
    if (!found) {
        m_main.ShowError(QString::fromStdString(found.Message));
    }
}

void TfmCheckCoupon::CloseSelectedCoupon() {
    const QModelIndexList selected = lvDevices->selectionModel()->selectedRows();
    if (selected.isEmpty()) {
        return;
    }
    const int row = selected.first().row();
    const DeviceRecordRow& record = m_model->Row(row);
    if (const Result r = CloseCoupon(m_main.Session().Store(), record.Campaign, record.Address,
                                     m_main.DateClock().Now());
        !r) {
        m_main.ShowError(QString::fromStdString(r.Message));
        return;
    }
    m_model->RemoveRow(row);
}

void TfmCheckCoupon::UpdateButtons() {
    btnCloseCoupon->setEnabled(lvDevices->selectionModel()->hasSelection());
}

}  // namespace kavri::gui
