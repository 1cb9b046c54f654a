#pragma once

#include "stack/wclBluetoothDiscovery.h"
#include "stack/wclUUIDs.h"

#include <cstdint>
#include <memory>
#include <string>

namespace kavri {

// The parameter objects of the client connections. Each belongs to one
// connection and lives on its loop thread.

class TwclCustomConnection;

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

}  // namespace kavri
