// Search relaying and the distributed tree on the stand-in server.

#include "helper_standin.h"

#include <QTest>

namespace {

struct Relayed {
    QString user;
    quint32 token = 0;
    QString query;
    bool operator==(const Relayed&) const = default;
};

Relayed relayed(const std::optional<QByteArray>& body)
{
    Fields f(body.value_or(QByteArray()));
    Relayed r;
    r.user = f.str();
    r.token = f.u32();
    r.query = f.str();
    return f.ok() && f.atEnd() ? r : Relayed {};
}

}

class TestStandinSearch : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void networkSearchesReachEveryoneButTheSearcher();
    void userAndRoomSearchesReachOnlyTheirTargets();
    void relatedSearchesAnswerTheQuery();
    void possibleParentsAreConnectedUsersTakingChildren();
    void treeOnlySearchesGoEmbeddedToBranchRoots();

private:
    StandinProcess m_server;
};

void TestStandinSearch::initTestCase()
{
    QVERIFY(m_server.start());
}

void TestStandinSearch::networkSearchesReachEveryoneButTheSearcher()
{
    auto a = loggedIn(m_server.port(), "sa");
    auto b = loggedIn(m_server.port(), "sb");
    auto c = loggedIn(m_server.port(), "sc");
    QVERIFY(a && b && c);
    a->send(26, Body().u32(5).str("abba gold"));
    const Relayed expected { "sa", 5, "abba gold" };
    QCOMPARE(relayed(b->waitFor(26)), expected);
    QCOMPARE(relayed(c->waitFor(26)), expected);
    QVERIFY(a->nothing(26));

    // Wish-list searches travel the same way.
    b->send(103, Body().u32(6).str("wished"));
    QCOMPARE(relayed(a->waitFor(26)), (Relayed { "sb", 6, "wished" }));
    QCOMPARE(relayed(c->waitFor(26)), (Relayed { "sb", 6, "wished" }));
    QVERIFY(b->nothing(26));
}

void TestStandinSearch::userAndRoomSearchesReachOnlyTheirTargets()
{
    auto a = loggedIn(m_server.port(), "ua");
    auto b = loggedIn(m_server.port(), "ub");
    auto c = loggedIn(m_server.port(), "uc");
    QVERIFY(a && b && c);
    a->send(42, Body().str("uc").u32(9).str("just you"));
    QCOMPARE(relayed(c->waitFor(26)), (Relayed { "ua", 9, "just you" }));
    QVERIFY(b->nothing(26, 100));

    a->send(14, Body().str("searchroom").u32(0));
    QVERIFY(a->waitFor(14));
    b->send(14, Body().str("searchroom").u32(0));
    QVERIFY(b->waitFor(14));
    a->send(120, Body().str("searchroom").u32(10).str("in here"));
    QCOMPARE(relayed(b->waitFor(26)), (Relayed { "ua", 10, "in here" }));
    QVERIFY(c->nothing(26, 100));
    QVERIFY(a->nothing(26, 100));
}

void TestStandinSearch::relatedSearchesAnswerTheQuery()
{
    auto a = loggedIn(m_server.port(), "ra");
    QVERIFY(a);
    a->send(153, Body().str("jazz"));
    Fields f(*a->waitFor(153));
    QCOMPARE(f.str(), QString("jazz"));
    const quint32 n = f.u32();
    QVERIFY(n <= 10);
    for (quint32 i = 0; i < n; ++i) {
        QVERIFY(!f.str().isEmpty());
        f.u32();
    }
    QVERIFY(f.ok() && f.atEnd());
}

void TestStandinSearch::possibleParentsAreConnectedUsersTakingChildren()
{
    const auto join = [&](const QString& name, quint32 port, bool accept, bool noParent, quint32 level,
                          const QString& root) {
        auto client = loggedIn(m_server.port(), name);
        if (!client)
            return client;
        client->send(2, Body().u32(port).u32(1).u32(port + 1));
        client->send(71, Body().boolean(noParent));
        client->send(127, Body().str(root));
        client->send(126, Body().u32(level));
        client->send(100, Body().boolean(accept));
        client->send(36, Body().str(name)); // round trip: all of the above is in
        return client->waitFor(36) ? std::move(client) : nullptr;
    };
    auto root = join("tree-root", 45010, true, true, 0, "tree-root");
    auto closed = join("tree-closed", 45020, false, true, 0, "tree-closed");
    auto child = join("tree-child", 45030, true, false, 1, "tree-root");
    auto stray = join("tree-stray", 45040, true, true, 2, "tree-root");
    auto below = join("tree-below", 45050, true, false, 1, "seeker");
    QVERIFY(root && closed && child && stray && below);

    auto seeker = loggedIn(m_server.port(), "seeker");
    QVERIFY(seeker);
    seeker->send(71, Body().boolean(true));
    Fields f(*seeker->waitFor(102));
    QMap<QString, quint32> offered;
    const quint32 n = f.u32();
    for (quint32 i = 0; i < n; ++i) {
        const QString user = f.str();
        QCOMPARE(f.u32(), 0x7f000001u);
        offered.insert(user, f.u32());
    }
    QVERIFY(f.ok() && f.atEnd());
    QCOMPARE(offered, (QMap<QString, quint32> { { "tree-root", 45010 }, { "tree-child", 45030 } }));
}

void TestStandinSearch::treeOnlySearchesGoEmbeddedToBranchRoots()
{
    StandinProcess server;
    QVERIFY(server.start({ "--tree-only" }));
    auto root = loggedIn(server.port(), "root");
    auto child = loggedIn(server.port(), "child");
    auto searcher = loggedIn(server.port(), "searcher");
    QVERIFY(root && child && searcher);
    root->send(126, Body().u32(0));
    root->send(100, Body().boolean(true));
    child->send(126, Body().u32(1));
    child->send(100, Body().boolean(true));
    root->send(36, Body().str("x"));
    child->send(36, Body().str("x"));
    QVERIFY(root->waitFor(36) && child->waitFor(36));

    searcher->send(26, Body().u32(31).str("deep cut"));
    Fields f(*root->waitFor(93));
    QCOMPARE(f.u8(), quint8(3));
    QCOMPARE(f.u32(), 49u);
    QCOMPARE(f.str(), QString("searcher"));
    QCOMPARE(f.u32(), 31u);
    QCOMPARE(f.str(), QString("deep cut"));
    QVERIFY(f.ok() && f.atEnd());
    QVERIFY(child->nothing(93, 100));
    QVERIFY(child->nothing(26, 100));
    QVERIFY(searcher->nothing(93, 100));
    QVERIFY(root->nothing(26, 100));
}

QTEST_GUILESS_MAIN(TestStandinSearch)
#include "tst_search.moc"
