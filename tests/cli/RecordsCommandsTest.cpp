#include "cli/RecordsCommands.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "CliTestSupport.h"

#include "app/AppTestFolder.h"
#include "app/CampaignStore.h"
#include "app/DataFolder.h"
#include "app/IniFile.h"

namespace kavri::cli {
namespace {

using test::Tree;

using test::Outcome;

constexpr const char* kPhone = "(00:17:E5:3A:91:02)";
constexpr const char* kHeadset = "(00:1A:7D:DA:71:13)";

class RecordsCommandsTest : public ::testing::Test {
protected:
    // Runs one command; records stored in ISO form, shown day-first.
    Outcome Run(const std::function<int(RecordsCommands&)>& command) {
        return test::Capture([&](std::FILE* out, std::FILE* err) {
            RecordsCommands commands(m_data, DateFormat::Iso(), DateFormat("%d.%m.%Y", "%H:%M:%S"),
                                     out, err);
            return command(commands);
        });
    }

    // A campaign whose display name is display, with one record per address
    // in file.
    void AddCampaign(const std::string& display) {
        CampaignStore store(DataFolder::Open(m_data), DateFormat::Iso());
        const std::string folder = store.CampaignFolder(display);
        std::filesystem::create_directory(folder);
        IniFile record(folder + "settings.dat", DateFormat::Iso());
        ASSERT_TRUE(test::Succeeded(record.WriteValues("SETTINGS", {{"Name", display}})));
        std::string error;
        ASSERT_TRUE(
            test::Done(store.Campaigns().Add(DataFolder::CampaignFolderName(display)), error))
            << error;
    }
    void Record(const std::string& display, const char* file, const char* address, const char* name,
                const char* stamp, const char* coupon = nullptr) {
        IniFile ini(DataFolder::Open(m_data).CampaignFolder(display) + file, DateFormat::Iso());
        std::vector<std::pair<std::string_view, std::string_view>> entries{
            {"Name", name}, {"COD", "Smart phone"}, {"DateTime", stamp}};
        if (coupon != nullptr) {
            entries.emplace_back("Coupon", coupon);
        }
        ASSERT_TRUE(test::Succeeded(ini.WriteValues(address, entries)));
    }

    test::TempFolder m_temp;
    std::string m_data = m_temp.Path() + "data/";
};

TEST_F(RecordsCommandsTest, RecordListsPrintOneEscapedLinePerRecordPerCampaign) {
    // The phone refused two campaigns; it accepted one with a coupon at
    // midnight, under a name with a backslash and a byte that is not UTF-8.
    // Expected: the rejected list has it twice; accepted has six columns,
    // the date alone, and the name escaped onto one line.
    AddCampaign("Winter Sale");
    AddCampaign("Coffee");
    Record("Winter Sale", "rejected.dat", kPhone, "Ann", "2026-12-07 10:11:12");
    Record("Coffee", "rejected.dat", kPhone, "Ann", "2026-12-08 09:00:00");
    Record("Coffee", "accepted.dat", kHeadset, "Bu\\ds\xFF", "2026-12-07 00:00:00", "SAVE10");

    Outcome rejected = Run([](RecordsCommands& c) { return c.List(DeviceRecordKind::Rejected); });
    EXPECT_EQ(rejected.Status, 0) << rejected.Err;
    EXPECT_EQ(rejected.Out, std::string("Winter Sale\t") + kPhone +
                                "\tAnn\tSmart phone\t07.12.2026 10:11:12\n" + "Coffee\t" + kPhone +
                                "\tAnn\tSmart phone\t08.12.2026 09:00:00\n");
    Outcome accepted = Run([](RecordsCommands& c) { return c.List(DeviceRecordKind::Accepted); });
    EXPECT_EQ(accepted.Status, 0) << accepted.Err;
    EXPECT_EQ(accepted.Out, std::string("Coffee\t") + kHeadset +
                                "\tBu\\\\ds\\xFF\tSmart phone\t07.12.2026\tSAVE10\n");
}

TEST_F(RecordsCommandsTest, RemoveAndClearRecords) {
    // Remove one campaign's refusal, then clear all refusals.
    // Expected: the other campaign's record stays until clear; removing a
    // record that is gone fails with one line.
    AddCampaign("Winter Sale");
    AddCampaign("Coffee");
    Record("Winter Sale", "rejected.dat", kPhone, "Ann", "2026-12-07 10:11:12");
    Record("Coffee", "rejected.dat", kPhone, "Ann", "2026-12-08 09:00:00");

    Outcome removed = Run([](RecordsCommands& c) {
        return c.Remove(DeviceRecordKind::Rejected, "WINTER SALE", kPhone);
    });
    EXPECT_EQ(removed.Status, 0) << removed.Err;
    Outcome listed = Run([](RecordsCommands& c) { return c.List(DeviceRecordKind::Rejected); });
    EXPECT_EQ(listed.Out.rfind("Coffee\t", 0), 0u) << listed.Out;
    EXPECT_EQ(std::count(listed.Out.begin(), listed.Out.end(), '\n'), 1);

    Outcome again = Run([](RecordsCommands& c) {
        return c.Remove(DeviceRecordKind::Rejected, "Winter Sale", kPhone);
    });
    EXPECT_EQ(again.Status, 1);
    EXPECT_EQ(again.Err.rfind("kavrictl: no record of", 0), 0u) << again.Err;

    EXPECT_EQ(Run([](RecordsCommands& c) { return c.Clear(DeviceRecordKind::Rejected); }).Status,
              0);
    EXPECT_EQ(Run([](RecordsCommands& c) { return c.List(DeviceRecordKind::Rejected); }).Out, "");
}

TEST_F(RecordsCommandsTest, BlackListAddListRemoveClear) {
    // Two devices black-listed, one with its type, one removed, then the list
    // cleared.
    // Expected: ADDRESS NAME TYPE lines in file order; empty at the end.
    EXPECT_EQ(
        Run([](RecordsCommands& c) { return c.BlackListAdd(kPhone, "Ann", "Smartphone"); }).Status,
        0);
    EXPECT_EQ(Run([](RecordsCommands& c) {
                  return c.BlackListAdd(kHeadset, "<unknown>", "<unknown>");
              }).Status,
              0);
    Outcome listed = Run([](RecordsCommands& c) { return c.BlackListList(); });
    EXPECT_EQ(listed.Out,
              std::string(kPhone) + "\tAnn\tSmartphone\n" + kHeadset + "\t<unknown>\t<unknown>\n");

    EXPECT_EQ(Run([](RecordsCommands& c) { return c.BlackListRemove(kPhone); }).Status, 0);
    EXPECT_EQ(Run([](RecordsCommands& c) { return c.BlackListList(); }).Out,
              std::string(kHeadset) + "\t<unknown>\t<unknown>\n");
    EXPECT_EQ(Run([](RecordsCommands& c) { return c.BlackListClear(); }).Status, 0);
    EXPECT_EQ(Run([](RecordsCommands& c) { return c.BlackListList(); }).Out, "");
}

TEST_F(RecordsCommandsTest, InvalidAddressIsRefusedWithNothingChanged) {
    // An address without brackets and one that would forge a section.
    // Expected: status 1, one escaped line on stderr, the data folder as before.
    AddCampaign("Coffee");
    Record("Coffee", "rejected.dat", kPhone, "Ann", "2026-12-08 09:00:00");
    ASSERT_EQ(
        Run([](RecordsCommands& c) { return c.BlackListAdd(kPhone, "Ann", "<unknown>"); }).Status,
        0);
    const auto before = Tree(m_data);

    for (const char* address : {"00:17:E5:3A:91:02", "(00:17:E5:3A:91:02]\n[x"}) {
        Outcome added = Run([&](RecordsCommands& c) { return c.BlackListAdd(address, "x", "y"); });
        EXPECT_EQ(added.Status, 1);
        EXPECT_EQ(added.Out, "");
        EXPECT_EQ(std::count(added.Err.begin(), added.Err.end(), '\n'), 1) << added.Err;
        EXPECT_EQ(Run([&](RecordsCommands& c) { return c.BlackListRemove(address); }).Status, 1);
        EXPECT_EQ(Run([&](RecordsCommands& c) {
                      return c.Remove(DeviceRecordKind::Rejected, "Coffee", address);
                  }).Status,
                  1);
    }
    EXPECT_EQ(Tree(m_data), before);
}

TEST_F(RecordsCommandsTest, AnUnreadableBlackListFailsTheListingWithItsPath) {
    // Situation: "bl.dat" exists but cannot be read (a folder in its place).
    // Expected: status 1, the path and the reason on stderr, nothing listed
    // (not even the titles).
    std::filesystem::create_directories(m_data + "bl.dat");
    const Outcome listed = Run([](RecordsCommands& c) { return c.BlackListList({"A", "N", "T"}); });
    EXPECT_EQ(listed.Status, 1);
    EXPECT_EQ(listed.Out, "");
    EXPECT_EQ(listed.Err, "kavrictl: cannot read " + m_data + "bl.dat: not a regular file\n");
}

TEST_F(RecordsCommandsTest, ListingsOfAMissingDataFolderSaySoAndCreateNothing) {
    // Situation: the data folder does not exist.
    // Expected: each listing exits 1 saying the folder does not exist, and the
    // folder is still missing; black-listing (a write) creates it.
    for (const auto& command : std::vector<std::function<int(RecordsCommands&)>>{
             [](RecordsCommands& c) { return c.BlackListList(); },
             [](RecordsCommands& c) { return c.List(DeviceRecordKind::Accepted); },
             [](RecordsCommands& c) { return c.List(DeviceRecordKind::Rejected); }}) {
        const Outcome listed = Run(command);
        EXPECT_EQ(listed.Status, 1);
        EXPECT_EQ(listed.Err, "kavrictl: the data folder " + m_data + " does not exist\n");
        EXPECT_FALSE(std::filesystem::exists(m_data));
    }
    EXPECT_EQ(Run([](RecordsCommands& c) { return c.BlackListAdd(kPhone, "Ann", "x"); }).Status, 0);
    EXPECT_TRUE(std::filesystem::is_directory(m_data));
}

}  // namespace
}  // namespace kavri::cli
