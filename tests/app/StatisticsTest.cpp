#include "app/Statistics.h"

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/AppTestFolder.h"
#include "app/CampaignStore.h"
#include "app/IniFile.h"

namespace kavri {
namespace {

using test::At;

class StatisticsTest : public ::testing::Test {
protected:
    // A campaign in the list with its record; returns its folder.
    std::string AddCampaign(const std::string& name, bool enabled = true) {
        std::string error;
        EXPECT_TRUE(
            test::Done(m_store.Campaigns().Add(DataFolder::CampaignFolderName(name)), error))
            << error;
        const std::string folder = m_store.CampaignFolder(name);
        std::filesystem::create_directories(folder);
        EXPECT_TRUE(m_store.OpenRecord(name)->WriteValues(
            "SETTINGS", {{"Name", name}, {"Enabled", enabled ? "1" : "0"}}));
        return folder;
    }
    void Record(const std::string& folder, const std::string& file, const std::string& address,
                const std::string& dateTime) {
        IniFile records(folder + file, DateFormat::Iso());
        EXPECT_TRUE(records.WriteValues(
            address, {{"Name", "Phone"}, {"COD", "Phone"}, {"DateTime", dateTime}}));
    }

    // The rows of a count that must succeed.
    std::vector<CampaignStatistics> Count(const StatisticsRange& range) const {
        std::vector<CampaignStatistics> rows;
        std::string error;
        EXPECT_TRUE(test::Done(CountDecisions(m_store, range, rows), error)) << error;
        return rows;
    }

    test::TempFolder m_temp;
    CampaignStore m_store{DataFolder::Open(m_temp.Path() + "data"), DateFormat::Iso()};
};

TEST_F(StatisticsTest, RangeCoversWholeDaysFromMidnightTo235959) {
    const StatisticsRange range = DayRange(At(2026, 12, 7, 15, 30), At(2026, 12, 8, 9));
    EXPECT_EQ(range.From, At(2026, 12, 7));
    EXPECT_EQ(range.Until, At(2026, 12, 8, 23, 59, 59));
    // The half second after 23:59:59 lies outside.
    EXPECT_LT(range.Until, At(2026, 12, 8, 23, 59, 59, 500));
}

TEST_F(StatisticsTest, ToDateBeforeFromDateMovesForwardToIt) {
    const StatisticsRange range = DayRange(At(2026, 12, 9), At(2026, 12, 1));
    EXPECT_EQ(range.From, At(2026, 12, 9));
    EXPECT_EQ(range.Until, At(2026, 12, 9, 23, 59, 59));
}

TEST_F(StatisticsTest, CountsRecordsOnTheBoundariesAndNotBeyond) {
    const std::string folder = AddCampaign("Sale");
    Record(folder, "accepted.dat", "(00:00:00:00:00:01)", "2026-12-07 00:00:00");  // in
    Record(folder, "accepted.dat", "(00:00:00:00:00:02)", "2026-12-06 23:59:59");  // before
    Record(folder, "accepted.dat", "(00:00:00:00:00:03)", "2026-12-08 23:59:59");  // in
    Record(folder, "accepted.dat", "(00:00:00:00:00:04)", "2026-12-09 00:00:00");  // after
    Record(folder, "rejected.dat", "(00:00:00:00:00:05)", "2026-12-08 12:00:00");  // in
    Record(folder, "rejected.dat", "(00:00:00:00:00:06)", "2026-12-10 12:00:00");  // after
    // A record without a date reads as 1899 and is never in a current range.
    IniFile rejected(folder + "rejected.dat", DateFormat::Iso());
    ASSERT_TRUE(rejected.WriteString("(00:00:00:00:00:07)", "Name", "Old"));

    const std::vector<CampaignStatistics> rows = Count(DayRange(At(2026, 12, 7), At(2026, 12, 8)));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].Name, "Sale");
    EXPECT_EQ(rows[0].Accepted, 2);
    EXPECT_EQ(rows[0].Rejected, 1);
    EXPECT_EQ(rows[0].Total, 3);
}

TEST_F(StatisticsTest, ListsEveryCampaignInListOrderIncludingDisabledAndEmptyOnes) {
    const std::string zulu = AddCampaign("Zulu", false);
    AddCampaign("Alpha");  // no device files at all
    const std::string mike = AddCampaign("Mike");
    Record(zulu, "accepted.dat", "(A)", "2026-12-07 10:00:00");
    Record(mike, "rejected.dat", "(B)", "2026-12-07 10:00:00");
    Record(mike, "rejected.dat", "(C)", "2026-12-07 11:00:00");

    const std::vector<CampaignStatistics> rows = Count(DayRange(At(2026, 12, 7), At(2026, 12, 7)));
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].Name, "Zulu");
    EXPECT_EQ(rows[0].Accepted, 1);
    EXPECT_EQ(rows[1].Name, "Alpha");
    EXPECT_EQ(rows[1].Accepted + rows[1].Rejected + rows[1].Total, 0);
    EXPECT_EQ(rows[2].Name, "Mike");
    EXPECT_EQ(rows[2].Rejected, 2);
    EXPECT_EQ(rows[2].Total, 2);
}

TEST_F(StatisticsTest, AnUnreadableDeviceFileFailsTheCountInsteadOfCountingZero) {
    // "rejected.dat" of the second campaign is a folder, so it cannot be read.
    // Expected: the count fails and names that file; no row claims 0 refusals.
    const std::string first = AddCampaign("First");
    const std::string second = AddCampaign("Second");
    Record(first, "accepted.dat", "(00:00:00:00:00:01)", "2026-12-07 10:00:00");
    std::filesystem::create_directory(second + "rejected.dat");
    std::vector<CampaignStatistics> rows;
    std::string error;
    EXPECT_FALSE(test::Done(
        CountDecisions(m_store, DayRange(At(2026, 12, 7), At(2026, 12, 7)), rows), error));
    EXPECT_NE(error.find(second + "rejected.dat"), std::string::npos) << error;
}

TEST_F(StatisticsTest, RedemptionsCountByTheDateTheDeviceAccepted) {
    // Four devices accepted on 6, 7, 7 and 8 December; the ones of the 6th and
    // of one 7th were redeemed on the 7th, the one of the 8th on the 9th. The
    // range is 7 to 8 December. Expected: the redemption of the 6th stays out
    // (its acceptance lies before the range), the one redeemed after the range
    // counts (its acceptance lies in it): 2 redeemed of 3 accepted, 66.7 %.
    const std::string folder = AddCampaign("Xmas");
    IniFile accepted(folder + "accepted.dat", DateFormat::Iso());
    auto redeemed = [&](const std::string& address, const std::string& acceptedAt,
                        const std::string& redeemedAt) {
        Record(folder, "accepted.dat", address, acceptedAt);
        if (!redeemedAt.empty()) {
            EXPECT_TRUE(accepted.WriteValues(
                address, {{"Redeemed", redeemedAt}, {"RedeemedCoupon", "XMAS10"}}));
        }
    };
    redeemed("(00:00:00:00:00:01)", "2026-12-06 12:00:00", "2026-12-07 09:00:00");
    redeemed("(00:00:00:00:00:02)", "2026-12-07 12:00:00", "2026-12-07 13:00:00");
    redeemed("(00:00:00:00:00:03)", "2026-12-07 12:30:00", "");
    redeemed("(00:00:00:00:00:04)", "2026-12-08 23:59:59", "2026-12-09 10:00:00");

    const std::vector<CampaignStatistics> rows = Count(DayRange(At(2026, 12, 7), At(2026, 12, 8)));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].Accepted, 3);
    EXPECT_EQ(rows[0].Redeemed, 2);
    EXPECT_EQ(rows[0].Total, 3);
    EXPECT_EQ(RedemptionRateText(rows[0]), "66.7");

    // The 9th alone: nothing accepted, so no rate, although a redemption
    // happened that day.
    const std::vector<CampaignStatistics> ninth = Count(DayRange(At(2026, 12, 9), At(2026, 12, 9)));
    EXPECT_EQ(ninth[0].Redeemed, 0);
    EXPECT_EQ(RedemptionRateText(ninth[0]), "");
}

TEST_F(StatisticsTest, AFolderWithoutRedemptionsCountsAsBeforeWithNoneRedeemed) {
    // Records as written before redemptions were kept, a closed coupon among
    // them (its "Coupon" entry simply gone). Expected: the old counts, and
    // nothing redeemed.
    const std::string folder = AddCampaign("Sale");
    Record(folder, "accepted.dat", "(00:00:00:00:00:01)", "2026-12-07 10:00:00");
    Record(folder, "accepted.dat", "(00:00:00:00:00:02)", "2026-12-07 11:00:00");
    Record(folder, "rejected.dat", "(00:00:00:00:00:03)", "2026-12-07 12:00:00");
    const std::vector<CampaignStatistics> rows = Count(DayRange(At(2026, 12, 7), At(2026, 12, 7)));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].Accepted, 2);
    EXPECT_EQ(rows[0].Rejected, 1);
    EXPECT_EQ(rows[0].Total, 3);
    EXPECT_EQ(rows[0].Redeemed, 0);
    EXPECT_EQ(RedemptionRateText(rows[0]), "0.0");
}

TEST(RedemptionRateTextTest, RoundsToTenthsOfAPercentHalfUp) {
    struct Case {
        std::int64_t Accepted;
        std::int64_t Redeemed;
        const char* Text;
    };
    const Case cases[] = {
        {0, 0, ""},           {1, 0, "0.0"},
        {1, 1, "100.0"},      {3, 1, "33.3"},
        {3, 2, "66.7"},       {8, 1, "12.5"},
        {2000, 1, "0.1"},     {2001, 1, "0.0"},
        {1999, 1998, "99.9"}, {100000, 99999, "100.0"},
    };
    for (const Case& c : cases) {
        CampaignStatistics row;
        row.Accepted = c.Accepted;
        row.Redeemed = c.Redeemed;
        EXPECT_EQ(RedemptionRateText(row), c.Text) << c.Redeemed << " of " << c.Accepted;
    }
}

}  // namespace
}  // namespace kavri
