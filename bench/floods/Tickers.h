// Rows of the floods benchmark on a room's wall: the room is entered and its
// wall opened, then the server sends the room's tickers (the most a list may
// hold), the wall is closed and opened again over them, 5,000 users add a
// ticker each, and a list of ten replaces them all while the wall is open.
// Each input is fed in one piece, as a socket hands on what has arrived.
#pragma once
#include <QTimer>
#include "FloodRun.h"
#include "Rooms.h"
#include "pages/chat/RoomWallForm.h"
#include "pages/chat/TickerModel.h"
#include <QTreeView>

namespace {

constexpr int kTickers = 131072;
const QString kTickerRoom = QStringLiteral("tickers");

// The server's list of a room's tickers: users and their texts, short enough
// for the most tickers to fit in one frame.
inline QByteArray TickerList(const QString& room, int count, const QString& word)
{
    MemStream m;
    m.WriteString(room);
    m.WriteUInt32(quint32(count));
    for (int i = 0; i < count; ++i) {
        m.WriteString(QStringLiteral("u%1").arg(i));
        m.WriteString(QStringLiteral("%1 %2 ").arg(word).arg(i));
    }
    return ServerFrame(SM_ROOM_TICKERS, m);
}

// The room's wall, opened (and put in front) when it is not.
inline RoomWallForm* OpenWall(const QString& room)
{
    RoomForm* tab = RoomTabWithUsers(room, 100);
    if (!tab)
        return nullptr;
    actionBar->OnApplicationFocusChanged(nullptr, tab);
    if (QAction* action = actionBar->FindAction(QStringLiteral("room_wall")))
        action->trigger();
    return roomsForm->roomsTabControl->findChild<RoomWallForm*>();
}

// The wall shows so many rows, the last one with the word.
inline bool WallShows(int rows, const QString& word)
{
    auto* wall = roomsForm->roomsTabControl->findChild<RoomWallForm*>();
    QAbstractItemModel* model = wall ? wall->tickerView->model() : nullptr;
    return model && model->rowCount() == rows && wall->isVisible()
        && model->index(rows - 1, 0).data().toString().contains(word);
}

} // namespace

inline void AddTickersRows(FloodRun& run)
{
    if (!run.Wants(QStringLiteral("tickers_131k_wall_open")))
        return;
    auto many = std::make_shared<QByteArray>(TickerList(kTickerRoom, kTickers, QStringLiteral("old")));
    auto few = std::make_shared<QByteArray>(TickerList(kTickerRoom, 10, QStringLiteral("new")));
    const auto last = QStringLiteral(" %1 ").arg(kTickers - 1);
    run.Window()->Ui().tabControl->setCurrentWidget(run.Window()->Ui().roomsTab);
    EnterRoomWithFewUsers(kTickerRoom);
    gui::WaitFor([] { return RoomTabWithUsers(kTickerRoom, 100) != nullptr; });
    run.Add(
        QStringLiteral("tickers_131k_wall_open"),
        [many] {
            OpenWall(kTickerRoom);
            gp_server->ProcessIncoming(*many);
        },
        [last] { return WallShows(kTickers, last); });
    run.Memory(QStringLiteral("tickers_131k_wall_open"));
    run.Add(
        QStringLiteral("tickers_wall_reopened"),
        [] {
            // Closed, then opened from the room's own tab, as the user would:
            // two actions, each in a turn of its own.
            TabWidget* tabs = roomsForm->roomsTabControl;
            tabs->setCurrentWidget(RoomTabWithUsers(kTickerRoom, 100));
            roomsForm->OnRoomTabClosed(tabs->indexOf(tabs->findChild<RoomWallForm*>()));
            QTimer::singleShot(0, [] { OpenWall(kTickerRoom); });
        },
        [last] { return WallShows(kTickers, last); });
    run.Memory(QStringLiteral("tickers_wall_reopened"));
    auto added = std::make_shared<QByteArray>();
    for (int i = 0; i < 5000; ++i) {
        MemStream m;
        m.WriteString(kTickerRoom);
        m.WriteString(QStringLiteral("v%1").arg(i));
        m.WriteString(QStringLiteral("added %1 ").arg(i));
        *added += ServerFrame(SM_ROOM_TICKER_ADD, m);
    }
    run.Add(
        QStringLiteral("tickers_added_wall_open"), [added] { gp_server->ProcessIncoming(*added); },
        [] { return WallShows(kTickers + 5000, QStringLiteral("added 4999 ")); });
    run.Memory(QStringLiteral("tickers_added_wall_open"));
    run.Add(
        QStringLiteral("tickers_replaced_wall_open"), [few] { gp_server->ProcessIncoming(*few); },
        [] { return WallShows(10, QStringLiteral("new 9 ")); });
    run.Memory(QStringLiteral("tickers_replaced_wall_open"));
}
