#pragma once

#include "platform/Clock.h"
#include "stack/wclStackBinding.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kavri {

// The binding of the Toshiba stack: the library "TosBtAPI.dll", its
// thirty-five entry points resolved by name (a missing one fails like a
// failed call).
//
// The stack reports to windows. The loader keeps a window of its own on a
// thread it owns (with a loop of its own): the stack's state notification
// (1040, a non-zero long parameter meaning ready) arrives there, and each
// change of readiness is posted to the manager window as 1030 (ready) or 1031
// (not ready). Load and Unload run on the thread that owns the manager window
// and start and join that thread.
//
// Operations that the stack completes by message (discovery 1049, SDP
// connect 1044 and search 1046) run a window on a loop of the calling thread
// and pump its messages until the end code; a failure code before it marks
// the operation failed. They may run on any thread (the discovery thread, a
// lookup thread), each holding the loaded library for the length of its call,
// and release what the stack allocated on every path.
//
// What the stack hands back is read within bounds: list counts against the
// sizes the lists state and a fixed maximum, texts within their fields.
// Errors: the library errors of wclBluetoothBinding. Links are
// wclToshibaLink, one connect at a time.
class TwclToshibaLoader final : public wclBluetoothBinding {
public:
    explicit TwclToshibaLoader(const Clock& clock);
    ~TwclToshibaLoader() override;
    TwclToshibaLoader(const TwclToshibaLoader&) = delete;
    TwclToshibaLoader& operator=(const TwclToshibaLoader&) = delete;

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

    // The readiness last known (at load, then from the stack's notifications).
    bool IsReady() const { return m_ready.load(); }

    struct Api;         // the loaded library; defined in the source
    class StateWindow;  // the loader's window and its thread

private:
    std::shared_ptr<const Api> CurrentApi() const;

    const Clock& m_clock;
    mutable std::mutex m_mutex;
    std::shared_ptr<const Api> m_api;            // guarded by m_mutex; null when not loaded
    std::unique_ptr<StateWindow> m_stateWindow;  // Load/Unload thread only
    std::atomic<bool> m_ready{false};
};

}  // namespace kavri
