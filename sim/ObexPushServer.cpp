#include "sim/ObexPushServer.h"

#include "platform/Text.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <stdexcept>
#include <system_error>
#include <utility>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kavri::sim {
namespace {

constexpr std::uint8_t kOpConnect = 0x80;
constexpr std::uint8_t kOpDisconnect = 0x81;
constexpr std::uint8_t kOpPut = 0x02;
constexpr std::uint8_t kOpPutFinal = 0x82;
constexpr std::uint8_t kOpGet = 0x03;
constexpr std::uint8_t kOpGetFinal = 0x83;
constexpr std::uint8_t kOpAbort = 0xFF;

constexpr std::uint8_t kHeaderName = 0x01;
constexpr std::uint8_t kHeaderLength = 0xC3;
constexpr std::uint8_t kHeaderBody = 0x48;
constexpr std::uint8_t kHeaderEndOfBody = 0x49;
constexpr std::uint8_t kHeaderConnectionId = 0xCB;

constexpr std::uint8_t kObexVersion = 0x10;

// One read takes at most this much; with packets of at most 64 KiB the input
// buffer never holds more than two reads.
constexpr std::size_t kReadChunk = 64 * 1024;
// A client that sends requests without reading the answers is cut off rather
// than buffered without end.
constexpr std::size_t kMaxPendingOutput = 1024 * 1024;
constexpr std::size_t kMaxDelayedResponses = 64;
constexpr int kMaxAcceptsPerWake = 32;
constexpr int kMaxNameAttempts = 10000;
constexpr std::size_t kMaxKeptExtensionBytes = 16;

struct Header {
    std::uint8_t id = 0;
    const std::uint8_t* data = nullptr;  // the value, without identifier and length
    std::size_t size = 0;
};

std::uint16_t ReadBe16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

std::uint32_t ReadBe32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           std::uint32_t{p[3]};
}

// Splits the headers of a packet from offset on. The two high bits of an
// identifier give its encoding: 0x00 and 0x40 carry a two-byte length that
// counts identifier and length too, 0x80 one byte, 0xC0 four bytes. Every
// length is checked against the packet, so nothing is read outside it; false
// for a packet whose headers do not fit it exactly.
bool SplitHeaders(const std::uint8_t* packet, std::size_t length, std::size_t offset,
                  std::vector<Header>& headers) {
    headers.clear();
    std::size_t pos = offset;
    while (pos < length) {
        const std::uint8_t id = packet[pos];
        const std::size_t left = length - pos;
        std::size_t total = 0;
        std::size_t valueOffset = 1;
        switch (id & 0xC0) {
            case 0x00:
            case 0x40:
                if (left < 3)
                    return false;
                total = ReadBe16(packet + pos + 1);
                valueOffset = 3;
                if (total < 3)
                    return false;
                break;
            case 0x80:
                total = 2;
                break;
            default:
                total = 5;
                break;
        }
        if (total > left)
            return false;
        headers.push_back(Header{id, packet + pos + valueOffset, total - valueOffset});
        pos += total;
    }
    return true;
}

std::string Response(std::uint8_t code) {
    return std::string{static_cast<char>(code), 0, 3};
}

void AppendBe16(std::string& out, std::uint16_t value) {
    out += static_cast<char>(value >> 8);
    out += static_cast<char>(value & 0xFF);
}

void AppendBe32(std::string& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out += static_cast<char>((value >> shift) & 0xFF);
}

bool IsRefusal(std::uint8_t code) {
    return (code & 0x80) != 0 && !(code >= 0x90 && code <= 0xAF);
}

// Characters that never reach a stored file name: controls (C0, DEL, C1),
// path separators, characters other file systems refuse, and the
// bidirectional formatting marks that make "gpj.exe" look like "exe.jpg".
bool IsUnsafeNameChar(char16_t c) {
    if (c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F))
        return true;
    switch (c) {
        case u'/':
        case u'\\':
        case u'<':
        case u'>':
        case u':':
        case u'"':
        case u'|':
        case u'?':
        case u'*':
        case 0x200E:
        case 0x200F:
        case 0xFEFF:
            return true;
        default:
            return (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
    }
}

bool IsTrimmed(char c) {
    return c == '.' || c == ' ';
}

std::string_view TrimDotsAndSpaces(std::string_view text) {
    while (!text.empty() && IsTrimmed(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsTrimmed(text.back()))
        text.remove_suffix(1);
    return text;
}

// "name.ext" -> ("name", ".ext"); no extension when the only dot leads.
std::pair<std::string, std::string> SplitExtension(const std::string& fileName) {
    const auto dot = fileName.rfind('.');
    if (dot == std::string::npos || dot == 0)
        return {fileName, ""};
    return {fileName.substr(0, dot), fileName.substr(dot)};
}

// A rate-limited link reads in bursts of at most a tenth of a second's worth
// and resumes once a hundredth of a second's worth has built up, so a slow
// link reads in steps rather than byte by byte. Rates are capped where the
// arithmetic in thousandths of a byte still fits.
constexpr std::uint64_t kMaxLinkRate = 1'000'000'000'000;

std::uint64_t BucketMilli(std::uint64_t rate) {
    return std::max<std::uint64_t>(1, rate / 10) * 1000;
}

// Abortive close: the client sees a reset instead of an orderly end, as a
// link the device would not take.
void ResetAndClose(int fd) {
    linger hard{};
    hard.l_onoff = 1;
    hard.l_linger = 0;
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    ::close(fd);
}

}  // namespace

struct ObexPushServer::IncomingObject {
    std::string name;  // UTF-8, as the client named it
    bool hasName = false;
    bool hasBody = false;
    std::uint64_t size = 0;
    int tempFd = -1;
    std::filesystem::path tempPath;
};

struct ObexPushServer::Link {
    std::uint64_t id = 0;
    int fd = -1;
    bool closed = false;
    EventLoop::WatchId watch = 0;
    unsigned watchedEvents = 0;

    std::vector<std::uint8_t> input;  // received, not yet handled from inputStart
    std::size_t inputStart = 0;
    std::uint64_t received = 0;
    bool readingStopped = false;  // after a fatal fault: answer, then close

    std::string output;  // written from outputStart
    std::size_t outputStart = 0;
    bool closeWhenFlushed = false;

    bool obexConnected = false;
    std::optional<IncomingObject> object;

    // Responses waiting for the device's answer delay, oldest first, each with
    // its timer.
    std::deque<std::pair<std::string, bool>> delayed;
    std::deque<EventLoop::TimerId> delayTimers;

    // Link rate: a bucket of read allowance in thousandths of a byte.
    std::uint64_t allowanceMilli = 0;
    Clock::TimePoint lastRefill{};
    bool ratePaused = false;
    EventLoop::TimerId resumeTimer = 0;
};

ObexPushServer::ObexPushServer(EventLoop& loop, const DeviceSpec& device,
                               std::filesystem::path inbox)
    : ObexPushServer(loop, device, std::move(inbox), Options{}) {}

ObexPushServer::ObexPushServer(EventLoop& loop, const DeviceSpec& device,
                               std::filesystem::path inbox, Options options)
    : m_loop(loop),
      m_device(device),
      m_inbox(std::move(inbox)),
      m_options(options),
      m_rate(std::min(device.linkRateBytesPerSecond, kMaxLinkRate)) {
    if (m_options.maxPacketLength < 255)
        throw std::invalid_argument("OBEX maximum packet length below 255");
    if (m_options.maxLinks == 0)
        throw std::invalid_argument("an Object Push server needs room for one link");
    if (m_device.behaviour == PushBehaviour::RefuseObject && !IsRefusal(m_device.refuseCode))
        throw std::invalid_argument("refuse code is not a final refusal");
    // An external endpoint stands in for this server, and a device without
    // Object Push has nothing listening: the connection layer sees both.
    if (m_device.behaviour == PushBehaviour::NoObjectPush || m_device.externalEndpoint)
        return;

    std::filesystem::create_directories(m_inbox);

    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_listenFd < 0)
        throw std::system_error(errno, std::generic_category(), "OBEX server socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(m_options.port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (::bind(m_listenFd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_listenFd, 16) != 0 ||
        ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        const int error = errno;
        ::close(m_listenFd);
        m_listenFd = -1;
        throw std::system_error(error, std::generic_category(), "OBEX server listen");
    }
    m_port = ntohs(address.sin_port);
    m_listenWatch = m_loop.WatchFd(m_listenFd, EventLoop::kReadable,
                                   [this](unsigned events) { OnListenReady(events); });
}

ObexPushServer::~ObexPushServer() {
    CloseAllLinks();
    if (m_listenWatch != 0)
        m_loop.UnwatchFd(m_listenWatch);
    if (m_listenFd >= 0)
        ::close(m_listenFd);
}

void ObexPushServer::CloseAllLinks() {
    for (auto& [id, link] : m_links)
        CloseLink(*link);
    m_links.clear();
}

std::string ObexPushServer::SafeFileName(std::string_view obexName) {
    // Through UTF-16: every character judged here is in the basic plane, and
    // a name that is not UTF-8 comes out with U+FFFD in place of bad bytes.
    std::u16string cleaned = Utf8ToUtf16(obexName);
    for (char16_t& c : cleaned) {
        if (IsUnsafeNameChar(c))
            c = u'_';
    }
    const std::string utf8 = Utf16ToUtf8(cleaned);
    std::string name(TrimDotsAndSpaces(utf8));
    if (name.size() > kMaxFileNameBytes) {
        auto [stem, extension] = SplitExtension(name);
        if (extension.size() > kMaxKeptExtensionBytes) {
            stem = name;
            extension.clear();
        }
        stem = std::string(
            TrimDotsAndSpaces(TruncateUtf8(stem, kMaxFileNameBytes - extension.size())));
        name = stem.empty() ? std::string() : stem + extension;
    }
    return name.empty() ? "object" : name;
}

void ObexPushServer::OnListenReady(unsigned /*events*/) {
    for (int i = 0; i < kMaxAcceptsPerWake; ++i) {
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;  // EAGAIN, or an error that the next wake-up meets again
        // A busy device takes no link: the client's connection is reset at
        // once. The connection layer above reports its own busy result
        // without connecting at all; this is what a client that connects
        // anyway meets.
        if (m_device.behaviour == PushBehaviour::Busy || m_links.size() >= m_options.maxLinks) {
            ++m_counters.linksRefused;
            ResetAndClose(fd);
            continue;
        }
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ++m_counters.linksAccepted;
        auto link = std::make_unique<Link>();
        link->id = m_nextLinkId++;
        link->fd = fd;
        if (m_rate > 0) {
            link->allowanceMilli = BucketMilli(m_rate);  // a full bucket to start with
            link->lastRefill = m_loop.GetClock().Now();
        }
        Link& ref = *link;
        m_links.emplace(ref.id, std::move(link));
        if (m_device.behaviour == PushBehaviour::DropAfterBytes && m_device.dropAfterBytes == 0) {
            ++m_counters.linksDropped;
            CloseLink(ref);
            m_links.erase(ref.id);
            continue;
        }
        UpdateWatch(ref);
    }
}

void ObexPushServer::OnLinkEvents(std::uint64_t id, unsigned events) {
    const auto it = m_links.find(id);
    if (it == m_links.end())
        return;
    Link& link = *it->second;
    if ((events & EventLoop::kReadable) != 0)
        ReadFromLink(link);
    if (!link.closed && (events & EventLoop::kWritable) != 0)
        Flush(link);
    // A fault without readable data: the link is gone (reset, or hung up
    // while we were not reading).
    if (!link.closed && (events & EventLoop::kError) != 0 && (events & EventLoop::kReadable) == 0)
        CloseLink(link);
    if (link.closed)
        m_links.erase(id);
}

std::size_t ObexPushServer::ReadAllowance(Link& link) {
    std::size_t allowance = kReadChunk;
    if (m_device.behaviour == PushBehaviour::DropAfterBytes) {
        const std::uint64_t left = m_device.dropAfterBytes - link.received;
        allowance = static_cast<std::size_t>(std::min<std::uint64_t>(allowance, left));
    }
    const std::uint64_t rate = m_rate;
    if (rate > 0) {
        const Clock::TimePoint now = m_loop.GetClock().Now();
        // A second refills any bucket, so longer gaps cannot overflow.
        const auto elapsed = std::clamp<std::int64_t>((now - link.lastRefill).count(), 0, 1000);
        link.allowanceMilli = std::min(
            BucketMilli(rate), link.allowanceMilli + static_cast<std::uint64_t>(elapsed) * rate);
        link.lastRefill = now;
        allowance = static_cast<std::size_t>(
            std::min<std::uint64_t>(allowance, link.allowanceMilli / 1000));
    }
    return allowance;
}

void ObexPushServer::PauseReading(Link& link) {
    const std::uint64_t rate = m_rate;
    const std::uint64_t wanted =
        std::min(std::max<std::uint64_t>(1, rate / 100) * 1000, BucketMilli(rate));
    const std::uint64_t missing = wanted > link.allowanceMilli ? wanted - link.allowanceMilli : 0;
    const auto waitMs =
        static_cast<Clock::Duration::rep>(std::max<std::uint64_t>(1, (missing + rate - 1) / rate));
    link.ratePaused = true;
    const std::uint64_t id = link.id;
    link.resumeTimer = m_loop.StartTimer(Clock::Duration(waitMs), false, [this, id] {
        const auto it = m_links.find(id);
        if (it == m_links.end())
            return;
        it->second->resumeTimer = 0;
        it->second->ratePaused = false;
        UpdateWatch(*it->second);
    });
    UpdateWatch(link);
}

void ObexPushServer::ReadFromLink(Link& link) {
    if (link.readingStopped || link.ratePaused)
        return;
    const std::size_t allowance = ReadAllowance(link);
    if (allowance == 0) {
        PauseReading(link);
        return;
    }
    const std::size_t oldSize = link.input.size();
    link.input.resize(oldSize + allowance);
    ssize_t got = 0;
    do {
        got = ::recv(link.fd, link.input.data() + oldSize, allowance, 0);
    } while (got < 0 && errno == EINTR);
    if (got <= 0) {
        link.input.resize(oldSize);
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        CloseLink(link);  // the client went, or the link broke
        return;
    }
    const auto count = static_cast<std::size_t>(got);
    link.input.resize(oldSize + count);
    link.received += count;
    m_counters.bytesReceived += count;
    if (m_rate > 0)
        link.allowanceMilli -= std::min<std::uint64_t>(link.allowanceMilli, count * 1000);

    if (m_device.behaviour == PushBehaviour::NeverAnswer) {
        link.input.clear();  // swallowed unread
    } else {
        ProcessInput(link);
        if (link.closed)
            return;
    }
    if (m_device.behaviour == PushBehaviour::DropAfterBytes &&
        link.received >= m_device.dropAfterBytes) {
        ++m_counters.linksDropped;
        CloseLink(link);
    }
}

void ObexPushServer::ProcessInput(Link& link) {
    while (!link.closed && !link.readingStopped) {
        const std::size_t available = link.input.size() - link.inputStart;
        if (available < 3)
            break;
        const std::uint8_t* packet = link.input.data() + link.inputStart;
        const std::size_t length = ReadBe16(packet + 1);
        if (length < 3) {
            // No packet boundary can be trusted after this.
            ++m_counters.protocolErrors;
            CloseLink(link);
            return;
        }
        if (length > m_options.maxPacketLength) {
            ++m_counters.protocolErrors;
            if (link.object)
                ++m_counters.objectsAborted;
            DiscardObject(link);
            link.readingStopped = true;
            link.input.clear();
            link.inputStart = 0;
            Respond(link, Response(kEntityTooLarge), true);
            // Nothing more is read: a link still watched for reading would
            // wake the loop again and again until a delayed answer goes.
            UpdateWatch(link);
            return;
        }
        if (available < length)
            break;
        HandlePacket(link, packet, length);
        if (link.closed)
            return;
        link.inputStart += length;
    }
    if (link.inputStart == link.input.size()) {
        link.input.clear();
        link.inputStart = 0;
    } else if (link.inputStart >= kReadChunk) {
        link.input.erase(link.input.begin(),
                         link.input.begin() + static_cast<std::ptrdiff_t>(link.inputStart));
        link.inputStart = 0;
    }
}

void ObexPushServer::HandlePacket(Link& link, const std::uint8_t* packet, std::size_t length) {
    const std::uint8_t opcode = packet[0];
    if (opcode != kOpPut && opcode != kOpPutFinal && link.object) {
        // One operation at a time: anything but PUT ends an unfinished object.
        ++m_counters.objectsAborted;
        DiscardObject(link);
    }
    switch (opcode) {
        case kOpConnect:
            HandleConnect(link, packet, length);
            return;
        case kOpDisconnect:
            link.obexConnected = false;
            Respond(link, Response(kSuccess));
            return;
        case kOpPut:
        case kOpPutFinal:
            HandlePut(link, packet, length, opcode == kOpPutFinal);
            return;
        case kOpAbort:
            Respond(link, Response(kSuccess));
            return;
        case kOpGet:
        case kOpGetFinal:
            // No default object (business card) to hand out.
            Respond(link, Response(kForbidden));
            return;
        default:
            // SETPATH, ACTION, SESSION and unknown operations: Object Push
            // has no folders and nothing else to offer.
            Respond(link, Response(kNotImplemented));
            return;
    }
}

void ObexPushServer::HandleConnect(Link& link, const std::uint8_t* packet, std::size_t length) {
    // CONNECT: version, flags and the client's maximum packet length, then
    // headers (Target, Who, ...) that Object Push does not need.
    std::vector<Header> headers;
    if (length < 7 || !SplitHeaders(packet, length, 7, headers)) {
        ++m_counters.protocolErrors;
        Respond(link, Response(kBadRequest));
        return;
    }
    if (m_device.behaviour == PushBehaviour::RefuseConnection) {
        ++m_counters.connectsRefused;
        link.obexConnected = false;
        Respond(link, Response(kForbidden));
        return;
    }
    ++m_counters.connectsAccepted;
    link.obexConnected = true;
    std::string response;
    response += static_cast<char>(kSuccess);
    AppendBe16(response, m_options.connectionId ? 12 : 7);
    response += static_cast<char>(kObexVersion);
    response += '\0';  // flags
    AppendBe16(response, m_options.maxPacketLength);
    if (m_options.connectionId) {
        response += static_cast<char>(kHeaderConnectionId);
        AppendBe32(response, *m_options.connectionId);
    }
    Respond(link, std::move(response));
}

void ObexPushServer::HandlePut(Link& link, const std::uint8_t* packet, std::size_t length,
                               bool final) {
    // A PUT outside a session, a malformed one or one for another session
    // ends the object in progress.
    const auto reject = [&](std::uint8_t code) {
        if (link.object) {
            ++m_counters.objectsAborted;
            DiscardObject(link);
        }
        Respond(link, Response(code));
    };
    std::vector<Header> headers;
    // A Name must be whole UTF-16 characters.
    const bool wellFormed = SplitHeaders(packet, length, 3, headers) &&
                            std::none_of(headers.begin(), headers.end(), [](const Header& header) {
                                return header.id == kHeaderName && header.size % 2 != 0;
                            });
    if (!link.obexConnected || !wellFormed) {
        ++m_counters.protocolErrors;
        reject(kBadRequest);
        return;
    }
    const auto otherSession = [this](const Header& header) {
        return header.id == kHeaderConnectionId && ReadBe32(header.data) != *m_options.connectionId;
    };
    if (m_options.connectionId && std::any_of(headers.begin(), headers.end(), otherSession)) {
        reject(kServiceUnavailable);
        return;
    }

    if (!link.object) {
        // The first packet of an object: this is where a device's user says no.
        if (m_device.behaviour == PushBehaviour::RefuseObject) {
            ++m_counters.objectsRefused;
            Respond(link, Response(m_device.refuseCode));
            return;
        }
        link.object.emplace();
    }
    IncomingObject& object = *link.object;
    for (const Header& header : headers) {
        std::uint8_t failure = kSuccess;
        if (header.id == kHeaderName && !object.hasName) {
            std::u16string name;
            name.reserve(header.size / 2);
            for (std::size_t i = 0; i + 1 < header.size; i += 2)
                name += static_cast<char16_t>(ReadBe16(header.data + i));
            while (!name.empty() && name.back() == u'\0')
                name.pop_back();  // the terminator
            object.name = Utf16ToUtf8(name);
            object.hasName = true;
        } else if (header.id == kHeaderLength) {
            if (ReadBe32(header.data) > m_options.maxObjectBytes)
                failure = kEntityTooLarge;
        } else if (header.id == kHeaderBody || header.id == kHeaderEndOfBody) {
            object.hasBody = true;
            failure = AppendBody(link, header.data, header.size) ? kSuccess : kInternalError;
            if (object.size > m_options.maxObjectBytes)
                failure = kEntityTooLarge;
        }
        if (failure != kSuccess) {
            ++m_counters.objectsRefused;
            DiscardObject(link);
            Respond(link, Response(failure));
            return;
        }
    }
    if (!final) {
        Respond(link, Response(kContinue));
        return;
    }
    if (!object.hasBody) {
        // A PUT without any Body is a delete request; Object Push has nothing
        // to delete.
        ++m_counters.objectsRefused;
        DiscardObject(link);
        Respond(link, Response(kForbidden));
        return;
    }
    FinishObject(link);
}

bool ObexPushServer::AppendBody(Link& link, const std::uint8_t* data, std::size_t size) {
    IncomingObject& object = *link.object;
    object.size += size;
    if (object.size > m_options.maxObjectBytes)
        return true;  // the caller refuses it; nothing more is written
    if (object.tempFd < 0 && !OpenTempFile(object))
        return false;
    while (size > 0) {
        const ssize_t written = ::write(object.tempFd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool ObexPushServer::OpenTempFile(IncomingObject& object) {
    // Objects arrive in a hidden temporary file of the inbox and are renamed
    // only when complete, so the inbox never shows half an object. Stored
    // names never start with a dot, so they cannot meet these.
    std::string pattern = (m_inbox / ".incoming-XXXXXX").string();
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    ::fchmod(fd, 0644);
    object.tempFd = fd;
    object.tempPath = pattern;
    return true;
}

void ObexPushServer::FinishObject(Link& link) {
    IncomingObject object = std::move(*link.object);
    link.object.reset();
    const auto fail = [&] {
        if (object.tempFd >= 0)
            ::close(object.tempFd);
        if (!object.tempPath.empty())
            ::unlink(object.tempPath.c_str());
        ++m_counters.objectsRefused;
        Respond(link, Response(kInternalError));
    };
    if (object.tempFd < 0 && !OpenTempFile(object))
        return fail();
    // No fsync: the inbox needs a whole object or none, not durability.
    const int closed = ::close(object.tempFd);
    object.tempFd = -1;
    if (closed != 0)
        return fail();

    const auto [stem, extension] = SplitExtension(SafeFileName(object.name));
    std::filesystem::path stored;
    for (int attempt = 1; attempt <= kMaxNameAttempts && stored.empty(); ++attempt) {
        const std::filesystem::path candidate =
            m_inbox / (attempt == 1 ? stem + extension
                                    : stem + " (" + std::to_string(attempt) + ")" + extension);
        // link() never replaces an existing file, so two objects of one name
        // both survive even when another process writes to the inbox too.
        if (::link(object.tempPath.c_str(), candidate.c_str()) == 0) {
            stored = candidate;
        } else if (errno != EEXIST) {
            // A file system without hard links: check, then rename.
            std::error_code error;
            if (std::filesystem::exists(candidate, error) || error)
                continue;
            std::filesystem::rename(object.tempPath, candidate, error);
            if (error)
                return fail();
            object.tempPath.clear();
            stored = candidate;
        }
    }
    if (stored.empty())
        return fail();
    if (!object.tempPath.empty())
        ::unlink(object.tempPath.c_str());

    ++m_counters.objectsReceived;
    Respond(link, Response(kSuccess));
    if (OnObjectReceived)
        OnObjectReceived(object.name, stored, object.size);
}

void ObexPushServer::DiscardObject(Link& link) {
    if (!link.object)
        return;
    if (link.object->tempFd >= 0)
        ::close(link.object->tempFd);
    if (!link.object->tempPath.empty())
        ::unlink(link.object->tempPath.c_str());
    link.object.reset();
}

void ObexPushServer::Respond(Link& link, std::string bytes, bool closeAfter) {
    if (m_device.answerDelayMs <= 0) {
        Write(link, std::move(bytes), closeAfter);
        return;
    }
    if (link.delayed.size() >= kMaxDelayedResponses) {
        // Requests far ahead of their answers: no client waiting for answers
        // does that.
        ++m_counters.protocolErrors;
        CloseLink(link);
        return;
    }
    const std::uint64_t id = link.id;
    link.delayed.emplace_back(std::move(bytes), closeAfter);
    link.delayTimers.push_back(m_loop.StartTimer(Clock::Duration(m_device.answerDelayMs), false,
                                                 [this, id] { SendDelayed(id); }));
}

void ObexPushServer::SendDelayed(std::uint64_t id) {
    const auto it = m_links.find(id);
    if (it == m_links.end())
        return;
    Link& link = *it->second;
    // Every response waits equally long, so the oldest is always the one due.
    auto [bytes, closeAfter] = std::move(link.delayed.front());
    link.delayed.pop_front();
    link.delayTimers.pop_front();
    Write(link, std::move(bytes), closeAfter);
    if (link.closed)
        m_links.erase(id);
}

void ObexPushServer::Write(Link& link, std::string bytes, bool closeAfter) {
    ++m_counters.responsesSent;
    link.output += bytes;
    link.closeWhenFlushed = link.closeWhenFlushed || closeAfter;
    if (link.output.size() - link.outputStart > kMaxPendingOutput) {
        ++m_counters.protocolErrors;
        CloseLink(link);
        return;
    }
    Flush(link);
}

void ObexPushServer::Flush(Link& link) {
    while (link.outputStart < link.output.size()) {
        const ssize_t sent =
            ::send(link.fd, link.output.data() + link.outputStart,
                   link.output.size() - link.outputStart, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        if (sent <= 0) {
            CloseLink(link);
            return;
        }
        link.outputStart += static_cast<std::size_t>(sent);
    }
    if (link.outputStart == link.output.size()) {
        link.output.clear();
        link.outputStart = 0;
        if (link.closeWhenFlushed) {
            CloseLink(link);
            return;
        }
    }
    UpdateWatch(link);
}

void ObexPushServer::UpdateWatch(Link& link) {
    if (link.closed)
        return;
    unsigned wanted = 0;
    if (!link.readingStopped && !link.ratePaused)
        wanted |= EventLoop::kReadable;
    if (link.outputStart < link.output.size())
        wanted |= EventLoop::kWritable;
    if (wanted == link.watchedEvents && (link.watch != 0 || wanted == 0))
        return;
    if (link.watch != 0)
        m_loop.UnwatchFd(link.watch);
    link.watch = 0;
    link.watchedEvents = wanted;
    if (wanted != 0) {
        const std::uint64_t id = link.id;
        link.watch = m_loop.WatchFd(link.fd, wanted,
                                    [this, id](unsigned events) { OnLinkEvents(id, events); });
    }
}

void ObexPushServer::CloseLink(Link& link) {
    if (link.closed)
        return;
    link.closed = true;
    if (link.watch != 0)
        m_loop.UnwatchFd(link.watch);
    link.watch = 0;
    if (link.resumeTimer != 0)
        m_loop.StopTimer(link.resumeTimer);
    link.resumeTimer = 0;
    for (const EventLoop::TimerId timer : link.delayTimers)
        m_loop.StopTimer(timer);
    link.delayTimers.clear();
    link.delayed.clear();
    if (link.object) {
        ++m_counters.objectsAborted;
        DiscardObject(link);
    }
    ::close(link.fd);
    link.fd = -1;
}

}  // namespace kavri::sim
