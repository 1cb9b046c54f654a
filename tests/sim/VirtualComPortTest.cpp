// The virtual COM port: a pseudo-terminal bridged to a TCP endpoint, with the
// port numbers the stand-in stacks share.
#include "sim/VirtualComPort.h"

#include <gtest/gtest.h>

#include "LoaderTestSupport.h"
#include "platform/SerialPort.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kavri::sim {
namespace {

using namespace std::string_literals;

// A loopback listener standing for a device's server.
class Listener {
public:
    Listener() {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), length);
        ::listen(m_fd, 4);
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
    }
    ~Listener() {
        CloseAccepted();
        ::close(m_fd);
    }
    std::string Endpoint() const { return "127.0.0.1:" + std::to_string(m_port); }
    int Accept() {
        m_accepted = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
        return m_accepted;
    }
    void CloseAccepted() {
        if (m_accepted >= 0) {
            ::close(m_accepted);
            m_accepted = -1;
        }
    }
    std::uint16_t Port() const { return m_port; }

private:
    int m_fd = -1;
    int m_accepted = -1;
    std::uint16_t m_port = 0;
};

// Reads exactly size bytes from fd within the real-time cap.
std::string ReadExactly(int fd, std::size_t size) {
    std::string out;
    const auto end = std::chrono::steady_clock::now() + test::kRealTimeCap;
    while (out.size() < size && std::chrono::steady_clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) {
            continue;
        }
        char buffer[65536];
        const ssize_t count = ::read(fd, buffer, std::min(sizeof buffer, size - out.size()));
        if (count <= 0) {
            break;
        }
        out.append(buffer, static_cast<std::size_t>(count));
    }
    return out;
}

void WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t count = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (count < 0 && errno == EAGAIN) {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 50);
            continue;
        }
        ASSERT_GT(count, 0);
        done += static_cast<std::size_t>(count);
    }
}

int OpenTerminal(const std::string& path) {
    return ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
}

TEST(VirtualComPortNumbers, EachNumberIsHandedOutOnce) {
    // Two claims of the first free number from 240, one of a number already taken.
    // Expected: 240 then 241; a taken, zero or too-high number is refused; a released
    // number is free again.
    const std::uint32_t first = VirtualComPort::ClaimFirstFree(240);
    const std::uint32_t second = VirtualComPort::ClaimFirstFree(240);
    EXPECT_EQ(first, 240u);
    EXPECT_EQ(second, 241u);
    EXPECT_FALSE(VirtualComPort::ClaimNumber(240));
    EXPECT_FALSE(VirtualComPort::ClaimNumber(0));
    EXPECT_FALSE(VirtualComPort::ClaimNumber(256));
    VirtualComPort::ReleaseNumber(first);
    EXPECT_TRUE(VirtualComPort::ClaimNumber(240));
    VirtualComPort::ReleaseNumber(240);
    VirtualComPort::ReleaseNumber(241);
}

TEST(VirtualComPortNumbers, NoNumberLeftGivesZero) {
    // Every number from 250 to 255 is taken.
    // Expected: a claim from 250 finds none.
    for (std::uint32_t n = 250; n <= 255; ++n) {
        ASSERT_TRUE(VirtualComPort::ClaimNumber(n));
    }
    EXPECT_EQ(VirtualComPort::ClaimFirstFree(250), 0u);
    for (std::uint32_t n = 250; n <= 255; ++n) {
        VirtualComPort::ReleaseNumber(n);
    }
}

TEST(VirtualComPort, CarriesBytesBothWaysThroughTheTerminal) {
    // A program writes to serial port 230 and the device answers.
    // Expected: the device reads what was written, the program reads the answer; port
    // 230 opens the terminal while the port lives and the default path after.
    Listener device;
    {
        VirtualComPort port(230, device.Endpoint(), {});
        EXPECT_EQ(SerialPortPath(230), port.TerminalPath());
        const int far = device.Accept();
        ASSERT_GE(far, 0);
        auto serial = SerialPort::Open(SerialPortPath(230), SerialLineSettings{});
        ASSERT_NE(serial, nullptr);
        const std::string request = "\x80\x00\x07\x10\x00\xFF\xFF"s;
        ASSERT_EQ(serial->Write(reinterpret_cast<const std::uint8_t*>(request.data()),
                                request.size(), std::chrono::milliseconds(1000)),
                  SerialPort::WriteResult::Written);
        EXPECT_EQ(ReadExactly(far, request.size()), request);
        WriteAll(far, "\xA0\x00\x03"s);
        EXPECT_EQ(ReadExactly(serial->Fd(), 3), "\xA0\x00\x03"s);
        // The bridge counts a write once it has returned, maybe after the reader has the bytes.
        EXPECT_TRUE(test::WaitUntil([&] { return port.BytesToEndpoint() == request.size(); }));
        EXPECT_TRUE(test::WaitUntil([&] { return port.BytesToPort() == 3u; }));
    }
    EXPECT_EQ(SerialPortPath(230), "/dev/ttyS229");
}

TEST(VirtualComPort, LargeTransfersPassWholeThroughTheBoundedBuffers) {
    // One megabyte each way, far more than the bridge holds at once.
    // Expected: every byte arrives, in order.
    Listener device;
    VirtualComPort port(231, device.Endpoint(), {});
    const int far = device.Accept();
    ASSERT_GE(far, 0);
    const int terminal = OpenTerminal(port.TerminalPath());
    ASSERT_GE(terminal, 0);
    std::string payload(1 << 20, '\0');
    for (std::size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<char>(i * 31 + i / 997);
    }
    std::string received;
    std::thread reader([&] { received = ReadExactly(far, payload.size()); });
    WriteAll(terminal, payload);
    reader.join();
    EXPECT_TRUE(received == payload) << "to the device: " << received.size() << " bytes";

    std::thread writer([&] { WriteAll(far, payload); });
    const std::string back = ReadExactly(terminal, payload.size());
    writer.join();
    EXPECT_TRUE(back == payload) << "to the program: " << back.size() << " bytes";
    ::close(terminal);
}

TEST(VirtualComPort, DeviceHangingUpDropsTheLineAndReportsOnce) {
    // The device closes its end while a program holds the port.
    // Expected: the program's read sees the line end; onHangUp runs once.
    Listener device;
    std::atomic<int> hangUps{0};
    VirtualComPort port(232, device.Endpoint(), [&] { ++hangUps; });
    ASSERT_GE(device.Accept(), 0);
    const int terminal = OpenTerminal(port.TerminalPath());
    ASSERT_GE(terminal, 0);
    device.CloseAccepted();
    ASSERT_TRUE(test::WaitUntil([&] { return hangUps.load() == 1; }));
    char byte = 0;
    pollfd p{terminal, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 1000), 1);
    EXPECT_LE(::read(terminal, &byte, 1), 0);
    EXPECT_EQ(hangUps.load(), 1);
    ::close(terminal);
}

TEST(VirtualComPort, HangUpEndsTheLinkFromTheDeviceSide) {
    // The stand-in ends the link as a device walking away would.
    // Expected: the device's end reads end of stream and onHangUp runs.
    Listener device;
    std::atomic<int> hangUps{0};
    VirtualComPort port(233, device.Endpoint(), [&] { ++hangUps; });
    const int far = device.Accept();
    ASSERT_GE(far, 0);
    port.HangUp();
    ASSERT_TRUE(test::WaitUntil([&] { return hangUps.load() == 1; }));
    char byte = 0;
    EXPECT_EQ(::read(far, &byte, 1), 0);
}

TEST(VirtualComPort, UnreachableOrMalformedEndpointsThrow) {
    // Nobody listens on the endpoint; endpoints without a port.
    // Expected: std::system_error, std::invalid_argument; the number's path untouched.
    std::uint16_t closedPort = 0;
    {
        Listener gone;
        closedPort = gone.Port();
    }
    EXPECT_THROW(VirtualComPort(234, "127.0.0.1:" + std::to_string(closedPort), {}),
                 std::system_error);
    EXPECT_THROW(VirtualComPort(234, "127.0.0.1", {}), std::invalid_argument);
    EXPECT_THROW(VirtualComPort(234, "127.0.0.1:", {}), std::invalid_argument);
    EXPECT_EQ(SerialPortPath(234), "/dev/ttyS233");
}

TEST(VirtualComPort, LeavesNoThreadBehind) {
    // Ports are made and destroyed, one with its device gone and one without.
    // Expected: the process has as many threads as before.
    Listener device;
    const std::size_t before = test::ThreadCount();
    {
        VirtualComPort open(235, device.Endpoint(), {});
        VirtualComPort hungUp(236, device.Endpoint(), {});
        hungUp.HangUp();
    }
    EXPECT_EQ(test::ThreadCount(), before);
}

}  // namespace
}  // namespace kavri::sim
