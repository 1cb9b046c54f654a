#include "stack/wclSerialLink.h"

#include "platform/SerialPort.h"
#include "stack/wclExceptions.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <vector>

#include <unistd.h>

namespace kavri {

wclSerialLink::wclSerialLink(EventLoop& loop, std::uint32_t port, std::uint32_t readBuffer,
                             std::uint32_t writeTimeoutMs, Events events)
    : m_loop(loop),
      m_port(SerialPort::Open(SerialPortPath(port), SerialLineSettings{})),
      m_readBuffer(std::max<std::uint32_t>(readBuffer, 1)),
      m_writeTimeoutMs(writeTimeoutMs),
      m_events(std::move(events)) {
    if (m_port == nullptr) {
        throw wclEUnableConnect();
    }
    m_watch = m_loop.WatchFd(m_port->Fd(), EventLoop::kReadable,
                             [this](unsigned ready) { OnReady(ready); });
}

wclSerialLink::~wclSerialLink() {
    StopWatching();
}

void wclSerialLink::StopWatching() {
    if (m_watch != 0) {
        m_loop.UnwatchFd(m_watch);
        m_watch = 0;
    }
}

void wclSerialLink::Write(const std::uint8_t* data, std::size_t size) {
    if (m_port == nullptr || m_watch == 0) {
        throw wclEWriteError();
    }
    if (m_port->Write(data, size, std::chrono::milliseconds(m_writeTimeoutMs)) !=
        SerialPort::WriteResult::Written) {
        throw wclEWriteError();
    }
}

void wclSerialLink::OnReady(unsigned) {
    std::vector<std::uint8_t> buffer(m_readBuffer);
    const ssize_t count = ::read(m_port->Fd(), buffer.data(), buffer.size());
    if (count < 0 && (errno == EAGAIN || errno == EINTR)) {
        return;
    }
    if (count > 0) {
        if (m_events.onData) {
            const auto onData = m_events.onData;
            onData(buffer.data(), static_cast<std::size_t>(count));
        }
        return;
    }
    // End of file or an error: the far end of the line has hung up.
    StopWatching();
    if (m_events.onClose) {
        const auto onClose = m_events.onClose;
        onClose();
    }
}

}  // namespace kavri
