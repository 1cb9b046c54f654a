// What a device's SDP server sends back over the link, as one byte stream:
// the client's reassembly of answers and continuations, then the records.
#include "FuzzCheck.h"

#include "stack/wclExceptions.h"
#include "stack/wclSdpClient.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include <sys/socket.h>
#include <unistd.h>

using namespace kavri;

namespace {

// Fits the socket's buffer, so the whole answer is written before the client
// reads.
constexpr std::size_t kMaxInput = 32 * 1024;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    int fds[2];
    fuzz::Check(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0, "a socket pair");
    const std::size_t length = std::min(size, kMaxInput);
    std::size_t written = 0;
    while (written < length) {
        const ssize_t n = ::send(fds[1], data + written, length - written, MSG_NOSIGNAL);
        fuzz::Check(n > 0, "the answer fits the socket");
        written += static_cast<std::size_t>(n);
    }
    // The server hangs up after its answer: the client never waits for more.
    ::shutdown(fds[1], SHUT_WR);
    try {
        const auto services = SdpQueryServices(fds[0], std::nullopt);
        for (const auto& service : services) {
            fuzz::Check(service.Channel < 32, "a service's channel is below 32");
        }
        fuzz::Check(services.size() <= length, "no more services than bytes");
    } catch (const wclEEnumServices&) {
        // Refused as documented.
    }
    ::close(fds[0]);
    ::close(fds[1]);
    return 0;
}
