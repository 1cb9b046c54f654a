// The main window on the virtual neighbourhood, on the Qt event loop with a
// manual clock that moves only when nothing else is ready, so pauses and
// timeouts cost no real time. Message boxes are replaced by recorders.
#include "gui/TfmMain.h"

#include <gtest/gtest.h>

#include <QAction>
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
namespace fs = std::filesystem;

const std::string kAnna = "(00:17:E5:3A:91:02)";

const char* const kOneRadio =
    "stacks microsoft\n"
    "radio (00:1A:7D:DA:71:13) \"Shop Radio\"\n"
    "device (00:17:E5:3A:91:02) \"Anna's Phone\" class 0x5A020C\n"
    "  service 9 \"OBEX Object Push\" 0x1105\n";

// A data folder, a stack session on a scenario and the main window over both.
class Shop {
public:
    explicit Shop(sim::Scenario scenario) : m_stack(m_loop, m_clock, Root() + "/inboxes") {
        const Result opened = m_stack.OpenScenario(std::move(scenario));
        EXPECT_TRUE(opened) << opened.Message;
        fs::create_directories(Data());
        AppSettings settings(DataFolder::Open(Data()).SettingsFile());
        EXPECT_TRUE(settings.SetIdleTimeout(1));
        EXPECT_TRUE(settings.SetConnectTimeout(5));
    }
    ~Shop() {
        m_window.reset();
        std::error_code ignored;
        fs::remove_all(m_root, ignored);
    }

    std::string Root() {
        if (m_root.empty()) {
            std::string pattern = (fs::temp_directory_path() / "kavri-gui-XXXXXX").string();
            EXPECT_NE(::mkdtemp(pattern.data()), nullptr);
            m_root = pattern;
        }
        return m_root;
    }
    std::string Data() { return Root() + "/data"; }
    std::string AutoStartEntry() { return Root() + "/autostart/kavri.desktop"; }

    // A continuous, enabled file-based campaign, listed.
    void AddCampaign(const std::string& name) {
        const DataFolder data = DataFolder::Open(Data());
        const std::string folder = data.CampaignFolder(name);
        fs::create_directories(folder);
        IniFile record(folder + "settings.dat", DateFormat::Iso());
        ASSERT_TRUE(record.WriteValues("SETTINGS", {{"Name", name},
                                                    {"Type", "0"},
                                                    {"Scheduling", "0"},
                                                    {"Enabled", "1"},
                                                    {"FileName", "promo.txt"}}));
        std::ofstream(folder + "promo.txt", std::ios::binary) << "Come in!";
        std::ofstream(data.CampaignsFile(), std::ios::binary | std::ios::app)
            << DataFolder::CampaignFolderName(name) << "\r\n";
    }

    // Creates the window and runs its start-up; messages are recorded.
    TfmMain& Open() {
        MainWindowOptions options;
        options.DataFolder = Data();
        options.LanguageFile = std::string(KAVRI_SOURCE_DIR) + "/lang/kavri.lang";
        options.AutoStartEntry = AutoStartEntry();
        m_window = std::make_unique<TfmMain>(m_loop, m_date, options);
        m_window->ShowError = [this](const QString& message) { Errors.push_back(message); };
        m_window->Confirm = [this](const QString& question) {
            Questions.push_back(question);
            return ConfirmAnswer;
        };
        const Result created = m_window->FormCreate();
        EXPECT_TRUE(created) << created.Message;
        return *m_window;
    }
    TfmMain& Window() { return *m_window; }

    // Handles what is ready, else moves the clock on by one pacing step,
    // until done() holds; false when the step limit ran out.
    bool RunUntil(const std::function<bool()>& done) {
        for (int step = 0; step < 20000; ++step) {
            if (done()) {
                return true;
            }
            if (!m_loop.ProcessEvents(20ms)) {
                m_clock.Advance(250ms);
            }
        }
        return done();
    }
    // Lets the clock run for a while, handling everything on the way.
    void RunFor(std::chrono::milliseconds span) {
        const auto end = m_clock.Now() + span;
        while (m_clock.Now() < end) {
            while (m_loop.ProcessEvents(0ms)) {
            }
            m_clock.Advance(250ms);
        }
        m_loop.ProcessEvents(0ms);
    }

    std::vector<QString> Errors;
    std::vector<QString> Questions;
    bool ConfirmAnswer = false;

private:
    std::string m_root;
    ManualClock m_clock;
    QtEventLoop m_loop{m_clock};
    host::StackSession m_stack;
    ManualDateTimeClock m_date{
        TDateTime::FromParts({2026, 12, 9, 10, 0, 0, 0}).value_or(TDateTime())};
    std::unique_ptr<TfmMain> m_window;
};

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

QTreeWidgetItem* RowNamed(QTreeWidget* list, const QString& name) {
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        if (list->topLevelItem(i)->text(0) == name) {
            return list->topLevelItem(i);
        }
    }
    return nullptr;
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
    // Expected: the Start command's caption follows each change.
    Shop shop(sim::ParseScenario(""));
    TfmMain& window = shop.Open();
    EXPECT_EQ(window.acSenderStart->text(), "&Start");
    ASSERT_TRUE(window.Session().Settings().SetLanguage("German"));
    EXPECT_EQ(window.acSenderStart->text(), "&Starten");
    ASSERT_TRUE(window.Session().Settings().SetLanguage("English"));
    EXPECT_EQ(window.acSenderStart->text(), "&Start");
}

}  // namespace
}  // namespace kavri::gui
