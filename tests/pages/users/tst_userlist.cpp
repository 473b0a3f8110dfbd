// The Users page with the real main window, the stand-in server and drivers:
// adding users, online state and order, counts and groups (fresh at each
// login), online alerts, the unshared and ignored lists, notes, the user menu,
// names shown direction-isolated, and all of it after a restart.
#include "gui/GuiTest.h"
#include "Ui_MainWindow.h"
#include "helper_users.h"
#include "pages/users/AddUserDialog.h"
#include "pages/users/UserListForm.h"
#include "pages/users/UserListItemWidget.h"
#include "pages/users/UserMenuOptions.h"
#include "pages/users/UserNoteDialog.h"
#include "server/Server.h"
#include "server/ServerCodes.h"
#include "shell/EventToolBar.h"
#include "shell/Kit.h"
#include "shell/WidgetFunctions.h"
#include "store/Data.h"
#include "store/MemStream.h"
#include "store/Settings.h"
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTextEdit>
#include <QTreeWidget>
#include <QtEndian>

namespace {

QStringList EventTexts()
{
    QStringList texts;
    for (QAction* action : eventToolBar->EventActions())
        texts.append(action->text());
    return texts;
}

const QString kNote = QStringLiteral("<b>not bold</b> & <i>plain</i>\nsecond line");
// A name whose direction control would show it as "erin & exe.oc".
const QString kErin = QString::fromUtf16(u"erin & \u202Eco.exe");

QString OnlineEvent(const QString& user)
{
    return IsolatedText(user) + QStringLiteral(" online");
}

QString Crowd(int i)
{
    return (i % 2 ? QStringLiteral("Crowd%1") : QStringLiteral("crowd%1")).arg(i, 4, 10, QLatin1Char('0'));
}

// The server's word that the user went offline (0) or came online (2), framed.
QByteArray StatusFrame(const QString& user, quint32 status)
{
    MemStream m;
    m.WriteString(user);
    m.WriteUInt32(status);
    m.WriteBool(false);
    const QByteArray body = m.GetBuffer();
    QByteArray frame(8, Qt::Uninitialized);
    qToLittleEndian<quint32>(quint32(body.size() + 4), frame.data());
    qToLittleEndian<quint32>(SM_GET_USER_STATUS, frame.data() + 4);
    return frame + body;
}

} // namespace

class TestUserList : public QObject {
    Q_OBJECT
    gui::Session session;
    DriverProcess* bob = nullptr;

    // bob shares a folder of new files; the counts reach the server when he
    // logs in again.
    void BobShares(const QString& folder, const QStringList& files)
    {
        const QString path = session.Home() + QLatin1Char('/') + folder;
        QDir(session.Home()).mkpath(folder);
        for (const QString& name : files) {
            QFile file(path + QLatin1Char('/') + name);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("some bytes");
        }
        bob->Send(QStringLiteral("share-folder ") + path);
        bob->Send(QStringLiteral("wait-shares"));
        QVERIFY(!bob->WaitFor(QStringLiteral("shares-ready")).isEmpty());
        bob->Send(QStringLiteral("disconnect"));
        QVERIFY(!bob->WaitFor(QStringLiteral("disconnected")).isEmpty());
        bob->Send(QStringLiteral("connect"));
        QVERIFY(!bob->WaitFor(QStringLiteral("connected")).isEmpty());
    }

private slots:
    void initTestCase()
    {
        QVERIFY(session.Prepare());
        QVERIFY(session.StartWindow(QStringLiteral("alice")));
        QVERIFY(userListForm);
        settings.Set("show_event_buttons", "yes");
        // bob shares two files, so the server has counts for him.
        bob = session.StartDriver(QStringLiteral("bob"));
        QVERIFY(bob);
        BobShares(QStringLiteral("bobshare"), { "one.txt", "two.txt" });
    }

    // The add-user dialog against the server, then order, icons, counts and
    // groups of the listed users.
    void addedUsersShowInOrderWithCountsAndGroups()
    {
        QTreeWidget* list = userListForm->UserList();
        userListForm->OnActionBarTriggered(userListForm->UserListTab(), QStringLiteral("manual_add_user"));
        auto* dialog = userListForm->findChild<AddUserDialog*>();
        QVERIFY(dialog);
        auto add = [&](const QString& name) {
            dialog->UserNameEdit()->setText(name);
            dialog->OnAddUserClicked();
        };
        add(QStringLiteral("   "));
        QCOMPARE(dialog->StatusEdit()->text(), QStringLiteral("User name must not be empty."));
        add(QStringLiteral("nobody_registered"));
        QVERIFY(!dialog->AddButton()->isEnabled());
        QVERIFY(gui::WaitFor([&] { return dialog->StatusEdit()->text() == QLatin1String("User name does not exist."); }));
        QVERIFY(dialog->AddButton()->isEnabled());
        QVERIFY(!FindUser(QStringLiteral("nobody_registered")).IsConnected("in_user_list"));
        add(QStringLiteral("  bob "));
        QVERIFY(gui::WaitFor([&] { return dialog->StatusEdit()->text() == QLatin1String("User added to list."); }));
        QVERIFY(gui::WaitFor([&] { return ShowsOnline(Row(list, QStringLiteral("bob"))); }));
        add(QStringLiteral("bob"));
        QCOMPARE(dialog->StatusEdit()->text(), QStringLiteral("User already in list."));
        dialog->close();

        // Files from the server's statistics; no speed yet leaves K/s empty.
        QVERIFY(gui::WaitFor([&] { return Row(list, QStringLiteral("bob"))->text(1) == QLatin1String("2"); }));
        QCOMPARE(Row(list, QStringLiteral("bob"))->text(2), QString());

        // At each login every listed user's statistics are asked for afresh:
        // bob shares a third file while alice is away.
        gp_server->Disconnect();
        QVERIFY(gui::WaitFor([] { return !gp_server->IsConnected(); }));
        BobShares(QStringLiteral("bobmore"), { "three.txt" });
        QSignalSpy stats(gp_server, &Server::ReceivedUserStats);
        gp_server->Connect();
        QVERIFY(gui::WaitFor([&] { return Row(list, QStringLiteral("bob"))->text(1) == QLatin1String("3"); }));
        QVERIFY(gui::WaitFor([&] {
            for (const QList<QVariant>& answer : stats)
                if (answer.at(0).toString() == QLatin1String("bob"))
                    return true;
            return false;
        }));

        // Online users first, then names without regard to case.
        AddToList(QStringLiteral("Zack"));
        AddToList(QStringLiteral("adam"));
        QCOMPARE(Names(list), (QStringList { "bob", "adam", "Zack" }));
        QVERIFY(ShowsOffline(Row(list, QStringLiteral("adam"))));
        bob->Send(QStringLiteral("disconnect"));
        QVERIFY(gui::WaitFor([&] { return ShowsOffline(Row(list, QStringLiteral("bob"))); }));
        QCOMPARE(Names(list), (QStringList { "adam", "bob", "Zack" }));
        bob->Send(QStringLiteral("connect"));
        QVERIFY(gui::WaitFor([&] { return ShowsOnline(Row(list, QStringLiteral("bob"))); }));
        QCOMPARE(Names(list), (QStringList { "bob", "adam", "Zack" }));
        QVERIFY(gui::ShowsIsolated(Row(list, QStringLiteral("adam"))->text(0), QStringLiteral("adam")));

        // Three thousand listed users come online, then go offline, each
        // time in one burst from the server, while the list is on screen: it
        // follows well within a second, in order, and the row the keyboard is
        // on moves with its user, still current and selected.
        QSignalSpy watched(gp_server, &Server::AddUserResponse);
        for (int i = 0; i < 3000; ++i)
            d.GetType("user")->GetItem(Value(Crowd(i))).NewItem("in_user_list");
        QVERIFY(gui::WaitFor([&] { return watched.size() >= 3000; }, 60000));
        session.Window()->Ui().tabControl->setCurrentWidget(session.Window()->Ui().tab_2);
        userListForm->Tabs()->setCurrentWidget(userListForm->UserListTab());
        list->setCurrentItem(Row(list, Crowd(1234)));
        for (const bool online : { true, false }) {
            QByteArray frames;
            for (int i = 0; i < 3000; ++i)
                frames += StatusFrame(Crowd(i * 7 % 3000), online ? 2 : 0);
            QElapsedTimer timer;
            timer.start();
            gp_server->ProcessIncoming(frames);
            QVERIFY(gui::WaitFor([&] {
                for (int i = 0; i < list->topLevelItemCount(); ++i)
                    if (QTreeWidgetItem* row = list->topLevelItem(i); UserListItemWidget::User(row).contains(
                            QLatin1String("rowd")) && (online ? !ShowsOnline(row) : !ShowsOffline(row)))
                        return false;
                return true;
            }, 60000));
            // Generous: a sanitizer build on a machine kept busy takes over six
            // seconds; a list that sorted itself per change took minutes.
            QVERIFY2(timer.elapsed() < 30000, qPrintable(QString::number(timer.elapsed())));
            const QStringList names = Names(list);
            QCOMPARE(names.size(), 3003);
            for (int i = 1; i < names.size(); ++i)
                QVERIFY2(!UserListItemWidget::Less(UserListItemWidget::IsOnline(names[i]), names[i],
                             UserListItemWidget::IsOnline(names[i - 1]), names[i - 1]),
                    qPrintable(names[i]));
            QCOMPARE(names.indexOf(QStringLiteral("adam")), online ? 3001 : 1);
            QCOMPARE(list->currentItem(), Row(list, Crowd(1234)));
            QVERIFY(list->currentItem()->isSelected());
        }
        for (int i = 0; i < 3000; ++i)
            FindUser(Crowd(i))["in_user_list"].Remove();
        QCOMPARE(Names(list), (QStringList { "bob", "adam", "Zack" }));

        // Groups in case-sensitive name order.
        const ItemPtr inList = FindUser(QStringLiteral("bob"))["in_user_list"];
        for (const char* group : { "b", "A", "c" })
            inList.Connect(d.GetType("user_list_group")->GetItem(Value(group)));
        QCOMPARE(Row(list, QStringLiteral("bob"))->text(3), QStringLiteral("A, b, c"));
        inList.Disconnect(d.GetType("user_list_group")->HasItem(Value("c")));
        QCOMPARE(Row(list, QStringLiteral("bob"))->text(3), QStringLiteral("A, b"));

        // A speed of 0 leaves the cell; 1536 bytes per second reads 1.5.
        const ItemPtr bobItem = FindUser(QStringLiteral("bob"));
        bobItem.Connect(d.GetType("average_download_speed")->GetItem(Value(1536)));
        QCOMPARE(Row(list, QStringLiteral("bob"))->text(2), QStringLiteral("1.5"));
        bobItem.Connect(d.GetType("average_download_speed")->GetItem(Value(0)));
        QCOMPARE(Row(list, QStringLiteral("bob"))->text(2), QStringLiteral("1.5"));

        // Removing the user leaves no list entry behind.
        const size_t entries = d.GetType("in_user_list")->Count();
        QMenu menu;
        UserMenuOptions(&menu, QStringLiteral("Zack"), nullptr).OnRemoveUser();
        QVERIFY(!Row(list, QStringLiteral("Zack")));
        QCOMPARE(d.GetType("in_user_list")->Count(), entries - 1);
    }

    // The list's name order is that of the case-folded names, for plain
    // ASCII names (compared in place) and for any others alike.
    void nameOrderIgnoresCase()
    {
        const QStringList names { "ab", "AB", "aB", "abc", "Abd", "a", "", "b", "_x", "[x", "Zed", "zed", "z9",
            QStringLiteral("ab\u00e9"), QStringLiteral("AB\u00c9"), QStringLiteral("\u00e9mile"),
            QStringLiteral("\u00c9MILE"), QStringLiteral("stra\u00dfe"), QStringLiteral("STRASSE"),
            QStringLiteral("\u03a3\u03c3\u03c2"), QStringLiteral("x\U0001F600"), QStringLiteral("X\U0001F600a") };
        for (const QString& a : names)
            for (const QString& b : names)
                QVERIFY2(UserListItemWidget::FoldedLess(a, b) == (a.toCaseFolded() < b.toCaseFolded()),
                    qPrintable(a + QStringLiteral(" / ") + b));
    }

    // Alerts for users on the Online Alerts list, whether listed or not; the
    // alert rows follow the user offline again.
    void alertRaisedWhenWatchedUserComesOnline()
    {
        QTreeWidget* alerts = userListForm->OnlineAlertList();
        // carol has an account (the server watches only known names) and is
        // offline when her alert is set.
        DriverProcess* carol = session.StartDriver(QStringLiteral("carol"));
        QVERIFY(carol);
        carol->Send(QStringLiteral("disconnect"));
        QVERIFY(!carol->WaitFor(QStringLiteral("disconnected")).isEmpty());
        QMenu menu;
        QSignalSpy watched(gp_server, &Server::AddUserResponse);
        UserMenuOptions(&menu, QStringLiteral("carol"), nullptr).OnAddRemoveOnlineAlert();
        QVERIFY(ShowsOffline(Row(alerts, QStringLiteral("carol"))));
        QVERIFY(!Row(userListForm->UserList(), QStringLiteral("carol")));
        // The server may answer the watch before it has seen her go.
        QVERIFY(gui::WaitFor([&] { return !watched.isEmpty() && ShowsOffline(Row(alerts, QStringLiteral("carol"))); }));
        const int before = EventTexts().count(OnlineEvent(QStringLiteral("carol")));

        carol->Send(QStringLiteral("connect"));
        QVERIFY(gui::WaitFor([&] { return ShowsOnline(Row(alerts, QStringLiteral("carol"))); }));
        QCOMPARE(EventTexts().count(OnlineEvent(QStringLiteral("carol"))), before + 1);
        carol->Send(QStringLiteral("disconnect"));
        QVERIFY(gui::WaitFor([&] { return ShowsOffline(Row(alerts, QStringLiteral("carol"))); }));
        carol->Send(QStringLiteral("connect"));
        QVERIFY(gui::WaitFor([&] { return ShowsOnline(Row(alerts, QStringLiteral("carol"))); }));
        QCOMPARE(EventTexts().count(OnlineEvent(QStringLiteral("carol"))), before + 2);

        // Adding an online user with an alert to the list raises it at once.
        AddToList(QStringLiteral("carol"));
        QCOMPARE(EventTexts().count(OnlineEvent(QStringLiteral("carol"))), before + 3);
        QVERIFY(ShowsOnline(Row(userListForm->UserList(), QStringLiteral("carol"))));

        // The menu offers the removal; choosing it only drops the row.
        QVERIFY(MenuTexts(QStringLiteral("carol")).contains(QStringLiteral("Remove online status alert")));
        UserMenuOptions(&menu, QStringLiteral("carol"), nullptr).OnAddRemoveOnlineAlert();
        QVERIFY(!Row(alerts, QStringLiteral("carol")));
    }

    // The menu's entries follow the user's state without creating anything;
    // the unshared and ignored lists and the notes follow the menu's actions.
    void menuFollowsUserStateAndNotesStayPlain()
    {
        for (const char* user : { "bob", "adam" }) // listed by the first function
            AddToList(user);
        const QString erin = kErin;
        QStringList texts = MenuTexts(erin, QStringLiteral("Own entry"));
        QVERIFY(!FindUser(erin));
        QCOMPARE(texts.mid(0, 10),
            (QStringList { "Own entry", "-", "Message user", "Add user to list", "Browse user's files",
                "Upload to user", "Get User Info", "Add user note", "Alert when user goes online", "-" }));
        QCOMPARE(texts.mid(10), (QStringList { "Unshare files from user", "Ignore chat from user" }));
        QCOMPARE(MenuTexts(QStringLiteral("bob")).mid(0, 3),
            (QStringList { "Message user", "Set user's groups", "Remove user from list" }));
        settings.Set("user_level_logging", "Yes");
        QVERIFY(!MenuTexts(erin).contains(QStringLiteral("See User Log")));
        settings.Set("user_level_logging", "yes");
        QCOMPARE(MenuTexts(erin).mid(MenuTexts(erin).size() - 2), (QStringList { "-", "See User Log" }));
        settings.Set("user_level_logging", "no");

        QMenu menu;
        UserMenuOptions options(&menu, erin, nullptr);
        options.OnUnshareFilesFromUser();
        options.OnIgnoreUser();
        QVERIFY(gui::ShowsIsolated(Row(userListForm->UnsharedList(), erin)->text(0), erin));
        QVERIFY(gui::ShowsIsolated(Row(userListForm->IgnoredList(), erin)->text(0), erin));
        // A name of any length: its row and its note editor's title are cut.
        const QString longName(20000, QLatin1Char('n'));
        UserMenuOptions(&menu, longName, nullptr).OnIgnoreUser();
        QVERIFY(Row(userListForm->IgnoredList(), longName)->text(0).size() < 2000);
        QVERIFY(UserNoteDialog::GetDialog(longName)->windowTitle().size() < 200);
        UserNoteDialog::GetDialog(longName)->close();
        UserMenuOptions(&menu, longName, nullptr).OnUnignoreUser();
        texts = MenuTexts(erin);
        QVERIFY(texts.contains(QStringLiteral("Re-share files with user")));
        QVERIFY(texts.contains(QStringLiteral("Receive chat from user")));

        // Notes are plain text: markup is kept as typed, through saving and
        // opening again, and shown as typed in every list.
        UserNoteDialog* editor = UserNoteDialog::GetDialog(erin);
        QCOMPARE(UserNoteDialog::GetDialog(erin), editor);
        QVERIFY(gui::ShowsIsolated(editor->windowTitle(), erin));
        editor->NoteEdit()->setPlainText(QStringLiteral("  ") + kNote + QStringLiteral(" \n"));
        editor->SaveButton()->click();
        QVERIFY(gui::WaitFor([&] { return !FindUser(erin).IsConnected("user_note_dialog"); }));
        QCOMPARE(FindUser(erin)["user_note"].AsString(), kNote);
        QCOMPARE(Row(userListForm->UnsharedList(), erin)->text(1), kNote);
        QCOMPARE(Row(userListForm->IgnoredList(), erin)->text(1), kNote);
        editor = UserNoteDialog::GetDialog(erin);
        QCOMPARE(editor->NoteEdit()->toPlainText(), kNote);
        QVERIFY(MenuTexts(erin).contains(QStringLiteral("Edit user note")));

        // Same text, same note item; changing one user's note leaves the other.
        UserNoteDialog::SetUserNote(QStringLiteral("adam"), kNote);
        QCOMPARE(FindUser(QStringLiteral("adam"))["user_note"], FindUser(erin)["user_note"]);
        QCOMPARE(Row(userListForm->UserList(), QStringLiteral("adam"))->text(4), kNote);
        UserNoteDialog::SetUserNote(QStringLiteral("adam"), QStringLiteral("other"));
        QCOMPARE(FindUser(erin)["user_note"].AsString(), kNote);

        // Clear then close: nothing stored. Clear then save: the note goes,
        // and so does its item once nobody holds it.
        editor->ClearButton()->click();
        editor->close();
        QVERIFY(gui::WaitFor([&] { return !FindUser(erin).IsConnected("user_note_dialog"); }));
        QCOMPARE(FindUser(erin)["user_note"].AsString(), kNote);
        editor = UserNoteDialog::GetDialog(erin);
        editor->ClearButton()->click();
        editor->SaveButton()->click();
        QVERIFY(!FindUser(erin).IsConnected("user_note"));
        QVERIFY(!d.GetType("user_note")->HasItem(Value(kNote)));
        QCOMPARE(Row(userListForm->UnsharedList(), erin)->text(1), QString());
        QVERIFY(Row(userListForm->UnsharedList(), erin)->icon(1).isNull());

        // A note kept for the restart.
        UserNoteDialog::SetUserNote(erin, QStringLiteral("kept"));
        QMenu again;
        UserMenuOptions(&again, QStringLiteral("frank"), nullptr).OnIgnoreUser();
        UserMenuOptions(&again, QStringLiteral("frank"), nullptr).OnUnignoreUser();
        QVERIFY(!Row(userListForm->IgnoredList(), QStringLiteral("frank")));
        UserMenuOptions(&again, QStringLiteral("dora"), nullptr).OnAddRemoveOnlineAlert();

        // Delete takes the selected user off the list that has the keyboard.
        const QString gus = QStringLiteral("gus");
        AddToList(gus);
        UserMenuOptions flags(&again, gus, nullptr);
        flags.OnUnshareFilesFromUser();
        flags.OnIgnoreUser();
        flags.OnAddRemoveOnlineAlert();
        for (QTreeWidget* list : { userListForm->UserList(), userListForm->UnsharedList(), userListForm->IgnoredList(),
                 userListForm->OnlineAlertList() }) {
            list->setCurrentItem(Row(list, gus));
            FocusWidgetAndParents(list);
            QVERIFY(gui::WaitFor([list] { return list->hasFocus(); }));
            QTest::keyClick(list, Qt::Key_Delete);
            QVERIFY2(!Row(list, gus), qPrintable(list->objectName()));
        }

        // A double click opens the private chat, except on the alerts list.
        emit userListForm->UserList()->itemDoubleClicked(Row(userListForm->UserList(), QStringLiteral("adam")), 2);
        QVERIFY(FindUser(QStringLiteral("adam")).IsConnected("user_chat_widget"));
        emit userListForm->OnlineAlertList()->itemDoubleClicked(Row(userListForm->OnlineAlertList(), QStringLiteral("dora")), 0);
        QVERIFY(!FindUser(QStringLiteral("dora")).IsConnected("user_chat_widget"));
    }

    // Private rooms: owned ones first (bold, underlined, with operator
    // entries), then rooms only operated; names as typed; nothing created.
    void privateRoomsMenuPutsOwnedRoomsFirst()
    {
        settings.Set("privileges_time_left", "-5");
        QVERIFY(!MenuTexts(QStringLiteral("bob")).contains(QStringLiteral("Gift Privileges")));
        QVERIFY(!MenuTexts(QStringLiteral("bob")).contains(QStringLiteral("Private Rooms>")));
        Type* room = d.GetType("room");
        const ItemPtr owner = d.GetType("is_owner")->GetGlobalNullItem();
        const ItemPtr operating = d.GetType("is_operator")->GetGlobalNullItem();
        room->GetItem(Value("b")).Connect(owner);
        room->GetItem(Value("A")).Connect(owner);
        room->GetItem(Value("A")).Connect(operating);
        room->GetItem(Value("a & b")).Connect(operating);
        const QString longName = QString(5000, QLatin1Char('z'));
        room->GetItem(Value(longName)).Connect(operating);
        room->GetItem(Value("b")).NewItem("room_members").Connect(d.GetType("user")->GetItem(Value("bob")));
        const size_t memberLists = d.GetType("room_members")->Count();

        const QStringList texts = MenuTexts(QStringLiteral("bob"));
        const int at = int(texts.indexOf(QStringLiteral("Private Rooms>")));
        QVERIFY(at > 0);
        QCOMPARE(texts.at(at - 1), QStringLiteral("-"));
        auto entry = [](const char* name) { return PlainLabel(IsolatedText(QString::fromLatin1(name))) + '>'; };
        QCOMPARE(texts.mid(at + 1),
            (QStringList { entry("A"), "Give User Membership", "<", entry("b"), "Remove User's Membership", "-",
                "Make User Operator", "<", entry("a & b"), "Give User Membership", "<",
                texts.at(at + 12), "Give User Membership", "<", "<" }));
        // A name of any length is cut to a label's width; the entry keeps it whole.
        QVERIFY(texts.at(at + 12).size() < 200);
        QCOMPARE(d.GetType("room_members")->Count(), memberLists);
        QVERIFY(!room->HasItem(Value("a & b")).IsConnected("room_operators"));

        QMenu menu;
        UserMenuOptions options(&menu, QStringLiteral("bob"), nullptr);
        QMenu* rooms = nullptr;
        for (QAction* action : menu.actions())
            if (action->menu() && action->text() == QLatin1String("Private Rooms"))
                rooms = action->menu();
        QVERIFY(rooms);
        const QList<QAction*> roomActions = rooms->actions();
        QVERIFY(roomActions.at(0)->font().bold() && roomActions.at(0)->font().underline());
        QVERIFY(!roomActions.at(2)->font().bold());
        QCOMPARE(roomActions.at(2)->menu()->actions().at(0)->data().toString(), QStringLiteral("a & b"));
        QCOMPARE(roomActions.at(3)->menu()->actions().at(0)->data().toString(), longName);
        for (const QString& name : { QStringLiteral("A"), QStringLiteral("b"), QStringLiteral("a & b"), longName })
            room->HasItem(Value(name)).Remove();
    }

    // Everything comes back from the data file: what the functions above
    // leave, made here again for a run alone.
    void listsGroupsNotesAndAlertsSurviveARestart()
    {
        for (const char* user : { "bob", "adam", "carol" })
            AddToList(user);
        for (const char* group : { "A", "b" })
            FindUser(QStringLiteral("bob"))["in_user_list"]
                += d.GetType("user_list_group")->GetItem(Value(group));
        UserNoteDialog::SetUserNote(QStringLiteral("adam"), QStringLiteral("other"));
        UserNoteDialog::SetUserNote(kErin, QStringLiteral("kept"));
        QMenu menu;
        UserMenuOptions(&menu, kErin, nullptr).OnUnshareFilesFromUser();
        UserMenuOptions(&menu, kErin, nullptr).OnIgnoreUser();
        if (!Row(userListForm->OnlineAlertList(), QStringLiteral("dora")))
            UserMenuOptions(&menu, QStringLiteral("dora"), nullptr).OnAddRemoveOnlineAlert();
        session.CloseWindow();
        QCOMPARE(session.RunChild("verify_restart"), 0);
    }
};

GUI_CHILD_ROLE(verify_restart)
{
    gui::Session session;
    if (!session.Prepare() || !session.StartWindow(QStringLiteral("alice"), QStringLiteral("secret"), false))
        return 1;
    int failures = 0;
    auto check = [&](bool ok, const char* what) {
        if (!ok) {
            std::fprintf(stderr, "after restart: %s\n", what);
            ++failures;
        }
    };
    const QString erin = kErin;
    const QStringList listed = Names(userListForm->UserList());
    check(listed.size() == 3 && listed.contains("bob") && listed.contains("adam") && listed.contains("carol"),
        "user list");
    check(Row(userListForm->UserList(), QStringLiteral("bob"))->text(3) == QLatin1String("A, b"), "groups");
    check(Row(userListForm->UserList(), QStringLiteral("adam"))->text(4) == QLatin1String("other"), "note");
    check(Names(userListForm->UnsharedList()) == QStringList { erin }, "unshared");
    check(Names(userListForm->IgnoredList()) == QStringList { erin }, "ignored");
    check(Row(userListForm->IgnoredList(), erin)->text(1) == QLatin1String("kept"), "ignored note");
    check(Names(userListForm->OnlineAlertList()) == QStringList { "dora" }, "alerts");
    check(ShowsOffline(Row(userListForm->OnlineAlertList(), QStringLiteral("dora"))), "alert icon");
    check(!d.GetType("user_note")->HasItem(Value(kNote)), "orphan note");
    check(d.GetType("user_note")->Count() == 2, "note count");
    return failures;
}

GUI_TEST_MAIN(TestUserList)
#include "tst_userlist.moc"
