#include "app/CampaignSchedule.h"

#include <cmath>
#include <cstdint>
#include <optional>

namespace kavri {

namespace {

constexpr std::int64_t kMsPerDay = 86'400'000;
constexpr std::int64_t kMsPerSecond = 1000;

// The last millisecond of the second that end falls in: a stored end names a
// whole second, and all of it belongs to the window.
// Instants before 30 December 1899 are negative, hence the floored remainder.
std::int64_t EndOfSecond(std::int64_t end) {
    const std::int64_t intoSecond = (end % kMsPerSecond + kMsPerSecond) % kMsPerSecond;
    return end - intoSecond + (kMsPerSecond - 1);
}

// Milliseconds of the time of day, after the rounding that decoding applies.
std::optional<std::int64_t> MillisecondOfDay(TDateTime value) {
    const std::optional<DateTimeParts> parts = value.Parts();
    if (!parts) {
        return std::nullopt;
    }
    return ((std::int64_t{parts->Hour} * 60 + parts->Minute) * 60 + parts->Second) * 1000 +
           parts->Millisecond;
}

// Milliseconds since 30 December 1899, 00:00, counting forward also before it.
std::optional<std::int64_t> Instant(TDateTime value) {
    const std::optional<std::int64_t> ms = MillisecondOfDay(value);
    if (!ms) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(value.DatePart().Value()) * kMsPerDay + *ms;
}

bool TimeBasedActive(const CampaignRecord& record, TDateTime now) {
    const auto at = Instant(now);
    const auto start = Instant(record.StartDateTime);
    const auto end = Instant(record.EndDateTime);
    return at && start && end && *start <= *at && *at <= EndOfSecond(*end);
}

bool DayOfWeekActive(const CampaignRecord& record, TDateTime now) {
    const int day = now.DayOfWeek();
    if (day < 1 || day > 7 || !record.Days[static_cast<std::size_t>(day - 1)]) {
        return false;
    }
    // Only the times of day count; a stored time that carries a date is read
    // for its time alone.
    const auto at = MillisecondOfDay(now);
    const auto start = MillisecondOfDay(record.StartTime);
    const auto end = MillisecondOfDay(record.EndTime);
    return at && start && end && *start <= *at && *at <= EndOfSecond(*end);
}

}  // namespace

bool IsScheduledAt(const CampaignRecord& record, TDateTime now) noexcept {
    switch (record.Scheduling) {
        case kSchedulingContinuous:
            return true;
        case kSchedulingTimeBased:
            return TimeBasedActive(record, now);
        case kSchedulingDayOfWeek:
            return DayOfWeekActive(record, now);
        default:
            return false;
    }
}

}  // namespace kavri
