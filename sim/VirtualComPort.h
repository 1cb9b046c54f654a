#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace kavri::sim {

// A virtual COM port of a stand-in stack: a pseudo-terminal whose far end is
// bridged to a TCP endpoint (a virtual device's Object Push server), so what a
// program writes to the port reaches the device over a real serial line and
// the device's answers come back the same way. While it lives, serial port
// number N opens its terminal (SetSerialPortPath).
//
// A bridge thread owned by the port carries the bytes, at most kBufferBytes
// in each direction at a time: it reads a side only when the other has taken
// what came before. When the TCP side ends, the bridge hangs up the terminal
// (readers of the port see the line drop) and calls onHangUp once, on the
// bridge thread; onHangUp must only hand the news on (post, queue). The
// destructor stops and joins the bridge and gives the number's path back.
//
// The constructor throws std::system_error when the terminal or the TCP
// connection cannot be set up, std::invalid_argument for an endpoint that is
// not "host:port". Port numbers are claimed separately, process-wide, so the
// stand-in stacks never hand out one number twice.
class VirtualComPort {
public:
    static constexpr std::size_t kBufferBytes = 4096;

    // The COM port numbers in use by virtual ports, 1 to 255. Any thread.
    static bool ClaimNumber(std::uint32_t number);
    // The lowest free number from `from` up, claimed; 0 when none is free.
    static std::uint32_t ClaimFirstFree(std::uint32_t from);
    static void ReleaseNumber(std::uint32_t number);

    // Opens the terminal for port `number` (claimed by the caller) and
    // connects it to endpoint.
    VirtualComPort(std::uint32_t number, const std::string& endpoint,
                   std::function<void()> onHangUp);
    ~VirtualComPort();
    VirtualComPort(const VirtualComPort&) = delete;
    VirtualComPort& operator=(const VirtualComPort&) = delete;

    std::uint32_t Number() const { return m_number; }
    // The terminal's device path (/dev/pts/N).
    const std::string& TerminalPath() const { return m_terminalPath; }
    // Ends the TCP side as the device would: the bridge then hangs up.
    void HangUp();
    // Bytes carried so far, each way.
    std::uint64_t BytesToEndpoint() const { return m_toEndpoint.load(); }
    std::uint64_t BytesToPort() const { return m_toPort.load(); }

private:
    void Run();

    std::uint32_t m_number;
    std::function<void()> m_onHangUp;
    std::string m_terminalPath;
    int m_master = -1;
    int m_slave = -1;  // held open so the terminal lives until the bridge hangs it up
    int m_socket = -1;
    int m_wake = -1;  // eventfd that stops the bridge
    std::atomic<std::uint64_t> m_toEndpoint{0};
    std::atomic<std::uint64_t> m_toPort{0};
    std::thread m_thread;
};

}  // namespace kavri::sim
