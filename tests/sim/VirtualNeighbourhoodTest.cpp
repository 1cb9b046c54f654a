// The virtual neighbourhood and its stand-in platform libraries, called
// directly through their entry points as a binding would.
#include "sim/VirtualNeighbourhood.h"

#include <gtest/gtest.h>

#include "platform/DynamicLibrary.h"
#include "platform/Text.h"
#include "sim/ScenarioParser.h"
#include "stack/wclSDPParser.h"
#include "stack/wclSDPService.h"
#include "stack/wclWin32Api.h"

#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace kavri::sim {
namespace {

using namespace win32;

constexpr const char* kStreet = R"(
stacks microsoft
radio (00:1A:7D:DA:71:13) "Kavri Radio"
device (00:17:E5:3A:91:02) "Anna's Phone" class 0x5A020C
  service 9 "OBEX Object Push" 0x1105
  service 2 "Hands-Free Audio Gateway" 0x111F
)";

// An entry point of a registered library. In-process entry points are plain
// functions, so the pointer stays good after the library handle goes.
template <typename Function>
Function Entry(const char* library, const char* name) {
    const auto loaded = DynamicLibrary::Load(library);
    if (loaded == nullptr)
        throw std::runtime_error(std::string(library) + " is not registered");
    const auto function = loaded->ResolveAs<Function>(name);
    if (function == nullptr)
        throw std::runtime_error(std::string(name) + " is missing");
    return function;
}

DWORD LastError() {
    return Entry<PFN_GetLastError>("kernel32.dll", "GetLastError")();
}

// A result buffer aligned for the records the lookup lays out in it.
struct AlignedBuffer {
    explicit AlignedBuffer(std::size_t bytes) : words((bytes + 7) / 8), size(bytes) {}
    WSAQUERYSETW* Query() { return reinterpret_cast<WSAQUERYSETW*>(words.data()); }
    std::vector<std::uint64_t> words;
    std::size_t size;
};

class Neighbourhood : public ::testing::Test {
protected:
    ManualClock m_clock;
};

TEST_F(Neighbourhood, OnlyOneIsCurrentAtATime) {
    // A second neighbourhood while one lives, then after it has gone.
    // Expected: refused with an error, then accepted; Current follows.
    {
        VirtualNeighbourhood first(ParseScenario(kStreet), m_clock);
        EXPECT_EQ(VirtualNeighbourhood::Current(), &first);
        EXPECT_THROW(VirtualNeighbourhood(ParseScenario(kStreet), m_clock), std::logic_error);
        EXPECT_EQ(VirtualNeighbourhood::Current(), &first);
    }
    EXPECT_EQ(VirtualNeighbourhood::Current(), nullptr);
    VirtualNeighbourhood second(ParseScenario(kStreet), m_clock);
    EXPECT_EQ(VirtualNeighbourhood::Current(), &second);
}

TEST_F(Neighbourhood, LibrariesFollowTheInstalledStacks) {
    // Neighbourhoods with different stacks installed.
    // Expected: the stack libraries exist only for their stacks; the platform's always.
    struct Case {
        const char* stacks;
        bool bthpropsOnly;
        bool irprops, bthprops, rapi;
    };
    const Case cases[] = {
        {"microsoft", false, true, false, false},
        {"microsoft", true, false, true, false},
        {"rapi", false, false, false, true},
        {"bluesoleil irda", false, false, false, false},
    };
    for (const Case& c : cases) {
        VirtualNeighbourhood neighbourhood(ParseScenario(std::string("stacks ") + c.stacks + "\n"),
                                           m_clock, VirtualNeighbourhood::Options{c.bthpropsOnly});
        SCOPED_TRACE(c.stacks);
        EXPECT_EQ(DynamicLibrary::Load("irprops.cpl") != nullptr, c.irprops);
        EXPECT_EQ(DynamicLibrary::Load("bthprops.cpl") != nullptr, c.bthprops);
        EXPECT_EQ(DynamicLibrary::Load("rapi.dll") != nullptr, c.rapi);
        EXPECT_EQ(DynamicLibrary::Load("Ceutil.dll") != nullptr, c.rapi);
        for (const char* name : {"ws2_32.dll", "setupapi.dll", "advapi32.dll", "kernel32.dll"})
            EXPECT_NE(DynamicLibrary::Load(name), nullptr) << name;
    }
    EXPECT_EQ(DynamicLibrary::Load("ws2_32.dll"), nullptr) << "gone with the neighbourhood";
}

TEST_F(Neighbourhood, EntryPointsFailCleanlyOnceTheNeighbourhoodHasGone) {
    // Entry points taken while a neighbourhood lived, called after it has gone.
    // Expected: each fails with its error value; nothing crashes.
    auto neighbourhood = std::make_unique<VirtualNeighbourhood>(ParseScenario(kStreet), m_clock);
    const auto findFirst =
        Entry<PFN_BluetoothFindFirstRadio>("irprops.cpl", "BluetoothFindFirstRadio");
    const auto radioInfo = Entry<PFN_BluetoothGetRadioInfo>("irprops.cpl", "BluetoothGetRadioInfo");
    const auto begin = Entry<PFN_WSALookupServiceBeginW>("ws2_32.dll", "WSALookupServiceBeginW");
    const auto openKey = Entry<PFN_RegOpenKeyW>("advapi32.dll", "RegOpenKeyW");
    const auto lastError = Entry<PFN_GetLastError>("kernel32.dll", "GetLastError");
    neighbourhood.reset();

    BLUETOOTH_FIND_RADIO_PARAMS params{kBluetoothFindRadioParamsSize};
    HANDLE radio = nullptr;
    EXPECT_EQ(findFirst(&params, &radio), nullptr);
    EXPECT_EQ(lastError(), kErrorNoMoreItems);
    BLUETOOTH_RADIO_INFO info{};
    info.dwSize = kBluetoothRadioInfoSize;
    EXPECT_NE(radioInfo(nullptr, &info), kErrorSuccess);
    WSAQUERYSETW query{};
    query.dwSize = kWsaQuerySetSize;
    query.dwNameSpace = kNsBth;
    HANDLE lookup = nullptr;
    EXPECT_EQ(begin(&query, kLupContainers, &lookup), kSocketError);
    HKEY key = nullptr;
    EXPECT_NE(openKey(HKeyLocalMachine(), u"SYSTEM", &key), 0);
}

TEST_F(Neighbourhood, SizeFieldsAreCheckedLikeTheSystemDoes) {
    // Records whose size field is not the published one (a 64-bit sizeof among them).
    // Expected: every call refuses them with an error, and opens nothing.
    VirtualNeighbourhood neighbourhood(ParseScenario(kStreet), m_clock);
    BLUETOOTH_FIND_RADIO_PARAMS params{8};
    HANDLE radio = nullptr;
    EXPECT_EQ(Entry<PFN_BluetoothFindFirstRadio>("irprops.cpl", "BluetoothFindFirstRadio")(&params,
                                                                                           &radio),
              nullptr);
    EXPECT_EQ(LastError(), kErrorRevisionMismatch);

    params.dwSize = kBluetoothFindRadioParamsSize;
    const auto find = Entry<PFN_BluetoothFindFirstRadio>("irprops.cpl", "BluetoothFindFirstRadio")(
        &params, &radio);
    ASSERT_NE(find, nullptr);
    BLUETOOTH_RADIO_INFO radioInfo{};
    radioInfo.dwSize = 516;
    EXPECT_EQ(
        Entry<PFN_BluetoothGetRadioInfo>("irprops.cpl", "BluetoothGetRadioInfo")(radio, &radioInfo),
        kErrorRevisionMismatch);
    BLUETOOTH_DEVICE_INFO deviceInfo{};
    deviceInfo.dwSize = 0;
    EXPECT_EQ(Entry<PFN_BluetoothGetDeviceInfo>("irprops.cpl", "BluetoothGetDeviceInfo")(
                  radio, &deviceInfo),
              kErrorRevisionMismatch);
    Entry<PFN_CloseHandle>("kernel32.dll", "CloseHandle")(radio);
    Entry<PFN_BluetoothFindRadioClose>("irprops.cpl", "BluetoothFindRadioClose")(find);

    WSAQUERYSETW query{};
    query.dwSize = sizeof(WSAQUERYSETW);
    query.dwNameSpace = kNsBth;
    HANDLE lookup = nullptr;
    if (sizeof(WSAQUERYSETW) != kWsaQuerySetSize) {
        EXPECT_EQ(Entry<PFN_WSALookupServiceBeginW>("ws2_32.dll", "WSALookupServiceBeginW")(
                      &query, kLupContainers, &lookup),
                  kSocketError);
        EXPECT_EQ(LastError(), static_cast<DWORD>(kWsaEInval));
    }

    const HDEVINFO set = Entry<PFN_SetupDiGetClassDevsW>("setupapi.dll", "SetupDiGetClassDevsW")(
        &kBluetoothDeviceClass, nullptr, nullptr, kDigcfPresent | kDigcfProfile);
    ASSERT_NE(set, InvalidHandleValue());
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(SP_DEVINFO_DATA) == kSpDevInfoDataSize ? 0 : sizeof(SP_DEVINFO_DATA);
    EXPECT_EQ(
        Entry<PFN_SetupDiEnumDeviceInfo>("setupapi.dll", "SetupDiEnumDeviceInfo")(set, 0, &device),
        kFalse);
    Entry<PFN_SetupDiDestroyDeviceInfoList>("setupapi.dll", "SetupDiDestroyDeviceInfoList")(set);

    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = 156;
    EXPECT_EQ(Entry<PFN_GetVersionExA>("kernel32.dll", "GetVersionExA")(&version), kFalse);
    EXPECT_EQ(neighbourhood.OpenHandleCount(), 0u);
}

TEST_F(Neighbourhood, InquiryResultTellsTheSizeItNeedsAndThenFits) {
    // An inquiry result asked for with a 16-byte buffer, then with the size returned.
    // Expected: WSAEFAULT and a larger size; then the device's address; then no more.
    VirtualNeighbourhood neighbourhood(ParseScenario(kStreet), m_clock);
    const auto begin = Entry<PFN_WSALookupServiceBeginW>("ws2_32.dll", "WSALookupServiceBeginW");
    const auto next = Entry<PFN_WSALookupServiceNextW>("ws2_32.dll", "WSALookupServiceNextW");
    const auto end = Entry<PFN_WSALookupServiceEnd>("ws2_32.dll", "WSALookupServiceEnd");
    const auto toText = Entry<PFN_WSAAddressToStringW>("ws2_32.dll", "WSAAddressToStringW");

    WSAQUERYSETW query{};
    query.dwSize = kWsaQuerySetSize;
    query.dwNameSpace = kNsBth;
    HANDLE lookup = nullptr;
    const DWORD flags = kLupContainers | kLupReturnAddr | kLupReturnName;
    ASSERT_EQ(begin(&query, flags, &lookup), 0);

    AlignedBuffer small(16);
    DWORD length = 16;
    EXPECT_EQ(next(lookup, flags, &length, small.Query()), kSocketError);
    EXPECT_EQ(LastError(), static_cast<DWORD>(kWsaEFault));
    ASSERT_GT(length, sizeof(WSAQUERYSETW));

    AlignedBuffer fitting(length);
    ASSERT_EQ(next(lookup, flags, &length, fitting.Query()), 0);
    const WSAQUERYSETW* result = fitting.Query();
    ASSERT_EQ(result->dwNumberOfCsAddrs, 1u);
    EXPECT_EQ(Utf16ToUtf8(result->lpszServiceInstanceName), "Anna's Phone");
    WCHAR text[32] = {};
    DWORD textLength = 4;
    SOCKADDR* remote = result->lpcsaBuffer->RemoteAddr.lpSockaddr;
    EXPECT_EQ(toText(remote, sizeof(SOCKADDR_BTH), nullptr, text, &textLength), kSocketError);
    EXPECT_EQ(textLength, 20u) << "19 characters and the terminator";
    ASSERT_EQ(toText(remote, sizeof(SOCKADDR_BTH), nullptr, text, &textLength), 0);
    EXPECT_EQ(Utf16ToUtf8(text), "(00:17:E5:3A:91:02)");

    EXPECT_EQ(next(lookup, flags, &length, fitting.Query()), kSocketError);
    EXPECT_EQ(LastError(), static_cast<DWORD>(kWsaENoMore));
    EXPECT_EQ(end(lookup), 0);
    EXPECT_EQ(end(lookup), kSocketError) << "a lookup ends once";
    EXPECT_EQ(neighbourhood.OpenHandleCount(), 0u);
}

TEST_F(Neighbourhood, ServiceResultCarriesARealServiceRecord) {
    // A search for Object Push on the phone, asking for blob, name, type and address.
    // Expected: one result whose blob parses into the service on channel 9, and
    // whose remote address carries the channel as its port.
    VirtualNeighbourhood neighbourhood(ParseScenario(kStreet), m_clock);
    GUID objectPush = OBEXObjectPushServiceClassUUID;
    std::u16string context = u"(00:17:E5:3A:91:02)";
    WSAQUERYSETW query{};
    query.dwSize = kWsaQuerySetSize;
    query.dwNameSpace = kNsBth;
    query.lpServiceClassId = &objectPush;
    query.lpszContext = context.data();
    const DWORD flags =
        kLupResService | kLupReturnBlob | kLupReturnName | kLupReturnType | kLupReturnAddr;
    HANDLE lookup = nullptr;
    ASSERT_EQ(Entry<PFN_WSALookupServiceBeginW>("ws2_32.dll", "WSALookupServiceBeginW")(
                  &query, flags, &lookup),
              0);
    const auto next = Entry<PFN_WSALookupServiceNextW>("ws2_32.dll", "WSALookupServiceNextW");
    AlignedBuffer buffer(4096);
    DWORD length = 4096;
    ASSERT_EQ(next(lookup, flags, &length, buffer.Query()), 0);
    const WSAQUERYSETW* result = buffer.Query();
    ASSERT_NE(result->lpBlob, nullptr);
    const TwclSDPParser parser(result->lpBlob->pBlobData, result->lpBlob->cbSize);
    ASSERT_EQ(parser.Records().Count(), 1u);
    const auto service = ReadServiceFromRecord(parser.Records().Items(0));
    ASSERT_TRUE(service.has_value());
    EXPECT_EQ(service->UUID, OBEXObjectPushServiceClassUUID);
    EXPECT_EQ(service->Channel, 9);
    EXPECT_EQ(service->Name, "OBEX Object Push");
    EXPECT_EQ(Utf16ToUtf8(result->lpszServiceInstanceName), "OBEX Object Push");
    ASSERT_NE(result->lpServiceClassId, nullptr);
    EXPECT_EQ(*result->lpServiceClassId, OBEXObjectPushServiceClassUUID);
    SOCKADDR_BTH remote;
    std::memcpy(static_cast<void*>(&remote), result->lpcsaBuffer->RemoteAddr.lpSockaddr,
                sizeof remote);
    // Packed fields: read by value, never bound to a reference.
    const ULONG port = remote.port;
    const ULONGLONG address = remote.btAddr;
    EXPECT_EQ(port, 9u);
    EXPECT_EQ(address, 0x0017E53A9102u);
    EXPECT_EQ(next(lookup, flags, &length, buffer.Query()), kSocketError)
        << "the hands-free service is not Object Push";
    Entry<PFN_WSALookupServiceEnd>("ws2_32.dll", "WSALookupServiceEnd")(lookup);
}

TEST_F(Neighbourhood, BadArgumentsGetErrorsNotCrashes) {
    // Null pointers, foreign handles and unknown keys.
    // Expected: each call fails with an error value.
    VirtualNeighbourhood neighbourhood(ParseScenario(kStreet), m_clock);
    EXPECT_EQ(Entry<PFN_BluetoothFindFirstRadio>("irprops.cpl", "BluetoothFindFirstRadio")(nullptr,
                                                                                           nullptr),
              nullptr);
    EXPECT_EQ(LastError(), kErrorInvalidParameter);
    const auto openKey = Entry<PFN_RegOpenKeyW>("advapi32.dll", "RegOpenKeyW");
    HKEY key = nullptr;
    EXPECT_EQ(openKey(HKeyLocalMachine(), nullptr, &key),
              static_cast<LONG>(kErrorInvalidParameter));
    EXPECT_EQ(openKey(HKeyLocalMachine(), u"SOFTWARE\\Nowhere", &key),
              static_cast<LONG>(kErrorFileNotFound));
    EXPECT_EQ(openKey(nullptr, u"SYSTEM", &key), static_cast<LONG>(kErrorInvalidHandle));
    EXPECT_EQ(Entry<PFN_RegCloseKey>("advapi32.dll", "RegCloseKey")(HKeyLocalMachine()),
              static_cast<LONG>(kErrorInvalidHandle));

    DWORD size = 2;
    WCHAR name[2] = {};
    EXPECT_EQ(Entry<PFN_GetComputerNameW>("kernel32.dll", "GetComputerNameW")(name, &size), kFalse);
    EXPECT_EQ(size, neighbourhood.ComputerName().size() + 1);

    DWORD request = 4;
    EXPECT_EQ(Entry<PFN_DeviceIoControl>("kernel32.dll", "DeviceIoControl")(
                  InvalidHandleValue(), kIoctlRadioReloadName, &request, sizeof request, nullptr, 0,
                  nullptr, nullptr),
              kFalse);
    EXPECT_FALSE(neighbourhood.LastDeviceIoControlCode().has_value());

    std::u16string context = u"not an address";
    WSAQUERYSETW query{};
    query.dwSize = kWsaQuerySetSize;
    query.dwNameSpace = kNsBth;
    GUID any = L2CAPProtocolUUID;
    query.lpServiceClassId = &any;
    query.lpszContext = context.data();
    HANDLE lookup = nullptr;
    EXPECT_EQ(Entry<PFN_WSALookupServiceBeginW>("ws2_32.dll", "WSALookupServiceBeginW")(
                  &query, kLupResService, &lookup),
              kSocketError);
    EXPECT_EQ(neighbourhood.OpenHandleCount(), 0u);
}

}  // namespace
}  // namespace kavri::sim
