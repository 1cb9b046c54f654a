#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace kavri {

// Where serial port N (1, 2, ...) is opened on this system. In order: a path
// set with SetSerialPortPath, the environment variable KAVRI_SERIAL_PORT_<N>
// (for example KAVRI_SERIAL_PORT_3=/dev/rfcomm0, or a pseudo-terminal), and
// otherwise "/dev/ttyS<N-1>" (port 1 is /dev/ttyS0). Any thread.
std::string SerialPortPath(std::uint32_t port);
// Sets the path of one port for this process; an empty path removes the
// setting. Any thread.
void SetSerialPortPath(std::uint32_t port, const std::string& path);

enum class SerialParity : std::uint8_t { None, Odd, Even, Mark, Space };

// The line settings of a serial port. dataBits is 5 to 8; no driver here sends
// 4-bit characters, so anything else is refused. twoStopBits also stands for
// 1.5 stop bits, which a UART sends when it has five data bits.
struct SerialLineSettings {
    std::uint32_t baudRate = 115200;
    unsigned dataBits = 8;
    SerialParity parity = SerialParity::None;
    bool twoStopBits = false;
};

// One serial port opened in raw mode, non-blocking, owning its descriptor.
// Rates without a B constant (14400, 56000, 128000, 256000, custom values) are
// set exactly through the kernel's arbitrary-rate interface. RTS and DTR are
// raised where the line has them. Reads return what is there at once: a reader
// waits in poll on Fd(). Any one thread at a time; Fd() may be polled by
// another thread while the owner writes.
class SerialPort {
public:
    enum class WriteResult : std::uint8_t { Written, Failed, TimedOut };

    // Opens and configures the device at path; nullptr when the device is not
    // there or refuses the settings (a driver without arbitrary rates, say).
    static std::unique_ptr<SerialPort> Open(const std::string& path,
                                            const SerialLineSettings& settings);
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    int Fd() const { return m_fd; }
    // Writes every byte, waiting for room in the driver's queue for at most
    // timeout of real time. Failed when the line hung up or the device went.
    WriteResult Write(const std::uint8_t* data, std::size_t size,
                      std::chrono::milliseconds timeout) const;

private:
    explicit SerialPort(int fd) : m_fd(fd) {}

    int m_fd;
};

}  // namespace kavri
