// The obfuscated port's XOR scheme, the frame reader and the capped inflate.
#include "peers/Inflate.h"
#include "peers/Obfuscation.h"
#include "peers/PeerFrameReader.h"
#include <QtTest>

namespace {

QByteArray Hex(const char* hex)
{
    return QByteArray::fromHex(hex);
}

QByteArray Framed(const QByteArray& body)
{
    QByteArray b(4, Qt::Uninitialized);
    qToLittleEndian<quint32>(quint32(body.size()), b.data());
    return b + body;
}

// Feeds bytes in pieces of at most `piece`, never more than Wanted().
QList<QByteArray> ReadAll(
    PeerFrameReader& reader, const QByteArray& bytes, qint64 piece, bool* tooLong = nullptr)
{
    QList<QByteArray> frames;
    qint64 at = 0;
    while (at < bytes.size()) {
        const qint64 n = std::min({ piece, reader.Wanted(), qint64(bytes.size()) - at });
        const auto r = reader.Feed(bytes.constData() + at, n);
        at += n;
        if (r == PeerFrameReader::TooLong) {
            if (tooLong)
                *tooLong = true;
            return frames;
        }
        if (r == PeerFrameReader::FrameReady)
            frames.append(reader.TakeFrame());
    }
    return frames;
}

} // namespace

class Framing : public QObject {
    Q_OBJECT
private slots:
    void obfuscationKnownVectors()
    {
        // Key 0x01020304: blocks use 0x02040608, 0x04080c10, 0x08101820, each
        // applied little-endian; the 10-byte frame ends in a 2-byte block.
        const QByteArray zeros(10, '\0');
        QCOMPARE(ObfuscateFrame(zeros, 0x01020304).toHex(),
            Hex("04030201"
                "08060402"
                "100c0804"
                "2018")
                .toHex());
        // The top bit comes round to the bottom.
        QCOMPARE(ObfuscateFrame(QByteArray(8, '\0'), 0x80000001).toHex(),
            Hex("01000080"
                "03000000"
                "06000000")
                .toHex());
        // XOR with the data: 0xff bytes flip the key bytes.
        QCOMPARE(ObfuscateFrame(Hex("ffffffff41"), 0x01020304).toHex(),
            Hex("04030201"
                "f7f9fbfd"
                "51")
                .toHex());
    }

    void obfuscatedFramesReadBackInAnyPieces()
    {
        QByteArray wire;
        QList<QByteArray> bodies { QByteArray("hello"), QByteArray(), QByteArray(1000, 'x'),
            QByteArray("abc") };
        quint32 key = 0xdeadbeef;
        for (const QByteArray& body : bodies)
            wire += ObfuscateFrame(Framed(body), key += 0x1234567);
        for (qint64 piece : { 1, 3, 4, 7, 4096 }) {
            PeerFrameReader reader(true, 1 << 20);
            QCOMPARE(ReadAll(reader, wire, piece), bodies);
            QVERIFY(!reader.InFrame());
        }
        // A plain reader of the same bytes sees nonsense, never the bodies.
        PeerFrameReader plain(false, 1 << 20);
        bool tooLong = false;
        QVERIFY(ReadAll(plain, wire, 4096, &tooLong) != bodies);
    }

    void plainFramesAndLimits()
    {
        const QByteArray wire = Framed("one") + Framed(QByteArray()) + Framed("three");
        for (qint64 piece : { 1, 2, 5, 100 }) {
            PeerFrameReader reader(false, 16);
            QCOMPARE(ReadAll(reader, wire, piece), (QList<QByteArray> { "one", "", "three" }));
        }
        // The reader never asks past the frame: what follows stays unread.
        PeerFrameReader reader(false, 16);
        QCOMPARE(reader.Wanted(), 4);
        QCOMPARE(reader.Feed(Framed("ab").constData(), 4), PeerFrameReader::NeedMore);
        QCOMPARE(reader.Wanted(), 2);
        QCOMPARE(reader.Feed("abXYZ", 5), PeerFrameReader::TooLong); // more than wanted is refused
        QCOMPARE(reader.Feed("ab", 2), PeerFrameReader::FrameReady);
        QCOMPARE(reader.TakeFrame(), QByteArray("ab"));
        QCOMPARE(reader.Wanted(), 4);

        // A length over the limit fails on the length itself; exactly at it is fine.
        PeerFrameReader limited(false, 16);
        QCOMPARE(limited.Feed(Framed(QByteArray(17, 'x')).constData(), 4), PeerFrameReader::TooLong);
        PeerFrameReader atLimit(false, 16);
        QCOMPARE(ReadAll(atLimit, Framed(QByteArray(16, 'y')), 64).value(0), QByteArray(16, 'y'));
        PeerFrameReader hostile(false, 1 << 20);
        QCOMPARE(hostile.Feed("\xff\xff\xff\xff", 4), PeerFrameReader::TooLong);
    }

    void inflateIsCapped()
    {
        const QByteArray body = QByteArray(100000, 'a') + QByteArray("tail");
        const QByteArray packed = Deflate(body);
        QByteArray out;
        QCOMPARE(InflateCapped(packed, body.size(), out), InflateResult::Ok);
        QCOMPARE(out, body);
        QCOMPARE(InflateCapped(packed, body.size() - 1, out), InflateResult::TooLarge);
        QVERIFY(out.isEmpty());
        // A bomb: 64 MiB of zeros in a few kilobytes stops at the cap.
        const QByteArray bomb = Deflate(QByteArray(64 * 1024 * 1024, '\0'));
        QVERIFY(bomb.size() < 100 * 1024);
        QCOMPARE(InflateCapped(bomb, 1024 * 1024, out), InflateResult::TooLarge);
        // Cut short, damaged, empty, or not zlib at all.
        QCOMPARE(InflateCapped(packed.left(packed.size() / 2), 1 << 20, out), InflateResult::Malformed);
        QByteArray damaged = packed;
        damaged[damaged.size() / 2] = char(damaged[damaged.size() / 2] ^ 0x55);
        QVERIFY(InflateCapped(damaged, 1 << 20, out) != InflateResult::Ok || out != body);
        QCOMPARE(InflateCapped(QByteArray(), 1 << 20, out), InflateResult::Malformed);
        QCOMPARE(InflateCapped(QByteArray("plain text, not zlib"), 1 << 20, out), InflateResult::Malformed);
        // An empty body is a valid stream.
        QCOMPARE(InflateCapped(Deflate(QByteArray()), 10, out), InflateResult::Ok);
        QVERIFY(out.isEmpty());
    }
};

QTEST_GUILESS_MAIN(Framing)
#include "tst_framing.moc"
