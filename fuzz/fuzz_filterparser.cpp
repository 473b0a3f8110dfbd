// The result-filter language: parsing any text and matching any text and item
// must not crash, and matching with and without a remainder must agree.
// Input lines: filter text, tested text, bitrate mode, bitrate, file size.
#include "HeapBudget.h"
#include "store/Data.h"
#include "store/FilterParser.h"
#include <QStringList>
#include <cstdint>
#include <cstdlib>

namespace {
Data& Store()
{
    static Data* store = [] {
        auto* s = new Data;
        Type* result = s->NewType("search_result", kEntity, false, true);
        for (const char* name : { "bitrate_mode", "bitrate", "file_size" })
            result->RelateToType(s->NewType(name, kAttribute, false, true), Many, One);
        return s;
    }();
    return *store;
}

void Check(bool ok)
{
    if (!ok)
        std::abort();
}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Data& store = Store();
    // The filter's words and the texts matched: copies of the input.
    fuzz::HeapBudget budget(64 * size + (1 << 20), "fuzz_filterparser");
    const QString input = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    QStringList lines = input.split(u'\n');
    while (lines.size() < 5)
        lines.append(QString());

    ItemPtr item = store.GetType("search_result")->NewItem("x");
    const char* types[] = { "bitrate_mode", "bitrate", "file_size" };
    for (int n = 0; n < 3; ++n) {
        if (!lines[2 + n].isEmpty())
            item += store.GetType(types[n])->GetItem(lines[2 + n]);
    }

    FilterParser filter;
    filter.Parse(lines[0]);
    for (ItemPtr tested : { ItemPtr(), item }) {
        const int plain = filter.IsMatching(lines[1], nullptr, tested);
        FilterParser rest;
        const int withRest = filter.IsMatching(lines[1], &rest, tested);
        Check(plain >= 0 && plain <= 2);
        Check(plain == withRest);
        if (withRest != 2) {
            // The remainder holds exactly the missing words: it fails the same
            // text the same way, and its conditions are the filter's.
            Check(rest.IsMatching(lines[1], nullptr, tested) == withRest);
            Check(rest.HasAttributes() == filter.HasAttributes());
            Check(rest.MinFilesInFolder() == filter.MinFilesInFolder());
            Check(rest.Words().size() <= filter.Words().size());
        }
    }
    store.Clear();
    return 0;
}
