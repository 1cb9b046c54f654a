#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace kavri::gui {

// The filters of the editors' file choosers, in their order, the first being
// the initial choice. Each entry shows its description (which names its
// patterns, separated by ";") and applies the patterns; the chooser must be
// told to hide the details, which are the patterns again in the form Qt reads.
//
// The file campaign's chooser: all media files, images, videos, sounds, texts.
// The filter only guides the choice; any file may be picked and any name typed.
QStringList FileCampaignFilters();
// The coupon campaign's picture chooser: JPEG and BMP images.
QStringList CouponPictureFilters();

// Asks the operator for an existing file with a modal chooser titled title,
// offering filters; the full path, or empty when the operator cancels.
QString ChooseExistingFile(QWidget* parent, const QString& title, const QStringList& filters);

}  // namespace kavri::gui
