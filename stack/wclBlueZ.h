#pragma once

#include "stack/wclBlueZWatcher.h"
#include "stack/wclStackBinding.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kavri {

// The binding of Linux's own Bluetooth stack, BlueZ 5: adapters, inquiry,
// names and classes from the daemon over D-Bus (org.bluez), service lookups
// as SDP over an L2CAP socket read with our own parser, and links on RFCOMM
// sockets. The D-Bus connection of the watch is one more file descriptor of
// the loop that loads the binding; operations on other threads use a second
// connection of their own, one call at a time, and never touch the watch.
//
// The stack counts as installed when the bus can be reached; its radio is the
// first powered adapter, and adapters coming, going, or being switched on and
// off post 1036 (ready) and 1037 (gone) to the manager window. An inquiry
// lets the adapter discover for the inquiry length on the binding's clock and
// takes the devices that discovery saw, in the daemon's order; Unload cuts a
// running inquiry short (it finds nothing).
//
// Load and Unload run on the loop thread of the manager window. Errors: those
// named in wclBluetoothBinding; Fault() says what keeps the radio from being
// ready.
class TwclBlueZLoader final : public wclBluetoothBinding {
public:
    // How long an inquiry discovers: eight inquiry slots of 1.28 s.
    static constexpr Clock::Duration kDefaultInquiryLength{10240};

    explicit TwclBlueZLoader(const Clock& clock,
                             Clock::Duration inquiryLength = kDefaultInquiryLength);
    ~TwclBlueZLoader() override;
    TwclBlueZLoader(const TwclBlueZLoader&) = delete;
    TwclBlueZLoader& operator=(const TwclBlueZLoader&) = delete;

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
    // The kernel queues connection attempts to several devices itself.
    bool ConnectsInParallel() const override { return true; }

    // Loop thread: what keeps the radio from being ready (None when it is).
    bluez::RadioFault Fault() const;

    struct Session;

private:
    std::shared_ptr<Session> CurrentSession() const;

    const Clock& m_clock;
    const Clock::Duration m_inquiryLength;
    mutable std::mutex m_mutex;
    std::shared_ptr<Session> m_session;            // guarded by m_mutex; null when not loaded
    std::unique_ptr<bluez::AdapterWatch> m_watch;  // loop thread
    // Loop thread: why the last Load found no watch (None: a stand-in said
    // the stack is not installed, or Load has not run).
    bluez::RadioFault m_loadFault = bluez::RadioFault::None;
};

// The text that tells the operator what to do about a fault, or an empty one.
std::string BlueZFaultAdvice(bluez::RadioFault fault);

}  // namespace kavri
