// link: store
// Item store figures at scale: creating and connecting, lookup by value, the
// data file's save and load, and memory per item and per connection.
// Usage: bench_store [items]   (default 1000000; each item gets 5 connections)
#include "store/Data.h"
#include "store/DataSaver.h"
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>
#include <malloc.h>
#include <algorithm>
#include <random>

namespace {
size_t HeapBytes() { return mallinfo2().uordblks + mallinfo2().hblkhd; }

struct Schema {
    Data data;
    DataSaver saver { &data };
    Type* a;
    Type* b;
    Schema()
    {
        a = data.NewType("a", kEntity);
        b = data.NewType("b", kEntity);
        a->RelateToType(b, Many, Many);
        saver.AddSavedType("a");
        saver.AddSavedType("b");
    }
};

void Print(const char* name, double value, const char* unit, const char* scale)
{
    std::printf("%s%s: %.3f %s\n", name, scale, value, unit);
    std::fflush(stdout);
}
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const long n = argc > 1 ? std::atol(argv[1]) : 1000000;
    const char* scale = n == 1000000 ? "_1m" : "";
    const long half = n / 2;
    const int degree = 5;
    QTemporaryDir dir;
    const QString path = dir.filePath(".Marrowby");

    auto schema = std::make_unique<Schema>();
    std::vector<ItemPtr> as, bs;
    as.reserve(half);
    bs.reserve(half);
    std::vector<ItemPtr> all;
    size_t heap0 = HeapBytes();
    QElapsedTimer t;
    t.start();
    for (long k = 0; k < half; ++k)
        as.push_back(schema->a->NewItem(Value(k)));
    for (long k = 0; k < half; ++k)
        bs.push_back(schema->b->NewItem(Value(k)));
    size_t heap1 = HeapBytes();
    // Each a gets 5 partners among the b items, spread so every b also has 5.
    long connections = 0;
    for (long k = 0; k < half; ++k)
        for (int j = 0; j < degree; ++j) {
            bs[(k * 7 + j * (half / degree + 1)) % half].Connect(as[k]);
            ++connections;
        }
    double createConnect = t.elapsed() / 1000.0;
    size_t heap2 = HeapBytes();
    Print("store.create_connect", createConnect, "s", scale);
    Print("store.bytes_per_item", double(heap1 - heap0) / double(2 * half), "B", "");
    Print("store.bytes_per_connection", double(heap2 - heap1) / double(connections), "B", "");

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
    Print("store.lookup_by_value", t.elapsed() / 1000.0, "s", scale);
    if (found != size_t(2 * half))
        std::fprintf(stderr, "lookup found %zu of %ld\n", found, 2 * half);

    // Save and load three times each and report the median, so that one
    // run disturbed by other work on the machine does not decide the figure.
    std::vector<double> saves, loads;
    for (int round = 0; round < 3; ++round) {
        t.restart();
        schema->saver.Save(path);
        saves.push_back(t.elapsed() / 1000.0);
    }
    std::sort(saves.begin(), saves.end());
    Print("store.save", saves[1], "s", scale);
    as.clear();
    bs.clear();
    schema.reset();

    for (int round = 0; round < 3; ++round) {
        auto loaded = std::make_unique<Schema>();
        t.restart();
        loaded->saver.Load(path);
        loads.push_back(t.elapsed() / 1000.0);
        if (loaded->a->Count() != size_t(half) || loaded->b->Count() != size_t(half))
            std::fprintf(stderr, "load lost items\n");
    }
    std::sort(loads.begin(), loads.end());
    Print("store.load", loads[1], "s", scale);
    return 0;
}
