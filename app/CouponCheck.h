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
// found again. Closing removes the "Coupon" entry and writes the redemption
// in its place ("Redeemed", the date and time in ISO 8601, and
// "RedeemedCoupon", the code); the rest of the record stays, so the device
// still counts as having accepted. A code that finds no open coupon but was
// redeemed before is reported as already used, with the date.
//
// Free functions and plain value types: main thread (the store's thread).
// Throws only std::bad_alloc; failures come back as false with a reason. A
// missing "accepted.dat" holds no coupon; one that exists but cannot be read
// is such a failure, never an empty result.

// One device that holds the code, or held it until it was redeemed.
struct CouponMatch {
    std::string Campaign;    // the campaign's display name ("Name" of its record)
    std::string DeviceName;  // "Name" of the device record
    std::string DeviceType;  // "COD" of the device record
    std::string Address;     // the section name
    TDateTime DateTime;      // "DateTime" of the device record, 0 when missing
    TDateTime Redeemed;      // "Redeemed" of a redeemed coupon, 0 when missing
};

// What a check of one code found. Redeemed is filled only when Open is empty:
// while a device still holds the code open, the code is good, whatever other
// devices redeemed before.
struct CouponLookup {
    std::vector<CouponMatch> Open;      // devices whose "Coupon" is the code
    std::vector<CouponMatch> Redeemed;  // devices whose "RedeemedCoupon" is the code
};

// The devices whose "Coupon" equals code byte for byte (letter case counts,
// nothing is trimmed), campaigns in list order and devices in file order. An
// empty code finds nothing, although devices of campaigns without coupons
// carry an empty "Coupon". The matches go to matches; refused with why
// when the campaign list or a campaign's "accepted.dat" cannot be read.
Result FindCoupon(const CampaignStore& store, std::string_view code,
                  std::vector<CouponMatch>& matches);

// FindCoupon, and when it finds no open coupon, the devices whose redeemed
// code ("RedeemedCoupon") equals code by the same rule, in the same order.
Result LookUpCoupon(const CampaignStore& store, std::string_view code, CouponLookup& found);

// Closes the coupon of the device record at address in the "accepted.dat" of
// the campaign named campaign (display or folder name, any letter case):
// "Redeemed" = now and "RedeemedCoupon" = the code are written, then "Coupon"
// is removed. An empty coupon (a campaign without codes) is removed without a
// redemption, as nothing was handed out. Refused, with the file untouched,
// when the campaign is not in the list, the device holds no coupon there, or
// now has no calendar date.
Result CloseCoupon(const CampaignStore& store, std::string_view campaign, std::string_view address,
                   TDateTime now);

}  // namespace kavri
