#include "engine/wclProximitySender.h"

#include "engine/wclOBEXObjectSource.h"
#include "stack/wclAPI.h"
#include "stack/wclExceptions.h"
#include "stack/wclUUIDs.h"

#include <array>
#include <chrono>
#include <limits>
#include <span>
#include <stdexcept>
#include <system_error>
#include <utility>

namespace kavri {
namespace {

// One flag per Bluetooth stack, indexed by TwclBluetoothAPI: a sender holds
// its stack's flag while it runs, so at most one sender runs per stack in the
// process. Start and Stop run on loop threads; the exchange keeps two loops
// from taking the same flag. Room for every value a stack set can hold.
std::array<std::atomic<bool>, 8>& SenderRunningFlags() {
    static std::array<std::atomic<bool>, 8> flags{};
    return flags;
}

// Calls a copy of the handler, so that a handler that reassigns its own event
// does not destroy the function it runs in. What a handler throws passes on.
template <typename Event, typename... Args>
void Raise(const Event& event, Args&&... args) {
    if (!event) {
        return;
    }
    const Event handler = event;
    handler(std::forward<Args>(args)...);
}

// The hand-off thread of one cycle: it holds only copies (the accepted
// devices, the sender's window handle, the hand-off's number) and sends one
// message, 1066, carrying its devices; the sender's handler copies them
// before the send returns. A send to a window that is gone returns at once.
class TwclSpamServicesThread {
public:
    TwclSpamServicesThread(std::unique_ptr<TwclBluetoothDevices> devices,
                           MessageWindowHandle window, std::uint64_t id,
                           std::shared_ptr<std::atomic<bool>> finished)
        : m_devices(std::move(devices)),
          m_window(std::move(window)),
          m_id(id),
          m_finished(std::move(finished)) {}

    void operator()() noexcept {
        SendMessage(m_window, wclMsg::kSenderHandOff, static_cast<std::uintptr_t>(m_id),
                    reinterpret_cast<std::intptr_t>(m_devices.get()));
        m_finished->store(true);
    }

private:
    std::unique_ptr<TwclBluetoothDevices> m_devices;
    MessageWindowHandle m_window;
    std::uint64_t m_id;
    std::shared_ptr<std::atomic<bool>> m_finished;
};

// Whether the radio's stack takes several connection attempts at once. A
// stack that went away meanwhile is given one at a time: its attempts fail
// on their own.
bool ConnectsInParallel(TwclBluetoothAPI api) {
    try {
        return AcquireBluetoothBinding(api)->ConnectsInParallel();
    } catch (const wclException&) {
        return false;
    }
}

}  // namespace

TwclProximitySender::TwclProximitySender(EventLoop& loop)
    : TwclProximitySender(loop, ClientFactory{}) {}

TwclProximitySender::TwclProximitySender(EventLoop& loop, ClientFactory clientFactory)
    : m_loop(loop), m_clientFactory(std::move(clientFactory)) {
    if (!m_clientFactory) {
        m_clientFactory = [](EventLoop& clientLoop) {
            return std::make_unique<TwclOPPClient>(clientLoop);
        };
    }
    m_discovery = std::make_unique<TwclBluetoothDiscovery>(loop);
    m_discovery->OnDiscoveryStarted = [this](TwclBluetoothDiscovery&, const TwclBluetoothRadio&) {
        DiscoveryStarted();
    };
    m_discovery->OnDiscoveryComplete = [this](TwclBluetoothDiscovery&, const TwclBluetoothRadio&,
                                              const TwclBluetoothDevices* devices) {
        DiscoveryComplete(devices);
    };
    SetMaxConnections(kDefaultMaxConnections);
    m_window = std::make_unique<MessageWindow>(
        loop, [this](const Message& message) { HandleMessage(message); });
    ProcessNotificationList().Add(m_window->Handle());
}

TwclProximitySender::~TwclProximitySender() {
    // Code up the stack (when a handler destroys the sender) sees this first.
    m_lifeToken.reset();
    try {
        Stop();
    } catch (...) {
        HandleApplicationException(std::current_exception());
    }
    ProcessNotificationList().Remove(m_window->Handle());
    // Releases every hand-off thread still waiting to send. A thread whose
    // message is being handled right now (the sender is destroyed from inside
    // that handler) waits for the handler to return, so it is let go rather
    // than joined: it holds only copies and ends when the handler returns.
    m_window.reset();
    for (HandOff& handOff : m_handOffs) {
        if (handOff.inHandler) {
            handOff.thread.detach();
        } else {
            handOff.thread.join();
        }
    }
    if (m_sleepTimer != 0) {
        m_loop.StopTimer(m_sleepTimer);
    }
    if (m_pacingTimer != 0) {
        m_loop.StopTimer(m_pacingTimer);
    }
    DestroyClients();
    m_discovery->OnDiscoveryStarted = nullptr;
    m_discovery->OnDiscoveryComplete = nullptr;
    m_discovery.reset();
}

bool TwclProximitySender::StillRunning(const TwclProximitySender* self, const Mark& mark) {
    return !mark.life.expired() && self->m_active && self->m_run == mark.run;
}

// ---- Properties -------------------------------------------------------------

void TwclProximitySender::SetConnectTimeOut(std::int32_t ms) {
    if (ms == m_connectTimeOut) {
        return;
    }
    if (m_active) {
        throw wclEOperationInProgress();
    }
    for (const auto& slot : m_clients) {
        slot->client->SetConnectTimeOut(ms);
    }
    m_connectTimeOut = ms;
}

void TwclProximitySender::SetResponseTimeOut(std::int32_t ms) {
    if (ms == m_responseTimeOut) {
        return;
    }
    if (m_active) {
        throw wclEOperationInProgress();
    }
    for (const auto& slot : m_clients) {
        slot->client->SetResponseTimeOut(ms);
    }
    m_responseTimeOut = ms;
}

void TwclProximitySender::SetMaxConnections(std::uint8_t count) {
    if (count == MaxConnections()) {
        return;
    }
    if (m_active) {
        throw wclEOperationInProgress();
    }
    if (count == 0) {
        throw wclEInvalidArgument();
    }
    CreateClients(count);
}

void TwclProximitySender::SetSleepInterval(std::uint32_t ms) {
    if (ms == m_sleepInterval) {
        return;
    }
    if (m_active) {
        throw wclEOperationInProgress();
    }
    if (ms < kMinSleepInterval) {
        throw wclEInvalidArgument();
    }
    m_sleepInterval = ms;
}

void TwclProximitySender::SetRadio(const TwclBluetoothRadio* radio) {
    if (radio == m_radio.get()) {
        return;
    }
    if (m_active) {
        throw wclEOperationInProgress();
    }
    if (radio != nullptr) {
        if (!m_radio) {
            m_radio = std::make_unique<TwclBluetoothRadio>();
        }
        m_radio->Assign(radio);
    } else {
        m_radio.reset();
    }
    for (const auto& slot : m_clients) {
        slot->client->BluetoothParams().SetRadio(m_radio.get());
    }
}

// ---- The client pool ----------------------------------------------------------

void TwclProximitySender::CreateClients(std::uint8_t count) {
    // Built aside first, so that a failure leaves the pool as it was.
    std::vector<std::unique_ptr<ClientSlot>> pool;
    pool.reserve(count);
    for (std::uint8_t i = 0; i < count; ++i) {
        auto slot = std::make_unique<ClientSlot>();
        slot->client = m_clientFactory(m_loop);
        if (!slot->client) {
            throw std::logic_error("the client factory made no client");
        }
        TwclOPPClient& client = *slot->client;
        ClientSlot* const raw = slot.get();
        client.BluetoothParams().SetRadio(m_radio.get());
        client.SetClientTransport(TwclClientTransport::ctBluetooth);
        client.OnComplete = [this, raw](TwclCustomOBEXClient&, std::uint32_t result,
                                        TwclOBEXOperation operation) {
            ClientComplete(*raw, result, operation);
        };
        client.OnConnect = [this, raw](TwclCustomConnection&, std::uint32_t result) {
            ClientConnect(*raw, result);
        };
        client.OnDisconnect = [this, raw](TwclCustomConnection&) { ClientDisconnect(*raw); };
        client.OnProgress = [this, raw](TwclCustomOBEXClient&, std::uint32_t position,
                                        std::uint32_t size) {
            ClientProgress(*raw, position, size);
        };
        client.SetConnectTimeOut(m_connectTimeOut);
        client.SetResponseTimeOut(m_responseTimeOut);
        pool.push_back(std::move(slot));
    }
    DestroyClients();
    m_clients = std::move(pool);
}

void TwclProximitySender::DestroyClients() {
    for (const auto& slot : m_clients) {
        slot->client->OnComplete = nullptr;
        slot->client->OnConnect = nullptr;
        slot->client->OnDisconnect = nullptr;
        slot->client->OnProgress = nullptr;
    }
    m_clients.clear();
}

TwclProximitySender::ClientSlot* TwclProximitySender::FirstIdleClient() {
    for (const auto& slot : m_clients) {
        if (!slot->reserved && !slot->client->Active()) {
            return slot.get();
        }
    }
    return nullptr;
}

bool TwclProximitySender::AnyClientActive() const {
    for (const auto& slot : m_clients) {
        if (slot->reserved || slot->client->Active()) {
            return true;
        }
    }
    return false;
}

const TwclBluetoothDevice& TwclProximitySender::DeviceOf(const ClientSlot& slot) const {
    const std::string& address = slot.client->BluetoothParams().Address();
    for (int i = 0; i < m_acceptedDevices.Count(); ++i) {
        const TwclBluetoothDevice& device = m_acceptedDevices.Items(i);
        if (device.Address() == address) {
            return device;
        }
    }
    return slot.device;
}

// ---- Start and Stop -----------------------------------------------------------

void TwclProximitySender::Start() {
    if (m_active) {
        return;
    }
    if (!m_radio) {
        throw wclERadioRequired();
    }
    const TwclBluetoothAPI api = m_radio->API();
    CheckBluetoothAPI(api);
    const auto index = static_cast<std::size_t>(api);
    if (index >= SenderRunningFlags().size()) {
        throw wclEInvalidBluetoothAPI();
    }
    bool expected = false;
    if (!SenderRunningFlags()[index].compare_exchange_strong(expected, true)) {
        throw wclEOperationInProgress();
    }
    m_runningStack = api;
    m_active = true;
    ++m_run;
    m_phase = Phase::Discovering;
    m_deviceCursor = 0;
    m_expectedHandOff = 0;
    const Mark mark = MarkRun();
    Raise(OnStarted, *this);
    if (!StillRunning(this, mark)) {
        return;
    }
    BeginDiscovery();
}

void TwclProximitySender::Stop() {
    if (!m_active) {
        return;
    }
    m_active = false;
    m_phase = Phase::Stopped;
    m_expectedHandOff = 0;
    if (m_discovery->Discovering()) {
        m_discovery->Cancel();
    }
    for (const auto& slot : m_clients) {
        slot->attemptOpen = false;
        slot->linkUp = false;
        // An open link raises the client's OnDisconnect, which is ignored now.
        if (slot->client->Active()) {
            slot->client->Disconnect();
        }
    }
    if (m_sleepTimer != 0) {
        m_loop.StopTimer(m_sleepTimer);
        m_sleepTimer = 0;
    }
    // The pacing timer goes too: a tick left over would otherwise run in the
    // discovery phase of a Start that follows at once.
    if (m_pacingTimer != 0) {
        m_loop.StopTimer(m_pacingTimer);
        m_pacingTimer = 0;
    }
    if (m_runningStack) {
        SenderRunningFlags()[static_cast<std::size_t>(*m_runningStack)].store(false);
        m_runningStack.reset();
    }
    Raise(OnStopped, *this);
}

// ---- The cycle ----------------------------------------------------------------

void TwclProximitySender::HandleMessage(const Message& message) {
    switch (message.Msg) {
        case wclMsg::kSenderHandOff:
            HandOffReceived(static_cast<std::uint64_t>(message.WParam),
                            reinterpret_cast<const TwclBluetoothDevices*>(message.LParam));
            break;
        case wclMsg::kAPIChanged:
            if (m_active && m_radio && !IsBluetoothAPIAvailable(m_radio->API())) {
                Stop();
            }
            break;
        case wclMsg::kAPIUnloading:
            if (m_active) {
                Stop();
            }
            break;
        default:
            break;
    }
}

void TwclProximitySender::BeginDiscovery() {
    if (!m_active) {
        return;
    }
    m_phase = Phase::Discovering;
    bool started = true;
    try {
        m_discovery->Discover(m_radio.get());
    } catch (...) {
        // A discovery that cannot start is tried again after the pause.
        started = false;
    }
    if (!started) {
        BeginSleep();
    }
}

void TwclProximitySender::DiscoveryStarted() {
    m_acceptedDevices.Clear();
    if (m_active) {
        Raise(OnDiscoveryStarted, *this);
    }
}

void TwclProximitySender::DiscoveryComplete(const TwclBluetoothDevices* found) {
    if (!m_active || m_phase != Phase::Discovering) {
        return;
    }
    m_phase = Phase::HandingOff;
    const Mark mark = MarkRun();
    // The handlers get a copy that lives for this pass only.
    TwclBluetoothDevices devices;
    if (found != nullptr) {
        devices.Assign(found);
    }
    Raise(OnDiscoveryComplete, *this, devices);
    if (!StillRunning(this, mark)) {
        return;
    }
    for (int i = 0; i < devices.Count(); ++i) {
        const TwclBluetoothDevice& device = devices.Items(i);
        bool accept = false;
        Raise(OnAcceptDevice, *this, device, accept);
        // Stopped inside the handler (and maybe started again): the rest of
        // this pass and its hand-off belong to a cycle that has ended.
        if (!StillRunning(this, mark)) {
            return;
        }
        if (accept) {
            auto copy = std::make_unique<TwclBluetoothDevice>();
            copy->Assign(&device);
            m_acceptedDevices.Add(std::move(copy));
        }
    }
    StartHandOff();
}

void TwclProximitySender::StartHandOff() {
    ReapHandOffs();
    auto devices = std::make_unique<TwclBluetoothDevices>();
    devices->Assign(&m_acceptedDevices);
    const std::uint64_t id = ++m_lastHandOff;
    m_expectedHandOff = id;
    HandOff handOff;
    handOff.id = id;
    handOff.finished = std::make_shared<std::atomic<bool>>(false);
    try {
        handOff.thread = std::thread(
            TwclSpamServicesThread(std::move(devices), m_window->Handle(), id, handOff.finished));
    } catch (const std::system_error&) {
        // No thread to be had: a posted task carries the same devices, so the
        // cycle still goes on from a fresh turn of the loop.
        auto copy = std::make_shared<TwclBluetoothDevices>();
        copy->Assign(&m_acceptedDevices);
        const std::weak_ptr<void> life = m_lifeToken;
        m_loop.Post([this, life, id, copy] {
            if (life.expired()) {
                return;
            }
            try {
                HandOffReceived(id, copy.get());
            } catch (...) {
                HandleApplicationException(std::current_exception());
            }
        });
        return;
    }
    m_handOffs.push_back(std::move(handOff));
}

void TwclProximitySender::ReapHandOffs() {
    for (auto it = m_handOffs.begin(); it != m_handOffs.end();) {
        // A finished thread has only its return left to do.
        if (it->finished->load() && !it->inHandler) {
            it->thread.join();
            it = m_handOffs.erase(it);
        } else {
            ++it;
        }
    }
}

void TwclProximitySender::HandOffReceived(std::uint64_t id, const TwclBluetoothDevices* devices) {
    // The thread that sent this waits until the handler returns: a sender
    // destroyed meanwhile must let it go instead of joining it.
    const auto markHandler = [this, id](bool inHandler) {
        for (HandOff& handOff : m_handOffs) {
            if (handOff.id == id) {
                handOff.inHandler = inHandler;
            }
        }
    };
    struct LeaveHandler {
        std::weak_ptr<void> life;
        const decltype(markHandler)& mark;
        ~LeaveHandler() {
            if (!life.expired()) {
                mark(false);
            }
        }
    } leave{m_lifeToken, markHandler};
    markHandler(true);

    // A hand-off of a cycle that was stopped (and maybe started again) since
    // is not this cycle's.
    if (!m_active || devices == nullptr || id != m_expectedHandOff ||
        m_phase != Phase::HandingOff) {
        return;
    }
    m_expectedHandOff = 0;
    m_acceptedDevices.Assign(devices);
    const Mark mark = MarkRun();
    Raise(OnDevicesAccepted, *this, m_acceptedDevices);
    if (!StillRunning(this, mark)) {
        return;
    }
    if (m_acceptedDevices.Count() == 0) {
        BeginSleep();
        return;
    }
    m_deviceCursor = 0;
    if (!BuildFileList()) {
        return;
    }
    m_phase = Phase::Connecting;
    StartConnections();
}

bool TwclProximitySender::BuildFileList() {
    m_files.clear();
    if (!m_active) {
        return false;
    }
    const Mark mark = MarkRun();
    // More is not reset between calls: the handler ends the list.
    bool more = true;
    for (std::size_t calls = 0; more && calls < kMaxGetFileCalls; ++calls) {
        std::string fileName;
        if (OnGetFile) {
            Raise(OnGetFile, *this, fileName, more);
            if (!StillRunning(this, mark)) {
                return false;
            }
        } else {
            more = false;
        }
        if (!fileName.empty()) {
            m_files.push_back(std::move(fileName));
        }
    }
    return true;
}

void TwclProximitySender::StartConnections() {
    if (!m_active || m_phase != Phase::Connecting) {
        return;
    }
    const Mark mark = MarkRun();
    const TwclBluetoothAPI api = m_radio->API();
    while (m_deviceCursor < static_cast<std::size_t>(m_acceptedDevices.Count())) {
        ClientSlot* const slot = FirstIdleClient();
        if (slot == nullptr) {
            break;
        }
        const TwclBluetoothDevice& device =
            m_acceptedDevices.Items(static_cast<int>(m_deviceCursor));
        TwclOPPClient& client = *slot->client;
        client.BluetoothParams().SetAddress(device.Address());
        client.BluetoothParams().SetServiceUUID(OBEXObjectPushServiceClassUUID);
        slot->tag = 0;
        slot->attemptOpen = false;
        slot->linkUp = false;
        slot->device.Assign(&device);
        // Taken while OnConnecting runs: a handler that runs a nested loop (a
        // modal dialog) lets a pacing tick in, which must not give this
        // client to another device.
        slot->reserved = true;
        struct Unreserve {
            std::weak_ptr<void> life;
            ClientSlot* slot;
            ~Unreserve() {
                if (!life.expired()) {
                    slot->reserved = false;
                }
            }
        } unreserve{m_lifeToken, slot};
        Raise(OnConnecting, *this, device);
        if (!StillRunning(this, mark)) {
            return;
        }
        ++m_deviceCursor;
        // Set before Connect: a result may arrive inside it.
        slot->attemptOpen = true;
        try {
            client.Connect();
        } catch (const wclException& e) {
            slot->attemptOpen = false;
            slot->reserved = false;
            Raise(OnConnected, *this, DeviceOf(*slot), e.ErrorCode());
            if (!StillRunning(this, mark)) {
                return;
            }
            continue;
        }
        if (!StillRunning(this, mark)) {
            return;
        }
        if (!ConnectsInParallel(api)) {
            // The next attempt starts at the pacing tick after this one's
            // result.
            break;
        }
        EnablePacing();
    }
    if (m_deviceCursor >= static_cast<std::size_t>(m_acceptedDevices.Count()) &&
        !AnyClientActive()) {
        BeginSleep();
    }
}

void TwclProximitySender::BeginSleep() {
    if (!m_active || m_sleepTimer != 0) {
        return;
    }
    m_phase = Phase::Sleeping;
    m_sleepTimer =
        m_loop.StartTimer(Clock::Duration(m_sleepInterval), false, [this] { SleepTick(); });
    Raise(OnSleepStarted, *this);
}

void TwclProximitySender::EnablePacing() {
    if (m_active && m_pacingTimer == 0) {
        m_pacingTimer =
            m_loop.StartTimer(Clock::Duration(kPacingInterval), false, [this] { PacingTick(); });
    }
}

void TwclProximitySender::PacingTick() {
    m_pacingTimer = 0;
    if (!m_active) {
        return;
    }
    // A timer task is no message handler: what the owner's handlers throw
    // goes to the application's handler here, never into the loop.
    try {
        StartConnections();
    } catch (...) {
        HandleApplicationException(std::current_exception());
    }
}

void TwclProximitySender::SleepTick() {
    m_sleepTimer = 0;
    if (!m_active) {
        return;
    }
    try {
        const Mark mark = MarkRun();
        Raise(OnSleepDone, *this);
        if (!StillRunning(this, mark)) {
            return;
        }
        BeginDiscovery();
    } catch (...) {
        HandleApplicationException(std::current_exception());
    }
}

// ---- The clients' events --------------------------------------------------------

void TwclProximitySender::ClientConnect(ClientSlot& slot, std::uint32_t result) {
    if (!m_active || !slot.attemptOpen) {
        return;
    }
    slot.attemptOpen = false;
    slot.linkUp = result == kWclSuccess;
    slot.tag = 0;
    const Mark mark = MarkRun();
    Raise(OnConnected, *this, DeviceOf(slot), result);
    if (!StillRunning(this, mark)) {
        return;
    }
    if (result == kWclSuccess) {
        if (m_files.empty()) {
            slot.client->Disconnect();
        } else {
            Raise(OnFilesSendStart, *this, DeviceOf(slot));
            if (!StillRunning(this, mark)) {
                return;
            }
            SendNextFile(slot);
        }
        if (!StillRunning(this, mark)) {
            return;
        }
    }
    // The next device is tried at the next tick.
    EnablePacing();
}

void TwclProximitySender::ClientDisconnect(ClientSlot& slot) {
    if (!m_active) {
        return;
    }
    const bool wasUp = slot.linkUp;
    const bool pending = slot.attemptOpen;
    slot.linkUp = false;
    slot.attemptOpen = false;
    const Mark mark = MarkRun();
    if (wasUp) {
        Raise(OnDisconnected, *this, DeviceOf(slot));
    } else if (pending) {
        // The link closed before the device answered the OBEX CONNECT, and
        // the client reports no result for that. The attempt failed: it is
        // reported as aborted by the remote side and, like every failed
        // attempt, without OnDisconnected.
        Raise(OnConnected, *this, DeviceOf(slot), kWclErrConnectionClosed);
    }
    // A link that closes after a failed attempt (a refused CONNECT, a
    // time-out on an open link) was reported by OnConnected already.
    if (!StillRunning(this, mark)) {
        return;
    }
    EnablePacing();
}

void TwclProximitySender::ClientComplete(ClientSlot& slot, std::uint32_t result,
                                         TwclOBEXOperation operation) {
    if (!m_active || operation != TwclOBEXOperation::ooPut) {
        return;
    }
    const Mark mark = MarkRun();
    if (slot.tag < m_files.size()) {
        const std::string path = m_files[slot.tag];
        Raise(OnFileSendComplete, *this, DeviceOf(slot), path, result);
        // Destroyed, or stopped and started again: Stop closed this link and
        // the new cycle has nothing to do with it.
        if (mark.life.expired() || mark.run != m_run) {
            return;
        }
    }
    slot.tag = result != kWclSuccess ? m_files.size() : slot.tag + 1;
    // Also when the handler called Stop: SendNextFile then closes this link
    // and nothing more.
    SendNextFile(slot);
}

void TwclProximitySender::ClientProgress(ClientSlot& slot, std::uint32_t position,
                                         std::uint32_t size) {
    if (!m_active || slot.tag >= m_files.size()) {
        return;
    }
    const std::string path = m_files[slot.tag];
    Raise(OnProgress, *this, DeviceOf(slot), path, position, size);
}

void TwclProximitySender::SendNextFile(ClientSlot& slot) {
    TwclOPPClient& client = *slot.client;
    if (!m_active) {
        // The owner stopped the sender inside OnFileSendComplete. The tag may
        // then equal the number of files, and the list is no longer this
        // link's business: nothing is indexed, and only this client's link is
        // closed (Stop has normally closed it already).
        if (client.Active()) {
            client.Disconnect();
        }
        return;
    }
    const Mark mark = MarkRun();
    const auto closeIfSameRun = [&] {
        if (!mark.life.expired() && mark.run == m_run && client.Active()) {
            client.Disconnect();
        }
    };
    // Every index past the list ends the device, whatever brought it there.
    if (slot.tag >= m_files.size()) {
        Raise(OnFilesSendComplete, *this, DeviceOf(slot));
        closeIfSameRun();
        return;
    }
    const std::string path = m_files[slot.tag];
    Raise(OnFileSendStart, *this, DeviceOf(slot), path);
    if (!StillRunning(this, mark)) {
        closeIfSameRun();
        return;
    }
    std::uint32_t failure = kWclSuccess;
    try {
        // The file is read as its packets go out: the client holds it open
        // for the put, never the whole of it in memory.
        client.Put(PushNameOfPath(path), std::make_unique<TwclOBEXFileSource>(path));
    } catch (const wclException& e) {
        failure = e.ErrorCode();
    } catch (...) {
        failure = kWclErrInvalidData;
    }
    if (failure == kWclSuccess) {
        return;  // the transfer goes on; OnComplete ends it
    }
    Raise(OnFileSendComplete, *this, DeviceOf(slot), path, failure);
    if (mark.life.expired() || mark.run != m_run) {
        return;
    }
    // The remaining files of this device are skipped.
    slot.tag = m_files.size();
    SendNextFile(slot);
}

}  // namespace kavri
