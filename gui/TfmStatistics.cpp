#include "gui/TfmStatistics.h"

#include <QBarCategoryAxis>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QDateEdit>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHorizontalBarSeries>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QSet>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <cstdint>
#include <optional>

#include "app/DateTimeClock.h"
#include "gui/CsvText.h"
#include "gui/TfmMain.h"

namespace kavri::gui {

namespace {

constexpr int kClientWidth = 588;
constexpr int kClientHeight = 363;
// The chart's smallest readable size; beside the list it widens the dialog.
constexpr int kChartWidth = 360;
constexpr int kChartHeight = 220;
// At most this many steps up the count axis.
constexpr std::int64_t kMaxTicks = 8;
// Campaign name, accepted, rejected, total, redeemed, redemption rate.
constexpr int kColumns = 6;

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

// The category axis drops a repeated or empty text, which would move every
// later campaign's bars under another campaign's name; such a campaign is
// named with its place in the list as well.
QStringList CampaignCategories(const std::vector<CampaignStatistics>& rows) {
    QStringList categories;
    QSet<QString> taken;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        QString category = QString::fromStdString(rows[i].Name);
        const QString place = QStringLiteral("#%1").arg(i + 1);
        if (category.isEmpty()) {
            category = place;
        }
        // Each round makes the text longer, and only the texts before this
        // one can be equal to it.
        while (taken.contains(category)) {
            category += QLatin1Char(' ') + place;
        }
        taken.insert(category);
        categories << category;
    }
    return categories;
}

// A step of 1, 2 or 5 times a power of ten that climbs to top in at most
// kMaxTicks steps, so every label is a whole number.
std::int64_t TickStep(std::int64_t top) {
    std::int64_t power = 1;
    for (int digits = 0; digits < 18; ++digits, power *= 10) {
        for (const std::int64_t factor : {1, 2, 5}) {
            if (top <= factor * power * kMaxTicks) {
                return factor * power;
            }
        }
    }
    return power;
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

    const QString acceptedTitle = main.Text("Statistics_Accepted", "Accepted");
    const QString rejectedTitle = main.Text("Statistics_Rejected", "Rejected");
    const QString redeemedTitle = main.Text("Statistics_Redeemed", "Redeemed");
    lvStatistics = new QTableWidget(0, kColumns, this);
    lvStatistics->setHorizontalHeaderLabels(
        {main.Text("Campaign_Name", "Campaign name"), acceptedTitle, rejectedTitle,
         main.Text("Statistics_Total", "Total"), redeemedTitle,
         main.Text("Statistics_RedemptionRate", "Redemption rate (%)")});
    lvStatistics->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvStatistics->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvStatistics->setSelectionMode(QAbstractItemView::SingleSelection);
    lvStatistics->verticalHeader()->hide();
    lvStatistics->verticalHeader()->setDefaultSectionSize(lvStatistics->fontMetrics().height() + 6);
    lvStatistics->horizontalHeader()->setStretchLastSection(true);
    lvStatistics->setColumnWidth(0, 200);
    // The number columns are 100 wide, or as wide as a longer title needs.
    for (int column = 1; column < kColumns; ++column) {
        lvStatistics->setColumnWidth(
            column, std::max(100, lvStatistics->horizontalHeader()->sectionSizeHint(column)));
    }
    // Every column whole, whatever the chart beside it asks for.
    lvStatistics->setMinimumWidth(2 * lvStatistics->frameWidth() +
                                  lvStatistics->verticalScrollBar()->sizeHint().width() +
                                  lvStatistics->horizontalHeader()->length());

    m_acceptedBars = new QBarSet(acceptedTitle);
    m_rejectedBars = new QBarSet(rejectedTitle);
    m_redeemedBars = new QBarSet(redeemedTitle);
    // Bars lying down leave the campaign names a line's width each, where
    // standing bars would share the chart's width between them and cut them.
    auto* series = new QHorizontalBarSeries;
    series->append(m_acceptedBars);
    series->append(m_rejectedBars);
    series->append(m_redeemedBars);
    auto* chart = new QChart;
    chart->addSeries(series);
    m_campaignAxis = new QBarCategoryAxis;
    m_countAxis = new QValueAxis;
    m_countAxis->setLabelFormat(QStringLiteral("%.0f"));
    m_countAxis->setTickType(QValueAxis::TicksDynamic);
    m_countAxis->setTickAnchor(0);
    chart->addAxis(m_campaignAxis, Qt::AlignLeft);
    chart->addAxis(m_countAxis, Qt::AlignBottom);
    series->attachAxis(m_campaignAxis);
    series->attachAxis(m_countAxis);
    chart->legend()->setAlignment(Qt::AlignBottom);
    chStatistics = new QChartView(chart, this);
    chStatistics->setRenderHint(QPainter::Antialiasing);
    chStatistics->setMinimumSize(kChartWidth, kChartHeight);
    FillChart();

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
    auto* middle = new QHBoxLayout;
    middle->addWidget(lvStatistics, 3);
    middle->addWidget(chStatistics, 2);
    layout->addLayout(top);
    layout->addLayout(middle, 1);
    layout->addLayout(bottom);
    const QSize least = layout->minimumSize();
    resize(std::max(kClientWidth, least.width()), std::max(kClientHeight, least.height()));

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
        lvStatistics->setItem(line, 4, Cell(QString::number(row.Redeemed), true));
        lvStatistics->setItem(line, 5, Cell(QString::fromStdString(RedemptionRateText(row)), true));
    }
    FillChart();
    btnExport->setEnabled(counted.Ok);
    if (!counted) {
        m_main.ShowError(QString::fromStdString(counted.Message));
    }
}

void TfmStatistics::FillChart() {
    m_acceptedBars->remove(0, m_acceptedBars->count());
    m_rejectedBars->remove(0, m_rejectedBars->count());
    m_redeemedBars->remove(0, m_redeemedBars->count());
    m_campaignAxis->clear();
    // The category axis runs upwards: filled from the last row, the campaigns
    // read top to bottom in the list's order.
    std::int64_t top = 0;
    for (auto row = m_rows.rbegin(); row != m_rows.rend(); ++row) {
        m_acceptedBars->append(static_cast<qreal>(row->Accepted));
        m_rejectedBars->append(static_cast<qreal>(row->Rejected));
        m_redeemedBars->append(static_cast<qreal>(row->Redeemed));
        top = std::max({top, row->Accepted, row->Rejected, row->Redeemed});
    }
    QStringList categories = CampaignCategories(m_rows);
    std::reverse(categories.begin(), categories.end());
    m_campaignAxis->append(categories);
    // Without a count the axis still runs from 0 to 1 rather than collapse.
    const std::int64_t step = TickStep(std::max<std::int64_t>(top, 1));
    const std::int64_t steps = std::max<std::int64_t>((top + step - 1) / step, 1);
    m_countAxis->setTickInterval(static_cast<qreal>(step));
    m_countAxis->setRange(0, static_cast<qreal>(steps * step));
}

Result TfmStatistics::ExportCsv(const QString& path) const {
    QStringList titles;
    for (int column = 0; column < lvStatistics->columnCount(); ++column) {
        titles << lvStatistics->horizontalHeaderItem(column)->text();
    }
    std::string text = CsvHeader(titles);
    for (const CampaignStatistics& row : m_rows) {
        text += CsvLine({row.Name, std::to_string(row.Accepted), std::to_string(row.Rejected),
                         std::to_string(row.Total), std::to_string(row.Redeemed),
                         RedemptionRateText(row)});
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
