#pragma once

#include "platform/Clock.h"
#include "platform/EventLoop.h"
#include "stack/wclConnectionBackend.h"
#include "stack/wclStackBinding.h"

#include <memory>
#include <mutex>

namespace kavri {

class PollingWatcher;

// The IrDA transport's loader. IrDA has no library of its own: it is usable
// when Winsock opens a stream socket of the IrDA address family, and a device
// counts as present when SetupAPI lists a present device of the infrared
// class. While loaded, a watcher thread tests that every second on the clock
// and posts 1034 (present) or 1035 (absent) to the manager window when it
// changes.
//
// Load and Unload run on the thread that owns the manager window; the
// presence test may run on any thread. Nothing throws.
class TwclIrDALoader final : public wclStackLoader {
public:
    explicit TwclIrDALoader(const Clock& clock);
    ~TwclIrDALoader() override;
    TwclIrDALoader(const TwclIrDALoader&) = delete;
    TwclIrDALoader& operator=(const TwclIrDALoader&) = delete;

    bool Load(const MessageWindowHandle& managerWindow) override;
    void Unload() override;
    bool IsLoaded() const override;

    // True when a present device of the infrared class is listed now.
    bool IsDevicePresent() const;

    struct Api;  // the loaded libraries, defined in the source

private:
    std::shared_ptr<const Api> CurrentApi() const;

    const Clock& m_clock;
    mutable std::mutex m_mutex;
    std::shared_ptr<const Api> m_api;           // guarded by m_mutex; null when not loaded
    std::unique_ptr<PollingWatcher> m_watcher;  // Load/Unload thread only
};

// Starts opening an IrDA stream link (a Winsock socket of the IrDA family) on
// the loop thread; the result arrives through events.onConnect. Throws
// wclEInvalidIrDAService for a service name longer than the address holds,
// wclEUnableConnect when the sockets fail.
std::unique_ptr<wclConnectionBackend> OpenIrDALink(EventLoop& loop,
                                                   const wclIrDALinkRequest& request,
                                                   wclLinkEvents events);

}  // namespace kavri
