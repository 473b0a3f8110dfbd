#include "Obfuscation.h"
#include <QRandomGenerator>
#include <QtEndian>
#include <cstring>

void ObfuscationCipher::Apply(char* data, qint64 n)
{
    for (qint64 i = 0; i < n; ++i) {
        if (m_offset == 0)
            m_key = RotateLeft(m_key);
        data[i] = char(quint8(data[i]) ^ quint8(m_key >> (8 * m_offset)));
        m_offset = (m_offset + 1) & 3;
    }
}

QByteArray ObfuscateFrame(const QByteArray& frame, quint32 key)
{
    QByteArray out(4 + frame.size(), Qt::Uninitialized);
    qToLittleEndian<quint32>(key, out.data());
    std::memcpy(out.data() + 4, frame.constData(), size_t(frame.size()));
    ObfuscationCipher cipher;
    cipher.Reset(key);
    cipher.Apply(out.data() + 4, frame.size());
    return out;
}

quint32 NewObfuscationKey()
{
    return QRandomGenerator::global()->generate();
}
