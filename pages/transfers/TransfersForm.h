#pragma once
// The Transfers page: every download and upload of the transfer engine as a
// file row under a folder row under a user row, with status, progress, speed,
// time left and status colours, the page's commands, keys, context menus and
// upload settings, the completion alerts and the list of completed downloads.
//
// The page keeps no list of its own. A row and its store item are tied by six
// node types whose item values are the rows' addresses: a row's node is found
// through the type's value index (never created by a lookup), an entry's row
// through its node item. Node items live exactly as long as their rows. Each
// row keeps the figures of its entry, or of the entries beneath it, brought
// up to date as they change (TransferRow.h): a folder's status and sums cost
// the same whatever it holds. The peers' names (users, folders, files) and
// denial reasons are shown direction-isolated; nothing reads a name back
// from a cell.
//
// Entries can go while a menu is open, while a completion waits in the event
// queue or while a loop removes others: such holders keep their entries in a
// LiveItemSet, which forgets each one the moment the store removes it.
#include "CompleteDownloadsForm.h"
#include "LiveItemSet.h"
#include "StaleUploads.h"
#include "TransferRow.h"
#include "store/Data.h"
#include "store/DataLoadedEventHandler.h"
#include <QBrush>
#include <QDeadlineTimer>
#include <QHash>
#include <QIcon>
#include <QKeyEvent>
#include <QPointer>
#include <QSet>
#include <QWidget>
#include <memory>
#include <vector>

class QCheckBox;
class QSpinBox;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;
class TabWidget;
class TreeWidget;

class TransfersForm : public QWidget, public DataHandler, public DataLoadedEventHandler {
    Q_OBJECT
public:
    explicit TransfersForm(QWidget* parent = nullptr);
    ~TransfersForm() override;

    // Declares the node types, subscribes to the store and the engine,
    // declares the tool-bar actions. Needs the engine, the tool bar and the
    // settings types.
    void Init();
    // Fills the upload controls and the clear boxes from the settings, then
    // connects them; restores the trees' column widths.
    void DataLoaded() override;

    // The user row of any row of a tree: the row, its parent or grandparent.
    QTreeWidgetItem* GetDownloadNodeUserNode(QTreeWidgetItem* row) const;
    QTreeWidgetItem* GetUploadNodeUserNode(QTreeWidgetItem* row) const;
    // The entries beneath a user, folder or file row (empty for other rows).
    ItemSet GetNodeDownloadEntryItems(QTreeWidgetItem* row) const;
    ItemSet GetNodeUploadEntryItems(QTreeWidgetItem* row) const;
    // One status word for a set of entries.
    static QString GetDownloadEntriesAggregateStatus(const ItemSet& entries);
    static QString GetUploadEntriesAggregateStatus(const ItemSet& entries);
    // The status word of entries by their figures.
    static QString StatusWord(const RowFigures& figures, bool downloads);
    // Counts an entry of that status word (none: empty) into the figures.
    static void CountStatus(RowFigures& figures, std::string_view word, bool downloads);
    // Bytes done, remaining and the total of a set of entries.
    static void GetDownloadsProgressStats(const ItemSet& entries, qint64& done, qint64& remaining, qint64& total);
    static void GetUploadsProgressStats(const ItemSet& entries, qint64& done, qint64& remaining, qint64& total);
    // Colours every cell of the row by a status word (the transfer colours).
    static void SetItemColorByStatus(QTreeWidgetItem* row, const QString& status);
    // The brush of a status word's transfer colour.
    static QBrush StatusBrush(const QString& status);
    // Whether the status word is one of a transfer that ended without its file.
    static bool IsFailedStatus(const QString& word);

    // The row of an entry, or null.
    static QTreeWidgetItem* DownloadRow(ItemPtr entry);
    static QTreeWidgetItem* UploadRow(ItemPtr entry);
    // The node item bound to a row, or a null handle (never creates).
    static ItemPtr NodeOf(const char* nodeType, const QTreeWidgetItem* row);

    // Opens a file or folder of the downloads folder (a path with "\") with
    // the desktop's application; nothing happens for a path that would leave
    // the downloads folder.
    static void OpenDownloadPath(const QString& itemPath);
    // Whether a search can be run again from a download's menu, and running it.
    static bool CanRerunSearch();
    static void RerunSearch(const QString& text);

    // The texts of the progress, time-left and speed cells.
    static QString ProgressText(qint64 done, double percent);
    static QString TimeLeftText(qint64 remaining, qint64 bytesPerSecond);
    static QString SpeedText(qint64 bytesPerSecond);

    TabWidget* TabControl() const { return m_tabControl; }
    TreeWidget* DownloadsList() const { return m_downloadsList; }
    TreeWidget* UploadsList() const { return m_uploadsList; }
    QCheckBox* ClearDownloadsCheckBox() const { return m_clearDownloadsCheckBox; }
    QCheckBox* ClearUploadsCheckBox() const { return m_clearUploadsCheckBox; }
    QSpinBox* UploadSlotsSpinBox() const { return m_uploadSlotsSpinBox; }
    QCheckBox* UploadLimitCheckBox() const { return m_uploadLimitCheckBox; }
    QSpinBox* UploadLimitSpinBox() const { return m_uploadLimitSpinBox; }
    CompleteDownloadsForm* CompleteDownloads() const { return m_completeDownloads; }

signals:
    void DownloadComplete(ItemPtr download_entry);

public slots:
    void UpdateActiveTransferCounts();
    void RecolorEntries();
    void EveryHalfMinute();
    void OnDownloadComplete(ItemPtr entry);
    void OnTransfersLoaded();
    void OnDownloadProgress(ItemPtr entry);
    void OnUploadProgress(ItemPtr entry);
    void OnActionBarTriggered(QWidget* widget, QString id);
    void DeleteSelectedDownloads();
    void DeleteSelectedUploads();

private slots:
    void OnItemExpanded(QTreeWidgetItem* row);
    void OnItemCollapsed(QTreeWidgetItem* row);
    void OnKeyPressedInDownloadList(QKeyEvent* event);
    void OnKeyPressedInUploadList(QKeyEvent* event);
    void OnDownloadListItemDoubleClicked(QTreeWidgetItem* row, int column);
    void OnDownloadsContextMenuRequested(const QPoint& pos);
    void OnUploadsContextMenuRequested(const QPoint& pos);
    void OnClearDownloadsCheckStateChanged(int state);
    void OnClearUploadsCheckStateChanged(int state);
    void OnUploadSlotsSpinValueChanged(int value);
    void OnUploadSpeedLimitSpinValueChanged(int value);
    void OnUploadSpeedLimitCheckStateChanged(int state);

private:
    // One tree's node types and the parts of its rows that differ.
    struct TreeKind {
        QTreeWidget* tree;
        Type* userNode;
        Type* folderNode;
        Type* fileNode;
        const char* userNodeName;
        const char* folderNodeName;
        const char* fileNodeName;
        const char* entryType;
        const char* statusType;
        const char* folderType; // remote_folder or shared_file_folder
    };
    const TreeKind& Downloads() const { return m_kinds[0]; }
    const TreeKind& Uploads() const { return m_kinds[1]; }

    void BuildWidgets();
    void DeclareNodeTypes();
    void DeclareActions();

    // Store handlers (TransfersForm.cpp).
    void OnDownloadEntryAdded(ItemPtr entry);
    void MakeDownloadRow(ItemPtr entry);
    // The saved downloads' rows, made in slices (TransfersForm.cpp).
    void QueueSavedRow(ItemPtr entry);
    void BuildSavedRows();
    void AddSavedRows(const QDeadlineTimer& turn);
    void OnUploadEntryAdded(ItemPtr entry);
    // The rows of the uploads added since the last batch, a turn's worth.
    void AddUploadRows();
    void MakeUploadRow(ItemPtr entry);
    void OnDownloadEntryStatusChange(ConnectionInfo& ci);
    void OnUploadEntryStatusChange(ConnectionInfo& ci);
    void OnDownloadEntryReasonChange(ConnectionInfo& ci);
    void OnUploadEntryReasonChange(ConnectionInfo& ci);
    void OnDownloadEntryRemoved(ItemPtr entry);
    void OnUploadEntryRemoved(ItemPtr entry);
    void OnUserOnline(ItemPtr user);
    void OnUserOffline(ItemPtr user);
    void OnDownloadPlaceInLine(ItemPtr entry);

    // The shared steps of both trees.
    QTreeWidgetItem* MakeRow(const TreeKind& kind, ItemPtr entry, ItemPtr user, ItemPtr folder,
        const QString& fileText, qint64 size, bool expandUser, bool expandFolder);
    // The status of the entry on its row (found when not given).
    void ApplyStatus(const TreeKind& kind, ItemPtr entry, const QString& word, QTreeWidgetItem* row = nullptr);
    // The status cell: the word, or a denied entry's reason; the reason of a
    // failure as its tool tip.
    static void ShowStatusText(ItemPtr entry, QTreeWidgetItem* row, const QString& word);
    // The status, colour and bar of a folder or user row from the figures
    // beneath it.
    void UpdateParentStatus(const TreeKind& kind, QTreeWidgetItem* row);
    void UpdateParentStatus(const TreeKind& kind, QTreeWidgetItem* row, bool collapsed);
    void RemoveRow(const TreeKind& kind, ItemPtr entry);
    void SetUserIcon(ItemPtr user, const QIcon& icon);
    // Empties the figures that a closed folder or user row shows of the rows
    // beneath it, now that they show themselves.
    void ShowOpened(const TreeKind& kind, QTreeWidgetItem* row);
    void QueueCountUpdate();
    ItemSet EntriesBeneath(const TreeKind& kind, QTreeWidgetItem* row) const;
    // The status word of the entries beneath a user, folder or file row.
    QString AggregateBeneath(const TreeKind& kind, QTreeWidgetItem* row) const;
    static RowFigures& FiguresOf(QTreeWidgetItem* row) { return static_cast<TransferRow*>(row)->figures; }
    // The figures of an entry as it is now: its status, and its bytes (a
    // complete file's size; where a moving, waiting or aborted one is).
    RowFigures EntryFigures(const TreeKind& kind, ItemPtr entry) const;
    // Counts the entry's figures anew on its file row, and the change on the
    // folder and user rows above it.
    void Recount(const TreeKind& kind, ItemPtr entry, QTreeWidgetItem* row);
    // A report's figures as the engine left them: a status change that
    // follows clears them from the entry before the report is shown.
    struct Report {
        quint64 order;
        qint64 position;
        qint64 size;
        qint64 speed;
    };
    void QueueProgress(int tree, ItemPtr entry, qint64 position, qint64 size, qint64 speed);
    void ShowQueuedProgress();
    void ShowFileProgress(const TreeKind& kind, QTreeWidgetItem* row, const Report& report, bool ended);
    void ShowParentProgress(const TreeKind& kind, QTreeWidgetItem* folderRow, qint64 speed, bool withUser);
    void SetProgressBar(QTreeWidget* tree, QTreeWidgetItem* row, qint64 done, double percent);
    // The bar of a folder or user row from the sums beneath it, on a row
    // that shows one (every change beneath changes it), and with add also on
    // one beneath which bytes are done (rows restored at a start). Nothing
    // for a row no longer bound to a node.
    void RefreshParentBar(const TreeKind& kind, QTreeWidgetItem* row, bool add);
    // The bars of restored rows, a slice at a time until the turn ends:
    // files complete, and folder and user rows with bytes done beneath.
    void ShowRestoredBars(const QDeadlineTimer& turn);
    // Writes a figure into its cell, the column widened first when the
    // figure would be cut (never narrowed: a width the user chose that holds
    // it stays).
    void SetFigure(QTreeWidgetItem* row, int column, const QString& text);
    void FitFigure(QTreeWidget* tree, int column, const QString& text);
    // After the saved column widths are restored: each column as wide as the
    // widest figure shown in it so far.
    void FitColumns();
    static void PaintRow(QTreeWidgetItem* row, const QBrush& brush);
    void ColorRow(QTreeWidgetItem* row, const QString& status);
    static void DropProgressBar(QTreeWidget* tree, QTreeWidgetItem* row);
    // Empties the time-left and speed cells: nothing moves beneath the row.
    static void ClearMotion(QTreeWidgetItem* row);
    static void DropFullBarOfFailure(QTreeWidget* tree, QTreeWidgetItem* row, const QString& word);
    void ToggleExpand(QTreeWidget* tree, bool& flag, const char* id, const QString& label, bool users);
    void ClearCompleteAndAbortedUploads();
    void DeleteSelected(const TreeKind& kind);
    void ShowContextMenu(const TreeKind& kind, const QPoint& pos);
    void ToggleFinishUploadsAndQuit();
    void ShowCompleteDownloads();

    TabWidget* m_tabControl = nullptr;
    TreeWidget* m_downloadsList = nullptr;
    TreeWidget* m_uploadsList = nullptr;
    QCheckBox* m_clearDownloadsCheckBox = nullptr;
    QCheckBox* m_clearUploadsCheckBox = nullptr;
    QSpinBox* m_uploadSlotsSpinBox = nullptr;
    QCheckBox* m_uploadLimitCheckBox = nullptr;
    QSpinBox* m_uploadLimitSpinBox = nullptr;
    QPointer<CompleteDownloadsForm> m_completeDownloads;

    TreeKind m_kinds[2] {};
    // The types a progress sum reads, per tree.
    struct SumTypes {
        Type* entry;
        Type* status;
        Type* size; // file_size, or shared_file_size of the shared file
        Type* sharedFile;
        Type* position;
    };
    SumTypes m_sumTypes[2] {};
    // Progress reports wait for the next refresh of the figures, per tree and
    // by entry: a row reported twice between two refreshes is drawn once, and
    // a folder or user row once for the reports of all its files. Entries
    // leave on removal.
    QHash<Item*, Report> m_queuedReports[2];
    quint64 m_reportCount = 0;
    QTimer* m_progressTimer = nullptr;
    bool m_transfersLoaded = false;
    bool m_expandDownloadFolders = true;
    bool m_expandDownloadUsers = true;
    bool m_expandUploadFolders = true;
    bool m_expandUploadUsers = true;
    // The saved downloads are made into rows when they are loaded if they are
    // few, else a slice at a time once the window shows. Their
    // user rows stay out of the tree until all are made, then go in at once;
    // parent rows and the tab title are brought up to date once at the end.
    // Downloads added meanwhile wait for their turn in order, and progress
    // reports wait for the rows to be in the tree.
    bool m_buildingRows = false;
    // The entries waiting for their rows in order, and those of them still
    // there (a removal takes an entry out).
    std::vector<Item*> m_unbuiltOrder;
    QSet<Item*> m_unbuilt;
    size_t m_nextUnbuilt = 0;
    QTimer* m_buildTimer = nullptr;
    // Set while a slice runs.
    bool m_bulkBuild = false;
    QList<QTreeWidgetItem*> m_pendingUserRows;
    // Restored user rows in the tree whose bars are still to be shown, and
    // how many folder rows of the first are left (-1: not begun).
    QList<QTreeWidgetItem*> m_unbarredUserRows;
    int m_unbarredFolders = -1;
    QHash<QString, QBrush> m_bulkBrushes;
    // While they are built: the folder row of each folder and user row, and
    // each folder's shown path.
    QHash<QPair<Item*, QTreeWidgetItem*>, Item*> m_bulkFolderNodes;
    QHash<Item*, QString> m_bulkFolderTexts;
    bool m_countUpdateQueued = false;
    // New uploads waiting for their rows, in order, and those of them still
    // there (a removal takes an entry out); their rows go in every
    // kUploadRowsMs.
    static constexpr int kUploadRowsMs = 100;
    std::vector<Item*> m_newUploadOrder;
    QSet<Item*> m_newUploads;
    QTimer* m_uploadRowTimer = nullptr;
    // New folder rows of the downloads that the engine is adding, opened
    // once it has added them all (with the counts).
    QSet<QTreeWidgetItem*> m_foldersToOpen;
    // Parent rows whose status and bars wait for the removals beneath them
    // to end, per tree (refreshed with the counts).
    QSet<QTreeWidgetItem*> m_staleBars[2];
    // Per tree and column: the longest figure measured, and the width that
    // the widest one needs.
    struct Fitted {
        int length = 0;
        int width = 0;
    };
    Fitted m_fitted[2][9] {};
    bool m_controlsConnected = false;
    // Entries whose completion waits in the event queue.
    std::unique_ptr<LiveItemSet> m_pendingComplete;
    // The half-minute tidy of finished and long-offline uploads.
    std::unique_ptr<StaleUploads> m_staleUploads;
    QIcon m_onlineIcon;
    QIcon m_offlineIcon;
};

extern TransfersForm* transfersForm;
