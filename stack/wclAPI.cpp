#include "stack/wclAPI.h"

#include <stdexcept>
#include <utility>

#include "stack/wclAbsentBinding.h"
#include "stack/wclExceptions.h"

namespace kavri {
namespace {

// The one live manager. Its lock is held while a thread reads the manager's
// state through the free checks, and the destructor clears the pointer under
// it, so no other thread touches a manager that is going away. Taken before
// the manager's state lock, never while holding it.
std::mutex& CurrentMutex() {
    static std::mutex mutex;
    return mutex;
}
TwclAPIManager* g_current = nullptr;  // guarded by CurrentMutex()

constexpr unsigned kBluetoothStackCount = 4;

std::shared_ptr<wclBindingSlot> MakeSlot(std::unique_ptr<wclBluetoothBinding> binding) {
    return std::make_shared<wclBindingSlot>(binding ? std::move(binding) : CreateAbsentBinding());
}

std::unique_ptr<wclStackLoader> OrAbsent(std::unique_ptr<wclStackLoader> loader) {
    if (loader) {
        return loader;
    }
    return CreateAbsentBinding();
}

void RequireLoopThread(const EventLoop& loop) {
    if (!loop.IsLoopThread()) {
        throw std::logic_error("the stack manager is loaded and unloaded on its loop's thread");
    }
}

}  // namespace

TwclTransport ClientTransportToTransport(TwclClientTransport transport) {
    switch (transport) {
        case TwclClientTransport::ctBluetooth:
            return TwclTransport::trBluetooth;
        case TwclClientTransport::ctIrDA:
            return TwclTransport::trIrDA;
        case TwclClientTransport::ctSerial:
            return TwclTransport::trSerial;
    }
    throw wclETransportNotAvailable();
}

// wclBindingSlot

wclBindingSlot::Lease& wclBindingSlot::Lease::operator=(Lease&& other) noexcept {
    if (this != &other) {
        Release();
        m_slot = std::move(other.m_slot);
    }
    return *this;
}

wclBindingSlot::Lease::~Lease() {
    Release();
}

void wclBindingSlot::Lease::Release() {
    if (m_slot) {
        m_slot->Return();
        m_slot.reset();
    }
}

wclBindingSlot::wclBindingSlot(std::unique_ptr<wclBluetoothBinding> binding)
    : m_binding(std::move(binding)) {
    if (!m_binding) {
        throw std::invalid_argument("a binding slot needs a binding");
    }
}

wclBindingSlot::Lease wclBindingSlot::TryAcquire() {
    std::lock_guard lock(m_mutex);
    if (!m_open) {
        return Lease();
    }
    ++m_active;
    return Lease(shared_from_this());
}

void wclBindingSlot::Open() {
    std::lock_guard lock(m_mutex);
    m_open = true;
}

void wclBindingSlot::CloseAndWait() {
    std::unique_lock lock(m_mutex);
    m_open = false;
    m_idle.wait(lock, [this] { return m_active == 0; });
}

std::size_t wclBindingSlot::ActiveCalls() const {
    std::lock_guard lock(m_mutex);
    return m_active;
}

void wclBindingSlot::Return() {
    std::lock_guard lock(m_mutex);
    if (--m_active == 0) {
        m_idle.notify_all();
    }
}

// TwclAPIManager

class TwclAPIManager::LoadScope {
public:
    explicit LoadScope(TwclAPIManager& manager) : m_manager(manager), m_lock(manager.m_loadMutex) {
        m_manager.m_loadOwner = std::this_thread::get_id();
    }
    ~LoadScope() { m_manager.m_loadOwner = std::thread::id(); }

    LoadScope(const LoadScope&) = delete;
    LoadScope& operator=(const LoadScope&) = delete;

private:
    TwclAPIManager& m_manager;
    std::lock_guard<std::mutex> m_lock;
};

TwclAPIManager::TwclAPIManager(EventLoop& loop, wclLoaderSet loaders)
    : m_loop(loop),
      m_bluetooth{MakeSlot(std::move(loaders.blueSoleil)), MakeSlot(std::move(loaders.microsoft)),
                  MakeSlot(std::move(loaders.toshiba)), MakeSlot(std::move(loaders.widcomm))},
      m_rapi(OrAbsent(std::move(loaders.rapi))),
      m_irda(OrAbsent(std::move(loaders.irda))) {
    std::lock_guard lock(CurrentMutex());
    if (g_current != nullptr) {
        throw std::logic_error("only one stack manager may exist at a time");
    }
    g_current = this;
}

TwclAPIManager::~TwclAPIManager() {
    {
        std::lock_guard lock(CurrentMutex());
        g_current = nullptr;
    }
    try {
        Unload();
    } catch (...) {
        HandleApplicationException(std::current_exception());
    }
}

TwclAPIManager* TwclAPIManager::Current() {
    std::lock_guard lock(CurrentMutex());
    return g_current;
}

void TwclAPIManager::Load() {
    RequireLoopThread(m_loop);
    // Called again from a handler that Load or Unload is sending to: the
    // manager is in the middle of changing state, so there is nothing to do.
    if (m_loadOwner.load() == std::this_thread::get_id()) {
        return;
    }
    LoadScope scope(*this);
    if (IsLoaded()) {
        return;
    }
    // The Windows stacks needed the socket library started here; sockets on
    // this system need no start-up, so there is nothing to start or clean up.
    auto window = std::make_unique<MessageWindow>(
        m_loop, [this](const Message& message) { HandleMessage(message); });
    const MessageWindowHandle handle = window->Handle();

    TwclBluetoothAPIs apis;
    TwclTransports transports;
    transports.Include(TwclTransport::trSerial);
    try {
        // BlueSoleil, Microsoft, Toshiba, Widcomm: the order of the slots.
        for (unsigned i = 0; i < kBluetoothStackCount; ++i) {
            if (m_bluetooth[i]->Binding().Load(handle)) {
                apis.Include(static_cast<TwclBluetoothAPI>(i));
            }
            m_bluetooth[i]->Open();
        }
        if (m_rapi->Load(handle)) {
            transports.Include(TwclTransport::trRAPI);
        }
        if (m_irda->Load(handle)) {
            transports.Include(TwclTransport::trIrDA);
        }
    } catch (...) {
        // Loaders do not throw for a missing stack; anything else (memory)
        // must not leave half the stacks loaded behind an unloaded manager.
        for (const auto& slot : m_bluetooth) {
            slot->CloseAndWait();
            slot->Binding().Unload();
        }
        m_rapi->Unload();
        m_irda->Unload();
        throw;
    }
    if (!apis.Empty()) {
        transports.Include(TwclTransport::trBluetooth);
    }
    {
        std::lock_guard lock(m_stateMutex);
        m_window = std::move(window);
        m_windowHandle = handle;
        m_apis = apis;
        m_transports = transports;
    }
    ProcessNotificationList().BroadcastPost(wclMsg::kAPILoaded);
}

void TwclAPIManager::Unload() {
    RequireLoopThread(m_loop);
    if (m_loadOwner.load() == std::this_thread::get_id()) {
        return;
    }
    LoadScope scope(*this);
    std::unique_ptr<MessageWindow> window;
    {
        std::lock_guard lock(m_stateMutex);
        if (!m_window) {
            return;
        }
        window = std::move(m_window);
        m_windowHandle = MessageWindowHandle();
        m_apis = TwclBluetoothAPIs();
        m_transports = TwclTransports();
    }
    // Arrival and removal messages still queued for the window are dropped.
    window.reset();

    // Synchronous, so that every component has let go of its stack (running
    // connections and senders stop) before any library is freed.
    try {
        ProcessNotificationList().BroadcastSend(wclMsg::kAPIUnloading);
    } catch (...) {
        HandleApplicationException(std::current_exception());
    }

    for (const auto& slot : m_bluetooth) {
        // A discovery or connection thread may be inside this binding right
        // now; its libraries stay loaded until that call has returned.
        slot->CloseAndWait();
        slot->Binding().Unload();
    }
    m_rapi->Unload();
    m_irda->Unload();
}

bool TwclAPIManager::IsLoaded() const {
    std::lock_guard lock(m_stateMutex);
    return m_window != nullptr;
}

TwclBluetoothAPIs TwclAPIManager::APIs() const {
    std::lock_guard lock(m_stateMutex);
    return m_apis;
}

TwclTransports TwclAPIManager::Transports() const {
    std::lock_guard lock(m_stateMutex);
    return m_transports;
}

wclBluetoothBinding* TwclAPIManager::Binding(TwclBluetoothAPI api) const {
    const auto index = static_cast<unsigned>(api);
    return index < kBluetoothStackCount ? &m_bluetooth[index]->Binding() : nullptr;
}

std::shared_ptr<wclBindingSlot> TwclAPIManager::BindingSlot(TwclBluetoothAPI api) const {
    const auto index = static_cast<unsigned>(api);
    return index < kBluetoothStackCount ? m_bluetooth[index] : nullptr;
}

MessageWindowHandle TwclAPIManager::WindowHandle() const {
    std::lock_guard lock(m_stateMutex);
    return m_windowHandle;
}

void TwclAPIManager::HandleMessage(const Message& message) {
    if (message.Msg < wclMsg::kRAPIConnected || message.Msg > wclMsg::kIrDAAbsent) {
        return;
    }
    // The messages come in pairs, arrival then removal: RAPI, the four
    // Bluetooth stacks in the order of their values, IrDA.
    const unsigned offset = message.Msg - wclMsg::kRAPIConnected;
    const unsigned pair = offset / 2;
    const bool arrived = offset % 2 == 0;
    {
        std::lock_guard lock(m_stateMutex);
        if (pair == 0 || pair == 5) {
            const TwclTransport transport =
                pair == 0 ? TwclTransport::trRAPI : TwclTransport::trIrDA;
            if (arrived) {
                m_transports.Include(transport);
            } else {
                m_transports.Exclude(transport);
            }
        } else {
            const auto api = static_cast<TwclBluetoothAPI>(pair - 1);
            if (arrived) {
                m_apis.Include(api);
            } else {
                m_apis.Exclude(api);
            }
        }
        if (m_apis.Empty()) {
            m_transports.Exclude(TwclTransport::trBluetooth);
        } else {
            m_transports.Include(TwclTransport::trBluetooth);
        }
    }
    ProcessNotificationList().BroadcastPost(wclMsg::kAPIChanged);
}

void TwclAPIManager::CheckTransportLocked(TwclTransport transport) const {
    if (!m_window) {
        throw wclEAPINotLoaded();
    }
    if (!m_transports.Contains(transport)) {
        throw wclETransportNotAvailable();
    }
}

void TwclAPIManager::CheckBluetoothAPILocked(TwclBluetoothAPI api) const {
    CheckTransportLocked(TwclTransport::trBluetooth);
    if (!m_apis.Contains(api)) {
        throw wclEBluetoothAPINotAvailable();
    }
}

// Library-wide checks

void CheckAPILoaded() {
    std::lock_guard lock(CurrentMutex());
    if (g_current == nullptr || !g_current->IsLoaded()) {
        throw wclEAPINotLoaded();
    }
}

void CheckTransport(TwclTransport transport) {
    std::lock_guard lock(CurrentMutex());
    if (g_current == nullptr) {
        throw wclEAPINotLoaded();
    }
    std::lock_guard state(g_current->m_stateMutex);
    g_current->CheckTransportLocked(transport);
}

void CheckBluetoothAPI(TwclBluetoothAPI api) {
    std::lock_guard lock(CurrentMutex());
    if (g_current == nullptr) {
        throw wclEAPINotLoaded();
    }
    std::lock_guard state(g_current->m_stateMutex);
    g_current->CheckBluetoothAPILocked(api);
}

bool IsBluetoothAPIAvailable(TwclBluetoothAPI api) {
    std::lock_guard lock(CurrentMutex());
    return g_current != nullptr && g_current->APIs().Contains(api);
}

bool IsTransportAvailable(TwclTransport transport) {
    std::lock_guard lock(CurrentMutex());
    return g_current != nullptr && g_current->Transports().Contains(transport);
}

wclBindingSlot::Lease AcquireBluetoothBinding(TwclBluetoothAPI api) {
    std::shared_ptr<wclBindingSlot> slot;
    {
        std::lock_guard lock(CurrentMutex());
        if (g_current == nullptr) {
            throw wclEAPINotLoaded();
        }
        {
            std::lock_guard state(g_current->m_stateMutex);
            g_current->CheckBluetoothAPILocked(api);
        }
        slot = g_current->BindingSlot(api);
        if (!slot) {
            throw wclEInvalidBluetoothAPI();
        }
    }
    wclBindingSlot::Lease lease = slot->TryAcquire();
    if (!lease) {
        // The manager began to unload after the check.
        throw wclEAPINotLoaded();
    }
    return lease;
}

// TwclAPI

TwclAPI::TwclAPI(EventLoop& loop)
    : m_window(loop, [this](const Message& message) { HandleMessage(message); }) {
    ProcessNotificationList().Add(m_window.Handle());
}

TwclAPI::~TwclAPI() {
    ProcessNotificationList().Remove(m_window.Handle());
}

void TwclAPI::Load() {
    TwclAPIManager* manager = TwclAPIManager::Current();
    if (manager == nullptr) {
        throw wclEAPINotLoaded();
    }
    manager->Load();
}

void TwclAPI::Unload() {
    if (TwclAPIManager* manager = TwclAPIManager::Current()) {
        manager->Unload();
    }
}

void TwclAPI::HandleMessage(const Message& message) {
    std::function<void(TwclAPI&)> handler;
    switch (message.Msg) {
        case wclMsg::kAPIChanged:
            handler = OnChanged;
            break;
        case wclMsg::kAPILoaded:
            handler = OnLoaded;
            break;
        case wclMsg::kAPIUnloading:
            handler = OnUnloaded;
            break;
        default:
            return;
    }
    // A copy, so that a handler may reassign its own event. What it throws
    // goes from the window to the application's exception handler.
    if (handler) {
        handler(*this);
    }
}

// TwclDummyWindow

TwclDummyWindow::TwclDummyWindow(EventLoop& loop) : m_window(loop, [](const Message&) {}) {}

}  // namespace kavri
