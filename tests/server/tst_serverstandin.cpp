// The client's server connection against the real stand-in server process,
// with raw connections playing the other users.
#include "helper_serverwire.h"
#include "server/Server.h"
#include "store/Data.h"
#include "store/Settings.h"
#include <QSignalSpy>
#include <QTest>

namespace {

ItemPtr User(const char* name)
{
    return d.GetType("user")->GetItem(name);
}
ItemPtr Room(const char* name)
{
    return d.GetType("room")->GetItem(name);
}

} // namespace

class TestServerStandin : public QObject {
    Q_OBJECT

    std::unique_ptr<StandinServerProcess> standin;
    std::unique_ptr<Server> server;

    bool Start(const QStringList& args = {})
    {
        standin = std::make_unique<StandinServerProcess>();
        if (!standin->Start(args))
            return false;
        qputenv("MARROWBY_SERVER", standin->Address().toUtf8());
        server = std::make_unique<Server>();
        server->CreateData();
        return true;
    }

    bool LogIn(const char* user = "alice", const char* password = "pw")
    {
        settings.Set("username", user);
        settings.Set("password", password);
        QSignalSpy connected(server.get(), &Server::Connected);
        server->Connect();
        return connected.wait(5000) && server->IsConnected();
    }

private slots:
    void initTestCase() { Settings::CreateTypes(); }
    void init() { d.Clear(); }
    void cleanup()
    {
        server.reset();
        standin.reset();
    }

    void loginAndAccount()
    {
        QVERIFY(Start({ "--privileged", "alice", "--motd", "hello there", "--wishlist-period", "90" }));
        QSignalSpy wait(server.get(), &Server::WishListWait);
        QSignalSpy admin(server.get(), &Server::AdminMessage);
        QSignalSpy privileges(server.get(), &Server::ReceivedOwnPrivilegesStatus);
        QVERIFY(LogIn());
        QTRY_COMPARE(privileges.count(), 1);
        QVERIFY(privileges.at(0).at(0).toInt() > 0);
        QVERIFY(settings.GetInt("privileges_time_left") > 0);
        QVERIFY(settings.IsYes("is_supporter"));
        QCOMPARE(wait.count(), 1);
        QCOMPARE(wait.at(0).at(0).toUInt(), 90u);
        QCOMPARE(admin.count(), 1);
        QCOMPARE(admin.at(0).at(0).toString(), QStringLiteral("hello there"));
        QVERIFY(User("alice").IsConnected("is_privileged")); // from the privileged list
    }

    void wrongPasswordIsRefused()
    {
        QVERIFY(Start());
        RawUser carol;
        QVERIFY(carol.Login(standin->Port(), "carol", "one"));
        carol.Close();
        settings.Set("username", "carol");
        settings.Set("password", "two");
        QSignalSpy failed(server.get(), &Server::ConnectionFailed);
        server->Connect();
        QVERIFY(failed.wait(5000));
        QCOMPARE(failed.at(0).at(0).toString(), QStringLiteral("INVALIDPASS"));
        QVERIFY(!server->IsConnected());
        QVERIFY(!server->IsAbruptlyDisconnected());
    }

    void watchedUsersFollowTheirStatus()
    {
        QVERIFY(Start());
        RawUser bob;
        QVERIFY(bob.Login(standin->Port(), "bob"));
        QVERIFY(LogIn());
        QSignalSpy answer(server.get(), &Server::AddUserResponse);
        server->TrackUser("bob");
        QVERIFY(answer.wait(3000));
        QCOMPARE(answer.at(0).at(1).toBool(), true);
        QVERIFY(User("bob").IsConnected("is_online"));
        bob.Send(28, WireWriter().u32(1));
        QTRY_VERIFY(User("bob").IsConnected("is_away"));
        bob.Close();
        QTRY_VERIFY(!User("bob").IsConnected("is_online"));
        QVERIFY(!User("bob").IsConnected("is_away"));
        QVERIFY(User("bob").IsConnected("last_online_status_change"));
    }

    void userUnknownToTheServerIsAskedAgain()
    {
        QVERIFY(Start());
        QVERIFY(LogIn());
        QSignalSpy answer(server.get(), &Server::AddUserResponse);
        // No account yet: the server watches nothing under that name.
        server->TrackUser("newcomer");
        QVERIFY(answer.wait(3000));
        QCOMPARE(answer.at(0).at(1).toBool(), false);

        // Once the account exists, tracking again asks the server again.
        RawUser newcomer;
        QVERIFY(newcomer.Login(standin->Port(), "newcomer"));
        server->TrackUser("newcomer");
        QTRY_VERIFY(User("newcomer").IsConnected("is_online"));
        newcomer.Close();
        QTRY_VERIFY(!User("newcomer").IsConnected("is_online"));

        // An unknown name is asked for again at the next login.
        server->TrackUser("latecomer");
        QTRY_COMPARE(answer.count(), 3);
        server->Disconnect();
        RawUser latecomer;
        QVERIFY(latecomer.Login(standin->Port(), "latecomer"));
        QVERIFY(LogIn());
        QTRY_VERIFY(User("latecomer").IsConnected("is_online"));
        QVERIFY(User("latecomer").IsConnected("is_tracked"));
    }

    void privateChat()
    {
        QVERIFY(Start());
        RawUser bob, mallory;
        QVERIFY(bob.Login(standin->Port(), "bob"));
        QVERIFY(mallory.Login(standin->Port(), "mallory"));
        QVERIFY(LogIn());
        User("mallory").Connect(d.GetType("is_ignored")->GetGlobalNullItem());
        QSignalSpy chat(server.get(), &Server::PrivateChat);
        mallory.Send(22, WireWriter().str("alice").str("buy now"));
        bob.Send(22, WireWriter().str("alice").str("hi alice"));
        QVERIFY(chat.wait(3000));
        QTest::qWait(200);
        QCOMPARE(chat.count(), 1);
        QCOMPARE(chat.at(0).at(0).toString(), QStringLiteral("bob"));
        QCOMPARE(chat.at(0).at(1).toString(), QStringLiteral("hi alice"));

        server->SendPrivateChat("bob", "hi\nbob");
        auto got = bob.WaitFor(22);
        QVERIFY(got);
        QVERIFY(got->endsWith(WireWriter().str("alice").str("hi bob").u8(1).data()));
    }

    void roomsThroughTheServer()
    {
        QVERIFY(Start());
        QVERIFY(LogIn());
        QSignalSpy chat(server.get(), &Server::RoomChat);
        server->EnterRoom("lobby", false);
        QTRY_VERIFY(Room("lobby").IsConnected("in_room"));
        RawUser bob;
        QVERIFY(bob.Login(standin->Port(), "bob"));
        bob.Send(14, WireWriter().str("lobby").u32(0));
        QTRY_COMPARE(Room("lobby").CountItems("user"), size_t(2));
        QCOMPARE(Room("lobby")["user_count"].AsInt(), 2);
        bob.Send(13, WireWriter().str("lobby").str("hi room"));
        QVERIFY(chat.wait(3000));
        QCOMPARE(chat.at(0).at(1).toString(), QStringLiteral("bob"));
        bob.Send(116, WireWriter().str("lobby").str("bob's wall"));
        QTRY_COMPARE(Room("lobby").CountItems("room_ticker"), size_t(1));
        QCOMPARE(Room("lobby")["room_ticker"]["room_ticker_text"].AsString(), QStringLiteral("bob's wall"));
        bob.Send(15, WireWriter().str("lobby"));
        QTRY_COMPARE(Room("lobby").CountItems("user"), size_t(1));

        server->GetRoomList();
        QTRY_COMPARE(Room("lobby")["user_count"].AsInt(), 1);
        server->LeaveRoom("lobby");
        QTRY_VERIFY(!Room("lobby").IsConnected("in_room"));
    }

    void searchesBothWays()
    {
        QVERIFY(Start());
        RawUser bob;
        QVERIFY(bob.Login(standin->Port(), "bob"));
        QVERIFY(LogIn());
        QSignalSpy direct(server.get(), &Server::DirectFileSearch);
        bob.Send(26, WireWriter().u32(4242).str("needle"));
        QVERIFY(direct.wait(3000));
        QCOMPARE(direct.at(0), QVariantList({ QStringLiteral("bob"), 4242u, QStringLiteral("needle") }));
        const quint32 token = server->FileSearch("haystack", false);
        auto relayed = bob.WaitFor(26);
        QVERIFY(relayed);
        QCOMPARE(*relayed, WireWriter().str("alice").u32(token).str("haystack").data());
    }

    void reconnectsAfterServerRestart()
    {
        QVERIFY(Start());
        server->TrackUser("bob");
        QVERIFY(LogIn());
        const quint16 port = standin->Port();
        QSignalSpy disconnected(server.get(), &Server::Disconnected);
        standin->Kill();
        QVERIFY(disconnected.wait(5000));
        QVERIFY(server->IsAbruptlyDisconnected());

        // Still down: the attempt fails and stays pending.
        QSignalSpy failed(server.get(), &Server::ConnectionFailed);
        server->OnReconnectTimer();
        QVERIFY(failed.wait(5000));
        QVERIFY(server->IsAbruptlyDisconnected());

        QVERIFY(standin->Start({}, port));
        RawUser bob;
        QVERIFY(bob.Login(port, "bob"));
        QSignalSpy connected(server.get(), &Server::Connected);
        server->OnReconnectTimer();
        QVERIFY(connected.wait(5000));
        QVERIFY(!server->IsAbruptlyDisconnected());
        // The tracked user is watched again on the new server.
        QTRY_VERIFY(User("bob").IsConnected("is_online"));
    }

    void relogElsewhereStopsReconnection()
    {
        QVERIFY(Start());
        QVERIFY(LogIn());
        QSignalSpy disconnected(server.get(), &Server::Disconnected);
        RawUser twin;
        QVERIFY(twin.Login(standin->Port(), "alice", "pw"));
        QTRY_COMPARE(disconnected.count(), 1);
        QVERIFY(!server->IsAbruptlyDisconnected());
        QSignalSpy connecting(server.get(), &Server::Connecting);
        server->OnReconnectTimer();
        QCOMPARE(connecting.count(), 0);
        QVERIFY(!server->IsConnected());
    }
};

QTEST_GUILESS_MAIN(TestServerStandin)
#include "tst_serverstandin.moc"
