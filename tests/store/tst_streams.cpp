// The byte streams: wire encoding, limits on untrusted counts, MemStream's
// buffer sharing and the buffered file stream.
#include <QBuffer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <limits>

#include "store/MemStream.h"
#include "store/QFileStreamer.h"
#include "store/Stream.h"
#include "store/ToQString.h"

namespace {

QByteArray Hex(const char* hex)
{
    return QByteArray::fromHex(hex);
}

MemStream FromHex(const char* hex)
{
    return MemStream(Hex(hex));
}

// Writes value, checks its bytes, reads it back.
template <class T> bool RoundTrip(T value, const char* hex)
{
    MemStream m;
    T back {};
    if (!m.Write(value) || m.GetBuffer() != Hex(hex) || !m.Read(back) || back != value || m.Remaining()) {
        qWarning() << "round trip of" << value << "gave" << m.GetBuffer().toHex();
        return false;
    }
    return true;
}

struct Sample : Persistent {
    quint32 id = 0;
    std::string name;
    QList<qint64> values;

    bool Read(InputStream& s) override { return s.Read(id) && s.Read(name) && s.Read(values); }
    bool Write(OutputStream& s) const override { return s.Write(id) && s.Write(name) && s.Write(values); }
};

} // namespace

class TestStreams : public QObject {
    Q_OBJECT

private slots:
    void integersAreLittleEndianAndRoundTrip()
    {
        QVERIFY(RoundTrip(quint8(0), "00") && RoundTrip(quint8(255), "ff"));
        QVERIFY(RoundTrip(true, "01") && RoundTrip(false, "00"));
        QVERIFY(RoundTrip(quint16(0x0102), "0201") && RoundTrip(quint16(65535), "ffff"));
        QVERIFY(RoundTrip(quint32(0x01020304), "04030201") && RoundTrip(quint32(0xFFFFFFFF), "ffffffff"));
        QVERIFY(RoundTrip(qint32(-2), "feffffff") && RoundTrip(qint32(0), "00000000"));
        QVERIFY(RoundTrip(std::numeric_limits<qint32>::min(), "00000080"));
        QVERIFY(RoundTrip(std::numeric_limits<qint32>::max(), "ffffff7f"));
        QVERIFY(RoundTrip(quint64(0x0102030405060708ull), "0807060504030201"));
        QVERIFY(RoundTrip(std::numeric_limits<quint64>::max(), "ffffffffffffffff"));
        QVERIFY(RoundTrip(std::numeric_limits<qint64>::min(), "0000000000000080"));
        QVERIFY(RoundTrip(qint64(-1), "ffffffffffffffff"));

        // Any nonzero byte reads as true.
        MemStream in = FromHex("0700");
        bool t = false, f = true;
        QVERIFY(in.ReadBool(t) && in.ReadBool(f));
        QVERIFY(t && !f);
    }

    void stringsAreByteCountThenBytes()
    {
        MemStream m;
        m.Write(std::string("abc"));
        m.Write(QString::fromUtf8("\xc3\xa9t\xc3\xa9")); // 3 characters, 5 UTF-8 bytes
        m.Write("");
        m.Write("xy");
        m.Write(QByteArray("\x00\x01", 2));
        QCOMPARE(m.GetBuffer(), Hex("03000000616263 05000000c3a974c3a9 00000000 020000007879 020000000001"));

        std::string s;
        QString q;
        std::string empty = "old";
        QByteArray bytes;
        QString xy;
        QVERIFY(m.Read(s) && m.Read(q) && m.Read(empty) && m.Read(xy) && m.Read(bytes));
        QCOMPARE(s, std::string("abc"));
        QCOMPARE(q, QString::fromUtf8("\xc3\xa9t\xc3\xa9"));
        QVERIFY(empty.empty());
        QCOMPARE(xy, QStringLiteral("xy"));
        QCOMPARE(bytes, QByteArray("\x00\x01", 2));

        // A leading U+FEFF is a character of the text, not a byte-order mark
        // to drop: "\uFEFFX1" is another name than "X1", read or shown.
        MemStream marked = FromHex("05000000efbbbf5831");
        QVERIFY(marked.Read(q));
        QCOMPARE(q, QChar(0xFEFF) + QStringLiteral("X1"));
        QCOMPARE(ToQString(std::string("\xef\xbb\xbfX1")), q);
    }

    void textIsCutAtItsFirstNul()
    {
        // Display text is cut at U+0000 when written; the count is what was written.
        MemStream m;
        QString withNul = QStringLiteral("ab");
        withNul += QChar(0);
        withNul += QStringLiteral("cd");
        QVERIFY(m.Write(withNul));
        QCOMPARE(m.GetBuffer(), Hex("020000006162"));

        // Readers of text keep the bytes before the first NUL but consume the
        // whole count; binary reads keep every byte.
        const char* wire = "0300000061006205000000c3a900c3a9"
                           "030000006100620100000041";
        MemStream in = FromHex(wire);
        std::string s;
        QString q;
        QByteArray raw;
        QVERIFY(in.Read(s) && in.Read(q));
        QCOMPARE(s, std::string("a"));
        QCOMPARE(q, QString::fromUtf8("\xc3\xa9"));
        QVERIFY(in.Read(raw));
        QCOMPARE(raw, QByteArray("a\0b", 3));
        QVERIFY(in.Read(s));
        QCOMPARE(s, std::string("A"));
    }

    void textIsEncodedAsToUtf8Does()
    {
        // Text goes into the buffer directly when it has room and through a
        // copy when it has not; both must give QString::toUtf8's bytes, also
        // for broken surrogate pairs.
        QString broken;
        broken += QChar(0xD800);
        broken += QStringLiteral("a");
        broken += QChar(0xDC00);
        broken += QString::fromUtf8("\xf0\x9f\x98\x80\xe2\x82\xac");
        broken += QChar(0xD801);
        for (const QString& text : { broken, QString::fromUtf8("gr\xc3\xbc\xc3\x9f \xe2\x82\xac") }) {
            MemStream roomy;
            roomy.WriteBuffer(QByteArray(1024, 'x').constData(), 1024);
            roomy.Clear(); // keeps its room
            MemStream tight;
            QVERIFY(roomy.Write(text) && tight.Write(text));
            const QByteArray utf8 = text.toUtf8();
            QCOMPARE(roomy.GetBuffer().mid(4), utf8);
            QCOMPARE(tight.GetBuffer(), roomy.GetBuffer());
        }
    }

    void countsAboveTheLimitAreRefused()
    {
        // A count or length of 131072 is accepted, 131073 refused.
        quint32 count;
        MemStream ok = FromHex("00000200");
        QVERIFY(ok.ReadCount(count));
        QCOMPARE(count, kMaxStreamCount);
        MemStream tooMany = FromHex("01000200");
        count = 7;
        QVERIFY(!tooMany.ReadCount(count));
        QCOMPARE(count, 7u);

        MemStream longest;
        longest.WriteString(std::string(kMaxStreamCount, 'x'));
        longest.WriteByteArray(QByteArray(int(kMaxStreamCount) + 1, 'y'));
        std::string s;
        QVERIFY(longest.ReadString(s));
        QCOMPARE(s.size(), size_t(kMaxStreamCount));
        QByteArray b = "kept";
        const qint64 before = longest.ReadPosition();
        QVERIFY(!longest.ReadByteArray(b));
        QCOMPARE(b, QByteArray("kept"));
        // A caller with a documented larger payload may raise the bound.
        QVERIFY(longest.SeekRead(before));
        QVERIFY(longest.ReadByteArray(b, kMaxStreamCount + 1));
        QCOMPARE(b.size(), qsizetype(kMaxStreamCount) + 1);

        for (const char* hostile : { "01000200", "ffffffff" }) {
            QString q = "kept";
            std::vector<std::string> list;
            QList<quint32> qlist;
            QVERIFY(!FromHex(hostile).ReadString(q));
            QCOMPARE(q, QStringLiteral("kept"));
            QVERIFY(!FromHex(hostile).Read(list));
            QVERIFY(!FromHex(hostile).Read(qlist));
        }

        // An accepted count whose items never come fails without reserving
        // room for all of them up front.
        std::vector<std::string> list;
        QVERIFY(!FromHex("00000200"
                         "0100000041")
                     .Read(list));
        QCOMPARE(list.size(), size_t(1));
        QVERIFY(list.capacity() < kMaxStreamCount);
    }

    void runningOutOfInputFails()
    {
        // A fixed-size value that is cut consumes nothing and changes nothing.
        MemStream m = FromHex("010203");
        quint32 v = 9;
        QVERIFY(!m.ReadUInt32(v));
        QCOMPARE(v, 9u);
        QCOMPARE(m.ReadPosition(), 0);
        quint16 w;
        QVERIFY(m.ReadUInt16(w));
        QCOMPARE(w, 0x0201);

        // Bytes written later can still be read.
        m.WriteUInt8(0x04);
        QVERIFY(m.ReadUInt16(w));
        QCOMPARE(w, 0x0403);
        quint8 b;
        QVERIFY(!m.ReadUInt8(b));

        // A string whose bytes run out leaves its target alone; its count is consumed.
        MemStream cut = FromHex("05000000616263");
        std::string s = "old";
        QVERIFY(!cut.ReadString(s));
        QCOMPARE(s, std::string("old"));
        QCOMPARE(cut.ReadPosition(), 4);
    }

    void listsAndRecords()
    {
        MemStream m;
        const std::vector<quint32> numbers { 1, 0xFFFFFFFF, 0 };
        const QList<QString> names { QStringLiteral("a"), QString(), QString::fromUtf8("\xc3\xbc") };
        Sample sample;
        sample.id = 42;
        sample.name = "folder\\file.mp3";
        sample.values = { -1, 0, std::numeric_limits<qint64>::max() };
        const std::vector<Sample> none;
        QVERIFY(m.Write(numbers) && m.Write(names) && m.Write(sample) && m.Write(none));
        QCOMPARE(m.GetBuffer().left(8), Hex("0300000001000000"));

        std::vector<quint32> numbersBack { 7 };
        QList<QString> namesBack;
        Sample sampleBack;
        std::vector<Sample> noneBack(2);
        QVERIFY(m.Read(numbersBack) && m.Read(namesBack) && m.Read(sampleBack) && m.Read(noneBack));
        QCOMPARE(numbersBack, numbers);
        QCOMPARE(namesBack, names);
        QCOMPARE(sampleBack.id, 42u);
        QCOMPARE(sampleBack.name, sample.name);
        QCOMPARE(sampleBack.values, sample.values);
        QVERIFY(noneBack.empty());
        QCOMPARE(m.Remaining(), 0);

        // A record cut short fails.
        MemStream full;
        full.Write(sample);
        QByteArray bytes = full.GetBuffer();
        bytes.chop(1);
        MemStream cut(bytes);
        QVERIFY(!cut.Read(sampleBack));
    }

    void copiesShareBytesButNotWrites()
    {
        MemStream original;
        original.WriteUInt32(1);
        MemStream copy = original;
        QCOMPARE(copy.GetBuffer(), original.GetBuffer());

        // Writes to either side stay on that side.
        original.WriteUInt32(2);
        copy.WriteUInt32(3);
        QCOMPARE(original.GetBuffer(), Hex("0100000002000000"));
        QCOMPARE(copy.GetBuffer(), Hex("0100000003000000"));

        // A handed-out buffer and a copy keep their bytes when the original is
        // cleared or written again.
        const QByteArray handedOut = original.GetBuffer();
        MemStream second = original;
        original.Clear();
        original.WriteUInt32(5);
        QCOMPARE(handedOut, Hex("0100000002000000"));
        QCOMPARE(second.GetBuffer(), Hex("0100000002000000"));
        QCOMPARE(original.GetBuffer(), Hex("05000000"));

        // Read positions are each stream's own; a copy starts where the original stood.
        quint32 v;
        QVERIFY(second.ReadUInt32(v));
        MemStream third = second;
        QVERIFY(third.ReadUInt32(v));
        QCOMPARE(v, 2u);
        QCOMPARE(second.ReadPosition(), 4);

        // Writing to a stream over a received frame leaves the frame alone.
        QByteArray frame = Hex("0a000000");
        MemStream parsed(frame);
        parsed.WriteUInt8(1);
        QCOMPARE(frame, Hex("0a000000"));

        // Moving takes the bytes and positions along.
        MemStream moved = std::move(second);
        QCOMPARE(moved.ReadPosition(), 4);
        QCOMPARE(moved.GetBuffer(), Hex("0100000002000000"));
        moved.WriteUInt8(9);
        QCOMPARE(moved.Size(), 9);
    }

    void framesAreSeekable()
    {
        MemStream m;
        m.WriteUInt32(12); // length
        m.WriteUInt32(13);
        m.Write("room");
        QCOMPARE(m.GetBuffer(), Hex("0c000000 0d000000 04000000726f6f6d"));

        QVERIFY(m.SeekRead(8));
        QCOMPARE(m.Remaining(), 8);
        QString room;
        QVERIFY(m.Read(room));
        QCOMPARE(room, QStringLiteral("room"));
        QVERIFY(!m.SeekRead(m.Size() + 1));
        QVERIFY(!m.SeekRead(-1));
        QCOMPARE(m.ReadPosition(), m.Size());

        // Growing far past the first allocation keeps every byte.
        MemStream big;
        for (quint32 i = 0; i < 100000; ++i)
            big.WriteUInt32(i);
        bool same = true;
        for (quint32 i = 0, v; i < 100000; ++i)
            same = same && big.ReadUInt32(v) && v == i;
        QVERIFY(same);
    }

    void fileStreamRoundTripsAcrossBlockEdges_data()
    {
        QTest::addColumn<qint64>("blockSize");
        QTest::newRow("7 bytes") << qint64(7);
        QTest::newRow("64 bytes") << qint64(64);
        QTest::newRow("default") << Stream::kDefaultBlockSize;
    }

    void fileStreamRoundTripsAcrossBlockEdges()
    {
        QFETCH(qint64, blockSize);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("data"));
        const QByteArray blob(1000, 'z'); // longer than the small blocks
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            Stream out(&file, blockSize);
            for (quint32 i = 0; i < 5000; ++i) {
                QVERIFY(out.WriteUInt8(quint8(i)));
                QVERIFY(out.WriteUInt32(i * 2654435761u));
                QVERIFY(out.WriteString(std::to_string(i)));
            }
            QVERIFY(out.WriteByteArray(blob) && out.WriteInt64(-5));
            QVERIFY(out.Flush());
        }
        QCOMPARE(QFileInfo(path).size(), qint64(5000 * 9 + 18890 + 4 + 1000 + 8));

        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        Stream in(&file, blockSize);
        bool same = true;
        for (quint32 i = 0; i < 5000 && same; ++i) {
            quint8 b;
            quint32 v;
            std::string s;
            same = in.Read(b) && b == quint8(i) && in.Read(v) && v == i * 2654435761u && in.Read(s)
                && s == std::to_string(i);
        }
        QVERIFY(same);
        QByteArray blobBack;
        qint64 last;
        QVERIFY(in.Read(blobBack) && in.Read(last));
        QCOMPARE(blobBack, blob);
        QCOMPARE(last, qint64(-5));
        quint8 extra;
        QVERIFY(!in.Read(extra));
    }

    void fileStreamerReadsWhatItWrote()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("f"));
        QFileStreamer f;
        QVERIFY(!f.Open(dir.filePath(QStringLiteral("missing/f")), QIODevice::WriteOnly));
        QVERIFY(f.Open(path, QIODevice::WriteOnly));
        Sample sample;
        sample.name = "x";
        sample.values = { 1, 2 };
        QVERIFY(f.Write(sample) && f.Write(QStringLiteral("end")));
        QVERIFY(f.Close());
        QVERIFY(!f.IsOpen());

        QVERIFY(f.Open(path, QIODevice::ReadOnly));
        Sample back;
        QString end;
        QVERIFY(f.Read(back) && f.Read(end));
        QCOMPARE(back.values, sample.values);
        QCOMPARE(end, QStringLiteral("end"));

        // A file that ends inside a value fails the read.
        QVERIFY(QFile::resize(path, QFileInfo(path).size() - 1));
        QVERIFY(f.Open(path, QIODevice::ReadOnly));
        QVERIFY(f.Read(back));
        QVERIFY(!f.Read(end));
    }

    void deviceFailuresAreReportedAndStick()
    {
        QByteArray bytes;
        QBuffer readOnly(&bytes);
        QVERIFY(readOnly.open(QIODevice::ReadOnly));
        Stream out(&readOnly, 16);
        QVERIFY(out.WriteUInt32(1)); // still in the block
        QVERIFY(!out.Flush());
        QVERIFY(!out.WriteUInt32(2));
        QVERIFY(!out.Flush());

        // A write too big for the block fails at once.
        Stream direct(&readOnly, 16);
        QVERIFY(!direct.WriteByteArray(QByteArray(100, 'a')));
    }

    void readingThenWritingLandsWhereTheReaderStands()
    {
        QByteArray bytes = Hex("0100000002000000");
        QBuffer buffer(&bytes);
        QVERIFY(buffer.open(QIODevice::ReadWrite));
        {
            Stream s(&buffer);
            quint32 v;
            QVERIFY(s.ReadUInt32(v)); // reads ahead the whole buffer
            QCOMPARE(v, 1u);
            QVERIFY(s.WriteUInt32(0x33));
            QVERIFY(s.Flush());
            QVERIFY(!s.ReadUInt32(v));
        }
        QCOMPARE(bytes, Hex("0100000033000000"));
    }
};

QTEST_GUILESS_MAIN(TestStreams)
#include "tst_streams.moc"
