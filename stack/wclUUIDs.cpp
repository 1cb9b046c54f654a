#include "stack/wclUUIDs.h"

#include "platform/Text.h"

namespace kavri {
namespace {

constexpr std::size_t kGuidTextLength = 36;

bool IsDashPosition(std::size_t pos) noexcept {
    return pos == 8 || pos == 13 || pos == 18 || pos == 23;
}

}  // namespace

std::string GuidToString(const GUID& uuid) {
    const GuidBytes bytes = GuidToBigEndianBytes(uuid);
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(kGuidTextLength);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            text += '-';
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0F];
    }
    return text;
}

bool StringToGuid(std::string_view text, GUID& uuid) {
    if (text.size() == kGuidTextLength + 2) {
        if (text.front() != '{' || text.back() != '}')
            return false;
        text = text.substr(1, kGuidTextLength);
    }
    if (text.size() != kGuidTextLength)
        return false;
    // Every position is checked by hand: library number parsers would accept
    // signs, spaces and "0x" prefixes inside a field.
    GuidBytes bytes{};
    std::size_t byteIndex = 0;
    for (std::size_t pos = 0; pos < kGuidTextLength;) {
        if (IsDashPosition(pos)) {
            if (text[pos] != '-')
                return false;
            ++pos;
            continue;
        }
        const int high = HexValue(text[pos]);
        const int low = HexValue(text[pos + 1]);
        if (high < 0 || low < 0)
            return false;
        bytes[byteIndex++] = static_cast<std::uint8_t>(high * 16 + low);
        pos += 2;
    }
    uuid = GuidFromBigEndianBytes(bytes);
    return true;
}

GUID GuidFromBigEndianBytes(const GuidBytes& bytes) noexcept {
    GUID uuid{};
    uuid.Data1 = static_cast<std::uint32_t>(bytes[0]) << 24 |
                 static_cast<std::uint32_t>(bytes[1]) << 16 |
                 static_cast<std::uint32_t>(bytes[2]) << 8 | bytes[3];
    uuid.Data2 = static_cast<std::uint16_t>(bytes[4] << 8 | bytes[5]);
    uuid.Data3 = static_cast<std::uint16_t>(bytes[6] << 8 | bytes[7]);
    for (std::size_t i = 0; i < 8; ++i)
        uuid.Data4[i] = bytes[8 + i];
    return uuid;
}

GuidBytes GuidToBigEndianBytes(const GUID& uuid) noexcept {
    GuidBytes bytes{};
    bytes[0] = static_cast<std::uint8_t>(uuid.Data1 >> 24);
    bytes[1] = static_cast<std::uint8_t>(uuid.Data1 >> 16);
    bytes[2] = static_cast<std::uint8_t>(uuid.Data1 >> 8);
    bytes[3] = static_cast<std::uint8_t>(uuid.Data1);
    bytes[4] = static_cast<std::uint8_t>(uuid.Data2 >> 8);
    bytes[5] = static_cast<std::uint8_t>(uuid.Data2);
    bytes[6] = static_cast<std::uint8_t>(uuid.Data3 >> 8);
    bytes[7] = static_cast<std::uint8_t>(uuid.Data3);
    for (std::size_t i = 0; i < 8; ++i)
        bytes[8 + i] = uuid.Data4[i];
    return bytes;
}

}  // namespace kavri
