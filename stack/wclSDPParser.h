#pragma once

#include "stack/wclExceptions.h"

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace kavri {

// Service records in the SDP data-element encoding, turned into a flat model:
// records hold attributes, an attribute holds the leaf elements of its value in
// document order (sequences with a 1- or 2-byte size are dissolved; other
// sequences and alternatives stay whole as one element). The parser reads the
// buffer only while it is constructed, never outside it, raises nothing for
// malformed data and keeps what it built before the data went wrong. Objects
// are plain values owned by the parser; use them on one thread at a time.
// Index access with Items() throws wclEIndexOutOfRange.

// Owning list with the library's checked index access.
template <typename T>
class TwclSDPList {
public:
    std::size_t Count() const noexcept { return m_items.size(); }

    const T& Items(std::size_t index) const {
        if (index >= m_items.size())
            throw wclEIndexOutOfRange();
        return m_items[index];
    }
    T& Items(std::size_t index) {
        if (index >= m_items.size())
            throw wclEIndexOutOfRange();
        return m_items[index];
    }

    T& Add(T item) {
        m_items.push_back(std::move(item));
        return m_items.back();
    }

    auto begin() const noexcept { return m_items.begin(); }
    auto end() const noexcept { return m_items.end(); }

private:
    std::vector<T> m_items;
};

// Data-element type numbers (the descriptor's upper five bits).
enum class SdpElementType : std::uint8_t {
    Nil = 0,
    UnsignedInteger = 1,
    SignedInteger = 2,
    Uuid = 3,
    Text = 4,
    Boolean = 5,
    Sequence = 6,
    Alternative = 7,
    Url = 8,
};

// One leaf data element: its type number and its data bytes exactly as they
// stand in the record (numbers big-endian). Size is always Data().size().
class TwclSDPElement {
public:
    TwclSDPElement(std::uint8_t elementType, std::vector<std::uint8_t> data)
        : m_data(std::move(data)), m_elementType(elementType) {}

    const std::vector<std::uint8_t>& Data() const noexcept { return m_data; }
    std::uint8_t ElementType() const noexcept { return m_elementType; }
    std::uint32_t Size() const noexcept { return static_cast<std::uint32_t>(m_data.size()); }

    // The first one, two or four data bytes, big-endian. Bytes that the element
    // does not have read as 0 (a 1-byte element [0x05] gives AsUInt16 0x0500),
    // so a short element from a hostile record never reads past its data.
    std::uint8_t AsUInt8() const noexcept;
    std::uint16_t AsUInt16() const noexcept;
    std::uint32_t AsUInt32() const noexcept;

private:
    std::vector<std::uint8_t> m_data;
    std::uint8_t m_elementType;
};

using TwclSDPAttributeElements = TwclSDPList<TwclSDPElement>;

class TwclSDPAttribute {
public:
    explicit TwclSDPAttribute(std::uint16_t id) : m_id(id) {}

    std::uint16_t ID() const noexcept { return m_id; }
    const TwclSDPAttributeElements& Elements() const noexcept { return m_elements; }
    TwclSDPAttributeElements& Elements() noexcept { return m_elements; }

private:
    std::uint16_t m_id;
    TwclSDPAttributeElements m_elements;
};

using TwclSDPAttributes = TwclSDPList<TwclSDPAttribute>;

class TwclSDPServiceRecord {
public:
    const TwclSDPAttributes& Attributes() const noexcept { return m_attributes; }
    TwclSDPAttributes& Attributes() noexcept { return m_attributes; }
    std::uint32_t Handle() const noexcept { return m_handle; }
    void SetHandle(std::uint32_t handle) noexcept { m_handle = handle; }

    // The first attribute with that identifier in record order, or nullptr.
    const TwclSDPAttribute* FindAttribute(std::uint16_t id) const noexcept;

private:
    TwclSDPAttributes m_attributes;
    std::uint32_t m_handle = 0;
};

using TwclSDPServiceRecords = TwclSDPList<TwclSDPServiceRecord>;

class TwclSDPParser {
public:
    // Parses length bytes at buffer at once; buffer may be null when length
    // is 0. The buffer is not kept.
    TwclSDPParser(const std::uint8_t* buffer, std::size_t length);

    const TwclSDPServiceRecords& Records() const noexcept { return m_records; }

private:
    TwclSDPServiceRecords m_records;
};

}  // namespace kavri
