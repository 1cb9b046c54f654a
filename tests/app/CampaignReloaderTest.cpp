#include "app/CampaignReloader.h"

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include "AppTestFolder.h"
#include "app/CampaignStore.h"
#include "app/CampaignTable.h"
#include "app/DateTimeClock.h"
#include "app/IniFile.h"

namespace kavri {
namespace {

using test::At;

// A running sender's store, table and reloader, and what another process
// (kavrictl, the window) does to the same data folder meanwhile.
class CampaignReloaderTest : public ::testing::Test {
protected:
    CampaignReloaderTest() {
        m_table.OnSelecting = [this] { m_reloader.Update(); };
    }

    // What `kavrictl campaign add` leaves: a continuous record and a list line.
    void AddElsewhere(const std::string& name) {
        CampaignStore other(DataFolder::Open(m_data), DateFormat::Iso());
        const std::string folder = other.CampaignFolder(name);
        std::filesystem::create_directory(folder);
        IniFile record(folder + "settings.dat", DateFormat::Iso());
        ASSERT_TRUE(record.WriteValues(
            "SETTINGS", {{"Name", name}, {"Type", "0"}, {"Scheduling", "0"}, {"Enabled", "1"}}));
        std::string error;
        ASSERT_TRUE(other.Campaigns().Add(DataFolder::CampaignFolderName(name), error)) << error;
    }
    void RemoveElsewhere(const std::string& name) {
        CampaignStore other(DataFolder::Open(m_data), DateFormat::Iso());
        std::string error;
        ASSERT_TRUE(test::Done(other.DeleteCampaign(name), error)) << error;
    }
    void SetEnabledElsewhere(const std::string& name, bool enabled) {
        IniFile record(m_store.CampaignFolder(name) + "settings.dat", DateFormat::Iso());
        ASSERT_TRUE(record.WriteString("SETTINGS", "Enabled", enabled ? "1" : "0"));
    }
    std::string RecordPath(const std::string& name) const {
        return m_store.CampaignFolder(name) + "settings.dat";
    }

    test::TempFolder m_temp;
    std::string m_data = m_temp.Path() + "data";
    CampaignStore m_store{DataFolder::Open(m_data), DateFormat::Iso()};
    ManualDateTimeClock m_clock{At(2026, 12, 9, 12)};
    CampaignTable m_table{m_store, m_clock, nullptr};
    CampaignReloader m_reloader{m_store, m_table};
};

TEST_F(CampaignReloaderTest, EachSelectionFollowsWhatAnotherProcessChanged) {
    // Situation: the sender sends "Spring"; between cycles another process
    // disables it and adds "Summer", then removes "Summer".
    // Expected: the next cycle sends "Summer" (the disabled one is never
    // picked again), the one after finds nothing to send.
    AddElsewhere("Spring");
    EXPECT_EQ(m_table.SelectActiveCampaign(), "Spring");
    SetEnabledElsewhere("Spring", false);
    AddElsewhere("Summer");
    EXPECT_EQ(m_table.SelectActiveCampaign(), "Summer");
    EXPECT_EQ(m_table.SelectActiveCampaign(), "Summer");
    RemoveElsewhere("Summer");
    EXPECT_EQ(m_table.SelectActiveCampaign(), "");
    ASSERT_EQ(m_table.Rows().size(), 1u);
    EXPECT_EQ(m_table.Rows()[0].State, csDisabled);
    SetEnabledElsewhere("Spring", true);
    EXPECT_EQ(m_table.SelectActiveCampaign(), "Spring");
}

TEST_F(CampaignReloaderTest, RebuildsOnlyWhenAFileChanged) {
    // Situation: updates with nothing changed, then a record edited in place
    // to a text of the same length with a new modification time, then a list
    // line appended in place.
    // Expected: the first update and those after a change rebuild; the
    // others do not; the rows show the edit.
    AddElsewhere("Spring");
    EXPECT_TRUE(m_reloader.Update());
    EXPECT_FALSE(m_reloader.Update());
    EXPECT_FALSE(m_reloader.Update());

    const std::string record = RecordPath("Spring");
    std::string text = test::Slurp(record);
    const std::size_t at = text.find("Enabled=1");
    ASSERT_NE(at, std::string::npos);
    text[at + 8] = '0';
    test::Spill(record, text);
    const timespec later[2] = {{4'000'000'000, 0}, {4'000'000'000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, record.c_str(), later, 0), 0);
    EXPECT_TRUE(m_reloader.Update());
    ASSERT_EQ(m_table.Rows().size(), 1u);
    EXPECT_EQ(m_table.Rows()[0].State, csDisabled);
    EXPECT_FALSE(m_reloader.Update());

    std::filesystem::create_directory(m_store.CampaignFolder("Autumn"));
    test::Spill(m_store.Folder().CampaignsFile(), "SPRING\r\nAUTUMN\r\n");
    EXPECT_TRUE(m_reloader.Update());
    ASSERT_EQ(m_table.Rows().size(), 2u);
    EXPECT_EQ(m_table.Rows()[1].FolderName, "AUTUMN");
}

TEST_F(CampaignReloaderTest, AListThatCannotBeReadSendsNothingUntilItCanAgain) {
    // Situation: while sending "Spring", the campaign list is replaced by
    // something that cannot be read, later by the list again.
    // Expected: no campaign while it cannot be read, the reason at hand;
    // "Spring" again afterwards.
    AddElsewhere("Spring");
    EXPECT_EQ(m_table.SelectActiveCampaign(), "Spring");
    const std::string list = m_store.Folder().CampaignsFile();
    std::filesystem::remove(list);
    std::filesystem::create_directory(list);
    EXPECT_EQ(m_table.SelectActiveCampaign(), "");
    EXPECT_TRUE(m_table.Rows().empty());
    EXPECT_NE(m_store.Campaigns().LoadError(), "");
    std::filesystem::remove(list);
    test::Spill(list, "SPRING\r\n");
    EXPECT_EQ(m_table.SelectActiveCampaign(), "Spring");
    EXPECT_EQ(m_store.Campaigns().LoadError(), "");
}

}  // namespace
}  // namespace kavri
