#pragma once

#include "platform/EventLoop.h"
#include "stack/wclConnectionBackend.h"
#include "stack/wclMessages.h"
#include "stack/wclSDPService.h"
#include "stack/wclToshibaApi.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kavri {

class wclSerialLink;

// The calls a Toshiba link makes, resolved by the binding, and the service
// lookup it runs for channel 0. The library stays loaded while a link or its
// lookup thread holds them. A missing entry point fails like a failed call.
struct wclToshibaCalls {
    std::shared_ptr<const void> library;
    toshiba::FnNotifyEvent notifyEvent = nullptr;
    toshiba::FnCreateCOMM createComm = nullptr;
    toshiba::FnDestroyCOMM destroyComm = nullptr;
    toshiba::FnConnectCOMM2 connectComm = nullptr;
    toshiba::FnDisconnectCOMM disconnectComm = nullptr;
    toshiba::FnNotifyCOMM notifyComm = nullptr;
    toshiba::FnGetConnectionHandle getConnectionHandle = nullptr;
    toshiba::FnGetLinkQuality getLinkQuality = nullptr;
    // The first service of that class on the device, or none; blocks, runs on
    // the lookup thread, throws nothing.
    std::function<std::optional<SdpServiceInfo>(const std::string& address, const GUID& uuid)>
        findService;
};

// One Toshiba link: the stack creates a virtual COM port (the first of COM1
// to COM255 it accepts), connects it to the device's channel and reports by
// messages to the link's window (1054 port created, 1055 connect events, 1056
// port events); an inner serial link then carries the data. A channel of 0
// is first looked up by the service's class on a self-freeing lookup thread
// that answers with 1063.
//
// Lives on the loop thread and reports onConnect exactly once: 0, 0x8000F01C
// when the stack refused the connection, 0x8000F02E when the lookup found no
// service, 0x8000F02B for every other failure (no free port, a failed call,
// a port that cannot be opened). Close releases the port notification, the
// connection and the port. Open raises wclEInvalidAddress for an address it
// cannot read.
class wclToshibaLink final : public wclConnectionBackend {
public:
    static std::unique_ptr<wclToshibaLink> Open(EventLoop& loop,
                                                const wclBluetoothLinkRequest& request,
                                                wclLinkEvents events, wclToshibaCalls calls);
    ~wclToshibaLink() override;

    void Write(const std::uint8_t* data, std::size_t size) override;
    void Close() override;
    // wclENotConnected without a connection handle, wclEUnableGetSignalLevel.
    int SignalLevel() override;

private:
    wclToshibaLink(EventLoop& loop, const wclBluetoothLinkRequest& request, wclLinkEvents events,
                   wclToshibaCalls calls);
    void Start();
    void HandleMessage(const Message& message);
    void SetUpPort();
    void PortCreated();
    void ConnectEvent(std::uint32_t event);
    void Fail(std::uint32_t result);
    void Report(std::uint32_t result);
    bool EventNotification(bool on);

    EventLoop& m_loop;
    wclBluetoothLinkRequest m_request;
    wclLinkEvents m_events;
    wclToshibaCalls m_calls;
    std::unique_ptr<MessageWindow> m_window;
    MessageWindowHandle m_handle;  // what the stack is given for m_window
    std::shared_ptr<int> m_life = std::make_shared<int>(0);

    toshiba::AddressBytes6 m_address{};
    std::uint8_t m_channel = 0;
    std::uint32_t m_portNumber = 0;
    std::string m_portName;
    bool m_eventsOn = false;
    bool m_connecting = false;  // BtConnectCOMM2 accepted
    bool m_refused = false;
    bool m_portNotifyOn = false;
    std::optional<std::uint16_t> m_connection;
    std::unique_ptr<wclSerialLink> m_serial;
    EventLoop::TimerId m_settleTimer = 0;
    bool m_reported = false;
    bool m_up = false;
};

}  // namespace kavri
