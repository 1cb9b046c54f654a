#include "engine/SerialReader.h"

#include "stack/wclExceptions.h"
#include "stack/wclTypes.h"

#include <algorithm>
#include <cerrno>
#include <new>
#include <system_error>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace kavri {

struct SerialReader::State {
    std::unique_ptr<SerialPort> port;
    int stop = -1;  // an eventfd
    MessageWindowHandle window;
    // ReadBuffer bytes, made before the thread starts so that a size the
    // memory cannot hold fails Connect instead of the thread.
    std::vector<std::uint8_t> buffer;

    State() = default;
    State(const State&) = delete;
    State& operator=(const State&) = delete;
    ~State() {
        if (stop >= 0) {
            ::close(stop);
        }
    }
};

SerialReader::SerialReader(std::unique_ptr<SerialPort> port, MessageWindowHandle window,
                           std::uint32_t readBuffer)
    : m_state(std::make_shared<State>()) {
    m_state->port = std::move(port);
    m_state->stop = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_state->stop < 0) {
        throw wclEUnableConnect();
    }
    m_state->window = std::move(window);
    try {
        m_state->buffer.resize(readBuffer);
        m_thread = std::thread([state = m_state] { Run(*state); });
    } catch (const std::bad_alloc&) {
        throw wclEUnableConnect();
    } catch (const std::system_error&) {
        throw wclEUnableConnect();
    }
}

SerialReader::~SerialReader() {
    // Only when a join could not be arranged (the loop was shutting down
    // inside the handler the thread waits for): the thread holds only its own
    // share of the state and ends by itself.
    if (m_thread.joinable()) {
        Stop();
        m_thread.detach();
    }
}

const SerialPort& SerialReader::Port() const {
    return *m_state->port;
}

void SerialReader::Stop() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(m_state->stop, &one, sizeof one);
}

void SerialReader::Join() {
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void SerialReader::Run(State& state) {
    std::vector<std::uint8_t>& buffer = state.buffer;
    const int port = state.port->Fd();
    for (;;) {
        pollfd fds[2] = {{port, POLLIN, 0}, {state.stop, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[1].revents != 0 || (fds[0].revents & POLLNVAL) != 0) {
            return;
        }
        if (fds[0].revents == 0) {
            continue;
        }
        std::fill(buffer.begin(), buffer.end(), std::uint8_t{0});
        const ssize_t count = ::read(port, buffer.data(), buffer.size());
        if (count > 0) {
            // A send that fails means the window is gone: the connection is
            // disconnecting and the stop event follows.
            if (!SendMessage(state.window, wclMsg::kConnectionSerialData,
                             reinterpret_cast<std::uintptr_t>(buffer.data()),
                             static_cast<std::intptr_t>(count))) {
                return;
            }
            continue;
        }
        const bool hungUp = (fds[0].revents & (POLLHUP | POLLERR)) != 0;
        if (count < 0 && (errno == EAGAIN || errno == EINTR) && !hungUp) {
            continue;
        }
        // End of the line (the device went, or the other end of a
        // pseudo-terminal closed): poll would report it again at once, so the
        // reader ends; writes report the failure.
        return;
    }
}

}  // namespace kavri
