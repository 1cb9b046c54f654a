#include "app/DeviceRecords.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "AppTestFolder.h"
#include "app/CampaignStore.h"
#include "app/DataFolder.h"
#include "app/IniFile.h"

namespace kavri {
namespace {

using test::Slurp;
using test::Spill;
using test::TempFolder;
using test::Tree;

constexpr const char* kPhone = "(00:17:E5:3A:91:02)";
constexpr const char* kHeadset = "(00:1A:7D:DA:71:13)";

// Records stored in ISO form and shown day-first, so the tests see the
// conversion from one form to the other.
class DeviceRecordsTest : public ::testing::Test {
protected:
    DeviceRecordsTest()
        : m_store(DataFolder::Open(m_temp.Path() + "data"), DateFormat::Iso()),
          m_records(m_store, DateFormat("%d.%m.%Y", "%H:%M:%S")) {}

    void AddCampaign(const std::string& display) {
        const std::string folder = m_store.CampaignFolder(display);
        std::filesystem::create_directory(folder);
        IniFile record(folder + "settings.dat", DateFormat::Iso());
        ASSERT_TRUE(record.WriteValues("SETTINGS", {{"Name", display}})) << record.LastError();
        std::string error;
        ASSERT_TRUE(m_store.Campaigns().Add(DataFolder::CampaignFolderName(display), error))
            << error;
    }

    void Write(const std::string& campaign, const char* file, const std::string& address,
               const std::vector<std::pair<std::string_view, std::string_view>>& entries) {
        IniFile ini(m_store.CampaignFolder(campaign) + file, DateFormat::Iso());
        ASSERT_TRUE(ini.WriteValues(address, entries)) << ini.LastError();
    }

    // The rows of a listing that must succeed.
    std::vector<DeviceRecordRow> ListOf(DeviceRecordKind kind) const {
        std::vector<DeviceRecordRow> rows;
        std::string error;
        EXPECT_TRUE(test::Done(m_records.List(kind, rows), error)) << error;
        return rows;
    }
    std::vector<DeviceRecordRow> BlackListRows() const {
        std::vector<DeviceRecordRow> rows;
        std::string error;
        EXPECT_TRUE(test::Done(m_records.BlackList(rows), error)) << error;
        return rows;
    }

    static std::vector<std::string> Keys(const std::vector<DeviceRecordRow>& rows) {
        std::vector<std::string> keys;
        for (const DeviceRecordRow& row : rows) {
            keys.push_back(row.Campaign + "|" + row.Address);
        }
        return keys;
    }

    TempFolder m_temp;
    CampaignStore m_store;
    DeviceRecords m_records;
};

TEST_F(DeviceRecordsTest, DeviceRefusedByTwoCampaignsIsListedOncePerCampaignInListOrder) {
    // Two campaigns refused by the same phone, the second also by a headset.
    // Expected: campaign-list order, file order within, display names shown.
    AddCampaign("Winter Sale");
    AddCampaign("Coffee");
    Write("Coffee", "rejected.dat", kHeadset, {{"Name", "Buds"}, {"COD", "Headset"}});
    Write("Coffee", "rejected.dat", kPhone, {{"Name", "Ann"}, {"COD", "Smart phone"}});
    Write("Winter Sale", "rejected.dat", kPhone, {{"Name", "Ann"}, {"COD", "Smart phone"}});

    const auto rows = ListOf(DeviceRecordKind::Rejected);
    EXPECT_EQ(Keys(rows), (std::vector<std::string>{std::string("Winter Sale|") + kPhone,
                                                    std::string("Coffee|") + kHeadset,
                                                    std::string("Coffee|") + kPhone}));
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1].Name, "Buds");
    EXPECT_EQ(rows[1].TypeText, "Headset");
    EXPECT_TRUE(ListOf(DeviceRecordKind::Accepted).empty());
}

TEST_F(DeviceRecordsTest, DateTimeIsShownInDisplayFormWithTheDateAloneAtMidnight) {
    // Accepted records at 10:11:12, at midnight, and with a hand-edited stamp.
    // Expected: short date and long time; the date alone; the stamp as stored.
    AddCampaign("Promo");
    Write("Promo", "accepted.dat", kPhone,
          {{"Name", "Ann"},
           {"COD", "Smart phone"},
           {"DateTime", "2026-12-07 10:11:12"},
           {"Coupon", "SAVE10"}});
    Write("Promo", "accepted.dat", kHeadset,
          {{"Name", "Buds"},
           {"COD", "Headset"},
           {"DateTime", "2026-12-07 00:00:00"},
           {"Coupon", ""}});
    Write("Promo", "accepted.dat", "(00:00:00:00:00:01)", {{"DateTime", "yesterday"}});

    const auto rows = ListOf(DeviceRecordKind::Accepted);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].DateTime, "07.12.2026 10:11:12");
    EXPECT_EQ(rows[0].Coupon, "SAVE10");
    EXPECT_EQ(rows[1].DateTime, "07.12.2026");
    EXPECT_EQ(rows[1].Coupon, "");
    EXPECT_EQ(rows[2].DateTime, "yesterday");
    EXPECT_EQ(rows[2].Name, "");
}

TEST_F(DeviceRecordsTest, HundredThousandRecordsAreAllListed) {
    // A black list and a rejected file of 100 000 devices each.
    // Expected: every one listed, in file order, none dropped.
    AddCampaign("Big");
    constexpr int kCount = 100000;
    std::string bytes;
    std::vector<std::string> addresses;
    for (int i = 0; i < kCount; ++i) {
        char address[32];
        std::snprintf(address, sizeof address, "(00:00:00:%02X:%02X:%02X)", (i >> 16) & 0xFF,
                      (i >> 8) & 0xFF, i & 0xFF);
        addresses.emplace_back(address);
        bytes += std::string("[") + address + "]\r\nName=d" + std::to_string(i) +
                 "\r\nCOD=Phone\r\nDateTime=2026-12-07 10:11:12\r\n";
    }
    Spill(m_store.CampaignFolder("Big") + "rejected.dat", bytes);
    Spill(m_store.Folder().BlackListFile(), bytes);

    const auto rejected = ListOf(DeviceRecordKind::Rejected);
    const auto black = BlackListRows();
    ASSERT_EQ(rejected.size(), static_cast<std::size_t>(kCount));
    ASSERT_EQ(black.size(), static_cast<std::size_t>(kCount));
    for (int i = 0; i < kCount; ++i) {
        ASSERT_EQ(rejected[i].Address, addresses[i]) << i;
        ASSERT_EQ(black[i].Address, addresses[i]) << i;
    }
    EXPECT_EQ(rejected.back().Name, "d99999");

    std::string error;
    ASSERT_TRUE(test::Done(m_records.Clear(DeviceRecordKind::Rejected), error)) << error;
    EXPECT_TRUE(ListOf(DeviceRecordKind::Rejected).empty());
}

TEST_F(DeviceRecordsTest, RemoveErasesOneCampaignsRecordAndClearEveryCampaignsOfOneKind) {
    // The phone refused two campaigns and accepted one.
    // Expected: remove (campaign named in any case) takes one record only;
    // clear empties that kind everywhere and leaves the other kind alone.
    AddCampaign("Winter Sale");
    AddCampaign("Coffee");
    Write("Winter Sale", "rejected.dat", kPhone, {{"Name", "Ann"}});
    Write("Coffee", "rejected.dat", kPhone, {{"Name", "Ann"}});
    Write("Coffee", "rejected.dat", kHeadset, {{"Name", "Buds"}});
    Write("Coffee", "accepted.dat", kHeadset, {{"Name", "Buds"}});

    std::string error;
    ASSERT_TRUE(
        test::Done(m_records.Remove(DeviceRecordKind::Rejected, "winter sale", kPhone), error))
        << error;
    EXPECT_EQ(Keys(ListOf(DeviceRecordKind::Rejected)),
              (std::vector<std::string>{std::string("Coffee|") + kPhone,
                                        std::string("Coffee|") + kHeadset}));
    EXPECT_FALSE(
        test::Done(m_records.Remove(DeviceRecordKind::Rejected, "Winter Sale", kPhone), error));
    EXPECT_NE(error.find("no record"), std::string::npos) << error;

    ASSERT_TRUE(test::Done(m_records.Clear(DeviceRecordKind::Rejected), error)) << error;
    EXPECT_TRUE(ListOf(DeviceRecordKind::Rejected).empty());
    EXPECT_EQ(ListOf(DeviceRecordKind::Accepted).size(), 1u);
    // A campaign without the file does not get one.
    EXPECT_FALSE(std::filesystem::exists(m_store.CampaignFolder("Winter Sale") + "accepted.dat"));
    ASSERT_TRUE(test::Done(m_records.Clear(DeviceRecordKind::Accepted), error)) << error;
    EXPECT_FALSE(std::filesystem::exists(m_store.CampaignFolder("Winter Sale") + "accepted.dat"));
    EXPECT_TRUE(ListOf(DeviceRecordKind::Accepted).empty());
}

TEST_F(DeviceRecordsTest, BlackListAddOverwritesRemoveAndClear) {
    // Two devices black-listed, one twice and typed in lower case.
    // Expected: one record each, upper-case address, latest name; remove and
    // clear empty the list.
    std::string error;
    EXPECT_TRUE(BlackListRows().empty());
    ASSERT_TRUE(test::Done(m_records.AddToBlackList("(00:17:e5:3a:91:02)", "Old", "Phone"), error))
        << error;
    ASSERT_TRUE(test::Done(m_records.AddToBlackList(kHeadset, "Buds", "Headset"), error)) << error;
    ASSERT_TRUE(test::Done(m_records.AddToBlackList(kPhone, "Ann", "Smart phone"), error)) << error;

    auto rows = BlackListRows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].Address, kPhone);
    EXPECT_EQ(rows[0].Name, "Ann");
    EXPECT_EQ(rows[0].TypeText, "Smart phone");
    EXPECT_EQ(rows[1].Address, kHeadset);

    ASSERT_TRUE(test::Done(m_records.RemoveFromBlackList(kPhone), error)) << error;
    rows = BlackListRows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].Address, kHeadset);
    ASSERT_TRUE(test::Done(m_records.ClearBlackList(), error)) << error;
    EXPECT_TRUE(BlackListRows().empty());
}

TEST_F(DeviceRecordsTest, InvalidAddressOrCampaignIsRefusedWithNothingChanged) {
    // Malformed addresses (including ones that would forge INI structure) and
    // a campaign name leading out of the data folder.
    // Expected: every call false with a reason, every file as before.
    AddCampaign("Promo");
    Write("Promo", "rejected.dat", kPhone, {{"Name", "Ann"}});
    std::string error;
    ASSERT_TRUE(test::Done(m_records.AddToBlackList(kPhone, "Ann", "Phone"), error)) << error;
    const auto before = Tree(m_temp.Path());

    for (const char* address : {"", "00:17:E5:3A:91:02", "(00:17:E5:3A:91:0G)", "(00:17:E5:3A:91)",
                                "(00:17:E5:3A:91:02]\r\n[x", "(A1B2)", "(00:17:E5:3A:91:02) "}) {
        error.clear();
        EXPECT_FALSE(test::Done(m_records.AddToBlackList(address, "x", "y"), error)) << address;
        EXPECT_FALSE(error.empty()) << address;
        EXPECT_FALSE(test::Done(m_records.RemoveFromBlackList(address), error)) << address;
        EXPECT_FALSE(
            test::Done(m_records.Remove(DeviceRecordKind::Rejected, "Promo", address), error))
            << address;
    }
    EXPECT_FALSE(
        test::Done(m_records.Remove(DeviceRecordKind::Rejected, "../PROMO", kPhone), error));
    EXPECT_FALSE(test::Done(m_records.Remove(DeviceRecordKind::Rejected, "Other", kPhone), error));
    EXPECT_EQ(Tree(m_temp.Path()), before);
}

TEST_F(DeviceRecordsTest, AnUnreadableFileFailsItsListingWithThePathInsteadOfListingNothing) {
    // Situation: "bl.dat" and one campaign's "accepted.dat" are folders, so
    // they exist but cannot be read; the rejected files are simply missing.
    // Expected: the black list and accepted listings fail naming the file;
    // the rejected listing succeeds, empty; removing from the unreadable
    // black list fails with the reason and leaves it in place.
    AddCampaign("Summer");
    std::filesystem::create_directory(m_store.Folder().BlackListFile());
    std::filesystem::create_directory(m_store.CampaignFolder("Summer") + "accepted.dat");
    std::vector<DeviceRecordRow> rows;
    std::string error;
    EXPECT_FALSE(test::Done(m_records.BlackList(rows), error));
    EXPECT_EQ(error, "cannot read " + m_store.Folder().BlackListFile() + ": not a regular file");
    EXPECT_FALSE(test::Done(m_records.List(DeviceRecordKind::Accepted, rows), error));
    EXPECT_NE(error.find(m_store.CampaignFolder("Summer") + "accepted.dat"), std::string::npos)
        << error;
    EXPECT_TRUE(rows.empty());
    EXPECT_TRUE(ListOf(DeviceRecordKind::Rejected).empty());
    EXPECT_FALSE(test::Done(m_records.RemoveFromBlackList(kPhone), error));
    EXPECT_NE(error.find("cannot read"), std::string::npos) << error;
    EXPECT_FALSE(test::Done(m_records.ClearBlackList(), error));
    EXPECT_TRUE(std::filesystem::is_directory(m_store.Folder().BlackListFile()));
}

}  // namespace
}  // namespace kavri
