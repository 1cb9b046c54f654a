#include "sim/TcpEndpoint.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <unistd.h>

namespace kavri::sim {

std::optional<TcpEndpoint> ParseEndpoint(std::string_view text) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos || colon + 1 >= text.size()) {
        return std::nullopt;
    }
    std::string host(text.substr(0, colon));
    const std::string_view portText = text.substr(colon + 1);
    unsigned port = 0;
    for (const char c : portText) {
        if (c < '0' || c > '9' || portText.size() > 5) {
            return std::nullopt;
        }
        port = port * 10 + static_cast<unsigned>(c - '0');
    }
    if (port == 0 || port > 65535) {
        return std::nullopt;
    }
    TcpEndpoint endpoint;
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        sockaddr_in6 v6{};
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(static_cast<std::uint16_t>(port));
        if (::inet_pton(AF_INET6, host.substr(1, host.size() - 2).c_str(), &v6.sin6_addr) != 1) {
            return std::nullopt;
        }
        std::memcpy(&endpoint.address, &v6, sizeof v6);
        endpoint.length = sizeof v6;
        return endpoint;
    }
    if (host == "localhost") {
        host = "127.0.0.1";
    }
    sockaddr_in v4{};
    v4.sin_family = AF_INET;
    v4.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::inet_pton(AF_INET, host.c_str(), &v4.sin_addr) != 1) {
        return std::nullopt;
    }
    std::memcpy(&endpoint.address, &v4, sizeof v4);
    endpoint.length = sizeof v4;
    return endpoint;
}

int ConnectWithoutWaiting(std::string_view endpoint, int& error) {
    const std::optional<TcpEndpoint> target = ParseEndpoint(endpoint);
    if (!target) {
        error = EINVAL;
        return -1;
    }
    const int fd =
        ::socket(target->address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = errno;
        return -1;
    }
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&target->address), target->length) != 0 &&
        errno != EINPROGRESS) {
        error = errno;
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace kavri::sim
