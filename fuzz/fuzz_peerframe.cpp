// The frame reader: the first byte picks plain or obfuscated, the limit and
// the piece size; the rest is fed in pieces of at most Wanted() bytes. Every
// frame respects the limit, and the frames do not depend on how the bytes
// were cut.
#include "HeapBudget.h"
#include "peers/PeerFrameReader.h"
#include <QList>
#include <cstdint>
#include <cstdlib>

namespace {

QList<QByteArray> Read(
    bool obfuscated, quint32 limit, const char* bytes, size_t size, size_t piece, bool& failed)
{
    PeerFrameReader reader(obfuscated, limit);
    QList<QByteArray> frames;
    size_t at = 0;
    failed = false;
    while (at < size) {
        const qint64 wanted = reader.Wanted();
        if (wanted < 1)
            std::abort();
        const size_t n = std::min({ size - at, size_t(wanted), piece });
        const auto result = reader.Feed(bytes + at, qint64(n));
        at += n;
        if (result == PeerFrameReader::TooLong) {
            failed = true;
            break;
        }
        if (result == PeerFrameReader::FrameReady) {
            frames.append(reader.TakeFrame());
            if (frames.back().size() > qsizetype(limit))
                std::abort();
        }
    }
    return frames;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    // The frames read twice over, and one frame under way of at most the
    // limit (1 MiB) each time.
    fuzz::HeapBudget budget(16 * size + (4 << 20), "fuzz_peerframe");
    const bool obfuscated = data[0] & 1;
    const quint32 limit = (data[0] & 2) ? 64 : 1 << 20;
    const size_t piece = 1 + (data[0] >> 2);
    const char* bytes = reinterpret_cast<const char*>(data + 1);
    bool failedSmall = false;
    bool failedWhole = false;
    const QList<QByteArray> small = Read(obfuscated, limit, bytes, size - 1, piece, failedSmall);
    const QList<QByteArray> whole = Read(obfuscated, limit, bytes, size - 1, size, failedWhole);
    if (small != whole || failedSmall != failedWhole)
        std::abort();
    return 0;
}
