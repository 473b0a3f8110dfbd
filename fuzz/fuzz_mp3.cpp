// MP3 frame headers from any bytes: fed in the scanner's 64 KiB blocks, the
// decision never crashes and, when it reports attributes, they are ones a
// Layer III header can carry.
#include "HeapBudget.h"
#include "shares/Mp3Scanner.h"
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The counter keeps votes, not the bytes.
    fuzz::HeapBudget budget(1 << 20, "fuzz_mp3");
    Mp3FrameCounter counter;
    const qint64 total = qint64(size);
    for (qint64 start = 0; start < total; start += Mp3FrameCounter::kBlockSize)
        counter.Feed(data + start, std::min(Mp3FrameCounter::kBlockSize, total - start), start, total);
    Mp3Attributes a;
    if (!counter.Decide(a))
        return 0;
    if ((a.version != 1 && a.version != 2) || a.frequencyIndex < 0 || a.frequencyIndex > 2 || a.bitrate < 8
        || a.bitrate > 320 || a.channelMode.isEmpty())
        std::abort();
    return 0;
}
