#include "stack/wclBluetoothDiscovery.h"

#include <gtest/gtest.h>

#include "platform/Clock.h"
#include "platform/PollEventLoop.h"
#include "platform/Text.h"
#include "stack/wclAPI.h"
#include "stack/wclExceptions.h"
#include "wclFakeStacks.h"

#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace kavri {
namespace {

using test::CaughtExceptions;
using test::FakeStacks;
using test::Gate;
using test::ProcessPending;
using test::ProcessUntil;

constexpr std::size_t kMicrosoft = 1;
constexpr std::size_t kWidcomm = 3;

const std::string kAddressA = "(00:11:22:33:44:55)";
const std::string kAddressB = "(AA:BB:CC:DD:EE:FF)";

template <typename Call>
std::string ErrorOf(Call call) {
    try {
        call();
    } catch (const wclException& e) {
        return e.what();
    }
    return "(no error)";
}

// What the discovery's events delivered, copied as a handler must.
struct Completion {
    TwclBluetoothAPI api;
    std::optional<std::vector<std::string>> addresses;
};

class DiscoveryTest : public ::testing::Test {
protected:
    void SetUp() override { stacks.SetReady(kMicrosoft, true); }

    void Load() {
        manager = std::make_unique<TwclAPIManager>(loop, stacks.Loaders());
        manager->Load();
        ProcessPending(loop);
    }

    void Record(TwclBluetoothDiscovery& discovery) {
        discovery.OnDiscoveryStarted = [this](TwclBluetoothDiscovery&,
                                              const TwclBluetoothRadio& radio) {
            started.push_back(radio.API());
        };
        discovery.OnDiscoveryComplete = [this](TwclBluetoothDiscovery&,
                                               const TwclBluetoothRadio& radio,
                                               const TwclBluetoothDevices* devices) {
            Completion c{radio.API(), std::nullopt};
            if (devices != nullptr) {
                c.addresses.emplace();
                for (int i = 0; i < devices->Count(); ++i) {
                    c.addresses->push_back(devices->Items(i).Address());
                }
            }
            completed.push_back(c);
        };
    }

    void SetInquiry(std::size_t stack, std::optional<std::vector<std::string>> result) {
        std::lock_guard lock(stacks[stack].mutex);
        stacks[stack].inquiryResult = std::move(result);
    }
    std::shared_ptr<Gate> HoldInquiry(std::size_t stack) {
        auto gate = std::make_shared<Gate>();
        std::lock_guard lock(stacks[stack].mutex);
        stacks[stack].inquiryGate = gate;
        return gate;
    }
    // The discovery threads of a stack have ended once they have let go of
    // their share of its binding slot.
    bool WaitForThreadsToEnd(const std::shared_ptr<wclBindingSlot>& slot, long othersHolding) {
        return ProcessUntil(loop, [&] { return slot.use_count() == othersHolding; });
    }

    ManualClock clock;
    PollEventLoop loop{clock};
    FakeStacks stacks;
    std::unique_ptr<TwclAPIManager> manager;
    const TwclBluetoothRadio microsoft{TwclBluetoothAPI::baMicrosoft};
    std::vector<TwclBluetoothAPI> started;
    std::vector<Completion> completed;
};

TEST_F(DiscoveryTest, EnumRadiosGivesOneRadioPerReadyStackInFixedOrder) {
    // Widcomm and Microsoft ready. Expected: two radios, Microsoft first.
    stacks.SetReady(kWidcomm, true);
    Load();
    TwclBluetoothDiscovery discovery(loop);
    const auto radios = discovery.EnumRadios();
    ASSERT_EQ(radios->Count(), 2);
    EXPECT_EQ(radios->Items(0).API(), TwclBluetoothAPI::baMicrosoft);
    EXPECT_EQ(radios->Items(1).API(), TwclBluetoothAPI::baWidComm);
}

TEST_F(DiscoveryTest, EnumRadiosNeedsTheBluetoothTransport) {
    // Before Load, then loaded without any stack. Expected: not loaded, then
    // transport not available.
    stacks.SetReady(kMicrosoft, false);
    TwclBluetoothDiscovery discovery(loop);
    EXPECT_EQ(ErrorOf([&] { discovery.EnumRadios(); }), "API subsystem was not loaded.");
    Load();
    EXPECT_EQ(ErrorOf([&] { discovery.EnumRadios(); }), "Transport is not available.");
}

TEST_F(DiscoveryTest, ReportsStartThenDevicesInStackOrder) {
    // The stack finds A, B and A again. Expected: OnDiscoveryStarted, then
    // OnDiscoveryComplete with A, B, A for the Microsoft radio; busy until then.
    Load();
    SetInquiry(kMicrosoft, std::vector<std::string>{kAddressA, kAddressB, kAddressA});
    TwclBluetoothDiscovery discovery(loop);
    Record(discovery);
    discovery.Discover(&microsoft);
    EXPECT_TRUE(discovery.Discovering());
    ASSERT_TRUE(ProcessUntil(loop, [&] { return !completed.empty(); }));

    EXPECT_EQ(started, std::vector<TwclBluetoothAPI>{TwclBluetoothAPI::baMicrosoft});
    ASSERT_EQ(completed.size(), 1u);
    EXPECT_EQ(completed[0].api, TwclBluetoothAPI::baMicrosoft);
    EXPECT_EQ(completed[0].addresses, (std::vector<std::string>{kAddressA, kAddressB, kAddressA}));
    EXPECT_FALSE(discovery.Discovering());
}

TEST_F(DiscoveryTest, InquiryOutcomes) {
    // Failed, empty, and with entries that are not addresses. Expected: no list;
    // an empty list; only the valid addresses.
    struct Case {
        const char* name;
        std::optional<std::vector<std::string>> stackResult;
        std::optional<std::vector<std::string>> expected;
    };
    const Case cases[] = {
        {"failed", std::nullopt, std::nullopt},
        {"empty", std::vector<std::string>{}, std::vector<std::string>{}},
        {"hostile",
         std::vector<std::string>{kAddressA, "", "00:11:22:33:44:55", "(GG:11:22:33:44:55)",
                                  kAddressB},
         std::vector<std::string>{kAddressA, kAddressB}},
    };
    Load();
    TwclBluetoothDiscovery discovery(loop);
    Record(discovery);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        completed.clear();
        SetInquiry(kMicrosoft, c.stackResult);
        discovery.Discover(&microsoft);
        ASSERT_TRUE(ProcessUntil(loop, [&] { return !completed.empty(); }));
        EXPECT_EQ(completed[0].addresses, c.expected);
    }
}

TEST_F(DiscoveryTest, DiscoverChecksInOrder) {
    // A discovery running, none running with no radio, a stack without radio.
    // Expected: in progress first (even with no radio), then radio required,
    // then the stack check.
    Load();
    TwclBluetoothDiscovery discovery(loop);
    EXPECT_EQ(ErrorOf([&] { discovery.Discover(nullptr); }), "Radio required.");
    const TwclBluetoothRadio widcomm(TwclBluetoothAPI::baWidComm);
    EXPECT_EQ(ErrorOf([&] { discovery.Discover(&widcomm); }), "Bluetooth API is not available.");
    EXPECT_FALSE(discovery.Discovering());

    const auto gate = HoldInquiry(kMicrosoft);
    discovery.Discover(&microsoft);
    EXPECT_EQ(ErrorOf([&] { discovery.Discover(nullptr); }),
              "Asynchronous operation is in progress.");
    EXPECT_EQ(ErrorOf([&] { discovery.Discover(&microsoft); }),
              "Asynchronous operation is in progress.");
    gate->Open();
    ASSERT_TRUE(ProcessUntil(loop, [&] { return !discovery.Discovering(); }));
}

TEST_F(DiscoveryTest, StillBusyInsideItsOwnHandlers) {
    // Discover called from inside both handlers, then again after completion.
    // Expected: both inner calls raise "in progress"; afterwards a new one runs.
    Load();
    TwclBluetoothDiscovery discovery(loop);
    std::vector<std::string> inner;
    int completions = 0;
    discovery.OnDiscoveryStarted = [&](TwclBluetoothDiscovery& sender,
                                       const TwclBluetoothRadio& radio) {
        inner.push_back(ErrorOf([&] { sender.Discover(&radio); }));
    };
    discovery.OnDiscoveryComplete = [&](TwclBluetoothDiscovery& sender,
                                        const TwclBluetoothRadio& radio,
                                        const TwclBluetoothDevices*) {
        inner.push_back(ErrorOf([&] { sender.Discover(&radio); }));
        ++completions;
    };
    discovery.Discover(&microsoft);
    ASSERT_TRUE(ProcessUntil(loop, [&] { return completions == 1; }));
    EXPECT_EQ(inner, (std::vector<std::string>{"Asynchronous operation is in progress.",
                                               "Asynchronous operation is in progress."}));
    discovery.Discover(&microsoft);
    ASSERT_TRUE(ProcessUntil(loop, [&] { return completions == 2; }));
}

TEST_F(DiscoveryTest, CancelDropsTheLateResult) {
    // Cancel while the inquiry runs, then the stack answers. Expected: idle at
    // once, no OnDiscoveryComplete, and the next discovery reports normally.
    Load();
    const auto slot = manager->BindingSlot(TwclBluetoothAPI::baMicrosoft);
    SetInquiry(kMicrosoft, std::vector<std::string>{kAddressA});
    const auto gate = HoldInquiry(kMicrosoft);
    TwclBluetoothDiscovery discovery(loop);
    Record(discovery);
    discovery.Discover(&microsoft);
    ASSERT_TRUE(ProcessUntil(loop, [&] { return !started.empty(); }));
    discovery.Cancel();
    EXPECT_FALSE(discovery.Discovering());
    gate->Open();
    ASSERT_TRUE(WaitForThreadsToEnd(slot, 2));
    ProcessPending(loop);
    EXPECT_TRUE(completed.empty());

    discovery.Discover(&microsoft);
    ASSERT_TRUE(ProcessUntil(loop, [&] { return !completed.empty(); }));
    EXPECT_EQ(started.size(), 2u);
    EXPECT_EQ(completed[0].addresses, std::vector<std::string>{kAddressA});
}

TEST_F(DiscoveryTest, CancelBeforeStartSparesTheInquiry) {
    // Cancel before the loop ran. Expected: neither event, and the stack never
    // inquires for nobody.
    Load();
    const auto slot = manager->BindingSlot(TwclBluetoothAPI::baMicrosoft);
    TwclBluetoothDiscovery discovery(loop);
    Record(discovery);
    discovery.Discover(&microsoft);
    discovery.Cancel();
    ASSERT_TRUE(WaitForThreadsToEnd(slot, 2));
    ProcessPending(loop);
    EXPECT_TRUE(started.empty());
    EXPECT_TRUE(completed.empty());
    EXPECT_EQ(stacks[kMicrosoft].inquiries.load(), 0);
}

TEST_F(DiscoveryTest, HandlerExceptionsReachTheApplicationHandler) {
    // Both handlers throw. Expected: both exceptions reach the application's
    // handler, and the component is idle afterwards.
    CaughtExceptions caught;
    Load();
    TwclBluetoothDiscovery discovery(loop);
    bool completeRan = false;
    discovery.OnDiscoveryStarted = [](TwclBluetoothDiscovery&, const TwclBluetoothRadio&) {
        throw wclETimeout();
    };
    discovery.OnDiscoveryComplete = [&](TwclBluetoothDiscovery&, const TwclBluetoothRadio&,
                                        const TwclBluetoothDevices*) {
        completeRan = true;
        throw wclEInvalidArgument();
    };
    discovery.Discover(&microsoft);
    ASSERT_TRUE(ProcessUntil(loop, [&] { return completeRan; }));
    EXPECT_FALSE(discovery.Discovering());
    EXPECT_EQ(caught.Messages(),
              (std::vector<std::string>{wclErrorMessage(kWclErrTimeout),
                                        wclErrorMessage(kWclErrInvalidArgument)}));
}

TEST_F(DiscoveryTest, ComponentDestroyedWhileTheThreadRuns) {
    // The component goes while the inquiry runs, then the stack answers.
    // Expected: the thread's result is lost quietly.
    Load();
    const auto slot = manager->BindingSlot(TwclBluetoothAPI::baMicrosoft);
    const auto gate = HoldInquiry(kMicrosoft);
    auto discovery = std::make_unique<TwclBluetoothDiscovery>(loop);
    Record(*discovery);
    discovery->Discover(&microsoft);
    ASSERT_TRUE(ProcessUntil(loop, [&] { return !started.empty(); }));
    discovery.reset();
    gate->Open();
    ASSERT_TRUE(WaitForThreadsToEnd(slot, 2));
    ProcessPending(loop);
    EXPECT_TRUE(completed.empty());
}

TEST_F(DiscoveryTest, HandlerMayDestroyTheComponent) {
    // OnDiscoveryComplete destroys its own component. Expected: no use of the
    // freed component afterwards (the sanitizer builds watch this).
    Load();
    auto discovery = std::make_unique<TwclBluetoothDiscovery>(loop);
    bool done = false;
    discovery->OnDiscoveryComplete = [&](TwclBluetoothDiscovery&, const TwclBluetoothRadio&,
                                         const TwclBluetoothDevices*) {
        discovery.reset();
        done = true;
    };
    discovery->Discover(&microsoft);
    ASSERT_TRUE(ProcessUntil(loop, [&] { return done; }));
    EXPECT_EQ(discovery, nullptr);
}

TEST_F(DiscoveryTest, NextDiscoveryStartedFromTheHandlerKeepsRunning) {
    // OnDiscoveryComplete cancels and starts the next discovery. Expected: the
    // new discovery is not ended by the old one's clean-up and reports too.
    Load();
    TwclBluetoothDiscovery discovery(loop);
    int completions = 0;
    bool busyAfterRestart = false;
    discovery.OnDiscoveryComplete = [&](TwclBluetoothDiscovery& sender,
                                        const TwclBluetoothRadio& radio,
                                        const TwclBluetoothDevices*) {
        if (++completions == 1) {
            sender.Cancel();
            sender.Discover(&radio);
        }
    };
    discovery.Discover(&microsoft);
    ASSERT_TRUE(ProcessUntil(loop, [&] { return completions == 1; }));
    busyAfterRestart = discovery.Discovering();
    ASSERT_TRUE(ProcessUntil(loop, [&] { return completions == 2; }));
    EXPECT_TRUE(busyAfterRestart);
    EXPECT_FALSE(discovery.Discovering());
}

TEST_F(DiscoveryTest, UnloadWaitsForTheRunningInquiry) {
    // Unload while the inquiry runs; OnUnloaded lets the stack answer. Expected:
    // the stack is not unloaded under the running inquiry, and the result still
    // reaches the component.
    Load();
    SetInquiry(kMicrosoft, std::vector<std::string>{kAddressB});
    const auto gate = HoldInquiry(kMicrosoft);
    TwclAPI api(loop);
    api.OnUnloaded = [&](TwclAPI&) { gate->Open(); };
    TwclBluetoothDiscovery discovery(loop);
    Record(discovery);
    discovery.Discover(&microsoft);
    ASSERT_TRUE(ProcessUntil(loop, [&] { return stacks[kMicrosoft].inquiriesInFlight == 1; }));
    manager->Unload();
    EXPECT_FALSE(stacks[kMicrosoft].unloadedDuringInquiry.load());
    ASSERT_TRUE(ProcessUntil(loop, [&] { return !completed.empty(); }));
    EXPECT_EQ(completed[0].addresses, std::vector<std::string>{kAddressB});
}

TEST_F(DiscoveryTest, ManagerDestroyedDuringTheInquiry) {
    // The manager is destroyed while the inquiry runs. Expected: the binding
    // outlives the manager for the thread, is unloaded only after the inquiry
    // returned, and the result still arrives.
    Load();
    std::weak_ptr<wclBindingSlot> slot = manager->BindingSlot(TwclBluetoothAPI::baMicrosoft);
    SetInquiry(kMicrosoft, std::vector<std::string>{kAddressA});
    const auto gate = HoldInquiry(kMicrosoft);
    TwclAPI api(loop);
    api.OnUnloaded = [&](TwclAPI&) { gate->Open(); };
    TwclBluetoothDiscovery discovery(loop);
    Record(discovery);
    discovery.Discover(&microsoft);
    ASSERT_TRUE(ProcessUntil(loop, [&] { return stacks[kMicrosoft].inquiriesInFlight == 1; }));
    manager.reset();
    EXPECT_FALSE(stacks[kMicrosoft].unloadedDuringInquiry.load());
    ASSERT_TRUE(ProcessUntil(loop, [&] { return !completed.empty(); }));
    EXPECT_EQ(completed[0].addresses, std::vector<std::string>{kAddressA});
    EXPECT_TRUE(ProcessUntil(loop, [&] { return slot.expired(); }));
}

TEST_F(DiscoveryTest, UnloadBeforeTheInquiryBeginsFailsIt) {
    // The manager unloads between Discover and the thread's start message.
    // Expected: the stack is not asked; the discovery completes without a list.
    Load();
    TwclBluetoothDiscovery discovery(loop);
    Record(discovery);
    discovery.Discover(&microsoft);
    manager->Unload();
    ASSERT_TRUE(ProcessUntil(loop, [&] { return !completed.empty(); }));
    EXPECT_FALSE(completed[0].addresses.has_value());
    EXPECT_EQ(stacks[kMicrosoft].inquiries.load(), 0);
}

// The model objects

TEST(BluetoothDevice, AddressRules) {
    // Same text, lower case, text without parentheses, upper case. Expected: the
    // same text changes nothing; lower case is kept as written; invalid text
    // raises and keeps the old address; upper case round-trips.
    TwclBluetoothDevice device;
    EXPECT_EQ(device.Address(), "(00:00:00:00:00:00)");
    EXPECT_NO_THROW(device.SetAddress("(00:00:00:00:00:00)"));
    device.SetAddress("(aa:bb:cc:dd:ee:ff)");
    EXPECT_EQ(device.Address(), "(aa:bb:cc:dd:ee:ff)");
    EXPECT_EQ(ErrorOf([&] { device.SetAddress("00:11:22:33:44:55"); }), "Address is not valid.");
    EXPECT_EQ(ErrorOf([&] { device.SetAddress("(00:11:22:33:44:5G)"); }), "Address is not valid.");
    EXPECT_EQ(device.Address(), "(aa:bb:cc:dd:ee:ff)");
    device.SetAddress(kAddressB);
    EXPECT_EQ(device.Address(), kAddressB);

    TwclBluetoothDevice copy;
    copy.Assign(&device);
    EXPECT_EQ(copy.Address(), kAddressB);
    EXPECT_THROW(copy.Assign(nullptr), wclEInvalidArgument);
}

TEST(BluetoothService, ChannelLimitAndAssign) {
    // Channels 31, 32 and 256; then a full copy. Expected: 31 is kept, 32 and
    // above raise the channel error and keep 31; Assign copies all four fields.
    TwclBluetoothService service;
    EXPECT_EQ(service.Channel(), 0);
    EXPECT_EQ(service.UUID(), BaseUUID);
    service.SetChannel(31);
    EXPECT_EQ(service.Channel(), 31);
    EXPECT_EQ(ErrorOf([&] { service.SetChannel(32); }),
              "Invalid channel number. Channel should be between 0 and 31.");
    EXPECT_THROW(service.SetChannel(256), wclEInvalidChannelNumber);
    EXPECT_EQ(service.Channel(), 31);

    service.SetName("OBEX Object Push");
    service.SetComment("push");
    service.SetUUID(OBEXObjectPushServiceClassUUID);
    TwclBluetoothService copy;
    copy.Assign(&service);
    EXPECT_EQ(copy.Channel(), 31);
    EXPECT_EQ(copy.Name(), "OBEX Object Push");
    EXPECT_EQ(copy.Comment(), "push");
    EXPECT_EQ(copy.UUID(), OBEXObjectPushServiceClassUUID);
    EXPECT_THROW(copy.Assign(nullptr), wclEInvalidArgument);
}

TEST(BluetoothLists, IndexAddAndAssignRules) {
    // A list of two devices: bad indexes, an absent item, self-assignment, a
    // deep copy over old contents. Expected: index and argument errors; self
    // assignment keeps the very same items; the copy is independent.
    TwclBluetoothDevices devices;
    devices.Add(std::make_unique<TwclBluetoothDevice>()).SetAddress(kAddressA);
    devices.Add(std::make_unique<TwclBluetoothDevice>()).SetAddress(kAddressB);
    EXPECT_EQ(ErrorOf([&] { devices.Items(2); }), "Index out of range.");
    EXPECT_THROW(devices.Items(-1), wclEIndexOutOfRange);
    EXPECT_EQ(ErrorOf([&] { devices.Add(nullptr); }), "Invalid argument passed.");
    EXPECT_THROW(devices.Assign(nullptr), wclEInvalidArgument);
    EXPECT_EQ(devices.Count(), 2);

    TwclBluetoothDevice* first = &devices.Items(0);
    devices.Assign(&devices);
    ASSERT_EQ(devices.Count(), 2);
    EXPECT_EQ(&devices.Items(0), first);
    EXPECT_EQ(devices.Items(1).Address(), kAddressB);

    TwclBluetoothDevices copy;
    copy.Add(std::make_unique<TwclBluetoothDevice>());
    copy.Assign(&devices);
    devices.Items(0).SetAddress(kAddressB);
    devices.Clear();
    ASSERT_EQ(copy.Count(), 2);
    EXPECT_EQ(copy.Items(0).Address(), kAddressA);
    EXPECT_EQ(copy.Items(1).Address(), kAddressB);

    TwclBluetoothServices services;
    services.Add(std::make_unique<TwclBluetoothService>()).SetChannel(3);
    TwclBluetoothServices serviceCopy;
    serviceCopy.Assign(&services);
    services.Assign(&services);
    ASSERT_EQ(serviceCopy.Count(), 1);
    EXPECT_EQ(serviceCopy.Items(0).Channel(), 3);
    EXPECT_EQ(services.Count(), 1);

    TwclBluetoothRadios radios;
    EXPECT_THROW(radios.Items(0), wclEIndexOutOfRange);
    EXPECT_THROW(radios.Add(nullptr), wclEInvalidArgument);
    TwclBluetoothRadio radio;
    EXPECT_THROW(radio.Assign(nullptr), wclEInvalidArgument);
    radio.Assign(&radios.Add(std::make_unique<TwclBluetoothRadio>(TwclBluetoothAPI::baToshiba)));
    EXPECT_EQ(radio.API(), TwclBluetoothAPI::baToshiba);
}

class StackOperationsTest : public DiscoveryTest {};

TEST_F(StackOperationsTest, RadioReadsAndWritesThroughItsStack) {
    // The Microsoft stack reports address 0x0011223344AA; a name is written;
    // a Widcomm radio has no stack. Expected: the address text, the name at the
    // stack, and the stack check's error for Widcomm.
    Load();
    {
        std::lock_guard lock(stacks[kMicrosoft].mutex);
        stacks[kMicrosoft].radioAddress = 0x0011223344AA;
    }
    EXPECT_EQ(microsoft.Address(), "(00:11:22:33:44:AA)");
    microsoft.SetName("Kavri");
    {
        std::lock_guard lock(stacks[kMicrosoft].mutex);
        EXPECT_EQ(stacks[kMicrosoft].writtenName, "Kavri");
    }
    const TwclBluetoothRadio widcomm(TwclBluetoothAPI::baWidComm);
    EXPECT_EQ(ErrorOf([&] { widcomm.Address(); }), "Bluetooth API is not available.");
}

TEST_F(StackOperationsTest, DeviceOperationsNeedARadioFirst) {
    // No radio given, before any manager exists and then when loaded. Expected:
    // "Radio required." every time, before the loaded check.
    TwclBluetoothDevice device;
    for (int loaded = 0; loaded < 2; ++loaded) {
        SCOPED_TRACE(loaded);
        if (loaded == 1) {
            Load();
        }
        EXPECT_EQ(ErrorOf([&] { device.GetName(nullptr); }), "Radio required.");
        EXPECT_EQ(ErrorOf([&] { device.GetClassOfDevice(nullptr); }), "Radio required.");
        EXPECT_EQ(ErrorOf([&] { device.EnumServices(nullptr); }), "Radio required.");
    }
    EXPECT_EQ(ErrorOf([&] { device.GetName(&microsoft); }).find("Radio"), std::string::npos);
}

TEST_F(StackOperationsTest, DeviceOperationsReachTheStack) {
    // Name, class of device with stray high bits, services with one channel out
    // of range, a class filter. Expected: the stack's answers, class cut to 24
    // bits, the bad channel read as none, the filter passed on.
    Load();
    {
        std::lock_guard lock(stacks[kMicrosoft].mutex);
        stacks[kMicrosoft].remoteName = "Phone";
        stacks[kMicrosoft].classOfDevice = 0xFF5A020C;
        stacks[kMicrosoft].services = {
            {OBEXObjectPushServiceClassUUID, 12, "OPP", "push"},
            {SerialPortServiceClassUUID, 40, "SPP", ""},
        };
    }
    TwclBluetoothDevice device;
    device.SetAddress(kAddressA);
    EXPECT_EQ(device.GetName(&microsoft), "Phone at " + kAddressA);
    EXPECT_EQ(device.GetClassOfDevice(&microsoft), 0x5A020Cu);
    const auto services = device.EnumServices(&microsoft, OBEXObjectPushServiceClassUUID);
    ASSERT_EQ(services->Count(), 2);
    EXPECT_EQ(services->Items(0).Channel(), 12);
    EXPECT_EQ(services->Items(0).Name(), "OPP");
    EXPECT_EQ(services->Items(0).Comment(), "push");
    EXPECT_EQ(services->Items(0).UUID(), OBEXObjectPushServiceClassUUID);
    EXPECT_EQ(services->Items(1).Channel(), 0);
    std::lock_guard lock(stacks[kMicrosoft].mutex);
    EXPECT_EQ(stacks[kMicrosoft].lastServiceClass, OBEXObjectPushServiceClassUUID);
}

TEST_F(StackOperationsTest, HostileRemoteNameIsBoundedAndCleaned) {
    // A 400-byte name with a broken UTF-8 sequence at its start. Expected: at
    // most 248 bytes of well-formed UTF-8.
    Load();
    {
        std::lock_guard lock(stacks[kMicrosoft].mutex);
        stacks[kMicrosoft].remoteName = std::string("\xC3", 1) + std::string(400, 'x');
    }
    TwclBluetoothDevice device;
    const std::string name = device.GetName(&microsoft);
    EXPECT_TRUE(IsValidUtf8(name));
    EXPECT_EQ(name.size(), 248u);
    EXPECT_EQ(name.rfind("\xEF\xBF\xBD", 0), 0u);
}

TEST_F(StackOperationsTest, DeviceOperationsFromAWorkerThread) {
    // A connection's worker thread asks for services while the main thread
    // looks up the name. Expected: both succeed (the thread sanitizer build
    // checks the sharing).
    Load();
    {
        std::lock_guard lock(stacks[kMicrosoft].mutex);
        stacks[kMicrosoft].services = {{OBEXObjectPushServiceClassUUID, 9, "OPP", ""}};
    }
    const TwclBluetoothRadio radioCopy(TwclBluetoothAPI::baMicrosoft);
    int channel = -1;
    std::thread worker([&] {
        TwclBluetoothDevice device;
        device.SetAddress(kAddressB);
        channel = device.EnumServices(&radioCopy)->Items(0).Channel();
    });
    TwclBluetoothDevice device;
    EXPECT_NO_THROW(device.GetName(&microsoft));
    worker.join();
    EXPECT_EQ(channel, 9);
}

}  // namespace
}  // namespace kavri
