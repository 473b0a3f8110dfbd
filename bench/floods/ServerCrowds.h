// Rows of the floods benchmark where a crowd reaches the window through the
// server's socket (a server played by this program, as in ServerFloods.h, so
// they run after those): private messages of many users, a room that users
// join without end, and statistics of users nobody asked about. Each ends
// with an administrators' message, which shows once everything before it has
// been handled, and prints its stall, its peak memory and what stays once the
// connection is gone (MiB).
#pragma once
#include "ServerFloods.h"
#include "Ui_MainWindow.h"
#include "pages/chat/RoomForm.h"
#include "pages/chat/RoomsForm.h"
#include <QThread>

namespace {

constexpr int kMessageWriters = 5000;
constexpr int kJoinStreamMs = 10000;
constexpr int kJoinsPerTenMs = 100; // 10,000 a second
constexpr int kStrangersStats = 500000;

inline QByteArray PrivateMessageFrame(quint32 id, const QString& user, const QString& text)
{
    MemStream m;
    m.WriteUInt32(id);
    m.WriteUInt32(quint32(QDateTime::currentSecsSinceEpoch()));
    m.WriteString(user);
    m.WriteString(text);
    m.WriteBool(true);
    return ServerFrame(SM_PRIVATE_MESSAGE, m);
}

inline QByteArray StatsFrame(const QString& user, quint32 files)
{
    MemStream m;
    m.WriteString(user);
    UserStats stats;
    stats.averageSpeed = files * 7;
    stats.fileCount = files;
    stats.Write(m);
    return ServerFrame(SM_GET_USER_STATS, m);
}

// Shows the page, and says whether it was showing already.
inline bool ShowPage(FloodRun& run, QWidget* page)
{
    if (run.Window()->Ui().tabControl->currentWidget() == page)
        return true;
    run.Window()->Ui().tabControl->setCurrentWidget(page);
    return false;
}

inline void AddServerCrowdsRows(FloodRun& run)
{
    // 5,000 users' first private messages at once while the Rooms page shows;
    // once they are in, the Chat page, the Rooms page and the Chat page again.
    const QString messagesIn = QStringLiteral("The private messages are in");
    auto messages = std::make_shared<QByteArray>();
    if (run.Wants(QStringLiteral("private_messages_5000"))) {
        for (int i = 0; i < kMessageWriters; ++i)
            *messages += PrivateMessageFrame(quint32(i + 1),
                QStringLiteral("writer %1").arg(i, 4, 10, QLatin1Char('0')),
                QStringLiteral("a first message from writer %1").arg(i));
        *messages += AdminFrame(messagesIn);
    }
    auto switches = std::make_shared<int>(0);
    run.Add(
        QStringLiteral("private_messages_5000"),
        [=, &run] {
            ShowPage(run, run.Window()->Ui().roomsTab);
            Play();
        },
        [=, &run] {
            if (!AdminMessageShown(run.Window(), messagesIn))
                return false;
            QWidget* pages[]
                = { run.Window()->Ui().chatTab, run.Window()->Ui().roomsTab, run.Window()->Ui().chatTab };
            if (*switches < 3 && ShowPage(run, pages[*switches]))
                ++*switches;
            return *switches == 3;
        },
        300000, [=, &run] { StagePlay(run, [=](QTcpSocket& link) { link.write(*messages); }); });
    run.Memory(QStringLiteral("private_messages_5000"));

    // A room joined with five users in it, then 10,000 users a second joining
    // it for ten seconds (the joins of each 10 ms made while the server waits
    // for the window to take what it sent).
    const QString room = QStringLiteral("streamed");
    const QString streamOver = QStringLiteral("The join stream is over");
    run.Add(
        QStringLiteral("room_join_stream"),
        [=, &run] {
            ShowPage(run, run.Window()->Ui().roomsTab);
            Play();
        },
        [=, &run] {
            if (!AdminMessageShown(run.Window(), streamOver))
                return false;
            // The list shows every member the room keeps.
            const ItemPtr item = d.GetType("room")->HasItem(Value(room));
            for (auto* tab : roomsForm->findChildren<RoomForm*>())
                if (tab->Room() == room)
                    return tab->userList->topLevelItemCount() == int(item.CountItems("user"));
            return false;
        },
        300000,
        [=, &run] {
            QStringList sitters;
            for (int i = 0; i < 5; ++i)
                sitters << QStringLiteral("sitter %1").arg(i);
            const QByteArray join = ServerFrame(SM_JOIN_ROOM, JoinAnswer(room, sitters));
            const QByteArray over = AdminFrame(streamOver);
            StagePlay(run, [=](QTcpSocket& link) {
                link.write(join);
                QElapsedTimer clock;
                clock.start();
                int joined = 0;
                while (clock.elapsed() < kJoinStreamMs && link.state() == QAbstractSocket::ConnectedState) {
                    QByteArray frames;
                    for (const qint64 due = (clock.elapsed() / 10 + 1) * kJoinsPerTenMs; joined < due;
                         ++joined)
                        frames += UserJoinedFrame(room, QStringLiteral("joiner %1").arg(joined));
                    link.write(frames);
                    link.waitForBytesWritten(5);
                    QThread::msleep(5);
                }
                link.write(over);
            });
        });
    run.Memory(QStringLiteral("room_join_stream"));

    // The statistics of 500,000 users the window never asked about.
    const QString statsOver = QStringLiteral("The statistics are over");
    auto stats = std::make_shared<QByteArray>();
    if (run.Wants(QStringLiteral("unasked_stats"))) {
        for (int i = 0; i < kStrangersStats; ++i)
            *stats += StatsFrame(QStringLiteral("unasked %1").arg(i), quint32(i % 5000));
        *stats += AdminFrame(statsOver);
    }
    run.Add(
        QStringLiteral("unasked_stats"), [] { Play(); },
        [=, &run] { return AdminMessageShown(run.Window(), statsOver); }, 300000,
        [=, &run] { StagePlay(run, [=](QTcpSocket& link) { link.write(*stats); }); });
    run.Memory(QStringLiteral("unasked_stats"));
}

} // namespace
