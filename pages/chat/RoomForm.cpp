#include "RoomForm.h"
#include "ChatLog.h"
#include "ChatsForm.h"
#include "NoResourceDocument.h"
#include "QRoomUserListItemWidget.h"
#include "UserHooks.h"
#include "WidgetFunctions.h"
#include "server/Server.h"
#include "shell/ActionSetToolBar.h"
#include "shell/ColumnFitter.h"
#include "shell/CutTextTips.h"
#include "shell/EventToolBar.h"
#include "shell/Kit.h"
#include "shell/SizeManager.h"
#include "store/Data.h"
#include "store/GeneralFunctions.h"
#include "store/SlicedWork.h"
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QScrollBar>
#include <QSplitter>
#include <QTextBrowser>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

// The most rows made in a turn of the event loop while users pour in (fewer
// once the turn is over): each goes in at its place, moving those after it.
constexpr int kRowSlice = 400;
// Rows of users who left that are taken out one by one in a turn; the rest
// of that turn's go at once in the next.
constexpr int kRowsRemovedOneByOne = 64;

// Puts new rows in at their places among the list's rows, which are in the
// order of its sort column already: each after every row that does not rank
// after it, so rows that rank equal keep their order of arrival.
void InsertSorted(QTreeWidget* list, std::vector<QTreeWidgetItem*> rows)
{
    const int column = list->sortColumn();
    const bool ascending = list->header()->sortIndicatorOrder() == Qt::AscendingOrder;
    const auto before = [&](const QTreeWidgetItem* a, const QTreeWidgetItem* b) {
        return ascending ? QRoomUserListItemWidget::Less(*a, *b, column)
                         : QRoomUserListItemWidget::Less(*b, *a, column);
    };
    std::stable_sort(rows.begin(), rows.end(), before);
    // From the last row back, so the places of the rows still to go stay
    // valid; rows bound for one place go in together.
    int high = list->topLevelItemCount();
    for (size_t end = rows.size(); end > 0;) {
        int low = 0;
        while (low < high) {
            const int mid = (low + high) / 2;
            if (before(rows[end - 1], list->topLevelItem(mid)))
                high = mid;
            else
                low = mid + 1;
        }
        size_t begin = end - 1;
        while (begin > 0 && (low == 0 || !before(rows[begin - 1], list->topLevelItem(low - 1))))
            --begin;
        list->insertTopLevelItems(low, QList<QTreeWidgetItem*>(rows.begin() + begin, rows.begin() + end));
        end = begin;
        high = low;
    }
}

} // namespace

RoomForm::RoomForm(const QString& room, QWidget* parent)
    : QWidget(parent)
    , m_room(room)
{
    setObjectName(QStringLiteral("RoomForm"));
    auto* layout = new QVBoxLayout(this);
    splitter = new QSplitter(Qt::Horizontal, this);
    splitter->setObjectName(QStringLiteral("splitter"));
    layout->addWidget(splitter);
    auto* left = new QWidget(splitter);
    auto* leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    chatView = new QTextBrowser(left);
    chatView->setObjectName(QStringLiteral("chatView"));
    chatView->setDocument(new NoResourceDocument(chatView));
    chatView->setOpenLinks(false);
    chatView->setOpenExternalLinks(false);
    chatEdit = new QLineEdit(left);
    chatEdit->setObjectName(QStringLiteral("chatEdit"));
    leftLayout->addWidget(chatView);
    leftLayout->addWidget(chatEdit);
    userList = new QTreeWidget(splitter);
    userList->setObjectName(QStringLiteral("userList"));
    userList->setContextMenuPolicy(Qt::CustomContextMenu);
    userList->setRootIsDecorated(false);
    // One line each: the view need not measure every row to place the rows
    // it shows.
    userList->setUniformRowHeights(true);
    // The list sorts itself only when asked (a click on a column, or a note
    // changing while the list is sorted by notes): a list that sorts itself
    // sorts all its rows again after every insertion, and new rows go in at
    // their places anyway.
    userList->header()->setSectionsClickable(true);
    userList->header()->setSortIndicatorShown(true);
    connect(userList->header(), &QHeaderView::sortIndicatorChanged, userList, &QTreeWidget::sortItems);
    m_lines.SetView(chatView);

    connect(userList, &QTreeWidget::itemClicked, this, &RoomForm::OnUserItemClicked);
    connect(chatEdit, &QLineEdit::returnPressed, this, &RoomForm::OnEnterPressed);
    connect(userList, &QWidget::customContextMenuRequested, this, &RoomForm::OnUserListContextMenuRequested);
    connect(chatView, &QTextBrowser::anchorClicked, this, &RoomForm::OnURLClicked);
    connect(userList, &QTreeWidget::itemDoubleClicked, this, &RoomForm::OnUserItemDoubleClicked);

    splitter->setSizes({ 280, 280 });
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 0);
    userList->setHeaderLabels({ QString(), QString(), QStringLiteral("User"), QString(), QStringLiteral("Files"),
        QStringLiteral("K/s") });
    const int widths[] = { 20, 25, 90, 25, 50, 40 };
    for (int c = 0; c < 6; ++c)
        userList->setColumnWidth(c, widths[c]);
    userList->sortByColumn(2, Qt::AscendingOrder);
    userList->header()->setStretchLastSection(true);
    userList->headerItem()->setIcon(3, KitIcon(QStringLiteral(":/icons/note_icon")));
    // The names take the room the speeds leave; one still cut shows whole on
    // hover.
    ColumnFitter::Attach(userList, { 2 });
    CutTextTips::Attach(userList);

    m_roomItem = d.GetType("room")->GetItem(Value(room));

    auto* added = new PathNode(&d, "user");
    new PathNode(added, m_roomItem, PathConnected);
    for (const char* attribute : { "average_download_speed", "shared_file_count", "country_code" })
        new PathNode(added, attribute, PathConnected);
    Watch(added, &RoomForm::OnUserAdded);
    auto* removed = new PathNode(&d, "user");
    new PathNode(removed, m_roomItem, PathNotConnected);
    Watch(removed, &RoomForm::OnUserRemoved);
    auto* opAdded = new PathNode(&d, "user");
    new PathNode(new PathNode(opAdded, "room_operators", PathConnected), m_roomItem, PathConnected);
    Watch(opAdded, &RoomForm::OnOperatorAdded);
    auto* opRemoved = new PathNode(&d, "user");
    new PathNode(opRemoved, "room_operators", PathDisconnectTrigger);
    Watch(opRemoved, &RoomForm::OnOperatorRemoved);

    if (gp_server)
        connect(gp_server, &Server::RoomChat, this, &RoomForm::OnRoomChat);

    auto* left_ = new PathNode(m_roomItem);
    new PathNode(left_, "in_room", PathNotConnected);
    Watch(left_, &RoomForm::OnLeftRoom);

    if (actionBar) {
        actionBar->RegisterWidget(this, QStringLiteral("room"));
        actionBar->AddWidgetKey(this, QStringLiteral("room"), room);
    }
    // The roles of a new private room arrive after its tab was made: the
    // give-up actions follow them.
    OnRoomRoleChanged(m_roomItem);
    for (const char* role : { "is_member", "is_owner" }) {
        for (PathNodeRelation relation : { PathConnected, PathNotConnected }) {
            auto* watch = new PathNode(m_roomItem);
            new PathNode(watch, role, relation);
            Watch(watch, &RoomForm::OnRoomRoleChanged);
        }
    }
    SetActionText("toggle_room_autojoin",
        m_roomItem.IsConnected("room_autojoin") ? QStringLiteral("Auto-Join [on]") : QStringLiteral("Auto-Join [off]"));
    SetActionText("toggle_room_activity_alert",
        m_roomItem.IsConnected("room_activity_alert") ? QStringLiteral("Activity Alert [on]")
                                                      : QStringLiteral("Activity Alert [off]"));
    const std::pair<const char*, std::pair<void (RoomForm::*)(ItemPtr), void (RoomForm::*)(ItemPtr)>> flags[] = {
        { "room_autojoin", { &RoomForm::OnRoomAutojoinOn, &RoomForm::OnRoomAutojoinOff } },
        { "room_activity_alert", { &RoomForm::OnRoomActivityAlertOn, &RoomForm::OnRoomActivityAlertOff } },
    };
    for (const auto& [flag, handlers] : flags) {
        auto* on = new PathNode(m_roomItem);
        new PathNode(on, flag, PathConnected);
        Watch(on, handlers.first);
        auto* off = new PathNode(m_roomItem);
        new PathNode(off, flag, PathNotConnected);
        Watch(off, handlers.second);
    }

    if (gp_server) {
        connect(gp_server, &Server::Connected, this, &RoomForm::OnConnected);
        connect(gp_server, &Server::Disconnected, this, &RoomForm::OnDisconnected);
        connect(gp_server, &Server::RoomEntered, this, &RoomForm::OnRoomEntered);
        connect(gp_server, &Server::CannotCreateRoom, this, &RoomForm::OnCannotEnterRoom);
        connect(gp_server, &Server::RoomMembersCut, this, &RoomForm::OnMembersCut);
    }

    auto* noteOn = new PathNode(&d, "user");
    new PathNode(noteOn, "user_note", PathConnected);
    Watch(noteOn, &RoomForm::OnUserNoteChanged);
    auto* noteOff = new PathNode(&d, "user");
    new PathNode(noteOff, "user_note", PathNotConnected);
    Watch(noteOff, &RoomForm::OnUserNoteRemoved);

    // Users already in the room (a page made again for a room still entered).
    for (ItemPtr user : m_roomItem.GetItems("user"))
        if (user.IsConnected("average_download_speed") && user.IsConnected("shared_file_count")
            && user.IsConnected("country_code"))
            OnUserAdded(user);
}

RoomForm::~RoomForm()
{
    qDeleteAll(m_doomedRows);
    if (!m_left) {
        m_left = true;
        if (gp_server && gp_server->IsConnected()) {
            gp_server->LeaveRoom(m_room);
        } else {
            // Closed while offline (or at exit, after the server went): no
            // leave can be sent, so the room is forgotten here and a later
            // join opens a tab again.
            m_roomItem.Disconnect("in_room");
        }
    }
}

void RoomForm::Watch(PathNode* root, void (RoomForm::*handler)(ItemPtr))
{
    d.AddPathEventHandler(root, Register(new EventHandler<RoomForm, ItemPtr>(this, handler)));
}

void RoomForm::Init()
{
    if (sizeManager) {
        sizeManager->RegisterSplitter(QStringLiteral("room_splitter"), splitter, {});
        sizeManager->RegisterTreeWidget(QStringLiteral("room_user_list"), userList);
    }
    RegisterWidgetForTabFocus(chatEdit, 1);
    userList->setColumnWidth(0, 20);
}

void RoomForm::SetActionText(const char* id, const QString& text)
{
    if (actionBar)
        actionBar->SetWidgetActionText(this, QString::fromLatin1(id), text);
}

void RoomForm::AddStatusMessage(const QString& text)
{
    m_lines.AddStatus(text);
}

void RoomForm::LogChat(const QString& line)
{
    ChatLog::Write(ChatLog::Rooms, m_room, m_roomItem, "log_room_chat", line);
}

void RoomForm::OnRoomChat(QString room, QString user, QString text)
{
    if (room != m_room)
        return;
    text = text.trimmed();
    const QString action = ChatLines::Action(text);
    if (!action.isNull()) {
        AddStatusMessage(ChatLines::ActionStatus(user, action));
        LogChat(ChatLog::ActionLine(QStringLiteral("%1 %2").arg(user, action)));
        return;
    }
    m_lines.AddLine(user, text, true);
    LogChat(ChatLog::ChatLine(user, text));
    if (m_roomItem.IsConnected("room_activity_alert") && eventToolBar)
        eventToolBar->AddEvent(IsolatedText(m_room), QStringLiteral(":/icons/room_icon"), chatEdit, QString(),
            QStringLiteral("room_chat"), false);
}

void RoomForm::OnUserAdded(ItemPtr user)
{
    const QString name = user.AsString();
    if (m_rows.contains(name) || m_pendingSet.contains(name))
        return;
    m_pending.append(name);
    m_pendingSet.insert(name);
    QueueRowUpdate();
}

void RoomForm::QueueRowUpdate()
{
    if (!m_flushQueued) {
        m_flushQueued = true;
        QMetaObject::invokeMethod(this, &RoomForm::UpdateRows, Qt::QueuedConnection);
    }
}

void RoomForm::UpdateRows()
{
    m_flushQueued = false;
    m_removedInTurn = 0;
    const QDeadlineTimer turn = SlicedWork::Turn();
    RemoveLeftRows(turn);
    AddPendingRows(turn);
    UpdateUserCount();
    if (!m_pending.isEmpty() || m_clearingRows || !m_doomedRows.empty() || !m_doomedNames.isEmpty()) {
        // The rest in turn with the other work of later passes.
        m_flushQueued = true;
        m_nextRows.Wake();
    }
}

void RoomForm::RemoveLeftRows(const QDeadlineTimer& turn)
{
    if (!m_leftRows.empty()) {
        std::vector<QTreeWidgetItem*> left = std::exchange(m_leftRows, {});
        if (left.size() == size_t(userList->topLevelItemCount())) {
            // All of them (a lost connection): the list shows nobody at once
            // (see below), and the rows go in later turns, which the rest of
            // the clearing after the loss shares.
            m_clearingRows = true;
            userList->setRootIndex(userList->model()->index(0, 0));
            return;
        } else {
            const QSet<QTreeWidgetItem*> gone(left.begin(), left.end());
            QTreeWidgetItem* current = userList->currentItem();
            QList<QTreeWidgetItem*> selected = userList->selectedItems();
            const int scrolled = userList->verticalScrollBar()->value();
            QList<QTreeWidgetItem*> rows = userList->invisibleRootItem()->takeChildren();
            rows.removeIf([&](QTreeWidgetItem* row) { return gone.contains(row); });
            userList->addTopLevelItems(rows);
            // The user's place in the list stays.
            if (current && !gone.contains(current))
                userList->setCurrentItem(current, 0, QItemSelectionModel::NoUpdate);
            for (QTreeWidgetItem* row : selected)
                if (!gone.contains(row))
                    row->setSelected(true);
            userList->verticalScrollBar()->setValue(scrolled);
        }
        m_doomedRows.insert(m_doomedRows.end(), left.begin(), left.end());
    }
    // Every row going: taken out (and freed) a slice at a time; taken out at
    // once, tens of thousands took a pass of their own. Meanwhile the view
    // stands on one of them, which has no rows under it: the list shows
    // nothing at once, and the view does not lay out the rows that stay
    // after every slice (a walk over all of them).
    for (QAbstractItemModel* rows = userList->model(); m_clearingRows;) {
        const int total = rows->rowCount();
        const int stand = userList->rootIndex().row();
        if (total <= 1) {
            userList->setRootIndex(QModelIndex());
            rows->removeRows(0, total);
            m_clearingRows = false;
        } else if (stand < 0) {
            userList->setRootIndex(rows->index(0, 0));
        } else {
            // The rows after the one it stands on, then those before it.
            const int end = stand + 1 < total ? total : stand;
            const int first = std::max(end == total ? stand + 1 : 0, end - SlicedWork::kItemsAtOnce);
            rows->removeRows(first, end - first);
        }
        if (turn.hasExpired())
            break;
    }
    // Out of the list, the rows are freed a slice at a time: tens of
    // thousands take long to free.
    for (size_t freed = 0; !m_doomedRows.empty(); m_doomedRows.pop_back()) {
        if (++freed % SlicedWork::kItemsAtOnce == 0 && turn.hasExpired())
            break;
        delete m_doomedRows.back();
    }
    auto name = m_doomedNames.begin();
    for (size_t freed = 0; name != m_doomedNames.end(); name = m_doomedNames.erase(name))
        if (++freed % SlicedWork::kItemsAtOnce == 0 && turn.hasExpired())
            break;
}

void RoomForm::AddPendingRows(const QDeadlineTimer& turn)
{
    // The rows of before go first: new ones would take places among them.
    if (m_pending.isEmpty() || m_clearingRows)
        return;
    Type* users = d.GetType("user");
    std::vector<QTreeWidgetItem*> rows;
    int n = 0;
    for (; n < kRowSlice && n < m_pending.size() && (n < SlicedWork::kItemsAtOnce || !turn.hasExpired()); ++n) {
        if (!m_pendingSet.remove(m_pending[n]))
            continue; // left again meanwhile
        ItemPtr user = users->HasItem(Value(m_pending[n]));
        QTreeWidgetItem* row = user.IsConnected(m_roomItem) ? MakeRow(user) : nullptr;
        if (row)
            rows.push_back(row);
    }
    m_pending.erase(m_pending.begin(), m_pending.begin() + n);
    InsertSorted(userList, std::move(rows));
}

QTreeWidgetItem* RoomForm::MakeRow(ItemPtr user)
{
    const QString name = user.AsString();
    if (m_rows.contains(name))
        return nullptr;
    auto* row = new QRoomUserListItemWidget;
    m_rows.insert(name, row);
    row->SetUser(name);
    const bool owner = !d.GetItem(user, m_roomItem, "room_owner").IsNull();
    if (owner || !d.GetItem(user, m_roomItem, "room_operators").IsNull()) {
        QFont font = row->font(2);
        font.setWeight(QFont::Bold);
        font.setUnderline(owner);
        row->setFont(2, font);
    }
    const QString country = user["country_code"].AsString();
    if (!country.isEmpty())
        row->setIcon(1, FlagIcon(country));
    row->setText(4, CommafyNumber(qint64(user["shared_file_count"].AsInt())));
    const double speed = user["average_download_speed"].AsInt() * (1.0 / 1024);
    if (speed != 0)
        row->setText(5, QStringLiteral("%1").arg(speed, 0, 'f', 1));
    if (user.IsConnected("user_note"))
        row->setIcon(3, KitIcon(QStringLiteral(":/icons/note_icon")));
    return row;
}

const QIcon& RoomForm::FlagIcon(const QString& country)
{
    // Made once per country: reading the file for every row took most of a
    // big room's join.
    auto flag = m_flags.find(country);
    if (flag == m_flags.end())
        flag = m_flags.insert(country,
            QIcon(QStringLiteral(":/resources/flags/") + country.toLower() + QStringLiteral(".png")));
    return *flag;
}

void RoomForm::UpdateUserCount()
{
    m_roomItem.Connect(
        d.GetType("user_count")->GetItem(Value(static_cast<unsigned long long>(m_roomItem.CountItems("user")))));
}

void RoomForm::OnUserRemoved(ItemPtr user)
{
    if (!m_roomItem.IsConnected("user")) {
        // The room was emptied at once (a lost connection): every row goes
        // together, and the events of the others find none left.
        m_pending.clear();
        m_pendingSet.clear();
        if (m_rows.isEmpty())
            return;
        for (QRoomUserListItemWidget* row : std::as_const(m_rows))
            m_leftRows.push_back(row);
        // The names are freed a slice at a time too.
        if (m_doomedNames.isEmpty())
            m_doomedNames.swap(m_rows);
        else
            m_rows.clear();
        QueueRowUpdate();
        return;
    }
    const QString name = user.AsString();
    m_pendingSet.remove(name);
    QRoomUserListItemWidget* row = m_rows.take(name);
    if (!row)
        return;
    if (m_leftRows.empty() && m_removedInTurn < kRowsRemovedOneByOne) {
        ++m_removedInTurn;
        delete row;
    } else {
        m_leftRows.push_back(row);
    }
    QueueRowUpdate();
}

void RoomForm::SetBold(const QString& user, int weight)
{
    if (QRoomUserListItemWidget* row = Row(user)) {
        QFont font = row->font(2);
        font.setWeight(QFont::Weight(weight));
        row->setFont(2, font);
    }
}

void RoomForm::OnOperatorAdded(ItemPtr user)
{
    SetBold(user.AsString(), QFont::Bold);
}

void RoomForm::OnOperatorRemoved(ItemPtr user)
{
    // The watch fires for a change in any room: only a user who is no longer
    // an operator of this room loses the bold name.
    if (d.GetItem(user, m_roomItem, "room_operators").IsNull())
        SetBold(user.AsString(), QFont::Normal);
}

void RoomForm::OnUserNoteChanged(ItemPtr user)
{
    SetNoteIcon(user, KitIcon(QStringLiteral(":/icons/note_icon")));
}

void RoomForm::OnUserNoteRemoved(ItemPtr user)
{
    SetNoteIcon(user, QIcon());
}

void RoomForm::SetNoteIcon(ItemPtr user, const QIcon& icon)
{
    QRoomUserListItemWidget* row = Row(user.AsString());
    if (!row)
        return;
    row->setIcon(3, icon);
    // The user's place in a list sorted by notes changed.
    if (userList->sortColumn() == 3)
        userList->sortItems(3, userList->header()->sortIndicatorOrder());
}

void RoomForm::OnRoomRoleChanged(ItemPtr)
{
    if (!actionBar)
        return;
    const bool owner = m_roomItem.IsConnected("is_owner");
    actionBar->SetWidgetActionHidden(
        this, QStringLiteral("give_up_membership"), !(m_roomItem.IsConnected("is_member") && !owner));
    actionBar->SetWidgetActionHidden(this, QStringLiteral("give_up_ownership"), !owner);
}

void RoomForm::OnRoomAutojoinOn(ItemPtr)
{
    SetActionText("toggle_room_autojoin", QStringLiteral("Auto-Join [on]"));
}

void RoomForm::OnRoomAutojoinOff(ItemPtr)
{
    SetActionText("toggle_room_autojoin", QStringLiteral("Auto-Join [off]"));
}

void RoomForm::OnRoomActivityAlertOn(ItemPtr)
{
    SetActionText("toggle_room_activity_alert", QStringLiteral("Activity Alert [on]"));
}

void RoomForm::OnRoomActivityAlertOff(ItemPtr)
{
    SetActionText("toggle_room_activity_alert", QStringLiteral("Activity Alert [off]"));
}

void RoomForm::OnLeftRoom(ItemPtr)
{
    if (m_left)
        return;
    m_left = true;
    emit Left();
    deleteLater();
}

void RoomForm::OnUserItemClicked(QTreeWidgetItem* item, int column)
{
    if (!item || column != 3)
        return;
    const QString name = QRoomUserListItemWidget::User(*item);
    if (d.GetType("user")->HasItem(Value(name)).IsConnected("user_note"))
        ShowUserNote(name);
}

void RoomForm::OnUserItemDoubleClicked(QTreeWidgetItem* item, int)
{
    if (item && chatsForm)
        chatsForm->OpenChatForm(QRoomUserListItemWidget::User(*item));
}

void RoomForm::OnUserListContextMenuRequested(QPoint position)
{
    QTreeWidgetItem* item = userList->itemAt(position);
    if (!item)
        return;
    QMenu menu;
    RunUserMenu(menu, QRoomUserListItemWidget::User(*item), userList->viewport()->mapToGlobal(position));
}

void RoomForm::OnEnterPressed()
{
    const QString text = chatEdit->text();
    if (text.isEmpty() || !m_lines.CanSend())
        return;
    if (m_entering) {
        // The server would drop a line for a room it has not let us into.
        AddStatusMessage(QStringLiteral("Entering the room again: the message was not sent."));
        return;
    }
    gp_server->SendRoomChat(m_room, text);
    chatEdit->clear();
}

void RoomForm::OnURLClicked(const QUrl& url)
{
    ChatLines::OpenLink(url);
    chatEdit->setFocus();
}

void RoomForm::OnDisconnected()
{
    AddStatusMessage(QStringLiteral("Disconnected at %1.").arg(QTime::currentTime().toString(QStringLiteral("h:mm:ss"))));
}

void RoomForm::OnConnected()
{
    AddStatusMessage(QStringLiteral("Reconnected at %1.").arg(QTime::currentTime().toString(QStringLiteral("h:mm:ss"))));
    if (gp_server) {
        m_entering = true;
        gp_server->EnterRoom(m_room, false);
    }
}

void RoomForm::OnRoomEntered(QString room)
{
    if (room == m_room)
        m_entering = false;
}

void RoomForm::OnMembersCut(QString room)
{
    if (room == m_room)
        AddStatusMessage(QStringLiteral("More users are in the room than the %1 that can be listed: those beyond "
                                        "are not shown.")
                .arg(gp_server->MaxRoomMembers()));
}

void RoomForm::OnCannotEnterRoom(QString room)
{
    // Entered again after a reconnection and refused (made private by another
    // user meanwhile): the client is not in the room. The page goes as it does
    // when the room is taken away, its typed text kept for the next join.
    if (room == m_room && m_entering)
        m_roomItem.Disconnect("in_room");
}
