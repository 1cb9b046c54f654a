#include "engine/wclConnections.h"

#include "platform/DynamicLibrary.h"
#include "platform/Text.h"
#include "stack/wclBluetoothAddress.h"
#include "stack/wclExceptions.h"
#include "stack/wclTypes.h"
#include "stack/wclWinsockApi.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace kavri {

namespace {

using namespace winsock;

constexpr std::array<std::uint32_t, 15> kBaudRates = {
    110,   300,   600,   1200,  2400,   4800,   9600,   14400,
    19200, 38400, 56000, 57600, 115200, 128000, 256000,
};

// ---- Serial port paths -----------------------------------------------------

std::mutex& SerialPathMutex() {
    static std::mutex mutex;
    return mutex;
}

std::map<std::uint32_t, std::string>& SerialPathMap() {
    static std::map<std::uint32_t, std::string> paths;
    return paths;
}

// ---- Winsock entry points --------------------------------------------------

// The socket calls of one open link, resolved by name; the library stays
// loaded as long as the link.
struct SocketApi {
    std::unique_ptr<DynamicLibrary> library;
    PFN_socket openSocket = nullptr;
    PFN_closesocket closeSocket = nullptr;
    PFN_setsockopt setOption = nullptr;
    PFN_connect connect = nullptr;
    PFN_send send = nullptr;
    PFN_recv recv = nullptr;
    PFN_WSAAsyncSelect asyncSelect = nullptr;
    PFN_WSAStringToAddressW stringToAddress = nullptr;
    PFN_WSAGetLastError lastError = nullptr;

    // wclEUnableConnect when the library or one of its entry points is missing.
    static std::unique_ptr<SocketApi> Load() {
        auto api = std::make_unique<SocketApi>();
        api->library = DynamicLibrary::Load("ws2_32.dll");
        if (api->library == nullptr) {
            throw wclEUnableConnect();
        }
        const DynamicLibrary& lib = *api->library;
        api->openSocket = lib.ResolveAs<PFN_socket>("socket");
        api->closeSocket = lib.ResolveAs<PFN_closesocket>("closesocket");
        api->setOption = lib.ResolveAs<PFN_setsockopt>("setsockopt");
        api->connect = lib.ResolveAs<PFN_connect>("connect");
        api->send = lib.ResolveAs<PFN_send>("send");
        api->recv = lib.ResolveAs<PFN_recv>("recv");
        api->asyncSelect = lib.ResolveAs<PFN_WSAAsyncSelect>("WSAAsyncSelect");
        api->stringToAddress = lib.ResolveAs<PFN_WSAStringToAddressW>("WSAStringToAddressW");
        api->lastError = lib.ResolveAs<PFN_WSAGetLastError>("WSAGetLastError");
        if (api->openSocket == nullptr || api->closeSocket == nullptr ||
            api->setOption == nullptr || api->connect == nullptr || api->send == nullptr ||
            api->recv == nullptr || api->asyncSelect == nullptr ||
            api->stringToAddress == nullptr || api->lastError == nullptr) {
            throw wclEUnableConnect();
        }
        return api;
    }

    void SetDword(SOCKET socket, INT level, INT name, DWORD value) const {
        if (setOption(socket, level, name, reinterpret_cast<const char*>(&value),
                      static_cast<INT>(sizeof value)) == kSocketError) {
            throw wclEUnableConnect();
        }
    }
};

// The connect failures of a socket, as the connection reports them.
wclResult SocketErrorToResult(unsigned error) {
    switch (static_cast<INT>(error)) {
        case kWsaEAcces:
            return kWclErrAccessDenied;
        case kWsaEAddrInUse:
        case kWsaEIsConn:
            return kWclErrConnectionExists;
        case kWsaEAddrNotAvail:
            return kWclErrAddressNotAvailable;
        case kWsaEConnAborted:
            return kWclErrConnectionClosed;
        case kWsaETimedOut:
            return kWclErrTimeout;
        default:
            return kWclErrUnableConnect;
    }
}

// ---- Serial line settings --------------------------------------------------

speed_t StandardSpeed(std::uint32_t rate) {
    switch (rate) {
        case 50:
            return B50;
        case 75:
            return B75;
        case 110:
            return B110;
        case 134:
            return B134;
        case 150:
            return B150;
        case 200:
            return B200;
        case 300:
            return B300;
        case 600:
            return B600;
        case 1200:
            return B1200;
        case 1800:
            return B1800;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        case 230400:
            return B230400;
        case 460800:
            return B460800;
        case 500000:
            return B500000;
        case 576000:
            return B576000;
        case 921600:
            return B921600;
        case 1000000:
            return B1000000;
        case 1152000:
            return B1152000;
        case 1500000:
            return B1500000;
        case 2000000:
            return B2000000;
        case 2500000:
            return B2500000;
        case 3000000:
            return B3000000;
        case 3500000:
            return B3500000;
        case 4000000:
            return B4000000;
        default:
            return B0;
    }
}

#if defined(__x86_64__) || defined(__aarch64__) || defined(__i386__) || defined(__arm__) || \
    defined(__riscv)
// The kernel's own termios record, through which a driver takes a rate that has
// no B constant (14400, 56000, 128000, 256000, custom values). Declared here
// because the kernel header that has it clashes with <termios.h>.
struct KernelTermios2 {
    tcflag_t c_iflag;
    tcflag_t c_oflag;
    tcflag_t c_cflag;
    tcflag_t c_lflag;
    cc_t c_line;
    cc_t c_cc[19];
    speed_t c_ispeed;
    speed_t c_ospeed;
};
static_assert(sizeof(KernelTermios2) == 44);
constexpr tcflag_t kCBaud = 0010017;
constexpr tcflag_t kBOther = 0010000;
constexpr unsigned kIBaudShift = 16;

bool SetCustomSpeed(int fd, std::uint32_t rate) {
    KernelTermios2 tio{};
    if (::ioctl(fd, _IOR('T', 0x2A, KernelTermios2), &tio) != 0) {
        return false;
    }
    tio.c_cflag &= ~(kCBaud | (kCBaud << kIBaudShift));
    tio.c_cflag |= kBOther | (kBOther << kIBaudShift);
    tio.c_ispeed = rate;
    tio.c_ospeed = rate;
    return ::ioctl(fd, _IOW('T', 0x2B, KernelTermios2), &tio) == 0;
}
#else
bool SetCustomSpeed(int, std::uint32_t) {
    return false;
}
#endif

// Applies the line settings; false when the device refuses them.
bool ConfigureLine(int fd, const TwclSerialPortClientParams& params) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        return false;
    }
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    tio.c_cflag |= CLOCAL | CREAD;
    switch (params.ByteSize()) {
        case TwclByteSize::bs4:
            return false;  // no driver here sends 4-bit characters
        case TwclByteSize::bs5:
            tio.c_cflag |= CS5;
            break;
        case TwclByteSize::bs6:
            tio.c_cflag |= CS6;
            break;
        case TwclByteSize::bs7:
            tio.c_cflag |= CS7;
            break;
        case TwclByteSize::bs8:
            tio.c_cflag |= CS8;
            break;
    }
    switch (params.Parity()) {
        case TwclParity::paNone:
            break;
        case TwclParity::paOdd:
            tio.c_cflag |= PARENB | PARODD;
            break;
        case TwclParity::paEven:
            tio.c_cflag |= PARENB;
            break;
        case TwclParity::paMark:
            tio.c_cflag |= PARENB | CMSPAR | PARODD;
            break;
        case TwclParity::paSpace:
            tio.c_cflag |= PARENB | CMSPAR;
            break;
    }
    // There is no 1.5 on this system: both sb15 and sb2 set two stop bits,
    // which a UART sends as 1.5 with five data bits.
    if (params.StopBits() != TwclStopBits::sb1) {
        tio.c_cflag |= CSTOPB;
    }
    // Reads return what is there at once; the reader thread waits in poll.
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    const speed_t speed = StandardSpeed(params.BaudRateValue());
    if (speed != B0 && ::cfsetspeed(&tio, speed) != 0) {
        return false;
    }
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        return false;
    }
    return speed != B0 || SetCustomSpeed(fd, params.BaudRateValue());
}

void CloseFd(int fd) {
    if (fd >= 0) {
        ::close(fd);
    }
}

}  // namespace

std::string SerialPortPath(std::uint32_t port) {
    {
        std::lock_guard lock(SerialPathMutex());
        const auto found = SerialPathMap().find(port);
        if (found != SerialPathMap().end()) {
            return found->second;
        }
    }
    const std::string variable = "KAVRI_SERIAL_PORT_" + std::to_string(port);
    if (const char* value = std::getenv(variable.c_str()); value != nullptr && *value != '\0') {
        return value;
    }
    return "/dev/ttyS" + std::to_string(port == 0 ? 0 : port - 1);
}

void SetSerialPortPath(std::uint32_t port, const std::string& path) {
    std::lock_guard lock(SerialPathMutex());
    if (path.empty()) {
        SerialPathMap().erase(port);
    } else {
        SerialPathMap()[port] = path;
    }
}

// ---- Parameters --------------------------------------------------------------

void TwclCustomParams::CheckNotActive() const {
    if (m_owner.Active()) {
        throw wclEConnectionActive();
    }
}

void TwclTimeouts::SetReadTimeout(std::uint32_t ms) {
    if (ms == m_readTimeout) {
        return;
    }
    CheckNotActive();
    if (ms == 0) {
        throw wclEInvalidTimeout();
    }
    m_readTimeout = ms;
}

void TwclTimeouts::SetWriteTimeout(std::uint32_t ms) {
    if (ms == m_writeTimeout) {
        return;
    }
    CheckNotActive();
    if (ms == 0) {
        throw wclEInvalidTimeout();
    }
    m_writeTimeout = ms;
}

void TwclBuffers::SetReadBuffer(std::uint32_t bytes) {
    if (bytes == m_readBuffer) {
        return;
    }
    CheckNotActive();
    if (bytes == 0) {
        throw wclEInvalidBuffer();
    }
    m_readBuffer = bytes;
}

void TwclBuffers::SetWriteBuffer(std::uint32_t bytes) {
    if (bytes == m_writeBuffer) {
        return;
    }
    CheckNotActive();
    if (bytes == 0) {
        throw wclEInvalidBuffer();
    }
    m_writeBuffer = bytes;
}

void TwclSerialPortClientParams::SetBaudRate(TwclBaudRate value) {
    if (value == m_baudRate) {
        return;
    }
    CheckNotActive();
    m_baudRate = value;
    const auto index = static_cast<std::size_t>(value);
    if (index < kBaudRates.size()) {
        m_baudRateValue = kBaudRates[index];
    }
}

void TwclSerialPortClientParams::SetBaudRateValue(std::uint32_t value) {
    if (value == m_baudRateValue) {
        return;
    }
    CheckNotActive();
    if (value == 0) {
        throw wclEInvalidBaudRateValue();
    }
    m_baudRateValue = value;
    const auto found = std::find(kBaudRates.begin(), kBaudRates.end(), value);
    m_baudRate = found == kBaudRates.end()
                     ? TwclBaudRate::brCustom
                     : static_cast<TwclBaudRate>(std::distance(kBaudRates.begin(), found));
}

void TwclSerialPortClientParams::SetByteSize(TwclByteSize value) {
    if (value == m_byteSize) {
        return;
    }
    CheckNotActive();
    m_byteSize = value;
}

void TwclSerialPortClientParams::SetParity(TwclParity value) {
    if (value == m_parity) {
        return;
    }
    CheckNotActive();
    m_parity = value;
}

void TwclSerialPortClientParams::SetPort(std::uint32_t value) {
    if (value == m_port) {
        return;
    }
    CheckNotActive();
    if (value == 0) {
        throw wclEInvalidSerialPortNumber();
    }
    m_port = value;
}

void TwclSerialPortClientParams::SetStopBits(TwclStopBits value) {
    if (value == m_stopBits) {
        return;
    }
    CheckNotActive();
    m_stopBits = value;
}

void TwclBluetoothParams::SetAuthentication(bool value) {
    if (value == m_authentication) {
        return;
    }
    CheckNotActive();
    m_authentication = value;
    if (!value) {
        m_encryption = false;  // encryption needs an authenticated link
    }
}

void TwclBluetoothParams::SetChannel(unsigned value) {
    if (value == m_channel) {
        return;
    }
    CheckNotActive();
    if (value >= 32) {
        throw wclEInvalidChannel();
    }
    m_channel = static_cast<std::uint8_t>(value);
}

void TwclBluetoothParams::SetEncryption(bool value) {
    if (value == m_encryption) {
        return;
    }
    CheckNotActive();
    if (value && !m_authentication) {
        throw wclEInvalidEncrytpionFlag();
    }
    m_encryption = value;
}

void TwclBluetoothParams::SetRadio(const TwclBluetoothRadio* radio) {
    const bool same = radio == nullptr ? m_radio == nullptr
                                       : m_radio != nullptr && m_radio->API() == radio->API();
    if (same) {
        return;
    }
    CheckNotActive();
    m_radio.reset();
    if (radio != nullptr) {
        m_radio = std::make_unique<TwclBluetoothRadio>(radio->API());
    }
}

void TwclBluetoothParams::SetServiceUUID(const GUID& uuid) {
    if (std::memcmp(&uuid, &m_serviceUUID, sizeof uuid) == 0) {
        return;
    }
    CheckNotActive();
    m_serviceUUID = uuid;
}

void TwclBluetoothParams::SetServiceName(const std::string& name) {
    if (name == m_serviceName) {
        return;
    }
    CheckNotActive();
    m_serviceName = name;
}

void TwclBluetoothClientParams::SetAddress(const std::string& address) {
    if (address == m_address) {
        return;
    }
    CheckNotActive();
    ValidateAddress(address);
    m_address = address;
}

void TwclIrDAParams::SetService(const std::string& service) {
    if (service == m_service) {
        return;
    }
    CheckNotActive();
    if (service.empty()) {
        throw wclEInvalidIrDAService();
    }
    m_service = service;
}

void TwclIrDAClientParams::SetAddress(const std::string& address) {
    if (address == m_address) {
        return;
    }
    CheckNotActive();
    ValidateIrDAAddress(address);
    m_address = address;
}

// ---- TwclCustomConnection ----------------------------------------------------

TwclCustomConnection::TwclCustomConnection(EventLoop& loop) : m_loop(loop) {}

TwclCustomConnection::~TwclCustomConnection() {
    // Normally gone already (DestroyingDisconnect); never leave a window whose
    // handler points at a dead object.
    if (m_window) {
        ProcessNotificationList().Remove(m_window->Handle());
        m_window.reset();
    }
}

MessageWindowHandle TwclCustomConnection::WindowHandle() const {
    return m_window ? m_window->Handle() : MessageWindowHandle();
}

void TwclCustomConnection::Connect() {
    if (m_connected) {
        throw wclEConnectionExists();
    }
    if (m_active) {
        throw wclEConnectionActive();
    }
    CheckTransport(Transport());
    if (!m_window) {
        m_window = std::make_unique<MessageWindow>(m_loop, [this](const Message& message) {
            // The window passes what escapes to the application's handler too;
            // catching here keeps that promise whatever a subclass does.
            try {
                WndProc(message);
            } catch (...) {
                HandleApplicationException(std::current_exception());
            }
        });
    }
    ProcessNotificationList().Add(m_window->Handle());
    m_active = true;
    const std::weak_ptr<void> life = m_lifeToken;
    try {
        InternalConnect();
    } catch (...) {
        if (!life.expired() && m_active) {
            m_active = false;
            m_connected = false;
            if (m_window) {
                ProcessNotificationList().Remove(m_window->Handle());
                m_window.reset();
            }
            WindowReleased();
        }
        throw;
    }
}

void TwclCustomConnection::Disconnect() {
    if (!m_active) {
        return;
    }
    if (m_inDisconnect) {
        // Destroyed from inside OnDisconnect: finish here, quietly, because the
        // outer call must not touch the connection again.
        if (m_destroying) {
            FinishDisconnect();
        }
        return;
    }
    m_inDisconnect = true;
    if (m_connected && OnDisconnect) {
        const std::weak_ptr<void> life = m_lifeToken;
        try {
            OnDisconnect(*this);
        } catch (...) {
            if (life.expired()) {
                throw;
            }
            FinishDisconnect();
            throw;
        }
        if (life.expired()) {
            return;
        }
    }
    FinishDisconnect();
}

void TwclCustomConnection::DestroyingDisconnect() {
    m_destroying = true;
    Disconnect();
}

void TwclCustomConnection::FinishDisconnect() {
    // Whatever the transport says, the connection ends Idle.
    struct Finally {
        TwclCustomConnection& self;
        ~Finally() {
            if (self.m_window) {
                ProcessNotificationList().Remove(self.m_window->Handle());
                self.m_window.reset();
            }
            self.m_active = false;
            self.m_connected = false;
            self.m_inDisconnect = false;
            self.WindowReleased();
        }
    } finally{*this};
    BeforeDisconnect();
    InternalDisconnect();
}

void TwclCustomConnection::Write(const std::uint8_t* data, std::size_t size) {
    if (!m_connected) {
        throw wclENotConnected();
    }
    if (data == nullptr || size == 0) {
        throw wclEInvalidArgument();
    }
    InternalWrite(data, size);
}

void TwclCustomConnection::DoConnect(std::uint32_t result) {
    if (m_active && OnConnect) {
        OnConnect(*this, result);
    }
}

bool TwclCustomConnection::ProcessData(const std::uint8_t*, std::size_t) {
    return false;
}

void TwclCustomConnection::DataReceived(const std::uint8_t* data, std::size_t size) {
    if (!m_connected || data == nullptr || size == 0) {
        return;
    }
    // The handlers get a copy: the sender's buffer is reused once we return.
    const std::vector<std::uint8_t> copy(data, data + size);
    const std::weak_ptr<void> life = m_lifeToken;
    if (ProcessData(copy.data(), copy.size()) || life.expired()) {
        return;
    }
    if (OnData) {
        OnData(*this, copy.data(), copy.size());
    }
}

void TwclCustomConnection::WndProc(const Message& message) {
    switch (message.Msg) {
        case wclMsg::kAPIChanged:
            if (!IsTransportAvailable(Transport())) {
                Disconnect();
            }
            break;
        case wclMsg::kAPIUnloading:
            Disconnect();
            break;
        default:
            break;
    }
}

// ---- TwclCustomClientConnection ----------------------------------------------

// Reads a serial port on its own thread and sends each chunk to the
// connection's window as message 1053. The thread holds only a share of the
// state below (the port, the stop event, the window's handle), so the state
// outlives the connection when the thread has to be let go.
class TwclCustomClientConnection::SerialReader {
public:
    struct State {
        int port = -1;
        int stop = -1;  // an eventfd
        MessageWindowHandle window;
        // ReadBuffer bytes, made before the thread starts so that a size the
        // memory cannot hold fails Connect instead of the thread.
        std::vector<std::uint8_t> buffer;
        ~State() {
            CloseFd(port);
            CloseFd(stop);
        }
    };

    explicit SerialReader(std::shared_ptr<State> state) : m_state(std::move(state)) {
        m_thread = std::thread([state = m_state] { Run(*state); });
    }
    ~SerialReader() {
        // Only when a join could not be arranged (the loop was shutting down
        // inside the handler the thread waits for): the thread holds only its
        // own share of the state and ends by itself.
        if (m_thread.joinable()) {
            Stop();
            m_thread.detach();
        }
    }
    SerialReader(const SerialReader&) = delete;
    SerialReader& operator=(const SerialReader&) = delete;

    int Port() const { return m_state->port; }
    void Stop() {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(m_state->stop, &one, sizeof one);
    }
    void Join() {
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }

private:
    static void Run(State& state) {
        std::vector<std::uint8_t>& buffer = state.buffer;
        for (;;) {
            pollfd fds[2] = {{state.port, POLLIN, 0}, {state.stop, POLLIN, 0}};
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
            const ssize_t count = ::read(state.port, buffer.data(), buffer.size());
            if (count > 0) {
                // A send that fails means the window is gone: the connection
                // is disconnecting and the stop event follows.
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
            // pseudo-terminal closed): poll would report it again at once, so
            // the reader ends; writes report the failure.
            return;
        }
    }

    std::shared_ptr<State> m_state;
    std::thread m_thread;
};

// How deep the handling of message 1053 is nested right now. While it is, the
// reader that sent the chunk waits for the handling to return and cannot be
// joined: a reader stopped meanwhile waits here, and the handling's way out
// posts a task that joins it, which runs after the send has returned.
struct TwclCustomClientConnection::SerialDataScope {
    int depth = 0;
    std::vector<std::shared_ptr<SerialReader>> pending;
};

// The open transport of a client connection.
struct TwclCustomClientConnection::Link {
    TwclTransport transport = TwclTransport::trBluetooth;
    // Bluetooth and IrDA.
    std::unique_ptr<SocketApi> api;
    SOCKET socket = kInvalidSocket;
    // Serial.
    std::shared_ptr<SerialReader> reader;
};

TwclCustomClientConnection::TwclCustomClientConnection(EventLoop& loop)
    : TwclCustomConnection(loop), m_serialScope(std::make_shared<SerialDataScope>()) {}

TwclCustomClientConnection::~TwclCustomClientConnection() {
    DestroyingDisconnect();
    StopConnectTimer();
    JoinStoppedReader();
}

void TwclCustomClientConnection::SetClientTransport(TwclClientTransport transport) {
    if (transport == m_clientTransport) {
        return;
    }
    if (Active()) {
        throw wclEConnectionActive();
    }
    m_clientTransport = transport;
}

void TwclCustomClientConnection::SetConnectTimeOut(std::int32_t ms) {
    if (ms == m_connectTimeOut) {
        return;
    }
    if (Active()) {
        throw wclEConnectionActive();
    }
    m_connectTimeOut = ms;
}

TwclTransport TwclCustomClientConnection::Transport() const {
    return ClientTransportToTransport(m_clientTransport);
}

int TwclCustomClientConnection::GetSignalLevel() {
    if (!Connected()) {
        throw wclENotConnected();
    }
    if (Transport() != TwclTransport::trBluetooth) {
        throw wclEInvalidTransport();
    }
    const TwclBluetoothRadio* radio = m_bluetoothParams.Radio();
    if (radio == nullptr) {
        throw wclERadioRequired();
    }
    switch (radio->API()) {
        case TwclBluetoothAPI::baBlueSoleil:
            return GetBlueSoleilSignalLevel();
        case TwclBluetoothAPI::baMicrosoft:
            return GetMicrosoftSignalLevel();
        case TwclBluetoothAPI::baToshiba:
            return GetToshibaSignalLevel();
        case TwclBluetoothAPI::baWidComm:
            return GetWidCommSignalLevel();
    }
    throw wclEInvalidBluetoothAPI();
}

int TwclCustomClientConnection::GetBlueSoleilSignalLevel() {
    throw wclEUnableGetSignalLevel();
}

int TwclCustomClientConnection::GetMicrosoftSignalLevel() {
    throw wclEFeatureNotSupported();
}

int TwclCustomClientConnection::GetToshibaSignalLevel() {
    throw wclEUnableGetSignalLevel();
}

int TwclCustomClientConnection::GetWidCommSignalLevel() {
    throw wclEUnableGetSignalLevel();
}

void TwclCustomClientConnection::DoConnect(std::uint32_t result) {
    StopConnectTimer();
    m_connectReported = true;
    TwclCustomConnection::DoConnect(result);
}

void TwclCustomClientConnection::StopConnectTimer() {
    if (m_connectTimer != 0) {
        Loop().StopTimer(m_connectTimer);
        m_connectTimer = 0;
    }
}

void TwclCustomClientConnection::ConnectTimerTick() {
    m_connectTimer = 0;
    const std::weak_ptr<void> life = LifeToken();
    // A timer task is not a message handler: what its handlers throw is
    // handed to the application here, never to the loop.
    try {
        DoConnect(kWclErrTimeout);
        if (!life.expired() && Active()) {
            Disconnect();
        }
    } catch (...) {
        HandleApplicationException(std::current_exception());
    }
}

void TwclCustomClientConnection::InternalConnect() {
    m_connectReported = false;
    const std::weak_ptr<void> life = LifeToken();
    switch (m_clientTransport) {
        case TwclClientTransport::ctBluetooth:
            OpenBluetooth();
            break;
        case TwclClientTransport::ctIrDA:
            OpenSocket(false);
            break;
        case TwclClientTransport::ctSerial:
            OpenSerial();
            break;
        default:
            throw wclEInvalidTransport();
    }
    if (life.expired() || !Active() || m_connectReported || m_connectTimeOut <= 0) {
        return;
    }
    m_connectTimer =
        Loop().StartTimer(Clock::Duration(m_connectTimeOut), false, [this] { ConnectTimerTick(); });
}

void TwclCustomClientConnection::OpenBluetooth() {
    const TwclBluetoothRadio* radio = m_bluetoothParams.Radio();
    if (radio == nullptr) {
        throw wclERadioRequired();
    }
    CheckBluetoothAPI(radio->API());
    switch (radio->API()) {
        case TwclBluetoothAPI::baMicrosoft:
            OpenSocket(true);
            return;
        default:
            // The BlueSoleil, Toshiba and Widcomm paths are not in this build.
            throw wclEInvalidBluetoothAPI();
    }
}

void TwclCustomClientConnection::OpenSocket(bool bluetooth) {
    const std::string& service = m_irdaParams.Service();
    if (!bluetooth && service.size() > kIrDAServiceNameMax) {
        // The address has room for 24 bytes and a terminating zero; a name cut
        // short would reach some other service.
        throw wclEInvalidIrDAService();
    }
    auto link = std::make_unique<Link>();
    link->transport = bluetooth ? TwclTransport::trBluetooth : TwclTransport::trIrDA;
    link->api = SocketApi::Load();
    const SocketApi& api = *link->api;
    const SOCKET socket = bluetooth ? api.openSocket(kAfBth, kSockStream, kBthProtoRfcomm)
                                    : api.openSocket(kAfIrDA, kSockStream, 0);
    if (socket == kInvalidSocket) {
        throw wclEUnableConnect();
    }
    struct CloseOnFailure {
        const SocketApi& api;
        SOCKET socket;
        bool armed = true;
        ~CloseOnFailure() {
            if (armed) {
                api.closeSocket(socket);
            }
        }
    } guard{api, socket};

    if (bluetooth) {
        api.SetDword(socket, kSolRfcomm, kSoBthAuthenticate, m_bluetoothParams.Authentication());
        api.SetDword(socket, kSolRfcomm, kSoBthEncrypt, m_bluetoothParams.Encryption());
    } else if (m_nineWire) {
        api.SetDword(socket, kSolIrLmp, kIrLmp9WireMode, 1);
    }
    api.SetDword(socket, kSolSocket, kSoRcvTimeo, Timeouts().ReadTimeout());
    api.SetDword(socket, kSolSocket, kSoSndTimeo, Timeouts().WriteTimeout());
    api.SetDword(socket, kSolSocket, kSoRcvBuf, Buffers().ReadBuffer());
    api.SetDword(socket, kSolSocket, kSoSndBuf, Buffers().WriteBuffer());
    api.SetDword(socket, kSolSocket, kSoReuseAddr, 1);

    SOCKADDR_BTH bthAddress{};
    SOCKADDR_IRDA irdaAddress{};
    const SOCKADDR* address = nullptr;
    INT addressLength = 0;
    if (bluetooth) {
        std::u16string text = Utf8ToUtf16(m_bluetoothParams.Address());
        INT length = static_cast<INT>(sizeof bthAddress);
        if (api.stringToAddress(reinterpret_cast<WCHAR*>(text.data()), kAfBth, nullptr,
                                reinterpret_cast<SOCKADDR*>(&bthAddress),
                                &length) == kSocketError) {
            throw wclEInvalidAddress();
        }
        bthAddress.addressFamily = static_cast<USHORT>(kAfBth);
        // A packed field: copied by bytes, never bound to a reference.
        std::memcpy(reinterpret_cast<char*>(&bthAddress) + offsetof(SOCKADDR_BTH, serviceClassId),
                    &m_bluetoothParams.ServiceUUID(), sizeof(GUID));
        bthAddress.port = m_bluetoothParams.Channel();
        address = reinterpret_cast<const SOCKADDR*>(&bthAddress);
        addressLength = static_cast<INT>(sizeof bthAddress);
    } else {
        irdaAddress.irdaAddressFamily = static_cast<USHORT>(kAfIrDA);
        const IrDADeviceId id = IrDAAddressToDeviceId(m_irdaParams.Address());
        std::memcpy(irdaAddress.irdaDeviceID, id.data(), id.size());
        std::memcpy(irdaAddress.irdaServiceName, service.data(), service.size());
        address = reinterpret_cast<const SOCKADDR*>(&irdaAddress);
        addressLength = static_cast<INT>(sizeof irdaAddress);
    }

    const MessageWindowHandle window = WindowHandle();
    if (api.asyncSelect(socket, ToHwnd(window), wclMsg::kConnectionSocketEvent,
                        kFdConnect | kFdRead | kFdClose) == kSocketError) {
        throw wclEUnableConnect();
    }
    // Asynchronous sockets never complete at once: the result is the
    // notification's, and "would block" is the normal answer.
    if (api.connect(socket, address, addressLength) == kSocketError &&
        api.lastError() != kWsaEWouldBlock) {
        throw wclEUnableConnect();
    }
    guard.armed = false;
    link->socket = socket;
    m_link = std::move(link);
}

void TwclCustomClientConnection::OpenSerial() {
    const std::string path = SerialPortPath(m_serialParams.Port());
    auto state = std::make_shared<SerialReader::State>();
    state->port = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (state->port < 0) {
        throw wclEUnableConnect();
    }
    if (!ConfigureLine(state->port, m_serialParams)) {
        throw wclEUnableConnect();
    }
    ::tcflush(state->port, TCIOFLUSH);
    // The driver's queue sizes have no equivalent here; the kernel's buffers
    // serve. A line without modem controls (a pseudo-terminal) has no RTS or
    // DTR to raise, which is no failure.
    const int lines = TIOCM_RTS | TIOCM_DTR;
    if (::ioctl(state->port, TIOCMBIS, &lines) != 0 && errno != ENOTTY && errno != EINVAL) {
        throw wclEUnableConnect();
    }
    state->stop = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (state->stop < 0) {
        throw wclEUnableConnect();
    }
    state->window = WindowHandle();
    try {
        state->buffer.resize(Buffers().ReadBuffer());
    } catch (const std::bad_alloc&) {
        throw wclEUnableConnect();
    }

    auto link = std::make_unique<Link>();
    link->transport = TwclTransport::trSerial;
    try {
        link->reader = std::make_shared<SerialReader>(std::move(state));
    } catch (const std::system_error&) {
        throw wclEUnableConnect();
    }
    m_link = std::move(link);

    SetConnected(true);
    const std::weak_ptr<void> life = LifeToken();
    try {
        if (!AfterConnect()) {
            DoConnect(kWclSuccess);
        }
    } catch (...) {
        // Connect fails as a whole: close the port again before passing on.
        // The reader is joined by Connect once the window is gone.
        if (!life.expired() && m_link) {
            SetConnected(false);
            InternalDisconnect();
        }
        throw;
    }
}

void TwclCustomClientConnection::InternalDisconnect() {
    StopConnectTimer();
    std::unique_ptr<Link> link = std::move(m_link);
    if (!link) {
        return;
    }
    switch (link->transport) {
        case TwclTransport::trBluetooth:
        case TwclTransport::trIrDA:
            link->api->asyncSelect(link->socket, nullptr, 0, 0);
            link->api->closeSocket(link->socket);
            break;
        case TwclTransport::trSerial:
            // The reader is joined once the window is gone: it may be waiting
            // for the window to take a chunk.
            link->reader->Stop();
            m_stoppedReader = std::move(link->reader);
            break;
        default:
            throw wclEInvalidTransport();
    }
}

void TwclCustomClientConnection::WindowReleased() {
    JoinStoppedReader();
}

void TwclCustomClientConnection::JoinStoppedReader() {
    if (!m_stoppedReader) {
        return;
    }
    std::shared_ptr<SerialReader> reader = std::move(m_stoppedReader);
    if (m_serialScope->depth == 0) {
        reader->Join();
    } else {
        m_serialScope->pending.push_back(std::move(reader));
    }
}

void TwclCustomClientConnection::InternalWrite(const std::uint8_t* data, std::size_t size) {
    if (!m_link) {
        throw wclENotConnected();
    }
    if (m_link->transport == TwclTransport::trSerial) {
        const int port = m_link->reader->Port();
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(Timeouts().WriteTimeout());
        std::size_t done = 0;
        while (done < size) {
            const ssize_t written = ::write(port, data + done, size - done);
            if (written > 0) {
                done += static_cast<std::size_t>(written);
                continue;
            }
            if (written < 0 && errno == EINTR) {
                continue;
            }
            if (written < 0 && errno != EAGAIN) {
                throw wclEWriteError();
            }
            // The driver's queue is full: wait for room, in real time, as
            // long as the write time-out allows.
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                throw wclETimeout();
            }
            pollfd fd{port, POLLOUT, 0};
            const int ready =
                ::poll(&fd, 1, static_cast<int>(std::min<long long>(left.count(), INT_MAX)));
            if (ready < 0 && errno != EINTR) {
                throw wclEWriteError();
            }
            if (ready > 0 && (fd.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
                throw wclEWriteError();
            }
        }
        return;
    }
    const SocketApi& api = *m_link->api;
    std::size_t done = 0;
    while (done < size) {
        const INT chunk = static_cast<INT>(std::min<std::size_t>(size - done, INT_MAX));
        const INT sent =
            api.send(m_link->socket, reinterpret_cast<const char*>(data + done), chunk, 0);
        if (sent == kSocketError || sent <= 0) {
            throw wclEWriteError();
        }
        done += static_cast<std::size_t>(sent);
    }
}

void TwclCustomClientConnection::WndProc(const Message& message) {
    switch (message.Msg) {
        case wclMsg::kConnectionSocketEvent:
            HandleSocketEvent(message);
            return;
        case wclMsg::kConnectionSerialData:
            HandleSerialData(message);
            return;
        case wclMsg::kAPIChanged:
            if (m_clientTransport == TwclClientTransport::ctBluetooth) {
                const TwclBluetoothRadio* radio = m_bluetoothParams.Radio();
                if (radio != nullptr && !IsBluetoothAPIAvailable(radio->API())) {
                    Disconnect();
                    return;
                }
            }
            break;
        default:
            break;
    }
    TwclCustomConnection::WndProc(message);
}

void TwclCustomClientConnection::HandleSocketEvent(const Message& message) {
    // Events of an earlier socket are not this link's business.
    if (!m_link || m_link->transport == TwclTransport::trSerial ||
        message.WParam != m_link->socket) {
        return;
    }
    const unsigned event = WSAGetSelectEvent(message.LParam);
    const unsigned error = WSAGetSelectError(message.LParam);
    const std::weak_ptr<void> life = LifeToken();
    switch (event) {
        case kFdRead: {
            if (!Connected() || error != 0) {
                return;
            }
            std::vector<std::uint8_t> buffer(Buffers().ReadBuffer(), 0);
            const INT count = m_link->api->recv(
                m_link->socket, reinterpret_cast<char*>(buffer.data()),
                static_cast<INT>(std::min<std::size_t>(buffer.size(), INT_MAX)), 0);
            if (count > 0) {
                DataReceived(buffer.data(), static_cast<std::size_t>(count));
            }
            return;
        }
        case kFdConnect:
            if (error != 0) {
                SetConnected(false);
                DoConnect(SocketErrorToResult(error));
                if (!life.expired()) {
                    Disconnect();
                }
                return;
            }
            SetConnected(true);
            try {
                if (!AfterConnect()) {
                    DoConnect(kWclSuccess);
                }
            } catch (...) {
                if (life.expired()) {
                    throw;
                }
                SetConnected(false);
                DoConnect(kWclErrUnableConnect);
                if (!life.expired()) {
                    Disconnect();
                }
                throw;
            }
            return;
        case kFdClose:
            if (Connected()) {
                Disconnect();
            }
            return;
        default:
            return;
    }
}

void TwclCustomClientConnection::HandleSerialData(const Message& message) {
    if (!m_link || m_link->transport != TwclTransport::trSerial || message.LParam <= 0) {
        return;
    }
    struct Leave {
        std::shared_ptr<SerialDataScope> scope;
        EventLoop& loop;
        ~Leave() {
            if (--scope->depth > 0 || scope->pending.empty()) {
                return;
            }
            // Should the loop refuse the task, the readers are let go and end
            // by themselves.
            loop.Post([readers = std::move(scope->pending)] {
                for (const auto& reader : readers) {
                    reader->Join();
                }
            });
            scope->pending.clear();
        }
    } leave{m_serialScope, Loop()};
    ++m_serialScope->depth;
    DataReceived(reinterpret_cast<const std::uint8_t*>(message.WParam),
                 static_cast<std::size_t>(message.LParam));
}

}  // namespace kavri
