#pragma once

#include "stack/wclMessages.h"
#include "stack/wclWin32Api.h"

#include <cstddef>
#include <cstdint>

namespace kavri::winsock {

// The Winsock stream-socket calls that the links of the client connections
// make over the Bluetooth (RFCOMM) and IrDA address families: entry-point
// signatures, record layouts and constants with the values the system gives
// them. The links (wclWinsockLink) resolve these entry points by name from
// "ws2_32.dll"; the virtual neighbourhood's stand-in sockets implement the
// same signatures.
// Plain declarations, no state, any thread.
//
// One difference from the system: the window handle given to WSAAsyncSelect
// is the address of a MessageWindowHandle (see ToHwnd). The library copies
// the handle during the call, so the caller's object need not outlive it.

using win32::BYTE;
using win32::DWORD;
using win32::HWND;
using win32::INT;
using win32::SOCKADDR;
using win32::SOCKADDR_BTH;
using win32::SOCKET;
using win32::ULONG;
using win32::ULONGLONG;
using win32::USHORT;
using win32::WCHAR;
using win32::WSAPROTOCOL_INFOW;

using win32::kInvalidSocket;
using win32::kSocketError;

inline constexpr INT kAfIrDA = 26;
inline constexpr INT kAfBth = 32;
inline constexpr INT kSockStream = 1;
inline constexpr INT kBthProtoRfcomm = 3;

#pragma pack(push, 1)
// An IrDA socket address: the family, the 4-byte device identifier and the
// service name as a NUL-terminated narrow text of at most 24 characters.
struct SOCKADDR_IRDA {
    USHORT irdaAddressFamily;
    BYTE irdaDeviceID[4];
    char irdaServiceName[25];
    BYTE padding;  // the system's record is padded to a multiple of 2
};
#pragma pack(pop)
static_assert(sizeof(SOCKADDR_IRDA) == 32);
static_assert(sizeof(SOCKADDR_BTH) == 30);
inline constexpr std::size_t kIrDAServiceNameMax = 24;

// Socket option levels and names.
inline constexpr INT kSolSocket = 0xFFFF;
inline constexpr INT kSoReuseAddr = 0x0004;
inline constexpr INT kSoSndBuf = 0x1001;
inline constexpr INT kSoRcvBuf = 0x1002;
inline constexpr INT kSoSndTimeo = 0x1005;
inline constexpr INT kSoRcvTimeo = 0x1006;
inline constexpr INT kSolRfcomm = kBthProtoRfcomm;
inline constexpr INT kSoBthAuthenticate = static_cast<INT>(0x80000001u);
inline constexpr INT kSoBthEncrypt = 0x00000002;
inline constexpr INT kSolIrLmp = 0x00FF;
inline constexpr INT kIrLmp9WireMode = 0x16;

// Network events of WSAAsyncSelect.
inline constexpr INT kFdRead = 0x01;
inline constexpr INT kFdWrite = 0x02;
inline constexpr INT kFdOob = 0x04;
inline constexpr INT kFdAccept = 0x08;
inline constexpr INT kFdConnect = 0x10;
inline constexpr INT kFdClose = 0x20;

// The second parameter of a socket notification: the event in the low word,
// the error in the high word.
constexpr std::intptr_t WSAMakeSelectReply(unsigned event, unsigned error) {
    return static_cast<std::intptr_t>(((error & 0xFFFFu) << 16) | (event & 0xFFFFu));
}
constexpr unsigned WSAGetSelectEvent(std::intptr_t lParam) {
    return static_cast<unsigned>(lParam) & 0xFFFFu;
}
constexpr unsigned WSAGetSelectError(std::intptr_t lParam) {
    return (static_cast<unsigned>(lParam) >> 16) & 0xFFFFu;
}

// Winsock error numbers.
inline constexpr INT kWsaEIntr = 10004;
inline constexpr INT kWsaEBadF = 10009;
inline constexpr INT kWsaEAcces = 10013;
inline constexpr INT kWsaEFault = 10014;
inline constexpr INT kWsaEInval = 10022;
inline constexpr INT kWsaEMFile = 10024;
inline constexpr INT kWsaEWouldBlock = 10035;
inline constexpr INT kWsaEInProgress = 10036;
inline constexpr INT kWsaEAlready = 10037;
inline constexpr INT kWsaENotSock = 10038;
inline constexpr INT kWsaEMsgSize = 10040;
inline constexpr INT kWsaENoProtoOpt = 10042;
inline constexpr INT kWsaEProtoNoSupport = 10043;
inline constexpr INT kWsaESocktNoSupport = 10044;
inline constexpr INT kWsaEOpNotSupp = 10045;
inline constexpr INT kWsaEAfNoSupport = 10047;
inline constexpr INT kWsaEAddrInUse = 10048;
inline constexpr INT kWsaEAddrNotAvail = 10049;
inline constexpr INT kWsaENetDown = 10050;
inline constexpr INT kWsaENetUnreach = 10051;
inline constexpr INT kWsaENetReset = 10052;
inline constexpr INT kWsaEConnAborted = 10053;
inline constexpr INT kWsaEConnReset = 10054;
inline constexpr INT kWsaENoBufs = 10055;
inline constexpr INT kWsaEIsConn = 10056;
inline constexpr INT kWsaENotConn = 10057;
inline constexpr INT kWsaEShutdown = 10058;
inline constexpr INT kWsaETimedOut = 10060;
inline constexpr INT kWsaEConnRefused = 10061;
inline constexpr INT kWsaEHostDown = 10064;
inline constexpr INT kWsaEHostUnreach = 10065;

// The window handle of WSAAsyncSelect: the address of a handle that the
// library copies during the call.
inline HWND ToHwnd(const MessageWindowHandle& window) noexcept {
    return const_cast<void*>(static_cast<const void*>(&window));
}
inline const MessageWindowHandle* FromHwnd(HWND window) noexcept {
    return static_cast<const MessageWindowHandle*>(window);
}

using PFN_socket = SOCKET (*)(INT addressFamily, INT type, INT protocol);
using PFN_closesocket = INT (*)(SOCKET socket);
using PFN_setsockopt = INT (*)(SOCKET socket, INT level, INT optionName, const char* optionValue,
                               INT optionLength);
using PFN_connect = INT (*)(SOCKET socket, const SOCKADDR* address, INT addressLength);
using PFN_send = INT (*)(SOCKET socket, const char* buffer, INT length, INT flags);
using PFN_recv = INT (*)(SOCKET socket, char* buffer, INT length, INT flags);
using PFN_WSAAsyncSelect = INT (*)(SOCKET socket, HWND window, unsigned message,
                                   std::int32_t events);
using PFN_WSAStringToAddressW = INT (*)(WCHAR* addressText, INT addressFamily,
                                        WSAPROTOCOL_INFOW* protocolInfo, SOCKADDR* address,
                                        INT* addressLength);
using PFN_WSAGetLastError = INT (*)();

}  // namespace kavri::winsock
