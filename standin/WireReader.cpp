#include "WireReader.h"

#include <QStringDecoder>
#include <QtEndian>

bool WireReader::take(qsizetype size)
{
    if (!m_ok || size > m_data.size() - m_pos) {
        m_ok = false;
        return false;
    }
    return true;
}

quint8 WireReader::u8()
{
    if (!take(1))
        return 0;
    return quint8(m_data.at(m_pos++));
}

quint32 WireReader::u32()
{
    if (!take(4))
        return 0;
    const quint32 value = qFromLittleEndian<quint32>(m_data.constData() + m_pos);
    m_pos += 4;
    return value;
}

quint64 WireReader::u64()
{
    if (!take(8))
        return 0;
    const quint64 value = qFromLittleEndian<quint64>(m_data.constData() + m_pos);
    m_pos += 8;
    return value;
}

quint32 WireReader::count()
{
    const quint32 n = u32();
    if (n > MaxCount) {
        m_ok = false;
        return 0;
    }
    return n;
}

QString WireReader::str()
{
    const quint32 size = count();
    if (!take(size))
        return {};
    // Not QString::fromUtf8, which drops a leading U+FEFF: "\uFEFFbob" is
    // another user than "bob".
    QStringDecoder decoder(QStringConverter::Utf8,
        QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    const QString text = decoder.decode(QByteArrayView(m_data.constData() + m_pos, size));
    m_pos += size;
    return text;
}
