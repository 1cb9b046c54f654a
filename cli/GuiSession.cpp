#include "cli/GuiSession.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QString>
#include <QtGlobal>

#include <cstdio>

namespace kavri::cli {
namespace {

// Qt's notes about the desktop session (no runtime folder, no display
// settings) mean nothing to a command-line run: only Qt's critical and fatal
// messages pass.
void FilterQtMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg) {
        std::fprintf(stderr, "kavrictl: Qt: %s\n", message.toLocal8Bit().constData());
    }
}

}  // namespace

GuiSession::GuiSession() {
    if (QCoreApplication::instance() != nullptr) {
        return;
    }
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    qInstallMessageHandler(FilterQtMessages);
    m_application = std::make_unique<QGuiApplication>(m_argc, m_argv);
}

GuiSession::~GuiSession() {
    if (m_application != nullptr) {
        m_application.reset();
        qInstallMessageHandler(nullptr);
    }
}

}  // namespace kavri::cli
