#include "stack/wclIrDA.h"

#include "platform/DynamicLibrary.h"
#include "platform/StopEvent.h"
#include "stack/wclMessages.h"
#include "stack/wclTypes.h"
#include "stack/wclWin32Api.h"
#include "stack/wclWinsockLink.h"

namespace kavri {

using namespace win32;

namespace {

constexpr Clock::Duration kWatchInterval{1000};

}  // namespace

// Winsock and SetupAPI as the loader uses them; shared with the watcher so
// the libraries stay loaded until it has ended. Missing entry points fail.
struct TwclIrDALoader::Api {
    std::unique_ptr<DynamicLibrary> winsock;
    std::unique_ptr<DynamicLibrary> setupApi;
    PFN_socket openSocket = nullptr;
    PFN_closesocket closeSocket = nullptr;
    PFN_SetupDiGetClassDevsW getClassDevs = nullptr;
    PFN_SetupDiEnumDeviceInfo enumDeviceInfo = nullptr;
    PFN_SetupDiDestroyDeviceInfoList destroyDeviceInfoList = nullptr;

    // A stream socket of the IrDA family can be opened (and is closed again).
    bool IrDASocketsWork() const {
        if (openSocket == nullptr)
            return false;
        const SOCKET socket = openSocket(kAfIrDA, kSockStream, 0);
        if (socket == kInvalidSocket)
            return false;
        if (closeSocket != nullptr)
            closeSocket(socket);
        return true;
    }

    bool IsDevicePresent() const {
        if (getClassDevs == nullptr || enumDeviceInfo == nullptr)
            return false;
        const HDEVINFO set = getClassDevs(&kInfraredDeviceClass, nullptr, nullptr, kDigcfPresent);
        if (set == nullptr || set == InvalidHandleValue())
            return false;
        SP_DEVINFO_DATA device{};
        device.cbSize = kSpDevInfoDataSize;
        const bool present = enumDeviceInfo(set, 0, &device) != kFalse;
        if (destroyDeviceInfoList != nullptr)
            destroyDeviceInfoList(set);
        return present;
    }
};

TwclIrDALoader::TwclIrDALoader(const Clock& clock) : m_clock(clock) {}

TwclIrDALoader::~TwclIrDALoader() {
    Unload();
}

bool TwclIrDALoader::Load(const MessageWindowHandle& managerWindow) {
    std::lock_guard lock(m_mutex);
    if (m_api != nullptr)
        return m_api->IsDevicePresent();

    auto api = std::make_shared<Api>();
    api->winsock = DynamicLibrary::Load("ws2_32.dll");
    if (api->winsock == nullptr)
        return false;
    api->openSocket = api->winsock->ResolveAs<PFN_socket>("socket");
    api->closeSocket = api->winsock->ResolveAs<PFN_closesocket>("closesocket");
    if (!api->IrDASocketsWork())
        return false;
    api->setupApi = DynamicLibrary::Load("setupapi.dll");
    if (api->setupApi != nullptr) {
        api->getClassDevs =
            api->setupApi->ResolveAs<PFN_SetupDiGetClassDevsW>("SetupDiGetClassDevsW");
        api->enumDeviceInfo =
            api->setupApi->ResolveAs<PFN_SetupDiEnumDeviceInfo>("SetupDiEnumDeviceInfo");
        api->destroyDeviceInfoList = api->setupApi->ResolveAs<PFN_SetupDiDestroyDeviceInfoList>(
            "SetupDiDestroyDeviceInfoList");
    }

    std::shared_ptr<const Api> loaded = std::move(api);
    const bool present = loaded->IsDevicePresent();
    m_watcher = std::make_unique<PollingWatcher>(
        m_clock, kWatchInterval, present, [loaded] { return loaded->IsDevicePresent(); },
        [managerWindow](bool nowPresent) {
            PostMessage(managerWindow, nowPresent ? wclMsg::kIrDAPresent : wclMsg::kIrDAAbsent);
        });
    m_api = std::move(loaded);
    return present;
}

void TwclIrDALoader::Unload() {
    std::unique_ptr<PollingWatcher> watcher;
    {
        std::lock_guard lock(m_mutex);
        watcher = std::move(m_watcher);
        m_api.reset();
    }
    if (watcher != nullptr)
        watcher->Stop();
}

bool TwclIrDALoader::IsLoaded() const {
    std::lock_guard lock(m_mutex);
    return m_api != nullptr;
}

std::shared_ptr<const TwclIrDALoader::Api> TwclIrDALoader::CurrentApi() const {
    std::lock_guard lock(m_mutex);
    return m_api;
}

bool TwclIrDALoader::IsDevicePresent() const {
    const auto api = CurrentApi();
    return api != nullptr && api->IsDevicePresent();
}

std::unique_ptr<wclConnectionBackend> OpenIrDALink(EventLoop& loop,
                                                   const wclIrDALinkRequest& request,
                                                   wclLinkEvents events) {
    return wclWinsockLink::OpenIrDA(loop, request, std::move(events));
}

}  // namespace kavri
