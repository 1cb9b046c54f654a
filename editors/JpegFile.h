#pragma once

#include "app/Result.h"

#include <QImage>

#include <cstdint>
#include <string>
#include <string_view>

namespace kavri {

// Bounds on the images read from files that the operator picks or that lie in
// a campaign folder. Such files may be damaged or hostile, so nothing is
// decoded whose declared size exceeds them.
struct ImageLimits {
    // Files larger than this are not read.
    std::int64_t MaxFileBytes = std::int64_t{128} << 20;
    // Declared width or height.
    int MaxSide = 20000;
    // Declared width times height.
    std::int64_t MaxPixels = 100'000'000;
    // A JPEG larger than this is decoded at 1/2, 1/4 or 1/8 of its size (the
    // decoder does this cheaply while decoding), the smallest reduction that
    // fits. The image is only ever shown and rendered at a few hundred pixels,
    // so nothing visible is lost, and the decoded image stays small.
    std::int64_t MaxDecodedPixels = 16'000'000;
    // Working memory of the JPEG decoder for images it must hold whole
    // (progressive and multi-scan files); a file needing more is refused.
    long MaxDecoderMemory = 512L << 20;
    // Scans of one progressive JPEG; a file with thousands of tiny scans would
    // otherwise keep the decoder busy for minutes.
    int MaxScans = 500;
};

// Reading and writing the coupon campaign's image files: JPEG through libjpeg,
// BMP through QImageReader and QImage's BMP writer. Files are written whole
// through a temporary file in the same folder and a rename, so a failed write
// leaves the old file (or none), never half a picture.
//
// Free functions; callable from any thread once a QGuiApplication exists (Qt
// image handling needs one). Nothing throws except std::bad_alloc: a failure
// is refused with a one-line reason, and the image out-parameter is then left
// as it was.

// Compresses image as a baseline colour JPEG (RGB input, three components) at
// quality (1-100), every other setting being libjpeg's default.
Result EncodeJpeg(const QImage& image, int quality, std::string& bytes);

// Decodes JPEG bytes into an RGB888 image. A file that libjpeg cannot read is
// reported with libjpeg's own message. Damage that libjpeg only warns about
// (a truncated file) still gives an image, as far as it could be decoded.
Result DecodeJpeg(std::string_view bytes, QImage& image, const ImageLimits& limits = {});

// Decodes BMP bytes; errors are QImageReader's.
Result DecodeBmp(std::string_view bytes, QImage& image, const ImageLimits& limits = {});

// Reads a JPEG or BMP file. The kind comes from the file's first bytes; a file
// that starts like neither is decoded as its extension says (".jpg", ".jpeg",
// ".jpe", ".jfif" as JPEG, ".bmp", ".dib" as BMP), so that a damaged file is
// reported by its decoder; any other file is refused. Errors start with path.
Result ReadImageFile(const std::string& path, QImage& image, const ImageLimits& limits = {});

// EncodeJpeg, then replaces the file at path.
Result WriteJpegFile(const std::string& path, const QImage& image, int quality);

// Writes image as a 24-bit BMP, replacing the file at path.
Result WriteBmpFile(const std::string& path, const QImage& image);

}  // namespace kavri
