// The server-side item types: what the data file keeps, what the store's sweep
// keeps, and the settings the connection writes when data is loaded.
#include "server/Server.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include "store/Settings.h"
#include <QTemporaryDir>
#include <QTest>

namespace {

ItemPtr Flag(const char* type) { return d.GetType(type)->GetGlobalNullItem(); }
ItemPtr User(const char* name) { return d.GetType("user")->GetItem(name); }
ItemPtr Room(const char* name) { return d.GetType("room")->GetItem(name); }

} // namespace

class TestServerData : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Loading starts the port forwarding; its discovery stays on loopback.
        qputenv("MARROWBY_UPNP_IF", "127.0.0.1");
        Settings::CreateTypes();
    }
    void init() { d.Clear(); }

    void declaringTwiceKeepsSettings()
    {
        Server server;
        server.CreateData();
        QCOMPARE(settings.Get("availability_status"), QStringLiteral("available"));
        settings.Set("availability_status", "away");
        server.CreateData();
        QCOMPARE(settings.Get("availability_status"), QStringLiteral("away"));
    }

    void userListIgnoresAndAutojoinAreSaved()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("data");
        {
            DataSaver saver;
            Server server;
            server.CreateData();
            ItemPtr entry = User("bob").NewItem("in_user_list");
            ItemPtr group = d.GetType("user_list_group")->GetItem("friends");
            entry.Connect(group);
            group.Connect(d.GetType("group_download_priority")->GetItem("5"));
            group.Connect(Flag("accept_uploads"));
            User("mallory").Connect(Flag("is_ignored"));
            Room("lobby").Connect(Flag("room_autojoin"));
            User("bob").Connect(Flag("is_online"));
            User("stranger").Connect(Flag("is_tracked"));
            Room("other").Connect(Flag("in_room"));
            saver.Save(path);
        }
        d.Clear();
        DataSaver saver;
        Server server;
        server.CreateData();
        saver.Load(path);
        ItemPtr bob = d.GetType("user")->HasItem("bob");
        QVERIFY(bob.IsConnected("in_user_list"));
        ItemPtr group = bob["in_user_list"]["user_list_group"];
        QCOMPARE(group.AsString(), QStringLiteral("friends"));
        QCOMPARE(group["group_download_priority"].AsInt(), 5);
        QVERIFY(group.IsConnected("accept_uploads"));
        QVERIFY(d.GetType("user")->HasItem("mallory").IsConnected("is_ignored"));
        QVERIFY(d.GetType("room")->HasItem("lobby").IsConnected("room_autojoin"));
        // Run-time state is not saved.
        QVERIFY(!bob.IsConnected("is_online"));
        QVERIFY(!d.GetType("user")->HasItem("stranger"));
        QVERIFY(!d.GetType("room")->HasItem("other"));
        // Loading writes the UPnP default when the file had none.
        QCOMPARE(settings.Get("use_upnp"), QStringLiteral("yes"));
    }

    void sweepKeepsWhatIsReachable()
    {
        Server server;
        server.CreateData();
        // A room's tickers and link items, a search's text and correlations.
        ItemPtr lobby = Room("lobby");
        ItemPtr ticker = d.GetType("room_ticker")->NewItem();
        ticker.Connect(User("bob"));
        ticker.Connect(d.GetType("room_ticker_text")->GetItem("hi"));
        ticker.Connect(d.GetType("room_ticker_order")->GetItem("0"));
        ticker.Connect(lobby);
        lobby.NewItem("room_members").Connect(User("carl"));
        lobby.NewItem("room_operators").Connect(User("carl"));
        lobby.NewItem("room_owner").Connect(User("dora"));
        ItemPtr request = d.GetType("search_request")->NewItem("17");
        ItemPtr text = d.GetType("search_request_text")->GetItem("abc");
        request.Connect(text);
        ItemPtr correlation = d.GetType("search_correlation")->NewItem();
        correlation.Connect(d.GetType("correlation_text")->GetItem("abc live"));
        correlation.Connect(d.GetType("correlation_rank")->GetItem("1"));
        text.Connect(correlation);

        d.RemoveDisconnectedItems();
        QCOMPARE(lobby["room_ticker"]["room_ticker_text"].AsString(), QStringLiteral("hi"));
        QCOMPARE(lobby["room_members"]["user"].AsString(), QStringLiteral("carl"));
        QCOMPARE(lobby["room_owner"]["user"].AsString(), QStringLiteral("dora"));
        QCOMPARE(text["search_correlation"]["correlation_text"].AsString(), QStringLiteral("abc live"));

        // Once the search has gone, its text and the text's correlations go too.
        request.Remove();
        d.RemoveDisconnectedItems();
        QVERIFY(!d.GetType("search_request_text")->HasItem("abc"));
        QCOMPARE(d.GetType("search_correlation")->Count(), size_t(0));
    }
};

QTEST_GUILESS_MAIN(TestServerData)
#include "tst_serverdata.moc"
