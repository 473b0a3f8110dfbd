// UpdateChecker against real HTTP servers on 127.0.0.1: Python's http.server
// serving a temporary folder, and raw sockets for servers that misbehave
// (endless replies, no reply at all).
#include "server/UpdateChecker.h"
#include "store/Settings.h"

#include <QDate>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

const char* kServeScript = R"(
import functools, http.server, sys
handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=sys.argv[1])
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
print(server.server_address[1], flush=True)
server.serve_forever()
)";

qint64 Build(const QDate& date)
{
    return date.toString(QStringLiteral("yyyyMMdd")).toLongLong();
}

QDate CurrentBuildDate()
{
    return QDate(
        int(g_currentVersion / 10000), int(g_currentVersion / 100 % 100), int(g_currentVersion % 100));
}

struct Outcome {
    bool finished = false;
    bool ok = false;
    QList<QVariantList> versions; // NewVersion arguments
    qint64 ms = 0;
};

} // namespace

class TestUpdateChecker : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();

    void newerBuildIsAnnounced();
    void currentOrOlderBuildIsNot();
    void skippedBuildIsNot();
    void malformedFileIsIgnored_data();
    void malformedFileIsIgnored();
    void endlessReplyIsCut();
    void hangingHostTimesOut();
    void hostDownIsHarmless();
    void webHostComesFromTheEnvironment_data();
    void webHostComesFromTheEnvironment();

private:
    void Serve(const QByteArray& file);
    Outcome RunCheck(int timeoutMs = UpdateChecker::kDefaultTimeoutMs);

    QTemporaryDir m_dir;
    QProcess m_http;
    QString m_host;
    qint64 m_next = 0;
};

void TestUpdateChecker::initTestCase()
{
    Settings::CreateTypes();
    QVERIFY(m_dir.isValid());
    m_next = Build(CurrentBuildDate().addDays(1));
    QVERIFY(CurrentBuildDate().isValid());

    m_http.start(
        QStringLiteral("python3"), { QStringLiteral("-c"), QString::fromLatin1(kServeScript), m_dir.path() });
    QVERIFY2(m_http.waitForStarted(10000), "python3 is needed");
    QVERIFY(m_http.waitForReadyRead(10000));
    const int port = m_http.readLine().trimmed().toInt();
    QVERIFY(port > 0);
    m_host = QStringLiteral("127.0.0.1:%1").arg(port);
    qputenv("MARROWBY_WEB", m_host.toUtf8());
}

void TestUpdateChecker::cleanupTestCase()
{
    m_http.terminate();
    if (!m_http.waitForFinished(5000)) {
        m_http.kill();
        m_http.waitForFinished(5000);
    }
}

void TestUpdateChecker::Serve(const QByteArray& file)
{
    QFile f(m_dir.filePath(QStringLiteral("qtversion.txt")));
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(file);
}

Outcome TestUpdateChecker::RunCheck(int timeoutMs)
{
    UpdateChecker checker;
    checker.SetTimeout(timeoutMs);
    checker.Init();
    QSignalSpy versions(&checker, &UpdateChecker::NewVersion);
    QSignalSpy finished(&checker, &UpdateChecker::CheckFinished);
    QElapsedTimer clock;
    clock.start();
    checker.Check();
    Outcome outcome;
    outcome.finished = finished.wait(20000);
    outcome.ms = clock.elapsed();
    if (outcome.finished)
        outcome.ok = finished.first().first().toBool();
    for (const QVariantList& args : versions)
        outcome.versions.append(args);
    return outcome;
}

void TestUpdateChecker::newerBuildIsAnnounced()
{
    Serve(QByteArray::number(m_next)
        + "\r\nhttps://www.example.org/marrowby/download\r\nFaster searches\r\n\r\nFixed " + "\xc3\xa9"
        + "migr\xc3\xa9s\r\n\r\n");
    const Outcome outcome = RunCheck();
    QVERIFY(outcome.finished);
    QVERIFY(outcome.ok);
    QCOMPARE(outcome.versions.size(), 1);
    QCOMPARE(outcome.versions[0][0].toLongLong(), m_next);
    QCOMPARE(outcome.versions[0][1].toString(), QStringLiteral("https://www.example.org/marrowby/download"));
    QCOMPARE(outcome.versions[0][2].toStringList(),
        QStringList({ "Faster searches", "", QString::fromUtf8("Fixed \xc3\xa9migr\xc3\xa9s") }));
}

void TestUpdateChecker::currentOrOlderBuildIsNot()
{
    for (qint64 version : { g_currentVersion, Build(CurrentBuildDate().addDays(-1)), qint64(20000101) }) {
        Serve(QByteArray::number(version) + "\nhttp://www.example.org/get\nOld news\n");
        const Outcome outcome = RunCheck();
        QVERIFY(outcome.finished);
        QVERIFY(outcome.ok);
        QVERIFY2(outcome.versions.isEmpty(), qPrintable(QString::number(version)));
    }
}

void TestUpdateChecker::skippedBuildIsNot()
{
    Serve(QByteArray::number(m_next) + "\nhttp://www.example.org/get\n");
    settings.Set("skip_version", QString::number(m_next));
    Outcome outcome = RunCheck();
    QVERIFY(outcome.finished && outcome.ok);
    QVERIFY(outcome.versions.isEmpty());

    // A build newer than the skipped one is offered again.
    const qint64 later = Build(CurrentBuildDate().addDays(2));
    Serve(QByteArray::number(later) + "\nhttp://www.example.org/get\n");
    outcome = RunCheck();
    settings.Clear("skip_version");
    QCOMPARE(outcome.versions.size(), 1);
    QCOMPARE(outcome.versions[0][0].toLongLong(), later);
    QVERIFY(outcome.versions[0][2].toStringList().isEmpty());
}

void TestUpdateChecker::malformedFileIsIgnored_data()
{
    QTest::addColumn<QByteArray>("file");
    const QByteArray next = QByteArray::number(m_next);
    const QByteArray link = "\nhttp://www.example.org/get\n";
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("blank lines") << QByteArray("\n\r\n\n");
    QTest::newRow("no link") << next + "\n";
    QTest::newRow("empty link") << next + "\n\nDescription\n";
    QTest::newRow("words") << QByteArray("newest") + link;
    QTest::newRow("negative") << "-" + next.mid(1) + link;
    QTest::newRow("nine digits") << next + "0" + link;
    QTest::newRow("huge number") << QByteArray("99999999999999999999999") + link;
    QTest::newRow("no such date") << QByteArray("20991341") + link;
    QTest::newRow("number and text") << next + " beta" + link;
    QTest::newRow("script link") << next + "\njavascript:alert(1)\n";
    QTest::newRow("file link") << next + "\nfile:///etc/passwd\n";
    QTest::newRow("binary") << next + link + QByteArray("\x00\x01\x02\xff", 4);
    QTest::newRow("not utf-8") << next + link + "caf\xe9\n";
    // Well-formed lines, but far beyond any real version file.
    QTest::newRow("too large") << next + link + QByteArray(200 * 1024, 'x') + "\n";
    QTest::newRow("page not found") << QByteArray("<remove>");
}

void TestUpdateChecker::malformedFileIsIgnored()
{
    QFETCH(QByteArray, file);
    if (file == "<remove>")
        QVERIFY(QFile::remove(m_dir.filePath(QStringLiteral("qtversion.txt"))));
    else
        Serve(file);
    const Outcome outcome = RunCheck();
    QVERIFY(outcome.finished);
    QVERIFY(!outcome.ok);
    QVERIFY(outcome.versions.isEmpty());
}

// A host that streams without end and without a length is cut off at the
// cap instead of filling memory.
void TestUpdateChecker::endlessReplyIsCut()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    qint64 sent = 0;
    bool peerClosed = false;
    QTcpSocket* peer = nullptr;
    QTimer pump;
    connect(&server, &QTcpServer::newConnection, this, [&] {
        peer = server.nextPendingConnection();
        peer->write("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\n\r\n");
        peer->write(QByteArray::number(m_next) + "\nhttp://www.example.org/get\n");
        connect(peer, &QTcpSocket::disconnected, this, [&] { peerClosed = true; });
        pump.start(1);
    });
    connect(&pump, &QTimer::timeout, this, [&] {
        if (!peer || peer->state() != QAbstractSocket::ConnectedState || sent > 50 * 1024 * 1024)
            return pump.stop();
        if (peer->bytesToWrite() < 256 * 1024)
            sent += peer->write(QByteArray(16 * 1024, 'y') + "\n");
    });
    qputenv("MARROWBY_WEB", QStringLiteral("127.0.0.1:%1").arg(server.serverPort()).toUtf8());
    const Outcome outcome = RunCheck();
    qputenv("MARROWBY_WEB", m_host.toUtf8());
    QVERIFY(outcome.finished);
    QVERIFY(!outcome.ok);
    QVERIFY(outcome.versions.isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(peerClosed, 5000);
    QVERIFY2(sent < 10 * 1024 * 1024, qPrintable(QString::number(sent)));
}

void TestUpdateChecker::hangingHostTimesOut()
{
    QTcpServer server; // accepts, never answers
    QVERIFY(server.listen(QHostAddress::LocalHost));
    qputenv("MARROWBY_WEB", QStringLiteral("127.0.0.1:%1").arg(server.serverPort()).toUtf8());
    const Outcome outcome = RunCheck(1500);
    qputenv("MARROWBY_WEB", m_host.toUtf8());
    QVERIFY(outcome.finished);
    QVERIFY(!outcome.ok);
    QVERIFY(outcome.versions.isEmpty());
    QVERIFY2(outcome.ms >= 1400 && outcome.ms < 5000, qPrintable(QString::number(outcome.ms)));
}

void TestUpdateChecker::hostDownIsHarmless()
{
    quint16 port;
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        port = server.serverPort();
    } // closed: nothing listens there now
    qputenv("MARROWBY_WEB", QStringLiteral("127.0.0.1:%1").arg(port).toUtf8());
    const Outcome outcome = RunCheck();
    qputenv("MARROWBY_WEB", m_host.toUtf8());
    QVERIFY(outcome.finished);
    QVERIFY(!outcome.ok);
    QVERIFY(outcome.versions.isEmpty());
}

void TestUpdateChecker::webHostComesFromTheEnvironment_data()
{
    QTest::addColumn<QString>("web");
    QTest::addColumn<QString>("url");
    QTest::newRow("host and port") << "127.0.0.1:8080"
                                   << "http://127.0.0.1:8080/qtversion.txt";
    QTest::newRow("host") << "web.example.org"
                          << "http://web.example.org/qtversion.txt";
    QTest::newRow("unset") << "" << QStringLiteral("http://%1/qtversion.txt").arg(MARROWBY_DEFAULT_WEB);
    QTest::newRow("path") << "web.example.org/other"
                          << "";
    QTest::newRow("query") << "web.example.org/?x="
                           << "";
    QTest::newRow("login") << "user@web.example.org"
                           << "";
    QTest::newRow("bad port") << "web.example.org:http"
                              << "";
}

void TestUpdateChecker::webHostComesFromTheEnvironment()
{
    QFETCH(QString, web);
    QFETCH(QString, url);
    qputenv("MARROWBY_WEB", web.toUtf8());
    const QUrl got = UpdateChecker::VersionFileUrl();
    qputenv("MARROWBY_WEB", m_host.toUtf8());
    QCOMPARE(got.toString(), url);
}

QTEST_GUILESS_MAIN(TestUpdateChecker)
#include "tst_updatechecker.moc"
