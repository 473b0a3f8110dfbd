// link: store
// Item store figures at scale: creating and connecting, lookup by value, the
// data file's save and load (and how long a save in the background holds its
// caller), memory per item and per connection, and the sweep of twice as many
// items at once against its longest slice when done a slice at a time.
// Usage: bench_store [items]   (default 1000000; each item gets 5 connections)
#include "ScratchFolder.h"
#include "StoreBench.h"
#include "store/SlicedSweep.h"
#include "store/SlicedWork.h"
#include <QCoreApplication>
#include <malloc.h>
#include <random>

namespace {
size_t HeapBytes()
{
    return mallinfo2().uordblks + mallinfo2().hblkhd;
}

// A store of 2n items: 90% kept (entities with 5 connections each), 10%
// unreachable (pairs of a link and an attribute). The same store is swept a
// slice at a time, its unreachable part made again, and swept at once.
void SweepFigures(long n, const char* scale)
{
    StoreSchema schema;
    Type* loose = schema.data.NewType("loose", kLink);
    Type* value = schema.data.NewType("loose_value", kAttribute);
    loose->RelateToType(value, Many, Many);
    std::vector<ItemPtr> as, bs;
    MakeStoreItems(schema, 2 * n * 9 / 10, as, bs);
    ConnectStoreItems(as, bs);
    auto addLoose = [&] {
        for (long k = 0; k < n / 10; ++k)
            loose->NewItem(Value(k)) += value->NewItem(Value(k));
    };
    addLoose();
    SlicedSweep sliced(&schema.data);
    sliced.Begin();
    QElapsedTimer t;
    qint64 longest = 0, total = 0;
    int slices = 0;
    for (bool done = false; !done; ++slices) {
        t.start();
        done = sliced.RunSlice(SlicedWork::Turn());
        longest = std::max(longest, t.nsecsElapsed());
        total += t.nsecsElapsed();
    }
    PrintFigure("store.sweep_longest_slice", longest / 1e6, "ms", scale);
    PrintFigure("store.sweep_sliced_total", total / 1e6, "ms", scale);
    addLoose();
    t.start();
    const size_t removed = schema.data.RemoveDisconnectedItems();
    PrintFigure("store.sweep_at_once", t.nsecsElapsed() / 1e6, "ms", scale);
    if (removed != sliced.Removed() || removed != size_t(2 * (n / 10)))
        std::fprintf(stderr, "the sweeps removed %zu and %zu items\n", sliced.Removed(), removed);
}
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const long n = argc > 1 ? std::atol(argv[1]) : 1000000;
    const char* scale = n == 1000000 ? "_1m" : "";
    const long half = n / 2;
    ScratchFolder dir("store");
    const QString path = dir.filePath(".Marrowby");

    auto schema = std::make_unique<StoreSchema>();
    std::vector<ItemPtr> as, bs;
    as.reserve(half);
    bs.reserve(half);
    size_t heap0 = HeapBytes();
    QElapsedTimer t;
    t.start();
    MakeStoreItems(*schema, n, as, bs);
    size_t heap1 = HeapBytes();
    const long connections = ConnectStoreItems(as, bs);
    double createConnect = t.elapsed() / 1000.0;
    size_t heap2 = HeapBytes();
    PrintFigure("store.create_connect", createConnect, "s", scale);
    PrintFigure("store.bytes_per_item", double(heap1 - heap0) / double(2 * half), "B", "");
    PrintFigure("store.bytes_per_connection", double(heap2 - heap1) / double(connections), "B", "");

    std::vector<long> order(half);
    for (long k = 0; k < half; ++k)
        order[k] = k;
    std::shuffle(order.begin(), order.end(), std::mt19937(1));
    t.restart();
    size_t found = 0;
    for (long k : order) {
        found += !schema->a->HasItem(Value(k)).IsNull();
        found += !schema->b->HasItem(Value(k)).IsNull();
    }
    PrintFigure("store.lookup_by_value", t.elapsed() / 1000.0, "s", scale);
    if (found != size_t(2 * half))
        std::fprintf(stderr, "lookup found %zu of %ld\n", found, 2 * half);

    // Save three times and report the median, as for the load.
    std::vector<double> saves;
    for (int round = 0; round < 3; ++round) {
        t.restart();
        schema->saver.Save(path);
        saves.push_back(t.elapsed() / 1000.0);
    }
    std::sort(saves.begin(), saves.end());
    PrintFigure("store.save", saves[1], "s", scale);
    // The same save with the file written on another thread: how long the
    // caller (the window) waits, the store read into memory.
    std::vector<double> calls;
    for (int round = 0; round < 3; ++round) {
        bool done = false;
        t.restart();
        schema->saver.SaveInBackground(path, [&](bool) { done = true; });
        calls.push_back(t.elapsed() / 1000.0);
        while (!done)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    std::sort(calls.begin(), calls.end());
    PrintFigure("store.save_in_background_wait", calls[1], "s", scale);
    as.clear();
    bs.clear();
    schema.reset();

    PrintFigure("store.load", StoreLoadSeconds(path, n), "s", scale);
    SweepFigures(n, n == 1000000 ? "_2m" : "");
    return 0;
}
