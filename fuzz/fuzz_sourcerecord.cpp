// The record of a downloaded file's source, as read back from the disk: any
// bytes parse or are refused without a crash; what parses, formatted and
// parsed again, is the same source.
#include "transfers/SourceRecord.h"
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString path = QStringLiteral("downloading/Album/01 - track.flac");
    const std::optional<FileSource> source = ParseSourceRecord(bytes, path);
    if (source && ParseSourceRecord(FormatSourceRecord(path, *source), path) != source)
        std::abort();
    return 0;
}
