#include "stack/wclWidcommLink.h"

#include "stack/wclExceptions.h"
#include "stack/wclWidcommApi.h"

#include <algorithm>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

namespace kavri {

using namespace widcomm;

namespace {

constexpr std::uint32_t kServiceFound = 1063;
constexpr std::size_t kMaxWritePiece = 0xFFFF;

}  // namespace

struct wclWidcommLink::LookupSlot {
    std::mutex mutex;
    std::optional<wclServiceInfo> service;
};

wclWidcommLink::wclWidcommLink(EventLoop& loop, std::shared_ptr<const Api> api,
                               const wclBluetoothLinkRequest& request, wclLinkEvents events)
    : m_loop(loop),
      m_api(std::move(api)),
      m_request(request),
      m_events(std::move(events)),
      m_window(std::make_unique<MessageWindow>(
          loop, [this](const Message& message) { HandleMessage(message); })) {}

wclWidcommLink::~wclWidcommLink() {
    Close();
}

std::unique_ptr<wclWidcommLink> wclWidcommLink::Open(EventLoop& loop,
                                                     std::shared_ptr<const Api> api,
                                                     const wclBluetoothLinkRequest& request,
                                                     wclLinkEvents events) {
    std::unique_ptr<wclWidcommLink> link(
        new wclWidcommLink(loop, std::move(api), request, std::move(events)));
    link->m_address = AddressToBytes(request.address);
    link->m_client = link->m_api->CreateClient(link->m_window->Handle());
    if (link->m_client == nullptr)
        throw wclEUnableConnect();
    if (request.channel == 0) {
        link->StartLookup();
        return link;
    }
    if (!link->OpenService(request.channel, std::string())) {
        // The result must not arrive inside the call that opened the link.
        const std::weak_ptr<int> life = link->m_life;
        wclWidcommLink* raw = link.get();
        loop.Post([life, raw] {
            if (!life.expired())
                raw->Report(kWclErrUnableConnect);
        });
    }
    return link;
}

void wclWidcommLink::StartLookup() {
    m_lookup = std::make_shared<LookupSlot>();
    // The thread frees itself and holds only copies: the adapter, the
    // address, the class and the window, which may be gone when it answers.
    try {
        std::thread([api = m_api, address = m_request.address, serviceClass = m_request.serviceUUID,
                     window = m_window->Handle(), slot = m_lookup] {
            std::optional<wclServiceInfo> found;
            try {
                std::vector<wclServiceInfo> services = EnumServices(*api, address, serviceClass);
                if (!services.empty())
                    found = std::move(services.front());
            } catch (...) {
                // A failed lookup finds nothing.
            }
            {
                std::lock_guard lock(slot->mutex);
                slot->service = std::move(found);
            }
            PostMessage(window, kServiceFound);
        }).detach();
    } catch (const std::system_error&) {
        throw wclEUnableConnect();
    }
}

bool wclWidcommLink::OpenService(std::uint8_t channel, const std::string& name) {
    return m_api->OpenClient(m_client, m_address.data(), channel, m_request.serviceUUID,
                             m_request.authentication, m_request.encryption, name) == 0;
}

void wclWidcommLink::Report(std::uint32_t result) {
    if (m_reported || m_client == nullptr)
        return;
    m_reported = true;
    m_connected = result == kWclSuccess;
    if (m_events.onConnect) {
        // Through a copy: the callback may destroy this link.
        const auto onConnect = m_events.onConnect;
        onConnect(result);
    }
}

void wclWidcommLink::HandleMessage(const Message& message) {
    // Reports of a client that is closed, or that come out of turn, are not
    // this link's business.
    if (m_client == nullptr)
        return;
    switch (message.Msg) {
        case kServiceFound: {
            if (m_reported || m_lookup == nullptr)
                return;
            std::optional<wclServiceInfo> service;
            {
                std::lock_guard lock(m_lookup->mutex);
                service = std::move(m_lookup->service);
            }
            m_lookup.reset();
            if (!service) {
                Report(kWclErrAddressNotAvailable);
            } else if (!OpenService(service->Channel, service->Name)) {
                Report(kWclErrUnableConnect);
            }
            return;
        }
        case kClientConnected:
            if (m_reported || m_lookup != nullptr)
                return;
            Report(message.WParam == 0 ? kWclSuccess : kWclErrConnectionClosed);
            return;
        case kClientData:
            if (m_connected && message.WParam != 0 && message.LParam > 0)
                DeliverData(reinterpret_cast<const std::uint8_t*>(message.WParam),
                            static_cast<std::size_t>(message.LParam));
            return;
        case kClientClosed:
            if (m_connected && m_events.onClose) {
                const auto onClose = m_events.onClose;
                onClose();
            }
            return;
        default:
            return;
    }
}

void wclWidcommLink::DeliverData(const std::uint8_t* data, std::size_t size) {
    if (!m_events.onData)
        return;
    // Each chunk is at most the read buffer's size, as from a socket.
    const std::size_t piece = std::max<std::size_t>(m_request.settings.readBuffer, 1);
    const std::weak_ptr<int> life = m_life;
    const auto onData = m_events.onData;
    for (std::size_t done = 0; done < size;) {
        const std::size_t count = std::min(piece, size - done);
        onData(data + done, count);
        done += count;
        if (life.expired() || !m_connected)
            return;
    }
}

void wclWidcommLink::Write(const std::uint8_t* data, std::size_t size) {
    if (m_client == nullptr)
        throw wclENotConnected();
    std::size_t done = 0;
    while (done < size) {
        BYTE address[kAddressBytes] = {};
        if (!m_api->IsClientConnected(m_client, address))
            throw wclEWriteError();
        const auto length = static_cast<WORD>(std::min(size - done, kMaxWritePiece));
        WORD written = 0;
        if (m_api->WriteClient(m_client, data + done, length, &written) != 0)
            throw wclEWriteError();
        // A write that takes nothing, or claims more than it was given,
        // would never end or run past the data.
        if (written == 0 || written > length)
            throw wclEWriteError();
        done += written;
    }
}

void wclWidcommLink::Close() {
    if (m_client == nullptr)
        return;
    void* const client = m_client;
    m_client = nullptr;
    if (m_connected)
        m_api->CloseClient(client);
    m_connected = false;
    m_api->DestroyClient(client);
    m_lookup.reset();
}

int wclWidcommLink::SignalLevel() {
    BYTE level = 0;
    if (m_client == nullptr || !m_api->ClientSignalLevel(m_client, &level))
        throw wclEUnableGetSignalLevel();
    return level;
}

}  // namespace kavri
