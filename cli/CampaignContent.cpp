#include "cli/CampaignContent.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <optional>

#include "app/CampaignRecord.h"
#include "app/FileCampaignEditor.h"
#include "cli/CampaignCommands.h"
#include "editors/CouponCampaignEditor.h"
#include "editors/MessageCampaignEditor.h"

namespace kavri::cli {
namespace {

constexpr std::array<std::string_view, 3> kTypeNames{"file", "message", "coupon"};

std::string Quoted(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string Lowered(std::string_view text) {
    std::string lowered(text);
    for (char& c : lowered) {
        c = Lower(c);
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

// "#RRGGBB" as the stored 0x00BBGGRR, or the stored number itself.
bool ParseColor(std::string_view text, std::int32_t& stored) {
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

// "bold+italic", "regular", or the stored bits 0 to 15.
bool ParseStyle(std::string_view text, std::uint8_t& style) {
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

std::string ApplyFont(std::string_view text, CampaignRecord& values) {
    const std::vector<std::string_view> parts = SplitCommas(text);
    const std::string form =
        " (FACE,SIZE,COLOR,STYLE, e.g. \"DejaVu Sans,12,#C00000,bold\"; empty parts keep)";
    if (parts.size() > 4) {
        return "--font: " + Quoted(text) + " has more than four parts" + form;
    }
    std::int32_t size = values.FontSize;
    if (parts.size() > 1 && !parts[1].empty() &&
        (!ParseWhole(parts[1], size) || size < 1 || size > 500)) {
        return "--font: the size " + Quoted(parts[1]) + " is not whole points from 1 to 500" + form;
    }
    std::int32_t color = values.FontColor;
    if (parts.size() > 2 && !parts[2].empty() && !ParseColor(parts[2], color)) {
        return "--font: the colour " + Quoted(parts[2]) +
               " is neither #RRGGBB nor a stored colour number" + form;
    }
    std::uint8_t style = values.FontStyle;
    if (parts.size() > 3 && !parts[3].empty() && !ParseStyle(parts[3], style)) {
        return "--font: the style " + Quoted(parts[3]) +
               " is not regular, a +-joined set of bold, italic, underline and strikeout, or 0 "
               "to 15" +
               form;
    }
    if (!parts[0].empty()) {
        values.FontName = std::string(parts[0]);
    }
    values.FontSize = size;
    values.FontColor = color;
    values.FontStyle = style;
    return {};
}

std::string ApplyCoupon(CouponCampaignEditor& editor, const CampaignOptions& options) {
    CampaignRecord& values = editor.Values();
    if (options.Place) {
        const std::string place = Lowered(*options.Place);
        if (place == "top") {
            editor.SetPlacement(CouponPlacement::Top);
        } else if (place == "middle") {
            editor.SetPlacement(CouponPlacement::Middle);
        } else if (place == "bottom") {
            editor.SetPlacement(CouponPlacement::Bottom);
        } else {
            return "--place: " + Quoted(*options.Place) + " is not top, middle or bottom";
        }
    }
    if (options.Align) {
        const std::string align = Lowered(*options.Align);
        if (align == "left") {
            editor.SetAlignment(CouponAlignment::Left);
        } else if (align == "center" || align == "centre") {
            editor.SetAlignment(CouponAlignment::Center);
        } else if (align == "right") {
            editor.SetAlignment(CouponAlignment::Right);
        } else {
            return "--align: " + Quoted(*options.Align) + " is not left, center or right";
        }
    }
    if (options.Font) {
        if (std::string why = ApplyFont(*options.Font, values); !why.empty()) {
            return why;
        }
    }
    if (options.Image) {
        if (std::string why = editor.ChooseImage(*options.Image); !why.empty()) {
            return "--image: " + why;
        }
    }
    if (options.Promotion) {
        values.MessageName = *options.Promotion;
    }
    if (options.Message) {
        values.MessageText = *options.Message;
    }
    if (options.Coupon) {
        values.Coupon = *options.Coupon;
        values.CouponEnabled = true;
    }
    if (options.GenerateCoupon) {
        editor.GenerateCoupon();
        values.CouponEnabled = true;
    }
    if (options.CouponEnabled) {
        values.CouponEnabled = *options.CouponEnabled;
    }
    return {};
}

}  // namespace

int CampaignTypeOf(std::string_view name) {
    const std::string lowered = Lowered(name);
    for (std::size_t i = 0; i < kTypeNames.size(); ++i) {
        if (lowered == kTypeNames[i]) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

std::string CampaignTypeName(int type) {
    return type >= 0 && static_cast<std::size_t>(type) < kTypeNames.size()
               ? std::string(kTypeNames[static_cast<std::size_t>(type)])
               : "type " + std::to_string(type);
}

std::unique_ptr<CampaignEditor> MakeEditor(int type, CampaignStore& store,
                                           const DateTimeClock& clock, TextLookup texts) {
    switch (type) {
        case kCampaignFileBased:
            return std::make_unique<FileCampaignEditor>(store, clock, std::move(texts));
        case kCampaignMessageBased:
            return std::make_unique<MessageCampaignEditor>(store, clock, std::move(texts));
        case kCampaignCouponBased:
            return std::make_unique<CouponCampaignEditor>(store, clock, std::move(texts));
        default:
            return nullptr;  // not a type of this program
    }
}

std::string ForeignOptionRefusal(int type, const CampaignOptions& options) {
    struct Belonging {
        bool Given;
        std::string_view Option;
        std::array<bool, 3> Types;  // file, message, coupon
    };
    const std::array<Belonging, 12> belongings{{
        {options.SourceFile.has_value(), "--file", {true, false, false}},
        {options.FileName.has_value(), "--file-name", {true, false, false}},
        {options.Company.has_value(), "--company", {false, true, false}},
        {options.Url.has_value(), "--url", {false, true, false}},
        {options.Phone.has_value(), "--phone", {false, true, false}},
        {options.Message.has_value(), "--message", {false, true, true}},
        {options.Promotion.has_value(), "--promotion", {false, false, true}},
        {options.Image.has_value(), "--image", {false, false, true}},
        {options.Coupon.has_value() || options.GenerateCoupon || options.CouponEnabled.has_value(),
         "--coupon, --generate-coupon and --no-coupon",
         {false, false, true}},
        {options.Place.has_value(), "--place", {false, false, true}},
        {options.Align.has_value(), "--align", {false, false, true}},
        {options.Font.has_value(), "--font", {false, false, true}},
    }};
    // A type this program lacks takes none of them.
    const bool known = type >= 0 && static_cast<std::size_t>(type) < kTypeNames.size();
    for (const Belonging& belonging : belongings) {
        if (belonging.Given && (!known || !belonging.Types[static_cast<std::size_t>(type)])) {
            return std::string(belonging.Option) + " does not apply to a " +
                   CampaignTypeName(type) + " campaign";
        }
    }
    return {};
}

std::string ApplyContentOptions(int type, CampaignEditor& editor, const CampaignOptions& options) {
    switch (type) {
        case kCampaignFileBased: {
            auto& file = static_cast<FileCampaignEditor&>(editor);
            if (options.SourceFile) {
                file.ChooseSourceFile(*options.SourceFile);
            }
            if (options.FileName) {
                file.Values().FileName = *options.FileName;
            }
            return {};
        }
        case kCampaignMessageBased: {
            // On a card that did not read, the fields left out are unknown:
            // the editor refuses rather than write a card of the given ones.
            const EditorResult changed = static_cast<MessageCampaignEditor&>(editor).ChangeFields(
                {options.Company, options.Url, options.Phone, options.Message});
            return changed.Ok ? std::string() : changed.Message;
        }
        case kCampaignCouponBased:
            return ApplyCoupon(static_cast<CouponCampaignEditor&>(editor), options);
        default:
            return "campaigns of " + CampaignTypeName(type) + " cannot be changed here";
    }
}

std::vector<std::pair<std::string, std::string>> ContentLines(
    const CampaignRecord& record, CampaignStore& store, const DateTimeClock& clock,
    const TextLookup& texts, std::string_view name, std::string& error) {
    std::vector<std::pair<std::string, std::string>> lines{{"FileName", record.FileName}};
    if (record.Type == kCampaignMessageBased) {
        // The card is read as the editor reads it when the campaign is opened.
        MessageCampaignEditor editor(store, clock, texts);
        const EditorResult loaded = editor.Load(name);
        if (!loaded.Ok) {
            error = loaded.Message;
        } else {
            error = editor.CardError();
        }
        const MessageCampaignEditor::MessageFields& fields = editor.Fields();
        lines.emplace_back("Company", fields.Company);
        lines.emplace_back("URL", fields.Url);
        lines.emplace_back("Phone", fields.Phone);
        lines.emplace_back("Message", fields.Message);
    } else if (record.Type == kCampaignCouponBased) {
        for (auto& entry : record.CouponEntries()) {
            if (entry.first != "FileName") {
                lines.push_back(std::move(entry));
            }
        }
    }
    return lines;
}

}  // namespace kavri::cli
