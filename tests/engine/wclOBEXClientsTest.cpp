#include "engine/wclOBEXClients.h"

#include "platform/Clock.h"
#include "platform/PollEventLoop.h"
#include "stack/wclAPI.h"
#include "stack/wclFakeStacks.h"
#include "stack/wclMessages.h"
#include "stack/wclUUIDs.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace kavri {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using Op = TwclOBEXOperation;
using test::ProcessPending;

constexpr std::uint32_t kId = 0x01020304;

// The Object Push client over a fake link: what it writes is captured, what
// the peer answers is fed in by the test (whole, byte by byte, or several
// responses at once). The link comes up as soon as Connect asks for it.
class FakeLinkClient final : public TwclOPPClient {
public:
    explicit FakeLinkClient(EventLoop& loop) : TwclOPPClient(loop) {
        // Serial is usable whenever the library is loaded, without any stack.
        SetClientTransport(TwclClientTransport::ctSerial);
    }
    ~FakeLinkClient() override { DestroyingDisconnect(); }

    void Receive(const Bytes& bytes) { DataReceived(bytes.data(), bytes.size()); }
    void ReceiveBytewise(const Bytes& bytes) {
        for (const std::uint8_t byte : bytes)
            DataReceived(&byte, 1);
    }

    std::vector<Bytes> written;
    bool failWrites = false;
    // Set: the writes fail from that many writes on.
    std::optional<std::size_t> failWritesAfter;
    int linkCloses = 0;

protected:
    void InternalConnect() override {
        SetConnected(true);
        if (!AfterConnect())
            DoConnect(0);
    }
    void InternalWrite(const std::uint8_t* data, std::size_t size) override {
        if (failWrites || (failWritesAfter && written.size() >= *failWritesAfter))
            throw wclEWriteError();
        written.emplace_back(data, data + size);
    }
    void InternalDisconnect() override { ++linkCloses; }
};

// An object source that keeps a journal of its reads and fails the read
// numbered failAt (counted from 1) with the file error.
class JournalSource final : public TwclOBEXObjectSource {
public:
    JournalSource(Bytes bytes, std::vector<std::size_t>& reads, std::size_t failAt = 0)
        : m_bytes(std::move(bytes)), m_reads(reads), m_failAt(failAt) {}
    std::uint64_t Size() const override { return m_bytes.size(); }
    void Read(std::span<std::uint8_t> bytes) override {
        m_reads.push_back(bytes.size());
        if (m_reads.size() == m_failAt)
            throw wclException("unreadable", kWclErrInvalidData);
        std::memcpy(bytes.data(), m_bytes.data() + m_position, bytes.size());
        m_position += bytes.size();
    }

private:
    Bytes m_bytes;
    std::vector<std::size_t>& m_reads;
    std::size_t m_failAt;
    std::size_t m_position = 0;
};

// A response from the peer: code, length, headers.
Bytes Response(std::uint8_t code, const Bytes& headers = {}) {
    Bytes packet{code, 0, 0};
    packet.insert(packet.end(), headers.begin(), headers.end());
    packet[1] = static_cast<std::uint8_t>(packet.size() >> 8);
    packet[2] = static_cast<std::uint8_t>(packet.size() & 0xFF);
    return packet;
}

Bytes ConnectResponse(std::uint16_t peerMaximum, const Bytes& headers = {}) {
    Bytes fields{0x10, 0x00, static_cast<std::uint8_t>(peerMaximum >> 8),
                 static_cast<std::uint8_t>(peerMaximum & 0xFF)};
    fields.insert(fields.end(), headers.begin(), headers.end());
    return Response(0xA0, fields);
}

Bytes Header(std::uint8_t id, const Bytes& data) {
    Bytes header{id, static_cast<std::uint8_t>((data.size() + 3) >> 8),
                 static_cast<std::uint8_t>((data.size() + 3) & 0xFF)};
    header.insert(header.end(), data.begin(), data.end());
    return header;
}

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes Text(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

Bytes Pattern(std::size_t size) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7 + 1);
    return bytes;
}

std::size_t PacketLength(const Bytes& packet) {
    return (std::size_t{packet.at(1)} << 8) | packet.at(2);
}

const char* OpName(Op op) {
    static const char* const kNames[] = {"ooNone",    "ooOpenSession", "ooPut",
                                         "ooGet",     "ooDelete",      "ooSetPath",
                                         "ooMakeDir", "ooDir",         "ooTerminate"};
    return kNames[static_cast<std::size_t>(op)];
}

std::string Hex(std::uint32_t value) {
    std::ostringstream out;
    out << std::hex << std::uppercase << value;
    return out.str();
}

class OBEXClientTest : public ::testing::Test {
protected:
    OBEXClientTest() {
        SetApplicationExceptionHandler([this](std::exception_ptr error) {
            try {
                std::rethrow_exception(error);
            } catch (const std::exception& e) {
                caught.emplace_back(e.what());
            }
        });
        manager.Load();
        client.OnConnect = [this](TwclCustomConnection&, std::uint32_t result) {
            log.push_back("connect " + Hex(result));
        };
        client.OnDisconnect = [this](TwclCustomConnection&) { log.push_back("disconnect"); };
        client.OnComplete = [this](TwclCustomOBEXClient& sender, std::uint32_t result, Op op) {
            log.push_back("complete " + Hex(result) + " " + OpName(op));
            // Idle already, so the handler may start the next operation.
            EXPECT_EQ(sender.Operation(), Op::ooNone);
        };
        client.OnProgress = [this](TwclCustomOBEXClient&, std::uint32_t position,
                                   std::uint32_t size) {
            log.push_back("progress " + std::to_string(position) + "/" + std::to_string(size));
        };
        client.OnStarted = [this](TwclCustomOBEXClient&, Op op) {
            log.push_back(std::string("started ") + OpName(op));
        };
        client.OnGetComplete = [this](TwclCustomOBEXClient&, std::uint32_t result,
                                      const Bytes* object) {
            log.push_back("get " + Hex(result) + (object ? " object" : " none"));
            if (object)
                received = *object;
        };
        client.OnDirComplete = [this](TwclCustomOBEXClient&, std::uint32_t result,
                                      const TwclFileSystemObjects* objects) {
            log.push_back("dir " + Hex(result) +
                          (objects ? " " + std::to_string(objects->Count()) : " none"));
            listing.clear();
            for (std::size_t i = 0; objects && i < objects->Count(); ++i)
                listing.push_back(objects->Items(i).Name());
        };
    }
    ~OBEXClientTest() override { SetApplicationExceptionHandler({}); }

    // Link up, CONNECT answered; the captured packets and events start empty.
    void OpenSession(std::uint16_t peerMaximum = 2048, std::uint32_t id = 0) {
        client.Connect();
        Bytes headers;
        if (id != 0) {
            headers = {0xCB, static_cast<std::uint8_t>(id >> 24),
                       static_cast<std::uint8_t>(id >> 16), static_cast<std::uint8_t>(id >> 8),
                       static_cast<std::uint8_t>(id)};
        }
        client.Receive(ConnectResponse(peerMaximum, headers));
        ASSERT_TRUE(client.OBEXConnected());
        client.written.clear();
        log.clear();
    }

    // Puts the object and answers CONTINUE until the final packet is written;
    // returns the packets written after the first.
    std::vector<Bytes> PushToFinal(const Bytes& object) {
        client.Put("a", object);
        client.written.clear();
        for (int guard = 0; guard < 100000; ++guard) {
            client.Receive(Response(0x90));
            if (client.written.empty() || client.written.back().at(0) == 0x82)
                break;
        }
        return client.written;
    }

    ManualClock clock;
    PollEventLoop loop{clock};
    TwclAPIManager manager{loop, wclLoaderSet{}};
    // What the handlers record; declared before the client, which may still
    // raise OnDisconnect while it is destroyed.
    std::vector<std::string> log;
    std::vector<std::string> caught;
    Bytes received;
    std::vector<std::string> listing;
    FakeLinkClient client{loop};
};

// ---------------------------------------------------------------------------
// Creation, parameters and the OBEX connect

TEST_F(OBEXClientTest, ObjectPushClientTargetsTheObjectPushService) {
    // A new client. Expected: Object Push UUID, IrDA service "OBEX", packet size 2048, idle.
    EXPECT_TRUE(client.BluetoothParams().ServiceUUID() == OBEXObjectPushServiceClassUUID);
    EXPECT_EQ(client.IrDAParams().Service(), "OBEX");
    EXPECT_EQ(client.Param().PacketSize(), 2048);
    EXPECT_EQ(client.Operation(), Op::ooNone);
    EXPECT_EQ(client.ConnectionId(), 0u);
    EXPECT_EQ(client.PeerMaximum(), 0);
    EXPECT_FALSE(client.OBEXConnected());
}

TEST_F(OBEXClientTest, PacketSizeIsCheckedAndFrozenWhileActive) {
    // Values below 255, then changes while Active. Expected: wclEInvalidPacketSize,
    // then wclEConnectionActive; the same value is always accepted.
    EXPECT_THROW(client.Param().SetPacketSize(254), wclEInvalidPacketSize);
    EXPECT_THROW(client.Param().SetPacketSize(0), wclEInvalidPacketSize);
    client.Param().SetPacketSize(255);
    EXPECT_EQ(client.Param().PacketSize(), 255);
    client.Connect();
    EXPECT_EQ(client.written.at(0), (Bytes{0x80, 0x00, 0x07, 0x10, 0x00, 0x00, 0xFF}));
    EXPECT_THROW(client.Param().SetPacketSize(4096), wclEConnectionActive);
    EXPECT_THROW(client.Param().SetPacketSize(100), wclEConnectionActive);
    EXPECT_NO_THROW(client.Param().SetPacketSize(255));
    client.Disconnect();
    client.Param().SetPacketSize(4096);
    EXPECT_EQ(client.Param().PacketSize(), 4096);
}

TEST_F(OBEXClientTest, ConnectWaitsForTheResponseAndReadsPeerMaximumAndId) {
    // Link up, then a SUCCESS with a Who header before the Connection Id. Expected:
    // CONNECT 80 00 07 10 00 08 00; OnConnect 0 only after the response; id and maximum kept.
    client.Connect();
    EXPECT_EQ(client.written, (std::vector<Bytes>{{0x80, 0x00, 0x07, 0x10, 0x00, 0x08, 0x00}}));
    EXPECT_EQ(client.Operation(), Op::ooOpenSession);
    EXPECT_TRUE(log.empty());
    client.Receive(ConnectResponse(
        0x1234, Concat(Header(0x4A, {1, 2, 3, 4}), {0xCB, 0xDE, 0xAD, 0xBE, 0xEF})));
    EXPECT_EQ(log, (std::vector<std::string>{"connect 0"}));
    EXPECT_EQ(client.PeerMaximum(), 0x1234);
    EXPECT_EQ(client.ConnectionId(), 0xDEADBEEFu);
    EXPECT_TRUE(client.OBEXConnected());
    EXPECT_EQ(client.Operation(), Op::ooNone);
}

TEST_F(OBEXClientTest, RefusedOrTooShortConnectClosesTheLink) {
    // A CONNECT answered 0xC3, and one answered SUCCESS without the maximum. Expected:
    // OnConnect 0x8000F032, then the link closes (OnDisconnect: it was up).
    for (const Bytes& answer : {Response(0xC3, {0x10, 0x00, 0x08, 0x00}), Response(0xA0, {0x10})}) {
        log.clear();
        client.Connect();
        client.Receive(answer);
        EXPECT_EQ(log, (std::vector<std::string>{"connect 8000F032", "disconnect"}));
        EXPECT_FALSE(client.Active());
        EXPECT_FALSE(client.OBEXConnected());
    }
    EXPECT_EQ(client.linkCloses, 2);
}

TEST_F(OBEXClientTest, ConnectionIdWalkIsBoundedByThePacket) {
    // Connection Id hidden behind a header that runs past the end, or cut short. Expected:
    // connected without an id; nothing read beyond the response (checked by ASan).
    const Bytes cases[] = {
        Concat({0x4A, 0x00, 0x40}, {0xCB, 1, 2, 3, 4}),  // Who header claims 64 bytes
        {0x4A, 0x00, 0x01, 0xCB, 1, 2, 3, 4},            // length below its own prefix
        {0xCB, 1, 2},                                    // id header cut short
        {0x4A},                                          // identifier alone
    };
    for (const Bytes& headers : cases) {
        client.Connect();
        client.Receive(ConnectResponse(2048, headers));
        EXPECT_TRUE(client.OBEXConnected());
        EXPECT_EQ(client.ConnectionId(), 0u);
        client.Disconnect();
    }
}

// ---------------------------------------------------------------------------
// Requests, byte for byte

struct RequestCase {
    const char* title;
    std::function<void(TwclCustomOBEXClient&)> call;
    Bytes withoutId;
    Bytes withId;
};

const RequestCase kRequestCases[] = {
    {"Put first packet",
     [](TwclCustomOBEXClient& c) {
         c.Put("a", Bytes{1, 2, 3});
     },
     {0x02, 0x00, 0x0F, 0xC3, 0, 0, 0, 3, 0x01, 0x00, 0x07, 0x00, 0x61, 0x00, 0x00},
     {0x02, 0x00, 0x14, 0xCB, 1,    2,    3,    4,    0xC3, 0,
      0,    0,    3,    0x01, 0x00, 0x07, 0x00, 0x61, 0x00, 0x00}},
    {"Get",
     [](TwclCustomOBEXClient& c) { c.Get("a"); },
     {0x83, 0x00, 0x0A, 0x01, 0x00, 0x07, 0x00, 0x61, 0x00, 0x00},
     {0x83, 0x00, 0x0F, 0xCB, 1, 2, 3, 4, 0x01, 0x00, 0x07, 0x00, 0x61, 0x00, 0x00}},
    {"Dir", [](TwclCustomOBEXClient& c) { c.Dir(); },
     Concat(Concat({0x83, 0x00, 0x1F, 0x42, 0x00, 0x19}, Text("x-obex/folder-listing")),
            {0x00, 0x01, 0x00, 0x03}),
     Concat(Concat({0x83, 0x00, 0x24, 0xCB, 1, 2, 3, 4, 0x42, 0x00, 0x19},
                   Text("x-obex/folder-listing")),
            {0x00, 0x01, 0x00, 0x03})},
    {"Delete",
     [](TwclCustomOBEXClient& c) { c.Delete("a"); },
     {0x82, 0x00, 0x0A, 0x01, 0x00, 0x07, 0x00, 0x61, 0x00, 0x00},
     {0x82, 0x00, 0x0F, 0xCB, 1, 2, 3, 4, 0x01, 0x00, 0x07, 0x00, 0x61, 0x00, 0x00}},
    {"MakeDir",
     [](TwclCustomOBEXClient& c) { c.MakeDir("a"); },
     {0x85, 0x00, 0x0C, 0x00, 0x00, 0x01, 0x00, 0x07, 0x00, 0x61, 0x00, 0x00},
     {0x85, 0x00, 0x11, 0x00, 0x00, 0xCB, 1, 2, 3, 4, 0x01, 0x00, 0x07, 0x00, 0x61, 0x00, 0x00}},
    {"SetPath root",
     [](TwclCustomOBEXClient& c) { c.SetPath("\\"); },
     {0x85, 0x00, 0x08, 0x02, 0x00, 0x01, 0x00, 0x03},
     {0x85, 0x00, 0x0D, 0x02, 0x00, 0xCB, 1, 2, 3, 4, 0x01, 0x00, 0x03}},
    {"SetPath up",
     [](TwclCustomOBEXClient& c) { c.SetPath(".."); },
     {0x85, 0x00, 0x05, 0x03, 0x00},
     {0x85, 0x00, 0x0A, 0x03, 0x00, 0xCB, 1, 2, 3, 4}},
    {"SetPath name",
     [](TwclCustomOBEXClient& c) { c.SetPath("a"); },
     {0x85, 0x00, 0x0C, 0x02, 0x00, 0x01, 0x00, 0x07, 0x00, 0x61, 0x00, 0x00},
     {0x85, 0x00, 0x11, 0x02, 0x00, 0xCB, 1, 2, 3, 4, 0x01, 0x00, 0x07, 0x00, 0x61, 0x00, 0x00}},
};

TEST_F(OBEXClientTest, FirstRequestsMatchTheTableWithAndWithoutConnectionId) {
    // Each request on a session without and with Connection Id 01020304. Expected: the
    // exact bytes, the id header right after the fixed fields, OnStarted after the write.
    for (const RequestCase& c : kRequestCases) {
        for (const bool withId : {false, true}) {
            SCOPED_TRACE(std::string(c.title) + (withId ? " with id" : " without id"));
            OpenSession(2048, withId ? kId : 0);
            c.call(client);
            ASSERT_EQ(client.written.size(), 1u);
            EXPECT_EQ(client.written[0], withId ? c.withId : c.withoutId);
            EXPECT_EQ(PacketLength(client.written[0]), client.written[0].size());
            ASSERT_EQ(log.size(), 1u);
            EXPECT_EQ(log[0].rfind("started ", 0), 0u);
            client.Disconnect();
        }
    }
}

TEST_F(OBEXClientTest, FollowUpRequestsMatchTheTable) {
    // Put continuation, Put final, Get continuation and ABORT, with and without id.
    // Expected: 02 .. 48, 82 .. 49 00 03, 83 LL LL [id], FF LL LL [id].
    for (const bool withId : {false, true}) {
        SCOPED_TRACE(withId ? "with id" : "without id");
        const Bytes id = withId ? Bytes{0xCB, 1, 2, 3, 4} : Bytes{};
        const std::uint8_t extra = withId ? 5 : 0;
        OpenSession(2048, withId ? kId : 0);
        const std::vector<Bytes> put = PushToFinal({7, 8, 9});
        ASSERT_EQ(put.size(), 2u);
        EXPECT_EQ(put[0], Concat(Concat({0x02, 0x00, static_cast<std::uint8_t>(9 + extra)}, id),
                                 {0x48, 0x00, 0x06, 7, 8, 9}));
        EXPECT_EQ(put[1], Concat(Concat({0x82, 0x00, static_cast<std::uint8_t>(6 + extra)}, id),
                                 {0x49, 0x00, 0x03}));
        client.Receive(Response(0xA0));

        client.Get("a");
        client.written.clear();
        client.Receive(Response(0x90));
        client.Abort();
        client.Receive(Response(0x90));
        ASSERT_EQ(client.written.size(), 2u);
        EXPECT_EQ(client.written[0],
                  Concat({0x83, 0x00, static_cast<std::uint8_t>(3 + extra)}, id));
        EXPECT_EQ(client.written[1],
                  Concat({0xFF, 0x00, static_cast<std::uint8_t>(3 + extra)}, id));
        client.Disconnect();
    }
}

TEST_F(OBEXClientTest, NamesTravelAsUtf16BigEndianWithOneTerminator) {
    // "card.vcf", a name already ending in a zero, and a non-ASCII name. Expected: Name
    // headers 01 00 15 ..., one terminator only, U+00E9 as 00 E9.
    OpenSession();
    client.Get("card.vcf");
    const Bytes card{0x01, 0x00, 0x15, 0x00, 0x63, 0x00, 0x61, 0x00, 0x72, 0x00, 0x64,
                     0x00, 0x2E, 0x00, 0x76, 0x00, 0x63, 0x00, 0x66, 0x00, 0x00};
    EXPECT_EQ(client.written.at(0), Concat({0x83, 0x00, 0x18}, card));
    client.Disconnect();

    OpenSession();
    client.Delete(std::string("a\0", 2));
    EXPECT_EQ(client.written.at(0), (Bytes{0x82, 0x00, 0x0A, 0x01, 0x00, 0x07, 0x00, 0x61, 0, 0}));
    client.Receive(Response(0xA0));
    client.written.clear();
    client.Delete("\xC3\xA9");  // é in UTF-8
    EXPECT_EQ(client.written.at(0), (Bytes{0x82, 0x00, 0x0A, 0x01, 0x00, 0x07, 0x00, 0xE9, 0, 0}));
}

TEST_F(OBEXClientTest, NameTooLongForAPacketIsRefused) {
    // Put names of 32761 and 32762 characters, Delete names of 32763 and 32764. Expected:
    // packets of 65535 and 65534 bytes; one character more raises wclEInvalidArgument,
    // writes nothing and leaves the client idle.
    OpenSession();
    client.Put("a" + std::string(32760, 'x'), Bytes{});
    EXPECT_EQ(client.written.at(0).size(), 65535u);
    EXPECT_EQ(PacketLength(client.written.at(0)), 65535u);
    client.Receive(Response(0xA0));
    client.Delete(std::string(32763, 'x'));
    EXPECT_EQ(client.written.at(1).size(), 65534u);
    EXPECT_EQ(PacketLength(client.written.at(1)), 65534u);
    client.Receive(Response(0xA0));
    EXPECT_THROW(client.Put(std::string(32762, 'x'), Bytes{}), wclEInvalidArgument);
    EXPECT_THROW(client.Delete(std::string(32764, 'x')), wclEInvalidArgument);
    EXPECT_EQ(client.Operation(), Op::ooNone);
    EXPECT_EQ(client.written.size(), 2u);
}

// ---------------------------------------------------------------------------
// Preconditions and arguments

TEST_F(OBEXClientTest, OperationsNeedALinkThenIdleThenAValidArgument) {
    // Calls without a link, during the OBEX connect, and with bad names. Expected:
    // wclENotConnected first, then wclEOperationInProgress, then wclEInvalidArgument.
    EXPECT_THROW(client.Get(""), wclENotConnected);
    EXPECT_THROW(client.Dir(), wclENotConnected);
    EXPECT_THROW(client.Abort(), wclENotConnected);
    client.Connect();
    EXPECT_THROW(client.Get(""), wclEOperationInProgress);
    EXPECT_THROW(client.Put("a", Bytes{}), wclEOperationInProgress);
    EXPECT_THROW(client.Abort(), wclENoActiveOperation);
    client.Receive(ConnectResponse(2048));
    client.written.clear();
    log.clear();

    const std::vector<std::pair<const char*, std::function<void()>>> refused = {
        {"Put empty name", [&] { client.Put("", Bytes{1}); }},
        {"Put no source", [&] { client.Put("a", std::unique_ptr<TwclOBEXObjectSource>()); }},
        {"Get empty", [&] { client.Get(""); }},
        {"Get up", [&] { client.Get(".."); }},
        {"Get root", [&] { client.Get("\\"); }},
        {"Delete empty", [&] { client.Delete(""); }},
        {"MakeDir empty", [&] { client.MakeDir(""); }},
        {"MakeDir up", [&] { client.MakeDir(".."); }},
        {"MakeDir root", [&] { client.MakeDir("\\"); }},
        {"SetPath empty", [&] { client.SetPath(""); }},
    };
    for (const auto& [title, call] : refused) {
        SCOPED_TRACE(title);
        EXPECT_THROW(call(), wclEInvalidArgument);
        EXPECT_EQ(client.Operation(), Op::ooNone);
    }
    EXPECT_TRUE(client.written.empty());
    EXPECT_TRUE(log.empty());

    client.Dir();
    EXPECT_THROW(client.SetPath("a"), wclEOperationInProgress);
    EXPECT_THROW(client.Get(".."), wclEOperationInProgress);
}

TEST_F(OBEXClientTest, WriteFailureOfTheFirstRequestLeavesTheClientIdle) {
    // The link refuses the PUT. Expected: wclEWriteError out of Put, ooNone, no OnStarted;
    // a later Put works and sends only its own object.
    OpenSession();
    client.failWrites = true;
    EXPECT_THROW(client.Put("a", Bytes{1, 2, 3}), wclEWriteError);
    EXPECT_EQ(client.Operation(), Op::ooNone);
    EXPECT_TRUE(log.empty());
    client.failWrites = false;
    const std::vector<Bytes> put = PushToFinal({4});
    EXPECT_EQ(put.at(0), (Bytes{0x02, 0x00, 0x07, 0x48, 0x00, 0x04, 4}));
}

// ---------------------------------------------------------------------------
// Put

TEST_F(OBEXClientTest, EmptyObjectEndsWithOneFinalPacket) {
    // Put of no bytes. Expected: Length 0 and the name; after CONTINUE 82 00 06 49 00 03;
    // SUCCESS gives OnComplete 0 with ooPut.
    OpenSession();
    client.Put("a", Bytes{});
    EXPECT_EQ(client.written.at(0),
              (Bytes{0x02, 0x00, 0x0F, 0xC3, 0, 0, 0, 0, 0x01, 0x00, 0x07, 0x00, 0x61, 0, 0}));
    client.Receive(Response(0x90));
    EXPECT_EQ(client.written.at(1), (Bytes{0x82, 0x00, 0x06, 0x49, 0x00, 0x03}));
    client.Receive(Response(0xA0));
    EXPECT_EQ(log, (std::vector<std::string>{"started ooPut", "progress 0/0", "progress 0/0",
                                             "complete 0 ooPut"}));
}

TEST_F(OBEXClientTest, LargeObjectIsCutByThePeerMaximum) {
    // 5000 bytes, peer maximum 2048. Expected without id: bodies of 2043, 2043, 932 bytes
    // carrying 2037, 2037, 926, then 6 bytes; with id: 2048, 2048, 937, then 11.
    const Bytes object = Pattern(5000);
    for (const bool withId : {false, true}) {
        SCOPED_TRACE(withId ? "with id" : "without id");
        OpenSession(2048, withId ? kId : 0);
        const std::vector<Bytes> packets = PushToFinal(object);
        const std::size_t extra = withId ? 5 : 0;
        const std::size_t headerAt = 3 + extra;
        ASSERT_EQ(packets.size(), 4u);
        const std::size_t data[] = {2037, 2037, 926, 0};
        Bytes sent;
        for (std::size_t i = 0; i < 4; ++i) {
            const Bytes& p = packets[i];
            EXPECT_EQ(p.size(), data[i] + 6 + extra);
            EXPECT_EQ(PacketLength(p), p.size());
            EXPECT_EQ(p[0], i < 3 ? 0x02 : 0x82);
            EXPECT_EQ(p[headerAt], i < 3 ? 0x48 : 0x49);
            EXPECT_EQ(PacketLength(Bytes(p.begin() + headerAt, p.end())), data[i] + 3);
            sent.insert(sent.end(), p.begin() + headerAt + 3, p.end());
        }
        EXPECT_EQ(sent, object);
        client.Receive(Response(0xA0));
        EXPECT_EQ(
            log, (std::vector<std::string>{"started ooPut", "progress 0/5000", "progress 2037/5000",
                                           "progress 4074/5000", "progress 5000/5000",
                                           "progress 5000/5000", "complete 0 ooPut"}));
        client.Disconnect();
    }
}

TEST_F(OBEXClientTest, PeerMaximumBelowTheOBEXMinimumCountsAs255) {
    // Peer maxima 11, 0 and 254 with a 600-byte object. Expected: packets of at most 250
    // bytes (255 - 5, no id), 244 data bytes each, the object intact, then 82 00 06 49 00 03.
    const Bytes object = Pattern(600);
    for (const std::uint16_t peerMaximum : {11, 0, 254}) {
        SCOPED_TRACE(peerMaximum);
        OpenSession(peerMaximum);
        EXPECT_EQ(client.PeerMaximum(), peerMaximum);
        const std::vector<Bytes> packets = PushToFinal(object);
        ASSERT_EQ(packets.size(), 4u);
        EXPECT_EQ(packets[0].size(), 250u);
        EXPECT_EQ(packets[1].size(), 250u);
        EXPECT_EQ(packets[2].size(), 600u - 2 * 244 + 6);
        EXPECT_EQ(packets[3], (Bytes{0x82, 0x00, 0x06, 0x49, 0x00, 0x03}));
        Bytes sent;
        for (std::size_t i = 0; i < 3; ++i)
            sent.insert(sent.end(), packets[i].begin() + 6, packets[i].end());
        EXPECT_EQ(sent, object);
        client.Disconnect();
    }
}

TEST_F(OBEXClientTest, PutCopiesTheObjectItIsGivenInMemory) {
    // The caller's bytes change after Put. Expected: the original bytes are sent.
    OpenSession();
    Bytes object{1, 2, 3};
    client.Put("a", object);
    object.assign({9, 9, 9});
    client.Receive(Response(0x90));
    EXPECT_EQ(client.written.at(1), (Bytes{0x02, 0x00, 0x09, 0x48, 0x00, 0x06, 1, 2, 3}));
    client.Receive(Response(0xC3));  // refused
    EXPECT_THROW(client.Put("a", std::unique_ptr<TwclOBEXObjectSource>()), wclEInvalidArgument);
}

TEST_F(OBEXClientTest, PutReadsItsSourceOnePacketAtATimeAsTheAnswersCome) {
    // A 5000-byte source, peer maximum 2048, no id. Expected: nothing is read before the
    // first CONTINUE; then each CONTINUE reads exactly one Body's data (2037, 2037, 926), and
    // the empty final packet reads nothing; the bytes arrive in order.
    OpenSession();
    std::vector<std::size_t> reads;
    const Bytes object = Pattern(5000);
    client.Put("a", std::make_unique<JournalSource>(object, reads));
    EXPECT_TRUE(reads.empty());
    Bytes sent;
    for (const std::size_t expected : {2037u, 2037u, 926u}) {
        client.Receive(Response(0x90));
        EXPECT_EQ(reads.back(), expected);
        const Bytes& packet = client.written.back();
        sent.insert(sent.end(), packet.begin() + 6, packet.end());
    }
    client.Receive(Response(0x90));
    EXPECT_EQ(client.written.back(), (Bytes{0x82, 0x00, 0x06, 0x49, 0x00, 0x03}));
    EXPECT_EQ(reads, (std::vector<std::size_t>{2037, 2037, 926, 0}));
    EXPECT_EQ(sent, object);
    client.Receive(Response(0xA0));
    EXPECT_EQ(log.back(), "complete 0 ooPut");
}

TEST_F(OBEXClientTest, SourceThatFailsMidPutAbortsAndEndsWithTheFileError) {
    // The source fails its second read. Expected: no Body with made-up bytes; ABORT goes out
    // instead; its answer ends the put with 0x8000F034 as ooPut; the link stays open for the
    // next operation. Unanswered, the abort ends with the same code and closes the link.
    OpenSession();
    std::vector<std::size_t> reads;
    client.Put("a", std::make_unique<JournalSource>(Pattern(5000), reads, 2));
    client.Receive(Response(0x90));
    client.Receive(Response(0x90));
    EXPECT_EQ(client.written.back(), (Bytes{0xFF, 0x00, 0x03}));
    EXPECT_EQ(client.Operation(), Op::ooTerminate);
    client.Receive(Response(0xA0));
    EXPECT_EQ(log.back(), "complete 8000F034 ooPut");
    EXPECT_TRUE(client.Connected());

    reads.clear();
    client.Put("a", std::make_unique<JournalSource>(Pattern(5000), reads, 1));
    client.Receive(Response(0x90));
    clock.Advance(60s);
    ProcessPending(loop);
    EXPECT_EQ(log.back(), "disconnect");
    EXPECT_EQ(log.at(log.size() - 2), "complete 8000F034 ooPut");
}

TEST_F(OBEXClientTest, ImmediateSuccessAndRefusalEndThePut) {
    // First PUT answered SUCCESS, then one answered Forbidden. Expected: one OnProgress at 0
    // and OnComplete 0; then OnComplete 0x8000F01C with ooPut; nothing more written.
    OpenSession();
    client.Put("a", Pattern(100));
    client.Receive(Response(0xA0));
    client.Put("b", Pattern(100));
    client.Receive(Response(0xC3));
    EXPECT_EQ(log, (std::vector<std::string>{"started ooPut", "progress 0/100", "complete 0 ooPut",
                                             "started ooPut", "progress 0/100",
                                             "complete 8000F01C ooPut"}));
    EXPECT_EQ(client.written.size(), 2u);
}

TEST_F(OBEXClientTest, CompletionHandlerMayStartTheNextOperation) {
    // OnComplete of a put starts another put. Expected: its first packet goes out from
    // inside the handler, and the session carries on.
    OpenSession();
    int puts = 0;
    client.OnComplete = [&](TwclCustomOBEXClient& sender, std::uint32_t result, Op) {
        if (result == 0 && ++puts == 1)
            sender.Put("b", Bytes{5});
    };
    client.Put("a", Bytes{});
    client.Receive(Response(0xA0));
    EXPECT_EQ(client.Operation(), Op::ooPut);
    EXPECT_EQ(client.written.back().at(0), 0x02);
    EXPECT_EQ(client.written.back().size(), 15u);
}

TEST_F(OBEXClientTest, AbortWaitsForTheNextContinue) {
    // Abort while idle, during a put (twice), and during a delete. Expected: idle raises
    // wclENoActiveOperation; the put's next CONTINUE gets FF 00 03 and its answer OnComplete
    // 0x8000F01C ooTerminate; a second Abort raises wclEOperationInProgress; the delete ends
    // normally.
    OpenSession();
    EXPECT_THROW(client.Abort(), wclENoActiveOperation);
    client.Put("a", Pattern(5000));
    client.Receive(Response(0x90));
    EXPECT_EQ(client.Abort(), Op::ooPut);
    EXPECT_EQ(client.Operation(), Op::ooPut);
    client.Receive(Response(0x90));
    EXPECT_EQ(client.written.back(), (Bytes{0xFF, 0x00, 0x03}));
    EXPECT_EQ(client.Operation(), Op::ooTerminate);
    EXPECT_THROW(client.Abort(), wclEOperationInProgress);
    client.Receive(Response(0xA0));
    EXPECT_EQ(log.back(), "complete 8000F01C ooTerminate");
    EXPECT_EQ(client.Operation(), Op::ooNone);

    client.Delete("a");
    EXPECT_EQ(client.Abort(), Op::ooDelete);
    client.Receive(Response(0xA0));
    EXPECT_EQ(log.back(), "complete 0 ooDelete");
}

TEST_F(OBEXClientTest, FollowUpWriteFailureEndsTheOperationAtOnce) {
    // The link fails while a put continues, while a get asks for more, and when an ABORT is
    // sent. Expected: no exception out of the data path; at once the operation ends with the
    // write error 0x8000F02D through its own event and the link closes.
    OpenSession();
    client.Put("a", Pattern(5000));
    client.failWrites = true;
    EXPECT_NO_THROW(client.Receive(Response(0x90)));
    EXPECT_EQ(log, (std::vector<std::string>{"started ooPut", "progress 0/5000",
                                             "complete 8000F02D ooPut", "disconnect"}));
    EXPECT_FALSE(client.Active());

    client.failWrites = false;
    OpenSession();
    client.Get("a");
    client.failWrites = true;
    client.Receive(Response(0x90, Header(0x48, {1})));
    EXPECT_EQ(log.at(log.size() - 2), "get 8000F02D none");
    EXPECT_FALSE(client.Active());

    client.failWrites = false;
    OpenSession();
    client.Put("a", Pattern(5000));
    client.Abort();
    client.failWrites = true;
    client.Receive(Response(0x90));
    EXPECT_EQ(log.at(log.size() - 2), "complete 8000F02D ooTerminate");
    EXPECT_FALSE(client.Active());
}

TEST_F(OBEXClientTest, EveryRequestWaitsAtMostTheResponseTimeOut) {
    // Each kind of request left unanswered, with the default time-out of 60 s. Expected:
    // nothing 1 ms before; at 60 s the operation ends with 0x8000F02F through its own event
    // (OnConnect for the CONNECT), an ABORT goes out for an operation under way (not for the
    // CONNECT, not for an ABORT), and the link closes.
    struct Case {
        const char* title;
        std::function<void(FakeLinkClient&)> start;
        std::string result;
        bool abortSent;
    };
    const Case cases[] = {
        {"connect", [](FakeLinkClient&) {}, "connect 8000F02F", false},
        {"put, first packet", [](FakeLinkClient& c) { c.Put("a", Pattern(5000)); },
         "complete 8000F02F ooPut", true},
        {"put, continuation",
         [](FakeLinkClient& c) {
             c.Put("a", Pattern(5000));
             c.Receive(Response(0x90));
         },
         "complete 8000F02F ooPut", true},
        {"put, final packet",
         [](FakeLinkClient& c) {
             c.Put("a", Bytes{});
             c.Receive(Response(0x90));
         },
         "complete 8000F02F ooPut", true},
        {"get", [](FakeLinkClient& c) { c.Get("a"); }, "get 8000F02F none", true},
        {"get, continuation",
         [](FakeLinkClient& c) {
             c.Get("a");
             c.Receive(Response(0x90, Header(0x48, {1})));
         },
         "get 8000F02F none", true},
        {"folder listing", [](FakeLinkClient& c) { c.Dir(); }, "dir 8000F02F none", true},
        {"delete", [](FakeLinkClient& c) { c.Delete("a"); }, "complete 8000F02F ooDelete", true},
        {"set path", [](FakeLinkClient& c) { c.SetPath(".."); }, "complete 8000F02F ooSetPath",
         true},
        {"make folder", [](FakeLinkClient& c) { c.MakeDir("a"); }, "complete 8000F02F ooMakeDir",
         true},
        {"abort",
         [](FakeLinkClient& c) {
             c.Put("a", Pattern(5000));
             c.Abort();
             c.Receive(Response(0x90));
         },
         "complete 8000F02F ooTerminate", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        log.clear();
        if (std::string(c.title) == "connect") {
            client.Connect();
        } else {
            OpenSession();
        }
        c.start(client);
        const std::size_t writes = client.written.size();
        clock.Advance(59999ms);
        ProcessPending(loop);
        EXPECT_TRUE(client.Active());
        EXPECT_EQ(client.written.size(), writes);
        clock.Advance(1ms);
        ProcessPending(loop);
        EXPECT_FALSE(client.Active());
        EXPECT_NE(std::find(log.begin(), log.end(), c.result), log.end());
        EXPECT_EQ(client.written.size(), writes + (c.abortSent ? 1 : 0));
        if (c.abortSent) {
            EXPECT_EQ(client.written.back().at(0), 0xFF);
        }
        client.written.clear();
    }
}

TEST_F(OBEXClientTest, EachRequestGetsTheWholeResponseTimeOut) {
    // A put whose every answer comes 9 s after its request, time-out 10 s, then a peer that
    // answers the CONTINUE half-way (split) and the rest later. Expected: the put succeeds
    // after far more than 10 s in all; a response counts only when whole, so the split one
    // still times out at 10 s.
    client.SetResponseTimeOut(10000);
    OpenSession(255);
    client.Put("a", Pattern(2000));
    for (int i = 0; i < 20 && client.Operation() == Op::ooPut; ++i) {
        clock.Advance(9s);
        ProcessPending(loop);
        const bool last = client.written.back().at(0) == 0x82;
        client.Receive(Response(last ? 0xA0 : 0x90));
    }
    EXPECT_EQ(log.back(), "complete 0 ooPut");

    client.Put("a", Pattern(2000));
    client.ReceiveBytewise({0x90, 0x00});
    clock.Advance(10s);
    ProcessPending(loop);
    EXPECT_EQ(log.at(log.size() - 2), "complete 8000F02F ooPut");
}

TEST_F(OBEXClientTest, ResponseTimeOutIsFrozenWhileActiveAndZeroWaitsForever) {
    // Changing the time-out while active, setting the same value, then 0 and a long silence.
    // Expected: wclEConnectionActive, then no error; with 0 no request ever times out.
    OpenSession();
    EXPECT_THROW(client.SetResponseTimeOut(5000), wclEConnectionActive);
    EXPECT_NO_THROW(client.SetResponseTimeOut(60000));
    client.Disconnect();
    client.SetResponseTimeOut(0);
    EXPECT_EQ(client.ResponseTimeOut(), 0);
    OpenSession();
    client.Put("a", Pattern(10));
    clock.Advance(24h);
    ProcessPending(loop);
    EXPECT_EQ(client.Operation(), Op::ooPut);
    EXPECT_TRUE(client.Active());
}

TEST_F(OBEXClientTest, PeerClosingMidPutEndsItWithoutCompletion) {
    // The link closes after the first Body. Expected: OnDisconnect only; the session state
    // is gone (idle, no id, no maximum); a late response finds no link.
    OpenSession(2048, kId);
    client.Put("a", Pattern(5000));
    client.Receive(Response(0x90));
    client.Disconnect();
    EXPECT_EQ(log, (std::vector<std::string>{"started ooPut", "progress 0/5000", "disconnect"}));
    EXPECT_EQ(client.Operation(), Op::ooNone);
    EXPECT_EQ(client.ConnectionId(), 0u);
    EXPECT_EQ(client.PeerMaximum(), 0);
    EXPECT_FALSE(client.OBEXConnected());
    client.Receive(Response(0xA0));
    EXPECT_EQ(log.size(), 3u);
    EXPECT_THROW(client.Put("a", Bytes{1}), wclENotConnected);
}

// ---------------------------------------------------------------------------
// Receiving

TEST_F(OBEXClientTest, ResponsesSplitIntoSingleBytesAreHandledOnceComplete) {
    // CONNECT response and put responses fed one byte at a time. Expected: each handled
    // exactly once, after its last byte.
    client.Connect();
    const Bytes connect = ConnectResponse(2048, {0xCB, 0, 0, 0, 9});
    client.ReceiveBytewise(Bytes(connect.begin(), connect.end() - 1));
    EXPECT_TRUE(log.empty());
    client.Receive({connect.back()});
    EXPECT_EQ(log, (std::vector<std::string>{"connect 0"}));
    EXPECT_EQ(client.ConnectionId(), 9u);
    log.clear();
    client.Put("a", Bytes{1});
    client.ReceiveBytewise(Response(0x90));
    client.ReceiveBytewise(Response(0x90));
    client.ReceiveBytewise(Response(0xA0));
    EXPECT_EQ(log, (std::vector<std::string>{"started ooPut", "progress 0/1", "progress 1/1",
                                             "progress 1/1", "complete 0 ooPut"}));
}

TEST_F(OBEXClientTest, TwoResponsesInOneReadLoseTheSecond) {
    // CONTINUE and SUCCESS arrive in one chunk, with a stray tail. Expected: only the
    // CONTINUE is handled (one packet sent); a later SUCCESS ends the put.
    OpenSession();
    client.Put("a", Bytes{1});
    client.Receive(Concat(Concat(Response(0x90), Response(0xA0)), {0xA0, 0x00}));
    EXPECT_EQ(client.written.size(), 2u);
    EXPECT_EQ(client.Operation(), Op::ooPut);
    EXPECT_EQ(log, (std::vector<std::string>{"started ooPut", "progress 0/1"}));
    client.Receive(Response(0xA0));
    EXPECT_EQ(log.back(), "complete 0 ooPut");
}

TEST_F(OBEXClientTest, ResponseLengthBelowThreeClosesTheLink) {
    // Length fields 0 and 2 during the connect, a put, a get, a folder listing and idle.
    // Expected: the waiting party hears 0x8000F01C first, then the link closes; idle closes
    // without any OBEX event.
    struct Case {
        const char* title;
        std::function<void()> start;
        Bytes answer;
        std::vector<std::string> events;
    };
    const Case cases[] = {
        {"connect",
         [&] { client.Connect(); },
         {0xA0, 0x00, 0x00},
         {"connect 8000F01C", "disconnect"}},
        {"put",
         [&] {
             OpenSession();
             client.Put("a", Bytes{1});
             log.clear();
         },
         {0x90, 0x00, 0x02},
         {"complete 8000F01C ooPut", "disconnect"}},
        {"get",
         [&] {
             OpenSession();
             client.Get("a");
             log.clear();
         },
         {0x90, 0x00, 0x01},
         {"get 8000F01C none", "disconnect"}},
        {"dir",
         [&] {
             OpenSession();
             client.Dir();
             log.clear();
         },
         {0xA0, 0x00, 0x00},
         {"dir 8000F01C none", "disconnect"}},
        {"idle", [&] { OpenSession(); }, {0xA0, 0x00, 0x00}, {"disconnect"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        log.clear();
        const int closes = client.linkCloses;
        c.start();
        client.ReceiveBytewise(c.answer);
        EXPECT_EQ(log, c.events);
        EXPECT_FALSE(client.Active());
        EXPECT_EQ(client.linkCloses, closes + 1);
        EXPECT_EQ(client.Operation(), Op::ooNone);
    }
}

TEST_F(OBEXClientTest, BrokenResponseHandlerThatClosesTheLinkItselfClosesItOnce) {
    // OnComplete disconnects and reconnects on 0x8000F01C. Expected: the new link survives;
    // exactly one link close.
    OpenSession();
    client.OnComplete = [&](TwclCustomOBEXClient& sender, std::uint32_t, Op) {
        sender.Disconnect();
        sender.Connect();
    };
    client.Put("a", Bytes{1});
    client.Receive({0x90, 0x00, 0x00});
    EXPECT_EQ(client.linkCloses, 1);
    EXPECT_TRUE(client.Active());
    EXPECT_EQ(client.Operation(), Op::ooOpenSession);
}

TEST_F(OBEXClientTest, ResponseWhileIdleIsDropped) {
    // A SUCCESS nobody asked for. Expected: no event, nothing written, still idle.
    OpenSession();
    client.Receive(Response(0xA0, Header(0x48, {1, 2})));
    EXPECT_TRUE(log.empty());
    EXPECT_TRUE(client.written.empty());
    EXPECT_TRUE(client.Active());
}

// ---------------------------------------------------------------------------
// Get, folder listing, single responses

TEST_F(OBEXClientTest, GetCollectsBodiesAndAsksForMore) {
    // A get in two parts with a Length header. Expected: OnProgress with position and
    // announced size, a continuation 83 00 03, then OnGetComplete 0 with the whole object.
    OpenSession();
    client.Get("a");
    client.Receive(Response(0x90, Concat({0xC3, 0, 0, 0, 5}, Header(0x48, {1, 2, 3}))));
    EXPECT_EQ(client.written.back(), (Bytes{0x83, 0x00, 0x03}));
    client.Receive(Response(0xA0, Header(0x49, {4, 5})));
    EXPECT_EQ(log, (std::vector<std::string>{"started ooGet", "progress 3/5", "progress 5/5",
                                             "get 0 object"}));
    EXPECT_EQ(received, (Bytes{1, 2, 3, 4, 5}));
    EXPECT_EQ(client.Operation(), Op::ooNone);
}

TEST_F(OBEXClientTest, GetShortOfItsLengthEndsInZeroBytes) {
    // Length announces 10, 4 bytes arrive. Expected: a 10-byte object ending in 6 zeros.
    OpenSession();
    client.Get("a");
    client.Receive(Response(0xA0, Concat({0xC3, 0, 0, 0, 10}, Header(0x49, {9, 8, 7, 6}))));
    EXPECT_EQ(log.back(), "get 0 object");
    EXPECT_EQ(received, (Bytes{9, 8, 7, 6, 0, 0, 0, 0, 0, 0}));
}

TEST_F(OBEXClientTest, GetUsesOnlyTheFirstBodyAndStopsAtBrokenHeaders) {
    // Two Body headers in one response; a Body that runs past the end; a Body whose length
    // is below its prefix. Expected: only the first body kept; broken ones add nothing.
    OpenSession();
    client.Get("a");
    client.Receive(Response(0x90, Concat(Header(0x48, {1}), Header(0x48, {2}))));
    client.Receive(Response(0x90, {0x48, 0x00, 0x09, 3, 4}));
    client.Receive(Response(0x90, {0x48, 0x00, 0x00, 0x48, 0x00, 0x04, 5}));
    client.Receive(Response(0xA0, Concat({0x97, 0x01, 0xC0, 0, 0, 0, 0}, Header(0x49, {6}))));
    EXPECT_EQ(received, (Bytes{1, 6}));
}

TEST_F(OBEXClientTest, GetLengthBeyondTheLimitIsNotHonoured) {
    // Length FF FF FF FF with 2 bytes of data. Expected: no 4 GiB object; the two bytes
    // arrive as the whole object.
    OpenSession();
    client.Get("a");
    client.Receive(Response(0xA0, Concat({0xC3, 0xFF, 0xFF, 0xFF, 0xFF}, Header(0x49, {1, 2}))));
    EXPECT_EQ(log.back(), "get 0 object");
    EXPECT_EQ(received, (Bytes{1, 2}));
}

TEST_F(OBEXClientTest, GetBeyondTheIncomingLimitIsAborted) {
    // A peer that keeps sending full packets past the in-memory limit. Expected: ABORT on
    // the CONTINUE after the limit is crossed, then OnComplete 0x8000F01C ooTerminate.
    OpenSession();
    client.OnProgress = nullptr;
    client.Get("a");
    const Bytes packet = Response(0x90, Header(0x48, Bytes(65529, 0x5A)));
    const std::size_t needed = kOBEXMaxIncomingObject / 65529 + 1;
    for (std::size_t i = 0; i < needed; ++i) {
        client.written.clear();
        client.Receive(packet);
    }
    EXPECT_EQ(client.written.back(), (Bytes{0xFF, 0x00, 0x03}));
    client.Receive(Response(0xA0));
    EXPECT_EQ(log.back(), "complete 8000F01C ooTerminate");
}

TEST_F(OBEXClientTest, GetRefusedGivesNoObject) {
    // Get answered Not Found. Expected: OnGetComplete 0x8000F035 without an object.
    OpenSession();
    client.Get("a");
    client.Receive(Response(0xC4));
    EXPECT_EQ(log.back(), "get 8000F035 none");
}

TEST_F(OBEXClientTest, FolderListingIsReadIntoEntries) {
    // A listing in two parts, then one whose size is no number, then a refusal. Expected:
    // entries a.jpg and sub; 0x8000F034 without a list; 0x8000F035 without a list.
    const std::string document =
        "<?xml version=\"1.0\"?><folder-listing version=\"1.0\"><parent-folder/>"
        "<file name=\"a.jpg\" size=\"1234\" user-perm=\"RW\"/><folder name=\"sub\"/>"
        "</folder-listing>";
    OpenSession();
    client.Dir();
    const std::size_t half = document.size() / 2;
    client.Receive(Response(0x90, Header(0x48, Text(document.substr(0, half)))));
    EXPECT_EQ(client.written.back(), (Bytes{0x83, 0x00, 0x03}));
    client.Receive(Response(0xA0, Header(0x49, Text(document.substr(half)))));
    EXPECT_EQ(log, (std::vector<std::string>{"started ooDir", "dir 0 2"}));
    EXPECT_EQ(listing, (std::vector<std::string>{"a.jpg", "sub"}));

    client.Dir();
    client.Receive(Response(
        0xA0,
        Header(0x49, Text("<folder-listing><file name=\"x\" size=\"big\"/></folder-listing>"))));
    EXPECT_EQ(log.back(), "dir 8000F034 none");
    client.Dir();
    client.Receive(Response(0xC3, Header(0x49, Text(document))));
    EXPECT_EQ(log.back(), "dir 8000F035 none");
    EXPECT_EQ(client.Operation(), Op::ooNone);
}

TEST_F(OBEXClientTest, SingleResponseOperationsReportSuccessOrFailure) {
    // Delete, SetPath and MakeDir answered SUCCESS, then Forbidden. Expected: OnComplete 0,
    // then 0x8000F035, each with its operation.
    OpenSession();
    const std::vector<std::pair<std::function<void()>, const char*>> calls = {
        {[&] { client.Delete("a"); }, "ooDelete"},
        {[&] { client.SetPath("a"); }, "ooSetPath"},
        {[&] { client.MakeDir("a"); }, "ooMakeDir"},
    };
    for (const auto& [call, name] : calls) {
        call();
        client.Receive(Response(0xA0));
        EXPECT_EQ(log.back(), std::string("complete 0 ") + name);
        call();
        client.Receive(Response(0xC3));
        EXPECT_EQ(log.back(), std::string("complete 8000F035 ") + name);
    }
}

// ---------------------------------------------------------------------------
// Handlers

TEST_F(OBEXClientTest, HandlerExceptionsGoToTheApplicationHandler) {
    // OnStarted, OnProgress and OnComplete throw. Expected: each exception reaches the
    // application's handler; the put still runs to its end and the client is idle.
    OpenSession();
    client.OnStarted = [](TwclCustomOBEXClient&, Op) { throw std::runtime_error("started"); };
    client.OnProgress = [](TwclCustomOBEXClient&, std::uint32_t, std::uint32_t) {
        throw std::runtime_error("progress");
    };
    client.OnComplete = [](TwclCustomOBEXClient&, std::uint32_t, Op) {
        throw std::runtime_error("complete");
    };
    EXPECT_NO_THROW(client.Put("a", Bytes{1}));
    EXPECT_NO_THROW(client.Receive(Response(0x90)));
    EXPECT_EQ(client.written.size(), 2u);
    EXPECT_NO_THROW(client.Receive(Response(0xA0)));
    EXPECT_EQ(caught, (std::vector<std::string>{"started", "progress", "progress", "complete"}));
    EXPECT_EQ(client.Operation(), Op::ooNone);

    client.OnGetComplete = [](TwclCustomOBEXClient&, std::uint32_t, const Bytes*) {
        throw std::runtime_error("get");
    };
    client.OnStarted = nullptr;
    client.OnProgress = nullptr;
    client.Get("a");
    EXPECT_NO_THROW(client.Receive(Response(0xA0)));
    EXPECT_EQ(caught.back(), "get");
}

TEST_F(OBEXClientTest, ProgressHandlerMayAbortOrClose) {
    // OnProgress calls Abort during a put; on a second put it closes the link. Expected: the
    // CONTINUE is answered with ABORT; after the close nothing more is written.
    OpenSession();
    client.OnProgress = [](TwclCustomOBEXClient& sender, std::uint32_t, std::uint32_t) {
        sender.Abort();
    };
    client.Put("a", Pattern(10));
    client.Receive(Response(0x90));
    EXPECT_EQ(client.written.back(), (Bytes{0xFF, 0x00, 0x03}));
    client.Receive(Response(0xA0));

    client.OnProgress = [](TwclCustomOBEXClient& sender, std::uint32_t, std::uint32_t) {
        sender.Disconnect();
    };
    client.Put("a", Pattern(10));
    const std::size_t before = client.written.size();
    client.Receive(Response(0x90));
    EXPECT_EQ(client.written.size(), before);
    EXPECT_FALSE(client.Active());
}

TEST_F(OBEXClientTest, HandlerMayDestroyTheClient) {
    // A second client destroyed by its OnProgress during a put, by OnComplete after a broken
    // response, and by OnConnect after a refused CONNECT. Expected: no use of the freed
    // client (checked by ASan), each handler ran once.
    struct Case {
        const char* title;
        std::function<void(FakeLinkClient&, std::function<void()>)> arm;
        Bytes answer;
    };
    const Case cases[] = {
        {"progress",
         [](FakeLinkClient& c, std::function<void()> destroy) {
             c.OnProgress = [destroy](TwclCustomOBEXClient&, std::uint32_t, std::uint32_t) {
                 destroy();
             };
             c.Put("a", Bytes{1});
         },
         Response(0x90)},
        {"broken response",
         [](FakeLinkClient& c, std::function<void()> destroy) {
             c.OnComplete = [destroy](TwclCustomOBEXClient&, std::uint32_t, Op) { destroy(); };
             c.Delete("a");
         },
         {0xA0, 0x00, 0x00}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        auto other = std::make_unique<FakeLinkClient>(loop);
        other->Connect();
        other->Receive(ConnectResponse(2048));
        int calls = 0;
        c.arm(*other, [&] {
            ++calls;
            other.reset();
        });
        FakeLinkClient* raw = other.get();
        raw->Receive(c.answer);
        EXPECT_EQ(other, nullptr);
        EXPECT_EQ(calls, 1);
    }

    auto refused = std::make_unique<FakeLinkClient>(loop);
    int calls = 0;
    refused->OnConnect = [&](TwclCustomConnection&, std::uint32_t result) {
        EXPECT_EQ(result, kWclErrOBEXConnectRefused);
        ++calls;
        refused.reset();
    };
    refused->Connect();
    FakeLinkClient* raw = refused.get();
    raw->Receive(Response(0xC3));
    EXPECT_EQ(refused, nullptr);
    EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace kavri
