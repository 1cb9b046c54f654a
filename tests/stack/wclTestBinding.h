#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "stack/wclMessages.h"
#include "stack/wclStackTable.h"
#include "stack/wclTypes.h"

// A stack that only the tests have, added the way every stack is: this file
// pair and one table line. Its radio is ready while the state says so; the test
// plays its watcher by posting the line's messages to the window it was given.
namespace kavri::test {

inline constexpr TwclBluetoothAPI kTestStackAPI = static_cast<TwclBluetoothAPI>(7);
inline constexpr std::uint32_t kTestStackArrived = 1100;
inline constexpr std::uint32_t kTestStackRemoved = 1101;
inline constexpr std::uint64_t kTestRadioAddress = 0x7E57'0000'0007;
inline const std::string kTestDeviceAddress = "(00:00:7E:57:00:01)";

// Shared by the binding and the test; any thread.
struct TestStackState {
    std::atomic<bool> ready{true};
    std::atomic<bool> loaded{false};

    MessageWindowHandle Window() {
        std::lock_guard lock(mutex);
        return window;
    }

    std::mutex mutex;
    MessageWindowHandle window;  // guarded by mutex
};

// The line of the test stack: value 7, name "Test".
wclStackLine TestStackLine(std::shared_ptr<TestStackState> state);

}  // namespace kavri::test
