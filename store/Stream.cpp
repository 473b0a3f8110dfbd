#include "Stream.h"

#include <algorithm>

Stream::Stream(QIODevice* device, qint64 blockSize)
    : m_device(device)
    , m_blockSize(std::max<qint64>(blockSize, 1))
{
}

Stream::~Stream()
{
    if (m_device)
        Flush();
}

void Stream::SetDevice(QIODevice* device)
{
    if (m_device)
        Flush();
    m_inCur = m_inEnd = nullptr;
    m_outCur = m_outEnd = nullptr;
    m_mode = Mode::Idle;
    m_failed = false;
    m_device = device;
}

void Stream::StartWriting()
{
    DropReadAhead();
    if (!m_block)
        m_block = std::make_unique<char[]>(size_t(m_blockSize));
    m_outCur = Block();
    m_outEnd = Block() + m_blockSize;
    m_mode = Mode::Writing;
}

void Stream::DropReadAhead()
{
    const qint64 unread = m_inEnd - m_inCur;
    // Give the unread bytes back so that a write lands where the reader
    // stands; writing elsewhere would corrupt the file.
    if (unread > 0 && m_device && (m_device->isSequential() || !m_device->seek(m_device->pos() - unread)))
        m_failed = true;
    m_inCur = m_inEnd = nullptr;
}

bool Stream::StartReading()
{
    if (m_mode == Mode::Writing && !Flush())
        return false;
    m_outCur = m_outEnd = nullptr;
    m_inCur = m_inEnd = nullptr;
    m_mode = Mode::Reading;
    return true;
}

qint64 Stream::DeviceRead(char* dst, qint64 n)
{
    qint64 got = 0;
    while (got < n) {
        const qint64 r = m_device->read(dst + got, n - got);
        if (r <= 0)
            break;
        got += r;
    }
    return got;
}

bool Stream::ReadBytes(char* dst, qint64 n)
{
    if (n < 0)
        return false;
    if (m_mode != Mode::Reading && !StartReading())
        return false;
    const qint64 avail = m_inEnd - m_inCur;
    if (avail >= n) {
        if (n)
            std::memcpy(dst, m_inCur, size_t(n));
        m_inCur += n;
        return true;
    }
    if (avail)
        std::memcpy(dst, m_inCur, size_t(avail));
    dst += avail;
    n -= avail;
    m_inCur = m_inEnd = nullptr;
    if (!m_device)
        return false;
    if (n >= m_blockSize)
        return DeviceRead(dst, n) == n;

    if (!m_block)
        m_block = std::make_unique<char[]>(size_t(m_blockSize));
    // Fill the whole block when the device has it, but stop once the value is
    // complete if the device comes back short.
    qint64 got = 0;
    while (got < n) {
        const qint64 r = m_device->read(Block() + got, m_blockSize - got);
        if (r <= 0)
            break;
        got += r;
    }
    if (got < n)
        return false;
    std::memcpy(dst, Block(), size_t(n));
    m_inCur = Block() + n;
    m_inEnd = Block() + got;
    return true;
}

bool Stream::DeviceWrite(const char* src, qint64 n)
{
    while (n > 0 && !m_failed) {
        const qint64 r = m_device ? m_device->write(src, n) : -1;
        if (r <= 0) {
            // Close the window too, so that the inline writers fail from now on.
            m_failed = true;
            m_outCur = m_outEnd = Block();
        } else {
            src += r;
            n -= r;
        }
    }
    return !m_failed;
}

bool Stream::WriteBytes(const char* src, qint64 n)
{
    if (m_failed || n < 0)
        return false;
    if (m_mode != Mode::Writing) {
        StartWriting();
        if (m_failed)
            return false;
    }
    if (m_outEnd - m_outCur >= n) {
        if (n)
            std::memcpy(m_outCur, src, size_t(n));
        m_outCur += n;
        return true;
    }
    if (!Flush())
        return false;
    if (n >= m_blockSize)
        return DeviceWrite(src, n);
    std::memcpy(m_outCur, src, size_t(n));
    m_outCur += n;
    return true;
}

bool Stream::Flush()
{
    if (m_mode == Mode::Writing && m_outCur != Block()) {
        const qint64 pending = m_outCur - Block();
        m_outCur = Block();
        DeviceWrite(Block(), pending);
    }
    return !m_failed;
}
