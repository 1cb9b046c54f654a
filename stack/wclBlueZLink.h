#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "platform/EventLoop.h"
#include "stack/wclBlueZPlatform.h"
#include "stack/wclConnectionBackend.h"
#include "stack/wclMessages.h"

namespace kavri {

// An RFCOMM socket of the BlueZ stack as a connection's link. The socket is
// opened without blocking and the loop watches it: the connect ends when it
// turns writable, then whatever arrives is handed on. The connection's own
// connect time-out bounds the wait. A link asked for channel 0 first finds the
// channel of the requested service on a thread of its own (a blocking SDP
// lookup), which holds only copies and posts its answer back.
//
// Loop thread only. Connect results, as for the system's other sockets: 0;
// 0x8000F02E when the device has no such service; 0x8000F02F for a time-out;
// 0x8000F01D when the system refuses the socket; 0x8000F028 for a link that
// exists already; 0x8000F01C when the attempt was aborted; 0x8000F02B
// otherwise (refused, host down, busy). Writes wait for room
// at most the write time-out and raise wclEWriteError then or on a failure.
class wclBlueZLink final : public wclConnectionBackend {
public:
    // Runs on the lookup thread: the channel of the requested service, or
    // nothing when the device has none.
    using ServiceLookup = std::function<std::optional<std::uint8_t>()>;

    static std::unique_ptr<wclBlueZLink> Open(EventLoop& loop, bluez::Platform platform,
                                              const wclBluetoothLinkRequest& request,
                                              wclLinkEvents events, ServiceLookup lookup);
    ~wclBlueZLink() override;

    void Write(const std::uint8_t* data, std::size_t size) override;
    void Close() override;
    int SignalLevel() override;

private:
    struct LookupSlot;

    wclBlueZLink(EventLoop& loop, bluez::Platform platform, const wclBluetoothLinkRequest& request,
                 wclLinkEvents events);
    void StartLookup(ServiceLookup lookup);
    void StartConnect(std::uint8_t channel);
    void HandleMessage(const Message& message);
    void SocketEvent();
    void Receive();
    void Report(std::uint32_t result);
    void ReportLater(std::uint32_t result);
    void Closed();
    void StopWatching();

    EventLoop& m_loop;
    bluez::Platform m_platform;
    std::uint64_t m_address = 0;
    wclLinkSettings m_settings;
    wclLinkEvents m_events;
    int m_fd = -1;
    EventLoop::WatchId m_watch = 0;
    bool m_reported = false;
    bool m_up = false;
    std::shared_ptr<LookupSlot> m_lookup;
    std::unique_ptr<MessageWindow> m_window;
    std::shared_ptr<int> m_life = std::make_shared<int>(0);
};

}  // namespace kavri
