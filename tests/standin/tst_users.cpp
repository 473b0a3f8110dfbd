// Watching users, statistics, private messages, peer addresses and brokered
// connections on the stand-in server.

#include "helper_standin.h"

#include <QDateTime>
#include <QTest>

class TestStandinUsers : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void watchersHearOfLoginAwayAndLogout();
    void statsCarrySharesAndSpeed();
    void privateMessagesAreKeptUntilAcknowledged();
    void peerAddressTellsPortsAndCanLie();
    void connectRequestsAreBrokeredBothWays();

private:
    StandinProcess m_server;
};

void TestStandinUsers::initTestCase()
{
    QVERIFY(m_server.start({ "--wrong-port", "liar" }));
}

void TestStandinUsers::watchersHearOfLoginAwayAndLogout()
{
    auto watcher = loggedIn(m_server.port(), "watcher");
    QVERIFY(watcher);
    watcher->send(5, Body().str("ghost"));
    Fields unknown(*watcher->waitFor(5));
    QCOMPARE(unknown.str(), QString("ghost"));
    QCOMPARE(unknown.boolean(), false);
    QVERIFY(unknown.atEnd());

    auto watched = loggedIn(m_server.port(), "watched");
    QVERIFY(watched);
    watcher->send(5, Body().str("watched"));
    Fields known(*watcher->waitFor(5));
    QCOMPARE(known.str(), QString("watched"));
    QCOMPARE(known.boolean(), true);
    QCOMPARE(known.u32(), 2u); // online
    known.u32();
    known.u64();
    known.u32();
    known.u32();
    QCOMPARE(known.str(), QString()); // country
    QVERIFY(known.ok() && known.atEnd());
    // A name that starts with U+FEFF (as the bytes EF BB BF) is another
    // user's name, and comes back as it was sent.
    watcher->send(5, Body().raw(QByteArray::fromHex("0a000000efbbbf77617463686564")));
    QCOMPARE(*watcher->waitFor(5), QByteArray::fromHex("0a000000efbbbf7761746368656400"));

    const auto nextStatus = [&] {
        const auto frame = watcher->waitFor(7);
        if (!frame)
            return quint32(99);
        Fields f(*frame);
        return f.str() == "watched" ? f.u32() : 98;
    };
    watched->send(28, Body().u32(1));
    QCOMPARE(nextStatus(), 1u);
    watched->send(28, Body().u32(1)); // no change, no news
    QVERIFY(watcher->nothing(7));
    watched->send(28, Body().u32(2));
    QCOMPARE(nextStatus(), 2u);
    watched.reset();
    QCOMPARE(nextStatus(), 0u);
    watched = loggedIn(m_server.port(), "watched");
    QCOMPARE(nextStatus(), 2u);

    // Once unwatched, changes go unreported.
    watcher->send(6, Body().str("watched"));
    watcher->send(7, Body().str("watched"));
    QCOMPARE(nextStatus(), 2u); // the answer to the question
    watched->send(28, Body().u32(1));
    QVERIFY(watcher->nothing(7));
}

void TestStandinUsers::statsCarrySharesAndSpeed()
{
    auto sharer = loggedIn(m_server.port(), "sharer");
    auto asker = loggedIn(m_server.port(), "asker");
    QVERIFY(sharer && asker);
    sharer->send(35, Body().u32(7).u32(1234));
    sharer->send(121, Body().u32(56789));
    sharer->send(36, Body().str("sharer")); // round trip: the above are in
    QVERIFY(sharer->waitFor(36));
    asker->send(36, Body().str("sharer"));
    Fields f(*asker->waitFor(36));
    QCOMPARE(f.str(), QString("sharer"));
    QCOMPARE(f.u32(), 56789u);
    QCOMPARE(f.u64(), 0u);
    QCOMPARE(f.u32(), 1234u);
    QCOMPARE(f.u32(), 7u);
    QVERIFY(f.ok() && f.atEnd());
}

void TestStandinUsers::privateMessagesAreKeptUntilAcknowledged()
{
    auto sender = loggedIn(m_server.port(), "sender");
    auto reader = loggedIn(m_server.port(), "reader");
    QVERIFY(sender && reader);
    const quint32 before = quint32(QDateTime::currentSecsSinceEpoch());
    sender->send(22, Body().str("reader").str("first"));
    sender->send(22, Body().str("reader").str("second"));
    Fields first(*reader->waitFor(22));
    const quint32 firstId = first.u32();
    QVERIFY(first.u32() >= before);
    QCOMPARE(first.str(), QString("sender"));
    QCOMPARE(first.str(), QString("first"));
    QCOMPARE(first.boolean(), true);
    Fields second(*reader->waitFor(22));
    const quint32 secondId = second.u32();
    QVERIFY(secondId > firstId);
    reader->send(23, Body().u32(secondId));
    // Acknowledging someone else's message does nothing.
    sender->send(23, Body().u32(firstId));
    sender->send(36, Body().str("x"));
    QVERIFY(sender->waitFor(36));

    // An unacknowledged message comes again at the next login, as not new;
    // one sent while offline is kept for the login too.
    reader->send(36, Body().str("x"));
    QVERIFY(reader->waitFor(36));
    reader.reset();
    sender->send(22, Body().str("reader").str("while away"));
    sender->send(36, Body().str("x"));
    QVERIFY(sender->waitFor(36));
    reader = loggedIn(m_server.port(), "reader");
    QVERIFY(reader);
    QStringList texts;
    quint32 awayId = 0;
    for (int i = 0; i < 2; ++i) {
        const auto frame = reader->waitFor(22);
        QVERIFY(frame);
        Fields f(*frame);
        const quint32 id = f.u32();
        f.u32();
        QCOMPARE(f.str(), QString("sender"));
        texts.append(f.str());
        QCOMPARE(f.boolean(), false);
        if (texts.last() == "while away")
            awayId = id;
    }
    QCOMPARE(texts, (QStringList { "first", "while away" }));
    QVERIFY(reader->nothing(22));
    reader->send(23, Body().u32(firstId));
    reader->send(23, Body().u32(awayId));
    reader->send(36, Body().str("x"));
    QVERIFY(reader->waitFor(36));
    reader = loggedIn(m_server.port(), "reader");
    QVERIFY(reader);
    QVERIFY(reader->nothing(22));
}

void TestStandinUsers::peerAddressTellsPortsAndCanLie()
{
    auto asker = loggedIn(m_server.port(), "addr-asker");
    auto honest = loggedIn(m_server.port(), "honest");
    auto liar = loggedIn(m_server.port(), "liar");
    QVERIFY(asker && honest && liar);
    honest->send(2, Body().u32(40001).u32(1).u32(40002));
    liar->send(2, Body().u32(40003).u32(1).u32(40004));
    honest->send(36, Body().str("x"));
    liar->send(36, Body().str("x"));
    QVERIFY(honest->waitFor(36) && liar->waitFor(36));

    const auto ask = [&](const QString& user) {
        asker->send(3, Body().str(user));
        return Fields(asker->waitFor(3).value_or(QByteArray()));
    };
    Fields h = ask("honest");
    QCOMPARE(h.str(), QString("honest"));
    QCOMPARE(h.u32(), 0x7f000001u);
    QCOMPARE(h.u32(), 40001u);
    QCOMPARE(h.u32(), 1u);
    QCOMPARE(h.u16(), quint16(40002));
    QVERIFY(h.ok() && h.atEnd());

    Fields l = ask("liar");
    QCOMPARE(l.str(), QString("liar"));
    QCOMPARE(l.u32(), 0x7f000001u);
    const quint32 port = l.u32();
    QVERIFY(port != 40003 && port != 0);
    l.u32();
    QVERIFY(l.u16() != 40004);

    Fields o = ask("offline-one");
    QCOMPARE(o.str(), QString("offline-one"));
    QCOMPARE(o.u32(), 0u);
    QCOMPARE(o.u32(), 0u);
    QVERIFY(o.ok());
}

void TestStandinUsers::connectRequestsAreBrokeredBothWays()
{
    auto a = loggedIn(m_server.port(), "broker-a");
    auto b = loggedIn(m_server.port(), "broker-b");
    QVERIFY(a && b);
    a->send(2, Body().u32(41000).u32(1).u32(41001));
    a->send(18, Body().u32(777).str("broker-b").str("P"));
    Fields request(*b->waitFor(18));
    QCOMPARE(request.str(), QString("broker-a"));
    QCOMPARE(request.str(), QString("P"));
    QCOMPARE(request.u32(), 0x7f000001u);
    QCOMPARE(request.u32(), 41000u);
    QCOMPARE(request.u32(), 777u);
    QCOMPARE(request.boolean(), false);
    QCOMPARE(request.u32(), 1u);
    QCOMPARE(request.u32(), 41001u);
    QVERIFY(request.ok() && request.atEnd());

    b->send(1001, Body().u32(777).str("broker-a"));
    Fields failed(*a->waitFor(1001));
    QCOMPARE(failed.u32(), 777u);
    QVERIFY(failed.atEnd());

    // Nobody to pass it to: the asker hears at once that it cannot work.
    a->send(18, Body().u32(778).str("not-here").str("F"));
    Fields offline(*a->waitFor(1001));
    QCOMPARE(offline.u32(), 778u);
    QVERIFY(b->nothing(18));
}

QTEST_GUILESS_MAIN(TestStandinUsers)
#include "tst_users.moc"
