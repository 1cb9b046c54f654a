#pragma once

#include "engine/wclConnections.h"
#include "engine/wclOBEXObjectSource.h"
#include "engine/wclXML.h"
#include "platform/EventLoop.h"
#include "stack/wclExceptions.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kavri {

// The operation an OBEX client is running; ooNone when idle.
enum class TwclOBEXOperation : std::uint8_t {
    ooNone = 0,
    ooOpenSession = 1,
    ooPut = 2,
    ooGet = 3,
    ooDelete = 4,
    ooSetPath = 5,
    ooMakeDir = 6,
    ooDir = 7,
    ooTerminate = 8,
};

// The smallest packet length OBEX allows a party to announce.
inline constexpr std::uint16_t kOBEXMinimumPacketSize = 255;
// An object received by a get or a folder listing is held in memory up to
// this many bytes; a peer that sends more is cut short (see
// TwclCustomOBEXClient).
inline constexpr std::size_t kOBEXMaxIncomingObject = 64u * 1024u * 1024u;

class TwclCustomOBEXClient;

// The OBEX parameters of a client: the largest packet it announces in its
// CONNECT request. Same rules as every connection parameter: a change while
// the owning connection is Active raises wclEConnectionActive; a value below
// 255 raises wclEInvalidPacketSize.
class TwclOBEXParams : public TwclCustomParams {
public:
    using TwclCustomParams::TwclCustomParams;
    std::uint16_t PacketSize() const { return m_packetSize; }
    void SetPacketSize(std::uint16_t size);

private:
    std::uint16_t m_packetSize = 2048;
};

// An OBEX client (version 1.0) on top of a client connection. When the
// transport link is up it sends CONNECT and reports the connection's OnConnect
// only when the peer answers; then it runs one operation at a time (put, get,
// delete, folder listing, set path, make folder), each started by a call that
// writes the first request and finished by an event when the peer's final
// response arrives.
//
// Thread: the thread that owns the connection (the main thread); received
// bytes, responses and every event run there, one response at a time.
// Owns: the receive buffer (at most one response, 65535 bytes by the 16-bit
// length field), the source of a put's object (read a packet at a time, so a
// put holds one packet of it), the object store (a get's or listing's
// incoming bytes, at most kOBEXMaxIncomingObject), and Param.
//
// Every request that waits for a response (CONNECT, each packet of an
// operation, ABORT) waits at most ResponseTimeOut. When it expires the client
// sends ABORT for an operation under way, ends the operation with 0x8000F02F
// (wclETimeout's code; OnConnect for the CONNECT) and closes the link. A later
// request of an operation that cannot be written ends the operation at once
// with the write's error code and closes the link. A put whose object can no
// longer be read sends ABORT instead of the next packet and ends with
// 0x8000F034 when that is answered; the link stays.
// Throws: the operation calls raise wclENotConnected, wclEOperationInProgress,
// wclEInvalidArgument, wclENoActiveOperation and whatever Write raises
// (wclEWriteError, wclETimeout). Results of the asynchronous part arrive as
// codes: 0 success, 0x8000F032 CONNECT refused, 0x8000F01C put refused,
// aborted or broken response, 0x8000F035 other operation refused, 0x8000F034
// unreadable listing, oversized object or unreadable object to put,
// 0x8000F02F no response in time, 0x8000F02D (or the transport's code) a
// later request that could not be written. Exceptions thrown by the handlers of
// the five OBEX events go to the application's exception handler and no
// further.
//
// The peer is hostile: every read of a response is bounded by its length, a
// response whose length field is below 3 closes the link, and a peer maximum
// below OBEX's 255 is raised to 255 so a continuation packet never underflows.
class TwclCustomOBEXClient : public TwclCustomClientConnection {
public:
    static constexpr std::int32_t kDefaultResponseTimeOut = 60000;

    explicit TwclCustomOBEXClient(EventLoop& loop);
    ~TwclCustomOBEXClient() override;  // Disconnect runs first

    // How long a request waits for its response, in ms; 0 or less waits
    // without limit. A different value raises wclEConnectionActive while
    // Active.
    std::int32_t ResponseTimeOut() const { return m_responseTimeOut; }
    void SetResponseTimeOut(std::int32_t ms);

    TwclOBEXParams& Param() { return m_param; }
    const TwclOBEXParams& Param() const { return m_param; }
    TwclOBEXOperation Operation() const { return m_operation; }
    // The peer's Connection Id (0: none) and announced maximum packet length
    // (0 before CONNECT succeeds), as received.
    std::uint32_t ConnectionId() const { return m_connectionId; }
    std::uint16_t PeerMaximum() const { return m_peerMaximum; }
    bool OBEXConnected() const { return m_obexConnected; }

    // Each needs a connected link (wclENotConnected) and no operation in
    // progress (wclEOperationInProgress), then checks its argument
    // (wclEInvalidArgument). Names are UTF-8; they travel as UTF-16BE. A name
    // that would not fit a 16-bit OBEX packet is refused as an invalid
    // argument. If writing the first request raises, the operation returns to
    // ooNone and the exception passes on.
    virtual void Delete(const std::string& name);
    virtual void Dir();
    virtual void Get(const std::string& name);
    virtual void MakeDir(const std::string& name);
    // Takes the object's source for the whole put and reads it as the
    // packets go out. No source, or one of more than 4 GiB - 1 bytes (the
    // Length header's limit), is an invalid argument.
    virtual void Put(const std::string& name, std::unique_ptr<TwclOBEXObjectSource> object);
    // Copies the object first, so the caller may drop it on return.
    void Put(const std::string& name, std::span<const std::uint8_t> object);
    virtual void SetPath(const std::string& name);
    // Asks for the running put, get or listing to be aborted at its next
    // CONTINUE; returns the operation in progress. Raises wclENotConnected,
    // wclEOperationInProgress while an abort is under way, and
    // wclENoActiveOperation when idle or still opening the session.
    virtual TwclOBEXOperation Abort();

    using CompleteEvent = std::function<void(TwclCustomOBEXClient& sender, std::uint32_t result,
                                             TwclOBEXOperation operation)>;
    // The list and the bytes belong to the client and live only during the
    // handler; nullptr when the operation failed.
    using DirCompleteEvent = std::function<void(TwclCustomOBEXClient& sender, std::uint32_t result,
                                                const TwclFileSystemObjects* objects)>;
    using GetCompleteEvent = std::function<void(TwclCustomOBEXClient& sender, std::uint32_t result,
                                                const std::vector<std::uint8_t>* object)>;
    using ProgressEvent = std::function<void(TwclCustomOBEXClient& sender, std::uint32_t position,
                                             std::uint32_t size)>;
    using StartedEvent =
        std::function<void(TwclCustomOBEXClient& sender, TwclOBEXOperation operation)>;

    CompleteEvent OnComplete;
    DirCompleteEvent OnDirComplete;
    GetCompleteEvent OnGetComplete;
    ProgressEvent OnProgress;
    StartedEvent OnStarted;

protected:
    // The CONNECT request this client sends when the link comes up.
    virtual std::vector<std::uint8_t> BuildConnectRequest() const = 0;

    bool AfterConnect() override;
    bool ProcessData(const std::uint8_t* data, std::size_t size) override;
    void BeforeDisconnect() override;

private:
    // A response as received: the code in byte 0, the length in bytes 1-2.
    using Packet = std::vector<std::uint8_t>;

    // Taken before an event is raised: a handler may close the link (and open
    // another) or destroy the client, and what runs after it must know.
    struct LinkMark {
        std::weak_ptr<void> life;
        std::uint64_t generation = 0;
    };
    LinkMark MarkLink() const { return {LifeToken(), m_linkGeneration}; }
    // Whether the client still exists and its link is the one marked. Static,
    // so that it may be asked about a client that is gone.
    static bool StillOnLink(const TwclCustomOBEXClient* client, const LinkMark& mark);

    // Operation preconditions shared by the six calls.
    void CheckCanStart() const;
    // Sets the operation, writes the request, raises OnStarted; on a write
    // failure the operation returns to ooNone and the exception passes on.
    void StartOperation(TwclOBEXOperation operation, const Packet& request);
    // A request of the given opcode with the fixed bytes after the length and
    // the Connection Id header when there is one; the length is filled in by
    // FinishPacket.
    Packet BeginRequest(std::uint8_t opcode, std::span<const std::uint8_t> fixed = {}) const;
    // The same, built into packet (its capacity kept).
    void BeginRequest(Packet& packet, std::uint8_t opcode,
                      std::span<const std::uint8_t> fixed = {}) const;
    // Writes the length into bytes 1-2 (the packet never exceeds 65535).
    static void FinishPacket(Packet& packet);
    // Writes a request that waits for a response and starts the response
    // timer; what Write raises passes on.
    void WriteRequest(const Packet& packet);
    // A later request of a running operation. A write failure ends the
    // operation with the failure's code and closes the link; false then.
    bool WriteFollowUp(const Packet& packet);
    // ABORT; the operation becomes ooTerminate. report: what the answer to
    // it ends the operation with (nothing: 0x8000F01C and ooTerminate).
    struct Report {
        std::uint32_t result;
        TwclOBEXOperation operation;
    };
    void SendAbort(std::optional<Report> report = std::nullopt);
    void StopResponseTimer();
    void ResponseTimerTick();
    // Ends the operation under way (the CONNECT included) with result through
    // its own event, then closes the link unless a handler did.
    void FailAndClose(std::uint32_t result);
    // The put's next packet: Body data, or the final empty End-of-Body.
    void SendNextPutPacket();

    void HandleResponse(const Packet& response);
    void HandleConnectResponse(const Packet& response);
    void HandlePutResponse(const Packet& response);
    void HandleGetResponse(const Packet& response);
    void HandleDirResponse(const Packet& response);
    void RequestNextGetPacket();
    // Stores the data of the response's first Body or End-of-Body header.
    void StoreBody(const Packet& response);
    void FinishGet(std::uint32_t result);
    void FinishDir(std::uint32_t result);
    // A response too short to be one: the link is closed with 0x8000F01C.
    void HandleBrokenResponse();
    // Ends the operation with result through the event that belongs to it.
    void FinishWithResult(TwclOBEXOperation operation, std::uint32_t result);
    void Complete(std::uint32_t result);
    void ClearTransferState();
    // Closes the link unless a handler already closed it (or closed and
    // reopened it, or destroyed the client) since the mark was taken.
    static void DisconnectIfSameLink(TwclCustomOBEXClient* client, const LinkMark& mark);

    void RaiseComplete(std::uint32_t result, TwclOBEXOperation operation);
    void RaiseDirComplete(std::uint32_t result, const TwclFileSystemObjects* objects);
    void RaiseGetComplete(std::uint32_t result, const std::vector<std::uint8_t>* object);
    void RaiseProgress(std::uint32_t position, std::uint32_t size);
    void RaiseStarted(TwclOBEXOperation operation);

    std::vector<std::uint8_t> m_received;
    std::uint32_t m_connectionId = 0;
    // The object of a put, the bytes of it already sent, and the packet
    // being built (kept, so a put does not allocate per packet).
    std::unique_ptr<TwclOBEXObjectSource> m_source;
    std::uint64_t m_sourcePosition = 0;
    Packet m_packet;
    // What an ABORT's answer ends the operation with, when not the default.
    std::optional<Report> m_abortReport;
    std::int32_t m_responseTimeOut = kDefaultResponseTimeOut;
    EventLoop::TimerId m_responseTimer = 0;
    // When the request outstanding goes unanswered; max while none is.
    Clock::TimePoint m_responseDeadline = Clock::TimePoint::max();
    // The object store of a get or listing: its bytes and the write position.
    std::vector<std::uint8_t> m_store;
    std::size_t m_storePosition = 0;
    // The peer sent more than kOBEXMaxIncomingObject.
    bool m_storeOverflow = false;
    TwclOBEXOperation m_operation = TwclOBEXOperation::ooNone;
    TwclOBEXParams m_param{*this};
    std::uint16_t m_peerMaximum = 0;
    bool m_obexConnected = false;
    bool m_abortRequested = false;
    // Counts links closed, so code running after an event handler can tell
    // whether the handler closed the link.
    std::uint64_t m_linkGeneration = 0;
};

// The Object Push client: targets the Object Push service (UUID 0x1105) over
// Bluetooth and the "OBEX" service over IrDA, and connects without a Target
// header. Same thread, ownership and errors as TwclCustomOBEXClient.
class TwclOPPClient : public TwclCustomOBEXClient {
public:
    explicit TwclOPPClient(EventLoop& loop);

protected:
    // 80 00 07 10 00 P P: OBEX 1.0, no flags, our PacketSize.
    std::vector<std::uint8_t> BuildConnectRequest() const override;
};

}  // namespace kavri
