#include "app/CouponFontText.h"

#include <array>
#include <charconv>
#include <string>
#include <vector>

#include "app/CampaignRecord.h"

namespace kavri {
namespace {

std::string Quoted(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

std::string Lowered(std::string_view text) {
    std::string lowered(text);
    for (char& c : lowered) {
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return lowered;
}

template <typename Number>
bool ParseWhole(std::string_view text, Number& value) {
    const char* end = text.data() + text.size();
    const auto [next, error] = std::from_chars(text.data(), end, value);
    return !text.empty() && error == std::errc() && next == end;
}

// Splits at every ',', keeping empty parts.
std::vector<std::string_view> SplitCommas(std::string_view text) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = text.find(',', start);
        parts.push_back(text.substr(
            start, comma == std::string_view::npos ? text.size() - start : comma - start));
        if (comma == std::string_view::npos) {
            return parts;
        }
        start = comma + 1;
    }
}

}  // namespace

bool ParseFontColor(std::string_view text, std::int32_t& stored) {
    if (text.size() == 7 && text[0] == '#') {
        std::uint32_t rgb = 0;
        const char* end = text.data() + text.size();
        const auto [next, error] = std::from_chars(text.data() + 1, end, rgb, 16);
        if (error != std::errc() || next != end) {
            return false;
        }
        const std::uint32_t bgr = ((rgb >> 16) & 0xFF) | (rgb & 0xFF00) | ((rgb & 0xFF) << 16);
        stored = static_cast<std::int32_t>(bgr);
        return true;
    }
    return ParseWhole(text, stored);
}

bool ParseFontStyle(std::string_view text, std::uint8_t& style) {
    unsigned bits = 0;
    if (ParseWhole(text, bits)) {
        if (bits > 15) {
            return false;
        }
        style = static_cast<std::uint8_t>(bits);
        return true;
    }
    const std::string lowered = Lowered(text);
    if (lowered == "regular") {
        style = 0;
        return true;
    }
    constexpr std::array<std::string_view, 4> kStyles{"bold", "italic", "underline", "strikeout"};
    std::size_t start = 0;
    while (true) {
        const std::size_t plus = lowered.find('+', start);
        const std::string_view item = std::string_view(lowered).substr(
            start, plus == std::string::npos ? std::string::npos : plus - start);
        bool known = false;
        for (std::size_t i = 0; i < kStyles.size(); ++i) {
            if (item == kStyles[i]) {
                bits |= 1u << i;
                known = true;
            }
        }
        if (!known) {
            return false;
        }
        if (plus == std::string::npos) {
            break;
        }
        start = plus + 1;
    }
    style = static_cast<std::uint8_t>(bits);
    return true;
}

Result ApplyFontText(std::string_view text, CampaignRecord& values) {
    const std::vector<std::string_view> parts = SplitCommas(text);
    const std::string form =
        " (FACE,SIZE,COLOR,STYLE, e.g. \"DejaVu Sans,12,#C00000,bold\"; empty parts keep)";
    if (parts.size() > 4) {
        return Result::Failure("--font: " + Quoted(text) + " has more than four parts" + form);
    }
    std::int32_t size = values.FontSize;
    if (parts.size() > 1 && !parts[1].empty() &&
        (!ParseWhole(parts[1], size) || size < 1 || size > 500)) {
        return Result::Failure("--font: the size " + Quoted(parts[1]) +
                               " is not whole points from 1 to 500" + form);
    }
    std::int32_t color = values.FontColor;
    if (parts.size() > 2 && !parts[2].empty() && !ParseFontColor(parts[2], color)) {
        return Result::Failure("--font: the colour " + Quoted(parts[2]) +
                               " is neither #RRGGBB nor a stored colour number" + form);
    }
    std::uint8_t style = values.FontStyle;
    if (parts.size() > 3 && !parts[3].empty() && !ParseFontStyle(parts[3], style)) {
        return Result::Failure(
            "--font: the style " + Quoted(parts[3]) +
            " is not regular, a +-joined set of bold, italic, underline and strikeout, or 0 "
            "to 15" +
            form);
    }
    if (!parts[0].empty()) {
        values.FontName = std::string(parts[0]);
    }
    values.FontSize = size;
    values.FontColor = color;
    values.FontStyle = style;
    return Result::Success();
}

}  // namespace kavri
