// The campaign editor windows as the main window opens them: New, Edit and
// dropped files, the shared frame's controls against what is stored, the
// end-after-start rules on the operator's changes only, and a modal editor
// that leaves the sender's events flowing. The rules themselves are tested
// with the app layer's editors; here the window must feed them faithfully.
#include "gui/TfmCouponBased.h"
#include "gui/TfmFileBased.h"
#include "gui/TfmMessageBased.h"

#include "tests/gui/GuiShop.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimeEdit>
#include <QToolButton>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "app/DataFolder.h"
#include "app/FileCampaignEditor.h"
#include "app/IniFile.h"

namespace kavri::gui {
namespace {

using test::kOneRadio;
using test::RowNamed;
using test::Shop;
namespace fs = std::filesystem;

std::string Stored(Shop& shop, const std::string& campaign, const char* key) {
    const std::string folder = DataFolder::Open(shop.Data()).CampaignFolder(campaign);
    return IniFile(folder + "settings.dat", DateFormat::Iso())
        .ReadString("SETTINGS", key, "(missing)");
}

std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string WriteSource(Shop& shop, const std::string& name, const std::string& content) {
    const std::string path = shop.Root() + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

// Answers every editor the main window runs with fill(editor), counting them.
template <typename Editor>
void AnswerEditors(TfmMain& window, int& count, std::function<void(Editor&)> fill) {
    window.RunDialog = [&count, fill](QDialog& dialog) {
        ++count;
        auto* editor = dynamic_cast<Editor*>(&dialog);
        ASSERT_NE(editor, nullptr);
        fill(*editor);
    };
}

TEST(TfmFileBasedWindow, NewCampaignCopiesThePickedFileUnderTheTypedName) {
    // Situation: New file based; "Summer sale"; promo.mp3 picked through the
    // chooser and renamed offer.mp3; OK. Then New again with "summer SALE".
    // Expected: folder SUMMER SALE with offer.mp3, Name as typed, the row
    // listed; the second is refused with "CampaignExists" and stays open.
    Shop shop(sim::ParseScenario(""));
    TfmMain& window = shop.Open();
    const std::string source = WriteSource(shop, "promo.mp3", "ID3 tune");
    int editors = 0;
    bool accepted = false;
    AnswerEditors<TfmFileBased>(window, editors, [&](TfmFileBased& editor) {
        editor.edCampaignName->setText("Summer sale");
        QStringList offered;
        editor.AskFile = [&](const QString&, const QStringList& filters) {
            offered = filters;
            return QString::fromStdString(source);
        };
        editor.sbSelectFile->click();
        EXPECT_EQ(editor.edFileName->text(), "promo.mp3");
        ASSERT_EQ(offered.size(), 5);
        EXPECT_TRUE(offered[0].startsWith("All Media Files (*.jpg;*.jpeg;*.gif;"));
        editor.edFileName->setText("offer.mp3");
        editor.btOK->click();
        accepted = editor.result() == QDialog::Accepted;
    });
    window.acCampaignNewFileBased->trigger();
    ASSERT_TRUE(accepted) << (shop.Errors.empty() ? "" : shop.Errors[0].toStdString());
    const std::string folder = DataFolder::Open(shop.Data()).CampaignFolder("Summer sale");
    EXPECT_TRUE(folder.ends_with("/SUMMER SALE/"));
    EXPECT_EQ(FileText(folder + "offer.mp3"), "ID3 tune");
    EXPECT_EQ(Stored(shop, "Summer sale", "Name"), "Summer sale");
    EXPECT_EQ(Stored(shop, "Summer sale", "FileName"), "offer.mp3");
    EXPECT_NE(RowNamed(window.lvCampaigns, "Summer sale"), nullptr);

    AnswerEditors<TfmFileBased>(window, editors, [&](TfmFileBased& editor) {
        editor.edCampaignName->setText("summer SALE");
        editor.ChooseSourceFile(QString::fromStdString(source));
        editor.btOK->click();
        accepted = editor.result() == QDialog::Accepted;
    });
    window.acCampaignNewFileBased->trigger();
    EXPECT_FALSE(accepted);
    ASSERT_EQ(shop.Errors.size(), 1U);
    EXPECT_EQ(shop.Errors[0], "A campaign with this name already exists.");
    EXPECT_EQ(window.lvCampaigns->topLevelItemCount(), 1);
}

TEST(TfmFileBasedWindow, EditRenamesOrReplacesTheStoredFileAndCancelWritesNothing) {
    // Situation: a campaign with promo.txt; Edit renames it to deal.txt; Edit
    // again picks a new file; a third Edit changes values and cancels.
    // Expected: the rename moves the file; the new file replaces the old; the
    // cancelled edit leaves settings.dat byte for byte as it was.
    Shop shop(sim::ParseScenario(""));
    shop.AddCampaign("Spring");
    TfmMain& window = shop.Open();
    const std::string folder = DataFolder::Open(shop.Data()).CampaignFolder("Spring");
    window.lvCampaigns->setCurrentItem(RowNamed(window.lvCampaigns, "Spring"));
    int editors = 0;

    AnswerEditors<TfmFileBased>(window, editors, [](TfmFileBased& editor) {
        EXPECT_FALSE(editor.edCampaignName->isEnabled());
        EXPECT_EQ(editor.edCampaignName->text(), "Spring");
        EXPECT_EQ(editor.edFileName->text(), "promo.txt");
        editor.edFileName->setText("deal.txt");
        editor.btOK->click();
    });
    window.acCampaignEdit->trigger();
    EXPECT_FALSE(fs::exists(folder + "promo.txt"));
    EXPECT_EQ(FileText(folder + "deal.txt"), "Come in!");

    const std::string source = WriteSource(shop, "new.txt", "New offer");
    AnswerEditors<TfmFileBased>(window, editors, [&](TfmFileBased& editor) {
        editor.ChooseSourceFile(QString::fromStdString(source));
        editor.btOK->click();
    });
    window.acCampaignEdit->trigger();
    EXPECT_FALSE(fs::exists(folder + "deal.txt"));
    EXPECT_EQ(FileText(folder + "new.txt"), "New offer");
    EXPECT_EQ(Stored(shop, "Spring", "FileName"), "new.txt");

    const std::string before = FileText(folder + "settings.dat");
    AnswerEditors<TfmFileBased>(window, editors, [](TfmFileBased& editor) {
        editor.cbEnabled->setChecked(false);
        editor.edFileName->setText("other.txt");
        editor.btCancel->click();
    });
    window.acCampaignEdit->trigger();
    EXPECT_EQ(editors, 3);
    EXPECT_EQ(FileText(folder + "settings.dat"), before);
    EXPECT_TRUE(shop.Errors.empty());
}

TEST(TfmCampaignEditorFrame, NewWindowShowsTheDefaultsOfTheDay) {
    // Situation: a new editor on Wednesday 9 December 2026 at 10:00.
    // Expected: only Wednesday ticked, continuous, Enabled, every date today,
    // every time 10:00; the name field editable.
    Shop shop(sim::ParseScenario(""));
    TfmMain& window = shop.Open();
    TfmFileBased editor(window);
    EXPECT_TRUE(editor.edCampaignName->isEnabled());
    EXPECT_EQ(editor.cbScheduling->currentIndex(), 0);
    EXPECT_EQ(editor.pcScheduling->currentIndex(), 0);
    EXPECT_TRUE(editor.cbEnabled->isChecked());
    for (QCheckBox* day :
         {editor.cbMon, editor.cbTue, editor.cbThu, editor.cbFri, editor.cbSat, editor.cbSun}) {
        EXPECT_FALSE(day->isChecked()) << day->text().toStdString();
    }
    EXPECT_TRUE(editor.cbWed->isChecked());
    for (QDateEdit* date : {editor.dtpStartDate, editor.dtpEndDate}) {
        EXPECT_EQ(date->date(), QDate(2026, 12, 9));
    }
    for (QTimeEdit* time :
         {editor.dtpStartTime, editor.dtpEndTime, editor.dtpStart, editor.dtpEnd}) {
        EXPECT_EQ(time->time(), QTime(10, 0));
    }
}

TEST(TfmCampaignEditorFrame, OperatorChangesMoveEndsButLoadingShowsWhatIsStored) {
    // Situation: the operator moves the time-based start date past the end
    // date with an end time earlier than the start time, and the daily end
    // before the daily start; then a record whose ends lie before their
    // starts is opened.
    // Expected: the end date, end time and daily end follow their starts; the
    // stored record shows unchanged.
    Shop shop(sim::ParseScenario(""));
    shop.AddCampaign("Backwards");
    TfmMain& window = shop.Open();
    {
        TfmFileBased editor(window);
        editor.dtpStartTime->setTime(QTime(15, 0));
        editor.dtpEndTime->setTime(QTime(9, 0));
        EXPECT_EQ(editor.dtpEndTime->time(), QTime(15, 0));
        editor.dtpEndTime->setTime(QTime(16, 0));
        editor.dtpStartDate->setDate(QDate(2026, 12, 20));
        EXPECT_EQ(editor.dtpEndDate->date(), QDate(2026, 12, 20));
        EXPECT_EQ(editor.dtpEndTime->time(), QTime(16, 0));
        editor.dtpStart->setTime(QTime(18, 0));
        EXPECT_EQ(editor.dtpEnd->time(), QTime(18, 0));
        editor.dtpEnd->setTime(QTime(17, 0));
        EXPECT_EQ(editor.dtpEnd->time(), QTime(18, 0));
        EXPECT_EQ(editor.dtpStart->time(), QTime(18, 0));
    }
    const std::string folder = DataFolder::Open(shop.Data()).CampaignFolder("Backwards");
    ASSERT_TRUE(IniFile(folder + "settings.dat", DateFormat::Iso())
                    .WriteValues("SETTINGS", {{"Scheduling", "1"},
                                              {"StartDateTime", "2026-12-10 12:00:00"},
                                              {"EndDateTime", "2026-12-01 08:00:00"},
                                              {"StartTime", "20:00:00"},
                                              {"EndTime", "06:00:00"}}));
    TfmFileBased editor(window);
    ASSERT_TRUE(editor.Edit("Backwards"));
    EXPECT_EQ(editor.pcScheduling->currentIndex(), 1);
    EXPECT_EQ(editor.dtpEndDate->date(), QDate(2026, 12, 1));
    EXPECT_EQ(editor.dtpEndTime->time(), QTime(8, 0));
    EXPECT_EQ(editor.dtpEnd->time(), QTime(6, 0));
}

TEST(TfmCampaignEditorFrame, StoredFormsOfMidnightAndOfAMissingMode) {
    // Situation: a campaign without "Scheduling" is opened and saved as it
    // is; then it is given a time-based window starting at midnight.
    // Expected: no mode selected and no page shown, -1 saved; the midnight
    // start is stored as the date alone.
    Shop shop(sim::ParseScenario(""));
    shop.AddCampaign("Plain");
    TfmMain& window = shop.Open();
    const std::string folder = DataFolder::Open(shop.Data()).CampaignFolder("Plain");
    ASSERT_TRUE(
        IniFile(folder + "settings.dat", DateFormat::Iso()).DeleteKey("SETTINGS", "Scheduling"));
    {
        TfmFileBased editor(window);
        ASSERT_TRUE(editor.Edit("Plain"));
        EXPECT_EQ(editor.cbScheduling->currentIndex(), -1);
        EXPECT_FALSE(editor.pcScheduling->isVisibleTo(&editor));
        editor.btOK->click();
        EXPECT_EQ(editor.result(), QDialog::Accepted);
    }
    EXPECT_EQ(Stored(shop, "Plain", "Scheduling"), "-1");

    TfmFileBased editor(window);
    ASSERT_TRUE(editor.Edit("Plain"));
    editor.cbScheduling->setCurrentIndex(1);
    emit editor.cbScheduling->activated(1);
    EXPECT_TRUE(editor.pcScheduling->isVisibleTo(&editor));
    editor.dtpStartDate->setDate(QDate(2027, 1, 2));
    editor.dtpStartTime->setTime(QTime(0, 0));
    editor.btOK->click();
    EXPECT_EQ(Stored(shop, "Plain", "Scheduling"), "1");
    EXPECT_EQ(Stored(shop, "Plain", "StartDateTime"), "2027-01-02");
}

TEST(TfmCampaignEditorFrame, DeviceTypeBoxesGoToTheRecordAndComeBack) {
    // Situation: a campaign of every type (no key) is opened; Phone and
    // Computer are ticked and saved; reopened, the boxes are cleared again.
    // Expected: no box ticked at first; "Computer,Phone" stored and ticked on
    // reopening; no box ticked stores the key empty (every type).
    Shop shop(sim::ParseScenario(""));
    shop.AddCampaign("Typed");
    TfmMain& window = shop.Open();
    {
        TfmFileBased editor(window);
        ASSERT_TRUE(editor.Edit("Typed"));
        for (QCheckBox* box : editor.cbDeviceTypes) {
            EXPECT_FALSE(box->isChecked()) << box->text().toStdString();
        }
        EXPECT_EQ(editor.cbDeviceTypes[2]->text(), QStringLiteral("Phone"));
        editor.cbDeviceTypes[2]->setChecked(true);
        editor.cbDeviceTypes[1]->setChecked(true);
        editor.btOK->click();
        EXPECT_EQ(editor.result(), QDialog::Accepted);
    }
    EXPECT_EQ(Stored(shop, "Typed", "DeviceTypes"), "Computer,Phone");

    TfmFileBased editor(window);
    ASSERT_TRUE(editor.Edit("Typed"));
    for (std::size_t i = 0; i < editor.cbDeviceTypes.size(); ++i) {
        EXPECT_EQ(editor.cbDeviceTypes[i]->isChecked(), i == 1 || i == 2) << i;
    }
    for (QCheckBox* box : editor.cbDeviceTypes) {
        box->setChecked(false);
    }
    editor.btOK->click();
    EXPECT_EQ(Stored(shop, "Typed", "DeviceTypes"), "");
}

TEST(TfmMessageBasedWindow, FieldsGoToTheCardAndComeBack) {
    // Situation: a new message campaign with company, phone and a message of
    // umlauts and more than a line's worth of text; then Edit.
    // Expected: card.vcf holds the fields; the edit shows them unchanged.
    Shop shop(sim::ParseScenario(""));
    TfmMain& window = shop.Open();
    const QString message =
        QString::fromUtf8("Grüße aus dem Laden: heute zwei Kaffee zum Preis von einem");
    int editors = 0;
    AnswerEditors<TfmMessageBased>(window, editors, [&](TfmMessageBased& editor) {
        editor.edCampaignName->setText("Card");
        editor.edCompany->setText("ABC");
        editor.edPhone->setText("123");
        editor.edMessage->setText(message);
        editor.btOK->click();
    });
    window.acCampaignNewMessageBased->trigger();
    const std::string card =
        FileText(DataFolder::Open(shop.Data()).CampaignFolder("Card") + "card.vcf");
    EXPECT_NE(card.find("ORG;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=41=42=43;\r\n"),
              std::string::npos);
    EXPECT_NE(card.find("TEL;PREF;WORK:123\r\n"), std::string::npos);
    EXPECT_EQ(Stored(shop, "Card", "FileName"), "card.vcf");

    window.lvCampaigns->setCurrentItem(RowNamed(window.lvCampaigns, "Card"));
    AnswerEditors<TfmMessageBased>(window, editors, [&](TfmMessageBased& editor) {
        EXPECT_EQ(editor.edCompany->text(), "ABC");
        EXPECT_EQ(editor.edURL->text(), "");
        EXPECT_EQ(editor.edPhone->text(), "123");
        EXPECT_EQ(editor.edMessage->text(), message);
        editor.btCancel->click();
    });
    window.acCampaignEdit->trigger();
    EXPECT_EQ(editors, 2);
    EXPECT_TRUE(shop.Errors.empty());
}

TEST(TfmMainDrops, FilesDroppedOnTheCampaignListOpenOneEditorEach) {
    // Situation: three files dropped on the campaign list, the second editor
    // cancelled; then a file dropped on the device list; then one dropped on
    // the campaign list while sending.
    // Expected: two editors, the first preset with its file; none for the
    // device list nor while sending.
    Shop shop(sim::ParseScenario(kOneRadio));
    shop.AddCampaign("Running");
    TfmMain& window = shop.Open();
    const QStringList files{QString::fromStdString(WriteSource(shop, "a.jpg", "A")),
                            QString::fromStdString(WriteSource(shop, "b.jpg", "B")),
                            QString::fromStdString(WriteSource(shop, "c.jpg", "C"))};
    int editors = 0;
    AnswerEditors<TfmFileBased>(window, editors, [&](TfmFileBased& editor) {
        if (editors == 1) {
            EXPECT_EQ(editor.edFileName->text(), "a.jpg");
            EXPECT_EQ(editor.FileEditor().SourcePath(), files[0].toStdString());
            editor.edCampaignName->setText("From a drop");
            editor.btOK->click();
        } else {
            editor.btCancel->click();
        }
    });
    window.FilesDropped(files, window.lvCampaigns->viewport());
    EXPECT_EQ(editors, 2);
    EXPECT_NE(RowNamed(window.lvCampaigns, "From a drop"), nullptr);

    window.FilesDropped(files, window.lvDevices->viewport());
    EXPECT_EQ(editors, 2);

    ASSERT_TRUE(shop.RunUntil([&] { return window.acSenderStart->isEnabled(); }));
    window.acSenderStart->trigger();
    ASSERT_TRUE(shop.RunUntil([&] { return window.Session().Active(); }));
    window.FilesDropped(files, window.lvCampaigns->viewport());
    EXPECT_EQ(editors, 2);
}

TEST(TfmMainCampaigns, AnOpenEditorLeavesTheSenderRunning) {
    // Situation: the sender runs; a new-campaign editor is open while the
    // clock moves on.
    // Expected: the device list fills while the editor is open.
    Shop shop(sim::ParseScenario(kOneRadio));
    shop.AddCampaign("Running");
    TfmMain& window = shop.Open();
    ASSERT_TRUE(shop.RunUntil([&] { return window.acSenderStart->isEnabled(); }));
    window.acSenderStart->trigger();
    int editors = 0;
    bool filled = false;
    AnswerEditors<TfmCampaignEditor>(window, editors, [&](TfmCampaignEditor& editor) {
        EXPECT_TRUE(editor.isModal());
        filled = shop.RunUntil([&] { return window.lvDevices->topLevelItemCount() == 1; });
        editor.btCancel->click();
    });
    window.acCampaignNewMessageBased->trigger();
    EXPECT_EQ(editors, 1);
    EXPECT_TRUE(filled);
}

TEST(TfmMainCampaigns, EachKindMadeInItsWindowIsSentToTheDevice) {
    // Situation: a file, a message and a coupon campaign, each created in its
    // window; the sender starts.
    // Expected: Anna's phone receives the file, the card and the picture, one
    // per cycle as the campaigns take turns.
    Shop shop(sim::ParseScenario(kOneRadio));
    TfmMain& window = shop.Open();
    const std::string source = WriteSource(shop, "promo.txt", "Come in!");
    int editors = 0;
    AnswerEditors<TfmCampaignEditor>(window, editors, [&](TfmCampaignEditor& editor) {
        editor.edCampaignName->setText(QStringLiteral("Kind %1").arg(editors));
        if (auto* file = dynamic_cast<TfmFileBased*>(&editor)) {
            file->ChooseSourceFile(QString::fromStdString(source));
        } else if (auto* message = dynamic_cast<TfmMessageBased*>(&editor)) {
            message->edMessage->setText("Hello");
        } else if (auto* coupon = dynamic_cast<TfmCouponBased*>(&editor)) {
            coupon->edPromotionName->setText("Deal");
        }
        editor.btOK->click();
    });
    window.acCampaignNewFileBased->trigger();
    window.acCampaignNewMessageBased->trigger();
    window.acCampaignNewCouponBased->trigger();
    ASSERT_EQ(window.lvCampaigns->topLevelItemCount(), 3);

    ASSERT_TRUE(shop.RunUntil([&] { return window.acSenderStart->isEnabled(); }));
    window.acSenderStart->trigger();
    const fs::path inbox = fs::path(shop.Root()) / "inboxes" / "0017E53A9102";
    EXPECT_TRUE(shop.RunUntil([&] {
        return fs::exists(inbox / "promo.txt") && fs::exists(inbox / "card.vcf") &&
               fs::exists(inbox / "Deal.jpg");
    })) << "inbox "
        << inbox;
    EXPECT_TRUE(shop.Errors.empty());
}

}  // namespace
}  // namespace kavri::gui
