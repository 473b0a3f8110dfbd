#include "SearchResultsForm.h"
#include "SearchResultListItem.h"
#include "shares/SharedFoldersManager.h"
#include "server/Server.h"
#include "shell/ActionSetToolBar.h"
#include "shell/EventToolBar.h"
#include "shell/SizeManager.h"
#include "store/DelayedInvoker.h"
#include "store/GeneralFunctions.h"
#include "store/Settings.h"
#include "WidgetFunctions.h"
#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>

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

ItemPtr SearchResultsForm::SearchTextOfResult(ItemPtr result)
{
    return result["search_results"]["search_request"]["search_request_text"];
}

QTreeWidgetItem* SearchResultsForm::AddSearchResult(ItemPtr result)
{
    ItemPtr reply = result["search_results"];
    ItemPtr user = reply["user"];
    ItemPtr folderItem = result["search_result_file_folder"];
    const QString folderText = folderItem.AsString();
    const QString fileName = result["search_result_file_name"].AsString();
    const qint64 size = result["file_size"].AsInt64();
    ItemPtr bitrate = result["bitrate"];
    const QString sizeText = CommafyNumber(size);
    const QString attributes = SharedFoldersManager::GetFileItemDisplayString(result);
    ItemPtr tabItem = WidgetItem();

    QString freeText;
    QString speedText;
    if (reply["search_results_user_available"].AsStdString() == "yes")
        freeText = QStringLiteral("Y");
    else
        freeText = reply["search_results_uploads_in_queue"].AsString();
    const double speed = reply["search_results_user_speed"].AsInt() / 1024.0;
    if (speed != 0)
        speedText = QStringLiteral("%1").arg(speed, 0, 'f', 1);

    Type* fileNodeType = d.GetType("search_result_node");
    ItemPtr nameItem = result["search_result_file_name"];
    if (m_oldStyle) {
        if (!MarkShown(user.Get(), folderItem.Get(), nameItem.Get()))
            return nullptr;
        auto* row = new SearchResultListItem;
        row->setText(UserColumn, user.AsString());
        row->setText(FreeColumn, freeText);
        row->setText(SpeedColumn, speedText);
        row->setText(FolderColumn, ReversePathname(folderText));
        row->setText(FileColumn, fileName);
        row->setText(SizeColumn, sizeText);
        row->setText(AttributesColumn, attributes);
        row->SetFileNumbers(size, bitrate.AsInt());
        m_results->addTopLevelItem(row);
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
        row->setText(UserColumn, user.AsString());
        row->setText(FreeColumn, freeText);
        row->setTextAlignment(FreeColumn, Qt::AlignHCenter);
        row->setText(SpeedColumn, speedText);
        m_results->addTopLevelItem(row);
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
        row->setText(FolderColumn, ReversePathname(folderText));
        userRow->addChild(row);
        folderRow = row;
        folderNode = d.GetType("search_results_folder_node")->NewItem(Value(folderRow));
        folderNode.Connect(userNode);
        folderNode.Connect(folderItem);
    }

    // File row: new unless the folder row lists the name already.
    if (!MarkShown(folderRow, nameItem.Get(), nullptr))
        return userRow;
    auto* fileRow = new SearchResultListItem;
    fileRow->setText(FileColumn, fileName);
    fileRow->setText(SizeColumn, sizeText);
    fileRow->setText(AttributesColumn, attributes);
    fileRow->SetFileNumbers(size, bitrate.AsInt());
    folderRow->addChild(fileRow);
    ItemPtr fileNode = fileNodeType->NewItem(Value(static_cast<QTreeWidgetItem*>(fileRow)));
    fileNode.Connect(result);
    fileNode.Connect(folderNode);

    if (tabItem["expand_users"].AsStdString() == "yes")
        userRow->setExpanded(true);
    if (tabItem["expand_folders"].AsStdString() == "yes")
        folderRow->setExpanded(true);
    if (m_touchedFolders.empty() || m_touchedFolders.back() != folderRow)
        m_touchedFolders.push_back(folderRow);
    return userRow;
}

void SearchResultsForm::AddUserSearchResults(ItemPtr searchResults)
{
    // A reply that arrives once the tab's item is gone has nowhere to go.
    if (!WidgetItem())
        return;
    m_touchedFolders.clear();
    QTreeWidgetItem* userRow = nullptr;
    for (ItemPtr result : searchResults.GetItems("search_result"))
        userRow = AddSearchResult(result);

    if (userRow) {
        FilterParser filter;
        filter.Parse(m_filterEdit->text());
        // Only the folders this reply added to need the walk; the others kept
        // their state, since the filter text did not change.
        std::sort(m_touchedFolders.begin(), m_touchedFolders.end());
        m_touchedFolders.erase(std::unique(m_touchedFolders.begin(), m_touchedFolders.end()), m_touchedFolders.end());
        for (QTreeWidgetItem* folderRow : m_touchedFolders)
            FilterFolderRow(folderRow, filter);
        UpdateUserRow(userRow);
    }
    m_touchedFolders.clear();

    AlertWishList();
    if (delayedInvoker)
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
        eventToolBar->AddEvent(wish.AsString(), QStringLiteral(":/icons/wishlist_icon"), this, QString(),
            QStringLiteral("wishlist"), false);
    tabItem.Connect(d.GetType("search_results_widget_alerted")->GetGlobalNullItem());
}

bool SearchResultsForm::MarkShown(const void* a, const void* b, const void* c)
{
    const void* key[3] = { a, b, c };
    return m_shownFiles.emplace(reinterpret_cast<const char*>(key), sizeof key).second;
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
    m_correlations->clear();
    m_correlations->hide();
    Type* textType = d.HasType("search_request_text");
    ItemPtr text = textType ? textType->HasItem(Value(m_searchText)) : ItemPtr();
    const ItemList correlations = text.GetItems("search_correlation").SortNumericBy("correlation_rank", true);
    if (correlations.empty())
        return;
    for (ItemPtr correlation : correlations) {
        auto* row = new QTreeWidgetItem(m_correlations);
        row->setText(0, correlation["correlation_text"].AsString());
    }
    m_correlations->show();
    // The results take whatever the list of 150 pixels leaves, also when the
    // tab grows later.
    const QList<int> sizes{ qMax(width() - 150, 150), 150 };
    m_splitter->setSizes(sizes);
    if (sizeManager)
        sizeManager->RegisterSplitter(QStringLiteral("correlations_splitter"), m_splitter, sizes);
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

void SearchResultsForm::Sort()
{
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
