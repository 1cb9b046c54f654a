#include "stack/wclWinsockLink.h"

#include "platform/DynamicLibrary.h"
#include "platform/Text.h"
#include "stack/wclBluetoothAddress.h"
#include "stack/wclExceptions.h"
#include "stack/wclMessages.h"
#include "stack/wclTypes.h"
#include "stack/wclWinsockApi.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstring>
#include <vector>

namespace kavri {

using namespace winsock;

// The socket calls of one open link, resolved by name; the library stays
// loaded as long as the link.
struct wclWinsockLink::SocketApi {
    std::unique_ptr<DynamicLibrary> library;
    PFN_socket openSocket = nullptr;
    PFN_closesocket closeSocket = nullptr;
    PFN_setsockopt setOption = nullptr;
    PFN_connect connect = nullptr;
    PFN_send send = nullptr;
    PFN_recv recv = nullptr;
    PFN_WSAAsyncSelect asyncSelect = nullptr;
    PFN_WSAStringToAddressW stringToAddress = nullptr;
    PFN_WSAGetLastError lastError = nullptr;

    // wclEUnableConnect when the library or one of its entry points is missing.
    static std::unique_ptr<SocketApi> Load() {
        auto api = std::make_unique<SocketApi>();
        api->library = DynamicLibrary::Load("ws2_32.dll");
        if (api->library == nullptr) {
            throw wclEUnableConnect();
        }
        const DynamicLibrary& lib = *api->library;
        api->openSocket = lib.ResolveAs<PFN_socket>("socket");
        api->closeSocket = lib.ResolveAs<PFN_closesocket>("closesocket");
        api->setOption = lib.ResolveAs<PFN_setsockopt>("setsockopt");
        api->connect = lib.ResolveAs<PFN_connect>("connect");
        api->send = lib.ResolveAs<PFN_send>("send");
        api->recv = lib.ResolveAs<PFN_recv>("recv");
        api->asyncSelect = lib.ResolveAs<PFN_WSAAsyncSelect>("WSAAsyncSelect");
        api->stringToAddress = lib.ResolveAs<PFN_WSAStringToAddressW>("WSAStringToAddressW");
        api->lastError = lib.ResolveAs<PFN_WSAGetLastError>("WSAGetLastError");
        if (api->openSocket == nullptr || api->closeSocket == nullptr ||
            api->setOption == nullptr || api->connect == nullptr || api->send == nullptr ||
            api->recv == nullptr || api->asyncSelect == nullptr ||
            api->stringToAddress == nullptr || api->lastError == nullptr) {
            throw wclEUnableConnect();
        }
        return api;
    }

    void SetDword(SOCKET socket, INT level, INT name, DWORD value) const {
        if (setOption(socket, level, name, reinterpret_cast<const char*>(&value),
                      static_cast<INT>(sizeof value)) == kSocketError) {
            throw wclEUnableConnect();
        }
    }
};

namespace {

// The connect failures of a socket, as the connection reports them.
wclResult SocketErrorToResult(unsigned error) {
    switch (static_cast<INT>(error)) {
        case kWsaEAcces:
            return kWclErrAccessDenied;
        case kWsaEAddrInUse:
        case kWsaEIsConn:
            return kWclErrConnectionExists;
        case kWsaEAddrNotAvail:
            return kWclErrAddressNotAvailable;
        case kWsaEConnAborted:
            return kWclErrConnectionClosed;
        case kWsaETimedOut:
            return kWclErrTimeout;
        default:
            return kWclErrUnableConnect;
    }
}

}  // namespace

// The steps both address families share, in the order the socket takes them.
struct wclWinsockLink::Opening {
    // Loads the library and opens the socket; from here on the link closes it.
    static std::unique_ptr<wclWinsockLink> Begin(EventLoop& loop, wclLinkEvents events,
                                                 const wclLinkSettings& settings, INT family,
                                                 INT protocol) {
        std::unique_ptr<wclWinsockLink> link(
            new wclWinsockLink(loop, std::move(events), settings.readBuffer));
        link->m_api = SocketApi::Load();
        const SOCKET socket = link->m_api->openSocket(family, kSockStream, protocol);
        if (socket == kInvalidSocket) {
            throw wclEUnableConnect();
        }
        link->m_socket = socket;
        return link;
    }

    static void SetCommonOptions(const wclWinsockLink& link, const wclLinkSettings& settings) {
        const SocketApi& api = *link.m_api;
        api.SetDword(link.m_socket, kSolSocket, kSoRcvTimeo, settings.readTimeout);
        api.SetDword(link.m_socket, kSolSocket, kSoSndTimeo, settings.writeTimeout);
        api.SetDword(link.m_socket, kSolSocket, kSoRcvBuf, settings.readBuffer);
        api.SetDword(link.m_socket, kSolSocket, kSoSndBuf, settings.writeBuffer);
        api.SetDword(link.m_socket, kSolSocket, kSoReuseAddr, 1);
    }

    static void Connect(wclWinsockLink& link, const SOCKADDR* address, INT addressLength) {
        const SocketApi& api = *link.m_api;
        const MessageWindowHandle window = link.m_window->Handle();
        if (api.asyncSelect(link.m_socket, ToHwnd(window), wclMsg::kConnectionSocketEvent,
                            kFdConnect | kFdRead | kFdClose) == kSocketError) {
            throw wclEUnableConnect();
        }
        // Asynchronous sockets never complete at once: the result is the
        // notification's, and "would block" is the normal answer.
        if (api.connect(link.m_socket, address, addressLength) == kSocketError &&
            api.lastError() != kWsaEWouldBlock) {
            throw wclEUnableConnect();
        }
        link.m_selected = true;
    }
};

wclWinsockLink::wclWinsockLink(EventLoop& loop, wclLinkEvents events, std::uint32_t readBuffer)
    : m_events(std::move(events)),
      m_readBuffer(readBuffer),
      m_socket(kInvalidSocket),
      m_window(std::make_unique<MessageWindow>(
          loop, [this](const Message& message) { HandleSocketEvent(message); })) {}

wclWinsockLink::~wclWinsockLink() {
    Close();
}

std::unique_ptr<wclWinsockLink> wclWinsockLink::OpenBluetooth(
    EventLoop& loop, const wclBluetoothLinkRequest& request, wclLinkEvents events) {
    std::unique_ptr<wclWinsockLink> link =
        Opening::Begin(loop, std::move(events), request.settings, kAfBth, kBthProtoRfcomm);
    const SocketApi& api = *link->m_api;
    api.SetDword(link->m_socket, kSolRfcomm, kSoBthAuthenticate, request.authentication);
    api.SetDword(link->m_socket, kSolRfcomm, kSoBthEncrypt, request.encryption);
    Opening::SetCommonOptions(*link, request.settings);

    SOCKADDR_BTH address{};
    std::u16string text = Utf8ToUtf16(request.address);
    INT length = static_cast<INT>(sizeof address);
    if (api.stringToAddress(reinterpret_cast<WCHAR*>(text.data()), kAfBth, nullptr,
                            reinterpret_cast<SOCKADDR*>(&address), &length) == kSocketError) {
        throw wclEInvalidAddress();
    }
    address.addressFamily = static_cast<USHORT>(kAfBth);
    // A packed field: copied by bytes, never bound to a reference.
    std::memcpy(reinterpret_cast<char*>(&address) + offsetof(SOCKADDR_BTH, serviceClassId),
                &request.serviceUUID, sizeof(GUID));
    address.port = request.channel;
    Opening::Connect(*link, reinterpret_cast<const SOCKADDR*>(&address),
                     static_cast<INT>(sizeof address));
    return link;
}

std::unique_ptr<wclWinsockLink> wclWinsockLink::OpenIrDA(EventLoop& loop,
                                                         const wclIrDALinkRequest& request,
                                                         wclLinkEvents events) {
    if (request.service.size() > kIrDAServiceNameMax) {
        // The address has room for 24 bytes and a terminating zero; a name cut
        // short would reach some other service.
        throw wclEInvalidIrDAService();
    }
    std::unique_ptr<wclWinsockLink> link =
        Opening::Begin(loop, std::move(events), request.settings, kAfIrDA, 0);
    if (request.nineWire) {
        link->m_api->SetDword(link->m_socket, kSolIrLmp, kIrLmp9WireMode, 1);
    }
    Opening::SetCommonOptions(*link, request.settings);

    SOCKADDR_IRDA address{};
    address.irdaAddressFamily = static_cast<USHORT>(kAfIrDA);
    const IrDADeviceId id = IrDAAddressToDeviceId(request.address);
    std::memcpy(address.irdaDeviceID, id.data(), id.size());
    std::memcpy(address.irdaServiceName, request.service.data(), request.service.size());
    Opening::Connect(*link, reinterpret_cast<const SOCKADDR*>(&address),
                     static_cast<INT>(sizeof address));
    return link;
}

void wclWinsockLink::Close() {
    if (m_socket == kInvalidSocket) {
        return;
    }
    const SOCKET socket = m_socket;
    m_socket = kInvalidSocket;
    m_up = false;
    // A socket that never got as far as its notifications is only closed.
    if (m_selected) {
        m_api->asyncSelect(socket, nullptr, 0, 0);
    }
    m_api->closeSocket(socket);
}

void wclWinsockLink::Write(const std::uint8_t* data, std::size_t size) {
    if (m_socket == kInvalidSocket) {
        throw wclENotConnected();
    }
    std::size_t done = 0;
    while (done < size) {
        const INT chunk = static_cast<INT>(std::min<std::size_t>(size - done, INT_MAX));
        const INT sent =
            m_api->send(m_socket, reinterpret_cast<const char*>(data + done), chunk, 0);
        if (sent == kSocketError || sent <= 0) {
            throw wclEWriteError();
        }
        done += static_cast<std::size_t>(sent);
    }
}

int wclWinsockLink::SignalLevel() {
    throw wclEFeatureNotSupported();
}

void wclWinsockLink::HandleSocketEvent(const Message& message) {
    // Events of an earlier socket are not this link's business. Each case
    // ends with its callback, called through a copy: the callback may destroy
    // this link, and with it the stored one.
    if (message.Msg != wclMsg::kConnectionSocketEvent || m_socket == kInvalidSocket ||
        message.WParam != m_socket) {
        return;
    }
    const unsigned event = WSAGetSelectEvent(message.LParam);
    const unsigned error = WSAGetSelectError(message.LParam);
    switch (event) {
        case kFdRead: {
            if (!m_up || error != 0 || !m_events.onData) {
                return;
            }
            std::vector<std::uint8_t> buffer(m_readBuffer, 0);
            const INT count =
                m_api->recv(m_socket, reinterpret_cast<char*>(buffer.data()),
                            static_cast<INT>(std::min<std::size_t>(buffer.size(), INT_MAX)), 0);
            if (count > 0) {
                const auto onData = m_events.onData;
                onData(buffer.data(), static_cast<std::size_t>(count));
            }
            return;
        }
        case kFdConnect:
            m_up = error == 0;
            if (m_events.onConnect) {
                const auto onConnect = m_events.onConnect;
                onConnect(error == 0 ? kWclSuccess : SocketErrorToResult(error));
            }
            return;
        case kFdClose:
            if (m_events.onClose) {
                const auto onClose = m_events.onClose;
                onClose();
            }
            return;
        default:
            return;
    }
}

}  // namespace kavri
