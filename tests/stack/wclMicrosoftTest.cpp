// The Microsoft stack binding against small hand-made libraries: missing
// entry points and a system that returns hostile results. (Its work against
// the full virtual neighbourhood is tested with the neighbourhood, in sim.)
#include "stack/wclMicrosoft.h"

#include <gtest/gtest.h>

#include "platform/DynamicLibrary.h"
#include "platform/PollEventLoop.h"
#include "stack/wclExceptions.h"
#include "stack/wclMessages.h"
#include "stack/wclWin32Api.h"

#include <atomic>
#include <cstring>
#include <memory>

namespace kavri {
namespace {

using namespace win32;

template <typename Function>
void* Address(Function function) {
    return reinterpret_cast<void*>(function);
}

// A radio that is always there; handles are made-up non-null values.
HBLUETOOTH_RADIO_FIND FindFirstRadio(const BLUETOOTH_FIND_RADIO_PARAMS*, HANDLE* radio) {
    *radio = reinterpret_cast<HANDLE>(std::uintptr_t{0x100});
    return reinterpret_cast<HBLUETOOTH_RADIO_FIND>(std::uintptr_t{0x200});
}
BOOL FindRadioClose(HBLUETOOTH_RADIO_FIND) {
    return kTrue;
}

EntryPointTable RadioOnly() {
    return {{"BluetoothFindFirstRadio", Address(&FindFirstRadio)},
            {"BluetoothFindRadioClose", Address(&FindRadioClose)}};
}

std::atomic<int> g_nextCalls{0};
std::atomic<int> g_toTextCalls{0};
CSADDR_INFO g_outsideAddress{};

INT LookupBegin(WSAQUERYSETW*, DWORD, HANDLE* lookup) {
    *lookup = reinterpret_cast<HANDLE>(std::uintptr_t{0x300});
    return 0;
}
INT LookupEnd(HANDLE) {
    return 0;
}
INT AddressToString(SOCKADDR*, DWORD, WSAPROTOCOL_INFOW*, WCHAR*, DWORD*) {
    ++g_toTextCalls;
    return kSocketError;
}

// Never says "no more", and points its address outside the caller's buffer.
INT EndlessOutsideNext(HANDLE, DWORD, DWORD*, WSAQUERYSETW* results) {
    ++g_nextCalls;
    results->dwNumberOfCsAddrs = 1;
    results->lpcsaBuffer = &g_outsideAddress;
    return 0;
}

// One result whose address block lies inside the buffer but claims a socket
// address longer than the buffer.
INT OversizedAddressNext(HANDLE, DWORD, DWORD* length, WSAQUERYSETW* results) {
    if (++g_nextCalls > 1)
        return kSocketError;
    auto* base = reinterpret_cast<std::uint8_t*>(results);
    auto* csaddr = new (base + 128) CSADDR_INFO{};
    csaddr->RemoteAddr.lpSockaddr = reinterpret_cast<SOCKADDR*>(base + 256);
    csaddr->RemoteAddr.iSockaddrLength = static_cast<INT>(*length);
    results->dwNumberOfCsAddrs = 1;
    results->lpcsaBuffer = csaddr;
    return 0;
}

// One service whose blob says it is 4 GiB long, with only a short record
// before the end of the buffer.
INT OverlongBlobNext(HANDLE, DWORD, DWORD* length, WSAQUERYSETW* results) {
    if (++g_nextCalls > 1)
        return kSocketError;
    static constexpr std::uint8_t kRecord[] = {0x35, 0x10, 0x09, 0x00, 0x00, 0x0A,
                                               0x00, 0x01, 0x00, 0x00, 0x09, 0x00,
                                               0x01, 0x35, 0x03, 0x19, 0x11, 0x05};
    auto* base = reinterpret_cast<std::uint8_t*>(results);
    std::uint8_t* data = base + *length - sizeof kRecord;
    std::memcpy(data, kRecord, sizeof kRecord);
    auto* blob = new (base + 128) BLOB{};
    blob->cbSize = 0xFFFFFFFF;
    blob->pBlobData = data;
    results->lpBlob = blob;
    return 0;
}

EntryPointTable Winsock(PFN_WSALookupServiceNextW next) {
    return {{"WSALookupServiceBeginW", Address(&LookupBegin)},
            {"WSALookupServiceNextW", Address(next)},
            {"WSALookupServiceEnd", Address(&LookupEnd)},
            {"WSAAddressToStringW", Address(&AddressToString)}};
}

class MicrosoftBindingLibraries : public ::testing::Test {
protected:
    void SetUp() override {
        g_nextCalls = 0;
        g_toTextCalls = 0;
    }
    void TearDown() override { m_binding.Unload(); }

    ManualClock m_clock;
    PollEventLoop m_loop{m_clock};
    MessageWindow m_window{m_loop, [](const Message&) {}};
    TwclMicrosoftLoader m_binding{m_clock};
};

TEST_F(MicrosoftBindingLibraries, AbsentWhenNeitherLibraryLoads) {
    // No Bluetooth API library under either name.
    // Expected: absent, nothing loaded.
    EXPECT_FALSE(m_binding.Load(m_window.Handle()));
    EXPECT_FALSE(m_binding.IsLoaded());
    EXPECT_EQ(m_binding.LibraryName(), "");
}

TEST_F(MicrosoftBindingLibraries, MissingRadioEntryPointsFailLikeFailedCalls) {
    // A Bluetooth API library without a single entry point.
    // Expected: it loads, but no radio is found (last error ERROR_INVALID_FUNCTION),
    // and the radio operations raise their errors.
    const auto library = InProcessLibraries::Register("irprops.cpl", {});
    EXPECT_FALSE(m_binding.Load(m_window.Handle()));
    EXPECT_TRUE(m_binding.IsLoaded());
    EXPECT_EQ(TwclMicrosoftLoader::LastWrapperError(), kErrorInvalidFunction);
    EXPECT_THROW(m_binding.ReadRadioAddress(), wclEGetRadioHandle);
    EXPECT_THROW(m_binding.WriteRadioName("x"), wclERadoNameWriteError);
}

TEST_F(MicrosoftBindingLibraries, MissingInfoEntryPointsReportFailure) {
    // A radio can be found, but the radio and device information calls are missing.
    // Expected: the address, name and class reads raise their own errors.
    const auto library = InProcessLibraries::Register("bthprops.cpl", RadioOnly());
    EXPECT_TRUE(m_binding.Load(m_window.Handle()));
    EXPECT_EQ(m_binding.LibraryName(), "bthprops.cpl");
    EXPECT_THROW(m_binding.ReadRadioAddress(), wclERadioAddressReadError);
    EXPECT_THROW(m_binding.ReadRemoteName("(00:11:22:33:44:55)"), wclERemoteDeviceNameReadError);
    EXPECT_THROW(m_binding.ReadRemoteClassOfDevice("(00:11:22:33:44:55)"),
                 wclERemoteClassOfDeviceReadError);
    EXPECT_FALSE(m_binding.Inquiry().has_value()) << "no Winsock: the inquiry fails";
}

TEST_F(MicrosoftBindingLibraries, EndlessLookupWithForeignPointersIsBounded) {
    // A lookup that never ends and points its results outside the buffer.
    // Expected: nothing is read through those pointers, and the loop ends by itself.
    const auto library = InProcessLibraries::Register("irprops.cpl", RadioOnly());
    const auto winsock = InProcessLibraries::Register("ws2_32.dll", Winsock(&EndlessOutsideNext));
    ASSERT_TRUE(m_binding.Load(m_window.Handle()));
    const auto found = m_binding.Inquiry();
    ASSERT_TRUE(found.has_value());
    EXPECT_TRUE(found->empty());
    EXPECT_EQ(g_toTextCalls, 0);
    EXPECT_EQ(g_nextCalls, 4096);
}

TEST_F(MicrosoftBindingLibraries, SocketAddressLongerThanTheBufferIsSkipped) {
    // A result whose socket address claims to run past the end of the buffer.
    // Expected: it is not converted; the inquiry succeeds with no device.
    const auto library = InProcessLibraries::Register("irprops.cpl", RadioOnly());
    const auto winsock = InProcessLibraries::Register("ws2_32.dll", Winsock(&OversizedAddressNext));
    ASSERT_TRUE(m_binding.Load(m_window.Handle()));
    const auto found = m_binding.Inquiry();
    ASSERT_TRUE(found.has_value());
    EXPECT_TRUE(found->empty());
    EXPECT_EQ(g_toTextCalls, 0);
}

TEST_F(MicrosoftBindingLibraries, OverlongBlobIsReadOnlyToTheEndOfTheBuffer) {
    // A service blob that claims 4 GiB, holding a short record at the buffer's end.
    // Expected: the record within the buffer is read (class Object Push), nothing beyond it.
    const auto library = InProcessLibraries::Register("irprops.cpl", RadioOnly());
    const auto winsock = InProcessLibraries::Register("ws2_32.dll", Winsock(&OverlongBlobNext));
    ASSERT_TRUE(m_binding.Load(m_window.Handle()));
    const auto services = m_binding.EnumServices("(00:11:22:33:44:55)", std::nullopt);
    ASSERT_EQ(services.size(), 1u);
    EXPECT_EQ(services[0].UUID, OBEXObjectPushServiceClassUUID);
    EXPECT_EQ(services[0].Channel, 0);
}

}  // namespace
}  // namespace kavri
