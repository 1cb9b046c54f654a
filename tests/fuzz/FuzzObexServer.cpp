// OBEX requests as a client sends them to a virtual device's Object Push
// server, over a loopback link. The input is two bytes that choose the
// device's behaviour and the server's options, then the bytes the client
// sends; the client then closes its side. Time moves on the loop's manual
// clock whenever nothing else happens, so delays and slow links run out.
#include "FuzzCheck.h"
#include "WorkFolder.h"

#include "platform/Clock.h"
#include "platform/PollEventLoop.h"
#include "platform/Text.h"
#include "sim/ObexPushServer.h"
#include "sim/Scenario.h"

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace kavri;
using namespace kavri::sim;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Loop passes with nothing to do before the link must be gone; each moves the
// clock by a second, more than any delay or rate here needs.
constexpr int kMaxIdlePasses = 1000;
// Loop passes in all: a server that keeps waking the loop without getting
// anywhere spins instead of waiting.
constexpr int kMaxPasses = 100000;
// A safety net for a kernel that stalls, never reached in a healthy run.
constexpr auto kRealTimeCap = std::chrono::seconds(20);

const fs::path& WorkFolder() {
    static const fuzz::WorkFolder folder("obex");
    return folder.Path();
}

struct Environment {
    ManualClock clock;
    PollEventLoop loop{clock};
};

// The device and options the first two bytes choose.
DeviceSpec ChooseDevice(std::uint8_t choice, std::uint8_t parameter) {
    DeviceSpec device;
    switch (choice % 6) {
        case 1:
            device.behaviour = PushBehaviour::RefuseObject;
            device.refuseCode = 0xC3;
            break;
        case 2:
            device.behaviour = PushBehaviour::RefuseConnection;
            break;
        case 3:
            device.behaviour = PushBehaviour::NeverAnswer;
            break;
        case 4:
            device.behaviour = PushBehaviour::DropAfterBytes;
            device.dropAfterBytes = std::uint64_t{parameter} * 16 + 1;
            break;
        default:
            device.behaviour = PushBehaviour::Accept;
            break;
    }
    if ((choice & 0x08) != 0)
        device.answerDelayMs = 1500;
    if ((choice & 0x10) != 0)
        device.linkRateBytesPerSecond = 4096;
    return device;
}

ObexPushServer::Options ChooseOptions(std::uint8_t choice) {
    ObexPushServer::Options options;
    if ((choice & 0x20) != 0)
        options.connectionId = 0x01020304;
    if ((choice & 0x40) != 0)
        options.maxPacketLength = 255;
    if ((choice & 0x80) != 0)
        options.maxObjectBytes = 1000;
    return options;
}

int ConnectTo(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    fuzz::Check(fd >= 0, "a client socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // Loopback connects complete from the listen backlog, without the loop.
    fuzz::Check(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0,
                "a loopback connect");
    ::fcntl(fd, F_SETFL, O_NONBLOCK);
    return fd;
}

// Whatever has arrived, without waiting; false once the server closed its side.
bool ReceiveAvailable(int fd, std::vector<std::uint8_t>& responses) {
    std::uint8_t buffer[4096];
    for (;;) {
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got > 0) {
            responses.insert(responses.end(), buffer, buffer + got);
            continue;
        }
        return got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
    }
}

// Responses are whole packets with a final response code.
void CheckResponses(const std::vector<std::uint8_t>& responses) {
    std::size_t position = 0;
    while (position < responses.size()) {
        fuzz::Check(responses.size() - position >= 3, "responses are whole packets");
        fuzz::Check((responses[position] & 0x80) != 0, "every response is final");
        const std::size_t length =
            (std::size_t{responses[position + 1]} << 8) | responses[position + 2];
        fuzz::Check(length >= 3 && length <= responses.size() - position,
                    "responses are whole packets");
        position += length;
    }
}

void CheckSafeName(std::string_view name) {
    const std::string safe = ObexPushServer::SafeFileName(name);
    fuzz::Check(!safe.empty() && safe.size() <= ObexPushServer::kMaxFileNameBytes,
                "a stored name is one short name");
    fuzz::Check(safe.find('/') == std::string::npos && safe.front() != '.',
                "a stored name is a plain visible file name");
    fuzz::Check(IsValidUtf8(safe), "a stored name is UTF-8");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Environment environment;
    fuzz::InputReader input(data, size);
    const std::uint8_t choice = input.Byte();
    const std::uint8_t parameter = input.Byte();
    const std::string_view stream = input.Rest();
    CheckSafeName(stream.substr(0, 600));

    const fs::path root = WorkFolder();
    const fs::path inbox = root / "inbox";
    std::error_code error;
    fs::remove_all(inbox, error);

    std::size_t stored = 0;
    {
        ObexPushServer server(environment.loop, ChooseDevice(choice, parameter), inbox,
                              ChooseOptions(choice));
        server.OnObjectReceived = [&stored, &inbox](const std::string&, const fs::path& path,
                                                    std::uint64_t) {
            fuzz::Check(path.parent_path() == inbox, "objects are stored in the inbox");
            ++stored;
        };
        const int fd = ConnectTo(server.Port());
        std::vector<std::uint8_t> responses;
        std::size_t sent = 0;
        bool shut = false;
        bool open = true;
        int idle = 0;
        int passes = 0;
        const auto end = std::chrono::steady_clock::now() + kRealTimeCap;
        while (server.LinkCount() > 0 || server.GetCounters().linksAccepted == 0) {
            fuzz::Check(idle < kMaxIdlePasses && ++passes < kMaxPasses &&
                            std::chrono::steady_clock::now() < end,
                        "the server ends the link once the client has gone");
            bool progress = false;
            if (sent < stream.size()) {
                const ssize_t n =
                    ::send(fd, stream.data() + sent, stream.size() - sent, MSG_NOSIGNAL);
                if (n > 0) {
                    sent += static_cast<std::size_t>(n);
                    progress = true;
                } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                    sent = stream.size();  // the server closed the link
                }
            } else if (!shut) {
                ::shutdown(fd, SHUT_WR);
                shut = true;
                progress = true;
            }
            const std::size_t before = responses.size();
            if (open)
                open = ReceiveAvailable(fd, responses);
            progress = progress || responses.size() != before;
            if (environment.loop.ProcessEvents(0ms) || progress) {
                idle = 0;
            } else {
                ++idle;
                environment.clock.Advance(1s);
            }
        }
        if (open)
            ReceiveAvailable(fd, responses);
        ::close(fd);
        CheckResponses(responses);
        fuzz::Check(server.GetCounters().objectsReceived == stored, "each object is told once");
    }

    // Only finished objects stay, and only in the inbox.
    std::size_t files = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(inbox, error)) {
        fuzz::Check(entry.path().filename().string().front() != '.',
                    "no partial object stays once its link is gone");
        ++files;
    }
    fuzz::Check(files == stored, "every stored object is one file");
    for (const fs::directory_entry& entry : fs::directory_iterator(root, error))
        fuzz::Check(entry.path() == inbox, "nothing is written beside the inbox");
    return 0;
}
