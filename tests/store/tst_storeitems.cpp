// Types, items, values, connections and sets of the item store.
#include "store/Data.h"
#include "store/SlicedSweep.h"
#include <QtTest>
#include <algorithm>
#include <random>

namespace {
QString Join(const std::vector<std::string>& v)
{
    QStringList parts;
    for (const auto& s : v)
        parts << QString::fromStdString(s);
    return parts.join(" | ");
}

// What the store error E that the call throws says; empty when none is thrown.
template <class E, class Call> QByteArray ErrorOf(Call call)
{
    try {
        call();
    } catch (const E& e) {
        return e.what();
    }
    return {};
}
}

class TestStoreItems : public QObject {
    Q_OBJECT

private slots:
    void typesByName();
    void autoCreateAndValueIndex();
    void nullTypesAndGlobalNullItem();
    void oneEndReplacesPartner();
    void connectIsIdempotentAndNeedsRelation();
    void setsAlgebraAndFilters();
    void sortsLeaveOutMembersWithoutKey();
    void subsetIntersectsAndFollowsSmallest();
    void largeFanOutStaysConsistent();
    void sweepKeepsReachableItems();
    void sweepFollowsOwningRelations();
    void slicedSweepFollowsChangesAndEndsWithTheStore();
    void globalHelpers();
};

void TestStoreItems::typesByName()
{
    Data data;
    Type* user = data.NewType("user", kEntity, false, true);
    QCOMPARE(data.GetType("user"), user);
    QCOMPARE(data.GetType(std::string("user")), user);
    QCOMPARE(data.HasType("room"), nullptr);
    // Each error names the type, so that one nobody catches says which.
    QVERIFY(ErrorOf<TypeAlreadyExistsException>([&] { data.NewType("user", kEntity); }).contains("\"user\""));
    QCOMPARE(ErrorOf<TypeNotFoundException>([&] { data.GetType("room"); }),
        QByteArray("no item type \"room\" was declared"));
    // A name built at run time at a reused address still finds the right type.
    data.NewType("room", kEntity);
    std::string a = "user", b = "room";
    QCOMPARE(data.GetType(a.c_str())->Name(), std::string("user"));
    a = "room";
    QCOMPARE(data.GetType(a.c_str())->Name(), std::string("room"));
    Type* other = data.NewType("other", kAttribute);
    user->RelateToType(other, Many, One);
    QVERIFY(
        ErrorOf<AlreadyRelatedException>([&] { other->RelateToType(user, Many, One); }).contains("\"user\""));
    QCOMPARE(user->GetRelation(other)->otherEnd, One);
    QCOMPARE(other->GetRelation(user)->thisEnd, One);
}

void TestStoreItems::autoCreateAndValueIndex()
{
    Data data;
    Type* user = data.NewType("user", kEntity, false, true);
    Type* fixed = data.NewType("fixed", kEntity, false, false);
    int added = 0;
    DataHandler owner;
    owner.SubscribeFunction(user->itemAdded, [&](ItemPtr) { ++added; });

    QVERIFY(user->HasItem("alice").IsNull());
    ItemPtr alice = user->GetItem("alice");
    QVERIFY(alice);
    QCOMPARE(added, 1);
    QCOMPARE((*user)["alice"], alice);
    QCOMPARE(user->HasItem("alice"), alice);
    QCOMPARE(added, 1);
    QCOMPARE(alice.AsStdString(), std::string("alice"));
    QVERIFY(fixed->GetItem("x").IsNull());
    QCOMPARE(fixed->Count(), size_t(0));

    // Values compare byte for byte.
    ItemPtr upper = user->GetItem("Alice");
    QVERIFY(upper != alice);
    // A duplicate value: removing the indexed one lets the other be found.
    ItemPtr twin = user->NewItem("alice");
    QVERIFY(twin != alice);
    QCOMPARE(user->HasItem("alice"), alice);
    alice.Remove();
    QCOMPARE(user->HasItem("alice"), twin);
    twin.Remove();
    QVERIFY(user->HasItem("alice").IsNull());
    ItemPtr d1 = user->NewItem("dup"), d2 = user->NewItem("dup"), d3 = user->NewItem("dup");
    d2.Remove(); // not the indexed one
    d1.Remove();
    QCOMPARE(user->HasItem("dup"), d3);
    d3.Remove();
    QVERIFY(user->HasItem("dup").IsNull());
    QCOMPARE(user->Count(), size_t(1));

    // Display text: UTF-8 both ways.
    ItemPtr u = user->GetItem(QString::fromUtf8("Zoë"));
    QCOMPARE(u.AsString(), QString::fromUtf8("Zoë"));
    QCOMPARE(u.AsStdString(), std::string("Zo\xc3\xab"));
    // Display text is cut at its first NUL character.
    QCOMPARE(Value(QString("ab") + QChar(0) + "cd").Text(), std::string("ab"));

    // Numbers and pointers as values keep all their bits.
    Type* t = data.NewType("t", kAttribute);
    QCOMPARE(t->GetItem(-42).AsInt(), -42);
    QCOMPARE(t->GetItem(4000000000u).AsUInt(), 4000000000u);
    QCOMPARE(t->GetItem(9000000000LL).AsInt64(), 9000000000LL);
    QCOMPARE(t->GetItem("12abc").AsInt(), 0);
    QCOMPARE(t->GetItem("").AsInt64(), 0);
    QCOMPARE(t->GetItem("99999999999").AsInt(), 0); // does not fit
    // An address above 4 GiB survives the round trip.
    auto* fake = reinterpret_cast<QObject*>(quintptr(0x7f12345678f0ULL));
    ItemPtr p = t->GetItem(fake);
    QCOMPARE(p.AsUInt64(), quint64(0x7f12345678f0ULL));
    QCOMPARE(p.AsPointer<QObject>(), fake);
    QCOMPARE(t->HasItem(fake), p);
}

void TestStoreItems::nullTypesAndGlobalNullItem()
{
    Data data;
    Type* flag = data.NewType("unshared", kAttribute, true, false);
    Type* user = data.NewType("user", kEntity);
    ItemPtr g1 = flag->GetGlobalNullItem();
    QCOMPARE(flag->GetGlobalNullItem(), g1);
    QVERIFY(flag->NewItem() != flag->NewItem());
    QVERIFY(ErrorOf<NullTypeException>([&] { user->GetGlobalNullItem(); }).contains("\"user\""));
    QVERIFY(ErrorOf<NullTypeException>([&] { flag->NewItem("x"); }).contains("\"unshared\""));
    QVERIFY(flag->HasItem("").IsNull());
    g1.Remove();
    QVERIFY(flag->GetGlobalNullItem() != ItemPtr());

    // Null handles are safe to use.
    ItemPtr n;
    QVERIFY(n["x"].IsNull());
    QVERIFY(n.GetItems("x").Empty());
    QVERIFY(!n.IsConnected("x"));
    QVERIFY(n.IsDisconnectedFromAll());
    QCOMPARE(n.AsInt(), 0);
    QCOMPARE(n.AsString(), QString());
    n.Remove();
    n.Disconnect("x");
    QCOMPARE(n += ItemPtr(), ItemPtr());
}

void TestStoreItems::oneEndReplacesPartner()
{
    Data data;
    Type* entry = data.NewType("download_entry", kEntity);
    Type* status = data.NewType("status", kAttribute);
    // An entry has one status; a status serves many entries.
    entry->RelateToType(status, Many, One);
    ItemPtr e1 = entry->GetItem("1"), e2 = entry->GetItem("2");
    ItemPtr queued = status->GetItem("queued"), done = status->GetItem("complete");
    std::vector<std::string> log;
    DataHandler owner;
    owner.SubscribeFunction(entry->disconnected, [&](ConnectionInfo& c) { log.push_back("-" + c.second.AsStdString()); });
    owner.SubscribeFunction(entry->connected, [&](ConnectionInfo& c) { log.push_back("+" + c.second.AsStdString()); });

    e1 += queued;
    e2 += queued;
    QCOMPARE(queued.CountItems("download_entry"), size_t(2));
    QCOMPARE(e1 += done, done);
    QCOMPARE(e1["status"], done);
    QVERIFY(!e1.IsConnected(queued));
    QVERIFY(e2.IsConnected(queued));
    QCOMPARE(Join(log), Join({ "+queued", "+queued", "-queued", "+complete" }));

    // Connecting from the other side replaces too.
    queued += e1;
    QCOMPARE(e1["status"], queued);
    QVERIFY(!done.IsConnected("download_entry"));
    e1 -= queued;
    QVERIFY(e1["status"].IsNull());
    QVERIFY(e1.IsDisconnectedFromAll());
}

void TestStoreItems::connectIsIdempotentAndNeedsRelation()
{
    Data data;
    Type* a = data.NewType("a", kEntity);
    Type* b = data.NewType("b", kAttribute);
    Type* c = data.NewType("c", kAttribute);
    a->RelateToType(b, Many, Many);
    ItemPtr x = a->GetItem("x"), y = b->GetItem("y");
    int events = 0;
    DataHandler owner;
    owner.SubscribeFunction(data.connected, [&](ConnectionInfo&) { ++events; });
    x += y;
    x += y;
    y += x;
    QCOMPARE(events, 1);
    QVERIFY(ErrorOf<NotRelatedException>([&] { x += c->GetItem("z"); }).contains("\"c\""));
    x.Disconnect("b");
    QVERIFY(!x.IsConnected("b"));
    QVERIFY(y.IsDisconnectedFromAll());

    // A new partner where one is allowed reuses the one there is.
    Type* user = data.NewType("user", kEntity);
    Type* inList = data.NewType("in_user_list", kAttribute, true, false);
    Type* note = data.NewType("note", kAttribute, true, false);
    user->RelateToType(inList, One, One);
    user->RelateToType(note, One, Many);
    ItemPtr u = user->GetItem("bob");
    ItemPtr flag = u.NewItem("in_user_list");
    QVERIFY(flag);
    QCOMPARE(u.NewItem("in_user_list"), flag);
    QCOMPARE(inList->Count(), size_t(1));
    // Where many partners are allowed, each call makes a new one.
    ItemPtr n1 = u.NewItem("note"), n2 = u.NewItem("note");
    QVERIFY(n1 != n2);
    QCOMPARE(u.GetItems("note").Size(), size_t(2));
    QVERIFY(ItemPtr().NewItem("note").IsNull());
}

void TestStoreItems::setsAlgebraAndFilters()
{
    Data data;
    Type* user = data.NewType("user", kEntity);
    Type* room = data.NewType("room", kEntity);
    user->RelateToType(room, Many, Many);
    ItemPtr a = user->GetItem("a"), b = user->GetItem("b"), c = user->GetItem("c");
    ItemPtr r1 = room->GetItem("r1"), r2 = room->GetItem("r2");
    a += r1;
    b += r1;
    b += r2;

    ItemSet all = user->GetItems();
    QCOMPARE(all.Size(), size_t(3));
    QCOMPARE(ItemPtr(all), a); // creation order
    QCOMPARE(all.Connected(r1).ToList(), (ItemList { a, b }));
    QCOMPARE(all.Connected("room").ToList(), (ItemList { a, b }));
    QCOMPARE(all.Connected("room", "r2").ToList(), (ItemList { b }));
    QVERIFY(all.Connected("room", "none").Empty());
    QCOMPARE(all.NotConnected("room").ToList(), (ItemList { c }));
    QCOMPARE(all.NotConnected(r2).ToList(), (ItemList { a, c }));
    QCOMPARE(all.NotConnected("room", "r1").ToList(), (ItemList { c }));
    QCOMPARE(all.GetItems("room").ToList(), (ItemList { r1, r2 }));
    QCOMPARE(all.Connected(ItemSet(r2)).ToList(), (ItemList { b }));
    QVERIFY(all.Connected(ItemPtr()).Empty());

    ItemSet x(a);
    x.Insert(b);
    ItemSet y(b);
    y.Insert(c);
    QCOMPARE(ItemSet(x).Add(y).Size(), size_t(3));
    QCOMPARE(ItemSet(x).Intersect(y).ToList(), (ItemList { b }));
    QVERIFY(!x.Insert(a));
    QVERIFY(x.Erase(a));
    QCOMPARE(x.Size(), size_t(1));
    QVERIFY(!x.Insert(ItemPtr()));

    // Copies are independent; walking a type's copy while removing is safe.
    ItemSet copy = all;
    for (ItemPtr u : user->GetItems())
        u.Remove();
    QCOMPARE(copy.Size(), size_t(3));
    QCOMPARE(user->Count(), size_t(0));
    QVERIFY(r1.IsDisconnectedFromAll());

    all = room->GetItems();
    all.Disconnect("user");
    all.Remove();
    QCOMPARE(room->Count(), size_t(0));
}

void TestStoreItems::sortsLeaveOutMembersWithoutKey()
{
    Data data;
    Type* file = data.NewType("file", kEntity);
    Type* size = data.NewType("size", kAttribute);
    Type* name = data.NewType("name", kAttribute);
    file->RelateToType(size, Many, One);
    file->RelateToType(name, Many, One);
    ItemPtr f1 = file->GetItem("1"), f2 = file->GetItem("2"), f3 = file->GetItem("3"), f4 = file->GetItem("4");
    f1 += size->GetItem("10");
    f2 += size->GetItem("9");
    f3 += size->GetItem(5000000000LL);
    f1 += name->GetItem("b");
    f2 += name->GetItem("A");
    f3 += name->GetItem("a");
    ItemSet all = file->GetItems();
    // Numbers, not texts: 9 before 10.
    QCOMPARE(all.SortNumericBy("size", true), (ItemList { f2, f1, f3 }));
    QCOMPARE(all.SortNumericBy("size", false), (ItemList { f3, f1, f2 }));
    QCOMPARE(all.SortAlphabeticBy("name", true, true), (ItemList { f2, f3, f1 }));
    // Case-insensitive: "A" and "a" are equal and keep creation order.
    QCOMPARE(all.SortAlphabeticBy("name", true, false), (ItemList { f2, f3, f1 }));
    QCOMPARE(all.SortAlphabeticBy("name", false, false), (ItemList { f1, f2, f3 }));
    Type* word = data.NewType("word", kAttribute);
    ItemSet words;
    for (const char* w : { "b", "a", "A", "b" })
        words.Insert(word->NewItem(w));
    ItemList sorted = words.SortAlphabetic(true);
    QCOMPARE(sorted.size(), size_t(4));
    QCOMPARE(sorted[0].AsStdString(), std::string("A"));
    QCOMPARE(sorted[1].AsStdString(), std::string("a"));
    QVERIFY(sorted[2].Serial() < sorted[3].Serial()); // equal texts stay in order
    QCOMPARE(words.SortAlphabetic(false)[3].AsStdString(), std::string("A"));
    Q_UNUSED(f4);
}

void TestStoreItems::subsetIntersectsAndFollowsSmallest()
{
    Data data;
    Type* room = data.NewType("room", kEntity);
    Type* user = data.NewType("user", kEntity);
    Type* ops = data.NewType("room_operators", kLink, true, false);
    room->RelateToType(ops, One, One);
    user->RelateToType(ops, Many, Many);
    ItemPtr r = room->GetItem("r"), u = user->GetItem("u"), v = user->GetItem("v");
    ItemPtr link = r.NewItem("room_operators");
    u += link;
    QCOMPARE(data.GetItem(r, u, "room_operators"), link);
    QVERIFY(data.GetItem(r, v, "room_operators").IsNull());
    QVERIFY(data.GetItem(ItemPtr(), u, "room_operators").IsNull());
    ItemSet both(r);
    both.Insert(u);
    QCOMPARE(data.GetItemSubset(both, "room_operators").ToList(), (ItemList { link }));
    QVERIFY(data.GetItemSubset(ItemSet(), "room_operators").Empty());
    both.Insert(v);
    QVERIFY(data.GetItemSubset(both, "room_operators").Empty());
    QCOMPARE(data.GetItems(ItemSet(r), "room_operators").ToList(), (ItemList { link }));

    // A word shared by 5000 files and one shared by three: the answer is the three
    // that have both.
    Type* token = data.NewType("token", kAttribute);
    Type* file = data.NewType("file", kEntity);
    token->RelateToType(file, Many, Many);
    ItemPtr common = token->GetItem("the"), rare = token->GetItem("zebra");
    ItemList expect;
    for (int n = 0; n < 5000; ++n) {
        ItemPtr f = file->GetItem(n);
        common += f;
        if (n % 1700 == 0) {
            rare += f;
            expect.push_back(f);
        }
    }
    ItemSet words(common);
    words.Insert(rare);
    QCOMPARE(data.GetItemSubset(words, "file").ToList(), expect);
}

void TestStoreItems::largeFanOutStaysConsistent()
{
    // One folder with many files, connected and disconnected in random order:
    // the folder's connections go through the grouped storage and chunk splits.
    Data data;
    Type* folder = data.NewType("folder", kEntity);
    Type* file = data.NewType("file", kLink);
    Type* tag = data.NewType("tag", kAttribute);
    folder->RelateToType(file, One, Many);
    file->RelateToType(tag, Many, Many);
    ItemPtr f = folder->GetItem("root");
    std::vector<ItemPtr> files;
    for (int n = 0; n < 3000; ++n)
        files.push_back(file->GetItem(n));
    std::mt19937 rng(7);
    std::vector<ItemPtr> shuffled = files;
    std::shuffle(shuffled.begin(), shuffled.end(), rng);
    for (ItemPtr x : shuffled)
        f += x;
    ItemSet got = f.GetItems("file");
    QCOMPARE(got.Size(), size_t(3000));
    QCOMPARE(got.ToList(), ItemList(files.begin(), files.end()));
    for (size_t n = 0; n < shuffled.size(); n += 2)
        f -= shuffled[n];
    QCOMPARE(f.GetItems("file").Size(), size_t(1500));
    for (size_t n = 0; n < shuffled.size(); ++n)
        QCOMPARE(f.IsConnected(shuffled[n]), n % 2 == 1);
    // Small maps: an item with partners of several types keeps them apart.
    ItemPtr one = files[0];
    for (int n = 0; n < 40; ++n)
        one += tag->GetItem(n);
    QCOMPARE(one.GetItems("tag").Size(), size_t(40));
    QCOMPARE(one["tag"], tag->GetItem(0));
    for (int n = 0; n < 40; ++n)
        one -= tag->GetItem(n);
    QVERIFY(!one.IsConnected("tag"));
    for (ItemPtr x : files)
        x.Remove();
    QVERIFY(f.IsDisconnectedFromAll());
}

void TestStoreItems::sweepKeepsReachableItems()
{
    Data data;
    Type* user = data.NewType("user", kEntity);
    Type* link = data.NewType("user_link", kLink, true, false);
    Type* stats = data.NewType("stats", kAttribute);
    Type* deep = data.NewType("deep", kAttribute);
    user->RelateToType(link, Many, Many);
    link->RelateToType(stats, Many, One);
    stats->RelateToType(deep, Many, Many);
    ItemPtr u = user->GetItem("u");
    ItemPtr l = link->NewItem();
    u += l;
    ItemPtr s = stats->GetItem("1");
    l += s;
    ItemPtr behind = deep->GetItem("x");
    s += behind; // reached only through an attribute: not followed
    ItemPtr loose = stats->GetItem("2");
    ItemPtr orphanLink = link->NewItem();
    orphanLink += stats->GetItem("3");
    QCOMPARE(data.RemoveDisconnectedItems(), size_t(4));
    QCOMPARE(stats->Count(), size_t(1));
    QCOMPARE(link->Count(), size_t(1));
    QCOMPARE(deep->Count(), size_t(0));
    QVERIFY(u.IsConnected(l) && l.IsConnected(s));
    Q_UNUSED(loose);
}

void TestStoreItems::sweepFollowsOwningRelations()
{
    Data data;
    Type* request = data.NewType("search_request", kEntity);
    Type* results = data.NewType("search_results", kEntity);
    Type* user = data.NewType("user", kEntity);
    Type* size = data.NewType("file_size", kAttribute);
    request->RelateToType(results, One, Many, true);
    results->RelateToType(user, Many, One);
    results->RelateToType(size, Many, One);
    ItemPtr req = request->GetItem("1");
    ItemPtr kept = results->NewItem("a");
    req += kept;
    kept += size->GetItem("100");
    ItemPtr dropped = results->NewItem("b");
    // Connected to an entity, but not to its owner: it goes.
    dropped += user->GetItem("peer");
    dropped += size->GetItem("200");
    data.RemoveDisconnectedItems();
    QCOMPARE(results->Count(), size_t(1));
    QCOMPARE(results->GetItems().First(), kept);
    QVERIFY(size->HasItem("100"));
    QVERIFY(size->HasItem("200").IsNull());
    QVERIFY(user->HasItem("peer")); // entities stay
    req.Remove();
    data.RemoveDisconnectedItems();
    QCOMPARE(results->Count(), size_t(0));
    QCOMPARE(size->Count(), size_t(0));
}

namespace {
// A hub user with links l0..l39 to stats s0..s39, and loose links gl0..gl39
// with stats gs0..gs39.
void BuildSweptStore(Data& data)
{
    Type* user = data.DeclareType("user", kEntity);
    Type* link = data.DeclareType("link", kLink);
    Type* stats = data.DeclareType("stats", kAttribute);
    data.RelateTypes(user, link, Many, Many);
    data.RelateTypes(link, stats, Many, Many);
    ItemPtr hub = user->GetItem("hub");
    for (const char* prefix : { "", "g" })
        for (int k = 0; k < 40; ++k) {
            ItemPtr l = link->GetItem(prefix + std::string("l") + std::to_string(k));
            l += stats->GetItem(prefix + std::string("s") + std::to_string(k));
            if (!*prefix)
                hub += l;
        }
}

QStringList Survivors(const Data& data)
{
    QStringList names;
    for (Type* t : data.Types())
        for (ItemPtr item : t->GetItems())
            names << QString::fromStdString(t->Name() + ":" + item.Text());
    return names;
}
}

void TestStoreItems::slicedSweepFollowsChangesAndEndsWithTheStore()
{
    // From the event loop, to the end: on a store that does not change, what
    // a sweep at once leaves.
    Data atOnce;
    BuildSweptStore(atOnce);
    atOnce.RemoveDisconnectedItems();
    auto data = std::make_unique<Data>();
    BuildSweptStore(*data);
    SlicedSweep sweep(data.get());
    QVERIFY(sweep.Start() && !sweep.Start());
    QTRY_VERIFY(!sweep.Running());
    QCOMPARE(Survivors(*data), Survivors(atOnce));
    QCOMPARE(sweep.Removed(), size_t(80));

    // A step a slice, while the store changes between the slices.
    BuildSweptStore(*data);
    Type* user = data->GetType("user");
    Type* link = data->GetType("link");
    sweep.Begin();
    QStringList kept;
    for (int step = 0; !sweep.RunSlice(QDeadlineTimer(0), 1); ++step) {
        const std::string n = std::to_string(step);
        // Made meanwhile: kept this cycle.
        if (step < 100) {
            kept << "user:n" + QString::number(step) << "link:nl" + QString::number(step);
            user->GetItem("n" + n);
            link->GetItem("nl" + n);
        }
        // Loose links tied to the followed hub, with what they lead to.
        ItemPtr loose = link->HasItem("gl" + n);
        if (step >= 20 && step % 2 == 0 && loose) {
            user->HasItem("hub") += loose;
            kept << "link:gl" + QString::number(step) << "stats:gs" + QString::number(step);
        }
        // The hub's links, while they wait to be followed.
        if (step > 0 && step < 20)
            link->HasItem("l" + n).Remove();
    }
    for (int k = 20; k < 40; ++k)
        kept << "link:l" + QString::number(k) << "stats:s" + QString::number(k);
    const QStringList survivors = Survivors(*data);
    for (const QString& name : kept)
        QVERIFY2(survivors.contains(name), qPrintable(name));
    QVERIFY(link->HasItem("gl1").IsNull() && data->GetType("stats")->HasItem("gs39").IsNull());

    // A sweep at once, Clear() and the store's end each end a cycle.
    const std::function<void()> ends[]
        = { [&] { data->RemoveDisconnectedItems(); }, [&] { data->Clear(); }, [&] { data.reset(); } };
    for (const auto& end : ends) {
        BuildSweptStore(*data);
        sweep.Begin();
        QVERIFY(!sweep.RunSlice(QDeadlineTimer(0), 1));
        end();
        QVERIFY(!sweep.Running() && sweep.RunSlice(QDeadlineTimer(0), 1));
    }
}

void TestStoreItems::globalHelpers()
{
    Type* t = d.NewType("global_helper_test", kEntity);
    ItemPtr x = t->GetItem("x");
    QCOMPARE(i("global_helper_test", "x").ToList(), (ItemList { x }));
    QVERIFY(i("global_helper_test", "y").Empty());
    QCOMPARE(t->Count(), size_t(1));
    QCOMPARE(g("global_helper_test").Size(), size_t(1));
}

QTEST_GUILESS_MAIN(TestStoreItems)
#include "tst_storeitems.moc"
