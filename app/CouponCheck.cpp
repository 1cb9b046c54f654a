#include "app/CouponCheck.h"

#include <utility>

#include "app/CampaignStore.h"
#include "app/IniFile.h"
#include "app/SendingDecisions.h"

namespace kavri {
namespace {

constexpr std::string_view kCouponKey = "Coupon";

std::string AcceptedFile(const CampaignStore& store, std::string_view campaign) {
    return store.CampaignFolder(campaign) + std::string(SendingDecisions::kAcceptedFile);
}

}  // namespace

Result FindCoupon(const CampaignStore& store, std::string_view code,
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
            if (device.ReadString(kCouponKey, "") != code) {
                return;
            }
            CouponMatch match;
            match.Campaign = displayName;
            match.DeviceName = device.ReadString("Name", "");
            match.DeviceType = device.ReadString("COD", "");
            match.Address = std::string(device.Name());
            match.DateTime = device.ReadDateTime("DateTime", TDateTime(0.0));
            matches.push_back(std::move(match));
        });
    }
    return Result::Success();
}

Result CloseCoupon(const CampaignStore& store, std::string_view campaign,
                   std::string_view address) {
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
    return accepted.DeleteKey(address, kCouponKey);
}

}  // namespace kavri
