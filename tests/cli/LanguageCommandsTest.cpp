#include "cli/LanguageCommands.h"

#include <cstdio>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "CliTestSupport.h"

#include "app/AppSettings.h"
#include "app/AppTestFolder.h"

namespace kavri::cli {
namespace {

using test::Outcome;

class LanguageCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::Spill(m_lang, "[English]\r\nOK=&OK\r\n[German]\r\nOK=&OK\r\n[Empty]\r\n");
    }
    Outcome List(const std::string& langFile) {
        return test::Capture([&](std::FILE* out, std::FILE* err) {
            return ListLanguagesCommand(m_data, langFile, out, err);
        });
    }
    Outcome Set(const std::string& langFile, const std::string& name) {
        return test::Capture([&](std::FILE* out, std::FILE* err) {
            return SetLanguageCommand(m_data, langFile, name, out, err);
        });
    }
    std::string Language() { return AppSettings(m_data + "settings.dat").Language(); }

    test::TempFolder m_temp;
    std::string m_data = m_temp.Path() + "data/";
    // The commands that only read need the folder to exist.
    bool m_made = std::filesystem::create_directories(m_data);
    std::string m_lang = m_temp.Path() + "kavri.lang";
};

TEST_F(LanguageCommandsTest, ListMarksTheCurrentLanguageAndSetChangesIt) {
    Outcome outcome = List(m_lang);
    EXPECT_EQ(outcome.Status, 0) << outcome.Err;
    EXPECT_EQ(outcome.Out, "English\t*\nGerman\n");

    outcome = Set(m_lang, "GERMAN");
    EXPECT_EQ(outcome.Status, 0) << outcome.Err;
    EXPECT_EQ(outcome.Out, "");
    EXPECT_EQ(Language(), "German");
    EXPECT_EQ(List(m_lang).Out, "English\nGerman\t*\n");
}

TEST_F(LanguageCommandsTest, SetRefusesWhatIsNoLanguageAndKeepsTheSetting) {
    ASSERT_EQ(Set(m_lang, "German").Status, 0);
    for (const std::string name : {"French", "Empty", "", "Germ"}) {
        const Outcome outcome = Set(m_lang, name);
        EXPECT_EQ(outcome.Status, 1) << name;
        EXPECT_NE(outcome.Err.find("English, German"), std::string::npos) << outcome.Err;
        EXPECT_EQ(Language(), "German") << name;
    }
}

TEST_F(LanguageCommandsTest, AMissingLanguageFileIsAnError) {
    const std::string missing = m_temp.Path() + "none.lang";
    Outcome outcome = List(missing);
    EXPECT_EQ(outcome.Status, 1);
    EXPECT_EQ(outcome.Out, "");
    EXPECT_NE(outcome.Err.find("no language file"), std::string::npos) << outcome.Err;
    outcome = Set(missing, "English");
    EXPECT_EQ(outcome.Status, 1);
    EXPECT_EQ(Language(), "English");
}

}  // namespace
}  // namespace kavri::cli
