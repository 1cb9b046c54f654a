#include "stack/wclBlueZLink.h"

#include "stack/wclBluetoothAddress.h"
#include "stack/wclExceptions.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kavri {
namespace {

constexpr std::uint32_t kServiceFound = 1063;

// A failed connect, as the connection reports it.
wclResult ConnectErrorToResult(int error) {
    switch (error) {
        case ETIMEDOUT:
            return kWclErrTimeout;
        case EACCES:
        case EPERM:
            return kWclErrAccessDenied;
        case EADDRINUSE:
        case EISCONN:
            return kWclErrConnectionExists;
        case ECONNABORTED:
            return kWclErrConnectionClosed;
        default:  // refused, host down, unreachable, busy
            return kWclErrUnableConnect;
    }
}

}  // namespace

struct wclBlueZLink::LookupSlot {
    std::mutex mutex;
    std::optional<std::uint8_t> channel;  // guarded by mutex
};

wclBlueZLink::wclBlueZLink(EventLoop& loop, bluez::Platform platform,
                           const wclBluetoothLinkRequest& request, wclLinkEvents events)
    : m_loop(loop),
      m_platform(std::move(platform)),
      m_settings(request.settings),
      m_events(std::move(events)) {}

wclBlueZLink::~wclBlueZLink() {
    Close();
}

std::unique_ptr<wclBlueZLink> wclBlueZLink::Open(EventLoop& loop, bluez::Platform platform,
                                                 const wclBluetoothLinkRequest& request,
                                                 wclLinkEvents events, ServiceLookup lookup) {
    ValidateAddress(request.address);
    std::unique_ptr<wclBlueZLink> link(
        new wclBlueZLink(loop, std::move(platform), request, std::move(events)));
    link->m_address = AddressToUInt64(request.address);
    link->m_window = std::make_unique<MessageWindow>(
        loop, [raw = link.get()](const Message& message) { raw->HandleMessage(message); });
    if (request.channel == 0) {
        link->StartLookup(std::move(lookup));
    } else {
        link->StartConnect(request.channel);
    }
    return link;
}

void wclBlueZLink::StartLookup(ServiceLookup lookup) {
    m_lookup = std::make_shared<LookupSlot>();
    try {
        std::thread([lookup = std::move(lookup), window = m_window->Handle(), slot = m_lookup] {
            std::optional<std::uint8_t> channel;
            try {
                channel = lookup();
            } catch (...) {
                // A failed lookup finds nothing.
            }
            {
                std::lock_guard lock(slot->mutex);
                slot->channel = channel;
            }
            PostMessage(window, kServiceFound);
        }).detach();
    } catch (const std::system_error&) {
        throw wclEUnableConnect();
    }
}

void wclBlueZLink::HandleMessage(const Message& message) {
    if (message.Msg != kServiceFound || m_lookup == nullptr || m_reported) {
        return;
    }
    std::optional<std::uint8_t> channel;
    {
        std::lock_guard lock(m_lookup->mutex);
        channel = m_lookup->channel;
    }
    m_lookup.reset();
    if (!channel || *channel == 0 || *channel >= 32) {
        Report(kWclErrAddressNotAvailable);
        return;
    }
    StartConnect(*channel);
}

void wclBlueZLink::StartConnect(std::uint8_t channel) {
    int error = 0;
    m_fd = m_platform.Connect(bluez::kProtocolRFCOMM, m_address, channel, error);
    if (m_fd < 0) {
        // The result must not arrive inside the call that opened the link.
        ReportLater(ConnectErrorToResult(error));
        return;
    }
    m_watch = m_loop.WatchFd(m_fd, EventLoop::kWritable, [this](unsigned) { SocketEvent(); });
}

void wclBlueZLink::ReportLater(std::uint32_t result) {
    const std::weak_ptr<int> life = m_life;
    m_loop.Post([this, life, result] {
        if (!life.expired()) {
            Report(result);
        }
    });
}

void wclBlueZLink::SocketEvent() {
    if (m_up) {
        Receive();
        return;
    }
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
        error = errno;
    }
    StopWatching();
    if (error != 0) {
        Report(ConnectErrorToResult(error));
        return;
    }
    m_watch = m_loop.WatchFd(m_fd, EventLoop::kReadable, [this](unsigned) { SocketEvent(); });
    m_up = true;
    Report(kWclSuccess);
}

void wclBlueZLink::Report(std::uint32_t result) {
    if (m_reported) {
        return;
    }
    m_reported = true;
    if (result != kWclSuccess) {
        StopWatching();
    }
    if (m_events.onConnect) {
        // Through a copy: the callback may destroy this link.
        const auto onConnect = m_events.onConnect;
        onConnect(result);
    }
}

void wclBlueZLink::Receive() {
    std::vector<std::uint8_t> buffer(std::max<std::uint32_t>(m_settings.readBuffer, 1));
    const ssize_t got = ::recv(m_fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
    if (got > 0) {
        if (m_events.onData) {
            const auto onData = m_events.onData;
            onData(buffer.data(), static_cast<std::size_t>(got));
        }
        return;
    }
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        return;
    }
    Closed();
}

void wclBlueZLink::Closed() {
    StopWatching();
    m_up = false;
    if (m_events.onClose) {
        const auto onClose = m_events.onClose;
        onClose();
    }
}

void wclBlueZLink::Write(const std::uint8_t* data, std::size_t size) {
    if (m_fd < 0 || !m_up) {
        throw wclEWriteError();
    }
    using std::chrono::steady_clock;
    const auto deadline = steady_clock::now() + std::chrono::milliseconds(m_settings.writeTimeout);
    while (size > 0) {
        const ssize_t sent = ::send(m_fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            data += sent;
            size -= static_cast<std::size_t>(sent);
            continue;
        }
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            throw wclEWriteError();
        }
        // A peer that reads slowly: wait for room, at most the write time-out.
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - steady_clock::now());
        pollfd waiting{m_fd, POLLOUT, 0};
        if (left.count() <= 0 || ::poll(&waiting, 1, static_cast<int>(left.count())) <= 0) {
            throw wclEWriteError();
        }
    }
}

void wclBlueZLink::StopWatching() {
    if (m_watch != 0) {
        m_loop.UnwatchFd(m_watch);
        m_watch = 0;
    }
}

void wclBlueZLink::Close() {
    StopWatching();
    m_lookup.reset();
    m_window.reset();
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_up = false;
    m_reported = true;
    m_life = std::make_shared<int>(0);
}

int wclBlueZLink::SignalLevel() {
    throw wclEFeatureNotSupported();
}

}  // namespace kavri
