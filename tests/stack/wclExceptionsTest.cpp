#include "stack/wclExceptions.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <type_traits>

namespace kavri {
namespace {

struct ErrorCase {
    const char* className;
    std::function<void()> raise;
    wclResult code;
    const char* message;
};

template <typename E>
std::function<void()> Raise() {
    static_assert(std::is_base_of_v<wclException, E>);
    return [] { throw E(); };
}

// The messages are a contract with callers and operators: spelled exactly as
// they have always been, misspellings included.
const ErrorCase kCases[] = {
    {"wclEAPINotLoaded", Raise<wclEAPINotLoaded>(), 0x8000F001, "API subsystem was not loaded."},
    {"wclETransportNotAvailable", Raise<wclETransportNotAvailable>(), 0x8000F002,
     "Transport is not available."},
    {"wclEBluetoothAPINotAvailable", Raise<wclEBluetoothAPINotAvailable>(), 0x8000F003,
     "Bluetooth API is not available."},
    {"wclEInvalidAddress", Raise<wclEInvalidAddress>(), 0x8000F004, "Address is not valid."},
    {"wclEInvalidArgument", Raise<wclEInvalidArgument>(), 0x8000F005, "Invalid argument passed."},
    {"wclEIndexOutOfRange", Raise<wclEIndexOutOfRange>(), 0x8000F006, "Index out of range."},
    {"wclEOperationInProgress", Raise<wclEOperationInProgress>(), 0x8000F007,
     "Asynchronous operation is in progress."},
    {"wclEInvalidBluetoothAPI", Raise<wclEInvalidBluetoothAPI>(), 0x8000F008,
     "Invalid bluetooth API specified."},
    {"wclERadioAddressReadError", Raise<wclERadioAddressReadError>(), 0x8000F009,
     "Unable to read local radio address."},
    {"wclEFeatureNotSupported", Raise<wclEFeatureNotSupported>(), 0x8000F00B,
     "Feature is not supported."},
    {"wclEGetRadioHandle", Raise<wclEGetRadioHandle>(), 0x8000F00E,
     "Unable to get local radio handle."},
    {"wclERadoNameWriteError", Raise<wclERadoNameWriteError>(), 0x8000F012,
     "Unable to write local radio name."},
    {"wclEInvalidChannelNumber", Raise<wclEInvalidChannelNumber>(), 0x8000F013,
     "Invalid channel number. Channel should be between 0 and 31."},
    {"wclERadioRequired", Raise<wclERadioRequired>(), 0x8000F014, "Radio required."},
    {"wclERemoteClassOfDeviceReadError", Raise<wclERemoteClassOfDeviceReadError>(), 0x8000F015,
     "Unable to read class of remote device."},
    {"wclERemoteDeviceNameReadError", Raise<wclERemoteDeviceNameReadError>(), 0x8000F016,
     "Unable to read name of remote device."},
    {"wclEEnumServices", Raise<wclEEnumServices>(), 0x8000F018, "Unable to enumerate services."},
    {"wclEConnectionActive", Raise<wclEConnectionActive>(), 0x8000F01F, "Connection is active."},
    {"wclEInvalidTimeout", Raise<wclEInvalidTimeout>(), 0x8000F020, "Invalid timeout value."},
    {"wclEInvalidBuffer", Raise<wclEInvalidBuffer>(), 0x8000F021, "Invalid buffer size."},
    {"wclEInvalidBaudRateValue", Raise<wclEInvalidBaudRateValue>(), 0x8000F022,
     "Invalid bauderate value."},
    {"wclEInvalidSerialPortNumber", Raise<wclEInvalidSerialPortNumber>(), 0x8000F023,
     "Invalid serial port number."},
    {"wclEInvalidChannel", Raise<wclEInvalidChannel>(), 0x8000F024, "Invalid channel number."},
    {"wclEInvalidEncrytpionFlag", Raise<wclEInvalidEncrytpionFlag>(), 0x8000F025,
     "Encryption can not be enabled because authentication is disabled."},
    {"wclEInvalidIrDAService", Raise<wclEInvalidIrDAService>(), 0x8000F026,
     "Invalid IrDA service."},
    {"wclEInvalidPacketSize", Raise<wclEInvalidPacketSize>(), 0x8000F027,
     "Invalid OBEX packet size."},
    {"wclEConnectionExists", Raise<wclEConnectionExists>(), 0x8000F028, "Connection exists."},
    {"wclENotConnected", Raise<wclENotConnected>(), 0x8000F029, "Client is not connected."},
    {"wclEInvalidTransport", Raise<wclEInvalidTransport>(), 0x8000F02A, "Invalid transport."},
    {"wclEUnableConnect", Raise<wclEUnableConnect>(), 0x8000F02B,
     "Unable initialize connection to remote device."},
    {"wclEWriteError", Raise<wclEWriteError>(), 0x8000F02D, "Unable to write to connection."},
    {"wclETimeout", Raise<wclETimeout>(), 0x8000F02F, "Timeout"},
    {"wclENoActiveOperation", Raise<wclENoActiveOperation>(), 0x8000F036,
     "There is no active operaiont."},
    {"wclEUnableGetSignalLevel", Raise<wclEUnableGetSignalLevel>(), 0x8000F037,
     "Unable to read RSSI data."},
};

TEST(wclExceptions, EveryClassCarriesItsFixedMessageAndCode) {
    // Each class is thrown and caught as the common base.
    // Expected: the code and the message match the library's table exactly.
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.className);
        try {
            c.raise();
            ADD_FAILURE() << "nothing thrown";
        } catch (const wclException& e) {
            EXPECT_EQ(e.ErrorCode(), c.code);
            EXPECT_STREQ(e.what(), c.message);
            EXPECT_EQ(std::string(wclErrorMessage(c.code)), c.message);
        }
    }
}

TEST(wclExceptions, CodesAreDistinctFailuresOfTheLibraryFacility) {
    // All codes of the table, plus the event-only ones.
    // Expected: no two equal, each of the form 0x8000F0nn.
    std::set<wclResult> seen;
    for (const auto& c : kCases) {
        EXPECT_TRUE(seen.insert(c.code).second) << c.className;
    }
    for (wclResult code :
         {kWclErrConnectionClosed, kWclErrAccessDenied, kWclErrAddressNotAvailable,
          kWclErrOBEXConnectRefused, kWclErrInvalidData, kWclErrOBEXOperationFailed}) {
        EXPECT_TRUE(seen.insert(code).second) << std::hex << code;
        EXPECT_STREQ(wclErrorMessage(code), "") << "event-only codes have no exception class";
    }
    for (wclResult code : seen) {
        EXPECT_EQ(code & 0xFFFFFF00u, 0x8000F000u) << std::hex << code;
    }
}

TEST(wclExceptions, ClassesAreDistinctTypesCaughtByTheirOwnHandler) {
    // A time-out is thrown; a handler for another class comes first.
    // Expected: only the time-out handler catches it; it is also a std::exception.
    bool caughtOther = false;
    bool caughtTimeout = false;
    try {
        try {
            throw wclETimeout();
        } catch (const wclEUnableConnect&) {
            caughtOther = true;
        }
    } catch (const wclETimeout& e) {
        caughtTimeout = true;
        const std::exception& base = e;
        EXPECT_STREQ(base.what(), "Timeout");
    }
    EXPECT_FALSE(caughtOther);
    EXPECT_TRUE(caughtTimeout);
    EXPECT_FALSE((std::is_same_v<wclETimeout, wclEUnableConnect>));
}

}  // namespace
}  // namespace kavri
