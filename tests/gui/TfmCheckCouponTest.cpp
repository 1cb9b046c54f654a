// The coupon check dialog over accepted records written by the app layer:
// which rows a code finds, and what closing one leaves.
#include "gui/TfmCheckCoupon.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>

#include <string>

#include "app/CouponCheck.h"
#include "app/DateTimeClock.h"
#include "app/IniFile.h"
#include "gui/DeviceRecordModel.h"
#include "tests/gui/GuiShop.h"

namespace kavri::gui {
namespace {

using test::Shop;

// Two campaigns share the code "WIN5"; a third device carries "win5" and
// one an empty coupon.
class CheckCoupon : public ::testing::Test {
protected:
    CheckCoupon() : shop(sim::ParseScenario("")) {
        shop.AddCampaign("Winter Sale");
        shop.AddCampaign("Spring");
        Write("Winter Sale", "(00:00:00:00:00:01)", "WIN5");
        Write("Winter Sale", "(00:00:00:00:00:02)", "WIN5");
        Write("Winter Sale", "(00:00:00:00:00:03)", "win5");
        Write("Spring", "(00:00:00:00:00:04)", "WIN5");
        Write("Spring", "(00:00:00:00:00:05)", "");
        shop.Open();
    }
    void Write(const std::string& campaign, const std::string& address, const std::string& code) {
        IniFile ini(DataFolder::Open(shop.Data()).CampaignFolder(campaign) + "accepted.dat",
                    DateFormat::Iso());
        ASSERT_TRUE(ini.WriteValues(address, {{"Name", "Phone " + address.substr(16, 1)},
                                              {"COD", "Phone"},
                                              {"DateTime", "2026-12-09T10:00:00"},
                                              {"Coupon", code}}));
    }
    int Found(TfmCheckCoupon& dialog, const QString& code) {
        dialog.edCoupon->setText(code);
        dialog.btnCheck->click();
        return dialog.Model().rowCount();
    }

    Shop shop;
};

TEST_F(CheckCoupon, TheCodeMatchesExactlyAcrossCampaigns) {
    // Letter case counts, nothing is trimmed, an empty field finds nothing.
    TfmCheckCoupon dialog(shop.Window());
    EXPECT_EQ(dialog.windowTitle(), "Kavri Tandrel - Check Coupon");
    EXPECT_EQ(Found(dialog, "WIN5"), 3);
    EXPECT_EQ(dialog.Model().Row(2).Campaign, "Spring");
    EXPECT_EQ(Found(dialog, "win5"), 1);
    EXPECT_EQ(Found(dialog, " WIN5"), 0);
    EXPECT_EQ(Found(dialog, ""), 0);
    EXPECT_FALSE(dialog.btnCloseCoupon->isEnabled());
    EXPECT_TRUE(shop.Errors.empty());
}

TEST_F(CheckCoupon, ClosingOneDeviceLeavesTheOthersFindable) {
    // Closing the first match: the next check lists the other two, the record stays accepted.
    TfmCheckCoupon dialog(shop.Window());
    ASSERT_EQ(Found(dialog, "WIN5"), 3);
    dialog.lvDevices->selectRow(0);
    EXPECT_TRUE(dialog.btnCloseCoupon->isEnabled());
    dialog.btnCloseCoupon->click();
    EXPECT_EQ(dialog.Model().rowCount(), 2);
    EXPECT_EQ(Found(dialog, "WIN5"), 2);
    EXPECT_EQ(dialog.Model().Row(0).Address, "(00:00:00:00:00:02)");
    std::vector<DeviceRecordRow> accepted;
    ASSERT_TRUE(
        DeviceRecords(shop.Window().Session().Store()).List(DeviceRecordKind::Accepted, accepted));
    EXPECT_EQ(accepted.size(), 5u);
    EXPECT_TRUE(shop.Errors.empty());
}

TEST_F(CheckCoupon, AClosedCodeChecksAsAlreadyUsedWithItsDate) {
    // "win5" is held by one device: closed, it lists nothing and says when it was used; a code
    // never handed out says it is unknown; an open code says neither.
    TfmCheckCoupon dialog(shop.Window());
    ASSERT_EQ(Found(dialog, "win5"), 1);
    EXPECT_EQ(dialog.lbResult->text(), "");
    dialog.lvDevices->selectRow(0);
    dialog.btnCloseCoupon->click();
    EXPECT_EQ(Found(dialog, "win5"), 0);
    const TDateTime now = shop.Window().DateClock().Now();
    EXPECT_EQ(dialog.lbResult->text(),
              QStringLiteral("Already used: redeemed on %1 (Winter Sale, (00:00:00:00:00:03))")
                  .arg(QString::fromStdString(DateFormat::FromLocale().FormatDateTime(now))));
    EXPECT_EQ(Found(dialog, "NEVER"), 0);
    EXPECT_EQ(dialog.lbResult->text(), "Unknown code");
    EXPECT_EQ(Found(dialog, "WIN5"), 3);
    EXPECT_EQ(dialog.lbResult->text(), "");
    EXPECT_EQ(Found(dialog, ""), 0);
    EXPECT_EQ(dialog.lbResult->text(), "");
    EXPECT_TRUE(shop.Errors.empty());
}

TEST_F(CheckCoupon, CheckIsTheDefaultButtonAndTheCommandOpensTheDialog) {
    // Enter in the field runs Check; the Tools command opens this dialog.
    TfmCheckCoupon dialog(shop.Window());
    EXPECT_TRUE(dialog.btnCheck->isDefault());
    std::vector<QString> titles;
    shop.Window().RunDialog = [&](QDialog& opened) { titles.push_back(opened.windowTitle()); };
    shop.Window().acToolsCheckCoupon->trigger();
    EXPECT_EQ(titles, std::vector<QString>{"Kavri Tandrel - Check Coupon"});
}

}  // namespace
}  // namespace kavri::gui
