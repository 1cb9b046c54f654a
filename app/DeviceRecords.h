#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/DateFormat.h"
#include "app/Result.h"

namespace kavri {

class CampaignStore;

// Which of a campaign's two device files.
enum class DeviceRecordKind {
    Accepted,  // "accepted.dat": devices that took the campaign's push
    Rejected,  // "rejected.dat": devices that refused it
};

// One device record as the black-list, accepted and rejected lists show it.
struct DeviceRecordRow {
    std::string Campaign;  // the campaign's display name; empty on the black list
    std::string Address;   // the section name, e.g. "(00:17:E5:3A:91:02)"
    std::string Name;      // "Name", empty when missing
    std::string TypeText;  // "COD", empty when missing
    // "DateTime" as the short date, a blank and the long time (the date alone at
    // midnight); the stored text as it is when it does not read as a date-time;
    // empty on the black list and when missing.
    std::string DateTime;
    std::string Coupon;  // "Coupon" of an accepted record; empty otherwise
};

// The device records behind the black-list, accepted and rejected lists: the
// data folder's "bl.dat" and every campaign's "accepted.dat" and
// "rejected.dat" (one section per device address). Lists them in file order,
// campaign by campaign in the order of the campaign list, with nothing left
// out however long the files are; removes one record, clears a whole list, and
// puts a device on the black list.
//
// A missing file lists as empty; a file that exists but cannot be read makes
// the listing fail with its path and the system's reason, rather than list as
// empty. Writes create files as needed. Each call
// reads the files anew, so a list is a snapshot: the sender may add or erase
// records between two calls.
//
// Lives on the main thread with the store, which must outlive it. Throws only
// std::bad_alloc; failures come back as false with a one-line reason and
// nothing changed.
class DeviceRecords {
public:
    // Records are read with the store's date format and shown with display
    // (the user's short date and long time).
    explicit DeviceRecords(const CampaignStore& store,
                           DateFormat display = DateFormat::FromLocale());

    // One row per black-list section, in file order, into rows. Refused, with
    // rows as far as they got, when the file cannot be read.
    Result BlackList(std::vector<DeviceRecordRow>& rows) const;
    // For each campaign of the list in order, one row per section of its file
    // of that kind, in file order. A device recorded by two campaigns has two.
    // Refused when the campaign list or one of the files cannot
    // be read.
    Result List(DeviceRecordKind kind, std::vector<DeviceRecordRow>& rows) const;

    // Writes "Name" and "COD" under the address in "bl.dat" (overwriting an
    // earlier record of it). The address must be the six-byte text form;
    // hexadecimal digits are stored upper-case, as discovery gives them.
    Result AddToBlackList(std::string_view address, std::string_view name,
                          std::string_view typeText);
    // Erases the address's section from "bl.dat". Refused when there is none.
    Result RemoveFromBlackList(std::string_view address);
    // Erases every section of "bl.dat".
    Result ClearBlackList();

    // Erases the address's section from the file of that kind in the folder of
    // the campaign named campaign (its display name; case does not matter).
    // Refused when there is no such record.
    Result Remove(DeviceRecordKind kind, std::string_view campaign, std::string_view address);
    // Erases every section of that file in every campaign of the list. Stops at
    // the first campaign whose file cannot be written; those before it stay
    // cleared.
    Result Clear(DeviceRecordKind kind);

    static std::string_view FileName(DeviceRecordKind kind);

private:
    // Appends one row per section of the file at path to rows; refused
    // when it cannot be read.
    Result ReadFile(const std::string& path, const std::string& campaign, bool withDates,
                    bool withCoupon, std::vector<DeviceRecordRow>& rows) const;
    Result RemoveSection(const std::string& path, std::string_view address) const;

    const CampaignStore& m_store;
    DateFormat m_display;
};

}  // namespace kavri
