// kavri: the operator's window. Start-up in its order: title, splash, main
// window (data folder, settings, campaigns, language, stacks), at least two
// seconds of splash, then the main window and its event loop.
//
// Options: --simulate [SCENARIO] (or KAVRI_SIMULATION) runs the virtual
// neighbourhood instead of the real stacks; --data DIR picks the data folder;
// --screenshot FILE [--screenshot-after SECONDS] saves a picture of the main
// window after that many seconds (5 by default) and ends the program; with
// --dialog NAME the picture is of that dialog instead (DialogScreenshot.h).
#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "app/DateTimeClock.h"
#include "gui/DialogScreenshot.h"
#include "gui/TfmMain.h"
#include "gui/TfmSplash.h"
#include "host/Simulation.h"
#include "host/StackSession.h"
#include "platform/Clock.h"
#include "platform/qt/QtEventLoop.h"

namespace {

constexpr int kSplashMilliseconds = 2000;
const QString kTitle = QStringLiteral("Kavri Tandrel - Bluetooth Proximity Marketing");

// The value after option among the arguments, or none.
std::optional<std::string> OptionValue(const std::vector<std::string>& arguments,
                                       const std::string& option) {
    for (std::size_t i = 0; i + 1 < arguments.size(); ++i) {
        if (arguments[i] == option) {
            return arguments[i + 1];
        }
    }
    return std::nullopt;
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    application.setApplicationName(QStringLiteral("kavri"));
    // The notification icon keeps the program alive; Exit or closing the
    // main window ends it.
    application.setQuitOnLastWindowClosed(false);

    std::vector<std::string> arguments;
    for (const QString& argument : application.arguments().mid(1)) {
        arguments.push_back(argument.toStdString());
    }

    const std::optional<std::string> screenshot = OptionValue(arguments, "--screenshot");
    bool valid = true;
    const int screenshotSeconds =
        QString::fromStdString(OptionValue(arguments, "--screenshot-after").value_or("5"))
            .toInt(&valid);
    if (!valid || screenshotSeconds < 0) {
        std::fputs("kavri: --screenshot-after needs a whole number of seconds\n", stderr);
        return 2;
    }

    kavri::gui::TfmSplash splash;
    splash.show();

    kavri::SteadyClock clock;
    kavri::SystemDateTimeClock dateClock;
    kavri::QtEventLoop loop(clock);
    kavri::host::StackSession stacks(loop, clock);
    const kavri::Result stacksOpened =
        stacks.Open(kavri::host::ChooseScenario(kavri::host::SimulateOption(arguments)));
    if (!stacksOpened) {
        QMessageBox::critical(nullptr, kTitle, QString::fromStdString(stacksOpened.Message));
        return 1;
    }

    kavri::gui::MainWindowOptions options;
    options.DataFolder = OptionValue(arguments, "--data").value_or(std::string());
    int exitCode = 0;
    {
        kavri::gui::TfmMain window(loop, dateClock, options);
        const kavri::Result created = window.FormCreate();
        if (!created) {
            QMessageBox::critical(nullptr, kTitle, QString::fromStdString(created.Message));
        }
        QObject::connect(&window, &kavri::gui::TfmMain::Closed, [&loop] { loop.Quit(); });

        splash.repaint();
        QApplication::processEvents();
        QTimer::singleShot(kSplashMilliseconds, [&splash, &window] {
            splash.ReleaseClose();
            splash.close();
            window.show();
        });

        if (screenshot) {
            const QString dialogName =
                QString::fromStdString(OptionValue(arguments, "--dialog").value_or(""));
            QTimer::singleShot(screenshotSeconds * 1000,
                               [&window, dialogName, file = QString::fromStdString(*screenshot)] {
                                   if (dialogName.isEmpty()) {
                                       window.grab().save(file);
                                       window.close();
                                       return;
                                   }
                                   QDialog* dialog =
                                       kavri::gui::OpenDialogForScreenshot(window, dialogName);
                                   if (dialog == nullptr) {
                                       std::fputs("kavri: --dialog names no dialog\n", stderr);
                                       window.close();
                                       return;
                                   }
                                   // Let the dialog lay itself out and paint before the picture.
                                   QTimer::singleShot(500, [&window, dialog, file] {
                                       dialog->grab().save(file);
                                       dialog->close();
                                       window.close();
                                   });
                               });
        }

        // An exception from a handler ends up here; the window stays.
        for (;;) {
            try {
                loop.Run();
                break;
            } catch (const std::exception& e) {
                QMessageBox::critical(&window, kTitle, QString::fromLocal8Bit(e.what()));
            }
        }
        exitCode = created ? 0 : 1;
    }
    return exitCode;
}
