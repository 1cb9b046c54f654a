// kavrictl run over the virtual neighbourhood. The end-to-end cases build the
// neighbourhood as the session of kavrictl does, with a virtual Object Push
// server behind each device, but on a manual clock that moves only when
// nothing else is ready, so the pause between cycles and the pacing cost no
// real time. Waits for the discovery thread and the loopback links are capped
// in real time. The cases through the command's own session end before any
// pause begins.
#include "cli/RunCommand.h"

#include <gtest/gtest.h>
#include <CLI/CLI.hpp>

#include "CliTestSupport.h"
#include "cli/Commands.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <signal.h>
#include <unistd.h>

#include "app/AppSettings.h"
#include "app/DataFolder.h"
#include "app/DateTimeClock.h"
#include "app/IniFile.h"
#include "host/StackSession.h"
#include "platform/Clock.h"
#include "platform/PollEventLoop.h"
#include "sim/ScenarioParser.h"
#include "sim/VirtualObjectPushDevices.h"
#include "stack/wclExceptions.h"

namespace kavri::cli {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

const std::string kAnna = "(00:17:E5:3A:91:02)";
const std::string kNokia = "(00:16:B8:29:C4:0A)";
const std::string kHeadset = "(00:0D:44:B2:18:7F)";
const std::string kBanned = "(00:1B:59:05:A3:C8)";

const char* const kStreet =
    "stacks microsoft\n"
    "radio (00:1A:7D:DA:71:13) \"Shop Radio\"\n"
    "device (00:17:E5:3A:91:02) \"Anna's Phone\" class 0x5A020C\n"
    "  service 9 \"OBEX Object Push\" 0x1105\n"
    "device (00:16:B8:29:C4:0A) \"Nokia\\t6230i\" class 0x5A0204 behaviour refuse-object 0xC3\n"
    "  service 4 \"OBEX Object Push\" 0x1105\n"
    "device (00:0D:44:B2:18:7F) \"BT Headset\" class 0x240404 behaviour no-object-push\n"
    "  service 1 \"Headset\" 0x1108\n"
    "device (00:1B:59:05:A3:C8) \"Banned\" class 0x5A020C\n"
    "  service 6 \"OBEX Object Push\" 0x1105\n";

// The moment every printed time and record shows.
TDateTime Morning() {
    return TDateTime::FromParts({2026, 12, 9, 10, 0, 0, 0}).value_or(TDateTime());
}

using test::Drain;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

bool HasLine(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// A data folder under the temporary folder, gone with the object.
class Folder {
public:
    Folder() {
        std::string pattern = (fs::temp_directory_path() / "kavri-run-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            ADD_FAILURE() << "cannot create a temporary folder";
        }
        m_root = pattern;
    }
    ~Folder() {
        std::error_code ignored;
        fs::remove_all(m_root, ignored);
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    fs::path Root() const { return m_root; }
    std::string Data() const { return (m_root / "data").string(); }
    std::string Campaign(const std::string& folderName) const {
        return (m_root / "data" / folderName).string() + "/";
    }

    // A continuous file-based campaign whose payload is promo.txt.
    void AddCampaign(const std::string& name, const std::string& payload) {
        const DataFolder data = DataFolder::Open(Data());
        const std::string folder = data.CampaignFolder(name);
        fs::create_directories(folder);
        IniFile record(folder + "settings.dat", DateFormat::Iso());
        ASSERT_TRUE(record.WriteValues("SETTINGS", {{"Name", name},
                                                    {"Type", "0"},
                                                    {"Scheduling", "0"},
                                                    {"Enabled", "1"},
                                                    {"FileName", "promo.txt"}}));
        std::ofstream(folder + "promo.txt", std::ios::binary) << payload;
        std::ofstream(data.CampaignsFile(), std::ios::binary | std::ios::app)
            << DataFolder::CampaignFolderName(name) << "\r\n";
    }
    void BlackList(const std::string& address) {
        IniFile blackList(DataFolder::Open(Data()).BlackListFile(), DateFormat::Iso());
        ASSERT_TRUE(blackList.WriteString(address, "Name", "x"));
    }
    AppSettings Settings() const { return AppSettings(DataFolder::Open(Data()).SettingsFile()); }

private:
    fs::path m_root;
};

// The session of kavrictl (the virtual neighbourhood with a server and an
// inbox for each device that offers Object Push, the stack manager loaded), on
// a manual clock.
class ManualSession {
public:
    ManualSession(const std::string& scenarioText, const fs::path& inboxRoot)
        : m_stack(m_loop, m_clock, inboxRoot.string()) {
        const Result opened = m_stack.OpenScenario(sim::ParseScenario(scenarioText));
        EXPECT_TRUE(opened) << opened.Message;
    }

    fs::path Inbox(const std::string& address) const { return m_stack.Devices()->InboxOf(address); }

    // Handles what is ready; when nothing came within a short real wait,
    // moves the clock on by one pacing step. The limit turns a hang into a
    // failure.
    RunEnvironment Environment(const DateTimeClock& clock,
                               std::function<void()> beforeEachStep = {}) {
        return RunEnvironment{m_loop, clock, "KAVRI-HOST", [this, beforeEachStep] {
                                  if (beforeEachStep) {
                                      beforeEachStep();
                                  }
                                  if (++m_steps > 20000) {
                                      ADD_FAILURE() << "the run does not end";
                                      ::raise(SIGTERM);
                                  }
                                  if (!m_loop.ProcessEvents(20ms)) {
                                      m_clock.Advance(250ms);
                                  }
                              }};
    }

private:
    ManualClock m_clock;
    PollEventLoop m_loop{m_clock};
    host::StackSession m_stack;
    int m_steps = 0;
};

using test::Outcome;

Outcome RunIn(RunEnvironment environment, const RunOptions& options) {
    return test::Capture([&](std::FILE* out, std::FILE* err) {
        return RunSenderIn(environment, options, out, err);
    });
}

Outcome RunCommand(const RunOptions& options) {
    return test::Capture(
        [&](std::FILE* out, std::FILE* err) { return RunSender(options, out, err); });
}

std::string Line(const std::string& event, const std::string& address, const std::string& name,
                 const std::string& campaign, const std::string& result) {
    return "2026-12-09 10:00:00\t" + event + "\t" + address + "\t" + name + "\t" + campaign + "\t" +
           result;
}

TEST(RunCommand, TwoCyclesPushRecordAndRefuseAsDecided) {
    // Situation: one campaign; a phone that takes the push, one that refuses
    // the object (its name carries a tab), a headset without Object Push, a
    // black-listed phone; one connection at a time, refusals kept for good.
    // Expected: the exact lines of two cycles, then the orderly stop; the
    // file in the phone's inbox; the phone in accepted.dat, the refusing
    // phone in rejected.dat, nothing for the headset; status 0.
    Folder folder;
    folder.AddCampaign("Summer", "Come in, we are open!");
    folder.BlackList(kBanned);
    {
        AppSettings settings = folder.Settings();
        ASSERT_TRUE(settings.SetMaxConnections(1));
        ASSERT_TRUE(settings.SetIdleTimeout(1));
    }
    ManualSession session(kStreet, folder.Root() / "inboxes");
    const ManualDateTimeClock clock(Morning());
    RunOptions options;
    options.DataFolder = folder.Data();
    options.Cycles = 2;
    const Outcome outcome = RunIn(session.Environment(clock), options);

    EXPECT_EQ(outcome.Status, 0) << outcome.Err;
    EXPECT_EQ(outcome.Err, "");
    const std::string anna = "Anna's Phone";
    const std::string nokia = "Nokia\\t6230i";
    const std::string headset = "BT Headset";
    const std::vector<std::string> expected = {
        Line("started", "-", "-", "-", "-"),
        Line("discovery-started", "-", "-", "-", "-"),
        Line("discovery-complete", "-", "-", "Summer", "-"),
        Line("accept", kAnna, anna, "Summer", "-"),
        Line("accept", kNokia, nokia, "Summer", "-"),
        Line("accept", kHeadset, headset, "Summer", "-"),
        Line("refuse", kBanned, "Banned", "Summer", "black-listed"),
        Line("connecting", kAnna, anna, "Summer", "-"),
        Line("connected", kAnna, anna, "Summer", "0x00000000"),
        Line("send-start", kAnna, anna, "Summer", "-"),
        Line("send-complete", kAnna, anna, "Summer", "0x00000000"),
        Line("disconnected", kAnna, anna, "Summer", "-"),
        Line("connecting", kNokia, nokia, "Summer", "-"),
        Line("connected", kNokia, nokia, "Summer", "0x00000000"),
        Line("send-start", kNokia, nokia, "Summer", "-"),
        Line("send-complete", kNokia, nokia, "Summer", "0x8000F01C"),
        Line("disconnected", kNokia, nokia, "Summer", "-"),
        Line("connecting", kHeadset, headset, "Summer", "-"),
        Line("connected", kHeadset, headset, "Summer", "0x8000F02E"),
        // Cycle 2: the same campaign; only the headset is tried again.
        Line("discovery-started", "-", "-", "Summer", "-"),
        Line("discovery-complete", "-", "-", "Summer", "-"),
        Line("refuse", kAnna, anna, "Summer", "already-accepted"),
        Line("refuse", kNokia, nokia, "Summer", "recently-refused"),
        Line("accept", kHeadset, headset, "Summer", "-"),
        Line("refuse", kBanned, "Banned", "Summer", "black-listed"),
        Line("connecting", kHeadset, headset, "Summer", "-"),
        Line("connected", kHeadset, headset, "Summer", "0x8000F02E"),
        Line("stopped", "-", "-", "-", "-"),
    };
    EXPECT_EQ(Lines(outcome.Out), expected);

    std::ifstream pushed(session.Inbox(kAnna) / "promo.txt", std::ios::binary);
    std::ostringstream content;
    content << pushed.rdbuf();
    EXPECT_EQ(content.str(), "Come in, we are open!");
    EXPECT_FALSE(fs::exists(session.Inbox(kNokia) / "promo.txt"));

    const IniFile accepted(folder.Campaign("SUMMER") + "accepted.dat");
    EXPECT_EQ(accepted.ReadSections(), std::vector<std::string>{kAnna});
    EXPECT_EQ(accepted.ReadString(kAnna, "Name", ""), anna);
    EXPECT_EQ(accepted.ReadString(kAnna, "COD", ""), "Smartphone");
    EXPECT_EQ(accepted.ReadDateTime(kAnna, "DateTime", TDateTime()).Value(), clock.Now().Value());
    EXPECT_TRUE(accepted.ValueExists(kAnna, "Coupon"));
    const IniFile rejected(folder.Campaign("SUMMER") + "rejected.dat");
    EXPECT_EQ(rejected.ReadSections(), std::vector<std::string>{kNokia});
    EXPECT_EQ(rejected.ReadString(kNokia, "Name", ""), "Nokia 6230i") << "tab stored as a blank";
    EXPECT_EQ(rejected.ReadString(kNokia, "COD", ""), "Mobile phone");
}

TEST(RunCommand, OnLinuxsOwnStackThePhoneGetsItsFileAndTheRefusalIsKept) {
    // Situation: the same street on the BlueZ stack alone (its stand-in daemon
    // on a private bus), and a phone that never answers; one cycle.
    // Expected: the phone's push completes and its file is in its inbox; the
    // refusing phone's push ends in the refusal and is recorded; the headset's
    // lookup finds no Object Push; a phone that never answers ends in the
    // connect time-out; status 0.
    Folder folder;
    folder.AddCampaign("Summer", "Come in, we are open!");
    {
        AppSettings settings = folder.Settings();
        ASSERT_TRUE(settings.SetIdleTimeout(1));
        ASSERT_TRUE(settings.SetConnectTimeout(2));
    }
    std::string street = kStreet;
    street.replace(0, std::string("stacks microsoft").size(), "stacks bluez");
    street +=
        "device (00:1C:A4:62:9B:3D) \"Silent\" class 0x5A020C behaviour never-answer\n"
        "  service 10 \"OBEX Object Push\" 0x1105\n";
    ManualSession session(street, folder.Root() / "inboxes");
    const ManualDateTimeClock clock(Morning());
    RunOptions options;
    options.DataFolder = folder.Data();
    options.Cycles = 1;
    const Outcome outcome = RunIn(session.Environment(clock), options);
    EXPECT_EQ(outcome.Status, 0) << outcome.Err;
    EXPECT_EQ(outcome.Err, "");
    const std::vector<std::string> lines = Lines(outcome.Out);
    const auto has = [&](const std::string& line) { return HasLine(lines, line); };
    EXPECT_TRUE(has(Line("send-complete", kAnna, "Anna's Phone", "Summer", "0x00000000")))
        << outcome.Out;
    EXPECT_TRUE(has(Line("send-complete", kNokia, "Nokia\\t6230i", "Summer", "0x8000F01C")))
        << outcome.Out;
    EXPECT_TRUE(has(Line("connected", kHeadset, "BT Headset", "Summer", "0x8000F02E")))
        << outcome.Out;
    EXPECT_TRUE(has(Line("connected", "(00:1C:A4:62:9B:3D)", "Silent", "Summer", "0x8000F02F")))
        << outcome.Out;
    EXPECT_TRUE(fs::exists(session.Inbox(kAnna) / "promo.txt"));
    const IniFile rejected(folder.Campaign("SUMMER") + "rejected.dat");
    EXPECT_EQ(rejected.ReadSections(), std::vector<std::string>{kNokia});
}

TEST(RunCommand, ACampaignForPhonesSkipsTheHeadset) {
    // Situation: the campaign is for phones only; one cycle over the street.
    // Expected: the headset is refused as "other-device-type" and never
    // connected to, the phones are accepted; no record names the headset.
    Folder folder;
    folder.AddCampaign("Summer", "Come in, we are open!");
    {
        IniFile record(folder.Campaign("SUMMER") + "settings.dat", DateFormat::Iso());
        ASSERT_TRUE(record.WriteString("SETTINGS", "DeviceTypes", "Phone"));
    }
    ManualSession session(kStreet, folder.Root() / "inboxes");
    const ManualDateTimeClock clock(Morning());
    RunOptions options;
    options.DataFolder = folder.Data();
    options.Cycles = 1;
    const Outcome outcome = RunIn(session.Environment(clock), options);

    EXPECT_EQ(outcome.Status, 0) << outcome.Err;
    const std::vector<std::string> lines = Lines(outcome.Out);
    const auto has = [&lines](const std::string& line) { return HasLine(lines, line); };
    EXPECT_TRUE(has(Line("refuse", kHeadset, "BT Headset", "Summer", "other-device-type")))
        << outcome.Out;
    EXPECT_TRUE(has(Line("accept", kAnna, "Anna's Phone", "Summer", "-"))) << outcome.Out;
    EXPECT_FALSE(has(Line("connecting", kHeadset, "BT Headset", "Summer", "-"))) << outcome.Out;
    for (const char* file : {"accepted.dat", "rejected.dat"}) {
        EXPECT_FALSE(IniFile(folder.Campaign("SUMMER") + file).SectionExists(kHeadset)) << file;
    }
}

TEST(RunCommand, ASignalEndsTheRunInOrder) {
    // Situation: no cycle limit and no campaign; SIGINT arrives once the first
    // line is out. Expected: the sender is stopped and its last line is
    // "stopped"; status 0; the earlier SIGINT handling is back afterwards.
    Folder folder;
    ManualSession session(kStreet, folder.Root() / "inboxes");
    const ManualDateTimeClock clock(Morning());
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    bool raised = false;
    RunEnvironment environment = session.Environment(clock, [&] {
        if (!raised && std::ftell(out) > 0) {
            raised = true;
            ::raise(SIGINT);
        }
    });
    RunOptions options;
    options.DataFolder = folder.Data();
    const int status = RunSenderIn(environment, options, out, err);
    const std::vector<std::string> lines = Lines(Drain(out));
    EXPECT_EQ(status, 0) << Drain(err);
    EXPECT_TRUE(raised);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines.front(), Line("started", "-", "-", "-", "-"));
    EXPECT_EQ(lines.back(), Line("stopped", "-", "-", "-", "-"));

    struct sigaction now {};
    ASSERT_EQ(::sigaction(SIGINT, nullptr, &now), 0);
    EXPECT_EQ(now.sa_handler, SIG_DFL);
}

TEST(RunCommand, ARefusedSettingIsOneErrorLine) {
    // Situation: "MaxConnections" stored as 0. Expected: the library's message
    // on one line, nothing on standard output, status 1.
    Folder folder;
    folder.AddCampaign("Summer", "x");
    {
        AppSettings settings = folder.Settings();
        ASSERT_TRUE(settings.SetMaxConnections(0));
    }
    ManualSession session(kStreet, folder.Root() / "inboxes");
    const ManualDateTimeClock clock(Morning());
    RunOptions options;
    options.DataFolder = folder.Data();
    const Outcome outcome = RunIn(session.Environment(clock), options);
    EXPECT_EQ(outcome.Status, 1);
    EXPECT_EQ(outcome.Out, "");
    EXPECT_EQ(outcome.Err,
              std::string("kavrictl: ") + wclErrorMessage(kWclErrInvalidArgument) + "\n");
}

TEST(RunCommand, LosingTheRadioEndsTheRunWithAnError) {
    // Situation: the radio is pulled two seconds into the run (no cycle limit).
    // Expected: the sender stops by itself, "stopped" is the last line, one
    // error line says why, status 1.
    Folder folder;
    {
        AppSettings settings = folder.Settings();
        ASSERT_TRUE(settings.SetIdleTimeout(1));
    }
    ManualSession session(
        "stacks microsoft\n"
        "radio (00:1A:7D:DA:71:13) \"Shop Radio\" present 0-2s\n"
        "device (00:17:E5:3A:91:02) \"Anna's Phone\" class 0x5A020C\n"
        "  service 9 \"OBEX Object Push\" 0x1105\n",
        folder.Root() / "inboxes");
    const ManualDateTimeClock clock(Morning());
    RunOptions options;
    options.DataFolder = folder.Data();
    const Outcome outcome = RunIn(session.Environment(clock), options);
    EXPECT_EQ(outcome.Status, 1);
    EXPECT_EQ(outcome.Err, "kavrictl: the sender stopped: the radio is no longer available\n");
    const std::vector<std::string> lines = Lines(outcome.Out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), Line("stopped", "-", "-", "-", "-"));
    EXPECT_EQ(std::count(lines.begin(), lines.end(), Line("started", "-", "-", "-", "-")), 1);
}

TEST(RunCommand, AnotherStacksRadioTakesOverWhenTheFirstGoes) {
    // Situation: Microsoft's radio is pulled after two seconds, Widcomm's is
    // plugged in then; a second phone is seen by Widcomm alone.
    // Expected: the sender starts again on Widcomm and the second phone gets
    // the file; the run ends after its cycles with status 0.
    Folder folder;
    folder.AddCampaign("Summer", "Open today");
    {
        AppSettings settings = folder.Settings();
        ASSERT_TRUE(settings.SetIdleTimeout(1));
    }
    ManualSession session(
        "stacks microsoft widcomm\n"
        "radio (00:1A:7D:DA:71:13) \"Microsoft's\" on microsoft present 0-2s\n"
        "radio (00:1A:7D:DA:71:14) \"Widcomm's\" on widcomm present 2s-\n"
        "device (00:17:E5:3A:91:02) \"Anna's Phone\" class 0x5A020C\n"
        "  service 9 \"OBEX Object Push\" 0x1105\n"
        "device (00:1E:3A:44:07:B1) \"Zoe's Phone\" class 0x5A020C on widcomm\n"
        "  service 4 \"OBEX Object Push\" 0x1105\n",
        folder.Root() / "inboxes");
    const ManualDateTimeClock clock(Morning());
    RunOptions options;
    options.DataFolder = folder.Data();
    options.Cycles = 6;
    const Outcome outcome = RunIn(session.Environment(clock), options);
    EXPECT_EQ(outcome.Status, 0) << outcome.Err;
    EXPECT_EQ(outcome.Err, "");
    const std::vector<std::string> lines = Lines(outcome.Out);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), Line("started", "-", "-", "-", "-")), 2);
    EXPECT_TRUE(fs::exists(folder.Root() / "inboxes" / "001E3A4407B1" / "promo.txt"))
        << outcome.Out;
}

// ---- Through the command's own session ----------------------------------------------

std::string WriteScenario(const Folder& folder, const std::string& text) {
    const fs::path path = folder.Root() / "street.scenario";
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
}

TEST(RunCommand, WithoutARadioItFailsWithTheTransportMessage) {
    // Situation: a neighbourhood where the stack is installed but no radio.
    // Expected: one error line with the library's message, status 1, nothing
    // on standard output.
    Folder folder;
    RunOptions options;
    options.DataFolder = folder.Data();
    options.Scenario = WriteScenario(folder, "stacks microsoft\n");
    const Outcome outcome = RunCommand(options);
    EXPECT_EQ(outcome.Status, 1);
    EXPECT_EQ(outcome.Out, "");
    EXPECT_EQ(outcome.Err, "kavrictl: Transport is not available.\n");
}

TEST(RunCommand, OneCycleOnTheRealClocks) {
    // Situation: the command's own session on the real clocks; one campaign,
    // one device that takes the push; one cycle, which ends when the sender
    // begins its pause (after one pacing step of 250 ms, no pause).
    // Expected: the lines of the cycle and the stop, each with six fields and
    // a time of the form YYYY-MM-DD HH:MM:SS; the file in the device's inbox
    // and the device in accepted.dat; status 0.
    Folder folder;
    folder.AddCampaign("Summer", "Open today");
    RunOptions options;
    options.DataFolder = folder.Data();
    options.InboxRoot = (folder.Root() / "inboxes").string();
    options.Cycles = 1;
    options.Scenario = WriteScenario(folder,
                                     "stacks microsoft\n"
                                     "radio (00:1A:7D:DA:71:13) \"Shop Radio\"\n"
                                     "device (00:17:E5:3A:91:02) \"Anna\" class 0x5A020C\n"
                                     "  service 9 \"OBEX Object Push\" 0x1105\n");
    const Outcome outcome = RunCommand(options);
    EXPECT_EQ(outcome.Status, 0) << outcome.Err;
    EXPECT_EQ(outcome.Err, "");
    std::vector<std::string> rest;
    for (const std::string& line : Lines(outcome.Out)) {
        ASSERT_GT(line.size(), 20u) << line;
        const std::string time = line.substr(0, 19);
        for (std::size_t i : {4u, 7u}) {
            EXPECT_EQ(time[i], '-') << line;
        }
        EXPECT_EQ(time[10], ' ') << line;
        EXPECT_EQ(time[13], ':') << line;
        EXPECT_EQ(line[19], '\t') << line;
        rest.push_back(line.substr(20));
    }
    const std::string device = kAnna + "\tAnna\tSummer\t";
    EXPECT_EQ(rest, (std::vector<std::string>{
                        "started\t-\t-\t-\t-", "discovery-started\t-\t-\t-\t-",
                        "discovery-complete\t-\t-\tSummer\t-", "accept\t" + device + "-",
                        "connecting\t" + device + "-", "connected\t" + device + "0x00000000",
                        "send-start\t" + device + "-", "send-complete\t" + device + "0x00000000",
                        "disconnected\t" + device + "-", "stopped\t-\t-\t-\t-"}));
    const fs::path inbox = folder.Root() / "inboxes" / "0017E53A9102" / "promo.txt";
    std::ifstream pushed(inbox, std::ios::binary);
    std::ostringstream content;
    content << pushed.rdbuf();
    EXPECT_EQ(content.str(), "Open today") << inbox;
    const IniFile accepted(folder.Campaign("SUMMER") + "accepted.dat");
    EXPECT_EQ(accepted.ReadSections(), std::vector<std::string>{kAnna});
}

// The lines of out so far, without disturbing the writer.
std::vector<std::string> LinesSoFar(std::FILE* out) {
    std::string text;
    char buffer[4096];
    off_t at = 0;
    for (ssize_t n = 0; (n = ::pread(fileno(out), buffer, sizeof buffer, at)) > 0; at += n) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return Lines(text);
}

TEST(RunCommand, CampaignChangesFromAnotherProcessCountFromTheNextCycle) {
    // Situation: the run sends "Spring" to a phone; after the first cycle
    // another process disables "Spring" and adds "Summer"; after the second it
    // takes "Summer" off the campaign list again.
    // Expected: cycle 2 sends "Summer" (the disabled campaign is not sent to
    // anyone), cycle 3 has no campaign and refuses the phone for that reason.
    Folder folder;
    folder.AddCampaign("Spring", "spring offer");
    {
        AppSettings settings = folder.Settings();
        ASSERT_TRUE(settings.SetMaxConnections(1));
        ASSERT_TRUE(settings.SetIdleTimeout(1));
    }
    ManualSession session(
        "stacks microsoft\n"
        "radio (00:1A:7D:DA:71:13) \"Shop Radio\"\n"
        "device (00:17:E5:3A:91:02) \"Anna's Phone\" class 0x5A020C\n"
        "  service 9 \"OBEX Object Push\" 0x1105\n",
        folder.Root() / "inboxes");
    const ManualDateTimeClock clock(Morning());
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    int stage = 0;
    RunEnvironment environment = session.Environment(clock, [&] {
        const std::vector<std::string> lines = LinesSoFar(out);
        const auto disconnects = std::count_if(lines.begin(), lines.end(), [](const auto& line) {
            return line.find("\tdisconnected\t") != std::string::npos;
        });
        if (stage == 0 && disconnects == 1) {
            stage = 1;
            IniFile record(folder.Campaign("SPRING") + "settings.dat", DateFormat::Iso());
            ASSERT_TRUE(record.WriteString("SETTINGS", "Enabled", "0"));
            folder.AddCampaign("Summer", "summer offer");
        } else if (stage == 1 && disconnects == 2) {
            stage = 2;
            std::ofstream(DataFolder::Open(folder.Data()).CampaignsFile(),
                          std::ios::binary | std::ios::trunc)
                << "SPRING\r\n";
        }
    });
    RunOptions options;
    options.DataFolder = folder.Data();
    options.Cycles = 3;
    const int status = RunSenderIn(environment, options, out, err);
    EXPECT_EQ(status, 0) << Drain(err);
    std::vector<std::string> decisions;
    for (const std::string& line : Lines(Drain(out))) {
        for (const char* event :
             {"\tdiscovery-complete\t", "\taccept\t", "\trefuse\t", "\tsend-complete\t"}) {
            if (line.find(event) != std::string::npos) {
                decisions.push_back(line);
            }
        }
    }
    const std::string anna = "Anna's Phone";
    EXPECT_EQ(decisions, (std::vector<std::string>{
                             Line("discovery-complete", "-", "-", "Spring", "-"),
                             Line("accept", kAnna, anna, "Spring", "-"),
                             Line("send-complete", kAnna, anna, "Spring", "0x00000000"),
                             Line("discovery-complete", "-", "-", "Summer", "-"),
                             Line("accept", kAnna, anna, "Summer", "-"),
                             Line("send-complete", kAnna, anna, "Summer", "0x00000000"),
                             Line("discovery-complete", "-", "-", "-", "-"),
                             Line("refuse", kAnna, anna, "-", "no-campaign"),
                         }));
    EXPECT_EQ(stage, 2);
}

TEST(RunRegistration, ACycleCountThatIsNoWholeNumberIsAPlainUsageError) {
    // Situation: --cycles -1, --cycles 2.5 and --cycles 3 on the command line.
    // Expected: the first two are refused by the parser with one short
    // message naming the value; the third parses.
    for (const std::string value : {"-1", "2.5"}) {
        CLI::App app;
        const GlobalOptions global;
        // The action owns what the parser writes to; it lives while parsing.
        const CommandAction action = RegisterRunCommand(app, global);
        std::string message;
        try {
            app.parse("run --cycles " + value, false);
        } catch (const CLI::ParseError& e) {
            message = e.what();
        }
        EXPECT_NE(message.find("\"" + value + "\" is not a number of cycles"), std::string::npos)
            << message;
        EXPECT_LT(message.size(), 120u) << message;
    }
    CLI::App app;
    const GlobalOptions global;
    const CommandAction action = RegisterRunCommand(app, global);
    EXPECT_NO_THROW(app.parse("run --cycles 3", false));
}

TEST(StopSignals, ASignalOnlyMarksThePipeAndHandlersComeBack) {
    // Situation: SIGTERM while the watch is installed; a second watch at the
    // same time. Expected: Take reports it once; the second is refused; the
    // previous handler is in place after destruction.
    struct sigaction before {};
    ASSERT_EQ(::sigaction(SIGTERM, nullptr, &before), 0);
    {
        StopSignals signals;
        EXPECT_FALSE(signals.Take());
        EXPECT_THROW(StopSignals(), std::logic_error);
        ::raise(SIGTERM);
        ::raise(SIGTERM);
        EXPECT_TRUE(signals.Take());
        EXPECT_FALSE(signals.Take());
    }
    struct sigaction after {};
    ASSERT_EQ(::sigaction(SIGTERM, nullptr, &after), 0);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
}

TEST(RunCommand, AnUnreadableBlackListRefusesEveryDeviceAndSaysWhy) {
    // Situation: the black list exists but cannot be read (a folder stands in
    // its place); one cycle over the street.
    // Expected: every device refused with unreadable-records and none
    // connected to; one line on stderr naming the file; nothing recorded.
    Folder folder;
    folder.AddCampaign("Summer", "Come in, we are open!");
    fs::create_directories(DataFolder::Open(folder.Data()).BlackListFile());
    ManualSession session(kStreet, folder.Root() / "inboxes");
    const ManualDateTimeClock clock(Morning());
    RunOptions options;
    options.DataFolder = folder.Data();
    options.Cycles = 1;
    const Outcome outcome = RunIn(session.Environment(clock), options);

    EXPECT_EQ(outcome.Status, 0) << outcome.Err;
    EXPECT_EQ(outcome.Err, "kavrictl: cannot read " +
                               DataFolder::Open(folder.Data()).BlackListFile() +
                               ": not a regular file; refusing the devices it decides for\n");
    EXPECT_EQ(Lines(outcome.Out),
              (std::vector<std::string>{
                  Line("started", "-", "-", "-", "-"),
                  Line("discovery-started", "-", "-", "-", "-"),
                  Line("discovery-complete", "-", "-", "Summer", "-"),
                  Line("refuse", kAnna, "Anna's Phone", "Summer", "unreadable-records"),
                  Line("refuse", kNokia, "Nokia\\t6230i", "Summer", "unreadable-records"),
                  Line("refuse", kHeadset, "BT Headset", "Summer", "unreadable-records"),
                  Line("refuse", kBanned, "Banned", "Summer", "unreadable-records"),
                  Line("stopped", "-", "-", "-", "-"),
              }));
    EXPECT_FALSE(fs::exists(folder.Campaign("SUMMER") + "accepted.dat"));
}

}  // namespace
}  // namespace kavri::cli
