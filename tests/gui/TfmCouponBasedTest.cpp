// The coupon editor window: its preview follows the operator's choices, the
// picture written at OK is that preview enlarged, and a stored campaign
// opens with the placement, font and image it was saved with.
#include "gui/TfmCouponBased.h"

#include "tests/gui/GuiShop.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QToolButton>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "app/DataFolder.h"
#include "app/IniFile.h"
#include "editors/CouponCampaignEditor.h"

namespace kavri::gui {
namespace {

using test::Shop;
namespace fs = std::filesystem;

std::string Stored(Shop& shop, const std::string& campaign, const char* key) {
    const std::string folder = DataFolder::Open(shop.Data()).CampaignFolder(campaign);
    return IniFile(folder + "settings.dat", DateFormat::Iso())
        .ReadString("SETTINGS", key, "(missing)");
}

// A picture in four colour blocks, so that a stretch or a shift shows.
std::string WriteBlocks(Shop& shop) {
    QImage image(200, 100, QImage::Format_RGB32);
    image.fill(Qt::darkBlue);
    for (int y = 0; y < 50; ++y) {
        for (int x = 0; x < 100; ++x) {
            image.setPixelColor(x, y, Qt::yellow);
            image.setPixelColor(x + 100, y + 50, Qt::darkGreen);
        }
    }
    const std::string path = shop.Root() + "/blocks.bmp";
    EXPECT_TRUE(image.save(QString::fromStdString(path), "BMP"));
    return path;
}

// The mean difference per colour channel of two pictures of one size.
double MeanDifference(const QImage& a, const QImage& b) {
    const QImage left = a.convertToFormat(QImage::Format_RGB32);
    const QImage right = b.convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(left.size(), right.size());
    double sum = 0;
    for (int y = 0; y < left.height(); ++y) {
        for (int x = 0; x < left.width(); ++x) {
            const QColor p = left.pixelColor(x, y);
            const QColor q = right.pixelColor(x, y);
            sum += std::abs(p.red() - q.red()) + std::abs(p.green() - q.green()) +
                   std::abs(p.blue() - q.blue());
        }
    }
    return sum / (3.0 * left.width() * left.height());
}

QImage Shown(const TfmCouponBased& editor) {
    return editor.Image->pixmap().toImage();
}

TEST(TfmCouponBasedWindow, PreviewTextFollowsMessageSwitchAndCode) {
    // Situation: message and code typed, the coupon switched on and off, the
    // code emptied, the message emptied, a code generated.
    // Expected: the code joins the message on its own line only while the
    // switch is on and the code is not empty; the code field and generator
    // are usable only while on; a generated code is six of 0-9 and A-Z.
    Shop shop(sim::ParseScenario(""));
    TfmMain& window = shop.Open();
    TfmCouponBased editor(window);
    EXPECT_FALSE(editor.edCoupon->isEnabled());
    EXPECT_TRUE(editor.sbMiddle->isChecked());
    EXPECT_TRUE(editor.sbCenter->isChecked());
    editor.edPromotionMessage->setText("Spring Sale");
    editor.edCoupon->setText("AB12CD");
    EXPECT_EQ(editor.CouponEditor().PreviewText(), "Spring Sale");
    const QImage messageOnly = Shown(editor);

    editor.cbCoupon->click();
    EXPECT_TRUE(editor.edCoupon->isEnabled());
    EXPECT_TRUE(editor.sbGenerate->isEnabled());
    EXPECT_EQ(editor.CouponEditor().PreviewText(), "Spring Sale\r\nAB12CD");
    EXPECT_NE(Shown(editor), messageOnly);
    editor.edCoupon->clear();
    EXPECT_EQ(editor.CouponEditor().PreviewText(), "Spring Sale");
    EXPECT_EQ(Shown(editor), messageOnly);
    editor.edPromotionMessage->clear();
    editor.edCoupon->setText("AB12CD");
    EXPECT_EQ(editor.CouponEditor().PreviewText(), "AB12CD");

    editor.sbGenerate->click();
    const QString code = editor.edCoupon->text();
    ASSERT_EQ(code.size(), 6);
    for (const QChar c : code) {
        EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z')) << code.toStdString();
    }
    EXPECT_EQ(editor.CouponEditor().PreviewText(), code.toStdString());
}

TEST(TfmCouponBasedWindow, ThePictureIsThePreviewEnlargedAndReopensTheSame) {
    // Situation: an image of colour blocks, a message at the top left, a bold
    // red font chosen, OK; then the campaign is opened again.
    // Expected: the JPEG scaled back to 120 x 150 matches the preview within
    // JPEG's and the scaling's tolerance; the font and placement are stored
    // and the reopened window shows the same preview with Top and Left down.
    Shop shop(sim::ParseScenario(""));
    TfmMain& window = shop.Open();
    QImage preview;
    {
        TfmCouponBased editor(window);
        editor.edCampaignName->setText("Spring");
        editor.edPromotionName->setText("Spring");
        editor.edPromotionMessage->setText("Spring Sale for everyone");
        editor.AskPicture = [&](const QString&, const QStringList& filters) {
            EXPECT_EQ(filters.size(), 4);
            return QString::fromStdString(WriteBlocks(shop));
        };
        editor.sbSelectFile->click();
        editor.sbTop->click();
        editor.sbLeft->click();
        editor.AskFont = [](const CouponFont& current) {
            CouponFont font = current;
            font.Size = 12;
            font.Style = 1;
            font.Color = 0x0000FF;
            return std::optional<CouponFont>(font);
        };
        editor.sbFont->click();
        preview = Shown(editor);
        editor.btOK->click();
        ASSERT_EQ(editor.result(), QDialog::Accepted)
            << (shop.Errors.empty() ? "" : shop.Errors[0].toStdString());
    }
    EXPECT_EQ(Stored(shop, "Spring", "Top"), "1");
    EXPECT_EQ(Stored(shop, "Spring", "Left"), "1");
    EXPECT_EQ(Stored(shop, "Spring", "FontStyle"), "1");
    EXPECT_EQ(Stored(shop, "Spring", "FontColor"), "255");
    const std::string folder = DataFolder::Open(shop.Data()).CampaignFolder("Spring");
    const QImage picture(QString::fromStdString(folder + "Spring.jpg"));
    ASSERT_EQ(picture.size(), QSize(176, 220));
    const QImage scaledBack =
        picture.scaled(120, 150, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    // JPEG and the two scalings leave about 4 per channel here; the same
    // preview in the font before the change already differs by 8.
    EXPECT_LT(MeanDifference(scaledBack, preview), 5.0);

    TfmCouponBased reopened(window);
    ASSERT_TRUE(reopened.Edit("Spring"));
    EXPECT_TRUE(reopened.sbTop->isChecked());
    EXPECT_TRUE(reopened.sbLeft->isChecked());
    EXPECT_LT(MeanDifference(Shown(reopened), preview), 3.0);
    EXPECT_TRUE(shop.Errors.empty());
}

TEST(TfmCouponBasedWindow, RenamingThePromotionReplacesThePictureFile) {
    // Situation: a coupon campaign saved as promotion Spring, reopened and
    // renamed Summer.
    // Expected: Spring.jpg goes, Summer.jpg comes; FileName and MessageName
    // follow.
    Shop shop(sim::ParseScenario(""));
    TfmMain& window = shop.Open();
    {
        TfmCouponBased editor(window);
        editor.edCampaignName->setText("Season");
        editor.edPromotionName->setText("Spring");
        editor.btOK->click();
    }
    TfmCouponBased editor(window);
    ASSERT_TRUE(editor.Edit("Season"));
    EXPECT_EQ(editor.edPromotionName->text(), "Spring");
    editor.edPromotionName->setText("Summer");
    editor.btOK->click();
    const std::string folder = DataFolder::Open(shop.Data()).CampaignFolder("Season");
    EXPECT_FALSE(fs::exists(folder + "Spring.jpg"));
    EXPECT_TRUE(fs::exists(folder + "Summer.jpg"));
    EXPECT_EQ(Stored(shop, "Season", "FileName"), "Summer.jpg");
    EXPECT_EQ(Stored(shop, "Season", "MessageName"), "Summer");
    EXPECT_TRUE(shop.Errors.empty());
}

TEST(TfmCouponBasedWindow, OneCodePerPhoneFollowsTheCouponSwitchAndIsSavedAndReopened) {
    // Situation: a new coupon campaign: the per-phone box looked at with the
    // coupon off, then the coupon and the box switched on and saved; reopened,
    // the box switched off and saved again.
    // Expected: the box is usable only while the coupon is on; the record
    // holds "CouponPerDevice" 1, the reopened window shows it ticked, and the
    // second save stores 0.
    Shop shop(sim::ParseScenario(""));
    TfmMain& window = shop.Open();
    {
        TfmCouponBased editor(window);
        EXPECT_FALSE(editor.cbCouponPerDevice->isEnabled());
        EXPECT_FALSE(editor.cbCouponPerDevice->isChecked());
        editor.edCampaignName->setText("Season");
        editor.edPromotionName->setText("Spring");
        editor.cbCoupon->click();
        ASSERT_TRUE(editor.cbCouponPerDevice->isEnabled());
        editor.cbCouponPerDevice->click();
        editor.btOK->click();
    }
    EXPECT_EQ(Stored(shop, "Season", "CouponPerDevice"), "1");
    TfmCouponBased editor(window);
    ASSERT_TRUE(editor.Edit("Season"));
    EXPECT_TRUE(editor.cbCouponPerDevice->isChecked());
    EXPECT_TRUE(editor.cbCouponPerDevice->isEnabled());
    editor.cbCouponPerDevice->click();
    editor.btOK->click();
    EXPECT_EQ(Stored(shop, "Season", "CouponPerDevice"), "0");
    EXPECT_TRUE(shop.Errors.empty());
}

TEST(TfmCouponBasedWindow, APhoneOfAOneCodePerPhoneCampaignGetsItsOwnCode) {
    // Situation: a coupon campaign with one code per phone saved in the
    // window; the main window's sender runs.
    // Expected: Anna's phone receives the picture and her record keeps a code
    // of its own, not the campaign's shared one.
    Shop shop(sim::ParseScenario(test::kOneRadio));
    TfmMain& window = shop.Open();
    {
        TfmCouponBased editor(window);
        editor.edCampaignName->setText("Own codes");
        editor.edPromotionName->setText("Deal");
        editor.cbCoupon->click();
        editor.edCoupon->setText("SHARED");
        editor.cbCouponPerDevice->click();
        editor.btOK->click();
        ASSERT_EQ(editor.result(), QDialog::Accepted);
    }
    window.Session().RefreshCampaigns();
    ASSERT_TRUE(shop.RunUntil([&] { return window.acSenderStart->isEnabled(); }));
    window.acSenderStart->trigger();
    const std::string accepted =
        DataFolder::Open(shop.Data()).CampaignFolder("Own codes") + "accepted.dat";
    const IniFile records(accepted, DateFormat::Iso());
    ASSERT_TRUE(shop.RunUntil([&] {
        return fs::exists(fs::path(shop.Root()) / "inboxes" / "0017E53A9102" / "Deal.jpg") &&
               !records.ReadString(test::kAnna, "Coupon", "").empty();
    }));
    const std::string code = records.ReadString(test::kAnna, "Coupon", "");
    EXPECT_EQ(code.size(), 6U);
    EXPECT_NE(code, "SHARED");
    EXPECT_TRUE(shop.Errors.empty());
}

TEST(TfmCouponBasedWindow, RefusalsAreShownAndKeepTheWindowAsItWas) {
    // Situation: a picture that is not an image is chosen after a good one;
    // then OK without a promotion name.
    // Expected: the decoder's complaint is shown and the preview keeps the
    // good image; OK is refused with the promotion name message.
    Shop shop(sim::ParseScenario(""));
    TfmMain& window = shop.Open();
    TfmCouponBased editor(window);
    editor.edCampaignName->setText("Broken");
    editor.ChoosePicture(QString::fromStdString(WriteBlocks(shop)));
    const QImage good = Shown(editor);
    const std::string notAnImage = shop.Root() + "/fake.jpg";
    { std::ofstream(notAnImage) << "plain text"; }
    editor.ChoosePicture(QString::fromStdString(notAnImage));
    ASSERT_EQ(shop.Errors.size(), 1U);
    EXPECT_EQ(Shown(editor), good);

    editor.btOK->click();
    EXPECT_NE(editor.result(), QDialog::Accepted);
    ASSERT_EQ(shop.Errors.size(), 2U);
    EXPECT_EQ(shop.Errors[1], "Promotion name is required.");
    EXPECT_FALSE(fs::exists(DataFolder::Open(shop.Data()).CampaignFolder("Broken")));
}

}  // namespace
}  // namespace kavri::gui
