#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/DateTime.h"
#include "app/Result.h"

namespace kavri {

class CampaignStore;

// Checking a coupon a customer shows: which devices of which campaigns were
// given the code (the "Coupon" entry of a device's record in the campaign's
// "accepted.dat"), and closing the coupon of one device so that it is not
// found again. Closing removes the "Coupon" entry alone; the rest of the
// record stays, so the device still counts as having accepted.
//
// Free functions and a plain value type: main thread (the store's thread).
// Throws only std::bad_alloc; failures come back as false with a reason. A
// missing "accepted.dat" holds no coupon; one that exists but cannot be read
// is such a failure, never an empty result.

// One device that holds the code.
struct CouponMatch {
    std::string Campaign;    // the campaign's display name ("Name" of its record)
    std::string DeviceName;  // "Name" of the device record
    std::string DeviceType;  // "COD" of the device record
    std::string Address;     // the section name
    TDateTime DateTime;      // "DateTime" of the device record, 0 when missing
};

// The devices whose "Coupon" equals code byte for byte (letter case counts,
// nothing is trimmed), campaigns in list order and devices in file order. An
// empty code finds nothing, although devices of campaigns without coupons
// carry an empty "Coupon". The matches go to matches; refused with why
// when the campaign list or a campaign's "accepted.dat" cannot be read.
Result FindCoupon(const CampaignStore& store, std::string_view code,
                  std::vector<CouponMatch>& matches);

// Removes the "Coupon" entry of the device record at address in the
// "accepted.dat" of the campaign named campaign (display or folder name, any
// letter case). Refused, with the file untouched, when the campaign is not in
// the list or the device holds no coupon there.
Result CloseCoupon(const CampaignStore& store, std::string_view campaign, std::string_view address);

}  // namespace kavri
