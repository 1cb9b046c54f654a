#include "editors/JpegFile.h"

#include "app/AtomicFile.h"
#include "platform/RegularFile.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>
#include <QImageWriter>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>

#include <jerror.h>
#include <jpeglib.h>

namespace kavri {

namespace {

// libjpeg reports a fatal error by calling error_exit, which must not return.
// ErrorExit jumps back to the setjmp of the step that called into libjpeg. The
// steps that call setjmp (the member functions of Decompressor and Compressor
// below) hold no objects with destructors, so the jump skips nothing but
// libjpeg's own C frames, and no C++ exception ever passes through those.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    // The first warning, kept instead of printed.
    char warning[JMSG_LENGTH_MAX];
};

ErrorManager& ErrorsOf(j_common_ptr cinfo) {
    return *reinterpret_cast<ErrorManager*>(cinfo->err);
}

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
    ErrorManager& errors = ErrorsOf(cinfo);
    errors.pub.format_message(cinfo, errors.message);
    std::longjmp(errors.jump, 1);
}

void KeepWarning(j_common_ptr cinfo) {
    ErrorManager& errors = ErrorsOf(cinfo);
    if (errors.warning[0] == '\0') {
        errors.pub.format_message(cinfo, errors.warning);
    }
}

void UseErrorManager(ErrorManager& errors) {
    jpeg_std_error(&errors.pub);
    errors.pub.error_exit = ErrorExit;
    errors.pub.output_message = KeepWarning;
    errors.message[0] = '\0';
    errors.warning[0] = '\0';
}

// Raises libjpeg's own error code, as its ERREXIT macro does.
[[noreturn]] void RaiseError(j_common_ptr cinfo, int code) {
    cinfo->err->msg_code = code;
    cinfo->err->error_exit(cinfo);
    std::abort();  // error_exit never returns
}

// Stops a progressive file with too many scans; libjpeg calls the monitor
// while it reads the scans.
struct ScanLimit {
    jpeg_progress_mgr pub;
    int maxScans;
};

void CheckScans(j_common_ptr cinfo) {
    if (!cinfo->is_decompressor) {
        return;
    }
    const auto* decompress = reinterpret_cast<j_decompress_ptr>(cinfo);
    const auto* limit = reinterpret_cast<const ScanLimit*>(cinfo->progress);
    if (decompress->input_scan_number > limit->maxScans) {
        ErrorManager& errors = ErrorsOf(cinfo);
        std::snprintf(errors.message, sizeof errors.message, "JPEG file has more than %d scans",
                      limit->maxScans);
        std::longjmp(errors.jump, 1);
    }
}

// Adobe's CMYK JPEGs store the inks inverted (255 is no ink); others plainly.
void CmykToRgb(const JSAMPLE* cmyk, unsigned char* rgb, JDIMENSION width, bool inverted) {
    for (JDIMENSION x = 0; x < width; ++x, cmyk += 4, rgb += 3) {
        const int k = inverted ? cmyk[3] : 255 - cmyk[3];
        for (int i = 0; i < 3; ++i) {
            const int c = inverted ? cmyk[i] : 255 - cmyk[i];
            rgb[i] = static_cast<unsigned char>((c * k + 127) / 255);
        }
    }
}

// One decoding, in steps that each return false with Message() when libjpeg
// gave up. The value-initialised struct makes destroying it safe at any point.
class Decompressor {
public:
    explicit Decompressor(const ImageLimits& limits) {
        UseErrorManager(m_errors);
        m_cinfo.err = &m_errors.pub;
        m_progress.pub.progress_monitor = CheckScans;
        m_progress.maxScans = limits.MaxScans;
        m_maxMemory = limits.MaxDecoderMemory;
    }
    ~Decompressor() { jpeg_destroy_decompress(&m_cinfo); }
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;

    const char* Message() const { return m_errors.message; }
    JDIMENSION Width() const { return m_cinfo.image_width; }
    JDIMENSION Height() const { return m_cinfo.image_height; }
    JDIMENSION OutputWidth() const { return m_cinfo.output_width; }
    JDIMENSION OutputHeight() const { return m_cinfo.output_height; }

    bool ReadHeader(const unsigned char* data, unsigned long size) {
        if (setjmp(m_errors.jump) != 0) {
            return false;
        }
        jpeg_CreateDecompress(&m_cinfo, JPEG_LIB_VERSION, sizeof m_cinfo);
        // Without a backing store, an image that needs more working memory
        // than this is refused instead of allocated.
        m_cinfo.mem->max_memory_to_use = m_maxMemory;
        m_cinfo.progress = &m_progress.pub;
        jpeg_mem_src(&m_cinfo, data, size);
        jpeg_read_header(&m_cinfo, TRUE);
        return true;
    }

    // Decodes at 1/denominator of the size (1, 2, 4 or 8), into RGB.
    bool Start(unsigned denominator) {
        if (setjmp(m_errors.jump) != 0) {
            return false;
        }
        m_cinfo.scale_num = 1;
        m_cinfo.scale_denom = denominator;
        // libjpeg converts grey and YCbCr to RGB itself, but not CMYK.
        const bool cmyk =
            m_cinfo.jpeg_color_space == JCS_CMYK || m_cinfo.jpeg_color_space == JCS_YCCK;
        m_cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
        jpeg_start_decompress(&m_cinfo);
        return true;
    }

    // Fills rows of OutputWidth() RGB triples, stride bytes apart.
    bool ReadRows(unsigned char* bits, std::size_t stride) {
        if (setjmp(m_errors.jump) != 0) {
            return false;
        }
        JSAMPARRAY scratch = nullptr;
        if (m_cinfo.out_color_space == JCS_CMYK) {
            scratch = m_cinfo.mem->alloc_sarray(reinterpret_cast<j_common_ptr>(&m_cinfo),
                                                JPOOL_IMAGE, m_cinfo.output_width * 4, 1);
        }
        while (m_cinfo.output_scanline < m_cinfo.output_height) {
            unsigned char* row = bits + stride * m_cinfo.output_scanline;
            JSAMPROW target = scratch != nullptr ? scratch[0] : row;
            // Reading from memory never suspends; a zero would only repeat.
            if (jpeg_read_scanlines(&m_cinfo, &target, 1) != 1) {
                RaiseError(reinterpret_cast<j_common_ptr>(&m_cinfo), JERR_INPUT_EOF);
            }
            if (scratch != nullptr) {
                CmykToRgb(scratch[0], row, m_cinfo.output_width, m_cinfo.saw_Adobe_marker != 0);
            }
        }
        jpeg_finish_decompress(&m_cinfo);
        return true;
    }

private:
    jpeg_decompress_struct m_cinfo{};
    ErrorManager m_errors{};
    ScanLimit m_progress{};
    long m_maxMemory = 0;
};

// A destination that collects the compressed bytes in one malloc'd buffer,
// freed by the Compressor (libjpeg's own memory destination can leave its
// buffer unreachable when compression fails half-way).
struct MemoryDestination {
    jpeg_destination_mgr pub;
    unsigned char* buffer;
    std::size_t capacity;
    std::size_t size;
};

MemoryDestination& DestinationOf(j_compress_ptr cinfo) {
    return *reinterpret_cast<MemoryDestination*>(cinfo->dest);
}

void InitDestination(j_compress_ptr cinfo) {
    MemoryDestination& dest = DestinationOf(cinfo);
    constexpr std::size_t kFirstSize = 64 * 1024;
    dest.buffer = static_cast<unsigned char*>(std::malloc(kFirstSize));
    if (dest.buffer == nullptr) {
        RaiseError(reinterpret_cast<j_common_ptr>(cinfo), JERR_OUT_OF_MEMORY);
    }
    dest.capacity = kFirstSize;
    dest.pub.next_output_byte = dest.buffer;
    dest.pub.free_in_buffer = kFirstSize;
}

// Called when the buffer is full: doubles it.
boolean GrowDestination(j_compress_ptr cinfo) {
    MemoryDestination& dest = DestinationOf(cinfo);
    const std::size_t grown = dest.capacity * 2;
    auto* bigger = static_cast<unsigned char*>(std::realloc(dest.buffer, grown));
    if (bigger == nullptr) {
        RaiseError(reinterpret_cast<j_common_ptr>(cinfo), JERR_OUT_OF_MEMORY);
    }
    dest.buffer = bigger;
    dest.pub.next_output_byte = bigger + dest.capacity;
    dest.pub.free_in_buffer = grown - dest.capacity;
    dest.capacity = grown;
    return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
    MemoryDestination& dest = DestinationOf(cinfo);
    dest.size = dest.capacity - dest.pub.free_in_buffer;
}

class Compressor {
public:
    Compressor() {
        UseErrorManager(m_errors);
        m_cinfo.err = &m_errors.pub;
        m_dest.pub.init_destination = InitDestination;
        m_dest.pub.empty_output_buffer = GrowDestination;
        m_dest.pub.term_destination = TermDestination;
    }
    ~Compressor() {
        jpeg_destroy_compress(&m_cinfo);
        std::free(m_dest.buffer);
    }
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;

    const char* Message() const { return m_errors.message; }
    const unsigned char* Data() const { return m_dest.buffer; }
    std::size_t Size() const { return m_dest.size; }

    // Compresses rows of width RGB triples, stride bytes apart.
    bool Compress(const unsigned char* bits, std::size_t stride, JDIMENSION width,
                  JDIMENSION height, int quality) {
        if (setjmp(m_errors.jump) != 0) {
            return false;
        }
        jpeg_CreateCompress(&m_cinfo, JPEG_LIB_VERSION, sizeof m_cinfo);
        m_cinfo.dest = &m_dest.pub;
        m_cinfo.image_width = width;
        m_cinfo.image_height = height;
        m_cinfo.input_components = 3;
        m_cinfo.in_color_space = JCS_RGB;
        jpeg_set_defaults(&m_cinfo);
        // Baseline: quantisation values are limited to 8 bits.
        jpeg_set_quality(&m_cinfo, quality, TRUE);
        jpeg_start_compress(&m_cinfo, TRUE);
        while (m_cinfo.next_scanline < m_cinfo.image_height) {
            // libjpeg's row type is not const, but compression only reads it.
            JSAMPROW row = const_cast<unsigned char*>(bits + stride * m_cinfo.next_scanline);
            jpeg_write_scanlines(&m_cinfo, &row, 1);
        }
        jpeg_finish_compress(&m_cinfo);
        return true;
    }

private:
    jpeg_compress_struct m_cinfo{};
    ErrorManager m_errors{};
    MemoryDestination m_dest{};
};

std::string SizeRefusal(std::int64_t width, std::int64_t height, const ImageLimits& limits) {
    if (width > limits.MaxSide || height > limits.MaxSide || width * height > limits.MaxPixels) {
        return "the image is " + std::to_string(width) + " x " + std::to_string(height) +
               " pixels, larger than the " + std::to_string(limits.MaxSide) + " x " +
               std::to_string(limits.MaxSide) + " and " + std::to_string(limits.MaxPixels) +
               " pixels that are read";
    }
    return {};
}

enum class ImageKind { Jpeg, Bmp, Unknown };

ImageKind KindOf(const std::string& path, std::string_view bytes) {
    if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xD8') {
        return ImageKind::Jpeg;
    }
    if (bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M') {
        return ImageKind::Bmp;
    }
    const std::size_t slash = path.rfind('/');
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        return ImageKind::Unknown;
    }
    std::string extension = path.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    if (extension == "jpg" || extension == "jpeg" || extension == "jpe" || extension == "jfif") {
        return ImageKind::Jpeg;
    }
    if (extension == "bmp" || extension == "dib") {
        return ImageKind::Bmp;
    }
    return ImageKind::Unknown;
}

}  // namespace

Result EncodeJpeg(const QImage& image, int quality, std::string& bytes) {
    if (image.isNull()) {
        return Result::Failure("there is no image to compress");
    }
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    if (rgb.isNull()) {
        return Result::Failure("not enough memory to convert the image");
    }
    Compressor compressor;
    if (!compressor.Compress(rgb.constBits(), static_cast<std::size_t>(rgb.bytesPerLine()),
                             static_cast<JDIMENSION>(rgb.width()),
                             static_cast<JDIMENSION>(rgb.height()), quality)) {
        return Result::Failure(compressor.Message());
    }
    bytes.assign(reinterpret_cast<const char*>(compressor.Data()), compressor.Size());
    return Result::Success();
}

Result DecodeJpeg(std::string_view bytes, QImage& image, const ImageLimits& limits) {
    if (static_cast<std::int64_t>(bytes.size()) > limits.MaxFileBytes) {
        return Result::Failure("the file is larger than " + std::to_string(limits.MaxFileBytes) +
                               " bytes");
    }
    Decompressor decoder(limits);
    if (!decoder.ReadHeader(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size())) {
        return Result::Failure(decoder.Message());
    }
    const std::int64_t width = decoder.Width();
    const std::int64_t height = decoder.Height();
    if (std::string why = SizeRefusal(width, height, limits); !why.empty()) {
        return Result::Failure(std::move(why));
    }
    unsigned denominator = 1;
    while (denominator < 8 &&
           ((width + denominator - 1) / denominator) * ((height + denominator - 1) / denominator) >
               limits.MaxDecodedPixels) {
        denominator *= 2;
    }
    if (!decoder.Start(denominator)) {
        return Result::Failure(decoder.Message());
    }
    QImage decoded(static_cast<int>(decoder.OutputWidth()),
                   static_cast<int>(decoder.OutputHeight()), QImage::Format_RGB888);
    if (decoded.isNull()) {
        return Result::Failure("not enough memory for a " + std::to_string(decoder.OutputWidth()) +
                               " x " + std::to_string(decoder.OutputHeight()) + " image");
    }
    if (!decoder.ReadRows(decoded.bits(), static_cast<std::size_t>(decoded.bytesPerLine()))) {
        return Result::Failure(decoder.Message());
    }
    image = std::move(decoded);
    return Result::Success();
}

Result DecodeBmp(std::string_view bytes, QImage& image, const ImageLimits& limits) {
    if (static_cast<std::int64_t>(bytes.size()) > limits.MaxFileBytes) {
        return Result::Failure("the file is larger than " + std::to_string(limits.MaxFileBytes) +
                               " bytes");
    }
    QByteArray data = QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "bmp");
    // The declared size comes from the header alone; refuse before decoding.
    if (const QSize size = reader.size(); size.isValid()) {
        if (std::string why = SizeRefusal(size.width(), size.height(), limits); !why.empty()) {
            return Result::Failure(std::move(why));
        }
    }
    QImage decoded = reader.read();
    if (decoded.isNull()) {
        return Result::Failure(reader.errorString().toStdString());
    }
    image = std::move(decoded);
    return Result::Success();
}

Result ReadImageFile(const std::string& path, QImage& image, const ImageLimits& limits) {
    std::string bytes;
    std::string error;
    if (!ReadRegularFile(path, static_cast<std::size_t>(limits.MaxFileBytes), bytes, error)) {
        return Result::Failure(std::move(error));
    }
    Result decoded = Result::Success();
    switch (KindOf(path, bytes)) {
        case ImageKind::Jpeg:
            decoded = DecodeJpeg(bytes, image, limits);
            break;
        case ImageKind::Bmp:
            decoded = DecodeBmp(bytes, image, limits);
            break;
        case ImageKind::Unknown:
            return Result::Failure(path + ": not a JPEG or BMP image");
    }
    if (!decoded) {
        return Result::Failure(path + ": " + decoded.Message);
    }
    return decoded;
}

Result WriteJpegFile(const std::string& path, const QImage& image, int quality) {
    std::string bytes;
    if (Result encoded = EncodeJpeg(image, quality, bytes); !encoded) {
        return Result::Failure(path + ": " + encoded.Message);
    }
    return WriteFileAtomically(path, bytes);
}

Result WriteBmpFile(const std::string& path, const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "bmp");
    if (!writer.write(image.convertToFormat(QImage::Format_RGB32))) {
        return Result::Failure(path + ": " + writer.errorString().toStdString());
    }
    return WriteFileAtomically(
        path, std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

}  // namespace kavri
