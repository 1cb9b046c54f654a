// The Toshiba binding over the virtual neighbourhood's stand-in
// "TosBtAPI.dll": discovery and service search completed by the stand-in's
// messages, and a push of one file through a virtual COM port.
#include "stack/wclToshiba.h"

#include <gtest/gtest.h>

#include "StandInLinkTest.h"
#include "sim/ScenarioParser.h"
#include "sim/VirtualNeighbourhood.h"
#include "sim/VirtualObjectPushDevices.h"
#include "stack/wclExceptions.h"
#include "stack/wclTypes.h"
#include "stack/wclUUIDs.h"

#include <algorithm>
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
stacks toshiba
radio (00:1A:7D:DA:71:13) "Kavri Radio" present 0-2500 6s-
device (00:17:E5:3A:91:02) "Anna's Phone" class 0x5A020C
  service 9 "OBEX Object Push" 0x1105 comment "Send me"
  service 0 "Headset" 0x1108
device (00:1F:CC:5E:63:0B) "Busy Phone" class 0x5A020C behaviour busy
  service 4 "OBEX Object Push" 0x1105
device (00:21:6B:A0:5C:E4) "Late Laptop" class 0x3A010C arrive 1s
  service 11 "OBEX Object Push" 0x1105
)";

constexpr const char* kAnna = "(00:17:E5:3A:91:02)";
constexpr const char* kBusy = "(00:1F:CC:5E:63:0B)";
constexpr const char* kLaptop = "(00:21:6B:A0:5C:E4)";

class ToshibaOverStandIn : public test::StandInLinkTest<TwclToshibaLoader> {
protected:
    const char* Street() const override { return kStreet; }
    const char* InboxName() const override { return "toshiba"; }
};

// The stand-in's completions come from its own thread; the operations wait
// for them on a loop of the calling thread.
TEST_F(ToshibaOverStandIn, DiscoversAndReadsTheNeighbours) {
    // The stack and its radio at 0 s, then at 1 s when the laptop has arrived.
    // Expected: ready at load; the radio's address; the devices in range with names and
    // classes; every list the stand-in handed out freed.
    ASSERT_TRUE(Load());
    EXPECT_EQ(m_binding.ReadRadioAddress(), 0x001A7DDA7113u);
    EXPECT_EQ(m_binding.Inquiry(), (std::vector<std::string>{kAnna, kBusy}));
    EXPECT_EQ(m_binding.ReadRemoteName(kAnna), "Anna's Phone");
    EXPECT_EQ(m_binding.ReadRemoteClassOfDevice(kAnna), 0x5A020Cu);
    EXPECT_THROW(m_binding.ReadRemoteName(kLaptop), wclERemoteDeviceNameReadError);
    m_clock.Advance(Clock::Duration(1000));
    EXPECT_EQ(m_binding.Inquiry()->size(), 3u);
}

TEST_F(ToshibaOverStandIn, ServiceSearchAnalysesEveryRecord) {
    // All of Anna's services, then only Object Push, then a device out of range.
    // Expected: both services, the channel only where there is one, the description;
    // one service for the class; the services error for the absent device.
    ASSERT_TRUE(Load());
    const auto all = m_binding.EnumServices(kAnna, std::nullopt);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].UUID, OBEXObjectPushServiceClassUUID);
    EXPECT_EQ(all[0].Channel, 9);
    EXPECT_EQ(all[0].Name, "OBEX Object Push");
    EXPECT_EQ(all[0].Comment, "Send me");
    EXPECT_EQ(all[1].Channel, 0);
    EXPECT_EQ(m_binding.EnumServices(kAnna, OBEXObjectPushServiceClassUUID).size(), 1u);
    EXPECT_THROW(m_binding.EnumServices(kLaptop, std::nullopt), wclEEnumServices);
}

TEST_F(ToshibaOverStandIn, StackStateFollowsTheRadio) {
    // The radio is pulled at 2.5 s and plugged again at 6 s.
    // Expected: 1031 after the pull, then 1030 after the return.
    ASSERT_TRUE(Load());
    m_clock.Advance(Clock::Duration(3500));
    ASSERT_TRUE(m_recorder.WaitFor(wclMsg::kToshibaNotReady));
    m_clock.Advance(Clock::Duration(3000));
    ASSERT_TRUE(m_recorder.WaitFor(wclMsg::kToshibaReady));
    EXPECT_EQ(m_recorder.Numbers(),
              (std::vector<std::uint32_t>{wclMsg::kToshibaNotReady, wclMsg::kToshibaReady}));
}

TEST_F(ToshibaOverStandIn, PushesOneFileThroughTheVirtualComPort) {
    // OBEX CONNECT and one PUT of "hello.txt" to Anna's phone, channel looked up by class.
    // Expected: connect result 0 once the line has settled, success responses, the file in
    // the phone's inbox; after Close no port and no bridge thread remain.
    ASSERT_TRUE(Load());
    const std::size_t threads = test::ThreadCount();
    auto link = Open(kAnna, 0);
    ASSERT_TRUE(Pump([this] {
        m_clock.Advance(Clock::Duration(10));
        return !m_results.empty();
    }));
    ASSERT_EQ(m_results, std::vector<std::uint32_t>{0});

    const std::string connected = Exchange(*link, "\x80\x00\x07\x10\x00\xFF\xFF"s);
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
        << "the bridge and lookup threads end";
}

TEST_F(ToshibaOverStandIn, DeviceEndingTheLinkIsReported) {
    // The phone's server goes while the link is open.
    // Expected: the link reports its close.
    ASSERT_TRUE(Load());
    auto link = Open(kAnna, 9);
    ASSERT_TRUE(Pump([this] {
        m_clock.Advance(Clock::Duration(10));
        return !m_results.empty();
    }));
    ASSERT_EQ(m_results, std::vector<std::uint32_t>{0});
    m_devices.reset();
    ASSERT_TRUE(Pump([this] { return m_closes > 0; }));
    link->Close();
}

TEST_F(ToshibaOverStandIn, RefusedAndMissingServicesFail) {
    // A busy phone on its channel; Anna's phone asked for a class she lacks, channel 0.
    // Expected: 0x8000F01C for the refusal, 0x8000F02E for the missing service.
    ASSERT_TRUE(Load());
    auto busy = Open(kBusy, 4);
    ASSERT_TRUE(Pump([this] { return !m_results.empty(); }));
    EXPECT_EQ(m_results, std::vector<std::uint32_t>{0x8000F01C});
    busy->Close();

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
