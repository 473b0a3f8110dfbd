// link: pages
// Hostile texts on the chat pages, offscreen, in a shown window whose pages
// are the real ones, with the server's messages fed to the server connection
// as if they came from the socket:
//   chat.flood_longest_stall: the longest time the event loop stood still
//     (a 1 ms heartbeat) over five floods, each followed by ordinary use:
//     a private message of one letter with 65,000 combining marks and five
//     lines after it; the same in a room; a word of 130,000 letters in a room;
//     a ticker of one letter with 65,000 marks on an open wall and five ticker
//     changes of another user; a description of that kind in an open user
//     information tab; and a first message from a user whose name is one
//     letter with 65,000 marks (a chat tab named by it). The pages are switched to and fro between floods, so
//     that each view is laid out and painted again (the goal is 100 ms at most).
// Usage: bench_chat
#include "ChatBench.h"
#include "ScratchFolder.h"
#include "pages/chat/ChatForm.h"
#include "pages/chat/ChatsForm.h"
#include "pages/chat/RoomForm.h"
#include "pages/chat/RoomWallForm.h"
#include "pages/chat/RoomsForm.h"
#include "pages/users/UserInfoForm.h"
#include "shell/TabWidget.h"
#include <QAction>
#include <QApplication>
#include <QTabWidget>
#include <QTextBrowser>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

const QString kRoom = QStringLiteral("flood");

void Message(const QString& user, const QString& text)
{
    static quint32 id = 0;
    MemStream m;
    m.WriteUInt32(++id);
    m.WriteUInt32(0);
    m.WriteString(user);
    m.WriteString(text);
    m.WriteBool(true);
    Feed(SM_PRIVATE_MESSAGE, m);
}

void Say(const QString& user, const QString& text)
{
    SayIn(SM_SAY_CHATROOM, kRoom, user, text);
}

void Ticker(const QString& user, const QString& text)
{
    SayIn(SM_ROOM_TICKER_ADD, kRoom, user, text);
}

QString Ordinary(int n)
{
    return QStringLiteral("an ordinary line %1 after the flood, with a few words").arg(n);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    ScratchFolder home("chat");
    qputenv("HOME", home.path().toUtf8());
    QApplication app(argc, argv);

    CreateChatCore(&app);
    settings.Set("log_private_chat", "yes");
    QMainWindow window;
    ActionSetToolBar* bar = AddWindowBars(window);
    bar->Init();
    auto* pages = new QTabWidget(&window);
    window.setCentralWidget(pages);
    auto* rooms = new RoomsForm(pages);
    auto* chats = new ChatsForm(pages);
    auto* info = new UserInfoForm(pages);
    pages->addTab(rooms, QStringLiteral("Rooms"));
    pages->addTab(chats, QStringLiteral("Chat"));
    pages->addTab(info, QStringLiteral("User Info"));
    window.resize(1200, 800);
    window.show();
    rooms->Init();
    chats->Init();
    info->Init(QStringLiteral("mallory"));
    // As the main window shows a private message.
    QObject::connect(gp_server, &Server::PrivateChat,
        [chats](const QString& user, const QString& text) { chats->GetChatForm(user)->AddChat(user, text); });

    const QString marks = QStringLiteral("a") + QString(65000, QChar(0x0301));
    const QString word = QString(130000, QLatin1Char('w'));
    RoomForm* room = nullptr;
    auto show = [pages](QWidget* page) { pages->setCurrentWidget(page); };
    auto openWall = [&] {
        bar->OnApplicationFocusChanged(nullptr, room);
        if (QAction* action = bar->FindAction(QStringLiteral("room_wall")))
            action->trigger();
        // The wall stays open behind the room's chat.
        rooms->roomsTabControl->setCurrentWidget(room);
    };

    // Each step waits half a second for the one before it.
    std::vector<std::function<void()>> steps;
    steps.push_back([&] {
        JoinRoom(kRoom, { QStringLiteral("mallory"), QStringLiteral("trent"), QStringLiteral("bob") });
    });
    steps.push_back([&] {
        room = rooms->findChild<RoomForm*>();
        show(chats);
        Message(QStringLiteral("mallory"), marks);
    });
    for (int i = 0; i < 5; ++i)
        steps.push_back([&, i] { Message(QStringLiteral("mallory"), Ordinary(i)); });
    steps.push_back([&] { Message(marks, QStringLiteral("hello")); });
    steps.push_back([&] { show(rooms); });
    steps.push_back([&] { show(chats); });
    steps.push_back([&] {
        show(rooms);
        Say(QStringLiteral("mallory"), marks);
    });
    for (int i = 0; i < 5; ++i)
        steps.push_back([&, i] { Say(QStringLiteral("bob"), Ordinary(i)); });
    steps.push_back([&] { Say(QStringLiteral("mallory"), word); });
    steps.push_back([&] { show(chats); });
    steps.push_back([&] { show(rooms); });
    steps.push_back(openWall);
    steps.push_back([&] { Ticker(QStringLiteral("mallory"), marks); });
    for (int i = 0; i < 5; ++i)
        steps.push_back(
            [&, i] { Ticker(QStringLiteral("trent"), QStringLiteral("ticker change %1").arg(i)); });
    steps.push_back([&] {
        show(info);
        info->OnUserInfoReceived(QStringLiteral("mallory"), marks, false, nullptr, 0, 1, 0, true);
    });
    for (int i = 0; i < 2; ++i) {
        steps.push_back([&] { show(rooms); });
        steps.push_back([&] { show(info); });
    }

    StallMeter stalls;
    size_t next = 0;
    QTimer stepper;
    QObject::connect(&stepper, &QTimer::timeout, [&] {
        if (next < steps.size())
            steps[next++]();
        else
            app.quit();
    });
    stalls.Start();
    stepper.start(500);
    app.exec();
    stalls.Stop();

    auto* wall = rooms->findChild<RoomWallForm*>();
    ChatForm* chat = chats->GetChatForm(QStringLiteral("mallory"));
    if (!room || !wall || chats->findChildren<ChatForm*>().size() != 2 || room->chatView->document()->blockCount() < 7
        || chat->chatView->document()->blockCount() < 6
        || !wall->Text().contains(QLatin1String("change 4"))
        || info->UserInfoText()->toPlainText().isEmpty()) {
        std::fprintf(stderr, "bench_chat: a flood did not reach its view\n");
        return 1;
    }
    std::printf("chat.flood_longest_stall: %lld ms\n", static_cast<long long>(stalls.Longest()));
    std::fflush(stdout);
    delete rooms;
    delete chats;
    return 0;
}
