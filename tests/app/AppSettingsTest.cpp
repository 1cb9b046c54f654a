#include "app/AppSettings.h"

#include <string>

#include <gtest/gtest.h>

#include "AppTestFolder.h"

namespace kavri {
namespace {

// SetValueText with its refusal's message in error (emptied on success).
bool SetValueText(AppSettings& settings, std::string_view key, std::string_view text,
                  std::string& error) {
    const Result written = settings.SetValueText(key, text);
    error = written.Message;
    return written.Ok;
}

using test::Slurp;
using test::Spill;

class AppSettingsTest : public ::testing::Test {
protected:
    test::TempFolder m_temp;
    std::string m_path = m_temp.Path() + "settings.dat";
};

TEST_F(AppSettingsTest, FreshInstallationReadsTheDefaults) {
    // Situation: no settings file. Expected: 20 s connect, 5 s idle, 6
    // connections, 0 h rejected, English, no radio name (the computer's name
    // at start), and no file made by reading.
    const AppSettings settings(m_path);
    EXPECT_EQ(settings.ConnectTimeout(), 20);
    EXPECT_EQ(settings.IdleTimeout(), 5);
    EXPECT_EQ(settings.MaxConnections(), 6);
    EXPECT_EQ(settings.RejectedTimeout(), 0);
    EXPECT_EQ(settings.Language(), "English");
    EXPECT_EQ(settings.LocalRadioName(), "");
    EXPECT_EQ(settings.ResponseTimeout(), 60);
    const AppSettings::SenderValues start = settings.ReadSenderValues("host");
    EXPECT_EQ(start.RadioName, "host");
    EXPECT_EQ(start.ConnectTimeOutMs, 20'000u);
    EXPECT_EQ(start.MaxConnections, 6);
    EXPECT_EQ(start.SleepIntervalMs, 5'000u);
    EXPECT_EQ(start.ResponseTimeOutMs, 60'000u);
    EXPECT_EQ(Slurp(m_path), "<missing>");
}

TEST_F(AppSettingsTest, StoredValuesAreCutToTheirHeldWidth) {
    // Situation: values wider than 8 or 16 bits, negative, hexadecimal, or no
    // number at all. Expected: the low bits, or the default for non-numbers.
    Spill(m_path,
          "[SETTINGS]\r\nMaxConnections=262\r\nIdleTimeout=65836\r\nConnectTimeout=-1\r\n"
          "RejectedTimeout=0x1A8\r\n");
    const AppSettings settings(m_path);
    EXPECT_EQ(settings.MaxConnections(), 6);
    EXPECT_EQ(settings.IdleTimeout(), 300);
    EXPECT_EQ(settings.ConnectTimeout(), 255);
    EXPECT_EQ(settings.RejectedTimeout(), 168);
    EXPECT_EQ(settings.ReadSenderValues("host").SleepIntervalMs, 300'000u);
    Spill(m_path, "[SETTINGS]\r\nMaxConnections=many\r\n");
    EXPECT_EQ(settings.MaxConnections(), 6);
}

TEST_F(AppSettingsTest, WritesAreSeenByTheNextReadEverywhere) {
    // Situation: each writer used once; a second object reads the same file.
    // Expected: every value read back, by both objects, stored as decimal.
    AppSettings settings(m_path);
    ASSERT_TRUE(settings.SetConnectTimeout(60));
    ASSERT_TRUE(settings.SetIdleTimeout(300));
    ASSERT_TRUE(settings.SetMaxConnections(50));
    ASSERT_TRUE(settings.SetRejectedTimeout(168));
    ASSERT_TRUE(settings.SetLanguage("Deutsch"));
    ASSERT_TRUE(settings.SetLocalRadioName("Shop radio"));
    ASSERT_TRUE(settings.SetResponseTimeout(600));
    const AppSettings other(m_path);
    EXPECT_EQ(other.ConnectTimeout(), 60);
    EXPECT_EQ(other.IdleTimeout(), 300);
    EXPECT_EQ(other.MaxConnections(), 50);
    EXPECT_EQ(other.RejectedTimeout(), 168);
    EXPECT_EQ(other.Language(), "Deutsch");
    EXPECT_EQ(other.ReadSenderValues("host").RadioName, "Shop radio");
    EXPECT_EQ(other.ReadSenderValues("host").ResponseTimeOutMs, 600'000u);
    EXPECT_NE(Slurp(m_path).find("ResponseTimeout=600\r\n"), std::string::npos);
    EXPECT_NE(Slurp(m_path).find("IdleTimeout=300\r\n"), std::string::npos);
}

TEST_F(AppSettingsTest, TextValuesAreCheckedAgainstTheDialogBounds) {
    // Situation: kavrictl-style "key value" settings at and beyond each bound.
    // Expected: values within the bounds stored; the others refused with the
    // bounds named and the file unchanged.
    AppSettings settings(m_path);
    struct Case {
        const char* Key;
        const char* Text;
        bool Ok;
    };
    const Case cases[] = {
        {"MaxConnections", "1", true},
        {"MaxConnections", "50", true},
        {"MaxConnections", "0", false},
        {"maxconnections", "51", false},
        {"IdleTimeout", "300", true},
        {"IdleTimeout", "301", false},
        {"IdleTimeout", "0", false},
        {"RejectedTimeout", "0", true},
        {"RejectedTimeout", "168", true},
        {"RejectedTimeout", "169", false},
        {"ConnectTimeout", "4", false},
        {"ConnectTimeout", "5", true},
        {"CONNECTTIMEOUT", "60", true},
        {"ConnectTimeout", "61", false},
        {"ConnectTimeout", "", false},
        {"ConnectTimeout", "+7", false},
        {"ConnectTimeout", "7s", false},
        {"ConnectTimeout", "99999999999", false},
        {"Language", "", false},
        {"Language",
         "Fran\xC3\xA7"
         "ais",
         true},
        {"ResponseTimeout", "9", false},
        {"ResponseTimeout", "10", true},
        {"responsetimeout", "600", true},
        {"ResponseTimeout", "601", false},
        {"LocalRadioName", "a\nb", false},
        {"LocalRadioName", "", true},
        {"Colour", "red", false},
    };
    for (const Case& c : cases) {
        const std::string before = Slurp(m_path);
        std::string error;
        EXPECT_EQ(SetValueText(settings, c.Key, c.Text, error), c.Ok) << c.Key << "=" << c.Text;
        if (c.Ok) {
            std::string value;
            ASSERT_TRUE(settings.ValueText(c.Key, value));
            EXPECT_EQ(value, c.Text) << c.Key;
        } else {
            EXPECT_NE(error, "") << c.Key << "=" << c.Text;
            EXPECT_EQ(Slurp(m_path), before) << c.Key << "=" << c.Text;
        }
    }
    std::string error;
    EXPECT_FALSE(SetValueText(settings, "MaxConnections", "0", error));
    EXPECT_EQ(error, "MaxConnections must be a whole number from 1 to 50");
    EXPECT_FALSE(SetValueText(settings, "ResponseTimeout", "5", error));
    EXPECT_EQ(error, "ResponseTimeout must be a whole number from 10 to 600");
    EXPECT_EQ(AppSettings::kIdleTimeoutBounds.Clamp(0), 1);
    EXPECT_EQ(AppSettings::kIdleTimeoutBounds.Clamp(999), 300);
}

TEST_F(AppSettingsTest, RadioNameIsRefusedBeyondTheRadiosLimit) {
    // Situation: radio names of 248 ASCII bytes, of 249, of 124 two-byte letters (248
    // bytes) plus one more, and of 5000 characters. Expected: up to 248 bytes stored and
    // read back whole; beyond, refused with the limit named and nothing written.
    AppSettings settings(m_path);
    const std::string twoByte = "\xC3\xA9";  // é
    std::string multi;
    for (int i = 0; i < 124; ++i) {
        multi += twoByte;
    }
    std::string error;
    ASSERT_TRUE(SetValueText(settings, "LocalRadioName", std::string(248, 'r'), error)) << error;
    EXPECT_EQ(settings.LocalRadioName(), std::string(248, 'r'));
    ASSERT_TRUE(SetValueText(settings, "LocalRadioName", multi, error)) << error;
    EXPECT_EQ(settings.LocalRadioName(), multi);
    const std::string before = Slurp(m_path);
    for (const std::string& name : {std::string(249, 'r'), multi + "x", std::string(5000, 'r')}) {
        error.clear();
        EXPECT_FALSE(SetValueText(settings, "LocalRadioName", name, error)) << name.size();
        EXPECT_EQ(error.rfind("LocalRadioName must be at most 248 bytes of UTF-8", 0), 0u) << error;
        EXPECT_EQ(Slurp(m_path), before);
    }
}

TEST_F(AppSettingsTest, WritingTheLanguageReappliesTheTexts) {
    // Situation: the language written directly and by key; another key written.
    // Expected: the event runs for each language write only.
    AppSettings settings(m_path);
    int applied = 0;
    settings.OnLanguageChanged = [&] { ++applied; };
    ASSERT_TRUE(settings.SetLanguage("Deutsch"));
    std::string error;
    ASSERT_TRUE(SetValueText(settings, "language", "English", error));
    ASSERT_TRUE(settings.SetMaxConnections(3));
    EXPECT_EQ(applied, 2);
}

}  // namespace
}  // namespace kavri
