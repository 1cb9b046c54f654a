#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "stack/wclStackBinding.h"
#include "stack/wclStackTable.h"
#include "stack/wclTypes.h"

namespace kavri {

// A Bluetooth stack's binding, made from its table line. A null binding
// reports absent.
struct wclBluetoothLoader {
    TwclBluetoothAPI api;
    std::string name;
    std::uint32_t arrivalMessage = 0;
    std::uint32_t removalMessage = 0;
    std::unique_ptr<wclBluetoothBinding> binding;
};

// The loader of a transport that is not Bluetooth, made from its table line.
// A null loader reports absent.
struct wclTransportLoader {
    TwclTransport transport;
    std::string name;
    std::uint32_t arrivalMessage = 0;
    std::uint32_t removalMessage = 0;
    std::unique_ptr<wclStackLoader> loader;
};

// The loaders the manager owns, each list in the order of its table. An empty
// set has no stack at all.
struct wclLoaderSet {
    std::vector<wclBluetoothLoader> bluetooth;
    std::vector<wclTransportLoader> transports;
};

// One loader per line of the table. Their watchers measure their polling
// interval on the given clock, so tests move time by hand; the clock must
// outlive the loaders.
wclLoaderSet CreateLoaders(const wclStackTable& table, const Clock& clock);
// The loaders of DefaultStackTable().
wclLoaderSet CreateDefaultLoaders(const Clock& clock);

// Raises std::invalid_argument, naming the line, unless every Bluetooth stack
// value is 0 to 7 (a stack set holds no more), every transport is trRAPI or
// trIrDA (the manager derives the others), no value appears twice, and every
// message number belongs to one line only.
void CheckLoaderSet(const wclLoaderSet& loaders);

}  // namespace kavri
