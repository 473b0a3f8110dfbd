// The Options pages: defaults of the window's settings, the palette, filling
// the option widgets from the settings at start-up, and the slots that write
// them back. Every widget writes its setting at once; check boxes write "yes"
// or "no".
#include "MainWindow.h"
#include "peers/DNetManager.h"
#include "peers/PeerMessenger.h"
#include "server/PortForwarder.h"
#include "server/Server.h"
#include "server/UpdateChecker.h"
#include "shell/ApplicationIcon.h"
#include "shell/ColorSettings.h"
#include "shell/Kit.h"
#include "shell/TabWidget.h"
#include "store/Data.h"
#include "store/ExtendedAsciiTranslator.h"
#include "store/Settings.h"
#include "DiagnosticsForm.h"
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>

namespace {
const char* const kTimestampValues[] = { "activity_based", "per_message_short", "per_message_long" };
} // namespace

void MainWindow::WriteDefaults()
{
    settings.Set("minimize_to_tray", "yes");
    settings.Set("expand_new_shares", "yes");
    settings.Set("chat_timestamps", "activity_based");
    settings.Set("first_open_tab", "rooms");
    WriteColorDefaults();
    settings.Set("log_room_chat", "yes");
    settings.Set("log_private_chat", "yes");
}

void MainWindow::FillOptions()
{
    Ui_MainWindow& ui = *m_ui;
    ui.downloadFolderEdit->setText(settings.Get("download_folder"));
    ui.uPnPCheckBox->setChecked(settings.IsYes("use_upnp"));
    ui.autoExpandSharesCheckBox->setChecked(settings.IsYes("expand_new_shares"));
    ui.useOldStyleSearchResultsCheckBox->setChecked(settings.IsYes("use_old_style_search_results"));
    ui.showDiagnosticsCheckBox->setChecked(settings.IsYes("show_diagnostics"));
    ui.dontDownloadSingleFilesIntoSubfolders->setChecked(settings.IsYes("dont_create_subfolders_for_single_downloads"));
    connect(ui.useOldStyleSearchResultsCheckBox, &QCheckBox::clicked, this,
        &MainWindow::OnUseOldStyleSearchResultsCheckboxToggled);
    connect(ui.showDiagnosticsCheckBox, &QCheckBox::clicked, this, &MainWindow::OnShowDiagnosticsCheckboxToggled);
    connect(ui.dontDownloadSingleFilesIntoSubfolders, &QCheckBox::clicked, this,
        &MainWindow::OnDontCreateSubfoldersForSingleDownloads);
    connect(ui.minimizeToTrayCheckBox, &QCheckBox::clicked, this, &MainWindow::OnMinimizeToTrayCheckboxToggled);
    connect(ui.autoExpandSharesCheckBox, &QCheckBox::clicked, this, &MainWindow::OnExpandNewSharesCheckboxToggled);
    connect(ui.chatTimestampsBox, &QComboBox::currentIndexChanged, this, &MainWindow::OnChatTimestampsBoxIndexChanged);
    connect(ui.showAwayStatusCheckBox, &QCheckBox::clicked, this, &MainWindow::OnShowAwayStatusClicked);
    connect(ui.selectColorsButton, &QPushButton::clicked, this, &MainWindow::OnSelectColors);
    if (settings.IsYes("minimize_to_tray")) {
        ui.minimizeToTrayCheckBox->setChecked(true);
        applicationIcon->TrayIcon()->show();
    }
    ui.listeningPortEdit->setText(settings.Get("listening_port"));
    // Listening has run with the data file's load; it may run again at a login.
    const auto showListeningProblem = [this] {
        const QString problem = peerMessenger->ListeningProblem();
        m_ui->listeningProblemLabel->setText(problem);
        m_ui->listeningProblemLabel->setVisible(!problem.isEmpty());
    };
    connect(peerMessenger, &PeerMessenger::ListeningChanged, this, showListeningProblem);
    showListeningProblem();

    settings.Watch(this, "new_listening_port", [this](ItemPtr value) { OnNewListeningPortChanged(value); });

    const QString timestamps = settings.Get("chat_timestamps");
    int index = 3;
    for (int i = 0; i < 3; ++i) {
        if (timestamps == QLatin1String(kTimestampValues[i]))
            index = i;
    }
    if (ui.chatTimestampsBox->currentIndex() == index)
        OnChatTimestampsBoxIndexChanged(index);
    else
        ui.chatTimestampsBox->setCurrentIndex(index);

    const QString first = settings.Get("first_open_tab");
    const std::pair<const char*, int> tabs[] = { { "transfers", 0 }, { "rooms", 1 }, { "search", 3 }, { "users", 4 } };
    for (int i = 0; i < 4; ++i) {
        if (first == QLatin1String(tabs[i].first)) {
            ui.firstOpenTabBox->setCurrentIndex(i);
            ui.tabControl->setCurrentIndex(tabs[i].second);
        }
    }
    connect(ui.firstOpenTabBox, &QComboBox::currentIndexChanged, this, &MainWindow::OnFirstOpenTabBoxIndexChanged);
}

void MainWindow::FillMoreOptions()
{
    Ui_MainWindow& ui = *m_ui;
    ui.logRoomChatCheckBox->setChecked(settings.IsYes("log_room_chat"));
    ui.logPrivateChatCheckBox->setChecked(settings.IsYes("log_private_chat"));
    ui.emptyShareWarningCheckBox->setChecked(settings.IsYes("check_for_empty_shares"));
    ui.emptyShareWarningEdit->setText(settings.Get("empty_share_message"));
    ui.emptyShareWarningEdit->setCursorPosition(0);
    ui.acceptUserListUploadsCheckBox->setChecked(settings.IsYes("accept_userlist_uploads"));
    connect(ui.emptyShareWarningEdit, &QLineEdit::textEdited, this, &MainWindow::OnEmptyShareWarningEditEdited);
    connect(ui.saveEmptyShareWarningMessageButton, &QPushButton::clicked, this,
        &MainWindow::OnSaveEmptyShareWarningMessageButtonClicked);

    m_updateChecker->Init();
    connect(m_updateChecker.get(), &UpdateChecker::NewVersion, this, &MainWindow::OnNewVersion);

    ui.maxUploadsPerUserSpinBox->setValue(settings.GetInt("max_queued_uploads_per_user"));
    ui.sharedFoldersList->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui.sharedFoldersList, &QTreeWidget::customContextMenuRequested, this,
        &MainWindow::OnSharedFoldersListContextMenuRequested);
    ui.userPictureFilenameEdit->setText(settings.Get("user_picture_file"));
    ui.userDescriptionEdit->setPlainText(settings.Get("user_description"));
    const std::pair<QCheckBox*, const char*> flags[] = {
        { ui.showAwayStatusCheckBox, "show_away_status_in_application_icon" },
        { ui.userLevelLoggingCheckBox, "user_level_logging" },
        { ui.openGroupsOnUserAddCheckBox, "open_groups_on_user_add" },
        { ui.showEventButtonsCheckBox, "show_event_buttons" },
    };
    for (const auto& [box, key] : flags) {
        if (settings.IsYes(key))
            box->setChecked(true);
    }
    connect(ui.showEventButtonsCheckBox, &QCheckBox::clicked, this, &MainWindow::OnShowEventButtonsClicked);
    connect(ui.openGroupsOnUserAddCheckBox, &QCheckBox::clicked, this, &MainWindow::OnOpenGroupsOnUserAddClicked);

    connect(gp_server, &Server::AdminMessage, this, &MainWindow::OnAdminMessage);

    Type* extensions = d.GetType("excluded_download_extension");
    Subscribe(extensions->itemAdded, &MainWindow::OnExcludedDownloadExtensionAddedOrRemoved);
    SubscribeFunction(extensions->itemRemoved, [this](ItemPtr item) {
        m_removingExtension = item;
        OnExcludedDownloadExtensionAddedOrRemoved(item);
        m_removingExtension = ItemPtr();
    });
    OnExcludedDownloadExtensionAddedOrRemoved(ItemPtr());

    ConnectSoundRows();
}

// ---- Check boxes -----------------------------------------------------------

void MainWindow::SetFlag(const char* key, bool on)
{
    settings.Set(key, on ? "yes" : "no");
}

void MainWindow::OnUPnPCheckboxToggled(bool on)
{
    SetFlag("use_upnp", on);
    if (on && portForwarder)
        portForwarder->Init();
}

void MainWindow::OnAcceptUserlistUploadsCheckboxToggled(bool on) { SetFlag("accept_userlist_uploads", on); }
void MainWindow::OnEmptyShareWarningMessageCheckBoxClicked(bool on) { SetFlag("check_for_empty_shares", on); }
void MainWindow::OnDontCreateSubfoldersForSingleDownloads(bool on)
{
    SetFlag("dont_create_subfolders_for_single_downloads", on);
}
void MainWindow::OnUseOldStyleSearchResultsCheckboxToggled(bool on) { SetFlag("use_old_style_search_results", on); }
void MainWindow::OnExpandNewSharesCheckboxToggled(bool on) { SetFlag("expand_new_shares", on); }
void MainWindow::OnOpenGroupsOnUserAddClicked(bool on) { SetFlag("open_groups_on_user_add", on); }
void MainWindow::OnShowEventButtonsClicked(bool on) { SetFlag("show_event_buttons", on); }
void MainWindow::OnLogRoomChatCheckBoxClicked(bool on) { SetFlag("log_room_chat", on); }
void MainWindow::OnLogPrivateChatCheckBoxClicked(bool on) { SetFlag("log_private_chat", on); }
void MainWindow::OnUserLevelLoggingClicked(bool on) { SetFlag("user_level_logging", on); }

void MainWindow::OnMinimizeToTrayCheckboxToggled(bool on)
{
    SetFlag("minimize_to_tray", on);
    applicationIcon->TrayIcon()->setVisible(on);
}

void MainWindow::OnShowAwayStatusClicked(bool on)
{
    SetFlag("show_away_status_in_application_icon", on);
    ResetApplicationIcon();
}

void MainWindow::OnShowDiagnosticsCheckboxToggled(bool on)
{
    SetFlag("show_diagnostics", on);
    TabWidget* tabs = m_ui->tabControl;
    const int at = tabs->indexOf(diagnosticsForm);
    if (on && at < 0)
        tabs->addTab(diagnosticsForm, QStringLiteral("Diagnostics"));
    else if (!on && at >= 0)
        tabs->removeTab(at);
}

// ---- Combo boxes, fields ---------------------------------------------------

void MainWindow::OnFirstOpenTabBoxIndexChanged(int index)
{
    const char* values[] = { "transfers", "rooms", "search" };
    settings.Set("first_open_tab", index >= 0 && index < 3 ? values[index] : "users");
}

void MainWindow::OnChatTimestampsBoxIndexChanged(int index)
{
    settings.Set("chat_timestamps", index >= 0 && index < 3 ? kTimestampValues[index] : "no_timestamps");
}

void MainWindow::OnCodePageSelected(int index)
{
    if (!extendedAsciiTranslator)
        return;
    if (index <= 0)
        extendedAsciiTranslator->SetCodePage(std::string());
    else
        extendedAsciiTranslator->SetCodePage(m_ui->codePageBox->itemText(index).toLatin1().toStdString());
}

void MainWindow::OnUserInfoTextChanged()
{
    settings.Set("user_description", Value(m_ui->userDescriptionEdit->toPlainText()));
}

void MainWindow::OnEmptyShareWarningEditEdited(const QString& text)
{
    m_ui->saveEmptyShareWarningMessageButton->setEnabled(!text.trimmed().isEmpty());
}

void MainWindow::OnSaveEmptyShareWarningMessageButtonClicked()
{
    settings.Set("empty_share_message", Value(m_ui->emptyShareWarningEdit->text()));
    m_ui->emptyShareWarningEdit->setCursorPosition(0);
    m_ui->saveEmptyShareWarningMessageButton->setEnabled(false);
}

void MainWindow::OnMaxUploadsPerUserSpinBoxValueChanged(int value)
{
    if (value <= 9) {
        settings.Set("max_queued_uploads_per_user", "10");
        m_ui->maxUploadsPerUserSpinBox->setValue(10);
        return;
    }
    settings.Set("max_queued_uploads_per_user", Value(QString::number(value)));
}

void MainWindow::OnOptionsTabSelectionChanged(int i_tab)
{
    TabWidget* tabs = m_ui->optionsTabControl;
    if (i_tab >= 0 && i_tab < tabs->count() && tabs->tabText(i_tab) == QLatin1String("File Sharing")
        && m_ui->sharedFoldersList->isVisible())
        m_ui->sharedFoldersList->setFocus();
}

// ---- Picture and sounds ----------------------------------------------------

void MainWindow::OnSelectPictureClicked()
{
    const QString path = QFileDialog::getOpenFileName(
        this, QStringLiteral("Select Picture"), ChooserStart(settings.Get("user_picture_file")));
    if (path.isEmpty())
        return;
    const QString stored = QDir::fromNativeSeparators(path);
    settings.Set("user_picture_file", Value(stored));
    m_ui->userPictureFilenameEdit->setText(stored);
}

void MainWindow::OnClearPictureClicked()
{
    settings.Clear("user_picture_file");
    m_ui->userPictureFilenameEdit->clear();
}

void MainWindow::SelectSoundFile(const char* key, QLineEdit* edit)
{
    const QString path = QFileDialog::getOpenFileName(
        this, QStringLiteral("Select Wave File"), ChooserStart(edit->text()), QStringLiteral("Wave Files (*.wav)"));
    if (path.isEmpty())
        return;
    const QString stored = QDir::fromNativeSeparators(path);
    d.GetType("event_sound")->GetItem(key) += d.GetType("event_sound_file")->GetItem(Value(stored));
    edit->setText(stored);
}

void MainWindow::ClearSoundFile(const char* key, QLineEdit* edit)
{
    d.GetType("event_sound")->GetItem(key).Disconnect("event_sound_file");
    edit->clear();
}

void MainWindow::ConnectSoundRows()
{
    Ui_MainWindow& ui = *m_ui;
    const struct {
        const char* key;
        QLineEdit* edit;
        QPushButton* select;
        QPushButton* clear;
    } rows[] = {
        { "default", ui.defaultSoundEdit, ui.defaultSoundSelectFileButton, ui.defaultSoundClearButton },
        { "private_chat", ui.privateChatSoundEdit, ui.privateChatSoundSelectFileButton, ui.privateChatSoundClearButton },
        { "room_chat", ui.roomChatSoundEdit, ui.roomChatSoundSelectFileButton, ui.roomChatSoundClearButton },
        { "wishlist", ui.wishlistResultsSoundEdit, ui.wishlistResultsSoundSelectFileButton,
            ui.wishlistResultsSoundClearButton },
        { "browse", ui.shareBrowseSoundEdit, ui.shareBrowseSoundSelectFileButton, ui.shareBrowseSoundClearButton },
        { "download", ui.downloadAlertSoundEdit, ui.downloadAlertSoundSelectFileButton,
            ui.downloadAlertSoundClearButton },
        { "user_online", ui.userOnlineAlertSoundEdit, ui.userOnlineAlertSoundSelectFileButton,
            ui.userOnlineAlertSoundClearButton },
        { "user_info", ui.userInfoSoundEdit, ui.userInfoSoundSelectFileButton, ui.userInfoSoundClearButton },
    };
    Type* sounds = d.GetType("event_sound");
    for (const auto& row : rows) {
        row.edit->setText(sounds->GetItem(row.key)["event_sound_file"].AsString());
        const char* key = row.key;
        QLineEdit* edit = row.edit;
        connect(row.select, &QPushButton::clicked, this, [this, key, edit] { SelectSoundFile(key, edit); });
        connect(row.clear, &QPushButton::clicked, this, [this, key, edit] { ClearSoundFile(key, edit); });
    }
}
