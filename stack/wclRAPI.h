#pragma once

#include "platform/Clock.h"
#include "stack/wclStackBinding.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

namespace kavri {

class StopEvent;

// The loader of RAPI, the desktop link to a Windows CE device ("rapi.dll" and
// "Ceutil.dll"). A monitor thread asks RAPI to report a device, waits for its
// initialisation event, and once a device is connected asks every second on
// the clock whether it is still there; each change sets the connection state
// and posts 1024 (connected) or 1025 (disconnected) to the manager window.
// The state is false after Load until the monitor reports, so a device that
// is already connected arrives as 1024 shortly after the load.
//
// The monitor reports straight to the manager window rather than through a
// window of the loader's own (its word-parameter message 1067): the loader is
// given no event loop to make one on, and the posted change is the same.
//
// Load and Unload run on the thread that owns the manager window and join the
// monitor; IsConnected may be read from any thread. Nothing throws.
class TwclRAPILoader final : public wclStackLoader {
public:
    explicit TwclRAPILoader(const Clock& clock);
    ~TwclRAPILoader() override;
    TwclRAPILoader(const TwclRAPILoader&) = delete;
    TwclRAPILoader& operator=(const TwclRAPILoader&) = delete;

    bool Load(const MessageWindowHandle& managerWindow) override;
    void Unload() override;
    bool IsLoaded() const override;

    bool IsConnected() const { return m_connected.load(std::memory_order_acquire); }

    struct Api;  // the loaded libraries, defined in the source

private:
    void Monitor(const Api& api, MessageWindowHandle managerWindow);
    void Report(const MessageWindowHandle& managerWindow, bool connected);

    const Clock& m_clock;
    mutable std::mutex m_mutex;
    std::shared_ptr<const Api> m_api;  // guarded by m_mutex; null when not loaded
    std::unique_ptr<StopEvent> m_stop;
    std::thread m_monitor;
    std::atomic<bool> m_connected{false};
};

}  // namespace kavri
