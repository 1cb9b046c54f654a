#include "sim/SimWidcomm.h"

#include "platform/StopEvent.h"
#include "sim/ScenarioParser.h"
#include "sim/SimWinsockSockets.h"
#include "stack/wclBluetoothAddress.h"
#include "stack/wclMessages.h"
#include "stack/wclWidcommApi.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

#include <netdb.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace kavri::sim {

using namespace widcomm;

namespace {

constexpr Clock::Duration kWatchInterval{1000};
constexpr std::size_t kReadChunk = 4096;
constexpr int kSendTimeoutSeconds = 30;
constexpr BYTE kSignalLevel = 0xC8;
// Results of WD_OpenRfCommClient (0 is success).
constexpr DWORD kOpenUnknownClient = 1;
constexpr DWORD kOpenAlreadyOpen = 2;
constexpr DWORD kOpenBadChannel = 3;
constexpr DWORD kOpenNoThread = 4;
// What the client reports with 1060 when the TCP side cannot be reached.
constexpr DWORD kConnectFailed = 10061;

void WriteU32(BYTE* p, std::uint32_t value) {
    std::memcpy(p, &value, sizeof value);
}

std::string AddressText(const BYTE* address) {
    AddressBytes bytes{};
    std::memcpy(bytes.data(), address, bytes.size());
    return BytesToAddress(bytes);
}

// A TCP connection to "host:port" or "[v6]:port"; -1 when it cannot be made.
int ConnectTcp(const std::string& endpoint) {
    const std::size_t colon = endpoint.rfind(':');
    if (colon == std::string::npos)
        return -1;
    std::string host = endpoint.substr(0, colon);
    const std::string port = endpoint.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0)
        return -1;
    int fd = -1;
    for (const addrinfo* a = found; a != nullptr && fd < 0; a = a->ai_next) {
        fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd >= 0 && connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
            close(fd);
            fd = -1;
        }
    }
    freeaddrinfo(found);
    if (fd >= 0) {
        // A peer that stops reading must not hold a writer for ever.
        timeval timeout{kSendTimeoutSeconds, 0};
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    }
    return fd;
}

}  // namespace

// One RFCOMM client object. The mutex guards the state; the thread never
// holds it while it posts or sends.
struct SimWidcommClient {
    MessageWindowHandle window;
    std::uint32_t connectedMessage = 0;
    std::uint32_t dataMessage = 0;
    std::uint32_t closedMessage = 0;

    std::mutex mutex;
    bool opened = false;
    bool connected = false;
    bool closing = false;
    int fd = -1;
    BYTE address[kAddressBytes] = {};
    std::thread thread;
    std::atomic<bool> done{false};
};

struct SimWidcomm::Core {
    Core(const Scenario& scenarioIn, const Clock& clockIn, std::function<std::int64_t()> time,
         ObjectPushLookup objectPush)
        : scenario(scenarioIn),
          clock(clockIn),
          scenarioTimeMs(std::move(time)),
          directory(scenarioIn,
                    ScenarioSocketDirectory::Sources{
                        scenarioTimeMs, {}, std::move(objectPush), {}, StackKind::Widcomm}) {}

    const Scenario& scenario;
    const Clock& clock;
    std::function<std::int64_t()> scenarioTimeMs;
    ScenarioSocketDirectory directory;  // thread-safe: reads the scenario only

    mutable std::mutex mutex;
    std::unique_ptr<PollingWatcher> watcher;
    std::string radioName;
    std::map<void*, std::shared_ptr<SimWidcommClient>> clients;
    std::vector<std::shared_ptr<SimWidcommClient>> finished;  // destroyed, thread not yet joined
    std::optional<SimWidcomm::OpenRecord> lastOpen;

    bool RadioReady() const {
        return scenario.RadioPresentAt(scenarioTimeMs(), StackKind::Widcomm);
    }

    // The device the Widcomm radio sees now at that address, or null.
    const DeviceSpec* VisibleDevice(const BYTE* address) const {
        if (address == nullptr || !RadioReady())
            return nullptr;
        const DeviceSpec* device = scenario.FindDevice(AddressText(address));
        if (device == nullptr || !device->IsVisibleOn(StackKind::Widcomm))
            return nullptr;
        const auto present = scenario.DevicesPresentAt(scenarioTimeMs());
        return std::find(present.begin(), present.end(), device) != present.end() ? device
                                                                                  : nullptr;
    }

    std::shared_ptr<SimWidcommClient> FindClient(void* handle) const {
        std::lock_guard lock(mutex);
        const auto found = clients.find(handle);
        return found == clients.end() ? nullptr : found->second;
    }

    // Joins the threads of destroyed clients that have ended.
    void ReapFinished() {
        std::vector<std::shared_ptr<SimWidcommClient>> ended;
        {
            std::lock_guard lock(mutex);
            const auto split = std::partition(finished.begin(), finished.end(),
                                              [](const auto& c) { return !c->done.load(); });
            ended.assign(split, finished.end());
            finished.erase(split, finished.end());
        }
        for (const auto& client : ended)
            client->thread.join();
    }
};

namespace {

std::mutex& CurrentMutex() {
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<SimWidcomm::Core>& CurrentSlot() {
    static std::shared_ptr<SimWidcomm::Core> slot;
    return slot;
}

std::shared_ptr<SimWidcomm::Core> Current() {
    std::lock_guard lock(CurrentMutex());
    return CurrentSlot();
}

// The client thread: connect, report, then hand over what arrives until the
// link ends.
void RunClient(std::shared_ptr<SimWidcommClient> client, SimSocketRoute route) {
    int fd = -1;
    DWORD result = static_cast<DWORD>(route.error);
    if (result == 0) {
        fd = ConnectTcp(route.endpoint);
        if (fd < 0)
            result = kConnectFailed;
    }
    {
        std::lock_guard lock(client->mutex);
        if (client->closing) {
            if (fd >= 0)
                close(fd);
            client->done = true;
            return;
        }
        client->fd = fd;
        client->connected = fd >= 0;
    }
    PostMessage(client->window, client->connectedMessage, result);
    if (fd < 0) {
        client->done = true;
        return;
    }
    std::vector<BYTE> buffer(kReadChunk);
    for (;;) {
        const ssize_t count = recv(fd, buffer.data(), buffer.size(), 0);
        if (count <= 0)
            break;
        // Sent, so the bytes stay valid until the link has taken them.
        SendMessage(client->window, client->dataMessage,
                    reinterpret_cast<std::uintptr_t>(buffer.data()),
                    static_cast<std::intptr_t>(count));
    }
    bool remoteEnd = false;
    {
        std::lock_guard lock(client->mutex);
        remoteEnd = !client->closing;
        client->connected = false;
        close(client->fd);
        client->fd = -1;
    }
    if (remoteEnd)
        PostMessage(client->window, client->closedMessage);
    client->done = true;
}

// ---- entry points ---------------------------------------------------------

BOOL WdLoad(HWND window, DWORD goneMessage, DWORD readyMessage) {
    const auto core = Current();
    if (core == nullptr || window == nullptr)
        return 0;
    const MessageWindowHandle target = *FromHwnd(window);
    std::unique_ptr<PollingWatcher> previous;
    {
        std::lock_guard lock(core->mutex);
        previous = std::move(core->watcher);
    }
    if (previous != nullptr)
        previous->Stop();
    const std::weak_ptr<SimWidcomm::Core> weak = core;
    auto watcher = std::make_unique<PollingWatcher>(
        core->clock, kWatchInterval, core->RadioReady(),
        [weak] {
            const auto alive = weak.lock();
            return alive != nullptr && alive->RadioReady();
        },
        [target, goneMessage, readyMessage](bool ready) {
            PostMessage(target, ready ? readyMessage : goneMessage);
        });
    std::lock_guard lock(core->mutex);
    core->watcher = std::move(watcher);
    return 1;
}

void WdUnload() {
    const auto core = Current();
    if (core == nullptr)
        return;
    std::unique_ptr<PollingWatcher> watcher;
    {
        std::lock_guard lock(core->mutex);
        watcher = std::move(core->watcher);
    }
    if (watcher != nullptr)
        watcher->Stop();
}

BOOL WdIsDeviceReady() {
    const auto core = Current();
    return core != nullptr && core->RadioReady() ? 1 : 0;
}

BOOL WdSetLocalDeviceName(const BYTE* name) {
    const auto core = Current();
    if (core == nullptr || name == nullptr || !core->RadioReady())
        return 0;
    const BYTE* end = std::find(name, name + kNameFieldBytes, BYTE{0});
    std::lock_guard lock(core->mutex);
    core->radioName.assign(reinterpret_cast<const char*>(name),
                           static_cast<std::size_t>(end - name));
    return 1;
}

BOOL WdGetLocalDeviceName(BYTE* name) {
    const auto core = Current();
    if (core == nullptr || name == nullptr || !core->RadioReady())
        return 0;
    std::lock_guard lock(core->mutex);
    const std::string& text =
        core->radioName.empty() ? core->scenario.RadioOf(StackKind::Widcomm).name : core->radioName;
    std::memset(name, 0, kNameFieldBytes);
    std::memcpy(name, text.data(), std::min(text.size(), kNameFieldBytes));
    return 1;
}

BOOL WdGetLocalDeviceAddress(BYTE* address) {
    const auto core = Current();
    if (core == nullptr || address == nullptr || !core->RadioReady() ||
        !IsValidAddress(core->scenario.RadioOf(StackKind::Widcomm).address))
        return 0;
    const AddressBytes bytes = AddressToBytes(core->scenario.RadioOf(StackKind::Widcomm).address);
    std::memcpy(address, bytes.data(), bytes.size());
    return 1;
}

BOOL WdEnumDevices(BYTE* buffer, DWORD size) {
    const auto core = Current();
    if (core == nullptr || buffer == nullptr || size < 4 || !core->RadioReady())
        return 0;
    std::uint32_t count = 0;
    for (const DeviceSpec* device : core->scenario.DevicesPresentAt(core->scenarioTimeMs())) {
        if (!device->IsVisibleOn(StackKind::Widcomm) || !IsValidAddress(device->address))
            continue;
        const std::size_t at = 4 + std::size_t{count} * kAddressBytes;
        if (at + kAddressBytes > size)
            break;
        const AddressBytes bytes = AddressToBytes(device->address);
        std::memcpy(buffer + at, bytes.data(), bytes.size());
        ++count;
    }
    WriteU32(buffer, count);
    return 1;
}

BOOL WdGetDeviceName(const BYTE* address, BYTE* name) {
    const auto core = Current();
    const DeviceSpec* device = core ? core->VisibleDevice(address) : nullptr;
    if (device == nullptr || name == nullptr)
        return 0;
    // The field is filled as far as it goes; only a shorter name ends in zeros.
    std::memset(name, 0, kNameFieldBytes);
    std::memcpy(name, device->name.data(), std::min(device->name.size(), kNameFieldBytes));
    return 1;
}

BOOL WdGetDeviceCOD(const BYTE* address, BYTE* classBytes) {
    const auto core = Current();
    const DeviceSpec* device = core ? core->VisibleDevice(address) : nullptr;
    if (device == nullptr || classBytes == nullptr)
        return 0;
    classBytes[0] = static_cast<BYTE>(device->classOfDevice >> 16);
    classBytes[1] = static_cast<BYTE>(device->classOfDevice >> 8);
    classBytes[2] = static_cast<BYTE>(device->classOfDevice);
    return 1;
}

BOOL WdEnumServices(const BYTE* address, const GUID* serviceClass, BYTE* buffer) {
    const auto core = Current();
    const DeviceSpec* device = core ? core->VisibleDevice(address) : nullptr;
    if (device == nullptr || buffer == nullptr)
        return 0;
    std::memset(buffer, 0, kServiceBufferBytes);
    std::uint32_t count = 0;
    for (const ServiceSpec& service : device->services) {
        if (count == kMaxServiceRecords)
            break;
        const std::optional<GUID> uuid = ParseScenarioUuid(service.classUuid);
        if (!uuid || (serviceClass != nullptr && *uuid != *serviceClass))
            continue;
        BYTE* record = buffer + 4 + std::size_t{count} * kServiceRecordBytes;
        record[0] = service.channel;
        std::memcpy(record + kServiceNameOffset, service.name.data(),
                    std::min(service.name.size(), kServiceNameBytes));
        std::memcpy(record + kServiceUuidOffset, &*uuid, sizeof(GUID));
        ++count;
    }
    WriteU32(buffer, count);
    return 1;
}

// Pairing is not part of the neighbourhood: no device is paired.
BOOL WdGetPaired(const BYTE*) {
    return 0;
}

BOOL WdPair(const BYTE*, const char*) {
    return 0;
}

BOOL WdUnpair(const BYTE*) {
    return 0;
}

void* WdCreateRfCommClient(HWND window, DWORD connectedMessage, DWORD dataMessage,
                           DWORD closedMessage) {
    const auto core = Current();
    if (core == nullptr || window == nullptr)
        return nullptr;
    core->ReapFinished();
    auto client = std::make_shared<SimWidcommClient>();
    client->window = *FromHwnd(window);
    client->connectedMessage = connectedMessage;
    client->dataMessage = dataMessage;
    client->closedMessage = closedMessage;
    void* const handle = client.get();
    std::lock_guard lock(core->mutex);
    core->clients.emplace(handle, std::move(client));
    return handle;
}

DWORD WdCloseRfCommClient(void* handle);

void WdDestroyRfCommClient(void* handle) {
    const auto core = Current();
    if (core == nullptr)
        return;
    WdCloseRfCommClient(handle);
    {
        std::lock_guard lock(core->mutex);
        const auto found = core->clients.find(handle);
        if (found == core->clients.end())
            return;
        if (found->second->thread.joinable())
            core->finished.push_back(found->second);
        core->clients.erase(found);
    }
    core->ReapFinished();
}

DWORD WdOpenRfCommClient(void* handle, const BYTE* address, BYTE channel, DWORD uuid0, DWORD uuid1,
                         DWORD uuid2, DWORD uuid3, DWORD authentication, DWORD encryption,
                         const char* serviceName) {
    const auto core = Current();
    const auto client = core ? core->FindClient(handle) : nullptr;
    if (client == nullptr || address == nullptr)
        return kOpenUnknownClient;
    SimWidcomm::OpenRecord record;
    record.address = AddressText(address);
    record.channel = channel;
    const DWORD words[4] = {uuid0, uuid1, uuid2, uuid3};
    std::memcpy(&record.serviceClass, words, sizeof words);
    record.authentication = authentication;
    record.encryption = encryption;
    if (serviceName != nullptr)
        record.serviceName.assign(serviceName, strnlen(serviceName, kServiceNameBytes));
    {
        std::lock_guard lock(core->mutex);
        core->lastOpen = record;
    }
    if (channel == 0 || channel > kMaxServiceChannel)
        return kOpenBadChannel;

    // A device this radio does not see is paged in vain, as one out of range.
    const SimSocketRoute route =
        core->VisibleDevice(address) == nullptr
            ? SimSocketRoute::Fail(winsock::kWsaETimedOut)
            : core->directory.ResolveRfcomm(AddressToUInt64(record.address), channel,
                                            record.serviceClass);
    std::lock_guard lock(client->mutex);
    if (client->opened)
        return kOpenAlreadyOpen;
    client->opened = true;
    std::memcpy(client->address, address, kAddressBytes);
    try {
        client->thread = std::thread(RunClient, client, route);
    } catch (const std::system_error&) {
        client->opened = false;
        return kOpenNoThread;
    }
    return 0;
}

DWORD WdCloseRfCommClient(void* handle) {
    const auto core = Current();
    const auto client = core ? core->FindClient(handle) : nullptr;
    if (client == nullptr)
        return kOpenUnknownClient;
    std::lock_guard lock(client->mutex);
    client->closing = true;
    client->connected = false;
    // Wakes the thread's read; the thread closes the socket itself.
    if (client->fd >= 0)
        shutdown(client->fd, SHUT_RDWR);
    return 0;
}

DWORD WdWriteRfCommClient(void* handle, const BYTE* data, WORD length, WORD* written) {
    const auto core = Current();
    const auto client = core ? core->FindClient(handle) : nullptr;
    if (client == nullptr || data == nullptr || written == nullptr)
        return kOpenUnknownClient;
    *written = 0;
    std::lock_guard lock(client->mutex);
    if (!client->connected || client->fd < 0)
        return kOpenUnknownClient;
    std::size_t done = 0;
    while (done < length) {
        const ssize_t sent = send(client->fd, data + done, length - done, MSG_NOSIGNAL);
        if (sent <= 0)
            return kConnectFailed;
        done += static_cast<std::size_t>(sent);
    }
    *written = length;
    return 0;
}

BOOL WdIsRfCommClientConnected(void* handle, BYTE* address) {
    const auto core = Current();
    const auto client = core ? core->FindClient(handle) : nullptr;
    if (client == nullptr)
        return 0;
    std::lock_guard lock(client->mutex);
    if (!client->connected)
        return 0;
    if (address != nullptr)
        std::memcpy(address, client->address, kAddressBytes);
    return 1;
}

BOOL WdGetRfCommClientSignalLevel(void* handle, BYTE* level) {
    const auto core = Current();
    const auto client = core ? core->FindClient(handle) : nullptr;
    if (client == nullptr || level == nullptr)
        return 0;
    std::lock_guard lock(client->mutex);
    if (!client->connected)
        return 0;
    *level = kSignalLevel;
    return 1;
}

template <typename Function>
void* EntryPoint(Function function) {
    return reinterpret_cast<void*>(function);
}

}  // namespace

SimWidcomm::SimWidcomm(const Scenario& scenario, const Clock& clock,
                       std::function<std::int64_t()> scenarioTimeMs,
                       ObjectPushLookup objectPushServer)
    : m_core(std::make_shared<Core>(scenario, clock, std::move(scenarioTimeMs),
                                    std::move(objectPushServer))) {
    std::lock_guard lock(CurrentMutex());
    if (CurrentSlot() != nullptr)
        throw std::logic_error("another Widcomm stand-in is current");
    CurrentSlot() = m_core;
}

SimWidcomm::~SimWidcomm() {
    {
        std::lock_guard lock(CurrentMutex());
        CurrentSlot().reset();
    }
    std::unique_ptr<PollingWatcher> watcher;
    std::vector<std::shared_ptr<SimWidcommClient>> clients;
    {
        std::lock_guard lock(m_core->mutex);
        watcher = std::move(m_core->watcher);
        for (auto& [handle, client] : m_core->clients)
            clients.push_back(client);
        m_core->clients.clear();
        clients.insert(clients.end(), m_core->finished.begin(), m_core->finished.end());
        m_core->finished.clear();
    }
    if (watcher != nullptr)
        watcher->Stop();
    for (const auto& client : clients) {
        {
            std::lock_guard lock(client->mutex);
            client->closing = true;
            if (client->fd >= 0)
                shutdown(client->fd, SHUT_RDWR);
        }
        if (client->thread.joinable())
            client->thread.join();
    }
}

std::optional<SimWidcomm::OpenRecord> SimWidcomm::LastOpen() const {
    std::lock_guard lock(m_core->mutex);
    return m_core->lastOpen;
}

std::size_t SimWidcomm::ClientCount() const {
    std::lock_guard lock(m_core->mutex);
    return m_core->clients.size();
}

std::string SimWidcomm::RadioName() const {
    std::lock_guard lock(m_core->mutex);
    return m_core->radioName;
}

bool SimWidcomm::WatcherRunning() const {
    std::lock_guard lock(m_core->mutex);
    return m_core->watcher != nullptr;
}

EntryPointTable SimWidcommEntryPoints() {
    return {
        {"WD_Load", EntryPoint(&WdLoad)},
        {"WD_Unload", EntryPoint(&WdUnload)},
        {"WD_IsDeviceReady", EntryPoint(&WdIsDeviceReady)},
        {"WD_SetLocalDeviceName", EntryPoint(&WdSetLocalDeviceName)},
        {"WD_GetLocalDeviceName", EntryPoint(&WdGetLocalDeviceName)},
        {"WD_GetLocalDeviceAddress", EntryPoint(&WdGetLocalDeviceAddress)},
        {"WD_EnumDevices", EntryPoint(&WdEnumDevices)},
        {"WD_GetDeviceName", EntryPoint(&WdGetDeviceName)},
        {"WD_GetDeviceCOD", EntryPoint(&WdGetDeviceCOD)},
        {"WD_EnumServices", EntryPoint(&WdEnumServices)},
        {"WD_GetPaired", EntryPoint(&WdGetPaired)},
        {"WD_Pair", EntryPoint(&WdPair)},
        {"WD_Unpair", EntryPoint(&WdUnpair)},
        {"WD_CreateRfCommClient", EntryPoint(&WdCreateRfCommClient)},
        {"WD_DestroyRfCommClient", EntryPoint(&WdDestroyRfCommClient)},
        {"WD_OpenRfCommClient", EntryPoint(&WdOpenRfCommClient)},
        {"WD_CloseRfCommClient", EntryPoint(&WdCloseRfCommClient)},
        {"WD_WriteRfCommClient", EntryPoint(&WdWriteRfCommClient)},
        {"WD_IsRfCommClientConnected", EntryPoint(&WdIsRfCommClientConnected)},
        {"WD_GetRfCommClientSignalLevel", EntryPoint(&WdGetRfCommClientSignalLevel)},
    };
}

}  // namespace kavri::sim
