// The Toshiba binding and its link against a scripted "TosBtAPI.dll": the
// message-completed operations, the lists it reads back, the COM port set-up
// and the connect events.
#include "stack/wclToshiba.h"

#include <gtest/gtest.h>

#include "platform/DynamicLibrary.h"
#include "platform/PollEventLoop.h"
#include "platform/SerialPort.h"
#include "stack/wclExceptions.h"
#include "stack/wclToshibaApi.h"
#include "stack/wclUUIDs.h"

#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

namespace kavri {
namespace {

using namespace toshiba;

// What the scripted library answers and what it saw. Completion messages are
// posted during the call, as a stack's thread would post them just after.
struct Script {
    bool notifyEventWorks = true;
    bool localInfo = true;
    int closes = 0;
    std::vector<std::string> calls;  // in order, for the release checks
    std::optional<MessageWindowHandle> stateWindow;
    std::optional<MessageWindowHandle> comEventWindow;
    // Discovery.
    std::vector<Dword> discoveryCodes = {kDiscoveryEnd};
    Dword listCount = 0;
    Dword listSize = kDeviceListHeader;
    // Services.
    std::vector<Dword> sdpConnectCodes = {kSdpConnectEnd};
    std::vector<std::vector<std::uint8_t>> analyzedRecords;
    Dword analyzedCountOverride = 0;
    std::array<std::uint8_t, 16> pattern{};
    // COM ports.
    std::uint32_t acceptedPort = 0;  // 0: every port refused
    std::vector<Dword> connectEvents = {kComConnectComplete};
    int createAttempts = 0;
    std::optional<MessageWindowHandle> notifyWindow;
    Dword lastSecurity = 0;
    std::uint8_t lastChannel = 0;
};

Script* g_script = nullptr;
std::vector<void*> g_allocated;

std::uint8_t* Allocate(std::size_t size) {
    auto* p = static_cast<std::uint8_t*>(std::calloc(1, size));
    g_allocated.push_back(p);
    return p;
}

Bool32 OpenAPI(Window window, const char* application, Long*) {
    g_script->stateWindow = *window;
    g_script->calls.push_back(std::string("open ") + application);
    return 1;
}
Bool32 CloseAPI(Long*) {
    ++g_script->closes;
    return 1;
}
Bool32 NotifyEvent(Dword mask, Long*, Window window, std::uint32_t message) {
    g_script->calls.push_back("notify " + std::to_string(mask) + " " + std::to_string(message));
    if (mask == kComEvents) {
        g_script->comEventWindow = *window;
    } else if (mask == kNotificationOff) {
        g_script->comEventWindow.reset();
    }
    return g_script->notifyEventWorks ? 1 : 0;
}
Bool32 GetLocalInfo2(std::uint8_t* info, Long*) {
    const std::uint8_t address[6] = {0x00, 0x1A, 0x7D, 0xDA, 0x71, 0x13};
    std::memcpy(info, address, 6);
    return g_script->localInfo ? 1 : 0;
}
Bool32 DiscoverRemoteDevice2(std::uint8_t** list, Long*, Dword, Dword, Window window,
                             std::uint32_t message) {
    const std::size_t records = g_script->listCount;
    std::uint8_t* out = Allocate(kDeviceListHeader + records * kDeviceRecordSize);
    WriteLe32(out, g_script->listCount);
    WriteLe32(out + 4, g_script->listSize);
    for (std::size_t i = 0; i < records; ++i) {
        std::uint8_t* record = out + kDeviceListHeader + i * kDeviceRecordSize;
        const std::uint8_t address[6] = {0x00, 0x17, 0xE5,
                                         0x3A, 0x91, static_cast<std::uint8_t>(i)};
        std::memcpy(record, address, 6);
    }
    *list = out;
    for (Dword code : g_script->discoveryCodes) {
        PostMessage(*window, message, code, 0);
    }
    return 1;
}
void MemFree(void* memory) {
    g_script->calls.push_back("free");
    std::erase(g_allocated, memory);
    std::free(memory);
}
Bool32 MakePattern(const std::uint8_t* uuids, Dword, void** pattern, Long*) {
    std::memcpy(g_script->pattern.data(), uuids, 16);
    *pattern = Allocate(16);
    g_script->calls.push_back("pattern");
    return 1;
}
Bool32 MakeAttributes(Dword mask, void** list, Long*) {
    *list = Allocate(4);
    g_script->calls.push_back("attributes " + std::to_string(mask));
    return 1;
}
Bool32 ConnectSDP(const std::uint8_t*, Dword* sdp, Long*, Window window, std::uint32_t message) {
    *sdp = 7;
    g_script->calls.push_back("sdp connect");
    for (Dword code : g_script->sdpConnectCodes) {
        PostMessage(*window, message, code, 0);
    }
    return 1;
}
Bool32 DisconnectSDP(Dword, Long*) {
    g_script->calls.push_back("sdp disconnect");
    return 1;
}
Bool32 Search(Dword, const void*, const void*, void** lists, Long*, Window window,
              std::uint32_t message) {
    *lists = Allocate(8);
    g_script->calls.push_back("search");
    PostMessage(*window, message, kSdpSearchEnd, 0);
    return 1;
}
Bool32 Analyze(const void*, Dword, std::uint8_t** analyzed, Long*) {
    const std::size_t count = g_script->analyzedRecords.size();
    std::uint8_t* out = Allocate(kAnalyzedHeader + count * kAnalyzedRecordSize);
    WriteLe32(out, g_script->analyzedCountOverride != 0 ? g_script->analyzedCountOverride
                                                        : static_cast<Dword>(count));
    WriteLe32(out + 4, static_cast<Dword>(kAnalyzedHeader + count * kAnalyzedRecordSize));
    for (std::size_t i = 0; i < count; ++i) {
        std::memcpy(out + kAnalyzedHeader + i * kAnalyzedRecordSize,
                    g_script->analyzedRecords[i].data(), kAnalyzedRecordSize);
    }
    *analyzed = out;
    g_script->calls.push_back("analyze");
    return 1;
}
Bool32 AnalyzeProtocol(const std::uint8_t* entry, std::uint8_t* result, Long*) {
    result[16] = entry[16];
    result[17] = entry[17];
    return 1;
}
void FreeAnalyzed(std::uint8_t* analyzed) {
    g_script->calls.push_back("free analyzed");
    std::erase(g_allocated, analyzed);
    std::free(analyzed);
}
Bool32 CreateCOMM(const char* name, Dword, Dword, Long*) {
    ++g_script->createAttempts;
    if (g_script->acceptedPort == 0 ||
        std::string(name) != "COM" + std::to_string(g_script->acceptedPort)) {
        return 0;
    }
    g_script->calls.push_back(std::string("create ") + name);
    if (g_script->comEventWindow) {
        PostMessage(*g_script->comEventWindow, kMsgComEvent, kComCreated, 0);
    }
    return 1;
}
Bool32 DestroyCOMM(const char* name, Long*) {
    g_script->calls.push_back(std::string("destroy ") + name);
    return 1;
}
Bool32 ConnectCOMM2(const char* name, const std::uint8_t*, std::uint8_t channel, Dword,
                    std::uint16_t* connection, Dword security, Long*, Window window,
                    std::uint32_t message, Dword) {
    g_script->calls.push_back(std::string("connect ") + name);
    g_script->lastSecurity = security;
    g_script->lastChannel = channel;
    *connection = 0x21;
    for (Dword event : g_script->connectEvents) {
        PostMessage(*window, message, event, 0);
    }
    return 1;
}
Bool32 DisconnectCOMM(const char* name, Long*) {
    g_script->calls.push_back(std::string("disconnect ") + name);
    return 1;
}
Bool32 NotifyCOMM(const char*, Dword mode, const std::uint8_t*, std::uint16_t, Long*, Window window,
                  std::uint32_t, Dword) {
    g_script->calls.push_back("notify port " + std::to_string(mode));
    g_script->notifyWindow = *window;
    return 1;
}

EntryPointTable Library() {
    return {
        {"BtOpenAPI", reinterpret_cast<void*>(&OpenAPI)},
        {"BtCloseAPI", reinterpret_cast<void*>(&CloseAPI)},
        {"BtNotifyEvent", reinterpret_cast<void*>(&NotifyEvent)},
        {"BtGetLocalInfo2", reinterpret_cast<void*>(&GetLocalInfo2)},
        {"BtDiscoverRemoteDevice2", reinterpret_cast<void*>(&DiscoverRemoteDevice2)},
        {"BtMemFree", reinterpret_cast<void*>(&MemFree)},
        {"BtMakeServiceSearchPattern2", reinterpret_cast<void*>(&MakePattern)},
        {"BtMakeAttributeIDList2", reinterpret_cast<void*>(&MakeAttributes)},
        {"BtConnectSDP", reinterpret_cast<void*>(&ConnectSDP)},
        {"BtDisconnectSDP", reinterpret_cast<void*>(&DisconnectSDP)},
        {"BtServiceSearchAttribute2", reinterpret_cast<void*>(&Search)},
        {"BtAnalyzeServiceAttributeLists2", reinterpret_cast<void*>(&Analyze)},
        {"BtAnalyzeProtocolParameter2", reinterpret_cast<void*>(&AnalyzeProtocol)},
        {"BtFreePBTANALYZEDATTRLIST2", reinterpret_cast<void*>(&FreeAnalyzed)},
        {"BtCreateCOMM", reinterpret_cast<void*>(&CreateCOMM)},
        {"BtDestroyCOMM", reinterpret_cast<void*>(&DestroyCOMM)},
        {"BtConnectCOMM2", reinterpret_cast<void*>(&ConnectCOMM2)},
        {"BtDisconnectCOMM", reinterpret_cast<void*>(&DisconnectCOMM)},
        {"BtNotifyCOMM", reinterpret_cast<void*>(&NotifyCOMM)},
    };
}

constexpr const char* kPhone = "(00:17:E5:3A:91:02)";

// An analysed record with the given class bytes, name and channel.
std::vector<std::uint8_t> Record(std::uint8_t classSize, std::array<std::uint8_t, 16> uuid,
                                 const std::string& name, std::uint8_t channel,
                                 std::uint16_t nameLength = 0xFFFF) {
    std::vector<std::uint8_t> record(kAnalyzedRecordSize, 0);
    Dword flags = kHasClass | kHasName | kHasProtocols;
    record[kClassSizeOffset] = classSize;
    std::copy(uuid.begin(), uuid.end(), record.begin() + kClassOffset);
    WriteLe16(&record[kNameLengthOffset],
              nameLength == 0xFFFF ? static_cast<std::uint16_t>(name.size()) : nameLength);
    std::memcpy(&record[kNameOffset], name.data(), std::min(name.size(), kTextFieldSize));
    record[kProtocolCountOffset] = 2;
    // L2CAP without a parameter, then RFCOMM with the channel.
    record[kProtocolOffset + kProtocolEntrySize + 16] = channel != 0 ? kParameterServerChannel : 0;
    record[kProtocolOffset + kProtocolEntrySize + 17] = channel;
    WriteLe32(record.data(), flags);
    return record;
}

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

class ToshibaBinding : public ::testing::Test {
protected:
    void SetUp() override {
        g_script = &m_script;
        m_library = InProcessLibraries::Register("TosBtAPI.dll", Library());
    }
    void TearDown() override {
        m_binding.Unload();
        g_script = nullptr;
        EXPECT_TRUE(g_allocated.empty()) << "a list of the stack was not freed";
        for (void* p : g_allocated) {
            std::free(p);
        }
        g_allocated.clear();
    }
    bool Load() { return m_binding.Load(m_window.Handle()); }

    Script m_script;
    ManualClock m_clock;
    PollEventLoop m_loop{m_clock};
    std::vector<std::uint32_t> m_managerMessages;
    MessageWindow m_window{m_loop,
                           [this](const Message& m) { m_managerMessages.push_back(m.Msg); }};
    std::unique_ptr<InProcessLibraries::Registration> m_library;
    TwclToshibaLoader m_binding{m_clock};
};

// ---- loading -----------------------------------------------------------------------

TEST_F(ToshibaBinding, LoadOpensTheApiAndAsksForStateEvents) {
    // A ready stack loads.
    // Expected: opened under "BTF_6_APP_WND", state events (mask 0x40000000, message 1040)
    // asked for, ready from the local information.
    EXPECT_TRUE(Load());
    ASSERT_GE(m_script.calls.size(), 2u);
    EXPECT_EQ(m_script.calls[0], "open BTF_6_APP_WND");
    EXPECT_EQ(m_script.calls[1], "notify 1073741824 1040");
    EXPECT_EQ(m_binding.ReadRadioAddress(), 0x001A7DDA7113u);
}

TEST_F(ToshibaBinding, FailedEventNotificationClosesTheApi) {
    // BtNotifyEvent fails at load.
    // Expected: the API is closed again and nothing stays loaded.
    m_script.notifyEventWorks = false;
    EXPECT_FALSE(Load());
    EXPECT_FALSE(m_binding.IsLoaded());
    EXPECT_EQ(m_script.closes, 1);
}

TEST_F(ToshibaBinding, StateNotificationsPostOnlyChanges) {
    // The stack notifies not ready, not ready again, then ready.
    // Expected: 1031 once, then 1030.
    ASSERT_TRUE(Load());
    ASSERT_TRUE(m_script.stateWindow.has_value());
    PostMessage(*m_script.stateWindow, kMsgStackState, 0, 0);
    PostMessage(*m_script.stateWindow, kMsgStackState, 0, 0);
    PostMessage(*m_script.stateWindow, kMsgStackState, 0, 1);
    ASSERT_TRUE(WaitFor(m_loop, [this] { return m_managerMessages.size() >= 2; }));
    m_loop.ProcessEvents(std::chrono::milliseconds(20));
    EXPECT_EQ(m_managerMessages,
              (std::vector<std::uint32_t>{wclMsg::kToshibaNotReady, wclMsg::kToshibaReady}));
    m_binding.Unload();
    EXPECT_EQ(m_script.closes, 1);
}

// ---- discovery -----------------------------------------------------------------------

TEST_F(ToshibaBinding, DiscoveryFailureCodeThenEndGivesNoList) {
    // The stack reports 0x600000 and then 0x6000FF for a discovery that found a device.
    // Expected: no list, and the stack's list freed.
    ASSERT_TRUE(Load());
    m_script.listCount = 1;
    m_script.listSize = kDeviceListHeader + kDeviceRecordSize;
    m_script.discoveryCodes = {kDiscoveryFailed, kDiscoveryEnd};
    EXPECT_FALSE(m_binding.Inquiry().has_value());
}

TEST_F(ToshibaBinding, DiscoveryReadsAddressesWithinTheListsSize) {
    // Two devices, once with an honest list and once with a count beyond its size.
    // Expected: both addresses in order; then only as many as the size holds.
    ASSERT_TRUE(Load());
    m_script.listCount = 2;
    m_script.listSize = kDeviceListHeader + 2 * kDeviceRecordSize;
    EXPECT_EQ(m_binding.Inquiry(),
              (std::vector<std::string>{"(00:17:E5:3A:91:00)", "(00:17:E5:3A:91:01)"}));
    m_script.listCount = 2;
    m_script.listSize = kDeviceListHeader + kDeviceRecordSize + 100;
    EXPECT_EQ(m_binding.Inquiry()->size(), 1u);
}

// ---- services ------------------------------------------------------------------------

TEST_F(ToshibaBinding, AnalysedRecordsBecomeServicesOfEachClassSize) {
    // Three records: a 16-bit class with channel 9, a 32-bit class, a 128-bit class with a
    // name longer than its field claims to be.
    // Expected: three services (found data or not), classes as given, channel 9 only on the
    // first, the long name cut at its field.
    ASSERT_TRUE(Load());
    m_script.analyzedRecords = {
        Record(2, {0x00, 0x00, 0x11, 0x05}, "OBEX Object Push", 9),
        Record(4, {0x00, 0x01, 0xFF, 0xFF}, "Vendor", 0),
        Record(16,
               {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66,
                0x77, 0x88},
               std::string(300, 'x'), 40, 4000),
    };
    const auto services = m_binding.EnumServices(kPhone, std::nullopt);
    ASSERT_EQ(services.size(), 3u);
    EXPECT_EQ(services[0].UUID, OBEXObjectPushServiceClassUUID);
    EXPECT_EQ(services[0].Channel, 9);
    EXPECT_EQ(services[0].Name, "OBEX Object Push");
    EXPECT_EQ(services[1].UUID, Uuid32ToGuid(0x0001FFFF));
    EXPECT_EQ(services[1].Channel, 0);
    EXPECT_EQ(services[2].UUID,
              (GUID{0x12345678, 0x9ABC, 0xDEF0, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}}));
    EXPECT_EQ(services[2].Name, std::string(kTextFieldSize, 'x'));
    EXPECT_EQ(services[2].Channel, 0) << "channel 40 is no RFCOMM channel";
    // The search pattern is L2CAP, big-endian.
    EXPECT_EQ(m_script.pattern,
              (std::array<std::uint8_t, 16>{0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                            0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB}));
}

TEST_F(ToshibaBinding, EverythingObtainedIsReleasedInReverseOrder) {
    // A search of one service.
    // Expected: analysed list, result lists, SDP connection, then attributes and pattern freed.
    ASSERT_TRUE(Load());
    m_script.analyzedRecords = {Record(2, {0x00, 0x00, 0x11, 0x05}, "Push", 9)};
    m_script.calls.clear();
    m_binding.EnumServices(kPhone, OBEXObjectPushServiceClassUUID);
    EXPECT_EQ(m_script.calls, (std::vector<std::string>{
                                  "pattern", "attributes 24594", "sdp connect", "search", "analyze",
                                  "free analyzed", "free", "sdp disconnect", "free", "free"}));
}

TEST_F(ToshibaBinding, FailedSdpConnectRaisesAndReleases) {
    // The SDP connection reports its failure code before the end code.
    // Expected: wclEEnumServices; the SDP connection, attributes and pattern released.
    ASSERT_TRUE(Load());
    m_script.sdpConnectCodes = {kSdpConnectFailed, kSdpConnectEnd};
    m_script.calls.clear();
    EXPECT_THROW(m_binding.EnumServices(kPhone, std::nullopt), wclEEnumServices);
    EXPECT_EQ(m_script.calls,
              (std::vector<std::string>{"pattern", "attributes 24594", "sdp connect",
                                        "sdp disconnect", "free", "free"}));
}

TEST_F(ToshibaBinding, HostileRecordCountIsBoundedByTheListsSize) {
    // The analysed list claims 50000 records but holds one.
    // Expected: one service.
    ASSERT_TRUE(Load());
    m_script.analyzedRecords = {Record(2, {0x00, 0x00, 0x11, 0x05}, "Push", 9)};
    m_script.analyzedCountOverride = 50000;
    EXPECT_EQ(m_binding.EnumServices(kPhone, std::nullopt).size(), 1u);
}

// ---- links -------------------------------------------------------------------------

class ToshibaLink : public ToshibaBinding {
protected:
    std::unique_ptr<wclConnectionBackend> Open(std::uint8_t channel) {
        wclBluetoothLinkRequest request;
        request.address = kPhone;
        request.channel = channel;
        request.serviceUUID = OBEXObjectPushServiceClassUUID;
        request.encryption = true;
        wclLinkEvents events;
        events.onConnect = [this](std::uint32_t result) { m_results.push_back(result); };
        events.onData = [this](const std::uint8_t* data, std::size_t size) {
            m_received.append(reinterpret_cast<const char*>(data), size);
        };
        events.onClose = [this] { ++m_closes; };
        return m_binding.OpenLink(m_loop, request, std::move(events));
    }
    std::vector<std::uint32_t> m_results;
    std::string m_received;
    int m_closes = 0;
};

TEST_F(ToshibaLink, AllPortsRefusedFailsWithoutAConnection) {
    // BtCreateCOMM refuses COM1 to COM255.
    // Expected: 255 attempts, 0x8000F02B once, COM event notification off again, no connect.
    ASSERT_TRUE(Load());
    m_script.calls.clear();
    auto link = Open(9);
    ASSERT_TRUE(WaitFor(m_loop, [this] { return !m_results.empty(); }));
    EXPECT_EQ(m_results, std::vector<std::uint32_t>{kWclErrUnableConnect});
    EXPECT_EQ(m_script.createAttempts, 255);
    EXPECT_EQ(m_script.calls, (std::vector<std::string>{"notify 8388608 1054", "notify 0 1054"}));
}

TEST_F(ToshibaLink, RefusalBeforeCompletionIsReportedAsClosed) {
    // COM4 is created; the stack answers 0x800200 and then 0x8002FF.
    // Expected: 0x8000F01C once; the channel and the security flags passed; the port destroyed.
    ASSERT_TRUE(Load());
    m_script.acceptedPort = 4;
    m_script.connectEvents = {kComRefused, kComConnectComplete};
    auto link = Open(9);
    ASSERT_TRUE(WaitFor(m_loop, [this] { return !m_results.empty(); }));
    EXPECT_EQ(m_results, std::vector<std::uint32_t>{kWclErrConnectionClosed});
    EXPECT_EQ(m_script.lastChannel, 9);
    EXPECT_EQ(m_script.lastSecurity, 2u);
    link->Close();
    EXPECT_EQ(m_script.calls.back(), "destroy COM4");
}

TEST_F(ToshibaLink, ChannelZeroWithoutTheServiceFails) {
    // Channel 0 and a device whose search finds no service.
    // Expected: 0x8000F02E and no port created.
    ASSERT_TRUE(Load());
    m_script.acceptedPort = 4;
    auto link = Open(0);
    ASSERT_TRUE(WaitFor(m_loop, [this] { return !m_results.empty(); }));
    EXPECT_EQ(m_results, std::vector<std::uint32_t>{kWclErrAddressNotAvailable});
    EXPECT_EQ(m_script.createAttempts, 0);
}

TEST_F(ToshibaLink, ConnectsOverTheSerialPortAfterSettling) {
    // Channel 0 resolved to 9 by the search; COM6 stands for a pseudo-terminal.
    // Expected: the result 0 only once 100 ms have passed; bytes from the line arrive;
    // the link-lost event closes; Close turns notification off, disconnects, destroys.
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    SetSerialPortPath(6, ::ptsname(master));
    ASSERT_TRUE(Load());
    m_script.acceptedPort = 6;
    m_script.analyzedRecords = {Record(2, {0x00, 0x00, 0x11, 0x05}, "Push", 9)};
    auto link = Open(0);
    ASSERT_TRUE(WaitFor(m_loop, [this] { return m_script.notifyWindow.has_value(); }));
    m_loop.ProcessEvents(std::chrono::milliseconds(10));
    EXPECT_TRUE(m_results.empty()) << "the line settles first";
    m_clock.Advance(Clock::Duration(100));
    ASSERT_TRUE(WaitFor(m_loop, [this] { return !m_results.empty(); }));
    EXPECT_EQ(m_results, std::vector<std::uint32_t>{0});
    EXPECT_EQ(m_script.lastChannel, 9);

    ASSERT_EQ(::write(master, "\xA0\x00\x03", 3), 3);
    ASSERT_TRUE(WaitFor(m_loop, [this] { return m_received.size() == 3; }));
    PostMessage(*m_script.notifyWindow, kMsgComNotify, kComLinkLost, 0);
    ASSERT_TRUE(WaitFor(m_loop, [this] { return m_closes == 1; }));

    m_script.calls.clear();
    link->Close();
    EXPECT_EQ(m_script.calls,
              (std::vector<std::string>{"notify port 0", "disconnect COM6", "destroy COM6"}));
    SetSerialPortPath(6, "");
    ::close(master);
}

}  // namespace
}  // namespace kavri
