// The BlueZ binding on this machine's own adapter, through the system's
// Bluetooth daemon: run with "ctest -L hardware" on a machine with a powered
// adapter and at least one discoverable phone in range. Never part of the
// default run: no build machine has a radio.
#include <gtest/gtest.h>

#include "platform/PollEventLoop.h"
#include "stack/wclBlueZ.h"
#include "stack/wclMessages.h"

#include <string>

namespace kavri {
namespace {

TEST(BlueZHardware, TheAdapterIsReadyAndAnInquiryHearsAPhone) {
    // The real daemon and adapter, the default inquiry length on the real clock.
    // Expected: the binding loads with a radio whose address is not zero; an
    // inquiry finds at least one device, and each found device has a class or
    // a name the daemon can tell.
    SteadyClock clock;
    PollEventLoop loop(clock);
    MessageWindow window(loop, [](const Message&) {});
    TwclBlueZLoader binding(clock);
    ASSERT_TRUE(binding.Load(window.Handle())) << BlueZFaultAdvice(binding.Fault());
    EXPECT_NE(binding.ReadRadioAddress(), 0u);
    const auto found = binding.Inquiry();
    ASSERT_TRUE(found.has_value());
    ASSERT_FALSE(found->empty()) << "no discoverable device in range";
    for (const std::string& address : *found) {
        bool known = true;
        try {
            binding.ReadRemoteName(address);
        } catch (const std::exception&) {
            try {
                binding.ReadRemoteClassOfDevice(address);
            } catch (const std::exception&) {
                known = false;
            }
        }
        EXPECT_TRUE(known) << address;
    }
    binding.Unload();
}

}  // namespace
}  // namespace kavri
