// link: store
// The data-file reader on arbitrary bytes: it either merges a well-formed file
// or changes nothing, and never crashes or allocates without bound.
#include "HeapBudget.h"
#include "store/Data.h"
#include "store/DataSaver.h"
#include <QByteArray>

namespace {
struct Schema {
    Data data;
    DataSaver saver { &data };
    Schema()
    {
        Type* user = data.NewType("user", kEntity);
        Type* flag = data.NewType("in_user_list", kAttribute, true, false);
        Type* value = data.NewType("global_value", kAttribute);
        Type* global = data.NewType("global", kEntity);
        user->RelateToType(flag, One, One);
        global->RelateToType(value, Many, One);
        user->RelateToType(user, Many, Many);
    }
};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    // The file's items and connections, a few dozen bytes of store for each
    // byte they take in the file.
    fuzz::HeapBudget budget(64 * size + (1 << 20), "fuzz_datafile");
    Schema s;
    QByteArray input(reinterpret_cast<const char*>(bytes), qsizetype(size));
    size_t before = s.data.ItemCount();
    if (!s.saver.Merge(input) && s.data.ItemCount() != before)
        __builtin_trap(); // a refused file must leave the store as it was
    s.data.RemoveDisconnectedItems();
    return 0;
}
