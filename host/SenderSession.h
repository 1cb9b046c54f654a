#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/Result.h"
#include "app/SenderController.h"
#include "app/TextLookup.h"

namespace kavri {
class AppSettings;
class CampaignReloader;
class CampaignStore;
class CampaignTable;
class DataFolder;
class DateTimeClock;
class EventLoop;
}  // namespace kavri

namespace kavri::host {

// What the main window holds for the whole run, for every front end alike:
// the data folder and its campaign store, the application settings, the
// campaign table with the language texts, and the sender controller with the
// selected radio. It keeps running campaigns in step with the disk (changes
// by the window's editors or another process count from the next cycle) and
// raises an event for everything a window shows, so nothing needs polling.
//
// Lives on the loop thread; every event is raised there. The loop and clock
// must outlive it, and the stack session it loads must outlive LoadStacks
// until Shutdown. Open comes first and once; the accessors are valid after it
// succeeded (LoadStacks and Start refuse, Stop and Shutdown do nothing before).
// Failures come back as Results carrying the operator's message.
// Events raised from within the destructor are not delivered.
class SenderSession {
public:
    SenderSession(EventLoop& loop, const DateTimeClock& clock, std::string computerName,
                  TextLookup texts = {}, TwclProximitySender::ClientFactory clientFactory = {});
    ~SenderSession();
    SenderSession(const SenderSession&) = delete;
    SenderSession& operator=(const SenderSession&) = delete;

    // Opens the data folder (empty: the per-user one), its campaign list and
    // settings, fills the campaign table and builds the sender controller.
    Result Open(std::string_view dataFolder = {});
    // Loads the stacks; the radio is then chosen (OnTransportChanged,
    // OnRadioChanged).
    Result LoadStacks();
    // The Start command. Refused with the library's transport message when
    // Start is not enabled, or with the library's message when the engine
    // refuses a setting or the start (it then stays stopped).
    Result Start();
    void Stop();
    // The orderly end: stops the engine, frees the radio, unloads the
    // stacks. Once; later calls do nothing.
    void Shutdown();
    // Brings the campaign list and table up to date with the disk, raising
    // OnCampaignsChanged when something changed.
    void RefreshCampaigns();
    // New language texts for the campaign table; raises OnCampaignsChanged.
    void SetTexts(TextLookup texts);

    bool StartEnabled() const;
    bool StopEnabled() const;
    bool Active() const;
    bool TransportAvailable() const { return m_transport; }
    const TwclBluetoothRadio* SelectedRadio() const;

    const DataFolder& Folder() const;
    CampaignStore& Store() { return *m_store; }
    AppSettings& Settings() { return *m_settings; }
    CampaignTable& Table() { return *m_table; }
    const TextLookup& Texts() const { return m_texts; }
    SenderController& Controller() { return *m_controller; }
    // The devices of the current cycle with their statuses; empty while stopped.
    const std::vector<DeviceRow>& DeviceRows() const;
    const std::string& ActiveCampaign() const;

    std::function<void(bool available)> OnTransportChanged;
    // A radio was selected (radio set) or lost (nullptr).
    std::function<void(const TwclBluetoothRadio* radio)> OnRadioChanged;
    std::function<void()> OnStarted;
    // requested: Stop or Shutdown asked for it, rather than the radio's
    // stack going away.
    std::function<void(bool requested)> OnStopped;
    // The device rows of the cycle, each without a status yet.
    std::function<void(const std::vector<DeviceRow>& rows)> OnDiscoveryComplete;
    std::function<void(const DeviceRow& row)> OnDeviceStatus;
    std::function<void(const std::string& address, std::uint32_t position, std::uint32_t size)>
        OnProgress;
    // The campaign list or a listed record changed on disk, or the texts did.
    std::function<void()> OnCampaignsChanged;
    // The campaign of the cycle; empty when none.
    std::function<void(const std::string& name)> OnActiveCampaignChanged;
    // Every event of the sender as it happened (kavrictl prints these).
    std::function<void(const SenderEvent& event)> OnSenderEvent;
    // A device record could not be written or a device file not read.
    std::function<void(const std::string& message)> OnRecordFailed;

private:
    void Wire();
    void RadioChoiceMade();
    void SenderEventHappened(const SenderEvent& event);
    void CheckActiveCampaign();
    void ClearEvents();

    EventLoop& m_loop;
    const DateTimeClock& m_clock;
    const std::string m_computerName;
    TextLookup m_texts;
    TwclProximitySender::ClientFactory m_clientFactory;
    std::unique_ptr<CampaignStore> m_store;
    std::unique_ptr<AppSettings> m_settings;
    std::unique_ptr<CampaignTable> m_table;
    std::unique_ptr<CampaignReloader> m_reloader;
    // Last: goes first, while what its events reach still exists.
    std::unique_ptr<SenderController> m_controller;
    // What the events last told, so each is raised on a change only.
    bool m_transport = false;
    std::optional<TwclBluetoothAPI> m_radio;
    std::string m_activeCampaign;
};

}  // namespace kavri::host
