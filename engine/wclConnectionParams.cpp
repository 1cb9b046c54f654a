#include "engine/wclConnectionParams.h"

#include "engine/wclConnections.h"
#include "stack/wclBluetoothAddress.h"
#include "stack/wclExceptions.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>

namespace kavri {

namespace {

constexpr std::array<std::uint32_t, 15> kBaudRates = {
    110,   300,   600,   1200,  2400,   4800,   9600,   14400,
    19200, 38400, 56000, 57600, 115200, 128000, 256000,
};

}  // namespace

void TwclCustomParams::CheckNotActive() const {
    if (m_owner.Active()) {
        throw wclEConnectionActive();
    }
}

void TwclTimeouts::SetReadTimeout(std::uint32_t ms) {
    if (ms == m_readTimeout) {
        return;
    }
    CheckNotActive();
    if (ms == 0) {
        throw wclEInvalidTimeout();
    }
    m_readTimeout = ms;
}

void TwclTimeouts::SetWriteTimeout(std::uint32_t ms) {
    if (ms == m_writeTimeout) {
        return;
    }
    CheckNotActive();
    if (ms == 0) {
        throw wclEInvalidTimeout();
    }
    m_writeTimeout = ms;
}

void TwclBuffers::SetReadBuffer(std::uint32_t bytes) {
    if (bytes == m_readBuffer) {
        return;
    }
    CheckNotActive();
    if (bytes == 0) {
        throw wclEInvalidBuffer();
    }
    m_readBuffer = bytes;
}

void TwclBuffers::SetWriteBuffer(std::uint32_t bytes) {
    if (bytes == m_writeBuffer) {
        return;
    }
    CheckNotActive();
    if (bytes == 0) {
        throw wclEInvalidBuffer();
    }
    m_writeBuffer = bytes;
}

void TwclSerialPortClientParams::SetBaudRate(TwclBaudRate value) {
    if (value == m_baudRate) {
        return;
    }
    CheckNotActive();
    m_baudRate = value;
    const auto index = static_cast<std::size_t>(value);
    if (index < kBaudRates.size()) {
        m_baudRateValue = kBaudRates[index];
    }
}

void TwclSerialPortClientParams::SetBaudRateValue(std::uint32_t value) {
    if (value == m_baudRateValue) {
        return;
    }
    CheckNotActive();
    if (value == 0) {
        throw wclEInvalidBaudRateValue();
    }
    m_baudRateValue = value;
    const auto found = std::find(kBaudRates.begin(), kBaudRates.end(), value);
    m_baudRate = found == kBaudRates.end()
                     ? TwclBaudRate::brCustom
                     : static_cast<TwclBaudRate>(std::distance(kBaudRates.begin(), found));
}

void TwclSerialPortClientParams::SetByteSize(TwclByteSize value) {
    if (value == m_byteSize) {
        return;
    }
    CheckNotActive();
    m_byteSize = value;
}

void TwclSerialPortClientParams::SetParity(TwclParity value) {
    if (value == m_parity) {
        return;
    }
    CheckNotActive();
    m_parity = value;
}

void TwclSerialPortClientParams::SetPort(std::uint32_t value) {
    if (value == m_port) {
        return;
    }
    CheckNotActive();
    if (value == 0) {
        throw wclEInvalidSerialPortNumber();
    }
    m_port = value;
}

void TwclSerialPortClientParams::SetStopBits(TwclStopBits value) {
    if (value == m_stopBits) {
        return;
    }
    CheckNotActive();
    m_stopBits = value;
}

void TwclBluetoothParams::SetAuthentication(bool value) {
    if (value == m_authentication) {
        return;
    }
    CheckNotActive();
    m_authentication = value;
    if (!value) {
        m_encryption = false;  // encryption needs an authenticated link
    }
}

void TwclBluetoothParams::SetChannel(unsigned value) {
    if (value == m_channel) {
        return;
    }
    CheckNotActive();
    if (value >= 32) {
        throw wclEInvalidChannel();
    }
    m_channel = static_cast<std::uint8_t>(value);
}

void TwclBluetoothParams::SetEncryption(bool value) {
    if (value == m_encryption) {
        return;
    }
    CheckNotActive();
    if (value && !m_authentication) {
        throw wclEInvalidEncrytpionFlag();
    }
    m_encryption = value;
}

void TwclBluetoothParams::SetRadio(const TwclBluetoothRadio* radio) {
    const bool same = radio == nullptr ? m_radio == nullptr
                                       : m_radio != nullptr && m_radio->API() == radio->API();
    if (same) {
        return;
    }
    CheckNotActive();
    m_radio.reset();
    if (radio != nullptr) {
        m_radio = std::make_unique<TwclBluetoothRadio>(radio->API());
    }
}

void TwclBluetoothParams::SetServiceUUID(const GUID& uuid) {
    if (std::memcmp(&uuid, &m_serviceUUID, sizeof uuid) == 0) {
        return;
    }
    CheckNotActive();
    m_serviceUUID = uuid;
}

void TwclBluetoothParams::SetServiceName(const std::string& name) {
    if (name == m_serviceName) {
        return;
    }
    CheckNotActive();
    m_serviceName = name;
}

void TwclBluetoothClientParams::SetAddress(const std::string& address) {
    if (address == m_address) {
        return;
    }
    CheckNotActive();
    ValidateAddress(address);
    m_address = address;
}

void TwclIrDAParams::SetService(const std::string& service) {
    if (service == m_service) {
        return;
    }
    CheckNotActive();
    if (service.empty()) {
        throw wclEInvalidIrDAService();
    }
    m_service = service;
}

void TwclIrDAClientParams::SetAddress(const std::string& address) {
    if (address == m_address) {
        return;
    }
    CheckNotActive();
    ValidateIrDAAddress(address);
    m_address = address;
}

}  // namespace kavri
