#include "cli/StatsCommands.h"

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <utility>
#include <vector>

#include "app/AutoStart.h"
#include "app/CampaignStore.h"
#include "app/CouponCheck.h"
#include "app/CsvText.h"
#include "app/DateFormat.h"
#include "app/Statistics.h"
#include "cli/Escape.h"
#include "cli/OperatorTexts.h"

namespace kavri::cli {
namespace {

int Fail(std::FILE* err, std::string_view message) {
    std::fprintf(err, "kavrictl: %s\n", EscapeField(message).c_str());
    return 1;
}

// Only closing a coupon writes; the other commands read, and so neither
// create a missing data folder nor need one they may write into.
std::optional<CampaignStore> OpenStore(const std::string& dataFolder, bool forWriting,
                                       std::FILE* err) {
    try {
        return CampaignStore(forWriting ? DataFolder::Open(dataFolder)
                                        : DataFolder::OpenExisting(dataFolder));
    } catch (const std::runtime_error& e) {
        Fail(err, e.what());
        return std::nullopt;
    }
}

}  // namespace

std::vector<std::string> StatisticsTitles(const OperatorTexts& texts) {
    std::vector<std::string> titles = texts.Titles(kStatisticsTitles);
    for (std::string& title : texts.Titles(kRedemptionTitles)) {
        titles.push_back(std::move(title));
    }
    return titles;
}

int ShowStatistics(const std::string& dataFolder, std::string_view from, std::string_view to,
                   bool csv, const std::vector<std::string>& titles, std::FILE* out,
                   std::FILE* err) {
    const DateFormat format = DateFormat::FromLocale();
    TDateTime fromDay;
    TDateTime toDay;
    if (!format.ParseDateTime(from, fromDay)) {
        return Fail(err, "cannot read the date \"" + std::string(from) + "\" (e.g. 2026-12-07)");
    }
    if (!format.ParseDateTime(to, toDay)) {
        return Fail(err, "cannot read the date \"" + std::string(to) + "\" (e.g. 2026-12-07)");
    }
    const std::optional<CampaignStore> store = OpenStore(dataFolder, false, err);
    if (!store) {
        return 1;
    }
    std::vector<CampaignStatistics> rows;
    if (const Result done = CountDecisions(*store, DayRange(fromDay, toDay), rows); !done) {
        return Fail(err, done.Message);
    }
    if (!titles.empty() && csv) {
        std::string header;
        for (std::size_t i = 0; i < titles.size(); ++i) {
            header += (i == 0 ? "" : ",") + CsvField(titles[i]);
        }
        std::fprintf(out, "%s\r\n", header.c_str());
    } else if (!titles.empty()) {
        std::fputs(TitleLine(titles).c_str(), out);
    }
    for (const CampaignStatistics& row : rows) {
        const std::string name = csv ? CsvField(row.Name) : EscapeField(row.Name);
        // The redemption columns come last, so scripts reading the first four
        // keep their columns.
        std::fprintf(out,
                     csv ? "%s,%lld,%lld,%lld,%lld,%s\r\n" : "%s\t%lld\t%lld\t%lld\t%lld\t%s\n",
                     name.c_str(), static_cast<long long>(row.Accepted),
                     static_cast<long long>(row.Rejected), static_cast<long long>(row.Total),
                     static_cast<long long>(row.Redeemed), RedemptionRateText(row).c_str());
    }
    return 0;
}

int CheckCoupon(const std::string& dataFolder, std::string_view code,
                const std::vector<std::string>& titles, std::FILE* out, std::FILE* err) {
    const std::optional<CampaignStore> store = OpenStore(dataFolder, false, err);
    if (!store) {
        return 1;
    }
    CouponLookup found;
    if (const Result done = LookUpCoupon(*store, code, found); !done) {
        return Fail(err, done.Message);
    }
    if (!titles.empty()) {
        std::fputs(TitleLine(titles).c_str(), out);
    }
    for (const CouponMatch& match : found.Open) {
        std::fprintf(out, "%s\t%s\t%s\t%s\n", EscapeField(match.Campaign).c_str(),
                     EscapeField(match.Address).c_str(), EscapeField(match.DeviceName).c_str(),
                     store->Format().FormatDateTime(match.DateTime).c_str());
    }
    // A used code is no record of a good one: it is said on err, so the
    // cashier reads "already used" and out stays as for an unknown code.
    for (const CouponMatch& match : found.Redeemed) {
        std::fprintf(err, "kavrictl: coupon %s already used: redeemed %s, %s, %s\n",
                     EscapeField(code).c_str(),
                     store->Format().FormatDateTime(match.Redeemed).c_str(),
                     EscapeField(match.Campaign).c_str(), EscapeField(match.Address).c_str());
    }
    return 0;
}

int CloseCouponOf(const std::string& dataFolder, std::string_view campaign,
                  std::string_view address, TDateTime now, std::FILE*, std::FILE* err) {
    const std::optional<CampaignStore> store = OpenStore(dataFolder, true, err);
    if (!store) {
        return 1;
    }
    if (const Result done = CloseCoupon(*store, campaign, address, now); !done) {
        return Fail(err, done.Message);
    }
    return 0;
}

std::string OwnProgramPath() {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : self.string();
}

int ShowAutoStart(const DataFolder::Environment& environment, std::FILE* out, std::FILE* err) {
    const std::optional<std::string> path = AutoStart::EntryPath(environment);
    if (!path) {
        return Fail(err, "no home folder, so there is no log-on start to show");
    }
    const AutoStart entry(*path);
    std::fprintf(out, "%s\t%s\n", entry.IsEnabled() ? "on" : "off", EscapeField(*path).c_str());
    return 0;
}

int SetAutoStart(const DataFolder::Environment& environment, bool on, std::string_view program,
                 std::FILE*, std::FILE* err) {
    const std::optional<std::string> path = AutoStart::EntryPath(environment);
    if (!path) {
        return Fail(err, "no home folder, so the log-on start cannot be saved");
    }
    const AutoStart entry(*path);
    const Result done = on ? entry.Enable(program) : entry.Disable();
    return done ? 0 : Fail(err, done.Message);
}

}  // namespace kavri::cli
