// obex_push_host: a virtual device's Object Push server (an accepting device)
// as a program, so that independent OBEX clients can push to it.
//
//   obex_push_host INBOX [--port N] [--mtu N] [--connection-id N] [--count N]
//
// Prints "port N" once it listens, then "stored SIZE PATH" for every object
// kept in INBOX. Exits 0 after COUNT objects (once their links have closed,
// or 10 seconds later), or on SIGTERM or SIGINT; 2 for bad arguments, 1 when
// the server cannot start.
#include "platform/PollEventLoop.h"
#include "sim/ObexPushServer.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

constexpr auto kLingerAfterLastObject = std::chrono::seconds(10);

std::optional<std::uint64_t> ParseNumber(const char* text, std::uint64_t max) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text, &end, 0);
    if (errno != 0 || end == text || *end != '\0' || value > max || text[0] == '-')
        return std::nullopt;
    return value;
}

int Usage(const char* why) {
    std::fprintf(stderr,
                 "obex_push_host: %s\n"
                 "usage: obex_push_host INBOX [--port N] [--mtu N] [--connection-id N] "
                 "[--count N]\n",
                 why);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    using kavri::sim::ObexPushServer;
    std::optional<std::string> inbox;
    ObexPushServer::Options options;
    std::uint64_t count = 0;  // 0: no limit
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--port" || arg == "--mtu" || arg == "--connection-id" || arg == "--count") {
            if (i + 1 >= argc)
                return Usage("missing value");
            const char* text = argv[++i];
            if (arg == "--port") {
                const auto value = ParseNumber(text, 65535);
                if (!value)
                    return Usage("bad port");
                options.port = static_cast<std::uint16_t>(*value);
            } else if (arg == "--mtu") {
                const auto value = ParseNumber(text, 65535);
                if (!value || *value < 255)
                    return Usage("the MTU must be 255 to 65535");
                options.maxPacketLength = static_cast<std::uint16_t>(*value);
            } else if (arg == "--connection-id") {
                const auto value = ParseNumber(text, 0xFFFFFFFF);
                if (!value)
                    return Usage("bad connection id");
                options.connectionId = static_cast<std::uint32_t>(*value);
            } else {
                const auto value = ParseNumber(text, UINT64_MAX);
                if (!value)
                    return Usage("bad count");
                count = *value;
            }
        } else if (!arg.empty() && arg[0] != '-' && !inbox) {
            inbox = std::string(arg);
        } else {
            return Usage("unexpected argument");
        }
    }
    if (!inbox)
        return Usage("no inbox folder");

    // SIGTERM and SIGINT arrive through a signalfd, so the loop ends in order
    // and the server removes its temporary files.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    const int signalFd = signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
    if (signalFd < 0) {
        std::perror("obex_push_host: signalfd");
        return 1;
    }

    try {
        kavri::PollEventLoop loop;
        kavri::sim::DeviceSpec device;
        device.behaviour = kavri::sim::PushBehaviour::Accept;
        ObexPushServer server(loop, device, *inbox, options);

        std::uint64_t stored = 0;
        std::optional<kavri::Clock::TimePoint> doneAt;
        server.OnObjectReceived = [&](const std::string&, const std::filesystem::path& path,
                                      std::uint64_t size) {
            std::printf("stored %llu %s\n", static_cast<unsigned long long>(size), path.c_str());
            std::fflush(stdout);
            if (count != 0 && ++stored >= count && !doneAt)
                doneAt = loop.GetClock().Now();
        };
        loop.WatchFd(signalFd, kavri::EventLoop::kReadable, [&](unsigned) { loop.Quit(); });
        // The last answer is written before the event; the client still reads
        // it and may say DISCONNECT, so wait for its links to close.
        loop.StartTimer(std::chrono::milliseconds(20), true, [&] {
            if (doneAt && (server.LinkCount() == 0 ||
                           loop.GetClock().Now() - *doneAt > kLingerAfterLastObject))
                loop.Quit();
        });

        std::printf("port %u\n", static_cast<unsigned>(server.Port()));
        std::fflush(stdout);
        loop.Run();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "obex_push_host: %s\n", error.what());
        return 1;
    }
    return 0;
}
