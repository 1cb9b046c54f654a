#include "cli/StatsCommands.h"

#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "CliTestSupport.h"
#include "cli/OperatorTexts.h"

#include "app/AppSettings.h"
#include "app/AppTestFolder.h"
#include "app/CampaignStore.h"
#include "app/IniFile.h"

namespace kavri::cli {
namespace {

using test::Outcome;

using test::Capture;

const TDateTime kRedeemedAt = test::At(2026, 12, 8, 9, 30);

class StatsCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        CampaignStore store(DataFolder::Open(m_data), DateFormat::Iso());
        std::string error;
        for (const std::string name : {"Say \"hi\", friend", "Plain"}) {
            ASSERT_TRUE(
                test::Done(store.Campaigns().Add(DataFolder::CampaignFolderName(name)), error));
            std::filesystem::create_directories(store.CampaignFolder(name));
            ASSERT_TRUE(store.OpenRecord(name)->WriteString("SETTINGS", "Name", name));
        }
        IniFile accepted(store.CampaignFolder("Plain") + "accepted.dat", DateFormat::Iso());
        ASSERT_TRUE(
            accepted.WriteValues("(00:17:E5:3A:91:02)", {{"Name", "Phone"},
                                                         {"COD", "Phone"},
                                                         {"DateTime", "2026-12-07 10:00:00"},
                                                         {"Coupon", "GIFT"}}));
    }

    test::TempFolder m_temp;
    std::string m_data = m_temp.Path() + "data/";
};

TEST_F(StatsCommandsTest, StatisticsAsTabsAndAsCsvWithQuoting) {
    Outcome tsv = Capture([&](std::FILE* o, std::FILE* e) {
        return ShowStatistics(m_data, "2026-12-07", "2026-12-07", false, {}, o, e);
    });
    EXPECT_EQ(tsv.Status, 0) << tsv.Err;
    EXPECT_EQ(tsv.Out, "Say \"hi\", friend\t0\t0\t0\t0\t\nPlain\t1\t0\t1\t0\t0.0\n");

    const OperatorTexts texts = CommandTexts(m_data, "");
    Outcome csv = Capture([&](std::FILE* o, std::FILE* e) {
        return ShowStatistics(m_data, "2026-12-07", "2026-12-07", true, StatisticsTitles(texts), o,
                              e);
    });
    EXPECT_EQ(csv.Status, 0) << csv.Err;
    EXPECT_EQ(csv.Out,
              "Campaign name,Accepted,Rejected,Total,Redeemed,Redemption rate (%)\r\n"
              "\"Say \"\"hi\"\", friend\",0,0,0,0,\r\n"
              "Plain,1,0,1,0,0.0\r\n");

    Outcome bad = Capture([&](std::FILE* o, std::FILE* e) {
        return ShowStatistics(m_data, "yesterday", "2026-12-07", false, {}, o, e);
    });
    EXPECT_EQ(bad.Status, 1);
    EXPECT_NE(bad.Err.find("yesterday"), std::string::npos);
    EXPECT_EQ(bad.Out, "");
}

TEST_F(StatsCommandsTest, TitlesComeFromTheLanguageFileInTheChosenLanguage) {
    // Situation: statistics and a coupon check with titles, in English, then
    // after the data folder's language was set to German.
    // Expected: the title lines carry the language file's texts of each.
    auto statistics = [&] {
        const OperatorTexts texts = CommandTexts(m_data, "");
        return Capture([&](std::FILE* o, std::FILE* e) {
            return ShowStatistics(m_data, "2026-12-07", "2026-12-07", false,
                                  StatisticsTitles(texts), o, e);
        });
    };
    auto coupons = [&] {
        const OperatorTexts texts = CommandTexts(m_data, "");
        return Capture([&](std::FILE* o, std::FILE* e) {
            return CheckCoupon(m_data, "GIFT", texts.Titles(kCouponCheckTitles), o, e);
        });
    };
    EXPECT_EQ(statistics().Out.substr(0, statistics().Out.find('\n')),
              "Campaign name\tAccepted\tRejected\tTotal\tRedeemed\tRedemption rate (%)");
    EXPECT_EQ(coupons().Out.substr(0, coupons().Out.find('\n')),
              "Campaign name\tDevice address\tDevice name\tDate/time");

    AppSettings settings(DataFolder::Open(m_data).SettingsFile());
    ASSERT_TRUE(settings.SetLanguage("German"));
    EXPECT_EQ(statistics().Out,
              "Kampagnenname\tAngenommen\tAbgelehnt\tGesamt\tEingelöst\tEinlösequote (%)\n"
              "Say \"hi\", friend\t0\t0\t0\t0\t\nPlain\t1\t0\t1\t0\t0.0\n");
    EXPECT_EQ(coupons().Out.substr(0, coupons().Out.find('\n')),
              "Kampagnenname\tGeräteadresse\tGerätename\tDatum/Uhrzeit");
}

TEST_F(StatsCommandsTest, CouponCheckThenCloseThenCheckAgain) {
    Outcome found =
        Capture([&](std::FILE* o, std::FILE* e) { return CheckCoupon(m_data, "GIFT", {}, o, e); });
    EXPECT_EQ(found.Status, 0);
    EXPECT_EQ(found.Out.rfind("Plain\t(00:17:E5:3A:91:02)\tPhone\t", 0), 0u) << found.Out;

    Outcome closed = Capture([&](std::FILE* o, std::FILE* e) {
        return CloseCouponOf(m_data, "Plain", "(00:17:E5:3A:91:02)", kRedeemedAt, o, e);
    });
    EXPECT_EQ(closed.Status, 0) << closed.Err;
    // The used code lists nothing on out, as an unknown one, and says on err
    // that it was used, and when.
    Outcome again =
        Capture([&](std::FILE* o, std::FILE* e) { return CheckCoupon(m_data, "GIFT", {}, o, e); });
    EXPECT_EQ(again.Status, 0);
    EXPECT_EQ(again.Out, "");
    EXPECT_EQ(again.Err, "kavrictl: coupon GIFT already used: redeemed " +
                             DateFormat::FromLocale().FormatDateTime(kRedeemedAt) +
                             ", Plain, (00:17:E5:3A:91:02)\n");
    Outcome unknown =
        Capture([&](std::FILE* o, std::FILE* e) { return CheckCoupon(m_data, "GIFT2", {}, o, e); });
    EXPECT_EQ(unknown.Status, 0);
    EXPECT_EQ(unknown.Out + unknown.Err, "");
    Outcome twice = Capture([&](std::FILE* o, std::FILE* e) {
        return CloseCouponOf(m_data, "Plain", "(00:17:E5:3A:91:02)", kRedeemedAt, o, e);
    });
    EXPECT_EQ(twice.Status, 1);
    EXPECT_EQ(twice.Err.rfind("kavrictl: ", 0), 0u);
}

TEST_F(StatsCommandsTest, StatisticsCountTheRedeemedCouponAndItsRate) {
    // Situation: a second device of "Plain" accepted the same day; the first
    // one's coupon is closed the next day. Expected: on the day of the
    // acceptances 1 of 2 redeemed, 50.0 %, in the trailing columns; on the
    // day of the redemption nothing was accepted, so nothing is redeemed and
    // the rate is empty.
    IniFile accepted(DataFolder::Open(m_data).CampaignFolder("Plain") + "accepted.dat",
                     DateFormat::Iso());
    ASSERT_TRUE(accepted.WriteValues("(00:17:E5:3A:91:03)", {{"Name", "Other"},
                                                             {"COD", "Phone"},
                                                             {"DateTime", "2026-12-07 11:00:00"},
                                                             {"Coupon", "GIFT"}}));
    ASSERT_EQ(Capture([&](std::FILE* o, std::FILE* e) {
                  return CloseCouponOf(m_data, "Plain", "(00:17:E5:3A:91:02)", kRedeemedAt, o, e);
              }).Status,
              0);
    auto stats = [&](const char* day, bool csv) {
        return Capture([&](std::FILE* o, std::FILE* e) {
            return ShowStatistics(m_data, day, day, csv, {}, o, e);
        });
    };
    EXPECT_EQ(stats("2026-12-07", false).Out,
              "Say \"hi\", friend\t0\t0\t0\t0\t\nPlain\t2\t0\t2\t1\t50.0\n");
    EXPECT_EQ(stats("2026-12-07", true).Out,
              "\"Say \"\"hi\"\", friend\",0,0,0,0,\r\nPlain,2,0,2,1,50.0\r\n");
    EXPECT_EQ(stats("2026-12-08", false).Out,
              "Say \"hi\", friend\t0\t0\t0\t0\t\nPlain\t0\t0\t0\t0\t\n");
    // The other device still holds the code open, so it is good.
    Outcome check =
        Capture([&](std::FILE* o, std::FILE* e) { return CheckCoupon(m_data, "GIFT", {}, o, e); });
    EXPECT_EQ(check.Out.rfind("Plain\t(00:17:E5:3A:91:03)\tOther\t", 0), 0u) << check.Out;
    EXPECT_EQ(check.Err, "");
}

TEST_F(StatsCommandsTest, AutostartOnShowOff) {
    const std::string config = m_temp.Path() + "config";
    const DataFolder::Environment environment =
        [config](std::string_view name) -> std::optional<std::string> {
        return name == "XDG_CONFIG_HOME" ? std::optional<std::string>(config) : std::nullopt;
    };
    const std::string entry = config + "/autostart/kavri.desktop";
    auto show = [&] {
        return Capture(
            [&](std::FILE* o, std::FILE* e) { return ShowAutoStart(environment, o, e); });
    };
    EXPECT_EQ(show().Out, "off\t" + entry + "\n");
    EXPECT_EQ(Capture([&](std::FILE* o, std::FILE* e) {
                  return SetAutoStart(environment, true, "/usr/bin/kavri", o, e);
              }).Status,
              0);
    EXPECT_EQ(show().Out, "on\t" + entry + "\n");
    EXPECT_EQ(Capture([&](std::FILE* o, std::FILE* e) {
                  return SetAutoStart(environment, false, "", o, e);
              }).Status,
              0);
    EXPECT_EQ(show().Out, "off\t" + entry + "\n");
    EXPECT_EQ(Capture([&](std::FILE* o, std::FILE* e) {
                  return SetAutoStart(environment, true, "relative/kavri", o, e);
              }).Status,
              1);
    EXPECT_EQ(show().Out, "off\t" + entry + "\n");
}

}  // namespace
}  // namespace kavri::cli
