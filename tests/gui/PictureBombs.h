// Pictures that claim far more pixels than their bytes hold, for tests and
// benchmarks of what decodes a picture from outside.
#pragma once
#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QtEndian>
#include <zlib.h>

// A PNG of width x height black RGB pixels, compressed as far as deflate
// goes (about a thousand to one): the same compressed run of rows repeated,
// each run starting afresh after a full flush.
inline QByteArray BlackPng(quint32 width, quint32 height)
{
    auto chunk = [](const char* type, const QByteArray& data) {
        QByteArray out(4, Qt::Uninitialized);
        qToBigEndian<quint32>(quint32(data.size()), out.data());
        const QByteArray typed = QByteArray(type) + data;
        QByteArray crc(4, Qt::Uninitialized);
        qToBigEndian<quint32>(quint32(crc32(0, reinterpret_cast<const Bytef*>(typed.constData()), uInt(typed.size()))),
            crc.data());
        return out + typed + crc;
    };
    const quint32 rowsAtOnce = height % 100 == 0 ? 100 : 1;
    const qint64 runBytes = qint64(width * 3 + 1) * rowsAtOnce;
    const QByteArray zeros(runBytes, '\0');
    z_stream z {};
    deflateInit(&z, 9);
    QByteArray out(int(deflateBound(&z, uLong(runBytes))) + 64, Qt::Uninitialized);
    auto compress = [&](const QByteArray& in, int flush) {
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.constData()));
        z.avail_in = uInt(in.size());
        z.next_out = reinterpret_cast<Bytef*>(out.data());
        z.avail_out = uInt(out.size());
        deflate(&z, flush);
        return out.left(out.size() - qsizetype(z.avail_out));
    };
    const QByteArray first = compress(zeros, Z_FULL_FLUSH);
    const QByteArray run = first.mid(2); // after the stream's two-byte header
    QByteArray last = compress(QByteArray(), Z_FINISH);
    deflateEnd(&z);
    // The checksum of every byte of the image: for zeros, 1 and the count.
    const quint64 total = quint64(runBytes) * (height / rowsAtOnce);
    qToBigEndian<quint32>(quint32((total % 65521) << 16 | 1), last.data() + last.size() - 4);
    QByteArray idat = first;
    for (quint32 i = 1; i < height / rowsAtOnce; ++i)
        idat += run;
    idat += last;

    QByteArray header(13, '\0');
    qToBigEndian<quint32>(width, header.data());
    qToBigEndian<quint32>(height, header.data() + 4);
    header[8] = 8; // bits per sample
    header[9] = 2; // RGB
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header) + chunk("IDAT", idat) + chunk("IEND", {});
}

// A tiny JPEG whose frame header claims width x height pixels.
inline QByteArray ClaimingJpeg(quint16 width, quint16 height)
{
    QImage image(8, 8, QImage::Format_Grayscale8);
    image.fill(0);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 0);
    const qsizetype frame = bytes.indexOf("\xFF\xC0");
    qToBigEndian<quint16>(height, bytes.data() + frame + 5);
    qToBigEndian<quint16>(width, bytes.data() + frame + 7);
    return bytes;
}
