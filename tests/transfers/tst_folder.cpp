// The downloads folder: where partial and finished files go, hostile names
// from peers that must stay inside it, what counts as already finished, and
// the end of a download that cannot be moved.
#include "helper_transfercore.h"
#include "store/Data.h"
#include "store/Settings.h"
#include "transfers/SafePath.h"
#include "transfers/TransferQueueManager.h"
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

class TestFolder : public QObject {
    Q_OBJECT
    TransferQueueManager* tq = nullptr;
    QTemporaryDir temp;
    QString root;
    uint nextReq = 1;

    // Every file below the temporary folder that is not below the downloads
    // folder.
    QStringList FilesOutsideRoot() const
    {
        QStringList outside;
        QDirIterator it(temp.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (!path.startsWith(root + "/") && !path.contains("/sources/"))
                outside << path;
        }
        return outside;
    }

    // Runs one whole transfer of the download as the peer would.
    void Transfer(const QString& user, const std::string& remotePath, const QByteArray& data)
    {
        const uint req = nextReq++;
        tq->OnFileTransferRequest(user, 1, req, remotePath, data.size());
        SocketPair pair = MakeSocketPair();
        tq->OnFileConnection(user, pair.engineSide, req);
        // The offset waits for the record's sync: seconds on a busy disk.
        const QByteArray offset = ReadExactly(pair.peerSide, 8, 60000);
        if (offset.size() == 8) {
            pair.peerSide->write(data.mid(qFromLittleEndian<qint64>(offset.constData())));
            pair.peerSide->waitForBytesWritten(5000);
        }
        QTest::qWait(200);
        delete pair.peerSide;
    }

private slots:
    void initTestCase()
    {
        root = temp.path() + "/downloads";
        tq = MakeTransferCore(root);
        // Pushed files from this user are accepted.
        settings.Set("accept_userlist_uploads", "yes");
        d.GetType("user")->GetItem("pusher").NewItem("in_user_list");
    }

    void folderRule()
    {
        ItemPtr live = tq->AddDownload("rule", "track.mp3", "Music\\Albums\\Band\\Live", 5, false, 0);
        QVERIFY(tq->GetDownloadTargetFolder(live, false).endsWith("\\downloading\\Live"));
        QCOMPARE(
            tq->GetDownloadTargetFolder(live, true), QString(root).replace('/', '\\') + "\\complete\\Live");
        ItemPtr deeper = tq->AddDownload("rule", "track.mp3", "Music\\Albums\\Band\\Live2", 5, false, 1);
        QVERIFY(tq->GetDownloadTargetPath(deeper, true).endsWith("\\complete\\Band\\Live2\\track.mp3"));
        // A level beyond the folder's depth takes the whole folder, once.
        ItemPtr shallow = tq->AddDownload("rule", "track.mp3", "A\\B", 5, false, 6);
        QVERIFY(tq->GetDownloadTargetFolder(shallow, true).endsWith("\\complete\\A\\B"));
        QCOMPARE(tq->GetDownloadRelativeDownloadFolder(shallow), QString("A\\B"));
        // A single file with dont_create_subfolders_for_single_downloads.
        ItemPtr single = tq->AddDownload("rule", "one.mp3", "Music\\Singles", 5, true, 0);
        QVERIFY(tq->GetDownloadTargetFolder(single, true).endsWith("\\complete\\Singles"));
        settings.Set("dont_create_subfolders_for_single_downloads", "yes");
        QVERIFY(tq->GetDownloadTargetFolder(single, true).endsWith("\\complete"));
        QCOMPARE(tq->GetDownloadRelativeDownloadFolder(single), QString("Singles"));
        settings.Clear("dont_create_subfolders_for_single_downloads");
        ItemPtr bare = tq->AddDownload("rule", "bare.mp3", "", 5, false, 0);
        QVERIFY(tq->GetDownloadTargetFolder(bare, false).endsWith("\\downloading"));
    }

    void safeComponents()
    {
        QCOMPARE(SafePathComponent(".."), QString("__"));
        QCOMPARE(SafePathComponent("."), QString("_"));
        QCOMPARE(SafePathComponent(""), QString("_"));
        QCOMPARE(SafePathComponent(QString("a") + QChar(0) + "b"), QString("a_b"));
        QCOMPARE(SafePathComponent("x/y\\z"), QString("x_y_z"));
        QVERIFY(SafePathComponent(QString(300, QChar(0x00e9))).toUtf8().size() <= 255);
        // A long name is cut in its stem, between characters.
        const QString cut = SafePathComponent(QString(300, QChar(0x00e9)) + ".flac");
        QVERIFY(cut.endsWith(QString(QChar(0x00e9)) + ".flac") && cut.toUtf8().size() <= 255);
        // An extension of more bytes than characters counts in bytes, in
        // numbered names too: each cut name is one the disk takes.
        const QString extension = QString::fromUtf16(u".\u97f3\u697d\u6a19\u6e96");
        QVERIFY(QDir().mkpath(temp.path() + "/sources"));
        for (const QChar letter : { QChar('a'), QChar(0x00e9) }) {
            const QString name = SafePathComponent(QString(300, letter) + extension);
            for (const QString& made : { name, NumberedPathComponent(name, 1), NumberedPathComponent(name, 120) }) {
                QVERIFY2(made.endsWith(extension), qPrintable(made));
                QFile file(temp.path() + "/sources/" + made);
                QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(file.errorString()));
                QVERIFY(file.remove());
            }
        }
        QCOMPARE(SafeFolderComponents("..\\..\\x"), QStringList({ "__", "__", "x" }));
        QCOMPARE(SafeFolderComponents("C:\\x"), QStringList({ "C:", "x" }));
        QVERIFY(!IsPathUnder("/a/b", "/a/b/../c"));
        QVERIFY(!IsPathUnder("/a/b", "/a/b"));
        QVERIFY(IsPathUnder("/a/b", "/a/b/c"));
        QVERIFY(!IsPathUnder("/a/b", "/a/bc"));
    }

    // Hostile names, as they arrive in search results (queued by the user)
    // and in pushed files: every byte lands below the downloads folder.
    void hostileNamesStayInside_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("name");
        QTest::newRow("dotdot") << "..\\..\\.."
                                << "..";
        QTest::newRow("dotdot-name") << "Music"
                                     << "..\\..\\x";
        QTest::newRow("drive") << "C:\\"
                               << "x";
        QTest::newRow("rooted") << "\\"
                                << "etc";
        QTest::newRow("nul") << QString("a") + QChar(0) + "b" << QString("n") + QChar(0) + ".mp3";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("dot") << "."
                             << ".";
        QTest::newRow("slashes") << "../../../../tmp"
                                 << "../../evil";
        QTest::newRow("control") << "a\x01\x1f"
                                 << "\n";
    }
    void hostileNamesStayInside()
    {
        QFETCH(QString, folder);
        QFETCH(QString, name);
        static int round = 0;
        ++round;
        const QByteArray data
            = WriteRandomFile(temp.path() + "/sources/h" + QString::number(round), 1000 + round, round);
        const std::string f = folder.toStdString();
        const std::string n = name.toStdString();
        // Queued from a search result by the user.
        ItemPtr queued = tq->AddDownload("hostile", n, f, data.size(), true, 3);
        const std::string remote = f + "\\" + n;
        Transfer("hostile", TransferQueueManager::GetRemotePath(queued), data);
        // Pushed by a peer.
        Transfer("pusher", "..\\..\\pushed" + std::to_string(round) + "\\" + n, data);
        QCOMPARE(FilesOutsideRoot(), QStringList());
        // A name with separators never matches the peer's request (which is
        // split at them), so such a download may stay queued.
        QTRY_VERIFY_WITH_TIMEOUT(DownloadStatus(queued) != "downloading", 10000);
        if (DownloadStatus(queued) == "complete")
            QCOMPARE(ReadWholeFile(tq->LocalPath(tq->GetDownloadTargetPath(queued, true))), data);
        Q_UNUSED(remote);
    }

    // A finished file of the same name, of another size or of the same, is
    // not another source's download; its own source's finished file is.
    void completeExistenceComparesSizes()
    {
        WriteRandomFile(root + "/complete/Shared/same.bin", 4096, 1);
        SetOnline("other", false);
        ItemPtr differs = tq->AddDownload("other", "same.bin", "X\\Shared", 5000, false, 0);
        QCOMPARE(DownloadStatus(differs), QString("queued"));
        ItemPtr equal = tq->AddDownload("third", "same.bin", "Y\\Shared", 4096, false, 0);
        QCOMPARE(DownloadStatus(equal), QString("queued"));

        // The file of another size finishes downloading: it takes the next
        // free name, and the file that was there stays as it was.
        QSignalSpy added(tq, &TransferQueueManager::CompleteDownloadAdded);
        WriteRandomFile(root + "/complete/Shared/same (1).bin", 10, 3);
        const QByteArray data = WriteRandomFile(temp.path() + "/sources/same", 5000, 2);
        Transfer("other", TransferQueueManager::GetRemotePath(differs), data);
        QTRY_COMPARE_WITH_TIMEOUT(DownloadStatus(differs), QString("complete"), 10000);
        QCOMPARE(QFileInfo(root + "/complete/Shared/same.bin").size(), qint64(4096));
        QCOMPARE(QFileInfo(root + "/complete/Shared/same (1).bin").size(), qint64(10));
        QCOMPARE(ReadWholeFile(root + "/complete/Shared/same (2).bin"), data);
        QVERIFY(!QFile::exists(root + "/downloading/Shared/same.bin"));
        // One record for it (an earlier case's download may finish meanwhile,
        // under its own name).
        QStringList names;
        for (const QList<QVariant>& record : added)
            names << record.at(0).value<ItemPtr>()["complete_download_filename"].AsString();
        QVERIFY2(names.count(QString("same (2).bin")) == 1, qPrintable(names.join(u'|')));
        tq->RemoveDownload(differs);
        QCOMPARE(DownloadStatus(tq->AddDownload("other", "same.bin", "X\\Shared", 5000, false, 0)),
            QString("complete"));

        // A record left at a free name by a file deleted since goes before a
        // finished file takes the name, even when its own record can't be
        // written: it never counts as the other source's file.
        QVERIFY(
            tq->Records().Write(root + "/complete/Shared/old.bin", { "third", "Y\\Shared\\old.bin", 5000 }));
        const QByteArray hash = QCryptographicHash::hash("complete/Shared/old.bin", QCryptographicHash::Sha1);
        QVERIFY(QDir().mkpath(root + "/.download-sources/" + hash.toHex() + ".new"));
        ItemPtr filed = tq->AddDownload("other", "old.bin", "X\\Shared", 5000, false, 0);
        Transfer("other", TransferQueueManager::GetRemotePath(filed), data);
        QTRY_COMPARE_WITH_TIMEOUT(DownloadStatus(filed), QString("complete"), 10000);
        QCOMPARE(ReadWholeFile(root + "/complete/Shared/old.bin"), data);
        QVERIFY(filed["download_note"].AsString().contains("its source could not be recorded"));
        // Records name other users and their files: the user's alone.
        QCOMPARE(QFileInfo(root + "/.download-sources/" + hash.toHex()).permissions() & 0x0077, QFile::Permissions());
        QCOMPARE(DownloadStatus(tq->AddDownload("third", "old.bin", "Y\\Shared", 5000, false, 0)),
            QString("queued"));
    }

    void completionRecordsAndFolderCleanup()
    {
        QSignalSpy added(tq, &TransferQueueManager::CompleteDownloadAdded);
        ItemPtr a = tq->AddDownload("album", "1.mp3", "Music\\Band\\Disc", 300, false, 1);
        ItemPtr b = tq->AddDownload("album", "2.mp3", "Music\\Band\\Disc", 400, false, 1);
        Transfer("album", TransferQueueManager::GetRemotePath(a), QByteArray(300, 'a'));
        QTRY_COMPARE_WITH_TIMEOUT(DownloadStatus(a), QString("complete"), 10000);
        QCOMPARE(added.count(), 1);
        ItemPtr record = added.at(0).at(0).value<ItemPtr>();
        QCOMPARE(record["complete_download_relative_folder"].AsString(), QString("Band\\Disc"));
        QCOMPARE(record["complete_download_file_size"].AsString(), QString("300"));
        // Emptied folders go, of a file asked for alone too; the other file
        // of the folder makes its folders again.
        QVERIFY(!QDir(root + "/downloading/Band").exists());
        ItemPtr single = tq->AddDownload("album", "3.mp3", "Music\\Solo", 30, true, 0);
        Transfer("album", TransferQueueManager::GetRemotePath(single), QByteArray(30, 's'));
        QTRY_COMPARE_WITH_TIMEOUT(DownloadStatus(single), QString("complete"), 10000);
        QVERIFY(!QDir(root + "/downloading/Solo").exists());
        Transfer("album", TransferQueueManager::GetRemotePath(b), QByteArray(400, 'b'));
        QTRY_COMPARE_WITH_TIMEOUT(DownloadStatus(b), QString("complete"), 10000);
        QVERIFY(!QDir(root + "/downloading/Band").exists());
        QVERIFY(QDir(root + "/downloading").exists());
        QCOMPARE(ReadWholeFile(root + "/complete/Band/Disc/2.mp3"), QByteArray(400, 'b'));

        // A folder of "complete" on another disk takes the file by a synced
        // copy; one it can't hold says why once, and leaves nothing there.
        const QString disk = root + "/complete/Disk";
        QVERIFY(QDir().mkpath(disk));
        if (QProcess::execute("mount", { "-t", "tmpfs", "-o", "size=1m", "tmpfs", disk }) != 0)
            QSKIP("mounting a tmpfs is not permitted here");
        auto unmount = qScopeGuard([&] { QProcess::execute("umount", { "-l", disk }); });
        ItemPtr fits = tq->AddDownload("far", "fits.bin", "X\\Disk", 300000, false, 0);
        ItemPtr big = tq->AddDownload("far", "big.bin", "X\\Disk", 2 << 20, false, 0);
        const QByteArray data = WriteRandomFile(temp.path() + "/sources/fits", 300000, 4);
        Transfer("far", TransferQueueManager::GetRemotePath(fits), data);
        QTRY_COMPARE_WITH_TIMEOUT(DownloadStatus(fits), QString("complete"), 10000);
        QCOMPARE(ReadWholeFile(disk + "/fits.bin"), data);
        QVERIFY(!QFile::exists(root + "/downloading/Disk/fits.bin"));
        QCOMPARE(tq->RecordsOf(fits).Read(disk + "/fits.bin"), TransferQueueManager::SourceOf(fits));

        Transfer("far", TransferQueueManager::GetRemotePath(big), QByteArray(2 << 20, 'b'));
        QTRY_COMPARE_WITH_TIMEOUT(DownloadStatus(big), QString("local error"), 10000);
        QVERIFY(big["denial_reason"].AsString().endsWith("No space left on device"));
        QCOMPARE(QDir(disk).entryList(QDir::Files), QStringList { "fits.bin" });
        QCOMPARE(QFileInfo(root + "/downloading/Disk/big.bin").size(), qint64(2 << 20));
    }
};

QTEST_GUILESS_MAIN(TestFolder)
#include "tst_folder.moc"
