// Events, handlers and watched paths of the item store.
#include "store/Data.h"
#include <QtTest>
#include <memory>

namespace {
QString Join(const std::vector<std::string>& v)
{
    QStringList parts;
    for (const auto& s : v)
        parts << QString::fromStdString(s);
    return parts.join(" | ");
}

struct Schema {
    Data data;
    Type* user;
    Type* room;
    Type* online;
    Type* status;
    Schema()
    {
        user = data.NewType("user", kEntity);
        room = data.NewType("room", kEntity);
        online = data.NewType("is_online", kAttribute, true, false);
        status = data.NewType("status", kAttribute);
        user->RelateToType(room, Many, Many);
        user->RelateToType(online, One, One);
        user->RelateToType(status, Many, One);
    }
};

// A client whose handler may destroy it.
class Client : public DataHandler {
public:
    std::vector<std::string>* log;
    void OnAdded(ItemPtr item) { log->push_back("client:" + item.AsStdString()); }
};
}

class TestStoreEvents : public QObject {
    Q_OBJECT

private slots:
    void addedRemovedAndConnectionOrder();
    void removalSeesConnectionsThenDropsThem();
    void connectionHandlersGetSubscribedTypeFirst();
    void deadHandlersAreSkipped();
    void handlerRemovingPayloadStopsDispatch();
    void handlerDestroyingItsOwner();
    void handlersConnectingAndSubscribing();
    void connectAllActsAsConnectInTurn();
    void disconnectAllTellsEachPairInTurn();
    void pathAllStepsConnectedFiresOnLastEdge();
    void pathTriggerOnlySteps();
    void pathNotConnectedFiresWhenLastPartnerGoes();
    void pathRootedAtOneItem();
};

void TestStoreEvents::addedRemovedAndConnectionOrder()
{
    Schema s;
    std::vector<std::string> log;
    DataHandler h;
    h.SubscribeFunction(s.user->itemAdded, [&](ItemPtr i) { log.push_back("type+" + i.AsStdString()); });
    h.SubscribeFunction(s.data.itemAdded, [&](ItemPtr i) { log.push_back("data+" + i.AsStdString()); });
    h.SubscribeFunction(s.user->connected, [&](ConnectionInfo& c) { log.push_back("u~" + c.second.AsStdString()); });
    h.SubscribeFunction(s.room->connected, [&](ConnectionInfo& c) { log.push_back("r~" + c.second.AsStdString()); });
    h.SubscribeFunction(s.data.connected, [&](ConnectionInfo& c) {
        log.push_back("d~" + c.first.AsStdString() + "," + c.second.AsStdString());
    });
    ItemPtr u = s.user->GetItem("ann");
    ItemPtr r = s.room->GetItem("lobby");
    r += u;
    QCOMPARE(Join(log), Join({ "type+ann", "data+ann", "data+lobby", "r~ann", "u~lobby", "d~lobby,ann" }));
}

void TestStoreEvents::removalSeesConnectionsThenDropsThem()
{
    Schema s;
    ItemPtr u = s.user->GetItem("ann");
    ItemPtr r = s.room->GetItem("lobby");
    u += r;
    std::vector<std::string> log;
    DataHandler h;
    h.SubscribeFunction(s.user->itemRemoved, [&](ItemPtr i) {
        // Still readable and connected, but no longer found by value.
        log.push_back("removed " + i.AsStdString() + (i.IsConnected(r) ? " connected" : " alone")
            + (s.user->HasItem("ann") ? " indexed" : " unindexed"));
    });
    h.SubscribeFunction(s.data.itemRemoved, [&](ItemPtr) { log.push_back("data removed"); });
    h.SubscribeFunction(s.room->disconnected, [&](ConnectionInfo& c) { log.push_back("room lost " + c.second.AsStdString()); });
    u.Remove();
    QCOMPARE(Join(log), Join({ "removed ann connected unindexed", "data removed", "room lost ann" }));
    QVERIFY(r.IsDisconnectedFromAll());
    QVERIFY(s.room->HasItem("lobby")); // connected items stay
}

void TestStoreEvents::connectionHandlersGetSubscribedTypeFirst()
{
    Schema s;
    std::vector<std::string> log;
    auto handler = [&](ConnectionInfo& c) { log.push_back(c.first.AsStdString() + ">" + c.second.AsStdString()); };
    DataHandler h;
    s.data.AddConnectionEventHandler(s.user, s.room, h.Register(new FunctionEventHandler<ConnectionInfo&, decltype(handler)>(handler)));
    s.room->GetItem("r") += s.user->GetItem("u");
    s.user->GetItem("v") += s.room->GetItem("r");
    s.user->GetItem("v") += s.status->GetItem("x");
    QCOMPARE(Join(log), Join({ "u>r", "v>r" }));
}

void TestStoreEvents::deadHandlersAreSkipped()
{
    Schema s;
    std::vector<std::string> log;
    {
        Client c;
        c.log = &log;
        c.Subscribe(s.user->itemAdded, &Client::OnAdded);
        s.user->GetItem("a");
    }
    s.user->GetItem("b");
    QCOMPARE(Join(log), Join({ "client:a" }));
}

void TestStoreEvents::handlerRemovingPayloadStopsDispatch()
{
    Schema s;
    std::vector<std::string> log;
    DataHandler h;
    h.SubscribeFunction(s.user->itemAdded, [&](ItemPtr i) {
        log.push_back("first");
        if (i.AsStdString() == "spam")
            i.Remove();
    });
    h.SubscribeFunction(s.user->itemAdded, [&](ItemPtr i) { log.push_back("second " + i.AsStdString()); });
    s.user->GetItem("spam");
    s.user->GetItem("ok");
    QCOMPARE(Join(log), Join({ "first", "first", "second ok" }));
    QVERIFY(s.user->HasItem("spam").IsNull());

    // A connection undone by a handler is not announced further.
    ItemPtr u = s.user->GetItem("u");
    log.clear();
    h.SubscribeFunction(s.user->connected, [&](ConnectionInfo& c) {
        log.push_back("undo");
        c.first.Disconnect(c.second);
    });
    h.SubscribeFunction(s.data.connected, [&](ConnectionInfo&) { log.push_back("store saw it"); });
    u += s.room->GetItem("r");
    QCOMPARE(Join(log), Join({ "undo" }));
    QVERIFY(!u.IsConnected("room"));
}

void TestStoreEvents::handlerDestroyingItsOwner()
{
    Schema s;
    std::vector<std::string> log;
    struct SelfDestruct : DataHandler {
        std::vector<std::string>* log;
        void OnAdded(ItemPtr i)
        {
            log->push_back("bye " + i.AsStdString());
            delete this;
        }
    };
    auto* x = new SelfDestruct;
    x->log = &log;
    x->Subscribe(s.user->itemAdded, &SelfDestruct::OnAdded);
    x->Subscribe(s.user->itemAdded, &SelfDestruct::OnAdded); // its second handler dies with it
    s.user->GetItem("a");
    s.user->GetItem("b");
    QCOMPARE(Join(log), Join({ "bye a" }));
}

void TestStoreEvents::handlersConnectingAndSubscribing()
{
    Schema s;
    std::vector<std::string> log;
    DataHandler h;
    h.SubscribeFunction(s.user->itemAdded, [&](ItemPtr i) {
        i += s.status->GetItem("new");
        // Subscribed during dispatch: heard from the next event on.
        h.SubscribeFunction(s.room->itemAdded, [&](ItemPtr r) { log.push_back("late " + r.AsStdString()); });
    });
    h.SubscribeFunction(s.user->connected, [&](ConnectionInfo& c) { log.push_back("status " + c.second.AsStdString()); });
    ItemPtr u = s.user->GetItem("u");
    QCOMPARE(u["status"].AsStdString(), std::string("new"));
    s.room->GetItem("r");
    QCOMPARE(Join(log), Join({ "status new", "late r" }));
}

void TestStoreEvents::disconnectAllTellsEachPairInTurn()
{
    // A room with a group of users; while the first pairs are told, one user
    // still to be told is removed and another connected again.
    Schema s;
    ItemPtr r = s.room->GetItem("lobby");
    for (int u = 0; u < 30; ++u)
        r += s.user->GetItem(Value(QString("u%1").arg(u)));
    std::vector<std::string> log;
    DataHandler h;
    h.SubscribeFunction(s.room->disconnected, [&](ConnectionInfo& c) {
        log.push_back(c.second.AsStdString() + ":" + std::to_string(r.CountItems("user")));
        if (c.second.AsStdString() == "u1") {
            s.user->HasItem("u2").Remove();
            r += s.user->HasItem("u3");
        }
    });
    r.Disconnect("user");
    std::vector<std::string> told { "u0:0", "u1:0", "u2:1" };
    for (int u = 4; u < 30; ++u)
        told.push_back("u" + std::to_string(u) + ":1");
    QCOMPARE(Join(log), Join(told));
    QVERIFY(s.user->HasItem("u3").IsConnected(r) && r.IsConnected(s.user->HasItem("u3")));
    QCOMPARE(r.CountItems("user"), size_t(1));
    QVERIFY(s.user->HasItem("u4").IsDisconnectedFromAll());
}

void TestStoreEvents::connectAllActsAsConnectInTurn()
{
    // Many users to rooms in scrambled order, so that rooms outgrow plain
    // entries into groups and users get partners older than their newest;
    // one pair twice, and one user whose status a handler replaces.
    std::vector<std::pair<int, int>> plan;
    for (int u = 0; u < 60; ++u)
        for (int k = 0; k < 7; ++k)
            plan.emplace_back(u, (u * 13 + k * 29) % 40);
    plan.emplace_back(3, plan[21].second);
    auto build = [&](bool all, std::vector<std::string>& log, std::vector<std::string>& links) {
        Schema s;
        std::vector<Item*> users, rooms;
        for (int r = 0; r < 40; ++r)
            rooms.push_back(s.room->GetItem(Value(QString("r%1").arg(r))).Get());
        for (int u = 0; u < 60; ++u)
            users.push_back(s.user->GetItem(Value(QString("u%1").arg(u))).Get());
        DataHandler h;
        h.SubscribeFunction(s.room->connected, [&](ConnectionInfo& c) {
            log.push_back(c.first.AsStdString() + "-" + c.second.AsStdString());
            if (c.second.AsStdString() == "u7")
                c.second += s.status->GetItem("busy");
        });
        std::vector<std::pair<Item*, Item*>> pairs;
        for (auto [u, r] : plan)
            pairs.emplace_back(users[size_t(u)], rooms[size_t(r)]);
        if (all)
            s.data.ConnectAll(pairs.data(), pairs.size());
        else
            for (auto [x, y] : pairs)
                ItemPtr(x).Connect(y);
        for (Item* item : users) {
            std::string line = ItemPtr(item).AsStdString() + ":";
            item->connections.ForEach([&](Item* p) { line += " " + ItemPtr(p).AsStdString(); });
            links.push_back(line);
        }
        for (Item* item : rooms) {
            std::string line = ItemPtr(item).AsStdString() + ":";
            item->connections.ForEach([&](Item* p) { line += " " + ItemPtr(p).AsStdString(); });
            links.push_back(line);
        }
    };
    std::vector<std::string> log, links, allLog, allLinks;
    build(false, log, links);
    build(true, allLog, allLinks);
    QCOMPARE(log.size(), plan.size() - 1);
    QCOMPARE(Join(allLog), Join(log));
    QCOMPARE(Join(allLinks), Join(links));

    // A handler removing an item that later pairs name: those pairs are
    // skipped, and the item is freed only when all are done.
    Schema s;
    ItemPtr doomed = s.room->GetItem("doomed");
    std::vector<std::pair<Item*, Item*>> pairs;
    for (int u = 0; u < 30; ++u)
        pairs.emplace_back(s.user->GetItem(Value(QString("v%1").arg(u))).Get(), doomed.Get());
    DataHandler h;
    int heard = 0;
    h.SubscribeFunction(s.room->connected, [&](ConnectionInfo& c) {
        if (++heard == 2)
            c.first.Remove();
    });
    s.data.ConnectAll(pairs.data(), pairs.size());
    QCOMPARE(heard, 2);
    QVERIFY(s.room->HasItem("doomed").IsNull());
    QVERIFY(!s.user->HasItem("v29").IsConnected("room"));
}

void TestStoreEvents::pathAllStepsConnectedFiresOnLastEdge()
{
    Schema s;
    std::vector<std::string> log;
    DataHandler h;
    auto fire = [&](ItemPtr i) { log.push_back(i.AsStdString()); };
    auto* root = new PathNode(&s.data, "user");
    new PathNode(root, "is_online", PathConnected);
    new PathNode(root, "room", PathConnected);
    ItemPtr early = s.user->GetItem("early");
    early.NewItem("is_online");
    early += s.room->GetItem("r");
    s.data.AddPathEventHandler(root, h.Register(new FunctionEventHandler<ItemPtr, decltype(fire)>(fire)));
    QVERIFY(log.empty()); // nothing at registration

    ItemPtr a = s.user->GetItem("a");
    a += s.room->GetItem("r");
    QVERIFY(log.empty());
    a.NewItem("is_online");
    ItemPtr b = s.user->GetItem("b");
    b.NewItem("is_online");
    QCOMPARE(Join(log), Join({ "a" }));
    b += s.room->GetItem("r");
    QCOMPARE(Join(log), Join({ "a", "b" }));
}

void TestStoreEvents::pathTriggerOnlySteps()
{
    Schema s;
    std::vector<std::string> log;
    DataHandler h;
    auto* root = new PathNode(&s.data, "user");
    new PathNode(root, "status", PathConnectTrigger);
    new PathNode(root, "room", PathDisconnectTrigger);
    auto fire = [&](ItemPtr i) { log.push_back(i.AsStdString()); };
    s.data.AddPathEventHandler(root, h.Register(new FunctionEventHandler<ItemPtr, decltype(fire)>(fire)));
    ItemPtr u = s.user->GetItem("u");
    u += s.status->GetItem("x");
    u += s.status->GetItem("y"); // replaces x: one connect, one (untriggered) disconnect
    u += s.room->GetItem("r");
    u -= s.room->GetItem("r");
    QCOMPARE(Join(log), Join({ "u", "u", "u" }));
}

void TestStoreEvents::pathNotConnectedFiresWhenLastPartnerGoes()
{
    Schema s;
    std::vector<std::string> log;
    DataHandler h;
    auto* root = new PathNode(&s.data, "room");
    new PathNode(root, "user", PathNotConnected);
    auto fire = [&](ItemPtr i) { log.push_back("empty " + i.AsStdString()); };
    s.data.AddPathEventHandler(root, h.Register(new FunctionEventHandler<ItemPtr, decltype(fire)>(fire)));
    ItemPtr r = s.room->GetItem("r");
    ItemPtr a = s.user->GetItem("a"), b = s.user->GetItem("b");
    r += a;
    r += b;
    r -= a;
    QVERIFY(log.empty());
    b.Remove();
    QCOMPARE(Join(log), Join({ "empty r" }));
}

void TestStoreEvents::pathRootedAtOneItem()
{
    Schema s;
    std::vector<std::string> log;
    DataHandler h;
    ItemPtr watched = s.user->GetItem("me");
    auto* root = new PathNode(watched);
    new PathNode(root, "status", PathConnectTrigger);
    auto fire = [&](ItemPtr i) { log.push_back(i["status"].AsStdString()); };
    s.data.AddPathEventHandler(root, h.Register(new FunctionEventHandler<ItemPtr, decltype(fire)>(fire)));
    s.user->GetItem("other") += s.status->GetItem("x");
    watched += s.status->GetItem("away");
    QCOMPARE(Join(log), Join({ "away" }));
    watched.Remove();
    // A new item at the same address must not revive the watch.
    for (int n = 0; n < 100; ++n)
        s.user->GetItem(n) += s.status->GetItem("y");
    QCOMPARE(log.size(), size_t(1));
}

QTEST_GUILESS_MAIN(TestStoreEvents)
#include "tst_storeevents.moc"
