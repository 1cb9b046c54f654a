#include "cli/PushCommand.h"

#include <gtest/gtest.h>

#include "CliTestSupport.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace kavri::cli {
namespace {

namespace fs = std::filesystem;

const char* kScenario =
    "stacks microsoft\n"
    "radio (00:1A:7D:DA:71:13) \"Radio\"\n"
    "device (00:17:E5:3A:91:02) \"Taker\"\n"
    "  service 9 \"OBEX Object Push\" 0x1105\n"
    "device (00:16:B8:29:C4:0A) \"Refuser\" behaviour refuse-object 0xC3\n"
    "  service 4 \"OBEX Object Push\" 0x1105\n"
    "device (00:19:63:7E:D0:15) \"Locked\" behaviour refuse-connection\n"
    "  service 7 \"OBEX Object Push\" 0x1105\n";

std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

using test::Drain;

// Result lines without the seconds column, which varies.
std::vector<std::string> WithoutSeconds(const std::string& out) {
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line.substr(0, line.rfind('\t')));
    }
    return lines;
}

class PushCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_root = fs::temp_directory_path() / ("kavri-push-" + std::to_string(::getpid()));
        fs::remove_all(m_root);
        fs::create_directories(m_root);
        std::ofstream(m_root / "demo.scenario") << kScenario;
        Write("empty.bin", "");
        std::string big;
        for (int i = 0; i < 200000; ++i)
            big += static_cast<char>(i * 7 + i / 251);
        Write("big.bin", big);
        Write("Zo\xC3\xAB \xE6\x97\xA5.txt", "hello");
    }
    void TearDown() override { fs::remove_all(m_root); }

    void Write(const std::string& name, const std::string& bytes) {
        std::ofstream(m_root / name, std::ios::binary) << bytes;
    }

    int Push(const std::string& address, const std::vector<std::string>& names) {
        PushRequest request;
        request.address = address;
        for (const auto& name : names)
            request.files.push_back((m_root / name).string());
        request.scenarioPath = (m_root / "demo.scenario").string();
        request.inboxRoot = (m_root / "inbox").string();
        request.progress = false;
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        const int status = RunPush(request, out, err);
        m_out = Drain(out);
        m_err = Drain(err);
        return status;
    }

    fs::path m_root;
    std::string m_out;
    std::string m_err;
};

TEST_F(PushCommandTest, FilesArriveByteIdenticalUnderTheirNames) {
    // An empty file, a 200 000-byte file and a file with a non-Latin name,
    // pushed to an accepting device.
    // Expected: one success line per file in order; the device keeps the same bytes.
    ASSERT_EQ(Push("(00:17:E5:3A:91:02)", {"empty.bin", "big.bin", "Zo\xC3\xAB \xE6\x97\xA5.txt"}),
              0)
        << m_err;
    EXPECT_EQ(WithoutSeconds(m_out),
              (std::vector<std::string>{"empty.bin\t0x00000000\t0", "big.bin\t0x00000000\t200000",
                                        "Zo\xC3\xAB \xE6\x97\xA5.txt\t0x00000000\t5"}));
    const fs::path inbox = m_root / "inbox" / "0017E53A9102";
    for (const char* name : {"empty.bin", "big.bin", "Zo\xC3\xAB \xE6\x97\xA5.txt"}) {
        EXPECT_EQ(Slurp(inbox / name), Slurp(m_root / name)) << name;
    }
}

TEST_F(PushCommandTest, RefusedObjectAndRefusedConnectionGiveTheirCodes) {
    // A device that refuses the object, and one that refuses the OBEX connection.
    // Expected: 0x8000F01C for the refused push, 0x8000F032 for every file of the
    // refused connection; status 1; nothing stored.
    EXPECT_EQ(Push("(00:16:B8:29:C4:0A)", {"big.bin"}), 1);
    EXPECT_EQ(WithoutSeconds(m_out), (std::vector<std::string>{"big.bin\t0x8000F01C\t200000"}));
    EXPECT_EQ(Push("(00:19:63:7E:D0:15)", {"big.bin", "empty.bin"}), 1);
    EXPECT_EQ(WithoutSeconds(m_out), (std::vector<std::string>{"big.bin\t0x8000F032\t200000",
                                                               "empty.bin\t0x8000F032\t0"}));
    EXPECT_TRUE(fs::is_empty(m_root / "inbox" / "0016B829C40A"));
}

TEST_F(PushCommandTest, DeviceOutOfRangeAndBadInput) {
    // An address nobody answers, a file that does not exist, and an address text
    // that is not valid.
    // Expected: time-out code for the absent device; 0x8000F034 for the missing
    // file while the next file still goes; one error line for the bad address.
    EXPECT_EQ(Push("(99:99:99:99:99:99)", {"empty.bin"}), 1);
    EXPECT_EQ(WithoutSeconds(m_out), (std::vector<std::string>{"empty.bin\t0x8000F02F\t0"}));

    EXPECT_EQ(Push("(00:17:E5:3A:91:02)", {"missing.bin", "empty.bin"}), 1);
    EXPECT_EQ(WithoutSeconds(m_out),
              (std::vector<std::string>{"missing.bin\t0x8000F034\t0", "empty.bin\t0x00000000\t0"}));

    EXPECT_EQ(Push("00:17:E5:3A:91:02", {"empty.bin"}), 1);
    EXPECT_EQ(m_out, "");
    EXPECT_EQ(m_err, "kavrictl: Address is not valid.\n");
}

}  // namespace
}  // namespace kavri::cli
