// The Transfers page in the real main window, on transfers whose users are
// never online: the engine's queue is driven directly (statuses, and progress
// counters as its worker threads leave them), so every figure and rule can be
// checked exactly. Rows, texts, progress sums and colours; menus, alerts and
// removals racing with menus and queued calls; the Delete key; the clearing of
// stale uploads and the upload controls; a browsed folder of thousands of
// files queued while the window answers (its peer gone by then); saved rows
// with their bars after a restart, a download added just before the window
// is killed among them.
#include "gui/GuiTest.h"
#include "helper_transferpage.h"
#include "pages/browse/ShareForm.h"
#include "pages/browse/SharesForm.h"
#include "pages/transfers/LiveItemSet.h"
#include "pages/transfers/TransfersForm.h"
#include "shares/SharedFoldersManager.h"
#include "shell/ActionSetToolBar.h"
#include "shell/EventToolBar.h"
#include "shell/Kit.h"
#include "shell/TabWidget.h"
#include "shell/TreeWidget.h"
#include "Ui_MainWindow.h"
#include "store/DataSaver.h"
#include "store/Settings.h"
#include "transfers/TransferQueueManager.h"
#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTimer>
#include <QToolTip>
#include <csignal>

namespace {

constexpr int kLongQueue = 20000;

Type* T(const char* name)
{
    return d.GetType(name);
}

ItemPtr Download(const QString& user, const QString& name, const QString& folder, qint64 size)
{
    return transferQueueManager->AddDownload(user, name.toStdString(), folder.toStdString(), size, false, 0);
}

void SetStatus(ItemPtr entry, const char* status)
{
    transferQueueManager->SetDownloadEntryStatus(entry, QString::fromLatin1(status));
}

// What a download thread's report leaves on the entry, then the report.
void Report(ItemPtr entry, qint64 position, int bytesPerSecond)
{
    if (!entry["write_position"]) {
        entry += T("write_position")->NewItem(Value(new qint64(0)));
        entry += T("bytes_per_second")->NewItem(Value(new int(0)));
    }
    *entry["write_position"].AsPointer<qint64>() = position;
    *entry["bytes_per_second"].AsPointer<int>() = bytesPerSecond;
    emit transferQueueManager->DownloadProgressed(entry);
}

QTreeWidgetItem* Row(ItemPtr entry)
{
    return TransfersForm::DownloadRow(entry);
}

QString Ago(int seconds)
{
    return QDateTime::currentDateTime().addSecs(-seconds).toString(Qt::TextDate);
}

void SetOnline(const QString& user, bool online)
{
    ItemPtr item = T("user")->GetItem(Value(user));
    if (online)
        item += T("is_online")->GetGlobalNullItem();
    else
        item.Disconnect("is_online");
}

} // namespace

// After a restart the saved downloads are in their rows again: one folder row
// per user and folder, the files of each beneath it, all open.
GUI_CHILD_ROLE(verify_saved_rows)
{
    gui::Session session;
    if (!session.Prepare() || !session.StartWindow(QStringLiteral("alice"), QStringLiteral("secret"), false))
        return 1;
    QTreeWidget* tree = transfersForm->DownloadsList();
    auto shape = [&](const char* user) {
        QStringList out;
        QTreeWidgetItem* row = FindRow(tree, 0, QString::fromLatin1(user));
        for (int f = 0; row && f < row->childCount(); ++f) {
            QTreeWidgetItem* folder = row->child(f);
            QStringList files;
            for (int k = 0; k < folder->childCount(); ++k)
                files << ShownName(folder->child(k), 2);
            out << ShownName(folder, 1) + ": " + files.join(QLatin1Char(' '))
                    + (folder->isExpanded() ? "" : " (closed)");
        }
        return out;
    };
    // The rows are made a slice at a time once the window is up.
    QStringList wes, vic;
    const auto restored = [&] {
        wes = shape("wes");
        vic = shape("vic");
        return wes == QStringList({ "set/saved: one.bin two.bin", "other/saved: three.bin late.bin" })
            && vic == QStringList({ "set/saved: one.bin" });
    };
    if (!gui::WaitFor(restored, 60000)) {
        qWarning() << "after the restart:" << wes << vic;
        return 2;
    }
    // Their bars at once: a complete file, one partly there (its partial
    // file found meanwhile), and their folder's sums; the sizes not cut.
    QTreeWidgetItem* set = FindRow(tree, 0, QStringLiteral("wes"))->child(0);
    const auto bars = [&] {
        return QStringList { BarText(tree, set), BarText(tree, set->child(0)), BarText(tree, set->child(1)) };
    };
    const QStringList expected { "3,400,000,000 (85.0%)", "3,000,000,000 (100.0%)", "400,000,000 (40.0%)" };
    if (!gui::WaitFor([&] { return bars() == expected; }) || !ColumnFits(tree, 7)) {
        qWarning() << "restored bars:" << bars() << tree->columnWidth(7);
        return 3;
    }
    session.CloseWindow();
    return 0;
}

// A download added, and the window killed a moment later: by then it was
// saved.
GUI_CHILD_ROLE(add_then_crash)
{
    gui::Session session;
    if (!session.Prepare() || !session.StartWindow(QStringLiteral("alice"), QStringLiteral("secret"), false))
        return 1;
    Download("wes", "late.bin", "saved\\other", 10);
    gui::WaitFor(
        [] {
            QFile data(MainWindow::DataFilePath());
            return data.open(QIODevice::ReadOnly) && data.readAll().contains("late.bin");
        },
        30000);
    ::raise(SIGKILL);
    return 1;
}

// A long saved queue comes back once the window is up, a slice at a time:
// downloads removed and added meanwhile end up as they would have at once.
GUI_CHILD_ROLE(verify_long_saved_queue)
{
    gui::Session session;
    if (!session.Prepare() || !session.StartWindow(QStringLiteral("alice"), QStringLiteral("secret"), false))
        return 1;
    QTreeWidget* tree = transfersForm->DownloadsList();
    if (tree->topLevelItemCount() != 0) {
        qWarning() << "the rows were all made before the window showed";
        return 2;
    }
    // One turn of the event loop makes the first slice of rows.
    QCoreApplication::processEvents();
    const ItemList saved = T("download_entry")->GetItems().SortNumericBy("download_order", true);
    const ItemList gone = T("user")->GetItem(Value("gone")).GetItems("download_entry").ToList();
    if (!Row(gone.front()) || !Row(gone.back()) || Row(saved.back()) || tree->topLevelItemCount() != 0) {
        qWarning() << "not in the middle of the rows";
        return 5;
    }
    // A save in the background taken now, while rows are made and downloads
    // come and go, holds the queue of this moment: byte for byte what a save
    // that nothing interrupts writes.
    const QString path = MainWindow::DataFilePath();
    dataSaver->Save(path + ".moment");
    bool written = false;
    bool ended = false;
    dataSaver->SaveInBackground(path + ".later", [&](bool ok) {
        written = ok;
        ended = true;
    });
    // Rows made by now go: all of a user's, all of a folder's (and a download
    // comes back to that folder); so does the last download, whose row is
    // not made yet; one more download comes.
    const ItemPtr remoteFolder = T("remote_folder")->GetItem(Value("big\\left"));
    for (const char* user : { "gone", "left" }) {
        for (ItemPtr entry : T("user")->GetItem(Value(user)).GetItems("download_entry").ToList())
            if (user == std::string("gone") || entry["remote_folder"] == remoteFolder)
                transferQueueManager->RemoveDownload(entry);
    }
    // The last download goes before its row is made, and a new one may take
    // its place in memory: one row each, nothing for the one gone.
    const QString lastName = QStringLiteral("f%1.bin").arg(kLongQueue - 1);
    transferQueueManager->RemoveDownload(saved.back());
    Download("u9", "instead.bin", "big\\set 4", 10);
    Download("left", "again.bin", "big\\left", 10);
    Download("u1", "late.bin", "big\\set 1", 10);
    if (!gui::WaitFor([&] { return tree->topLevelItemCount() > 0; }))
        return 3;
    int files = 0;
    QStringList wrong;
    for (int u = 0; u < 10; ++u) {
        QTreeWidgetItem* user = FindRow(tree, 0, QStringLiteral("u%1").arg(u));
        for (int f = 0; user && f < user->childCount(); ++f) {
            files += user->child(f)->childCount();
            if (!user->child(f)->isExpanded())
                wrong << ShownName(user->child(f), 1) + " closed";
        }
        if (!user || user->childCount() != 5)
            wrong << QStringLiteral("u%1 folders").arg(u);
    }
    QTreeWidgetItem* late = FindRow(tree, 2, QStringLiteral("late.bin"));
    QTreeWidgetItem* left = FindRow(tree, 0, QStringLiteral("left"));
    QStringList leftFolders;
    for (int f = 0; left && f < left->childCount(); ++f)
        leftFolders << ShownName(left->child(f), 1) + ": " + ShownName(left->child(f)->child(0), 2)
                + QStringLiteral(" of %1").arg(left->child(f)->childCount());
    if (leftFolders != QStringList({ "kept/big: k.bin of 1", "left/big: again.bin of 1" }))
        wrong << leftFolders;
    int named = 0;
    for (QTreeWidgetItem* row : AllRows(tree))
        named += ShownName(row, 2) == QLatin1String("instead.bin") ? 1 : ShownName(row, 2) == lastName ? 100 : 0;
    if (named != 1)
        wrong << QStringLiteral("instead.bin and the download gone: %1").arg(named);
    if (FindRow(tree, 0, QStringLiteral("gone")) || files != kLongQueue - 1 + 2 || !late
        || late->parent()->parent() != FindRow(tree, 0, QStringLiteral("u1"))
        || late->parent()->indexOfChild(late) != late->parent()->childCount() - 1)
        wrong << QStringLiteral("%1 file rows, late.bin misplaced or gone shown").arg(files);
    if (!wrong.isEmpty()) {
        qWarning() << "after the restart:" << wrong;
        return 4;
    }
    const auto bytes = [](const QString& name) {
        QFile file(name);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    if (!gui::WaitFor([&] { return ended; }) || !written || bytes(path + ".later") != bytes(path + ".moment")) {
        qWarning() << "the save taken while the rows came back is not of one moment";
        return 6;
    }
    session.CloseWindow();
    return 0;
}

class TestTransferPage : public QObject {
    Q_OBJECT
    gui::Session session;
    TransfersForm* form = nullptr;
    TreeWidget* downloads = nullptr;

private slots:
    void initTestCase();
    void rowsShowExactFiguresAndColours();
    void menusAndAlertsSurviveRacingRemovals();
    void staleUploadsAreClearedAndControlsApply();
    void browsedFolderOfThousandsQueuesWhileTheWindowAnswers();
    void longSavedQueueComesBackOnceTheWindowShows();
    void savedDownloadsComeBackInTheirRows();
};

void TestTransferPage::initTestCase()
{
    QVERIFY(session.Prepare());
    QVERIFY(session.StartWindow(QStringLiteral("alice")));
    form = transfersForm;
    QVERIFY(form);
    downloads = form->DownloadsList();
}

void TestTransferPage::rowsShowExactFiguresAndColours()
{
    ItemPtr one = Download("zed", "one.bin", "music\\rock\\album", 2000000);
    ItemPtr two = Download("zed", "two.bin", "music\\rock\\album", 100);
    ItemPtr three = Download("zed", "three.bin", "music\\pop", 300);
    ItemPtr four = Download("zed", "four.bin", "music\\pop", 100);
    ItemPtr empty = Download("zed", "empty.bin", "music\\pop", 0);
    // A user, a folder and a file whose names hold a right-to-left override.
    const QString rtlUser = QString::fromUtf16(u"rtl\u202ELIVE.exe");
    const QString rtlFile = QString::fromUtf16(u"\u202Eevil album 3pm.exe");
    ItemPtr other = Download(rtlUser, rtlFile, QString::fromUtf16(u"music\\\u202Ekcor"), 5);

    // One user row per user, one folder row per user and folder; peers' names
    // are shown isolated and kept as they came.
    QTreeWidgetItem* zed = FindRow(downloads, 0, QStringLiteral("zed"));
    QVERIFY(zed && FindRow(downloads, 0, rtlUser));
    QCOMPARE(zed->childCount(), 2);
    QCOMPARE(ShownName(zed->child(0), 1), QStringLiteral("album/rock/music"));
    QCOMPARE(FindRow(downloads, 1, QStringLiteral("album/rock/music"))->parent(), zed);
    QTreeWidgetItem* rtlRow = Row(other);
    QVERIFY(gui::ShowsIsolated(rtlRow->text(2), rtlFile));
    QVERIFY(gui::ShowsIsolated(rtlRow->parent()->text(1), QString::fromUtf16(u"\u202Ekcor/music")));
    QVERIFY(gui::ShowsIsolated(rtlRow->parent()->parent()->text(0), rtlUser));
    QCOMPARE(other["user"].AsString(), rtlUser);
    QCOMPARE(other["file_name"].AsString(), rtlFile);
    QCOMPARE(ShownName(Row(one), 2), QStringLiteral("one.bin"));
    QCOMPARE(Row(one)->text(7), QStringLiteral("2,000,000"));
    QCOMPARE(Row(one)->text(3), QStringLiteral("queued"));
    QCOMPARE(RowColor(Row(one)), QColor(QStringLiteral("#3366ff")));
    QCOMPARE(form->GetNodeDownloadEntryItems(zed).Size(), size_t(5));
    // Names of any length are shown cut.
    const QString huge(100000, QLatin1Char('x'));
    ItemPtr big = Download(huge, huge, huge, 1);
    QTreeWidgetItem* bigRow = Row(big);
    for (const QString& shown :
        { bigRow->text(2), bigRow->parent()->text(1), bigRow->parent()->parent()->text(0) })
        QVERIFY(shown.size() < 2000);
    transferQueueManager->RemoveDownload(big);

    // A queued download waiting after its file connection failed says why.
    T("denial_reason")->GetItem("File connection failed: Connection refused") += four;
    QCOMPARE(Row(four)->text(3), QStringLiteral("queued: file connection failed: connection refused"));

    // A place in line shows until the next status change.
    one += T("place_in_line")->GetItem(Value(7));
    QCOMPARE(Row(one)->text(8), QStringLiteral("7"));

    // The figures of a report, and the tab title while one is active.
    SetStatus(one, "downloading");
    QCOMPARE(Row(one)->text(8), QString());
    Report(one, 1234567, 1536);
    QTRY_COMPARE(BarText(downloads, Row(one)), QStringLiteral("1,234,567 (61.7%)"));
    QCOMPARE(BarValue(downloads, Row(one)), 61);
    QCOMPARE(Row(one)->text(5), QStringLiteral("   8m:18s"));
    QCOMPARE(Row(one)->text(6), QStringLiteral("1.5"));
    QCOMPARE(RowColor(Row(one)), QColor(QStringLiteral("#0000ff")));
    QTabWidget* pages = session.Window()->Ui().tabControl;
    QVERIFY(gui::WaitFor([&] { return pages->tabText(0) == QLatin1String("Transfers [1/0]"); }));
    // An open user row of two folders sums them; an open user row of one
    // folder shows neither bar nor time left, its folder row does.
    QCOMPARE(BarText(downloads, zed), QStringLiteral("1,234,567 (61.7%)"));
    QCOMPARE(zed->text(5), QStringLiteral("   8m:18s"));
    SetStatus(other, "downloading");
    Report(other, 2, 1);
    QTRY_COMPARE(BarText(downloads, rtlRow->parent()), QStringLiteral("2 (40.0%)"));
    QCOMPARE(rtlRow->parent()->text(5), QStringLiteral("   3s"));
    QCOMPARE(BarText(downloads, rtlRow->parent()->parent()), QString());
    QCOMPARE(rtlRow->parent()->parent()->text(5), QString());
    SetStatus(other, "queued");

    // Past the size: the remainder is negative, the time left 0s, the bar
    // keeps its value while its text says what it is.
    Report(one, 2100000, 1536);
    QTRY_COMPARE(BarText(downloads, Row(one)), QStringLiteral("2,100,000 (105.0%)"));
    QCOMPARE(Row(one)->text(5), QStringLiteral("   0s"));
    QCOMPARE(BarValue(downloads, Row(one)), 61);

    // A folder of one complete 100-byte file and one queued 300-byte file.
    SetStatus(four, "complete");
    SetStatus(three, "downloading");
    Report(three, 0, 0);
    QTreeWidgetItem* pop = Row(three)->parent();
    QTRY_COMPARE(BarText(downloads, pop), QStringLiteral("100 (25.0%)"));
    QCOMPARE(Row(three)->text(5), QStringLiteral("   0s"));
    QCOMPARE(Row(three)->text(6), QStringLiteral("0.0"));

    // A file of no bytes is done, not a division by zero.
    SetStatus(empty, "downloading");
    Report(empty, 0, 10);
    QTRY_COMPARE(BarText(downloads, Row(empty)), QStringLiteral("0 (100.0%)"));
    QCOMPARE(BarValue(downloads, Row(empty)), 100);

    // Reports closer together than the page redraws them: a row shows its
    // last, its folder row the sums of that moment at the speed of its own
    // last report, the user row at the speed of the last report beneath it
    // (speeds are never summed). The report of a download removed meanwhile
    // goes with it, and never shows on a new one made in its place.
    ItemPtr gone = Download("zed", "gone.bin", "music\\pop", 1000);
    SetStatus(gone, "downloading");
    Report(one, 1000000, 100);
    Report(three, 100, 2048);
    Report(gone, 500, 1024);
    Report(three, 150, 512);
    transferQueueManager->RemoveDownload(gone);
    ItemPtr next = Download("zed", "next.bin", "music\\pop", 1000);
    QTRY_COMPARE(BarText(downloads, Row(three)), QStringLiteral("150 (50.0%)"));
    QCOMPARE(Row(three)->text(6), QStringLiteral("0.5"));
    QCOMPARE(BarText(downloads, Row(next)), QString());
    QCOMPARE(BarText(downloads, pop), QStringLiteral("250 (17.9%)"));
    // 150 + 1,000 bytes left at 512 bytes a second; 1,000,100 at 100; both
    // folders, 1,001,250 bytes, at 512.
    QCOMPARE(pop->text(5), QStringLiteral("   2s"));
    QCOMPARE(Row(one)->parent()->text(5), QStringLiteral("   2h:46m:41s"));
    QCOMPARE(zed->text(5), QStringLiteral("   32m:35s"));
    transferQueueManager->RemoveDownload(next);

    // Collapsed parents show the aggregate; expanding empties the cells and
    // drops the bar.
    QTreeWidgetItem* album = Row(one)->parent();
    downloads->collapseItem(album);
    QCOMPARE(album->text(3), QStringLiteral("downloading"));
    // The speed goes to the outermost closed row; the cells below keep theirs.
    Report(one, 1100000, 3072);
    QTRY_COMPARE(album->text(6), QStringLiteral("3.0"));
    QCOMPARE(Row(one)->text(6), QStringLiteral("0.1"));
    downloads->collapseItem(zed);
    Report(one, 1200000, 4096);
    QTRY_COMPARE(zed->text(6), QStringLiteral("4.0"));
    QCOMPARE(album->text(6), QStringLiteral("3.0"));
    downloads->expandItem(zed);
    QCOMPARE(zed->text(6), QString());
    downloads->expandItem(album);
    QCOMPARE(album->text(3), QString());
    QCOMPARE(BarText(downloads, album), QString());
    downloads->collapseItem(pop);
    T("denial_reason")->GetItem("File not shared.") += two;
    SetStatus(two, "denied");
    QCOMPARE(Row(two)->text(3), IsolatedText(QStringLiteral("file not shared.")));
    QCOMPARE(RowColor(Row(two)), QColor(QStringLiteral("#ff0a47")));
    // A reason holding markup is shown as the peer wrote it, never rendered.
    const QString markup = QStringLiteral("<b>Closed</b> <img src=\"/etc/x.png\"> &amp; <a href=\"x\">see</a>");
    T("denial_reason")->GetItem("File not shared.") -= two;
    T("denial_reason")->GetItem(Value(markup)) += two;
    SetStatus(two, "aborted");
    SetStatus(two, "denied");
    QTextDocument tip;
    tip.setHtml(Row(two)->toolTip(3));
    QCOMPARE(tip.toPlainText(), IsolatedText(markup));
    ItemSet set;
    for (ItemPtr e : { four, two })
        set.Insert(e);
    QCOMPARE(TransfersForm::GetDownloadEntriesAggregateStatus(set), QStringLiteral("denied"));
    SetStatus(two, "aborted");
    QCOMPARE(TransfersForm::GetDownloadEntriesAggregateStatus(set), QStringLiteral("aborted"));
    // A long reason is cut for the cell and tool tip, never inside a character.
    two.Disconnect("denial_reason");
    T("denial_reason")->GetItem(Value(QString(499, QLatin1Char('r')) + QString::fromUcs4(U"\U0001F600"))) += two;
    SetStatus(two, "denied");
    QVERIFY(Row(two)->toolTip(3).isValidUtf16() && Row(two)->text(3).isValidUtf16());
    two.Disconnect("denial_reason");
    T("denial_reason")->GetItem(Value(QString(100000, QLatin1Char('r')))) += two;
    SetStatus(two, "aborted");
    SetStatus(two, "denied");
    QVERIFY(Row(two)->text(3).size() < 1000);
    SetStatus(two, "local error");
    QCOMPARE(TransfersForm::GetDownloadEntriesAggregateStatus(set), QString());

    // New colours reach every row and the collapsed parents' texts.
    settings.Set("color_transfer_queued", "#123456");
    form->RecolorEntries();
    QCOMPARE(RowColor(Row(other)), QColor(QStringLiteral("#123456")));
    QCOMPARE(pop->text(3), QStringLiteral("downloading"));
    settings.Set("color_transfer_queued", "#3366ff");

    // A user row left with one folder loses its bar and time left.
    Report(one, 1300000, 1024);
    QTRY_VERIFY(!BarText(downloads, zed).isEmpty() && !zed->text(5).isEmpty());
    for (ItemPtr e : { three, four, empty })
        transferQueueManager->RemoveDownload(e);
    QCOMPARE(zed->childCount(), 1);
    QCOMPARE(BarText(downloads, zed), QString());
    QCOMPARE(zed->text(5), QString());

    // Removing the last download of a user removes its folder and user rows
    // and their node items.
    const size_t folderNodes = T("download_list_folder_node")->Count();
    transferQueueManager->RemoveDownload(other);
    QVERIFY(!FindRow(downloads, 0, rtlUser));
    QCOMPARE(T("download_list_folder_node")->Count(), folderNodes - 1);
    for (ItemPtr e : { one, two })
        transferQueueManager->RemoveDownload(e);
    QCOMPARE(downloads->topLevelItemCount(), 0);
    QVERIFY(gui::WaitFor([&] { return pages->tabText(0) == QLatin1String("Transfers [0/0]"); }));
}

void TestTransferPage::menusAndAlertsSurviveRacingRemovals()
{
    // Events become buttons while the downloads are out of sight.
    settings.Set("show_event_buttons", "yes");
    session.Window()->Ui().tabControl->setCurrentIndex(3);
    eventToolBar->RemoveEvents(downloads);
    ItemPtr a = Download("xa", "a.bin", "f1", 10);
    ItemPtr b = Download("xa", "b.bin", "f1", 10);
    ItemPtr c = Download("xa", "c.bin", "f2", 10);
    ItemPtr w = Download("wv", "w.bin", "f3", 10);
    const QString notify = QStringLiteral("Notify me when...");

    QCOMPARE(OpenMenu(downloads, {}), QStringList());
    const QStringList single = OpenMenu(downloads, { Row(a) }, notify + QStringLiteral("/File download completes"));
    // The user's own entries follow when every row is one user's.
    QCOMPARE(single.mid(0, 8),
        QStringList({ "Open Folder", "Retry download", "Remove download", notify, notify + "/File download completes",
            notify + "/Folder download completes", notify + "/All downloads from user complete", "Message user" }));
    QVERIFY(!Row(a)->icon(2).isNull());
    QVERIFY(!OpenMenu(downloads, { Row(a) }).contains(notify + "/File download completes"));
    OpenMenu(downloads, { Row(a)->parent() }, notify + QStringLiteral("/Folder download completes"));
    OpenMenu(downloads, { Row(a)->parent()->parent() }, notify + QStringLiteral("/All downloads from user complete"));
    QVERIFY(!Row(a)->parent()->icon(1).isNull());
    // A folder row of two and a file row elsewhere: only the single file; two
    // users: no alerts of folder or user, no user entries.
    QCOMPARE(OpenMenu(downloads, { Row(a)->parent(), Row(c) }).mid(0, 3),
        QStringList({ "Open Folder", "Retry download", "Remove download" }));
    const QStringList twoUsers = OpenMenu(downloads, { Row(c), Row(w) });
    QCOMPARE(twoUsers, QStringList({ "Open Folder", "Retry downloads", "Remove downloads" }));
    // A download found by a search offers that search again, its text shown
    // as it is.
    c += T("search_request_text")->GetItem("rock & roll");
    QVERIFY(OpenMenu(downloads, { Row(c) }).contains(QStringLiteral("Re-run Search: rock && roll")));

    // The file alert fires with its own file; the folder waits for b; the
    // user for c, which is denied, then gone.
    SetStatus(a, "complete");
    QVERIFY(gui::WaitFor([&] { return !a.IsConnected("complete_download_alert"); }));
    QVERIFY(Row(a)->icon(2).isNull());
    QCOMPARE(eventToolBar->EventActions().size(), 1);
    QCOMPARE(eventToolBar->EventActions().first()->text(), IsolatedText(QStringLiteral("a.bin")));
    QCOMPARE(OpenMenu(downloads, { Row(a) }).mid(0, 3),
        QStringList({ "Open File", "Open Folder", "Remove download" }));
    SetStatus(c, "denied");
    SetStatus(b, "complete");
    QVERIFY(gui::WaitFor([&] { return !d.GetItem(b["user"], b["remote_folder"], "complete_download_alert"); }));
    QCOMPARE(b["user"].GetItems("complete_download_alert").Size(), size_t(1));
    transferQueueManager->RemoveDownload(c);
    ItemPtr e = Download("xa", "e.bin", "f2", 10);
    SetStatus(e, "complete");
    QVERIFY(gui::WaitFor([&] { return b["user"].GetItems("complete_download_alert").Empty(); }));
    QVERIFY(Row(a)->parent()->parent()->icon(0).isNull());

    // A completion still in the queue when its download goes: nothing is
    // raised and nothing freed is touched.
    eventToolBar->RemoveEvents(downloads);
    OpenMenu(downloads, { Row(w) }, notify + QStringLiteral("/File download completes"));
    SetStatus(w, "complete");
    transferQueueManager->RemoveDownload(w);
    QTest::qWait(100);
    QCOMPARE(eventToolBar->EventActions().size(), 0);

    // Entries that go while the menu is open are left out of its command.
    ItemPtr p = Download("vv", "p.bin", "f4", 10);
    ItemPtr q = Download("vv", "q.bin", "f4", 10);
    OpenMenu(downloads, { Row(p), Row(q) }, QStringLiteral("Remove downloads"),
        [&] { transferQueueManager->RemoveDownload(p); });
    QVERIFY(!FindRow(downloads, 0, QStringLiteral("vv")));

    // Delete with a user row and its own file rows: each download once.
    ItemPtr x1 = Download("uu", "1.bin", "f5", 10);
    Download("uu", "2.bin", "f5", 10);
    ItemPtr x3 = Download("uu", "3.bin", "f6", 10);
    downloads->clearSelection();
    for (QTreeWidgetItem* row : { Row(x1)->parent()->parent(), Row(x1), Row(x3) })
        row->setSelected(true);
    QTest::keyClick(downloads, Qt::Key_Delete);
    QVERIFY(!FindRow(downloads, 0, QStringLiteral("uu")));
    QVERIFY(T("download_entry")->GetItems().Connected("user", Value("uu")).Empty());

    // "Expand Folders" off: folder rows close, and new ones start closed.
    form->OnActionBarTriggered(nullptr, QStringLiteral("expand_download_folders"));
    QVERIFY(!Row(a)->parent()->isExpanded());
    ItemPtr g = Download("xa", "g.bin", "f7", 10);
    QVERIFY(!Row(g)->parent()->isExpanded());
    QCOMPARE(Row(g)->parent()->text(3), QStringLiteral("queued"));
    form->OnActionBarTriggered(nullptr, QStringLiteral("expand_download_folders"));
    QVERIFY(Row(g)->parent()->isExpanded());
    actionBar->ChangeSet(downloads, QStringLiteral("downloads"));
    QCOMPARE(actionBar->FindAction(QStringLiteral("expand_download_folders"))->text(),
        QStringLiteral("Expand Folders [on]"));

    // "Clear Complete" takes complete downloads only.
    form->OnActionBarTriggered(nullptr, QStringLiteral("clear_complete_downloads"));
    QCOMPARE(T("download_entry_status")->HasItem("complete").CountItems("download_entry"), size_t(0));
    QCOMPARE(g["download_entry_status"].AsString(), QStringLiteral("queued"));

    // With the box set, a completed download goes once its alerts are done.
    form->ClearDownloadsCheckBox()->setChecked(true);
    QVERIFY(settings.IsYes("clear_complete_downloads"));
    SetStatus(g, "complete");
    QVERIFY(gui::WaitFor([&] { return !FindRow(downloads, 0, QStringLiteral("xa")); }));
    form->ClearDownloadsCheckBox()->setChecked(false);
    QVERIFY(!settings.Has("clear_complete_downloads"));
    session.Window()->Ui().tabControl->setCurrentIndex(0);
}

void TestTransferPage::staleUploadsAreClearedAndControlsApply()
{
    // Seven shared files pushed to users who are not online: queued uploads.
    const QString folder = session.Home() + QStringLiteral("/share");
    QDir().mkpath(folder);
    for (int k = 0; k < 7; ++k) {
        QFile file(folder + QStringLiteral("/u%1.bin").arg(k));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(100 + k, 'x'));
    }
    ItemPtr shared = sharedFoldersManager->AddSharedFolder(folder);
    shared += T("shared_public")->GetGlobalNullItem();
    QVERIFY(gui::WaitFor([] { return !sharedFoldersManager->IsScanning() && T("shared_file")->Count() >= 7; }));
    const char* users[] = { "ua", "ub", "uc", "ud", "ue", "uf", "ug" };
    std::vector<ItemPtr> up;
    for (int k = 0; k < 7; ++k) {
        transferQueueManager->AddUpload(QString::fromLatin1(users[k]), folder + QStringLiteral("/u%1.bin").arg(k));
        up.push_back(T("upload_entry")->GetItems().Connected("user", Value(users[k])).First());
        QVERIFY(up.back());
    }
    QTreeWidget* uploads = form->UploadsList();
    QVERIFY(gui::WaitFor([&] { return AllRows(uploads).size() == 21; }));
    QTreeWidgetItem* row = TransfersForm::UploadRow(up[0]);
    QCOMPARE(ShownName(row, 2), QStringLiteral("u0.bin"));
    QCOMPARE(row->text(7), QStringLiteral("100"));
    // The server's answers about these users come first.
    QTest::qWait(500);

    // ua: complete long ago (goes); ub, next to it: queued, offline for
    // long, its own change old (goes); uc: queued, online (stays); ud:
    // complete a while ago (stays); ue: queued, offline lately (stays); ug:
    // uploading, its status old but a report came a moment ago (stays).
    auto stamp = [](ItemPtr entry, int secondsAgo) { entry += T("last_status_change_time")->GetItem(Value(Ago(secondsAgo))); };
    auto offlineSince = [](const char* user, int secondsAgo) {
        T("user")->GetItem(user) += T("last_online_status_change")->GetItem(Value(Ago(secondsAgo)));
    };
    transferQueueManager->SetUploadEntryStatus(up[0], QStringLiteral("complete"));
    stamp(up[0], 320);
    offlineSince("ub", 900);
    stamp(up[1], 320);
    transferQueueManager->SetUploadEntryStatus(up[3], QStringLiteral("complete"));
    stamp(up[3], 280);
    // Coming online starts uc's upload; it waits again, as with no free slot.
    // Its user row shows the user's state.
    QTreeWidgetItem* ucRow = TransfersForm::UploadRow(up[2])->parent()->parent();
    QVERIFY(ShowsIcon(ucRow, QStringLiteral(":/icons/offline_icon")));
    SetOnline(QStringLiteral("uc"), true);
    QVERIFY(ShowsIcon(ucRow, QStringLiteral(":/icons/online_icon")));
    transferQueueManager->SetUploadEntryStatus(up[2], QStringLiteral("queued"));
    stamp(up[2], 900);
    offlineSince("ue", 100);
    stamp(up[4], 900);
    transferQueueManager->SetUploadEntryStatus(up[6], QStringLiteral("uploading"));
    stamp(up[6], 900);
    up[6] += T("last_receipt_time")->NewItem(Value(new QDateTime(QDateTime::currentDateTime().addSecs(-10))));
    QCOMPARE(TransfersForm::UploadRow(up[0])->text(3), QStringLiteral("complete"));

    form->ClearUploadsCheckBox()->setChecked(true);
    QVERIFY(settings.IsYes("clear_complete_aborted_uploads"));
    form->EveryHalfMinute();
    auto left = [] {
        QStringList names;
        for (ItemPtr entry : T("upload_entry")->GetItems())
            names << entry["user"].AsString();
        names.sort();
        return names;
    };
    QTRY_COMPARE(left(), QStringList({ "uc", "ud", "ue", "uf", "ug" }));
    form->ClearUploadsCheckBox()->setChecked(false);
    transferQueueManager->RemoveUpload(up[6]);

    // "Clear Complete and Aborted": every finished upload, and queued ones of
    // users offline for long; never an active or another queued one.
    transferQueueManager->SetUploadEntryStatus(up[5], QStringLiteral("requesting"));
    offlineSince("ue", 400);
    form->OnActionBarTriggered(nullptr, QStringLiteral("clear_complete_and_aborted_uploads"));
    QCOMPARE(left(), QStringList({ "uc", "uf" }));
    SetOnline(QStringLiteral("uc"), false);
    QVERIFY(ShowsIcon(ucRow, QStringLiteral(":/icons/offline_icon")));
    QCOMPARE(TransfersForm::UploadRow(up[5])->text(3), QStringLiteral("requesting"));
    QCOMPARE(RowColor(TransfersForm::UploadRow(up[5])), QColor(QStringLiteral("#000000")));

    // The controls write their settings at once.
    form->UploadLimitSpinBox()->setValue(50);
    QVERIFY(form->UploadLimitCheckBox()->isChecked());
    QCOMPARE(settings.Get("upload_speed_limit"), QStringLiteral("50"));
    QCOMPARE(settings.Get("upload_speed_limit_enabled"), QStringLiteral("yes"));
    form->UploadLimitSpinBox()->setValue(0);
    QVERIFY(!form->UploadLimitCheckBox()->isChecked());
    QCOMPARE(settings.Get("upload_speed_limit_enabled"), QStringLiteral("no"));
    form->UploadSlotsSpinBox()->setValue(3);
    QCOMPARE(settings.Get("upload_slots"), QStringLiteral("3"));

    // Finish uploads and quit: on, then off again.
    actionBar->ChangeSet(uploads, QStringLiteral("uploads"));
    form->OnActionBarTriggered(nullptr, QStringLiteral("finish_uploads_and_quit"));
    QCOMPARE(runtimeSettings.Get("finish_uploads_and_quit"), QStringLiteral("yes"));
    QCOMPARE(actionBar->FindAction(QStringLiteral("finish_uploads_and_quit"))->text(),
        QStringLiteral("Finish Uploads and Quit [on]"));
    form->OnActionBarTriggered(nullptr, QStringLiteral("finish_uploads_and_quit"));
    QCOMPARE(runtimeSettings.Get("finish_uploads_and_quit"), QStringLiteral("no"));
    QCOMPARE(actionBar->FindAction(QStringLiteral("finish_uploads_and_quit"))->text(),
        QStringLiteral("Finish Uploads and Quit [off]"));
}

void TestTransferPage::browsedFolderOfThousandsQueuesWhileTheWindowAnswers()
{
    // A peer's folder of 3,000 files is browsed; the peer then leaves, so
    // that its downloads stay queued.
    constexpr size_t kFiles = 3000;
    DriverProcess* carl = session.StartDriver(QStringLiteral("carl"));
    QVERIFY(carl);
    carl->Send(QStringLiteral("serve-share files 1 %1").arg(kFiles));
    QVERIFY(!carl->WaitFor(QStringLiteral("serving-share")).isEmpty());
    auto* browse = qobject_cast<ShareForm*>(sharesForm->OpenShareBrowse(QStringLiteral("carl")));
    QVERIFY(browse && gui::WaitFor([&] { return browse->FolderTree()->isVisibleTo(browse); }, 60000));
    carl->Send(QStringLiteral("disconnect"));
    QVERIFY(!carl->WaitFor(QStringLiteral("disconnected")).isEmpty());
    browse->BrowseToFolder(QStringLiteral("share\\artist 0\\album 0"));
    QTreeWidgetItem* album = browse->FolderTree()->currentItem();
    QVERIFY(album);
    QVERIFY(gui::WaitFor([&] { return size_t(browse->FileList()->topLevelItemCount()) == kFiles; }));

    // A double click on it, the Transfers page in sight: the window answers
    // while the downloads come, a turn at a time, and they come in the order
    // of their names.
    const ItemPtr user = T("user")->GetItem(Value("carl"));
    size_t turnsPartly = 0;
    QTimer watch;
    connect(&watch, &QTimer::timeout, [&] {
        const size_t queued = user.CountItems("download_entry");
        turnsPartly += queued > 0 && queued < kFiles;
    });
    watch.start(0);
    session.Window()->Ui().tabControl->setCurrentIndex(0);
    emit browse->FolderTree()->itemDoubleClicked(album, 0);
    QTreeWidgetItem* folder = nullptr;
    QVERIFY(gui::WaitFor(
        [&] {
            QTreeWidgetItem* userRow = FindRow(downloads, 0, QStringLiteral("carl"));
            folder = userRow && userRow->childCount() == 1 ? userRow->child(0) : nullptr;
            return folder && size_t(folder->childCount()) == kFiles;
        },
        60000));
    watch.stop();
    QVERIFY2(turnsPartly > 0, qPrintable(QString::number(turnsPartly)));
    // The folder opens once they are all in.
    QVERIFY(gui::WaitFor([&] { return folder->isExpanded() && folder->text(3).isEmpty(); }));
    QStringList names;
    for (int k = 0; k < folder->childCount(); ++k) {
        names << ShownName(folder->child(k), 2);
        QCOMPARE(folder->child(k)->text(3), QStringLiteral("queued"));
    }
    QStringList sorted = names;
    sorted.sort();
    sorted.removeDuplicates();
    QCOMPARE(names, sorted);
    QVERIFY(gui::WaitFor([&] {
        return ShowsIcon(browse->FileList()->topLevelItem(int(kFiles) - 1), QStringLiteral(":/icons/download_icon"));
    }));
    QCOMPARE(WrongParentFigures(form), QStringList());

    // Beneath the closed folder one moves and one is complete; the one
    // moving goes, and the folder is queued again with the sums of the rest.
    const ItemList entries = user.GetItems("download_entry").SortNumericBy("download_order", true);
    downloads->collapseItem(folder);
    SetStatus(entries[20], "complete");
    SetStatus(entries[10], "downloading");
    Report(entries[10], 500, 100);
    QTRY_VERIFY(!BarText(downloads, folder).isEmpty());
    QCOMPARE(folder->text(3), QStringLiteral("downloading"));
    QCOMPARE(WrongParentFigures(form), QStringList());
    transferQueueManager->RemoveDownload(entries[10]);
    QTRY_COMPARE(folder->text(3), QStringLiteral("queued"));
    QCOMPARE(WrongParentFigures(form), QStringList());
    LiveItemSet left("download_entry", user.GetItems("download_entry"));
    while (ItemPtr entry = left.TakeFirst())
        transferQueueManager->RemoveDownload(entry);
    QVERIFY(!FindRow(downloads, 0, QStringLiteral("carl")));
    sharesForm->OnTabCloseRequested(sharesForm->TabControl()->indexOf(browse));
}

void TestTransferPage::longSavedQueueComesBackOnceTheWindowShows()
{
    struct Saved {
        QByteArray user, name, folder;
    };
    std::vector<Saved> queue;
    for (int k = 0; k < 3; ++k) {
        const QByteArray n = QByteArray::number(k);
        queue.push_back({ "gone", "g" + n + ".bin", "big\\gone" });
        queue.push_back(k < 2 ? Saved { "left", "l" + n + ".bin", "big\\left" } : Saved { "left", "k.bin", "big\\kept" });
    }
    for (int k = 0; k < kLongQueue; ++k)
        queue.push_back({ "u" + QByteArray::number(k % 10), "f" + QByteArray::number(k) + ".bin",
            "big\\set " + QByteArray::number(k / 10 % 5) });
    // The data file of that queue, written from the format: each value once,
    // every download tied to its own and to the values it shares.
    DataFileBytes file;
    auto values = [&](const QByteArray& type, QByteArray Saved::*field) {
        QList<QByteArray> distinct;
        QHash<QByteArray, quint32> at;
        for (const Saved& saved : queue)
            if (!at.contains(saved.*field)) {
                at.insert(saved.*field, quint32(distinct.size()));
                distinct << saved.*field;
            }
        const quint32 first = file.Items(type, distinct);
        for (quint32& place : at)
            place += first;
        return at;
    };
    const auto users = values("user", &Saved::user);
    const auto names = values("file_name", &Saved::name);
    const auto folders = values("remote_folder", &Saved::folder);
    const quint32 shared[] = { file.Items("file_size", { "10" }), file.Items("download_entry_status", { "queued" }),
        file.Items("subfolder_save_level", { "0" }) };
    QList<QByteArray> orders;
    for (size_t k = 0; k < queue.size(); ++k)
        orders << QByteArray::number(qulonglong(k));
    const quint32 order = file.Items("download_order", orders);
    const quint32 entry = file.Items("download_entry", QList<QByteArray>(orders.size()));
    for (quint32 k = 0; k < quint32(queue.size()); ++k) {
        for (quint32 place : { users[queue[k].user], names[queue[k].name], folders[queue[k].folder], shared[0],
                 shared[1], shared[2], order + k })
            file.Connect(entry + k, place);
    }
    const quint32 counter = file.Items("global", { "transfer_order_counter" });
    file.Connect(counter, file.Items("global_value", { QByteArray::number(qulonglong(queue.size())) }));
    // The child has a HOME of its own: this window saves its own queue
    // meanwhile.
    QTemporaryDir home;
    QFile data(home.path() + QStringLiteral("/.Marrowby"));
    QVERIFY(data.open(QIODevice::WriteOnly) && data.write(file.Bytes()) > 0);
    data.close();
    QCOMPARE(session.RunChild("verify_long_saved_queue", 60000, home.path()), 0);
}

void TestTransferPage::savedDownloadsComeBackInTheirRows()
{
    // Two users with a folder of one name, and one user with two folders.
    ItemPtr one = Download("wes", "one.bin", "saved\\set", 3000000000);
    Download("vic", "one.bin", "saved\\set", 10);
    ItemPtr two = Download("wes", "two.bin", "saved\\set", 1000000000);
    Download("wes", "three.bin", "saved\\other", 10);
    // A download that ran and is removed: its folder's sums leave it out.
    ItemPtr gone = Download("wes", "gone.bin", "saved\\set", 5000000000);
    SetStatus(one, "complete");
    SetStatus(gone, "complete");
    Report(gone, 5000000000, 0);
    QTreeWidgetItem* set = Row(one)->parent();
    QTRY_COMPARE(BarText(downloads, set), QStringLiteral("8,000,000,000 (88.9%)"));
    transferQueueManager->RemoveDownload(gone);
    QTRY_COMPARE(BarText(downloads, set), QStringLiteral("3,000,000,000 (75.0%)"));
    // Fast figures fit their column.
    SetStatus(two, "downloading");
    Report(two, 0, 71426355);
    QTRY_COMPARE(Row(two)->text(6), QStringLiteral("69752.3"));
    QVERIFY(ColumnFits(downloads, 6));
    // So does a user name as long as the test driver's, in a window wide
    // enough for it; cut in a narrower one, it shows whole on hover.
    ItemPtr driver
        = Download(QStringLiteral("user-6f3a9c2e81"), QStringLiteral("a.bin"), QStringLiteral("m"), 1);
    session.Window()->Ui().tabControl->setCurrentIndex(0);
    const QSize size = session.Window()->size();
    session.Window()->resize(size.width() + 200, size.height());
    QVERIFY(gui::WaitFor([&] { return ColumnFits(downloads, 0); }));
    session.Window()->resize(size);
    QVERIFY(gui::WaitFor([&] { return !ColumnFits(downloads, 0); }));
    const QModelIndex user = downloads->indexFromItem(Row(driver)->parent()->parent(), 0);
    const QPoint at = downloads->visualRect(user).center();
    QHelpEvent hover(QEvent::ToolTip, at, downloads->viewport()->mapToGlobal(at));
    QApplication::sendEvent(downloads->viewport(), &hover);
    QCOMPARE(QToolTip::text(), PlainToolTip(user.data().toString()));
    transferQueueManager->RemoveDownload(driver);
    SetStatus(two, "queued");
    // Its partial file, begun by it, holds 400,000,000 bytes.
    QFile partial(transferQueueManager->LocalPath(transferQueueManager->GetDownloadTargetPath(two, false)));
    QVERIFY(QDir().mkpath(QFileInfo(partial).path()) && partial.open(QIODevice::WriteOnly) && partial.resize(400000000));
    QVERIFY(transferQueueManager->Records().Write(partial.fileName(), TransferQueueManager::SourceOf(two)));
    session.CloseWindow();
    QCOMPARE(session.RunChild("add_then_crash"), -1);
    QCOMPARE(session.RunChild("verify_saved_rows"), 0);
}

GUI_TEST_MAIN(TestTransferPage)
#include "tst_transferpage.moc"
