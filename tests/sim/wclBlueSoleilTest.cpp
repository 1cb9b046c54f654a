// The BlueSoleil binding over the virtual neighbourhood's stand-in
// "btfunc.dll": records filled as the stack fills them, and a push of one
// file through the stack's virtual COM port to a device's Object Push server.
#include "stack/wclBlueSoleil.h"

#include <gtest/gtest.h>

#include "StandInLinkTest.h"
#include "platform/DynamicLibrary.h"
#include "sim/ScenarioParser.h"
#include "sim/VirtualNeighbourhood.h"
#include "sim/VirtualObjectPushDevices.h"
#include "stack/wclBlueSoleilApi.h"
#include "stack/wclExceptions.h"
#include "stack/wclTypes.h"
#include "stack/wclUUIDs.h"

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace kavri {
namespace {

using namespace std::string_literals;
using sim::ParseScenario;
using sim::VirtualNeighbourhood;
using test::MessageRecorder;

constexpr const char* kStreet = R"(
stacks bluesoleil
radio (00:1A:7D:DA:71:13) "Kavri Radio" present 0-2500 6s-
device (00:17:E5:3A:91:02) "Anna's Phone" class 0x5A020C
  service 9 "OBEX Object Push" 0x1105
  service 0 "Headset" 0x1108
device (00:1F:CC:5E:63:0B) "Busy Phone" class 0x5A020C behaviour busy
  service 4 "OBEX Object Push" 0x1105
device (00:21:6B:A0:5C:E4) "Late Laptop" class 0x3A010C arrive 1s
  service 11 "OBEX Object Push" 0x1105
)";

constexpr const char* kAnna = "(00:17:E5:3A:91:02)";
constexpr const char* kBusy = "(00:1F:CC:5E:63:0B)";
constexpr const char* kLaptop = "(00:21:6B:A0:5C:E4)";

class BlueSoleilOverStandIn : public test::StandInLinkTest<TwclBlueSoleilLoader> {
protected:
    const char* Street() const override { return kStreet; }
    const char* InboxName() const override { return "bluesoleil"; }
};

TEST_F(BlueSoleilOverStandIn, LoadsAndReadsTheRadioAndItsNeighbours) {
    // A neighbourhood with the BlueSoleil stack and a radio.
    // Expected: ready at load; the radio's address; the devices in range at 0 s with
    // their names and classes; the laptop only once it has arrived.
    ASSERT_TRUE(Load());
    EXPECT_EQ(m_binding.ReadRadioAddress(), 0x001A7DDA7113u);
    EXPECT_EQ(m_binding.Inquiry(), (std::vector<std::string>{kAnna, kBusy}));
    EXPECT_EQ(m_binding.ReadRemoteName(kAnna), "Anna's Phone");
    EXPECT_EQ(m_binding.ReadRemoteClassOfDevice(kAnna), 0x5A020Cu);
    EXPECT_THROW(m_binding.ReadRemoteName(kLaptop), wclERemoteDeviceNameReadError);
    m_clock.Advance(Clock::Duration(1000));
    EXPECT_EQ(m_binding.Inquiry()->size(), 3u);
}

TEST_F(BlueSoleilOverStandIn, BrowseLeavesOutServicesWithoutAChannel) {
    // Anna's phone offers Object Push on channel 9 and a headset service without one.
    // Expected: only Object Push, on channel 9, named as the device names it.
    ASSERT_TRUE(Load());
    const auto services = m_binding.EnumServices(kAnna, std::nullopt);
    ASSERT_EQ(services.size(), 1u);
    EXPECT_EQ(services[0].Channel, 9);
    EXPECT_EQ(services[0].Name, "OBEX Object Push");
    EXPECT_EQ(services[0].UUID, OBEXObjectPushServiceClassUUID);
    EXPECT_THROW(m_binding.EnumServices(kAnna, SerialPortServiceClassUUID), wclEEnumServices);
}

TEST_F(BlueSoleilOverStandIn, RadioNameIsWrittenToTheStack) {
    // The operator names the radio.
    // Expected: the stack's radio reports the name in its 64-byte field.
    ASSERT_TRUE(Load());
    m_binding.WriteRadioName("Shop front \xC3\xA9t\xC3\xA9");
    const auto library = DynamicLibrary::Load(bluesoleil::kLibraryName);
    ASSERT_NE(library, nullptr);
    const auto getLocal =
        library->ResolveAs<bluesoleil::FnGetLocalDeviceInfo>("BT_GetLocalDeviceInfo");
    ASSERT_NE(getLocal, nullptr);
    std::uint8_t record[bluesoleil::kDeviceInfoRecordSize] = {};
    bluesoleil::WriteLe32(record, bluesoleil::kDeviceInfoRecordSize);
    ASSERT_EQ(getLocal(bluesoleil::kMaskName, record), bluesoleil::kSuccess);
    EXPECT_STREQ(reinterpret_cast<const char*>(record + bluesoleil::kNameOffset),
                 "Shop front \xC3\xA9t\xC3\xA9");
}

TEST_F(BlueSoleilOverStandIn, WatcherReportsTheRadioGoingAndComingBack) {
    // The radio is pulled at 2.5 s and plugged again at 6 s.
    // Expected: 1027 after the pull, then 1026 after the return.
    ASSERT_TRUE(Load());
    m_clock.Advance(Clock::Duration(3500));
    ASSERT_TRUE(m_recorder.WaitFor(wclMsg::kBlueSoleilNotReady));
    m_clock.Advance(Clock::Duration(3000));
    ASSERT_TRUE(m_recorder.WaitFor(wclMsg::kBlueSoleilReady));
    EXPECT_EQ(m_recorder.Numbers(),
              (std::vector<std::uint32_t>{wclMsg::kBlueSoleilNotReady, wclMsg::kBlueSoleilReady}));
}

TEST_F(BlueSoleilOverStandIn, PushesOneFileThroughTheVirtualComPort) {
    // OBEX CONNECT and one PUT of "hello.txt" to Anna's phone, channel looked up by class.
    // Expected: connect result 0, success responses, the file in the phone's inbox with
    // its bytes; after Close no stack connection and no bridge thread remain.
    ASSERT_TRUE(Load());
    const std::size_t threads = test::ThreadCount();
    auto link = Open(kAnna, 0);
    ASSERT_TRUE(Pump([this] { return !m_results.empty(); }));
    ASSERT_EQ(m_results, std::vector<std::uint32_t>{0});

    const std::string connect = "\x80\x00\x07\x10\x00\xFF\xFF"s;
    const std::string connected = Exchange(*link, connect);
    ASSERT_FALSE(connected.empty());
    EXPECT_EQ(static_cast<std::uint8_t>(connected[0]), 0xA0);

    const std::string body = "Hello from the shop";
    std::string name = "\x01\x00\x17"s;  // Name header, 23 bytes: "hello.txt" in UTF-16
    for (char c : std::string("hello.txt")) {
        name += '\0';
        name += c;
    }
    name += "\x00\x00"s;
    std::string put = "\x82\x00\x00"s + name + "\xC3\x00\x00\x00"s +
                      static_cast<char>(body.size()) + "\x49\x00"s +
                      static_cast<char>(3 + body.size()) + body;
    put[1] = static_cast<char>(put.size() >> 8);
    put[2] = static_cast<char>(put.size());
    const std::string stored = Exchange(*link, put);
    ASSERT_FALSE(stored.empty());
    EXPECT_EQ(static_cast<std::uint8_t>(stored[0]), 0xA0);

    const std::filesystem::path path = m_devices->InboxOf(kAnna) / "hello.txt";
    ASSERT_TRUE(std::filesystem::exists(path));
    std::string content(std::filesystem::file_size(path), '\0');
    std::ifstream(path, std::ios::binary).read(content.data(), static_cast<long>(content.size()));
    EXPECT_EQ(content, body);

    link->Close();
    EXPECT_TRUE(test::WaitUntil([&] { return test::ThreadCount() <= threads; }))
        << "the bridge and connect threads end";
}

TEST_F(BlueSoleilOverStandIn, DeviceEndingTheLinkIsReported) {
    // The phone drops the link while it is open.
    // Expected: the link reports its close (once through the line or the stack's callback).
    ASSERT_TRUE(Load());
    auto link = Open(kAnna, 9);
    ASSERT_TRUE(Pump([this] { return !m_results.empty(); }));
    ASSERT_EQ(m_results, std::vector<std::uint32_t>{0});
    m_closes = 0;
    // The device's server closes every link when it goes.
    m_devices.reset();
    ASSERT_TRUE(Pump([this] { return m_closes > 0; }));
    link->Close();
}

TEST_F(BlueSoleilOverStandIn, UnreachableDevicesFailWithTheStacksResults) {
    // A busy phone, a device not yet in range, and a class the phone lacks.
    // Expected: 0x8000F007, 0x8000F02F and 0x8000F02E, one report each.
    ASSERT_TRUE(Load());
    auto busy = Open(kBusy, 4);
    auto away = Open(kLaptop, 11);
    ASSERT_TRUE(Pump([this] { return m_results.size() == 2; }));
    std::sort(m_results.begin(), m_results.end());
    EXPECT_EQ(m_results, (std::vector<std::uint32_t>{0x8000F007, 0x8000F02F}));

    m_results.clear();
    wclBluetoothLinkRequest request;
    request.address = kAnna;
    request.serviceUUID = SerialPortServiceClassUUID;
    wclLinkEvents events;
    events.onConnect = [this](std::uint32_t result) { m_results.push_back(result); };
    auto missing = m_binding.OpenLink(m_loop, request, std::move(events));
    ASSERT_TRUE(Pump([this] { return !m_results.empty(); }));
    EXPECT_EQ(m_results, std::vector<std::uint32_t>{0x8000F02E});
}

}  // namespace
}  // namespace kavri
