#include "editors/CouponCampaignEditor.h"

#include <QImage>

#include <array>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include <jerror.h>
#include <jpeglib.h>

#include "app/AppTestFolder.h"
#include "app/CampaignStore.h"
#include "app/DateTimeClock.h"
#include "app/IniFile.h"
#include "app/ShippedTexts.h"
#include "editors/DeviceCouponPicture.h"
#include "editors/JpegFile.h"

namespace kavri {
namespace {

using test::At;
using test::Slurp;
using test::Spill;
using test::Tree;

// The quantisation tables of the JPEG standard's example (Annex K), in
// natural (row by row) order: luminance, then chrominance.
constexpr std::array<int, 64> kLuminance{
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
constexpr std::array<int, 64> kChrominance{
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
    99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};
// For each position of a DQT segment (zig-zag order), its natural index.
constexpr std::array<int, 64> kZigZag{
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// A standard table scaled for a quality as libjpeg does it, in zig-zag order.
std::array<int, 64> ScaledForQuality(const std::array<int, 64>& natural, int quality) {
    const int scale = quality < 50 ? 5000 / quality : 200 - quality * 2;
    std::array<int, 64> table{};
    for (std::size_t i = 0; i < 64; ++i) {
        const int value = (natural[static_cast<std::size_t>(kZigZag[i])] * scale + 50) / 100;
        table[i] = std::clamp(value, 1, 255);
    }
    return table;
}

// The markers of a JPEG before its first scan, and its DQT tables by number.
struct JpegSegments {
    std::vector<int> Markers;
    std::map<int, std::array<int, 64>> Tables;
};

JpegSegments Segments(const std::string& jpeg) {
    JpegSegments segments;
    auto byte = [&](std::size_t at) { return static_cast<unsigned char>(jpeg[at]); };
    std::size_t at = 2;
    while (at + 4 <= jpeg.size() && byte(at) == 0xFF) {
        const int marker = byte(at + 1);
        segments.Markers.push_back(marker);
        if (marker == 0xDA) {
            break;
        }
        const std::size_t length = byte(at + 2) * 256u + byte(at + 3);
        if (marker == 0xDB) {
            for (std::size_t p = at + 4; p + 65 <= at + 2 + length && p + 65 <= jpeg.size();
                 p += 65) {
                EXPECT_EQ(byte(p) >> 4, 0) << "16-bit table";
                std::array<int, 64> table{};
                for (std::size_t i = 0; i < 64; ++i) {
                    table[i] = byte(p + 1 + i);
                }
                segments.Tables[byte(p) & 0x0F] = table;
            }
        }
        at += 2 + length;
    }
    return segments;
}

struct JpegFacts {
    int Width = 0;
    int Height = 0;
    int Components = 0;
    bool Progressive = true;
    J_COLOR_SPACE Space = JCS_UNKNOWN;
};

// The header as libjpeg reads it. Only called on bytes that start like a
// JPEG; libjpeg's default error handler ends the program on damage.
JpegFacts Facts(const std::string& jpeg) {
    jpeg_error_mgr errors{};
    jpeg_decompress_struct cinfo{};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_CreateDecompress(&cinfo, JPEG_LIB_VERSION, sizeof cinfo);
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(jpeg.data()), jpeg.size());
    jpeg_read_header(&cinfo, TRUE);
    JpegFacts facts{static_cast<int>(cinfo.image_width), static_cast<int>(cinfo.image_height),
                    cinfo.num_components, cinfo.progressive_mode != 0, cinfo.jpeg_color_space};
    jpeg_destroy_decompress(&cinfo);
    return facts;
}

std::string LibjpegMessage(int code, int first, int second) {
    jpeg_error_mgr errors{};
    jpeg_std_error(&errors);
    jpeg_decompress_struct cinfo{};
    cinfo.err = &errors;
    errors.msg_code = code;
    errors.msg_parm.i[0] = first;
    errors.msg_parm.i[1] = second;
    char text[JMSG_LENGTH_MAX];
    errors.format_message(reinterpret_cast<j_common_ptr>(&cinfo), text);
    return text;
}

bool IsNearBlack(QRgb pixel) {
    return qRed(pixel) < 100 && qGreen(pixel) < 100 && qBlue(pixel) < 100;
}

// The box around the near-black pixels: the text when it is black.
QRect TextBox(const QImage& image) {
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

QImage Solid(int width, int height, QRgb colour) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

void ExpectColorNear(QRgb got, QRgb expected, int tolerance = 16) {
    EXPECT_NEAR(qRed(got), qRed(expected), tolerance);
    EXPECT_NEAR(qGreen(got), qGreen(expected), tolerance);
    EXPECT_NEAR(qBlue(got), qBlue(expected), tolerance);
}

constexpr std::string_view kName = "Promo week";

class CouponCampaignEditorTest : public ::testing::Test {
protected:
    CouponCampaignEditorTest() { std::filesystem::create_directory(m_temp.Path() + "src"); }

    std::unique_ptr<CouponCampaignEditor> Editor() {
        return std::make_unique<CouponCampaignEditor>(*m_store, m_clock, test::ShippedTexts());
    }
    // A JPEG of one colour among the operator's files.
    std::string ImageFile(const std::string& name, QRgb colour, int width = 40, int height = 30) {
        const std::string path = m_temp.Path() + "src/" + name;
        std::string error;
        EXPECT_TRUE(test::Done(WriteJpegFile(path, Solid(width, height, colour), 95), error))
            << error;
        return path;
    }
    // Saves a new campaign "Promo week" with promotion "Spring": message
    // "Spring Sale", coupon AB12CD on, placed top left.
    void CreateSpring(const std::string& imagePath = {}) {
        auto editor = Editor();
        editor->Values().Name = std::string(kName);
        editor->Values().MessageName = "Spring";
        editor->Values().MessageText = "Spring Sale";
        editor->Values().Coupon = "AB12CD";
        editor->Values().CouponEnabled = true;
        editor->SetPlacement(CouponPlacement::Top);
        editor->SetAlignment(CouponAlignment::Left);
        if (!imagePath.empty()) {
            ASSERT_EQ(editor->ChooseImage(imagePath).Message, "");
        }
        const Result result = editor->Save();
        ASSERT_TRUE(result.Ok) << result.Message;
    }
    std::unique_ptr<CouponCampaignEditor> Loaded() {
        auto editor = Editor();
        const Result result = editor->Load(kName);
        EXPECT_TRUE(result.Ok) << result.Message;
        return editor;
    }
    std::string Folder() const { return m_store->CampaignFolder(kName); }
    QImage ReadPicture(const std::string& name) const {
        QImage image;
        const Result read = ReadImageFile(Folder() + name, image);
        EXPECT_FALSE(image.isNull()) << read.Message;
        return image;
    }

    test::TempFolder m_temp;
    std::string m_data = m_temp.Path() + "data/";
    std::unique_ptr<CampaignStore> m_store =
        std::make_unique<CampaignStore>(DataFolder::Open(m_data), DateFormat::Iso());
    // Wednesday, 9 December 2026, 14:15:16.
    ManualDateTimeClock m_clock{At(2026, 12, 9, 14, 15, 16)};
};

TEST_F(CouponCampaignEditorTest, NewEditorStartsCentredWithTheWindowFont) {
    // Situation: a new coupon editor.
    // Expected: type 2, Middle and Center alone set, coupon off, Tahoma 8 pt
    // in the window-text colour, no image, no stored name, a white preview.
    auto editor = Editor();
    const CampaignRecord& v = editor->Values();
    EXPECT_EQ(editor->Type(), kCampaignCouponBased);
    EXPECT_TRUE(!v.Top && v.Middle && !v.Bottom);
    EXPECT_TRUE(!v.Left && v.Center && !v.Right);
    EXPECT_EQ(editor->Placement(), CouponPlacement::Middle);
    EXPECT_EQ(editor->Alignment(), CouponAlignment::Center);
    EXPECT_FALSE(v.CouponEnabled);
    EXPECT_EQ(v.FontName, "Tahoma");
    EXPECT_EQ(v.FontSize, 8);
    EXPECT_EQ(v.FontColor, -2147483640);
    EXPECT_EQ(v.FontStyle, 0);
    EXPECT_TRUE(editor->Image().isNull());
    EXPECT_EQ(editor->StoredFileName(), "");
    const QImage preview = editor->Preview();
    EXPECT_EQ(preview.size(), QSize(120, 150));
    EXPECT_TRUE(TextBox(preview).isEmpty());
}

TEST_F(CouponCampaignEditorTest, PlacementAndAlignmentKeepOneFlagEach) {
    // Situation: setting each placement and alignment, then flags as a record
    // may hold them: none set, and two set.
    // Expected: exactly one flag of each three after a setter; none reads as
    // Middle / Center; of two the later one counts.
    auto editor = Editor();
    CampaignRecord& v = editor->Values();
    editor->SetPlacement(CouponPlacement::Bottom);
    EXPECT_TRUE(!v.Top && !v.Middle && v.Bottom);
    editor->SetPlacement(CouponPlacement::Top);
    EXPECT_TRUE(v.Top && !v.Middle && !v.Bottom);
    EXPECT_EQ(editor->Placement(), CouponPlacement::Top);
    editor->SetAlignment(CouponAlignment::Right);
    EXPECT_TRUE(!v.Left && !v.Center && v.Right);
    editor->SetAlignment(CouponAlignment::Left);
    EXPECT_TRUE(v.Left && !v.Center && !v.Right);
    EXPECT_EQ(editor->Alignment(), CouponAlignment::Left);

    v.Top = v.Middle = v.Bottom = false;
    v.Left = v.Center = v.Right = false;
    EXPECT_EQ(editor->Placement(), CouponPlacement::Middle);
    EXPECT_EQ(editor->Alignment(), CouponAlignment::Center);
    v.Top = v.Bottom = true;
    v.Left = v.Center = true;
    EXPECT_EQ(editor->Placement(), CouponPlacement::Bottom);
    EXPECT_EQ(editor->Alignment(), CouponAlignment::Center);
    v.Bottom = false;
    v.Middle = true;
    EXPECT_EQ(editor->Placement(), CouponPlacement::Middle);
}

TEST_F(CouponCampaignEditorTest, GenerateCouponReplacesTheCode) {
    // Situation: a typed code, then two generated ones, with the coupon on.
    // Expected: each replaces the field with six digits or capitals, and the
    // preview text shows the message and on its own line the new code.
    auto editor = Editor();
    editor->Values().MessageText = "Spring Sale";
    editor->Values().CouponEnabled = true;
    editor->Values().Coupon = "typed by hand";
    EXPECT_EQ(editor->PreviewText(), "Spring Sale\r\ntyped by hand");
    editor->GenerateCoupon();
    const std::string first = editor->Values().Coupon;
    editor->GenerateCoupon();
    const std::string second = editor->Values().Coupon;
    for (const std::string& code : {first, second}) {
        ASSERT_EQ(code.size(), 6u);
        EXPECT_EQ(code.find_first_not_of(CouponCodeGenerator::kAlphabet), std::string::npos)
            << code;
    }
    EXPECT_NE(first, second);
    EXPECT_EQ(editor->PreviewText(), "Spring Sale\r\n" + second);
}

TEST_F(CouponCampaignEditorTest, SaveWritesTheRecordInItsKeyOrder) {
    // Situation: a new campaign with promotion Spring, top left, coupon on.
    // Expected: Type 2 and the coupon keys after Enabled in their order, with
    // FileName made from the promotion name.
    CreateSpring();
    const std::string record = Slurp(Folder() + "settings.dat");
    EXPECT_NE(record.find("\r\nType=2\r\n"), std::string::npos);
    const std::string tail =
        "Enabled=1\r\nFileName=Spring.jpg\r\nMessageName=Spring\r\nMessageText=Spring Sale\r\n"
        "Coupon=AB12CD\r\nCouponEnabled=1\r\nTop=1\r\nMiddle=0\r\nBottom=0\r\nLeft=1\r\n"
        "Center=0\r\nRight=0\r\nFontName=Tahoma\r\nFontSize=8\r\nFontColor=-2147483640\r\n"
        "FontStyle=0\r\n";
    ASSERT_GE(record.size(), tail.size());
    EXPECT_EQ(record.substr(record.size() - tail.size()), tail);
    EXPECT_EQ(Slurp(m_data + "campaigns.dat"), "PROMO WEEK\r\n");
}

TEST_F(CouponCampaignEditorTest, PictureIsABaselineColourJpegOfQualityNinety) {
    // Situation: a campaign saved with a red image.
    // Expected: Spring.jpg is a 176 x 220 baseline (SOF0, not progressive)
    // three-component YCbCr JPEG whose quantisation tables are the standard
    // ones scaled for quality 90; its pixels away from the text are red.
    CreateSpring(ImageFile("red.jpg", qRgb(255, 0, 0)));
    const std::string jpeg = Slurp(Folder() + "Spring.jpg");
    ASSERT_EQ(jpeg.substr(0, 2), "\xFF\xD8");
    const JpegFacts facts = Facts(jpeg);
    EXPECT_EQ(facts.Width, 176);
    EXPECT_EQ(facts.Height, 220);
    EXPECT_EQ(facts.Components, 3);
    EXPECT_EQ(facts.Space, JCS_YCbCr);
    EXPECT_FALSE(facts.Progressive);

    const JpegSegments segments = Segments(jpeg);
    EXPECT_NE(std::find(segments.Markers.begin(), segments.Markers.end(), 0xC0),
              segments.Markers.end());
    for (const int progressive : {0xC1, 0xC2, 0xC3, 0xC9, 0xCA}) {
        EXPECT_EQ(std::find(segments.Markers.begin(), segments.Markers.end(), progressive),
                  segments.Markers.end());
    }
    ASSERT_EQ(segments.Tables.size(), 2u);
    EXPECT_EQ(segments.Tables.at(0), ScaledForQuality(kLuminance, 90));
    EXPECT_EQ(segments.Tables.at(1), ScaledForQuality(kChrominance, 90));

    const QImage picture = ReadPicture("Spring.jpg");
    ASSERT_EQ(picture.size(), QSize(176, 220));
    ExpectColorNear(picture.pixel(170, 214), qRgb(255, 0, 0));
    ExpectColorNear(picture.pixel(88, 150), qRgb(255, 0, 0));
    const QRect text = TextBox(picture);
    ASSERT_FALSE(text.isEmpty());
    EXPECT_LT(text.left(), 8) << "at the left";
    EXPECT_LT(text.top(), 8) << "at the top";
    EXPECT_LT(text.bottom(), 220 / 3) << "two short lines";
}

TEST_F(CouponCampaignEditorTest, OriginalBitmapIsTheImageAloneAt176By220) {
    // Situation: a campaign saved with a red image, and one without an image.
    // Expected: promo_original.bmp is 176 x 220 and red without any text, and
    // white without an image.
    CreateSpring(ImageFile("red.jpg", qRgb(255, 0, 0)));
    QImage original = ReadPicture("promo_original.bmp");
    ASSERT_EQ(original.size(), QSize(176, 220));
    EXPECT_TRUE(TextBox(original).isEmpty());
    ExpectColorNear(original.pixel(10, 10), qRgb(255, 0, 0));
    ExpectColorNear(original.pixel(88, 110), qRgb(255, 0, 0));

    std::string error;
    ASSERT_TRUE(test::Done(m_store->DeleteCampaign(kName), error)) << error;
    CreateSpring();
    original = ReadPicture("promo_original.bmp");
    ASSERT_EQ(original.size(), QSize(176, 220));
    EXPECT_EQ(original.pixel(0, 0), qRgb(255, 255, 255));
    EXPECT_EQ(original.pixel(175, 219), qRgb(255, 255, 255));
    // And the picture is the text on white.
    const QImage picture = ReadPicture("Spring.jpg");
    ExpectColorNear(picture.pixel(175, 219), qRgb(255, 255, 255), 4);
    EXPECT_FALSE(TextBox(picture).isEmpty());
}

TEST_F(CouponCampaignEditorTest, LoadGivesEveryValueBackAndSavesTheSamePlacement) {
    // Situation: a campaign saved top left with a red italic DejaVu Serif
    // 12 pt font and a blue image, opened again, then saved unchanged.
    // Expected: every value back, the image shown from promo_original.bmp,
    // and the second picture's text at the top left again.
    {
        auto editor = Editor();
        CampaignRecord& v = editor->Values();
        v.Name = std::string(kName);
        v.MessageName = "Spring";
        v.MessageText = "Spring Sale";
        v.Coupon = "AB12CD";
        v.CouponEnabled = true;
        v.FontName = "DejaVu Serif";
        v.FontSize = 12;
        v.FontColor = 0x000000;
        v.FontStyle = 2;
        editor->SetPlacement(CouponPlacement::Top);
        editor->SetAlignment(CouponAlignment::Left);
        ASSERT_EQ(editor->ChooseImage(ImageFile("blue.jpg", qRgb(0, 0, 255))).Message, "");
        const Result result = editor->Save();
        ASSERT_TRUE(result.Ok) << result.Message;
    }
    auto editor = Loaded();
    const CampaignRecord& v = editor->Values();
    EXPECT_TRUE(editor->IsEditing());
    EXPECT_EQ(editor->StoredFileName(), "Spring.jpg");
    EXPECT_EQ(v.MessageName, "Spring");
    EXPECT_EQ(v.MessageText, "Spring Sale");
    EXPECT_EQ(v.Coupon, "AB12CD");
    EXPECT_TRUE(v.CouponEnabled);
    EXPECT_EQ(editor->Placement(), CouponPlacement::Top);
    EXPECT_EQ(editor->Alignment(), CouponAlignment::Left);
    EXPECT_TRUE(v.Top && !v.Middle && !v.Bottom && v.Left && !v.Center && !v.Right);
    EXPECT_EQ(v.FontName, "DejaVu Serif");
    EXPECT_EQ(v.FontSize, 12);
    EXPECT_EQ(v.FontColor, 0);
    EXPECT_EQ(v.FontStyle, 2);
    EXPECT_EQ(editor->ImageError(), "");
    ASSERT_EQ(editor->Image().size(), QSize(176, 220));
    ExpectColorNear(editor->Image().pixel(88, 110), qRgb(0, 0, 255));

    const QRect previewText = TextBox(editor->Preview());
    ASSERT_FALSE(previewText.isEmpty());
    EXPECT_LT(previewText.left(), 6);
    EXPECT_LT(previewText.top(), 6);
    EXPECT_LT(previewText.bottom(), 150 / 3);

    std::filesystem::remove(Folder() + "Spring.jpg");
    const Result again = editor->Save();
    ASSERT_TRUE(again.Ok) << again.Message;
    const QImage picture = ReadPicture("Spring.jpg");
    ExpectColorNear(picture.pixel(170, 214), qRgb(0, 0, 255));
    const QRect text = TextBox(picture);
    ASSERT_FALSE(text.isEmpty());
    EXPECT_LT(text.left(), 10);
    EXPECT_LT(text.top(), 10);
    EXPECT_LT(text.bottom(), 220 / 3);
}

TEST_F(CouponCampaignEditorTest, RenamingThePromotionReplacesThePicture) {
    // Situation: Spring renamed to Summer in the editor.
    // Expected: Spring.jpg deleted, Summer.jpg written, FileName Summer.jpg and
    // MessageName Summer stored and reported.
    CreateSpring();
    auto editor = Loaded();
    editor->Values().MessageName = "Summer";
    const Result result = editor->Save();
    ASSERT_TRUE(result.Ok) << result.Message;
    EXPECT_FALSE(std::filesystem::exists(Folder() + "Spring.jpg"));
    EXPECT_TRUE(std::filesystem::exists(Folder() + "Summer.jpg"));
    EXPECT_EQ(editor->StoredFileName(), "Summer.jpg");
    const CampaignRecord stored = m_store->ReadRecord(kName);
    EXPECT_EQ(stored.FileName, "Summer.jpg");
    EXPECT_EQ(stored.MessageName, "Summer");
}

TEST_F(CouponCampaignEditorTest, UnfitPromotionNamesAreRefusedAndChangeNothing) {
    // Situation: OK with an empty promotion name, then names that cannot be
    // one file name (a separator, blanks at an end, "..", and 252 bytes which
    // become 256 with ".jpg"), for a new and for an existing campaign.
    // Expected: "StrMessageNameRequired" for the empty one, "FileNameInvalid"
    // for the others; the data folder unchanged each time.
    struct Case {
        std::string Name;
        std::string Key;
    };
    const std::vector<Case> cases{
        {"", "StrMessageNameRequired"}, {"a/b", "FileNameInvalid"},
        {" Spring", "FileNameInvalid"}, {"Spring ", "FileNameInvalid"},
        {"..", "FileNameInvalid"},      {std::string(252, 'x'), "FileNameInvalid"}};
    for (const Case& c : cases) {
        const auto before = Tree(m_data);
        auto editor = Editor();
        editor->Values().Name = "Other";
        editor->Values().MessageName = c.Name;
        const Result result = editor->Save();
        EXPECT_FALSE(result.Ok) << c.Name;
        EXPECT_EQ(result.MessageKey, c.Key) << c.Name;
        EXPECT_EQ(Tree(m_data), before) << c.Name;
    }

    CreateSpring();
    for (const Case& c : cases) {
        const auto before = Tree(m_data);
        auto editor = Loaded();
        editor->Values().MessageName = c.Name;
        const Result result = editor->Save();
        EXPECT_EQ(result.MessageKey, c.Key) << c.Name;
        EXPECT_EQ(Tree(m_data), before) << c.Name;
    }
    // 251 bytes make a 255-byte file name, the longest there is.
    auto editor = Loaded();
    editor->Values().MessageName = std::string(251, 'x');
    EXPECT_TRUE(editor->Save().Ok);
}

TEST_F(CouponCampaignEditorTest, CouponCodesWithControlCharactersAreRefusedAndChangeNothing) {
    // Situation: codes with a line break, a tab, DEL and a C1 control, with
    // the coupon on and off, for a new campaign and for an existing one.
    // Expected: "CouponCodeInvalid" naming the code, the data folder unchanged
    // (the record would have kept blanks a coupon check never matches); a
    // code of letters, digits, blanks inside and non-ASCII letters is taken.
    const std::vector<std::string> codes{"AB\r\nCD", "AB\tCD",
                                         "AB\x7F"
                                         "CD",
                                         "AB\xC2\x9F"
                                         "CD",
                                         "\n"};
    CreateSpring();
    for (const std::string& code : codes) {
        for (const bool enabled : {true, false}) {
            const auto before = Tree(m_data);
            auto fresh = Editor();
            fresh->Values().Name = "Other";
            fresh->Values().MessageName = "Other";
            fresh->Values().Coupon = code;
            fresh->Values().CouponEnabled = enabled;
            const Result refused = fresh->Save();
            EXPECT_FALSE(refused.Ok);
            EXPECT_EQ(refused.MessageKey, "CouponCodeInvalid");
            EXPECT_EQ(refused.Message,
                      "This coupon code cannot be used: the coupon code holds a control character");
            auto loaded = Loaded();
            loaded->Values().Coupon = code;
            loaded->Values().CouponEnabled = enabled;
            EXPECT_EQ(loaded->Save().MessageKey, "CouponCodeInvalid");
            EXPECT_EQ(Tree(m_data), before);
        }
    }
    auto editor = Loaded();
    editor->Values().Coupon = "K\xC3\x84SE 42";
    ASSERT_TRUE(editor->Save().Ok);
    EXPECT_EQ(Loaded()->Values().Coupon, "K\xC3\x84SE 42");
}

TEST_F(CouponCampaignEditorTest, MissingBitmapIsReportedAfterEverythingElseLoaded) {
    // Situation: a saved campaign whose promo_original.bmp was deleted, and one
    // whose bitmap is damaged.
    // Expected: Load succeeds with every value; ImageError names the file and
    // the system's reason (or the decoder's); there is no image.
    CreateSpring(ImageFile("red.jpg", qRgb(255, 0, 0)));
    const std::string bitmap = Folder() + "promo_original.bmp";
    std::filesystem::remove(bitmap);
    auto editor = Loaded();
    EXPECT_EQ(editor->ImageError(), "cannot read " + bitmap + ": No such file or directory");
    EXPECT_TRUE(editor->Image().isNull());
    EXPECT_EQ(editor->Values().MessageName, "Spring");
    EXPECT_EQ(editor->Values().Coupon, "AB12CD");
    EXPECT_EQ(editor->Placement(), CouponPlacement::Top);

    Spill(bitmap, "BM but not really a bitmap");
    editor = Loaded();
    EXPECT_EQ(editor->ImageError().rfind(bitmap + ": ", 0), 0u) << editor->ImageError();
    EXPECT_TRUE(editor->Image().isNull());
    EXPECT_EQ(editor->Values().MessageText, "Spring Sale");
}

TEST_F(CouponCampaignEditorTest, UnreadableImageIsReportedAndThePreviousOneKept) {
    // Situation: a green image chosen, then garbage named .jpg, then a file
    // that does not exist.
    // Expected: libjpeg's message for the garbage and the system's for the
    // missing file; the green image stays.
    auto editor = Editor();
    ASSERT_EQ(editor->ChooseImage(ImageFile("green.jpg", qRgb(0, 255, 0), 30, 20)).Message, "");
    const std::string garbage = m_temp.Path() + "src/garbage.jpg";
    Spill(garbage, "garbage, not a picture");
    EXPECT_EQ(editor->ChooseImage(garbage).Message,
              garbage + ": " + LibjpegMessage(JERR_NO_SOI, 'g', 'a'));
    EXPECT_EQ(editor->ChooseImage(m_temp.Path() + "src/none.bmp").Message,
              "cannot read " + m_temp.Path() + "src/none.bmp: No such file or directory");
    ASSERT_EQ(editor->Image().size(), QSize(30, 20));
    ExpectColorNear(editor->Image().pixel(15, 10), qRgb(0, 255, 0));
}

TEST_F(CouponCampaignEditorTest, PictureThatCannotBeWrittenKeepsTheOldCampaign) {
    // Situation: Spring renamed to Autumn while something that is not a file
    // (a folder) is in the way of Autumn.jpg.
    // Expected: "CampaignSaveFailed" naming Autumn.jpg; the record and
    // Spring.jpg as they were, so the campaign still sends its old picture.
    CreateSpring();
    std::filesystem::create_directory(Folder() + "Autumn.jpg");
    const std::string record = Slurp(Folder() + "settings.dat");
    const std::string spring = Slurp(Folder() + "Spring.jpg");
    auto editor = Loaded();
    editor->Values().MessageName = "Autumn";
    const Result result = editor->Save();
    EXPECT_FALSE(result.Ok);
    EXPECT_EQ(result.MessageKey, "CampaignSaveFailed");
    EXPECT_NE(result.Message.find(Folder() + "Autumn.jpg"), std::string::npos) << result.Message;
    EXPECT_EQ(Slurp(Folder() + "settings.dat"), record);
    EXPECT_EQ(Slurp(Folder() + "Spring.jpg"), spring);
    EXPECT_EQ(editor->StoredFileName(), "Spring.jpg");
}

TEST_F(CouponCampaignEditorTest, StoredNameThatIsNotAPictureIsNeverDeleted) {
    // Situation: records edited by hand to name "accepted.dat" and
    // "../outside.jpg" as the picture, then the promotion renamed.
    // Expected: the save succeeds and neither file is deleted.
    CreateSpring();
    Spill(Folder() + "accepted.dat", "[(00:11:22:33:44:55)]\r\n");
    Spill(m_data + "outside.jpg", "keep");
    const std::string record = Slurp(Folder() + "settings.dat");
    for (const std::string stored : {"accepted.dat", "../outside.jpg"}) {
        std::string edited = record;
        const std::size_t at = edited.find("FileName=Spring.jpg");
        ASSERT_NE(at, std::string::npos);
        edited.replace(at, 19, "FileName=" + stored);
        Spill(Folder() + "settings.dat", edited);
        auto editor = Loaded();
        EXPECT_EQ(editor->StoredFileName(), stored);
        editor->Values().MessageName = "Summer";
        const Result result = editor->Save();
        EXPECT_TRUE(result.Ok) << result.Message;
    }
    EXPECT_EQ(Slurp(Folder() + "accepted.dat"), "[(00:11:22:33:44:55)]\r\n");
    EXPECT_EQ(Slurp(m_data + "outside.jpg"), "keep");
}

// ---- A code per device -------------------------------------------------------------

TEST_F(CouponCampaignEditorTest, ADevicesPictureIsTheEditorsPictureWithItsCode) {
    // Situation: Spring saved with a red image; the device picture for code
    // ZZ99ZZ rendered on another thread from the stored campaign, then the
    // campaign saved in the editor with ZZ99ZZ as its own code.
    // Expected: the two JPEG files are byte for byte the same; another code
    // gives another picture.
    CreateSpring(ImageFile("red.jpg", qRgb(255, 0, 0)));
    const CampaignRecord stored = m_store->ReadRecord(kName);
    const std::string first = m_temp.Path() + "first.jpg";
    const std::string second = m_temp.Path() + "second.jpg";
    Result renderedFirst = Result::Failure("not run");
    Result renderedSecond = Result::Failure("not run");
    std::thread worker([&] {
        renderedFirst = RenderDeviceCoupon({Folder(), stored, "ZZ99ZZ", first});
        renderedSecond = RenderDeviceCoupon({Folder(), stored, "QQ11QQ", second});
    });
    worker.join();
    ASSERT_TRUE(renderedFirst.Ok) << renderedFirst.Message;
    ASSERT_TRUE(renderedSecond.Ok) << renderedSecond.Message;

    auto editor = Loaded();
    editor->Values().Coupon = "ZZ99ZZ";
    ASSERT_TRUE(editor->Save().Ok);
    EXPECT_EQ(Slurp(first), Slurp(Folder() + "Spring.jpg"));
    EXPECT_NE(Slurp(first), Slurp(second));
}

TEST_F(CouponCampaignEditorTest, ACodePerDeviceIsSavedLoadedAndSwitchedOff) {
    // Situation: Spring saved with a code per device on, loaded, switched off
    // and saved again.
    // Expected: "CouponPerDevice=1" after the coupon keys, read back on; then
    // "0" once switched off (a record without the key is checked above).
    CreateSpring();
    auto editor = Loaded();
    editor->Values().CouponPerDevice = true;
    ASSERT_TRUE(editor->Save().Ok);
    EXPECT_NE(Slurp(Folder() + "settings.dat").find("FontStyle=0\r\nCouponPerDevice=1\r\n"),
              std::string::npos);
    editor = Loaded();
    EXPECT_TRUE(editor->Values().CouponPerDevice);
    EXPECT_TRUE(m_store->ReadRecord(kName).HandsOutDeviceCodes());
    editor->Values().CouponPerDevice = false;
    ASSERT_TRUE(editor->Save().Ok);
    EXPECT_NE(Slurp(Folder() + "settings.dat").find("CouponPerDevice=0\r\n"), std::string::npos);
    EXPECT_FALSE(Loaded()->Values().CouponPerDevice);
}

}  // namespace
}  // namespace kavri
