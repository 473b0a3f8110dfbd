// The stand-in server keeps serving while some clients send garbage or vanish.

#include "helper_standin.h"

#include <QRandomGenerator>
#include <QTest>

class TestStandinRobustness : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void badFramesAreDroppedAndTheConnectionGoesOn();
    void hugeLengthClosesOnlyThatClient();
    void garbageAndVanishingClientsLeaveOthersServed();

private:
    bool steadyServed();
    StandinProcess m_server;
    std::unique_ptr<RawClient> m_steady;
};

void TestStandinRobustness::initTestCase()
{
    QVERIFY(m_server.start());
    m_steady = loggedIn(m_server.port(), "steady");
    QVERIFY(m_steady);
}

bool TestStandinRobustness::steadyServed()
{
    m_steady->send(36, Body().str("steady"));
    return m_steady->waitFor(36).has_value() && m_server.running();
}

void TestStandinRobustness::badFramesAreDroppedAndTheConnectionGoesOn()
{
    RawClient client;
    QVERIFY(client.connectTo(m_server.port()));
    QVERIFY(client.login("framer", "pw").startsWith('\x01'));
    client.clear();

    client.sendRaw(Body().u32(2).u8(0).u8(0).bytes); // no room for a code
    client.send(9999, QByteArray("junk"));
    client.send(5, Body().u32(0xfffffff0u)); // string running past the end
    QByteArray longName(200000, 'x');
    client.send(5, Body().u32(quint32(longName.size())).raw(longName)); // string above the limit
    client.send(14, Body().str("room")); // private flag missing
    client.send(64, QByteArray(10, '\xff')); // extra bytes are no harm
    QVERIFY(client.nothing(5));
    QVERIFY(client.nothing(14, 50));
    QVERIFY(client.waitFor(64));
    QVERIFY(client.isOpen());

    // A frame arriving a byte at a time is still one frame.
    Body frame;
    const QByteArray body = Body().str("framer").bytes;
    frame.u32(quint32(body.size() + 4)).u32(36).raw(body);
    for (char byte : frame.bytes) {
        client.sendRaw(QByteArray(1, byte));
        QTest::qWait(2);
    }
    Fields stats(*client.waitFor(36));
    QCOMPARE(stats.str(), QString("framer"));
    QVERIFY(steadyServed());
}

void TestStandinRobustness::hugeLengthClosesOnlyThatClient()
{
    m_steady->send(5, Body().str("greedy"));
    auto greedy = loggedIn(m_server.port(), "greedy");
    QVERIFY(greedy);
    m_steady->send(5, Body().str("greedy"));
    QVERIFY(m_steady->waitFor(5));
    m_steady->clear();

    greedy->sendRaw(Body().u32(0x7fffffffu).u32(13).bytes);
    QVERIFY(greedy->waitClosed());
    Fields gone(*m_steady->waitFor(7));
    QCOMPARE(gone.str(), QString("greedy"));
    QCOMPARE(gone.u32(), 0u);
    QVERIFY(steadyServed());
    QVERIFY(loggedIn(m_server.port(), "greedy"));
}

void TestStandinRobustness::garbageAndVanishingClientsLeaveOthersServed()
{
    QRandomGenerator random(20240611);
    for (int round = 0; round < 20; ++round) {
        RawClient noisy;
        QVERIFY(noisy.connectTo(m_server.port()));
        QByteArray junk(int(random.bounded(1, 4096)), Qt::Uninitialized);
        for (char& byte : junk)
            byte = char(random.bounded(256));
        if (round % 2 == 0) {
            // Plausible lengths and codes with junk inside.
            Body frame;
            frame.u32(quint32(junk.size() + 4)).u32(random.bounded(160u)).raw(junk);
            junk = frame.bytes;
        }
        noisy.sendRaw(junk);
        if (round % 3 == 0) {
            // Half a frame, then gone.
            noisy.sendRaw(Body().u32(100).u32(1).bytes);
        }
        QTest::qWait(5);
    }
    {
        auto member = loggedIn(m_server.port(), "vanisher");
        QVERIFY(member);
        member->send(14, Body().str("hall").u32(1));
        member->send(22, Body().str("steady").str("bye"));
        QVERIFY(member->waitFor(14));
    }
    QVERIFY(m_steady->waitFor(22));
    QVERIFY(steadyServed());
    auto newcomer = loggedIn(m_server.port(), "newcomer");
    QVERIFY(newcomer);
    newcomer->send(64);
    QVERIFY(newcomer->waitFor(64));
}

QTEST_GUILESS_MAIN(TestStandinRobustness)
#include "tst_robustness.moc"
