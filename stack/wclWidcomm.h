#pragma once

#include "stack/wclStackBinding.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kavri {

namespace widcomm {
struct Api;
}

// The binding of the Widcomm stack, reached through its adapter library: the
// stack counts as installed only when "wbtapi.dll" loads; the adapter is
// "wcl2btwnr.dll", or "wcl2btw.dll" beside an older stack's "btwapi.dll".
// Every entry point is resolved by name; a missing one fails like a failed
// call. The adapter itself watches the radio and posts 1032 (ready) and 1033
// (gone) to the manager window from its own thread.
//
// Load and Unload run on the thread that owns the manager window. The
// operations may run on any thread; each holds the loaded adapter for the
// length of its call, so an Unload meanwhile cannot free it. Records the
// adapter fills are read within their fixed sizes, whatever counts they
// claim. Errors: those named in wclBluetoothBinding.
//
// Links are the adapter's RFCOMM client objects (wclWidcommLink), which hold
// the adapter as long as they live. One connection attempt at a time.
class TwclWidComLoader final : public wclBluetoothBinding {
public:
    explicit TwclWidComLoader(const Clock& clock);
    ~TwclWidComLoader() override;
    TwclWidComLoader(const TwclWidComLoader&) = delete;
    TwclWidComLoader& operator=(const TwclWidComLoader&) = delete;

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

    // True when the adapter reports a ready radio now.
    bool IsRadioPresent() const;
    // The adapter library loaded, empty when not loaded.
    std::string LibraryName() const;

private:
    std::shared_ptr<const widcomm::Api> CurrentApi() const;

    mutable std::mutex m_mutex;
    std::shared_ptr<const widcomm::Api> m_api;  // guarded by m_mutex; null when not loaded
};

}  // namespace kavri
