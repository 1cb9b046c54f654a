#pragma once

#include "platform/Clock.h"
#include "platform/DynamicLibrary.h"
#include "sim/Scenario.h"
#include "stack/wclWin32Api.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace kavri::sim {

// The state behind the in-process libraries that stand in for the Microsoft
// stack's platform libraries (the Bluetooth API, Winsock, SetupAPI, the
// registry, kernel32) and for IrDA and RAPI: the scenario, the scenario clock,
// and what the libraries keep between calls (open handles, registry values,
// the computer name, the last radio control code).
//
// The libraries' entry points are plain functions with the signatures of
// stack/wclWin32Api.h. They reach the state of the current neighbourhood
// through a process-wide shared pointer (CurrentSimWin32State) and keep it
// alive for the length of one call, so a neighbourhood that goes while a
// watcher thread is inside a call cannot pull the state from under it. With
// no current state every entry point fails with its error code.
//
// Every member locks m_mutex: the entry points are called from any thread.
// Nothing here throws into a caller of an entry point (allocation failure is
// reported as an error code).
class SimWin32State {
public:
    struct RegistryValue {
        win32::DWORD type = 0;
        std::vector<std::uint8_t> data;
    };

    SimWin32State(Scenario scenario, const Clock& clock);

    const Scenario& GetScenario() const { return m_scenario; }
    std::int64_t ScenarioTimeMs() const;

    // Settings a test or the operator may change while the state lives.
    void SetComputerName(std::u16string name);
    std::u16string ComputerName() const;
    void SetOsVersion(win32::DWORD major, win32::DWORD minor, win32::DWORD platform);
    void SetAddressTextSuffix(std::u16string suffix);
    void SetIrDADevicePresent(bool present);
    bool IrDADevicePresent() const;
    // Returns true when this made a device connect (the caller then wakes the
    // RAPI sessions that wait for it).
    bool SetRapiDeviceConnected(bool connected);
    bool RapiDeviceConnected() const;

    // Observations.
    std::optional<RegistryValue> ReadRegistryValue(const std::u16string& keyPath,
                                                   const std::u16string& valueName) const;
    std::optional<win32::DWORD> LastDeviceIoControlCode() const;
    std::u16string RadioName() const;
    std::u16string RadioInstanceId() const;
    std::size_t OpenHandleCount() const;
    std::uint64_t RadioFindCount() const;

    // ---- Bluetooth API
    win32::HBLUETOOTH_RADIO_FIND FindFirstRadio(const win32::BLUETOOTH_FIND_RADIO_PARAMS* params,
                                                win32::HANDLE* radio);
    win32::BOOL FindRadioClose(win32::HBLUETOOTH_RADIO_FIND find);
    win32::DWORD GetRadioInfo(win32::HANDLE radio, win32::BLUETOOTH_RADIO_INFO* info);
    win32::BOOL IsConnectable(win32::HANDLE radio);
    win32::BOOL EnableIncomingConnections(win32::HANDLE radio, win32::BOOL enabled);
    win32::BOOL IsDiscoverable(win32::HANDLE radio);
    win32::BOOL EnableDiscovery(win32::HANDLE radio, win32::BOOL enabled);
    win32::DWORD GetDeviceInfo(win32::HANDLE radio, win32::BLUETOOTH_DEVICE_INFO* info);

    // ---- Winsock
    win32::INT LookupServiceBegin(win32::WSAQUERYSETW* restrictions, win32::DWORD flags,
                                  win32::HANDLE* lookup);
    win32::INT LookupServiceNext(win32::HANDLE lookup, win32::DWORD flags,
                                 win32::DWORD* bufferLength, win32::WSAQUERYSETW* results);
    win32::INT LookupServiceEnd(win32::HANDLE lookup);
    win32::INT AddressToString(win32::SOCKADDR* address, win32::DWORD addressLength,
                               win32::WCHAR* text, win32::DWORD* textLength);
    win32::SOCKET Socket(win32::INT family, win32::INT type, win32::INT protocol);
    win32::INT CloseSocket(win32::SOCKET socket);

    // ---- SetupAPI
    win32::HDEVINFO GetClassDevs(const GUID* classGuid, const win32::WCHAR* enumerator,
                                 win32::DWORD flags);
    win32::BOOL EnumDeviceInfo(win32::HDEVINFO set, win32::DWORD index,
                               win32::SP_DEVINFO_DATA* device);
    win32::BOOL GetDeviceRegistryProperty(win32::HDEVINFO set, win32::SP_DEVINFO_DATA* device,
                                          win32::DWORD property, win32::DWORD* dataType,
                                          win32::BYTE* buffer, win32::DWORD bufferSize,
                                          win32::DWORD* requiredSize);
    win32::BOOL GetDeviceInstanceId(win32::HDEVINFO set, win32::SP_DEVINFO_DATA* device,
                                    win32::WCHAR* instanceId, win32::DWORD instanceIdSize,
                                    win32::DWORD* requiredSize);
    win32::BOOL DestroyDeviceInfoList(win32::HDEVINFO set);

    // ---- Registry
    win32::LONG RegOpenKey(win32::HKEY key, const win32::WCHAR* subKey, win32::HKEY* result);
    win32::LONG RegSetValue(win32::HKEY key, const win32::WCHAR* valueName, win32::DWORD reserved,
                            win32::DWORD type, const win32::BYTE* data, win32::DWORD dataSize);
    win32::LONG RegDeleteValue(win32::HKEY key, const win32::WCHAR* valueName);
    win32::LONG RegCloseKey(win32::HKEY key);

    // ---- kernel32
    win32::BOOL GetComputerName(win32::WCHAR* buffer, win32::DWORD* size);
    win32::BOOL DeviceIoControl(win32::HANDLE device, win32::DWORD code, const void* input,
                                win32::DWORD inputSize, win32::DWORD* bytesReturned);
    win32::BOOL GetVersionEx(win32::OSVERSIONINFOA* info);
    win32::BOOL CloseHandle(win32::HANDLE handle);

private:
    // One device node of a SetupAPI device class.
    struct DeviceNode {
        GUID classGuid;
        std::u16string
            hardwareIds;  // REG_MULTI_SZ: each id NUL-terminated, one more NUL at the end
        std::u16string instanceId;
        bool followsRadio = false;  // present only while the radio is
    };
    struct InquiryResult {
        std::uint64_t address = 0;
        std::u16string name;
    };
    struct ServiceResult {
        std::uint64_t address = 0;
        std::u16string name;
        std::u16string comment;
        std::uint8_t channel = 0;
        GUID serviceClass;
        std::vector<std::uint8_t> record;
    };
    struct RadioFindObject {};
    struct RadioObject {};
    struct LookupObject {
        bool containers = false;
        std::vector<InquiryResult> devices;
        std::vector<ServiceResult> services;
        std::size_t next = 0;
    };
    struct DeviceSetObject {
        std::vector<DeviceNode> nodes;
    };
    struct KeyObject {
        std::u16string path;  // folded to lower case
    };
    struct SocketObject {};
    using HandleObject = std::variant<RadioFindObject, RadioObject, LookupObject, DeviceSetObject,
                                      KeyObject, SocketObject>;

    std::uintptr_t NewHandle(HandleObject object);
    template <typename T>
    T* FindHandle(std::uintptr_t handle);
    bool RadioPresentNow() const;
    bool MicrosoftInstalled() const;
    std::u16string EffectiveRadioName() const;
    std::vector<ServiceResult> ServicesOf(const DeviceSpec& device, const GUID& requested) const;
    const DeviceSpec* FindDeviceByAddress(std::uint64_t address) const;
    std::vector<DeviceNode> AllDeviceNodes() const;

    const Scenario m_scenario;
    const Clock& m_clock;
    const Clock::TimePoint m_start;
    std::map<std::uint64_t, std::size_t> m_deviceIndex;  // address -> index in the scenario

    mutable std::mutex m_mutex;
    std::map<std::uintptr_t, HandleObject> m_handles;
    // Key path (lower case) -> value name (lower case) -> value.
    std::map<std::u16string, std::map<std::u16string, RegistryValue>> m_registry;
    std::u16string m_computerName = u"KAVRI-PC";
    win32::DWORD m_osMajor = 6;
    win32::DWORD m_osMinor = 1;
    win32::DWORD m_osPlatform = win32::kVerPlatformWin32Nt;
    std::u16string m_addressTextSuffix;
    std::u16string m_radioName;  // what the radio reports; reloaded by its control code
    bool m_connectable = true;
    bool m_discoverable = false;
    bool m_irdaPresent = false;
    bool m_rapiConnected = false;
    std::optional<win32::DWORD> m_lastIoControlCode;
    std::uint64_t m_radioFindCount = 0;
};

// The state of the current neighbourhood, or null. Installing a state when
// another is current fails (returns false): exactly one neighbourhood is
// current at a time.
std::shared_ptr<SimWin32State> CurrentSimWin32State();
bool InstallSimWin32State(std::shared_ptr<SimWin32State> state);
void UninstallSimWin32State(const std::shared_ptr<SimWin32State>& state);

// The calling thread's last error, shared by every stand-in library (the
// stand-in sockets of SimWinsockSockets included), as the system keeps one.
void SetSimLastError(win32::DWORD error);
win32::DWORD SimLastError();

// The entry points of each stand-in library, by entry-point name.
EntryPointTable SimBluetoothApiEntryPoints();
EntryPointTable SimWinsockEntryPoints();
EntryPointTable SimSetupApiEntryPoints();
EntryPointTable SimAdvapiEntryPoints();
EntryPointTable SimKernel32EntryPoints();
EntryPointTable SimRapiEntryPoints();
EntryPointTable SimCeutilEntryPoints();

// Completes every RAPI initialisation that waits for a device: called when
// the current neighbourhood's device connects.
void SignalRapiSessions();

}  // namespace kavri::sim
