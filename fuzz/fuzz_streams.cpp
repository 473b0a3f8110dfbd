// link: store
// Typed reads driven by the input itself. Each step reads an opcode byte, then
// the value it names, from two readers over the same bytes: a MemStream and a
// block-buffered Stream with a tiny block (so values straddle block edges).
// Both must agree on every result until the first failure, and what they read
// must re-encode to the same bytes. A second pass copies, appends to, seeks
// and clears MemStreams in the order the input says.
#include "HeapBudget.h"
#include <QBuffer>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "store/MemStream.h"
#include "store/Stream.h"

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

struct Record : Persistent {
    quint32 id = 0;
    QString name;
    std::vector<quint64> sizes;

    bool Read(InputStream& s) override { return s.Read(id) && s.Read(name) && s.Read(sizes); }
    bool Write(OutputStream& s) const override { return s.Write(id) && s.Write(name) && s.Write(sizes); }
    bool operator==(const Record& o) const { return id == o.id && name == o.name && sizes == o.sizes; }
};

constexpr int kOps = 15;

// Reads one value of the kind op from both readers, checks they agree and
// writes it to both writers. Returns whether the read succeeded.
template <class T> bool Step(InputStream& a, InputStream& b, OutputStream& outA, OutputStream& outB)
{
    T va {}, vb {};
    const bool okA = a.Read(va);
    const bool okB = b.Read(vb);
    Check(okA == okB);
    if (!okA)
        return false;
    Check(va == vb);
    Check(outA.Write(va));
    Check(outB.Write(vb));
    return true;
}

bool ReadOne(int op, InputStream& a, InputStream& b, OutputStream& outA, OutputStream& outB)
{
    switch (op) {
    case 0:
        return Step<quint8>(a, b, outA, outB);
    case 1:
        return Step<bool>(a, b, outA, outB);
    case 2:
        return Step<quint16>(a, b, outA, outB);
    case 3:
        return Step<quint32>(a, b, outA, outB);
    case 4:
        return Step<qint32>(a, b, outA, outB);
    case 5:
        return Step<quint64>(a, b, outA, outB);
    case 6:
        return Step<qint64>(a, b, outA, outB);
    case 7:
        return Step<std::string>(a, b, outA, outB);
    case 8:
        return Step<QString>(a, b, outA, outB);
    case 9:
        return Step<QByteArray>(a, b, outA, outB);
    case 10:
        return Step<std::vector<quint32>>(a, b, outA, outB);
    case 11:
        return Step<QList<QString>>(a, b, outA, outB);
    case 12:
        return Step<std::vector<std::string>>(a, b, outA, outB);
    case 13:
        return Step<Record>(a, b, outA, outB);
    default: {
        quint32 ca = 0, cb = 0;
        const bool okA = a.ReadCount(ca), okB = b.ReadCount(cb);
        Check(okA == okB && ca == cb && ca <= kMaxStreamCount);
        return okA && outA.Write(ca) && outB.Write(cb);
    }
    }
}

void Differential(const QByteArray& input)
{
    QByteArray copy = input;
    QBuffer device(&copy);
    device.open(QIODevice::ReadOnly);
    MemStream mem(input);
    Stream file(&device, 1 + (input.isEmpty() ? 0 : quint8(input[0]) % 13));

    MemStream outMem;
    QByteArray written;
    QBuffer outDevice(&written);
    outDevice.open(QIODevice::WriteOnly);
    {
        Stream outFile(&outDevice, 7);
        for (;;) {
            quint8 opA, opB;
            const bool okA = mem.ReadUInt8(opA), okB = file.ReadUInt8(opB);
            Check(okA == okB);
            if (!okA)
                break;
            Check(opA == opB);
            if (!ReadOne(opA % kOps, mem, file, outMem, outFile))
                break;
            Check(mem.ReadPosition() <= mem.Size());
        }
        Check(outFile.Flush());
    }
    Check(written == outMem.GetBuffer());
}

void Mutations(const QByteArray& input)
{
    MemStream a(input);
    MemStream b;
    // Bytes handed out or copied must never change behind their holder's back.
    QByteArray handedOut, handedOutBytes;
    QByteArray copiedBytes;
    bool bUntouched = false;
    for (qsizetype i = 0; i < input.size(); ++i) {
        const quint8 op = quint8(input[i]);
        MemStream& s = (op & 0x80) ? b : a;
        if (&s == &b)
            bUntouched = false;
        quint32 v;
        switch (op & 0x7) {
        case 0:
            b = a;
            copiedBytes = QByteArray(a.GetBuffer().constData(), a.Size());
            bUntouched = true;
            break;
        case 1:
            s.WriteUInt32(op);
            break;
        case 2:
            s.WriteBuffer(input.constData(), std::min<qsizetype>(i, 64));
            break;
        case 4:
            s.SeekRead((op >> 3) & 0xF);
            break;
        case 5:
            s.Clear();
            break;
        case 6:
            handedOut = s.GetBuffer();
            handedOutBytes = QByteArray(handedOut.constData(), handedOut.size());
            Check(handedOut.size() == s.Size());
            break;
        default:
            s.ReadUInt32(v);
            break;
        }
        Check(a.ReadPosition() <= a.Size() && b.ReadPosition() <= b.Size());
        Check(a.Remaining() == a.Size() - a.ReadPosition());
    }
    Check(handedOut == handedOutBytes);
    if (bUntouched)
        Check(b.GetBuffer() == copiedBytes);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // What the streams read and write again, twice over; a list is never
    // made larger than the bytes that fill it.
    fuzz::HeapBudget budget(64 * size + (1 << 20), "fuzz_streams");
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    Differential(input);
    Mutations(input);
    return 0;
}
