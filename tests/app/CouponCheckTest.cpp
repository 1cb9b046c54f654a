#include "app/CouponCheck.h"

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

const TDateTime kNow = At(2026, 12, 9, 14, 3, 5);

class CouponCheckTest : public ::testing::Test {
protected:
    std::string AddCampaign(const std::string& name) {
        std::string error;
        EXPECT_TRUE(
            test::Done(m_store.Campaigns().Add(DataFolder::CampaignFolderName(name)), error))
            << error;
        const std::string folder = m_store.CampaignFolder(name);
        std::filesystem::create_directories(folder);
        EXPECT_TRUE(m_store.OpenRecord(name)->WriteString("SETTINGS", "Name", name));
        return folder;
    }
    void Accepted(const std::string& folder, const std::string& address,
                  const std::string& coupon) {
        IniFile records(folder + "accepted.dat", DateFormat::Iso());
        EXPECT_TRUE(records.WriteValues(address, {{"Name", "Phone " + address},
                                                  {"COD", "Smart phone"},
                                                  {"DateTime", "2026-12-07 10:11:12"},
                                                  {"Coupon", coupon}}));
    }
    // The matches of a check that must succeed.
    std::vector<CouponMatch> Find(std::string_view code) const {
        std::vector<CouponMatch> matches;
        std::string error;
        EXPECT_TRUE(test::Done(FindCoupon(m_store, code, matches), error)) << error;
        return matches;
    }
    // The lookup of a check that must succeed.
    CouponLookup LookUp(std::string_view code) const {
        CouponLookup found;
        std::string error;
        EXPECT_TRUE(test::Done(LookUpCoupon(m_store, code, found), error)) << error;
        return found;
    }
    static std::string Address(int i) { return "(00:17:E5:3A:91:0" + std::to_string(i) + ")"; }

    test::TempFolder m_temp;
    CampaignStore m_store{DataFolder::Open(m_temp.Path() + "data"), DateFormat::Iso()};
};

TEST_F(CouponCheckTest, TenDevicesShareACodeAndClosingOneLeavesNine) {
    const std::string folder = AddCampaign("Xmas");
    for (int i = 0; i < 10; ++i) {
        Accepted(folder, Address(i), "XMAS10");
    }
    std::vector<CouponMatch> found = Find("XMAS10");
    ASSERT_EQ(found.size(), 10u);
    EXPECT_EQ(found[3].Campaign, "Xmas");
    EXPECT_EQ(found[3].Address, Address(3));
    EXPECT_EQ(found[3].DeviceName, "Phone " + Address(3));
    EXPECT_EQ(found[3].DeviceType, "Smart phone");
    EXPECT_EQ(found[3].DateTime, At(2026, 12, 7, 10, 11, 12));

    std::string error;
    ASSERT_TRUE(test::Done(CloseCoupon(m_store, "xmas", Address(3), kNow), error)) << error;
    found = Find("XMAS10");
    ASSERT_EQ(found.size(), 9u);
    for (const CouponMatch& match : found) {
        EXPECT_NE(match.Address, Address(3));
    }
    // The device still counts as having accepted: only the coupon went.
    const IniFile records(folder + "accepted.dat", DateFormat::Iso());
    EXPECT_FALSE(records.ValueExists(Address(3), "Coupon"));
    EXPECT_EQ(records.ReadString(Address(3), "Name", ""), "Phone " + Address(3));
    EXPECT_EQ(records.ReadString(Address(3), "COD", ""), "Smart phone");
    EXPECT_EQ(records.ReadDateTime(Address(3), "DateTime", TDateTime()),
              At(2026, 12, 7, 10, 11, 12));

    // Closing it again is refused and changes nothing.
    const std::string before = test::Slurp(folder + "accepted.dat");
    EXPECT_FALSE(test::Done(CloseCoupon(m_store, "Xmas", Address(3), kNow), error));
    EXPECT_NE(error.find("no coupon"), std::string::npos) << error;
    EXPECT_EQ(test::Slurp(folder + "accepted.dat"), before);
}

TEST_F(CouponCheckTest, MatchesExactlyAndAnEmptyCodeFindsNothing) {
    const std::string coupons = AddCampaign("Coupons");
    const std::string plain = AddCampaign("Plain");
    Accepted(coupons, Address(1), "ABC123");
    Accepted(plain, Address(2), "");  // a campaign without coupons stores it empty

    EXPECT_TRUE(Find("").empty());
    EXPECT_TRUE(Find("abc123").empty());
    EXPECT_TRUE(Find("ABC12").empty());
    EXPECT_TRUE(Find("ABC123 ").empty());
    EXPECT_TRUE(Find(" ").empty());
    EXPECT_EQ(Find("ABC123").size(), 1u);
}

TEST_F(CouponCheckTest, TwoCampaignsWithTheSameCodeAreBothListedInListOrder) {
    const std::string second = AddCampaign("Second");
    const std::string first = AddCampaign("First");
    Accepted(first, Address(1), "SAME");
    Accepted(second, Address(2), "SAME");
    const std::vector<CouponMatch> found = Find("SAME");
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].Campaign, "Second");
    EXPECT_EQ(found[0].Address, Address(2));
    EXPECT_EQ(found[1].Campaign, "First");
}

TEST_F(CouponCheckTest, ClosingForAnUnknownCampaignIsRefused) {
    std::string error;
    EXPECT_FALSE(test::Done(CloseCoupon(m_store, "Nowhere", Address(1), kNow), error));
    EXPECT_NE(error.find("Nowhere"), std::string::npos) << error;
    EXPECT_FALSE(test::Done(CloseCoupon(m_store, "../data", Address(1), kNow), error));
}

TEST_F(CouponCheckTest, AnUnreadableAcceptedFileFailsTheCheckAndTheCloseWithItsPath) {
    // A folder stands where "accepted.dat" should be (a way to make a file
    // unreadable that works for root too). Expected: both fail, naming the file,
    // rather than report "no such coupon".
    const std::string folder = AddCampaign("Xmas");
    std::filesystem::create_directory(folder + "accepted.dat");
    std::vector<CouponMatch> matches;
    std::string error;
    EXPECT_FALSE(test::Done(FindCoupon(m_store, "XMAS10", matches), error));
    EXPECT_NE(error.find(folder + "accepted.dat"), std::string::npos) << error;
    EXPECT_TRUE(matches.empty());

    error.clear();
    EXPECT_FALSE(test::Done(CloseCoupon(m_store, "Xmas", Address(1), kNow), error));
    EXPECT_NE(error.find("cannot read " + folder + "accepted.dat"), std::string::npos) << error;
}

TEST_F(CouponCheckTest, AClosedCouponIsNoLongerListedAndChecksAsRedeemedWithItsDate) {
    // Two devices hold XMAS10; both are closed, on different days.
    // Expected: while one is open the code is good and no redemption is
    // reported; once both are closed, both come back as redeemed, each with
    // the date it was closed, and the file holds the redemption in ISO 8601.
    const std::string folder = AddCampaign("Xmas");
    Accepted(folder, Address(1), "XMAS10");
    Accepted(folder, Address(2), "XMAS10");
    std::string error;
    ASSERT_TRUE(test::Done(CloseCoupon(m_store, "Xmas", Address(1), At(2026, 12, 8)), error))
        << error;
    CouponLookup found = LookUp("XMAS10");
    ASSERT_EQ(found.Open.size(), 1u);
    EXPECT_EQ(found.Open[0].Address, Address(2));
    EXPECT_TRUE(found.Redeemed.empty());

    ASSERT_TRUE(test::Done(CloseCoupon(m_store, "Xmas", Address(2), kNow), error)) << error;
    found = LookUp("XMAS10");
    EXPECT_TRUE(found.Open.empty());
    ASSERT_EQ(found.Redeemed.size(), 2u);
    EXPECT_EQ(found.Redeemed[0].Address, Address(1));
    EXPECT_EQ(found.Redeemed[0].Redeemed, At(2026, 12, 8));
    EXPECT_EQ(found.Redeemed[1].Campaign, "Xmas");
    EXPECT_EQ(found.Redeemed[1].DeviceName, "Phone " + Address(2));
    EXPECT_EQ(found.Redeemed[1].DateTime, At(2026, 12, 7, 10, 11, 12));
    EXPECT_EQ(found.Redeemed[1].Redeemed, kNow);

    const IniFile records(folder + "accepted.dat", DateFormat::Iso());
    EXPECT_EQ(records.ReadString(Address(2), "Redeemed", ""), "2026-12-09 14:03:05");
    EXPECT_EQ(records.ReadString(Address(2), "RedeemedCoupon", ""), "XMAS10");
    EXPECT_FALSE(records.ValueExists(Address(2), "Coupon"));

    // The redeemed code is matched as exactly as an open one.
    EXPECT_TRUE(LookUp("xmas10").Redeemed.empty());
    EXPECT_TRUE(LookUp("").Redeemed.empty());
}

TEST_F(CouponCheckTest, RecordsWithoutRedemptionKeysCheckExactlyAsBefore) {
    // A data folder written before redemptions were kept: one open coupon, one
    // closed by deleting "Coupon" alone. Expected: the open one is found, the
    // closed one is an unknown code (nothing says when it was used), and
    // nothing is written by checking.
    const std::string folder = AddCampaign("Xmas");
    Accepted(folder, Address(1), "OPEN1");
    Accepted(folder, Address(2), "USED2");
    IniFile records(folder + "accepted.dat", DateFormat::Iso());
    ASSERT_TRUE(records.DeleteKey(Address(2), "Coupon"));
    const std::string before = test::Slurp(folder + "accepted.dat");

    CouponLookup open = LookUp("OPEN1");
    ASSERT_EQ(open.Open.size(), 1u);
    EXPECT_EQ(open.Open[0].Redeemed, TDateTime(0.0));
    const CouponLookup used = LookUp("USED2");
    EXPECT_TRUE(used.Open.empty());
    EXPECT_TRUE(used.Redeemed.empty());
    EXPECT_EQ(test::Slurp(folder + "accepted.dat"), before);
}

TEST_F(CouponCheckTest, ClosingAnEmptyCouponRecordsNoRedemption) {
    // A campaign without codes stores an empty "Coupon"; closing it removes
    // the entry as before. Expected: no "Redeemed" entry, so the statistics
    // do not count a redemption of nothing.
    const std::string folder = AddCampaign("Plain");
    Accepted(folder, Address(1), "");
    std::string error;
    ASSERT_TRUE(test::Done(CloseCoupon(m_store, "Plain", Address(1), kNow), error)) << error;
    const IniFile records(folder + "accepted.dat", DateFormat::Iso());
    EXPECT_FALSE(records.ValueExists(Address(1), "Coupon"));
    EXPECT_FALSE(records.ValueExists(Address(1), "Redeemed"));
    EXPECT_FALSE(records.ValueExists(Address(1), "RedeemedCoupon"));
}

TEST_F(CouponCheckTest, ClosingWithoutACalendarDateIsRefusedAndLeavesTheCouponOpen) {
    const std::string folder = AddCampaign("Xmas");
    Accepted(folder, Address(1), "XMAS10");
    const std::string before = test::Slurp(folder + "accepted.dat");
    std::string error;
    EXPECT_FALSE(test::Done(CloseCoupon(m_store, "Xmas", Address(1), TDateTime(1e9)), error));
    EXPECT_EQ(test::Slurp(folder + "accepted.dat"), before);
    EXPECT_EQ(LookUp("XMAS10").Open.size(), 1u);
}

}  // namespace
}  // namespace kavri
