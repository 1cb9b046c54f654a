// The settings dialog over the main window's settings file and autostart
// entry: what it shows, what OK writes, and what Cancel puts back.
#include "gui/TfmSettings.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include <fstream>
#include <sstream>
#include <string>

#include "app/AppSettings.h"
#include "app/AutoStart.h"
#include "tests/gui/GuiShop.h"

namespace kavri::gui {
namespace {

using test::Shop;

QString SettingsCaption(TfmMain& window) {
    return window.acToolsSettings->text();
}

TEST(TfmSettingsTest, AFreshFolderShowsTheDefaults) {
    // No settings written but the shop's idle and connect times: defaults and the computer's name.
    Shop shop(sim::ParseScenario(""));
    TfmMain& window = shop.Open();
    TfmSettings dialog(window);
    EXPECT_EQ(dialog.windowTitle(), "Kavri Tandrel - Settings");
    EXPECT_EQ(dialog.seMaxConnections->value(), 6);
    EXPECT_EQ(dialog.seRejectedTimeout->value(), 0);
    EXPECT_EQ(dialog.seIdleTimeout->value(), 1);
    EXPECT_EQ(dialog.seConnectTimeout->value(), 5);
    EXPECT_EQ(dialog.edLocalRadioName->text().toStdString(), ComputerName());
    EXPECT_EQ(dialog.cbLanguage->currentText(), "English");
    EXPECT_FALSE(dialog.cbRunOnStartup->isChecked());
}

TEST(TfmSettingsTest, OkWritesEveryFieldAndTheAutostartEntry) {
    // Values typed and the box ticked: OK stores them all and the entry runs kavri.
    Shop shop(sim::ParseScenario(""));
    TfmMain& window = shop.Open();
    TfmSettings dialog(window);
    dialog.edLocalRadioName->setText("Shop Radio");
    dialog.seMaxConnections->setValue(12);
    dialog.seIdleTimeout->setValue(500);  // clamped to 300
    dialog.seRejectedTimeout->setValue(24);
    dialog.seConnectTimeout->setValue(30);
    dialog.cbRunOnStartup->setChecked(true);
    dialog.btnOK->click();
    const AppSettings& settings = window.Session().Settings();
    EXPECT_EQ(settings.LocalRadioName(), "Shop Radio");
    EXPECT_EQ(settings.MaxConnections(), 12);
    EXPECT_EQ(settings.IdleTimeout(), 300);
    EXPECT_EQ(settings.RejectedTimeout(), 24);
    EXPECT_EQ(settings.ConnectTimeout(), 30);
    ASSERT_TRUE(AutoStart(shop.AutoStartEntry()).IsEnabled());
    std::ifstream entry(shop.AutoStartEntry());
    std::stringstream read;
    read << entry.rdbuf();
    const std::string text = read.str();
    EXPECT_NE(text.find("/kavri"), std::string::npos) << text;

    // Clearing the box and OK removes the entry again.
    TfmSettings again(window);
    EXPECT_TRUE(again.cbRunOnStartup->isChecked());
    again.cbRunOnStartup->setChecked(false);
    again.btnOK->click();
    EXPECT_FALSE(AutoStart(shop.AutoStartEntry()).IsEnabled());
    EXPECT_TRUE(shop.Errors.empty());
}

TEST(TfmSettingsTest, ALanguageChosenShowsAtOnceAndCancelTakesItBack) {
    // German chosen: the main window and the dialog switch; Cancel restores English and the rest.
    Shop shop(sim::ParseScenario(""));
    TfmMain& window = shop.Open();
    const QString englishMenu = SettingsCaption(window);
    TfmSettings dialog(window);
    dialog.seMaxConnections->setValue(40);
    const int german = dialog.cbLanguage->findText("German");
    ASSERT_GE(german, 0);
    dialog.cbLanguage->setCurrentIndex(german);
    emit dialog.cbLanguage->activated(german);
    EXPECT_EQ(window.Session().Settings().Language(), "German");
    EXPECT_NE(SettingsCaption(window), englishMenu);
    EXPECT_EQ(dialog.windowTitle(), "Kavri Tandrel - Einstellungen");

    dialog.btnCancel->click();
    EXPECT_EQ(window.Session().Settings().Language(), "English");
    EXPECT_EQ(SettingsCaption(window), englishMenu);
    EXPECT_EQ(window.Session().Settings().MaxConnections(), 6);
    EXPECT_TRUE(shop.Errors.empty());
}

TEST(TfmSettingsTest, OkKeepsTheLanguageChosen) {
    // German chosen, then OK: it stays.
    Shop shop(sim::ParseScenario(""));
    TfmMain& window = shop.Open();
    TfmSettings dialog(window);
    const int german = dialog.cbLanguage->findText("German");
    dialog.cbLanguage->setCurrentIndex(german);
    emit dialog.cbLanguage->activated(german);
    dialog.btnOK->click();
    EXPECT_EQ(window.Session().Settings().Language(), "German");
}

TEST(TfmSettingsTest, GermanTextsGrowTheDialogInsteadOfClipping) {
    // German chosen in an open dialog: every label and button is at least as wide as its text.
    Shop shop(sim::ParseScenario(""));
    TfmMain& window = shop.Open();
    TfmSettings dialog(window);
    dialog.show();
    const int german = dialog.cbLanguage->findText("German");
    dialog.cbLanguage->setCurrentIndex(german);
    emit dialog.cbLanguage->activated(german);
    QApplication::processEvents();
    std::vector<QWidget*> texts;
    for (QLabel* label : dialog.findChildren<QLabel*>()) {
        texts.push_back(label);
    }
    for (QAbstractButton* button : dialog.findChildren<QAbstractButton*>()) {
        texts.push_back(button);
    }
    for (const QWidget* text : texts) {
        EXPECT_GE(text->width(), text->sizeHint().width()) << text->metaObject()->className();
    }
    dialog.btnCancel->click();
}

}  // namespace
}  // namespace kavri::gui
