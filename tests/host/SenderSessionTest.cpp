// The sender session on the virtual neighbourhood with a manual clock that
// moves only when nothing else is ready, so timeouts and pauses cost no real
// time. Waits for the discovery thread and the loopback links are capped.
#include "host/SenderSession.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/AppSettings.h"
#include "app/CampaignTable.h"
#include "app/DataFolder.h"
#include "app/DateTimeClock.h"
#include "app/IniFile.h"
#include "host/Simulation.h"
#include "host/StackSession.h"
#include "platform/Clock.h"
#include "platform/PollEventLoop.h"
#include "sim/ScenarioParser.h"

#include <stdlib.h>

namespace kavri::host {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

const std::string kAnna = "(00:17:E5:3A:91:02)";
const std::string kNokia = "(00:16:B8:29:C4:0A)";
const std::string kHeadset = "(00:0D:44:B2:18:7F)";

// A data folder beside a stack session on a scenario, on the manual clock.
class Street {
public:
    explicit Street(sim::Scenario scenario) : m_stack(m_loop, m_clock, Root() + "/inboxes") {
        const Result opened = m_stack.OpenScenario(std::move(scenario));
        EXPECT_TRUE(opened) << opened.Message;
    }
    ~Street() {
        std::error_code ignored;
        fs::remove_all(m_root, ignored);
    }

    std::string Root() {
        if (m_root.empty()) {
            std::string pattern = (fs::temp_directory_path() / "kavri-host-XXXXXX").string();
            EXPECT_NE(::mkdtemp(pattern.data()), nullptr);
            m_root = pattern;
        }
        return m_root;
    }
    std::string Data() { return Root() + "/data"; }

    // A continuous file-based campaign, listed.
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

    EventLoop& Loop() { return m_loop; }
    const DateTimeClock& Date() const { return m_date; }

private:
    std::string m_root;
    ManualClock m_clock;
    PollEventLoop m_loop{m_clock};
    StackSession m_stack;
    ManualDateTimeClock m_date{
        TDateTime::FromParts({2026, 12, 9, 10, 0, 0, 0}).value_or(TDateTime())};
};

// Every session event as one line of text, in order.
void Record(SenderSession& session, std::vector<std::string>& log) {
    session.OnTransportChanged = [&log](bool on) {
        log.push_back(on ? "transport" : "no transport");
    };
    session.OnRadioChanged = [&log](const TwclBluetoothRadio* radio) {
        log.push_back(radio ? "radio" : "no radio");
    };
    session.OnStarted = [&log] { log.push_back("started"); };
    session.OnStopped = [&log](bool requested) {
        log.push_back(requested ? "stopped" : "stopped by itself");
    };
    session.OnActiveCampaignChanged = [&log](const std::string& name) {
        log.push_back("active " + name);
    };
}

TEST(SenderSession, OneCycleOnTheDemoStreet) {
    // Situation: the demo neighbourhood, one campaign, a run of one discovery
    // cycle, then Stop.
    // Expected: transport and radio on load; started; the campaign active
    // from discovery on; device rows with names and types; the statuses of
    // the push, the refusal and the missing service in order, matching the
    // rows; then stopped on request and no active campaign.
    Street street(sim::LoadScenarioFile(DemoScenarioPath()));
    street.AddCampaign("Summer");
    {
        AppSettings settings(DataFolder::Open(street.Data()).SettingsFile());
        ASSERT_TRUE(settings.SetIdleTimeout(1));
        ASSERT_TRUE(settings.SetConnectTimeout(5));
    }
    SenderSession session(street.Loop(), street.Date(), "KAVRI-HOST");
    std::vector<std::string> log;
    Record(session, log);
    std::vector<DeviceRow> found;
    session.OnDiscoveryComplete = [&](const std::vector<DeviceRow>& rows) { found = rows; };
    std::map<std::string, std::vector<DeviceStatus>> statuses;
    session.OnDeviceStatus = [&](const DeviceRow& row) {
        ASSERT_TRUE(row.Status);
        statuses[row.Address].push_back(*row.Status);
    };
    bool cycleDone = false;
    session.OnSenderEvent = [&](const SenderEvent& event) {
        cycleDone = cycleDone || event.Kind == SenderEventKind::SleepStarted;
    };

    ASSERT_TRUE(session.Open(street.Data()));
    ASSERT_TRUE(session.LoadStacks());
    ASSERT_TRUE(street.RunUntil([&] { return session.StartEnabled(); }));
    EXPECT_EQ(log, (std::vector<std::string>{"transport", "radio"}));
    ASSERT_TRUE(session.Start());
    ASSERT_TRUE(street.RunUntil([&] { return cycleDone; }));

    const auto anna = std::find_if(found.begin(), found.end(),
                                   [](const DeviceRow& row) { return row.Address == kAnna; });
    ASSERT_NE(anna, found.end());
    EXPECT_EQ(anna->Name, "Anna's Phone");
    EXPECT_EQ(anna->TypeText, "Smartphone");
    EXPECT_FALSE(anna->Status);
    EXPECT_EQ(statuses[kAnna], (std::vector<DeviceStatus>{dsAccepted, dsConnecting, dsConnected,
                                                          dsSending, dsSent}));
    EXPECT_EQ(statuses[kNokia], (std::vector<DeviceStatus>{dsAccepted, dsConnecting, dsConnected,
                                                           dsSending, dsRejected}));
    EXPECT_EQ(statuses[kHeadset], (std::vector<DeviceStatus>{dsAccepted, dsConnecting, dsFailed}));
    for (const DeviceRow& row : session.DeviceRows()) {
        ASSERT_TRUE(row.Status) << row.Address;
        EXPECT_EQ(*row.Status, statuses[row.Address].back()) << row.Address;
    }

    session.Stop();
    ASSERT_TRUE(street.RunUntil([&] { return !session.Active(); }));
    EXPECT_EQ(log, (std::vector<std::string>{"transport", "radio", "started", "active Summer",
                                             "stopped", "active "}));
    EXPECT_TRUE(session.DeviceRows().empty());
}

TEST(SenderSession, LosingTheRadioIsToldWithoutPolling) {
    // Situation: a radio that is pulled two seconds in, while sending.
    // Expected: started; then the transport goes, the radio is lost and the
    // sender stops by itself; Start is refused with the library's message.
    Street street(
        sim::ParseScenario("stacks microsoft\n"
                           "radio (00:1A:7D:DA:71:13) \"Shop Radio\" present 0-2s\n"));
    SenderSession session(street.Loop(), street.Date(), "KAVRI-HOST");
    std::vector<std::string> log;
    Record(session, log);
    ASSERT_TRUE(session.Open(street.Data()));
    ASSERT_TRUE(session.LoadStacks());
    ASSERT_TRUE(street.RunUntil([&] { return session.StartEnabled(); }));
    ASSERT_TRUE(session.Start());
    ASSERT_TRUE(street.RunUntil([&] { return !session.TransportAvailable(); }));
    ASSERT_TRUE(street.RunUntil([&] { return !session.Active(); }));
    // The stacks tell the change first; the engine then stops.
    EXPECT_EQ(log, (std::vector<std::string>{"transport", "radio", "started", "no transport",
                                             "no radio", "stopped by itself"}));
    const Result refused = session.Start();
    EXPECT_FALSE(refused);
    EXPECT_EQ(refused.Message, "Transport is not available.");
}

TEST(SenderSession, CampaignChangesOnDiskAreToldOnce) {
    // Situation: the session refreshes its campaigns before and after a
    // campaign is added on disk, twice each.
    // Expected: one OnCampaignsChanged for the first look and one for the
    // addition, which then shows in the table; none when nothing changed.
    Street street(sim::ParseScenario("stacks microsoft\n"));
    SenderSession session(street.Loop(), street.Date(), "KAVRI-HOST");
    int changes = 0;
    session.OnCampaignsChanged = [&] { ++changes; };
    ASSERT_TRUE(session.Open(street.Data()));
    session.RefreshCampaigns();
    session.RefreshCampaigns();
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(session.Table().Rows().empty());
    street.AddCampaign("Winter");
    session.RefreshCampaigns();
    session.RefreshCampaigns();
    EXPECT_EQ(changes, 2);
    ASSERT_EQ(session.Table().Rows().size(), 1u);
    EXPECT_EQ(session.Table().Rows()[0].Name, "Winter");
}

}  // namespace
}  // namespace kavri::host
