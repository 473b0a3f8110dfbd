// Messages from the server reaching their items and signals: users and their
// status, chat, the own account, searches, rooms and the peer-network messages.
#include "helper_serverwire.h"
#include "server/Server.h"
#include "store/Data.h"
#include "store/Settings.h"
#include <QDateTime>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <memory>

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
QStringList Names(const ItemSet& items)
{
    QStringList names;
    for (ItemPtr item : items)
        names << item.AsString();
    names.sort();
    return names;
}

// A join answer: users with status 2, stats (speed = 100 * i, files = i), country "C<i>".
WireWriter JoinAnswer(const char* room, const QList<QByteArray>& users)
{
    WireWriter b;
    b.str(room).u32(quint32(users.size()));
    for (const auto& u : users)
        b.str(u);
    b.u32(quint32(users.size()));
    for (qsizetype i = 0; i < users.size(); ++i)
        b.u32(2);
    b.u32(quint32(users.size()));
    for (qsizetype i = 0; i < users.size(); ++i)
        b.stats(quint32(100 * (i + 1)), 0, quint32(i + 1), 1);
    b.u32(quint32(users.size()));
    for (qsizetype i = 0; i < users.size(); ++i)
        b.u32(0);
    b.u32(quint32(users.size()));
    for (qsizetype i = 0; i < users.size(); ++i)
        b.str("C" + QByteArray::number(i + 1));
    return b;
}

} // namespace

class TestServerDispatch : public QObject {
    Q_OBJECT

    std::unique_ptr<FakeCentralServer> fake;
    std::unique_ptr<Server> server;

    // Sends a frame, then a marker status frame, and waits for the marker, so
    // that everything before it has been handled.
    void Deliver(quint32 code, const WireWriter& body)
    {
        static quint32 mark = 0;
        ++mark;
        fake->Send(code, body);
        const QByteArray name = "marker" + QByteArray::number(mark);
        User(name.constData()); // the status of a user nobody knows is dropped
        fake->Send(7, WireWriter().str(name).u32(2).boolean(false));
        QTRY_VERIFY(d.GetType("user")->HasItem(Value(name.toStdString())).IsConnected("is_online"));
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
        QSignalSpy connected(server.get(), &Server::Connected);
        server->Connect();
        QVERIFY(fake->WaitClient());
        QVERIFY(fake->AcceptLogin());
        QVERIFY(connected.wait(3000));
        fake->Drain();
    }

    void cleanup()
    {
        server.reset();
        fake.reset();
    }

    void userStatusFlags()
    {
        ItemPtr bob = User("bob");
        Deliver(7, WireWriter().str("bob").u32(2).boolean(true));
        QVERIFY(bob.IsConnected("is_online"));
        QVERIFY(!bob.IsConnected("is_away"));
        QVERIFY(bob.IsConnected("is_privileged"));
        const QDateTime changed
            = QDateTime::fromString(bob["last_online_status_change"].AsString(), Qt::TextDate);
        QVERIFY(changed.isValid());
        QVERIFY(qAbs(changed.secsTo(QDateTime::currentDateTime())) < 5);

        Deliver(7, WireWriter().str("bob").u32(1).boolean(true));
        QVERIFY(bob.IsConnected("is_online"));
        QVERIFY(bob.IsConnected("is_away"));

        Deliver(7, WireWriter().str("bob").u32(0).boolean(false));
        QVERIFY(!bob.IsConnected("is_online"));
        QVERIFY(!bob.IsConnected("is_away"));
        QVERIFY(!bob.IsConnected("is_privileged"));
    }

    void watchAnswersAndStatistics()
    {
        QSignalSpy answers(server.get(), &Server::AddUserResponse);
        QSignalSpy stats(server.get(), &Server::ReceivedUserStats);
        Deliver(5, WireWriter().str("Bob").boolean(true).u32(2).stats(5000, 7, 120, 9).str("DE"));
        Deliver(5, WireWriter().str("nobody").boolean(false));
        QCOMPARE(answers.count(), 2);
        QCOMPARE(answers.at(0).at(0).toString(), QStringLiteral("Bob"));
        QCOMPARE(answers.at(0).at(1).toBool(), true);
        QCOMPARE(answers.at(1).at(1).toBool(), false);
        ItemPtr bob = User("Bob");
        QVERIFY(bob.IsConnected("is_online"));
        QCOMPARE(bob["average_download_speed"].AsInt(), 5000);
        QCOMPARE(bob["shared_file_count"].AsInt(), 120);
        QCOMPARE(bob["country_code"].AsString(), QStringLiteral("DE"));
        QVERIFY(!d.GetType("user")->HasItem("nobody"));

        Deliver(36, WireWriter().str("Bob").stats(7000, 8, 130, 10));
        QCOMPARE(stats.count(), 1);
        const UserStats s = stats.at(0).at(1).value<UserStats>();
        QCOMPARE(s.averageSpeed, 7000u);
        QCOMPARE(s.uploadCount, 8ull);
        QCOMPARE(s.fileCount, 130u);
        QCOMPARE(s.folderCount, 10u);
        QCOMPARE(bob["average_download_speed"].AsInt(), 7000);
        QCOMPARE(bob["shared_file_count"].AsInt(), 130);

        // The statistics and the status of users nobody asked about and
        // nothing shows are not kept; asked for, they are.
        Deliver(36, WireWriter().str("stranger").stats(1, 2, 3, 4));
        Deliver(7, WireWriter().str("stranger").u32(2).boolean(true));
        QVERIFY(!d.GetType("user")->HasItem("stranger"));
        QCOMPARE(stats.count(), 1);
        server->GetUserStats("stranger");
        server->GetUserStatus("asked");
        Deliver(36, WireWriter().str("stranger").stats(9000, 2, 3, 4));
        Deliver(7, WireWriter().str("asked").u32(1).boolean(false));
        QCOMPARE(User("stranger")["average_download_speed"].AsInt(), 9000);
        QVERIFY(User("asked").IsConnected("is_away"));
    }

    void privateMessagesAreAcknowledged()
    {
        QSignalSpy chat(server.get(), &Server::PrivateChat);
        User("mallory").Connect(Flag("is_ignored"));
        fake->Send(22, WireWriter().u32(41).u32(1000).str("bob").str("hi there").boolean(true));
        fake->Send(22, WireWriter().u32(42).u32(1001).str("mallory").str("spam").boolean(true));
        fake->Send(22, WireWriter().u32(43).u32(1002).str("bob").str("stored").boolean(false));
        QList<QByteArray> acks;
        while (acks.size() < 3) {
            auto frame = fake->Next();
            QVERIFY(frame);
            QCOMPARE(frame->code, 23u);
            acks << frame->body;
        }
        QCOMPARE(acks,
            QList<QByteArray>(
                { WireWriter().u32(41).data(), WireWriter().u32(42).data(), WireWriter().u32(43).data() }));
        QCOMPARE(chat.count(), 2);
        QCOMPARE(chat.at(0).at(0).toString(), QStringLiteral("bob"));
        QCOMPARE(chat.at(0).at(1).toString(), QStringLiteral("hi there"));
        QCOMPARE(chat.at(0).at(2).value<time_t>(), time_t(1000));
        QCOMPARE(chat.at(0).at(3).toBool(), true);
        QCOMPARE(chat.at(1).at(3).toBool(), false);
    }

    void ownAccountAndNotices()
    {
        QSignalSpy privileges(server.get(), &Server::ReceivedOwnPrivilegesStatus);
        QSignalSpy admin(server.get(), &Server::AdminMessage);
        QSignalSpy wait(server.get(), &Server::WishListWait);
        Deliver(92, WireWriter().u32(3600));
        QCOMPARE(privileges.at(0).at(0).toInt(), 3600);
        QCOMPARE(settings.GetInt("privileges_time_left"), 3600);
        QVERIFY(settings.IsYes("is_supporter"));
        Deliver(92, WireWriter().u32(0));
        QCOMPARE(settings.GetInt("privileges_time_left"), 0);
        QVERIFY(!settings.IsYes("is_supporter"));
        Deliver(92, WireWriter().u32(0xFFFFFFFF)); // stays a positive signed number
        QVERIFY(settings.GetInt("privileges_time_left") > 0);

        Deliver(66, WireWriter().str("maintenance at noon"));
        QCOMPARE(admin.at(0).at(0).toString(), QStringLiteral("maintenance at noon"));
        Deliver(104, WireWriter().u32(720));
        QCOMPARE(wait.at(0).at(0).toUInt(), 720u);

        Deliver(69, WireWriter().u32(2).str("p1").str("p2"));
        QVERIFY(User("p1").IsConnected("is_privileged"));
        Deliver(69, WireWriter().u32(1).str("p2"));
        QVERIFY(!User("p1").IsConnected("is_privileged"));
        QVERIFY(User("p2").IsConnected("is_privileged"));
    }

    void searchesFromTheServer()
    {
        QSignalSpy direct(server.get(), &Server::DirectFileSearch);
        QSignalSpy related(server.get(), &Server::SearchCorrelations);
        Deliver(26, WireWriter().str("bob").u32(991).str("some song"));
        QCOMPARE(direct.at(0), QVariantList({ QStringLiteral("bob"), 991u, QStringLiteral("some song") }));

        Deliver(153, WireWriter().str("abc").u32(2).str("abc live").u32(2).str("abc remix").u32(1));
        QCOMPARE(related.at(0).at(0).toString(), QStringLiteral("abc"));
        ItemPtr text = d.GetType("search_request_text")->HasItem("abc");
        ItemList ordered = text.GetItems("search_correlation").SortNumericBy("correlation_rank", true);
        QCOMPARE(ordered.size(), size_t(2));
        QCOMPARE(ordered[0]["correlation_text"].AsString(), QStringLiteral("abc remix"));
        QCOMPARE(ordered[1]["correlation_text"].AsString(), QStringLiteral("abc live"));
        // A later answer replaces the earlier one.
        Deliver(153, WireWriter().str("abc").u32(1).str("abc acoustic").u32(1));
        QCOMPARE(text.CountItems("search_correlation"), size_t(1));
        QCOMPARE(text["search_correlation"]["correlation_text"].AsString(), QStringLiteral("abc acoustic"));
    }

    void roomListIsTakenWhenAskedFor()
    {
        // The list after login is taken; later unasked ones are not.
        WireWriter list;
        list.u32(2).str("pub1").str("pub2").u32(2).u32(5).u32(0);
        list.u32(1).str("mine").u32(1).u32(3);
        list.u32(1).str("theirs").u32(1).u32(4);
        list.u32(2).str("theirs").str("mine");
        Deliver(64, list);
        QCOMPARE(Room("pub1")["user_count"].AsInt(), 5);
        QCOMPARE(Room("mine")["user_count"].AsInt(), 3);
        QVERIFY(Room("mine").IsConnected("is_owner"));
        QVERIFY(Room("theirs").IsConnected("is_member"));
        QVERIFY(Room("theirs").IsConnected("is_operator"));
        QVERIFY(!Room("pub1").IsConnected("is_member"));

        Deliver(64, WireWriter().u32(1).str("pub1").u32(1).u32(9).u32(0).u32(0).u32(0).u32(0).u32(0));
        QCOMPARE(Room("pub1")["user_count"].AsInt(), 5);

        server->GetRoomList();
        fake->Drain();
        Deliver(64, WireWriter().u32(1).str("pub1").u32(1).u32(9).u32(0).u32(0).u32(0).u32(0).u32(0));
        QCOMPARE(Room("pub1")["user_count"].AsInt(), 9);
        QVERIFY(!Room("mine").IsConnected("is_owner")); // no longer listed as owned
        QVERIFY(!Room("theirs").IsConnected("is_operator"));
    }

    // However much comes at once, the event loop turns while it is handled
    // (a timer queued before a burst runs before its end, even when every
    // frame costs next to nothing), and frames are handled in their order: a
    // room list too long for one turn is applied in full before the frames
    // after it.
    void burstsLetTheEventLoopTurn()
    {
        QByteArray pings;
        for (int i = 0; i < 2 * SlicedWork::kFramesPerTurn; ++i)
            pings += EncodeFrame(32, {});
        pings += EncodeFrame(7, WireWriter().str("pinger").u32(2).boolean(false).data());
        auto pinged = std::make_shared<int>(-1);
        QTimer::singleShot(0, [pinged] { *pinged = User("pinger").IsConnected("is_online"); });
        server->ProcessIncoming(pings);
        QTRY_COMPARE(*pinged, 0);

        const int users = 3 * SlicedWork::kFramesPerTurn;
        Room("lobby").Connect(Flag("in_room"));
        QByteArray burst;
        for (int i = 0; i < users; ++i) {
            WireWriter joined;
            joined.str("lobby").str("u" + QByteArray::number(i)).u32(2).stats(1, 0, 1, 1).u32(0).str("FR");
            burst += EncodeFrame(16, joined.data());
        }
        burst += EncodeFrame(17, WireWriter().str("lobby").str("u0").data());
        auto seen = std::make_shared<int>(-1);
        QTimer::singleShot(0, [seen] { *seen = int(Room("lobby").CountItems("user")); });
        server->ProcessIncoming(burst);
        QTRY_VERIFY(*seen >= 0);
        QVERIFY2(*seen < users - 1, qPrintable(QString::number(*seen)));
        QTRY_COMPARE(Room("lobby").CountItems("user"), size_t(users - 1));

        const int rooms = 100000;
        WireWriter list;
        list.u32(rooms);
        for (int i = 0; i < rooms; ++i)
            list.str("r" + QByteArray::number(i));
        list.u32(rooms);
        for (int i = 0; i < rooms; ++i)
            list.u32(quint32(i));
        list.u32(0).u32(0).u32(1).str("r7").u32(1).u32(7).u32(0);
        server->GetRoomList();
        server->ProcessIncoming(
            EncodeFrame(64, list.data()) + EncodeFrame(140, WireWriter().str("r7").data()));
        QVERIFY(!d.GetType("room")->HasItem(Value("r99999")));
        QTRY_COMPARE(d.GetType("room")->HasItem(Value("r99999"))["user_count"].AsInt(), rooms - 1);
        Deliver(7, WireWriter().str("bob").u32(2).boolean(false));
        QVERIFY(!Room("r7").IsConnected("is_member"));
    }

    // A server that sends faster than the client handles, for long: what is
    // not handled yet waits in the socket (and TCP holds the server back),
    // not in the client, and every frame is still handled in its order. A
    // message longer than the backlog bound (a long room list) still comes
    // whole: the socket is read on while no frame is whole.
    void sustainedFloodWaitsInTheSocket()
    {
        constexpr quint32 searches = 100000;
        constexpr int rooms = 100000;
        WireWriter list;
        list.u32(rooms);
        for (int i = 0; i < rooms; ++i)
            list.str("room" + QByteArray::number(i).rightJustified(20, '0'));
        list.u32(rooms);
        for (int i = 0; i < rooms; ++i)
            list.u32(quint32(i));
        list.u32(0).u32(0).u32(0).u32(0).u32(0);
        QByteArray flood = EncodeFrame(64, list.data());
        QVERIFY(flood.size() > 2 * Server::kBacklogBytes);
        for (quint32 i = 0; i < searches; ++i)
            flood += EncodeFrame(26, WireWriter().str("flooder").u32(i).str(QByteArray(60, 'q')).data());
        qsizetype peak = 0;
        quint32 next = 0;
        bool inOrder = true;
        connect(server.get(), &Server::DirectFileSearch, this, [&](QString, quint32 ticket, QString) {
            inOrder &= ticket == next++;
            peak = qMax(peak, server->Backlog());
            QElapsedTimer search; // as long as a share's answer may take
            for (search.start(); search.nsecsElapsed() < 5000;) { }
        });
        fake->SendRaw(flood);
        QTRY_COMPARE_WITH_TIMEOUT(
            d.GetType("room")->HasItem(Value("room00000000000000099999"))["user_count"].AsInt(), rooms - 1,
            60000);
        QTRY_COMPARE_WITH_TIMEOUT(next, searches, 120000);
        QVERIFY(inOrder);
        QVERIFY2(peak < 2 * Server::kBacklogBytes, qPrintable(QString::number(peak)));
    }

    void joiningAndLeavingRooms()
    {
        // The room's page appears with in_room and must see every user arrive.
        bool inRoomFirst = true;
        DataHandler watcher;
        d.AddConnectionEventHandler(d.GetType("room"), d.GetType("user"),
            watcher.Register(new FunctionEventHandler<ConnectionInfo&, std::function<void(ConnectionInfo&)>>(
                [&](ConnectionInfo& c) { inRoomFirst &= c.first.IsConnected("in_room"); })));
        QSignalSpy chat(server.get(), &Server::RoomChat);

        Deliver(14, JoinAnswer("lobby", { "bob", "carl" }));
        ItemPtr lobby = Room("lobby");
        QVERIFY(lobby.IsConnected("in_room"));
        QVERIFY(inRoomFirst);
        QCOMPARE(Names(lobby.GetItems("user")), QStringList({ "bob", "carl" }));
        QCOMPARE(lobby["user_count"].AsInt(), 2);
        QCOMPARE(User("carl")["country_code"].AsString(), QStringLiteral("C2"));
        QCOMPARE(User("carl")["average_download_speed"].AsInt(), 200);
        QVERIFY(User("bob").IsConnected("is_online"));

        Deliver(16, WireWriter().str("lobby").str("dave").u32(1).stats(50, 0, 5, 1).u32(0).str("FR"));
        QCOMPARE(lobby["user_count"].AsInt(), 3);
        QVERIFY(User("dave").IsConnected("is_away"));
        QCOMPARE(User("dave")["country_code"].AsString(), QStringLiteral("FR"));
        Deliver(17, WireWriter().str("lobby").str("bob"));
        QCOMPARE(Names(lobby.GetItems("user")), QStringList({ "carl", "dave" }));
        QCOMPARE(lobby["user_count"].AsInt(), 2);

        Deliver(13, WireWriter().str("lobby").str("carl").str("hello all"));
        QCOMPARE(chat.at(0),
            QVariantList({ QStringLiteral("lobby"), QStringLiteral("carl"), QStringLiteral("hello all") }));

        // A second join answer (after a reconnection) sets the users afresh.
        Deliver(14, JoinAnswer("lobby", { "carl", "erin" }));
        QCOMPARE(Names(lobby.GetItems("user")), QStringList({ "carl", "erin" }));

        Deliver(15, WireWriter().str("lobby"));
        QVERIFY(!lobby.IsConnected("in_room"));
        QVERIFY(lobby.GetItems("user").Empty());

        QSignalSpy cannot(server.get(), &Server::CannotCreateRoom);
        Deliver(1003, WireWriter().str("bad room"));
        QCOMPARE(cannot.at(0).at(0).toString(), QStringLiteral("bad room"));
    }

    void privateRooms()
    {
        WireWriter join = JoinAnswer("secret", { "alice", "bob", "olga" });
        join.str("olga").u32(1).str("bob");
        Deliver(14, join);
        ItemPtr room = Room("secret");
        QVERIFY(room.IsConnected("in_room"));
        QCOMPARE(room["room_owner"]["user"].AsString(), QStringLiteral("olga"));
        QVERIFY(d.GetItem(User("olga"), room, "room_owner"));
        QVERIFY(d.GetItem(User("bob"), room, "room_operators"));
        QVERIFY(!d.GetItem(User("alice"), room, "room_operators"));

        Deliver(133, WireWriter().str("secret").u32(2).str("bob").str("alice"));
        QCOMPARE(Names(room["room_members"].GetItems("user")), QStringList({ "alice", "bob" }));
        Deliver(134, WireWriter().str("secret").str("zed"));
        Deliver(135, WireWriter().str("secret").str("alice"));
        QCOMPARE(Names(room["room_members"].GetItems("user")), QStringList({ "bob", "zed" }));

        Deliver(148, WireWriter().str("secret").u32(1).str("zed"));
        QCOMPARE(Names(room["room_operators"].GetItems("user")), QStringList({ "zed" }));
        Deliver(143, WireWriter().str("secret").str("bob"));
        Deliver(144, WireWriter().str("secret").str("zed"));
        QCOMPARE(Names(room["room_operators"].GetItems("user")), QStringList({ "bob" }));

        Deliver(139, WireWriter().str("secret"));
        QVERIFY(room.IsConnected("is_member"));
        Deliver(145, WireWriter().str("secret"));
        QVERIFY(room.IsConnected("is_operator"));
        Deliver(146, WireWriter().str("secret"));
        QVERIFY(!room.IsConnected("is_operator"));
        Deliver(140, WireWriter().str("secret"));
        QVERIFY(!room.IsConnected("is_member"));

        QSignalSpy enabled(server.get(), &Server::PrivateRoomAddEnabled);
        Deliver(141, WireWriter().boolean(true));
        QCOMPARE(enabled.at(0).at(0).toBool(), true);
        QCOMPARE(settings.Get("accept_private_room_add"), QStringLiteral("yes"));
    }

    void roomTickers()
    {
        // Tickers of a room the user is not in are not kept.
        Deliver(113, WireWriter().str("lobby").u32(1).str("bob").str("early"));
        Deliver(114, WireWriter().str("lobby").str("carl").str("early"));
        QCOMPARE(Room("lobby").CountItems("room_ticker"), size_t(0));
        Deliver(14, JoinAnswer("lobby", { "bob" }));
        Deliver(113,
            WireWriter().str("lobby").u32(3).str("bob").str("first").str("carl").str("second").str("bob").str(
                "again"));
        ItemPtr lobby = Room("lobby");
        // bob's second ticker replaces his first.
        ItemList tickers = lobby.GetItems("room_ticker").SortNumericBy("room_ticker_order", true);
        QCOMPARE(tickers.size(), size_t(2));
        QCOMPARE(tickers[0]["user"].AsString(), QStringLiteral("carl"));
        QCOMPARE(tickers[1]["room_ticker_text"].AsString(), QStringLiteral("again"));

        Deliver(114, WireWriter().str("lobby").str("dave").str("new one"));
        tickers = lobby.GetItems("room_ticker").SortNumericBy("room_ticker_order", true);
        QCOMPARE(tickers.size(), size_t(3));
        QCOMPARE(tickers[2]["user"].AsString(), QStringLiteral("dave"));
        QVERIFY(tickers[2]["room_ticker_order"].AsInt() > tickers[1]["room_ticker_order"].AsInt());

        Deliver(115, WireWriter().str("lobby").str("carl"));
        QCOMPARE(lobby.CountItems("room_ticker"), size_t(2));
        QVERIFY(!d.GetItem(lobby, User("carl"), "room_ticker"));

        // A new list replaces the room's tickers.
        Deliver(113, WireWriter().str("lobby").u32(1).str("erin").str("only"));
        QCOMPARE(lobby.CountItems("room_ticker"), size_t(1));
        QCOMPARE(lobby["room_ticker"]["room_ticker_text"].AsString(), QStringLiteral("only"));
    }

    void peerNetworkMessages()
    {
        QSignalSpy address(server.get(), &Server::PeerAddressReceived);
        QSignalSpy connectTo(server.get(), &Server::ConnectToPeerRequested);
        QSignalSpy cannot(server.get(), &Server::PeerCannotConnect);
        QSignalSpy parents(server.get(), &Server::PossibleParents);
        QSignalSpy embedded(server.get(), &Server::EmbeddedDistributedMessage);
        QSignalSpy reset(server.get(), &Server::ResetDistributed);

        Deliver(3, WireWriter().str("bob").u32(0x0A000001).u32(2235).u32(1).u16(2236));
        QCOMPARE(address.at(0),
            QVariantList({ QStringLiteral("bob"), 0x0A000001u, quint16(2235), true, quint16(2236) }));
        Deliver(18,
            WireWriter().str("bob").str("F").u32(0x7F000001).u32(4000).u32(555).boolean(true).u32(1).u32(4001));
        QCOMPARE(connectTo.at(0),
            QVariantList({ QStringLiteral("bob"), QStringLiteral("F"), 0x7F000001u, quint16(4000), 555u, true,
                true, quint16(4001) }));
        Deliver(1001, WireWriter().u32(556));
        QCOMPARE(cannot.at(0).at(0).toUInt(), 556u);
        Deliver(102, WireWriter().u32(2).str("p1").u32(1).u32(100).str("p2").u32(2).u32(200));
        const auto list = parents.at(0).at(0).value<QList<PossibleParent>>();
        QCOMPARE(list.size(), 2);
        QCOMPARE(list[1].user, QStringLiteral("p2"));
        QCOMPARE(list[1].ip, 2u);
        QCOMPARE(list[1].port, quint16(200));
        Deliver(93, WireWriter().u8(3).u32(49).str("bob").u32(7).str("q"));
        QCOMPARE(embedded.at(0).at(0).value<quint8>(), quint8(3));
        QCOMPARE(embedded.at(0).at(1).toByteArray(), WireWriter().u32(49).str("bob").u32(7).str("q").data());
        Deliver(130, WireWriter());
        QCOMPARE(reset.count(), 1);

        // Fields that run out: nothing is announced.
        Deliver(3, WireWriter().str("bob").u32(1));
        Deliver(102, WireWriter().u32(5).str("p1"));
        QCOMPARE(address.count(), 1);
        QCOMPARE(parents.count(), 1);
    }

    void malformedRoomMessagesChangeNothing()
    {
        // Lists whose counts disagree, counts above the bound, strings past the end.
        QByteArray bad = JoinAnswer("lobby", { "bob" }).data();
        bad.chop(3);
        Deliver(14, WireWriter().bytes(bad));
        Deliver(14, WireWriter().str("lobby").u32(1).str("bob").u32(2).u32(2).u32(2));
        Deliver(113, WireWriter().str("lobby").u32(200000));
        Deliver(16, WireWriter().str("lobby").u32(0xFFFFFFF0));
        QVERIFY(!Room("lobby").IsConnected("in_room"));
        QVERIFY(Room("lobby").GetItems("user").Empty());
        QCOMPARE(Room("lobby").CountItems("room_ticker"), size_t(0));
        QVERIFY(server->IsConnected());
    }
};

QTEST_GUILESS_MAIN(TestServerDispatch)
#include "tst_serverdispatch.moc"
