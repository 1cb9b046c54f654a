#include "sim/VirtualComPort.h"

#include "platform/SerialPort.h"

#include <array>
#include <cerrno>
#include <mutex>
#include <set>
#include <stdexcept>
#include <system_error>

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace kavri::sim {
namespace {

std::mutex g_numbersMutex;
std::set<std::uint32_t> g_numbers;  // guarded by g_numbersMutex

constexpr std::uint32_t kLastNumber = 255;

[[noreturn]] void ThrowErrno(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

void CloseFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

int ConnectTo(const std::string& endpoint) {
    const std::size_t colon = endpoint.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == endpoint.size()) {
        throw std::invalid_argument("endpoint is not host:port: " + endpoint);
    }
    std::string host = endpoint.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    const std::string port = endpoint.substr(colon + 1);
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0 || found == nullptr) {
        throw std::system_error(EHOSTUNREACH, std::generic_category(), "resolve " + endpoint);
    }
    int fd = -1;
    int error = ECONNREFUSED;
    for (addrinfo* at = found; at != nullptr; at = at->ai_next) {
        fd = ::socket(at->ai_family, at->ai_socktype | SOCK_CLOEXEC, at->ai_protocol);
        if (fd < 0) {
            error = errno;
            continue;
        }
        if (::connect(fd, at->ai_addr, at->ai_addrlen) == 0) {
            break;
        }
        error = errno;
        CloseFd(fd);
    }
    ::freeaddrinfo(found);
    if (fd < 0) {
        throw std::system_error(error, std::generic_category(), "connect " + endpoint);
    }
    return fd;
}

void SetNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

// Bytes on their way from one side to the other.
struct Pending {
    std::array<std::uint8_t, VirtualComPort::kBufferBytes> bytes{};
    std::size_t begin = 0;
    std::size_t end = 0;
    bool Empty() const { return begin == end; }
};

enum class Move { Progress, Wait, Ended };

Move Fill(int fd, Pending& pending) {
    const ssize_t count = ::read(fd, pending.bytes.data(), pending.bytes.size());
    if (count > 0) {
        pending.begin = 0;
        pending.end = static_cast<std::size_t>(count);
        return Move::Progress;
    }
    if (count < 0 && (errno == EAGAIN || errno == EINTR)) {
        return Move::Wait;
    }
    return Move::Ended;
}

Move Drain(int fd, Pending& pending, std::atomic<std::uint64_t>& counter) {
    const ssize_t count =
        ::write(fd, pending.bytes.data() + pending.begin, pending.end - pending.begin);
    if (count > 0) {
        pending.begin += static_cast<std::size_t>(count);
        counter += static_cast<std::uint64_t>(count);
        return Move::Progress;
    }
    if (count < 0 && (errno == EAGAIN || errno == EINTR)) {
        return Move::Wait;
    }
    return Move::Ended;
}

// One side's turn: read what it sent into `in` when asked to, and write
// `out` to it when it has room. False when the side has ended.
bool Carry(int fd, const pollfd& polled, Pending& in, Pending& out,
           std::atomic<std::uint64_t>& counter) {
    const short got = polled.revents;
    if ((polled.events & POLLIN) != 0 && (got & (POLLIN | POLLHUP | POLLERR)) != 0 &&
        Fill(fd, in) == Move::Ended) {
        return false;
    }
    if (!out.Empty() && (got & (POLLOUT | POLLHUP | POLLERR)) != 0 &&
        Drain(fd, out, counter) == Move::Ended) {
        return false;
    }
    return true;
}

}  // namespace

bool VirtualComPort::ClaimNumber(std::uint32_t number) {
    if (number == 0 || number > kLastNumber) {
        return false;
    }
    std::lock_guard lock(g_numbersMutex);
    return g_numbers.insert(number).second;
}

std::uint32_t VirtualComPort::ClaimFirstFree(std::uint32_t from) {
    std::lock_guard lock(g_numbersMutex);
    for (std::uint32_t number = std::max<std::uint32_t>(from, 1); number <= kLastNumber; ++number) {
        if (g_numbers.insert(number).second) {
            return number;
        }
    }
    return 0;
}

void VirtualComPort::ReleaseNumber(std::uint32_t number) {
    std::lock_guard lock(g_numbersMutex);
    g_numbers.erase(number);
}

VirtualComPort::VirtualComPort(std::uint32_t number, const std::string& endpoint,
                               std::function<void()> onHangUp)
    : m_number(number), m_onHangUp(std::move(onHangUp)) {
    try {
        m_socket = ConnectTo(endpoint);
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
            ThrowErrno("posix_openpt");
        }
        std::array<char, 128> name{};
        if (::ptsname_r(m_master, name.data(), name.size()) != 0) {
            ThrowErrno("ptsname");
        }
        m_terminalPath = name.data();
        m_slave = ::open(m_terminalPath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_slave < 0) {
            ThrowErrno("open terminal");
        }
        // Raw from the start: no echo or line editing before the program
        // opens the port and sets its own mode.
        termios mode{};
        if (::tcgetattr(m_slave, &mode) == 0) {
            ::cfmakeraw(&mode);
            ::tcsetattr(m_slave, TCSANOW, &mode);
        }
        SetNonBlocking(m_master);
        SetNonBlocking(m_socket);
        m_wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (m_wake < 0) {
            ThrowErrno("eventfd");
        }
        m_thread = std::thread([this] { Run(); });
    } catch (...) {
        CloseFd(m_socket);
        CloseFd(m_master);
        CloseFd(m_slave);
        CloseFd(m_wake);
        throw;
    }
    SetSerialPortPath(m_number, m_terminalPath);
}

VirtualComPort::~VirtualComPort() {
    SetSerialPortPath(m_number, "");
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(m_wake, &one, sizeof one);
    m_thread.join();
    CloseFd(m_socket);
    CloseFd(m_master);
    CloseFd(m_slave);
    CloseFd(m_wake);
}

void VirtualComPort::HangUp() {
    ::shutdown(m_socket, SHUT_RDWR);
}

void VirtualComPort::Run() {
    Pending toEndpoint;  // from the terminal
    Pending toPort;      // from the endpoint
    for (;;) {
        std::array<pollfd, 3> fds{{
            {m_wake, POLLIN, 0},
            {m_master, static_cast<short>(toEndpoint.Empty() ? POLLIN : 0), 0},
            {m_socket, static_cast<short>(toPort.Empty() ? POLLIN : 0), 0},
        }};
        if (!toPort.Empty()) {
            fds[1].events |= POLLOUT;
        }
        if (!toEndpoint.Empty()) {
            fds[2].events |= POLLOUT;
        }
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (fds[0].revents != 0) {
            return;  // stopped by the owner: no hang-up to report
        }
        if (!Carry(m_master, fds[1], toEndpoint, toPort, m_toPort) ||
            !Carry(m_socket, fds[2], toPort, toEndpoint, m_toEndpoint)) {
            break;
        }
    }
    // The device ended the link: the line drops for whoever holds the port.
    CloseFd(m_slave);
    CloseFd(m_master);
    if (m_onHangUp) {
        m_onHangUp();
    }
}

}  // namespace kavri::sim
