// SDP service records as a device answers a service search: the parser and
// the reading of one service from each record.
#include "FuzzCheck.h"

#include "stack/wclExceptions.h"
#include "stack/wclSDPParser.h"
#include "stack/wclSDPService.h"

#include <cstddef>
#include <cstdint>
#include <optional>

using namespace kavri;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const TwclSDPParser parser(data, size);
    // Leaf elements hold bytes that stand in the record, each byte at most
    // once, so together they can never hold more than the record.
    std::size_t dataBytes = 0;
    for (const TwclSDPServiceRecord& record : parser.Records()) {
        for (const TwclSDPAttribute& attribute : record.Attributes()) {
            fuzz::Check(record.FindAttribute(attribute.ID()) != nullptr,
                        "every attribute of a record is found by its identifier");
            for (const TwclSDPElement& element : attribute.Elements()) {
                dataBytes += element.Size();
                const std::uint32_t value = element.AsUInt32();
                fuzz::Check(element.Size() < 4 || (value >> 24) == element.AsUInt8(),
                            "the first data byte is the top byte of the 32-bit value");
                SdpUuidToGuid(element);
                SdpUuidClassValue(element);
            }
        }
        try {
            const std::optional<SdpServiceInfo> service = ReadServiceFromRecord(record);
            fuzz::Check(!service || service->Channel < 32, "a service's channel is below 32");
        } catch (const wclEInvalidChannelNumber&) {
            // A channel of 32 or more: the record is refused, as documented.
        }
    }
    fuzz::Check(dataBytes <= size, "elements hold no more bytes than the records");
    return 0;
}
