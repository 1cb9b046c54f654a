#include "stack/wclBlueZPlatform.h"

#include <cerrno>

#include <bluetooth/bluetooth.h>
#include <bluetooth/l2cap.h>
#include <bluetooth/rfcomm.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kavri::bluez {
namespace {

// The kernel's address layout: least significant byte first.
bdaddr_t KernelAddress(std::uint64_t address) {
    bdaddr_t bytes{};
    for (int i = 0; i < 6; ++i) {
        bytes.b[i] = static_cast<std::uint8_t>(address >> (8 * i));
    }
    return bytes;
}

int KernelConnect(int protocol, std::uint64_t address, std::uint16_t port, int& error) {
    const int type = protocol == kProtocolL2CAP ? SOCK_SEQPACKET : SOCK_STREAM;
    const int fd = ::socket(AF_BLUETOOTH, type | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
    if (fd < 0) {
        error = errno;
        return -1;
    }
    int result = 0;
    if (protocol == kProtocolL2CAP) {
        sockaddr_l2 remote{};
        remote.l2_family = AF_BLUETOOTH;
        remote.l2_psm = htobs(port);
        remote.l2_bdaddr = KernelAddress(address);
        result = ::connect(fd, reinterpret_cast<const sockaddr*>(&remote), sizeof remote);
    } else {
        sockaddr_rc remote{};
        remote.rc_family = AF_BLUETOOTH;
        remote.rc_channel = static_cast<std::uint8_t>(port);
        remote.rc_bdaddr = KernelAddress(address);
        result = ::connect(fd, reinterpret_cast<const sockaddr*>(&remote), sizeof remote);
    }
    if (result != 0 && errno != EINPROGRESS) {
        error = errno;
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

Platform Platform::Load() {
    Platform platform;
    std::unique_ptr<DynamicLibrary> library = DynamicLibrary::Load("bluez");
    // Only an in-process library counts: no file of that name is a stand-in.
    if (library == nullptr || !library->IsInProcess()) {
        return platform;
    }
    const auto busAddress = library->ResolveAs<const char* (*)()>("BusAddress");
    platform.m_connect = library->ResolveAs<ConnectFunction>("Connect");
    const char* address = busAddress != nullptr ? busAddress() : nullptr;
    platform.m_busAddress = address != nullptr ? address : "";
    platform.m_installed = !platform.m_busAddress.empty() && platform.m_connect != nullptr;
    platform.m_library = std::move(library);
    return platform;
}

int Platform::Connect(int protocol, std::uint64_t address, std::uint16_t port, int& error) const {
    if (m_library == nullptr) {
        return KernelConnect(protocol, address, port, error);
    }
    if (m_connect == nullptr) {
        error = ENOSYS;
        return -1;
    }
    int failure = 0;
    const int fd = m_connect(protocol, address, port, &failure);
    if (fd < 0) {
        error = failure != 0 ? failure : EIO;
    }
    return fd;
}

}  // namespace kavri::bluez
