#include "editors/JpegFile.h"

#include <QColor>
#include <QImage>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <jerror.h>
#include <jpeglib.h>
#include <sys/stat.h>

#include "app/AppTestFolder.h"

namespace kavri {
namespace {

using test::Slurp;
using test::Spill;

// The readers as the cases check them: the image (null on failure), the
// refusal's message in error.
QImage JpegImage(std::string_view bytes, std::string& error, const ImageLimits& limits = {}) {
    QImage image;
    error = DecodeJpeg(bytes, image, limits).Message;
    return image;
}
QImage BmpImage(std::string_view bytes, std::string& error, const ImageLimits& limits = {}) {
    QImage image;
    error = DecodeBmp(bytes, image, limits).Message;
    return image;
}
QImage FileImage(const std::string& path, std::string& error, const ImageLimits& limits = {}) {
    QImage image;
    error = ReadImageFile(path, image, limits).Message;
    return image;
}

// libjpeg's own text for an error code, as its decoder reports it.
std::string LibjpegMessage(int code, int first = 0, int second = 0) {
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

// A JPEG made directly with libjpeg, for the kinds the program never writes
// itself (grey, CMYK, progressive). samples holds components bytes a pixel.
std::string Encode(int width, int height, J_COLOR_SPACE space, int components,
                   const std::vector<unsigned char>& samples, bool progressive = false) {
    jpeg_error_mgr errors{};
    jpeg_compress_struct cinfo{};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_CreateCompress(&cinfo, JPEG_LIB_VERSION, sizeof cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = components;
    cinfo.in_color_space = space;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 95, TRUE);
    if (progressive) {
        jpeg_simple_progression(&cinfo);
    }
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<unsigned char*>(
            samples.data() + static_cast<std::size_t>(cinfo.next_scanline) * width * components);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::string bytes(reinterpret_cast<const char*>(buffer), size);
    std::free(buffer);
    return bytes;
}

std::vector<unsigned char> Filled(int pixels, std::vector<unsigned char> pixel) {
    std::vector<unsigned char> samples;
    for (int i = 0; i < pixels; ++i) {
        samples.insert(samples.end(), pixel.begin(), pixel.end());
    }
    return samples;
}

// Four quadrants: red, green / blue, white.
QImage Quadrants(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool right = x >= width / 2;
            const bool bottom = y >= height / 2;
            image.setPixel(x, y,
                           !bottom ? (right ? qRgb(0, 255, 0) : qRgb(255, 0, 0))
                                   : (right ? qRgb(255, 255, 255) : qRgb(0, 0, 255)));
        }
    }
    return image;
}

void ExpectColorNear(const QImage& image, int x, int y, QRgb expected, int tolerance = 12) {
    const QRgb got = image.pixel(x, y);
    EXPECT_NEAR(qRed(got), qRed(expected), tolerance) << "at " << x << "," << y;
    EXPECT_NEAR(qGreen(got), qGreen(expected), tolerance) << "at " << x << "," << y;
    EXPECT_NEAR(qBlue(got), qBlue(expected), tolerance) << "at " << x << "," << y;
}

// Offset of the first SOF0 marker's payload, or npos.
std::size_t FrameHeader(const std::string& jpeg) {
    const std::size_t at = jpeg.find("\xFF\xC0", 2, 2);
    return at == std::string::npos ? at : at + 4;
}

class JpegFileTest : public ::testing::Test {
protected:
    std::string Path(const std::string& name) const { return m_temp.Path() + name; }

    test::TempFolder m_temp;
};

TEST_F(JpegFileTest, EncodedImageDecodesToTheSameColours) {
    // Situation: a 64 x 48 image of four coloured quadrants through EncodeJpeg
    // and DecodeJpeg.
    // Expected: the same size, and each quadrant's middle in its colour.
    std::string bytes;
    std::string error;
    ASSERT_TRUE(test::Done(EncodeJpeg(Quadrants(64, 48), 90, bytes), error)) << error;
    const QImage decoded = JpegImage(bytes, error);
    ASSERT_FALSE(decoded.isNull()) << error;
    EXPECT_EQ(decoded.size(), QSize(64, 48));
    ExpectColorNear(decoded, 16, 12, qRgb(255, 0, 0));
    ExpectColorNear(decoded, 48, 12, qRgb(0, 255, 0));
    ExpectColorNear(decoded, 16, 36, qRgb(0, 0, 255));
    ExpectColorNear(decoded, 48, 36, qRgb(255, 255, 255));
}

TEST_F(JpegFileTest, GreyAndCmykFilesDecodeToRgb) {
    // Situation: a grey JPEG, and an Adobe CMYK JPEG of pure red (stored with
    // inverted inks, as Adobe's programs write it: C 255, M 0, Y 0, K 255).
    // Expected: grey RGB pixels, and red.
    std::string error;
    const QImage grey = JpegImage(Encode(16, 16, JCS_GRAYSCALE, 1, Filled(256, {100})), error);
    ASSERT_FALSE(grey.isNull()) << error;
    ExpectColorNear(grey, 8, 8, qRgb(100, 100, 100), 3);

    const QImage red = JpegImage(Encode(16, 16, JCS_CMYK, 4, Filled(256, {255, 0, 0, 255})), error);
    ASSERT_FALSE(red.isNull()) << error;
    ExpectColorNear(red, 8, 8, qRgb(255, 0, 0), 6);
}

TEST_F(JpegFileTest, ProgressiveFileDecodesWithinItsLimits) {
    // Situation: a progressive JPEG (libjpeg's simple progression has 10
    // scans) read with the default limits, with at most 3 scans, and with
    // 64 KiB of decoder memory where the whole image needs more.
    // Expected: decoded; refused for its scans; refused with libjpeg's
    // message for the memory.
    const std::string bytes = Encode(300, 300, JCS_RGB, 3, Filled(300 * 300, {10, 200, 30}), true);
    std::string error;
    const QImage image = JpegImage(bytes, error);
    ASSERT_FALSE(image.isNull()) << error;
    ExpectColorNear(image, 150, 150, qRgb(10, 200, 30));

    ImageLimits fewScans;
    fewScans.MaxScans = 3;
    EXPECT_TRUE(JpegImage(bytes, error, fewScans).isNull());
    EXPECT_EQ(error, "JPEG file has more than 3 scans");

    ImageLimits littleMemory;
    littleMemory.MaxDecoderMemory = 64 * 1024;
    EXPECT_TRUE(JpegImage(bytes, error, littleMemory).isNull());
    EXPECT_EQ(error, LibjpegMessage(JERR_NO_BACKING_STORE));
}

TEST_F(JpegFileTest, DeclaredSizeBeyondTheLimitsIsRefusedBeforeDecoding) {
    // Situation: a small JPEG whose frame header is changed to claim
    // 20001 x 16 pixels, then 15000 x 15000 (225 M pixels).
    // Expected: both refused with the declared size named.
    std::string error;
    std::string bytes;
    ASSERT_TRUE(test::Done(EncodeJpeg(Quadrants(16, 16), 90, bytes), error)) << error;
    const std::size_t frame = FrameHeader(bytes);
    ASSERT_NE(frame, std::string::npos);
    auto declare = [&](int width, int height) {
        std::string patched = bytes;
        patched[frame + 1] = static_cast<char>(height >> 8);
        patched[frame + 2] = static_cast<char>(height & 0xFF);
        patched[frame + 3] = static_cast<char>(width >> 8);
        patched[frame + 4] = static_cast<char>(width & 0xFF);
        return patched;
    };
    EXPECT_TRUE(JpegImage(declare(20001, 16), error).isNull());
    EXPECT_NE(error.find("20001 x 16"), std::string::npos) << error;
    EXPECT_TRUE(JpegImage(declare(15000, 15000), error).isNull());
    EXPECT_NE(error.find("15000 x 15000"), std::string::npos) << error;
    // Unchanged, the same bytes decode.
    EXPECT_FALSE(JpegImage(bytes, error).isNull()) << error;
}

TEST_F(JpegFileTest, LargeImageIsDecodedAtAReducedScale) {
    // Situation: a 100 x 100 JPEG with at most 1000 decoded pixels allowed.
    // Expected: decoded at a quarter, 25 x 25 (a half would be 2500 pixels),
    // colours intact.
    std::string error;
    std::string bytes;
    ASSERT_TRUE(test::Done(EncodeJpeg(Quadrants(100, 100), 90, bytes), error)) << error;
    ImageLimits limits;
    limits.MaxDecodedPixels = 1000;
    const QImage image = JpegImage(bytes, error, limits);
    ASSERT_FALSE(image.isNull()) << error;
    EXPECT_EQ(image.size(), QSize(25, 25));
    ExpectColorNear(image, 5, 5, qRgb(255, 0, 0));
    ExpectColorNear(image, 20, 20, qRgb(255, 255, 255));
}

TEST_F(JpegFileTest, DamagedJpegBytesGiveLibjpegsMessage) {
    // Situation: text bytes, no bytes, and a JPEG cut off half-way through
    // its compressed data.
    // Expected: libjpeg's messages for the first two; the cut-off file still
    // decodes to its full size (libjpeg only warns about it).
    std::string error;
    EXPECT_TRUE(JpegImage("garbage!", error).isNull());
    EXPECT_EQ(error, LibjpegMessage(JERR_NO_SOI, 'g', 'a'));
    EXPECT_TRUE(JpegImage("", error).isNull());
    EXPECT_EQ(error, LibjpegMessage(JERR_INPUT_EMPTY));

    std::string bytes;
    ASSERT_TRUE(test::Done(EncodeJpeg(Quadrants(64, 64), 90, bytes), error)) << error;
    const std::size_t scan = bytes.find("\xFF\xDA", 2, 2);
    ASSERT_NE(scan, std::string::npos);
    const QImage cut =
        JpegImage(std::string_view(bytes).substr(0, scan + (bytes.size() - scan) / 2), error);
    ASSERT_FALSE(cut.isNull()) << error;
    EXPECT_EQ(cut.size(), QSize(64, 64));
}

TEST_F(JpegFileTest, ReadImageFileTellsKindsApartByContentThenName) {
    // Situation: a JPEG named .bmp, a BMP named .jpg, garbage named .jpg,
    // garbage named .bmp, and a text file.
    // Expected: the first two read by their content; garbage reported by the
    // decoder its name points to, after the path; the text file refused.
    std::string error;
    std::string jpeg;
    ASSERT_TRUE(test::Done(EncodeJpeg(Quadrants(8, 8), 90, jpeg), error)) << error;
    Spill(Path("photo.bmp"), jpeg);
    QImage image = FileImage(Path("photo.bmp"), error);
    ASSERT_FALSE(image.isNull()) << error;
    EXPECT_EQ(image.size(), QSize(8, 8));

    ASSERT_TRUE(test::Done(WriteBmpFile(Path("picture.bmp"), Quadrants(6, 4)), error)) << error;
    std::filesystem::rename(Path("picture.bmp"), Path("picture.JPG"));
    image = FileImage(Path("picture.JPG"), error);
    ASSERT_FALSE(image.isNull()) << error;
    EXPECT_EQ(image.size(), QSize(6, 4));

    Spill(Path("bad.jpg"), "garbage!");
    EXPECT_TRUE(FileImage(Path("bad.jpg"), error).isNull());
    EXPECT_EQ(error, Path("bad.jpg") + ": " + LibjpegMessage(JERR_NO_SOI, 'g', 'a'));

    Spill(Path("bad.bmp"), "garbage!");
    EXPECT_TRUE(FileImage(Path("bad.bmp"), error).isNull());
    EXPECT_EQ(error.rfind(Path("bad.bmp") + ": ", 0), 0u) << error;
    EXPECT_GT(error.size(), Path("bad.bmp").size() + 2) << error;

    Spill(Path("notes.txt"), "garbage!");
    EXPECT_TRUE(FileImage(Path("notes.txt"), error).isNull());
    EXPECT_EQ(error, Path("notes.txt") + ": not a JPEG or BMP image");
}

TEST_F(JpegFileTest, FilesThatCannotBeReadAreReportedWithTheSystemReason) {
    // Situation: a missing file, a folder, a FIFO (reading one would block
    // forever), and a file over the size limit.
    // Expected: each refused with the path and the reason, nothing blocks.
    std::string error;
    EXPECT_TRUE(FileImage(Path("missing.jpg"), error).isNull());
    EXPECT_EQ(error, "cannot read " + Path("missing.jpg") + ": No such file or directory");

    std::filesystem::create_directory(Path("folder.jpg"));
    EXPECT_TRUE(FileImage(Path("folder.jpg"), error).isNull());
    EXPECT_EQ(error, "cannot read " + Path("folder.jpg") + ": not a regular file");

    ASSERT_EQ(::mkfifo(Path("pipe.jpg").c_str(), 0600), 0);
    EXPECT_TRUE(FileImage(Path("pipe.jpg"), error).isNull());
    EXPECT_EQ(error, "cannot read " + Path("pipe.jpg") + ": not a regular file");

    Spill(Path("big.jpg"), std::string(2000, 'x'));
    ImageLimits limits;
    limits.MaxFileBytes = 1999;
    EXPECT_TRUE(FileImage(Path("big.jpg"), error, limits).isNull());
    EXPECT_EQ(error, "cannot read " + Path("big.jpg") + ": larger than 1999 bytes");
}

TEST_F(JpegFileTest, BmpIsWrittenAs24BitAndReadBackExactly) {
    // Situation: a quadrant image written with WriteBmpFile and read back.
    // Expected: a 24-bit BMP ("BM", bit count 24) with every pixel unchanged.
    std::string error;
    const QImage original = Quadrants(10, 6);
    ASSERT_TRUE(test::Done(WriteBmpFile(Path("q.bmp"), original), error)) << error;
    const std::string bytes = Slurp(Path("q.bmp"));
    ASSERT_GT(bytes.size(), 30u);
    EXPECT_EQ(bytes.substr(0, 2), "BM");
    EXPECT_EQ(static_cast<unsigned char>(bytes[28]), 24);
    const QImage read = FileImage(Path("q.bmp"), error);
    ASSERT_FALSE(read.isNull()) << error;
    EXPECT_EQ(read.convertToFormat(QImage::Format_RGB32), original);
}

TEST_F(JpegFileTest, BmpDeclaringAHugeSizeIsRefused) {
    // Situation: a real BMP whose header is changed to claim 30000 x 6 pixels.
    // Expected: refused with the declared size, before Qt decodes it.
    std::string error;
    ASSERT_TRUE(test::Done(WriteBmpFile(Path("q.bmp"), Quadrants(10, 6)), error)) << error;
    std::string bytes = Slurp(Path("q.bmp"));
    bytes[18] = static_cast<char>(30000 & 0xFF);
    bytes[19] = static_cast<char>(30000 >> 8);
    EXPECT_TRUE(BmpImage(bytes, error).isNull());
    EXPECT_NE(error.find("30000 x 6"), std::string::npos) << error;
}

TEST_F(JpegFileTest, FailedWriteNamesThePathAndLeavesTheOldFile) {
    // Situation: writing into a folder that does not exist, and over an
    // existing JPEG with a null image.
    // Expected: false with the path and the reason; the old file unchanged.
    std::string error;
    EXPECT_FALSE(test::Done(WriteJpegFile(Path("none/x.jpg"), Quadrants(8, 8), 90), error));
    EXPECT_NE(error.find(Path("none/")), std::string::npos) << error;
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;

    ASSERT_TRUE(test::Done(WriteJpegFile(Path("x.jpg"), Quadrants(8, 8), 90), error)) << error;
    const std::string before = Slurp(Path("x.jpg"));
    EXPECT_FALSE(test::Done(WriteJpegFile(Path("x.jpg"), QImage(), 90), error));
    EXPECT_EQ(error.rfind(Path("x.jpg") + ": ", 0), 0u) << error;
    EXPECT_EQ(Slurp(Path("x.jpg")), before);
}

}  // namespace
}  // namespace kavri
