// Login, refusals, relogging and privileges on the stand-in server.

#include "helper_standin.h"

#include <QCryptographicHash>
#include <QTest>

class TestStandinLogin : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void successfulLoginSendsItsAnswerThenPeriodPrivilegedAndMessage();
    void refusalsNameTheReasonAndClose();
    void secondLoginOfANameRelogsTheFirstConnection();
    void privilegesAreReportedAndGiftedFromTheGiver();

private:
    StandinProcess m_server;
};

void TestStandinLogin::initTestCase()
{
    QVERIFY(m_server.start({ "--motd", "hello there", "--wishlist-period", "300", "--privileged", "vip" }));
}

void TestStandinLogin::successfulLoginSendsItsAnswerThenPeriodPrivilegedAndMessage()
{
    RawClient client;
    QVERIFY(client.connectTo(m_server.port()));
    const QByteArray answer = client.login("alice", "sesame");
    Fields f(answer);
    QCOMPARE(f.boolean(), true);
    QVERIFY(!f.str().isEmpty());
    // 127.0.0.1 with its first octet as the most significant byte.
    QCOMPARE(answer.mid(answer.size() - 1 - 36 - 4, 4), QByteArray("\x01\x00\x00\x7f", 4));
    QCOMPARE(f.u32(), 0x7f000001u);
    QCOMPARE(f.str(), QCryptographicHash::hash("sesame", QCryptographicHash::Md5).toHex());
    QCOMPARE(f.boolean(), false);
    QVERIFY(f.ok() && f.atEnd());

    QTest::qWait(100);
    const QList<quint32> codes = client.pendingCodes();
    QCOMPARE(codes.mid(0, 3), (QList<quint32> { 104, 69, 66 }));
    Fields period(*client.waitFor(104));
    QCOMPARE(period.u32(), 300u);
    Fields privileged(*client.waitFor(69));
    QCOMPARE(privileged.strList(), QStringList { "vip" });
    Fields message(*client.waitFor(66));
    QCOMPARE(message.str(), QString("hello there"));

    // A privileged user is told so in its login answer.
    RawClient vip;
    QVERIFY(vip.connectTo(m_server.port()));
    Fields vipAnswer(vip.login("vip", "x"));
    QCOMPARE(vipAnswer.boolean(), true);
    vipAnswer.str();
    vipAnswer.u32();
    vipAnswer.str();
    QCOMPARE(vipAnswer.boolean(), true);
}

void TestStandinLogin::refusalsNameTheReasonAndClose()
{
    QVERIFY(loggedIn(m_server.port(), "bob", "secret"));

    const auto refused = [&](const QString& user, const QString& password, quint32 version) {
        RawClient client;
        if (!client.connectTo(m_server.port()))
            return QString("no connection");
        Fields f(client.login(user, password, version));
        const bool ok = f.boolean();
        const QString reason = f.str();
        if (ok || !f.ok() || !client.waitClosed())
            return QString("not refused");
        return reason;
    };
    QCOMPARE(refused("bob", "wrong", 157), QString("INVALIDPASS"));
    QCOMPARE(refused("bob", "secret", 156), QString("INVALIDVERSION"));
    QCOMPARE(refused("", "secret", 157), QString("INVALIDUSERNAME"));

    // The registered password still works, and a login frame cut short is
    // ignored rather than taken as a login.
    RawClient client;
    QVERIFY(client.connectTo(m_server.port()));
    client.send(1, Body().str("bob").str("secret"));
    QVERIFY(client.nothing(1));
    QVERIFY(client.isOpen());
    Fields f(client.login("bob", "secret"));
    QCOMPARE(f.boolean(), true);
}

void TestStandinLogin::secondLoginOfANameRelogsTheFirstConnection()
{
    auto watcher = loggedIn(m_server.port(), "dave");
    QVERIFY(watcher);
    auto first = loggedIn(m_server.port(), "carol");
    QVERIFY(first);
    watcher->send(5, Body().str("carol"));
    QVERIFY(watcher->waitFor(5));
    watcher->send(14, Body().str("lobby").u32(0));
    QVERIFY(watcher->waitFor(14));
    first->send(14, Body().str("lobby").u32(0));
    QVERIFY(first->waitFor(14));
    watcher->clear();

    auto second = loggedIn(m_server.port(), "carol");
    QVERIFY(second);
    QVERIFY(first->waitFor(41));
    QVERIFY(first->waitClosed());

    // The old connection's room presence goes; the user stays online.
    Fields left(*watcher->waitFor(17));
    QCOMPARE(left.str(), QString("lobby"));
    QCOMPARE(left.str(), QString("carol"));
    QVERIFY(watcher->nothing(7));
    watcher->send(7, Body().str("carol"));
    Fields status(*watcher->waitFor(7));
    QCOMPARE(status.str(), QString("carol"));
    QCOMPARE(status.u32(), 2u);

    // The new connection is served.
    second->send(36, Body().str("carol"));
    QVERIFY(second->waitFor(36));
    QVERIFY(second->isOpen());
}

void TestStandinLogin::privilegesAreReportedAndGiftedFromTheGiver()
{
    auto vip = loggedIn(m_server.port(), "vip", "x");
    auto erin = loggedIn(m_server.port(), "erin");
    QVERIFY(vip && erin);
    const auto secondsLeft = [](RawClient& client) {
        client.send(92);
        const auto answer = client.waitFor(92);
        return answer ? qint64(Fields(*answer).u32()) : -1;
    };
    const qint64 start = secondsLeft(*vip);
    QVERIFY(start > 29 * 86400 && start <= 30 * 86400);
    QCOMPARE(secondsLeft(*erin), 0);

    // Without privileges nothing can be given.
    erin->send(123, Body().str("vip").u32(1));
    QCOMPARE(secondsLeft(*erin), 0);
    vip->send(123, Body().str("erin").u32(2));
    const qint64 vipNow = secondsLeft(*vip);
    QVERIFY(vipNow <= start - 2 * 86400 && vipNow > start - 2 * 86400 - 5);
    const qint64 erinNow = secondsLeft(*erin);
    QVERIFY(erinNow > 2 * 86400 - 5 && erinNow <= 2 * 86400);

    // More than the giver has is refused whole.
    erin->send(123, Body().str("vip").u32(3));
    QVERIFY(secondsLeft(*erin) > 2 * 86400 - 5);
    // Nor can privileges go to a name that never logged in.
    vip->send(123, Body().str("nobody").u32(1));
    QVERIFY(secondsLeft(*vip) > vipNow - 5);

    // The privileged list after a new login names both.
    auto later = loggedIn(m_server.port(), "frank");
    QVERIFY(later);
    Fields list(*later->waitFor(69));
    QCOMPARE(list.strList(), (QStringList { "erin", "vip" }));
}

QTEST_GUILESS_MAIN(TestStandinLogin)
#include "tst_login.moc"
