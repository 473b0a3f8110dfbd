// Rows of the floods benchmark for the server's part of the event loop's
// passes (a server played by this program, as in ServerFloods.h, so they run
// after those): a room joined, then 16,000 of its chat lines at once (the
// system's buffers hold them back until the window takes them), then an
// administrators' message;
//   server_chat_alone: with nothing else going on;
//   server_chat_among_peers: while 300 peers from four addresses stream
//     queue requests (as in many_peers_flood, Totals.h).
// Each prints its stall and <row>_lines: the chat lines the window handled
// a second, from the first to the last.
#pragma once
#include "Rooms.h"
#include "ServerFloods.h"
#include "Totals.h"

namespace {

constexpr int kChatLines = 16000;

inline void AddServerChatRow(FloodRun& run, const QString& row, bool crowded)
{
    struct Count {
        int lines = 0;
        QElapsedTimer clock;
        qint64 first = -1;
        qint64 last = 0;
        QMetaObject::Connection counting;
    };
    auto count = std::make_shared<Count>();
    auto crowd = std::make_shared<SocketCrowd>();
    auto streamers = std::make_shared<SocketCrowd::Plan>();
    const QString room = QStringLiteral("chatty");
    const QString over = QStringLiteral("The chat of %1 is over").arg(row);
    const bool runs = run.Add(
        row,
        [=] {
            count->clock.start();
            count->counting = QObject::connect(gp_server, &Server::RoomChat, [count] {
                const qint64 now = count->clock.nsecsElapsed();
                if (count->first < 0)
                    count->first = now;
                count->last = now;
                ++count->lines;
            });
            if (!crowded) {
                Play();
                return;
            }
            crowd->Arrive(*streamers);
            QTimer::singleShot(1000, [] { Play(); }); // once the crowd streams
        },
        [=, &run] { return AdminMessageShown(run.Window(), over); }, 300000,
        [=, &run] {
            const QByteArray join = ServerFrame(SM_JOIN_ROOM, JoinAnswer(room, { QStringLiteral("talker") }));
            QByteArray lines;
            for (int i = 0; i < kChatLines; ++i) {
                MemStream m;
                m.WriteString(room);
                m.WriteString(QStringLiteral("talker"));
                m.WriteString(QStringLiteral("line %1 of a long talk in the room").arg(i));
                lines += ServerFrame(SM_SAY_CHATROOM, m);
            }
            lines += AdminFrame(over);
            StagePlay(run, [join, lines](QTcpSocket& link) {
                link.write(join);
                link.write(lines);
            });
            const QByteArray ask
                = Framed(EncodePathMessage(PM_QUEUE_UPLOAD, QStringLiteral("no\\such.mp3")).GetBuffer());
            *streamers
                = SocketCrowd::At(QStringLiteral("chatstreamer"), kStreamingPeers, ask.repeated(256), 0);
        });
    if (runs)
        run.After([=] {
            QObject::disconnect(count->counting);
            crowd->Leave();
            const double seconds = double(count->last - count->first) / 1e9;
            FloodRun::Print(
                row + QStringLiteral("_lines"), seconds > 0 ? count->lines / seconds : 0, "lines/s");
        });
}

inline void AddServerShareRows(FloodRun& run)
{
    AddServerChatRow(run, QStringLiteral("server_chat_alone"), false);
    AddServerChatRow(run, QStringLiteral("server_chat_among_peers"), true);
}

} // namespace
