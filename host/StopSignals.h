#pragma once

namespace kavri::host {

// SIGINT and SIGTERM, while an object lives, only write a byte to a pipe that
// the program's loop watches; the loop then runs the orderly shutdown. The
// previous handlers come back on destruction. One at a time in a process (a
// second throws std::logic_error); the constructor throws std::system_error
// when the pipe or a handler cannot be set up. Construct and destroy it on
// one thread.
class StopSignals {
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // The pipe's reading end: readable once a signal came.
    int Fd() const { return m_readFd; }
    // Whether a signal came; empties the pipe.
    bool Take();

private:
    int m_readFd = -1;
    int m_writeFd = -1;
};

}  // namespace kavri::host
