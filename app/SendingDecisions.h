#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/DeviceTypeFilter.h"

namespace kavri {

class AppSettings;
class CampaignStore;
class CampaignTable;
class DateTimeClock;

// A device's status image in the main window's device list, as stored.
enum DeviceStatus {
    dsAccepted = 0,
    dsBlackListed = 1,
    dsRejected = 2,
    dsAlreadyAccepted = 3,
    dsConnecting = 4,
    dsConnected = 5,
    dsFailed = 6,
    dsSending = 7,
    dsSent = 8,
    // The active campaign is for other device types: passed over without a
    // refusal or a record, so the device stays eligible for other campaigns.
    dsSkipped = 9,
};

// One row of the device list: what the window shows and kavrictl prints.
struct DeviceRow {
    std::string Name;                    // "<unknown>" when the name could not be read
    std::string TypeText;                // DeviceTypeName, or "<unknown>"
    std::string Address;                 // the address text, e.g. "(00:17:E5:3A:91:02)"
    std::optional<DeviceStatus> Status;  // none until a decision sets one
    // The class of device read at discovery; none when the query failed.
    std::optional<std::uint32_t> ClassOfDevice;
};

// Why a device was, or was not, accepted in this cycle.
enum class AcceptReason {
    Accepted,         // never refused this campaign
    RefusalExpired,   // refused earlier, longer ago than RejectedTimeout
    NoCampaign,       // no campaign is active in this cycle
    BlackListed,      // on the black list
    AlreadyAccepted,  // took this campaign's push before
    RecentlyRefused,  // refused this campaign, and the refusal has not expired
    // The black list or a device file of the active campaign exists but cannot
    // be read, so nothing can tell whether the device may be served: refused
    // rather than served against a black list or an acceptance that is there.
    UnreadableRecords,
    // The active campaign names the device types it is for, and this device
    // is of none of them (or its type is unknown). No status of refusal, no
    // record.
    OtherDeviceType,
};

// The device-type text of a class of device (major bits 8-12, minor bits
// 2-7). These texts are stored in the device files as they are; they are not
// language texts.
std::string DeviceTypeName(std::uint32_t classOfDevice);

// The text stored and shown when a name or class query fails.
inline constexpr std::string_view kUnknownDeviceText = "<unknown>";

// The two questions the decisions ask of a device over the air: its name and
// its class of device. Either may fail (nullopt, or an empty function); the
// decision then goes on with "<unknown>".
struct DeviceQueries {
    std::function<std::optional<std::string>(const std::string& address)> Name;
    std::function<std::optional<std::uint32_t>(const std::string& address)> ClassOfDevice;
};

// What the application answers to the sender's per-device events while it
// sends: the campaign of each discovery cycle, which devices may receive it
// (black list, the campaign's device types, earlier acceptance, recent
// refusal), the file that is pushed,
// and the records written when a push succeeds ("accepted.dat", with the
// coupon code when the campaign hands one out) or is refused ("rejected.dat").
// It also keeps the device list of the current cycle with each row's status.
//
// The handlers keep the names of the sender's events they answer. A device is
// given by its address text, exactly as the discovery layer gives it; it is
// the section name of every device record. Records go to the campaign that is
// active when the event arrives.
//
// Lives on the main thread, like the sender whose events it answers. Opens,
// changes and closes the device files for each event and keeps only the
// device rows; the store, table, settings and clock must outlive it. Throws
// only std::bad_alloc. A record that cannot be written is reported through
// OnRecordFailed and the decision goes on. A device file that cannot be read
// refuses the device (UnreadableRecords) and is reported through
// OnRecordFailed too, once per discovery cycle for each distinct reason.
class SendingDecisions {
public:
    static constexpr std::string_view kAcceptedFile = "accepted.dat";
    static constexpr std::string_view kRejectedFile = "rejected.dat";

    SendingDecisions(const CampaignStore& store, CampaignTable& table, const AppSettings& settings,
                     const DateTimeClock& clock, DeviceQueries queries);

    // Rebuilds the device rows from the devices found, in order, each without
    // a status, then chooses the campaign of this cycle.
    void wclProximitySenderDiscoveryComplete(const std::vector<std::string>& addresses);
    // accept is set; the reason tells why, and the row's status shows it.
    AcceptReason wclProximitySenderAcceptDevice(const std::string& address, bool& accept);
    void wclProximitySenderDevicesAccepted(const std::vector<std::string>& addresses);
    void wclProximitySenderConnecting(const std::string& address);
    // A refusal (0x8000F01C or 0x8000F02B) is recorded in "rejected.dat".
    void wclProximitySenderConnected(const std::string& address, std::uint32_t result);
    // The active campaign's payload: its folder followed by the record's
    // "FileName"; empty when no campaign is active. more always ends false.
    void wclProximitySenderGetFile(std::string& fileName, bool& more);
    void wclProximitySenderFileSendStart(const std::string& address);
    // Success is recorded in "accepted.dat", a refusal in "rejected.dat".
    void wclProximitySenderFileSendComplete(const std::string& address, std::uint32_t result);

    // The first row whose address equals address exactly gets the status;
    // nothing happens without such a row.
    void SetDeviceStatus(DeviceStatus status, const std::string& address);
    const std::vector<DeviceRow>& Rows() const { return m_rows; }
    // The row of that address, or nullptr.
    const DeviceRow* FindRow(const std::string& address) const;
    // The sender stopped: the list is emptied.
    void ClearRows() { m_rows.clear(); }

    // Raised, on the main thread, with a one-line reason when a device
    // record could not be written or erased, or a device file not read.
    std::function<void(const std::string& message)> OnRecordFailed;

    // Both refusal codes count as a refusal by the device's user.
    static bool IsRefusal(std::uint32_t result);

private:
    std::string QueryName(const std::string& address) const;
    std::optional<std::uint32_t> QueryClass(const std::string& address) const;
    // The device types of the active campaign, read once per campaign chosen.
    const DeviceTypeFilter& ActiveDeviceTypes();
    void Record(std::string_view fileName, const std::string& address,
                const std::optional<std::string>& coupon);
    bool RefusalExpired(double refusedAt, unsigned hours) const;
    void ReportFailure(const std::string& message);
    // Refuses the device because a file it is decided by cannot be read.
    AcceptReason RefuseUnreadable(const std::string& address, const std::string& error);

    const CampaignStore& m_store;
    CampaignTable& m_table;
    const AppSettings& m_settings;
    const DateTimeClock& m_clock;
    DeviceQueries m_queries;
    std::vector<DeviceRow> m_rows;
    // Read failures reported in this discovery cycle, so one unreadable file
    // gives one line per cycle rather than one per device.
    std::vector<std::string> m_readFailuresReported;
    // ActiveDeviceTypes' cache: the campaign it was read for, and its types.
    std::string m_typesCampaign;
    DeviceTypeFilter m_activeTypes;
};

}  // namespace kavri
