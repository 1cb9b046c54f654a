#include "app/CampaignTable.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "AppTestFolder.h"
#include "app/CampaignStore.h"
#include "app/DateTimeClock.h"
#include "app/IniFile.h"

namespace kavri {
namespace {

using test::At;

class CampaignTableTest : public ::testing::Test {
protected:
    CampaignTableTest()
        : m_store(DataFolder::Open(m_temp.Path() + "data"), DateFormat::Iso()),
          m_clock(At(2026, 12, 9, 12)),
          m_table(m_store, m_clock,
                  [](std::string_view key) { return "<" + std::string(key) + ">"; }) {}

    // A campaign folder with its record and its line in the list.
    void Add(const std::string& name, bool enabled, int scheduling,
             std::vector<std::pair<std::string_view, std::string_view>> more = {}) {
        const std::string folder = m_store.CampaignFolder(name);
        std::filesystem::create_directory(folder);
        IniFile record(folder + "settings.dat", DateFormat::Iso());
        const std::string mode = std::to_string(scheduling);
        ASSERT_TRUE(record.WriteValues("SETTINGS", {{"Name", name},
                                                    {"Type", "0"},
                                                    {"Scheduling", mode},
                                                    {"Enabled", enabled ? "1" : "0"}}))
            << record.LastError();
        if (!more.empty()) {
            ASSERT_TRUE(record.WriteValues("SETTINGS", more)) << record.LastError();
        }
        std::string error;
        ASSERT_TRUE(m_store.Campaigns().Add(DataFolder::CampaignFolderName(name), error)) << error;
    }

    std::vector<std::string> Cycles(int count) {
        std::vector<std::string> chosen;
        for (int i = 0; i < count; ++i) {
            chosen.push_back(m_table.SelectActiveCampaign());
        }
        return chosen;
    }

    CampaignState StateOf(const std::string& name) const {
        for (const CampaignRow& row : m_table.Rows()) {
            if (row.Name == name) {
                return row.State;
            }
        }
        ADD_FAILURE() << "no row " << name;
        return csDisabled;
    }

    test::TempFolder m_temp;
    CampaignStore m_store;
    ManualDateTimeClock m_clock;
    CampaignTable m_table;
};

using Names = std::vector<std::string>;

TEST_F(CampaignTableTest, RowsCarryTextsTypesAndStates) {
    // Situation: an enabled continuous campaign, a disabled day-of-week coupon
    // campaign, a listed folder without a record and one with an unknown mode.
    // Expected: rows in list order with looked-up texts, "UNDEFINED" where the
    // record says nothing usable, and disabled where "Enabled" is not set.
    Add("Summer sale", true, 0);
    Add("Coupons", false, 2, {{"Type", "2"}});
    std::string error;
    ASSERT_TRUE(m_store.Campaigns().Add("GHOST", error));
    Add("Odd", true, 7, {{"Type", "9"}});
    m_table.RefreshCampaigns();

    const auto& rows = m_table.Rows();
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].FolderName, "SUMMER SALE");
    EXPECT_EQ(rows[0].Name, "Summer sale");
    EXPECT_EQ(rows[0].SchedulingText, "<Continuous>");
    EXPECT_EQ(rows[0].TypeText, "<FileBased>");
    EXPECT_EQ(rows[0].State, csEnabled);
    EXPECT_EQ(rows[1].SchedulingText, "<Day_Of_Weeek_Based>");
    EXPECT_EQ(rows[1].Type, 2);
    EXPECT_EQ(rows[1].TypeText, "<CouponBased>");
    EXPECT_EQ(rows[1].State, csDisabled);
    EXPECT_EQ(rows[2].Name, "UNDEFINED");
    EXPECT_EQ(rows[2].SchedulingText, "UNDEFINED");
    EXPECT_EQ(rows[2].Type, -1);
    EXPECT_EQ(rows[2].TypeText, "UNDEFINED");
    EXPECT_EQ(rows[2].State, csDisabled);
    EXPECT_EQ(rows[3].SchedulingText, "UNDEFINED");
    EXPECT_EQ(rows[3].TypeText, "UNDEFINED");
    EXPECT_EQ(m_table.SelectActiveCampaign(), "Summer sale") << "mode 7 is never active";
}

TEST_F(CampaignTableTest, TwoActiveCampaignsTakeTurns) {
    // Situation: A then B, both continuous and enabled. Expected: A, B, A, B.
    Add("A", true, 0);
    Add("B", true, 0);
    m_table.RefreshCampaigns();
    EXPECT_EQ(Cycles(4), (Names{"A", "B", "A", "B"}));
}

TEST_F(CampaignTableTest, InactiveCampaignsAreSkippedInTheRotation) {
    // Situation: A, B, C where only A and C are active now (B's window is over).
    // Expected: A, C, A, C; B is never chosen and the marks follow the choice.
    Add("A", true, 0);
    Add("B", true, 1, {{"StartDateTime", "2026-12-01"}, {"EndDateTime", "2026-12-08 23:59:59"}});
    Add("C", true, 0);
    m_table.RefreshCampaigns();
    EXPECT_EQ(m_table.SelectActiveCampaign(), "A");
    EXPECT_EQ(StateOf("A"), csActive);
    EXPECT_EQ(m_table.SelectActiveCampaign(), "C");
    EXPECT_EQ(StateOf("A"), csEnabled);
    EXPECT_EQ(StateOf("B"), csEnabled);
    EXPECT_EQ(StateOf("C"), csActive);
    EXPECT_EQ(Cycles(3), (Names{"A", "C", "A"}));
}

TEST_F(CampaignTableTest, SingleActiveCampaignIsSentInEveryCycle) {
    // Situation: one active campaign among inactive ones, including the last
    // row. Expected: it is chosen again and again (the second pass includes it).
    Add("Old", true, 1, {{"StartDateTime", "2020-01-01"}, {"EndDateTime", "2020-01-02"}});
    Add("Now", true, 0);
    Add("Off", false, 0);
    m_table.RefreshCampaigns();
    EXPECT_EQ(Cycles(3), (Names{"Now", "Now", "Now"}));
}

TEST_F(CampaignTableTest, NothingActiveLeavesTheActiveCampaignEmpty) {
    // Situation: an expired campaign and a disabled one whose schedule matches;
    // the previous cycle had chosen a campaign that has since expired.
    // Expected: no campaign is chosen and no row is marked active.
    Add("Expired", true, 1,
        {{"StartDateTime", "2026-12-01"}, {"EndDateTime", "2026-12-09 12:00:00"}});
    Add("Disabled", false, 0);
    m_table.RefreshCampaigns();
    EXPECT_EQ(m_table.SelectActiveCampaign(), "Expired") << "its end is this very instant";
    m_clock.Advance(std::chrono::milliseconds(999));
    EXPECT_EQ(m_table.SelectActiveCampaign(), "Expired") << "its end second is not over";
    m_clock.Advance(std::chrono::milliseconds(1));
    EXPECT_EQ(m_table.SelectActiveCampaign(), "");
    EXPECT_EQ(m_table.ActiveCampaignFolder(), "");
    for (const CampaignRow& row : m_table.Rows()) {
        EXPECT_NE(row.State, csActive) << row.Name;
    }
}

TEST_F(CampaignTableTest, CampaignsComeAndGoWithTheClock) {
    // Situation: a day-of-week campaign for Wednesday 12:00 to 13:00 and a
    // continuous one; the clock moves through the window.
    // Expected: they alternate inside the window, only the continuous one runs
    // after it.
    Add("Lunch", true, 2, {{"Wed", "1"}, {"StartTime", "12:00:00"}, {"EndTime", "13:00:00"}});
    Add("Always", true, 0);
    m_table.RefreshCampaigns();
    EXPECT_EQ(Cycles(2), (Names{"Lunch", "Always"}));
    m_clock.Set(At(2026, 12, 9, 13, 0, 1));
    EXPECT_EQ(Cycles(2), (Names{"Always", "Always"}));
}

TEST_F(CampaignTableTest, RefreshDuringACycleKeepsTheActiveMark) {
    // Situation: A was chosen; the list is rebuilt (an editor closed).
    // Expected: A's row is still marked active and the rotation goes on with B.
    Add("A", true, 0);
    Add("B", true, 0);
    m_table.RefreshCampaigns();
    EXPECT_EQ(m_table.SelectActiveCampaign(), "A");
    m_table.RefreshCampaigns();
    EXPECT_EQ(StateOf("A"), csActive);
    EXPECT_EQ(StateOf("B"), csEnabled);
    EXPECT_EQ(m_table.SelectActiveCampaign(), "B");
}

TEST_F(CampaignTableTest, AfterTheChosenCampaignIsDeletedSelectionStartsAtTheTop) {
    // Situation: A, B, C continuous; B is chosen, then deleted.
    // Expected: the next cycle starts from the first row and picks A.
    Add("A", true, 0);
    Add("B", true, 0);
    Add("C", true, 0);
    m_table.RefreshCampaigns();
    EXPECT_EQ(Cycles(2), (Names{"A", "B"}));
    std::string error;
    ASSERT_TRUE(test::Done(m_store.DeleteCampaign("B"), error)) << error;
    m_table.RefreshCampaigns();
    EXPECT_EQ(Cycles(3), (Names{"A", "C", "A"}));
}

TEST_F(CampaignTableTest, StoppingResetsMarksAndStartsOverAtTheTop) {
    // Situation: B was chosen; the sender stops (marks reset, name cleared).
    // Expected: no row stays active and the next start begins with A.
    Add("A", true, 0);
    Add("B", true, 0);
    m_table.RefreshCampaigns();
    EXPECT_EQ(Cycles(2), (Names{"A", "B"}));
    EXPECT_EQ(m_table.ActiveCampaignFolder(), m_store.Folder().Path() + "B/");
    m_table.ResetActiveMarks();
    m_table.ClearActiveCampaign();
    EXPECT_EQ(StateOf("B"), csEnabled);
    EXPECT_EQ(m_table.SelectActiveCampaign(), "A");
}

TEST_F(CampaignTableTest, RecordIsFoundAgainByItsDisplayName) {
    // Situation: a listed campaign whose record's "Name" was edited by hand to
    // another campaign's name, and one edited to a path. Expected: the first
    // runs on the other record's schedule; the second is never chosen.
    Add("Real", true, 1, {{"StartDateTime", "2020-01-01"}, {"EndDateTime", "2020-01-02"}});
    Add("Alias", true, 0);
    Add("Escape", true, 0);
    IniFile alias(m_store.CampaignFolder("Alias") + "settings.dat", DateFormat::Iso());
    ASSERT_TRUE(alias.WriteString("SETTINGS", "Name", "real"));
    IniFile escape(m_store.CampaignFolder("Escape") + "settings.dat", DateFormat::Iso());
    ASSERT_TRUE(escape.WriteString("SETTINGS", "Name", "../Alias"));
    m_table.RefreshCampaigns();
    EXPECT_EQ(m_table.SelectActiveCampaign(), "");
}

}  // namespace
}  // namespace kavri
