// The user-list importer over any bytes: no crash, no allocation beyond the
// bytes present, and a refused file adds no user.
#include "HeapBudget.h"
#include "store/ConfigurationImporter.h"
#include "store/Data.h"
#include <QBuffer>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (!d.HasType("user")) {
        Type* user = d.NewType("user", kEntity, false, true);
        user->RelateToType(d.NewType("in_user_list", kAttribute, true, false), One, One);
    }
    // The users named, a few dozen bytes of store for each byte of the file.
    fuzz::HeapBudget budget(64 * size + (1 << 20), "fuzz_userlist");
    QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    const bool ok = ConfigurationImporter::ImportUserList(buffer);
    const size_t users = d.GetType("user")->Count();
    if (users != d.GetType("in_user_list")->Count() || (!ok && users != 0))
        std::abort();
    d.Clear();
    return 0;
}
