// The program itself: a second start of the same user hands over, says so
// and exits with 0 while the first keeps running, and a termination signal ends the
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

    void StartClient(QProcess& client, const QString& homePath = QString(),
        QProcess::ProcessChannelMode channels = QProcess::ForwardedChannels)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), homePath.isEmpty() ? home.path() : homePath);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        env.insert(QStringLiteral("MARROWBY_SERVER"), QStringLiteral("127.0.0.1:%1").arg(server.Port()));
        env.insert(QStringLiteral("MARROWBY_WEB"), QStringLiteral("127.0.0.1:1"));
        client.setProcessEnvironment(env);
        client.setProcessChannelMode(channels);
        client.start(BinPath(QStringLiteral("marrowby")), {});
    }

    // A data file holding the settings (and the store's other saved items).
    static void WriteDataFile(const QString& path, const QStringList& keyValues)
    {
        DataSaver saver(&d);
        Settings::CreateTypes();
        saver.AddSavedType("global");
        saver.AddSavedByConnectionType("global_value", "global");
        for (int i = 0; i + 1 < keyValues.size(); i += 2)
            settings.Set(keyValues[i].toUtf8().constData(), Value(keyValues[i + 1]));
        saver.Save(path);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(server.Start());
        QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    void signalDuringFirstStartDialogsEndsTheProgram();
    void secondStartExitsAndSignalSaves();
};

void TestProgram::signalDuringFirstStartDialogsEndsTheProgram()
{
    // No user yet: the start waits in the user-name dialog.
    QTemporaryDir fresh;
    const QString dataFile = fresh.path() + QStringLiteral("/.Marrowby");
    WriteDataFile(dataFile,
        { QStringLiteral("use_upnp"), QStringLiteral("no"), QStringLiteral("listening_port"), QStringLiteral("0"),
            QStringLiteral("obfuscated_listening_port"), QStringLiteral("0") });
    QProcess client;
    StartClient(client, fresh.path());
    QVERIFY(client.waitForStarted(10000));
    const QString socket = runtime.path() + QStringLiteral("/MarrowbyQt-%1.socket").arg(::getuid());
    QVERIFY(QTest::qWaitFor([&] { return QFile::exists(socket); }, 20000));
    QTest::qWait(2000);
    ::kill(pid_t(client.processId()), SIGTERM);
    QVERIFY(client.waitForFinished(10000));
    QCOMPARE(client.exitStatus(), QProcess::NormalExit);
    QCOMPARE(client.exitCode(), 0);
    QVERIFY(QTest::qWaitFor([&] { return !QFile::exists(socket); }, 5000));
    DataSaver reader(&d);
    reader.Load(dataFile);
    QCOMPARE(settings.Get("data_version"), QStringLiteral("1"));
    settings.Clear("data_version");
}

void TestProgram::secondStartExitsAndSignalSaves()
{
    // A stored user: no first-start dialogs.
    const QString dataFile = home.path() + QStringLiteral("/.Marrowby");
    WriteDataFile(dataFile,
        { QStringLiteral("username"), QStringLiteral("runner"), QStringLiteral("password"), QStringLiteral("secret"),
            QStringLiteral("use_upnp"), QStringLiteral("no"), QStringLiteral("listening_port"), QStringLiteral("0"),
            QStringLiteral("obfuscated_listening_port"), QStringLiteral("0"), QStringLiteral("minimize_to_tray"),
            QStringLiteral("yes") });
    QVERIFY(!settings.Has("data_version"));

    QProcess first;
    StartClient(first, QString(), QProcess::ForwardedOutputChannel);
    QVERIFY(first.waitForStarted(10000));
    const QString socket = runtime.path() + QStringLiteral("/MarrowbyQt-%1.socket").arg(::getuid());
    QVERIFY(QTest::qWaitFor([&] { return QFile::exists(socket); }, 20000));

    // It says what it did, in one line, rather than seeming to do nothing.
    QProcess second;
    StartClient(second, QString(), QProcess::ForwardedErrorChannel);
    QVERIFY(second.waitForFinished(20000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(second.readAllStandardOutput(),
        QByteArray("Marrowby is already running for this user: its window was brought to the front.\n"));
    QTest::qWait(3000); // the first has finished starting meanwhile
    QCOMPARE(first.state(), QProcess::Running);

    ::kill(pid_t(first.processId()), SIGTERM);
    QVERIFY(first.waitForFinished(20000));
    QCOMPARE(first.exitStatus(), QProcess::NormalExit);
    QCOMPARE(first.exitCode(), 0);
    // The tray icon, shown at once, had its icon.
    const QByteArray said = first.readAllStandardError();
    QVERIFY2(!said.contains("No Icon set"), said.constData());
    // What the run wrote at start-up was saved on the way out.
    DataSaver reader(&d);
    reader.Load(dataFile);
    QCOMPARE(settings.Get("data_version"), QStringLiteral("1"));
    QCOMPARE(settings.Get("color_transfer_queued"), QStringLiteral("#3366ff"));
}

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
