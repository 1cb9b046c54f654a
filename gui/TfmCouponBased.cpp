#include "gui/TfmCouponBased.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QColorDialog>
#include <QFontDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>

#include <memory>

#include "editors/CouponCampaignEditor.h"
#include "gui/FileChoosers.h"
#include "gui/GuiImages.h"
#include "gui/TfmMain.h"

namespace kavri::gui {

namespace {

constexpr int kDesignHeight = 488;
constexpr int kDefaultPointSize = 8;

// Font style bits as stored.
constexpr std::uint8_t kBold = 1;
constexpr std::uint8_t kItalic = 2;
constexpr std::uint8_t kUnderline = 4;
constexpr std::uint8_t kStrikeOut = 8;

QToolButton* ImageButton(QWidget* parent, const char* image, bool checkable) {
    auto* button = new QToolButton(parent);
    button->setIcon(EditorImage(QString::fromLatin1(image)));
    button->setCheckable(checkable);
    button->setAutoRaise(!checkable);
    return button;
}

CouponFont StoredFont(const CampaignRecord& values) {
    return CouponFont{values.FontName, values.FontSize, values.FontColor, values.FontStyle};
}

// The font and colour choosers, preset with current. A font the operator
// confirms is taken even when the colour chooser is then cancelled.
std::optional<CouponFont> ChooseFont(QWidget* parent, const CouponFont& current) {
    QFont preset(QString::fromStdString(current.Face));
    preset.setPointSize(current.Size > 0 ? current.Size : kDefaultPointSize);
    preset.setBold((current.Style & kBold) != 0);
    preset.setItalic((current.Style & kItalic) != 0);
    preset.setUnderline((current.Style & kUnderline) != 0);
    preset.setStrikeOut((current.Style & kStrikeOut) != 0);
    bool confirmed = false;
    const QFont chosen = QFontDialog::getFont(&confirmed, preset, parent);
    if (!confirmed) {
        return std::nullopt;
    }
    CouponFont font = current;
    font.Face = chosen.family().toStdString();
    font.Size = chosen.pointSize() > 0 ? chosen.pointSize() : kDefaultPointSize;
    font.Style = static_cast<std::uint8_t>(
        (chosen.bold() ? kBold : 0) | (chosen.italic() ? kItalic : 0) |
        (chosen.underline() ? kUnderline : 0) | (chosen.strikeOut() ? kStrikeOut : 0));
    const QColor colour = QColorDialog::getColor(CouponPicture::Color(current.Color), parent);
    if (colour.isValid()) {
        // Stored as 0x00BBGGRR, red in the lowest byte.
        font.Color = colour.red() | (colour.green() << 8) | (colour.blue() << 16);
    }
    return font;
}

}  // namespace

TfmCouponBased::TfmCouponBased(TfmMain& main)
    : TfmCampaignEditor(main,
                        std::make_unique<CouponCampaignEditor>(
                            main.Session().Store(), main.DateClock(), main.Session().Texts()),
                        kDesignHeight, "CouponBased_Title",
                        "Kavri Tandrel - Coupon Based Campaign Editor") {
    CreateContentControls();
    FitToTexts();
    AskPicture = [this](const QString& title, const QStringList& filters) {
        return ChooseExistingFile(this, title, filters);
    };
    AskFont = [this](const CouponFont& current) { return ChooseFont(this, current); };
    ShowOwn();
}

CouponCampaignEditor& TfmCouponBased::CouponEditor() {
    return static_cast<CouponCampaignEditor&>(Editor());
}

void TfmCouponBased::CreateContentControls() {
    laPromotionName = new QLabel(Text("CouponBased_PromotionName", "Promotion name"), this);
    edPromotionName = new QLineEdit(this);
    laPromotionName->setBuddy(edPromotionName);
    laPromotionMessage =
        new QLabel(Text("CouponBased_PromotionMessage", "Promotion message"), this);
    edPromotionMessage = new QLineEdit(this);
    laPromotionMessage->setBuddy(edPromotionMessage);

    Image = new QLabel(this);
    Image->setFixedSize(CouponPicture::kFrameSize);

    sbTop = ImageButton(this, "align_top", true);
    sbMiddle = ImageButton(this, "align_middle", true);
    sbBottom = ImageButton(this, "align_bottom", true);
    sbLeft = ImageButton(this, "align_left", true);
    sbCenter = ImageButton(this, "align_center", true);
    sbRight = ImageButton(this, "align_right", true);
    sbFont = ImageButton(this, "font", false);
    sbSelectFile = ImageButton(this, "picture", false);
    sbGenerate = ImageButton(this, "generate", false);
    sbTop->setToolTip(Text("CouponBased_Top", "Align text top"));
    sbMiddle->setToolTip(Text("CouponBased_Middle", "Align text middle"));
    sbBottom->setToolTip(Text("CouponBased_Bottom", "Align text bottom"));
    sbLeft->setToolTip(Text("CouponBased_Left", "Align text left"));
    sbCenter->setToolTip(Text("CouponBased_Center", "Align text center"));
    sbRight->setToolTip(Text("CouponBased_Right", "Align text right"));
    sbFont->setToolTip(Text("CouponBased_ChangeFont", "Change font"));
    sbSelectFile->setToolTip(Text("CouponBased_SelectFile", "Select image"));
    sbGenerate->setToolTip(Text("CouponBased_GenerateCoupon", "Generate coupon code"));

    // One button of each group is always down.
    m_placement = new QButtonGroup(this);
    m_placement->addButton(sbTop, static_cast<int>(CouponPlacement::Top));
    m_placement->addButton(sbMiddle, static_cast<int>(CouponPlacement::Middle));
    m_placement->addButton(sbBottom, static_cast<int>(CouponPlacement::Bottom));
    m_alignment = new QButtonGroup(this);
    m_alignment->addButton(sbLeft, static_cast<int>(CouponAlignment::Left));
    m_alignment->addButton(sbCenter, static_cast<int>(CouponAlignment::Center));
    m_alignment->addButton(sbRight, static_cast<int>(CouponAlignment::Right));

    cbCoupon = new QCheckBox(Text("CouponBased_EnableCoupon", "Enable coupon"), this);
    laCouponCode = new QLabel(Text("CouponBased_CouponCode", "Coupon code"), this);
    edCoupon = new QLineEdit(this);
    laCouponCode->setBuddy(edCoupon);
    cbCouponPerDevice =
        new QCheckBox(Text("CouponBased_CouponPerDevice", "One code per phone"), this);

    auto* placementRow = new QHBoxLayout;
    for (QToolButton* button : {sbTop, sbMiddle, sbBottom}) {
        placementRow->addWidget(button);
    }
    placementRow->addStretch();
    auto* alignmentRow = new QHBoxLayout;
    for (QToolButton* button : {sbLeft, sbCenter, sbRight}) {
        alignmentRow->addWidget(button);
    }
    alignmentRow->addStretch();
    auto* chooserRow = new QHBoxLayout;
    chooserRow->addWidget(sbFont);
    chooserRow->addWidget(sbSelectFile);
    chooserRow->addStretch();
    auto* codeRow = new QHBoxLayout;
    codeRow->addWidget(laCouponCode);
    codeRow->addWidget(edCoupon, 1);
    codeRow->addWidget(sbGenerate);
    auto* tools = new QVBoxLayout;
    tools->addLayout(placementRow);
    tools->addLayout(alignmentRow);
    tools->addLayout(chooserRow);
    tools->addStretch();
    tools->addWidget(cbCoupon);
    tools->addLayout(codeRow);
    tools->addWidget(cbCouponPerDevice);

    QGridLayout* grid = DetailsGrid();
    int row = NextDetailsRow();
    grid->addWidget(laPromotionName, row, 0);
    grid->addWidget(edPromotionName, row, 1, 1, 3);
    ++row;
    grid->addWidget(laPromotionMessage, row, 0);
    grid->addWidget(edPromotionMessage, row, 1, 1, 3);
    ++row;
    auto* content = new QHBoxLayout;
    content->addWidget(Image, 0, Qt::AlignTop);
    content->addLayout(tools, 1);
    grid->addLayout(content, row, 0, 1, 4);

    connect(edPromotionMessage, &QLineEdit::textChanged, this, [this] { RefreshPreview(); });
    connect(edCoupon, &QLineEdit::textChanged, this, [this] { RefreshPreview(); });
    connect(cbCoupon, &QCheckBox::toggled, this, [this] { ApplyCouponSwitch(); });
    connect(m_placement, &QButtonGroup::idClicked, this, [this](int id) {
        CouponEditor().SetPlacement(static_cast<CouponPlacement>(id));
        RefreshPreview();
    });
    connect(m_alignment, &QButtonGroup::idClicked, this, [this](int id) {
        CouponEditor().SetAlignment(static_cast<CouponAlignment>(id));
        RefreshPreview();
    });
    connect(sbFont, &QToolButton::clicked, this, &TfmCouponBased::sbFontClick);
    connect(sbSelectFile, &QToolButton::clicked, this, &TfmCouponBased::sbSelectFileClick);
    connect(sbGenerate, &QToolButton::clicked, this, &TfmCouponBased::sbGenerateClick);
}

void TfmCouponBased::ApplyCouponSwitch() {
    const bool on = cbCoupon->isChecked();
    edCoupon->setEnabled(on);
    sbGenerate->setEnabled(on);
    laCouponCode->setEnabled(on);
    cbCouponPerDevice->setEnabled(on);
    RefreshPreview();
}

void TfmCouponBased::RefreshPreview() {
    CollectOwn();
    Image->setPixmap(QPixmap::fromImage(CouponEditor().Preview()));
}

void TfmCouponBased::ShowOwn() {
    CouponCampaignEditor& editor = CouponEditor();
    const CampaignRecord& values = editor.Values();
    {
        const QSignalBlocker blockers[] = {QSignalBlocker(edPromotionMessage),
                                           QSignalBlocker(edCoupon), QSignalBlocker(cbCoupon)};
        edPromotionName->setText(QString::fromStdString(values.MessageName));
        edPromotionMessage->setText(QString::fromStdString(values.MessageText));
        edCoupon->setText(QString::fromStdString(values.Coupon));
        cbCoupon->setChecked(values.CouponEnabled);
        cbCouponPerDevice->setChecked(values.CouponPerDevice);
    }
    // What the flags say, with one button of each group down.
    const CouponPlacement placement = editor.Placement();
    const CouponAlignment alignment = editor.Alignment();
    m_placement->button(static_cast<int>(placement))->setChecked(true);
    m_alignment->button(static_cast<int>(alignment))->setChecked(true);
    ApplyCouponSwitch();
    if (!editor.ImageError().empty()) {
        Report(Result::Failure(editor.ImageError()));
    }
}

void TfmCouponBased::CollectOwn() {
    CampaignRecord& values = CouponEditor().Values();
    values.MessageName = edPromotionName->text().toStdString();
    values.MessageText = edPromotionMessage->text().toStdString();
    values.Coupon = edCoupon->text().toStdString();
    values.CouponEnabled = cbCoupon->isChecked();
    values.CouponPerDevice = cbCouponPerDevice->isChecked();
}

void TfmCouponBased::ChoosePicture(const QString& path) {
    if (const Result loaded = CouponEditor().ChooseImage(path.toStdString()); !loaded) {
        Report(loaded);
        return;
    }
    RefreshPreview();
}

void TfmCouponBased::sbFontClick() {
    CampaignRecord& values = CouponEditor().Values();
    const std::optional<CouponFont> chosen = AskFont(StoredFont(values));
    if (!chosen) {
        return;
    }
    values.FontName = chosen->Face;
    values.FontSize = chosen->Size;
    values.FontColor = chosen->Color;
    values.FontStyle = chosen->Style;
    RefreshPreview();
}

void TfmCouponBased::sbSelectFileClick() {
    const QString path =
        AskPicture(Text("CouponBased_SelectImage", "Select image"), CouponPictureFilters());
    if (!path.isEmpty()) {
        ChoosePicture(path);
    }
}

void TfmCouponBased::sbGenerateClick() {
    CollectOwn();
    CouponEditor().GenerateCoupon();
    // Setting the field refreshes the preview.
    edCoupon->setText(QString::fromStdString(CouponEditor().Values().Coupon));
}

}  // namespace kavri::gui
