#include "RoomsForm.h"
#include "ChatLog.h"
#include "ChatLogForm.h"
#include "CreateRoomDialog.h"
#include "QRoomListItemWidget.h"
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
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QSet>
#include <QSplitter>
#include <QTreeWidget>
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
    return RowName(room, QRoomListItemWidget::kShownName);
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
    roomList = new QTreeWidget(roomSplitter);
    roomList->setObjectName(QStringLiteral("roomList"));
    roomList->setColumnCount(2);
    roomList->setHeaderLabels({ QStringLiteral("Room Name"), QStringLiteral("Users") });
    roomList->setColumnWidth(0, 150);
    roomList->setColumnWidth(1, 30);
    roomList->setIconSize(QSize(16, 11));
    roomList->setRootIsDecorated(false);
    roomList->setItemsExpandable(false);
    // One line each: the view need not measure every row to place the rows
    // it shows.
    roomList->setUniformRowHeights(true);
    // The list sorts itself only when asked (a click on a column): a list
    // that sorts itself sorts all its rows again after every insertion, and
    // rows go in, and move, to their places anyway.
    roomList->header()->setSectionsClickable(true);
    roomList->header()->setSortIndicatorShown(true);
    connect(roomList->header(), &QHeaderView::sortIndicatorChanged, roomList, &QTreeWidget::sortItems);
    roomList->setContextMenuPolicy(Qt::CustomContextMenu);
    // A room tab's input outranks the list: it is found first.
    RegisterWidgetForTabFocus(roomList, 1);
    roomSplitter->setStretchFactor(0, 1);
    roomSplitter->setStretchFactor(1, 0);
    connect(roomList, &QWidget::customContextMenuRequested, this, &RoomsForm::OnRoomListContextMenuRequested);
    connect(roomList, &QTreeWidget::itemDoubleClicked, this, &RoomsForm::OnRoomListItemDoubleClicked);
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

    DeclareWidgetType("room_wall_form", "room");
    d.RelateTypes(room, d.DeclareType("room_activity_alert", kAttribute, true), Many, One);
    // Declared by the main window; declared here too so the page stands alone.
    DeclareWidgetType("chat_log_form", "room");
    DeclareWidgetType("chat_log_form", "user");
    d.RelateTypes(d.GetType("user"), d.DeclareType("user_note", kAttribute), Many, One);
}

QTreeWidgetItem* RoomsForm::Row(ItemPtr room) const
{
    return room["room_node"].AsPointer<QTreeWidgetItem>();
}

void RoomsForm::OnRoomAdded(ItemPtr room)
{
    if (room.IsConnected("room_node"))
        return;
    auto* row = new QRoomListItemWidget;
    row->SetRoom(room.AsString());
    PlaceRow(row);
    room.Connect(d.GetType("room_node")->GetItem(Value(row)));
}

void RoomsForm::OnRoomUserCountChanged(ItemPtr room)
{
    QTreeWidgetItem* row = Row(room);
    if (!row)
        return;
    const ItemPtr count = room["user_count"];
    row->setText(1, count.AsInt() != 0 ? count.AsString() : QString());
    if (roomList->sortColumn() == 1)
        PlaceRow(row);
}

void RoomsForm::MarkRole(ItemPtr room, int italic, int underline, int weight)
{
    QTreeWidgetItem* row = Row(room);
    if (!row)
        return;
    QFont font = row->font(0);
    if (italic >= 0)
        font.setItalic(italic);
    if (underline >= 0)
        font.setUnderline(underline);
    if (weight >= 0)
        font.setWeight(QFont::Weight(weight));
    row->setFont(0, font);
    if (roomList->sortColumn() == 0)
        PlaceRow(row);
}

void RoomsForm::PlaceRow(QTreeWidgetItem* row)
{
    // The other rows are in order: a binary search finds the place, after
    // every row that does not rank after this one.
    const bool ascending = roomList->header()->sortIndicatorOrder() == Qt::AscendingOrder;
    const auto before
        = [&](const QTreeWidgetItem* a, const QTreeWidgetItem* b) { return ascending ? *a < *b : *b < *a; };
    // A new row is in no list yet (looking for it would go through all).
    const int at = row->treeWidget() ? roomList->indexOfTopLevelItem(row) : -1;
    if (at >= 0) {
        const QTreeWidgetItem* previous = roomList->topLevelItem(at - 1);
        const QTreeWidgetItem* next = roomList->topLevelItem(at + 1);
        if ((!previous || !before(row, previous)) && (!next || !before(next, row)))
            return; // in its place already
        const bool selected = row->isSelected();
        const bool current = roomList->currentItem() == row;
        roomList->takeTopLevelItem(at);
        PlaceRow(row);
        row->setSelected(selected);
        if (current)
            roomList->setCurrentItem(row, 0, QItemSelectionModel::NoUpdate);
        return;
    }
    int low = 0;
    int high = roomList->topLevelItemCount();
    while (low < high) {
        const int mid = (low + high) / 2;
        if (before(row, roomList->topLevelItem(mid)))
            high = mid;
        else
            low = mid + 1;
    }
    roomList->insertTopLevelItem(low, row);
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

void RoomsForm::OnRoomListItemDoubleClicked(QTreeWidgetItem* item, int column)
{
    if (item && column == 0)
        EnterRoom(QRoomListItemWidget::Room(*item), false);
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
    if (!roomList->itemAt(position))
        return;
    QMenu menu;
    menu.addAction(QIcon(QStringLiteral(":/icons/room_icon")), QStringLiteral("Enter Room"), this, &RoomsForm::OnEnterRoom);
    menu.exec(roomList->viewport()->mapToGlobal(position));
}

void RoomsForm::OnEnterRoom()
{
    const QList<QTreeWidgetItem*> selected = roomList->selectedItems();
    if (!selected.isEmpty())
        EnterRoom(QRoomListItemWidget::Room(*selected.first()), false);
}

void RoomsForm::OnEnteredRoom(ConnectionInfo& info)
{
    const ItemPtr room = info.first.GetType() == d.GetType("room") ? info.first : info.second;
    auto* page = new RoomForm(room.AsString(), nullptr);
    roomsTabControl->AddNamedTab(page, QIcon(QStringLiteral(":/icons/room_icon")), IsolatedText(room.AsString()));
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
            viewer, QIcon(QStringLiteral(":/icons/note_icon")), IsolatedText(room.AsString()));
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
            wall, QIcon(QStringLiteral(":/icons/wall_icon")), IsolatedText(room.AsString()));
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
