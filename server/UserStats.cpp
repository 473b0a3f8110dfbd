#include "UserStats.h"
#include "store/InputStream.h"
#include "store/OutputStream.h"

bool UserStats::Read(InputStream& stream)
{
    return stream.ReadUInt32(averageSpeed) && stream.ReadUInt64(uploadCount) && stream.ReadUInt32(fileCount)
        && stream.ReadUInt32(folderCount);
}

bool UserStats::Write(OutputStream& stream) const
{
    return stream.WriteUInt32(averageSpeed) && stream.WriteUInt64(uploadCount)
        && stream.WriteUInt32(fileCount) && stream.WriteUInt32(folderCount);
}
