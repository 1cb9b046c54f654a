#include "app/DateTime.h"

#include <cmath>
#include <cstdint>
#include <ctime>

namespace kavri {

namespace {

constexpr std::int64_t kMsPerDay = 86'400'000;
// Days from 30 December 1899 to 1 January 1970.
constexpr std::int64_t kUnixEpochDay = 25'569;

// Days since 1 January 1970 of a proleptic Gregorian date (H. Hinnant's
// days_from_civil).
constexpr std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146'097 + static_cast<std::int64_t>(doe) - 719'468;
}

struct CivilDate {
    int Year;
    int Month;
    int Day;
};

constexpr CivilDate CivilFromDays(std::int64_t z) {
    z += 719'468;
    const std::int64_t era = (z >= 0 ? z : z - 146'096) / 146'097;
    const auto doe = static_cast<unsigned>(z - era * 146'097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36'524 - doe / 146'096) / 365;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return {static_cast<int>(y + (m <= 2 ? 1 : 0)), static_cast<int>(m), static_cast<int>(d)};
}

constexpr std::int64_t kMinDay = DaysFromCivil(TDateTime::kMinYear, 1, 1) + kUnixEpochDay;
constexpr std::int64_t kMaxDay = DaysFromCivil(TDateTime::kMaxYear, 12, 31) + kUnixEpochDay;
static_assert(DaysFromCivil(1899, 12, 30) + kUnixEpochDay == 0);

bool IsLeapYear(int year) {
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Day number and millisecond of the day, rounded to the millisecond; false for
// NaN, infinities and values outside the calendar range.
bool SplitValue(double value, std::int64_t& day, std::int64_t& ms) {
    if (!std::isfinite(value)) {
        return false;
    }
    const double whole = std::trunc(value);
    if (whole < static_cast<double>(kMinDay) - 1 || whole > static_cast<double>(kMaxDay) + 1) {
        return false;
    }
    day = static_cast<std::int64_t>(whole);
    ms = std::llround(std::fabs(value - whole) * static_cast<double>(kMsPerDay));
    if (ms >= kMsPerDay) {
        // Within half a millisecond of the next midnight. For negative values
        // the fraction counts the other way, so the next midnight is day - 1.
        ms -= kMsPerDay;
        day += value < 0 ? -1 : 1;
    }
    return day >= kMinDay && day <= kMaxDay;
}

double Compose(std::int64_t day, std::int64_t ms) {
    const double fraction = static_cast<double>(ms) / static_cast<double>(kMsPerDay);
    const auto whole = static_cast<double>(day);
    return day < 0 ? whole - fraction : whole + fraction;
}

}  // namespace

std::optional<TDateTime> TDateTime::FromParts(const DateTimeParts& p) {
    if (p.Year < kMinYear || p.Year > kMaxYear || p.Month < 1 || p.Month > 12 || p.Day < 1 ||
        p.Day > DaysInMonth(p.Year, p.Month) || p.Hour < 0 || p.Hour > 23 || p.Minute < 0 ||
        p.Minute > 59 || p.Second < 0 || p.Second > 59 || p.Millisecond < 0 ||
        p.Millisecond > 999) {
        return std::nullopt;
    }
    const std::int64_t day =
        DaysFromCivil(p.Year, static_cast<unsigned>(p.Month), static_cast<unsigned>(p.Day)) +
        kUnixEpochDay;
    const std::int64_t ms =
        ((static_cast<std::int64_t>(p.Hour) * 60 + p.Minute) * 60 + p.Second) * 1000 +
        p.Millisecond;
    return TDateTime(Compose(day, ms));
}

std::optional<TDateTime> TDateTime::FromDate(int year, int month, int day) {
    return FromParts({year, month, day, 0, 0, 0, 0});
}

std::optional<TDateTime> TDateTime::FromTime(int hour, int minute, int second, int millisecond) {
    // 30 December 1899 is day zero, so its encoding is the bare fraction.
    return FromParts({1899, 12, 30, hour, minute, second, millisecond});
}

TDateTime TDateTime::Combine(TDateTime date, TDateTime time) {
    std::int64_t day = 0;
    std::int64_t dateMs = 0;
    std::int64_t timeDay = 0;
    std::int64_t ms = 0;
    if (!SplitValue(date.m_value, day, dateMs) || !SplitValue(time.m_value, timeDay, ms)) {
        return TDateTime(std::trunc(date.m_value) + time.m_value);
    }
    return TDateTime(Compose(day, ms));
}

std::optional<DateTimeParts> TDateTime::Parts() const {
    std::int64_t day = 0;
    std::int64_t ms = 0;
    if (!SplitValue(m_value, day, ms)) {
        return std::nullopt;
    }
    const CivilDate date = CivilFromDays(day - kUnixEpochDay);
    DateTimeParts parts;
    parts.Year = date.Year;
    parts.Month = date.Month;
    parts.Day = date.Day;
    parts.Hour = static_cast<int>(ms / 3'600'000);
    parts.Minute = static_cast<int>(ms / 60'000 % 60);
    parts.Second = static_cast<int>(ms / 1000 % 60);
    parts.Millisecond = static_cast<int>(ms % 1000);
    return parts;
}

TDateTime TDateTime::DatePart() const {
    std::int64_t day = 0;
    std::int64_t ms = 0;
    if (!SplitValue(m_value, day, ms)) {
        return TDateTime(std::trunc(m_value));
    }
    return TDateTime(static_cast<double>(day));
}

TDateTime TDateTime::TimePart() const {
    std::int64_t day = 0;
    std::int64_t ms = 0;
    if (!SplitValue(m_value, day, ms)) {
        return TDateTime(std::fabs(m_value - std::trunc(m_value)));
    }
    return TDateTime(Compose(0, ms));
}

int TDateTime::DayOfWeek() const {
    std::int64_t day = 0;
    std::int64_t ms = 0;
    if (!SplitValue(m_value, day, ms)) {
        return 0;
    }
    // Day zero, 30 December 1899, was a Saturday (7).
    return static_cast<int>(((day % 7 + 7) % 7 + 6) % 7) + 1;
}

std::optional<std::chrono::system_clock::time_point> TDateTime::ToTimePoint() const {
    const std::optional<DateTimeParts> parts = Parts();
    if (!parts) {
        return std::nullopt;
    }
    std::tm local{};
    local.tm_year = parts->Year - 1900;
    local.tm_mon = parts->Month - 1;
    local.tm_mday = parts->Day;
    local.tm_hour = parts->Hour;
    local.tm_min = parts->Minute;
    local.tm_sec = parts->Second;
    local.tm_isdst = -1;
    // mktime returns -1 both for failure and for one second before the epoch;
    // an untouched tm_wday tells them apart.
    local.tm_wday = -1;
    const std::time_t seconds = std::mktime(&local);
    if (local.tm_wday == -1) {
        return std::nullopt;
    }
    return std::chrono::system_clock::from_time_t(seconds) +
           std::chrono::milliseconds(parts->Millisecond);
}

std::optional<TDateTime> TDateTime::FromTimePoint(std::chrono::system_clock::time_point point) {
    const auto seconds = std::chrono::floor<std::chrono::seconds>(point);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(point - seconds);
    const std::time_t t = std::chrono::system_clock::to_time_t(seconds);
    std::tm local{};
    if (localtime_r(&t, &local) == nullptr) {
        return std::nullopt;
    }
    // A leap second (tm_sec 60) has no place in a day fraction; it reads as :59.
    return FromParts({local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                      local.tm_min, local.tm_sec > 59 ? 59 : local.tm_sec,
                      static_cast<int>(ms.count())});
}

}  // namespace kavri
