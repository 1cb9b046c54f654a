#pragma once

#include "platform/EventLoop.h"
#include "sim/Scenario.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kavri::sim {

// The Object Push service of one virtual device: an OBEX server on a loopback
// TCP port that keeps every object pushed to it in an inbox folder, and treats
// pushes the way the device's behaviour says (sim/OBEX.md describes what a
// client sees for each one).
//
// It lives on the thread of the event loop it is given: construct it, use it
// and destroy it there; every link is served through fd watches and timers of
// that loop, on the loop's clock, so a test with a ManualClock decides when
// delayed answers go out and how fast a rate-limited link reads. Several links
// may be open at once. It owns its listening socket, its links and the
// temporary files of objects still arriving; objects already stored stay in
// the inbox when it goes.
//
// No server is started (Port() is 0) for a device without an Object Push
// service, and for a device with an external endpoint: the connection layer
// connects to that endpoint instead, so any OBEX server over TCP can stand
// behind a virtual address.
//
// The constructor throws std::system_error when the socket cannot be set up,
// std::filesystem::filesystem_error when the inbox cannot be created, and
// std::invalid_argument for options out of range or a refuse code that is not
// a final refusal. Nothing a client sends makes it throw: bad packets get an
// OBEX error response or close the link.
class ObexPushServer {
public:
    struct Options {
        // 0: an ephemeral port.
        std::uint16_t port = 0;
        // The maximum packet length announced in the CONNECT response, 255 to
        // 65535; longer request packets are refused and end the link.
        std::uint16_t maxPacketLength = 0xFFFF;
        // Announced in a Connection Id header of the CONNECT response when set;
        // a request that then carries another id is refused.
        std::optional<std::uint32_t> connectionId = std::nullopt;
        // Objects larger than this are refused (announced or as they arrive).
        std::uint64_t maxObjectBytes = 256ull * 1024 * 1024;
        // Links beyond this many at once are closed as soon as accepted.
        std::size_t maxLinks = 64;
    };

    struct Counters {
        std::uint64_t linksAccepted = 0;  // taken into service
        std::uint64_t linksRefused = 0;   // busy device, or too many links
        std::uint64_t linksDropped = 0;   // closed by the drop-after-bytes behaviour
        std::uint64_t bytesReceived = 0;
        std::uint64_t responsesSent = 0;  // responses written to a link
        std::uint64_t connectsAccepted = 0;
        std::uint64_t connectsRefused = 0;
        std::uint64_t objectsReceived = 0;
        std::uint64_t objectsRefused = 0;  // refused by behaviour, size or as a delete
        std::uint64_t objectsAborted = 0;  // ABORT, or the link went mid-object
        std::uint64_t protocolErrors = 0;  // malformed packets and misplaced requests
    };

    // OBEX response codes (final bit set) that the server sends.
    static constexpr std::uint8_t kContinue = 0x90;
    static constexpr std::uint8_t kSuccess = 0xA0;
    static constexpr std::uint8_t kBadRequest = 0xC0;
    static constexpr std::uint8_t kForbidden = 0xC3;
    static constexpr std::uint8_t kEntityTooLarge = 0xCD;
    static constexpr std::uint8_t kInternalError = 0xD0;
    static constexpr std::uint8_t kNotImplemented = 0xD1;
    static constexpr std::uint8_t kServiceUnavailable = 0xD3;

    // Stored file names are at most this many bytes of UTF-8, before a " (n)"
    // that tells apart objects of the same name.
    static constexpr std::size_t kMaxFileNameBytes = 200;

    ObexPushServer(EventLoop& loop, const DeviceSpec& device, std::filesystem::path inbox);
    ObexPushServer(EventLoop& loop, const DeviceSpec& device, std::filesystem::path inbox,
                   Options options);
    ~ObexPushServer();
    ObexPushServer(const ObexPushServer&) = delete;
    ObexPushServer& operator=(const ObexPushServer&) = delete;

    // The loopback port it listens on; 0 when no server was started.
    std::uint16_t Port() const { return m_port; }
    const std::filesystem::path& Inbox() const { return m_inbox; }
    const Counters& GetCounters() const { return m_counters; }
    std::size_t LinkCount() const { return m_links.size(); }

    // Raised on the loop thread when an object has been stored: its OBEX name
    // (UTF-8), the file it went to and its size. The handler must not destroy
    // the server.
    std::function<void(const std::string& name, const std::filesystem::path& path,
                       std::uint64_t size)>
        OnObjectReceived;

    // The file name an object of that OBEX name (UTF-8) is stored under: no
    // path separators, no control or bidirectional-formatting characters, none
    // of < > : " | ? *, no leading dots or spaces (so never "." or ".."), no
    // trailing dots or spaces, at most kMaxFileNameBytes bytes with a short
    // extension kept, and "object" when nothing is left.
    static std::string SafeFileName(std::string_view obexName);

private:
    struct Link;
    struct IncomingObject;

    void OnListenReady(unsigned events);
    void OnLinkEvents(std::uint64_t id, unsigned events);
    void ReadFromLink(Link& link);
    void ProcessInput(Link& link);
    void HandlePacket(Link& link, const std::uint8_t* packet, std::size_t length);
    void HandleConnect(Link& link, const std::uint8_t* packet, std::size_t length);
    void HandlePut(Link& link, const std::uint8_t* packet, std::size_t length, bool final);
    bool AppendBody(Link& link, const std::uint8_t* data, std::size_t size);
    bool OpenTempFile(IncomingObject& object);
    void FinishObject(Link& link);
    void DiscardObject(Link& link);
    void Respond(Link& link, std::string bytes, bool closeAfter = false);
    void SendDelayed(std::uint64_t id);
    void Write(Link& link, std::string bytes, bool closeAfter);
    void Flush(Link& link);
    void UpdateWatch(Link& link);
    std::size_t ReadAllowance(Link& link);
    void PauseReading(Link& link);
    void CloseLink(Link& link);
    void CloseAllLinks();

    EventLoop& m_loop;
    DeviceSpec m_device;
    std::filesystem::path m_inbox;
    Options m_options;
    std::uint64_t m_rate = 0;  // bytes a second a link reads; 0: unlimited
    int m_listenFd = -1;
    std::uint16_t m_port = 0;
    EventLoop::WatchId m_listenWatch = 0;
    std::map<std::uint64_t, std::unique_ptr<Link>> m_links;
    std::uint64_t m_nextLinkId = 1;
    Counters m_counters;
};

}  // namespace kavri::sim
