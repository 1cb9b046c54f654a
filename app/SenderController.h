#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/DeviceCoupons.h"
#include "app/SendingDecisions.h"
#include "engine/wclProximitySender.h"
#include "platform/EventLoop.h"
#include "stack/wclAPI.h"
#include "stack/wclBluetoothDiscovery.h"

namespace kavri {

class AppSettings;
class CampaignStore;
class CampaignTable;
class DateTimeClock;

// What the sender did, as the controller tells its listener (the main window
// refreshes its lists, kavrictl prints a line).
enum class SenderEventKind {
    Started,
    DiscoveryStarted,
    DiscoveryComplete,  // the campaign of the cycle has been chosen
    Accept,
    Refuse,
    Connecting,
    Connected,
    SendStart,
    SendComplete,
    Disconnected,
    SleepStarted,  // every device of the cycle has been tried
    Stopped,
};

struct SenderEvent {
    SenderEventKind Kind = SenderEventKind::Started;
    // The device's address and its name in the device list; empty for the
    // events of the sender as a whole.
    std::string Address;
    std::string Name;
    // ActiveCampaign when the event was handled; empty when none.
    std::string Campaign;
    // Connected and SendComplete: the library's result code, 0 for success.
    std::optional<std::uint32_t> Result;
    // Accept and Refuse: why.
    AcceptReason Reason = AcceptReason::Accepted;
    // DiscoveryComplete: how many devices were found.
    std::size_t DeviceCount = 0;
    // SendStart and SendComplete: the path of the file.
    std::string FileName;
    // Stopped: the owner asked for it (Stop or Shutdown), rather than the
    // sender stopping by itself because the radio's stack went away.
    bool Requested = false;
};

// The main window without its window: it owns the stack component, the
// discovery component used to enumerate radios, the copy of the local radio
// that the sender uses (SelectedRadio), the sender engine and the per-device
// decisions, and wires the engine's events to the decisions. It chooses the
// radio when the stacks load or change, starts the sender with the
// application settings read afresh at each start, and shuts down in the
// main window's order: stop the engine, free the radio, unload the stacks.
//
// Lives on the loop thread; every event arrives there, so nothing locks. The
// store, table, settings and clock belong to the owner and must outlive it.
// Start throws the library's exception when the engine refuses a setting or
// the start (the steps before it have taken effect, the engine stays
// stopped); LoadStacks throws wclEAPINotLoaded without a stack manager.
// Exceptions from OnEvent reach the engine's caller as its own handlers' do.
class SenderController {
public:
    SenderController(EventLoop& loop, const CampaignStore& store, CampaignTable& table,
                     const AppSettings& settings, const DateTimeClock& clock,
                     std::string computerName,
                     TwclProximitySender::ClientFactory clientFactory = {});
    // Shuts down first when that has not happened yet.
    ~SenderController();

    SenderController(const SenderController&) = delete;
    SenderController& operator=(const SenderController&) = delete;

    // Loads the stacks; OnLoaded then chooses the radio. A manager that was
    // loaded already sends no OnLoaded, so the radio is chosen at once.
    void LoadStacks();
    // Chooses the radio of the first available Bluetooth stack, or none.
    void SelectRadio();
    const TwclBluetoothRadio* SelectedRadio() const { return m_selectedRadio.get(); }

    // Start: the Bluetooth transport is available, a radio is selected and
    // the engine is not running. Stop: the engine is running.
    bool StartEnabled() const;
    bool StopEnabled() const { return m_sender->Active(); }
    bool Active() const { return m_sender->Active(); }

    // The Start command: radio name (setting "LocalRadioName", else the
    // computer's name; a failure is ignored), Radio, ConnectTimeOut,
    // ResponseTimeOut, MaxConnections, SleepInterval, then Start. Does nothing
    // while running.
    void Start();
    void Stop();
    // The orderly end: stops the engine when running, frees the radio and
    // unloads the stacks. Once; later calls do nothing.
    void Shutdown();

    // Renders the pictures of campaigns with a code per device; called on a
    // worker thread. Set before Start by the owner that has a picture
    // renderer (the app layer draws no pictures itself).
    void SetCouponRenderer(CouponRenderer renderer) {
        m_deviceCoupons.SetRenderer(std::move(renderer));
    }
    const DeviceCoupons& Coupons() const { return m_deviceCoupons; }

    SendingDecisions& Decisions() { return m_decisions; }
    const SendingDecisions& Decisions() const { return m_decisions; }
    const TwclProximitySender& Sender() const { return *m_sender; }

    std::function<void(const SenderEvent& event)> OnEvent;
    // The radio choice was made again (the stacks loaded or changed):
    // SelectedRadio and StartEnabled may now answer differently.
    std::function<void()> OnRadioChanged;
    // A decision gave a device row another status; raised before the
    // SenderEvent of the engine event that caused it.
    std::function<void(const DeviceRow& row)> OnDeviceStatus;
    // The engine's push progress for a device: position of size bytes.
    std::function<void(const std::string& address, std::uint32_t position, std::uint32_t size)>
        OnProgress;

private:
    std::unique_ptr<TwclBluetoothRadio> FirstRadio();
    void WireEngine();
    void Emit(SenderEvent event);
    SenderEvent DeviceEvent(SenderEventKind kind, const std::string& address) const;
    std::optional<DeviceStatus> StatusOf(const std::string& address) const;
    // Raises OnDeviceStatus when the address's row no longer has status before.
    void ReportStatus(const std::string& address, std::optional<DeviceStatus> before);
    std::optional<std::string> QueryName(const std::string& address) const;
    std::optional<std::uint32_t> QueryClass(const std::string& address) const;
    // Puts a device's own code into its new record of the active campaign.
    void RecordDeviceCode(const std::string& address, const std::string& code);

    CampaignTable& m_table;
    const AppSettings& m_settings;
    const std::string m_computerName;
    TwclAPI m_api;
    TwclBluetoothDiscovery m_discovery;
    std::unique_ptr<TwclBluetoothRadio> m_selectedRadio;
    const CampaignStore& m_store;
    SendingDecisions m_decisions;
    DeviceCoupons m_deviceCoupons;
    bool m_stopRequested = false;
    bool m_shutDown = false;
    // Last: destroyed first, while the handlers' targets still exist.
    std::unique_ptr<TwclProximitySender> m_sender;
};

}  // namespace kavri
