// The Rooms page in the real main window: the room list and joining, room chat
// both ways and its log, the orders of both lists, walls, private rooms,
// hostile room names, and rooms across a lost connection.
#include "MainWindow.h"
#include "Ui_MainWindow.h"
#include "helper_chat.h"
#include "pages/chat/ChatForm.h"
#include "pages/chat/ChatLog.h"
#include "pages/chat/ChatLogForm.h"
#include "pages/chat/ChatsForm.h"
#include "pages/chat/CreateRoomDialog.h"
#include "pages/chat/QRoomUserListItemWidget.h"
#include "pages/chat/RoomForm.h"
#include "pages/chat/RoomWallForm.h"
#include "pages/chat/RoomsForm.h"
#include "pages/chat/TickerModel.h"
#include "server/Server.h"
#include "server/ServerCodes.h"
#include "server/UserStats.h"
#include "shell/ActionSetToolBar.h"
#include "shell/EventToolBar.h"
#include "shell/Kit.h"
#include "shell/TabWidget.h"
#include "shell/TextBound.h"
#include "shell/WidgetFunctions.h"
#include "store/Data.h"
#include "store/MemStream.h"
#include "store/Settings.h"
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableView>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextEdit>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>

using namespace chat_test;

namespace {

QString ViewText(RoomForm* tab)
{
    return tab ? WithoutIsolates(tab->chatView->toPlainText()) : QString();
}

const QString kHostile = QString::fromUtf16(u"rtl\u202ELIVE.exe");

// The server's news that a user entered a room.
MemStream Joined(const QString& room, const QString& user, const char* country, quint32 files, quint32 speed)
{
    MemStream m;
    m.WriteString(room);
    m.WriteString(user);
    m.WriteUInt32(2); // online
    UserStats stats;
    stats.averageSpeed = speed;
    stats.fileCount = files;
    m.Write(stats);
    m.WriteUInt32(0);
    m.WriteString(QString::fromLatin1(country));
    return m;
}

void UserJoins(const QString& room, const QString& user, const char* country, quint32 files, quint32 speed)
{
    FeedServer(SM_USER_JOINED_ROOM, Joined(room, user, country, files, speed));
}

// The server's answer to entering a room with these users in it.
MemStream JoinAnswer(const QString& room, const QStringList& users)
{
    MemStream join;
    join.WriteString(room);
    join.Write(users);
    join.Write(QList<quint32>(users.size(), 2));
    join.WriteUInt32(quint32(users.size()));
    for (qsizetype i = 0; i < users.size(); ++i)
        join.Write(UserStats());
    join.Write(QList<quint32>(users.size(), 0));
    join.Write(QStringList(users.size(), QStringLiteral("fr")));
    return join;
}

void RoomAndUser(quint32 code, const QString& room, const QString& user)
{
    MemStream m;
    m.WriteString(room);
    m.WriteString(user);
    FeedServer(code, m);
}

// Names separated by blanks, "%1" standing for the hostile name.
QStringList Names(QString spaced)
{
    return spaced.replace(QLatin1String("%1"), kHostile).split(QLatin1Char(' '));
}

// The names of a list's rows in their order, those among kept.
QStringList Shown(QTreeWidget* list, QString (*name)(const QTreeWidgetItem&), const QStringList& kept)
{
    QStringList names;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        if (kept.contains(name(*list->topLevelItem(i))))
            names.append(name(*list->topLevelItem(i)));
    return names;
}

// The same after sorting by the column.
QStringList SortedBy(QTreeWidget* list, int column, Qt::SortOrder order,
    QString (*name)(const QTreeWidgetItem&), const QStringList& kept)
{
    list->sortItems(column, order);
    return Shown(list, name, kept);
}

// The room list's rooms in their order after sorting by the column, those
// among kept.
QStringList RoomsSortedBy(int column, const QStringList& kept)
{
    roomsForm->roomList->sortByColumn(column, Qt::AscendingOrder);
    QStringList names;
    for (int i = 0; i < roomsForm->roomModel->rowCount(); ++i)
        if (const QString room = RoomListModel::Room(roomsForm->roomModel->index(i, 0)); kept.contains(room))
            names.append(room);
    return names;
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

    // The lobby's tab with bob and alice in the room, as the first function
    // leaves it (entered here when that one did not run).
    RoomForm* Lobby()
    {
        if (!RoomTab(QStringLiteral("lobby"))) {
            bob->Send(QStringLiteral("join lobby"));
            bob->WaitFor(QStringLiteral("joined lobby"));
            gp_server->EnterRoom(QStringLiteral("lobby"), false);
        }
        RoomForm* tab = WaitRoomTab(QStringLiteral("lobby"));
        const auto in = [&] { return tab->Row(QStringLiteral("bob")) && tab->Row(QStringLiteral("alice")); };
        return tab && gui::WaitFor(in) ? tab : nullptr;
    }

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
    // the long timestamp style shows the date, and every line is logged in
    // the long time pattern. A private chat or log the user asks for from
    // the room has the keyboard.
    void joinedRoomChatsBothWaysAndLogsEachLine()
    {
        bob->Send(QStringLiteral("join lobby"));
        QVERIFY(!bob->WaitFor(QStringLiteral("joined lobby")).isEmpty());
        QVERIFY(Trigger(roomsForm->roomList, QStringLiteral("room_list"), QStringLiteral("refresh_room_list")));
        QVERIFY(gui::WaitFor([] { return RoomRow(QStringLiteral("lobby")) && RoomRow(QStringLiteral("lobby"))->text(1) == QLatin1String("1"); }));
        emit roomsForm->roomList->doubleClicked(RoomRow(QStringLiteral("lobby"))->index);
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

        const QDateTime evening(QDate(2024, 3, 9), QTime(21, 7, 3));
        SetClock(evening);
        settings.Set("chat_timestamps", "per_message_long");
        bob->Send(QStringLiteral("say lobby in the long style"));
        QVERIFY(
            gui::WaitFor([&] { return ViewText(tab).contains(QLatin1String("[bob] in the long style")); }));
        QVERIFY(ViewText(tab).endsWith(
            QLatin1Char('[') + ChatLog::LongTime(evening) + QStringLiteral("][bob] in the long style")));
        // Quiet for 300 s, the conversation ends.
        settings.Set("chat_timestamps", "activity_based");
        SetClock(evening.addSecs(300));
        HalfMinuteTick();
        QVERIFY(gui::WaitFor([&] {
            return ViewText(tab).endsWith(QStringLiteral("* Chat ended ") + ChatLog::LongTime(evening));
        }));
        settings.Set("chat_timestamps", "per_message_short");
        ReleaseClock();

        // A note marks the user's row; a double click opens the private chat,
        // ready for typing; so does "Message user" of the user's menu.
        ItemPtr bobItem = d.GetType("user")->HasItem(Value("bob"));
        bobItem.Connect(d.GetType("user_note")->GetItem(Value("plays jazz")));
        QVERIFY(!tab->Row(QStringLiteral("bob"))->icon(3).isNull());
        bobItem.Disconnect("user_note");
        QVERIFY(tab->Row(QStringLiteral("bob"))->icon(3).isNull());
        FocusWidget(tab->chatEdit);
        QTreeWidgetItem* bobRow = tab->Row(QStringLiteral("bob"));
        const QPoint atBob = tab->userList->visualItemRect(bobRow).center();
        QTest::mouseClick(tab->userList->viewport(), Qt::LeftButton, {}, atBob);
        QTest::mouseDClick(tab->userList->viewport(), Qt::LeftButton, {}, atBob);
        auto* chat = Tab<ChatForm>(chatsForm->chatTabControl, QStringLiteral("bob"));
        QVERIFY(chat && chatsForm->chatTabControl->currentWidget() == chat && chat->isVisible());
        QVERIFY(TypesInto(chat->chatEdit, QStringLiteral("first words")));
        chat->chatEdit->clear();
        FocusWidget(tab->chatEdit);
        QVERIFY(!chat->isVisible());
        ChooseFromNextMenu(QStringLiteral("Message user"));
        emit tab->userList->customContextMenuRequested(atBob);
        QVERIFY(chat->isVisible());
        QVERIFY(TypesInto(chat->chatEdit, QStringLiteral("more words")));
        chat->chatEdit->clear();

        const QStringList log = LogLines(QStringLiteral("Rooms"), QStringLiteral("lobby.log"));
        QCOMPARE(log.size(), 4);
        const QString time = QStringLiteral("\\[[A-Z][a-z]{2} \\d{1,2} \\d{1,2}:\\d\\d:\\d\\d [ap]m\\]");
        QVERIFY(QRegularExpression(QStringLiteral("^") + time + QStringLiteral("\\[bob\\] <b>hi</b> & see http://example.com/a\\?b=1&c=2$")).match(log[0]).hasMatch());
        QVERIFY(log[1].endsWith(QLatin1String("[alice] hello from alice")));
        QVERIFY(QRegularExpression(QStringLiteral("^") + time + QStringLiteral(" \\* bob waves$")).match(log[2]).hasMatch());

        // The room's log viewer opens with the keyboard in its find field.
        FocusWidget(tab->chatEdit);
        QVERIFY(Trigger(tab, QStringLiteral("room"), QStringLiteral("room_chat_log")));
        auto* viewer = RoomItem(QStringLiteral("lobby"))["chat_log_form"].AsPointer<ChatLogForm>();
        QVERIFY(viewer);
        QVERIFY(TypesInto(viewer->searchEdit, QStringLiteral("FROM ALICE")));
        QCOMPARE(viewer->logEdit->extraSelections().size(), 1);
        QCOMPARE(viewer->logEdit->extraSelections().first().cursor.blockNumber(), 1);
        emit roomsForm->roomsTabControl->tabCloseRequested(roomsForm->roomsTabControl->indexOf(viewer));
    }

    // The user list sorts by each column with the store's current values:
    // names and countries ignoring case, most files and fastest first, users
    // with a note first; users arriving go in at their places. Operators are
    // bold while they operate this room. The room list puts the own rooms
    // first, then names ignoring case, and sorts user counts as numbers.
    // Names show isolated, and a double click acts on the name as it came.
    void listsSortByEachColumnWithCurrentValues()
    {
        RoomForm* tab = Lobby();
        QVERIFY(tab);
        QTreeWidget* users = tab->userList;
        users->sortByColumn(4, Qt::AscendingOrder);
        // Users only this test knows: the server's news of alice and bob may
        // still be on its way.
        UserJoins(QStringLiteral("lobby"), QStringLiteral("frank"), "se", 30, 300);
        UserJoins(QStringLiteral("lobby"), QStringLiteral("Erin"), "DE", 1500, 2048);
        QVERIFY(gui::WaitFor([&] { return tab->Row(QStringLiteral("Erin")); }));
        UserJoins(QStringLiteral("lobby"), QStringLiteral("Carol"), "at", 7, 0);
        UserJoins(QStringLiteral("lobby"), kHostile, "fr", 200, 100000);
        UserJoins(QStringLiteral("lobby"), QStringLiteral("dave"), "", 1000000, 512);
        QVERIFY(gui::WaitFor([&] { return tab->userList->topLevelItemCount() == 7 && tab->Row(kHostile); }));
        QCOMPARE(tab->Row(QStringLiteral("dave"))->text(4), QStringLiteral("1,000,000"));
        QCOMPARE(tab->Row(QStringLiteral("dave"))->text(5), QStringLiteral("0.5"));
        QVERIFY(tab->Row(QStringLiteral("Carol"))->text(5).isEmpty());
        QVERIFY(gui::ShowsIsolated(tab->Row(kHostile)->text(2), kHostile));

        const QStringList fedUsers = Names(QStringLiteral("frank Erin Carol %1 dave"));
        QCOMPARE(Shown(users, &QRoomUserListItemWidget::User, fedUsers),
            Names(QStringLiteral("dave Erin %1 frank Carol")));
        const auto usersBy = [&](int column, Qt::SortOrder order) {
            return SortedBy(users, column, order, &QRoomUserListItemWidget::User, fedUsers);
        };
        QCOMPARE(usersBy(2, Qt::AscendingOrder), Names(QStringLiteral("Carol dave Erin frank %1")));
        QCOMPARE(usersBy(2, Qt::DescendingOrder), Names(QStringLiteral("%1 frank Erin dave Carol")));
        QCOMPARE(usersBy(1, Qt::AscendingOrder), Names(QStringLiteral("dave Carol Erin %1 frank")));
        QCOMPARE(usersBy(4, Qt::AscendingOrder), Names(QStringLiteral("dave Erin %1 frank Carol")));
        QCOMPARE(usersBy(5, Qt::AscendingOrder), Names(QStringLiteral("%1 Erin dave frank Carol")));
        ItemPtr carol = d.GetType("user")->HasItem(Value("Carol"));
        carol.Connect(d.GetType("user_note")->GetItem(Value("sings")));
        QCOMPARE(usersBy(3, Qt::AscendingOrder).first(), QStringLiteral("Carol"));
        QCOMPARE(usersBy(3, Qt::DescendingOrder).last(), QStringLiteral("Carol"));
        carol.Disconnect("user_note");
        users->sortByColumn(2, Qt::AscendingOrder);

        RoomAndUser(SM_PRIVATE_ROOM_ADD_OPERATOR, QStringLiteral("lobby"), QStringLiteral("Carol"));
        QVERIFY(tab->Row(QStringLiteral("Carol"))->font(2).bold());
        QVERIFY(!tab->Row(QStringLiteral("dave"))->font(2).bold());
        RoomAndUser(SM_PRIVATE_ROOM_ADD_OPERATOR, QStringLiteral("elsewhere"), QStringLiteral("Carol"));
        RoomAndUser(SM_PRIVATE_ROOM_REMOVE_OPERATOR, QStringLiteral("elsewhere"), QStringLiteral("Carol"));
        QVERIFY(tab->Row(QStringLiteral("Carol"))->font(2).bold());
        RoomAndUser(SM_PRIVATE_ROOM_REMOVE_OPERATOR, QStringLiteral("lobby"), QStringLiteral("Carol"));
        QVERIFY(!tab->Row(QStringLiteral("Carol"))->font(2).bold());

        // The hostile name's line and action, and its private chat.
        MemStream line;
        line.WriteString(QStringLiteral("lobby"));
        line.WriteString(kHostile);
        line.WriteString(QString::fromUtf16(u"/me sends \u202Egpj.exe"));
        FeedServer(SM_SAY_CHATROOM, line);
        QVERIFY(gui::ShowsIsolated(tab->chatView->toPlainText(), kHostile));
        QVERIFY(gui::ShowsIsolated(tab->chatView->toPlainText(), QString::fromUtf16(u"sends \u202Egpj.exe")));
        emit users->itemDoubleClicked(tab->Row(kHostile), 2);
        auto* chat = Tab<ChatForm>(chatsForm->chatTabControl, kHostile);
        QVERIFY(chat && chat->User() == kHostile);
        emit chatsForm->chatTabControl->tabCloseRequested(chatsForm->chatTabControl->indexOf(chat));
        for (const QString& name : fedUsers)
            RoomAndUser(SM_USER_LEFT_ROOM, QStringLiteral("lobby"), name);
        QCOMPARE(users->topLevelItemCount(), 2);

        // The room list: an owned room, an operated one, a member room.
        const auto feedList = [](quint32 abcUsers) {
            settings.Set("accept_room_list", "yes");
            MemStream list;
            list.Write(Names(QStringLiteral("abc ABD zed %1")));
            list.Write(QList<quint32> { abcUsers, 0, 12, 1 });
            list.Write(Names(QStringLiteral("mine")));
            list.Write(QList<quint32> { 2 });
            list.Write(Names(QStringLiteral("club")));
            list.Write(QList<quint32> { 4 });
            list.Write(Names(QStringLiteral("zed")));
            FeedServer(SM_ROOM_LIST, list);
        };
        feedList(3);
        QVERIFY(RoomRow(QStringLiteral("mine")) && RoomRow(kHostile));
        QVERIFY(RoomRow(QStringLiteral("ABD"))->text(1).isEmpty());
        QVERIFY(gui::ShowsIsolated(RoomRow(kHostile)->text(0), kHostile));
        const QStringList fedRooms = Names(QStringLiteral("abc ABD zed %1 mine club"));
        QCOMPARE(RoomsSortedBy(0, fedRooms), Names(QStringLiteral("mine zed club abc ABD %1")));
        QCOMPARE(RoomsSortedBy(1, fedRooms), Names(QStringLiteral("ABD %1 mine abc club zed")));
        // A row whose count moves it, or a sort, keeps it selected and current.
        roomsForm->roomList->setCurrentIndex(RoomRow(QStringLiteral("abc"))->index);
        feedList(20);
        QCOMPARE(RoomsSortedBy(1, fedRooms).last(), QStringLiteral("abc"));
        QCOMPARE(roomsForm->roomList->selectionModel()->selectedRows(),
            QModelIndexList { RoomRow(QStringLiteral("abc"))->index });
        QCOMPARE(roomsForm->roomList->currentIndex(), QModelIndex(RoomRow(QStringLiteral("abc"))->index));
        roomsForm->roomList->sortByColumn(0, Qt::AscendingOrder);
        QCOMPARE(RoomListModel::Room(roomsForm->roomList->currentIndex()), QStringLiteral("abc"));
        emit roomsForm->roomList->doubleClicked(RoomRow(kHostile)->index);
        RoomForm* hostileTab = WaitRoomTab(kHostile);
        QVERIFY(hostileTab);
        QVERIFY(Tab<RoomForm>(roomsForm->roomsTabControl, kHostile) == hostileTab);
        emit roomsForm->roomsTabControl->tabCloseRequested(roomsForm->roomsTabControl->indexOf(hostileTab));
    }

    // With the activity alert on, a line in a room the user is not looking at
    // raises an event; the view keeps its HTML within its limit by dropping
    // its oldest part. What the view lays out of one line is bounded, whatever
    // came (few marks on a letter, places to break a long word, a cut); a
    // long link stays one link, and the log keeps the line as it came.
    void activityAlertRaisesAnEventAndViewStaysBounded()
    {
        RoomForm* tab = Lobby();
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
        const QString link = QStringLiteral("https://example.org/") + QString(150, QLatin1Char('p'));
        const QString hostile = QStringLiteral("a") + QString(5000, QChar(0x0301)) + QStringLiteral(" see ")
            + link + QLatin1Char(' ') + QString(TextBound::kMaxLength, QLatin1Char('w'));
        say(hostile);
        const QTextBlock line = tab->chatView->document()->lastBlock();
        QVERIFY(line.length() < TextBound::kMaxLength * 11 / 10);
        QVERIFY(line.text().endsWith(QChar(0x2026)));
        QVERIFY(!line.text().contains(QString(TextBound::kMaxMarks + 1, QChar(0x0301))));
        QVERIFY(!line.text().contains(QString(TextBound::kMaxWord + 1, QLatin1Char('w'))));
        QTextCursor atLink(line);
        atLink.setPosition(line.position() + line.text().indexOf(QLatin1String("https")) + 1);
        QCOMPARE(atLink.charFormat().anchorHref(), link);
        QVERIFY(ReadFile(ChatLog::FilePath(ChatLog::Rooms, QStringLiteral("lobby")))
                    .endsWith(QStringLiteral("[carol] %1\n").arg(hostile).toUtf8()));

        say(QStringLiteral("the very first filler line"));
        QTextDocument* document = tab->chatView->document();
        // A few hundred lines pass the view's bound; ten thousand mean the
        // oldest lines are never trimmed.
        int fillers = 0;
        for (; fillers < 10000 && !document->find(QStringLiteral("the very first filler line")).isNull(); ++fillers)
            say(QStringLiteral("filler line %1 with some words to make it longer").arg(fillers));
        QVERIFY2(fillers < 10000, "the oldest line never left the chat view");
        say(QStringLiteral("the newest line"));
        const int size = int(document->toHtml().size());
        QVERIFY2(size > 150000 && size <= 250000, qPrintable(QString::number(size)));
        QVERIFY(ViewText(tab).endsWith(QLatin1String("[carol] the newest line")));
        tab->chatView->clear();
    }

    // The wall lists tickers in order, literally; it redraws when a ticker
    // arrives or goes; the own ticker shows once the server has it. A ticker
    // that changes changes its own row only, and the rows keep alternating; a
    // row shows a bounded part of a hostile ticker, its tooltip the whole. It
    // opens, and comes back, with the keyboard in its input.
    void wallListsTickersInOrderAndRedraws()
    {
        RoomForm* tab = Lobby();
        QVERIFY(tab);
        QVERIFY(Trigger(tab, QStringLiteral("room"), QStringLiteral("room_wall")));
        auto* wall = Tab<RoomWallForm>(roomsForm->roomsTabControl, QStringLiteral("lobby"));
        QVERIFY(wall);
        bob->Send(QStringLiteral("ticker lobby <i>news</i>"));
        QVERIFY(gui::WaitFor([&] {
            return WithoutIsolates(wall->Text())
                .contains(QLatin1String("<i>news</i> -bob"));
        }));
        QVERIFY(TypesInto(wall->lineEdit, QStringLiteral("  mine  ")));
        QTest::keyClick(wall->lineEdit, Qt::Key_Return);
        QVERIFY(wall->lineEdit->text().isEmpty());
        QVERIFY(gui::WaitFor([&] {
            return WithoutIsolates(wall->Text()).contains(QLatin1String("mine -alice"));
        }));
        const QString text = WithoutIsolates(wall->Text());
        QVERIFY(text.indexOf(QLatin1String("news")) < text.indexOf(QLatin1String("mine")));
        bob->Send(QStringLiteral("ticker lobby"));
        QVERIFY(gui::WaitFor([&] {
            return !WithoutIsolates(wall->Text()).contains(QLatin1String("news"));
        }));
        QVERIFY(WithoutIsolates(wall->Text()).contains(QLatin1String("mine -alice")));

        roomsForm->roomsTabControl->setCurrentWidget(tab);
        roomsForm->roomsTabControl->setCurrentWidget(wall);
        QCOMPARE(QApplication::focusWidget(), wall->lineEdit);

        QAbstractItemModel* rows = wall->tickerView->model();
        const auto rowOf = [rows](const QString& user) {
            for (int i = 0; i < rows->rowCount(); ++i)
                if (WithoutIsolates(rows->index(i, 0).data(TickerModel::TickerUserRole).toString()) == user)
                    return rows->index(i, 0);
            return QModelIndex();
        };
        const QString flood
            = QStringLiteral("a") + QString(5000, QChar(0x0301)) + QString(2000, QLatin1Char('w'));
        const auto ticker = [](const QString& user, const QString& text) {
            MemStream m;
            m.WriteString(QStringLiteral("lobby"));
            m.WriteString(user);
            m.WriteString(text);
            FeedServer(SM_ROOM_TICKER_ADD, m);
        };
        ticker(QStringLiteral("carol"), flood);
        ticker(QStringLiteral("dave"), QStringLiteral("steady ").repeated(60));
        int changed = 0;
        const auto counting = { connect(rows, &QAbstractItemModel::rowsInserted, [&] { ++changed; }),
            connect(rows, &QAbstractItemModel::rowsRemoved, [&] { ++changed; }),
            connect(rows, &QAbstractItemModel::modelReset, [&] { changed += 100; }) };
        ticker(QStringLiteral("carol"), QStringLiteral("calm"));
        for (const auto& connection : counting)
            disconnect(connection);
        QCOMPARE(changed, 2);
        ticker(QStringLiteral("carol"), flood);
        const QString hostile = rowOf(QStringLiteral("carol")).data().toString();
        QVERIFY(hostile.length() < TickerModel::kShownTicker * 11 / 10);
        QVERIFY(!hostile.contains(QString(TextBound::kMaxMarks + 1, QChar(0x0301))));
        const auto tipOf = [&](const QString& user) { return rowOf(user).data(Qt::ToolTipRole).toString(); };
        QVERIFY(tipOf(QStringLiteral("carol")).remove(QChar(0x200B)).contains(QString(2000, QLatin1Char('w'))));
        // A ticker of exactly the row's bound shows whole, without a tooltip,
        // a long word included; one character more is cut.
        const QString whole = QString(TickerModel::kShownTicker - 4, QLatin1Char('e')) + QStringLiteral(" end");
        ticker(QStringLiteral("dave"), whole);
        QCOMPARE(WithoutIsolates(rowOf(QStringLiteral("dave")).data().toString()).remove(QChar(0x200B)),
            whole + QStringLiteral(" -dave"));
        QVERIFY2(tipOf(QStringLiteral("dave")).isEmpty(), qPrintable(tipOf(QStringLiteral("dave")).left(300)));
        ticker(QStringLiteral("dave"), whole + QLatin1Char('s'));
        QVERIFY(rowOf(QStringLiteral("dave")).data().toString().contains(QChar(0x2026)));
        QVERIFY(!tipOf(QStringLiteral("dave")).isEmpty());
        QCOMPARE(rows->rowCount(), 3);
        // The rows alternate on screen, white first.
        const auto alternate = [&] {
            const QImage shown = wall->tickerView->viewport()->grab().toImage();
            for (int i = 0; i < qMin(3, rows->rowCount()); ++i) {
                const QRect row = wall->tickerView->visualRect(rows->index(i, 0));
                if (shown.pixelColor(row.right() - 1, row.top() + 1) != RoomWallForm::RowColour(i))
                    return false;
            }
            return true;
        };
        QVERIFY(alternate());

        // A list that replaces 60,000 tickers with ten, with the wall open and
        // clicked into: the window keeps answering, and the wall shows the ten
        // in their order.
        const auto list = [](int count, const QString& word) {
            MemStream m;
            m.WriteString(QStringLiteral("lobby"));
            m.WriteUInt32(quint32(count));
            for (int i = 0; i < count; ++i) {
                m.WriteString(QStringLiteral("user%1").arg(i));
                m.WriteString(QStringLiteral("%1 %2").arg(word).arg(i));
            }
            FeedServer(SM_ROOM_TICKERS, m);
        };
        QElapsedTimer clock;
        qint64 last = 0;
        qint64 longest = 0;
        QTimer heartbeat;
        connect(&heartbeat, &QTimer::timeout, [&] {
            longest = qMax(longest, clock.elapsed() - last);
            last = clock.elapsed();
        });
        clock.start();
        heartbeat.start(1);
        list(60000, QStringLiteral("old"));
        QVERIFY(gui::WaitFor([&] { return rows->rowCount() == 60000; }, 60000));
        // Opened again, the wall takes its 60,000 rows a part a turn, in their
        // order; a ticker that comes meanwhile goes last.
        QPointer<RoomWallForm> closed = wall;
        emit roomsForm->roomsTabControl->tabCloseRequested(roomsForm->roomsTabControl->indexOf(wall));
        QVERIFY(gui::WaitFor([&] { return !closed; }));
        QVERIFY(Trigger(tab, QStringLiteral("room"), QStringLiteral("room_wall")));
        wall = Tab<RoomWallForm>(roomsForm->roomsTabControl, QStringLiteral("lobby"));
        QVERIFY(wall);
        rows = wall->tickerView->model();
        QCOMPARE(rows->rowCount(), TickerModel::kRowsAtOnce);
        ticker(QStringLiteral("erin"), QStringLiteral("late"));
        QVERIFY(gui::WaitFor([&] { return rows->rowCount() == 60001; }, 60000));
        QCOMPARE(WithoutIsolates(rows->index(59999, 0).data().toString()), QStringLiteral("old 59999 -user59999"));
        QCOMPARE(WithoutIsolates(rows->index(60000, 0).data().toString()), QStringLiteral("late -erin"));
        QTest::mouseClick(wall->tickerView->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
        list(10, QStringLiteral("new"));
        QVERIFY(gui::WaitFor([&] { return rows->rowCount() == 10; }, 60000));
        heartbeat.stop();
        QVERIFY2(longest < 2000, qPrintable(QString::number(longest)));
        QCOMPARE(WithoutIsolates(rows->index(0, 0).data().toString()), QStringLiteral("new 0 -user0"));
        QCOMPARE(WithoutIsolates(rows->index(9, 0).data().toString()), QStringLiteral("new 9 -user9"));
        QVERIFY(alternate());

        // A second request focuses the open wall; after closing it a new one opens.
        QVERIFY(Trigger(tab, QStringLiteral("room"), QStringLiteral("room_wall")));
        QCOMPARE(roomsForm->roomsTabControl->findChildren<RoomWallForm*>().size(), 1);
        emit roomsForm->roomsTabControl->tabCloseRequested(roomsForm->roomsTabControl->indexOf(wall));
        QVERIFY(RoomItem(QStringLiteral("lobby"))["room_wall_form"].IsNull());
    }

    // A private room made in the dialog is marked as owned and listed first,
    // and its tab offers "Give Up Room" once the ownership arrives; giving it
    // up needs two Yes answers. A room that adds the user as a member is
    // marked too.
    void ownedPrivateRoomIsListedFirstAndGivenUpOnTwoYeses()
    {
        const QString secret = QString::fromUtf16(u"secret \u202Eroom");
        QVERIFY(Trigger(roomsForm->roomList, QStringLiteral("room_list"), QStringLiteral("create_room")));
        QPointer<CreateRoomDialog> dialog = createRoomDialog;
        QVERIFY(dialog && dialog->isVisible());
        dialog->roomNameEdit->setText(QStringLiteral("   "));
        dialog->createRoomButton->click();
        QVERIFY(createRoomDialog == dialog && dialog->isVisible());
        dialog->roomNameEdit->setText(QStringLiteral("  ") + secret + QStringLiteral(" "));
        dialog->createPrivateCheckBox->setChecked(true);
        dialog->createRoomButton->click();
        QVERIFY(!createRoomDialog);
        QVERIFY(gui::WaitFor([&] { return dialog.isNull(); }));
        RoomForm* tab = WaitRoomTab(secret);
        QVERIFY(tab);

        QVERIFY(Trigger(roomsForm->roomList, QStringLiteral("room_list"), QStringLiteral("refresh_room_list")));
        QVERIFY(gui::WaitFor([&] { return RoomItem(secret).IsConnected("is_owner"); }));
        const std::optional<ListedRoom> row = RoomRow(secret);
        QVERIFY(row->font(0).italic() && row->font(0).underline() && row->font(0).bold());
        QCOMPARE(row->index.row(), 0);
        actionBar->ChangeSet(tab, QStringLiteral("room"));
        QVERIFY(actionBar->FindAction(QStringLiteral("give_up_ownership"))->isVisible());
        QVERIFY(!actionBar->FindAction(QStringLiteral("give_up_membership"))->isVisible());

        // A tab opened on an owned room, from the list's menu, offers "Give
        // Up Room" only.
        emit roomsForm->roomsTabControl->tabCloseRequested(roomsForm->roomsTabControl->indexOf(tab));
        QVERIFY(gui::WaitFor([&] { return !RoomItem(secret).IsConnected("in_room"); }));
        roomsForm->roomList->setCurrentIndex(row->index);
        ChooseFromNextMenu(QStringLiteral("Enter Room"));
        emit roomsForm->roomList->customContextMenuRequested(
            roomsForm->roomList->visualRect(row->index).center());
        tab = WaitRoomTab(secret);
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
            QVERIFY(gui::ShowsIsolated(answers.Seen()[0].text, secret));
            QCOMPARE(answers.Seen()[1].title, QStringLiteral("REALLY?"));
        }
        QVERIFY(RoomTab(secret));
        {
            gui::ModalAnswerer answers;
            answers.Add(gui::PressButton(QMessageBox::Yes));
            answers.Add(gui::PressButton(QMessageBox::Yes));
            QVERIFY(Trigger(tab, QStringLiteral("room"), QStringLiteral("give_up_ownership")));
            QCOMPARE(answers.Seen().size(), 2);
        }
        QVERIFY(gui::WaitFor([&] { return !RoomTab(secret); }));

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

    // Taken out of a private room mid-sentence: the rest of the sentence does
    // not reach the public room whose tab comes forward, and what was typed
    // waits, as a line under the tabs says, for the next join of the room.
    // The line names a room of any name in a few characters.
    void removedMidSentenceTheDraftWaitsForTheNextJoin()
    {
        gp_server->EnablePrivateRoomAdd(true);
        bob->Send(QStringLiteral("join vault private"));
        QVERIFY(!bob->WaitFor(QStringLiteral("joined vault")).isEmpty());
        bob->Send(QStringLiteral("join lounge"));
        QVERIFY(!bob->WaitFor(QStringLiteral("joined lounge")).isEmpty());
        gp_server->EnterRoom(QStringLiteral("lounge"), false);
        RoomForm* lounge = WaitRoomTab(QStringLiteral("lounge"));
        QVERIFY(lounge);
        const auto enterVault = [&] {
            bob->Send(QStringLiteral("add-member vault alice"));
            QVERIFY(gui::WaitFor([] { return RoomItem(QStringLiteral("vault")).IsConnected("is_member"); }));
            gp_server->EnterRoom(QStringLiteral("vault"), false);
        };
        enterVault();
        RoomForm* vault = WaitRoomTab(QStringLiteral("vault"));
        QVERIFY(vault);
        QVERIFY(Trigger(vault, QStringLiteral("room"), QStringLiteral("room_wall")));
        auto* wall = Tab<RoomWallForm>(roomsForm->roomsTabControl, QStringLiteral("vault"));
        QVERIFY(wall && TypesInto(wall->lineEdit, QStringLiteral("gone fishing")));
        FocusWidget(vault->chatEdit);
        QVERIFY(TypesInto(vault->chatEdit, QStringLiteral("the code is")));

        // Taken away: the next keys do nothing, nothing sent, the room list's
        // selection not moved by its type-ahead.
        const auto takenAway = [&] {
            bob->Send(QStringLiteral("remove-member vault alice"));
            QVERIFY(gui::WaitFor([] { return !RoomTab(QStringLiteral("vault")); }));
            QCOMPARE(QApplication::focusWidget(), roomsForm->draftNotice);
            const QModelIndex listed = roomsForm->roomList->currentIndex();
            QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("lo 1234"));
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
            QCOMPARE(roomsForm->roomList->currentIndex(), listed);
            QVERIFY(lounge->chatEdit->text().isEmpty());
        };
        takenAway();
        if (QTest::currentTestFailed())
            return;
        QVERIFY(!Tab<RoomWallForm>(roomsForm->roomsTabControl, QStringLiteral("vault")));
        QVERIFY(roomsForm->draftNotice->isVisible());
        QVERIFY(roomsForm->draftNotice->text().contains(QLatin1String("vault")));
        lounge->chatEdit->setText(QStringLiteral("first words here"));
        QTest::keyClick(lounge->chatEdit, Qt::Key_Return);
        QCOMPARE(bob->WaitFor(QStringLiteral("room-chat lounge alice")),
            QStringLiteral("room-chat lounge alice first words here"));

        enterVault();
        vault = WaitRoomTab(QStringLiteral("vault"));
        QVERIFY(vault);
        QCOMPARE(vault->chatEdit->text(), QStringLiteral("the code is"));
        wall = Tab<RoomWallForm>(roomsForm->roomsTabControl, QStringLiteral("vault"));
        QVERIFY(wall && wall->lineEdit->text() == QLatin1String("gone fishing"));
        QVERIFY(!roomsForm->draftNotice->isVisible());

        // The wall that has the keyboard gives it back as its room goes.
        FocusWidget(wall->lineEdit);
        takenAway();
        if (QTest::currentTestFailed())
            return;
        // So does the room's input when only the room's own text is kept
        // (no notice is up when the room goes, and the wall keeps nothing).
        enterVault();
        vault = WaitRoomTab(QStringLiteral("vault"));
        wall = Tab<RoomWallForm>(roomsForm->roomsTabControl, QStringLiteral("vault"));
        QVERIFY(vault && wall && !roomsForm->draftNotice->isVisible());
        wall->lineEdit->clear();
        FocusWidget(vault->chatEdit);
        QVERIFY(TypesInto(vault->chatEdit, QStringLiteral(" 4321")));
        takenAway();
        if (QTest::currentTestFailed())
            return;
        // Asked for again, the room is refused by the server: the name the
        // user typed is said in a box that answers the user, with the
        // keyboard.
        QVERIFY(Trigger(roomsForm->roomList, QStringLiteral("room_list"), QStringLiteral("create_room")));
        createRoomDialog->roomNameEdit->setText(QStringLiteral("vault"));
        FocusWidget(lounge->chatEdit);
        // A click into the input, as the user does (it also ends the double
        // click above, whose button the test's mouse still holds).
        QTest::mouseClick(lounge->chatEdit, Qt::LeftButton);
        QVERIFY(gui::WaitFor([&] { return QApplication::activeWindow() == lounge->window(); }));
        createRoomDialog->createRoomButton->click();
        QMessageBox* refused = nullptr;
        QVERIFY(gui::WaitFor([&] {
            for (QWidget* top : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(top); box && box->isVisible() && box->text().contains(QLatin1String("vault")))
                    refused = box;
            return refused;
        }));
        QVERIFY(gui::WaitFor([&] { return QApplication::activeWindow() == refused; }));
        QTest::qWait(300);
        QCOMPARE(QApplication::activeWindow(), refused);
        QVERIFY(refused->isVisible() && !refused->isModal());
        refused->close();
        lounge->chatEdit->clear();
        // Refused again after its box was closed: said again, and the new box
        // names only what was refused since.
        const auto refusal = [](const QString& room) {
            MemStream fields;
            fields.WriteString(room);
            FeedServer(SM_CANNOT_CREATE_ROOM, fields);
            QMessageBox* shown = nullptr;
            gui::WaitFor([&] {
                for (QWidget* top : QApplication::topLevelWidgets())
                    if (auto* box = qobject_cast<QMessageBox*>(top); box && box->isVisible() && box->text().contains(room))
                        shown = box;
                return shown != nullptr;
            });
            return shown;
        };
        for (const char* room : { "attic", "attic" }) {
            QPointer<QMessageBox> box = refusal(QString::fromLatin1(room));
            QVERIFY(box && !box->text().contains(QLatin1String("vault")));
            box->close();
        }

        // A room named with one letter and 65,000 marks: its row, its user
        // of that name and the notice lay out a bounded name, the letter with
        // a few marks.
        const QString marks = QStringLiteral("a") + QString(65000, QChar(0x0301));
        const QString shown = QStringLiteral("a") + QString(TextBound::kMaxMarks, QChar(0x0301));
        settings.Set("accept_room_list", "yes");
        MemStream list;
        list.Write(QStringList { marks });
        list.Write(QList<quint32> { 1 });
        for (int empty = 0; empty < 5; ++empty)
            list.WriteUInt32(0);
        FeedServer(SM_ROOM_LIST, list);
        QVERIFY(RoomRow(marks)->text(0).size() < 300 && RoomRow(marks)->text(0).contains(shown));
        // Its one user has the same name.
        MemStream join;
        join.WriteString(marks);
        join.Write(QStringList { marks });
        join.Write(QList<quint32> { 2 });
        join.WriteUInt32(1);
        join.Write(UserStats());
        join.Write(QList<quint32> { 0 });
        join.Write(QStringList { QStringLiteral("fr") });
        FeedServer(SM_JOIN_ROOM, join);
        RoomForm* marked = WaitRoomTab(marks);
        QVERIFY(marked && gui::WaitFor([&] { return marked->Row(marks); }));
        QVERIFY(marked->Row(marks)->text(2).size() < 300 && marked->Row(marks)->text(2).contains(shown));
        marked->chatEdit->setText(QStringLiteral("half a"));
        MemStream leave;
        leave.WriteString(marks);
        FeedServer(SM_LEAVE_ROOM, leave);
        QVERIFY(gui::WaitFor([&] { return roomsForm->draftNotice->text().contains(shown); }));
        QVERIFY(roomsForm->draftNotice->isVisible() && roomsForm->draftNotice->text().size() < 500);
    }

    // Room names chosen by others never lead outside the log folder, and two
    // names never share a log; tab labels and logged markup stay literal; a
    // line break cannot forge a log line; "Clear Log" removes only the room's
    // own file. A name or text that runs right to left shows isolated
    // everywhere and is logged as it came.
    void hostileRoomNamesStayInsideTheLogFolder()
    {
        const QString logs = QDir::homePath() + QStringLiteral("/Marrowby Chat Logs");
        const QString sentinel1 = QDir::homePath() + QStringLiteral("/evil.log");
        const QString sentinel2 = logs + QStringLiteral("/evil.log");
        QVERIFY(WriteFile(sentinel1, "sentinel one\n"));
        QVERIFY(WriteFile(sentinel2, "sentinel two\n"));
        const QStringList names = { QStringLiteral("../../evil"), QStringLiteral("a/b"),
            QStringLiteral("<b>x</b>&co"), QStringLiteral(".."), QStringLiteral("a%2Fb"), kHostile };
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
        QCOMPARE(roomsForm->roomsTabControl->tabText(labelIndex),
            PlainLabel(IsolatedText(QStringLiteral("<b>x</b>&co"))));

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

        // "a%2Fb" has a log of its own; "a/b" keeps the file it always had;
        // clearing the one leaves the other.
        QCOMPARE(LogLines(QStringLiteral("Rooms"), QStringLiteral("a%2Fb.log")), log);
        const QString lookalikePath = ChatLog::FilePath(ChatLog::Rooms, QStringLiteral("a%2Fb"));
        QCOMPARE(QString::fromUtf8(ReadFile(lookalikePath)).count(QLatin1Char('\n')), 1);
        RoomForm* lookalike = RoomTab(QStringLiteral("a%2Fb"));
        FocusWidget(lookalike->chatEdit);
        QVERIFY(Trigger(lookalike, QStringLiteral("room"), QStringLiteral("room_chat_log")));
        auto* lookalikeLog = RoomItem(QStringLiteral("a%2Fb"))["chat_log_form"].AsPointer<ChatLogForm>();
        QVERIFY(lookalikeLog);
        QCOMPARE(lookalikeLog->logEdit->document()->blockCount(), 1);
        QVERIFY(!lookalikeLog->logEdit->toPlainText().contains(QLatin1String("forged")));
        {
            gui::ModalAnswerer answers;
            answers.Add(gui::PressButton(QMessageBox::Yes));
            QVERIFY(Trigger(lookalikeLog, QStringLiteral("chat_log"), QStringLiteral("clear_chat_log")));
        }
        QVERIFY(!QFile::exists(lookalikePath));
        QCOMPARE(LogLines(QStringLiteral("Rooms"), QStringLiteral("a%2Fb.log")), log);

        // Right to left: the room list, the tab, the chat, the wall and the
        // log viewer show it isolated; the log has it byte for byte.
        RoomForm* rtl = RoomTab(kHostile);
        QVERIFY(gui::ShowsIsolated(RoomRow(kHostile)->text(0), kHostile));
        QVERIFY(Tab<RoomForm>(roomsForm->roomsTabControl, kHostile) == rtl);
        const QString rtlText = QString::fromUtf16(u"see \u202Efdp.exe");
        bob->Send(QStringLiteral("say \"%1\" %2").arg(kHostile, rtlText));
        QVERIFY(gui::WaitFor([&] { return gui::ShowsIsolated(rtl->chatView->toPlainText(), rtlText); }));
        const QString rtlPath = ChatLog::FilePath(ChatLog::Rooms, kHostile);
        QCOMPARE(QFileInfo(rtlPath).fileName(), kHostile + QStringLiteral(".log"));
        const QByteArray rtlLog = ReadFile(rtlPath);
        QVERIFY(rtlLog.endsWith(QStringLiteral("[bob] %1\n").arg(rtlText).toUtf8()));
        FocusWidget(rtl->chatEdit);
        bob->Send(QStringLiteral("ticker \"%1\" %2").arg(kHostile, rtlText));
        QVERIFY(Trigger(rtl, QStringLiteral("room"), QStringLiteral("room_wall")));
        auto* rtlWall = Tab<RoomWallForm>(roomsForm->roomsTabControl, kHostile);
        QVERIFY(rtlWall);
        QVERIFY(
            gui::WaitFor([&] { return gui::ShowsIsolated(rtlWall->Text(), rtlText); }));
        QVERIFY(Trigger(rtl, QStringLiteral("room"), QStringLiteral("room_chat_log")));
        auto* rtlViewer = Tab<ChatLogForm>(roomsForm->roomsTabControl, kHostile);
        QVERIFY(rtlViewer);
        const QString lastLine
            = QString::fromUtf8(rtlLog).split(QLatin1Char('\n'), Qt::SkipEmptyParts).last();
        QVERIFY(gui::ShowsIsolated(rtlViewer->logEdit->toPlainText(), lastLine));
        bob->Send(QStringLiteral("say \"%1\" %2 again").arg(kHostile, rtlText));
        QVERIFY(gui::WaitFor([&] { return ReadFile(rtlPath).count('\n') == rtlLog.count('\n') + 1; }));
        const QString newest = QString::fromUtf8(ReadFile(rtlPath)).split(QLatin1Char('\n'), Qt::SkipEmptyParts).last();
        QVERIFY(gui::ShowsIsolated(rtlViewer->logEdit->toPlainText(), newest));

        // The viewer shows logged markup as text, also for lines that arrive later.
        RoomForm* evil = RoomTab(QStringLiteral("../../evil"));
        FocusWidget(evil->chatEdit);
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
    // Users pouring into a room and some leaving again, faster than rows
    // are made: the list ends with exactly the users the room keeps, in
    // order; the room keeps no more than its bound, those left out are not
    // kept at all, and the room says so once.
    void aJoinStreamEndsRightWithinTheBound()
    {
        const QString room = QStringLiteral("stream");
        gp_server->SetMaxRoomMembers(900);
        FeedServer(SM_JOIN_ROOM, JoinAnswer(room, { QStringLiteral("first") }));
        RoomForm* tab = WaitRoomTab(room);
        QVERIFY(tab);
        QStringList kept { QStringLiteral("first") };
        QByteArray frames;
        const auto join = [&](const QString& user) {
            frames += ServerFrame(SM_USER_JOINED_ROOM, Joined(room, user, "de", 1, 1));
            if (kept.size() < 900)
                kept << user;
        };
        for (int i = 0; i < 1000; ++i)
            join(QStringLiteral("joiner%1").arg(i * 7919 % 1000, 4, 10, QLatin1Char('0')));
        for (int i = 1; i <= 100; ++i) {
            MemStream left;
            left.WriteString(room);
            left.WriteString(kept.takeAt(i));
            frames += ServerFrame(SM_USER_LEFT_ROOM, left);
        }
        for (int i = 0; i < 150; ++i)
            join(QStringLiteral("late%1").arg(i));
        gp_server->ProcessIncoming(frames);
        kept.sort();
        const auto listed = [&] {
            QStringList names;
            for (int i = 0; i < tab->userList->topLevelItemCount(); ++i)
                names << QRoomUserListItemWidget::User(*tab->userList->topLevelItem(i));
            return names;
        };
        QVERIFY(gui::WaitFor([&] { return listed() == kept; }, 60000));
        QCOMPARE(RoomItem(room).CountItems("user"), size_t(900));
        QVERIFY(!d.GetType("user")->HasItem(Value(QStringLiteral("late149"))));
        QCOMPARE(ViewText(tab).count(QLatin1String("900 that can be listed")), 1);
        gp_server->SetMaxRoomMembers(Server::kMaxRoomMembers);
    }

    void openRoomsAreEnteredAgainAfterAReconnection()
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
        RoomForm* lobby = Lobby();
        QVERIFY(lobby);

        QVERIFY(Trigger(lobby, QStringLiteral("room"), QStringLiteral("room_wall")));
        auto* wall = Tab<RoomWallForm>(roomsForm->roomsTabControl, QStringLiteral("lobby"));
        QVERIFY(wall);
        gp_server->EnterRoom(QStringLiteral("hidden"), false);
        RoomForm* hidden = WaitRoomTab(QStringLiteral("hidden"));
        QVERIFY(hidden);

        // A line or ticker typed offline stays in its input and says so; it
        // goes once the client is back.
        session.StopServer();
        QVERIFY(gui::WaitFor([&] { return ViewText(lobby).contains(QLatin1String("Disconnected at")); }));
        // Who was in the room belongs to the session that ended.
        QVERIFY(gui::WaitFor([&] { return lobby->userList->topLevelItemCount() == 0; }));
        QCOMPARE(RoomItem(QStringLiteral("lobby")).CountItems("user"), size_t(0));
        lobby->chatEdit->setText(QStringLiteral("said offline"));
        QTest::keyClick(lobby->chatEdit, Qt::Key_Return);
        QCOMPARE(lobby->chatEdit->text(), QStringLiteral("said offline"));
        QVERIFY(ViewText(lobby).endsWith(QLatin1String("the message was not sent.")));
        wall->lineEdit->setText(QStringLiteral("set offline"));
        QTest::keyClick(wall->lineEdit, Qt::Key_Return);
        QCOMPARE(wall->lineEdit->text(), QStringLiteral("set offline"));
        QVERIFY(wall->notice->isVisibleTo(wall));
        emit roomsForm->roomsTabControl->tabCloseRequested(roomsForm->roomsTabControl->indexOf(side));
        QVERIFY(!RoomTab(QStringLiteral("side")));

        hidden->chatEdit->setText(QStringLiteral("kept for hidden"));

        QVERIFY(session.RestartServer());
        // Meanwhile another user made one of the rooms a private room of theirs.
        DriverProcess* carol = session.StartDriver(QStringLiteral("carol"));
        QVERIFY(carol);
        carol->Send(QStringLiteral("join hidden private"));
        QVERIFY(!carol->WaitFor(QStringLiteral("joined hidden")).isEmpty());
        gp_server->OnReconnectTimer();
        QVERIFY(session.WaitLoggedIn());
        QVERIFY(gui::WaitFor([&] { return ViewText(lobby).contains(QLatin1String("Reconnected at")); }));
        // Refused, it goes as a room taken away does: the line typed there is
        // kept for the next join, not sent into nothing.
        QVERIFY(gui::WaitFor([&] { return !RoomTab(QStringLiteral("hidden")); }));
        QVERIFY(roomsForm->draftNotice->isVisible() && roomsForm->draftNotice->text().contains(QLatin1String("hidden")));
        QVERIFY(gui::WaitFor([&] { return lobby->Row(QStringLiteral("alice")) && !lobby->Row(QStringLiteral("bob")); }));
        QTest::keyClick(lobby->chatEdit, Qt::Key_Return);
        QVERIFY(gui::WaitFor([&] { return ViewText(lobby).endsWith(QLatin1String("[alice] said offline")); }));
        QTest::keyClick(wall->lineEdit, Qt::Key_Return);
        QVERIFY(gui::WaitFor([&] {
            return WithoutIsolates(wall->Text()).contains(QLatin1String("set offline -alice"));
        }));
        QVERIFY(!wall->notice->isVisibleTo(wall));
        QVERIFY(WaitRoomTab(QStringLiteral("auto")));
        gp_server->EnterRoom(QStringLiteral("side"), false);
        QVERIFY(WaitRoomTab(QStringLiteral("side")));

        // A list still being applied when the connection ends goes with it:
        // the room shows nobody, neither of the list nor of before.
        QStringList crowd;
        for (int i = 0; i < 5000; ++i)
            crowd << QStringLiteral("crowd%1").arg(i);
        FeedServer(SM_JOIN_ROOM, JoinAnswer(QStringLiteral("lobby"), crowd));
        gp_server->Disconnect();
        QVERIFY(gui::WaitFor([&] { return lobby->userList->topLevelItemCount() == 0; }));
        QCOMPARE(RoomItem(QStringLiteral("lobby")).CountItems("user"), size_t(0));
        gp_server->Connect();
        QVERIFY(session.WaitLoggedIn());
        // Everybody gone at once from a long list shows nobody at once; a user
        // coming while its rows still go (slowed to take passes) shows alone.
        FeedServer(SM_JOIN_ROOM, JoinAnswer(QStringLiteral("crowded"), crowd));
        RoomForm* tab = WaitRoomTab(QStringLiteral("crowded"));
        QTreeWidget* list = tab->userList;
        QVERIFY(gui::WaitFor([&] { return list->topLevelItemCount() == crowd.size(); }, 60000));
        connect(list->model(), &QAbstractItemModel::rowsRemoved, tab, [] { QTest::qSleep(1); });
        RoomItem(QStringLiteral("crowded")).Disconnect("user");
        QCoreApplication::sendPostedEvents(tab, QEvent::MetaCall);
        QVERIFY(list->visualItemRect(list->topLevelItem(9)).isEmpty());
        UserJoins(QStringLiteral("crowded"), kHostile, "de", 1, 1);
        QVERIFY(gui::WaitFor([&] { return list->topLevelItemCount() == 1 && tab->Row(kHostile); }));
    }
};

GUI_TEST_MAIN(TestRooms)
#include "tst_rooms.moc"
