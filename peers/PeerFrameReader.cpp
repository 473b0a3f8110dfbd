#include "PeerFrameReader.h"
#include <QtEndian>
#include <algorithm>
#include <cstring>

namespace {

// The most room made for a body before its bytes come.
constexpr quint32 kBodyReserved = 64 * 1024;

} // namespace

void PeerFrameReader::Begin()
{
    m_stage = m_obfuscated ? Stage::Key : Stage::Length;
    m_have = 0;
}

qint64 PeerFrameReader::Wanted() const
{
    if (m_ready)
        return 1;
    if (m_stage == Stage::Body)
        return std::max<qint64>(1, qint64(m_length) - m_have);
    return 4 - m_have;
}

PeerFrameReader::Result PeerFrameReader::Feed(const char* data, qint64 n)
{
    if (m_ready || n > Wanted() || n < 0)
        return TooLong;
    if (m_stage == Stage::Body) {
        const qsizetype at = m_body.size();
        m_body.append(data, qsizetype(n));
        if (m_obfuscated)
            m_cipher.Apply(m_body.data() + at, n);
        m_have += n;
    } else {
        std::memcpy(m_head + m_have, data, size_t(n));
        m_have += n;
        if (m_have < 4)
            return NeedMore;
        if (m_stage == Stage::Key) {
            m_cipher.Reset(qFromLittleEndian<quint32>(m_head));
            m_stage = Stage::Length;
            m_have = 0;
            return NeedMore;
        }
        if (m_obfuscated)
            m_cipher.Apply(m_head, 4);
        m_length = qFromLittleEndian<quint32>(m_head);
        if (m_length > m_maxLength)
            return TooLong;
        // The body grows as its bytes arrive: a length alone costs nothing.
        m_body = QByteArray();
        m_body.reserve(qsizetype(std::min<quint32>(m_length, kBodyReserved)));
        m_stage = Stage::Body;
        m_have = 0;
    }
    if (m_have < qint64(m_length))
        return NeedMore;
    m_ready = true;
    return FrameReady;
}

QByteArray PeerFrameReader::TakeFrame()
{
    QByteArray frame = std::move(m_body);
    m_body = QByteArray();
    m_ready = false;
    Begin();
    return frame;
}
