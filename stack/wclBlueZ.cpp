#include "stack/wclBlueZ.h"

#include "platform/FileDescriptor.h"
#include "platform/StopEvent.h"
#include "platform/Text.h"
#include "stack/wclBlueZBus.h"
#include "stack/wclBlueZLink.h"
#include "stack/wclBlueZPlatform.h"
#include "stack/wclBluetoothAddress.h"
#include "stack/wclExceptions.h"
#include "stack/wclSdpClient.h"

#include <cerrno>
#include <chrono>

#include <poll.h>
#include <sys/socket.h>
#include <systemd/sd-bus.h>

namespace kavri {

using namespace bluez;

namespace {

// A daemon that takes longer than this for a call is taken as not answering.
constexpr std::chrono::microseconds kCallTimeout = std::chrono::seconds(5);
// How long the kernel may take to reach a device for a service lookup; it
// gives up on its own sooner when the device does not answer the page.
constexpr int kSdpConnectTimeoutMs = 10000;
// The name field of a radio and of a remote device.
constexpr std::size_t kNameFieldBytes = 248;
// The most a name field's text can grow to when the daemon replaces every
// byte that is no UTF-8 with U+FFFD (three bytes).
constexpr std::size_t kMaxRemoteNameBytes = 3 * kNameFieldBytes;

// Valid UTF-8 of at most maxBytes: the daemon's strings are valid already
// (the bus carries nothing else), but nothing from the air is taken unbounded.
std::string BoundedName(std::string_view text, std::size_t maxBytes) {
    const std::string_view cut = TruncateUtf8(text, maxBytes);
    return ValidUtf8(cut);
}

}  // namespace

// What the operations share with each other and with the watch: the way to
// the stack, the radio the watch last saw, and the connection for calls.
// Operations hold the session for the length of their call, so an Unload
// meanwhile leaves them a working connection until they return.
struct TwclBlueZLoader::Session {
    explicit Session(const Clock& clock) : cancel(clock) {}

    std::optional<Radio> CurrentRadio() {
        std::lock_guard lock(radioMutex);
        return radio;
    }

    // Runs call with the connection for calls, opening it first; one call at
    // a time. A connection that failed is opened anew by the next call.
    template <typename Call>
    auto WithBus(Call call) -> decltype(call(static_cast<sd_bus*>(nullptr))) {
        std::lock_guard lock(callMutex);
        if (callBus == nullptr || sd_bus_is_open(callBus.get()) <= 0) {
            int error = 0;
            callBus = OpenBus(platform.BusAddress(), kCallTimeout, error);
        }
        return call(callBus.get());
    }

    // The properties of a device the daemon knows under the radio's adapter.
    std::optional<ObjectProperties> Device(const std::string& address) {
        const std::optional<Radio> found = CurrentRadio();
        if (!found || !IsValidAddress(address)) {
            return std::nullopt;
        }
        const std::string path = DevicePath(found->path, AddressToUInt64(address));
        return WithBus([&](sd_bus* bus) -> std::optional<ObjectProperties> {
            if (bus == nullptr) {
                return std::nullopt;
            }
            sd_bus_error failure{};
            sd_bus_message* reply = nullptr;
            const int r = sd_bus_call_method(bus, kService, path.c_str(), kProperties, "GetAll",
                                             &failure, &reply, "s", kDeviceInterface);
            MessagePtr owned(reply);
            sd_bus_error_free(&failure);
            ObjectProperties properties;
            if (r < 0 || ReadProperties(reply, properties) < 0) {
                return std::nullopt;
            }
            return properties;
        });
    }

    Platform platform;
    StopEvent cancel;  // set by Unload: a running inquiry stops waiting
    std::mutex radioMutex;
    std::optional<Radio> radio;  // guarded by radioMutex
    std::mutex callMutex;
    BusPtr callBus;  // guarded by callMutex
};

TwclBlueZLoader::TwclBlueZLoader(const Clock& clock, Clock::Duration inquiryLength)
    : m_clock(clock), m_inquiryLength(inquiryLength) {}

TwclBlueZLoader::~TwclBlueZLoader() {
    Unload();
}

bool TwclBlueZLoader::Load(const MessageWindowHandle& managerWindow) {
    if (IsLoaded()) {
        const auto session = CurrentSession();
        return session->CurrentRadio().has_value();
    }
    EventLoop* loop = managerWindow.LoopOnThisThread();
    Platform platform = Platform::Load();
    m_loadFault = RadioFault::None;
    if (loop == nullptr || !platform.Installed()) {
        return false;
    }
    auto session = std::make_shared<Session>(m_clock);
    session->platform = platform;
    // The watch reports on the loop thread; operations on other threads read
    // the radio from the session.
    auto report = [weak = std::weak_ptr<Session>(session),
                   managerWindow](const std::optional<Radio>& radio) {
        const auto shared = weak.lock();
        if (shared == nullptr) {
            return;
        }
        {
            std::lock_guard lock(shared->radioMutex);
            shared->radio = radio;
        }
        PostMessage(managerWindow, radio ? wclMsg::kBlueZReady : wclMsg::kBlueZNotReady);
    };
    int error = 0;
    m_watch = AdapterWatch::Start(*loop, platform.BusAddress(), kCallTimeout, report, error);
    if (m_watch == nullptr) {
        m_loadFault = RadioFault::NoBus;
        return false;
    }
    session->radio = m_watch->CurrentRadio();
    const bool ready = session->radio.has_value();
    std::lock_guard lock(m_mutex);
    m_session = std::move(session);
    return ready;
}

void TwclBlueZLoader::Unload() {
    std::shared_ptr<Session> session;
    {
        std::lock_guard lock(m_mutex);
        session = std::move(m_session);
    }
    // The watch first, so nothing is posted afterwards.
    m_watch.reset();
    if (session != nullptr) {
        session->cancel.Set();
    }
}

bool TwclBlueZLoader::IsLoaded() const {
    std::lock_guard lock(m_mutex);
    return m_session != nullptr;
}

std::shared_ptr<TwclBlueZLoader::Session> TwclBlueZLoader::CurrentSession() const {
    std::lock_guard lock(m_mutex);
    return m_session;
}

RadioFault TwclBlueZLoader::Fault() const {
    return m_watch != nullptr ? m_watch->Fault() : m_loadFault;
}

std::uint64_t TwclBlueZLoader::ReadRadioAddress() {
    const auto session = CurrentSession();
    const std::optional<Radio> radio = session ? session->CurrentRadio() : std::nullopt;
    if (!radio) {
        throw wclEGetRadioHandle();
    }
    return radio->address;
}

void TwclBlueZLoader::WriteRadioName(const std::string& name) {
    const auto session = CurrentSession();
    const std::optional<Radio> radio = session ? session->CurrentRadio() : std::nullopt;
    if (!radio) {
        throw wclEGetRadioHandle();
    }
    const std::string alias = BoundedName(name, kNameFieldBytes);
    const bool written = session->WithBus([&](sd_bus* bus) {
        if (bus == nullptr) {
            return false;
        }
        sd_bus_error failure{};
        const int r = sd_bus_set_property(bus, kService, radio->path.c_str(), kAdapterInterface,
                                          "Alias", &failure, "s", alias.c_str());
        sd_bus_error_free(&failure);
        return r >= 0;
    });
    if (!written) {
        throw wclERadoNameWriteError();
    }
}

std::optional<std::vector<std::string>> TwclBlueZLoader::Inquiry() {
    const auto session = CurrentSession();
    const std::optional<Radio> radio = session ? session->CurrentRadio() : std::nullopt;
    if (!radio) {
        return std::nullopt;
    }
    const char* path = radio->path.c_str();
    // The length counts from the request to discover.
    const Clock::TimePoint end = m_clock.Now() + m_inquiryLength;
    const bool started = session->WithBus([&](sd_bus* bus) {
        if (bus == nullptr) {
            return false;
        }
        sd_bus_error failure{};
        const int r = sd_bus_call_method(bus, kService, path, kAdapterInterface, "StartDiscovery",
                                         &failure, nullptr, "");
        // Our own discovery still running counts as started.
        const bool inProgress = sd_bus_error_has_name(&failure, "org.bluez.Error.InProgress");
        sd_bus_error_free(&failure);
        return r >= 0 || inProgress;
    });
    if (!started) {
        return std::nullopt;
    }
    // Devices answer the adapter's inquiry for the whole length; the daemon
    // marks each one seen with its signal strength.
    const bool cancelled = session->cancel.WaitUntil(end);
    return session->WithBus([&](sd_bus* bus) -> std::optional<std::vector<std::string>> {
        if (bus == nullptr) {
            return std::nullopt;
        }
        std::optional<std::vector<std::string>> found;
        if (!cancelled) {
            sd_bus_error failure{};
            sd_bus_message* reply = nullptr;
            const int r = sd_bus_call_method(bus, kService, "/", kObjectManager,
                                             "GetManagedObjects", &failure, &reply, "");
            MessagePtr owned(reply);
            sd_bus_error_free(&failure);
            std::vector<ManagedObject> objects;
            if (r >= 0 && ReadManagedObjects(reply, objects) >= 0) {
                found.emplace();
                for (const ManagedObject& object : objects) {
                    const auto address = object.properties.address
                                             ? ParseDaemonAddress(*object.properties.address)
                                             : std::nullopt;
                    if (object.device && object.properties.hasRssi && address &&
                        object.properties.adapter == radio->path) {
                        found->push_back(UInt64ToAddress(*address));
                    }
                }
            }
        }
        // Stopped before reading would lose what the daemon marked as seen.
        sd_bus_call_method(bus, kService, path, kAdapterInterface, "StopDiscovery", nullptr,
                           nullptr, "");
        return found;
    });
}

std::string TwclBlueZLoader::ReadRemoteName(const std::string& address) {
    const auto session = CurrentSession();
    const auto device = session ? session->Device(address) : std::nullopt;
    if (!device) {
        throw wclERemoteDeviceNameReadError();
    }
    if (device->name) {
        return BoundedName(*device->name, kMaxRemoteNameBytes);
    }
    // Without a name the daemon makes up an alias from the address; only one
    // that somebody set is a name.
    if (device->alias && *device->alias != AddressAlias(AddressToUInt64(address))) {
        return BoundedName(*device->alias, kMaxRemoteNameBytes);
    }
    throw wclERemoteDeviceNameReadError();
}

std::uint32_t TwclBlueZLoader::ReadRemoteClassOfDevice(const std::string& address) {
    const auto session = CurrentSession();
    const auto device = session ? session->Device(address) : std::nullopt;
    if (!device || !device->deviceClass) {
        throw wclERemoteClassOfDeviceReadError();
    }
    return *device->deviceClass & 0xFFFFFF;
}

namespace {

// A service lookup over the session's way to the stack: an L2CAP connection
// to the device's SDP server, connected within a bounded time.
std::vector<wclServiceInfo> LookUpServices(const Platform& platform, const std::string& address,
                                           const std::optional<GUID>& serviceClass) {
    ValidateAddress(address);
    int error = 0;
    const int fd = platform.Connect(kProtocolL2CAP, AddressToUInt64(address), kSdpPsm, error);
    if (fd < 0) {
        throw wclEEnumServices();
    }
    const FileDescriptor socket(fd);
    pollfd waiting{fd, POLLOUT, 0};
    int result = 0;
    socklen_t size = sizeof result;
    if (::poll(&waiting, 1, kSdpConnectTimeoutMs) != 1 ||
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &result, &size) != 0 || result != 0) {
        throw wclEEnumServices();
    }
    return SdpQueryServices(fd, serviceClass);
}

}  // namespace

std::vector<wclServiceInfo> TwclBlueZLoader::EnumServices(const std::string& address,
                                                          const std::optional<GUID>& serviceClass) {
    const auto session = CurrentSession();
    if (session == nullptr || !session->CurrentRadio()) {
        throw wclEEnumServices();
    }
    return LookUpServices(session->platform, address, serviceClass);
}

std::unique_ptr<wclConnectionBackend> TwclBlueZLoader::OpenLink(
    EventLoop& loop, const wclBluetoothLinkRequest& request, wclLinkEvents events) {
    const auto session = CurrentSession();
    if (session == nullptr) {
        throw wclEUnableConnect();
    }
    // The lookup thread holds copies only.
    auto lookup = [platform = session->platform, address = request.address,
                   serviceClass = request.serviceUUID]() -> std::optional<std::uint8_t> {
        const std::vector<wclServiceInfo> services =
            LookUpServices(platform, address, serviceClass);
        if (services.empty()) {
            return std::nullopt;
        }
        return services.front().Channel;
    };
    return wclBlueZLink::Open(loop, session->platform, request, std::move(events),
                              std::move(lookup));
}

std::string BlueZFaultAdvice(RadioFault fault) {
    switch (fault) {
        case RadioFault::None:
            return "";
        case RadioFault::NoBus:
            return "The system message bus cannot be reached: start it with "
                   "\"sudo systemctl start dbus\".";
        case RadioFault::NoDaemon:
            return "The Bluetooth service is not running: install the package bluez and start it "
                   "with \"sudo systemctl start bluetooth\".";
        case RadioFault::NoAdapter:
            return "No Bluetooth adapter was found: plug one in, and check that "
                   "\"bluetoothctl list\" shows it.";
        case RadioFault::PoweredOff:
            return "The Bluetooth adapter is switched off: switch it on with "
                   "\"bluetoothctl power on\".";
        case RadioFault::Blocked:
            return "The Bluetooth adapter is blocked by rfkill: unblock it with "
                   "\"rfkill unblock bluetooth\", then \"bluetoothctl power on\".";
    }
    return "";
}

}  // namespace kavri
