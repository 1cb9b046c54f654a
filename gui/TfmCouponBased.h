#pragma once

#include <functional>
#include <optional>

#include "gui/TfmCampaignEditor.h"

class QButtonGroup;
class QLabel;
class QToolButton;

namespace kavri {
class CouponCampaignEditor;
struct CouponFont;
}  // namespace kavri

namespace kavri::gui {

// The coupon-based campaign editor: the shared frame plus the promotion's
// name and message, the 120 x 150 live preview, the text's placement and
// alignment, its font, the picture chooser and the coupon switch, code and
// generator. The preview is drawn by the same layout that renders the
// picture at OK (CouponPicture), so the picture phones receive is the
// preview enlarged. The rules are CouponCampaignEditor's.
//
// Choosing a font opens the font chooser preset with the current font and
// then, since Qt's font chooser has no colour, the colour chooser preset with
// the current colour; cancelling the colour keeps the colour.
class TfmCouponBased final : public TfmCampaignEditor {
    Q_OBJECT

public:
    explicit TfmCouponBased(TfmMain& main);

    // The editor this window feeds.
    CouponCampaignEditor& CouponEditor();

    QLabel* laPromotionName = nullptr;
    QLineEdit* edPromotionName = nullptr;
    QLabel* laPromotionMessage = nullptr;
    QLineEdit* edPromotionMessage = nullptr;
    // The preview: the image with the text over it.
    QLabel* Image = nullptr;
    QToolButton* sbTop = nullptr;
    QToolButton* sbMiddle = nullptr;
    QToolButton* sbBottom = nullptr;
    QToolButton* sbLeft = nullptr;
    QToolButton* sbCenter = nullptr;
    QToolButton* sbRight = nullptr;
    QToolButton* sbFont = nullptr;
    QToolButton* sbSelectFile = nullptr;
    QCheckBox* cbCoupon = nullptr;
    QLabel* laCouponCode = nullptr;
    QLineEdit* edCoupon = nullptr;
    QToolButton* sbGenerate = nullptr;
    // Every accepting phone gets its own code; disabled while cbCoupon is off.
    QCheckBox* cbCouponPerDevice = nullptr;

    // Asks for a picture file (title, filters); empty for no. The file
    // chooser by default; a test replaces it.
    std::function<QString(const QString& title, const QStringList& filters)> AskPicture;
    // Asks for a font starting from the current one; nothing for no. The font
    // and colour choosers by default; a test replaces it.
    std::function<std::optional<CouponFont>(const CouponFont& current)> AskFont;

    // Loads the picture file at path into the preview; a file that cannot be
    // read is reported and the previous image stays.
    void ChoosePicture(const QString& path);

private:
    void ShowOwn() override;
    void CollectOwn() override;
    void CreateContentControls();
    void ApplyCouponSwitch();
    void RefreshPreview();
    void sbFontClick();
    void sbSelectFileClick();
    void sbGenerateClick();

    QButtonGroup* m_placement = nullptr;
    QButtonGroup* m_alignment = nullptr;
};

}  // namespace kavri::gui
