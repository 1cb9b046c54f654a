// Our Object Push client, through `kavrictl push` and the virtual
// neighbourhood, pushes to the libopenobex peer (openobex_push_peer) standing
// behind a virtual device's address as its TCP endpoint: an empty object,
// 5000 bytes, 1 MiB, 20 MiB and a file whose name is Cyrillic, Chinese and an
// emoji outside the Basic Multilingual Plane, all over one OBEX connection,
// with the peer announcing 1024 and 65535. Every object must arrive byte for
// byte under its own name, and the peer must end by itself once our client
// has left.
#include <gtest/gtest.h>

#include "cli/PushCommand.h"
#include "interop/ChildProcess.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace kavri::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kDeviceAddress = "(00:17:E5:3A:91:02)";
// A 20 MiB push at a 1024-byte maximum is some twenty thousand round trips;
// under the sanitizers that takes seconds, never minutes.
constexpr auto kPushLimit = 180s;

struct TestFile {
    std::string name;
    std::size_t size;
};

const std::vector<TestFile> kFiles = {
    {"empty.bin", 0},
    {"five.bin", 5000},
    {"one-mib.bin", 1024 * 1024},
    {"twenty-mib.bin", 20 * 1024 * 1024},
    {"Привет мир 世界 \xF0\x9F\x93\xB1.txt", 3000},
};

std::string Pattern(std::size_t size, std::uint32_t seed) {
    std::string out(size, '\0');
    for (char& byte : out) {
        seed = seed * 1103515245u + 12345u;
        byte = static_cast<char>(seed >> 16);
    }
    return out;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::string Drain(std::FILE* file) {
    std::string text;
    std::rewind(file);
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, n);
    std::fclose(file);
    return text;
}

std::string FirstDifference(const std::string& expected, const std::string& actual) {
    std::size_t i = 0;
    while (i < expected.size() && i < actual.size() && expected[i] == actual[i])
        ++i;
    return "sizes " + std::to_string(expected.size()) + " and " + std::to_string(actual.size()) +
           ", first difference at byte " + std::to_string(i);
}

class TempFolder {
public:
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "kavri-client-XXXXXX").string();
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

struct PushOutcome {
    int status = -1;
    std::string out;
    std::string err;
};

class ClientToOpenObexTest : public ::testing::TestWithParam<std::uint16_t> {};

TEST_P(ClientToOpenObexTest, PeerStoresEveryObjectByteForByte) {
    // Five files pushed by kavrictl push to a device whose Object Push service
    // is the libopenobex peer announcing the given maximum.
    // Expected: five success lines in order; the peer stores each file
    // unchanged under its name and exits 0 after our client disconnects.
    TempFolder temp;
    const fs::path files = temp.Path() / "files";
    const fs::path inbox = temp.Path() / "inbox";
    fs::create_directories(files);
    fs::create_directories(inbox);
    std::uint32_t seed = 11;
    std::vector<std::string> paths;
    for (const TestFile& file : kFiles) {
        std::ofstream(files / file.name, std::ios::binary) << Pattern(file.size, seed++);
        paths.push_back((files / file.name).string());
    }

    ChildProcess peer({KAVRI_OPENOBEX_PUSH_PEER, inbox.string(), "--mtu",
                       std::to_string(GetParam()), "--count", std::to_string(kFiles.size())});
    const auto port = peer.WaitForLine("port ", 10s);
    ASSERT_TRUE(port) << peer.Output();

    const fs::path scenario = temp.Path() / "peer.scenario";
    std::ofstream(scenario) << "stacks microsoft\n"
                               "radio (00:1A:7D:DA:71:13) \"Radio\"\n"
                               "device "
                            << kDeviceAddress << " \"Peer\" endpoint 127.0.0.1:" << *port
                            << "\n"
                               "  service 9 \"OBEX Object Push\" 0x1105\n";

    cli::PushRequest request{kDeviceAddress, paths, scenario.string(),
                             (temp.Path() / "virtual-inbox").string(), false};
    // The push runs beside this thread so that a peer that hangs cannot hold
    // the test: when the limit passes, the peer is killed, which closes the
    // link and ends the push.
    auto pushing = std::async(std::launch::async, [&request] {
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        if (out == nullptr || err == nullptr)
            throw std::runtime_error("tmpfile failed");
        PushOutcome outcome;
        outcome.status = cli::RunPush(request, out, err);
        outcome.out = Drain(out);
        outcome.err = Drain(err);
        return outcome;
    });
    if (pushing.wait_for(kPushLimit) != std::future_status::ready) {
        peer.Terminate(5s);
        ADD_FAILURE() << "the push did not end within the limit:\n" << peer.Output();
    }
    const PushOutcome outcome = pushing.get();
    EXPECT_EQ(outcome.status, 0) << outcome.out << outcome.err;
    EXPECT_EQ(outcome.err, "");

    std::istringstream lines(outcome.out);
    for (const TestFile& file : kFiles) {
        SCOPED_TRACE(file.name);
        std::string line;
        ASSERT_TRUE(std::getline(lines, line)) << outcome.out;
        EXPECT_EQ(line.substr(0, line.rfind('\t')),
                  file.name + "\t0x00000000\t" + std::to_string(file.size));

        const auto stored = peer.WaitForLine("stored ", 10s);
        ASSERT_TRUE(stored) << peer.Output();
        const auto space = stored->find(' ');
        ASSERT_NE(space, std::string::npos);
        EXPECT_EQ(stored->substr(0, space), std::to_string(file.size));
        EXPECT_EQ(fs::path(stored->substr(space + 1)), inbox / file.name);
        const std::string expected = ReadFile(files / file.name);
        const std::string actual = ReadFile(inbox / file.name);
        EXPECT_TRUE(actual == expected) << FirstDifference(expected, actual);
    }
    std::string extra;
    EXPECT_FALSE(std::getline(lines, extra)) << extra;

    // The peer leaves once its last object's link has closed: our client
    // disconnected rather than leaving the link open.
    EXPECT_EQ(peer.Wait(30s), 0) << peer.Output();
}

INSTANTIATE_TEST_SUITE_P(PeerMaximum, ClientToOpenObexTest, ::testing::Values(1024, 65535),
                         [](const ::testing::TestParamInfo<std::uint16_t>& testInfo) {
                             return "Mtu" + std::to_string(testInfo.param);
                         });

}  // namespace
}  // namespace kavri::test
