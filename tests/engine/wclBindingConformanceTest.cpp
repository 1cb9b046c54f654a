// What every Bluetooth stack binding must do, checked the same way for each
// stack through its stand-in in the virtual neighbourhood: radio presence and
// the watcher's messages, inquiry, names, classes, services, and links that
// carry an Object Push of one file to a virtual device's server. A stack joins
// the suite with one traits struct and one line in BindingTypes.
#include <gtest/gtest.h>

#include "engine/wclConnections.h"
#include "engine/wclOBEXClients.h"
#include "platform/EventLoopTestSupport.h"
#include "platform/PollEventLoop.h"
#include "platform/Text.h"
#include "sim/LoaderTestSupport.h"
#include "sim/ScenarioParser.h"
#include "sim/SimWidcomm.h"
#include "sim/VirtualNeighbourhood.h"
#include "sim/VirtualObjectPushDevices.h"
#include "stack/wclAPI.h"
#include "stack/wclBlueSoleil.h"
#include "stack/wclBlueZ.h"
#include "stack/wclBluetoothDiscovery.h"
#include "stack/wclExceptions.h"
#include "stack/wclLoaders.h"
#include "stack/wclMicrosoft.h"
#include "stack/wclToshiba.h"
#include "stack/wclUUIDs.h"
#include "stack/wclWidcomm.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace kavri {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// ---- one traits struct per stack ----------------------------------------------------
// kStack: the scenario's name of the stack; kApi: its stack value; kArrival and
// kRemoval: what its watcher posts; kNameField: the bytes of a remote name it
// hands over; kMissingClassThrows: a search for a class the device lacks fails
// instead of finding nothing; kBusyResult: its connect result for a busy device;
// kSettleStep: clock time to advance per loop round while waiting (a stack that
// lets the line settle before it reports a connect); Make: the binding alone,
// for the cases that drive it directly; Options: how the neighbourhood installs it;
// kKnowsDevicesFromInquiry (optional): names and classes are only known of devices
// that an inquiry has found, as with a daemon that caches what it discovered.

struct MicrosoftTraits {
    static constexpr const char* kStack = "microsoft";
    static constexpr TwclBluetoothAPI kApi = TwclBluetoothAPI::baMicrosoft;
    static constexpr std::uint32_t kArrival = wclMsg::kMicrosoftPresent;
    static constexpr std::uint32_t kRemoval = wclMsg::kMicrosoftAbsent;
    static constexpr std::size_t kNameField = 248;
    static constexpr bool kMissingClassThrows = false;
    static constexpr std::uint32_t kBusyResult = 0x8000F02B;
    static constexpr std::chrono::milliseconds kSettleStep{0};
    static std::unique_ptr<wclBluetoothBinding> Make(const Clock& clock) {
        return std::make_unique<TwclMicrosoftLoader>(clock);
    }
    static sim::VirtualNeighbourhood::Options Options() { return {}; }
};

struct WidcommTraits {
    static constexpr const char* kStack = "widcomm";
    static constexpr TwclBluetoothAPI kApi = TwclBluetoothAPI::baWidComm;
    static constexpr std::uint32_t kArrival = wclMsg::kWidCommReady;
    static constexpr std::uint32_t kRemoval = wclMsg::kWidCommNotReady;
    static constexpr std::size_t kNameField = 248;
    static constexpr bool kMissingClassThrows = false;
    static constexpr std::uint32_t kBusyResult = 0x8000F01C;
    static constexpr std::chrono::milliseconds kSettleStep{0};
    static std::unique_ptr<wclBluetoothBinding> Make(const Clock& clock) {
        return std::make_unique<TwclWidComLoader>(clock);
    }
    static sim::VirtualNeighbourhood::Options Options() { return {}; }
};

struct BlueSoleilTraits {
    static constexpr const char* kStack = "bluesoleil";
    static constexpr TwclBluetoothAPI kApi = TwclBluetoothAPI::baBlueSoleil;
    static constexpr std::uint32_t kArrival = wclMsg::kBlueSoleilReady;
    static constexpr std::uint32_t kRemoval = wclMsg::kBlueSoleilNotReady;
    static constexpr std::size_t kNameField = 64;
    static constexpr bool kMissingClassThrows = true;
    static constexpr std::uint32_t kBusyResult = 0x8000F007;
    static constexpr std::chrono::milliseconds kSettleStep{0};
    static std::unique_ptr<wclBluetoothBinding> Make(const Clock& clock) {
        return std::make_unique<TwclBlueSoleilLoader>(clock);
    }
    static sim::VirtualNeighbourhood::Options Options() { return {}; }
};

struct ToshibaTraits {
    static constexpr const char* kStack = "toshiba";
    static constexpr TwclBluetoothAPI kApi = TwclBluetoothAPI::baToshiba;
    static constexpr std::uint32_t kArrival = wclMsg::kToshibaReady;
    static constexpr std::uint32_t kRemoval = wclMsg::kToshibaNotReady;
    static constexpr std::size_t kNameField = 250;
    static constexpr bool kMissingClassThrows = false;
    static constexpr std::uint32_t kBusyResult = 0x8000F01C;
    static constexpr std::chrono::milliseconds kSettleStep{10};
    static std::unique_ptr<wclBluetoothBinding> Make(const Clock& clock) {
        return std::make_unique<TwclToshibaLoader>(clock);
    }
    static sim::VirtualNeighbourhood::Options Options() { return {}; }
};

struct BlueZTraits {
    static constexpr const char* kStack = "bluez";
    static constexpr TwclBluetoothAPI kApi = TwclBluetoothAPI::baBlueZ;
    static constexpr std::uint32_t kArrival = wclMsg::kBlueZReady;
    static constexpr std::uint32_t kRemoval = wclMsg::kBlueZNotReady;
    static constexpr std::size_t kNameField = 248;
    static constexpr bool kMissingClassThrows = false;
    static constexpr std::uint32_t kBusyResult = 0x8000F02B;
    static constexpr std::chrono::milliseconds kSettleStep{0};
    static constexpr bool kKnowsDevicesFromInquiry = true;
    // Discovery takes no clock time here, so an inquiry answers at once.
    static std::unique_ptr<wclBluetoothBinding> Make(const Clock& clock) {
        return std::make_unique<TwclBlueZLoader>(clock, Clock::Duration(0));
    }
    static sim::VirtualNeighbourhood::Options Options() { return {}; }
};

constexpr const char* kAnna = "(00:17:E5:3A:91:02)";
constexpr const char* kRefuser = "(00:17:E5:3A:91:03)";
constexpr const char* kBusy = "(00:17:E5:3A:91:04)";
constexpr const char* kModem = "(00:17:E5:3A:91:05)";
constexpr const char* kDropper = "(00:17:E5:3A:91:06)";
constexpr const char* kHostile = "(00:17:E5:3A:91:07)";
constexpr const char* kLate = "(00:17:E5:3A:91:08)";

// The street every case runs in; the radio leaves at 30 s and comes back at 60 s.
std::string Street(const char* stack) {
    return std::string("stacks ") + stack + R"(
radio (00:1A:7D:DA:71:13) "Kavri Radio" present 0-30s 60s-
device (00:17:E5:3A:91:02) "Anna's Phone" class 0x5A020C
  service 9 "OBEX Object Push" 0x1105
  service 3 "Serial Port" 0x1101
device (00:17:E5:3A:91:03) "Refuser" class 0x5A020C behaviour refuse-object
  service 4 "OBEX Object Push" 0x1105
device (00:17:E5:3A:91:04) "Busy" class 0x5A020C behaviour busy
  service 5 "OBEX Object Push" 0x1105
device (00:17:E5:3A:91:05) "Modem" class 0x1F00 behaviour no-object-push
  service 6 "Serial Port" 0x1101
device (00:17:E5:3A:91:06) "Dropper" class 0x5A020C behaviour drop-after 300
  service 7 "OBEX Object Push" 0x1105
device (00:17:E5:3A:91:07) "Zo\xC3\xAB\r\n[Devices]\x01\xFF)" +
           std::string(300, 'x') + R"(" class 0x7A020C
  service 8 "OBEX Object Push" 0x1105
device (00:17:E5:3A:91:08) "Late" class 0x5A020C arrive 10s
  service 9 "OBEX Object Push" 0x1105
)";
}

template <typename Traits>
class BindingConformance : public ::testing::Test {
protected:
    BindingConformance()
        : m_inbox(fs::temp_directory_path() /
                  ("kavri-conformance-" + std::to_string(getpid()) + "-" + Traits::kStack)),
          m_scenario(sim::ParseScenario(Street(Traits::kStack))),
          m_devices(m_loop, m_scenario, m_inbox),
          m_neighbourhood(
              m_scenario, m_clock, Traits::Options(), m_loop,
              [this](const sim::DeviceSpec& device) { return m_devices.Endpoint(device); }),
          m_binding(Traits::Make(m_clock)) {}

    ~BindingConformance() override {
        m_binding->Unload();
        if (m_manager) {
            m_manager->Unload();
        }
        std::error_code ignored;
        fs::remove_all(m_inbox, ignored);
    }

    bool LoadBinding() { return m_binding->Load(m_recorder.Handle()); }

    // Loads the binding and, for a stack that only knows what it discovered,
    // runs one inquiry first.
    bool LoadAndDiscover() {
        if (!LoadBinding())
            return false;
        if constexpr (requires { Traits::kKnowsDevicesFromInquiry; }) {
            return m_binding->Inquiry().has_value();
        }
        return true;
    }

    // The whole stack layer, for connections.
    void StartManager() {
        m_manager.emplace(m_loop, CreateDefaultLoaders(m_clock));
        m_manager->Load();
        ASSERT_TRUE(IsBluetoothAPIAvailable(Traits::kApi));
    }

    struct Attempt {
        std::vector<std::uint32_t> connects;
        std::vector<std::uint32_t> completes;
        int disconnects = 0;
    };

    // An Object Push client to a device, connecting on its own.
    std::unique_ptr<TwclOPPClient> Client(const std::string& address, std::uint8_t channel,
                                          Attempt& attempt) {
        auto client = std::make_unique<TwclOPPClient>(m_loop);
        client->BluetoothParams().SetRadio(&m_radio);
        client->BluetoothParams().SetAddress(address);
        client->BluetoothParams().SetChannel(channel);
        client->BluetoothParams().SetServiceUUID(OBEXObjectPushServiceClassUUID);
        client->OnConnect = [&attempt](TwclCustomConnection&, std::uint32_t result) {
            attempt.connects.push_back(result);
        };
        client->OnDisconnect = [&attempt](TwclCustomConnection&) { ++attempt.disconnects; };
        client->OnComplete = [&attempt](TwclCustomOBEXClient&, std::uint32_t result,
                                        TwclOBEXOperation) { attempt.completes.push_back(result); };
        client->Connect();
        return client;
    }

    // Runs the loop until done; a stack whose connect settles on the clock gets it advanced.
    bool Until(const std::function<bool()>& done) {
        return test::ProcessUntil(m_loop, [&] {
            m_clock.Advance(Traits::kSettleStep);
            return done();
        });
    }

    std::string Received(const std::string& address, const std::string& name) {
        std::ifstream in(m_devices.InboxOf(address) / name, std::ios::binary);
        std::string content;
        char c = 0;
        while (in.get(c))
            content += c;
        return content;
    }

    ManualClock m_clock;
    PollEventLoop m_loop{m_clock};
    test::MessageRecorder m_recorder{m_loop};
    fs::path m_inbox;
    sim::Scenario m_scenario;
    sim::VirtualObjectPushDevices m_devices;
    sim::VirtualNeighbourhood m_neighbourhood;
    std::unique_ptr<wclBluetoothBinding> m_binding;
    std::optional<TwclAPIManager> m_manager;
    TwclBluetoothRadio m_radio{Traits::kApi};
};

using BindingTypes =
    ::testing::Types<MicrosoftTraits, WidcommTraits, BlueSoleilTraits, ToshibaTraits, BlueZTraits>;
TYPED_TEST_SUITE(BindingConformance, BindingTypes);

// ---- radio ------------------------------------------------------------------------

TYPED_TEST(BindingConformance, RadioPresenceAndTheWatchersMessages) {
    // The radio is there at load, leaves at 30 s and comes back at 60 s.
    // Expected: load reports it ready with its address; one removal message within a
    // second of it leaving, one arrival when it is back; none after Unload.
    ASSERT_TRUE(this->LoadBinding());
    EXPECT_EQ(this->m_binding->ReadRadioAddress(), 0x001A7DDA7113u);
    EXPECT_TRUE(this->m_binding->IsLoaded());
    this->m_clock.Advance(31s);
    ASSERT_TRUE(this->m_recorder.WaitFor(TypeParam::kRemoval));
    EXPECT_THROW(this->m_binding->ReadRadioAddress(), wclException);
    EXPECT_EQ(this->m_binding->Inquiry(), std::nullopt);
    this->m_clock.Advance(30s);
    ASSERT_TRUE(this->m_recorder.WaitFor(TypeParam::kArrival));
    EXPECT_EQ(this->m_recorder.Count(TypeParam::kRemoval), 1u);
    EXPECT_EQ(this->m_recorder.Count(TypeParam::kArrival), 1u);

    this->m_binding->Unload();
    EXPECT_FALSE(this->m_binding->IsLoaded());
    this->m_clock.Advance(100s);
    std::this_thread::sleep_for(20ms);  // a stopped watcher has no thread left to post
    EXPECT_EQ(this->m_recorder.Numbers().size(), 2u);
}

// ---- devices ----------------------------------------------------------------------

TYPED_TEST(BindingConformance, InquiryFindsTheDevicesInRangeInScenarioOrder) {
    // Seven devices, one of which arrives at 10 s.
    // Expected: six addresses at first, in scenario order; seven after 10 s.
    ASSERT_TRUE(this->LoadBinding());
    const std::vector<std::string> first = {kAnna, kRefuser, kBusy, kModem, kDropper, kHostile};
    EXPECT_EQ(this->m_binding->Inquiry(), first);
    this->m_clock.Advance(11s);
    std::vector<std::string> later = first;
    later.push_back(kLate);
    EXPECT_EQ(this->m_binding->Inquiry(), later);
}

TYPED_TEST(BindingConformance, NamesWithHostileBytesArriveAsValidUtf8) {
    // A name with a non-ASCII letter, CR LF, a bracket line, a control byte, a byte
    // that is no UTF-8, and 300 more letters than any name field holds.
    // Expected: valid UTF-8 that begins as the name does (the bad byte as U+FFFD), cut
    // off at the stack's name field; an unknown device raises the name error.
    ASSERT_TRUE(this->LoadAndDiscover());
    const std::string name = this->m_binding->ReadRemoteName(kHostile);
    EXPECT_TRUE(IsValidUtf8(name));
    EXPECT_EQ(name.rfind("Zo\xC3\xAB\r\n[Devices]\x01\xEF\xBF\xBD", 0), 0u) << name;
    // The field's bytes, the bad byte among them grown to three.
    EXPECT_EQ(name.size(), TypeParam::kNameField + 2);
    EXPECT_EQ(this->m_binding->ReadRemoteName(kAnna), "Anna's Phone");
    EXPECT_THROW(this->m_binding->ReadRemoteName("(00:00:00:00:00:01)"),
                 wclERemoteDeviceNameReadError);
}

TYPED_TEST(BindingConformance, ClassesOfDevice) {
    // Devices with the classes 0x5A020C, 0x7A020C and 0x1F00; an unknown device.
    // Expected: each class as the scenario gives it; the class error.
    ASSERT_TRUE(this->LoadAndDiscover());
    EXPECT_EQ(this->m_binding->ReadRemoteClassOfDevice(kAnna), 0x5A020Cu);
    EXPECT_EQ(this->m_binding->ReadRemoteClassOfDevice(kHostile), 0x7A020Cu);
    EXPECT_EQ(this->m_binding->ReadRemoteClassOfDevice(kModem), 0x1F00u);
    EXPECT_THROW(this->m_binding->ReadRemoteClassOfDevice("(00:00:00:00:00:01)"),
                 wclERemoteClassOfDeviceReadError);
}

TYPED_TEST(BindingConformance, ServicesWithAndWithoutAClass) {
    // A phone with Object Push on 9 and a serial port on 3; a modem without Object Push.
    // Expected: both services without a class; only channel 9 with the Object Push
    // class; nothing of that class on the modem (a stack whose class search fails
    // says so with the services error).
    ASSERT_TRUE(this->LoadBinding());
    const auto all = this->m_binding->EnumServices(kAnna, std::nullopt);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].Channel, 9);
    EXPECT_EQ(all[0].Name, "OBEX Object Push");
    EXPECT_EQ(all[0].UUID, OBEXObjectPushServiceClassUUID);
    EXPECT_EQ(all[1].Channel, 3);
    EXPECT_EQ(all[1].UUID, SerialPortServiceClassUUID);
    const auto push = this->m_binding->EnumServices(kAnna, OBEXObjectPushServiceClassUUID);
    ASSERT_EQ(push.size(), 1u);
    EXPECT_EQ(push[0].Channel, 9);
    if (TypeParam::kMissingClassThrows) {
        EXPECT_THROW(this->m_binding->EnumServices(kModem, OBEXObjectPushServiceClassUUID),
                     wclEEnumServices);
    } else {
        EXPECT_TRUE(this->m_binding->EnumServices(kModem, OBEXObjectPushServiceClassUUID).empty());
    }
}

// ---- links ------------------------------------------------------------------------

TYPED_TEST(BindingConformance, ConnectsOnAChannelOrByTheServiceClass) {
    // Object Push on channel 9 named; then channel 0, to be found by the class.
    // Expected: OnConnect 0 once each, after the server answered CONNECT.
    this->StartManager();
    for (const std::uint8_t channel : {9, 0}) {
        SCOPED_TRACE(static_cast<int>(channel));
        typename TestFixture::Attempt attempt;
        auto client = this->Client(kAnna, channel, attempt);
        ASSERT_TRUE(this->Until([&] { return !attempt.connects.empty(); }));
        EXPECT_EQ(attempt.connects, std::vector<std::uint32_t>{0});
        EXPECT_TRUE(client->OBEXConnected());
        client->Disconnect();
        EXPECT_EQ(attempt.disconnects, 1);
    }
}

TYPED_TEST(BindingConformance, PushesOneFileToTheDevicesInbox) {
    // A 5000-byte object pushed to the phone by the Object Push service class.
    // Expected: the put completes with 0 and the device's inbox holds the same bytes.
    this->StartManager();
    typename TestFixture::Attempt attempt;
    auto client = this->Client(kAnna, 0, attempt);
    ASSERT_TRUE(this->Until([&] { return !attempt.connects.empty(); }));
    ASSERT_EQ(attempt.connects, std::vector<std::uint32_t>{0});
    std::string object;
    for (int i = 0; i < 5000; ++i)
        object += static_cast<char>('a' + i % 26);
    client->Put("offer.txt",
                std::span(reinterpret_cast<const std::uint8_t*>(object.data()), object.size()));
    ASSERT_TRUE(this->Until([&] { return !attempt.completes.empty(); }));
    EXPECT_EQ(attempt.completes, std::vector<std::uint32_t>{0});
    client->Disconnect();
    EXPECT_EQ(this->Received(kAnna, "offer.txt"), object);
}

TYPED_TEST(BindingConformance, RefusalBusyAndNoObjectPush) {
    // A device that refuses the object; one that is busy; one without Object Push.
    // Expected: the put refused with 0x8000F01C and nothing in the inbox; the busy
    // device's connect fails with the stack's busy result; the service lookup finds
    // nothing: 0x8000F02E.
    this->StartManager();
    typename TestFixture::Attempt refused;
    auto client = this->Client(kRefuser, 0, refused);
    ASSERT_TRUE(this->Until([&] { return !refused.connects.empty(); }));
    ASSERT_EQ(refused.connects, std::vector<std::uint32_t>{0});
    const std::uint8_t bytes[] = {'n', 'o'};
    client->Put("no.txt", bytes);
    ASSERT_TRUE(this->Until([&] { return !refused.completes.empty(); }));
    EXPECT_EQ(refused.completes, std::vector<std::uint32_t>{0x8000F01C});
    EXPECT_EQ(this->Received(kRefuser, "no.txt"), "");
    client->Disconnect();

    typename TestFixture::Attempt busy;
    client = this->Client(kBusy, 5, busy);
    ASSERT_TRUE(this->Until([&] { return !busy.connects.empty(); }));
    ASSERT_EQ(busy.connects.size(), 1u);
    EXPECT_EQ(busy.connects[0], TypeParam::kBusyResult);
    EXPECT_FALSE(client->Active());

    typename TestFixture::Attempt none;
    client = this->Client(kModem, 0, none);
    ASSERT_TRUE(this->Until([&] { return !none.connects.empty(); }));
    EXPECT_EQ(none.connects, std::vector<std::uint32_t>{0x8000F02E});
    EXPECT_FALSE(client->Active());
}

TYPED_TEST(BindingConformance, LinkLostDuringAPush) {
    // A device that drops the link after 300 bytes, pushed 20000.
    // Expected: the connection goes down, no success is reported and the device
    // holds no whole object.
    this->StartManager();
    typename TestFixture::Attempt attempt;
    auto client = this->Client(kDropper, 0, attempt);
    ASSERT_TRUE(this->Until([&] { return !attempt.connects.empty(); }));
    ASSERT_EQ(attempt.connects, std::vector<std::uint32_t>{0});
    const std::vector<std::uint8_t> object(20000, 'z');
    client->Put("big.bin", object);
    ASSERT_TRUE(this->Until([&] { return attempt.disconnects == 1; }));
    for (const std::uint32_t result : attempt.completes) {
        EXPECT_NE(result, 0u);
    }
    EXPECT_FALSE(client->Active());
    EXPECT_NE(this->Received(kDropper, "big.bin").size(), object.size());
}

TYPED_TEST(BindingConformance, UnloadWhileADiscoveryRuns) {
    // Inquiries on another thread while the binding is unloaded and loaded again.
    // Expected: each inquiry ends with a list or none, never anything else; the
    // binding works again after the second load.
    ASSERT_TRUE(this->LoadBinding());
    std::atomic<bool> stop{false};
    std::atomic<int> runs{0};
    std::thread inquirer([&] {
        while (!stop) {
            const auto found = this->m_binding->Inquiry();
            if (found) {
                EXPECT_LE(found->size(), 7u);
            }
            ++runs;
        }
    });
    ASSERT_TRUE(test::WaitUntil([&] { return runs > 0; }));
    for (int i = 0; i < 5; ++i) {
        this->m_binding->Unload();
        EXPECT_TRUE(this->LoadBinding());
    }
    stop = true;
    inquirer.join();
    EXPECT_EQ(this->m_binding->Inquiry()->size(), 6u);
}

// ---- stack-specific ---------------------------------------------------------------

TEST(WidcommNeighbourhood, DevicesOnOtherStacksAreNotSeen) {
    // Two devices, one visible only to the Microsoft stack's radio.
    // Expected: the Widcomm radio finds and reads only the other; connecting to the
    // hidden one fails.
    ManualClock clock;
    PollEventLoop loop(clock);
    const sim::Scenario scenario = sim::ParseScenario(
        "stacks widcomm microsoft\nradio (00:1A:7D:DA:71:13) \"R\"\n"
        "device (00:17:E5:3A:91:02) \"Seen\"\n  service 9 \"OPP\" 0x1105\n"
        "device (00:17:E5:3A:91:03) \"Hidden\" on microsoft\n  service 9 \"OPP\" 0x1105\n");
    sim::VirtualNeighbourhood neighbourhood(scenario, clock, {}, loop);
    TwclWidComLoader binding(clock);
    test::MessageRecorder recorder(loop);
    ASSERT_TRUE(binding.Load(recorder.Handle()));
    EXPECT_EQ(binding.Inquiry(), std::vector<std::string>{kAnna});
    EXPECT_THROW(binding.ReadRemoteName(kRefuser), wclERemoteDeviceNameReadError);
    EXPECT_THROW(binding.EnumServices(kRefuser, std::nullopt), wclEEnumServices);
    binding.Unload();
}

TEST(WidcommNeighbourhood, TheAdapterGetsWhatTheConnectionAskedAndEverythingIsReleased) {
    // An authenticated, encrypted push connection on channel 9; the radio renamed;
    // then the stack layer unloaded.
    // Expected: the adapter's open carries the address, channel, class and both
    // flags as all ones; no client object outlives the connection; the radio takes
    // the name; no watcher runs after the unload.
    ManualClock clock;
    PollEventLoop loop(clock);
    const sim::Scenario scenario = sim::ParseScenario(
        "stacks widcomm\nradio (00:1A:7D:DA:71:13) \"R\"\n"
        "device (00:17:E5:3A:91:02) \"Phone\"\n  service 9 \"OPP\" 0x1105\n");
    const fs::path inbox =
        fs::temp_directory_path() / ("kavri-widcomm-" + std::to_string(getpid()));
    sim::VirtualObjectPushDevices devices(loop, scenario, inbox);
    sim::VirtualNeighbourhood neighbourhood(
        scenario, clock, {}, loop,
        [&devices](const sim::DeviceSpec& device) { return devices.Endpoint(device); });
    sim::SimWidcomm& adapter = *neighbourhood.Widcomm();
    TwclAPIManager manager(loop, CreateDefaultLoaders(clock));
    manager.Load();
    EXPECT_TRUE(adapter.WatcherRunning());
    const TwclBluetoothRadio radio(TwclBluetoothAPI::baWidComm);
    radio.SetName("Kavri Radio");
    EXPECT_EQ(adapter.RadioName(), "Kavri Radio");

    TwclCustomClientConnection client(loop);
    std::vector<std::uint32_t> connects;
    client.OnConnect = [&](TwclCustomConnection&, std::uint32_t r) { connects.push_back(r); };
    client.BluetoothParams().SetRadio(&radio);
    client.BluetoothParams().SetAddress(kAnna);
    client.BluetoothParams().SetChannel(9);
    client.BluetoothParams().SetServiceUUID(OBEXObjectPushServiceClassUUID);
    client.BluetoothParams().SetAuthentication(true);
    client.BluetoothParams().SetEncryption(true);
    client.Connect();
    ASSERT_TRUE(test::ProcessUntil(loop, [&] { return !connects.empty(); }));
    EXPECT_EQ(connects, std::vector<std::uint32_t>{0});
    const auto open = adapter.LastOpen();
    ASSERT_TRUE(open.has_value());
    EXPECT_EQ(open->address, kAnna);
    EXPECT_EQ(open->channel, 9);
    EXPECT_EQ(open->serviceClass, OBEXObjectPushServiceClassUUID);
    EXPECT_EQ(open->authentication, 0xFFFFFFFFu);
    EXPECT_EQ(open->encryption, 0xFFFFFFFFu);
    EXPECT_EQ(adapter.ClientCount(), 1u);
    client.Disconnect();
    EXPECT_EQ(adapter.ClientCount(), 0u);

    manager.Unload();
    EXPECT_FALSE(adapter.WatcherRunning());
    std::error_code ignored;
    fs::remove_all(inbox, ignored);
}

TEST(WidcommNeighbourhood, OlderStackLoadsTheOlderAdapter) {
    // Widcomm installed as an older stack ("btwapi.dll" and "wcl2btw.dll").
    // Expected: the binding loads "wcl2btw.dll" and sees the radio.
    ManualClock clock;
    PollEventLoop loop(clock);
    sim::VirtualNeighbourhood::Options options;
    options.widcommOlderAdapter = true;
    sim::VirtualNeighbourhood neighbourhood(
        sim::ParseScenario("stacks widcomm\nradio (00:1A:7D:DA:71:13) \"R\"\n"), clock, options);
    TwclWidComLoader binding(clock);
    test::MessageRecorder recorder(loop);
    EXPECT_TRUE(binding.Load(recorder.Handle()));
    EXPECT_EQ(binding.LibraryName(), "wcl2btw.dll");
    binding.Unload();
}

}  // namespace
}  // namespace kavri
