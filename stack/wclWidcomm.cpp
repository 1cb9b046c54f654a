#include "stack/wclWidcomm.h"

#include "platform/DynamicLibrary.h"
#include "platform/Text.h"
#include "stack/wclBluetoothAddress.h"
#include "stack/wclExceptions.h"
#include "stack/wclWidcommApi.h"
#include "stack/wclWidcommLink.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace kavri {

using namespace widcomm;

namespace {

// Where an empty adapter stands in when nothing is loaded: every wrapper then
// fails, and each operation raises its error.
const Api& NoApi() {
    static const Api api;
    return api;
}

// Whether a library of that name is there; it is freed again at once.
bool LibraryExists(const std::string& name) {
    return DynamicLibrary::Load(name) != nullptr;
}

std::unique_ptr<Api> LoadAdapter() {
    // Without the stack's own library the adapter would have nothing to talk to.
    if (!LibraryExists("wbtapi.dll"))
        return nullptr;
    auto api = std::make_unique<Api>();
    api->libraryName = "wcl2btwnr.dll";
    api->library = DynamicLibrary::Load(api->libraryName);
    if (api->library == nullptr && LibraryExists("btwapi.dll")) {
        api->libraryName = "wcl2btw.dll";
        api->library = DynamicLibrary::Load(api->libraryName);
    }
    if (api->library == nullptr)
        return nullptr;
    api->Resolve();
    return api;
}

}  // namespace

TwclWidComLoader::TwclWidComLoader(const Clock&) {}

TwclWidComLoader::~TwclWidComLoader() {
    Unload();
}

bool TwclWidComLoader::Load(const MessageWindowHandle& managerWindow) {
    std::lock_guard lock(m_mutex);
    if (m_api != nullptr)
        return m_api->IsDeviceReady();
    std::unique_ptr<Api> api = LoadAdapter();
    if (api == nullptr || !api->Load(managerWindow))
        return false;
    m_api = std::move(api);
    return m_api->IsDeviceReady();
}

void TwclWidComLoader::Unload() {
    std::shared_ptr<const Api> api;
    {
        std::lock_guard lock(m_mutex);
        api = std::move(m_api);
    }
    // The adapter stops its watcher; operations and links still running
    // keep the library itself until they end.
    if (api != nullptr)
        api->Unload();
}

bool TwclWidComLoader::IsLoaded() const {
    std::lock_guard lock(m_mutex);
    return m_api != nullptr;
}

std::shared_ptr<const Api> TwclWidComLoader::CurrentApi() const {
    std::lock_guard lock(m_mutex);
    return m_api;
}

bool TwclWidComLoader::IsRadioPresent() const {
    const auto api = CurrentApi();
    return (api ? *api : NoApi()).IsDeviceReady();
}

std::string TwclWidComLoader::LibraryName() const {
    const auto api = CurrentApi();
    return api ? api->libraryName : std::string();
}

std::uint64_t TwclWidComLoader::ReadRadioAddress() {
    const auto loaded = CurrentApi();
    const Api& api = loaded ? *loaded : NoApi();
    if (!api.IsDeviceReady())
        throw wclEGetRadioHandle();
    AddressBytes address{};
    if (!api.GetLocalDeviceAddress(address.data()))
        throw wclERadioAddressReadError();
    return AddressToUInt64(BytesToAddress(address));
}

void TwclWidComLoader::WriteRadioName(const std::string& name) {
    const auto loaded = CurrentApi();
    const Api& api = loaded ? *loaded : NoApi();
    if (!api.IsDeviceReady())
        throw wclEGetRadioHandle();
    // A name longer than the field is cut at a character boundary; the field
    // is zeroed so the stack finds its end.
    BYTE field[kNameFieldBytes] = {};
    const std::string_view cut = TruncateUtf8(name, kNameFieldBytes);
    std::memcpy(field, cut.data(), cut.size());
    if (!api.SetLocalDeviceName(field))
        throw wclERadoNameWriteError();
}

std::optional<std::vector<std::string>> TwclWidComLoader::Inquiry() {
    const auto loaded = CurrentApi();
    const Api& api = loaded ? *loaded : NoApi();
    std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[kInquiryBufferBytes]());
    if (buffer == nullptr ||
        !api.EnumDevices(buffer.get(), static_cast<DWORD>(kInquiryBufferBytes)))
        return std::nullopt;
    std::uint32_t claimed = 0;
    std::memcpy(&claimed, buffer.get(), sizeof claimed);
    const std::size_t count = std::min<std::size_t>(claimed, kMaxInquiryAddresses);
    std::vector<std::string> addresses;
    addresses.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        AddressBytes address{};
        std::memcpy(address.data(), buffer.get() + 4 + i * kAddressBytes, kAddressBytes);
        addresses.push_back(BytesToAddress(address));
    }
    return addresses;
}

std::string TwclWidComLoader::ReadRemoteName(const std::string& address) {
    const auto loaded = CurrentApi();
    const Api& api = loaded ? *loaded : NoApi();
    const AddressBytes bytes = AddressToBytes(address);
    BYTE field[kNameFieldBytes] = {};
    if (!api.GetDeviceName(bytes.data(), field))
        throw wclERemoteDeviceNameReadError();
    return FieldText(field, sizeof field);
}

std::uint32_t TwclWidComLoader::ReadRemoteClassOfDevice(const std::string& address) {
    const auto loaded = CurrentApi();
    const Api& api = loaded ? *loaded : NoApi();
    const AddressBytes bytes = AddressToBytes(address);
    BYTE cod[kClassBytes] = {};
    if (!api.GetDeviceCOD(bytes.data(), cod))
        throw wclERemoteClassOfDeviceReadError();
    // Most significant byte first.
    return static_cast<std::uint32_t>(cod[0]) << 16 | static_cast<std::uint32_t>(cod[1]) << 8 |
           cod[2];
}

std::vector<wclServiceInfo> TwclWidComLoader::EnumServices(
    const std::string& address, const std::optional<GUID>& serviceClass) {
    const auto loaded = CurrentApi();
    return widcomm::EnumServices(loaded ? *loaded : NoApi(), address, serviceClass);
}

std::unique_ptr<wclConnectionBackend> TwclWidComLoader::OpenLink(
    EventLoop& loop, const wclBluetoothLinkRequest& request, wclLinkEvents events) {
    const auto api = CurrentApi();
    if (api == nullptr)
        throw wclEUnableConnect();
    return wclWidcommLink::Open(loop, api, request, std::move(events));
}

}  // namespace kavri
