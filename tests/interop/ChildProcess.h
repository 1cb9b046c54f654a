#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace kavri::test {

// A program that an interoperability test starts: its standard output and
// error arrive merged through one pipe, every wait has a time limit, and a
// program still running when the object goes is killed and reaped, so no test
// path leaves a child behind. Used on one thread. The constructor throws
// std::system_error when the program cannot be started.
class ChildProcess {
public:
    // argv[0] is the program's path. environment entries ("NAME=value") are
    // added to, or replace, the test's own environment.
    explicit ChildProcess(std::vector<std::string> argv, std::vector<std::string> environment = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The next line of output without its line end; nothing when the time is
    // up or the output ended first.
    std::optional<std::string> ReadLine(std::chrono::milliseconds timeout);
    // Skips lines until one starts with prefix; returns the rest of it.
    std::optional<std::string> WaitForLine(const std::string& prefix,
                                           std::chrono::milliseconds timeout);

    // Collects output until the program ends; its exit status (128 + signal
    // number when a signal ended it), or nothing when the time ran out, in
    // which case the program is killed.
    std::optional<int> Wait(std::chrono::milliseconds timeout);
    // SIGTERM, then SIGKILL if it has not ended within timeout.
    std::optional<int> Terminate(std::chrono::milliseconds timeout);

    // Everything read so far, lines already returned included.
    const std::string& Output() const { return m_output; }
    bool Running() const { return !m_status.has_value(); }
    // The most memory the program held resident at once, in KiB (its VmHWM);
    // 0 until it has ended and been reaped.
    long PeakResidentKb() const { return m_peakKb; }

private:
    // Reads what is available within timeout; false at the end of output.
    bool Pump(std::chrono::milliseconds timeout);
    bool Reap(bool block);
    void Kill();

    pid_t m_pid = -1;
    int m_pidFd = -1;
    int m_outputFd = -1;
    std::string m_output;
    std::size_t m_consumed = 0;  // m_output handed out as lines
    std::optional<int> m_status;
    long m_peakKb = 0;
};

}  // namespace kavri::test
