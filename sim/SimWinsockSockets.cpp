#include "sim/SimWinsockSockets.h"

#include "sim/ScenarioParser.h"
#include "sim/SimWin32Libraries.h"
#include "sim/TcpEndpoint.h"
#include "stack/wclMessages.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string_view>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kavri::sim {

using namespace winsock;

namespace {

// Longest address text WSAStringToAddressW reads from its caller.
constexpr std::size_t kMaxAddressTextChars = 64;

// The last error is the one every stand-in library shares.
void SetError(INT error) {
    SetSimLastError(static_cast<DWORD>(error));
}

INT ErrnoToWsa(int error) {
    switch (error) {
        case EACCES:
        case EPERM:
            return kWsaEAcces;
        case EADDRINUSE:
            return kWsaEAddrInUse;
        case EADDRNOTAVAIL:
            return kWsaEAddrNotAvail;
        case ECONNABORTED:
            return kWsaEConnAborted;
        case ECONNRESET:
        case EPIPE:
            return kWsaEConnReset;
        case EISCONN:
            return kWsaEIsConn;
        case ENOTCONN:
            return kWsaENotConn;
        case ETIMEDOUT:
            return kWsaETimedOut;
        case ECONNREFUSED:
            return kWsaEConnRefused;
        case EHOSTUNREACH:
            return kWsaEHostUnreach;
        case EHOSTDOWN:
            return kWsaEHostDown;
        case ENETUNREACH:
            return kWsaENetUnreach;
        case ENETDOWN:
            return kWsaENetDown;
        case EAGAIN:
            return kWsaEWouldBlock;
        case EINPROGRESS:
            return kWsaEInProgress;
        case EALREADY:
            return kWsaEAlready;
        case EMFILE:
        case ENFILE:
            return kWsaEMFile;
        case ENOBUFS:
        case ENOMEM:
            return kWsaENoBufs;
        case EINTR:
            return kWsaEIntr;
        case EBADF:
            return kWsaENotSock;
        default:
            return kWsaENetDown;
    }
}

// "(XX:XX:XX:XX:XX:XX)" or the same without parentheses, digits in either case.
std::optional<std::uint64_t> ParseBluetoothAddress(std::u16string_view text) {
    if (text.size() == 19 && text.front() == u'(' && text.back() == u')') {
        text = text.substr(1, 17);
    }
    if (text.size() != 17) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (i % 3 == 2) {
            if (c != u':') {
                return std::nullopt;
            }
            continue;
        }
        unsigned digit = 0;
        if (c >= u'0' && c <= u'9') {
            digit = static_cast<unsigned>(c - u'0');
        } else if (c >= u'A' && c <= u'F') {
            digit = static_cast<unsigned>(c - u'A' + 10);
        } else if (c >= u'a' && c <= u'f') {
            digit = static_cast<unsigned>(c - u'a' + 10);
        } else {
            return std::nullopt;
        }
        value = (value << 4) | digit;
    }
    return value;
}

bool PresentAt(const DeviceSpec& device, std::int64_t nowMs) {
    return device.presence.empty() ||
           std::any_of(device.presence.begin(), device.presence.end(),
                       [nowMs](const Interval& interval) { return interval.Contains(nowMs); });
}

}  // namespace

// ---- ScenarioSocketDirectory -------------------------------------------------

ScenarioSocketDirectory::ScenarioSocketDirectory(const Scenario& scenario, Sources sources)
    : m_scenario(scenario), m_sources(std::move(sources)) {
    for (const DeviceSpec& device : m_scenario.devices) {
        if (IsValidAddress(device.address)) {
            m_devices.emplace(AddressToUInt64(device.address), &device);
        }
    }
}

bool ScenarioSocketDirectory::SupportsFamily(int family) const {
    if (family == kAfBth) {
        return m_scenario.IsInstalled(StackKind::Microsoft);
    }
    if (family == kAfIrDA) {
        return m_scenario.IsInstalled(StackKind::IrDA);
    }
    return false;
}

const DeviceSpec* ScenarioSocketDirectory::Reachable(std::uint64_t address) const {
    const auto found = m_devices.find(address);
    const std::int64_t now = m_sources.scenarioTimeMs ? m_sources.scenarioTimeMs() : 0;
    if (found == m_devices.end() || !PresentAt(*found->second, now) ||
        !found->second->IsVisibleOn(m_sources.stack)) {
        return nullptr;
    }
    return found->second;
}

SimSocketRoute ScenarioSocketDirectory::ResolveRfcomm(std::uint64_t address, std::uint32_t channel,
                                                      const GUID& serviceClass) {
    const DeviceSpec* reachable = Reachable(address);
    if (reachable == nullptr) {
        return SimSocketRoute::Fail(kWsaETimedOut);
    }
    const DeviceSpec& device = *reachable;
    if (device.behaviour == PushBehaviour::Busy) {
        return SimSocketRoute::Fail(kWsaEConnRefused);
    }
    if (channel == 0) {
        const auto service = std::find_if(
            device.services.begin(), device.services.end(),
            [&](const ServiceSpec& s) { return ParseScenarioUuid(s.classUuid) == serviceClass; });
        if (service == device.services.end()) {
            return SimSocketRoute::Fail(kWsaEAddrNotAvail);
        }
        channel = service->channel;
    }
    const bool objectPush =
        device.behaviour != PushBehaviour::NoObjectPush &&
        std::any_of(device.services.begin(), device.services.end(), [&](const ServiceSpec& s) {
            return s.channel == channel &&
                   ParseScenarioUuid(s.classUuid) == OBEXObjectPushServiceClassUUID;
        });
    if (!objectPush) {
        return SimSocketRoute::Fail(kWsaEConnRefused);
    }
    std::optional<std::string> endpoint = device.externalEndpoint;
    if (!endpoint && m_sources.objectPushServer) {
        endpoint = m_sources.objectPushServer(device);
    }
    return endpoint ? SimSocketRoute::To(*endpoint) : SimSocketRoute::Fail(kWsaEConnRefused);
}

SimSocketRoute ScenarioSocketDirectory::ResolveIrDA(const IrDADeviceId&,
                                                    const std::string& service) {
    const bool present =
        m_sources.irdaDevicePresent ? m_sources.irdaDevicePresent() : m_scenario.irdaDevicePresent;
    if (!present) {
        return SimSocketRoute::Fail(kWsaETimedOut);
    }
    std::optional<std::string> endpoint;
    if (m_sources.irdaService) {
        endpoint = m_sources.irdaService(service);
    }
    return endpoint ? SimSocketRoute::To(*endpoint) : SimSocketRoute::Fail(kWsaEConnRefused);
}

// ---- The sockets -------------------------------------------------------------

namespace {

struct SimSocket {
    enum class State { Idle, Connecting, Connected, Failed };

    SOCKET handle = 0;
    int family = 0;
    int fd = -1;
    State state = State::Idle;
    bool nonBlocking = false;
    MessageWindowHandle window;
    unsigned message = 0;
    std::int32_t events = 0;
    EventLoop::WatchId watch = 0;  // loop thread only
    unsigned watched = 0;          // loop thread only
    bool readArmed = true;
    bool closeReported = false;
    std::map<std::pair<int, int>, std::uint32_t> options;

    SimSocket() = default;
    SimSocket(const SimSocket&) = delete;
    SimSocket& operator=(const SimSocket&) = delete;
    ~SimSocket() {
        if (fd >= 0) {
            ::close(fd);
        }
    }

    std::uint32_t Option(int level, int name) const {
        const auto found = options.find({level, name});
        return found == options.end() ? 0 : found->second;
    }

    void Notify(unsigned event, int error) const {
        if ((events & static_cast<std::int32_t>(event)) != 0 && !window.IsNull()) {
            PostMessage(window, message, handle,
                        WSAMakeSelectReply(event, static_cast<unsigned>(error)));
        }
    }
};

}  // namespace

struct SimWinsockSockets::Core {
    Core(EventLoop& l, SimSocketDirectory& d) : loop(l), directory(d) {}

    EventLoop& loop;
    SimSocketDirectory& directory;
    std::weak_ptr<Core> self;

    mutable std::mutex mutex;
    bool closed = false;                                   // guarded by mutex
    std::map<SOCKET, std::shared_ptr<SimSocket>> sockets;  // guarded by mutex
    SOCKET nextHandle = 0x100;                             // guarded by mutex
    std::optional<SimConnectRecord> lastConnect;           // guarded by mutex

    // Under mutex: the socket, or null with 10038 set.
    std::shared_ptr<SimSocket> Find(SOCKET handle) const {
        const auto found = sockets.find(handle);
        if (found == sockets.end()) {
            SetError(kWsaENotSock);
            return nullptr;
        }
        return found->second;
    }

    // Under mutex, on the loop thread: watches the fd for what the socket's
    // state asks for next.
    void UpdateWatch(SimSocket& socket) {
        unsigned want = 0;
        if (socket.fd >= 0 && !socket.window.IsNull() && socket.events != 0 && !closed) {
            if (socket.state == SimSocket::State::Connecting) {
                want = EventLoop::kWritable;
            } else if (socket.state == SimSocket::State::Connected && socket.readArmed &&
                       !socket.closeReported && (socket.events & (kFdRead | kFdClose)) != 0) {
                want = EventLoop::kReadable;
            }
        }
        if (want == socket.watched) {
            return;
        }
        if (socket.watch != 0) {
            loop.UnwatchFd(socket.watch);
            socket.watch = 0;
        }
        socket.watched = want;
        if (want != 0) {
            socket.watch = loop.WatchFd(socket.fd, want,
                                        [weak = self, handle = socket.handle](unsigned events) {
                                            if (const auto core = weak.lock()) {
                                                core->OnFdEvent(handle, events);
                                            }
                                        });
        }
    }

    // Under mutex: updates the watch now on the loop thread, else by a task.
    void ScheduleWatch(const std::shared_ptr<SimSocket>& socket) {
        if (loop.IsLoopThread()) {
            UpdateWatch(*socket);
            return;
        }
        loop.Post([weak = self, handle = socket->handle] {
            if (const auto core = weak.lock()) {
                std::lock_guard lock(core->mutex);
                const auto found = core->sockets.find(handle);
                if (found != core->sockets.end()) {
                    core->UpdateWatch(*found->second);
                }
            }
        });
    }

    // Loop thread.
    void OnFdEvent(SOCKET handle, unsigned /*events*/) {
        std::lock_guard lock(mutex);
        const auto found = sockets.find(handle);
        if (found == sockets.end()) {
            return;
        }
        SimSocket& socket = *found->second;
        if (socket.state == SimSocket::State::Connecting) {
            int error = 0;
            socklen_t length = sizeof error;
            if (::getsockopt(socket.fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
                error = errno;
            }
            if (error == 0) {
                socket.state = SimSocket::State::Connected;
                socket.Notify(kFdConnect, 0);
            } else {
                socket.state = SimSocket::State::Failed;
                socket.Notify(kFdConnect, ErrnoToWsa(error));
            }
        } else if (socket.state == SimSocket::State::Connected) {
            char byte = 0;
            const ssize_t count = ::recv(socket.fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
            if (count > 0) {
                // Re-enabled by the next recv, as the system does.
                socket.readArmed = false;
                socket.Notify(kFdRead, 0);
            } else if (count == 0) {
                socket.closeReported = true;
                socket.Notify(kFdClose, 0);
            } else if (errno != EAGAIN && errno != EINTR) {
                socket.closeReported = true;
                socket.Notify(kFdClose, ErrnoToWsa(errno));
            }
        }
        UpdateWatch(socket);
    }
};

namespace {

std::mutex& CurrentMutex() {
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<SimWinsockSockets::Core>& CurrentSlot() {
    static std::shared_ptr<SimWinsockSockets::Core> current;
    return current;
}

std::shared_ptr<SimWinsockSockets::Core> CurrentCore() {
    std::lock_guard lock(CurrentMutex());
    return CurrentSlot();
}

template <typename Result, typename Function>
Result WithCore(Result failure, Function function) {
    const std::shared_ptr<SimWinsockSockets::Core> core = CurrentCore();
    if (!core) {
        SetError(kWsaENetDown);
        return failure;
    }
    return function(*core);
}

bool KnownOption(int family, INT level, INT name) {
    if (level == kSolSocket) {
        return name == kSoReuseAddr || name == kSoSndBuf || name == kSoRcvBuf ||
               name == kSoSndTimeo || name == kSoRcvTimeo;
    }
    if (level == kSolRfcomm) {
        return family == kAfBth && (name == kSoBthAuthenticate || name == kSoBthEncrypt);
    }
    if (level == kSolIrLmp) {
        return family == kAfIrDA && name == kIrLmp9WireMode;
    }
    return false;
}

// Waits for fd to be ready for events; timeoutMs 0 waits without limit.
// Returns false on time-out.
bool WaitReady(int fd, short events, std::uint32_t timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int wait = -1;
        if (timeoutMs != 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                return false;
            }
            wait = static_cast<int>(std::min<long long>(left.count(), INT_MAX));
        }
        pollfd descriptor{fd, events, 0};
        const int ready = ::poll(&descriptor, 1, wait);
        if (ready > 0) {
            return true;
        }
        if (ready < 0 && errno != EINTR) {
            return true;  // let the call itself report the failure
        }
    }
}

SOCKET SimSocketOpen(INT family, INT type, INT protocol) {
    return WithCore<SOCKET>(kInvalidSocket, [&](SimWinsockSockets::Core& core) -> SOCKET {
        if (!core.directory.SupportsFamily(family)) {
            SetError(kWsaEAfNoSupport);
            return kInvalidSocket;
        }
        if (type != kSockStream) {
            SetError(kWsaESocktNoSupport);
            return kInvalidSocket;
        }
        if (family == kAfBth && protocol != kBthProtoRfcomm) {
            SetError(kWsaEProtoNoSupport);
            return kInvalidSocket;
        }
        std::lock_guard lock(core.mutex);
        if (core.closed) {
            SetError(kWsaENetDown);
            return kInvalidSocket;
        }
        auto socket = std::make_shared<SimSocket>();
        socket->handle = core.nextHandle;
        socket->family = family;
        core.nextHandle += 4;
        core.sockets.emplace(socket->handle, socket);
        return socket->handle;
    });
}

INT SimCloseSocket(SOCKET handle) {
    return WithCore<INT>(kSocketError, [&](SimWinsockSockets::Core& core) -> INT {
        std::lock_guard lock(core.mutex);
        const std::shared_ptr<SimSocket> socket = core.Find(handle);
        if (!socket) {
            return kSocketError;
        }
        core.sockets.erase(handle);
        if (core.loop.IsLoopThread()) {
            if (socket->watch != 0) {
                core.loop.UnwatchFd(socket->watch);
                socket->watch = 0;
            }
        } else {
            // The fd stays open until its watch is gone, so the loop never
            // polls a number that another file may take over.
            core.loop.Post([socket, &loop = core.loop] {
                if (socket->watch != 0) {
                    loop.UnwatchFd(socket->watch);
                    socket->watch = 0;
                }
            });
        }
        return 0;
    });
}

INT SimSetSockOpt(SOCKET handle, INT level, INT name, const char* value, INT length) {
    return WithCore<INT>(kSocketError, [&](SimWinsockSockets::Core& core) -> INT {
        std::lock_guard lock(core.mutex);
        const std::shared_ptr<SimSocket> socket = core.Find(handle);
        if (!socket) {
            return kSocketError;
        }
        if (value == nullptr || length < static_cast<INT>(sizeof(DWORD))) {
            SetError(kWsaEFault);
            return kSocketError;
        }
        if (!KnownOption(socket->family, level, name)) {
            SetError(kWsaENoProtoOpt);
            return kSocketError;
        }
        DWORD stored = 0;
        std::memcpy(&stored, value, sizeof stored);
        socket->options[{level, name}] = stored;
        return 0;
    });
}

INT SimConnect(SOCKET handle, const SOCKADDR* address, INT addressLength) {
    return WithCore<INT>(kSocketError, [&](SimWinsockSockets::Core& core) -> INT {
        std::unique_lock lock(core.mutex);
        const std::shared_ptr<SimSocket> socket = core.Find(handle);
        if (!socket) {
            return kSocketError;
        }
        if (address == nullptr) {
            SetError(kWsaEFault);
            return kSocketError;
        }
        switch (socket->state) {
            case SimSocket::State::Connecting:
                SetError(kWsaEAlready);
                return kSocketError;
            case SimSocket::State::Connected:
                SetError(kWsaEIsConn);
                return kSocketError;
            case SimSocket::State::Failed:
                SetError(kWsaEInval);
                return kSocketError;
            case SimSocket::State::Idle:
                break;
        }
        SimConnectRecord record;
        record.family = socket->family;
        record.options = socket->options;
        SimSocketRoute route;
        if (socket->family == kAfBth) {
            if (addressLength < static_cast<INT>(sizeof(SOCKADDR_BTH))) {
                SetError(kWsaEFault);
                return kSocketError;
            }
            SOCKADDR_BTH bth;
            std::memcpy(&bth, address, sizeof bth);
            if (bth.addressFamily != kAfBth) {
                SetError(kWsaEAfNoSupport);
                return kSocketError;
            }
            record.address = bth.btAddr;
            // A packed field: copied by bytes, never bound to a reference.
            std::memcpy(
                &record.serviceClass,
                reinterpret_cast<const char*>(&bth) + offsetof(SOCKADDR_BTH, serviceClassId),
                sizeof record.serviceClass);
            record.port = bth.port;
            route = core.directory.ResolveRfcomm(record.address, record.port, record.serviceClass);
        } else {
            if (addressLength < static_cast<INT>(sizeof(SOCKADDR_IRDA))) {
                SetError(kWsaEFault);
                return kSocketError;
            }
            SOCKADDR_IRDA irda;
            std::memcpy(&irda, address, sizeof irda);
            if (irda.irdaAddressFamily != kAfIrDA) {
                SetError(kWsaEAfNoSupport);
                return kSocketError;
            }
            std::memcpy(record.irdaDeviceId.data(), irda.irdaDeviceID, record.irdaDeviceId.size());
            record.irdaService.assign(irda.irdaServiceName,
                                      strnlen(irda.irdaServiceName, sizeof irda.irdaServiceName));
            route = core.directory.ResolveIrDA(record.irdaDeviceId, record.irdaService);
        }
        core.lastConnect = record;

        std::optional<TcpEndpoint> endpoint;
        if (route.error == 0) {
            endpoint = ParseEndpoint(route.endpoint);
            if (!endpoint) {
                route.error = kWsaEAddrNotAvail;
            }
        }
        int fd = -1;
        if (route.error == 0) {
            fd =
                ::socket(endpoint->address.ss_family,
                         SOCK_STREAM | SOCK_CLOEXEC | (socket->nonBlocking ? SOCK_NONBLOCK : 0), 0);
            if (fd < 0) {
                route.error = ErrnoToWsa(errno);
            }
        }
        if (route.error != 0) {
            socket->state = SimSocket::State::Failed;
            if (!socket->nonBlocking) {
                SetError(route.error);
                return kSocketError;
            }
            socket->Notify(kFdConnect, route.error);
            SetError(kWsaEWouldBlock);
            return kSocketError;
        }
        // OBEX goes request by request: small writes must not wait for the
        // peer's delayed acknowledgement.
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        socket->fd = fd;
        const auto* target = reinterpret_cast<const sockaddr*>(&endpoint->address);
        if (!socket->nonBlocking) {
            socket->state = SimSocket::State::Connecting;
            lock.unlock();
            const int result = ::connect(fd, target, endpoint->length);
            const int error = result == 0 ? 0 : errno;
            lock.lock();
            socket->state = error == 0 ? SimSocket::State::Connected : SimSocket::State::Failed;
            if (error != 0) {
                SetError(ErrnoToWsa(error));
                return kSocketError;
            }
            return 0;
        }
        if (::connect(fd, target, endpoint->length) == 0) {
            socket->state = SimSocket::State::Connected;
            socket->Notify(kFdConnect, 0);
        } else if (errno == EINPROGRESS) {
            socket->state = SimSocket::State::Connecting;
        } else {
            socket->state = SimSocket::State::Failed;
            socket->Notify(kFdConnect, ErrnoToWsa(errno));
        }
        core.ScheduleWatch(socket);
        SetError(kWsaEWouldBlock);
        return kSocketError;
    });
}

INT SimSend(SOCKET handle, const char* buffer, INT length, INT /*flags*/) {
    return WithCore<INT>(kSocketError, [&](SimWinsockSockets::Core& core) -> INT {
        std::shared_ptr<SimSocket> socket;
        std::uint32_t timeoutMs = 0;
        {
            std::lock_guard lock(core.mutex);
            socket = core.Find(handle);
            if (!socket) {
                return kSocketError;
            }
            if (socket->state != SimSocket::State::Connected) {
                SetError(kWsaENotConn);
                return kSocketError;
            }
            timeoutMs = socket->Option(kSolSocket, kSoSndTimeo);
        }
        if (buffer == nullptr || length < 0) {
            SetError(kWsaEFault);
            return kSocketError;
        }
        // The socket's share keeps the fd open for this call even if another
        // thread closes the socket meanwhile.
        INT done = 0;
        while (done < length) {
            const ssize_t sent =
                ::send(socket->fd, buffer + done, static_cast<std::size_t>(length - done),
                       MSG_NOSIGNAL | MSG_DONTWAIT);
            if (sent > 0) {
                done += static_cast<INT>(sent);
                continue;
            }
            if (sent < 0 && errno == EINTR) {
                continue;
            }
            if (sent < 0 && errno == EAGAIN) {
                if (WaitReady(socket->fd, POLLOUT, timeoutMs)) {
                    continue;
                }
                if (done > 0) {
                    return done;
                }
                SetError(kWsaETimedOut);
                return kSocketError;
            }
            if (done > 0) {
                return done;
            }
            SetError(ErrnoToWsa(errno));
            return kSocketError;
        }
        return done;
    });
}

INT SimRecv(SOCKET handle, char* buffer, INT length, INT /*flags*/) {
    return WithCore<INT>(kSocketError, [&](SimWinsockSockets::Core& core) -> INT {
        std::shared_ptr<SimSocket> socket;
        bool nonBlocking = false;
        std::uint32_t timeoutMs = 0;
        {
            std::lock_guard lock(core.mutex);
            socket = core.Find(handle);
            if (!socket) {
                return kSocketError;
            }
            if (socket->state != SimSocket::State::Connected) {
                SetError(kWsaENotConn);
                return kSocketError;
            }
            nonBlocking = socket->nonBlocking;
            timeoutMs = socket->Option(kSolSocket, kSoRcvTimeo);
        }
        if (buffer == nullptr || length < 0) {
            SetError(kWsaEFault);
            return kSocketError;
        }
        if (!nonBlocking && !WaitReady(socket->fd, POLLIN, timeoutMs)) {
            SetError(kWsaETimedOut);
            return kSocketError;
        }
        ssize_t count = 0;
        do {
            count = ::recv(socket->fd, buffer, static_cast<std::size_t>(length), MSG_DONTWAIT);
        } while (count < 0 && errno == EINTR);
        const int error = errno;
        {
            std::lock_guard lock(core.mutex);
            if (core.sockets.count(handle) != 0) {
                socket->readArmed = true;
                core.ScheduleWatch(socket);
            }
        }
        if (count < 0) {
            SetError(ErrnoToWsa(error));
            return kSocketError;
        }
        return static_cast<INT>(count);
    });
}

INT SimAsyncSelect(SOCKET handle, HWND window, unsigned message, std::int32_t events) {
    return WithCore<INT>(kSocketError, [&](SimWinsockSockets::Core& core) -> INT {
        std::lock_guard lock(core.mutex);
        const std::shared_ptr<SimSocket> socket = core.Find(handle);
        if (!socket) {
            return kSocketError;
        }
        if (events != 0 && window == nullptr) {
            SetError(kWsaEInval);
            return kSocketError;
        }
        socket->window = events != 0 ? *FromHwnd(window) : MessageWindowHandle();
        socket->message = message;
        socket->events = events;
        socket->readArmed = true;
        if (!socket->nonBlocking) {
            socket->nonBlocking = true;
            if (socket->fd >= 0) {
                ::fcntl(socket->fd, F_SETFL, ::fcntl(socket->fd, F_GETFL) | O_NONBLOCK);
            }
        }
        core.ScheduleWatch(socket);
        return 0;
    });
}

INT SimStringToAddress(WCHAR* text, INT family, WSAPROTOCOL_INFOW* /*info*/, SOCKADDR* address,
                       INT* addressLength) {
    if (text == nullptr || addressLength == nullptr) {
        SetError(kWsaEFault);
        return kSocketError;
    }
    if (family != kAfBth) {
        SetError(kWsaEInval);
        return kSocketError;
    }
    std::size_t length = 0;
    while (text[length] != u'\0') {
        if (++length > kMaxAddressTextChars) {
            SetError(kWsaEInval);
            return kSocketError;
        }
    }
    const std::optional<std::uint64_t> value =
        ParseBluetoothAddress(std::u16string_view(text, length));
    if (!value) {
        SetError(kWsaEInval);
        return kSocketError;
    }
    if (address == nullptr || *addressLength < static_cast<INT>(sizeof(SOCKADDR_BTH))) {
        *addressLength = static_cast<INT>(sizeof(SOCKADDR_BTH));
        SetError(kWsaEFault);
        return kSocketError;
    }
    SOCKADDR_BTH bth{};
    bth.addressFamily = static_cast<USHORT>(kAfBth);
    bth.btAddr = *value;
    std::memcpy(address, &bth, sizeof bth);
    *addressLength = static_cast<INT>(sizeof bth);
    return 0;
}

INT SimWSAGetLastError() {
    return static_cast<INT>(SimLastError());
}

template <typename Function>
void* EntryPoint(Function function) {
    return reinterpret_cast<void*>(function);
}

}  // namespace

SimWinsockSockets::SimWinsockSockets(EventLoop& loop, SimSocketDirectory& directory)
    : m_core(std::make_shared<Core>(loop, directory)) {
    m_core->self = m_core;
    std::lock_guard lock(CurrentMutex());
    if (CurrentSlot()) {
        throw std::logic_error("another stand-in socket layer is current");
    }
    CurrentSlot() = m_core;
}

SimWinsockSockets::~SimWinsockSockets() {
    {
        std::lock_guard lock(CurrentMutex());
        if (CurrentSlot() == m_core) {
            CurrentSlot().reset();
        }
    }
    std::map<SOCKET, std::shared_ptr<SimSocket>> sockets;
    {
        std::lock_guard lock(m_core->mutex);
        m_core->closed = true;
        sockets.swap(m_core->sockets);
        if (m_core->loop.IsLoopThread()) {
            for (auto& [handle, socket] : sockets) {
                if (socket->watch != 0) {
                    m_core->loop.UnwatchFd(socket->watch);
                    socket->watch = 0;
                }
            }
        }
    }
    // The fds close here, unless a call in flight still holds its socket.
}

std::size_t SimWinsockSockets::OpenSocketCount() const {
    std::lock_guard lock(m_core->mutex);
    return m_core->sockets.size();
}

std::optional<SimConnectRecord> SimWinsockSockets::LastConnect() const {
    std::lock_guard lock(m_core->mutex);
    return m_core->lastConnect;
}

EntryPointTable SimWinsockSocketEntryPoints() {
    return {
        {"socket", EntryPoint(&SimSocketOpen)},
        {"closesocket", EntryPoint(&SimCloseSocket)},
        {"setsockopt", EntryPoint(&SimSetSockOpt)},
        {"connect", EntryPoint(&SimConnect)},
        {"send", EntryPoint(&SimSend)},
        {"recv", EntryPoint(&SimRecv)},
        {"WSAAsyncSelect", EntryPoint(&SimAsyncSelect)},
        {"WSAStringToAddressW", EntryPoint(&SimStringToAddress)},
        {"WSAGetLastError", EntryPoint(&SimWSAGetLastError)},
    };
}

}  // namespace kavri::sim
