#include "stack/wclBlueSoleil.h"

#include "platform/DynamicLibrary.h"
#include "platform/StopEvent.h"
#include "platform/Text.h"
#include "stack/wclBlueSoleilApi.h"
#include "stack/wclBlueSoleilLink.h"
#include "stack/wclBluetoothAddress.h"
#include "stack/wclExceptions.h"
#include "stack/wclTypes.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

namespace kavri {

using namespace bluesoleil;

namespace {

constexpr Clock::Duration kWatchInterval{1000};

template <typename Function>
Function Resolve(const DynamicLibrary& library, const char* name) {
    return library.ResolveAs<Function>(name);
}

// Text of a fixed field: up to the first zero or the field's end; malformed
// UTF-8 from the stack becomes U+FFFD.
std::string FieldText(const std::uint8_t* field, std::size_t size) {
    const std::uint8_t* end = std::find(field, field + size, std::uint8_t{0});
    const std::string raw(reinterpret_cast<const char*>(field),
                          static_cast<std::size_t>(end - field));
    return ValidUtf8(raw);
}

void PutAddress(std::uint8_t* record, const std::string& address) {
    const AddressBytes reversed = AddressToReversedBytes(address);
    std::copy(reversed.begin(), reversed.end(), record + kAddressOffset);
}

std::string GetAddress(const std::uint8_t* record) {
    AddressBytes reversed{};
    std::copy(record + kAddressOffset, record + kAddressOffset + reversed.size(), reversed.begin());
    return ReversedBytesToAddress(reversed);
}

// How many whole records of recordSize a returned length stands for,
// rounded, and never more than the buffer holds.
std::size_t RecordCount(Dword byteLength, std::size_t recordSize, std::size_t bufferSize) {
    const std::size_t count = (static_cast<std::size_t>(byteLength) + recordSize / 2) / recordSize;
    return std::min(count, bufferSize / recordSize);
}

// A zeroed record with its size field set.
template <std::size_t Size>
std::array<std::uint8_t, Size> NewRecord() {
    std::array<std::uint8_t, Size> record{};
    WriteLe32(record.data(), Size);
    return record;
}

}  // namespace

// The loaded library and its entry points; immutable once loaded and shared
// by the watcher, running operations and open links.
struct TwclBlueSoleilLoader::Api {
    std::unique_ptr<DynamicLibrary> library;
    FnInitializeLibrary initializeLibrary = nullptr;
    FnUninitializeLibrary uninitializeLibrary = nullptr;
    FnIsBluetoothReady isBluetoothReady = nullptr;
    FnGetLocalDeviceInfo getLocalDeviceInfo = nullptr;
    FnSetLocalDeviceInfo setLocalDeviceInfo = nullptr;
    FnGetRemoteDeviceInfo getRemoteDeviceInfo = nullptr;
    FnPairDevice pairDevice = nullptr;
    FnUnpairDevice unpairDevice = nullptr;
    FnInquireDevices inquireDevices = nullptr;
    FnBrowseServices browseServices = nullptr;
    FnSearchSPPExServices searchSPPExServices = nullptr;
    FnConnectSPPExService connectSPPExService = nullptr;
    FnDisconnectSPPExService disconnectSPPExService = nullptr;
    FnRegisterCallback registerCallback = nullptr;
    FnUnregisterCallback unregisterCallback = nullptr;

    void ResolveAll() {
        const DynamicLibrary& lib = *library;
        initializeLibrary = Resolve<FnInitializeLibrary>(lib, "BT_InitializeLibrary");
        uninitializeLibrary = Resolve<FnUninitializeLibrary>(lib, "BT_UninitializeLibrary");
        isBluetoothReady = Resolve<FnIsBluetoothReady>(lib, "BT_IsBluetoothReady");
        getLocalDeviceInfo = Resolve<FnGetLocalDeviceInfo>(lib, "BT_GetLocalDeviceInfo");
        setLocalDeviceInfo = Resolve<FnSetLocalDeviceInfo>(lib, "BT_SetLocalDeviceInfo");
        getRemoteDeviceInfo = Resolve<FnGetRemoteDeviceInfo>(lib, "BT_GetRemoteDeviceInfo");
        pairDevice = Resolve<FnPairDevice>(lib, "BT_PairDevice");
        unpairDevice = Resolve<FnUnpairDevice>(lib, "BT_UnpairDevice");
        inquireDevices = Resolve<FnInquireDevices>(lib, "BT_InquireDevices");
        browseServices = Resolve<FnBrowseServices>(lib, "BT_BrowseServices");
        searchSPPExServices = Resolve<FnSearchSPPExServices>(lib, "BT_SearchSPPExServices");
        connectSPPExService = Resolve<FnConnectSPPExService>(lib, "BT_ConnectSPPExService");
        disconnectSPPExService =
            Resolve<FnDisconnectSPPExService>(lib, "BT_DisconnectSPPExService");
        registerCallback = Resolve<FnRegisterCallback>(lib, "BT_RegisterCallback");
        unregisterCallback = Resolve<FnUnregisterCallback>(lib, "BT_UnregisterCallback");
    }

    bool InitializeLibrary() const {
        return initializeLibrary != nullptr && initializeLibrary() != 0;
    }
    void UninitializeLibrary() const {
        if (uninitializeLibrary != nullptr) {
            uninitializeLibrary();
        }
    }
    bool IsBluetoothReady() const { return isBluetoothReady != nullptr && isBluetoothReady() != 0; }
    Dword GetLocalDeviceInfo(Dword mask, std::uint8_t* record) const {
        return getLocalDeviceInfo == nullptr ? kMissingEntryPoint
                                             : getLocalDeviceInfo(mask, record);
    }
    Dword SetLocalDeviceInfo(Dword mask, const std::uint8_t* record) const {
        return setLocalDeviceInfo == nullptr ? kMissingEntryPoint
                                             : setLocalDeviceInfo(mask, record);
    }
    Dword GetRemoteDeviceInfo(Dword mask, std::uint8_t* record) const {
        return getRemoteDeviceInfo == nullptr ? kMissingEntryPoint
                                              : getRemoteDeviceInfo(mask, record);
    }
    Dword InquireDevices(Dword* byteLength, std::uint8_t* records) const {
        return inquireDevices == nullptr
                   ? kMissingEntryPoint
                   : inquireDevices(kInquiryMode, kInquiryLength, byteLength, records);
    }
    Dword BrowseServices(const std::uint8_t* device, Dword* byteLength,
                         std::uint8_t* records) const {
        return browseServices == nullptr ? kMissingEntryPoint
                                         : browseServices(device, 1, byteLength, records);
    }
    Dword SearchSPPExServices(const std::uint8_t* device, Dword* byteLength,
                              std::uint8_t* records) const {
        return searchSPPExServices == nullptr ? kMissingEntryPoint
                                              : searchSPPExServices(device, byteLength, records);
    }
    Dword RegisterCallback(std::uint8_t event, ConnectionCallback callback) const {
        return registerCallback == nullptr ? kMissingEntryPoint : registerCallback(event, callback);
    }
    Dword UnregisterCallback(std::uint8_t event) const {
        return unregisterCallback == nullptr ? kMissingEntryPoint : unregisterCallback(event);
    }

    // The device information record of a remote device, read with mask.
    std::array<std::uint8_t, kDeviceInfoRecordSize> RemoteInfo(const std::string& address,
                                                               Dword mask, bool forName) const {
        auto record = NewRecord<kDeviceInfoRecordSize>();
        PutAddress(record.data(), address);
        if (GetRemoteDeviceInfo(mask, record.data()) != kSuccess) {
            if (forName) {
                throw wclERemoteDeviceNameReadError();
            }
            throw wclERemoteClassOfDeviceReadError();
        }
        return record;
    }

    // The serial-port-profile service of that class on the device, if the
    // stack finds one.
    std::optional<wclServiceInfo> SearchService(const std::uint8_t* device,
                                                const GUID& serviceClass) const {
        auto search = NewRecord<kServiceRecordSize>();
        std::memcpy(search.data() + kServiceUuidOffset, &serviceClass, sizeof serviceClass);
        Dword length = kServiceRecordSize;
        if (SearchSPPExServices(device, &length, search.data()) != kSuccess) {
            return std::nullopt;
        }
        wclServiceInfo service;
        service.UUID = serviceClass;
        service.Channel = search[kServiceChannelOffset];
        service.Name = FieldText(search.data() + kServiceNameOffset, kServiceNameSize);
        return service;
    }
};

namespace {

const TwclBlueSoleilLoader::Api& NoApi() {
    static const TwclBlueSoleilLoader::Api api;
    return api;
}

}  // namespace

TwclBlueSoleilLoader::TwclBlueSoleilLoader(const Clock& clock) : m_clock(clock) {}

TwclBlueSoleilLoader::~TwclBlueSoleilLoader() {
    Unload();
}

bool TwclBlueSoleilLoader::Load(const MessageWindowHandle& managerWindow) {
    std::lock_guard lock(m_mutex);
    if (m_api != nullptr) {
        return m_api->IsBluetoothReady();
    }
    auto api = std::make_shared<Api>();
    api->library = DynamicLibrary::Load(kLibraryName);
    if (api->library == nullptr) {
        return false;
    }
    api->ResolveAll();
    if (!api->InitializeLibrary()) {
        return false;
    }
    std::shared_ptr<const Api> loaded = std::move(api);
    const bool ready = loaded->IsBluetoothReady();
    loaded->RegisterCallback(kConnectionStatusEvent, &wclBlueSoleilHandleTable::ConnectionCallback);
    m_watcher = std::make_unique<PollingWatcher>(
        m_clock, kWatchInterval, ready, [loaded] { return loaded->IsBluetoothReady(); },
        [managerWindow](bool nowReady) {
            PostMessage(managerWindow,
                        nowReady ? wclMsg::kBlueSoleilReady : wclMsg::kBlueSoleilNotReady);
        });
    m_api = std::move(loaded);
    return ready;
}

void TwclBlueSoleilLoader::Unload() {
    std::unique_ptr<PollingWatcher> watcher;
    std::shared_ptr<const Api> api;
    {
        std::lock_guard lock(m_mutex);
        watcher = std::move(m_watcher);
        api = std::move(m_api);
    }
    if (api == nullptr) {
        return;
    }
    api->UnregisterCallback(kConnectionStatusEvent);
    if (watcher != nullptr) {
        watcher->Stop();
    }
    api->UninitializeLibrary();
    // The library itself goes with the last operation or link that holds it.
}

bool TwclBlueSoleilLoader::IsLoaded() const {
    std::lock_guard lock(m_mutex);
    return m_api != nullptr;
}

std::shared_ptr<const TwclBlueSoleilLoader::Api> TwclBlueSoleilLoader::CurrentApi() const {
    std::lock_guard lock(m_mutex);
    return m_api;
}

std::uint64_t TwclBlueSoleilLoader::ReadRadioAddress() {
    const auto loaded = CurrentApi();
    const Api& api = loaded ? *loaded : NoApi();
    auto record = NewRecord<kDeviceInfoRecordSize>();
    if (api.GetLocalDeviceInfo(kMaskAddress, record.data()) != kSuccess) {
        throw wclERadioAddressReadError();
    }
    return AddressToUInt64(GetAddress(record.data()));
}

void TwclBlueSoleilLoader::WriteRadioName(const std::string& name) {
    const auto loaded = CurrentApi();
    const Api& api = loaded ? *loaded : NoApi();
    auto record = NewRecord<kDeviceRecordSize>();
    // At most the field's 64 bytes, cut between characters.
    const std::string_view fitted = TruncateUtf8(name, kNameSize);
    std::memcpy(record.data() + kNameOffset, fitted.data(), fitted.size());
    if (api.SetLocalDeviceInfo(kMaskName, record.data()) != kSuccess) {
        throw wclERadoNameWriteError();
    }
}

std::optional<std::vector<std::string>> TwclBlueSoleilLoader::Inquiry() {
    const auto loaded = CurrentApi();
    const Api& api = loaded ? *loaded : NoApi();
    std::vector<std::uint8_t> buffer(kInquiryBufferSize, 0);
    WriteLe32(buffer.data(), kDeviceRecordSize);
    Dword length = kInquiryBufferSize;
    if (api.InquireDevices(&length, buffer.data()) != kSuccess) {
        return std::nullopt;
    }
    const std::size_t count = RecordCount(length, kDeviceRecordSize, kInquiryBufferSize);
    std::vector<std::string> addresses;
    addresses.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        addresses.push_back(GetAddress(buffer.data() + i * kDeviceRecordSize));
    }
    return addresses;
}

std::string TwclBlueSoleilLoader::ReadRemoteName(const std::string& address) {
    const auto loaded = CurrentApi();
    const auto record = (loaded ? *loaded : NoApi()).RemoteInfo(address, kMaskName, true);
    return FieldText(record.data() + kNameOffset, kNameSize);
}

std::uint32_t TwclBlueSoleilLoader::ReadRemoteClassOfDevice(const std::string& address) {
    const auto loaded = CurrentApi();
    const auto record = (loaded ? *loaded : NoApi()).RemoteInfo(address, kMaskClass, false);
    const std::uint8_t* cod = record.data() + kClassOffset;
    return static_cast<std::uint32_t>(cod[0]) | static_cast<std::uint32_t>(cod[1]) << 8 |
           static_cast<std::uint32_t>(cod[2]) << 16;
}

std::vector<wclServiceInfo> TwclBlueSoleilLoader::EnumServices(
    const std::string& address, const std::optional<GUID>& serviceClass) {
    const auto loaded = CurrentApi();
    const Api& api = loaded ? *loaded : NoApi();
    auto device = NewRecord<kDeviceRecordSize>();
    PutAddress(device.data(), address);

    if (serviceClass) {
        std::optional<wclServiceInfo> service = api.SearchService(device.data(), *serviceClass);
        if (!service) {
            throw wclEEnumServices();
        }
        // A channel of 32 or more is no RFCOMM channel: the stack found nothing usable.
        if (service->Channel >= 32) {
            return {};
        }
        return {*service};
    }

    std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[kBrowseBufferSize]);
    if (buffer == nullptr) {
        throw wclEEnumServices();
    }
    std::memset(buffer.get(), 0, kBrowseBufferSize);
    WriteLe32(buffer.get(), kBrowseRecordSize);
    Dword length = kBrowseBufferSize;
    if (api.BrowseServices(device.data(), &length, buffer.get()) != kSuccess) {
        throw wclEEnumServices();
    }
    std::vector<wclServiceInfo> services;
    const std::size_t count = RecordCount(length, kBrowseRecordSize, kBrowseBufferSize);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* record = buffer.get() + i * kBrowseRecordSize;
        const std::uint16_t classValue = static_cast<std::uint16_t>(
            record[kBrowseClassOffset] | record[kBrowseClassOffset + 1] << 8);
        // Only serial-port-profile services are found by the search.
        std::optional<wclServiceInfo> service =
            api.SearchService(device.data(), Uuid16ToGuid(classValue));
        if (!service || service->Channel >= 32) {
            continue;
        }
        service->Name = FieldText(record + kBrowseNameOffset, kBrowseNameSize);
        services.push_back(std::move(*service));
    }
    return services;
}

std::unique_ptr<wclConnectionBackend> TwclBlueSoleilLoader::OpenLink(
    EventLoop& loop, const wclBluetoothLinkRequest& request, wclLinkEvents events) {
    const auto loaded = CurrentApi();
    if (loaded == nullptr) {
        throw wclEUnableConnect();
    }
    wclBlueSoleilCalls calls;
    calls.library = loaded;
    calls.connect = loaded->connectSPPExService;
    calls.disconnect = loaded->disconnectSPPExService;
    calls.getRemoteDeviceInfo = loaded->getRemoteDeviceInfo;
    return wclBlueSoleilLink::Open(loop, request, std::move(events), std::move(calls));
}

}  // namespace kavri
