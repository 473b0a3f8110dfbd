#include "RoomsForm.h"
#include "ChatLog.h"
#include "ChatLogForm.h"
#include "CreateRoomDialog.h"
#include "RoomForm.h"
#include "RoomWallForm.h"
#include "WidgetFunctions.h"
#include "server/Server.h"
#include "shell/ActionSetToolBar.h"
#include "shell/Kit.h"
#include "shell/QuestionBox.h"
#include "shell/QuietWindow.h"
#include "shell/SizeManager.h"
#include "shell/TabWidget.h"
#include "store/Data.h"
#include "store/Settings.h"
#include "store/TimerManager.h"
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QSet>
#include <QSplitter>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

RoomsForm* roomsForm = nullptr;

namespace {

// Declares a widget-remembering type related one to one with the owner type.
void DeclareWidgetType(const char* type, const char* owner)
{
    d.RelateTypes(d.DeclareType(owner, kEntity), d.DeclareType(type, kEntity), One, One);
}

// A room's name in a box's text: cut as the room list cuts it, as the server
// may send a name of any length.
QString BoxRoomName(const QString& room)
{
    return RowName(room, RoomListModel::kShownName);
}

} // namespace

RoomsForm::RoomsForm(QWidget* parent)
    : QWidget(parent)
{
    roomsForm = this;
    setObjectName(QStringLiteral("RoomsForm"));
    resize(506, 426);
    horizontalLayout = new QHBoxLayout(this);
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    horizontalLayout->setContentsMargins(0, 0, 0, 0);
    roomSplitter = new QSplitter(Qt::Horizontal, this);
    roomSplitter->setObjectName(QStringLiteral("roomSplitter"));
    horizontalLayout->addWidget(roomSplitter);
    auto* tabArea = new QWidget(roomSplitter);
    auto* tabAreaLayout = new QVBoxLayout(tabArea);
    tabAreaLayout->setContentsMargins(0, 0, 0, 0);
    roomsTabControl = new TabWidget(tabArea);
    roomsTabControl->setObjectName(QStringLiteral("roomsTabControl"));
    roomsTabControl->setIconSize(QSize(16, 18));
    roomsTabControl->setTabsClosable(true);
    roomsTabControl->setMovable(true);
    tabAreaLayout->addWidget(roomsTabControl);
    draftNotice = new QLabel(tabArea);
    draftNotice->setObjectName(QStringLiteral("draftNotice"));
    draftNotice->setTextFormat(Qt::PlainText);
    draftNotice->setWordWrap(true);
    draftNotice->hide();
    tabAreaLayout->addWidget(draftNotice);
    roomModel = new RoomListModel(this);
    // A table: a row put in or taken out of a list of any length costs the
    // view no pass over all rows, as it would cost a tree.
    roomList = new QTableView(roomSplitter);
    roomList->setObjectName(QStringLiteral("roomList"));
    roomList->setModel(roomModel);
    roomList->setColumnWidth(0, 150);
    roomList->setColumnWidth(1, 30);
    roomList->setIconSize(QSize(16, 11));
    roomList->setShowGrid(false);
    roomList->setWordWrap(false);
    roomList->setSelectionBehavior(QAbstractItemView::SelectRows);
    roomList->setSelectionMode(QAbstractItemView::SingleSelection);
    roomList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // The Tab key leaves the list, as it leaves the other lists.
    roomList->setTabKeyNavigation(false);
    roomList->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    roomList->horizontalHeader()->setHighlightSections(false);
    roomList->horizontalHeader()->setStretchLastSection(true);
    // One line each, all of one height: nothing measures the rows.
    QHeaderView* rows = roomList->verticalHeader();
    rows->hide();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setMinimumSectionSize(1);
    rows->setDefaultSectionSize(roomList->fontMetrics().height() + 4);
    // A click on a column sorts the rows; rows go in, and move, to their
    // places on their own.
    roomList->horizontalHeader()->setSortIndicator(0, Qt::AscendingOrder);
    roomList->setSortingEnabled(true);
    roomList->setContextMenuPolicy(Qt::CustomContextMenu);
    // A room tab's input outranks the list: it is found first.
    RegisterWidgetForTabFocus(roomList, 1);
    roomSplitter->setStretchFactor(0, 1);
    roomSplitter->setStretchFactor(1, 0);
    connect(roomList, &QWidget::customContextMenuRequested, this, &RoomsForm::OnRoomListContextMenuRequested);
    connect(roomList, &QAbstractItemView::doubleClicked, this, &RoomsForm::OnRoomListItemDoubleClicked);
}

RoomsForm::~RoomsForm()
{
    if (roomsForm == this)
        roomsForm = nullptr;
}

void RoomsForm::Watch(const char* child, int relation, void (RoomsForm::*handler)(ItemPtr))
{
    auto* root = new PathNode(&d, "room");
    new PathNode(root, child, PathNodeRelation(relation));
    d.AddPathEventHandler(root, Register(new EventHandler<RoomsForm, ItemPtr>(this, handler)));
}

void RoomsForm::Init()
{
    Type* room = d.DeclareType("room", kEntity);
    d.RelateTypes(room, d.DeclareType("room_node", kEntity), One, One);
    Subscribe(room->itemAdded, &RoomsForm::OnRoomAdded);
    for (ItemPtr existing : room->GetItems())
        OnRoomAdded(existing);

    Watch("user_count", PathConnected, &RoomsForm::OnRoomUserCountChanged);
    Watch("is_owner", PathConnected, &RoomsForm::OnBecomingRoomOwner);
    Watch("is_operator", PathConnected, &RoomsForm::OnBecomingRoomOperator);
    Watch("is_member", PathConnected, &RoomsForm::OnBecomingRoomMember);
    for (const char* role : { "is_member", "is_operator", "is_owner" })
        Watch(role, PathNotConnected, &RoomsForm::OnLosingRoomRole);
    Watch("in_room", PathNotConnected, &RoomsForm::CloseWall);

    roomList->sortByColumn(0, Qt::AscendingOrder);
    d.AddConnectionEventHandler(room, d.GetType("in_room"),
        Register(new EventHandler<RoomsForm, ConnectionInfo&>(this, &RoomsForm::OnEnteredRoom)));

    if (actionBar) {
        const QString roomIcon = QStringLiteral(":/icons/room_icon");
        actionBar->AddSetAction(QStringLiteral("room_list"), QStringLiteral("create_room"), QStringLiteral("Create Room"), roomIcon, false);
        actionBar->AddSetAction(QStringLiteral("room_list"), QStringLiteral("refresh_room_list"),
            QStringLiteral("Refresh Room List"), roomIcon, false);
        actionBar->AddSetAction(QStringLiteral("room_list"), QStringLiteral("enable_private_room_add"),
            QStringLiteral("Accept Private Room Invitations"), roomIcon, false);
        actionBar->RegisterWidget(roomList, QStringLiteral("room_list"));
        const QString set = QStringLiteral("room");
        actionBar->AddSetAction(set, QStringLiteral("toggle_room_autojoin"), QStringLiteral("Toggle Autojoin"), roomIcon, false);
        actionBar->AddSetAction(set, QStringLiteral("toggle_room_activity_alert"), QStringLiteral("Toggle Activity Alert"),
            QStringLiteral(":/icons/alert_icon"), false);
        actionBar->AddSetAction(set, QStringLiteral("room_chat_log"), QStringLiteral("Chat Log"), QStringLiteral(":/icons/note_icon"), false);
        actionBar->AddSetAction(set, QStringLiteral("room_wall"), QStringLiteral("Room Wall"), QStringLiteral(":/icons/wall_icon"), false);
        actionBar->AddSetAction(set, QStringLiteral("give_up_membership"), QStringLiteral("Give Up Membership"), roomIcon, false);
        actionBar->AddSetAction(set, QStringLiteral("give_up_ownership"), QStringLiteral("Give Up Room"), roomIcon, false);
    }

    roomSplitter->setSizes({ qMax(0, width() - 220), 220 });
    if (sizeManager) {
        sizeManager->RegisterSplitter(QStringLiteral("room_list_splitter"), roomSplitter, {});
        sizeManager->RegisterTreeWidget(QStringLiteral("room_list"), roomList);
    }

    if (gp_server) {
        connect(gp_server, &Server::PrivateRoomAddEnabled, this, &RoomsForm::OnPrivateRoomAddEnabled);
        connect(gp_server, &Server::Connected, this, &RoomsForm::OnConnected);
        connect(gp_server, &Server::CannotCreateRoom, this, &RoomsForm::OnCannotCreateRoom);
    }
    if (actionBar)
        connect(actionBar, &ActionSetToolBar::ActionTriggered, this, &RoomsForm::OnToolBarActionTriggered);
    connect(roomsTabControl, &QTabWidget::tabCloseRequested, this, &RoomsForm::OnRoomTabClosed);
    m_quiet = std::make_unique<QuietChats>(roomsTabControl, [](QWidget* page) {
        auto* form = qobject_cast<RoomForm*>(page);
        return form ? &form->Lines() : nullptr;
    });
    if (timerManager)
        connect(timerManager->HalfMinuteTimer(), &QTimer::timeout, this, [this] { m_quiet->Check(); });

    DeclareWidgetType("room_wall_form", "room");
    d.RelateTypes(room, d.DeclareType("room_activity_alert", kAttribute, true), Many, One);
    // Declared by the main window; declared here too so the page stands alone.
    DeclareWidgetType("chat_log_form", "room");
    DeclareWidgetType("chat_log_form", "user");
    d.RelateTypes(d.GetType("user"), d.DeclareType("user_note", kAttribute), Many, One);
}

RoomListModel::Row* RoomsForm::Row(ItemPtr room) const
{
    return room["room_node"].AsPointer<RoomListModel::Row>();
}

namespace {

RoomListModel::Rank RankIn(ItemPtr room)
{
    return room.IsConnected("is_owner")   ? RoomListModel::kOwner
        : room.IsConnected("is_operator") ? RoomListModel::kOperator
        : room.IsConnected("is_member")   ? RoomListModel::kMember
                                          : RoomListModel::kNone;
}

} // namespace

void RoomsForm::OnRoomAdded(ItemPtr room)
{
    if (room.IsConnected("room_node"))
        return;
    RoomListModel::Row* row = roomModel->Add(room.AsString(), RankIn(room));
    room.Connect(d.GetType("room_node")->GetItem(Value(row)));
}

void RoomsForm::OnRoomUserCountChanged(ItemPtr room)
{
    if (RoomListModel::Row* row = Row(room))
        roomModel->SetUsers(row, room["user_count"].AsInt());
}

void RoomsForm::MarkRole(ItemPtr room, int italic, int underline, int weight)
{
    RoomListModel::Row* row = Row(room);
    if (!row)
        return;
    roomModel->SetRole(row, RankIn(room), italic >= 0 ? italic != 0 : row->italic,
        underline >= 0 ? underline != 0 : row->underline, weight >= 0 ? weight >= QFont::Bold : row->bold);
}

void RoomsForm::OnBecomingRoomOwner(ItemPtr room)
{
    MarkRole(room, 1, 1, QFont::Bold);
}

void RoomsForm::OnBecomingRoomOperator(ItemPtr room)
{
    MarkRole(room, 1, -1, QFont::Bold);
}

void RoomsForm::OnBecomingRoomMember(ItemPtr room)
{
    if (room.IsConnected("is_owner") || room.IsConnected("is_operator"))
        return;
    MarkRole(room, 1, -1, -1);
}

void RoomsForm::OnLosingRoomRole(ItemPtr room)
{
    MarkRole(room, room.IsConnected("is_member"), room.IsConnected("is_owner"),
        room.IsConnected("is_operator") ? QFont::Bold : QFont::Normal);
}

void RoomsForm::OnRoomListItemDoubleClicked(const QModelIndex& index)
{
    if (index.isValid() && index.column() == 0)
        EnterRoom(RoomListModel::Room(index), false);
}

void RoomsForm::EnterRoom(const QString& room, bool isPrivate)
{
    if (gp_server && gp_server->IsConnected()) {
        // The tab comes to the front when the server lets the user in, or
        // now for a room the user is in already.
        RoomForm* open = nullptr;
        for (int i = 0; i < roomsTabControl->count() && !open; ++i) {
            auto* page = qobject_cast<RoomForm*>(roomsTabControl->widget(i));
            open = page && page->Room() == room ? page : nullptr;
        }
        if (open)
            BringTab(open);
        else
            m_asked.insert(room);
        gp_server->EnterRoom(room, isPrivate);
        return;
    }
    // The server drops a join while the client is not logged in; no tab
    // would ever open.
    auto* box = new QMessageBox(QMessageBox::Information, tr("Not connected"),
        tr("Not connected to the server: the room %1 was not joined. Join it again once the client is "
           "connected.")
            .arg(BoxRoomName(room)),
        QMessageBox::Ok, this);
    box->setTextFormat(Qt::PlainText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->show();
}

void RoomsForm::OnRoomListContextMenuRequested(QPoint position)
{
    if (!roomList->indexAt(position).isValid())
        return;
    QMenu menu;
    menu.addAction(QIcon(QStringLiteral(":/icons/room_icon")), QStringLiteral("Enter Room"), this, &RoomsForm::OnEnterRoom);
    menu.exec(roomList->viewport()->mapToGlobal(position));
}

void RoomsForm::OnEnterRoom()
{
    const QModelIndexList selected = roomList->selectionModel()->selectedRows();
    if (!selected.isEmpty())
        EnterRoom(RoomListModel::Room(selected.first()), false);
}

void RoomsForm::OnEnteredRoom(ConnectionInfo& info)
{
    const ItemPtr room = info.first.GetType() == d.GetType("room") ? info.first : info.second;
    auto* page = new RoomForm(room.AsString(), nullptr);
    roomsTabControl->AddNamedTab(
        page, KitIcon(QStringLiteral(":/icons/room_icon")), IsolatedText(room.AsString()));
    page->Init();
    connect(page, &RoomForm::Left, this, [this, page] { OnRoomLeft(page); });
    if (m_asked.remove(page->Room()))
        BringTab(page);
    const QString draft = m_drafts.take(page->Room());
    const QString ticker = m_wallDrafts.take(page->Room());
    if (!draft.isEmpty())
        page->chatEdit->setText(draft);
    if (!ticker.isEmpty())
        Wall(room)->lineEdit->setText(ticker);
    if (!draft.isEmpty() || !ticker.isEmpty())
        ShowDraftNotice();
}

void RoomsForm::BringTab(RoomForm* page)
{
    // The keyboard comes along from the page the room was asked on, and
    // from nowhere else.
    roomsTabControl->setCurrentWidget(page);
    if (QWidget* focus = window()->focusWidget(); focus && isAncestorOf(focus))
        page->chatEdit->setFocus();
}

void RoomsForm::OnRoomLeft(RoomForm* page)
{
    // Taken away maybe mid-sentence: the rest must not go on into another
    // room's input, and what was typed waits for the next join.
    if (!page->chatEdit->text().isEmpty()) {
        m_drafts.insert(page->Room(), page->chatEdit->text());
        ShowDraftNotice();
    }
    MoveFocusOffPage(page);
}

void RoomsForm::CloseWall(ItemPtr room)
{
    // A wall would post to a room the user is no longer in: it goes with the
    // room, and its text comes back with the next join.
    auto* wall = room["room_wall_form"].AsPointer<RoomWallForm>();
    if (!wall)
        return;
    if (!wall->lineEdit->text().trimmed().isEmpty()) {
        m_wallDrafts.insert(room.AsString(), wall->lineEdit->text());
        ShowDraftNotice();
    }
    MoveFocusOffPage(wall);
    delete wall;
}

void RoomsForm::MoveFocusOffPage(QWidget* page)
{
    // The keys the user goes on typing land where they do nothing: on the
    // notice that says where the text went, not in the room list, whose
    // type-ahead would take them and move its selection.
    QWidget* focus = window()->focusWidget();
    if (focus && page && page->isAncestorOf(focus))
        (draftNotice->isVisible() ? static_cast<QWidget*>(draftNotice) : roomList)->setFocus();
}

void RoomsForm::ShowDraftNotice()
{
    QStringList rooms;
    const QFontMetrics metrics(draftNotice->font());
    QSet<QString> names(m_drafts.keyBegin(), m_drafts.keyEnd());
    names.unite(QSet<QString>(m_wallDrafts.keyBegin(), m_wallDrafts.keyEnd()));
    for (const QString& room : names)
        rooms.append(ElidedLabel(IsolatedText(room), metrics));
    rooms.sort();
    draftNotice->setText(
        QStringLiteral("You are no longer in %1. What you had typed there was not sent: it will "
                       "be back where you typed it when you join again.")
            .arg(rooms.join(QStringLiteral(", "))));
    draftNotice->setVisible(!rooms.isEmpty());
}

void RoomsForm::OnCannotCreateRoom(const QString& room)
{
    // The dialog the name was typed in has gone by now (or nobody asked: a
    // room entered again after a reconnection), so the name is said again.
    // The refusal of a room the user asked for answers the user: the box
    // takes the keyboard.
    constexpr int kNamed = 10;
    const bool asked = m_asked.remove(room);
    // A box the user closed (gone, or about to be) says nothing more: the
    // next refusal opens a box of its own, naming only what came since.
    if (m_refusedBox && !m_refusedBox->isVisible())
        m_refusedBox = nullptr;
    if (!m_refusedBox) {
        m_refusedRooms.clear();
        m_moreRefused = 0;
    }
    if (m_refusedRooms.contains(room)) {
        if (asked)
            QuietWindow::Bring(m_refusedBox);
        return;
    }
    if (m_refusedRooms.size() < kNamed)
        m_refusedRooms.append(room);
    else
        ++m_moreRefused;
    const QFontMetrics metrics(font());
    QStringList names;
    for (const QString& name : m_refusedRooms)
        names.append(ElidedLabel(IsolatedText(name), metrics));
    QString text = names.size() == 1
        ? QStringLiteral("The server could not create or enter the room %1.").arg(names.first())
        : QStringLiteral("The server could not create or enter these rooms: %1.").arg(names.join(QStringLiteral(", ")));
    if (m_moreRefused > 0)
        text += QStringLiteral(" %1 more rooms were refused likewise.").arg(m_moreRefused);
    if (!m_refusedBox) {
        m_refusedBox = QuietWindow::Notice(this, QMessageBox::Warning, QStringLiteral("Room"), text, !asked);
        return;
    }
    m_refusedBox->setText(text);
    if (asked)
        QuietWindow::Bring(m_refusedBox);
}

void RoomsForm::OnRoomTabClosed(int index)
{
    QWidget* page = roomsTabControl->widget(index);
    MoveFocusOffPage(page);
    delete page;
}

void RoomsForm::OnConnected()
{
    m_asked.clear(); // asked of the connection that went
    settings.Set("enable_private_room_add", "no");
}

void RoomsForm::OnPrivateRoomAddEnabled(bool enabled)
{
    settings.Set("enable_private_room_add", enabled ? "yes" : "no");
    if (actionBar)
        actionBar->SetWidgetActionText(roomList, QStringLiteral("enable_private_room_add"),
            enabled ? QStringLiteral("Reject Private Room Invitations") : QStringLiteral("Accept Private Room Invitations"));
}

void RoomsForm::OnToolBarActionTriggered(QWidget*, QString id)
{
    if (id == QLatin1String("refresh_room_list")) {
        if (gp_server)
            gp_server->GetRoomList();
        return;
    }
    if (id == QLatin1String("create_room")) {
        if (!createRoomDialog)
            new CreateRoomDialog(this);
        createRoomDialog->show();
        createRoomDialog->raise();
        return;
    }
    if (id == QLatin1String("enable_private_room_add")) {
        if (gp_server)
            gp_server->EnablePrivateRoomAdd(!settings.IsYes("enable_private_room_add"));
        return;
    }
    static const char* const roomActions[] = { "toggle_room_autojoin", "toggle_room_activity_alert", "room_chat_log",
        "give_up_membership", "give_up_ownership", "room_wall" };
    if (std::none_of(std::begin(roomActions), std::end(roomActions), [&](const char* a) { return id == QLatin1String(a); }))
        return;
    const QString name = actionBar ? actionBar->GetKey(QStringLiteral("room")) : QString();
    const ItemPtr room = d.GetType("room")->HasItem(Value(name));
    if (!room)
        return;
    if (id == QLatin1String("toggle_room_autojoin") || id == QLatin1String("toggle_room_activity_alert")) {
        const char* flag = id == QLatin1String("toggle_room_autojoin") ? "room_autojoin" : "room_activity_alert";
        if (room.IsConnected(flag))
            room.Disconnect(flag);
        else
            room.NewItem(flag);
    } else if (id == QLatin1String("room_chat_log")) {
        OpenChatLog(room);
    } else if (id == QLatin1String("give_up_membership")) {
        GiveUpMembership(room);
    } else if (id == QLatin1String("give_up_ownership")) {
        GiveUpOwnership(room);
    } else {
        FocusWidgetAndParents(Wall(room));
    }
}

void RoomsForm::OpenChatLog(ItemPtr room)
{
    auto* viewer = room["chat_log_form"].AsPointer<ChatLogForm>();
    if (!viewer) {
        viewer = new ChatLogForm(ChatLog::FilePath(ChatLog::Rooms, room.AsString()), this);
        roomsTabControl->AddNamedTab(
            viewer, KitIcon(QStringLiteral(":/icons/note_icon")), IsolatedText(room.AsString()));
        room.Connect(d.GetType("chat_log_form")->GetItem(Value(viewer)));
    }
    viewer->Focus();
}

RoomWallForm* RoomsForm::Wall(ItemPtr room)
{
    auto* wall = room["room_wall_form"].AsPointer<RoomWallForm>();
    if (!wall) {
        wall = new RoomWallForm(room.AsString(), this);
        roomsTabControl->AddNamedTab(
            wall, KitIcon(QStringLiteral(":/icons/wall_icon")), IsolatedText(room.AsString()));
        room.Connect(d.GetType("room_wall_form")->GetItem(Value(wall)));
    }
    return wall;
}

void RoomsForm::GiveUpMembership(ItemPtr room)
{
    if (!room.IsConnected("is_member") || room.IsConnected("is_owner"))
        return;
    const QString name = room.AsString();
    if (AskYes(QStringLiteral("Give up membership?"),
            QStringLiteral("Are you sure you want to give up your membership to the %1 private room?")
                .arg(BoxRoomName(name)))
        && gp_server)
        gp_server->GiveUpPrivateRoomMembership(name);
}

void RoomsForm::GiveUpOwnership(ItemPtr room)
{
    if (!room.IsConnected("is_owner"))
        return;
    const QString name = room.AsString();
    if (!AskYes(QStringLiteral("Give up membership?"),
            QStringLiteral("Are you SURE you want to give up your ownership of the %1 private room?")
                .arg(BoxRoomName(name))))
        return;
    if (!AskYes(QStringLiteral("REALLY?"), QStringLiteral("REALLY?")) || !gp_server)
        return;
    gp_server->GiveUpPrivateRoom(name);
    gp_server->LeaveRoom(name);
}
