// The Microsoft stack binding driven through the virtual neighbourhood's
// stand-in libraries, on a manual clock.
#include "stack/wclMicrosoft.h"

#include <gtest/gtest.h>

#include "LoaderTestSupport.h"
#include "platform/Text.h"
#include "sim/ScenarioParser.h"
#include "sim/VirtualNeighbourhood.h"
#include "stack/wclExceptions.h"
#include "stack/wclTypes.h"
#include "stack/wclUUIDs.h"

#include <optional>
#include <string>
#include <vector>

namespace kavri {
namespace {

using sim::ParseScenario;
using sim::VirtualNeighbourhood;
using test::MessageRecorder;

constexpr const char* kStreet = R"(
stacks microsoft
radio (00:1A:7D:DA:71:13) "Kavri Radio"
device (00:17:E5:3A:91:02) "Anna's Phone" class 0x5A020C
  service 9 "OBEX Object Push" 0x1105
  service 2 "Hands-Free Audio Gateway" 0x111F
device (00:1E:3A:44:07:B1) "Zoë's Phone" class 0x7A020C
  service 3 "Serial Port" 0x1101 comment "Modem"
  service 12 "Objektübertragung" 0x1105 utf16 comment "Texte en UTF-16"
device (00:21:6B:A0:5C:E4) "Late Laptop" class 0x3A010C arrive 5s
  service 11 "OBEX Object Push" 0x1105
)";

constexpr const char* kAnna = "(00:17:E5:3A:91:02)";
constexpr const char* kZoe = "(00:1E:3A:44:07:B1)";
constexpr const char* kLaptop = "(00:21:6B:A0:5C:E4)";

class MicrosoftBinding : public ::testing::Test {
protected:
    void Start(const sim::Scenario& scenario, VirtualNeighbourhood::Options options = {}) {
        m_neighbourhood.emplace(scenario, m_clock, options);
    }
    void Start(const char* text = kStreet) { Start(ParseScenario(text)); }

    // Loads the binding against the recorder's window.
    bool Load() { return m_binding.Load(m_recorder.Handle()); }

    void TearDown() override {
        m_binding.Unload();
        if (m_neighbourhood) {
            EXPECT_EQ(m_neighbourhood->OpenHandleCount(), 0u) << "a handle was left open";
        }
    }

    ManualClock m_clock;
    PollEventLoop m_loop{m_clock};
    MessageRecorder m_recorder{m_loop};
    std::optional<VirtualNeighbourhood> m_neighbourhood;
    TwclMicrosoftLoader m_binding{m_clock};
};

// ---- loading and presence -------------------------------------------------------

TEST_F(MicrosoftBinding, LoadsFromIrpropsAndReportsTheRadio) {
    // A system with "irprops.cpl" and a radio plugged in.
    // Expected: loaded from it, radio present.
    Start();
    EXPECT_TRUE(Load());
    EXPECT_TRUE(m_binding.IsLoaded());
    EXPECT_EQ(m_binding.LibraryName(), "irprops.cpl");
}

TEST_F(MicrosoftBinding, FallsBackToBthpropsWhenIrpropsIsMissing) {
    // Only "bthprops.cpl" carries the Bluetooth API.
    // Expected: the stack loads from it and works.
    Start(ParseScenario(kStreet), VirtualNeighbourhood::Options{true});
    EXPECT_TRUE(Load());
    EXPECT_EQ(m_binding.LibraryName(), "bthprops.cpl");
    EXPECT_EQ(m_binding.ReadRadioAddress(), 0x001A7DDA7113u);
}

TEST_F(MicrosoftBinding, IsAbsentWithoutTheStack) {
    // A neighbourhood whose only stack is BlueSoleil: no Bluetooth API library.
    // Expected: load reports absent, nothing stays loaded, operations fail with their errors.
    Start("stacks bluesoleil\nradio (00:1A:7D:DA:71:13) \"R\"\n");
    const std::size_t threads = test::ThreadCount();
    EXPECT_FALSE(Load());
    EXPECT_FALSE(m_binding.IsLoaded());
    EXPECT_EQ(test::ThreadCount(), threads) << "no watcher without a stack";
    EXPECT_THROW(m_binding.ReadRadioAddress(), wclEGetRadioHandle);
    EXPECT_FALSE(m_binding.Inquiry().has_value());
    EXPECT_THROW(m_binding.EnumServices(kAnna, std::nullopt), wclEEnumServices);
    EXPECT_THROW(m_binding.ReadRemoteName(kAnna), wclEGetRadioHandle);
}

TEST_F(MicrosoftBinding, LoadedWithoutRadioReportsAbsentAndSecondLoadAddsNoWatcher) {
    // The stack is installed but the radio is plugged in only at 10 s; Load is called twice.
    // Expected: both loads say absent; one watcher thread, gone after Unload.
    Start("stacks microsoft\nradio (00:1A:7D:DA:71:13) \"R\" plug 10s\n");
    const std::size_t threads = test::ThreadCount();
    EXPECT_FALSE(Load());
    EXPECT_TRUE(m_binding.IsLoaded());
    EXPECT_FALSE(Load());
    EXPECT_EQ(test::ThreadCount(), threads + 1);
    m_binding.Unload();
    EXPECT_FALSE(m_binding.IsLoaded());
    EXPECT_EQ(test::ThreadCount(), threads);
}

TEST_F(MicrosoftBinding, WatcherPostsRemovalOnceWithinASecondAndArrivalOnReturn) {
    // Loaded at 0 with the radio in; pulled at 2.5 s, plugged again at 6 s.
    // Expected: no message while it stays; one 1029 by 3.5 s; one 1028 after 6 s; nothing else.
    Start("stacks microsoft\nradio (00:1A:7D:DA:71:13) \"R\" present 0-2500 6s-\n");
    ASSERT_TRUE(Load());
    const auto cycles = [this] { return m_neighbourhood->RadioFindCount(); };
    const std::uint64_t atLoad = cycles();

    m_clock.Advance(Clock::Duration(2000));  // the watcher tests at 1 s and 2 s
    ASSERT_TRUE(test::WaitUntil([&] { return cycles() > atLoad; }));
    EXPECT_TRUE(m_recorder.Numbers().empty()) << "nothing changed yet";

    m_clock.Advance(Clock::Duration(1500));  // 3.5 s: one second after the radio went
    ASSERT_TRUE(m_recorder.WaitFor(wclMsg::kMicrosoftAbsent));

    const std::uint64_t afterRemoval = cycles();
    m_clock.Advance(Clock::Duration(2000));  // 5.5 s: still away
    ASSERT_TRUE(test::WaitUntil([&] { return cycles() > afterRemoval; }));
    EXPECT_EQ(m_recorder.Count(wclMsg::kMicrosoftAbsent), 1u) << "an unchanged state posts nothing";

    m_clock.Advance(Clock::Duration(1000));  // 6.5 s: back since 6 s
    ASSERT_TRUE(m_recorder.WaitFor(wclMsg::kMicrosoftPresent));
    EXPECT_EQ(m_recorder.Numbers(),
              (std::vector<std::uint32_t>{wclMsg::kMicrosoftAbsent, wclMsg::kMicrosoftPresent}));
}

TEST_F(MicrosoftBinding, UnloadStopsTheWatcher) {
    // Loaded, then unloaded; the clock then moves on.
    // Expected: the watcher thread is gone and the radio is looked for no more.
    Start();
    const std::size_t threads = test::ThreadCount();
    ASSERT_TRUE(Load());
    EXPECT_EQ(test::ThreadCount(), threads + 1);
    m_binding.Unload();
    EXPECT_EQ(test::ThreadCount(), threads);
    const std::uint64_t finds = m_neighbourhood->RadioFindCount();
    m_clock.Advance(Clock::Duration(5000));
    EXPECT_EQ(m_neighbourhood->RadioFindCount(), finds);
    EXPECT_TRUE(m_recorder.Numbers().empty());
}

// ---- radio ---------------------------------------------------------------------

TEST_F(MicrosoftBinding, ReadsTheRadioAddressAndFailsWithoutRadio) {
    // The radio (00:1A:7D:DA:71:13) is in until 1 s.
    // Expected: its 48-bit value, then "Unable to get local radio handle." once it is gone.
    Start("stacks microsoft\nradio (00:1A:7D:DA:71:13) \"R\" pull 1s\n");
    ASSERT_TRUE(Load());
    EXPECT_EQ(m_binding.ReadRadioAddress(), 0x001A7DDA7113u);
    m_clock.Advance(Clock::Duration(1000));
    EXPECT_THROW(m_binding.ReadRadioAddress(), wclEGetRadioHandle);
}

TEST_F(MicrosoftBinding, WritesTheRadioNameAsUtf8BytesWithoutTerminator) {
    // A new name with a non-ASCII character, on a system other than NT 6.0.
    // Expected: "Local Name" is REG_BINARY with exactly the UTF-8 bytes; the
    // radio is told with 0x220FD4 and now reports that name.
    Start();
    ASSERT_TRUE(Load());
    const std::string name = "Café Radio";
    m_binding.WriteRadioName(name);
    const auto value = m_neighbourhood->LocalNameValue();
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(value->type, 3u);
    EXPECT_EQ(value->data, std::vector<std::uint8_t>(name.begin(), name.end()));
    EXPECT_EQ(m_neighbourhood->LastDeviceIoControlCode(), 0x220FD4u);
    EXPECT_EQ(m_neighbourhood->RadioName(), name);
}

TEST_F(MicrosoftBinding, RadioNameEqualToTheComputerNameDeletesTheValue) {
    // A name is written, then the computer's own name.
    // Expected: the value is removed and the radio falls back to the computer name.
    Start();
    ASSERT_TRUE(Load());
    m_neighbourhood->SetComputerName("SHOP-PC");
    m_binding.WriteRadioName("Window Display");
    ASSERT_TRUE(m_neighbourhood->LocalNameValue().has_value());
    m_binding.WriteRadioName("SHOP-PC");
    EXPECT_FALSE(m_neighbourhood->LocalNameValue().has_value());
    EXPECT_EQ(m_neighbourhood->RadioName(), "SHOP-PC");
    // Deleting a value that is already gone is not a failure.
    EXPECT_NO_THROW(m_binding.WriteRadioName("SHOP-PC"));
}

TEST_F(MicrosoftBinding, EmptyRadioNameIsWrittenAsZeroBytes) {
    // The empty name, which is never "equal to the computer name".
    // Expected: the value exists and holds no bytes.
    Start();
    ASSERT_TRUE(Load());
    m_binding.WriteRadioName("");
    const auto value = m_neighbourhood->LocalNameValue();
    ASSERT_TRUE(value.has_value());
    EXPECT_TRUE(value->data.empty());
}

TEST_F(MicrosoftBinding, ReloadControlCodeFollowsTheSystemVersion) {
    // The radio is told to reload its name on several system versions.
    // Expected: 0x411008 exactly on NT 6.0, 0x220FD4 on every other.
    struct Case {
        std::uint32_t major, minor, platform, code;
    };
    const Case cases[] = {
        {6, 0, 2, 0x411008},  {6, 1, 2, 0x220FD4}, {5, 1, 2, 0x220FD4},
        {10, 0, 2, 0x220FD4}, {6, 0, 1, 0x220FD4},
    };
    Start();
    ASSERT_TRUE(Load());
    for (const Case& c : cases) {
        m_neighbourhood->SetOsVersion(c.major, c.minor, c.platform);
        EXPECT_NO_THROW(m_binding.WriteRadioName("Radio"))
            << c.major << "." << c.minor << " platform " << c.platform;
        EXPECT_EQ(m_neighbourhood->LastDeviceIoControlCode(), c.code)
            << c.major << "." << c.minor << " platform " << c.platform;
    }
}

TEST_F(MicrosoftBinding, RadioNameCannotBeWrittenWithoutRadio) {
    // The radio was pulled at 1 s, so no present radio device is listed.
    // Expected: "Unable to write local radio name.", nothing written, nothing left open.
    Start("stacks microsoft\nradio (00:1A:7D:DA:71:13) \"R\" pull 1s\n");
    ASSERT_TRUE(Load());
    m_clock.Advance(Clock::Duration(1000));
    EXPECT_THROW(m_binding.WriteRadioName("Name"), wclERadoNameWriteError);
    EXPECT_FALSE(m_neighbourhood->LocalNameValue().has_value());
}

// ---- inquiry ---------------------------------------------------------------------

TEST_F(MicrosoftBinding, InquiryFindsTheDevicesInRangeNow) {
    // Two devices are there from the start, a laptop arrives at 5 s.
    // Expected: two addresses in scenario order, then three.
    Start();
    ASSERT_TRUE(Load());
    EXPECT_EQ(m_binding.Inquiry(), (std::vector<std::string>{kAnna, kZoe}));
    m_clock.Advance(Clock::Duration(5000));
    EXPECT_EQ(m_binding.Inquiry(), (std::vector<std::string>{kAnna, kZoe, kLaptop}));
}

TEST_F(MicrosoftBinding, InquiryCutsAddressTextAfterTheFirstParenthesis) {
    // The system writes each address followed by more text.
    // Expected: the stored addresses end at the first ")".
    Start();
    ASSERT_TRUE(Load());
    m_neighbourhood->SetAddressTextSuffix(":3 (extra) text");
    EXPECT_EQ(m_binding.Inquiry(), (std::vector<std::string>{kAnna, kZoe}));
}

TEST_F(MicrosoftBinding, InquiryWithNobodyAroundIsEmptyAndWithoutRadioFails) {
    // A radio and no device; then the radio is pulled.
    // Expected: an empty list (a successful inquiry), then no list at all.
    Start("stacks microsoft\nradio (00:1A:7D:DA:71:13) \"R\" pull 1s\n");
    ASSERT_TRUE(Load());
    const auto found = m_binding.Inquiry();
    ASSERT_TRUE(found.has_value());
    EXPECT_TRUE(found->empty());
    m_clock.Advance(Clock::Duration(1000));
    EXPECT_FALSE(m_binding.Inquiry().has_value());
}

// ---- remote name and class of device ----------------------------------------------------

TEST_F(MicrosoftBinding, ReadsRemoteNameAndClassOfDevice) {
    // A device with a non-ASCII name.
    // Expected: its name and class of device as the scenario gives them.
    Start();
    ASSERT_TRUE(Load());
    EXPECT_EQ(m_binding.ReadRemoteName(kZoe), "Zoë's Phone");
    EXPECT_EQ(m_binding.ReadRemoteClassOfDevice(kZoe), 0x7A020Cu);
}

TEST_F(MicrosoftBinding, LongRemoteNameIsCutByTheRecord) {
    // A 300-character name (150 "é" then 150 "x").
    // Expected: the first 247 UTF-16 characters, the record's capacity before its zero.
    sim::Scenario scenario = ParseScenario(kStreet);
    std::string longName;
    for (int i = 0; i < 150; ++i)
        longName += "é";
    longName += std::string(150, 'x');
    scenario.devices[0].name = longName;
    Start(scenario);
    ASSERT_TRUE(Load());
    std::string expected;
    for (int i = 0; i < 150; ++i)
        expected += "é";
    expected += std::string(97, 'x');
    EXPECT_EQ(m_binding.ReadRemoteName(kAnna), expected);
}

TEST_F(MicrosoftBinding, UnknownOrNotYetSeenDeviceCannotBeRead) {
    // An address nobody has, and the laptop before it has arrived.
    // Expected: the name and class errors, each for its call.
    Start();
    ASSERT_TRUE(Load());
    EXPECT_THROW(m_binding.ReadRemoteName("(00:00:00:00:00:01)"), wclERemoteDeviceNameReadError);
    EXPECT_THROW(m_binding.ReadRemoteClassOfDevice(kLaptop), wclERemoteClassOfDeviceReadError);
    m_clock.Advance(Clock::Duration(5000));
    EXPECT_EQ(m_binding.ReadRemoteName(kLaptop), "Late Laptop");
}

// ---- services -------------------------------------------------------------------

TEST_F(MicrosoftBinding, EnumeratesEveryServiceWithoutAClass) {
    // A phone with Object Push on 9 and a hands-free gateway on 2.
    // Expected: both, in the device's order, with class, channel and name.
    Start();
    ASSERT_TRUE(Load());
    const auto services = m_binding.EnumServices(kAnna, std::nullopt);
    ASSERT_EQ(services.size(), 2u);
    EXPECT_EQ(services[0].UUID, OBEXObjectPushServiceClassUUID);
    EXPECT_EQ(services[0].Channel, 9);
    EXPECT_EQ(services[0].Name, "OBEX Object Push");
    EXPECT_EQ(services[1].UUID, Uuid16ToGuid(0x111F));
    EXPECT_EQ(services[1].Channel, 2);
}

TEST_F(MicrosoftBinding, ClassFilterFindsTheObjectPushChannel) {
    // A search for Object Push on a phone with a serial port and Object Push in UTF-16 texts.
    // Expected: only the Object Push service, channel 12, its texts decoded.
    Start();
    ASSERT_TRUE(Load());
    const auto services = m_binding.EnumServices(kZoe, OBEXObjectPushServiceClassUUID);
    ASSERT_EQ(services.size(), 1u);
    EXPECT_EQ(services[0].Channel, 12);
    EXPECT_EQ(services[0].Name, "Objektübertragung");
    EXPECT_EQ(services[0].Comment, "Texte en UTF-16");
}

TEST_F(MicrosoftBinding, SerialPortFirstInTheClassListGivesTheNextClass) {
    // Records without a profile list: one lists Serial Port then Object Push,
    // one only Serial Port.
    // Expected: the first service's class is Object Push, the second's Serial Port.
    sim::Scenario scenario = ParseScenario(kStreet);
    scenario.devices[0].services = {
        {4, "Modem and Push", "", "0x1101, 0x1105", false},
        {3, "Modem", "", "0x1101", false},
    };
    Start(scenario);
    ASSERT_TRUE(Load());
    const auto services = m_binding.EnumServices(kAnna, std::nullopt);
    ASSERT_EQ(services.size(), 2u);
    EXPECT_EQ(services[0].UUID, OBEXObjectPushServiceClassUUID);
    EXPECT_EQ(services[1].UUID, SerialPortServiceClassUUID);
}

TEST_F(MicrosoftBinding, ServiceFailuresRaiseAndReleaseTheLookup) {
    // A device that has left.
    // Expected: "Unable to enumerate services.", and no lookup left open.
    Start();
    ASSERT_TRUE(Load());
    EXPECT_THROW(m_binding.EnumServices(kLaptop, std::nullopt), wclEEnumServices);
    EXPECT_EQ(m_neighbourhood->OpenHandleCount(), 0u);
}

TEST_F(MicrosoftBinding, ARecordWithAnUnusableChannelIsSkippedAndTheOthersKept) {
    // A phone whose first record announces channel 32 (then 255) beside an
    // Object Push service on 12, and one whose only record is bad.
    // Expected: the bad record is passed over, Object Push on 12 is still
    // found with or without a class filter; the phone with only the bad
    // record has no services; no lookup stays open.
    for (const std::uint8_t bad : {std::uint8_t{32}, std::uint8_t{255}}) {
        sim::Scenario scenario = ParseScenario(kStreet);
        scenario.devices[1].services[0].channel = bad;
        scenario.devices[0].services.resize(1);
        scenario.devices[0].services[0].channel = bad;
        Start(scenario);
        ASSERT_TRUE(Load());
        const auto all = m_binding.EnumServices(kZoe, std::nullopt);
        ASSERT_EQ(all.size(), 1u) << int(bad);
        EXPECT_EQ(all[0].UUID, OBEXObjectPushServiceClassUUID);
        EXPECT_EQ(all[0].Channel, 12);
        const auto push = m_binding.EnumServices(kZoe, OBEXObjectPushServiceClassUUID);
        ASSERT_EQ(push.size(), 1u);
        EXPECT_EQ(push[0].Channel, 12);
        EXPECT_TRUE(m_binding.EnumServices(kAnna, std::nullopt).empty());
        EXPECT_EQ(m_neighbourhood->OpenHandleCount(), 0u);
        m_binding.Unload();
    }
}

}  // namespace
}  // namespace kavri
