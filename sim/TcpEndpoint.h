#pragma once

#include <optional>
#include <string_view>

#include <sys/socket.h>

namespace kavri::sim {

// The TCP endpoints that stand behind the virtual devices' services: an
// address from "a.b.c.d:port", "[v6]:port" or "localhost:port" (no name
// lookups), and a connect that does not wait. Pure functions, any thread.
struct TcpEndpoint {
    sockaddr_storage address{};
    socklen_t length = 0;
};

std::optional<TcpEndpoint> ParseEndpoint(std::string_view text);

// A non-blocking, close-on-exec TCP socket whose connect to the endpoint is
// under way or done, or -1 with error set to an errno value (EINVAL for an
// endpoint text that does not parse).
int ConnectWithoutWaiting(std::string_view endpoint, int& error);

}  // namespace kavri::sim
