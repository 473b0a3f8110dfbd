#include "ShareViewBase.h"
#include "ShareFileRow.h"
#include "UserShareBuilder.h"
#include "pages/search/FilterHelpDialog.h"
#include "peers/PeerMessenger.h"
#include "shares/SharedFoldersManager.h"
#include "shell/ActionSetToolBar.h"
#include "shell/Kit.h"
#include "store/Data.h"
#include "store/Item.h"
#include "store/GeneralFunctions.h"
#include "store/Settings.h"
#include "store/SlicedWork.h"
#include "store/ToQString.h"
#include "WidgetFunctions.h"
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTextBrowser>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <unordered_set>

namespace {
// The folder above, through the parent link that the share list gave.
ItemPtr ParentFolder(ItemPtr folder)
{
    return folder["user_share_folder_parent"]["user_share_folder_child"]["user_share_folder"];
}
}

ShareViewBase::ShareViewBase(const QString& user, const QString& objectName, QWidget* parent)
    : QWidget(parent)
    , m_user(user)
{
    setObjectName(objectName);
    setWindowTitle(QStringLiteral("Form"));
    m_folderNodeType = d.GetType("user_share_folder_node");
    m_fileNodeType = d.GetType("user_share_file_node");
    m_fileType = d.GetType("user_share_file");

    auto* layout = new QVBoxLayout(this);
    layout->setObjectName(QStringLiteral("verticalLayout"));
    m_messageBrowser = new QTextBrowser(this);
    m_messageBrowser->setObjectName(QStringLiteral("messageBrowser"));
    m_messageBrowser->setMaximumHeight(60);
    m_messageBrowser->setOpenExternalLinks(true);
    layout->addWidget(m_messageBrowser);

    m_splitter = new QSplitter(Qt::Horizontal, this);
    m_splitter->setObjectName(QStringLiteral("splitter"));
    m_folderTree = new QTreeWidget(m_splitter);
    m_folderTree->setObjectName(QStringLiteral("folderTree"));
    m_folderTree->setColumnCount(1);
    m_folderTree->setHeaderLabels({ QStringLiteral("Folder") });
    m_folderTree->setSelectionMode(QAbstractItemView::SingleSelection);
    m_folderTree->setUniformRowHeights(true);
    RegisterWidgetForTabFocus(m_folderTree, 1);
    m_fileList = new QTreeWidget(m_splitter);
    m_fileList->setObjectName(QStringLiteral("fileList"));
    m_fileList->setColumnCount(3);
    m_fileList->setHeaderLabels({ QStringLiteral("File"), QStringLiteral("Size"), QStringLiteral("Attributes") });
    m_fileList->setRootIsDecorated(false);
    m_fileList->setUniformRowHeights(true);
    m_fileList->header()->resizeSection(0, 200);
    m_fileList->header()->resizeSection(1, 70);
    m_fileList->header()->setStretchLastSection(true);
    m_fileList->setSortingEnabled(true);
    m_fileList->sortByColumn(0, Qt::AscendingOrder);
    layout->addWidget(m_splitter, 1);

    auto* filterRow = new QHBoxLayout;
    auto* spacer = new QLabel(this);
    spacer->setObjectName(QStringLiteral("SearchFilterSpacer"));
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    m_filterHelpButton = new QPushButton(QStringLiteral("Filter Help"), this);
    m_filterHelpButton->setObjectName(QStringLiteral("filterHelpButton"));
    m_filterEdit = new QLineEdit(this);
    m_filterEdit->setObjectName(QStringLiteral("filterEdit"));
    m_filterEdit->setMinimumWidth(200);
    filterRow->addWidget(spacer);
    filterRow->addWidget(m_filterHelpButton);
    filterRow->addWidget(m_filterEdit);
    layout->addLayout(filterRow);

    m_folderTree->hide();
    m_fileList->hide();
    m_filterEdit->hide();
    m_filterHelpButton->hide();

    connect(m_folderTree, &QTreeWidget::currentItemChanged, this, &ShareViewBase::OnCurrentItemChanged);
    connect(m_filterEdit, &QLineEdit::textChanged, this, &ShareViewBase::OnFilterTextChanged);
    connect(m_filterHelpButton, &QPushButton::clicked, this, &ShareViewBase::OnFilterHelpClicked);

    m_buildTimer.setSingleShot(true);
    m_buildTimer.setInterval(0);
    connect(&m_buildTimer, &QTimer::timeout, this, &ShareViewBase::BuildSlice);
    m_fillTimer.setSingleShot(true);
    m_fillTimer.setInterval(0);
    connect(&m_fillTimer, &QTimer::timeout, this, &ShareViewBase::FillSlice);

    Subscribe(d.GetType("user_share")->itemRemoved, &ShareViewBase::OnShareItemRemoved);
}

ShareViewBase::~ShareViewBase()
{
    Forget();
    m_folderTree->blockSignals(true);
    m_fileList->blockSignals(true);
    ClearFileList();
    DeleteFolderRows();
}

bool ShareViewBase::IsBuilding() const
{
    return (m_builder && m_builder->Share()) || m_building;
}

UserShareBuilder* ShareViewBase::BuildFromList(const FileInfoMap& share)
{
    // A list from a peer is held rather than copied here.
    std::shared_ptr<const FileInfoMap> held = peerMessenger ? peerMessenger->HoldShareList(share) : nullptr;
    auto* builder = held ? new UserShareBuilder(std::move(held), this) : new UserShareBuilder(share, this);
    m_builder = builder;
    connect(builder, &UserShareBuilder::Finished, this, [this, builder](ItemPtr result) {
        if (m_builder == builder)
            m_builder = nullptr;
        builder->deleteLater();
        TakeShare(result);
    });
    builder->Start();
    return builder;
}

void ShareViewBase::Forget()
{
    if (m_builder) {
        m_builder->Stop();
        m_builder->deleteLater();
        m_builder = nullptr;
    }
    m_buildTimer.stop();
    m_fillTimer.stop();
    m_fillFiles.clear();
    m_buildFolders.clear();
    m_share = ItemPtr();
}

void ShareViewBase::OnShareItemRemoved(ItemPtr share)
{
    if (!share || share != m_share)
        return;
    // Rows built so far stay; they find no folder any more.
    const bool wasBuilding = m_building;
    Forget();
    if (wasBuilding)
        FinishRows();
    ShareRemoved();
}

// Rows and items.

ItemPtr ShareViewBase::FolderOfRow(QTreeWidgetItem* row) const
{
    return row ? m_folderNodeType->HasItem(Value(row))["user_share_folder"] : ItemPtr();
}

ItemPtr ShareViewBase::FileOfRow(QTreeWidgetItem* row) const
{
    return row ? m_fileNodeType->HasItem(Value(row))["user_share_file"] : ItemPtr();
}

QTreeWidgetItem* ShareViewBase::RowOfFolder(ItemPtr folder) const
{
    return folder["user_share_folder_node"].AsPointer<QTreeWidgetItem>();
}

QTreeWidgetItem* ShareViewBase::RowOfFile(ItemPtr file) const
{
    auto* row = file["user_share_file_node"].AsPointer<QTreeWidgetItem>();
    // Only rows of this view's list: the node of another view's row is its own.
    return row && row->treeWidget() == m_fileList ? row : nullptr;
}

void ShareViewBase::SetIcon(ItemPtr file, const QIcon& icon)
{
    if (QTreeWidgetItem* row = RowOfFile(file))
        row->setIcon(0, icon);
}

std::vector<ItemPtr> ShareViewBase::FoldersBelow(ItemPtr folder)
{
    std::vector<ItemPtr> result;
    if (!folder)
        return result;
    std::vector<ItemPtr> stack { folder };
    while (!stack.empty()) {
        ItemPtr next = stack.back();
        stack.pop_back();
        result.push_back(next);
        for (ItemPtr child : next.GetItems("user_share_folder_child")) {
            if (ItemPtr sub = child["user_share_folder_parent"]["user_share_folder"])
                stack.push_back(sub);
        }
    }
    return result;
}

// Building the folder rows.

ItemList ShareViewBase::TreeOrder(const ItemSet& folders)
{
    using Named = std::pair<QString, ItemPtr>;
    std::unordered_map<Item*, std::vector<Named>> children; // by parent; null: the top
    std::unordered_set<Item*> listed;
    for (ItemPtr folder : folders)
        listed.insert(folder.Get());
    for (ItemPtr folder : folders) {
        ItemPtr path = folder["user_share_folder_name"];
        if (!path)
            continue;
        Item* parent = ParentFolder(folder).Get();
        if (!listed.count(parent))
            parent = nullptr;
        // A top row whose parent the list lacks ranks by its whole path. The
        // path is read in place: a chain ten thousand levels deep holds a
        // hundred megabytes of paths.
        const std::string_view text = path.Get()->value.view();
        const QString name = ToQString(parent ? GetFileName(text) : std::string(text)).toLower();
        children[parent].emplace_back(name, folder);
    }
    for (auto& [parent, named] : children)
        std::stable_sort(named.begin(), named.end(),
            [](const Named& a, const Named& b) { return QString::compare(a.first, b.first, Qt::CaseSensitive) < 0; });
    ItemList order;
    order.reserve(folders.Size());
    std::vector<ItemPtr> stack;
    auto push = [&](Item* parent) {
        auto found = children.find(parent);
        if (found == children.end())
            return;
        for (auto it = found->second.rbegin(); it != found->second.rend(); ++it)
            stack.push_back(it->second);
    };
    push(nullptr);
    while (!stack.empty()) {
        ItemPtr folder = stack.back();
        stack.pop_back();
        order.push_back(folder);
        push(folder.Get());
    }
    return order;
}

void ShareViewBase::BuildRows(ItemPtr share, const ItemList& folders)
{
    m_share = share;
    m_buildFolders = folders;
    m_buildNext = 0;
    m_building = true;
    m_maxDepth = 0;
    m_rowDepth.clear();
    m_buildTops.clear();
    BuildSlice();
}

void ShareViewBase::BuildSlice()
{
    const QDeadlineTimer turn = SlicedWork::Turn();
    const size_t first = m_buildNext;
    while (m_buildNext < m_buildFolders.size()) {
        if (m_buildNext % 32 == 0 && turn.hasExpired()) {
            m_buildTimer.start();
            return;
        }
        ItemPtr folder = m_buildFolders[m_buildNext++];
        const std::string path = folder["user_share_folder_name"].Text();
        QTreeWidgetItem* parentRow = nullptr;
        if (GetParentFolder(path) != path)
            parentRow = RowOfFolder(ParentFolder(folder));
        auto* row = new QTreeWidgetItem;
        ShareFileRow::SetName(row, ToQString(GetFileName(path)));
        int depth = 0;
        auto parentDepth = parentRow ? m_rowDepth.find(parentRow) : m_rowDepth.end();
        if (parentDepth != m_rowDepth.end()) {
            parentRow->addChild(row);
            depth = parentDepth->second + 1;
            m_maxDepth = std::max(m_maxDepth, depth);
        } else {
            m_buildTops.append(row);
        }
        m_rowDepth.emplace(row, depth);
        folder += m_folderNodeType->GetItem(Value(row));
    }
    // The rows of a big share go in on a turn of their own: the tree lays
    // them all out then (once: a pass whose budget others have spent is
    // as good as any).
    if (m_buildNext != first && turn.remainingTime() <= SlicedWork::kTurnMs / 2) {
        m_buildTimer.start();
        return;
    }
    FinishRows();
}

void ShareViewBase::FinishRows()
{
    m_building = false;
    m_buildFolders.clear();
    m_rowDepth.clear();
    m_folderTree->setUpdatesEnabled(false);
    m_folderTree->addTopLevelItems(m_buildTops);
    m_buildTops.clear();
    if (settings.IsYes("expand_new_shares"))
        OpenRows();
    m_folderTree->setUpdatesEnabled(true);
    if (m_share)
        RowsBuilt();
}

void ShareViewBase::ShowTree()
{
    // A view opened before its list came holds the keyboard itself (or in its
    // message): the folders take it over.
    QWidget* focus = window()->focusWidget();
    const bool hadKeys = focus == this || focus == m_messageBrowser;
    m_messageBrowser->hide();
    m_folderTree->show();
    m_fileList->show();
    m_filterEdit->show();
    m_filterHelpButton->show();
    if (hadKeys)
        m_folderTree->setFocus();
}

std::vector<QTreeWidgetItem*> ShareViewBase::FolderRows() const
{
    // Children before their parent, siblings in order: freed in this order,
    // each row is the first child left in its parent's list.
    std::vector<QTreeWidgetItem*> rows;
    std::vector<std::pair<QTreeWidgetItem*, int>> stack;
    QList<QTreeWidgetItem*> tops = m_buildTops;
    for (int i = 0; i < m_folderTree->topLevelItemCount(); ++i)
        tops.append(m_folderTree->topLevelItem(i));
    for (QTreeWidgetItem* top : tops) {
        stack.emplace_back(top, 0);
        while (!stack.empty()) {
            auto& [row, next] = stack.back();
            if (next < row->childCount()) {
                QTreeWidgetItem* child = row->child(next++);
                stack.emplace_back(child, 0);
                continue;
            }
            rows.push_back(row);
            stack.pop_back();
        }
    }
    return rows;
}

void ShareViewBase::DeleteFolderRows()
{
    const std::vector<QTreeWidgetItem*> rows = FolderRows();
    for (QTreeWidgetItem* row : rows) {
        if (ItemPtr node = m_folderNodeType->HasItem(Value(row)))
            node.Remove();
    }
    // A row's destructor deletes its children recursively, and the view keeps
    // persistent indexes of open and hidden rows whose upkeep on removal grows
    // with their depth: close and show everything, take the rows out in one
    // go, then free them children first.
    m_folderTree->setUpdatesEnabled(false);
    m_folderTree->collapseAll();
    for (QTreeWidgetItem* row : rows) {
        if (row->isHidden())
            row->setHidden(false);
    }
    m_folderTree->setCurrentItem(nullptr);
    m_folderTree->invisibleRootItem()->takeChildren();
    for (QTreeWidgetItem* row : rows)
        delete row;
    m_buildTops.clear();
}

// The file list.

void ShareViewBase::ClearFileList()
{
    m_fillTimer.stop();
    m_fillFiles.clear();
    for (QTreeWidgetItem* row : m_fileRows) {
        if (ItemPtr node = m_fileNodeType->HasItem(Value(row)))
            node.Remove();
    }
    m_fileRows.clear();
    m_fileList->clear();
    m_fileList->setSortingEnabled(true);
}

QTreeWidgetItem* ShareViewBase::NewFileRow()
{
    return new ShareFileRow;
}

void ShareViewBase::OnCurrentItemChanged(QTreeWidgetItem* current, QTreeWidgetItem*)
{
    ClearFileList();
    ItemPtr folder = FolderOfRow(current);
    if (!folder)
        return;
    FilterParser filter;
    filter.Parse(m_filterEdit->text());
    // The words that the names of the folders on the path hold are consumed;
    // excluded words and conditions stay for the files.
    for (QTreeWidgetItem* row = current; row; row = row->parent()) {
        FilterParser remaining;
        if (filter.IsMatching(ShareFileRow::Name(row), &remaining, ItemPtr()) == FilterParser::Excluded)
            return;
        filter = remaining;
    }
    m_fillFilter = filter;
    for (ItemPtr file : folder.GetItems(m_fileType))
        m_fillFiles.push_back(file);
    m_fillNext = 0;
    m_fileList->setSortingEnabled(false);
    FillSlice();
}

void ShareViewBase::FillSlice()
{
    const QDeadlineTimer turn = SlicedWork::Turn();
    QList<QTreeWidgetItem*> batch;
    while (m_fillNext < m_fillFiles.size()) {
        if (m_fillNext % 64 == 0 && turn.hasExpired())
            break;
        ItemPtr file = m_fillFiles[m_fillNext++];
        const QString name = ToQString(file["user_share_file_name"].Text());
        if (m_fillFilter.IsMatching(name, nullptr, file) != FilterParser::Match)
            continue;
        QTreeWidgetItem* row = NewFileRow();
        ShareFileRow::SetName(row, name);
        row->setText(1, CommafyNumber(file["file_size"].AsInt64()));
        row->setText(2, SharedFoldersManager::GetFileItemDisplayString(file));
        file += m_fileNodeType->GetItem(Value(row));
        m_fileRows.push_back(row);
        batch.append(row);
    }
    m_fileList->addTopLevelItems(batch);
    if (m_fillNext < m_fillFiles.size()) {
        m_fillTimer.start();
        return;
    }
    m_fillFiles.clear();
    m_fileList->setSortingEnabled(true);
}

// The filter.

bool ShareViewBase::FilterFolderNode(QTreeWidgetItem* row, FilterParser& filter)
{
    struct Frame {
        QTreeWidgetItem* row;
        FilterParser remaining;
        bool visible;
        int next;
    };
    std::vector<Frame> stack;
    // Matches a row's name; false when an excluded word hides it with all
    // below it, else the row waits on the stack for its children.
    auto enter = [&](QTreeWidgetItem* at, const FilterParser& f) {
        Frame frame { at, FilterParser(), false, 0 };
        const int r = f.IsMatching(ShareFileRow::Name(at), &frame.remaining, ItemPtr());
        if (r == FilterParser::Excluded) {
            if (at->treeWidget())
                at->setHidden(true);
            return false;
        }
        if (r == FilterParser::Match && !frame.remaining.HasAttributes() && frame.remaining.MinFilesInFolder() == 0) {
            frame.visible = true;
        } else {
            const int wanted = std::max(1, frame.remaining.MinFilesInFolder());
            int found = 0;
            for (ItemPtr file : FolderOfRow(at).GetItems(m_fileType)) {
                const QString name = ToQString(file["user_share_file_name"].Text());
                if (frame.remaining.IsMatching(name, nullptr, file) == FilterParser::Match && ++found >= wanted)
                    break;
            }
            frame.visible = found >= wanted;
        }
        stack.push_back(std::move(frame));
        return true;
    };
    if (!enter(row, filter))
        return false;
    while (true) {
        Frame& top = stack.back();
        if (top.next < top.row->childCount()) {
            QTreeWidgetItem* child = top.row->child(top.next++);
            const FilterParser remaining = top.remaining;
            enter(child, remaining);
            continue;
        }
        const bool visible = top.visible;
        if (top.row->treeWidget())
            top.row->setHidden(!visible);
        stack.pop_back();
        if (stack.empty())
            return visible;
        if (visible)
            stack.back().visible = true;
    }
}

void ShareViewBase::OnFilterTextChanged(QString text)
{
    FilterParser filter;
    filter.Parse(text);
    for (int i = 0; i < m_folderTree->topLevelItemCount(); ++i)
        FilterFolderNode(m_folderTree->topLevelItem(i), filter);
    QTreeWidgetItem* current = m_folderTree->currentItem();
    if (!current)
        return;
    for (QTreeWidgetItem* row = current; row; row = row->parent()) {
        if (row->isHidden()) {
            ClearFileList();
            return;
        }
    }
    OnCurrentItemChanged(current, current);
}

void ShareViewBase::OnFilterHelpClicked()
{
    FilterHelpDialog::Open(this);
}

// Tree actions.

void ShareViewBase::ExpandLevel()
{
    if (m_expandLevel == m_maxDepth)
        return;
    m_folderTree->expandToDepth(m_expandLevel);
    ++m_expandLevel;
    if (actionBar)
        actionBar->SetWidgetActionText(
            m_folderTree, QStringLiteral("expand_level"), QStringLiteral("Expand Level [%1]").arg(m_expandLevel));
}

void ShareViewBase::OpenRows()
{
    if (m_maxDepth < kOpenDepth) {
        m_folderTree->expandAll();
        return;
    }
    // With a layout pending, a row opened is only marked open; the one layout
    // that follows is bounded by the depth opened.
    m_folderTree->setRootIndex(m_folderTree->rootIndex());
    std::vector<std::pair<QTreeWidgetItem*, int>> stack;
    for (int i = m_folderTree->topLevelItemCount(); i-- > 0;)
        stack.emplace_back(m_folderTree->topLevelItem(i), 0);
    while (!stack.empty()) {
        auto [row, depth] = stack.back();
        stack.pop_back();
        if (row->childCount() == 0)
            continue;
        row->setExpanded(true);
        if (depth + 1 < kOpenDepth)
            for (int i = row->childCount(); i-- > 0;)
                stack.emplace_back(row->child(i), depth + 1);
    }
}

void ShareViewBase::ExpandAll()
{
    OpenRows();
    m_expandLevel = 0;
    if (actionBar)
        actionBar->SetWidgetActionText(m_folderTree, QStringLiteral("expand_level"), QStringLiteral("Expand Level"));
}

void ShareViewBase::CollapseAll()
{
    m_folderTree->collapseAll();
    m_expandLevel = 0;
    if (actionBar)
        actionBar->SetWidgetActionText(m_folderTree, QStringLiteral("expand_level"), QStringLiteral("Expand Level"));
}
