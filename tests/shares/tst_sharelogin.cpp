// At each login the server hears the share's folder and file counts (right
// after files left with their folder) and is asked for the own statistics,
// whose speed becomes upload_speed.
#include "helper_serverwire.h"
#include "helper_shares.h"
#include "server/Server.h"
#include "store/Data.h"
#include "store/Settings.h"
#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class TestShareLogin : public QObject {
    Q_OBJECT
    std::unique_ptr<FakeCentralServer> fake;
    SharedFoldersManager* manager = nullptr;
    QTemporaryDir dir;

    // Logs in and returns the counts of the last code 35 and the user named
    // by code 36.
    bool Login(quint32& folders, quint32& files, QByteArray& statsUser)
    {
        gp_server->Disconnect();
        QSignalSpy connected(gp_server, &Server::Connected);
        gp_server->Connect();
        if (!fake->WaitClient() || !fake->AcceptLogin() || !connected.wait(3000))
            return false;
        bool counts = false, stats = false;
        for (const WireFrame& frame : fake->Drain(500)) {
            const QByteArray& b = frame.body;
            if (frame.code == 35 && b.size() == 8) {
                folders = qFromLittleEndian<quint32>(b.constData());
                files = qFromLittleEndian<quint32>(b.constData() + 4);
                counts = true;
            } else if (frame.code == 36) {
                statsUser = b.mid(4);
                stats = true;
            }
        }
        return counts && stats;
    }

private slots:
    void initTestCase()
    {
        fake = std::make_unique<FakeCentralServer>();
        qputenv("MARROWBY_SERVER", fake->Address().toUtf8());
        manager = MakeShareManager();
        settings.Set("username", "me");
        settings.Set("password", "pw");
    }
    void cleanupTestCase() { delete manager; }

    void countsAndSpeed()
    {
        quint32 folders = 99, files = 99;
        QByteArray user;
        QVERIFY(Login(folders, files, user));
        QCOMPARE(folders, 0u);
        QCOMPARE(files, 0u);
        QCOMPARE(user, QByteArray("me"));

        for (const char* name : { "a/cover.jpg", "a/one.mp3", "b/cover.jpg", "b/two.mp3", "top.txt" })
            WriteFile(dir.filePath(QStringLiteral("share/") + name));
        manager->AddSharedFolder(dir.filePath("share"));
        QVERIFY(WaitForScans(manager));
        QVERIFY(Login(folders, files, user));
        QCOMPARE(folders, 3u);
        QCOMPARE(files, 5u);

        // A folder leaves the disk: its files are not counted any more, also
        // those named like files still shared.
        QVERIFY(QDir(dir.filePath("share/b")).removeRecursively());
        QSignalSpy rescanned(manager, &SharedFoldersManager::SharedFilesRescanned);
        manager->RescanShares();
        QVERIFY(WaitForScans(manager));
        QVERIFY(Login(folders, files, user));
        QCOMPARE(folders, 2u);
        QCOMPARE(files, 3u);

        // While logged in, the server hears the counts as they change: a
        // newly shared folder, then that folder unshared, whose files leave
        // the index at once.
        auto nextCounts = [this](quint32& folders, quint32& files) {
            bool counts = false;
            for (const WireFrame& frame : fake->Drain(500)) {
                if (frame.code == 35 && frame.body.size() == 8) {
                    folders = qFromLittleEndian<quint32>(frame.body.constData());
                    files = qFromLittleEndian<quint32>(frame.body.constData() + 4);
                    counts = true;
                }
            }
            return counts;
        };
        WriteFile(dir.filePath("other/x.txt"));
        WriteFile(dir.filePath("other/y.txt"));
        WriteFile(dir.filePath("share/a/also in other.txt"));
        manager->AddSharedFolder(dir.filePath("other"));
        ItemPtr nested = manager->AddSharedFolder(dir.filePath("share/a"));
        QVERIFY(WaitForScans(manager));
        QVERIFY(nextCounts(folders, files));
        QCOMPARE(folders, 3u);
        QCOMPARE(files, 6u);
        d.GetType("shared_folder")->HasItem(Value(dir.filePath("other"))).Remove();
        QVERIFY(!manager->GetSharedFileItem(dir.filePath("other/x.txt")));
        QCOMPARE(d.GetType("shared_file")->Count(), size_t(4));
        QVERIFY(nextCounts(folders, files));
        QCOMPARE(folders, 2u);
        QCOMPARE(files, 4u);
        // A folder that another shared folder holds stays.
        nested.Remove();
        QVERIFY(manager->GetSharedFileItem(dir.filePath("share/a/one.mp3")));
        QCOMPARE(d.GetType("shared_file")->Count(), size_t(4));

        // The own statistics set the upload speed; another user's do not,
        // even one whose name differs only in letter case.
        fake->Send(36, WireWriter().str("ME").stats(5, 1, 1, 1));
        fake->Send(36, WireWriter().str("me").stats(777, 1, 1, 1));
        QTRY_COMPARE(settings.GetInt("upload_speed"), 777);
        fake->Send(36, WireWriter().str("ME").stats(5, 1, 1, 1));
        QTest::qWait(100);
        QCOMPARE(settings.GetInt("upload_speed"), 777);
    }

    // Searches still waiting at a logout are answered by nobody, not after
    // the next login either, when the user may go by another name.
    void searchesWaitingAtLogoutAreDropped()
    {
        quint32 folders = 0, files = 0;
        QByteArray user;
        QVERIFY(Login(folders, files, user));
        for (int i = 0; i < 3; ++i)
            WriteFile(dir.filePath(QStringLiteral("tunes/logout song %1.mp3").arg(i)));
        manager->AddSharedFolder(dir.filePath("tunes"));
        QVERIFY(WaitForScans(manager));
        int processed = 0;
        const auto logout = connect(manager, &SharedFoldersManager::SearchProcessed, this, [&] {
            if (processed++ == 0) {
                settings.Set("username", "renamed");
                gp_server->Disconnect();
            }
        });
        QByteArray searches;
        for (quint32 i = 0; i < 20; ++i)
            searches += EncodeFrame(26, WireWriter().str("asker").u32(i).str("logout song").data());
        fake->SendRaw(searches);
        QTRY_COMPARE(processed, 1);
        QVERIFY(Login(folders, files, user));
        QCOMPARE(user, QByteArray("renamed"));
        QTest::qWait(300);
        QCOMPARE(processed, 1);
        disconnect(logout);
        settings.Set("username", "me");
    }
};

QTEST_GUILESS_MAIN(TestShareLogin)
#include "tst_sharelogin.moc"
