#include "stack/wclSDPParser.h"

#include <cstdint>
#include <optional>

namespace kavri {
namespace {

// The descriptor of a 16-bit unsigned integer: at the top level of a record it
// opens an attribute identifier.
constexpr std::uint8_t kAttributeIdDescriptor = 0x09;
// Sequences with a 1- and a 2-byte size: the only ones that are dissolved.
constexpr std::uint8_t kSequence8Descriptor = 0x35;
constexpr std::uint8_t kSequence16Descriptor = 0x36;
constexpr std::uint16_t kServiceRecordHandleId = 0x0000;
// Descriptor, identifier, handle descriptor and the 32-bit handle.
constexpr std::size_t kHandleAttributeLength = 8;

std::uint32_t ReadBigEndian(const std::uint8_t* bytes, std::size_t count) noexcept {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < count; ++i)
        value = value << 8 | bytes[i];
    return value;
}

// Missing bytes past the end of data read as 0.
std::uint32_t ReadBigEndianPadded(const std::vector<std::uint8_t>& data,
                                  std::size_t count) noexcept {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < count; ++i)
        value = value << 8 | (i < data.size() ? data[i] : 0u);
    return value;
}

struct ElementHeader {
    std::uint8_t descriptor;
    std::size_t headerLength;  // descriptor and size field
    std::uint32_t dataSize;
};

// The header of the element whose descriptor stands at pos, or nothing when
// the descriptor or its size field lies outside the buffer.
std::optional<ElementHeader> ReadHeader(const std::uint8_t* buffer, std::size_t length,
                                        std::size_t pos) noexcept {
    if (pos >= length)
        return std::nullopt;
    const std::uint8_t descriptor = buffer[pos];
    const std::uint8_t type = descriptor >> 3;
    switch (descriptor & 0x07) {
        case 0:
            return ElementHeader{descriptor, 1, type == 0 ? 0u : 1u};
        case 1:
            return ElementHeader{descriptor, 1, 2};
        case 2:
            return ElementHeader{descriptor, 1, 4};
        case 3:
            return ElementHeader{descriptor, 1, 8};
        case 4:
            return ElementHeader{descriptor, 1, 16};
        default: {
            const std::size_t sizeBytes = std::size_t{1} << ((descriptor & 0x07) - 5);
            if (length - pos - 1 < sizeBytes)
                return std::nullopt;
            return ElementHeader{descriptor, 1 + sizeBytes,
                                 ReadBigEndian(buffer + pos + 1, sizeBytes)};
        }
    }
}

// Walks an attribute value of valueLength bytes (as its own header states it)
// starting at pos, entering 1- and 2-byte-size sequences and appending every
// other element. Sequence sizes inside the value are not consulted: only the
// outer length counts, as the stacks' records have always been read. Returns
// false when the value runs past the end of the buffer; the elements that fit
// stay in the attribute.
bool WalkValue(const std::uint8_t* buffer, std::size_t length, std::size_t& pos,
               std::uint64_t valueLength, TwclSDPAttribute& attribute) {
    // Signed: a nested header can step over the end of the value, which ends it.
    std::int64_t remaining = static_cast<std::int64_t>(valueLength);
    while (remaining > 0) {
        if (pos >= length)
            return false;
        const std::uint8_t descriptor = buffer[pos];
        if (descriptor == kSequence8Descriptor) {
            pos += 2;
            remaining -= 2;
            continue;
        }
        if (descriptor == kSequence16Descriptor) {
            pos += 3;
            remaining -= 3;
            continue;
        }
        const std::optional<ElementHeader> header = ReadHeader(buffer, length, pos);
        if (!header)
            return false;
        // Compared with what is present before anything is allocated, so a
        // size near 4 GiB in a short record costs nothing.
        if (header->dataSize > length - pos - header->headerLength)
            return false;
        const std::uint8_t* data = buffer + pos + header->headerLength;
        attribute.Elements().Add(
            TwclSDPElement(static_cast<std::uint8_t>(descriptor >> 3),
                           std::vector<std::uint8_t>(data, data + header->dataSize)));
        const std::size_t total = header->headerLength + header->dataSize;
        pos += total;
        remaining -= static_cast<std::int64_t>(total);
    }
    return true;
}

}  // namespace

std::uint8_t TwclSDPElement::AsUInt8() const noexcept {
    return static_cast<std::uint8_t>(ReadBigEndianPadded(m_data, 1));
}

std::uint16_t TwclSDPElement::AsUInt16() const noexcept {
    return static_cast<std::uint16_t>(ReadBigEndianPadded(m_data, 2));
}

std::uint32_t TwclSDPElement::AsUInt32() const noexcept {
    return ReadBigEndianPadded(m_data, 4);
}

const TwclSDPAttribute* TwclSDPServiceRecord::FindAttribute(std::uint16_t id) const noexcept {
    for (const TwclSDPAttribute& attribute : m_attributes) {
        if (attribute.ID() == id)
            return &attribute;
    }
    return nullptr;
}

TwclSDPParser::TwclSDPParser(const std::uint8_t* buffer, std::size_t length) {
    if (buffer == nullptr)
        return;
    // Every step moves pos forward by at least two bytes and every read is
    // checked against length, so any input ends within length steps.
    std::size_t pos = 0;
    while (pos < length) {
        const std::uint8_t descriptor = buffer[pos];
        if (descriptor != kAttributeIdDescriptor) {
            // Steps over the header of the record's outer sequence (0x35 with
            // a 1-byte size, 0x36 with a 2-byte size) and over anything else
            // that does not open an attribute.
            pos += descriptor == kSequence8Descriptor ? 2 : 3;
            continue;
        }
        if (length - pos < 3)
            break;
        const auto id = static_cast<std::uint16_t>(ReadBigEndian(buffer + pos + 1, 2));
        if (id == kServiceRecordHandleId) {
            // The handle's own descriptor (0x0A) at pos + 3 is taken as given.
            if (length - pos < kHandleAttributeLength)
                break;
            TwclSDPServiceRecord& record = m_records.Add(TwclSDPServiceRecord());
            record.SetHandle(ReadBigEndian(buffer + pos + 4, 4));
            pos += kHandleAttributeLength;
            continue;
        }
        pos += 3;
        const std::optional<ElementHeader> header = ReadHeader(buffer, length, pos);
        if (!header)
            break;
        const std::uint64_t valueLength = std::uint64_t{header->headerLength} + header->dataSize;
        if (m_records.Count() == 0) {
            // No record to belong to: skipped with its value.
            if (valueLength > length - pos)
                break;
            pos += static_cast<std::size_t>(valueLength);
            continue;
        }
        TwclSDPServiceRecord& record = m_records.Items(m_records.Count() - 1);
        TwclSDPAttribute& attribute = record.Attributes().Add(TwclSDPAttribute(id));
        if (!WalkValue(buffer, length, pos, valueLength, attribute))
            break;
    }
}

}  // namespace kavri
