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
// check-coupon[:CODE]. Nothing for an unknown name. The dialog deletes itself
// when closed. Main thread.
QDialog* OpenDialogForScreenshot(TfmMain& window, const QString& name);

}  // namespace kavri::gui
