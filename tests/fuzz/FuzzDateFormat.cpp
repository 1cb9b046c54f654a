// Dates and times as they stand in data files written under any locale, and
// the locale patterns they are read with. Whatever a format reads, it must be
// able to write, and what it writes it must read back to the same text. The
// input is MODE, then fields separated by LF: the text to read, and for the
// pattern modes the date and time patterns.
#include "FuzzCheck.h"

#include "app/DateFormat.h"
#include "app/DateTime.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

using namespace kavri;

namespace {

// Formatting what was read and reading it again settles at once: the text
// written for a value reads back as a value that is written the same way.
void CheckSettles(const DateFormat& format, TDateTime value, bool timeOnly) {
    const std::string text = timeOnly ? format.FormatTime(value) : format.FormatDateTime(value);
    if (text.empty())
        return;  // no calendar date
    TDateTime again;
    const bool read = timeOnly ? format.ParseTime(text, again) : format.ParseDateTime(text, again);
    fuzz::Check(read, "a format reads what it writes");
    const std::string second = timeOnly ? format.FormatTime(again) : format.FormatDateTime(again);
    fuzz::Check(second == text, "what a format writes reads back to the same text");
}

void ReadWith(const DateFormat& format, std::string_view text) {
    TDateTime value;
    if (format.ParseDateTime(text, value)) {
        fuzz::Check(value.Parts().has_value(), "a date-time read has a calendar date");
        fuzz::Check(!format.FormatDateTime(value).empty(), "a date-time read can be written");
        CheckSettles(format, value, false);
    }
    if (format.ParseTime(text, value)) {
        fuzz::Check(value.Value() >= 0.0 && value.Value() < 1.0, "a time read is a time of day");
        CheckSettles(format, value, true);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::InputReader input(data, size);
    const std::uint8_t mode = input.Byte();
    const std::string_view text = input.Field('\n');

    switch (mode % 4) {
        case 0:
            // The stored form, and regional forms of earlier versions.
            ReadWith(DateFormat::Iso(), text);
            ReadWith(DateFormat("%m/%d/%Y", "%I:%M:%S %p"), text);
            ReadWith(DateFormat("%d.%m.%Y", "%H:%M:%S"), text);
            ReadWith(DateFormat("%d/%m/%Y", "%k:%M:%S"), text);
            break;
        case 1: {
            // Patterns as a locale gives them: never refused, never thrown.
            LocaleTimeTexts texts;
            texts.DateFormat = std::string(input.Field('\n'));
            texts.TimeFormat = std::string(input.Field('\n'));
            texts.TimeFormatAmPm = std::string(input.Field('\n'));
            ReadWith(DateFormat::FromLocaleTexts(texts), text);
            break;
        }
        case 2: {
            // Patterns given outright: refused with std::invalid_argument or used.
            const std::string_view datePattern = input.Field('\n');
            const std::string_view timePattern = input.Field('\n');
            std::optional<DateFormat> format;
            try {
                format.emplace(datePattern, timePattern);
            } catch (const std::invalid_argument&) {
                break;
            }
            ReadWith(*format, text);
            break;
        }
        default: {
            // Any value, formatted: nothing without a calendar date is written.
            double raw = 0.0;
            const std::string_view bytes = input.Bytes(sizeof raw);
            std::memcpy(&raw, bytes.data(), bytes.size());
            const TDateTime value(raw);
            const DateFormat format = DateFormat::Iso();
            fuzz::Check(format.FormatDateTime(value).empty() == !value.Parts().has_value(),
                        "a value is written exactly when it has a calendar date");
            CheckSettles(format, value, false);
            CheckSettles(format, value.TimePart(), true);
            break;
        }
    }
    return 0;
}
