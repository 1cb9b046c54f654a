#include "host/SenderSession.h"

#include <exception>
#include <utility>

#include "app/AppSettings.h"
#include "app/CampaignReloader.h"
#include "app/CampaignStore.h"
#include "app/CampaignTable.h"
#include "app/DataFolder.h"
#include "editors/DeviceCouponPicture.h"
#include "stack/wclAPI.h"
#include "stack/wclExceptions.h"

namespace kavri::host {

namespace {

// Why the sender cannot start here: the library's own message when the
// Bluetooth transport is missing.
std::string NoRadioMessage() {
    try {
        CheckTransport(TwclTransport::trBluetooth);
    } catch (const wclException& e) {
        return e.what();
    }
    return "no Bluetooth radio is available";
}

}  // namespace

SenderSession::SenderSession(EventLoop& loop, const DateTimeClock& clock, std::string computerName,
                             TextLookup texts, TwclProximitySender::ClientFactory clientFactory)
    : m_loop(loop),
      m_clock(clock),
      m_computerName(std::move(computerName)),
      m_texts(std::move(texts)),
      m_clientFactory(std::move(clientFactory)) {}

SenderSession::~SenderSession() {
    // The owner is going too: its handlers may no longer be reachable.
    ClearEvents();
    if (m_controller) {
        m_controller->OnEvent = nullptr;
        m_controller->OnRadioChanged = nullptr;
        m_controller->OnDeviceStatus = nullptr;
        m_controller->OnProgress = nullptr;
        m_controller->Decisions().OnRecordFailed = nullptr;
        m_controller->Shutdown();
    }
    if (m_table) {
        m_table->OnSelecting = nullptr;
    }
}

void SenderSession::ClearEvents() {
    OnTransportChanged = nullptr;
    OnRadioChanged = nullptr;
    OnStarted = nullptr;
    OnStopped = nullptr;
    OnDiscoveryComplete = nullptr;
    OnDeviceStatus = nullptr;
    OnProgress = nullptr;
    OnCampaignsChanged = nullptr;
    OnActiveCampaignChanged = nullptr;
    OnSenderEvent = nullptr;
    OnRecordFailed = nullptr;
}

Result SenderSession::Open(std::string_view dataFolder) {
    if (m_controller) {
        return Result::Failure("the sender session is open already");
    }
    try {
        m_store = std::make_unique<CampaignStore>(DataFolder::Open(dataFolder));
        m_settings = std::make_unique<AppSettings>(m_store->Folder().SettingsFile());
        m_table = std::make_unique<CampaignTable>(*m_store, m_clock, m_texts);
        m_table->RefreshCampaigns();
        m_reloader = std::make_unique<CampaignReloader>(*m_store, *m_table);
        m_controller = std::make_unique<SenderController>(m_loop, *m_store, *m_table, *m_settings,
                                                          m_clock, m_computerName, m_clientFactory);
        // A coupon campaign with one code per phone draws each phone's picture.
        m_controller->SetCouponRenderer(&RenderDeviceCoupon);
    } catch (const std::exception& e) {
        m_controller.reset();
        m_reloader.reset();
        m_table.reset();
        m_settings.reset();
        m_store.reset();
        return Result::Failure(e.what());
    }
    Wire();
    return Result::Success();
}

void SenderSession::Wire() {
    // Campaigns changed by another process count from the next cycle on.
    m_table->OnSelecting = [this] { RefreshCampaigns(); };
    m_controller->OnRadioChanged = [this] { RadioChoiceMade(); };
    m_controller->OnEvent = [this](const SenderEvent& event) { SenderEventHappened(event); };
    m_controller->OnDeviceStatus = [this](const DeviceRow& row) {
        if (OnDeviceStatus) {
            OnDeviceStatus(row);
        }
    };
    m_controller->OnProgress = [this](const std::string& address, std::uint32_t position,
                                      std::uint32_t size) {
        if (OnProgress) {
            OnProgress(address, position, size);
        }
    };
    m_controller->Decisions().OnRecordFailed = [this](const std::string& message) {
        if (OnRecordFailed) {
            OnRecordFailed(message);
        }
    };
}

Result SenderSession::LoadStacks() {
    if (!m_controller) {
        return Result::Failure("the sender session is not open");
    }
    try {
        m_controller->LoadStacks();
    } catch (const std::exception& e) {
        return Result::Failure(e.what());
    }
    return Result::Success();
}

Result SenderSession::Start() {
    if (!m_controller) {
        return Result::Failure("the sender session is not open");
    }
    if (m_controller->Active()) {
        return Result::Success();
    }
    if (!m_controller->StartEnabled()) {
        return Result::Failure(NoRadioMessage());
    }
    try {
        m_controller->Start();
    } catch (const wclException& e) {
        // The engine refused a setting or the start and stays stopped.
        return Result::Failure(e.what());
    }
    return Result::Success();
}

void SenderSession::Stop() {
    if (m_controller) {
        m_controller->Stop();
    }
}

void SenderSession::Shutdown() {
    if (m_controller) {
        m_controller->Shutdown();
    }
}

void SenderSession::RefreshCampaigns() {
    if (m_reloader->Update() && OnCampaignsChanged) {
        OnCampaignsChanged();
    }
}

void SenderSession::SetTexts(TextLookup texts) {
    m_texts = std::move(texts);
    m_table->SetTexts(m_texts);
    m_table->RefreshCampaigns();
    if (OnCampaignsChanged) {
        OnCampaignsChanged();
    }
}

bool SenderSession::StartEnabled() const {
    return m_controller->StartEnabled();
}

bool SenderSession::StopEnabled() const {
    return m_controller->StopEnabled();
}

bool SenderSession::Active() const {
    return m_controller->Active();
}

const TwclBluetoothRadio* SenderSession::SelectedRadio() const {
    return m_controller->SelectedRadio();
}

const DataFolder& SenderSession::Folder() const {
    return m_store->Folder();
}

const std::vector<DeviceRow>& SenderSession::DeviceRows() const {
    return m_controller->Decisions().Rows();
}

const std::string& SenderSession::ActiveCampaign() const {
    return m_table->ActiveCampaign();
}

void SenderSession::RadioChoiceMade() {
    const bool transport = IsTransportAvailable(TwclTransport::trBluetooth);
    if (transport != m_transport) {
        m_transport = transport;
        if (OnTransportChanged) {
            OnTransportChanged(transport);
        }
    }
    // A radio is known by the stack that serves it.
    const TwclBluetoothRadio* radio = m_controller->SelectedRadio();
    const std::optional<TwclBluetoothAPI> api =
        radio ? std::optional<TwclBluetoothAPI>(radio->API()) : std::nullopt;
    if (api != m_radio) {
        m_radio = api;
        if (OnRadioChanged) {
            OnRadioChanged(radio);
        }
    }
}

void SenderSession::SenderEventHappened(const SenderEvent& event) {
    switch (event.Kind) {
        case SenderEventKind::Started:
            if (OnStarted) {
                OnStarted();
            }
            break;
        case SenderEventKind::Stopped:
            if (OnStopped) {
                OnStopped(event.Requested);
            }
            break;
        case SenderEventKind::DiscoveryComplete:
            if (OnDiscoveryComplete) {
                OnDiscoveryComplete(DeviceRows());
            }
            break;
        default:
            break;
    }
    CheckActiveCampaign();
    if (OnSenderEvent) {
        OnSenderEvent(event);
    }
}

void SenderSession::CheckActiveCampaign() {
    if (m_table->ActiveCampaign() == m_activeCampaign) {
        return;
    }
    m_activeCampaign = m_table->ActiveCampaign();
    if (OnActiveCampaignChanged) {
        OnActiveCampaignChanged(m_activeCampaign);
    }
}

}  // namespace kavri::host
