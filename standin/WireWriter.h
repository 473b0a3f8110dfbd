#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Builds the body of one server message: little-endian integers, one-byte
// booleans and strings as a 32-bit byte count followed by UTF-8 bytes.
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
    WireWriter& bytes(const QByteArray& raw);
    // A count followed by that many strings.
    WireWriter& strList(const QStringList& list);

    const QByteArray& data() const { return m_data; }

private:
    QByteArray m_data;
};
