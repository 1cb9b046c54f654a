#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/EventLoop.h"
#include "stack/wclBlueZBus.h"

struct sd_bus_message;
struct sd_bus_slot;

namespace kavri::bluez {

// The radio the binding uses: the first powered adapter, by object path.
struct Radio {
    std::string path;  // "/org/bluez/hci0"
    std::uint64_t address = 0;
    bool operator==(const Radio&) const = default;
};

// Why no radio is ready, for a message that tells the operator what to do.
enum class RadioFault : std::uint8_t {
    None,        // a radio is ready
    NoBus,       // the system's message bus cannot be reached
    NoDaemon,    // nothing serves org.bluez on the bus
    NoAdapter,   // the daemon runs but has no adapter
    PoweredOff,  // adapters are there, none switched on
    Blocked,     // the adapter is switched off by rfkill
};

// Watches the daemon's adapters on the event loop: its own connection to the
// bus, whose file descriptor the loop watches, with signals for adapters
// coming and going and for their properties changing, and for the daemon
// itself starting and stopping. Reports every change of the radio.
//
// Loop thread only: created, used and destroyed there; the report runs on it
// too and must not destroy the watch.
class AdapterWatch {
public:
    using RadioReport = std::function<void(const std::optional<Radio>& radio)>;

    // Connects, subscribes and reads the adapters there are now (a blocking
    // call of at most callTimeout). Null, with error set to a negative errno
    // value, when the bus cannot be reached or refuses the subscriptions.
    static std::unique_ptr<AdapterWatch> Start(EventLoop& loop, const std::string& busAddress,
                                               std::chrono::microseconds callTimeout,
                                               RadioReport report, int& error);
    ~AdapterWatch();
    AdapterWatch(const AdapterWatch&) = delete;
    AdapterWatch& operator=(const AdapterWatch&) = delete;

    std::optional<Radio> CurrentRadio() const;
    RadioFault Fault() const;

private:
    struct Adapter {
        std::uint64_t address = 0;
        bool powered = false;
        bool blocked = false;
    };

    AdapterWatch(EventLoop& loop, BusPtr bus, RadioReport report);

    int Subscribe();
    void ReadAll(sd_bus_message* reply);
    void Apply(const std::string& path, const ObjectProperties& properties);
    void Changed();
    void Arm();
    void Process();
    void PostProcess();
    void Lost();

    EventLoop& m_loop;
    BusPtr m_bus;
    RadioReport m_report;
    bool m_daemonRunning = false;
    std::map<std::string, Adapter> m_adapters;  // by object path
    std::optional<Radio> m_reported;
    EventLoop::WatchId m_watch = 0;
    unsigned m_watchedEvents = 0;
    sd_bus_slot* m_readAll = nullptr;  // an answer to wait for
    std::shared_ptr<int> m_life = std::make_shared<int>(0);

    friend struct AdapterWatchSignals;
};

}  // namespace kavri::bluez
