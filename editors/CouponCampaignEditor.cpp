#include "editors/CouponCampaignEditor.h"

#include "app/CampaignStore.h"
#include "app/DataFolder.h"
#include "editors/DeviceCouponPicture.h"
#include "editors/JpegFile.h"

#include <sys/stat.h>
#include <unistd.h>

namespace kavri {

namespace {

constexpr std::string_view kPictureExtension = ".jpg";

// Only a name this editor could have written is ever deleted: a record edited
// by hand (or damaged) may name any file, such as "settings.dat" or "../x".
bool IsPictureName(std::string_view name) {
    return name.size() > kPictureExtension.size() && name.ends_with(kPictureExtension) &&
           DataFolder::CheckName(name).Ok;
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat first {};
    struct stat second {};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

}  // namespace

CouponCampaignEditor::CouponCampaignEditor(CampaignStore& store, const DateTimeClock& clock,
                                           TextLookup texts)
    : CampaignEditor(store, clock, std::move(texts), kCampaignCouponBased) {
    CampaignRecord& v = Values();
    const CouponFont font;
    v.CouponEnabled = false;
    v.FontName = font.Face;
    v.FontSize = font.Size;
    v.FontColor = font.Color;
    v.FontStyle = font.Style;
    SetPlacement(CouponPlacement::Middle);
    SetAlignment(CouponAlignment::Center);
}

void CouponCampaignEditor::SetPlacement(CouponPlacement placement) {
    CampaignRecord& v = Values();
    v.Top = placement == CouponPlacement::Top;
    v.Middle = placement == CouponPlacement::Middle;
    v.Bottom = placement == CouponPlacement::Bottom;
}

void CouponCampaignEditor::SetAlignment(CouponAlignment alignment) {
    CampaignRecord& v = Values();
    v.Left = alignment == CouponAlignment::Left;
    v.Center = alignment == CouponAlignment::Center;
    v.Right = alignment == CouponAlignment::Right;
}

CouponPlacement CouponCampaignEditor::Placement() const {
    return CouponPlacementOf(Values());
}

CouponAlignment CouponCampaignEditor::Alignment() const {
    return CouponAlignmentOf(Values());
}

Result CouponCampaignEditor::ChooseImage(std::string_view path) {
    QImage image;
    if (Result read = ReadImageFile(std::string(path), image); !read) {
        return read;
    }
    m_image = std::move(image);
    return Result::Success();
}

void CouponCampaignEditor::GenerateCoupon() {
    Values().Coupon = m_codes.Next();
}

std::string CouponCampaignEditor::PreviewText() const {
    const CampaignRecord& v = Values();
    return CouponPicture::Text(v.MessageText, v.CouponEnabled, v.Coupon);
}

QImage CouponCampaignEditor::Preview() const {
    return Picture().Preview();
}

std::string CouponCampaignEditor::PictureFileName() const {
    return Values().MessageName + std::string(kPictureExtension);
}

CouponPicture CouponCampaignEditor::Picture() const {
    const CampaignRecord& v = Values();
    CouponPicture picture;
    picture.SetImage(m_image);
    picture.SetText(PreviewText());
    picture.SetFont(CouponFont{v.FontName, v.FontSize, v.FontColor, v.FontStyle});
    picture.SetPlacement(Placement());
    picture.SetAlignment(Alignment());
    return picture;
}

Result CouponCampaignEditor::CheckOwn() {
    const std::string& name = Values().MessageName;
    if (name.empty()) {
        return Refuse("StrMessageNameRequired");
    }
    // The name is also stored on its own, so it must read back as written
    // (no blanks at its ends), and with ".jpg" it must be one file name.
    Result named = DataFolder::CheckName(name);
    if (named) {
        named = DataFolder::CheckName(PictureFileName());
    }
    if (!named) {
        return Refuse("FileNameInvalid", named.Message);
    }
    // Checked also when the coupon is off: the code is stored either way.
    return RefuseControlCharacters("CouponCodeInvalid", "the coupon code", Values().Coupon);
}

void CouponCampaignEditor::LoadOwn(const CampaignRecord& stored) {
    CampaignRecord& v = Values();
    m_storedFileName = stored.FileName;
    v.FileName = stored.FileName;
    v.MessageName = stored.MessageName;
    v.MessageText = stored.MessageText;
    v.Coupon = stored.Coupon;
    v.CouponEnabled = stored.CouponEnabled;
    v.CouponPerDevice = m_perDeviceChoice.value_or(stored.CouponPerDevice);
    m_storedPerDevice = stored.CouponPerDevice;
    v.Top = stored.Top;
    v.Middle = stored.Middle;
    v.Bottom = stored.Bottom;
    v.Left = stored.Left;
    v.Center = stored.Center;
    v.Right = stored.Right;
    SetPlacement(Placement());
    SetAlignment(Alignment());
    v.FontName = stored.FontName;
    v.FontSize = stored.FontSize;
    v.FontColor = stored.FontColor;
    v.FontStyle = stored.FontStyle;

    // The image last of all, so that a missing bitmap leaves every value above
    // loaded.
    m_image = QImage();
    m_imageError.clear();
    const std::string path = Store().CampaignFolder(CampaignName()) + std::string(kOriginalFile);
    if (Result read = ReadImageFile(path, m_image); !read) {
        m_imageError = read.Message;
    }
}

Result CouponCampaignEditor::PlaceContent(const std::string& folder) {
    const CouponPicture picture = Picture();
    // The bitmap first: should the picture then fail, the campaign still sends
    // its old picture with the old coupon code its record names.
    if (Result written = WriteBmpFile(folder + std::string(kOriginalFile), picture.Original());
        !written) {
        return Refuse("CampaignSaveFailed", written.Message);
    }
    if (Result written = WriteJpegFile(folder + PictureFileName(), picture.Picture(), kJpegQuality);
        !written) {
        return Refuse("CampaignSaveFailed", written.Message);
    }
    return Result::Success();
}

void CouponCampaignEditor::AppendOwnEntries(CampaignRecord::Entries& entries) const {
    CampaignRecord written = Values();
    written.FileName = PictureFileName();
    for (auto& entry : written.CouponEntries()) {
        entries.push_back(std::move(entry));
    }
    // CouponEntries names the key only when it is on; a record that had it on
    // must read "0" once it is switched off.
    if (!written.CouponPerDevice && m_storedPerDevice) {
        entries.emplace_back("CouponPerDevice", "0");
    }
}

Result CouponCampaignEditor::AfterRecord(const std::string& folder) {
    const std::string written = PictureFileName();
    // The record names the new picture now; the one under the old promotion
    // name is no longer sent. Failing to delete it costs only disk space.
    if (!m_storedFileName.empty() && m_storedFileName != written &&
        IsPictureName(m_storedFileName) && !SameFile(folder + m_storedFileName, folder + written)) {
        (void)::unlink((folder + m_storedFileName).c_str());
    }
    m_storedFileName = written;
    m_storedPerDevice = Values().CouponPerDevice;
    Values().FileName = written;
    return Result::Success();
}

}  // namespace kavri
