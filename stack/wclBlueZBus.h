#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sd_bus;
struct sd_bus_message;

namespace kavri::bluez {

// The D-Bus side of the BlueZ binding: connections to the bus and the reading
// of what the daemon says about its objects. Everything read from the bus is
// taken as hostile: unknown properties are skipped, values of an unexpected
// type are ignored, and object lists are cut at a bound.
//
// A connection is used by one thread at a time (sd-bus is not thread-safe);
// the functions here are pure otherwise.
// An sd_bus_error starts zeroed (`sd_bus_error e{};`): the library's
// SD_BUS_ERROR_NULL is a C compound literal that C++ compilers may refuse.

inline constexpr const char* kService = "org.bluez";
inline constexpr const char* kAdapterInterface = "org.bluez.Adapter1";
inline constexpr const char* kDeviceInterface = "org.bluez.Device1";
inline constexpr const char* kObjectManager = "org.freedesktop.DBus.ObjectManager";
inline constexpr const char* kProperties = "org.freedesktop.DBus.Properties";

// No more objects are read from one answer of the daemon.
inline constexpr std::size_t kMaxObjects = 4096;

struct BusDeleter {
    void operator()(sd_bus* bus) const;
};
using BusPtr = std::unique_ptr<sd_bus, BusDeleter>;

struct MessageDeleter {
    void operator()(sd_bus_message* message) const;
};
using MessagePtr = std::unique_ptr<sd_bus_message, MessageDeleter>;

// A client connection to the bus at the address, or to the system bus when
// the address is empty; method calls on it time out after callTimeout.
// Null, with error set to a negative errno value, when the bus cannot be
// reached.
BusPtr OpenBus(const std::string& address, std::chrono::microseconds callTimeout, int& error);

// The properties the binding reads of an adapter or a device; those the
// object did not give stay empty.
struct ObjectProperties {
    std::optional<std::string> address;
    std::optional<std::string> name;
    std::optional<std::string> alias;
    std::optional<std::string> powerState;
    std::optional<std::string> adapter;  // a device's adapter path
    std::optional<std::uint32_t> deviceClass;
    std::optional<bool> powered;
    bool hasRssi = false;  // seen by a discovery that runs now
};

// One object of the daemon, as GetManagedObjects or InterfacesAdded give it.
struct ManagedObject {
    std::string path;
    bool adapter = false;  // has org.bluez.Adapter1
    bool device = false;   // has org.bluez.Device1
    ObjectProperties properties;
};

// Each reader takes a message positioned at what it reads and returns 0, or a
// negative errno value when the message is not of the expected form.
// a{sv}: updates properties with what it finds.
int ReadProperties(sd_bus_message* message, ObjectProperties& properties);
// oa{sa{sv}} (InterfacesAdded).
int ReadInterfacesAdded(sd_bus_message* message, ManagedObject& object);
// oas (InterfacesRemoved): the path and whether the adapter interface went.
int ReadInterfacesRemoved(sd_bus_message* message, std::string& path, bool& adapterRemoved);
// a{oa{sa{sv}}} (GetManagedObjects), at most kMaxObjects objects.
int ReadManagedObjects(sd_bus_message* message, std::vector<ManagedObject>& objects);

// "00:17:E5:3A:91:02" to its 48-bit value; nullopt for any other form.
std::optional<std::uint64_t> ParseDaemonAddress(std::string_view text);
// The daemon's object path of a device under an adapter:
// "/org/bluez/hci0/dev_00_17_E5_3A_91_02".
std::string DevicePath(const std::string& adapterPath, std::uint64_t address);
// What the daemon calls a device it has no name for: its address with dashes.
std::string AddressAlias(std::uint64_t address);

}  // namespace kavri::bluez
