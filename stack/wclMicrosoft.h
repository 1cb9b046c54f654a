#pragma once

#include "platform/Clock.h"
#include "stack/wclStackBinding.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kavri {

class PollingWatcher;

// The binding of the Microsoft stack: the Bluetooth API of the control-panel
// library ("irprops.cpl", else "bthprops.cpl"), Winsock's Bluetooth name space
// for inquiry and service search, SetupAPI and the registry for the radio's
// name. Everything is reached through entry points resolved by name; a
// missing one fails like a failed call, so on a system without the stack the
// load reports absent and every operation raises its error.
//
// Load and Unload run on the thread that owns the manager window; while
// loaded, a watcher thread tests every second on the clock whether a radio is
// there and posts 1028 (present) or 1029 (absent) to the manager window when
// that changes. The operations may run on any thread (inquiry on the discovery
// thread, services on a connection worker); each holds the loaded libraries
// for the length of its call, so an Unload meanwhile cannot free them under
// it. Every handle, key and buffer an operation obtains is released on every
// path. Errors: the library errors named in wclBluetoothBinding; a service
// record that cannot be read (a channel of 32 or more) is skipped, not raised,
// so one bad record does not hide a device's other services.
//
// Links to devices are Winsock RFCOMM sockets (wclWinsockLink), opened on the
// connection's loop thread; they hold their own reference to the socket
// library, so a link outlives an Unload until its connection closes it. The
// stack takes several connection attempts at once.
class TwclMicrosoftLoader final : public wclBluetoothBinding {
public:
    explicit TwclMicrosoftLoader(const Clock& clock);
    ~TwclMicrosoftLoader() override;
    TwclMicrosoftLoader(const TwclMicrosoftLoader&) = delete;
    TwclMicrosoftLoader& operator=(const TwclMicrosoftLoader&) = delete;

    bool Load(const MessageWindowHandle& managerWindow) override;
    void Unload() override;
    bool IsLoaded() const override;

    std::uint64_t ReadRadioAddress() override;
    void WriteRadioName(const std::string& name) override;
    std::optional<std::vector<std::string>> Inquiry() override;
    std::string ReadRemoteName(const std::string& address) override;
    std::uint32_t ReadRemoteClassOfDevice(const std::string& address) override;
    std::vector<wclServiceInfo> EnumServices(const std::string& address,
                                             const std::optional<GUID>& serviceClass) override;
    std::unique_ptr<wclConnectionBackend> OpenLink(EventLoop& loop,
                                                   const wclBluetoothLinkRequest& request,
                                                   wclLinkEvents events) override;
    bool ConnectsInParallel() const override { return true; }

    // True when a first radio can be found now.
    bool IsRadioPresent() const;
    // The name of the Bluetooth API library loaded, empty when not loaded.
    std::string LibraryName() const;
    // The last error that a call through a missing entry point left on this
    // thread (ERROR_INVALID_FUNCTION), 0 when none did.
    static std::uint32_t LastWrapperError();

    // The loaded libraries; defined in the source, named here so that the
    // source's helpers can take it.
    struct Api;

private:
    std::shared_ptr<const Api> CurrentApi() const;

    const Clock& m_clock;
    mutable std::mutex m_mutex;
    std::shared_ptr<const Api> m_api;           // guarded by m_mutex; null when not loaded
    std::unique_ptr<PollingWatcher> m_watcher;  // Load/Unload thread only
};

}  // namespace kavri
