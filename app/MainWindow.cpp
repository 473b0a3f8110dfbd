#include "MainWindow.h"
#include "CodePages.h"
#include "DiagnosticsForm.h"
#include "WidgetFunctions.h"
#include "pages/browse/AddSharedFolderDialog.h"
#include "pages/browse/SharesForm.h"
#include "pages/chat/ChatsForm.h"
#include "pages/chat/RoomsForm.h"
#include "pages/search/SearchForm.h"
#include "pages/search/WishListSearcher.h"
#include "pages/transfers/TransfersForm.h"
#include "pages/users/UserListForm.h"
#include "pages/users/UserNoteDialog.h"
#include "peers/DNetManager.h"
#include "peers/PeerMessenger.h"
#include "server/Server.h"
#include "server/UpdateChecker.h"
#include "shares/SharedFoldersManager.h"
#include "shell/ActionSetToolBar.h"
#include "shell/ApplicationIcon.h"
#include "shell/ChangeUsernamePasswordDialog.h"
#include "shell/ColorSettings.h"
#include "shell/EventToolBar.h"
#include "shell/Kit.h"
#include "shell/QuietWindow.h"
#include "shell/SizeManager.h"
#include "shell/TabWidget.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "store/DelayedInvoker.h"
#include "store/ExtendedAsciiTranslator.h"
#include "store/Log.h"
#include "store/MemoryRelease.h"
#include "store/Settings.h"
#include "store/SlicedSweep.h"
#include "store/TimerManager.h"
#include "transfers/TransferQueueManager.h"
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QMoveEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QSpinBox>
#include <QTimer>
#include <QTreeWidget>

namespace {
const QString kConfigArea = QStringLiteral("Configuration Data");
// From a change of the download queue to its save: the changes of a burst (a
// folder added, a selection removed) go in one save. The store is read on the
// window's thread, a slice a turn: the save of a big one waits so many times
// as long as the last one took, so that it takes a small share of the window's
// time, but never longer than a minute.
constexpr int kSaveSoonMs = 2000;
constexpr int kSaveSoonFactor = 25;
constexpr int kSaveSoonLongestMs = 60000;
}

// ---- SizeProxy -------------------------------------------------------------

int MainWindow::SizeProxy::GetX()
{
    return mainWindow->geometry().left();
}
int MainWindow::SizeProxy::GetY()
{
    return mainWindow->geometry().top();
}
int MainWindow::SizeProxy::GetWidth()
{
    return mainWindow->geometry().right() - mainWindow->geometry().left() + 1;
}
int MainWindow::SizeProxy::GetHeight()
{
    return mainWindow->geometry().bottom() - mainWindow->geometry().top() + 1;
}

void MainWindow::SizeProxy::SetPosition(int x, int y)
{
    // Keep the window's top-left corner on a screen that exists now: a saved
    // position from a screen since removed would leave it out of reach.
    const QRect wanted(QPoint(x, y), mainWindow->geometry().size());
    const QScreen* screen = QGuiApplication::screenAt(wanted.topLeft());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    QPoint at(x, y);
    if (screen && !screen->availableGeometry().contains(at)) {
        const QRect area = screen->availableGeometry();
        at.setX(qBound(area.left(), x, std::max(area.left(), area.right() - 100)));
        at.setY(qBound(area.top(), y, std::max(area.top(), area.bottom() - 100)));
    }
    mainWindow->setGeometry(QRect(at, mainWindow->geometry().size()));
}

void MainWindow::SizeProxy::SetSize(int width, int height)
{
    // No stored size (0) or a nonsensical one keeps the window as built.
    if (width < 100 || height < 100)
        return;
    if (const QScreen* screen = mainWindow->screen()) {
        width = std::min(width, screen->availableGeometry().width());
        height = std::min(height, screen->availableGeometry().height());
    }
    const QRect g = mainWindow->geometry();
    mainWindow->setGeometry(QRect(g.left(), g.top(), width, height));
}

// ---- Construction ----------------------------------------------------------

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
    , m_ui(std::make_unique<Ui_MainWindow>())
    , m_updateChecker(std::make_unique<UpdateChecker>())
{
    mainWindow = this;
    new ApplicationIcon(this);
    m_ui->setupUi(this);
    Ui_MainWindow& ui = *m_ui;

    // The connections the widget tree makes; the others are made by Init.
    connect(
        ui.optionsTabControl, &QTabWidget::currentChanged, this, &MainWindow::OnOptionsTabSelectionChanged);
    connect(ui.uPnPCheckBox, &QCheckBox::toggled, this, &MainWindow::OnUPnPCheckboxToggled);
    connect(ui.acceptUserListUploadsCheckBox, &QCheckBox::toggled, this,
        &MainWindow::OnAcceptUserlistUploadsCheckboxToggled);
    connect(ui.selectPictureButton, &QPushButton::clicked, this, &MainWindow::OnSelectPictureClicked);
    connect(ui.userDescriptionEdit, &QPlainTextEdit::textChanged, this, &MainWindow::OnUserInfoTextChanged);
    connect(ui.clearPictureButton, &QPushButton::clicked, this, &MainWindow::OnClearPictureClicked);
    connect(ui.checkPortsButton, &QPushButton::clicked, this, &MainWindow::OnCheckPortsClicked);
    connect(ui.userLevelLoggingCheckBox, &QCheckBox::clicked, this, &MainWindow::OnUserLevelLoggingClicked);
    connect(ui.editExcludedExtensionsButton, &QPushButton::clicked, this,
        &MainWindow::OnEditExcludedDownloadExtensionsClicked);
    connect(ui.importUserListButton, &QPushButton::clicked, this, &MainWindow::OnImportUserListClicked);

    SetApplicationIcon(QStringLiteral(":/icons/offline_icon"));
    ui.sharedFoldersList->setColumnWidth(0, 400);
    ui.sharedFoldersList->setHeaderLabels(
        { QStringLiteral("Shared folder"), QStringLiteral("Accessible to") });
}

QString MainWindow::DataFilePath()
{
    return QDir::homePath() + QStringLiteral("/.Marrowby");
}

// ---- Start-up --------------------------------------------------------------

void MainWindow::Init()
{
    Ui_MainWindow& ui = *m_ui;
    setWindowTitle(QStringLiteral("MarrowbyQt build %1/%2/%3")
                       .arg((g_currentVersion % 10000) / 100)
                       .arg(g_currentVersion % 100)
                       .arg(g_currentVersion / 10000));

    CreateCore();

    // The pages that must see the load.
    ui.transfersForm->Init();
    ui.sharesForm->Init();
    ui.searchForm->Init();
    new WishListSearcher(this);

    setContextMenuPolicy(Qt::NoContextMenu);
    new EventToolBar(nullptr);
    addToolBarBreak(Qt::TopToolBarArea);
    addToolBar(Qt::TopToolBarArea, eventToolBar);

    settings.Watch(this, "username", [this](ItemPtr value) { OnUsernameChanged(value); });
    connect(gp_server, &Server::ConnectionFailed, this, &MainWindow::OnConnectionFailed);

    WriteDefaults();

    connect(ui.logRoomChatCheckBox, &QCheckBox::clicked, this, &MainWindow::OnLogRoomChatCheckBoxClicked);
    connect(
        ui.logPrivateChatCheckBox, &QCheckBox::clicked, this, &MainWindow::OnLogPrivateChatCheckBoxClicked);
    connect(ui.emptyShareWarningCheckBox, &QCheckBox::clicked, this,
        &MainWindow::OnEmptyShareWarningMessageCheckBoxClicked);
    settings.Watch(this, "obfuscated_listening_port", [this](ItemPtr value) { OnObfuscatedPortSet(value); });
    // Typing into the box applies the number when editing ends, not at every
    // keystroke (a first digit 1 would be raised to 10 under the user's hands).
    ui.maxUploadsPerUserSpinBox->setKeyboardTracking(false);
    connect(ui.maxUploadsPerUserSpinBox, &QSpinBox::valueChanged, this,
        &MainWindow::OnMaxUploadsPerUserSpinBoxValueChanged);
    new ExtendedAsciiTranslator();
    ui.codePageBox->addItem(QStringLiteral("[None]"));
    ui.codePageBox->addItems(AvailableCodePages());
    connect(ui.codePageBox, &QComboBox::currentIndexChanged, this, &MainWindow::OnCodePageSelected);
    ui.userListForm->Init();

    LoadDataFile();
    g_dataLoaded = true;
    // Values that were in place before the watches began show as well.
    OnUsernameChanged(settings.ValueItem("username"));
    if (settings.Has("obfuscated_listening_port"))
        OnObfuscatedPortSet(ItemPtr());

    if (settings.IsYes("show_diagnostics"))
        ui.tabControl->addTab(diagnosticsForm, QStringLiteral("Diagnostics"));
    ui.roomsForm->Init();
    const QString codePage = settings.Get("extended_ascii_codepage");
    if (!codePage.isEmpty()) {
        const int at = ui.codePageBox->findText(codePage, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (at >= 0)
            ui.codePageBox->setCurrentIndex(at);
    }
    ApplyColorSettings();
    settings.Set("data_version", "1");

    if (!settings.Has("username"))
        RunFirstStart();
    if (settings.Has("username"))
        gp_server->Connect();

    FillOptions();
    sizeManager->RegisterResizableWindow(QStringLiteral("main_window"), &m_sizeProxy);
    connect(timerManager->FiveMinuteTimer(), &QTimer::timeout, this, &MainWindow::EveryFiveMinutes);
    connect(timerManager->HourTimer(), &QTimer::timeout, this, &MainWindow::EveryHour);

    UserNoteDialog::Init();
    activateWindow();
    sharedFoldersManager->Init();
    connect(sharedFoldersManager, &SharedFoldersManager::SharedFilesRescanned, this,
        &MainWindow::OnSharedFilesRescanned);
    RegisterWidgetForTabFocus(ui.usernameEdit, 1);
    RegisterWidgetForTabFocus(ui.sharedFoldersList, 1);

    ui.chatsForm->Init();
    d.DeclareType("chat_log_form", kEntity);
    d.RelateTypes(d.GetType("chat_log_form"), d.GetType("room"), One, One);
    d.RelateTypes(d.GetType("chat_log_form"), d.GetType("user"), One, One);
    actionBar->AddSetAction(QStringLiteral("chat_log"), QStringLiteral("clear_chat_log"),
        QStringLiteral("Clear Log"), QStringLiteral(":/icons/empty_note_icon"), false);
    actionBar->AddSetAction(QStringLiteral("chat_log"), QStringLiteral("open_log_folder"),
        QStringLiteral("Open Log Folder"), QStringLiteral(":/icons/browse_icon"), false);
    actionBar->AddSetAction(QStringLiteral("user_chat"), QStringLiteral("user_chat_log"),
        QStringLiteral("Chat Log"), QStringLiteral(":/icons/note_icon"), false);

    FillMoreOptions();
    // The first keys typed go to the page shown, to its list or input.
    FindWidgetFocusProperty(ui.tabControl->currentWidget(), 0);
}

void MainWindow::CreateCore()
{
    Ui_MainWindow& ui = *m_ui;
    new TimerManager();
    new DataSaver(&d);
    m_server = new Server();

    Settings::CreateTypes();
    dataSaver->AddSavedType("global");
    dataSaver->AddSavedByConnectionType("global_value", "global");

    gp_server->CreateData();
    qRegisterMetaType<ItemPtr>("ItemPtr");
    connect(gp_server, &Server::Connected, this, &MainWindow::OnConnected);
    connect(gp_server, &Server::Connecting, this, &MainWindow::OnConnecting);
    connect(gp_server, &Server::Disconnected, this, &MainWindow::OnDisconnected);

    actionBar->Init();
    DeclareActionSets();
    actionBar->RegisterWidget(ui.fileSharingOptionsTab, QStringLiteral("shared_folders"));
    actionBar->RegisterWidget(ui.loginOptionsTab, QStringLiteral("login_options"));
    connect(actionBar, &ActionSetToolBar::ActionTriggered, this, &MainWindow::OnToolBarActionTriggered);

    new PeerMessenger();
    DeclareTypes();

    new DelayedInvoker();
    new DNetManager();
    new SharedFoldersManager(this);

    d.DeclareType("user_chat_widget", kEntity);
    d.RelateTypes(d.GetType("user_chat_widget"), d.GetType("user"), One, One);

    connect(gp_server, &Server::PrivateChat, this, &MainWindow::OnPrivateChat);

    Type* folders = d.GetType("shared_folder");
    Subscribe(folders->itemAdded, &MainWindow::OnSharedFolderAdded);
    Subscribe(folders->itemRemoved, &MainWindow::OnSharedFolderRemoved);
    Subscribe(folders->connected, &MainWindow::OnSharedFolderChange);
    Subscribe(folders->disconnected, &MainWindow::OnSharedFolderChange);

    new SizeManager(nullptr);
    (new DiagnosticsForm(nullptr))->Init();
    diagnosticsForm->RegisterLoggableItemType("user");

    new TransferQueueManager();
    connect(transferQueueManager, &TransferQueueManager::DownloadQueueChanged, this, &MainWindow::SaveSoon);
    new MemoryRelease(&d, this);
}

void MainWindow::DeclareActionSets()
{
    const QString browse = QStringLiteral(":/icons/browse_icon");
    const QString online = QStringLiteral(":icons/online_icon");
    const QString shared = QStringLiteral("shared_folders");
    const QString login = QStringLiteral("login_options");
    actionBar->AddSetAction(
        shared, QStringLiteral("set_download_folder"), QStringLiteral("Set Download Folder"), browse, false);
    actionBar->AddSetAction(
        shared, QStringLiteral("share_folder"), QStringLiteral("Share Folder"), browse, false);
    actionBar->AddSetAction(
        shared, QStringLiteral("rescan_shares"), QStringLiteral("Rescan Shares"), browse, false);
    actionBar->AddSetAction(
        login, QStringLiteral("connect_disconnect"), QStringLiteral("Connect"), online, false);
    actionBar->AddSetAction(
        login, QStringLiteral("set_user_pass"), QStringLiteral("Change Username/Password"), online, false);
    actionBar->AddSetAction(
        login, QStringLiteral("set_listening_port"), QStringLiteral("Change Listening Port"), online, false);
}

void MainWindow::DeclareTypes()
{
    // The search and users pages may have declared these first.
    Type* wish = d.DeclareType("wish_list_item", kEntity);
    Type* enabled = d.DeclareType("wish_list_item_enabled", kAttribute, true);
    d.RelateTypes(wish, enabled, Many, One);
    dataSaver->AddSavedType("wish_list_item");
    dataSaver->AddSavedType("wish_list_item_enabled");
    Type* note = d.DeclareType("user_note", kLink);
    d.RelateTypes(note, d.GetType("user"), One, Many);
    dataSaver->AddSavedType("user_note");
    dataSaver->AddSavedByConnectionType("user", "user_note");
}

void MainWindow::LoadDataFile()
{
    const QString path = DataFilePath();
    Log(kConfigArea, 1, QStringLiteral("Loading configuration data from %1").arg(path));
    try {
        dataSaver->Load(path);
        Log(kConfigArea, 1, QStringLiteral("Data loaded successfully."));
    } catch (const DataLoadFailure&) {
        Log(kConfigArea, 1, QStringLiteral("Failure to load configuration data."));
        // The damaged file is never lost: say where it is.
        const QString kept = dataSaver->KeptAsidePath();
        const QString where = kept.isEmpty()
            ? QStringLiteral(
                "The file %1 could not be moved aside: it stays as it is, and nothing is saved over "
                "it.")
                  .arg(path)
            : QStringLiteral("The damaged file was kept as %1.").arg(kept);
        QMessageBox box(QMessageBox::Information, QStringLiteral("Error loading configuration data"),
            QStringLiteral(
                "Your client configuration data could not be loaded (%1). %2 Starting from scratch...")
                .arg(dataSaver->LastError(), where),
            QMessageBox::Ok, this);
        box.setTextFormat(Qt::PlainText);
        box.exec();
    }
}

void MainWindow::RunFirstStart()
{
    auto* userDialog = new ChangeUsernamePasswordDialog(true, nullptr);
    userDialog->exec();
    const auto answer = QMessageBox::question(nullptr, QStringLiteral("Share a folder?"),
        QStringLiteral("Many Marrowby users require that you share something before downloading from them. "
                       "Would you like to share a folder now?"),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    if (answer == QMessageBox::Yes) {
        QPointer<AddSharedFolderDialog> folderDialog = new AddSharedFolderDialog(ItemPtr(), this);
        folderDialog->exec();
    }
    QMessageBox::information(nullptr, QStringLiteral("In the future"),
        QStringLiteral(
            "You can always share additional folders by clicking the Share Folder button when viewing "
            "the Options->File Sharing tab."));
    delete userDialog;
}

// ---- Periodic work and saving ----------------------------------------------

void MainWindow::EveryFiveMinutes()
{
    // A slice at a time; a cycle still under way goes on.
    if (!m_sweep)
        m_sweep = std::make_unique<SlicedSweep>(&d);
    m_sweep->Start();
}

void MainWindow::EveryHour()
{
    // Written off this thread, as a save after a change is; the sweep every
    // five minutes keeps unreachable items out of it.
    SaveInBackground(true);
}

void MainWindow::SaveSoon()
{
    if (!g_dataLoaded || g_showIsOver || !dataSaver)
        return;
    if (!m_saveSoon) {
        m_saveSoon = new QTimer(this);
        m_saveSoon->setSingleShot(true);
        m_saveSoon->setInterval(kSaveSoonMs);
        connect(m_saveSoon, &QTimer::timeout, this, [this] { SaveInBackground(false); });
    }
    if (!m_saveSoon->isActive())
        m_saveSoon->start();
}

void MainWindow::SaveInBackground(bool hourly)
{
    // Once the close has saved, the window's end writes what changed since.
    if (g_showIsOver || !dataSaver || (m_closeSaved && !isVisible()))
        return;
    // The file being written holds an older state: the next save follows it.
    if (dataSaver->Saving()) {
        SaveSoon();
        if (m_saveSoon)
            m_saveSoon->start();
        return;
    }
    QElapsedTimer took;
    took.start();
    dataSaver->SaveInBackground(DataFilePath(), [this, took, hourly](bool saved) {
        if (m_saveSoon)
            m_saveSoon->setInterval(int(
                qBound(qint64(kSaveSoonMs), kSaveSoonFactor * took.elapsed(), qint64(kSaveSoonLongestMs))));
        if (saved) {
            m_saveWarned = false;
            return;
        }
        Log(kConfigArea, 1,
            (hourly ? QStringLiteral("The hourly save of the configuration data failed: %1")
                    : QStringLiteral("Saving the configuration data after a change failed: %1"))
                .arg(dataSaver->LastError()));
        qWarning("MainWindow: a save in the background failed");
        // A failure is said once until a save succeeds again; the next
        // change, or the hour, tries again. The close's own save says it
        // while the window closes.
        if ((hourly || isVisible()) && !m_closing)
            WarnSaveFailed();
    });
}

void MainWindow::WarnSaveFailed()
{
    // A box still open says it already.
    if (m_saveWarned || m_saveWarning)
        return;
    m_saveWarned = true;
    // The hourly timer's box: it comes up while the user does something else.
    m_saveWarning = QuietWindow::Notice(this, QMessageBox::Warning, QStringLiteral("Could not save"),
        SaveFailureText() + QStringLiteral(" The client keeps running and tries again in an hour."));
}

QString MainWindow::SaveFailureText() const
{
    return QStringLiteral("Your client configuration data could not be saved to %1: %2.")
        .arg(DataFilePath(), dataSaver ? dataSaver->LastError() : QString());
}

bool MainWindow::AskRetrySave()
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Could not save"),
        SaveFailureText()
            + QStringLiteral(
                " Quitting now loses the changes made since the last save. Retry once the cause is "
                "gone (room made, the folder writable again), or quit anyway."),
        QMessageBox::NoButton, this);
    box.setTextFormat(Qt::PlainText);
    QPushButton* retry = box.addButton(QMessageBox::Retry);
    box.addButton(QStringLiteral("Quit Anyway"), QMessageBox::DestructiveRole);
    // Escape or the box's own close button lose nothing: they ask again.
    box.setDefaultButton(retry);
    box.setEscapeButton(retry);
    box.exec();
    // No button at all: the program is being ended (a termination signal).
    return box.clickedButton() == retry;
}

void MainWindow::SaveData()
{
    if (g_showIsOver || !dataSaver)
        return;
    d.RemoveDisconnectedItems();
    dataSaver->Save(DataFilePath());
}

bool MainWindow::TrySaveData(const QString& when)
{
    try {
        SaveData();
        m_saveWarned = false;
        return true;
    } catch (const DataSaveFailure&) {
        Log(kConfigArea, 1,
            QStringLiteral("The %1 save of the configuration data failed: %2")
                .arg(when, dataSaver ? dataSaver->LastError() : QString()));
        qWarning("MainWindow: the %s save failed", qPrintable(when));
        return false;
    }
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    if (!isMaximized())
        m_sizeProxy.EmitResized(event->size().width(), event->size().height());
}

void MainWindow::moveEvent(QMoveEvent* event)
{
    QMainWindow::moveEvent(event);
    // The geometry without the frame, as GetX/GetY read it and SetPosition
    // applies it; the event's position includes the frame, and restoring it
    // would move the window by the frame's width at every start.
    if (!isMaximized())
        m_sizeProxy.EmitMoved(geometry().x(), geometry().y());
}

// ---- Shutdown --------------------------------------------------------------

void MainWindow::closeEvent(QCloseEvent* event)
{
    // A second close while the question is open is the same quit.
    if (m_closing) {
        event->ignore();
        return;
    }
    // Before the load there is nothing of the user's to save yet.
    if (g_dataLoaded && !g_showIsOver) {
        m_closing = true;
        bool saved;
        while (!(saved = TrySaveData(QStringLiteral("closing"))) && AskRetrySave()) { }
        m_closing = false;
        // The end writes the file again only when what it holds changed.
        if (saved && dataSaver) {
            m_closeSaved = true;
            dataSaver->WatchForChanges();
        }
    }
    QMainWindow::closeEvent(event);
}

MainWindow::~MainWindow()
{
    // Files being begun or filed end first: the last save holds their rows
    // as they are then.
    if (transferQueueManager)
        transferQueueManager->FinishDiskSteps();
    if (!m_closeSaved || (dataSaver && dataSaver->ChangedSinceWatch()))
        TrySaveData(QStringLiteral("final"));
    g_showIsOver = true;
    if (gp_server)
        gp_server->Disconnect();
    delete transferQueueManager;
    delete sharedFoldersManager;
    delete delayedInvoker;
    delete dnetManager;
    delete peerMessenger;
    delete m_server;
    m_server = nullptr;
    delete dataSaver;
    delete timerManager;
    m_ui.reset();
    delete sizeManager;
    if (mainWindow == this)
        mainWindow = nullptr;
}

// ---- Application icon, tray ------------------------------------------------
// The icon and the tray live in the kit's ApplicationIcon, which the tool bars
// reach without this window.

void MainWindow::SetApplicationIcon(const QString& iconPath)
{
    applicationIcon->SetApplicationIcon(iconPath);
}
void MainWindow::ResetApplicationIcon()
{
    applicationIcon->ResetApplicationIcon();
}
void MainWindow::PopupAlert(const QString& text)
{
    applicationIcon->PopupAlert(text);
}

void MainWindow::OnTrayIconActivated(QSystemTrayIcon::ActivationReason reason)
{
    applicationIcon->OnTrayIconActivated(reason);
}
