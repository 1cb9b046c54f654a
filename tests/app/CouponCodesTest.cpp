#include "app/CouponCodes.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "app/AppTestFolder.h"
#include "app/CampaignStore.h"
#include "app/IniFile.h"

namespace kavri {
namespace {

constexpr std::uint64_t kSeed = 20261209;

class CouponCodesTest : public ::testing::Test {
protected:
    std::string AddCampaign(const std::string& name, const std::string& sharedCode = "") {
        std::string error;
        EXPECT_TRUE(test::Done(store.Campaigns().Add(DataFolder::CampaignFolderName(name)), error))
            << error;
        const std::string folder = store.CampaignFolder(name);
        std::filesystem::create_directories(folder);
        EXPECT_TRUE(store.OpenRecord(name)->WriteValues(
            "SETTINGS", {{"Name", name}, {"Type", "2"}, {"Coupon", sharedCode}}));
        return folder;
    }
    void Accepted(const std::string& folder, const std::string& address, std::string_view key,
                  const std::string& code) {
        IniFile records(folder + "accepted.dat", DateFormat::Iso());
        EXPECT_TRUE(records.WriteValues(address, {{"Name", "Phone"}, {key, code}}));
    }
    // The codes a generator seeded with kSeed reserves first, in an empty folder.
    std::vector<std::string> FirstCodes(std::size_t count) {
        test::TempFolder emptyTemp;
        CampaignStore empty(DataFolder::Open(emptyTemp.Path() + "data"), DateFormat::Iso());
        CouponCodes codes(empty, kSeed);
        EXPECT_TRUE(test::Succeeded(codes.Refresh()));
        std::vector<std::string> drawn(count);
        for (std::string& code : drawn) {
            EXPECT_TRUE(test::Succeeded(codes.Reserve(code)));
        }
        return drawn;
    }

    test::TempFolder temp;
    CampaignStore store{DataFolder::Open(temp.Path() + "data"), DateFormat::Iso()};
};

TEST_F(CouponCodesTest, CodesAreSixCharactersOfTheAlphabetAndNeverRepeatWhileReserved) {
    // Situation: 2000 codes reserved from one source without recording them.
    // Expected: each six digits or upper-case letters, no two alike.
    CouponCodes codes(store);
    ASSERT_TRUE(test::Succeeded(codes.Refresh()));
    std::set<std::string> seen;
    for (int i = 0; i < 2000; ++i) {
        std::string code;
        ASSERT_TRUE(test::Succeeded(codes.Reserve(code)));
        ASSERT_EQ(code.size(), 6u);
        EXPECT_EQ(code.find_first_not_of(CouponCodes::kAlphabet), std::string::npos) << code;
        EXPECT_TRUE(seen.insert(code).second) << code;
    }
}

TEST_F(CouponCodesTest, CodesRecordedInAnyCampaignOpenOrRedeemedOrSharedAreSkipped) {
    // Situation: the first four codes a seed would draw are already taken: one
    // open in campaign A, one redeemed in campaign B, one as B's shared code,
    // one reserved and committed by a source run before (a restart).
    // Expected: the same seed now draws none of them.
    const std::vector<std::string> first = FirstCodes(4);
    const std::string a = AddCampaign("Spring");
    const std::string b = AddCampaign("Summer", first[2]);
    Accepted(a, "(00:00:00:00:00:01)", "Coupon", first[0]);
    Accepted(b, "(00:00:00:00:00:02)", "RedeemedCoupon", first[1]);
    Accepted(a, "(00:00:00:00:00:03)", "Coupon", first[3]);

    CouponCodes codes(store, kSeed);
    ASSERT_TRUE(test::Succeeded(codes.Refresh()));
    for (const std::string& taken : first) {
        EXPECT_TRUE(codes.InUse(taken)) << taken;
    }
    for (int i = 0; i < 50; ++i) {
        std::string code;
        ASSERT_TRUE(test::Succeeded(codes.Reserve(code)));
        EXPECT_EQ(std::find(first.begin(), first.end(), code), first.end()) << code;
    }
}

TEST_F(CouponCodesTest, AReleasedCodeMayComeAgainACommittedOneNot) {
    // Situation: two codes reserved; the first released, the second committed.
    // Expected: only the committed one counts as in use; neither stays reserved.
    CouponCodes codes(store, kSeed);
    std::string released;
    std::string committed;
    ASSERT_TRUE(test::Succeeded(codes.Reserve(released)));
    ASSERT_TRUE(test::Succeeded(codes.Reserve(committed)));
    EXPECT_TRUE(codes.Reserved(released));
    codes.Release(released);
    codes.Commit(committed);
    EXPECT_FALSE(codes.Reserved(released));
    EXPECT_FALSE(codes.InUse(released));
    EXPECT_FALSE(codes.Reserved(committed));
    EXPECT_TRUE(codes.InUse(committed));
}

TEST_F(CouponCodesTest, AnUnreadableRecordFileRefusesTheRefresh) {
    // Situation: a campaign's "accepted.dat" is a folder. Expected: Refresh
    // fails, as uniqueness cannot be vouched for.
    const std::string folder = AddCampaign("Spring");
    std::filesystem::create_directory(folder + "accepted.dat");
    CouponCodes codes(store, kSeed);
    EXPECT_FALSE(codes.Refresh().Ok);
}

}  // namespace
}  // namespace kavri
