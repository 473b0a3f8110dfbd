#include "ChunkedSet.h"
#include "Item.h"
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

static_assert(sizeof(ChunkedSet) == 32, "a set costs four words besides its chunks");

namespace {
template <class T> T* Reallocate(T* p, size_t count)
{
    void* q = std::realloc(p, count * sizeof(T));
    if (!q)
        throw std::bad_alloc();
    return static_cast<T*>(q);
}

// Room for a chunk of this many members with some slack: a quarter, so that
// appending stays amortized constant time and a full chunk wastes little.
quint32 Roomy(quint32 size)
{
    return quint32(std::min<size_t>(ChunkedSet::kMaxChunk, size + std::max<quint32>(size / 4, 4)));
}

Item** LowerBound(Item** first, Item** last, quint64 serial)
{
    return std::lower_bound(first, last, serial, [](const Item* a, quint64 s) { return a->serial < s; });
}
}

ChunkedSet::ChunkedSet(const ChunkedSet& other)
{
    auto copy = [](const Chunk& from) {
        Chunk to = from;
        to.cap = from.size;
        to.items = from.size ? Reallocate<Item*>(nullptr, from.size) : nullptr;
        if (from.size)
            std::memcpy(to.items, from.items, from.size * sizeof(Item*));
        return to;
    };
    if (other.m_spilled) {
        Chunk* list = Reallocate<Chunk>(nullptr, other.m_list.count);
        quint32 done = 0;
        try {
            for (; done < other.m_list.count; ++done)
                list[done] = copy(other.m_list.chunks[done]);
        } catch (...) {
            for (quint32 k = 0; k < done; ++k)
                std::free(list[k].items);
            std::free(list);
            throw;
        }
        m_list = { list, other.m_list.count, other.m_list.count, 0 };
        m_spilled = true;
    } else {
        m_one = copy(other.m_one);
    }
    m_size = other.m_size;
}

ChunkedSet::ChunkedSet(ChunkedSet&& other) noexcept { TakeFrom(other); }

void ChunkedSet::TakeFrom(ChunkedSet& other) noexcept
{
    std::memcpy(static_cast<void*>(&m_one), &other.m_one, sizeof(Chunk));
    m_size = other.m_size;
    m_spilled = other.m_spilled;
    other.m_one = Chunk();
    other.m_size = 0;
    other.m_spilled = false;
}

ChunkedSet& ChunkedSet::operator=(const ChunkedSet& other)
{
    if (this != &other)
        *this = ChunkedSet(other);
    return *this;
}

ChunkedSet& ChunkedSet::operator=(ChunkedSet&& other) noexcept
{
    if (this != &other) {
        FreeAll();
        TakeFrom(other);
    }
    return *this;
}

ChunkedSet::~ChunkedSet()
{
    FreeAll();
}

void ChunkedSet::FreeAll()
{
    if (m_spilled) {
        for (quint32 k = 0; k < m_list.count; ++k)
            std::free(m_list.chunks[k].items);
        std::free(m_list.chunks);
    } else {
        std::free(m_one.items);
    }
}

void ChunkedSet::Clear()
{
    FreeAll();
    m_one = Chunk();
    m_size = 0;
    m_spilled = false;
}

void ChunkedSet::Reserve(size_t members)
{
    if (m_spilled)
        return;
    quint32 want = quint32(std::min(members, kMaxChunk));
    if (want > m_one.cap) {
        m_one.items = Reallocate(m_one.items, want);
        m_one.cap = want;
    }
}

void ChunkedSet::GrowChunk(Chunk& chunk, quint32 atLeast)
{
    quint32 cap = std::max(atLeast, Roomy(chunk.size));
    chunk.items = Reallocate(chunk.items, cap);
    chunk.cap = cap;
}

void ChunkedSet::ShrinkChunk(Chunk& chunk)
{
    quint32 cap = Roomy(chunk.size);
    if (cap < chunk.cap) {
        chunk.items = Reallocate(chunk.items, cap);
        chunk.cap = cap;
    }
}

ChunkedSet::Chunk& ChunkedSet::InsertChunk(size_t at)
{
    if (!m_spilled) {
        Chunk only = m_one;
        Chunk* list = Reallocate<Chunk>(nullptr, 4);
        list[0] = only;
        m_list = { list, 1, 4, 0 };
        m_spilled = true;
    }
    if (m_list.count == m_list.cap) {
        quint32 cap = m_list.cap + m_list.cap / 2;
        m_list.chunks = Reallocate(m_list.chunks, cap);
        m_list.cap = cap;
    }
    Chunk* list = m_list.chunks;
    std::memmove(static_cast<void*>(list + at + 1), list + at, (m_list.count - at) * sizeof(Chunk));
    list[at] = Chunk();
    ++m_list.count;
    return list[at];
}

void ChunkedSet::RemoveChunk(size_t at)
{
    if (!m_spilled) {
        std::free(m_one.items);
        m_one = Chunk();
        return;
    }
    Chunk* list = m_list.chunks;
    std::free(list[at].items);
    std::memmove(static_cast<void*>(list + at), list + at + 1, (m_list.count - at - 1) * sizeof(Chunk));
    if (--m_list.count == 1) {
        Chunk only = list[0];
        std::free(list);
        m_one = only;
        m_spilled = false;
    } else if (m_list.count < m_list.cap / 4 && m_list.cap > 8) {
        m_list.cap = m_list.count * 2;
        m_list.chunks = Reallocate(m_list.chunks, m_list.cap);
    }
}

size_t ChunkedSet::FindChunk(quint64 serial) const
{
    // The first chunk whose newest member is not older than the serial.
    const Chunk* chunks = Chunks();
    size_t lo = 0, hi = ChunkCount();
    while (lo < hi) {
        size_t mid = (lo + hi) / 2;
        if (chunks[mid].last < serial)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

ChunkedSet::Position ChunkedSet::After(quint64 serial) const
{
    const size_t c = FindChunk(serial + 1);
    if (c >= ChunkCount())
        return { c, 0 };
    const Chunk& chunk = Chunks()[c];
    return { c, size_t(LowerBound(chunk.items, chunk.items + chunk.size, serial + 1) - chunk.items) };
}

bool ChunkedSet::Contains(const Item* item) const
{
    const quint64 serial = item->serial;
    size_t c = FindChunk(serial);
    if (c >= ChunkCount())
        return false;
    const Chunk& chunk = Chunks()[c];
    Item** it = LowerBound(chunk.items, chunk.items + chunk.size, serial);
    return it != chunk.items + chunk.size && *it == item;
}

ChunkedSet::Chunk& ChunkedSet::LastChunkWithRoom()
{
    size_t n = ChunkCount();
    Chunk* chunk = n == 0 ? &m_one : &Chunks()[n - 1];
    if (chunk->size == kMaxChunk)
        chunk = &InsertChunk(n);
    if (chunk->size == chunk->cap)
        GrowChunk(*chunk, chunk->size + 1);
    return *chunk;
}

void ChunkedSet::AppendNewest(Item* item)
{
    Chunk& chunk = LastChunkWithRoom();
    chunk.items[chunk.size++] = item;
    chunk.last = item->serial;
    ++m_size;
}

bool ChunkedSet::Insert(Item* item)
{
    const quint64 serial = item->serial;
    size_t count = ChunkCount();
    if (count == 0 || Chunks()[count - 1].last < serial) {
        AppendNewest(item);
        return true;
    }
    size_t c = FindChunk(serial);
    Chunk* chunk = &Chunks()[c];
    size_t pos = LowerBound(chunk->items, chunk->items + chunk->size, serial) - chunk->items;
    if (chunk->items[pos] == item)
        return false;
    // Here pos < size: the chunk's newest member is newer than the item.
    if (chunk->size == kMaxChunk) {
        // A full chunk splits in halves first; the item goes into one of them.
        const quint32 half = quint32(kMaxChunk / 2);
        Chunk& right = InsertChunk(c + 1);
        Chunk& left = Chunks()[c];
        GrowChunk(right, left.size - half);
        std::memcpy(right.items, left.items + half, (left.size - half) * sizeof(Item*));
        right.size = left.size - half;
        right.last = left.last;
        left.size = half;
        left.last = left.items[half - 1]->serial;
        ShrinkChunk(left);
        if (pos < half) {
            chunk = &left;
        } else {
            chunk = &right;
            pos -= half;
        }
    }
    if (chunk->size == chunk->cap)
        GrowChunk(*chunk, chunk->size + 1);
    std::memmove(chunk->items + pos + 1, chunk->items + pos, (chunk->size - pos) * sizeof(Item*));
    chunk->items[pos] = item;
    ++chunk->size;
    ++m_size;
    return true;
}

bool ChunkedSet::Erase(Item* item)
{
    const quint64 serial = item->serial;
    size_t c = FindChunk(serial);
    if (c >= ChunkCount())
        return false;
    Chunk& chunk = Chunks()[c];
    size_t pos = LowerBound(chunk.items, chunk.items + chunk.size, serial) - chunk.items;
    if (pos == chunk.size || chunk.items[pos] != item)
        return false;
    std::memmove(chunk.items + pos, chunk.items + pos + 1, (chunk.size - pos - 1) * sizeof(Item*));
    --chunk.size;
    --m_size;
    if (chunk.size == 0) {
        RemoveChunk(c);
        return true;
    }
    if (pos == chunk.size)
        chunk.last = chunk.items[pos - 1]->serial;
    if (chunk.size < chunk.cap / 2)
        ShrinkChunk(chunk);
    return true;
}

size_t ChunkedSet::MemoryBytes() const
{
    if (!m_spilled)
        return m_one.cap * sizeof(Item*);
    size_t bytes = m_list.cap * sizeof(Chunk);
    for (quint32 k = 0; k < m_list.count; ++k)
        bytes += m_list.chunks[k].cap * sizeof(Item*);
    return bytes;
}

void ChunkedSet::PrefetchTail(int level) const
{
    if (!m_spilled) {
        if (level == 0 && m_one.items)
            __builtin_prefetch(m_one.items + (m_one.size ? m_one.size - 1 : 0));
        return;
    }
    const Chunk* last = m_list.chunks + m_list.count - 1;
    if (level == 0)
        __builtin_prefetch(last);
    else
        __builtin_prefetch(last->items + (last->size ? last->size - 1 : 0));
}
