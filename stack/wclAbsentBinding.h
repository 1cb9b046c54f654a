#pragma once

#include <memory>

#include "stack/wclStackBinding.h"

namespace kavri {

// A loader for a stack that this build cannot reach: Load always reports the
// stack absent, so its bit stays clear and nothing dispatches to it. Should a
// caller still reach one of its operations, each fails with the error the
// binding contract names for it (the inquiry reports failure). Stateless; any
// thread.
std::unique_ptr<wclBluetoothBinding> CreateAbsentBinding();

}  // namespace kavri
