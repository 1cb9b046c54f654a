// The virtual devices' Object Push server, driven over loopback TCP by a raw
// client that writes the packets byte for byte. The loop runs on a manual
// clock: delays and link rates move only when a test advances time; waits for
// the kernel's socket traffic are capped in real time as a safety net only.
#include "sim/ObexPushServer.h"

#include <gtest/gtest.h>

#include "platform/Clock.h"
#include "platform/PollEventLoop.h"
#include "platform/Text.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kavri::sim {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

constexpr auto kRealTimeCap = std::chrono::seconds(10);

const Bytes kContinue{0x90, 0x00, 0x03};
const Bytes kSuccess{0xA0, 0x00, 0x03};
const Bytes kBadRequest{0xC0, 0x00, 0x03};

void AppendBe16(Bytes& out, std::size_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

void AppendBe32(Bytes& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

// A packet: opcode, length, then the given header bytes.
Bytes Packet(std::uint8_t opcode, const Bytes& headers) {
    Bytes out{opcode};
    AppendBe16(out, headers.size() + 3);
    out.insert(out.end(), headers.begin(), headers.end());
    return out;
}

Bytes NameHeader(const std::u16string& name) {
    Bytes out{0x01};
    AppendBe16(out, 3 + 2 * (name.size() + 1));
    for (const char16_t c : name + u'\0')
        AppendBe16(out, c);
    return out;
}

Bytes LengthHeader(std::uint32_t size) {
    Bytes out{0xC3};
    AppendBe32(out, size);
    return out;
}

Bytes BodyHeader(const std::uint8_t* data, std::size_t size, std::uint8_t id = 0x48) {
    Bytes out{id};
    AppendBe16(out, size + 3);
    out.insert(out.end(), data, data + size);
    return out;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

// What our OBEX client sends, without a connection id.
Bytes Connect(std::uint16_t maxPacket = 0x0800) {
    return Bytes{0x80,
                 0x00,
                 0x07,
                 0x10,
                 0x00,
                 static_cast<std::uint8_t>(maxPacket >> 8),
                 static_cast<std::uint8_t>(maxPacket)};
}
Bytes PutFirst(const std::u16string& name, std::uint32_t size) {
    return Packet(0x02, Concat({LengthHeader(size), NameHeader(name)}));
}
Bytes PutBody(const Bytes& object, std::size_t offset, std::size_t size) {
    return Packet(0x02, BodyHeader(object.data() + offset, size));
}
const Bytes kPutFinal{0x82, 0x00, 0x06, 0x49, 0x00, 0x03};

Bytes Pattern(std::size_t size, std::uint8_t seed = 1) {
    Bytes out(size);
    std::uint32_t state = seed;
    for (auto& byte : out) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<std::uint8_t>(state >> 16);
    }
    return out;
}

Bytes ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Every entry of a folder, hidden ones included.
std::set<std::string> Entries(const fs::path& folder) {
    std::set<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error))
        names.insert(entry.path().filename().string());
    return names;
}

// A client socket on the test's thread. Every wait pumps the server's loop,
// so both ends make progress on one thread.
class RawClient {
public:
    RawClient(EventLoop& loop, std::uint16_t port) : m_loop(loop) {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        // Loopback connects complete from the listen backlog, without the loop.
        m_connected =
            ::connect(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        ::fcntl(m_fd, F_SETFL, O_NONBLOCK);
    }
    ~RawClient() { Close(); }

    bool Connected() const { return m_connected; }
    std::uint64_t BytesSent() const { return m_sent; }

    void Close() {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

    bool Send(const Bytes& bytes) {
        std::size_t done = 0;
        const auto end = std::chrono::steady_clock::now() + kRealTimeCap;
        while (done < bytes.size() && std::chrono::steady_clock::now() < end) {
            const ssize_t sent =
                ::send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (sent > 0) {
                done += static_cast<std::size_t>(sent);
                m_sent += static_cast<std::uint64_t>(sent);
            } else if (sent < 0 && errno != EAGAIN && errno != EINTR) {
                return false;
            } else {
                m_loop.ProcessEvents(1ms);
            }
        }
        return done == bytes.size();
    }

    // Whatever has arrived, without waiting.
    std::size_t Receive() {
        std::uint8_t buffer[4096];
        for (;;) {
            const ssize_t got = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (got > 0) {
                m_input.insert(m_input.end(), buffer, buffer + got);
                continue;
            }
            if (got == 0 || (errno != EAGAIN && errno != EINTR))
                m_closed = true;
            return m_input.size();
        }
    }

    // One complete response, pumping the loop until it arrives.
    std::optional<Bytes> Response() {
        const auto end = std::chrono::steady_clock::now() + kRealTimeCap;
        for (;;) {
            Receive();
            if (m_input.size() >= 3) {
                const std::size_t length = (m_input[1] << 8) | m_input[2];
                if (length >= 3 && m_input.size() >= length) {
                    Bytes response(m_input.begin(), m_input.begin() + length);
                    m_input.erase(m_input.begin(), m_input.begin() + length);
                    return response;
                }
            }
            if (m_closed || std::chrono::steady_clock::now() >= end)
                return std::nullopt;
            m_loop.ProcessEvents(1ms);
        }
    }

    std::optional<Bytes> Exchange(const Bytes& request) {
        if (!Send(request))
            return std::nullopt;
        return Response();
    }

    // True once the server closed or reset the link.
    bool WaitClosed() {
        const auto end = std::chrono::steady_clock::now() + kRealTimeCap;
        while (!m_closed && std::chrono::steady_clock::now() < end) {
            m_loop.ProcessEvents(1ms);
            Receive();
        }
        return m_closed;
    }

    const Bytes& Unread() const { return m_input; }

private:
    EventLoop& m_loop;
    int m_fd = -1;
    bool m_connected = false;
    bool m_closed = false;
    std::uint64_t m_sent = 0;
    Bytes m_input;
};

class ObexPushServerTest : public ::testing::Test {
protected:
    ObexPushServerTest() {
        std::string pattern = (fs::temp_directory_path() / "kavri-obex-XXXXXX").string();
        m_root = ::mkdtemp(pattern.data());
        m_inbox = m_root / "inbox";
    }
    ~ObexPushServerTest() override {
        m_server.reset();
        std::error_code error;
        fs::remove_all(m_root, error);
    }

    ObexPushServer& Start(const DeviceSpec& device, ObexPushServer::Options options = {}) {
        m_server = std::make_unique<ObexPushServer>(m_loop, device, m_inbox, options);
        m_server->OnObjectReceived = [this](const std::string& name, const fs::path& path,
                                            std::uint64_t size) {
            m_received.push_back(Received{name, path, size});
        };
        return *m_server;
    }
    ObexPushServer& Start(PushBehaviour behaviour = PushBehaviour::Accept) {
        DeviceSpec device;
        device.behaviour = behaviour;
        return Start(device);
    }

    std::unique_ptr<RawClient> Client() {
        auto client = std::make_unique<RawClient>(m_loop, m_server->Port());
        EXPECT_TRUE(client->Connected());
        return client;
    }

    // Pumps until the server has read n bytes in all.
    bool UntilReceived(std::uint64_t n) {
        const auto end = std::chrono::steady_clock::now() + kRealTimeCap;
        while (m_server->GetCounters().bytesReceived < n) {
            if (std::chrono::steady_clock::now() >= end)
                return false;
            m_loop.ProcessEvents(1ms);
        }
        return true;
    }

    // A whole push as our client makes it with a peer maximum of 2048: Body
    // packets of 2043 bytes (2037 data bytes), then the empty final packet.
    // The last response, or nothing when the link went.
    std::optional<Bytes> Push(RawClient& client, const std::u16string& name, const Bytes& object,
                              std::size_t bodySize = 2037) {
        auto response = client.Exchange(PutFirst(name, static_cast<std::uint32_t>(object.size())));
        for (std::size_t offset = 0; response == kContinue && offset < object.size();
             offset += bodySize)
            response = client.Exchange(
                PutBody(object, offset, std::min(bodySize, object.size() - offset)));
        if (response == kContinue)
            response = client.Exchange(kPutFinal);
        return response;
    }

    struct Received {
        std::string name;
        fs::path path;
        std::uint64_t size;
    };

    ManualClock m_clock;
    PollEventLoop m_loop{m_clock};
    fs::path m_root;
    fs::path m_inbox;
    std::unique_ptr<ObexPushServer> m_server;
    std::vector<Received> m_received;
};

// ---- Connecting and pushing

TEST_F(ObexPushServerTest, ConnectAnswersVersionFlagsAndMaximum) {
    // CONNECT from our client; the default answer announces 0xFFFF, the
    // options a smaller maximum and a Connection Id header.
    Start();
    auto client = Client();
    EXPECT_EQ(client->Exchange(Connect()), (Bytes{0xA0, 0x00, 0x07, 0x10, 0x00, 0xFF, 0xFF}));

    DeviceSpec device;
    Start(device, {.maxPacketLength = 1024, .connectionId = 0x01020304});
    auto second = Client();
    EXPECT_EQ(second->Exchange(Connect()),
              (Bytes{0xA0, 0x00, 0x0C, 0x10, 0x00, 0x04, 0x00, 0xCB, 0x01, 0x02, 0x03, 0x04}));
    EXPECT_EQ(m_server->GetCounters().connectsAccepted, 1u);
}

TEST_F(ObexPushServerTest, StoresPushedObjectsByteForByte) {
    // An empty object, 5000 bytes in 2037-byte bodies and a vCard, each as
    // our client pushes it: CONTINUE to every packet but the last, SUCCESS
    // then; the inbox holds exactly the bytes, under the OBEX names.
    Start();
    auto client = Client();
    ASSERT_EQ(client->Exchange(Connect()).value_or(Bytes{}).at(0), 0xA0);

    EXPECT_EQ(client->Exchange(PutFirst(u"empty.txt", 0)), kContinue);
    EXPECT_EQ(client->Exchange(kPutFinal), kSuccess);

    const Bytes object = Pattern(5000);
    EXPECT_EQ(client->Exchange(PutFirst(u"data.bin", 5000)), kContinue);
    EXPECT_EQ(client->Exchange(PutBody(object, 0, 2037)), kContinue);
    EXPECT_EQ(client->Exchange(PutBody(object, 2037, 2037)), kContinue);
    EXPECT_EQ(client->Exchange(PutBody(object, 4074, 926)), kContinue);
    EXPECT_EQ(client->Exchange(kPutFinal), kSuccess);

    // The first packet of "card.vcf" exactly as our client writes it.
    const Bytes cardFirst{0x02, 0x00, 0x1D, 0xC3, 0x00, 0x00, 0x00, 0x05, 0x01, 0x00,
                          0x15, 0x00, 0x63, 0x00, 0x61, 0x00, 0x72, 0x00, 0x64, 0x00,
                          0x2E, 0x00, 0x76, 0x00, 0x63, 0x00, 0x66, 0x00, 0x00};
    EXPECT_EQ(cardFirst, PutFirst(u"card.vcf", 5));
    EXPECT_EQ(client->Exchange(cardFirst), kContinue);
    const Bytes card{'B', 'E', 'G', 'I', 'N'};
    EXPECT_EQ(client->Exchange(PutBody(card, 0, 5)), kContinue);
    EXPECT_EQ(client->Exchange(kPutFinal), kSuccess);

    EXPECT_EQ(Entries(m_inbox), (std::set<std::string>{"empty.txt", "data.bin", "card.vcf"}));
    EXPECT_TRUE(ReadFile(m_inbox / "empty.txt").empty());
    EXPECT_EQ(ReadFile(m_inbox / "data.bin"), object);
    EXPECT_EQ(ReadFile(m_inbox / "card.vcf"), card);
    ASSERT_EQ(m_received.size(), 3u);
    EXPECT_EQ(m_received[1].name, "data.bin");
    EXPECT_EQ(m_received[1].path, m_inbox / "data.bin");
    EXPECT_EQ(m_received[1].size, 5000u);
    EXPECT_EQ(m_server->GetCounters().objectsReceived, 3u);
}

TEST_F(ObexPushServerTest, KeepsBothObjectsOfTheSameName) {
    // The same name three times: every object survives, numbered.
    Start();
    auto client = Client();
    client->Exchange(Connect());
    for (std::uint8_t i = 1; i <= 3; ++i)
        EXPECT_EQ(Push(*client, u"card.vcf", Pattern(10, i)), kSuccess);
    EXPECT_EQ(Entries(m_inbox),
              (std::set<std::string>{"card.vcf", "card (2).vcf", "card (3).vcf"}));
    EXPECT_EQ(ReadFile(m_inbox / "card (3).vcf"), Pattern(10, 3));
}

TEST_F(ObexPushServerTest, HandlesObjectsInOneFinalPacketAndHeadersItDoesNotKnow) {
    // One final PUT with a description, a byte sequence, a one-byte and a
    // four-byte header the server has no use for, then name and End-of-Body:
    // the unknown ones are skipped by their sizes and the object is stored.
    Start();
    auto client = Client();
    client->Exchange(Connect());
    const Bytes object = Pattern(300);
    const Bytes headers = Concat({{0x05, 0x00, 0x07, 0x00, 0x41, 0x00, 0x00},
                                  {0x4F, 0x00, 0x05, 0xAA, 0xBB},
                                  {0x9A, 0x11},
                                  {0xDE, 0x01, 0x02, 0x03, 0x04},
                                  NameHeader(u"one.bin"),
                                  BodyHeader(object.data(), object.size(), 0x49)});
    EXPECT_EQ(client->Exchange(Packet(0x82, headers)), kSuccess);
    EXPECT_EQ(ReadFile(m_inbox / "one.bin"), object);
}

TEST_F(ObexPushServerTest, AnswersOtherRequestsWithoutServingThem) {
    // DISCONNECT succeeds, GET is forbidden, SETPATH and unknown operations
    // are not implemented, a PUT without a Body (a delete) is forbidden, and
    // a PUT before CONNECT is a bad request.
    Start();
    auto client = Client();
    EXPECT_EQ(client->Exchange(PutFirst(u"early.txt", 1)), kBadRequest);
    client->Exchange(Connect());
    EXPECT_EQ(client->Exchange(Packet(0x83, NameHeader(u"x"))), (Bytes{0xC3, 0x00, 0x03}));
    EXPECT_EQ(client->Exchange(Bytes{0x85, 0x00, 0x05, 0x02, 0x00}), (Bytes{0xD1, 0x00, 0x03}));
    EXPECT_EQ(client->Exchange(Bytes{0x86, 0x00, 0x03}), (Bytes{0xD1, 0x00, 0x03}));
    EXPECT_EQ(client->Exchange(Packet(0x82, NameHeader(u"gone.txt"))), (Bytes{0xC3, 0x00, 0x03}));
    EXPECT_EQ(client->Exchange(Bytes{0x81, 0x00, 0x03}), kSuccess);
    EXPECT_EQ(client->Exchange(PutFirst(u"late.txt", 1)), kBadRequest);
    EXPECT_TRUE(Entries(m_inbox).empty());
}

TEST_F(ObexPushServerTest, ChecksTheConnectionIdItAnnounced) {
    // With a Connection Id announced, a PUT that carries another id is
    // refused as unavailable; one with the right id is stored.
    DeviceSpec device;
    Start(device, {.connectionId = 7});
    auto client = Client();
    client->Exchange(Connect());
    const Bytes object{1, 2, 3};
    const auto put = [&](std::uint32_t id) {
        Bytes headers{0xCB};
        AppendBe32(headers, id);
        return Packet(0x82, Concat({headers, NameHeader(u"id.bin"),
                                    BodyHeader(object.data(), object.size(), 0x49)}));
    };
    EXPECT_EQ(client->Exchange(put(8)), (Bytes{0xD3, 0x00, 0x03}));
    EXPECT_EQ(client->Exchange(put(7)), kSuccess);
    EXPECT_EQ(Entries(m_inbox), std::set<std::string>{"id.bin"});
}

TEST_F(ObexPushServerTest, TwoClientsPushAtOnce) {
    // Two links interleave their packets, both under one name: neither
    // object mixes with the other, and both are kept.
    Start();
    auto first = Client();
    auto second = Client();
    first->Exchange(Connect());
    second->Exchange(Connect());
    const Bytes a = Pattern(3000, 1);
    const Bytes b = Pattern(3000, 2);
    EXPECT_EQ(first->Exchange(PutFirst(u"x.bin", 3000)), kContinue);
    EXPECT_EQ(second->Exchange(PutFirst(u"x.bin", 3000)), kContinue);
    for (std::size_t offset = 0; offset < 3000; offset += 1000) {
        EXPECT_EQ(first->Exchange(PutBody(a, offset, 1000)), kContinue);
        EXPECT_EQ(second->Exchange(PutBody(b, offset, 1000)), kContinue);
    }
    EXPECT_EQ(second->Exchange(kPutFinal), kSuccess);
    EXPECT_EQ(first->Exchange(kPutFinal), kSuccess);
    EXPECT_EQ(ReadFile(m_inbox / "x.bin"), b);
    EXPECT_EQ(ReadFile(m_inbox / "x (2).bin"), a);
    EXPECT_EQ(m_server->LinkCount(), 2u);
}

TEST_F(ObexPushServerTest, AbortAndLostLinksDiscardThePartialObject) {
    // ABORT in the middle of a put is answered with SUCCESS and leaves
    // nothing behind, not even the temporary file; the next push of the same
    // name gets the plain name. A link that closes mid-object, and a server
    // destroyed mid-object, leave nothing either.
    Start();
    auto client = Client();
    client->Exchange(Connect());
    const Bytes object = Pattern(4000);
    EXPECT_EQ(client->Exchange(PutFirst(u"a.bin", 4000)), kContinue);
    EXPECT_EQ(client->Exchange(PutBody(object, 0, 2000)), kContinue);
    EXPECT_EQ(client->Exchange(Bytes{0xFF, 0x00, 0x03}), kSuccess);
    EXPECT_TRUE(Entries(m_inbox).empty());
    EXPECT_EQ(Push(*client, u"a.bin", object), kSuccess);
    EXPECT_EQ(Entries(m_inbox), std::set<std::string>{"a.bin"});

    auto leaving = Client();
    leaving->Exchange(Connect());
    EXPECT_EQ(leaving->Exchange(PutFirst(u"b.bin", 4000)), kContinue);
    EXPECT_EQ(leaving->Exchange(PutBody(object, 0, 2000)), kContinue);
    leaving->Close();
    const auto end = std::chrono::steady_clock::now() + kRealTimeCap;
    while (m_server->LinkCount() > 1 && std::chrono::steady_clock::now() < end)
        m_loop.ProcessEvents(1ms);
    EXPECT_EQ(m_server->LinkCount(), 1u);
    EXPECT_EQ(m_server->GetCounters().objectsAborted, 2u);

    EXPECT_EQ(client->Exchange(PutFirst(u"c.bin", 4000)), kContinue);
    EXPECT_EQ(client->Exchange(PutBody(object, 0, 2000)), kContinue);
    EXPECT_EQ(Entries(m_inbox).size(), 2u);  // a.bin and the temporary file
    m_server.reset();
    EXPECT_EQ(Entries(m_inbox), std::set<std::string>{"a.bin"});
}

// ---- Names

struct NameCase {
    std::string given;
    std::string stored;
};

// Failure messages and test lists show the names as escaped ASCII, never as
// raw bytes.
std::string Escaped(std::string_view text) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string escaped = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F && c != '\\' && c != '"') {
            escaped += c;
        } else {
            escaped += "\\x";
            escaped += kDigits[byte >> 4];
            escaped += kDigits[byte & 0x0F];
        }
    }
    return escaped + "\"";
}

void PrintTo(const NameCase& value, std::ostream* out) {
    *out << Escaped(value.given) << " -> " << Escaped(value.stored);
}

class SafeFileNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(SafeFileNameTest, ReducesTheNameToOnePlainFileName) {
    EXPECT_EQ(ObexPushServer::SafeFileName(GetParam().given), GetParam().stored);
}

INSTANTIATE_TEST_SUITE_P(
    Names, SafeFileNameTest,
    ::testing::Values(NameCase{"card.vcf", "card.vcf"}, NameCase{"Zoë's 📱.jpg", "Zoë's 📱.jpg"},
                      NameCase{"../../etc/passwd", "_.._etc_passwd"},
                      NameCase{"/abs/path.txt", "_abs_path.txt"},
                      NameCase{"a\\b\\c.txt", "a_b_c.txt"},
                      NameCase{"a\nb\x01"
                               "c\x7F.txt",
                               "a_b_c_.txt"},
                      NameCase{"x:y*z?<>|\".txt", "x_y_z_____.txt"},
                      NameCase{"photo\xE2\x80\xAEgpj.exe", "photo_gpj.exe"},
                      NameCase{"\xC2\x85next", "_next"}, NameCase{"..", "object"},
                      NameCase{".", "object"}, NameCase{"", "object"}, NameCase{" . ", "object"},
                      NameCase{".hidden", "hidden"}, NameCase{"name. . ", "name"},
                      NameCase{"\xFF\xFEok", "\xEF\xBF\xBD\xEF\xBF\xBDok"}),
    [](const ::testing::TestParamInfo<NameCase>& testInfo) {
        return "Case" + std::to_string(testInfo.index);
    });

TEST(SafeFileNameLengthTest, BoundsLongNamesAndKeepsShortExtensions) {
    // 300 characters: cut to 200 bytes at a character boundary, a short
    // extension kept, a long one cut with the rest.
    const std::string ascii = ObexPushServer::SafeFileName(std::string(300, 'a') + ".txt");
    EXPECT_EQ(ascii, std::string(196, 'a') + ".txt");

    std::string accented;
    for (int i = 0; i < 300; ++i)
        accented += "\xC3\xA9";  // é, two bytes
    const std::string cut = ObexPushServer::SafeFileName(accented + ".jpg");
    EXPECT_EQ(cut, accented.substr(0, 196) + ".jpg");
    EXPECT_TRUE(IsValidUtf8(cut));
    const std::string odd = ObexPushServer::SafeFileName("x" + accented + ".jpg");
    EXPECT_LE(odd.size(), ObexPushServer::kMaxFileNameBytes);
    EXPECT_TRUE(IsValidUtf8(odd));

    const std::string longExtension =
        ObexPushServer::SafeFileName(std::string(250, 'b') + "." + std::string(40, 'e'));
    EXPECT_EQ(longExtension, std::string(200, 'b'));
}

TEST_F(ObexPushServerTest, HostileNamesStayInsideTheInbox) {
    // Names pushed over the air with separators, "..", controls and 300
    // characters: each object lands directly in the inbox under its reduced
    // name, and nothing appears beside the inbox.
    Start();
    auto client = Client();
    client->Exchange(Connect());
    const std::u16string names[] = {u"../evil.txt",  u"/etc/cron.d/x",
                                    u"a\\..\\b.txt", u"line\nbreak\x01.txt",
                                    u"..",           std::u16string(300, u'ж')};
    for (const auto& name : names)
        EXPECT_EQ(Push(*client, name, Bytes{'x'}), kSuccess);
    EXPECT_EQ(Entries(m_root), std::set<std::string>{"inbox"});
    const auto stored = Entries(m_inbox);
    EXPECT_EQ(stored.size(), 6u);
    EXPECT_TRUE(stored.count("_evil.txt"));
    EXPECT_TRUE(stored.count("_etc_cron.d_x"));
    EXPECT_TRUE(stored.count("a_.._b.txt"));
    EXPECT_TRUE(stored.count("line_break_.txt"));
    EXPECT_TRUE(stored.count("object"));
    ASSERT_EQ(m_received.size(), 6u);
    EXPECT_EQ(m_received[5].path.filename().string().size(), 200u);
    EXPECT_EQ(m_received[5].name, Utf16ToUtf8(std::u16string(300, u'ж')));
}

// ---- Behaviours

class RefuseObjectTest : public ObexPushServerTest,
                         public ::testing::WithParamInterface<std::uint8_t> {};

TEST_P(RefuseObjectTest, AnswersTheFirstPutWithTheRefusal) {
    // The device's refuse code answers the first PUT packet; nothing is
    // stored, and the next object is refused the same way.
    DeviceSpec device;
    device.behaviour = PushBehaviour::RefuseObject;
    device.refuseCode = GetParam();
    Start(device);
    auto client = Client();
    EXPECT_EQ(client->Exchange(Connect()).value_or(Bytes{}).at(0), 0xA0);
    const Bytes refusal{GetParam(), 0x00, 0x03};
    EXPECT_EQ(client->Exchange(PutFirst(u"ad.jpg", 10)), refusal);
    EXPECT_EQ(client->Exchange(PutFirst(u"ad2.jpg", 10)), refusal);
    EXPECT_TRUE(Entries(m_inbox).empty());
    EXPECT_EQ(m_server->GetCounters().objectsRefused, 2u);
}

INSTANTIATE_TEST_SUITE_P(Codes, RefuseObjectTest, ::testing::Values(0xC3, 0xC1, 0xCF, 0x80),
                         [](const ::testing::TestParamInfo<std::uint8_t>& testInfo) {
                             return "Code" + std::to_string(testInfo.param);
                         });

TEST_F(ObexPushServerTest, RefusesCodesThatAreNoRefusal) {
    DeviceSpec device;
    device.behaviour = PushBehaviour::RefuseObject;
    for (const std::uint8_t code : {0x20, 0x90, 0xA0}) {
        device.refuseCode = code;
        EXPECT_THROW({ ObexPushServer server(m_loop, device, m_inbox); }, std::invalid_argument);
    }
    DeviceSpec accept;
    EXPECT_THROW({ ObexPushServer server(m_loop, accept, m_inbox, {.maxPacketLength = 254}); },
                 std::invalid_argument);
}

TEST_F(ObexPushServerTest, RefusedConnectionKeepsEveryPutOut) {
    // CONNECT is forbidden; a PUT that follows anyway is a bad request.
    Start(PushBehaviour::RefuseConnection);
    auto client = Client();
    EXPECT_EQ(client->Exchange(Connect()), (Bytes{0xC3, 0x00, 0x03}));
    EXPECT_EQ(client->Exchange(PutFirst(u"ad.jpg", 1)), kBadRequest);
    EXPECT_TRUE(Entries(m_inbox).empty());
    EXPECT_EQ(m_server->GetCounters().connectsRefused, 1u);
}

TEST_F(ObexPushServerTest, BusyDeviceResetsEveryLink) {
    // The TCP connect completes from the backlog; the server then resets it
    // without a byte.
    Start(PushBehaviour::Busy);
    auto client = Client();
    client->Send(Connect());
    EXPECT_TRUE(client->WaitClosed());
    EXPECT_TRUE(client->Unread().empty());
    EXPECT_EQ(m_server->GetCounters().linksRefused, 1u);
    EXPECT_EQ(m_server->LinkCount(), 0u);
}

TEST_F(ObexPushServerTest, NoServerWithoutObjectPushOrWithAnExternalEndpoint) {
    // Nothing listens, and no inbox is made.
    Start(PushBehaviour::NoObjectPush);
    EXPECT_EQ(m_server->Port(), 0u);
    DeviceSpec external;
    external.externalEndpoint = "127.0.0.1:6500";
    Start(external);
    EXPECT_EQ(m_server->Port(), 0u);
    EXPECT_FALSE(fs::exists(m_inbox));
}

TEST_F(ObexPushServerTest, NeverAnswerReadsEverythingAndSaysNothing) {
    // Every byte is read, and no answer comes even an hour later.
    Start(PushBehaviour::NeverAnswer);
    auto client = Client();
    client->Send(Connect());
    client->Send(PutFirst(u"ad.jpg", 10));
    ASSERT_TRUE(UntilReceived(client->BytesSent()));
    m_clock.Advance(std::chrono::hours(1));
    while (m_loop.ProcessEvents(0ms)) {
    }
    client->Receive();
    EXPECT_TRUE(client->Unread().empty());
    EXPECT_EQ(m_server->GetCounters().responsesSent, 0u);
    EXPECT_EQ(m_server->LinkCount(), 1u);
}

TEST_F(ObexPushServerTest, DropAfterBytesClosesAtThatByte) {
    // 20 bytes: the CONNECT (7) is answered; 13 bytes into the first PUT the
    // link closes; no more is read and nothing is stored.
    DeviceSpec device;
    device.behaviour = PushBehaviour::DropAfterBytes;
    device.dropAfterBytes = 20;
    Start(device);
    auto client = Client();
    EXPECT_EQ(client->Exchange(Connect()).value_or(Bytes{}).at(0), 0xA0);
    client->Send(PutFirst(u"ad.jpg", 10));
    EXPECT_TRUE(client->WaitClosed());
    EXPECT_EQ(m_server->GetCounters().bytesReceived, 20u);
    EXPECT_EQ(m_server->GetCounters().linksDropped, 1u);
    EXPECT_TRUE(Entries(m_inbox).empty());

    device.dropAfterBytes = 0;
    Start(device);
    auto second = Client();
    EXPECT_TRUE(second->WaitClosed());
    EXPECT_EQ(m_server->GetCounters().bytesReceived, 0u);
}

TEST_F(ObexPushServerTest, EveryAnswerWaitsForTheDelay) {
    // A 1.5 s delay on the manual clock: no answer at 1499 ms, the answer at
    // 1500 ms, for the CONNECT and again for the PUT.
    DeviceSpec device;
    device.answerDelayMs = 1500;
    Start(device);
    auto client = Client();
    for (const Bytes& request : {Connect(), PutFirst(u"late.txt", 0)}) {
        const std::uint64_t answered = m_server->GetCounters().responsesSent;
        client->Send(request);
        ASSERT_TRUE(UntilReceived(client->BytesSent()));
        m_clock.Advance(1499ms);
        while (m_loop.ProcessEvents(0ms)) {
        }
        EXPECT_EQ(m_server->GetCounters().responsesSent, answered);
        m_clock.Advance(1ms);
        const auto response = client->Response();
        ASSERT_TRUE(response);
        EXPECT_EQ(response->at(0), request[0] == 0x80 ? 0xA0 : 0x90);
    }
}

TEST_F(ObexPushServerTest, RateLimitedLinkReadsNoFasterThanItsRate) {
    // 1000 bytes a second: a 5000-byte push (5060 bytes on the link) takes
    // about five seconds of clock time, and at no moment has the server read
    // more than the first tenth of a second's burst plus the elapsed time's
    // worth. Time moves only while the server waits for its allowance.
    DeviceSpec device;
    device.linkRateBytesPerSecond = 1000;
    Start(device);
    auto client = Client();
    const Bytes object = Pattern(5000);
    std::vector<Bytes> packets{Connect(), PutFirst(u"slow.bin", 5000)};
    for (std::size_t offset = 0; offset < 5000; offset += 2037)
        packets.push_back(PutBody(object, offset, std::min<std::size_t>(2037, 5000 - offset)));
    packets.push_back(kPutFinal);

    const auto start = m_clock.Now();
    std::size_t next = 0;
    std::optional<Clock::TimePoint> done;
    const auto end = std::chrono::steady_clock::now() + kRealTimeCap;
    ASSERT_TRUE(client->Send(packets[next++]));
    while (!done && std::chrono::steady_clock::now() < end) {
        const bool handled = m_loop.ProcessEvents(1ms);
        const auto elapsedMs = (m_clock.Now() - start).count();
        EXPECT_LE(m_server->GetCounters().bytesReceived,
                  static_cast<std::uint64_t>(100 + elapsedMs));
        if (auto response = client->Receive() >= 3 ? client->Response() : std::nullopt) {
            if (next == packets.size()) {
                EXPECT_EQ(*response, kSuccess);
                done = m_clock.Now();
            } else {
                ASSERT_TRUE(client->Send(packets[next++]));
            }
        } else if (!handled && m_server->GetCounters().bytesReceived < client->BytesSent()) {
            m_clock.Advance(10ms);
        }
    }
    ASSERT_TRUE(done);
    EXPECT_EQ(client->BytesSent(), 5060u);
    const auto took = *done - start;
    EXPECT_GE(took, 4900ms);
    EXPECT_LE(took, 5200ms);
    EXPECT_EQ(ReadFile(m_inbox / "slow.bin"), object);
}

// ---- Hostile packets

class ShortLengthTest : public ObexPushServerTest,
                        public ::testing::WithParamInterface<std::uint8_t> {};

TEST_P(ShortLengthTest, LengthBelowThreeClosesTheLink) {
    // A length field of 0, 1 or 2 cannot frame a packet: the link closes
    // without an answer.
    Start();
    auto client = Client();
    client->Exchange(Connect());
    client->Send(Bytes{0x02, 0x00, GetParam(), 0x48, 0x00, 0x03});
    EXPECT_TRUE(client->WaitClosed());
    EXPECT_TRUE(client->Unread().empty());
    EXPECT_EQ(m_server->GetCounters().protocolErrors, 1u);
}

INSTANTIATE_TEST_SUITE_P(Lengths, ShortLengthTest, ::testing::Values(0, 1, 2),
                         [](const ::testing::TestParamInfo<std::uint8_t>& testInfo) {
                             return "Length" + std::to_string(testInfo.param);
                         });

TEST_F(ObexPushServerTest, PacketsLongerThanAnnouncedAreRefusedAndEndTheLink) {
    // With 1024 announced, a PUT that declares 2000 bytes is answered with
    // "entity too large" as soon as its length is read, and the link closes.
    DeviceSpec device;
    Start(device, {.maxPacketLength = 1024});
    auto client = Client();
    client->Exchange(Connect());
    client->Exchange(PutFirst(u"big.bin", 5000));
    const Bytes object = Pattern(1997);
    EXPECT_EQ(client->Exchange(PutBody(object, 0, 100)), kContinue);
    Bytes big = PutBody(object, 0, 1997);
    ASSERT_EQ(big.size(), 2003u);
    client->Send(Bytes(big.begin(), big.begin() + 10));
    EXPECT_EQ(client->Response(), (Bytes{0xCD, 0x00, 0x03}));
    EXPECT_TRUE(client->WaitClosed());
    EXPECT_TRUE(Entries(m_inbox).empty());
}

TEST_F(ObexPushServerTest, UnfinishedLongPacketAtTheEndOfTheLinkStoresNothing) {
    // A packet declaring 65535 bytes of which 100 arrive before the link
    // closes: nothing is stored, nothing is left behind.
    Start();
    auto client = Client();
    client->Exchange(Connect());
    client->Exchange(PutFirst(u"cut.bin", 70000));
    EXPECT_EQ(client->Exchange(PutBody(Pattern(100), 0, 100)), kContinue);
    EXPECT_EQ(Entries(m_inbox).size(), 1u);  // the temporary file
    Bytes cut{0x02, 0xFF, 0xFF, 0x48, 0xFF, 0xFC};
    cut.resize(100, 0x55);
    client->Send(cut);
    ASSERT_TRUE(UntilReceived(client->BytesSent()));
    client->Close();
    const auto end = std::chrono::steady_clock::now() + kRealTimeCap;
    while (m_server->LinkCount() > 0 && std::chrono::steady_clock::now() < end)
        m_loop.ProcessEvents(1ms);
    EXPECT_EQ(m_server->LinkCount(), 0u);
    EXPECT_TRUE(Entries(m_inbox).empty());
    EXPECT_EQ(m_server->GetCounters().objectsAborted, 1u);
}

struct BadHeaderCase {
    const char* what;
    Bytes packet;
};

void PrintTo(const BadHeaderCase& value, std::ostream* out) {
    *out << value.what;
}

// "name longer than packet" -> "NameLongerThanPacket".
std::string CaseName(std::string_view words) {
    std::string name;
    bool upper = true;
    for (const char c : words) {
        if (std::isalnum(static_cast<unsigned char>(c)) == 0) {
            upper = true;
            continue;
        }
        name += upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
        upper = false;
    }
    return name;
}

class BadHeaderTest : public ObexPushServerTest,
                      public ::testing::WithParamInterface<BadHeaderCase> {};

TEST_P(BadHeaderTest, IsABadRequestAndTheLinkGoesOn) {
    // A header whose size does not fit its packet is a bad request; the
    // packet's own length still frames the stream, so the next push works.
    Start();
    auto client = Client();
    client->Exchange(Connect());
    EXPECT_EQ(client->Exchange(GetParam().packet), kBadRequest) << GetParam().what;
    EXPECT_EQ(Push(*client, u"after.bin", Pattern(50)), kSuccess);
    EXPECT_EQ(Entries(m_inbox), std::set<std::string>{"after.bin"});
    EXPECT_EQ(m_server->GetCounters().protocolErrors, 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Headers, BadHeaderTest,
    ::testing::Values(
        BadHeaderCase{"name longer than packet",
                      {0x02, 0x00, 0x0A, 0x01, 0x01, 0x00, 0x00, 0x41, 0x00, 0x00}},
        BadHeaderCase{"name length below 3", {0x02, 0x00, 0x08, 0x01, 0x00, 0x02, 0x00, 0x41}},
        BadHeaderCase{"name length field cut", {0x02, 0x00, 0x05, 0x01, 0x00}},
        BadHeaderCase{"four-byte header cut", {0x02, 0x00, 0x06, 0xC3, 0x00, 0x00}},
        BadHeaderCase{"one-byte header cut", {0x02, 0x00, 0x04, 0x9A}},
        BadHeaderCase{"odd name length", {0x02, 0x00, 0x09, 0x01, 0x00, 0x06, 0x00, 0x41, 0x00}},
        BadHeaderCase{"body longer than packet", {0x02, 0x00, 0x08, 0x48, 0x00, 0x09, 0x01, 0x02}},
        BadHeaderCase{"connect without its fields", {0x80, 0x00, 0x05, 0x10, 0x00}}),
    [](const ::testing::TestParamInfo<BadHeaderCase>& testInfo) {
        return CaseName(testInfo.param.what);
    });

TEST_F(ObexPushServerTest, ObjectsOverTheSizeBoundAreRefused) {
    // A 4000-byte bound: an announced Length of 5000 is refused at once; a
    // push without Length is refused when its bodies pass the bound.
    DeviceSpec device;
    Start(device, {.maxObjectBytes = 4000});
    auto client = Client();
    client->Exchange(Connect());
    EXPECT_EQ(client->Exchange(PutFirst(u"big.bin", 5000)), (Bytes{0xCD, 0x00, 0x03}));

    const Bytes object = Pattern(5000);
    EXPECT_EQ(client->Exchange(Packet(0x02, NameHeader(u"big.bin"))), kContinue);
    EXPECT_EQ(client->Exchange(PutBody(object, 0, 3000)), kContinue);
    EXPECT_EQ(client->Exchange(PutBody(object, 3000, 2000)), (Bytes{0xCD, 0x00, 0x03}));
    EXPECT_TRUE(Entries(m_inbox).empty());
    EXPECT_EQ(m_server->GetCounters().objectsRefused, 2u);
}

}  // namespace
}  // namespace kavri::sim
