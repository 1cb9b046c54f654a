#include "sim/SimWin32Libraries.h"

#include "platform/StopEvent.h"
#include "platform/Text.h"
#include "sim/ScenarioParser.h"
#include "sim/SdpRecordWriter.h"
#include "stack/wclBluetoothAddress.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>
#include <string_view>

namespace kavri::sim {

using namespace win32;

namespace {

// Error codes the stand-ins use beyond those the binding knows.
constexpr DWORD kErrorInvalidData = 13;
constexpr DWORD kErrorInvalidUserBuffer = 1784;
constexpr INT kWsaInvalidHandle = 6;
constexpr INT kWsaENotSock = 10038;
constexpr DWORD kBthProtoRfcomm = 3;
// What CeGetDeviceId answers while a device is connected.
constexpr DWORD kRapiDeviceId = 0x5EED0001;
// Longest text the stand-ins read from a caller's NUL-terminated argument:
// the registry's longest key path. A longer one is refused, not read on.
constexpr std::size_t kMaxArgumentChars = 32767;
// Bluetooth names hold 247 UTF-16 code units and a terminating zero.
constexpr std::size_t kMaxNameChars = kBluetoothMaxNameSize - 1;
constexpr ULONG kRadioClassOfDevice = 0x3E0104;  // a desktop computer with every service bit
constexpr USHORT kRadioManufacturer = 10;

// Windows keeps one last error per thread; so do the stand-ins. Winsock's
// WSAGetLastError reads the same value, as it does there.
thread_local DWORD t_lastError = kErrorSuccess;

void SetLastError(DWORD error) {
    t_lastError = error;
}

void* ToHandle(std::uintptr_t value) {
    return reinterpret_cast<void*>(value);
}

std::uintptr_t FromHandle(const void* handle) {
    return reinterpret_cast<std::uintptr_t>(handle);
}

char16_t FoldChar(char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

std::u16string Fold(std::u16string_view text) {
    std::u16string folded(text);
    std::transform(folded.begin(), folded.end(), folded.begin(), FoldChar);
    return folded;
}

// A caller's NUL-terminated argument, read no further than the limit; nullopt
// when it is missing or longer.
std::optional<std::u16string> ReadArgument(const WCHAR* text) {
    if (text == nullptr)
        return std::nullopt;
    std::size_t length = 0;
    while (text[length] != u'\0') {
        if (++length > kMaxArgumentChars)
            return std::nullopt;
    }
    return std::u16string(text, length);
}

std::size_t AlignUp(std::size_t offset, std::size_t alignment) {
    return (offset + alignment - 1) / alignment * alignment;
}

std::u16string MultiSz(std::initializer_list<std::u16string_view> ids) {
    std::u16string text;
    for (const auto id : ids) {
        text += id;
        text += u'\0';
    }
    text += u'\0';
    return text;
}

SOCKADDR_BTH MakeSockaddr(std::uint64_t address, const GUID& serviceClass, ULONG port) {
    SOCKADDR_BTH sockaddr{};
    sockaddr.addressFamily = kAfBth;
    sockaddr.btAddr = address;
    sockaddr.serviceClassId = serviceClass;
    sockaddr.port = port;
    return sockaddr;
}

std::atomic<std::uintptr_t> g_nextHandle{0x10000};

std::mutex g_currentMutex;
std::shared_ptr<SimWin32State> g_current;  // guarded by g_currentMutex

}  // namespace

void SetSimLastError(DWORD error) {
    SetLastError(error);
}

DWORD SimLastError() {
    return t_lastError;
}

// ---- state -----------------------------------------------------------------

SimWin32State::SimWin32State(Scenario scenario, const Clock& clock)
    : m_scenario(std::move(scenario)),
      m_clock(clock),
      m_start(clock.Now()),
      m_irdaPresent(m_scenario.irdaDevicePresent),
      m_rapiConnected(m_scenario.rapiDeviceConnected) {
    for (std::size_t i = 0; i < m_scenario.devices.size(); ++i) {
        const std::string& address = m_scenario.devices[i].address;
        // The first device of an address answers for it, as the scenario's
        // own look-up does.
        if (IsValidAddress(address))
            m_deviceIndex.emplace(AddressToUInt64(address), i);
    }
    m_radioName = m_scenario.RadioOf(StackKind::Microsoft).name.empty()
                      ? m_computerName
                      : Utf8ToUtf16(m_scenario.RadioOf(StackKind::Microsoft).name);
    // Every device node has its key under Enum, present or not, as in a real
    // registry.
    for (const DeviceNode& node : AllDeviceNodes())
        m_registry[Fold(u"SYSTEM\\CurrentControlSet\\Enum\\" + node.instanceId +
                        u"\\Device Parameters")];
}

std::int64_t SimWin32State::ScenarioTimeMs() const {
    return (m_clock.Now() - m_start).count();
}

void SimWin32State::SetComputerName(std::u16string name) {
    std::lock_guard lock(m_mutex);
    m_computerName = std::move(name);
}

std::u16string SimWin32State::ComputerName() const {
    std::lock_guard lock(m_mutex);
    return m_computerName;
}

void SimWin32State::SetOsVersion(DWORD major, DWORD minor, DWORD platform) {
    std::lock_guard lock(m_mutex);
    m_osMajor = major;
    m_osMinor = minor;
    m_osPlatform = platform;
}

void SimWin32State::SetAddressTextSuffix(std::u16string suffix) {
    std::lock_guard lock(m_mutex);
    m_addressTextSuffix = std::move(suffix);
}

void SimWin32State::SetIrDADevicePresent(bool present) {
    std::lock_guard lock(m_mutex);
    m_irdaPresent = present;
}

bool SimWin32State::IrDADevicePresent() const {
    std::lock_guard lock(m_mutex);
    return m_irdaPresent;
}

bool SimWin32State::SetRapiDeviceConnected(bool connected) {
    std::lock_guard lock(m_mutex);
    const bool arrived = connected && !m_rapiConnected;
    m_rapiConnected = connected;
    return arrived;
}

bool SimWin32State::RapiDeviceConnected() const {
    std::lock_guard lock(m_mutex);
    return m_rapiConnected && m_scenario.IsInstalled(StackKind::RAPI);
}

std::optional<SimWin32State::RegistryValue> SimWin32State::ReadRegistryValue(
    const std::u16string& keyPath, const std::u16string& valueName) const {
    std::lock_guard lock(m_mutex);
    const auto key = m_registry.find(Fold(keyPath));
    if (key == m_registry.end())
        return std::nullopt;
    const auto value = key->second.find(Fold(valueName));
    if (value == key->second.end())
        return std::nullopt;
    return value->second;
}

std::optional<DWORD> SimWin32State::LastDeviceIoControlCode() const {
    std::lock_guard lock(m_mutex);
    return m_lastIoControlCode;
}

std::u16string SimWin32State::RadioName() const {
    std::lock_guard lock(m_mutex);
    return m_radioName;
}

std::u16string SimWin32State::RadioInstanceId() const {
    for (const DeviceNode& node : AllDeviceNodes()) {
        if (node.classGuid == kBluetoothDeviceClass &&
            node.hardwareIds.find(u"MS_BTHBRB") == std::u16string::npos &&
            node.instanceId.find(u"MS_BTHBRB") == std::u16string::npos)
            return node.instanceId;
    }
    return {};
}

std::size_t SimWin32State::OpenHandleCount() const {
    std::lock_guard lock(m_mutex);
    return m_handles.size();
}

std::uint64_t SimWin32State::RadioFindCount() const {
    std::lock_guard lock(m_mutex);
    return m_radioFindCount;
}

std::uintptr_t SimWin32State::NewHandle(HandleObject object) {
    const std::uintptr_t handle = g_nextHandle.fetch_add(4);
    m_handles.emplace(handle, std::move(object));
    return handle;
}

template <typename T>
T* SimWin32State::FindHandle(std::uintptr_t handle) {
    const auto it = m_handles.find(handle);
    return it == m_handles.end() ? nullptr : std::get_if<T>(&it->second);
}

bool SimWin32State::MicrosoftInstalled() const {
    return m_scenario.IsInstalled(StackKind::Microsoft);
}

bool SimWin32State::RadioPresentNow() const {
    return MicrosoftInstalled() &&
           m_scenario.RadioPresentAt(ScenarioTimeMs(), StackKind::Microsoft);
}

const DeviceSpec* SimWin32State::FindDeviceByAddress(std::uint64_t address) const {
    const auto it = m_deviceIndex.find(address);
    if (it == m_deviceIndex.end()) {
        return nullptr;
    }
    const DeviceSpec& device = m_scenario.devices[it->second];
    return device.IsVisibleOn(StackKind::Microsoft) ? &device : nullptr;
}

// The Bluetooth class lists, before the radio itself, the two bus devices
// that a radio search must pass over: one named by its hardware identifier,
// one only by its instance identifier.
std::vector<SimWin32State::DeviceNode> SimWin32State::AllDeviceNodes() const {
    std::vector<DeviceNode> nodes;
    if (MicrosoftInstalled()) {
        nodes.push_back({kBluetoothDeviceClass, MultiSz({u"BTH\\MS_BTHBRB"}),
                         u"BTH\\MS_BTHBRB\\7&1A2B3C4D&0&1", true});
        nodes.push_back({kBluetoothDeviceClass, MultiSz({u"BTH\\MS_BTHPAN"}),
                         u"BTH\\MS_BTHBRB\\7&1A2B3C4D&0&2", true});
        nodes.push_back({kBluetoothDeviceClass,
                         MultiSz({u"USB\\VID_0A12&PID_0001&REV_8891", u"USB\\VID_0A12&PID_0001"}),
                         u"USB\\VID_0A12&PID_0001\\5&2C1D3E4F&0&1", true});
    }
    if (m_scenario.IsInstalled(StackKind::IrDA))
        nodes.push_back(
            {kInfraredDeviceClass, MultiSz({u"ACPI\\PNP0510"}), u"ACPI\\PNP0510\\1", false});
    return nodes;
}

std::u16string SimWin32State::EffectiveRadioName() const {
    const std::u16string key =
        Fold(u"SYSTEM\\CurrentControlSet\\Enum\\" + RadioInstanceId() + u"\\Device Parameters");
    const auto keyIt = m_registry.find(key);
    if (keyIt != m_registry.end()) {
        const auto value = keyIt->second.find(u"local name");
        if (value != keyIt->second.end()) {
            const auto& bytes = value->second.data;
            return Utf8ToUtf16(std::string(bytes.begin(), bytes.end()));
        }
    }
    return m_computerName;
}

std::vector<SimWin32State::ServiceResult> SimWin32State::ServicesOf(const DeviceSpec& device,
                                                                    const GUID& requested) const {
    std::vector<ServiceResult> results;
    const std::uint64_t address = AddressToUInt64(device.address);
    for (std::size_t i = 0; i < device.services.size(); ++i) {
        const ServiceSpec& service = device.services[i];
        const std::vector<GUID> classes = ServiceClassUuids(service);
        // A search pattern matches a record that holds the UUID anywhere:
        // every record holds L2CAP, a record with a channel holds RFCOMM.
        const bool matches = requested == L2CAPProtocolUUID ||
                             (requested == RFCOMMProtocolUUID && service.channel != 0) ||
                             std::find(classes.begin(), classes.end(), requested) != classes.end();
        if (!matches)
            continue;
        ServiceResult result;
        result.address = address;
        result.name = Utf8ToUtf16(service.name);
        result.comment = Utf8ToUtf16(service.comment);
        result.channel = service.channel;
        result.serviceClass = classes.empty() ? BaseUUID : classes.front();
        result.record = BuildServiceRecord(
            0x00010000u + static_cast<std::uint32_t>(i), classes,
            service.channel != 0 ? std::optional<std::uint8_t>(service.channel) : std::nullopt,
            service.name, service.comment,
            service.utf16Texts ? SdpTextEncoding::Utf16LE : SdpTextEncoding::Utf8);
        results.push_back(std::move(result));
    }
    return results;
}

// ---- Bluetooth API -----------------------------------------------------------

HBLUETOOTH_RADIO_FIND SimWin32State::FindFirstRadio(const BLUETOOTH_FIND_RADIO_PARAMS* params,
                                                    HANDLE* radio) {
    std::lock_guard lock(m_mutex);
    ++m_radioFindCount;
    if (params == nullptr || radio == nullptr) {
        SetLastError(kErrorInvalidParameter);
        return nullptr;
    }
    if (params->dwSize != kBluetoothFindRadioParamsSize) {
        SetLastError(kErrorRevisionMismatch);
        return nullptr;
    }
    if (!RadioPresentNow()) {
        SetLastError(kErrorNoMoreItems);
        return nullptr;
    }
    *radio = ToHandle(NewHandle(RadioObject{}));
    return ToHandle(NewHandle(RadioFindObject{}));
}

BOOL SimWin32State::FindRadioClose(HBLUETOOTH_RADIO_FIND find) {
    std::lock_guard lock(m_mutex);
    if (FindHandle<RadioFindObject>(FromHandle(find)) == nullptr) {
        SetLastError(kErrorInvalidHandle);
        return kFalse;
    }
    m_handles.erase(FromHandle(find));
    return kTrue;
}

DWORD SimWin32State::GetRadioInfo(HANDLE radio, BLUETOOTH_RADIO_INFO* info) {
    std::lock_guard lock(m_mutex);
    if (info == nullptr)
        return kErrorInvalidParameter;
    if (FindHandle<RadioObject>(FromHandle(radio)) == nullptr)
        return kErrorInvalidHandle;
    if (info->dwSize != kBluetoothRadioInfoSize)
        return kErrorRevisionMismatch;
    if (!RadioPresentNow())
        return kErrorDeviceNotConnected;
    const std::string& address = m_scenario.RadioOf(StackKind::Microsoft).address;
    info->address.ullLong = IsValidAddress(address) ? AddressToUInt64(address) : 0;
    const std::size_t length = std::min(m_radioName.size(), kMaxNameChars);
    std::fill(std::begin(info->szName), std::end(info->szName), u'\0');
    std::copy_n(m_radioName.begin(), length, info->szName);
    info->ulClassofDevice = kRadioClassOfDevice;
    info->lmpSubversion = 0;
    info->manufacturer = kRadioManufacturer;
    return kErrorSuccess;
}

BOOL SimWin32State::IsConnectable(HANDLE radio) {
    std::lock_guard lock(m_mutex);
    if (FindHandle<RadioObject>(FromHandle(radio)) == nullptr || !RadioPresentNow())
        return kFalse;
    return m_connectable ? kTrue : kFalse;
}

BOOL SimWin32State::EnableIncomingConnections(HANDLE radio, BOOL enabled) {
    std::lock_guard lock(m_mutex);
    if (FindHandle<RadioObject>(FromHandle(radio)) == nullptr || !RadioPresentNow())
        return kFalse;
    m_connectable = enabled != kFalse;
    // A radio that takes no connections cannot be found either.
    if (!m_connectable)
        m_discoverable = false;
    return kTrue;
}

BOOL SimWin32State::IsDiscoverable(HANDLE radio) {
    std::lock_guard lock(m_mutex);
    if (FindHandle<RadioObject>(FromHandle(radio)) == nullptr || !RadioPresentNow())
        return kFalse;
    return m_discoverable ? kTrue : kFalse;
}

BOOL SimWin32State::EnableDiscovery(HANDLE radio, BOOL enabled) {
    std::lock_guard lock(m_mutex);
    if (FindHandle<RadioObject>(FromHandle(radio)) == nullptr || !RadioPresentNow())
        return kFalse;
    if (enabled != kFalse && !m_connectable)
        return kFalse;
    m_discoverable = enabled != kFalse;
    return kTrue;
}

DWORD SimWin32State::GetDeviceInfo(HANDLE radio, BLUETOOTH_DEVICE_INFO* info) {
    std::lock_guard lock(m_mutex);
    if (info == nullptr)
        return kErrorInvalidParameter;
    if (FindHandle<RadioObject>(FromHandle(radio)) == nullptr)
        return kErrorInvalidHandle;
    if (info->dwSize != kBluetoothDeviceInfoSize)
        return kErrorRevisionMismatch;
    if (!RadioPresentNow())
        return kErrorDeviceNotConnected;
    const DeviceSpec* device = FindDeviceByAddress(info->Address.ullLong & 0xFFFFFFFFFFFFull);
    // The stack knows a device once it has been in range: it answers from its
    // cache after the device has left.
    const std::int64_t now = ScenarioTimeMs();
    const bool seen =
        device != nullptr &&
        (device->presence.empty() ||
         std::any_of(device->presence.begin(), device->presence.end(),
                     [now](const Interval& interval) { return interval.fromMs <= now; }));
    if (!seen)
        return kErrorNotFound;
    const std::u16string name = Utf8ToUtf16(device->name);
    const std::size_t length = std::min(name.size(), kMaxNameChars);
    std::fill(std::begin(info->szName), std::end(info->szName), u'\0');
    std::copy_n(name.begin(), length, info->szName);
    info->ulClassofDevice = device->classOfDevice;
    info->fConnected = kFalse;
    info->fRemembered = kFalse;
    info->fAuthenticated = kFalse;
    info->stLastSeen = SYSTEMTIME{};
    info->stLastUsed = SYSTEMTIME{};
    return kErrorSuccess;
}

// ---- Winsock -----------------------------------------------------------------

INT SimWin32State::LookupServiceBegin(WSAQUERYSETW* restrictions, DWORD flags, HANDLE* lookup) {
    std::lock_guard lock(m_mutex);
    if (restrictions == nullptr || lookup == nullptr) {
        SetLastError(kWsaEFault);
        return kSocketError;
    }
    if (restrictions->dwSize != kWsaQuerySetSize || restrictions->dwNameSpace != kNsBth) {
        SetLastError(kWsaEInval);
        return kSocketError;
    }
    if (!RadioPresentNow()) {
        SetLastError(kWsaServiceNotFound);
        return kSocketError;
    }
    LookupObject object;
    object.containers = (flags & kLupContainers) != 0;
    if (object.containers) {
        for (const DeviceSpec* device :
             m_scenario.DevicesPresentAt(ScenarioTimeMs(), StackKind::Microsoft)) {
            if (IsValidAddress(device->address))
                object.devices.push_back(
                    {AddressToUInt64(device->address), Utf8ToUtf16(device->name)});
        }
    } else {
        const auto context = ReadArgument(restrictions->lpszContext);
        if (!context || restrictions->lpServiceClassId == nullptr) {
            SetLastError(kWsaEInval);
            return kSocketError;
        }
        const std::string address = Utf16ToUtf8(*context);
        if (!IsValidAddress(address)) {
            SetLastError(kWsaEInval);
            return kSocketError;
        }
        const DeviceSpec* device = FindDeviceByAddress(AddressToUInt64(address));
        const auto present = m_scenario.DevicesPresentAt(ScenarioTimeMs());
        if (device == nullptr ||
            std::find(present.begin(), present.end(), device) == present.end()) {
            SetLastError(kWsaServiceNotFound);
            return kSocketError;
        }
        object.services = ServicesOf(*device, *restrictions->lpServiceClassId);
    }
    *lookup = ToHandle(NewHandle(std::move(object)));
    return 0;
}

INT SimWin32State::LookupServiceNext(HANDLE lookup, DWORD flags, DWORD* bufferLength,
                                     WSAQUERYSETW* results) {
    std::lock_guard lock(m_mutex);
    LookupObject* object = FindHandle<LookupObject>(FromHandle(lookup));
    if (object == nullptr) {
        SetLastError(kWsaInvalidHandle);
        return kSocketError;
    }
    if (bufferLength == nullptr) {
        SetLastError(kWsaEFault);
        return kSocketError;
    }
    const std::size_t count = object->containers ? object->devices.size() : object->services.size();
    if (object->next >= count) {
        SetLastError(kWsaENoMore);
        return kSocketError;
    }

    // What this result carries, as the caller asked for it.
    std::uint64_t address = 0;
    ULONG port = 0;
    GUID serviceClass = BaseUUID;
    const std::u16string* name = nullptr;
    const std::u16string* comment = nullptr;
    const std::vector<std::uint8_t>* record = nullptr;
    if (object->containers) {
        const InquiryResult& device = object->devices[object->next];
        address = device.address;
        name = &device.name;
    } else {
        const ServiceResult& service = object->services[object->next];
        address = service.address;
        port = service.channel;
        serviceClass = service.serviceClass;
        name = &service.name;
        if ((flags & kLupReturnComment) != 0 && !service.comment.empty())
            comment = &service.comment;
        if ((flags & kLupReturnBlob) != 0)
            record = &service.record;
    }
    if ((flags & kLupReturnName) == 0)
        name = nullptr;
    const bool withAddress = (flags & kLupReturnAddr) != 0;
    const bool withType = (flags & kLupReturnType) != 0;

    // Lay the result out as the system does: the query set first, everything
    // it points to behind it in the same buffer.
    std::size_t size = sizeof(WSAQUERYSETW);
    const auto place = [&size](std::size_t bytes, std::size_t alignment) {
        size = AlignUp(size, alignment);
        const std::size_t at = size;
        size += bytes;
        return at;
    };
    const std::size_t csaddrAt = withAddress ? place(sizeof(CSADDR_INFO), alignof(CSADDR_INFO)) : 0;
    const std::size_t localAt = withAddress ? place(sizeof(SOCKADDR_BTH), 1) : 0;
    const std::size_t remoteAt = withAddress ? place(sizeof(SOCKADDR_BTH), 1) : 0;
    const std::size_t typeAt = withType ? place(sizeof(GUID), alignof(GUID)) : 0;
    const std::size_t nameAt = name ? place((name->size() + 1) * sizeof(WCHAR), alignof(WCHAR)) : 0;
    const std::size_t commentAt =
        comment ? place((comment->size() + 1) * sizeof(WCHAR), alignof(WCHAR)) : 0;
    const std::size_t blobAt = record ? place(sizeof(BLOB), alignof(BLOB)) : 0;
    const std::size_t blobDataAt = record ? place(record->size(), 1) : 0;

    if (results == nullptr || *bufferLength < size ||
        FromHandle(results) % alignof(WSAQUERYSETW) != 0) {
        *bufferLength = static_cast<DWORD>(size);
        SetLastError(kWsaEFault);
        return kSocketError;
    }

    auto* base = reinterpret_cast<std::uint8_t*>(results);
    std::memset(base, 0, size);
    auto* query = new (base) WSAQUERYSETW{};
    query->dwSize = kWsaQuerySetSize;
    query->dwNameSpace = kNsBth;
    if (withAddress) {
        const std::string& radioText = m_scenario.RadioOf(StackKind::Microsoft).address;
        const SOCKADDR_BTH local =
            MakeSockaddr(IsValidAddress(radioText) ? AddressToUInt64(radioText) : 0, BaseUUID, 0);
        const SOCKADDR_BTH remote = MakeSockaddr(address, serviceClass, port);
        std::memcpy(base + localAt, &local, sizeof local);
        std::memcpy(base + remoteAt, &remote, sizeof remote);
        auto* csaddr = new (base + csaddrAt) CSADDR_INFO{};
        csaddr->LocalAddr.lpSockaddr = reinterpret_cast<SOCKADDR*>(base + localAt);
        csaddr->LocalAddr.iSockaddrLength = sizeof(SOCKADDR_BTH);
        csaddr->RemoteAddr.lpSockaddr = reinterpret_cast<SOCKADDR*>(base + remoteAt);
        csaddr->RemoteAddr.iSockaddrLength = sizeof(SOCKADDR_BTH);
        csaddr->iSocketType = kSockStream;
        csaddr->iProtocol = kBthProtoRfcomm;
        query->dwNumberOfCsAddrs = 1;
        query->lpcsaBuffer = csaddr;
    }
    if (withType)
        query->lpServiceClassId = new (base + typeAt) GUID(serviceClass);
    if (name) {
        std::memcpy(base + nameAt, name->c_str(), (name->size() + 1) * sizeof(WCHAR));
        query->lpszServiceInstanceName = reinterpret_cast<WCHAR*>(base + nameAt);
    }
    if (comment) {
        std::memcpy(base + commentAt, comment->c_str(), (comment->size() + 1) * sizeof(WCHAR));
        query->lpszComment = reinterpret_cast<WCHAR*>(base + commentAt);
    }
    if (record) {
        if (!record->empty())
            std::memcpy(base + blobDataAt, record->data(), record->size());
        auto* blob = new (base + blobAt) BLOB{};
        blob->cbSize = static_cast<ULONG>(record->size());
        blob->pBlobData = base + blobDataAt;
        query->lpBlob = blob;
    }
    ++object->next;
    return 0;
}

INT SimWin32State::LookupServiceEnd(HANDLE lookup) {
    std::lock_guard lock(m_mutex);
    if (FindHandle<LookupObject>(FromHandle(lookup)) == nullptr) {
        SetLastError(kWsaInvalidHandle);
        return kSocketError;
    }
    m_handles.erase(FromHandle(lookup));
    return 0;
}

INT SimWin32State::AddressToString(SOCKADDR* address, DWORD addressLength, WCHAR* text,
                                   DWORD* textLength) {
    std::lock_guard lock(m_mutex);
    if (address == nullptr || textLength == nullptr || addressLength < sizeof(SOCKADDR_BTH)) {
        SetLastError(kWsaEFault);
        return kSocketError;
    }
    SOCKADDR_BTH sockaddr;
    std::memcpy(static_cast<void*>(&sockaddr), static_cast<const void*>(address), sizeof sockaddr);
    if (sockaddr.addressFamily != kAfBth) {
        SetLastError(kWsaEInval);
        return kSocketError;
    }
    const std::u16string formatted =
        Utf8ToUtf16(UInt64ToAddress(sockaddr.btAddr & 0xFFFFFFFFFFFFull)) + m_addressTextSuffix;
    const DWORD needed = static_cast<DWORD>(formatted.size() + 1);
    if (text == nullptr || *textLength < needed) {
        *textLength = needed;
        SetLastError(kWsaEFault);
        return kSocketError;
    }
    std::copy(formatted.begin(), formatted.end(), text);
    text[formatted.size()] = u'\0';
    *textLength = needed;
    return 0;
}

SOCKET SimWin32State::Socket(INT family, INT type, INT /*protocol*/) {
    std::lock_guard lock(m_mutex);
    if (family != kAfIrDA || !m_scenario.IsInstalled(StackKind::IrDA)) {
        SetLastError(kWsaEAfNoSupport);
        return kInvalidSocket;
    }
    if (type != kSockStream) {
        SetLastError(kWsaEInval);
        return kInvalidSocket;
    }
    return NewHandle(SocketObject{});
}

INT SimWin32State::CloseSocket(SOCKET socket) {
    std::lock_guard lock(m_mutex);
    if (FindHandle<SocketObject>(socket) == nullptr) {
        SetLastError(kWsaENotSock);
        return kSocketError;
    }
    m_handles.erase(socket);
    return 0;
}

// ---- SetupAPI ----------------------------------------------------------------

HDEVINFO SimWin32State::GetClassDevs(const GUID* classGuid, const WCHAR* /*enumerator*/,
                                     DWORD flags) {
    std::lock_guard lock(m_mutex);
    if (classGuid == nullptr) {
        SetLastError(kErrorInvalidParameter);
        return InvalidHandleValue();
    }
    DeviceSetObject set;
    const bool radioPresent = RadioPresentNow();
    for (DeviceNode& node : AllDeviceNodes()) {
        if (!(node.classGuid == *classGuid))
            continue;
        const bool present = node.followsRadio ? radioPresent : m_irdaPresent;
        if ((flags & kDigcfPresent) != 0 && !present)
            continue;
        set.nodes.push_back(std::move(node));
    }
    return ToHandle(NewHandle(std::move(set)));
}

BOOL SimWin32State::EnumDeviceInfo(HDEVINFO set, DWORD index, SP_DEVINFO_DATA* device) {
    std::lock_guard lock(m_mutex);
    const DeviceSetObject* object = FindHandle<DeviceSetObject>(FromHandle(set));
    if (object == nullptr) {
        SetLastError(kErrorInvalidHandle);
        return kFalse;
    }
    if (device == nullptr) {
        SetLastError(kErrorInvalidParameter);
        return kFalse;
    }
    if (device->cbSize != kSpDevInfoDataSize) {
        SetLastError(kErrorInvalidUserBuffer);
        return kFalse;
    }
    if (index >= object->nodes.size()) {
        SetLastError(kErrorNoMoreItems);
        return kFalse;
    }
    device->ClassGuid = object->nodes[index].classGuid;
    device->DevInst = index + 1;
    device->Reserved = 0;
    return kTrue;
}

BOOL SimWin32State::GetDeviceRegistryProperty(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property,
                                              DWORD* dataType, BYTE* buffer, DWORD bufferSize,
                                              DWORD* requiredSize) {
    std::lock_guard lock(m_mutex);
    const DeviceSetObject* object = FindHandle<DeviceSetObject>(FromHandle(set));
    if (object == nullptr) {
        SetLastError(kErrorInvalidHandle);
        return kFalse;
    }
    if (device == nullptr || device->cbSize != kSpDevInfoDataSize || device->DevInst == 0 ||
        device->DevInst > object->nodes.size()) {
        SetLastError(kErrorInvalidParameter);
        return kFalse;
    }
    if (property != kSpdrpHardwareId) {
        SetLastError(kErrorInvalidData);
        return kFalse;
    }
    const std::u16string& ids = object->nodes[device->DevInst - 1].hardwareIds;
    const DWORD bytes = static_cast<DWORD>(ids.size() * sizeof(WCHAR));
    if (dataType != nullptr)
        *dataType = kRegMultiSz;
    if (requiredSize != nullptr)
        *requiredSize = bytes;
    if (buffer == nullptr || bufferSize < bytes) {
        SetLastError(kErrorInsufficientBuffer);
        return kFalse;
    }
    std::memcpy(buffer, ids.data(), bytes);
    return kTrue;
}

BOOL SimWin32State::GetDeviceInstanceId(HDEVINFO set, SP_DEVINFO_DATA* device, WCHAR* instanceId,
                                        DWORD instanceIdSize, DWORD* requiredSize) {
    std::lock_guard lock(m_mutex);
    const DeviceSetObject* object = FindHandle<DeviceSetObject>(FromHandle(set));
    if (object == nullptr) {
        SetLastError(kErrorInvalidHandle);
        return kFalse;
    }
    if (device == nullptr || device->cbSize != kSpDevInfoDataSize || device->DevInst == 0 ||
        device->DevInst > object->nodes.size()) {
        SetLastError(kErrorInvalidParameter);
        return kFalse;
    }
    const std::u16string& id = object->nodes[device->DevInst - 1].instanceId;
    const DWORD chars = static_cast<DWORD>(id.size() + 1);
    if (requiredSize != nullptr)
        *requiredSize = chars;
    if (instanceId == nullptr || instanceIdSize < chars) {
        SetLastError(kErrorInsufficientBuffer);
        return kFalse;
    }
    std::copy(id.begin(), id.end(), instanceId);
    instanceId[id.size()] = u'\0';
    return kTrue;
}

BOOL SimWin32State::DestroyDeviceInfoList(HDEVINFO set) {
    std::lock_guard lock(m_mutex);
    if (FindHandle<DeviceSetObject>(FromHandle(set)) == nullptr) {
        SetLastError(kErrorInvalidHandle);
        return kFalse;
    }
    m_handles.erase(FromHandle(set));
    return kTrue;
}

// ---- Registry ------------------------------------------------------------------

LONG SimWin32State::RegOpenKey(HKEY key, const WCHAR* subKey, HKEY* result) {
    std::lock_guard lock(m_mutex);
    if (result == nullptr)
        return kErrorInvalidParameter;
    // Only keys under HKEY_LOCAL_MACHINE exist here.
    if (key != HKeyLocalMachine())
        return kErrorInvalidHandle;
    const auto path = ReadArgument(subKey);
    if (!path)
        return kErrorInvalidParameter;
    const std::u16string folded = Fold(*path);
    if (m_registry.find(folded) == m_registry.end())
        return kErrorFileNotFound;
    *result = ToHandle(NewHandle(KeyObject{folded}));
    return kErrorSuccess;
}

LONG SimWin32State::RegSetValue(HKEY key, const WCHAR* valueName, DWORD reserved, DWORD type,
                                const BYTE* data, DWORD dataSize) {
    std::lock_guard lock(m_mutex);
    const KeyObject* object = FindHandle<KeyObject>(FromHandle(key));
    if (object == nullptr)
        return kErrorInvalidHandle;
    const auto name = ReadArgument(valueName);
    if (!name || reserved != 0 || (data == nullptr && dataSize != 0))
        return kErrorInvalidParameter;
    RegistryValue value;
    value.type = type;
    if (dataSize != 0)
        value.data.assign(data, data + dataSize);
    m_registry[object->path][Fold(*name)] = std::move(value);
    return kErrorSuccess;
}

LONG SimWin32State::RegDeleteValue(HKEY key, const WCHAR* valueName) {
    std::lock_guard lock(m_mutex);
    const KeyObject* object = FindHandle<KeyObject>(FromHandle(key));
    if (object == nullptr)
        return kErrorInvalidHandle;
    const auto name = ReadArgument(valueName);
    if (!name)
        return kErrorInvalidParameter;
    return m_registry[object->path].erase(Fold(*name)) == 0 ? kErrorFileNotFound : kErrorSuccess;
}

LONG SimWin32State::RegCloseKey(HKEY key) {
    std::lock_guard lock(m_mutex);
    if (FindHandle<KeyObject>(FromHandle(key)) == nullptr)
        return kErrorInvalidHandle;
    m_handles.erase(FromHandle(key));
    return kErrorSuccess;
}

// ---- kernel32 ------------------------------------------------------------------

BOOL SimWin32State::GetComputerName(WCHAR* buffer, DWORD* size) {
    std::lock_guard lock(m_mutex);
    if (size == nullptr) {
        SetLastError(kErrorInvalidParameter);
        return kFalse;
    }
    const DWORD needed = static_cast<DWORD>(m_computerName.size() + 1);
    if (buffer == nullptr || *size < needed) {
        *size = needed;
        SetLastError(kErrorBufferOverflow);
        return kFalse;
    }
    std::copy(m_computerName.begin(), m_computerName.end(), buffer);
    buffer[m_computerName.size()] = u'\0';
    *size = needed - 1;
    return kTrue;
}

BOOL SimWin32State::DeviceIoControl(HANDLE device, DWORD code, const void* input, DWORD inputSize,
                                    DWORD* bytesReturned) {
    std::lock_guard lock(m_mutex);
    if (FindHandle<RadioObject>(FromHandle(device)) == nullptr) {
        SetLastError(kErrorInvalidHandle);
        return kFalse;
    }
    m_lastIoControlCode = code;
    if (bytesReturned != nullptr)
        *bytesReturned = 0;
    if (!RadioPresentNow()) {
        SetLastError(kErrorDeviceNotConnected);
        return kFalse;
    }
    // The radio driver of NT 6.0 knows only its own code for this request,
    // every later one only the other.
    const bool nt60 = m_osPlatform == kVerPlatformWin32Nt && m_osMajor == 6 && m_osMinor == 0;
    const DWORD expected = nt60 ? kIoctlRadioReloadNameNt60 : kIoctlRadioReloadName;
    if (code != expected) {
        SetLastError(kErrorInvalidFunction);
        return kFalse;
    }
    DWORD request = 0;
    if (input == nullptr || inputSize < sizeof request) {
        SetLastError(kErrorInvalidParameter);
        return kFalse;
    }
    std::memcpy(&request, input, sizeof request);
    if (request != 4) {
        SetLastError(kErrorInvalidParameter);
        return kFalse;
    }
    m_radioName = EffectiveRadioName();
    return kTrue;
}

BOOL SimWin32State::GetVersionEx(OSVERSIONINFOA* info) {
    std::lock_guard lock(m_mutex);
    if (info == nullptr || info->dwOSVersionInfoSize != kOsVersionInfoASize) {
        SetLastError(kErrorInsufficientBuffer);
        return kFalse;
    }
    info->dwMajorVersion = m_osMajor;
    info->dwMinorVersion = m_osMinor;
    info->dwBuildNumber = m_osMajor == 6 && m_osMinor == 0 ? 6002 : 7601;
    info->dwPlatformId = m_osPlatform;
    std::fill(std::begin(info->szCSDVersion), std::end(info->szCSDVersion), '\0');
    return kTrue;
}

BOOL SimWin32State::CloseHandle(HANDLE handle) {
    std::lock_guard lock(m_mutex);
    if (FindHandle<RadioObject>(FromHandle(handle)) == nullptr) {
        SetLastError(kErrorInvalidHandle);
        return kFalse;
    }
    m_handles.erase(FromHandle(handle));
    return kTrue;
}

// ---- current state ---------------------------------------------------------------

std::shared_ptr<SimWin32State> CurrentSimWin32State() {
    std::lock_guard lock(g_currentMutex);
    return g_current;
}

bool InstallSimWin32State(std::shared_ptr<SimWin32State> state) {
    std::lock_guard lock(g_currentMutex);
    if (g_current != nullptr)
        return false;
    g_current = std::move(state);
    return true;
}

void UninstallSimWin32State(const std::shared_ptr<SimWin32State>& state) {
    std::lock_guard lock(g_currentMutex);
    if (g_current == state)
        g_current.reset();
}

// ---- entry points ------------------------------------------------------------------

namespace {

// Runs one entry point against the current state. Without one, or when the
// call fails to allocate, the entry point fails with its failure value: no
// exception leaves an entry point.
template <typename Result, typename Call>
Result WithState(Result failure, DWORD error, Call&& call) {
    try {
        const std::shared_ptr<SimWin32State> state = CurrentSimWin32State();
        if (state == nullptr) {
            SetLastError(error);
            return failure;
        }
        return call(*state);
    } catch (...) {
        SetLastError(kErrorNotEnoughMemory);
        return failure;
    }
}

template <typename Function>
void* EntryPoint(Function function) {
    return reinterpret_cast<void*>(function);
}

HBLUETOOTH_RADIO_FIND SimBluetoothFindFirstRadio(const BLUETOOTH_FIND_RADIO_PARAMS* params,
                                                 HANDLE* radio) {
    return WithState<HBLUETOOTH_RADIO_FIND>(nullptr, kErrorNoMoreItems, [&](SimWin32State& s) {
        return s.FindFirstRadio(params, radio);
    });
}
BOOL SimBluetoothFindRadioClose(HBLUETOOTH_RADIO_FIND find) {
    return WithState<BOOL>(kFalse, kErrorInvalidHandle,
                           [&](SimWin32State& s) { return s.FindRadioClose(find); });
}
DWORD SimBluetoothGetRadioInfo(HANDLE radio, BLUETOOTH_RADIO_INFO* info) {
    return WithState<DWORD>(kErrorInvalidHandle, kErrorInvalidHandle,
                            [&](SimWin32State& s) { return s.GetRadioInfo(radio, info); });
}
BOOL SimBluetoothIsConnectable(HANDLE radio) {
    return WithState<BOOL>(kFalse, kErrorInvalidHandle,
                           [&](SimWin32State& s) { return s.IsConnectable(radio); });
}
BOOL SimBluetoothEnableIncomingConnections(HANDLE radio, BOOL enabled) {
    return WithState<BOOL>(kFalse, kErrorInvalidHandle, [&](SimWin32State& s) {
        return s.EnableIncomingConnections(radio, enabled);
    });
}
BOOL SimBluetoothIsDiscoverable(HANDLE radio) {
    return WithState<BOOL>(kFalse, kErrorInvalidHandle,
                           [&](SimWin32State& s) { return s.IsDiscoverable(radio); });
}
BOOL SimBluetoothEnableDiscovery(HANDLE radio, BOOL enabled) {
    return WithState<BOOL>(kFalse, kErrorInvalidHandle,
                           [&](SimWin32State& s) { return s.EnableDiscovery(radio, enabled); });
}
DWORD SimBluetoothGetDeviceInfo(HANDLE radio, BLUETOOTH_DEVICE_INFO* info) {
    return WithState<DWORD>(kErrorInvalidHandle, kErrorInvalidHandle,
                            [&](SimWin32State& s) { return s.GetDeviceInfo(radio, info); });
}

INT SimWSAGetLastError() {
    return static_cast<INT>(t_lastError);
}
INT SimWSALookupServiceBeginW(WSAQUERYSETW* restrictions, DWORD flags, HANDLE* lookup) {
    return WithState<INT>(kSocketError, kWsaServiceNotFound, [&](SimWin32State& s) {
        return s.LookupServiceBegin(restrictions, flags, lookup);
    });
}
INT SimWSALookupServiceNextW(HANDLE lookup, DWORD flags, DWORD* bufferLength,
                             WSAQUERYSETW* results) {
    return WithState<INT>(kSocketError, kWsaInvalidHandle, [&](SimWin32State& s) {
        return s.LookupServiceNext(lookup, flags, bufferLength, results);
    });
}
INT SimWSALookupServiceEnd(HANDLE lookup) {
    return WithState<INT>(kSocketError, kWsaInvalidHandle,
                          [&](SimWin32State& s) { return s.LookupServiceEnd(lookup); });
}
INT SimWSAAddressToStringW(SOCKADDR* address, DWORD addressLength, WSAPROTOCOL_INFOW* /*info*/,
                           WCHAR* text, DWORD* textLength) {
    return WithState<INT>(kSocketError, kWsaEInval, [&](SimWin32State& s) {
        return s.AddressToString(address, addressLength, text, textLength);
    });
}
SOCKET SimSocket(INT family, INT type, INT protocol) {
    return WithState<SOCKET>(kInvalidSocket, kWsaEAfNoSupport,
                             [&](SimWin32State& s) { return s.Socket(family, type, protocol); });
}
INT SimCloseSocket(SOCKET socket) {
    return WithState<INT>(kSocketError, kWsaENotSock,
                          [&](SimWin32State& s) { return s.CloseSocket(socket); });
}

HDEVINFO SimSetupDiGetClassDevsW(const GUID* classGuid, const WCHAR* enumerator, HWND /*parent*/,
                                 DWORD flags) {
    return WithState<HDEVINFO>(InvalidHandleValue(), kErrorInvalidParameter, [&](SimWin32State& s) {
        return s.GetClassDevs(classGuid, enumerator, flags);
    });
}
BOOL SimSetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, SP_DEVINFO_DATA* device) {
    return WithState<BOOL>(kFalse, kErrorInvalidHandle,
                           [&](SimWin32State& s) { return s.EnumDeviceInfo(set, index, device); });
}
BOOL SimSetupDiGetDeviceRegistryPropertyW(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property,
                                          DWORD* dataType, BYTE* buffer, DWORD bufferSize,
                                          DWORD* requiredSize) {
    return WithState<BOOL>(kFalse, kErrorInvalidHandle, [&](SimWin32State& s) {
        return s.GetDeviceRegistryProperty(set, device, property, dataType, buffer, bufferSize,
                                           requiredSize);
    });
}
BOOL SimSetupDiGetDeviceInstanceIdW(HDEVINFO set, SP_DEVINFO_DATA* device, WCHAR* instanceId,
                                    DWORD instanceIdSize, DWORD* requiredSize) {
    return WithState<BOOL>(kFalse, kErrorInvalidHandle, [&](SimWin32State& s) {
        return s.GetDeviceInstanceId(set, device, instanceId, instanceIdSize, requiredSize);
    });
}
BOOL SimSetupDiDestroyDeviceInfoList(HDEVINFO set) {
    return WithState<BOOL>(kFalse, kErrorInvalidHandle,
                           [&](SimWin32State& s) { return s.DestroyDeviceInfoList(set); });
}

// The registry reports its errors as results; the last error stays alone.
LONG SimRegOpenKeyW(HKEY key, const WCHAR* subKey, HKEY* result) {
    return WithState<LONG>(kErrorFileNotFound, t_lastError,
                           [&](SimWin32State& s) { return s.RegOpenKey(key, subKey, result); });
}
LONG SimRegSetValueExW(HKEY key, const WCHAR* valueName, DWORD reserved, DWORD type,
                       const BYTE* data, DWORD dataSize) {
    return WithState<LONG>(kErrorInvalidHandle, t_lastError, [&](SimWin32State& s) {
        return s.RegSetValue(key, valueName, reserved, type, data, dataSize);
    });
}
LONG SimRegDeleteValueW(HKEY key, const WCHAR* valueName) {
    return WithState<LONG>(kErrorInvalidHandle, t_lastError,
                           [&](SimWin32State& s) { return s.RegDeleteValue(key, valueName); });
}
LONG SimRegCloseKey(HKEY key) {
    return WithState<LONG>(kErrorInvalidHandle, t_lastError,
                           [&](SimWin32State& s) { return s.RegCloseKey(key); });
}

BOOL SimGetComputerNameW(WCHAR* buffer, DWORD* size) {
    return WithState<BOOL>(kFalse, kErrorGenFailure,
                           [&](SimWin32State& s) { return s.GetComputerName(buffer, size); });
}
BOOL SimDeviceIoControl(HANDLE device, DWORD code, void* input, DWORD inputSize, void* /*output*/,
                        DWORD /*outputSize*/, DWORD* bytesReturned, OVERLAPPED* /*overlapped*/) {
    return WithState<BOOL>(kFalse, kErrorInvalidHandle, [&](SimWin32State& s) {
        return s.DeviceIoControl(device, code, input, inputSize, bytesReturned);
    });
}
BOOL SimGetVersionExA(OSVERSIONINFOA* info) {
    return WithState<BOOL>(kFalse, kErrorGenFailure,
                           [&](SimWin32State& s) { return s.GetVersionEx(info); });
}
BOOL SimCloseHandle(HANDLE handle) {
    return WithState<BOOL>(kFalse, kErrorInvalidHandle,
                           [&](SimWin32State& s) { return s.CloseHandle(handle); });
}
DWORD SimGetLastError() {
    return t_lastError;
}

// RAPI keeps one session per process. Its initialisation event outlives any
// neighbourhood, because the monitor thread of a loader may still wait on it;
// CeRapiUninit frees it.
struct RapiSession {
    RAPIINIT* record = nullptr;
    std::unique_ptr<StopEvent> event;
};

const Clock& RapiEventClock() {
    static const SteadyClock clock;
    return clock;
}

std::mutex g_rapiMutex;
std::unique_ptr<RapiSession> g_rapiSession;  // guarded by g_rapiMutex

HRESULT SimCeRapiInitEx(RAPIINIT* init) {
    try {
        if (init == nullptr || init->cbSize != kRapiInitSize)
            return kEInvalidArg;
        // Lock order: the session, then the state; a device that connects
        // while this runs is seen here or signals the session made here.
        std::lock_guard lock(g_rapiMutex);
        const std::shared_ptr<SimWin32State> state = CurrentSimWin32State();
        if (state == nullptr || !state->GetScenario().IsInstalled(StackKind::RAPI))
            return kEFail;
        if (g_rapiSession != nullptr)
            return kEFail;
        auto session = std::make_unique<RapiSession>();
        session->record = init;
        session->event = std::make_unique<StopEvent>(RapiEventClock());
        init->heRapiInit = session->event.get();
        if (state->RapiDeviceConnected()) {
            init->hrRapiInit = kSOk;
            session->event->Set();
        }
        g_rapiSession = std::move(session);
        return kSOk;
    } catch (...) {
        return kEFail;
    }
}

HRESULT SimCeRapiUninit() {
    std::lock_guard lock(g_rapiMutex);
    if (g_rapiSession == nullptr)
        return kEFail;
    g_rapiSession.reset();
    return kSOk;
}

DWORD SimCeGetDeviceId() {
    std::lock_guard lock(g_rapiMutex);
    const std::shared_ptr<SimWin32State> state = CurrentSimWin32State();
    if (g_rapiSession == nullptr || state == nullptr || !state->RapiDeviceConnected())
        return 0;
    return kRapiDeviceId;
}

}  // namespace

void SignalRapiSessions() {
    std::lock_guard lock(g_rapiMutex);
    if (g_rapiSession != nullptr && !g_rapiSession->event->IsSet()) {
        // The result is written before the event is set; the waiter reads it
        // only after it has seen the event set.
        g_rapiSession->record->hrRapiInit = kSOk;
        g_rapiSession->event->Set();
    }
}

// The five pairing entry points are left out: the virtual neighbourhood does
// not pair, and a binding must cope with missing entry points anyway.
EntryPointTable SimBluetoothApiEntryPoints() {
    return {
        {"BluetoothFindFirstRadio", EntryPoint(&SimBluetoothFindFirstRadio)},
        {"BluetoothFindRadioClose", EntryPoint(&SimBluetoothFindRadioClose)},
        {"BluetoothGetRadioInfo", EntryPoint(&SimBluetoothGetRadioInfo)},
        {"BluetoothIsConnectable", EntryPoint(&SimBluetoothIsConnectable)},
        {"BluetoothEnableIncomingConnections", EntryPoint(&SimBluetoothEnableIncomingConnections)},
        {"BluetoothIsDiscoverable", EntryPoint(&SimBluetoothIsDiscoverable)},
        {"BluetoothEnableDiscovery", EntryPoint(&SimBluetoothEnableDiscovery)},
        {"BluetoothGetDeviceInfo", EntryPoint(&SimBluetoothGetDeviceInfo)},
    };
}

EntryPointTable SimWinsockEntryPoints() {
    return {
        {"WSAGetLastError", EntryPoint(&SimWSAGetLastError)},
        {"WSALookupServiceBeginW", EntryPoint(&SimWSALookupServiceBeginW)},
        {"WSALookupServiceNextW", EntryPoint(&SimWSALookupServiceNextW)},
        {"WSALookupServiceEnd", EntryPoint(&SimWSALookupServiceEnd)},
        {"WSAAddressToStringW", EntryPoint(&SimWSAAddressToStringW)},
        {"socket", EntryPoint(&SimSocket)},
        {"closesocket", EntryPoint(&SimCloseSocket)},
    };
}

EntryPointTable SimSetupApiEntryPoints() {
    return {
        {"SetupDiGetClassDevsW", EntryPoint(&SimSetupDiGetClassDevsW)},
        {"SetupDiEnumDeviceInfo", EntryPoint(&SimSetupDiEnumDeviceInfo)},
        {"SetupDiGetDeviceRegistryPropertyW", EntryPoint(&SimSetupDiGetDeviceRegistryPropertyW)},
        {"SetupDiGetDeviceInstanceIdW", EntryPoint(&SimSetupDiGetDeviceInstanceIdW)},
        {"SetupDiDestroyDeviceInfoList", EntryPoint(&SimSetupDiDestroyDeviceInfoList)},
    };
}

EntryPointTable SimAdvapiEntryPoints() {
    return {
        {"RegOpenKeyW", EntryPoint(&SimRegOpenKeyW)},
        {"RegSetValueExW", EntryPoint(&SimRegSetValueExW)},
        {"RegDeleteValueW", EntryPoint(&SimRegDeleteValueW)},
        {"RegCloseKey", EntryPoint(&SimRegCloseKey)},
    };
}

EntryPointTable SimKernel32EntryPoints() {
    return {
        {"GetComputerNameW", EntryPoint(&SimGetComputerNameW)},
        {"DeviceIoControl", EntryPoint(&SimDeviceIoControl)},
        {"GetVersionExA", EntryPoint(&SimGetVersionExA)},
        {"CloseHandle", EntryPoint(&SimCloseHandle)},
        {"GetLastError", EntryPoint(&SimGetLastError)},
    };
}

// Only what the loader calls; the device information calls of the library
// (store, system, power, version) are not modelled.
EntryPointTable SimRapiEntryPoints() {
    return {
        {"CeRapiInitEx", EntryPoint(&SimCeRapiInitEx)},
        {"CeRapiUninit", EntryPoint(&SimCeRapiUninit)},
    };
}

EntryPointTable SimCeutilEntryPoints() {
    return {
        {"CeGetDeviceId", EntryPoint(&SimCeGetDeviceId)},
    };
}

}  // namespace kavri::sim
