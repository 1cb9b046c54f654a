#include "editors/CouponPicture.h"

#include <QFontInfo>
#include <QFontMetricsF>
#include <QImage>
#include <QStringList>

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace kavri {
namespace {

bool IsNearBlack(QRgb pixel) {
    return qRed(pixel) < 100 && qGreen(pixel) < 100 && qBlue(pixel) < 100;
}

// The box around the near-black pixels (black text); empty when there are
// none.
QRect DarkBox(const QImage& image) {
    QRect box;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (IsNearBlack(image.pixel(x, y))) {
                box |= QRect(x, y, 1, 1);
            }
        }
    }
    return box;
}

// The ninth of size (column, row from 0 to 2) that box lies in, or (-1, -1).
QPoint Ninth(const QRect& box, QSize size) {
    auto third = [](int low, int high, int length) {
        for (int i = 0; i < 3; ++i) {
            if (low * 3 >= i * length && (high + 1) * 3 <= (i + 1) * length) {
                return i;
            }
        }
        return -1;
    };
    return {third(box.left(), box.right(), size.width()),
            third(box.top(), box.bottom(), size.height())};
}

bool IsWhite(QRgb pixel) {
    return qRed(pixel) == 255 && qGreen(pixel) == 255 && qBlue(pixel) == 255;
}

TEST(CouponPictureTest, TextJoinsMessageAndCodeOnlyWhenBothShow) {
    // Situation: the cases of the editor's preview text.
    // Expected: the code on its own line after the message when the coupon is
    // on and the code is not empty; no line break before a code alone.
    EXPECT_EQ(CouponPicture::Text("Spring Sale", true, "AB12CD"), "Spring Sale\r\nAB12CD");
    EXPECT_EQ(CouponPicture::Text("Spring Sale", false, "AB12CD"), "Spring Sale");
    EXPECT_EQ(CouponPicture::Text("Spring Sale", true, ""), "Spring Sale");
    EXPECT_EQ(CouponPicture::Text("", true, "AB12CD"), "AB12CD");
    EXPECT_EQ(CouponPicture::Text("", false, "AB12CD"), "");
}

TEST(CouponPictureTest, StoredColoursMapToRgb) {
    // Situation: explicit colours (red in the lowest byte), system colours by
    // index, an unknown index, and an explicit colour with stray high bits.
    // Expected: the colours of the classic scheme; unknown indexes black.
    EXPECT_EQ(CouponPicture::Color(0x123456), QColor(0x56, 0x34, 0x12));
    EXPECT_EQ(CouponPicture::Color(0x01FF0000), QColor(0, 0, 255));
    EXPECT_EQ(CouponPicture::Color(CouponFont::kWindowTextColor), QColor(0, 0, 0));
    EXPECT_EQ(CouponPicture::Color(-2147483643), QColor(255, 255, 255));  // window, 5
    EXPECT_EQ(CouponPicture::Color(-2147483648 + 200), QColor(0, 0, 0));  // unknown
}

TEST(CouponPictureTest, FontSizesConvertAtNinetySixDotsPerInch) {
    // Situation: stored fonts of 8, 12, 0 (missing) and 100000 points, and
    // every style bit.
    // Expected: 11, 16, 11 and 667 pixels; the style bits set bold, italic,
    // underline and strike-out.
    CouponFont font;
    EXPECT_EQ(CouponPicture::Font(font).pixelSize(), 11);
    font.Size = 12;
    EXPECT_EQ(CouponPicture::Font(font).pixelSize(), 16);
    font.Size = 0;
    EXPECT_EQ(CouponPicture::Font(font).pixelSize(), 11);
    font.Size = 100000;
    EXPECT_EQ(CouponPicture::Font(font).pixelSize(), 667);

    font.Style = 0;
    QFont plain = CouponPicture::Font(font);
    EXPECT_FALSE(plain.bold() || plain.italic() || plain.underline() || plain.strikeOut());
    font.Style = 1 | 8;
    QFont styled = CouponPicture::Font(font);
    EXPECT_TRUE(styled.bold());
    EXPECT_FALSE(styled.italic());
    EXPECT_FALSE(styled.underline());
    EXPECT_TRUE(styled.strikeOut());
    font.Style = 2 | 4;
    styled = CouponPicture::Font(font);
    EXPECT_FALSE(styled.bold());
    EXPECT_TRUE(styled.italic());
    EXPECT_TRUE(styled.underline());
    EXPECT_FALSE(styled.strikeOut());
}

TEST(CouponPictureTest, MissingFaceStillDrawsText) {
    // Situation: the default face (Tahoma) and a face no machine has.
    // Expected: Qt matches some installed face for both, and text is drawn.
    for (const std::string face : {"Tahoma", "No Such Face 12345", ""}) {
        CouponPicture picture;
        CouponFont font;
        font.Face = face;
        picture.SetFont(font);
        picture.SetText("Sale");
        EXPECT_FALSE(QFontInfo(CouponPicture::Font(font)).family().isEmpty()) << face;
        EXPECT_FALSE(DarkBox(picture.Preview()).isEmpty()) << face;
    }
}

TEST(CouponPictureTest, LinesBreakAtBlanksToTheFrameWidth) {
    // Situation: a message of many words with the code after it, and a word
    // wider than the frame between two short ones.
    // Expected: no line wider than the frame except the long word alone;
    // lines are whole words, and joined with blanks give the message back;
    // the code starts its own line.
    CouponPicture picture;
    const std::string message =
        "Spring Sale with twenty percent off every item in the shop until Sunday";
    picture.SetText(CouponPicture::Text(message, true, "AB12CD"));
    const QImage device(1, 1, QImage::Format_RGB32);
    const QFontMetricsF metrics(CouponPicture::Font(CouponFont()), &device);
    std::vector<QString> lines = picture.Lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines.back(), "AB12CD");
    QStringList words;
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        EXPECT_LE(metrics.horizontalAdvance(lines[i]), 120.0) << lines[i].toStdString();
        EXPECT_FALSE(lines[i].startsWith(' ') || lines[i].endsWith(' '));
        words << lines[i];
        if (i + 2 < lines.size()) {
            // The next word would not have fitted.
            const QString next = lines[i + 1].section(' ', 0, 0);
            EXPECT_GT(metrics.horizontalAdvance(lines[i] + ' ' + next), 120.0);
        }
    }
    EXPECT_EQ(words.join(' ').toStdString(), message);

    picture.SetText("A Supercalifragilisticexpialidocious B");
    lines = picture.Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "A");
    EXPECT_EQ(lines[1], "Supercalifragilisticexpialidocious");
    EXPECT_EQ(lines[2], "B");
}

TEST(CouponPictureTest, EmptyAndBlankTextsLayOutWithoutEndlessLines) {
    // Situation: an empty text, blanks only, and blanks around a word.
    // Expected: one empty line for each of the first two, and the word with its
    // leading blanks (as typed) but none trailing.
    CouponPicture picture;
    picture.SetText("");
    EXPECT_EQ(picture.Lines(), std::vector<QString>{QString()});
    picture.SetText("    ");
    EXPECT_EQ(picture.Lines(), std::vector<QString>{QString()});
    picture.SetText("  Sale  ");
    EXPECT_EQ(picture.Lines(), std::vector<QString>{QStringLiteral("  Sale")});
}

struct PlacementCase {
    CouponPlacement Placement;
    CouponAlignment Alignment;
    QPoint Ninth;
};

TEST(CouponPictureTest, TextLiesInTheNinthOfItsPlacement) {
    // Situation: black text of two short lines on white, for each of the nine
    // placements, in the preview and in the picture.
    // Expected: the dark pixels lie wholly in the matching ninth of each.
    const std::vector<PlacementCase> cases{
        {CouponPlacement::Top, CouponAlignment::Left, {0, 0}},
        {CouponPlacement::Top, CouponAlignment::Center, {1, 0}},
        {CouponPlacement::Top, CouponAlignment::Right, {2, 0}},
        {CouponPlacement::Middle, CouponAlignment::Left, {0, 1}},
        {CouponPlacement::Middle, CouponAlignment::Center, {1, 1}},
        {CouponPlacement::Middle, CouponAlignment::Right, {2, 1}},
        {CouponPlacement::Bottom, CouponAlignment::Left, {0, 2}},
        {CouponPlacement::Bottom, CouponAlignment::Center, {1, 2}},
        {CouponPlacement::Bottom, CouponAlignment::Right, {2, 2}},
    };
    for (const PlacementCase& c : cases) {
        CouponPicture picture;
        picture.SetText(CouponPicture::Text("AB", true, "CD"));
        picture.SetPlacement(c.Placement);
        picture.SetAlignment(c.Alignment);
        for (const QImage& image : {picture.Preview(), picture.Picture()}) {
            const QRect box = DarkBox(image);
            ASSERT_FALSE(box.isEmpty());
            EXPECT_EQ(Ninth(box, image.size()), c.Ninth)
                << "box " << box.x() << "," << box.y() << " " << box.width() << "x" << box.height()
                << " in " << image.width() << "x" << image.height();
        }
    }
}

TEST(CouponPictureTest, PictureIsThePreviewEnlarged) {
    // Situation: the same picture as preview and as picture.
    // Expected: 120 x 150 and 176 x 220; the text block scaled by 22/15
    // within two pixels.
    CouponPicture picture;
    picture.SetText(CouponPicture::Text("Spring Sale", true, "AB12CD"));
    const QImage preview = picture.Preview();
    const QImage large = picture.Picture();
    EXPECT_EQ(preview.size(), QSize(120, 150));
    EXPECT_EQ(large.size(), QSize(176, 220));
    const QRect small = DarkBox(preview);
    const QRect big = DarkBox(large);
    ASSERT_FALSE(small.isEmpty());
    EXPECT_NEAR(big.left(), small.left() * 22.0 / 15, 2.0);
    EXPECT_NEAR(big.right(), small.right() * 22.0 / 15, 2.0);
    EXPECT_NEAR(big.top(), small.top() * 22.0 / 15, 2.0);
    EXPECT_NEAR(big.bottom(), small.bottom() * 22.0 / 15, 2.0);
}

TEST(CouponPictureTest, WithoutImageTextIsOnWhite) {
    // Situation: text in the middle, no image.
    // Expected: white corners, dark text pixels, and a blank white original.
    CouponPicture picture;
    picture.SetText("Spring Sale");
    const QImage image = picture.Picture();
    for (const QPoint corner : {QPoint(0, 0), QPoint(175, 0), QPoint(0, 219), QPoint(175, 219)}) {
        EXPECT_TRUE(IsWhite(image.pixel(corner)));
    }
    EXPECT_FALSE(DarkBox(image).isEmpty());
    const QImage original = picture.Original();
    ASSERT_EQ(original.size(), QSize(176, 220));
    EXPECT_TRUE(DarkBox(original).isEmpty());
    EXPECT_TRUE(IsWhite(original.pixel(88, 110)));
}

TEST(CouponPictureTest, WideImageIsStretchedNotCropped) {
    // Situation: a 1000 x 500 image whose left quarter is red and the rest
    // blue, no text.
    // Expected: the picture shows the red quarter at its left edge from the
    // top row to the bottom row (a crop would show only blue, a letterbox
    // white rows), blue beyond it; the original the same.
    QImage wide(1000, 500, QImage::Format_RGB32);
    wide.fill(qRgb(0, 0, 255));
    for (int y = 0; y < 500; ++y) {
        for (int x = 0; x < 250; ++x) {
            wide.setPixel(x, y, qRgb(255, 0, 0));
        }
    }
    CouponPicture picture;
    picture.SetImage(wide);
    for (const QImage& image : {picture.Picture(), picture.Original()}) {
        for (const int y : {0, 110, 219}) {
            EXPECT_EQ(image.pixel(10, y), qRgb(255, 0, 0)) << y;
            EXPECT_EQ(image.pixel(35, y), qRgb(255, 0, 0)) << y;
            EXPECT_EQ(image.pixel(60, y), qRgb(0, 0, 255)) << y;
            EXPECT_EQ(image.pixel(175, y), qRgb(0, 0, 255)) << y;
        }
    }
    const QImage preview = picture.Preview();
    EXPECT_EQ(preview.pixel(10, 0), qRgb(255, 0, 0));
    EXPECT_EQ(preview.pixel(40, 149), qRgb(0, 0, 255));
}

TEST(CouponPictureTest, TextTakesTheFontColourOverTheImage) {
    // Situation: red text (0x0000FF stored) over a green image.
    // Expected: the text pixels are red, the rest stays green: the text has
    // no background of its own.
    QImage green(50, 50, QImage::Format_RGB32);
    green.fill(qRgb(0, 255, 0));
    CouponPicture picture;
    picture.SetImage(green);
    CouponFont font;
    font.Color = 0x0000FF;
    font.Size = 20;
    font.Style = 1;
    picture.SetFont(font);
    picture.SetText("HH");
    const QImage image = picture.Picture();
    int red = 0;
    int other = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            if (qRed(pixel) > 200 && qGreen(pixel) < 60 && qBlue(pixel) < 60) {
                ++red;
            } else if (pixel != qRgb(0, 255, 0) && qBlue(pixel) > 10) {
                ++other;
            }
        }
    }
    EXPECT_GT(red, 100);
    EXPECT_EQ(other, 0);
    EXPECT_EQ(image.pixel(0, 0), qRgb(0, 255, 0));
}

TEST(CouponPictureTest, BlockTallerThanTheFrameIsCutAtItsEdges) {
    // Situation: 200 lines placed at the top, then at the bottom.
    // Expected: at the top the first line starts at the top edge and the text
    // fills the frame down to its bottom rows; at the bottom the last line
    // ("END") sits at the bottom edge and the block runs out at the top.
    std::string message;
    for (int i = 0; i < 200; ++i) {
        message += "Word" + std::to_string(i) + "\r\n";
    }
    CouponPicture picture;
    picture.SetText(message + "END");
    picture.SetAlignment(CouponAlignment::Left);
    for (const CouponPlacement placement : {CouponPlacement::Top, CouponPlacement::Bottom}) {
        picture.SetPlacement(placement);
        const QImage image = picture.Picture();
        ASSERT_EQ(image.size(), QSize(176, 220));
        const QRect top = DarkBox(image.copy(0, 0, 176, 20));
        const QRect bottom = DarkBox(image.copy(0, 200, 176, 20));
        EXPECT_FALSE(top.isEmpty());
        EXPECT_FALSE(bottom.isEmpty());
        if (placement == CouponPlacement::Top) {
            EXPECT_LT(top.top(), 8);
        } else {
            EXPECT_GT(bottom.bottom(), 10);
        }
    }
}

}  // namespace
}  // namespace kavri
