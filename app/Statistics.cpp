#include "app/Statistics.h"

#include <optional>
#include <string_view>
#include <utility>

#include "app/CampaignStore.h"
#include "app/IniFile.h"
#include "app/SendingDecisions.h"

namespace kavri {
namespace {

// The records of the file within the range; nothing, with error set, when the
// file cannot be read.
std::optional<std::int64_t> CountIn(const CampaignStore& store, const std::string& folder,
                                    std::string_view fileName, const StatisticsRange& range,
                                    std::string& error) {
    // One snapshot: the file is looked at once, not once per record.
    const IniFile::Snapshot file =
        IniFile(folder + std::string(fileName), store.Format()).ReadSnapshot();
    if (!file.Error().empty()) {
        error = file.Error();
        return std::nullopt;
    }
    std::int64_t count = 0;
    file.ForEachSection([&](const IniFile::SectionView& device) {
        const TDateTime at = device.ReadDateTime("DateTime", TDateTime(0.0));
        if (range.From <= at && at <= range.Until) {
            ++count;
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
        const std::optional<std::int64_t> accepted =
            CountIn(store, folder, SendingDecisions::kAcceptedFile, range, error);
        if (!accepted) {
            return Result::Failure(std::move(error));
        }
        const std::optional<std::int64_t> rejected =
            CountIn(store, folder, SendingDecisions::kRejectedFile, range, error);
        if (!rejected) {
            return Result::Failure(std::move(error));
        }
        row.Accepted = *accepted;
        row.Rejected = *rejected;
        row.Total = row.Accepted + row.Rejected;
        rows.push_back(std::move(row));
    }
    return Result::Success();
}

}  // namespace kavri
