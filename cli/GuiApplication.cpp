#include "cli/GuiApplication.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QString>
#include <QtGlobal>

#include <cstdio>

#include <stdlib.h>

namespace kavri::cli {
namespace {

// Qt's notes about the desktop session (no runtime folder, no display
// settings) mean nothing to a command-line run, and kavrictl's standard error
// carries only its own errors: only Qt's critical and fatal messages pass.
void FilterQtMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg) {
        std::fprintf(stderr, "kavrictl: Qt: %s\n", message.toLocal8Bit().constData());
    }
}

}  // namespace

void EnsureGuiApplication() {
    if (QCoreApplication::instance() != nullptr) {
        return;
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    qInstallMessageHandler(FilterQtMessages);
    // Qt keeps references to argc and argv for the application's life.
    static int argc = 1;
    static char name[] = "kavrictl";
    static char* argv[] = {name, nullptr};
    // Never deleted: it must outlive every picture drawn, up to the process's
    // end, and destroying it among static destructors would race Qt's own.
    static QGuiApplication* const application = new QGuiApplication(argc, argv);
    static_cast<void>(application);
}

}  // namespace kavri::cli
