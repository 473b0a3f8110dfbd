#include "SearchForm.h"
#include "ReceivedSearchesForm.h"
#include "SearchResultsForm.h"
#include "peers/PeerMessenger.h"
#include "server/Server.h"
#include "shell/ActionSetToolBar.h"
#include "shell/ColumnFitter.h"
#include "shell/CutTextTips.h"
#include "shell/EventToolBar.h"
#include "shell/Kit.h"
#include "shell/SizeManager.h"
#include "shell/TabWidget.h"
#include "store/DataSaver.h"
#include "store/Settings.h"
#include "WidgetFunctions.h"
#include <QComboBox>
#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>

SearchForm* searchForm = nullptr;

namespace {

const QString kRoomPrefix = QStringLiteral("Room: ");

SearchResultsForm* FormOfWidgetItem(ItemPtr widgetItem)
{
    // A widget item exists only while its tab does (the tab removes it when it
    // goes), so the address is a live widget.
    return widgetItem ? qobject_cast<SearchResultsForm*>(widgetItem.AsPointer<QWidget>()) : nullptr;
}

} // namespace

SearchForm::SearchForm(QWidget* parent)
    : QWidget(parent)
{
    searchForm = this;
    BuildWidgets();
    m_wishList->setHeaderLabels({ tr("Wish List Item") });
    connect(m_searchEdit->lineEdit(), &QLineEdit::returnPressed, this, &SearchForm::OnSearchEntered);
    connect(m_searchButton, &QPushButton::clicked, this, &SearchForm::OnSearchEntered);
    m_wishList->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_wishList, &QTreeWidget::customContextMenuRequested, this, &SearchForm::OnWishListContextMenuRequested);
}

SearchForm::~SearchForm()
{
    if (dataSaver)
        dataSaver->RemoveDataLoadedEventHandler(this);
    if (searchForm == this)
        searchForm = nullptr;
}

void SearchForm::BuildWidgets()
{
    setObjectName(QStringLiteral("SearchForm"));
    setWindowTitle(tr("Form"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("tabWidget"));
    layout->addWidget(m_tabs);

    auto* manual = new QWidget;
    manual->setObjectName(QStringLiteral("manualSearchesTab"));
    auto* manualLayout = new QVBoxLayout(manual);
    auto* row = new QHBoxLayout;
    m_searchEdit = new QComboBox(manual);
    m_searchEdit->setObjectName(QStringLiteral("searchEdit"));
    m_searchEdit->setEditable(true);
    m_searchEdit->setInsertPolicy(QComboBox::NoInsert);
    // What is typed is searched: no history entry completes it on the way.
    // The history stays in the drop-down list.
    m_searchEdit->setCompleter(nullptr);
    m_searchEdit->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    row->addWidget(m_searchEdit);
    m_searchButton = new QPushButton(tr("Search"), manual);
    m_searchButton->setObjectName(QStringLiteral("searchButton"));
    m_searchButton->setMaximumWidth(100);
    row->addWidget(m_searchButton);
    auto* label = new QLabel(tr("Search target:"), manual);
    label->setMaximumWidth(100);
    row->addWidget(label);
    m_targetBox = new QComboBox(manual);
    m_targetBox->setObjectName(QStringLiteral("searchTargetBox"));
    m_targetBox->setMaximumWidth(200);
    row->addWidget(m_targetBox);
    manualLayout->addLayout(row);
    m_searchSplitter = new QSplitter(Qt::Horizontal, manual);
    m_searchSplitter->setObjectName(QStringLiteral("searchSplitter_2"));
    m_searchTabs = new TabWidget(m_searchSplitter);
    m_searchTabs->setObjectName(QStringLiteral("searchTabControl"));
    m_searchTabs->setTabsClosable(true);
    m_searchTabs->setMovable(true);
    m_searchTabs->setContextMenuPolicy(Qt::CustomContextMenu);
    manualLayout->addWidget(m_searchSplitter);
    m_tabs->addTab(manual, tr("Manual Searches"));

    auto* wish = new QWidget;
    wish->setObjectName(QStringLiteral("wishListSearchesTab"));
    auto* wishLayout = new QVBoxLayout(wish);
    m_wishSplitter = new QSplitter(Qt::Horizontal, wish);
    m_wishSplitter->setObjectName(QStringLiteral("searchSplitter"));
    m_wishTabs = new TabWidget(m_wishSplitter);
    m_wishTabs->setObjectName(QStringLiteral("wishListTabControl"));
    m_wishTabs->setTabsClosable(true);
    m_wishTabs->setContextMenuPolicy(Qt::CustomContextMenu);
    m_wishList = new QTreeWidget(m_wishSplitter);
    m_wishList->setObjectName(QStringLiteral("wishList"));
    m_wishSplitter->setStretchFactor(0, 1);
    m_wishSplitter->setStretchFactor(1, 0);
    wishLayout->addWidget(m_wishSplitter);
    m_tabs->addTab(wish, tr("Wish List Searches"));

    m_received = new ReceivedSearchesForm;
    m_tabs->addTab(m_received, tr("Received Searches"));
    m_tabs->setCurrentIndex(0);
}

void SearchForm::Init()
{
    if (peerMessenger) {
        connect(peerMessenger, &PeerMessenger::SearchResults, this, &SearchForm::OnUserSearchResults);
        connect(peerMessenger, &PeerMessenger::SearchResultsDropped, this,
            [](quint32 ticket, QString, qint64 results, bool searchFull) {
                ItemPtr request = d.GetType("search_request")->HasItem(Value(ticket));
                if (SearchResultsForm* form = FormOfWidgetItem(request["search_results_widget"]))
                    form->SayDropped(results, searchFull);
            });
    }

    // Types and relations of the results tabs. The peer network declared the
    // search types; DeclareType and RelateTypes leave what exists alone.
    Type* widget = d.DeclareType("search_results_widget", kEntity);
    Type* alerted = d.DeclareType("search_results_widget_alerted", kAttribute, true);
    Type* expandFolders = d.DeclareType("expand_folders", kAttribute);
    Type* expandUsers = d.DeclareType("expand_users", kAttribute);
    Type* userNode = d.DeclareType("search_results_user_node", kLink);
    Type* folderNode = d.DeclareType("search_results_folder_node", kLink);
    Type* fileNode = d.DeclareType("search_result_node", kLink);
    Type* wishNode = d.DeclareType("wish_list_node", kEntity);
    Type* wishBox = d.DeclareType("wish_list_node_checkbox", kEntity);
    Type* wishFilter = d.DeclareType("wish_list_item_filter_text", kAttribute);
    Type* wishItem = d.DeclareType("wish_list_item", kEntity);
    d.RelateTypes(wishItem, d.DeclareType("wish_list_item_enabled", kAttribute, true), Many, One);
    Type* request = d.DeclareType("search_request", kEntity, false, false);
    d.RelateTypes(widget, request, One, Many);
    d.RelateTypes(widget, wishItem, One, One);
    d.RelateTypes(widget, alerted, Many, One);
    d.RelateTypes(widget, expandFolders, Many, One);
    d.RelateTypes(widget, expandUsers, Many, One);
    d.RelateTypes(widget, userNode, One, Many, true);
    d.RelateTypes(userNode, d.DeclareType("user", kEntity), Many, One);
    d.RelateTypes(userNode, folderNode, One, Many, true);
    d.RelateTypes(folderNode, d.DeclareType("search_result_file_folder", kAttribute), Many, One);
    d.RelateTypes(fileNode, d.DeclareType("search_result", kLink, true), One, One);
    d.RelateTypes(fileNode, folderNode, Many, One);

    Subscribe(wishItem->itemRemoved, &SearchForm::OnWishListItemRemoved);
    SubscribeFunction(wishItem->itemAdded, [this](ItemPtr) { ShowWishStates(); });
    connect(m_searchTabs, &QTabWidget::tabCloseRequested, this, &SearchForm::OnTabCloseRequested);
    connect(m_wishTabs, &QTabWidget::tabCloseRequested, this, &SearchForm::OnWishTabCloseRequested);
    connect(actionBar, &ActionSetToolBar::ActionTriggered, this, &SearchForm::OnActionBarTriggered);

    const QString search = QStringLiteral(":/icons/search_icon");
    const QString wishIcon = QStringLiteral(":/icons/wishlist_icon");
    const QString again = QStringLiteral(":/icons/circular_arrow_icon");
    const QString stop = QStringLiteral(":/icons/stop_icon");
    const QString results = QStringLiteral("search_results");
    const QString old = QStringLiteral("search_results_old");
    actionBar->AddSetAction(results, QStringLiteral("order_by_available"), tr("Order by Available"), search, false);
    actionBar->AddSetAction(results, QStringLiteral("order_by_fastest"), tr("Order by Fastest"), search, false);
    actionBar->AddSetAction(results, QStringLiteral("expand_folders"), tr("Expand Folders"), search, false);
    actionBar->AddSetAction(results, QStringLiteral("expand_users"), tr("Expand Users"), search, false);
    actionBar->AddSetAction(results, QStringLiteral("add_remove_wishlist"), tr("Add to Wishlist"), wishIcon, false);
    actionBar->AddSetAction(results, QStringLiteral("reenter_search"), tr("Re-enter Search"), again, false);
    actionBar->AddSetAction(results, QStringLiteral("stop_search"), tr("Stop Search"), stop, false);
    actionBar->AddSetAction(old, QStringLiteral("add_remove_wishlist"), tr("Add to Wishlist"), wishIcon, false);
    actionBar->AddSetAction(old, QStringLiteral("reenter_search"), tr("Re-enter Search"), again, false);
    actionBar->AddSetAction(old, QStringLiteral("stop_search"), tr("Stop Search"), stop, false);

    SetUpWishList();
    d.RelateTypes(wishItem, wishNode, One, One);
    d.RelateTypes(wishNode, wishBox, One, One);
    d.RelateTypes(wishItem, wishFilter, Many, One);

    d.RelateTypes(d.DeclareType("search_request_text", kAttribute), d.DeclareType("download_entry", kEntity), One, Many);
    if (dataSaver) {
        dataSaver->AddSavedByConnectionType("search_request_text", "download_entry");
        dataSaver->AddDataLoadedEventHandler(this);
    }
    RegisterWidgetForTabFocus(m_searchEdit, 1);
    RegisterWidgetForTabFocus(m_wishList, 1);
    d.DeclareType("saved_filter", kEntity);
    if (dataSaver) {
        dataSaver->AddSavedType("saved_filter");
        dataSaver->AddSavedType("wish_list_item");
        dataSaver->AddSavedType("wish_list_item_enabled");
        dataSaver->AddSavedType("wish_list_item_filter_text");
    }
    m_targetBox->addItem(tr("All"));
    m_targetBox->addItem(tr("User List"));

    if (d.HasType("room") && d.HasType("in_room")) {
        auto* entered = new PathNode(&d, "room");
        new PathNode(entered, "in_room", PathConnectTrigger);
        d.AddPathEventHandler(entered, Register(new EventHandler<SearchForm, ItemPtr>(this, &SearchForm::OnEnteredRoom)));
        auto* left = new PathNode(&d, "room");
        new PathNode(left, "in_room", PathDisconnectTrigger);
        d.AddPathEventHandler(left, Register(new EventHandler<SearchForm, ItemPtr>(this, &SearchForm::OnLeftRoom)));
    }
    m_received->Init();

    connect(m_wishList, &QTreeWidget::itemChanged, this, &SearchForm::OnWishListItemChanged);
    qRegisterMetaType<QTreeWidgetItem*>("QTreeWidgetItem*");

    Type* record = d.DeclareType("search_record", kEntity);
    d.RelateTypes(record, d.DeclareType("search_time", kAttribute), Many, One);
    if (dataSaver) {
        dataSaver->AddSavedType("search_record");
        dataSaver->AddSavedType("search_time");
    }
}

void SearchForm::DataLoaded()
{
    for (ItemPtr item : d.GetType("wish_list_item")->GetItems())
        OnWishListItemAdded(item);
    // Before the window is laid out the page may not know its width yet.
    const QList<int> sizes{ qMax(width(), 600) - 200, 200 };
    m_wishSplitter->setSizes(sizes);
    if (sizeManager)
        sizeManager->RegisterSplitter(QStringLiteral("wish_list_splitter"), m_wishSplitter, sizes);
    for (ItemPtr record : d.GetType("search_record")->GetItems().SortNumericBy("search_time", false))
        m_searchEdit->addItem(record.AsString());
    m_searchEdit->lineEdit()->clear();
}

void SearchForm::OnSearchEntered()
{
    const QString text = m_searchEdit->lineEdit()->text().trimmed();
    if (text.isEmpty() || !gp_server)
        return;
    if (m_targetBox->currentIndex() < 0) {
        // The chosen room was left: the text waits for a new target.
        m_targetBox->setFocus(Qt::OtherFocusReason);
        return;
    }
    m_targetBox->setToolTip(QString());
    const QString target = m_targetBox->currentText();
    const QVariant room = m_targetBox->currentData();
    if (room.isValid()) {
        CreateSearchForm(gp_server->SearchRoom(room.toString(), text), text, RoomSearch);
    } else if (target == tr("All")) {
        const unsigned int token = gp_server->FileSearch(text, false);
        gp_server->GetSearchCorrelations(text);
        CreateSearchForm(token, text, ManualSearch);
    } else if (target == tr("User List")) {
        CreateSearchForm(gp_server->SearchUserList(text), text, UserListSearch);
    }
    RecordSearch(text);
    m_searchEdit->lineEdit()->clear();
}

SearchResultsForm* SearchForm::CreateSearchForm(unsigned int token, QString text, SearchType type)
{
    const bool wish = type == WishListSearch;
    Type* requests = d.GetType("search_request");
    ItemPtr wishItem;
    if (wish) {
        wishItem = d.GetType("wish_list_item")->HasItem(Value(text));
        if (!wishItem)
            return nullptr;
        ItemPtr widgetItem = wishItem["search_results_widget"];
        // The tab of an earlier wish of this text (renamed away and back, or
        // removed and added again) goes on serving it: one tab per wish.
        if (SearchResultsForm* left = widgetItem ? nullptr : LeftWishTab(text)) {
            widgetItem = left->WidgetItem();
            widgetItem.Connect(wishItem);
            if (const QString filter = left->filterEdit()->text(); !filter.isEmpty())
                wishItem.Connect(d.GetType("wish_list_item_filter_text")->GetItem(Value(filter)));
        }
        if (widgetItem) {
            ItemPtr request = requests->HasItem(Value(token));
            if (!request)
                request = requests->NewItem(Value(token));
            // Earlier repetitions whose replies all went (nothing new in
            // them) are done with: this one takes their place, so a tab kept
            // open does not gather a search per repetition.
            for (ItemPtr earlier : widgetItem.GetItems("search_request").ToList())
                if (earlier != request && !earlier.IsConnected("search_results"))
                    earlier.Remove();
            request.Connect(widgetItem);
            return FormOfWidgetItem(widgetItem);
        }
    }

    auto* form = new SearchResultsForm(text, wish, this);
    // The server drops a search while the client is not logged in.
    if (!wish && !(gp_server && gp_server->Reaches()))
        form->SayNotSent();
    QTreeWidget* tree = form->searchResults();
    tree->setColumnCount(7);
    tree->setHeaderLabels({ tr("User"), tr("Free"), tr("K/s"), tr("Folder"), tr("File"), tr("Size"), tr("Attributes") });
    const int widths[] = { 100, 40, 40, 150, 170, 70 };
    for (int i = 0; i < 6; ++i)
        tree->setColumnWidth(i, widths[i]);
    tree->header()->setStretchLastSection(false);
    tree->header()->setSectionsMovable(false);
    // The user and file names, their folders and sizes take the room the list
    // leaves; a name still cut shows whole on hover.
    ColumnFitter::Attach(tree, { 0, 4, 3, 5 });
    CutTextTips::Attach(tree);
    tree->expandAll();

    if (wish) {
        m_wishTabs->AddNamedTab(form, QIcon(QStringLiteral(":/icons/wishlist_icon")), IsolatedText(text));
    } else {
        const char* icon = type == UserListSearch ? ":/icons/users_icon"
            : type == RoomSearch                  ? ":/icons/room_icon"
                                                  : ":/icons/search_icon";
        m_searchTabs->AddNamedTab(form, QIcon(QString::fromLatin1(icon)), IsolatedText(text));
    }

    ItemPtr widgetItem = d.GetType("search_results_widget")->NewItem(Value(static_cast<QWidget*>(form)));
    ItemPtr request = requests->HasItem(Value(token));
    if (!request)
        request = requests->NewItem(Value(token));
    request.Connect(widgetItem);

    if (wish) {
        widgetItem.Connect(wishItem);
        if (ItemPtr filter = wishItem["wish_list_item_filter_text"])
            form->filterEdit()->setText(filter.AsString());
    }
    const QString defaultFilter = settings.Get("default_search_filter");
    if (!defaultFilter.isEmpty() && form->filterEdit()->text().isEmpty())
        form->filterEdit()->setText(defaultFilter);

    // Every per-tab text and flag is set here: the tool bar keeps them by the
    // widget's address, and a new tab may sit where a closed one was.
    actionBar->SetWidgetActionText(form, QStringLiteral("add_remove_wishlist"),
        wish || d.GetType("wish_list_item")->HasItem(Value(text)) ? tr("Remove from Wish List")
                                                                  : tr("Add to Wishlist"));
    actionBar->SetWidgetActionText(form, QStringLiteral("stop_search"), tr("Stop Search"));
    actionBar->SetWidgetActionHidden(form, QStringLiteral("stop_search"), wish);
    actionBar->SetWidgetActionText(form, QStringLiteral("order_by_available"), tr("Order by Available [on]"));
    actionBar->SetWidgetActionText(form, QStringLiteral("order_by_fastest"), tr("Order by Fastest"));
    actionBar->SetWidgetActionText(form, QStringLiteral("expand_folders"), tr("Expand Folders [on]"));
    actionBar->SetWidgetActionText(form, QStringLiteral("expand_users"), tr("Expand Users [on]"));

    widgetItem.Connect(d.GetType("expand_folders")->GetItem("yes"));
    widgetItem.Connect(d.GetType("expand_users")->GetItem("yes"));
    form->SetSortingParamters(1, Qt::DescendingOrder);
    if (!wish)
        FocusWidget(tree);
    if (sizeManager)
        sizeManager->RegisterTreeWidget(QStringLiteral("search_results"), tree);
    form->Init();
    connect(form->CorrelationsWidget(), &QTreeWidget::itemClicked, this, &SearchForm::OnCorrelationClicked);
    connect(form->CorrelationsWidget(), &QTreeWidget::itemDoubleClicked, this, &SearchForm::OnCorrelationDoubleClicked);
    return form;
}

void SearchForm::OnUserSearchResults(ItemPtr results)
{
    ItemPtr request = results["search_request"];
    if (!request)
        return;
    if (!request["search_results_widget"]) {
        ItemPtr text = request["search_request_text"];
        ItemPtr wish = request.IsConnected("wishlist_search")
            ? d.GetType("wish_list_item")->HasItem(Value(text.Text()))
            : ItemPtr();
        if (wish && wish.IsConnected("wish_list_item_enabled"))
            CreateSearchForm(request.AsUInt(), text.AsString(), WishListSearch);
    }
    if (SearchResultsForm* form = FormOfWidgetItem(request["search_results_widget"])) {
        form->AddUserSearchResults(results);
        return;
    }
    // Nobody shows this reply: it goes rather than piling up in the store.
    results.GetItems("search_result").Remove();
    results.Remove();
}

void SearchForm::RecordSearch(QString text)
{
    text = text.trimmed();
    if (text.isEmpty())
        return;
    Type* records = d.GetType("search_record");
    ItemPtr record = records->HasItem(Value(text));
    if (record) {
        const int index = m_searchEdit->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (index >= 0)
            m_searchEdit->removeItem(index);
    } else {
        record = records->NewItem(Value(text));
    }
    m_searchEdit->insertItem(0, text);
    record.Connect(d.GetType("search_time")->GetItem(Value(QDateTime::currentMSecsSinceEpoch())));
    while (records->Count() > size_t(kHistorySize)) {
        const ItemList oldest = records->GetItems().SortNumericBy("search_time", true);
        if (oldest.empty())
            break;
        // The box loses the entry of the record that goes, wherever it sits.
        const int index = m_searchEdit->findText(oldest.front().AsString(), Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (index >= 0)
            m_searchEdit->removeItem(index);
        oldest.front().Remove();
    }
}

SearchResultsForm* SearchForm::GetCurrentSearchResultsForm() const
{
    if (m_searchTabs->isVisible())
        return qobject_cast<SearchResultsForm*>(m_searchTabs->currentWidget());
    if (m_wishTabs->isVisible())
        return qobject_cast<SearchResultsForm*>(m_wishTabs->currentWidget());
    return nullptr;
}

void SearchForm::OnEnteredRoom(ItemPtr room)
{
    // The name as the server sent it goes with the entry, for the search and
    // for leaving; it is shown isolated and cut to a label's width, as the
    // list would be as wide as its longest entry.
    const QString name = room.AsString();
    m_targetBox->addItem(kRoomPrefix + ElidedLabel(IsolatedText(name), m_targetBox->fontMetrics()), name);
}

void SearchForm::OnLeftRoom(ItemPtr room)
{
    const int index = m_targetBox->findData(room.AsString());
    if (index < 0)
        return;
    const bool chosen = index == m_targetBox->currentIndex();
    m_targetBox->removeItem(index);
    if (!chosen)
        return;
    // The box would pick another entry by itself: the next search would go
    // where the user never chose. It waits for a choice instead.
    m_targetBox->setCurrentIndex(-1);
    m_targetBox->setPlaceholderText(tr("Choose a target"));
    m_targetBox->setToolTip(tr("You left the room %1, the search target you chose: choose another.")
                                .arg(ElidedLabel(IsolatedText(room.AsString()), m_targetBox->fontMetrics())));
}

void SearchForm::OnCorrelationClicked(QTreeWidgetItem* row, int)
{
    if (row)
        m_searchEdit->lineEdit()->setText(SearchResultsForm::CorrelationText(row));
}

void SearchForm::OnCorrelationDoubleClicked(QTreeWidgetItem* row, int)
{
    if (!row || !gp_server)
        return;
    const QString text = SearchResultsForm::CorrelationText(row);
    if (text.isEmpty())
        return;
    const unsigned int token = gp_server->FileSearch(text, false);
    gp_server->GetSearchCorrelations(text);
    CreateSearchForm(token, text, ManualSearch);
    m_searchEdit->lineEdit()->clear();
}

void SearchForm::OnTabCloseRequested(int index)
{
    CloseTab(m_searchTabs, index);
}

void SearchForm::OnWishTabCloseRequested(int index)
{
    CloseTab(m_wishTabs, index);
}

void SearchForm::CloseTab(TabWidget* tabs, int index)
{
    QWidget* page = tabs->widget(index);
    if (!page)
        return;
    ItemPtr widgetItem = d.GetType("search_results_widget")->HasItem(Value(page));
    if (!widgetItem)
        return;
    if (eventToolBar)
        eventToolBar->RemoveEvents(page);
    tabs->removeTab(index);
    // A tab of many results goes a slice at a time, with its searches.
    static_cast<SearchResultsForm*>(page)->Dismantle(widgetItem);
}

SearchResultsForm* SearchForm::LeftWishTab(const QString& text) const
{
    for (int i = 0; i < m_wishTabs->count(); ++i) {
        auto* form = qobject_cast<SearchResultsForm*>(m_wishTabs->widget(i));
        if (form && form->SearchText() == text && !form->WidgetItem().IsConnected("wish_list_item"))
            return form;
    }
    return nullptr;
}

void SearchForm::ShowWishStates(ItemPtr going)
{
    Type* wishes = d.GetType("wish_list_item");
    for (int i = 0; i < m_searchTabs->count(); ++i) {
        auto* form = qobject_cast<SearchResultsForm*>(m_searchTabs->widget(i));
        if (!form)
            continue;
        const ItemPtr wish = wishes->HasItem(Value(form->SearchText()));
        actionBar->SetWidgetActionText(form, QStringLiteral("add_remove_wishlist"),
            wish && wish != going ? tr("Remove from Wish List") : tr("Add to Wishlist"));
    }
}
