#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace kavri {

// Result codes of the Bluetooth library. Synchronous operations throw the
// exception class of a code; asynchronous ones report the same number through
// their completion events. All failures have the form 0x8000F0nn.
using wclResult = std::uint32_t;

inline constexpr wclResult kWclSuccess = 0;

inline constexpr wclResult kWclErrAPINotLoaded = 0x8000F001;
inline constexpr wclResult kWclErrTransportNotAvailable = 0x8000F002;
inline constexpr wclResult kWclErrBluetoothAPINotAvailable = 0x8000F003;
inline constexpr wclResult kWclErrInvalidAddress = 0x8000F004;
inline constexpr wclResult kWclErrInvalidArgument = 0x8000F005;
inline constexpr wclResult kWclErrIndexOutOfRange = 0x8000F006;
inline constexpr wclResult kWclErrOperationInProgress = 0x8000F007;
inline constexpr wclResult kWclErrInvalidBluetoothAPI = 0x8000F008;
inline constexpr wclResult kWclErrRadioAddressRead = 0x8000F009;
inline constexpr wclResult kWclErrFeatureNotSupported = 0x8000F00B;
inline constexpr wclResult kWclErrGetRadioHandle = 0x8000F00E;
inline constexpr wclResult kWclErrRadioNameWrite = 0x8000F012;
inline constexpr wclResult kWclErrInvalidChannelNumber = 0x8000F013;
inline constexpr wclResult kWclErrRadioRequired = 0x8000F014;
inline constexpr wclResult kWclErrRemoteClassOfDeviceRead = 0x8000F015;
inline constexpr wclResult kWclErrRemoteDeviceNameRead = 0x8000F016;
inline constexpr wclResult kWclErrEnumServices = 0x8000F018;
inline constexpr wclResult kWclErrConnectionActive = 0x8000F01F;
inline constexpr wclResult kWclErrInvalidTimeout = 0x8000F020;
inline constexpr wclResult kWclErrInvalidBuffer = 0x8000F021;
inline constexpr wclResult kWclErrInvalidBaudRateValue = 0x8000F022;
inline constexpr wclResult kWclErrInvalidSerialPortNumber = 0x8000F023;
inline constexpr wclResult kWclErrInvalidChannel = 0x8000F024;
inline constexpr wclResult kWclErrInvalidEncryptionFlag = 0x8000F025;
inline constexpr wclResult kWclErrInvalidIrDAService = 0x8000F026;
inline constexpr wclResult kWclErrInvalidPacketSize = 0x8000F027;
inline constexpr wclResult kWclErrConnectionExists = 0x8000F028;
inline constexpr wclResult kWclErrNotConnected = 0x8000F029;
inline constexpr wclResult kWclErrInvalidTransport = 0x8000F02A;
inline constexpr wclResult kWclErrUnableConnect = 0x8000F02B;
inline constexpr wclResult kWclErrWrite = 0x8000F02D;
inline constexpr wclResult kWclErrTimeout = 0x8000F02F;
inline constexpr wclResult kWclErrNoActiveOperation = 0x8000F036;
inline constexpr wclResult kWclErrUnableGetSignalLevel = 0x8000F037;

// Codes reported only through completion events.
// The link was closed or aborted while connected or during an OBEX operation.
inline constexpr wclResult kWclErrConnectionClosed = 0x8000F01C;
// The socket layer refused access.
inline constexpr wclResult kWclErrAccessDenied = 0x8000F01D;
// The remote address or service is not available.
inline constexpr wclResult kWclErrAddressNotAvailable = 0x8000F02E;
// The OBEX server refused the OBEX connection.
inline constexpr wclResult kWclErrOBEXConnectRefused = 0x8000F032;
// A folder listing could not be parsed, or a file to push could not be read.
inline constexpr wclResult kWclErrInvalidData = 0x8000F034;
// An OBEX operation ended with a response other than Success.
inline constexpr wclResult kWclErrOBEXOperationFailed = 0x8000F035;

// The fixed English message of a code that has an exception class; an empty
// text for any other code.
const char* wclErrorMessage(wclResult code) noexcept;

// Base of every exception the Bluetooth library throws: the run-time's
// exception with the message, plus the library's result code.
class wclException : public std::runtime_error {
public:
    wclException(const std::string& message, wclResult errorCode)
        : std::runtime_error(message), m_errorCode(errorCode) {}
    wclResult ErrorCode() const noexcept { return m_errorCode; }

private:
    wclResult m_errorCode;
};

// One class per code: each derives directly from wclException, adds nothing,
// and its parameterless constructor sets the fixed message and code.
template <wclResult Code>
class wclError final : public wclException {
public:
    static constexpr wclResult kCode = Code;
    wclError() : wclException(wclErrorMessage(Code), Code) {}
};

using wclEAPINotLoaded = wclError<kWclErrAPINotLoaded>;
using wclETransportNotAvailable = wclError<kWclErrTransportNotAvailable>;
using wclEBluetoothAPINotAvailable = wclError<kWclErrBluetoothAPINotAvailable>;
using wclEInvalidAddress = wclError<kWclErrInvalidAddress>;
using wclEInvalidArgument = wclError<kWclErrInvalidArgument>;
using wclEIndexOutOfRange = wclError<kWclErrIndexOutOfRange>;
using wclEOperationInProgress = wclError<kWclErrOperationInProgress>;
using wclEInvalidBluetoothAPI = wclError<kWclErrInvalidBluetoothAPI>;
using wclERadioAddressReadError = wclError<kWclErrRadioAddressRead>;
using wclEFeatureNotSupported = wclError<kWclErrFeatureNotSupported>;
using wclEGetRadioHandle = wclError<kWclErrGetRadioHandle>;
using wclERadoNameWriteError = wclError<kWclErrRadioNameWrite>;
using wclEInvalidChannelNumber = wclError<kWclErrInvalidChannelNumber>;
using wclERadioRequired = wclError<kWclErrRadioRequired>;
using wclERemoteClassOfDeviceReadError = wclError<kWclErrRemoteClassOfDeviceRead>;
using wclERemoteDeviceNameReadError = wclError<kWclErrRemoteDeviceNameRead>;
using wclEEnumServices = wclError<kWclErrEnumServices>;
using wclEConnectionActive = wclError<kWclErrConnectionActive>;
using wclEInvalidTimeout = wclError<kWclErrInvalidTimeout>;
using wclEInvalidBuffer = wclError<kWclErrInvalidBuffer>;
using wclEInvalidBaudRateValue = wclError<kWclErrInvalidBaudRateValue>;
using wclEInvalidSerialPortNumber = wclError<kWclErrInvalidSerialPortNumber>;
using wclEInvalidChannel = wclError<kWclErrInvalidChannel>;
using wclEInvalidEncrytpionFlag = wclError<kWclErrInvalidEncryptionFlag>;
using wclEInvalidIrDAService = wclError<kWclErrInvalidIrDAService>;
using wclEInvalidPacketSize = wclError<kWclErrInvalidPacketSize>;
using wclEConnectionExists = wclError<kWclErrConnectionExists>;
using wclENotConnected = wclError<kWclErrNotConnected>;
using wclEInvalidTransport = wclError<kWclErrInvalidTransport>;
using wclEUnableConnect = wclError<kWclErrUnableConnect>;
using wclEWriteError = wclError<kWclErrWrite>;
using wclETimeout = wclError<kWclErrTimeout>;
using wclENoActiveOperation = wclError<kWclErrNoActiveOperation>;
using wclEUnableGetSignalLevel = wclError<kWclErrUnableGetSignalLevel>;

}  // namespace kavri
