#include "app/DateFormat.h"

#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include <locale.h>

namespace kavri {
namespace {

TDateTime Make(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    return TDateTime::FromParts({y, mo, d, h, mi, s, ms}).value();
}

const DateFormat& German() {
    static const DateFormat format("%d.%m.%Y", "%H:%M:%S");
    return format;
}

const DateFormat& American() {
    static const DateFormat format("%m/%d/%Y", "%I:%M:%S %p");
    return format;
}

struct FormatCase {
    const DateFormat* Format;
    TDateTime Value;
    const char* DateTime;
    const char* Time;
};

TEST(DateFormatTest, WritesTheStoredForms) {
    // Situation: date-times formatted in a 24-hour, a 12-hour and the ISO form.
    // Expected: short date, blank, long time; the time left out at midnight;
    // milliseconds dropped rather than rounded into the next second.
    static const DateFormat iso = DateFormat::Iso();
    const FormatCase cases[] = {
        {&German(), Make(2026, 12, 7, 10, 11, 12), "07.12.2026 10:11:12", "10:11:12"},
        {&German(), Make(2026, 12, 7), "07.12.2026", "00:00:00"},
        {&German(), TDateTime(0.0), "30.12.1899", "00:00:00"},
        {&German(), TDateTime(0.5), "30.12.1899 12:00:00", "12:00:00"},
        {&German(), Make(2024, 2, 29, 23, 59, 59), "29.02.2024 23:59:59", "23:59:59"},
        {&German(), Make(2024, 2, 29, 23, 59, 59, 999), "29.02.2024 23:59:59", "23:59:59"},
        {&German(), Make(2024, 2, 29, 0, 0, 0, 400), "29.02.2024", "00:00:00"},
        {&German(), Make(1, 1, 1, 1, 2, 3), "01.01.0001 01:02:03", "01:02:03"},
        {&American(), Make(2026, 12, 7, 0, 30), "12/07/2026 12:30:00 AM", "12:30:00 AM"},
        {&American(), Make(2026, 12, 7, 12), "12/07/2026 12:00:00 PM", "12:00:00 PM"},
        {&American(), Make(2026, 12, 7, 13, 5, 9), "12/07/2026 01:05:09 PM", "01:05:09 PM"},
        {&American(), Make(2026, 12, 7), "12/07/2026", "12:00:00 AM"},
        {&iso, Make(1900, 3, 1, 8), "1900-03-01 08:00:00", "08:00:00"},
    };
    for (const FormatCase& c : cases) {
        EXPECT_EQ(c.Format->FormatDateTime(c.Value), c.DateTime) << c.Value.Value();
        EXPECT_EQ(c.Format->FormatTime(c.Value.TimePart()), c.Time) << c.Value.Value();
    }
    EXPECT_EQ(German().FormatDate(Make(2026, 12, 7, 10)), "07.12.2026");
    EXPECT_EQ(German().FormatDateTime(TDateTime(1e9)), "");
}

struct ParseCase {
    const char* Text;
    std::optional<TDateTime> Expected;
};

TEST(DateFormatTest, ReadsRegionalAndIsoDateTimes) {
    // Situation: stored date-time texts in the regional form, in ISO 8601, and
    // broken ones.
    // Expected: the value for both forms; no value for anything else.
    const ParseCase cases[] = {
        {"07.12.2026 10:11:12", Make(2026, 12, 7, 10, 11, 12)},
        {"07.12.2026", Make(2026, 12, 7)},
        {"  7.12.2026   9:05:00 ", Make(2026, 12, 7, 9, 5)},
        {"29.02.2024 23:59:59", Make(2024, 2, 29, 23, 59, 59)},
        {"30.12.1899", TDateTime(0.0)},
        {"01.03.1900", TDateTime(61.0)},
        {"2026-12-07 10:11:12", Make(2026, 12, 7, 10, 11, 12)},
        {"2026-12-07T10:11:12", Make(2026, 12, 7, 10, 11, 12)},
        {"2026-12-07T10:11:12.250", Make(2026, 12, 7, 10, 11, 12, 250)},
        {"2026-12-07", Make(2026, 12, 7)},
        {"2024-02-29", Make(2024, 2, 29)},
        {"", std::nullopt},
        {"garbage", std::nullopt},
        {"07.12.26", std::nullopt},  // a two-digit year must not read as AD 26
        {"07.12.2026 10:11", std::nullopt},
        {"07.12.2026 10:11:12 x", std::nullopt},
        {"07.12.2026x10:11:12", std::nullopt},
        {"31.04.2026", std::nullopt},
        {"29.02.2023", std::nullopt},
        {"07.13.2026", std::nullopt},
        {"00.12.2026", std::nullopt},
        {"07.12.2026 24:00:00", std::nullopt},
        {"07.12.2026 10:60:00", std::nullopt},
        {"07.12.2026 10:11:60", std::nullopt},
        {"2023-02-29", std::nullopt},
        {"2026-12-07 10:11", std::nullopt},
        {"2026-12-07X10:11:12", std::nullopt},
        {"2026-1-07", std::nullopt},
        {"12/07/2026", std::nullopt},  // another region's form
        {"10:11:12", std::nullopt},
    };
    for (const ParseCase& c : cases) {
        TDateTime out(-7.0);
        const bool parsed = German().ParseDateTime(c.Text, out);
        EXPECT_EQ(parsed, c.Expected.has_value()) << '"' << c.Text << '"';
        EXPECT_EQ(out, c.Expected.value_or(TDateTime(-7.0))) << '"' << c.Text << '"';
    }
}

TEST(DateFormatTest, ReadsTimesInBothForms) {
    // Situation: stored times in the 12-hour regional form, ISO form and broken.
    // Expected: the time of day alone; no value for the rest.
    const ParseCase cases[] = {
        {"10:11:12 AM", *TDateTime::FromTime(10, 11, 12)},
        {"12:30:00 AM", *TDateTime::FromTime(0, 30, 0)},
        {"12:00:00 pm", *TDateTime::FromTime(12, 0, 0)},
        {"01:05:09 PM", *TDateTime::FromTime(13, 5, 9)},
        {"11:59:59 PM", *TDateTime::FromTime(23, 59, 59)},
        {"13:05:09", *TDateTime::FromTime(13, 5, 9)},
        {"00:00:00", TDateTime(0.0)},
        {"13:05:09 PM", std::nullopt},
        {"00:30:00 AM", std::nullopt},
        {"10:11:12 XM", std::nullopt},
        {"24:00:00", std::nullopt},
        {"10:11", std::nullopt},
        {"12/07/2026", std::nullopt},
        {"", std::nullopt},
    };
    for (const ParseCase& c : cases) {
        TDateTime out(-7.0);
        const bool parsed = American().ParseTime(c.Text, out);
        EXPECT_EQ(parsed, c.Expected.has_value()) << '"' << c.Text << '"';
        EXPECT_EQ(out, c.Expected.value_or(TDateTime(-7.0))) << '"' << c.Text << '"';
    }
}

TEST(DateFormatTest, EveryFormatReadsBackWhatItWrites) {
    // Situation: values at midnight, noon and 23:59:59 (and 12:xx in 12-hour
    // forms) written in several regional patterns.
    // Expected: each reads back to the same value, to the second.
    DateNames japanese;
    japanese.Am = "午前";
    japanese.Pm = "午後";
    const DateFormat formats[] = {
        German(),
        American(),
        DateFormat::Iso(),
        DateFormat("%-d/%-m/%Y", "%l:%M:%S %P"),
        DateFormat("%e %b %Y", "%k:%M:%S"),
        DateFormat("%A %d %B %Y", "%H.%M.%S"),
        DateFormat("%Y年%m月%d日", "%p%I時%M分%S秒", japanese),
    };
    const TDateTime values[] = {
        TDateTime(0.0),
        TDateTime(0.5),
        Make(1900, 3, 1),
        Make(2024, 2, 29, 23, 59, 59),
        Make(2024, 2, 29, 12, 0, 1),
        Make(2026, 12, 7, 0, 0, 1),
        Make(2026, 9, 30, 12, 59, 59),
        Make(9999, 12, 31, 23, 59, 59),
    };
    for (const DateFormat& format : formats) {
        for (TDateTime value : values) {
            const std::string text = format.FormatDateTime(value);
            TDateTime back;
            EXPECT_TRUE(format.ParseDateTime(text, back)) << format.DatePattern() << " " << text;
            EXPECT_EQ(back, value) << format.DatePattern() << " " << text;
            const std::string time = format.FormatTime(value.TimePart());
            EXPECT_TRUE(format.ParseTime(time, back)) << format.TimePattern() << " " << time;
            EXPECT_EQ(back, value.TimePart()) << format.TimePattern() << " " << time;
        }
    }
    EXPECT_EQ(DateFormat("%A %d %B %Y", "%H.%M.%S").FormatDate(Make(2026, 12, 7)),
              "Monday 07 December 2026");
    EXPECT_EQ(DateFormat("%e %b %Y", "%k:%M:%S").FormatDateTime(Make(2026, 3, 7, 9, 1, 2)),
              " 7 Mar 2026  9:01:02");
}

TEST(DateFormatTest, RefusesPatternsItCannotReadBack) {
    // Situation: patterns that lack a field, carry an unknown conversion, or
    // mix date and time fields.
    // Expected: std::invalid_argument from the constructor.
    const std::pair<const char*, const char*> bad[] = {
        {"%d.%m", "%H:%M:%S"},       {"%d.%m.%Y.%d", "%H:%M:%S"}, {"%d.%m.%Y", "%H:%M"},
        {"%d.%m.%Y", "%I:%M:%S"},    {"%d.%m.%Y", "%H:%M:%S %Z"}, {"%d.%m.%Y %H", "%H:%M:%S"},
        {"%d.%m.%Y", "%d %H:%M:%S"}, {"%d.%m.%Y%", "%H:%M:%S"},   {"%Q.%m.%Y", "%H:%M:%S"},
    };
    for (const auto& [date, time] : bad) {
        EXPECT_THROW(DateFormat(date, time), std::invalid_argument) << date << " | " << time;
    }
    DateNames noAmPm;
    noAmPm.Am.clear();
    EXPECT_THROW(DateFormat("%d.%m.%Y", "%I:%M:%S %p", noAmPm), std::invalid_argument);
}

struct LocaleCase {
    const char* DateFormat;
    const char* TimeFormat;
    const char* TimeFormatAmPm;
    const char* ExpectedDate;
    const char* ExpectedTime;
};

TEST(DateFormatTest, TurnsLocaleTextsIntoStoredForms) {
    // Situation: LC_TIME texts as glibc locales give them: composite
    // conversions, two-digit and era years, zone names, missing seconds,
    // padding flags, and forms this class cannot read back.
    // Expected: four-digit years, seconds present, zone names gone, ISO for a
    // part that cannot be used; every result reads back what it writes.
    const LocaleCase cases[] = {
        {"%m/%d/%Y", "%r", "%I:%M:%S %p", "%m/%d/%Y", "%I:%M:%S %p"},
        {"%m/%d/%y", "%H:%M:%S", "", "%m/%d/%Y", "%H:%M:%S"},
        {"%d/%m/%y", "%T", "%l:%M:%S %P %Z", "%d/%m/%Y", "%H:%M:%S"},
        {"%D", "%r", "", "%m/%d/%Y", "%I:%M:%S %p"},
        {"%d %b, %Y", "%Z %I:%M:%S %p", "", "%d %b, %Y", "%I:%M:%S %p"},
        {"%-d/%-m/%y", "%I:%M:%S %p %Z", "", "%-d/%-m/%Y", "%I:%M:%S %p"},
        {"%d/%m/%Ey", "%H:%M:%S", "", "%d/%m/%Y", "%H:%M:%S"},
        {"%OC%Oy %b %Od %A", "%OH:%OM:%OS", "", "%Y %b %d %A", "%H:%M:%S"},
        {"%d.%m.%Y", "%H:%M", "", "%d.%m.%Y", "%H:%M:%S"},
        {"%Y-%m-%d", "%R", "", "%Y-%m-%d", "%H:%M:%S"},
        {"%Ec", "%X", "", "%Y-%m-%d", "%H:%M:%S"},
        {"%x", "%T", "", "%Y-%m-%d", "%H:%M:%S"},
        {"%d %q %Y", "%H h", "", "%Y-%m-%d", "%H:%M:%S"},
        {"%d.%m.%Y\xE5", "%H:%M:%S", "", "%Y-%m-%d", "%H:%M:%S"},  // Latin-1 literal
    };
    for (const LocaleCase& c : cases) {
        LocaleTimeTexts texts;
        texts.DateFormat = c.DateFormat;
        texts.TimeFormat = c.TimeFormat;
        texts.TimeFormatAmPm = c.TimeFormatAmPm;
        const DateFormat format = DateFormat::FromLocaleTexts(texts);
        EXPECT_EQ(format.DatePattern(), c.ExpectedDate) << c.DateFormat;
        EXPECT_EQ(format.TimePattern(), c.ExpectedTime) << c.TimeFormat;
        const TDateTime value = Make(2026, 12, 7, 13, 5, 9);
        TDateTime back;
        EXPECT_TRUE(format.ParseDateTime(format.FormatDateTime(value), back))
            << format.FormatDateTime(value);
        EXPECT_EQ(back, value) << format.FormatDateTime(value);
    }
}

TEST(DateFormatTest, LocaleNamesInAnotherCharacterSetAreNotUsed) {
    // Situation: a legacy 8-bit locale whose month name is not UTF-8, and one
    // whose AM and PM texts are empty while its time form uses %p.
    // Expected: the English names; AM and PM.
    LocaleTimeTexts latin1;
    latin1.DateFormat = "%d. %B %Y";
    latin1.TimeFormat = "%T";
    latin1.Names.Months[2] = "M\xE4rz";
    const DateFormat format = DateFormat::FromLocaleTexts(latin1);
    EXPECT_EQ(format.FormatDate(Make(2026, 3, 7)), "07. March 2026");

    LocaleTimeTexts noAmPm;
    noAmPm.DateFormat = "%d.%m.%Y";
    noAmPm.TimeFormat = "%r";
    noAmPm.Names.Am.clear();
    noAmPm.Names.Pm.clear();
    EXPECT_EQ(DateFormat::FromLocaleTexts(noAmPm).FormatTime(*TDateTime::FromTime(18, 0, 0)),
              "06:00:00 PM");
}

// The LC_TIME texts of three glibc locales, as `locale -k` gives them, so the
// tests below do not depend on which locales a machine has installed.
LocaleTimeTexts UsTexts() {
    LocaleTimeTexts texts;
    texts.DateFormat = "%m/%d/%Y";
    texts.TimeFormat = "%r";
    texts.TimeFormatAmPm = "%I:%M:%S %p";
    return texts;
}

LocaleTimeTexts BritishTexts() {
    LocaleTimeTexts texts;
    texts.DateFormat = "%d/%m/%y";
    texts.TimeFormat = "%T";
    texts.TimeFormatAmPm = "%l:%M:%S %P %Z";
    texts.Names.Am = "am";
    texts.Names.Pm = "pm";
    return texts;
}

LocaleTimeTexts CTexts() {
    LocaleTimeTexts texts;
    texts.DateFormat = "%m/%d/%y";
    texts.TimeFormat = "%H:%M:%S";
    texts.TimeFormatAmPm = "%I:%M:%S %p";
    return texts;
}

TEST(DateFormatTest, StoredFormIsIsoWhateverTheRegion) {
    // Situation: the stored form built on the US, British, C and a German
    // regional form writes a date-time, a midnight and a time of day.
    // Expected: the same ISO 8601 texts from all four; the date alone at
    // midnight; the time as HH:MM:SS, also in the afternoon.
    const DateFormat regions[] = {DateFormat::FromLocaleTexts(UsTexts()),
                                  DateFormat::FromLocaleTexts(BritishTexts()),
                                  DateFormat::FromLocaleTexts(CTexts()), German()};
    for (const DateFormat& region : regions) {
        const DateFormat stored = DateFormat::Stored(region);
        EXPECT_EQ(stored.FormatDateTime(Make(2026, 12, 1, 9)), "2026-12-01 09:00:00")
            << region.DatePattern();
        EXPECT_EQ(stored.FormatDateTime(Make(2026, 12, 1)), "2026-12-01") << region.DatePattern();
        EXPECT_EQ(stored.FormatTime(*TDateTime::FromTime(21, 5, 9)), "21:05:09")
            << region.TimePattern();
        EXPECT_EQ(stored.DatePattern(), "%Y-%m-%d");
        EXPECT_EQ(stored.TimePattern(), "%H:%M:%S");
    }
}

TEST(DateFormatTest, WrittenUnderOneRegionReadUnderAnotherIsTheSameMoment) {
    // Situation: a date-time and a time stored by a process in each of the US,
    // British and C regions, read by a process in each of them.
    // Expected: every reader gets the moment the writer stored (an American
    // 12/01/2026 09:00:00 AM once read as 30 December 1899 under C, and a C
    // 12/01/2026 as 12 January under en_GB).
    const LocaleTimeTexts regions[] = {UsTexts(), BritishTexts(), CTexts()};
    const TDateTime moment = Make(2026, 12, 1, 21, 30, 5);
    for (const LocaleTimeTexts& writer : regions) {
        const DateFormat written = DateFormat::Stored(DateFormat::FromLocaleTexts(writer));
        const std::string text = written.FormatDateTime(moment);
        const std::string time = written.FormatTime(moment.TimePart());
        for (const LocaleTimeTexts& reader : regions) {
            const DateFormat read = DateFormat::Stored(DateFormat::FromLocaleTexts(reader));
            TDateTime back;
            EXPECT_TRUE(read.ParseDateTime(text, back)) << writer.DateFormat << " " << text;
            EXPECT_EQ(back, moment) << writer.DateFormat << " -> " << reader.DateFormat;
            EXPECT_TRUE(read.ParseTime(time, back)) << time;
            EXPECT_EQ(back, moment.TimePart()) << writer.DateFormat << " -> " << reader.DateFormat;
        }
    }
}

TEST(DateFormatTest, StoredFormStillReadsTheRegionalFormOfEarlierVersions) {
    // Situation: texts that an earlier version wrote in the reader's own
    // region (US, 12-hour), ISO texts, and texts in neither form.
    // Expected: both forms read; ISO wins where the two could differ; the
    // rest is refused.
    const DateFormat stored = DateFormat::Stored(DateFormat::FromLocaleTexts(UsTexts()));
    const ParseCase dateTimes[] = {
        {"12/01/2026 09:00:00 AM", Make(2026, 12, 1, 9)},
        {"12/01/2026 09:00:00 PM", Make(2026, 12, 1, 21)},
        {"12/01/2026", Make(2026, 12, 1)},
        {"2026-12-01 09:00:00", Make(2026, 12, 1, 9)},
        {"2026-12-01", Make(2026, 12, 1)},
        {"01.12.2026", std::nullopt},
        {"13/01/2026", std::nullopt},
    };
    for (const ParseCase& c : dateTimes) {
        TDateTime out(-7.0);
        EXPECT_EQ(stored.ParseDateTime(c.Text, out), c.Expected.has_value()) << c.Text;
        EXPECT_EQ(out, c.Expected.value_or(TDateTime(-7.0))) << c.Text;
    }
    const ParseCase times[] = {
        {"09:00:00 PM", *TDateTime::FromTime(21, 0, 0)},
        {"21:00:00", *TDateTime::FromTime(21, 0, 0)},
        {"12:30:00 AM", *TDateTime::FromTime(0, 30, 0)},
        {"9 PM", std::nullopt},
    };
    for (const ParseCase& c : times) {
        TDateTime out(-7.0);
        EXPECT_EQ(stored.ParseTime(c.Text, out), c.Expected.has_value()) << c.Text;
        EXPECT_EQ(out, c.Expected.value_or(TDateTime(-7.0))) << c.Text;
    }
    // The stored form of a stored form reads the same regional form.
    TDateTime out;
    EXPECT_TRUE(DateFormat::Stored(stored).ParseDateTime("12/01/2026 09:00:00 PM", out));
    EXPECT_EQ(out, Make(2026, 12, 1, 21));
}

TEST(DateFormatTest, IsoReadsFirstEvenWhereARegionalPatternWouldTakeIt) {
    // Situation: a regional pattern "%Y-%d-%m" (day before month) that reads
    // the digits of an ISO date another way.
    // Expected: an ISO text is the ISO moment; the regional text still reads
    // where ISO cannot.
    const DateFormat odd("%Y-%d-%m", "%H:%M:%S");
    TDateTime out;
    ASSERT_TRUE(odd.ParseDateTime("2026-01-12", out));
    EXPECT_EQ(out, Make(2026, 1, 12));
    ASSERT_TRUE(odd.ParseDateTime("2026-31-12", out));
    EXPECT_EQ(out, Make(2026, 12, 31));
}

// Sets locale variables for one test and puts the old values back.
class ScopedEnvironment {
public:
    ScopedEnvironment(std::initializer_list<std::pair<const char*, const char*>> values) {
        for (const auto& [name, value] : values) {
            const char* old = std::getenv(name);
            m_saved.emplace_back(name,
                                 old != nullptr ? std::optional<std::string>(old) : std::nullopt);
            if (value != nullptr) {
                ::setenv(name, value, 1);
            } else {
                ::unsetenv(name);
            }
        }
    }
    ~ScopedEnvironment() {
        for (const auto& [name, value] : m_saved) {
            if (value) {
                ::setenv(name.c_str(), value->c_str(), 1);
            } else {
                ::unsetenv(name.c_str());
            }
        }
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

TEST(DateFormatTest, LocaleFormsHaveFourDigitYearsAndSeconds) {
    // Situation: LC_TIME=C, whose short date is "%m/%d/%y", and a locale name
    // that is not installed (read as C).
    // Expected: "%m/%d/%Y" and "%H:%M:%S"; a date-time of 2026 shows "2026".
    for (const char* name : {"C", "C.UTF-8", "xx_NOWHERE.UTF-8"}) {
        const ScopedEnvironment env({{"LC_ALL", nullptr}, {"LC_TIME", name}, {"LANG", nullptr}});
        const DateFormat format = DateFormat::FromLocale();
        EXPECT_EQ(format.DatePattern(), "%m/%d/%Y") << name;
        EXPECT_EQ(format.TimePattern(), "%H:%M:%S") << name;
        EXPECT_EQ(format.FormatDateTime(Make(2026, 12, 7, 10, 11, 12)), "12/07/2026 10:11:12")
            << name;
        TDateTime back;
        EXPECT_TRUE(format.ParseDateTime("2026-12-07 10:11:12", back)) << name;
        EXPECT_EQ(back, Make(2026, 12, 7, 10, 11, 12)) << name;
    }
}

bool LocaleInstalled(const char* name) {
    locale_t locale = newlocale(LC_TIME_MASK, name, nullptr);
    if (locale == nullptr) {
        return false;
    }
    freelocale(locale);
    return true;
}

TEST(DateFormatTest, InstalledLocalesReadWhatEachOtherStored) {
    // Situation: the machine's en_US, en_GB and C locales (package
    // locales-all); each stores a refusal time and a window end, each reads.
    // Expected: the regional forms are those of the locale (so the test sees
    // real locales), and every reader gets the stored moment.
    const char* const names[] = {"en_US.UTF-8", "en_GB.UTF-8", "C"};
    for (const char* name : names) {
        if (!LocaleInstalled(name)) {
            GTEST_SKIP() << name << " is not installed (Debian package locales-all)";
        }
    }
    EXPECT_EQ(DateFormat::FromLocale("en_US.UTF-8").FormatDateTime(Make(2026, 12, 1, 9)),
              "12/01/2026 09:00:00 AM");
    EXPECT_EQ(DateFormat::FromLocale("en_GB.UTF-8").FormatDate(Make(2026, 12, 1)), "01/12/2026");
    const TDateTime moment = Make(2026, 12, 1, 9, 0, 0);
    for (const char* writer : names) {
        const std::string text =
            DateFormat::Stored(DateFormat::FromLocale(writer)).FormatDateTime(moment);
        EXPECT_EQ(text, "2026-12-01 09:00:00") << writer;
        for (const char* reader : names) {
            TDateTime back;
            EXPECT_TRUE(
                DateFormat::Stored(DateFormat::FromLocale(reader)).ParseDateTime(text, back));
            EXPECT_EQ(back, moment) << writer << " -> " << reader;
        }
    }
}

}  // namespace
}  // namespace kavri
