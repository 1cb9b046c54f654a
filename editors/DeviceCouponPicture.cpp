#include "editors/DeviceCouponPicture.h"

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <utility>

#include "app/CampaignRecord.h"
#include "editors/CouponCampaignEditor.h"
#include "editors/JpegFile.h"

namespace kavri {

CouponPlacement CouponPlacementOf(const CampaignRecord& record) {
    if (record.Bottom) {
        return CouponPlacement::Bottom;
    }
    if (record.Middle || !record.Top) {
        return CouponPlacement::Middle;
    }
    return CouponPlacement::Top;
}

CouponAlignment CouponAlignmentOf(const CampaignRecord& record) {
    if (record.Right) {
        return CouponAlignment::Right;
    }
    if (record.Center || !record.Left) {
        return CouponAlignment::Center;
    }
    return CouponAlignment::Left;
}

CouponPicture CouponPictureOf(const CampaignRecord& record, QImage image, std::string_view code) {
    CouponPicture picture;
    picture.SetImage(std::move(image));
    picture.SetText(CouponPicture::Text(record.MessageText, true, code));
    picture.SetFont(
        CouponFont{record.FontName, record.FontSize, record.FontColor, record.FontStyle});
    picture.SetPlacement(CouponPlacementOf(record));
    picture.SetAlignment(CouponAlignmentOf(record));
    return picture;
}

Result RenderDeviceCoupon(const CouponRenderJob& job) {
    const std::string original =
        job.CampaignFolder + std::string(CouponCampaignEditor::kOriginalFile);
    QImage image;
    std::error_code error;
    // The editor wrote the bitmap at the last OK; without it the text stands
    // on white, as in the editor without an image. A bitmap that exists but
    // does not read is an error: the device would get a different picture.
    if (std::filesystem::exists(original, error)) {
        if (Result read = ReadImageFile(original, image); !read) {
            return read;
        }
    }
    const CouponPicture picture = CouponPictureOf(job.Record, std::move(image), job.Code);
    std::string bytes;
    if (Result encoded = EncodeJpeg(picture.Picture(), CouponCampaignEditor::kJpegQuality, bytes);
        !encoded) {
        return encoded;
    }
    // A plain write, not the atomic replacement of the campaign's files: the
    // picture is new, lives for one push and is made again after a crash, so
    // waiting for the disk (several ms) would buy nothing.
    std::ofstream file(job.OutputPath, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) {
        std::error_code removeError;
        std::filesystem::remove(job.OutputPath, removeError);
        return Result::Failure(job.OutputPath + ": cannot be written");
    }
    return Result::Success();
}

}  // namespace kavri
