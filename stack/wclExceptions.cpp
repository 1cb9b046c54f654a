#include "stack/wclExceptions.h"

namespace kavri {

const char* wclErrorMessage(wclResult code) noexcept {
    // The texts are the library's fixed messages, spelled exactly as callers
    // and operators have always seen them.
    switch (code) {
        case kWclErrAPINotLoaded:
            return "API subsystem was not loaded.";
        case kWclErrTransportNotAvailable:
            return "Transport is not available.";
        case kWclErrBluetoothAPINotAvailable:
            return "Bluetooth API is not available.";
        case kWclErrInvalidAddress:
            return "Address is not valid.";
        case kWclErrInvalidArgument:
            return "Invalid argument passed.";
        case kWclErrIndexOutOfRange:
            return "Index out of range.";
        case kWclErrOperationInProgress:
            return "Asynchronous operation is in progress.";
        case kWclErrInvalidBluetoothAPI:
            return "Invalid bluetooth API specified.";
        case kWclErrRadioAddressRead:
            return "Unable to read local radio address.";
        case kWclErrFeatureNotSupported:
            return "Feature is not supported.";
        case kWclErrGetRadioHandle:
            return "Unable to get local radio handle.";
        case kWclErrRadioNameWrite:
            return "Unable to write local radio name.";
        case kWclErrInvalidChannelNumber:
            return "Invalid channel number. Channel should be between 0 and 31.";
        case kWclErrRadioRequired:
            return "Radio required.";
        case kWclErrRemoteClassOfDeviceRead:
            return "Unable to read class of remote device.";
        case kWclErrRemoteDeviceNameRead:
            return "Unable to read name of remote device.";
        case kWclErrEnumServices:
            return "Unable to enumerate services.";
        case kWclErrConnectionActive:
            return "Connection is active.";
        case kWclErrInvalidTimeout:
            return "Invalid timeout value.";
        case kWclErrInvalidBuffer:
            return "Invalid buffer size.";
        case kWclErrInvalidBaudRateValue:
            return "Invalid bauderate value.";
        case kWclErrInvalidSerialPortNumber:
            return "Invalid serial port number.";
        case kWclErrInvalidChannel:
            return "Invalid channel number.";
        case kWclErrInvalidEncryptionFlag:
            return "Encryption can not be enabled because authentication is disabled.";
        case kWclErrInvalidIrDAService:
            return "Invalid IrDA service.";
        case kWclErrInvalidPacketSize:
            return "Invalid OBEX packet size.";
        case kWclErrConnectionExists:
            return "Connection exists.";
        case kWclErrNotConnected:
            return "Client is not connected.";
        case kWclErrInvalidTransport:
            return "Invalid transport.";
        case kWclErrUnableConnect:
            return "Unable initialize connection to remote device.";
        case kWclErrWrite:
            return "Unable to write to connection.";
        case kWclErrTimeout:
            return "Timeout";
        case kWclErrNoActiveOperation:
            return "There is no active operaiont.";
        case kWclErrUnableGetSignalLevel:
            return "Unable to read RSSI data.";
        default:
            return "";
    }
}

}  // namespace kavri
