#pragma once

#include <QDialog>

#include <functional>
#include <string>
#include <vector>

#include "app/Result.h"
#include "app/Statistics.h"

class QBarCategoryAxis;
class QBarSet;
class QChartView;
class QDateEdit;
class QLabel;
class QValueAxis;
class QPushButton;
class QTableWidget;

namespace kavri::gui {

class TfmMain;

// The statistics: for the days from one date to another (both whole days,
// the last up to 23:59:59), how many devices accepted and how many refused
// each campaign, how many of those that accepted redeemed their coupon and
// the redemption rate, one row per campaign in list order, and beside the list
// the three counts as a bar chart, one group of bars per campaign. The To date never lies
// before the From date: moving either past the other moves To along. Export
// CSV writes the rows as kavrictl stats --csv does. Reads only.
//
// Modal, created per command and destroyed on close; main thread. The main
// window must outlive it; failures go to its ShowError.
class TfmStatistics : public QDialog {
    Q_OBJECT

public:
    explicit TfmStatistics(TfmMain& main);

    QDateEdit* dtFrom = nullptr;
    QDateEdit* dtTo = nullptr;
    QPushButton* btnShow = nullptr;
    QPushButton* btnExport = nullptr;
    QPushButton* btnClose = nullptr;
    QTableWidget* lvStatistics = nullptr;
    // Three bar sets, accepted, refused and redeemed, titled as the list's
    // columns; one category per row of the list.
    QChartView* chStatistics = nullptr;

    // Counts the range the pickers show and fills the list and the chart.
    void Show();
    // The rows last shown.
    const std::vector<CampaignStatistics>& Rows() const { return m_rows; }
    Result ExportCsv(const QString& path) const;

    // Asks where to save the CSV; empty for no. A file dialog by default.
    std::function<QString()> AskCsvPath;

private:
    void KeepOrdered();
    void ExportClicked();
    void FillChart();

    TfmMain& m_main;
    std::vector<CampaignStatistics> m_rows;
    QBarSet* m_acceptedBars = nullptr;
    QBarSet* m_rejectedBars = nullptr;
    QBarSet* m_redeemedBars = nullptr;
    QBarCategoryAxis* m_campaignAxis = nullptr;
    QValueAxis* m_countAxis = nullptr;
};

}  // namespace kavri::gui
