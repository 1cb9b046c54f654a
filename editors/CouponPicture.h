#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QSize>
#include <QString>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kavri {

// Where the block of text lies in the frame, and how each line is aligned.
enum class CouponPlacement { Top, Middle, Bottom };
enum class CouponAlignment { Left, Center, Right };

// The text font of a coupon picture, in its stored form.
struct CouponFont {
    // The system's window-text colour (a system colour, index 8).
    static constexpr std::int32_t kWindowTextColor = -2147483640;

    // A face this machine lacks is replaced by the closest one it has.
    std::string Face = "Tahoma";
    // Points; zero or less means the default of 8.
    std::int32_t Size = 8;
    // 0x00BBGGRR (red in the lowest byte); with the top bit set, a system
    // colour by the index in the lowest byte.
    std::int32_t Color = kWindowTextColor;
    // Bit 0 bold, bit 1 italic, bit 2 underline, bit 3 strike-out.
    std::uint8_t Style = 0;
};

// The picture of a coupon campaign: the operator's image stretched over a
// 120 x 150 frame (white without an image) with the promotion text over it,
// word-wrapped at blanks to the frame's width, each line aligned left, centred
// or right and the block placed at the top, in the middle or at the bottom;
// text beyond the frame is cut off at its edge and has no background. The same
// layout gives the editor's preview and, enlarged by 22/15 in both directions,
// the 176 x 220 picture that devices receive.
//
// Sizes in points convert to pixels at a fixed 96 dots per inch, the classic
// display resolution the frame was designed for, so a picture looks the same
// whatever the screen of the machine that renders it. The picture is painted
// at its own size with the frame's layout scaled up, rather than by enlarging
// the 120 x 150 preview bitmap: the lines break exactly as in the preview, and
// the text and image stay sharp.
//
// A value; main thread (QFont and QPainter need the QGuiApplication's thread).
// Throws only std::bad_alloc.
class CouponPicture {
public:
    static constexpr QSize kFrameSize{120, 150};
    static constexpr QSize kPictureSize{176, 220};
    static constexpr int kDotsPerInch = 96;

    // The text shown: message, then, when the coupon is on and code is not
    // empty, a CR LF (only after a non-empty message) and the code.
    static std::string Text(std::string_view message, bool couponEnabled, std::string_view code);

    // The colour of a stored colour value. System colours take the fixed
    // values of the classic Windows scheme rather than the current theme's,
    // so a picture does not change with the desktop: 5 window white, 7 menu
    // text black, 8 window text black, 9 caption text white, 13 highlight navy
    // (0, 0, 128), 14 highlight text white, 15 button face light grey
    // (192, 192, 192), 16 button shadow and 17 grey text grey (128, 128, 128),
    // 18 button text black, 20 button highlight white, 23 tooltip text black,
    // 24 tooltip background (255, 255, 225); every other index is black. The
    // bits 24 to 30 of an explicit colour are ignored.
    static QColor Color(std::int32_t stored);
    // The Qt font of a stored font, its size in pixels at 96 dots per inch
    // rounded to the nearest pixel (8 points are 11 pixels). An empty face is
    // the default face; sizes above 500 points are taken as 500, so a damaged
    // record cannot ask for glyphs of absurd size.
    static QFont Font(const CouponFont& font);

    void SetImage(QImage image) { m_image = std::move(image); }
    const QImage& Image() const { return m_image; }
    void SetText(std::string_view text) {
        m_text = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    }
    void SetFont(CouponFont font) { m_font = std::move(font); }
    void SetPlacement(CouponPlacement placement) { m_placement = placement; }
    void SetAlignment(CouponAlignment alignment) { m_alignment = alignment; }

    // The text broken into the lines drawn in the frame.
    std::vector<QString> Lines() const;

    // The 120 x 150 preview.
    QImage Preview() const;
    // The 176 x 220 picture: the preview's content enlarged.
    QImage Picture() const;
    // The image alone stretched to 176 x 220, white without an image.
    QImage Original() const;

private:
    QImage Render(QSize size, bool withText) const;

    QImage m_image;
    QString m_text;
    CouponFont m_font;
    CouponPlacement m_placement = CouponPlacement::Middle;
    CouponAlignment m_alignment = CouponAlignment::Center;
};

}  // namespace kavri
