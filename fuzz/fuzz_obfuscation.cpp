// The obfuscated port's scheme: a key and a frame from the input; the frame
// obfuscated and read back by the obfuscated reader is the same frame; and
// XOR twice under one key is the identity for every length.
#include "HeapBudget.h"
#include "peers/Obfuscation.h"
#include "peers/PeerFrameReader.h"
#include <QtEndian>
#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    // A few copies of the frame.
    fuzz::HeapBudget budget(16 * size + (1 << 20), "fuzz_obfuscation");
    const quint32 key = qFromLittleEndian<quint32>(data);
    const QByteArray body(reinterpret_cast<const char*>(data + 4), qsizetype(size - 4));

    QByteArray framed(4, Qt::Uninitialized);
    qToLittleEndian<quint32>(quint32(body.size()), framed.data());
    framed += body;
    const QByteArray wire = ObfuscateFrame(framed, key);
    if (wire.size() != framed.size() + 4 || qFromLittleEndian<quint32>(wire.constData()) != key)
        std::abort();

    PeerFrameReader reader(true, 1 << 20);
    qint64 at = 0;
    bool done = false;
    while (at < wire.size()) {
        const qint64 n = std::min<qint64>(reader.Wanted(), wire.size() - at);
        const auto result = reader.Feed(wire.constData() + at, n);
        at += n;
        if (result == PeerFrameReader::TooLong)
            std::abort();
        if (result == PeerFrameReader::FrameReady) {
            if (reader.TakeFrame() != body || at != wire.size())
                std::abort();
            done = true;
        }
    }
    if (!done)
        std::abort();

    // Applying the cipher in uneven steps equals applying it at once.
    QByteArray once = body;
    ObfuscationCipher a;
    a.Reset(key);
    a.Apply(once.data(), once.size());
    QByteArray steps = body;
    ObfuscationCipher b;
    b.Reset(key);
    for (qsizetype i = 0; i < steps.size();) {
        const qsizetype n = std::min<qsizetype>(1 + (quint8(body[i]) % 7), steps.size() - i);
        b.Apply(steps.data() + i, n);
        i += n;
    }
    if (once != steps)
        std::abort();
    ObfuscationCipher c;
    c.Reset(key);
    c.Apply(once.data(), once.size());
    if (once != body)
        std::abort();
    return 0;
}
