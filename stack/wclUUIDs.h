#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

namespace kavri {

// 128-bit UUIDs in the GUID field layout the stacks use, and the library's
// UUID constants. A 16- or 32-bit Bluetooth UUID is the base UUID with its
// value in Data1. Plain values and pure functions, any thread; nothing throws
// except std::string allocation.
//
// GUID is a trivial type like the system's own, so it can sit inside packed
// system records that are copied byte by byte: write GUID{} for all zeros, a
// bare declaration leaves it uninitialised.
struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];

    friend constexpr bool operator==(const GUID&, const GUID&) = default;
};
static_assert(sizeof(GUID) == 16);
static_assert(std::is_trivial_v<GUID> && std::is_standard_layout_v<GUID>);

inline constexpr GUID Uuid32ToGuid(std::uint32_t value) noexcept {
    return GUID{value, 0x0000, 0x1000, {0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB}};
}

inline constexpr GUID Uuid16ToGuid(std::uint16_t value) noexcept {
    return Uuid32ToGuid(value);
}

// True when uuid is the base UUID with some value in Data1, that is, when it
// has a 16- or 32-bit short form.
inline constexpr bool IsBluetoothBasedGuid(const GUID& uuid) noexcept {
    return uuid == Uuid32ToGuid(uuid.Data1);
}

inline constexpr GUID BaseUUID = Uuid32ToGuid(0x00000000);
inline constexpr GUID RFCOMMProtocolUUID = Uuid16ToGuid(0x0003);
inline constexpr GUID L2CAPProtocolUUID = Uuid16ToGuid(0x0100);
inline constexpr GUID SerialPortServiceClassUUID = Uuid16ToGuid(0x1101);
inline constexpr GUID OBEXObjectPushServiceClassUUID = Uuid16ToGuid(0x1105);

// "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX", upper-case hexadecimal digits, the
// fields in the order Data1, Data2, Data3, Data4[0..1], Data4[2..7].
std::string GuidToString(const GUID& uuid);

// Reads the text form of GuidToString, digits in either case, optionally
// enclosed in braces as the registry writes it. Anything else (other length,
// a missing or misplaced dash, a sign, a space, a non-hexadecimal digit)
// returns false and leaves uuid unchanged.
bool StringToGuid(std::string_view text, GUID& uuid);

// The 16 bytes of the UUID as they travel in SDP records: every field
// big-endian, in field order.
using GuidBytes = std::array<std::uint8_t, 16>;
GUID GuidFromBigEndianBytes(const GuidBytes& bytes) noexcept;
GuidBytes GuidToBigEndianBytes(const GUID& uuid) noexcept;

}  // namespace kavri
