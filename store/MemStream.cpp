#include "MemStream.h"

#include <algorithm>

MemStream::MemStream()
{
    SetWindows(0, 0, false);
}

MemStream::MemStream(const QByteArray& bytes)
    : m_buf(bytes)
{
    SetWindows(0, m_buf.size(), false);
}

MemStream::MemStream(const MemStream& other)
    : InputStream()
    , OutputStream()
    , m_buf(other.m_buf)
{
    // The original keeps any spare room it was filling; the copy writes into a
    // buffer of its own from its first write on.
    SetWindows(other.ReadPosition(), other.Size(), false);
}

MemStream::MemStream(MemStream&& other) noexcept
{
    const qint64 readPos = other.ReadPosition();
    const qint64 size = other.Size();
    const bool writable = other.m_outEnd != other.m_outCur;
    m_buf.swap(other.m_buf);
    SetWindows(readPos, size, writable);
    other.SetWindows(0, 0, false);
}

MemStream& MemStream::operator=(const MemStream& other)
{
    if (this != &other) {
        m_buf = other.m_buf;
        SetWindows(other.ReadPosition(), other.Size(), false);
    }
    return *this;
}

MemStream& MemStream::operator=(MemStream&& other) noexcept
{
    if (this != &other) {
        const qint64 readPos = other.ReadPosition();
        const qint64 size = other.Size();
        const bool writable = other.m_outEnd != other.m_outCur;
        m_buf.swap(other.m_buf);
        other.m_buf = QByteArray();
        SetWindows(readPos, size, writable);
        other.SetWindows(0, 0, false);
    }
    return *this;
}

MemStream::~MemStream() = default;

void MemStream::SetWindows(qint64 readPos, qint64 size, bool writable)
{
    char* base = Base();
    m_inCur = base + readPos;
    m_inEnd = base + size;
    m_outCur = base + size;
    m_outEnd = writable ? base + m_buf.size() : m_outCur;
}

void MemStream::MakeRoom(qint64 need)
{
    const qint64 readPos = ReadPosition();
    const qint64 size = Size();
    if (m_buf.isDetached() && m_buf.size() >= need) {
        SetWindows(readPos, size, true);
        return;
    }
    qint64 capacity = std::max<qint64>(need, 256);
    if (need > m_buf.size())
        capacity = std::max<qint64>(capacity, 2 * qint64(m_buf.size()));
    if (m_buf.isDetached()) {
        // Our own bytes: let realloc move (or simply extend) the block.
        m_buf.resize(capacity);
    } else {
        // Shared: take a copy of the written bytes only.
        QByteArray fresh(capacity, Qt::Uninitialized);
        if (size)
            std::memcpy(fresh.data(), m_buf.constData(), size_t(size));
        m_buf = std::move(fresh);
    }
    SetWindows(readPos, size, true);
}

bool MemStream::ReadBytes(char* dst, qint64 n)
{
    // Catch up with what was written since the window was last set.
    m_inEnd = m_outCur;
    if (n < 0 || m_inEnd - m_inCur < n)
        return false;
    if (n) {
        std::memcpy(dst, m_inCur, size_t(n));
        m_inCur += n;
    }
    return true;
}

bool MemStream::WriteBytes(const char* src, qint64 n)
{
    if (n <= 0)
        return n == 0;
    if (m_outEnd - m_outCur < n)
        MakeRoom(Size() + n);
    std::memcpy(m_outCur, src, size_t(n));
    m_outCur += n;
    return true;
}

QByteArray MemStream::GetBuffer() const
{
    if (Size() == m_buf.size())
        return m_buf;
    return QByteArray(m_buf.constData(), Size());
}

bool MemStream::SeekRead(qint64 pos)
{
    if (pos < 0 || pos > Size())
        return false;
    m_inCur = Base() + pos;
    m_inEnd = m_outCur;
    return true;
}

void MemStream::Clear()
{
    // Spare room is kept for reuse unless the bytes are shared with a copy.
    if (!m_buf.isDetached())
        m_buf = QByteArray();
    SetWindows(0, 0, m_buf.isDetached());
}
