// Debian's obexftp client pushes objects to our Object Push server
// (obex_push_host) and to the libopenobex peer (openobex_push_peer), each
// announcing a large and a small maximum packet length; every stored object
// must equal its file byte for byte, under its own name. Each obexftp run is
// one OBEX connection. Skipped when obexftp is not installed.
#include <gtest/gtest.h>

#include "interop/ChildProcess.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace kavri::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct ServerCase {
    const char* label;
    const char* program;
    std::vector<std::string> options;
};

struct TestFile {
    std::string name;
    std::size_t size;
};

const std::vector<TestFile> kFiles = {
    {"empty.bin", 0},
    {"five.bin", 5000},
    {"one-mib.bin", 1024 * 1024},
    {"twenty-mib.bin", 20 * 1024 * 1024},
    {"Привет мир 世界.txt", 3000},
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
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    std::string out(static_cast<std::size_t>(std::max<std::streamoff>(0, in.tellg())), '\0');
    in.seekg(0);
    in.read(out.data(), static_cast<std::streamsize>(out.size()));
    return out;
}

// Where two byte strings first differ, for a readable failure.
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
        std::string pattern = (fs::temp_directory_path() / "kavri-interop-XXXXXX").string();
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

class ObexftpPushTest : public ::testing::TestWithParam<ServerCase> {};

TEST_P(ObexftpPushTest, StoresEveryObjectByteForByte) {
    if (std::string(KAVRI_OBEXFTP).empty())
        GTEST_SKIP() << "obexftp is not installed";
    TempFolder temp;
    const fs::path files = temp.Path() / "files";
    const fs::path inbox = temp.Path() / "inbox";
    fs::create_directories(files);
    fs::create_directories(inbox);
    std::uint32_t seed = 1;
    for (const TestFile& file : kFiles)
        std::ofstream(files / file.name, std::ios::binary) << Pattern(file.size, seed++);

    std::vector<std::string> serverArgs{GetParam().program, inbox.string()};
    serverArgs.insert(serverArgs.end(), GetParam().options.begin(), GetParam().options.end());
    serverArgs.insert(serverArgs.end(), {"--count", std::to_string(kFiles.size())});
    ChildProcess server(serverArgs);
    const auto port = server.WaitForLine("port ", 10s);
    ASSERT_TRUE(port) << server.Output();

    for (const TestFile& file : kFiles) {
        SCOPED_TRACE(file.name);
        ChildProcess push({KAVRI_OBEXFTP, "-n", "127.0.0.1:" + *port, "-U", "none", "-p",
                           (files / file.name).string()},
                          {"LC_ALL=C.UTF-8"});
        const auto status = push.Wait(120s);
        ASSERT_TRUE(status) << "obexftp did not finish:\n" << push.Output();
        // obexftp 0.24 ends a successful run with status 255 (its main returns
        // -1), a refused one with the OBEX response code and a failed connect
        // with 1; only 255 means the object went through.
        EXPECT_EQ(*status, 255) << push.Output();

        const auto stored = server.WaitForLine("stored ", 30s);
        ASSERT_TRUE(stored) << server.Output();
        const auto space = stored->find(' ');
        ASSERT_NE(space, std::string::npos);
        EXPECT_EQ(stored->substr(0, space), std::to_string(file.size));
        const fs::path path = stored->substr(space + 1);
        EXPECT_EQ(path, inbox / file.name);
        const std::string expected = ReadFile(files / file.name);
        const std::string actual = ReadFile(path);
        EXPECT_TRUE(actual == expected) << FirstDifference(expected, actual);
    }
    // Both servers end by themselves after the last object's link has closed.
    EXPECT_EQ(server.Wait(30s), 0) << server.Output();
}

INSTANTIATE_TEST_SUITE_P(
    Servers, ObexftpPushTest,
    ::testing::Values(
        ServerCase{"OurServer", KAVRI_OBEX_PUSH_HOST, {}},
        ServerCase{"OurServerMtu1024", KAVRI_OBEX_PUSH_HOST, {"--mtu", "1024"}},
        ServerCase{"OurServerWithConnectionId", KAVRI_OBEX_PUSH_HOST, {"--connection-id", "0x2A"}},
        ServerCase{"OpenObexPeer", KAVRI_OPENOBEX_PUSH_PEER, {}},
        ServerCase{"OpenObexPeerMtu1024", KAVRI_OPENOBEX_PUSH_PEER, {"--mtu", "1024"}}),
    [](const ::testing::TestParamInfo<ServerCase>& testInfo) { return testInfo.param.label; });

}  // namespace
}  // namespace kavri::test
