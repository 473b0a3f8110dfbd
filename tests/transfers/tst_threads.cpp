// The transfer threads over real loopback connections and real files: whole
// and resumed transfers end byte-identical, empty and already complete files
// finish at once, bad offsets are refused, a peer that goes away or stays
// silent fails the transfer with the right reason, stopping is fast in every
// kind of wait, and the speed limit holds uploads back.
#include "transfers/DownloadThread.h"
#include "transfers/SpeedLimit.h"
#include "transfers/UploadThread.h"
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <memory>

namespace {
constexpr int kDone = 20000;

QByteArray RandomBytes(qint64 n)
{
    QByteArray bytes(n, Qt::Uninitialized);
    QRandomGenerator random(quint32(n) + 7);
    for (qint64 i = 0; i < n; ++i)
        bytes[i] = char(random.generate());
    return bytes;
}

// What a thread reported, gathered on the test's thread (queued, as the
// engine receives it).
struct Outcome : QObject {
    int finals = 0;
    bool ok = false;
    QString reason;
    QList<qint64> offsets;
};

// One file connection: the uploader's end connected to the downloader's end.
struct Link {
    QTcpServer server;
    QTcpSocket* up = nullptr;
    QTcpSocket* down = nullptr;
    Link()
    {
        server.listen(QHostAddress::LocalHost, 0);
        up = new QTcpSocket;
        up->connectToHost(QHostAddress::LocalHost, server.serverPort());
        up->waitForConnected(5000);
        server.waitForNewConnection(5000);
        down = server.nextPendingConnection();
        if (down)
            down->setParent(nullptr);
    }
    ~Link()
    {
        delete up;
        delete down;
    }
};

bool ReadExactly(QTcpSocket* socket, char* out, qint64 n, int timeoutMs = 5000)
{
    QElapsedTimer timer;
    timer.start();
    qint64 have = 0;
    while (have < n && timer.elapsed() < timeoutMs) {
        if (socket->bytesAvailable() == 0 && !socket->waitForReadyRead(100))
            continue;
        have += qMax<qint64>(0, socket->read(out + have, n - have));
    }
    return have == n;
}

void Flush(QTcpSocket* socket)
{
    while (socket->bytesToWrite() > 0 && socket->waitForBytesWritten(1000)) { }
}

QByteArray LittleEndian64(qint64 value)
{
    QByteArray bytes(8, Qt::Uninitialized);
    qToLittleEndian<qint64>(value, bytes.data());
    return bytes;
}

// Owns the threads; stops and waits for them before anything they use goes.
struct Threads {
    std::unique_ptr<UploadThread> up;
    std::unique_ptr<DownloadThread> down;
    Outcome upOut;
    Outcome downOut;

    void StartUpload(QTcpSocket* socket, QFile* file, int req, SpeedLimit* limit)
    {
        up = std::make_unique<UploadThread>(socket, file, req, limit);
        Outcome* o = &upOut;
        QObject::connect(
            up.get(), &UploadThread::UploadProgress, o, [o](qint64 offset, int) { o->offsets << offset; });
        QObject::connect(up.get(), &UploadThread::UploadComplete, o, [o] { ++o->finals, o->ok = true; });
        QObject::connect(
            up.get(), &UploadThread::UploadError, o, [o](QString r) { ++o->finals, o->reason = r; });
        socket->moveToThread(up.get());
        up->start();
    }
    void StartDownload(QTcpSocket* socket, QFile* file, qint64 size, qint64 offset)
    {
        down = std::make_unique<DownloadThread>(socket, file, file->fileName(), size, offset);
        Outcome* o = &downOut;
        QObject::connect(
            down.get(), &DownloadThread::DownloadProgress, o, [o](qint64 at, int) { o->offsets << at; });
        QObject::connect(
            down.get(), &DownloadThread::DownloadComplete, o, [o] { ++o->finals, o->ok = true; });
        QObject::connect(
            down.get(), &DownloadThread::DownloadError, o, [o](QString r) { ++o->finals, o->reason = r; });
        socket->moveToThread(down.get());
        down->start();
    }
    ~Threads()
    {
        for (QThread* t : { static_cast<QThread*>(up.get()), static_cast<QThread*>(down.get()) }) {
            if (!t)
                continue;
            if (auto* u = qobject_cast<UploadThread*>(t))
                u->SignalExit();
            if (auto* d = qobject_cast<DownloadThread*>(t))
                d->SignalExit();
            t->wait();
        }
    }
};

// A whole transfer between the two threads: a source file, a partial file
// holding its first `held` bytes, the downloader answering with that offset.
struct Transfer {
    QTemporaryDir dir;
    QByteArray data;
    QFile source;
    QFile partial;
    Link link;
    Threads threads;

    Transfer(qint64 size, qint64 held, const QByteArray& partialBytes = {})
        : data(RandomBytes(size))
        , source(dir.filePath("source.bin"))
        , partial(dir.filePath("partial.bin"))
    {
        QFile out(source.fileName());
        out.open(QIODevice::WriteOnly);
        out.write(data);
        out.close();
        QFile part(partial.fileName());
        part.open(QIODevice::WriteOnly);
        part.write(partialBytes.isNull() ? data.left(held) : partialBytes);
        part.close();
    }
    // The engine's part on both sides, then both threads.
    bool Start(qint64 offset, SpeedLimit* limit = nullptr, int req = 4242)
    {
        if (!link.down || !source.open(QIODevice::ReadOnly)
            || !partial.open(QIODevice::WriteOnly | QIODevice::Append))
            return false;
        threads.StartUpload(link.up, &source, req, limit);
        char number[4];
        if (!ReadExactly(link.down, number, 4) || qFromLittleEndian<quint32>(number) != quint32(req))
            return false;
        // Queued only: the download thread pushes it out.
        link.down->write(LittleEndian64(offset));
        threads.StartDownload(link.down, &partial, data.size(), offset);
        return true;
    }
    QByteArray Received() const
    {
        QFile in(partial.fileName());
        in.open(QIODevice::ReadOnly);
        return in.readAll();
    }
};
}

class TestTransferThreads : public QObject {
    Q_OBJECT
private slots:
    void wholeAndResumedTransfers_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<qint64>("held");
        QTest::newRow("one byte") << qint64(1) << qint64(0);
        QTest::newRow("odd size") << qint64(8191) << qint64(0);
        QTest::newRow("several blocks") << qint64(3 * 1024 * 1024 + 7) << qint64(0);
        QTest::newRow("resume midway") << qint64(3 * 1024 * 1024 + 7) << qint64(1234567);
        QTest::newRow("resume one byte short") << qint64(70000) << qint64(69999);
    }
    void wholeAndResumedTransfers()
    {
        QFETCH(qint64, size);
        QFETCH(qint64, held);
        Transfer t(size, held);
        QVERIFY(t.Start(held));
        QTRY_COMPARE_WITH_TIMEOUT(t.threads.downOut.finals, 1, kDone);
        QTRY_COMPARE_WITH_TIMEOUT(t.threads.upOut.finals, 1, kDone);
        QVERIFY2(t.threads.downOut.ok, qPrintable(t.threads.downOut.reason));
        QVERIFY2(t.threads.upOut.ok, qPrintable(t.threads.upOut.reason));
        QCOMPARE(t.threads.downOut.offsets.last(), size);
        QCOMPARE(t.threads.upOut.offsets.last(), size);
        QVERIFY(t.Received() == t.data);
        QVERIFY(!t.partial.isOpen());
        // Both sockets are back on this thread for the engine to delete.
        QCOMPARE(t.link.up->thread(), QThread::currentThread());
        QCOMPARE(t.link.down->thread(), QThread::currentThread());
        QTest::qWait(50);
        QCOMPARE(t.threads.downOut.finals, 1);
        QCOMPARE(t.threads.upOut.finals, 1);
    }

    // Nothing to send: an empty file, or a partial file that already holds
    // every byte. Both ends complete instead of failing (and being retried).
    void nothingLeftToSend_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::newRow("empty file") << qint64(0);
        QTest::newRow("already complete") << qint64(100000);
    }
    void nothingLeftToSend()
    {
        QFETCH(qint64, size);
        Transfer t(size, size);
        QVERIFY(t.Start(size));
        QTRY_COMPARE_WITH_TIMEOUT(t.threads.downOut.finals, 1, kDone);
        QTRY_COMPARE_WITH_TIMEOUT(t.threads.upOut.finals, 1, kDone);
        QVERIFY2(t.threads.downOut.ok, qPrintable(t.threads.downOut.reason));
        QVERIFY2(t.threads.upOut.ok, qPrintable(t.threads.upOut.reason));
        QCOMPARE(t.threads.upOut.offsets, QList<qint64> { size });
        QVERIFY(t.Received() == t.data);
    }

    void uploadRefusesBadOffsets_data()
    {
        QTest::addColumn<qint64>("offset");
        QTest::newRow("past the end") << qint64(1001);
        QTest::newRow("negative") << qint64(-1);
        QTest::newRow("huge") << std::numeric_limits<qint64>::max();
    }
    void uploadRefusesBadOffsets()
    {
        QFETCH(qint64, offset);
        Transfer t(1000, 0);
        QVERIFY(t.source.open(QIODevice::ReadOnly));
        t.threads.StartUpload(t.link.up, &t.source, 7, nullptr);
        char number[4];
        QVERIFY(ReadExactly(t.link.down, number, 4));
        t.link.down->write(LittleEndian64(offset));
        Flush(t.link.down);
        QTRY_COMPARE_WITH_TIMEOUT(t.threads.upOut.finals, 1, kDone);
        QCOMPARE(t.threads.upOut.reason,
            QStringLiteral("Won't seek to offset %1 in file of size 1000").arg(offset));
        QVERIFY(t.threads.upOut.offsets.isEmpty());
    }

    void downloadRefusesBadOffsets_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<qint64>("offset");
        QTest::newRow("offset past the size") << qint64(10) << qint64(11);
        QTest::newRow("negative size") << qint64(-5) << qint64(0);
        QTest::newRow("negative offset") << qint64(10) << qint64(-1);
    }
    void downloadRefusesBadOffsets()
    {
        QFETCH(qint64, size);
        QFETCH(qint64, offset);
        QTemporaryDir dir;
        QFile file(dir.filePath("partial"));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Append));
        Link link;
        Threads threads;
        threads.StartDownload(link.down, &file, size, offset);
        QTRY_COMPARE_WITH_TIMEOUT(threads.downOut.finals, 1, kDone);
        QCOMPARE(threads.downOut.reason,
            QStringLiteral("Won't resume from offset %1 in file of size %2").arg(offset).arg(size));
        QCOMPARE(link.down->thread(), QThread::currentThread());
    }

    // The offset may reach the uploader split over several reads.
    void offsetArrivingSplit()
    {
        Transfer t(50000, 0);
        QVERIFY(t.source.open(QIODevice::ReadOnly));
        t.threads.StartUpload(t.link.up, &t.source, 9, nullptr);
        char number[4];
        QVERIFY(ReadExactly(t.link.down, number, 4));
        QCOMPARE(qFromLittleEndian<quint32>(number), 9u);
        const QByteArray offset = LittleEndian64(40000);
        t.link.down->write(offset.left(3));
        Flush(t.link.down);
        QTest::qWait(150);
        t.link.down->write(offset.mid(3));
        Flush(t.link.down);
        QByteArray rest(10000, Qt::Uninitialized);
        QVERIFY(ReadExactly(t.link.down, rest.data(), rest.size()));
        QVERIFY(rest == t.data.mid(40000));
        t.link.down->close();
        QTRY_COMPARE_WITH_TIMEOUT(t.threads.upOut.finals, 1, kDone);
        QVERIFY2(t.threads.upOut.ok, qPrintable(t.threads.upOut.reason));
    }

    // Bytes that reached the socket before the thread took it over are the
    // file's first bytes, and bytes past the file's end are never written:
    // the resumed partial file ends exactly as the peer's file.
    void downloadKeepsBufferedBytesAndDropsExtra()
    {
        QTemporaryDir dir;
        const QByteArray data = RandomBytes(300000);
        const qint64 held = 1000;
        QFile file(dir.filePath("partial"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(data.left(held));
        file.close();
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Append));
        Link link;
        Threads threads;
        link.up->write(data.mid(held) + QByteArray(5000, 'x'));
        Flush(link.up);
        QVERIFY(link.down->waitForReadyRead(kDone));
        link.down->write(LittleEndian64(held));
        threads.StartDownload(link.down, &file, data.size(), held);
        QTRY_COMPARE_WITH_TIMEOUT(threads.downOut.finals, 1, kDone);
        QVERIFY2(threads.downOut.ok, qPrintable(threads.downOut.reason));
        QFile in(file.fileName());
        QVERIFY(in.open(QIODevice::ReadOnly));
        QVERIFY(in.readAll() == data);
    }

    // The uploader goes away halfway: the download fails, and what arrived
    // stays in the partial file for the next attempt.
    void uploaderClosesEarly()
    {
        QTemporaryDir dir;
        QFile file(dir.filePath("partial"));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Append));
        const QByteArray data = RandomBytes(200000);
        Link link;
        Threads threads;
        link.down->write(LittleEndian64(0));
        threads.StartDownload(link.down, &file, data.size(), 0);
        char offset[8];
        QVERIFY(ReadExactly(link.up, offset, 8));
        QCOMPARE(qFromLittleEndian<qint64>(offset), 0);
        link.up->write(data.left(77777));
        Flush(link.up);
        QTest::qWait(100);
        link.up->close();
        QTRY_COMPARE_WITH_TIMEOUT(threads.downOut.finals, 1, kDone);
        QVERIFY(!threads.downOut.ok);
        QVERIFY2(threads.downOut.reason.startsWith("Waiting for data to read failed. Error string: "),
            qPrintable(threads.downOut.reason));
        QFile in(file.fileName());
        QVERIFY(in.open(QIODevice::ReadOnly));
        QVERIFY(in.readAll() == data.left(77777));
    }

    // The downloader goes away: before the offset, or halfway through a file
    // far larger than the socket buffers.
    void downloaderClosesEarly()
    {
        {
            Transfer t(1000, 0);
            QVERIFY(t.source.open(QIODevice::ReadOnly));
            t.threads.StartUpload(t.link.up, &t.source, 1, nullptr);
            char number[4];
            QVERIFY(ReadExactly(t.link.down, number, 4));
            t.link.down->close();
            QTRY_COMPARE_WITH_TIMEOUT(t.threads.upOut.finals, 1, kDone);
            QVERIFY2(t.threads.upOut.reason.startsWith(
                         "Waiting for initialization data to read failed. Error string: "),
                qPrintable(t.threads.upOut.reason));
        }
        {
            Transfer t(64 * 1024 * 1024, 0);
            QVERIFY(t.source.open(QIODevice::ReadOnly));
            t.threads.StartUpload(t.link.up, &t.source, 1, nullptr);
            char number[4];
            QVERIFY(ReadExactly(t.link.down, number, 4));
            t.link.down->write(LittleEndian64(0));
            Flush(t.link.down);
            QByteArray some(100000, Qt::Uninitialized);
            QVERIFY(ReadExactly(t.link.down, some.data(), some.size()));
            t.link.down->abort();
            QTRY_COMPARE_WITH_TIMEOUT(t.threads.upOut.finals, 1, kDone);
            QVERIFY(!t.threads.upOut.ok);
            QVERIFY2(t.threads.upOut.reason.startsWith("Writing to socket failed. Error string: ")
                    || t.threads.upOut.reason.startsWith(
                        "Waiting for bytes to be written to socket failed. Error string: "),
                qPrintable(t.threads.upOut.reason));
        }
    }

    // Stopping never hangs the caller, whatever the thread is waiting for.
    void stopIsFast_data()
    {
        QTest::addColumn<QString>("waitingFor");
        QTest::newRow("download: silent uploader") << "data";
        QTest::newRow("upload: silent downloader") << "offset";
        QTest::newRow("upload: downloader not reading") << "drain";
        QTest::newRow("upload: tiny limit") << "limit";
        QTest::newRow("upload: peer never closes") << "close";
    }
    void stopIsFast()
    {
        QFETCH(QString, waitingFor);
        const qint64 size = waitingFor == "drain" ? 64 * 1024 * 1024 : waitingFor == "close" ? 10 : 100000;
        Transfer t(size, 0);
        SpeedLimit limit;
        limit.SetLimit(1, 1);
        QVERIFY(
            t.source.open(QIODevice::ReadOnly) && t.partial.open(QIODevice::WriteOnly | QIODevice::Append));
        QThread* thread = nullptr;
        if (waitingFor == "data") {
            t.threads.StartDownload(t.link.down, &t.partial, size, 0);
            thread = t.threads.down.get();
        } else {
            t.threads.StartUpload(t.link.up, &t.source, 1, waitingFor == "limit" ? &limit : nullptr);
            thread = t.threads.up.get();
            char number[4];
            QVERIFY(ReadExactly(t.link.down, number, 4));
            if (waitingFor != "offset") {
                t.link.down->write(LittleEndian64(0));
                Flush(t.link.down);
            }
        }
        if (waitingFor == "limit" || waitingFor == "close")
            QTRY_VERIFY_WITH_TIMEOUT(!t.threads.upOut.offsets.isEmpty(), kDone);
        QTest::qWait(1500); // deep in its wait (a throttle sleep of many seconds)
        QVERIFY(thread->isRunning());
        QElapsedTimer timer;
        timer.start();
        if (t.threads.up)
            t.threads.up->SignalExit();
        else
            t.threads.down->SignalExit();
        QVERIFY(thread->wait(5000));
        QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
        QTRY_COMPARE_WITH_TIMEOUT(t.threads.upOut.finals + t.threads.downOut.finals, 1, kDone);
        QCOMPARE(t.threads.upOut.reason + t.threads.downOut.reason, QStringLiteral("Exit requested."));
    }

    // Two uploads under one limit: each is held to its half, so each takes
    // about as long as its share says and together they stay at the limit;
    // a limit lifted midway stops holding an upload back at once.
    void speedLimitSharedByTwoUploads()
    {
        SpeedLimit limit;
        limit.SetLimit(400, 2); // 409600 bytes a second, 204800 each
        Transfer first(600 * 1024, 0);
        Transfer second(600 * 1024, 0);
        QElapsedTimer timer;
        timer.start();
        QVERIFY(first.Start(0, &limit));
        QVERIFY(second.Start(0, &limit));
        qint64 done[2] = { -1, -1 };
        while ((done[0] < 0 || done[1] < 0) && timer.elapsed() < kDone) {
            QTest::qWait(5);
            if (done[0] < 0 && first.threads.upOut.finals)
                done[0] = timer.elapsed();
            if (done[1] < 0 && second.threads.upOut.finals)
                done[1] = timer.elapsed();
        }
        QVERIFY2(first.threads.upOut.ok && second.threads.upOut.ok, qPrintable(first.threads.upOut.reason));
        QTRY_COMPARE_WITH_TIMEOUT(first.threads.downOut.finals + second.threads.downOut.finals, 2, kDone);
        QVERIFY(first.Received() == first.data);
        QVERIFY(second.Received() == second.data);
        // 3 s at a half share each, less the first block that goes at once;
        // at the whole limit each, or unlimited, they would end in 1.5 s.
        for (qint64 ms : done)
            QVERIFY2(ms >= 2300 && ms < 6000, qPrintable(QString::number(ms)));
    }
    void liftedLimitEndsTheWait()
    {
        SpeedLimit limit;
        limit.SetLimit(1, 1);
        Transfer t(4 * 1024 * 1024, 0);
        QVERIFY(t.Start(0, &limit));
        QTest::qWait(300);
        QVERIFY(t.threads.upOut.finals == 0);
        limit.SetNoLimit();
        QTRY_COMPARE_WITH_TIMEOUT(t.threads.upOut.finals, 1, 2000);
        QVERIFY2(t.threads.upOut.ok, qPrintable(t.threads.upOut.reason));
        QTRY_COMPARE_WITH_TIMEOUT(t.threads.downOut.finals, 1, kDone);
        QVERIFY(t.Received() == t.data);
    }

    // Progress comes at most every half second, plus the final report.
    void progressIsRateLimited()
    {
        SpeedLimit limit;
        limit.SetLimit(1000, 1);
        Transfer t(1500 * 1024, 0);
        QElapsedTimer timer;
        timer.start();
        QVERIFY(t.Start(0, &limit));
        QTRY_COMPARE_WITH_TIMEOUT(t.threads.downOut.finals, 1, kDone);
        QTRY_COMPARE_WITH_TIMEOUT(t.threads.upOut.finals, 1, kDone);
        // About 1.4 s of sending, in blocks of a tenth of a second.
        const qsizetype most = timer.elapsed() / 500 + 2;
        QVERIFY2(t.threads.upOut.offsets.size() <= most,
            qPrintable(QString::number(t.threads.upOut.offsets.size())));
        QVERIFY2(t.threads.downOut.offsets.size() <= most,
            qPrintable(QString::number(t.threads.downOut.offsets.size())));
        QVERIFY(t.threads.upOut.offsets.size() >= 2);
        QVERIFY(std::is_sorted(t.threads.downOut.offsets.begin(), t.threads.downOut.offsets.end()));
    }
};

QTEST_GUILESS_MAIN(TestTransferThreads)
#include "tst_threads.moc"
