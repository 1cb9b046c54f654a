#include "app/CampaignScheduleInput.h"

#include <string>

#include <gtest/gtest.h>

#include "AppTestFolder.h"
#include "app/CampaignRecord.h"

namespace kavri {
namespace {

using test::At;
using test::TimeOfDay;

CampaignRecord Window(int scheduling, TDateTime start, TDateTime end) {
    CampaignRecord r;
    r.Scheduling = scheduling;
    r.StartDateTime = start;
    r.EndDateTime = end;
    r.StartTime = TimeOfDay(9, 0, 0);
    r.EndTime = TimeOfDay(17, 0, 0);
    r.Days[1] = true;
    return r;
}

TEST(CampaignScheduleInputTest, TimeWindowMayEndWhenItStartsButNotAMillisecondBefore) {
    // Situation: time-based windows ending at, and one millisecond before, their start,
    // also before 30 December 1899 where the day fraction counts backwards.
    // Expected: equal ends pass; the earlier end is refused with both ends named.
    const TDateTime start = At(2026, 6, 1, 9, 30, 0);
    EXPECT_TRUE(CheckScheduleWindows(Window(kSchedulingTimeBased, start, start), false, false));
    const Result early = CheckScheduleWindows(
        Window(kSchedulingTimeBased, start, At(2026, 6, 1, 9, 29, 59, 999)), false, false);
    EXPECT_FALSE(early);
    EXPECT_EQ(early.Message,
              "the time window would end before it starts: from 2026-06-01 09:30:00 until "
              "2026-06-01 09:29:59");
    EXPECT_TRUE(CheckScheduleWindows(
        Window(kSchedulingTimeBased, At(1899, 12, 29, 6, 0, 0), At(1899, 12, 29, 18, 0, 0)), false,
        false));
    EXPECT_FALSE(CheckScheduleWindows(
        Window(kSchedulingTimeBased, At(1899, 12, 29, 18, 0, 0), At(1899, 12, 29, 6, 0, 0)), false,
        false));
}

TEST(CampaignScheduleInputTest, OnlyTheModesWindowOrOneGivenWholeIsChecked) {
    // Situation: a reversed time window under continuous and day-of-week scheduling,
    // then given with both ends; a reversed daily window the same way.
    // Expected: refused only when it is the mode's window or both ends were given.
    const CampaignRecord reversed = Window(kSchedulingContinuous, At(2026, 6, 2), At(2026, 6, 1));
    EXPECT_TRUE(CheckScheduleWindows(reversed, false, false));
    EXPECT_FALSE(CheckScheduleWindows(reversed, true, false));

    CampaignRecord daily = Window(kSchedulingContinuous, At(2026, 6, 1), At(2026, 6, 1));
    daily.StartTime = TimeOfDay(22, 0, 0);
    daily.EndTime = TimeOfDay(2, 0, 0);
    EXPECT_TRUE(CheckScheduleWindows(daily, false, false));
    EXPECT_EQ(CheckScheduleWindows(daily, false, true).Message,
              "the daily window would end before it starts: from 22:00:00 until 02:00:00 (a "
              "daily window does not run over midnight)");
    daily.Scheduling = kSchedulingDayOfWeek;
    EXPECT_FALSE(CheckScheduleWindows(daily, false, false));
}

TEST(CampaignScheduleInputTest, DayOfWeekNeedsADay) {
    // Situation: day-of-week scheduling with every day box clear, then Saturday alone.
    // Expected: refused without a day; one day is enough.
    CampaignRecord r = Window(kSchedulingDayOfWeek, At(2026, 6, 1), At(2026, 6, 1));
    r.Days = {};
    EXPECT_EQ(CheckScheduleWindows(r, false, false).Message,
              "a day-of-week campaign needs at least one day (--days)");
    r.Days[6] = true;
    EXPECT_TRUE(CheckScheduleWindows(r, false, false));
}

TEST(CampaignScheduleInputTest, TypedValuesNameTheFirstWrongOption) {
    // Situation: a new campaign typed with a bad --until and no --days, then with
    // seconds left out. Expected: the bad value is named first; times without seconds
    // read as whole minutes.
    CampaignRecord values = Window(kSchedulingContinuous, At(2026, 6, 1), At(2026, 6, 1));
    CampaignOptions typed;
    typed.From = "2026-06-01";
    typed.Until = "June";
    const Result wrong =
        ReadScheduleOptions(typed, false, DateFormat::Iso(), At(2026, 6, 1, 8, 0, 0), values);
    EXPECT_EQ(wrong.Message.rfind("--until: \"June\" is not a date and time (like ", 0), 0u)
        << wrong.Message;

    typed = {};
    typed.Days = "sat";
    typed.DailyFrom = "09:30";
    typed.DailyUntil = " 17:45 ";
    ASSERT_TRUE(
        ReadScheduleOptions(typed, false, DateFormat::Iso(), At(2026, 6, 1, 8, 0, 0), values));
    EXPECT_EQ(values.Scheduling, kSchedulingDayOfWeek);
    EXPECT_EQ(IsoDateTimeText(values.StartTime).substr(11), "09:30:00");
    EXPECT_EQ(IsoDateTimeText(values.EndTime).substr(11), "17:45:00");
}

}  // namespace
}  // namespace kavri
