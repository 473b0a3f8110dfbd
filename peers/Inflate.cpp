#include "Inflate.h"
#include <algorithm>
#include <zlib.h>

namespace {

// The first room made for the output; it doubles from there.
constexpr qsizetype kFirstOutputBytes = 64 * 1024;

} // namespace

InflateResult InflateCapped(const char* data, qsizetype size, qsizetype maxOutput, QByteArray& out)
{
    out.clear();
    if (size <= 0 || maxOutput < 0)
        return InflateResult::Malformed;
    z_stream z {};
    if (inflateInit(&z) != Z_OK)
        return InflateResult::Malformed;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    // The input of one message is far below 4 GiB (frames are capped).
    z.avail_in = uInt(size);

    QByteArray result;
    qsizetype produced = 0;
    int rc = Z_OK;
    while (rc != Z_STREAM_END) {
        // Grow in steps, never past the cap plus one byte: that one byte
        // tells a stream that is exactly at the cap from one that is over.
        const qsizetype room
            = std::min<qsizetype>(std::max<qsizetype>(result.size() * 2, kFirstOutputBytes), maxOutput + 1);
        if (room <= produced) {
            inflateEnd(&z);
            return InflateResult::TooLarge;
        }
        result.resize(room);
        z.next_out = reinterpret_cast<Bytef*>(result.data() + produced);
        z.avail_out = uInt(room - produced);
        rc = inflate(&z, Z_NO_FLUSH);
        produced = room - qsizetype(z.avail_out);
        if (produced > maxOutput) {
            inflateEnd(&z);
            return InflateResult::TooLarge;
        }
        if (rc == Z_STREAM_END)
            break;
        if (rc == Z_BUF_ERROR && z.avail_out != 0) {
            // No progress with room to spare: the input ended early.
            inflateEnd(&z);
            return InflateResult::Malformed;
        }
        if (rc != Z_OK && rc != Z_BUF_ERROR) {
            inflateEnd(&z);
            return InflateResult::Malformed;
        }
        if (z.avail_in == 0 && z.avail_out != 0) {
            inflateEnd(&z);
            return InflateResult::Malformed;
        }
    }
    inflateEnd(&z);
    result.resize(produced);
    out = std::move(result);
    return InflateResult::Ok;
}

bool InflatePrefix(const char* data, qsizetype size, qsizetype maxOutput, QByteArray& out)
{
    out.clear();
    z_stream z {};
    if (size <= 0 || maxOutput <= 0 || inflateInit(&z) != Z_OK)
        return false;
    QByteArray result(maxOutput, Qt::Uninitialized);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    z.avail_in = uInt(size);
    z.next_out = reinterpret_cast<Bytef*>(result.data());
    z.avail_out = uInt(maxOutput);
    const int rc = inflate(&z, Z_SYNC_FLUSH);
    const qsizetype produced = maxOutput - qsizetype(z.avail_out);
    inflateEnd(&z);
    if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR)
        return false;
    result.resize(produced);
    out = std::move(result);
    return true;
}

QByteArray Deflate(const char* data, qsizetype size)
{
    uLongf length = compressBound(uLong(size));
    QByteArray out(qsizetype(length), Qt::Uninitialized);
    if (compress2(reinterpret_cast<Bytef*>(out.data()), &length, reinterpret_cast<const Bytef*>(data),
            uLong(size), 9)
        != Z_OK)
        return QByteArray();
    out.resize(qsizetype(length));
    return out;
}
