#include "gui/DialogScreenshot.h"

#include <QComboBox>
#include <QLineEdit>

#include "gui/TfmAccepted.h"
#include "gui/TfmBlackList.h"
#include "gui/TfmCheckCoupon.h"
#include "gui/TfmMain.h"
#include "gui/TfmRejected.h"
#include "gui/TfmSettings.h"
#include "gui/TfmStatistics.h"

namespace kavri::gui {

QDialog* OpenDialogForScreenshot(TfmMain& window, const QString& name) {
    QDialog* dialog = nullptr;
    if (name == QStringLiteral("black-list")) {
        dialog = new TfmBlackList(window);
    } else if (name == QStringLiteral("accepted")) {
        dialog = new TfmAccepted(window);
    } else if (name == QStringLiteral("rejected")) {
        dialog = new TfmRejected(window);
    } else if (name == QStringLiteral("settings") || name == QStringLiteral("settings-german")) {
        auto* settings = new TfmSettings(window);
        if (name.endsWith(QStringLiteral("german"))) {
            const int german = settings->cbLanguage->findText(QStringLiteral("German"));
            settings->cbLanguage->setCurrentIndex(german);
            emit settings->cbLanguage->activated(german);
        }
        dialog = settings;
    } else if (name == QStringLiteral("statistics")) {
        auto* statistics = new TfmStatistics(window);
        statistics->Show();
        dialog = statistics;
    } else if (name.startsWith(QStringLiteral("check-coupon"))) {
        auto* check = new TfmCheckCoupon(window);
        check->edCoupon->setText(name.section(QLatin1Char(':'), 1));
        check->Check();
        dialog = check;
    }
    if (dialog != nullptr) {
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->show();
    }
    return dialog;
}

}  // namespace kavri::gui
