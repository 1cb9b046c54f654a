#include "app/SendingDecisions.h"

#include <cmath>
#include <cstdint>
#include <utility>

#include "app/AppSettings.h"
#include "app/CampaignStore.h"
#include "app/CampaignTable.h"
#include "app/DataFolder.h"
#include "app/DateTimeClock.h"
#include "app/IniFile.h"
#include "stack/wclExceptions.h"

namespace kavri {

namespace {

constexpr std::string_view kNameKey = "Name";
constexpr std::string_view kTypeKey = "COD";
constexpr std::string_view kDateTimeKey = "DateTime";
constexpr std::string_view kCouponKey = "Coupon";

struct MinorText {
    unsigned Minor;
    std::string_view Text;
};

// The texts are stored in device files, so they stay exactly as they have
// always been written, spelling included.
constexpr MinorText kComputers[] = {{1, "Desktop computer"},
                                    {2, "Service computer"},
                                    {3, "Laptop computer"},
                                    {4, "Handheld computer"},
                                    {5, "Palm computer"}};
constexpr MinorText kPhones[] = {
    {1, "Mobile phone"}, {2, "Cordless phone"}, {3, "Smartphone"}, {4, "Modem"}, {5, "ISDN Modem"}};
constexpr MinorText kAudio[] = {{1, "HeadSet"},
                                {2, "HandsFree"},
                                {3, "HeadSet + HandsFree"},
                                {4, "Microphone"},
                                {5, "Loudspeaker"},
                                {6, "Headphones"},
                                {7, "Portable Audio"},
                                {8, "Car audio"},
                                {9, "Set tob box"},
                                {10, "HiFi Audio"},
                                {11, "VCR Audio"},
                                {12, "Video Camera Audio"},
                                {13, "Camcoder Audio"},
                                {14, "Video Monitor Audio"},
                                {15, "Video Display Laudspeaker"},
                                {16, "Video Display Conferencing"},
                                {18, "Gaming Toy Audio"}};
constexpr MinorText kPeripherals[] = {
    {1, "Joystick"},         {2, "Gemapad"},     {3, "Remote Control"}, {4, "Sensing"},
    {5, "Digitizer Tablet"}, {6, "Card Reader"}, {16, "Keyboard"},      {32, "Pointer"}};
constexpr MinorText kImaging[] = {
    {4, "Video Dispaly"}, {8, "Video Camera"}, {16, "Scanner"}, {32, "Printer"}};
constexpr MinorText kToys[] = {
    {1, "Robot Toy"}, {2, "Vehicle Toy"}, {3, "Doll Action Figure"}, {4, "Toy Controller"}};

template <std::size_t N>
std::string_view Lookup(const MinorText (&table)[N], unsigned minor, std::string_view other) {
    for (const MinorText& entry : table) {
        if (entry.Minor == minor) {
            return entry.Text;
        }
    }
    return other;
}

// A date-time as milliseconds on one straight line. Before 30 December 1899
// the fraction of a stored value still counts forward from midnight, so the
// whole part and the fraction are taken apart rather than scaled together.
std::optional<std::int64_t> LinearMilliseconds(double value) {
    constexpr double kMsPerDay = 86400000.0;
    // Far beyond any calendar date; keeps the conversion inside 64 bits.
    if (!std::isfinite(value) || std::fabs(value) > 1.0e7) {
        return std::nullopt;
    }
    const double whole = std::trunc(value);
    const double fraction = std::fabs(value - whole);
    return static_cast<std::int64_t>(whole) * 86400000 +
           static_cast<std::int64_t>(std::llround(fraction * kMsPerDay));
}

}  // namespace

std::string DeviceTypeName(std::uint32_t classOfDevice) {
    const unsigned major = (classOfDevice & 0x1F00u) >> 8;
    const unsigned minor = (classOfDevice & 0xFCu) >> 2;
    switch (major) {
        case 0:
            return "Unknown Device";
        case 1:
            return std::string(Lookup(kComputers, minor, "Computer"));
        case 2:
            return std::string(Lookup(kPhones, minor, "Phone device"));
        case 3:
            return "LAN device";
        case 4:
            return std::string(Lookup(kAudio, minor, "Audio device"));
        case 5:
            return std::string(Lookup(kPeripherals, minor, "Peripheral Device"));
        case 6:
            return std::string(Lookup(kImaging, minor, "Video device"));
        case 7:
            return "Wearable device";
        case 8:
            return std::string(Lookup(kToys, minor, "Toy device"));
        case 31:
            return "Unknown Device";
        default:
            // Majors 9 to 30 have no name.
            return std::string();
    }
}

namespace {

std::string TypeText(std::optional<std::uint32_t> classOfDevice) {
    return classOfDevice ? DeviceTypeName(*classOfDevice) : std::string(kUnknownDeviceText);
}

}  // namespace

SendingDecisions::SendingDecisions(const CampaignStore& store, CampaignTable& table,
                                   const AppSettings& settings, const DateTimeClock& clock,
                                   DeviceQueries queries)
    : m_store(store),
      m_table(table),
      m_settings(settings),
      m_clock(clock),
      m_queries(std::move(queries)) {}

bool SendingDecisions::IsRefusal(std::uint32_t result) {
    return result == kWclErrConnectionClosed || result == kWclErrUnableConnect;
}

std::string SendingDecisions::QueryName(const std::string& address) const {
    std::optional<std::string> name;
    if (m_queries.Name) {
        name = m_queries.Name(address);
    }
    return name ? std::move(*name) : std::string(kUnknownDeviceText);
}

std::optional<std::uint32_t> SendingDecisions::QueryClass(const std::string& address) const {
    if (!m_queries.ClassOfDevice) {
        return std::nullopt;
    }
    return m_queries.ClassOfDevice(address);
}

const DeviceTypeFilter& SendingDecisions::ActiveDeviceTypes() {
    // The record is read when the campaign changes rather than for every
    // device: a cycle asks once per device found.
    const std::string& campaign = m_table.ActiveCampaign();
    if (campaign != m_typesCampaign) {
        m_typesCampaign = campaign;
        m_activeTypes =
            campaign.empty()
                ? DeviceTypeFilter()
                : DeviceTypeFilter::FromStored(m_store.ReadRecord(campaign).DeviceTypes);
    }
    return m_activeTypes;
}

void SendingDecisions::ReportFailure(const std::string& message) {
    if (OnRecordFailed) {
        OnRecordFailed(message);
    }
}

void SendingDecisions::SetDeviceStatus(DeviceStatus status, const std::string& address) {
    for (DeviceRow& row : m_rows) {
        if (row.Address == address) {
            row.Status = status;
            return;
        }
    }
}

const DeviceRow* SendingDecisions::FindRow(const std::string& address) const {
    for (const DeviceRow& row : m_rows) {
        if (row.Address == address) {
            return &row;
        }
    }
    return nullptr;
}

void SendingDecisions::wclProximitySenderDiscoveryComplete(
    const std::vector<std::string>& addresses) {
    std::vector<DeviceRow> rows;
    rows.reserve(addresses.size());
    for (const std::string& address : addresses) {
        const std::optional<std::uint32_t> classOfDevice = QueryClass(address);
        rows.push_back(DeviceRow{QueryName(address), TypeText(classOfDevice), address, std::nullopt,
                                 classOfDevice});
    }
    m_rows = std::move(rows);
    m_readFailuresReported.clear();
    // The campaign of this cycle; the accept decisions that follow use it.
    m_table.SelectActiveCampaign();
    // Read afresh each cycle: the record may have been edited in between.
    m_typesCampaign.clear();
    m_activeTypes = DeviceTypeFilter();
    (void)ActiveDeviceTypes();
}

bool SendingDecisions::RefusalExpired(double refusedAt, unsigned hours) const {
    // Compared in whole milliseconds: a refusal stored at 10:00:00 with 24
    // hours expires at 10:00:00.000 the next day exactly, which sums of
    // fractions of a day would miss by a rounding step either way.
    const std::optional<std::int64_t> from = LinearMilliseconds(refusedAt);
    const std::optional<std::int64_t> now = LinearMilliseconds(m_clock.Now().Value());
    if (!from || !now) {
        // A stored value without a calendar date counts as long ago.
        return now.has_value();
    }
    return *from + static_cast<std::int64_t>(hours) * 3600000 <= *now;
}

AcceptReason SendingDecisions::RefuseUnreadable(const std::string& address,
                                                const std::string& error) {
    SetDeviceStatus(dsFailed, address);
    bool reported = false;
    for (const std::string& message : m_readFailuresReported) {
        reported = reported || message == error;
    }
    if (!reported) {
        m_readFailuresReported.push_back(error);
        ReportFailure(error + "; refusing the devices it decides for");
    }
    return AcceptReason::UnreadableRecords;
}

AcceptReason SendingDecisions::wclProximitySenderAcceptDevice(const std::string& address,
                                                              bool& accept) {
    accept = false;
    if (m_table.ActiveCampaign().empty()) {
        // Refused silently: the list still shows what is in range.
        return AcceptReason::NoCampaign;
    }
    // A file that exists but cannot be read is not an empty file: serving the
    // device then could push to a black-listed phone or push twice.
    const DataFolder& data = m_store.Folder();
    const IniFile::Snapshot blackList =
        IniFile(data.BlackListFile(), m_store.Format()).ReadSnapshot();
    if (!blackList.Error().empty()) {
        return RefuseUnreadable(address, blackList.Error());
    }
    if (blackList.SectionExists(address)) {
        SetDeviceStatus(dsBlackListed, address);
        return AcceptReason::BlackListed;
    }
    if (const DeviceTypeFilter& types = ActiveDeviceTypes(); !types.AllTypes()) {
        // The class read at discovery; a device the cycle did not list is
        // asked now.
        const DeviceRow* row = FindRow(address);
        if (!types.Matches(row != nullptr ? row->ClassOfDevice : QueryClass(address))) {
            SetDeviceStatus(dsSkipped, address);
            return AcceptReason::OtherDeviceType;
        }
    }
    const std::string folder = m_table.ActiveCampaignFolder();
    const IniFile::Snapshot accepted =
        IniFile(folder + std::string(kAcceptedFile), m_store.Format()).ReadSnapshot();
    if (!accepted.Error().empty()) {
        return RefuseUnreadable(address, accepted.Error());
    }
    if (accepted.SectionExists(address)) {
        SetDeviceStatus(dsAlreadyAccepted, address);
        return AcceptReason::AlreadyAccepted;
    }
    IniFile rejected(folder + std::string(kRejectedFile), m_store.Format());
    const IniFile::Snapshot refusals = rejected.ReadSnapshot();
    if (!refusals.Error().empty()) {
        return RefuseUnreadable(address, refusals.Error());
    }
    if (!refusals.SectionExists(address)) {
        // Its status follows when the sender reports the accepted devices.
        accept = true;
        return AcceptReason::Accepted;
    }
    const unsigned hours = m_settings.RejectedTimeout();
    if (hours == 0) {
        // A refusal never expires.
        SetDeviceStatus(dsRejected, address);
        return AcceptReason::RecentlyRefused;
    }
    const TDateTime refusedAt = refusals.ReadDateTime(address, kDateTimeKey, TDateTime());
    if (!RefusalExpired(refusedAt.Value(), hours)) {
        SetDeviceStatus(dsRejected, address);
        return AcceptReason::RecentlyRefused;
    }
    accept = true;
    SetDeviceStatus(dsAccepted, address);
    if (const Result erased = rejected.EraseSection(address); !erased) {
        // The device is served anyway; a new refusal overwrites the record.
        ReportFailure("cannot erase " + address + " from " + rejected.FileName() + ": " +
                      erased.Message);
    }
    return AcceptReason::RefusalExpired;
}

void SendingDecisions::wclProximitySenderDevicesAccepted(
    const std::vector<std::string>& addresses) {
    for (const std::string& address : addresses) {
        SetDeviceStatus(dsAccepted, address);
    }
}

void SendingDecisions::wclProximitySenderConnecting(const std::string& address) {
    SetDeviceStatus(dsConnecting, address);
}

void SendingDecisions::wclProximitySenderConnected(const std::string& address,
                                                   std::uint32_t result) {
    if (result == 0) {
        SetDeviceStatus(dsConnected, address);
    } else if (IsRefusal(result)) {
        Record(kRejectedFile, address, std::nullopt);
        SetDeviceStatus(dsRejected, address);
    } else {
        // Left unrecorded, so the device is tried again in a later cycle.
        SetDeviceStatus(dsFailed, address);
    }
}

void SendingDecisions::wclProximitySenderGetFile(std::string& fileName, bool& more) {
    fileName.clear();
    more = false;
    const std::string& campaign = m_table.ActiveCampaign();
    if (campaign.empty()) {
        return;
    }
    // The same rule for every campaign type: the editors name the payload in
    // "FileName". Without it the folder itself is named, which the sender
    // then fails to read.
    fileName = m_table.ActiveCampaignFolder() + m_store.ReadRecord(campaign).FileName;
}

void SendingDecisions::wclProximitySenderFileSendStart(const std::string& address) {
    SetDeviceStatus(dsSending, address);
}

void SendingDecisions::wclProximitySenderFileSendComplete(const std::string& address,
                                                          std::uint32_t result) {
    if (result == 0) {
        std::string coupon;
        const std::string& campaign = m_table.ActiveCampaign();
        if (!campaign.empty()) {
            const CampaignRecord record = m_store.ReadRecord(campaign);
            if (record.Type == kCampaignCouponBased && record.CouponEnabled) {
                coupon = record.Coupon;
            }
        }
        // "Coupon" is written even when empty.
        Record(kAcceptedFile, address, coupon);
        SetDeviceStatus(dsSent, address);
    } else if (IsRefusal(result)) {
        Record(kRejectedFile, address, std::nullopt);
        SetDeviceStatus(dsRejected, address);
    } else {
        SetDeviceStatus(dsFailed, address);
    }
}

void SendingDecisions::Record(std::string_view fileName, const std::string& address,
                              const std::optional<std::string>& coupon) {
    const std::string& campaign = m_table.ActiveCampaign();
    if (campaign.empty()) {
        // No campaign is active any more (the sender was restarted in
        // between): there is no campaign folder to hold the record.
        ReportFailure("cannot record " + address + " in " + std::string(fileName) +
                      ": no campaign is active");
        return;
    }
    // Fresh queries: the name may have changed since the discovery.
    const std::string name = QueryName(address);
    const std::string type = TypeText(QueryClass(address));
    IniFile file(m_table.ActiveCampaignFolder() + std::string(fileName), m_store.Format());
    const std::string stamp = file.Format().FormatDateTime(m_clock.Now());
    std::vector<std::pair<std::string_view, std::string_view>> entries{
        {kNameKey, name}, {kTypeKey, type}, {kDateTimeKey, stamp}};
    if (coupon) {
        entries.emplace_back(kCouponKey, *coupon);
    }
    // One replacement of the file, so a record lands whole or not at all.
    // Names from the air lose their control characters in the store, and an
    // address text cannot forge a section.
    if (const Result written = file.WriteValues(address, entries); !written) {
        ReportFailure("cannot record " + address + " in " + file.FileName() + ": " +
                      written.Message);
    }
}

}  // namespace kavri
