// Two headless clients and the stand-in server: one shares a real folder, the
// other searches it, browses it and asks for one folder; what the sharer's
// disk holds is what the searcher sees.
#include "helper_peers.h"
#include "helper_shares.h"
#include <QDir>
#include <QtTest>

class EndToEnd : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString root;

private slots:
    void initTestCase()
    {
        root = dir.filePath("Shared Music");
        WriteFile(root + "/Boards of Canada/Roygbiv.mp3", QByteArray(4321, 'r'));
        WriteFile(root + "/Boards of Canada/Dayvan Cowboy.mp3", QByteArray(10, 'd'));
        WriteFile(root + "/Other/Roygbiv (live).flac", QByteArray(7, 'f'));
        WriteFile(root + "/Other/notes.txt", "n");
    }

    void searchBrowseAndFolder()
    {
        StandinServer server;
        DriverProcess alice, bob;
        QVERIFY(server.Start());
        QVERIFY(alice.Start(QStringLiteral("alice"), server.Port()));
        QVERIFY(bob.Start(QStringLiteral("bob"), server.Port()));
        alice.Send(QStringLiteral("share-folder ") + root);
        alice.Send(QStringLiteral("wait-shares"));
        QCOMPARE(alice.WaitFor(QStringLiteral("shares-ready")), QStringLiteral("shares-ready 4"));

        // A search that two files answer.
        bob.Send(QStringLiteral("search roygbiv"));
        const QString started = bob.WaitFor(QStringLiteral("search-started"));
        QVERIFY(!started.isEmpty());
        const QString ticket = started.section(u' ', 1, 1);
        QCOMPARE(bob.WaitFor(QStringLiteral("search-results")),
            QStringLiteral("search-results %1 alice 2").arg(ticket));
        QVERIFY(!alice.WaitFor(QStringLiteral("search-processed 1 roygbiv")).isEmpty());
        QVERIFY(bob.Sync());
        QString expected = root + "/Boards of Canada/Roygbiv.mp3";
        expected.replace(u'/', u'\\');
        QVERIFY2(bob.HasLine(QStringLiteral("search-result %1 alice 4321 %2").arg(ticket, expected)),
            qPrintable(bob.Lines().join(u'\n')));

        // A word only above the shared folder answers nothing.
        bob.Send(QStringLiteral("search ") + dir.path().section(u'/', -1));
        QVERIFY(!bob.WaitFor(QStringLiteral("search-started")).isEmpty());
        QVERIFY(!alice.WaitFor(QStringLiteral("search-processed 0")).isEmpty());

        // The whole share.
        bob.Send(QStringLiteral("get-shares alice"));
        QCOMPARE(bob.WaitFor(QStringLiteral("user-share alice")), QStringLiteral("user-share alice 3 4"));

        // One folder: the reply (code 37) arrives.
        QString folder = root + "/Other";
        folder.replace(u'/', u'\\');
        bob.Send(QStringLiteral("folder-request alice 9 ") + folder);
        QVERIFY(!alice.WaitFor(QStringLiteral("folder-requested bob 9")).isEmpty());
        QVERIFY(!bob.WaitFor(QStringLiteral("message-from alice 37")).isEmpty());

        // A file deleted on disk is gone after a rescan, for searches too.
        QVERIFY(QFile::remove(root + "/Other/Roygbiv (live).flac"));
        alice.Send(QStringLiteral("rescan"));
        QCOMPARE(alice.WaitFor(QStringLiteral("rescanned")), QStringLiteral("rescanned 0 1"));
        bob.Send(QStringLiteral("search roygbiv"));
        const QString again = bob.WaitFor(QStringLiteral("search-started"));
        QCOMPARE(bob.WaitFor(QStringLiteral("search-results")),
            QStringLiteral("search-results %1 alice 1").arg(again.section(u' ', 1, 1)));
    }
};

QTEST_GUILESS_MAIN(EndToEnd)
#include "tst_endtoend.moc"
