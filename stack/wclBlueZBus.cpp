#include "stack/wclBlueZBus.h"

#include <cstdio>
#include <cstring>
#include <type_traits>

#include <systemd/sd-bus.h>

namespace kavri::bluez {

void BusDeleter::operator()(sd_bus* bus) const {
    sd_bus_flush_close_unref(bus);
}

void MessageDeleter::operator()(sd_bus_message* message) const {
    sd_bus_message_unref(message);
}

BusPtr OpenBus(const std::string& address, std::chrono::microseconds callTimeout, int& error) {
    sd_bus* raw = nullptr;
    int r = 0;
    if (address.empty()) {
        r = sd_bus_open_system(&raw);
    } else {
        r = sd_bus_new(&raw);
        if (r >= 0) {
            r = sd_bus_set_address(raw, address.c_str());
        }
        if (r >= 0) {
            r = sd_bus_set_bus_client(raw, 1);
        }
        if (r >= 0) {
            r = sd_bus_start(raw);
        }
    }
    BusPtr bus(raw);
    if (r >= 0) {
        r = sd_bus_set_method_call_timeout(raw, static_cast<std::uint64_t>(callTimeout.count()));
    }
    if (r < 0) {
        error = r;
        return nullptr;
    }
    return bus;
}

namespace {

// Reads a variant's value when it holds the wanted type; skips it otherwise.
template <typename T>
int ReadVariant(sd_bus_message* message, char type, std::optional<T>& value) {
    const char signature[2] = {type, '\0'};
    const int r = sd_bus_message_enter_container(message, SD_BUS_TYPE_VARIANT, signature);
    if (r < 0) {
        // Another type than expected: a daemon we do not understand.
        return sd_bus_message_skip(message, "v");
    }
    if constexpr (std::is_same_v<T, std::string>) {
        const char* text = nullptr;
        if (const int read = sd_bus_message_read_basic(message, type, &text); read < 0) {
            return read;
        }
        value = text != nullptr ? text : "";
    } else if constexpr (std::is_same_v<T, bool>) {
        int flag = 0;
        if (const int read = sd_bus_message_read_basic(message, type, &flag); read < 0) {
            return read;
        }
        value = flag != 0;
    } else {
        T number{};
        if (const int read = sd_bus_message_read_basic(message, type, &number); read < 0) {
            return read;
        }
        value = number;
    }
    return sd_bus_message_exit_container(message);
}

int ReadProperty(sd_bus_message* message, const char* key, ObjectProperties& properties) {
    const std::string_view name = key;
    if (name == "Address") {
        return ReadVariant(message, 's', properties.address);
    }
    if (name == "Name") {
        return ReadVariant(message, 's', properties.name);
    }
    if (name == "Alias") {
        return ReadVariant(message, 's', properties.alias);
    }
    if (name == "PowerState") {
        return ReadVariant(message, 's', properties.powerState);
    }
    if (name == "Adapter") {
        return ReadVariant(message, 'o', properties.adapter);
    }
    if (name == "Class") {
        return ReadVariant(message, 'u', properties.deviceClass);
    }
    if (name == "Powered") {
        return ReadVariant(message, 'b', properties.powered);
    }
    if (name == "RSSI") {
        properties.hasRssi = true;
    }
    return sd_bus_message_skip(message, "v");
}

// sa{sv} of one interface inside an object.
int ReadInterface(sd_bus_message* message, ManagedObject& object) {
    const char* interface = nullptr;
    int r = sd_bus_message_read(message, "s", &interface);
    if (r < 0) {
        return r;
    }
    const std::string_view name = interface != nullptr ? interface : "";
    if (name == kAdapterInterface || name == kDeviceInterface) {
        (name == kAdapterInterface ? object.adapter : object.device) = true;
        return ReadProperties(message, object.properties);
    }
    return sd_bus_message_skip(message, "a{sv}");
}

// a{sa{sv}}: the interfaces of one object.
int ReadInterfaces(sd_bus_message* message, ManagedObject& object) {
    int r = sd_bus_message_enter_container(message, SD_BUS_TYPE_ARRAY, "{sa{sv}}");
    if (r < 0) {
        return r;
    }
    while ((r = sd_bus_message_enter_container(message, SD_BUS_TYPE_DICT_ENTRY, "sa{sv}")) > 0) {
        if ((r = ReadInterface(message, object)) < 0 ||
            (r = sd_bus_message_exit_container(message)) < 0) {
            return r;
        }
    }
    if (r < 0) {
        return r;
    }
    return sd_bus_message_exit_container(message);
}

}  // namespace

int ReadProperties(sd_bus_message* message, ObjectProperties& properties) {
    int r = sd_bus_message_enter_container(message, SD_BUS_TYPE_ARRAY, "{sv}");
    if (r < 0) {
        return r;
    }
    while ((r = sd_bus_message_enter_container(message, SD_BUS_TYPE_DICT_ENTRY, "sv")) > 0) {
        const char* key = nullptr;
        if ((r = sd_bus_message_read(message, "s", &key)) < 0 ||
            (r = ReadProperty(message, key != nullptr ? key : "", properties)) < 0 ||
            (r = sd_bus_message_exit_container(message)) < 0) {
            return r;
        }
    }
    if (r < 0) {
        return r;
    }
    return sd_bus_message_exit_container(message);
}

int ReadInterfacesAdded(sd_bus_message* message, ManagedObject& object) {
    const char* path = nullptr;
    const int r = sd_bus_message_read(message, "o", &path);
    if (r < 0) {
        return r;
    }
    object.path = path != nullptr ? path : "";
    return ReadInterfaces(message, object);
}

int ReadInterfacesRemoved(sd_bus_message* message, std::string& path, bool& adapterRemoved) {
    const char* objectPath = nullptr;
    int r = sd_bus_message_read(message, "o", &objectPath);
    if (r < 0) {
        return r;
    }
    path = objectPath != nullptr ? objectPath : "";
    adapterRemoved = false;
    if ((r = sd_bus_message_enter_container(message, SD_BUS_TYPE_ARRAY, "s")) < 0) {
        return r;
    }
    const char* interface = nullptr;
    while ((r = sd_bus_message_read(message, "s", &interface)) > 0) {
        adapterRemoved = adapterRemoved || std::strcmp(interface, kAdapterInterface) == 0;
    }
    if (r < 0) {
        return r;
    }
    return sd_bus_message_exit_container(message);
}

int ReadManagedObjects(sd_bus_message* message, std::vector<ManagedObject>& objects) {
    int r = sd_bus_message_enter_container(message, SD_BUS_TYPE_ARRAY, "{oa{sa{sv}}}");
    if (r < 0) {
        return r;
    }
    while ((r = sd_bus_message_enter_container(message, SD_BUS_TYPE_DICT_ENTRY, "oa{sa{sv}}")) >
           0) {
        if (objects.size() >= kMaxObjects) {
            // Enough: the rest is skipped whole.
            if ((r = sd_bus_message_skip(message, "oa{sa{sv}}")) < 0) {
                return r;
            }
        } else {
            ManagedObject object;
            if ((r = ReadInterfacesAdded(message, object)) < 0) {
                return r;
            }
            if (object.adapter || object.device) {
                objects.push_back(std::move(object));
            }
        }
        if ((r = sd_bus_message_exit_container(message)) < 0) {
            return r;
        }
    }
    if (r < 0) {
        return r;
    }
    return sd_bus_message_exit_container(message);
}

std::optional<std::uint64_t> ParseDaemonAddress(std::string_view text) {
    if (text.size() != 17) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (i % 3 == 2) {
            if (c != ':') {
                return std::nullopt;
            }
            continue;
        }
        int digit = -1;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else if (c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else {
            return std::nullopt;
        }
        value = value << 4 | static_cast<std::uint64_t>(digit);
    }
    return value;
}

namespace {

std::string AddressWith(std::uint64_t address, char separator) {
    char text[18] = {};
    std::snprintf(text, sizeof text, "%02X%c%02X%c%02X%c%02X%c%02X%c%02X",
                  static_cast<unsigned>(address >> 40 & 0xFF), separator,
                  static_cast<unsigned>(address >> 32 & 0xFF), separator,
                  static_cast<unsigned>(address >> 24 & 0xFF), separator,
                  static_cast<unsigned>(address >> 16 & 0xFF), separator,
                  static_cast<unsigned>(address >> 8 & 0xFF), separator,
                  static_cast<unsigned>(address & 0xFF));
    return text;
}

}  // namespace

std::string DevicePath(const std::string& adapterPath, std::uint64_t address) {
    return adapterPath + "/dev_" + AddressWith(address, '_');
}

std::string AddressAlias(std::uint64_t address) {
    return AddressWith(address, '-');
}

}  // namespace kavri::bluez
