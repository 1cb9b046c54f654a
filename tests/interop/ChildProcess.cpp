#include "interop/ChildProcess.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <map>
#include <system_error>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kavri::test {
namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

}  // namespace

ChildProcess::ChildProcess(std::vector<std::string> argv, std::vector<std::string> environment) {
    std::map<std::string, std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        merged[text.substr(0, text.find('='))] = text;
    }
    for (const std::string& text : environment)
        merged[text.substr(0, text.find('='))] = text;
    std::vector<std::string> envStrings;
    for (auto& [name, text] : merged)
        envStrings.push_back(text);
    std::vector<char*> envp;
    for (std::string& text : envStrings)
        envp.push_back(text.data());
    envp.push_back(nullptr);
    std::vector<char*> args;
    for (std::string& arg : argv)
        args.push_back(arg.data());
    args.push_back(nullptr);

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        throw std::system_error(errno, std::generic_category(), "pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    const int error = ::posix_spawn(&m_pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (error != 0) {
        ::close(fds[0]);
        throw std::system_error(error, std::generic_category(), "spawn " + argv[0]);
    }
    m_outputFd = fds[0];
    // Through syscall(): glibc 2.36 declares pidfd_open without C linkage for
    // C++. -1 on old kernels, where waits poll waitpid instead.
    m_pidFd = static_cast<int>(::syscall(SYS_pidfd_open, m_pid, 0));
}

ChildProcess::~ChildProcess() {
    Kill();
    if (m_outputFd >= 0)
        ::close(m_outputFd);
    if (m_pidFd >= 0)
        ::close(m_pidFd);
}

bool ChildProcess::Pump(std::chrono::milliseconds timeout) {
    if (m_outputFd < 0)
        return false;
    pollfd entry{m_outputFd, POLLIN, 0};
    const int ready = ::poll(&entry, 1, static_cast<int>(timeout.count()));
    if (ready <= 0)
        return true;
    char buffer[65536];
    const ssize_t got = ::read(m_outputFd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR)
        return true;
    if (got <= 0) {
        ::close(m_outputFd);
        m_outputFd = -1;
        return false;
    }
    m_output.append(buffer, static_cast<std::size_t>(got));
    return true;
}

std::optional<std::string> ChildProcess::ReadLine(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const auto end = m_output.find('\n', m_consumed);
        if (end != std::string::npos) {
            std::string line = m_output.substr(m_consumed, end - m_consumed);
            m_consumed = end + 1;
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            return line;
        }
        if (Clock::now() >= deadline || !Pump(std::chrono::milliseconds(RemainingMs(deadline))))
            return std::nullopt;
    }
}

std::optional<std::string> ChildProcess::WaitForLine(const std::string& prefix,
                                                     std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (auto line = ReadLine(std::chrono::milliseconds(RemainingMs(deadline)))) {
        if (line->compare(0, prefix.size(), prefix) == 0)
            return line->substr(prefix.size());
    }
    return std::nullopt;
}

bool ChildProcess::Reap(bool block) {
    if (m_status)
        return true;
    int status = 0;
    pid_t done = 0;
    struct rusage usage {};
    do {
        done = ::wait4(m_pid, &status, block ? 0 : WNOHANG, &usage);
    } while (done < 0 && errno == EINTR);
    if (done != m_pid)
        return false;
    m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    m_peakKb = usage.ru_maxrss;
    return true;
}

std::optional<int> ChildProcess::Wait(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!Reap(false)) {
        if (Clock::now() >= deadline) {
            Kill();
            return std::nullopt;
        }
        // Keep draining the output, or a chatty program blocks on a full pipe.
        pollfd entries[2] = {{m_outputFd, POLLIN, 0}, {m_pidFd, POLLIN, 0}};
        const int wait = std::min(RemainingMs(deadline), m_pidFd >= 0 ? 1000 : 10);
        if (::poll(entries, 2, wait) > 0 && (entries[0].revents & (POLLIN | POLLHUP)) != 0)
            Pump(std::chrono::milliseconds(0));
    }
    // What the program wrote before it ended (a program it left behind that
    // holds the pipe open does not keep us here).
    while (m_outputFd >= 0) {
        pollfd entry{m_outputFd, POLLIN, 0};
        if (::poll(&entry, 1, 0) <= 0 || !Pump(std::chrono::milliseconds(0)))
            break;
    }
    return m_status;
}

std::optional<int> ChildProcess::Terminate(std::chrono::milliseconds timeout) {
    if (!Reap(false))
        ::kill(m_pid, SIGTERM);
    return Wait(timeout);
}

void ChildProcess::Kill() {
    if (m_pid <= 0 || Reap(false))
        return;
    ::kill(m_pid, SIGKILL);
    Reap(true);
}

}  // namespace kavri::test
