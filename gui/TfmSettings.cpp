#include "gui/TfmSettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <optional>

#include "app/AppSettings.h"
#include "app/AutoStart.h"
#include "app/LanguageFile.h"
#include "gui/GuiImages.h"
#include "gui/TfmMain.h"

namespace kavri::gui {

namespace {

constexpr int kClientWidth = 435;
constexpr int kClientHeight = 290;
constexpr int kPictureSize = 128;

QSpinBox* SpinField(QWidget* parent, AppSettings::Bounds bounds, int value) {
    auto* spin = new QSpinBox(parent);
    spin->setRange(bounds.Min, bounds.Max);
    spin->setValue(bounds.Clamp(value));
    return spin;
}

}  // namespace

TfmSettings::TfmSettings(TfmMain& main) : QDialog(&main), m_main(main) {
    setModal(true);
    setAutoFillBackground(true);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);

    AppSettings& settings = main.Session().Settings();
    m_radioNameLabel = new QLabel(this);
    m_maxConnectionsLabel = new QLabel(this);
    m_idleTimeoutLabel = new QLabel(this);
    m_rejectedTimeoutLabel = new QLabel(this);
    m_connectTimeoutLabel = new QLabel(this);
    m_languageLabel = new QLabel(this);
    m_idleUnit = new QLabel(this);
    m_rejectedUnit = new QLabel(this);
    m_connectUnit = new QLabel(this);

    std::string radioName = settings.LocalRadioName();
    edLocalRadioName =
        new QLineEdit(QString::fromStdString(radioName.empty() ? ComputerName() : radioName), this);
    seMaxConnections =
        SpinField(this, AppSettings::kMaxConnectionsBounds, settings.MaxConnections());
    seIdleTimeout = SpinField(this, AppSettings::kIdleTimeoutBounds, settings.IdleTimeout());
    seRejectedTimeout =
        SpinField(this, AppSettings::kRejectedTimeoutBounds, settings.RejectedTimeout());
    seConnectTimeout =
        SpinField(this, AppSettings::kConnectTimeoutBounds, settings.ConnectTimeout());
    cbRunOnStartup = new QCheckBox(this);
    cbLanguage = new QComboBox(this);
    btnOK = new QPushButton(this);
    btnCancel = new QPushButton(this);
    btnOK->setDefault(true);
    btnCancel->setAutoDefault(false);

    m_languageAtOpening = settings.Language();
    if (const LanguageFile* language = main.Language()) {
        for (const std::string& name : language->ListLanguages()) {
            cbLanguage->addItem(QString::fromStdString(name));
        }
    }
    cbLanguage->setCurrentIndex(
        cbLanguage->findText(QString::fromStdString(m_languageAtOpening), Qt::MatchFixedString));

    // Without a home folder the automatic start can be neither shown nor saved.
    if (const std::optional<std::string> entry = main.AutoStartEntry()) {
        m_autoStartEntry = *entry;
        cbRunOnStartup->setChecked(AutoStart(m_autoStartEntry).IsEnabled());
    } else {
        cbRunOnStartup->hide();
    }

    auto* picture = new QLabel(this);
    picture->setPixmap(SettingsPicture().pixmap(kPictureSize, kPictureSize));
    picture->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    auto* fields = new QGridLayout;
    const auto addRow = [&](int row, QLabel* label, QWidget* field, QLabel* unit) {
        fields->addWidget(label, row, 0);
        fields->addWidget(field, row, 1);
        if (unit != nullptr) {
            fields->addWidget(unit, row, 2);
        }
    };
    addRow(0, m_radioNameLabel, edLocalRadioName, nullptr);
    addRow(1, m_maxConnectionsLabel, seMaxConnections, nullptr);
    addRow(2, m_idleTimeoutLabel, seIdleTimeout, m_idleUnit);
    addRow(3, m_rejectedTimeoutLabel, seRejectedTimeout, m_rejectedUnit);
    addRow(4, m_connectTimeoutLabel, seConnectTimeout, m_connectUnit);
    fields->addWidget(cbRunOnStartup, 5, 1, 1, 2);
    addRow(6, m_languageLabel, cbLanguage, nullptr);
    fields->setColumnStretch(1, 1);

    auto* top = new QHBoxLayout;
    top->addWidget(picture);
    top->addLayout(fields, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnOK);
    buttons->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addStretch();
    layout->addLayout(buttons);

    ApplyTexts();
    resize(kClientWidth, kClientHeight);

    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(cbLanguage, &QComboBox::activated, this, &TfmSettings::LanguageChosen);
}

void TfmSettings::ApplyTexts() {
    setWindowTitle(m_main.Text("Settings_Title", "Kavri Tandrel - Settings"));
    m_radioNameLabel->setText(m_main.Text("Settings_LocalRadioName", "Local radio name"));
    m_maxConnectionsLabel->setText(m_main.Text("Settings_MaxConnections", "Max connections"));
    m_idleTimeoutLabel->setText(m_main.Text("Settings_IdleTimeout", "Idle timeout"));
    m_rejectedTimeoutLabel->setText(m_main.Text("Settings_RejectedTimeout", "Rejected timeout"));
    m_connectTimeoutLabel->setText(m_main.Text("Settings_ConnectTimeout", "Connect timeout"));
    m_languageLabel->setText(m_main.Text("Settings_Language", "Language"));
    m_idleUnit->setText(m_main.Text("Settings_IdleTimeoutSec", "sec"));
    m_rejectedUnit->setText(m_main.Text("Settings_RejectedTimeoutHours", "hours"));
    m_connectUnit->setText(m_main.Text("Settings_ConnectTimeoutSec", "sec"));
    cbRunOnStartup->setText(m_main.Text("Settings_RunOnWindowsStartup", "Run on Windows startup"));
    btnOK->setText(m_main.Text("OK", "&OK"));
    btnCancel->setText(m_main.Text("Cancel", "&Cancel"));
    // A longer language may need more room than the design size: the layout
    // measures the new texts now and the dialog grows to fit them.
    if (QLayout* grid = layout()) {
        grid->invalidate();
        grid->activate();
    }
    setMinimumSize(minimumSizeHint());
    resize(size().expandedTo(minimumSizeHint()));
}

void TfmSettings::LanguageChosen(int index) {
    if (index < 0) {
        return;
    }
    if (const Result r =
            m_main.Session().Settings().SetLanguage(cbLanguage->itemText(index).toStdString());
        !r) {
        m_main.ShowError(QString::fromStdString(r.Message));
        return;
    }
    ApplyTexts();
}

void TfmSettings::Save() {
    AppSettings& settings = m_main.Session().Settings();
    // Each write is its own; the first failure is shown and the rest still tried.
    const Result written[] = {
        settings.SetLocalRadioName(edLocalRadioName->text().toStdString()),
        settings.SetMaxConnections(static_cast<std::uint8_t>(seMaxConnections->value())),
        settings.SetIdleTimeout(static_cast<std::uint16_t>(seIdleTimeout->value())),
        settings.SetRejectedTimeout(static_cast<std::uint8_t>(seRejectedTimeout->value())),
        settings.SetConnectTimeout(static_cast<std::uint8_t>(seConnectTimeout->value())),
    };
    for (const Result& r : written) {
        if (!r) {
            m_main.ShowError(QString::fromStdString(r.Message));
            break;
        }
    }
    if (m_autoStartEntry.empty()) {
        return;
    }
    const AutoStart entry(m_autoStartEntry);
    if (const Result r =
            cbRunOnStartup->isChecked() ? entry.Enable(ProgramPath()) : entry.Disable();
        !r) {
        m_main.ShowError(QString::fromStdString(r.Message));
    }
}

void TfmSettings::done(int result) {
    if (result == QDialog::Accepted) {
        Save();
    } else if (m_main.Session().Settings().Language() != m_languageAtOpening) {
        if (const Result r = m_main.Session().Settings().SetLanguage(m_languageAtOpening); !r) {
            m_main.ShowError(QString::fromStdString(r.Message));
        }
    }
    QDialog::done(result);
}

std::string TfmSettings::ProgramPath() {
    return (QCoreApplication::applicationDirPath() + QStringLiteral("/kavri")).toStdString();
}

}  // namespace kavri::gui
