// The Transfers page's trees: widgets, node types, rows made, updated and
// removed in answer to store events, status texts, parent aggregates, online
// icons, places in line and the active counts in the page's tab title.
#include "TransfersForm.h"
#include "TransferRow.h"
#include "shell/ActionSetToolBar.h"
#include "shell/Kit.h"
#include "shell/SizeManager.h"
#include "shell/TabWidget.h"
#include "shell/TextBound.h"
#include "shell/TreeWidget.h"
#include "store/DataSaver.h"
#include "store/GeneralFunctions.h"
#include "store/Settings.h"
#include "store/TimerManager.h"
#include "store/ToQString.h"
#include "WidgetFunctions.h"
#include "transfers/TransferQueueManager.h"
#include <QCheckBox>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTextDocument>
#include <QTimer>
#include <QVBoxLayout>
#include <utility>

TransfersForm* transfersForm = nullptr;

namespace {

// Saved downloads' rows are made in slices of about this long, the clock
// read every so many rows.
constexpr qint64 kSliceMs = 10;
constexpr size_t kRowsAtOnce = 64;

const char* const kDownloadColumns[] = { "User", "Folder", "File", "Status", "Progress", "   ETA", "Kbs", "Size",
    "Place" };
const int kColumnWidths[] = { 100, 125, 125, 100, 140, 80, 40, 90, 40 };

void SetUpTree(QTreeWidget* tree, int columns)
{
    QStringList labels;
    for (int k = 0; k < columns; ++k)
        labels << QString::fromLatin1(kDownloadColumns[k]);
    tree->setColumnCount(columns);
    tree->setHeaderLabels(labels);
    for (int k = 0; k < columns; ++k)
        tree->setColumnWidth(k, kColumnWidths[k]);
    tree->header()->setSectionsMovable(false);
    tree->setContextMenuPolicy(Qt::CustomContextMenu);
    tree->setSelectionMode(QAbstractItemView::ExtendedSelection);
    tree->setSortingEnabled(false);
    // Every row has the same height: the view then lays out ten thousand
    // rows without asking each for its size, which a progress bar placed in
    // a cell would otherwise make it do again and again.
    tree->setUniformRowHeights(true);
}

// Longest reason a status cell or its tool tip shows; a peer's text may be
// longer.
constexpr int kMaxReasonShown = 500;
// Why a transfer ended without its file, as its status cell's tool tip: plain
// text (a peer's reason is isolated like its other texts), bounded.
QString ReasonTip(const QString& word, QString reason)
{
    if (!TransfersForm::IsFailedStatus(word) || reason.isEmpty())
        return QString();
    reason = TextBound::Shown(reason, kMaxReasonShown);
    if (word == QLatin1String("denied"))
        reason = IsolatedText(reason);
    return Qt::convertFromPlainText(reason, Qt::WhiteSpaceNormal);
}

} // namespace

TransfersForm::TransfersForm(QWidget* parent)
    : QWidget(parent)
{
    transfersForm = this;
    setObjectName(QStringLiteral("TransfersForm"));
    setWindowTitle(QStringLiteral("Form"));
    resize(761, 396);
    BuildWidgets();
    // The engine reports each transfer twice a second; four refreshes a
    // second show every report soon, and a hundred transfers cost a few
    // paints a second instead of two hundred.
    m_progressTimer = new QTimer(this);
    m_progressTimer->setSingleShot(true);
    m_progressTimer->setInterval(250);
    connect(m_progressTimer, &QTimer::timeout, this, &TransfersForm::ShowQueuedProgress);
    // A timer, not a posted call, between slices: the window paints and
    // takes input in between.
    m_buildTimer = new QTimer(this);
    m_buildTimer->setSingleShot(true);
    m_buildTimer->setInterval(0);
    connect(m_buildTimer, &QTimer::timeout, this, &TransfersForm::BuildSavedRows);
}

TransfersForm::~TransfersForm()
{
    // Node items hold the addresses of rows that go with this page.
    for (const char* type : { "download_list_node", "download_list_folder_node", "download_list_user_node",
             "upload_list_node", "upload_list_folder_node", "upload_list_user_node" }) {
        if (Type* t = d.HasType(type))
            t->GetItems().Remove();
    }
    qDeleteAll(m_pendingUserRows);
    if (transfersForm == this)
        transfersForm = nullptr;
}

void TransfersForm::BuildWidgets()
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_tabControl = new TabWidget(this);
    m_tabControl->setObjectName(QStringLiteral("transfersTabControl"));
    m_tabControl->setTabShape(QTabWidget::Triangular);
    m_tabControl->setContextMenuPolicy(Qt::CustomContextMenu);
    layout->addWidget(m_tabControl);

    auto* downloadsTab = new QWidget;
    downloadsTab->setObjectName(QStringLiteral("downloadsTab"));
    auto* downloadsLayout = new QVBoxLayout(downloadsTab);
    m_downloadsList = new TreeWidget(downloadsTab);
    m_downloadsList->setObjectName(QStringLiteral("downloadsList"));
    SetUpTree(m_downloadsList, 9);
    downloadsLayout->addWidget(m_downloadsList);
    auto* downloadsRow = new QHBoxLayout;
    downloadsRow->addStretch(1);
    m_clearDownloadsCheckBox = new QCheckBox(QStringLiteral("Clear Complete Downloads"), downloadsTab);
    m_clearDownloadsCheckBox->setObjectName(QStringLiteral("clearDownloadsCheckBox"));
    downloadsRow->addWidget(m_clearDownloadsCheckBox);
    downloadsLayout->addLayout(downloadsRow);
    m_tabControl->addTab(downloadsTab, QStringLiteral("Downloads"));

    auto* uploadsTab = new QWidget;
    uploadsTab->setObjectName(QStringLiteral("uploadsTab"));
    auto* uploadsLayout = new QVBoxLayout(uploadsTab);
    m_uploadsList = new TreeWidget(uploadsTab);
    m_uploadsList->setObjectName(QStringLiteral("uploadsList"));
    SetUpTree(m_uploadsList, 8);
    m_uploadsList->header()->setStretchLastSection(false);
    uploadsLayout->addWidget(m_uploadsList);
    auto* uploadsRow = new QHBoxLayout;
    uploadsRow->addStretch(1);
    m_uploadSlotsSpinBox = new QSpinBox(uploadsTab);
    m_uploadSlotsSpinBox->setObjectName(QStringLiteral("uploadSlotsSpinBox"));
    m_uploadSlotsSpinBox->setRange(1, 99);
    uploadsRow->addWidget(m_uploadSlotsSpinBox);
    uploadsRow->addWidget(new QLabel(QStringLiteral("Upload Slots"), uploadsTab));
    m_uploadLimitCheckBox = new QCheckBox(QStringLiteral("Limit Upload Speed to"), uploadsTab);
    m_uploadLimitCheckBox->setObjectName(QStringLiteral("uploadLimitCheckBox"));
    uploadsRow->addWidget(m_uploadLimitCheckBox);
    m_uploadLimitSpinBox = new QSpinBox(uploadsTab);
    m_uploadLimitSpinBox->setObjectName(QStringLiteral("uploadLimitSpinBox"));
    m_uploadLimitSpinBox->setRange(0, 99999);
    uploadsRow->addWidget(m_uploadLimitSpinBox);
    uploadsRow->addWidget(new QLabel(QStringLiteral("Kilobytes Per Second"), uploadsTab));
    m_clearUploadsCheckBox = new QCheckBox(QStringLiteral("Clear Complete/Aborted Uploads"), uploadsTab);
    m_clearUploadsCheckBox->setObjectName(QStringLiteral("clearUploadsCheckBox"));
    uploadsRow->addWidget(m_clearUploadsCheckBox);
    uploadsLayout->addLayout(uploadsRow);
    m_tabControl->addTab(uploadsTab, QStringLiteral("Uploads"));
    // The settings row must not set the window's least width: in a narrow
    // window it is cut at the right instead.
    for (QWidget* tab : { downloadsTab, uploadsTab })
        tab->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_tabControl->setCurrentIndex(0);

    connect(m_downloadsList, &QTreeWidget::itemDoubleClicked, this,
        &TransfersForm::OnDownloadListItemDoubleClicked);
    connect(m_downloadsList, &TreeWidget::KeyPressed, this, &TransfersForm::OnKeyPressedInDownloadList);
    connect(m_uploadsList, &TreeWidget::KeyPressed, this, &TransfersForm::OnKeyPressedInUploadList);
    connect(m_downloadsList, &QWidget::customContextMenuRequested, this,
        &TransfersForm::OnDownloadsContextMenuRequested);
    connect(m_uploadsList, &QWidget::customContextMenuRequested, this,
        &TransfersForm::OnUploadsContextMenuRequested);
}

void TransfersForm::DeclareNodeTypes()
{
    // Declared once per process: a page made again (tests) finds them.
    auto node = [](const char* name) { return d.DeclareType(name, kEntity, false, true); };
    auto& dl = m_kinds[0];
    dl = { m_downloadsList, node("download_list_user_node"), node("download_list_folder_node"),
        node("download_list_node"), "download_list_user_node", "download_list_folder_node", "download_list_node",
        "download_entry", "download_entry_status", "remote_folder" };
    auto& ul = m_kinds[1];
    ul = { m_uploadsList, node("upload_list_user_node"), node("upload_list_folder_node"), node("upload_list_node"),
        "upload_list_user_node", "upload_list_folder_node", "upload_list_node", "upload_entry",
        "upload_entry_status", "shared_file_folder" };
    m_sumTypes[0] = { d.GetType("download_entry"), d.GetType("download_entry_status"), d.GetType("file_size"),
        nullptr, d.GetType("write_position") };
    m_sumTypes[1] = { d.GetType("upload_entry"), d.GetType("upload_entry_status"), d.GetType("shared_file_size"),
        d.GetType("shared_file"), d.GetType("read_position") };
    for (const TreeKind& k : m_kinds) {
        d.RelateTypes(k.userNode, d.GetType("user"), One, One);
        d.RelateTypes(k.folderNode, k.userNode, Many, One);
        d.RelateTypes(k.folderNode, d.GetType(k.folderType), Many, One);
        d.RelateTypes(k.folderNode, k.fileNode, One, Many);
        d.RelateTypes(k.fileNode, d.GetType(k.entryType), One, One);
    }
}

void TransfersForm::Init()
{
    qRegisterMetaType<ItemPtr>("ItemPtr");
    m_onlineIcon = QIcon(QStringLiteral(":/icons/online_icon"));
    m_offlineIcon = QIcon(QStringLiteral(":/icons/offline_icon"));
    DeclareNodeTypes();

    auto watch = [this](PathNode* root, void (TransfersForm::*method)(ItemPtr)) {
        d.AddPathEventHandler(root, Register(new EventHandler<TransfersForm, ItemPtr>(this, method)));
    };
    auto pair = [this](const char* a, const char* b, void (TransfersForm::*method)(ConnectionInfo&)) {
        d.AddConnectionEventHandler(
            d.GetType(a), d.GetType(b), Register(new EventHandler<TransfersForm, ConnectionInfo&>(this, method)));
    };

    auto* downloads = new PathNode(&d, "download_entry");
    for (const char* step : { "user", "file_name", "file_size", "remote_folder" })
        new PathNode(downloads, step, PathConnected);
    watch(downloads, &TransfersForm::OnDownloadEntryAdded);
    pair("download_entry", "download_entry_status", &TransfersForm::OnDownloadEntryStatusChange);
    pair("upload_entry", "upload_entry_status", &TransfersForm::OnUploadEntryStatusChange);
    // A transfer that fails again in the same status, for another reason.
    pair("download_entry", "denial_reason", &TransfersForm::OnDownloadEntryReasonChange);
    pair("upload_entry", "denial_reason", &TransfersForm::OnUploadEntryReasonChange);
    connect(transferQueueManager, &TransferQueueManager::DownloadProgressed, this,
        &TransfersForm::OnDownloadProgress);
    connect(transferQueueManager, &TransferQueueManager::UploadProgressed, this, &TransfersForm::OnUploadProgress);

    auto* uploads = new PathNode(&d, "upload_entry");
    for (const char* step : { "user", "shared_file" })
        new PathNode(uploads, step, PathConnected);
    watch(uploads, &TransfersForm::OnUploadEntryAdded);
    m_transfersLoaded = false;
    connect(transferQueueManager, &TransferQueueManager::TransfersLoaded, this, &TransfersForm::OnTransfersLoaded);

    Subscribe(d.GetType("download_entry")->itemRemoved, &TransfersForm::OnDownloadEntryRemoved);
    Subscribe(d.GetType("upload_entry")->itemRemoved, &TransfersForm::OnUploadEntryRemoved);
    m_pendingComplete = std::make_unique<LiveItemSet>("download_entry");

    DeclareActions();

    auto* online = new PathNode(&d, "user");
    new PathNode(online, "is_online", PathConnectTrigger);
    watch(online, &TransfersForm::OnUserOnline);
    auto* offline = new PathNode(&d, "user");
    new PathNode(offline, "is_online", PathDisconnectTrigger);
    watch(offline, &TransfersForm::OnUserOffline);
    auto* place = new PathNode(&d, "download_entry");
    new PathNode(place, "place_in_line", PathConnected);
    watch(place, &TransfersForm::OnDownloadPlaceInLine);

    if (dataSaver)
        dataSaver->AddDataLoadedEventHandler(this);
    for (QTreeWidget* tree : { static_cast<QTreeWidget*>(m_downloadsList), static_cast<QTreeWidget*>(m_uploadsList) }) {
        connect(tree, &QTreeWidget::itemExpanded, this, &TransfersForm::OnItemExpanded);
        connect(tree, &QTreeWidget::itemCollapsed, this, &TransfersForm::OnItemCollapsed);
    }
    m_downloadsList->setFocus();
    if (timerManager)
        connect(timerManager->HalfMinuteTimer(), &QTimer::timeout, this, &TransfersForm::EveryHalfMinute);
    connect(this, &TransfersForm::DownloadComplete, this, &TransfersForm::OnDownloadComplete, Qt::QueuedConnection);
    RegisterWidgetForTabFocus(m_downloadsList, 1);
    RegisterWidgetForTabFocus(m_uploadsList, 1);

    Type* alert = d.DeclareType("complete_download_alert", kEntity, true, true);
    d.RelateTypes(alert, d.GetType("download_entry"), One, One);
    d.RelateTypes(alert, d.GetType("user"), Many, One);
    d.RelateTypes(alert, d.GetType("remote_folder"), Many, One);
    UpdateActiveTransferCounts();
}

void TransfersForm::DeclareActions()
{
    if (!actionBar)
        return;
    const QString dl = QStringLiteral("downloads");
    const QString ul = QStringLiteral("uploads");
    const QString folderIcon = QStringLiteral(":/icons/folder_icon");
    const QString usersIcon = QStringLiteral(":/icons/users_icon");
    const QString wipeIcon = QStringLiteral(":/icons/wipe_icon");
    actionBar->AddSetAction(dl, QStringLiteral("expand_download_folders"), QStringLiteral("Expand Folders"),
        folderIcon, false);
    actionBar->AddSetAction(dl, QStringLiteral("expand_download_users"), QStringLiteral("Expand Users"),
        usersIcon, false);
    actionBar->AddSetAction(dl, QStringLiteral("clear_complete_downloads"), QStringLiteral("Clear Complete"),
        wipeIcon, false);
    // The list of completed downloads has no other way in.
    actionBar->AddSetAction(dl, QStringLiteral("complete_downloads"), QStringLiteral("Completed Downloads"),
        QStringLiteral(":/icons/download_icon"), false);
    actionBar->AddSetAction(ul, QStringLiteral("expand_upload_folders"), QStringLiteral("Expand Folders"),
        folderIcon, false);
    actionBar->AddSetAction(ul, QStringLiteral("expand_upload_users"), QStringLiteral("Expand Users"),
        usersIcon, false);
    actionBar->AddSetAction(ul, QStringLiteral("clear_complete_and_aborted_uploads"),
        QStringLiteral("Clear Complete and Aborted"), wipeIcon, false);
    actionBar->AddSetAction(ul, QStringLiteral("finish_uploads_and_quit"),
        QStringLiteral("Finish Uploads and Quit [off]"), QStringLiteral(":/icons/shutdown_icon"), false);
    actionBar->RegisterWidget(m_downloadsList, dl);
    actionBar->SetWidgetActionText(
        m_downloadsList, QStringLiteral("expand_download_folders"), QStringLiteral("Expand Folders [on]"));
    actionBar->SetWidgetActionText(
        m_downloadsList, QStringLiteral("expand_download_users"), QStringLiteral("Expand Users [on]"));
    actionBar->RegisterWidget(m_uploadsList, ul);
    actionBar->SetWidgetActionText(
        m_uploadsList, QStringLiteral("expand_upload_folders"), QStringLiteral("Expand Folders [on]"));
    actionBar->SetWidgetActionText(
        m_uploadsList, QStringLiteral("expand_upload_users"), QStringLiteral("Expand Users [on]"));
    connect(actionBar, &ActionSetToolBar::ActionTriggered, this, &TransfersForm::OnActionBarTriggered);
}

void TransfersForm::DataLoaded()
{
    m_uploadLimitSpinBox->setValue(settings.GetInt("upload_speed_limit"));
    m_uploadSlotsSpinBox->setValue(settings.GetInt("upload_slots"));
    m_uploadLimitCheckBox->setChecked(settings.IsYes("upload_speed_limit_enabled"));
    m_clearDownloadsCheckBox->setChecked(settings.IsYes("clear_complete_downloads"));
    m_clearUploadsCheckBox->setChecked(settings.IsYes("clear_complete_aborted_uploads"));
    if (!m_controlsConnected) {
        m_controlsConnected = true;
        connect(m_uploadLimitSpinBox, &QSpinBox::valueChanged, this,
            &TransfersForm::OnUploadSpeedLimitSpinValueChanged);
        connect(m_uploadLimitCheckBox, &QCheckBox::stateChanged, this,
            &TransfersForm::OnUploadSpeedLimitCheckStateChanged);
        connect(m_clearDownloadsCheckBox, &QCheckBox::stateChanged, this,
            &TransfersForm::OnClearDownloadsCheckStateChanged);
        connect(m_clearUploadsCheckBox, &QCheckBox::stateChanged, this,
            &TransfersForm::OnClearUploadsCheckStateChanged);
        connect(m_uploadSlotsSpinBox, &QSpinBox::valueChanged, this, &TransfersForm::OnUploadSlotsSpinValueChanged);
    }
    if (sizeManager) {
        sizeManager->RegisterTreeWidget(QStringLiteral("download_list"), m_downloadsList);
        sizeManager->RegisterTreeWidget(QStringLiteral("upload_list"), m_uploadsList);
    }
}

// Rows and their nodes.

ItemPtr TransfersForm::NodeOf(const char* nodeType, const QTreeWidgetItem* row)
{
    if (!row)
        return ItemPtr();
    Type* type = d.HasType(nodeType);
    return type ? type->HasItem(Value(row)) : ItemPtr();
}

QTreeWidgetItem* TransfersForm::DownloadRow(ItemPtr entry)
{
    return entry["download_list_node"].AsPointer<QTreeWidgetItem>();
}

QTreeWidgetItem* TransfersForm::UploadRow(ItemPtr entry)
{
    return entry["upload_list_node"].AsPointer<QTreeWidgetItem>();
}

QTreeWidgetItem* TransfersForm::GetDownloadNodeUserNode(QTreeWidgetItem* row) const
{
    if (!row || Downloads().userNode->HasItem(Value(row)))
        return row;
    if (Downloads().folderNode->HasItem(Value(row)))
        return row->parent();
    return row->parent() ? row->parent()->parent() : nullptr;
}

QTreeWidgetItem* TransfersForm::GetUploadNodeUserNode(QTreeWidgetItem* row) const
{
    if (!row || Uploads().userNode->HasItem(Value(row)))
        return row;
    if (Uploads().folderNode->HasItem(Value(row)))
        return row->parent();
    return row->parent() ? row->parent()->parent() : nullptr;
}

ItemSet TransfersForm::EntriesBeneath(const TreeKind& kind, QTreeWidgetItem* row) const
{
    if (!row)
        return ItemSet();
    const Value key(row);
    if (ItemPtr user = kind.userNode->HasItem(key))
        return user.GetItems(kind.folderNode).GetItems(kind.fileNodeName).GetItems(kind.entryType);
    if (ItemPtr folder = kind.folderNode->HasItem(key))
        return folder.GetItems(kind.fileNode).GetItems(kind.entryType);
    if (ItemPtr file = kind.fileNode->HasItem(key))
        return file.GetItems(kind.entryType);
    return ItemSet();
}

ItemSet TransfersForm::GetNodeDownloadEntryItems(QTreeWidgetItem* row) const
{
    return EntriesBeneath(Downloads(), row);
}

ItemSet TransfersForm::GetNodeUploadEntryItems(QTreeWidgetItem* row) const
{
    return EntriesBeneath(Uploads(), row);
}

namespace {
// One status word for entries added one by one: the active word if one is
// active, else queued, complete (all of them), denied, aborted, or nothing.
// Statuses are told apart by their items, so no text is read per entry.
class StatusTally {
public:
    StatusTally(Type* statuses, const QString& activeWord)
        : m_statuses(statuses)
        , m_activeWord(activeWord)
        , m_active(statuses->HasItem(Value(activeWord)).Get())
        , m_queued(statuses->HasItem("queued").Get())
        , m_complete(statuses->HasItem("complete").Get())
        , m_denied(statuses->HasItem("denied").Get())
        , m_aborted(statuses->HasItem("aborted").Get())
    {
    }
    void Add(const Item* entry)
    {
        const Item* status = entry->connections.First(m_statuses);
        ++m_entries;
        m_anyActive |= status == m_active;
        m_anyQueued |= status == m_queued;
        m_completes += status == m_complete;
        m_anyDenied |= status == m_denied;
        m_anyAborted |= status == m_aborted;
    }
    QString Word() const
    {
        if (m_anyActive)
            return m_activeWord;
        if (m_anyQueued)
            return QStringLiteral("queued");
        if (m_completes == m_entries)
            return QStringLiteral("complete");
        if (m_anyDenied)
            return QStringLiteral("denied");
        if (m_anyAborted)
            return QStringLiteral("aborted");
        return QString();
    }

private:
    Type* m_statuses;
    QString m_activeWord;
    const Item* m_active;
    const Item* m_queued;
    const Item* m_complete;
    const Item* m_denied;
    const Item* m_aborted;
    size_t m_entries = 0;
    size_t m_completes = 0;
    bool m_anyActive = false, m_anyQueued = false, m_anyDenied = false, m_anyAborted = false;
};

QString AggregateOf(const ItemSet& entries, const char* statusType, const QString& activeWord)
{
    StatusTally tally(d.GetType(statusType), activeWord);
    for (ItemPtr entry : entries)
        tally.Add(entry.Get());
    return tally.Word();
}
} // namespace

QString TransfersForm::GetDownloadEntriesAggregateStatus(const ItemSet& entries)
{
    return AggregateOf(entries, "download_entry_status", QStringLiteral("downloading"));
}

QString TransfersForm::GetUploadEntriesAggregateStatus(const ItemSet& entries)
{
    return AggregateOf(entries, "upload_entry_status", QStringLiteral("uploading"));
}

QString TransfersForm::AggregateBeneath(const TreeKind& kind, QTreeWidgetItem* row) const
{
    // The node items' connections walked directly: no sets are built.
    const bool downloads = &kind == &Downloads();
    const SumTypes& t = m_sumTypes[downloads ? 0 : 1];
    StatusTally tally(t.status, downloads ? QStringLiteral("downloading") : QStringLiteral("uploading"));
    auto addFile
        = [&](Item* file) { file->connections.ForEachOfType(t.entry, [&](Item* e) { tally.Add(e); }); };
    auto addFolder = [&](Item* folder) { folder->connections.ForEachOfType(kind.fileNode, addFile); };
    const Value key(row);
    if (ItemPtr user = kind.userNode->HasItem(key))
        user.Get()->connections.ForEachOfType(kind.folderNode, addFolder);
    else if (ItemPtr folder = kind.folderNode->HasItem(key))
        addFolder(folder.Get());
    else if (ItemPtr file = kind.fileNode->HasItem(key))
        addFile(file.Get());
    return tally.Word();
}

QTreeWidgetItem* TransfersForm::MakeRow(const TreeKind& kind, ItemPtr entry, ItemPtr user, ItemPtr folder,
    const QString& fileText, qint64 size, bool expandUser, bool expandFolder)
{
    QTreeWidgetItem* userRow = user[kind.userNode].AsPointer<QTreeWidgetItem>();
    ItemPtr userNode = user[kind.userNode];
    if (!userRow) {
        // While the saved downloads are built, user rows stay out of the tree
        // until they are complete, so filling them notifies no view.
        userRow = m_bulkBuild ? new TransferRow : new TransferRow(kind.tree);
        if (m_bulkBuild)
            m_pendingUserRows.append(userRow);
        userNode = kind.userNode->GetItem(Value(userRow));
        userNode += user;
        userRow->setText(0, RowName(user.AsString()));
        userRow->setIcon(0, user.IsConnected("is_online") ? m_onlineIcon : m_offlineIcon);
        if (expandUser)
            userRow->setExpanded(true);
    }

    // The folder row of this user and folder: a folder has few rows, one per
    // user that has transfers in it.
    ItemPtr folderNode;
    if (m_bulkBuild)
        folderNode = m_bulkFolderNodes.value({ folder.Get(), userRow });
    else
        folder.Get()->connections.ForEachOfType(kind.folderNode, [&](Item* node) {
            if (!folderNode && node->connections.Contains(userNode.Get()))
                folderNode = node;
        });
    QTreeWidgetItem* folderRow = folderNode.AsPointer<QTreeWidgetItem>();
    bool newFolder = false;
    if (!folderRow) {
        folderRow = new TransferRow(userRow);
        folderNode = kind.folderNode->GetItem(Value(folderRow));
        folderNode += userNode;
        folderNode += folder;
        if (m_bulkBuild) {
            m_bulkFolderNodes.insert({ folder.Get(), userRow }, folderNode.Get());
            auto text = m_bulkFolderTexts.find(folder.Get());
            if (text == m_bulkFolderTexts.end())
                text = m_bulkFolderTexts.insert(
                    folder.Get(), RowName(ReversePathname(folder.AsString())));
            folderRow->setText(1, *text);
        } else {
            folderRow->setText(1, RowName(ReversePathname(folder.AsString())));
        }
        newFolder = true;
    }

    auto* fileRow = new TransferRow(folderRow);
    fileRow->setText(2, RowName(fileText));
    fileRow->setText(7, CommafyNumber(size));
    ItemPtr fileNode = kind.fileNode->GetItem(Value(fileRow));
    entry += fileNode;
    fileNode += folderNode;
    // A childless row does not keep its expansion: open the folder once its
    // first file row is in.
    if (newFolder && expandFolder)
        folderRow->setExpanded(true);
    return fileRow;
}

void TransfersForm::OnDownloadEntryAdded(ItemPtr entry)
{
    // The watch fires again when one of the four is replaced later: a size
    // the peer gives anew is shown.
    if (QTreeWidgetItem* row = DownloadRow(entry)) {
        row->setText(7, CommafyNumber(entry["file_size"].AsInt64()));
        return;
    }
    if (!m_transfersLoaded || entry.IsConnected("download_list_node"))
        return;
    if (m_buildingRows)
        QueueSavedRow(entry);
    else
        MakeDownloadRow(entry);
}

void TransfersForm::MakeDownloadRow(ItemPtr entry)
{
    MakeRow(Downloads(), entry, entry["user"], entry["remote_folder"], entry["file_name"].AsString(),
        entry["file_size"].AsInt64(), m_expandDownloadUsers, m_expandDownloadFolders);
    if (ItemPtr status = entry["download_entry_status"]) {
        ConnectionInfo ci { entry, status };
        OnDownloadEntryStatusChange(ci);
    }
}

void TransfersForm::OnUploadEntryAdded(ItemPtr entry)
{
    if (entry.IsConnected("upload_list_node"))
        return;
    ItemPtr file = entry["shared_file"];
    ItemPtr folder = file["shared_file_folder"];
    if (!folder)
        return;
    MakeRow(Uploads(), entry, entry["user"], folder, ToQString(GetFileName(file["shared_file_name"].Text())),
        file["shared_file_size"].AsInt64(), m_expandUploadUsers, m_expandUploadFolders);
}

void TransfersForm::OnTransfersLoaded()
{
    m_transfersLoaded = true;
    m_buildingRows = true;
    for (ItemPtr entry : d.GetType("download_entry")->GetItems().SortNumericBy("download_order", true))
        QueueSavedRow(entry);
    // A short queue shows at once; a long one once the window is up.
    if (m_unbuiltOrder.size() <= kRowsAtOnce)
        BuildSavedRows();
    else
        m_buildTimer->start();
}

void TransfersForm::QueueSavedRow(ItemPtr entry)
{
    if (entry.IsConnected("download_list_node") || m_unbuilt.contains(entry.Get()))
        return;
    m_unbuilt.insert(entry.Get());
    m_unbuiltOrder.push_back(entry.Get());
}

void TransfersForm::BuildSavedRows()
{
    QElapsedTimer clock;
    clock.start();
    m_bulkBuild = true;
    // The colours read once per slice: the settings may change in between.
    m_bulkBrushes.clear();
    for (size_t made = 0; m_nextUnbuilt < m_unbuiltOrder.size();) {
        // The list keeps the order; the set knows which entries are still there.
        Item* next = m_unbuiltOrder[m_nextUnbuilt++];
        if (!m_unbuilt.remove(next))
            continue;
        ItemPtr entry(next);
        if (entry.IsConnected("download_list_node"))
            continue;
        MakeDownloadRow(entry);
        if (++made % kRowsAtOnce == 0 && clock.elapsed() >= kSliceMs)
            break;
    }
    // Putting the rows in the tree takes a slice of its own.
    if (m_nextUnbuilt < m_unbuiltOrder.size() || clock.elapsed() >= kSliceMs) {
        m_bulkBuild = false;
        m_buildTimer->start();
        return;
    }
    AddSavedRows();
}

void TransfersForm::AddSavedRows()
{
    m_buildingRows = false;
    m_unbuilt.clear();
    std::vector<Item*>().swap(m_unbuiltOrder);
    m_nextUnbuilt = 0;
    // Parent rows once, now that every row is made; then all user rows go
    // into the tree at once.
    for (QTreeWidgetItem* userRow : std::as_const(m_pendingUserRows)) {
        for (int f = 0; f < userRow->childCount(); ++f)
            UpdateParentStatus(Downloads(), userRow->child(f), !m_expandDownloadFolders);
        UpdateParentStatus(Downloads(), userRow, !m_expandDownloadUsers);
    }
    m_bulkBuild = false;
    m_bulkBrushes.clear();
    m_bulkFolderNodes.clear();
    m_bulkFolderTexts.clear();
    const QList<QTreeWidgetItem*> added = std::exchange(m_pendingUserRows, {});
    const bool wasEmpty = m_downloadsList->topLevelItemCount() == 0;
    m_downloadsList->addTopLevelItems(added);
    if (wasEmpty && m_expandDownloadUsers && m_expandDownloadFolders) {
        // Every row the tree holds is a new one: opened in one go, and
        // quietly, since a new row's cells are already as an open row shows
        // them.
        const QSignalBlocker quiet(m_downloadsList);
        m_downloadsList->expandAll();
    } else {
        for (QTreeWidgetItem* userRow : added) {
            if (m_expandDownloadUsers)
                userRow->setExpanded(true);
            for (int f = 0; m_expandDownloadFolders && f < userRow->childCount(); ++f)
                userRow->child(f)->setExpanded(true);
        }
    }
    UpdateActiveTransferCounts();
}

void TransfersForm::UpdateParentStatus(const TreeKind& kind, QTreeWidgetItem* row)
{
    UpdateParentStatus(kind, row, !row->isExpanded());
}

void TransfersForm::UpdateParentStatus(const TreeKind& kind, QTreeWidgetItem* row, bool collapsed)
{
    const QString word = AggregateBeneath(kind, row);
    if (collapsed)
        row->setText(3, word);
    ColorRow(row, word);
    // Time left and speed only while a transfer beneath moves; the progress
    // of transfers that all failed is no progress.
    const bool downloads = &kind == &Downloads();
    if (word == (downloads ? QLatin1String("downloading") : QLatin1String("uploading")))
        return;
    ClearMotion(row);
    if (word != QLatin1String("queued") && word != QLatin1String("complete"))
        DropProgressBar(kind.tree, row);
}

void TransfersForm::ClearMotion(QTreeWidgetItem* row)
{
    for (int column : { 5, 6 }) {
        if (!row->text(column).isEmpty())
            row->setText(column, QString());
    }
}

void TransfersForm::ApplyStatus(const TreeKind& kind, ItemPtr entry, const QString& word)
{
    QTreeWidgetItem* row = entry[kind.fileNode].AsPointer<QTreeWidgetItem>();
    if (!row)
        return;
    ColorRow(row, word);
    if (word == QLatin1String("complete")) {
        if (&kind == &Downloads()) {
            m_pendingComplete->Insert(entry);
            emit DownloadComplete(entry);
        }
        row->setText(4, QString());
    }
    if (!entry[kind.statusType].IsConnected("is_active"))
        ClearMotion(row);
    DropFullBarOfFailure(kind.tree, row, word);
    // An upload is offered with the file's size of that moment.
    if (&kind == &Uploads())
        row->setText(7, CommafyNumber(entry["shared_file"]["shared_file_size"].AsInt64()));
    // A new row has no place in line to clear: its cell stays unset.
    if (&kind == &Downloads() && !row->data(8, Qt::DisplayRole).isNull())
        row->setText(8, QString());
    ShowStatusText(entry, row, word);
    // A row made but not yet in the tree has its parents done when it goes in.
    if (m_bulkBuild || !row->treeWidget())
        return;
    QTreeWidgetItem* folderRow = row->parent();
    UpdateParentStatus(kind, folderRow);
    UpdateParentStatus(kind, folderRow->parent());
    UpdateActiveTransferCounts();
}

void TransfersForm::ShowStatusText(ItemPtr entry, QTreeWidgetItem* row, const QString& word)
{
    // A denial reason is the peer's text.
    const QString reason = entry["denial_reason"].AsString();
    const bool denied = word == QLatin1String("denied");
    row->setText(3, denied ? RowName(reason, kMaxReasonShown).toLower() : word.toLower());
    row->setToolTip(3, ReasonTip(word, reason));
}

void TransfersForm::OnDownloadEntryStatusChange(ConnectionInfo& ci)
{
    ApplyStatus(Downloads(), ci.first, ci.second.AsString());
}

void TransfersForm::OnUploadEntryStatusChange(ConnectionInfo& ci)
{
    ApplyStatus(Uploads(), ci.first, ci.second.AsString());
}

void TransfersForm::OnDownloadEntryReasonChange(ConnectionInfo& ci)
{
    if (QTreeWidgetItem* row = DownloadRow(ci.first))
        ShowStatusText(ci.first, row, ci.first["download_entry_status"].AsString());
}

void TransfersForm::OnUploadEntryReasonChange(ConnectionInfo& ci)
{
    if (QTreeWidgetItem* row = UploadRow(ci.first))
        ShowStatusText(ci.first, row, ci.first["upload_entry_status"].AsString());
}

void TransfersForm::DropProgressBar(QTreeWidget* tree, QTreeWidgetItem* row)
{
    // The view deletes the bar later.
    if (tree->itemWidget(row, 4))
        tree->removeItemWidget(row, 4);
}

void TransfersForm::RemoveRow(const TreeKind& kind, ItemPtr entry)
{
    ItemPtr fileNode = entry[kind.fileNode];
    auto* row = fileNode.AsPointer<QTreeWidgetItem>();
    if (!row)
        return;
    m_pendingComplete->Erase(entry);
    ItemPtr folderNode = fileNode[kind.folderNode];
    QTreeWidgetItem* folderRow = row->parent();
    QTreeWidgetItem* userRow = folderRow->parent();
    delete row;
    fileNode.Remove();
    if (folderRow->childCount() == 0) {
        ItemPtr userNode = folderNode[kind.userNode];
        if (!m_bulkFolderNodes.isEmpty())
            m_bulkFolderNodes.remove({ folderNode[kind.folderType].Get(), userRow });
        delete folderRow;
        folderNode.Remove();
        if (userRow->childCount() == 0) {
            m_pendingUserRows.removeOne(userRow);
            delete userRow;
            userNode.Remove();
            QueueCountUpdate();
            return;
        }
    }
    if (userRow->childCount() == 1) {
        DropProgressBar(kind.tree, userRow);
        userRow->setText(5, QString());
    }
    QueueCountUpdate();
}

void TransfersForm::OnDownloadEntryRemoved(ItemPtr entry)
{
    m_unbuilt.remove(entry.Get());
    m_queuedReports[0].remove(entry.Get());
    RemoveRow(Downloads(), entry);
}

void TransfersForm::OnUploadEntryRemoved(ItemPtr entry)
{
    m_queuedReports[1].remove(entry.Get());
    RemoveRow(Uploads(), entry);
}

void TransfersForm::OnItemCollapsed(QTreeWidgetItem* row)
{
    for (const TreeKind& kind : m_kinds) {
        const Value key(row);
        if (kind.userNode->HasItem(key) || kind.folderNode->HasItem(key))
            row->setText(3, AggregateBeneath(kind, row));
    }
}

void TransfersForm::OnItemExpanded(QTreeWidgetItem* row)
{
    for (const TreeKind& kind : m_kinds) {
        const Value key(row);
        if (kind.userNode->HasItem(key) || kind.folderNode->HasItem(key)) {
            for (int column : { 3, 5, 6 }) {
                if (!row->text(column).isEmpty())
                    row->setText(column, QString());
            }
            DropProgressBar(kind.tree, row);
        }
    }
}

void TransfersForm::SetUserIcon(ItemPtr user, const QIcon& icon)
{
    for (const TreeKind& kind : m_kinds) {
        if (auto* row = user[kind.userNode].AsPointer<QTreeWidgetItem>())
            row->setIcon(0, icon);
    }
}

void TransfersForm::OnUserOnline(ItemPtr user)
{
    SetUserIcon(user, m_onlineIcon);
}

void TransfersForm::OnUserOffline(ItemPtr user)
{
    SetUserIcon(user, m_offlineIcon);
}

void TransfersForm::OnDownloadPlaceInLine(ItemPtr entry)
{
    if (QTreeWidgetItem* row = DownloadRow(entry))
        row->setText(8, entry["place_in_line"].AsString());
}

void TransfersForm::QueueCountUpdate()
{
    // Runs after the store has finished removing; several removals in one
    // turn of the event loop need one count.
    if (m_countUpdateQueued)
        return;
    m_countUpdateQueued = true;
    QMetaObject::invokeMethod(this, &TransfersForm::UpdateActiveTransferCounts, Qt::QueuedConnection);
}

void TransfersForm::UpdateActiveTransferCounts()
{
    m_countUpdateQueued = false;
    if (!transferQueueManager)
        return;
    int index = -1;
    QTabWidget* tabs = GetWidgetTabWidget(this, index);
    if (!tabs)
        return;
    tabs->setTabText(index,
        QStringLiteral("Transfers [%1/%2]")
            .arg(transferQueueManager->ActiveDownloadCount())
            .arg(transferQueueManager->ActiveUploadCount()));
}
