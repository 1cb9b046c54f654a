#include "stack/wclWidcommApi.h"

#include "platform/DynamicLibrary.h"
#include "platform/Text.h"
#include "stack/wclBluetoothAddress.h"
#include "stack/wclExceptions.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace kavri::widcomm {
namespace {

constexpr DWORD kOpenFailed = 1;
constexpr DWORD kAllOnes = 0xFFFFFFFFu;

template <typename Function>
Function Resolved(const DynamicLibrary* library, const char* name) {
    return library == nullptr ? nullptr : library->ResolveAs<Function>(name);
}

std::uint32_t ReadU32(const BYTE* p) {
    std::uint32_t value = 0;
    std::memcpy(&value, p, sizeof value);
    return value;
}

}  // namespace

std::string FieldText(const BYTE* field, std::size_t size) {
    const BYTE* end = std::find(field, field + size, BYTE{0});
    const std::string_view raw(reinterpret_cast<const char*>(field),
                               static_cast<std::size_t>(end - field));
    return ValidUtf8(raw);
}

Api::Api() = default;
Api::~Api() = default;

void Api::Resolve() {
    const DynamicLibrary* lib = library.get();
    load = Resolved<PFN_WD_Load>(lib, "WD_Load");
    unload = Resolved<PFN_WD_Unload>(lib, "WD_Unload");
    isDeviceReady = Resolved<PFN_WD_IsDeviceReady>(lib, "WD_IsDeviceReady");
    setLocalDeviceName = Resolved<PFN_WD_SetLocalDeviceName>(lib, "WD_SetLocalDeviceName");
    getLocalDeviceName = Resolved<PFN_WD_GetLocalDeviceName>(lib, "WD_GetLocalDeviceName");
    getLocalDeviceAddress = Resolved<PFN_WD_GetLocalDeviceAddress>(lib, "WD_GetLocalDeviceAddress");
    enumDevices = Resolved<PFN_WD_EnumDevices>(lib, "WD_EnumDevices");
    getDeviceName = Resolved<PFN_WD_GetDeviceName>(lib, "WD_GetDeviceName");
    getDeviceCOD = Resolved<PFN_WD_GetDeviceCOD>(lib, "WD_GetDeviceCOD");
    enumServices = Resolved<PFN_WD_EnumServices>(lib, "WD_EnumServices");
    getPaired = Resolved<PFN_WD_GetPaired>(lib, "WD_GetPaired");
    pair = Resolved<PFN_WD_Pair>(lib, "WD_Pair");
    unpair = Resolved<PFN_WD_Unpair>(lib, "WD_Unpair");
    createClient = Resolved<PFN_WD_CreateRfCommClient>(lib, "WD_CreateRfCommClient");
    destroyClient = Resolved<PFN_WD_DestroyRfCommClient>(lib, "WD_DestroyRfCommClient");
    openClient = Resolved<PFN_WD_OpenRfCommClient>(lib, "WD_OpenRfCommClient");
    closeClient = Resolved<PFN_WD_CloseRfCommClient>(lib, "WD_CloseRfCommClient");
    writeClient = Resolved<PFN_WD_WriteRfCommClient>(lib, "WD_WriteRfCommClient");
    isClientConnected = Resolved<PFN_WD_IsRfCommClientConnected>(lib, "WD_IsRfCommClientConnected");
    clientSignalLevel =
        Resolved<PFN_WD_GetRfCommClientSignalLevel>(lib, "WD_GetRfCommClientSignalLevel");
}

std::size_t Api::ResolvedCount() const {
    const void* const slots[] = {
        reinterpret_cast<const void*>(load),
        reinterpret_cast<const void*>(unload),
        reinterpret_cast<const void*>(isDeviceReady),
        reinterpret_cast<const void*>(setLocalDeviceName),
        reinterpret_cast<const void*>(getLocalDeviceName),
        reinterpret_cast<const void*>(getLocalDeviceAddress),
        reinterpret_cast<const void*>(enumDevices),
        reinterpret_cast<const void*>(getDeviceName),
        reinterpret_cast<const void*>(getDeviceCOD),
        reinterpret_cast<const void*>(enumServices),
        reinterpret_cast<const void*>(getPaired),
        reinterpret_cast<const void*>(pair),
        reinterpret_cast<const void*>(unpair),
        reinterpret_cast<const void*>(createClient),
        reinterpret_cast<const void*>(destroyClient),
        reinterpret_cast<const void*>(openClient),
        reinterpret_cast<const void*>(closeClient),
        reinterpret_cast<const void*>(writeClient),
        reinterpret_cast<const void*>(isClientConnected),
        reinterpret_cast<const void*>(clientSignalLevel),
    };
    return static_cast<std::size_t>(
        std::count_if(std::begin(slots), std::end(slots), [](const void* p) { return p; }));
}

bool Api::Load(const MessageWindowHandle& window) const {
    return load != nullptr && load(ToHwnd(window), kRadioGone, kRadioReady) != 0;
}

void Api::Unload() const {
    if (unload != nullptr)
        unload();
}

bool Api::IsDeviceReady() const {
    return isDeviceReady != nullptr && isDeviceReady() != 0;
}

bool Api::SetLocalDeviceName(const BYTE* name) const {
    return setLocalDeviceName != nullptr && setLocalDeviceName(name) != 0;
}

bool Api::GetLocalDeviceAddress(BYTE* address) const {
    return getLocalDeviceAddress != nullptr && getLocalDeviceAddress(address) != 0;
}

bool Api::EnumDevices(BYTE* buffer, DWORD size) const {
    return enumDevices != nullptr && enumDevices(buffer, size) != 0;
}

bool Api::GetDeviceName(const BYTE* address, BYTE* name) const {
    return getDeviceName != nullptr && getDeviceName(address, name) != 0;
}

bool Api::GetDeviceCOD(const BYTE* address, BYTE* classBytes) const {
    return getDeviceCOD != nullptr && getDeviceCOD(address, classBytes) != 0;
}

bool Api::EnumServices(const BYTE* address, const GUID* serviceClass, BYTE* buffer) const {
    return enumServices != nullptr && enumServices(address, serviceClass, buffer) != 0;
}

void* Api::CreateClient(const MessageWindowHandle& window) const {
    return createClient == nullptr
               ? nullptr
               : createClient(ToHwnd(window), kClientConnected, kClientData, kClientClosed);
}

void Api::DestroyClient(void* client) const {
    if (destroyClient != nullptr)
        destroyClient(client);
}

DWORD Api::OpenClient(void* client, const BYTE* address, BYTE channel, const GUID& serviceClass,
                      bool authentication, bool encryption, const std::string& serviceName) const {
    if (openClient == nullptr)
        return kOpenFailed;
    // The GUID travels as four 32-bit values in its memory layout.
    DWORD words[4] = {};
    static_assert(sizeof words == sizeof(GUID));
    std::memcpy(words, &serviceClass, sizeof words);
    return openClient(client, address, channel, words[0], words[1], words[2], words[3],
                      authentication ? kAllOnes : 0, encryption ? kAllOnes : 0,
                      serviceName.c_str());
}

DWORD Api::CloseClient(void* client) const {
    return closeClient == nullptr ? kOpenFailed : closeClient(client);
}

DWORD Api::WriteClient(void* client, const BYTE* data, WORD length, WORD* written) const {
    return writeClient == nullptr ? kOpenFailed : writeClient(client, data, length, written);
}

bool Api::IsClientConnected(void* client, BYTE* address) const {
    return isClientConnected != nullptr && isClientConnected(client, address) != 0;
}

bool Api::ClientSignalLevel(void* client, BYTE* level) const {
    return clientSignalLevel != nullptr && clientSignalLevel(client, level) != 0;
}

std::vector<wclServiceInfo> EnumServices(const Api& api, const std::string& address,
                                         const std::optional<GUID>& serviceClass) {
    const AddressBytes bytes = AddressToBytes(address);
    std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[kServiceBufferBytes]());
    if (buffer == nullptr)
        throw wclEEnumServices();
    if (!api.EnumServices(bytes.data(), serviceClass ? &*serviceClass : nullptr, buffer.get()))
        throw wclEEnumServices();
    // The count is the stack's word: never more records than the buffer holds.
    const std::size_t count = std::min<std::size_t>(ReadU32(buffer.get()), kMaxServiceRecords);
    std::vector<wclServiceInfo> services;
    services.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const BYTE* record = buffer.get() + 4 + i * kServiceRecordBytes;
        wclServiceInfo service;
        service.Channel = record[0];
        service.Name = FieldText(record + kServiceNameOffset, kServiceNameBytes);
        std::memcpy(&service.UUID, record + kServiceUuidOffset, sizeof(GUID));
        services.push_back(std::move(service));
    }
    return services;
}

}  // namespace kavri::widcomm
