#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/EventLoop.h"
#include "stack/wclLoaders.h"
#include "stack/wclMessages.h"
#include "stack/wclStackBinding.h"
#include "stack/wclTypes.h"

namespace kavri {

// The transports of the client connections, and the library transport each
// one needs.
enum class TwclClientTransport : std::uint8_t {
    ctBluetooth = 0,
    ctIrDA = 1,
    ctSerial = 2,
};

// ctBluetooth, ctIrDA, ctSerial map to trBluetooth, trIrDA, trSerial; any other
// value raises wclETransportNotAvailable.
TwclTransport ClientTransportToTransport(TwclClientTransport transport);

// One stack binding shared by the manager and every thread that calls it.
// The manager opens the slot when it loads and closes it when it unloads;
// closing waits until the calls that hold a lease have returned, so a stack's
// libraries are never freed under a running call, and the shared ownership
// keeps the binding object itself alive for a thread that outlives the
// manager. Thread-safe.
class wclBindingSlot : public std::enable_shared_from_this<wclBindingSlot> {
public:
    // Holds the slot open for one call. An empty lease means the slot was
    // closed (the stack is being unloaded or was never loaded).
    class Lease {
    public:
        Lease() = default;
        Lease(Lease&& other) noexcept = default;
        Lease& operator=(Lease&& other) noexcept;
        ~Lease();

        explicit operator bool() const { return m_slot != nullptr; }
        wclBluetoothBinding* operator->() const { return m_slot->m_binding.get(); }
        wclBluetoothBinding& operator*() const { return *m_slot->m_binding; }
        // Gives the slot back early; harmless on an empty lease.
        void Release();

    private:
        friend class wclBindingSlot;
        explicit Lease(std::shared_ptr<wclBindingSlot> slot) : m_slot(std::move(slot)) {}

        std::shared_ptr<wclBindingSlot> m_slot;
    };

    explicit wclBindingSlot(std::unique_ptr<wclBluetoothBinding> binding);

    wclBindingSlot(const wclBindingSlot&) = delete;
    wclBindingSlot& operator=(const wclBindingSlot&) = delete;

    // For the manager's own load and unload, on its thread.
    wclBluetoothBinding& Binding() const { return *m_binding; }

    Lease TryAcquire();
    void Open();
    // Refuses new leases, then blocks until every lease has been given back.
    void CloseAndWait();
    std::size_t ActiveCalls() const;

private:
    void Return();

    const std::unique_ptr<wclBluetoothBinding> m_binding;
    mutable std::mutex m_mutex;
    std::condition_variable m_idle;
    bool m_open = false;       // guarded by m_mutex
    std::size_t m_active = 0;  // guarded by m_mutex
};

// The process's one stack manager: loads every installed stack, keeps which
// Bluetooth stacks have a ready radio (APIs) and which transports are usable
// (Transports), and tells every window of the process notification list when
// that changes (1041), when it has loaded (1042, posted) and when it unloads
// (1043, sent).
//
// Threads: created, loaded, unloaded and destroyed on the thread of its event
// loop (Load and Unload raise std::logic_error elsewhere); the loaders'
// watcher threads only post to its window. The queries and the library-wide
// checks below may be called from any thread.
// Owns: one loader per line of its stack table (the Bluetooth ones inside
// shared binding slots) and, while loaded, its message window. It loads the
// Bluetooth stacks first, then the other transports, each in the table's order,
// unloads in the same order, and knows a stack's arrival and removal by the
// message numbers of its line. Only one manager may exist at a time (the
// constructor raises std::logic_error for a second one); Current() returns it.
// Locks: the load lock serialises Load and Unload; the state lock guards the
// sets and the loaded state; the load lock is always taken first.
//
// Unload blocks until binding calls running on other threads (a discovery's
// inquiry, a connection's service search) have returned, so a binding call
// must never wait for the manager's thread. Load and Unload called from an
// OnUnloaded handler (that is, while this thread is inside Load or Unload) do
// nothing.
class TwclAPIManager {
public:
    // Raises std::invalid_argument for a set that CheckLoaderSet refuses.
    TwclAPIManager(EventLoop& loop, wclLoaderSet loaders);
    // Unloads first.
    ~TwclAPIManager();

    TwclAPIManager(const TwclAPIManager&) = delete;
    TwclAPIManager& operator=(const TwclAPIManager&) = delete;

    // The live manager, or nullptr. Safe to call from any thread; the pointer
    // itself is for the manager's thread.
    static TwclAPIManager* Current();

    void Load();
    void Unload();

    bool IsLoaded() const;
    TwclBluetoothAPIs APIs() const;
    TwclTransports Transports() const;

    // The values of the table's Bluetooth stacks, in the table's order. Fixed
    // at construction; any thread.
    std::vector<TwclBluetoothAPI> BluetoothAPIs() const;
    // The binding of a Bluetooth stack, nullptr for a value not in the table.
    // For the manager's thread; other threads go through AcquireBluetoothBinding.
    wclBluetoothBinding* Binding(TwclBluetoothAPI api) const;
    // The shared slot of a Bluetooth stack's binding, nullptr for a value not
    // in the table.
    std::shared_ptr<wclBindingSlot> BindingSlot(TwclBluetoothAPI api) const;

    // The manager's window while loaded (the loaders' notification target);
    // a null handle otherwise.
    MessageWindowHandle WindowHandle() const;
    EventLoop& Loop() const { return m_loop; }

private:
    friend void CheckAPILoaded();
    friend void CheckTransport(TwclTransport transport);
    friend void CheckBluetoothAPI(TwclBluetoothAPI api);
    friend wclBindingSlot::Lease AcquireBluetoothBinding(TwclBluetoothAPI api);

    // Clears the load owner on every way out of Load and Unload.
    class LoadScope;

    // A Bluetooth stack of the table, and a transport that is not Bluetooth.
    struct BluetoothStack {
        TwclBluetoothAPI api;
        std::uint32_t arrivalMessage;
        std::uint32_t removalMessage;
        std::shared_ptr<wclBindingSlot> slot;
    };
    struct TransportStack {
        TwclTransport transport;
        std::uint32_t arrivalMessage;
        std::uint32_t removalMessage;
        std::unique_ptr<wclStackLoader> loader;
    };

    void HandleMessage(const Message& message);
    // Moves the bit of the stack whose arrival or removal message this is;
    // false when no line of the table has it. Under m_stateMutex.
    bool ApplyStackMessageLocked(std::uint32_t msg);
    // Closes every slot (waiting for running calls) and unloads every loader.
    void UnloadStacks();
    // Under m_stateMutex.
    void CheckBluetoothAPILocked(TwclBluetoothAPI api) const;
    void CheckTransportLocked(TwclTransport transport) const;

    EventLoop& m_loop;
    TwclBluetoothAPIs m_apis;     // guarded by m_stateMutex
    TwclTransports m_transports;  // guarded by m_stateMutex
    // In the table's order; the lists never change after construction.
    std::vector<BluetoothStack> m_bluetoothStacks;
    std::vector<TransportStack> m_transportStacks;
    std::mutex m_loadMutex;
    mutable std::mutex m_stateMutex;
    std::atomic<std::thread::id> m_loadOwner{};
    std::unique_ptr<MessageWindow> m_window;  // the pointer is guarded by m_stateMutex
    MessageWindowHandle m_windowHandle;       // guarded by m_stateMutex
};

// Library-wide checks, any thread. Without a manager the library counts as not
// loaded, with empty sets; a value above 7 is never available.
// wclEAPINotLoaded unless the manager is loaded.
void CheckAPILoaded();
// CheckAPILoaded, then wclETransportNotAvailable unless the transport is usable.
void CheckTransport(TwclTransport transport);
// CheckTransport(trBluetooth), then wclEBluetoothAPINotAvailable unless the
// stack has a ready radio.
void CheckBluetoothAPI(TwclBluetoothAPI api);
bool IsBluetoothAPIAvailable(TwclBluetoothAPI api);
bool IsTransportAvailable(TwclTransport transport);

// How every radio and device operation reaches its stack: CheckBluetoothAPI,
// then wclEInvalidBluetoothAPI for a value not in the manager's table, then a lease on the
// stack's binding (wclEAPINotLoaded when unloading has already begun). Any
// thread; keep the lease only for the call.
wclBindingSlot::Lease AcquireBluetoothBinding(TwclBluetoothAPI api);

// The component an application places on its main window: its only handle on
// the manager. Its window is in the process notification list from creation
// to destruction and turns 1041, 1042 and 1043 into OnChanged, OnLoaded and
// OnUnloaded, raised on the loop thread. An exception from a handler goes to
// the application's exception handler. Created and destroyed on the loop
// thread; destroying it does not unload the manager.
class TwclAPI {
public:
    explicit TwclAPI(EventLoop& loop);
    ~TwclAPI();

    TwclAPI(const TwclAPI&) = delete;
    TwclAPI& operator=(const TwclAPI&) = delete;

    // Load raises wclEAPINotLoaded when there is no manager to load; Unload
    // then does nothing (there is nothing loaded).
    void Load();
    void Unload();

    MessageWindowHandle Handle() const { return m_window.Handle(); }

    std::function<void(TwclAPI& sender)> OnChanged;
    std::function<void(TwclAPI& sender)> OnLoaded;
    std::function<void(TwclAPI& sender)> OnUnloaded;

private:
    void HandleMessage(const Message& message);

    MessageWindow m_window;
};

// A message window that does nothing with what it receives: code that waits
// for a stack's completion message gives its handle to the stack and pumps it
// (PumpMessagesUntil). Created and destroyed on the loop thread; throws
// nothing of its own.
class TwclDummyWindow {
public:
    explicit TwclDummyWindow(EventLoop& loop);

    MessageWindowHandle Handle() const { return m_window.Handle(); }

private:
    MessageWindow m_window;
};

}  // namespace kavri
