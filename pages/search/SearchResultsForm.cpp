#include "SearchResultsForm.h"
#include "SearchResultListItem.h"
#include "WidgetFunctions.h"
#include "peers/SearchReplyQueue.h"
#include "server/Server.h"
#include "shares/SharedFoldersManager.h"
#include "shell/ActionSetToolBar.h"
#include "shell/EventToolBar.h"
#include "shell/Kit.h"
#include "shell/SizeManager.h"
#include "store/DelayedInvoker.h"
#include "store/GeneralFunctions.h"
#include "store/Settings.h"
#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

constexpr int kCorrelationTextRole = Qt::UserRole; // the text as the server sent it

} // namespace

SearchResultsForm::SearchResultsForm(QString searchText, bool wishList, QWidget* parent)
    : QWidget(parent)
    , m_searchText(std::move(searchText))
    , m_wishList(wishList)
{
    BuildWidgets();
    m_results->setSortingEnabled(false);

    m_correlations->hide();
    m_correlations->setHeaderLabels({ tr("related searches") });
    if (!m_wishList) {
        PopulateCorrelations();
        if (gp_server)
            connect(gp_server, &Server::SearchCorrelations, this, &SearchResultsForm::OnSearchCorrelations);
    }

    m_oldStyle = settings.IsYes("use_old_style_search_results");
    if (m_oldStyle) {
        actionBar->RegisterWidget(this, QStringLiteral("search_results_old"));
        m_results->header()->setSectionsClickable(true);
        m_results->header()->setSortIndicatorShown(true);
        connect(m_results->header(), &QHeaderView::sectionClicked, this, &SearchResultsForm::OnSectionClicked);
    } else {
        actionBar->RegisterWidget(this, QStringLiteral("search_results"));
        m_results->header()->setSectionsClickable(false);
    }

    m_results->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_results, &QTreeWidget::customContextMenuRequested, this, &SearchResultsForm::OnContextMenuRequested);
    connect(m_results, &QTreeWidget::itemDoubleClicked, this, &SearchResultsForm::OnResultDoubleClicked);
}

SearchResultsForm::~SearchResultsForm()
{
    // Closed while being taken apart (with the window): the rest goes now.
    DismantleSlice(false);
    // The page removes the tab's item when it closes the tab; a tab destroyed
    // another way (with the window) takes it along, so no item ever holds the
    // address of a dead tab.
    if (ItemPtr widgetItem = WidgetItem())
        widgetItem.Remove();
}

void SearchResultsForm::BuildWidgets()
{
    setWindowTitle(tr("Form"));
    resize(723, 406);
    auto* layout = new QVBoxLayout(this);
    m_splitter = new QSplitter(Qt::Horizontal, this);
    m_splitter->setObjectName(QStringLiteral("splitter"));
    m_results = new QTreeWidget(m_splitter);
    m_results->setObjectName(QStringLiteral("searchResultsTreeWidget"));
    m_results->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_results->setExpandsOnDoubleClick(false);
    m_results->setUniformRowHeights(true);
    m_correlations = new QTreeWidget(m_splitter);
    m_correlations->setObjectName(QStringLiteral("correlationsWidget"));
    m_splitter->setStretchFactor(0, 1);
    m_splitter->setStretchFactor(1, 0);
    m_correlations->setRootIsDecorated(false);
    layout->addWidget(m_splitter);

    auto* row = new QHBoxLayout;
    row->addStretch();
    m_filterHelp = new QPushButton(tr("Filter Help"), this);
    row->addWidget(m_filterHelp);
    m_savedFilters = new QComboBox(this);
    m_savedFilters->setObjectName(QStringLiteral("savedFiltersBox"));
    m_savedFilters->setFixedWidth(150);
    m_savedFilters->addItem(tr("-- saved filters"));
    row->addWidget(m_savedFilters);
    m_filterEdit = new QLineEdit(this);
    m_filterEdit->setObjectName(QStringLiteral("filterEdit"));
    m_filterEdit->setMinimumWidth(200);
    row->addWidget(m_filterEdit);
    m_clearFilter = new QPushButton(tr("Clear"), this);
    m_clearFilter->setFixedWidth(60);
    row->addWidget(m_clearFilter);
    m_saveFilter = new QPushButton(tr("Save Filter"), this);
    m_saveFilter->setObjectName(QStringLiteral("saveFilterButton"));
    m_saveFilter->setFixedWidth(90);
    row->addWidget(m_saveFilter);
    m_defaultFilter = new QCheckBox(tr("Default Filter"), this);
    m_defaultFilter->setObjectName(QStringLiteral("defaultFilterBox"));
    row->addWidget(m_defaultFilter);
    layout->addLayout(row);

    connect(m_filterEdit, &QLineEdit::textChanged, this, &SearchResultsForm::OnFilterTextChanged);
    connect(m_filterHelp, &QPushButton::clicked, this, &SearchResultsForm::OnFilterHelpClicked);
    connect(m_saveFilter, &QPushButton::clicked, this, &SearchResultsForm::OnSaveFilterClicked);
    connect(m_savedFilters, qOverload<int>(&QComboBox::currentIndexChanged), this,
        &SearchResultsForm::OnSavedFiltersBoxIndexChanged);
    connect(m_clearFilter, &QPushButton::clicked, this, &SearchResultsForm::OnClearFilterClicked);
    connect(m_defaultFilter, &QCheckBox::clicked, this, &SearchResultsForm::OnDefaultFilterBoxToggled);
}

void SearchResultsForm::SayNotSent()
{
    ShowNotice(tr("Not connected to the server: the search was not sent. Search again once the client is "
                  "connected."));
}

void SearchResultsForm::SayDropped(qint64 results, bool searchFull)
{
    m_droppedResults += results;
    m_searchFull = m_searchFull || searchFull;
    if (m_searchFull)
        ShowNotice(
            tr("%1 results were left out: a search keeps at most %2 results.")
                .arg(CommafyNumber(m_droppedResults), CommafyNumber(SearchReplyQueue::kMaxResultsPerSearch)));
    else
        ShowNotice(tr("%1 results were left out: more arrived at once than the tab could take.")
                       .arg(CommafyNumber(m_droppedResults)));
}

void SearchResultsForm::ShowNotice(const QString& text)
{
    if (!m_notice) {
        m_notice = new QLabel(this);
        m_notice->setObjectName(QStringLiteral("noticeLabel"));
        m_notice->setTextFormat(Qt::PlainText);
        m_notice->setWordWrap(true);
        auto* column = static_cast<QVBoxLayout*>(layout());
        column->insertWidget(0, m_notice);
        column->setStretchFactor(m_splitter, 1);
    }
    m_notice->setText(text);
}

void SearchResultsForm::Init()
{
    RegisterWidgetForTabFocus(m_results, 2);
    Type* saved = d.GetType("saved_filter");
    for (ItemPtr filter : saved->GetItems())
        m_savedFilters->addItem(filter.AsString());
    Subscribe(saved->itemAdded, &SearchResultsForm::OnSavedFilterAdded);
    Subscribe(saved->itemRemoved, &SearchResultsForm::OnSavedFilterRemoved);
}

ItemPtr SearchResultsForm::WidgetItem() const
{
    Type* type = d.HasType("search_results_widget");
    return type ? type->HasItem(Value(static_cast<const QObject*>(this))) : ItemPtr();
}

ItemPtr SearchResultsForm::FileNode(const QTreeWidgetItem* row)
{
    return row ? d.GetType("search_result_node")->HasItem(Value(row)) : ItemPtr();
}

ItemPtr SearchResultsForm::FolderNode(const QTreeWidgetItem* row)
{
    return row ? d.GetType("search_results_folder_node")->HasItem(Value(row)) : ItemPtr();
}

ItemPtr SearchResultsForm::UserNode(const QTreeWidgetItem* row)
{
    return row ? d.GetType("search_results_user_node")->HasItem(Value(row)) : ItemPtr();
}

ItemPtr SearchResultsForm::ResultOfRow(const QTreeWidgetItem* row)
{
    return FileNode(row)["search_result"];
}

ItemList SearchResultsForm::FolderRowResults(const QTreeWidgetItem* folderRow)
{
    ItemList results;
    for (ItemPtr node : FolderNode(folderRow).GetItems("search_result_node")) {
        if (ItemPtr result = node["search_result"])
            results.push_back(result);
    }
    return results;
}

ItemList SearchResultsForm::FolderResultsOfFileRow(const QTreeWidgetItem* fileRow)
{
    if (FolderNode(fileRow->parent()))
        return FolderRowResults(fileRow->parent());
    // The flat layout: the rows of the same user and folder.
    ItemList results;
    ItemPtr result = ResultOfRow(fileRow);
    ItemPtr user = result["search_results"]["user"];
    ItemPtr folder = result["search_result_file_folder"];
    QTreeWidget* tree = fileRow->treeWidget();
    for (int i = 0; tree && i < tree->topLevelItemCount(); ++i) {
        ItemPtr other = ResultOfRow(tree->topLevelItem(i));
        if (other && other["search_result_file_folder"] == folder && other["search_results"]["user"] == user)
            results.push_back(other);
    }
    return results;
}

ItemPtr SearchResultsForm::SearchTextOfResult(ItemPtr result)
{
    return result["search_results"]["search_request"]["search_request_text"];
}

QTreeWidgetItem* SearchResultsForm::AddSearchResult(ItemPtr result)
{
    ItemPtr reply = result["search_results"];
    ItemPtr user = reply["user"];
    ItemPtr folderItem = result["search_result_file_folder"];
    ItemPtr nameItem = result["search_result_file_name"];
    ItemPtr tabItem = WidgetItem();

    Type* fileNodeType = d.GetType("search_result_node");
    if (m_oldStyle) {
        QTreeWidgetItem*& known = m_fileRows.Slot(user.Get(), folderItem.Get(), nameItem.Get());
        if (known) {
            TakeRepeatedResult(known, result);
            return nullptr;
        }
        auto* row = new SearchResultListItem;
        row->setFlags(row->flags() | Qt::ItemNeverHasChildren);
        row->SetName(UserColumn, m_names.Get(user.AsString()));
        SetUserCells(row, reply);
        row->SetName(FolderColumn, m_names.Get(ReversePathname(folderItem.AsString())));
        row->SetName(FileColumn, m_names.Get(nameItem.AsString()));
        SetFileCells(row, result);
        PlaceRow(nullptr, row);
        known = row;
        fileNodeType->NewItem(Value(static_cast<QTreeWidgetItem*>(row))).Connect(result);
        FilterParser filter;
        filter.Parse(m_filterEdit->text());
        if (!FlatRowPasses(row, filter))
            row->setHidden(true);
        return nullptr;
    }

    // User row: one per user and tab.
    Type* userNodeType = d.GetType("search_results_user_node");
    ItemPtr userNode = d.GetItem(tabItem, user, "search_results_user_node");
    QTreeWidgetItem* userRow = userNode.AsPointer<QTreeWidgetItem>();
    if (!userNode) {
        auto* row = new SearchResultListItem;
        row->SetName(UserColumn, m_names.Get(user.AsString()));
        SetUserCells(row, reply);
        row->setTextAlignment(FreeColumn, Qt::AlignHCenter);
        m_newUsers.push_back(row);
        userRow = row;
        userNode = userNodeType->NewItem(Value(userRow));
        userNode.Connect(tabItem);
        userNode.Connect(user);
    }

    // Folder row: one per folder text under the user row.
    ItemPtr folderNode = d.GetItem(userNode, folderItem, "search_results_folder_node");
    QTreeWidgetItem* folderRow = folderNode.AsPointer<QTreeWidgetItem>();
    if (!folderNode) {
        auto* row = new SearchResultListItem;
        row->SetName(FolderColumn, m_names.Get(ReversePathname(folderItem.AsString())));
        m_newFolders.emplace_back(userRow, row);
        folderRow = row;
        folderNode = d.GetType("search_results_folder_node")->NewItem(Value(folderRow));
        folderNode.Connect(userNode);
        folderNode.Connect(folderItem);
    }

    // File row: new unless the folder row lists the name already.
    QTreeWidgetItem*& known = m_fileRows.Slot(folderRow, nameItem.Get(), nullptr);
    if (known) {
        if (TakeRepeatedResult(known, result))
            TouchFolder(folderRow);
        return userRow;
    }
    auto* fileRow = new SearchResultListItem;
    // The tree's layout walks every row each time rows come or go; a row that
    // says it never has children is spared the questions about them.
    fileRow->setFlags(fileRow->flags() | Qt::ItemNeverHasChildren);
    fileRow->SetName(FileColumn, m_names.Get(nameItem.AsString()));
    SetFileCells(fileRow, result);
    m_newFiles.emplace_back(folderRow, fileRow);
    known = fileRow;
    ItemPtr fileNode = fileNodeType->NewItem(Value(static_cast<QTreeWidgetItem*>(fileRow)));
    fileNode.Connect(result);
    fileNode.Connect(folderNode);
    TouchFolder(folderRow);
    if (!m_addingReply)
        AttachNewRows();
    return userRow;
}

void SearchResultsForm::AttachNewRows()
{
    // Rows go in under each parent in as few runs as they can: every insert
    // among a shown tree's rows walks each open folder of the tab.
    PlaceRows(m_newFiles);
    PlaceRows(m_newFolders);
    for (QTreeWidgetItem* userRow : m_newUsers)
        PlaceRow(nullptr, userRow);
    m_newUsers.clear();
    ItemPtr tabItem = WidgetItem();
    const bool expandUsers = tabItem["expand_users"].AsStdString() == "yes";
    const bool expandFolders = tabItem["expand_folders"].AsStdString() == "yes";
    for (QTreeWidgetItem* folderRow : m_touchedFolders) {
        if (expandUsers && folderRow->parent())
            folderRow->parent()->setExpanded(true);
        if (expandFolders)
            folderRow->setExpanded(true);
    }
}

void SearchResultsForm::SetUserCells(SearchResultListItem* row, ItemPtr reply)
{
    if (reply["search_results_user_available"].AsStdString() == "yes")
        row->setText(FreeColumn, QStringLiteral("Y"));
    else
        row->setText(FreeColumn, reply["search_results_uploads_in_queue"].AsString());
    const double speed = reply["search_results_user_speed"].AsInt() / 1024.0;
    if (speed != 0)
        row->setText(SpeedColumn, QStringLiteral("%1").arg(speed, 0, 'f', 1));
}

void SearchResultsForm::SetFileCells(SearchResultListItem* row, ItemPtr result)
{
    const qint64 size = result["file_size"].AsInt64();
    row->setText(SizeColumn, CommafyNumber(size));
    row->setText(AttributesColumn, SharedFoldersManager::GetFileItemDisplayString(result));
    row->SetFileNumbers(size, result["bitrate"].AsInt());
}

bool SearchResultsForm::TakeRepeatedResult(QTreeWidgetItem* row, ItemPtr result)
{
    ItemPtr node = FileNode(row);
    ItemPtr shown = node["search_result"];
    const bool changed = !shown || shown["file_size"].AsInt64() != result["file_size"].AsInt64()
        || SharedFoldersManager::GetFileItemDisplayString(shown)
            != SharedFoldersManager::GetFileItemDisplayString(result);
    if (changed) {
        SetFileCells(static_cast<SearchResultListItem*>(row), result);
        m_sortPending = true; // the row may rank elsewhere now
        node.Connect(result); // the row's earlier result lets go of it
    }
    ItemPtr unshown = changed ? shown : result;
    if (unshown) {
        m_repliesToCheck.push_back(unshown["search_results"]);
        unshown.Remove();
    }
    return changed;
}

void SearchResultsForm::TouchFolder(QTreeWidgetItem* folderRow)
{
    if (m_touchedFolders.empty() || m_touchedFolders.back() != folderRow)
        m_touchedFolders.push_back(folderRow);
}

void SearchResultsForm::AddUserSearchResults(ItemPtr searchResults)
{
    // A reply that arrives once the tab's item is gone has nowhere to go.
    if (!WidgetItem())
        return;
    m_touchedFolders.clear();
    m_repliesToCheck.clear();
    QTreeWidgetItem* userRow = nullptr;
    m_addingReply = true;
    for (ItemPtr result : searchResults.GetItems("search_result").ToList())
        userRow = AddSearchResult(result);
    m_addingReply = false;
    // The rows went in at their places: the tab is in its order.
    m_results->header()->setSortIndicator(m_sortColumn, m_sortOrder);
    std::sort(m_touchedFolders.begin(), m_touchedFolders.end());
    m_touchedFolders.erase(std::unique(m_touchedFolders.begin(), m_touchedFolders.end()), m_touchedFolders.end());
    AttachNewRows();

    if (userRow) {
        FilterParser filter;
        filter.Parse(m_filterEdit->text());
        // Only the folders this reply added to need the walk; the others kept
        // their state, since the filter text did not change.
        for (QTreeWidgetItem* folderRow : m_touchedFolders)
            FilterFolderRow(folderRow, filter);
        UpdateUserRow(userRow);
    }
    m_touchedFolders.clear();

    // Replies left without a shown file are not kept: a wish repeated in an
    // open tab brings the same files again and again.
    m_repliesToCheck.push_back(searchResults);
    std::sort(m_repliesToCheck.begin(), m_repliesToCheck.end(),
        [](ItemPtr a, ItemPtr b) { return a.Get() < b.Get(); });
    m_repliesToCheck.erase(
        std::unique(m_repliesToCheck.begin(), m_repliesToCheck.end()), m_repliesToCheck.end());
    for (ItemPtr reply : m_repliesToCheck)
        if (reply && !reply.IsConnected("search_result"))
            reply.Remove();
    m_repliesToCheck.clear();

    AlertWishList();
    if (m_sortPending && delayedInvoker)
        delayedInvoker->Invoke(this, "1Sort()", 1000);
}

void SearchResultsForm::AlertWishList()
{
    ItemPtr tabItem = WidgetItem();
    ItemPtr wish = tabItem["wish_list_item"];
    if (!wish || tabItem.IsConnected("search_results_widget_alerted"))
        return;
    bool anyShown = false;
    for (int i = 0; i < m_results->topLevelItemCount() && !anyShown; ++i)
        anyShown = !m_results->topLevelItem(i)->isHidden();
    if (!anyShown)
        return;
    if (eventToolBar)
        eventToolBar->AddEvent(IsolatedText(wish.AsString()), QStringLiteral(":/icons/wishlist_icon"), this,
            QString(), QStringLiteral("wishlist"), false);
    tabItem.Connect(d.GetType("search_results_widget_alerted")->GetGlobalNullItem());
}

QTreeWidgetItem* SearchResultsForm::GetNodeUserNode(QTreeWidgetItem* row) const
{
    if (!row)
        return nullptr;
    if (UserNode(row))
        return row;
    if (FolderNode(row))
        return row->parent();
    return row->parent() ? row->parent()->parent() : nullptr;
}

void SearchResultsForm::PopulateCorrelations()
{
    // A later answer for the text may come while the user is in the list: it
    // is filled again in place, the keyboard on it and on the same search.
    // Hiding the list would send the keys on to whatever widget follows it.
    const QTreeWidgetItem* current = m_correlations->currentItem();
    const QString currentText = current ? CorrelationText(current) : QString();
    m_correlations->clear();
    Type* textType = d.HasType("search_request_text");
    ItemPtr text = textType ? textType->HasItem(Value(m_searchText)) : ItemPtr();
    const ItemList correlations = text.GetItems("search_correlation").SortNumericBy("correlation_rank", true);
    if (correlations.empty()) {
        if (window()->focusWidget() == m_correlations)
            m_results->setFocus();
        m_correlations->hide();
        return;
    }
    for (ItemPtr correlation : correlations) {
        auto* row = new QTreeWidgetItem(m_correlations);
        const QString text = correlation["correlation_text"].AsString();
        row->setText(0, SearchResultListItem::Shown(text));
        row->setData(0, kCorrelationTextRole, text);
        if (!currentText.isEmpty() && text == currentText)
            m_correlations->setCurrentItem(row);
    }
    m_correlations->show();
    // The results take whatever the list of 150 pixels leaves, also when the
    // tab grows later.
    const QList<int> sizes{ qMax(width() - 150, 150), 150 };
    m_splitter->setSizes(sizes);
    if (sizeManager)
        sizeManager->RegisterSplitter(QStringLiteral("correlations_splitter"), m_splitter, sizes);
}

QString SearchResultsForm::CorrelationText(const QTreeWidgetItem* row)
{
    return row ? row->data(0, kCorrelationTextRole).toString() : QString();
}

void SearchResultsForm::OnSearchCorrelations(QString searchText)
{
    if (searchText == m_searchText)
        PopulateCorrelations();
}

void SearchResultsForm::SetSortingParamters(int column, Qt::SortOrder order)
{
    m_sortColumn = column;
    m_sortOrder = order;
}

void SearchResultsForm::PlaceRow(QTreeWidgetItem* parent, QTreeWidgetItem* row)
{
    const int at = SearchResultListItem::SortedPosition(m_results, parent, row, m_sortColumn, m_sortOrder);
    if (parent)
        parent->insertChild(at, row);
    else
        m_results->insertTopLevelItem(at, row);
}

void SearchResultsForm::PlaceRows(std::vector<std::pair<QTreeWidgetItem*, QTreeWidgetItem*>>& rows)
{
    const auto ranks = [this](const QTreeWidgetItem* a, const QTreeWidgetItem* b) {
        return m_sortOrder == Qt::AscendingOrder ? SearchResultListItem::Ranks(*a, *b, m_sortColumn)
                                                 : SearchResultListItem::Ranks(*b, *a, m_sortColumn);
    };
    // By parent, then in the tab's order; rows that rank alike keep the order
    // they came in, as one at a time they would.
    std::stable_sort(rows.begin(), rows.end(), [&ranks](const auto& a, const auto& b) {
        return a.first != b.first ? std::less<>()(a.first, b.first) : ranks(a.second, b.second);
    });
    for (size_t begin = 0; begin < rows.size();) {
        QTreeWidgetItem* parent = rows[begin].first;
        size_t end = begin;
        while (end < rows.size() && rows[end].first == parent)
            ++end;
        // Each row's place among the rows already there; runs that share a
        // place go in together, the last first so that the places before it
        // hold.
        std::vector<std::pair<int, QList<QTreeWidgetItem*>>> runs;
        for (size_t i = begin; i < end; ++i) {
            const int at
                = SearchResultListItem::SortedPosition(m_results, parent, rows[i].second, m_sortColumn, m_sortOrder);
            if (runs.empty() || runs.back().first != at)
                runs.emplace_back(at, QList<QTreeWidgetItem*>());
            runs.back().second.append(rows[i].second);
        }
        for (auto run = runs.rbegin(); run != runs.rend(); ++run)
            parent->insertChildren(run->first, run->second);
        begin = end;
    }
    rows.clear();
}

void SearchResultsForm::Sort()
{
    m_sortPending = false;
    m_results->sortByColumn(m_sortColumn, m_sortOrder);
}

void SearchResultsForm::OnSectionClicked(int column)
{
    m_sortColumn = column;
    m_sortOrder = m_results->header()->sortIndicatorOrder();
    Sort();
}

bool SearchResultsForm::CompareSearchResults(ItemPtr a, ItemPtr b)
{
    const std::string folderA = a["search_result_file_folder"].Text();
    const std::string folderB = b["search_result_file_folder"].Text();
    if (folderA != folderB)
        return a["search_result_file_folder"].AsString() < b["search_result_file_folder"].AsString();
    return a["search_result_file_name"].AsString() < b["search_result_file_name"].AsString();
}

void SearchResultsForm::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (eventToolBar)
        eventToolBar->RemoveEvents(this);
}
