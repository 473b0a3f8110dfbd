// The item store's own benchmark pieces: a schema of two related entity
// types, a store of n items with 5 connections each, and the data file's load
// timed as the median of three. bench_store reports them; bench_app reports the
// load beside the client's start-up, measured in the same run.
#pragma once
#include "store/Data.h"
#include "store/DataSaver.h"
#include <QElapsedTimer>
#include <QString>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

struct StoreSchema {
    Data data;
    DataSaver saver { &data };
    Type* a;
    Type* b;
    StoreSchema()
    {
        a = data.NewType("a", kEntity);
        b = data.NewType("b", kEntity);
        a->RelateToType(b, Many, Many);
        saver.AddSavedType("a");
        saver.AddSavedType("b");
    }
};

constexpr int kStoreDegree = 5;

// n items with the numbers as values, half of each type, into as and bs.
inline void MakeStoreItems(StoreSchema& schema, long n, std::vector<ItemPtr>& as, std::vector<ItemPtr>& bs)
{
    const long half = n / 2;
    for (long k = 0; k < half; ++k)
        as.push_back(schema.a->NewItem(Value(k)));
    for (long k = 0; k < half; ++k)
        bs.push_back(schema.b->NewItem(Value(k)));
}

// Each a gets 5 partners among the b items, spread so every b also has 5;
// the number of connections.
inline long ConnectStoreItems(const std::vector<ItemPtr>& as, const std::vector<ItemPtr>& bs)
{
    const long half = long(as.size());
    long connections = 0;
    for (long k = 0; k < half; ++k)
        for (int j = 0; j < kStoreDegree; ++j) {
            bs[(k * 7 + j * (half / kStoreDegree + 1)) % half].Connect(as[k]);
            ++connections;
        }
    return connections;
}

// The data file of such a store of n items.
inline void WriteStoreFile(const QString& path, long n)
{
    StoreSchema schema;
    std::vector<ItemPtr> as, bs;
    MakeStoreItems(schema, n, as, bs);
    ConnectStoreItems(as, bs);
    schema.saver.Save(path);
}

// Loads the data file into a fresh schema three times; the median time, so
// that one run disturbed by other work on the machine does not decide it.
inline double StoreLoadSeconds(const QString& path, long n)
{
    std::vector<double> loads;
    QElapsedTimer t;
    for (int round = 0; round < 3; ++round) {
        auto loaded = std::make_unique<StoreSchema>();
        t.start();
        loaded->saver.Load(path);
        loads.push_back(t.elapsed() / 1000.0);
        if (loaded->a->Count() != size_t(n / 2) || loaded->b->Count() != size_t(n / 2))
            std::fprintf(stderr, "load lost items\n");
    }
    std::sort(loads.begin(), loads.end());
    return loads[1];
}

inline void PrintFigure(const char* name, double value, const char* unit, const char* scale)
{
    std::printf("%s%s: %.3f %s\n", name, scale, value, unit);
    std::fflush(stdout);
}

} // namespace
