#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Builds the body of one server message: little-endian integers, one-byte
// booleans and strings as a 32-bit byte count followed by UTF-8 bytes. The
// stand-in server writes its messages with it, and the client's tests write
// the server's side of the wire by hand with it (not with the client's own
// streams, so that a layout fault of the client shows).
class WireWriter {
public:
    WireWriter& u8(quint8 value);
    WireWriter& u16(quint16 value);
    WireWriter& u32(quint32 value);
    WireWriter& u64(quint64 value);
    WireWriter& boolean(bool value) { return u8(value ? 1 : 0); }
    // An IPv4 address as a number whose most significant byte is the first octet.
    WireWriter& ip(quint32 address) { return u32(address); }
    WireWriter& str(const QString& text);
    // Bytes as they are (any bytes, valid UTF-8 or not), after their count.
    WireWriter& str(const QByteArray& utf8);
    WireWriter& str(const char* utf8) { return str(QByteArray(utf8)); }
    // A user's statistics: average speed, uploads, files, folders.
    WireWriter& stats(quint32 speed, quint64 uploads, quint32 files, quint32 folders)
    {
        return u32(speed).u64(uploads).u32(files).u32(folders);
    }
    WireWriter& bytes(const QByteArray& raw);
    // A count followed by that many strings.
    WireWriter& strList(const QStringList& list);

    const QByteArray& data() const { return m_data; }

private:
    QByteArray m_data;
};
