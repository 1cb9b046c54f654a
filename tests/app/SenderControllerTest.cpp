// The controller over the real stack manager, discovery and sender engine: fake
// stacks answer the inquiries, name and class queries and the radio-name
// writes, and the pool's Object Push clients are fakes that the test connects,
// completes and fails by hand. The manual clock drives the sender's timers;
// waits for the discovery and hand-off threads are capped in real time.
#include "app/SenderController.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "AppTestFolder.h"
#include "app/AppSettings.h"
#include "app/CampaignStore.h"
#include "app/CampaignTable.h"
#include "app/CouponCheck.h"
#include "app/DateTimeClock.h"
#include "app/IniFile.h"
#include "platform/PollEventLoop.h"
#include "stack/wclExceptions.h"
#include "stack/wclFakeStacks.h"

namespace kavri {
namespace {

using namespace std::chrono_literals;
using test::At;
using test::ProcessPending;
using test::ProcessUntil;

constexpr std::size_t kBlueSoleil = 0;
constexpr std::size_t kMicrosoft = 1;

const std::string kFirst = "(00:00:00:00:00:01)";
const std::string kSecond = "(00:00:00:00:00:02)";
const std::string kThird = "(00:00:00:00:00:03)";

std::string Short(const std::string& address) {
    return address.empty() ? "-" : address.substr(16, 2);
}

// An Object Push client whose link the test brings up or fails; a put is
// recorded and completed by the test. Keeps itself in a registry while it
// lives, since the sender replaces its pool when MaxConnections changes.
class FakeClient final : public TwclOPPClient {
public:
    FakeClient(EventLoop& loop, std::vector<FakeClient*>& registry)
        : TwclOPPClient(loop), m_registry(registry) {
        m_registry.push_back(this);
    }
    ~FakeClient() override {
        DestroyingDisconnect();
        m_registry.erase(std::find(m_registry.begin(), m_registry.end(), this));
    }

    void LinkUp() {
        SetConnected(true);
        DoConnect(0);
    }
    void Fail(std::uint32_t result) {
        DoConnect(result);
        Disconnect();
    }
    using TwclOPPClient::Put;
    void Put(const std::string& name, std::unique_ptr<TwclOBEXObjectSource> object) override {
        puts.push_back(name + " " + std::to_string(object->Size()));
        if (realPut) {
            TwclOPPClient::Put(name, std::move(object));
            return;
        }
        std::string bytes(static_cast<std::size_t>(object->Size()), '\0');
        object->Read(std::span(reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size()));
        contents.push_back(std::move(bytes));
    }
    void FinishPut(std::uint32_t result) { OnComplete(*this, result, TwclOBEXOperation::ooPut); }

    std::vector<std::string> puts;
    // What each put (other than a real one) carried.
    std::vector<std::string> contents;
    // The put goes through the OBEX client itself, to a peer that never answers.
    bool realPut = false;

protected:
    void InternalConnect() override {}
    void InternalDisconnect() override {}
    void InternalWrite(const std::uint8_t*, std::size_t) override {}

private:
    std::vector<FakeClient*>& m_registry;
};

class SenderControllerTest : public ::testing::Test {
protected:
    SenderControllerTest()
        : store(DataFolder::Open(temp.Path() + "data"), DateFormat::Iso()),
          dateClock(At(2026, 12, 9, 10)),
          table(store, dateClock, [](std::string_view key) { return std::string(key); }),
          settings(store.Folder().SettingsFile()) {
        fakes.SetReady(kMicrosoft, true);
        {
            std::lock_guard lock(fakes[kMicrosoft].mutex);
            fakes[kMicrosoft].remoteName = "Phone";
            fakes[kMicrosoft].classOfDevice = 0x5A020C;
        }
    }
    ~SenderControllerTest() override { controller.reset(); }

    void MakeController() {
        controller = std::make_unique<SenderController>(
            loop, store, table, settings, dateClock, "KAVRI-HOST",
            [this](EventLoop& l) { return std::make_unique<FakeClient>(l, clients); });
        controller->OnEvent = [this](const SenderEvent& event) { Record(event); };
        controller->Decisions().OnRecordFailed = [](const std::string& message) {
            ADD_FAILURE() << message;
        };
    }
    void LoadController() {
        MakeController();
        controller->LoadStacks();
        ProcessPending(loop);
    }

    // The journal entry of an event: kind, device, campaign, result.
    void Record(const SenderEvent& event) {
        static const char* const kKinds[] = {"started",
                                             "discovery-started",
                                             "discovery-complete",
                                             "accept",
                                             "refuse",
                                             "connecting",
                                             "connected",
                                             "send-start",
                                             "send-complete",
                                             "disconnected",
                                             "sleep",
                                             "stopped"};
        std::ostringstream entry;
        entry << kKinds[static_cast<int>(event.Kind)];
        if (!event.Address.empty()) {
            entry << " " << Short(event.Address);
        }
        if (event.Result) {
            entry << " " << std::hex << std::uppercase << *event.Result;
        }
        if (event.Kind == SenderEventKind::Refuse) {
            entry << " reason " << static_cast<int>(event.Reason);
        }
        if (event.Kind == SenderEventKind::Stopped && event.Requested) {
            entry << " requested";
        }
        events.push_back(entry.str());
        fakes.journal->Add("event " + entry.str());
    }
    std::size_t Count(const std::string& entry) const {
        return static_cast<std::size_t>(std::count(events.begin(), events.end(), entry));
    }
    bool WaitFor(const std::string& entry) {
        return ProcessUntil(loop, [&] { return Count(entry) > 0; });
    }
    void Advance(std::chrono::milliseconds by) {
        clock.Advance(by);
        ProcessPending(loop);
    }
    FakeClient* ClientOf(const std::string& address) {
        for (FakeClient* client : clients) {
            if (client->Active() && client->BluetoothParams().Address() == address) {
                return client;
            }
        }
        ADD_FAILURE() << "no client for " << address;
        return nullptr;
    }

    void AddCampaign(const std::string& name, const std::string& payload) {
        const std::string folder = store.CampaignFolder(name);
        std::filesystem::create_directory(folder);
        IniFile record(folder + "settings.dat", DateFormat::Iso());
        ASSERT_TRUE(record.WriteValues("SETTINGS", {{"Name", name},
                                                    {"Type", "0"},
                                                    {"Scheduling", "0"},
                                                    {"Enabled", "1"},
                                                    {"FileName", "promo.txt"}}));
        test::Spill(folder + "promo.txt", payload);
        std::string error;
        ASSERT_TRUE(test::Done(store.Campaigns().Add(DataFolder::CampaignFolderName(name)), error))
            << error;
        table.RefreshCampaigns();
    }
    // A coupon campaign whose picture "Spring.jpg" holds "shared picture".
    void AddCouponCampaign(const std::string& name, const std::string& perDevice) {
        const std::string folder = store.CampaignFolder(name);
        std::filesystem::create_directory(folder);
        IniFile record(folder + "settings.dat", DateFormat::Iso());
        std::vector<std::pair<std::string_view, std::string_view>> values{
            {"Name", name},
            {"Type", "2"},
            {"Scheduling", "0"},
            {"Enabled", "1"},
            {"FileName", "Spring.jpg"},
            {"MessageText", "Spring Sale"},
            {"Coupon", "AB12CD"},
            {"CouponEnabled", "1"}};
        if (!perDevice.empty()) {
            values.emplace_back("CouponPerDevice", perDevice);
        }
        ASSERT_TRUE(record.WriteValues("SETTINGS", values));
        test::Spill(folder + "Spring.jpg", "shared picture");
        std::string error;
        ASSERT_TRUE(test::Done(store.Campaigns().Add(DataFolder::CampaignFolderName(name)), error))
            << error;
        table.RefreshCampaigns();
    }
    // Stands in for the picture renderer: the picture names its code.
    static Result RenderCode(const CouponRenderJob& job) {
        if (job.Record.MessageText != "Spring Sale") {
            return Result::Failure("not the campaign's record");
        }
        test::Spill(job.OutputPath, "picture " + job.Code);
        return Result::Success();
    }
    // The entries of the campaign folder, our cycle folders' contents
    // included; the store's lock files left out.
    std::vector<std::string> FolderEntries(const std::string& name) const {
        std::vector<std::string> entries;
        for (const auto& entry :
             std::filesystem::recursive_directory_iterator(store.CampaignFolder(name))) {
            if (entry.path().extension() == ".lock") {
                continue;
            }
            entries.push_back(
                std::filesystem::relative(entry.path(), store.CampaignFolder(name)).string());
        }
        std::sort(entries.begin(), entries.end());
        return entries;
    }
    void Found(std::vector<std::string> addresses) {
        std::lock_guard lock(fakes[kMicrosoft].mutex);
        fakes[kMicrosoft].inquiryResult = std::move(addresses);
    }

    ManualClock clock;
    PollEventLoop loop{clock};
    test::CaughtExceptions caught;
    test::FakeStacks fakes;
    TwclAPIManager manager{loop, fakes.Loaders()};
    test::TempFolder temp;
    CampaignStore store;
    ManualDateTimeClock dateClock;
    CampaignTable table;
    AppSettings settings;
    std::vector<FakeClient*> clients;
    std::vector<std::string> events;
    std::unique_ptr<SenderController> controller;
};

// ---- The radio ----------------------------------------------------------------------

TEST_F(SenderControllerTest, LoadedStacksSelectTheFirstStacksRadio) {
    // Situation: BlueSoleil and Microsoft are ready when the stacks load.
    // Expected: no radio before OnLoaded arrives; then BlueSoleil's (the first
    // in stack order), and Start is enabled while Stop is not.
    fakes.SetReady(kBlueSoleil, true);
    MakeController();
    controller->LoadStacks();
    EXPECT_EQ(controller->SelectedRadio(), nullptr) << "chosen on OnLoaded";
    EXPECT_FALSE(controller->StartEnabled());
    ProcessPending(loop);
    ASSERT_NE(controller->SelectedRadio(), nullptr);
    EXPECT_EQ(controller->SelectedRadio()->API(), TwclBluetoothAPI::baBlueSoleil);
    EXPECT_TRUE(controller->StartEnabled());
    EXPECT_FALSE(controller->StopEnabled());
}

TEST_F(SenderControllerTest, AManagerLoadedBeforeSelectsTheRadioAtOnce) {
    // Situation: the stack manager was loaded before the controller existed
    // (as kavrictl's session does), so no OnLoaded will come.
    // Expected: the radio is chosen during LoadStacks.
    manager.Load();
    ProcessPending(loop);
    MakeController();
    controller->LoadStacks();
    ASSERT_NE(controller->SelectedRadio(), nullptr);
    EXPECT_EQ(controller->SelectedRadio()->API(), TwclBluetoothAPI::baMicrosoft);
}

TEST_F(SenderControllerTest, WithoutAStackThereIsNoRadioAndStartFailsInTheEngine) {
    // Situation: no stack is ready. Expected: no radio, Start disabled; run
    // anyway, the steps give the engine no radio and it refuses to start.
    fakes.SetReady(kMicrosoft, false);
    LoadController();
    EXPECT_EQ(controller->SelectedRadio(), nullptr);
    EXPECT_FALSE(controller->StartEnabled());
    EXPECT_THROW(controller->Start(), wclERadioRequired);
    EXPECT_FALSE(controller->Active());
    EXPECT_TRUE(events.empty());
}

// ---- Start --------------------------------------------------------------------------

TEST_F(SenderControllerTest, StartAppliesTheSettingsReadAtThatMoment) {
    // Situation: settings stored; "LocalRadioName" empty at the first start
    // and set before the second; MaxConnections and the timeouts changed
    // while the sender runs.
    // Expected: first start: the computer's name on the radio and the stored
    // values (seconds times 1000) on the engine; the changes made while
    // running are not applied until the next start.
    ASSERT_TRUE(settings.SetConnectTimeout(9));
    ASSERT_TRUE(settings.SetMaxConnections(3));
    ASSERT_TRUE(settings.SetIdleTimeout(2));
    ASSERT_TRUE(settings.SetResponseTimeout(15));
    LoadController();

    controller->Start();
    EXPECT_TRUE(controller->Active());
    EXPECT_TRUE(controller->StopEnabled());
    EXPECT_FALSE(controller->StartEnabled());
    EXPECT_EQ(events.front(), "started");
    EXPECT_EQ(fakes[kMicrosoft].writtenName, "KAVRI-HOST");
    EXPECT_EQ(controller->Sender().Radio()->API(), TwclBluetoothAPI::baMicrosoft);
    EXPECT_EQ(controller->Sender().ConnectTimeOut(), 9000);
    EXPECT_EQ(controller->Sender().MaxConnections(), 3);
    EXPECT_EQ(controller->Sender().SleepInterval(), 2000u);
    EXPECT_EQ(controller->Sender().ResponseTimeOut(), 15000);
    EXPECT_EQ(clients.size(), 3u);
    EXPECT_EQ(clients.front()->ResponseTimeOut(), 15000);

    ASSERT_TRUE(settings.SetMaxConnections(7));
    ASSERT_TRUE(settings.SetConnectTimeout(30));
    ASSERT_TRUE(settings.SetIdleTimeout(60));
    ASSERT_TRUE(settings.SetResponseTimeout(600));
    ASSERT_TRUE(settings.SetLocalRadioName("Shop front"));
    controller->Start();  // does nothing while running
    EXPECT_EQ(controller->Sender().MaxConnections(), 3);
    EXPECT_EQ(controller->Sender().ResponseTimeOut(), 15000);
    EXPECT_EQ(Count("started"), 1u);

    controller->Stop();
    EXPECT_EQ(events.back(), "stopped requested");
    controller->Start();
    EXPECT_EQ(fakes[kMicrosoft].writtenName, "Shop front");
    EXPECT_EQ(controller->Sender().MaxConnections(), 7);
    EXPECT_EQ(controller->Sender().ConnectTimeOut(), 30000);
    EXPECT_EQ(controller->Sender().SleepInterval(), 60000u);
    EXPECT_EQ(controller->Sender().ResponseTimeOut(), 600000);
}

TEST_F(SenderControllerTest, ARefusedSettingEndsStartAndTheEngineStaysStopped) {
    // Situation: "MaxConnections" stored as 0, then "IdleTimeout" as 0.
    // Expected: the library's invalid-argument error with its message; the
    // steps before the refused one have taken effect, the later ones not; no
    // OnStarted; Start stays enabled.
    ASSERT_TRUE(settings.SetConnectTimeout(12));
    ASSERT_TRUE(settings.SetMaxConnections(0));
    ASSERT_TRUE(settings.SetIdleTimeout(4));
    LoadController();
    try {
        controller->Start();
        ADD_FAILURE() << "Start went through";
    } catch (const wclException& e) {
        EXPECT_EQ(e.ErrorCode(), kWclErrInvalidArgument);
        EXPECT_STREQ(e.what(), wclErrorMessage(kWclErrInvalidArgument));
    }
    EXPECT_FALSE(controller->Active());
    EXPECT_TRUE(controller->StartEnabled());
    EXPECT_EQ(controller->Sender().ConnectTimeOut(), 12000);
    EXPECT_EQ(controller->Sender().MaxConnections(), 5) << "the engine's own default";
    EXPECT_EQ(controller->Sender().SleepInterval(), 2000u);
    EXPECT_TRUE(events.empty());

    ASSERT_TRUE(settings.SetMaxConnections(2));
    ASSERT_TRUE(settings.SetIdleTimeout(0));
    EXPECT_THROW(controller->Start(), wclEInvalidArgument);
    EXPECT_EQ(controller->Sender().MaxConnections(), 2);
    EXPECT_FALSE(controller->Active());
    EXPECT_TRUE(events.empty());
}

// ---- A cycle ------------------------------------------------------------------------

TEST_F(SenderControllerTest, OneCycleReachesTheDecisionsAndTheListener) {
    // Situation: three devices found; the second is black-listed; the first
    // takes the push, the third refuses the connection.
    // Expected: the events in the engine's order with the decisions' reasons,
    // the file named by the campaign pushed, one record in each file, the
    // statuses in the device list; then the pause.
    AddCampaign("Summer", "hello");
    IniFile blackList(store.Folder().BlackListFile(), DateFormat::Iso());
    ASSERT_TRUE(blackList.WriteString(kSecond, "Name", "Banned"));
    Found({kFirst, kSecond, kThird});
    LoadController();

    controller->Start();
    ASSERT_TRUE(WaitFor("connecting 03"));
    EXPECT_EQ(table.ActiveCampaign(), "Summer");
    ClientOf(kFirst)->LinkUp();
    ASSERT_EQ(ClientOf(kFirst)->puts, std::vector<std::string>{"promo.txt 5"});
    ClientOf(kFirst)->FinishPut(0);
    ClientOf(kThird)->Fail(0x8000F02B);
    Advance(250ms);  // the pacing tick finds every device tried

    const std::vector<std::string> expected = {"started",
                                               "discovery-started",
                                               "discovery-complete",
                                               "accept 01",
                                               "refuse 02 reason 3",
                                               "accept 03",
                                               "connecting 01",
                                               "connecting 03",
                                               "connected 01 0",
                                               "send-start 01",
                                               "send-complete 01 0",
                                               "disconnected 01",
                                               "connected 03 8000F02B",
                                               "sleep"};
    EXPECT_EQ(events, expected);

    const std::string folder = store.CampaignFolder("Summer");
    const IniFile accepted(folder + "accepted.dat", DateFormat::Iso());
    EXPECT_EQ(accepted.ReadSections(), std::vector<std::string>{kFirst});
    EXPECT_EQ(accepted.ReadString(kFirst, "Name", ""), "Phone at " + kFirst);
    EXPECT_EQ(accepted.ReadString(kFirst, "COD", ""), "Smartphone");
    EXPECT_EQ(accepted.ReadString(kFirst, "DateTime", ""), "2026-12-09 10:00:00");
    const IniFile rejected(folder + "rejected.dat", DateFormat::Iso());
    EXPECT_EQ(rejected.ReadSections(), std::vector<std::string>{kThird});

    const auto& rows = controller->Decisions().Rows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].Status, dsSent);
    EXPECT_EQ(rows[1].Status, dsBlackListed);
    EXPECT_EQ(rows[2].Status, dsRejected);
    EXPECT_EQ(rows[2].TypeText, "Smartphone");
    EXPECT_TRUE(caught.Messages().empty());

    // Stopping empties the list and clears the campaign and its mark.
    controller->Stop();
    EXPECT_TRUE(controller->Decisions().Rows().empty());
    EXPECT_EQ(table.ActiveCampaign(), "");
    EXPECT_EQ(table.Rows()[0].State, csEnabled);
}

TEST_F(SenderControllerTest, AnUnansweredPushTimesOutUnrecordedAndTheNextDeviceIsServed) {
    // Situation: ResponseTimeout 10, one connection, two devices; the first
    // accepts the link and never answers the PUT.
    // Expected: nothing before 10 s; at 10 s send-complete 0x8000F02F and the
    // link closed; no record (the device is tried again next cycle); the next
    // pacing tick connects the second device.
    AddCampaign("Summer", "hello");
    ASSERT_TRUE(settings.SetResponseTimeout(10));
    ASSERT_TRUE(settings.SetMaxConnections(1));
    Found({kFirst, kSecond});
    LoadController();
    controller->Start();
    ASSERT_TRUE(WaitFor("connecting 01"));
    ASSERT_EQ(clients.size(), 1u);
    clients.front()->realPut = true;
    ClientOf(kFirst)->LinkUp();
    ASSERT_EQ(Count("send-start 01"), 1u);
    Advance(9999ms);
    EXPECT_EQ(Count("send-complete 01 8000F02F"), 0u);
    Advance(1ms);
    EXPECT_EQ(Count("send-complete 01 8000F02F"), 1u);
    EXPECT_EQ(events.back(), "disconnected 01");
    Advance(250ms);
    EXPECT_EQ(events.back(), "connecting 02");

    const std::string folder = store.CampaignFolder("Summer");
    EXPECT_TRUE(IniFile(folder + "rejected.dat", DateFormat::Iso()).ReadSections().empty());
    EXPECT_TRUE(IniFile(folder + "accepted.dat", DateFormat::Iso()).ReadSections().empty());
    EXPECT_EQ(controller->Decisions().Rows()[0].Status, dsFailed);
}

// ---- Stopping by itself and shutting down -----------------------------------------------

TEST_F(SenderControllerTest, LosingTheStackStopsTheSenderAndTheRadio) {
    // Situation: the Microsoft stack goes away while the sender pauses.
    // Expected: a stop that nobody asked for, no radio, Start disabled.
    LoadController();
    controller->Start();
    ASSERT_TRUE(WaitFor("sleep"));
    PostMessage(manager.WindowHandle(), wclMsg::kMicrosoftAbsent);
    ASSERT_TRUE(WaitFor("stopped"));
    ProcessPending(loop);
    EXPECT_EQ(controller->SelectedRadio(), nullptr);
    EXPECT_FALSE(controller->StartEnabled());
    EXPECT_FALSE(controller->StopEnabled());
}

TEST_F(SenderControllerTest, ShutdownStopsTheEngineBeforeTheStacksUnload) {
    // Situation: the sender is connecting to a device when the program ends.
    // Expected: a requested "stopped" comes before the first stack unloads
    // (had the stacks unloaded first, the engine would have stopped on its
    // own, unrequested); the radio is gone; a second shutdown and the
    // destructor do nothing more.
    AddCampaign("Summer", "x");
    Found({kFirst});
    LoadController();
    controller->Start();
    ASSERT_TRUE(WaitFor("connecting 01"));
    fakes.journal->Clear();

    controller->Shutdown();
    const std::vector<std::string> journal = fakes.journal->Entries();
    ASSERT_FALSE(journal.empty());
    EXPECT_EQ(journal.front(), "event stopped requested");
    EXPECT_NE(std::find(journal.begin(), journal.end(), "unload Microsoft"), journal.end());
    EXPECT_FALSE(controller->Active());
    EXPECT_EQ(controller->SelectedRadio(), nullptr);
    EXPECT_FALSE(manager.IsLoaded());

    controller->Shutdown();
    controller.reset();
    EXPECT_EQ(fakes.journal->Entries(), journal);
}

TEST_F(SenderControllerTest, ShutdownWhileStoppedOnlyUnloads) {
    // Situation: the program ends without having sent. Expected: no stop event,
    // the stacks unloaded.
    LoadController();
    controller->Shutdown();
    EXPECT_TRUE(events.empty());
    EXPECT_FALSE(manager.IsLoaded());
}

// ---- A code per device -------------------------------------------------------------

TEST_F(SenderControllerTest, TwoPhonesGetTwoCodesInTwoPicturesAndTheCheckFindsEach) {
    // Situation: a coupon campaign with a code per device; two phones accept
    // and push at the same time.
    // Expected: two different codes, each phone receives the picture with its
    // own code under the picture's name, each record keeps its code, the
    // coupon check finds exactly one device per code, and no picture is left
    // once the pushes ended and the sender stopped.
    AddCouponCampaign("Spring", "1");
    Found({kFirst, kSecond});
    LoadController();
    controller->SetCouponRenderer(&SenderControllerTest::RenderCode);
    controller->Start();
    ASSERT_TRUE(WaitFor("connecting 02"));
    ASSERT_TRUE(ProcessUntil(loop, [&] {
        return controller->Coupons().Ready(kFirst) && controller->Coupons().Ready(kSecond);
    }));
    const std::string first = controller->Coupons().CodeOf(kFirst);
    const std::string second = controller->Coupons().CodeOf(kSecond);
    ASSERT_EQ(first.size(), 6u);
    ASSERT_EQ(second.size(), 6u);
    EXPECT_NE(first, second);
    EXPECT_NE(first, "AB12CD");

    FakeClient* one = ClientOf(kFirst);
    FakeClient* two = ClientOf(kSecond);
    one->LinkUp();
    two->LinkUp();
    EXPECT_EQ(one->puts, std::vector<std::string>{"Spring.jpg 14"});
    EXPECT_EQ(two->puts, std::vector<std::string>{"Spring.jpg 14"});
    EXPECT_EQ(one->contents, std::vector<std::string>{"picture " + first});
    EXPECT_EQ(two->contents, std::vector<std::string>{"picture " + second});
    two->FinishPut(0);
    one->FinishPut(0);
    Advance(250ms);

    const IniFile accepted(store.CampaignFolder("Spring") + "accepted.dat", DateFormat::Iso());
    EXPECT_EQ(accepted.ReadString(kFirst, "Coupon", ""), first);
    EXPECT_EQ(accepted.ReadString(kSecond, "Coupon", ""), second);
    EXPECT_EQ(accepted.ReadString(kFirst, "Name", ""), "Phone at " + kFirst);
    for (const auto& [code, address] : {std::pair{first, kFirst}, std::pair{second, kSecond}}) {
        std::vector<CouponMatch> matches;
        ASSERT_TRUE(test::Succeeded(FindCoupon(store, code, matches)));
        ASSERT_EQ(matches.size(), 1u) << code;
        EXPECT_EQ(matches[0].Address, address);
    }
    EXPECT_EQ(test::Slurp(store.CampaignFolder("Spring") + "Spring.jpg"), "shared picture");
    // The cycle's folder stays until the cycle ends, but holds no picture.
    const std::vector<std::string> during = FolderEntries("Spring");
    EXPECT_EQ(during.size(), 4u);
    EXPECT_TRUE(std::none_of(during.begin(), during.end(), [](const std::string& entry) {
        return entry.find('/') != std::string::npos;
    })) << "a picture is left";

    controller->Stop();
    EXPECT_EQ(FolderEntries("Spring"),
              (std::vector<std::string>{"Spring.jpg", "accepted.dat", "settings.dat"}));
}

TEST_F(SenderControllerTest, APictureThatFailsToRenderFailsThePushUnrecorded) {
    // Situation: a code per device, but the renderer fails.
    // Expected: the failure is reported; the device's push fails without a
    // record (it is tried again later) and its code is given back.
    AddCouponCampaign("Spring", "1");
    Found({kFirst});
    LoadController();
    std::vector<std::string> failures;
    controller->Decisions().OnRecordFailed = [&](const std::string& message) {
        failures.push_back(message);
    };
    controller->SetCouponRenderer(
        [](const CouponRenderJob&) { return Result::Failure("out of ink"); });
    controller->Start();
    ASSERT_TRUE(WaitFor("connecting 01"));
    ASSERT_TRUE(ProcessUntil(loop, [&] { return !failures.empty(); }));
    EXPECT_NE(failures[0].find("out of ink"), std::string::npos) << failures[0];
    EXPECT_EQ(controller->Coupons().CodeOf(kFirst), "");

    FakeClient* one = ClientOf(kFirst);
    one->LinkUp();
    EXPECT_TRUE(one->contents.empty()) << "nothing is pushed";
    EXPECT_EQ(Count("send-complete 01 0"), 0u);
    EXPECT_TRUE(std::any_of(events.begin(), events.end(), [](const std::string& event) {
        return event.starts_with("send-complete 01 ");
    })) << "the push was reported as failed";
    const auto& rows = controller->Decisions().Rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].Status, dsFailed);
    EXPECT_FALSE(std::filesystem::exists(store.CampaignFolder("Spring") + "accepted.dat"));
}

TEST_F(SenderControllerTest, ACouponCampaignWithoutTheKeySendsItsOneCodeAsBefore) {
    // Situation: a coupon campaign written before codes per device existed,
    // with the renderer available; two phones accept.
    // Expected: both receive the campaign's picture and both records keep the
    // campaign's code; nothing is rendered.
    AddCouponCampaign("Spring", "");
    Found({kFirst, kSecond});
    LoadController();
    controller->SetCouponRenderer([](const CouponRenderJob&) {
        ADD_FAILURE() << "rendered";
        return Result::Success();
    });
    controller->Start();
    ASSERT_TRUE(WaitFor("connecting 02"));
    EXPECT_FALSE(controller->Coupons().Active());
    FakeClient* one = ClientOf(kFirst);
    FakeClient* two = ClientOf(kSecond);
    one->LinkUp();
    two->LinkUp();
    EXPECT_EQ(one->contents, std::vector<std::string>{"shared picture"});
    EXPECT_EQ(two->contents, std::vector<std::string>{"shared picture"});
    one->FinishPut(0);
    two->FinishPut(0);
    const IniFile accepted(store.CampaignFolder("Spring") + "accepted.dat", DateFormat::Iso());
    EXPECT_EQ(accepted.ReadString(kFirst, "Coupon", ""), "AB12CD");
    EXPECT_EQ(accepted.ReadString(kSecond, "Coupon", ""), "AB12CD");
}

}  // namespace
}  // namespace kavri
