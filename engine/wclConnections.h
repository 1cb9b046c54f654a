#pragma once

#include "platform/EventLoop.h"
#include "stack/wclAPI.h"
#include "stack/wclBluetoothDiscovery.h"
#include "stack/wclMessages.h"
#include "stack/wclUUIDs.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace kavri {

// The client connections: one stream link to a remote party over Bluetooth
// RFCOMM, IrDA or a serial port, with the parameter objects that configure
// it. Everything here lives on the loop thread of the connection.

class TwclCustomConnection;

// Where serial port N (1, 2, ...) is opened on this system. In order: a path
// set with SetSerialPortPath, the environment variable KAVRI_SERIAL_PORT_<N>
// (for example KAVRI_SERIAL_PORT_3=/dev/rfcomm0, or a pseudo-terminal), and
// otherwise "/dev/ttyS<N-1>" (port 1 is /dev/ttyS0). Any thread.
std::string SerialPortPath(std::uint32_t port);
// Sets the path of one port for this process; an empty path removes the
// setting. Any thread.
void SetSerialPortPath(std::uint32_t port, const std::string& path);

// Base of the parameter objects: every setter does nothing when the value does
// not change; otherwise it raises wclEConnectionActive while the owning
// connection is Active, then validates, then stores.
class TwclCustomParams {
public:
    explicit TwclCustomParams(TwclCustomConnection& owner) : m_owner(owner) {}
    virtual ~TwclCustomParams() = default;
    TwclCustomParams(const TwclCustomParams&) = delete;
    TwclCustomParams& operator=(const TwclCustomParams&) = delete;

protected:
    // Raises wclEConnectionActive while the owner is Active.
    void CheckNotActive() const;
    TwclCustomConnection& m_owner;
};

// ReadTimeout and WriteTimeout in milliseconds.
class TwclTimeouts : public TwclCustomParams {
public:
    using TwclCustomParams::TwclCustomParams;
    std::uint32_t ReadTimeout() const { return m_readTimeout; }
    std::uint32_t WriteTimeout() const { return m_writeTimeout; }
    void SetReadTimeout(std::uint32_t ms);   // 0 raises wclEInvalidTimeout
    void SetWriteTimeout(std::uint32_t ms);  // 0 raises wclEInvalidTimeout

private:
    std::uint32_t m_readTimeout = 10000;
    std::uint32_t m_writeTimeout = 10000;
};

// ReadBuffer: the most bytes one read hands on; WriteBuffer: the transport's
// send buffer.
class TwclBuffers : public TwclCustomParams {
public:
    using TwclCustomParams::TwclCustomParams;
    std::uint32_t ReadBuffer() const { return m_readBuffer; }
    std::uint32_t WriteBuffer() const { return m_writeBuffer; }
    void SetReadBuffer(std::uint32_t bytes);   // 0 raises wclEInvalidBuffer
    void SetWriteBuffer(std::uint32_t bytes);  // 0 raises wclEInvalidBuffer

private:
    std::uint32_t m_readBuffer = 2048;
    std::uint32_t m_writeBuffer = 2048;
};

enum class TwclBaudRate : std::uint8_t {
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000,
    brCustom,
};
enum class TwclByteSize : std::uint8_t { bs4, bs5, bs6, bs7, bs8 };
enum class TwclParity : std::uint8_t { paNone, paOdd, paEven, paMark, paSpace };
enum class TwclStopBits : std::uint8_t { sb1, sb15, sb2 };

// The line settings of the serial transport. BaudRate and BaudRateValue move
// together: a named rate sets the value, a value sets the matching name or
// brCustom; brCustom keeps the value.
class TwclSerialPortClientParams : public TwclCustomParams {
public:
    using TwclCustomParams::TwclCustomParams;
    TwclBaudRate BaudRate() const { return m_baudRate; }
    std::uint32_t BaudRateValue() const { return m_baudRateValue; }
    TwclByteSize ByteSize() const { return m_byteSize; }
    TwclParity Parity() const { return m_parity; }
    std::uint32_t Port() const { return m_port; }
    TwclStopBits StopBits() const { return m_stopBits; }
    void SetBaudRate(TwclBaudRate value);
    void SetBaudRateValue(std::uint32_t value);  // 0 raises wclEInvalidBaudRateValue
    void SetByteSize(TwclByteSize value);
    void SetParity(TwclParity value);
    void SetPort(std::uint32_t value);  // 0 raises wclEInvalidSerialPortNumber
    void SetStopBits(TwclStopBits value);

private:
    TwclBaudRate m_baudRate = TwclBaudRate::br115200;
    std::uint32_t m_baudRateValue = 115200;
    TwclByteSize m_byteSize = TwclByteSize::bs8;
    TwclParity m_parity = TwclParity::paNone;
    std::uint32_t m_port = 1;
    TwclStopBits m_stopBits = TwclStopBits::sb1;
};

// The RFCOMM settings. Channel 0 means: the stack finds the channel of
// ServiceUUID by service discovery. Radio, ServiceUUID and ServiceName follow
// the same rules as the other setters (no change, no check; Active raises).
class TwclBluetoothParams : public TwclCustomParams {
public:
    using TwclCustomParams::TwclCustomParams;
    bool Authentication() const { return m_authentication; }
    std::uint8_t Channel() const { return m_channel; }
    bool Encryption() const { return m_encryption; }
    void SetAuthentication(bool value);  // false also clears Encryption
    void SetChannel(unsigned value);     // 32 or more raises wclEInvalidChannel
    // True while Authentication is false raises wclEInvalidEncrytpionFlag.
    void SetEncryption(bool value);

    // The radio whose stack carries the link: a copy of the one given, or none.
    const TwclBluetoothRadio* Radio() const { return m_radio.get(); }
    void SetRadio(const TwclBluetoothRadio* radio);
    const GUID& ServiceUUID() const { return m_serviceUUID; }
    void SetServiceUUID(const GUID& uuid);
    const std::string& ServiceName() const { return m_serviceName; }
    void SetServiceName(const std::string& name);

private:
    bool m_authentication = false;
    std::uint8_t m_channel = 0;
    bool m_encryption = false;
    std::unique_ptr<TwclBluetoothRadio> m_radio;
    GUID m_serviceUUID = BaseUUID;
    std::string m_serviceName = "Bluetooth Service";
};

// The remote device: a 19-character address text.
class TwclBluetoothClientParams : public TwclBluetoothParams {
public:
    using TwclBluetoothParams::TwclBluetoothParams;
    const std::string& Address() const { return m_address; }
    void SetAddress(const std::string& address);  // wclEInvalidAddress

private:
    std::string m_address = "(00:00:00:00:00:00)";
};

// The IrDA service name. The IrDA socket address holds at most 24 bytes of
// it: a longer name is refused when the connection opens
// (wclEInvalidIrDAService), not cut short.
class TwclIrDAParams : public TwclCustomParams {
public:
    using TwclCustomParams::TwclCustomParams;
    const std::string& Service() const { return m_service; }
    void SetService(const std::string& service);  // empty raises wclEInvalidIrDAService

private:
    std::string m_service = "IrDA:Service";
};

// The remote IrDA device: a 13-character address text "(XX:XX:XX:XX)".
class TwclIrDAClientParams : public TwclIrDAParams {
public:
    using TwclIrDAParams::TwclIrDAParams;
    const std::string& Address() const { return m_address; }
    void SetAddress(const std::string& address);  // wclEInvalidAddress

private:
    std::string m_address = "(00:00:00:00)";
};

// One stream link to a remote party: Connect starts opening it and returns;
// the result arrives as OnConnect (0 or a library result code), once per
// attempt. Lives on the loop thread: create, use and destroy it there. While
// Active it owns a message window, in the process notification list, through
// which socket events, the serial reader and the stack layer reach it, so
// every event runs on the loop thread. Synchronous failures throw the
// library's errors; an exception thrown while a message is handled (by an
// event handler, say) goes to the application's exception handler.
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
// Bluetooth (Microsoft stack), IrDA and serial paths.
//
// Bluetooth and IrDA go through Winsock stream sockets whose entry points are
// resolved by name from "ws2_32.dll" while the link is open; their events
// arrive as message 1052. The Bluetooth paths of the BlueSoleil, Toshiba and
// Widcomm stacks are not in this build: connecting on them raises
// wclEInvalidBluetoothAPI.
//
// A serial port is its device path (SerialPortPath) in raw mode. Rates without
// a B constant (14400, 56000, 128000, 256000, custom values) are set exactly
// through the kernel's arbitrary-rate interface; a driver that refuses them,
// and 4 data bits, raise wclEUnableConnect. sb15 sets two stop bits (there is
// no 1.5 here; a UART sends 1.5 with five data bits). RTS and DTR are raised
// where the line has them. ReadBuffer bounds each chunk; the driver's queue
// sizes have no equivalent. WriteTimeout is real time. A reader thread owned
// by the connection sends what arrives as message 1053; it ends by itself when
// the line hangs up (later writes raise wclEWriteError) and is joined by
// Disconnect, or right after the handling of a chunk that disconnected.
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
    // stack's reader (the Microsoft stack raises wclEFeatureNotSupported).
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

    // The per-stack signal-level readers.
    virtual int GetBlueSoleilSignalLevel();
    virtual int GetMicrosoftSignalLevel();
    virtual int GetToshibaSignalLevel();
    virtual int GetWidCommSignalLevel();

private:
    struct Link;  // the open transport (socket or serial port and its reader)
    class SerialReader;
    struct SerialDataScope;

    void WindowReleased() override;
    void OpenBluetooth();
    void OpenSocket(bool bluetooth);
    void OpenSerial();
    void HandleSocketEvent(const Message& message);
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
    std::unique_ptr<Link> m_link;
    // A reader told to stop whose thread is joined once the window is gone.
    std::shared_ptr<SerialReader> m_stoppedReader;
    // The handling of message 1053 under way; shared so that it outlives a
    // connection destroyed inside it.
    std::shared_ptr<SerialDataScope> m_serialScope;
};

}  // namespace kavri
