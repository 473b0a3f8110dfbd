// Two and three headless clients and the stand-in server on loopback: what
// one user's client sends, the other's shows.
#include "helper_peers.h"
#include "helper_wirefixtures.h"
#include "peers/PeerMessages.h"
#include <QElapsedTimer>
#include <QtTest>
#include <sys/resource.h>

class EndToEnd : public QObject {
    Q_OBJECT

    // alice and bob logged in to a fresh server started with the arguments.
    bool StartPair(StandinServer& server, DriverProcess& alice, DriverProcess& bob,
        const QStringList& serverArgs, const QStringList& aliceArgs = {}, const QStringList& bobArgs = {})
    {
        return server.Start(serverArgs) && alice.Start(QStringLiteral("alice"), server.Port(), aliceArgs)
            && bob.Start(QStringLiteral("bob"), server.Port(), bobArgs);
    }

    // A message each way: alice asks bob's information, bob answers.
    void ExchangeUserInfo(DriverProcess& alice, DriverProcess& bob)
    {
        alice.Send(QStringLiteral("user-info bob"));
        QVERIFY(!bob.WaitFor(QStringLiteral("user-info-requested alice")).isEmpty());
        bob.Send(QStringLiteral("send-user-info alice 3 2 1 hello from bob"));
        QCOMPARE(alice.WaitFor(QStringLiteral("user-info bob")),
            QStringLiteral("user-info bob 3 2 1 -1 hello from bob"));
        bob.Send(QStringLiteral("send alice 4242 ping"));
        QCOMPARE(alice.WaitFor(QStringLiteral("message-from bob 4242")),
            QStringLiteral("message-from bob 4242 12"));
    }

private slots:
    void messagesBothWaysDirectly()
    {
        StandinServer server;
        DriverProcess alice, bob;
        QVERIFY(StartPair(server, alice, bob, {}));
        ExchangeUserInfo(alice, bob);
        // Several messages queued before the connection opens arrive in order.
        bob.Send(QStringLiteral("send carol 1 x")); // unknown user: fails, harmless
        for (int i = 0; i < 5; ++i)
            alice.Send(QStringLiteral("send bob %1 n").arg(1000 + i));
        for (int i = 0; i < 5; ++i)
            QVERIFY(!bob.WaitFor(QStringLiteral("message-from alice %1").arg(1000 + i)).isEmpty());
        const QStringList lines = bob.Lines().filter(QStringLiteral("message-from alice 10"));
        QCOMPARE(lines.size(), 5);
        for (int i = 0; i < 5; ++i)
            QVERIFY(lines[i].startsWith(QStringLiteral("message-from alice %1").arg(1000 + i)));
    }

    void onlyTheBrokeredWayWorks()
    {
        // The server gives bob's address with a dead port: alice can reach
        // bob only by having bob connect to her.
        StandinServer server;
        DriverProcess alice, bob;
        QVERIFY(StartPair(server, alice, bob, { QStringLiteral("--wrong-port"), QStringLiteral("bob") }));
        ExchangeUserInfo(alice, bob);
        QVERIFY(!alice.HasLine(QStringLiteral("connection-failed")));
    }

    void failureIsReportedWhenNeitherWayWorks()
    {
        StandinServer server;
        DriverProcess alice;
        QVERIFY(server.Start());
        QVERIFY(alice.Start(QStringLiteral("alice"), server.Port()));
        alice.Send(QStringLiteral("user-info nobody"));
        alice.Send(QStringLiteral("send nobody 99"));
        QCOMPARE(
            alice.WaitFor(QStringLiteral("connection-failed")), QStringLiteral("connection-failed nobody P"));
        // One attempt for both messages; they wait out their 300 seconds.
        QVERIFY(alice.Sync());
        QCOMPARE(alice.Lines().filter(QStringLiteral("connection-failed")).size(), 1);
        alice.Send(QStringLiteral("connections nobody"));
        QVERIFY(alice.WaitFor(QStringLiteral("connections")).endsWith(QStringLiteral("nobody none 2")));
        alice.Send(QStringLiteral("expire 301"));
        alice.Send(QStringLiteral("connections nobody"));
        QVERIFY(alice.WaitFor(QStringLiteral("connections")).endsWith(QStringLiteral("nobody none 0")));
    }

    void fileConnectionIsHandedOverWithItsRequestNumber_data()
    {
        QTest::addColumn<QStringList>("serverArgs");
        QTest::newRow("direct") << QStringList();
        QTest::newRow("brokered") << QStringList { QStringLiteral("--wrong-port"), QStringLiteral("bob") };
    }
    void fileConnectionIsHandedOverWithItsRequestNumber()
    {
        QFETCH(QStringList, serverArgs);
        StandinServer server;
        DriverProcess alice, bob;
        const QStringList raw { QStringLiteral("--raw-files") };
        QVERIFY(StartPair(server, alice, bob, serverArgs, raw, raw));
        alice.Send(QStringLiteral("file-connect bob 3735928559"));
        QVERIFY(!alice.WaitFor(QStringLiteral("file-connection-accepted bob")).isEmpty());
        // Exactly the 4 bytes were read; nothing else was taken from the socket.
        QCOMPARE(bob.WaitFor(QStringLiteral("file-connection-requested")),
            QStringLiteral("file-connection-requested alice 3735928559 0"));
    }

    void obfuscatedPortEndToEnd()
    {
        StandinServer server;
        DriverProcess alice, bob;
        // Both connect to obfuscated ports, so whichever way wins, every
        // messaging connection between them is obfuscated (the tree's
        // connection to a possible parent uses the plain port the server
        // names).
        const QStringList obfuscated { QStringLiteral("--prefer-obfuscated") };
        QVERIFY(StartPair(server, alice, bob, {}, obfuscated, obfuscated));
        ExchangeUserInfo(alice, bob);
        bob.Send(QStringLiteral("connections alice"));
        const QStringList words = bob.WaitFor(QStringLiteral("connections")).split(QLatin1Char(' '));
        QVERIFY2(words.value(3).toInt() >= 1, qPrintable(words.join(' ')));
        QCOMPARE(words.value(5), QStringLiteral("open"));
    }

    void searchReachesAGrandchildThroughTheTree()
    {
        // Searches reach users only through the branch roots (code 93).
        StandinServer server;
        QVERIFY(server.Start({ QStringLiteral("--tree-only") }));
        DriverProcess alice, bob, carol;
        QVERIFY(alice.Start(QStringLiteral("alice"), server.Port()));
        QVERIFY(bob.Start(QStringLiteral("bob"), server.Port()));
        QVERIFY(!bob.WaitFor(QStringLiteral("tree-parent alice")).isEmpty());
        // carol must take bob: alice takes no more children for a moment.
        // The server must have heard it before carol asks for parents, and
        // nothing orders alice's connection against carol's: a reply to a
        // later request of alice's shows that the server got this far.
        QVERIFY(!alice.WaitFor(QStringLiteral("privileges ")).isEmpty()); // the login's
        alice.Send(QStringLiteral("accept-children no"));
        alice.Send(QStringLiteral("privileges"));
        QVERIFY(!alice.WaitFor(QStringLiteral("privileges ")).isEmpty());
        QVERIFY(carol.Start(QStringLiteral("carol"), server.Port()));
        QVERIFY(!carol.WaitFor(QStringLiteral("tree-parent bob")).isEmpty());
        alice.Send(QStringLiteral("accept-children yes"));
        carol.Send(QStringLiteral("tree"));
        QCOMPARE(carol.WaitFor(QStringLiteral("tree ")), QStringLiteral("tree bob 2 alice -"));
        bob.Send(QStringLiteral("tree"));
        QCOMPARE(bob.WaitFor(QStringLiteral("tree ")), QStringLiteral("tree alice 1 alice carol"));

        alice.Send(QStringLiteral("search deep needle"));
        const QString started = alice.WaitFor(QStringLiteral("search-started"));
        const QString token = started.split(QLatin1Char(' ')).value(1);
        QCOMPARE(carol.WaitFor(QStringLiteral("dnet-search")),
            QStringLiteral("dnet-search alice %1 deep needle").arg(token));
        QCOMPARE(bob.WaitFor(QStringLiteral("dnet-search")),
            QStringLiteral("dnet-search alice %1 deep needle").arg(token));

        // A grandchild's reply travels back directly as a search result.
        carol.Send(QStringLiteral("send-search-result alice %1 1234 \\music\\deep needle.mp3").arg(token));
        QCOMPARE(alice.WaitFor(QStringLiteral("search-result ")),
            QStringLiteral("search-result %1 carol 1234 \\music\\deep needle.mp3").arg(token));

        // When bob goes, carol looks again and finds alice.
        bob.Stop();
        QVERIFY(!carol.WaitFor(QStringLiteral("tree-parent-lost bob")).isEmpty());
        QVERIFY(!carol.WaitFor(QStringLiteral("tree-parent alice")).isEmpty());
    }

    void aClientAtItsFileLimitKeepsServing()
    {
        // alice may open 1,024 files. 1,100 strangers connect to her and
        // stay, and the server asks her 3,000 times to connect to a port
        // that never answers; bob still gets her answers.
        rlimit limit {}; // this process holds the strangers
        getrlimit(RLIMIT_NOFILE, &limit);
        limit.rlim_cur = limit.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur < 2048)
            QSKIP("This test needs 2,048 open files");
        StandinServer server;
        DriverProcess alice, bob;
        alice.RunUnder(
            { QStringLiteral("prlimit"), QStringLiteral("--nofile=1024:1024"), QStringLiteral("--") });
        QVERIFY(StartPair(server, alice, bob, {}));
        std::vector<std::unique_ptr<RawPeer>> strangers;
        for (int i = 0; i < 1100; ++i) {
            strangers.push_back(std::make_unique<RawPeer>());
            QVERIFY(strangers.back()->Connect(alice.Port()));
            strangers.back()->SendFrame(PeerInitBody(QStringLiteral("s%1").arg(i), QStringLiteral("P"), 0));
        }
        DeadPort dead;
        QTcpSocket mallory;
        QVERIFY(LoginRaw(mallory, server.Port(), QStringLiteral("mallory"), dead.Port()));
        QByteArray requests;
        for (quint32 token = 1; token <= 3000; ++token)
            requests += Framed(U32(18) + U32(token) + U32(5) + "alice" + U32(1) + "P");
        mallory.write(requests);
        QVERIFY(mallory.waitForBytesWritten(5000));
        ExchangeUserInfo(alice, bob);
        alice.Send(QStringLiteral("connections"));
        QVERIFY(alice.WaitFor(QStringLiteral("connections")).split(QLatin1Char(' ')).value(1).toInt() < 512);
    }

    void aFloodFromOnePeerLeavesAnotherServed()
    {
        // One peer sends a million queue requests (and reads what comes back);
        // another's search reply, sent into the flood, is shown within turns.
        StandinServer server;
        DriverProcess drv;
        QVERIFY(server.Start() && drv.Start(QStringLiteral("drv"), server.Port()));
        drv.Send(QStringLiteral("search flood answer"));
        const QString ticket = drv.WaitFor(QStringLiteral("search-started")).split(QLatin1Char(' ')).value(1);
        RawPeer flooder, replier;
        QVERIFY(flooder.Connect(drv.Port()) && replier.Connect(drv.Port()));
        flooder.SendFrame(PeerInitBody(QStringLiteral("flooder"), QStringLiteral("P"), 0));
        replier.SendFrame(PeerInitBody(QStringLiteral("replier"), QStringLiteral("P"), 0));
        flooder.SendRaw(Framed(FixtureBytes(Fixture::kQueueUpload)).repeated(1000000));
        QElapsedTimer clock;
        for (clock.start(); clock.elapsed() < 500; flooder.Socket().readAll())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        SearchReply reply;
        reply.user = "replier";
        reply.ticket = ticket.toUInt();
        reply.files.resize(1);
        reply.files[0].name = "a\\b.mp3";
        clock.restart();
        replier.SendFrame(EncodeSearchReply(reply).GetBuffer());
        QString shown;
        while (shown.isEmpty() && clock.elapsed() < 30000) {
            shown = drv.WaitFor(QStringLiteral("search-results"), 10);
            flooder.Socket().readAll();
        }
        const qint64 waited = clock.elapsed();
        QCOMPARE(shown, QStringLiteral("search-results %1 replier 1").arg(ticket));
        // Turns, not the whole flood (tens of seconds before): a generous
        // bound for a busy machine.
        QVERIFY2(waited < 5000, qPrintable(QStringLiteral("%1 ms").arg(waited)));
        QVERIFY(flooder.Socket().bytesToWrite() > 0); // the flood was still coming
    }

    void repliesToStoppedSearchesAreDropped()
    {
        StandinServer server;
        DriverProcess alice, bob;
        QVERIFY(StartPair(server, alice, bob, {}));
        alice.Send(QStringLiteral("search old"));
        const QString token
            = alice.WaitFor(QStringLiteral("search-started")).split(QLatin1Char(' ')).value(1);
        alice.Send(QStringLiteral("stop-search %1").arg(token));
        bob.Send(QStringLiteral("send-search-result alice %1 10 \\a\\old.mp3").arg(token));
        bob.Send(QStringLiteral("send-search-result alice 7 10 \\a\\none.mp3")); // no such search
        bob.Send(QStringLiteral("send alice 5000 marker"));
        QVERIFY(!alice.WaitFor(QStringLiteral("message-from bob 5000")).isEmpty());
        QVERIFY(!alice.HasLine(QStringLiteral("search-result")));
        QCOMPARE(alice.Lines().filter(QStringLiteral("message-from bob 9 ")).size(), 2);

        // A reply of one record repeated 131,071 times to a live search: a
        // few hundred bytes sent, half a gigabyte once read. Alice refuses
        // it, naming bob, at little cost, and goes on.
        alice.Send(QStringLiteral("search new"));
        const QString live = alice.WaitFor(QStringLiteral("search-started")).split(QLatin1Char(' ')).value(1);
        ResetPeakResident(alice.Pid());
        const qint64 peak = PeakResidentKiB(alice.Pid());
        bob.Send(QStringLiteral("send-repeated-reply alice %1 4096 131071").arg(live));
        bob.Send(QStringLiteral("send alice 5001 marker"));
        QVERIFY(!alice.WaitFor(QStringLiteral("message-from bob 5001")).isEmpty());
        QVERIFY(QTest::qWaitFor([&] {
            alice.Send(QStringLiteral("log Peer Messenger"));
            return alice.Sync() && alice.HasLine(QStringLiteral("log Refused a search reply from bob: its 131072 results"));
        }, 20000));
        QVERIFY(PeakResidentKiB(alice.Pid()) - peak < 64 * 1024);
    }
};

QTEST_GUILESS_MAIN(EndToEnd)
#include "tst_endtoend.moc"
