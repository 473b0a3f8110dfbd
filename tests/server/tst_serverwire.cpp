// The client's server connection against a fake server that checks the bytes:
// login, the messages after login, every request, heartbeat, reconnection and
// the handling of broken framing.
#include "helper_serverwire.h"
#include "server/Server.h"
#include "store/Data.h"
#include "store/LogSink.h"
#include "store/Settings.h"
#include <QCryptographicHash>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <functional>

namespace {

ItemPtr Flag(const char* type)
{
    return d.GetType(type)->GetGlobalNullItem();
}
ItemPtr User(const char* name)
{
    return d.GetType("user")->GetItem(name);
}
ItemPtr Room(const char* name)
{
    return d.GetType("room")->GetItem(name);
}

bool LoggedTo(const QString& area, const QString& part)
{
    for (const LogLine& line : LogSink::Instance().AreaLines(area))
        if (line.text.contains(part))
            return true;
    return false;
}

} // namespace

class TestServerWire : public QObject {
    Q_OBJECT

    std::unique_ptr<FakeCentralServer> fake;
    std::unique_ptr<Server> server;

    // Connects, accepts the login and swallows the messages after it (or
    // leaves them to the caller).
    bool LogIn(bool swallow = true)
    {
        QSignalSpy connected(server.get(), &Server::Connected);
        server->Connect();
        if (!fake->WaitClient() || !fake->AcceptLogin())
            return false;
        if (!connected.wait(3000))
            return false;
        if (swallow)
            fake->Drain();
        return server->IsConnected();
    }

private slots:
    void initTestCase() { Settings::CreateTypes(); }

    void init()
    {
        d.Clear();
        fake = std::make_unique<FakeCentralServer>();
        qputenv("MARROWBY_SERVER", fake->Address().toUtf8());
        server = std::make_unique<Server>();
        server->CreateData();
        settings.Set("username", "alice");
        settings.Set("password", "secret");
    }

    void cleanup()
    {
        server.reset();
        fake.reset();
    }

    void addressComesFromEnvironment()
    {
        QCOMPARE(server->Host(), QStringLiteral("127.0.0.1"));
        QCOMPARE(server->Port(), fake->Port());
        QCOMPARE(gp_server, server.get());
    }

    void loginAndMessagesAfterIt()
    {
        server->TrackUser("bob"); // offline: remembered, sent after login
        Room("lobby").Connect(Flag("room_autojoin"));
        Room("open").Connect(Flag("room_autojoin"));
        Room("open").Connect(Flag("in_room")); // re-entered by its page, not here
        // The ports the peer network holds; the settings' are not told.
        settings.Set("listening_port", 2999);
        server->SetListeningPorts(3000, 3001);
        settings.Set("availability_status", "away");
        QSignalSpy connecting(server.get(), &Server::Connecting);
        QSignalSpy connected(server.get(), &Server::Connected);

        server->Connect();
        QCOMPARE(connecting.count(), 1);
        QVERIFY(fake->WaitClient());
        auto login = fake->Next();
        QVERIFY(login);
        QCOMPARE(login->code, 1u);
        const QByteArray hash = QCryptographicHash::hash("alicesecret", QCryptographicHash::Md5).toHex();
        QCOMPARE(login->body, WireWriter().str("alice").str("secret").u32(157).str(hash).u32(100).data());
        QVERIFY(!server->IsConnected());

        fake->Send(1, WireWriter().boolean(true).str("hi").u32(0x0100007F).str("x").boolean(false));
        QVERIFY(connected.wait(3000));
        QVERIFY(server->IsConnected());
        QCOMPARE(server->OwnAddress(), 0x0100007Fu);

        const QList<WireFrame> frames = fake->Drain();
        const QList<std::pair<quint32, QByteArray>> expected {
            { 2, WireWriter().u32(3000).u32(1).u32(3001).data() },
            { 28, WireWriter().u32(1).data() },
            { 35, WireWriter().u32(0).u32(0).data() },
            { 71, WireWriter().u8(1).data() },
            { 127, WireWriter().str("alice").data() },
            { 126, WireWriter().u32(0).data() },
            { 100, WireWriter().u8(1).data() },
            { 92, QByteArray() },
            { 5, WireWriter().str("bob").data() },
            { 14, WireWriter().str("lobby").u32(0).data() },
        };
        QCOMPARE(frames.size(), expected.size());
        for (qsizetype i = 0; i < frames.size(); ++i) {
            QCOMPARE(frames[i].code, expected[i].first);
            QCOMPARE(frames[i].body, expected[i].second);
        }
        QCOMPARE(settings.Get("accept_room_list"), QStringLiteral("yes"));

        // At the next login, 200 more tracked users are watched again, a few
        // at once and the rest in later turns; one untracked meanwhile is not.
        QSet<QByteArray> watched { WireWriter().str("bob").data() };
        for (int i = 0; i < 200; ++i) {
            const QByteArray name = QByteArray("w") + QByteArray::number(i);
            User(name.constData()).Connect(Flag("is_tracked"));
            if (i != 150)
                watched.insert(WireWriter().str(QString::fromLatin1(name)).data());
        }
        server->Disconnect();
        connect(server.get(), &Server::Connected, this, [this] { server->UntrackUser("w150"); });
        QVERIFY(LogIn(false));
        QSet<QByteArray> asked;
        for (const WireFrame& frame : fake->Drain())
            if (frame.code == 5)
                asked.insert(frame.body);
        QCOMPARE(asked, watched);
    }

    void noPortIsToldWhileNoneIsHeld()
    {
        // Chosen, but held by another program: peers must not be sent there.
        settings.Set("listening_port", 2235);
        settings.Set("obfuscated_listening_port", 2236);
        server->SetListeningPorts(0, 0);
        QSignalSpy connected(server.get(), &Server::Connected);
        server->Connect();
        QVERIFY(fake->WaitClient());
        QVERIFY(fake->AcceptLogin());
        QVERIFY(connected.wait(3000));
        for (const WireFrame& frame : fake->Drain())
            QVERIFY2(frame.code != 2, "a port was told while none is held");
        // Once a pair is held, the server hears it.
        server->SetListeningPorts(5000, 5001);
        auto ports = fake->Next();
        QVERIFY(ports);
        QCOMPARE(ports->code, 2u);
        QCOMPARE(ports->body, WireWriter().u32(5000).u32(1).u32(5001).data());
    }

    void credentialsWhenMissing()
    {
        // Without a user name nothing is attempted.
        settings.Clear("username");
        server->Connect();
        QVERIFY(!fake->WaitClient(300));

        // A missing password is replaced by the built-in one, which is kept.
        settings.Set("username", "alice");
        settings.Clear("password");
        server->Connect();
        QVERIFY(fake->WaitClient());
        auto login = fake->Next();
        QVERIFY(login);
        QVERIFY(settings.Has("password"));
        const QByteArray password = QByteArray::fromStdString(settings.GetStd("password"));
        QVERIFY(!password.isEmpty());
        QVERIFY(login->body.startsWith(WireWriter().str("alice").str(password).data()));
        QCOMPARE(settings.Get("username"), QStringLiteral("alice"));
    }

    void refusalIsReportedAndFinal()
    {
        QSignalSpy failed(server.get(), &Server::ConnectionFailed);
        QSignalSpy connected(server.get(), &Server::Connected);
        server->Connect();
        QVERIFY(fake->WaitClient());
        QVERIFY(fake->Next());
        fake->Send(1, WireWriter().boolean(false).str("INVALIDPASS"));
        QVERIFY(failed.wait(3000));
        QCOMPARE(failed.at(0).at(0).toString(), QStringLiteral("INVALIDPASS"));
        QVERIFY(!server->IsConnected());
        QVERIFY(!server->IsAbruptlyDisconnected());
        QCOMPARE(connected.count(), 0);
        server->OnReconnectTimer();
        QVERIFY(!fake->WaitClient(300));
    }

    void everyRequestHasItsBytes()
    {
        QVERIFY(LogIn());
        Room("lobby").Connect(Flag("in_room"));
        using Call = std::function<void()>;
        const QList<std::tuple<const char*, Call, quint32, QByteArray>> cases {
            { "room list", [&] { server->GetRoomList(); }, 64, {} },
            { "enter", [&] { server->EnterRoom("new room", true); }, 14,
                WireWriter().str("new room").u32(1).data() },
            { "leave", [&] { server->LeaveRoom("lobby"); }, 15, WireWriter().str("lobby").data() },
            { "room chat", [&] { server->SendRoomChat("lobby", "hello"); }, 13,
                WireWriter().str("lobby").str("hello").data() },
            { "ticker", [&] { server->SetRoomTicker("lobby", "tick"); }, 116,
                WireWriter().str("lobby").str("tick").data() },
            { "disown", [&] { server->GiveUpPrivateRoom("p"); }, 137, WireWriter().str("p").data() },
            { "dismember", [&] { server->GiveUpPrivateRoomMembership("p"); }, 136,
                WireWriter().str("p").data() },
            { "invitations", [&] { server->EnablePrivateRoomAdd(true); }, 141, WireWriter().u8(1).data() },
            { "add member", [&] { server->AddPrivateRoomMember("p", "bob"); }, 134,
                WireWriter().str("p").str("bob").data() },
            { "remove member", [&] { server->RemovePrivateRoomMember("p", "bob"); }, 135,
                WireWriter().str("p").str("bob").data() },
            { "add operator", [&] { server->AddPrivateRoomOperator("p", "bob"); }, 143,
                WireWriter().str("p").str("bob").data() },
            { "remove operator", [&] { server->RemovePrivateRoomOperator("p", "bob"); }, 144,
                WireWriter().str("p").str("bob").data() },
            { "add user", [&] { server->AddUser("bob"); }, 5, WireWriter().str("bob").data() },
            { "untrack",
                [&] {
                    server->TrackUser("carl");
                    fake->Next();
                    server->UntrackUser("carl");
                },
                6, WireWriter().str("carl").data() },
            { "status of", [&] { server->GetUserStatus("bob"); }, 7, WireWriter().str("bob").data() },
            { "stats", [&] { server->GetUserStats("bob"); }, 36, WireWriter().str("bob").data() },
            { "gift", [&] { server->GiftPrivileges("bob", 31); }, 123, WireWriter().str("bob").u32(31).data() },
            { "privileges", [&] { server->GetOwnPrivilegesStatus(); }, 92, {} },
            { "away", [&] { server->SetAvailabilityStatus(false); }, 28, WireWriter().u32(1).data() },
            { "available", [&] { server->SetAvailabilityStatus(true); }, 28, WireWriter().u32(2).data() },
            { "shares", [&] { server->SendFilesFolders(12, 345); }, 35, WireWriter().u32(12).u32(345).data() },
            { "speed", [&] { server->SendUploadSpeed(70000); }, 121, WireWriter().u32(70000).data() },
            { "ports", [&] { server->SetListeningPorts(4000, 4001); }, 2,
                WireWriter().u32(4000).u32(1).u32(4001).data() },
            { "address", [&] { server->GetPeerAddress("bob"); }, 3, WireWriter().str("bob").data() },
            { "connect", [&] { server->ConnectToPeer(77, "bob", "P"); }, 18,
                WireWriter().u32(77).str("bob").str("P").data() },
            { "cannot", [&] { server->CannotConnect(78, "bob"); }, 1001,
                WireWriter().u32(78).str("bob").data() },
            { "no parent", [&] { server->HaveNoParent(false); }, 71, WireWriter().u8(0).data() },
            { "children", [&] { server->AcceptChildren(false); }, 100, WireWriter().u8(0).data() },
            { "level", [&] { server->SetBranchLevel(3); }, 126, WireWriter().u32(3).data() },
            { "root", [&] { server->SetBranchRoot("carol"); }, 127, WireWriter().str("carol").data() },
            { "depth", [&] { server->SetChildDepth(2); }, 129, WireWriter().u32(2).data() },
            { "related", [&] { server->GetSearchCorrelations("abc"); }, 153, WireWriter().str("abc").data() },
            { "private", [&] { server->SendPrivateChat("bob", "a\nb\rc"); }, 22,
                WireWriter().str("bob").str("a b c").data() },
        };
        for (const auto& [name, call, code, body] : cases) {
            call();
            auto frame = fake->Next();
            QVERIFY2(frame, name);
            QVERIFY2(frame->code == code, name);
            QVERIFY2(frame->body == body, name);
        }
        QCOMPARE(settings.Get("availability_status"), QStringLiteral("available"));
        QCOMPARE(settings.Get("accept_room_list"), QStringLiteral("yes"));
        QVERIFY(fake->Quiet());
    }

    void requestRules()
    {
        QVERIFY(LogIn());
        QSignalSpy sent(server.get(), &Server::PrivateChatSent);
        server->SendPrivateChat("bob", "x\ny");
        QCOMPARE(sent.count(), 1);
        QCOMPARE(sent.at(0).at(1).toString(), QStringLiteral("x y"));
        fake->Drain();

        // Leaving a room that the client is not in sends nothing.
        server->LeaveRoom("elsewhere");
        // Tracking twice asks once.
        server->TrackUser("bob");
        server->TrackUser("bob");
        auto frames = fake->Drain();
        QCOMPARE(frames.size(), 1);
        QCOMPARE(frames[0].code, 5u);
        QVERIFY(User("bob").IsConnected("is_tracked"));

        // Searches: one token each, with their items.
        QSignalSpy requested(server.get(), &Server::SearchRequested);
        const quint32 t1 = server->FileSearch("some text", false);
        const quint32 t2 = server->FileSearch("wished", true);
        QVERIFY(t1 != t2);
        frames = fake->Drain();
        QCOMPARE(frames.size(), 2);
        QCOMPARE(frames[0].code, 26u);
        QCOMPARE(frames[0].body, WireWriter().u32(t1).str("some text").data());
        QCOMPARE(frames[1].code, 103u);
        QCOMPARE(frames[1].body, WireWriter().u32(t2).str("wished").data());
        QCOMPARE(requested.count(), 2);
        QCOMPARE(requested.at(1).at(0).toUInt(), t2);
        QCOMPARE(requested.at(1).at(2).toBool(), true);
        ItemPtr r1 = d.GetType("search_request")->HasItem(Value(t1));
        ItemPtr r2 = d.GetType("search_request")->HasItem(Value(t2));
        QCOMPARE(r1["search_request_text"].AsString(), QStringLiteral("some text"));
        QVERIFY(!r1.IsConnected("wishlist_search"));
        QVERIFY(r2.IsConnected("wishlist_search"));

        // The user-list search goes to each listed user who is online, under one token.
        for (const char* name : { "ann", "ben", "cid" })
            User(name).NewItem("in_user_list");
        User("ann").Connect(Flag("is_online"));
        User("cid").Connect(Flag("is_online"));
        User("dan").Connect(Flag("is_online")); // online, not listed
        const quint32 t3 = server->SearchUserList("q");
        frames = fake->Drain();
        QCOMPARE(frames.size(), 2);
        QStringList to;
        for (const auto& f : frames) {
            QCOMPARE(f.code, 42u);
            QVERIFY(f.body.endsWith(WireWriter().u32(t3).str("q").data()));
            to << QString::fromUtf8(f.body.mid(4, f.body.size() - 13));
        }
        to.sort();
        QCOMPARE(to, QStringList({ "ann", "cid" }));

        const quint32 t4 = server->SearchRoom("lobby", "r");
        auto room = fake->Next();
        QVERIFY(room);
        QCOMPARE(room->code, 120u);
        QCOMPARE(room->body, WireWriter().str("lobby").u32(t4).str("r").data());
        QVERIFY(d.GetType("search_request")->HasItem(Value(t4)));
    }

    void requestsWhileOfflineAreDropped()
    {
        QSignalSpy sent(server.get(), &Server::PrivateChatSent);
        server->SendPrivateChat("bob", "lost");
        server->SendRoomChat("lobby", "lost");
        server->GetUserStats("bob");
        server->EveryFiveMinutes();
        const quint32 token = server->FileSearch("offline", false);
        QCOMPARE(sent.count(), 0);
        QVERIFY(d.GetType("search_request")->HasItem(Value(token))); // the search still exists
        server->Connect();
        QVERIFY(fake->WaitClient());
        auto first = fake->Next();
        QVERIFY(first);
        QCOMPARE(first->code, 1u);
        QVERIFY(fake->Quiet());
    }

    void heartbeat()
    {
        QVERIFY(LogIn());
        server->EveryFiveMinutes();
        auto ping = fake->Next();
        QVERIFY(ping);
        QCOMPARE(ping->code, 32u);
        QVERIFY(ping->body.isEmpty());
    }

    void abruptLossReconnects()
    {
        server->TrackUser("bob");
        QVERIFY(LogIn());
        fake->Send(14,
            WireWriter()
                .str("lobby")
                .u32(1)
                .str("bob")
                .u32(1)
                .u32(2)
                .u32(1)
                .stats(1, 2, 3, 4)
                .u32(1)
                .u32(0)
                .u32(1)
                .str("")
                .data());
        fake->Send(7, WireWriter().str("bob").u32(1).boolean(false));
        QTRY_VERIFY(User("bob").IsConnected("is_away"));
        QVERIFY(Room("lobby").IsConnected("in_room"));
        server->GetUserStatus("unanswered");
        server->GetUserStats("unanswered");
        // Enough users, slow enough to be told offline, that the clearing
        // takes many turns.
        std::vector<ItemPtr> users;
        for (int i = 0; i < 2000; ++i) {
            users.push_back(User(("u" + std::to_string(i)).c_str()));
            users.back().Connect(Flag("is_online"));
            if (i % 2)
                users.back().Connect(Flag("is_away"));
            Room("lobby").Connect(users.back());
        }
        DataHandler slow;
        slow.SubscribeFunction(
            d.GetType("is_online")->disconnected, [](ConnectionInfo&) { QThread::usleep(50); });

        QSignalSpy disconnected(server.get(), &Server::Disconnected);
        QSignalSpy connected(server.get(), &Server::Connected);
        fake->DropClient();
        QVERIFY(disconnected.wait(3000));
        QVERIFY(!server->IsConnected());
        QVERIFY(server->IsAbruptlyDisconnected());
        QTRY_VERIFY(!User("bob").IsConnected("is_online"));
        QVERIFY(!User("bob").IsConnected("is_away"));
        QVERIFY(Room("lobby").IsConnected("in_room")); // kept for re-entering

        // What the clearing has left is done before the next session begins,
        // and none of it reaches the statuses of the next login.
        server->OnReconnectTimer();
        for (const char* flag : { "is_online", "is_away" })
            QCOMPARE(Flag(flag).CountItems("user"), size_t(0));
        QCOMPARE(Room("lobby").CountItems("user"), size_t(0));
        QCOMPARE(Room("lobby")["user_count"].AsInt(), 0);
        QVERIFY(fake->WaitClient());
        QVERIFY(fake->AcceptLogin());
        QVERIFY(connected.wait(3000));
        QVERIFY(!server->IsAbruptlyDisconnected());
        fake->Send(7, WireWriter().str("unanswered").u32(2).boolean(false));
        fake->Send(36, WireWriter().str("unanswered").stats(1, 2, 3, 4));
        fake->Send(7, WireWriter().str("u1999").u32(2).boolean(false));
        QTRY_VERIFY(users.back().IsConnected("is_online"));
        QVERIFY(!d.GetType("user")->HasItem(Value("unanswered")));
        QTest::qWait(300);
        QVERIFY(users.back().IsConnected("is_online"));
        bool watched = false;
        for (const auto& f : fake->Drain())
            watched |= f.code == 5 && f.body == WireWriter().str("bob").data();
        QVERIFY(watched);
    }

    void failedAttemptsAndSilentServers()
    {
        QSignalSpy failed(server.get(), &Server::ConnectionFailed);
        server->SetLoginDeadline(300);
        // A first attempt that gets no answer to its login fails within the
        // deadline, and no reconnection follows a failed first attempt.
        server->Connect();
        QVERIFY(fake->WaitClient());
        QVERIFY(fake->Next()); // the login, left unanswered
        QVERIFY(failed.wait(3000));
        QVERIFY(!server->IsAbruptlyDisconnected());
        server->OnReconnectTimer();
        QVERIFY(!fake->WaitClient(300));

        // After an abrupt loss, a server that accepts but never answers (or
        // is gone) costs one failed attempt, and the next tick tries again.
        QVERIFY(LogIn());
        fake->DropClient();
        QTRY_VERIFY(server->IsAbruptlyDisconnected());
        server->OnReconnectTimer();
        QVERIFY(fake->WaitClient());
        QVERIFY(failed.wait(3000));
        QVERIFY(server->IsAbruptlyDisconnected());
        server->OnReconnectTimer();
        QVERIFY(fake->WaitClient());
        QVERIFY(fake->AcceptLogin());
        QTRY_VERIFY(server->IsConnected());
        // The deadline ends with the login: the session outlives it.
        QTest::qWait(1000);
        QVERIFY(server->IsConnected());
        fake->DropClient();
        QTRY_VERIFY(server->IsAbruptlyDisconnected());
        fake.reset();
        failed.clear();
        server->OnReconnectTimer();
        QVERIFY(failed.wait(3000));
        QVERIFY(server->IsAbruptlyDisconnected());
        QVERIFY(!server->IsConnected());
    }

    void noReconnectionAfterDisconnectOrRelog()
    {
        QVERIFY(LogIn());
        QSignalSpy disconnected(server.get(), &Server::Disconnected);
        server->Disconnect();
        QCOMPARE(disconnected.count(), 1);
        QVERIFY(!server->IsAbruptlyDisconnected());
        server->OnReconnectTimer();
        QVERIFY(!fake->WaitClient(300));

        QVERIFY(LogIn());
        fake->Send(41);
        QVERIFY(disconnected.wait(3000));
        QVERIFY(!server->IsConnected());
        QVERIFY(!server->IsAbruptlyDisconnected());
        server->OnReconnectTimer();
        QVERIFY(!fake->WaitClient(300));
    }

    void brokenFraming()
    {
        LogSink::Instance().Reset();
        server->TrackUser("bob");
        QVERIFY(LogIn());

        // A frame that arrives a byte at a time is read whole.
        const QByteArray status = EncodeFrame(7, WireWriter().str("bob").u32(2).boolean(false).data());
        for (char c : status) {
            fake->SendRaw(QByteArray(1, c));
            QTest::qWait(1);
        }
        QTRY_VERIFY(User("bob").IsConnected("is_online"));

        // Too short for a code, too short for its fields, unknown: dropped,
        // logged, and the next frame is read as usual.
        fake->SendRaw(QByteArray::fromHex("02000000abcd"));
        fake->Send(7, WireWriter().str("bob").data());
        fake->Send(9999, WireWriter().u32(1).data());
        fake->Send(7, WireWriter().str("bob").u32(1).boolean(false));
        QTRY_VERIFY(User("bob").IsConnected("is_away"));
        QVERIFY(server->IsConnected());
        QVERIFY(LoggedTo("Server", "without a code"));
        QVERIFY(LoggedTo("Server", "malformed message 7"));
        QVERIFY(LoggedTo("Server", "unknown message 9999"));

        // A frame longer than any the server sends breaks the connection, and
        // the reconnection follows.
        QSignalSpy disconnected(server.get(), &Server::Disconnected);
        fake->SendRaw(WireWriter().u32(4 * 1024 * 1024 + 1).u32(7).data());
        QVERIFY(disconnected.wait(3000));
        QVERIFY(server->IsAbruptlyDisconnected());
        server->OnReconnectTimer();
        QVERIFY(fake->WaitClient());
    }
};

QTEST_GUILESS_MAIN(TestServerWire)
#include "tst_serverwire.moc"
