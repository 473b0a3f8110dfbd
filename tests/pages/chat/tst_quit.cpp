// Quitting with every kind of chat tab and dialog open: room tabs, a wall, a
// room log viewer, private chat tabs and their log viewer, the room dialog and
// an administrator message. The window goes as the program ends it (the
// server connection first, the pages after it); run under the sanitizers this
// proves that nothing reaches a destroyed object.
#include "helper_chat.h"
#include "pages/chat/AdminMessageDialog.h"
#include "pages/chat/ChatForm.h"
#include "pages/chat/ChatLogForm.h"
#include "pages/chat/ChatsForm.h"
#include "pages/chat/CreateRoomDialog.h"
#include "pages/chat/RoomForm.h"
#include "pages/chat/RoomWallForm.h"
#include "pages/chat/RoomsForm.h"
#include "server/Server.h"
#include "server/ServerCodes.h"
#include "shell/Kit.h"
#include "shell/TabWidget.h"
#include "store/Data.h"
#include "store/MemStream.h"
#include <QTableView>

using namespace chat_test;

class TestQuit : public QObject {
    Q_OBJECT
    gui::Session session;

private slots:
    void quitWithEverythingOpen()
    {
        QVERIFY(session.Prepare());
        QVERIFY(session.StartWindow(QStringLiteral("alice")));
        DriverProcess* bob = session.StartDriver(QStringLiteral("bob"));
        QVERIFY(bob);
        bob->Send(QStringLiteral("join lobby"));
        QVERIFY(!bob->WaitFor(QStringLiteral("joined lobby")).isEmpty());
        gp_server->EnterRoom(QStringLiteral("lobby"), false);
        RoomForm* lobby = WaitRoomTab(QStringLiteral("lobby"));
        QVERIFY(lobby);
        gp_server->EnterRoom(QStringLiteral("second"), false);
        QVERIFY(WaitRoomTab(QStringLiteral("second")));
        QVERIFY(Trigger(lobby, QStringLiteral("room"), QStringLiteral("room_wall")));
        QVERIFY(Trigger(lobby, QStringLiteral("room"), QStringLiteral("room_chat_log")));
        bob->Send(QStringLiteral("say lobby a line for every view"));
        bob->Send(QStringLiteral("message alice hello"));
        QVERIFY(gui::WaitFor([] { return Tab<ChatForm>(chatsForm->chatTabControl, QStringLiteral("bob")); }));
        ChatForm* chat = Tab<ChatForm>(chatsForm->chatTabControl, QStringLiteral("bob"));
        QVERIFY(Trigger(chat, QStringLiteral("user_chat"), QStringLiteral("user_chat_log")));
        chatsForm->GetChatForm(QStringLiteral("nobody"));
        QVERIFY(Trigger(roomsForm->roomList, QStringLiteral("room_list"), QStringLiteral("create_room")));
        MemStream m;
        m.WriteString(QStringLiteral("maintenance soon"));
        FeedServer(SM_ADMIN_MESSAGE, m);
        QVERIFY(gui::WaitFor([&] { return !session.Window()->findChildren<AdminMessageDialog*>().isEmpty(); }));
        QVERIFY(roomsForm->roomsTabControl->findChild<RoomWallForm*>());
        QVERIFY(roomsForm->roomsTabControl->findChild<ChatLogForm*>());
        QVERIFY(chatsForm->chatTabControl->findChild<ChatLogForm*>());
        QVERIFY(createRoomDialog);

        session.CloseWindow();
        QVERIFY(!roomsForm && !chatsForm && !createRoomDialog);
        // Lines and events still arriving find no page.
        bob->Send(QStringLiteral("say lobby after the end"));
        QVERIFY(bob->Sync());
        QTest::qWait(200);
    }
};

GUI_TEST_MAIN(TestQuit)
#include "tst_quit.moc"
