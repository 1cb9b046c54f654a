#include "stack/wclBlueSoleilLink.h"

#include "stack/wclBluetoothAddress.h"
#include "stack/wclExceptions.h"
#include "stack/wclSerialLink.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <thread>

namespace kavri {

using namespace bluesoleil;

bluesoleil::Dword wclBlueSoleilCalls::Connect(const std::uint8_t* device, std::uint8_t* service,
                                              Dword* handle) const {
    return connect == nullptr ? kMissingEntryPoint : connect(device, service, handle);
}

void wclBlueSoleilCalls::Disconnect(Dword handle) const {
    if (disconnect != nullptr) {
        disconnect(handle);
    }
}

bluesoleil::Dword wclBlueSoleilCalls::GetRemoteDeviceInfo(Dword mask, std::uint8_t* record) const {
    return getRemoteDeviceInfo == nullptr ? kMissingEntryPoint : getRemoteDeviceInfo(mask, record);
}

wclBlueSoleilHandleTable& wclBlueSoleilHandleTable::Instance() {
    // Never destroyed: a stack thread may call back while the process ends.
    static wclBlueSoleilHandleTable* const table = new wclBlueSoleilHandleTable();
    return *table;
}

void wclBlueSoleilHandleTable::Add(Dword handle, const MessageWindowHandle& window) {
    std::lock_guard lock(m_mutex);
    for (auto& entry : m_entries) {
        if (entry.first == handle) {
            entry.second = window;
            return;
        }
    }
    m_entries.emplace_back(handle, window);
}

void wclBlueSoleilHandleTable::Remove(Dword handle) {
    std::lock_guard lock(m_mutex);
    std::erase_if(m_entries, [handle](const auto& entry) { return entry.first == handle; });
}

std::optional<MessageWindowHandle> wclBlueSoleilHandleTable::Find(Dword handle) const {
    std::lock_guard lock(m_mutex);
    for (const auto& entry : m_entries) {
        if (entry.first == handle) {
            return entry.second;
        }
    }
    return std::nullopt;
}

void wclBlueSoleilHandleTable::ConnectionCallback(Dword handle, Dword status) {
    if (status != kStatusDisconnected) {
        return;
    }
    // Sent outside the lock: the window's handler removes the handle.
    const std::optional<MessageWindowHandle> window = Instance().Find(handle);
    if (window) {
        SendMessage(*window, wclBlueSoleilMsg::kConnectionEvent);
    }
}

std::uint32_t BlueSoleilConnectResult(Dword status) {
    switch (status) {
        case kStatusBusy:
            return kWclErrOperationInProgress;
        case kStatusAlreadyConnected:
            return kWclErrConnectionExists;
        case kStatusServiceNotFound:
            return kWclErrAddressNotAvailable;
        case kStatusTimedOut:
            return kWclErrTimeout;
        default:
            return kWclErrUnableConnect;
    }
}

// A stack connection that the connect thread made and the link has not yet
// taken; after Close nobody takes it, so the one who sees it disconnects it.
struct wclBlueSoleilLink::Shared {
    std::mutex mutex;
    bool closed = false;
    std::optional<Dword> pendingHandle;
};

namespace {

void RunConnectThread(wclBlueSoleilCalls calls, AddressBytes reversed, std::uint8_t channel,
                      GUID serviceClass, MessageWindowHandle window,
                      std::shared_ptr<wclBlueSoleilLink::Shared> shared) {
    std::array<std::uint8_t, kDeviceRecordSize> device{};
    WriteLe32(device.data(), kDeviceRecordSize);
    std::copy(reversed.begin(), reversed.end(), device.begin() + kAddressOffset);
    std::array<std::uint8_t, kServiceRecordSize> service{};
    WriteLe32(service.data(), kServiceRecordSize);
    std::memcpy(service.data() + kServiceUuidOffset, &serviceClass, sizeof serviceClass);
    service[kServiceChannelOffset] = channel;

    Dword handle = 0;
    const Dword status = calls.Connect(device.data(), service.data(), &handle);
    if (status != kSuccess) {
        PostMessage(window, wclBlueSoleilMsg::kConnectFailed, status, 0);
        return;
    }
    const std::uint8_t port = service[kServiceComPortOffset];
    {
        std::lock_guard lock(shared->mutex);
        if (!shared->closed) {
            shared->pendingHandle = handle;
            if (PostMessage(window, wclBlueSoleilMsg::kConnected, handle, port)) {
                return;
            }
            shared->pendingHandle.reset();
        }
    }
    // Nobody will take this connection any more.
    calls.Disconnect(handle);
}

}  // namespace

std::unique_ptr<wclBlueSoleilLink> wclBlueSoleilLink::Open(EventLoop& loop,
                                                           const wclBluetoothLinkRequest& request,
                                                           wclLinkEvents events,
                                                           wclBlueSoleilCalls calls) {
    const AddressBytes reversed = AddressToReversedBytes(request.address);
    std::unique_ptr<wclBlueSoleilLink> link(
        new wclBlueSoleilLink(loop, request, std::move(events), std::move(calls)));
    try {
        std::thread(RunConnectThread, link->m_calls, reversed, request.channel, request.serviceUUID,
                    link->m_window->Handle(), link->m_shared)
            .detach();
    } catch (const std::system_error&) {
        throw wclEUnableConnect();
    }
    return link;
}

wclBlueSoleilLink::wclBlueSoleilLink(EventLoop& loop, const wclBluetoothLinkRequest& request,
                                     wclLinkEvents events, wclBlueSoleilCalls calls)
    : m_loop(loop),
      m_address(request.address),
      m_settings(request.settings),
      m_events(std::move(events)),
      m_calls(std::move(calls)),
      m_shared(std::make_shared<Shared>()),
      m_window(std::make_unique<MessageWindow>(
          loop, [this](const Message& message) { HandleMessage(message); })) {}

wclBlueSoleilLink::~wclBlueSoleilLink() {
    Close();
}

void wclBlueSoleilLink::HandleMessage(const Message& message) {
    switch (message.Msg) {
        case wclBlueSoleilMsg::kConnected: {
            std::optional<Dword> handle;
            {
                std::lock_guard lock(m_shared->mutex);
                handle = std::exchange(m_shared->pendingHandle, std::nullopt);
            }
            if (handle && *handle == static_cast<Dword>(message.WParam)) {
                Connected(*handle, static_cast<std::uint32_t>(message.LParam));
            }
            return;
        }
        case wclBlueSoleilMsg::kConnectFailed:
            Report(BlueSoleilConnectResult(static_cast<Dword>(message.WParam)));
            return;
        case wclBlueSoleilMsg::kConnectionEvent:
            if (m_up && m_events.onClose) {
                const auto onClose = m_events.onClose;
                onClose();
            }
            return;
        default:
            return;
    }
}

void wclBlueSoleilLink::Connected(Dword handle, std::uint32_t port) {
    m_handle = handle;
    wclBlueSoleilHandleTable::Instance().Add(handle, m_window->Handle());
    try {
        if (port == 0) {
            throw wclEUnableConnect();
        }
        m_serial = std::make_unique<wclSerialLink>(
            m_loop, port, m_settings.readBuffer, m_settings.writeTimeout,
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
        wclBlueSoleilHandleTable::Instance().Remove(handle);
        m_handle.reset();
        m_calls.Disconnect(handle);
        Report(kWclErrUnableConnect);
        return;
    }
    m_up = true;
    Report(kWclSuccess);
}

void wclBlueSoleilLink::Report(std::uint32_t result) {
    if (m_events.onConnect) {
        const auto onConnect = m_events.onConnect;
        onConnect(result);
    }
}

void wclBlueSoleilLink::Write(const std::uint8_t* data, std::size_t size) {
    if (!m_up || m_serial == nullptr) {
        throw wclENotConnected();
    }
    m_serial->Write(data, size);
}

void wclBlueSoleilLink::Close() {
    m_up = false;
    m_serial.reset();
    if (m_handle) {
        wclBlueSoleilHandleTable::Instance().Remove(*m_handle);
    }
    // Gone before the stack connection is dropped: a loss report that the
    // stack is sending to it is released rather than waited for.
    m_window.reset();
    std::optional<Dword> pending;
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->closed = true;
        pending = std::exchange(m_shared->pendingHandle, std::nullopt);
    }
    if (pending) {
        m_calls.Disconnect(*pending);
    }
    if (m_handle) {
        m_calls.Disconnect(*std::exchange(m_handle, std::nullopt));
    }
}

int wclBlueSoleilLink::SignalLevel() {
    std::array<std::uint8_t, kDeviceInfoRecordSize> record{};
    WriteLe32(record.data(), kDeviceInfoRecordSize);
    const AddressBytes reversed = AddressToReversedBytes(m_address);
    std::copy(reversed.begin(), reversed.end(), record.begin() + kAddressOffset);
    if (m_calls.GetRemoteDeviceInfo(kMaskSignal, record.data()) != kSuccess) {
        throw wclEUnableGetSignalLevel();
    }
    return static_cast<std::int8_t>(record[kSignalOffset]);
}

}  // namespace kavri
