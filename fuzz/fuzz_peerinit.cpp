// The first frame of a peer connection: any bytes cut into an init frame
// under the init limit and decoded as peer init or pierce firewall, without
// a crash; what decodes re-encodes to the same fields.
#include "HeapBudget.h"
#include "peers/PeerCodes.h"
#include "peers/PeerFrameReader.h"
#include "peers/PeerMessages.h"
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Init frames of at most kMaxInitFrame bytes, decoded one at a time.
    fuzz::HeapBudget budget(16 * size + 8 * kMaxInitFrame + (1 << 20), "fuzz_peerinit");
    const char* bytes = reinterpret_cast<const char*>(data);
    PeerFrameReader reader(false, kMaxInitFrame);
    size_t at = 0;
    while (at < size) {
        const size_t n = std::min<size_t>(size - at, size_t(reader.Wanted()));
        const auto result = reader.Feed(bytes + at, qint64(n));
        at += n;
        if (result == PeerFrameReader::TooLong)
            return 0;
        if (result != PeerFrameReader::FrameReady)
            continue;
        const QByteArray frame = reader.TakeFrame();
        if (frame.size() > qsizetype(kMaxInitFrame))
            std::abort();
        if (frame.isEmpty())
            continue;
        const QByteArray payload = frame.mid(1);
        quint32 token;
        DecodePierceFirewall(payload, token);
        PeerInitMessage init;
        if (DecodePeerInit(payload, init)) {
            if (init.user.isEmpty() || init.type.size() != 1)
                std::abort();
            MemStream again;
            again.WriteString(init.user);
            again.WriteString(init.type);
            again.WriteUInt32(init.token);
            PeerInitMessage back;
            if (!DecodePeerInit(again.GetBuffer(), back) || back.user != init.user
                || back.token != init.token)
                std::abort();
        }
    }
    return 0;
}
