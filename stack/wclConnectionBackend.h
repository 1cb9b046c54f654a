#pragma once

#include "stack/wclUUIDs.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace kavri {

// What every stream link takes from its connection: the socket options of the
// read and write time-outs (ms) and of the receive and send buffers (bytes).
// ReadBuffer also bounds each chunk handed on.
struct wclLinkSettings {
    std::uint32_t readTimeout = 10000;
    std::uint32_t writeTimeout = 10000;
    std::uint32_t readBuffer = 2048;
    std::uint32_t writeBuffer = 2048;
};

// A Bluetooth RFCOMM link to open: the 19-character device address, the
// channel (0: the stack finds the channel of serviceUUID), and whether the
// link is authenticated and encrypted.
struct wclBluetoothLinkRequest {
    std::string address;
    std::uint8_t channel = 0;
    GUID serviceUUID{};
    bool authentication = false;
    bool encryption = false;
    wclLinkSettings settings;
};

// An IrDA link to open: the 13-character device address, the service name
// (at most 24 bytes), and whether to ask for nine-wire mode.
struct wclIrDALinkRequest {
    std::string address;
    std::string service;
    bool nineWire = true;
    wclLinkSettings settings;
};

// How a link reports to its connection, always on the loop thread and never
// from inside the call that opened it. onConnect comes once with 0 or a
// library result code; onData brings each received chunk (valid only during
// the call); onClose says the remote side or the transport ended the link.
// Any of them may close and destroy the link that calls it: the link touches
// nothing of its own after a callback.
struct wclLinkEvents {
    std::function<void(std::uint32_t result)> onConnect;
    std::function<void(const std::uint8_t* data, std::size_t size)> onData;
    std::function<void()> onClose;
};

// One open stream link, as a stack's binding or a transport supplies it to a
// client connection. Created, used and destroyed on the loop thread of the
// connection; destroying it closes it.
class wclConnectionBackend {
public:
    wclConnectionBackend() = default;
    virtual ~wclConnectionBackend() = default;
    wclConnectionBackend(const wclConnectionBackend&) = delete;
    wclConnectionBackend& operator=(const wclConnectionBackend&) = delete;

    // Returns when every byte is handed to the transport; wclEWriteError (or
    // the transport's own error) otherwise.
    virtual void Write(const std::uint8_t* data, std::size_t size) = 0;
    // Ends the link; no callback comes afterwards. Harmless twice.
    virtual void Close() = 0;
    // The link's received signal strength; a stack that cannot read it raises
    // wclEUnableGetSignalLevel.
    virtual int SignalLevel();
};

}  // namespace kavri
