#pragma once

#include <QString>

class QDialog;

namespace kavri::gui {

class TfmMain;

// For kavri --screenshot with --dialog NAME: opens the dialog of that name
// over the main window, without blocking, filled as an operator would see it
// (statistics shown for today, the coupon check run for the code after a
// colon, "settings-german" the settings dialog with German chosen). Names:
// black-list, accepted, rejected, settings, settings-german, statistics,
// check-coupon[:CODE], and the campaign editors file-based, message-based and
// coupon-based, each new or, with ":NAME", editing the campaign NAME. Nothing
// for an unknown name (or a campaign that cannot be opened). The dialog deletes itself
// when closed. Main thread.
QDialog* OpenDialogForScreenshot(TfmMain& window, const QString& name);

}  // namespace kavri::gui
