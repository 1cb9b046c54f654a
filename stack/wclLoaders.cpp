#include "stack/wclLoaders.h"

#include <map>
#include <stdexcept>
#include <string>
#include <variant>

namespace kavri {
namespace {

// Refuses a value that another line already took, naming both lines.
void Claim(std::map<std::uint32_t, std::string>& taken, std::uint32_t value,
           const std::string& name, const char* what) {
    const auto [it, inserted] = taken.emplace(value, name);
    if (!inserted) {
        throw std::invalid_argument("stack table: " + it->second + " and " + name + " share the " +
                                    what + " " + std::to_string(value));
    }
}

}  // namespace

wclLoaderSet CreateLoaders(const wclStackTable& table, const Clock& clock) {
    wclLoaderSet loaders;
    for (const wclStackLine& line : table) {
        if (const auto* stack = std::get_if<wclBluetoothStack>(&line.stack)) {
            loaders.bluetooth.push_back({stack->api, line.name, line.arrivalMessage,
                                         line.removalMessage,
                                         stack->make ? stack->make(clock) : nullptr});
        } else {
            const auto& transport = std::get<wclTransportStack>(line.stack);
            loaders.transports.push_back({transport.transport, line.name, line.arrivalMessage,
                                          line.removalMessage,
                                          transport.make ? transport.make(clock) : nullptr});
        }
    }
    return loaders;
}

wclLoaderSet CreateDefaultLoaders(const Clock& clock) {
    return CreateLoaders(DefaultStackTable(), clock);
}

void CheckLoaderSet(const wclLoaderSet& loaders) {
    std::map<std::uint32_t, std::string> apis;
    std::map<std::uint32_t, std::string> transports;
    std::map<std::uint32_t, std::string> messages;
    for (const wclBluetoothLoader& stack : loaders.bluetooth) {
        const auto value = static_cast<std::uint32_t>(stack.api);
        if (value > 7) {
            throw std::invalid_argument("stack table: " + stack.name + " has the stack value " +
                                        std::to_string(value) + ", above 7");
        }
        Claim(apis, value, stack.name, "stack value");
        Claim(messages, stack.arrivalMessage, stack.name, "message");
        Claim(messages, stack.removalMessage, stack.name, "message");
    }
    for (const wclTransportLoader& stack : loaders.transports) {
        if (stack.transport != TwclTransport::trRAPI && stack.transport != TwclTransport::trIrDA) {
            throw std::invalid_argument("stack table: " + stack.name +
                                        " names a transport the manager derives itself");
        }
        Claim(transports, static_cast<std::uint32_t>(stack.transport), stack.name, "transport");
        Claim(messages, stack.arrivalMessage, stack.name, "message");
        Claim(messages, stack.removalMessage, stack.name, "message");
    }
}

}  // namespace kavri
