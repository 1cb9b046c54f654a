#include "stack/wclToshibaLink.h"

#include "stack/wclBluetoothAddress.h"
#include "stack/wclExceptions.h"
#include "stack/wclSerialLink.h"

#include <chrono>
#include <system_error>
#include <thread>

namespace kavri {

using namespace toshiba;

namespace {

constexpr std::uint32_t kLastPort = 255;
constexpr Dword kConnectMode = 3;
// The stack settles the line before the first write.
constexpr Clock::Duration kSettle{100};

void RunLookupThread(wclToshibaCalls calls, std::string address, GUID uuid,
                     MessageWindowHandle window) {
    std::optional<SdpServiceInfo> service;
    if (calls.findService) {
        service = calls.findService(address, uuid);
    }
    // Sent, not posted: the window reads the service while this call waits.
    SendMessage(window, kMsgServiceFound, reinterpret_cast<std::uintptr_t>(&service), 0);
}

}  // namespace

std::unique_ptr<wclToshibaLink> wclToshibaLink::Open(EventLoop& loop,
                                                     const wclBluetoothLinkRequest& request,
                                                     wclLinkEvents events, wclToshibaCalls calls) {
    const AddressBytes address = AddressToBytes(request.address);
    std::unique_ptr<wclToshibaLink> link(
        new wclToshibaLink(loop, request, std::move(events), std::move(calls)));
    std::copy(address.begin(), address.end(), link->m_address.begin());
    link->m_channel = request.channel;
    if (request.channel != 0) {
        // Set up after Open has returned: a failure there reports at once.
        const std::weak_ptr<int> life = link->m_life;
        wclToshibaLink* self = link.get();
        loop.Post([life, self] {
            if (!life.expired()) {
                self->SetUpPort();
            }
        });
        return link;
    }
    try {
        std::thread(RunLookupThread, link->m_calls, request.address, request.serviceUUID,
                    link->m_handle)
            .detach();
    } catch (const std::system_error&) {
        throw wclEUnableConnect();
    }
    return link;
}

wclToshibaLink::wclToshibaLink(EventLoop& loop, const wclBluetoothLinkRequest& request,
                               wclLinkEvents events, wclToshibaCalls calls)
    : m_loop(loop),
      m_request(request),
      m_events(std::move(events)),
      m_calls(std::move(calls)),
      m_window(std::make_unique<MessageWindow>(
          loop, [this](const Message& message) { HandleMessage(message); })),
      m_handle(m_window->Handle()) {}

wclToshibaLink::~wclToshibaLink() {
    Close();
}

bool wclToshibaLink::EventNotification(bool on) {
    Long status = 0;
    const bool done = m_calls.notifyEvent != nullptr &&
                      m_calls.notifyEvent(on ? kComEvents : kNotificationOff, &status, &m_handle,
                                          kMsgComEvent) != 0;
    m_eventsOn = on && done;
    return done;
}

void wclToshibaLink::HandleMessage(const Message& message) {
    if (m_reported && !m_up) {
        return;
    }
    switch (message.Msg) {
        case kMsgServiceFound: {
            const auto* service =
                reinterpret_cast<const std::optional<SdpServiceInfo>*>(message.WParam);
            if (m_reported || service == nullptr) {
                return;
            }
            if (!service->has_value() || (*service)->Channel == 0) {
                Fail(kWclErrAddressNotAvailable);
                return;
            }
            m_channel = (*service)->Channel;
            SetUpPort();
            return;
        }
        case kMsgComEvent:
            if (m_eventsOn && !m_reported && !m_connecting) {
                PortCreated();
            }
            return;
        case kMsgComConnect:
            if (m_connecting && !m_reported) {
                ConnectEvent(static_cast<std::uint32_t>(message.WParam));
            }
            return;
        case kMsgComNotify:
            if (message.WParam == kComLinkLost && m_up && m_events.onClose) {
                const auto onClose = m_events.onClose;
                onClose();
            }
            return;
        default:
            return;
    }
}

void wclToshibaLink::SetUpPort() {
    if (!EventNotification(true)) {
        Fail(kWclErrUnableConnect);
        return;
    }
    for (std::uint32_t number = 1; number <= kLastPort; ++number) {
        const std::string name = "COM" + std::to_string(number);
        Long status = 0;
        if (m_calls.createComm != nullptr && m_calls.createComm(name.c_str(), 0, 0, &status) != 0) {
            m_portNumber = number;
            m_portName = name;
            return;  // the stack answers with 1054
        }
    }
    EventNotification(false);
    m_channel = 0;
    Fail(kWclErrUnableConnect);
}

void wclToshibaLink::PortCreated() {
    EventNotification(false);
    const Dword security = (m_request.authentication ? 1u : 0u) | (m_request.encryption ? 2u : 0u);
    std::uint16_t connection = 0;
    Long status = 0;
    if (m_calls.connectComm == nullptr ||
        m_calls.connectComm(m_portName.c_str(), m_address.data(), m_channel, kConnectMode,
                            &connection, security, &status, &m_handle, kMsgComConnect, 0) == 0) {
        Fail(kWclErrUnableConnect);
        return;
    }
    m_connecting = true;
    m_connection = connection;
}

void wclToshibaLink::ConnectEvent(std::uint32_t event) {
    if (event == kComRefused) {
        m_refused = true;
        return;
    }
    if (event != kComConnectComplete) {
        return;
    }
    if (m_refused) {
        Fail(kWclErrConnectionClosed);
        return;
    }
    try {
        m_serial = std::make_unique<wclSerialLink>(
            m_loop, m_portNumber, m_request.settings.readBuffer, m_request.settings.writeTimeout,
            wclSerialLink::Events{
                [this](const std::uint8_t* data, std::size_t size) {
                    if (m_events.onData) {
                        const auto onData = m_events.onData;
                        onData(data, size);
                    }
                },
                [this] {
                    if (m_up && m_events.onClose) {
                        const auto onClose = m_events.onClose;
                        onClose();
                    }
                },
            });
    } catch (const wclException&) {
        Fail(kWclErrUnableConnect);
        return;
    }
    Long status = 0;
    if (m_calls.notifyComm == nullptr ||
        m_calls.notifyComm(m_portName.c_str(), kComNotifyOn, m_address.data(), *m_connection,
                           &status, &m_handle, kMsgComNotify, 0) == 0) {
        Fail(kWclErrUnableConnect);
        return;
    }
    m_portNotifyOn = true;
    m_up = true;
    const std::weak_ptr<int> life = m_life;
    m_settleTimer = m_loop.StartTimer(kSettle, false, [this, life] {
        if (!life.expired()) {
            m_settleTimer = 0;
            Report(kWclSuccess);
        }
    });
}

void wclToshibaLink::Fail(std::uint32_t result) {
    m_up = false;
    Report(result);
}

void wclToshibaLink::Report(std::uint32_t result) {
    if (m_reported) {
        return;
    }
    m_reported = true;
    if (m_events.onConnect) {
        const auto onConnect = m_events.onConnect;
        onConnect(result);
    }
}

void wclToshibaLink::Write(const std::uint8_t* data, std::size_t size) {
    if (!m_up || m_serial == nullptr) {
        throw wclENotConnected();
    }
    m_serial->Write(data, size);
}

void wclToshibaLink::Close() {
    if (m_settleTimer != 0) {
        m_loop.StopTimer(m_settleTimer);
        m_settleTimer = 0;
    }
    m_up = false;
    m_reported = true;
    m_serial.reset();
    // No stack message reaches this link any more; a lookup thread still
    // sending to it is released.
    m_window.reset();
    Long status = 0;
    if (m_eventsOn) {
        EventNotification(false);
    }
    if (m_portNotifyOn && m_calls.notifyComm != nullptr) {
        m_calls.notifyComm(m_portName.c_str(), kComNotifyOff, m_address.data(),
                           m_connection.value_or(0), &status, &m_handle, kMsgComNotify, 0);
    }
    m_portNotifyOn = false;
    if (m_connecting && m_calls.disconnectComm != nullptr) {
        m_calls.disconnectComm(m_portName.c_str(), &status);
    }
    m_connecting = false;
    if (!m_portName.empty() && m_calls.destroyComm != nullptr) {
        m_calls.destroyComm(m_portName.c_str(), &status);
    }
    m_portName.clear();
    m_portNumber = 0;
    m_connection.reset();
    m_refused = false;
    m_channel = 0;
}

int wclToshibaLink::SignalLevel() {
    Long status = 0;
    std::uint16_t link = 0;
    if (!m_connection || m_calls.getConnectionHandle == nullptr ||
        m_calls.getConnectionHandle(*m_connection, &link, &status) == 0) {
        throw wclENotConnected();
    }
    std::uint8_t quality = 0;
    if (m_calls.getLinkQuality == nullptr || m_calls.getLinkQuality(link, &quality, &status) == 0) {
        throw wclEUnableGetSignalLevel();
    }
    return quality;
}

}  // namespace kavri
