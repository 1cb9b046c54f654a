#include "sim/VirtualSdpServers.h"

#include "sim/ScenarioParser.h"
#include "sim/SdpRecordWriter.h"
#include "stack/wclSDPParser.h"
#include "stack/wclSDPService.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <string_view>
#include <system_error>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kavri::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kErrorResponse = 0x01;
constexpr std::uint8_t kServiceSearchAttributeRequest = 0x06;
constexpr std::uint8_t kServiceSearchAttributeResponse = 0x07;
constexpr std::uint16_t kErrorInvalidSyntax = 0x0003;
constexpr std::uint16_t kErrorInvalidPduSize = 0x0004;
constexpr std::uint16_t kErrorInvalidContinuation = 0x0005;
constexpr std::size_t kPduHeaderBytes = 5;
constexpr std::size_t kMaxRequestBytes = 1024;
constexpr std::size_t kMaxConnectionsPerDevice = 32;
// The protocol's smallest maximum attribute byte count, and the most UUIDs a
// search pattern may hold.
constexpr std::uint16_t kMinAttributeByteCount = 7;
constexpr std::size_t kMaxPatternUuids = 12;
// A device answers in pieces that fit its link's default packet size (672
// bytes), whatever larger count the client allows; so a long answer always
// travels with continuation states, as it does from a real device.
constexpr std::size_t kLinkPieceBytes = 600;
constexpr std::uint32_t kFirstRecordHandle = 0x00010000;

std::uint16_t ReadU16(const std::uint8_t* bytes) noexcept {
    return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
}

void AppendU16(Bytes& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

void AppendU32(Bytes& out, std::uint32_t value) {
    AppendU16(out, static_cast<std::uint16_t>(value >> 16));
    AppendU16(out, static_cast<std::uint16_t>(value));
}

std::string NormalisedAddress(std::string_view address) {
    std::string key;
    for (const char c : address) {
        if (c != '(' && c != ')')
            key += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return key;
}

// A sequence of content, with the shortest size header that fits.
Bytes Sequence(const Bytes& content) {
    Bytes out;
    if (content.size() <= 0xFF) {
        out = {0x35, static_cast<std::uint8_t>(content.size())};
    } else if (content.size() <= 0xFFFF) {
        out = {0x36};
        AppendU16(out, static_cast<std::uint16_t>(content.size()));
    } else {
        out = {0x37};
        AppendU32(out, static_cast<std::uint32_t>(content.size()));
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

// The whole length (header and data) of the element at pos, or nothing when
// it does not fit in bytes.
std::optional<std::size_t> ElementLength(const Bytes& bytes, std::size_t pos) {
    if (pos >= bytes.size())
        return std::nullopt;
    const std::uint8_t descriptor = bytes[pos];
    const unsigned sizeIndex = descriptor & 0x07;
    std::size_t length = 0;
    if (descriptor >> 3 == 0) {
        length = 1;  // nil has no data
    } else if (sizeIndex <= 4) {
        length = 1 + (std::size_t{1} << sizeIndex);
    } else {
        const std::size_t sizeBytes = std::size_t{1} << (sizeIndex - 5);
        if (bytes.size() - pos - 1 < sizeBytes)
            return std::nullopt;
        std::size_t dataSize = 0;
        for (std::size_t i = 0; i < sizeBytes; ++i)
            dataSize = dataSize << 8 | bytes[pos + 1 + i];
        length = 1 + sizeBytes + dataSize;
    }
    if (length > bytes.size() - pos)
        return std::nullopt;
    return length;
}

std::vector<GUID> RecordUuids(const Bytes& record) {
    std::vector<GUID> uuids;
    const TwclSDPParser parser(record.data(), record.size());
    for (const TwclSDPServiceRecord& parsed : parser.Records()) {
        for (const TwclSDPAttribute& attribute : parsed.Attributes()) {
            for (const TwclSDPElement& element : attribute.Elements()) {
                if (element.ElementType() == static_cast<std::uint8_t>(SdpElementType::Uuid))
                    uuids.push_back(SdpUuidToGuid(element));
            }
        }
    }
    return uuids;
}

bool InRanges(std::uint16_t id, const std::vector<std::uint32_t>& ranges) {
    return std::any_of(ranges.begin(), ranges.end(), [id](std::uint32_t range) {
        return id >= range >> 16 && id <= (range & 0xFFFF);
    });
}

// The record with only the attributes in ranges; empty when none is. The
// records come from the writer, so a walk that goes wrong keeps it whole.
Bytes FilterRecord(const Bytes& record, const std::vector<std::uint32_t>& ranges) {
    if (record.size() < 2 || (record[0] != 0x35 && record[0] != 0x36))
        return record;
    std::size_t pos = record[0] == 0x35 ? 2 : 3;
    Bytes kept;
    while (pos < record.size()) {
        if (record[pos] != 0x09 || record.size() - pos < 3)
            return record;
        const std::uint16_t id = ReadU16(record.data() + pos + 1);
        const std::optional<std::size_t> valueLength = ElementLength(record, pos + 3);
        if (!valueLength)
            return record;
        const std::size_t end = pos + 3 + *valueLength;
        if (InRanges(id, ranges))
            kept.insert(kept.end(), record.begin() + static_cast<std::ptrdiff_t>(pos),
                        record.begin() + static_cast<std::ptrdiff_t>(end));
        pos = end;
    }
    return kept.empty() ? Bytes{} : Sequence(kept);
}

struct Request {
    std::vector<GUID> pattern;
    std::uint16_t maxAttributeBytes = 0;
    std::vector<std::uint32_t> ranges;  // first id in the upper half, last in the lower
    Bytes continuation;                 // without its length byte
};

// Reads bytes from a parameter block, never past its end.
class Reader {
public:
    Reader(const std::uint8_t* bytes, std::size_t length) : m_bytes(bytes), m_length(length) {}
    std::size_t Left() const { return m_length - m_pos; }
    bool Take(std::size_t count, const std::uint8_t*& out) {
        if (count > Left())
            return false;
        out = m_bytes + m_pos;
        m_pos += count;
        return true;
    }
    // The content length of a sequence with a 1- or 2-byte size.
    bool Sequence(std::size_t& length) {
        const std::uint8_t* p = nullptr;
        if (!Take(1, p))
            return false;
        const std::size_t sizeBytes = *p == 0x35 ? 1 : *p == 0x36 ? 2 : 0;
        if (sizeBytes == 0 || !Take(sizeBytes, p))
            return false;
        length = sizeBytes == 1 ? *p : ReadU16(p);
        return length <= Left();
    }

private:
    const std::uint8_t* m_bytes;
    std::size_t m_length;
    std::size_t m_pos = 0;
};

std::optional<Request> ParseRequest(const std::uint8_t* parameters, std::size_t length) {
    Request request;
    Reader reader(parameters, length);
    std::size_t patternLength = 0;
    if (!reader.Sequence(patternLength))
        return std::nullopt;
    const std::size_t patternEnd = reader.Left() - patternLength;
    while (reader.Left() > patternEnd) {
        const std::uint8_t* p = nullptr;
        if (!reader.Take(1, p))
            return std::nullopt;
        const std::size_t size = *p == 0x19 ? 2 : *p == 0x1A ? 4 : *p == 0x1C ? 16 : 0;
        if (size == 0 || reader.Left() - patternEnd < size || !reader.Take(size, p))
            return std::nullopt;
        request.pattern.push_back(SdpUuidToGuid(
            TwclSDPElement(static_cast<std::uint8_t>(SdpElementType::Uuid), Bytes(p, p + size))));
        if (request.pattern.size() > kMaxPatternUuids)
            return std::nullopt;
    }
    const std::uint8_t* p = nullptr;
    if (request.pattern.empty() || !reader.Take(2, p))
        return std::nullopt;
    request.maxAttributeBytes = ReadU16(p);
    std::size_t idsLength = 0;
    if (!reader.Sequence(idsLength))
        return std::nullopt;
    const std::size_t idsEnd = reader.Left() - idsLength;
    while (reader.Left() > idsEnd) {
        if (!reader.Take(1, p))
            return std::nullopt;
        const std::uint8_t descriptor = *p;
        const std::size_t size = descriptor == 0x09 ? 2 : descriptor == 0x0A ? 4 : 0;
        if (size == 0 || reader.Left() - idsEnd < size || !reader.Take(size, p))
            return std::nullopt;
        const std::uint16_t first = ReadU16(p);
        const std::uint16_t last = size == 2 ? first : ReadU16(p + 2);
        request.ranges.push_back(std::uint32_t{first} << 16 | last);
    }
    if (request.ranges.empty() || !reader.Take(1, p) || *p > 16 || reader.Left() != *p)
        return std::nullopt;
    const std::size_t stateLength = *p;
    if (stateLength > 0 && reader.Take(stateLength, p))
        request.continuation.assign(p, p + stateLength);
    return request;
}

Bytes ErrorPdu(std::uint16_t transactionId, std::uint16_t code) {
    Bytes pdu{kErrorResponse};
    AppendU16(pdu, transactionId);
    AppendU16(pdu, 2);
    AppendU16(pdu, code);
    return pdu;
}

bool SendWhole(int fd, const Bytes& bytes) {
    const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    return sent == static_cast<ssize_t>(bytes.size());
}

}  // namespace

std::vector<std::vector<std::uint8_t>> DeviceServiceRecords(const DeviceSpec& device) {
    std::vector<std::vector<std::uint8_t>> records;
    records.reserve(device.services.size());
    for (std::size_t i = 0; i < device.services.size(); ++i) {
        const ServiceSpec& service = device.services[i];
        records.push_back(BuildServiceRecord(
            kFirstRecordHandle + static_cast<std::uint32_t>(i), ServiceClassUuids(service),
            service.channel != 0 ? std::optional<std::uint8_t>(service.channel) : std::nullopt,
            service.name, service.comment,
            service.utf16Texts ? SdpTextEncoding::Utf16LE : SdpTextEncoding::Utf8));
    }
    return records;
}

VirtualSdpServers::VirtualSdpServers(const Scenario& scenario) {
    for (const DeviceSpec& spec : scenario.devices) {
        Device device;
        for (Bytes& bytes : DeviceServiceRecords(spec)) {
            std::vector<GUID> uuids = RecordUuids(bytes);
            device.records.push_back(Record{std::move(bytes), std::move(uuids)});
        }
        m_devices.emplace(NormalisedAddress(spec.address), std::move(device));
    }
    m_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_wakeFd < 0)
        throw std::system_error(errno, std::generic_category(), "SDP server wake event");
    m_thread = std::thread([this] { Run(); });
}

VirtualSdpServers::~VirtualSdpServers() {
    m_stopping.store(true);
    Wake();
    m_thread.join();
    for (const auto& entry : m_devices) {
        if (entry.second.listenFd >= 0)
            ::close(entry.second.listenFd);
    }
    ::close(m_wakeFd);
}

std::optional<std::string> VirtualSdpServers::Endpoint(const std::string& address) {
    std::uint16_t port = 0;
    {
        std::lock_guard lock(m_mutex);
        const auto found = m_devices.find(NormalisedAddress(address));
        if (found == m_devices.end())
            return std::nullopt;
        Device& device = found->second;
        if (device.listenFd < 0) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            if (fd < 0)
                throw std::system_error(errno, std::generic_category(), "SDP server socket");
            sockaddr_in local{};
            local.sin_family = AF_INET;
            local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            socklen_t size = sizeof local;
            if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
                ::listen(fd, 16) != 0 ||
                ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size) != 0) {
                const int error = errno;
                ::close(fd);
                throw std::system_error(error, std::generic_category(), "SDP server listen");
            }
            device.listenFd = fd;
            device.port = ntohs(local.sin_port);
        }
        port = device.port;
    }
    // The server thread adds the new listener to its poll set.
    Wake();
    return "127.0.0.1:" + std::to_string(port);
}

void VirtualSdpServers::SetRawRecords(const std::string& address,
                                      std::vector<std::uint8_t> records) {
    std::lock_guard lock(m_mutex);
    const auto found = m_devices.find(NormalisedAddress(address));
    if (found != m_devices.end())
        found->second.rawRecords = std::move(records);
}

void VirtualSdpServers::SetSilent(const std::string& address, bool silent) {
    std::lock_guard lock(m_mutex);
    const auto found = m_devices.find(NormalisedAddress(address));
    if (found != m_devices.end())
        found->second.silent = silent;
}

void VirtualSdpServers::Wake() {
    const std::uint64_t one = 1;
    // A full counter already wakes the thread, so a failed write loses nothing.
    [[maybe_unused]] const ssize_t written = ::write(m_wakeFd, &one, sizeof one);
}

void VirtualSdpServers::Run() {
    std::vector<std::pair<int, std::string>> listeners;
    std::vector<pollfd> polled;
    while (!m_stopping.load()) {
        listeners.clear();
        {
            std::lock_guard lock(m_mutex);
            for (const auto& [key, device] : m_devices) {
                if (device.listenFd >= 0)
                    listeners.emplace_back(device.listenFd, key);
            }
        }
        polled.assign(1, pollfd{m_wakeFd, POLLIN, 0});
        for (const auto& listener : listeners)
            polled.push_back(pollfd{listener.first, POLLIN, 0});
        for (const Connection& connection : m_connections)
            polled.push_back(pollfd{connection.fd, POLLIN, 0});
        if (::poll(polled.data(), polled.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (polled[0].revents != 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t got = ::read(m_wakeFd, &count, sizeof count);
        }
        const std::size_t firstConnection = 1 + listeners.size();
        for (std::size_t i = 0; i + firstConnection < polled.size(); ++i) {
            Connection& connection = m_connections[i];
            if (polled[firstConnection + i].revents != 0 && !Serve(connection)) {
                ::close(connection.fd);
                connection.fd = -1;
            }
        }
        std::erase_if(m_connections, [](const Connection& c) { return c.fd < 0; });
        for (std::size_t i = 0; i < listeners.size(); ++i) {
            if (polled[1 + i].revents != 0)
                Accept(listeners[i].first, listeners[i].second);
        }
    }
    for (const Connection& connection : m_connections)
        ::close(connection.fd);
    m_connections.clear();
}

void VirtualSdpServers::Accept(int listenFd, const std::string& device) {
    const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0)
        return;
    const auto open = std::count_if(m_connections.begin(), m_connections.end(),
                                    [&](const Connection& c) { return c.device == device; });
    if (static_cast<std::size_t>(open) >= kMaxConnectionsPerDevice) {
        ::close(fd);
        return;
    }
    Connection connection;
    connection.fd = fd;
    connection.device = device;
    m_connections.push_back(std::move(connection));
}

bool VirtualSdpServers::Serve(Connection& connection) {
    std::uint8_t chunk[kMaxRequestBytes];
    const ssize_t got = ::recv(connection.fd, chunk, sizeof chunk, MSG_DONTWAIT);
    if (got == 0)
        return false;
    if (got < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    connection.input.insert(connection.input.end(), chunk, chunk + got);
    // Whole requests are answered in order; what is left is shorter than one
    // request, so the buffer never grows past the request bound.
    while (connection.input.size() >= kPduHeaderBytes) {
        const std::size_t length = kPduHeaderBytes + ReadU16(connection.input.data() + 3);
        if (length > kMaxRequestBytes) {
            SendWhole(connection.fd,
                      ErrorPdu(ReadU16(connection.input.data() + 1), kErrorInvalidPduSize));
            return false;
        }
        if (connection.input.size() < length)
            break;
        const Bytes answer = Answer(connection, connection.input.data(), length);
        connection.input.erase(connection.input.begin(),
                               connection.input.begin() + static_cast<std::ptrdiff_t>(length));
        // A client that does not read its answers is dropped, not buffered.
        if (!answer.empty() && !SendWhole(connection.fd, answer))
            return false;
    }
    return true;
}

std::vector<std::uint8_t> VirtualSdpServers::Answer(Connection& connection, const std::uint8_t* pdu,
                                                    std::size_t length) {
    {
        std::lock_guard lock(m_mutex);
        const auto found = m_devices.find(connection.device);
        if (found == m_devices.end() || found->second.silent)
            return {};
    }
    const std::uint16_t transactionId = ReadU16(pdu + 1);
    if (pdu[0] != kServiceSearchAttributeRequest)
        return ErrorPdu(transactionId, kErrorInvalidSyntax);
    const std::optional<Request> request =
        ParseRequest(pdu + kPduHeaderBytes, length - kPduHeaderBytes);
    if (!request || request->maxAttributeBytes < kMinAttributeByteCount)
        return ErrorPdu(transactionId, kErrorInvalidSyntax);
    if (request->continuation.empty()) {
        connection.pending = AttributeLists(connection.device, request->pattern, request->ranges);
        connection.offset = 0;
    } else {
        // The state is the offset this server handed out last, 4 bytes.
        Bytes expected;
        AppendU32(expected, static_cast<std::uint32_t>(connection.offset));
        if (connection.pending.empty() || request->continuation != expected)
            return ErrorPdu(transactionId, kErrorInvalidContinuation);
    }
    const std::size_t piece = std::min({std::size_t{request->maxAttributeBytes}, kLinkPieceBytes,
                                        connection.pending.size() - connection.offset});
    Bytes state;
    if (connection.offset + piece < connection.pending.size())
        AppendU32(state, static_cast<std::uint32_t>(connection.offset + piece));
    Bytes response{kServiceSearchAttributeResponse};
    AppendU16(response, transactionId);
    AppendU16(response, static_cast<std::uint16_t>(2 + piece + 1 + state.size()));
    AppendU16(response, static_cast<std::uint16_t>(piece));
    const auto begin = connection.pending.begin() + static_cast<std::ptrdiff_t>(connection.offset);
    response.insert(response.end(), begin, begin + static_cast<std::ptrdiff_t>(piece));
    response.push_back(static_cast<std::uint8_t>(state.size()));
    response.insert(response.end(), state.begin(), state.end());
    connection.offset += piece;
    if (state.empty()) {
        connection.pending.clear();
        connection.offset = 0;
    }
    return response;
}

std::vector<std::uint8_t> VirtualSdpServers::AttributeLists(
    const std::string& device, const std::vector<GUID>& pattern,
    const std::vector<std::uint32_t>& ranges) {
    std::lock_guard lock(m_mutex);
    const auto found = m_devices.find(device);
    if (found == m_devices.end())
        return Sequence({});
    if (found->second.rawRecords)
        return Sequence(*found->second.rawRecords);
    Bytes lists;
    for (const Record& record : found->second.records) {
        // A record matches when it holds every UUID of the pattern somewhere.
        const bool matches = std::all_of(pattern.begin(), pattern.end(), [&](const GUID& uuid) {
            return std::find(record.uuids.begin(), record.uuids.end(), uuid) != record.uuids.end();
        });
        if (!matches)
            continue;
        const Bytes filtered = FilterRecord(record.bytes, ranges);
        lists.insert(lists.end(), filtered.begin(), filtered.end());
    }
    return Sequence(lists);
}

}  // namespace kavri::sim
