// Saves that fail (after a change of the download queue, hourly) are told
// once until one succeeds, and the client runs on; closing the window while a
// file is being uploaded ends cleanly, quitting writes the data file once (or
// again for what changed after the close), and the file loads at the next
// start, with a download that was being filed as the window closed complete.
#include "gui/GuiTest.h"
#include "helper_shares.h"
#include "shares/SharedFoldersManager.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "store/Settings.h"
#include "transfers/TransferQueueManager.h"
#include "transfers/TransferTestAccess.h"
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTreeWidget>
#include <cstdio>
#include <sys/stat.h>

namespace {
std::string Remote(const QString& local)
{
    return QString(local).replace(QLatin1Char('/'), QLatin1Char('\\')).toStdString();
}

QByteArray ReadWhole(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The data file as written: a new write renames a new file over it.
QPair<quint64, qint64> Written()
{
    struct stat info;
    if (::stat(QFile::encodeName(MainWindow::DataFilePath()).constData(), &info) != 0)
        return {};
    return { quint64(info.st_ino), qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec };
}
} // namespace

// Loads what the parent left, then quits with nothing changed after the
// close's save: the file is written once.
GUI_CHILD_ROLE(verify_data_file)
{
    gui::Session session;
    if (!session.Prepare())
        return 1;
    gui::ModalAnswerer answers;
    MainWindow* window = session.StartWindow(QString());
    if (!window || !answers.Seen().isEmpty()) {
        std::fprintf(stderr, "the data file did not load cleanly\n");
        return 1;
    }
    // The download filed as the window closed opens its own file.
    const QString giverShare = session.Home() + QStringLiteral("/giver share");
    ItemPtr held
        = transferQueueManager->GetDownloadEntry(QStringLiteral("giver"), "held.bin", Remote(giverShare));
    const QString heldPath
        = held ? transferQueueManager->LocalPath(transferQueueManager->GetCompleteFilePath(held)) : QString();
    const bool filed
        = !heldPath.isEmpty() && ReadWhole(heldPath) == ReadWhole(giverShare + QStringLiteral("/held.bin"));
    if (!filed)
        std::fprintf(stderr, "the download filed at the end does not open its own file\n");
    const bool ok = settings.Get("username") == QLatin1String("sender")
        && settings.Get("empty_share_message") == QLatin1String("set after the close")
        && window->Ui().sharedFoldersList->topLevelItemCount() == 1 && filed;
    window->close();
    const auto closed = Written();
    session.CloseWindow();
    if (Written() != closed)
        std::fprintf(stderr, "quitting wrote the data file twice\n");
    return ok && Written() == closed ? 0 : 1;
}

class TestShutdown : public QObject {
    Q_OBJECT
    gui::Session session;
    QTemporaryDir shared;

private slots:
    void initTestCase()
    {
        QVERIFY(session.Prepare());
        QVERIFY(session.StartWindow(QStringLiteral("sender")));
    }
    void failedSavesWarnOnceAndKeepRunning();
    void closeDuringAnUploadEndsCleanly();
};

void TestShutdown::failedSavesWarnOnceAndKeepRunning()
{
    MainWindow* window = session.Window();
    // A folder where the data file should be: the file cannot replace it.
    QVERIFY(QDir().mkpath(MainWindow::DataFilePath()));
    gui::ModalAnswerer answers;
    // A download added is saved within seconds: that save's failure is told
    // as the hourly one's, once for both.
    transferQueueManager->AddDownload(QStringLiteral("nobody"), "lost.bin", "f", 1, false, 0);
    QVERIFY(gui::WaitFor([&] { return answers.CountTitled(QStringLiteral("Could not save")) == 1; }, 20000));
    window->EveryHour();
    window->EveryHour();
    QVERIFY(gui::WaitFor([&] { return answers.CountTitled(QStringLiteral("Could not save")) > 0; }));
    QTest::qWait(300);
    QCOMPARE(answers.CountTitled(QStringLiteral("Could not save")), 1);
    QVERIFY(QDir().rmdir(MainWindow::DataFilePath()));
    window->EveryHour();
    QVERIFY(
        gui::WaitFor([] { return QFileInfo(MainWindow::DataFilePath()).isFile() && !dataSaver->Saving(); }));
    QCOMPARE(answers.Seen().size(), 1);
    // A failure after a save that succeeded is told again.
    QVERIFY(QFile::remove(MainWindow::DataFilePath()) && QDir().mkpath(MainWindow::DataFilePath()));
    window->EveryHour();
    QVERIFY(gui::WaitFor([&] { return answers.CountTitled(QStringLiteral("Could not save")) == 2; }));
    QVERIFY(QDir().rmdir(MainWindow::DataFilePath()));
}

void TestShutdown::closeDuringAnUploadEndsCleanly()
{
    {
        QFile big(shared.filePath(QStringLiteral("slowpoke.bin")));
        QVERIFY(big.open(QIODevice::WriteOnly));
        big.write(QByteArray(8 * 1024 * 1024, 'z'));
    }
    // Slow enough that the upload is still running when the window closes.
    transferQueueManager->SetUploadSpeedLimit(64);
    transferQueueManager->EnableUploadSpeedLimit(true);
    sharedFoldersManager->AddSharedFolder(shared.path()).NewItem("shared_public");
    QVERIFY(gui::WaitFor([] { return !sharedFoldersManager->IsScanning(); }));

    DriverProcess* taker = session.StartDriver(QStringLiteral("taker"));
    QVERIFY(taker);
    taker->Send(QStringLiteral("search slowpoke"));
    const QStringList result = taker->WaitFor(QStringLiteral("search-result ")).split(QLatin1Char(' '));
    QVERIFY(result.size() >= 5);
    taker->Send(QStringLiteral("download sender %1 %2").arg(result[3], result.mid(4).join(QLatin1Char(' '))));
    QVERIFY(gui::WaitFor([] {
        for (ItemPtr upload : d.GetType("upload_entry")->GetItems())
            if (upload["upload_entry_status"].AsString() == QLatin1String("uploading"))
                return true;
        return false;
    }));

    // A download being filed as the window closes, the disk slow, while
    // another file holds its name: the outcome is saved at the end.
    const QString giverShare = session.Home() + QStringLiteral("/giver share");
    const qsizetype size = 200000;
    WriteFile(giverShare + QStringLiteral("/held.bin"), QByteArray(size, 'h'));
    DriverProcess* giver = session.StartDriver(QStringLiteral("giver"));
    QVERIFY(giver);
    giver->Send(QStringLiteral("share-folder ") + giverShare);
    giver->Send(QStringLiteral("wait-shares"));
    QVERIFY(!giver->WaitFor(QStringLiteral("shares-ready")).isEmpty());
    SlowDisk beginning(transferQueueManager);
    ItemPtr held = transferQueueManager->AddDownload(
        QStringLiteral("giver"), "held.bin", Remote(giverShare), size, false, 0);
    const QString plain = transferQueueManager->GetDownloadTargetPath(held, true);
    WriteFile(transferQueueManager->LocalPath(plain), QByteArray(3000, 'p'));
    QVERIFY(gui::WaitFor([&] { return TransferTestAccess::BeingBegun(transferQueueManager, held); }, 30000));
    SlowDisk filing(transferQueueManager);
    beginning.Release();
    QVERIFY(gui::WaitFor([&] { return TransferTestAccess::BeingFiled(transferQueueManager, held); }, 30000));
    giver->Stop();
    filing.Release();

    // What changes after the close's save is still saved at the end.
    QElapsedTimer clock;
    clock.start();
    session.Window()->close();
    settings.Set("empty_share_message", "set after the close");
    session.CloseWindow();
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(QFile::exists(MainWindow::DataFilePath()));
    QCOMPARE(session.RunChild("verify_data_file"), 0);
}

GUI_TEST_MAIN(TestShutdown)
#include "tst_shutdown.moc"
