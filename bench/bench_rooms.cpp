// link: pages
// Room chat figures on the Rooms page, offscreen, with the server's messages
// fed to the server connection as if they came from the socket:
//   rooms.join_5k_longest_stall: the longest time the event loop stood still
//     while a room of 5,000 users was joined and 50 lines a second arrived
//     for 10 s (the goal is 100 ms at most);
//   rooms.chat_line_cost: the time per line shown (in a view kept at its
//     size limit) and logged.
// Usage: bench_rooms [users] [seconds]   (default 5000 10)
#include "ScratchFolder.h"
#include "pages/chat/RoomForm.h"
#include "pages/chat/RoomsForm.h"
#include "server/Server.h"
#include "server/ServerCodes.h"
#include "server/UserStats.h"
#include "shell/ActionSetToolBar.h"
#include "shell/EventToolBar.h"
#include "shell/Kit.h"
#include "shell/SizeManager.h"
#include "store/Data.h"
#include "store/MemStream.h"
#include "store/Settings.h"
#include "store/TimerManager.h"
#include <QApplication>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QTextBrowser>
#include <QTimer>
#include <QTreeWidget>
#include <QtEndian>
#include <cstdio>

namespace {

void Print(const char* name, double value, const char* unit)
{
    std::printf("%s: %.3f %s\n", name, value, unit);
    std::fflush(stdout);
}

void Feed(quint32 code, const MemStream& body)
{
    const QByteArray fields = body.GetBuffer();
    QByteArray frame(8, Qt::Uninitialized);
    qToLittleEndian<quint32>(quint32(fields.size() + 4), frame.data());
    qToLittleEndian<quint32>(code, frame.data() + 4);
    gp_server->ProcessIncoming(frame + fields);
}

void JoinRoom(const QString& room, int users)
{
    MemStream m;
    m.WriteString(room);
    m.WriteUInt32(quint32(users));
    for (int i = 0; i < users; ++i)
        m.WriteString(QStringLiteral("user%1").arg(i));
    m.WriteUInt32(quint32(users));
    for (int i = 0; i < users; ++i)
        m.WriteUInt32(2);
    m.WriteUInt32(quint32(users));
    for (int i = 0; i < users; ++i) {
        UserStats stats;
        stats.averageSpeed = quint32(i * 37 % 90000);
        stats.fileCount = quint32(i * 13 % 20000);
        stats.Write(m);
    }
    m.WriteUInt32(quint32(users));
    for (int i = 0; i < users; ++i)
        m.WriteUInt32(0);
    m.WriteUInt32(quint32(users));
    for (int i = 0; i < users; ++i)
        m.WriteString(i % 3 ? QStringLiteral("de") : QStringLiteral("us"));
    Feed(SM_JOIN_ROOM, m);
}

void Say(const QString& room, int n)
{
    MemStream m;
    m.WriteString(room);
    m.WriteString(QStringLiteral("user%1").arg(n % 5000));
    m.WriteString(QStringLiteral("line %1 with a link http://example.com/a?b=1&c=2 and some words to read").arg(n));
    Feed(SM_SAY_CHATROOM, m);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    ScratchFolder home("rooms");
    qputenv("HOME", home.path().toUtf8());
    QApplication app(argc, argv);
    const int users = argc > 1 ? std::atoi(argv[1]) : 5000;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 10;

    new TimerManager(&app);
    new Server(&app);
    Settings::CreateTypes();
    gp_server->CreateData();
    settings.Set("chat_timestamps", "per_message_short");
    settings.Set("color_chat_username", "#0033ff");
    settings.Set("color_chat_timestamp", "#0066ff");
    settings.Set("color_chat_status", "#339933");
    settings.Set("log_room_chat", "yes");

    QMainWindow window;
    mainWindow = &window;
    InitShellResources();
    auto* bar = new ActionSetToolBar(&window);
    window.addToolBar(bar);
    auto* events = new EventToolBar(&window);
    window.addToolBar(events);
    new SizeManager(&window);
    auto* rooms = new RoomsForm(&window);
    window.setCentralWidget(rooms);
    window.resize(1200, 800);
    window.show();
    rooms->Init();
    const QString room = QStringLiteral("bench room");

    // The longest gap between two turns of a 1 ms heartbeat.
    QElapsedTimer clock;
    qint64 last = 0, longest = 0;
    QTimer heartbeat;
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        longest = qMax(longest, now - last);
        last = now;
    });
    int said = 0;
    QTimer lines;
    QObject::connect(&lines, &QTimer::timeout, [&] { Say(room, said++); });
    clock.start();
    heartbeat.start(1);
    lines.start(20);
    QTimer::singleShot(500, [&] { JoinRoom(room, users); });
    QTimer::singleShot(500 + seconds * 1000, &app, &QCoreApplication::quit);
    app.exec();
    heartbeat.stop();
    lines.stop();

    auto* page = rooms->findChild<RoomForm*>();
    if (!page || page->userList->topLevelItemCount() != users) {
        std::fprintf(stderr, "bench_rooms: the room shows %d of %d users\n",
            page ? page->userList->topLevelItemCount() : -1, users);
        return 1;
    }
    Print("rooms.join_5k_longest_stall", double(longest), "ms");

    // Fill the view to its limit, then time lines that are shown and logged.
    while (page->chatView->document()->toHtml().size() < 250000)
        for (int i = 0; i < 100; ++i)
            Say(room, said++);
    const int n = 2000;
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < n; ++i)
        Say(room, said++);
    Print("rooms.chat_line_cost", double(t.nsecsElapsed()) / 1000.0 / n, "us");
    delete rooms;
    return 0;
}
