#pragma once

#include "platform/EventLoop.h"
#include "stack/wclConnectionBackend.h"
#include "stack/wclMessages.h"

#include <cstdint>
#include <memory>

namespace kavri {

// A Winsock stream socket as a connection's link: the Microsoft stack's
// RFCOMM sockets and the IrDA transport's sockets. The socket calls are
// resolved by name from "ws2_32.dll", which stays loaded as long as the link.
// The socket reports to the link's own message window (message 1052) on the
// loop thread; the link turns that into its events.
//
// Loop thread only. Opening throws wclEUnableConnect when the library, an
// entry point or a socket call fails, wclEInvalidAddress for an address the
// library cannot read, wclEInvalidIrDAService for an IrDA service name that
// does not fit the address. The signal level is not available from sockets
// (wclEFeatureNotSupported).
class wclWinsockLink final : public wclConnectionBackend {
public:
    static std::unique_ptr<wclWinsockLink> OpenBluetooth(EventLoop& loop,
                                                         const wclBluetoothLinkRequest& request,
                                                         wclLinkEvents events);
    static std::unique_ptr<wclWinsockLink> OpenIrDA(EventLoop& loop,
                                                    const wclIrDALinkRequest& request,
                                                    wclLinkEvents events);
    ~wclWinsockLink() override;

    void Write(const std::uint8_t* data, std::size_t size) override;
    void Close() override;
    int SignalLevel() override;

private:
    struct SocketApi;  // the resolved socket calls
    struct Opening;    // the steps of opening, shared by both families

    wclWinsockLink(EventLoop& loop, wclLinkEvents events, std::uint32_t readBuffer);
    void HandleSocketEvent(const Message& message);

    wclLinkEvents m_events;
    std::uint32_t m_readBuffer;
    std::unique_ptr<SocketApi> m_api;
    std::uintptr_t m_socket;  // a Winsock SOCKET
    bool m_selected = false;  // notifications were asked for
    bool m_up = false;        // the connect succeeded
    std::unique_ptr<MessageWindow> m_window;
};

}  // namespace kavri
