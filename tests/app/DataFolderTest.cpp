#include "app/DataFolder.h"

#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "AppTestFolder.h"

namespace kavri {
namespace {

DataFolder::Environment Env(std::map<std::string, std::string> values) {
    return [values = std::move(values)](std::string_view name) -> std::optional<std::string> {
        const auto found = values.find(std::string(name));
        if (found == values.end()) {
            return std::nullopt;
        }
        return found->second;
    };
}

TEST(DataFolderTest, DefaultPathFollowsTheVariablesInTheirOrder) {
    // Situation: each combination of KAVRI_DATA_DIR, XDG_DATA_HOME and HOME.
    // Expected: the first usable one wins; empty values and a relative
    // XDG_DATA_HOME count as unset; the path always ends in a separator.
    struct Case {
        std::map<std::string, std::string> Values;
        std::string Path;
    };
    const Case cases[] = {
        {{{"KAVRI_DATA_DIR", "/k"}, {"XDG_DATA_HOME", "/x"}, {"HOME", "/h"}}, "/k/"},
        {{{"KAVRI_DATA_DIR", "/k/"}}, "/k/"},
        {{{"KAVRI_DATA_DIR", ""}, {"XDG_DATA_HOME", "/x"}, {"HOME", "/h"}}, "/x/kavri/"},
        {{{"XDG_DATA_HOME", "relative"}, {"HOME", "/h"}}, "/h/.local/share/kavri/"},
        {{{"XDG_DATA_HOME", ""}, {"HOME", "/h/"}}, "/h/.local/share/kavri/"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DataFolder::DefaultPath(Env(c.Values)), c.Path) << c.Path;
    }
}

TEST(DataFolderTest, OpenCreatesPrivateFoldersAndNamesTheFiles) {
    // Situation: a data folder two levels below an existing folder.
    // Expected: both levels made with mode 0700, the path with a separator, the
    // file names beneath it; opening again finds it.
    test::TempFolder temp;
    const std::string wanted = temp.Path() + "share/kavri";
    const DataFolder folder = DataFolder::Open({}, Env({{"KAVRI_DATA_DIR", wanted}}));
    EXPECT_EQ(folder.Path(), wanted + "/");
    for (const std::string& made : {temp.Path() + "share", wanted}) {
        struct stat st {};
        ASSERT_EQ(::stat(made.c_str(), &st), 0) << made;
        EXPECT_EQ(st.st_mode & 0777, 0700u) << made;
    }
    EXPECT_EQ(folder.SettingsFile(), wanted + "/settings.dat");
    EXPECT_EQ(folder.CampaignsFile(), wanted + "/campaigns.dat");
    EXPECT_EQ(folder.BlackListFile(), wanted + "/bl.dat");
    EXPECT_EQ(folder.CampaignFolder("Summer sale"), wanted + "/SUMMER SALE/");
    EXPECT_EQ(DataFolder::Open(wanted + "/").Path(), wanted + "/");
}

TEST(DataFolderTest, OpenMakesARelativeFolderAbsoluteAndRefusesAFile) {
    // Situation: a relative folder; a path that is a file.
    // Expected: the absolute path; an exception naming the path.
    test::TempFolder temp;
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(temp.Path());
    const std::string path = DataFolder::Open("rel").Path();
    std::filesystem::current_path(previous);
    EXPECT_EQ(path, std::filesystem::canonical(temp.Path()).string() + "/rel/");

    test::Spill(temp.Path() + "file", "x");
    try {
        DataFolder::Open(temp.Path() + "file");
        ADD_FAILURE() << "a file was taken as the data folder";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find(temp.Path() + "file"), std::string::npos);
    }
}

TEST(DataFolderTest, CampaignFolderNamesUpperCaseAsciiOnly) {
    // Situation: names with ASCII and other letters.
    // Expected: a-z upper-cased, every other byte kept, so the length in bytes
    // and the UTF-8 stay; comparison ignores ASCII case only.
    EXPECT_EQ(DataFolder::CampaignFolderName("Summer sale 2026!"), "SUMMER SALE 2026!");
    EXPECT_EQ(DataFolder::CampaignFolderName("\xC3\xA9t\xC3\xA9 \xC3\x9C"),
              "\xC3\xA9T\xC3\xA9 \xC3\x9C");
    EXPECT_TRUE(DataFolder::SameCampaignName("Summer SALE", "SUMMER sale"));
    EXPECT_FALSE(DataFolder::SameCampaignName("\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89"));
    EXPECT_FALSE(DataFolder::SameCampaignName("A", "AB"));
}

TEST(DataFolderTest, NameRefusalKeepsNamesToOneEntryOfAFolder) {
    // Situation: names that are fine and names that are no single entry.
    // Expected: the first accepted, each of the others refused with a reason.
    for (const std::string& good :
         {std::string("Summer sale"), std::string(".hidden"), std::string("a..b"),
          std::string(255, 'x'), std::string("caf\xC3\xA9 \xE2\x82\xAC")}) {
        EXPECT_EQ(DataFolder::NameRefusal(good), "") << good;
    }
    for (const std::string& bad :
         {std::string(), std::string("."), std::string(".."), std::string("a/b"),
          std::string("/abs"), std::string("a\\b"), std::string("a\tb"), std::string("a\rb"),
          std::string("a\x7F"), std::string("a\xC2\x80"), std::string("a\xC2\x9F"),
          std::string("\xFF"), std::string("\xC0\xAF"), std::string(256, 'x'), std::string(" a"),
          std::string("a "), std::string("   ")}) {
        EXPECT_NE(DataFolder::NameRefusal(bad), "") << bad;
    }
}

}  // namespace
}  // namespace kavri
