#pragma once

#include "stack/wclUUIDs.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kavri {

// Writes SDP data elements as a remote device's SDP server returns them, so
// the virtual neighbourhood hands the stack bindings real service records.
// Sequences get the shortest size header that fits their content (1, 2 or 4
// bytes). A plain value used on one thread; misuse (closing a sequence that
// is not open, taking the bytes while one is open, content over 4 GiB)
// throws std::logic_error.
class SdpRecordWriter {
public:
    SdpRecordWriter& Nil();
    SdpRecordWriter& UInt8(std::uint8_t value);
    SdpRecordWriter& UInt16(std::uint16_t value);
    SdpRecordWriter& UInt32(std::uint32_t value);
    SdpRecordWriter& Uuid16(std::uint16_t value);
    SdpRecordWriter& Uuid32(std::uint32_t value);
    SdpRecordWriter& Uuid128(const GUID& uuid);
    // The shortest form: 16-bit or 32-bit for UUIDs built on the base UUID.
    SdpRecordWriter& Uuid(const GUID& uuid);
    // The bytes as they are; the caller chooses their encoding.
    SdpRecordWriter& Text(std::string_view bytes);
    SdpRecordWriter& Bool(bool value);
    // An attribute identifier: a 16-bit unsigned integer.
    SdpRecordWriter& Attribute(std::uint16_t id) { return UInt16(id); }

    SdpRecordWriter& BeginSequence();
    SdpRecordWriter& EndSequence();

    // Everything written so far; every sequence must be closed.
    std::vector<std::uint8_t> Bytes() const;

private:
    std::vector<std::uint8_t>& Out() { return m_open.empty() ? m_bytes : m_open.back(); }
    void Header(std::uint8_t type, std::size_t size);

    std::vector<std::uint8_t> m_bytes;
    // Content of the sequences still open, innermost last.
    std::vector<std::vector<std::uint8_t>> m_open;
};

enum class SdpTextEncoding {
    Utf8,     // character set 106
    Utf16LE,  // character set 1014, UTF-16 little-endian
};

struct SdpProfileDescriptor {
    GUID UUID = BaseUUID;
    std::uint16_t Version = 0x0100;
};

// One complete service record, attributes in ascending order: 0x0000 handle,
// 0x0001 class list (left out when classUuids is empty), 0x0004 protocols
// (L2CAP, then RFCOMM with the channel when there is one), 0x0006 language
// base ("en", the encoding's character set, base 0x0100), 0x0009 profile (when
// given), 0x0100 name and 0x0101 description (each left out when empty). Name
// and comment are UTF-8 and written in the chosen encoding. The channel is
// not checked, so a scenario can describe a device that announces a channel
// the stack must refuse.
std::vector<std::uint8_t> BuildServiceRecord(
    std::uint32_t handle, const std::vector<GUID>& classUuids,
    std::optional<std::uint8_t> rfcommChannel, std::string_view name, std::string_view comment,
    SdpTextEncoding textEncoding,
    const std::optional<SdpProfileDescriptor>& profile = std::nullopt);

}  // namespace kavri
