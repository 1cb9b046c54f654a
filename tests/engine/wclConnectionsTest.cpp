// The client connections: parameter rules, the Bluetooth and IrDA paths over
// the virtual neighbourhood's stand-in sockets (a loopback TCP listener in the
// test stands in for the device), and the serial path over a pseudo-terminal.
// Time-outs run on the manual clock; waits for other threads are capped.
#include "engine/wclConnections.h"

#include <gtest/gtest.h>

#include "engine/LinkingBindings.h"
#include "platform/DynamicLibrary.h"
#include "platform/PollEventLoop.h"
#include "platform/SerialPort.h"
#include "sim/ScenarioParser.h"
#include "sim/SimWinsockSockets.h"
#include "sim/VirtualNeighbourhood.h"
#include "stack/wclExceptions.h"
#include "stack/wclFakeStacks.h"
#include "stack/wclLoaders.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace kavri {
namespace {

using namespace std::chrono_literals;
using test::CaughtExceptions;
using test::FakeStacks;
using test::ProcessPending;
using test::ProcessUntil;

constexpr int kCapMs = 5000;

std::size_t ThreadCount() {
    const std::filesystem::directory_iterator tasks("/proc/self/task");
    return static_cast<std::size_t>(std::distance(begin(tasks), end(tasks)));
}

// Reads exactly n bytes from fd, each wait capped; fewer on failure.
std::string ReadFd(int fd, std::size_t n) {
    std::string text;
    while (text.size() < n) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, kCapMs) <= 0) {
            break;
        }
        char buffer[4096];
        const ssize_t got = ::read(fd, buffer, std::min(sizeof buffer, n - text.size()));
        if (got <= 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
    return text;
}

void WriteFd(int fd, const std::string& text) {
    ASSERT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
}

// A device's server: a TCP listener on loopback.
class Listener {
public:
    explicit Listener(int backlog = 8) {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        EXPECT_EQ(::bind(m_fd, reinterpret_cast<sockaddr*>(&address), length), 0);
        EXPECT_EQ(::listen(m_fd, backlog), 0);
        EXPECT_EQ(::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length), 0);
        m_port = ntohs(address.sin_port);
    }
    ~Listener() {
        for (const int fd : m_peers) {
            ::close(fd);
        }
        ::close(m_fd);
    }
    std::string Endpoint() const { return "127.0.0.1:" + std::to_string(m_port); }

    // The next connection, within the cap; -1 when none came.
    int Accept() {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, kCapMs) <= 0) {
            return -1;
        }
        const int fd = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
            m_peers.push_back(fd);
        }
        return fd;
    }
    // Fills the accept queue of a listener made with backlog 0, so that the
    // next connect stays unanswered.
    void FillQueue() {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(m_port);
        ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        m_peers.push_back(fd);
    }
    void ClosePeer(int fd) {
        std::erase(m_peers, fd);
        ::close(fd);
    }

private:
    int m_fd = -1;
    std::uint16_t m_port = 0;
    std::vector<int> m_peers;
};

// Routes every connect one way, or asks a delegate.
class TestDirectory final : public sim::SimSocketDirectory {
public:
    bool SupportsFamily(int family) const override {
        return delegate ? delegate->SupportsFamily(family) : family == 32 || family == 26;
    }
    sim::SimSocketRoute ResolveRfcomm(std::uint64_t address, std::uint32_t channel,
                                      const GUID& serviceClass) override {
        return delegate ? delegate->ResolveRfcomm(address, channel, serviceClass) : route;
    }
    sim::SimSocketRoute ResolveIrDA(const IrDADeviceId& id, const std::string& service) override {
        return delegate ? delegate->ResolveIrDA(id, service) : route;
    }

    sim::SimSocketRoute route = sim::SimSocketRoute::Fail(10061);
    std::unique_ptr<sim::SimSocketDirectory> delegate;
};

// What a connection reported, in order.
struct Events {
    std::vector<std::uint32_t> connects;
    int disconnects = 0;
    std::string data;
    std::vector<std::string> journal;

    void Attach(TwclCustomConnection& connection) {
        connection.OnConnect = [this](TwclCustomConnection&, std::uint32_t result) {
            connects.push_back(result);
            journal.push_back("connect " + std::to_string(result));
        };
        connection.OnDisconnect = [this](TwclCustomConnection&) {
            ++disconnects;
            journal.push_back("disconnect");
        };
        connection.OnData = [this](TwclCustomConnection&, const std::uint8_t* bytes,
                                   std::size_t size) {
            data.append(reinterpret_cast<const char*>(bytes), size);
            journal.push_back("data");
        };
    }
};

// A client that, like the OBEX client, reports the connect result itself and
// turns IrDA nine-wire mode off.
class HandshakeClient final : public TwclCustomClientConnection {
public:
    explicit HandshakeClient(EventLoop& loop) : TwclCustomClientConnection(loop) {
        SetNineWireMode(false);
    }

protected:
    bool AfterConnect() override { return true; }
};

class ConnectionTest : public ::testing::Test {
protected:
    ConnectionTest() {
        fakes.SetReady(1, true);  // Microsoft
        fakes.SetReady(test::kIrDA, true);
        manager.Load();
        client = MakeClient<TwclCustomClientConnection>();
    }

    template <typename Client>
    std::unique_ptr<Client> MakeClient() {
        auto made = std::make_unique<Client>(loop);
        made->BluetoothParams().SetRadio(&radio);
        made->BluetoothParams().SetAddress("(00:11:22:33:44:55)");
        made->BluetoothParams().SetChannel(5);
        made->BluetoothParams().SetServiceUUID(OBEXObjectPushServiceClassUUID);
        events.Attach(*made);
        return made;
    }

    // Connects to the listener and waits for the result.
    int ConnectToListener() {
        directory.route = sim::SimSocketRoute::To(listener.Endpoint());
        client->Connect();
        EXPECT_TRUE(ProcessUntil(loop, [&] { return !events.connects.empty(); }));
        return listener.Accept();
    }

    bool Settle(const std::function<bool()>& done) { return ProcessUntil(loop, done); }

    ManualClock clock;
    PollEventLoop loop{clock};
    FakeStacks fakes;
    TwclAPIManager manager{loop, test::WithMicrosoftLinks(fakes.Loaders(), clock)};
    TestDirectory directory;
    sim::SimWinsockSockets sockets{loop, directory};
    std::unique_ptr<InProcessLibraries::Registration> winsock =
        InProcessLibraries::Register("ws2_32.dll", sim::SimWinsockSocketEntryPoints());
    TwclBluetoothRadio radio{TwclBluetoothAPI::baMicrosoft};
    Listener listener;
    Events events;
    std::unique_ptr<TwclCustomClientConnection> client;
};

// ---- Parameters ---------------------------------------------------------------

TEST_F(ConnectionTest, EncryptionNeedsAuthentication) {
    // Encryption without authentication is refused; dropping authentication drops encryption.
    TwclBluetoothClientParams& params = client->BluetoothParams();
    try {
        params.SetEncryption(true);
        FAIL() << "no exception";
    } catch (const wclEInvalidEncrytpionFlag& e) {
        EXPECT_STREQ(e.what(), "Encryption can not be enabled because authentication is disabled.");
    }
    EXPECT_FALSE(params.Encryption());
    params.SetAuthentication(true);
    params.SetEncryption(true);
    params.SetAuthentication(false);
    EXPECT_FALSE(params.Encryption());
}

TEST_F(ConnectionTest, ChannelAndValueLimits) {
    // The last valid value is kept; the first invalid one raises and changes nothing.
    TwclBluetoothClientParams& bt = client->BluetoothParams();
    bt.SetChannel(31);
    EXPECT_THROW(bt.SetChannel(32), wclEInvalidChannel);
    EXPECT_EQ(bt.Channel(), 31);
    EXPECT_THROW(bt.SetAddress("(00:11:22:33:44)"), wclEInvalidAddress);
    EXPECT_EQ(bt.Address(), "(00:11:22:33:44:55)");
    EXPECT_THROW(client->Timeouts().SetReadTimeout(0), wclEInvalidTimeout);
    EXPECT_THROW(client->Timeouts().SetWriteTimeout(0), wclEInvalidTimeout);
    EXPECT_THROW(client->Buffers().SetReadBuffer(0), wclEInvalidBuffer);
    EXPECT_THROW(client->Buffers().SetWriteBuffer(0), wclEInvalidBuffer);
    EXPECT_THROW(client->SerialParams().SetPort(0), wclEInvalidSerialPortNumber);
    EXPECT_THROW(client->SerialParams().SetBaudRateValue(0), wclEInvalidBaudRateValue);
    EXPECT_THROW(client->IrDAParams().SetService(""), wclEInvalidIrDAService);
    EXPECT_THROW(client->IrDAParams().SetAddress("(00:11:22:33:44:55)"), wclEInvalidAddress);
    client->IrDAParams().SetAddress("(0a:0B:0c:0D)");
    EXPECT_EQ(client->Timeouts().ReadTimeout(), 10000u);
    EXPECT_EQ(client->Buffers().ReadBuffer(), 2048u);
    EXPECT_EQ(client->SerialParams().BaudRateValue(), 115200u);
}

TEST_F(ConnectionTest, BaudRateNameAndValueMoveTogether) {
    // A value picks its name or brCustom; a name sets its value; brCustom keeps the value.
    TwclSerialPortClientParams& serial = client->SerialParams();
    serial.SetBaudRateValue(57600);
    EXPECT_EQ(serial.BaudRate(), TwclBaudRate::br57600);
    serial.SetBaudRateValue(12345);
    EXPECT_EQ(serial.BaudRate(), TwclBaudRate::brCustom);
    serial.SetBaudRate(TwclBaudRate::br110);
    EXPECT_EQ(serial.BaudRateValue(), 110u);
    serial.SetBaudRate(TwclBaudRate::brCustom);
    EXPECT_EQ(serial.BaudRateValue(), 110u);
    serial.SetBaudRate(TwclBaudRate::br256000);
    EXPECT_EQ(serial.BaudRateValue(), 256000u);
}

TEST_F(ConnectionTest, SettersRaiseWhileActiveUnlessTheValueIsTheSame) {
    // While opening, every changed value raises "Connection is active."; the same value does not.
    Listener silent(0);
    silent.FillQueue();
    directory.route = sim::SimSocketRoute::To(silent.Endpoint());
    client->Connect();
    ASSERT_TRUE(client->Active());
    TwclCustomClientConnection& c = *client;
    const GUID otherUuid = SerialPortServiceClassUUID;
    const TwclBluetoothRadio other(TwclBluetoothAPI::baWidComm);
    const std::vector<std::pair<std::function<void()>, std::function<void()>>> setters = {
        {[&] { c.Timeouts().SetReadTimeout(1); }, [&] { c.Timeouts().SetReadTimeout(10000); }},
        {[&] { c.Timeouts().SetWriteTimeout(1); }, [&] { c.Timeouts().SetWriteTimeout(10000); }},
        {[&] { c.Buffers().SetReadBuffer(1); }, [&] { c.Buffers().SetReadBuffer(2048); }},
        {[&] { c.Buffers().SetWriteBuffer(1); }, [&] { c.Buffers().SetWriteBuffer(2048); }},
        {[&] { c.SerialParams().SetBaudRate(TwclBaudRate::br110); },
         [&] { c.SerialParams().SetBaudRate(TwclBaudRate::br115200); }},
        {[&] { c.SerialParams().SetBaudRateValue(9600); },
         [&] { c.SerialParams().SetBaudRateValue(115200); }},
        {[&] { c.SerialParams().SetByteSize(TwclByteSize::bs7); },
         [&] { c.SerialParams().SetByteSize(TwclByteSize::bs8); }},
        {[&] { c.SerialParams().SetParity(TwclParity::paOdd); },
         [&] { c.SerialParams().SetParity(TwclParity::paNone); }},
        {[&] { c.SerialParams().SetPort(2); }, [&] { c.SerialParams().SetPort(1); }},
        {[&] { c.SerialParams().SetStopBits(TwclStopBits::sb2); },
         [&] { c.SerialParams().SetStopBits(TwclStopBits::sb1); }},
        {[&] { c.BluetoothParams().SetAuthentication(true); },
         [&] { c.BluetoothParams().SetAuthentication(false); }},
        {[&] { c.BluetoothParams().SetChannel(6); }, [&] { c.BluetoothParams().SetChannel(5); }},
        {[&] { c.BluetoothParams().SetAddress("(00:00:00:00:00:01)"); },
         [&] { c.BluetoothParams().SetAddress("(00:11:22:33:44:55)"); }},
        {[&] { c.BluetoothParams().SetRadio(&other); },
         [&] { c.BluetoothParams().SetRadio(&radio); }},
        {[&] { c.BluetoothParams().SetServiceUUID(otherUuid); },
         [&] { c.BluetoothParams().SetServiceUUID(OBEXObjectPushServiceClassUUID); }},
        {[&] { c.BluetoothParams().SetServiceName("x"); },
         [&] { c.BluetoothParams().SetServiceName("Bluetooth Service"); }},
        {[&] { c.IrDAParams().SetService("x"); },
         [&] { c.IrDAParams().SetService("IrDA:Service"); }},
        {[&] { c.IrDAParams().SetAddress("(00:00:00:01)"); },
         [&] { c.IrDAParams().SetAddress("(00:00:00:00)"); }},
        {[&] { c.SetClientTransport(TwclClientTransport::ctSerial); },
         [&] { c.SetClientTransport(TwclClientTransport::ctBluetooth); }},
        {[&] { c.SetConnectTimeOut(1); }, [&] { c.SetConnectTimeOut(30000); }},
    };
    for (std::size_t i = 0; i < setters.size(); ++i) {
        SCOPED_TRACE(i);
        try {
            setters[i].first();
            ADD_FAILURE() << "a changed value was taken while active";
        } catch (const wclEConnectionActive& e) {
            EXPECT_STREQ(e.what(), "Connection is active.");
        }
        EXPECT_NO_THROW(setters[i].second());
    }
    EXPECT_EQ(c.BluetoothParams().Channel(), 5);
    EXPECT_EQ(c.Timeouts().ReadTimeout(), 10000u);
}

// ---- Bluetooth over the stand-in sockets ----------------------------------------

TEST_F(ConnectionTest, ConnectsSendsAndReceives) {
    // The socket gets the address, channel, UUID and options; bytes flow both ways.
    client->BluetoothParams().SetAuthentication(true);
    client->BluetoothParams().SetEncryption(true);
    client->Timeouts().SetReadTimeout(1234);
    client->Buffers().SetWriteBuffer(4096);
    const int peer = ConnectToListener();
    ASSERT_GE(peer, 0);
    EXPECT_EQ(events.connects, std::vector<std::uint32_t>{0});
    EXPECT_TRUE(client->Connected());

    const auto record = sockets.LastConnect();
    ASSERT_TRUE(record);
    EXPECT_EQ(record->family, 32);
    EXPECT_EQ(record->address, 0x001122334455u);
    EXPECT_EQ(record->port, 5u);
    EXPECT_EQ(record->serviceClass, OBEXObjectPushServiceClassUUID);
    const std::map<std::pair<int, int>, std::uint32_t> options = {
        {{3, static_cast<int>(0x80000001u)}, 1},
        {{3, 2}, 1},
        {{0xFFFF, 0x1006}, 1234},
        {{0xFFFF, 0x1005}, 10000},
        {{0xFFFF, 0x1002}, 2048},
        {{0xFFFF, 0x1001}, 4096},
        {{0xFFFF, 0x0004}, 1},
    };
    EXPECT_EQ(record->options, options);

    WriteFd(peer, "hello");
    EXPECT_TRUE(Settle([&] { return events.data == "hello"; }));
    const std::string big(64 * 1024, 'x');
    client->Write(reinterpret_cast<const std::uint8_t*>(big.data()), big.size());
    EXPECT_EQ(ReadFd(peer, big.size()), big);
    EXPECT_EQ(events.connects.size(), 1u);
}

TEST_F(ConnectionTest, ReadsInChunksOfReadBuffer) {
    // With a 4-byte read buffer, 10 bytes arrive as chunks of at most 4, all of them.
    client->Buffers().SetReadBuffer(4);
    std::vector<std::size_t> sizes;
    client->OnData = [&](TwclCustomConnection&, const std::uint8_t*, std::size_t size) {
        sizes.push_back(size);
    };
    const int peer = ConnectToListener();
    ASSERT_GE(peer, 0);
    WriteFd(peer, "0123456789");
    std::size_t total = 0;
    EXPECT_TRUE(Settle([&] {
        total = 0;
        for (const std::size_t s : sizes) {
            total += s;
        }
        return total == 10;
    }));
    for (const std::size_t s : sizes) {
        EXPECT_LE(s, 4u);
    }
}

TEST_F(ConnectionTest, ConnectErrorsMapToResultCodes) {
    // Each socket error of a failed connect is reported as its result code, without OnDisconnect.
    const std::vector<std::pair<int, std::uint32_t>> table = {
        {10013, 0x8000F01D}, {10048, 0x8000F028}, {10049, 0x8000F02E}, {10053, 0x8000F01C},
        {10056, 0x8000F028}, {10060, 0x8000F02F}, {10061, 0x8000F02B}, {10065, 0x8000F02B},
    };
    for (const auto& [error, result] : table) {
        SCOPED_TRACE(error);
        events = Events{};
        events.Attach(*client);
        directory.route = sim::SimSocketRoute::Fail(error);
        client->Connect();
        EXPECT_TRUE(events.connects.empty());  // asynchronous, as on the system
        EXPECT_TRUE(Settle([&] { return !client->Active(); }));
        EXPECT_EQ(events.connects, std::vector<std::uint32_t>{result});
        EXPECT_EQ(events.disconnects, 0);
        EXPECT_EQ(sockets.OpenSocketCount(), 0u);
    }
}

TEST_F(ConnectionTest, RemoteCloseDeliversDataThenDisconnects) {
    // Bytes sent just before the peer closes still arrive, then OnDisconnect, once.
    const int peer = ConnectToListener();
    ASSERT_GE(peer, 0);
    WriteFd(peer, "last words");
    listener.ClosePeer(peer);
    EXPECT_TRUE(Settle([&] { return events.disconnects == 1; }));
    EXPECT_EQ(events.data, "last words");
    EXPECT_EQ(events.journal.back(), "disconnect");
    EXPECT_FALSE(client->Active());
    EXPECT_EQ(sockets.OpenSocketCount(), 0u);
    ProcessPending(loop);
    EXPECT_EQ(events.disconnects, 1);
}

TEST_F(ConnectionTest, ConnectTimesOutOnTheManualClock) {
    // A device that never answers: nothing at 29.999 s, OnConnect(0x8000F02F) at 30 s, no
    // OnDisconnect.
    Listener silent(0);
    silent.FillQueue();
    directory.route = sim::SimSocketRoute::To(silent.Endpoint());
    client->Connect();
    ProcessPending(loop);
    clock.Advance(29999ms);
    ProcessPending(loop);
    EXPECT_TRUE(events.connects.empty());
    clock.Advance(1ms);
    ProcessPending(loop);
    EXPECT_EQ(events.connects, std::vector<std::uint32_t>{0x8000F02F});
    EXPECT_EQ(events.disconnects, 0);
    EXPECT_FALSE(client->Active());
    EXPECT_EQ(sockets.OpenSocketCount(), 0u);
}

TEST_F(ConnectionTest, ConnectResultStopsTheTimer) {
    // Once connected, the connect time-out passing changes nothing.
    ASSERT_GE(ConnectToListener(), 0);
    clock.Advance(120s);
    ProcessPending(loop);
    EXPECT_EQ(events.connects, std::vector<std::uint32_t>{0});
    EXPECT_TRUE(client->Connected());
}

TEST_F(ConnectionTest, SubclassHandshakeKeepsTheTimerRunning) {
    // A client that reports the result itself times out if it never does, and is disconnected.
    client = MakeClient<HandshakeClient>();
    directory.route = sim::SimSocketRoute::To(listener.Endpoint());
    client->Connect();
    EXPECT_TRUE(Settle([&] { return client->Connected(); }));
    EXPECT_TRUE(events.connects.empty());
    clock.Advance(30s);
    ProcessPending(loop);
    EXPECT_EQ(events.connects, std::vector<std::uint32_t>{0x8000F02F});
    EXPECT_EQ(events.disconnects, 1);
    EXPECT_FALSE(client->Active());
}

TEST_F(ConnectionTest, UnloadingDisconnects) {
    // Message 1043 (the stack layer unloading) closes an open link, with OnDisconnect.
    ASSERT_GE(ConnectToListener(), 0);
    manager.Unload();
    EXPECT_EQ(events.disconnects, 1);
    EXPECT_FALSE(client->Active());
}

TEST_F(ConnectionTest, LosingTheRadiosStackDisconnects) {
    // 1041 after another transport went keeps the link; after the radio's stack went it closes.
    ASSERT_GE(ConnectToListener(), 0);
    fakes.SetReady(test::kIrDA, false);
    PostMessage(manager.WindowHandle(), wclMsg::kIrDAAbsent);
    ProcessPending(loop);
    EXPECT_TRUE(client->Connected());
    PostMessage(manager.WindowHandle(), wclMsg::kMicrosoftAbsent);
    EXPECT_TRUE(Settle([&] { return events.disconnects == 1; }));
    EXPECT_FALSE(client->Active());
}

TEST_F(ConnectionTest, SynchronousFailuresLeaveTheConnectionIdle) {
    // Each refused Connect raises its error and leaves no window, socket or Active state behind.
    const std::size_t windows = ProcessNotificationList().Size();
    client->BluetoothParams().SetRadio(nullptr);
    EXPECT_THROW(client->Connect(), wclERadioRequired);
    const TwclBluetoothRadio blueSoleil(TwclBluetoothAPI::baBlueSoleil);
    client->BluetoothParams().SetRadio(&blueSoleil);
    EXPECT_THROW(client->Connect(), wclEBluetoothAPINotAvailable);
    fakes.SetReady(0, true);
    PostMessage(manager.WindowHandle(), wclMsg::kBlueSoleilReady);
    ProcessPending(loop);
    EXPECT_THROW(client->Connect(), wclEInvalidBluetoothAPI);
    client->BluetoothParams().SetRadio(&radio);
    {
        const auto noWinsock = InProcessLibraries::Register("ws2_32.dll", {});
        EXPECT_THROW(client->Connect(), wclEUnableConnect);
    }
    EXPECT_FALSE(client->Active());
    EXPECT_EQ(ProcessNotificationList().Size(), windows);
    EXPECT_EQ(sockets.OpenSocketCount(), 0u);
    EXPECT_TRUE(events.connects.empty());
}

TEST_F(ConnectionTest, CallsOutOfOrderRaise) {
    // Write before the link, a second Connect, empty writes and the signal level follow their
    // rules.
    const std::uint8_t byte = 1;
    EXPECT_THROW(client->Write(&byte, 1), wclENotConnected);
    EXPECT_THROW(client->GetSignalLevel(), wclENotConnected);
    ASSERT_GE(ConnectToListener(), 0);
    EXPECT_THROW(client->Connect(), wclEConnectionExists);
    EXPECT_THROW(client->Write(nullptr, 1), wclEInvalidArgument);
    EXPECT_THROW(client->Write(&byte, 0), wclEInvalidArgument);
    EXPECT_THROW(client->GetSignalLevel(), wclEFeatureNotSupported);
    client->Disconnect();
    client->Disconnect();
    EXPECT_EQ(events.disconnects, 1);
}

TEST_F(ConnectionTest, AFailingOnConnectHandlerEndsTheAttempt) {
    // The handler's exception reaches the application handler; the attempt ends with 0x8000F02B.
    CaughtExceptions caught;
    client->OnConnect = [&](TwclCustomConnection&, std::uint32_t result) {
        events.connects.push_back(result);
        if (result == 0) {
            throw std::runtime_error("handler failed");
        }
    };
    directory.route = sim::SimSocketRoute::To(listener.Endpoint());
    client->Connect();
    EXPECT_TRUE(Settle([&] { return !client->Active(); }));
    EXPECT_EQ(events.connects, (std::vector<std::uint32_t>{0, 0x8000F02B}));
    EXPECT_EQ(caught.Messages(), std::vector<std::string>{"handler failed"});
    EXPECT_EQ(events.disconnects, 0);
}

TEST_F(ConnectionTest, AConnectionMayBeDestroyedInItsOwnHandlers) {
    // Freeing the connection inside OnDisconnect or OnData touches nothing freed.
    client->OnDisconnect = [&](TwclCustomConnection&) { client.reset(); };
    int peer = ConnectToListener();
    ASSERT_GE(peer, 0);
    listener.ClosePeer(peer);
    EXPECT_TRUE(Settle([&] { return client == nullptr; }));

    client = MakeClient<TwclCustomClientConnection>();
    client->OnData = [&](TwclCustomConnection&, const std::uint8_t*, std::size_t) {
        client.reset();
    };
    events.connects.clear();
    peer = ConnectToListener();
    ASSERT_GE(peer, 0);
    WriteFd(peer, "x");
    EXPECT_TRUE(Settle([&] { return client == nullptr; }));
    ProcessPending(loop);
    EXPECT_EQ(sockets.OpenSocketCount(), 0u);
}

// ---- Routes of a scenario -------------------------------------------------------

TEST_F(ConnectionTest, ScenarioRoutesFollowTheDevices) {
    // Where a connect lands, and what fails, follows each device's presence, behaviour and
    // services.
    sim::Scenario scenario;
    scenario.installedStacks = {sim::StackKind::Microsoft};
    auto device = [](std::string address, sim::PushBehaviour behaviour,
                     std::vector<sim::ServiceSpec> services) {
        sim::DeviceSpec made;
        made.address = std::move(address);
        made.behaviour = behaviour;
        made.services = std::move(services);
        return made;
    };
    const sim::ServiceSpec opp{9, "OBEX Object Push", "", "0x1105", false};
    const sim::ServiceSpec serial{3, "Serial Port", "", "0x1101", false};
    scenario.devices.push_back(
        device("(00:00:00:00:00:01)", sim::PushBehaviour::Accept, {serial, opp}));
    scenario.devices.back().externalEndpoint = listener.Endpoint();
    scenario.devices.push_back(device("(00:00:00:00:00:02)", sim::PushBehaviour::Busy, {opp}));
    scenario.devices.push_back(
        device("(00:00:00:00:00:03)", sim::PushBehaviour::NoObjectPush, {serial}));
    scenario.devices.push_back(device("(00:00:00:00:00:04)", sim::PushBehaviour::Accept, {opp}));
    scenario.devices.back().externalEndpoint = listener.Endpoint();
    scenario.devices.back().presence = {sim::Interval{0, 1000}};
    scenario.devices.push_back(device("(00:00:00:00:00:05)", sim::PushBehaviour::Accept, {opp}));
    directory.delegate = std::make_unique<sim::ScenarioSocketDirectory>(
        scenario,
        sim::ScenarioSocketDirectory::Sources{[] { return std::int64_t{5000}; }, {}, {}, {}});

    struct Case {
        const char* address;
        unsigned channel;
        std::uint32_t result;
    };
    const std::vector<Case> cases = {
        {"(00:00:00:00:00:01)", 0, 0},           // the stack finds channel 9
        {"(00:00:00:00:00:01)", 9, 0},           //
        {"(00:00:00:00:00:01)", 3, 0x8000F02B},  // nobody listens on the serial port
        {"(00:00:00:00:00:02)", 0, 0x8000F02B},  // busy
        {"(00:00:00:00:00:03)", 0, 0x8000F02E},  // no Object Push service
        {"(00:00:00:00:00:04)", 0, 0x8000F02F},  // left after one second
        {"(00:00:00:00:00:05)", 0, 0x8000F02B},  // no server runs for it
        {"(00:00:00:00:00:99)", 0, 0x8000F02F},  // never in range
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.address) + " channel " + std::to_string(c.channel));
        events = Events{};
        events.Attach(*client);
        client->BluetoothParams().SetAddress(c.address);
        client->BluetoothParams().SetChannel(c.channel);
        client->Connect();
        EXPECT_TRUE(Settle([&] { return !events.connects.empty(); }));
        EXPECT_EQ(events.connects, std::vector<std::uint32_t>{c.result});
        client->Disconnect();
    }
}

TEST(ConnectionNeighbourhoodTest, ConnectsThroughTheVirtualNeighbourhood) {
    // With the neighbourhood's Winsock and the real loaders, a push channel connects and a busy
    // device is refused; the Winsock error reaches WSAGetLastError from the shared slot.
    Listener device;
    ManualClock clock;
    PollEventLoop loop(clock);
    const std::string text =
        "stacks microsoft\nradio (00:1A:7D:DA:71:13) \"Radio\"\n"
        "device (00:17:E5:3A:91:02) \"Phone\" endpoint " +
        device.Endpoint() +
        "\n  service 9 \"OBEX Object Push\" 0x1105\n"
        "device (00:17:E5:3A:91:03) \"Busy\" behaviour busy\n"
        "  service 4 \"OBEX Object Push\" 0x1105\n";
    sim::VirtualNeighbourhood neighbourhood(sim::ParseScenario(text), clock, {}, loop);
    TwclAPIManager manager(loop, CreateDefaultLoaders(clock));
    manager.Load();
    ASSERT_TRUE(IsBluetoothAPIAvailable(TwclBluetoothAPI::baMicrosoft));

    const TwclBluetoothRadio radio(TwclBluetoothAPI::baMicrosoft);
    TwclCustomClientConnection client(loop);
    Events events;
    events.Attach(client);
    client.BluetoothParams().SetRadio(&radio);
    client.BluetoothParams().SetServiceUUID(OBEXObjectPushServiceClassUUID);
    client.BluetoothParams().SetAddress("(00:17:E5:3A:91:02)");
    client.Connect();
    EXPECT_TRUE(ProcessUntil(loop, [&] { return !events.connects.empty(); }));
    EXPECT_EQ(events.connects, std::vector<std::uint32_t>{0});
    EXPECT_GE(device.Accept(), 0);
    client.Disconnect();

    client.BluetoothParams().SetAddress("(00:17:E5:3A:91:03)");
    client.Connect();
    EXPECT_TRUE(ProcessUntil(loop, [&] { return events.connects.size() == 2; }));
    EXPECT_EQ(events.connects.back(), 0x8000F02Bu);

    const auto winsock = DynamicLibrary::Load("ws2_32.dll");
    ASSERT_NE(winsock, nullptr);
    const auto openSocket = winsock->ResolveAs<winsock::PFN_socket>("socket");
    const auto lastError = winsock->ResolveAs<winsock::PFN_WSAGetLastError>("WSAGetLastError");
    EXPECT_EQ(openSocket(winsock::kAfIrDA, winsock::kSockStream, 0), winsock::kInvalidSocket);
    EXPECT_EQ(lastError(), winsock::kWsaEAfNoSupport);
    manager.Unload();
}

// ---- A binding's own link --------------------------------------------------------

// What the connection did with the in-memory link, and the link's reports to it.
struct MemoryLinkState {
    int opened = 0;
    wclBluetoothLinkRequest request;
    wclLinkEvents events;
    std::string written;
    bool closed = false;
};

class MemoryLink final : public wclConnectionBackend {
public:
    explicit MemoryLink(std::shared_ptr<MemoryLinkState> state) : m_state(std::move(state)) {}
    void Write(const std::uint8_t* data, std::size_t size) override {
        m_state->written.append(reinterpret_cast<const char*>(data), size);
    }
    void Close() override { m_state->closed = true; }
    int SignalLevel() override { return -7; }

private:
    std::shared_ptr<MemoryLinkState> m_state;
};

class MemoryLinkBinding final : public test::FakeStackBinding {
public:
    MemoryLinkBinding(std::unique_ptr<wclBluetoothBinding> fake,
                      std::shared_ptr<MemoryLinkState> state)
        : FakeStackBinding(std::move(fake)), m_state(std::move(state)) {}
    std::unique_ptr<wclConnectionBackend> OpenLink(EventLoop&,
                                                   const wclBluetoothLinkRequest& request,
                                                   wclLinkEvents events) override {
        ++m_state->opened;
        m_state->request = request;
        m_state->events = std::move(events);
        m_state->closed = false;
        return std::make_unique<MemoryLink>(m_state);
    }

private:
    std::shared_ptr<MemoryLinkState> m_state;
};

TEST(ConnectionBackendTest, AStacksOwnLinkCarriesTheConnection) {
    // A stack with no connect path of its own in this build gains one through its binding alone:
    // the connection opens the binding's link, reports its result, carries bytes both ways,
    // reads its signal level and closes on its close report; a failed result closes it too.
    ManualClock clock;
    PollEventLoop loop(clock);
    FakeStacks fakes;
    fakes.SetReady(2, true);
    const auto link = std::make_shared<MemoryLinkState>();
    wclLoaderSet loaders = fakes.Loaders();
    std::unique_ptr<wclBluetoothBinding>& toshiba =
        test::BindingOf(loaders, TwclBluetoothAPI::baToshiba);
    toshiba = std::make_unique<MemoryLinkBinding>(std::move(toshiba), link);
    TwclAPIManager manager(loop, std::move(loaders));
    manager.Load();
    const TwclBluetoothRadio radio(TwclBluetoothAPI::baToshiba);
    TwclCustomClientConnection client(loop);
    Events events;
    events.Attach(client);
    client.BluetoothParams().SetRadio(&radio);
    client.BluetoothParams().SetAddress("(00:11:22:33:44:55)");
    client.BluetoothParams().SetChannel(4);
    client.BluetoothParams().SetAuthentication(true);
    client.Buffers().SetReadBuffer(512);

    client.Connect();
    ASSERT_EQ(link->opened, 1);
    EXPECT_EQ(link->request.address, "(00:11:22:33:44:55)");
    EXPECT_EQ(link->request.channel, 4);
    EXPECT_TRUE(link->request.authentication);
    EXPECT_EQ(link->request.settings.readBuffer, 512u);
    EXPECT_FALSE(client.Connected());
    link->events.onConnect(0);
    EXPECT_EQ(events.connects, std::vector<std::uint32_t>{0});
    EXPECT_TRUE(client.Connected());

    link->events.onData(reinterpret_cast<const std::uint8_t*>("pong"), 4);
    EXPECT_EQ(events.data, "pong");
    client.Write(reinterpret_cast<const std::uint8_t*>("ping"), 4);
    EXPECT_EQ(link->written, "ping");
    EXPECT_EQ(client.GetSignalLevel(), -7);
    link->events.onClose();
    EXPECT_EQ(events.disconnects, 1);
    EXPECT_FALSE(client.Active());
    EXPECT_TRUE(link->closed);

    client.Connect();
    link->events.onConnect(0x8000F02B);
    EXPECT_EQ(events.connects, (std::vector<std::uint32_t>{0, 0x8000F02B}));
    EXPECT_EQ(events.disconnects, 1);
    EXPECT_FALSE(client.Active());
    EXPECT_TRUE(link->closed);
    manager.Unload();
}

// ---- IrDA ------------------------------------------------------------------------

TEST_F(ConnectionTest, IrDAConnectsWithDeviceIdServiceAndNineWireMode) {
    // The IrDA address carries the device id and service; a plain client asks for nine-wire mode.
    client->SetClientTransport(TwclClientTransport::ctIrDA);
    client->IrDAParams().SetAddress("(01:02:03:04)");
    client->IrDAParams().SetService("OBEX:IrXfer");
    ASSERT_GE(ConnectToListener(), 0);
    EXPECT_EQ(events.connects, std::vector<std::uint32_t>{0});
    const auto record = sockets.LastConnect();
    ASSERT_TRUE(record);
    EXPECT_EQ(record->family, 26);
    EXPECT_EQ(record->irdaDeviceId, IrDAAddressToDeviceId("(01:02:03:04)"));
    EXPECT_EQ(record->irdaService, "OBEX:IrXfer");
    EXPECT_EQ(record->options.at({0xFF, 22}), 1u);
    EXPECT_THROW(client->GetSignalLevel(), wclEInvalidTransport);

    client = MakeClient<HandshakeClient>();
    client->SetClientTransport(TwclClientTransport::ctIrDA);
    client->Connect();
    EXPECT_EQ(sockets.LastConnect()->options.count({0xFF, 22}), 0u);
}

TEST_F(ConnectionTest, IrDAServiceMustFitTheAddress) {
    // 24 bytes fit beside the terminating zero; 25 are refused before a socket is opened.
    client->SetClientTransport(TwclClientTransport::ctIrDA);
    client->IrDAParams().SetService(std::string(25, 's'));
    EXPECT_THROW(client->Connect(), wclEInvalidIrDAService);
    EXPECT_FALSE(client->Active());
    EXPECT_EQ(sockets.OpenSocketCount(), 0u);
    client->IrDAParams().SetService(std::string(24, 's'));
    ASSERT_GE(ConnectToListener(), 0);
    EXPECT_EQ(sockets.LastConnect()->irdaService, std::string(24, 's'));
}

// ---- Serial over a pseudo-terminal -------------------------------------------

class SerialTest : public ConnectionTest {
protected:
    SerialTest() {
        // A sanitizer starts its own helper thread with the first thread
        // made; start it now so that counting threads counts only readers.
        std::thread([] {}).join();
        EXPECT_EQ(::openpty(&m_master, &m_slave, nullptr, nullptr, nullptr), 0);
        char name[128] = {};
        EXPECT_EQ(::ttyname_r(m_slave, name, sizeof name), 0);
        SetSerialPortPath(7, name);
        client->SetClientTransport(TwclClientTransport::ctSerial);
        client->SerialParams().SetPort(7);
    }
    ~SerialTest() override {
        client.reset();
        SetSerialPortPath(7, "");
        CloseMaster();
        ::close(m_slave);
    }
    void CloseMaster() {
        if (m_master >= 0) {
            ::close(m_master);
            m_master = -1;
        }
    }
    termios SlaveSettings() const {
        termios tio{};
        EXPECT_EQ(::tcgetattr(m_slave, &tio), 0);
        return tio;
    }

    int m_master = -1;
    int m_slave = -1;
};

TEST_F(SerialTest, ConnectsAtOnceExchangesBytesAndJoinsItsReader) {
    // OnConnect(0) comes during Connect, no timer closes the link, and Disconnect joins the reader.
    const std::size_t threads = ThreadCount();
    client->Connect();
    EXPECT_EQ(events.connects, std::vector<std::uint32_t>{0});
    EXPECT_TRUE(client->Connected());
    EXPECT_EQ(ThreadCount(), threads + 1);

    client->Write(reinterpret_cast<const std::uint8_t*>("ping"), 4);
    EXPECT_EQ(ReadFd(m_master, 4), "ping");
    WriteFd(m_master, "pong");
    EXPECT_TRUE(Settle([&] { return events.data == "pong"; }));

    clock.Advance(60s);
    ProcessPending(loop);
    EXPECT_EQ(events.connects.size(), 1u);
    EXPECT_TRUE(client->Connected());

    client->Disconnect();
    EXPECT_EQ(events.disconnects, 1);
    EXPECT_EQ(ThreadCount(), threads);
}

TEST_F(SerialTest, LineSettingsReachTheDevice) {
    // Mark or space parity, 1.5 stop bits (two here) and a custom rate are applied. A
    // pseudo-terminal forces eight bits without parity checking, so CSIZE and PARENB are not
    // seen here; the stick-parity bits and the rest are.
    client->SerialParams().SetByteSize(TwclByteSize::bs7);
    client->SerialParams().SetParity(TwclParity::paMark);
    client->SerialParams().SetStopBits(TwclStopBits::sb15);
    client->SerialParams().SetBaudRateValue(12345);
    client->Connect();
    termios tio = SlaveSettings();
    EXPECT_EQ(tio.c_cflag & (PARODD | CMSPAR), static_cast<tcflag_t>(PARODD | CMSPAR));
    EXPECT_NE(tio.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(tio.c_cflag & CBAUD, static_cast<tcflag_t>(CBAUDEX));  // the rate goes by value
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO), 0u);
    client->Disconnect();

    client->SerialParams().SetParity(TwclParity::paSpace);
    client->SerialParams().SetStopBits(TwclStopBits::sb1);
    client->SerialParams().SetBaudRate(TwclBaudRate::br57600);
    client->Connect();
    tio = SlaveSettings();
    EXPECT_EQ(tio.c_cflag & (PARODD | CMSPAR), static_cast<tcflag_t>(CMSPAR));
    EXPECT_EQ(tio.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B57600));
}

TEST_F(SerialTest, RefusedOpensRaiseUnableConnect) {
    // No device at the path, or four data bits: wclEUnableConnect, and the connection stays Idle.
    const std::size_t threads = ThreadCount();
    client->SerialParams().SetByteSize(TwclByteSize::bs4);
    EXPECT_THROW(client->Connect(), wclEUnableConnect);
    client->SerialParams().SetByteSize(TwclByteSize::bs8);
    SetSerialPortPath(8, "/nonexistent/tty");
    client->SerialParams().SetPort(8);
    EXPECT_THROW(client->Connect(), wclEUnableConnect);
    EXPECT_FALSE(client->Active());
    EXPECT_TRUE(events.connects.empty());
    EXPECT_EQ(ThreadCount(), threads);
    SetSerialPortPath(8, "");
}

TEST_F(SerialTest, WriteTimesOutWhenTheLineDoesNotDrain) {
    // Nobody reads the other end: the write gives up after WriteTimeout with wclETimeout, link
    // open.
    client->Timeouts().SetWriteTimeout(1);
    client->Connect();
    const std::vector<std::uint8_t> lots(4 * 1024 * 1024, 0x55);
    EXPECT_THROW(client->Write(lots.data(), lots.size()), wclETimeout);
    EXPECT_TRUE(client->Connected());
}

TEST_F(SerialTest, HangUpEndsTheReaderAndWritesFail) {
    // The other end closing ends the reader by itself; a later write raises wclEWriteError.
    const std::size_t threads = ThreadCount();
    client->Connect();
    CloseMaster();
    EXPECT_TRUE(test::ProcessUntil(loop, [&] { return ThreadCount() == threads; }));
    const std::uint8_t byte = 0;
    EXPECT_THROW(client->Write(&byte, 1), wclEWriteError);
    client->Disconnect();
    EXPECT_EQ(events.disconnects, 1);
}

TEST_F(SerialTest, DisconnectOrDestroyFromOnDataDoesNotDeadlock) {
    // The reader waits for the chunk's handling; it is joined right after, in both cases.
    const std::size_t threads = ThreadCount();
    client->OnData = [&](TwclCustomConnection& sender, const std::uint8_t*, std::size_t) {
        sender.Disconnect();
    };
    client->Connect();
    WriteFd(m_master, "a");
    EXPECT_TRUE(Settle([&] { return !client->Active() && ThreadCount() == threads; }));

    client->OnData = [&](TwclCustomConnection&, const std::uint8_t*, std::size_t) {
        client.reset();
    };
    client->Connect();
    WriteFd(m_master, "b");
    EXPECT_TRUE(Settle([&] { return client == nullptr && ThreadCount() == threads; }));
}

TEST_F(SerialTest, HandshakeClientGetsTheConnectTimer) {
    // A serial client that reports later is bounded by the connect timer like any other.
    client = MakeClient<HandshakeClient>();
    client->SetClientTransport(TwclClientTransport::ctSerial);
    client->SerialParams().SetPort(7);
    client->Connect();
    EXPECT_TRUE(events.connects.empty());
    clock.Advance(30s);
    ProcessPending(loop);
    EXPECT_EQ(events.connects, std::vector<std::uint32_t>{0x8000F02F});
    EXPECT_FALSE(client->Active());
}

}  // namespace
}  // namespace kavri
