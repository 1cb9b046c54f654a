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

std::shared_ptr<wclBindingSlot> MakeSlot(std::unique_ptr<wclBluetoothBinding> binding) {
    return std::make_shared<wclBindingSlot>(binding ? std::move(binding) : CreateAbsentBinding());
}

std::unique_ptr<wclStackLoader> OrAbsent(std::unique_ptr<wclStackLoader> loader) {
    if (loader) {
        return loader;
    }
    return CreateAbsentBinding();
}

// Includes or excludes the stack's value when msg is its arrival or removal
// message.
template <typename Stack, typename Value>
bool ApplyMessage(const Stack& stack, Value value, std::uint32_t msg, TwclSet<Value>& set) {
    if (msg == stack.arrivalMessage) {
        set.Include(value);
        return true;
    }
    if (msg == stack.removalMessage) {
        set.Exclude(value);
        return true;
    }
    return false;
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

TwclAPIManager::TwclAPIManager(EventLoop& loop, wclLoaderSet loaders) : m_loop(loop) {
    CheckLoaderSet(loaders);
    for (wclBluetoothLoader& stack : loaders.bluetooth) {
        m_bluetoothStacks.push_back({stack.api, stack.arrivalMessage, stack.removalMessage,
                                     MakeSlot(std::move(stack.binding))});
    }
    for (wclTransportLoader& stack : loaders.transports) {
        m_transportStacks.push_back({stack.transport, stack.arrivalMessage, stack.removalMessage,
                                     OrAbsent(std::move(stack.loader))});
    }
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
        for (const BluetoothStack& stack : m_bluetoothStacks) {
            if (stack.slot->Binding().Load(handle)) {
                apis.Include(stack.api);
            }
            stack.slot->Open();
        }
        for (const TransportStack& stack : m_transportStacks) {
            if (stack.loader->Load(handle)) {
                transports.Include(stack.transport);
            }
        }
    } catch (...) {
        // Loaders do not throw for a missing stack; anything else (memory)
        // must not leave half the stacks loaded behind an unloaded manager.
        UnloadStacks();
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
    UnloadStacks();
}

void TwclAPIManager::UnloadStacks() {
    for (const BluetoothStack& stack : m_bluetoothStacks) {
        // A discovery or connection thread may be inside this binding right
        // now; its libraries stay loaded until that call has returned.
        stack.slot->CloseAndWait();
        stack.slot->Binding().Unload();
    }
    for (const TransportStack& stack : m_transportStacks) {
        stack.loader->Unload();
    }
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

std::vector<TwclBluetoothAPI> TwclAPIManager::BluetoothAPIs() const {
    std::vector<TwclBluetoothAPI> apis;
    for (const BluetoothStack& stack : m_bluetoothStacks) {
        apis.push_back(stack.api);
    }
    return apis;
}

wclBluetoothBinding* TwclAPIManager::Binding(TwclBluetoothAPI api) const {
    const std::shared_ptr<wclBindingSlot> slot = BindingSlot(api);
    return slot ? &slot->Binding() : nullptr;
}

std::shared_ptr<wclBindingSlot> TwclAPIManager::BindingSlot(TwclBluetoothAPI api) const {
    for (const BluetoothStack& stack : m_bluetoothStacks) {
        if (stack.api == api) {
            return stack.slot;
        }
    }
    return nullptr;
}

MessageWindowHandle TwclAPIManager::WindowHandle() const {
    std::lock_guard lock(m_stateMutex);
    return m_windowHandle;
}

void TwclAPIManager::HandleMessage(const Message& message) {
    {
        std::lock_guard lock(m_stateMutex);
        if (!ApplyStackMessageLocked(message.Msg)) {
            return;
        }
        if (m_apis.Empty()) {
            m_transports.Exclude(TwclTransport::trBluetooth);
        } else {
            m_transports.Include(TwclTransport::trBluetooth);
        }
    }
    ProcessNotificationList().BroadcastPost(wclMsg::kAPIChanged);
}

bool TwclAPIManager::ApplyStackMessageLocked(std::uint32_t msg) {
    for (const BluetoothStack& stack : m_bluetoothStacks) {
        if (ApplyMessage(stack, stack.api, msg, m_apis)) {
            return true;
        }
    }
    for (const TransportStack& stack : m_transportStacks) {
        if (ApplyMessage(stack, stack.transport, msg, m_transports)) {
            return true;
        }
    }
    return false;
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
