#include "sim/SdpRecordWriter.h"

#include "platform/Text.h"

#include <limits>
#include <stdexcept>

namespace kavri {
namespace {

// Data-element type numbers.
constexpr std::uint8_t kNil = 0;
constexpr std::uint8_t kUnsigned = 1;
constexpr std::uint8_t kUuid = 3;
constexpr std::uint8_t kText = 4;
constexpr std::uint8_t kBoolean = 5;
constexpr std::uint8_t kSequence = 6;

constexpr std::uint16_t kLanguageEnglish = 0x656E;  // "en"
constexpr std::uint16_t kCharsetUtf8 = 106;
constexpr std::uint16_t kCharsetUtf16LE = 1014;
constexpr std::uint16_t kPrimaryLanguageBase = 0x0100;

// Attribute identifiers; name and description sit at the primary language base.
constexpr std::uint16_t kServiceRecordHandle = 0x0000;
constexpr std::uint16_t kServiceClassIDList = 0x0001;
constexpr std::uint16_t kProtocolDescriptorList = 0x0004;
constexpr std::uint16_t kLanguageBaseAttributeIDList = 0x0006;
constexpr std::uint16_t kBluetoothProfileDescriptorList = 0x0009;
constexpr std::uint16_t kServiceName = kPrimaryLanguageBase + 0x0000;
constexpr std::uint16_t kServiceDescription = kPrimaryLanguageBase + 0x0001;

void AppendBigEndian(std::vector<std::uint8_t>& out, std::uint64_t value, std::size_t bytes) {
    for (std::size_t i = bytes; i > 0; --i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * (i - 1))));
}

std::string EncodeText(std::string_view utf8, SdpTextEncoding encoding) {
    if (encoding == SdpTextEncoding::Utf8)
        return std::string(utf8);
    std::string bytes;
    for (char16_t unit : Utf8ToUtf16(utf8)) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

}  // namespace

void SdpRecordWriter::Header(std::uint8_t type, std::size_t size) {
    std::vector<std::uint8_t>& out = Out();
    const auto descriptor = [type](std::uint8_t sizeIndex) {
        return static_cast<std::uint8_t>(type << 3 | sizeIndex);
    };
    if (size <= std::numeric_limits<std::uint8_t>::max()) {
        out.push_back(descriptor(5));
        AppendBigEndian(out, size, 1);
    } else if (size <= std::numeric_limits<std::uint16_t>::max()) {
        out.push_back(descriptor(6));
        AppendBigEndian(out, size, 2);
    } else if (size <= std::numeric_limits<std::uint32_t>::max()) {
        out.push_back(descriptor(7));
        AppendBigEndian(out, size, 4);
    } else {
        throw std::logic_error("SDP data element larger than 4 GiB");
    }
}

SdpRecordWriter& SdpRecordWriter::Nil() {
    Out().push_back(kNil << 3);
    return *this;
}

SdpRecordWriter& SdpRecordWriter::UInt8(std::uint8_t value) {
    Out().push_back(kUnsigned << 3 | 0);
    AppendBigEndian(Out(), value, 1);
    return *this;
}

SdpRecordWriter& SdpRecordWriter::UInt16(std::uint16_t value) {
    Out().push_back(kUnsigned << 3 | 1);
    AppendBigEndian(Out(), value, 2);
    return *this;
}

SdpRecordWriter& SdpRecordWriter::UInt32(std::uint32_t value) {
    Out().push_back(kUnsigned << 3 | 2);
    AppendBigEndian(Out(), value, 4);
    return *this;
}

SdpRecordWriter& SdpRecordWriter::Uuid16(std::uint16_t value) {
    Out().push_back(kUuid << 3 | 1);
    AppendBigEndian(Out(), value, 2);
    return *this;
}

SdpRecordWriter& SdpRecordWriter::Uuid32(std::uint32_t value) {
    Out().push_back(kUuid << 3 | 2);
    AppendBigEndian(Out(), value, 4);
    return *this;
}

SdpRecordWriter& SdpRecordWriter::Uuid128(const GUID& uuid) {
    Out().push_back(kUuid << 3 | 4);
    const GuidBytes bytes = GuidToBigEndianBytes(uuid);
    Out().insert(Out().end(), bytes.begin(), bytes.end());
    return *this;
}

SdpRecordWriter& SdpRecordWriter::Uuid(const GUID& uuid) {
    if (!IsBluetoothBasedGuid(uuid))
        return Uuid128(uuid);
    if (uuid.Data1 <= std::numeric_limits<std::uint16_t>::max())
        return Uuid16(static_cast<std::uint16_t>(uuid.Data1));
    return Uuid32(uuid.Data1);
}

SdpRecordWriter& SdpRecordWriter::Text(std::string_view bytes) {
    Header(kText, bytes.size());
    Out().insert(Out().end(), bytes.begin(), bytes.end());
    return *this;
}

SdpRecordWriter& SdpRecordWriter::Bool(bool value) {
    Out().push_back(kBoolean << 3 | 0);
    Out().push_back(value ? 1 : 0);
    return *this;
}

SdpRecordWriter& SdpRecordWriter::BeginSequence() {
    m_open.emplace_back();
    return *this;
}

SdpRecordWriter& SdpRecordWriter::EndSequence() {
    if (m_open.empty())
        throw std::logic_error("SDP sequence closed that was not open");
    // The size header goes in front of the content, which is only now known.
    std::vector<std::uint8_t> content = std::move(m_open.back());
    m_open.pop_back();
    Header(kSequence, content.size());
    Out().insert(Out().end(), content.begin(), content.end());
    return *this;
}

std::vector<std::uint8_t> SdpRecordWriter::Bytes() const {
    if (!m_open.empty())
        throw std::logic_error("SDP sequence still open");
    return m_bytes;
}

std::vector<std::uint8_t> BuildServiceRecord(std::uint32_t handle,
                                             const std::vector<GUID>& classUuids,
                                             std::optional<std::uint8_t> rfcommChannel,
                                             std::string_view name, std::string_view comment,
                                             SdpTextEncoding textEncoding,
                                             const std::optional<SdpProfileDescriptor>& profile) {
    SdpRecordWriter w;
    w.BeginSequence();

    w.Attribute(kServiceRecordHandle).UInt32(handle);

    if (!classUuids.empty()) {
        w.Attribute(kServiceClassIDList).BeginSequence();
        for (const GUID& uuid : classUuids)
            w.Uuid(uuid);
        w.EndSequence();
    }

    w.Attribute(kProtocolDescriptorList).BeginSequence();
    w.BeginSequence().Uuid(L2CAPProtocolUUID).EndSequence();
    if (rfcommChannel)
        w.BeginSequence().Uuid(RFCOMMProtocolUUID).UInt8(*rfcommChannel).EndSequence();
    w.EndSequence();

    const std::uint16_t charset =
        textEncoding == SdpTextEncoding::Utf8 ? kCharsetUtf8 : kCharsetUtf16LE;
    w.Attribute(kLanguageBaseAttributeIDList)
        .BeginSequence()
        .UInt16(kLanguageEnglish)
        .UInt16(charset)
        .UInt16(kPrimaryLanguageBase)
        .EndSequence();

    if (profile) {
        w.Attribute(kBluetoothProfileDescriptorList).BeginSequence().BeginSequence();
        w.Uuid(profile->UUID).UInt16(profile->Version);
        w.EndSequence().EndSequence();
    }

    if (!name.empty())
        w.Attribute(kServiceName).Text(EncodeText(name, textEncoding));
    if (!comment.empty())
        w.Attribute(kServiceDescription).Text(EncodeText(comment, textEncoding));

    w.EndSequence();
    return w.Bytes();
}

}  // namespace kavri
