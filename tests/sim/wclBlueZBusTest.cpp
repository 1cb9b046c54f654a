// The BlueZ binding's reading of what the daemon says, with messages built by
// hand: properties of unexpected types, unknown interfaces, the object bound,
// and the daemon's address forms.
#include <gtest/gtest.h>

#include "sim/PrivateBus.h"
#include "sim/SimBlueZStack.h"
#include "stack/wclBlueZBus.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <systemd/sd-bus.h>

namespace kavri::bluez {
namespace {

// A message to fill and then read back, on a connection to a private bus.
class Messages : public ::testing::Test {
protected:
    Messages() : m_bus(sim::PrivateBus::Start(sim::BusConfigPath())) {
        int error = 0;
        m_client = OpenBus(m_bus->Address(), std::chrono::seconds(5), error);
        EXPECT_NE(m_client, nullptr) << error;
    }

    MessagePtr New() {
        sd_bus_message* m = nullptr;
        EXPECT_GE(sd_bus_message_new_signal(m_client.get(), &m, "/", kObjectManager, "Test"), 0);
        return MessagePtr(m);
    }

    // Seals the message and positions it at its start for reading.
    static void Rewind(sd_bus_message* m) {
        ASSERT_GE(sd_bus_message_seal(m, 1, 0), 0);
        ASSERT_GE(sd_bus_message_rewind(m, 1), 0);
    }

    std::unique_ptr<sim::PrivateBus> m_bus;
    BusPtr m_client;
};

TEST_F(Messages, PropertiesOfUnexpectedTypesAreIgnoredNotFatal) {
    // An adapter whose Address is a number and whose Powered is a string, with an
    // unknown property holding an array; a device with its usual properties and
    // an interface the binding does not know.
    // Expected: the objects are read; the adapter has neither address nor powered
    // flag; the device has its address, name, class, adapter and an RSSI.
    MessagePtr m = New();
    ASSERT_GE(sd_bus_message_append(m.get(), "a{oa{sa{sv}}}", 2,
                                    // the adapter
                                    "/org/bluez/hci0", 1, kAdapterInterface, 3, "Address", "u", 7u,
                                    "Powered", "s", "yes", "UUIDs", "as", 2, "a", "b",
                                    // the device
                                    "/org/bluez/hci0/dev_00_17_E5_3A_91_02", 2, "org.example.Other",
                                    1, "Address", "s", "nonsense", kDeviceInterface, 5, "Address",
                                    "s", "00:17:E5:3A:91:02", "Name", "s", "Anna", "Class", "u",
                                    0x5A020Cu, "Adapter", "o", "/org/bluez/hci0", "RSSI", "n",
                                    static_cast<std::int16_t>(-60)),
              0);
    Rewind(m.get());
    std::vector<ManagedObject> objects;
    ASSERT_GE(ReadManagedObjects(m.get(), objects), 0);
    ASSERT_EQ(objects.size(), 2u);
    EXPECT_TRUE(objects[0].adapter);
    EXPECT_FALSE(objects[0].properties.address.has_value());
    EXPECT_FALSE(objects[0].properties.powered.has_value());
    const ObjectProperties& device = objects[1].properties;
    EXPECT_TRUE(objects[1].device);
    EXPECT_EQ(device.address, "00:17:E5:3A:91:02");
    EXPECT_EQ(device.name, "Anna");
    EXPECT_EQ(device.deviceClass, 0x5A020Cu);
    EXPECT_EQ(device.adapter, "/org/bluez/hci0");
    EXPECT_TRUE(device.hasRssi);
}

TEST_F(Messages, ObjectsBeyondTheBoundAreSkippedAndAWrongShapeIsRefused) {
    // One more device than the bound; then a message of another signature.
    // Expected: exactly the bound of objects; the other message is an error.
    MessagePtr m = New();
    ASSERT_GE(sd_bus_message_open_container(m.get(), 'a', "{oa{sa{sv}}}"), 0);
    for (std::size_t i = 0; i <= kMaxObjects; ++i) {
        const std::string path = "/org/bluez/hci0/dev_" + std::to_string(i);
        ASSERT_GE(
            sd_bus_message_append(m.get(), "{oa{sa{sv}}}", path.c_str(), 1, kDeviceInterface, 0),
            0);
    }
    ASSERT_GE(sd_bus_message_close_container(m.get()), 0);
    Rewind(m.get());
    std::vector<ManagedObject> objects;
    ASSERT_GE(ReadManagedObjects(m.get(), objects), 0);
    EXPECT_EQ(objects.size(), kMaxObjects);

    MessagePtr other = New();
    ASSERT_GE(sd_bus_message_append(other.get(), "as", 1, "x"), 0);
    Rewind(other.get());
    std::vector<ManagedObject> none;
    EXPECT_LT(ReadManagedObjects(other.get(), none), 0);
}

TEST_F(Messages, RemovedInterfacesSayWhetherAnAdapterWent) {
    // A device's interfaces removed; an adapter's among others; a message whose
    // list holds numbers. Expected: no adapter, then an adapter; the last refused.
    const auto removed = [&](MessagePtr m, bool& adapter) {
        Rewind(m.get());
        std::string path;
        const int r = ReadInterfacesRemoved(m.get(), path, adapter);
        EXPECT_TRUE(r < 0 || path == "/org/bluez/hci0") << path;
        return r;
    };
    bool adapter = true;
    MessagePtr device = New();
    ASSERT_GE(sd_bus_message_append(device.get(), "oas", "/org/bluez/hci0", 1, kDeviceInterface),
              0);
    ASSERT_GE(removed(std::move(device), adapter), 0);
    EXPECT_FALSE(adapter);
    MessagePtr both = New();
    ASSERT_GE(sd_bus_message_append(both.get(), "oas", "/org/bluez/hci0", 2, "org.bluez.Media1",
                                    kAdapterInterface),
              0);
    ASSERT_GE(removed(std::move(both), adapter), 0);
    EXPECT_TRUE(adapter);
    MessagePtr numbers = New();
    ASSERT_GE(sd_bus_message_append(numbers.get(), "oau", "/org/bluez/hci0", 1, 7u), 0);
    EXPECT_LT(removed(std::move(numbers), adapter), 0);
}

TEST(DaemonAddresses, OnlyTheDaemonsFormIsAnAddress) {
    // The daemon's form in either case; shorter, longer, other separators, a
    // non-hex digit. Expected: the 48-bit value for the first two only; the
    // object path and the nameless alias in the daemon's forms.
    EXPECT_EQ(ParseDaemonAddress("00:17:E5:3A:91:02"), 0x0017E53A9102u);
    EXPECT_EQ(ParseDaemonAddress("00:17:e5:3a:91:02"), 0x0017E53A9102u);
    for (const char* bad : {"00:17:E5:3A:91:0", "00:17:E5:3A:91:023", "00-17-E5-3A-91-02",
                            "00:17:E5:3A:91:0G", "", "(00:17:E5:3A:91:02)"}) {
        EXPECT_EQ(ParseDaemonAddress(bad), std::nullopt) << bad;
    }
    EXPECT_EQ(DevicePath("/org/bluez/hci1", 0x0017E53A9102u),
              "/org/bluez/hci1/dev_00_17_E5_3A_91_02");
    EXPECT_EQ(AddressAlias(0x0017E53A9102u), "00-17-E5-3A-91-02");
}

}  // namespace
}  // namespace kavri::bluez
