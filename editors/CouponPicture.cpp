#include "editors/CouponPicture.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QRect>

#include <algorithm>

namespace kavri {

namespace {

constexpr int kDefaultPoints = 8;
constexpr int kMaxPoints = 500;
constexpr std::string_view kDefaultFace = "Tahoma";

// Dots per metre of a 96 dots-per-inch device (96 / 0.0254, rounded).
constexpr int kDotsPerMeter = 3780;

QImage Canvas(QSize size) {
    QImage canvas(size, QImage::Format_RGB32);
    canvas.setDotsPerMeterX(kDotsPerMeter);
    canvas.setDotsPerMeterY(kDotsPerMeter);
    canvas.fill(Qt::white);
    return canvas;
}

// Breaks text into lines no wider than width, at blanks only: CR LF (or a
// lone CR or LF) always starts a new line; blanks where a line is broken are
// dropped; a word wider than the whole line stands alone on its line and is
// cut off when drawn. Every step consumes at least one character, so this
// ends after a number of steps bounded by the text's length.
std::vector<QString> LayOut(const QString& text, const QFontMetricsF& metrics, qreal width) {
    QString normal = text;
    normal.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    normal.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    std::vector<QString> lines;
    for (const QString& paragraph : normal.split(QLatin1Char('\n'))) {
        const qsizetype n = paragraph.size();
        qsizetype start = 0;
        do {
            // The end of the longest run of whole words from start that fits;
            // the first word is taken even when it does not.
            qsizetype fitEnd = -1;
            qsizetype end = start;
            for (;;) {
                qsizetype next = end;
                while (next < n && paragraph[next] == QLatin1Char(' ')) {
                    ++next;
                }
                if (next == n) {
                    break;
                }
                while (next < n && paragraph[next] != QLatin1Char(' ')) {
                    ++next;
                }
                const bool fits =
                    metrics.horizontalAdvance(paragraph.mid(start, next - start)) <= width;
                if (!fits && fitEnd >= 0) {
                    break;
                }
                fitEnd = next;
                end = next;
                if (!fits) {
                    break;
                }
            }
            if (fitEnd < 0) {
                // Nothing but blanks from here on: an empty line when nothing
                // of the paragraph has been laid out yet.
                if (start == 0) {
                    lines.emplace_back();
                }
                break;
            }
            lines.push_back(paragraph.mid(start, fitEnd - start));
            start = fitEnd;
            while (start < n && paragraph[start] == QLatin1Char(' ')) {
                ++start;
            }
        } while (start < n);
    }
    return lines;
}

}  // namespace

std::string CouponPicture::Text(std::string_view message, bool couponEnabled,
                                std::string_view code) {
    std::string text(message);
    if (couponEnabled && !code.empty()) {
        if (!text.empty()) {
            text += "\r\n";
        }
        text += code;
    }
    return text;
}

QColor CouponPicture::Color(std::int32_t stored) {
    const auto value = static_cast<std::uint32_t>(stored);
    if ((value & 0x8000'0000u) == 0) {
        return QColor(static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                      static_cast<int>((value >> 16) & 0xFF));
    }
    switch (value & 0xFF) {
        case 5:   // window
        case 9:   // caption text
        case 14:  // highlight text
        case 20:  // button highlight
            return QColor(255, 255, 255);
        case 13:  // highlight
            return QColor(0, 0, 128);
        case 15:  // button face
            return QColor(192, 192, 192);
        case 16:  // button shadow
        case 17:  // grey text
            return QColor(128, 128, 128);
        case 24:  // tooltip background
            return QColor(255, 255, 225);
        default:  // 7 menu text, 8 window text, 18 button text, 23 tooltip text, unknown
            return QColor(0, 0, 0);
    }
}

QFont CouponPicture::Font(const CouponFont& font) {
    QFont result;
    const std::string_view face = font.Face.empty() ? kDefaultFace : std::string_view(font.Face);
    result.setFamily(QString::fromUtf8(face.data(), static_cast<qsizetype>(face.size())));
    // Guides the choice of a replacement when the face is missing.
    result.setStyleHint(QFont::SansSerif);
    const int points = font.Size <= 0 ? kDefaultPoints : std::min<int>(font.Size, kMaxPoints);
    result.setPixelSize(std::max(1, (points * kDotsPerInch + 36) / 72));
    result.setBold((font.Style & 1) != 0);
    result.setItalic((font.Style & 2) != 0);
    result.setUnderline((font.Style & 4) != 0);
    result.setStrikeOut((font.Style & 8) != 0);
    return result;
}

std::vector<QString> CouponPicture::Lines() const {
    const QImage device = Canvas(QSize(1, 1));
    const QFontMetricsF metrics(Font(m_font), &device);
    return LayOut(m_text, metrics, kFrameSize.width());
}

QImage CouponPicture::Preview() const {
    return Render(kFrameSize, true);
}

QImage CouponPicture::Picture() const {
    return Render(kPictureSize, true);
}

QImage CouponPicture::Original() const {
    return Render(kPictureSize, false);
}

QImage CouponPicture::Render(QSize size, bool withText) const {
    QImage canvas = Canvas(size);
    if (canvas.isNull()) {
        return canvas;
    }
    QPainter painter(&canvas);
    if (!m_image.isNull()) {
        // Stretched, not cropped: the aspect ratio of the image is not kept.
        painter.drawImage(QPoint(0, 0),
                          m_image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    }
    if (!withText || m_text.isEmpty()) {
        return canvas;
    }
    // Laid out in frame units, drawn scaled to the canvas.
    const qreal frameWidth = kFrameSize.width();
    const qreal frameHeight = kFrameSize.height();
    painter.setClipRect(QRect(QPoint(0, 0), size));
    painter.scale(size.width() / frameWidth, size.height() / frameHeight);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const QFont font(Font(m_font), &canvas);
    painter.setFont(font);
    painter.setPen(Color(m_font.Color));
    const QFontMetricsF metrics(font, &canvas);
    const std::vector<QString> lines = LayOut(m_text, metrics, frameWidth);
    const qreal lineHeight = metrics.height();
    const qreal blockHeight = lineHeight * static_cast<qreal>(lines.size());
    qreal top = 0;
    switch (m_placement) {
        case CouponPlacement::Top:
            break;
        case CouponPlacement::Middle:
            top = (frameHeight - blockHeight) / 2;
            break;
        case CouponPlacement::Bottom:
            top = frameHeight - blockHeight;
            break;
    }
    for (const QString& line : lines) {
        // Lines wholly outside the frame are not drawn at all.
        if (top + lineHeight > 0 && top < frameHeight) {
            const qreal width = metrics.horizontalAdvance(line);
            qreal left = 0;
            switch (m_alignment) {
                case CouponAlignment::Left:
                    break;
                case CouponAlignment::Center:
                    left = (frameWidth - width) / 2;
                    break;
                case CouponAlignment::Right:
                    left = frameWidth - width;
                    break;
            }
            painter.drawText(QPointF(left, top + metrics.ascent()), line);
        }
        top += lineHeight;
    }
    return canvas;
}

}  // namespace kavri
