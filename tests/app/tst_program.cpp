// The program itself: a second start of the same user hands over and exits
// with 0 while the first keeps running, and a termination signal ends the
// first like closing its window, saving the data file.
#include "helper_peers.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "store/Settings.h"
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <unistd.h>

class TestProgram : public QObject {
    Q_OBJECT
    QTemporaryDir home;
    QTemporaryDir runtime;
    StandinServer server;

    void StartClient(QProcess& client)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        env.insert(QStringLiteral("MARROWBY_SERVER"), QStringLiteral("127.0.0.1:%1").arg(server.Port()));
        env.insert(QStringLiteral("MARROWBY_WEB"), QStringLiteral("127.0.0.1:1"));
        client.setProcessEnvironment(env);
        client.setProcessChannelMode(QProcess::ForwardedChannels);
        client.start(BinPath(QStringLiteral("marrowby")), {});
    }

private slots:
    void secondStartExitsAndSignalSaves();
};

void TestProgram::secondStartExitsAndSignalSaves()
{
    QVERIFY(server.Start());
    QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    // A stored user: no first-start dialogs.
    const QString dataFile = home.path() + QStringLiteral("/.Marrowby");
    {
        DataSaver saver(&d);
        Settings::CreateTypes();
        saver.AddSavedType("global");
        saver.AddSavedByConnectionType("global_value", "global");
        settings.Set("username", "runner");
        settings.Set("password", "secret");
        settings.Set("use_upnp", "no");
        settings.Set("listening_port", "0");
        settings.Set("obfuscated_listening_port", "0");
        saver.Save(dataFile);
    }
    QVERIFY(!settings.Has("data_version"));

    QProcess first;
    StartClient(first);
    QVERIFY(first.waitForStarted(10000));
    const QString socket = runtime.path() + QStringLiteral("/MarrowbyQt-%1.socket").arg(::getuid());
    QVERIFY(QTest::qWaitFor([&] { return QFile::exists(socket); }, 20000));

    QProcess second;
    StartClient(second);
    QVERIFY(second.waitForFinished(20000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QTest::qWait(3000); // the first has finished starting meanwhile
    QCOMPARE(first.state(), QProcess::Running);

    ::kill(pid_t(first.processId()), SIGTERM);
    QVERIFY(first.waitForFinished(20000));
    QCOMPARE(first.exitStatus(), QProcess::NormalExit);
    QCOMPARE(first.exitCode(), 0);
    // What the run wrote at start-up was saved on the way out.
    DataSaver reader(&d);
    reader.Load(dataFile);
    QCOMPARE(settings.Get("data_version"), QStringLiteral("1"));
    QCOMPARE(settings.Get("color_transfer_queued"), QStringLiteral("#3366ff"));
}

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
