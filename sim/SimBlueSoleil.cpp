#include "sim/SimBlueSoleil.h"

#include "platform/Text.h"
#include "sim/ScenarioParser.h"
#include "sim/SimWinsockSockets.h"
#include "sim/VirtualComPort.h"
#include "stack/wclBlueSoleilApi.h"
#include "stack/wclBluetoothAddress.h"
#include "stack/wclWinsockApi.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace kavri::sim {

using namespace bluesoleil;

namespace {

constexpr Dword kFailed = 2;
constexpr std::int8_t kSignalValue = -48;
constexpr std::uint32_t kFirstComPort = 3;  // COM1 and COM2 are the machine's own

}  // namespace

struct SimBlueSoleil::Core {
    const Scenario& scenario;
    Sources sources;
    ScenarioSocketDirectory directory;

    mutable std::mutex mutex;
    std::string radioName;
    ConnectionCallback callback = nullptr;
    std::map<Dword, std::unique_ptr<VirtualComPort>> connections;
    Dword nextHandle = 0x100;
    bool shutDown = false;

    // The notifier: connection handles whose link the device ended.
    std::mutex notifyMutex;
    std::condition_variable notifyWake;
    std::deque<Dword> lost;
    bool notifierStop = false;
    std::thread notifier;

    Core(const Scenario& s, Sources src)
        : scenario(s),
          sources(std::move(src)),
          directory(
              s,
              ScenarioSocketDirectory::Sources{
                  sources.scenarioTimeMs, {}, sources.objectPushServer, {}, StackKind::BlueSoleil}),
          radioName(s.RadioOf(StackKind::BlueSoleil).name) {}

    std::int64_t Now() const { return sources.scenarioTimeMs ? sources.scenarioTimeMs() : 0; }
    bool RadioReady() const { return scenario.RadioPresentAt(Now(), StackKind::BlueSoleil); }

    const DeviceSpec* PresentDevice(const std::uint8_t* record) const {
        AddressBytes reversed{};
        std::copy(record + kAddressOffset, record + kAddressOffset + 6, reversed.begin());
        const DeviceSpec* device = scenario.FindDevice(ReversedBytesToAddress(reversed));
        if (device == nullptr || !device->IsVisibleOn(StackKind::BlueSoleil) || !RadioReady()) {
            return nullptr;
        }
        if (!device->presence.empty() &&
            std::none_of(device->presence.begin(), device->presence.end(),
                         [now = Now()](const Interval& i) { return i.Contains(now); })) {
            return nullptr;
        }
        return device;
    }

    void RunNotifier() {
        std::unique_lock lock(notifyMutex);
        for (;;) {
            notifyWake.wait(lock, [this] { return notifierStop || !lost.empty(); });
            if (notifierStop) {
                return;
            }
            const Dword handle = lost.front();
            lost.pop_front();
            lock.unlock();
            ConnectionCallback call = nullptr;
            {
                std::lock_guard stateLock(mutex);
                call = callback;
            }
            if (call != nullptr) {
                call(handle, kStatusDisconnected);
            }
            lock.lock();
        }
    }

    void ReportLost(Dword handle) {
        {
            std::lock_guard lock(notifyMutex);
            lost.push_back(handle);
        }
        notifyWake.notify_one();
    }

    void Shutdown() {
        std::map<Dword, std::unique_ptr<VirtualComPort>> ports;
        {
            std::lock_guard lock(mutex);
            shutDown = true;
            callback = nullptr;
            ports.swap(connections);
        }
        for (auto& [handle, port] : ports) {
            const std::uint32_t number = port->Number();
            port.reset();
            VirtualComPort::ReleaseNumber(number);
        }
        {
            std::lock_guard lock(notifyMutex);
            notifierStop = true;
        }
        notifyWake.notify_one();
        if (notifier.joinable()) {
            notifier.join();
        }
    }
};

namespace {

std::mutex g_currentMutex;
std::shared_ptr<SimBlueSoleil::Core> g_current;  // guarded by g_currentMutex

std::shared_ptr<SimBlueSoleil::Core> Current() {
    std::lock_guard lock(g_currentMutex);
    return g_current;
}

bool SizeIs(const std::uint8_t* record, std::size_t size) {
    return record != nullptr && ReadLe32(record) == size;
}

// UTF-8 text into a fixed field, cut between characters; a text that fills
// the field has no terminator, as the stack writes it.
void PutText(std::uint8_t* field, std::size_t size, const std::string& text) {
    const std::string_view fitted = TruncateUtf8(text, size);
    std::memset(field, 0, size);
    std::memcpy(field, fitted.data(), fitted.size());
}

void PutDevice(std::uint8_t* record, const DeviceSpec& device) {
    const AddressBytes reversed = AddressToReversedBytes(device.address);
    std::copy(reversed.begin(), reversed.end(), record + kAddressOffset);
    PutText(record + kNameOffset, kNameSize, device.name);
    for (int i = 0; i < 3; ++i) {
        record[kClassOffset + i] = static_cast<std::uint8_t>(device.classOfDevice >> (8 * i));
    }
}

// A serial-port-profile service: one reached over an RFCOMM channel.
const ServiceSpec* FindSppService(const DeviceSpec& device, const GUID& serviceClass) {
    for (const ServiceSpec& service : device.services) {
        if (service.channel != 0 && ParseScenarioUuid(service.classUuid) == serviceClass) {
            return &service;
        }
    }
    return nullptr;
}

Bool32 InitializeLibrary() {
    return Current() != nullptr ? 1 : 0;
}

void UninitializeLibrary() {}

Bool32 IsBluetoothReady() {
    const auto core = Current();
    return core != nullptr && core->RadioReady() ? 1 : 0;
}

Dword GetLocalDeviceInfo(Dword mask, std::uint8_t* record) {
    const auto core = Current();
    if (core == nullptr || !SizeIs(record, kDeviceInfoRecordSize) || !core->RadioReady()) {
        return kFailed;
    }
    if ((mask & kMaskAddress) != 0) {
        const AddressBytes reversed =
            AddressToReversedBytes(core->scenario.RadioOf(StackKind::BlueSoleil).address);
        std::copy(reversed.begin(), reversed.end(), record + kAddressOffset);
    }
    if ((mask & kMaskName) != 0) {
        std::lock_guard lock(core->mutex);
        PutText(record + kNameOffset, kNameSize, core->radioName);
    }
    return kSuccess;
}

Dword SetLocalDeviceInfo(Dword mask, const std::uint8_t* record) {
    const auto core = Current();
    if (core == nullptr || !SizeIs(record, kDeviceRecordSize) || !core->RadioReady()) {
        return kFailed;
    }
    if ((mask & kMaskName) != 0) {
        const std::uint8_t* field = record + kNameOffset;
        const std::uint8_t* end = std::find(field, field + kNameSize, std::uint8_t{0});
        std::lock_guard lock(core->mutex);
        core->radioName.assign(reinterpret_cast<const char*>(field),
                               static_cast<std::size_t>(end - field));
    }
    return kSuccess;
}

Dword GetRemoteDeviceInfo(Dword mask, std::uint8_t* record) {
    const auto core = Current();
    if (core == nullptr || !SizeIs(record, kDeviceInfoRecordSize)) {
        return kFailed;
    }
    const DeviceSpec* device = core->PresentDevice(record);
    if (device == nullptr) {
        return kStatusTimedOut;
    }
    if ((mask & (kMaskName | kMaskClass)) != 0) {
        PutDevice(record, *device);
    }
    if ((mask & kMaskSignal) != 0) {
        record[kSignalOffset] = static_cast<std::uint8_t>(kSignalValue);
    }
    return kSuccess;
}

Dword PairDevice(const std::uint8_t*) {
    return kFailed;
}

Dword UnpairDevice(const std::uint8_t*) {
    return kFailed;
}

Dword InquireDevices(std::uint8_t, std::uint8_t, Dword* byteLength, std::uint8_t* records) {
    const auto core = Current();
    if (core == nullptr || byteLength == nullptr || *byteLength < kDeviceRecordSize ||
        !SizeIs(records, kDeviceRecordSize) || !core->RadioReady()) {
        return kFailed;
    }
    const std::size_t room = *byteLength / kDeviceRecordSize;
    std::size_t count = 0;
    for (const DeviceSpec* device :
         core->scenario.DevicesPresentAt(core->Now(), StackKind::BlueSoleil)) {
        if (count == room) {
            break;
        }
        std::uint8_t* record = records + count * kDeviceRecordSize;
        std::memset(record, 0, kDeviceRecordSize);
        WriteLe32(record, kDeviceRecordSize);
        PutDevice(record, *device);
        ++count;
    }
    *byteLength = static_cast<Dword>(count * kDeviceRecordSize);
    return kSuccess;
}

Dword BrowseServices(const std::uint8_t* deviceRecord, Bool32, Dword* byteLength,
                     std::uint8_t* records) {
    const auto core = Current();
    if (core == nullptr || byteLength == nullptr || !SizeIs(deviceRecord, kDeviceRecordSize) ||
        !SizeIs(records, kBrowseRecordSize)) {
        return kFailed;
    }
    const DeviceSpec* device = core->PresentDevice(deviceRecord);
    if (device == nullptr) {
        return kStatusTimedOut;
    }
    const std::size_t room = *byteLength / kBrowseRecordSize;
    std::size_t count = 0;
    for (const ServiceSpec& service : device->services) {
        if (count == room) {
            break;
        }
        std::uint8_t* record = records + count * kBrowseRecordSize;
        std::memset(record, 0, kBrowseRecordSize);
        WriteLe32(record, kBrowseRecordSize);
        // Classes beyond 16 bits have no place in the record and read as 0.
        const GUID uuid = ParseScenarioUuid(service.classUuid).value_or(BaseUUID);
        GUID base = uuid;
        base.Data1 = 0;
        const std::uint16_t value =
            base == BaseUUID && uuid.Data1 <= 0xFFFF ? static_cast<std::uint16_t>(uuid.Data1) : 0;
        record[kBrowseClassOffset] = static_cast<std::uint8_t>(value);
        record[kBrowseClassOffset + 1] = static_cast<std::uint8_t>(value >> 8);
        PutText(record + kBrowseNameOffset, kBrowseNameSize, service.name);
        ++count;
    }
    *byteLength = static_cast<Dword>(count * kBrowseRecordSize);
    return kSuccess;
}

Dword SearchSPPExServices(const std::uint8_t* deviceRecord, Dword* byteLength,
                          std::uint8_t* record) {
    const auto core = Current();
    if (core == nullptr || byteLength == nullptr || *byteLength < kServiceRecordSize ||
        !SizeIs(deviceRecord, kDeviceRecordSize) || !SizeIs(record, kServiceRecordSize)) {
        return kFailed;
    }
    const DeviceSpec* device = core->PresentDevice(deviceRecord);
    if (device == nullptr) {
        return kStatusTimedOut;
    }
    GUID serviceClass;
    std::memcpy(&serviceClass, record + kServiceUuidOffset, sizeof serviceClass);
    const ServiceSpec* service = FindSppService(*device, serviceClass);
    if (service == nullptr) {
        return kStatusServiceNotFound;
    }
    PutText(record + kServiceNameOffset, kServiceNameSize, service->name);
    record[kServiceChannelOffset] = service->channel;
    *byteLength = kServiceRecordSize;
    return kSuccess;
}

Dword ConnectSPPExService(const std::uint8_t* deviceRecord, std::uint8_t* serviceRecord,
                          Dword* handle) {
    const auto core = Current();
    if (core == nullptr || handle == nullptr || !SizeIs(deviceRecord, kDeviceRecordSize) ||
        !SizeIs(serviceRecord, kServiceRecordSize)) {
        return kFailed;
    }
    const DeviceSpec* device = core->PresentDevice(deviceRecord);
    if (device == nullptr) {
        return kStatusTimedOut;
    }
    if (device->behaviour == PushBehaviour::Busy) {
        return kStatusBusy;
    }
    GUID serviceClass;
    std::memcpy(&serviceClass, serviceRecord + kServiceUuidOffset, sizeof serviceClass);
    std::uint8_t channel = serviceRecord[kServiceChannelOffset];
    if (channel == 0) {
        const ServiceSpec* service = FindSppService(*device, serviceClass);
        if (service == nullptr) {
            return kStatusServiceNotFound;
        }
        channel = service->channel;
    }
    const SimSocketRoute route =
        core->directory.ResolveRfcomm(AddressToUInt64(device->address), channel, serviceClass);
    if (route.error == winsock::kWsaEAddrNotAvail) {
        return kStatusServiceNotFound;
    }
    if (route.error != 0) {
        return route.error == winsock::kWsaETimedOut ? kStatusTimedOut : kFailed;
    }
    const std::uint32_t number = VirtualComPort::ClaimFirstFree(kFirstComPort);
    if (number == 0) {
        return kFailed;
    }
    std::lock_guard lock(core->mutex);
    const Dword newHandle = core->nextHandle++;
    std::unique_ptr<VirtualComPort> port;
    try {
        if (core->shutDown) {
            throw std::runtime_error("stand-in shut down");
        }
        const std::weak_ptr<SimBlueSoleil::Core> weak = core;
        port = std::make_unique<VirtualComPort>(number, route.endpoint, [weak, newHandle] {
            if (const auto owner = weak.lock()) {
                owner->ReportLost(newHandle);
            }
        });
    } catch (const std::exception&) {
        VirtualComPort::ReleaseNumber(number);
        return kFailed;
    }
    core->connections.emplace(newHandle, std::move(port));
    serviceRecord[kServiceChannelOffset] = channel;
    serviceRecord[kServiceComPortOffset] = static_cast<std::uint8_t>(number);
    *handle = newHandle;
    return kSuccess;
}

Dword DisconnectSPPExService(Dword handle) {
    const auto core = Current();
    if (core == nullptr) {
        return kFailed;
    }
    std::unique_ptr<VirtualComPort> port;
    {
        std::lock_guard lock(core->mutex);
        const auto found = core->connections.find(handle);
        if (found == core->connections.end()) {
            return kFailed;
        }
        port = std::move(found->second);
        core->connections.erase(found);
    }
    const std::uint32_t number = port->Number();
    port.reset();
    VirtualComPort::ReleaseNumber(number);
    return kSuccess;
}

Dword RegisterCallback(std::uint8_t event, ConnectionCallback callback) {
    const auto core = Current();
    if (core == nullptr || event != kConnectionStatusEvent) {
        return kFailed;
    }
    std::lock_guard lock(core->mutex);
    core->callback = callback;
    return kSuccess;
}

Dword UnregisterCallback(std::uint8_t event) {
    const auto core = Current();
    if (core == nullptr || event != kConnectionStatusEvent) {
        return kFailed;
    }
    std::lock_guard lock(core->mutex);
    core->callback = nullptr;
    return kSuccess;
}

template <typename Function>
void* Entry(Function function) {
    return reinterpret_cast<void*>(function);
}

}  // namespace

SimBlueSoleil::SimBlueSoleil(const Scenario& scenario, Sources sources)
    : m_core(std::make_shared<Core>(scenario, std::move(sources))) {
    {
        std::lock_guard lock(g_currentMutex);
        if (g_current != nullptr) {
            throw std::logic_error("another BlueSoleil stand-in is current");
        }
        g_current = m_core;
    }
    try {
        m_core->notifier = std::thread([core = m_core.get()] { core->RunNotifier(); });
    } catch (...) {
        std::lock_guard lock(g_currentMutex);
        g_current.reset();
        throw;
    }
}

SimBlueSoleil::~SimBlueSoleil() {
    {
        std::lock_guard lock(g_currentMutex);
        g_current.reset();
    }
    m_core->Shutdown();
}

EntryPointTable SimBlueSoleil::EntryPoints() {
    return {
        {"BT_InitializeLibrary", Entry(&InitializeLibrary)},
        {"BT_UninitializeLibrary", Entry(&UninitializeLibrary)},
        {"BT_IsBluetoothReady", Entry(&IsBluetoothReady)},
        {"BT_GetLocalDeviceInfo", Entry(&GetLocalDeviceInfo)},
        {"BT_SetLocalDeviceInfo", Entry(&SetLocalDeviceInfo)},
        {"BT_GetRemoteDeviceInfo", Entry(&GetRemoteDeviceInfo)},
        {"BT_PairDevice", Entry(&PairDevice)},
        {"BT_UnpairDevice", Entry(&UnpairDevice)},
        {"BT_InquireDevices", Entry(&InquireDevices)},
        {"BT_BrowseServices", Entry(&BrowseServices)},
        {"BT_SearchSPPExServices", Entry(&SearchSPPExServices)},
        {"BT_ConnectSPPExService", Entry(&ConnectSPPExService)},
        {"BT_DisconnectSPPExService", Entry(&DisconnectSPPExService)},
        {"BT_RegisterCallback", Entry(&RegisterCallback)},
        {"BT_UnregisterCallback", Entry(&UnregisterCallback)},
    };
}

std::size_t SimBlueSoleil::OpenConnectionCount() const {
    std::lock_guard lock(m_core->mutex);
    return m_core->connections.size();
}

std::string SimBlueSoleil::RadioName() const {
    std::lock_guard lock(m_core->mutex);
    return m_core->radioName;
}

bool SimBlueSoleil::CallbackRegistered() const {
    std::lock_guard lock(m_core->mutex);
    return m_core->callback != nullptr;
}

void SimBlueSoleil::DropConnections() {
    std::lock_guard lock(m_core->mutex);
    for (auto& [handle, port] : m_core->connections) {
        port->HangUp();
    }
}

}  // namespace kavri::sim
