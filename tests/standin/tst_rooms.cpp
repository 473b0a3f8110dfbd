// Public and private rooms on the stand-in server.

#include "helper_standin.h"

#include <QTest>

namespace {

struct JoinAnswer {
    QString room;
    QStringList users;
    QList<quint32> statuses;
    QString owner;
    QStringList operators;
    bool ok = false;
};

JoinAnswer readJoin(const QByteArray& body, bool isPrivate)
{
    Fields f(body);
    JoinAnswer answer;
    answer.room = f.str();
    answer.users = f.strList();
    const quint32 n = quint32(answer.users.size());
    if (f.u32() != n)
        return answer;
    for (quint32 i = 0; i < n; ++i)
        answer.statuses.append(f.u32());
    if (f.u32() != n)
        return answer;
    for (quint32 i = 0; i < n; ++i) {
        f.u32();
        f.u64();
        f.u32();
        f.u32();
    }
    if (f.u32() != n)
        return answer;
    for (quint32 i = 0; i < n; ++i)
        f.u32();
    if (f.u32() != n)
        return answer;
    for (quint32 i = 0; i < n; ++i)
        f.str();
    if (isPrivate) {
        answer.owner = f.str();
        answer.operators = f.strList();
    }
    answer.ok = f.ok() && f.atEnd();
    return answer;
}

QPair<QString, QString> roomAndUser(const std::optional<QByteArray>& body)
{
    Fields f(body.value_or(QByteArray()));
    const QString room = f.str();
    return { room, f.str() };
}

}

class TestStandinRooms : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void joinChatAndLeaveAPublicRoom();
    void tickersReachMembersAndLateJoiners();
    void privateRoomOwnerMembersAndOperators();
    void ownerGivingUpDissolvesTheRoom();

private:
    StandinProcess m_server;
};

void TestStandinRooms::initTestCase()
{
    QVERIFY(m_server.start());
}

void TestStandinRooms::joinChatAndLeaveAPublicRoom()
{
    auto ann = loggedIn(m_server.port(), "ann");
    auto ben = loggedIn(m_server.port(), "ben");
    QVERIFY(ann && ben);
    ann->send(14, Body().str("music").u32(0));
    JoinAnswer first = readJoin(*ann->waitFor(14), false);
    QVERIFY(first.ok);
    QCOMPARE(first.users, QStringList { "ann" });
    QVERIFY(ann->waitFor(113));

    ben->send(28, Body().u32(1));
    ben->send(14, Body().str("music").u32(0));
    JoinAnswer second = readJoin(*ben->waitFor(14), false);
    QVERIFY(second.ok);
    QCOMPARE(second.users, (QStringList { "ann", "ben" }));
    QCOMPARE(second.statuses, (QList<quint32> { 2, 1 }));
    Fields joined(*ann->waitFor(16));
    QCOMPARE(joined.str(), QString("music"));
    QCOMPARE(joined.str(), QString("ben"));
    QCOMPARE(joined.u32(), 1u);
    QVERIFY(ben->nothing(16));

    // Chat reaches every member, the sender included; outsiders cannot talk.
    ben->send(13, Body().str("music").str("hi all"));
    for (RawClient* client : { ann.get(), ben.get() }) {
        Fields line(*client->waitFor(13));
        QCOMPARE(line.str(), QString("music"));
        QCOMPARE(line.str(), QString("ben"));
        QCOMPARE(line.str(), QString("hi all"));
    }
    auto outsider = loggedIn(m_server.port(), "outsider");
    QVERIFY(outsider);
    outsider->send(13, Body().str("music").str("spam"));
    QVERIFY(ann->nothing(13));

    // The room list comes with the login, unasked, and counts the users present.
    Fields list(*outsider->waitFor(64));
    QCOMPARE(list.strList(), QStringList { "music" });
    QCOMPARE(list.u32(), 1u);
    QCOMPARE(list.u32(), 2u);
    for (int i = 0; i < 2; ++i) {
        QCOMPARE(list.strList(), QStringList());
        QCOMPARE(list.u32(), 0u);
    }
    QCOMPARE(list.strList(), QStringList());
    QVERIFY(list.ok() && list.atEnd());

    ben->send(15, Body().str("music"));
    Fields left(*ben->waitFor(15));
    QCOMPARE(left.str(), QString("music"));
    QCOMPARE(roomAndUser(ann->waitFor(17)), qMakePair(QString("music"), QString("ben")));
    // A member who drops off is reported as leaving too.
    ben->send(14, Body().str("music").u32(0));
    QVERIFY(ann->waitFor(16));
    ben.reset();
    QCOMPARE(roomAndUser(ann->waitFor(17)), qMakePair(QString("music"), QString("ben")));

    // A public room goes away with its last user.
    ann->send(15, Body().str("music"));
    QVERIFY(ann->waitFor(15));
    outsider->send(64);
    Fields empty(*outsider->waitFor(64));
    QCOMPARE(empty.strList(), QStringList());
}

void TestStandinRooms::tickersReachMembersAndLateJoiners()
{
    auto tom = loggedIn(m_server.port(), "tom");
    auto tim = loggedIn(m_server.port(), "tim");
    QVERIFY(tom && tim);
    tom->send(14, Body().str("walls").u32(0));
    QVERIFY(tom->waitFor(113));
    tom->send(116, Body().str("walls").str("my ticker"));
    Fields added(*tom->waitFor(114));
    QCOMPARE(added.str(), QString("walls"));
    QCOMPARE(added.str(), QString("tom"));
    QCOMPARE(added.str(), QString("my ticker"));

    tim->send(14, Body().str("walls").u32(0));
    QVERIFY(tim->waitFor(14));
    Fields tickers(*tim->waitFor(113));
    QCOMPARE(tickers.str(), QString("walls"));
    QCOMPARE(tickers.u32(), 1u);
    QCOMPARE(tickers.str(), QString("tom"));
    QCOMPARE(tickers.str(), QString("my ticker"));

    tom->send(116, Body().str("walls").str(""));
    QCOMPARE(roomAndUser(tim->waitFor(115)), qMakePair(QString("walls"), QString("tom")));
    QCOMPARE(roomAndUser(tom->waitFor(115)), qMakePair(QString("walls"), QString("tom")));
}

void TestStandinRooms::privateRoomOwnerMembersAndOperators()
{
    auto owner = loggedIn(m_server.port(), "owner");
    auto mia = loggedIn(m_server.port(), "mia");
    QVERIFY(mia->waitFor(64)); // the list every login brings
    auto ned = loggedIn(m_server.port(), "ned");
    auto shy = loggedIn(m_server.port(), "shy");
    QVERIFY(owner && mia && ned && shy);

    owner->send(14, Body().str("secret").u32(1));
    JoinAnswer created = readJoin(*owner->waitFor(14), true);
    QVERIFY(created.ok);
    QCOMPARE(created.owner, QString("owner"));
    // A stranger cannot get in, nor take the name for a public room.
    mia->send(14, Body().str("secret").u32(0));
    QCOMPARE(Fields(*mia->waitFor(1003)).str(), QString("secret"));
    // Nor can a public room's name be taken for a private one.
    ned->send(14, Body().str("open").u32(0));
    QVERIFY(ned->waitFor(14));
    mia->send(14, Body().str("open").u32(1));
    QCOMPARE(Fields(*mia->waitFor(1003)).str(), QString("open"));

    owner->send(134, Body().str("secret").str("mia"));
    QCOMPARE(Fields(*mia->waitFor(139)).str(), QString("secret"));
    QCOMPARE(roomAndUser(owner->waitFor(134)), qMakePair(QString("secret"), QString("mia")));
    Fields members(*mia->waitFor(133));
    QCOMPARE(members.str(), QString("secret"));
    QCOMPARE(members.strList(), QStringList { "mia" });
    mia->send(14, Body().str("secret").u32(0));
    JoinAnswer inside = readJoin(*mia->waitFor(14), true);
    QVERIFY(inside.ok);
    QCOMPARE(inside.users, (QStringList { "owner", "mia" }));

    // A plain member cannot add anyone; an operator can.
    mia->send(134, Body().str("secret").str("ned"));
    QVERIFY(ned->nothing(139));
    owner->send(143, Body().str("secret").str("mia"));
    QCOMPARE(Fields(*mia->waitFor(145)).str(), QString("secret"));
    QCOMPARE(roomAndUser(owner->waitFor(143)), qMakePair(QString("secret"), QString("mia")));
    mia->send(134, Body().str("secret").str("ned"));
    QCOMPARE(Fields(*ned->waitFor(139)).str(), QString("secret"));
    Fields operators(*ned->waitFor(148));
    QCOMPARE(operators.str(), QString("secret"));
    QCOMPARE(operators.strList(), QStringList { "mia" });

    // Whoever turned invitations off cannot be added.
    shy->send(141, Body().boolean(false));
    Fields echoed(*shy->waitFor(141));
    QCOMPARE(echoed.boolean(), false);
    owner->send(134, Body().str("secret").str("shy"));
    QVERIFY(shy->nothing(139));

    // The room list sorts the rooms by the asker's part in them.
    mia->send(64);
    Fields list(*mia->waitFor(64));
    QCOMPARE(list.strList(), QStringList { "open" });
    list.u32();
    list.u32();
    QCOMPARE(list.strList(), QStringList()); // owned
    QCOMPARE(list.u32(), 0u);
    QCOMPARE(list.strList(), QStringList { "secret" });
    QCOMPARE(list.u32(), 1u);
    QCOMPARE(list.u32(), 2u);
    QCOMPARE(list.strList(), QStringList { "secret" }); // operated
    QVERIFY(list.ok() && list.atEnd());

    // An operator cannot remove another operator; the owner can, and the
    // removed one is sent out of the room.
    owner->send(143, Body().str("secret").str("ned"));
    QVERIFY(ned->waitFor(145));
    ned->send(135, Body().str("secret").str("mia"));
    QVERIFY(mia->nothing(140));
    owner->send(135, Body().str("secret").str("mia"));
    QCOMPARE(Fields(*mia->waitFor(146)).str(), QString("secret"));
    QCOMPARE(Fields(*mia->waitFor(140)).str(), QString("secret"));
    QCOMPARE(Fields(*mia->waitFor(15)).str(), QString("secret"));
    QCOMPARE(roomAndUser(owner->waitFor(17)), qMakePair(QString("secret"), QString("mia")));
    QCOMPARE(roomAndUser(ned->waitFor(135)), qMakePair(QString("secret"), QString("mia")));
    QCOMPARE(roomAndUser(owner->waitFor(135)), qMakePair(QString("secret"), QString("mia")));
    mia->send(14, Body().str("secret").u32(0));
    QVERIFY(mia->waitFor(1003));

    owner->send(144, Body().str("secret").str("ned"));
    QCOMPARE(Fields(*ned->waitFor(146)).str(), QString("secret"));
    ned->send(136, Body().str("secret"));
    QCOMPARE(Fields(*ned->waitFor(140)).str(), QString("secret"));
    QCOMPARE(roomAndUser(owner->waitFor(135)), qMakePair(QString("secret"), QString("ned")));

    // Membership outlives a logout: the lists come again at login.
    owner->send(134, Body().str("secret").str("mia"));
    QVERIFY(mia->waitFor(139));
    mia = loggedIn(m_server.port(), "mia");
    QVERIFY(mia);
    Fields again(*mia->waitFor(133));
    QCOMPARE(again.str(), QString("secret"));
    QCOMPARE(again.strList(), QStringList { "mia" });
    QVERIFY(mia->waitFor(148));
}

void TestStandinRooms::ownerGivingUpDissolvesTheRoom()
{
    auto boss = loggedIn(m_server.port(), "boss");
    auto guest = loggedIn(m_server.port(), "guest");
    QVERIFY(boss && guest);
    boss->send(14, Body().str("club").u32(1));
    QVERIFY(boss->waitFor(14));
    boss->send(134, Body().str("club").str("guest"));
    QVERIFY(guest->waitFor(139));
    guest->send(14, Body().str("club").u32(0));
    QVERIFY(guest->waitFor(14));

    // Only the owner may give it up.
    guest->send(137, Body().str("club"));
    QVERIFY(boss->nothing(140));
    boss->send(137, Body().str("club"));
    for (RawClient* client : { boss.get(), guest.get() }) {
        QCOMPARE(Fields(*client->waitFor(140)).str(), QString("club"));
        QCOMPARE(Fields(*client->waitFor(15)).str(), QString("club"));
    }
    // The name is free again, for anyone.
    guest->send(14, Body().str("club").u32(0));
    JoinAnswer reopened = readJoin(*guest->waitFor(14), false);
    QVERIFY(reopened.ok);
    QCOMPARE(reopened.users, QStringList { "guest" });
}

QTEST_GUILESS_MAIN(TestStandinRooms)
#include "tst_rooms.moc"
