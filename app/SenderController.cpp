#include "app/SenderController.h"

#include <exception>
#include <utility>
#include <vector>

#include "app/AppSettings.h"
#include "app/CampaignStore.h"
#include "app/CampaignTable.h"
#include "app/IniFile.h"
#include "stack/wclExceptions.h"

namespace kavri {

namespace {

std::vector<std::string> Addresses(const TwclBluetoothDevices& devices) {
    std::vector<std::string> addresses;
    addresses.reserve(static_cast<std::size_t>(devices.Count()));
    for (int i = 0; i < devices.Count(); ++i) {
        addresses.push_back(devices.Items(i).Address());
    }
    return addresses;
}

}  // namespace

SenderController::SenderController(EventLoop& loop, const CampaignStore& store,
                                   CampaignTable& table, const AppSettings& settings,
                                   const DateTimeClock& clock, std::string computerName,
                                   TwclProximitySender::ClientFactory clientFactory)
    : m_table(table),
      m_settings(settings),
      m_computerName(std::move(computerName)),
      m_api(loop),
      m_discovery(loop),
      m_store(store),
      m_decisions(
          store, table, settings, clock,
          DeviceQueries{[this](const std::string& address) { return QueryName(address); },
                        [this](const std::string& address) { return QueryClass(address); }}),
      m_deviceCoupons(loop, store),
      m_sender(std::make_unique<TwclProximitySender>(loop, std::move(clientFactory))) {
    m_table.ClearActiveCampaign();
    m_api.OnLoaded = [this](TwclAPI&) { SelectRadio(); };
    m_api.OnChanged = [this](TwclAPI&) { SelectRadio(); };
    m_deviceCoupons.OnFailure = [this](const std::string& message) {
        if (m_decisions.OnRecordFailed) {
            m_decisions.OnRecordFailed(message);
        }
    };
    WireEngine();
}

SenderController::~SenderController() {
    try {
        Shutdown();
    } catch (...) {
        HandleApplicationException(std::current_exception());
    }
    // The engine stops once more when it goes; nothing of this object may be
    // reached from its events by then.
    m_sender->OnStopped = nullptr;
    m_sender.reset();
    m_api.OnLoaded = nullptr;
    m_api.OnChanged = nullptr;
}

void SenderController::LoadStacks() {
    const TwclAPIManager* manager = TwclAPIManager::Current();
    const bool loadedBefore = manager != nullptr && manager->IsLoaded();
    m_api.Load();
    if (loadedBefore) {
        SelectRadio();
    }
}

void SenderController::SelectRadio() {
    m_selectedRadio.reset();
    m_selectedRadio = FirstRadio();
    if (OnRadioChanged) {
        OnRadioChanged();
    }
}

std::unique_ptr<TwclBluetoothRadio> SenderController::FirstRadio() {
    if (!IsTransportAvailable(TwclTransport::trBluetooth)) {
        return nullptr;
    }
    std::unique_ptr<TwclBluetoothRadios> radios;
    try {
        radios = m_discovery.EnumRadios();
    } catch (const wclException&) {
        // The transport went between the two questions: no radio.
        return nullptr;
    }
    if (radios->Count() == 0) {
        return nullptr;
    }
    auto radio = std::make_unique<TwclBluetoothRadio>();
    radio->Assign(&radios->Items(0));
    return radio;
}

bool SenderController::StartEnabled() const {
    return IsTransportAvailable(TwclTransport::trBluetooth) && m_selectedRadio != nullptr &&
           !m_sender->Active();
}

void SenderController::Start() {
    if (m_sender->Active()) {
        return;
    }
    // Read at each start: a change made while sending counts from the next.
    const AppSettings::SenderValues values = m_settings.ReadSenderValues(m_computerName);
    try {
        if (m_selectedRadio) {
            m_selectedRadio->SetName(values.RadioName);
        }
    } catch (const std::exception&) {
        // The sender starts with the radio's current name.
    }
    m_sender->SetRadio(m_selectedRadio.get());
    m_sender->SetConnectTimeOut(static_cast<std::int32_t>(values.ConnectTimeOutMs));
    m_sender->SetResponseTimeOut(static_cast<std::int32_t>(values.ResponseTimeOutMs));
    m_sender->SetMaxConnections(values.MaxConnections);
    m_sender->SetSleepInterval(values.SleepIntervalMs);
    m_stopRequested = false;
    m_sender->Start();
}

void SenderController::Stop() {
    if (!m_sender->Active()) {
        return;
    }
    m_stopRequested = true;
    m_sender->Stop();
}

void SenderController::Shutdown() {
    if (m_shutDown) {
        return;
    }
    m_shutDown = true;
    // The engine first, so no link or discovery is left on a stack that goes.
    Stop();
    m_selectedRadio.reset();
    m_api.Unload();
}

std::optional<std::string> SenderController::QueryName(const std::string& address) const {
    if (!m_selectedRadio) {
        return std::nullopt;
    }
    try {
        TwclBluetoothDevice device;
        device.SetAddress(address);
        return device.GetName(m_selectedRadio.get());
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<std::uint32_t> SenderController::QueryClass(const std::string& address) const {
    if (!m_selectedRadio) {
        return std::nullopt;
    }
    try {
        TwclBluetoothDevice device;
        device.SetAddress(address);
        return device.GetClassOfDevice(m_selectedRadio.get());
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

void SenderController::RecordDeviceCode(const std::string& address, const std::string& code) {
    const std::string folder = m_table.ActiveCampaignFolder();
    if (folder.empty()) {
        return;
    }
    IniFile file(folder + std::string(SendingDecisions::kAcceptedFile), m_store.Format());
    // Only into the record just written: a record that failed must not be
    // made up of the code alone.
    if (!file.SectionExists(address)) {
        return;
    }
    if (const Result written = file.WriteString(address, "Coupon", code);
        !written && m_decisions.OnRecordFailed) {
        m_decisions.OnRecordFailed("cannot record the coupon code of " + address + " in " +
                                   file.FileName() + ": " + written.Message);
    }
}

std::optional<DeviceStatus> SenderController::StatusOf(const std::string& address) const {
    const DeviceRow* row = m_decisions.FindRow(address);
    return row ? row->Status : std::nullopt;
}

void SenderController::ReportStatus(const std::string& address,
                                    std::optional<DeviceStatus> before) {
    const DeviceRow* row = m_decisions.FindRow(address);
    if (row != nullptr && row->Status != before && OnDeviceStatus) {
        OnDeviceStatus(*row);
    }
}

void SenderController::Emit(SenderEvent event) {
    if (OnEvent) {
        OnEvent(event);
    }
}

SenderEvent SenderController::DeviceEvent(SenderEventKind kind, const std::string& address) const {
    SenderEvent event;
    event.Kind = kind;
    event.Address = address;
    if (const DeviceRow* row = m_decisions.FindRow(address)) {
        event.Name = row->Name;
    }
    event.Campaign = m_table.ActiveCampaign();
    return event;
}

void SenderController::WireEngine() {
    using S = TwclProximitySender;
    using D = TwclBluetoothDevice;
    TwclProximitySender& sender = *m_sender;

    sender.OnStarted = [this](S&) {
        m_table.ClearActiveCampaign();
        SenderEvent event;
        event.Kind = SenderEventKind::Started;
        Emit(std::move(event));
    };
    sender.OnStopped = [this](S&) {
        m_deviceCoupons.End();
        m_decisions.ClearRows();
        m_table.ResetActiveMarks();
        m_table.ClearActiveCampaign();
        SenderEvent event;
        event.Kind = SenderEventKind::Stopped;
        event.Requested = m_stopRequested;
        m_stopRequested = false;
        Emit(std::move(event));
    };
    sender.OnDiscoveryStarted = [this](S&) {
        SenderEvent event;
        event.Kind = SenderEventKind::DiscoveryStarted;
        event.Campaign = m_table.ActiveCampaign();
        Emit(std::move(event));
    };
    sender.OnDiscoveryComplete = [this](S&, const TwclBluetoothDevices& devices) {
        m_decisions.wclProximitySenderDiscoveryComplete(Addresses(devices));
        m_deviceCoupons.BeginCycle(m_table.ActiveCampaign(), m_table.ActiveCampaignFolder());
        SenderEvent event;
        event.Kind = SenderEventKind::DiscoveryComplete;
        event.Campaign = m_table.ActiveCampaign();
        event.DeviceCount = static_cast<std::size_t>(devices.Count());
        Emit(std::move(event));
    };
    sender.OnAcceptDevice = [this](S&, const D& device, bool& accept) {
        const auto before = StatusOf(device.Address());
        const AcceptReason reason =
            m_decisions.wclProximitySenderAcceptDevice(device.Address(), accept);
        ReportStatus(device.Address(), before);
        SenderEvent event = DeviceEvent(accept ? SenderEventKind::Accept : SenderEventKind::Refuse,
                                        device.Address());
        event.Reason = reason;
        Emit(std::move(event));
    };
    sender.OnDevicesAccepted = [this](S&, const TwclBluetoothDevices& devices) {
        const std::vector<std::string> addresses = Addresses(devices);
        std::vector<std::optional<DeviceStatus>> before;
        before.reserve(addresses.size());
        for (const std::string& address : addresses) {
            before.push_back(StatusOf(address));
        }
        m_decisions.wclProximitySenderDevicesAccepted(addresses);
        for (std::size_t i = 0; i < addresses.size(); ++i) {
            ReportStatus(addresses[i], before[i]);
            m_deviceCoupons.DeviceAccepted(addresses[i]);
        }
    };
    sender.OnGetFile = [this](S&, std::string& fileName, bool& more) {
        m_decisions.wclProximitySenderGetFile(fileName, more);
        m_deviceCoupons.GetFile(fileName);
    };
    sender.OnConnecting = [this](S&, const D& device) {
        const auto before = StatusOf(device.Address());
        m_decisions.wclProximitySenderConnecting(device.Address());
        ReportStatus(device.Address(), before);
        Emit(DeviceEvent(SenderEventKind::Connecting, device.Address()));
    };
    sender.OnConnected = [this](S&, const D& device, std::uint32_t result) {
        const auto before = StatusOf(device.Address());
        m_decisions.wclProximitySenderConnected(device.Address(), result);
        if (result != 0) {
            m_deviceCoupons.DeviceDropped(device.Address());
        }
        ReportStatus(device.Address(), before);
        SenderEvent event = DeviceEvent(SenderEventKind::Connected, device.Address());
        event.Result = result;
        Emit(std::move(event));
    };
    sender.OnFileSendStart = [this](S&, const D& device, const std::string& fileName) {
        const auto before = StatusOf(device.Address());
        m_deviceCoupons.SendStart(device.Address());
        m_decisions.wclProximitySenderFileSendStart(device.Address());
        ReportStatus(device.Address(), before);
        SenderEvent event = DeviceEvent(SenderEventKind::SendStart, device.Address());
        event.FileName = fileName;
        Emit(std::move(event));
    };
    sender.OnFileSendComplete = [this](S&, const D& device, const std::string& fileName,
                                       std::uint32_t result) {
        const auto before = StatusOf(device.Address());
        const std::optional<std::string> code =
            m_deviceCoupons.SendComplete(device.Address(), result == 0);
        m_decisions.wclProximitySenderFileSendComplete(device.Address(), result);
        if (code) {
            RecordDeviceCode(device.Address(), *code);
        }
        ReportStatus(device.Address(), before);
        SenderEvent event = DeviceEvent(SenderEventKind::SendComplete, device.Address());
        event.FileName = fileName;
        event.Result = result;
        Emit(std::move(event));
    };
    sender.OnDisconnected = [this](S&, const D& device) {
        Emit(DeviceEvent(SenderEventKind::Disconnected, device.Address()));
    };
    sender.OnProgress = [this](S&, const D& device, const std::string&, std::uint32_t position,
                               std::uint32_t size) {
        if (OnProgress) {
            OnProgress(device.Address(), position, size);
        }
    };
    sender.OnSleepStarted = [this](S&) {
        SenderEvent event;
        event.Kind = SenderEventKind::SleepStarted;
        event.Campaign = m_table.ActiveCampaign();
        Emit(std::move(event));
    };
}

}  // namespace kavri
