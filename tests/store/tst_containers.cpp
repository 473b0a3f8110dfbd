// The store's own containers: the chunked ordered set of items, the value
// index and the sort done in slices, checked against the standard ones.
#include "store/Data.h"
#include "store/ItemPool.h"
#include "store/SlicedSort.h"
#include "store/SmallBlocks.h"
#include "store/ValueIndex.h"
#include <malloc.h>
#include <QtTest>
#include <algorithm>
#include <array>
#include <map>
#include <random>

namespace {
// Items of one type, in creation order, for filling sets by hand.
struct Items {
    Data data;
    Type* type = data.NewType("thing", kEntity);
    std::vector<Item*> all;
    explicit Items(int count)
    {
        for (int n = 0; n < count; ++n)
            all.push_back(type->NewItem(Value(qint64(n))).Get());
    }
    Items(int count, std::string (*text)(size_t))
    {
        for (int n = 0; n < count; ++n)
            all.push_back(type->NewItem(Value(text(size_t(n)))).Get());
    }
};

std::vector<Item*> Members(const ChunkedSet& set)
{
    std::vector<Item*> out;
    for (ChunkedSet::Position p; set.Valid(p); set.Advance(p))
        out.push_back(set.At(p));
    return out;
}

std::vector<size_t> ChunkSizes(const ChunkedSet& set)
{
    std::vector<size_t> sizes;
    for (ChunkedSet::Position p; set.Valid(p); set.Advance(p)) {
        if (p.index == 0)
            sizes.push_back(0);
        ++sizes.back();
    }
    return sizes;
}

bool BySerial(const Item* a, const Item* b)
{
    return a->serial < b->serial;
}
}

class TestContainers : public QObject {
    Q_OBJECT

private slots:
    void smallBlocksKeepContentsAndGiveMemoryBack()
    {
        // Blocks of every size, some resized within and across size steps and
        // to and from the large sizes that malloc serves, all written with
        // their own pattern and read back; freed in bulk, their memory leaves
        // the pools (one spare slab per size may stay).
        const size_t before = mallinfo2().uordblks + mallinfo2().hblkhd;
        std::mt19937 random(5);
        struct Block {
            unsigned char* p;
            size_t size;
            unsigned char seed;
        };
        std::vector<Block> blocks;
        auto fill = [](const Block& b) {
            for (size_t k = 0; k < b.size; ++k)
                b.p[k] = static_cast<unsigned char>(b.seed + k);
        };
        auto intact = [](const Block& b, size_t upTo) {
            for (size_t k = 0; k < std::min(b.size, upTo); ++k)
                if (b.p[k] != static_cast<unsigned char>(b.seed + k))
                    return false;
            return true;
        };
        for (int k = 0; k < 200000; ++k) {
            const size_t size = 1 + random() % (SmallBlocks::kMaxPooled + 40);
            Block b { static_cast<unsigned char*>(SmallBlocks::Allocate(size)), size, static_cast<unsigned char>(k) };
            fill(b);
            blocks.push_back(b);
        }
        for (size_t k = 0; k < blocks.size(); k += 3) {
            Block& b = blocks[k];
            const size_t size = 1 + random() % (SmallBlocks::kMaxPooled + 40);
            b.p = static_cast<unsigned char*>(SmallBlocks::Resize(b.p, b.size, size));
            QVERIFY(intact({ b.p, b.size, b.seed }, size));
            b.size = size;
            fill(b);
        }
        // Every other block freed, then new ones in their place.
        for (size_t k = 0; k < blocks.size(); k += 2) {
            SmallBlocks::Release(blocks[k].p, blocks[k].size);
            blocks[k].p = static_cast<unsigned char*>(SmallBlocks::Allocate(blocks[k].size));
            fill(blocks[k]);
        }
        for (const Block& b : blocks)
            QVERIFY(intact(b, b.size));
        const size_t peak = mallinfo2().uordblks + mallinfo2().hblkhd;
        for (const Block& b : blocks)
            SmallBlocks::Release(b.p, b.size);
        blocks = {};
        malloc_trim(0);
        // What stays is a spare slab per size, a small part of the peak; the
        // same again keeps no more.
        const size_t after = mallinfo2().uordblks + mallinfo2().hblkhd;
        for (int round = 0; round < 2; ++round) {
            std::vector<std::pair<void*, size_t>> again;
            for (int k = 0; k < 200000; ++k) {
                const size_t size = 1 + random() % SmallBlocks::kMaxPooled;
                again.emplace_back(SmallBlocks::Allocate(size), size);
            }
            for (const auto& [p, size] : again)
                SmallBlocks::Release(p, size);
        }
        malloc_trim(0);
        if (peak <= before)
            return; // a sanitizer's allocator tells no figures
        QVERIFY(mallinfo2().uordblks + mallinfo2().hblkhd <= after + 256 * 1024);
        QVERIFY2(after < before + (peak - before) / 3,
            qPrintable(QStringLiteral("%1 of %2 kept").arg(qint64(after) - qint64(before)).arg(peak - before)));
    }

    // Sorted a few items a call (the deadline long past) or at once, any
    // length about the run and level bounds, items in any order: the same
    // order as a stable sort, equal keys in the order they came.
    void slicedSortMatchesStableSort()
    {
        std::mt19937 random(7);
        using Keyed = std::pair<int, int>; // a key, and where the item came
        const auto byKey = [](const Keyed& a, const Keyed& b) { return a.first < b.first; };
        for (size_t n : { 0, 1, 255, 256, 257, 513, 1000, 4099 }) {
            for (int shape = 0; shape < 3; ++shape) {
                std::vector<Keyed> items;
                for (size_t k = 0; k < n; ++k) {
                    const int key = shape == 0 ? int(random() % 50) : shape == 1 ? int(k / 3) : int(n - k);
                    items.emplace_back(key, int(k));
                }
                for (bool sliced : { true, false }) {
                    SlicedSort<Keyed, decltype(byKey)> sort(items, byKey);
                    int calls = 1;
                    while (!sort.Run(sliced ? QDeadlineTimer(0) : QDeadlineTimer(QDeadlineTimer::Forever)))
                        ++calls;
                    std::vector<Keyed> expected = items;
                    std::stable_sort(expected.begin(), expected.end(), byKey);
                    QVERIFY2(sort.Items() == expected, qPrintable(QStringLiteral("%1 items, shape %2").arg(n).arg(shape)));
                    QVERIFY(sliced ? calls >= int(n / 256) : calls == 1);
                }
            }
        }
    }

    // The items of a removed queue or share give their memory back, those
    // removed now and then leave it for the next ones.
    void removedItemsGiveTheirMemoryBack()
    {
        auto heap = [] { return mallinfo2().uordblks + mallinfo2().hblkhd; };
        malloc_trim(0);
        const size_t before = heap();
        Data data;
        Type* type = data.NewType("thing", kEntity, true);
        for (int n = 0; n < 300000; ++n)
            type->NewItem();
        const size_t peak = heap();
        for (int round = 0; round < 3; ++round) {
            // Every other one removed, and as many made again: no more room.
            ItemSet items = type->GetItems();
            int n = 0;
            for (ItemPtr item : items)
                if (n++ % 2)
                    item.Remove();
            for (int k = 0; k < 150000; ++k)
                type->NewItem();
        }
        QCOMPARE(type->Count(), size_t(300000));
        const size_t churned = heap();
        type->GetItems().Remove();
        QCOMPARE(data.ItemCount(), size_t(0));
        // The pool's block kept empty takes new objects once the others are full.
        ItemPool<std::array<char, 64>> pool;
        for (int round = 0; round < 2; ++round) {
            std::vector<std::array<char, 64>*> made;
            for (int n = 0; n < 200000; ++n)
                made.push_back(pool.Create());
            for (auto* object : made)
                pool.Destroy(object);
        }
        malloc_trim(0);
        const size_t after = heap();
        if (peak <= before)
            return; // a sanitizer's allocator tells no figures
        QVERIFY2(churned < peak + (peak - before) / 10, qPrintable(QString::number(qint64(churned - peak))));
        QVERIFY2(after < before + (peak - before) / 10,
            qPrintable(QStringLiteral("%1 of %2 kept").arg(qint64(after) - qint64(before)).arg(peak - before)));
    }
    void setMatchesOrderedModel();
    void setNewestMemberAfterErase();
    void setChunksStayBoundedAndLean();
    void setCopiesAndMoves();
    void indexTagCollisions();
    void indexMatchesMapUnderChurn();
    void indexReserveAvoidsGrowth();
    void indexGrowsWhileInUse();
};

void TestContainers::setMatchesOrderedModel()
{
    // Random inserts and erases over chunk splits, chunk removal and the
    // step from one chunk to many and back.
    Items items(4000);
    std::mt19937 rng(11);
    for (int round = 0; round < 3; ++round) {
        ChunkedSet set;
        std::vector<Item*> model;
        std::uniform_int_distribution<size_t> pick(0, items.all.size() - 1);
        for (int step = 0; step < 20000; ++step) {
            Item* item = items.all[pick(rng)];
            auto at = std::lower_bound(model.begin(), model.end(), item, BySerial);
            bool present = at != model.end() && *at == item;
            QCOMPARE(set.Contains(item), present);
            // More inserts than erases early on, more erases later.
            bool insert = (step % 7) < (step < 12000 ? 5 : 2) - round % 2;
            if (insert) {
                QCOMPARE(set.Insert(item), !present);
                if (!present)
                    model.insert(at, item);
            } else {
                QCOMPARE(set.Erase(item), present);
                if (present)
                    model.erase(at);
            }
            QCOMPARE(set.Size(), model.size());
            if (step % 997 == 0)
                QCOMPARE(Members(set), model);
        }
        QCOMPARE(Members(set), model);
        QCOMPARE(set.First(), model.empty() ? nullptr : model.front());
        for (Item* item : std::vector<Item*>(model))
            QVERIFY(set.Erase(item));
        QVERIFY(set.Empty());
        QVERIFY(!set.Valid(ChunkedSet::Position()));
    }
}

void TestContainers::setNewestMemberAfterErase()
{
    // Appending compares with the newest member the set remembers: that must
    // follow erasing the newest, erasing everything and clearing.
    Items items(2000);
    auto& all = items.all;
    ChunkedSet set;
    set.Insert(all[10]);
    set.Insert(all[20]);
    QVERIFY(set.Erase(all[20]));
    QVERIFY(set.Insert(all[15])); // newer than what is left, older than the erased
    QVERIFY(set.Insert(all[12]));
    QCOMPARE(Members(set), (std::vector<Item*> { all[10], all[12], all[15] }));
    QVERIFY(!set.Insert(all[15]));
    QVERIFY(!set.Contains(all[20]));

    for (Item* item : { all[10], all[12], all[15] })
        QVERIFY(set.Erase(item));
    QVERIFY(set.Empty());
    QVERIFY(set.Insert(all[3])); // older than anything the set held
    QVERIFY(set.Insert(all[1]));
    QCOMPARE(Members(set), (std::vector<Item*> { all[1], all[3] }));

    // The same across chunks: empty the last chunk, then insert into the gap.
    set.Clear();
    QVERIFY(!set.Contains(all[1]));
    for (int n = 0; n < 1200; ++n)
        set.AppendNewest(all[n]);
    QVERIFY(ChunkSizes(set).size() >= 3);
    for (int n = 1199; n >= 1000; --n)
        QVERIFY(set.Erase(all[n]));
    QVERIFY(set.Insert(all[1500]));
    QVERIFY(set.Insert(all[1100]));
    QVERIFY(!set.Insert(all[999]));
    QCOMPARE(set.Size(), size_t(1002));
    auto members = Members(set);
    QCOMPARE(members.back(), all[1500]);
    QCOMPARE(members[members.size() - 2], all[1100]);
    QVERIFY(std::is_sorted(members.begin(), members.end(), BySerial));

    set.Clear();
    QVERIFY(set.Empty());
    set.AppendNewest(all[5]);
    QVERIFY(set.Insert(all[4]));
    QCOMPARE(Members(set), (std::vector<Item*> { all[4], all[5] }));
}

void TestContainers::setChunksStayBoundedAndLean()
{
    Items items(3000);
    auto& all = items.all;
    // Inserting backwards always hits the first chunk: it splits at the cap.
    ChunkedSet set;
    for (int n = 2999; n >= 0; --n)
        QVERIFY(set.Insert(all[n]));
    QCOMPARE(Members(set), all);
    for (size_t size : ChunkSizes(set))
        QVERIFY(size <= ChunkedSet::kMaxChunk && size > 0);

    // A set of 150 appended members keeps little slack; one of 25 reserved
    // up front keeps none.
    ChunkedSet word;
    for (int n = 0; n < 150; ++n)
        word.Insert(all[n]);
    QVERIFY2(word.MemoryBytes() <= 150 * sizeof(Item*) * 5 / 4 + 64,
        qPrintable(QString::number(word.MemoryBytes())));
    ChunkedSet exact;
    exact.Reserve(25);
    for (int n = 0; n < 25; ++n)
        exact.AppendNewest(all[n]);
    QCOMPARE(exact.MemoryBytes(), 25 * sizeof(Item*));

    // Erasing most members gives the memory back.
    for (int n = 0; n < 3000; ++n)
        if (n % 50)
            QVERIFY(set.Erase(all[n]));
    QCOMPARE(set.Size(), size_t(60));
    QVERIFY2(set.MemoryBytes() < 3000, qPrintable(QString::number(set.MemoryBytes())));
}

void TestContainers::setCopiesAndMoves()
{
    Items items(1500);
    auto& all = items.all;
    ChunkedSet many;
    for (Item* item : all)
        many.AppendNewest(item);
    ChunkedSet one;
    one.Insert(all[7]);
    one.Insert(all[9]);

    ChunkedSet copy(many);
    QVERIFY(copy.Erase(all[0]));
    QCOMPARE(many.Size(), size_t(1500));
    QCOMPARE(copy.Size(), size_t(1499));
    ChunkedSet small(one);
    QVERIFY(small.Insert(all[8]));
    QCOMPARE(Members(one), (std::vector<Item*> { all[7], all[9] }));

    ChunkedSet moved(std::move(copy));
    QCOMPARE(moved.Size(), size_t(1499));
    QVERIFY(copy.Empty());
    QVERIFY(copy.Insert(all[3])); // a moved-from set is usable
    copy = many;
    QCOMPARE(Members(copy), all);
    copy = small;
    QCOMPARE(Members(copy), (std::vector<Item*> { all[7], all[8], all[9] }));
    moved = std::move(copy);
    QCOMPARE(moved.Size(), size_t(3));
    QVERIFY(moved.Insert(all[1400]));
    QVERIFY(moved.Contains(all[1400]));
}

void TestContainers::indexTagCollisions()
{
    // Texts whose hashes share the 16 bits a slot keeps: only the text tells
    // them apart, also across tombstones.
    std::vector<std::string> texts;
    const quint64 tag = ValueIndex::Hash("w0") >> 48;
    for (int n = 0; texts.size() < 60; ++n) {
        std::string text = "w" + std::to_string(n);
        if (ValueIndex::Hash(text) >> 48 == tag)
            texts.push_back(text);
    }
    Data data;
    Type* a = data.NewType("a", kEntity);
    Type* b = data.NewType("b", kEntity);
    std::vector<Item*> items, twins;
    for (const auto& t : texts) {
        items.push_back(a->NewItem(Value(t)).Get());
        twins.push_back(b->NewItem(Value(t)).Get());
    }
    ValueIndex index;
    for (size_t k = 0; k < 50; ++k)
        QVERIFY(index.Insert(items[k]));
    for (size_t k = 0; k < 50; ++k) {
        QCOMPARE(index.Find(texts[k]), items[k]);
        QVERIFY(!index.Insert(twins[k])); // the same text is indexed already
        QVERIFY(!index.Erase(twins[k])); // not the indexed item
    }
    for (size_t k = 50; k < 60; ++k)
        QCOMPARE(index.Find(texts[k]), nullptr);
    for (size_t k = 0; k < 50; k += 2)
        QVERIFY(index.Erase(items[k]));
    QCOMPARE(index.Size(), size_t(25));
    for (size_t k = 0; k < 50; ++k)
        QCOMPARE(index.Find(texts[k]), k % 2 ? items[k] : nullptr);
    QVERIFY(!index.Erase(items[0]));
    for (size_t k = 0; k < 50; k += 2)
        QVERIFY(index.Insert(twins[k]));
    for (size_t k = 50; k < 60; ++k)
        QVERIFY(index.Insert(items[k]));
    for (size_t k = 0; k < 60; ++k)
        QCOMPARE(index.Find(texts[k]), k < 50 && k % 2 == 0 ? twins[k] : items[k]);
    QCOMPARE(index.Size(), size_t(60));
}

void TestContainers::indexMatchesMapUnderChurn()
{
    // Steady inserts and erases leave tombstones everywhere: lookups stay
    // right, and rebuilding keeps the table from growing without end.
    Data data;
    Type* type = data.NewType("t", kEntity);
    std::vector<Item*> items;
    for (int n = 0; n < 3000; ++n)
        items.push_back(type->NewItem(Value(std::string(size_t(n % 40), 'x') + std::to_string(n))).Get());
    ValueIndex index;
    std::map<std::string, Item*> model;
    std::mt19937 rng(5);
    size_t largest = 0;
    for (int step = 0; step < 100000; ++step) {
        Item* item = items[rng() % (step < 20000 ? 3000 : 1000)];
        const std::string text = item->value.str();
        bool present = model.count(text) != 0;
        if (rng() % 2) {
            QCOMPARE(index.Insert(item), !present);
            model[text] = item;
        } else {
            QCOMPARE(index.Erase(item), present);
            model.erase(text);
        }
        QCOMPARE(index.Size(), model.size());
        if (step >= 50000)
            largest = std::max(largest, index.MemoryBytes());
    }
    for (Item* item : items) {
        auto it = model.find(item->value.str());
        QCOMPARE(index.Find(item->value), it == model.end() ? nullptr : it->second);
    }
    // About 500 of 1000 texts live: a rebuilt table of a few thousand slots.
    QVERIFY2(largest <= 4096 * 8, qPrintable(QString::number(largest)));
}

void TestContainers::indexReserveAvoidsGrowth()
{
    Items items(5000);
    ValueIndex index;
    for (int n = 0; n < 1000; ++n)
        QVERIFY(index.Insert(items.all[n]));
    index.Reserve(4000);
    const size_t reserved = index.MemoryBytes();
    for (int n = 1000; n < 5000; ++n)
        QVERIFY(index.Insert(items.all[n]));
    QCOMPARE(index.MemoryBytes(), reserved);
    // Filled to 70% at most, and no more than twice what that needs.
    QVERIFY(reserved / 8 * 7 >= 5000 * 10);
    QVERIFY(reserved / 8 * 7 < 5000 * 10 * 2);
    for (int n = 0; n < 5000; ++n)
        QCOMPARE(index.Find(std::to_string(n)), items.all[n]);
}

void TestContainers::indexGrowsWhileInUse()
{
    // A large table's growth moves its items over a few at a time: until
    // they have all moved, lookups, repeated texts and removals must find
    // the ones still in the old table, and a growth (or reserve) during a
    // growth must lose none. Texts too long to sit in their items are read
    // through their own blocks as they move.
    auto text = [](size_t n) { return n % 3 ? std::to_string(n) : "a name past the inline room " + std::to_string(n); };
    Items items(60000, text);
    ValueIndex index;
    std::vector<char> in(items.all.size(), 0);
    size_t count = 0;
    std::mt19937 rng(9);
    for (int step = 0; step < 300000; ++step) {
        // Mostly new texts at first (the table grows several times), then churn.
        const size_t n = rng() % std::min(items.all.size(), size_t(step / 2 + 1));
        Item* item = items.all[n];
        switch (rng() % 5) {
        case 0:
        case 1:
            QCOMPARE(index.Insert(item), !in[n]);
            count += !in[n];
            in[n] = 1;
            break;
        case 2:
            QCOMPARE(index.Erase(item), bool(in[n]));
            count -= in[n];
            in[n] = 0;
            break;
        case 3:
            QCOMPARE(index.Find(text(n)), in[n] ? item : nullptr);
            break;
        default:
            if (step % 997 == 0)
                index.Reserve(rng() % 20000);
        }
        QCOMPARE(index.Size(), count);
    }
    for (size_t n = 0; n < items.all.size(); ++n)
        QCOMPARE(index.Find(text(n)), in[n] ? items.all[n] : nullptr);
}

QTEST_GUILESS_MAIN(TestContainers)
#include "tst_containers.moc"
