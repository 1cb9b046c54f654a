#include "engine/wclOBEXClients.h"

#include "platform/Text.h"
#include "stack/wclMessages.h"
#include "stack/wclUUIDs.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <string_view>
#include <utility>

namespace kavri {
namespace {

// Opcodes (the final bit 0x80 included where the request is final).
constexpr std::uint8_t kOpPut = 0x02;
constexpr std::uint8_t kOpPutFinal = 0x82;
constexpr std::uint8_t kOpGetFinal = 0x83;
constexpr std::uint8_t kOpSetPath = 0x85;
constexpr std::uint8_t kOpAbort = 0xFF;

// Response codes.
constexpr std::uint8_t kRespContinue = 0x90;
constexpr std::uint8_t kRespSuccess = 0xA0;

// Header identifiers; the two high bits give the header's encoding.
constexpr std::uint8_t kHdrName = 0x01;
constexpr std::uint8_t kHdrType = 0x42;
constexpr std::uint8_t kHdrBody = 0x48;
constexpr std::uint8_t kHdrEndOfBody = 0x49;
constexpr std::uint8_t kHdrLength = 0xC3;
constexpr std::uint8_t kHdrConnectionId = 0xCB;
constexpr std::uint8_t kHdrKindMask = 0xC0;
constexpr std::uint8_t kHdrKindByte = 0x80;
constexpr std::uint8_t kHdrKindQuad = 0xC0;

// SETPATH flags: bit 0 backs up a level, bit 1 forbids creating the folder.
constexpr std::uint8_t kSetPathCreate = 0x00;
constexpr std::uint8_t kSetPathNoCreate = 0x02;
constexpr std::uint8_t kSetPathBackUp = 0x03;

constexpr std::size_t kResponseHeadersStart = 3;
// A CONNECT response carries version, flags and maximum packet length first.
constexpr std::size_t kConnectResponseHeadersStart = 7;
// Opcode and length of every packet, and the prefix of a text or byte header.
constexpr std::size_t kPacketPrefix = 3;
constexpr std::size_t kHeaderPrefix = 3;
constexpr std::size_t kMaxPacket = 0xFFFF;
// The bytes of a continuation packet around its Body data, with the
// Connection Id header counted: opcode, length, id header, body header prefix.
constexpr std::size_t kPutOverhead = 11;

constexpr std::string_view kFolderListingType = "x-obex/folder-listing";

constexpr std::uint16_t ReadBE16(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]);
}

constexpr std::uint32_t ReadBE32(const std::uint8_t* bytes) {
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
           (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
}

void AppendBE16(std::vector<std::uint8_t>& packet, std::size_t value) {
    packet.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
    packet.push_back(static_cast<std::uint8_t>(value & 0xFF));
}

void AppendBE32(std::vector<std::uint8_t>& packet, std::uint32_t value) {
    AppendBE16(packet, value >> 16);
    AppendBE16(packet, value & 0xFFFF);
}

// The Name header: UTF-16BE with a zero terminator, appended unless the name
// already ends with one. A name too long for any packet is an invalid
// argument, refused before its header length could wrap around.
void AppendNameHeader(std::vector<std::uint8_t>& packet, const std::string& name) {
    std::u16string wide = Utf8ToUtf16(name);
    if (wide.empty() || wide.back() != u'\0')
        wide.push_back(u'\0');
    if (wide.size() > (kMaxPacket - kPacketPrefix - kHeaderPrefix) / 2)
        throw wclEInvalidArgument();
    packet.push_back(kHdrName);
    AppendBE16(packet, kHeaderPrefix + 2 * wide.size());
    for (const char16_t c : wide)
        AppendBE16(packet, c);
}

struct HeaderRef {
    std::size_t offset = 0;  // of the identifier
    std::size_t length = 0;  // of the whole header
};

// Walks the headers of a response from start for the first one whose
// identifier satisfies match. The walk never reads past the packet: a header
// that runs past the end, or a text or byte header whose length does not even
// cover its own prefix, ends it without a match.
template <typename Match>
std::optional<HeaderRef> FindHeader(const std::vector<std::uint8_t>& packet, std::size_t start,
                                    Match match) {
    std::size_t pos = start;
    while (pos < packet.size()) {
        const std::uint8_t id = packet[pos];
        const std::size_t left = packet.size() - pos;
        std::size_t length = 0;
        switch (id & kHdrKindMask) {
            case kHdrKindByte:
                length = 2;
                break;
            case kHdrKindQuad:
                length = 5;
                break;
            default:
                if (left < kHeaderPrefix)
                    return std::nullopt;
                length = ReadBE16(&packet[pos + 1]);
                if (length < kHeaderPrefix)
                    return std::nullopt;
                break;
        }
        if (length > left)
            return std::nullopt;
        if (match(id))
            return HeaderRef{pos, length};
        pos += length;
    }
    return std::nullopt;
}

std::optional<HeaderRef> FindHeader(const std::vector<std::uint8_t>& packet, std::size_t start,
                                    std::uint8_t wanted) {
    return FindHeader(packet, start, [wanted](std::uint8_t id) { return id == wanted; });
}

// Calls a copy of the handler, so a handler that reassigns its own event does
// not destroy the function it runs in; what it throws goes to the
// application's handler.
template <typename Event, typename... Args>
void Raise(const Event& event, Args&&... args) noexcept {
    if (!event)
        return;
    try {
        const Event handler = event;
        handler(std::forward<Args>(args)...);
    } catch (...) {
        HandleApplicationException(std::current_exception());
    }
}

}  // namespace

void TwclOBEXParams::SetPacketSize(std::uint16_t size) {
    if (size == m_packetSize)
        return;
    CheckNotActive();
    if (size < kOBEXMinimumPacketSize)
        throw wclEInvalidPacketSize();
    m_packetSize = size;
}

TwclCustomOBEXClient::TwclCustomOBEXClient(EventLoop& loop) : TwclCustomClientConnection(loop) {
    SetNineWireMode(false);
}

TwclCustomOBEXClient::~TwclCustomOBEXClient() {
    // Runs here so that BeforeDisconnect still finds this class's state.
    try {
        DestroyingDisconnect();
    } catch (...) {
        HandleApplicationException(std::current_exception());
    }
    StopResponseTimer();
}

void TwclCustomOBEXClient::SetResponseTimeOut(std::int32_t ms) {
    if (ms == m_responseTimeOut)
        return;
    if (Active())
        throw wclEConnectionActive();
    m_responseTimeOut = ms;
}

void TwclCustomOBEXClient::CheckCanStart() const {
    if (!Connected())
        throw wclENotConnected();
    if (m_operation != TwclOBEXOperation::ooNone)
        throw wclEOperationInProgress();
}

TwclCustomOBEXClient::Packet TwclCustomOBEXClient::BeginRequest(
    std::uint8_t opcode, std::span<const std::uint8_t> fixed) const {
    Packet packet;
    BeginRequest(packet, opcode, fixed);
    return packet;
}

void TwclCustomOBEXClient::BeginRequest(Packet& packet, std::uint8_t opcode,
                                        std::span<const std::uint8_t> fixed) const {
    packet.clear();
    packet.reserve(kPacketPrefix + fixed.size() + 5);
    packet.push_back(opcode);
    packet.push_back(0);
    packet.push_back(0);
    // One byte at a time: g++ 12 mistakes a range insert here for an
    // out-of-bounds copy.
    for (const std::uint8_t byte : fixed)
        packet.push_back(byte);
    // The Connection Id header leads the headers, after any fixed fields.
    if (m_connectionId != 0) {
        packet.push_back(kHdrConnectionId);
        AppendBE32(packet, m_connectionId);
    }
}

void TwclCustomOBEXClient::FinishPacket(Packet& packet) {
    if (packet.size() > kMaxPacket)
        throw wclEInvalidArgument();
    packet[1] = static_cast<std::uint8_t>(packet.size() >> 8);
    packet[2] = static_cast<std::uint8_t>(packet.size() & 0xFF);
}

void TwclCustomOBEXClient::StartOperation(TwclOBEXOperation operation, const Packet& request) {
    m_operation = operation;
    m_abortRequested = false;
    try {
        WriteRequest(request);
    } catch (...) {
        ClearTransferState();
        throw;
    }
    RaiseStarted(operation);
}

void TwclCustomOBEXClient::WriteRequest(const Packet& packet) {
    Write(packet.data(), packet.size());
    if (m_responseTimeOut <= 0)
        return;
    // Counted from the moment the whole request is handed to the transport.
    // A put answers thousands of packets a second: the running timer is kept
    // and only the deadline moves; a tick before the deadline waits again.
    const Clock::Duration timeOut = std::chrono::milliseconds(m_responseTimeOut);
    m_responseDeadline = Loop().GetClock().Now() + timeOut;
    if (m_responseTimer == 0)
        m_responseTimer = Loop().StartTimer(timeOut, false, [this] { ResponseTimerTick(); });
}

bool TwclCustomOBEXClient::WriteFollowUp(const Packet& packet) {
    try {
        WriteRequest(packet);
        return true;
    } catch (const wclException& e) {
        // The link cannot carry the operation any further: waiting for an
        // answer to a request that never left would only hold the link.
        FailAndClose(e.ErrorCode());
        return false;
    }
}

void TwclCustomOBEXClient::SendAbort(std::optional<Report> report) {
    m_operation = TwclOBEXOperation::ooTerminate;
    m_abortReport = report;
    Packet packet = BeginRequest(kOpAbort);
    FinishPacket(packet);
    WriteFollowUp(packet);
}

void TwclCustomOBEXClient::StopResponseTimer() {
    m_responseDeadline = Clock::TimePoint::max();
    if (m_responseTimer != 0) {
        Loop().StopTimer(m_responseTimer);
        m_responseTimer = 0;
    }
}

void TwclCustomOBEXClient::ResponseTimerTick() {
    m_responseTimer = 0;
    // Answered meanwhile: the next request starts the timer again.
    if (m_responseDeadline == Clock::TimePoint::max())
        return;
    const Clock::TimePoint now = Loop().GetClock().Now();
    if (now < m_responseDeadline) {
        m_responseTimer =
            Loop().StartTimer(m_responseDeadline - now, false, [this] { ResponseTimerTick(); });
        return;
    }
    const TwclOBEXOperation operation = m_operation;
    if (operation == TwclOBEXOperation::ooNone || !Active())
        return;
    // An ABORT may be sent while a request is outstanding: the peer learns
    // that the object is given up. Nobody waits for its answer.
    if (operation != TwclOBEXOperation::ooOpenSession &&
        operation != TwclOBEXOperation::ooTerminate && Connected()) {
        Packet packet = BeginRequest(kOpAbort);
        FinishPacket(packet);
        try {
            Write(packet.data(), packet.size());
        } catch (...) {
            // The link is closed next in any case; nothing leaves a timer task.
        }
    }
    // A timer task is no message handler: what a connect handler throws goes
    // to the application's handler here (the OBEX events' handlers are
    // guarded already).
    try {
        FailAndClose(kWclErrTimeout);
    } catch (...) {
        HandleApplicationException(std::current_exception());
    }
}

void TwclCustomOBEXClient::FailAndClose(std::uint32_t result) {
    TwclOBEXOperation operation = m_operation;
    // An abort of our own making reports what made it (an object that could
    // no longer be read), not how the abort itself fared.
    if (operation == TwclOBEXOperation::ooTerminate && m_abortReport) {
        result = m_abortReport->result;
        operation = m_abortReport->operation;
    }
    const LinkMark mark = MarkLink();
    ClearTransferState();
    if (operation == TwclOBEXOperation::ooOpenSession) {
        try {
            DoConnect(result);
        } catch (...) {
            DisconnectIfSameLink(this, mark);
            throw;
        }
    } else if (operation != TwclOBEXOperation::ooNone) {
        FinishWithResult(operation, result);
    }
    DisconnectIfSameLink(this, mark);
}

void TwclCustomOBEXClient::Delete(const std::string& name) {
    CheckCanStart();
    if (name.empty())
        throw wclEInvalidArgument();
    // A final PUT without a Body deletes the object.
    Packet packet = BeginRequest(kOpPutFinal);
    AppendNameHeader(packet, name);
    FinishPacket(packet);
    StartOperation(TwclOBEXOperation::ooDelete, packet);
}

void TwclCustomOBEXClient::Dir() {
    CheckCanStart();
    Packet packet = BeginRequest(kOpGetFinal);
    packet.push_back(kHdrType);
    AppendBE16(packet, kHeaderPrefix + kFolderListingType.size() + 1);
    packet.insert(packet.end(), kFolderListingType.begin(), kFolderListingType.end());
    packet.push_back(0);
    // An empty Name asks for the current folder.
    packet.insert(packet.end(), {kHdrName, 0x00, 0x03});
    FinishPacket(packet);
    StartOperation(TwclOBEXOperation::ooDir, packet);
}

void TwclCustomOBEXClient::Get(const std::string& name) {
    CheckCanStart();
    if (name.empty() || name == ".." || name == "\\")
        throw wclEInvalidArgument();
    Packet packet = BeginRequest(kOpGetFinal);
    AppendNameHeader(packet, name);
    FinishPacket(packet);
    StartOperation(TwclOBEXOperation::ooGet, packet);
}

void TwclCustomOBEXClient::MakeDir(const std::string& name) {
    CheckCanStart();
    if (name.empty() || name == ".." || name == "\\")
        throw wclEInvalidArgument();
    const std::uint8_t fixed[] = {kSetPathCreate, 0x00};
    Packet packet = BeginRequest(kOpSetPath, fixed);
    AppendNameHeader(packet, name);
    FinishPacket(packet);
    StartOperation(TwclOBEXOperation::ooMakeDir, packet);
}

void TwclCustomOBEXClient::Put(const std::string& name,
                               std::unique_ptr<TwclOBEXObjectSource> object) {
    CheckCanStart();
    if (name.empty() || !object || object->Size() > std::numeric_limits<std::uint32_t>::max())
        throw wclEInvalidArgument();
    // The first packet announces the size and the name; the Body follows in
    // answer to the peer's CONTINUE.
    Packet packet = BeginRequest(kOpPut);
    packet.push_back(kHdrLength);
    AppendBE32(packet, static_cast<std::uint32_t>(object->Size()));
    AppendNameHeader(packet, name);
    FinishPacket(packet);
    m_source = std::move(object);
    m_sourcePosition = 0;
    StartOperation(TwclOBEXOperation::ooPut, packet);
}

void TwclCustomOBEXClient::Put(const std::string& name, std::span<const std::uint8_t> object) {
    CheckCanStart();
    if (object.size() > std::numeric_limits<std::uint32_t>::max())
        throw wclEInvalidArgument();
    Put(name, std::make_unique<TwclOBEXMemorySource>(object));
}

void TwclCustomOBEXClient::SetPath(const std::string& name) {
    CheckCanStart();
    if (name.empty())
        throw wclEInvalidArgument();
    Packet packet;
    if (name == "..") {
        const std::uint8_t fixed[] = {kSetPathBackUp, 0x00};
        packet = BeginRequest(kOpSetPath, fixed);
    } else {
        const std::uint8_t fixed[] = {kSetPathNoCreate, 0x00};
        packet = BeginRequest(kOpSetPath, fixed);
        if (name == "\\")
            packet.insert(packet.end(), {kHdrName, 0x00, 0x03});  // empty name: the root
        else
            AppendNameHeader(packet, name);
    }
    FinishPacket(packet);
    StartOperation(TwclOBEXOperation::ooSetPath, packet);
}

TwclOBEXOperation TwclCustomOBEXClient::Abort() {
    if (!Connected())
        throw wclENotConnected();
    switch (m_operation) {
        case TwclOBEXOperation::ooTerminate:
            throw wclEOperationInProgress();
        case TwclOBEXOperation::ooNone:
        case TwclOBEXOperation::ooOpenSession:
            throw wclENoActiveOperation();
        default:
            break;
    }
    // Only one request may be outstanding, so ABORT waits for the next
    // CONTINUE; single-response operations simply finish.
    m_abortRequested = true;
    return m_operation;
}

bool TwclCustomOBEXClient::AfterConnect() {
    ClearTransferState();
    m_connectionId = 0;
    m_peerMaximum = 0;
    m_obexConnected = false;
    m_operation = TwclOBEXOperation::ooOpenSession;
    WriteRequest(BuildConnectRequest());
    // The connect result waits for the peer's CONNECT response.
    return true;
}

bool TwclCustomOBEXClient::ProcessData(const std::uint8_t* data, std::size_t size) {
    std::size_t used = 0;
    // Takes bytes of the chunk until the buffer holds upTo bytes. Bytes past
    // the response being assembled are dropped with the rest of the buffer, so
    // they are never copied and the buffer never exceeds one response.
    const auto take = [&](std::size_t upTo) {
        if (m_received.size() >= upTo || data == nullptr)
            return;
        const std::size_t n = std::min(upTo - m_received.size(), size - used);
        m_received.insert(m_received.end(), data + used, data + used + n);
        used += n;
    };
    take(kPacketPrefix);
    if (m_received.size() < kPacketPrefix)
        return true;
    const std::size_t length = ReadBE16(&m_received[1]);
    if (length < kPacketPrefix) {
        // A length that does not cover its own opcode and length bytes can
        // never be a response; waiting or skipping would leave us reading a
        // stream we no longer understand, so the link goes.
        m_received.clear();
        HandleBrokenResponse();
        return true;
    }
    take(length);
    if (m_received.size() < length)
        return true;
    // The request has its answer. The timer runs on until the operation ends
    // or a request goes unanswered; an answer only lifts the deadline.
    m_responseDeadline = Clock::TimePoint::max();
    // One response per read: whatever followed it is dropped with the buffer.
    Packet response;
    response.swap(m_received);
    HandleResponse(response);
    return true;
}

void TwclCustomOBEXClient::BeforeDisconnect() {
    // Closing the link is closing the OBEX connection; a running operation
    // ends without an event (the connection reports OnDisconnect).
    ClearTransferState();
    m_connectionId = 0;
    m_peerMaximum = 0;
    m_obexConnected = false;
    ++m_linkGeneration;
}

void TwclCustomOBEXClient::HandleResponse(const Packet& response) {
    switch (m_operation) {
        case TwclOBEXOperation::ooOpenSession:
            HandleConnectResponse(response);
            break;
        case TwclOBEXOperation::ooPut:
            HandlePutResponse(response);
            break;
        case TwclOBEXOperation::ooGet:
            HandleGetResponse(response);
            break;
        case TwclOBEXOperation::ooDelete:
        case TwclOBEXOperation::ooSetPath:
        case TwclOBEXOperation::ooMakeDir:
            Complete(response[0] == kRespSuccess ? kWclSuccess : kWclErrOBEXOperationFailed);
            break;
        case TwclOBEXOperation::ooDir:
            HandleDirResponse(response);
            break;
        case TwclOBEXOperation::ooTerminate:
            if (m_abortReport) {
                // Our own abort of a put whose object could not be read: the
                // link stays, the put ends with the reason.
                const Report report = *m_abortReport;
                ClearTransferState();
                FinishWithResult(report.operation, report.result);
            } else {
                Complete(kWclErrConnectionClosed);
            }
            break;
        case TwclOBEXOperation::ooNone:
            break;  // nobody asked: dropped
    }
}

void TwclCustomOBEXClient::HandleConnectResponse(const Packet& response) {
    ClearTransferState();
    // A SUCCESS too short to carry the peer's maximum packet length gives us
    // nothing to build packets by: it counts as a refusal.
    if (response[0] == kRespSuccess && response.size() >= kConnectResponseHeadersStart) {
        m_peerMaximum = ReadBE16(&response[5]);
        if (const auto id = FindHeader(response, kConnectResponseHeadersStart, kHdrConnectionId)) {
            m_connectionId = ReadBE32(&response[id->offset + 1]);
        }
        m_obexConnected = true;
        DoConnect(kWclSuccess);
        return;
    }
    const LinkMark mark = MarkLink();
    try {
        DoConnect(kWclErrOBEXConnectRefused);
    } catch (...) {
        DisconnectIfSameLink(this, mark);
        throw;
    }
    DisconnectIfSameLink(this, mark);
}

void TwclCustomOBEXClient::HandlePutResponse(const Packet& response) {
    const LinkMark mark = MarkLink();
    RaiseProgress(static_cast<std::uint32_t>(m_sourcePosition),
                  static_cast<std::uint32_t>(m_source->Size()));
    // The handler may have closed the link, destroyed the client or ended the
    // put; then it owns what follows. An Abort it asked for is seen below.
    if (!StillOnLink(this, mark) || m_operation != TwclOBEXOperation::ooPut)
        return;
    if (response[0] != kRespContinue) {
        Complete(response[0] == kRespSuccess ? kWclSuccess : kWclErrConnectionClosed);
        return;
    }
    if (m_abortRequested) {
        SendAbort();
        return;
    }
    SendNextPutPacket();
}

void TwclCustomOBEXClient::SendNextPutPacket() {
    // K is the packet length counted with a Connection Id header; without one
    // the packet is five bytes shorter and carries the same data. A peer
    // maximum below OBEX's minimum of 255 (0 included) is taken as 255, so K
    // never drops below the 11 bytes around the data.
    const std::uint64_t remaining = m_source->Size() - m_sourcePosition;
    const std::uint64_t peerMaximum = std::max(m_peerMaximum, kOBEXMinimumPacketSize);
    const std::uint64_t k =
        peerMaximum > remaining + kPutOverhead ? remaining + kPutOverhead : peerMaximum;
    const auto dataBytes = static_cast<std::size_t>(k - kPutOverhead);
    // The object always ends with a separate final packet and an empty
    // End-of-Body. The packet is built in place, its data read straight
    // from the source into it.
    BeginRequest(m_packet, remaining > 0 ? kOpPut : kOpPutFinal);
    m_packet.push_back(remaining > 0 ? kHdrBody : kHdrEndOfBody);
    AppendBE16(m_packet, kHeaderPrefix + dataBytes);
    const std::size_t dataAt = m_packet.size();
    m_packet.resize(dataAt + dataBytes);
    try {
        m_source->Read(std::span<std::uint8_t>(m_packet).subspan(dataAt));
    } catch (const wclException& e) {
        // Nothing of what was announced may be made up: the peer is told to
        // drop the object, and the put ends with the source's error.
        SendAbort(Report{e.ErrorCode(), TwclOBEXOperation::ooPut});
        return;
    }
    m_sourcePosition += dataBytes;
    FinishPacket(m_packet);
    WriteFollowUp(m_packet);
}

void TwclCustomOBEXClient::StoreBody(const Packet& response) {
    if (m_storeOverflow)
        return;
    const auto body = FindHeader(response, kResponseHeadersStart, [](std::uint8_t id) {
        return id == kHdrBody || id == kHdrEndOfBody;
    });
    if (!body)
        return;
    const std::size_t n = body->length - kHeaderPrefix;
    if (n > kOBEXMaxIncomingObject - m_storePosition) {
        // More than we hold for anyone: the rest is not kept, and the
        // operation is cut short (see HandleGetResponse and FinishGet).
        m_storeOverflow = true;
        return;
    }
    if (m_storePosition + n > m_store.size())
        m_store.resize(m_storePosition + n);
    if (n > 0)
        std::memcpy(&m_store[m_storePosition], &response[body->offset + kHeaderPrefix], n);
    m_storePosition += n;
}

void TwclCustomOBEXClient::HandleGetResponse(const Packet& response) {
    if (m_store.empty()) {
        // The announced size shapes the object handed over, zero-filled where
        // nothing arrives; a size beyond what we would hold is not honoured.
        if (const auto length = FindHeader(response, kResponseHeadersStart, kHdrLength)) {
            const std::uint32_t size = ReadBE32(&response[length->offset + 1]);
            if (size <= kOBEXMaxIncomingObject)
                m_store.resize(size);
        }
    }
    StoreBody(response);
    const LinkMark mark = MarkLink();
    RaiseProgress(static_cast<std::uint32_t>(m_storePosition),
                  static_cast<std::uint32_t>(m_store.size()));
    if (!StillOnLink(this, mark) || m_operation != TwclOBEXOperation::ooGet)
        return;
    if (response[0] != kRespContinue) {
        FinishGet(response[0] == kRespSuccess ? kWclSuccess : kWclErrOBEXOperationFailed);
        return;
    }
    RequestNextGetPacket();
}

// After a CONTINUE of a get or folder listing: ABORT when asked for (or when
// the object outgrew its limit), else the continuation request.
void TwclCustomOBEXClient::RequestNextGetPacket() {
    if (m_abortRequested || m_storeOverflow) {
        SendAbort();
        return;
    }
    Packet packet = BeginRequest(kOpGetFinal);
    FinishPacket(packet);
    WriteFollowUp(packet);
}

void TwclCustomOBEXClient::HandleDirResponse(const Packet& response) {
    StoreBody(response);
    if (response[0] != kRespContinue) {
        FinishDir(response[0] == kRespSuccess ? kWclSuccess : kWclErrOBEXOperationFailed);
        return;
    }
    RequestNextGetPacket();
}

void TwclCustomOBEXClient::FinishGet(std::uint32_t result) {
    if (result == kWclSuccess && m_storeOverflow)
        result = kWclErrInvalidData;
    // The store is about to be cleared, so the object moves out of it rather
    // than being copied; it lives until the handler returns.
    std::optional<std::vector<std::uint8_t>> object;
    if (result == kWclSuccess)
        object.emplace(std::move(m_store));
    ClearTransferState();
    RaiseGetComplete(result, object ? &*object : nullptr);
}

void TwclCustomOBEXClient::FinishDir(std::uint32_t result) {
    if (result == kWclSuccess && m_storeOverflow)
        result = kWclErrInvalidData;
    std::unique_ptr<TwclFileSystemObjects> objects;
    if (result == kWclSuccess) {
        try {
            objects = std::make_unique<TwclFileSystemObjects>(
                ReadFolderListing(std::span<const std::uint8_t>(m_store)));
        } catch (const std::exception&) {
            result = kWclErrInvalidData;
        }
    }
    ClearTransferState();
    RaiseDirComplete(result, objects.get());
}

void TwclCustomOBEXClient::HandleBrokenResponse() {
    // The one who waits hears of it first, as for any other failure; then the
    // link closes, unless the handler has already seen to it.
    FailAndClose(kWclErrConnectionClosed);
}

void TwclCustomOBEXClient::FinishWithResult(TwclOBEXOperation operation, std::uint32_t result) {
    switch (operation) {
        case TwclOBEXOperation::ooGet:
            RaiseGetComplete(result, nullptr);
            break;
        case TwclOBEXOperation::ooDir:
            RaiseDirComplete(result, nullptr);
            break;
        default:
            RaiseComplete(result, operation);
            break;
    }
}

void TwclCustomOBEXClient::Complete(std::uint32_t result) {
    const TwclOBEXOperation operation = m_operation;
    // Idle before the handler runs, so it may start the next operation.
    ClearTransferState();
    RaiseComplete(result, operation);
}

void TwclCustomOBEXClient::ClearTransferState() {
    StopResponseTimer();
    m_source.reset();
    m_sourcePosition = 0;
    m_abortReport.reset();
    m_received.clear();
    // Swapped out rather than cleared, so a large object's memory goes now.
    std::vector<std::uint8_t>().swap(m_store);
    m_storePosition = 0;
    m_storeOverflow = false;
    m_operation = TwclOBEXOperation::ooNone;
    m_abortRequested = false;
}

bool TwclCustomOBEXClient::StillOnLink(const TwclCustomOBEXClient* client, const LinkMark& mark) {
    return !mark.life.expired() && mark.generation == client->m_linkGeneration;
}

void TwclCustomOBEXClient::DisconnectIfSameLink(TwclCustomOBEXClient* client,
                                                const LinkMark& mark) {
    if (StillOnLink(client, mark) && client->Active())
        client->Disconnect();
}

void TwclCustomOBEXClient::RaiseComplete(std::uint32_t result, TwclOBEXOperation operation) {
    Raise(OnComplete, *this, result, operation);
}

void TwclCustomOBEXClient::RaiseDirComplete(std::uint32_t result,
                                            const TwclFileSystemObjects* objects) {
    Raise(OnDirComplete, *this, result, objects);
}

void TwclCustomOBEXClient::RaiseGetComplete(std::uint32_t result,
                                            const std::vector<std::uint8_t>* object) {
    Raise(OnGetComplete, *this, result, object);
}

void TwclCustomOBEXClient::RaiseProgress(std::uint32_t position, std::uint32_t size) {
    Raise(OnProgress, *this, position, size);
}

void TwclCustomOBEXClient::RaiseStarted(TwclOBEXOperation operation) {
    Raise(OnStarted, *this, operation);
}

TwclOPPClient::TwclOPPClient(EventLoop& loop) : TwclCustomOBEXClient(loop) {
    BluetoothParams().SetServiceUUID(OBEXObjectPushServiceClassUUID);
    IrDAParams().SetService("OBEX");
}

std::vector<std::uint8_t> TwclOPPClient::BuildConnectRequest() const {
    const std::uint16_t size = Param().PacketSize();
    return {0x80,
            0x00,
            0x07,
            0x10,
            0x00,
            static_cast<std::uint8_t>(size >> 8),
            static_cast<std::uint8_t>(size & 0xFF)};
}

}  // namespace kavri
