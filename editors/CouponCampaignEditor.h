#pragma once

#include "app/CampaignEditor.h"
#include "editors/CouponCode.h"
#include "editors/CouponPicture.h"

#include <QImage>

#include <optional>
#include <string>
#include <string_view>

namespace kavri {

// The coupon-based campaign editor without its window: a campaign that pushes
// one picture, the operator's image with the promotion message and, when the
// coupon is on, the coupon code drawn over it. The fields live in Values():
// MessageName is the promotion name (and the picture's file name without
// ".jpg"), MessageText the promotion message, Coupon and CouponEnabled the code
// and its switch, Top/Middle/Bottom and Left/Center/Right the placement and
// alignment (one of each three set), FontName, FontSize, FontColor and
// FontStyle the text font in its stored form. The chosen image is held in
// memory only; it reaches the campaign folder through the files made at OK.
//
// Checks at OK, after the name checks: the promotion name is not empty
// ("StrMessageNameRequired") and it, with ".jpg", can be a file name in the
// campaign folder other than the campaign's own files ("FileNameInvalid"); the
// coupon code holds no control character ("CouponCodeInvalid"), since the
// record would store such a code with blanks that a coupon check never
// matches.
//
// Files at OK, before the record: "promo_original.bmp" (the image alone,
// 176 x 220, kept to show the image again when the campaign is edited) and the
// picture "<promotion name>.jpg" (176 x 220, baseline colour JPEG of quality
// 90), each written whole to a temporary file and renamed over the old one, so
// a failed write leaves the previous file in place; failures are refused with
// "CampaignSaveFailed" and the path and reason. A picture under an earlier
// promotion name is deleted only once the record names the new one, so the
// record never names a file that is gone.
//
// Lives on the main thread for one editor use (QtGui work); throws only
// std::bad_alloc, and std::random_device's exception from the constructor when
// the system has no entropy source.
class CouponCampaignEditor final : public CampaignEditor {
public:
    static constexpr std::string_view kOriginalFile = "promo_original.bmp";
    static constexpr int kJpegQuality = 90;

    CouponCampaignEditor(CampaignStore& store, const DateTimeClock& clock, TextLookup texts = {});

    // Sets one of the three flags and clears the other two.
    void SetPlacement(CouponPlacement placement);
    void SetAlignment(CouponAlignment alignment);
    // What the flags say. Of several set flags the last of Top, Middle, Bottom
    // (Left, Center, Right) counts, as when they are loaded one after another
    // into buttons of which one is always down; none set reads as Middle
    // (Center).
    CouponPlacement Placement() const;
    CouponAlignment Alignment() const;

    // Loads the image file at path (JPEG or BMP); a refusal gives the reason,
    // with the decoder's own message, and the previous image stays.
    Result ChooseImage(std::string_view path);
    const QImage& Image() const { return m_image; }

    // Chooses "CouponPerDevice" for the next Save, also over the value a Load
    // in between reads (so a command can set it before the campaign loads).
    void SetCouponPerDeviceChoice(bool on) {
        m_perDeviceChoice = on;
        Values().CouponPerDevice = on;
    }
    // Puts a new random code into Values().Coupon.
    void GenerateCoupon();

    // The text drawn: the message, then CR LF and the code when the coupon is
    // on and the code is not empty (no CR LF before it when the message is
    // empty).
    std::string PreviewText() const;
    // The 120 x 150 preview of the picture.
    QImage Preview() const;

    // Why "promo_original.bmp" could not be shown after Load; empty when it
    // was (and for a new campaign).
    const std::string& ImageError() const { return m_imageError; }
    // "FileName" as stored when the campaign was loaded (after a successful
    // OK, the name written then); empty for a new campaign.
    const std::string& StoredFileName() const { return m_storedFileName; }

private:
    Result CheckOwn() override;
    void LoadOwn(const CampaignRecord& stored) override;
    Result PlaceContent(const std::string& folder) override;
    void AppendOwnEntries(CampaignRecord::Entries& entries) const override;
    Result AfterRecord(const std::string& folder) override;

    std::string PictureFileName() const;
    CouponPicture Picture() const;

    CouponCodeGenerator m_codes;
    QImage m_image;
    std::string m_storedFileName;
    // "CouponPerDevice" of the record as stored, so switching it off is saved.
    bool m_storedPerDevice = false;
    std::optional<bool> m_perDeviceChoice;
    std::string m_imageError;
};

}  // namespace kavri
