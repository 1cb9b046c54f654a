// The splash and about window, and the pictures every window takes from the
// resources.
#include "gui/TfmSplash.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPushButton>

#include "gui/GuiImages.h"

namespace kavri::gui {
namespace {

TEST(TfmSplash, RefusesToCloseUntilReleased) {
    // Situation: the start-up splash, closed before and after its release.
    // Expected: 520 x 306; the first close is refused, the second is not.
    TfmSplash splash;
    splash.show();
    EXPECT_EQ(splash.size(), QSize(520, 306));
    EXPECT_FALSE(splash.close());
    EXPECT_TRUE(splash.isVisible());
    splash.ReleaseClose();
    EXPECT_TRUE(splash.close());
    EXPECT_FALSE(splash.isVisible());
}

TEST(TfmSplash, DrawsAThreePixelFrameAroundThePicture) {
    // Situation: the splash rendered off screen.
    // Expected: the outer three pixels are the frame's colour; inside them
    // the picture begins (not the white background).
    TfmSplash splash;
    const QImage image = splash.grab().toImage();
    const QColor frame = image.pixelColor(0, 0);
    EXPECT_NE(frame, QColor(Qt::white));
    for (int i = 0; i < TfmSplash::kFrame; ++i) {
        EXPECT_EQ(image.pixelColor(i, 150), frame) << i;
        EXPECT_EQ(image.pixelColor(519 - i, 150), frame) << i;
        EXPECT_EQ(image.pixelColor(260, 305 - i), frame) << i;
    }
    EXPECT_NE(image.pixelColor(3, 150), frame);
    EXPECT_NE(image.pixelColor(3, 150), QColor(Qt::white));
}

TEST(TfmSplash, TheAboutBoxClosesWithItsDefaultButton) {
    // Situation: the splash as the about box.
    // Expected: a visible default Close button that closes it.
    TfmSplash about;
    about.SetAboutMode();
    about.show();
    auto* close = about.findChild<QPushButton*>();
    ASSERT_NE(close, nullptr);
    EXPECT_TRUE(close->isVisible());
    EXPECT_TRUE(close->isDefault());
    close->click();
    EXPECT_FALSE(about.isVisible());
}

TEST(GuiImages, EveryPictureIsInTheResources) {
    // Situation: each picture a window asks for.
    // Expected: none is missing, and the pictures of a set differ.
    for (const char* name :
         {"start", "stop", "new_file", "new_message", "new_coupon", "edit", "delete", "accepted",
          "rejected", "blacklist", "statistics", "check_coupon", "blacklist_device", "settings"}) {
        EXPECT_FALSE(ToolImage(QString::fromLatin1(name)).isNull()) << name;
    }
    QList<QImage> statuses;
    for (int status = dsAccepted; status <= dsSent; ++status) {
        const QIcon icon = DeviceStatusImage(static_cast<DeviceStatus>(status));
        ASSERT_FALSE(icon.isNull()) << status;
        const QImage image = icon.pixmap(16, 16).toImage();
        EXPECT_FALSE(statuses.contains(image)) << status;
        statuses.append(image);
    }
    for (CampaignState state : {csEnabled, csDisabled, csActive}) {
        EXPECT_FALSE(CampaignStateImage(state).isNull()) << state;
    }
    EXPECT_NE(TrayImage(0).pixmap(24, 24).toImage(), TrayImage(1).pixmap(24, 24).toImage());
    EXPECT_FALSE(QImage(SplashPicturePath()).isNull());
}

}  // namespace
}  // namespace kavri::gui
