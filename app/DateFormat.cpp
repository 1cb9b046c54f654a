#include "app/DateFormat.h"

#include "platform/Text.h"

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <vector>

#include <langinfo.h>
#include <locale.h>

namespace kavri {

namespace {

enum class Field : unsigned char {
    Literal,
    Blank,
    Day,
    Month,
    MonthShort,
    MonthLong,
    Year,
    WeekdayShort,
    WeekdayLong,
    Hour24,
    Hour12,
    Minute,
    Second,
    AmPm,
    AmPmLower,
};

// One piece of a compiled pattern.
struct Token {
    Field Kind;
    char Pad;  // '0' zeros, '_' blanks, '-' none
    std::string Text;
};

bool StartsWithFolded(std::string_view text, std::size_t pos, std::string_view prefix) {
    if (prefix.empty() || text.size() - pos < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (LowerAscii(text[pos + i]) != LowerAscii(prefix[i])) {
            return false;
        }
    }
    return true;
}

// Reads minDigits..maxDigits decimal digits after optional blanks.
bool ReadNumber(std::string_view text, std::size_t& pos, int minDigits, int maxDigits, int& value) {
    std::size_t p = pos;
    while (p < text.size() && IsBlank(text[p])) {
        ++p;
    }
    int digits = 0;
    int number = 0;
    while (p < text.size() && digits < maxDigits && text[p] >= '0' && text[p] <= '9') {
        number = number * 10 + (text[p] - '0');
        ++p;
        ++digits;
    }
    if (digits < minDigits) {
        return false;
    }
    pos = p;
    value = number;
    return true;
}

// Index of the longest name that the text starts with at pos, or -1.
template <std::size_t N>
int MatchName(std::string_view text, std::size_t& pos, const std::array<std::string, N>& names) {
    int best = -1;
    std::size_t bestLength = 0;
    for (std::size_t i = 0; i < N; ++i) {
        if (names[i].size() > bestLength && StartsWithFolded(text, pos, names[i])) {
            best = static_cast<int>(i);
            bestLength = names[i].size();
        }
    }
    pos += bestLength;
    return best;
}

void AppendNumber(std::string& out, int value, int width, char pad) {
    const std::string digits = std::to_string(value);
    if (pad != '-') {
        for (auto i = static_cast<int>(digits.size()); i < width; ++i) {
            out.push_back(pad == '_' ? ' ' : '0');
        }
    }
    out += digits;
}

bool ParseIsoDate(std::string_view text, std::size_t& pos, DateTimeParts& parts) {
    std::size_t p = pos;
    auto digits = [&](int count, int& value) {
        value = 0;
        for (int i = 0; i < count; ++i, ++p) {
            if (p >= text.size() || text[p] < '0' || text[p] > '9') {
                return false;
            }
            value = value * 10 + (text[p] - '0');
        }
        return true;
    };
    auto dash = [&] { return p < text.size() && text[p++] == '-'; };
    if (!digits(4, parts.Year) || !dash() || !digits(2, parts.Month) || !dash() ||
        !digits(2, parts.Day)) {
        return false;
    }
    pos = p;
    return true;
}

bool ParseIsoTime(std::string_view text, std::size_t& pos, DateTimeParts& parts) {
    std::size_t p = pos;
    auto digits = [&](int minCount, int maxCount, int& value) {
        value = 0;
        int count = 0;
        while (count < maxCount && p < text.size() && text[p] >= '0' && text[p] <= '9') {
            value = value * 10 + (text[p++] - '0');
            ++count;
        }
        return count >= minCount;
    };
    auto colon = [&] { return p < text.size() && text[p++] == ':'; };
    if (!digits(1, 2, parts.Hour) || !colon() || !digits(2, 2, parts.Minute) || !colon() ||
        !digits(2, 2, parts.Second)) {
        return false;
    }
    parts.Millisecond = 0;
    if (p < text.size() && text[p] == '.') {
        ++p;
        const std::size_t start = p;
        if (!digits(1, 3, parts.Millisecond)) {
            return false;
        }
        for (std::size_t n = p - start; n < 3; ++n) {
            parts.Millisecond *= 10;
        }
    }
    pos = p;
    return true;
}

// One piece of a strftime pattern: a conversion ("%-d" has Conversion 'd' and
// Flag '-') or a single literal character (Conversion 0).
struct Piece {
    char Conversion = 0;
    char Flag = 0;
    char Literal = 0;
};

std::vector<Piece> Lex(std::string_view pattern) {
    std::vector<Piece> pieces;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%' || i + 1 >= pattern.size()) {
            pieces.push_back({0, 0, pattern[i]});
            continue;
        }
        ++i;
        Piece piece;
        if (pattern[i] == '-' || pattern[i] == '_' || pattern[i] == '0' || pattern[i] == '^' ||
            pattern[i] == '#') {
            piece.Flag = pattern[i++];
        }
        // Era and alternative-digit modifiers: the plain conversion stores the
        // same moment in a form this class can read back.
        if (i < pattern.size() && (pattern[i] == 'E' || pattern[i] == 'O')) {
            ++i;
        }
        if (i >= pattern.size()) {
            break;
        }
        piece.Conversion = pattern[i];
        pieces.push_back(piece);
    }
    return pieces;
}

std::string Unlex(const std::vector<Piece>& pieces) {
    std::string out;
    for (const Piece& piece : pieces) {
        if (piece.Conversion == 0) {
            out.push_back(piece.Literal);
            continue;
        }
        out.push_back('%');
        if (piece.Flag != 0) {
            out.push_back(piece.Flag);
        }
        out.push_back(piece.Conversion);
    }
    return out;
}

// Replaces the composite conversions (%D %T %R %r %x %X %F) by what they stand
// for in the locale.
std::string Expand(std::string_view pattern, const LocaleTimeTexts& texts, int depth) {
    std::string out;
    for (const Piece& piece : Lex(pattern)) {
        std::string_view expansion;
        switch (piece.Conversion) {
            case 'D':
                expansion = "%m/%d/%y";
                break;
            case 'T':
                expansion = "%H:%M:%S";
                break;
            case 'R':
                expansion = "%H:%M";
                break;
            case 'F':
                expansion = "%Y-%m-%d";
                break;
            case 'r':
                expansion = texts.TimeFormatAmPm.empty() ? std::string_view("%I:%M:%S %p")
                                                         : std::string_view(texts.TimeFormatAmPm);
                break;
            case 'x':
                expansion = texts.DateFormat;
                break;
            case 'X':
                expansion = texts.TimeFormat;
                break;
            default:
                out += Unlex({piece});
                continue;
        }
        if (depth < 4) {
            out += Expand(expansion, texts, depth + 1);
        }
    }
    return out;
}

// Widens two-digit years to four, drops time-zone names, and puts seconds into
// a time pattern that lacks them, as the stored forms require.
std::string Normalize(std::string_view pattern, bool timeOfDay) {
    std::vector<Piece> in = Lex(pattern);
    std::vector<Piece> out;
    bool hasSeconds = false;
    for (std::size_t i = 0; i < in.size(); ++i) {
        Piece piece = in[i];
        if (piece.Conversion == 'Z' || piece.Conversion == 'z') {
            while (!out.empty() && out.back().Conversion == 0 && IsBlank(out.back().Literal)) {
                out.pop_back();
            }
            continue;
        }
        if (piece.Conversion == 'C' && i + 1 < in.size() &&
            (in[i + 1].Conversion == 'y' || in[i + 1].Conversion == 'Y')) {
            continue;  // century followed by year: the year says it all
        }
        if (piece.Conversion == 'y') {
            piece = {'Y', 0, 0};
        }
        hasSeconds = hasSeconds || piece.Conversion == 'S';
        out.push_back(piece);
    }
    // A dropped zone name can leave blanks at either end.
    while (!out.empty() && out.back().Conversion == 0 && IsBlank(out.back().Literal)) {
        out.pop_back();
    }
    while (!out.empty() && out.front().Conversion == 0 && IsBlank(out.front().Literal)) {
        out.erase(out.begin());
    }
    if (timeOfDay && !hasSeconds) {
        for (std::size_t i = 0; i < out.size(); ++i) {
            if (out[i].Conversion == 'M') {
                out.insert(out.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                           {Piece{0, 0, ':'}, Piece{'S', 0, 0}});
                break;
            }
        }
    }
    return Unlex(out);
}

// Turns a strftime pattern into tokens; throws std::invalid_argument for one
// that cannot be read back.
std::vector<Token> Compile(std::string_view pattern, bool timeOfDay) {
    std::vector<Token> tokens;
    int days = 0;
    int months = 0;
    int years = 0;
    int hours24 = 0;
    int hours12 = 0;
    int minutes = 0;
    int seconds = 0;
    int amPm = 0;
    auto literal = [&](char c) {
        if (IsBlank(c)) {
            if (tokens.empty() || tokens.back().Kind != Field::Blank) {
                tokens.push_back({Field::Blank, 0, " "});
            }
            return;
        }
        if (tokens.empty() || tokens.back().Kind != Field::Literal) {
            tokens.push_back({Field::Literal, 0, {}});
        }
        tokens.back().Text.push_back(c);
    };
    auto fail = [&](const std::string& why) {
        throw std::invalid_argument("date or time pattern \"" + std::string(pattern) +
                                    "\": " + why);
    };
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%') {
            literal(pattern[i]);
            continue;
        }
        if (++i >= pattern.size()) {
            fail("ends in %");
        }
        char pad = 0;
        if (pattern[i] == '-' || pattern[i] == '_' || pattern[i] == '0') {
            pad = pattern[i];
            if (++i >= pattern.size()) {
                fail("ends in a flag");
            }
        }
        Field kind = Field::Literal;
        char defaultPad = '0';
        int* count = nullptr;
        bool timeField = false;
        switch (pattern[i]) {
            case '%':
                literal('%');
                continue;
            case 'n':
            case 't':
                literal(' ');
                continue;
            case 'd':
                kind = Field::Day, count = &days;
                break;
            case 'e':
                kind = Field::Day, count = &days, defaultPad = '_';
                break;
            case 'm':
                kind = Field::Month, count = &months;
                break;
            case 'b':
            case 'h':
                kind = Field::MonthShort, count = &months;
                break;
            case 'B':
                kind = Field::MonthLong, count = &months;
                break;
            case 'Y':
                kind = Field::Year, count = &years;
                break;
            case 'a':
                kind = Field::WeekdayShort;
                break;
            case 'A':
                kind = Field::WeekdayLong;
                break;
            case 'H':
                kind = Field::Hour24, count = &hours24, timeField = true;
                break;
            case 'k':
                kind = Field::Hour24, count = &hours24, timeField = true, defaultPad = '_';
                break;
            case 'I':
                kind = Field::Hour12, count = &hours12, timeField = true;
                break;
            case 'l':
                kind = Field::Hour12, count = &hours12, timeField = true, defaultPad = '_';
                break;
            case 'M':
                kind = Field::Minute, count = &minutes, timeField = true;
                break;
            case 'S':
                kind = Field::Second, count = &seconds, timeField = true;
                break;
            case 'p':
                kind = Field::AmPm, count = &amPm, timeField = true;
                break;
            case 'P':
                kind = Field::AmPmLower, count = &amPm, timeField = true;
                break;
            default:
                fail(std::string("unsupported conversion %") + pattern[i]);
        }
        if (timeField != timeOfDay) {
            fail(timeOfDay ? "date field in a time pattern" : "time field in a date pattern");
        }
        if (count != nullptr) {
            ++*count;
        }
        tokens.push_back({kind, pad != 0 ? pad : defaultPad, {}});
    }
    if (timeOfDay) {
        if (hours24 + hours12 != 1 || minutes != 1 || seconds != 1) {
            fail("needs one hour, one minute and one second field");
        }
        if (amPm != hours12) {
            fail("a 12-hour field and %p go together");
        }
    } else if (days != 1 || months != 1 || years != 1) {
        fail("needs one day, one month and one year field");
    }
    return tokens;
}

bool ParseTokens(const std::vector<Token>& tokens, const DateNames& names, std::string_view text,
                 std::size_t& pos, DateTimeParts& parts) {
    std::size_t p = pos;
    int hour12 = -1;
    int pm = -1;
    for (const Token& token : tokens) {
        switch (token.Kind) {
            case Field::Literal:
                if (!StartsWithFolded(text, p, token.Text)) {
                    return false;
                }
                p += token.Text.size();
                break;
            case Field::Blank:
                while (p < text.size() && IsBlank(text[p])) {
                    ++p;
                }
                break;
            case Field::Day:
                if (!ReadNumber(text, p, 1, 2, parts.Day)) {
                    return false;
                }
                break;
            case Field::Month:
                if (!ReadNumber(text, p, 1, 2, parts.Month)) {
                    return false;
                }
                break;
            case Field::MonthShort:
            case Field::MonthLong: {
                const int index = MatchName(
                    text, p, token.Kind == Field::MonthShort ? names.ShortMonths : names.Months);
                if (index < 0) {
                    return false;
                }
                parts.Month = index + 1;
                break;
            }
            case Field::Year:
                // Always four digits: a two-digit year must never read as AD 26.
                if (!ReadNumber(text, p, 4, 4, parts.Year)) {
                    return false;
                }
                break;
            case Field::WeekdayShort:
            case Field::WeekdayLong:
                // Says nothing the date does not; only consumed.
                if (MatchName(text, p,
                              token.Kind == Field::WeekdayShort ? names.ShortDays : names.Days) <
                    0) {
                    return false;
                }
                break;
            case Field::Hour24:
                if (!ReadNumber(text, p, 1, 2, parts.Hour)) {
                    return false;
                }
                break;
            case Field::Hour12:
                if (!ReadNumber(text, p, 1, 2, hour12) || hour12 < 1 || hour12 > 12) {
                    return false;
                }
                break;
            case Field::Minute:
                if (!ReadNumber(text, p, 1, 2, parts.Minute)) {
                    return false;
                }
                break;
            case Field::Second:
                if (!ReadNumber(text, p, 1, 2, parts.Second)) {
                    return false;
                }
                break;
            case Field::AmPm:
            case Field::AmPmLower: {
                const bool am = StartsWithFolded(text, p, names.Am);
                const bool isPm = StartsWithFolded(text, p, names.Pm);
                if (!am && !isPm) {
                    return false;
                }
                // The longer text wins when one starts with the other.
                pm = isPm && (!am || names.Pm.size() > names.Am.size()) ? 1 : 0;
                p += pm == 1 ? names.Pm.size() : names.Am.size();
                break;
            }
        }
    }
    if (hour12 >= 0) {
        parts.Hour = hour12 % 12 + (pm == 1 ? 12 : 0);
    }
    pos = p;
    return true;
}

void Append(std::string& out, const std::vector<Token>& tokens, const DateNames& names,
            const DateTimeParts& parts, int dayOfWeek) {
    for (const Token& token : tokens) {
        switch (token.Kind) {
            case Field::Literal:
            case Field::Blank:
                out += token.Text;
                break;
            case Field::Day:
                AppendNumber(out, parts.Day, 2, token.Pad);
                break;
            case Field::Month:
                AppendNumber(out, parts.Month, 2, token.Pad);
                break;
            case Field::MonthShort:
                out += names.ShortMonths[static_cast<std::size_t>(parts.Month - 1)];
                break;
            case Field::MonthLong:
                out += names.Months[static_cast<std::size_t>(parts.Month - 1)];
                break;
            case Field::Year:
                AppendNumber(out, parts.Year, 4, token.Pad == '-' ? '-' : '0');
                break;
            case Field::WeekdayShort:
                out += names.ShortDays[static_cast<std::size_t>(dayOfWeek - 1)];
                break;
            case Field::WeekdayLong:
                out += names.Days[static_cast<std::size_t>(dayOfWeek - 1)];
                break;
            case Field::Hour24:
                AppendNumber(out, parts.Hour, 2, token.Pad);
                break;
            case Field::Hour12:
                AppendNumber(out, parts.Hour % 12 == 0 ? 12 : parts.Hour % 12, 2, token.Pad);
                break;
            case Field::Minute:
                AppendNumber(out, parts.Minute, 2, token.Pad);
                break;
            case Field::Second:
                AppendNumber(out, parts.Second, 2, token.Pad);
                break;
            case Field::AmPm:
                out += parts.Hour < 12 ? names.Am : names.Pm;
                break;
            case Field::AmPmLower:
                for (char c : parts.Hour < 12 ? names.Am : names.Pm) {
                    out.push_back(LowerAscii(c));
                }
                break;
        }
    }
}

// A date-time in a pattern's own form: the date, optionally followed by a time.
bool ParseOwnDateTime(const std::vector<Token>& date, const std::vector<Token>& time,
                      const DateNames& names, std::string_view text, DateTimeParts& parts) {
    std::size_t pos = 0;
    if (!ParseTokens(date, names, text, pos, parts)) {
        return false;
    }
    if (pos == text.size()) {
        return true;
    }
    const std::size_t dateEnd = pos;
    while (pos < text.size() && IsBlank(text[pos])) {
        ++pos;
    }
    const bool separated = pos > dateEnd || (!date.empty() && date.back().Kind == Field::Blank);
    return separated && ParseTokens(time, names, text, pos, parts) && pos == text.size();
}

bool ParseOwnTime(const std::vector<Token>& time, const DateNames& names, std::string_view text,
                  DateTimeParts& parts) {
    std::size_t pos = 0;
    return ParseTokens(time, names, text, pos, parts) && pos == text.size();
}

// "YYYY-MM-DD", "YYYY-MM-DD HH:MM:SS[.mmm]" or with "T" in place of the blanks.
bool ParseIsoDateTime(std::string_view text, DateTimeParts& parts) {
    std::size_t pos = 0;
    if (!ParseIsoDate(text, pos, parts)) {
        return false;
    }
    if (pos == text.size()) {
        return true;
    }
    if (text[pos] == 'T' || text[pos] == 't') {
        ++pos;
    } else if (IsBlank(text[pos])) {
        while (pos < text.size() && IsBlank(text[pos])) {
            ++pos;
        }
    } else {
        return false;
    }
    return ParseIsoTime(text, pos, parts) && pos == text.size();
}

}  // namespace

struct DateFormat::Data {
    std::string DatePattern;
    std::string TimePattern;
    DateNames Names;
    std::vector<Token> Date;
    std::vector<Token> Time;
    // A second form that reading accepts after this one (the regional form
    // behind the stored ISO form); null when there is none.
    std::shared_ptr<const Data> ReadAlso;
};

DateFormat::DateFormat(std::string_view datePattern, std::string_view timePattern,
                       DateNames names) {
    auto data = std::make_shared<Data>();
    data->DatePattern = datePattern;
    data->TimePattern = timePattern;
    data->Date = Compile(datePattern, false);
    data->Time = Compile(timePattern, true);
    for (const Token& token : data->Time) {
        if ((token.Kind == Field::AmPm || token.Kind == Field::AmPmLower) &&
            (names.Am.empty() || names.Pm.empty() || names.Am == names.Pm)) {
            throw std::invalid_argument(
                "time pattern uses %p but the AM and PM texts are unusable");
        }
    }
    data->Names = std::move(names);
    m_data = std::move(data);
}

const std::string& DateFormat::DatePattern() const {
    return m_data->DatePattern;
}

const std::string& DateFormat::TimePattern() const {
    return m_data->TimePattern;
}

DateFormat DateFormat::Iso() {
    return DateFormat("%Y-%m-%d", "%H:%M:%S");
}

DateFormat DateFormat::Stored(const DateFormat& regional) {
    DateFormat stored = Iso();
    auto data = std::make_shared<Data>(*stored.m_data);
    // Stored(Stored(x)) reads as Stored(x): the regional form stays the one
    // read after ISO.
    data->ReadAlso = regional.m_data->ReadAlso ? regional.m_data->ReadAlso : regional.m_data;
    stored.m_data = std::move(data);
    return stored;
}

DateFormat DateFormat::FromLocale(const std::string& localeName) {
    locale_t locale = newlocale(LC_TIME_MASK, localeName.c_str(), nullptr);
    if (locale == nullptr) {
        locale = newlocale(LC_TIME_MASK, "C", nullptr);
    }
    if (locale == nullptr) {
        return Iso();
    }
    auto take = [&](nl_item item) {
        const char* text = nl_langinfo_l(item, locale);
        return std::string(text != nullptr ? text : "");
    };
    LocaleTimeTexts texts;
    texts.DateFormat = take(D_FMT);
    texts.TimeFormat = take(T_FMT);
    texts.TimeFormatAmPm = take(T_FMT_AMPM);
    texts.Names.Am = take(AM_STR);
    texts.Names.Pm = take(PM_STR);
    for (std::size_t i = 0; i < 12; ++i) {
        texts.Names.ShortMonths[i] = take(static_cast<nl_item>(ABMON_1 + static_cast<int>(i)));
        texts.Names.Months[i] = take(static_cast<nl_item>(MON_1 + static_cast<int>(i)));
    }
    for (std::size_t i = 0; i < 7; ++i) {
        texts.Names.ShortDays[i] = take(static_cast<nl_item>(ABDAY_1 + static_cast<int>(i)));
        texts.Names.Days[i] = take(static_cast<nl_item>(DAY_1 + static_cast<int>(i)));
    }
    freelocale(locale);
    return FromLocaleTexts(texts);
}

DateFormat DateFormat::FromLocaleTexts(const LocaleTimeTexts& texts) {
    // LC_TIME texts come in the locale's own character set; the stored forms
    // are UTF-8, so a legacy 8-bit locale keeps the English names and a
    // pattern with 8-bit literals falls back to ISO.
    bool namesUsable = IsValidUtf8(texts.Names.Am) && IsValidUtf8(texts.Names.Pm);
    for (std::size_t i = 0; i < 12; ++i) {
        namesUsable = namesUsable && IsValidUtf8(texts.Names.ShortMonths[i]) &&
                      IsValidUtf8(texts.Names.Months[i]);
    }
    for (std::size_t i = 0; i < 7; ++i) {
        namesUsable = namesUsable && IsValidUtf8(texts.Names.ShortDays[i]) &&
                      IsValidUtf8(texts.Names.Days[i]);
    }
    DateNames names;
    if (namesUsable) {
        names = texts.Names;
    }
    if (names.Am.empty() || names.Pm.empty() || names.Am == names.Pm) {
        names.Am = "AM";
        names.Pm = "PM";
    }
    const std::string datePattern = Normalize(Expand(texts.DateFormat, texts, 0), false);
    const std::string timePattern = Normalize(Expand(texts.TimeFormat, texts, 0), true);
    auto usable = [&](const std::string& pattern, bool timeOfDay) {
        if (!IsValidUtf8(pattern)) {
            return false;
        }
        try {
            Compile(pattern, timeOfDay);
            return true;
        } catch (const std::invalid_argument&) {
            return false;
        }
    };
    return DateFormat(usable(datePattern, false) ? datePattern : "%Y-%m-%d",
                      usable(timePattern, true) ? timePattern : "%H:%M:%S", names);
}

std::string DateFormat::FormatDateTime(TDateTime value) const {
    const std::optional<DateTimeParts> parts = value.Parts();
    if (!parts) {
        return {};
    }
    std::string out;
    Append(out, m_data->Date, m_data->Names, *parts, value.DayOfWeek());
    // Milliseconds are not shown, so a time that shows as 00:00:00 counts as
    // midnight.
    if (parts->Hour != 0 || parts->Minute != 0 || parts->Second != 0) {
        out.push_back(' ');
        Append(out, m_data->Time, m_data->Names, *parts, 0);
    }
    return out;
}

std::string DateFormat::FormatDate(TDateTime value) const {
    const std::optional<DateTimeParts> parts = value.Parts();
    if (!parts) {
        return {};
    }
    std::string out;
    Append(out, m_data->Date, m_data->Names, *parts, value.DayOfWeek());
    return out;
}

std::string DateFormat::FormatTime(TDateTime value) const {
    const std::optional<DateTimeParts> parts = value.Parts();
    if (!parts) {
        return {};
    }
    std::string out;
    Append(out, m_data->Time, m_data->Names, *parts, 0);
    return out;
}

bool DateFormat::ParseDateTime(std::string_view text, TDateTime& out) const {
    text = TrimBlanks(text);
    auto take = [&out](const DateTimeParts& parts) {
        const std::optional<TDateTime> value = TDateTime::FromParts(parts);
        if (value) {
            out = *value;
        }
        return value.has_value();
    };
    // ISO 8601 first: it means one moment in every region, while a regional
    // form may read the same digits another way.
    DateTimeParts parts;
    if (ParseIsoDateTime(text, parts) && take(parts)) {
        return true;
    }
    for (const Data* data = m_data.get(); data != nullptr; data = data->ReadAlso.get()) {
        parts = DateTimeParts();
        if (ParseOwnDateTime(data->Date, data->Time, data->Names, text, parts) && take(parts)) {
            return true;
        }
    }
    return false;
}

bool DateFormat::ParseTime(std::string_view text, TDateTime& out) const {
    text = TrimBlanks(text);
    auto take = [&out](const DateTimeParts& parts) {
        const std::optional<TDateTime> value =
            TDateTime::FromTime(parts.Hour, parts.Minute, parts.Second, parts.Millisecond);
        if (value) {
            out = *value;
        }
        return value.has_value();
    };
    DateTimeParts parts;
    std::size_t pos = 0;
    if (ParseIsoTime(text, pos, parts) && pos == text.size() && take(parts)) {
        return true;
    }
    for (const Data* data = m_data.get(); data != nullptr; data = data->ReadAlso.get()) {
        parts = DateTimeParts();
        if (ParseOwnTime(data->Time, data->Names, text, parts) && take(parts)) {
            return true;
        }
    }
    return false;
}

}  // namespace kavri
