#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace kavri {

// The text form of device addresses and its conversions to the binary layouts
// that the stacks use. Text is how addresses are stored, compared and handed
// around: "(" six two-digit hexadecimal bytes separated by ":" ")", most
// significant byte first, 19 characters. IrDA addresses have four bytes (13
// characters). Text produced here uses upper-case digits; compare texts as
// whole strings. Pure functions, any thread. Invalid text throws
// wclEInvalidAddress.

inline constexpr std::string_view kDefaultAddress = "(00:00:00:00:00:00)";
inline constexpr std::size_t kAddressTextLength = 19;
inline constexpr std::size_t kIrDAAddressTextLength = 13;

bool IsValidAddress(std::string_view text) noexcept;
bool IsValidIrDAAddress(std::string_view text) noexcept;
void ValidateAddress(std::string_view text);
void ValidateIrDAAddress(std::string_view text);

// The 48-bit value, first text byte most significant (the layout of a 64-bit
// integer address).
std::uint64_t AddressToUInt64(std::string_view text);
std::string UInt64ToAddress(std::uint64_t address);

// Six bytes in text order (first text byte at index 0).
using AddressBytes = std::array<std::uint8_t, 6>;
AddressBytes AddressToBytes(std::string_view text);
std::string BytesToAddress(const AddressBytes& bytes);

// Six bytes least significant first (first text byte at index 5), as stacks
// that keep the address little-endian inside a record store it.
AddressBytes AddressToReversedBytes(std::string_view text);
std::string ReversedBytesToAddress(const AddressBytes& bytes);

// The 4-byte IrDA device identifier: the bytes in reverse text order, so that
// read as a little-endian 32-bit number the first text byte is the most
// significant.
using IrDADeviceId = std::array<std::uint8_t, 4>;
IrDADeviceId IrDAAddressToDeviceId(std::string_view text);
std::string IrDADeviceIdToAddress(const IrDADeviceId& id);

}  // namespace kavri
