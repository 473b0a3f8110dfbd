// Negotiation and file connections, with the real worker threads on real
// loopback sockets; the test plays the peer's end of each file connection.
#include "TransferTestAccess.h"
#include "helper_transfercore.h"
#include "peers/PeerMessenger.h"
#include "store/Data.h"
#include "store/LogSink.h"
#include "store/Settings.h"
#include "transfers/SafePath.h"
#include "transfers/TransferQueueManager.h"
#include <QDir>
#include <QFile>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <algorithm>
#include <cstdio>

namespace {
const int kWait = 20000;

qint64 OffsetOf(const QByteArray& eight)
{
    return qFromLittleEndian<qint64>(eight.constData());
}

QByteArray Le32(quint32 v)
{
    char b[4];
    qToLittleEndian(v, b);
    return QByteArray(b, 4);
}

QByteArray Le64(qint64 v)
{
    char b[8];
    qToLittleEndian(v, b);
    return QByteArray(b, 8);
}
} // namespace

class TestNegotiation : public QObject {
    Q_OBJECT
    TransferQueueManager* tq = nullptr;
    QTemporaryDir temp;
    QString root;
    uint nextReq = 100;

    QString Downloading(const QString& rest) const { return root + "/downloading/" + rest; }
    QString Complete(const QString& rest) const { return root + "/complete/" + rest; }

    // A download of user's Share\Folder\name accepted under a fresh request
    // number; returns the number.
    uint Accept(const QString& user, const QString& name, qint64 size)
    {
        const uint req = nextReq++;
        tq->AddDownload(user, name.toStdString(), "Share\\Folder", size, false, 0);
        tq->OnFileTransferRequest(user, 1, req, ("Share\\Folder\\" + name).toStdString(), size);
        return req;
    }

    // Plays the uploader: takes the offset and sends data from there; returns
    // the offset.
    qint64 Serve(const QString& user, uint req, const QByteArray& data, bool closeAfter = false)
    {
        SocketPair pair = MakeSocketPair();
        tq->OnFileConnection(user, pair.engineSide, req);
        const QByteArray offsetBytes = ReadExactly(pair.peerSide, 8);
        if (offsetBytes.size() != 8) {
            delete pair.peerSide;
            return -1;
        }
        const qint64 offset = OffsetOf(offsetBytes);
        if (offset >= 0 && offset <= data.size()) {
            pair.peerSide->write(data.mid(offset));
            pair.peerSide->waitForBytesWritten(kWait);
        }
        if (closeAfter)
            pair.peerSide->disconnectFromHost();
        QTest::qWait(50);
        pair.peerSide->deleteLater();
        return offset;
    }

    ItemPtr Entry(const QString& user, const QString& name)
    {
        return tq->GetDownloadEntry(user, name.toStdString(), "Share\\Folder");
    }

    // A download accepted and its file connection handed to the engine;
    // returns the peer's end, deleted after the test.
    QTcpSocket* Connect(const QString& user, const QString& name, qint64 size)
    {
        SocketPair pair = MakeSocketPair();
        peers.emplace_back(pair.peerSide);
        tq->OnFileConnection(user, pair.engineSide, Accept(user, name, size));
        return pair.peerSide;
    }
    static bool Send(QTcpSocket* peer, const QByteArray& bytes)
    {
        return peer->write(bytes) == bytes.size() && peer->waitForBytesWritten(kWait);
    }
    std::vector<std::unique_ptr<QTcpSocket>> peers;

private slots:
    void initTestCase()
    {
        root = temp.path() + "/downloads";
        tq = MakeTransferCore(root);
    }
    void cleanup() { peers.clear(); }

    void pushedFilesNeedPermission()
    {
        tq->OnFileTransferRequest("stranger", 1, 1, "Their\\gift.mp3", 100);
        QVERIFY(!tq->GetDownloadEntry("stranger", "gift.mp3", "Their"));

        // A friend in a group that accepts pushed files.
        ItemPtr user = d.GetType("user")->GetItem("friend");
        ItemPtr inList = user.NewItem("in_user_list");
        ItemPtr group = d.GetType("user_list_group")->GetItem("pushers");
        inList += group;
        group += d.GetType("accept_uploads")->GetGlobalNullItem();
        settings.Set("transfer_order_counter", "7");
        tq->OnFileTransferRequest("friend", 1, 2, "Their\\gift.mp3", 100);
        ItemPtr download = tq->GetDownloadEntry("friend", "gift.mp3", "Their");
        QVERIFY(download);
        QCOMPARE(DownloadStatus(download), QString("queued"));
        QCOMPARE(download["subfolder_save_level"].AsString(), QString("0"));
        QCOMPARE(download["download_order"].AsString(), QString("7"));
        QVERIFY(!download.IsConnected("single_download"));
        QCOMPARE(settings.Get("transfer_order_counter"), QString("8"));
        QCOMPARE(download["remote_transfer_req"].AsString(), QString("2"));

        // accept_userlist_uploads admits only users of the list.
        settings.Set("accept_userlist_uploads", "yes");
        tq->OnFileTransferRequest("stranger", 1, 3, "Their\\gift.mp3", 100);
        QVERIFY(!tq->GetDownloadEntry("stranger", "gift.mp3", "Their"));
        settings.Clear("accept_userlist_uploads");

        // No file has a negative size.
        tq->OnFileTransferRequest("friend", 1, 4, "Their\\odd.mp3", -5);
        QVERIFY(!tq->GetDownloadEntry("friend", "odd.mp3", "Their"));
    }

    void requestNumbersBelongToOneDownloadPerUser()
    {
        const uint req = Accept("numbers", "one.bin", 10);
        tq->AddDownload("numbers", "two.bin", "Share\\Folder", 10, false, 0);
        tq->OnFileTransferRequest("numbers", 1, req, "Share\\Folder\\two.bin", 10);
        QVERIFY(!Entry("numbers", "one.bin")["remote_transfer_req"]);
        QCOMPARE(Entry("numbers", "two.bin")["remote_transfer_req"].AsUInt(), req);
    }

    void announcedSizeUpdatesTheEntry()
    {
        tq->AddDownload("sizer", "grow.bin", "Share\\Folder", 10, false, 0);
        tq->OnFileTransferRequest("sizer", 1, 77, "Share\\Folder\\grow.bin", 2000);
        QCOMPARE(Entry("sizer", "grow.bin")["file_size"].AsInt64(), qint64(2000));
        const QByteArray data = WriteRandomFile(temp.path() + "/grow.src", 2000, 3);
        QCOMPARE(Serve("sizer", 77, data), qint64(0));
        QTRY_COMPARE_WITH_TIMEOUT(DownloadStatus(Entry("sizer", "grow.bin")), QString("complete"), kWait);
        QCOMPARE(ReadWholeFile(Complete("Folder/grow.bin")), data);
    }

    void freshAndResumedDownloads()
    {
        const QByteArray data = WriteRandomFile(temp.path() + "/fresh.src", 300000, 4);
        uint req = Accept("fresh", "fresh.bin", data.size());
        QCOMPARE(Serve("fresh", req, data), qint64(0));
        QTRY_COMPARE_WITH_TIMEOUT(DownloadStatus(Entry("fresh", "fresh.bin")), QString("complete"), kWait);
        QCOMPARE(ReadWholeFile(Complete("Folder/fresh.bin")), data);
        QVERIFY(!QFile::exists(Downloading("Folder/fresh.bin")));

        // A partial file of 123457 bytes: the rest travels, after the last
        // 64 KiB held, sent again to be compared.
        const QByteArray more = WriteRandomFile(temp.path() + "/resume.src", 250000, 5);
        req = Accept("resumer", "resume.bin", more.size());
        QCOMPARE(Serve("resumer", req, more.left(123457), true), qint64(0));
        QTRY_COMPARE_WITH_TIMEOUT(DownloadStatus(Entry("resumer", "resume.bin")), QString("aborted"), kWait);
        QCOMPARE(Serve("resumer", Accept("resumer", "resume.bin", more.size()), more), qint64(123457 - 65536));
        QTRY_COMPARE_WITH_TIMEOUT(DownloadStatus(Entry("resumer", "resume.bin")), QString("complete"), kWait);
        QCOMPARE(ReadWholeFile(Complete("Folder/resume.bin")), more);
    }

    void emptyAndAlreadyWholeFilesComplete()
    {
        uint req = Accept("empty", "empty.bin", 0);
        QCOMPARE(Serve("empty", req, QByteArray()), qint64(0));
        QTRY_COMPARE_WITH_TIMEOUT(DownloadStatus(Entry("empty", "empty.bin")), QString("complete"), kWait);
        QVERIFY(QFile::exists(Complete("Folder/empty.bin")));
        QCOMPARE(QFileInfo(Complete("Folder/empty.bin")).size(), qint64(0));

        // A partial file with no record of its source (left from before, or
        // by a lost row) is nobody's: the download starts beside it.
        const QByteArray left = WriteRandomFile(Downloading("Folder/whole.bin"), 5000, 6);
        const QByteArray whole = WriteRandomFile(temp.path() + "/whole.src", 5000, 16);
        req = Accept("whole", "whole.bin", whole.size());
        QCOMPARE(Serve("whole", req, whole), qint64(0));
        QTRY_COMPARE_WITH_TIMEOUT(DownloadStatus(Entry("whole", "whole.bin")), QString("complete"), kWait);
        QCOMPARE(ReadWholeFile(Complete("Folder/whole.bin")), whole);
        QCOMPARE(ReadWholeFile(Downloading("Folder/whole.bin")), left);

        // Unless the row was saved before partial files had records: the file
        // it names is recorded for it and resumed, or begun again when it
        // holds more than the file offered. Records of files no longer there
        // go after the load.
        const QByteArray old = WriteRandomFile(temp.path() + "/old.src", 200000, 26);
        tq->AddDownload("old", "old.bin", "Share\\Folder", old.size(), false, 0);
        QFile partial(Downloading("Folder/old.bin"));
        QVERIFY(partial.open(QIODevice::WriteOnly) && partial.write(old.left(100000)) == 100000);
        partial.close();
        tq->AddDownload("old", "cut.bin", "Share\\Folder", 5000, false, 0);
        WriteRandomFile(Downloading("Folder/cut.bin"), 80000, 36);
        QVERIFY(tq->Records().Write(Complete("Folder/gone.bin"), { "old", "Share\\Folder\\gone.bin", 5 }));
        // A record being written when the program was killed goes too.
        const QString torn = root + "/.download-sources/" + QString(40, 'a') + ".new";
        WriteRandomFile(torn, 20, 37);
        settings.Clear("partial_file_records");
        tq->DataLoaded();
        QTRY_VERIFY_WITH_TIMEOUT(!tq->Records().Read(Complete("Folder/gone.bin")) && !QFile::exists(torn), kWait);
        QCOMPARE(Serve("old", Accept("old", "old.bin", old.size()), old), qint64(100000 - 65536));
        QTRY_COMPARE_WITH_TIMEOUT(DownloadStatus(Entry("old", "old.bin")), QString("complete"), kWait);
        QCOMPARE(ReadWholeFile(Complete("Folder/old.bin")), old);
        const QByteArray cut = WriteRandomFile(temp.path() + "/cut.src", 5000, 46);
        QCOMPARE(Serve("old", Accept("old", "cut.bin", cut.size()), cut), qint64(0));
        QTRY_COMPARE_WITH_TIMEOUT(DownloadStatus(Entry("old", "cut.bin")), QString("complete"), kWait);
        QCOMPARE(ReadWholeFile(Complete("Folder/cut.bin")), cut);
    }

    void changedFileStartsAgain()
    {
        // The peer's file changes size between a broken download and its
        // resume: the partial bytes of the old file are dropped, never
        // completed with the new file's tail.
        const QByteArray before = WriteRandomFile(temp.path() + "/changed.v1", 5000, 7);
        uint req = Accept("changer", "changed.bin", before.size());
        QCOMPARE(Serve("changer", req, before.left(2000), true), qint64(0));
        QTRY_COMPARE_WITH_TIMEOUT(DownloadStatus(Entry("changer", "changed.bin")), QString("aborted"), kWait);
        QCOMPARE(QFileInfo(Downloading("Folder/changed.bin")).size(), qint64(2000));
        const QByteArray after = WriteRandomFile(temp.path() + "/changed.v2", 8000, 17);
        req = nextReq++;
        tq->OnFileTransferRequest("changer", 1, req, "Share\\Folder\\changed.bin", after.size());
        QCOMPARE(Serve("changer", req, after), qint64(0));
        QTRY_COMPARE_WITH_TIMEOUT(DownloadStatus(Entry("changer", "changed.bin")), QString("complete"), kWait);
        QCOMPARE(ReadWholeFile(Complete("Folder/changed.bin")), after);

        // A partial file recorded for this very source that holds more than
        // the file as it is offered now (a record from before the file was
        // cut) starts again too, instead of failing on every attempt.
        WriteRandomFile(Downloading("Folder/big.bin"), 6000, 7);
        QVERIFY(tq->Records().Write(Downloading("Folder/big.bin"), { "shrunk", "Share\\Folder\\big.bin", 5000 }));
        const QByteArray shrunk = WriteRandomFile(temp.path() + "/big.src", 5000, 27);
        req = Accept("shrunk", "big.bin", shrunk.size());
        QCOMPARE(Serve("shrunk", req, shrunk), qint64(0));
        QTRY_COMPARE_WITH_TIMEOUT(DownloadStatus(Entry("shrunk", "big.bin")), QString("complete"), kWait);
        QCOMPARE(ReadWholeFile(Complete("Folder/big.bin")), shrunk);
        QVERIFY(Entry("shrunk", "big.bin")["download_note"].AsString().contains("from the start"));

        // Two users' files of one name in folders of one name share the
        // partial file: each takes over the other's start from nothing, and
        // each completes as its own file.
        const QByteArray mine = WriteRandomFile(temp.path() + "/same.v1", 5000, 8);
        const QByteArray theirs = WriteRandomFile(temp.path() + "/same.v2", 8000, 18);
        req = Accept("first", "same.bin", mine.size());
        QCOMPARE(Serve("first", req, mine.left(2000), true), qint64(0));
        QTRY_COMPARE_WITH_TIMEOUT(DownloadStatus(Entry("first", "same.bin")), QString("aborted"), kWait);
        req = Accept("second", "same.bin", theirs.size());
        QCOMPARE(Serve("second", req, theirs.left(3000), true), qint64(0));
        QTRY_COMPARE_WITH_TIMEOUT(DownloadStatus(Entry("second", "same.bin")), QString("aborted"), kWait);
        req = nextReq++;
        tq->OnFileTransferRequest("first", 1, req, "Share\\Folder\\same.bin", mine.size());
        QCOMPARE(Serve("first", req, mine), qint64(0));
        QTRY_COMPARE_WITH_TIMEOUT(DownloadStatus(Entry("first", "same.bin")), QString("complete"), kWait);
        QCOMPARE(ReadWholeFile(Complete("Folder/same.bin")), mine);

        // The peer's file replaced by another of the same size while the
        // download waited: the bytes sent again differ, so it starts over.
        const QByteArray v1 = WriteRandomFile(temp.path() + "/swap.v1", 5000, 9);
        const QByteArray v2 = WriteRandomFile(temp.path() + "/swap.v2", 5000, 19);
        QCOMPARE(Serve("swapper", Accept("swapper", "swap.bin", 5000), v1.left(2000), true), qint64(0));
        QTRY_COMPARE_WITH_TIMEOUT(DownloadStatus(Entry("swapper", "swap.bin")), QString("aborted"), kWait);
        QCOMPARE(Serve("swapper", Accept("swapper", "swap.bin", 5000), v2), qint64(0));
        QTRY_COMPARE_WITH_TIMEOUT(DownloadStatus(Entry("swapper", "swap.bin")), QString("queued"), kWait);
        QVERIFY(Entry("swapper", "swap.bin")["download_note"].AsString().contains("downloaded again"));
        QCOMPARE(Serve("swapper", Accept("swapper", "swap.bin", 5000), v2), qint64(0));
        QTRY_COMPARE_WITH_TIMEOUT(DownloadStatus(Entry("swapper", "swap.bin")), QString("complete"), kWait);
        QCOMPARE(ReadWholeFile(Complete("Folder/swap.bin")), v2);
    }

    // Another source's file that maps to the partial file of a download that
    // waits (failed, or removed by the user): a file of another user, or of
    // the same user whose name is cleaned to the same. Each is filed whole.
    void otherSourcesNeverAppendToAPartialFile()
    {
        struct Case {
            const char *first, *firstName, *second, *secondName;
            bool removed;
        };
        quint32 seed = 40;
        for (const Case& c : { Case { "kept", "tune.bin", "other", "tune.bin", false },
                 Case { "col", "x\x01y.bin", "col", "x\x02y.bin", false },
                 Case { "gone", "song.bin", "next", "song.bin", true } }) {
            const QByteArray a = WriteRandomFile(temp.path() + "/a.src", 5000, ++seed);
            const QByteArray b = WriteRandomFile(temp.path() + "/b.src", 5000, ++seed);
            uint req = Accept(c.first, c.firstName, a.size());
            QCOMPARE(Serve(c.first, req, a.left(2000), true), qint64(0));
            QTRY_COMPARE_WITH_TIMEOUT(DownloadStatus(Entry(c.first, c.firstName)), QString("aborted"), kWait);
            if (c.removed)
                tq->RemoveDownload(Entry(c.first, c.firstName));
            req = Accept(c.second, c.secondName, b.size());
            QCOMPARE(Serve(c.second, req, b), qint64(0));
            QTRY_COMPARE_WITH_TIMEOUT(DownloadStatus(Entry(c.second, c.secondName)), QString("complete"), kWait);
            const QString name = SafePathComponent(c.secondName);
            QCOMPARE(ReadWholeFile(Complete("Folder/" + name)), b);
            if (c.removed)
                continue;
            QCOMPARE(Serve(c.first, Accept(c.first, c.firstName, a.size()), a), qint64(0));
            QTRY_COMPARE_WITH_TIMEOUT(DownloadStatus(Entry(c.first, c.firstName)), QString("complete"), kWait);
            QCOMPARE(ReadWholeFile(Complete("Folder/" + NumberedPathComponent(name, 1))), a);
        }
        // One writer per file: while one user's download begins its partial
        // file (recorded, not made yet), another's of the same name starts
        // beside it.
        const QByteArray a = WriteRandomFile(temp.path() + "/a.src", 5000, ++seed);
        const QByteArray b = WriteRandomFile(temp.path() + "/b.src", 5000, ++seed);
        SocketPair writing = MakeSocketPair();
        tq->OnFileConnection("writer", writing.engineSide, Accept("writer", "busy.bin", a.size()));
        QCOMPARE(Serve("beside", Accept("beside", "busy.bin", b.size()), b), qint64(0));
        QCOMPARE(OffsetOf(ReadExactly(writing.peerSide, 8)), qint64(0));
        QVERIFY(writing.peerSide->write(a.left(2000)) == 2000 && writing.peerSide->waitForBytesWritten(kWait));
        QVERIFY(writing.peerSide->write(a.mid(2000)) == 3000 && writing.peerSide->waitForBytesWritten(kWait));
        for (const char* user : { "beside", "writer" })
            QTRY_COMPARE_WITH_TIMEOUT(DownloadStatus(Entry(user, "busy.bin")), QString("complete"), kWait);
        QCOMPARE(QSet<QByteArray>({ ReadWholeFile(Complete("Folder/busy.bin")), ReadWholeFile(Complete("Folder/busy (1).bin")) }),
            QSet<QByteArray>({ a, b }));
        delete writing.peerSide;
    }

    void askingAgainForARunningDownload()
    {
        // The user asks again (a second click on the result, a re-queue)
        // while the bytes arrive: nothing changes, nothing goes to the peer,
        // and the download ends whole.
        const QByteArray data = WriteRandomFile(temp.path() + "/running.src", 400000, 9);
        const uint req = Accept("runner", "running.bin", data.size());
        SocketPair pair = MakeSocketPair();
        tq->OnFileConnection("runner", pair.engineSide, req);
        QCOMPARE(OffsetOf(ReadExactly(pair.peerSide, 8)), qint64(0));
        pair.peerSide->write(data.left(150000));
        QVERIFY(pair.peerSide->waitForBytesWritten(kWait));
        ItemPtr download = Entry("runner", "running.bin");
        QTRY_COMPARE_WITH_TIMEOUT(DownloadStatus(download), QString("downloading"), kWait);
        const ItemPtr thread = download["download_thread"];
        const int unsent = peerMessenger->UnsentMessageCount("runner");
        SetOnline("runner", true);
        QCOMPARE(tq->AddDownload("runner", "running.bin", "Share\\Folder", data.size(), false, 0), download);
        tq->RequeueDownload(download);
        tq->RequeueUserDownloads(download["user"]);
        QCOMPARE(DownloadStatus(download), QString("downloading"));
        QCOMPARE(download["download_thread"], thread);
        QCOMPARE(peerMessenger->UnsentMessageCount("runner"), unsent);
        pair.peerSide->write(data.mid(150000));
        QVERIFY(pair.peerSide->waitForBytesWritten(kWait));
        QTRY_COMPARE_WITH_TIMEOUT(DownloadStatus(download), QString("complete"), kWait);
        QCOMPARE(ReadWholeFile(Complete("Folder/running.bin")), data);
        SetOnline("runner", false);
        pair.peerSide->deleteLater();
    }

    void secondConnectionsAreRefused()
    {
        const QByteArray data = WriteRandomFile(temp.path() + "/twice.src", 200000, 8);
        const uint req = Accept("twice", "twice.bin", data.size());
        SocketPair first = MakeSocketPair();
        tq->OnFileConnection("twice", first.engineSide, req);
        QCOMPARE(OffsetOf(ReadExactly(first.peerSide, 8)), qint64(0));
        QCOMPARE(DownloadStatus(Entry("twice", "twice.bin")), QString("downloading"));

        // The same request number again: refused, the running one goes on.
        SocketPair second = MakeSocketPair();
        tq->OnFileConnection("twice", second.engineSide, req);
        QTRY_VERIFY_WITH_TIMEOUT(second.peerSide->state() == QAbstractSocket::UnconnectedState
                || !second.peerSide->waitForReadyRead(10),
            kWait);
        QCOMPARE(second.peerSide->bytesAvailable(), qint64(0));
        QCOMPARE(DownloadStatus(Entry("twice", "twice.bin")), QString("downloading"));

        // A new request for the running download, then a connection for it
        // while the first still runs: the new request aborts the first.
        tq->OnFileTransferRequest("twice", 1, req + 1000, "Share\\Folder\\twice.bin", data.size());
        QCOMPARE(DownloadStatus(Entry("twice", "twice.bin")), QString("aborted"));
        delete first.peerSide;
        delete second.peerSide;
        QCOMPARE(Serve("twice", req + 1000, data), qint64(0));
        QTRY_COMPARE_WITH_TIMEOUT(DownloadStatus(Entry("twice", "twice.bin")), QString("complete"), kWait);
        QCOMPARE(ReadWholeFile(Complete("Folder/twice.bin")), data);
    }

    void completeDownloadsRefuseRequests()
    {
        // Run alone, the finished download is made here.
        if (!Entry("fresh", "fresh.bin")) {
            const QByteArray data = WriteRandomFile(temp.path() + "/fresh.src", 3000, 4);
            const uint req = Accept("fresh", "fresh.bin", data.size());
            QCOMPARE(Serve("fresh", req, data), qint64(0));
        }
        QTRY_COMPARE_WITH_TIMEOUT(DownloadStatus(Entry("fresh", "fresh.bin")), QString("complete"), kWait);
        ItemPtr download = Entry("fresh", "fresh.bin");
        QCOMPARE(DownloadStatus(download), QString("complete"));
        const QByteArray before = ReadWholeFile(Complete("Folder/fresh.bin"));
        tq->OnFileTransferRequest("fresh", 1, 999, "Share\\Folder\\fresh.bin", 10);
        QVERIFY(!download["remote_transfer_req"] || download["remote_transfer_req"].AsUInt() != 999);
        // A denial of a finished download changes nothing either.
        tq->OnUploadDeniedNotification("fresh", "Share\\Folder\\fresh.bin", "File not shared.");
        QCOMPARE(DownloadStatus(download), QString("complete"));
        QCOMPARE(ReadWholeFile(Complete("Folder/fresh.bin")), before);
    }

    void stoppingARunningDownloadIsQuick()
    {
        const uint req = Accept("stopper", "stop.bin", 1000000);
        SocketPair pair = MakeSocketPair();
        tq->OnFileConnection("stopper", pair.engineSide, req);
        QCOMPARE(ReadExactly(pair.peerSide, 8).size(), 8);
        pair.peerSide->write(QByteArray(1000, 'x'));
        pair.peerSide->flush();
        QTest::qWait(100);
        QElapsedTimer clock;
        clock.start();
        tq->RemoveDownload(Entry("stopper", "stop.bin"));
        QVERIFY2(clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!Entry("stopper", "stop.bin"));
        // Its late signals find no entry.
        QTest::qWait(200);
        delete pair.peerSide;
    }

    void uploadsNegotiateAndSend()
    {
        const QString share = temp.path() + "/share";
        const QByteArray data = WriteRandomFile(share + "/up.bin", 70000, 9);
        WriteRandomFile(share + "/zero.bin", 0, 10);
        WriteRandomFile(share + "/gone.bin", 10, 11);
        WriteRandomFile(share + "/grows.bin", 10, 12);
        WriteRandomFile(share + "/swapped.bin", 10, 14);
        QVERIFY(ShareFolder(share));
        SetOnline("getter", true);
        const QString file = QString(share + "/up.bin").replace('/', '\\');
        tq->OnQueueUploadRequested("getter", file);
        ItemPtr upload = d.GetItem(d.GetType("user")->GetItem("getter"),
            d.GetType("filename_as_requested")->GetItem(Value(file)), "upload_entry");
        QVERIFY(upload);
        QCOMPARE(UploadStatus(upload), QString("requesting"));
        const uint req = upload["transfer_req"].AsUInt();

        // An answer from another user, or for an unknown number, is ignored.
        tq->OnFileTransferResponse("intruder", req, true, false, 0, QString());
        tq->OnFileTransferResponse("getter", 55555, true, false, 0, QString());
        QCOMPARE(UploadStatus(upload), QString("requesting"));

        tq->OnFileTransferResponse("getter", req, true, false, 0, QString());
        QCOMPARE(UploadStatus(upload), QString("connecting"));
        SocketPair pair = MakeSocketPair();
        tq->OnFileConnectionAccepted("getter", pair.engineSide);
        QCOMPARE(UploadStatus(upload), QString("uploading"));
        QCOMPARE(qFromLittleEndian<quint32>(ReadExactly(pair.peerSide, 4).constData()), req);
        pair.peerSide->write(Le64(1000));
        pair.peerSide->flush();
        QCOMPARE(ReadExactly(pair.peerSide, data.size() - 1000), data.mid(1000));
        pair.peerSide->disconnectFromHost();
        QTRY_COMPARE_WITH_TIMEOUT(UploadStatus(upload), QString("complete"), kWait);
        delete pair.peerSide;

        // A 0-byte file completes as well.
        const QString zero = QString(share + "/zero.bin").replace('/', '\\');
        tq->OnQueueUploadRequested("getter", zero);
        ItemPtr empty = d.GetItem(d.GetType("user")->GetItem("getter"),
            d.GetType("filename_as_requested")->GetItem(Value(zero)), "upload_entry");
        QCOMPARE(UploadStatus(empty), QString("requesting"));
        tq->OnFileTransferResponse("getter", empty["transfer_req"].AsUInt(), true, false, 0, QString());
        SocketPair zeroPair = MakeSocketPair();
        tq->OnFileConnectionAccepted("getter", zeroPair.engineSide);
        QCOMPARE(ReadExactly(zeroPair.peerSide, 4).size(), 4);
        zeroPair.peerSide->write(Le64(0));
        zeroPair.peerSide->flush();
        QTest::qWait(100);
        zeroPair.peerSide->disconnectFromHost();
        QTRY_COMPARE_WITH_TIMEOUT(UploadStatus(empty), QString("complete"), kWait);
        delete zeroPair.peerSide;

        // A refusal marks the upload denied; a vanished file is a local error.
        const QString gone = QString(share + "/gone.bin").replace('/', '\\');
        tq->OnQueueUploadRequested("getter", gone);
        ItemPtr missing = d.GetItem(d.GetType("user")->GetItem("getter"),
            d.GetType("filename_as_requested")->GetItem(Value(gone)), "upload_entry");
        QCOMPARE(UploadStatus(missing), QString("requesting"));
        QFile::remove(share + "/gone.bin");
        tq->OnFileTransferResponse("getter", missing["transfer_req"].AsUInt(), true, false, 0, QString());
        QCOMPARE(UploadStatus(missing), QString("local error"));
        tq->OnQueueUploadRequested("getter", file);
        QCOMPARE(UploadStatus(upload), QString("requesting"));
        tq->OnFileTransferResponse("getter", upload["transfer_req"].AsUInt(), false, false, 0, "Cancelled");
        QCOMPARE(UploadStatus(upload), QString("denied"));
        QCOMPARE(upload["denial_reason"].AsString(), QString("Cancelled"));

        // A file written to between the offer and the peer's yes is not sent.
        const QString grows = QString(share + "/grows.bin").replace('/', '\\');
        tq->OnQueueUploadRequested("getter", grows);
        ItemPtr changed = d.GetItem(d.GetType("user")->GetItem("getter"),
            d.GetType("filename_as_requested")->GetItem(Value(grows)), "upload_entry");
        WriteRandomFile(share + "/grows.bin", 20, 13);
        tq->OnFileTransferResponse("getter", changed["transfer_req"].AsUInt(), true, false, 0, QString());
        QCOMPARE(UploadStatus(changed), QString("local error"));
        QCOMPARE(changed["denial_reason"].AsString(), QString("The file changed after it was offered."));

        // One swapped for a link meanwhile is not opened: it is not shared.
        const QString swapped = QString(share + "/swapped.bin").replace('/', '\\');
        tq->OnQueueUploadRequested("getter", swapped);
        ItemPtr name = d.GetType("filename_as_requested")->GetItem(Value(swapped));
        QVERIFY(QFile::remove(share + "/swapped.bin") && QFile::link(share + "/up.bin", share + "/swapped.bin"));
        tq->OnFileTransferResponse("getter", name["upload_entry"]["transfer_req"].AsUInt(), true, false, 0, {});
        QVERIFY(!name.IsConnected("upload_entry"));
        Q_UNUSED(Le32);
    }

    // A slow disk: the engine's disk worker is held (three times, taken in
    // turn) while partial files are begun, then while one more is, then
    // while finished files are filed. Each step keeps to its own download and
    // its own file, and records of files no longer there are pruned after a
    // load only once no record in use can be taken for one.
    void aSlowDiskKeepsEachStepToItsOwn()
    {
        const QString slow = Downloading("Folder/slow.bin"), partial = Downloading("Folder/begun.bin");
        const QString gone = Complete("Folder/gone-since.bin");
        QVERIFY(tq->Records().Write(gone, { "pruned", "Share\\Folder\\gone-since.bin", 5 }));
        QVERIFY(tq->Records().Write(partial, { "begun", "Share\\Folder\\begun.bin", 5000 }));
        const QByteArray data = WriteRandomFile(temp.path() + "/slow.src", 100000, 50);
        const QByteArray small = WriteRandomFile(temp.path() + "/begun.src", 5000, 61);
        SlowDisk beginnings(tq);
        // A connection waits, with nothing on the disk yet, and a second one
        // for its download is refused; the download removed meanwhile leaves
        // neither its file nor its record.
        QTcpSocket* waiting = Connect("slow", "slow.bin", data.size());
        QTcpSocket* refused = Connect("slow", "slow.bin", data.size());
        QTRY_COMPARE_WITH_TIMEOUT(refused->state(), QAbstractSocket::UnconnectedState, kWait);
        QVERIFY(!QFile::exists(slow) && !tq->Records().Exists(slow));
        tq->RemoveDownload(Entry("slow", "slow.bin"));
        // Removed and added again: the file that the second beginning took
        // stays when the first one's is cleaned up.
        QTcpSocket* first = Connect("again", "again.bin", data.size());
        tq->RemoveDownload(Entry("again", "again.bin"));
        QTcpSocket* second = Connect("again", "again.bin", data.size());
        QTcpSocket* filer = Connect("filer", "filed.bin", data.size());
        QTcpSocket* begun = Connect("begun", "begun.bin", small.size());
        // A load: the records of the partial files being begun stay.
        LogSink::Instance().Reset();
        tq->DataLoaded();
        SlowDisk another(tq);
        QTcpSocket* later = Connect("later", "later.bin", 10);
        QTRY_VERIFY_WITH_TIMEOUT(std::ranges::any_of(LogSink::Instance().AreaLines("Transfer Queue"),
                                     [](const LogLine& line) { return line.text.startsWith("Letting"); }),
            kWait);
        QVERIFY(tq->Records().Exists(partial) && tq->Records().Exists(gone));
        beginnings.Release();
        for (QTcpSocket* peer : { second, filer, begun })
            QCOMPARE(OffsetOf(ReadExactly(peer, 8)), qint64(0));
        ItemPtr download = Entry("begun", "begun.bin");
        SlowDisk filings(tq);
        QVERIFY(Send(filer, data) && Send(begun, small));
        QTRY_VERIFY_WITH_TIMEOUT(TransferTestAccess::BeingFiled(tq, download)
                && TransferTestAccess::BeingFiled(tq, Entry("filer", "filed.bin")),
            kWait);
        // No file being begun, files being filed: the records stay.
        another.Release();
        QCOMPARE(OffsetOf(ReadExactly(later, 8)), qint64(0));
        QCoreApplication::processEvents(); // the pruning, were it let go now
        QVERIFY(tq->Records().Exists(gone));
        // Removed and added again while its finished file is filed: the one
        // added again is complete with that file, neither fetched nor filed
        // twice. And a file of the full size renamed over a finished partial
        // file from outside is not filed.
        tq->RemoveDownload(Entry("filer", "filed.bin"));
        QTcpSocket* twice = Connect("filer", "filed.bin", data.size());
        const QByteArray outsider = WriteRandomFile(temp.path() + "/outsider.bin", small.size(), 62);
        QCOMPARE(std::rename(qPrintable(temp.path() + "/outsider.bin"), qPrintable(partial)), 0);
        filings.Release();
        QTRY_COMPARE_WITH_TIMEOUT(DownloadStatus(download), QString("local error"), kWait);
        QVERIFY(!QFile::exists(Complete("Folder/begun.bin")));
        QCOMPARE(ReadWholeFile(partial), outsider);
        QTRY_COMPARE_WITH_TIMEOUT(DownloadStatus(Entry("filer", "filed.bin")), QString("complete"), kWait);
        QTRY_COMPARE_WITH_TIMEOUT(twice->state(), QAbstractSocket::UnconnectedState, kWait);
        QCOMPARE(twice->bytesAvailable(), qint64(0));
        QCOMPARE(ReadWholeFile(Complete("Folder/filed.bin")), data);
        QVERIFY(!QFile::exists(Complete("Folder/filed (1).bin"))
            && !QFile::exists(Downloading("Folder/filed.bin")));
        QTRY_VERIFY_WITH_TIMEOUT(!tq->Records().Exists(gone), kWait);
        // The clean-ups done, the download added again completes whole.
        QVERIFY(TransferTestAccess::DrainDiskWorker(tq) && Send(second, data));
        QTRY_COMPARE_WITH_TIMEOUT(DownloadStatus(Entry("again", "again.bin")), QString("complete"), kWait);
        QCOMPARE(ReadWholeFile(Complete("Folder/again.bin")), data);
        QCOMPARE(first->bytesAvailable(), qint64(0));
        QTRY_COMPARE_WITH_TIMEOUT(waiting->state(), QAbstractSocket::UnconnectedState, kWait);
        QCOMPARE(waiting->bytesAvailable(), qint64(0));
        QVERIFY(!QFile::exists(slow) && !tq->Records().Exists(slow));
        tq->RemoveDownload(Entry("later", "later.bin"));

        // The program ends while the worker files a download whose name is
        // taken in "complete": the outcome is applied before the last save,
        // and the row opens its own file.
        const QByteArray other = WriteRandomFile(Complete("Folder/halt.bin"), 3000, 52);
        const QByteArray halted = WriteRandomFile(temp.path() + "/halt.src", 100000, 53);
        QTcpSocket* halter = Connect("halter", "halt.bin", halted.size());
        QCOMPARE(OffsetOf(ReadExactly(halter, 8)), qint64(0));
        download = Entry("halter", "halt.bin");
        {
            SlowDisk disk(tq);
            QVERIFY(Send(halter, halted));
            QTRY_VERIFY_WITH_TIMEOUT(TransferTestAccess::BeingFiled(tq, download), kWait);
        }
        tq->FinishDiskSteps();
        QCOMPARE(DownloadStatus(download), QString("complete"));
        QCOMPARE(ReadWholeFile(tq->LocalPath(tq->GetCompleteFilePath(download))), halted);
        // Killed before the outcome was saved, the row names the partial
        // file: it opens nothing, and is complete with the file found by its
        // record (never the one at its plain name) once asked for again, or
        // after the load, also when saved complete that way.
        ItemPtr lost
            = d.GetType("download_file_path")->GetItem(Value(QString("downloading/Folder/halt.bin")));
        download += lost;
        QVERIFY(tq->GetCompleteFilePath(download).isEmpty());
        tq->SetDownloadEntryStatus(download, "queued");
        tq->RequeueDownload(download);
        QCOMPARE(ReadWholeFile(tq->LocalPath(tq->GetCompleteFilePath(download))), halted);
        download += lost;
        tq->DataLoaded();
        QTRY_COMPARE_WITH_TIMEOUT(
            ReadWholeFile(tq->LocalPath(tq->GetCompleteFilePath(download))), halted, kWait);
        QCOMPARE(ReadWholeFile(Complete("Folder/halt.bin")), other);
    }
};

QTEST_GUILESS_MAIN(TestNegotiation)
#include "tst_negotiation.moc"
