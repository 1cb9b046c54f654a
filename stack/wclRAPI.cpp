#include "stack/wclRAPI.h"

#include "platform/DynamicLibrary.h"
#include "platform/StopEvent.h"
#include "stack/wclMessages.h"
#include "stack/wclTypes.h"
#include "stack/wclWin32Api.h"

#include <array>

namespace kavri {

using namespace win32;

namespace {

constexpr Clock::Duration kPollInterval{1000};

}  // namespace

// The two libraries and the seven entry points; missing ones fail as the
// system's own failures would (E_NOINTERFACE, or no device).
struct TwclRAPILoader::Api {
    std::unique_ptr<DynamicLibrary> rapi;
    std::unique_ptr<DynamicLibrary> ceutil;
    PFN_CeRapiInitEx initEx = nullptr;
    PFN_CeRapiUninit uninit = nullptr;
    PFN_CeGetStoreInformation getStoreInformation = nullptr;
    PFN_CeGetSystemInfo getSystemInfo = nullptr;
    PFN_CeGetSystemPowerStatusEx getSystemPowerStatusEx = nullptr;
    PFN_CeGetVersionEx getVersionEx = nullptr;
    PFN_CeGetDeviceId getDeviceId = nullptr;

    HRESULT InitEx(RAPIINIT* init) const {
        return initEx == nullptr ? kENoInterface : initEx(init);
    }
    HRESULT Uninit() const { return uninit == nullptr ? kENoInterface : uninit(); }
    DWORD DeviceId() const { return getDeviceId == nullptr ? 0 : getDeviceId(); }
};

TwclRAPILoader::TwclRAPILoader(const Clock& clock) : m_clock(clock) {}

TwclRAPILoader::~TwclRAPILoader() {
    Unload();
}

bool TwclRAPILoader::Load(const MessageWindowHandle& managerWindow) {
    std::lock_guard lock(m_mutex);
    if (m_api != nullptr)
        return IsConnected();

    auto api = std::make_shared<Api>();
    api->rapi = DynamicLibrary::Load("rapi.dll");
    if (api->rapi == nullptr)
        return false;
    api->ceutil = DynamicLibrary::Load("Ceutil.dll");
    if (api->ceutil == nullptr)
        return false;
    api->initEx = api->rapi->ResolveAs<PFN_CeRapiInitEx>("CeRapiInitEx");
    api->uninit = api->rapi->ResolveAs<PFN_CeRapiUninit>("CeRapiUninit");
    api->getStoreInformation =
        api->rapi->ResolveAs<PFN_CeGetStoreInformation>("CeGetStoreInformation");
    api->getSystemInfo = api->rapi->ResolveAs<PFN_CeGetSystemInfo>("CeGetSystemInfo");
    api->getSystemPowerStatusEx =
        api->rapi->ResolveAs<PFN_CeGetSystemPowerStatusEx>("CeGetSystemPowerStatusEx");
    api->getVersionEx = api->rapi->ResolveAs<PFN_CeGetVersionEx>("CeGetVersionEx");
    api->getDeviceId = api->ceutil->ResolveAs<PFN_CeGetDeviceId>("CeGetDeviceId");

    m_connected.store(false, std::memory_order_release);
    m_stop = std::make_unique<StopEvent>(m_clock);
    m_api = std::move(api);
    m_monitor = std::thread([this, api = m_api, managerWindow] { Monitor(*api, managerWindow); });
    return false;
}

void TwclRAPILoader::Unload() {
    std::lock_guard lock(m_mutex);
    if (m_api == nullptr)
        return;
    m_stop->Set();
    if (m_monitor.joinable())
        m_monitor.join();
    m_stop.reset();
    m_api.reset();
    m_connected.store(false, std::memory_order_release);
}

bool TwclRAPILoader::IsLoaded() const {
    std::lock_guard lock(m_mutex);
    return m_api != nullptr;
}

void TwclRAPILoader::Report(const MessageWindowHandle& managerWindow, bool connected) {
    m_connected.store(connected, std::memory_order_release);
    PostMessage(managerWindow, connected ? wclMsg::kRAPIConnected : wclMsg::kRAPIDisconnected);
}

void TwclRAPILoader::Monitor(const Api& api, MessageWindowHandle managerWindow) {
    StopEvent& stop = *m_stop;
    // RAPI writes the outcome into this record when the device connects, so
    // it lives as long as the thread, beyond every CeRapiUninit.
    RAPIINIT init{};
    for (;;) {
        init = RAPIINIT{};
        init.cbSize = kRapiInitSize;
        if (Failed(api.InitEx(&init)) || init.heRapiInit == nullptr) {
            // Nothing to wait for: try again a second later.
            if (stop.WaitFor(kPollInterval))
                return;
            continue;
        }
        auto* initEvent = static_cast<StopEvent*>(init.heRapiInit);
        const std::array<StopEvent*, 2> events{&stop, initEvent};
        for (;;) {
            if (StopEvent::WaitForAny(events, std::nullopt, m_clock) ==
                std::optional<std::size_t>(0)) {
                api.Uninit();
                return;
            }
            // A failed attempt leaves RAPI waiting for the next device.
            const bool failed = Failed(init.hrRapiInit);
            initEvent->Reset();
            if (!failed)
                break;
        }

        // The polling cadence starts before the report, so a test that
        // advances the clock after seeing the report is counted from here.
        Clock::TimePoint next = m_clock.Now() + kPollInterval;
        Report(managerWindow, true);
        for (;;) {
            if (stop.WaitUntil(next)) {
                api.Uninit();
                return;
            }
            // Fixed before the question, like the polling watchers' cadence.
            const auto late = m_clock.Now() - next;
            next += (late / kPollInterval + 1) * kPollInterval;
            if (api.DeviceId() == 0)
                break;
        }
        api.Uninit();
        Report(managerWindow, false);
    }
}

}  // namespace kavri
