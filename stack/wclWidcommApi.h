#pragma once

#include "stack/wclMessages.h"
#include "stack/wclStackBinding.h"
#include "stack/wclUUIDs.h"
#include "stack/wclWin32Api.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kavri {

class DynamicLibrary;

namespace widcomm {

// The Widcomm stack as its adapter library exports it: plain functions,
// non-zero for success unless noted, and the record layouts they fill. The
// adapter ("wcl2btwnr.dll", or "wcl2btw.dll" for older stacks) is loaded by
// name; the virtual neighbourhood's stand-in implements the same signatures.
//
// One difference from the system: a window handle given to the adapter is the
// address of a MessageWindowHandle (see ToHwnd), copied during the call.

using win32::BOOL;
using win32::BYTE;
using win32::DWORD;
using win32::HWND;
using win32::WORD;

inline constexpr std::size_t kNameFieldBytes = 248;
inline constexpr std::size_t kAddressBytes = 6;
inline constexpr std::size_t kClassBytes = 3;
inline constexpr std::size_t kInquiryBufferBytes = 393216;
// The inquiry buffer: a 32-bit count, then six-byte addresses in text order.
inline constexpr std::size_t kMaxInquiryAddresses = (kInquiryBufferBytes - 4) / kAddressBytes;
// The service buffer: a 32-bit count, then up to 100 packed records of 117
// bytes: channel (1), name (100, UTF-8, zero-padded), class UUID (16, GUID
// memory layout).
inline constexpr std::size_t kServiceBufferBytes = 11704;
inline constexpr std::size_t kServiceRecordBytes = 117;
inline constexpr std::size_t kMaxServiceRecords = 100;
inline constexpr std::size_t kServiceNameBytes = 100;
inline constexpr std::size_t kServiceNameOffset = 1;
inline constexpr std::size_t kServiceUuidOffset = 101;
static_assert(4 + kMaxServiceRecords * kServiceRecordBytes == kServiceBufferBytes);

// The messages the adapter posts: radio ready and gone to the manager window,
// and the RFCOMM client's reports to its connection's window.
inline constexpr std::uint32_t kRadioReady = 1032;
inline constexpr std::uint32_t kRadioGone = 1033;
inline constexpr std::uint32_t kClientConnected = 1060;  // (result): 0 success
inline constexpr std::uint32_t kClientData = 1061;       // (data, size), sent
inline constexpr std::uint32_t kClientClosed = 1062;

inline HWND ToHwnd(const MessageWindowHandle& window) noexcept {
    return const_cast<void*>(static_cast<const void*>(&window));
}
inline const MessageWindowHandle* FromHwnd(HWND window) noexcept {
    return static_cast<const MessageWindowHandle*>(window);
}

using PFN_WD_Load = BOOL (*)(HWND window, DWORD radioGoneMessage, DWORD radioReadyMessage);
using PFN_WD_Unload = void (*)();
using PFN_WD_IsDeviceReady = BOOL (*)();
using PFN_WD_SetLocalDeviceName = BOOL (*)(const BYTE* name248);
using PFN_WD_GetLocalDeviceName = BOOL (*)(BYTE* name248);
using PFN_WD_GetLocalDeviceAddress = BOOL (*)(BYTE* address6);
using PFN_WD_EnumDevices = BOOL (*)(BYTE* buffer, DWORD size);
using PFN_WD_GetDeviceName = BOOL (*)(const BYTE* address6, BYTE* name248);
using PFN_WD_GetDeviceCOD = BOOL (*)(const BYTE* address6, BYTE* class3);
using PFN_WD_EnumServices = BOOL (*)(const BYTE* address6, const GUID* serviceClass,
                                     BYTE* buffer11704);
using PFN_WD_GetPaired = BOOL (*)(const BYTE* address6);
using PFN_WD_Pair = BOOL (*)(const BYTE* address6, const char* pin);
using PFN_WD_Unpair = BOOL (*)(const BYTE* address6);
// The RFCOMM client object: null when it cannot be made.
using PFN_WD_CreateRfCommClient = void* (*)(HWND window, DWORD connectedMessage, DWORD dataMessage,
                                            DWORD closedMessage);
using PFN_WD_DestroyRfCommClient = void (*)(void* client);
// Results 0 for success. Authentication and encryption: all ones or 0.
using PFN_WD_OpenRfCommClient = DWORD (*)(void* client, const BYTE* address6, BYTE channel,
                                          DWORD uuid0, DWORD uuid1, DWORD uuid2, DWORD uuid3,
                                          DWORD authentication, DWORD encryption,
                                          const char* serviceName);
using PFN_WD_CloseRfCommClient = DWORD (*)(void* client);
using PFN_WD_WriteRfCommClient = DWORD (*)(void* client, const BYTE* data, WORD length,
                                           WORD* written);
using PFN_WD_IsRfCommClientConnected = BOOL (*)(void* client, BYTE* address6);
using PFN_WD_GetRfCommClientSignalLevel = BOOL (*)(void* client, BYTE* level);

// The loaded adapter and its twenty entry points. Immutable once loaded and
// shared: the binding, its watcher, running operations and open links hold
// it, so the adapter stays loaded until the last of them lets go. Each
// wrapper fails like a failed call when its entry point is missing (false,
// no object, or the result 1). Any thread.
struct Api {
    std::string libraryName;
    std::unique_ptr<DynamicLibrary> library;

    PFN_WD_Load load = nullptr;
    PFN_WD_Unload unload = nullptr;
    PFN_WD_IsDeviceReady isDeviceReady = nullptr;
    PFN_WD_SetLocalDeviceName setLocalDeviceName = nullptr;
    PFN_WD_GetLocalDeviceName getLocalDeviceName = nullptr;
    PFN_WD_GetLocalDeviceAddress getLocalDeviceAddress = nullptr;
    PFN_WD_EnumDevices enumDevices = nullptr;
    PFN_WD_GetDeviceName getDeviceName = nullptr;
    PFN_WD_GetDeviceCOD getDeviceCOD = nullptr;
    PFN_WD_EnumServices enumServices = nullptr;
    PFN_WD_GetPaired getPaired = nullptr;
    PFN_WD_Pair pair = nullptr;
    PFN_WD_Unpair unpair = nullptr;
    PFN_WD_CreateRfCommClient createClient = nullptr;
    PFN_WD_DestroyRfCommClient destroyClient = nullptr;
    PFN_WD_OpenRfCommClient openClient = nullptr;
    PFN_WD_CloseRfCommClient closeClient = nullptr;
    PFN_WD_WriteRfCommClient writeClient = nullptr;
    PFN_WD_IsRfCommClientConnected isClientConnected = nullptr;
    PFN_WD_GetRfCommClientSignalLevel clientSignalLevel = nullptr;

    Api();
    ~Api();
    Api(const Api&) = delete;
    Api& operator=(const Api&) = delete;

    // Resolves every entry point of the loaded library by name.
    void Resolve();
    // How many of the twenty entry points the library has.
    std::size_t ResolvedCount() const;

    bool Load(const MessageWindowHandle& window) const;
    void Unload() const;
    bool IsDeviceReady() const;
    bool SetLocalDeviceName(const BYTE* name) const;
    bool GetLocalDeviceAddress(BYTE* address) const;
    bool EnumDevices(BYTE* buffer, DWORD size) const;
    bool GetDeviceName(const BYTE* address, BYTE* name) const;
    bool GetDeviceCOD(const BYTE* address, BYTE* classBytes) const;
    bool EnumServices(const BYTE* address, const GUID* serviceClass, BYTE* buffer) const;
    void* CreateClient(const MessageWindowHandle& window) const;
    void DestroyClient(void* client) const;
    DWORD OpenClient(void* client, const BYTE* address, BYTE channel, const GUID& serviceClass,
                     bool authentication, bool encryption, const std::string& serviceName) const;
    DWORD CloseClient(void* client) const;
    DWORD WriteClient(void* client, const BYTE* data, WORD length, WORD* written) const;
    bool IsClientConnected(void* client, BYTE* address) const;
    bool ClientSignalLevel(void* client, BYTE* level) const;
};

// UTF-8 text of a fixed field of the adapter, up to its first zero; bytes
// that are no UTF-8 become U+FFFD, so nothing malformed travels on.
std::string FieldText(const BYTE* field, std::size_t size);

// The services of a device as WD_EnumServices reports them, in its order;
// wclEEnumServices when the call fails. The count is bounded by the buffer.
std::vector<wclServiceInfo> EnumServices(const Api& api, const std::string& address,
                                         const std::optional<GUID>& serviceClass);

}  // namespace widcomm
}  // namespace kavri
