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

// The binding of the BlueSoleil stack: the library "btfunc.dll", its fifteen
// entry points resolved by name (a missing one answers 3, or false for the
// library's start-up, shut-down and readiness calls, so it fails like a
// failed call).
//
// Load and Unload run on the thread that owns the manager window. While
// loaded, a watcher thread asks the stack every second on the clock whether
// its radio is ready and posts 1026 (ready) or 1027 (not ready) to the
// manager window when that changes, and the stack's connection callback
// (event 3) reports lost connections through wclBlueSoleilHandleTable. The
// operations may run on any thread; each holds the loaded library for the
// length of its call.
//
// What the stack writes is read within its records' sizes: counts derived
// from returned lengths never exceed the buffer, names stop at their fields'
// ends. Errors: the library errors of wclBluetoothBinding. Links are
// wclBlueSoleilLink, one connect at a time.
class TwclBlueSoleilLoader final : public wclBluetoothBinding {
public:
    explicit TwclBlueSoleilLoader(const Clock& clock);
    ~TwclBlueSoleilLoader() override;
    TwclBlueSoleilLoader(const TwclBlueSoleilLoader&) = delete;
    TwclBlueSoleilLoader& operator=(const TwclBlueSoleilLoader&) = delete;

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

    // The loaded library; defined in the source.
    struct Api;

private:
    std::shared_ptr<const Api> CurrentApi() const;

    const Clock& m_clock;
    mutable std::mutex m_mutex;
    std::shared_ptr<const Api> m_api;           // guarded by m_mutex; null when not loaded
    std::unique_ptr<PollingWatcher> m_watcher;  // Load/Unload thread only
};

}  // namespace kavri
