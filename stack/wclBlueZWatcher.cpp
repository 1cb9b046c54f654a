#include "stack/wclBlueZWatcher.h"

#include <cerrno>
#include <cstring>

#include <poll.h>
#include <systemd/sd-bus.h>

namespace kavri::bluez {

// The signal handlers, with access to the watch they were registered for.
struct AdapterWatchSignals {
    static int InterfacesAdded(sd_bus_message* message, void* data, sd_bus_error*) {
        auto& watch = *static_cast<AdapterWatch*>(data);
        ManagedObject object;
        if (ReadInterfacesAdded(message, object) >= 0 && object.adapter) {
            watch.Apply(object.path, object.properties);
            watch.Changed();
        }
        return 0;
    }

    static int InterfacesRemoved(sd_bus_message* message, void* data, sd_bus_error*) {
        auto& watch = *static_cast<AdapterWatch*>(data);
        std::string path;
        bool adapterRemoved = false;
        if (ReadInterfacesRemoved(message, path, adapterRemoved) >= 0 && adapterRemoved) {
            watch.m_adapters.erase(path);
            watch.Changed();
        }
        return 0;
    }

    static int PropertiesChanged(sd_bus_message* message, void* data, sd_bus_error*) {
        auto& watch = *static_cast<AdapterWatch*>(data);
        const char* interface = nullptr;
        const char* path = sd_bus_message_get_path(message);
        if (path == nullptr || sd_bus_message_read(message, "s", &interface) < 0 ||
            interface == nullptr || std::strcmp(interface, kAdapterInterface) != 0 ||
            !watch.m_adapters.contains(path)) {
            return 0;
        }
        ObjectProperties properties;
        if (ReadProperties(message, properties) >= 0) {
            watch.Apply(path, properties);
            watch.Changed();
        }
        return 0;
    }

    // The daemon started (a new owner) or stopped (none) since we looked.
    static int NameOwnerChanged(sd_bus_message* message, void* data, sd_bus_error*) {
        auto& watch = *static_cast<AdapterWatch*>(data);
        const char* name = nullptr;
        const char* before = nullptr;
        const char* after = nullptr;
        if (sd_bus_message_read(message, "sss", &name, &before, &after) < 0 || name == nullptr ||
            std::strcmp(name, kService) != 0) {
            return 0;
        }
        watch.m_adapters.clear();
        watch.m_daemonRunning = after != nullptr && after[0] != '\0';
        if (watch.m_daemonRunning) {
            sd_bus_slot_unref(watch.m_readAll);
            watch.m_readAll = nullptr;
            sd_bus_call_method_async(watch.m_bus.get(), &watch.m_readAll, kService, "/",
                                     kObjectManager, "GetManagedObjects", ManagedObjects, &watch,
                                     "");
        }
        watch.Changed();
        return 0;
    }

    static int ManagedObjects(sd_bus_message* reply, void* data, sd_bus_error*) {
        auto& watch = *static_cast<AdapterWatch*>(data);
        sd_bus_slot_unref(watch.m_readAll);
        watch.m_readAll = nullptr;
        if (!sd_bus_message_is_method_error(reply, nullptr)) {
            watch.ReadAll(reply);
            watch.Changed();
        }
        return 0;
    }
};

AdapterWatch::AdapterWatch(EventLoop& loop, BusPtr bus, RadioReport report)
    : m_loop(loop), m_bus(std::move(bus)), m_report(std::move(report)) {}

AdapterWatch::~AdapterWatch() {
    if (m_watch != 0) {
        m_loop.UnwatchFd(m_watch);
    }
    sd_bus_slot_unref(m_readAll);
}

std::unique_ptr<AdapterWatch> AdapterWatch::Start(EventLoop& loop, const std::string& busAddress,
                                                  std::chrono::microseconds callTimeout,
                                                  RadioReport report, int& error) {
    BusPtr bus = OpenBus(busAddress, callTimeout, error);
    if (bus == nullptr) {
        return nullptr;
    }
    std::unique_ptr<AdapterWatch> watch(new AdapterWatch(loop, std::move(bus), std::move(report)));
    if (const int r = watch->Subscribe(); r < 0) {
        error = r;
        return nullptr;
    }
    // Subscribed first, then read: an adapter that comes in between is
    // reported by a signal that waits in the queue.
    sd_bus_error failure{};
    sd_bus_message* reply = nullptr;
    const int r = sd_bus_call_method(watch->m_bus.get(), kService, "/", kObjectManager,
                                     "GetManagedObjects", &failure, &reply, "");
    MessagePtr owned(reply);
    // A daemon that is not running is no failure: it may start later.
    watch->m_daemonRunning = r >= 0;
    if (r >= 0) {
        watch->ReadAll(reply);
    }
    sd_bus_error_free(&failure);
    watch->m_reported = watch->CurrentRadio();
    watch->Arm();
    return watch;
}

int AdapterWatch::Subscribe() {
    sd_bus* bus = m_bus.get();
    using S = AdapterWatchSignals;
    int r = sd_bus_match_signal(bus, nullptr, kService, nullptr, kObjectManager, "InterfacesAdded",
                                S::InterfacesAdded, this);
    if (r >= 0) {
        r = sd_bus_match_signal(bus, nullptr, kService, nullptr, kObjectManager,
                                "InterfacesRemoved", S::InterfacesRemoved, this);
    }
    if (r >= 0) {
        r = sd_bus_match_signal(bus, nullptr, kService, nullptr, kProperties, "PropertiesChanged",
                                S::PropertiesChanged, this);
    }
    if (r >= 0) {
        r = sd_bus_add_match(bus, nullptr,
                             "type='signal',sender='org.freedesktop.DBus',"
                             "interface='org.freedesktop.DBus',member='NameOwnerChanged',"
                             "arg0='org.bluez'",
                             S::NameOwnerChanged, this);
    }
    return r;
}

void AdapterWatch::ReadAll(sd_bus_message* reply) {
    std::vector<ManagedObject> objects;
    m_adapters.clear();
    if (ReadManagedObjects(reply, objects) < 0) {
        return;
    }
    for (const ManagedObject& object : objects) {
        if (object.adapter) {
            Apply(object.path, object.properties);
        }
    }
}

void AdapterWatch::Apply(const std::string& path, const ObjectProperties& properties) {
    Adapter& adapter = m_adapters[path];
    if (properties.address) {
        adapter.address = ParseDaemonAddress(*properties.address).value_or(0);
    }
    if (properties.powered) {
        adapter.powered = *properties.powered;
    }
    if (properties.powerState) {
        adapter.blocked = *properties.powerState == "off-blocked";
    }
}

std::optional<Radio> AdapterWatch::CurrentRadio() const {
    for (const auto& [path, adapter] : m_adapters) {
        if (adapter.powered && adapter.address != 0) {
            return Radio{path, adapter.address};
        }
    }
    return std::nullopt;
}

RadioFault AdapterWatch::Fault() const {
    if (CurrentRadio()) {
        return RadioFault::None;
    }
    if (!m_daemonRunning) {
        return RadioFault::NoDaemon;
    }
    if (m_adapters.empty()) {
        return RadioFault::NoAdapter;
    }
    for (const auto& entry : m_adapters) {
        if (entry.second.blocked) {
            return RadioFault::Blocked;
        }
    }
    return RadioFault::PoweredOff;
}

void AdapterWatch::Changed() {
    const std::optional<Radio> radio = CurrentRadio();
    if (radio == m_reported) {
        return;
    }
    m_reported = radio;
    if (m_report) {
        m_report(radio);
    }
}

// The loop watches the bus for what sd-bus waits for now: incoming messages,
// and room to write while messages are queued. Messages that a blocking call
// already read wait in sd-bus's queue, where no descriptor announces them
// (sd-bus then asks for no input): they are taken up in a posted round.
void AdapterWatch::Arm() {
    const int fd = sd_bus_get_fd(m_bus.get());
    const int wanted = sd_bus_get_events(m_bus.get());
    if (fd < 0 || wanted < 0) {
        Lost();
        return;
    }
    if ((wanted & POLLIN) == 0) {
        PostProcess();
    }
    const unsigned events = ((wanted & POLLIN) != 0 ? EventLoop::kReadable : 0u) |
                            ((wanted & POLLOUT) != 0 ? EventLoop::kWritable : 0u);
    if (m_watch != 0 && events == m_watchedEvents) {
        return;
    }
    if (m_watch != 0) {
        m_loop.UnwatchFd(m_watch);
    }
    m_watchedEvents = events;
    m_watch = m_loop.WatchFd(fd, events, [this](unsigned) { Process(); });
}

void AdapterWatch::Process() {
    // A bounded round, so a flood of signals cannot hold the loop; what is
    // left is taken up in the next round.
    const std::weak_ptr<int> life = m_life;
    for (int round = 0; round < 64; ++round) {
        const int r = sd_bus_process(m_bus.get(), nullptr);
        if (life.expired()) {
            return;
        }
        if (r < 0) {
            Lost();
            return;
        }
        if (r == 0) {
            Arm();
            return;
        }
    }
    PostProcess();
}

void AdapterWatch::PostProcess() {
    m_loop.Post([this, life = std::weak_ptr<int>(m_life)] {
        if (!life.expired()) {
            Process();
        }
    });
}

// The bus itself went away: no daemon can be reached any more.
void AdapterWatch::Lost() {
    if (m_watch != 0) {
        m_loop.UnwatchFd(m_watch);
        m_watch = 0;
    }
    m_adapters.clear();
    m_daemonRunning = false;
    Changed();
}

}  // namespace kavri::bluez
