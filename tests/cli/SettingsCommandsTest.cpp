#include "cli/SettingsCommands.h"

#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "CliTestSupport.h"

#include "app/AppTestFolder.h"

namespace kavri::cli {
namespace {

using test::Slurp;
using test::Spill;

using test::Outcome;

using test::Drain;

class SettingsCommandsTest : public ::testing::Test {
protected:
    Outcome Show(std::optional<std::string> key = std::nullopt) {
        return test::Capture(
            [&](std::FILE* out, std::FILE* err) { return ShowSettings(m_data, key, out, err); });
    }
    Outcome Set(const std::string& key, const std::string& value) {
        return test::Capture([&](std::FILE* out, std::FILE* err) {
            return SetSetting(m_data, key, value, out, err);
        });
    }
    std::string SettingsFile() const { return m_data + "settings.dat"; }

    test::TempFolder m_temp;
    std::string m_data = m_temp.Path() + "data/";
    // The commands that only read need the folder to exist.
    bool m_made = std::filesystem::create_directories(m_data);
};

TEST_F(SettingsCommandsTest, FreshFolderShowsTheDefaults) {
    // Situation: a data folder without a settings file.
    // Expected: every key in the settings' order with its default; no file made.
    const Outcome outcome = Show();
    EXPECT_EQ(outcome.Status, 0);
    EXPECT_EQ(outcome.Err, "");
    EXPECT_EQ(outcome.Out,
              "ConnectTimeout\t20\nIdleTimeout\t5\nMaxConnections\t6\nRejectedTimeout\t0\n"
              "Language\tEnglish\nLocalRadioName\t\nResponseTimeout\t60\n");
    EXPECT_EQ(Slurp(SettingsFile()), "<missing>");
}

TEST_F(SettingsCommandsTest, BoundsOfEveryNumberAreAcceptedAndShown) {
    // Situation: each number set to its lowest, then its highest value, the
    // key typed in another letter case.
    // Expected: status 0, silent, and show gives the value back.
    const std::vector<std::tuple<std::string, std::string, std::string>> cases{
        {"connecttimeout", "ConnectTimeout", "5"},    {"CONNECTTIMEOUT", "ConnectTimeout", "60"},
        {"idleTimeout", "IdleTimeout", "1"},          {"IdleTimeout", "IdleTimeout", "300"},
        {"maxconnections", "MaxConnections", "1"},    {"MaxConnections", "MaxConnections", "50"},
        {"rejectedtimeout", "RejectedTimeout", "0"},  {"RejectedTimeout", "RejectedTimeout", "168"},
        {"responsetimeout", "ResponseTimeout", "10"}, {"ResponseTimeout", "ResponseTimeout", "600"},
    };
    for (const auto& [typed, key, value] : cases) {
        const Outcome set = Set(typed, value);
        EXPECT_EQ(set.Status, 0) << typed << " " << value << ": " << set.Err;
        EXPECT_EQ(set.Out, "");
        EXPECT_EQ(set.Err, "");
        const Outcome shown = Show(typed);
        EXPECT_EQ(shown.Status, 0);
        EXPECT_EQ(shown.Out, key + "\t" + value + "\n");
    }
}

TEST_F(SettingsCommandsTest, RefusedValuesLeaveTheFileAsItWas) {
    // Situation: values just outside the bounds, and text that is not a plain
    // decimal whole number.
    // Expected: status 1, the bounds named on one line, the file unchanged.
    ASSERT_EQ(Set("MaxConnections", "7").Status, 0);
    const std::string before = Slurp(SettingsFile());
    const std::vector<std::pair<std::string, std::string>> cases{
        {"ConnectTimeout", "4"},   {"ConnectTimeout", "61"},   {"IdleTimeout", "0"},
        {"IdleTimeout", "301"},    {"MaxConnections", "0"},    {"MaxConnections", "51"},
        {"MaxConnections", "-1"},  {"MaxConnections", "256"},  {"MaxConnections", "abc"},
        {"MaxConnections", ""},    {"MaxConnections", "5 "},   {"MaxConnections", "+5"},
        {"MaxConnections", "0x5"}, {"RejectedTimeout", "169"}, {"ResponseTimeout", "9"},
        {"ResponseTimeout", "601"}};
    const std::map<std::string, std::string> bounds{{"ConnectTimeout", "5 to 60"},
                                                    {"IdleTimeout", "1 to 300"},
                                                    {"MaxConnections", "1 to 50"},
                                                    {"RejectedTimeout", "0 to 168"},
                                                    {"ResponseTimeout", "10 to 600"}};
    for (const auto& [key, value] : cases) {
        const Outcome outcome = Set(key, value);
        EXPECT_EQ(outcome.Status, 1) << key << "=" << value;
        EXPECT_EQ(outcome.Out, "");
        EXPECT_EQ(outcome.Err,
                  "kavrictl: " + key + " must be a whole number from " + bounds.at(key) + "\n");
        EXPECT_EQ(Slurp(SettingsFile()), before);
    }
    EXPECT_EQ(Show("MaxConnections").Out, "MaxConnections\t7\n");
}

TEST_F(SettingsCommandsTest, TextSettingsTakeOneLineOfText) {
    // Situation: a radio name with blanks and a non-ASCII letter, then one
    // with a line break; an empty language.
    // Expected: the first is stored and shown; the others refused unchanged.
    EXPECT_EQ(Set("LocalRadioName", "Shop front Å").Status, 0);
    EXPECT_EQ(Set("Language", "Deutsch").Status, 0);
    const std::string before = Slurp(SettingsFile());
    Outcome outcome = Set("LocalRadioName", "two\nlines");
    EXPECT_EQ(outcome.Status, 1);
    EXPECT_EQ(outcome.Err, "kavrictl: LocalRadioName must be one line of UTF-8 text\n");
    outcome = Set("LocalRadioName", std::string(5000, 'n'));
    EXPECT_EQ(outcome.Status, 1);
    EXPECT_EQ(outcome.Err,
              "kavrictl: LocalRadioName must be at most 248 bytes of UTF-8 (this one has 5000)\n");
    outcome = Set("Language", "");
    EXPECT_EQ(outcome.Status, 1);
    EXPECT_EQ(outcome.Err, "kavrictl: Language must name a language\n");
    EXPECT_EQ(Slurp(SettingsFile()), before);
    EXPECT_EQ(Show().Out,
              "ConnectTimeout\t20\nIdleTimeout\t5\nMaxConnections\t6\nRejectedTimeout\t0\n"
              "Language\tDeutsch\nLocalRadioName\tShop front Å\nResponseTimeout\t60\n");
}

TEST_F(SettingsCommandsTest, UnknownKeysAreRefusedWithTheKnownOnes) {
    // Situation: set and show with a key the settings do not have, one of
    // them carrying a terminal control.
    // Expected: one escaped line naming the keys; no file written.
    const std::string line =
        " (the settings are ConnectTimeout, IdleTimeout, MaxConnections, RejectedTimeout, "
        "Language, LocalRadioName, ResponseTimeout)\n";
    Outcome outcome = Set("Max\x1B[2J", "5");
    EXPECT_EQ(outcome.Status, 1);
    EXPECT_EQ(outcome.Err, "kavrictl: unknown setting \"Max\\x1B[2J\"" + line);
    outcome = Show("Timeout");
    EXPECT_EQ(outcome.Status, 1);
    EXPECT_EQ(outcome.Out, "");
    EXPECT_EQ(outcome.Err, "kavrictl: unknown setting \"Timeout\"" + line);
    EXPECT_EQ(Slurp(SettingsFile()), "<missing>");
}

TEST_F(SettingsCommandsTest, ShowPrintsWhatTheSenderReadsFromAHandEditedFile) {
    // Situation: a settings file with a value wider than its held type, a
    // backslash in the radio name and keys in another order and case.
    // Expected: the low bits, the backslash escaped, the settings' own order.
    Spill(SettingsFile(),
          "[settings]\r\nlocalradioname=Desk\\1\r\nMAXCONNECTIONS=258\r\nIdleTimeout=65537\r\n");
    const Outcome outcome = Show();
    EXPECT_EQ(outcome.Status, 0);
    EXPECT_EQ(outcome.Out,
              "ConnectTimeout\t20\nIdleTimeout\t1\nMaxConnections\t2\nRejectedTimeout\t0\n"
              "Language\tEnglish\nLocalRadioName\tDesk\\\\1\nResponseTimeout\t60\n");
}

TEST_F(SettingsCommandsTest, ShowOnAMissingDataFolderSaysSoAndCreatesNothing) {
    // Situation: the data folder does not exist.
    // Expected: exit 1 naming the folder; still missing afterwards; set makes it.
    std::filesystem::remove_all(m_data);
    const Outcome outcome = Show();
    EXPECT_EQ(outcome.Status, 1);
    EXPECT_EQ(outcome.Err, "kavrictl: the data folder " + m_data + " does not exist\n");
    EXPECT_FALSE(std::filesystem::exists(m_data));
    EXPECT_EQ(Set("MaxConnections", "3").Status, 0);
    EXPECT_TRUE(std::filesystem::is_directory(m_data));
}

}  // namespace
}  // namespace kavri::cli
