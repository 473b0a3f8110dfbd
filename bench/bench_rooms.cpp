// link: pages
// Room chat figures on the Rooms page, offscreen, with the server's messages
// fed to the server connection as if they came from the socket:
//   rooms.join_5k_longest_stall: the longest time the event loop stood still
//     while a room of 5,000 users was joined and 50 lines a second arrived
//     for 10 s (the goal is 100 ms at most);
//   rooms.chat_line_cost: the time per line shown (in a view kept at its
//     size limit) and logged;
//   rooms.chat_line_bare: the time per line of the lines the view shows,
//     in turn, appended as plain text to a bare text browser of the view's
//     size and font that holds as many lines to begin with: what showing them
//     costs at the least. The goal is a cost of 1.3 times the bare one at most;
//   rooms.disconnect_100k_longest_stall: the longest time the event loop
//     stood still from the loss of the server connection, with 100,000 users
//     online and in a room whose page is open, until nobody is online and
//     the page lists nobody;
//   rooms.disconnect_100k_total: the time from the loss until then.
//   rooms.list_insert_100k: the time per room added to a room list of
//     100,000 rooms, the events it brings processed.
// Usage: bench_rooms [users] [seconds]   (default 5000 10)
#include "ChatBench.h"
#include "ScratchFolder.h"
#include "pages/chat/RoomForm.h"
#include "pages/chat/RoomsForm.h"
#include <QApplication>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTreeWidget>
#include <cstdio>

namespace {

void Print(const char* name, double value, const char* unit)
{
    std::printf("%s: %.3f %s\n", name, value, unit);
    std::fflush(stdout);
}

void Say(const QString& room, int n)
{
    SayIn(SM_SAY_CHATROOM, room, QStringLiteral("user%1").arg(n % 5000),
        QStringLiteral("line %1 with a link http://example.com/a?b=1&c=2 and some words to read").arg(n));
}

// Logs in as far as the window can tell: the login's answer arrives after
// the login was sent (to no socket).
void LogIn()
{
    QMetaObject::invokeMethod(gp_server, "OnConnected", Qt::DirectConnection);
    MemStream answer;
    answer.WriteBool(true);
    answer.WriteString(QStringLiteral("welcome"));
    answer.WriteUInt32(0x7f000001);
    answer.WriteString(QStringLiteral("0123456789abcdef0123456789abcdef"));
    answer.WriteBool(false);
    Feed(SM_LOGIN, answer);
    gp_server->FinishIncoming();
}

// Waits, turning the event loop, until done() holds; false after a minute.
template <class F> bool TurnUntil(F done)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > 60000)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// The loss of the server connection with this many users online and in a
// room whose page is open (its list of them made first).
bool DisconnectFigures(RoomsForm* rooms, int users)
{
    const QString room = QStringLiteral("crowded room");
    gp_server->SetMaxRoomMembers(size_t(users));
    QStringList names;
    for (int i = 0; i < users; ++i)
        names.append(QStringLiteral("user%1").arg(i));
    LogIn();
    // Half in the answer to joining (a frame of all would pass the bound of
    // one), the others joining after it.
    JoinRoom(room, names.mid(0, users / 2));
    QByteArray joined;
    for (const QString& name : names.mid(users / 2)) {
        MemStream m;
        m.WriteString(room);
        m.WriteString(name);
        m.WriteUInt32(2);
        UserStats().Write(m);
        m.WriteUInt32(0);
        m.WriteString(QStringLiteral("de"));
        joined += ServerFrame(SM_USER_JOINED_ROOM, m);
    }
    gp_server->ProcessIncoming(joined);
    gp_server->FinishIncoming();
    RoomForm* page = nullptr;
    const bool listed = TurnUntil([&] {
        for (auto* form : rooms->findChildren<RoomForm*>())
            if (form->Room() == room)
                page = form;
        return page && page->userList->topLevelItemCount() == users;
    });
    if (!listed || !gp_server->IsConnected()) {
        std::fprintf(stderr, "bench_rooms: the crowded room was not listed in full\n");
        return false;
    }
    const ItemPtr online = d.GetType("is_online")->GetGlobalNullItem();
    const ItemPtr roomItem = d.GetType("room")->HasItem(Value(room));
    StallMeter stalls;
    stalls.Start();
    QElapsedTimer clock;
    clock.start();
    gp_server->Disconnect();
    const bool cleared = TurnUntil([&] {
        return online.CountItems("user") == 0 && roomItem.CountItems("user") == 0
            && page->userList->topLevelItemCount() == 0;
    });
    const qint64 total = clock.elapsed();
    // A last turn of the heartbeat, after the last piece of work.
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    stalls.Stop();
    if (!cleared) {
        std::fprintf(stderr, "bench_rooms: the lost connection's users were not cleared\n");
        return false;
    }
    Print("rooms.disconnect_100k_longest_stall", double(stalls.Longest()), "ms");
    Print("rooms.disconnect_100k_total", double(total), "ms");
    return true;
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

    CreateChatCore(&app);
    QMainWindow window;
    AddWindowBars(window);
    auto* rooms = new RoomsForm(&window);
    window.setCentralWidget(rooms);
    window.resize(1200, 800);
    window.show();
    rooms->Init();
    const QString room = QStringLiteral("bench room");

    StallMeter stalls;
    int said = 0;
    QTimer lines;
    QObject::connect(&lines, &QTimer::timeout, [&] { Say(room, said++); });
    stalls.Start();
    lines.start(20);
    QStringList names;
    for (int i = 0; i < users; ++i)
        names.append(QStringLiteral("user%1").arg(i));
    QTimer::singleShot(500, [&] { JoinRoom(room, names); });
    QTimer::singleShot(500 + seconds * 1000, &app, &QCoreApplication::quit);
    app.exec();
    stalls.Stop();
    lines.stop();

    auto* page = rooms->findChild<RoomForm*>();
    if (!page || page->userList->topLevelItemCount() != users) {
        std::fprintf(stderr, "bench_rooms: the room shows %d of %d users\n",
            page ? page->userList->topLevelItemCount() : -1, users);
        return 1;
    }
    Print("rooms.join_5k_longest_stall", double(stalls.Longest()), "ms");

    // Fill the view until it drops its oldest lines, then time lines that are
    // shown and logged.
    // Lines that find a turn of the server connection under way wait for the
    // next one: the event loop does not turn here, so they are handed over
    // at once, and the timed lines are all shown before the clock stops.
    gp_server->FinishIncoming();
    const QString oldest = page->chatView->document()->firstBlock().text();
    while (page->chatView->document()->firstBlock().text() == oldest) {
        for (int i = 0; i < 100; ++i)
            Say(room, said++);
        gp_server->FinishIncoming();
    }
    // The bare browser starts with the lines the view shows. The two take
    // turns, a round of lines each, so that both see the machine alike.
    QTextBrowser* view = page->chatView;
    QTextBrowser bare;
    bare.document()->setUndoRedoEnabled(false);
    bare.setFont(view->font());
    bare.resize(view->size());
    bare.show();
    QStringList shown;
    for (QTextBlock block = view->document()->firstBlock(); block.isValid(); block = block.next())
        shown << block.text();
    for (const QString& line : shown)
        bare.append(line);
    QCoreApplication::processEvents();
    const int rounds = 10;
    const int perRound = 200;
    qint64 viewNs = 0;
    qint64 bareNs = 0;
    QElapsedTimer t;
    for (int round = 0; round < rounds; ++round) {
        t.start();
        for (int i = 0; i < perRound; ++i)
            Say(room, said++);
        gp_server->FinishIncoming();
        viewNs += t.nsecsElapsed();
        t.start();
        for (int i = 0; i < perRound; ++i)
            bare.append(shown[(round * perRound + i) % shown.size()]);
        bareNs += t.nsecsElapsed();
    }
    const int n = rounds * perRound;
    Print("rooms.chat_line_cost", double(viewNs) / 1000.0 / n, "us");
    Print("rooms.chat_line_bare", double(bareNs) / 1000.0 / n, "us");
    const bool disconnected = DisconnectFigures(rooms, 100000);

    window.show();
    Type* listed = d.GetType("room");
    for (int i = 0; i < 100000; ++i)
        listed->GetItem(Value(QStringLiteral("listed %1").arg(i, 6, 10, QLatin1Char('0'))));
    QCoreApplication::processEvents();
    const int added = 200;
    t.start();
    for (int i = 0; i < added; ++i) {
        listed->GetItem(Value(QStringLiteral("listed %1 more").arg(i * 499, 6, 10, QLatin1Char('0'))));
        QCoreApplication::processEvents();
    }
    Print("rooms.list_insert_100k", double(t.nsecsElapsed()) / 1e6 / added, "ms");
    delete rooms;
    return disconnected ? 0 : 1;
}
