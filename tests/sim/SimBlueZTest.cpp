// The stand-in Bluetooth daemon and its private bus, seen from plain D-Bus
// clients: what several clients sharing one adapter rely on.
#include <gtest/gtest.h>

#include "platform/Clock.h"
#include "sim/PrivateBus.h"
#include "sim/ScenarioParser.h"
#include "sim/SimBlueZ.h"
#include "sim/SimBlueZStack.h"
#include "sim/VirtualNeighbourhood.h"
#include "stack/wclBlueZPlatform.h"

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <systemd/sd-bus.h>

namespace kavri::sim {
namespace {

using namespace std::chrono_literals;

// A client connection to the private bus.
struct Client {
    explicit Client(const std::string& address) {
        EXPECT_GE(sd_bus_new(&bus), 0);
        sd_bus_set_address(bus, address.c_str());
        sd_bus_set_bus_client(bus, 1);
        EXPECT_GE(sd_bus_start(bus), 0);
    }
    ~Client() { sd_bus_flush_close_unref(bus); }

    // The error name of a call on the adapter, or "" when it succeeded.
    std::string Call(const char* method) {
        sd_bus_error error{};
        sd_bus_call_method(bus, "org.bluez", "/org/bluez/hci0", "org.bluez.Adapter1", method,
                           &error, nullptr, "");
        const std::string name = error.name != nullptr ? error.name : "";
        sd_bus_error_free(&error);
        return name;
    }

    sd_bus* bus = nullptr;
};

// Waits (real time, bounded) for the stand-in's thread to see what changed.
template <typename Done>
bool Eventually(Done done) {
    for (int i = 0; i < 2000 && !done(); ++i)
        std::this_thread::sleep_for(1ms);
    return done();
}

TEST(SimBlueZ, DiscoveryIsSharedBetweenClientsAndEndsWithTheLast) {
    // Two clients start a discovery; one stops, then the other leaves the bus
    // without stopping; a third stops one it never started; the adapter is then
    // switched off and asked to discover.
    // Expected: the adapter discovers until the last client is gone; stopping a
    // discovery one never started fails; starting twice says it is in progress;
    // a switched-off adapter is not ready.
    ManualClock clock;
    const Scenario scenario = ParseScenario(
        "stacks bluez\nradio (00:1A:7D:DA:71:13) \"R\"\ndevice (00:17:E5:3A:91:02) \"P\"\n");
    const auto bus = PrivateBus::Start(BusConfigPath());
    SimBlueZ daemon(scenario, clock, bus->Address());
    Client first(bus->Address());
    auto second = std::make_unique<Client>(bus->Address());
    EXPECT_EQ(first.Call("StartDiscovery"), "");
    EXPECT_EQ(first.Call("StartDiscovery"), "org.bluez.Error.InProgress");
    EXPECT_EQ(second->Call("StartDiscovery"), "");
    EXPECT_EQ(daemon.DiscoveryStarts(), 2u);
    EXPECT_EQ(first.Call("StopDiscovery"), "");
    EXPECT_TRUE(daemon.Discovering());
    second.reset();
    EXPECT_TRUE(Eventually([&] { return !daemon.Discovering(); }));
    Client third(bus->Address());
    EXPECT_EQ(third.Call("StopDiscovery"), "org.bluez.Error.Failed");

    daemon.SetPowered(false);
    EXPECT_EQ(third.Call("StartDiscovery"), "org.bluez.Error.NotReady");
}

TEST(SimBlueZStack, ConnectsReachTheDevicesOrFailAsTheKernelWould) {
    // Through the binding's way to the stack: the SDP port and another L2CAP port
    // of a phone, its Object Push channel and another channel, a busy phone, an
    // unknown address; then a neighbourhood without BlueZ.
    // Expected: sockets for the SDP server and the Object Push server; refused for
    // the other ports and the busy phone; host down for the unknown one; without
    // BlueZ, no stack at all.
    ManualClock clock;
    // The phone's Object Push server: a listener that is never accepted from.
    const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof local;
    ASSERT_EQ(::bind(server, reinterpret_cast<const sockaddr*>(&local), sizeof local), 0);
    ASSERT_EQ(::listen(server, 8), 0);
    ASSERT_EQ(::getsockname(server, reinterpret_cast<sockaddr*>(&local), &size), 0);
    const std::string endpoint = "127.0.0.1:" + std::to_string(ntohs(local.sin_port));
    {
        VirtualNeighbourhood neighbourhood(
            ParseScenario("stacks bluez\nradio (00:1A:7D:DA:71:13) \"R\"\n"
                          "device (00:17:E5:3A:91:02) \"P\" endpoint \"" +
                          endpoint +
                          "\"\n"
                          "  service 9 \"OPP\" 0x1105\n"
                          "device (00:17:E5:3A:91:03) \"B\" behaviour busy\n"
                          "  service 9 \"OPP\" 0x1105\n"),
            clock);
        const bluez::Platform platform = bluez::Platform::Load();
        ASSERT_TRUE(platform.Installed());
        EXPECT_TRUE(platform.IsStandIn());
        EXPECT_EQ(platform.BusAddress(), neighbourhood.BlueZ().BusAddress());
        const auto connect = [&](int protocol, std::uint64_t address, std::uint16_t port) {
            int error = 0;
            const int fd = platform.Connect(protocol, address, port, error);
            if (fd >= 0)
                ::close(fd);
            return fd >= 0 ? 0 : error;
        };
        EXPECT_EQ(connect(bluez::kProtocolL2CAP, 0x0017E53A9102u, bluez::kSdpPsm), 0);
        EXPECT_EQ(connect(bluez::kProtocolL2CAP, 0x0017E53A9102u, 3), ECONNREFUSED);
        EXPECT_EQ(connect(bluez::kProtocolRFCOMM, 0x0017E53A9102u, 9), 0);
        EXPECT_EQ(connect(bluez::kProtocolRFCOMM, 0x0017E53A9102u, 4), ECONNREFUSED);
        EXPECT_EQ(connect(bluez::kProtocolRFCOMM, 0x0017E53A9103u, 9), ECONNREFUSED);
        EXPECT_EQ(connect(bluez::kProtocolRFCOMM, 0x0017E53A9199u, 9), EHOSTDOWN);
    }
    ::close(server);
    VirtualNeighbourhood without(ParseScenario("stacks microsoft\n"), clock);
    EXPECT_FALSE(bluez::Platform::Load().Installed());
    EXPECT_EQ(without.BlueZ().Daemon(), nullptr);
}

TEST(PrivateBus, TheDaemonEndsWithTheBus) {
    // A bus started and destroyed. Expected: a client reaches it before and not after.
    std::string address;
    {
        const auto bus = PrivateBus::Start(BusConfigPath());
        address = bus->Address();
        Client before(address);
        EXPECT_GT(sd_bus_is_open(before.bus), 0);
    }
    sd_bus* after = nullptr;
    ASSERT_GE(sd_bus_new(&after), 0);
    sd_bus_set_address(after, address.c_str());
    sd_bus_set_bus_client(after, 1);
    EXPECT_LT(sd_bus_start(after), 0);
    sd_bus_flush_close_unref(after);
}

TEST(PrivateBus, StartsAndRefusesAConfigurationItCannotRead) {
    // The repository's configuration; then a path that does not exist.
    // Expected: a unix address; a start that fails with the path in its reason.
    const auto bus = PrivateBus::Start(BusConfigPath());
    EXPECT_EQ(bus->Address().rfind("unix:", 0), 0u) << bus->Address();
    try {
        PrivateBus::Start("/nonexistent/bus.conf");
        ADD_FAILURE() << "started without a configuration";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("/nonexistent/bus.conf"), std::string::npos);
    }
}

}  // namespace
}  // namespace kavri::sim
