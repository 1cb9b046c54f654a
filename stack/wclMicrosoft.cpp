#include "stack/wclMicrosoft.h"

#include "platform/DynamicLibrary.h"
#include "platform/StopEvent.h"
#include "platform/Text.h"
#include "stack/wclBluetoothAddress.h"
#include "stack/wclExceptions.h"
#include "stack/wclMessages.h"
#include "stack/wclSDPParser.h"
#include "stack/wclSDPService.h"
#include "stack/wclTypes.h"
#include "stack/wclWin32Api.h"
#include "stack/wclWinsockLink.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string_view>

namespace kavri {

using namespace win32;

namespace {

constexpr Clock::Duration kWatchInterval{1000};
constexpr std::size_t kInquiryBufferBytes = 15360;
constexpr std::size_t kServiceBufferBytes = 61440;
constexpr DWORD kInquiryFlags = kLupContainers | kLupReturnAddr | kLupFlushCache;  // 0x1102
constexpr DWORD kServiceFlags = kLupResService | kLupFlushCache | kLupReturnBlob | kLupReturnAddr |
                                kLupReturnComment | kLupReturnType | kLupReturnName;  // 0x93B0
static_assert(kInquiryFlags == 0x1102 && kServiceFlags == 0x93B0);
constexpr DWORD kDeviceClassFlags = kDigcfPresent | kDigcfProfile;  // 10
constexpr std::size_t kAddressTextChars = 256;
// A lookup that never says "no more" must still end.
constexpr std::size_t kMaxLookupResults = 4096;
// The device list of one class and the property buffers are small on every
// real system; these bound what a faulty one can make us walk or allocate.
constexpr DWORD kMaxDeviceNodes = 1024;
constexpr DWORD kMaxPropertyBytes = 64 * 1024;
constexpr int kMaxBufferGrowths = 4;
constexpr std::u16string_view kBridgeMarker = u"MS_BTHBRB";
constexpr std::u16string_view kLocalNameValue = u"Local Name";

thread_local std::uint32_t t_wrapperError = 0;

template <typename Function>
Function Resolve(const DynamicLibrary* library, const char* name) {
    return library == nullptr ? nullptr : library->ResolveAs<Function>(name);
}

// A result buffer whose start is aligned for the records the system lays out
// in it. Allocation failure leaves it empty rather than throwing, because the
// caller reports it in its own way.
class ResultBuffer {
public:
    explicit ResultBuffer(std::size_t bytes)
        : m_words(new (std::nothrow) std::uint64_t[(bytes + 7) / 8]), m_bytes(bytes) {}
    bool Valid() const { return m_words != nullptr; }
    std::uint8_t* Bytes() { return reinterpret_cast<std::uint8_t*>(m_words.get()); }
    std::size_t Size() const { return m_bytes; }
    void Clear() { std::memset(m_words.get(), 0, m_bytes); }
    WSAQUERYSETW* Query() { return reinterpret_cast<WSAQUERYSETW*>(m_words.get()); }

    // True when [p, p + length) lies inside the buffer: pointers and lengths
    // the system returns are checked before anything is read through them.
    bool Holds(const void* p, std::size_t length) const {
        const auto begin = reinterpret_cast<std::uintptr_t>(m_words.get());
        const auto at = reinterpret_cast<std::uintptr_t>(p);
        return p != nullptr && at >= begin && at - begin <= m_bytes &&
               length <= m_bytes - (at - begin);
    }
    // How many bytes from p to the end of the buffer (p must be held).
    std::size_t BytesFrom(const void* p) const {
        return m_bytes - (reinterpret_cast<std::uintptr_t>(p) -
                          reinterpret_cast<std::uintptr_t>(m_words.get()));
    }

private:
    std::unique_ptr<std::uint64_t[]> m_words;
    std::size_t m_bytes;
};

// UTF-16 text of at most maxChars code units, up to the first zero.
std::u16string BoundedText(const WCHAR* text, std::size_t maxChars) {
    const WCHAR* end = std::find(text, text + maxChars, u'\0');
    return std::u16string(text, end);
}

}  // namespace

// The loaded libraries and their entry points. Immutable once loaded and
// shared: the watcher and every running operation hold it, so the libraries
// stay loaded until the last of them lets go. Each wrapper fails like a failed
// call when its entry point is missing.
struct TwclMicrosoftLoader::Api {
    std::string libraryName;
    std::unique_ptr<DynamicLibrary> bluetooth;
    std::unique_ptr<DynamicLibrary> winsock;
    std::unique_ptr<DynamicLibrary> setupApi;
    std::unique_ptr<DynamicLibrary> advapi;
    std::unique_ptr<DynamicLibrary> kernel;

    PFN_BluetoothFindFirstRadio findFirstRadio = nullptr;
    PFN_BluetoothFindRadioClose findRadioClose = nullptr;
    PFN_BluetoothGetRadioInfo getRadioInfo = nullptr;
    PFN_BluetoothIsConnectable isConnectable = nullptr;
    PFN_BluetoothEnableIncomingConnections enableIncomingConnections = nullptr;
    PFN_BluetoothIsDiscoverable isDiscoverable = nullptr;
    PFN_BluetoothEnableDiscovery enableDiscovery = nullptr;
    PFN_BluetoothGetDeviceInfo getDeviceInfo = nullptr;
    PFN_BluetoothAuthenticateDevice authenticateDevice = nullptr;
    PFN_BluetoothRemoveDevice removeDevice = nullptr;
    PFN_BluetoothRegisterForAuthentication registerForAuthentication = nullptr;
    PFN_BluetoothUnregisterAuthentication unregisterAuthentication = nullptr;
    PFN_BluetoothSendAuthenticationResponse sendAuthenticationResponse = nullptr;

    PFN_WSALookupServiceBeginW lookupBegin = nullptr;
    PFN_WSALookupServiceNextW lookupNext = nullptr;
    PFN_WSALookupServiceEnd lookupEnd = nullptr;
    PFN_WSAAddressToStringW addressToString = nullptr;

    PFN_SetupDiGetClassDevsW getClassDevs = nullptr;
    PFN_SetupDiEnumDeviceInfo enumDeviceInfo = nullptr;
    PFN_SetupDiGetDeviceRegistryPropertyW getDeviceRegistryProperty = nullptr;
    PFN_SetupDiGetDeviceInstanceIdW getDeviceInstanceId = nullptr;
    PFN_SetupDiDestroyDeviceInfoList destroyDeviceInfoList = nullptr;

    PFN_RegOpenKeyW regOpenKey = nullptr;
    PFN_RegSetValueExW regSetValue = nullptr;
    PFN_RegDeleteValueW regDeleteValue = nullptr;
    PFN_RegCloseKey regCloseKey = nullptr;

    PFN_GetComputerNameW getComputerName = nullptr;
    PFN_DeviceIoControl deviceIoControl = nullptr;
    PFN_GetVersionExA getVersionEx = nullptr;
    PFN_CloseHandle closeHandle = nullptr;

    // The Bluetooth API entry points, resolved from the loaded library.
    void ResolveBluetooth() {
        const DynamicLibrary* lib = bluetooth.get();
        findFirstRadio = Resolve<PFN_BluetoothFindFirstRadio>(lib, "BluetoothFindFirstRadio");
        findRadioClose = Resolve<PFN_BluetoothFindRadioClose>(lib, "BluetoothFindRadioClose");
        getRadioInfo = Resolve<PFN_BluetoothGetRadioInfo>(lib, "BluetoothGetRadioInfo");
        isConnectable = Resolve<PFN_BluetoothIsConnectable>(lib, "BluetoothIsConnectable");
        enableIncomingConnections = Resolve<PFN_BluetoothEnableIncomingConnections>(
            lib, "BluetoothEnableIncomingConnections");
        isDiscoverable = Resolve<PFN_BluetoothIsDiscoverable>(lib, "BluetoothIsDiscoverable");
        enableDiscovery = Resolve<PFN_BluetoothEnableDiscovery>(lib, "BluetoothEnableDiscovery");
        getDeviceInfo = Resolve<PFN_BluetoothGetDeviceInfo>(lib, "BluetoothGetDeviceInfo");
        authenticateDevice =
            Resolve<PFN_BluetoothAuthenticateDevice>(lib, "BluetoothAuthenticateDevice");
        removeDevice = Resolve<PFN_BluetoothRemoveDevice>(lib, "BluetoothRemoveDevice");
        registerForAuthentication = Resolve<PFN_BluetoothRegisterForAuthentication>(
            lib, "BluetoothRegisterForAuthentication");
        unregisterAuthentication = Resolve<PFN_BluetoothUnregisterAuthentication>(
            lib, "BluetoothUnregisterAuthentication");
        sendAuthenticationResponse = Resolve<PFN_BluetoothSendAuthenticationResponse>(
            lib, "BluetoothSendAuthenticationResponse");
    }

    // The platform libraries: on the stack's home system they are always
    // there; where one is missing its calls simply fail.
    void ResolvePlatform() {
        winsock = DynamicLibrary::Load("ws2_32.dll");
        setupApi = DynamicLibrary::Load("setupapi.dll");
        advapi = DynamicLibrary::Load("advapi32.dll");
        kernel = DynamicLibrary::Load("kernel32.dll");
        lookupBegin = Resolve<PFN_WSALookupServiceBeginW>(winsock.get(), "WSALookupServiceBeginW");
        lookupNext = Resolve<PFN_WSALookupServiceNextW>(winsock.get(), "WSALookupServiceNextW");
        lookupEnd = Resolve<PFN_WSALookupServiceEnd>(winsock.get(), "WSALookupServiceEnd");
        addressToString = Resolve<PFN_WSAAddressToStringW>(winsock.get(), "WSAAddressToStringW");
        getClassDevs = Resolve<PFN_SetupDiGetClassDevsW>(setupApi.get(), "SetupDiGetClassDevsW");
        enumDeviceInfo =
            Resolve<PFN_SetupDiEnumDeviceInfo>(setupApi.get(), "SetupDiEnumDeviceInfo");
        getDeviceRegistryProperty = Resolve<PFN_SetupDiGetDeviceRegistryPropertyW>(
            setupApi.get(), "SetupDiGetDeviceRegistryPropertyW");
        getDeviceInstanceId =
            Resolve<PFN_SetupDiGetDeviceInstanceIdW>(setupApi.get(), "SetupDiGetDeviceInstanceIdW");
        destroyDeviceInfoList = Resolve<PFN_SetupDiDestroyDeviceInfoList>(
            setupApi.get(), "SetupDiDestroyDeviceInfoList");
        regOpenKey = Resolve<PFN_RegOpenKeyW>(advapi.get(), "RegOpenKeyW");
        regSetValue = Resolve<PFN_RegSetValueExW>(advapi.get(), "RegSetValueExW");
        regDeleteValue = Resolve<PFN_RegDeleteValueW>(advapi.get(), "RegDeleteValueW");
        regCloseKey = Resolve<PFN_RegCloseKey>(advapi.get(), "RegCloseKey");
        getComputerName = Resolve<PFN_GetComputerNameW>(kernel.get(), "GetComputerNameW");
        deviceIoControl = Resolve<PFN_DeviceIoControl>(kernel.get(), "DeviceIoControl");
        getVersionEx = Resolve<PFN_GetVersionExA>(kernel.get(), "GetVersionExA");
        closeHandle = Resolve<PFN_CloseHandle>(kernel.get(), "CloseHandle");
    }

    HBLUETOOTH_RADIO_FIND FindFirstRadio(const BLUETOOTH_FIND_RADIO_PARAMS* params,
                                         HANDLE* radio) const {
        if (findFirstRadio == nullptr) {
            t_wrapperError = kErrorInvalidFunction;
            return nullptr;
        }
        return findFirstRadio(params, radio);
    }
    BOOL FindRadioClose(HBLUETOOTH_RADIO_FIND find) const {
        if (findRadioClose == nullptr) {
            t_wrapperError = kErrorInvalidFunction;
            return kFalse;
        }
        return findRadioClose(find);
    }
    DWORD GetRadioInfo(HANDLE radio, BLUETOOTH_RADIO_INFO* info) const {
        return getRadioInfo == nullptr ? 1 : getRadioInfo(radio, info);
    }
    DWORD GetDeviceInfo(HANDLE radio, BLUETOOTH_DEVICE_INFO* info) const {
        return getDeviceInfo == nullptr ? 1 : getDeviceInfo(radio, info);
    }
    INT LookupBegin(WSAQUERYSETW* query, DWORD flags, HANDLE* lookup) const {
        return lookupBegin == nullptr ? kSocketError : lookupBegin(query, flags, lookup);
    }
    INT LookupNext(HANDLE lookup, DWORD flags, DWORD* length, WSAQUERYSETW* results) const {
        return lookupNext == nullptr ? kSocketError : lookupNext(lookup, flags, length, results);
    }
    void LookupEnd(HANDLE lookup) const {
        if (lookupEnd != nullptr)
            lookupEnd(lookup);
    }
    INT AddressToString(SOCKADDR* address, DWORD length, WCHAR* text, DWORD* textLength) const {
        return addressToString == nullptr
                   ? kSocketError
                   : addressToString(address, length, nullptr, text, textLength);
    }
    HDEVINFO GetClassDevs(const GUID* classGuid, DWORD flags) const {
        return getClassDevs == nullptr ? InvalidHandleValue()
                                       : getClassDevs(classGuid, nullptr, nullptr, flags);
    }
    BOOL EnumDeviceInfo(HDEVINFO set, DWORD index, SP_DEVINFO_DATA* device) const {
        return enumDeviceInfo == nullptr ? kFalse : enumDeviceInfo(set, index, device);
    }
    BOOL GetDeviceRegistryProperty(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property,
                                   BYTE* buffer, DWORD size, DWORD* required) const {
        DWORD type = 0;
        return getDeviceRegistryProperty == nullptr
                   ? kFalse
                   : getDeviceRegistryProperty(set, device, property, &type, buffer, size,
                                               required);
    }
    BOOL GetDeviceInstanceId(HDEVINFO set, SP_DEVINFO_DATA* device, WCHAR* id, DWORD size,
                             DWORD* required) const {
        return getDeviceInstanceId == nullptr
                   ? kFalse
                   : getDeviceInstanceId(set, device, id, size, required);
    }
    void DestroyDeviceInfoList(HDEVINFO set) const {
        if (destroyDeviceInfoList != nullptr)
            destroyDeviceInfoList(set);
    }
    LONG RegOpenKey(HKEY key, const WCHAR* subKey, HKEY* result) const {
        return regOpenKey == nullptr ? static_cast<LONG>(kErrorInvalidFunction)
                                     : regOpenKey(key, subKey, result);
    }
    LONG RegSetValue(HKEY key, const WCHAR* name, DWORD type, const BYTE* data, DWORD size) const {
        return regSetValue == nullptr ? static_cast<LONG>(kErrorInvalidFunction)
                                      : regSetValue(key, name, 0, type, data, size);
    }
    LONG RegDeleteValue(HKEY key, const WCHAR* name) const {
        return regDeleteValue == nullptr ? static_cast<LONG>(kErrorInvalidFunction)
                                         : regDeleteValue(key, name);
    }
    void RegCloseKey(HKEY key) const {
        if (regCloseKey != nullptr)
            regCloseKey(key);
    }
    BOOL GetComputerName(WCHAR* buffer, DWORD* size) const {
        return getComputerName == nullptr ? kFalse : getComputerName(buffer, size);
    }
    BOOL DeviceIoControl(HANDLE device, DWORD code, void* input, DWORD inputSize) const {
        DWORD returned = 0;
        return deviceIoControl == nullptr ? kFalse
                                          : deviceIoControl(device, code, input, inputSize, nullptr,
                                                            0, &returned, nullptr);
    }
    BOOL GetVersionEx(OSVERSIONINFOA* info) const {
        return getVersionEx == nullptr ? kFalse : getVersionEx(info);
    }
    void CloseHandle(HANDLE handle) const {
        if (closeHandle != nullptr && handle != nullptr)
            closeHandle(handle);
    }

    // A first radio can be found: its handle and the find handle are closed
    // at once.
    bool IsRadioPresent() const {
        BLUETOOTH_FIND_RADIO_PARAMS params{kBluetoothFindRadioParamsSize};
        HANDLE radio = nullptr;
        const HBLUETOOTH_RADIO_FIND find = FindFirstRadio(&params, &radio);
        if (find == nullptr)
            return false;
        CloseHandle(radio);
        FindRadioClose(find);
        return true;
    }
};

namespace {

using Api = TwclMicrosoftLoader::Api;

// The first radio's handle, closed when this goes. The find handle is closed
// at once; no radio raises wclEGetRadioHandle.
class RadioHandle {
public:
    explicit RadioHandle(const Api& api) : m_api(api) {
        BLUETOOTH_FIND_RADIO_PARAMS params{kBluetoothFindRadioParamsSize};
        const HBLUETOOTH_RADIO_FIND find = api.FindFirstRadio(&params, &m_handle);
        if (find == nullptr)
            throw wclEGetRadioHandle();
        api.FindRadioClose(find);
        if (m_handle == nullptr)
            throw wclEGetRadioHandle();
    }
    ~RadioHandle() { m_api.CloseHandle(m_handle); }
    RadioHandle(const RadioHandle&) = delete;
    RadioHandle& operator=(const RadioHandle&) = delete;
    HANDLE Get() const { return m_handle; }

private:
    const Api& m_api;
    HANDLE m_handle = nullptr;
};

class DeviceInfoList {
public:
    DeviceInfoList(const Api& api, HDEVINFO set) : m_api(api), m_set(set) {}
    ~DeviceInfoList() {
        if (Valid())
            m_api.DestroyDeviceInfoList(m_set);
    }
    DeviceInfoList(const DeviceInfoList&) = delete;
    DeviceInfoList& operator=(const DeviceInfoList&) = delete;
    bool Valid() const { return m_set != nullptr && m_set != InvalidHandleValue(); }
    HDEVINFO Get() const { return m_set; }

private:
    const Api& m_api;
    HDEVINFO m_set;
};

class RegistryKey {
public:
    explicit RegistryKey(const Api& api) : m_api(api) {}
    ~RegistryKey() {
        if (m_key != nullptr)
            m_api.RegCloseKey(m_key);
    }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    HKEY* Out() { return &m_key; }
    HKEY Get() const { return m_key; }

private:
    const Api& m_api;
    HKEY m_key = nullptr;
};

class Lookup {
public:
    explicit Lookup(const Api& api) : m_api(api) {}
    ~Lookup() {
        if (m_handle != nullptr)
            m_api.LookupEnd(m_handle);
    }
    Lookup(const Lookup&) = delete;
    Lookup& operator=(const Lookup&) = delete;
    HANDLE* Out() { return &m_handle; }
    HANDLE Get() const { return m_handle; }

private:
    const Api& m_api;
    HANDLE m_handle = nullptr;
};

// The hardware identifiers of a device (a list of texts, searched as one).
// The buffer grows to the size the call asks for, within a bound; a property
// that cannot be read reads as empty.
std::u16string ReadHardwareIds(const Api& api, HDEVINFO set, SP_DEVINFO_DATA& device) {
    std::vector<BYTE> buffer(256);
    for (int attempt = 0; attempt <= kMaxBufferGrowths; ++attempt) {
        DWORD required = 0;
        const DWORD size = static_cast<DWORD>(buffer.size());
        if (api.GetDeviceRegistryProperty(set, &device, kSpdrpHardwareId, buffer.data(), size,
                                          &required) != kFalse) {
            const std::size_t bytes = std::min<std::size_t>(required == 0 ? size : required, size);
            std::u16string text(bytes / sizeof(WCHAR), u'\0');
            std::memcpy(text.data(), buffer.data(), text.size() * sizeof(WCHAR));
            return text;
        }
        if (required <= size || required > kMaxPropertyBytes)
            return {};
        buffer.resize(required);
    }
    return {};
}

std::u16string ReadInstanceId(const Api& api, HDEVINFO set, SP_DEVINFO_DATA& device) {
    std::vector<WCHAR> buffer(200);
    for (int attempt = 0; attempt <= kMaxBufferGrowths; ++attempt) {
        DWORD required = 0;
        const DWORD size = static_cast<DWORD>(buffer.size());
        if (api.GetDeviceInstanceId(set, &device, buffer.data(), size, &required) != kFalse)
            return BoundedText(buffer.data(), buffer.size());
        if (required <= size || required > kMaxPropertyBytes / sizeof(WCHAR))
            return {};
        buffer.resize(required);
    }
    return {};
}

// The device instance of the local radio: the first present device of the
// Bluetooth class that is not the bridge enumerator, by neither identifier.
std::u16string FindRadioInstanceId(const Api& api) {
    const DeviceInfoList set(api, api.GetClassDevs(&kBluetoothDeviceClass, kDeviceClassFlags));
    if (!set.Valid())
        throw wclERadoNameWriteError();
    for (DWORD index = 0; index < kMaxDeviceNodes; ++index) {
        SP_DEVINFO_DATA device{};
        device.cbSize = kSpDevInfoDataSize;
        if (api.EnumDeviceInfo(set.Get(), index, &device) == kFalse)
            break;
        if (ReadHardwareIds(api, set.Get(), device).find(kBridgeMarker) != std::u16string::npos)
            continue;
        const std::u16string instanceId = ReadInstanceId(api, set.Get(), device);
        if (instanceId.find(kBridgeMarker) != std::u16string::npos)
            continue;
        if (instanceId.empty())
            throw wclERadoNameWriteError();
        return instanceId;
    }
    throw wclERadoNameWriteError();
}

std::u16string ReadComputerName(const Api& api) {
    WCHAR buffer[kMaxComputerNameLength] = {};
    DWORD size = kMaxComputerNameLength;
    if (api.GetComputerName(buffer, &size) == kFalse)
        return {};
    return BoundedText(buffer, std::min<std::size_t>(size, kMaxComputerNameLength));
}

BLUETOOTH_DEVICE_INFO ReadDeviceInfo(const Api& api, const std::string& address, bool forName) {
    const std::uint64_t value = AddressToUInt64(address);
    const RadioHandle radio(api);
    BLUETOOTH_DEVICE_INFO info{};
    info.dwSize = kBluetoothDeviceInfoSize;
    info.Address.ullLong = value;
    if (api.GetDeviceInfo(radio.Get(), &info) != 0) {
        if (forName)
            throw wclERemoteDeviceNameReadError();
        throw wclERemoteClassOfDeviceReadError();
    }
    return info;
}

// Where an empty binding stands in when nothing is loaded: every wrapper then
// fails, and each operation raises its error.
const Api& NoApi() {
    static const Api api;
    return api;
}

}  // namespace

TwclMicrosoftLoader::TwclMicrosoftLoader(const Clock& clock) : m_clock(clock) {}

TwclMicrosoftLoader::~TwclMicrosoftLoader() {
    Unload();
}

bool TwclMicrosoftLoader::Load(const MessageWindowHandle& managerWindow) {
    std::lock_guard lock(m_mutex);
    if (m_api != nullptr)
        return m_api->IsRadioPresent();

    auto api = std::make_shared<Api>();
    api->libraryName = "irprops.cpl";
    api->bluetooth = DynamicLibrary::Load(api->libraryName);
    if (api->bluetooth == nullptr) {
        api->libraryName = "bthprops.cpl";
        api->bluetooth = DynamicLibrary::Load(api->libraryName);
    }
    if (api->bluetooth == nullptr)
        return false;
    api->ResolveBluetooth();
    api->ResolvePlatform();

    std::shared_ptr<const Api> loaded = std::move(api);
    const bool present = loaded->IsRadioPresent();
    m_watcher = std::make_unique<PollingWatcher>(
        m_clock, kWatchInterval, present, [loaded] { return loaded->IsRadioPresent(); },
        [managerWindow](bool nowPresent) {
            PostMessage(managerWindow,
                        nowPresent ? wclMsg::kMicrosoftPresent : wclMsg::kMicrosoftAbsent);
        });
    m_api = std::move(loaded);
    return present;
}

void TwclMicrosoftLoader::Unload() {
    std::unique_ptr<PollingWatcher> watcher;
    {
        std::lock_guard lock(m_mutex);
        watcher = std::move(m_watcher);
        m_api.reset();
    }
    // The watcher holds the libraries until it has ended.
    if (watcher != nullptr)
        watcher->Stop();
}

bool TwclMicrosoftLoader::IsLoaded() const {
    std::lock_guard lock(m_mutex);
    return m_api != nullptr;
}

std::shared_ptr<const TwclMicrosoftLoader::Api> TwclMicrosoftLoader::CurrentApi() const {
    std::lock_guard lock(m_mutex);
    return m_api;
}

bool TwclMicrosoftLoader::IsRadioPresent() const {
    const auto api = CurrentApi();
    return (api ? *api : NoApi()).IsRadioPresent();
}

std::string TwclMicrosoftLoader::LibraryName() const {
    const auto api = CurrentApi();
    return api ? api->libraryName : std::string();
}

std::uint32_t TwclMicrosoftLoader::LastWrapperError() {
    return t_wrapperError;
}

std::uint64_t TwclMicrosoftLoader::ReadRadioAddress() {
    const auto loaded = CurrentApi();
    const Api& api = loaded ? *loaded : NoApi();
    const RadioHandle radio(api);
    BLUETOOTH_RADIO_INFO info{};
    info.dwSize = kBluetoothRadioInfoSize;
    if (api.GetRadioInfo(radio.Get(), &info) != 0)
        throw wclERadioAddressReadError();
    return info.address.ullLong & 0xFFFFFFFFFFFFull;
}

void TwclMicrosoftLoader::WriteRadioName(const std::string& name) {
    const auto loaded = CurrentApi();
    const Api& api = loaded ? *loaded : NoApi();

    const std::u16string instanceId = FindRadioInstanceId(api);
    {
        const std::u16string keyPath =
            u"SYSTEM\\CurrentControlSet\\Enum\\" + instanceId + u"\\Device Parameters";
        RegistryKey key(api);
        if (api.RegOpenKey(HKeyLocalMachine(), keyPath.c_str(), key.Out()) != 0 ||
            key.Get() == nullptr)
            throw wclERadoNameWriteError();

        const std::u16string wide = Utf8ToUtf16(name);
        const std::u16string valueName(kLocalNameValue);
        if (wide.empty() || wide != ReadComputerName(api)) {
            // The radio reads its name as UTF-8 bytes without a terminator.
            const std::string bytes = Utf16ToUtf8(wide);
            if (api.RegSetValue(key.Get(), valueName.c_str(), kRegBinary,
                                reinterpret_cast<const BYTE*>(bytes.data()),
                                static_cast<DWORD>(bytes.size())) != 0)
                throw wclERadoNameWriteError();
        } else {
            // Without the value the radio takes the computer's name; a value
            // that is already gone is what was wanted.
            api.RegDeleteValue(key.Get(), valueName.c_str());
        }
    }

    const RadioHandle radio(api);
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = kOsVersionInfoASize;
    const bool nt60 = api.GetVersionEx(&version) != kFalse &&
                      version.dwPlatformId == kVerPlatformWin32Nt && version.dwMajorVersion == 6 &&
                      version.dwMinorVersion == 0;
    DWORD request = 4;
    if (api.DeviceIoControl(radio.Get(), nt60 ? kIoctlRadioReloadNameNt60 : kIoctlRadioReloadName,
                            &request, sizeof request) == kFalse)
        throw wclERadoNameWriteError();
}

std::optional<std::vector<std::string>> TwclMicrosoftLoader::Inquiry() {
    const auto loaded = CurrentApi();
    const Api& api = loaded ? *loaded : NoApi();

    ResultBuffer buffer(kInquiryBufferBytes);
    if (!buffer.Valid())
        return std::nullopt;
    WSAQUERYSETW query{};
    query.dwSize = kWsaQuerySetSize;
    query.dwNameSpace = kNsBth;
    Lookup lookup(api);
    if (api.LookupBegin(&query, kInquiryFlags, lookup.Out()) != 0)
        return std::nullopt;

    std::vector<std::string> addresses;
    for (std::size_t i = 0; i < kMaxLookupResults; ++i) {
        buffer.Clear();
        DWORD length = static_cast<DWORD>(buffer.Size());
        if (api.LookupNext(lookup.Get(), kInquiryFlags, &length, buffer.Query()) != 0)
            break;
        const WSAQUERYSETW* result = buffer.Query();
        if (result->dwNumberOfCsAddrs == 0 ||
            !buffer.Holds(result->lpcsaBuffer, sizeof(CSADDR_INFO)))
            continue;
        const SOCKET_ADDRESS remote = result->lpcsaBuffer->RemoteAddr;
        if (remote.iSockaddrLength <= 0 ||
            !buffer.Holds(remote.lpSockaddr, static_cast<std::size_t>(remote.iSockaddrLength)))
            continue;
        WCHAR text[kAddressTextChars] = {};
        DWORD textLength = kAddressTextChars;
        if (api.AddressToString(remote.lpSockaddr, static_cast<DWORD>(remote.iSockaddrLength), text,
                                &textLength) != 0)
            continue;
        std::u16string address =
            BoundedText(text, std::min<std::size_t>(textLength, kAddressTextChars));
        // Some stacks follow the address with more text; the address ends at
        // the first ")".
        const std::size_t close = address.find(u')');
        if (close != std::u16string::npos)
            address.resize(close + 1);
        std::string utf8 = Utf16ToUtf8(address);
        // Text that is no address cannot become a device.
        if (IsValidAddress(utf8))
            addresses.push_back(std::move(utf8));
    }
    return addresses;
}

std::string TwclMicrosoftLoader::ReadRemoteName(const std::string& address) {
    const auto loaded = CurrentApi();
    const BLUETOOTH_DEVICE_INFO info = ReadDeviceInfo(loaded ? *loaded : NoApi(), address, true);
    return Utf16ToUtf8(BoundedText(info.szName, kBluetoothMaxNameSize));
}

std::uint32_t TwclMicrosoftLoader::ReadRemoteClassOfDevice(const std::string& address) {
    const auto loaded = CurrentApi();
    return ReadDeviceInfo(loaded ? *loaded : NoApi(), address, false).ulClassofDevice;
}

std::vector<wclServiceInfo> TwclMicrosoftLoader::EnumServices(
    const std::string& address, const std::optional<GUID>& serviceClass) {
    const auto loaded = CurrentApi();
    const Api& api = loaded ? *loaded : NoApi();

    ResultBuffer buffer(kServiceBufferBytes);
    if (!buffer.Valid())
        throw wclEEnumServices();
    // Every record holds L2CAP, so searching for it finds every service.
    GUID searchClass = serviceClass.value_or(L2CAPProtocolUUID);
    std::u16string context = Utf8ToUtf16(address);
    WSAQUERYSETW query{};
    query.dwSize = kWsaQuerySetSize;
    query.lpServiceClassId = &searchClass;
    query.dwNameSpace = kNsBth;
    query.lpszContext = context.data();
    Lookup lookup(api);
    if (api.LookupBegin(&query, kServiceFlags, lookup.Out()) != 0)
        throw wclEEnumServices();

    std::vector<wclServiceInfo> services;
    for (std::size_t i = 0; i < kMaxLookupResults; ++i) {
        buffer.Clear();
        DWORD length = static_cast<DWORD>(buffer.Size());
        if (api.LookupNext(lookup.Get(), kServiceFlags, &length, buffer.Query()) != 0)
            break;
        const WSAQUERYSETW* result = buffer.Query();
        if (!buffer.Holds(result->lpBlob, sizeof(BLOB)))
            continue;
        const BLOB blob = *result->lpBlob;
        if (blob.cbSize == 0 || !buffer.Holds(blob.pBlobData, 0))
            continue;
        // The record may claim more than the buffer holds; read only what is there.
        const std::size_t size =
            std::min<std::size_t>(blob.cbSize, buffer.BytesFrom(blob.pBlobData));
        const TwclSDPParser parser(blob.pBlobData, size);
        if (parser.Records().Count() == 0)
            continue;
        // Each record is one service, and it came over the air: a record the
        // library cannot take (a channel of 32 or more) is passed over, and
        // the device's other services are still found.
        std::optional<SdpServiceInfo> service;
        try {
            service = ReadServiceFromRecord(parser.Records().Items(0));
        } catch (const wclException&) {
            continue;
        }
        if (service) {
            services.push_back(*service);
        }
    }
    return services;
}

std::unique_ptr<wclConnectionBackend> TwclMicrosoftLoader::OpenLink(
    EventLoop& loop, const wclBluetoothLinkRequest& request, wclLinkEvents events) {
    return wclWinsockLink::OpenBluetooth(loop, request, std::move(events));
}

}  // namespace kavri
