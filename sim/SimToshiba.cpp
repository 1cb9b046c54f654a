#include "sim/SimToshiba.h"

#include "platform/Text.h"
#include "sim/ScenarioParser.h"
#include "sim/SimWinsockSockets.h"
#include "sim/VirtualComPort.h"
#include "stack/wclBluetoothAddress.h"
#include "stack/wclMessages.h"
#include "stack/wclToshibaApi.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

namespace kavri::sim {

using namespace toshiba;

namespace {

constexpr std::chrono::milliseconds kStatePoll{10};
constexpr std::uint8_t kLinkQuality = 200;
constexpr std::size_t kDeviceNameOffset = 6;
constexpr std::size_t kDeviceNameSize = 248;
constexpr std::size_t kDeviceClassOffset = 254;
// The stand-in's own form of the search result that the analysis reads.
constexpr Dword kSearchResultMagic = 0x54534852;  // "RHST"

struct Posting {
    MessageWindowHandle window;
    std::uint32_t message = 0;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
};

struct Registration {
    Dword mask = 0;
    MessageWindowHandle window;
    std::uint32_t message = 0;
};

struct ComPort {
    std::uint32_t number = 0;
    std::unique_ptr<VirtualComPort> port;
    std::optional<Posting> notify;  // where the link-lost event goes
    std::uint16_t connection = 0;
};

bool PresentAt(const DeviceSpec& device, std::int64_t now) {
    return device.presence.empty() ||
           std::any_of(device.presence.begin(), device.presence.end(),
                       [now](const Interval& i) { return i.Contains(now); });
}

// The 16 bytes of a UUID in big-endian order, and how many of them the
// stack's record calls significant (2, 4 or 16).
std::pair<std::array<std::uint8_t, 16>, std::uint8_t> UuidBytes(const GUID& uuid) {
    std::array<std::uint8_t, 16> out{};
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<std::uint8_t>(uuid.Data1 >> (24 - 8 * i));
    }
    out[4] = static_cast<std::uint8_t>(uuid.Data2 >> 8);
    out[5] = static_cast<std::uint8_t>(uuid.Data2);
    out[6] = static_cast<std::uint8_t>(uuid.Data3 >> 8);
    out[7] = static_cast<std::uint8_t>(uuid.Data3);
    std::copy(std::begin(uuid.Data4), std::end(uuid.Data4), out.begin() + 8);
    GUID base = uuid;
    base.Data1 = 0;
    if (base != BaseUUID) {
        return {out, 16};
    }
    return {out, static_cast<std::uint8_t>(uuid.Data1 <= 0xFFFF ? 2 : 4)};
}

void PutText(std::uint8_t* field, std::size_t size, const std::string& text) {
    const std::string_view fitted = TruncateUtf8(text, size);
    std::memcpy(field, fitted.data(), fitted.size());
}

}  // namespace

struct SimToshiba::Core {
    const Scenario& scenario;
    Sources sources;
    ScenarioSocketDirectory directory;

    mutable std::mutex mutex;
    std::string radioName;
    std::vector<Registration> registrations;
    std::map<std::string, ComPort> ports;  // by name
    std::map<Dword, const DeviceSpec*> sdpSessions;
    std::set<void*> allocations;
    Dword nextSdp = 1;
    std::uint16_t nextConnection = 0x20;

    std::mutex postMutex;
    std::condition_variable postWake;
    std::deque<Posting> postings;
    bool stop = false;
    std::thread poster;

    Core(const Scenario& s, Sources src)
        : scenario(s),
          sources(std::move(src)),
          directory(
              s,
              ScenarioSocketDirectory::Sources{
                  sources.scenarioTimeMs, {}, sources.objectPushServer, {}, StackKind::Toshiba}),
          radioName(s.RadioOf(StackKind::Toshiba).name) {}

    std::int64_t Now() const { return sources.scenarioTimeMs ? sources.scenarioTimeMs() : 0; }
    bool RadioReady() const { return scenario.RadioPresentAt(Now(), StackKind::Toshiba); }

    const DeviceSpec* PresentDevice(const std::uint8_t* address) const {
        if (address == nullptr || !RadioReady()) {
            return nullptr;
        }
        AddressBytes bytes{};
        std::copy(address, address + bytes.size(), bytes.begin());
        const DeviceSpec* device = scenario.FindDevice(BytesToAddress(bytes));
        return device != nullptr && device->IsVisibleOn(StackKind::Toshiba) &&
                       PresentAt(*device, Now())
                   ? device
                   : nullptr;
    }

    std::uint8_t* Allocate(std::size_t size) {
        auto* memory = static_cast<std::uint8_t*>(std::calloc(1, size));
        if (memory != nullptr) {
            std::lock_guard lock(mutex);
            allocations.insert(memory);
        }
        return memory;
    }
    void Free(void* memory) {
        {
            std::lock_guard lock(mutex);
            if (allocations.erase(memory) == 0) {
                return;  // not ours, or freed already
            }
        }
        std::free(memory);
    }

    void Post(Posting posting) {
        {
            std::lock_guard lock(postMutex);
            postings.push_back(std::move(posting));
        }
        postWake.notify_one();
    }
    void PostToRegistered(Dword mask, Dword event, std::intptr_t lParam) {
        std::vector<Registration> targets;
        {
            std::lock_guard lock(mutex);
            for (const Registration& r : registrations) {
                if ((r.mask & mask) != 0) {
                    targets.push_back(r);
                }
            }
        }
        for (const Registration& r : targets) {
            Post({r.window, r.message, event, lParam});
        }
    }

    // lastReady: the radio's state when the stand-in was made, so a clock
    // moved before this thread first runs still shows as a change.
    void RunPoster(bool lastReady) {
        std::unique_lock lock(postMutex);
        while (!stop) {
            postWake.wait_for(lock, kStatePoll, [this] { return stop || !postings.empty(); });
            while (!postings.empty()) {
                const Posting posting = postings.front();
                postings.pop_front();
                lock.unlock();
                PostMessage(posting.window, posting.message, posting.wParam, posting.lParam);
                lock.lock();
            }
            lock.unlock();
            const bool ready = RadioReady();
            if (ready != lastReady) {
                lastReady = ready;
                PostToRegistered(kStateEvents, 0, ready ? 1 : 0);
            }
            lock.lock();
        }
    }

    void Shutdown() {
        {
            std::lock_guard lock(postMutex);
            stop = true;
        }
        postWake.notify_one();
        if (poster.joinable()) {
            poster.join();
        }
        std::map<std::string, ComPort> closing;
        std::set<void*> leftover;
        {
            std::lock_guard lock(mutex);
            closing.swap(ports);
            leftover.swap(allocations);
            registrations.clear();
        }
        for (auto& [name, port] : closing) {
            port.port.reset();
            VirtualComPort::ReleaseNumber(port.number);
        }
        for (void* memory : leftover) {
            std::free(memory);
        }
    }
};

namespace {

std::mutex g_currentMutex;
std::shared_ptr<SimToshiba::Core> g_current;  // guarded by g_currentMutex

std::shared_ptr<SimToshiba::Core> Current() {
    std::lock_guard lock(g_currentMutex);
    return g_current;
}

Bool32 Fail(Long* status) {
    if (status != nullptr) {
        *status = -1;
    }
    return 0;
}

Bool32 Succeed(Long* status) {
    if (status != nullptr) {
        *status = 0;
    }
    return 1;
}

Bool32 OpenAPI(Window window, const char*, Long* status) {
    return Current() != nullptr && window != nullptr ? Succeed(status) : Fail(status);
}

Bool32 CloseAPI(Long* status) {
    return Current() != nullptr ? Succeed(status) : Fail(status);
}

Bool32 NotifyEvent(Dword mask, Long* status, Window window, std::uint32_t message) {
    const auto core = Current();
    if (core == nullptr || window == nullptr) {
        return Fail(status);
    }
    std::lock_guard lock(core->mutex);
    std::erase_if(core->registrations, [&](const Registration& r) { return r.window == *window; });
    if (mask != kNotificationOff) {
        core->registrations.push_back({mask, *window, message});
    }
    return Succeed(status);
}

Bool32 GetLocalInfo2(std::uint8_t* info, Long* status) {
    const auto core = Current();
    if (core == nullptr || info == nullptr || !core->RadioReady()) {
        return Fail(status);
    }
    const AddressBytes address = AddressToBytes(core->scenario.RadioOf(StackKind::Toshiba).address);
    std::memset(info, 0, kLocalInfoSize);
    std::copy(address.begin(), address.end(), info);
    return Succeed(status);
}

Bool32 SetLocalDeviceName(const std::uint8_t* name, Long* status) {
    const auto core = Current();
    if (core == nullptr || name == nullptr || !core->RadioReady()) {
        return Fail(status);
    }
    const std::uint8_t* end = std::find(name, name + kNameFieldSize, std::uint8_t{0});
    std::lock_guard lock(core->mutex);
    core->radioName.assign(reinterpret_cast<const char*>(name),
                           static_cast<std::size_t>(end - name));
    return Succeed(status);
}

Bool32 GetRemoteClassOfDevice(const std::uint8_t* address, Dword* cod, Long* status) {
    const auto core = Current();
    const DeviceSpec* device = core ? core->PresentDevice(address) : nullptr;
    if (device == nullptr || cod == nullptr) {
        return Fail(status);
    }
    *cod = device->classOfDevice;
    return Succeed(status);
}

Bool32 GetRemoteName(const std::uint8_t* address, std::uint8_t* name, Long* status) {
    const auto core = Current();
    const DeviceSpec* device = core ? core->PresentDevice(address) : nullptr;
    if (device == nullptr || name == nullptr) {
        return Fail(status);
    }
    std::memset(name, 0, kNameFieldSize);
    PutText(name, kNameFieldSize, device->name);
    return Succeed(status);
}

Bool32 DiscoverRemoteDevice2(std::uint8_t** list, Long* status, Dword, Dword, Window window,
                             std::uint32_t message) {
    const auto core = Current();
    if (core == nullptr || list == nullptr || window == nullptr || !core->RadioReady()) {
        return Fail(status);
    }
    const std::vector<const DeviceSpec*> devices =
        core->scenario.DevicesPresentAt(core->Now(), StackKind::Toshiba);
    const std::size_t size = kDeviceListHeader + devices.size() * kDeviceRecordSize;
    std::uint8_t* out = core->Allocate(size);
    if (out == nullptr) {
        return Fail(status);
    }
    WriteLe32(out, static_cast<Dword>(devices.size()));
    WriteLe32(out + 4, static_cast<Dword>(size));
    for (std::size_t i = 0; i < devices.size(); ++i) {
        std::uint8_t* record = out + kDeviceListHeader + i * kDeviceRecordSize;
        const AddressBytes address = AddressToBytes(devices[i]->address);
        std::copy(address.begin(), address.end(), record);
        PutText(record + kDeviceNameOffset, kDeviceNameSize, devices[i]->name);
        WriteLe32(record + kDeviceClassOffset, devices[i]->classOfDevice);
    }
    *list = out;
    core->Post({*window, message, kDiscoveryEnd, 0});
    return Succeed(status);
}

void MemFree(void* memory) {
    if (const auto core = Current()) {
        core->Free(memory);
    }
}

Bool32 MakeServiceSearchPattern2(const std::uint8_t* uuids, Dword count, void** pattern,
                                 Long* status) {
    const auto core = Current();
    if (core == nullptr || uuids == nullptr || count != 1 || pattern == nullptr) {
        return Fail(status);
    }
    std::uint8_t* out = core->Allocate(16);
    if (out == nullptr) {
        return Fail(status);
    }
    std::memcpy(out, uuids, 16);
    *pattern = out;
    return Succeed(status);
}

Bool32 MakeAttributeIDList2(Dword mask, void** list, Long* status) {
    const auto core = Current();
    if (core == nullptr || list == nullptr) {
        return Fail(status);
    }
    std::uint8_t* out = core->Allocate(4);
    if (out == nullptr) {
        return Fail(status);
    }
    WriteLe32(out, mask);
    *list = out;
    return Succeed(status);
}

Bool32 ConnectSDP(const std::uint8_t* address, Dword* sdp, Long* status, Window window,
                  std::uint32_t message) {
    const auto core = Current();
    if (core == nullptr || sdp == nullptr || window == nullptr) {
        return Fail(status);
    }
    const DeviceSpec* device = core->PresentDevice(address);
    if (device == nullptr) {
        // A page nobody answers: the stack says so, then ends the operation.
        core->Post({*window, message, kSdpConnectFailed, 0});
        core->Post({*window, message, kSdpConnectEnd, 0});
        *sdp = 0;
        return Succeed(status);
    }
    {
        std::lock_guard lock(core->mutex);
        *sdp = core->nextSdp++;
        core->sdpSessions[*sdp] = device;
    }
    core->Post({*window, message, kSdpConnectEnd, 0});
    return Succeed(status);
}

Bool32 DisconnectSDP(Dword sdp, Long* status) {
    const auto core = Current();
    if (core == nullptr) {
        return Fail(status);
    }
    std::lock_guard lock(core->mutex);
    return core->sdpSessions.erase(sdp) != 0 ? Succeed(status) : Fail(status);
}

Bool32 ServiceSearchAttribute2(Dword sdp, const void* pattern, const void*, void** lists,
                               Long* status, Window window, std::uint32_t message) {
    const auto core = Current();
    if (core == nullptr || pattern == nullptr || lists == nullptr || window == nullptr) {
        return Fail(status);
    }
    const DeviceSpec* device = nullptr;
    {
        std::lock_guard lock(core->mutex);
        const auto found = core->sdpSessions.find(sdp);
        if (found == core->sdpSessions.end()) {
            return Fail(status);
        }
        device = found->second;
    }
    const GUID wanted = [&] {
        GUID guid{};
        const auto* b = static_cast<const std::uint8_t*>(pattern);
        guid.Data1 = static_cast<std::uint32_t>(b[0]) << 24 |
                     static_cast<std::uint32_t>(b[1]) << 16 |
                     static_cast<std::uint32_t>(b[2]) << 8 | b[3];
        guid.Data2 = static_cast<std::uint16_t>(b[4] << 8 | b[5]);
        guid.Data3 = static_cast<std::uint16_t>(b[6] << 8 | b[7]);
        std::copy(b + 8, b + 16, std::begin(guid.Data4));
        return guid;
    }();
    // Every record holds L2CAP, so searching for it finds every service.
    std::vector<Dword> matches;
    for (std::size_t i = 0; i < device->services.size(); ++i) {
        if (wanted == L2CAPProtocolUUID ||
            ParseScenarioUuid(device->services[i].classUuid) == wanted) {
            matches.push_back(static_cast<Dword>(i));
        }
    }
    const std::size_t deviceIndex =
        static_cast<std::size_t>(device - core->scenario.devices.data());
    std::uint8_t* out = core->Allocate(12 + 4 * matches.size());
    if (out == nullptr) {
        return Fail(status);
    }
    WriteLe32(out, kSearchResultMagic);
    WriteLe32(out + 4, static_cast<Dword>(deviceIndex));
    WriteLe32(out + 8, static_cast<Dword>(matches.size()));
    for (std::size_t i = 0; i < matches.size(); ++i) {
        WriteLe32(out + 12 + 4 * i, matches[i]);
    }
    *lists = out;
    core->Post({*window, message, kSdpSearchEnd, 0});
    return Succeed(status);
}

Bool32 AnalyzeServiceAttributeLists2(const void* lists, Dword, std::uint8_t** analyzed,
                                     Long* status) {
    const auto core = Current();
    const auto* in = static_cast<const std::uint8_t*>(lists);
    if (core == nullptr || in == nullptr || analyzed == nullptr ||
        ReadLe32(in) != kSearchResultMagic || ReadLe32(in + 4) >= core->scenario.devices.size()) {
        return Fail(status);
    }
    const DeviceSpec& device = core->scenario.devices[ReadLe32(in + 4)];
    const std::size_t count = ReadLe32(in + 8);
    const std::size_t size = kAnalyzedHeader + count * kAnalyzedRecordSize;
    std::uint8_t* out = core->Allocate(size);
    if (out == nullptr) {
        return Fail(status);
    }
    WriteLe32(out, static_cast<Dword>(count));
    WriteLe32(out + 4, static_cast<Dword>(size));
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t index = ReadLe32(in + 12 + 4 * i);
        if (index >= device.services.size()) {
            continue;
        }
        const ServiceSpec& service = device.services[index];
        std::uint8_t* record = out + kAnalyzedHeader + i * kAnalyzedRecordSize;
        Dword flags = kHasProtocols;
        if (const auto uuid = ParseScenarioUuid(service.classUuid)) {
            const auto [bytes, significant] = UuidBytes(*uuid);
            record[kClassSizeOffset] = significant;
            std::copy(bytes.begin(), bytes.end(), record + kClassOffset);
            flags |= kHasClass;
        }
        if (!service.name.empty()) {
            const std::string_view name = TruncateUtf8(service.name, kTextFieldSize);
            WriteLe16(record + kNameLengthOffset, static_cast<std::uint16_t>(name.size()));
            std::memcpy(record + kNameOffset, name.data(), name.size());
            flags |= kHasName;
        }
        if (!service.comment.empty()) {
            const std::string_view comment = TruncateUtf8(service.comment, kTextFieldSize);
            WriteLe16(record + kDescriptionLengthOffset,
                      static_cast<std::uint16_t>(comment.size()));
            std::memcpy(record + kDescriptionOffset, comment.data(), comment.size());
            flags |= kHasDescription;
        }
        // L2CAP always; RFCOMM with its channel when the service has one.
        std::uint8_t* entry = record + kProtocolOffset;
        std::copy_n(UuidBytes(L2CAPProtocolUUID).first.begin(), 16, entry);
        std::uint8_t protocols = 1;
        if (service.channel != 0) {
            entry += kProtocolEntrySize;
            std::copy_n(UuidBytes(RFCOMMProtocolUUID).first.begin(), 16, entry);
            entry[16] = 1;
            entry[17] = service.channel;
            ++protocols;
        }
        record[kProtocolCountOffset] = protocols;
        WriteLe32(record, flags);
    }
    *analyzed = out;
    return Succeed(status);
}

Bool32 AnalyzeProtocolParameter2(const std::uint8_t* entry, std::uint8_t* result, Long* status) {
    if (Current() == nullptr || entry == nullptr || result == nullptr) {
        return Fail(status);
    }
    std::memset(result, 0, kProtocolParameterSize);
    std::memcpy(result, entry, 16);
    if (entry[16] != 0) {
        result[16] = kParameterServerChannel;
        result[17] = entry[17];
    }
    return Succeed(status);
}

void FreeAnalyzedAttrList2(std::uint8_t* analyzed) {
    MemFree(analyzed);
}

// "COM" and a number from 1 to 255.
std::uint32_t PortNumber(const char* name) {
    if (name == nullptr || std::strncmp(name, "COM", 3) != 0) {
        return 0;
    }
    std::uint32_t number = 0;
    const char* digit = name + 3;
    for (int i = 0; i < 3 && *digit >= '0' && *digit <= '9'; ++i, ++digit) {
        number = number * 10 + static_cast<std::uint32_t>(*digit - '0');
    }
    return *digit == '\0' && number >= 1 && number <= 255 ? number : 0;
}

Bool32 CreateCOMM(const char* name, Dword, Dword, Long* status) {
    const auto core = Current();
    const std::uint32_t number = PortNumber(name);
    if (core == nullptr || number == 0 || !VirtualComPort::ClaimNumber(number)) {
        return Fail(status);
    }
    {
        std::lock_guard lock(core->mutex);
        core->ports[name] = ComPort{number, nullptr, std::nullopt, 0};
    }
    core->PostToRegistered(kComEvents, kComCreated, 0);
    return Succeed(status);
}

// Takes a port's bridge out, to be closed outside the lock: its thread may be
// reporting the link lost, which takes the lock.
std::unique_ptr<VirtualComPort> TakeBridge(SimToshiba::Core& core, const char* name, bool destroy,
                                           bool& found) {
    std::lock_guard lock(core.mutex);
    const auto port = name == nullptr ? core.ports.end() : core.ports.find(name);
    found = port != core.ports.end();
    if (!found) {
        return nullptr;
    }
    std::unique_ptr<VirtualComPort> bridge = std::move(port->second.port);
    port->second.notify.reset();
    if (destroy) {
        VirtualComPort::ReleaseNumber(port->second.number);
        core.ports.erase(port);
    }
    return bridge;
}

Bool32 DisconnectCOMM(const char* name, Long* status) {
    const auto core = Current();
    bool found = false;
    if (core != nullptr) {
        TakeBridge(*core, name, false, found).reset();
    }
    return found ? Succeed(status) : Fail(status);
}

Bool32 DestroyCOMM(const char* name, Long* status) {
    const auto core = Current();
    bool found = false;
    if (core != nullptr) {
        TakeBridge(*core, name, true, found).reset();
    }
    return found ? Succeed(status) : Fail(status);
}

Bool32 ConnectCOMM2(const char* name, const std::uint8_t* address, std::uint8_t channel, Dword,
                    std::uint16_t* connection, Dword, Long* status, Window window,
                    std::uint32_t message, Dword) {
    const auto core = Current();
    if (core == nullptr || name == nullptr || connection == nullptr || window == nullptr ||
        address == nullptr) {
        return Fail(status);
    }
    std::uint32_t number = 0;
    {
        std::lock_guard lock(core->mutex);
        const auto port = core->ports.find(name);
        if (port == core->ports.end() || port->second.port != nullptr) {
            return Fail(status);
        }
        number = port->second.number;
    }
    const DeviceSpec* device = core->PresentDevice(address);
    SimSocketRoute route = SimSocketRoute::Fail(winsock::kWsaETimedOut);
    if (device != nullptr && device->behaviour != PushBehaviour::Busy) {
        route = core->directory.ResolveRfcomm(AddressToUInt64(device->address), channel, BaseUUID);
    }
    std::unique_ptr<VirtualComPort> bridge;
    if (route.error == 0) {
        const std::weak_ptr<SimToshiba::Core> weak = core;
        const std::string portName = name;
        try {
            bridge = std::make_unique<VirtualComPort>(number, route.endpoint, [weak, portName] {
                const auto owner = weak.lock();
                if (owner == nullptr) {
                    return;
                }
                std::optional<Posting> notify;
                {
                    std::lock_guard lock(owner->mutex);
                    const auto port = owner->ports.find(portName);
                    if (port != owner->ports.end()) {
                        notify = port->second.notify;
                    }
                }
                if (notify) {
                    owner->Post({notify->window, notify->message, kComLinkLost, 0});
                }
            });
        } catch (const std::exception&) {
            bridge.reset();
        }
    }
    if (bridge == nullptr) {
        core->Post({*window, message, kComRefused, 0});
        core->Post({*window, message, kComConnectComplete, 0});
        *connection = 0;
        return Succeed(status);
    }
    {
        std::lock_guard lock(core->mutex);
        ComPort& port = core->ports[name];
        port.port = std::move(bridge);
        port.connection = core->nextConnection++;
        *connection = port.connection;
    }
    core->Post({*window, message, kComConnectComplete, 0});
    return Succeed(status);
}

Bool32 NotifyCOMM(const char* name, Dword mode, const std::uint8_t*, std::uint16_t, Long* status,
                  Window window, std::uint32_t message, Dword) {
    const auto core = Current();
    if (core == nullptr || name == nullptr || window == nullptr) {
        return Fail(status);
    }
    std::lock_guard lock(core->mutex);
    const auto port = core->ports.find(name);
    if (port == core->ports.end() || port->second.port == nullptr) {
        return Fail(status);
    }
    if (mode == kComNotifyOn) {
        port->second.notify = Posting{*window, message, 0, 0};
    } else {
        port->second.notify.reset();
    }
    return Succeed(status);
}

Bool32 GetConnectionHandle(std::uint16_t connection, std::uint16_t* link, Long* status) {
    const auto core = Current();
    if (core == nullptr || link == nullptr) {
        return Fail(status);
    }
    std::lock_guard lock(core->mutex);
    for (const auto& [name, port] : core->ports) {
        if (port.port != nullptr && port.connection == connection) {
            *link = static_cast<std::uint16_t>(connection | 0x8000);
            return Succeed(status);
        }
    }
    return Fail(status);
}

Bool32 GetLinkQuality(std::uint16_t link, std::uint8_t* quality, Long* status) {
    if (Current() == nullptr || quality == nullptr || (link & 0x8000) == 0) {
        return Fail(status);
    }
    *quality = kLinkQuality;
    return Succeed(status);
}

Bool32 NotUsed() {
    return 0;
}

template <typename Function>
void* Entry(Function function) {
    return reinterpret_cast<void*>(function);
}

}  // namespace

SimToshiba::SimToshiba(const Scenario& scenario, Sources sources)
    : m_core(std::make_shared<Core>(scenario, std::move(sources))) {
    {
        std::lock_guard lock(g_currentMutex);
        if (g_current != nullptr) {
            throw std::logic_error("another Toshiba stand-in is current");
        }
        g_current = m_core;
    }
    try {
        m_core->poster = std::thread(
            [core = m_core.get(), ready = m_core->RadioReady()] { core->RunPoster(ready); });
    } catch (...) {
        std::lock_guard lock(g_currentMutex);
        g_current.reset();
        throw;
    }
}

SimToshiba::~SimToshiba() {
    {
        std::lock_guard lock(g_currentMutex);
        g_current.reset();
    }
    m_core->Shutdown();
}

EntryPointTable SimToshiba::EntryPoints() {
    EntryPointTable table = {
        {"BtOpenAPI", Entry(&OpenAPI)},
        {"BtCloseAPI", Entry(&CloseAPI)},
        {"BtNotifyEvent", Entry(&NotifyEvent)},
        {"BtGetLocalInfo2", Entry(&GetLocalInfo2)},
        {"BtSetLocalDeviceName", Entry(&SetLocalDeviceName)},
        {"BtGetRemoteClassOfDevice", Entry(&GetRemoteClassOfDevice)},
        {"BtGetRemoteName", Entry(&GetRemoteName)},
        {"BtDiscoverRemoteDevice2", Entry(&DiscoverRemoteDevice2)},
        {"BtMemFree", Entry(&MemFree)},
        {"BtMakeServiceSearchPattern2", Entry(&MakeServiceSearchPattern2)},
        {"BtMakeAttributeIDList2", Entry(&MakeAttributeIDList2)},
        {"BtConnectSDP", Entry(&ConnectSDP)},
        {"BtServiceSearchAttribute2", Entry(&ServiceSearchAttribute2)},
        {"BtDisconnectSDP", Entry(&DisconnectSDP)},
        {"BtAnalyzeServiceAttributeLists2", Entry(&AnalyzeServiceAttributeLists2)},
        {"BtAnalyzeProtocolParameter2", Entry(&AnalyzeProtocolParameter2)},
        {"BtFreePBTANALYZEDATTRLIST2", Entry(&FreeAnalyzedAttrList2)},
        {"BtCreateCOMM", Entry(&CreateCOMM)},
        {"BtDestroyCOMM", Entry(&DestroyCOMM)},
        {"BtConnectCOMM2", Entry(&ConnectCOMM2)},
        {"BtDisconnectCOMM", Entry(&DisconnectCOMM)},
        {"BtNotifyCOMM", Entry(&NotifyCOMM)},
        {"BtGetConnectionHandle", Entry(&GetConnectionHandle)},
        {"BtGetLinkQuality", Entry(&GetLinkQuality)},
    };
    // Entry points the binding only resolves.
    for (const char* name :
         {"BtGetConnectabilityMode", "BtGetDiscoverabilityMode", "BtGetLocalDeviceName",
          "BtSetAutoReplyPinCode", "BtClearAutoReplyPinCode", "BtGetRemoteDeviceList2",
          "BtDeleteLinkKey", "BtSetIOCapabilityResponse", "_BtClearIOCapabilityResponse",
          "BtConnect", "BtDisconnect"}) {
        table[name] = Entry(&NotUsed);
    }
    return table;
}

std::size_t SimToshiba::CreatedPortCount() const {
    std::lock_guard lock(m_core->mutex);
    return m_core->ports.size();
}

std::size_t SimToshiba::OpenConnectionCount() const {
    std::lock_guard lock(m_core->mutex);
    return static_cast<std::size_t>(
        std::count_if(m_core->ports.begin(), m_core->ports.end(),
                      [](const auto& entry) { return entry.second.port != nullptr; }));
}

std::string SimToshiba::RadioName() const {
    std::lock_guard lock(m_core->mutex);
    return m_core->radioName;
}

std::size_t SimToshiba::OutstandingAllocations() const {
    std::lock_guard lock(m_core->mutex);
    return m_core->allocations.size();
}

}  // namespace kavri::sim
