#include "host/StopSignals.h"

#include <atomic>
#include <cerrno>
#include <stdexcept>
#include <system_error>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace kavri::host {

namespace {

// The pipe end the handler writes to, -1 while no StopSignals lives. Read in
// the handler, so it must be lock-free.
std::atomic<int> g_signalPipe{-1};
static_assert(std::atomic<int>::is_always_lock_free);
std::atomic<bool> g_signalsInstalled{false};
struct sigaction g_previousInt {};
struct sigaction g_previousTerm {};

extern "C" void OnStopSignal(int) {
    const int saved = errno;
    const int fd = g_signalPipe.load();
    if (fd >= 0) {
        const char byte = 1;
        // A full pipe already says that a signal came.
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
    errno = saved;
}

}  // namespace

StopSignals::StopSignals() {
    bool expected = false;
    if (!g_signalsInstalled.compare_exchange_strong(expected, true)) {
        throw std::logic_error("stop signals are already being watched");
    }
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        const int error = errno;
        g_signalsInstalled = false;
        throw std::system_error(error, std::generic_category(), "cannot make the signal pipe");
    }
    m_readFd = fds[0];
    m_writeFd = fds[1];
    g_signalPipe = m_writeFd;

    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // Interrupted system calls resume; the loop learns of the signal by the pipe.
    action.sa_flags = SA_RESTART;
    if (::sigaction(SIGINT, &action, &g_previousInt) != 0 ||
        ::sigaction(SIGTERM, &action, &g_previousTerm) != 0) {
        const int error = errno;
        ::sigaction(SIGINT, &g_previousInt, nullptr);
        g_signalPipe = -1;
        ::close(m_readFd);
        ::close(m_writeFd);
        g_signalsInstalled = false;
        throw std::system_error(error, std::generic_category(), "cannot catch stop signals");
    }
}

StopSignals::~StopSignals() {
    ::sigaction(SIGTERM, &g_previousTerm, nullptr);
    ::sigaction(SIGINT, &g_previousInt, nullptr);
    g_signalPipe = -1;
    ::close(m_readFd);
    ::close(m_writeFd);
    g_signalsInstalled = false;
}

bool StopSignals::Take() {
    bool signalled = false;
    char buffer[64];
    // Bounded: the pipe is non-blocking and holds what few signals came.
    for (int i = 0; i < 1024; ++i) {
        const ssize_t n = ::read(m_readFd, buffer, sizeof buffer);
        if (n > 0) {
            signalled = true;
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        break;
    }
    return signalled;
}

}  // namespace kavri::host
