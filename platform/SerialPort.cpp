#include "platform/SerialPort.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <map>
#include <mutex>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace kavri {

namespace {

std::mutex& SerialPathMutex() {
    static std::mutex mutex;
    return mutex;
}

std::map<std::uint32_t, std::string>& SerialPathMap() {
    static std::map<std::uint32_t, std::string> paths;
    return paths;
}

speed_t StandardSpeed(std::uint32_t rate) {
    switch (rate) {
        case 50:
            return B50;
        case 75:
            return B75;
        case 110:
            return B110;
        case 134:
            return B134;
        case 150:
            return B150;
        case 200:
            return B200;
        case 300:
            return B300;
        case 600:
            return B600;
        case 1200:
            return B1200;
        case 1800:
            return B1800;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        case 230400:
            return B230400;
        case 460800:
            return B460800;
        case 500000:
            return B500000;
        case 576000:
            return B576000;
        case 921600:
            return B921600;
        case 1000000:
            return B1000000;
        case 1152000:
            return B1152000;
        case 1500000:
            return B1500000;
        case 2000000:
            return B2000000;
        case 2500000:
            return B2500000;
        case 3000000:
            return B3000000;
        case 3500000:
            return B3500000;
        case 4000000:
            return B4000000;
        default:
            return B0;
    }
}

#if defined(__x86_64__) || defined(__aarch64__) || defined(__i386__) || defined(__arm__) || \
    defined(__riscv)
// The kernel's own termios record, through which a driver takes a rate that has
// no B constant (14400, 56000, 128000, 256000, custom values). Declared here
// because the kernel header that has it clashes with <termios.h>.
struct KernelTermios2 {
    tcflag_t c_iflag;
    tcflag_t c_oflag;
    tcflag_t c_cflag;
    tcflag_t c_lflag;
    cc_t c_line;
    cc_t c_cc[19];
    speed_t c_ispeed;
    speed_t c_ospeed;
};
static_assert(sizeof(KernelTermios2) == 44);
constexpr tcflag_t kCBaud = 0010017;
constexpr tcflag_t kBOther = 0010000;
constexpr unsigned kIBaudShift = 16;

bool SetCustomSpeed(int fd, std::uint32_t rate) {
    KernelTermios2 tio{};
    if (::ioctl(fd, _IOR('T', 0x2A, KernelTermios2), &tio) != 0) {
        return false;
    }
    tio.c_cflag &= ~(kCBaud | (kCBaud << kIBaudShift));
    tio.c_cflag |= kBOther | (kBOther << kIBaudShift);
    tio.c_ispeed = rate;
    tio.c_ospeed = rate;
    return ::ioctl(fd, _IOW('T', 0x2B, KernelTermios2), &tio) == 0;
}
#else
bool SetCustomSpeed(int, std::uint32_t) {
    return false;
}
#endif

// Applies the line settings; false when the device refuses them.
bool ConfigureLine(int fd, const SerialLineSettings& settings) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        return false;
    }
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    tio.c_cflag |= CLOCAL | CREAD;
    switch (settings.dataBits) {
        case 5:
            tio.c_cflag |= CS5;
            break;
        case 6:
            tio.c_cflag |= CS6;
            break;
        case 7:
            tio.c_cflag |= CS7;
            break;
        case 8:
            tio.c_cflag |= CS8;
            break;
        default:
            return false;  // no driver here sends 4-bit characters
    }
    switch (settings.parity) {
        case SerialParity::None:
            break;
        case SerialParity::Odd:
            tio.c_cflag |= PARENB | PARODD;
            break;
        case SerialParity::Even:
            tio.c_cflag |= PARENB;
            break;
        case SerialParity::Mark:
            tio.c_cflag |= PARENB | CMSPAR | PARODD;
            break;
        case SerialParity::Space:
            tio.c_cflag |= PARENB | CMSPAR;
            break;
    }
    if (settings.twoStopBits) {
        tio.c_cflag |= CSTOPB;
    }
    // Reads return what is there at once; the reader thread waits in poll.
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    const speed_t speed = StandardSpeed(settings.baudRate);
    if (speed != B0 && ::cfsetspeed(&tio, speed) != 0) {
        return false;
    }
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        return false;
    }
    return speed != B0 || SetCustomSpeed(fd, settings.baudRate);
}

}  // namespace

std::string SerialPortPath(std::uint32_t port) {
    {
        std::lock_guard lock(SerialPathMutex());
        const auto found = SerialPathMap().find(port);
        if (found != SerialPathMap().end()) {
            return found->second;
        }
    }
    const std::string variable = "KAVRI_SERIAL_PORT_" + std::to_string(port);
    if (const char* value = std::getenv(variable.c_str()); value != nullptr && *value != '\0') {
        return value;
    }
    return "/dev/ttyS" + std::to_string(port == 0 ? 0 : port - 1);
}

void SetSerialPortPath(std::uint32_t port, const std::string& path) {
    std::lock_guard lock(SerialPathMutex());
    if (path.empty()) {
        SerialPathMap().erase(port);
    } else {
        SerialPathMap()[port] = path;
    }
}

std::unique_ptr<SerialPort> SerialPort::Open(const std::string& path,
                                             const SerialLineSettings& settings) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    std::unique_ptr<SerialPort> port(new SerialPort(fd));
    if (!ConfigureLine(fd, settings)) {
        return nullptr;
    }
    ::tcflush(fd, TCIOFLUSH);
    // The driver's queue sizes have no equivalent here; the kernel's buffers
    // serve. A line without modem controls (a pseudo-terminal) has no RTS or
    // DTR to raise, which is no failure.
    const int lines = TIOCM_RTS | TIOCM_DTR;
    if (::ioctl(fd, TIOCMBIS, &lines) != 0 && errno != ENOTTY && errno != EINVAL) {
        return nullptr;
    }
    return port;
}

SerialPort::~SerialPort() {
    ::close(m_fd);
}

SerialPort::WriteResult SerialPort::Write(const std::uint8_t* data, std::size_t size,
                                          std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::size_t done = 0;
    while (done < size) {
        const ssize_t written = ::write(m_fd, data + done, size - done);
        if (written > 0) {
            done += static_cast<std::size_t>(written);
            continue;
        }
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0 && errno != EAGAIN) {
            return WriteResult::Failed;
        }
        // The driver's queue is full: wait for room, in real time, as long as
        // the time-out allows.
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return WriteResult::TimedOut;
        }
        pollfd fd{m_fd, POLLOUT, 0};
        const int ready =
            ::poll(&fd, 1, static_cast<int>(std::min<long long>(left.count(), INT_MAX)));
        if (ready < 0 && errno != EINTR) {
            return WriteResult::Failed;
        }
        if (ready > 0 && (fd.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            return WriteResult::Failed;
        }
    }
    return WriteResult::Written;
}

}  // namespace kavri
