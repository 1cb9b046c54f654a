// The black-list, accepted and rejected dialogs over a data folder written by
// the app layer: what they list, how they sort, and what Remove, Clear and
// Export CSV leave in the files. Message boxes are recorded by the shop.
#include "gui/TfmAccepted.h"
#include "gui/TfmBlackList.h"
#include "gui/TfmRejected.h"

#include <gtest/gtest.h>

#include <QPushButton>
#include <QTableView>

#include <QItemSelectionModel>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/DateFormat.h"
#include "app/DeviceRecords.h"
#include "gui/DeviceRecordModel.h"
#include "tests/gui/GuiShop.h"

namespace kavri::gui {
namespace {

using test::Shop;

const std::string kBen = "(00:1B:63:84:45:E6)";

// Two campaigns; Anna accepted both (with a coupon in Winter Sale), Ben refused
// Spring, and both are on the black list.
class RecordDialogs : public ::testing::Test {
protected:
    RecordDialogs() : shop(sim::ParseScenario("")) {
        shop.AddCampaign("Winter Sale");
        shop.AddCampaign("Spring");
        Write("Winter Sale", "accepted.dat", test::kAnna,
              {{"Name", "Anna's Phone"},
               {"COD", "Phone"},
               {"DateTime", "2026-12-09T00:00:00"},
               {"Coupon", "X1"}});
        Write("Spring", "accepted.dat", test::kAnna,
              {{"Name", "Anna's Phone"}, {"COD", "Phone"}, {"DateTime", "2026-12-08T10:30:00"}});
        Write("Spring", "rejected.dat", kBen,
              {{"Name", "Ben, \"the\" phone"},
               {"COD", "Phone"},
               {"DateTime", "2026-12-08T11:00:00"}});
        shop.Open();
        DeviceRecords records(shop.Window().Session().Store());
        EXPECT_TRUE(records.AddToBlackList(test::kAnna, "Anna's Phone", "Phone"));
        EXPECT_TRUE(records.AddToBlackList(kBen, "Ben", "Phone"));
    }

    void Write(const std::string& campaign, const std::string& file, const std::string& address,
               const std::vector<std::pair<std::string_view, std::string_view>>& values) {
        IniFile ini(DataFolder::Open(shop.Data()).CampaignFolder(campaign) + file,
                    DateFormat::Iso());
        ASSERT_TRUE(ini.WriteValues(address, values));
    }
    std::vector<DeviceRecordRow> Stored(DeviceRecordKind kind) {
        std::vector<DeviceRecordRow> rows;
        EXPECT_TRUE(DeviceRecords(shop.Window().Session().Store()).List(kind, rows));
        return rows;
    }
    std::vector<DeviceRecordRow> StoredBlackList() {
        std::vector<DeviceRecordRow> rows;
        EXPECT_TRUE(DeviceRecords(shop.Window().Session().Store()).BlackList(rows));
        return rows;
    }
    static void Select(RecordListDialog& dialog, int row) { dialog.lvDevices->selectRow(row); }

    Shop shop;
};

TEST_F(RecordDialogs, FillInFileAndCampaignOrderWithTheLanguageFilesTitles) {
    // Opening the dialogs: rows campaign by campaign in list order, the language file's texts.
    TfmAccepted accepted(shop.Window());
    EXPECT_EQ(accepted.windowTitle(), "Kavri Tandrel - Accepted Devices");
    ASSERT_EQ(accepted.Model().rowCount(), 2);
    EXPECT_EQ(accepted.Model().Row(0).Campaign, "Winter Sale");
    EXPECT_EQ(accepted.Model().Row(1).Campaign, "Spring");
    EXPECT_EQ(accepted.Model().headerData(4, Qt::Horizontal).toString(), "Date/time");
    EXPECT_FALSE(accepted.btnRemove->isEnabled());
    EXPECT_TRUE(accepted.btnClear->isEnabled());

    TfmRejected rejected(shop.Window());
    ASSERT_EQ(rejected.Model().rowCount(), 1);
    EXPECT_EQ(rejected.Model().index(0, 3).data().toString().toStdString(), kBen);

    TfmBlackList blackList(shop.Window());
    EXPECT_EQ(blackList.Model().columnCount(), 3);
    ASSERT_EQ(blackList.Model().rowCount(), 2);
    EXPECT_EQ(blackList.Model().index(1, 0).data().toString(), "Ben");
    EXPECT_TRUE(shop.Errors.empty());
}

TEST_F(RecordDialogs, RemoveErasesTheSelectedRecordOnly) {
    // Removing Anna's Spring record: Winter Sale keeps its record of her.
    TfmAccepted accepted(shop.Window());
    Select(accepted, 1);
    EXPECT_TRUE(accepted.btnRemove->isEnabled());
    accepted.btnRemove->click();
    EXPECT_EQ(accepted.Model().rowCount(), 1);
    const std::vector<DeviceRecordRow> left = Stored(DeviceRecordKind::Accepted);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].Campaign, "Winter Sale");
    EXPECT_EQ(accepted.btnRemove->isEnabled(),
              accepted.lvDevices->selectionModel()->hasSelection());

    // The black list's first row goes; the other stays.
    TfmBlackList blackList(shop.Window());
    Select(blackList, 0);
    blackList.btnRemove->click();
    const std::vector<DeviceRecordRow> listed = StoredBlackList();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].Address, kBen);
    EXPECT_TRUE(shop.Errors.empty());
}

TEST_F(RecordDialogs, ClearEmptiesOneKindAndLeavesTheOthers) {
    // Clearing the rejected list leaves the accepted records and the black list.
    TfmRejected rejected(shop.Window());
    rejected.btnClear->click();
    EXPECT_EQ(rejected.Model().rowCount(), 0);
    EXPECT_FALSE(rejected.btnClear->isEnabled());
    EXPECT_TRUE(Stored(DeviceRecordKind::Rejected).empty());
    EXPECT_EQ(Stored(DeviceRecordKind::Accepted).size(), 2u);
    EXPECT_EQ(StoredBlackList().size(), 2u);

    TfmBlackList blackList(shop.Window());
    blackList.btnClear->click();
    EXPECT_TRUE(StoredBlackList().empty());
    EXPECT_EQ(TfmBlackList(shop.Window()).Model().rowCount(), 0);
}

TEST_F(RecordDialogs, RemoveOfARecordGoneMeanwhileSaysWhyAndKeepsTheRow) {
    // The sender erased the record after the list opened: the operator is told, nothing breaks.
    TfmRejected rejected(shop.Window());
    ASSERT_TRUE(DeviceRecords(shop.Window().Session().Store()).Clear(DeviceRecordKind::Rejected));
    Select(rejected, 0);
    rejected.btnRemove->click();
    EXPECT_EQ(shop.Errors.size(), 1u);
    EXPECT_EQ(rejected.Model().rowCount(), 1);
}

TEST_F(RecordDialogs, ExportWritesTheColumnsShownAsCsv) {
    // A name with a comma and quotes is quoted; lines end with CR LF, titles first.
    TfmRejected rejected(shop.Window());
    const std::string path = shop.Root() + "/rejected.csv";
    ASSERT_TRUE(rejected.ExportCsv(QString::fromStdString(path)));
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    const std::string date = rejected.Model().Row(0).DateTime;
    EXPECT_EQ(text.str(),
              "Campaign name,Device name,Device type,Device address,Date/time\r\n"
              "Spring,\"Ben, \"\"the\"\" phone\",Phone," +
                  kBen + "," + date + "\r\n");
}

TEST_F(RecordDialogs, SortingByAColumnReordersTheRowsNotTheFiles) {
    // Sorting by campaign name puts Spring first; Remove then still erases the row selected.
    TfmAccepted accepted(shop.Window());
    accepted.Model().sort(0, Qt::AscendingOrder);
    EXPECT_EQ(accepted.Model().Row(0).Campaign, "Spring");
    Select(accepted, 0);
    accepted.btnRemove->click();
    const std::vector<DeviceRecordRow> left = Stored(DeviceRecordKind::Accepted);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].Campaign, "Winter Sale");
}

// LC_ALL set for one test, as it was afterwards.
class ScopedLocale {
public:
    explicit ScopedLocale(const char* name) {
        if (const char* old = std::getenv("LC_ALL")) {
            m_old = old;
        }
        ::setenv("LC_ALL", name, 1);
    }
    ~ScopedLocale() {
        if (m_old) {
            ::setenv("LC_ALL", m_old->c_str(), 1);
        } else {
            ::unsetenv("LC_ALL");
        }
    }
    ScopedLocale(const ScopedLocale&) = delete;
    ScopedLocale& operator=(const ScopedLocale&) = delete;

private:
    std::optional<std::string> m_old;
};

TEST_F(RecordDialogs, TheDateColumnSortsByTimeAndTheSelectionFollowsItsRow) {
    // German dates, where "10.11.2026" comes after "09.12.2026" as text: sorting by date/time
    // puts November first, both ways round, and the selected record stays selected.
    Write("Spring", "accepted.dat", kBen,
          {{"Name", "Ben"}, {"COD", "Phone"}, {"DateTime", "2026-11-10T09:00:00"}});
    const ScopedLocale german("de_DE.UTF-8");
    TfmAccepted accepted(shop.Window());
    ASSERT_EQ(accepted.Model().rowCount(), 3);
    ASSERT_EQ(accepted.Model().Row(0).DateTime, "09.12.2026");
    const auto addresses = [&] {
        std::vector<std::string> order;
        for (const DeviceRecordRow& row : accepted.Model().Rows()) {
            order.push_back(row.Campaign + " " + row.Address);
        }
        return order;
    };
    const std::string winterAnna = "Winter Sale " + test::kAnna;
    const std::string springAnna = "Spring " + test::kAnna;
    const std::string springBen = "Spring " + kBen;
    Select(accepted, 0);

    accepted.Model().sort(4, Qt::AscendingOrder);
    EXPECT_EQ(addresses(), (std::vector<std::string>{springBen, springAnna, winterAnna}));
    accepted.Model().sort(4, Qt::DescendingOrder);
    EXPECT_EQ(addresses(), (std::vector<std::string>{winterAnna, springAnna, springBen}));
    accepted.Model().sort(4, Qt::AscendingOrder);
    const QModelIndexList selected = accepted.lvDevices->selectionModel()->selectedRows();
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(selected[0].row(), 2);
}

TEST(DeviceRecordModelTest, DatesSortChronologicallyUndatedFirstTiesInPlace) {
    // Regional dates without leading zeros, a midnight shown as the date alone, a tie, a text
    // that is no date and a missing one: time order, not text order; the undated rows come
    // before the dated ones (after them descending), and tied rows keep their order.
    using Field = DeviceRecordModel::Field;
    DeviceRecordModel model({Field::Address, Field::DateTime}, nullptr,
                            DateFormat("%-d.%-m.%Y", "%H:%M:%S"));
    const auto row = [](const char* address, const char* dateTime) {
        DeviceRecordRow r;
        r.Address = address;
        r.DateTime = dateTime;
        return r;
    };
    model.SetRows({row("A", "10.12.2026 08:00:00"), row("B", "9.12.2026 23:00:00"),
                   row("C", "9.12.2026"), row("D", "1.1.2027 00:00:01"), row("E", ""),
                   row("F", "when the moon is full"), row("G", "9.12.2026")});
    const auto order = [&] {
        std::string text;
        for (const DeviceRecordRow& r : model.Rows()) {
            text += r.Address;
        }
        return text;
    };
    model.sort(1, Qt::AscendingOrder);
    EXPECT_EQ(order(), "EFCGBAD");
    model.sort(1, Qt::DescendingOrder);
    EXPECT_EQ(order(), "DABCGFE");
    // Sorting by another column is still by text.
    model.sort(0, Qt::DescendingOrder);
    EXPECT_EQ(order(), "GFEDCBA");
}

TEST_F(RecordDialogs, TheViewCommandsOpenTheirDialogs) {
    // Each View command creates its dialog; nothing else opens.
    std::vector<QString> titles;
    shop.Window().RunDialog = [&](QDialog& dialog) { titles.push_back(dialog.windowTitle()); };
    shop.Window().acViewAccepted->trigger();
    shop.Window().acViewRejected->trigger();
    shop.Window().acViewBlackList->trigger();
    EXPECT_EQ(titles, (std::vector<QString>{"Kavri Tandrel - Accepted Devices",
                                            "Kavri Tandrel - Rejected Devices",
                                            "Kavri Tandrel - Black List"}));
}

}  // namespace
}  // namespace kavri::gui
