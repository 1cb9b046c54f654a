#include "gui/TfmSplash.h"

#include <QCloseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>

#include "gui/GuiImages.h"

namespace kavri::gui {

TfmSplash::TfmSplash(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), m_picture(SplashPicturePath()) {
    setFixedSize(kWidth, kHeight);
    setModal(true);
    m_close = new QPushButton(QStringLiteral("Close"), this);
    m_close->hide();
    m_close->adjustSize();
    m_close->move(kWidth - kFrame - 12 - m_close->width(),
                  kHeight - kFrame - 12 - m_close->height());
    connect(m_close, &QPushButton::clicked, this, &QDialog::accept);
    if (const QScreen* screen = this->screen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

void TfmSplash::SetAboutMode() {
    m_closeAllowed = true;
    m_close->show();
    m_close->setDefault(true);
    m_close->setFocus();
}

void TfmSplash::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    painter.drawPixmap(QRect(kFrame, kFrame, kWidth - 2 * kFrame, kHeight - 2 * kFrame), m_picture);
    QPen frame(QColor(0x1d, 0x4e, 0x89));
    frame.setWidth(kFrame);
    frame.setJoinStyle(Qt::MiterJoin);
    painter.setPen(frame);
    painter.setBrush(Qt::NoBrush);
    // The pen is centred on the line: inset by half its width.
    painter.drawRect(QRectF(kFrame / 2.0, kFrame / 2.0, kWidth - kFrame, kHeight - kFrame));
}

void TfmSplash::closeEvent(QCloseEvent* event) {
    if (m_closeAllowed) {
        event->accept();
    } else {
        event->ignore();
    }
}

void TfmSplash::reject() {
    // Escape is the about box's cancel button; the splash ignores it.
    if (m_closeAllowed) {
        QDialog::reject();
    }
}

}  // namespace kavri::gui
