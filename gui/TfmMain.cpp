#include "gui/TfmMain.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QScreen>
#include <QShowEvent>
#include <QSplitter>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QToolBar>
#include <QTreeWidget>
#include <QUrl>

#include <algorithm>
#include <chrono>
#include <memory>
#include <utility>

#include "app/AppSettings.h"
#include "app/AutoStart.h"
#include "app/CampaignRecord.h"
#include "app/CampaignStore.h"
#include "app/CampaignTable.h"
#include "app/DeviceRecords.h"
#include "app/LanguageFile.h"
#include "app/SendingDecisions.h"
#include "gui/GuiImages.h"
#include "gui/TfmAccepted.h"
#include "gui/TfmBlackList.h"
#include "gui/TfmCheckCoupon.h"
#include "gui/TfmCouponBased.h"
#include "gui/TfmFileBased.h"
#include "gui/TfmMessageBased.h"
#include "gui/TfmRejected.h"
#include "gui/TfmSettings.h"
#include "gui/TfmSplash.h"
#include "gui/TfmStatistics.h"
#include "platform/EventLoop.h"

namespace kavri::gui {

namespace {

constexpr const char* kCaption = "Kavri Tandrel - Bluetooth Proximity Marketing";
constexpr const char* kTrayHint = "Kavri Tandreln - Bluetooth Advertising System";
constexpr int kClientWidth = 643;
constexpr int kClientHeight = 387;
constexpr int kCampaignListHeight = 155;
constexpr int kStatusPanelWidth = 250;
// Where a campaign row keeps its campaign type.
constexpr int kCampaignTypeRole = Qt::UserRole + 1;

// The device list's columns; the progress column is ours, beside the three.
enum DeviceColumn { kDeviceName = 0, kDeviceType, kDeviceAddress, kDeviceProgress };

QString FromUtf8(const std::string& text) {
    return QString::fromStdString(text);
}

// A list in the report style of both lists: read-only, whole rows, grid
// lines, selection kept when focus goes.
QTreeWidget* ReportList(QWidget* parent, const std::vector<int>& widths) {
    auto* list = new QTreeWidget(parent);
    list->setRootIsDecorated(false);
    list->setItemsExpandable(false);
    list->setUniformRowHeights(true);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setStyleSheet(
        QStringLiteral("QTreeView::item { border-right: 1px solid palette(midlight);"
                       " border-bottom: 1px solid palette(midlight); }"));
    list->setContextMenuPolicy(Qt::ActionsContextMenu);
    list->setColumnCount(static_cast<int>(widths.size()));
    QPalette palette = list->palette();
    // An unfocused selection looks like a focused one.
    palette.setColor(QPalette::Inactive, QPalette::Highlight,
                     palette.color(QPalette::Active, QPalette::Highlight));
    palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     palette.color(QPalette::Active, QPalette::HighlightedText));
    list->setPalette(palette);
    for (std::size_t i = 0; i < widths.size(); ++i) {
        list->setColumnWidth(static_cast<int>(i), widths[i]);
    }
    return list;
}

}  // namespace

TfmMain::TfmMain(EventLoop& loop, const DateTimeClock& clock, MainWindowOptions options,
                 QWidget* parent)
    : QMainWindow(parent),
      m_loop(loop),
      m_dateClock(clock),
      m_options(std::move(options)),
      m_session(loop, clock, ComputerName(), [this](std::string_view key) {
          return m_language ? m_language->GetLanguageString(key) : std::string(kUndefinedText);
      }) {
    RunDialog = [](QDialog& dialog) { dialog.exec(); };
    ShowError = [this](const QString& message) {
        QMessageBox::critical(this, QString::fromLatin1(kCaption), message);
    };
    Confirm = [this](const QString& question) {
        return QMessageBox::question(this, QString::fromLatin1(kCaption), question,
                                     QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    };
    setWindowTitle(QString::fromLatin1(kCaption));
    setWindowIcon(TrayImage(1));
    CreateActions();
    CreateMenus();
    CreateToolBar();
    CreateLists();
    CreateTrayIcon();
    // Files dropped anywhere reach the window, which takes those dropped on
    // the campaign list.
    setAcceptDrops(true);
    m_statusPanel = new QLabel(this);
    m_statusPanel->setMinimumWidth(kStatusPanelWidth);
    statusBar()->addWidget(m_statusPanel);
    resize(kClientWidth, kClientHeight + menuBar()->sizeHint().height() +
                             m_toolBar->sizeHint().height() + statusBar()->sizeHint().height());
    if (const QScreen* screen = this->screen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
    WireSession();
    UpdateActions();
    UpdateStatusBar();
}

TfmMain::~TfmMain() {
    if (m_autoRunTimer != 0) {
        m_loop.StopTimer(m_autoRunTimer);
    }
    m_session.Shutdown();
}

void TfmMain::CreateActions() {
    const auto make = [this](const char* image) {
        auto* action = new QAction(this);
        if (image != nullptr) {
            action->setIcon(ToolImage(QString::fromLatin1(image)));
        }
        return action;
    };
    acSenderStart = make("start");
    acSenderStop = make("stop");
    acSenderExit = make(nullptr);
    acCampaignNewFileBased = make("new_file");
    acCampaignNewMessageBased = make("new_message");
    acCampaignNewCouponBased = make("new_coupon");
    acCampaignEdit = make("edit");
    acCampaignDelete = make("delete");
    acViewAccepted = make("accepted");
    acViewRejected = make("rejected");
    acViewBlackList = make("blacklist");
    acViewStatistics = make("statistics");
    acToolsSettings = make("settings");
    acToolsCheckCoupon = make("check_coupon");
    acToolsBlackListDevice = make("blacklist_device");
    acHelpHelp = make(nullptr);
    acHelpAbout = make(nullptr);

    connect(acSenderStart, &QAction::triggered, this, [this] { acSenderStartExecute(); });
    connect(acSenderStop, &QAction::triggered, this, [this] { m_session.Stop(); });
    connect(acSenderExit, &QAction::triggered, this, [this] { close(); });
    connect(acCampaignNewFileBased, &QAction::triggered, this,
            [this] { NewCampaign<TfmFileBased>(); });
    connect(acCampaignNewMessageBased, &QAction::triggered, this,
            [this] { NewCampaign<TfmMessageBased>(); });
    connect(acCampaignNewCouponBased, &QAction::triggered, this,
            [this] { NewCampaign<TfmCouponBased>(); });
    connect(acCampaignEdit, &QAction::triggered, this, [this] { acCampaignEditExecute(); });
    connect(acCampaignDelete, &QAction::triggered, this, [this] { acCampaignDeleteExecute(); });
    connect(acToolsBlackListDevice, &QAction::triggered, this,
            [this] { acToolsBlackListDeviceExecute(); });
    connect(acHelpHelp, &QAction::triggered, this, [this] { acHelpHelpExecute(); });
    connect(acViewBlackList, &QAction::triggered, this, [this] { OpenDialog<TfmBlackList>(); });
    connect(acViewAccepted, &QAction::triggered, this, [this] { OpenDialog<TfmAccepted>(); });
    connect(acViewRejected, &QAction::triggered, this, [this] { OpenDialog<TfmRejected>(); });
    connect(acToolsSettings, &QAction::triggered, this, [this] { OpenDialog<TfmSettings>(); });
    connect(acViewStatistics, &QAction::triggered, this, [this] { OpenDialog<TfmStatistics>(); });
    connect(acToolsCheckCoupon, &QAction::triggered, this,
            [this] { OpenDialog<TfmCheckCoupon>(); });
    connect(acHelpAbout, &QAction::triggered, this, [this] {
        TfmSplash about(this);
        about.SetAboutMode();
        about.exec();
    });
}

void TfmMain::CreateMenus() {
    m_senderMenu = menuBar()->addMenu(QString());
    m_senderMenu->addAction(acSenderStart);
    m_senderMenu->addAction(acSenderStop);
    m_senderMenu->addSeparator();
    m_senderMenu->addAction(acSenderExit);

    m_campaignMenu = menuBar()->addMenu(QString());
    m_newMenu = m_campaignMenu->addMenu(QString());
    m_newMenu->addAction(acCampaignNewFileBased);
    m_newMenu->addAction(acCampaignNewMessageBased);
    m_newMenu->addAction(acCampaignNewCouponBased);
    m_campaignMenu->addAction(acCampaignEdit);
    m_campaignMenu->addAction(acCampaignDelete);

    m_viewMenu = menuBar()->addMenu(QString());
    m_viewMenu->addAction(acViewAccepted);
    m_viewMenu->addAction(acViewRejected);
    m_viewMenu->addAction(acViewBlackList);
    m_viewMenu->addSeparator();
    m_viewMenu->addAction(acViewStatistics);

    m_toolsMenu = menuBar()->addMenu(QString());
    m_toolsMenu->addAction(acToolsSettings);
    m_toolsMenu->addAction(acToolsCheckCoupon);
    m_toolsMenu->addAction(acToolsBlackListDevice);

    m_helpMenu = menuBar()->addMenu(QString());
    m_helpMenu->addAction(acHelpHelp);
    m_helpMenu->addAction(acHelpAbout);
}

void TfmMain::CreateToolBar() {
    m_toolBar = addToolBar(QStringLiteral("Commands"));
    m_toolBar->setObjectName(QStringLiteral("ToolBar"));
    m_toolBar->setMovable(false);
    m_toolBar->setIconSize(QSize(24, 24));
    // nullptr marks a gap.
    const QAction* order[] = {acSenderStart,
                              acSenderStop,
                              nullptr,
                              acCampaignNewFileBased,
                              acCampaignNewMessageBased,
                              acCampaignNewCouponBased,
                              nullptr,
                              acCampaignEdit,
                              acCampaignDelete,
                              nullptr,
                              acViewAccepted,
                              acViewRejected,
                              acViewBlackList,
                              nullptr,
                              acViewStatistics,
                              nullptr,
                              acToolsCheckCoupon,
                              acToolsBlackListDevice,
                              nullptr,
                              acToolsSettings};
    for (const QAction* action : order) {
        if (action == nullptr) {
            m_toolBar->addSeparator();
        } else {
            m_toolBar->addAction(const_cast<QAction*>(action));
        }
    }
}

void TfmMain::CreateLists() {
    m_splitter = new QSplitter(Qt::Vertical, this);
    m_splitter->setHandleWidth(3);
    m_splitter->setChildrenCollapsible(false);

    lvCampaigns = ReportList(m_splitter, {250, 150, 150});
    lvCampaigns->setObjectName(QStringLiteral("lvCampaigns"));
    // The context menu: the "New" submenu, then Edit and Delete.
    lvCampaigns->addAction(m_newMenu->menuAction());
    lvCampaigns->addAction(acCampaignEdit);
    lvCampaigns->addAction(acCampaignDelete);

    lvDevices = ReportList(m_splitter, {150, 150, 150, 90});
    lvDevices->setObjectName(QStringLiteral("lvDevices"));
    lvDevices->addAction(acToolsBlackListDevice);

    m_splitter->addWidget(lvCampaigns);
    m_splitter->addWidget(lvDevices);
    m_splitter->setStretchFactor(0, 0);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setSizes({kCampaignListHeight, kClientHeight - kCampaignListHeight});
    setCentralWidget(m_splitter);

    connect(lvCampaigns, &QTreeWidget::itemSelectionChanged, this, [this] { UpdateActions(); });
    connect(lvDevices, &QTreeWidget::itemSelectionChanged, this, [this] { UpdateActions(); });
    // A double-click edits, where Edit may.
    connect(lvCampaigns, &QTreeWidget::itemDoubleClicked, this, [this] {
        if (acCampaignEdit->isEnabled()) {
            acCampaignEdit->trigger();
        }
    });
}

void TfmMain::CreateTrayIcon() {
    TrayIcon = new QSystemTrayIcon(this);
    TrayIcon->setToolTip(QString::fromLatin1(kTrayHint));
    m_trayMenu = new QMenu(this);
    m_trayMenu->addAction(acSenderStart);
    m_trayMenu->addAction(acSenderStop);
    m_trayMenu->addSeparator();
    m_trayMenu->addAction(acSenderExit);
    TrayIcon->setContextMenu(m_trayMenu);
    SetTrayImage(0);
    connect(TrayIcon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::DoubleClick) {
                    showNormal();
                    activateWindow();
                }
            });
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        TrayIcon->show();
    }
}

void TfmMain::WireSession() {
    m_session.OnTransportChanged = [this](bool) { UpdateActions(); };
    m_session.OnRadioChanged = [this](const TwclBluetoothRadio*) { UpdateActions(); };
    m_session.OnStarted = [this] {
        m_sent = 0;
        m_refused = 0;
        SetTrayImage(1);
        UpdateActions();
        UpdateStatusBar();
    };
    m_session.OnStopped = [this](bool) {
        lvDevices->clear();
        SetTrayImage(0);
        UpdateActions();
        UpdateStatusBar();
    };
    m_session.OnDiscoveryComplete = [this](const std::vector<DeviceRow>& rows) {
        FillDevices(rows);
    };
    m_session.OnDeviceStatus = [this](const DeviceRow& row) { SetDeviceStatus(row); };
    m_session.OnProgress = [this](const std::string& address, std::uint32_t position,
                                  std::uint32_t size) { ShowProgress(address, position, size); };
    m_session.OnCampaignsChanged = [this] { FillCampaigns(); };
    m_session.OnActiveCampaignChanged = [this](const std::string&) {
        FillCampaigns();
        UpdateStatusBar();
    };
    m_session.OnSenderEvent = [this](const SenderEvent& event) { CountSenderEvent(event); };
    m_session.OnRecordFailed = [this](const std::string& message) {
        statusBar()->showMessage(FromUtf8(message), 10000);
    };
}

Result TfmMain::FormCreate() {
    const Result opened = m_session.Open(m_options.DataFolder);
    if (!opened) {
        return opened;
    }
    m_open = true;
    m_language = std::make_unique<LanguageFile>(
        LanguageFile::Locate(m_options.LanguageFile, KAVRI_SOURCE_DIR),
        [this] { return m_session.Settings().Language(); });
    // A new language shows at once.
    m_session.Settings().OnLanguageChanged = [this] { ApplyLanguage(); };
    ApplyLanguage();
    const Result loaded = m_session.LoadStacks();
    UpdateActions();
    return loaded;
}

QString TfmMain::Text(std::string_view key, const char* builtIn) const {
    if (m_language) {
        const std::string text = m_language->GetLanguageString(key);
        if (text != kUndefinedText) {
            return FromUtf8(text);
        }
    }
    return QString::fromUtf8(builtIn);
}

void TfmMain::ApplyLanguage() {
    m_senderMenu->setTitle(Text("Main_Sender", "&Sender"));
    m_campaignMenu->setTitle(Text("Main_Campaigns", "&Campaign"));
    m_viewMenu->setTitle(Text("Main_View", "&View"));
    m_toolsMenu->setTitle(Text("Main_Tools", "&Tools"));
    m_helpMenu->setTitle(Text("Main_Help", "&Help"));
    m_newMenu->setTitle(Text("Main_New", "&New"));

    struct Command {
        QAction* action;
        const char* key;
        const char* caption;
        const char* hint;
    };
    const Command commands[] = {
        {acSenderStart, "Main_Start", "&Start", "Start sending campaigns"},
        {acSenderStop, "Main_Stop", "S&top", "Stop sending campaigns"},
        {acSenderExit, "Main_Exit", "E&xit", "Close application"},
        {acCampaignNewFileBased, "Main_File_Based", "&File based...", "Create file based campaign"},
        {acCampaignNewMessageBased, "Main_Message_Based", "&Message based...",
         "Create new message based campaign"},
        {acCampaignNewCouponBased, "Main_Coupon_Based", "&Coupon based...",
         "Create new coupon based campaign"},
        {acCampaignEdit, "Main_Edit", "&Edit...", "Edit selected campaign"},
        {acCampaignDelete, "Main_Delete", "&Delete", "Delete selected campaign"},
        {acViewAccepted, "Main_Accepted", "&Accepted...", "Show accepted devices list"},
        {acViewRejected, "Main_Rejected", "&Rejected...", "Show rejected devices list"},
        {acViewBlackList, "Main_Black_List", "&Black list...", "Show black list"},
        {acViewStatistics, "Main_Statistics", "&Statistics...", "Show statistics"},
        {acToolsSettings, "Main_Settings", "&Settings...", "Application settings"},
        {acToolsCheckCoupon, "Main_Check_Coupon", "&Check coupon...", "Check coupon"},
        {acToolsBlackListDevice, "Main_Black_List_Device", "&Blacklist device",
         "Move device to black list"},
        {acHelpHelp, "Main_Help", "&Help", "Show help"},
        {acHelpAbout, "Main_About", "&About...", "Show about dialog"},
    };
    for (const Command& command : commands) {
        command.action->setText(Text(command.key, command.caption));
        const std::string hintKey = std::string(command.key) + "_Hint";
        const QString hint = Text(hintKey, command.hint);
        command.action->setToolTip(hint);
        command.action->setStatusTip(hint);
    }

    lvCampaigns->setHeaderLabels({Text("Campaign_Name", "Name"), Text("Scheduling", "Scheduling"),
                                  Text("Main_Campaign_Type", "Type")});
    lvDevices->setHeaderLabels(
        {Text("Device_Name", "Device name"), Text("Device_Type", "Device type"),
         Text("Device_Address", "Device address"), Text("Device_Progress", "Progress")});
    if (m_open) {
        // The scheduling and type columns follow the language.
        m_session.SetTexts(m_session.Texts());
    }
    UpdateStatusBar();
}

void TfmMain::UpdateActions() {
    acSenderStart->setEnabled(m_open && m_session.StartEnabled());
    acSenderStop->setEnabled(m_open && m_session.StopEnabled());
    bool campaignEditable = false;
    if (const QTreeWidgetItem* item = lvCampaigns->currentItem();
        item != nullptr && item->isSelected() && m_open) {
        campaignEditable = item->text(0).toStdString() != m_session.ActiveCampaign();
    }
    acCampaignEdit->setEnabled(campaignEditable);
    acCampaignDelete->setEnabled(campaignEditable);
    const QTreeWidgetItem* device = lvDevices->currentItem();
    acToolsBlackListDevice->setEnabled(device != nullptr && device->isSelected());
}

void TfmMain::FillCampaigns() {
    // The selection follows its campaign through the refill.
    QString selected;
    if (const QTreeWidgetItem* item = lvCampaigns->currentItem(); item && item->isSelected()) {
        selected = item->data(0, Qt::UserRole).toString();
    }
    lvCampaigns->clear();
    QList<QTreeWidgetItem*> items;
    for (const CampaignRow& row : m_session.Table().Rows()) {
        auto* item = new QTreeWidgetItem(
            QStringList{FromUtf8(row.Name), FromUtf8(row.SchedulingText), FromUtf8(row.TypeText)});
        item->setIcon(0, CampaignStateImage(row.State));
        item->setData(0, Qt::UserRole, FromUtf8(row.FolderName));
        item->setData(0, kCampaignTypeRole, row.Type);
        items.append(item);
    }
    lvCampaigns->addTopLevelItems(items);
    for (QTreeWidgetItem* item : items) {
        if (!selected.isEmpty() && item->data(0, Qt::UserRole).toString() == selected) {
            lvCampaigns->setCurrentItem(item);
        }
    }
    UpdateActions();
}

void TfmMain::FillDevices(const std::vector<DeviceRow>& rows) {
    lvDevices->setUpdatesEnabled(false);
    lvDevices->clear();
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(rows.size()));
    for (const DeviceRow& row : rows) {
        auto* item = new QTreeWidgetItem(
            QStringList{FromUtf8(row.Name), FromUtf8(row.TypeText), FromUtf8(row.Address)});
        if (row.Status) {
            item->setIcon(kDeviceName, DeviceStatusImage(*row.Status));
        }
        items.append(item);
    }
    lvDevices->addTopLevelItems(items);
    lvDevices->setUpdatesEnabled(true);
    UpdateActions();
}

QTreeWidgetItem* TfmMain::DeviceItem(const std::string& address) const {
    const QString text = FromUtf8(address);
    for (int i = 0; i < lvDevices->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = lvDevices->topLevelItem(i);
        if (item->text(kDeviceAddress) == text) {
            return item;
        }
    }
    return nullptr;
}

void TfmMain::SetDeviceStatus(const DeviceRow& row) {
    QTreeWidgetItem* item = DeviceItem(row.Address);
    if (item == nullptr || !row.Status) {
        return;
    }
    item->setIcon(kDeviceName, DeviceStatusImage(*row.Status));
    item->setData(kDeviceName, Qt::UserRole, static_cast<int>(*row.Status));
    if (*row.Status == dsSent) {
        item->setText(kDeviceProgress, QStringLiteral("100 %"));
    } else if (*row.Status != dsSending && !item->text(kDeviceProgress).isEmpty() &&
               *row.Status != dsConnected) {
        item->setText(kDeviceProgress, QString());
    }
}

void TfmMain::ShowProgress(const std::string& address, std::uint32_t position, std::uint32_t size) {
    QTreeWidgetItem* item = DeviceItem(address);
    if (item == nullptr || size == 0) {
        return;
    }
    const std::uint64_t percent =
        std::min<std::uint64_t>(100, std::uint64_t{position} * 100 / size);
    item->setText(kDeviceProgress, QStringLiteral("%1 %").arg(percent));
}

void TfmMain::CountSenderEvent(const SenderEvent& event) {
    if (!event.Result) {
        return;
    }
    if (event.Kind == SenderEventKind::SendComplete && *event.Result == 0) {
        ++m_sent;
        UpdateStatusBar();
    } else if ((event.Kind == SenderEventKind::SendComplete ||
                event.Kind == SenderEventKind::Connected) &&
               SendingDecisions::IsRefusal(*event.Result)) {
        ++m_refused;
        UpdateStatusBar();
    }
}

QString TfmMain::StatusText() const {
    return m_statusPanel->text();
}

void TfmMain::UpdateStatusBar() {
    const std::string active = m_open ? m_session.ActiveCampaign() : std::string();
    const QString campaign =
        active.empty() ? Text("Main_NoActiveCampaign", "No active campaign") : FromUtf8(active);
    m_statusPanel->setText(Text("Main_SentRefused", "%1  |  sent %2, refused %3")
                               .arg(campaign)
                               .arg(m_sent)
                               .arg(m_refused));
}

void TfmMain::SetTrayImage(int index) {
    m_trayImage = index;
    TrayIcon->setIcon(TrayImage(index));
}

void TfmMain::acSenderStartExecute() {
    const Result started = m_session.Start();
    UpdateActions();
    if (!started) {
        ShowError(FromUtf8(started.Message));
    }
}

void TfmMain::acCampaignDeleteExecute() {
    const QTreeWidgetItem* item = lvCampaigns->currentItem();
    if (item == nullptr || !acCampaignDelete->isEnabled()) {
        return;
    }
    const std::string folderName = item->data(0, Qt::UserRole).toString().toStdString();
    if (!Confirm(Text("DeleteCampaign", "Delete the selected campaign?"))) {
        return;
    }
    if (const Result r = m_session.Store().DeleteCampaign(folderName); !r) {
        ShowError(FromUtf8(r.Message));
    }
    RefreshCampaigns();
}

void TfmMain::acCampaignEditExecute() {
    const QTreeWidgetItem* item = lvCampaigns->currentItem();
    if (item == nullptr || !acCampaignEdit->isEnabled()) {
        return;
    }
    std::unique_ptr<TfmCampaignEditor> editor;
    switch (item->data(0, kCampaignTypeRole).toInt()) {
        case kCampaignFileBased:
            editor = std::make_unique<TfmFileBased>(*this);
            break;
        case kCampaignMessageBased:
            editor = std::make_unique<TfmMessageBased>(*this);
            break;
        case kCampaignCouponBased:
            editor = std::make_unique<TfmCouponBased>(*this);
            break;
        default:
            // No editor knows this kind of campaign.
            return;
    }
    if (const Result loaded = editor->Edit(item->text(0).toStdString()); !loaded) {
        ShowError(FromUtf8(loaded.Message));
        return;
    }
    if (RunEditor(*editor)) {
        RefreshCampaigns();
    }
}

bool TfmMain::RunEditor(QDialog& editor) {
    RunDialog(editor);
    return editor.result() == QDialog::Accepted;
}

void TfmMain::RefreshCampaigns() {
    m_session.RefreshCampaigns();
    FillCampaigns();
}

void TfmMain::FilesDropped(const QStringList& paths, const QWidget* target) {
    const bool onCampaigns =
        target != nullptr && (target == lvCampaigns || lvCampaigns->isAncestorOf(target));
    if (m_open && onCampaigns && !m_session.Active()) {
        for (const QString& path : paths) {
            TfmFileBased editor(*this);
            editor.ChooseSourceFile(path);
            if (!RunEditor(editor)) {
                break;
            }
        }
    }
    if (m_open) {
        RefreshCampaigns();
    }
}

void TfmMain::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) {
        event->acceptProposedAction();
    }
}

void TfmMain::dropEvent(QDropEvent* event) {
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile()) {
            paths << url.toLocalFile();
        }
    }
    event->acceptProposedAction();
    FilesDropped(paths, childAt(event->position().toPoint()));
}

void TfmMain::acToolsBlackListDeviceExecute() {
    const QTreeWidgetItem* item = lvDevices->currentItem();
    if (item == nullptr) {
        return;
    }
    DeviceRecords records(m_session.Store());
    if (const Result r = records.AddToBlackList(item->text(kDeviceAddress).toStdString(),
                                                item->text(kDeviceName).toStdString(),
                                                item->text(kDeviceType).toStdString());
        !r) {
        ShowError(FromUtf8(r.Message));
    }
}

void TfmMain::acHelpHelpExecute() {
    const QString language = m_open ? FromUtf8(m_session.Settings().Language()) : QString();
    const QStringList names{QStringLiteral("help_") + language + QStringLiteral(".pdf"),
                            QStringLiteral("help_") + language + QStringLiteral(".chm"),
                            QStringLiteral("help.pdf"), QStringLiteral("help.chm")};
    // The working folder first, then the installed share folder.
    const QStringList folders{QDir::currentPath(), QCoreApplication::applicationDirPath() +
                                                       QStringLiteral("/../share/kavri")};
    for (const QString& folder : folders) {
        for (const QString& name : names) {
            const QFileInfo file(QDir(folder), name);
            if (file.isFile()) {
                QDesktopServices::openUrl(QUrl::fromLocalFile(file.absoluteFilePath()));
                return;
            }
        }
    }
}

std::optional<std::string> TfmMain::AutoStartEntry() const {
    return m_options.AutoStartEntry.empty() ? AutoStart::EntryPath()
                                            : std::optional(m_options.AutoStartEntry);
}

void TfmMain::StartAutoRunIfWanted() {
    const std::optional<std::string> entry = AutoStartEntry();
    if (!entry || !AutoStart(*entry).IsEnabled()) {
        return;
    }
    m_autoRunTimer = m_loop.StartTimer(std::chrono::milliseconds(1000), false, [this] {
        m_autoRunTimer = 0;
        tiAutoRunTimer();
    });
}

void TfmMain::tiAutoRunTimer() {
    if (!acSenderStart->isEnabled()) {
        return;
    }
    acSenderStart->trigger();
    showMinimized();
}

void TfmMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!m_shown) {
        m_shown = true;
        StartAutoRunIfWanted();
    }
}

void TfmMain::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    // Hidden only where a notification icon can bring it back.
    if (event->type() == QEvent::WindowStateChange && isMinimized() &&
        QSystemTrayIcon::isSystemTrayAvailable()) {
        hide();
    }
}

void TfmMain::closeEvent(QCloseEvent* event) {
    if (!m_closed) {
        m_closed = true;
        if (m_autoRunTimer != 0) {
            m_loop.StopTimer(m_autoRunTimer);
            m_autoRunTimer = 0;
        }
        // Stops the engine, frees the radio, then unloads the stacks.
        m_session.Shutdown();
        TrayIcon->hide();
        UpdateActions();
        emit Closed();
    }
    event->accept();
}

}  // namespace kavri::gui
