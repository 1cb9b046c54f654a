#pragma once

// A shop for the window tests: a data folder, a stack session on a scenario
// of the virtual neighbourhood and the main window over both, on the Qt event
// loop with a manual clock; message boxes are replaced by recorders.

#include <gtest/gtest.h>

#include <QTreeWidget>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/AppSettings.h"
#include "app/DataFolder.h"
#include "app/DateTimeClock.h"
#include "app/IniFile.h"
#include "gui/TfmMain.h"
#include "host/StackSession.h"
#include "platform/Clock.h"
#include "platform/qt/QtEventLoop.h"
#include "sim/ScenarioParser.h"

#include <stdlib.h>

namespace kavri::gui::test {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

inline const std::string kAnna = "(00:17:E5:3A:91:02)";

inline const char* const kOneRadio =
    "stacks microsoft\n"
    "radio (00:1A:7D:DA:71:13) \"Shop Radio\"\n"
    "device (00:17:E5:3A:91:02) \"Anna's Phone\" class 0x5A020C\n"
    "  service 9 \"OBEX Object Push\" 0x1105\n";

// The row of list whose first column reads name; null when there is none.
inline QTreeWidgetItem* RowNamed(QTreeWidget* list, const QString& name) {
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        if (list->topLevelItem(i)->text(0) == name) {
            return list->topLevelItem(i);
        }
    }
    return nullptr;
}

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
    ManualDateTimeClock& Date() { return m_date; }

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

}  // namespace kavri::gui::test
