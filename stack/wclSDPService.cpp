#include "stack/wclSDPService.h"

#include "platform/Text.h"
#include "stack/wclExceptions.h"

#include <string_view>

namespace kavri {
namespace {

constexpr std::uint16_t kSerialPortClass = 0x1101;
constexpr std::uint8_t kMaxChannel = 31;

const TwclSDPAttribute* NonEmpty(const TwclSDPAttribute* attribute) noexcept {
    return attribute != nullptr && attribute->Elements().Count() > 0 ? attribute : nullptr;
}

bool TextIsUtf16(const TwclSDPServiceRecord& record) noexcept {
    const TwclSDPAttribute* language = record.FindAttribute(kSdpLanguageBaseAttributeIDList);
    // Elements: language code, character-set identifier, attribute base.
    return language != nullptr && language->Elements().Count() > 1 &&
           language->Elements().Items(1).AsUInt16() != kSdpCharsetUtf8;
}

std::string DecodeText(const std::vector<std::uint8_t>& data, bool utf16) {
    if (utf16) {
        std::u16string units;
        units.reserve(data.size() / 2);
        // An odd last byte belongs to no code unit and is dropped.
        for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
            const auto unit = static_cast<char16_t>(data[i] | data[i + 1] << 8);
            if (unit == 0)
                break;
            units += unit;
        }
        return Utf16ToUtf8(units);
    }
    std::string_view bytes(reinterpret_cast<const char*>(data.data()), data.size());
    bytes = bytes.substr(0, bytes.find('\0'));
    if (IsValidUtf8(bytes))
        return std::string(bytes);
    return Utf16ToUtf8(Utf8ToUtf16(bytes));
}

std::string ReadText(const TwclSDPServiceRecord& record, std::uint16_t id, bool utf16) {
    const TwclSDPAttribute* attribute = NonEmpty(record.FindAttribute(id));
    if (attribute == nullptr)
        return {};
    return DecodeText(attribute->Elements().Items(0).Data(), utf16);
}

}  // namespace

std::uint16_t SdpUuidClassValue(const TwclSDPElement& element) noexcept {
    switch (element.Size()) {
        case 2:
            return element.AsUInt16();
        case 4:
            return static_cast<std::uint16_t>(element.AsUInt32());
        case 16:
            return static_cast<std::uint16_t>(element.Data()[2] << 8 | element.Data()[3]);
        default:
            return 0;
    }
}

GUID SdpUuidToGuid(const TwclSDPElement& element) noexcept {
    GUID uuid = BaseUUID;
    switch (element.Size()) {
        case 2:
            uuid.Data1 = element.AsUInt16();
            break;
        case 4:
            uuid.Data1 = element.AsUInt32();
            break;
        case 16: {
            GuidBytes bytes{};
            for (std::size_t i = 0; i < bytes.size(); ++i)
                bytes[i] = element.Data()[i];
            uuid = GuidFromBigEndianBytes(bytes);
            break;
        }
        default:
            break;
    }
    return uuid;
}

std::optional<SdpServiceInfo> ReadServiceFromRecord(const TwclSDPServiceRecord& record) {
    // The profile descriptor list names the profile more precisely than the
    // class list; when it is present but empty there is no fallback.
    const TwclSDPAttribute* profiles = record.FindAttribute(kSdpBluetoothProfileDescriptorList);
    const TwclSDPAttribute* classes =
        profiles != nullptr ? profiles : record.FindAttribute(kSdpServiceClassIDList);
    if (NonEmpty(classes) == nullptr)
        return std::nullopt;

    const TwclSDPAttributeElements& classElements = classes->Elements();
    // From the profile list [[profile UUID, version], ...] element 0, the
    // first profile.
    const TwclSDPElement* classElement = &classElements.Items(0);
    if (classes != profiles) {
        // Serial Port is listed beside the class that tells what the service
        // really is; it is chosen only when nothing else is listed.
        for (const TwclSDPElement& element : classElements) {
            if (SdpUuidClassValue(element) != kSerialPortClass) {
                classElement = &element;
                break;
            }
        }
    }

    SdpServiceInfo info;
    info.UUID = SdpUuidToGuid(*classElement);

    // In the usual list [L2CAP UUID, RFCOMM UUID, channel] element 2 is the
    // RFCOMM server channel.
    const TwclSDPAttribute* protocols = record.FindAttribute(kSdpProtocolDescriptorList);
    if (protocols != nullptr && protocols->Elements().Count() > 2) {
        const std::uint8_t channel = protocols->Elements().Items(2).AsUInt8();
        if (channel > kMaxChannel)
            throw wclEInvalidChannelNumber();
        info.Channel = channel;
    }

    // The texts are read at the primary language base 0x0100; the base that
    // 0x0006 states is not consulted.
    const bool utf16 = TextIsUtf16(record);
    info.Name = ReadText(record, kSdpServiceName, utf16);
    info.Comment = ReadText(record, kSdpServiceDescription, utf16);
    return info;
}

}  // namespace kavri
