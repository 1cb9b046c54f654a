#include "sim/PrivateBus.h"

#include "platform/FileDescriptor.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kavri::sim {

namespace {

using Deadline = std::chrono::steady_clock::time_point;

constexpr auto kAddressTimeout = std::chrono::seconds(5);
constexpr auto kExitGrace = std::chrono::milliseconds(2000);
constexpr std::size_t kMaxAddressBytes = 1024;
constexpr std::size_t kMaxLogBytes = 512;
// The descriptors the daemon finds its address pipe and our exec report on.
constexpr int kAddressFd = 3;
constexpr int kExecReportFd = 4;

std::string ErrnoText(int error) {
    return std::strerror(error);
}

std::optional<std::string> FindDaemon() {
    const char* path = std::getenv("PATH");
    const std::string dirs =
        path != nullptr && *path != '\0' ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        const std::size_t end = std::min(dirs.find(':', start), dirs.size());
        const std::string dir = end > start ? dirs.substr(start, end - start) : ".";
        const std::string candidate = dir + "/dbus-daemon";
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return std::nullopt;
}

// Reads what is there before the deadline: the count, 0 at end of file, or
// nullopt when the deadline passed first.
std::optional<std::size_t> ReadBefore(int fd, char* buffer, std::size_t size, Deadline deadline) {
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return std::nullopt;
        pollfd watch{fd, POLLIN, 0};
        const int ready = poll(&watch, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            throw std::runtime_error("cannot wait for dbus-daemon: " + ErrnoText(errno));
        if (ready == 0)
            continue;
        const ssize_t count = read(fd, buffer, size);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            throw std::runtime_error("cannot read from dbus-daemon: " + ErrnoText(errno));
        return static_cast<std::size_t>(count);
    }
}

// The child's exit status once it has ended within the wait, else nullopt.
std::optional<int> ReapWithin(pid_t pid, std::chrono::milliseconds wait) {
    const Deadline deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid || (done < 0 && errno != EINTR))
            return status;
        if (std::chrono::steady_clock::now() >= deadline)
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// Ends the child (asking first, then forcing) and returns its status.
int TerminateAndReap(pid_t pid) {
    kill(pid, SIGTERM);
    if (const auto status = ReapWithin(pid, kExitGrace))
        return *status;
    kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

std::string DescribeStatus(int status) {
    if (WIFEXITED(status))
        return "exited with status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return "was ended by signal " + std::to_string(WTERMSIG(status));
    return "ended";
}

// The first bytes the daemon wrote to its standard error, on one line.
std::string LogText(int logFd) {
    char buffer[kMaxLogBytes];
    const ssize_t count = pread(logFd, buffer, sizeof buffer, 0);
    std::string text;
    for (ssize_t i = 0; i < count; ++i)
        text += buffer[i] == '\n' ? ' ' : buffer[i];
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text.empty() ? std::string() : ": " + text;
}

// In the child between fork and exec: async-signal-safe calls only.
[[noreturn]] void ExecDaemon(pid_t parent, int addressFd, int execReportFd, int logFd,
                             char* const argv[]) {
    // The daemon must never outlive us, not even when we are killed.
    if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || getppid() != parent)
        _exit(127);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    // Lift the three descriptors above the targets first, so no dup2 below
    // overwrites one still needed.
    const int address = fcntl(addressFd, F_DUPFD, 10);
    const int report = fcntl(execReportFd, F_DUPFD, 10);
    const int log = fcntl(logFd, F_DUPFD, 10);
    const int nullFd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (address < 0 || report < 0 || log < 0 || nullFd < 0 || dup2(nullFd, 0) < 0 ||
        dup2(log, 2) < 0 || dup2(address, kAddressFd) < 0 || dup2(report, kExecReportFd) < 0 ||
        fcntl(kExecReportFd, F_SETFD, FD_CLOEXEC) < 0)
        _exit(127);
    if (close_range(kExecReportFd + 1, ~0U, 0) != 0) {
        for (int fd = kExecReportFd + 1; fd < 65536; ++fd)
            close(fd);
    }
    execv(argv[0], argv);
    const int error = errno;
    [[maybe_unused]] const ssize_t written = write(kExecReportFd, &error, sizeof error);
    _exit(127);
}

}  // namespace

bool PrivateBus::DaemonInstalled() {
    return FindDaemon().has_value();
}

std::unique_ptr<PrivateBus> PrivateBus::Start(const std::string& configPath) {
    const std::optional<std::string> program = FindDaemon();
    if (!program)
        throw std::runtime_error("cannot start a private bus: dbus-daemon is not installed");
    if (access(configPath.c_str(), R_OK) != 0)
        throw std::runtime_error("cannot read the bus configuration " + configPath + ": " +
                                 ErrnoText(errno));

    int addressPipe[2];
    if (pipe2(addressPipe, O_CLOEXEC) != 0)
        throw std::runtime_error("cannot start a private bus: " + ErrnoText(errno));
    FileDescriptor addressRead(addressPipe[0]);
    FileDescriptor addressWrite(addressPipe[1]);
    int execPipe[2];
    if (pipe2(execPipe, O_CLOEXEC) != 0)
        throw std::runtime_error("cannot start a private bus: " + ErrnoText(errno));
    FileDescriptor execRead(execPipe[0]);
    FileDescriptor execWrite(execPipe[1]);
    FileDescriptor log(memfd_create("dbus-daemon-log", MFD_CLOEXEC));
    if (log.Get() < 0)
        throw std::runtime_error("cannot start a private bus: " + ErrnoText(errno));

    // Everything the child needs is made before fork: it may not allocate.
    std::string configArgument = "--config-file=" + configPath;
    std::string printArgument = "--print-address=" + std::to_string(kAddressFd);
    std::string program0 = *program;
    std::string noFork = "--nofork";
    char* const argv[] = {program0.data(), configArgument.data(), noFork.data(),
                          printArgument.data(), nullptr};
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("cannot start dbus-daemon: " + ErrnoText(errno));
    if (pid == 0)
        ExecDaemon(parent, addressWrite.Get(), execWrite.Get(), log.Get(), argv);
    addressWrite.Close();
    execWrite.Close();

    const Deadline deadline = std::chrono::steady_clock::now() + kAddressTimeout;
    const auto fail = [&](const std::string& what) -> std::runtime_error {
        const int status = TerminateAndReap(pid);
        return std::runtime_error("dbus-daemon " + what + " (" + DescribeStatus(status) + ")" +
                                  LogText(log.Get()));
    };

    // The report pipe closes on a successful exec; an errno arrives otherwise.
    int execError = 0;
    const auto reported =
        ReadBefore(execRead.Get(), reinterpret_cast<char*>(&execError), sizeof execError, deadline);
    if (!reported)
        throw fail("did not start within 5 s");
    if (*reported > 0) {
        TerminateAndReap(pid);
        throw std::runtime_error("cannot execute " + *program + ": " + ErrnoText(execError));
    }

    std::string address;
    char buffer[256];
    while (address.find('\n') == std::string::npos) {
        if (address.size() > kMaxAddressBytes)
            throw fail("printed an overlong address");
        const auto count = ReadBefore(addressRead.Get(), buffer, sizeof buffer, deadline);
        if (!count)
            throw fail("printed no address within 5 s");
        if (*count == 0)
            throw fail("ended before printing its address");
        address.append(buffer, *count);
    }
    address.resize(address.find('\n'));
    if (address.empty())
        throw fail("printed an empty address");
    return std::unique_ptr<PrivateBus>(new PrivateBus(pid, std::move(address)));
}

PrivateBus::PrivateBus(pid_t pid, std::string address)
    : m_pid(pid), m_address(std::move(address)) {}

PrivateBus::~PrivateBus() {
    TerminateAndReap(m_pid);
}

}  // namespace kavri::sim
