#include "ChunkedSet.h"
#include "Item.h"
#include <algorithm>

namespace {
bool Before(const Item* a, const Item* b) { return a->serial < b->serial; }
}

size_t ChunkedSet::FindChunk(const Item* item) const
{
    // The first chunk whose last member is not older than the item.
    size_t lo = 0, hi = m_chunks.size();
    while (lo < hi) {
        size_t mid = (lo + hi) / 2;
        if (m_chunks[mid].back()->serial < item->serial)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

bool ChunkedSet::Contains(const Item* item) const
{
    size_t c = FindChunk(item);
    if (c >= m_chunks.size())
        return false;
    const auto& chunk = m_chunks[c];
    auto it = std::lower_bound(chunk.begin(), chunk.end(), item, Before);
    return it != chunk.end() && *it == item;
}

void ChunkedSet::AppendNewest(Item* item)
{
    if (m_chunks.empty() || m_chunks.back().size() >= kMaxChunk) {
        m_chunks.emplace_back();
        m_chunks.back().reserve(kMaxChunk);
    }
    m_chunks.back().push_back(item);
    ++m_size;
}

bool ChunkedSet::Insert(Item* item)
{
    if (m_chunks.empty() || m_chunks.back().back()->serial < item->serial) {
        if (m_chunks.empty() || m_chunks.back().size() >= kMaxChunk)
            m_chunks.emplace_back();
        m_chunks.back().push_back(item);
        ++m_size;
        return true;
    }
    size_t c = FindChunk(item);
    auto& chunk = m_chunks[c];
    auto it = std::lower_bound(chunk.begin(), chunk.end(), item, Before);
    if (it != chunk.end() && *it == item)
        return false;
    chunk.insert(it, item);
    ++m_size;
    if (chunk.size() > kMaxChunk) {
        std::vector<Item*> upper(chunk.begin() + chunk.size() / 2, chunk.end());
        chunk.resize(chunk.size() / 2);
        m_chunks.insert(m_chunks.begin() + c + 1, std::move(upper));
    }
    return true;
}

bool ChunkedSet::Erase(Item* item)
{
    size_t c = FindChunk(item);
    if (c >= m_chunks.size())
        return false;
    auto& chunk = m_chunks[c];
    auto it = std::lower_bound(chunk.begin(), chunk.end(), item, Before);
    if (it == chunk.end() || *it != item)
        return false;
    chunk.erase(it);
    --m_size;
    if (chunk.empty()) {
        m_chunks.erase(m_chunks.begin() + c);
    } else if (chunk.size() < kMaxChunk / 8 && chunk.capacity() > kMaxChunk / 2) {
        chunk.shrink_to_fit();
    }
    return true;
}

size_t ChunkedSet::MemoryBytes() const
{
    size_t bytes = m_chunks.capacity() * sizeof(std::vector<Item*>);
    for (const auto& c : m_chunks)
        bytes += c.capacity() * sizeof(Item*);
    return bytes;
}
