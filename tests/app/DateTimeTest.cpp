#include "app/DateTime.h"

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "app/DateTimeClock.h"

namespace kavri {
namespace {

TDateTime Make(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    const std::optional<TDateTime> value = TDateTime::FromParts({y, mo, d, h, mi, s, ms});
    EXPECT_TRUE(value.has_value())
        << y << "-" << mo << "-" << d << " " << h << ":" << mi << ":" << s;
    return value.value_or(TDateTime());
}

struct KnownDate {
    DateTimeParts Parts;
    double Value;
};

TEST(DateTimeTest, EncodesKnownDatesAndTimes) {
    // Situation: dates and times whose day numbers the stored records depend on.
    // Expected: the exact day count since 30 December 1899 plus the day fraction.
    const KnownDate cases[] = {
        {{1899, 12, 30, 0, 0, 0, 0}, 0.0},
        {{1899, 12, 30, 12, 0, 0, 0}, 0.5},
        {{1899, 12, 30, 6, 0, 0, 0}, 0.25},
        {{1899, 12, 31, 0, 0, 0, 0}, 1.0},
        {{1900, 1, 1, 0, 0, 0, 0}, 2.0},
        {{1900, 2, 28, 0, 0, 0, 0}, 60.0},
        {{1900, 3, 1, 0, 0, 0, 0}, 61.0},  // 1900 was no leap year
        {{1970, 1, 1, 0, 0, 0, 0}, 25569.0},
        {{2024, 2, 29, 0, 0, 0, 0}, 45351.0},
        {{2024, 2, 29, 18, 0, 0, 0}, 45351.75},
        {{2026, 12, 7, 0, 0, 0, 0}, 46363.0},
        {{1, 1, 1, 0, 0, 0, 0}, -693593.0},
        {{9999, 12, 31, 0, 0, 0, 0}, 2958465.0},
        // Before day zero the fraction still counts forward from midnight.
        {{1899, 12, 29, 6, 0, 0, 0}, -1.25},
    };
    for (const KnownDate& known : cases) {
        const std::optional<TDateTime> value = TDateTime::FromParts(known.Parts);
        ASSERT_TRUE(value.has_value());
        EXPECT_DOUBLE_EQ(value->Value(), known.Value)
            << known.Parts.Year << "-" << known.Parts.Month << "-" << known.Parts.Day;
        const std::optional<DateTimeParts> back = TDateTime(known.Value).Parts();
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(*back, known.Parts) << known.Value;
    }
}

TEST(DateTimeTest, RoundTripsMidnightNoonAndLastSecondOnManyDays) {
    // Situation: every day of 1899-12-28 .. 1900-03-05 and of 2024 plus far
    // dates, each at 00:00:00, 12:00:00, 23:59:59 and 23:59:59.999.
    // Expected: decoding gives the same fields; 23:59:59 never becomes the next day.
    const int times[][4] = {{0, 0, 0, 0}, {12, 0, 0, 0}, {23, 59, 59, 0}, {23, 59, 59, 999}};
    auto check = [&](double day) {
        const std::optional<DateTimeParts> date = TDateTime(day).Parts();
        ASSERT_TRUE(date.has_value());
        for (const auto& t : times) {
            DateTimeParts parts = *date;
            parts.Hour = t[0];
            parts.Minute = t[1];
            parts.Second = t[2];
            parts.Millisecond = t[3];
            const std::optional<TDateTime> value = TDateTime::FromParts(parts);
            ASSERT_TRUE(value.has_value());
            const std::optional<DateTimeParts> back = value->Parts();
            ASSERT_TRUE(back.has_value());
            EXPECT_EQ(*back, parts) << "day " << day << " value " << value->Value();
            EXPECT_EQ(value->DatePart().Value(), day) << value->Value();
        }
    };
    for (double day = -2; day <= 66; ++day) {
        check(day);
    }
    for (double day = 45292; day <= 45657; ++day) {
        check(day);
    }
    check(-693593);
    check(2958465);
}

TEST(DateTimeTest, RefusesFieldsOutOfRange) {
    // Situation: fields beyond the calendar or the clock.
    // Expected: no value.
    const DateTimeParts bad[] = {
        {2026, 13, 1, 0, 0, 0, 0}, {2026, 0, 1, 0, 0, 0, 0},    {2026, 4, 31, 0, 0, 0, 0},
        {2023, 2, 29, 0, 0, 0, 0}, {2024, 2, 30, 0, 0, 0, 0},   {1900, 2, 29, 0, 0, 0, 0},
        {2026, 1, 0, 0, 0, 0, 0},  {2026, 1, 1, 24, 0, 0, 0},   {2026, 1, 1, 0, 60, 0, 0},
        {2026, 1, 1, 0, 0, 60, 0}, {2026, 1, 1, 0, 0, 0, 1000}, {0, 12, 31, 0, 0, 0, 0},
        {10000, 1, 1, 0, 0, 0, 0}, {2026, 1, 1, -1, 0, 0, 0},
    };
    for (const DateTimeParts& parts : bad) {
        EXPECT_FALSE(TDateTime::FromParts(parts).has_value())
            << parts.Year << "-" << parts.Month << "-" << parts.Day << " " << parts.Hour << ":"
            << parts.Minute << ":" << parts.Second << "." << parts.Millisecond;
    }
    EXPECT_TRUE(TDateTime::FromDate(2000, 2, 29).has_value());
    EXPECT_FALSE(TDateTime::FromTime(24, 0, 0).has_value());
}

TEST(DateTimeTest, DecodingRoundsToTheMillisecond) {
    // Situation: values a hair away from a millisecond and from midnight.
    // Expected: the nearest millisecond; within half a millisecond of midnight
    // the next day (or, below zero, the day before).
    const double justBeforeMidnight = 45351.0 + 86'399'999.6 / 86'400'000.0;
    std::optional<DateTimeParts> parts = TDateTime(justBeforeMidnight).Parts();
    ASSERT_TRUE(parts.has_value());
    EXPECT_EQ(*parts, (DateTimeParts{2024, 3, 1, 0, 0, 0, 0}));
    EXPECT_EQ(TDateTime(justBeforeMidnight).DatePart().Value(), 45352.0);
    EXPECT_EQ(TDateTime(justBeforeMidnight).TimePart().Value(), 0.0);

    const double lastMillisecond = 45351.0 + 86'399'999.4 / 86'400'000.0;
    parts = TDateTime(lastMillisecond).Parts();
    ASSERT_TRUE(parts.has_value());
    EXPECT_EQ(*parts, (DateTimeParts{2024, 2, 29, 23, 59, 59, 999}));

    parts = TDateTime(-0.9999999999).Parts();
    ASSERT_TRUE(parts.has_value());
    EXPECT_EQ(*parts, (DateTimeParts{1899, 12, 29, 0, 0, 0, 0}));

    // 10:11:12 computed the way a spreadsheet would, with its rounding error.
    parts = TDateTime(46363.0 + 10.0 / 24 + 11.0 / 1440 + 12.0 / 86400).Parts();
    ASSERT_TRUE(parts.has_value());
    EXPECT_EQ(*parts, (DateTimeParts{2026, 12, 7, 10, 11, 12, 0}));
}

TEST(DateTimeTest, ValuesWithoutACalendarDateDecodeToNothing) {
    // Situation: NaN, infinities and values past 9999-12-31.
    // Expected: no parts, no day of the week, no time point.
    const double bad[] = {std::numeric_limits<double>::quiet_NaN(),
                          std::numeric_limits<double>::infinity(),
                          -std::numeric_limits<double>::infinity(),
                          2958466.0,
                          -693594.0,
                          1e300};
    for (double value : bad) {
        EXPECT_FALSE(TDateTime(value).Parts().has_value()) << value;
        EXPECT_EQ(TDateTime(value).DayOfWeek(), 0) << value;
        EXPECT_FALSE(TDateTime(value).ToTimePoint().has_value()) << value;
    }
}

TEST(DateTimeTest, DayOfWeekCountsSundayAsOne) {
    // Situation: days of known weekdays, including before day zero.
    // Expected: 1 = Sunday ... 7 = Saturday.
    EXPECT_EQ(TDateTime(0.0).DayOfWeek(), 7);  // 1899-12-30, a Saturday
    EXPECT_EQ(TDateTime(1.0).DayOfWeek(), 1);
    EXPECT_EQ(TDateTime(-1.25).DayOfWeek(), 6);
    EXPECT_EQ(Make(2024, 2, 29, 23, 59, 59).DayOfWeek(), 5);  // Thursday
    EXPECT_EQ(Make(2026, 12, 7).DayOfWeek(), 2);              // Monday
    EXPECT_EQ(Make(2026, 12, 13, 12).DayOfWeek(), 1);         // Sunday
    EXPECT_EQ(Make(2026, 12, 12).DayOfWeek(), 7);             // Saturday
    EXPECT_EQ(Make(1, 1, 1).DayOfWeek(), 2);                  // Monday (proleptic)
}

TEST(DateTimeTest, SplitsAndJoinsDateAndTime) {
    // Situation: a date-time split into its date and time and joined again.
    // Expected: the parts carry no trace of each other and join to the original.
    const TDateTime value = Make(2024, 2, 29, 18, 30, 15);
    EXPECT_EQ(value.DatePart().Value(), 45351.0);
    EXPECT_EQ(value.TimePart(), *TDateTime::FromTime(18, 30, 15));
    EXPECT_EQ(TDateTime::Combine(value.DatePart(), value.TimePart()), value);

    const TDateTime early = Make(1899, 12, 29, 6);
    EXPECT_EQ(early.DatePart().Value(), -1.0);
    EXPECT_EQ(early.TimePart().Value(), 0.25);
    EXPECT_EQ(TDateTime::Combine(early.DatePart(), early.TimePart()).Value(), -1.25);
}

TEST(DateTimeTest, AddsHoursAsFractionsOfADay) {
    // Situation: a refusal at 2024-02-29 18:00 and an expiry of 6 and 30 hours.
    // Expected: exactly midnight of the next day, and the day after at 00:00.
    const TDateTime refused = Make(2024, 2, 29, 18);
    EXPECT_EQ(refused.AddHours(6), Make(2024, 3, 1));
    EXPECT_EQ(*refused.AddHours(30).Parts(), (DateTimeParts{2024, 3, 2, 0, 0, 0, 0}));
    EXPECT_EQ(refused.AddHours(-18), Make(2024, 2, 29));
    EXPECT_LE(refused.AddHours(24), Make(2024, 3, 1, 18));
    EXPECT_GT(refused.AddHours(24), Make(2024, 3, 1, 17, 59, 59));
}

// Sets TZ for one test and puts the old value back.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone) {
        const char* old = std::getenv("TZ");
        if (old != nullptr) {
            m_old = old;
        }
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ScopedTimeZone() {
        if (m_old) {
            ::setenv("TZ", m_old->c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }

private:
    std::optional<std::string> m_old;
};

TEST(DateTimeTest, ConvertsTimePointsInLocalTime) {
    // Situation: instants converted under UTC and under a zone with summer time.
    // Expected: the local wall-clock date and time, and back to the same instant.
    using namespace std::chrono;
    {
        const ScopedTimeZone zone("UTC0");
        const std::optional<TDateTime> epoch = TDateTime::FromTimePoint(system_clock::time_point());
        ASSERT_TRUE(epoch.has_value());
        EXPECT_EQ(epoch->Value(), 25569.0);
        const std::optional<TDateTime> withMs =
            TDateTime::FromTimePoint(system_clock::time_point(seconds(86399) + milliseconds(999)));
        ASSERT_TRUE(withMs.has_value());
        EXPECT_EQ(*withMs->Parts(), (DateTimeParts{1970, 1, 1, 23, 59, 59, 999}));
    }
    {
        const ScopedTimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
        // 2024-07-01 10:00:00 UTC is 12:00 summer time.
        const auto summer = system_clock::time_point(seconds(1'719'828'000));
        const std::optional<TDateTime> local = TDateTime::FromTimePoint(summer);
        ASSERT_TRUE(local.has_value());
        EXPECT_EQ(*local->Parts(), (DateTimeParts{2024, 7, 1, 12, 0, 0, 0}));
        EXPECT_EQ(local->ToTimePoint(), summer);
        // 2024-01-15 11:00:00 UTC is 12:00 winter time.
        const auto winter = system_clock::time_point(seconds(1'705'316'400));
        EXPECT_EQ(Make(2024, 1, 15, 12).ToTimePoint(), winter);
        EXPECT_EQ(Make(2024, 1, 15, 12, 0, 0, 250).ToTimePoint(), winter + milliseconds(250));
    }
}

TEST(DateTimeTest, ManualClockShowsWhatItIsSetTo) {
    // Situation: a manual clock set to a day and moved by 90 minutes and back.
    // Expected: Now() follows exactly; the system clock gives a date of today's era.
    ManualDateTimeClock clock(Make(2026, 12, 7, 23));
    const DateTimeClock& asClock = clock;
    EXPECT_EQ(asClock.Now(), Make(2026, 12, 7, 23));
    clock.Advance(std::chrono::minutes(90));
    EXPECT_EQ(*asClock.Now().Parts(), (DateTimeParts{2026, 12, 8, 0, 30, 0, 0}));
    clock.Advance(-std::chrono::minutes(90));
    EXPECT_EQ(*asClock.Now().Parts(), (DateTimeParts{2026, 12, 7, 23, 0, 0, 0}));
    clock.Set(TDateTime(0.5));
    EXPECT_EQ(asClock.Now().Value(), 0.5);

    const SystemDateTimeClock system;
    EXPECT_GT(system.Now(), Make(2020, 1, 1));
    EXPECT_LT(system.Now(), Make(2200, 1, 1));
}

}  // namespace
}  // namespace kavri
