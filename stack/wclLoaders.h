#pragma once

#include <memory>

#include "platform/Clock.h"
#include "stack/wclStackBinding.h"

namespace kavri {

// The six loaders the manager owns, one per stack or transport. A slot may
// hold a loader that always reports absent (a stack whose binding is not
// built on this system).
struct wclLoaderSet {
    std::unique_ptr<wclBluetoothBinding> blueSoleil;
    std::unique_ptr<wclBluetoothBinding> microsoft;
    std::unique_ptr<wclBluetoothBinding> toshiba;
    std::unique_ptr<wclBluetoothBinding> widcomm;
    std::unique_ptr<wclStackLoader> rapi;
    std::unique_ptr<wclStackLoader> irda;
};

// The loaders of this build. Their watchers measure their polling interval on
// the given clock, so tests move time by hand.
wclLoaderSet CreateDefaultLoaders(const Clock& clock);

}  // namespace kavri
