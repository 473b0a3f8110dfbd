#include "FileStamp.h"
#include <sys/stat.h>

namespace {
FileStamp From(const struct stat& info)
{
    if (!S_ISREG(info.st_mode))
        return FileStamp();
    return FileStamp { qint64(info.st_size),
        qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec };
}
} // namespace

FileStamp FileStamp::OfDescriptor(int descriptor)
{
    struct stat info;
    if (descriptor < 0 || ::fstat(descriptor, &info) != 0)
        return FileStamp();
    return From(info);
}
