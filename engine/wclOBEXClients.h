#pragma once

#include "engine/wclConnections.h"
#include "engine/wclXML.h"
#include "platform/EventLoop.h"
#include "stack/wclExceptions.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
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
// length field), the object store (a put's copy of the object, or a get's or
// listing's incoming bytes, at most kOBEXMaxIncomingObject), and Param.
// Throws: the operation calls raise wclENotConnected, wclEOperationInProgress,
// wclEInvalidArgument, wclENoActiveOperation and whatever Write raises
// (wclEWriteError, wclETimeout). Results of the asynchronous part arrive as
// codes: 0 success, 0x8000F032 CONNECT refused, 0x8000F01C put refused,
// aborted or broken response, 0x8000F035 other operation refused, 0x8000F034
// unreadable listing or oversized object. Exceptions thrown by the handlers of
// the five OBEX events go to the application's exception handler and no
// further.
//
// The peer is hostile: every read of a response is bounded by its length, a
// response whose length field is below 3 closes the link, and a peer maximum
// below OBEX's 255 is raised to 255 so a continuation packet never underflows.
class TwclCustomOBEXClient : public TwclCustomClientConnection {
public:
    explicit TwclCustomOBEXClient(EventLoop& loop);
    ~TwclCustomOBEXClient() override;  // Disconnect runs first

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
    // Copies the whole object first, so the caller may drop it on return. An
    // object of more than 4 GiB - 1 bytes (the Length header's limit) is an
    // invalid argument.
    virtual void Put(const std::string& name, std::span<const std::uint8_t> object);
    // Reads the stream from its start to its end; no stream, or a stream that
    // cannot be read, is an invalid argument.
    void Put(const std::string& name, std::istream* stream);
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
    // Writes the length into bytes 1-2 (the packet never exceeds 65535).
    static void FinishPacket(Packet& packet);
    // A later request of a running operation: a failure is ignored, the
    // operation then waits for the link to close.
    void WriteQuietly(const Packet& packet);
    void SendAbort();

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
    // The object store: its bytes and the read/write position.
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
