#pragma once

#include <QDialog>
#include <QPixmap>

class QCloseEvent;
class QPaintEvent;
class QPushButton;

namespace kavri::gui {

// The product window: a borderless white window of 520 x 306 pixels framed
// by a 3-pixel line around the product picture. At start-up it refuses to
// close until ReleaseClose; as the about box (SetAboutMode) it shows a Close
// button, the default and cancel button, and closes freely.
//
// Main thread only; owns its picture and button.
class TfmSplash : public QDialog {
    Q_OBJECT

public:
    static constexpr int kWidth = 520;
    static constexpr int kHeight = 306;
    static constexpr int kFrame = 3;

    explicit TfmSplash(QWidget* parent = nullptr);

    void ReleaseClose() { m_closeAllowed = true; }
    void SetAboutMode();
    bool CloseAllowed() const { return m_closeAllowed; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    QPixmap m_picture;
    QPushButton* m_close = nullptr;
    bool m_closeAllowed = false;
};

}  // namespace kavri::gui
