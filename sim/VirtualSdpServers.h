#pragma once

#include "sim/Scenario.h"
#include "stack/wclUUIDs.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace kavri::sim {

// The service records a device's SDP server holds: one per ServiceSpec, in
// scenario order, with handles 0x00010000 upwards (class list, RFCOMM channel
// when it is not 0, name, comment, texts in UTF-8 or UTF-16).
std::vector<std::vector<std::uint8_t>> DeviceServiceRecords(const DeviceSpec& device);

// The SDP servers of the virtual devices, over loopback TCP: each answers
// ServiceSearchAttributeRequests with its device's service records, splits
// long answers with continuation states, and answers a malformed request with
// an ErrorResponse. They stand in for the remote devices, so they run on a
// thread of their own (started by the constructor, stopped and joined by the
// destructor) that serves every listener and connection with poll(); the
// public members may be called from any thread. It owns its sockets. A
// request over 1 KiB, a client that does not read its answers, and
// connections beyond 32 per device are closed. Endpoint throws
// std::system_error when a listening socket cannot be set up.
class VirtualSdpServers {
public:
    explicit VirtualSdpServers(const Scenario& scenario);
    ~VirtualSdpServers();
    VirtualSdpServers(const VirtualSdpServers&) = delete;
    VirtualSdpServers& operator=(const VirtualSdpServers&) = delete;

    // "127.0.0.1:PORT" of the device's SDP server (created on first request,
    // then kept), or nullopt for an address the scenario does not have. The
    // address is compared without its parentheses and in either case.
    std::optional<std::string> Endpoint(const std::string& address);
    // Tests: serve these bytes as the device's attribute lists content (the
    // record sequences, without the outer sequence header) whatever the
    // request asks for, or never answer at all.
    void SetRawRecords(const std::string& address, std::vector<std::uint8_t> records);
    void SetSilent(const std::string& address, bool silent);

private:
    struct Record {
        std::vector<std::uint8_t> bytes;
        std::vector<GUID> uuids;  // every UUID the record holds
    };
    struct Device {
        std::vector<Record> records;
        std::optional<std::vector<std::uint8_t>> rawRecords;
        bool silent = false;
        int listenFd = -1;
        std::uint16_t port = 0;
    };
    // One accepted link; the server thread alone touches it.
    struct Connection {
        int fd = -1;
        std::string device;
        std::vector<std::uint8_t> input;
        // The attribute lists still being sent in pieces, and how far.
        std::vector<std::uint8_t> pending;
        std::size_t offset = 0;
    };

    void Run();
    void Accept(int listenFd, const std::string& device);
    // False when the connection is to be closed.
    bool Serve(Connection& connection);
    std::vector<std::uint8_t> Answer(Connection& connection, const std::uint8_t* pdu,
                                     std::size_t length);
    std::vector<std::uint8_t> AttributeLists(const std::string& device,
                                             const std::vector<GUID>& pattern,
                                             const std::vector<std::uint32_t>& ranges);
    void Wake();

    std::mutex m_mutex;
    std::map<std::string, Device> m_devices;  // by normalised address; guarded by m_mutex
    std::vector<Connection> m_connections;    // server thread only
    int m_wakeFd = -1;
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
};

}  // namespace kavri::sim
