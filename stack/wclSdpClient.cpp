#include "stack/wclSdpClient.h"

#include "stack/wclExceptions.h"
#include "stack/wclSDPParser.h"

#include <cerrno>
#include <cstdint>

#include <poll.h>
#include <sys/socket.h>

namespace kavri {
namespace {

using Bytes = std::vector<std::uint8_t>;
using SteadyClock = std::chrono::steady_clock;

constexpr std::uint8_t kErrorResponse = 0x01;
constexpr std::uint8_t kServiceSearchAttributeRequest = 0x06;
constexpr std::uint8_t kServiceSearchAttributeResponse = 0x07;
// PDU id, transaction id and parameter length.
constexpr std::size_t kPduHeaderBytes = 5;
constexpr std::size_t kMaxPduBytes = kPduHeaderBytes + 0xFFFF;
constexpr std::size_t kMaxContinuationBytes = 16;
// The server answers in pieces of at most this many attribute-list bytes;
// it still splits them to fit its own link.
constexpr std::uint16_t kMaxAttributeByteCount = 0xFFFF;
// A sequence holding one 32-bit range: every attribute, 0x0000 to 0xFFFF.
constexpr std::uint8_t kAllAttributes[] = {0x35, 0x05, 0x0A, 0x00, 0x00, 0xFF, 0xFF};

std::uint16_t ReadU16(const std::uint8_t* bytes) noexcept {
    return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
}

void AppendU16(Bytes& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

Bytes SearchPattern(const std::optional<GUID>& serviceClass) {
    const GUID uuid = serviceClass.value_or(L2CAPProtocolUUID);
    if (IsBluetoothBasedGuid(uuid) && uuid.Data1 <= 0xFFFF) {
        Bytes pattern{0x35, 0x03, 0x19};
        AppendU16(pattern, static_cast<std::uint16_t>(uuid.Data1));
        return pattern;
    }
    Bytes pattern{0x35, 0x11, 0x1C};
    const GuidBytes bytes = GuidToBigEndianBytes(uuid);
    pattern.insert(pattern.end(), bytes.begin(), bytes.end());
    return pattern;
}

// continuation: the length byte and the state as the last response gave them.
Bytes BuildRequest(std::uint16_t transactionId, const Bytes& pattern, const Bytes& continuation) {
    Bytes pdu{kServiceSearchAttributeRequest};
    AppendU16(pdu, transactionId);
    const std::size_t parameterLength =
        pattern.size() + 2 + sizeof kAllAttributes + continuation.size();
    AppendU16(pdu, static_cast<std::uint16_t>(parameterLength));
    pdu.insert(pdu.end(), pattern.begin(), pattern.end());
    AppendU16(pdu, kMaxAttributeByteCount);
    pdu.insert(pdu.end(), std::begin(kAllAttributes), std::end(kAllAttributes));
    pdu.insert(pdu.end(), continuation.begin(), continuation.end());
    return pdu;
}

// Waits until fd is ready for events; throws once the deadline has passed.
void WaitReady(int fd, short events, SteadyClock::time_point deadline) {
    for (;;) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now());
        if (left.count() <= 0)
            throw wclEEnumServices();
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(left.count()));
        if (ready > 0) {
            // An error or hang-up is left for the read or write to report.
            return;
        }
        if (ready < 0 && errno != EINTR)
            throw wclEEnumServices();
    }
}

void SendAll(int fd, const Bytes& bytes, SteadyClock::time_point deadline) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        WaitReady(fd, POLLOUT, deadline);
        const ssize_t written =
            ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (written < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                continue;
            throw wclEEnumServices();
        }
        sent += static_cast<std::size_t>(written);
    }
}

// One whole PDU into buffer (kMaxPduBytes long); returns its length. A read
// asks for all the room left, so a packet socket (one PDU per packet) loses
// nothing; on a stream the pieces are put together here.
std::size_t ReceivePdu(int fd, Bytes& buffer, SteadyClock::time_point deadline) {
    std::size_t have = 0;
    for (;;) {
        if (have >= kPduHeaderBytes) {
            const std::size_t length = kPduHeaderBytes + ReadU16(buffer.data() + 3);
            if (have == length)
                return length;
            if (have > length)
                throw wclEEnumServices();  // more bytes than the PDU says it has
        }
        WaitReady(fd, POLLIN, deadline);
        const ssize_t got = ::recv(fd, buffer.data() + have, buffer.size() - have, MSG_DONTWAIT);
        if (got == 0)
            throw wclEEnumServices();
        if (got < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                continue;
            throw wclEEnumServices();
        }
        have += static_cast<std::size_t>(got);
    }
}

struct SequenceHeader {
    std::size_t headerLength;
    std::uint64_t contentLength;
};

// The header of a data-element sequence at pos, with a 1-, 2- or 4-byte size;
// nothing for another element or a header cut short.
std::optional<SequenceHeader> ReadSequenceHeader(const Bytes& bytes, std::size_t pos) {
    if (pos >= bytes.size())
        return std::nullopt;
    std::size_t sizeBytes = 0;
    switch (bytes[pos]) {
        case 0x35:
            sizeBytes = 1;
            break;
        case 0x36:
            sizeBytes = 2;
            break;
        case 0x37:
            sizeBytes = 4;
            break;
        default:
            return std::nullopt;
    }
    if (bytes.size() - pos - 1 < sizeBytes)
        return std::nullopt;
    std::uint64_t length = 0;
    for (std::size_t i = 0; i < sizeBytes; ++i)
        length = length << 8 | bytes[pos + 1 + i];
    return SequenceHeader{1 + sizeBytes, length};
}

// The attribute lists are one sequence of record sequences. Each record goes
// to the parser on its own, without its sequence header: the parser's
// top-level scan would misread a 4-byte size header, and a record cut short
// cannot then spill its attributes into the next one.
std::vector<SdpServiceInfo> ServicesFromAttributeLists(const Bytes& lists) {
    std::vector<SdpServiceInfo> services;
    if (lists.empty())
        return services;  // nothing matched, said without a sequence
    const std::optional<SequenceHeader> outer = ReadSequenceHeader(lists, 0);
    if (!outer || outer->headerLength + outer->contentLength != lists.size())
        throw wclEEnumServices();
    std::size_t pos = outer->headerLength;
    while (pos < lists.size()) {
        const std::optional<SequenceHeader> record = ReadSequenceHeader(lists, pos);
        if (!record || record->contentLength > lists.size() - pos - record->headerLength)
            break;
        const std::size_t contentLength = static_cast<std::size_t>(record->contentLength);
        const TwclSDPParser parser(lists.data() + pos + record->headerLength, contentLength);
        for (const TwclSDPServiceRecord& parsed : parser.Records()) {
            try {
                if (std::optional<SdpServiceInfo> service = ReadServiceFromRecord(parsed))
                    services.push_back(std::move(*service));
            } catch (const wclEInvalidChannelNumber&) {
                // A channel no RFCOMM link can reach: the service is left out.
            }
        }
        pos += record->headerLength + contentLength;
    }
    return services;
}

}  // namespace

std::vector<SdpServiceInfo> SdpQueryServices(int fd, const std::optional<GUID>& serviceClass,
                                             const SdpClientLimits& limits) {
    if (fd < 0)
        throw wclEEnumServices();
    const SteadyClock::time_point deadline = SteadyClock::now() + limits.timeout;
    const Bytes pattern = SearchPattern(serviceClass);
    Bytes buffer(kMaxPduBytes);
    Bytes lists;
    Bytes continuation{0x00};
    for (int round = 0;; ++round) {
        if (round >= limits.maxRounds)
            throw wclEEnumServices();
        // A fresh transaction id for every request, so a late answer to an
        // earlier one is told apart.
        const auto transactionId = static_cast<std::uint16_t>(round + 1);
        SendAll(fd, BuildRequest(transactionId, pattern, continuation), deadline);
        const std::size_t length = ReceivePdu(fd, buffer, deadline);
        if (ReadU16(buffer.data() + 1) != transactionId)
            throw wclEEnumServices();
        if (buffer[0] == kErrorResponse)
            throw wclEEnumServices();  // the server refused the request
        if (buffer[0] != kServiceSearchAttributeResponse)
            throw wclEEnumServices();
        // Attribute-list byte count, the lists, the continuation length and
        // state: every length must agree with the parameter length exactly.
        const std::uint8_t* parameters = buffer.data() + kPduHeaderBytes;
        const std::size_t parameterLength = length - kPduHeaderBytes;
        if (parameterLength < 3)
            throw wclEEnumServices();
        const std::size_t count = ReadU16(parameters);
        if (count > parameterLength - 3)
            throw wclEEnumServices();
        const std::size_t stateLength = parameters[2 + count];
        if (stateLength > kMaxContinuationBytes || 3 + count + stateLength != parameterLength)
            throw wclEEnumServices();
        if (count > limits.maxResponseBytes - lists.size())
            throw wclEEnumServices();
        lists.insert(lists.end(), parameters + 2, parameters + 2 + count);
        if (stateLength == 0)
            break;
        continuation.assign(parameters + 2 + count, parameters + parameterLength);
    }
    return ServicesFromAttributeLists(lists);
}

}  // namespace kavri
