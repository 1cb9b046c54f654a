#include "gui/DialogScreenshot.h"

#include <QComboBox>
#include <QLineEdit>

#include "gui/TfmAccepted.h"
#include "gui/TfmBlackList.h"
#include "gui/TfmCheckCoupon.h"
#include "gui/TfmCouponBased.h"
#include "gui/TfmFileBased.h"
#include "gui/TfmMain.h"
#include "gui/TfmMessageBased.h"
#include "gui/TfmRejected.h"
#include "gui/TfmSettings.h"
#include "gui/TfmStatistics.h"

namespace kavri::gui {

namespace {

// A campaign editor of kind Editor, for the campaign after the colon when one
// is named; nothing when that campaign cannot be opened.
template <typename Editor>
QDialog* OpenEditor(TfmMain& window, const QString& name) {
    auto* editor = new Editor(window);
    const QString campaign = name.section(QLatin1Char(':'), 1);
    if (!campaign.isEmpty() && !editor->Edit(campaign.toStdString())) {
        delete editor;
        return nullptr;
    }
    return editor;
}

}  // namespace

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
    } else if (name.startsWith(QStringLiteral("file-based"))) {
        dialog = OpenEditor<TfmFileBased>(window, name);
    } else if (name.startsWith(QStringLiteral("message-based"))) {
        dialog = OpenEditor<TfmMessageBased>(window, name);
    } else if (name.startsWith(QStringLiteral("coupon-based"))) {
        dialog = OpenEditor<TfmCouponBased>(window, name);
    }
    if (dialog != nullptr) {
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->show();
    }
    return dialog;
}

}  // namespace kavri::gui
