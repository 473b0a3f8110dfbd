#include "UnsentBytes.h"

void UnsentBytes::AddOwn(qint64 bytes, const void* writer)
{
    m_own += bytes;
    if (bytes > 0)
        Check(writer);
}

void UnsentBytes::Hold(const void* key, qint64 size, const void* writer)
{
    Shared& buffer = m_buffers[key];
    if (buffer.holders++ == 0) {
        buffer.size = size;
        m_shared += size;
        Check(writer);
    }
}

void UnsentBytes::Release(const void* key)
{
    auto it = m_buffers.find(key);
    if (it == m_buffers.end())
        return;
    if (--it->second.holders <= 0) {
        m_shared -= it->second.size;
        m_buffers.erase(it);
    }
}

int UnsentBytes::Holders(const void* key) const
{
    auto it = m_buffers.find(key);
    return it == m_buffers.end() ? 0 : it->second.holders;
}

void UnsentBytes::Check(const void* writer)
{
    // The closing that follows releases bytes, never adds any.
    if (m_checking || Total() <= m_bound || !m_over)
        return;
    m_checking = true;
    m_over(writer);
    m_checking = false;
}
