#pragma once

#include "stack/wclSDPParser.h"
#include "stack/wclUUIDs.h"

#include <cstdint>
#include <optional>
#include <string>

namespace kavri {

// What a service record says about one service, read from the parser's flat
// form by element position: the service class, the RFCOMM channel, the name
// and the description. Texts are UTF-8, cut at the first NUL character (stacks
// often store them NUL-terminated) and with malformed sequences replaced by
// U+FFFD. Pure function, any thread.
struct SdpServiceInfo {
    GUID UUID = BaseUUID;
    std::uint8_t Channel = 0;
    std::string Name;
    std::string Comment;
};

// Attribute identifiers the service reader looks at.
inline constexpr std::uint16_t kSdpServiceClassIDList = 0x0001;
inline constexpr std::uint16_t kSdpProtocolDescriptorList = 0x0004;
inline constexpr std::uint16_t kSdpLanguageBaseAttributeIDList = 0x0006;
inline constexpr std::uint16_t kSdpBluetoothProfileDescriptorList = 0x0009;
inline constexpr std::uint16_t kSdpServiceName = 0x0100;
inline constexpr std::uint16_t kSdpServiceDescription = 0x0101;
// The character-set identifier (IANA MIBenum) of UTF-8; any other makes the
// texts UTF-16 little-endian.
inline constexpr std::uint16_t kSdpCharsetUtf8 = 106;

// The service of one record, or nothing when the record names no service
// class (neither a profile descriptor list nor a class list, or the chosen one
// empty). A channel of 32 or more throws wclEInvalidChannelNumber.
std::optional<SdpServiceInfo> ReadServiceFromRecord(const TwclSDPServiceRecord& record);

// The 16-bit class value of a UUID element, told apart by data size (2, 4 or
// 16 bytes); 0 for any other size.
std::uint16_t SdpUuidClassValue(const TwclSDPElement& element) noexcept;

// The 128-bit UUID of a UUID element; BaseUUID for a size other than 2, 4, 16.
GUID SdpUuidToGuid(const TwclSDPElement& element) noexcept;

}  // namespace kavri
