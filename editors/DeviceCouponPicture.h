#pragma once

#include <string_view>

#include <QImage>

#include "app/DeviceCoupons.h"
#include "app/Result.h"
#include "editors/CouponPicture.h"

namespace kavri {

struct CampaignRecord;

// The coupon picture of one device: the campaign's stored layout (image,
// promotion message, font, placement, alignment) with the device's own code,
// exactly as the coupon editor lays out its preview and picture.
//
// Free functions; any thread once a QGuiApplication exists (fonts and QImage
// painting need one; no QPixmap is used). Throw only std::bad_alloc.

// Placement and alignment of the stored flags: Bottom, else Middle, else Top
// when set (nothing set: middle); Right, else Center, else Left (nothing set:
// centre).
CouponPlacement CouponPlacementOf(const CampaignRecord& record);
CouponAlignment CouponAlignmentOf(const CampaignRecord& record);

// The picture of record over image with code as its coupon code (the
// campaign's own Coupon is not used).
CouponPicture CouponPictureOf(const CampaignRecord& record, QImage image, std::string_view code);

// Reads the campaign's "promo_original.bmp" (a missing one gives a picture
// on white, as the editor renders it), then writes the 176 x 220 picture with
// job.Code as a JPEG of quality 90 to job.OutputPath. Fits CouponRenderer.
Result RenderDeviceCoupon(const CouponRenderJob& job);

}  // namespace kavri
