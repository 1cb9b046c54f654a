// The Widcomm binding and its RFCOMM client link against a scripted adapter
// registered in-process: the records it fills are written here byte by byte,
// hostile ones included, and the test plays the adapter's messages.
#include "stack/wclWidcomm.h"

#include <gtest/gtest.h>

#include "platform/DynamicLibrary.h"
#include "platform/EventLoopTestSupport.h"
#include "platform/PollEventLoop.h"
#include "stack/wclExceptions.h"
#include "stack/wclWidcommApi.h"

#include <array>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kavri {
namespace {

using namespace widcomm;

constexpr const char* kPhone = "(00:17:E5:3A:91:02)";
constexpr std::array<BYTE, 6> kPhoneBytes = {0x00, 0x17, 0xE5, 0x3A, 0x91, 0x02};

// What the scripted adapter answers and what it was asked. The entry points
// are plain functions, so they reach it through one pointer that each test
// sets; the service lookup thread calls in too, hence the lock.
struct Adapter {
    std::mutex mutex;
    bool loadResult = true;
    bool ready = true;
    int loads = 0;
    int unloads = 0;
    MessageWindowHandle managerWindow;
    DWORD goneMessage = 0;
    DWORD readyMessage = 0;

    std::vector<BYTE> inquiry;   // copied to the start of the buffer; empty: fails
    std::vector<BYTE> name;      // copied into the 248-byte field; empty: fails
    std::vector<BYTE> cod;       // 3 bytes; empty: fails
    std::vector<BYTE> services;  // copied to the start of the buffer; empty: fails
    std::optional<GUID> serviceFilter;
    std::vector<BYTE> radioName;

    bool createFails = false;
    MessageWindowHandle clientWindow;
    std::vector<DWORD> clientMessages;
    int clients = 0;
    DWORD openResult = 0;
    int opens = 0;
    std::vector<BYTE> openAddress;
    BYTE openChannel = 0;
    std::array<DWORD, 4> openUuid{};
    DWORD openAuthentication = 0;
    DWORD openEncryption = 0;
    std::string openName;
    std::vector<std::string> calls;  // Close and Destroy, in order
    bool connected = true;
    WORD writeLimit = 0xFFFF;  // the most one write takes
    std::vector<WORD> writeLengths;
    std::string written;
};

Adapter* g_adapter = nullptr;

Adapter& A() {
    return *g_adapter;
}

BOOL Load(HWND window, DWORD gone, DWORD readyMessage) {
    std::lock_guard lock(A().mutex);
    ++A().loads;
    A().managerWindow = *FromHwnd(window);
    A().goneMessage = gone;
    A().readyMessage = readyMessage;
    return A().loadResult;
}
void Unload() {
    ++A().unloads;
}
BOOL IsDeviceReady() {
    return A().ready;
}
BOOL SetLocalDeviceName(const BYTE* name) {
    A().radioName.assign(name, name + kNameFieldBytes);
    return 1;
}
BOOL GetLocalDeviceAddress(BYTE* address) {
    std::memcpy(address, kPhoneBytes.data(), 6);
    return 1;
}
BOOL EnumDevices(BYTE* buffer, DWORD size) {
    if (A().inquiry.empty() || size != kInquiryBufferBytes)
        return 0;
    std::memcpy(buffer, A().inquiry.data(), std::min<std::size_t>(A().inquiry.size(), size));
    return 1;
}
BOOL GetDeviceName(const BYTE*, BYTE* field) {
    if (A().name.empty())
        return 0;
    std::memcpy(field, A().name.data(), std::min(A().name.size(), kNameFieldBytes));
    return 1;
}
BOOL GetDeviceCOD(const BYTE*, BYTE* cod) {
    if (A().cod.size() != 3)
        return 0;
    std::memcpy(cod, A().cod.data(), 3);
    return 1;
}
BOOL EnumServices(const BYTE* address, const GUID* filter, BYTE* buffer) {
    std::lock_guard lock(A().mutex);
    if (A().services.empty() || std::memcmp(address, kPhoneBytes.data(), 6) != 0)
        return 0;
    A().serviceFilter = filter ? std::optional<GUID>(*filter) : std::nullopt;
    std::memcpy(buffer, A().services.data(), std::min(A().services.size(), kServiceBufferBytes));
    return 1;
}
void* CreateClient(HWND window, DWORD connected, DWORD data, DWORD closed) {
    if (A().createFails)
        return nullptr;
    ++A().clients;
    A().clientWindow = *FromHwnd(window);
    A().clientMessages = {connected, data, closed};
    return &A().clients;
}
void DestroyClient(void*) {
    --A().clients;
    A().calls.push_back("destroy");
}
DWORD OpenClient(void*, const BYTE* address, BYTE channel, DWORD u0, DWORD u1, DWORD u2, DWORD u3,
                 DWORD authentication, DWORD encryption, const char* name) {
    ++A().opens;
    A().openAddress.assign(address, address + 6);
    A().openChannel = channel;
    A().openUuid = {u0, u1, u2, u3};
    A().openAuthentication = authentication;
    A().openEncryption = encryption;
    A().openName = name;
    return A().openResult;
}
DWORD CloseClient(void*) {
    A().calls.push_back("close");
    return 0;
}
DWORD WriteClient(void*, const BYTE* data, WORD length, WORD* written) {
    A().writeLengths.push_back(length);
    *written = std::min(length, A().writeLimit);
    A().written.append(reinterpret_cast<const char*>(data), *written);
    return 0;
}
BOOL IsClientConnected(void*, BYTE*) {
    return A().connected;
}
BOOL SignalLevel(void*, BYTE* level) {
    *level = 0xB4;
    return 1;
}

template <typename Function>
void* Entry(Function function) {
    return reinterpret_cast<void*>(function);
}

EntryPointTable FullAdapter() {
    return {
        {"WD_Load", Entry(&Load)},
        {"WD_Unload", Entry(&Unload)},
        {"WD_IsDeviceReady", Entry(&IsDeviceReady)},
        {"WD_SetLocalDeviceName", Entry(&SetLocalDeviceName)},
        {"WD_GetLocalDeviceAddress", Entry(&GetLocalDeviceAddress)},
        {"WD_EnumDevices", Entry(&EnumDevices)},
        {"WD_GetDeviceName", Entry(&GetDeviceName)},
        {"WD_GetDeviceCOD", Entry(&GetDeviceCOD)},
        {"WD_EnumServices", Entry(&EnumServices)},
        {"WD_CreateRfCommClient", Entry(&CreateClient)},
        {"WD_DestroyRfCommClient", Entry(&DestroyClient)},
        {"WD_OpenRfCommClient", Entry(&OpenClient)},
        {"WD_CloseRfCommClient", Entry(&CloseClient)},
        {"WD_WriteRfCommClient", Entry(&WriteClient)},
        {"WD_IsRfCommClientConnected", Entry(&IsClientConnected)},
        {"WD_GetRfCommClientSignalLevel", Entry(&SignalLevel)},
    };
}

// One 117-byte service record.
std::vector<BYTE> ServiceRecord(BYTE channel, const std::string& name, const GUID& uuid) {
    std::vector<BYTE> record(kServiceRecordBytes, 0);
    record[0] = channel;
    std::memcpy(record.data() + 1, name.data(), std::min<std::size_t>(name.size(), 100));
    std::memcpy(record.data() + 101, &uuid, sizeof uuid);
    return record;
}

std::vector<BYTE> Count(std::uint32_t count) {
    std::vector<BYTE> bytes(4);
    std::memcpy(bytes.data(), &count, 4);
    return bytes;
}

wclBluetoothLinkRequest PhoneOnChannel9() {
    wclBluetoothLinkRequest request;
    request.address = kPhone;
    request.channel = 9;
    return request;
}

class WidcommBinding : public ::testing::Test {
protected:
    WidcommBinding() { g_adapter = &m_adapter; }
    ~WidcommBinding() override {
        m_binding.Unload();
        g_adapter = nullptr;
    }

    void Install(const std::vector<std::string>& names, EntryPointTable adapter = FullAdapter()) {
        for (const std::string& name : names) {
            const bool isAdapter = name.rfind("wcl2", 0) == 0;
            m_libraries.push_back(
                InProcessLibraries::Register(name, isAdapter ? adapter : EntryPointTable{}));
        }
    }
    bool InstallAndLoad() {
        Install({"wbtapi.dll", "wcl2btwnr.dll"});
        return m_binding.Load(m_manager.Handle());
    }
    void Settle() {
        while (m_loop.ProcessEvents(Clock::Duration::zero())) {
        }
    }

    Adapter m_adapter;
    ManualClock m_clock;
    PollEventLoop m_loop{m_clock};
    std::vector<Message> m_managerMessages;
    MessageWindow m_manager{m_loop, [this](const Message& m) { m_managerMessages.push_back(m); }};
    std::vector<std::unique_ptr<InProcessLibraries::Registration>> m_libraries;
    TwclWidComLoader m_binding{m_clock};
};

// ---- loading ----------------------------------------------------------------------

TEST_F(WidcommBinding, LoadsOnlyWithTheStacksLibraryAndAnAdapter) {
    // The libraries of current and older stacks, each with a piece missing.
    // Expected: the adapter named, or nothing loaded.
    struct Case {
        std::vector<std::string> installed;
        std::string adapter;  // empty: not loaded
    };
    const Case cases[] = {
        {{"wbtapi.dll", "wcl2btwnr.dll"}, "wcl2btwnr.dll"},
        {{"wbtapi.dll", "btwapi.dll", "wcl2btw.dll"}, "wcl2btw.dll"},
        {{"wbtapi.dll", "btwapi.dll", "wcl2btw.dll", "wcl2btwnr.dll"}, "wcl2btwnr.dll"},
        {{"btwapi.dll", "wcl2btw.dll"}, ""},
        {{"btwapi.dll", "wcl2btw.dll", "wcl2btwnr.dll"}, ""},
        {{"wbtapi.dll", "wcl2btw.dll"}, ""},
        {{"wbtapi.dll"}, ""},
        {{}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.installed));
        Install(c.installed);
        EXPECT_EQ(m_binding.Load(m_manager.Handle()), !c.adapter.empty());
        EXPECT_EQ(m_binding.IsLoaded(), !c.adapter.empty());
        EXPECT_EQ(m_binding.LibraryName(), c.adapter);
        m_binding.Unload();
        m_libraries.clear();
    }
}

TEST_F(WidcommBinding, LoadHandsTheAdapterTheManagerWindowAndMessages) {
    // A ready radio; the adapter later reports the radio gone through the window it got.
    // Expected: messages 1033 (gone) then 1032 (ready) named; the report arrives; a
    // second Load answers readiness without loading again; Unload unloads once.
    ASSERT_TRUE(InstallAndLoad());
    EXPECT_EQ(m_adapter.loads, 1);
    EXPECT_EQ(m_adapter.goneMessage, 1033u);
    EXPECT_EQ(m_adapter.readyMessage, 1032u);
    EXPECT_TRUE(PostMessage(m_adapter.managerWindow, m_adapter.goneMessage));
    Settle();
    ASSERT_EQ(m_managerMessages.size(), 1u);
    EXPECT_EQ(m_managerMessages[0].Msg, 1033u);

    m_adapter.ready = false;
    EXPECT_FALSE(m_binding.Load(m_manager.Handle()));
    EXPECT_EQ(m_adapter.loads, 1);
    m_binding.Unload();
    m_binding.Unload();
    EXPECT_EQ(m_adapter.unloads, 1);
    EXPECT_FALSE(m_binding.IsLoaded());
}

TEST_F(WidcommBinding, FailedAdapterLoadLeavesNothingLoaded) {
    // WD_Load fails; then an adapter without WD_Load.
    // Expected: false and not loaded, both times.
    m_adapter.loadResult = false;
    EXPECT_FALSE(InstallAndLoad());
    EXPECT_FALSE(m_binding.IsLoaded());
    m_libraries.clear();
    EntryPointTable noLoad = FullAdapter();
    noLoad.erase("WD_Load");
    Install({"wbtapi.dll", "wcl2btwnr.dll"}, noLoad);
    EXPECT_FALSE(m_binding.Load(m_manager.Handle()));
    EXPECT_FALSE(m_binding.IsLoaded());
}

TEST_F(WidcommBinding, MissingEntryPointsFailLikeFailedCalls) {
    // An adapter with only the load calls.
    // Expected: every operation raises its own error, the inquiry gives no list.
    EntryPointTable bare{{"WD_Load", Entry(&Load)}, {"WD_IsDeviceReady", Entry(&IsDeviceReady)}};
    Install({"wbtapi.dll", "wcl2btwnr.dll"}, bare);
    ASSERT_TRUE(m_binding.Load(m_manager.Handle()));
    EXPECT_THROW(m_binding.ReadRadioAddress(), wclERadioAddressReadError);
    EXPECT_THROW(m_binding.WriteRadioName("x"), wclERadoNameWriteError);
    EXPECT_EQ(m_binding.Inquiry(), std::nullopt);
    EXPECT_THROW(m_binding.ReadRemoteName(kPhone), wclERemoteDeviceNameReadError);
    EXPECT_THROW(m_binding.ReadRemoteClassOfDevice(kPhone), wclERemoteClassOfDeviceReadError);
    EXPECT_THROW(m_binding.EnumServices(kPhone, std::nullopt), wclEEnumServices);
    EXPECT_THROW(m_binding.OpenLink(m_loop, PhoneOnChannel9(), {}), wclEUnableConnect);
}

TEST_F(WidcommBinding, NotLoadedOrWithoutRadio) {
    // No adapter loaded; then loaded with the radio gone.
    // Expected: the radio calls raise the radio-handle error, the rest their own.
    EXPECT_THROW(m_binding.ReadRadioAddress(), wclEGetRadioHandle);
    EXPECT_EQ(m_binding.Inquiry(), std::nullopt);
    EXPECT_THROW(m_binding.OpenLink(m_loop, PhoneOnChannel9(), {}), wclEUnableConnect);
    m_adapter.ready = false;
    EXPECT_FALSE(InstallAndLoad());
    EXPECT_THROW(m_binding.ReadRadioAddress(), wclEGetRadioHandle);
    EXPECT_THROW(m_binding.WriteRadioName("x"), wclEGetRadioHandle);
}

// ---- radio and device records -----------------------------------------------------

TEST_F(WidcommBinding, RadioAddressAndNameRecords) {
    // The radio's six address bytes; names short, exactly one field long and longer.
    // Expected: the address in text order; names zero-padded, cut to 248 bytes at a
    // character boundary.
    ASSERT_TRUE(InstallAndLoad());
    EXPECT_EQ(m_binding.ReadRadioAddress(), 0x0017E53A9102u);
    m_binding.WriteRadioName("Kavri");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(m_adapter.radioName.data())), "Kavri");
    EXPECT_EQ(m_adapter.radioName[5], 0);
    std::string longName(247, 'a');
    longName += "\xC3\xA9";  // é would straddle the end of the field
    m_binding.WriteRadioName(longName);
    EXPECT_EQ(std::string(m_adapter.radioName.begin(), m_adapter.radioName.end()),
              std::string(247, 'a') + '\0');
}

TEST_F(WidcommBinding, InquiryReadsCountAndAddressesWithinTheBuffer) {
    // Two addresses; none; a count far beyond the buffer; a failing call.
    // Expected: the texts in order; an empty list; as many as the buffer holds; no list.
    ASSERT_TRUE(InstallAndLoad());
    m_adapter.inquiry = Count(2);
    m_adapter.inquiry.insert(m_adapter.inquiry.end(), kPhoneBytes.begin(), kPhoneBytes.end());
    m_adapter.inquiry.insert(m_adapter.inquiry.end(), {0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF});
    EXPECT_EQ(m_binding.Inquiry(), (std::vector<std::string>{kPhone, "(AA:BB:CC:DD:EE:FF)"}));
    m_adapter.inquiry = Count(0);
    EXPECT_EQ(m_binding.Inquiry(), std::vector<std::string>{});
    m_adapter.inquiry = Count(0xFFFFFFFF);
    const auto flood = m_binding.Inquiry();
    ASSERT_TRUE(flood.has_value());
    EXPECT_EQ(flood->size(), kMaxInquiryAddresses);
    m_adapter.inquiry.clear();
    EXPECT_EQ(m_binding.Inquiry(), std::nullopt);
}

TEST_F(WidcommBinding, RemoteNamesWithHostileBytes) {
    // Name fields: ending in zero, filled to the last byte, malformed UTF-8,
    // control characters, a zero in the middle.
    // Expected: the bytes up to the first zero within the field, malformed ones as U+FFFD.
    ASSERT_TRUE(InstallAndLoad());
    struct Case {
        std::string field;
        std::string name;
    };
    const Case cases[] = {
        {"Anna's Phone", "Anna's Phone"},
        {std::string(248, 'x'), std::string(248, 'x')},
        {"Bad \xFF\xC3", "Bad \xEF\xBF\xBD\xEF\xBF\xBD"},
        {"Line\r\n[Section]", "Line\r\n[Section]"},
        {std::string("Zo\0hidden", 9), "Zo"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_adapter.name.assign(kNameFieldBytes, 0xEE);  // what lies beyond a short name
        std::memcpy(m_adapter.name.data(), c.field.data(), c.field.size());
        if (c.field.size() < kNameFieldBytes)
            m_adapter.name[c.field.size()] = 0;
        EXPECT_EQ(m_binding.ReadRemoteName(kPhone), c.name);
    }
    m_adapter.name.clear();
    EXPECT_THROW(m_binding.ReadRemoteName(kPhone), wclERemoteDeviceNameReadError);
}

TEST_F(WidcommBinding, ClassOfDeviceIsMostSignificantFirst) {
    // The three class bytes 5A 02 0C; then a failing call.
    // Expected: 0x5A020C; then the class error.
    ASSERT_TRUE(InstallAndLoad());
    m_adapter.cod = {0x5A, 0x02, 0x0C};
    EXPECT_EQ(m_binding.ReadRemoteClassOfDevice(kPhone), 0x5A020Cu);
    m_adapter.cod.clear();
    EXPECT_THROW(m_binding.ReadRemoteClassOfDevice(kPhone), wclERemoteClassOfDeviceReadError);
}

TEST_F(WidcommBinding, ServiceRecordsAreReadInOrderAndWithinTheBuffer) {
    // Two records, one with a name that fills its field; the class filter; a count
    // of 0xFFFFFFFF; a failing call.
    // Expected: channel, name and UUID per record; the filter reaches the adapter;
    // at most 100 records; the enumeration error.
    ASSERT_TRUE(InstallAndLoad());
    m_adapter.services = Count(2);
    for (const auto& record : {ServiceRecord(9, "OBEX Object Push", OBEXObjectPushServiceClassUUID),
                               ServiceRecord(3, std::string(100, 's'), SerialPortServiceClassUUID)})
        m_adapter.services.insert(m_adapter.services.end(), record.begin(), record.end());
    const auto services = m_binding.EnumServices(kPhone, std::nullopt);
    ASSERT_EQ(services.size(), 2u);
    EXPECT_EQ(services[0].Channel, 9);
    EXPECT_EQ(services[0].Name, "OBEX Object Push");
    EXPECT_EQ(services[0].UUID, OBEXObjectPushServiceClassUUID);
    EXPECT_EQ(services[1].Channel, 3);
    EXPECT_EQ(services[1].Name, std::string(100, 's'));
    EXPECT_EQ(services[1].UUID, SerialPortServiceClassUUID);
    EXPECT_EQ(m_adapter.serviceFilter, std::nullopt);

    m_binding.EnumServices(kPhone, OBEXObjectPushServiceClassUUID);
    EXPECT_EQ(m_adapter.serviceFilter, OBEXObjectPushServiceClassUUID);

    std::memcpy(m_adapter.services.data(), Count(0xFFFFFFFF).data(), 4);
    EXPECT_EQ(m_binding.EnumServices(kPhone, std::nullopt).size(), kMaxServiceRecords);
    m_adapter.services.clear();
    EXPECT_THROW(m_binding.EnumServices(kPhone, std::nullopt), wclEEnumServices);
}

// ---- the RFCOMM client link -------------------------------------------------------

struct LinkLog {
    std::vector<std::uint32_t> connects;
    std::string data;
    std::vector<std::size_t> chunks;
    int closes = 0;

    wclLinkEvents Events() {
        return {[this](std::uint32_t r) { connects.push_back(r); },
                [this](const std::uint8_t* d, std::size_t n) {
                    data.append(reinterpret_cast<const char*>(d), n);
                    chunks.push_back(n);
                },
                [this] { ++closes; }};
    }
};

class WidcommLink : public WidcommBinding {
protected:
    void SetUp() override { ASSERT_TRUE(InstallAndLoad()); }

    std::unique_ptr<wclConnectionBackend> Open(std::uint8_t channel) {
        wclBluetoothLinkRequest request;
        request.address = kPhone;
        request.channel = channel;
        request.serviceUUID = OBEXObjectPushServiceClassUUID;
        request.authentication = true;
        request.settings.readBuffer = 4;
        return m_binding.OpenLink(m_loop, request, m_log.Events());
    }
    void FromAdapter(std::uint32_t msg, std::uintptr_t w = 0, std::intptr_t l = 0) {
        EXPECT_TRUE(PostMessage(m_adapter.clientWindow, msg, w, l));
        Settle();
    }

    LinkLog m_log;
};

TEST_F(WidcommLink, OpensTheClientCarriesBytesAndClosesIt) {
    // Channel 9 with authentication; the adapter connects, delivers 10 bytes, and
    // the link is written to and closed.
    // Expected: the open call's arguments as laid out; one onConnect(0); data in
    // chunks of the read buffer; Close closes then destroys the client.
    auto link = Open(9);
    EXPECT_EQ(m_adapter.clientMessages, (std::vector<DWORD>{1060, 1061, 1062}));
    EXPECT_EQ(m_adapter.openAddress, std::vector<BYTE>(kPhoneBytes.begin(), kPhoneBytes.end()));
    EXPECT_EQ(m_adapter.openChannel, 9);
    GUID uuid{};
    std::memcpy(&uuid, m_adapter.openUuid.data(), sizeof uuid);
    EXPECT_EQ(uuid, OBEXObjectPushServiceClassUUID);
    EXPECT_EQ(m_adapter.openAuthentication, 0xFFFFFFFFu);
    EXPECT_EQ(m_adapter.openEncryption, 0u);
    EXPECT_EQ(m_adapter.openName, "");
    Settle();
    EXPECT_TRUE(m_log.connects.empty());

    FromAdapter(1060, 0);
    EXPECT_EQ(m_log.connects, std::vector<std::uint32_t>{0});
    const char bytes[] = "0123456789";
    FromAdapter(1061, reinterpret_cast<std::uintptr_t>(bytes), 10);
    EXPECT_EQ(m_log.data, "0123456789");
    EXPECT_EQ(m_log.chunks, (std::vector<std::size_t>{4, 4, 2}));
    EXPECT_EQ(link->SignalLevel(), 0xB4);

    link->Write(reinterpret_cast<const std::uint8_t*>("abc"), 3);
    EXPECT_EQ(m_adapter.written, "abc");
    link->Close();
    link->Close();
    EXPECT_EQ(m_adapter.calls, (std::vector<std::string>{"close", "destroy"}));
    EXPECT_EQ(m_adapter.clients, 0);
    FromAdapter(1062);
    EXPECT_EQ(m_log.closes, 0);
}

TEST_F(WidcommLink, ResultCodesOfTheAttempt) {
    // The adapter refuses to open; the stack reports a failed connect; the client
    // object cannot be made; the peer closes an open link.
    // Expected: 0x8000F02B after the Open call, not inside it; 0x8000F01C; the
    // connect error thrown; onClose. Each attempt reports once.
    m_adapter.openResult = 5;
    auto refused = Open(9);
    EXPECT_TRUE(m_log.connects.empty());
    Settle();
    EXPECT_EQ(m_log.connects, std::vector<std::uint32_t>{0x8000F02B});
    FromAdapter(1060, 0);
    EXPECT_EQ(m_log.connects.size(), 1u);
    refused.reset();
    EXPECT_EQ(m_adapter.calls, std::vector<std::string>{"destroy"});

    m_log = {};
    m_adapter.openResult = 0;
    auto failed = Open(9);
    FromAdapter(1060, 7);
    EXPECT_EQ(m_log.connects, std::vector<std::uint32_t>{0x8000F01C});
    failed.reset();

    m_adapter.createFails = true;
    EXPECT_THROW(Open(9), wclEUnableConnect);
    m_adapter.createFails = false;

    m_log = {};
    auto open = Open(9);
    FromAdapter(1060, 0);
    FromAdapter(1062);
    EXPECT_EQ(m_log.closes, 1);
}

TEST_F(WidcommLink, ChannelZeroLooksTheServiceUp) {
    // Channel 0 on a device with the Object Push service on channel 12; then on a
    // device without it.
    // Expected: the client opens on channel 12 with the service's name, the lookup
    // filtered by the class; without the service 0x8000F02E and no open.
    m_adapter.services = Count(1);
    const auto record = ServiceRecord(12, "OPP", OBEXObjectPushServiceClassUUID);
    m_adapter.services.insert(m_adapter.services.end(), record.begin(), record.end());
    auto link = Open(0);
    ASSERT_TRUE(test::ProcessUntil(m_loop, [&] { return m_adapter.opens == 1; }));
    EXPECT_EQ(m_adapter.openChannel, 12);
    EXPECT_EQ(m_adapter.openName, "OPP");
    EXPECT_EQ(m_adapter.serviceFilter, OBEXObjectPushServiceClassUUID);
    FromAdapter(1060, 0);
    EXPECT_EQ(m_log.connects, std::vector<std::uint32_t>{0});
    link.reset();

    m_log = {};
    m_adapter.services = Count(0);
    link = Open(0);
    ASSERT_TRUE(test::ProcessUntil(m_loop, [&] { return !m_log.connects.empty(); }));
    EXPECT_EQ(m_log.connects, std::vector<std::uint32_t>{0x8000F02E});
    EXPECT_EQ(m_adapter.opens, 1);

    m_log = {};
    m_adapter.services.clear();  // the lookup itself fails
    link = Open(0);
    ASSERT_TRUE(test::ProcessUntil(m_loop, [&] { return !m_log.connects.empty(); }));
    EXPECT_EQ(m_log.connects, std::vector<std::uint32_t>{0x8000F02E});
}

TEST_F(WidcommLink, WritesGoOutInSixteenBitPiecesUntilAllAreTaken) {
    // 70000 bytes; an adapter that takes at most 30000 per call; one that takes
    // nothing; a client that is no longer connected.
    // Expected: no piece above 65535 and every byte once, in order; the write error
    // for the last two.
    auto link = Open(9);
    FromAdapter(1060, 0);
    std::vector<std::uint8_t> data(70000);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i * 7);
    link->Write(data.data(), data.size());
    EXPECT_EQ(m_adapter.writeLengths, (std::vector<WORD>{65535, 4465}));
    EXPECT_EQ(m_adapter.written, std::string(data.begin(), data.end()));

    m_adapter.writeLengths.clear();
    m_adapter.written.clear();
    m_adapter.writeLimit = 30000;
    link->Write(data.data(), data.size());
    EXPECT_EQ(m_adapter.writeLengths, (std::vector<WORD>{65535, 40000, 10000}));
    EXPECT_EQ(m_adapter.written, std::string(data.begin(), data.end()));

    m_adapter.writeLimit = 0;
    EXPECT_THROW(link->Write(data.data(), 1), wclEWriteError);
    m_adapter.writeLimit = 0xFFFF;
    m_adapter.connected = false;
    EXPECT_THROW(link->Write(data.data(), 1), wclEWriteError);
}

}  // namespace
}  // namespace kavri
