#pragma once

#include "engine/wclConnectionParams.h"
#include "platform/EventLoop.h"
#include "stack/wclAPI.h"
#include "stack/wclConnectionBackend.h"
#include "stack/wclMessages.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace kavri {

class SerialReader;

// The client connections: one stream link to a remote party over Bluetooth
// RFCOMM, IrDA or a serial port. Everything here lives on the loop thread of
// the connection.

// One stream link to a remote party: Connect starts opening it and returns;
// the result arrives as OnConnect (0 or a library result code), once per
// attempt. Lives on the loop thread: create, use and destroy it there. While
// Active it owns a message window, in the process notification list, through
// which the serial reader and the stack layer reach it, so every event runs
// on the loop thread. Synchronous failures throw the library's errors; an
// exception thrown while a message is handled (by an event handler, say) goes
// to the application's exception handler.
//
// An event handler may call Disconnect, or destroy the connection.
class TwclCustomConnection {
public:
    explicit TwclCustomConnection(EventLoop& loop);
    // A most-derived class calls DestroyingDisconnect in its destructor.
    virtual ~TwclCustomConnection();
    TwclCustomConnection(const TwclCustomConnection&) = delete;
    TwclCustomConnection& operator=(const TwclCustomConnection&) = delete;

    bool Active() const { return m_active; }
    bool Connected() const { return m_connected; }
    TwclBuffers& Buffers() { return m_buffers; }
    TwclTimeouts& Timeouts() { return m_timeouts; }
    const TwclBuffers& Buffers() const { return m_buffers; }
    const TwclTimeouts& Timeouts() const { return m_timeouts; }

    // wclEConnectionExists when Connected, wclEConnectionActive when Active,
    // the CheckTransport errors, then whatever InternalConnect raises (the
    // connection is then Idle again).
    virtual void Connect();
    // Closes the link; OnDisconnect first when it was Connected. Does nothing
    // unless Active.
    void Disconnect();
    // wclENotConnected unless Connected, wclEInvalidArgument for no data;
    // returns when every byte is handed to the transport.
    virtual void Write(const std::uint8_t* data, std::size_t size);
    virtual int GetSignalLevel() = 0;

    std::function<void(TwclCustomConnection& sender, std::uint32_t result)> OnConnect;
    std::function<void(TwclCustomConnection& sender, const std::uint8_t* data, std::size_t size)>
        OnData;
    std::function<void(TwclCustomConnection& sender)> OnDisconnect;

protected:
    // Raises OnConnect if Active.
    virtual void DoConnect(std::uint32_t result);
    // The link is up; true when the subclass reports the connect result later.
    virtual bool AfterConnect() { return false; }
    // Every received chunk; true when the subclass consumed it.
    virtual bool ProcessData(const std::uint8_t* data, std::size_t size);
    virtual void BeforeDisconnect() {}
    virtual void InternalDisconnect() = 0;
    virtual void InternalConnect() = 0;
    virtual void InternalWrite(const std::uint8_t* data, std::size_t size) = 0;
    // 1041: disconnects when the transport is gone; 1043: disconnects.
    virtual void WndProc(const Message& message);
    // The transport of this connection (a TwclTransport value).
    virtual TwclTransport Transport() const = 0;

    // Hands received bytes on: ProcessData, else OnData (only while Connected
    // and for a non-empty chunk). The handlers see a copy.
    void DataReceived(const std::uint8_t* data, std::size_t size);
    void SetConnected(bool connected) { m_connected = connected; }
    EventLoop& Loop() const { return m_loop; }
    // The message window's handle while Active, a null handle otherwise.
    MessageWindowHandle WindowHandle() const;
    // Expires when the connection is destroyed: code that raises an event
    // checks it before touching the connection again.
    std::weak_ptr<void> LifeToken() const { return m_lifeToken; }
    // Disconnect for a destructor: also completes when the connection is
    // destroyed from inside its own OnDisconnect, without raising events.
    void DestroyingDisconnect();

private:
    // Called by Disconnect once the message window is gone.
    virtual void WindowReleased() {}
    void FinishDisconnect();

    EventLoop& m_loop;
    bool m_active = false;
    TwclBuffers m_buffers{*this};
    bool m_connected = false;
    TwclTimeouts m_timeouts{*this};
    std::unique_ptr<MessageWindow> m_window;
    bool m_inDisconnect = false;
    bool m_destroying = false;
    std::shared_ptr<int> m_lifeToken = std::make_shared<int>(0);
};

// Adds the parameter objects, the transport choice, the connect timer, and the
// Bluetooth, IrDA and serial paths.
//
// Bluetooth asks the binding of the radio's stack for a link
// (wclBluetoothBinding::OpenLink); a stack without a connect path raises
// wclEInvalidBluetoothAPI. IrDA opens the IrDA transport's link
// (OpenIrDALink). Either link reports its connect result, data and close back
// here, on the loop thread; this class never asks which stack it runs on.
//
// A serial port is its device path (SerialPortPath) in raw mode (SerialPort).
// Rates without a B constant are set exactly; a driver that refuses them, and
// 4 data bits, raise wclEUnableConnect. sb15 sets two stop bits. ReadBuffer
// bounds each chunk; the driver's queue sizes have no equivalent. WriteTimeout
// is real time. A reader thread owned by the connection sends what arrives as
// message 1053; it ends by itself when the line hangs up (later writes raise
// wclEWriteError) and is joined by Disconnect, or right after the handling of
// a chunk that disconnected.
class TwclCustomClientConnection : public TwclCustomConnection {
public:
    explicit TwclCustomClientConnection(EventLoop& loop);
    ~TwclCustomClientConnection() override;

    TwclBluetoothClientParams& BluetoothParams() { return m_bluetoothParams; }
    TwclIrDAClientParams& IrDAParams() { return m_irdaParams; }
    TwclSerialPortClientParams& SerialParams() { return m_serialParams; }
    const TwclBluetoothClientParams& BluetoothParams() const { return m_bluetoothParams; }
    const TwclIrDAClientParams& IrDAParams() const { return m_irdaParams; }
    const TwclSerialPortClientParams& SerialParams() const { return m_serialParams; }
    TwclClientTransport ClientTransport() const { return m_clientTransport; }
    // A different value raises wclEConnectionActive while Active.
    void SetClientTransport(TwclClientTransport transport);
    // The connect timer's interval in ms; 0 or less runs no timer. A different
    // value raises wclEConnectionActive while Active.
    std::int32_t ConnectTimeOut() const { return m_connectTimeOut; }
    void SetConnectTimeOut(std::int32_t ms);

    // wclENotConnected, wclEInvalidTransport unless Bluetooth, then the
    // link's reader (wclEUnableGetSignalLevel where the stack has none).
    int GetSignalLevel() override;

protected:
    void DoConnect(std::uint32_t result) override;  // stops the connect timer first
    void InternalDisconnect() override;
    void InternalConnect() override;
    void InternalWrite(const std::uint8_t* data, std::size_t size) override;
    void WndProc(const Message& message) override;
    TwclTransport Transport() const override;
    // IrDA nine-wire mode: on for a plain client connection, off for OBEX.
    void SetNineWireMode(bool on) { m_nineWire = on; }
    bool NineWireMode() const { return m_nineWire; }

private:
    struct SerialDataScope;

    void WindowReleased() override;
    void OpenBluetooth();
    void OpenIrDA();
    void OpenSerial();
    wclLinkSettings LinkSettings() const;
    wclLinkEvents LinkEvents();
    // The link's reports: the connect result, a received chunk, the close.
    void LinkConnected(std::uint32_t result);
    void LinkClosed();
    void HandleSerialData(const Message& message);
    void ConnectTimerTick();
    void StopConnectTimer();
    void JoinStoppedReader();

    TwclBluetoothClientParams m_bluetoothParams{*this};
    TwclClientTransport m_clientTransport = TwclClientTransport::ctBluetooth;
    TwclIrDAClientParams m_irdaParams{*this};
    TwclSerialPortClientParams m_serialParams{*this};
    std::int32_t m_connectTimeOut = 30000;
    bool m_nineWire = true;
    EventLoop::TimerId m_connectTimer = 0;
    bool m_connectReported = false;
    // The open link: a backend for Bluetooth and IrDA, a reader for serial.
    std::unique_ptr<wclConnectionBackend> m_backend;
    std::shared_ptr<SerialReader> m_reader;
    // A reader told to stop whose thread is joined once the window is gone.
    std::shared_ptr<SerialReader> m_stoppedReader;
    // The handling of message 1053 under way; shared so that it outlives a
    // connection destroyed inside it.
    std::shared_ptr<SerialDataScope> m_serialScope;
};

}  // namespace kavri
