#include "sim/SimBlueZ.h"

#include "platform/Text.h"
#include "stack/wclBlueZBus.h"
#include "stack/wclBluetoothAddress.h"

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include <systemd/sd-bus.h>

namespace kavri::sim {
namespace {

constexpr const char* kBusName = "org.bluez";
constexpr const char* kAdapterPath = "/org/bluez/hci0";
constexpr const char* kAdapter = "org.bluez.Adapter1";
constexpr const char* kDevice = "org.bluez.Device1";
constexpr const char* kObjectManager = "org.freedesktop.DBus.ObjectManager";
constexpr const char* kProperties = "org.freedesktop.DBus.Properties";
// How often the stand-in looks at the clock, and the most messages it takes
// in one round before looking again.
constexpr std::uint64_t kTickMicroseconds = 5000;
constexpr int kMaxMessagesPerRound = 64;
// The daemon keeps names to the length a remote name request can carry.
constexpr std::size_t kMaxNameBytes = 248;
// Every device the stand-in finds is heard this loud.
constexpr std::int16_t kRssi = -60;
// A desktop computer, as the adapter reports its own class.
constexpr std::uint32_t kAdapterClass = 0x00010C;

// One property value of the types the daemon's objects use here.
struct Value {
    char type = 's';  // 'b', 'u', 'n', 's' or 'o'
    bool boolean = false;
    std::uint32_t u32 = 0;
    std::int16_t i16 = 0;
    std::string text;

    static Value Bool(bool v) { return Value{'b', v, 0, 0, {}}; }
    static Value U32(std::uint32_t v) { return Value{'u', false, v, 0, {}}; }
    static Value I16(std::int16_t v) { return Value{'n', false, 0, v, {}}; }
    static Value Text(std::string v) { return Value{'s', false, 0, 0, std::move(v)}; }
    static Value Path(std::string v) { return Value{'o', false, 0, 0, std::move(v)}; }
    bool operator==(const Value&) const = default;
};

using Properties = std::map<std::string, Value>;
using Interfaces = std::map<std::string, Properties>;

int AppendVariant(sd_bus_message* m, const Value& value) {
    switch (value.type) {
        case 'b':
            return sd_bus_message_append(m, "v", "b", static_cast<int>(value.boolean));
        case 'u':
            return sd_bus_message_append(m, "v", "u", value.u32);
        case 'n':
            return sd_bus_message_append(m, "v", "n", value.i16);
        case 'o':
            return sd_bus_message_append(m, "v", "o", value.text.c_str());
        default:
            return sd_bus_message_append(m, "v", "s", value.text.c_str());
    }
}

// A dictionary a{KV} (key type 's' or 'o') of the map's entries, each value
// written by appendValue.
template <typename Map, typename AppendValue>
int AppendDictionary(sd_bus_message* m, char keyType, const char* valueType, const Map& map,
                     AppendValue appendValue) {
    const std::string entry = keyType + std::string(valueType);
    int r = sd_bus_message_open_container(m, 'a', ("{" + entry + "}").c_str());
    for (const auto& [key, value] : map) {
        if (r >= 0)
            r = sd_bus_message_open_container(m, 'e', entry.c_str());
        if (r >= 0)
            r = sd_bus_message_append_basic(m, keyType, key.c_str());
        if (r >= 0)
            r = appendValue(m, value);
        if (r >= 0)
            r = sd_bus_message_close_container(m);
    }
    return r < 0 ? r : sd_bus_message_close_container(m);
}

// a{sv}
int AppendProperties(sd_bus_message* m, const Properties& properties) {
    return AppendDictionary(m, 's', "v", properties, AppendVariant);
}

// a{sa{sv}}
int AppendInterfaces(sd_bus_message* m, const Interfaces& interfaces) {
    return AppendDictionary(m, 's', "a{sv}", interfaces, AppendProperties);
}

// "(00:11:22:33:44:55)" as the daemon writes it: "00:11:22:33:44:55".
std::string DaemonAddress(const std::string& scenarioAddress) {
    std::string address;
    for (const char c : scenarioAddress) {
        if (c != '(' && c != ')')
            address += UpperAscii(c);
    }
    return address;
}

std::string DevicePathOf(const DeviceSpec& device) {
    return bluez::DevicePath(kAdapterPath, AddressToUInt64(device.address));
}

// A name as the daemon hands it out: cut where the air's name ends (a zero
// byte) and at the length a name request carries, then made valid UTF-8,
// since a message bus carries nothing else.
std::string DaemonName(const std::string& name) {
    const std::string_view untilZero(name.c_str());
    const std::string_view cut = untilZero.substr(0, kMaxNameBytes);
    return ValidUtf8(cut);
}

}  // namespace

class SimBlueZ::Daemon {
public:
    Daemon(const Scenario& scenario, const Clock& clock, const std::string& busAddress);
    ~Daemon();

    // Runs work on the stand-in's thread and returns once it has.
    void RunThere(std::function<void()> work);

    bool Discovering() const;
    std::uint64_t DiscoveryStarts() const;
    std::string Alias() const;

    // Stand-in thread only from here on.
    void SetPowered(bool powered);
    void SetBlocked(bool blocked);

private:
    void Run();
    void RunRequests();
    void Tick();
    std::int64_t NowMs() const;

    void ExportAdapter();
    void RemoveAdapter();
    void ExportDevice(const DeviceSpec& device);
    void SetDiscovering(bool discovering);
    bool AdapterExported() const { return m_objects.count(kAdapterPath) != 0; }
    const char* PowerState() const;
    void SetProperty(const std::string& path, const char* interface, const std::string& name,
                     const Value& value);
    void DropProperty(const std::string& path, const char* interface, const std::string& name);
    void EmitChanged(const std::string& path, const char* interface, const Properties& changed,
                     const std::string* invalidated);
    void EmitAdded(const std::string& path);
    void EmitRemoved(const std::string& path, const Interfaces& interfaces);
    void Mirror();

    static int OnMessage(sd_bus_message* m, void* self, sd_bus_error* error);
    static int OnNameOwnerChanged(sd_bus_message* m, void* self, sd_bus_error* error);
    int Handle(sd_bus_message* m, sd_bus_error* error);
    int GetManagedObjects(sd_bus_message* m);
    int PropertyCall(sd_bus_message* m, const std::string& member, Interfaces& object,
                     sd_bus_error* error);
    int SetFromClient(const std::string& path, const std::string& interface,
                      const std::string& name, sd_bus_message* m, sd_bus_error* error);
    int AdapterCall(sd_bus_message* m, const std::string& member, sd_bus_error* error);

    const Scenario& m_scenario;
    const Clock& m_clock;
    const Clock::TimePoint m_start;
    sd_bus* m_bus = nullptr;

    // The objects the stand-in exports, by path; its thread alone.
    std::map<std::string, Interfaces> m_objects;
    std::string m_name;  // the adapter's
    bool m_powered = true;
    bool m_blocked = false;
    std::string m_alias;
    std::set<std::string> m_discoverers;  // unique names of the clients discovering
    std::uint64_t m_starts = 0;

    // What other threads ask of and see in the stand-in.
    mutable std::mutex m_mutex;
    std::condition_variable m_done;
    std::vector<std::function<void()>> m_requests;
    std::uint64_t m_posted = 0;
    std::uint64_t m_finished = 0;
    bool m_seenDiscovering = false;
    std::uint64_t m_seenStarts = 0;
    std::string m_seenAlias;
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
};

SimBlueZ::Daemon::Daemon(const Scenario& scenario, const Clock& clock,
                         const std::string& busAddress)
    : m_scenario(scenario), m_clock(clock), m_start(clock.Now()) {
    const RadioSpec& radio = m_scenario.RadioOf(StackKind::BlueZ);
    m_name = radio.name.empty() ? "kavri-sim" : DaemonName(radio.name);
    m_alias = m_name;
    m_seenAlias = m_alias;
    const auto fail = [this](const std::string& what, int r) {
        sd_bus_flush_close_unref(m_bus);
        m_bus = nullptr;
        return std::runtime_error("stand-in Bluetooth daemon: " + what + ": " + std::strerror(-r));
    };
    int r = sd_bus_new(&m_bus);
    if (r < 0)
        throw fail("no bus connection", r);
    r = sd_bus_set_address(m_bus, busAddress.c_str());
    if (r >= 0)
        r = sd_bus_set_bus_client(m_bus, 1);
    if (r >= 0)
        r = sd_bus_start(m_bus);
    if (r < 0)
        throw fail("cannot reach the bus at " + busAddress, r);
    r = sd_bus_add_fallback(m_bus, nullptr, "/", &Daemon::OnMessage, this);
    if (r >= 0)
        r = sd_bus_match_signal(m_bus, nullptr, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                "org.freedesktop.DBus", "NameOwnerChanged",
                                &Daemon::OnNameOwnerChanged, this);
    if (r >= 0)
        r = sd_bus_request_name(m_bus, kBusName, 0);
    if (r < 0)
        throw fail(std::string("cannot own ") + kBusName, r);
    Tick();
    m_thread = std::thread([this] { Run(); });
}

SimBlueZ::Daemon::~Daemon() {
    m_stopping.store(true);
    m_thread.join();
    {
        std::lock_guard lock(m_mutex);
        m_finished = m_posted;
    }
    m_done.notify_all();
    sd_bus_release_name(m_bus, kBusName);
    sd_bus_flush_close_unref(m_bus);
}

void SimBlueZ::Daemon::Run() {
    while (!m_stopping.load()) {
        RunRequests();
        Tick();
        for (int i = 0; i < kMaxMessagesPerRound; ++i) {
            if (sd_bus_process(m_bus, nullptr) <= 0)
                break;
        }
        Mirror();
        sd_bus_wait(m_bus, kTickMicroseconds);
    }
}

void SimBlueZ::Daemon::RunThere(std::function<void()> work) {
    std::unique_lock lock(m_mutex);
    m_requests.push_back(std::move(work));
    const std::uint64_t ticket = ++m_posted;
    m_done.wait(lock, [&] { return m_finished >= ticket || m_stopping.load(); });
}

void SimBlueZ::Daemon::RunRequests() {
    std::vector<std::function<void()>> requests;
    {
        std::lock_guard lock(m_mutex);
        requests.swap(m_requests);
    }
    if (requests.empty())
        return;
    for (const auto& request : requests)
        request();
    Mirror();
    {
        std::lock_guard lock(m_mutex);
        m_finished += requests.size();
    }
    m_done.notify_all();
}

void SimBlueZ::Daemon::Mirror() {
    std::lock_guard lock(m_mutex);
    m_seenDiscovering = !m_discoverers.empty();
    m_seenStarts = m_starts;
    m_seenAlias = m_alias;
}

bool SimBlueZ::Daemon::Discovering() const {
    std::lock_guard lock(m_mutex);
    return m_seenDiscovering;
}

std::uint64_t SimBlueZ::Daemon::DiscoveryStarts() const {
    std::lock_guard lock(m_mutex);
    return m_seenStarts;
}

std::string SimBlueZ::Daemon::Alias() const {
    std::lock_guard lock(m_mutex);
    return m_seenAlias;
}

std::int64_t SimBlueZ::Daemon::NowMs() const {
    return (m_clock.Now() - m_start).count();
}

// Follows the scenario: the radio plugged in or pulled, and while a discovery
// runs, the devices coming into range (exported, with an RSSI) and leaving it
// (their RSSI taken away; the object stays, as the daemon keeps what it saw).
void SimBlueZ::Daemon::Tick() {
    const std::int64_t now = NowMs();
    const bool present = m_scenario.RadioPresentAt(now, StackKind::BlueZ);
    if (present && !AdapterExported())
        ExportAdapter();
    if (!present && AdapterExported())
        RemoveAdapter();
    if (!AdapterExported() || m_discoverers.empty())
        return;
    std::set<std::string> inRange;
    for (const DeviceSpec* device : m_scenario.DevicesPresentAt(now, StackKind::BlueZ)) {
        const std::string path = DevicePathOf(*device);
        inRange.insert(path);
        if (m_objects.find(path) == m_objects.end())
            ExportDevice(*device);
        else
            SetProperty(path, kDevice, "RSSI", Value::I16(kRssi));
    }
    for (auto& [path, interfaces] : m_objects) {
        const auto device = interfaces.find(kDevice);
        if (device != interfaces.end() && device->second.count("RSSI") != 0 &&
            inRange.count(path) == 0)
            DropProperty(path, kDevice, "RSSI");
    }
}

void SimBlueZ::Daemon::ExportAdapter() {
    const RadioSpec& radio = m_scenario.RadioOf(StackKind::BlueZ);
    Properties adapter{
        {"Address", Value::Text(DaemonAddress(radio.address))},
        {"AddressType", Value::Text("public")},
        {"Name", Value::Text(m_name)},
        {"Alias", Value::Text(m_alias)},
        {"Class", Value::U32(kAdapterClass)},
        {"Powered", Value::Bool(m_powered)},
        {"PowerState", Value::Text(PowerState())},
        {"Discoverable", Value::Bool(false)},
        {"Pairable", Value::Bool(true)},
        {"Discovering", Value::Bool(false)},
    };
    m_objects[kAdapterPath] = Interfaces{{kAdapter, std::move(adapter)}};
    EmitAdded(kAdapterPath);
}

void SimBlueZ::Daemon::RemoveAdapter() {
    m_discoverers.clear();
    // The devices go before their adapter, as the daemon removes them.
    for (auto it = m_objects.begin(); it != m_objects.end();) {
        if (it->first != kAdapterPath) {
            const Interfaces interfaces = it->second;
            const std::string path = it->first;
            it = m_objects.erase(it);
            EmitRemoved(path, interfaces);
        } else {
            ++it;
        }
    }
    const Interfaces adapter = m_objects[kAdapterPath];
    m_objects.erase(kAdapterPath);
    EmitRemoved(kAdapterPath, adapter);
}

void SimBlueZ::Daemon::ExportDevice(const DeviceSpec& device) {
    const std::string path = DevicePathOf(device);
    const std::string name = DaemonName(device.name);
    Properties properties{
        {"Address", Value::Text(DaemonAddress(device.address))},
        {"AddressType", Value::Text("public")},
        {"Alias",
         Value::Text(name.empty() ? bluez::AddressAlias(AddressToUInt64(device.address)) : name)},
        {"Adapter", Value::Path(kAdapterPath)},
        {"Paired", Value::Bool(false)},
        {"Trusted", Value::Bool(false)},
        {"Blocked", Value::Bool(false)},
        {"Connected", Value::Bool(false)},
        {"LegacyPairing", Value::Bool(false)},
        {"RSSI", Value::I16(kRssi)},
    };
    // The daemon leaves out what it does not know.
    if (!name.empty())
        properties.emplace("Name", Value::Text(name));
    if (device.classOfDevice != 0)
        properties.emplace("Class", Value::U32(device.classOfDevice));
    m_objects[path] = Interfaces{{kDevice, std::move(properties)}};
    EmitAdded(path);
}

void SimBlueZ::Daemon::SetDiscovering(bool discovering) {
    if (!AdapterExported())
        return;
    SetProperty(kAdapterPath, kAdapter, "Discovering", Value::Bool(discovering));
    if (discovering) {
        Tick();
        return;
    }
    for (auto& [path, interfaces] : m_objects) {
        if (interfaces.count(kDevice) != 0 && interfaces[kDevice].count("RSSI") != 0)
            DropProperty(path, kDevice, "RSSI");
    }
}

void SimBlueZ::Daemon::SetPowered(bool powered) {
    if (powered && m_blocked)
        return;
    m_powered = powered;
    if (!powered && !m_discoverers.empty()) {
        m_discoverers.clear();
        SetDiscovering(false);
    }
    SetProperty(kAdapterPath, kAdapter, "Powered", Value::Bool(powered));
    SetProperty(kAdapterPath, kAdapter, "PowerState", Value::Text(PowerState()));
}

const char* SimBlueZ::Daemon::PowerState() const {
    return m_blocked ? "off-blocked" : m_powered ? "on" : "off";
}

void SimBlueZ::Daemon::SetBlocked(bool blocked) {
    m_blocked = blocked;
    SetPowered(false);
}

// Property changes of exported objects, told with PropertiesChanged; an object
// that is not exported has nothing to change.
void SimBlueZ::Daemon::SetProperty(const std::string& path, const char* interface,
                                   const std::string& name, const Value& value) {
    const auto object = m_objects.find(path);
    if (object == m_objects.end())
        return;
    Properties& properties = object->second[interface];
    const auto existing = properties.find(name);
    if (existing != properties.end() && existing->second == value)
        return;
    properties[name] = value;
    EmitChanged(path, interface, Properties{{name, value}}, nullptr);
}

void SimBlueZ::Daemon::DropProperty(const std::string& path, const char* interface,
                                    const std::string& name) {
    const auto object = m_objects.find(path);
    if (object == m_objects.end() || object->second[interface].erase(name) == 0)
        return;
    EmitChanged(path, interface, {}, &name);
}

void SimBlueZ::Daemon::EmitChanged(const std::string& path, const char* interface,
                                   const Properties& changed, const std::string* invalidated) {
    sd_bus_message* signal = nullptr;
    int r =
        sd_bus_message_new_signal(m_bus, &signal, path.c_str(), kProperties, "PropertiesChanged");
    if (r >= 0)
        r = sd_bus_message_append(signal, "s", interface);
    if (r >= 0)
        r = AppendProperties(signal, changed);
    if (r >= 0)
        r = invalidated != nullptr ? sd_bus_message_append(signal, "as", 1, invalidated->c_str())
                                   : sd_bus_message_append(signal, "as", 0);
    if (r >= 0)
        sd_bus_send(m_bus, signal, nullptr);
    sd_bus_message_unref(signal);
}

void SimBlueZ::Daemon::EmitAdded(const std::string& path) {
    sd_bus_message* signal = nullptr;
    int r = sd_bus_message_new_signal(m_bus, &signal, "/", kObjectManager, "InterfacesAdded");
    if (r >= 0)
        r = sd_bus_message_append(signal, "o", path.c_str());
    if (r >= 0)
        r = AppendInterfaces(signal, m_objects[path]);
    if (r >= 0)
        sd_bus_send(m_bus, signal, nullptr);
    sd_bus_message_unref(signal);
}

void SimBlueZ::Daemon::EmitRemoved(const std::string& path, const Interfaces& interfaces) {
    sd_bus_message* signal = nullptr;
    int r = sd_bus_message_new_signal(m_bus, &signal, "/", kObjectManager, "InterfacesRemoved");
    if (r >= 0)
        r = sd_bus_message_append(signal, "o", path.c_str());
    if (r >= 0)
        r = sd_bus_message_open_container(signal, 'a', "s");
    for (const auto& entry : interfaces) {
        if (r >= 0)
            r = sd_bus_message_append(signal, "s", entry.first.c_str());
    }
    if (r >= 0)
        r = sd_bus_message_close_container(signal);
    if (r >= 0)
        sd_bus_send(m_bus, signal, nullptr);
    sd_bus_message_unref(signal);
}

int SimBlueZ::Daemon::OnMessage(sd_bus_message* m, void* self, sd_bus_error* error) {
    return static_cast<Daemon*>(self)->Handle(m, error);
}

// A client that leaves the bus ends its discovery, as with the daemon.
int SimBlueZ::Daemon::OnNameOwnerChanged(sd_bus_message* m, void* self, sd_bus_error*) {
    Daemon& daemon = *static_cast<Daemon*>(self);
    const char* name = nullptr;
    const char* oldOwner = nullptr;
    const char* newOwner = nullptr;
    if (sd_bus_message_read(m, "sss", &name, &oldOwner, &newOwner) < 0 || newOwner[0] != '\0')
        return 0;
    if (daemon.m_discoverers.erase(name) != 0 && daemon.m_discoverers.empty())
        daemon.SetDiscovering(false);
    daemon.Mirror();
    return 0;
}

int SimBlueZ::Daemon::Handle(sd_bus_message* m, sd_bus_error* error) {
    if (!sd_bus_message_is_method_call(m, nullptr, nullptr))
        return 0;
    const std::string path = sd_bus_message_get_path(m);
    const char* interfaceText = sd_bus_message_get_interface(m);
    const std::string interface = interfaceText != nullptr ? interfaceText : "";
    const std::string member = sd_bus_message_get_member(m);
    if (path == "/" && interface == kObjectManager && member == "GetManagedObjects")
        return GetManagedObjects(m);
    const auto object = m_objects.find(path);
    if (object == m_objects.end())
        return sd_bus_error_setf(error, "org.freedesktop.DBus.Error.UnknownObject",
                                 "Unknown object '%s'", path.c_str());
    if (interface == kProperties)
        return PropertyCall(m, member, object->second, error);
    if (interface == kAdapter && path == kAdapterPath)
        return AdapterCall(m, member, error);
    return sd_bus_error_setf(error, "org.freedesktop.DBus.Error.UnknownMethod", "Unknown method %s",
                             member.c_str());
}

int SimBlueZ::Daemon::GetManagedObjects(sd_bus_message* m) {
    sd_bus_message* reply = nullptr;
    int r = sd_bus_message_new_method_return(m, &reply);
    if (r >= 0)
        r = AppendDictionary(reply, 'o', "a{sa{sv}}", m_objects, AppendInterfaces);
    if (r >= 0)
        r = sd_bus_send(m_bus, reply, nullptr);
    sd_bus_message_unref(reply);
    return r < 0 ? r : 1;
}

int SimBlueZ::Daemon::PropertyCall(sd_bus_message* m, const std::string& member, Interfaces& object,
                                   sd_bus_error* error) {
    const char* interface = nullptr;
    int r = sd_bus_message_read(m, "s", &interface);
    if (r < 0)
        return r;
    const auto properties = object.find(interface);
    if (properties == object.end())
        return sd_bus_error_setf(error, "org.freedesktop.DBus.Error.InvalidArgs",
                                 "No such interface '%s'", interface);
    if (member == "GetAll") {
        sd_bus_message* reply = nullptr;
        r = sd_bus_message_new_method_return(m, &reply);
        if (r >= 0)
            r = AppendProperties(reply, properties->second);
        if (r >= 0)
            r = sd_bus_send(m_bus, reply, nullptr);
        sd_bus_message_unref(reply);
        return r < 0 ? r : 1;
    }
    const char* name = nullptr;
    r = sd_bus_message_read(m, "s", &name);
    if (r < 0)
        return r;
    if (member == "Set")
        return SetFromClient(sd_bus_message_get_path(m), interface, name, m, error);
    const auto value = properties->second.find(name);
    if (member != "Get")
        return sd_bus_error_setf(error, "org.freedesktop.DBus.Error.UnknownMethod",
                                 "Unknown method %s", member.c_str());
    if (value == properties->second.end())
        return sd_bus_error_setf(error, "org.freedesktop.DBus.Error.InvalidArgs",
                                 "No such property '%s'", name);
    sd_bus_message* reply = nullptr;
    r = sd_bus_message_new_method_return(m, &reply);
    if (r >= 0)
        r = AppendVariant(reply, value->second);
    if (r >= 0)
        r = sd_bus_send(m_bus, reply, nullptr);
    sd_bus_message_unref(reply);
    return r < 0 ? r : 1;
}

int SimBlueZ::Daemon::SetFromClient(const std::string& path, const std::string& interface,
                                    const std::string& name, sd_bus_message* m,
                                    sd_bus_error* error) {
    const bool adapter = path == kAdapterPath && interface == kAdapter;
    if (adapter && name == "Alias") {
        const char* alias = nullptr;
        if (sd_bus_message_read(m, "v", "s", &alias) < 0)
            return sd_bus_error_setf(error, "org.bluez.Error.InvalidArguments",
                                     "Invalid arguments in method call");
        m_alias = DaemonName(alias);
        SetProperty(kAdapterPath, kAdapter, "Alias", Value::Text(m_alias));
        Mirror();  // seen by the hooks before the caller has its answer
        return sd_bus_reply_method_return(m, "");
    }
    if (adapter && name == "Powered") {
        int powered = 0;
        if (sd_bus_message_read(m, "v", "b", &powered) < 0)
            return sd_bus_error_setf(error, "org.bluez.Error.InvalidArguments",
                                     "Invalid arguments in method call");
        if (powered != 0 && m_blocked)
            return sd_bus_error_setf(error, "org.bluez.Error.Blocked", "Blocked through rfkill");
        SetPowered(powered != 0);
        Mirror();  // seen by the hooks before the caller has its answer
        return sd_bus_reply_method_return(m, "");
    }
    return sd_bus_error_setf(error, "org.freedesktop.DBus.Error.PropertyReadOnly",
                             "Property '%s' is not writable", name.c_str());
}

int SimBlueZ::Daemon::AdapterCall(sd_bus_message* m, const std::string& member,
                                  sd_bus_error* error) {
    const std::string sender =
        sd_bus_message_get_sender(m) != nullptr ? sd_bus_message_get_sender(m) : std::string();
    if (member == "StartDiscovery") {
        if (!m_powered)
            return sd_bus_error_setf(error, "org.bluez.Error.NotReady", "Resource Not Ready");
        if (!m_discoverers.insert(sender).second)
            return sd_bus_error_setf(error, "org.bluez.Error.InProgress",
                                     "Operation already in progress");
        ++m_starts;
        if (m_discoverers.size() == 1)
            SetDiscovering(true);
        Mirror();  // seen by the hooks before the caller has its answer
        return sd_bus_reply_method_return(m, "");
    }
    if (member == "StopDiscovery") {
        if (!m_powered)
            return sd_bus_error_setf(error, "org.bluez.Error.NotReady", "Resource Not Ready");
        if (m_discoverers.erase(sender) == 0)
            return sd_bus_error_setf(error, "org.bluez.Error.Failed", "No discovery started");
        if (m_discoverers.empty())
            SetDiscovering(false);
        Mirror();  // seen by the hooks before the caller has its answer
        return sd_bus_reply_method_return(m, "");
    }
    return sd_bus_error_setf(error, "org.freedesktop.DBus.Error.UnknownMethod", "Unknown method %s",
                             member.c_str());
}

SimBlueZ::SimBlueZ(const Scenario& scenario, const Clock& clock, const std::string& busAddress)
    : m_daemon(std::make_unique<Daemon>(scenario, clock, busAddress)) {}

SimBlueZ::~SimBlueZ() = default;

void SimBlueZ::SetPowered(bool powered) {
    m_daemon->RunThere([this, powered] { m_daemon->SetPowered(powered); });
}

void SimBlueZ::SetBlocked(bool blocked) {
    m_daemon->RunThere([this, blocked] { m_daemon->SetBlocked(blocked); });
}

bool SimBlueZ::Discovering() const {
    return m_daemon->Discovering();
}

std::uint64_t SimBlueZ::DiscoveryStarts() const {
    return m_daemon->DiscoveryStarts();
}

std::string SimBlueZ::Alias() const {
    return m_daemon->Alias();
}

}  // namespace kavri::sim
