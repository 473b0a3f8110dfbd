// Search queries: any text parses without a crash, the result says whether there
// is a word to look for, and no set holds an empty word.
#include "HeapBudget.h"
#include "store/SearchParser.h"
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The query's words: copies of the input.
    fuzz::HeapBudget budget(64 * size + (1 << 20), "fuzz_searchparser");
    const QString query = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    SearchParser parser;
    const bool ok = parser.SetSearchText(query);
    if (ok != (!parser.GetIncludedTokenSet().isEmpty() || !parser.GetIncludedPartTokenSet().isEmpty()))
        std::abort();
    for (const auto* set :
        { &parser.GetIncludedTokenSet(), &parser.GetIncludedPartTokenSet(), &parser.GetExcludedTokenSet() }) {
        if (set->contains(QString()))
            std::abort();
    }
    return 0;
}
