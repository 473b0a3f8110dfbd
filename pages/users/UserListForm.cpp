#include "UserListForm.h"
#include "AddUserDialog.h"
#include "UserGroupConfigDialog.h"
#include "UserListItemWidget.h"
#include "UserListOrder.h"
#include "UserMenuOptions.h"
#include "UserPageLinks.h"
#include "peers/PeerMessenger.h"
#include "server/Server.h"
#include "shell/ActionSetToolBar.h"
#include "shell/EventToolBar.h"
#include "shell/Kit.h"
#include "shell/SizeManager.h"
#include "shell/TabWidget.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "store/GeneralFunctions.h"
#include "store/Item.h"
#include "WidgetFunctions.h"
#include "transfers/TransferQueueManager.h"
#include <QAction>
#include <QHeaderView>
#include <QMenu>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <string>
#include <unordered_map>

UserListForm* userListForm = nullptr;

namespace {

const char* const kNodeTypes[] = { "user_list_node", "unshared_list_node", "ignored_list_node", "online_alert_list_node" };

QTreeWidgetItem* RowOf(ItemPtr user, const char* nodeType)
{
    return user[nodeType].AsPointer<QTreeWidgetItem>();
}

// The user's groups by name, case-sensitive, joined by ", ".
QString GroupsText(ItemPtr user)
{
    const ItemPtr inList = user["in_user_list"];
    if (!inList.IsConnected("user_list_group"))
        return QString();
    QStringList names;
    for (ItemPtr group : inList.GetItems("user_list_group").SortAlphabetic(true))
        names.append(group.AsString());
    return names.join(QStringLiteral(", "));
}

// The same texts for a whole list build: users share a few combinations of
// groups, so each combination is joined once, found by its group items.
class GroupTexts {
public:
    GroupTexts()
        : m_group(d.GetType("user_list_group"))
    {
    }

    // The text of a user whose list entry is given.
    QString Of(ItemPtr user, ItemPtr inList)
    {
        m_key.clear();
        inList.Get()->connections.ForEachOfType(
            m_group, [this](Item* group) { m_key.append(reinterpret_cast<const char*>(&group), sizeof group); });
        if (m_key.empty())
            return QString();
        auto it = m_texts.find(m_key);
        if (it == m_texts.end())
            it = m_texts.emplace(m_key, GroupsText(user)).first;
        return it->second;
    }

private:
    Type* m_group;
    std::string m_key;
    std::unordered_map<std::string, QString> m_texts;
};

QString SpeedText(int bytesPerSecond)
{
    return QString::number(bytesPerSecond / 1024.0, 'f', 1);
}

QTreeWidget* NewList(QWidget* parent, const char* name, const QStringList& columns, const QList<int>& widths)
{
    auto* list = new QTreeWidget(parent);
    list->setObjectName(QString::fromLatin1(name));
    list->setRootIsDecorated(false);
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    list->setHeaderLabels(columns);
    for (int i = 0; i < widths.size(); ++i)
        list->setColumnWidth(i, widths[i]);
    RegisterWidgetForTabFocus(list, 1);
    auto* layout = new QVBoxLayout(parent);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(list);
    return list;
}

} // namespace

const QIcon& UserListForm::StatusIcon(bool online)
{
    return KitIcon(online ? QStringLiteral(":/icons/online_icon") : QStringLiteral(":/icons/offline_icon"));
}

UserListForm::UserListForm(QWidget* parent)
    : QWidget(parent)
{
    userListForm = this;
    BuildWidgets();
    m_order = new UserListOrder(m_userList);
    m_reorderTimer = new QTimer(this);
    m_reorderTimer->setSingleShot(true);
    m_reorderTimer->setInterval(0);
    connect(m_reorderTimer, &QTimer::timeout, this, &UserListForm::ReorderUploads);
}

UserListForm::~UserListForm()
{
    if (userListForm == this)
        userListForm = nullptr;
}

void UserListForm::BuildWidgets()
{
    setObjectName(QStringLiteral("UserListForm"));
    resize(570, 401);
    setWindowTitle(QStringLiteral("Form"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_tabs = new TabWidget(this);
    m_tabs->setObjectName(QStringLiteral("tabWidget"));
    layout->addWidget(m_tabs);

    auto addTab = [this](const char* name, const QString& text) {
        auto* page = new QWidget;
        page->setObjectName(QString::fromLatin1(name));
        m_tabs->addTab(page, text);
        return page;
    };
    m_userListTab = addTab("userListTab", tr("User List"));
    m_userList = NewList(m_userListTab, "userList",
        { tr("User"), tr("Files"), tr("K/s"), tr("Groups"), tr("Note") }, { 200, 80, 60, 300, 300 });
    // One line a row: the view then finds any row's place without measuring
    // every row above it (a change to a row far down, after each move, would).
    m_userList->setUniformRowHeights(true);
    QWidget* infoPage = addTab("userInfoPage", tr("User Info"));
    m_userInfoTabs = new TabWidget(infoPage);
    m_userInfoTabs->setObjectName(QStringLiteral("userInfoTabs"));
    m_userInfoTabs->setTabsClosable(true);
    m_userInfoTabs->setMovable(true);
    auto* infoLayout = new QVBoxLayout(infoPage);
    infoLayout->setContentsMargins(0, 0, 0, 0);
    infoLayout->addWidget(m_userInfoTabs);
    m_unsharedList = NewList(addTab("unsharedListTab", tr("Unshared")), "unsharedList", { tr("User"), tr("Note") }, { 200 });
    m_ignoredList = NewList(addTab("tab", tr("Ignored")), "ignoredList", { tr("User"), tr("Note") }, { 200 });
    m_onlineAlertList = NewList(addTab("onlineAlertsTab", tr("Online Alerts")), "onlineAlertList", { tr("User") }, { 200 });
    m_tabs->setCurrentIndex(0);

    connect(m_userList, &QWidget::customContextMenuRequested, this, &UserListForm::OnUserListContextMenuRequested);
    connect(m_unsharedList, &QWidget::customContextMenuRequested, this, &UserListForm::OnUnsharedListContextMenuRequested);
    connect(m_ignoredList, &QWidget::customContextMenuRequested, this, &UserListForm::OnIgnoredListContextMenuRequested);
    connect(m_onlineAlertList, &QWidget::customContextMenuRequested, this,
        &UserListForm::OnOnlineAlertListContextMenuRequested);
    for (QTreeWidget* list : { m_userList, m_unsharedList, m_ignoredList })
        connect(list, &QTreeWidget::itemDoubleClicked, this, &UserListForm::OnUserItemDoubleClicked);
    // Delete takes the selected users off the list that has the focus, as on
    // the transfer lists.
    for (QTreeWidget* list : { m_userList, m_unsharedList, m_ignoredList, m_onlineAlertList }) {
        auto* remove = new QAction(list);
        remove->setShortcut(QKeySequence::Delete);
        remove->setShortcutContext(Qt::WidgetShortcut);
        list->addAction(remove);
        connect(remove, &QAction::triggered, this, [this, list] { DeleteSelected(list); });
    }
}

void UserListForm::DeleteSelected(QTreeWidget* list)
{
    // Rows go as their users leave the list: the names are taken first.
    QStringList names;
    for (QTreeWidgetItem* row : list->selectedItems())
        names << UserListItemWidget::User(row);
    for (const QString& name : std::as_const(names)) {
        ItemPtr user = d.GetType("user")->HasItem(Value(name));
        if (list == m_userList)
            user["in_user_list"].Remove();
        else if (list == m_unsharedList && transferQueueManager)
            transferQueueManager->ReshareUser(name);
        else if (list == m_ignoredList)
            user.Disconnect("is_ignored");
        else if (list == m_onlineAlertList)
            user.Disconnect("user_online_alert");
    }
}

void UserListForm::Init()
{
    Type* alert = d.DeclareType("user_online_alert", kAttribute, true, true);
    d.RelateTypes(alert, d.GetType("user"), One, Many);
    if (dataSaver) {
        dataSaver->AddSavedType("user_online_alert");
        dataSaver->AddSavedByConnectionType("user", "user_online_alert");
        dataSaver->AddDataLoadedEventHandler(this);
    }
    if (gp_server)
        connect(gp_server, &Server::Connected, this, &UserListForm::OnConnected);
}

void UserListForm::DataLoaded()
{
    if (m_loaded)
        return;
    m_loaded = true;
    Type* user = d.GetType("user");
    for (const char* node : kNodeTypes)
        d.RelateTypes(d.DeclareType(node, kEntity, false, true), user, One, One);

    FillUserList();
    FillList(m_unsharedList, "unshared", "unshared_list_node", true);
    FillList(m_ignoredList, "is_ignored", "ignored_list_node", true);
    FillList(m_onlineAlertList, "user_online_alert", "online_alert_list_node", false);
    m_unsharedList->setSortingEnabled(true);
    m_unsharedList->sortByColumn(0, Qt::AscendingOrder);
    m_ignoredList->setSortingEnabled(true);
    m_ignoredList->sortByColumn(0, Qt::AscendingOrder);
    m_onlineAlertList->sortItems(0, Qt::AscendingOrder);

    RegisterWatches();
    AddActions();
    if (sizeManager)
        sizeManager->RegisterTreeWidget(QStringLiteral("user_list"), m_userList);

    connect(m_userInfoTabs, &QTabWidget::tabCloseRequested, this, &UserListForm::OnUserInfoTabCloseRequested);
    d.RelateTypes(d.DeclareType("user_info_form", kEntity, false, true), user, One, One);
    if (peerMessenger)
        connect(peerMessenger, &PeerMessenger::UserInfoRequested, this, &UserListForm::OnUserInfoRequested);
    if (gp_server)
        for (ItemPtr alerted : d.GetType("user_online_alert")->GetItems().GetItems("user"))
            gp_server->TrackUser(alerted.AsString());
}

void UserListForm::FillUserList()
{
    // One pass over the store makes every row with all its cells (a row not
    // yet in a tree changes without notices); the rows are then sorted once,
    // on keys read once per user, and go in as one batch.
    struct Entry {
        QTreeWidgetItem* row;
        QString name;
        bool online;
    };
    std::vector<Entry> entries;
    Type* inList = d.GetType("in_user_list");
    entries.reserve(inList->Count());
    Type* userType = d.GetType("user");
    Type* onlineType = d.GetType("is_online");
    Type* nodes = d.GetType("user_list_node");
    Type* countType = d.GetType("shared_file_count");
    Type* speedType = d.GetType("average_download_speed");
    Type* noteType = d.GetType("user_note");
    const QIcon& noteIcon = KitIcon(QStringLiteral(":/icons/note_icon"));
    GroupTexts groupTexts;
    for (ItemPtr entry : inList->GetItems()) {
        const ItemPtr user = entry.GetItem(userType);
        if (!user)
            continue;
        QString name = user.AsString();
        const ItemPtr count = user.GetItem(countType);
        const int speed = user.GetItem(speedType).AsInt();
        const ItemPtr note = user.GetItem(noteType);
        // Empty cells are left unset, as on a row added later; the last
        // column goes first, so that the row's cell lists grow once.
        auto* row = new UserListItemWidget;
        if (note) {
            row->setText(4, note.AsString());
            row->setIcon(4, noteIcon);
        }
        if (QString groups = groupTexts.Of(user, entry); !groups.isEmpty())
            row->setText(3, groups);
        if (speed)
            row->setText(2, SpeedText(speed));
        if (count)
            row->setText(1, CommafyNumber(count.AsInt64()));
        UserListItemWidget::SetUser(row, name);
        row->placedOnline = user.IsConnected(onlineType);
        row->setIcon(0, UserListForm::StatusIcon(row->placedOnline));
        user.Connect(nodes->NewItem(Value(row)));
        entries.push_back({ row, std::move(name), row->placedOnline });
    }
    std::vector<const Entry*> order;
    order.reserve(entries.size());
    for (const Entry& e : entries)
        order.push_back(&e);
    std::stable_sort(order.begin(), order.end(), [](const Entry* a, const Entry* b) {
        return UserListItemWidget::Less(a->online, a->name, b->online, b->name);
    });
    QList<QTreeWidgetItem*> rows;
    rows.reserve(qsizetype(order.size()));
    for (const Entry* e : order)
        rows.append(e->row);
    m_userList->addTopLevelItems(rows);
    // The server watches them from now on; asked after the list is up.
    QTimer::singleShot(0, this, [] {
        if (gp_server)
            for (ItemPtr user : d.GetType("in_user_list")->GetItems().GetItems("user"))
                gp_server->TrackUser(user.AsString());
    });
}

void UserListForm::FillList(QTreeWidget* list, const char* flag, const char* nodeType, bool note)
{
    if (Type* type = d.HasType(flag))
        for (ItemPtr user : type->GetItems().GetItems("user")) {
            QTreeWidgetItem* row = NewRow(list, user, nodeType, note);
            if (list == m_onlineAlertList)
                row->setIcon(0, UserListForm::StatusIcon(user.IsConnected("is_online")));
        }
}

QTreeWidgetItem* UserListForm::NewRow(QTreeWidget* list, ItemPtr user, const char* nodeType, bool note)
{
    auto* row = new QTreeWidgetItem;
    UserListItemWidget::SetUser(row, user.AsString());
    user.Connect(d.GetType(nodeType)->NewItem(Value(row)));
    if (note)
        SetNote(row, 1, user["user_note"]);
    list->addTopLevelItem(row);
    return row;
}

void UserListForm::SetNote(QTreeWidgetItem* row, int column, ItemPtr note)
{
    if (!row)
        return;
    row->setText(column, note ? note.AsString() : QString());
    row->setIcon(column, note ? KitIcon(QStringLiteral(":/icons/note_icon")) : QIcon());
}

void UserListForm::Watch(const char* flag, PathNodeRelation relation, void (UserListForm::*handler)(ItemPtr))
{
    auto* root = new PathNode(&d, "user");
    new PathNode(root, flag, relation);
    d.AddPathEventHandler(root, Register(new EventHandler<UserListForm, ItemPtr>(this, handler)));
}

void UserListForm::RegisterWatches()
{
    Watch("is_online", PathConnected, &UserListForm::OnUserOnline);
    // Any real going offline, in the user list or not: online-alert rows too.
    Watch("is_online", PathDisconnectTrigger, &UserListForm::OnUserOffline);
    Watch("in_user_list", PathConnected, &UserListForm::OnUserAddedToList);
    Watch("in_user_list", PathDisconnectTrigger, &UserListForm::OnUserRemovedFromList);
    Watch("unshared", PathConnected, &UserListForm::OnUserUnshared);
    Watch("unshared", PathDisconnectTrigger, &UserListForm::OnUserReshared);
    Watch("is_ignored", PathConnected, &UserListForm::OnUserIgnored);
    Watch("is_ignored", PathDisconnectTrigger, &UserListForm::OnUserUnignored);
    Watch("user_note", PathConnected, &UserListForm::OnUserNoteChanged);
    Watch("user_note", PathDisconnectTrigger, &UserListForm::OnUserNoteRemoved);
    Watch("user_online_alert", PathConnected, &UserListForm::OnUserOnlineAlertAdded);
    Watch("user_online_alert", PathDisconnectTrigger, &UserListForm::OnUserOnlineAlertRemoved);

    auto handler = [this](void (UserListForm::*method)(ItemPtr)) {
        return Register(new EventHandler<UserListForm, ItemPtr>(this, method));
    };
    for (PathNodeRelation relation : { PathConnected, PathDisconnectTrigger }) {
        auto* root = new PathNode(&d, "user");
        new PathNode(new PathNode(root, "in_user_list", PathConnected), "user_list_group", relation);
        d.AddPathEventHandler(root,
            handler(relation == PathConnected ? &UserListForm::OnUserGroupAdded : &UserListForm::OnUserGroupRemoved));
    }
    for (const char* value : { "shared_file_count", "average_download_speed" }) {
        auto* root = new PathNode(&d, "user");
        new PathNode(root, "in_user_list", PathConnected);
        new PathNode(root, value, PathConnected);
        d.AddPathEventHandler(root,
            handler(value[0] == 's' ? &UserListForm::OnUserSharedFileCount : &UserListForm::OnUserAverageSpeed));
    }
    // Upload order follows group priorities and memberships, also for uploads
    // already waiting.
    for (const char* link : { "in_user_list", "group_download_priority" })
        for (PathNodeRelation relation : { PathConnectTrigger, PathDisconnectTrigger }) {
            auto* root = new PathNode(&d, "user_list_group");
            new PathNode(root, link, relation);
            d.AddPathEventHandler(root, handler(&UserListForm::OnGroupingChanged));
        }
}

void UserListForm::AddActions()
{
    if (!actionBar)
        return;
    actionBar->AddSetAction(QStringLiteral("user_list"), QStringLiteral("manual_add_user"), tr("Add User"),
        QStringLiteral(":/icons/add_user_icon"), false);
    actionBar->AddSetAction(QStringLiteral("user_list"), QStringLiteral("configure_user_groups"),
        tr("Configure User Groups"), QStringLiteral(":/icons/users_icon"), false);
    actionBar->RegisterWidget(m_userListTab, QStringLiteral("user_list"));
    connect(actionBar, &ActionSetToolBar::ActionTriggered, this, &UserListForm::OnActionBarTriggered);
}

void UserListForm::OnConnected()
{
    if (!gp_server)
        return;
    for (ItemPtr user : d.GetType("in_user_list")->GetItems().GetItems("user"))
        gp_server->GetUserStats(user.AsString());
}

void UserListForm::OnActionBarTriggered(QWidget*, QString action)
{
    if (action == QLatin1String("manual_add_user")) {
        (new AddUserDialog(this))->show();
    } else if (action == QLatin1String("configure_user_groups")) {
        if (userGroupConfigDialog) {
            userGroupConfigDialog->activateWindow();
            userGroupConfigDialog->setFocus(Qt::OtherFocusReason);
        } else {
            (new UserGroupConfigDialog(this))->show();
        }
    }
}

void UserListForm::ShowUserMenu(QTreeWidget* list, const QPoint& pos)
{
    QTreeWidgetItem* row = list->itemAt(pos);
    if (!row)
        return;
    // The row may go while the menu runs (an entry removes the user from this
    // list): only its name is kept.
    const QString user = UserListItemWidget::User(row);
    QMenu menu;
    UserMenuOptions options(&menu, user, nullptr);
    menu.exec(list->viewport()->mapToGlobal(pos));
}

void UserListForm::OnUserListContextMenuRequested(const QPoint& pos)
{
    ShowUserMenu(m_userList, pos);
}

void UserListForm::OnUnsharedListContextMenuRequested(const QPoint& pos)
{
    ShowUserMenu(m_unsharedList, pos);
}

void UserListForm::OnIgnoredListContextMenuRequested(const QPoint& pos)
{
    ShowUserMenu(m_ignoredList, pos);
}

void UserListForm::OnOnlineAlertListContextMenuRequested(const QPoint& pos)
{
    ShowUserMenu(m_onlineAlertList, pos);
}

void UserListForm::OnUserItemDoubleClicked(QTreeWidgetItem* item, int)
{
    if (item)
        OpenChatWithUser(UserListItemWidget::User(item));
}

void UserListForm::OnUserOnline(ItemPtr user)
{
    if (RowOf(user, "user_list_node"))
        m_order->Changed(user.AsString());
    if (user.IsConnected("user_online_alert") && eventToolBar) {
        const QString name = IsolatedText(user.AsString());
        eventToolBar->AddEvent(name + tr(" online"), QStringLiteral(":/icons/online_icon"), m_onlineAlertList,
            name + tr(" is online"), QStringLiteral("user_online"), true);
    }
    if (QTreeWidgetItem* row = RowOf(user, "online_alert_list_node"))
        row->setIcon(0, UserListForm::StatusIcon(true));
}

void UserListForm::OnUserOffline(ItemPtr user)
{
    if (RowOf(user, "user_list_node"))
        m_order->Changed(user.AsString());
    if (QTreeWidgetItem* row = RowOf(user, "online_alert_list_node"))
        row->setIcon(0, UserListForm::StatusIcon(false));
}

UserListItemWidget* UserListForm::NewUserListRow(ItemPtr user)
{
    auto* row = new UserListItemWidget;
    UserListItemWidget::SetUser(row, user.AsString());
    user.Connect(d.GetType("user_list_node")->NewItem(Value(row)));
    m_order->Place(row);
    return row;
}

void UserListForm::OnUserAddedToList(ItemPtr user)
{
    if (RowOf(user, "user_list_node"))
        return;
    const QString name = user.AsString();
    QTreeWidgetItem* row = NewUserListRow(user);
    if (user.IsConnected("is_online"))
        OnUserOnline(user);
    if (gp_server)
        gp_server->TrackUser(name);
    UpdateUserGroupsDisplay(name);
    SetNote(row, 4, user["user_note"]);
    OnUserSharedFileCount(user);
    OnUserAverageSpeed(user);
    if (gp_server)
        gp_server->GetUserStats(name);
}

namespace {
void RemoveRow(ItemPtr user, const char* nodeType)
{
    ItemPtr node = user[nodeType];
    delete node.AsPointer<QTreeWidgetItem>();
    node.Remove();
}
} // namespace

void UserListForm::OnUserRemovedFromList(ItemPtr user)
{
    RemoveRow(user, "user_list_node");
}

void UserListForm::OnUserReshared(ItemPtr user)
{
    RemoveRow(user, "unshared_list_node");
}

void UserListForm::OnUserUnignored(ItemPtr user)
{
    RemoveRow(user, "ignored_list_node");
}

void UserListForm::OnUserOnlineAlertRemoved(ItemPtr user)
{
    RemoveRow(user, "online_alert_list_node");
}

void UserListForm::OnUserUnshared(ItemPtr user)
{
    if (!RowOf(user, "unshared_list_node"))
        NewRow(m_unsharedList, user, "unshared_list_node", true);
}

void UserListForm::OnUserIgnored(ItemPtr user)
{
    if (!RowOf(user, "ignored_list_node"))
        NewRow(m_ignoredList, user, "ignored_list_node", true);
}

void UserListForm::OnUserOnlineAlertAdded(ItemPtr user)
{
    if (RowOf(user, "online_alert_list_node"))
        return;
    QTreeWidgetItem* row = NewRow(m_onlineAlertList, user, "online_alert_list_node", false);
    m_onlineAlertList->sortItems(0, Qt::AscendingOrder);
    row->setIcon(0, UserListForm::StatusIcon(user.IsConnected("is_online")));
}

void UserListForm::OnUserNoteChanged(ItemPtr user)
{
    const ItemPtr note = user["user_note"];
    SetNote(RowOf(user, "user_list_node"), 4, note);
    SetNote(RowOf(user, "unshared_list_node"), 1, note);
    SetNote(RowOf(user, "ignored_list_node"), 1, note);
}

void UserListForm::OnUserNoteRemoved(ItemPtr user)
{
    OnUserNoteChanged(user);
}

void UserListForm::OnUserGroupAdded(ItemPtr user)
{
    UpdateUserGroupsDisplay(user.AsString());
}

void UserListForm::OnUserGroupRemoved(ItemPtr user)
{
    UpdateUserGroupsDisplay(user.AsString());
}

void UserListForm::UpdateUserGroupsDisplay(const QString& name)
{
    const ItemPtr user = d.GetType("user")->HasItem(Value(name));
    if (QTreeWidgetItem* row = RowOf(user, "user_list_node"))
        row->setText(3, GroupsText(user));
}

void UserListForm::OnUserSharedFileCount(ItemPtr user)
{
    QTreeWidgetItem* row = RowOf(user, "user_list_node");
    const ItemPtr count = user["shared_file_count"];
    if (row && count)
        row->setText(1, CommafyNumber(count.AsInt64()));
}

void UserListForm::OnUserAverageSpeed(ItemPtr user)
{
    QTreeWidgetItem* row = RowOf(user, "user_list_node");
    const int speed = user["average_download_speed"].AsInt();
    if (row && speed != 0)
        row->setText(2, SpeedText(speed));
}

void UserListForm::OnGroupingChanged(ItemPtr)
{
    m_reorderTimer->start();
}

void UserListForm::ReorderUploads()
{
    Type* uploads = d.HasType("upload_entry");
    if (transferQueueManager && uploads && uploads->Count())
        transferQueueManager->DetermineUploadsEffectiveOrder();
}
