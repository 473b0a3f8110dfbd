#pragma once
// zlib (RFC 1950) payloads of peer messages: compression as the senders of
// share lists, folder replies and search results do it, and inflation with a
// cap on the output, for untrusted input.
#include <QByteArray>

enum class InflateResult {
    Ok,
    Malformed, // not a zlib stream, damaged, or cut short
    TooLarge, // would inflate to more than the cap
};

// Inflates one complete zlib stream from data into out. On anything but Ok,
// out is left empty: a payload is used whole or not at all. Bytes after the
// end of the stream are ignored.
InflateResult InflateCapped(const char* data, qsizetype size, qsizetype maxOutput, QByteArray& out);
inline InflateResult InflateCapped(const QByteArray& data, qsizetype maxOutput, QByteArray& out)
{
    return InflateCapped(data.constData(), data.size(), maxOutput, out);
}

// Inflates no more than maxOutput bytes from the start of a zlib stream into
// out (fewer when the stream ends first); false when the stream is malformed
// before that. Costs no more than those bytes and the input read for them.
bool InflatePrefix(const char* data, qsizetype size, qsizetype maxOutput, QByteArray& out);

// compress2 at level 9.
QByteArray Deflate(const char* data, qsizetype size);
inline QByteArray Deflate(const QByteArray& data)
{
    return Deflate(data.constData(), data.size());
}
