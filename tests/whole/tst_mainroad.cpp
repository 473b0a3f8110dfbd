// The main road through the whole window, as a user walks it: log in, share a
// folder, search, filter, download a file and a folder from the results,
// browse another user's share, chat in a room and privately, keep that user
// in the list with a group and a note, read their information, push them an
// upload, quit, and find it all again after a restart. The other user's
// names and texts carry markup, "&", "%1", separators and control
// characters: they show as text and nothing lands outside the client's
// folders.
#include "gui/GuiTest.h"
#include "helper_chat.h"
#include "helper_search.h"
#include "helper_shares.h"
#include "helper_users.h"
#include "helper_whole.h"
#include "pages/browse/ShareForm.h"
#include "pages/browse/SharesForm.h"
#include "pages/browse/UploadForm.h"
#include "pages/chat/ChatForm.h"
#include "pages/chat/ChatsForm.h"
#include "pages/chat/RoomForm.h"
#include "pages/chat/RoomsForm.h"
#include "pages/search/SearchForm.h"
#include "pages/search/SearchResultMenuOptions.h"
#include "pages/search/SearchResultsForm.h"
#include "pages/users/UserInfoForm.h"
#include "pages/users/UserListForm.h"
#include "pages/users/UserNoteDialog.h"
#include "shares/SharedFoldersManager.h"
#include "shell/Kit.h"
#include "shell/TabWidget.h"
#include "store/Data.h"
#include "store/Settings.h"
#include "transfers/TransferQueueManager.h"
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableView>
#include <QTextEdit>
#include <QTreeWidget>

namespace {

const QString kFolder = QStringLiteral("Road & <b>%1<br> %1").arg(whole::kMark);
const QString kFile = QStringLiteral("tune <i>%1<br> & %1.bin").arg(whole::kMark);
const QString kNote = QStringLiteral("<b>%1</b> & %1 note").arg(whole::kMark);
const QString kGroup = QStringLiteral("friends & <i>co</i>");
const QByteArray kSentinel("left alone\n");

QByteArray Bytes(int n, char c)
{
    QByteArray out(n, c);
    for (int i = 0; i < n; i += 97)
        out[i] = char(i & 0x7f);
    return out;
}

QAction* MenuEntry(QMenu& menu, const QString& text)
{
    for (QAction* action : menu.actions())
        if (action->text() == text)
            return action;
    return nullptr;
}

bool WaitComplete(const QString& user, const QString& name, const std::string& folder)
{
    return gui::WaitFor([&] {
        ItemPtr entry = transferQueueManager->GetDownloadEntry(user, name.toStdString(), folder);
        return entry && entry["download_entry_status"].AsString() == QLatin1String("complete");
    }, 60000);
}

// The row of a browse view showing the name (isolated, as others' names are).
QTreeWidgetItem* FindIn(QTreeWidget* tree, const QString& name)
{
    const auto found = tree->findItems(IsolatedText(name), Qt::MatchExactly | Qt::MatchRecursive, 0);
    return found.isEmpty() ? nullptr : found.first();
}

} // namespace

// After the restart: the settings, the user list with its group and note, the
// downloads and the wish list are as the first run left them.
GUI_CHILD_ROLE(verify_restart)
{
    gui::Session session;
    gui::ModalAnswerer answers;
    if (!session.Prepare() || !session.StartWindow(QStringLiteral("alice")))
        return 1;
    auto fail = [](const char* what) {
        qWarning("after the restart: %s", what);
        return 2;
    };
    if (settings.Get("chat_timestamps") != QLatin1String("per_message_short"))
        return fail("setting");
    ItemPtr bob = FindUser(QStringLiteral("bob"));
    if (!bob || !bob.IsConnected("in_user_list") || !Row(userListForm->UserList(), QStringLiteral("bob")))
        return fail("user list");
    if (Row(userListForm->UserList(), QStringLiteral("bob"))->text(3) != kGroup)
        return fail("group");
    if (bob["user_note"].AsString() != kNote)
        return fail("note");
    if (d.GetType("download_entry")->Count() < 3)
        return fail("downloads");
    if (!d.GetType("wish_list_item")->HasItem(Value(QStringLiteral("tune"))))
        return fail("wish list");
    if (answers.CountTitled(QStringLiteral("Error loading configuration data")) != 0)
        return fail("data file");
    session.CloseWindow();
    return 0;
}

class TestMainRoad : public QObject {
    Q_OBJECT
    gui::Session session;
    QTemporaryDir files;

private slots:
    void mainRoad();
};

void TestMainRoad::mainRoad()
{
    const QString bobRoot = files.filePath(QStringLiteral("bob"));
    WriteFile(bobRoot + u'/' + kFolder + u'/' + kFile, Bytes(70000, 'a'));
    WriteFile(bobRoot + u'/' + kFolder + QStringLiteral("/tune two.bin"), Bytes(3000, 'b'));
    WriteFile(bobRoot + QStringLiteral("/Other/tune one.bin"), Bytes(5000, 'c'));
    WriteFile(bobRoot + QStringLiteral("/Other/tune three.bin"), Bytes(900, 'e'));
    WriteFile(bobRoot + QStringLiteral("/Other/a\\b\x01 tune.bin"), Bytes(100, 'd'));

    // Log in and share a folder.
    QVERIFY(session.Prepare());
    const QString home = session.Home();
    WriteFile(home + QStringLiteral("/keep.txt"), kSentinel);
    gui::UrlCatcher urls;
    QVERIFY(session.StartWindow(QStringLiteral("alice")));
    session.Window()->resize(1200, 760);
    const QString mine = home + QStringLiteral("/outbox");
    WriteFile(mine + QStringLiteral("/pushed.bin"), Bytes(40000, 'p'));
    QSignalSpy scanned(sharedFoldersManager, &SharedFoldersManager::SharedFolderScanned);
    sharedFoldersManager->AddSharedFolder(mine) += d.GetType("shared_public")->GetGlobalNullItem();
    QVERIFY(scanned.wait(20000));
    const QSet<QString> before = whole::FilesUnder(home);
    settings.Set("chat_timestamps", "per_message_short");

    DriverProcess* bob = session.StartDriver(QStringLiteral("bob"));
    QVERIFY(bob);
    bob->Send(QStringLiteral("share-folder ") + bobRoot);
    bob->Send(QStringLiteral("wait-shares"));
    QCOMPARE(bob->WaitFor(QStringLiteral("shares-ready")), QStringLiteral("shares-ready 5"));

    // Search, filter, and download a file and a folder from the results.
    SearchResultsForm* tab = searchtest::Search(QStringLiteral("tune"));
    QVERIFY(tab);
    QVERIFY(searchtest::WaitForFiles(tab, 5));
    QTreeWidgetItem* hostile = searchtest::FindRow(tab, kFile);
    QVERIFY2(hostile, qPrintable(searchtest::Rows(tab).join(u'\n')));
    tab->filterEdit()->setText(QStringLiteral("-one"));
    QVERIFY(!searchtest::VisibleFiles(tab).contains(QStringLiteral("tune one.bin")));
    QVERIFY(searchtest::VisibleFiles(tab).contains(kFile));
    tab->filterEdit()->clear();
    const std::string hostileFolder = SearchResultsForm::ResultOfRow(hostile)["search_result_file_folder"].Text();
    tab->OnResultDoubleClicked(hostile, 4);
    QVERIFY(WaitComplete(QStringLiteral("bob"), kFile, hostileFolder));
    ItemPtr entry = transferQueueManager->GetDownloadEntry(QStringLiteral("bob"), kFile.toStdString(), hostileFolder);
    const QString target = QString(transferQueueManager->GetDownloadTargetPath(entry, true)).replace(u'\\', u'/');
    QVERIFY2(QDir::cleanPath(target).startsWith(settings.Get("download_folder") + u'/'), qPrintable(target));
    QCOMPARE(searchtest::ReadWholeFileBytes(target), Bytes(70000, 'a'));

    QTreeWidgetItem* one = searchtest::FindRow(tab, QStringLiteral("tune one.bin"));
    QVERIFY(one);
    tab->searchResults()->clearSelection();
    one->setSelected(true);
    {
        QMenu menu;
        SearchResultMenuOptions options(&menu, one);
        QAction* folder = MenuEntry(menu, QStringLiteral("Download Folder(s)"));
        QVERIFY(folder);
        folder->trigger();
    }
    const std::string otherFolder = SearchResultsForm::ResultOfRow(one)["search_result_file_folder"].Text();
    QVERIFY(WaitComplete(QStringLiteral("bob"), QStringLiteral("tune one.bin"), otherFolder));
    QVERIFY(WaitComplete(QStringLiteral("bob"), QStringLiteral("tune three.bin"), otherFolder));
    // The search becomes a wish.
    searchtest::Trigger(tab, QStringLiteral("add_remove_wishlist"));
    QVERIFY(d.GetType("wish_list_item")->HasItem(Value(QStringLiteral("tune"))));

    // Browse bob's share: names shown as they are.
    auto* browse = qobject_cast<ShareForm*>(sharesForm->OpenShareBrowse(QStringLiteral("bob")));
    QVERIFY(browse);
    QVERIFY(gui::WaitFor([&] { return browse->FolderTree()->isVisibleTo(browse) && FindIn(browse->FolderTree(), kFolder); }, 60000));

    // A room, then a private chat, both ways.
    const QString hostileLine = whole::HostileTexts().first();
    bob->Send(QStringLiteral("join lobby"));
    QVERIFY(!bob->WaitFor(QStringLiteral("joined lobby")).isEmpty());
    QVERIFY(chat_test::Trigger(roomsForm->roomList, QStringLiteral("room_list"), QStringLiteral("refresh_room_list")));
    QVERIFY(gui::WaitFor([] { return chat_test::RoomRow(QStringLiteral("lobby")).has_value(); }));
    emit roomsForm->roomList->doubleClicked(chat_test::RoomRow(QStringLiteral("lobby"))->index);
    RoomForm* room = chat_test::WaitRoomTab(QStringLiteral("lobby"));
    QVERIFY(room);
    QVERIFY(gui::WaitFor([&] { return room->Row(QStringLiteral("bob")) != nullptr; }));
    bob->Send(QStringLiteral("say lobby ") + hostileLine);
    QVERIFY(gui::WaitFor([&] { return room->chatView->toPlainText().contains(hostileLine.left(40)); }));
    room->chatEdit->setText(QStringLiteral("hello room"));
    QTest::keyClick(room->chatEdit, Qt::Key_Return);
    QVERIFY(!bob->WaitFor(QStringLiteral("room-chat lobby alice hello room")).isEmpty());

    bob->Send(QStringLiteral("message alice ") + hostileLine);
    QVERIFY(gui::WaitFor([] { return chat_test::Tab<ChatForm>(chatsForm->chatTabControl, QStringLiteral("bob")); }));
    ChatForm* chat = chat_test::Tab<ChatForm>(chatsForm->chatTabControl, QStringLiteral("bob"));
    QVERIFY(gui::WaitFor([&] { return chat->chatView->toPlainText().contains(hostileLine.left(40)); }));
    chat->chatEdit->setText(QStringLiteral("hi bob"));
    QTest::keyClick(chat->chatEdit, Qt::Key_Return);
    QVERIFY(!bob->WaitFor(QStringLiteral("private-message alice hi bob")).isEmpty());

    // Bob in the user list, with a group and a note; his information.
    AddToList(QStringLiteral("bob"));
    FindUser(QStringLiteral("bob"))["in_user_list"].Connect(d.GetType("user_list_group")->GetItem(Value(kGroup)));
    UserNoteDialog::SetUserNote(QStringLiteral("bob"), kNote);
    QVERIFY(gui::WaitFor([] {
        QTreeWidgetItem* row = Row(userListForm->UserList(), QStringLiteral("bob"));
        return row && row->text(3) == kGroup && row->text(4) == kNote;
    }));
    UserInfoForm* info = userListForm->GetUserInfoForm(QStringLiteral("bob"));
    QVERIFY(info);
    QVERIFY(!bob->WaitFor(QStringLiteral("user-info-requested alice")).isEmpty());
    bob->Send(QStringLiteral("send-user-info alice 3 7 1 shares & more"));
    QVERIFY(gui::WaitFor([&] { return info->UploadSlotsEdit()->text() == QLatin1String("3"); }));
    QCOMPARE(info->QueuedUploadsEdit()->text(), QStringLiteral("7"));

    // Push bob an upload from the upload browse view.
    bob->Send(QStringLiteral("accept-pushes alice"));
    QVERIFY(bob->Sync());
    auto* upload = qobject_cast<UploadForm*>(sharesForm->OpenUploadBrowse(QStringLiteral("bob")));
    QVERIFY(upload);
    QVERIFY(gui::WaitFor([&] { return upload->FolderTree()->isVisibleTo(upload) && FindIn(upload->FolderTree(), QStringLiteral("outbox")); }));
    upload->FolderTree()->setCurrentItem(FindIn(upload->FolderTree(), QStringLiteral("outbox")));
    QVERIFY(gui::WaitFor([&] { return FindIn(upload->FileList(), QStringLiteral("pushed.bin")); }));
    FindIn(upload->FileList(), QStringLiteral("pushed.bin"))->setSelected(true);
    upload->OnActionBarTriggered(upload->FileList(), QStringLiteral("upload_share_file"));
    QVERIFY(gui::WaitFor([&] {
        bob->Send(QStringLiteral("complete-file pushed.bin"));
        return bob->WaitFor(QStringLiteral("complete-file")).startsWith(QStringLiteral("complete-file 40000 "));
    }, 60000));

    // A picture of the window on the search page, for looking at it by eye.
    session.Window()->Ui().tabControl->setCurrentWidget(session.Window()->Ui().searchTab);
    searchForm->searchTabControl()->setCurrentWidget(tab);
    searchtest::Shot(QStringLiteral("main-window"), session.Window());

    // Every page shows the peer's texts as text.
    const QStringList markup = whole::MarkupFaults();
    QVERIFY2(markup.isEmpty(), qPrintable(markup.join(u'\n')));

    // Quit; nothing was written outside the client's folders; start again.
    session.CloseWindow();
    const QStringList stray = whole::StrayFiles(home, before);
    QVERIFY2(stray.isEmpty(), qPrintable(stray.join(u'\n')));
    QCOMPARE(searchtest::ReadWholeFileBytes(home + QStringLiteral("/keep.txt")), kSentinel);
    QCOMPARE(session.RunChild("verify_restart"), 0);
}

GUI_TEST_MAIN(TestMainRoad)
#include "tst_mainroad.moc"
