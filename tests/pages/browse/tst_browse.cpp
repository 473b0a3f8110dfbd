// The Browse page in the real main window: browsing a driver's share and
// downloading from the tab, pushing uploads from the upload browse view, and
// share lists no real share would give. Names that run backwards (a
// right-to-left override) are shown isolated, sorted and filtered by what
// they are, and asked for, pushed and saved byte for byte.
#include "gui/GuiTest.h"
#include "helper_shares.h"
#include "pages/browse/ShareForm.h"
#include "pages/browse/SharesForm.h"
#include "pages/browse/UploadForm.h"
#include "pages/search/FilterHelpDialog.h"
#include "peers/Inflate.h"
#include "peers/PeerCodes.h"
#include "peers/PeerMessenger.h"
#include "shares/SharedFoldersManager.h"
#include "shell/Kit.h"
#include "shell/TabWidget.h"
#include "shell/TreeWidgetItem.h"
#include "store/Data.h"
#include "store/Settings.h"
#include "transfers/TransferQueueManager.h"
#include <QCryptographicHash>
#include <QDirIterator>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTreeWidget>
#include <QtEndian>
#include <zlib.h>

namespace {

QByteArray Pattern(int size, char seed)
{
    QByteArray bytes(size, 0);
    for (int i = 0; i < size; ++i)
        bytes[i] = char(seed + i * 7 + i / 251);
    return bytes;
}

// The bytes of the finished download of that name, or empty.
QByteArray Completed(const QString& name)
{
    QDirIterator it(transferQueueManager->DownloadRoot() + QStringLiteral("/complete"), { name }, QDir::Files,
        QDirIterator::Subdirectories);
    if (!it.hasNext())
        return QByteArray();
    QFile file(it.next());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString Remote(QString localPath)
{
    return localPath.replace(QLatin1Char('/'), QLatin1Char('\\'));
}

// Names with a right-to-left override: "...exe.EVIL" and "exe.mp3 mubla live"
// if the override ran.
const QString kBackwardsUser = QString::fromUtf16(u"rtl\u202ELIVE.exe");
const QString kBackwardsFile = QString::fromUtf16(u"\u202Eevil album 3pm.exe");

// The row of the file list or folder tree showing that name, or null.
QTreeWidgetItem* FileRow(ShareViewBase* view, const QString& name)
{
    const auto rows = view->FileList()->findItems(IsolatedText(name), Qt::MatchExactly, 0);
    return rows.isEmpty() ? nullptr : rows.first();
}

QTreeWidgetItem* FolderRow(ShareViewBase* view, const QString& name)
{
    const auto rows
        = view->FolderTree()->findItems(IsolatedText(name), Qt::MatchExactly | Qt::MatchRecursive, 0);
    return rows.size() == 1 ? rows.first() : nullptr;
}

// A share-list message: one folder "dir" holding one file of 1 byte named
// seven letters, no attribute names; the body deflated after the code.
QByteArray OneFileList(const char* sevenLetters)
{
    const QByteArray body = QByteArray::fromHex("01000000 03000000 646972 01000000 01 07000000") + sevenLetters
        + QByteArray::fromHex("0100000000000000 00000000 00000000 00000000");
    return U32(PM_SHARED_FILE_LIST) + Deflate(body);
}

int TabOf(QWidget* page)
{
    return sharesForm->TabControl()->indexOf(page);
}

} // namespace

class TestBrowse : public QObject {
    Q_OBJECT
    gui::Session session;
    QTemporaryDir bobFiles;

    ShareForm* OpenBrowse(const QString& user)
    {
        auto* form = qobject_cast<ShareForm*>(sharesForm->OpenShareBrowse(user));
        if (!form || !gui::WaitFor([&] { return form->FolderTree()->isVisibleTo(form); }, 60000))
            return nullptr;
        return form;
    }

    void Close(QWidget* page)
    {
        QPointer<QWidget> guard(page);
        sharesForm->OnTabCloseRequested(TabOf(page));
        QVERIFY(gui::WaitFor([&] { return guard.isNull(); }));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(session.Prepare());
        QVERIFY(session.StartWindow(QStringLiteral("alice")));
        QVERIFY(sharesForm);
    }

    // Browse a share, download one file and a whole folder from the tab; a
    // second list from the same user while the tab is open changes nothing,
    // and downloads from the tab go on working.
    void browsedShareDownloadsFilesAndFolders()
    {
        const QString root = bobFiles.path() + QStringLiteral("/music");
        WriteFile(root + QStringLiteral("/single.bin"), Pattern(70000, 'a'));
        WriteFile(root + QStringLiteral("/album/one.bin"), Pattern(5000, 'b'));
        WriteFile(root + QStringLiteral("/album/disc/two.bin"), Pattern(123457, 'c'));
        WriteFile(root + QStringLiteral("/late.bin"), Pattern(999, 'd'));
        const QString odd = QString::fromUtf16(u"\u202Ekcor");
        WriteFile(root + u'/' + odd + u'/' + kBackwardsFile, Pattern(4000, 'e'));
        WriteFile(root + u'/' + odd + QString::fromUtf16(u"/\u266A song.mp3"), Pattern(10, 'f'));
        DriverProcess* bob = session.StartDriver(QStringLiteral("bob"));
        QVERIFY(bob);
        bob->Send(QStringLiteral("share-folder ") + root);
        bob->Send(QStringLiteral("wait-shares"));
        QCOMPARE(bob->WaitFor(QStringLiteral("shares-ready")), QStringLiteral("shares-ready 6"));

        ShareForm* form = OpenBrowse(QStringLiteral("bob"));
        QVERIFY(form);
        QCOMPARE(sharesForm->TabControl()->tabText(TabOf(form)), IsolatedText(QStringLiteral("bob")));
        QVERIFY(!form->MessageBrowser()->isVisibleTo(form));
        QCOMPARE(QApplication::focusWidget(), form->FolderTree());
        // Browsing again focuses the tab and asks nothing.
        QCOMPARE(sharesForm->OpenShareBrowse(QStringLiteral("bob")), form);
        QCOMPARE(sharesForm->TabControl()->count(), 1);

        form->BrowseToFolder(Remote(root));
        QVERIFY(form->FolderTree()->currentItem());
        QCOMPARE(form->FolderTree()->currentItem()->text(0), IsolatedText(QStringLiteral("music")));
        QTreeWidgetItem* single = FileRow(form, QStringLiteral("single.bin"));
        QVERIFY(single);
        QCOMPARE(single->text(1), QStringLiteral("70,000"));
        form->FileList()->setCurrentItem(single);
        form->OnDownloadFile();
        QVERIFY(!single->icon(0).isNull());

        // The engine's probe or a peer may send the list again: the tab keeps
        // its share and rows.
        const ItemPtr share = form->Share();
        const int folderRows = form->FolderTree()->topLevelItemCount();
        int lists = 0;
        auto counting = connect(peerMessenger, &PeerMessenger::UserShare, this, [&] { ++lists; });
        bob->Send(QStringLiteral("send-share alice names"));
        QVERIFY(gui::WaitFor([&] { return lists == 1; }));
        disconnect(counting);
        QCOMPARE(form->Share(), share);
        QCOMPARE(d.GetType("user")->HasItem(Value("bob"))["user_share"], share);
        QCOMPARE(form->FolderTree()->topLevelItemCount(), folderRows);

        // A whole folder, its subfolder included, chosen after the second list.
        form->BrowseToFolder(Remote(root + QStringLiteral("/album")));
        QVERIFY(form->FolderTree()->currentItem());
        form->OnDownloadFolder();
        form->BrowseToFolder(Remote(root));
        QTreeWidgetItem* late = FileRow(form, QStringLiteral("late.bin"));
        QVERIFY(late);
        form->OnFileDoubleClicked(late, 0);

        // A folder and a file whose names run backwards: shown isolated, the
        // file sorted by its name (the override before the note sign), and
        // asked for and saved under that name.
        form->BrowseToFolder(Remote(root + u'/' + odd));
        QVERIFY(gui::ShowsIsolated(form->FolderTree()->currentItem()->text(0), odd));
        QCOMPARE(form->FileList()->topLevelItemCount(), 2);
        QTreeWidgetItem* backwards = form->FileList()->topLevelItem(0);
        QVERIFY(gui::ShowsIsolated(backwards->text(0), kBackwardsFile));
        QCOMPARE(form->FileOfRow(backwards)["user_share_file_name"].AsString(), kBackwardsFile);
        form->OnFileDoubleClicked(backwards, 0);

        for (const auto& [name, bytes] : { std::pair(QStringLiteral("single.bin"), Pattern(70000, 'a')),
                 std::pair(QStringLiteral("one.bin"), Pattern(5000, 'b')),
                 std::pair(QStringLiteral("two.bin"), Pattern(123457, 'c')),
                 std::pair(QStringLiteral("late.bin"), Pattern(999, 'd')),
                 std::pair(kBackwardsFile, Pattern(4000, 'e')) }) {
            QVERIFY2(gui::WaitFor([&] { return Completed(name) == bytes; }, 60000), qPrintable(name));
        }
        // The folder keeps its subfolder under it.
        const QString complete = transferQueueManager->DownloadRoot() + QStringLiteral("/complete/");
        QVERIFY(QFile::exists(complete + QStringLiteral("album/one.bin")));
        QVERIFY(QFile::exists(complete + QStringLiteral("album/disc/two.bin")));
        Close(form);
        QVERIFY(!d.GetType("user")->HasItem(Value("bob"))["user_share"]);
        QCOMPARE(d.GetType("user_share_folder_node")->Count(), size_t(0));
        QCOMPARE(d.GetType("user_share_file_node")->Count(), size_t(0));
    }

    // One's own file pushed from the upload browse view; the driver accepts
    // pushes from us and downloads it.
    void uploadBrowsePushesFile()
    {
        QTemporaryDir mine;
        const QString root = mine.path() + QStringLiteral("/outbox");
        WriteFile(root + QStringLiteral("/pushed.bin"), Pattern(40000, 'p'));
        WriteFile(root + QStringLiteral("/inner/also.bin"), Pattern(300, 'q'));
        WriteFile(root + u'/' + kBackwardsUser, Pattern(700, 'r'));
        QSignalSpy scanned(sharedFoldersManager, &SharedFoldersManager::SharedFolderScanned);
        sharedFoldersManager->AddSharedFolder(root) += d.GetType("shared_public")->GetGlobalNullItem();
        QVERIFY(scanned.wait(20000));

        // Pushed to a user whose name runs backwards.
        DriverProcess* carol = session.StartDriver(kBackwardsUser);
        QVERIFY(carol);
        carol->Send(QStringLiteral("accept-pushes alice"));
        QVERIFY(carol->Sync());

        auto* form = qobject_cast<UploadForm*>(sharesForm->OpenUploadBrowse(kBackwardsUser));
        QVERIFY(form);
        QCOMPARE(sharesForm->TabControl()->tabText(TabOf(form)),
            QStringLiteral("Upload to ") + IsolatedText(kBackwardsUser));
        QVERIFY(gui::WaitFor([&] { return form->FolderTree()->isVisibleTo(form); }));
        QCOMPARE(sharesForm->OpenUploadBrowse(kBackwardsUser), form);

        QTreeWidgetItem* outbox = FolderRow(form, QStringLiteral("outbox"));
        QVERIFY(outbox);
        form->FolderTree()->setCurrentItem(outbox);
        QVERIFY(gui::ShowsIsolated(FileRow(form, kBackwardsUser)->text(0), kBackwardsUser));
        QTreeWidgetItem* row = FileRow(form, QStringLiteral("pushed.bin"));
        QVERIFY(row);
        row->setSelected(true);
        // Another view's action leaves this one alone.
        form->OnActionBarTriggered(form->FolderTree(), QStringLiteral("upload_share_file"));
        QVERIFY(row->icon(0).isNull());
        form->OnActionBarTriggered(form->FileList(), QStringLiteral("upload_share_file"));
        QVERIFY(!row->icon(0).isNull());

        // And a whole folder, subfolders included.
        QVERIFY(FolderRow(form, QStringLiteral("inner")));
        form->FolderTree()->setCurrentItem(outbox);
        form->OnActionBarTriggered(form->FolderTree(), QStringLiteral("upload_share_folder"));

        for (const auto& [name, bytes] : { std::pair(QStringLiteral("pushed.bin"), Pattern(40000, 'p')),
                 std::pair(QStringLiteral("also.bin"), Pattern(300, 'q')),
                 std::pair(kBackwardsUser, Pattern(700, 'r')) }) {
            const QString expected = QStringLiteral("complete-file %1 %2 %3")
                                         .arg(bytes.size())
                                         .arg(QString::fromLatin1(
                                             QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex()))
                                         .arg(name);
            QVERIFY2(gui::WaitFor([&] {
                carol->Send(QStringLiteral("complete-file ") + name);
                return carol->WaitFor(QStringLiteral("complete-file")) == expected;
            }, 60000),
                qPrintable(name));
        }
        Close(form);
        QCOMPARE(d.GetType("user_share")->Count(), size_t(0));

        // A folder of thousands pushed to a user who is away: the window
        // answers while they are queued, a slice at a time, and every row
        // listed is marked.
        constexpr int kMany = 2000;
        for (int k = 0; k < kMany; ++k)
            WriteFile(mine.path() + QStringLiteral("/crowd/%1.bin").arg(k), "x");
        sharedFoldersManager->AddSharedFolder(mine.path() + QStringLiteral("/crowd"))
            += d.GetType("shared_public")->GetGlobalNullItem();
        QVERIFY(gui::WaitFor([&] { return scanned.size() == 2; }, 60000));
        form = qobject_cast<UploadForm*>(sharesForm->OpenUploadBrowse(QStringLiteral("dora")));
        QVERIFY(form && gui::WaitFor([&] { return form->FolderTree()->isVisibleTo(form); }));
        form->FolderTree()->setCurrentItem(FolderRow(form, QStringLiteral("crowd")));
        QVERIFY(gui::WaitFor([&] { return form->FileList()->topLevelItemCount() == kMany; }));
        const ItemPtr dora = d.GetType("user")->GetItem(Value("dora"));
        int turnsPartly = 0;
        QTimer watch;
        connect(&watch, &QTimer::timeout, [&] {
            const size_t queued = dora.CountItems("upload_entry");
            turnsPartly += queued > 0 && queued < size_t(kMany);
        });
        watch.start(0);
        form->OnActionBarTriggered(form->FolderTree(), QStringLiteral("upload_share_folder"));
        QVERIFY(gui::WaitFor([&] { return dora.CountItems("upload_entry") == size_t(kMany); }));
        QVERIFY(turnsPartly > 0);
        QVERIFY(gui::WaitFor([&] {
            for (int k = 0; k < kMany; ++k) {
                if (form->FileList()->topLevelItem(k)->icon(0).isNull())
                    return false;
            }
            return true;
        }));
        for (ItemPtr upload : dora.GetItems("upload_entry"))
            transferQueueManager->RemoveUpload(upload);
        Close(form);
    }

    // Items of a list and the rules of the view over them, without a peer:
    // parent links, attributes, full sizes; pending and exact folder lookup,
    // the expand levels and a filter whose words the folder names consume.
    void viewExpandsAndFiltersListItems()
    {
        auto file = [](const std::string& name, qint64 size, std::vector<std::pair<quint32, quint32>> attributes) {
            FileInfo info;
            info.name = name;
            info.size = size;
            info.attributes.attributes = std::move(attributes);
            return info;
        };
        FileInfoMap list;
        list["A"].insert(file("big.iso", 5000000000LL, {}));
        list["A\\rock"].insert(file("live one.mp3", 10, { { 2, 5 }, { 0, 192 }, { 7, 1 } }));
        list["A\\rock"].insert(file("studio.mp3", 20, { { 2, 0 } }));
        list["A\\rock"].insert(file("live two.mp3", 30, {}));
        list["X\\D"].insert(file("d.txt", 1, {}));
        list["loose"];
        list["loose\\inner"];
        AttributeTranslationTable table;
        settings.Set("expand_new_shares", "no");
        ShareForm* form = qobject_cast<ShareForm*>(sharesForm->OpenShareBrowse(QStringLiteral("nobody")));
        QVERIFY(form);
        // A failed file connection, or another user's, says nothing here.
        const QString requesting = form->MessageBrowser()->toPlainText();
        emit peerMessenger->ConnectionToUserFailed(QStringLiteral("nobody"), QStringLiteral("F"));
        emit peerMessenger->ConnectionToUserFailed(QStringLiteral("somebody"), QStringLiteral("P"));
        QCOMPARE(requesting, QStringLiteral("Requesting file list..."));
        QCOMPARE(form->MessageBrowser()->toPlainText(), requesting);
        // Nobody is online under that name: asking for the list fails, once,
        // with a link to test one's port.
        const QString failed = QStringLiteral("A connection could not be successfully formed to the user.");
        QVERIFY(gui::WaitFor([&] { return form->MessageBrowser()->toPlainText().contains(failed); }));
        QVERIFY(form->MessageBrowser()->toHtml().contains(QStringLiteral("porttest.php?port=")));
        emit peerMessenger->ConnectionToUserFailed(QStringLiteral("nobody"), QStringLiteral("P"));
        QCOMPARE(form->MessageBrowser()->toPlainText().count(failed), 1);
        // A list that comes after all is still shown.
        form->BrowseToFolder(QStringLiteral("A\\rock"));
        ItemPtr share = SharesForm::CreateUserShareData(list, table);
        d.GetType("user")->GetItem(Value("nobody")) += share;
        form->SetShare(share);
        QVERIFY(gui::WaitFor([&] { return form->FolderTree()->isVisibleTo(form); }));
        settings.Set("expand_new_shares", "yes");

        // A, loose and D (its parent X is not in the list) are top rows, in the
        // order of their paths.
        QStringList tops;
        for (int i = 0; i < form->FolderTree()->topLevelItemCount(); ++i)
            tops << form->FolderTree()->topLevelItem(i)->text(0);
        QCOMPARE(tops, QStringList({ IsolatedText("A"), IsolatedText("loose"), IsolatedText("D") }));
        QTreeWidgetItem* loose = form->FolderTree()->topLevelItem(1);
        QVERIFY(!loose->isExpanded());
        // The folder asked for before the share came is chosen now.
        QTreeWidgetItem* rock = form->FolderTree()->currentItem();
        QVERIFY(rock);
        QCOMPARE(rock->text(0), IsolatedText(QStringLiteral("rock")));
        QCOMPARE(rock->parent()->text(0), IsolatedText(QStringLiteral("A")));
        QCOMPARE(form->FileList()->topLevelItemCount(), 3);
        ItemPtr live = form->FileOfRow(FileRow(form, QStringLiteral("live one.mp3")));
        QCOMPARE(live["bitrate_mode"].AsString(), QStringLiteral("vbr"));
        QCOMPARE(live["bitrate"].AsInt(), 192);
        QCOMPARE(form->FileOfRow(FileRow(form, QStringLiteral("studio.mp3")))["bitrate_mode"].AsString(),
            QStringLiteral("cbr"));
        // Paths are matched exactly.
        form->BrowseToFolder(QStringLiteral("a\\rock"));
        QCOMPARE(form->FolderTree()->currentItem(), rock);
        form->BrowseToFolder(QStringLiteral("A"));
        QCOMPARE(FileRow(form, QStringLiteral("big.iso"))->text(1), QStringLiteral("5,000,000,000"));

        // Depth 1: one level to open, then nothing more.
        form->ExpandLevel();
        QVERIFY(loose->isExpanded());
        form->ExpandLevel();
        form->CollapseAll();
        QVERIFY(!loose->isExpanded());

        // "rock" is consumed by the folder's name; "live" must be in the file's.
        form->FilterEdit()->setText(QStringLiteral("live rock"));
        QVERIFY(!rock->isHidden());
        QVERIFY(form->FolderTree()->topLevelItem(2)->isHidden());
        form->FolderTree()->setCurrentItem(rock);
        QCOMPARE(form->FileList()->topLevelItemCount(), 2);
        QVERIFY(!FileRow(form, QStringLiteral("studio.mp3")));
        // A folder must show enough matching files.
        form->FilterEdit()->setText(QStringLiteral("rock minfilesinfolder:3"));
        QVERIFY(!rock->isHidden());
        form->FilterEdit()->setText(QStringLiteral("live minfilesinfolder:3"));
        QVERIFY(rock->isHidden());
        QCOMPARE(form->FileList()->topLevelItemCount(), 0);
        form->FilterEdit()->clear();
        form->OnFilterHelpClicked();
        QVERIFY(filterHelpDialog && filterHelpDialog->isVisible());
        filterHelpDialog->close();
        Close(form);
        QCOMPARE(d.GetType("user_share")->Count(), size_t(0));
    }

    // Lists no real share gives: a folder chain ten thousand deep, markup and
    // "&" in names, a filter that hides the chosen folder.
    void hostileListsShowSafelyAndTouchNoFreedRow()
    {
        DriverProcess* deep = session.StartDriver(QStringLiteral("deep&<b>x</b>"));
        QVERIFY(deep);
        deep->Send(QStringLiteral("serve-share deep 10000"));
        QVERIFY(!deep->WaitFor(QStringLiteral("serving-share")).isEmpty());
        ShareForm* form = OpenBrowse(QStringLiteral("deep&<b>x</b>"));
        QVERIFY(form);
        QCOMPARE(sharesForm->TabControl()->tabBar()->tabText(TabOf(form)),
            PlainLabel(IsolatedText(QStringLiteral("deep&<b>x</b>"))));
        QString bottom = QStringLiteral("deep");
        for (int i = 1; i < 10000; ++i)
            bottom += QStringLiteral("\\d");
        form->BrowseToFolder(bottom);
        QVERIFY(FileRow(form, QStringLiteral("bottom.txt")));
        form->CollapseAll();
        form->ExpandAll();
        form->FilterEdit()->setText(QStringLiteral("bottom"));
        QVERIFY(FileRow(form, QStringLiteral("bottom.txt")));
        form->FilterEdit()->setText(QStringLiteral("-deep"));
        QCOMPARE(form->FileList()->topLevelItemCount(), 0);
        QCOMPARE(d.GetType("user_share_file_node")->Count(), size_t(0));
        Close(form);

        DriverProcess* names = session.StartDriver(QStringLiteral("names"));
        QVERIFY(names);
        // Nothing shared yet: the tab says so and shows no tree.
        auto* nothing = qobject_cast<ShareForm*>(sharesForm->OpenShareBrowse(QStringLiteral("names")));
        QVERIFY(nothing);
        QVERIFY(gui::WaitFor([&] {
            return nothing->MessageBrowser()->toPlainText().contains(
                QStringLiteral("No files returned. The user is either not sharing any files, or is sharing all of "
                               "their files privately."));
        }));
        QVERIFY(nothing->MessageBrowser()->isVisibleTo(nothing));
        QVERIFY(!nothing->FolderTree()->isVisibleTo(nothing));
        Close(nothing);
        // A list that inflates past the cap is refused, and the tab says so.
        auto* refused = qobject_cast<ShareForm*>(sharesForm->OpenShareBrowse(QStringLiteral("bomber")));
        QVERIFY(refused);
        QByteArray zeros(kMaxInflatedSize + 1, '\0');
        uLongf packedSize = compressBound(uLong(zeros.size()));
        QByteArray bomb(4 + qsizetype(packedSize), '\0');
        qToLittleEndian<quint32>(PM_SHARED_FILE_LIST, bomb.data());
        compress(reinterpret_cast<Bytef*>(bomb.data() + 4), &packedSize, reinterpret_cast<const Bytef*>(zeros.constData()),
            uLong(zeros.size()));
        zeros.clear();
        bomb.truncate(4 + qsizetype(packedSize));
        peerMessenger->ProcessMessage(QStringLiteral("bomber"), bomb);
        QVERIFY(gui::WaitFor([&] {
            return refused->MessageBrowser()->toPlainText().contains(
                QStringLiteral("The file list that came from the user was refused: inflates to more than"));
        }));
        QVERIFY(!refused->FolderTree()->isVisibleTo(refused));
        Close(refused);
        // A tab closed and opened again while the list of the first request is
        // still being read shows the list that answers the second.
        const QString swapper = QStringLiteral("swapper");
        auto* closed = qobject_cast<ShareForm*>(sharesForm->OpenShareBrowse(swapper));
        peerMessenger->ProcessMessage(swapper, OneFileList("old.bin"));
        sharesForm->OnTabCloseRequested(TabOf(closed));
        auto* reopened = qobject_cast<ShareForm*>(sharesForm->OpenShareBrowse(swapper));
        peerMessenger->ProcessMessage(swapper, OneFileList("new.bin"));
        QVERIFY(gui::WaitFor([&] { return reopened->FolderTree()->isVisibleTo(reopened); }));
        reopened->BrowseToFolder(QStringLiteral("dir"));
        QVERIFY(FileRow(reopened, QStringLiteral("new.bin")));
        QVERIFY(!FileRow(reopened, QStringLiteral("old.bin")));
        Close(reopened);
        names->Send(QStringLiteral("serve-share names"));
        QVERIFY(!names->WaitFor(QStringLiteral("serving-share")).isEmpty());
        form = OpenBrowse(QStringLiteral("names"));
        QVERIFY(form);
        form->BrowseToFolder(QStringLiteral("music\\<font color=red>red"));
        QVERIFY(form->FolderTree()->currentItem());
        QCOMPARE(form->FolderTree()->currentItem()->text(0), IsolatedText(QStringLiteral("<font color=red>red")));
        QVERIFY(FileRow(form, QStringLiteral("<i>tilted</i>.mp3")));
        form->BrowseToFolder(QStringLiteral("music\\a&b"));
        QVERIFY(FileRow(form, QStringLiteral("a&b.txt")));
        // The chosen folder hidden by the filter: its rows and their nodes go,
        // and queueing the folder afterwards touches no freed row.
        ItemPtr chosen = form->FolderOfRow(form->FolderTree()->currentItem());
        form->FilterEdit()->setText(QStringLiteral("-a&b"));
        QVERIFY(form->FolderTree()->currentItem()->isHidden());
        QCOMPARE(form->FileList()->topLevelItemCount(), 0);
        QCOMPARE(d.GetType("user_share_file_node")->Count(), size_t(0));
        form->DownloadFolder(chosen, false);
        Close(form);
        // Names of any length are shown cut.
        names->Send(QStringLiteral("serve-share long"));
        QVERIFY(!names->WaitFor(QStringLiteral("serving-share")).isEmpty());
        form = OpenBrowse(QStringLiteral("names"));
        QVERIFY(form);
        form->BrowseToFolder(QStringLiteral("music\\") + QString(20000, QLatin1Char('L')));
        QVERIFY(form->FolderTree()->currentItem()->text(0).size() < 2000);
        QTreeWidgetItem* longRow = form->FileList()->topLevelItem(0);
        QVERIFY(longRow && longRow->text(0).size() < 2000);
        Close(form);

        // Folders of many files fill the list in slices, its rows in its
        // order all along (here the largest first, after clicks on the size
        // column); choosing another folder meanwhile leaves exactly the new
        // folder's rows and nodes. A click on the name column sorts them.
        names->Send(QStringLiteral("serve-share files 2 30000"));
        QVERIFY(!names->WaitFor(QStringLiteral("serving-share")).isEmpty());
        form = OpenBrowse(QStringLiteral("names"));
        QVERIFY(form);
        QTreeWidget* list = form->FileList();
        QHeaderView* header = list->header();
        const auto sortBy = [&](int column, Qt::SortOrder order) {
            const auto sorted = [&] {
                return header->sortIndicatorSection() == column && header->sortIndicatorOrder() == order;
            };
            for (int k = 0; k < 2 && !sorted(); ++k) {
                QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                    QPoint(header->sectionViewportPosition(column) + 5, header->height() / 2));
            }
            return sorted();
        };
        QVERIFY(sortBy(1, Qt::DescendingOrder));
        bool inOrder = true;
        const auto filled = [&] {
            for (int k = 1; k < list->topLevelItemCount(); ++k) {
                inOrder = inOrder
                    && TreeWidgetItem::DigitsValue(list->topLevelItem(k - 1)->text(1))
                        > TreeWidgetItem::DigitsValue(list->topLevelItem(k)->text(1));
            }
            return list->topLevelItemCount() == 30000;
        };
        form->BrowseToFolder(QStringLiteral("share\\artist 0\\album 0"));
        form->BrowseToFolder(QStringLiteral("share\\artist 0\\album 1"));
        QVERIFY(!filled());
        QVERIFY(gui::WaitFor(filled));
        QVERIFY(inOrder);
        QCOMPARE(d.GetType("user_share_file_node")->Count(), size_t(30000));
        QCOMPARE(list->topLevelItem(0)->text(0), IsolatedText(QStringLiteral("track 29999.mp3")));
        QVERIFY(sortBy(0, Qt::AscendingOrder));
        QCOMPARE(list->topLevelItem(0)->text(0), IsolatedText(QStringLiteral("track 0.mp3")));
        QCOMPARE(list->topLevelItem(1)->text(0), IsolatedText(QStringLiteral("track 1.mp3")));
        Close(form);
    }
};

GUI_TEST_MAIN(TestBrowse)
#include "tst_browse.moc"
