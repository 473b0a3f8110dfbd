// The distributed tree in this process: a raw parent and a raw child around
// the client, searches passed down unchanged, a silent parent dropped.
#include "helper_peers.h"
#include "peers/DNetManager.h"
#include "peers/PeerCodes.h"
#include "peers/PeerMessages.h"
#include "peers/PeerMessenger.h"
#include "server/Server.h"
#include "store/Settings.h"
#include <QDateTime>
#include <QSignalSpy>
#include <QTcpServer>
#include <QtTest>

namespace {

qint64 Now()
{
    return QDateTime::currentSecsSinceEpoch();
}

} // namespace

class Tree : public QObject {
    Q_OBJECT
    PeerMessenger* pm = nullptr;
    DNetManager* dn = nullptr;

    // The frames a raw peer must read next, in order.
    void Expect(RawPeer& peer, const QList<QByteArray>& frames)
    {
        for (const QByteArray& expected : frames) {
            QByteArray frame;
            QVERIFY(peer.ReadFrame(frame));
            QCOMPARE(frame.toHex(), expected.toHex());
        }
    }

private slots:
    void initTestCase()
    {
        Settings::CreateTypes();
        new Server(this);
        gp_server->CreateData();
        settings.Set("username", "me");
        settings.Set("listening_port", "0");
        settings.Set("obfuscated_listening_port", "0");
        pm = new PeerMessenger(this);
        QVERIFY(pm->Listen());
        dn = new DNetManager(this);
    }

    void parentChildAndSearches()
    {
        QSignalSpy adopted(dn, &DNetManager::ParentAdopted);
        QSignalSpy lost(dn, &DNetManager::ParentLost);
        QSignalSpy searches(dn, &DNetManager::DNetSearchRequest);
        QSignalSpy children(dn, &DNetManager::ChildAdded);

        DescriptorServer parentPort, otherPort;
        QVERIFY(parentPort.listen(QHostAddress::LocalHost, 0));
        QVERIFY(otherPort.listen(QHostAddress::LocalHost, 0));
        emit gp_server->PossibleParents({ Candidate(QStringLiteral("par"), parentPort.serverPort()),
            Candidate(QStringLiteral("oth"), otherPort.serverPort()) });
        auto parent = AcceptCandidate(parentPort);
        auto other = AcceptCandidate(otherPort);
        QVERIFY(parent && other);
        QByteArray init;
        QVERIFY(parent->ReadFrame(init));
        QCOMPARE(init, PeerInitBody(QStringLiteral("me"), QStringLiteral("D"), 0));

        // The first candidate to tell its place wins; the other is closed.
        parent->SendFrame(EncodeBranchLevel(0));
        parent->SendFrame(EncodeBranchRoot(QStringLiteral("par")));
        QTRY_COMPARE(adopted.size(), 1);
        QCOMPARE(adopted.at(0).at(0).toString(), QStringLiteral("par"));
        QVERIFY(other->WaitClosed());
        QTRY_COMPARE(dn->Root(), QStringLiteral("par"));
        QCOMPARE(dn->Level(), 1);

        // A child is told our level and root.
        RawPeer kid;
        QVERIFY(kid.Connect(pm->ListeningPort()));
        kid.SendFrame(PeerInitBody(QStringLiteral("kid"), QStringLiteral("D"), 0));
        Expect(kid, { EncodeBranchLevel(1), EncodeBranchRoot(QStringLiteral("par")) });
        QCOMPARE(children.size(), 1);

        // Searches from the parent go down unchanged and are announced.
        DistributedSearch search;
        search.user = QStringLiteral("asker");
        search.token = 77;
        search.query = QStringLiteral("blue note");
        QByteArray frame = EncodeDistributedSearch(search);
        frame.append("tail bytes stay"); // forwarded as received
        parent->SendFrame(frame);
        Expect(kid, { frame });
        QCOMPARE(searches.size(), 1);
        QCOMPARE(searches.at(0).at(0).toString(), QStringLiteral("asker"));
        QCOMPARE(searches.at(0).at(1).toUInt(), 77u);
        QCOMPARE(searches.at(0).at(2).toString(), QStringLiteral("blue note"));
        // Embedded by the server, and embedded by the parent.
        emit gp_server->EmbeddedDistributedMessage(DM_SEARCH_REQUEST, EncodeDistributedSearch(search).mid(1));
        parent->SendFrame(QByteArray(1, char(DM_EMBEDDED)) + EncodeDistributedSearch(search));
        Expect(kid, { EncodeDistributedSearch(search), EncodeDistributedSearch(search) });
        QCOMPARE(searches.size(), 3);
        // A malformed search is neither announced nor passed on.
        parent->SendFrame(EncodeDistributedSearch(search).left(9));
        // The parent moves down: so do we, and the child hears it.
        parent->SendFrame(EncodeBranchLevel(5));
        Expect(kid, { EncodeBranchLevel(6), EncodeBranchRoot(QStringLiteral("par")) });
        QCOMPARE(searches.size(), 3);

        // The child's depth reaches the parent as ours.
        kid.SendFrame(EncodeChildDepth(2));
        Expect(*parent, { EncodeChildDepth(3) });
        QCOMPARE(dn->ChildDepth(), 3u);

        // Silence past the time-out drops the parent; the child learns that
        // we are a root again.
        dn->CheckParent(Now() + DNetManager::kParentTimeout - 5);
        QCOMPARE(lost.size(), 0);
        Expect(kid, { EncodeDistributedPing() }); // the timer pings the children
        dn->CheckParent(Now() + DNetManager::kParentTimeout + 1);
        QCOMPARE(lost.size(), 1);
        QVERIFY(parent->WaitClosed());
        QVERIFY(!dn->HasParent());
        Expect(
            kid, { EncodeBranchLevel(0), EncodeBranchRoot(QStringLiteral("me")), EncodeDistributedPing() });

        // The server's reset drops the children.
        QSignalSpy removed(dn, &DNetManager::ChildRemoved);
        emit gp_server->ResetDistributed();
        QVERIFY(kid.WaitClosed());
        QCOMPARE(removed.size(), 1);
        QVERIFY(dn->Children().isEmpty());
    }

    void childrenAreCapped()
    {
        std::vector<std::unique_ptr<RawPeer>> kids;
        for (int i = 0; i < DNetManager::kMaxChildren + 1; ++i) {
            kids.push_back(std::make_unique<RawPeer>());
            QVERIFY(kids.back()->Connect(pm->ListeningPort()));
            kids.back()->SendFrame(PeerInitBody(QStringLiteral("k%1").arg(i), QStringLiteral("D"), 0));
            QCoreApplication::processEvents();
        }
        QTRY_COMPARE(dn->Children().size(), DNetManager::kMaxChildren);
        QVERIFY(kids.back()->WaitClosed());
    }
};

QTEST_GUILESS_MAIN(Tree)
#include "tst_tree.moc"
