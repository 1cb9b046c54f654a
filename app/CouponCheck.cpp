#include "app/CouponCheck.h"

#include <utility>

#include "app/CampaignStore.h"
#include "app/DateFormat.h"
#include "app/IniFile.h"
#include "app/SendingDecisions.h"

namespace kavri {
namespace {

constexpr std::string_view kCouponKey = "Coupon";
constexpr std::string_view kRedeemedKey = "Redeemed";
constexpr std::string_view kRedeemedCouponKey = "RedeemedCoupon";

std::string AcceptedFile(const CampaignStore& store, std::string_view campaign) {
    return store.CampaignFolder(campaign) + std::string(SendingDecisions::kAcceptedFile);
}

// The devices of every campaign whose entry key equals code, in list and file
// order.
Result FindByKey(const CampaignStore& store, std::string_view key, std::string_view code,
                 std::vector<CouponMatch>& matches) {
    if (code.empty()) {
        return Result::Success();
    }
    if (!store.Campaigns().LoadError().empty()) {
        return Result::Failure(store.Campaigns().LoadError());
    }
    for (const std::string& name : store.Campaigns().Names()) {
        const std::string displayName = store.ReadRecord(name).Name;
        // One snapshot: the file is looked at once, not once per read.
        const IniFile::Snapshot accepted =
            IniFile(AcceptedFile(store, name), store.Format()).ReadSnapshot();
        if (!accepted.Error().empty()) {
            return Result::Failure(accepted.Error());
        }
        accepted.ForEachSection([&](const IniFile::SectionView& device) {
            if (device.ReadString(key, "") != code) {
                return;
            }
            CouponMatch match;
            match.Campaign = displayName;
            match.DeviceName = device.ReadString("Name", "");
            match.DeviceType = device.ReadString("COD", "");
            match.Address = std::string(device.Name());
            match.DateTime = device.ReadDateTime("DateTime", TDateTime(0.0));
            match.Redeemed = device.ReadDateTime(kRedeemedKey, TDateTime(0.0));
            matches.push_back(std::move(match));
        });
    }
    return Result::Success();
}

}  // namespace

Result FindCoupon(const CampaignStore& store, std::string_view code,
                  std::vector<CouponMatch>& matches) {
    return FindByKey(store, kCouponKey, code, matches);
}

Result LookUpCoupon(const CampaignStore& store, std::string_view code, CouponLookup& found) {
    if (Result open = FindByKey(store, kCouponKey, code, found.Open);
        !open || !found.Open.empty()) {
        return open;
    }
    return FindByKey(store, kRedeemedCouponKey, code, found.Redeemed);
}

Result CloseCoupon(const CampaignStore& store, std::string_view campaign, std::string_view address,
                   TDateTime now) {
    if (!store.Campaigns().Contains(campaign)) {
        return Result::Failure("no campaign named \"" + std::string(campaign) + "\"");
    }
    IniFile accepted(AcceptedFile(store, campaign), store.Format());
    const IniFile::Snapshot current = accepted.ReadSnapshot();
    if (!current.Error().empty()) {
        return Result::Failure(current.Error());
    }
    if (!current.ValueExists(address, kCouponKey)) {
        return Result::Failure("device " + std::string(address) +
                               " holds no coupon of campaign \"" + std::string(campaign) + "\"");
    }
    const std::string code = current.ReadString(address, kCouponKey, "");
    if (!code.empty()) {
        const std::string when = DateFormat::Iso().FormatDateTime(now);
        if (when.empty()) {
            return Result::Failure("the date of the redemption is not a calendar date");
        }
        // The redemption is written before the code goes: a crash between the
        // two writes leaves the coupon open (closing it again overwrites the
        // redemption), never closed without a trace.
        if (Result written =
                accepted.WriteValues(address, {{kRedeemedKey, when}, {kRedeemedCouponKey, code}});
            !written) {
            return written;
        }
    }
    return accepted.DeleteKey(address, kCouponKey);
}

}  // namespace kavri
