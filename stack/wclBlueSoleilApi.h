#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace kavri::bluesoleil {

// The calls of the BlueSoleil stack's library "btfunc.dll" as this system
// makes them, and the byte layout of the records they fill. The records are
// handled as byte arrays at fixed offsets, so what the library writes is read
// exactly where it stands and never beyond the record. Every record starts
// with its own size (32-bit, little-endian); device addresses stand at offset
// 4, six bytes, least significant byte first.

using Bool32 = std::int32_t;
using Dword = std::uint32_t;

inline constexpr const char* kLibraryName = "btfunc.dll";

// Results: 1 is success; a wrapper whose entry point is missing returns 3
// (false for the first three calls below).
inline constexpr Dword kSuccess = 1;
inline constexpr Dword kMissingEntryPoint = 3;

// The connection status callback: the stack calls it from a thread of its
// own with a connection handle and the status of that connection.
using ConnectionCallback = void (*)(Dword handle, Dword status);
// Registered for this event; status 4 means the connection is gone.
inline constexpr std::uint8_t kConnectionStatusEvent = 3;
inline constexpr Dword kStatusDisconnected = 4;

using FnInitializeLibrary = Bool32 (*)();
using FnUninitializeLibrary = void (*)();
using FnIsBluetoothReady = Bool32 (*)();
using FnGetLocalDeviceInfo = Dword (*)(Dword mask, std::uint8_t* record);
using FnSetLocalDeviceInfo = Dword (*)(Dword mask, const std::uint8_t* record);
using FnGetRemoteDeviceInfo = Dword (*)(Dword mask, std::uint8_t* record);
using FnPairDevice = Dword (*)(const std::uint8_t* device);
using FnUnpairDevice = Dword (*)(const std::uint8_t* device);
// byteLength: in, the buffer's size; out, the bytes of records written.
using FnInquireDevices = Dword (*)(std::uint8_t mode, std::uint8_t length, Dword* byteLength,
                                   std::uint8_t* records);
using FnBrowseServices = Dword (*)(const std::uint8_t* device, Bool32 refresh, Dword* byteLength,
                                   std::uint8_t* records);
using FnSearchSPPExServices = Dword (*)(const std::uint8_t* device, Dword* byteLength,
                                        std::uint8_t* records);
using FnConnectSPPExService = Dword (*)(const std::uint8_t* device, std::uint8_t* service,
                                        Dword* handle);
using FnDisconnectSPPExService = Dword (*)(Dword handle);
using FnRegisterCallback = Dword (*)(std::uint8_t event, ConnectionCallback callback);
using FnUnregisterCallback = Dword (*)(std::uint8_t event);

// Masks of the device information calls.
inline constexpr Dword kMaskName = 0x1;
inline constexpr Dword kMaskClass = 0x2;
inline constexpr Dword kMaskAddress = 0x4;
inline constexpr Dword kMaskSignal = 0x800;

inline constexpr std::size_t kSizeOffset = 0;
inline constexpr std::size_t kAddressOffset = 4;

// Device record (84 bytes): the inquiry's records, the local name, and the
// device a service call is about. The 132-byte device information record
// begins the same way and adds the signal value.
inline constexpr std::size_t kDeviceRecordSize = 84;
inline constexpr std::size_t kDeviceInfoRecordSize = 132;
inline constexpr std::size_t kNameOffset = 10;
inline constexpr std::size_t kNameSize = 64;
inline constexpr std::size_t kClassOffset = 74;   // 3 bytes, least significant first
inline constexpr std::size_t kSignalOffset = 80;  // signed byte, 132-byte record only

// Serial-port-profile service record (156 bytes).
inline constexpr std::size_t kServiceRecordSize = 156;
inline constexpr std::size_t kServiceUuidOffset = 8;  // 16-byte GUID, memory layout
inline constexpr std::size_t kServiceNameOffset = 24;
inline constexpr std::size_t kServiceNameSize = 128;
inline constexpr std::size_t kServiceChannelOffset = 152;
inline constexpr std::size_t kServiceComPortOffset = 153;

// Browsed service record (140 bytes).
inline constexpr std::size_t kBrowseRecordSize = 140;
inline constexpr std::size_t kBrowseClassOffset = 4;  // 16-bit, little-endian
inline constexpr std::size_t kBrowseNameOffset = 8;
inline constexpr std::size_t kBrowseNameSize = 128;

// Buffers: the inquiry's (100 device records) and the browse's (100 records).
inline constexpr std::size_t kInquiryBufferSize = 8400;
inline constexpr std::size_t kBrowseBufferSize = 14000;
inline constexpr std::uint8_t kInquiryMode = 3;
inline constexpr std::uint8_t kInquiryLength = 10;

// Connect statuses that name a cause (anything else is a plain failure).
inline constexpr Dword kStatusBusy = 6;
inline constexpr Dword kStatusAlreadyConnected = 7;
inline constexpr Dword kStatusServiceNotFound = 10;
inline constexpr Dword kStatusTimedOut = 11;

inline std::uint32_t ReadLe32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
inline void WriteLe32(std::uint8_t* p, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

}  // namespace kavri::bluesoleil
