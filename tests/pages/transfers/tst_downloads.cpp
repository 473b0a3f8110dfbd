// Downloads from headless clients as the window shows them: queued while the
// sharer is away (with completion alerts asked for through the menu), then
// moving, complete and byte-identical in "complete"; names with markup, "&" or
// a right-to-left override shown as they are, isolated, and saved under the
// exact name; a refused download and one that can't be written, with their
// reasons; names and a refusal too long for a row, cut; a pushed file the
// window has, one row; "Clear Complete"; the list of completed downloads,
// newest first; opening a finished file; a partial file removed and a
// complete folder that can't be written, named.
#include "gui/GuiTest.h"
#include "helper_transfercore.h"
#include "helper_transferpage.h"
#include "pages/transfers/CompleteDownloadsForm.h"
#include "pages/transfers/TransfersForm.h"
#include "shell/EventToolBar.h"
#include "shell/Kit.h"
#include "shell/TabWidget.h"
#include "shell/TreeWidget.h"
#include "Ui_MainWindow.h"
#include "store/Data.h"
#include "store/Settings.h"
#include "transfers/TransferQueueManager.h"
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>

namespace {

// Markup and "&" (a name holds no "/" on this system).
const QString kHostile = QStringLiteral("<b>x&amp;y<img src=q>.txt");
// A right-to-left override that would show the name as "exe.mp3 mubla live".
const QString kBackwards = QString::fromUtf16(u"\u202Eevil album 3pm.exe");

std::string Remote(const QString& local)
{
    return QString(local).replace(QLatin1Char('/'), QLatin1Char('\\')).toStdString();
}

QString Status(ItemPtr entry)
{
    QTreeWidgetItem* row = TransfersForm::DownloadRow(entry);
    return row ? row->text(3) : QString();
}

} // namespace

class TestDownloads : public QObject {
    Q_OBJECT
    gui::Session session;
    TransfersForm* form = nullptr;
    TreeWidget* downloads = nullptr;
    DriverProcess* bob = nullptr;
    QString share;
    std::map<QString, QByteArray> files; // by name
    std::vector<ItemPtr> entries;

private slots:
    void initTestCase();
    void downloadsCompleteWithAlertsUnderTheirExactNames();
    void refusalsShowReasonsAndClearingKeepsFiles();
    void localFailuresNameTheirCause();
};

void TestDownloads::initTestCase()
{
    QVERIFY(session.Prepare());
    QVERIFY(session.StartWindow(QStringLiteral("alice")));
    form = transfersForm;
    downloads = form->DownloadsList();
    settings.Set("show_event_buttons", "yes");

    share = session.Home() + QStringLiteral("/bob share");
    files[QStringLiteral("one.bin")] = WriteRandomFile(share + QStringLiteral("/album/one.bin"), 120000, 1);
    files[QStringLiteral("two.bin")] = WriteRandomFile(share + QStringLiteral("/album/two.bin"), 30000, 2);
    files[QStringLiteral("empty.bin")] = WriteRandomFile(share + QStringLiteral("/album/empty.bin"), 0, 3);
    files[kHostile] = WriteRandomFile(share + QStringLiteral("/a&b/") + kHostile, 3000, 4);
    files[kBackwards] = WriteRandomFile(share + QStringLiteral("/album/") + kBackwards, 5000, 5);
    files[QStringLiteral("three.bin")] = WriteRandomFile(share + QStringLiteral("/album/three.bin"), 9000, 6);
    for (const QString& name : { QStringLiteral("four.bin"), QStringLiteral("five.bin") })
        files[name] = WriteRandomFile(share + QStringLiteral("/slow/") + name, 120000, 7);
    bob = session.StartDriver(QStringLiteral("bob"));
    QVERIFY(bob);
    bob->Send(QStringLiteral("share-folder ") + share);
    bob->Send(QStringLiteral("wait-shares"));
    QVERIFY(!bob->WaitFor(QStringLiteral("shares-ready")).isEmpty());
    // Slow enough to watch a download move.
    bob->Send(QStringLiteral("speed-limit 40"));

    // The list of completed downloads lists what completes after it is made.
    form->OnActionBarTriggered(nullptr, QStringLiteral("complete_downloads"));
    QVERIFY(form->CompleteDownloads());
    QCOMPARE(form->TabControl()->tabText(2), QStringLiteral("Complete"));
}

void TestDownloads::downloadsCompleteWithAlertsUnderTheirExactNames()
{
    // Queued as the search and browse pages queue them, while bob is away.
    bob->Send(QStringLiteral("disconnect"));
    QVERIFY(!bob->WaitFor(QStringLiteral("disconnected")).isEmpty());
    const std::string album = Remote(share + QStringLiteral("/album"));
    for (const QString& name :
        { QStringLiteral("one.bin"), QStringLiteral("two.bin"), QStringLiteral("empty.bin"), kBackwards })
        entries.push_back(transferQueueManager->AddDownload(
            QStringLiteral("bob"), name.toStdString(), album, files[name].size(), false, 0));
    entries.push_back(transferQueueManager->AddDownload(QStringLiteral("bob"), kHostile.toStdString(),
        Remote(share + QStringLiteral("/a&b")), files[kHostile].size(), false, 0));
    ItemPtr hostile = entries.back();
    QTreeWidgetItem* hostileRow = TransfersForm::DownloadRow(hostile);
    QVERIFY(hostileRow);
    QCOMPARE(hostileRow->text(2), IsolatedText(kHostile));
    QVERIFY(ShownName(hostileRow->parent(), 1).startsWith(QStringLiteral("a&b/bob share/")));
    QVERIFY(gui::ShowsIsolated(TransfersForm::DownloadRow(entries[3])->text(2), kBackwards));
    QCOMPARE(Status(entries[0]), QStringLiteral("queued"));
    // Bytes at a partial file's name that no record gives to bob are left be.
    WriteRandomFile(transferQueueManager->DownloadRoot() + QStringLiteral("/downloading/album/two.bin"), 1000, 9);

    const QString notify = QStringLiteral("Notify me when...");
    OpenMenu(downloads, { hostileRow }, notify + QStringLiteral("/File download completes"));
    QTreeWidgetItem* albumRow = TransfersForm::DownloadRow(entries[0])->parent();
    OpenMenu(downloads, { albumRow }, notify + QStringLiteral("/Folder download completes"));
    OpenMenu(downloads, { albumRow->parent() }, notify + QStringLiteral("/All downloads from user complete"));
    QCOMPARE(d.GetType("complete_download_alert")->Count(), size_t(3));

    // Out of sight, so completion events leave a button; bob comes back.
    QTabWidget* pages = session.Window()->Ui().tabControl;
    pages->setCurrentIndex(3);
    eventToolBar->RemoveEvents(downloads);
    bob->Send(QStringLiteral("connect"));
    QVERIFY(gui::WaitFor(
        [&] {
            return pages->tabText(0) == QLatin1String("Transfers [1/0]")
                && BarText(downloads, TransfersForm::DownloadRow(entries[0])).endsWith(QLatin1String("%)"));
        },
        30000));
    QTreeWidgetItem* oneRow = TransfersForm::DownloadRow(entries[0]);
    QCOMPARE(oneRow->text(3), QStringLiteral("downloading"));
    QCOMPARE(RowColor(oneRow), QColor(QStringLiteral("#0000ff")));

    const bool allComplete = gui::WaitFor(
        [&] {
            for (ItemPtr entry : entries) {
                if (Status(entry) != QLatin1String("complete"))
                    return false;
            }
            return true;
        },
        60000);
    QStringList statuses;
    for (ItemPtr entry : entries)
        statuses << entry["file_name"].AsString() + QLatin1Char('=') + Status(entry);
    QVERIFY2(allComplete, qPrintable(statuses.join(QLatin1String(", "))));
    QVERIFY(TransfersForm::DownloadRow(entries[1])->toolTip(3).contains(QStringLiteral("two (1).bin")));
    QCOMPARE(RowColor(oneRow), QColor(QStringLiteral("#006400")));
    QTRY_COMPARE(BarText(downloads, oneRow), QStringLiteral("120,000 (100.0%)"));
    const QString emptyBar = BarText(downloads, TransfersForm::DownloadRow(entries[2]));
    QVERIFY(emptyBar.isEmpty() || emptyBar == QLatin1String("0 (100.0%)"));
    QVERIFY(gui::WaitFor([&] { return pages->tabText(0) == QLatin1String("Transfers [0/0]"); }));
    // Each file asked for and saved under the name it has.
    for (ItemPtr entry : entries) {
        const QString path = transferQueueManager->LocalPath(transferQueueManager->GetDownloadTargetPath(entry, true));
        QCOMPARE(QFileInfo(path).fileName(), entry["file_name"].AsString());
        QCOMPARE(ReadWholeFile(path), files[entry["file_name"].AsString()]);
    }
    QVERIFY(QFileInfo::exists(
        transferQueueManager->DownloadRoot() + QStringLiteral("/complete/album/") + kBackwards));

    // Every alert fired once; the one button shows its text as it is.
    QVERIFY(gui::WaitFor([] { return d.GetType("complete_download_alert")->Count() == 0; }));
    QVERIFY(hostileRow->icon(2).isNull());
    QVERIFY(albumRow->icon(1).isNull());
    QCOMPARE(eventToolBar->EventActions().size(), 1);
    const QStringList texts { PlainLabel(IsolatedText(kHostile)), IsolatedText(QStringLiteral("album")),
        IsolatedText(QStringLiteral("bob")) };
    QVERIFY2(texts.contains(eventToolBar->EventActions().first()->text()),
        qPrintable(eventToolBar->EventActions().first()->text()));
    pages->setCurrentIndex(0);

    // Completed downloads, newest first.
    QTreeWidget* list = form->CompleteDownloads()->DownloadList();
    QCOMPARE(list->topLevelItemCount(), 5);
    quint64 newer = ~quint64(0);
    for (int k = 0; k < list->topLevelItemCount(); ++k) {
        QTreeWidgetItem* row = list->topLevelItem(k);
        ItemPtr record = d.GetType("complete_download_node")->HasItem(Value(row))["complete_download"];
        QVERIFY(record.Serial() < newer);
        newer = record.Serial();
        QCOMPARE(row->text(2), IsolatedText(QStringLiteral("bob")));
    }
    QVERIFY(!list->findItems(IsolatedText(kHostile), Qt::MatchExactly, 0).isEmpty());
    QVERIFY(!list->findItems(IsolatedText(kBackwards), Qt::MatchExactly, 0).isEmpty());
    QVERIFY(!list->findItems(QStringLiteral("120000"), Qt::MatchExactly, 3).isEmpty());

    // A double click opens the finished file, inside the downloads folder.
    gui::UrlCatcher opened;
    emit downloads->itemDoubleClicked(oneRow, 2);
    emit downloads->itemDoubleClicked(albumRow, 1);
    QCOMPARE(opened.Urls().size(), 1);
    QCOMPARE(ReadWholeFile(opened.Urls().first().toLocalFile()), files[QStringLiteral("one.bin")]);
}

void TestDownloads::refusalsShowReasonsAndClearingKeepsFiles()
{
    // A sharer whose name runs backwards refuses: name and reason shown
    // isolated.
    if (entries.empty()) // what the function above downloads first
        entries.push_back(transferQueueManager->AddDownload(QStringLiteral("bob"), "one.bin",
            Remote(share + QStringLiteral("/album")), files[QStringLiteral("one.bin")].size(), false, 0));
    QVERIFY(gui::WaitFor([&] { return Status(entries[0]) == QLatin1String("complete"); }, 60000));
    const QString carolName = QString::fromUtf16(u"rtl\u202ELIVE.exe");
    DriverProcess* carol = session.StartDriver(carolName);
    QVERIFY(carol);
    ItemPtr missing = transferQueueManager->AddDownload(carolName, "missing.bin", "\\nothing", 10, false, 0);
    QVERIFY(gui::WaitFor(
        [&] { return Status(missing) == IsolatedText(QStringLiteral("file not shared.")); }, 30000));
    QVERIFY(gui::ShowsIsolated(FindRow(downloads, 0, carolName)->text(0), carolName));
    QCOMPARE(RowColor(TransfersForm::DownloadRow(missing)), QColor(QStringLiteral("#ff0a47")));

    // Refused again, for another reason: the row says the new one. Names and
    // a reason far longer than a cell: a row lays out only their start, as
    // the view lays out a cell's whole text on every paint.
    const QString huge(60000, QLatin1Char('w'));
    ItemPtr longOne = transferQueueManager->AddDownload(
        carolName, huge.toStdString(), "\\" + huge.toStdString(), 10, false, 0);
    QVERIFY(gui::WaitFor([&] { return Status(longOne) == Status(missing); }, 30000));
    carol->Send(
        QStringLiteral("deny-upload alice \\%1\\%1 ").arg(huge) + QStringLiteral("Busy ").repeated(25000));
    const QString busy = IsolatedText(QStringLiteral("busy busy")).chopped(1);
    QVERIFY(gui::WaitFor([&] { return Status(longOne).startsWith(busy); }, 30000));
    QTreeWidgetItem* longRow = TransfersForm::DownloadRow(longOne);
    for (const QString& text :
        { longRow->text(3), longRow->toolTip(3), longRow->text(2), longRow->parent()->text(1) })
        QVERIFY2(text.size() > 400 && text.size() < 2000, qPrintable(QString::number(text.size())));
    transferQueueManager->RemoveDownload(longOne);

    // Bob pushes a file the window has already, naming its folder with "/":
    // the same download, still one row.
    settings.Set("accept_userlist_uploads", "yes");
    d.GetType("user")->GetItem(Value(QStringLiteral("bob"))).NewItem("in_user_list");
    const auto rows = AllRows(downloads).size();
    bob->Send(QStringLiteral("push-upload alice ") + share + QStringLiteral("/album/one.bin"));
    QVERIFY(!bob->WaitFor(QStringLiteral("upload-status alice denied")).isEmpty());
    QCOMPARE(AllRows(downloads).size(), rows);

    const int completed = form->CompleteDownloads()->DownloadList()->topLevelItemCount();
    form->OnActionBarTriggered(nullptr, QStringLiteral("clear_complete_downloads"));
    QVERIFY(!FindRow(downloads, 0, QStringLiteral("bob")));
    QVERIFY(FindRow(downloads, 0, carolName));
    // Files stay; the list of completed downloads keeps its rows, and opening
    // it again makes no second one.
    QVERIFY(QFileInfo::exists(transferQueueManager->DownloadRoot() + QStringLiteral("/complete/album/one.bin")));
    form->OnActionBarTriggered(nullptr, QStringLiteral("complete_downloads"));
    QCOMPARE(form->TabControl()->count(), 3);
    QCOMPARE(form->CompleteDownloads()->DownloadList()->topLevelItemCount(), completed);

    // The partial files' folder can't be written (a read-only file system;
    // where the test may not mount one, a file in its place): the row says why.
    const QString partials = transferQueueManager->DownloadRoot() + QStringLiteral("/downloading");
    QDir().mkpath(partials);
    if (QProcess::execute("mount", { "-t", "tmpfs", "-o", "ro,size=64k", "tmpfs", partials }) != 0
        && QDir().rmdir(partials))
        WriteRandomFile(partials, 10, 7);
    ItemPtr blocked = transferQueueManager->AddDownload(QStringLiteral("bob"), "three.bin",
        Remote(share + QStringLiteral("/album")), files[QStringLiteral("three.bin")].size(), false, 0);
    QVERIFY(gui::WaitFor([&] { return Status(blocked) == QLatin1String("local error"); }, 30000));
    const QString why = TransfersForm::DownloadRow(blocked)->toolTip(3);
    QVERIFY2(why.contains(QStringLiteral("Could not create the folder")), qPrintable(why));
    QProcess::execute("umount", { "-l", partials });
}

void TestDownloads::localFailuresNameTheirCause()
{
    // The complete folder can't be written (a read-only file system; where
    // the test may not mount one, a file in the folder's place).
    const QString complete = transferQueueManager->DownloadRoot() + QStringLiteral("/complete");
    QDir().mkpath(complete);
    if (QProcess::execute("mount", { "-t", "tmpfs", "-o", "ro,size=64k", "tmpfs", complete }) != 0)
        WriteRandomFile(complete + QStringLiteral("/slow"), 10, 8);
    const auto release = [&] {
        QProcess::execute("umount", { "-l", complete });
        QFile::remove(complete + QStringLiteral("/slow"));
    };
    auto unmount = qScopeGuard(release);
    const std::string slow = Remote(share + QStringLiteral("/slow"));
    ItemPtr removed
        = transferQueueManager->AddDownload(QStringLiteral("bob"), "four.bin", slow, 120000, false, 0);
    ItemPtr unmoved
        = transferQueueManager->AddDownload(QStringLiteral("bob"), "five.bin", slow, 120000, false, 0);
    QTreeWidgetItem* folderRow = TransfersForm::DownloadRow(removed)->parent();

    // The partial file's folder is deleted while bytes arrive.
    QVERIFY(gui::WaitFor([&] { return !BarText(downloads, folderRow).isEmpty(); }, 30000));
    QVERIFY(
        QDir(transferQueueManager->DownloadRoot() + QStringLiteral("/downloading/slow")).removeRecursively());
    QVERIFY(gui::WaitFor([&] { return Status(removed) == QLatin1String("local error"); }, 30000));
    QTreeWidgetItem* removedRow = TransfersForm::DownloadRow(removed);
    QVERIFY2(removedRow->toolTip(3).contains(QStringLiteral("The partial file was removed")),
        qPrintable(removedRow->toolTip(3)));
    QTRY_COMPARE(BarText(downloads, removedRow), QStringLiteral("0 (0.0%)"));

    QVERIFY(gui::WaitFor([&] { return Status(unmoved) == QLatin1String("local error"); }, 30000));
    const QString why = TransfersForm::DownloadRow(unmoved)->toolTip(3);
    QVERIFY2(why.contains(QStringLiteral("Could not move the file into the complete folder"))
            && why.contains(QStringLiteral("Error string: ")),
        qPrintable(why));
    // Neither it, with every byte there, nor the folder of failed files
    // shows a bar.
    QTest::qWait(500);
    QCOMPARE(BarText(downloads, TransfersForm::DownloadRow(unmoved)), QString());
    QCOMPARE(BarText(downloads, folderRow), QString());
    QCOMPARE(folderRow->text(5), QString());

    // With the causes gone, a retry finishes both.
    unmount.dismiss();
    release();
    transferQueueManager->RequeueDownload(removed);
    transferQueueManager->RequeueDownload(unmoved);
    QVERIFY(gui::WaitFor(
        [&] {
            return Status(removed) == QLatin1String("complete")
                && Status(unmoved) == QLatin1String("complete");
        },
        60000));
    QCOMPARE(ReadWholeFile(complete + QStringLiteral("/slow/five.bin")), files[QStringLiteral("five.bin")]);
}

GUI_TEST_MAIN(TestDownloads)
#include "tst_downloads.moc"
