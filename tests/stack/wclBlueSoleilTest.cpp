// The BlueSoleil binding and its link against a scripted "btfunc.dll": the
// records it fills, what it reads back from hostile answers, the connect
// statuses and the handle table.
#include "stack/wclBlueSoleil.h"

#include <gtest/gtest.h>

#include "platform/DynamicLibrary.h"
#include "platform/PollEventLoop.h"
#include "platform/SerialPort.h"
#include "stack/wclBlueSoleilApi.h"
#include "stack/wclBlueSoleilLink.h"
#include "stack/wclExceptions.h"
#include "stack/wclUUIDs.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace kavri {
namespace {

using namespace bluesoleil;

// What the scripted library answers and what it saw. The entry points are
// plain functions, so the script is one object for the test program.
struct Script {
    std::mutex mutex;
    Bool32 ready = 1;
    Dword result = kSuccess;                           // of the inquiry, browse and device calls
    std::vector<std::array<std::uint8_t, 6>> devices;  // reversed addresses to report
    std::optional<Dword> inquiryLength;                // overrides the length written
    std::vector<std::pair<std::uint16_t, std::string>> browsed;
    std::vector<std::uint16_t> sppClasses;  // classes the search finds, on channel 7
    std::array<std::uint8_t, kNameSize> remoteName{};
    std::vector<std::uint8_t> lastRecord;   // the last record handed in
    std::vector<std::uint8_t> lastService;  // the last service record handed in
    Dword lastMask = 0;
    std::uint8_t inquiryMode = 0;
    std::uint8_t inquiryLengthArg = 0;
    Dword inquiryBufferIn = 0;
    ConnectionCallback callback = nullptr;
    int registrations = 0;
    int uninitialized = 0;
    // Connect: the status, handle and COM port it answers; held until released.
    Dword connectStatus = kSuccess;
    Dword connectHandle = 0x51;
    std::uint8_t connectPort = 0;
    bool holdConnect = false;
    std::condition_variable released;
    std::vector<Dword> disconnected;
};

Script* g_script = nullptr;

Bool32 Initialize() {
    return 1;
}
void Uninitialize() {
    ++g_script->uninitialized;
}
Bool32 IsReady() {
    return g_script->ready;
}
Dword GetLocal(Dword mask, std::uint8_t* record) {
    g_script->lastMask = mask;
    g_script->lastRecord.assign(record, record + kDeviceInfoRecordSize);
    const std::uint8_t address[6] = {0x13, 0x71, 0xDA, 0x7D, 0x1A, 0x00};
    std::memcpy(record + kAddressOffset, address, 6);
    return g_script->result;
}
Dword SetLocal(Dword mask, const std::uint8_t* record) {
    g_script->lastMask = mask;
    g_script->lastRecord.assign(record, record + kDeviceRecordSize);
    return g_script->result;
}
Dword GetRemote(Dword mask, std::uint8_t* record) {
    g_script->lastMask = mask;
    g_script->lastRecord.assign(record, record + kDeviceInfoRecordSize);
    std::memcpy(record + kNameOffset, g_script->remoteName.data(), kNameSize);
    record[kClassOffset] = 0x0C;
    record[kClassOffset + 1] = 0x02;
    record[kClassOffset + 2] = 0x5A;
    record[kSignalOffset] = 0xD0;  // -48
    return g_script->result;
}
Dword Inquire(std::uint8_t mode, std::uint8_t length, Dword* byteLength, std::uint8_t* records) {
    g_script->inquiryMode = mode;
    g_script->inquiryLengthArg = length;
    g_script->inquiryBufferIn = *byteLength;
    g_script->lastRecord.assign(records, records + kDeviceRecordSize);
    std::size_t at = 0;
    for (const auto& device : g_script->devices) {
        std::memcpy(records + at + kAddressOffset, device.data(), 6);
        at += kDeviceRecordSize;
    }
    *byteLength = g_script->inquiryLength.value_or(static_cast<Dword>(at));
    return g_script->result;
}
Dword Browse(const std::uint8_t* device, Bool32, Dword* byteLength, std::uint8_t* records) {
    g_script->lastRecord.assign(device, device + kDeviceRecordSize);
    std::size_t at = 0;
    for (const auto& [value, name] : g_script->browsed) {
        records[at + kBrowseClassOffset] = static_cast<std::uint8_t>(value);
        records[at + kBrowseClassOffset + 1] = static_cast<std::uint8_t>(value >> 8);
        std::memcpy(records + at + kBrowseNameOffset, name.data(), name.size());
        at += kBrowseRecordSize;
    }
    *byteLength = static_cast<Dword>(at);
    return g_script->result;
}
Dword Search(const std::uint8_t*, Dword* byteLength, std::uint8_t* record) {
    g_script->lastService.assign(record, record + *byteLength);
    GUID uuid;
    std::memcpy(&uuid, record + kServiceUuidOffset, sizeof uuid);
    for (std::uint16_t value : g_script->sppClasses) {
        if (uuid == Uuid16ToGuid(value)) {
            record[kServiceChannelOffset] = 7;
            std::memcpy(record + kServiceNameOffset, "Found by search", 15);
            return kSuccess;
        }
    }
    return kStatusServiceNotFound;
}
Dword Connect(const std::uint8_t* device, std::uint8_t* service, Dword* handle) {
    std::unique_lock lock(g_script->mutex);
    g_script->lastRecord.assign(device, device + kDeviceRecordSize);
    g_script->lastService.assign(service, service + kServiceRecordSize);
    g_script->released.wait(lock, [] { return !g_script->holdConnect; });
    *handle = g_script->connectHandle;
    service[kServiceComPortOffset] = g_script->connectPort;
    return g_script->connectStatus;
}
Dword Disconnect(Dword handle) {
    std::lock_guard lock(g_script->mutex);
    g_script->disconnected.push_back(handle);
    return kSuccess;
}
Dword Register(std::uint8_t event, ConnectionCallback callback) {
    if (event == kConnectionStatusEvent) {
        g_script->callback = callback;
        ++g_script->registrations;
    }
    return kSuccess;
}
Dword Unregister(std::uint8_t event) {
    if (event == kConnectionStatusEvent) {
        g_script->callback = nullptr;
    }
    return kSuccess;
}

EntryPointTable FullLibrary() {
    return {
        {"BT_InitializeLibrary", reinterpret_cast<void*>(&Initialize)},
        {"BT_UninitializeLibrary", reinterpret_cast<void*>(&Uninitialize)},
        {"BT_IsBluetoothReady", reinterpret_cast<void*>(&IsReady)},
        {"BT_GetLocalDeviceInfo", reinterpret_cast<void*>(&GetLocal)},
        {"BT_SetLocalDeviceInfo", reinterpret_cast<void*>(&SetLocal)},
        {"BT_GetRemoteDeviceInfo", reinterpret_cast<void*>(&GetRemote)},
        {"BT_InquireDevices", reinterpret_cast<void*>(&Inquire)},
        {"BT_BrowseServices", reinterpret_cast<void*>(&Browse)},
        {"BT_SearchSPPExServices", reinterpret_cast<void*>(&Search)},
        {"BT_ConnectSPPExService", reinterpret_cast<void*>(&Connect)},
        {"BT_DisconnectSPPExService", reinterpret_cast<void*>(&Disconnect)},
        {"BT_RegisterCallback", reinterpret_cast<void*>(&Register)},
        {"BT_UnregisterCallback", reinterpret_cast<void*>(&Unregister)},
    };
}

constexpr const char* kPhone = "(00:17:E5:3A:91:02)";
const std::uint8_t kPhoneReversed[6] = {0x02, 0x91, 0x3A, 0xE5, 0x17, 0x00};

bool WaitFor(PollEventLoop& loop, const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        loop.ProcessEvents(std::chrono::milliseconds(5));
    }
    return true;
}

class BlueSoleilBinding : public ::testing::Test {
protected:
    void SetUp() override { g_script = &m_script; }
    void TearDown() override {
        m_binding.Unload();
        g_script = nullptr;
    }

    void Install(EntryPointTable table = FullLibrary()) {
        m_library = InProcessLibraries::Register("btfunc.dll", std::move(table));
    }
    bool Load() { return m_binding.Load(m_window.Handle()); }

    Script m_script;
    ManualClock m_clock;
    PollEventLoop m_loop{m_clock};
    MessageWindow m_window{m_loop, [](const Message&) {}};
    std::unique_ptr<InProcessLibraries::Registration> m_library;
    TwclBlueSoleilLoader m_binding{m_clock};
};

// ---- loading -------------------------------------------------------------------

TEST_F(BlueSoleilBinding, AbsentLibraryLoadsNothing) {
    // No "btfunc.dll" on the system.
    // Expected: not loaded, and operations raise their errors.
    EXPECT_FALSE(Load());
    EXPECT_FALSE(m_binding.IsLoaded());
    EXPECT_THROW(m_binding.ReadRadioAddress(), wclERadioAddressReadError);
    EXPECT_FALSE(m_binding.Inquiry().has_value());
}

TEST_F(BlueSoleilBinding, MissingInitializeEndsTheLoad) {
    // A library without BT_InitializeLibrary: its wrapper answers false.
    // Expected: nothing loaded, no callback registered.
    EntryPointTable table = FullLibrary();
    table.erase("BT_InitializeLibrary");
    Install(std::move(table));
    EXPECT_FALSE(Load());
    EXPECT_FALSE(m_binding.IsLoaded());
    EXPECT_EQ(m_script.registrations, 0);
}

TEST_F(BlueSoleilBinding, LoadRegistersTheCallbackAndUnloadTakesItBack) {
    // A ready stack loads; then unloads.
    // Expected: readiness reported, callback for event 3 while loaded, library shut down after.
    Install();
    EXPECT_TRUE(Load());
    EXPECT_TRUE(m_binding.IsLoaded());
    EXPECT_EQ(m_script.callback, &wclBlueSoleilHandleTable::ConnectionCallback);
    m_binding.Unload();
    EXPECT_EQ(m_script.callback, nullptr);
    EXPECT_EQ(m_script.uninitialized, 1);
}

TEST_F(BlueSoleilBinding, StackWithoutRadioLoadsNotReady) {
    // The library loads but its radio is not ready.
    // Expected: loaded, reported not ready.
    m_script.ready = 0;
    Install();
    EXPECT_FALSE(Load());
    EXPECT_TRUE(m_binding.IsLoaded());
}

// ---- radio and devices -----------------------------------------------------------

TEST_F(BlueSoleilBinding, RadioAddressComesFromTheAddressMask) {
    // The stack writes the address least significant byte first at offset 4.
    // Expected: the record asked for is 132 bytes with its size, mask 4, address read back.
    Install();
    Load();
    EXPECT_EQ(m_binding.ReadRadioAddress(), 0x001A7DDA7113ull);
    EXPECT_EQ(m_script.lastMask, kMaskAddress);
    EXPECT_EQ(ReadLe32(m_script.lastRecord.data()), kDeviceInfoRecordSize);
    m_script.result = 5;
    EXPECT_THROW(m_binding.ReadRadioAddress(), wclERadioAddressReadError);
}

TEST_F(BlueSoleilBinding, RadioNameIsCutBetweenCharactersAtSixtyFourBytes) {
    // A name of 63 ASCII bytes and then "é" (two bytes) would end inside a character.
    // Expected: the 84-byte record holds the 63 bytes and a zero; mask 1.
    Install();
    Load();
    const std::string name = std::string(63, 'a') + "\xC3\xA9";
    m_binding.WriteRadioName(name);
    ASSERT_EQ(m_script.lastRecord.size(), kDeviceRecordSize);
    EXPECT_EQ(ReadLe32(m_script.lastRecord.data()), kDeviceRecordSize);
    EXPECT_EQ(m_script.lastMask, kMaskName);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&m_script.lastRecord[kNameOffset]), 64),
              std::string(63, 'a') + '\0');
    m_script.result = 0;
    EXPECT_THROW(m_binding.WriteRadioName("x"), wclERadoNameWriteError);
}

TEST_F(BlueSoleilBinding, InquiryReadsEachRecordsAddress) {
    // Two devices answer an inquiry.
    // Expected: mode 3, length 10, an 8400-byte buffer whose first record is sized 84; both
    // addresses in order.
    Install();
    Load();
    m_script.devices = {{0x02, 0x91, 0x3A, 0xE5, 0x17, 0x00}, {0xB1, 0x07, 0x44, 0x3A, 0x1E, 0x00}};
    const auto found = m_binding.Inquiry();
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(*found, (std::vector<std::string>{kPhone, "(00:1E:3A:44:07:B1)"}));
    EXPECT_EQ(m_script.inquiryMode, 3);
    EXPECT_EQ(m_script.inquiryLengthArg, 10);
    EXPECT_EQ(m_script.inquiryBufferIn, kInquiryBufferSize);
    EXPECT_EQ(ReadLe32(m_script.lastRecord.data()), kDeviceRecordSize);
}

TEST_F(BlueSoleilBinding, InquiryCountsRoundedRecordsWithinTheBuffer) {
    // Lengths that are no multiple of 84, and one far beyond the buffer.
    // Expected: rounded counts; never more than the 100 records the buffer holds; a
    // failed call gives no list, an empty one an empty list.
    Install();
    Load();
    m_script.inquiryLength = 84 + 42;
    EXPECT_EQ(m_binding.Inquiry()->size(), 2u);
    m_script.inquiryLength = 84 + 41;
    EXPECT_EQ(m_binding.Inquiry()->size(), 1u);
    m_script.inquiryLength = 0xFFFFFFFF;
    EXPECT_EQ(m_binding.Inquiry()->size(), 100u);
    m_script.inquiryLength = 0;
    EXPECT_TRUE(m_binding.Inquiry()->empty());
    m_script.result = 2;
    EXPECT_FALSE(m_binding.Inquiry().has_value());
}

TEST_F(BlueSoleilBinding, RemoteNameAndClassReadTheirFields) {
    // A name that fills all 64 bytes without a terminator, and a class written LSB first.
    // Expected: the 64 bytes as the name; class 0x5A020C; the device's address in the record.
    Install();
    Load();
    m_script.remoteName.fill('n');
    EXPECT_EQ(m_binding.ReadRemoteName(kPhone), std::string(64, 'n'));
    EXPECT_EQ(m_script.lastMask, kMaskName);
    EXPECT_EQ(0, std::memcmp(&m_script.lastRecord[kAddressOffset], kPhoneReversed, 6));
    EXPECT_EQ(m_binding.ReadRemoteClassOfDevice(kPhone), 0x5A020Cu);
    EXPECT_EQ(m_script.lastMask, kMaskClass);
    m_script.result = 11;
    EXPECT_THROW(m_binding.ReadRemoteName(kPhone), wclERemoteDeviceNameReadError);
    EXPECT_THROW(m_binding.ReadRemoteClassOfDevice(kPhone), wclERemoteClassOfDeviceReadError);
}

TEST_F(BlueSoleilBinding, MalformedRemoteNameIsRepaired) {
    // The stack hands back bytes that are no UTF-8.
    // Expected: a name with U+FFFD in their place.
    Install();
    Load();
    const char bad[] = "ab\xFF";
    std::memcpy(m_script.remoteName.data(), bad, 3);
    EXPECT_EQ(m_binding.ReadRemoteName(kPhone), "ab\xEF\xBF\xBD");
}

// ---- services --------------------------------------------------------------------

TEST_F(BlueSoleilBinding, BrowseKeepsOnlySerialPortServices) {
    // The browse returns Object Push (a serial-port service) and HID (not one).
    // Expected: one service, with the browsed name, the searched channel and the class.
    Install();
    Load();
    m_script.browsed = {{0x1105, "OBEX Object Push"}, {0x1124, "Keyboard"}};
    m_script.sppClasses = {0x1105};
    const auto services = m_binding.EnumServices(kPhone, std::nullopt);
    ASSERT_EQ(services.size(), 1u);
    EXPECT_EQ(services[0].Name, "OBEX Object Push");
    EXPECT_EQ(services[0].Channel, 7);
    EXPECT_EQ(services[0].UUID, OBEXObjectPushServiceClassUUID);
    EXPECT_EQ(0, std::memcmp(&m_script.lastRecord[kAddressOffset], kPhoneReversed, 6));
}

TEST_F(BlueSoleilBinding, SearchForOneClassGivesOneServiceOrRaises) {
    // A search for Object Push, once found and once not.
    // Expected: the 156-byte record carries the class at byte 8; one service with the
    // search's name; a failed search raises the services error.
    Install();
    Load();
    m_script.sppClasses = {0x1105};
    const auto services = m_binding.EnumServices(kPhone, OBEXObjectPushServiceClassUUID);
    ASSERT_EQ(services.size(), 1u);
    EXPECT_EQ(services[0].Name, "Found by search");
    EXPECT_EQ(services[0].Channel, 7);
    ASSERT_EQ(m_script.lastService.size(), kServiceRecordSize);
    EXPECT_EQ(ReadLe32(m_script.lastService.data()), kServiceRecordSize);
    GUID asked;
    std::memcpy(&asked, &m_script.lastService[kServiceUuidOffset], sizeof asked);
    EXPECT_EQ(asked, OBEXObjectPushServiceClassUUID);
    EXPECT_THROW(m_binding.EnumServices(kPhone, SerialPortServiceClassUUID), wclEEnumServices);
}

TEST_F(BlueSoleilBinding, FailedBrowseRaises) {
    // The browse call fails.
    // Expected: the services error.
    Install();
    Load();
    m_script.result = 2;
    EXPECT_THROW(m_binding.EnumServices(kPhone, std::nullopt), wclEEnumServices);
}

// ---- handle table ------------------------------------------------------------------

TEST(BlueSoleilHandleTable, OnlyALostConnectionOfAKnownHandleIsReported) {
    // Handle 0x77 belongs to a window; the stack reports statuses for it and another.
    // Expected: only status 4 for 0x77 sends 1057; after removal nothing is sent.
    PollEventLoop loop;
    int events = 0;
    MessageWindow window(loop, [&](const Message& m) {
        if (m.Msg == wclBlueSoleilMsg::kConnectionEvent) {
            ++events;
        }
    });
    auto& table = wclBlueSoleilHandleTable::Instance();
    table.Add(0x77, window.Handle());
    wclBlueSoleilHandleTable::ConnectionCallback(0x77, 3);
    wclBlueSoleilHandleTable::ConnectionCallback(0x78, kStatusDisconnected);
    EXPECT_EQ(events, 0);
    wclBlueSoleilHandleTable::ConnectionCallback(0x77, kStatusDisconnected);
    EXPECT_EQ(events, 1);
    table.Remove(0x77);
    wclBlueSoleilHandleTable::ConnectionCallback(0x77, kStatusDisconnected);
    EXPECT_EQ(events, 1);
}

// ---- links -------------------------------------------------------------------------

class BlueSoleilLinkTest : public BlueSoleilBinding {
protected:
    std::unique_ptr<wclConnectionBackend> Open(std::uint8_t channel = 9) {
        wclBluetoothLinkRequest request;
        request.address = kPhone;
        request.channel = channel;
        request.serviceUUID = OBEXObjectPushServiceClassUUID;
        wclLinkEvents events;
        events.onConnect = [this](std::uint32_t result) { m_results.push_back(result); };
        events.onClose = [this] { ++m_closes; };
        return m_binding.OpenLink(m_loop, request, std::move(events));
    }
    std::size_t Disconnects() {
        std::lock_guard lock(m_script.mutex);
        return m_script.disconnected.size();
    }

    std::vector<std::uint32_t> m_results;
    int m_closes = 0;
};

TEST_F(BlueSoleilLinkTest, FailedStatusesMapToTheirResults) {
    // The stack refuses the connect with each status in turn.
    // Expected: one report each: 6, 7, 10, 11 to their codes, anything else to 0x8000F02B.
    Install();
    Load();
    const std::pair<Dword, std::uint32_t> table[] = {{6, 0x8000F007},  {7, 0x8000F028},
                                                     {10, 0x8000F02E}, {11, 0x8000F02F},
                                                     {5, 0x8000F02B},  {0, 0x8000F02B}};
    for (const auto& [status, expected] : table) {
        m_script.connectStatus = status;
        m_results.clear();
        auto link = Open();
        ASSERT_TRUE(WaitFor(m_loop, [&] { return !m_results.empty(); })) << status;
        m_loop.ProcessEvents(std::chrono::milliseconds(0));
        EXPECT_EQ(m_results, std::vector<std::uint32_t>{expected}) << "status " << status;
    }
    EXPECT_EQ(Disconnects(), 0u);
}

TEST_F(BlueSoleilLinkTest, ConnectRecordsCarryAddressClassAndChannel) {
    // A connect on channel 9 for Object Push.
    // Expected: an 84-byte device record with the reversed address; a 156-byte service
    // record with the class at byte 8 and the channel at byte 152.
    Install();
    Load();
    m_script.connectStatus = 10;
    auto link = Open(9);
    ASSERT_TRUE(WaitFor(m_loop, [&] { return !m_results.empty(); }));
    std::lock_guard lock(m_script.mutex);
    EXPECT_EQ(ReadLe32(m_script.lastRecord.data()), kDeviceRecordSize);
    EXPECT_EQ(0, std::memcmp(&m_script.lastRecord[kAddressOffset], kPhoneReversed, 6));
    EXPECT_EQ(ReadLe32(m_script.lastService.data()), kServiceRecordSize);
    EXPECT_EQ(m_script.lastService[kServiceChannelOffset], 9);
    GUID asked;
    std::memcpy(&asked, &m_script.lastService[kServiceUuidOffset], sizeof asked);
    EXPECT_EQ(asked, OBEXObjectPushServiceClassUUID);
}

TEST_F(BlueSoleilLinkTest, UnopenablePortFailsAndDropsTheStackConnection) {
    // The stack connects but names COM port 0, then a port with no device behind it.
    // Expected: 0x8000F02B each time and the stack connection disconnected.
    Install();
    Load();
    m_script.connectPort = 0;
    auto link = Open();
    ASSERT_TRUE(WaitFor(m_loop, [&] { return !m_results.empty(); }));
    EXPECT_EQ(m_results, std::vector<std::uint32_t>{kWclErrUnableConnect});
    EXPECT_EQ(Disconnects(), 1u);

    SetSerialPortPath(201, "/nonexistent/kavri-port");
    m_script.connectPort = 201;
    m_results.clear();
    auto second = Open();
    ASSERT_TRUE(WaitFor(m_loop, [&] { return !m_results.empty(); }));
    SetSerialPortPath(201, "");
    EXPECT_EQ(m_results, std::vector<std::uint32_t>{kWclErrUnableConnect});
    EXPECT_EQ(Disconnects(), 2u);
}

TEST_F(BlueSoleilLinkTest, ConnectionCompletingAfterCloseIsDropped) {
    // The link is closed while the stack is still connecting; then the stack succeeds.
    // Expected: no report, and the late stack connection is disconnected.
    Install();
    Load();
    m_script.holdConnect = true;
    auto link = Open();
    link->Close();
    {
        std::lock_guard lock(m_script.mutex);
        m_script.holdConnect = false;
    }
    m_script.released.notify_all();
    ASSERT_TRUE(WaitFor(m_loop, [&] { return Disconnects() == 1; }));
    EXPECT_TRUE(m_results.empty());
    std::lock_guard lock(m_script.mutex);
    EXPECT_EQ(m_script.disconnected, std::vector<Dword>{0x51});
}

}  // namespace
}  // namespace kavri
