#pragma once

#include "stack/wclUUIDs.h"

#include <cstddef>
#include <cstdint>

namespace kavri::win32 {

// The records, codes and entry-point signatures of the platform libraries that
// the Microsoft stack binding and the IrDA and RAPI loaders call: the
// Bluetooth API of the control-panel library, Winsock with the Bluetooth name
// space, SetupAPI, the registry, kernel32 and RAPI. Declared here, without any
// system header, because the binding reaches them only through entry points
// resolved by name, and because the virtual neighbourhood's stand-in libraries
// implement the same signatures from this one header.
//
// The size fields that callers write and the libraries check are the
// published 32-bit values (k...Size below). Records that hold pointers are
// larger in a 64-bit process; memory is always laid out with sizeof, the size
// field only identifies the record's version. Plain declarations, no state.

using BOOL = std::int32_t;
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using USHORT = std::uint16_t;
using DWORD = std::uint32_t;
using ULONG = std::uint32_t;
using LONG = std::int32_t;
using INT = std::int32_t;
using ULONGLONG = std::uint64_t;
using HRESULT = std::int32_t;
using WCHAR = char16_t;
using ULONG_PTR = std::uintptr_t;

using HANDLE = void*;
using HWND = void*;
using HKEY = void*;
using HDEVINFO = void*;
using HBLUETOOTH_RADIO_FIND = void*;
using HBLUETOOTH_AUTHENTICATION_REGISTRATION = void*;
using SOCKET = std::uintptr_t;

inline constexpr BOOL kTrue = 1;
inline constexpr BOOL kFalse = 0;

inline HANDLE InvalidHandleValue() noexcept {
    return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));
}
inline HKEY HKeyLocalMachine() noexcept {
    return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000002u));
}
inline constexpr SOCKET kInvalidSocket = ~SOCKET{0};
inline constexpr INT kSocketError = -1;

// System error codes (the last error, registry and Bluetooth API results).
inline constexpr DWORD kErrorSuccess = 0;
inline constexpr DWORD kErrorInvalidFunction = 1;
inline constexpr DWORD kErrorFileNotFound = 2;
inline constexpr DWORD kErrorInvalidHandle = 6;
inline constexpr DWORD kErrorNotEnoughMemory = 8;
inline constexpr DWORD kErrorGenFailure = 31;
inline constexpr DWORD kErrorNotSupported = 50;
inline constexpr DWORD kErrorInvalidParameter = 87;
inline constexpr DWORD kErrorBufferOverflow = 111;
inline constexpr DWORD kErrorInsufficientBuffer = 122;
inline constexpr DWORD kErrorNoMoreItems = 259;
inline constexpr DWORD kErrorDeviceNotConnected = 1167;
inline constexpr DWORD kErrorNotFound = 1168;
inline constexpr DWORD kErrorRevisionMismatch = 1306;

// Winsock error codes.
inline constexpr INT kWsaEFault = 10014;
inline constexpr INT kWsaEInval = 10022;
inline constexpr INT kWsaEAfNoSupport = 10047;
inline constexpr INT kWsaServiceNotFound = 10108;
inline constexpr INT kWsaENoMore = 10110;

// COM result codes (RAPI).
inline constexpr HRESULT kSOk = 0;
inline constexpr HRESULT kEFail = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT kENoInterface = static_cast<HRESULT>(0x80004002u);
inline constexpr HRESULT kEInvalidArg = static_cast<HRESULT>(0x80070057u);
inline constexpr bool Failed(HRESULT result) noexcept {
    return result < 0;
}

// Address families, socket types, name spaces.
inline constexpr INT kAfIrDA = 26;
inline constexpr USHORT kAfBth = 32;
inline constexpr INT kSockStream = 1;
inline constexpr DWORD kNsBth = 16;

// Control flags of WSALookupServiceBegin and WSALookupServiceNext.
inline constexpr DWORD kLupContainers = 0x0002;
inline constexpr DWORD kLupReturnName = 0x0010;
inline constexpr DWORD kLupReturnType = 0x0020;
inline constexpr DWORD kLupReturnComment = 0x0080;
inline constexpr DWORD kLupReturnAddr = 0x0100;
inline constexpr DWORD kLupReturnBlob = 0x0200;
inline constexpr DWORD kLupFlushCache = 0x1000;
inline constexpr DWORD kLupResService = 0x8000;

// SetupAPI.
inline constexpr DWORD kDigcfPresent = 0x02;
inline constexpr DWORD kDigcfProfile = 0x08;
inline constexpr DWORD kSpdrpHardwareId = 1;

// Registry value types.
inline constexpr DWORD kRegSz = 1;
inline constexpr DWORD kRegBinary = 3;
inline constexpr DWORD kRegMultiSz = 7;

// Platform identifier of OSVERSIONINFOA.
inline constexpr DWORD kVerPlatformWin32Nt = 2;

// Radio control codes that make the radio read its name again: the one of NT
// 6.0, and the one of every other version.
inline constexpr DWORD kIoctlRadioReloadNameNt60 = 0x411008;
inline constexpr DWORD kIoctlRadioReloadName = 0x220FD4;

// Device classes.
inline constexpr GUID kBluetoothDeviceClass{
    0xe0cbf06c, 0xcd8b, 0x4647, {0xbb, 0x8a, 0x26, 0x3b, 0x43, 0xf0, 0xf9, 0x74}};
inline constexpr GUID kInfraredDeviceClass{
    0x6bdd1fc5, 0x810f, 0x11d0, {0xbe, 0xc7, 0x08, 0x00, 0x2b, 0xe2, 0x09, 0x2f}};

// ---- Bluetooth API -------------------------------------------------------

inline constexpr std::size_t kBluetoothMaxNameSize = 248;

struct BLUETOOTH_FIND_RADIO_PARAMS {
    DWORD dwSize;
};
inline constexpr DWORD kBluetoothFindRadioParamsSize = 4;

union BLUETOOTH_ADDRESS {
    ULONGLONG ullLong;
    BYTE rgBytes[6];
};

struct SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};

struct BLUETOOTH_RADIO_INFO {
    DWORD dwSize;
    BLUETOOTH_ADDRESS address;
    WCHAR szName[kBluetoothMaxNameSize];
    ULONG ulClassofDevice;
    USHORT lmpSubversion;
    USHORT manufacturer;
};
inline constexpr DWORD kBluetoothRadioInfoSize = 520;
static_assert(sizeof(BLUETOOTH_RADIO_INFO) == kBluetoothRadioInfoSize);

struct BLUETOOTH_DEVICE_INFO {
    DWORD dwSize;
    BLUETOOTH_ADDRESS Address;
    ULONG ulClassofDevice;
    BOOL fConnected;
    BOOL fRemembered;
    BOOL fAuthenticated;
    SYSTEMTIME stLastSeen;
    SYSTEMTIME stLastUsed;
    WCHAR szName[kBluetoothMaxNameSize];
};
inline constexpr DWORD kBluetoothDeviceInfoSize = 560;
static_assert(sizeof(BLUETOOTH_DEVICE_INFO) == kBluetoothDeviceInfoSize);

using PFN_AUTHENTICATION_CALLBACK = BOOL (*)(void* context, BLUETOOTH_DEVICE_INFO* device);

using PFN_BluetoothFindFirstRadio =
    HBLUETOOTH_RADIO_FIND (*)(const BLUETOOTH_FIND_RADIO_PARAMS* params, HANDLE* radio);
using PFN_BluetoothFindRadioClose = BOOL (*)(HBLUETOOTH_RADIO_FIND find);
using PFN_BluetoothGetRadioInfo = DWORD (*)(HANDLE radio, BLUETOOTH_RADIO_INFO* info);
using PFN_BluetoothIsConnectable = BOOL (*)(HANDLE radio);
using PFN_BluetoothEnableIncomingConnections = BOOL (*)(HANDLE radio, BOOL enabled);
using PFN_BluetoothIsDiscoverable = BOOL (*)(HANDLE radio);
using PFN_BluetoothEnableDiscovery = BOOL (*)(HANDLE radio, BOOL enabled);
using PFN_BluetoothGetDeviceInfo = DWORD (*)(HANDLE radio, BLUETOOTH_DEVICE_INFO* info);
using PFN_BluetoothAuthenticateDevice = DWORD (*)(HWND parent, HANDLE radio,
                                                  BLUETOOTH_DEVICE_INFO* device,
                                                  const WCHAR* passKey, ULONG passKeyLength);
using PFN_BluetoothRemoveDevice = DWORD (*)(const BLUETOOTH_ADDRESS* address);
using PFN_BluetoothRegisterForAuthentication = DWORD (*)(
    const BLUETOOTH_DEVICE_INFO* device, HBLUETOOTH_AUTHENTICATION_REGISTRATION* registration,
    PFN_AUTHENTICATION_CALLBACK callback, void* context);
using PFN_BluetoothUnregisterAuthentication =
    BOOL (*)(HBLUETOOTH_AUTHENTICATION_REGISTRATION registration);
using PFN_BluetoothSendAuthenticationResponse = DWORD (*)(HANDLE radio,
                                                          const BLUETOOTH_DEVICE_INFO* device,
                                                          const WCHAR* passKey);

// ---- Winsock -------------------------------------------------------------

struct SOCKADDR {
    USHORT sa_family;
    char sa_data[14];
};

#pragma pack(push, 1)
// A Bluetooth socket address. Packed, as the system declares it: read and
// write its fields by value, never through a reference to a field.
struct SOCKADDR_BTH {
    USHORT addressFamily;
    ULONGLONG btAddr;
    GUID serviceClassId;
    ULONG port;
};
#pragma pack(pop)
static_assert(sizeof(SOCKADDR_BTH) == 30);

struct SOCKET_ADDRESS {
    SOCKADDR* lpSockaddr;
    INT iSockaddrLength;
};

struct CSADDR_INFO {
    SOCKET_ADDRESS LocalAddr;
    SOCKET_ADDRESS RemoteAddr;
    INT iSocketType;
    INT iProtocol;
};

struct BLOB {
    ULONG cbSize;
    BYTE* pBlobData;
};

struct WSAVERSION {
    DWORD dwVersion;
    INT ecHow;
};

struct AFPROTOCOLS {
    INT iAddressFamily;
    INT iProtocol;
};

struct WSAQUERYSETW {
    DWORD dwSize;
    WCHAR* lpszServiceInstanceName;
    GUID* lpServiceClassId;
    WSAVERSION* lpVersion;
    WCHAR* lpszComment;
    DWORD dwNameSpace;
    GUID* lpNSProviderId;
    WCHAR* lpszContext;
    DWORD dwNumberOfProtocols;
    AFPROTOCOLS* lpafpProtocols;
    WCHAR* lpszQueryString;
    DWORD dwNumberOfCsAddrs;
    CSADDR_INFO* lpcsaBuffer;
    DWORD dwOutputFlags;
    BLOB* lpBlob;
};
inline constexpr DWORD kWsaQuerySetSize = 60;

struct WSAPROTOCOL_INFOW;

using PFN_WSAGetLastError = INT (*)();
using PFN_WSALookupServiceBeginW = INT (*)(WSAQUERYSETW* restrictions, DWORD controlFlags,
                                           HANDLE* lookup);
using PFN_WSALookupServiceNextW = INT (*)(HANDLE lookup, DWORD controlFlags, DWORD* bufferLength,
                                          WSAQUERYSETW* results);
using PFN_WSALookupServiceEnd = INT (*)(HANDLE lookup);
using PFN_WSAAddressToStringW = INT (*)(SOCKADDR* address, DWORD addressLength,
                                        WSAPROTOCOL_INFOW* protocolInfo, WCHAR* text,
                                        DWORD* textLength);
using PFN_socket = SOCKET (*)(INT addressFamily, INT type, INT protocol);
using PFN_closesocket = INT (*)(SOCKET socket);

// ---- SetupAPI ------------------------------------------------------------

struct SP_DEVINFO_DATA {
    DWORD cbSize;
    GUID ClassGuid;
    DWORD DevInst;
    ULONG_PTR Reserved;
};
inline constexpr DWORD kSpDevInfoDataSize = 28;

using PFN_SetupDiGetClassDevsW = HDEVINFO (*)(const GUID* classGuid, const WCHAR* enumerator,
                                              HWND parent, DWORD flags);
using PFN_SetupDiEnumDeviceInfo = BOOL (*)(HDEVINFO set, DWORD index, SP_DEVINFO_DATA* device);
using PFN_SetupDiGetDeviceRegistryPropertyW = BOOL (*)(HDEVINFO set, SP_DEVINFO_DATA* device,
                                                       DWORD property, DWORD* dataType,
                                                       BYTE* buffer, DWORD bufferSize,
                                                       DWORD* requiredSize);
using PFN_SetupDiGetDeviceInstanceIdW = BOOL (*)(HDEVINFO set, SP_DEVINFO_DATA* device,
                                                 WCHAR* instanceId, DWORD instanceIdSize,
                                                 DWORD* requiredSize);
using PFN_SetupDiDestroyDeviceInfoList = BOOL (*)(HDEVINFO set);

// ---- Registry ------------------------------------------------------------

using PFN_RegOpenKeyW = LONG (*)(HKEY key, const WCHAR* subKey, HKEY* result);
using PFN_RegSetValueExW = LONG (*)(HKEY key, const WCHAR* valueName, DWORD reserved, DWORD type,
                                    const BYTE* data, DWORD dataSize);
using PFN_RegDeleteValueW = LONG (*)(HKEY key, const WCHAR* valueName);
using PFN_RegCloseKey = LONG (*)(HKEY key);

// ---- kernel32 ------------------------------------------------------------

struct OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    char szCSDVersion[128];
};
inline constexpr DWORD kOsVersionInfoASize = 148;
static_assert(sizeof(OSVERSIONINFOA) == kOsVersionInfoASize);

inline constexpr DWORD kMaxComputerNameLength = 260;

struct OVERLAPPED;

using PFN_GetComputerNameW = BOOL (*)(WCHAR* buffer, DWORD* size);
using PFN_DeviceIoControl = BOOL (*)(HANDLE device, DWORD controlCode, void* input, DWORD inputSize,
                                     void* output, DWORD outputSize, DWORD* bytesReturned,
                                     OVERLAPPED* overlapped);
using PFN_GetVersionExA = BOOL (*)(OSVERSIONINFOA* info);
using PFN_CloseHandle = BOOL (*)(HANDLE handle);
using PFN_GetLastError = DWORD (*)();

// ---- RAPI ----------------------------------------------------------------

// heRapiInit is an event the library sets when a device has connected (or
// the attempt failed, with the reason in hrRapiInit). In this process it is a
// StopEvent (platform/StopEvent.h) owned by the library until CeRapiUninit.
struct RAPIINIT {
    DWORD cbSize;
    HANDLE heRapiInit;
    HRESULT hrRapiInit;
};
inline constexpr DWORD kRapiInitSize = 12;

struct STORE_INFORMATION;
struct SYSTEM_INFO;
struct SYSTEM_POWER_STATUS_EX;
struct CEOSVERSIONINFO;

using PFN_CeRapiInitEx = HRESULT (*)(RAPIINIT* init);
using PFN_CeRapiUninit = HRESULT (*)();
using PFN_CeGetStoreInformation = BOOL (*)(STORE_INFORMATION* info);
using PFN_CeGetSystemInfo = void (*)(SYSTEM_INFO* info);
using PFN_CeGetSystemPowerStatusEx = BOOL (*)(SYSTEM_POWER_STATUS_EX* status, BOOL update);
using PFN_CeGetVersionEx = BOOL (*)(CEOSVERSIONINFO* info);
using PFN_CeGetDeviceId = DWORD (*)();

}  // namespace kavri::win32
