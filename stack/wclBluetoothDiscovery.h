#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/EventLoop.h"
#include "stack/wclMessages.h"
#include "stack/wclTypes.h"
#include "stack/wclUUIDs.h"

namespace kavri {

// The stack-independent model of the Bluetooth world: the local radio, remote
// devices and their services, their lists, and the discovery component.
//
// Radios, devices and services are plain values that any thread may use; an
// operation that reaches a stack checks availability first (CheckBluetoothAPI:
// wclEAPINotLoaded, wclETransportNotAvailable, wclEBluetoothAPINotAvailable),
// raises wclEInvalidBluetoothAPI for a stack value not in the manager's table, then blocks
// in that stack's binding, which raises the error of its operation. Device
// operations given no radio raise wclERadioRequired before anything else.
// Lists own their items. Names are UTF-8.

// A local radio, identified only by the stack that serves it.
class TwclBluetoothRadio {
public:
    TwclBluetoothRadio() = default;
    explicit TwclBluetoothRadio(TwclBluetoothAPI api) : m_api(api) {}

    TwclBluetoothAPI API() const { return m_api; }
    void SetAPI(TwclBluetoothAPI api) { m_api = api; }

    // The radio's address text, read from its stack.
    std::string Address() const;
    // Writes the radio's name to its stack.
    void SetName(const std::string& name) const;

    // Copies API; a null source raises wclEInvalidArgument.
    void Assign(const TwclBluetoothRadio* source);

private:
    TwclBluetoothAPI m_api = TwclBluetoothAPI::baBlueSoleil;
};

class TwclBluetoothServices;

// A remote device, known by its address text.
class TwclBluetoothDevice {
public:
    const std::string& Address() const { return m_address; }
    // Text equal to the current address changes nothing and is not checked;
    // other text is validated (wclEInvalidAddress, address unchanged) and stored.
    void SetAddress(std::string_view address);

    // Copies the address; a null source raises wclEInvalidArgument.
    void Assign(const TwclBluetoothDevice* source);

    // The device's name as its stack reads it over the air.
    std::string GetName(const TwclBluetoothRadio* radio) const;
    // The 24-bit class of device.
    std::uint32_t GetClassOfDevice(const TwclBluetoothRadio* radio) const;
    // The device's services, all of them or only those of one class; the list
    // belongs to the caller.
    std::unique_ptr<TwclBluetoothServices> EnumServices(
        const TwclBluetoothRadio* radio,
        const std::optional<GUID>& serviceClass = std::nullopt) const;

private:
    std::string m_address{"(00:00:00:00:00:00)"};
};

// A service of a remote device.
class TwclBluetoothService {
public:
    // The RFCOMM server channel, 0 when none was found.
    std::uint8_t Channel() const { return m_channel; }
    // 32 or more raises wclEInvalidChannelNumber and changes nothing.
    void SetChannel(unsigned channel);
    const std::string& Comment() const { return m_comment; }
    void SetComment(std::string comment) { m_comment = std::move(comment); }
    const std::string& Name() const { return m_name; }
    void SetName(std::string name) { m_name = std::move(name); }
    const GUID& UUID() const { return m_uuid; }
    void SetUUID(const GUID& uuid) { m_uuid = uuid; }

    // Copies all four fields; a null source raises wclEInvalidArgument.
    void Assign(const TwclBluetoothService* source);

private:
    std::uint8_t m_channel = 0;
    std::string m_comment;
    std::string m_name;
    GUID m_uuid = BaseUUID;
};

// An owning list: Items outside 0 to Count-1 raises wclEIndexOutOfRange, Add
// of nothing raises wclEInvalidArgument.
template <typename Item>
class wclOwningList {
public:
    wclOwningList() = default;
    wclOwningList(const wclOwningList&) = delete;
    wclOwningList& operator=(const wclOwningList&) = delete;

    int Count() const { return static_cast<int>(m_items.size()); }
    Item& Items(int index) const;
    // Takes ownership and returns the item, now at the end of the list.
    Item& Add(std::unique_ptr<Item> item);
    void Clear() { m_items.clear(); }

protected:
    // A null source raises wclEInvalidArgument; the list itself changes nothing;
    // otherwise every item is copied with its Assign, in order.
    void AssignList(const wclOwningList* source);

private:
    std::vector<std::unique_ptr<Item>> m_items;
};

extern template class wclOwningList<TwclBluetoothRadio>;
extern template class wclOwningList<TwclBluetoothDevice>;
extern template class wclOwningList<TwclBluetoothService>;

class TwclBluetoothRadios : public wclOwningList<TwclBluetoothRadio> {};

class TwclBluetoothDevices : public wclOwningList<TwclBluetoothDevice> {
public:
    void Assign(const TwclBluetoothDevices* source) { AssignList(source); }
};

class TwclBluetoothServices : public wclOwningList<TwclBluetoothService> {
public:
    void Assign(const TwclBluetoothServices* source) { AssignList(source); }
};

// Runs one device inquiry at a time on a worker thread and reports its start
// and end as events on the loop thread.
//
// Lives on the loop thread: create, use and destroy it there. While a
// discovery runs the component owns a message window; the worker thread frees
// itself and holds only copies (its radio, the window's handle, a share of the
// stack's binding), so Cancel and destruction simply release the window and
// the thread's later messages are lost. The radio and the devices handed to
// the events live only during the handler: copy with Assign what you keep.
// Handler exceptions go to the application's exception handler.
class TwclBluetoothDiscovery {
public:
    explicit TwclBluetoothDiscovery(EventLoop& loop);
    ~TwclBluetoothDiscovery();

    TwclBluetoothDiscovery(const TwclBluetoothDiscovery&) = delete;
    TwclBluetoothDiscovery& operator=(const TwclBluetoothDiscovery&) = delete;

    // One radio per stack with a ready radio, in the order of the manager's
    // stack table; the list belongs to the caller.
    // CheckTransport(trBluetooth) errors.
    std::unique_ptr<TwclBluetoothRadios> EnumRadios() const;

    // Starts an inquiry on the radio's stack and returns at once.
    // wclEOperationInProgress while a discovery runs (also from inside its
    // handlers), then wclERadioRequired, then the CheckBluetoothAPI errors.
    void Discover(const TwclBluetoothRadio* radio);
    bool Discovering() const { return m_window != nullptr; }
    // Ends the running discovery at once as far as the owner is concerned: no
    // event of it will be raised. Does nothing when none runs.
    void Cancel();

    std::function<void(TwclBluetoothDiscovery& sender, const TwclBluetoothRadio& radio)>
        OnDiscoveryStarted;
    // devices is null when the inquiry failed; an inquiry that found nothing
    // gives an empty list.
    std::function<void(TwclBluetoothDiscovery& sender, const TwclBluetoothRadio& radio,
                       const TwclBluetoothDevices* devices)>
        OnDiscoveryComplete;

private:
    void HandleMessage(std::uint64_t generation, const Message& message);

    EventLoop& m_loop;
    std::unique_ptr<MessageWindow> m_window;
    // Which discovery the window belongs to, so that the end of one discovery
    // never releases the window of a newer one started from its handler.
    std::uint64_t m_generation = 0;
    // Expires when the component is destroyed, also from inside a handler.
    std::shared_ptr<int> m_lifeToken = std::make_shared<int>(0);
};

}  // namespace kavri
