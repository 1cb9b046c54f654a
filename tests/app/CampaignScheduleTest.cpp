#include "app/CampaignSchedule.h"

#include <array>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "AppTestFolder.h"
#include "app/DateFormat.h"
#include "app/IniFile.h"

namespace kavri {
namespace {

using test::At;
using test::TimeOfDay;

// 6 December 2026 is a Sunday; the week runs to Saturday the 12th.
constexpr int kSunday = 6;

CampaignRecord TimeBased(TDateTime start, TDateTime end) {
    CampaignRecord r;
    r.Scheduling = kSchedulingTimeBased;
    r.StartDateTime = start;
    r.EndDateTime = end;
    return r;
}

// Days given Sunday first.
CampaignRecord DayOfWeek(std::array<bool, 7> days, TDateTime start, TDateTime end) {
    CampaignRecord r;
    r.Scheduling = kSchedulingDayOfWeek;
    r.Days = days;
    r.StartTime = start;
    r.EndTime = end;
    return r;
}

struct Case {
    const char* What;
    TDateTime Now;
    bool Active;
};

TEST(CampaignScheduleTest, TimeBasedWindowIncludesItsStartAndTheWholeEndSecond) {
    // Situation: a window from 7 Dec 2026 10:00:00 to 18:00:00, asked at and
    // around its ends. Expected: the start counts from its first millisecond,
    // the end second to its last; the next second is outside.
    const CampaignRecord r = TimeBased(At(2026, 12, 7, 10), At(2026, 12, 7, 18));
    const Case cases[] = {
        {"at the start", At(2026, 12, 7, 10), true},
        {"just before the start", At(2026, 12, 7, 9, 59, 59, 999), false},
        {"inside", At(2026, 12, 7, 14, 30), true},
        {"at the end", At(2026, 12, 7, 18), true},
        {"within the end second", At(2026, 12, 7, 18, 0, 0, 480), true},
        {"the last millisecond of the end second", At(2026, 12, 7, 18, 0, 0, 999), true},
        {"a second after the end", At(2026, 12, 7, 18, 0, 1), false},
        {"the next day", At(2026, 12, 8, 12), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsScheduledAt(r, c.Now), c.Active) << c.What;
    }
}

TEST(CampaignScheduleTest, WindowReadFromItsStoredTextMatchesTheClockInstant) {
    // Situation: a record stored in German forms ends at 18:00:00 and starts at
    // midnight (stored as the date alone); the clock shows exactly those instants.
    // Expected: the read-back values compare equal with the clock's; the window
    // is active at both ends.
    test::TempFolder folder;
    const std::string path = folder.Path() + "settings.dat";
    test::Spill(path,
                "[SETTINGS]\r\nScheduling=1\r\nStartDateTime=07.12.2026\r\n"
                "EndDateTime=09.12.2026 18:00:00\r\n");
    const IniFile file(path, DateFormat("%d.%m.%Y", "%H:%M:%S"));
    const CampaignRecord r = CampaignRecord::Read(file);
    EXPECT_TRUE(IsScheduledAt(r, At(2026, 12, 7)));
    EXPECT_TRUE(IsScheduledAt(r, At(2026, 12, 9, 18)));
    EXPECT_TRUE(IsScheduledAt(r, At(2026, 12, 9, 18, 0, 0, 999)));
    EXPECT_FALSE(IsScheduledAt(r, At(2026, 12, 9, 18, 0, 1)));
    EXPECT_FALSE(IsScheduledAt(r, At(2026, 12, 6, 23, 59, 59, 999)));
}

TEST(CampaignScheduleTest, TimeBasedWindowsThatCanNeverMatch) {
    // Situation: a damaged end (0), a start after its end, a clock without a
    // calendar date. Expected: never active.
    EXPECT_FALSE(IsScheduledAt(TimeBased(At(2026, 12, 1), TDateTime()), At(2026, 12, 7)));
    EXPECT_FALSE(IsScheduledAt(TimeBased(At(2026, 12, 8), At(2026, 12, 6)), At(2026, 12, 7)));
    EXPECT_FALSE(IsScheduledAt(TimeBased(At(2026, 12, 1), At(2026, 12, 31)),
                               TDateTime(std::numeric_limits<double>::quiet_NaN())));
    // Both ends damaged: the window is the single instant 30 Dec 1899 00:00.
    EXPECT_FALSE(IsScheduledAt(TimeBased(TDateTime(), TDateTime()), At(2026, 12, 7)));
}

TEST(CampaignScheduleTest, TimeBasedWindowBefore1899OrdersByTheCalendar) {
    // Situation: a window on 29 Dec 1899 from 06:00 to 18:00 (values -1.25 and
    // -1.75, whose fractions run forward from midnight). Expected: noon (-1.5)
    // lies inside, although the raw numbers would not say so.
    const CampaignRecord r = TimeBased(At(1899, 12, 29, 6), At(1899, 12, 29, 18));
    EXPECT_TRUE(IsScheduledAt(r, At(1899, 12, 29, 12)));
    EXPECT_FALSE(IsScheduledAt(r, At(1899, 12, 29, 5)));
    EXPECT_FALSE(IsScheduledAt(r, At(1899, 12, 29, 19)));
}

TEST(CampaignScheduleTest, DailyWindowIncludesBothEndsOnItsDaysOnly) {
    // Situation: Monday and Wednesday, 08:00:00 to 17:00:00.
    // Expected: active within the times on those days only, ends included.
    const CampaignRecord r = DayOfWeek({false, true, false, true, false, false, false},
                                       TimeOfDay(8, 0, 0), TimeOfDay(17, 0, 0));
    const Case cases[] = {
        {"Wednesday at the start", At(2026, 12, 9, 8), true},
        {"Wednesday just before the start", At(2026, 12, 9, 7, 59, 59, 999), false},
        {"Wednesday at the end", At(2026, 12, 9, 17), true},
        {"Wednesday late in the end second", At(2026, 12, 9, 17, 0, 0, 999), true},
        {"Wednesday a second after the end", At(2026, 12, 9, 17, 0, 1), false},
        {"Monday noon", At(2026, 12, 7, 12), true},
        {"Tuesday noon", At(2026, 12, 8, 12), false},
        {"Sunday noon", At(2026, 12, 6, 12), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsScheduledAt(r, c.Now), c.Active) << c.What;
    }
}

TEST(CampaignScheduleTest, EachWeekdayReadsItsOwnKey) {
    // Situation: for each day of one week, a campaign with only that day ticked,
    // and one with every other day ticked. Expected: the first is active at noon
    // of that day, the second is not.
    for (int offset = 0; offset < 7; ++offset) {
        std::array<bool, 7> only{};
        only[static_cast<std::size_t>(offset)] = true;
        std::array<bool, 7> others{};
        others.fill(true);
        others[static_cast<std::size_t>(offset)] = false;
        const TDateTime noon = At(2026, 12, kSunday + offset, 12);
        const std::string day(CampaignRecord::kDayKeys[static_cast<std::size_t>(offset)]);
        EXPECT_TRUE(IsScheduledAt(DayOfWeek(only, TimeOfDay(0, 0, 0), TimeOfDay(23, 59, 59)), noon))
            << day;
        EXPECT_FALSE(
            IsScheduledAt(DayOfWeek(others, TimeOfDay(0, 0, 0), TimeOfDay(23, 59, 59)), noon))
            << day;
    }
}

TEST(CampaignScheduleTest, DailyWindowNeverWrapsOverMidnight) {
    // Situation: every day from 22:00 to 02:00. Expected: never active, neither
    // late in the evening nor early in the morning nor at midnight.
    std::array<bool, 7> all{};
    all.fill(true);
    const CampaignRecord r = DayOfWeek(all, TimeOfDay(22, 0, 0), TimeOfDay(2, 0, 0));
    for (const TDateTime now : {At(2026, 12, 9, 23), At(2026, 12, 9, 1), At(2026, 12, 9),
                                At(2026, 12, 9, 22), At(2026, 12, 9, 2)}) {
        EXPECT_FALSE(IsScheduledAt(r, now)) << now.Value();
    }
}

TEST(CampaignScheduleTest, DailyWindowAtMidnightAndAtTheLastSecond) {
    // Situation: a window of midnight only, one to 23:59:59, and one ending at
    // 04:09:01 asked at 04:09:01.48.
    // Expected: the first holds the whole second after midnight and no more;
    // the second reaches the day's last millisecond; the third is still on.
    std::array<bool, 7> all{};
    all.fill(true);
    const CampaignRecord midnight = DayOfWeek(all, TDateTime(), TDateTime());
    EXPECT_TRUE(IsScheduledAt(midnight, At(2026, 12, 9)));
    EXPECT_TRUE(IsScheduledAt(midnight, At(2026, 12, 9, 0, 0, 0, 999)));
    EXPECT_FALSE(IsScheduledAt(midnight, At(2026, 12, 9, 0, 0, 1)));
    const CampaignRecord wholeDay = DayOfWeek(all, TDateTime(), TimeOfDay(23, 59, 59));
    EXPECT_TRUE(IsScheduledAt(wholeDay, At(2026, 12, 9, 23, 59, 59)));
    EXPECT_TRUE(IsScheduledAt(wholeDay, At(2026, 12, 9, 23, 59, 59, 999)));
    const CampaignRecord early = DayOfWeek(all, TimeOfDay(4, 0, 0), TimeOfDay(4, 9, 1));
    EXPECT_TRUE(IsScheduledAt(early, At(2026, 12, 9, 4, 9, 1, 480)));
    EXPECT_FALSE(IsScheduledAt(early, At(2026, 12, 9, 4, 9, 2)));
}

TEST(CampaignScheduleTest, EndSecondCountsWholeAlsoBefore1899AndAtAFractionalEnd) {
    // Situation: a window ending on 29 Dec 1899 at 18:00:05 (a negative
    // value), and one whose end was set in memory at 04:09:01.300.
    // Expected: both hold to the end of their second and not beyond.
    const CampaignRecord old = TimeBased(At(1899, 12, 29, 6), At(1899, 12, 29, 18, 0, 5));
    EXPECT_TRUE(IsScheduledAt(old, At(1899, 12, 29, 18, 0, 5, 999)));
    EXPECT_FALSE(IsScheduledAt(old, At(1899, 12, 29, 18, 0, 6)));
    const CampaignRecord fraction = TimeBased(At(2026, 12, 9, 4), At(2026, 12, 9, 4, 9, 1, 300));
    EXPECT_TRUE(IsScheduledAt(fraction, At(2026, 12, 9, 4, 9, 1, 480)));
    EXPECT_FALSE(IsScheduledAt(fraction, At(2026, 12, 9, 4, 9, 2)));
}

TEST(CampaignScheduleTest, DailyTimesThatCarryADateCountForTheirTimeAlone) {
    // Situation: stored times with a date part (as a hand-edited record may
    // have). Expected: only the time of day is compared.
    std::array<bool, 7> all{};
    all.fill(true);
    const CampaignRecord r = DayOfWeek(all, At(2020, 1, 1, 8), At(2031, 5, 5, 9));
    EXPECT_TRUE(IsScheduledAt(r, At(2026, 12, 9, 8, 30)));
    EXPECT_FALSE(IsScheduledAt(r, At(2026, 12, 9, 9, 30)));
}

TEST(CampaignScheduleTest, ContinuousAlwaysAndUnknownModesNever) {
    // Situation: continuous mode, a missing mode (-1) and an unknown one (3).
    // Expected: continuous is active at any moment; the others never.
    CampaignRecord r;
    r.Scheduling = kSchedulingContinuous;
    EXPECT_TRUE(IsScheduledAt(r, At(2026, 12, 9)));
    EXPECT_TRUE(IsScheduledAt(r, TDateTime()));
    for (int mode : {-1, 3}) {
        r = TimeBased(At(2000, 1, 1), At(2100, 1, 1));
        r.Days.fill(true);
        r.EndTime = TimeOfDay(23, 59, 59);
        r.Scheduling = mode;
        EXPECT_FALSE(IsScheduledAt(r, At(2026, 12, 9, 12))) << mode;
    }
}

}  // namespace
}  // namespace kavri
