// Groups with the real main window: the groups of one user, the group settings
// dialog, and how both meet the transfer engine (pushed files accepted or
// refused, a waiting upload queue re-ordered by priority).
#include "gui/GuiTest.h"
#include "helper_users.h"
#include "pages/users/UserGroupConfigDialog.h"
#include "pages/users/UserGroupsDialog.h"
#include "pages/users/UserListForm.h"
#include "pages/users/UserMenuOptions.h"
#include "shares/SharedFoldersManager.h"
#include "shell/Kit.h"
#include "store/Data.h"
#include "store/Settings.h"
#include "transfers/TransferQueueManager.h"
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>

namespace {

ItemPtr Group(const QString& name)
{
    return d.GetType("user_list_group")->HasItem(Value(name));
}

QListWidgetItem* ListRow(QListWidget* list, const QString& text)
{
    const auto rows = list->findItems(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    return rows.isEmpty() ? nullptr : rows.first();
}

QStringList ListTexts(QListWidget* list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts.append(list->item(i)->text() + (list->item(i)->checkState() == Qt::Checked ? "*" : ""));
    return texts;
}

// The queued upload of the user, by its place in the serving order.
int QueuedOrder(const QString& user)
{
    for (ItemPtr upload : FindUser(user).GetItems("upload_entry"))
        if (upload["upload_entry_status"].AsString() == QLatin1String("queued"))
            return upload["effective_upload_order"].AsInt();
    return -1;
}

} // namespace

class TestUserGroups : public QObject {
    Q_OBJECT
    gui::Session session;
    DriverProcess* bob = nullptr;
    DriverProcess* carol = nullptr;

private slots:
    void initTestCase()
    {
        QVERIFY(session.Prepare());
        QVERIFY(session.StartWindow(QStringLiteral("alice")));
        bob = session.StartDriver(QStringLiteral("bob"));
        carol = session.StartDriver(QStringLiteral("carol"));
        QVERIFY(bob && carol);
        AddToList(QStringLiteral("bob"));
        AddToList(QStringLiteral("carol"));
        for (const char* name : { "e", "b", "D", "a", "c" })
            d.GetType("user_list_group")->GetItem(Value(name));
    }

    // One user's groups: rows in order, ticks as stored, each tick one
    // membership, new groups unticked everywhere, a deleted group never
    // re-created by a stale row.
    void eachTickIsOneMembership()
    {
        const ItemPtr bobList = FindUser(QStringLiteral("bob"))["in_user_list"];
        bobList.Connect(Group("b"));
        bobList.Connect(Group("D"));
        FindUser(QStringLiteral("carol"))["in_user_list"].Connect(Group("a"));

        auto* dialog = new UserGroupsDialog(QStringLiteral("bob"));
        auto* other = new UserGroupsDialog(QStringLiteral("bob"));
        QCOMPARE(dialog->windowTitle(),
            QStringLiteral("User Groups for [%1]").arg(IsolatedText(QStringLiteral("bob"))));
        QCOMPARE(ListTexts(dialog->GroupList()), (QStringList { "D*", "a", "b*", "c", "e" }));
        ListRow(dialog->GroupList(), "a")->setCheckState(Qt::Checked);
        QVERIFY(bobList.IsConnected(Group("a")));
        QVERIFY(FindUser(QStringLiteral("carol"))["in_user_list"].IsConnected(Group("a")));
        ListRow(dialog->GroupList(), "b")->setCheckState(Qt::Unchecked);
        QVERIFY(!bobList.IsConnected(Group("b")));
        QCOMPARE(Row(userListForm->UserList(), QStringLiteral("bob"))->text(3), QStringLiteral("D, a"));
        // The other dialog keeps what it showed.
        QCOMPARE(ListTexts(other->GroupList()), (QStringList { "D*", "a", "b*", "c", "e" }));

        dialog->NewGroupEdit()->setText(QStringLiteral("  new one "));
        dialog->NewGroupButton()->click();
        QVERIFY(Group("new one"));
        QCOMPARE(dialog->NewGroupEdit()->text(), QString());
        QVERIFY(ListRow(other->GroupList(), "new one"));
        QCOMPARE(ListRow(other->GroupList(), "new one")->checkState(), Qt::Unchecked);
        QVERIFY(!bobList.IsConnected(Group("new one")));
        dialog->NewGroupEdit()->setText(QStringLiteral("new one"));
        dialog->NewGroupButton()->click();
        QCOMPARE(dialog->GroupList()->count(), 6);

        // Deleted elsewhere: the rows go, nothing comes back, no duplicates.
        Group("e").Remove();
        QVERIFY(!ListRow(other->GroupList(), "e"));
        d.GetType("user_list_group")->GetItem(Value("e"));
        QCOMPARE(other->GroupList()->findItems("e", Qt::MatchExactly).size(), 1);
        Group("e").Remove();
        QCOMPARE(other->GroupList()->count(), 5);

        // A user removed from the list while the dialog is open: no tick
        // shown, none taken, nothing touched. Back in the list (with no
        // groups), the rows take ticks again.
        auto* carolDialog = new UserGroupsDialog(QStringLiteral("carol"));
        QListWidget* carolRows = carolDialog->GroupList();
        QCOMPARE(ListTexts(carolRows), (QStringList { "D", "a*", "b", "c", "new one" }));
        FindUser(QStringLiteral("carol"))["in_user_list"].Remove();
        QCOMPARE(ListTexts(carolRows), (QStringList { "D", "a", "b", "c", "new one" }));
        QVERIFY(!(ListRow(carolRows, "c")->flags() & Qt::ItemIsUserCheckable));
        ListRow(carolRows, "c")->setCheckState(Qt::Checked);
        QCOMPARE(ListRow(carolRows, "c")->checkState(), Qt::Unchecked);
        QVERIFY(!FindUser(QStringLiteral("carol")).IsConnected("in_user_list"));
        QVERIFY(!Group("c").IsConnected("in_user_list"));
        AddToList(QStringLiteral("carol"));
        QCOMPARE(ListTexts(carolRows), (QStringList { "D", "a", "b", "c", "new one" }));
        ListRow(carolRows, "c")->setCheckState(Qt::Checked);
        QVERIFY(FindUser(QStringLiteral("carol"))["in_user_list"].IsConnected(Group("c")));
        ListRow(carolRows, "c")->setCheckState(Qt::Unchecked);
        QVERIFY(!Group("c").IsConnected(FindUser(QStringLiteral("carol"))["in_user_list"]));
        for (QDialog* open : { static_cast<QDialog*>(dialog), static_cast<QDialog*>(other), static_cast<QDialog*>(carolDialog) })
            open->close();
    }

    // The settings dialog: one at a time, selecting writes nothing, priorities
    // shared by value, accept flag on the one global item, deleting asks.
    void groupSettingsWriteOnlyWhatIsSet()
    {
        for (const char* name : { "D", "a" }) // bob's groups as the dialog above leaves them
            FindUser(QStringLiteral("bob"))["in_user_list"].Connect(Group(name));
        userListForm->OnActionBarTriggered(userListForm->UserListTab(), QStringLiteral("configure_user_groups"));
        UserGroupConfigDialog* dialog = userGroupConfigDialog;
        QVERIFY(dialog);
        userListForm->OnActionBarTriggered(userListForm->UserListTab(), QStringLiteral("configure_user_groups"));
        QCOMPARE(userGroupConfigDialog, dialog);
        QCOMPARE(userListForm->findChildren<UserGroupConfigDialog*>().size(), 1);
        QVERIFY(!dialog->PrioritySpinBox()->isEnabled());

        QListWidget* list = dialog->GroupList();
        list->setCurrentItem(ListRow(list, "a"));
        QCOMPARE(dialog->GroupBox()->title(), QStringLiteral("a"));
        QCOMPARE(dialog->PrioritySpinBox()->value(), 0);
        QVERIFY(!Group("a").IsConnected("group_download_priority"));
        dialog->PrioritySpinBox()->setValue(3);
        list->setCurrentItem(ListRow(list, "b"));
        dialog->PrioritySpinBox()->setValue(3);
        QCOMPARE(Group("a")["group_download_priority"], Group("b")["group_download_priority"]);
        dialog->PrioritySpinBox()->setValue(5);
        QCOMPARE(Group("a")["group_download_priority"].AsInt(), 3);
        QCOMPARE(Group("b")["group_download_priority"].AsInt(), 5);
        dialog->PrioritySpinBox()->setValue(0);
        QVERIFY(!Group("b").IsConnected("group_download_priority"));
        dialog->AcceptUploadsCheckBox()->setChecked(true);
        list->setCurrentItem(ListRow(list, "c"));
        dialog->AcceptUploadsCheckBox()->setChecked(true);
        QCOMPARE(Group("b")["accept_uploads"], Group("c")["accept_uploads"]);
        dialog->AcceptUploadsCheckBox()->setChecked(false);
        QVERIFY(Group("b").IsConnected("accept_uploads"));

        // Walking the rows changes nothing.
        const QString before = QStringLiteral("%1 %2 %3").arg(Group("a")["group_download_priority"].AsInt())
                                   .arg(Group("b").IsConnected("accept_uploads"))
                                   .arg(Group("c").IsConnected("accept_uploads"));
        for (const char* name : { "a", "b", "c", "a" })
            list->setCurrentItem(ListRow(list, name));
        QCOMPARE(QStringLiteral("%1 %2 %3").arg(Group("a")["group_download_priority"].AsInt())
                     .arg(Group("b").IsConnected("accept_uploads"))
                     .arg(Group("c").IsConnected("accept_uploads")),
            before);

        // No keeps the group; Yes deletes it with its memberships.
        gui::ModalAnswerer answers;
        answers.Add(gui::PressButton(QMessageBox::No));
        answers.Add(gui::PressButton(QMessageBox::Yes));
        list->setCurrentItem(ListRow(list, "D"));
        dialog->DeleteButton()->click();
        QVERIFY(Group("D"));
        dialog->DeleteButton()->click();
        QVERIFY(!Group("D"));
        QCOMPARE(answers.CountTitled(QStringLiteral("Delete group?")), 2);
        QVERIFY(!ListRow(list, "D"));
        QCOMPARE(Row(userListForm->UserList(), QStringLiteral("bob"))->text(3), QStringLiteral("a"));
        QVERIFY(list->currentItem());
        QCOMPARE(dialog->GroupBox()->title(), list->currentItem()->text());
        dialog->close();
        QVERIFY(gui::WaitFor([] { return !userGroupConfigDialog; }));
    }

    // A pushed file is taken only from a member of a group that accepts
    // uploads.
    void pushedFileIsTakenOnlyFromAcceptingGroups()
    {
        const ItemPtr bobList = FindUser(QStringLiteral("bob"))["in_user_list"];
        for (ItemPtr group : bobList.GetItems("user_list_group"))
            bobList.Disconnect(group);
        settings.Set("accept_userlist_uploads", "no");
        auto push = [&] {
            bob->Send(QStringLiteral("transfer-request alice 5 pushed\\file.txt"));
            const QString req = bob->WaitFor(QStringLiteral("transfer-req ")).section(' ', 1, 1);
            return bob->WaitFor(QStringLiteral("transfer-response alice ") + req);
        };
        QVERIFY(push().contains(QStringLiteral(" 0 0 0 Cancelled")));
        bobList.Connect(Group("c"));
        QVERIFY(!Group("c").IsConnected("accept_uploads"));
        QVERIFY(push().contains(QStringLiteral(" 0 0 0 Cancelled")));
        Group("c").Connect(d.GetType("accept_uploads")->GetGlobalNullItem());
        QVERIFY(push().startsWith(QStringLiteral("transfer-response alice")));
        QVERIFY(transferQueueManager->CanAcceptUserInitiatedUploadsFrom(QStringLiteral("bob")));
    }

    // Uploads already waiting are re-ordered when a priority or a membership
    // changes: carol's upload holds the only slot, carol's second and then
    // bob's wait; bob's group gains priority and his upload moves ahead.
    void priorityReordersWaitingQueue()
    {
        QDir(session.Home()).mkpath(QStringLiteral("share"));
        const QString slow = session.Home() + QStringLiteral("/share/slow.bin");
        const QString next = session.Home() + QStringLiteral("/share/next.bin");
        for (const QString& path : { slow, next }) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QByteArray(2 * 1024 * 1024, 'z'));
        }
        sharedFoldersManager->AddSharedFolder(session.Home() + QStringLiteral("/share"))
            .Connect(d.GetType("shared_public")->GetGlobalNullItem());
        QVERIFY(gui::WaitFor([&] { return !sharedFoldersManager->GetSharedFileItem(next).IsNull(); }));
        transferQueueManager->SetUploadSlots(1);
        transferQueueManager->SetUploadSpeedLimit(1);
        transferQueueManager->EnableUploadSpeedLimit(true);

        auto wire = [](QString path) { return path.replace(QLatin1Char('/'), QLatin1Char('\\')); };
        carol->Send(QStringLiteral("download alice %1 %2").arg(2 * 1024 * 1024).arg(wire(slow)));
        QVERIFY(gui::WaitFor([&] { return transferQueueManager->ActiveUploadCount() == 1; }));
        carol->Send(QStringLiteral("queue-download alice ") + wire(next));
        QVERIFY(gui::WaitFor([&] { return QueuedOrder(QStringLiteral("carol")) >= 0; }));
        bob->Send(QStringLiteral("queue-download alice ") + wire(next));
        QVERIFY(gui::WaitFor([&] { return QueuedOrder(QStringLiteral("bob")) >= 0; }));
        QVERIFY(QueuedOrder(QStringLiteral("carol")) < QueuedOrder(QStringLiteral("bob")));

        // bob is in group c; c gets priority 4.
        FindUser(QStringLiteral("bob"))["in_user_list"].Connect(Group("c"));
        Group("c").Connect(d.GetType("group_download_priority")->GetItem(Value(4)));
        QVERIFY(gui::WaitFor([&] { return QueuedOrder(QStringLiteral("bob")) < QueuedOrder(QStringLiteral("carol")); }));
        // Leaving the group puts him back behind carol.
        FindUser(QStringLiteral("bob"))["in_user_list"].Disconnect(Group("c"));
        QVERIFY(gui::WaitFor([&] { return QueuedOrder(QStringLiteral("carol")) < QueuedOrder(QStringLiteral("bob")); }));
        transferQueueManager->EnableUploadSpeedLimit(false);
    }
};

GUI_TEST_MAIN(TestUserGroups)
#include "tst_usergroups.moc"
