#pragma once

#include <QIcon>
#include <QString>

#include "app/CampaignTable.h"
#include "app/SendingDecisions.h"

namespace kavri::gui {

// The pictures of the windows, drawn for this program and kept as resources
// (gui/images/: each PNG is rendered from the SVG beside it, with
// "rsvg-convert NAME.svg -o NAME.png", so Qt needs no SVG plugin): the toolbar's 24 x 24 images by
// their file name ("start", "stop", ...), the campaign list's state images,
// the device list's status images, the tray images (0 stopped, 1 sending)
// and the splash picture. Main thread only (QIcon and QPixmap are GUI
// objects); a name without a picture gives a null icon.
QIcon ToolImage(const QString& name);
QIcon CampaignStateImage(CampaignState state);
QIcon DeviceStatusImage(DeviceStatus status);
QIcon TrayImage(int index);
// The settings dialog's and the campaign editors' 128 x 128 pictures.
QIcon SettingsPicture();
QIcon EditorPicture();
// The campaign editors' 16 x 16 button images by name ("align_top", "font",
// "picture", "generate", ...).
QIcon EditorImage(const QString& name);
QString SplashPicturePath();

}  // namespace kavri::gui
