#pragma once

#include <chrono>
#include <compare>
#include <optional>

namespace kavri {

// A calendar date with a time of day, broken into its fields. Validated only
// when it is encoded into a TDateTime.
struct DateTimeParts {
    int Year = 0;
    int Month = 0;
    int Day = 0;
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
    int Millisecond = 0;

    friend bool operator==(const DateTimeParts&, const DateTimeParts&) = default;
};

// A date and time of day as one double: the whole part counts days since
// 30 December 1899, the fraction is the time of day (0.5 is noon). Dates alone
// have a zero fraction, times alone a zero whole part. Before 30 December 1899
// the fraction still counts forward from midnight although the number is
// negative (-1.25 is 29 December 1899, 06:00), as the stored records expect.
//
// A plain value type: any thread, owns nothing, throws nothing. Decoding rounds
// to the nearest millisecond, so a value that was encoded from 23:59:59 never
// reads back as the next day. Valid dates are 0001-01-01 to 9999-12-31;
// operations that need a calendar date report values outside that range (and
// NaN) by an empty optional.
class TDateTime {
public:
    static constexpr int kMinYear = 1;
    static constexpr int kMaxYear = 9999;

    constexpr TDateTime() = default;
    constexpr explicit TDateTime(double value) : m_value(value) {}

    constexpr double Value() const { return m_value; }

    // Empty when a field is out of range (month 1-12, day within its month,
    // hour < 24, minute and second < 60, millisecond < 1000, year 1-9999).
    static std::optional<TDateTime> FromParts(const DateTimeParts& parts);
    static std::optional<TDateTime> FromDate(int year, int month, int day);
    // A time of day alone (whole part zero).
    static std::optional<TDateTime> FromTime(int hour, int minute, int second, int millisecond = 0);
    // The day of date at the time of day of time, also for dates before
    // 30 December 1899 (where the two do not simply add up).
    static TDateTime Combine(TDateTime date, TDateTime time);

    // Fields rounded to the nearest millisecond; empty for NaN or out of range.
    std::optional<DateTimeParts> Parts() const;

    // The date alone and the time of day alone, both after millisecond
    // rounding, so Combine(DatePart(), TimePart()) gives the same fields back.
    TDateTime DatePart() const;
    TDateTime TimePart() const;

    // 1 = Sunday ... 7 = Saturday; 0 for a value without a calendar date.
    int DayOfWeek() const;

    // Durations are fractions of a day: H hours add H/24.
    TDateTime AddHours(double hours) const { return TDateTime(m_value + hours / 24.0); }
    TDateTime AddDays(double days) const { return TDateTime(m_value + days); }

    // Local time of this machine. Empty when the value has no calendar date or
    // the time zone cannot place it. A local time that a clock change skips
    // lands where the C library's mktime puts it.
    std::optional<std::chrono::system_clock::time_point> ToTimePoint() const;
    // Empty only when the C library cannot express the instant as local time.
    static std::optional<TDateTime> FromTimePoint(std::chrono::system_clock::time_point point);

    friend constexpr auto operator<=>(TDateTime, TDateTime) = default;

private:
    double m_value = 0.0;
};

}  // namespace kavri
