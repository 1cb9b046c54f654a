#pragma once

#include "stack/wclMessages.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace kavri::toshiba {

// The calls of the Toshiba stack's library "TosBtAPI.dll" as this system
// makes them, and the layout of what they fill. Every call returns non-zero
// for success and fills a status word; a wrapper whose entry point is missing
// fails. Addresses are six bytes in text order. A window is passed as a
// pointer to its handle, which the stack copies; the stack's notifications
// arrive as posted messages with the event code in the word parameter.

using Bool32 = std::int32_t;
using Dword = std::uint32_t;
using Long = std::int32_t;
using Window = const MessageWindowHandle*;
using AddressBytes6 = std::array<std::uint8_t, 6>;

inline constexpr const char* kLibraryName = "TosBtAPI.dll";
inline constexpr const char* kApplicationName = "BTF_6_APP_WND";

// Event masks of BtNotifyEvent; mask 0 turns a window's notification off.
inline constexpr Dword kStateEvents = 0x40000000;  // radio state, message 1040
inline constexpr Dword kComEvents = 0x800000;      // COM port events, message 1054
inline constexpr Dword kNotificationOff = 0;

// Completion codes (word parameter) of the operations that end by message.
inline constexpr Dword kDiscoveryFailed = 0x600000;
inline constexpr Dword kDiscoveryEnd = 0x6000FF;
inline constexpr Dword kSdpConnectFailed = 0x700000;
inline constexpr Dword kSdpConnectEnd = 0x7000FF;
inline constexpr Dword kSdpSearchFailed = 0x700400;
inline constexpr Dword kSdpSearchEnd = 0x7004FF;
// Virtual COM port events.
inline constexpr Dword kComCreated = 0x800100;
inline constexpr Dword kComRefused = 0x800200;
inline constexpr Dword kComConnectComplete = 0x8002FF;
inline constexpr Dword kComLinkLost = 0x800440;
// BtNotifyCOMM modes.
inline constexpr Dword kComNotifyOn = 2;
inline constexpr Dword kComNotifyOff = 0;

// Messages.
inline constexpr std::uint32_t kMsgStackState = 1040;
inline constexpr std::uint32_t kMsgSdpConnect = 1044;
inline constexpr std::uint32_t kMsgSdpSearch = 1046;
inline constexpr std::uint32_t kMsgDiscovery = 1049;
inline constexpr std::uint32_t kMsgComEvent = 1054;
inline constexpr std::uint32_t kMsgComConnect = 1055;
inline constexpr std::uint32_t kMsgComNotify = 1056;
inline constexpr std::uint32_t kMsgServiceFound = 1063;

// Sizes.
inline constexpr std::size_t kLocalInfoSize = 30;  // address in its first six bytes
inline constexpr std::size_t kNameFieldSize = 250;
inline constexpr Dword kAttributeMask = 0x6012;

// The device list of a discovery: a 32-bit count, the list's size in bytes
// (32-bit), then from offset 8 records of 264 bytes, each starting with the
// device's address.
inline constexpr std::size_t kDeviceListHeader = 8;
inline constexpr std::size_t kDeviceRecordSize = 264;

// The analysed attribute lists (BTANALYZEDATTRLIST2): a 32-bit count, the
// size in bytes, then from offset 8 records of kAnalyzedRecordSize bytes.
inline constexpr std::size_t kAnalyzedHeader = 8;
inline constexpr std::size_t kAnalyzedRecordSize = 672;
// In a record: flags (32-bit) of what it carries.
inline constexpr Dword kHasClass = 0x1;
inline constexpr Dword kHasName = 0x2;
inline constexpr Dword kHasDescription = 0x4;
inline constexpr Dword kHasProtocols = 0x8;
inline constexpr std::size_t kClassSizeOffset = 4;    // 2, 4 or 16
inline constexpr std::size_t kClassOffset = 8;        // 16 bytes, big-endian as in a 128-bit UUID
inline constexpr std::size_t kNameLengthOffset = 24;  // 16-bit
inline constexpr std::size_t kNameOffset = 26;
inline constexpr std::size_t kTextFieldSize = 256;
inline constexpr std::size_t kDescriptionLengthOffset = 282;  // 16-bit
inline constexpr std::size_t kDescriptionOffset = 284;
inline constexpr std::size_t kProtocolCountOffset = 540;
inline constexpr std::size_t kProtocolOffset = 544;
inline constexpr std::size_t kProtocolEntrySize = 32;
inline constexpr std::size_t kMaxProtocols = 4;
// A protocol entry analysed (19 bytes): the protocol's UUID (16 bytes,
// big-endian), the parameter's kind, its value, a reserved byte.
inline constexpr std::size_t kProtocolParameterSize = 19;
inline constexpr std::uint8_t kParameterServerChannel = 1;

using FnOpenAPI = Bool32 (*)(Window window, const char* application, Long* status);
using FnCloseAPI = Bool32 (*)(Long* status);
using FnNotifyEvent = Bool32 (*)(Dword mask, Long* status, Window window, std::uint32_t message);
using FnGetLocalInfo2 = Bool32 (*)(std::uint8_t* info, Long* status);
using FnSetLocalDeviceName = Bool32 (*)(const std::uint8_t* name, Long* status);
using FnGetRemoteClassOfDevice = Bool32 (*)(const std::uint8_t* address, Dword* cod, Long* status);
using FnGetRemoteName = Bool32 (*)(const std::uint8_t* address, std::uint8_t* name, Long* status);
using FnDiscoverRemoteDevice2 = Bool32 (*)(std::uint8_t** list, Long* status, Dword, Dword,
                                           Window window, std::uint32_t message);
using FnMemFree = void (*)(void* memory);
using FnMakeServiceSearchPattern2 = Bool32 (*)(const std::uint8_t* uuids, Dword count,
                                               void** pattern, Long* status);
using FnMakeAttributeIDList2 = Bool32 (*)(Dword mask, void** list, Long* status);
using FnConnectSDP = Bool32 (*)(const std::uint8_t* address, Dword* sdp, Long* status,
                                Window window, std::uint32_t message);
using FnServiceSearchAttribute2 = Bool32 (*)(Dword sdp, const void* pattern, const void* attributes,
                                             void** lists, Long* status, Window window,
                                             std::uint32_t message);
using FnDisconnectSDP = Bool32 (*)(Dword sdp, Long* status);
using FnAnalyzeServiceAttributeLists2 = Bool32 (*)(const void* lists, Dword mask,
                                                   std::uint8_t** analyzed, Long* status);
using FnAnalyzeProtocolParameter2 = Bool32 (*)(const std::uint8_t* entry, std::uint8_t* result,
                                               Long* status);
using FnFreeAnalyzedAttrList2 = void (*)(std::uint8_t* analyzed);
using FnCreateCOMM = Bool32 (*)(const char* name, Dword, Dword, Long* status);
using FnDestroyCOMM = Bool32 (*)(const char* name, Long* status);
using FnConnectCOMM2 = Bool32 (*)(const char* name, const std::uint8_t* address,
                                  std::uint8_t channel, Dword mode, std::uint16_t* connection,
                                  Dword security, Long* status, Window window,
                                  std::uint32_t message, Dword);
using FnDisconnectCOMM = Bool32 (*)(const char* name, Long* status);
using FnNotifyCOMM = Bool32 (*)(const char* name, Dword mode, const std::uint8_t* address,
                                std::uint16_t connection, Long* status, Window window,
                                std::uint32_t message, Dword);
using FnGetConnectionHandle = Bool32 (*)(std::uint16_t connection, std::uint16_t* link,
                                         Long* status);
using FnGetLinkQuality = Bool32 (*)(std::uint16_t link, std::uint8_t* quality, Long* status);

inline std::uint32_t ReadLe32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
inline void WriteLe32(std::uint8_t* p, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}
inline std::uint16_t ReadLe16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
inline void WriteLe16(std::uint8_t* p, std::uint16_t value) {
    p[0] = static_cast<std::uint8_t>(value);
    p[1] = static_cast<std::uint8_t>(value >> 8);
}

}  // namespace kavri::toshiba
