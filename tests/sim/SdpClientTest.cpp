// The SDP client of the BlueZ binding against the virtual devices' SDP
// servers, and against a peer that answers with hostile bytes.
#include <gtest/gtest.h>

#include "sim/ScenarioParser.h"
#include "sim/SdpRecordWriter.h"
#include "sim/TcpEndpoint.h"
#include "sim/VirtualSdpServers.h"
#include "stack/wclExceptions.h"
#include "stack/wclSdpClient.h"
#include "stack/wclUUIDs.h"

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kavri {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

constexpr const char* kPhone = "00:17:E5:3A:91:02";

// A connected socket to the device's SDP server.
class SdpLink {
public:
    SdpLink(sim::VirtualSdpServers& servers, const std::string& address) {
        const auto endpoint = servers.Endpoint(address);
        EXPECT_TRUE(endpoint.has_value());
        int error = 0;
        m_fd = endpoint ? sim::ConnectWithoutWaiting(*endpoint, error) : -1;
        pollfd writable{m_fd, POLLOUT, 0};
        EXPECT_EQ(::poll(&writable, 1, 5000), 1);
    }
    ~SdpLink() { ::close(m_fd); }
    int Fd() const { return m_fd; }

private:
    int m_fd = -1;
};

std::string Phone(const std::string& services) {
    return "stacks bluez\ndevice (00:17:E5:3A:91:02) \"Phone\"\n" + services;
}

TEST(SdpClient, ClassSearchAndBrowseOfTheVirtualServer) {
    // A phone with Object Push on 9, a serial port on 3 and a service with UTF-16 texts.
    // Expected: the class search finds channel 9 alone; a browse finds all three in
    // the server's order, with names and classes.
    const sim::Scenario scenario = sim::ParseScenario(
        Phone("  service 9 \"OBEX Object Push\" 0x1105\n  service 3 \"Serial Port\" 0x1101\n"
              "  service 12 \"Dial-up\" 0x1103 utf16\n"));
    sim::VirtualSdpServers servers(scenario);
    {
        SdpLink link(servers, kPhone);
        const auto push = SdpQueryServices(link.Fd(), OBEXObjectPushServiceClassUUID);
        ASSERT_EQ(push.size(), 1u);
        EXPECT_EQ(push[0].Channel, 9);
        EXPECT_EQ(push[0].Name, "OBEX Object Push");
    }
    SdpLink link(servers, kPhone);
    const auto all = SdpQueryServices(link.Fd(), std::nullopt);
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].UUID, OBEXObjectPushServiceClassUUID);
    EXPECT_EQ(all[1].Channel, 3);
    EXPECT_EQ(all[1].UUID, SerialPortServiceClassUUID);
    EXPECT_EQ(all[2].Channel, 12);
    EXPECT_EQ(all[2].Name, "Dial-up");
    // The same link serves a second transaction.
    EXPECT_EQ(SdpQueryServices(link.Fd(), SerialPortServiceClassUUID).size(), 1u);
}

TEST(SdpClient, LongAnswersArriveWithContinuationsAndRespectTheBounds) {
    // Thirty services with long names: several kilobytes, sent in pieces of 600.
    // Expected: every service in order; with a response bound below the size, or
    // fewer rounds than pieces, the services error instead.
    std::string services;
    for (int i = 1; i <= 30; ++i) {
        services += "  service " + std::to_string(i) + " \"" + std::string(100, 'a') +
                    std::to_string(i) + "\" 0x1101\n";
    }
    const sim::Scenario scenario = sim::ParseScenario(Phone(services));
    sim::VirtualSdpServers servers(scenario);
    {
        SdpLink link(servers, kPhone);
        const auto all = SdpQueryServices(link.Fd(), std::nullopt);
        ASSERT_EQ(all.size(), 30u);
        for (int i = 0; i < 30; ++i)
            EXPECT_EQ(all[i].Channel, i + 1);
        EXPECT_EQ(all[29].Name, std::string(100, 'a') + "30");
    }
    {
        SdpLink link(servers, kPhone);
        SdpClientLimits limits;
        limits.maxResponseBytes = 1000;
        EXPECT_THROW(SdpQueryServices(link.Fd(), std::nullopt, limits), wclEEnumServices);
    }
    SdpLink link(servers, kPhone);
    SdpClientLimits limits;
    limits.maxRounds = 2;
    EXPECT_THROW(SdpQueryServices(link.Fd(), std::nullopt, limits), wclEEnumServices);
}

TEST(SdpClient, RecordsThatNameNoUsableServiceAreLeftOut) {
    // Raw records: Object Push on channel 40 (beyond RFCOMM's 30), a record without
    // a class, Object Push on 7, then a record whose size runs past the answer.
    // Expected: only channel 7; the cut record ends the list without an error.
    const sim::Scenario scenario = sim::ParseScenario(Phone(""));
    sim::VirtualSdpServers servers(scenario);
    Bytes records;
    for (const auto& record :
         {BuildServiceRecord(0x10000, {OBEXObjectPushServiceClassUUID}, 40, "Far", "",
                             SdpTextEncoding::Utf8),
          BuildServiceRecord(0x10001, {}, 5, "Classless", "", SdpTextEncoding::Utf8),
          BuildServiceRecord(0x10002, {OBEXObjectPushServiceClassUUID}, 7, "Near", "",
                             SdpTextEncoding::Utf8)})
        records.insert(records.end(), record.begin(), record.end());
    records.insert(records.end(), {0x35, 0x40, 0x09, 0x00});
    servers.SetRawRecords(kPhone, records);
    SdpLink link(servers, kPhone);
    const auto services = SdpQueryServices(link.Fd(), std::nullopt);
    ASSERT_EQ(services.size(), 1u);
    EXPECT_EQ(services[0].Channel, 7);
    EXPECT_EQ(services[0].Name, "Near");
}

TEST(SdpClient, ASilentServerEndsInTheTimeOut) {
    // A server that never answers; a time-out of 50 ms.
    // Expected: the services error.
    const sim::Scenario scenario = sim::ParseScenario(Phone("  service 9 \"OPP\" 0x1105\n"));
    sim::VirtualSdpServers servers(scenario);
    servers.SetSilent(kPhone, true);
    SdpLink link(servers, kPhone);
    SdpClientLimits limits;
    limits.timeout = 50ms;
    EXPECT_THROW(SdpQueryServices(link.Fd(), std::nullopt, limits), wclEEnumServices);
}

// Sends raw bytes to the server and returns its answer (empty when it hung up).
Bytes Exchange(int fd, const Bytes& request) {
    EXPECT_EQ(::send(fd, request.data(), request.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(request.size()));
    pollfd readable{fd, POLLIN, 0};
    EXPECT_EQ(::poll(&readable, 1, 5000), 1);
    Bytes answer(2048);
    const ssize_t got = ::recv(fd, answer.data(), answer.size(), 0);
    answer.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return answer;
}

TEST(VirtualSdpServer, MalformedRequestsGetTheProtocolsErrors) {
    // Another PDU than a service search for attributes; a continuation state the
    // server never handed out; a request longer than 1 KiB.
    // Expected: ErrorResponses with the syntax, continuation and size codes, each
    // for its transaction; the long request's connection is then closed.
    const sim::Scenario scenario = sim::ParseScenario(Phone("  service 9 \"OPP\" 0x1105\n"));
    sim::VirtualSdpServers servers(scenario);
    SdpLink link(servers, kPhone);
    EXPECT_EQ(Exchange(link.Fd(), {0x02, 0x00, 0x07, 0x00, 0x00}),
              (Bytes{0x01, 0x00, 0x07, 0x00, 0x02, 0x00, 0x03}));
    const Bytes staleContinuation = {0x06, 0x00, 0x08, 0x00, 0x13, 0x35, 0x03, 0x19,
                                     0x11, 0x05, 0xFF, 0xFF, 0x35, 0x05, 0x0A, 0x00,
                                     0x00, 0xFF, 0xFF, 0x04, 0x00, 0x00, 0x00, 0x10};
    EXPECT_EQ(Exchange(link.Fd(), staleContinuation),
              (Bytes{0x01, 0x00, 0x08, 0x00, 0x02, 0x00, 0x05}));
    // The header alone says how long the request is.
    const Bytes huge = {0x06, 0x00, 0x09, 0x04, 0x00};
    EXPECT_EQ(Exchange(link.Fd(), huge), (Bytes{0x01, 0x00, 0x09, 0x00, 0x02, 0x00, 0x04}));
    EXPECT_TRUE(Exchange(link.Fd(), {0x06}).empty());
}

// A peer on a packet socket pair that answers each request with what answer
// makes of the round and the request's transaction id.
class HostilePeer {
public:
    using Answer = std::function<Bytes(int round, std::uint16_t transaction)>;

    explicit HostilePeer(Answer answer) {
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, m_fds), 0);
        m_thread = std::thread([this, answer = std::move(answer)] {
            std::uint8_t request[1024];
            for (int round = 0;; ++round) {
                const ssize_t got = ::recv(m_fds[1], request, sizeof request, 0);
                if (got < 5)
                    break;
                const Bytes reply =
                    answer(round, static_cast<std::uint16_t>(request[1] << 8 | request[2]));
                if (reply.empty() || ::send(m_fds[1], reply.data(), reply.size(), 0) < 0)
                    break;
            }
            // An empty answer hangs up.
            ::shutdown(m_fds[1], SHUT_RDWR);
        });
    }
    ~HostilePeer() {
        ::shutdown(m_fds[0], SHUT_RDWR);
        m_thread.join();
        ::close(m_fds[0]);
        ::close(m_fds[1]);
    }
    int Fd() const { return m_fds[0]; }

private:
    int m_fds[2] = {-1, -1};
    std::thread m_thread;
};

// A ServiceSearchAttributeResponse with these attribute-list bytes and state.
Bytes Response(std::uint16_t transaction, const Bytes& lists, const Bytes& state,
               std::uint8_t pdu = 0x07) {
    const std::size_t parameters = 2 + lists.size() + 1 + state.size();
    Bytes out{pdu,
              static_cast<std::uint8_t>(transaction >> 8),
              static_cast<std::uint8_t>(transaction),
              static_cast<std::uint8_t>(parameters >> 8),
              static_cast<std::uint8_t>(parameters),
              static_cast<std::uint8_t>(lists.size() >> 8),
              static_cast<std::uint8_t>(lists.size())};
    out.insert(out.end(), lists.begin(), lists.end());
    out.push_back(static_cast<std::uint8_t>(state.size()));
    out.insert(out.end(), state.begin(), state.end());
    return out;
}

TEST(SdpClient, HostileAnswersEndInTheServicesError) {
    // Answers that are not what was asked: another transaction id, an error PDU, a
    // byte count beyond the PDU, a continuation state of 17 bytes, a lists sequence
    // whose size disagrees with its bytes, and a server that never stops
    // continuing. Expected: each ends in the services error, the endless one after
    // the bounded number of rounds.
    const Bytes empty{0x35, 0x00};
    const std::vector<std::pair<const char*, HostilePeer::Answer>> cases = {
        {"other transaction", [&](int, std::uint16_t id) { return Response(id + 1, empty, {}); }},
        {"error response",
         [](int, std::uint16_t id) {
             return Bytes{0x01,
                          static_cast<std::uint8_t>(id >> 8),
                          static_cast<std::uint8_t>(id),
                          0x00,
                          0x02,
                          0x00,
                          0x03};
         }},
        {"count beyond the PDU",
         [&](int, std::uint16_t id) {
             Bytes reply = Response(id, empty, {});
             reply[6] = 0x40;
             return reply;
         }},
        {"long continuation",
         [&](int, std::uint16_t id) { return Response(id, {0x35}, Bytes(17, 0xAA)); }},
        {"lists size disagrees",
         [](int, std::uint16_t id) {
             return Response(id, {0x35, 0x09, 0x35, 0x00}, {});
         }},
        {"endless continuation",
         [](int, std::uint16_t id) { return Response(id, {0x35}, {0x01}); }},
    };
    for (const auto& [what, answer] : cases) {
        SCOPED_TRACE(what);
        HostilePeer peer(answer);
        EXPECT_THROW(SdpQueryServices(peer.Fd(), std::nullopt), wclEEnumServices);
    }
}

TEST(SdpClient, AnEmptyAnswerIsNoServiceAndAClosedPeerAnError) {
    // A server with nothing of the class (no lists at all, or an empty sequence);
    // then a peer that hangs up without answering.
    // Expected: no services for both answers; the services error for the hang-up.
    for (const Bytes& lists : {Bytes{}, Bytes{0x35, 0x00}}) {
        HostilePeer peer([&](int, std::uint16_t id) { return Response(id, lists, {}); });
        EXPECT_TRUE(SdpQueryServices(peer.Fd(), OBEXObjectPushServiceClassUUID).empty());
    }
    HostilePeer peer([](int, std::uint16_t) { return Bytes{}; });
    EXPECT_THROW(SdpQueryServices(peer.Fd(), std::nullopt), wclEEnumServices);
}

}  // namespace
}  // namespace kavri
