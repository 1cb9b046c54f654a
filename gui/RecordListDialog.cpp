#include "gui/RecordListDialog.h"

#include <QAction>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

#include "gui/CsvText.h"
#include "gui/ReportView.h"
#include "gui/TfmMain.h"

namespace kavri::gui {

namespace {

// The client size the list is designed for; a longer language may grow it.
constexpr int kClientWidth = 567;
constexpr int kClientHeight = 341;

}  // namespace

RecordListDialog::RecordListDialog(TfmMain& main, const char* titleKey, const char* builtInTitle,
                                   const std::vector<Column>& columns)
    : QDialog(&main), m_main(main) {
    setModal(true);
    setWindowTitle(main.Text(titleKey, builtInTitle));

    std::vector<DeviceRecordModel::Field> fields;
    QStringList titles;
    for (const Column& column : columns) {
        fields.push_back(column.Field);
        titles << main.Text(column.Key, column.BuiltIn);
    }
    m_model = new DeviceRecordModel(fields, this);
    m_model->SetTitles(titles);

    lvDevices = ReportView(this);
    lvDevices->setModel(m_model);
    for (const Column& column : columns) {
        m_widths.push_back(column.Width);
    }
    FitColumns(lvDevices, m_widths);

    btnRemove = new QPushButton(main.Text("Remover", "Remove"), this);
    btnClear = new QPushButton(main.Text("Clear", "Clear"), this);
    btnExport = new QPushButton(main.Text("ExportCsv", "Export CSV..."), this);
    btnClose = new QPushButton(main.Text("Close", "Close"), this);
    btnClose->setDefault(true);
    btnRemove->setAutoDefault(false);
    btnClear->setAutoDefault(false);
    btnExport->setAutoDefault(false);

    auto* removeAction = new QAction(btnRemove->text(), lvDevices);
    auto* clearAction = new QAction(btnClear->text(), lvDevices);
    lvDevices->addAction(removeAction);
    lvDevices->addAction(clearAction);
    connect(removeAction, &QAction::triggered, this, &RecordListDialog::RemoveSelected);
    connect(clearAction, &QAction::triggered, this, &RecordListDialog::ClearAll);
    connect(btnRemove, &QPushButton::clicked, this, &RecordListDialog::RemoveSelected);
    connect(btnClear, &QPushButton::clicked, this, &RecordListDialog::ClearAll);
    connect(btnExport, &QPushButton::clicked, this, &RecordListDialog::ExportClicked);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);
    connect(lvDevices->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &RecordListDialog::UpdateButtons);
    connect(m_model, &QAbstractItemModel::modelReset, this, &RecordListDialog::UpdateButtons);
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, &RecordListDialog::UpdateButtons);
    m_removeAction = removeAction;
    m_clearAction = clearAction;

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnRemove);
    buttons->addWidget(btnClear);
    buttons->addWidget(btnExport);
    buttons->addStretch();
    buttons->addWidget(btnClose);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lvDevices);
    layout->addLayout(buttons);
    resize(std::max(kClientWidth, WidthForColumns(lvDevices)), kClientHeight);

    AskCsvPath = [this] {
        return QFileDialog::getSaveFileName(this, btnExport->text().remove(QStringLiteral("...")),
                                            {}, QStringLiteral("CSV (*.csv)"));
    };
    UpdateButtons();
}

void RecordListDialog::Fill() {
    std::vector<DeviceRecordRow> rows;
    const Result read = Read(rows);
    m_model->SetRows(std::move(rows));
    FitColumns(lvDevices, m_widths);
    resize(std::max(width(), WidthForColumns(lvDevices)), height());
    if (!read) {
        m_main.ShowError(QString::fromStdString(read.Message));
    }
}

void RecordListDialog::RemoveSelected() {
    const QModelIndexList selected = lvDevices->selectionModel()->selectedRows();
    if (selected.isEmpty()) {
        return;
    }
    const int row = selected.first().row();
    if (const Result r = Erase(m_model->Row(row)); !r) {
        m_main.ShowError(QString::fromStdString(r.Message));
        return;
    }
    m_model->RemoveRow(row);
}

void RecordListDialog::ClearAll() {
    if (m_model->rowCount() == 0) {
        return;
    }
    if (const Result r = EraseAll(); !r) {
        m_main.ShowError(QString::fromStdString(r.Message));
        return;
    }
    m_model->Clear();
}

Result RecordListDialog::ExportCsv(const QString& path) const {
    return WriteCsvFile(path, m_model->Csv());
}

void RecordListDialog::ExportClicked() {
    const QString path = AskCsvPath();
    if (path.isEmpty()) {
        return;
    }
    if (const Result r = ExportCsv(path); !r) {
        m_main.ShowError(QString::fromStdString(r.Message));
    }
}

void RecordListDialog::UpdateButtons() {
    const bool selected = lvDevices->selectionModel()->hasSelection();
    const bool any = m_model->rowCount() > 0;
    btnRemove->setEnabled(selected);
    btnClear->setEnabled(any);
    btnExport->setEnabled(any);
    m_removeAction->setEnabled(selected);
    m_clearAction->setEnabled(any);
}

}  // namespace kavri::gui
