#pragma once

#include <memory>
#include <string>

#include <sys/types.h>

namespace kavri::sim {

// A message bus of our own: a dbus-daemon child process started from a
// configuration file (sim/bluez-bus.conf), on which the stand-in Bluetooth
// daemon and its clients meet without touching the system or session bus.
//
// Start forks and executes dbus-daemon, waits (at most five seconds of real
// time) for the address it prints, and throws std::runtime_error with the
// reason when dbus-daemon is missing, cannot be executed, exits or stays
// silent; what the daemon wrote to its standard error is part of the message.
// The daemon is asked to die with the thread that started it
// (PR_SET_PDEATHSIG), so start the bus on a thread that outlives its use. The
// destructor ends the daemon (SIGTERM, SIGKILL after two seconds) and reaps
// it. Owned by one thread at a time; nothing else is shared.
class PrivateBus {
public:
    static std::unique_ptr<PrivateBus> Start(const std::string& configPath);
    // Whether a dbus-daemon program is found on PATH.
    static bool DaemonInstalled();

    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    // The address clients connect to ("unix:path=...,guid=...").
    const std::string& Address() const { return m_address; }

private:
    PrivateBus(pid_t pid, std::string address);

    pid_t m_pid;
    std::string m_address;
};

}  // namespace kavri::sim
