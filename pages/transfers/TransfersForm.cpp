// The Transfers page's trees: widgets, node types, rows removed in answer to
// store events, online icons, places in line and the active counts in the
// page's tab title. Rows made and their status texts: TransfersFormRows.cpp.
#include "TransfersForm.h"
#include "RowProgressBar.h"
#include "TransferRow.h"
#include "shell/ActionSetToolBar.h"
#include "shell/ColumnFitter.h"
#include "shell/CutTextTips.h"
#include "shell/Kit.h"
#include "shell/SizeManager.h"
#include "shell/TabWidget.h"
#include "shell/TreeWidget.h"
#include "store/DataSaver.h"
#include "store/GeneralFunctions.h"
#include "store/Settings.h"
#include "store/TimerManager.h"
#include "store/ToQString.h"
#include "WidgetFunctions.h"
#include "transfers/TransferQueueManager.h"
#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>
#include <utility>

TransfersForm* transfersForm = nullptr;

namespace {

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
    // User, file and folder names, and speeds, take the room the list
    // leaves; a name still cut shows whole on hover.
    ColumnFitter::Attach(tree, { 0, 2, 1, 6 });
    CutTextTips::Attach(tree);
    tree->setContextMenuPolicy(Qt::CustomContextMenu);
    tree->setSelectionMode(QAbstractItemView::ExtendedSelection);
    tree->setSortingEnabled(false);
    // Every row has the same height: the view then lays out ten thousand
    // rows without asking each for its size.
    tree->setUniformRowHeights(true);
    tree->setItemDelegateForColumn(4, new RowProgressBar(tree));
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
    m_uploadRowTimer = new QTimer(this);
    m_uploadRowTimer->setSingleShot(true);
    m_uploadRowTimer->setInterval(kUploadRowsMs);
    connect(m_uploadRowTimer, &QTimer::timeout, this, &TransfersForm::AddUploadRows);
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
    pair("download_entry", "download_note", &TransfersForm::OnDownloadEntryReasonChange);
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
    m_staleUploads = std::make_unique<StaleUploads>();

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
    FitColumns();
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

void TransfersForm::DropProgressBar(QTreeWidget*, QTreeWidgetItem* row)
{
    if (row->data(4, RowProgressBar::ValueRole).isValid()) {
        row->setData(4, RowProgressBar::ValueRole, QVariant());
        row->setData(4, RowProgressBar::TextRole, QVariant());
    }
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
    for (QTreeWidgetItem* parent : { folderRow, userRow })
        FiguresOf(parent).Add(FiguresOf(row), -1);
    delete row;
    fileNode.Remove();
    const int tree = &kind == &Downloads() ? 0 : 1;
    m_staleBars[tree].remove(folderRow);
    if (folderRow->childCount() == 0) {
        m_foldersToOpen.remove(folderRow);
        ItemPtr userNode = folderNode[kind.userNode];
        if (!m_bulkFolderNodes.isEmpty())
            m_bulkFolderNodes.remove({ folderNode[kind.folderType].Get(), userRow });
        delete folderRow;
        folderNode.Remove();
        if (userRow->childCount() == 0) {
            m_staleBars[tree].remove(userRow);
            m_pendingUserRows.removeOne(userRow);
            if (!m_unbarredUserRows.isEmpty() && m_unbarredUserRows.front() == userRow)
                m_unbarredFolders = -1;
            m_unbarredUserRows.removeOne(userRow);
            delete userRow;
            userNode.Remove();
            QueueCountUpdate();
            return;
        }
    } else {
        m_staleBars[tree].insert(folderRow);
    }
    if (userRow->childCount() == 1) {
        DropProgressBar(kind.tree, userRow);
        userRow->setText(5, QString());
    }
    // The parents' status and sums follow, once for a burst of removals.
    m_staleBars[tree].insert(userRow);
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
    m_newUploads.remove(entry.Get());
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
        if (kind.userNode->HasItem(key) || kind.folderNode->HasItem(key))
            ShowOpened(kind, row);
    }
}

void TransfersForm::ShowOpened(const TreeKind& kind, QTreeWidgetItem* row)
{
    for (int column : { 3, 5, 6 }) {
        if (!row->text(column).isEmpty())
            row->setText(column, QString());
    }
    DropProgressBar(kind.tree, row);
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
    if (!m_foldersToOpen.isEmpty() && !(transferQueueManager && transferQueueManager->AddingDownloads())) {
        const QList<QTreeWidgetItem*> rows = std::exchange(m_foldersToOpen, {}).values();
        // Quietly: the view lays out and paints the whole tree again, as
        // each row is made here.
        const QSignalBlocker quietTree(m_downloadsList);
        const QSignalBlocker quietRows(m_downloadsList->model());
        m_downloadsList->ExpandItems(rows);
        for (QTreeWidgetItem* row : rows)
            ShowOpened(Downloads(), row);
    }
    for (int tree = 0; tree < 2; ++tree) {
        for (QTreeWidgetItem* row : std::exchange(m_staleBars[tree], {})) {
            // A user row still being built is brought up to date when it
            // goes into the tree.
            if (row->treeWidget())
                UpdateParentStatus(m_kinds[tree], row);
        }
    }
    if (!transferQueueManager)
        return;
    int index = -1;
    QTabWidget* tabs = GetWidgetTabWidget(this, index);
    if (!tabs)
        return;
    const QString title = QStringLiteral("Transfers [%1/%2]")
                              .arg(transferQueueManager->ActiveDownloadCount())
                              .arg(transferQueueManager->ActiveUploadCount());
    // A new title lays the tab bar out again.
    if (tabs->tabText(index) != title)
        tabs->setTabText(index, title);
}
