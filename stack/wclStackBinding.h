#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/EventLoop.h"
#include "stack/wclConnectionBackend.h"
#include "stack/wclMessages.h"
#include "stack/wclSDPService.h"
#include "stack/wclTypes.h"
#include "stack/wclUUIDs.h"

namespace kavri {

// One remote service as a stack reports it (the same fields a service record
// yields). Names are UTF-8.
using wclServiceInfo = SdpServiceInfo;

// What the manager needs of every loader: load the stack's libraries, say
// whether a radio (or device) is ready now, watch for changes by posting the
// loader's arrival and removal messages to the manager window, and unload.
// Load and Unload run on the thread that owns the manager window; watcher
// threads only post. Load never throws: a missing library or a failed
// initialisation returns false and leaves nothing loaded.
class wclStackLoader {
public:
    virtual ~wclStackLoader() = default;
    virtual bool Load(const MessageWindowHandle& managerWindow) = 0;
    // Stops the watcher first, then frees the libraries. Harmless when not loaded.
    virtual void Unload() = 0;
    virtual bool IsLoaded() const = 0;
};

// The operations every Bluetooth stack supplies for its radio and the devices
// around it. Addresses are the 19-character text form. Calls block the calling
// thread (which may be a worker thread) until the stack answers; each throws
// the library error named for it when the stack call fails.
class wclBluetoothBinding : public wclStackLoader {
public:
    // wclERadioAddressReadError (or wclEGetRadioHandle when there is no radio).
    virtual std::uint64_t ReadRadioAddress() = 0;
    // wclERadoNameWriteError (or wclEGetRadioHandle).
    virtual void WriteRadioName(const std::string& name) = 0;
    // The addresses found, in the stack's order, duplicates kept; nullopt when
    // the inquiry failed (an empty list is a successful inquiry that found nothing).
    virtual std::optional<std::vector<std::string>> Inquiry() = 0;
    // wclERemoteDeviceNameReadError.
    virtual std::string ReadRemoteName(const std::string& address) = 0;
    // wclERemoteClassOfDeviceReadError.
    virtual std::uint32_t ReadRemoteClassOfDevice(const std::string& address) = 0;
    // wclEEnumServices. With a class UUID, only services of that class.
    virtual std::vector<wclServiceInfo> EnumServices(const std::string& address,
                                                     const std::optional<GUID>& serviceClass) = 0;

    // Starts opening an RFCOMM link to a device and returns the link, whose
    // result arrives later through events.onConnect. Unlike the calls above it
    // runs on the connection's loop thread and must not block. Synchronous
    // failures throw (wclEUnableConnect, wclEInvalidAddress); a stack without
    // a connect path raises wclEInvalidBluetoothAPI, the default. The caller
    // holds a lease only while this runs: the link keeps whatever it needs of
    // the stack, and connections close their links (message 1043) before the
    // manager unloads a stack.
    virtual std::unique_ptr<wclConnectionBackend> OpenLink(EventLoop& loop,
                                                           const wclBluetoothLinkRequest& request,
                                                           wclLinkEvents events);
    // Whether the stack takes several connection attempts at once. The
    // default, one attempt at a time, is what every stack copes with.
    virtual bool ConnectsInParallel() const { return false; }
};

}  // namespace kavri
