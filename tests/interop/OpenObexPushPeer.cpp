// openobex_push_peer: an Object Push server whose protocol engine is
// libopenobex, the independent peer that our OBEX client is checked against.
//
//   openobex_push_peer INBOX [--port N] [--mtu N] [--count N] [--idle-seconds N]
//
// Listens on 127.0.0.1 (an ephemeral port unless --port is given) and prints
// "port N" once it listens. Serves one connection after another; every
// object put to it is written to INBOX under its OBEX name (reduced to a
// plain file name, replacing an older one) and reported as "stored SIZE PATH". --mtu sets the
// maximum packet length it announces (default 65535). Exits 0 after COUNT objects once that link
// has closed, or when killed; a link that stays silent for
// --idle-seconds (default 30) is dropped. 2 for bad arguments, 1 when it
// cannot listen.
//
// We own the listening socket and hand each accepted link to libopenobex as a
// file-descriptor transport: its own TCP server binds port 650 when asked for
// an ephemeral one.
#include <openobex/obex.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include <arpa/inet.h>
#include <fcntl.h>
#include <iconv.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

// libopenobex keeps a small allocation of every file-descriptor transport
// that OBEX_Cleanup does not free; a sanitizer build of this peer must not
// fail on a leak that is not ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libopenobex.so\n";
}

namespace {

// The Name header: identifier 0x01, Unicode text.
constexpr std::uint8_t kNameHeader = 0x01;

struct Session {
    std::string inbox;
    bool linkDone = false;
    std::uint64_t stored = 0;
    // The object being received.
    int tempFd = -1;
    std::string tempPath;
    std::uint64_t size = 0;
    bool hasBody = false;
    bool failed = false;
};

std::optional<unsigned long> ParseNumber(const char* text, unsigned long max) {
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text, &end, 0);
    if (errno != 0 || end == text || *end != '\0' || value > max || text[0] == '-')
        return std::nullopt;
    return value;
}

int Usage(const char* why) {
    std::fprintf(stderr,
                 "openobex_push_peer: %s\n"
                 "usage: openobex_push_peer INBOX [--port N] [--mtu N] [--count N] "
                 "[--idle-seconds N]\n",
                 why);
    return 2;
}

// UTF-16BE (with or without its terminator) to UTF-8, by iconv.
std::string NameFromUnicode(const std::uint8_t* bytes, std::uint32_t size) {
    while (size >= 2 && bytes[size - 2] == 0 && bytes[size - 1] == 0)
        size -= 2;
    std::string out(static_cast<std::size_t>(size) * 2 + 4, '\0');
    iconv_t cd = iconv_open("UTF-8", "UTF-16BE");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::string();
    char* in = const_cast<char*>(reinterpret_cast<const char*>(bytes));
    std::size_t inLeft = size;
    char* outPtr = out.data();
    std::size_t outLeft = out.size();
    const std::size_t result = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    if (result == static_cast<std::size_t>(-1))
        return std::string();
    out.resize(out.size() - outLeft);
    return out;
}

// The last path component, never "." or ".." or empty.
std::string PlainFileName(std::string name) {
    const auto slash = name.find_last_of("/\\");
    if (slash != std::string::npos)
        name.erase(0, slash + 1);
    if (name.empty() || name == "." || name == "..")
        name = "object";
    return name;
}

// The object of the PUT in progress, written to a hidden file of the inbox
// as its body streams in and renamed to its name once complete.
void DiscardIncoming(Session& session) {
    if (session.tempFd >= 0)
        ::close(session.tempFd);
    if (!session.tempPath.empty())
        ::unlink(session.tempPath.c_str());
    session.tempFd = -1;
    session.tempPath.clear();
    session.size = 0;
    session.hasBody = false;
    session.failed = false;
}

bool OpenIncoming(Session& session) {
    std::string pattern = session.inbox + "/.peer-incoming-XXXXXX";
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    ::fchmod(fd, 0644);
    session.tempFd = fd;
    session.tempPath = pattern;
    return true;
}

void ReceiveBody(obex_t* handle, obex_object_t* object, Session& session) {
    const std::uint8_t* data = nullptr;
    const int length = OBEX_ObjectReadStream(handle, object, &data);
    if (length < 0 || session.failed)
        return;
    session.hasBody = true;
    if (session.tempFd < 0 && !OpenIncoming(session)) {
        session.failed = true;
        return;
    }
    std::size_t left = static_cast<std::size_t>(length);
    while (left > 0) {
        const ssize_t written = ::write(session.tempFd, data, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            session.failed = true;
            return;
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    session.size += static_cast<std::uint64_t>(length);
}

void FinishPut(obex_t* handle, obex_object_t* object, Session& session) {
    std::string name;
    std::uint8_t id = 0;
    obex_headerdata_t value;
    std::uint32_t size = 0;
    while (OBEX_ObjectGetNextHeader(handle, object, &id, &value, &size) > 0) {
        // OBEX_HDR_NAME ors two enumerations, which clang refuses under -Werror.
        if (id == kNameHeader && name.empty())
            name = NameFromUnicode(value.bs, size);
    }
    if (!session.hasBody) {
        // A PUT without a body deletes; this server has nothing to delete.
        DiscardIncoming(session);
        OBEX_ObjectSetRsp(object, OBEX_RSP_FORBIDDEN, OBEX_RSP_FORBIDDEN);
        return;
    }
    const std::string path = session.inbox + "/" + PlainFileName(name);
    const bool opened = session.tempFd >= 0 || OpenIncoming(session);
    const bool closed = opened && ::close(session.tempFd) == 0;
    session.tempFd = -1;
    if (session.failed || !closed || ::rename(session.tempPath.c_str(), path.c_str()) != 0) {
        DiscardIncoming(session);
        OBEX_ObjectSetRsp(object, OBEX_RSP_INTERNAL_SERVER_ERROR, OBEX_RSP_INTERNAL_SERVER_ERROR);
        return;
    }
    session.tempPath.clear();
    ++session.stored;
    std::printf("stored %llu %s\n", static_cast<unsigned long long>(session.size), path.c_str());
    std::fflush(stdout);
    DiscardIncoming(session);
}

void OnObexEvent(obex_t* handle, obex_object_t* object, int /*mode*/, int event, int command,
                 int /*response*/) {
    Session& session = *static_cast<Session*>(OBEX_GetUserData(handle));
    switch (event) {
        case OBEX_EV_REQHINT:
            // Decide which requests to take before their bodies arrive.
            switch (command) {
                case OBEX_CMD_PUT:
                    // Bodies arrive piece by piece (STREAMAVAIL) instead of
                    // being gathered in memory.
                    DiscardIncoming(session);
                    OBEX_ObjectReadStream(handle, object, nullptr);
                    OBEX_ObjectSetRsp(object, OBEX_RSP_CONTINUE, OBEX_RSP_SUCCESS);
                    break;
                case OBEX_CMD_CONNECT:
                case OBEX_CMD_DISCONNECT:
                    OBEX_ObjectSetRsp(object, OBEX_RSP_CONTINUE, OBEX_RSP_SUCCESS);
                    break;
                default:
                    OBEX_ObjectSetRsp(object, OBEX_RSP_NOT_IMPLEMENTED, OBEX_RSP_NOT_IMPLEMENTED);
                    break;
            }
            break;
        case OBEX_EV_STREAMAVAIL:
            ReceiveBody(handle, object, session);
            break;
        case OBEX_EV_REQ:
            if (command == OBEX_CMD_PUT)
                FinishPut(handle, object, session);
            break;
        case OBEX_EV_ABORT:
            DiscardIncoming(session);
            break;
        case OBEX_EV_LINKERR:
        case OBEX_EV_PARSEERR:
            DiscardIncoming(session);
            session.linkDone = true;
            break;
        default:
            break;
    }
}

// Serves one accepted link until it closes, breaks or stays idle too long.
void ServeLink(int fd, std::uint16_t mtu, int idleSeconds, Session& session) {
    obex_t* handle = OBEX_Init(OBEX_TRANS_FD, OnObexEvent, 0);
    if (handle == nullptr) {
        ::close(fd);
        return;
    }
    session.linkDone = false;
    OBEX_SetUserData(handle, &session);
    OBEX_SetTransportMTU(handle, mtu, mtu);
    if (FdOBEX_TransportSetup(handle, fd, fd, mtu) < 0) {
        OBEX_Cleanup(handle);
        ::close(fd);
        return;
    }
    int idle = 0;
    while (!session.linkDone && idle < idleSeconds) {
        // 0: nothing within the second; below 0: the link is gone.
        const int result = OBEX_HandleInput(handle, 1);
        if (result < 0)
            break;
        idle = result == 0 ? idle + 1 : 0;
    }
    OBEX_Cleanup(handle);
    ::close(fd);
    DiscardIncoming(session);  // a link that went mid-object
}

}  // namespace

int main(int argc, char** argv) {
    Session session;
    bool haveInbox = false;
    std::uint16_t port = 0;
    std::uint16_t mtu = 65535;
    unsigned long count = 0;
    int idleSeconds = 30;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--port" || arg == "--mtu" || arg == "--count" || arg == "--idle-seconds") {
            if (i + 1 >= argc)
                return Usage("missing value");
            const auto value = ParseNumber(argv[++i], arg == "--count" ? 1000000000UL : 65535UL);
            if (!value)
                return Usage("bad number");
            if (arg == "--port") {
                port = static_cast<std::uint16_t>(*value);
            } else if (arg == "--mtu") {
                if (*value < OBEX_MINIMUM_MTU)
                    return Usage("the MTU must be 255 to 65535");
                mtu = static_cast<std::uint16_t>(*value);
            } else if (arg == "--count") {
                count = *value;
            } else {
                idleSeconds = static_cast<int>(*value);
            }
        } else if (!arg.empty() && arg[0] != '-' && !haveInbox) {
            session.inbox = std::string(arg);
            haveInbox = true;
        } else {
            return Usage("unexpected argument");
        }
    }
    if (!haveInbox)
        return Usage("no inbox folder");

    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener < 0 ||
        ::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 8) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::perror("openobex_push_peer: listen");
        return 1;
    }
    std::printf("port %u\n", static_cast<unsigned>(ntohs(address.sin_port)));
    std::fflush(stdout);

    while (count == 0 || session.stored < count) {
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            std::perror("openobex_push_peer: accept");
            return 1;
        }
        ServeLink(fd, mtu, idleSeconds, session);
    }
    ::close(listener);
    return 0;
}
