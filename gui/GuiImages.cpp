#include "gui/GuiImages.h"

// The resources live in a static library: nothing would pull their
// registration in, so the first picture asked for registers them. The macro
// must stand outside any namespace.
static void RegisterImages() {
    Q_INIT_RESOURCE(images);
}

namespace kavri::gui {

namespace {

void EnsureImages() {
    static const bool registered = [] {
        RegisterImages();
        return true;
    }();
    (void)registered;
}

QIcon Resource(const QString& file) {
    EnsureImages();
    return QIcon(QStringLiteral(":/images/") + file + QStringLiteral(".png"));
}

}  // namespace

QIcon SettingsPicture() {
    return Resource(QStringLiteral("settings_picture"));
}

QIcon EditorPicture() {
    return Resource(QStringLiteral("editor_logo"));
}

QIcon EditorImage(const QString& name) {
    return Resource(QStringLiteral("editor_") + name);
}

QIcon ToolImage(const QString& name) {
    return Resource(QStringLiteral("tool_") + name);
}

QIcon CampaignStateImage(CampaignState state) {
    switch (state) {
        case csEnabled:
            return Resource(QStringLiteral("campaign_enabled"));
        case csDisabled:
            return Resource(QStringLiteral("campaign_disabled"));
        case csActive:
            return Resource(QStringLiteral("campaign_active"));
    }
    return {};
}

QIcon DeviceStatusImage(DeviceStatus status) {
    switch (status) {
        case dsAccepted:
            return Resource(QStringLiteral("device_accepted"));
        case dsBlackListed:
            return Resource(QStringLiteral("device_blacklisted"));
        case dsRejected:
            return Resource(QStringLiteral("device_rejected"));
        case dsAlreadyAccepted:
            return Resource(QStringLiteral("device_already_accepted"));
        case dsConnecting:
            return Resource(QStringLiteral("device_connecting"));
        case dsConnected:
            return Resource(QStringLiteral("device_connected"));
        case dsFailed:
            return Resource(QStringLiteral("device_failed"));
        case dsSending:
            return Resource(QStringLiteral("device_sending"));
        case dsSent:
            return Resource(QStringLiteral("device_sent"));
        case dsSkipped:
            return Resource(QStringLiteral("device_skipped"));
    }
    return {};
}

QIcon TrayImage(int index) {
    return Resource(index == 0 ? QStringLiteral("tray_stopped") : QStringLiteral("tray_sending"));
}

QString SplashPicturePath() {
    EnsureImages();
    return QStringLiteral(":/images/splash.png");
}

}  // namespace kavri::gui
