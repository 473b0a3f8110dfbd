// Rows of the floods benchmark on the Rooms page: bursts of room messages,
// big room lists, a big private room and a room name made of marks. Each
// input is made before the rows run and fed in one piece, as a socket hands
// on what has arrived.
#pragma once
#include "FloodRun.h"
#include "pages/chat/RoomForm.h"
#include "pages/chat/RoomsForm.h"
#include "shell/TabWidget.h"
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>
#include <memory>

namespace {

inline QByteArray UserJoinedFrame(const QString& room, const QString& user)
{
    MemStream m;
    m.WriteString(room);
    m.WriteString(user);
    m.WriteUInt32(2);
    UserStats stats;
    stats.fileCount = 100;
    stats.Write(m);
    m.WriteUInt32(0);
    m.WriteString(QStringLiteral("de"));
    return ServerFrame(SM_USER_JOINED_ROOM, m);
}

inline QByteArray UserLeftFrame(const QString& room, const QString& user)
{
    MemStream m;
    m.WriteString(room);
    m.WriteString(user);
    return ServerFrame(SM_USER_LEFT_ROOM, m);
}

// users joining the room one after another, then leaving again in the same
// order, then one more user, "end", who stays.
inline QByteArray JoinLeaveBurst(const QString& room, int users)
{
    QByteArray bytes;
    for (int i = 0; i < users; ++i)
        bytes += UserJoinedFrame(room, QStringLiteral("passer%1").arg(i));
    for (int i = 0; i < users; ++i)
        bytes += UserLeftFrame(room, QStringLiteral("passer%1").arg(i));
    return bytes + UserJoinedFrame(room, QStringLiteral("end"));
}

// A room list: the public rooms with their counts, then those of them that
// the user owns, is a member of and operates (the first of the list).
inline QByteArray RoomList(const QStringList& rooms, int owned, int member, int operated)
{
    MemStream m;
    const auto names = [&](int from, int n, bool counts) {
        m.WriteUInt32(quint32(n));
        for (int i = from; i < from + n; ++i)
            m.WriteString(rooms[i]);
        if (!counts)
            return;
        m.WriteUInt32(quint32(n));
        for (int i = from; i < from + n; ++i)
            m.WriteUInt32(quint32(i % 700));
    };
    names(0, int(rooms.size()), true);
    names(0, owned, true);
    names(owned, member, true);
    names(owned, operated, false);
    return ServerFrame(SM_ROOM_LIST, m);
}

// The answer to joining a private room: its users, the first the owner and
// the next ones operators.
inline QByteArray PrivateJoinFrame(const QString& room, const QStringList& users, int operators)
{
    MemStream m = JoinAnswer(room, users);
    m.WriteString(users.first());
    m.WriteUInt32(quint32(operators));
    for (int i = 1; i <= operators; ++i)
        m.WriteString(users[i]);
    return ServerFrame(SM_JOIN_ROOM, m);
}

// The room's tab once every row of its users is in.
inline RoomForm* RoomTabWithUsers(const QString& room, int users)
{
    for (auto* tab : roomsForm->findChildren<RoomForm*>())
        if (tab->Room() == room)
            return tab->userList->topLevelItemCount() == users ? tab : nullptr;
    return nullptr;
}

inline bool RoomRowShows(const QString& room, const QString& count)
{
    // Found through the store: a search of a long list would stall the loop.
    const ItemPtr item = d.GetType("room")->HasItem(Value(room));
    const auto* row = item["room_node"].AsPointer<RoomListModel::Row>();
    const int at = row ? roomsForm->roomModel->IndexOf(row) : -1;
    return at >= 0 && roomsForm->roomModel->index(at, 1).data().toString() == count;
}

// The answer to joining the room with a few users in it.
inline QByteArray FewUsersJoin(const QString& room)
{
    QStringList users;
    for (int i = 0; i < 100; ++i)
        users << QStringLiteral("sitter%1").arg(i);
    return ServerFrame(SM_JOIN_ROOM, JoinAnswer(room, users));
}

// A room entered with a few users in it, its tab in front.
inline void EnterRoomWithFewUsers(const QString& room)
{
    gp_server->ProcessIncoming(FewUsersJoin(room));
}

inline void AddRoomsRows(FloodRun& run)
{
    const auto roomsPage
        = [&run] { run.Window()->Ui().tabControl->setCurrentWidget(run.Window()->Ui().roomsTab); };
    for (const auto& [row, users] : { std::pair { QStringLiteral("room_burst_10k"), 5000 },
             std::pair { QStringLiteral("room_burst_200k"), 100000 } }) {
        const QString room = QStringLiteral("burst ") + row;
        auto burst = std::make_shared<QByteArray>(JoinLeaveBurst(room, users));
        const QByteArray join = FewUsersJoin(room);
        run.Add(
            row,
            [=] {
                roomsPage();
                gp_server->ProcessIncoming(join);
                QTimer::singleShot(200, [=] { gp_server->ProcessIncoming(*burst); });
            },
            [=] {
                RoomForm* tab = RoomTabWithUsers(room, 101);
                return tab && tab->Row(QStringLiteral("end"));
            });
    }

    // A room list as the answer asked for; shown once the last room's row
    // shows its count and done() holds.
    const auto addList = [&](const QString& row, const QStringList& rooms, int owned, int member,
                             int operated, std::function<bool()> done) {
        auto list = std::make_shared<QByteArray>(RoomList(rooms, owned, member, operated));
        run.Add(
            row,
            [=] {
                roomsPage();
                gp_server->ProcessIncoming(*list);
            },
            [=] { return RoomRowShows(rooms.last(), QString::number((rooms.size() - 1) % 700)) && done(); },
            120000, [] { settings.Set("accept_room_list", "yes"); });
    };
    QStringList many;
    for (int i = 0; i < 100000; ++i)
        many << QStringLiteral("room %1").arg(i, 6, 10, QLatin1Char('0'));
    addList(QStringLiteral("room_list_100k"), many, 100, 1000, 100, [] {
        // The owned rooms, then the operated ones, then the member rooms.
        const QModelIndex lastMember = roomsForm->roomModel->index(1099, 0);
        return lastMember.data(Qt::FontRole).value<QFont>().italic();
    });
    QStringList longNames;
    for (int i = 0; i < 2000; ++i)
        longNames << QString(1890, QLatin1Char('w')) + QStringLiteral(" %1").arg(i, 4, 10, QLatin1Char('0'));
    addList(QStringLiteral("room_list_long_names"), longNames, 0, 0, 0, [] { return true; });

    // The owner, 2,000 operators and 18,000 other members.
    const QString big = QStringLiteral("big private");
    QStringList members;
    for (int i = 0; i < 20000; ++i)
        members << QStringLiteral("member%1").arg(i);
    auto bigJoin = std::make_shared<QByteArray>(PrivateJoinFrame(big, members, 2000));
    run.Add(
        QStringLiteral("private_room_20k_users"),
        [=] {
            roomsPage();
            gp_server->ProcessIncoming(*bigJoin);
        },
        [=] { return RoomTabWithUsers(big, int(members.size())) != nullptr; });

    // One letter and 65,000 marks: listed, entered, then taken away with
    // text typed in it, which the notice under the tabs names.
    const QString marks = QStringLiteral("a") + QString(65000, QChar(0x0301));
    auto marksList = std::make_shared<QByteArray>(RoomList({ marks }, 0, 0, 0));
    MemStream leave;
    leave.WriteString(marks);
    const QByteArray marksJoin = FewUsersJoin(marks);
    auto marksGone = std::make_shared<QByteArray>(ServerFrame(SM_LEAVE_ROOM, leave));
    run.Add(
        QStringLiteral("room_name_marks"),
        [=] {
            roomsPage();
            gp_server->ProcessIncoming(*marksList);
            gp_server->ProcessIncoming(marksJoin);
            QTimer::singleShot(200, [=] {
                if (RoomForm* tab = RoomTabWithUsers(marks, 100))
                    tab->chatEdit->setText(QStringLiteral("typed before the room went"));
                gp_server->ProcessIncoming(*marksGone);
            });
        },
        [=] { return roomsForm->draftNotice->isVisible() && RoomRowShows(marks, QString()); }, 120000,
        [] { settings.Set("accept_room_list", "yes"); });
}

} // namespace
