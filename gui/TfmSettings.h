#pragma once

#include <QDialog>
#include <QString>

#include <string>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace kavri::gui {

class TfmMain;

// The settings dialog: radio name, connection pool, idle, refusal and
// connect times, automatic start at log-on and the language, over the main
// window's application settings and its autostart entry. Choosing a language
// writes it at once, so the main window shows it before the operator
// confirms; OK writes the rest (and adds or removes the autostart entry,
// whose command starts kavri), any other close writes the language of the
// opening back and nothing else.
//
// Modal, created per command and destroyed on close; main thread. The main
// window must outlive it; failed writes go to its ShowError.
class TfmSettings : public QDialog {
    Q_OBJECT

public:
    explicit TfmSettings(TfmMain& main);

    QLineEdit* edLocalRadioName = nullptr;
    QSpinBox* seMaxConnections = nullptr;
    QSpinBox* seIdleTimeout = nullptr;
    QSpinBox* seRejectedTimeout = nullptr;
    QSpinBox* seConnectTimeout = nullptr;
    QCheckBox* cbRunOnStartup = nullptr;
    QComboBox* cbLanguage = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;

    void done(int result) override;

private:
    void ApplyTexts();
    void LanguageChosen(int index);
    void Save();
    // The program the autostart entry runs: kavri beside this program.
    static std::string ProgramPath();

    TfmMain& m_main;
    std::string m_languageAtOpening;
    // The autostart entry; empty when there is no home folder to keep it in.
    std::string m_autoStartEntry;

    QLabel* m_radioNameLabel = nullptr;
    QLabel* m_maxConnectionsLabel = nullptr;
    QLabel* m_idleTimeoutLabel = nullptr;
    QLabel* m_rejectedTimeoutLabel = nullptr;
    QLabel* m_connectTimeoutLabel = nullptr;
    QLabel* m_languageLabel = nullptr;
    QLabel* m_idleUnit = nullptr;
    QLabel* m_rejectedUnit = nullptr;
    QLabel* m_connectUnit = nullptr;
};

}  // namespace kavri::gui
