#pragma once

#include <cstdint>

namespace kavri {

// The stack that serves a radio; stored as one byte.
enum class TwclBluetoothAPI : std::uint8_t {
    baBlueSoleil = 0,
    baMicrosoft = 1,
    baToshiba = 2,
    baWidComm = 3,
    // Linux's own stack, beside the four Windows stacks.
    baBlueZ = 4,
};

// What the library can talk over; stored as one byte.
enum class TwclTransport : std::uint8_t {
    trRAPI = 0,
    trBluetooth = 1,
    trIrDA = 2,
    trSerial = 3,
};

// A small bit set over one of the enumerations above: bit n stands for value n.
// Values above 7 are never members.
template <typename Enum>
class TwclSet {
public:
    constexpr TwclSet() = default;
    constexpr explicit TwclSet(std::uint8_t bits) : m_bits(bits) {}

    constexpr bool Contains(Enum value) const { return Contains(static_cast<unsigned>(value)); }
    constexpr bool Contains(unsigned value) const {
        return value <= 7 && (m_bits & (1u << value)) != 0;
    }
    constexpr void Include(Enum value) {
        m_bits = static_cast<std::uint8_t>(m_bits | (1u << static_cast<unsigned>(value)));
    }
    constexpr void Exclude(Enum value) {
        m_bits = static_cast<std::uint8_t>(m_bits & ~(1u << static_cast<unsigned>(value)));
    }
    constexpr bool Empty() const { return m_bits == 0; }
    constexpr std::uint8_t Bits() const { return m_bits; }
    constexpr bool operator==(const TwclSet&) const = default;

private:
    std::uint8_t m_bits = 0;
};

using TwclBluetoothAPIs = TwclSet<TwclBluetoothAPI>;
using TwclTransports = TwclSet<TwclTransport>;

// Numbered messages of the library (the first user message number is 1024).
namespace wclMsg {
inline constexpr std::uint32_t kRAPIConnected = 1024;
inline constexpr std::uint32_t kRAPIDisconnected = 1025;
inline constexpr std::uint32_t kBlueSoleilReady = 1026;
inline constexpr std::uint32_t kBlueSoleilNotReady = 1027;
inline constexpr std::uint32_t kMicrosoftPresent = 1028;
inline constexpr std::uint32_t kMicrosoftAbsent = 1029;
inline constexpr std::uint32_t kToshibaReady = 1030;
inline constexpr std::uint32_t kToshibaNotReady = 1031;
inline constexpr std::uint32_t kWidCommReady = 1032;
inline constexpr std::uint32_t kWidCommNotReady = 1033;
inline constexpr std::uint32_t kIrDAPresent = 1034;
inline constexpr std::uint32_t kIrDAAbsent = 1035;
inline constexpr std::uint32_t kBlueZReady = 1036;
inline constexpr std::uint32_t kBlueZNotReady = 1037;
inline constexpr std::uint32_t kToshibaStackEvent = 1040;
inline constexpr std::uint32_t kAPIChanged = 1041;
inline constexpr std::uint32_t kAPILoaded = 1042;
inline constexpr std::uint32_t kAPIUnloading = 1043;
inline constexpr std::uint32_t kToshibaSDPConnect = 1044;
inline constexpr std::uint32_t kToshibaSDPSearch = 1046;
inline constexpr std::uint32_t kDiscoveryStarted = 1047;
inline constexpr std::uint32_t kDiscoveryComplete = 1048;
inline constexpr std::uint32_t kToshibaDiscovery = 1049;
inline constexpr std::uint32_t kConnectionSocketEvent = 1052;
inline constexpr std::uint32_t kConnectionSerialData = 1053;
inline constexpr std::uint32_t kBlueSoleilConnectionEvent = 1057;
inline constexpr std::uint32_t kSenderHandOff = 1066;
inline constexpr std::uint32_t kRAPIState = 1067;
}  // namespace wclMsg

}  // namespace kavri
