#include "cli/OperatorTexts.h"

#include <cstdio>
#include <initializer_list>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>

#include <gtest/gtest.h>

#include "CliTestSupport.h"

#include "app/AppSettings.h"
#include "app/AppTestFolder.h"
#include "app/DataFolder.h"
#include "app/DateTimeClock.h"
#include "cli/CampaignCommands.h"

namespace kavri::cli {
namespace {

using test::At;
using test::Outcome;

class OperatorTextsTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::Spill(m_lang,
                    "[English]\r\nFileBased=File based\r\nContinuous=Continuous\r\n"
                    "CampaignExists=Taken.\r\n[German]\r\nFileBased=Dateibasiert\r\n");
        test::Spill(m_source, "bytes");
    }
    void SetLanguage(const std::string& language) {
        AppSettings settings(DataFolder::Open(m_data).SettingsFile());
        ASSERT_TRUE(settings.SetLanguage(language));
    }
    // Looks each key up once through texts made for languageFile; the texts
    // and the warnings written meanwhile.
    std::pair<std::string, std::string> LookUp(const std::string& languageFile,
                                               std::initializer_list<std::string_view> keys) {
        std::string texts;
        std::FILE* warnings = std::tmpfile();
        {
            const OperatorTexts operatorTexts = CommandTexts(m_data, languageFile, warnings);
            for (const std::string_view key : keys) {
                texts += operatorTexts.Text(key) + "|";
            }
        }
        return {texts, test::Drain(warnings)};
    }
    // `campaign add NAME --file SOURCE` with the texts of languageFile; the
    // outcome and the warnings.
    std::pair<Outcome, std::string> Add(const std::string& languageFile, const std::string& name) {
        std::FILE* warnings = std::tmpfile();
        Outcome outcome;
        {
            const OperatorTexts texts = CommandTexts(m_data, languageFile, warnings);
            outcome = test::Capture([&](std::FILE* out, std::FILE* err) {
                CampaignCommands commands(m_data, m_clock, DateFormat::Iso(), texts.Lookup(), out,
                                          err);
                CampaignOptions options;
                options.SourceFile = m_source;
                return commands.Add(name, options);
            });
        }
        return {outcome, test::Drain(warnings)};
    }

    test::TempFolder m_temp;
    std::string m_data = m_temp.Path() + "data/";
    std::string m_lang = m_temp.Path() + "kavri.lang";
    std::string m_source = m_temp.Path() + "promo.mp3";
    ManualDateTimeClock m_clock{At(2026, 12, 9, 14, 15, 16)};
};

TEST_F(OperatorTextsTest, EveryMissingTextIsUndefinedWithOneWarningNamingTheFile) {
    // Situation: lookups of several keys with no language file, with a
    // language the file lacks, with a key the language lacks, and with
    // every key present.
    // Expected: only the missing texts read "UNDEFINED" (no built-in English
    // for types or messages); exactly one warning line per set of lookups,
    // naming the file and the missing language or the first missing key;
    // none when nothing is missing.
    const std::string absent = m_temp.Path() + "none/kavri.lang";
    auto [texts, warnings] = LookUp(absent, {"FileBased", "CampaignExists", "Continuous"});
    EXPECT_EQ(texts, "UNDEFINED|UNDEFINED|UNDEFINED|");
    EXPECT_EQ(warnings, "kavrictl: warning: there is no language file at " + absent +
                            "; such texts show as UNDEFINED\n");

    std::tie(texts, warnings) = LookUp(m_lang, {"FileBased", "Continuous", "CampaignExists"});
    EXPECT_EQ(texts, "File based|Continuous|Taken.|");
    EXPECT_EQ(warnings, "");

    SetLanguage("German");
    std::tie(texts, warnings) = LookUp(m_lang, {"FileBased", "Continuous", "CampaignExists"});
    EXPECT_EQ(texts, "Dateibasiert|UNDEFINED|UNDEFINED|");
    EXPECT_EQ(warnings, "kavrictl: warning: the language file " + m_lang +
                            " has no text \"Continuous\" in \"German\"; such texts show as "
                            "UNDEFINED\n");

    SetLanguage("Klingon");
    std::tie(texts, warnings) = LookUp(m_lang, {"FileBased", "FileBased"});
    EXPECT_EQ(texts, "UNDEFINED|UNDEFINED|");
    EXPECT_EQ(warnings, "kavrictl: warning: the language file " + m_lang +
                            " has no language \"Klingon\"; such texts show as UNDEFINED\n");
}

TEST_F(OperatorTextsTest, CampaignCommandsFollowTheOneRuleAndSayWhy) {
    // Situation: a campaign added twice while the data folder's language is
    // missing from the file, then listed without any language file.
    // Expected: the refusal reads "UNDEFINED" in place of its text, the type
    // and scheduling columns read "UNDEFINED" (not English), the script
    // field STATE stays "enabled"; each command warns once on its own.
    SetLanguage("Klingon");
    auto [first, quiet] = Add(m_lang, "Shop");
    ASSERT_EQ(first.Status, 0) << first.Err;
    EXPECT_EQ(quiet, "");
    auto [again, warned] = Add(m_lang, "SHOP");
    EXPECT_EQ(again.Status, 1);
    EXPECT_EQ(again.Err, "kavrictl: UNDEFINED\n");
    EXPECT_NE(warned.find("has no language \"Klingon\""), std::string::npos) << warned;

    std::FILE* warnings = std::tmpfile();
    Outcome listed;
    {
        const OperatorTexts texts = CommandTexts(m_data, m_temp.Path() + "gone.lang", warnings);
        listed = test::Capture([&](std::FILE* out, std::FILE* err) {
            CampaignCommands commands(m_data, m_clock, DateFormat::Iso(), texts.Lookup(), out, err);
            return commands.List(texts.Titles(kCampaignListTitles));
        });
    }
    EXPECT_EQ(listed.Status, 0) << listed.Err;
    EXPECT_EQ(listed.Out,
              "UNDEFINED\tUNDEFINED\tUNDEFINED\tUNDEFINED\n"
              "Shop\tUNDEFINED\tenabled\tUNDEFINED\n");
    EXPECT_EQ(test::Drain(warnings), "kavrictl: warning: there is no language file at " +
                                         m_temp.Path() + "gone.lang" +
                                         "; such texts show as UNDEFINED\n");
}

}  // namespace
}  // namespace kavri::cli
