#include "app/DataFolder.h"

#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

TEST(DataFolderTest, CampaignFolderNamesUpperCaseTheWholeNameInUnicode) {
    // Situation: names with ASCII letters, accented, German, Greek and
    // Cyrillic letters, and a name that is not UTF-8.
    // Expected: every letter upper-cased by Unicode's full mappings, blanks
    // and punctuation kept; the bytes that are not UTF-8 kept as they are.
    const std::pair<const char*, const char*> cases[] = {
        {"Summer sale 2026!", "SUMMER SALE 2026!"},
        {"café", "CAFÉ"},
        {"été über", "ÉTÉ ÜBER"},
        {"Straße", "STRASSE"},
        {"σοφία", "ΣΟΦΊΑ"},
        {"распродажа", "РАСПРОДАЖА"},
        {"istanbul", "ISTANBUL"},
        {"caf\xE9 d\xE9j\xE0", "CAF\xE9 D\xE9J\xE0"},
    };
    for (const auto& [name, folder] : cases) {
        EXPECT_EQ(DataFolder::CampaignFolderName(name), folder) << name;
    }
}

TEST(DataFolderTest, CampaignNamesMatchInAnyUnicodeLetterCase) {
    // Situation: pairs of names that differ in letter case inside and outside
    // ASCII, an earlier version's ASCII-only folder name, and different names.
    // Expected: the same campaign exactly when they upper-case alike.
    EXPECT_TRUE(DataFolder::SameCampaignName("Summer SALE", "SUMMER sale"));
    EXPECT_TRUE(DataFolder::SameCampaignName("café", "CAFÉ"));
    EXPECT_TRUE(DataFolder::SameCampaignName("CAFé", "Café"));
    EXPECT_TRUE(DataFolder::SameCampaignName("Straße", "STRASSE"));
    EXPECT_TRUE(DataFolder::SameCampaignName("caf\xE9", "CAF\xE9"));
    EXPECT_FALSE(DataFolder::SameCampaignName("café", "cafe"));
    EXPECT_FALSE(DataFolder::SameCampaignName("A", "AB"));
    EXPECT_FALSE(DataFolder::SameCampaignName("caf\xE9", "CAF\xC9"));
}

TEST(DataFolderTest, AnEarlierVersionsAsciiOnlyFolderIsStillFound) {
    // Situation: a data folder holding "CAFé", the folder an earlier version
    // made for "café"; later a folder "CAFÉ" appears beside it.
    // Expected: "café" finds "CAFé" while it is the only one (and so does
    // "CAFÉ" given the list's line "CAFé"), then "CAFÉ"; a name without such a
    // folder, or with a list line of another campaign, gets the Unicode name.
    test::TempFolder temp;
    const DataFolder data = DataFolder::Open(temp.Path() + "data");
    EXPECT_EQ(data.ExistingCampaignFolderName("café"), "CAFÉ");
    std::filesystem::create_directory(data.Path() + "CAFé");
    EXPECT_EQ(data.ExistingCampaignFolderName("café"), "CAFé");
    EXPECT_EQ(data.CampaignFolder("Café"), data.Path() + "CAFé/");
    EXPECT_EQ(data.ExistingCampaignFolderName("CAFé"), "CAFé");
    EXPECT_EQ(data.ExistingCampaignFolderName("thé"), "THÉ");
    // Typed in upper case, the old folder is found through the list's line.
    EXPECT_EQ(data.ExistingCampaignFolderName("CAFÉ"), "CAFÉ");
    EXPECT_EQ(data.ExistingCampaignFolderName("CAFÉ", "CAFé"), "CAFé");
    std::filesystem::create_directory(data.Path() + "OTHER");
    EXPECT_EQ(data.ExistingCampaignFolderName("CAFÉ", "OTHER"), "CAFÉ");
    std::filesystem::create_directory(data.Path() + "CAFÉ");
    EXPECT_EQ(data.ExistingCampaignFolderName("CAFÉ", "CAFé"), "CAFÉ");
    EXPECT_EQ(data.CampaignFolder("café"), data.Path() + "CAFÉ/");
}

TEST(DataFolderTest, CheckNameKeepsNamesToOneEntryOfAFolder) {
    // Situation: names that are fine and names that are no single entry.
    // Expected: the first accepted, each of the others refused with a reason.
    for (const std::string& good :
         {std::string("Summer sale"), std::string(".hidden"), std::string("a..b"),
          std::string(255, 'x'), std::string("caf\xC3\xA9 \xE2\x82\xAC")}) {
        EXPECT_EQ(DataFolder::CheckName(good).Message, "") << good;
    }
    for (const std::string& bad :
         {std::string(), std::string("."), std::string(".."), std::string("a/b"),
          std::string("/abs"), std::string("a\\b"), std::string("a\tb"), std::string("a\rb"),
          std::string("a\x7F"), std::string("a\xC2\x80"), std::string("a\xC2\x9F"),
          std::string("\xFF"), std::string("\xC0\xAF"), std::string(256, 'x'), std::string(" a"),
          std::string("a "), std::string("   ")}) {
        EXPECT_NE(DataFolder::CheckName(bad).Message, "") << bad;
    }
}

TEST(DataFolderTest, OpenExistingCreatesNothingAndNamesAMissingFolder) {
    // Situation: a data folder two levels below an existing folder, missing;
    // then a file in its place; then the folder itself.
    // Expected: "does not exist" with the path and nothing made; "is not a
    // folder"; the path with its separator.
    test::TempFolder temp;
    const std::string wanted = temp.Path() + "a/b";
    try {
        DataFolder::OpenExisting(wanted);
        ADD_FAILURE() << "a missing folder was opened";
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(std::string(error.what()), "the data folder " + wanted + "/ does not exist");
    }
    EXPECT_FALSE(std::filesystem::exists(temp.Path() + "a"));
    test::Spill(temp.Path() + "file", "x");
    EXPECT_THROW(DataFolder::OpenExisting(temp.Path() + "file"), std::runtime_error);
    std::filesystem::create_directories(wanted);
    EXPECT_EQ(DataFolder::OpenExisting(wanted).Path(), wanted + "/");
}

TEST(DataFolderTest, AFolderTheUserMayOnlyReadOpensForReadingButNotForWriting) {
    // Situation: a data folder with mode 0555, opened by a process of a user
    // who owns it (as root, a child process becomes an unprivileged user,
    // since root may write anywhere).
    // Expected: OpenExisting succeeds; Open refuses with "cannot write into".
    test::TempFolder temp;
    const std::string data = temp.Path() + "data";
    std::filesystem::create_directory(data);
    const bool root = ::geteuid() == 0;
    constexpr uid_t kNobody = 65534;
    if (root) {
        ASSERT_EQ(::chmod(temp.Path().c_str(), 0755), 0);
        ASSERT_EQ(::chown(data.c_str(), kNobody, kNobody), 0);
    }
    ASSERT_EQ(::chmod(data.c_str(), 0555), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        if (root && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) {
            ::_exit(10);
        }
        try {
            DataFolder::OpenExisting(data);
        } catch (const std::runtime_error&) {
            ::_exit(11);
        }
        try {
            DataFolder::Open(data);
            ::_exit(12);
        } catch (const std::runtime_error& error) {
            ::_exit(std::string(error.what()).find("cannot write into") == 0 ? 0 : 13);
        }
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    ::chmod(data.c_str(), 0755);
}

}  // namespace
}  // namespace kavri
