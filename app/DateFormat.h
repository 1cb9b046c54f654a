#pragma once

#include <array>
#include <memory>
#include <string>
#include <string_view>

#include "app/DateTime.h"

namespace kavri {

// Texts that %p, %b, %B, %a and %A stand for. The defaults are the English
// ones of the C locale.
struct DateNames {
    std::string Am = "AM";
    std::string Pm = "PM";
    std::array<std::string, 12> ShortMonths{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::array<std::string, 12> Months{"January",   "February", "March",    "April",
                                       "May",       "June",     "July",     "August",
                                       "September", "October",  "November", "December"};
    // Sunday first.
    std::array<std::string, 7> ShortDays{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    std::array<std::string, 7> Days{"Sunday",   "Monday", "Tuesday", "Wednesday",
                                    "Thursday", "Friday", "Saturday"};
};

// What a locale's LC_TIME category says, as nl_langinfo gives it: D_FMT,
// T_FMT, T_FMT_AMPM and the names.
struct LocaleTimeTexts {
    std::string DateFormat;
    std::string TimeFormat;
    std::string TimeFormatAmPm;
    DateNames Names;
};

// The forms in which date-times and times are written and shown: a short-date
// pattern and a long-time pattern in strftime notation. A date-time is the short
// date, a blank and the long time, the time left out at midnight; a time alone
// is the long time. Reading tries ISO 8601 first ("2026-12-07",
// "2026-12-07 10:11:12", "2026-12-07T10:11:12", "10:11:12") and then the
// format's own form, so a text in ISO form reads as the same moment whatever
// the region.
//
// Files hold the Stored() form: ISO 8601 whatever the locale, so a cron job, a
// service and the desktop in different locales read the same moment; reading it
// also accepts the regional form that earlier versions wrote. Regional forms
// (FromLocale) are for what people see and type.
//
// Patterns know %d %e %m %b %B %h %Y %a %A %H %k %I %l %M %S %p %P %% and the
// padding flags "-", "_" and "0"; a blank in a pattern matches any run of blanks
// when reading. Years are always four digits.
//
// An immutable value after construction: share it between threads freely.
// The explicit constructor throws std::invalid_argument for a pattern it cannot
// use; FromLocale never throws and falls back to ISO for a part it cannot use.
class DateFormat {
public:
    DateFormat(std::string_view datePattern, std::string_view timePattern,
               DateNames names = DateNames());

    // The short-date and long-time forms of LC_TIME of the named locale
    // ("en_GB.UTF-8"), or with an empty name of the user's environment (LC_ALL,
    // LC_TIME, LANG), with two-digit years widened to four and seconds added
    // where the locale leaves them out. A locale that cannot be loaded reads as
    // the C locale.
    static DateFormat FromLocale(const std::string& localeName = {});
    // The same from texts already taken from a locale.
    static DateFormat FromLocaleTexts(const LocaleTimeTexts& texts);
    // "%Y-%m-%d" and "%H:%M:%S".
    static DateFormat Iso();
    // The form of dates and times in files: writes ISO 8601 (the date alone at
    // exactly midnight, "HH:MM:SS" for a time of day); reads ISO 8601 and then
    // regional's own form, the one earlier versions stored in.
    static DateFormat Stored(const DateFormat& regional);

    const std::string& DatePattern() const;
    const std::string& TimePattern() const;

    // Empty text for a value without a calendar date (NaN, beyond year 9999).
    // Milliseconds are dropped, not rounded into the seconds.
    std::string FormatDateTime(TDateTime value) const;
    std::string FormatDate(TDateTime value) const;
    std::string FormatTime(TDateTime value) const;

    // False, leaving out untouched, for text in no form this format reads or
    // with a field out of range. Blanks around the text are ignored.
    bool ParseDateTime(std::string_view text, TDateTime& out) const;
    bool ParseTime(std::string_view text, TDateTime& out) const;

private:
    struct Data;
    // Shared, so copying a format (one per open INI file) costs next to nothing.
    std::shared_ptr<const Data> m_data;
};

}  // namespace kavri
