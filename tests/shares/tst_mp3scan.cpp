// MP3 attributes: real files made with lame (constant and variable bit rates,
// MPEG-2, mono, ID3v2 tags, cut files, a non-MP3 named .mp3) give the
// attributes the encoder was told; hand-made frame headers pin the voting
// rules; a stop request ends the read of a huge file at once.
#include "helper_shares.h"
#include "shares/FileScanner.h"
#include "shares/Mp3Scanner.h"
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

namespace {
// A Layer III header: version bits (3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5), no CRC,
// bit-rate index, sample-rate index, channel mode.
QByteArray Header(
    int versionBits, int bitrateIndex, int frequency, int channel, int layerBits = 1, bool noCrc = true)
{
    QByteArray h(4, 0);
    h[0] = char(0xFF);
    h[1] = char(0xE0 | (versionBits << 3) | (layerBits << 1) | (noCrc ? 1 : 0));
    h[2] = char((bitrateIndex << 4) | (frequency << 2));
    h[3] = char(channel << 6);
    return h;
}

// Headers separated by zero bytes.
QByteArray Frames(const QList<QByteArray>& headers)
{
    QByteArray bytes;
    for (const QByteArray& h : headers)
        bytes += h + QByteArray(8, 0);
    return bytes;
}

QList<QByteArray> Repeat(const QByteArray& h, int n)
{
    QList<QByteArray> list;
    for (int k = 0; k < n; ++k)
        list << h;
    return list;
}
}

class TestMp3Scan : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString wav44, wav22;

    bool Scan(const QString& path, Mp3Attributes& out) { return ScanMp3File(path, out, {}); }
    bool ScanBytes(const QByteArray& bytes, Mp3Attributes& out)
    {
        const QString path = dir.filePath(QStringLiteral("synthetic.mp3"));
        QFile::remove(path);
        WriteFile(path, bytes);
        return Scan(path, out);
    }
    QString Encode(const QString& name, const QString& wav, const QStringList& options)
    {
        const QString out = dir.filePath(name);
        if (!RunLame(options + QStringList { wav, out }))
            return QString();
        return out;
    }

private slots:
    void initTestCase()
    {
        wav44 = dir.filePath(QStringLiteral("tone44.wav"));
        wav22 = dir.filePath(QStringLiteral("tone22.wav"));
        WriteSineWav(wav44, 44100, 2, 6.0);
        // A pure tone: with the faint second tone this encoding holds runs of 0xFF
        // bytes whose false syncs outvote its MPEG-2 frames.
        WriteSineWav(wav22, 22050, 2, 6.0, false);
    }

    void encodedFiles_data()
    {
        QTest::addColumn<QString>("wav");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("version");
        QTest::addColumn<QString>("channel");
        QTest::addColumn<int>("frequency");
        QTest::addColumn<bool>("vbr");
        QTest::addColumn<int>("bitrate");
        QTest::newRow("cbr128 joint")
            << "44" << QStringList { "-b", "128" } << 1 << "joint stereo" << 0 << false << 128;
        QTest::newRow("cbr192 stereo")
            << "44" << QStringList { "-b", "192", "-m", "s" } << 1 << "stereo" << 0 << false << 192;
        QTest::newRow("cbr320") << "44" << QStringList { "-b", "320", "-m", "s" } << 1 << "stereo" << 0
                                << false << 320;
        QTest::newRow("mono 48k") << "44" << QStringList { "-b", "64", "-m", "m", "--resample", "48" } << 1
                                  << "mono" << 1 << false << 64;
        QTest::newRow("mpeg2 22050") << "22" << QStringList { "-b", "64", "-m", "s" } << 2 << "stereo" << 0
                                     << false << 64;
        QTest::newRow("id3v2 tagged")
            << "44" << QStringList { "-b", "128", "--add-id3v2", "--tt", "Title", "--ta", "Artist" } << 1
            << "joint stereo" << 0 << false << 128;
    }
    void encodedFiles()
    {
        QFETCH(QString, wav);
        QFETCH(QStringList, options);
        const QString name
            = QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'_') + QStringLiteral(".mp3");
        const QString path = Encode(name, wav == QLatin1String("44") ? wav44 : wav22, options);
        QVERIFY(!path.isEmpty());
        Mp3Attributes a;
        QVERIFY(Scan(path, a));
        QTEST(a.version, "version");
        QTEST(a.channelMode, "channel");
        QTEST(a.frequencyIndex, "frequency");
        QTEST(a.vbr, "vbr");
        QTEST(a.bitrate, "bitrate");
    }

    void variableBitrate()
    {
        const QString path = Encode(QStringLiteral("vbr.mp3"), wav44, { "-V", "2" });
        QVERIFY(!path.isEmpty());
        Mp3Attributes a;
        QVERIFY(Scan(path, a));
        QCOMPARE(a.version, 1);
        QVERIFY(a.vbr);
        QVERIFY2(a.bitrate >= 32 && a.bitrate <= 320, qPrintable(QString::number(a.bitrate)));
    }

    void cutAndForeignFiles()
    {
        const QString path = Encode(QStringLiteral("whole.mp3"), wav44, { "-b", "160", "-m", "s" });
        QVERIFY(!path.isEmpty());
        QFile whole(path);
        QVERIFY(whole.open(QIODevice::ReadOnly));
        const QByteArray bytes = whole.readAll();
        Mp3Attributes a;
        // Half a file still reads as the same constant 160.
        QVERIFY(ScanBytes(bytes.left(bytes.size() / 2), a));
        QCOMPARE(a.bitrate, 160);
        QVERIFY(!a.vbr);
        // Text named .mp3 has no frame sync at all; an empty file is refused.
        QVERIFY(!ScanBytes(QByteArray("just some text, not audio\n").repeated(500), a));
        QVERIFY(!ScanBytes(QByteArray(), a));
        QVERIFY(!Scan(dir.filePath(QStringLiteral("missing.mp3")), a));
        // A link put in a listed file's place is not read through.
        QVERIFY(QFile::link(path, dir.filePath(QStringLiteral("link.mp3"))));
        QVERIFY(!Scan(dir.filePath(QStringLiteral("link.mp3")), a));
    }

    void votingRules()
    {
        Mp3Attributes a;
        // 98 percent at one rate is variable: the integer average is reported.
        QVERIFY(ScanBytes(Frames(Repeat(Header(3, 9, 0, 1), 98) + Repeat(Header(3, 10, 0, 1), 2)), a));
        QVERIFY(a.vbr);
        QCOMPARE(a.bitrate, (98 * 128 + 2 * 160) / 100);
        // 99 percent is constant at that rate.
        QVERIFY(ScanBytes(Frames(Repeat(Header(3, 9, 0, 1), 99) + Repeat(Header(3, 10, 0, 1), 1)), a));
        QVERIFY(!a.vbr);
        QCOMPARE(a.bitrate, 128);
        // A single header is enough.
        QVERIFY(ScanBytes(Frames({ Header(2, 14, 2, 3) }), a));
        QCOMPARE(a.version, 2);
        QCOMPARE(a.bitrate, 160);
        QCOMPARE(a.channelMode, QStringLiteral("mono"));
        QCOMPARE(a.frequencyIndex, 2);
        // Ties: stereo against joint stereo gives joint stereo; mono wins its
        // ties; sample-rate indices 0 and 1 give 1.
        QVERIFY(ScanBytes(Frames(Repeat(Header(3, 9, 0, 0), 3) + Repeat(Header(3, 9, 1, 1), 3)), a));
        QCOMPARE(a.channelMode, QStringLiteral("joint stereo"));
        QCOMPARE(a.frequencyIndex, 1);
        QVERIFY(ScanBytes(Frames(Repeat(Header(3, 9, 0, 0), 3) + Repeat(Header(3, 9, 0, 3), 3)), a));
        QCOMPARE(a.channelMode, QStringLiteral("mono"));
        // MPEG-2.5 tying MPEG-2, Layer II only, and free-format only give nothing.
        QVERIFY(!ScanBytes(Frames(Repeat(Header(2, 9, 0, 1), 3) + Repeat(Header(0, 9, 0, 1), 3)), a));
        QVERIFY(!ScanBytes(Frames(Repeat(Header(3, 9, 0, 1, 2), 20)), a));
        QVERIFY(!ScanBytes(Frames(Repeat(Header(3, 0, 0, 1), 20)), a));
    }

    void headerPlacement()
    {
        Mp3Attributes a;
        // The byte after the header must lie inside the file.
        QVERIFY(!ScanBytes(Header(3, 9, 0, 1), a));
        QVERIFY(ScanBytes(Header(3, 9, 0, 1) + QByteArray(1, 0), a));
        // A header across the 64 KiB block boundary is not examined.
        QByteArray straddling(65534, 0);
        straddling += Header(3, 9, 0, 1) + QByteArray(16, 0);
        QVERIFY(!ScanBytes(straddling, a));
        QByteArray inside(65530, 0);
        inside += Header(3, 9, 0, 1) + QByteArray(16, 0);
        QVERIFY(ScanBytes(inside, a));
    }

    void stopEndsHugeRead()
    {
        // A sparse 8 GiB file reads as zeros for many seconds; a stop request
        // must end the scan within a fraction of a second.
        const QString path = dir.filePath(QStringLiteral("huge.mp3"));
        {
            QFile huge(path);
            QVERIFY(huge.open(QIODevice::WriteOnly));
            QVERIFY(huge.resize(qint64(8) << 30));
        }
        QThread thread;
        auto* scanner = new FileScanner;
        scanner->moveToThread(&thread);
        thread.start();
        QMetaObject::invokeMethod(scanner, "OnMP3ScanRequired", Qt::QueuedConnection, Q_ARG(QString, path));
        QTest::qWait(300);
        QVERIFY(thread.isRunning());
        QElapsedTimer clock;
        clock.start();
        scanner->Quit();
        thread.exit(0);
        QVERIFY(thread.wait(5000));
        QVERIFY2(clock.elapsed() < 500, qPrintable(QString::number(clock.elapsed())));
        delete scanner;
        QFile::remove(path);
    }
};

QTEST_GUILESS_MAIN(TestMp3Scan)
#include "tst_mp3scan.moc"
