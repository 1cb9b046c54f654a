#pragma once

#include "platform/EventLoop.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace kavri {

class SerialPort;

// The inner serial connection of the stacks that hand back a virtual COM
// port (BlueSoleil, Toshiba): the port opened raw through the serial
// transport (SerialPortPath, SerialPort) and read on the loop thread through
// an fd watch, each read bounded by readBuffer bytes. onData gets every chunk
// (valid only during the call); onClose comes once when the line hangs up.
// Either callback may destroy this object: nothing of it is touched after a
// callback returns.
//
// Loop thread only. Open raises wclEUnableConnect when the port cannot be
// opened; Write raises wclEWriteError when the line fails or the write
// time-out (real time) passes.
class wclSerialLink {
public:
    struct Events {
        std::function<void(const std::uint8_t* data, std::size_t size)> onData;
        std::function<void()> onClose;
    };

    wclSerialLink(EventLoop& loop, std::uint32_t port, std::uint32_t readBuffer,
                  std::uint32_t writeTimeoutMs, Events events);
    ~wclSerialLink();
    wclSerialLink(const wclSerialLink&) = delete;
    wclSerialLink& operator=(const wclSerialLink&) = delete;

    void Write(const std::uint8_t* data, std::size_t size);

private:
    void OnReady(unsigned events);
    void StopWatching();

    EventLoop& m_loop;
    std::unique_ptr<SerialPort> m_port;
    std::uint32_t m_readBuffer;
    std::uint32_t m_writeTimeoutMs;
    Events m_events;
    EventLoop::WatchId m_watch = 0;
};

}  // namespace kavri
