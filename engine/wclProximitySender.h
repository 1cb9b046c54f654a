#pragma once

#include "engine/wclOBEXClients.h"
#include "platform/EventLoop.h"
#include "stack/wclBluetoothDiscovery.h"
#include "stack/wclMessages.h"
#include "stack/wclTypes.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace kavri {

class TwclProximitySender;

// The sender's events. Devices handed to a handler belong to the sender and
// live only during the handler (the accepted devices until the next discovery
// starts): copy with Assign what you keep. File names are the paths as the
// owner gave them in OnGetFile. Answers travel back through the references.
using TwclSenderNotifyEvent = std::function<void(TwclProximitySender& sender)>;
using TwclSpamAcceptDeviceEvent = std::function<void(
    TwclProximitySender& sender, const TwclBluetoothDevice& device, bool& accept)>;
using TwclSpamConnectedEvent = std::function<void(
    TwclProximitySender& sender, const TwclBluetoothDevice& device, std::uint32_t result)>;
using TwclSpamConnectingEvent =
    std::function<void(TwclProximitySender& sender, const TwclBluetoothDevice& device)>;
using TwclSpamDiscoveryCompleteEvent =
    std::function<void(TwclProximitySender& sender, const TwclBluetoothDevices& devices)>;
using TwclSpamFileSendCompleteEvent =
    std::function<void(TwclProximitySender& sender, const TwclBluetoothDevice& device,
                       const std::string& fileName, std::uint32_t result)>;
using TwclSpamFileSendStartEvent = std::function<void(
    TwclProximitySender& sender, const TwclBluetoothDevice& device, const std::string& fileName)>;
using TwclSpamGetFileEvent =
    std::function<void(TwclProximitySender& sender, std::string& fileName, bool& more)>;
using TwclSpamProgressEvent =
    std::function<void(TwclProximitySender& sender, const TwclBluetoothDevice& device,
                       const std::string& fileName, std::uint32_t position, std::uint32_t size)>;

// The proximity sender: once started it discovers the devices in range of its
// radio, asks the owner which to serve (OnAcceptDevice) and which files to
// push (OnGetFile), connects to each accepted device's Object Push service
// through a pool of MaxConnections Object Push clients, pushes every file in
// order, pauses SleepInterval ms and starts over, until Stop. At most one
// sender runs per Bluetooth stack in the process.
//
// Thread: the loop thread; every event is raised there. The only other thread
// is the hand-off thread of each cycle, which holds copies and sends one
// message to the sender's window; the sender joins it (a sender destroyed
// inside the handler of that very message lets it go instead).
// Owns: its radio copy, the discovery component, the client pool, the
// accepted devices and file list of the cycle, the pacing (250 ms) and sleep
// timers, and a message window that is in the process notification list for
// the sender's whole life (stack changes 1041 and 1043 stop it; 1066 carries
// the hand-off).
// Files are read from the disk as they are pushed, a packet at a time.
// Throws: the setters raise wclEOperationInProgress while Active and
// wclEInvalidArgument for a value out of range; Start raises
// wclERadioRequired, the stack checks, and wclEOperationInProgress when
// another sender runs on the same stack. Results of connections and pushes
// arrive as the library's codes in OnConnected and OnFileSendComplete.
// Exceptions thrown by the owner's handlers are not caught: the step in
// progress is abandoned and the exception reaches the application's handler.
class TwclProximitySender {
public:
    // Makes the clients of the pool; the default makes plain TwclOPPClient
    // objects on the sender's loop.
    using ClientFactory = std::function<std::unique_ptr<TwclOPPClient>(EventLoop& loop)>;

    static constexpr std::int32_t kDefaultConnectTimeOut = 30000;
    static constexpr std::int32_t kDefaultResponseTimeOut =
        TwclCustomOBEXClient::kDefaultResponseTimeOut;
    static constexpr std::uint8_t kDefaultMaxConnections = 5;
    static constexpr std::uint32_t kDefaultSleepInterval = 2000;
    static constexpr std::uint32_t kMinSleepInterval = 1000;
    static constexpr std::uint32_t kPacingInterval = 250;
    // OnGetFile is asked at most this often per cycle, so a handler that
    // never clears More cannot hang the main thread.
    static constexpr std::size_t kMaxGetFileCalls = 65536;

    explicit TwclProximitySender(EventLoop& loop);
    TwclProximitySender(EventLoop& loop, ClientFactory clientFactory);
    ~TwclProximitySender();  // Stop runs first

    TwclProximitySender(const TwclProximitySender&) = delete;
    TwclProximitySender& operator=(const TwclProximitySender&) = delete;

    bool Active() const { return m_active; }
    std::int32_t ConnectTimeOut() const { return m_connectTimeOut; }
    void SetConnectTimeOut(std::int32_t ms);
    // How long each client's OBEX request waits for its answer (ms; 0 or less:
    // without limit). A device that stays silent longer ends its file with
    // 0x8000F02F and its link is closed, so the cycle goes on without it.
    std::int32_t ResponseTimeOut() const { return m_responseTimeOut; }
    void SetResponseTimeOut(std::int32_t ms);
    std::uint8_t MaxConnections() const { return static_cast<std::uint8_t>(m_clients.size()); }
    void SetMaxConnections(std::uint8_t count);
    std::uint32_t SleepInterval() const { return m_sleepInterval; }
    void SetSleepInterval(std::uint32_t ms);
    // The sender's own copy, or none. Setting copies the radio's stack.
    const TwclBluetoothRadio* Radio() const { return m_radio.get(); }
    void SetRadio(const TwclBluetoothRadio* radio);

    void Start();
    void Stop();

    TwclSpamAcceptDeviceEvent OnAcceptDevice;
    TwclSpamConnectedEvent OnConnected;
    TwclSpamConnectingEvent OnConnecting;
    TwclSpamDiscoveryCompleteEvent OnDevicesAccepted;
    TwclSpamConnectingEvent OnDisconnected;
    TwclSpamDiscoveryCompleteEvent OnDiscoveryComplete;
    TwclSenderNotifyEvent OnDiscoveryStarted;
    TwclSpamFileSendCompleteEvent OnFileSendComplete;
    TwclSpamFileSendStartEvent OnFileSendStart;
    TwclSpamConnectingEvent OnFilesSendComplete;
    TwclSpamConnectingEvent OnFilesSendStart;
    TwclSpamGetFileEvent OnGetFile;
    TwclSpamProgressEvent OnProgress;
    TwclSenderNotifyEvent OnSleepDone;
    TwclSenderNotifyEvent OnSleepStarted;
    TwclSenderNotifyEvent OnStarted;
    TwclSenderNotifyEvent OnStopped;

private:
    enum class Phase : std::uint8_t { Stopped, Discovering, HandingOff, Connecting, Sleeping };

    // One client of the pool and what the sender keeps about its attempt.
    struct ClientSlot {
        std::unique_ptr<TwclOPPClient> client;
        // Index, in the file list, of the file this client sends next.
        std::size_t tag = 0;
        // Taken for a device while its OnConnecting runs, before Connect.
        bool reserved = false;
        // Connect was called and its result has not been reported yet.
        bool attemptOpen = false;
        // The attempt was reported connected: its close is an OnDisconnected.
        bool linkUp = false;
        // The device of the attempt, for when the accepted list no longer
        // holds its address.
        TwclBluetoothDevice device;
    };

    // A hand-off thread and what the sender keeps to reap it.
    struct HandOff {
        std::uint64_t id = 0;
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> finished;
        // Its message is being handled now: the thread waits for that handler.
        bool inHandler = false;
    };

    // Whether code that raised an event may go on: the sender still exists,
    // is Active, and was not stopped and started again in between.
    struct Mark {
        std::weak_ptr<void> life;
        std::uint64_t run = 0;
    };
    Mark MarkRun() const { return {m_lifeToken, m_run}; }
    static bool StillRunning(const TwclProximitySender* self, const Mark& mark);

    void CreateClients(std::uint8_t count);
    void DestroyClients();
    ClientSlot* FirstIdleClient();
    bool AnyClientActive() const;
    const TwclBluetoothDevice& DeviceOf(const ClientSlot& slot) const;

    void HandleMessage(const Message& message);
    void BeginDiscovery();
    void DiscoveryStarted();
    void DiscoveryComplete(const TwclBluetoothDevices* found);
    void StartHandOff();
    void HandOffReceived(std::uint64_t id, const TwclBluetoothDevices* devices);
    void ReapHandOffs();
    bool BuildFileList();
    void StartConnections();
    void BeginSleep();
    void EnablePacing();
    void PacingTick();
    void SleepTick();

    void ClientConnect(ClientSlot& slot, std::uint32_t result);
    void ClientDisconnect(ClientSlot& slot);
    void ClientComplete(ClientSlot& slot, std::uint32_t result, TwclOBEXOperation operation);
    void ClientProgress(ClientSlot& slot, std::uint32_t position, std::uint32_t size);
    void SendNextFile(ClientSlot& slot);

    EventLoop& m_loop;
    ClientFactory m_clientFactory;
    // Expires when the sender is destroyed, also from inside a handler.
    std::shared_ptr<int> m_lifeToken = std::make_shared<int>(0);
    bool m_active = false;
    Phase m_phase = Phase::Stopped;
    // Counts Starts: work begun in a run that was stopped and started again
    // is dropped.
    std::uint64_t m_run = 0;
    EventLoop::TimerId m_pacingTimer = 0;
    std::int32_t m_connectTimeOut = kDefaultConnectTimeOut;
    std::int32_t m_responseTimeOut = kDefaultResponseTimeOut;
    TwclBluetoothDevices m_acceptedDevices;
    std::unique_ptr<TwclBluetoothDiscovery> m_discovery;
    std::vector<std::string> m_files;
    // Slots stay at one address while they live: the clients' handlers hold it.
    std::vector<std::unique_ptr<ClientSlot>> m_clients;
    std::unique_ptr<TwclBluetoothRadio> m_radio;
    std::uint32_t m_sleepInterval = kDefaultSleepInterval;
    EventLoop::TimerId m_sleepTimer = 0;
    std::unique_ptr<MessageWindow> m_window;
    std::size_t m_deviceCursor = 0;
    // The stack whose running flag this sender holds while Active.
    std::optional<TwclBluetoothAPI> m_runningStack;
    std::vector<HandOff> m_handOffs;
    std::uint64_t m_lastHandOff = 0;
    // The hand-off the current cycle waits for; 0 when none.
    std::uint64_t m_expectedHandOff = 0;
};

}  // namespace kavri
