#include "stack/wclBluetoothAddress.h"

#include "platform/Text.h"
#include "stack/wclExceptions.h"

namespace kavri {
namespace {

// "(" then byteCount hex pairs separated by ":" then ")". Besides the fixed
// punctuation, every byte position must hold a hexadecimal digit: a text such
// as "((0:..." would otherwise pass the punctuation check and then convert to
// a made-up address.
bool IsValidForm(std::string_view text, std::size_t byteCount) noexcept {
    if (text.size() != byteCount * 3 + 1)
        return false;
    if (text.front() != '(' || text.back() != ')')
        return false;
    for (std::size_t i = 0; i < byteCount; ++i) {
        const std::size_t pos = 1 + i * 3;
        if (HexValue(text[pos]) < 0 || HexValue(text[pos + 1]) < 0)
            return false;
        if (i + 1 < byteCount && text[pos + 2] != ':')
            return false;
    }
    return true;
}

template <std::size_t N>
std::array<std::uint8_t, N> ParseBytes(std::string_view text) {
    if (!IsValidForm(text, N))
        throw wclEInvalidAddress();
    std::array<std::uint8_t, N> bytes{};
    for (std::size_t i = 0; i < N; ++i) {
        const std::size_t pos = 1 + i * 3;
        bytes[i] = static_cast<std::uint8_t>(HexValue(text[pos]) * 16 + HexValue(text[pos + 1]));
    }
    return bytes;
}

template <std::size_t N>
std::string FormatBytes(const std::array<std::uint8_t, N>& bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(N * 3 + 1);
    text += '(';
    for (std::size_t i = 0; i < N; ++i) {
        if (i > 0)
            text += ':';
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0F];
    }
    text += ')';
    return text;
}

template <std::size_t N>
std::array<std::uint8_t, N> Reversed(std::array<std::uint8_t, N> bytes) {
    for (std::size_t i = 0; i < N / 2; ++i)
        std::swap(bytes[i], bytes[N - 1 - i]);
    return bytes;
}

}  // namespace

bool IsValidAddress(std::string_view text) noexcept {
    return IsValidForm(text, 6);
}
bool IsValidIrDAAddress(std::string_view text) noexcept {
    return IsValidForm(text, 4);
}

void ValidateAddress(std::string_view text) {
    if (!IsValidAddress(text))
        throw wclEInvalidAddress();
}

void ValidateIrDAAddress(std::string_view text) {
    if (!IsValidIrDAAddress(text))
        throw wclEInvalidAddress();
}

std::uint64_t AddressToUInt64(std::string_view text) {
    std::uint64_t value = 0;
    for (std::uint8_t b : ParseBytes<6>(text))
        value = (value << 8) | b;
    return value;
}

std::string UInt64ToAddress(std::uint64_t address) {
    AddressBytes bytes{};
    for (std::size_t i = 0; i < 6; ++i) {
        bytes[5 - i] = static_cast<std::uint8_t>(address >> (8 * i));
    }
    return FormatBytes(bytes);
}

AddressBytes AddressToBytes(std::string_view text) {
    return ParseBytes<6>(text);
}
std::string BytesToAddress(const AddressBytes& bytes) {
    return FormatBytes(bytes);
}

AddressBytes AddressToReversedBytes(std::string_view text) {
    return Reversed(ParseBytes<6>(text));
}
std::string ReversedBytesToAddress(const AddressBytes& bytes) {
    return FormatBytes(Reversed(bytes));
}

IrDADeviceId IrDAAddressToDeviceId(std::string_view text) {
    return Reversed(ParseBytes<4>(text));
}
std::string IrDADeviceIdToAddress(const IrDADeviceId& id) {
    return FormatBytes(Reversed(id));
}

}  // namespace kavri
