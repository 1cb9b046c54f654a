// The statistics dialog over device records written by the app layer: the
// range's edges, its order, and the CSV it exports; and a modal dialog that
// leaves the sender running.
#include "gui/TfmStatistics.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QDateEdit>
#include <QPushButton>
#include <QTableWidget>

#include <fstream>
#include <sstream>
#include <string>

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
              "Campaign name,Accepted,Rejected,Total\r\n"
              "\"Sale, big\",1,0,1\r\n");
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
