#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "platform/Clock.h"
#include "stack/wclStackBinding.h"
#include "stack/wclTypes.h"

namespace kavri {

// Makes a loader from the clock its watcher measures time on. An empty factory
// stands for a stack whose binding is not built here: it reports absent.
using wclBindingFactory = std::function<std::unique_ptr<wclBluetoothBinding>(const Clock&)>;
using wclLoaderFactory = std::function<std::unique_ptr<wclStackLoader>(const Clock&)>;

// A Bluetooth stack: its binding both loads it and serves its radio.
struct wclBluetoothStack {
    TwclBluetoothAPI api;
    wclBindingFactory make;
};

// A transport that is not Bluetooth (trRAPI, trIrDA): a loader that only says
// whether a device is there.
struct wclTransportStack {
    TwclTransport transport;
    wclLoaderFactory make;
};

// One stack of the build: what it is, its name, how its loader is made, and
// the messages its watcher posts to the manager window when its radio (or
// device) arrives and when it goes.
struct wclStackLine {
    std::variant<wclBluetoothStack, wclTransportStack> stack;
    std::string name;
    std::uint32_t arrivalMessage = 0;
    std::uint32_t removalMessage = 0;
};

// The stacks in the order the manager loads them, unloads them and lists their
// radios (Bluetooth stacks first, then the other transports; see TwclAPIManager).
using wclStackTable = std::vector<wclStackLine>;

// The stacks of this build: RAPI, BlueSoleil, Microsoft, Toshiba, Widcomm,
// BlueZ, IrDA, each with its binding.
// Adding a stack means adding its binding's file pair and one line here.
wclStackTable DefaultStackTable();

}  // namespace kavri
