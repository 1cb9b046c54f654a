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
    auto* bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(btnClose);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
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
    std::vector<CouponMatch> matches;
    const Result found =
        FindCoupon(m_main.Session().Store(), edCoupon->text().toStdString(), matches);
    const DateFormat display = DateFormat::FromLocale();
    std::vector<DeviceRecordRow> rows;
    rows.reserve(matches.size());
    for (const CouponMatch& match : matches) {
        rows.push_back({match.Campaign,
                        match.Address,
                        match.DeviceName,
                        match.DeviceType,
                        display.FormatDateTime(match.DateTime),
                        {}});
    }
    m_model->SetRows(std::move(rows));
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
    if (const Result r = CloseCoupon(m_main.Session().Store(), record.Campaign, record.Address);
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
