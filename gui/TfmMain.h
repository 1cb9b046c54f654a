#pragma once

#include <QMainWindow>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/Result.h"
#include "host/SenderSession.h"
#include "platform/EventLoop.h"

class QAction;
class QCloseEvent;
class QDialog;
class QDragEnterEvent;
class QDropEvent;
class QLabel;
class QMenu;
class QShowEvent;
class QSplitter;
class QSystemTrayIcon;
class QToolBar;
class QTreeWidget;
class QTreeWidgetItem;

namespace kavri {
class DateTimeClock;
class EventLoop;
class LanguageFile;
}  // namespace kavri

namespace kavri::gui {

// Where the main window finds its files; empty texts mean the usual places.
struct MainWindowOptions {
    std::string DataFolder;      // empty: the per-user data folder
    std::string LanguageFile;    // empty: LanguageFile::Locate beside the program
    std::string AutoStartEntry;  // empty: the desktop's autostart entry
};

// The operator's main window: the menus, toolbar, campaign list, device list,
// status bar and notification-area icon, with every command as a QAction
// whose enabled state follows the sender session's events (nothing polls).
// It holds the sender session for the whole run; Exit (or closing the
// window) shuts the session down, which stops the engine before the stacks
// are unloaded.
//
// Lives on the main thread, on the event loop and clock it is given, which
// must outlive it, as must the stack session that FormCreate's LoadStacks
// reaches. Messages to the operator go through ShowError and Confirm, which
// a test replaces so that no message box blocks it.
class TfmMain : public QMainWindow {
    Q_OBJECT

public:
    TfmMain(EventLoop& loop, const DateTimeClock& clock, MainWindowOptions options,
            QWidget* parent = nullptr);
    ~TfmMain() override;

    // The start-up of the window in its order: data folder and settings,
    // campaign list, language texts, then the stacks (the radio is chosen
    // when they have loaded). A failure leaves the window without a session.
    Result FormCreate();
    // Applies the language file's texts to every caption, hint and column
    // title (built-in texts where the file has none), and to the campaign
    // list's texts.
    void ApplyLanguage();
    // The language file's text for key, or builtIn where the file has none.
    QString Text(std::string_view key, const char* builtIn) const;
    // The language file, or nothing when the window has none.
    const LanguageFile* Language() const { return m_language.get(); }
    // The autostart entry's path; nothing without a home folder.
    std::optional<std::string> AutoStartEntry() const;

    host::SenderSession& Session() { return m_session; }
    // The clock that says what day it is (a manual one in tests).
    const DateTimeClock& DateClock() const { return m_dateClock; }

    QAction* acSenderStart = nullptr;
    QAction* acSenderStop = nullptr;
    QAction* acSenderExit = nullptr;
    QAction* acCampaignNewFileBased = nullptr;
    QAction* acCampaignNewMessageBased = nullptr;
    QAction* acCampaignNewCouponBased = nullptr;
    QAction* acCampaignEdit = nullptr;
    QAction* acCampaignDelete = nullptr;
    QAction* acViewAccepted = nullptr;
    QAction* acViewRejected = nullptr;
    QAction* acViewBlackList = nullptr;
    QAction* acViewStatistics = nullptr;
    QAction* acToolsSettings = nullptr;
    QAction* acToolsCheckCoupon = nullptr;
    QAction* acToolsBlackListDevice = nullptr;
    QAction* acHelpHelp = nullptr;
    QAction* acHelpAbout = nullptr;

    QTreeWidget* lvCampaigns = nullptr;
    QTreeWidget* lvDevices = nullptr;
    QSystemTrayIcon* TrayIcon = nullptr;

    // The automatic start: when the autostart entry exists, the first show
    // starts a one-second timer (tiAutoRun) on the event loop, which runs Start
    // when it is enabled and minimises the window.
    bool AutoRunPending() const { return m_autoRunTimer != 0; }

    // The text of the status bar's panel.
    QString StatusText() const;
    // Which tray image shows: 0 stopped, 1 sending.
    int TrayImageIndex() const { return m_trayImage; }

    // Files dragged onto the window and dropped on target: taken only on the
    // campaign list while the sender is not sending, each opened in a new file
    // campaign editor as if picked there, in the order given, until the
    // operator cancels one; the campaign list is refreshed in every case.
    void FilesDropped(const QStringList& paths, const QWidget* target);

    // Shows a failure to the operator (a message box by default).
    std::function<void(const QString& message)> ShowError;
    // Asks a yes/no question; true for Yes (a message box by default).
    std::function<bool(const QString& question)> Confirm;

    // Shows a dialog of a command modally until it closes (QDialog::exec by
    // default); a test replaces it to look at the dialog without blocking.
    std::function<void(QDialog& dialog)> RunDialog;

signals:
    // The window closed and the session is shut down: the program may end.
    void Closed();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void CreateActions();
    void CreateMenus();
    void CreateToolBar();
    void CreateLists();
    void CreateTrayIcon();
    void WireSession();

    void UpdateActions();
    void FillCampaigns();
    void FillDevices(const std::vector<DeviceRow>& rows);
    void SetDeviceStatus(const DeviceRow& row);
    void ShowProgress(const std::string& address, std::uint32_t position, std::uint32_t size);
    void CountSenderEvent(const SenderEvent& event);
    void UpdateStatusBar();
    void SetTrayImage(int index);
    QTreeWidgetItem* DeviceItem(const std::string& address) const;

    void acSenderStartExecute();
    void acCampaignEditExecute();
    void acCampaignDeleteExecute();
    void acToolsBlackListDeviceExecute();
    void acHelpHelpExecute();
    // Creates the dialog of a command, runs it, and destroys it on close.
    // Without a data folder there is nothing for a dialog to show.
    template <typename Dialog>
    void OpenDialog() {
        if (!m_open) {
            return;
        }
        Dialog dialog(*this);
        RunDialog(dialog);
    }
    // Runs a campaign editor; true when it closed with OK (and so saved).
    bool RunEditor(QDialog& editor);
    // A new campaign with the editor of that kind.
    template <typename Editor>
    void NewCampaign() {
        if (!m_open) {
            return;
        }
        Editor editor(*this);
        if (RunEditor(editor)) {
            RefreshCampaigns();
        }
    }
    void RefreshCampaigns();
    void StartAutoRunIfWanted();
    void tiAutoRunTimer();

    EventLoop& m_loop;
    const DateTimeClock& m_dateClock;
    const MainWindowOptions m_options;
    // Before the session, whose campaign texts look words up in it.
    std::unique_ptr<LanguageFile> m_language;
    host::SenderSession m_session;
    bool m_open = false;
    bool m_shown = false;
    bool m_closed = false;
    EventLoop::TimerId m_autoRunTimer = 0;
    int m_trayImage = 0;
    std::uint32_t m_sent = 0;
    std::uint32_t m_refused = 0;

    QMenu* m_senderMenu = nullptr;
    QMenu* m_campaignMenu = nullptr;
    QMenu* m_newMenu = nullptr;
    QMenu* m_viewMenu = nullptr;
    QMenu* m_toolsMenu = nullptr;
    QMenu* m_helpMenu = nullptr;
    QMenu* m_trayMenu = nullptr;
    QToolBar* m_toolBar = nullptr;
    QSplitter* m_splitter = nullptr;
    QLabel* m_statusPanel = nullptr;
};

}  // namespace kavri::gui
