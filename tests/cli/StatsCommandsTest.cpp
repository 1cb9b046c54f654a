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

class StatsCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        CampaignStore store(DataFolder::Open(m_data), DateFormat::Iso());
        std::string error;
        for (const std::string name : {"Say \"hi\", friend", "Plain"}) {
            ASSERT_TRUE(store.Campaigns().Add(DataFolder::CampaignFolderName(name), error));
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
    EXPECT_EQ(tsv.Out, "Say \"hi\", friend\t0\t0\t0\nPlain\t1\t0\t1\n");

    const OperatorTexts texts = CommandTexts(m_data, "");
    Outcome csv = Capture([&](std::FILE* o, std::FILE* e) {
        return ShowStatistics(m_data, "2026-12-07", "2026-12-07", true,
                              texts.Titles(kStatisticsTitles), o, e);
    });
    EXPECT_EQ(csv.Status, 0) << csv.Err;
    EXPECT_EQ(csv.Out,
              "Campaign name,Accepted,Rejected,Total\r\n"
              "\"Say \"\"hi\"\", friend\",0,0,0\r\n"
              "Plain,1,0,1\r\n");

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
                                  texts.Titles(kStatisticsTitles), o, e);
        });
    };
    auto coupons = [&] {
        const OperatorTexts texts = CommandTexts(m_data, "");
        return Capture([&](std::FILE* o, std::FILE* e) {
            return CheckCoupon(m_data, "GIFT", texts.Titles(kCouponCheckTitles), o, e);
        });
    };
    EXPECT_EQ(statistics().Out.substr(0, statistics().Out.find('\n')),
              "Campaign name\tAccepted\tRejected\tTotal");
    EXPECT_EQ(coupons().Out.substr(0, coupons().Out.find('\n')),
              "Campaign name\tDevice address\tDevice name\tDate/time");

    AppSettings settings(DataFolder::Open(m_data).SettingsFile());
    ASSERT_TRUE(settings.SetLanguage("German"));
    EXPECT_EQ(statistics().Out,
              "Kampagnenname\tAngenommen\tAbgelehnt\tGesamt\n"
              "Say \"hi\", friend\t0\t0\t0\nPlain\t1\t0\t1\n");
    EXPECT_EQ(coupons().Out.substr(0, coupons().Out.find('\n')),
              "Kampagnenname\tGeräteadresse\tGerätename\tDatum/Uhrzeit");
}

TEST_F(StatsCommandsTest, CouponCheckThenCloseThenCheckAgain) {
    Outcome found =
        Capture([&](std::FILE* o, std::FILE* e) { return CheckCoupon(m_data, "GIFT", {}, o, e); });
    EXPECT_EQ(found.Status, 0);
    EXPECT_EQ(found.Out.rfind("Plain\t(00:17:E5:3A:91:02)\tPhone\t", 0), 0u) << found.Out;

    Outcome closed = Capture([&](std::FILE* o, std::FILE* e) {
        return CloseCouponOf(m_data, "Plain", "(00:17:E5:3A:91:02)", o, e);
    });
    EXPECT_EQ(closed.Status, 0) << closed.Err;
    Outcome again =
        Capture([&](std::FILE* o, std::FILE* e) { return CheckCoupon(m_data, "GIFT", {}, o, e); });
    EXPECT_EQ(again.Status, 0);
    EXPECT_EQ(again.Out, "");
    Outcome twice = Capture([&](std::FILE* o, std::FILE* e) {
        return CloseCouponOf(m_data, "Plain", "(00:17:E5:3A:91:02)", o, e);
    });
    EXPECT_EQ(twice.Status, 1);
    EXPECT_EQ(twice.Err.rfind("kavrictl: ", 0), 0u);
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
