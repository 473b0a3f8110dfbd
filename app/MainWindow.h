#pragma once
// The one top-level window and the owner of the running system.
//
// The constructor builds the widget tree; Init() then creates every manager in
// a fixed order, declares the types that belong to no manager, writes the
// defaults of the window's settings, loads the data file, runs the first-start
// dialogs, connects, fills the Options pages, restores the geometry and starts
// the folder scan. Every handler registered before the load sees the load's
// events; those registered after it are primed by an explicit call.
//
// The pages are built by the widget tree and set up by Init, in this order:
//   TransfersForm::Init, SharesForm::Init, SearchForm::Init (before the load),
//   UserListForm::Init (just before the load), RoomsForm::Init (after it),
//   UserNoteDialog::Init, ChatsForm::Init (after the geometry is restored).
// Server events reach them through ChatsForm::GetChatForm(user)->AddChat and
// AdminMessageDialog; the colour dialog calls TransfersForm::RecolorEntries.
//
// Quitting: closing the window saves the data file while the window is still
// there. When that save fails the user, who asked to quit, is told why and
// chooses between Retry and Quit Anyway (a modal box); an answer that never
// comes, because a signal ends the program meanwhile, counts as Quit Anyway.
//
// Shutdown (the destructor): the final save, g_showIsOver, Server::Disconnect,
// then the transfer engine, the share manager, the delayed invoker, the
// distributed tree, the peer messenger, the server, the data saver, the timers
// and the size manager; the pages go with the widget tree. After a close that
// saved, the final save writes the file only when what it holds changed in
// between (a download that ended), so that quitting writes it once. Where
// nobody could be asked (a termination signal, the end of
// finish-uploads-and-quit) it is the only save.
//
// Apart from the close, a save that fails never waits for anyone: the hourly
// save, the final save and the desktop's save request log the failure, and the
// hourly one and the save after a change warn in a box that does not wait,
// once until a save succeeds again.
#include "Ui_MainWindow.h"
#include "shell/ResizableWindow.h"
#include "store/Event.h"
#include "store/ItemPtr.h"
#include <QMainWindow>
#include <QPointer>
#include <QSet>
#include <QSystemTrayIcon>
#include <memory>

class QLineEdit;
class QMessageBox;
class QTimer;
class QTreeWidgetItem;
class Server;
class SlicedSweep;
class UpdateChecker;

class MainWindow : public QMainWindow, public DataHandler {
    Q_OBJECT
public:
    // The window's geometry for the size manager, without the frame; nothing is
    // reported while the window is maximised. Stored geometry is checked before
    // it is applied: an empty size is ignored and the window is kept on a
    // screen that exists now.
    class SizeProxy : public ResizableWindow {
    public:
        int GetX() override;
        int GetY() override;
        int GetWidth() override;
        int GetHeight() override;
        void SetPosition(int x, int y) override;
        void SetSize(int width, int height) override;
        void EmitResized(int width, int height) { emit WindowResized(width, height); }
        void EmitMoved(int x, int y) { emit WindowMoved(x, y); }
    };

    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    void Init();
    // Drops unreachable items and writes the data file; throws DataSaveFailure.
    // Does nothing once the window is being destroyed.
    void SaveData();
    // SaveData that logs a failure instead of throwing; false when it failed.
    bool TrySaveData(const QString& when);
    // Saves within a few seconds, the file written off this thread: changes
    // that come meanwhile go with the same save. A failure is said once, as
    // the hourly save's is.
    void SaveSoon();

    // Application icon, tray icon and tray alerts.
    void SetApplicationIcon(const QString& iconPath);
    void ResetApplicationIcon();
    void PopupAlert(const QString& text);

    Ui_MainWindow& Ui() { return *m_ui; }
    // The data file: the home folder's path followed by "/.Marrowby".
    static QString DataFilePath();

public slots:
    void EveryFiveMinutes();
    void EveryHour();

    // Connection and server events.
    void OnConnecting();
    void OnConnected();
    void OnDisconnected();
    void OnConnectionFailed(QString reason);
    void OnPrivateChat(QString user, QString text, time_t time, bool spontaneous);
    void OnAdminMessage(QString message);
    void OnSharedFilesRescanned(int added, int removed);
    void OnNewVersion(qint64 version, QString link, QStringList description);
    void OnCheckPortsClicked();
    void OnTrayIconActivated(QSystemTrayIcon::ActivationReason reason);

    // Tool-bar actions, shared folders, import.
    void OnToolBarActionTriggered(QWidget* ip_widget, QString i_action);
    void OnSharedFoldersListContextMenuRequested(const QPoint& pos);
    void OnUnshareFolder();
    void OnSetFolderPermissions();
    void OnImportUserListClicked();
    void OnSelectColors();
    void OnEditExcludedDownloadExtensionsClicked();

    // Options.
    void OnOptionsTabSelectionChanged(int i_tab);
    void OnUPnPCheckboxToggled(bool on);
    void OnAcceptUserlistUploadsCheckboxToggled(bool on);
    void OnEmptyShareWarningMessageCheckBoxClicked(bool on);
    void OnDontCreateSubfoldersForSingleDownloads(bool on);
    void OnMinimizeToTrayCheckboxToggled(bool on);
    void OnUseOldStyleSearchResultsCheckboxToggled(bool on);
    void OnExpandNewSharesCheckboxToggled(bool on);
    void OnShowAwayStatusClicked(bool on);
    void OnOpenGroupsOnUserAddClicked(bool on);
    void OnShowDiagnosticsCheckboxToggled(bool on);
    void OnShowEventButtonsClicked(bool on);
    void OnLogRoomChatCheckBoxClicked(bool on);
    void OnLogPrivateChatCheckBoxClicked(bool on);
    void OnUserLevelLoggingClicked(bool on);
    void OnFirstOpenTabBoxIndexChanged(int index);
    void OnChatTimestampsBoxIndexChanged(int index);
    void OnCodePageSelected(int index);
    void OnUserInfoTextChanged();
    void OnEmptyShareWarningEditEdited(const QString& text);
    void OnSaveEmptyShareWarningMessageButtonClicked();
    void OnMaxUploadsPerUserSpinBoxValueChanged(int value);
    void OnSelectPictureClicked();
    void OnClearPictureClicked();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // Init's parts, in the order it runs them.
    void CreateCore();
    void DeclareActionSets();
    void DeclareTypes();
    void WriteDefaults();
    void LoadDataFile();
    // The failed save, for a box: where the file is and the system's reason.
    QString SaveFailureText() const;
    // After a failed save at the close: true when the user chose Retry.
    bool AskRetrySave();
    // The box of a failed save that no one waits for, the first time only.
    void WarnSaveFailed();
    // The hourly save warns of a failure also while the window is hidden.
    void SaveInBackground(bool hourly);
    void RunFirstStart();
    void FillOptions();
    void FillMoreOptions();
    void ConnectSoundRows();

    // Store events.
    void OnSharedFolderAdded(ItemPtr folder);
    void OnSharedFolderRemoved(ItemPtr folder);
    void OnSharedFolderChange(ConnectionInfo& info);
    void OnExcludedDownloadExtensionAddedOrRemoved(ItemPtr item);
    void OnUsernameChanged(ItemPtr value);
    void OnNewListeningPortChanged(ItemPtr value);
    void OnObfuscatedPortSet(ItemPtr value);

    void SetFlag(const char* key, bool on);
    // The line of the Login page that says why the client is offline; empty
    // hides it.
    void SetOfflineReason(const QString& text);
    void SetObfuscatedPortText(qint64 port);
    QTreeWidgetItem* FindFolderRow(const QString& path) const;
    // The `shared_folder` item of the first selected row, or null.
    ItemPtr SelectedFolder() const;
    void SelectSoundFile(const char* key, QLineEdit* edit);
    void ClearSoundFile(const char* key, QLineEdit* edit);

    std::unique_ptr<Ui_MainWindow> m_ui;
    SizeProxy m_sizeProxy;
    std::unique_ptr<UpdateChecker> m_updateChecker;
    Server* m_server = nullptr;
    ItemPtr m_removingExtension; // the extension being removed, not counted
    QPointer<QMessageBox> m_saveWarning;
    QTimer* m_saveSoon = nullptr;
    std::unique_ptr<SlicedSweep> m_sweep; // every five minutes
    QPointer<QMessageBox> m_loginFailureBox;
    // The user asked for the connection attempt under way (Connect).
    bool m_connectAsked = false;
    // The user asked for the rescan under way (Rescan Shares).
    bool m_rescanAsked = false;
    // Newer builds offered in this run.
    QSet<qint64> m_offeredVersions;
    bool m_saveWarned = false;
    bool m_closing = false; // the close's save, or its question, is under way
    bool m_closeSaved = false; // the close saved the data file
};

// The window is reached as the kit's `mainWindow` (shell/Kit.h).
