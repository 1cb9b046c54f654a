#pragma once

#include "platform/EventLoop.h"
#include "stack/wclBlueSoleilApi.h"
#include "stack/wclConnectionBackend.h"
#include "stack/wclMessages.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kavri {

class wclSerialLink;

// Messages of the BlueSoleil connect thread to its link's window.
namespace wclBlueSoleilMsg {
inline constexpr std::uint32_t kConnectionEvent = 1057;  // the link is lost
inline constexpr std::uint32_t kConnected = 1058;        // (handle, COM port number)
inline constexpr std::uint32_t kConnectFailed = 1059;    // (status, 0)
}  // namespace wclBlueSoleilMsg

// The calls a BlueSoleil link makes, resolved by the binding. The library
// stays loaded while a link or its connect thread holds them. A missing entry
// point answers like a failed call.
struct wclBlueSoleilCalls {
    std::shared_ptr<const void> library;
    bluesoleil::FnConnectSPPExService connect = nullptr;
    bluesoleil::FnDisconnectSPPExService disconnect = nullptr;
    bluesoleil::FnGetRemoteDeviceInfo getRemoteDeviceInfo = nullptr;

    bluesoleil::Dword Connect(const std::uint8_t* device, std::uint8_t* service,
                              bluesoleil::Dword* handle) const;
    void Disconnect(bluesoleil::Dword handle) const;
    bluesoleil::Dword GetRemoteDeviceInfo(bluesoleil::Dword mask, std::uint8_t* record) const;
};

// Which connection window hears of the loss of which stack connection. The
// stack's connection callback carries nothing but the handle, so the table is
// process-wide (one per process, as the stack is), behind its own lock. A
// handle is entered once; entering it again replaces the window.
class wclBlueSoleilHandleTable {
public:
    static wclBlueSoleilHandleTable& Instance();

    void Add(bluesoleil::Dword handle, const MessageWindowHandle& window);
    void Remove(bluesoleil::Dword handle);
    std::optional<MessageWindowHandle> Find(bluesoleil::Dword handle) const;

    // The callback registered with the stack for its connection status event:
    // status 4 for a known handle sends 1057 to that handle's window and waits
    // for it to be handled; anything else is ignored. Any thread.
    static void ConnectionCallback(bluesoleil::Dword handle, bluesoleil::Dword status);

private:
    wclBlueSoleilHandleTable() = default;
    mutable std::mutex m_mutex;
    std::vector<std::pair<bluesoleil::Dword, MessageWindowHandle>> m_entries;
};

// One BlueSoleil link: the stack connects the device's serial-port-profile
// service on a connect thread (it blocks) and hands back a virtual COM port,
// over which an inner serial link carries the data.
//
// Lives on the loop thread. The connect thread is self-freeing and holds only
// copies (the calls, the address, channel and class, the window handle and
// the state it shares with the link); it answers with one posted message,
// 1058 or 1059, so the link reports onConnect exactly once: 0, or 0x8000F007,
// 0x8000F028, 0x8000F02E, 0x8000F02F for stack statuses 6, 7, 10, 11,
// 0x8000F02B for any other failure (also when the COM port cannot be opened).
// A stack connection that completes after the link was closed is
// disconnected again by whoever sees it last, so none is left open. Open
// raises wclEInvalidAddress for an address it cannot read.
class wclBlueSoleilLink final : public wclConnectionBackend {
public:
    static std::unique_ptr<wclBlueSoleilLink> Open(EventLoop& loop,
                                                   const wclBluetoothLinkRequest& request,
                                                   wclLinkEvents events, wclBlueSoleilCalls calls);
    ~wclBlueSoleilLink() override;

    void Write(const std::uint8_t* data, std::size_t size) override;
    void Close() override;
    // The stack's signal value for the device; wclEUnableGetSignalLevel.
    int SignalLevel() override;

    struct Shared;  // what the link shares with its connect thread

private:
    wclBlueSoleilLink(EventLoop& loop, const wclBluetoothLinkRequest& request, wclLinkEvents events,
                      wclBlueSoleilCalls calls);
    void HandleMessage(const Message& message);
    void Connected(bluesoleil::Dword handle, std::uint32_t port);
    void Report(std::uint32_t result);

    EventLoop& m_loop;
    std::string m_address;
    wclLinkSettings m_settings;
    wclLinkEvents m_events;
    wclBlueSoleilCalls m_calls;
    std::shared_ptr<Shared> m_shared;
    std::optional<bluesoleil::Dword> m_handle;
    std::unique_ptr<wclSerialLink> m_serial;
    std::unique_ptr<MessageWindow> m_window;
    bool m_up = false;
};

// The result code a failed connect status stands for.
std::uint32_t BlueSoleilConnectResult(bluesoleil::Dword status);

}  // namespace kavri
