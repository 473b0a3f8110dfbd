#include "WireWriter.h"

#include <QtEndian>

WireWriter& WireWriter::u8(quint8 value)
{
    m_data.append(char(value));
    return *this;
}

WireWriter& WireWriter::u16(quint16 value)
{
    char raw[2];
    qToLittleEndian(value, raw);
    m_data.append(raw, 2);
    return *this;
}

WireWriter& WireWriter::u32(quint32 value)
{
    char raw[4];
    qToLittleEndian(value, raw);
    m_data.append(raw, 4);
    return *this;
}

WireWriter& WireWriter::u64(quint64 value)
{
    char raw[8];
    qToLittleEndian(value, raw);
    m_data.append(raw, 8);
    return *this;
}

WireWriter& WireWriter::str(const QString& text)
{
    return str(text.toUtf8());
}

WireWriter& WireWriter::str(const QByteArray& utf8)
{
    u32(quint32(utf8.size()));
    m_data.append(utf8);
    return *this;
}

WireWriter& WireWriter::bytes(const QByteArray& raw)
{
    m_data.append(raw);
    return *this;
}

WireWriter& WireWriter::strList(const QStringList& list)
{
    u32(quint32(list.size()));
    for (const QString& text : list)
        str(text);
    return *this;
}
