#include "app/Statistics.h"

#include <optional>
#include <string_view>
#include <utility>

#include "app/CampaignStore.h"
#include "app/IniFile.h"
#include "app/SendingDecisions.h"

namespace kavri {
namespace {

struct FileCount {
    std::int64_t InRange = 0;
    std::int64_t Redeemed = 0;  // of those in range, the ones holding "Redeemed"
};

// The records of the file within the range; nothing, with error set, when the
// file cannot be read.
std::optional<FileCount> CountIn(const CampaignStore& store, const std::string& folder,
                                 std::string_view fileName, const StatisticsRange& range,
                                 std::string& error) {
    // One snapshot: the file is looked at once, not once per record.
    const IniFile::Snapshot file =
        IniFile(folder + std::string(fileName), store.Format()).ReadSnapshot();
    if (!file.Error().empty()) {
        error = file.Error();
        return std::nullopt;
    }
    FileCount count;
    file.ForEachSection([&](const IniFile::SectionView& device) {
        const TDateTime at = device.ReadDateTime("DateTime", TDateTime(0.0));
        if (range.From <= at && at <= range.Until) {
            ++count.InRange;
            if (!device.ReadString("Redeemed", "").empty()) {
                ++count.Redeemed;
            }
        }
    });
    return count;
}

}  // namespace

StatisticsRange DayRange(TDateTime fromDay, TDateTime toDay) {
    const TDateTime from = fromDay.DatePart();
    TDateTime to = toDay.DatePart();
    if (to < from) {
        to = from;
    }
    // Built from the fields, as records read back from their text are, so a
    // record stamped 23:59:59 compares equal rather than a rounding step off.
    const std::optional<TDateTime> lastSecond = TDateTime::FromTime(23, 59, 59);
    return {from, TDateTime::Combine(to, lastSecond.value_or(TDateTime(0.0)))};
}

std::string RedemptionRateText(const CampaignStatistics& row) {
    if (row.Accepted <= 0) {
        return {};
    }
    // Whole tenths of a percent in integers, so no locale or binary fraction
    // changes the text; counts of files this program can read stay far below
    // the 64-bit limit of redeemed * 1000.
    const std::int64_t tenths = (row.Redeemed * 1000 + row.Accepted / 2) / row.Accepted;
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
}

Result CountDecisions(const CampaignStore& store, const StatisticsRange& range,
                      std::vector<CampaignStatistics>& rows) {
    if (!store.Campaigns().LoadError().empty()) {
        return Result::Failure(store.Campaigns().LoadError());
    }
    std::string error;
    for (const std::string& name : store.Campaigns().Names()) {
        CampaignStatistics row;
        row.Name = store.ReadRecord(name).Name;
        const std::string folder = store.CampaignFolder(name);
        const std::optional<FileCount> accepted =
            CountIn(store, folder, SendingDecisions::kAcceptedFile, range, error);
        if (!accepted) {
            return Result::Failure(std::move(error));
        }
        const std::optional<FileCount> rejected =
            CountIn(store, folder, SendingDecisions::kRejectedFile, range, error);
        if (!rejected) {
            return Result::Failure(std::move(error));
        }
        row.Accepted = accepted->InRange;
        row.Rejected = rejected->InRange;
        row.Total = row.Accepted + row.Rejected;
        row.Redeemed = accepted->Redeemed;
        rows.push_back(std::move(row));
    }
    return Result::Success();
}

}  // namespace kavri
