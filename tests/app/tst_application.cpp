// One instance per user: a second start hands over and exits with 0, a killed
// instance does not block the next start, and the desktop's save request
// reaches the save handler.
#include "Application.h"
#include <QElapsedTimer>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <unistd.h>

namespace {

QString ProbePath()
{
    return qEnvironmentVariable("MARROWBY_BIN") + QStringLiteral("/instance_probe");
}

void StartProbe(QProcess& probe, const QString& id, const QStringList& args = {})
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("MARROWBY_INSTANCE_ID"), id);
    probe.setProcessEnvironment(env);
    probe.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    probe.start(ProbePath(), args);
}

// Waits (blocking) for the probe to print the line.
bool WaitForLine(QProcess& probe, const QByteArray& wanted, int ms = 10000)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        while (probe.canReadLine()) {
            if (probe.readLine().trimmed() == wanted)
                return true;
        }
        if (!probe.waitForReadyRead(100) && probe.state() == QProcess::NotRunning && !probe.canReadLine())
            return false;
    }
    return false;
}

} // namespace

class TestApplication : public QObject {
    Q_OBJECT
public:
    explicit TestApplication(Application* app)
        : m_app(app)
    {
    }

private slots:
    void firstInstanceHoldsTheId()
    {
        QVERIFY(!m_app->IsRunning());
        QVERIFY(QFile::exists(m_app->SocketPath()));
        QCOMPARE(QFileInfo(m_app->SocketPath()).fileName(),
            m_app->Id() + QLatin1Char('-') + QString::number(::getuid()) + QStringLiteral(".socket"));
    }

    void secondStartHandsOverAndExits()
    {
        QSignalSpy messages(m_app, &Application::MessageReceived);
        QProcess second;
        StartProbe(second, m_app->Id(), { QStringLiteral("hello there") });
        // This process must keep serving its socket meanwhile: no blocking wait.
        QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, 15000);
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(second.readAll().trimmed(), QByteArray("secondary sent"));
        QTRY_COMPARE(messages.count(), 1);
        QCOMPARE(messages.at(0).at(0).toString(), QStringLiteral("hello there"));
    }

    void badMessagesAreDropped()
    {
        QSignalSpy messages(m_app, &Application::MessageReceived);
        // A length beyond the limit closes the connection unread.
        QLocalSocket socket;
        socket.connectToServer(m_app->SocketPath());
        QVERIFY(socket.waitForConnected(5000));
        QByteArray frame(4, '\0');
        qToLittleEndian<quint32>(quint32(Application::kMaxMessageBytes + 1), frame.data());
        socket.write(frame + QByteArray(64, 'x'));
        QTRY_COMPARE(socket.state(), QLocalSocket::UnconnectedState);
        // A half message followed by silence goes nowhere either.
        QLocalSocket quiet;
        quiet.connectToServer(m_app->SocketPath());
        QVERIFY(quiet.waitForConnected(5000));
        qToLittleEndian<quint32>(100u, frame.data());
        quiet.write(frame + QByteArray("abc"));
        QTest::qWait(200);
        QCOMPARE(messages.count(), 0);
        // The server still serves well-formed messages.
        QLocalSocket good;
        good.connectToServer(m_app->SocketPath());
        QVERIFY(good.waitForConnected(5000));
        qToLittleEndian<quint32>(2u, frame.data());
        good.write(frame + QByteArray("ok"));
        QTRY_COMPARE(messages.count(), 1);
        QCOMPARE(messages.at(0).at(0).toString(), QStringLiteral("ok"));
    }

    void killedInstanceDoesNotBlock()
    {
        const QString id = m_app->Id() + QStringLiteral("-probe");
        QProcess first;
        StartProbe(first, id);
        QVERIFY(WaitForLine(first, "primary"));

        QProcess second;
        StartProbe(second, id);
        QVERIFY(second.waitForFinished(15000));
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(second.readAll().trimmed(), QByteArray("secondary sent"));
        QVERIFY(WaitForLine(first, "message activate"));

        // SIGKILL leaves the lock and the socket behind.
        first.kill();
        QVERIFY(first.waitForFinished(5000));
        const QString base = QFileInfo(m_app->SocketPath()).absolutePath() + QLatin1Char('/') + id
            + QLatin1Char('-') + QString::number(::getuid());
        QVERIFY(QFile::exists(base + QStringLiteral(".lock")));
        QVERIFY(QFile::exists(base + QStringLiteral(".socket")));

        QProcess third;
        StartProbe(third, id);
        QVERIFY(WaitForLine(third, "primary"));
        // and it is reachable on the socket it took over.
        QProcess fourth;
        StartProbe(fourth, id, { QStringLiteral("again") });
        QVERIFY(fourth.waitForFinished(15000));
        QCOMPARE(fourth.exitCode(), 0);
        QCOMPARE(fourth.readAll().trimmed(), QByteArray("secondary sent"));
        QVERIFY(WaitForLine(third, "message again"));
        third.terminate();
        QVERIFY(third.waitForFinished(5000));
    }

    void saveRequestCallsTheSaveHandler()
    {
        // Without a handler (before the main window exists) nothing happens.
        alignas(QSessionManager) unsigned char storage[sizeof(QSessionManager)] = {};
        auto& manager = *reinterpret_cast<QSessionManager*>(storage); // never touched by the handler
        emit m_app->commitDataRequest(manager);

        int saves = 0;
        m_app->SetSaveHandler([&saves] { ++saves; });
        emit m_app->commitDataRequest(manager);
        QCOMPARE(saves, 1);
        m_app->SetSaveHandler({});
        emit m_app->commitDataRequest(manager);
        QCOMPARE(saves, 1);
    }

private:
    Application* m_app;
};

int main(int argc, char** argv)
{
    // A runtime folder of the test's own, so that no real instance is touched.
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    Application app(argc, argv, QStringLiteral("MarrowbyQtTest-%1").arg(QCoreApplication::applicationPid()));
    TestApplication test(&app);
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_application.moc"
