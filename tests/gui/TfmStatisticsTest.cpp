// The statistics dialog over device records written by the app layer: the
// range's edges, its order, the bar chart beside the list, and the CSV it
// exports; and a modal dialog that leaves the sender running.
#include "gui/TfmStatistics.h"

#include <gtest/gtest.h>

#include <QAbstractBarSeries>
#include <QAction>
#include <QApplication>
#include <QBarCategoryAxis>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QDateEdit>
#include <QHeaderView>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QValueAxis>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/CouponCheck.h"
#include "app/DateTimeClock.h"
#include "app/IniFile.h"
#include "tests/gui/GuiShop.h"

namespace kavri::gui {
namespace {

using test::Shop;

void Write(Shop& shop, const std::string& campaign, const std::string& file,
           const std::string& address, const std::string& dateTime) {
    IniFile ini(DataFolder::Open(shop.Data()).CampaignFolder(campaign) + file, DateFormat::Iso());
    ASSERT_TRUE(ini.WriteValues(address, {{"Name", "Phone"}, {"DateTime", dateTime}}));
}

TEST(TfmStatisticsTest, ADayRunsFromMidnightTo235959) {
    // The shop's clock says 9 December: records at its first and last second count, the next
    // day's first does not; a campaign without files shows zeros.
    Shop shop(sim::ParseScenario(""));
    shop.AddCampaign("Winter Sale");
    shop.AddCampaign("Spring");
    Write(shop, "Winter Sale", "accepted.dat", "(00:00:00:00:00:01)", "2026-12-09T00:00:00");
    Write(shop, "Winter Sale", "accepted.dat", "(00:00:00:00:00:02)", "2026-12-09T23:59:59");
    Write(shop, "Winter Sale", "accepted.dat", "(00:00:00:00:00:03)", "2026-12-10T00:00:00");
    Write(shop, "Winter Sale", "rejected.dat", "(00:00:00:00:00:04)", "2026-12-09T12:00:00");
    TfmStatistics dialog(shop.Open());
    EXPECT_EQ(dialog.windowTitle(), "Kavri Tandrel - Statistics");
    EXPECT_EQ(dialog.dtFrom->date(), QDate(2026, 12, 9));
    EXPECT_EQ(dialog.dtTo->date(), QDate(2026, 12, 9));
    dialog.btnShow->click();
    ASSERT_EQ(dialog.lvStatistics->rowCount(), 2);
    const auto cell = [&](int row, int column) {
        return dialog.lvStatistics->item(row, column)->text();
    };
    EXPECT_EQ(cell(0, 0), "Winter Sale");
    EXPECT_EQ(cell(0, 1), "2");
    EXPECT_EQ(cell(0, 2), "1");
    EXPECT_EQ(cell(0, 3), "3");
    EXPECT_EQ(cell(1, 0), "Spring");
    EXPECT_EQ(cell(1, 3), "0");

    // A To date moved along: the 10th counts too.
    dialog.dtTo->setDate(QDate(2026, 12, 10));
    dialog.btnShow->click();
    EXPECT_EQ(cell(0, 1), "3");
    EXPECT_TRUE(shop.Errors.empty());
}

// What the chart shows, campaigns top to bottom: the bar sets' titles, one list of values per
// set, the categories, and the top of the count axis.
struct ChartBars {
    std::vector<QString> Titles;
    std::vector<std::vector<qreal>> Values;
    QStringList Categories;
    qreal CountAxisTop = -1;
};

ChartBars Bars(const TfmStatistics& dialog) {
    ChartBars bars;
    QChart* chart = dialog.chStatistics->chart();
    const QList<QAbstractSeries*> series = chart->series();
    EXPECT_EQ(series.size(), 1);
    const auto* barSeries =
        series.isEmpty() ? nullptr : qobject_cast<QAbstractBarSeries*>(series[0]);
    if (barSeries == nullptr) {
        ADD_FAILURE() << "the chart holds no bar series";
        return bars;
    }
    // The category axis of lying bars counts upwards, from the foot of the chart.
    const bool upwards = barSeries->type() == QAbstractSeries::SeriesTypeHorizontalBar;
    for (const QBarSet* set : barSeries->barSets()) {
        bars.Titles.push_back(set->label());
        std::vector<qreal> values;
        for (int i = 0; i < set->count(); ++i) {
            values.push_back(set->at(i));
        }
        if (upwards) {
            std::reverse(values.begin(), values.end());
        }
        bars.Values.push_back(values);
    }
    for (QAbstractAxis* axis : chart->axes()) {
        if (auto* categories = qobject_cast<QBarCategoryAxis*>(axis)) {
            bars.Categories = categories->categories();
            if (upwards) {
                std::reverse(bars.Categories.begin(), bars.Categories.end());
            }
        } else if (auto* counts = qobject_cast<QValueAxis*>(axis)) {
            bars.CountAxisTop = counts->max();
        }
    }
    return bars;
}

TEST(TfmStatisticsTest, TheChartShowsTheListsCountsAndFollowsEveryShow) {
    // Two campaigns with records on the 9th: the accepted and refused bars carry the rows'
    // counts under the column titles, one category per campaign; a day without records
    // shows the same campaigns at zero, and the count axis still has a height.
    Shop shop(sim::ParseScenario(""));
    shop.AddCampaign("Winter Sale");
    shop.AddCampaign("Spring");
    for (const char* address : {"(00:00:00:00:00:01)", "(00:00:00:00:00:02)", "(00:00:00:00:00:03)",
                                "(00:00:00:00:00:04)"}) {
        Write(shop, "Winter Sale", "accepted.dat", address, "2026-12-09T10:00:00");
    }
    Write(shop, "Winter Sale", "rejected.dat", "(00:00:00:00:00:05)", "2026-12-09T11:00:00");
    Write(shop, "Spring", "rejected.dat", "(00:00:00:00:00:06)", "2026-12-09T12:00:00");
    Write(shop, "Spring", "rejected.dat", "(00:00:00:00:00:07)", "2026-12-09T13:00:00");
    TfmStatistics dialog(shop.Open());
    dialog.btnShow->click();

    ChartBars bars = Bars(dialog);
    const auto title = [&](int column) {
        return dialog.lvStatistics->horizontalHeaderItem(column)->text();
    };
    EXPECT_EQ(bars.Titles, (std::vector<QString>{title(1), title(2), title(4)}));
    EXPECT_EQ(bars.Categories, (QStringList{"Winter Sale", "Spring"}));
    ASSERT_EQ(bars.Values.size(), 3u);
    // The sets follow the columns accepted, rejected and redeemed.
    const int columns[] = {1, 2, 4};
    for (int row = 0; row < dialog.lvStatistics->rowCount(); ++row) {
        for (int set = 0; set < 3; ++set) {
            ASSERT_EQ(bars.Values[set].size(), 2u);
            EXPECT_EQ(QString::number(bars.Values[set][static_cast<std::size_t>(row)]),
                      dialog.lvStatistics->item(row, columns[set])->text())
                << "row " << row << ", set " << set;
        }
    }
    EXPECT_EQ(bars.Values[0], (std::vector<qreal>{4, 0}));
    EXPECT_EQ(bars.Values[1], (std::vector<qreal>{1, 2}));
    EXPECT_EQ(bars.Values[2], (std::vector<qreal>{0, 0}));
    EXPECT_GE(bars.CountAxisTop, 4);

    dialog.dtFrom->setDate(QDate(2027, 1, 1));
    dialog.btnShow->click();
    bars = Bars(dialog);
    EXPECT_EQ(bars.Categories, (QStringList{"Winter Sale", "Spring"}));
    EXPECT_EQ(bars.Values, (std::vector<std::vector<qreal>>{{0, 0}, {0, 0}, {0, 0}}));
    EXPECT_GT(bars.CountAxisTop, 0);
    EXPECT_TRUE(shop.Errors.empty());
}

TEST(TfmStatisticsTest, RedeemedCouponsAndTheRateShowInTheListAndTheChart) {
    // Four devices accepted "Winter Sale" on the 9th; one coupon is closed through the coupon
    // check's app call. Expected: 1 redeemed and 25.0 in the last two columns, a redeemed bar
    // of 1; "Spring", with nothing accepted, shows 0 and no rate.
    Shop shop(sim::ParseScenario(""));
    shop.AddCampaign("Winter Sale");
    shop.AddCampaign("Spring");
    for (const char* address : {"(00:00:00:00:00:01)", "(00:00:00:00:00:02)", "(00:00:00:00:00:03)",
                                "(00:00:00:00:00:04)"}) {
        Write(shop, "Winter Sale", "accepted.dat", address, "2026-12-09T10:00:00");
        IniFile ini(DataFolder::Open(shop.Data()).CampaignFolder("Winter Sale") + "accepted.dat",
                    DateFormat::Iso());
        ASSERT_TRUE(ini.WriteString(address, "Coupon", "WIN5"));
    }
    TfmMain& window = shop.Open();
    ASSERT_TRUE(CloseCoupon(window.Session().Store(), "Winter Sale", "(00:00:00:00:00:03)",
                            window.DateClock().Now()));
    TfmStatistics dialog(window);
    dialog.btnShow->click();
    ASSERT_EQ(dialog.lvStatistics->columnCount(), 6);
    EXPECT_EQ(dialog.lvStatistics->horizontalHeaderItem(4)->text(), "Redeemed");
    EXPECT_EQ(dialog.lvStatistics->horizontalHeaderItem(5)->text(), "Redemption rate (%)");
    ASSERT_EQ(dialog.lvStatistics->rowCount(), 2);
    EXPECT_EQ(dialog.lvStatistics->item(0, 1)->text(), "4");
    EXPECT_EQ(dialog.lvStatistics->item(0, 4)->text(), "1");
    EXPECT_EQ(dialog.lvStatistics->item(0, 5)->text(), "25.0");
    EXPECT_EQ(dialog.lvStatistics->item(1, 4)->text(), "0");
    EXPECT_EQ(dialog.lvStatistics->item(1, 5)->text(), "");
    const ChartBars bars = Bars(dialog);
    ASSERT_EQ(bars.Values.size(), 3u);
    EXPECT_EQ(bars.Values[2], (std::vector<qreal>{1, 0}));
    EXPECT_TRUE(shop.Errors.empty());
}

TEST(TfmStatisticsTest, WithoutCampaignsTheChartIsEmpty) {
    // No campaign list at all: the chart has no bars and no categories, before and after Show.
    Shop shop(sim::ParseScenario(""));
    TfmStatistics dialog(shop.Open());
    EXPECT_EQ(Bars(dialog).Values, (std::vector<std::vector<qreal>>{{}, {}, {}}));
    dialog.btnShow->click();
    const ChartBars bars = Bars(dialog);
    EXPECT_EQ(bars.Values, (std::vector<std::vector<qreal>>{{}, {}, {}}));
    EXPECT_TRUE(bars.Categories.isEmpty());
    EXPECT_EQ(dialog.lvStatistics->rowCount(), 0);
}

TEST(TfmStatisticsTest, CampaignsWithTheSameOrNoNameKeepTheirOwnBars) {
    // Two records both named "Sale" and one without a name: each keeps a category of its own,
    // so the bars after them stay under the right campaign.
    Shop shop(sim::ParseScenario(""));
    shop.AddCampaign("Sale");
    shop.AddCampaign("Other");
    shop.AddCampaign("Last");
    const DataFolder data = DataFolder::Open(shop.Data());
    IniFile other(data.CampaignFolder("Other") + "settings.dat", DateFormat::Iso());
    ASSERT_TRUE(other.WriteValues("SETTINGS", {{"Name", "Sale"}}));
    IniFile last(data.CampaignFolder("Last") + "settings.dat", DateFormat::Iso());
    ASSERT_TRUE(last.WriteValues("SETTINGS", {{"Name", ""}}));
    Write(shop, "Last", "accepted.dat", "(00:00:00:00:00:01)", "2026-12-09T10:00:00");
    TfmStatistics dialog(shop.Open());
    dialog.btnShow->click();
    ASSERT_EQ(dialog.lvStatistics->rowCount(), 3);
    const ChartBars bars = Bars(dialog);
    ASSERT_EQ(bars.Categories.size(), 3);
    EXPECT_EQ(bars.Categories[0], "Sale");
    EXPECT_NE(bars.Categories[1], "Sale");
    EXPECT_TRUE(bars.Categories[1].startsWith("Sale"));
    EXPECT_FALSE(bars.Categories[2].isEmpty());
    EXPECT_EQ(bars.Values[0], (std::vector<qreal>{0, 0, 1}));
}

TEST(TfmStatisticsTest, NothingIsClippedAtTheDesignSize) {
    // Shown at its size: at least the design size, every column of the list without
    // scrolling, the chart at a readable size, and every control inside the dialog.
    Shop shop(sim::ParseScenario(""));
    shop.AddCampaign("Winter Sale");
    TfmStatistics dialog(shop.Open());
    dialog.show();
    dialog.btnShow->click();
    QApplication::processEvents();
    EXPECT_GE(dialog.width(), 588);
    EXPECT_GE(dialog.height(), 363);
    EXPECT_LE(dialog.lvStatistics->horizontalHeader()->length(),
              dialog.lvStatistics->viewport()->width());
    EXPECT_EQ(dialog.lvStatistics->horizontalScrollBar()->maximum(), 0);
    EXPECT_GE(dialog.chStatistics->width(), 360);
    EXPECT_GE(dialog.chStatistics->height(), 220);
    const QRect inside = dialog.rect();
    for (const QWidget* widget :
         std::vector<const QWidget*>{dialog.dtFrom, dialog.dtTo, dialog.btnShow, dialog.btnExport,
                                     dialog.btnClose, dialog.lvStatistics, dialog.chStatistics}) {
        EXPECT_TRUE(inside.contains(widget->geometry())) << widget->metaObject()->className();
        EXPECT_GE(widget->width(), widget->minimumSizeHint().width())
            << widget->metaObject()->className();
    }
}

TEST(TfmStatisticsTest, TheToDateNeverLiesBeforeTheFromDate) {
    // From set after To moves To forward; To set before From goes back to From.
    Shop shop(sim::ParseScenario(""));
    TfmStatistics dialog(shop.Open());
    dialog.dtFrom->setDate(QDate(2026, 12, 20));
    EXPECT_EQ(dialog.dtTo->date(), QDate(2026, 12, 20));
    dialog.dtTo->setDate(QDate(2026, 12, 1));
    EXPECT_EQ(dialog.dtTo->date(), QDate(2026, 12, 20));
}

TEST(TfmStatisticsTest, ExportWritesTheCsvOfKavrictl) {
    // A name with a comma is quoted; titles first, CR LF line ends.
    Shop shop(sim::ParseScenario(""));
    shop.AddCampaign("Sale, big");
    Write(shop, "Sale, big", "accepted.dat", "(00:00:00:00:00:01)", "2026-12-09T08:00:00");
    TfmStatistics dialog(shop.Open());
    EXPECT_FALSE(dialog.btnExport->isEnabled());
    dialog.btnShow->click();
    EXPECT_TRUE(dialog.btnExport->isEnabled());
    const std::string path = shop.Root() + "/stats.csv";
    ASSERT_TRUE(dialog.ExportCsv(QString::fromStdString(path)));
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(),
              "Campaign name,Accepted,Rejected,Total,Redeemed,Redemption rate (%)\r\n"
              "\"Sale, big\",1,0,1,0,0.0\r\n");
}

TEST(TfmModalDialogs, TheSenderGoesOnWhileADialogIsOpen) {
    // The statistics dialog is open while the sender pushes: the push completes and the
    // main window counts it.
    Shop shop(sim::ParseScenario(test::kOneRadio));
    shop.AddCampaign("Summer");
    TfmMain& window = shop.Open();
    ASSERT_TRUE(shop.RunUntil([&] { return window.acSenderStart->isEnabled(); }));
    window.acSenderStart->trigger();
    bool sentWhileOpen = false;
    window.RunDialog = [&](QDialog& dialog) {
        dialog.open();
        sentWhileOpen =
            shop.RunUntil([&] { return window.StatusText().contains(QStringLiteral("sent 1")); });
        EXPECT_TRUE(dialog.isVisible());
        dialog.reject();
    };
    window.acViewStatistics->trigger();
    EXPECT_TRUE(sentWhileOpen);
    EXPECT_TRUE(shop.Errors.empty());
}

}  // namespace
}  // namespace kavri::gui
