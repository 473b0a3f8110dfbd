// End to end, with real processes and real files: the stand-in server and two
// to four headless clients on loopback. One shares a folder, another searches
// it, queues downloads and gets byte-identical files in "complete"; a sharer
// killed mid-transfer and started again lets the download resume from its
// partial file; one upload slot serves three downloaders in order with their
// places in line; the per-user limit answers "Too many files"; a full disk
// and a server restart mid-folder; shared files changed after their scan; a
// file connection that can't be opened either way; finish-uploads-and-quit
// ends the sharer.
#include "helper_transfercore.h"
#include "transfers/SourceRecord.h"
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <memory>

namespace {

QString Bin(const QString& name)
{
    return qEnvironmentVariable("MARROWBY_BIN") + QLatin1Char('/') + name;
}

// Writes size pseudo-random bytes quickly: one random mebibyte, varied per
// block, so no two blocks are alike.
void WriteBigFile(const QString& path, qint64 size, quint32 seed)
{
    QDir().mkpath(QFileInfo(path).path());
    QByteArray block(1 << 20, Qt::Uninitialized);
    QRandomGenerator random(seed);
    random.fillRange(reinterpret_cast<quint32*>(block.data()), block.size() / 4);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    for (qint64 written = 0, n = 0; written < size; ++n) {
        auto* words = reinterpret_cast<quint32*>(block.data());
        for (int k = 0; k < 16; ++k)
            words[k] = quint32(n * 2654435761u + k);
        const qint64 chunk = qMin<qint64>(block.size(), size - written);
        QCOMPARE(file.write(block.constData(), chunk), chunk);
        written += chunk;
    }
}

// A short MP3 made by lame from a generated tone (random bytes when lame is
// missing).
void WriteMp3(const QString& path, int seconds, int seed)
{
    QDir().mkpath(QFileInfo(path).path());
    const QString lame = QStandardPaths::findExecutable("lame");
    if (lame.isEmpty()) {
        WriteRandomFile(path, 100000 * seconds + seed, quint32(seed));
        return;
    }
    const int rate = 22050;
    QByteArray pcm;
    for (int i = 0; i < rate * seconds; ++i) {
        const qint16 sample = qint16(8000 * std::sin(2 * M_PI * (220 + 40 * seed) * i / rate));
        pcm.append(reinterpret_cast<const char*>(&sample), 2);
    }
    QProcess process;
    process.start(lame,
        { "--quiet", "-r", "-s", "22.05", "--bitwidth", "16", "-m", "m", "--signed", "--little-endian", "-b",
            "64", "-", path });
    process.waitForStarted(5000);
    process.write(pcm);
    process.closeWriteChannel();
    process.waitForFinished(30000);
    if (!QFileInfo::exists(path))
        WriteRandomFile(path, 100000 * seconds + seed, quint32(seed));
}

QByteArray Digest(const QString& path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    hash.addData(&file);
    return hash.result();
}

// The stand-in server (on a given port when it starts again).
struct Standin {
    QProcess process;
    quint16 port = 0;
    bool Start(quint16 on = 0, const QStringList& options = {})
    {
        process.setProgram(Bin("marrowby-server"));
        process.setArguments(QStringList { "--port", QString::number(on) } + options);
        process.start();
        if (!process.waitForStarted(10000))
            return false;
        QElapsedTimer clock;
        clock.start();
        while (!process.canReadLine() && clock.elapsed() < 10000)
            process.waitForReadyRead(100);
        const QString line = QString::fromUtf8(process.readLine()).trimmed();
        port = quint16(line.section(' ', -1).toUInt());
        return port != 0;
    }
    ~Standin()
    {
        process.kill();
        process.waitForFinished(5000);
    }
};

// One headless client: commands in, event lines out.
class Client {
public:
    // With login false the client starts without logging in (see LogIn).
    Client(const QString& user, const QString& home, quint16 serverPort, bool login = true)
        : m_user(user)
    {
        QDir().mkpath(home);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home);
        env.insert("MARROWBY_SERVER", QStringLiteral("127.0.0.1:%1").arg(serverPort));
        m_process.setProcessEnvironment(env);
        m_process.setProgram(Bin("marrowby-driver"));
        QStringList arguments { "--port", "0", "--obfuscated-port", "0", "--log" };
        if (login)
            arguments << "--user" << user;
        m_process.setArguments(arguments);
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        // The client's log, for a look after a failure.
        m_process.setStandardErrorFile(home + "/client.log", QIODevice::Append);
        m_process.start();
    }
    ~Client()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    void Send(const QString& line)
    {
        m_process.write(line.toUtf8() + '\n');
        m_process.waitForBytesWritten(5000);
    }
    // The first line (old or new) that starts with the prefix; it is consumed
    // with every line before it. Empty on time-out.
    QString WaitFor(const QString& prefix, int timeoutMs = 30000)
    {
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            Pump();
            for (int k = 0; k < m_lines.size(); ++k) {
                if (m_lines[k].startsWith(prefix)) {
                    const QString line = m_lines[k];
                    m_lines = m_lines.mid(k + 1);
                    return line;
                }
            }
            if (clock.elapsed() > timeoutMs || m_process.state() == QProcess::NotRunning) {
                qInfo().noquote() << m_user << "waited in vain for" << prefix
                                  << "after:" << m_lines.join(" | ");
                return QString();
            }
            // Other clients' writes and reads go on meanwhile.
            m_process.waitForReadyRead(20);
            QCoreApplication::processEvents();
        }
    }
    // Every line so far that starts with the prefix (consumed).
    QStringList Take(const QString& prefix)
    {
        Pump();
        QStringList found, rest;
        for (const QString& line : m_lines)
            (line.startsWith(prefix) ? found : rest) << line;
        m_lines = rest;
        return found;
    }
    bool LogIn()
    {
        Send("set username " + m_user);
        Send("set password secret");
        Send("connect");
        return !WaitFor("connected", 20000).isEmpty();
    }
    void Kill()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    bool WaitForExit(int timeoutMs) { return m_process.waitForFinished(timeoutMs); }
    int ExitCode() const { return m_process.exitCode(); }
    QProcess::ExitStatus ExitStatus() const { return m_process.exitStatus(); }
    const QString& User() const { return m_user; }
    // Every line printed so far, consumed or not.
    QStringList History()
    {
        Pump();
        return m_history;
    }

private:
    void Pump()
    {
        while (m_process.canReadLine()) {
            m_lines << QString::fromUtf8(m_process.readLine()).trimmed();
            m_history << m_lines.last();
        }
    }
    QString m_user;
    QProcess m_process;
    QStringList m_lines;
    QStringList m_history;
};

} // namespace

class TestE2e : public QObject {
    Q_OBJECT
    QTemporaryDir temp;
    std::unique_ptr<Standin> server;
    int clients = 0;

    QString Home(const QString& user) const { return temp.path() + "/home-" + user; }
    QString Completed(const QString& user, const QString& rest) const
    {
        return Home(user) + "/Marrowby Downloads/complete/" + rest;
    }
    QString Partial(const QString& user, const QString& rest) const
    {
        return Home(user) + "/Marrowby Downloads/downloading/" + rest;
    }

    std::unique_ptr<Client> Start(const QString& user, Standin* on = nullptr)
    {
        auto client = std::make_unique<Client>(user, Home(user), (on ? on : server.get())->port);
        if (client->WaitFor("connected", 20000).isEmpty())
            return nullptr;
        return client;
    }

    // Shares the folder and waits for its walk.
    bool Share(Client& client, const QString& folder)
    {
        client.Send("share-folder " + folder);
        client.Send("wait-shares");
        return !client.WaitFor("shares-ready", 60000).isEmpty();
    }

    static QString Remote(const QString& local) { return QString(local).replace('/', '\\'); }

private slots:
    void initTestCase()
    {
        // Keep the homes (and the clients' logs) for a look after a failure.
        temp.setAutoRemove(!qEnvironmentVariableIsSet("MARROWBY_KEEP_TEST_FILES"));
        qInfo() << "files in" << temp.path();
        server = std::make_unique<Standin>();
        QVERIFY(server->Start());
    }

    // Search, results, downloads, identical bytes; a 0-byte file too.
    void searchAndDownload()
    {
        const QString share = temp.path() + "/share-alice/Music Collection";
        WriteBigFile(share + "/big/random200.bin", 200LL * 1024 * 1024, 1);
        for (int n = 0; n < 3; ++n)
            WriteMp3(share + QString("/album/song%1.mp3").arg(n), 2 + n, n);
        WriteRandomFile(share + "/album/silence.mp3", 0, 20);
        auto alice = Start("alice");
        auto bob = Start("bob");
        QVERIFY(alice && bob);
        QVERIFY(Share(*alice, share));

        bob->Send("search album");
        QVERIFY(!bob->WaitFor("search-results", 20000).isEmpty());
        bob->Send("search big");
        QVERIFY(!bob->WaitFor("search-results", 20000).isEmpty());
        QTest::qWait(300);
        QStringList results = bob->History().filter(QRegularExpression("^search-result "));
        QCOMPARE(results.size(), 5);
        for (const QString& result : results) {
            // search-result <ticket> <user> <size> <path>
            const QString size = result.section(' ', 3, 3);
            const QString path = result.section(' ', 4);
            QCOMPARE(result.section(' ', 2, 2), QString("alice"));
            bob->Send(QStringLiteral("download alice %1 %2").arg(size, path));
        }
        for (int k = 0; k < 5; ++k)
            QVERIFY2(
                !bob->WaitFor("complete-download alice", 120000).isEmpty(), "a download did not complete");
        QCOMPARE(Digest(Completed("bob", "big/random200.bin")), Digest(share + "/big/random200.bin"));
        for (int n = 0; n < 3; ++n) {
            const QString rest = QString("album/song%1.mp3").arg(n);
            QCOMPARE(ReadWholeFile(Completed("bob", rest)), ReadWholeFile(share + "/" + rest));
        }
        QVERIFY(QFileInfo::exists(Completed("bob", "album/silence.mp3")));
        QCOMPARE(QFileInfo(Completed("bob", "album/silence.mp3")).size(), qint64(0));
        QFile::remove(share + "/big/random200.bin");
        QFile::remove(Completed("bob", "big/random200.bin"));
    }

    // The sharer is killed mid-transfer and started again, a few times: the
    // download resumes from its partial file and still ends identical.
    void resumeAfterTheSharerDies()
    {
        const QString share = temp.path() + "/share-sam";
        const qint64 size = 48LL * 1024 * 1024;
        WriteBigFile(share + "/resume/movie.bin", size, 2);
        auto sam = Start("sam");
        auto rita = Start("rita");
        QVERIFY(sam && rita);
        QVERIFY(Share(*sam, share));
        // About 6 s for the whole file, so there is time to cut it.
        sam->Send("speed-limit 8192");
        rita->Send(QStringLiteral("download sam %1 %2").arg(size).arg(Remote(share + "/resume/movie.bin")));
        const QString partial = Partial("rita", "resume/movie.bin");
        QRandomGenerator random(77);
        qint64 last = 0;
        for (int round = 0; round < 3; ++round) {
            const qint64 cut = last + qint64((size - last) * (0.15 + 0.5 * random.generateDouble()));
            QElapsedTimer clock;
            clock.start();
            while (QFileInfo(partial).size() < cut && clock.elapsed() < 60000)
                QTest::qWait(20);
            QVERIFY2(QFileInfo(partial).size() >= cut, "the transfer did not reach its cut point");
            sam->Kill();
            QVERIFY(!rita->WaitFor("download-status sam aborted", 30000).isEmpty());
            last = QFileInfo(partial).size();
            QVERIFY(last < size);
            // Last time, the file is replaced meanwhile by another of the same
            // size and time: what arrives is the new file whole.
            if (round == 2) {
                const QString file = share + "/resume/movie.bin", stamp = share + "/stamp";
                QCOMPARE(QProcess::execute("touch", { "-r", file, stamp }), 0);
                WriteBigFile(file, size, 3);
                QCOMPARE(QProcess::execute("touch", { "-r", stamp, file }), 0);
            }
            // It shares its folder again before it is seen online.
            sam = std::make_unique<Client>("sam", Home("sam"), server->port, false);
            QVERIFY(!sam->WaitFor("ready", 20000).isEmpty());
            QVERIFY(Share(*sam, share));
            sam->Send("speed-limit 8192");
            QVERIFY(sam->LogIn());
            // When the sharer comes back online the download is asked for
            // again and resumes from the partial file.
            QVERIFY(!rita->WaitFor("download-status sam downloading", 60000).isEmpty());
        }
        sam->Send("speed-limit 0");
        QVERIFY(!rita->WaitFor("complete-download sam movie.bin", 120000).isEmpty());
        QCOMPARE(Digest(Completed("rita", "resume/movie.bin")), Digest(share + "/resume/movie.bin"));
    }

    // Two users share files of one name in folders of one name, one more
    // slowly. Downloads of both at once (of one size, of two sizes), and one
    // of a file whose name and size a finished file has already: each is
    // filed whole, under a name of its own.
    void sameNamesFromTwoSources()
    {
        const QString one = temp.path() + "/share-amy/Album", two = temp.path() + "/share-ben/Album";
        const QList<qint64> sizes { 3000000, 6000000, 1000000 }, others { 3000000, 2000000, 1000000 };
        for (int k = 0; k < 3; ++k) {
            WriteBigFile(one + QString("/%1.bin").arg(k), sizes[k], 70 + k);
            WriteBigFile(two + QString("/%1.bin").arg(k), others[k], 80 + k);
        }
        auto amy = Start("amy"), ben = Start("ben"), cid = Start("cid");
        QVERIFY(amy && ben && cid && Share(*amy, one) && Share(*ben, two));
        // Each serves one file at a time: 0.bin from both at once, then
        // 1.bin from both at once.
        amy->Send("speed-limit 2048");
        ben->Send("speed-limit 1024");
        for (int k = 0; k < 3; ++k) {
            cid->Send(QStringLiteral("download amy %1 %2\\%3.bin").arg(sizes[k]).arg(Remote(one)).arg(k));
            if (k < 2)
                cid->Send(QStringLiteral("download ben %1 %2\\%3.bin").arg(others[k]).arg(Remote(two)).arg(k));
        }
        for (int k = 0; k < 5; ++k)
            QVERIFY(!cid->WaitFor("complete-download ", 60000).isEmpty());
        cid->Send(QStringLiteral("download ben %1 %2\\2.bin").arg(others[2]).arg(Remote(two)));
        QVERIFY(!cid->WaitFor("complete-download ben 2 (1).bin", 30000).isEmpty());
        for (int k = 0; k < 3; ++k) {
            const QSet<QByteArray> filed { Digest(Completed("cid", QString("Album/%1.bin").arg(k))),
                Digest(Completed("cid", QString("Album/%1 (1).bin").arg(k))) };
            QCOMPARE(filed, QSet<QByteArray>({ Digest(one + QString("/%1.bin").arg(k)),
                                Digest(two + QString("/%1.bin").arg(k)) }));
        }
    }

    // The downloads folder changes while two files arrive, one with a file
    // of other bytes at its path below the new folder: each is filed whole in
    // the folder it was begun in, nothing left behind. Links planted in the
    // new folder lead nowhere: what is begun there fails saying so.
    void downloadFolderChangedMidway()
    {
        const QString old = Home("quin") + "/Marrowby Downloads", fresh = temp.path() + "/quin-new";
        const QString outside = temp.path() + "/outside";
        const QStringList files { "pia/Album/a.bin", "rex/Album/b.bin", "pia/Evil/c.bin", "pia/Worse/d.bin" };
        for (int k = 0; k < 4; ++k)
            WriteBigFile(temp.path() + "/share-" + files[k], k < 2 ? 3000000 : 100000, 90 + k);
        auto pia = Start("pia"), rex = Start("rex"), quin = Start("quin");
        QVERIFY(pia && rex && quin && Share(*pia, temp.path() + "/share-pia")
            && Share(*rex, temp.path() + "/share-rex"));
        pia->Send("speed-limit 1024");
        rex->Send("speed-limit 1024");
        const auto download = [&](int k) {
            quin->Send(QStringLiteral("download %1 %2 %3")
                           .arg(files[k].section('/', 0, 0))
                           .arg(k < 2 ? 3000000 : 100000)
                           .arg(Remote(temp.path() + "/share-" + files[k])));
        };
        download(0), download(1);
        QTRY_COMPARE_WITH_TIMEOUT(
            quin->History().filter(QRegularExpression("^download-status .* downloading ")).size(), 2, 30000);
        const QByteArray decoy = WriteRandomFile(fresh + "/downloading/Album/a.bin", 3000000, 99);
        QVERIFY(QDir().mkpath(outside) && QDir().mkpath(fresh + "/complete"));
        QVERIFY(QFile::link(outside, fresh + "/complete/Evil")
            && QFile::link(outside, fresh + "/downloading/Worse"));
        quin->Send("set download_folder " + fresh);
        download(2), download(3);
        QTRY_COMPARE_WITH_TIMEOUT(quin->History().filter("complete-download ").size(), 2, 60000);
        for (int k = 0; k < 2; ++k)
            QCOMPARE(Digest(old + "/complete/Album/" + files[k].section('/', -1)),
                Digest(temp.path() + "/share-" + files[k]));
        QTRY_COMPARE_WITH_TIMEOUT(
            quin->History().filter(" is a link: links below " + fresh).size(), 2, 60000);
        QCOMPARE(ReadWholeFile(fresh + "/downloading/Album/a.bin"), decoy);
        QVERIFY(!QDir(old + "/downloading/Album").exists());
        QCOMPARE(QDir(outside).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
    }

    // One slot, three downloaders: served in arrival order, places in line
    // told; a fourth request beyond the per-user limit gets "Too many files".
    void slotsOrderAndLimits()
    {
        const QString share = temp.path() + "/share-una";
        for (int n = 0; n < 4; ++n)
            WriteBigFile(share + QString("/queue/file%1.bin").arg(n), 6LL * 1024 * 1024, 30 + n);
        auto una = Start("una");
        QVERIFY(una);
        QVERIFY(Share(*una, share));
        una->Send("upload-slots 1");
        una->Send("speed-limit 6144"); // about one second per file
        una->Send("set max_queued_uploads_per_user 2");
        std::vector<std::unique_ptr<Client>> downloaders;
        for (const char* user : { "vic", "wes", "xia" }) {
            downloaders.push_back(Start(user));
            QVERIFY(downloaders.back());
        }
        for (size_t k = 0; k < downloaders.size(); ++k) {
            downloaders[k]->Send(QStringLiteral("download una %1 %2")
                                     .arg(6LL * 1024 * 1024)
                                     .arg(Remote(share + QString("/queue/file%1.bin").arg(k))));
            QVERIFY(!una->WaitFor("upload-status " + downloaders[k]->User() + " queued", 20000).isEmpty());
        }
        // Places in line of the two who wait.
        for (size_t k = 1; k < downloaders.size(); ++k)
            downloaders[k]->Send(QStringLiteral("place-in-line-request una %1")
                                     .arg(Remote(share + QString("/queue/file%1.bin").arg(k))));
        const int wesPlace = downloaders[1]->WaitFor("place-in-line una", 20000).section(' ', 2, 2).toInt();
        const int xiaPlace = downloaders[2]->WaitFor("place-in-line una", 20000).section(' ', 2, 2).toInt();
        qInfo() << "places in line" << wesPlace << xiaPlace;
        QVERIFY2(
            wesPlace > 0 && xiaPlace > wesPlace, qPrintable(QString("%1 %2").arg(wesPlace).arg(xiaPlace)));

        // xia asks for two more: one fits below the limit of 2 queued, one not.
        Client& xia = *downloaders[2];
        xia.Send(QStringLiteral("download una %1 %2")
                     .arg(6LL * 1024 * 1024)
                     .arg(Remote(share + "/queue/file3.bin")));
        xia.Send(QStringLiteral("download una %1 %2")
                     .arg(6LL * 1024 * 1024)
                     .arg(Remote(share + "/queue/file0.bin")));
        QVERIFY(xia.WaitFor("upload-denied una", 20000).endsWith(": Too many files"));

        // Uploads run one at a time, in arrival order.
        for (size_t k = 0; k < 3; ++k)
            QVERIFY(!downloaders[k]->WaitFor("complete-download una", 60000).isEmpty());
        QVERIFY(!xia.WaitFor("complete-download una", 60000).isEmpty());
        QStringList order;
        int running = 0;
        for (const QString& line : una->History()) {
            if (!line.startsWith("upload-status "))
                continue;
            if (line.contains(" uploading ")) {
                order << line.section(' ', 1, 1);
                QVERIFY2(++running == 1, "two uploads ran at once");
            } else if (line.contains(" complete ") || line.contains(" aborted ")) {
                --running;
            }
        }
        QCOMPARE(order, QStringList({ "vic", "wes", "xia", "xia" }));
        for (size_t k = 0; k < 3; ++k)
            QCOMPARE(Digest(Completed(downloaders[k]->User(), QString("queue/file%1.bin").arg(k))),
                Digest(share + QString("/queue/file%1.bin").arg(k)));
    }

    // A download onto a full disk is a local error: not asked for again by
    // itself, the partial file kept, and finished from it by a retry once
    // there is room.
    void fullDiskWaitsForTheUser()
    {
        const QString share = temp.path() + "/share-lou", remote = Remote(share + "/disk/large.bin");
        WriteBigFile(share + "/disk/large.bin", 2560 * 1024, 60);
        const QString root = temp.path() + "/disk-max", partial = root + "/downloading/disk/large.bin";
        QDir().mkpath(QFileInfo(partial).path());
        // A small tmpfs where the test may mount one, a third of it taken;
        // else a device that is always full stands in for the disk.
        const bool mounted
            = QProcess::execute("mount", { "-t", "tmpfs", "-o", "size=3m", "tmpfs", root }) == 0;
        auto unmount = qScopeGuard([&] { QProcess::execute("umount", { "-l", root }); });
        const QString filler = mounted ? root + "/filler.bin" : partial;
        QVERIFY(mounted ? WriteRandomFile(filler, 1 << 20).size() > 0 : QFile::link("/dev/full", partial));
        if (!mounted) // begun for this download, as far as the client can tell
            QVERIFY(SourceRecords(root).Write(partial, { "lou", remote.toUtf8(), 2560 * 1024 }));
        auto lou = Start("lou"), max = Start("max");
        QVERIFY(lou && max && Share(*lou, share));
        max->Send("set download_folder " + root);
        max->Send(QStringLiteral("download lou %1 %2").arg(2560 * 1024).arg(remote));
        QVERIFY(!max->WaitFor(QString("download-status lou ") + (mounted ? "downloading" : "queued"), 30000)
                     .isEmpty());
        QCOMPARE(max->WaitFor("download-status lou ", 30000), "download-status lou local error " + remote);
        // The system's reason, as the failed write gave it (the link in the
        // disk's place is refused before any byte).
        QVERIFY(max->History()
                    .filter("download-reason lou ")
                    .join('\n')
                    .contains(mounted ? "Writing to file failed. Error string: No space left on device"
                                      : " is a link: "));
        // Nothing asks for it again: not the upload's end, not the uploader's return.
        lou->Send("disconnect");
        lou->Send("connect");
        QVERIFY(!lou->WaitFor("connected").isEmpty());
        QTest::qWait(3000);
        QCOMPARE(max->Take("download-status"), QStringList());
        QVERIFY(!mounted || QFileInfo(partial).size() > 0);
        QVERIFY(QFile::remove(filler));
        max->Send("requeue lou " + remote);
        QVERIFY(!max->WaitFor("complete-download lou large.bin", 60000).isEmpty());
        QCOMPARE(Digest(root + "/complete/disk/large.bin"), Digest(share + "/disk/large.bin"));
    }

    // Shared files changed after the scan: one grown, one cut, two written
    // to while they are sent, and a file and a folder swapped for links to
    // files outside the shares. What arrives is the file as offered, or the
    // download is refused with the reason on both sides (a link as not
    // shared, none of its bytes sent); nothing is asked for again.
    void changedSharedFilesArriveWholeOrRefused()
    {
        const QString tunes = temp.path() + "/share-ned/tunes", live = tunes + "/live.bin";
        const QString secret = temp.path() + "/secret-ned";
        WriteRandomFile(tunes + "/tune1.mp3", 200000, 81);
        WriteRandomFile(tunes + "/tune3.mp3", 200000, 83);
        WriteBigFile(live, 4 << 20, 84);
        WriteBigFile(tunes + "/tagged.bin", 4 << 20, 85);
        WriteRandomFile(tunes + "/later.bin", 200000, 87);
        for (const QString& path : { tunes + "/swap.txt", tunes + "/swapdir/inner.txt", secret + "/inner.txt" })
            WriteRandomFile(path, 200000, 86);
        auto ned = Start("ned"), ole = Start("ole");
        QVERIFY(ned && ole && Share(*ned, tunes));
        const QByteArray grown = WriteRandomFile(tunes + "/tune1.mp3", 300000, 91);
        QVERIFY(QFile::resize(tunes + "/tune3.mp3", 50000));
        QVERIFY(QFile::remove(tunes + "/swap.txt") && QFile::link(secret + "/inner.txt", tunes + "/swap.txt"));
        QVERIFY(QDir(tunes + "/swapdir").removeRecursively() && QFile::link(secret, tunes + "/swapdir"));
        const QStringList linked { Remote(tunes + "/swap.txt"), Remote(tunes + "/swapdir/inner.txt") };
        for (const QString& name : linked + QStringList { Remote(tunes + "/tune1.mp3"), Remote(tunes + "/tune3.mp3") })
            ole->Send("download ned 200000 " + name);
        for (int k = 0; k < 2; ++k)
            QVERIFY(!ole->WaitFor("complete-download ned", 30000).isEmpty());
        QVERIFY(QTest::qWaitFor([&] { return ole->History().filter("upload-denied ned").size() == 2; }, 30000));
        ole->Take("upload-denied ned");
        QStringList denied = ole->History().filter("upload-denied ned");
        denied.sort();
        QCOMPARE(denied, QStringList({ "upload-denied ned " + linked[0] + " : File not shared.",
                             "upload-denied ned " + linked[1] + " : File not shared." }));
        QCOMPARE(ReadWholeFile(Completed("ole", "tunes/tune1.mp3")), grown);
        QCOMPARE(ReadWholeFile(Completed("ole", "tunes/tune3.mp3")), ReadWholeFile(tunes + "/tune3.mp3"));
        ned->Send("share-file " + tunes + "/tune1.mp3");
        QVERIFY(ned->WaitFor("share-file ").startsWith("share-file 300000 "));

        // Written to once bytes have arrived, so the upload sees the change
        // between two blocks and not before the first.
        const auto receiving = [&](const QString& name, qint64 held = 0) {
            return QTest::qWaitFor([&] { return QFileInfo(Partial("ole", "tunes/" + name)).size() > held; }, 30000);
        };
        ned->Send("speed-limit 256"); // sixteen seconds a file
        ole->Send(QStringLiteral("download ned %1 %2").arg(4 << 20).arg(Remote(live)));
        QVERIFY(receiving("live.bin"));
        QFile file(live);
        QVERIFY(file.open(QIODevice::Append) && file.write("more") == 4);
        file.close();
        const QString reason = "The file changed after it was offered.";
        QCOMPARE(
            ole->WaitFor("upload-denied ned", 30000), "upload-denied ned " + Remote(live) + " : " + reason);
        QCOMPARE(ned->WaitFor("upload-reason ole"), "upload-reason ole " + reason);
        QTest::qWait(3000);
        QCOMPARE(ned->History().filter("upload-status ole requesting").size(), 3);
        const QStringList after = ole->Take("download-status ned");
        QVERIFY(!after.isEmpty());
        QCOMPARE(after.last(), "download-status ned denied " + Remote(live));

        // Tags edited in place at both ends, the head received, the same size
        // within the same second: a retry keeps none of the bytes from before.
        const QDateTime second = QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch() - 60);
        QFile tagged(tunes + "/tagged.bin");
        QVERIFY(tagged.open(QIODevice::ReadWrite));
        QVERIFY(tagged.setFileTime(second.addMSecs(100), QFileDevice::FileModificationTime));
        ole->Send(QStringLiteral("download ned %1 %2").arg(4 << 20).arg(Remote(tagged.fileName())));
        QVERIFY(receiving("tagged.bin", 256 * 1024));
        for (const qint64 at : { qint64(0), qint64((4 << 20) - 4) })
            QVERIFY(tagged.seek(at) && tagged.write("TAGS") == 4 && tagged.flush());
        QVERIFY(tagged.setFileTime(second.addMSecs(200), QFileDevice::FileModificationTime));
        QCOMPARE(ole->WaitFor("upload-denied ned", 30000),
            "upload-denied ned " + Remote(tagged.fileName()) + " : " + reason);
        ned->Send("speed-limit 0");
        ole->Send("requeue ned " + Remote(tagged.fileName()));
        QVERIFY(!ole->WaitFor("complete-download ned tagged.bin", 60000).isEmpty());
        QCOMPARE(Digest(Completed("ole", "tunes/tagged.bin")), Digest(tagged.fileName()));
        for (const QString& rest : { QStringLiteral("tunes/swap.txt"), QStringLiteral("swapdir/inner.txt") })
            QVERIFY(!QFileInfo::exists(Completed("ole", rest)) && QFileInfo(Partial("ole", rest)).size() == 0);

        // The shared folder itself swapped for a link to a folder with a
        // file of a listed name and size: that folder was never walked.
        WriteRandomFile(secret + "/later.bin", 200000, 88);
        QVERIFY(QDir().rename(tunes, tunes + "-old") && QFile::link(secret, tunes));
        ole->Send("download ned 200000 " + Remote(tunes + "/later.bin"));
        QCOMPARE(ole->WaitFor("upload-denied ned", 30000),
            "upload-denied ned " + Remote(tunes + "/later.bin") + " : File not shared.");
        QVERIFY(!QFileInfo::exists(Completed("ole", "tunes/later.bin"))
            && QFileInfo(Partial("ole", "tunes/later.bin")).size() == 0);
    }

    // The server restarts mid-folder, knowing no account until its owner logs
    // in; the uploader is back first, so its watch of the downloader fails.
    // The folder still comes, without the uploader logging in once more.
    void folderDownloadOutlastsAServerRestart()
    {
        const QString share = temp.path() + "/share-hal", tapes = Remote(share + "/tapes");
        for (int n = 0; n < 3; ++n)
            WriteBigFile(share + QString("/tapes/tape%1.bin").arg(n), 4 << 20, 50 + n);
        auto hal = Start("hal"), ivy = Start("ivy");
        QVERIFY(hal && ivy && Share(*hal, share));
        hal->Send("upload-slots 1");
        hal->Send("speed-limit 2048"); // about two seconds per file
        for (int n = 0; n < 3; ++n)
            ivy->Send(QStringLiteral("download hal %1 %2\\tape%3.bin").arg(4 << 20).arg(tapes).arg(n));
        QVERIFY(!ivy->WaitFor("download-status hal downloading", 30000).isEmpty());
        const quint16 port = server->port;
        server = std::make_unique<Standin>();
        QVERIFY(server->Start(port));
        // A client logs in again once it has seen the loss: asked before,
        // while it still counts itself logged in, it would not.
        for (Client* client : { hal.get(), ivy.get() }) {
            QVERIFY(!client->WaitFor("disconnected", 20000).isEmpty());
            client->Send("connect");
            QVERIFY(!client->WaitFor("connected", 20000).isEmpty());
        }
        for (int n = 0; n < 3; ++n)
            QVERIFY2(!ivy->WaitFor("complete-download hal", 60000).isEmpty(), "the folder download stalled");
        QCOMPARE(hal->History().filter(QRegularExpression("^connected$")).size(), 2);
    }

    // Neither side can open the file connection: the downloader's row says
    // why and asks again later each time, not at once; the uploader serves
    // the next in line and puts the failed upload behind the others.
    void unreachableFileConnectionsBackOff()
    {
        Standin broken;
        QVERIFY(broken.Start(0, { "--wrong-port", "dan", "--wrong-file-port", "cy" }));
        const QString far = temp.path() + "/share-cy/far";
        for (const char* name : { "first", "second", "third" })
            WriteBigFile(far + "/" + name + ".bin", 1 << 20, 70);
        auto cy = Start("cy", &broken), dan = Start("dan", &broken), eve = Start("eve", &broken);
        QVERIFY(cy && dan && eve && Share(*cy, far));
        cy->Send("upload-slots 1");
        cy->Send("speed-limit 128"); // eight seconds a file
        dan->Send(QStringLiteral("download cy %1 %2").arg(1 << 20).arg(Remote(far + "/first.bin")));
        QVERIFY(!cy->WaitFor("connection-failed dan F").isEmpty());
        for (const char* name : { "second", "third" }) {
            eve->Send(QStringLiteral("download cy %1 %2\\%3.bin").arg(1 << 20).arg(Remote(far), name));
            QVERIFY(!cy->WaitFor("upload-status eve queued").isEmpty());
        }
        // How often dan has asked: a later message of dan's has arrived.
        int markers = 0;
        const auto asked = [&] {
            dan->Send(QStringLiteral("send cy 51 marker %1").arg(++markers));
            cy->WaitFor(QStringLiteral("place-in-line-requested dan marker %1").arg(markers));
            return cy->History().filter("queue-upload-requested dan").size();
        };
        const auto later = [&](int seconds) {
            dan->Send(QStringLiteral("advance-clock %1").arg(seconds));
            dan->Send("half-minute");
            return asked();
        };
        const auto timeOut = [&] {
            cy->Send("advance-clock 31");
            cy->Send("half-minute");
            return !cy->WaitFor("upload-status dan aborted").isEmpty();
        };
        int before = asked();
        QVERIFY(timeOut());
        QVERIFY(!cy->WaitFor("upload-status eve uploading").isEmpty());
        QCOMPARE(dan->WaitFor("download-reason cy"), "download-reason cy File connection failed: Connection refused");
        // Asked again after a minute, not at once.
        QCOMPARE(later(59), before);
        QCOMPARE(later(2), before + 1);
        // Behind eve's third file, which came after it.
        cy->Send("speed-limit 0");
        QVERIFY(!cy->WaitFor("upload-status eve requesting").isEmpty());
        QVERIFY(!cy->WaitFor("upload-status dan requesting").isEmpty());
        QVERIFY(!cy->WaitFor("connection-failed dan F").isEmpty());
        before = asked();
        QVERIFY(timeOut());
        QVERIFY(!dan->WaitFor("download-reason cy").isEmpty());
        // cy coming back online has its downloads queued again: this one
        // still waits out its delay.
        const auto cameOnline = [&] {
            const qsizetype from = dan->History().size();
            dan->Send("log Transfer Queue\necho logged");
            return dan->WaitFor("echo logged").isEmpty() ? -1 : dan->History().mid(from).filter("log User cy went online").size();
        };
        const int online = cameOnline();
        cy->Send("disconnect");
        cy->Send("connect");
        QVERIFY(!cy->WaitFor("connected").isEmpty());
        QVERIFY(QTest::qWaitFor([&] { return cameOnline() > online; }, 30000));
        QCOMPARE(asked(), before);
        // Two minutes the second time.
        QCOMPARE(later(61), before);
        QCOMPARE(later(60), before + 1);
        QCOMPARE(cy->History().filter("upload-status eve complete").size(), 2);
    }

    // Finish-uploads-and-quit ends the sharer once its uploads are done.
    void finishUploadsAndQuit()
    {
        const QString share = temp.path() + "/share-fay";
        WriteBigFile(share + "/last/final.bin", 3LL * 1024 * 1024, 40);
        auto fay = Start("fay");
        auto gus = Start("gus");
        QVERIFY(fay && gus);
        QVERIFY(Share(*fay, share));
        fay->Send("speed-limit 2048");
        gus->Send(QStringLiteral("download fay %1 %2")
                      .arg(3LL * 1024 * 1024)
                      .arg(Remote(share + "/last/final.bin")));
        QVERIFY(!fay->WaitFor("upload-status gus uploading", 20000).isEmpty());
        fay->Send("finish-uploads-and-quit yes");
        // While uploading, the checks keep it running.
        fay->Send("advance-clock 400");
        fay->Send("half-minute");
        fay->Send("echo alive");
        QVERIFY(!fay->WaitFor("echo alive", 10000).isEmpty());
        QVERIFY(!gus->WaitFor("complete-download fay final.bin", 60000).isEmpty());
        QVERIFY(!fay->WaitFor("upload-status gus complete", 20000).isEmpty());
        fay->Send("half-minute");
        fay->Send("echo still");
        QVERIFY(!fay->WaitFor("echo still", 10000).isEmpty());
        fay->Send("advance-clock 301");
        fay->Send("half-minute");
        QVERIFY(fay->WaitForExit(20000));
        QCOMPARE(fay->ExitStatus(), QProcess::NormalExit);
        QCOMPARE(fay->ExitCode(), 0);
        QCOMPARE(Digest(Completed("gus", "last/final.bin")), Digest(share + "/last/final.bin"));
    }
};

QTEST_GUILESS_MAIN(TestE2e)
#include "tst_e2e.moc"
