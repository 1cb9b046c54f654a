// The main window on the virtual neighbourhood, on the Qt event loop with a
// manual clock that moves only when nothing else is ready, so pauses and
// timeouts cost no real time. Message boxes are replaced by recorders.
#include "gui/TfmMain.h"

#include "tests/gui/GuiShop.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QTreeWidget>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/AppSettings.h"
#include "app/DataFolder.h"
#include "app/DateTimeClock.h"
#include "app/IniFile.h"
#include "gui/GuiImages.h"
#include "host/Simulation.h"
#include "host/StackSession.h"
#include "platform/Clock.h"
#include "platform/qt/QtEventLoop.h"
#include "sim/ScenarioParser.h"
#include "stack/wclAPI.h"

#include <stdlib.h>

namespace kavri::gui {
namespace {

using namespace std::chrono_literals;
using test::kAnna;
using test::kOneRadio;
using test::RowNamed;
using test::Shop;
namespace fs = std::filesystem;

// Which of the commands are enabled, by name, for readable failures.
std::vector<std::string> EnabledCommands(const TfmMain& window) {
    const std::vector<std::pair<std::string, const QAction*>> commands = {
        {"Start", window.acSenderStart},
        {"Stop", window.acSenderStop},
        {"Exit", window.acSenderExit},
        {"NewFile", window.acCampaignNewFileBased},
        {"NewMessage", window.acCampaignNewMessageBased},
        {"NewCoupon", window.acCampaignNewCouponBased},
        {"Edit", window.acCampaignEdit},
        {"Delete", window.acCampaignDelete},
        {"Accepted", window.acViewAccepted},
        {"Rejected", window.acViewRejected},
        {"BlackList", window.acViewBlackList},
        {"Statistics", window.acViewStatistics},
        {"Settings", window.acToolsSettings},
        {"CheckCoupon", window.acToolsCheckCoupon},
        {"BlackListDevice", window.acToolsBlackListDevice},
        {"Help", window.acHelpHelp},
        {"About", window.acHelpAbout},
    };
    std::vector<std::string> enabled;
    for (const auto& [name, action] : commands) {
        if (action->isEnabled()) {
            enabled.push_back(name);
        }
    }
    return enabled;
}

const std::vector<std::string> kAlways = {"Exit",     "NewFile",     "NewMessage", "NewCoupon",
                                          "Accepted", "Rejected",    "BlackList",  "Statistics",
                                          "Settings", "CheckCoupon", "Help",       "About"};

std::vector<std::string> AlwaysAnd(std::vector<std::string> more) {
    std::vector<std::string> all = kAlways;
    all.insert(all.end(), more.begin(), more.end());
    std::sort(all.begin(), all.end());
    return all;
}

std::vector<std::string> Sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
}

TEST(TfmMainEnableRules, WithoutAStackOnlyTheAlwaysCommands) {
    // Situation: no stack installed, one campaign, nothing selected, then the
    // campaign selected. Expected: Start and Stop disabled throughout; Edit and
    // Delete only with the selection.
    Shop shop(sim::ParseScenario(""));
    shop.AddCampaign("Summer");
    TfmMain& window = shop.Open();
    shop.RunFor(2s);
    EXPECT_EQ(Sorted(EnabledCommands(window)), AlwaysAnd({}));
    window.lvCampaigns->setCurrentItem(RowNamed(window.lvCampaigns, "Summer"));
    EXPECT_EQ(Sorted(EnabledCommands(window)), AlwaysAnd({"Delete", "Edit"}));
}

TEST(TfmMainEnableRules, AStackWithoutARadioKeepsStartOff) {
    // Situation: the Microsoft stack is installed but has no radio.
    // Expected: Start stays disabled.
    Shop shop(sim::ParseScenario("stacks microsoft\n"));
    TfmMain& window = shop.Open();
    shop.RunFor(2s);
    EXPECT_EQ(Sorted(EnabledCommands(window)), AlwaysAnd({}));
}

TEST(TfmMainEnableRules, IdleThenSendingThenStopped) {
    // Situation: a radio and two campaigns; the sender runs one cycle, then
    // is stopped. Expected: idle enables Start; sending enables Stop, keeps
    // the active campaign from Edit and Delete but not the other, and fills
    // the device list with status images; stopping empties the list.
    Shop shop(sim::ParseScenario(kOneRadio));
    shop.AddCampaign("Summer");
    shop.AddCampaign("Winter");
    TfmMain& window = shop.Open();
    ASSERT_TRUE(shop.RunUntil([&] { return window.acSenderStart->isEnabled(); }));
    EXPECT_EQ(Sorted(EnabledCommands(window)), AlwaysAnd({"Start"}));
    EXPECT_EQ(window.TrayImageIndex(), 0);

    window.acSenderStart->trigger();
    ASSERT_TRUE(shop.RunUntil([&] { return window.lvDevices->topLevelItemCount() == 1; }));
    ASSERT_TRUE(shop.RunUntil([&] {
        const QVariant status = window.lvDevices->topLevelItem(0)->data(0, Qt::UserRole);
        return status.isValid() && status.toInt() == dsSent;
    }));
    EXPECT_TRUE(shop.Errors.empty());
    EXPECT_EQ(window.TrayImageIndex(), 1);
    EXPECT_EQ(window.lvDevices->topLevelItem(0)->text(0), "Anna's Phone");
    EXPECT_EQ(window.lvDevices->topLevelItem(0)->text(1), "Smartphone");
    EXPECT_EQ(window.lvDevices->topLevelItem(0)->text(2), QString::fromStdString(kAnna));
    EXPECT_EQ(window.lvDevices->topLevelItem(0)->text(3), "100 %");
    EXPECT_EQ(window.StatusText(), "Summer  |  sent 1, refused 0");
    EXPECT_EQ(Sorted(EnabledCommands(window)), AlwaysAnd({"Stop"}));

    window.lvCampaigns->setCurrentItem(RowNamed(window.lvCampaigns, "Summer"));
    EXPECT_FALSE(window.acCampaignEdit->isEnabled());
    EXPECT_FALSE(window.acCampaignDelete->isEnabled());
    window.lvCampaigns->setCurrentItem(RowNamed(window.lvCampaigns, "Winter"));
    window.lvDevices->setCurrentItem(window.lvDevices->topLevelItem(0));
    EXPECT_EQ(Sorted(EnabledCommands(window)),
              AlwaysAnd({"BlackListDevice", "Delete", "Edit", "Stop"}));

    window.acSenderStop->trigger();
    ASSERT_TRUE(shop.RunUntil([&] { return window.acSenderStart->isEnabled(); }));
    EXPECT_EQ(window.lvDevices->topLevelItemCount(), 0);
    EXPECT_EQ(window.TrayImageIndex(), 0);
    EXPECT_FALSE(window.acSenderStop->isEnabled());
    EXPECT_FALSE(window.acToolsBlackListDevice->isEnabled());
}

TEST(TfmMainDevices, APhoneIsShownSkippedByACampaignForComputers) {
    // Situation: the only campaign is for computers; the phone in range is
    // found. Expected: its row shows the skipped status with its own image,
    // and nothing is recorded for it.
    Shop shop(sim::ParseScenario(kOneRadio));
    shop.AddCampaign("Laptops");
    const std::string folder = DataFolder::Open(shop.Data()).CampaignFolder("Laptops");
    ASSERT_TRUE(IniFile(folder + "settings.dat", DateFormat::Iso())
                    .WriteString("SETTINGS", "DeviceTypes", "Computer"));
    TfmMain& window = shop.Open();
    ASSERT_TRUE(shop.RunUntil([&] { return window.acSenderStart->isEnabled(); }));
    window.acSenderStart->trigger();
    ASSERT_TRUE(shop.RunUntil([&] {
        return window.lvDevices->topLevelItemCount() == 1 &&
               window.lvDevices->topLevelItem(0)->data(0, Qt::UserRole).isValid();
    }));
    const QTreeWidgetItem* row = window.lvDevices->topLevelItem(0);
    EXPECT_EQ(row->data(0, Qt::UserRole).toInt(), dsSkipped);
    const auto picture = [](const QIcon& icon) { return icon.pixmap(16, 16).toImage(); };
    ASSERT_FALSE(row->icon(0).isNull());
    EXPECT_EQ(picture(row->icon(0)), picture(DeviceStatusImage(dsSkipped)));
    EXPECT_NE(picture(row->icon(0)), picture(DeviceStatusImage(dsRejected)));
    EXPECT_FALSE(fs::exists(folder + "rejected.dat"));
    EXPECT_FALSE(fs::exists(folder + "accepted.dat"));
    window.acSenderStop->trigger();
    ASSERT_TRUE(shop.RunUntil([&] { return window.acSenderStart->isEnabled(); }));
}

TEST(TfmMainStart, ARefusedSettingIsShownAndTheSenderStaysIdle) {
    // Situation: "MaxConnections" stored as 0, then Start.
    // Expected: the library's message is shown once; nothing runs, Start
    // stays enabled and Stop disabled.
    Shop shop(sim::ParseScenario(kOneRadio));
    {
        IniFile settings(DataFolder::Open(shop.Data()).SettingsFile(), DateFormat::Iso());
        ASSERT_TRUE(settings.WriteValues("SETTINGS", {{"MaxConnections", "0"}}));
    }
    TfmMain& window = shop.Open();
    ASSERT_TRUE(shop.RunUntil([&] { return window.acSenderStart->isEnabled(); }));
    window.acSenderStart->trigger();
    shop.RunFor(2s);
    ASSERT_EQ(shop.Errors.size(), 1u);
    EXPECT_FALSE(shop.Errors[0].isEmpty());
    EXPECT_FALSE(window.Session().Active());
    EXPECT_TRUE(window.acSenderStart->isEnabled());
    EXPECT_FALSE(window.acSenderStop->isEnabled());
}

TEST(TfmMainExit, ExitWhileSendingStopsTheEngineBeforeTheStacksGo) {
    // Situation: the sender runs; Exit.
    // Expected: the engine stops on request while the Bluetooth transport is
    // still there; afterwards the stacks are unloaded and Closed is raised.
    Shop shop(sim::ParseScenario(kOneRadio));
    shop.AddCampaign("Summer");
    TfmMain& window = shop.Open();
    ASSERT_TRUE(shop.RunUntil([&] { return window.acSenderStart->isEnabled(); }));
    window.acSenderStart->trigger();
    ASSERT_TRUE(shop.RunUntil([&] { return window.Session().Active(); }));

    std::vector<std::string> log;
    const auto stopped = window.Session().OnStopped;
    window.Session().OnStopped = [&](bool requested) {
        log.push_back(std::string(requested ? "stopped" : "stopped by itself") +
                      (IsTransportAvailable(TwclTransport::trBluetooth) ? " with stacks"
                                                                        : " without stacks"));
        stopped(requested);
    };
    QObject::connect(&window, &TfmMain::Closed, [&] { log.push_back("closed"); });
    window.acSenderExit->trigger();
    EXPECT_EQ(log, (std::vector<std::string>{"stopped with stacks", "closed"}));
    EXPECT_FALSE(IsTransportAvailable(TwclTransport::trBluetooth));
    EXPECT_FALSE(window.Session().Active());
}

TEST(TfmMainCampaigns, DeleteAsksFirstAndTakesTheFolderOnYes) {
    // Situation: two campaigns; Delete on one, declined, then confirmed.
    // Expected: declined changes nothing; confirmed removes its folder and
    // row and leaves the other campaign.
    Shop shop(sim::ParseScenario(""));
    shop.AddCampaign("Summer");
    shop.AddCampaign("Winter");
    TfmMain& window = shop.Open();
    const std::string folder = DataFolder::Open(shop.Data()).CampaignFolder("Summer");
    window.lvCampaigns->setCurrentItem(RowNamed(window.lvCampaigns, "Summer"));

    shop.ConfirmAnswer = false;
    window.acCampaignDelete->trigger();
    EXPECT_EQ(shop.Questions, (std::vector<QString>{"Delete the selected campaign?"}));
    EXPECT_TRUE(fs::exists(folder));
    EXPECT_EQ(window.lvCampaigns->topLevelItemCount(), 2);

    shop.ConfirmAnswer = true;
    window.acCampaignDelete->trigger();
    EXPECT_FALSE(fs::exists(folder));
    ASSERT_EQ(window.lvCampaigns->topLevelItemCount(), 1);
    EXPECT_EQ(window.lvCampaigns->topLevelItem(0)->text(0), "Winter");
    EXPECT_TRUE(shop.Errors.empty());
}

TEST(TfmMainAutoRun, StartsOneSecondAfterShowWhenARadioIsThere) {
    // Situation: the autostart entry exists and a radio is ready; the window
    // is shown. Expected: nothing before one second; then the sender runs and
    // the window is minimised.
    Shop shop(sim::ParseScenario(kOneRadio));
    fs::create_directories(fs::path(shop.AutoStartEntry()).parent_path());
    std::ofstream(shop.AutoStartEntry()) << "[Desktop Entry]\n";
    TfmMain& window = shop.Open();
    ASSERT_TRUE(shop.RunUntil([&] { return window.acSenderStart->isEnabled(); }));
    window.show();
    EXPECT_TRUE(window.AutoRunPending());
    EXPECT_FALSE(window.Session().Active());
    ASSERT_TRUE(shop.RunUntil([&] { return window.Session().Active(); }));
    EXPECT_FALSE(window.AutoRunPending());
    EXPECT_TRUE(window.isMinimized() || window.isHidden());
}

TEST(TfmMainAutoRun, WithoutARadioTheTimerFiresOnceAndNothingStarts) {
    // Situation: the autostart entry exists but no stack has a radio.
    // Expected: the timer runs out, nothing starts, and it is not restarted.
    Shop shop(sim::ParseScenario("stacks microsoft\n"));
    fs::create_directories(fs::path(shop.AutoStartEntry()).parent_path());
    std::ofstream(shop.AutoStartEntry()) << "[Desktop Entry]\n";
    TfmMain& window = shop.Open();
    window.show();
    EXPECT_TRUE(window.AutoRunPending());
    shop.RunFor(3s);
    EXPECT_FALSE(window.AutoRunPending());
    EXPECT_FALSE(window.Session().Active());
    EXPECT_FALSE(window.isMinimized());
}

TEST(TfmMainLanguage, ALanguageChangeRenamesTheWindowAtOnce) {
    // Situation: the language setting changes to German and back.
    // Expected: the Start command's caption and the status bar follow each
    // change.
    Shop shop(sim::ParseScenario(""));
    TfmMain& window = shop.Open();
    EXPECT_EQ(window.acSenderStart->text(), "&Start");
    ASSERT_TRUE(window.Session().Settings().SetLanguage("German"));
    EXPECT_EQ(window.acSenderStart->text(), "&Starten");
    EXPECT_EQ(window.StatusText(), "Keine aktive Kampagne  |  gesendet 0, abgelehnt 0");
    ASSERT_TRUE(window.Session().Settings().SetLanguage("English"));
    EXPECT_EQ(window.acSenderStart->text(), "&Start");
}

}  // namespace
}  // namespace kavri::gui
