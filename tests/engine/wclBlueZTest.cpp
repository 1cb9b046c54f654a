// What only the BlueZ binding does, against the stand-in daemon on a private
// bus: why a radio is not ready, discovery for the inquiry length on the
// clock, devices this radio alone sees, and the radio's name as the adapter's
// alias. What every binding does is in the conformance suite.
#include <gtest/gtest.h>

#include "platform/EventLoopTestSupport.h"
#include "platform/PollEventLoop.h"
#include "sim/LoaderTestSupport.h"
#include "sim/ScenarioParser.h"
#include "sim/SdpRecordWriter.h"
#include "sim/SimBlueZ.h"
#include "sim/SimBlueZStack.h"
#include "sim/VirtualNeighbourhood.h"
#include "sim/VirtualSdpServers.h"
#include "stack/wclBlueZ.h"
#include "stack/wclExceptions.h"
#include "stack/wclUUIDs.h"

#include <atomic>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace kavri {
namespace {

using namespace std::chrono_literals;
using bluez::RadioFault;

constexpr const char* kSeen = "(00:17:E5:3A:91:02)";
constexpr const char* kLeaving = "(00:17:E5:3A:91:04)";
constexpr const char* kNameless = "(00:17:E5:3A:91:05)";

// A neighbourhood with BlueZ installed, the loop and a binding on them.
struct BlueZStreet {
    explicit BlueZStreet(const std::string& scenario,
                         Clock::Duration inquiryLength = Clock::Duration(0))
        : neighbourhood(sim::ParseScenario(scenario), clock, {}, loop),
          binding(clock, inquiryLength) {}
    ~BlueZStreet() { binding.Unload(); }

    sim::SimBlueZ& Daemon() { return *neighbourhood.BlueZ().Daemon(); }

    ManualClock clock;
    PollEventLoop loop{clock};
    test::MessageRecorder recorder{loop};
    sim::VirtualNeighbourhood neighbourhood;
    TwclBlueZLoader binding;
};

const char* const kStreet = R"(stacks bluez microsoft
radio (00:1A:7D:DA:71:13) "Kavri Radio"
device (00:17:E5:3A:91:02) "Seen" class 0x5A020C
  service 9 "OBEX Object Push" 0x1105
device (00:17:E5:3A:91:03) "Other stack's" on microsoft
  service 9 "OBEX Object Push" 0x1105
device (00:17:E5:3A:91:04) "Leaving" present 0-5s
  service 9 "OBEX Object Push" 0x1105
device (00:17:E5:3A:91:05) "" class 0x5A020C
  service 9 "OBEX Object Push" 0x1105
)";

TEST(BlueZBinding, TheFaultSaysWhyNoRadioIsReady) {
    // BlueZ not installed; installed without an adapter; an adapter switched off by
    // the operator, blocked by its kill switch, then unblocked and switched on.
    // Expected: no load, and each time the fault (with advice for the operator)
    // that names the cause, none for a stack that is not there; 1037 when the radio goes, 1036 when
    // it is back.
    {
        BlueZStreet street("stacks microsoft\nradio (00:1A:7D:DA:71:13) \"R\"\n");
        EXPECT_FALSE(street.binding.Load(street.recorder.Handle()));
        EXPECT_FALSE(street.binding.IsLoaded());
        // The simulation has no Linux stack to give advice about.
        EXPECT_EQ(street.binding.Fault(), RadioFault::None);
    }
    {
        BlueZStreet street("stacks bluez\n");
        EXPECT_FALSE(street.binding.Load(street.recorder.Handle()));
        EXPECT_EQ(street.binding.Fault(), RadioFault::NoAdapter);
    }
    BlueZStreet street(kStreet);
    ASSERT_TRUE(street.binding.Load(street.recorder.Handle()));
    EXPECT_EQ(street.binding.Fault(), RadioFault::None);
    EXPECT_EQ(BlueZFaultAdvice(RadioFault::None), "");

    street.Daemon().SetPowered(false);
    ASSERT_TRUE(street.recorder.WaitFor(wclMsg::kBlueZNotReady));
    EXPECT_EQ(street.binding.Fault(), RadioFault::PoweredOff);
    EXPECT_NE(BlueZFaultAdvice(RadioFault::PoweredOff).find("bluetoothctl power on"),
              std::string::npos);
    EXPECT_EQ(street.binding.Inquiry(), std::nullopt);
    EXPECT_THROW(street.binding.ReadRadioAddress(), wclException);

    street.Daemon().SetBlocked(true);
    ASSERT_TRUE(test::ProcessUntil(street.loop,
                                   [&] { return street.binding.Fault() == RadioFault::Blocked; }));
    EXPECT_NE(BlueZFaultAdvice(RadioFault::Blocked).find("rfkill unblock"), std::string::npos);
    // Unblocked, the adapter stays off until it is switched on.
    street.Daemon().SetBlocked(false);
    ASSERT_TRUE(test::ProcessUntil(
        street.loop, [&] { return street.binding.Fault() == RadioFault::PoweredOff; }));
    street.Daemon().SetPowered(true);
    ASSERT_TRUE(street.recorder.WaitFor(wclMsg::kBlueZReady));
    EXPECT_EQ(street.binding.ReadRadioAddress(), 0x001A7DDA7113u);
    EXPECT_EQ(street.recorder.Count(wclMsg::kBlueZNotReady), 1u);
}

TEST(BlueZBinding, AnInquiryDiscoversForItsLengthOnTheClock) {
    // The default inquiry length, the inquiry run on a worker thread.
    // Expected: the adapter discovers until the clock has moved 10.24 s, not
    // sooner; then the inquiry ends with the device and discovery is stopped.
    BlueZStreet street(kStreet, TwclBlueZLoader::kDefaultInquiryLength);
    ASSERT_TRUE(street.binding.Load(street.recorder.Handle()));
    std::atomic<bool> done{false};
    std::optional<std::vector<std::string>> found;
    std::thread inquirer([&] {
        found = street.binding.Inquiry();
        done = true;
    });
    ASSERT_TRUE(test::ProcessUntil(street.loop, [&] { return street.Daemon().Discovering(); }));
    street.clock.Advance(10s);
    std::this_thread::sleep_for(20ms);  // the wait looks at the clock every millisecond
    EXPECT_FALSE(done);
    street.clock.Advance(240ms);
    ASSERT_TRUE(test::ProcessUntil(street.loop, [&] { return done.load(); }));
    inquirer.join();
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->front(), kSeen);
    EXPECT_FALSE(street.Daemon().Discovering());
    EXPECT_EQ(street.Daemon().DiscoveryStarts(), 1u);
}

TEST(BlueZBinding, AnInquiryFindsWhatThisRadioHearsNow) {
    // A device only the Microsoft stack sees; one that leaves range at 5 s; one
    // without a name. Expected: the first inquiry finds the three others, the
    // nameless one without a name; after 5 s the leaving one
    // is no longer found, although the daemon still knows its name; the other
    // stack's device is never found nor named.
    BlueZStreet street(kStreet);
    ASSERT_TRUE(street.binding.Load(street.recorder.Handle()));
    EXPECT_EQ(street.binding.Inquiry(), (std::vector<std::string>{kSeen, kLeaving, kNameless}));
    // A device that gave no name has none, although the daemon has an alias for it.
    EXPECT_THROW(street.binding.ReadRemoteName(kNameless), wclERemoteDeviceNameReadError);
    street.clock.Advance(6s);
    EXPECT_EQ(street.binding.Inquiry(), (std::vector<std::string>{kSeen, kNameless}));
    EXPECT_EQ(street.binding.ReadRemoteName(kLeaving), "Leaving");
    EXPECT_THROW(street.binding.ReadRemoteName("(00:17:E5:3A:91:03)"),
                 wclERemoteDeviceNameReadError);
    // Without a class the daemon has none to tell.
    EXPECT_THROW(street.binding.ReadRemoteClassOfDevice(kLeaving),
                 wclERemoteClassOfDeviceReadError);
}

TEST(BlueZBinding, TheRadiosNameIsTheAdaptersAlias) {
    // A short name, then one of 300 letters.
    // Expected: the adapter's alias is the name; the long one cut at 248 bytes.
    BlueZStreet street(kStreet);
    ASSERT_TRUE(street.binding.Load(street.recorder.Handle()));
    street.binding.WriteRadioName("Shop Radio");
    EXPECT_EQ(street.Daemon().Alias(), "Shop Radio");
    street.binding.WriteRadioName(std::string(300, 'n'));
    EXPECT_EQ(street.Daemon().Alias(), std::string(248, 'n'));
}

TEST(BlueZBinding, LookupsOfADeviceOutOfRangeOrWithRecordsThatDoNotParse) {
    // The leaving device before and after it left; a device whose SDP server
    // answers with a good record followed by one whose size runs past the answer.
    // Expected: one service, then the services error; the good record's service
    // alone.
    BlueZStreet street(kStreet);
    ASSERT_TRUE(street.binding.Load(street.recorder.Handle()));
    EXPECT_EQ(street.binding.EnumServices(kLeaving, std::nullopt).size(), 1u);
    std::vector<std::uint8_t> records = BuildServiceRecord(
        0x10000, {OBEXObjectPushServiceClassUUID}, 4, "Push", "", SdpTextEncoding::Utf8);
    records.insert(records.end(), {0x35, 0x40, 0x09, 0x00, 0x01});
    street.neighbourhood.BlueZ().SdpServers()->SetRawRecords("00:17:E5:3A:91:02", records);
    const auto services = street.binding.EnumServices(kSeen, std::nullopt);
    ASSERT_EQ(services.size(), 1u);
    EXPECT_EQ(services[0].Channel, 4);
    street.clock.Advance(6s);
    EXPECT_THROW(street.binding.EnumServices(kLeaving, std::nullopt), wclEEnumServices);
}

}  // namespace
}  // namespace kavri
