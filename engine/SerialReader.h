#pragma once

#include "platform/SerialPort.h"
#include "stack/wclMessages.h"

#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

namespace kavri {

// Reads an open serial port on its own thread and sends each chunk to a
// message window as message 1053 (WParam: the bytes, LParam: their count),
// waiting until the window has handled it. The thread holds only a share of
// the port, a stop event, the window's handle and the buffer, so that state
// outlives the owner when the thread has to be let go.
//
// Created, stopped, joined and destroyed on the window's loop thread. The
// thread ends by itself when the line hangs up, when a send fails (the window
// is gone) or when Stop is called; a thread that waits for its window cannot
// be joined from inside that window's handler, so the owner joins once the
// window is gone. The constructor raises wclEUnableConnect when the stop
// event, the buffer or the thread cannot be made.
class SerialReader {
public:
    SerialReader(std::unique_ptr<SerialPort> port, MessageWindowHandle window,
                 std::uint32_t readBuffer);
    // Lets a thread that was never joined go: it ends by itself.
    ~SerialReader();
    SerialReader(const SerialReader&) = delete;
    SerialReader& operator=(const SerialReader&) = delete;

    const SerialPort& Port() const;
    void Stop();
    void Join();

private:
    struct State;
    static void Run(State& state);

    std::shared_ptr<State> m_state;
    std::thread m_thread;
};

}  // namespace kavri
