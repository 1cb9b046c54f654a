#pragma once

#include "platform/EventLoop.h"
#include "stack/wclBluetoothAddress.h"
#include "stack/wclConnectionBackend.h"
#include "stack/wclMessages.h"

#include <cstdint>
#include <memory>
#include <string>

namespace kavri {

namespace widcomm {
struct Api;
}

// A Widcomm RFCOMM client object as a connection's link. The adapter reports
// to the link's own message window: 1060 (connect result), 1061 (bytes, sent
// synchronously), 1062 (link closed). With channel 0 the channel is first
// found by a service lookup on a thread of its own, which holds only copies
// and the adapter, answers with 1063 and ends by itself; the link uses the
// first service of the requested class, or reports 0x8000F02E when there is
// none.
//
// Loop thread only. Opening throws wclEUnableConnect when the adapter cannot
// make a client object; every later failure of the attempt arrives as the
// one onConnect: 0x8000F02B when the adapter refuses to open, 0x8000F01C when
// the stack reports a failed connect. The adapter stays loaded as long as the
// link. Writes go out in pieces of at most 65535 bytes (the adapter takes a
// 16-bit length); wclEWriteError when the client is no longer connected or a
// write fails or makes no progress.
class wclWidcommLink final : public wclConnectionBackend {
public:
    static std::unique_ptr<wclWidcommLink> Open(EventLoop& loop,
                                                std::shared_ptr<const widcomm::Api> api,
                                                const wclBluetoothLinkRequest& request,
                                                wclLinkEvents events);
    ~wclWidcommLink() override;

    void Write(const std::uint8_t* data, std::size_t size) override;
    void Close() override;
    int SignalLevel() override;

private:
    struct LookupSlot;  // the answer of the service lookup thread

    wclWidcommLink(EventLoop& loop, std::shared_ptr<const widcomm::Api> api,
                   const wclBluetoothLinkRequest& request, wclLinkEvents events);
    void StartLookup();
    // WD_OpenRfCommClient for the service; false when the adapter refuses.
    bool OpenService(std::uint8_t channel, const std::string& name);
    void HandleMessage(const Message& message);
    void Report(std::uint32_t result);
    void DeliverData(const std::uint8_t* data, std::size_t size);

    EventLoop& m_loop;
    std::shared_ptr<const widcomm::Api> m_api;
    wclBluetoothLinkRequest m_request;
    AddressBytes m_address{};
    wclLinkEvents m_events;
    void* m_client = nullptr;  // the adapter's object; null once closed
    bool m_connected = false;
    bool m_reported = false;  // onConnect has been called
    std::shared_ptr<LookupSlot> m_lookup;
    std::shared_ptr<int> m_life = std::make_shared<int>(0);  // weak copies see the link go
    std::unique_ptr<MessageWindow> m_window;
};

}  // namespace kavri
