// The Rooms page in the real main window: the room list and joining, room chat
// both ways and its log, walls, private rooms, hostile room names, and rooms
// across a lost connection.
#include "helper_chat.h"
#include "pages/chat/ChatForm.h"
#include "pages/chat/ChatLog.h"
#include "pages/chat/ChatsForm.h"
#include "pages/chat/ChatLogForm.h"
#include "pages/chat/CreateRoomDialog.h"
#include "pages/chat/QRoomUserListItemWidget.h"
#include "pages/chat/RoomForm.h"
#include "pages/chat/RoomWallForm.h"
#include "pages/chat/RoomsForm.h"
#include "server/Server.h"
#include "server/ServerCodes.h"
#include "shell/ActionSetToolBar.h"
#include "shell/EventToolBar.h"
#include "MainWindow.h"
#include "Ui_MainWindow.h"
#include "shell/Kit.h"
#include "shell/TabWidget.h"
#include "store/Data.h"
#include "store/MemStream.h"
#include "store/Settings.h"
#include <QAction>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QCheckBox>
#include <QRegularExpression>
#include <QTextBrowser>
#include <QTextEdit>
#include <QTreeWidget>

using namespace chat_test;

namespace {

QTreeWidgetItem* RoomRow(const QString& room)
{
    const auto found = roomsForm->roomList->findItems(room, Qt::MatchExactly, 0);
    return found.isEmpty() ? nullptr : found.first();
}

QString ViewText(RoomForm* tab)
{
    return tab ? tab->chatView->toPlainText() : QString();
}

ItemPtr RoomItem(const QString& room)
{
    return d.GetType("room")->HasItem(Value(room));
}

} // namespace

class TestRooms : public QObject {
    Q_OBJECT
    gui::Session session;
    DriverProcess* bob = nullptr;

private slots:
    void initTestCase()
    {
        QVERIFY(session.Prepare());
        QVERIFY(session.StartWindow(QStringLiteral("alice")));
        bob = session.StartDriver(QStringLiteral("bob"));
        QVERIFY(bob);
        settings.Set("chat_timestamps", "per_message_short");
    }

    // The list shows the server's rooms; a double click on the name enters
    // one; lines go both ways, markup stays literal, links become anchors,
    // and every line is logged in the long time pattern.
    void joinAndChat()
    {
        bob->Send(QStringLiteral("join lobby"));
        QVERIFY(!bob->WaitFor(QStringLiteral("joined lobby")).isEmpty());
        QVERIFY(Trigger(roomsForm->roomList, QStringLiteral("room_list"), QStringLiteral("refresh_room_list")));
        QVERIFY(gui::WaitFor([] { return RoomRow(QStringLiteral("lobby")) && RoomRow(QStringLiteral("lobby"))->text(1) == QLatin1String("1"); }));
        emit roomsForm->roomList->itemDoubleClicked(RoomRow(QStringLiteral("lobby")), 0);
        RoomForm* tab = WaitRoomTab(QStringLiteral("lobby"));
        QVERIFY(tab);
        QVERIFY(gui::WaitFor([&] { return tab->Row(QStringLiteral("bob")) && tab->Row(QStringLiteral("alice")); }));
        QVERIFY(gui::WaitFor([] { return RoomRow(QStringLiteral("lobby"))->text(1) == QLatin1String("2"); }));

        bob->Send(QStringLiteral("say lobby <b>hi</b> & see http://example.com/a?b=1&c=2"));
        QVERIFY(gui::WaitFor([&] { return ViewText(tab).contains(QLatin1String("[bob] <b>hi</b> & see http://example.com/a?b=1&c=2")); }));
        QVERIFY(QRegularExpression(QStringLiteral("(^|\\n)\\[\\d{1,2}:\\d\\d:\\d\\d\\]\\[bob\\] <b>hi")).match(ViewText(tab)).hasMatch());
        QVERIFY(tab->chatView->toHtml().contains(QLatin1String("href=\"http://example.com/a?b=1&amp;c=2\"")));

        tab->chatEdit->setText(QStringLiteral("hello from alice"));
        QTest::keyClick(tab->chatEdit, Qt::Key_Return);
        QVERIFY(tab->chatEdit->text().isEmpty());
        QVERIFY(!bob->WaitFor(QStringLiteral("room-chat lobby alice hello from alice")).isEmpty());
        QVERIFY(gui::WaitFor([&] { return ViewText(tab).contains(QLatin1String("[alice] hello from alice")); }));

        bob->Send(QStringLiteral("say lobby /me waves"));
        QVERIFY(gui::WaitFor([&] { return ViewText(tab).contains(QLatin1String("* bob waves")); }));

        // A note marks the user's row; a double click opens the private chat.
        ItemPtr bobItem = d.GetType("user")->HasItem(Value("bob"));
        bobItem.Connect(d.GetType("user_note")->GetItem(Value("plays jazz")));
        QVERIFY(!tab->Row(QStringLiteral("bob"))->icon(3).isNull());
        bobItem.Disconnect("user_note");
        QVERIFY(tab->Row(QStringLiteral("bob"))->icon(3).isNull());
        emit tab->userList->itemDoubleClicked(tab->Row(QStringLiteral("bob")), 4);
        auto* chat = Tab<ChatForm>(chatsForm->chatTabControl, QStringLiteral("bob"));
        QVERIFY(chat && chatsForm->chatTabControl->currentWidget() == chat);

        const QStringList log = LogLines(QStringLiteral("Rooms"), QStringLiteral("lobby.log"));
        QCOMPARE(log.size(), 3);
        const QString time = QStringLiteral("\\[[A-Z][a-z]{2} \\d{1,2} \\d{1,2}:\\d\\d:\\d\\d [ap]m\\]");
        QVERIFY(QRegularExpression(QStringLiteral("^") + time + QStringLiteral("\\[bob\\] <b>hi</b> & see http://example.com/a\\?b=1&c=2$")).match(log[0]).hasMatch());
        QVERIFY(log[1].endsWith(QLatin1String("[alice] hello from alice")));
        QVERIFY(QRegularExpression(QStringLiteral("^") + time + QStringLiteral(" \\* bob waves$")).match(log[2]).hasMatch());
    }

    // With the activity alert on, a line in a room the user is not looking at
    // raises an event; the view keeps its HTML within its limit by dropping
    // its oldest part.
    void alertAndBoundedView()
    {
        RoomForm* tab = RoomTab(QStringLiteral("lobby"));
        QVERIFY(Trigger(tab, QStringLiteral("room"), QStringLiteral("toggle_room_activity_alert")));
        QCOMPARE(actionBar->FindAction(QStringLiteral("toggle_room_activity_alert"))->text(),
            QStringLiteral("Activity Alert [on]"));
        settings.Set("show_event_buttons", "yes");
        session.Window()->Ui().tabControl->setCurrentIndex(0);
        const int before = eventToolBar->EventActions().size();
        bob->Send(QStringLiteral("say lobby are you there?"));
        QVERIFY(gui::WaitFor([&] { return eventToolBar->EventActions().size() == before + 1; }));
        QVERIFY(eventToolBar->EventActions().last()->text().contains(QLatin1String("lobby")));
        QVERIFY(Trigger(tab, QStringLiteral("room"), QStringLiteral("toggle_room_activity_alert")));
        QVERIFY(!RoomItem(QStringLiteral("lobby")).IsConnected("room_activity_alert"));

        const auto say = [](const QString& text) {
            MemStream m;
            m.WriteString(QStringLiteral("lobby"));
            m.WriteString(QStringLiteral("carol"));
            m.WriteString(text);
            FeedServer(SM_SAY_CHATROOM, m);
        };
        say(QStringLiteral("the very first filler line"));
        for (int i = 0; tab->chatView->document()->toHtml().size() <= 250000; ++i)
            say(QStringLiteral("filler line %1 with some words to make it longer").arg(i));
        say(QStringLiteral("the newest line"));
        const QString html = tab->chatView->document()->toHtml();
        QVERIFY(html.size() < 250000);
        QVERIFY(!html.contains(QLatin1String("the very first filler line")));
        QVERIFY(tab->chatView->toPlainText().endsWith(QLatin1String("[carol] the newest line")));
        tab->chatView->clear();
    }

    // The wall lists tickers in order, literally; it redraws when a ticker
    // arrives or goes; the own ticker shows once the server has it.
    void wall()
    {
        RoomForm* tab = RoomTab(QStringLiteral("lobby"));
        QVERIFY(tab);
        QVERIFY(Trigger(tab, QStringLiteral("room"), QStringLiteral("room_wall")));
        auto* wall = Tab<RoomWallForm>(roomsForm->roomsTabControl, QStringLiteral("lobby"));
        QVERIFY(wall);
        bob->Send(QStringLiteral("ticker lobby <i>news</i>"));
        QVERIFY(gui::WaitFor([&] { return wall->textBrowser->toPlainText().contains(QLatin1String("<i>news</i> -bob")); }));
        wall->lineEdit->setText(QStringLiteral("  mine  "));
        QTest::keyClick(wall->lineEdit, Qt::Key_Return);
        QVERIFY(wall->lineEdit->text().isEmpty());
        QVERIFY(gui::WaitFor([&] { return wall->textBrowser->toPlainText().contains(QLatin1String("mine -alice")); }));
        const QString text = wall->textBrowser->toPlainText();
        QVERIFY(text.indexOf(QLatin1String("news")) < text.indexOf(QLatin1String("mine")));
        bob->Send(QStringLiteral("ticker lobby"));
        QVERIFY(gui::WaitFor([&] { return !wall->textBrowser->toPlainText().contains(QLatin1String("news")); }));
        QVERIFY(wall->textBrowser->toPlainText().contains(QLatin1String("mine -alice")));

        // A second request focuses the open wall; after closing it a new one opens.
        QVERIFY(Trigger(tab, QStringLiteral("room"), QStringLiteral("room_wall")));
        QCOMPARE(roomsForm->roomsTabControl->findChildren<RoomWallForm*>().size(), 1);
        emit roomsForm->roomsTabControl->tabCloseRequested(roomsForm->roomsTabControl->indexOf(wall));
        QVERIFY(RoomItem(QStringLiteral("lobby"))["room_wall_form"].IsNull());
    }

    // A private room made in the dialog is marked as owned and listed first;
    // giving it up needs two Yes answers. A room that adds the user as a
    // member is marked too.
    void privateRooms()
    {
        QVERIFY(Trigger(roomsForm->roomList, QStringLiteral("room_list"), QStringLiteral("create_room")));
        QPointer<CreateRoomDialog> dialog = createRoomDialog;
        QVERIFY(dialog && dialog->isVisible());
        dialog->roomNameEdit->setText(QStringLiteral("   "));
        dialog->createRoomButton->click();
        QVERIFY(createRoomDialog == dialog && dialog->isVisible());
        dialog->roomNameEdit->setText(QStringLiteral("  secret room "));
        dialog->createPrivateCheckBox->setChecked(true);
        dialog->createRoomButton->click();
        QVERIFY(!createRoomDialog);
        QVERIFY(gui::WaitFor([&] { return dialog.isNull(); }));
        QVERIFY(WaitRoomTab(QStringLiteral("secret room")));

        QVERIFY(Trigger(roomsForm->roomList, QStringLiteral("room_list"), QStringLiteral("refresh_room_list")));
        QVERIFY(gui::WaitFor([] { return RoomItem(QStringLiteral("secret room")).IsConnected("is_owner"); }));
        QTreeWidgetItem* row = RoomRow(QStringLiteral("secret room"));
        QVERIFY(row->font(0).italic() && row->font(0).underline() && row->font(0).bold());
        QCOMPARE(roomsForm->roomList->topLevelItem(0), row);

        // A tab opened on an owned room offers "Give Up Room" only.
        emit roomsForm->roomsTabControl->tabCloseRequested(
            roomsForm->roomsTabControl->indexOf(RoomTab(QStringLiteral("secret room"))));
        QVERIFY(gui::WaitFor([] { return !RoomItem(QStringLiteral("secret room")).IsConnected("in_room"); }));
        emit roomsForm->roomList->itemDoubleClicked(row, 0);
        RoomForm* tab = WaitRoomTab(QStringLiteral("secret room"));
        QVERIFY(tab);
        actionBar->ChangeSet(tab, QStringLiteral("room"));
        QVERIFY(actionBar->FindAction(QStringLiteral("give_up_ownership"))->isVisible());
        QVERIFY(!actionBar->FindAction(QStringLiteral("give_up_membership"))->isVisible());

        {
            gui::ModalAnswerer answers;
            answers.Add(gui::PressButton(QMessageBox::Yes));
            answers.Add(gui::PressButton(QMessageBox::No));
            QVERIFY(Trigger(tab, QStringLiteral("room"), QStringLiteral("give_up_ownership")));
            QCOMPARE(answers.Seen().size(), 2);
            QCOMPARE(answers.Seen()[1].title, QStringLiteral("REALLY?"));
        }
        QVERIFY(RoomTab(QStringLiteral("secret room")));
        {
            gui::ModalAnswerer answers;
            answers.Add(gui::PressButton(QMessageBox::Yes));
            answers.Add(gui::PressButton(QMessageBox::Yes));
            QVERIFY(Trigger(tab, QStringLiteral("room"), QStringLiteral("give_up_ownership")));
            QCOMPARE(answers.Seen().size(), 2);
        }
        QVERIFY(gui::WaitFor([] { return !RoomTab(QStringLiteral("secret room")); }));

        // Invitations accepted, bob adds alice to his private room.
        QVERIFY(Trigger(roomsForm->roomList, QStringLiteral("room_list"), QStringLiteral("enable_private_room_add")));
        QVERIFY(gui::WaitFor([] { return settings.IsYes("enable_private_room_add"); }));
        QCOMPARE(actionBar->FindAction(QStringLiteral("enable_private_room_add"))->text(),
            QStringLiteral("Reject Private Room Invitations"));
        bob->Send(QStringLiteral("join bobs private"));
        QVERIFY(!bob->WaitFor(QStringLiteral("joined bobs")).isEmpty());
        bob->Send(QStringLiteral("add-member bobs alice"));
        QVERIFY(gui::WaitFor([] { return RoomRow(QStringLiteral("bobs")) && RoomRow(QStringLiteral("bobs"))->font(0).italic(); }));
        QVERIFY(!RoomRow(QStringLiteral("bobs"))->font(0).bold());
    }

    // Room names chosen by others never lead outside the log folder; tab
    // labels and logged markup stay literal; a line break cannot forge a log
    // line; "Clear Log" removes only the room's own file.
    void hostileRoomNames()
    {
        const QString logs = QDir::homePath() + QStringLiteral("/Marrowby Chat Logs");
        const QString sentinel1 = QDir::homePath() + QStringLiteral("/evil.log");
        const QString sentinel2 = logs + QStringLiteral("/evil.log");
        QVERIFY(WriteFile(sentinel1, "sentinel one\n"));
        QVERIFY(WriteFile(sentinel2, "sentinel two\n"));
        const QStringList names = { QStringLiteral("../../evil"), QStringLiteral("a/b"), QStringLiteral("<b>x</b>&co"),
            QStringLiteral("..") };
        for (const QString& name : names) {
            bob->Send(QStringLiteral("join \"%1\"").arg(name));
            QVERIFY(!bob->WaitFor(QStringLiteral("joined ") + name).isEmpty());
            gp_server->EnterRoom(name, false);
            QVERIFY(WaitRoomTab(name));
            bob->Send(QStringLiteral("say \"%1\" hi <img src=/etc/passwd>").arg(name));
            QVERIFY(gui::WaitFor([&] { return ViewText(RoomTab(name)).contains(QLatin1String("[bob] hi <img src=/etc/passwd>")); }));
            const QString path = ChatLog::FilePath(ChatLog::Rooms, name);
            QVERIFY(!path.isEmpty());
            QCOMPARE(QFileInfo(path).absolutePath(), logs + QStringLiteral("/Rooms"));
            QVERIFY(ReadFile(path).contains("[bob] hi <img src=/etc/passwd>"));
        }
        QCOMPARE(ReadFile(sentinel1), QByteArray("sentinel one\n"));
        QCOMPARE(ReadFile(sentinel2), QByteArray("sentinel two\n"));
        for (const QString& file : FilesUnder(logs))
            QVERIFY2(file == QLatin1String("evil.log") || (file.startsWith(QLatin1String("Rooms/")) && file.count(u'/') == 1),
                qPrintable(file));
        QCOMPARE(FilesUnder(QDir::homePath()).filter(QStringLiteral("evil")).size(), 3);
        const int labelIndex = roomsForm->roomsTabControl->indexOf(RoomTab(QStringLiteral("<b>x</b>&co")));
        QCOMPARE(roomsForm->roomsTabControl->tabText(labelIndex), QStringLiteral("<b>x</b>&&co"));

        // One line per chat line, whatever the text holds; names with "%2"
        // stay as they are.
        MemStream m;
        m.WriteString(QStringLiteral("a/b"));
        m.WriteString(QStringLiteral("%2%1"));
        m.WriteString(QStringLiteral("one%1\n[Jan 1 1:00:00 am][admin] forged"));
        FeedServer(SM_SAY_CHATROOM, m);
        const QStringList log = QString::fromUtf8(ReadFile(ChatLog::FilePath(ChatLog::Rooms, QStringLiteral("a/b"))))
                                    .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(log.size(), 2);
        QVERIFY(log[1].endsWith(QLatin1String("[%2%1] one%1 [Jan 1 1:00:00 am][admin] forged")));

        // The viewer shows logged markup as text, also for lines that arrive later.
        RoomForm* evil = RoomTab(QStringLiteral("../../evil"));
        QVERIFY(Trigger(evil, QStringLiteral("room"), QStringLiteral("room_chat_log")));
        auto* viewer = RoomItem(QStringLiteral("../../evil"))["chat_log_form"].AsPointer<ChatLogForm>();
        QVERIFY(viewer);
        QVERIFY(viewer->logEdit->toPlainText().contains(QLatin1String("[bob] hi <img src=/etc/passwd>")));
        bob->Send(QStringLiteral("say \"../../evil\" <a href=x>later</a>"));
        QVERIFY(gui::WaitFor([&] { return viewer->logEdit->toPlainText().contains(QLatin1String("<a href=x>later</a>")); }));
        {
            gui::ModalAnswerer answers;
            answers.Add(gui::PressButton(QMessageBox::Yes));
            QVERIFY(Trigger(viewer, QStringLiteral("chat_log"), QStringLiteral("clear_chat_log")));
            QCOMPARE(answers.Seen().size(), 1);
        }
        QVERIFY(viewer->logEdit->toPlainText().isEmpty());
        QVERIFY(!QFile::exists(ChatLog::FilePath(ChatLog::Rooms, QStringLiteral("../../evil"))));
        QCOMPARE(ReadFile(sentinel1), QByteArray("sentinel one\n"));
        QCOMPARE(ReadFile(sentinel2), QByteArray("sentinel two\n"));
    }

    // Open rooms are entered again after a lost connection; a room tab closed
    // while offline opens again on the next join; autojoin rooms are entered
    // at login.
    void acrossReconnection()
    {
        gp_server->EnterRoom(QStringLiteral("auto"), false);
        RoomForm* autoTab = WaitRoomTab(QStringLiteral("auto"));
        QVERIFY(autoTab);
        QVERIFY(Trigger(autoTab, QStringLiteral("room"), QStringLiteral("toggle_room_autojoin")));
        QVERIFY(RoomItem(QStringLiteral("auto")).IsConnected("room_autojoin"));
        QCOMPARE(actionBar->FindAction(QStringLiteral("toggle_room_autojoin"))->text(), QStringLiteral("Auto-Join [on]"));
        emit roomsForm->roomsTabControl->tabCloseRequested(roomsForm->roomsTabControl->indexOf(autoTab));
        QVERIFY(gui::WaitFor([] { return !RoomItem(QStringLiteral("auto")).IsConnected("in_room"); }));

        gp_server->EnterRoom(QStringLiteral("side"), false);
        RoomForm* side = WaitRoomTab(QStringLiteral("side"));
        QVERIFY(side);
        RoomForm* lobby = RoomTab(QStringLiteral("lobby"));
        QVERIFY(lobby);

        session.StopServer();
        QVERIFY(gui::WaitFor([&] { return ViewText(lobby).contains(QLatin1String("Disconnected at")); }));
        emit roomsForm->roomsTabControl->tabCloseRequested(roomsForm->roomsTabControl->indexOf(side));
        QVERIFY(!RoomTab(QStringLiteral("side")));

        QVERIFY(session.RestartServer());
        gp_server->OnReconnectTimer();
        QVERIFY(session.WaitLoggedIn());
        QVERIFY(gui::WaitFor([&] { return ViewText(lobby).contains(QLatin1String("Reconnected at")); }));
        QVERIFY(gui::WaitFor([&] { return lobby->Row(QStringLiteral("alice")) && !lobby->Row(QStringLiteral("bob")); }));
        QVERIFY(WaitRoomTab(QStringLiteral("auto")));
        gp_server->EnterRoom(QStringLiteral("side"), false);
        QVERIFY(WaitRoomTab(QStringLiteral("side")));
    }
};

GUI_TEST_MAIN(TestRooms)
#include "tst_rooms.moc"
