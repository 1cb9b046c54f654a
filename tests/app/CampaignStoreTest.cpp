#include "app/CampaignStore.h"

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "AppTestFolder.h"

namespace kavri {
namespace {

namespace fs = std::filesystem;
using test::Slurp;
using test::Spill;

class CampaignStoreTest : public ::testing::Test {
protected:
    CampaignStoreTest() {
        fs::create_directory(m_outside);
        Spill(m_outside + "precious.txt", "keep me");
    }

    // A listed campaign folder with a record and device files.
    std::string Add(const std::string& folderName) {
        const std::string folder = m_data + folderName + "/";
        fs::create_directory(folder);
        Spill(folder + "settings.dat", "[SETTINGS]\r\nName=" + folderName + "\r\n");
        Spill(folder + "accepted.dat", "a");
        Spill(folder + "offer.mp3", "content");
        std::string error;
        EXPECT_TRUE(m_store.Campaigns().Add(folderName, error)) << error;
        return folder;
    }

    test::TempFolder m_temp;
    std::string m_data = m_temp.Path() + "data/";
    std::string m_outside = m_temp.Path() + "outside/";
    CampaignStore m_store{DataFolder::Open(m_data), DateFormat::Iso()};
};

TEST_F(CampaignStoreTest, DeleteRemovesFolderAndListLine) {
    // Situation: campaigns A and B; A is deleted by its display name in
    // another case. Expected: A's folder and line are gone, B is untouched.
    const std::string a = Add("A");
    const std::string b = Add("B");
    std::string error;
    ASSERT_TRUE(test::Done(m_store.DeleteCampaign("a"), error)) << error;
    EXPECT_FALSE(fs::exists(a));
    EXPECT_EQ(Slurp(m_data + "campaigns.dat"), "B\r\n");
    EXPECT_EQ(Slurp(b + "offer.mp3"), "content");
}

TEST_F(CampaignStoreTest, DeleteStaysInsideTheCampaignFolder) {
    // Situation: the campaign folder holds a subfolder and a link to a file
    // outside; another campaign's folder is a link to a folder outside.
    // Expected: files and the link go, the subfolder (and so the folder) stays;
    // for the linked campaign only the link goes; nothing outside is touched.
    const std::string a = Add("A");
    fs::create_directory(a + "sub");
    Spill(a + "sub/inner.txt", "inner");
    fs::create_symlink(m_outside + "precious.txt", a + "link.txt");
    std::string error;
    ASSERT_TRUE(test::Done(m_store.DeleteCampaign("A"), error)) << error;
    EXPECT_EQ(Slurp(a + "sub/inner.txt"), "inner");
    EXPECT_FALSE(fs::exists(a + "offer.mp3"));
    EXPECT_FALSE(fs::is_symlink(a + "link.txt"));

    fs::create_directory_symlink(m_outside, m_data + "LINKED");
    ASSERT_TRUE(m_store.Campaigns().Add("LINKED", error));
    ASSERT_TRUE(test::Done(m_store.DeleteCampaign("Linked"), error)) << error;
    EXPECT_FALSE(fs::exists(m_data + "LINKED"));
    EXPECT_EQ(Slurp(m_outside + "precious.txt"), "keep me");
    EXPECT_TRUE(m_store.Campaigns().Names().empty());
}

TEST_F(CampaignStoreTest, DeleteRefusesNamesOutsideTheListOrTheDataFolder) {
    // Situation: names that lead out of the data folder, and a folder that
    // exists but is not listed. Expected: refused, the whole tree unchanged.
    Add("A");
    fs::create_directory(m_data + "STRAY");
    const auto before = test::Tree(m_temp.Path());
    for (const char* name : {"../outside", "..", "", "A/../..", "Stray"}) {
        std::string error;
        EXPECT_FALSE(test::Done(m_store.DeleteCampaign(name), error)) << name;
        EXPECT_NE(error, "") << name;
    }
    EXPECT_EQ(test::Tree(m_temp.Path()), before);
}

TEST_F(CampaignStoreTest, ReadRecordGivesDefaultsForMissingOrUnusableNames) {
    // Situation: a record read by folder name, by a missing name, by a path.
    // Expected: the stored name; empty defaults for the others.
    Add("A");
    EXPECT_EQ(m_store.ReadRecord("a").Name, "A");
    EXPECT_EQ(m_store.ReadRecord("Missing").Type, -1);
    EXPECT_EQ(m_store.ReadRecord("../data/A").Name, "");
}

}  // namespace
}  // namespace kavri
