#include "app/DeviceRecords.h"

#include <cctype>
#include <utility>

#include "app/CampaignRecord.h"
#include "app/CampaignStore.h"
#include "app/DataFolder.h"
#include "app/IniFile.h"
#include "app/SendingDecisions.h"
#include "stack/wclBluetoothAddress.h"

namespace kavri {
namespace {

constexpr std::string_view kNameKey = "Name";
constexpr std::string_view kTypeKey = "COD";
constexpr std::string_view kDateTimeKey = "DateTime";
constexpr std::string_view kCouponKey = "Coupon";

std::string AddressRefusal(std::string_view address) {
    if (IsValidAddress(address)) {
        return {};
    }
    return "\"" + std::string(address) + "\" is not a device address such as (00:17:E5:3A:91:02)";
}

}  // namespace

DeviceRecords::DeviceRecords(const CampaignStore& store, DateFormat display)
    : m_store(store), m_display(std::move(display)) {}

std::string_view DeviceRecords::FileName(DeviceRecordKind kind) {
    return kind == DeviceRecordKind::Accepted ? SendingDecisions::kAcceptedFile
                                              : SendingDecisions::kRejectedFile;
}

Result DeviceRecords::ReadFile(const std::string& path, const std::string& campaign, bool withDates,
                               bool withCoupon, std::vector<DeviceRecordRow>& rows) const {
    // One snapshot: the file is looked at once, not once per read.
    const IniFile::Snapshot file = IniFile(path, m_store.Format()).ReadSnapshot();
    if (!file.Error().empty()) {
        return Result::Failure(file.Error());
    }
    file.ForEachSection([&](const IniFile::SectionView& device) {
        DeviceRecordRow row;
        row.Campaign = campaign;
        row.Address = std::string(device.Name());
        row.Name = device.ReadString(kNameKey, "");
        row.TypeText = device.ReadString(kTypeKey, "");
        if (withDates) {
            // A stamp that does not read (hand-edited, another program's form)
            // is shown as stored rather than as a made-up date.
            std::string stamp = device.ReadString(kDateTimeKey, "");
            TDateTime value;
            row.DateTime = m_store.Format().ParseDateTime(stamp, value)
                               ? m_display.FormatDateTime(value)
                               : std::move(stamp);
        }
        if (withCoupon) {
            row.Coupon = device.ReadString(kCouponKey, "");
        }
        rows.push_back(std::move(row));
    });
    return Result::Success();
}

Result DeviceRecords::BlackList(std::vector<DeviceRecordRow>& rows) const {
    return ReadFile(m_store.Folder().BlackListFile(), std::string(), false, false, rows);
}

Result DeviceRecords::List(DeviceRecordKind kind, std::vector<DeviceRecordRow>& rows) const {
    // A campaign list that could not be read would list nothing.
    if (!m_store.Campaigns().LoadError().empty()) {
        return Result::Failure(m_store.Campaigns().LoadError());
    }
    const std::string fileName(FileName(kind));
    for (const std::string& name : m_store.Campaigns().Names()) {
        if (Result read =
                ReadFile(m_store.CampaignFolder(name) + fileName, m_store.ReadRecord(name).Name,
                         true, kind == DeviceRecordKind::Accepted, rows);
            !read) {
            return read;
        }
    }
    return Result::Success();
}

Result DeviceRecords::AddToBlackList(std::string_view address, std::string_view name,
                                     std::string_view typeText) {
    if (std::string why = AddressRefusal(address); !why.empty()) {
        return Result::Failure("cannot black-list: " + why);
    }
    std::string section(address);
    for (char& c : section) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    IniFile file(m_store.Folder().BlackListFile(), m_store.Format());
    // One replacement of the file, so the record lands whole or not at all.
    if (Result written = file.WriteValues(section, {{kNameKey, name}, {kTypeKey, typeText}});
        !written) {
        return Result::Failure("cannot write " + file.FileName() + ": " + written.Message);
    }
    return Result::Success();
}

Result DeviceRecords::RemoveSection(const std::string& path, std::string_view address) const {
    if (std::string why = AddressRefusal(address); !why.empty()) {
        return Result::Failure("cannot remove: " + why);
    }
    IniFile file(path, m_store.Format());
    const IniFile::Snapshot current = file.ReadSnapshot();
    if (!current.Error().empty()) {
        return Result::Failure(current.Error());
    }
    if (!current.SectionExists(address)) {
        return Result::Failure("no record of " + std::string(address) + " in " + path);
    }
    if (Result erased = file.EraseSection(address); !erased) {
        return Result::Failure("cannot write " + path + ": " + erased.Message);
    }
    return Result::Success();
}

Result DeviceRecords::RemoveFromBlackList(std::string_view address) {
    return RemoveSection(m_store.Folder().BlackListFile(), address);
}

Result DeviceRecords::Remove(DeviceRecordKind kind, std::string_view campaign,
                             std::string_view address) {
    // The folder is found from the name alone, so the name must not lead
    // outside the data folder.
    if (Result named = DataFolder::CheckName(campaign); !named) {
        return Result::Failure("cannot remove from campaign \"" + std::string(campaign) +
                               "\": " + named.Message);
    }
    return RemoveSection(m_store.CampaignFolder(campaign) + std::string(FileName(kind)), address);
}

namespace {

// Every section gone in one replacement of the file, under the file's lock so
// that a record another process writes at the same moment is either cleared
// or kept whole: erasing them one at a time would rewrite a long file once per
// record. A missing file is already empty and is not created.
Result EmptyFile(const std::string& path, const DateFormat& format) {
    IniFile file(path, format);
    if (Result cleared = file.Clear(); !cleared) {
        return Result::Failure("cannot clear " + path + ": " + cleared.Message);
    }
    return Result::Success();
}

}  // namespace

Result DeviceRecords::ClearBlackList() {
    return EmptyFile(m_store.Folder().BlackListFile(), m_store.Format());
}

Result DeviceRecords::Clear(DeviceRecordKind kind) {
    // A campaign list that could not be read would clear nothing and look
    // like success.
    if (!m_store.Campaigns().LoadError().empty()) {
        return Result::Failure("cannot clear: " + m_store.Campaigns().LoadError());
    }
    const std::string fileName(FileName(kind));
    for (const std::string& name : m_store.Campaigns().Names()) {
        if (Result cleared = EmptyFile(m_store.CampaignFolder(name) + fileName, m_store.Format());
            !cleared) {
            return cleared;
        }
    }
    return Result::Success();
}

}  // namespace kavri
