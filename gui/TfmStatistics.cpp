#include "gui/TfmStatistics.h"

#include <QDateEdit>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <optional>

#include "app/DateTimeClock.h"
#include "gui/CsvText.h"
#include "gui/TfmMain.h"

namespace kavri::gui {

namespace {

constexpr int kClientWidth = 588;
constexpr int kClientHeight = 363;

QDate ToQDate(TDateTime value) {
    const std::optional<DateTimeParts> parts = value.Parts();
    return parts ? QDate(parts->Year, parts->Month, parts->Day) : QDate::currentDate();
}

TDateTime FromQDate(const QDate& date) {
    return TDateTime::FromDate(date.year(), date.month(), date.day()).value_or(TDateTime());
}

QTableWidgetItem* Cell(const QString& text, bool number) {
    auto* item = new QTableWidgetItem(text);
    if (number) {
        item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
    return item;
}

}  // namespace

TfmStatistics::TfmStatistics(TfmMain& main) : QDialog(&main), m_main(main) {
    setModal(true);
    setWindowTitle(main.Text("Statistics_Title", "Kavri Tandrel - Statistics"));
    auto* fromLabel = new QLabel(main.Text("Statistics_FromDate", "From date"), this);
    auto* toLabel = new QLabel(main.Text("Statistics_ToDate", "To date"), this);
    const QDate today = ToQDate(main.DateClock().Now());
    dtFrom = new QDateEdit(today, this);
    dtTo = new QDateEdit(today, this);
    for (QDateEdit* picker : {dtFrom, dtTo}) {
        picker->setCalendarPopup(true);
    }
    fromLabel->setBuddy(dtFrom);
    toLabel->setBuddy(dtTo);
    btnShow = new QPushButton(main.Text("Statistics_Show", "Show"), this);
    btnExport = new QPushButton(main.Text("ExportCsv", "Export CSV..."), this);
    btnClose = new QPushButton(main.Text("Close", "Close"), this);
    btnClose->setDefault(true);
    btnShow->setAutoDefault(false);
    btnExport->setAutoDefault(false);
    btnExport->setEnabled(false);

    lvStatistics = new QTableWidget(0, 4, this);
    lvStatistics->setHorizontalHeaderLabels(
        {main.Text("Campaign_Name", "Campaign name"), main.Text("Statistics_Accepted", "Accepted"),
         main.Text("Statistics_Rejected", "Rejected"), main.Text("Statistics_Total", "Total")});
    lvStatistics->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvStatistics->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvStatistics->setSelectionMode(QAbstractItemView::SingleSelection);
    lvStatistics->verticalHeader()->hide();
    lvStatistics->verticalHeader()->setDefaultSectionSize(lvStatistics->fontMetrics().height() + 6);
    lvStatistics->horizontalHeader()->setStretchLastSection(true);
    lvStatistics->setColumnWidth(0, 200);
    for (int column = 1; column < 4; ++column) {
        lvStatistics->setColumnWidth(column, 100);
    }

    auto* top = new QHBoxLayout;
    top->addWidget(fromLabel);
    top->addWidget(dtFrom);
    top->addSpacing(12);
    top->addWidget(toLabel);
    top->addWidget(dtTo);
    top->addSpacing(12);
    top->addWidget(btnShow);
    top->addStretch();
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(btnExport);
    bottom->addStretch();
    bottom->addWidget(btnClose);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(lvStatistics, 1);
    layout->addLayout(bottom);
    resize(kClientWidth, kClientHeight);

    AskCsvPath = [this] {
        return QFileDialog::getSaveFileName(this, {}, {}, QStringLiteral("CSV (*.csv)"));
    };
    connect(dtFrom, &QDateEdit::dateChanged, this, &TfmStatistics::KeepOrdered);
    connect(dtTo, &QDateEdit::dateChanged, this, &TfmStatistics::KeepOrdered);
    connect(btnShow, &QPushButton::clicked, this, &TfmStatistics::Show);
    connect(btnExport, &QPushButton::clicked, this, &TfmStatistics::ExportClicked);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);
}

void TfmStatistics::KeepOrdered() {
    if (dtTo->date() < dtFrom->date()) {
        dtTo->setDate(dtFrom->date());
    }
}

void TfmStatistics::Show() {
    const StatisticsRange range = DayRange(FromQDate(dtFrom->date()), FromQDate(dtTo->date()));
    m_rows.clear();
    const Result counted = CountDecisions(m_main.Session().Store(), range, m_rows);
    lvStatistics->setRowCount(static_cast<int>(m_rows.size()));
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        const CampaignStatistics& row = m_rows[i];
        const int line = static_cast<int>(i);
        lvStatistics->setItem(line, 0, Cell(QString::fromStdString(row.Name), false));
        lvStatistics->setItem(line, 1, Cell(QString::number(row.Accepted), true));
        lvStatistics->setItem(line, 2, Cell(QString::number(row.Rejected), true));
        lvStatistics->setItem(line, 3, Cell(QString::number(row.Total), true));
    }
    btnExport->setEnabled(counted.Ok);
    if (!counted) {
        m_main.ShowError(QString::fromStdString(counted.Message));
    }
}

Result TfmStatistics::ExportCsv(const QString& path) const {
    QStringList titles;
    for (int column = 0; column < lvStatistics->columnCount(); ++column) {
        titles << lvStatistics->horizontalHeaderItem(column)->text();
    }
    std::string text = CsvHeader(titles);
    for (const CampaignStatistics& row : m_rows) {
        text += CsvLine({row.Name, std::to_string(row.Accepted), std::to_string(row.Rejected),
                         std::to_string(row.Total)});
    }
    return WriteCsvFile(path, text);
}

void TfmStatistics::ExportClicked() {
    const QString path = AskCsvPath();
    if (path.isEmpty()) {
        return;
    }
    if (const Result r = ExportCsv(path); !r) {
        m_main.ShowError(QString::fromStdString(r.Message));
    }
}

}  // namespace kavri::gui
