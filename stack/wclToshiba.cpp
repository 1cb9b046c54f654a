#include "stack/wclToshiba.h"

#include "platform/DynamicLibrary.h"
#include "platform/PollEventLoop.h"
#include "platform/Text.h"
#include "stack/wclBluetoothAddress.h"
#include "stack/wclExceptions.h"
#include "stack/wclToshibaApi.h"
#include "stack/wclToshibaLink.h"
#include "stack/wclTypes.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <future>
#include <thread>

namespace kavri {

using namespace toshiba;

namespace {

// How long an operation waits for its end code on the binding's clock, and
// how many of its messages it takes at most: a stack that never ends one must
// not hold the caller for ever.
constexpr Clock::Duration kWaitLimit{60000};
constexpr std::size_t kMaxCompletionMessages = 1000;
// Bounds on what the stack's lists may claim.
constexpr std::size_t kMaxDevices = 10000;
constexpr std::size_t kMaxServices = 1000;

std::string FieldText(const std::uint8_t* field, std::size_t size) {
    const std::uint8_t* end = std::find(field, field + size, std::uint8_t{0});
    const std::string raw(reinterpret_cast<const char*>(field),
                          static_cast<std::size_t>(end - field));
    return ValidUtf8(raw);
}

AddressBytes6 ToStackAddress(const std::string& address) {
    const AddressBytes bytes = AddressToBytes(address);
    AddressBytes6 out{};
    std::copy(bytes.begin(), bytes.end(), out.begin());
    return out;
}

std::string FromStackAddress(const std::uint8_t* bytes) {
    AddressBytes address{};
    std::copy(bytes, bytes + address.size(), address.begin());
    return BytesToAddress(address);
}

std::array<std::uint8_t, 16> GuidToBigEndian(const GUID& guid) {
    std::array<std::uint8_t, 16> out{};
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<std::uint8_t>(guid.Data1 >> (24 - 8 * i));
    }
    out[4] = static_cast<std::uint8_t>(guid.Data2 >> 8);
    out[5] = static_cast<std::uint8_t>(guid.Data2);
    out[6] = static_cast<std::uint8_t>(guid.Data3 >> 8);
    out[7] = static_cast<std::uint8_t>(guid.Data3);
    std::copy(std::begin(guid.Data4), std::end(guid.Data4), out.begin() + 8);
    return out;
}

GUID GuidFromBigEndian(const std::uint8_t* b) {
    GUID guid{};
    guid.Data1 = static_cast<std::uint32_t>(b[0]) << 24 | static_cast<std::uint32_t>(b[1]) << 16 |
                 static_cast<std::uint32_t>(b[2]) << 8 | b[3];
    guid.Data2 = static_cast<std::uint16_t>(b[4] << 8 | b[5]);
    guid.Data3 = static_cast<std::uint16_t>(b[6] << 8 | b[7]);
    std::copy(b + 8, b + 16, std::begin(guid.Data4));
    return guid;
}

// One operation that the stack completes by message: a window on a loop of
// the calling thread is the stack's target, and its messages are pumped
// until the end code. A failure code before it marks the operation failed.
class CompletionWait {
public:
    CompletionWait(const Clock& clock, std::uint32_t message, Dword failure, Dword end)
        : m_message(message),
          m_failure(failure),
          m_end(end),
          m_loop(clock),
          m_window(m_loop,
                   [this](const Message& m) {
                       if (m.Msg != m_message) {
                           return;
                       }
                       if (m.WParam == m_failure) {
                           m_failed = true;
                       } else if (m.WParam == m_end) {
                           m_ended = true;
                       }
                   }),
          m_handle(m_window.Handle()) {}

    Window Target() const { return &m_handle; }
    std::uint32_t MessageNumber() const { return m_message; }

    // True when the end code came and no failure code before it.
    bool Succeeded() {
        for (std::size_t i = 0; !m_ended && i < kMaxCompletionMessages; ++i) {
            if (!PumpMessagesUntil(m_handle, m_message, kWaitLimit)) {
                return false;
            }
        }
        return m_ended && !m_failed;
    }

private:
    std::uint32_t m_message;
    Dword m_failure;
    Dword m_end;
    bool m_failed = false;
    bool m_ended = false;
    PollEventLoop m_loop;
    MessageWindow m_window;
    MessageWindowHandle m_handle;
};

// Runs a release on scope exit.
template <typename Release>
class Releaser {
public:
    explicit Releaser(Release release) : m_release(std::move(release)) {}
    ~Releaser() { m_release(); }
    Releaser(const Releaser&) = delete;
    Releaser& operator=(const Releaser&) = delete;

private:
    Release m_release;
};

}  // namespace

struct TwclToshibaLoader::Api {
    std::unique_ptr<DynamicLibrary> library;
    FnOpenAPI openApi = nullptr;
    FnCloseAPI closeApi = nullptr;
    FnNotifyEvent notifyEvent = nullptr;
    FnGetLocalInfo2 getLocalInfo2 = nullptr;
    FnSetLocalDeviceName setLocalDeviceName = nullptr;
    FnGetRemoteClassOfDevice getRemoteClassOfDevice = nullptr;
    FnGetRemoteName getRemoteName = nullptr;
    FnDiscoverRemoteDevice2 discoverRemoteDevice2 = nullptr;
    FnMemFree memFree = nullptr;
    FnMakeServiceSearchPattern2 makeServiceSearchPattern2 = nullptr;
    FnMakeAttributeIDList2 makeAttributeIDList2 = nullptr;
    FnConnectSDP connectSdp = nullptr;
    FnServiceSearchAttribute2 serviceSearchAttribute2 = nullptr;
    FnDisconnectSDP disconnectSdp = nullptr;
    FnAnalyzeServiceAttributeLists2 analyzeServiceAttributeLists2 = nullptr;
    FnAnalyzeProtocolParameter2 analyzeProtocolParameter2 = nullptr;
    FnFreeAnalyzedAttrList2 freeAnalyzedAttrList2 = nullptr;
    FnCreateCOMM createComm = nullptr;
    FnDestroyCOMM destroyComm = nullptr;
    FnConnectCOMM2 connectComm2 = nullptr;
    FnDisconnectCOMM disconnectComm = nullptr;
    FnNotifyCOMM notifyComm = nullptr;
    FnGetConnectionHandle getConnectionHandle = nullptr;
    FnGetLinkQuality getLinkQuality = nullptr;
    // Resolved only.
    std::vector<void*> unused;

    template <typename Function>
    void Get(Function& slot, const char* name) {
        slot = library->ResolveAs<Function>(name);
    }

    void ResolveAll() {
        Get(openApi, "BtOpenAPI");
        Get(closeApi, "BtCloseAPI");
        Get(notifyEvent, "BtNotifyEvent");
        Get(getLocalInfo2, "BtGetLocalInfo2");
        Get(setLocalDeviceName, "BtSetLocalDeviceName");
        Get(getRemoteClassOfDevice, "BtGetRemoteClassOfDevice");
        Get(getRemoteName, "BtGetRemoteName");
        Get(discoverRemoteDevice2, "BtDiscoverRemoteDevice2");
        Get(memFree, "BtMemFree");
        Get(makeServiceSearchPattern2, "BtMakeServiceSearchPattern2");
        Get(makeAttributeIDList2, "BtMakeAttributeIDList2");
        Get(connectSdp, "BtConnectSDP");
        Get(serviceSearchAttribute2, "BtServiceSearchAttribute2");
        Get(disconnectSdp, "BtDisconnectSDP");
        Get(analyzeServiceAttributeLists2, "BtAnalyzeServiceAttributeLists2");
        Get(analyzeProtocolParameter2, "BtAnalyzeProtocolParameter2");
        Get(freeAnalyzedAttrList2, "BtFreePBTANALYZEDATTRLIST2");
        Get(createComm, "BtCreateCOMM");
        Get(destroyComm, "BtDestroyCOMM");
        Get(connectComm2, "BtConnectCOMM2");
        Get(disconnectComm, "BtDisconnectCOMM");
        Get(notifyComm, "BtNotifyCOMM");
        Get(getConnectionHandle, "BtGetConnectionHandle");
        Get(getLinkQuality, "BtGetLinkQuality");
        for (const char* name :
             {"BtGetConnectabilityMode", "BtGetDiscoverabilityMode", "BtGetLocalDeviceName",
              "BtSetAutoReplyPinCode", "BtClearAutoReplyPinCode", "BtGetRemoteDeviceList2",
              "BtDeleteLinkKey", "BtSetIOCapabilityResponse", "_BtClearIOCapabilityResponse",
              "BtConnect", "BtDisconnect"}) {
            unused.push_back(library->Resolve(name));
        }
    }

    bool OpenApi(Window window) const {
        Long status = 0;
        return openApi != nullptr && openApi(window, kApplicationName, &status) != 0;
    }
    void CloseApi() const {
        Long status = 0;
        if (closeApi != nullptr) {
            closeApi(&status);
        }
    }
    bool NotifyEvent(Dword mask, Window window, std::uint32_t message) const {
        Long status = 0;
        return notifyEvent != nullptr && notifyEvent(mask, &status, window, message) != 0;
    }
    bool GetLocalInfo(std::uint8_t* info) const {
        Long status = 0;
        return getLocalInfo2 != nullptr && getLocalInfo2(info, &status) != 0;
    }
    void MemFree(void* memory) const {
        if (memory != nullptr && memFree != nullptr) {
            memFree(memory);
        }
    }

    std::vector<wclServiceInfo> EnumServices(const Clock& clock, const std::string& address,
                                             const std::optional<GUID>& serviceClass) const;
    wclServiceInfo ReadAnalyzedRecord(const std::uint8_t* record) const;
};

wclServiceInfo TwclToshibaLoader::Api::ReadAnalyzedRecord(const std::uint8_t* record) const {
    wclServiceInfo service;
    const Dword flags = ReadLe32(record);
    if ((flags & kHasClass) != 0) {
        const std::uint8_t* uuid = record + kClassOffset;
        switch (record[kClassSizeOffset]) {
            case 2:
                service.UUID = Uuid16ToGuid(static_cast<std::uint16_t>(uuid[2] << 8 | uuid[3]));
                break;
            case 4:
                service.UUID = Uuid32ToGuid(static_cast<std::uint32_t>(uuid[0]) << 24 |
                                            static_cast<std::uint32_t>(uuid[1]) << 16 |
                                            static_cast<std::uint32_t>(uuid[2]) << 8 | uuid[3]);
                break;
            case 16:
                service.UUID = GuidFromBigEndian(uuid);
                break;
            default:
                break;
        }
    }
    if ((flags & kHasName) != 0) {
        const std::size_t length =
            std::min<std::size_t>(ReadLe16(record + kNameLengthOffset), kTextFieldSize);
        service.Name = FieldText(record + kNameOffset, length);
    }
    if ((flags & kHasDescription) != 0) {
        const std::size_t length =
            std::min<std::size_t>(ReadLe16(record + kDescriptionLengthOffset), kTextFieldSize);
        service.Comment = FieldText(record + kDescriptionOffset, length);
    }
    if ((flags & kHasProtocols) != 0 && analyzeProtocolParameter2 != nullptr) {
        const std::size_t count =
            std::min<std::size_t>(record[kProtocolCountOffset], kMaxProtocols);
        for (std::size_t i = 0; i < count; ++i) {
            std::array<std::uint8_t, kProtocolParameterSize> parameter{};
            Long status = 0;
            if (analyzeProtocolParameter2(record + kProtocolOffset + i * kProtocolEntrySize,
                                          parameter.data(), &status) == 0) {
                continue;
            }
            // A channel of 32 or more is no RFCOMM channel: look on.
            if (parameter[16] == kParameterServerChannel && parameter[17] < 32) {
                service.Channel = parameter[17];
                break;
            }
        }
    }
    return service;
}

std::vector<wclServiceInfo> TwclToshibaLoader::Api::EnumServices(
    const Clock& clock, const std::string& address, const std::optional<GUID>& serviceClass) const {
    const AddressBytes6 device = ToStackAddress(address);
    const std::array<std::uint8_t, 16> uuid =
        GuidToBigEndian(serviceClass.value_or(L2CAPProtocolUUID));
    Long status = 0;

    void* pattern = nullptr;
    if (makeServiceSearchPattern2 == nullptr ||
        makeServiceSearchPattern2(uuid.data(), 1, &pattern, &status) == 0) {
        MemFree(pattern);
        throw wclEEnumServices();
    }
    const Releaser releasePattern([&] { MemFree(pattern); });
    void* attributes = nullptr;
    if (makeAttributeIDList2 == nullptr ||
        makeAttributeIDList2(kAttributeMask, &attributes, &status) == 0) {
        MemFree(attributes);
        throw wclEEnumServices();
    }
    const Releaser releaseAttributes([&] { MemFree(attributes); });

    CompletionWait connected(clock, kMsgSdpConnect, kSdpConnectFailed, kSdpConnectEnd);
    Dword sdp = 0;
    const bool connectStarted =
        connectSdp != nullptr &&
        connectSdp(device.data(), &sdp, &status, connected.Target(), kMsgSdpConnect) != 0;
    const Releaser releaseSdp([&] {
        Long ignored = 0;
        if (connectStarted && disconnectSdp != nullptr) {
            disconnectSdp(sdp, &ignored);
        }
    });
    if (!connectStarted || !connected.Succeeded()) {
        throw wclEEnumServices();
    }

    CompletionWait searched(clock, kMsgSdpSearch, kSdpSearchFailed, kSdpSearchEnd);
    void* lists = nullptr;
    const Releaser releaseLists([&] { MemFree(lists); });
    if (serviceSearchAttribute2 == nullptr ||
        serviceSearchAttribute2(sdp, pattern, attributes, &lists, &status, searched.Target(),
                                kMsgSdpSearch) == 0 ||
        !searched.Succeeded() || lists == nullptr) {
        throw wclEEnumServices();
    }

    std::uint8_t* analyzed = nullptr;
    const Releaser releaseAnalyzed([&] {
        if (analyzed != nullptr && freeAnalyzedAttrList2 != nullptr) {
            freeAnalyzedAttrList2(analyzed);
        }
    });
    if (analyzeServiceAttributeLists2 == nullptr ||
        analyzeServiceAttributeLists2(lists, kAttributeMask, &analyzed, &status) == 0 ||
        analyzed == nullptr) {
        throw wclEEnumServices();
    }
    const std::size_t size = ReadLe32(analyzed + 4);
    const std::size_t fits =
        size < kAnalyzedHeader ? 0 : (size - kAnalyzedHeader) / kAnalyzedRecordSize;
    const std::size_t count =
        std::min({static_cast<std::size_t>(ReadLe32(analyzed)), fits, kMaxServices});
    std::vector<wclServiceInfo> services;
    services.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        services.push_back(
            ReadAnalyzedRecord(analyzed + kAnalyzedHeader + i * kAnalyzedRecordSize));
    }
    return services;
}

// The loader's own window, on a thread with a loop of its own, so the stack
// can notify it whatever thread loaded it.
class TwclToshibaLoader::StateWindow {
public:
    StateWindow(const Clock& clock, MessageWindow::Handler handler) {
        std::promise<MessageWindowHandle> started;
        std::future<MessageWindowHandle> handle = started.get_future();
        // The promise moves to the thread, so nothing of this frame is
        // touched once the handle has been handed over.
        m_thread = std::thread(
            [this, &clock, started = std::move(started), handler = std::move(handler)]() mutable {
                PollEventLoop loop(clock);
                {
                    MessageWindow window(loop, handler);
                    {
                        std::lock_guard lock(m_mutex);
                        m_loop = &loop;
                    }
                    started.set_value(window.Handle());
                    loop.Run();
                }
                std::lock_guard lock(m_mutex);
                m_loop = nullptr;
            });
        m_handle = handle.get();
    }
    ~StateWindow() {
        {
            std::lock_guard lock(m_mutex);
            if (m_loop != nullptr) {
                m_loop->Quit();
            }
        }
        m_thread.join();
    }
    StateWindow(const StateWindow&) = delete;
    StateWindow& operator=(const StateWindow&) = delete;

    // What the stack is given; lives as long as this object.
    Window Target() const { return &m_handle; }

private:
    std::mutex m_mutex;
    EventLoop* m_loop = nullptr;  // guarded by m_mutex
    MessageWindowHandle m_handle;
    std::thread m_thread;
};

namespace {

const TwclToshibaLoader::Api& NoApi() {
    static const TwclToshibaLoader::Api api;
    return api;
}

}  // namespace

TwclToshibaLoader::TwclToshibaLoader(const Clock& clock) : m_clock(clock) {}

TwclToshibaLoader::~TwclToshibaLoader() {
    Unload();
}

bool TwclToshibaLoader::Load(const MessageWindowHandle& managerWindow) {
    std::lock_guard lock(m_mutex);
    if (m_api != nullptr) {
        return m_ready.load();
    }
    auto api = std::make_shared<Api>();
    api->library = DynamicLibrary::Load(kLibraryName);
    if (api->library == nullptr) {
        return false;
    }
    auto window = std::make_unique<StateWindow>(m_clock, [this, managerWindow](const Message& m) {
        if (m.Msg != kMsgStackState) {
            return;
        }
        const bool ready = m.LParam != 0;
        if (m_ready.exchange(ready) != ready) {
            PostMessage(managerWindow, ready ? wclMsg::kToshibaReady : wclMsg::kToshibaNotReady);
        }
    });
    api->ResolveAll();
    if (!api->OpenApi(window->Target())) {
        return false;
    }
    if (!api->NotifyEvent(kStateEvents, window->Target(), kMsgStackState)) {
        api->CloseApi();
        return false;
    }
    std::array<std::uint8_t, kLocalInfoSize> info{};
    m_ready.store(api->GetLocalInfo(info.data()));
    m_stateWindow = std::move(window);
    m_api = std::move(api);
    return m_ready.load();
}

void TwclToshibaLoader::Unload() {
    std::unique_ptr<StateWindow> window;
    std::shared_ptr<const Api> api;
    {
        std::lock_guard lock(m_mutex);
        window = std::move(m_stateWindow);
        api = std::move(m_api);
    }
    if (api == nullptr) {
        return;
    }
    api->CloseApi();
    window.reset();
    m_ready.store(false);
}

bool TwclToshibaLoader::IsLoaded() const {
    std::lock_guard lock(m_mutex);
    return m_api != nullptr;
}

std::shared_ptr<const TwclToshibaLoader::Api> TwclToshibaLoader::CurrentApi() const {
    std::lock_guard lock(m_mutex);
    return m_api;
}

std::uint64_t TwclToshibaLoader::ReadRadioAddress() {
    const auto loaded = CurrentApi();
    std::array<std::uint8_t, kLocalInfoSize> info{};
    if (!(loaded ? *loaded : NoApi()).GetLocalInfo(info.data())) {
        throw wclERadioAddressReadError();
    }
    return AddressToUInt64(FromStackAddress(info.data()));
}

void TwclToshibaLoader::WriteRadioName(const std::string& name) {
    const auto loaded = CurrentApi();
    const Api& api = loaded ? *loaded : NoApi();
    std::array<std::uint8_t, kNameFieldSize> field{};
    const std::string_view fitted = TruncateUtf8(name, kNameFieldSize);
    std::memcpy(field.data(), fitted.data(), fitted.size());
    Long status = 0;
    if (api.setLocalDeviceName == nullptr || api.setLocalDeviceName(field.data(), &status) == 0) {
        throw wclERadoNameWriteError();
    }
}

std::optional<std::vector<std::string>> TwclToshibaLoader::Inquiry() {
    const auto loaded = CurrentApi();
    const Api& api = loaded ? *loaded : NoApi();
    if (api.discoverRemoteDevice2 == nullptr) {
        return std::nullopt;
    }
    CompletionWait wait(m_clock, kMsgDiscovery, kDiscoveryFailed, kDiscoveryEnd);
    std::uint8_t* list = nullptr;
    Long status = 0;
    const Releaser releaseList([&] { api.MemFree(list); });
    if (api.discoverRemoteDevice2(&list, &status, 0, 0, wait.Target(), kMsgDiscovery) == 0 ||
        !wait.Succeeded() || list == nullptr) {
        return std::nullopt;
    }
    const std::size_t size = ReadLe32(list + 4);
    const std::size_t fits =
        size < kDeviceListHeader ? 0 : (size - kDeviceListHeader) / kDeviceRecordSize;
    const std::size_t count =
        std::min({static_cast<std::size_t>(ReadLe32(list)), fits, kMaxDevices});
    std::vector<std::string> addresses;
    addresses.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        addresses.push_back(FromStackAddress(list + kDeviceListHeader + i * kDeviceRecordSize));
    }
    return addresses;
}

std::string TwclToshibaLoader::ReadRemoteName(const std::string& address) {
    const auto loaded = CurrentApi();
    const Api& api = loaded ? *loaded : NoApi();
    const AddressBytes6 device = ToStackAddress(address);
    std::array<std::uint8_t, kNameFieldSize> name{};
    Long status = 0;
    if (api.getRemoteName == nullptr ||
        api.getRemoteName(device.data(), name.data(), &status) == 0) {
        throw wclERemoteDeviceNameReadError();
    }
    return FieldText(name.data(), name.size());
}

std::uint32_t TwclToshibaLoader::ReadRemoteClassOfDevice(const std::string& address) {
    const auto loaded = CurrentApi();
    const Api& api = loaded ? *loaded : NoApi();
    const AddressBytes6 device = ToStackAddress(address);
    Dword cod = 0;
    Long status = 0;
    if (api.getRemoteClassOfDevice == nullptr ||
        api.getRemoteClassOfDevice(device.data(), &cod, &status) == 0) {
        throw wclERemoteClassOfDeviceReadError();
    }
    return cod & 0xFFFFFF;
}

std::vector<wclServiceInfo> TwclToshibaLoader::EnumServices(
    const std::string& address, const std::optional<GUID>& serviceClass) {
    const auto loaded = CurrentApi();
    return (loaded ? *loaded : NoApi()).EnumServices(m_clock, address, serviceClass);
}

std::unique_ptr<wclConnectionBackend> TwclToshibaLoader::OpenLink(
    EventLoop& loop, const wclBluetoothLinkRequest& request, wclLinkEvents events) {
    const auto loaded = CurrentApi();
    if (loaded == nullptr) {
        throw wclEUnableConnect();
    }
    wclToshibaCalls calls;
    calls.library = loaded;
    calls.notifyEvent = loaded->notifyEvent;
    calls.createComm = loaded->createComm;
    calls.destroyComm = loaded->destroyComm;
    calls.connectComm = loaded->connectComm2;
    calls.disconnectComm = loaded->disconnectComm;
    calls.notifyComm = loaded->notifyComm;
    calls.getConnectionHandle = loaded->getConnectionHandle;
    calls.getLinkQuality = loaded->getLinkQuality;
    const Clock* clock = &m_clock;
    calls.findService = [loaded, clock](const std::string& address,
                                        const GUID& uuid) -> std::optional<SdpServiceInfo> {
        try {
            std::vector<wclServiceInfo> services = loaded->EnumServices(*clock, address, uuid);
            if (!services.empty()) {
                return services.front();
            }
        } catch (const std::exception&) {
        }
        return std::nullopt;
    };
    return wclToshibaLink::Open(loop, request, std::move(events), std::move(calls));
}

}  // namespace kavri
