// The libopenobex peer against the packets our OBEX client writes, byte for
// byte: it announces the MTU it was given, takes an object (an empty one too)
// in Body packets sized for that MTU followed by an empty End-of-Body, stores
// it, and exits
// after the given count once the link has closed. Checks the peer that later
// client tests rely on, and our packet shapes against an independent engine.
#include <gtest/gtest.h>

#include "interop/ChildProcess.h"

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kavri::test {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

void AppendBe16(Bytes& out, std::size_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

// A blocking client socket whose reads give up after ten seconds.
class Link {
public:
    explicit Link(std::uint16_t port) {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        timeval limit{10, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_connected =
            ::connect(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    }
    ~Link() { Close(); }
    bool Connected() const { return m_connected; }
    void Close() {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

    std::optional<Bytes> Exchange(const Bytes& request) {
        if (::send(m_fd, request.data(), request.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(request.size()))
            return std::nullopt;
        Bytes response(3);
        if (!ReadExactly(response.data(), 3))
            return std::nullopt;
        const std::size_t length = (response[1] << 8) | response[2];
        if (length < 3)
            return std::nullopt;
        response.resize(length);
        if (!ReadExactly(response.data() + 3, length - 3))
            return std::nullopt;
        return response;
    }

private:
    bool ReadExactly(std::uint8_t* out, std::size_t size) {
        while (size > 0) {
            const ssize_t got = ::recv(m_fd, out, size, 0);
            if (got <= 0)
                return false;
            out += got;
            size -= static_cast<std::size_t>(got);
        }
        return true;
    }

    int m_fd = -1;
    bool m_connected = false;
};

class TempFolder {
public:
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "kavri-peer-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        m_path = pattern;
    }
    ~TempFolder() {
        std::error_code error;
        fs::remove_all(m_path, error);
    }
    const fs::path& Path() const { return m_path; }

private:
    fs::path m_path;
};

struct PeerCase {
    std::uint16_t mtu;
    std::size_t objectSize;
    int bodyPackets;
};

void PrintTo(const PeerCase& value, std::ostream* out) {
    *out << "mtu " << value.mtu << ", " << value.objectSize << " bytes, " << value.bodyPackets
         << " body packets";
}

class OpenObexPeerTest : public ::testing::TestWithParam<PeerCase> {};

TEST_P(OpenObexPeerTest, TakesOurClientsPushPackets) {
    const std::uint16_t mtu = GetParam().mtu;
    TempFolder inbox;
    ChildProcess peer({KAVRI_OPENOBEX_PUSH_PEER, inbox.Path().string(), "--mtu",
                       std::to_string(mtu), "--count", "1"});
    const auto port = peer.WaitForLine("port ", 10s);
    ASSERT_TRUE(port) << peer.Output();
    Link link(static_cast<std::uint16_t>(std::stoi(*port)));
    ASSERT_TRUE(link.Connected());

    // CONNECT as our client sends it, announcing 2048.
    const auto connected = link.Exchange(Bytes{0x80, 0x00, 0x07, 0x10, 0x00, 0x08, 0x00});
    ASSERT_TRUE(connected);
    ASSERT_GE(connected->size(), 7u);
    EXPECT_EQ(connected->at(0), 0xA0);
    const std::size_t peerMax = (connected->at(5) << 8) | connected->at(6);
    EXPECT_EQ(peerMax, mtu);

    // The first PUT: Length and Name ("card.vcf"), no Body.
    Bytes object(GetParam().objectSize);
    for (std::size_t i = 0; i < object.size(); ++i)
        object[i] = static_cast<std::uint8_t>(i * 7 + 3);
    const auto size = static_cast<std::uint32_t>(object.size());
    Bytes first{0x02, 0x00, 0x1D, 0xC3};
    for (int shift = 24; shift >= 0; shift -= 8)
        first.push_back(static_cast<std::uint8_t>(size >> shift));
    const Bytes name{0x01, 0x00, 0x15, 0x00, 0x63, 0x00, 0x61, 0x00, 0x72, 0x00, 0x64,
                     0x00, 0x2E, 0x00, 0x76, 0x00, 0x63, 0x00, 0x66, 0x00, 0x00};
    first.insert(first.end(), name.begin(), name.end());
    EXPECT_EQ(link.Exchange(first), (Bytes{0x90, 0x00, 0x03}));

    // Body packets of at most the peer's maximum minus 5 bytes, each carrying
    // its maximum minus 11, then the empty End-of-Body in a final PUT.
    std::size_t sent = 0;
    int packets = 0;
    while (sent < object.size()) {
        const std::size_t data = std::min(object.size() - sent, peerMax - 11);
        Bytes body{0x02};
        AppendBe16(body, data + 6);
        body.push_back(0x48);
        AppendBe16(body, data + 3);
        body.insert(body.end(), object.begin() + static_cast<std::ptrdiff_t>(sent),
                    object.begin() + static_cast<std::ptrdiff_t>(sent + data));
        ASSERT_LE(body.size(), peerMax);
        EXPECT_EQ(link.Exchange(body), (Bytes{0x90, 0x00, 0x03}));
        sent += data;
        ++packets;
    }
    EXPECT_EQ(packets, GetParam().bodyPackets);
    EXPECT_EQ(link.Exchange(Bytes{0x82, 0x00, 0x06, 0x49, 0x00, 0x03}), (Bytes{0xA0, 0x00, 0x03}));

    const auto stored = peer.WaitForLine("stored ", 10s);
    ASSERT_TRUE(stored) << peer.Output();
    EXPECT_EQ(*stored, std::to_string(object.size()) + " " + (inbox.Path() / "card.vcf").string());
    std::ifstream in(inbox.Path() / "card.vcf", std::ios::binary);
    Bytes storedBytes(object.size() + 1);
    in.read(reinterpret_cast<char*>(storedBytes.data()),
            static_cast<std::streamsize>(storedBytes.size()));
    storedBytes.resize(static_cast<std::size_t>(in.gcount()));
    EXPECT_EQ(storedBytes, object);

    // No DISCONNECT: our client just closes the link, and the peer, having
    // its one object, ends.
    link.Close();
    EXPECT_EQ(peer.Wait(10s), 0) << peer.Output();
}

// 5000 bytes take five packets of 1013 data bytes under a 1024 maximum, one
// under 65535; an empty object has none, only the empty End-of-Body.
INSTANTIATE_TEST_SUITE_P(Objects, OpenObexPeerTest,
                         ::testing::Values(PeerCase{1024, 5000, 5}, PeerCase{65535, 5000, 1},
                                           PeerCase{1024, 0, 0}),
                         [](const ::testing::TestParamInfo<PeerCase>& testInfo) {
                             return "Mtu" + std::to_string(testInfo.param.mtu) + "Bytes" +
                                    std::to_string(testInfo.param.objectSize);
                         });

}  // namespace
}  // namespace kavri::test
