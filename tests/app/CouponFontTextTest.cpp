#include "app/CouponFontText.h"

#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "app/CampaignRecord.h"

namespace kavri {
namespace {

TEST(CouponFontTextTest, ColoursAreRgbOrTheStoredNumber) {
    // Situation: colour texts in both forms and near misses. Expected: "#RRGGBB"
    // stored with red lowest, stored numbers as they are, the rest refused untouched.
    struct Case {
        std::string Text;
        bool Ok;
        std::int32_t Stored;
    };
    const Case cases[] = {
        {"#C00000", true, 0x0000C0},
        {"#0000ff", true, 0xFF0000},
        {"-2147483640", true, -2147483640},
        {"255", true, 255},
        {"#12345G", false, 7},
        {"#1234567", false, 7},
        {"#12345", false, 7},
        {"", false, 7},
        {"2147483648", false, 7},
        {"12 ", false, 7},
    };
    for (const Case& c : cases) {
        std::int32_t stored = 7;
        EXPECT_EQ(ParseFontColor(c.Text, stored), c.Ok) << c.Text;
        EXPECT_EQ(stored, c.Stored) << c.Text;
    }
}

TEST(CouponFontTextTest, StylesAreNamesJoinedByPlusOrTheStoredBits) {
    // Situation: style texts. Expected: bold 1, italic 2, underline 4, strikeout 8 in
    // any letter case and order; 0 to 15 as stored; empty parts and 16 refused.
    struct Case {
        std::string Text;
        bool Ok;
        std::uint8_t Style;
    };
    const Case cases[] = {
        {"regular", true, 0}, {"Bold+ITALIC", true, 3}, {"strikeout+bold", true, 9},
        {"15", true, 15},     {"16", false, 99},        {"bold+", false, 99},
        {"+bold", false, 99}, {"heavy", false, 99},     {"", false, 99},
    };
    for (const Case& c : cases) {
        std::uint8_t style = 99;
        EXPECT_EQ(ParseFontStyle(c.Text, style), c.Ok) << c.Text;
        EXPECT_EQ(style, c.Style) << c.Text;
    }
}

TEST(CouponFontTextTest, AFontTextChangesAllOrNothing) {
    // Situation: a font with a good face and size but a bad colour, then one with
    // empty parts. Expected: the first changes nothing; empty parts keep their values.
    CampaignRecord values;
    values.FontName = "Tahoma";
    values.FontSize = 10;
    values.FontColor = -2147483640;
    values.FontStyle = 0;
    const Result refused = ApplyFontText("Arial,12,red", values);
    EXPECT_EQ(refused.Message.rfind("--font: the colour \"red\" is neither", 0), 0u);
    EXPECT_EQ(values.FontName, "Tahoma");
    EXPECT_EQ(values.FontSize, 10);
    EXPECT_FALSE(ApplyFontText("a,b,c,d,e", values));
    EXPECT_FALSE(ApplyFontText(",501", values));

    ASSERT_TRUE(ApplyFontText(",,,bold", values));
    EXPECT_EQ(values.FontName, "Tahoma");
    EXPECT_EQ(values.FontSize, 10);
    EXPECT_EQ(values.FontColor, -2147483640);
    EXPECT_EQ(values.FontStyle, 1);
}

}  // namespace
}  // namespace kavri
