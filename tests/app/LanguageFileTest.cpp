#include "app/LanguageFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "app/AppTestFolder.h"
#include "app/IniFile.h"
#include "app/ShippedTexts.h"

namespace kavri {
namespace {

namespace fs = std::filesystem;

const fs::path kShippedFile = test::ShippedLanguageFile();

class LanguageFileTest : public ::testing::Test {
protected:
    void Write(const std::string& text) { test::Spill(m_path, text); }

    test::TempFolder m_temp;
    fs::path m_folder = m_temp.Path();
    std::string m_path = m_temp.Path() + "kavri.lang";
    std::string m_language = "English";
};

TEST(ShippedLanguageFile, EveryLanguageHoldsTheSameKeysAsEnglish) {
    ASSERT_TRUE(fs::is_regular_file(kShippedFile)) << kShippedFile;
    IniFile file(kShippedFile.string());
    const std::vector<std::string> languages = file.ReadSections();
    ASSERT_EQ(languages, (std::vector<std::string>{"English", "German"}));

    std::vector<std::string> english = file.ReadSection("English");
    std::sort(english.begin(), english.end());
    // Keys of the main window, the dialogs and the editors, spot-checked.
    for (const char* key : {"Main_Black_List_Device_Hint", "Day_Of_Weeek_Based", "Remover",
                            "CouponBased_EnableCoupon", "Settings_RunOnWindowsStartup"}) {
        EXPECT_TRUE(std::binary_search(english.begin(), english.end(), key)) << key;
    }
    EXPECT_GE(english.size(), 120U);
    for (const std::string& language : languages) {
        std::vector<std::string> keys = file.ReadSection(language);
        std::sort(keys.begin(), keys.end());
        EXPECT_EQ(keys, english) << language;
        for (const auto& [key, text] : file.ReadSectionValues(language)) {
            EXPECT_FALSE(text.empty()) << language << " " << key;
        }
    }
    // CR LF line ends throughout.
    const std::string bytes = test::Slurp(kShippedFile.string());
    const auto lineFeeds = std::count(bytes.begin(), bytes.end(), '\n');
    std::size_t pairs = 0;
    for (std::size_t i = 1; i < bytes.size(); ++i) {
        pairs += bytes[i] == '\n' && bytes[i - 1] == '\r' ? 1 : 0;
    }
    EXPECT_EQ(static_cast<std::size_t>(lineFeeds), pairs);
}

TEST_F(LanguageFileTest, LooksUpTheCurrentLanguageAndSaysUndefinedForWhatIsMissing) {
    Write("[English]\r\nOK=&OK\r\nCancel=&Cancel\r\n[German]\r\nOK=&OK\r\n");
    LanguageFile file(m_path, [this] { return m_language; });
    EXPECT_EQ(file.GetLanguageString("Cancel"), "&Cancel");
    EXPECT_EQ(file.GetLanguageString("cancel"), "&Cancel");

    m_language = "German";
    EXPECT_EQ(file.GetLanguageString("OK"), "&OK");
    // The German section lacks this one key: only it is undefined.
    EXPECT_EQ(file.GetLanguageString("Cancel"), kUndefinedText);
    EXPECT_EQ(file.Lookup()("Cancel"), kUndefinedText);

    m_language = "French";
    EXPECT_EQ(file.GetLanguageString("OK"), kUndefinedText);
    m_language.clear();
    EXPECT_EQ(file.GetLanguageString("OK"), kUndefinedText);
}

TEST_F(LanguageFileTest, WithoutAFileEverythingIsUndefinedAndNoLanguageIsListed) {
    LanguageFile file(m_path, [this] { return m_language; });
    EXPECT_EQ(file.GetLanguageString("OK"), kUndefinedText);
    EXPECT_TRUE(file.ListLanguages().empty());
    EXPECT_EQ(file.FindLanguage("English"), "");
}

TEST_F(LanguageFileTest, SaysWhyATextIsUndefinedNamingTheFile) {
    // Situation: no file, a folder in its place, a file without the current
    // language, with it but without the key, with the key, and no language
    // chosen at all.
    // Expected: each reason names the file and what is missing; a text that
    // is there has no reason, also one that reads "UNDEFINED" itself.
    LanguageFile file(m_path, [this] { return m_language; });
    EXPECT_EQ(file.MissingTextReason("OK"), "there is no language file at " + m_path);

    fs::create_directory(m_path);
    EXPECT_EQ(file.MissingTextReason("OK"), "the language file " + m_path + " cannot be read");
    fs::remove(m_path);

    Write("[German]\r\nOK=Gut\r\n[English]\r\nOK=&OK\r\nOdd=UNDEFINED\r\n");
    EXPECT_EQ(file.MissingTextReason("OK"), "");
    EXPECT_EQ(file.MissingTextReason("ok"), "");
    EXPECT_EQ(file.MissingTextReason("Odd"), "");
    EXPECT_EQ(file.MissingTextReason("Cancel"),
              "the language file " + m_path + " has no text \"Cancel\" in \"English\"");
    m_language = "French";
    EXPECT_EQ(file.MissingTextReason("OK"),
              "the language file " + m_path + " has no language \"French\"");
    m_language.clear();
    EXPECT_EQ(file.MissingTextReason("OK"),
              "the language file " + m_path + " has no language \"\"");
}

TEST_F(LanguageFileTest, AnEditToTheFileIsSeenByTheNextLookup) {
    Write("[English]\r\nOK=&OK\r\n");
    LanguageFile file(m_path, [this] { return m_language; });
    const TextLookup lookup = file.Lookup();
    ASSERT_EQ(lookup("OK"), "&OK");
    ASSERT_EQ(lookup("Close"), kUndefinedText);

    // A different size, so the edit shows even within one timestamp tick.
    Write("[English]\r\nOK=Okay\r\nClose=Close\r\n[German]\r\nOK=Gut\r\n");
    EXPECT_EQ(lookup("OK"), "Okay");
    EXPECT_EQ(lookup("Close"), "Close");
    EXPECT_EQ(file.ListLanguages(), (std::vector<std::string>{"English", "German"}));

    fs::remove(m_path);
    EXPECT_EQ(lookup("OK"), kUndefinedText);
    EXPECT_TRUE(file.ListLanguages().empty());
}

TEST_F(LanguageFileTest, ListsLanguagesInFileOrderAndFindsThemRegardlessOfCase) {
    // An empty section is no language; a repeated name counts once.
    Write(
        "; texts\r\n[Zulu]\r\nOK=OK\r\n[Empty]\r\n[Deutsch]\r\nOK=OK\r\n[English]\r\nOK=OK\r\n"
        "[zulu]\r\nOK=later\r\n");
    LanguageFile file(m_path, [this] { return m_language; });
    EXPECT_EQ(file.ListLanguages(), (std::vector<std::string>{"Zulu", "Deutsch", "English"}));
    EXPECT_EQ(file.FindLanguage("DEUTSCH"), "Deutsch");
    EXPECT_EQ(file.FindLanguage("Deutschland"), "");
    EXPECT_EQ(file.FindLanguage("Empty"), "");
    m_language = "ZULU";
    EXPECT_EQ(file.GetLanguageString("OK"), "OK");
}

TEST_F(LanguageFileTest, LocateTakesAnExplicitPathElseTheSourceTreeCopy) {
    EXPECT_EQ(LanguageFile::Locate(m_path), m_path);
    // The test program has no language file beside it or in a share folder,
    // so the source tree is where it is found.
    const fs::path tree = m_folder / "tree";
    fs::create_directories(tree / "lang");
    test::Spill((tree / "lang" / "kavri.lang").string(), "[English]\r\nOK=OK\r\n");
    EXPECT_EQ(fs::path(LanguageFile::Locate({}, tree.string())), (tree / "lang" / "kavri.lang"));
    fs::remove(tree / "lang" / "kavri.lang");
    EXPECT_EQ(fs::path(LanguageFile::Locate({}, tree.string())).filename(), "kavri.lang");
    EXPECT_NE(fs::path(LanguageFile::Locate({}, tree.string())), (tree / "lang" / "kavri.lang"));
}

}  // namespace
}  // namespace kavri
